// Navigation coverage, per-signal C/N0 statistics, the C/N0-elevation profile and completeness.
#include <cmath>
#include <limits>

#include "arrays/completeness.hpp"
#include "arrays/coverage.hpp"
#include "arrays/positions.hpp"
#include "arrays/signals.hpp"
#include "arrays/tables.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

PyObject* coverage_table(std::vector<arrays::CoverageRow>&& rows, const arrays::Recording& recording) {
    Ref table(PyDict_New());
    if (!table) return nullptr;
    std::vector<std::string> systems;
    std::vector<std::uint64_t> observed, covered;
    std::vector<double> percent;
    std::vector<std::uint8_t> predictable;
    Ref uncovered(PyList_New(0));
    if (!uncovered) return nullptr;
    for (arrays::CoverageRow& row : rows) {
        percent.push_back(arrays::coverage_percent(row));
        systems.push_back(std::move(row.system));
        observed.push_back(row.observed);
        covered.push_back(row.covered);
        predictable.push_back(row.predictable);
        Ref names(py::new_text_list(row.uncovered_satellites));
        if (!names || PyList_Append(uncovered.get(), names.get()) < 0) return nullptr;
    }
    if (!py::dict_set(table.get(), "system", py::new_text_list(systems)) ||
        !set_array(table.get(), "observed", std::move(observed)) ||
        !set_array(table.get(), "covered", std::move(covered)) ||
        !set_array(table.get(), "percent", std::move(percent)) ||
        !py::dict_set(table.get(), "uncovered_satellites", uncovered.release()) ||
        !set_flags(table.get(), "predictable", std::move(predictable)) ||
        !py::dict_set(table.get(), "facts", recording_facts(recording.obs())) ||
        !py::dict_set(table.get(), "navigation_spans", navigation_spans_object(*recording.nav()))) {
        return nullptr;
    }
    return table.release();
}

namespace {

PyObject* stats_table(std::vector<arrays::SignalStatsRow>&& rows, bool with_satellite) {
    Ref table(PyDict_New());
    if (!table) return nullptr;
    std::vector<std::string> systems, satellites, codes;
    std::vector<std::uint64_t> samples, below_mask, no_position;
    std::vector<double> mean, min, max, std, mean_elevation;
    for (arrays::SignalStatsRow& row : rows) {
        systems.push_back(std::move(row.system));
        satellites.push_back(std::move(row.satellite));
        codes.push_back(std::move(row.code));
        samples.push_back(row.samples);
        mean.push_back(row.mean);
        min.push_back(row.min);
        max.push_back(row.max);
        std.push_back(row.std);
        mean_elevation.push_back(row.mean_elevation);
        below_mask.push_back(row.below_mask);
        no_position.push_back(row.no_position);
    }
    if (!py::dict_set(table.get(), "system", py::new_text_list(systems)) ||
        (with_satellite && !py::dict_set(table.get(), "satellite", py::new_text_list(satellites))) ||
        !py::dict_set(table.get(), "code", py::new_text_list(codes)) ||
        !set_array(table.get(), "samples", std::move(samples)) || !set_array(table.get(), "mean", std::move(mean)) ||
        !set_array(table.get(), "min", std::move(min)) || !set_array(table.get(), "max", std::move(max)) ||
        !set_array(table.get(), "std", std::move(std)) ||
        !set_array(table.get(), "mean_elevation", std::move(mean_elevation)) ||
        !set_array(table.get(), "below_mask", std::move(below_mask)) ||
        !set_array(table.get(), "no_position", std::move(no_position))) {
        return nullptr;
    }
    return table.release();
}

}  // namespace

