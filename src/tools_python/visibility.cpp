// Predicted against observed satellites per epoch and constellation, the counts behind the
// analysis's visibility summary, for a view over time.
#include <memory>

#include "arrays/positions.hpp"
#include "arrays/tables.hpp"
#include "tools_python/tools.hpp"
#include "visibility/orbit_source.hpp"
#include "visibility/visibility.hpp"

namespace vardoln::tools {

namespace {

struct Timeline {
    VisibilityCounts counts;
    std::vector<std::int64_t> times;  // datetime64 nanoseconds per epoch
};

PyObject* timeline_table(Timeline&& timeline, const arrays::Recording& recording) {
    Ref table(PyDict_New());
    if (!table) return nullptr;
    std::vector<std::string> systems;
    for (const char letter : timeline.counts.letters) systems.push_back(arrays::constellation_name(letter));
    if (!py::dict_set(table.get(), "systems", py::new_text_list(systems)) ||
        !set_array(table.get(), "time", std::move(timeline.times)) ||
        !set_array(table.get(), "predicted", std::move(timeline.counts.predicted)) ||
        !set_array(table.get(), "observed", std::move(timeline.counts.observed)) ||
        !set_array(table.get(), "confirmed", std::move(timeline.counts.confirmed)) ||
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
        [min_elevation](const arrays::Recording& recording) -> std::variant<Timeline, Refusal> {
            if (!recording.obs.approx_position) return Refusal{arrays::kNoReceiverPosition};
            const OrbitSource source = make_orbit_source(std::make_shared<const NavigationData>(*recording.nav));
            Timeline timeline{visibility_counts(source, recording.obs, min_elevation), {}};
            timeline.times.reserve(recording.obs.epochs.size());
            for (const ObservationEpoch& epoch : recording.obs.epochs) {
                timeline.times.push_back(arrays::epoch_nanoseconds(epoch.time));
            }
            return timeline;
        },
        &timeline_table);
}

}  // namespace vardoln::tools
