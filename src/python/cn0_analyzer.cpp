// CN0Analyzer: analyses with a chosen configuration, from files or from parsed objects; and
// analyze_cn0, the one-call analysis with fixed settings.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "archive/readers.hpp"
#include "cn0/analysis.hpp"
#include "cn0/settings.hpp"
#include "navigation/nav_bytes.hpp"
#include "navigation/nav_data.hpp"
#include "navigation/orbit_source.hpp"
#include "python/classes.hpp"
#include "rinex/file_io.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::py {

namespace {

struct Analyzer {
    AnalysisConfig config;
    std::optional<RinexObsData> obs_data;  // only from from_obs
    // Built by set_navigation from a private copy of the navigation data. The data behind it
    // is immutable, so runs share it instead of copying it again.
    std::optional<OrbitSource> orbit_source;
};

// ---------------------------------------------------------------------------------------------
// The file pipeline: plain C++ on private inputs, safe to run without the interpreter lock.

// Which step of the pipeline failed; the caller decides how each one reads in Python.
enum class FailedStep { read_obs, parse_obs, read_nav, parse_nav };

struct PipelineFailure {
    FailedStep step;
    std::string message;
};

struct FileJob {
    std::string obs_path;
    std::optional<std::string> nav_path;
    AnalysisSettings settings;
};

using PipelineOutcome = std::variant<AnalysisResult, PipelineFailure>;

// Read, parse and analyse, stopping at the first failing step.
PipelineOutcome run_file_job(FileJob& job) {
    RinexObsData obs;
    {
        auto bytes = read_whole_file(job.obs_path);
        if (auto* error = std::get_if<FileError>(&bytes)) return PipelineFailure{FailedStep::read_obs, error->message};
        // The name only stands in for a missing marker name; the result keeps no file name.
        auto parsed = read_observation_bytes(std::get<std::string>(bytes), file_name_of(job.obs_path));
        if (auto* error = std::get_if<ParseError>(&parsed)) {
            return PipelineFailure{FailedStep::parse_obs, std::move(error->message)};
        }
        obs = std::get<RinexObsData>(std::move(parsed));
    }
    if (job.nav_path) {
        auto bytes = read_whole_file(*job.nav_path);
        if (auto* error = std::get_if<FileError>(&bytes)) return PipelineFailure{FailedStep::read_nav, error->message};
        auto parsed = read_navigation_bytes(std::get<std::string>(bytes));
        if (auto* error = std::get_if<NavParseError>(&parsed)) {
            return PipelineFailure{FailedStep::parse_nav, std::move(error->message)};
        }
        job.settings.orbit_source =
            make_orbit_source(std::make_shared<const NavigationData>(std::get<NavigationData>(std::move(parsed))));
    }
    return run_analysis(obs, job.settings);
}

// Wraps the outcome: a new AnalysisResult, or the failure raised. `prefixed` gives read
// failures the "Cannot read ... file: " lead-in of the one-call function.
PyObject* finish(PipelineOutcome&& outcome, bool prefixed) {
    if (auto* failure = std::get_if<PipelineFailure>(&outcome)) {
        switch (failure->step) {
            case FailedStep::read_obs:
                return raise_os_error(prefixed ? "Cannot read obs file: " + failure->message : failure->message);
            case FailedStep::read_nav:
                return raise_os_error(prefixed ? "Cannot read nav file: " + failure->message : failure->message);
            case FailedStep::parse_obs:
            case FailedStep::parse_nav:
                return raise_value_error(failure->message);
        }
    }
    return new_analysis_result(std::get<AnalysisResult>(std::move(outcome)));
}

// Safe without the interpreter lock: the job owns copies of everything it reads, and no
// Python object is touched.
PipelineOutcome run_without_lock(FileJob& job) {
    return without_gil([&job] { return run_file_job(job); });
}

// ---------------------------------------------------------------------------------------------
// CN0Analyzer

PyTypeObject* analyzer_cache = nullptr;

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr auto sig = signature("CN0Analyzer", 1, "config");
    Slots<1> slots;
    if (!bind(sig, args, kwargs, slots)) return nullptr;
    SharedBorrow<AnalysisConfig> config;
    if (!borrow_analysis_config(slots[0], "config", config)) return nullptr;
    return new_instance(type, Analyzer{*config, std::nullopt, std::nullopt});
}

