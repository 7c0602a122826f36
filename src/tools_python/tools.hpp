// The companion extension vardoln_tools._native: arrays and tables for the Python package
// vardoln_tools. Binding only: arguments in, core calls without the interpreter lock, NumPy-ready
// buffers and plain objects out. The public functions are Python around it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "arrays/completeness.hpp"
#include "arrays/coverage.hpp"
#include "arrays/recording.hpp"
#include "arrays/signals.hpp"
#include "detector/detector.hpp"
#include "navigation/orbit_source.hpp"
#include "python/binding.hpp"
#include "python/c_api.hpp"
#include "visibility/visibility.hpp"

namespace vardoln::tools {

using py::Ref;

// ---------------------------------------------------------------------------------------------
// Buffers: a typed, contiguous, one-dimensional array owned by a Python object that exposes it
// through the buffer protocol, so that numpy.asarray wraps it without a copy.

struct OwnedArray {
    std::shared_ptr<void> owner;  // keeps the storage alive
    void* data = nullptr;
    std::size_t length = 0;
    std::size_t item_size = 0;
    const char* format = "B";  // struct module format of one item
};

template <typename T>
constexpr const char* buffer_format() {
    if constexpr (std::is_same_v<T, double>) return "d";
    else if constexpr (std::is_same_v<T, float>) return "f";
    else if constexpr (std::is_same_v<T, std::int64_t>) return "q";
    else if constexpr (std::is_same_v<T, std::int32_t>) return "i";
    else if constexpr (std::is_same_v<T, std::uint32_t>) return "I";
    else if constexpr (std::is_same_v<T, std::uint64_t>) return "Q";
    else if constexpr (std::is_same_v<T, std::uint8_t>) return "B";
    else static_assert(sizeof(T) == 0, "no buffer format for this type");
}

template <typename T>
OwnedArray own(std::vector<T>&& values) {
    auto storage = std::make_shared<std::vector<T>>(std::move(values));
    OwnedArray array;
    array.data = storage->data();
    array.length = storage->size();
    array.item_size = sizeof(T);
    array.format = buffer_format<T>();
    array.owner = std::move(storage);
    return array;
}

// Flags (0 or 1 bytes) exposed as the bool format "?".
OwnedArray own_flags(std::vector<std::uint8_t>&& flags);

PyObject* new_buffer(OwnedArray&& array);
// The buffer type, created on first use; nullptr with an error set if that fails.
PyTypeObject* buffer_type();

// ---------------------------------------------------------------------------------------------
// Results

// dict[key] = a new buffer over `values`.
template <typename T>
bool set_array(PyObject* dict, std::string_view key, std::vector<T>&& values) {
    return py::dict_set(dict, key, new_buffer(own(std::move(values))));
}
bool set_flags(PyObject* dict, std::string_view key, std::vector<std::uint8_t>&& flags);

// The header facts and time span every table carries in its attrs.
PyObject* recording_facts(const RinexObsData& obs);

// {"all": (first, last), "GPS": (first, last), ...}: datetime64 nanoseconds of the navigation
// records' clock epochs, over all records and per constellation; only those with records.
PyObject* navigation_spans_object(const NavigationData& nav);

// OSError (with errno and file name when the system gave a code) or ValueError, naming the file.
std::nullptr_t raise_load_failure(const arrays::LoadFailure& failure);

// Satellites predicted and observed per epoch and constellation letter, and the epochs' times
// (datetime64 nanoseconds): computed without the lock, then set as the columns "systems",
// "time", "predicted", "observed" and "confirmed" (rows of epochs, one column per system).
struct VisibilityColumns {
    VisibilityCounts counts;
    std::vector<std::int64_t> times;
};
VisibilityColumns visibility_columns(const OrbitSource& source, const RinexObsData& obs, double min_elevation,
                                     const std::optional<std::string>& letters = std::nullopt,
                                     const arrays::EntryGeometry* geometry = nullptr);
bool set_visibility_columns(PyObject* dict, VisibilityColumns&& columns);

// The analysis's visibility summary over the constellation letters selected (nothing: every one),
// and its spoofing rule on it; `geometry`, when given, holds the entries' positions already
// computed. summary_object makes the dict of it.
struct SelectedVisibility {
    VisibilitySummary summary;
    bool spoofing = false;
};
SelectedVisibility selected_visibility(const RinexObsData& obs, const NavigationData& nav,
                                       const arrays::EntryGeometry* geometry, double min_elevation,
                                       std::optional<std::string_view> letters, double unexpected_threshold,
                                       double min_unexpected_count);
PyObject* summary_object(SelectedVisibility&& selected, const arrays::Recording& recording);

// The tables of signals.cpp, also built by the QC pass from the same recording.
PyObject* coverage_table(std::vector<arrays::CoverageRow>&& rows, const arrays::Recording& recording);
PyObject* signal_stats_tables(arrays::SignalStats&& stats, const arrays::Recording& recording);
PyObject* completeness_table(arrays::Completeness&& result, const arrays::Recording& recording);

// ---------------------------------------------------------------------------------------------
// Arguments

// nav_paths: a list of str, or None (allowed only when `optional`).
bool nav_paths_argument(PyObject* slot, bool optional, std::optional<std::vector<std::string>>& out);

// What a table is computed from: a recording loaded already (a Recording object), or the files
// to read.
struct Source {
    std::optional<arrays::Recording> loaded;
    std::string obs_path;
    std::optional<std::vector<std::string>> nav_paths;
};

// obs_path (a path or a Recording) and nav_paths (a list of paths; None allowed only when
// `nav_optional`; no slot: no navigation files). A Recording carries its own navigation data:
// nav_paths must then be None or left out, and a table that needs navigation data refuses a
// Recording without them.
bool source_argument(PyObject* obs_slot, PyObject* nav_slot, bool nav_optional, Source& out);

// The arguments (obs_path, nav_paths) of a table that needs navigation data.
bool bind_obs_and_nav(const py::Signature<2>& sig, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                      Source& source);

// The common arguments: obs_path, nav_paths (None allowed only where `nav_optional`), and one
// number in degrees that must be finite.
bool table_arguments(PyObject* const* slots, bool nav_optional, const char* degrees_name, Source& source,
                     double& degrees);

// ---------------------------------------------------------------------------------------------
// Loaded recordings (recording.cpp)

// The module's table of records, imported on first use; nullptr with ImportError set when the
// module cannot be imported or comes from another build.
const py::ModuleApi* module_api();
// An AnalysisConfig argument (the module's object) copied into `out`; false with an error set.
bool config_argument(PyObject* slot, AnalysisConfig& out);
// The Recording type, created on first use; nullptr with an error set if that fails.
PyTypeObject* recording_type();
// The live stream type (monitor.cpp).
PyTypeObject* live_stream_type();
PyObject* rtcm_week(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* trend(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
// The recording of a Recording object; nullptr (no error set) for any other object.
const arrays::Recording* loaded_recording(PyObject* object);

// ---------------------------------------------------------------------------------------------
// Running a table: load, compute without the interpreter lock, build.

// Content that cannot give the table asked for (no receiver position, say): ValueError.
struct Refusal {
    std::string message;
};

// Reads the recording (unless loaded already) and runs `compute(const Recording&)`, which gives
// a result or a Refusal, with the lock released; then `build(Result&&, const Recording&)` makes
// the Python value.
template <typename Compute, typename Build>
PyObject* with_recording(const Source& source, Compute&& compute, Build&& build) {
    using Computed = decltype(compute(std::declval<const arrays::Recording&>()));
    struct Done {
        arrays::Recording recording;
        Computed computed;
    };
    using Outcome = std::variant<Done, arrays::LoadFailure>;
    // Safe without the lock: the work reads files into private values and touches no Python object.
    Outcome outcome = py::without_gil([&]() -> Outcome {
        if (source.loaded) {
            Computed computed = compute(*source.loaded);
            return Done{*source.loaded, std::move(computed)};
        }
        auto loaded = arrays::load_recording(source.obs_path, source.nav_paths);
        if (auto* failure = std::get_if<arrays::LoadFailure>(&loaded)) return std::move(*failure);
        auto& recording = std::get<arrays::Recording>(loaded);
        Computed computed = compute(std::as_const(recording));
        return Done{std::move(recording), std::move(computed)};
    });
    if (auto* failure = std::get_if<arrays::LoadFailure>(&outcome)) return raise_load_failure(*failure);
    Done& done = std::get<Done>(outcome);
    if (auto* refusal = std::get_if<Refusal>(&done.computed)) return py::raise_value_error(refusal->message);
    return build(std::get<0>(std::move(done.computed)), std::as_const(done.recording));
}

// ---------------------------------------------------------------------------------------------
// Entry points (one binding file per area)

PyObject* observations(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* geometry(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* coverage(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* signal_stats(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* elevation_profile(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* completeness(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* visibility_timeline(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* visibility_summary(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* facts(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* plot_views(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);

PyObject* qc(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* band(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* judge(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* health_rules(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);

// The detector's settings from the slots (drop_db, event_satellites, systems), and its result.
bool detector_arguments(PyObject* const* slots, DetectorSettings& settings);
PyObject* detector_object(const DetectorResult& result);

PyObject* load(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
// A new Recording over module objects (borrowed; nav may be nullptr), or NULL with the error set.
PyObject* recording_over(PyObject* obs_object, PyObject* nav_object);
// An RTCM 3 stream read into a Recording (rtcm.cpp).
PyObject* read_rtcm(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
// A recording (or anything load takes) written as an RTCM 3 stream (rtcm_encode.cpp).
PyObject* write_rtcm(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
// A recording's records as RINEX 3.04 text (rinex_write.cpp).
PyObject* write_rinex_obs(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* write_rinex_nav(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* read_file(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* counters(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);

// The module's records as plain values (records.cpp).
PyObject* stored_quality(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* grade_bands(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* config_record(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* analysis_config(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* predictable_systems(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);

PyObject* budget_fit(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* navigation_text(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);

}  // namespace vardoln::tools