PyObject* signal_stats_tables(arrays::SignalStats&& stats, const arrays::Recording& recording) {
    Ref tables(PyDict_New());
    if (!tables) return nullptr;
    if (!py::dict_set(tables.get(), "by_signal", stats_table(std::move(stats.by_signal), true)) ||
        !py::dict_set(tables.get(), "by_constellation", stats_table(std::move(stats.by_constellation), false)) ||
        !py::dict_set(tables.get(), "facts", recording_facts(recording.obs())) ||
        (recording.nav() && !py::dict_set(tables.get(), "navigation_spans", navigation_spans_object(*recording.nav())))) {
        return nullptr;
    }
    return tables.release();
}

namespace {

PyObject* profile_table(std::vector<arrays::ProfileRow>&& rows, const arrays::Recording& recording) {
    Ref table(PyDict_New());
    if (!table) return nullptr;
    std::vector<std::string> systems, codes;
    std::vector<double> low, high, mean, p10, p50, p90;
    std::vector<std::uint64_t> samples;
    for (arrays::ProfileRow& row : rows) {
        systems.push_back(std::move(row.system));
        codes.push_back(std::move(row.code));
        low.push_back(row.elevation_low);
        high.push_back(row.elevation_high);
        samples.push_back(row.samples);
        mean.push_back(row.mean);
        p10.push_back(row.p10);
        p50.push_back(row.p50);
        p90.push_back(row.p90);
    }
    if (!py::dict_set(table.get(), "system", py::new_text_list(systems)) ||
        !py::dict_set(table.get(), "code", py::new_text_list(codes)) ||
        !set_array(table.get(), "elevation_low", std::move(low)) ||
        !set_array(table.get(), "elevation_high", std::move(high)) ||
        !set_array(table.get(), "samples", std::move(samples)) || !set_array(table.get(), "mean", std::move(mean)) ||
        !set_array(table.get(), "p10", std::move(p10)) || !set_array(table.get(), "p50", std::move(p50)) ||
        !set_array(table.get(), "p90", std::move(p90)) ||
        !py::dict_set(table.get(), "facts", recording_facts(recording.obs())) ||
        !py::dict_set(table.get(), "navigation_spans", navigation_spans_object(*recording.nav()))) {
        return nullptr;
    }
    return table.release();
}

}  // namespace

PyObject* completeness_table(arrays::Completeness&& result, const arrays::Recording& recording) {
    Ref table(PyDict_New());
    if (!table) return nullptr;
    std::vector<std::string> systems, codes;
    std::vector<std::uint64_t> expected, observed, below_mask, no_ephemeris;
    std::vector<double> percent;
    std::vector<std::uint8_t> predictable;
    Ref without(PyList_New(0));
    if (!without) return nullptr;
    for (arrays::CompletenessRow& row : result.rows) {
        percent.push_back(row.predictable ? arrays::percent_of(row.observed, row.expected.value_or(0))
                                          : std::numeric_limits<double>::quiet_NaN());
        systems.push_back(std::move(row.system));
        codes.push_back(std::move(row.code));
        predictable.push_back(row.predictable);
        expected.push_back(row.expected.value_or(0));
        observed.push_back(row.observed);
        below_mask.push_back(row.below_mask.value_or(0));
        no_ephemeris.push_back(row.no_ephemeris.value_or(0));
        Ref names(py::new_text_list(row.satellites_without_code));
        if (!names || PyList_Append(without.get(), names.get()) < 0) return nullptr;
    }
    Ref grid(Py_BuildValue("{s:d,s:O,s:K,s:K}", "interval", result.interval, "interval_from_header",
                           result.interval_from_header ? Py_True : Py_False, "grid_epochs",
                           static_cast<unsigned long long>(result.grid_epochs), "epochs_on_grid",
                           static_cast<unsigned long long>(result.epochs_on_grid)));
    if (!py::dict_set(table.get(), "system", py::new_text_list(systems)) ||
        !py::dict_set(table.get(), "code", py::new_text_list(codes)) ||
        !set_array(table.get(), "expected", std::move(expected)) ||
        !set_array(table.get(), "observed", std::move(observed)) ||
        !set_array(table.get(), "percent", std::move(percent)) ||
        !set_array(table.get(), "below_mask", std::move(below_mask)) ||
        !set_array(table.get(), "no_ephemeris", std::move(no_ephemeris)) ||
        !py::dict_set(table.get(), "satellites_without_code", without.release()) ||
        !set_flags(table.get(), "predictable", std::move(predictable)) ||
        !py::dict_set(table.get(), "grid", grid.release()) ||
        !py::dict_set(table.get(), "facts", recording_facts(recording.obs())) ||
        !py::dict_set(table.get(), "navigation_spans", navigation_spans_object(*recording.nav()))) {
        return nullptr;
    }
    return table.release();
}