PyObject* from_obs(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig =
        signature("CN0Analyzer.from_obs", 1, "obs_data", "min_elevation", "time_bin_seconds", "systems");
    Slots<4> slots;
    if (!bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    SharedBorrow<RinexObsData> obs;
    double min_elevation = 5.0;
    std::uint64_t time_bin_seconds = 60;
    std::optional<std::vector<std::string>> systems;
    if (!borrow_rinex_obs_data(slots[0], "obs_data", obs) || !double_or_default(slots[1], "min_elevation", min_elevation) ||
        (slots[2] != nullptr && !to_u64(slots[2], "time_bin_seconds", time_bin_seconds)) ||
        !text_list_or_absent(slots[3], "systems", systems)) {
        return nullptr;
    }
    PyTypeObject* type = cn0_analyzer_type();
    if (type == nullptr) return nullptr;
    // The setting is 32 bits wide; larger values keep their low 32 bits, as the legacy API did.
    const auto time_bin = static_cast<std::uint32_t>(time_bin_seconds & 0xFFFF'FFFFu);
    return new_instance(type, Analyzer{legacy_analysis_config(min_elevation, time_bin, systems), *obs, std::nullopt});
}

PyObject* set_navigation(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = signature("CN0Analyzer.set_navigation", 1, "nav_data");
    Slots<1> slots;
    if (!bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    ExclusiveBorrow<Analyzer> analyzer;
    if (!analyzer.acquire(self)) return nullptr;
    SharedBorrow<NavigationData> nav;
    if (!borrow_navigation_data(slots[0], "nav_data", nav)) return nullptr;
    analyzer->orbit_source = make_orbit_source(std::make_shared<const NavigationData>(*nav));
    Py_RETURN_NONE;
}

PyObject* analyze(const Analyzer& analyzer) {
    if (!analyzer.obs_data) return raise_value_error("No observation data. Use analyze_file() or CN0Analyzer.from_obs()");
    AnalysisSettings settings = settings_from_config(analyzer.config);
    settings.orbit_source = analyzer.orbit_source;
    // The run only reads the record, and the shared borrow keeps it unchanged meanwhile.
    return new_analysis_result(run_analysis(*analyzer.obs_data, settings));
}

// analyze_file and analyze_with_nav: convert, borrow, copy what the run needs, then run it
// without the interpreter lock.
PyObject* analyze_file(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = signature("CN0Analyzer.analyze_file", 1, "obs_path");
    Slots<1> slots;
    std::string_view obs_path;
    if (!bind(sig, args, nargsf, kwnames, slots) || !to_text(slots[0], "obs_path", obs_path)) return nullptr;
    SharedBorrow<Analyzer> analyzer;
    if (!analyzer.acquire(self)) return nullptr;
    FileJob job{std::string(obs_path), analyzer->config.nav_file, settings_from_config(analyzer->config)};
    return finish(run_without_lock(job), false);
}

PyObject* analyze_with_nav(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = signature("CN0Analyzer.analyze_with_nav", 2, "obs_path", "nav_path");
    Slots<2> slots;
    std::string_view obs_path;
    std::string_view nav_path;
    if (!bind(sig, args, nargsf, kwnames, slots) || !to_text(slots[0], "obs_path", obs_path) ||
        !to_text(slots[1], "nav_path", nav_path)) {
        return nullptr;
    }
    SharedBorrow<Analyzer> analyzer;
    if (!analyzer.acquire(self)) return nullptr;
    FileJob job{std::string(obs_path), std::string(nav_path), settings_from_config(analyzer->config)};
    return finish(run_without_lock(job), false);
}

PyMethodDef analyzer_methods[] = {
    static_fastcall_method<&from_obs>(
        "from_obs", "from_obs(obs_data, min_elevation=5.0, time_bin_seconds=60, systems=None)\n--\n\n"
                    "Alternative constructor from observation data (legacy API)"),
    fastcall_method<&set_navigation>(
        "set_navigation",
        "set_navigation($self, nav_data)\n--\n\nSet navigation data for satellite position computation (old API)"),
    read_method<Analyzer, &analyze>(
        "analyze", "analyze($self)\n--\n\nRun CN0 analysis (old API - requires obs_data set via from_obs)"),
    fastcall_method<&analyze_file>(
        "analyze_file", "analyze_file($self, obs_path)\n--\n\nAnalyze RINEX observation file from path (new API)"),
    fastcall_method<&analyze_with_nav>(
        "analyze_with_nav",
        "analyze_with_nav($self, obs_path, nav_path)\n--\n\nAnalyze with separate navigation file (new API)"),
    {},
};

// ---------------------------------------------------------------------------------------------
// analyze_cn0: every argument converted before any file is read; the lock stays held.

PyObject* analyze_cn0(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = signature("analyze_cn0", 1, "obs_path", "nav_path", "min_elevation", "systems");
    Slots<4> slots;
    std::string_view obs_path;
    std::optional<std::string> nav_path;
    double min_elevation = 5.0;
    std::optional<std::vector<std::string>> systems;
    if (!bind(sig, args, nargsf, kwnames, slots) || !to_text(slots[0], "obs_path", obs_path) ||
        !text_or_absent(slots[1], "nav_path", nav_path) || !double_or_default(slots[2], "min_elevation", min_elevation) ||
        !text_list_or_absent(slots[3], "systems", systems)) {
        return nullptr;
    }
    FileJob job{std::string(obs_path), std::move(nav_path), quick_analysis_settings(min_elevation, systems)};
    return finish(run_file_job(job), true);
}

PyMethodDef analyze_cn0_method = fastcall_method<&analyze_cn0>(
    "analyze_cn0", "analyze_cn0(obs_path, nav_path=None, min_elevation=5.0, systems=None)\n--\n\nQuick analysis function");

}  // namespace

PyTypeObject* cn0_analyzer_type() {
    static const ClassSpec definition{
        .qualified_name = "builtins.CN0Analyzer",
        .doc = "CN0Analyzer(config)\n--\n\nPython wrapper for CN0Analyzer - supports both config-based and direct API",
        .methods = analyzer_methods,
        .construct = &new_entry<&construct>,
    };
    return cached_class<Analyzer>(analyzer_cache, definition);
}

PyMethodDef* analyze_cn0_def() {
    return &analyze_cn0_method;
}

}  // namespace vardoln::py
