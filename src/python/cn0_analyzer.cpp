// CN0Analyzer and analyze_cn0. Placeholder so the module links; the analyzer helper owns
// this file and replaces it.
#include "cn0/settings.hpp"
#include "python/classes.hpp"

namespace vardoln::py {

namespace {

struct Analyzer {
    AnalysisConfig config;
};

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr auto sig = signature("CN0Analyzer", 1, "config");
    Slots<1> slots;
    if (!bind(sig, args, kwargs, slots)) return nullptr;
    SharedBorrow<AnalysisConfig> config;
    if (!borrow_analysis_config(slots[0], "config", config)) return nullptr;
    return new_instance(type, Analyzer{*config});
}

PyObject* analyze_cn0(PyObject* /*module*/, PyObject* const* /*args*/, Py_ssize_t /*nargsf*/, PyObject* /*kwnames*/) {
    PyErr_SetString(PyExc_NotImplementedError, "analyze_cn0 is not available yet");
    return nullptr;
}

PyMethodDef analyze_cn0_method = fastcall_method<&analyze_cn0>(
    "analyze_cn0", "analyze_cn0(obs_path, nav_path=None, min_elevation=5.0, systems=None)\n--\n\nQuick analysis function");

PyTypeObject* analyzer_cache = nullptr;

}  // namespace

PyTypeObject* cn0_analyzer_type() {
    static const ClassSpec spec{
        .qualified_name = "builtins.CN0Analyzer",
        .doc = "CN0Analyzer(config)\n--\n\nPython wrapper for CN0Analyzer - supports both config-based and direct API",
        .construct = &new_entry<&construct>,
    };
    return cached_class<Analyzer>(analyzer_cache, spec);
}

PyMethodDef* analyze_cn0_def() {
    return &analyze_cn0_method;
}

}  // namespace vardoln::py
