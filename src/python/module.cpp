// Module entry: registers the version attributes, the classes and the functions, in the order
// callers see them in __all__.
#include <atomic>
#include <cstdint>

#include "python/c_api.hpp"
#include "python/classes.hpp"

namespace vardoln::py {

namespace {

constexpr const char* module_version = "0.4.2";

// The interpreter that imported the module first. Type objects and the module object are
// process-wide, so a second interpreter would share objects across interpreters.
std::atomic<std::int64_t> owner_interpreter{-1};
PyObject* module_object = nullptr;  // kept for the life of the process

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "vardoln_cn0",     // m_name
    "Python module",   // m_doc
    0,                 // m_size: no per-module state
    nullptr,           // m_methods: functions are added one by one below
    nullptr, nullptr, nullptr, nullptr,
};

PyObject* version(PyObject* /*module*/) {
    return new_text(module_version);
}

PyMethodDef version_method = noargs_method<&version>("version", "version()\n--\n\nGet library version");

// Appends `name` to __all__ (created on first use), then sets the attribute; takes over `value`.
bool add_attribute(PyObject* module, const char* name, PyObject* value) {
    Ref owned(value);
    if (!owned) return false;
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    if (!PyList_Check(all.get())) {
        PyErr_SetString(PyExc_TypeError, "`__all__` must be a list");
        return false;
    }
    Ref key(PyUnicode_FromString(name));
    if (!key || PyList_Append(all.get(), key.get()) < 0) return false;
    return PyObject_SetAttr(module, key.get(), owned.get()) == 0;
}

bool add_class(PyObject* module, PyTypeObject* (*type_getter)()) {
    PyTypeObject* type = type_getter();
    if (type == nullptr) return false;
    const std::string name(type_short_name(type));
    return add_attribute(module, name.c_str(), Py_NewRef(reinterpret_cast<PyObject*>(type)));
}

bool add_function(PyObject* module, PyObject* module_name, PyMethodDef* definition) {
    return add_attribute(module, definition->ml_name, PyCMethod_New(definition, module, module_name, nullptr));
}

bool fill_module(PyObject* module) {
    if (!add_attribute(module, "VERSION", new_text(module_version))) return false;
    if (!add_attribute(module, "__version__", new_text(module_version))) return false;
    for (auto type_getter : {&rinex_obs_data_type, &navigation_data_type, &analysis_config_type, &cn0_analyzer_type,
                             &analysis_result_type, &quality_score_type}) {
        if (!add_class(module, type_getter)) return false;
    }
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return false;
    for (auto definition_getter : {&read_rinex_obs_def, &read_rinex_obs_bytes_def, &parse_rinex_def,
                                   &read_navigation_def, &read_navigation_bytes_def, &analyze_cn0_def, &version_def,
                                   &download_tle_def, &parse_tle_content_def}) {
        if (!add_function(module, module_name.get(), definition_getter())) return false;
    }
    // Private, outside __all__: the records for the companion extension.
    Ref api(new_module_api_capsule());
    return api && PyModule_AddObjectRef(module, "_C_API", api.get()) == 0;
}

PyObject* initialise() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        }
        return nullptr;
    }
    std::int64_t expected = -1;
    if (!owner_interpreter.compare_exchange_strong(expected, interpreter) && expected != interpreter) {
        PyErr_SetString(PyExc_ImportError,
                        "vardoln_cn0 supports a single interpreter per process and was first imported by another");
        return nullptr;
    }
    if (module_object != nullptr) return Py_NewRef(module_object);

    Ref module(PyModule_Create2(&module_def, 1013));
    if (!module || !fill_module(module.get())) return nullptr;
    module_object = Py_NewRef(module.get());
    return module.release();
}

}  // namespace

PyMethodDef* version_def() {
    return &version_method;
}

}  // namespace vardoln::py

PyMODINIT_FUNC PyInit_vardoln_cn0(void) {
    return vardoln::py::guarded<PyObject*>([] { return vardoln::py::initialise(); }, nullptr);
}
