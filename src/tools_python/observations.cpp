// Observations as columns, and the satellite geometry at the observation epochs.
#include "arrays/columns.hpp"
#include "arrays/positions.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

PyObject* observation_table(arrays::ObservationColumns&& columns, const arrays::Recording& recording) {
    Ref table(PyDict_New());
    if (!table) return nullptr;
    if (!set_array(table.get(), "time", std::move(columns.time)) ||
        !set_array(table.get(), "satellite", std::move(columns.satellite)) ||
        !set_array(table.get(), "code", std::move(columns.code)) ||
        !set_array(table.get(), "value", std::move(columns.value)) ||
        !set_array(table.get(), "lli", std::move(columns.lli)) ||
        !set_flags(table.get(), "lli_missing", std::move(columns.lli_missing)) ||
        !set_array(table.get(), "ssi", std::move(columns.ssi)) ||
        !set_flags(table.get(), "ssi_missing", std::move(columns.ssi_missing)) ||
        !py::dict_set(table.get(), "satellites", py::new_text_list(columns.satellites)) ||
        !py::dict_set(table.get(), "codes", py::new_text_list(columns.codes)) ||
        !py::dict_set(table.get(), "facts", recording_facts(recording.obs()))) {
        return nullptr;
    }
    return table.release();
}

PyObject* geometry_table(arrays::GeometryColumns&& columns, const arrays::Recording& recording) {
    Ref table(PyDict_New());
    if (!table) return nullptr;
    if (!set_array(table.get(), "time", std::move(columns.time)) ||
        !set_array(table.get(), "satellite", std::move(columns.satellite)) ||
        !set_array(table.get(), "azimuth", std::move(columns.azimuth)) ||
        !set_array(table.get(), "elevation", std::move(columns.elevation)) ||
        !py::dict_set(table.get(), "satellites", py::new_text_list(columns.satellites)) ||
        !py::dict_set(table.get(), "facts", recording_facts(recording.obs())) ||
        !py::dict_set(table.get(), "navigation_spans", navigation_spans_object(*recording.nav()))) {
        return nullptr;
    }
    return table.release();
}

}  // namespace

PyObject* observations(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("observations", 1, "path");
    py::Slots<1> slots;
    Source source;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !source_argument(slots[0], nullptr, true, source)) return nullptr;
    return with_recording(
        source,
        [](const arrays::Recording& recording) -> std::variant<arrays::ObservationColumns, Refusal> {
            return arrays::observation_columns(recording.obs());
        },
        &observation_table);
}

PyObject* geometry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("geometry", 2, "obs_path", "nav_paths");
    Source source;
    if (!bind_obs_and_nav(sig, args, nargsf, kwnames, source)) return nullptr;
    return with_recording(
        source,
        [](const arrays::Recording& recording) -> std::variant<arrays::GeometryColumns, Refusal> {
            if (!recording.obs().approx_position) return Refusal{arrays::kNoReceiverPosition};
            return arrays::geometry_columns(recording.obs(), *recording.nav());
        },
        &geometry_table);
}

}  // namespace vardoln::tools