PyObject* signal_stats(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("signal_stats", 1, "obs_path", "nav_paths", "min_elevation", "systems");
    py::Slots<4> slots;
    Source source;
    double min_elevation = 5.0;
    std::optional<std::string> letters;
    if (!py::bind(sig, args, nargsf, kwnames, slots) ||
        !table_arguments(slots.data(), true, "min_elevation", source, min_elevation)) {
        return nullptr;
    }
    if (!py::text_or_absent(slots[3], "systems", letters)) return nullptr;
    return with_recording(
        source,
        [&](const arrays::Recording& recording) -> std::variant<arrays::SignalStats, Refusal> {
            if (recording.nav() && !recording.obs().approx_position) return Refusal{arrays::kNoReceiverPosition};
            return arrays::signal_stats(recording.obs(), recording.nav(), min_elevation, letters, recording.geometry());
        },
        &signal_stats_tables);
}

PyObject* elevation_profile(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("elevation_profile", 2, "obs_path", "nav_paths", "bin_deg");
    py::Slots<3> slots;
    Source source;
    double bin_deg = 5.0;
    if (!py::bind(sig, args, nargsf, kwnames, slots) ||
        !table_arguments(slots.data(), false, "bin_deg", source, bin_deg)) {
        return nullptr;
    }
    if (!(bin_deg > 0.0)) return py::raise_value_error("bin_deg must be a positive number of degrees");
    return with_recording(
        source,
        [&](const arrays::Recording& recording) -> std::variant<std::vector<arrays::ProfileRow>, Refusal> {
            if (!recording.obs().approx_position) return Refusal{arrays::kNoReceiverPosition};
            return arrays::elevation_profile(recording.obs(), *recording.nav(), bin_deg);
        },
        &profile_table);
}

PyObject* completeness(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("completeness", 2, "obs_path", "nav_paths", "min_elevation");
    py::Slots<3> slots;
    Source source;
    double min_elevation = 10.0;
    if (!py::bind(sig, args, nargsf, kwnames, slots) ||
        !table_arguments(slots.data(), false, "min_elevation", source, min_elevation)) {
        return nullptr;
    }
    return with_recording(
        source,
        [&](const arrays::Recording& recording) -> std::variant<arrays::Completeness, Refusal> {
            auto result = arrays::completeness(recording.obs(), *recording.nav(), min_elevation, recording.geometry());
            if (auto* refusal = std::get_if<std::string>(&result)) return Refusal{std::move(*refusal)};
            return std::get<arrays::Completeness>(std::move(result));
        },
        &completeness_table);
}

PyObject* coverage(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("coverage", 2, "obs_path", "nav_paths", "systems");
    py::Slots<3> slots;
    Source source;
    std::optional<std::string> letters;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !source_argument(slots[0], slots[1], false, source) ||
        !py::text_or_absent(slots[2], "systems", letters)) {
        return nullptr;
    }
    return with_recording(
        source,
        [&letters](const arrays::Recording& recording) -> std::variant<std::vector<arrays::CoverageRow>, Refusal> {
            return arrays::navigation_coverage(recording.obs(), *recording.nav(), recording.geometry(), letters);
        },
        &coverage_table);
}

}  // namespace vardoln::tools
