// Predicted against observed satellites per epoch and constellation, the counts behind the
// analysis's visibility summary, for a view over time; that summary over the selected
// constellations; and the recording's facts alone.
#include <memory>

#include "arrays/positions.hpp"
#include "arrays/tables.hpp"
#include "cn0/threats.hpp"
#include "navigation/orbit_source.hpp"
#include "rinex/ids.hpp"
#include "tools_python/tools.hpp"
#include "visibility/visibility.hpp"

namespace vardoln::tools {

VisibilityColumns visibility_columns(const OrbitSource& source, const RinexObsData& obs, double min_elevation,
                                     const std::optional<std::string>& letters, const arrays::EntryGeometry* geometry) {
    VisibilityColumns columns{visibility_counts(source, obs, min_elevation, letters,
                                                geometry ? std::span<const std::optional<Ecef>>(geometry->positions)
                                                         : std::span<const std::optional<Ecef>>()),
                              {}};
    columns.times.reserve(obs.epochs.size());
    for (const ObservationEpoch& epoch : obs.epochs) columns.times.push_back(arrays::epoch_nanoseconds(epoch.time));
    return columns;
}

bool set_visibility_columns(PyObject* dict, VisibilityColumns&& columns) {
    std::vector<std::string> systems;
    for (const char letter : columns.counts.letters) systems.push_back(observed_system_name(letter));
    return py::dict_set(dict, "systems", py::new_text_list(systems)) &&
           set_array(dict, "time", std::move(columns.times)) &&
           set_array(dict, "predicted", std::move(columns.counts.predicted)) &&
           set_array(dict, "observed", std::move(columns.counts.observed)) &&
           set_array(dict, "confirmed", std::move(columns.counts.confirmed));
}

SelectedVisibility selected_visibility(const RinexObsData& obs, const NavigationData& nav,
                                       const arrays::EntryGeometry* geometry, double min_elevation,
                                       std::optional<std::string_view> letters, double unexpected_threshold,
                                       double min_unexpected_count) {
    // A source that borrows the recording's navigation data, which outlive this call.
    const OrbitSource source = make_orbit_source(std::shared_ptr<const NavigationData>(std::shared_ptr<void>(), &nav));
    const PositionTable positions = geometry ? PositionTable(source, obs, geometry->positions) : PositionTable(source, obs);
    SelectedVisibility selected;
    selected.summary = predict_visibility(source, positions, obs, min_elevation, letters);
    selected.spoofing = spoofing_detected(selected.summary, unexpected_threshold, min_unexpected_count);
    return selected;
}

PyObject* summary_object(SelectedVisibility&& selected, const arrays::Recording& recording) {
    const VisibilitySummary& summary = selected.summary;
    std::vector<std::string> types, descriptions;
    for (const VisibilityAnomaly& anomaly : summary.anomalies) {
        types.push_back(anomaly.anomaly_type);
        descriptions.push_back(anomaly.description);
    }
    Ref table(PyDict_New());
    if (!table || !py::dict_set(table.get(), "confirmation_rate", py::new_float(summary.confirmation_rate)) ||
        !py::dict_set(table.get(), "mean_predicted", py::new_float(summary.mean_predicted)) ||
        !py::dict_set(table.get(), "mean_observed", py::new_float(summary.mean_observed)) ||
        !py::dict_set(table.get(), "mean_missing", py::new_float(summary.mean_missing)) ||
        !py::dict_set(table.get(), "mean_unexpected", py::new_float(summary.mean_unexpected)) ||
        !py::dict_set(table.get(), "frequently_missing", py::new_text_list(summary.frequently_missing)) ||
        !py::dict_set(table.get(), "frequently_unexpected", py::new_text_list(summary.frequently_unexpected)) ||
        !py::dict_set(table.get(), "anomaly_types", py::new_text_list(types)) ||
        !py::dict_set(table.get(), "anomaly_descriptions", py::new_text_list(descriptions)) ||
        !py::dict_set(table.get(), "spoofing", py::new_bool(selected.spoofing)) ||
        !py::dict_set(table.get(), "facts", recording_facts(recording.obs()))) {
        return nullptr;
    }
    return table.release();
}

namespace {

PyObject* timeline_table(VisibilityColumns&& columns, const arrays::Recording& recording) {
    Ref table(PyDict_New());
    if (!table || !set_visibility_columns(table.get(), std::move(columns)) ||
        !py::dict_set(table.get(), "facts", recording_facts(recording.obs()))) {
        return nullptr;
    }
    return table.release();
}

PyObject* facts_object(std::monostate /*nothing*/, const arrays::Recording& recording) {
    return recording_facts(recording.obs());
}

}  // namespace

PyObject* visibility_timeline(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig =
        py::signature("visibility_timeline", 3, "obs_path", "nav_paths", "min_elevation", "systems");
    py::Slots<4> slots;
    Source source;
    double min_elevation = 0.0;
    std::optional<std::string> letters;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !source_argument(slots[0], slots[1], false, source) ||
        !py::to_double(slots[2], "min_elevation", min_elevation) ||
        !py::text_or_absent(slots[3], "systems", letters)) {
        return nullptr;
    }
    return with_recording(
        source,
        [min_elevation, &letters](const arrays::Recording& recording) -> std::variant<VisibilityColumns, Refusal> {
            if (!recording.obs().approx_position) return Refusal{arrays::kNoReceiverPosition};
            const OrbitSource source = make_orbit_source(recording.shared_nav());
            return visibility_columns(source, recording.obs(), min_elevation, letters, recording.geometry());
        },
        &timeline_table);
}

PyObject* visibility_summary(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig =
        py::signature("visibility_summary", 6, "obs_path", "nav_paths", "min_elevation", "systems",
                      "spoofing_unexpected_threshold", "spoofing_min_unexpected_count");
    py::Slots<6> slots;
    Source source;
    double min_elevation = 0.0;
    std::string_view letters;
    double unexpected_threshold = 0.0;
    double min_unexpected_count = 0.0;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !source_argument(slots[0], slots[1], false, source) ||
        !py::to_double(slots[2], "min_elevation", min_elevation) ||
        !py::to_text(slots[3], "systems", letters) ||
        !py::to_double(slots[4], "spoofing_unexpected_threshold", unexpected_threshold) ||
        !py::to_double(slots[5], "spoofing_min_unexpected_count", min_unexpected_count)) {
        return nullptr;
    }
    return with_recording(
        source,
        [&](const arrays::Recording& recording) -> std::variant<SelectedVisibility, Refusal> {
            return selected_visibility(recording.obs(), *recording.nav(), recording.geometry(), min_elevation, letters,
                                       unexpected_threshold, min_unexpected_count);
        },
        &summary_object);
}

PyObject* facts(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("facts", 1, "obs_path");
    py::Slots<1> slots;
    Source source;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !source_argument(slots[0], nullptr, true, source)) return nullptr;
    return with_recording(
        source,
        [](const arrays::Recording&) -> std::variant<std::monostate, Refusal> { return std::monostate{}; },
        &facts_object);
}

}  // namespace vardoln::tools
