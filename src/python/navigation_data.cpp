// NavigationData: one parsed navigation file, with its satellite counts, and the two reading
// functions that make such objects.
#include <string>
#include <variant>

#include "navigation/nav_bytes.hpp"
#include "navigation/nav_data.hpp"
#include "python/classes.hpp"
#include "rinex/file_io.hpp"

namespace vardoln::py {

namespace {

// Counts are of satellites (map keys), not of broadcast records.
PyObject* gps_count(const NavigationData& nav) {
    return new_int(nav.gps.size());
}

PyObject* glonass_count(const NavigationData& nav) {
    return new_int(nav.glonass.size());
}

PyObject* galileo_count(const NavigationData& nav) {
    return new_int(nav.galileo.size());
}

PyObject* beidou_count(const NavigationData& nav) {
    return new_int(nav.beidou.size());
}

PyObject* satellite_count(const NavigationData& nav) {
    return new_int(nav.gps.size() + nav.glonass.size() + nav.galileo.size() + nav.beidou.size());
}

PyObject* has_data(const NavigationData& nav) {
    return new_bool(nav.has_data());
}

PyObject* repr(const NavigationData& nav) {
    std::string text = "NavigationData(GPS=";
    text.append(std::to_string(nav.gps.size()));
    text.append(", GLONASS=").append(std::to_string(nav.glonass.size()));
    text.append(", Galileo=").append(std::to_string(nav.galileo.size()));
    text.append(", BeiDou=").append(std::to_string(nav.beidou.size())).append(")");
    return new_text(text);
}

PyObject* wrap(std::variant<NavigationData, NavParseError>&& parsed) {
    if (auto* error = std::get_if<NavParseError>(&parsed)) return raise_value_error(error->message);
    PyTypeObject* type = navigation_data_type();
    if (type == nullptr) return nullptr;
    return new_instance(type, std::get<NavigationData>(std::move(parsed)));
}

PyObject* read_navigation(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = signature("read_navigation", 1, "path");
    Slots<1> slots;
    std::string_view path;
    if (!bind(sig, args, nargsf, kwnames, slots) || !to_text(slots[0], "path", path)) return nullptr;
    auto bytes = read_whole_file(std::string(path));
    if (auto* error = std::get_if<FileError>(&bytes)) return raise_os_error(error->message);
    return wrap(vardoln::read_navigation_bytes(std::get<std::string>(bytes)));
}

PyObject* read_navigation_bytes(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = signature("read_navigation_bytes", 1, "data");
    Slots<1> slots;
    std::string_view data;
    if (!bind(sig, args, nargsf, kwnames, slots) || !to_bytes(slots[0], "data", data)) return nullptr;
    return wrap(vardoln::read_navigation_bytes(data));
}

PyMethodDef read_navigation_method = fastcall_method<&read_navigation>(
    "read_navigation", "read_navigation(path)\n--\n\nRead navigation file from path");
PyMethodDef read_navigation_bytes_method = fastcall_method<&read_navigation_bytes>(
    "read_navigation_bytes", "read_navigation_bytes(data)\n--\n\nRead navigation file from bytes");

PyGetSetDef attributes[] = {
    read_only<NavigationData, &gps_count>("gps_count", "Get GPS satellite count"),
    read_only<NavigationData, &glonass_count>("glonass_count", "Get GLONASS satellite count"),
    read_only<NavigationData, &galileo_count>("galileo_count", "Get Galileo satellite count"),
    read_only<NavigationData, &beidou_count>("beidou_count", "Get BeiDou satellite count"),
    read_only<NavigationData, &satellite_count>("satellite_count", "Get satellite count"),
    {},
};

PyMethodDef methods[] = {
    read_method<NavigationData, &has_data>("has_data", "has_data($self)\n--\n\nCheck if navigation data is available"),
    {},
};

PyTypeObject* type_cache = nullptr;

}  // namespace

PyTypeObject* navigation_data_type() {
    static const ClassSpec definition{
        .qualified_name = "builtins.NavigationData",
        .doc = "Python wrapper for NavigationData",
        .methods = methods,
        .getset = attributes,
        .repr = &repr_entry<NavigationData, &repr>,
    };
    return cached_class<NavigationData>(type_cache, definition);
}

bool borrow_navigation_data(PyObject* object, const char* argument, SharedBorrow<NavigationData>& out) {
    PyTypeObject* type = navigation_data_type();
    return type != nullptr && borrow_instance(object, type, argument, out);
}

PyMethodDef* read_navigation_def() {
    return &read_navigation_method;
}

PyMethodDef* read_navigation_bytes_def() {
    return &read_navigation_bytes_method;
}

}  // namespace vardoln::py
