// The band detector's settings and events as the companion extension takes and gives them, and
// the band table.
#include "detector/detector.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

PyObject* event_object(const DetectorEvent& event) {
    std::vector<std::string_view> bands;
    for (const Band band : event.bands) bands.push_back(band_name(band));
    std::vector<std::string> systems;
    for (const char letter : event.systems) systems.emplace_back(1, letter);
    Ref item(PyDict_New());
    if (!item || !py::dict_set(item.get(), "type", py::new_text(event_type_name(event.type))) ||
        !py::dict_set(item.get(), "start", py::new_text(event.start)) ||
        !py::dict_set(item.get(), "end", py::new_text(event.end)) ||
        !py::dict_set(item.get(), "first_epoch", py::new_int(event.first_epoch)) ||
        !py::dict_set(item.get(), "last_epoch", py::new_int(event.last_epoch)) ||
        !py::dict_set(item.get(), "bands", py::new_text_list(bands)) ||
        !py::dict_set(item.get(), "systems", py::new_text_list(systems)) ||
        !py::dict_set(item.get(), "satellites", py::new_text_list(event.satellites)) ||
        !py::dict_set(item.get(), "largest_db", py::new_float(event.largest_drop_db)) ||
        !py::dict_set(item.get(), "median_db", py::new_float(event.median_drop_db)) ||
        !py::dict_set(item.get(), "share", py::new_float(event.share))) {
        return nullptr;
    }
    return item.release();
}

}  // namespace

PyObject* detector_object(const DetectorResult& result) {
    Ref out(PyDict_New());
    Ref events(PyList_New(0));
    if (!out || !events) return nullptr;
    for (const DetectorEvent& event : result.events) {
        Ref item(event_object(event));
        if (!item || PyList_Append(events.get(), item.get()) < 0) return nullptr;
    }
    if (!py::dict_set(out.get(), "epochs", py::new_int(result.epochs)) ||
        !py::dict_set(out.get(), "interval", py::new_float(result.interval_s)) ||
        !py::dict_set(out.get(), "used_elevations", py::new_bool(result.used_elevations)) ||
        !py::dict_set(out.get(), "events", events.release())) {
        return nullptr;
    }
    return out.release();
}

bool detector_arguments(PyObject* const* slots, DetectorSettings& settings) {
    std::optional<std::vector<std::string>> systems;
    std::uint32_t satellites = settings.event_satellites;
    if (!py::double_or_default(slots[0], "drop_db", settings.drop_db) ||
        (slots[1] != nullptr && !py::to_u32(slots[1], "event_satellites", satellites)) ||
        !py::text_list_or_absent(slots[2], "systems", systems)) {
        return false;
    }
    if (!(settings.drop_db > 0.0) || satellites < 1) {
        py::raise_value_error("drop_db must be above 0 and event_satellites at least 1");
        return false;
    }
    settings.event_satellites = satellites;
    if (systems) {
        settings.systems.clear();
        for (const std::string& text : *systems) {
            if (!text.empty()) settings.systems.push_back(text.front());
        }
        if (settings.systems.empty()) settings.systems = "-";  // nothing selected
    }
    return true;
}

PyObject* band(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("band", 3, "system", "code", "rinex_version");
    py::Slots<3> slots;
    std::string_view system;
    std::string_view code;
    double version = 0.0;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !py::to_text(slots[0], "system", system) ||
        !py::to_text(slots[1], "code", code) || !py::to_double(slots[2], "rinex_version", version)) {
        return nullptr;
    }
    if (system.size() != 1) return py::raise_value_error("system must be one constellation letter");
    const std::optional<Band> found = band_of_code(system.front(), code, version);
    return found ? py::new_text(band_name(*found)) : Py_NewRef(Py_None);
}

}  // namespace vardoln::tools
