// Predicted against observed satellites per epoch and constellation, the counts behind the
// analysis's visibility summary, for a view over time.
#include <memory>

#include "arrays/positions.hpp"
#include "arrays/tables.hpp"
#include "navigation/orbit_source.hpp"
#include "rinex/ids.hpp"
#include "tools_python/tools.hpp"
#include "visibility/visibility.hpp"

namespace vardoln::tools {

VisibilityColumns visibility_columns(const OrbitSource& source, const RinexObsData& obs, double min_elevation) {
    VisibilityColumns columns{visibility_counts(source, obs, min_elevation), {}};
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

namespace {

PyObject* timeline_table(VisibilityColumns&& columns, const arrays::Recording& recording) {
    Ref table(PyDict_New());
    if (!table || !set_visibility_columns(table.get(), std::move(columns)) ||
        !py::dict_set(table.get(), "facts", recording_facts(recording.obs))) {
        return nullptr;
    }
    return table.release();
}

}  // namespace

PyObject* visibility_timeline(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("visibility_timeline", 3, "obs_path", "nav_paths", "min_elevation");
    py::Slots<3> slots;
    std::string_view obs_path;
    std::optional<std::vector<std::string>> nav_paths;
    double min_elevation = 0.0;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !py::to_text(slots[0], "obs_path", obs_path) ||
        !nav_paths_argument(slots[1], false, nav_paths) || !py::to_double(slots[2], "min_elevation", min_elevation)) {
        return nullptr;
    }
    return with_recording(
        std::string(obs_path), nav_paths,
        [min_elevation](const arrays::Recording& recording) -> std::variant<VisibilityColumns, Refusal> {
            if (!recording.obs.approx_position) return Refusal{arrays::kNoReceiverPosition};
            const OrbitSource source = make_orbit_source(std::make_shared<const NavigationData>(*recording.nav));
            return visibility_columns(source, recording.obs, min_elevation);
        },
        &timeline_table);
}

}  // namespace vardoln::tools
