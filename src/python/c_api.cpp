#include "python/c_api.hpp"

#include <string>
#include <utility>

#include "python/classes.hpp"

namespace vardoln::py {

namespace {

template <typename Value>
const Value* record_of(PyObject* object, PyTypeObject* (*type_getter)(), const char* argument) noexcept {
    return guarded<const Value*>(
        [&]() -> const Value* {
            PyTypeObject* type = type_getter();
            if (type == nullptr || !check_instance(object, type, argument)) return nullptr;
            return &holder_of<Value>(object)->value;
        },
        nullptr);
}

const RinexObsData* obs_data(PyObject* object, const char* argument) {
    return record_of<RinexObsData>(object, &rinex_obs_data_type, argument);
}

const NavigationData* navigation_data(PyObject* object, const char* argument) {
    return record_of<NavigationData>(object, &navigation_data_type, argument);
}

const AnalysisResult* analysis_result(PyObject* object, const char* argument) {
    return record_of<AnalysisResult>(object, &analysis_result_type, argument);
}

bool analysis_config(PyObject* object, const char* argument, AnalysisConfig* out) {
    return guarded<bool>(
        [&] {
            SharedBorrow<AnalysisConfig> config;
            if (!borrow_analysis_config(object, argument, config)) return false;
            *out = *config;
            return true;
        },
        false);
}

template <typename Value>
PyObject* new_object(Value* record, PyTypeObject* (*type_getter)()) {
    return guarded<PyObject*>(
        [&]() -> PyObject* {
            PyTypeObject* type = type_getter();
            if (type == nullptr) return nullptr;
            return new_instance(type, std::move(*record));
        },
        nullptr);
}

PyObject* new_obs_data(RinexObsData* record) {
    return new_object(record, &rinex_obs_data_type);
}

PyObject* new_navigation_data(NavigationData* record) {
    return new_object(record, &navigation_data_type);
}

PyObject* new_analysis_result_object(AnalysisResult* record) {
    return guarded<PyObject*>([&] { return new_analysis_result(std::move(*record)); }, nullptr);
}

PyObject* new_analysis_config(AnalysisConfig* record) {
    return new_object(record, &analysis_config_type);
}

const std::string module_layout = layout_text();

const ModuleApi module_api = {
    module_layout.c_str(), &obs_data, &navigation_data, &analysis_result, &analysis_config,
    &new_obs_data, &new_navigation_data, &new_analysis_result_object, &new_analysis_config, &core_counters(),
};

}  // namespace

PyObject* new_module_api_capsule() {
    return PyCapsule_New(const_cast<ModuleApi*>(&module_api), kModuleApiName, nullptr);
}

}  // namespace vardoln::py
