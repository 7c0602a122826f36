// The module's records as the package shows them, taken from the core rather than worked out again
// in Python: the stored quality score of a result, the stored grade bands, an AnalysisConfig as
// the plain values it stores (and one made from them, unchanged), and the constellations the
// navigation data can position.
#include <limits>
#include <string>

#include "arrays/tables.hpp"
#include "cn0/quality.hpp"
#include "cn0/settings.hpp"
#include "rinex/ids.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

PyObject* optional_text(const std::optional<std::string>& text) {
    return text ? py::new_text(*text) : Py_NewRef(Py_None);
}

PyObject* optional_text_list(const std::optional<std::vector<std::string>>& items) {
    return items ? py::new_text_list(*items) : Py_NewRef(Py_None);
}

// One field of a record dict into `out`; an absent key keeps the record's value.
template <typename Convert, typename Value>
bool field(PyObject* fields, const char* name, Convert convert, Value& out) {
    PyObject* value = PyDict_GetItemString(fields, name);  // borrowed
    if (value == nullptr) return true;
    return convert(value, name, out);
}

}  // namespace

PyObject* stored_quality(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("stored_quality", 1, "result");
    py::Slots<1> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    const py::ModuleApi* api = module_api();
    if (api == nullptr) return nullptr;
    const AnalysisResult* result = api->analysis_result(slots[0], "result");
    if (result == nullptr) return nullptr;
    const QualityScoreRecord& q = result->quality_score;
    Ref dict(PyDict_New());
    if (!dict || !py::dict_set(dict.get(), "overall", py::new_float(q.overall)) ||
        !py::dict_set(dict.get(), "cn0_score", py::new_float(q.cn0_score)) ||
        !py::dict_set(dict.get(), "coverage_score", py::new_float(q.coverage_score)) ||
        !py::dict_set(dict.get(), "consistency_score", py::new_float(q.consistency_score)) ||
        !py::dict_set(dict.get(), "grade", py::new_text(q.grade)) ||
        !py::dict_set(dict.get(), "interpretation", py::new_text(q.interpretation))) {
        return nullptr;
    }
    return dict.release();
}

PyObject* grade_bands(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("grade_bands", 0);
    py::Slots<0> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    Ref bands(PyList_New(0));
    if (!bands) return nullptr;
    const auto append = [&](PyObject* lower, const GradeBand& band) {
        Ref item(Py_BuildValue("(Ns#s#)", lower, band.grade.data(), static_cast<Py_ssize_t>(band.grade.size()),
                               band.sentence.data(), static_cast<Py_ssize_t>(band.sentence.size())));
        return item && PyList_Append(bands.get(), item.get()) == 0;
    };
    for (const GradeBand& band : stored_grade_bands()) {
        if (!append(py::new_float(band.lower), band)) return nullptr;
    }
    if (!append(Py_NewRef(Py_None), lowest_stored_grade_band())) return nullptr;
    return bands.release();
}

PyObject* config_record(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("config_record", 1, "config");
    py::Slots<1> slots;
    AnalysisConfig config;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !config_argument(slots[0], config)) return nullptr;
    Ref dict(PyDict_New());
    if (!dict || !py::dict_set(dict.get(), "systems", optional_text_list(config.systems)) ||
        !py::dict_set(dict.get(), "nav_file", optional_text(config.nav_file)) ||
        !py::dict_set(dict.get(), "min_elevation", py::new_float(config.min_elevation)) ||
        !py::dict_set(dict.get(), "min_cn0", py::new_float(config.min_cn0)) ||
        !py::dict_set(dict.get(), "max_cn0", py::new_float(config.max_cn0)) ||
        !py::dict_set(dict.get(), "anomaly_threshold_low", py::new_float(config.anomaly_threshold_low)) ||
        !py::dict_set(dict.get(), "anomaly_threshold_high", py::new_float(config.anomaly_threshold_high)) ||
        !py::dict_set(dict.get(), "anomaly_threshold_critical", py::new_float(config.anomaly_threshold_critical)) ||
        !py::dict_set(dict.get(), "anomaly_sensitivity", py::new_float(config.anomaly_sensitivity)) ||
        !py::dict_set(dict.get(), "interference_threshold_db", py::new_float(config.interference_threshold_db)) ||
        !py::dict_set(dict.get(), "spoofing_unexpected_threshold", py::new_float(config.spoofing_unexpected_threshold)) ||
        !py::dict_set(dict.get(), "spoofing_min_unexpected_count", py::new_float(config.spoofing_min_unexpected_count)) ||
        !py::dict_set(dict.get(), "time_bin_seconds", py::new_int(config.time_bin_seconds)) ||
        !py::dict_set(dict.get(), "detect_anomalies", py::new_bool(config.detect_anomalies)) ||
        !py::dict_set(dict.get(), "verbose", py::new_bool(config.verbose))) {
        return nullptr;
    }
    return dict.release();
}

PyObject* analysis_config(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("analysis_config", 1, "record");
    py::Slots<1> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    if (!PyDict_Check(slots[0])) return py::raise_type_error("argument 'record': expected a dict");
    const py::ModuleApi* api = module_api();
    if (api == nullptr) return nullptr;
    PyObject* fields = slots[0];
    AnalysisConfig config;
    const auto number = [](PyObject* value, const char* name, double& out) {
        if (!py::to_double(value, name, out)) return false;
        if (std::isfinite(out)) return true;
        py::raise_value_error(std::string(name) + " must be a finite number");
        return false;
    };
    const auto text_list = [](PyObject* value, const char* name, std::optional<std::vector<std::string>>& out) {
        return py::text_list_or_absent(value, name, out);
    };
    const auto text = [](PyObject* value, const char* name, std::optional<std::string>& out) {
        return py::text_or_absent(value, name, out);
    };
    if (!field(fields, "systems", text_list, config.systems) || !field(fields, "nav_file", text, config.nav_file) ||
        !field(fields, "min_elevation", number, config.min_elevation) ||
        !field(fields, "min_cn0", number, config.min_cn0) || !field(fields, "max_cn0", number, config.max_cn0) ||
        !field(fields, "anomaly_threshold_low", number, config.anomaly_threshold_low) ||
        !field(fields, "anomaly_threshold_high", number, config.anomaly_threshold_high) ||
        !field(fields, "anomaly_threshold_critical", number, config.anomaly_threshold_critical) ||
        !field(fields, "anomaly_sensitivity", number, config.anomaly_sensitivity) ||
        !field(fields, "interference_threshold_db", number, config.interference_threshold_db) ||
        !field(fields, "spoofing_unexpected_threshold", number, config.spoofing_unexpected_threshold) ||
        !field(fields, "spoofing_min_unexpected_count", number, config.spoofing_min_unexpected_count) ||
        !field(fields, "time_bin_seconds", &py::to_u32, config.time_bin_seconds) ||
        !field(fields, "detect_anomalies", &py::to_bool, config.detect_anomalies) ||
        !field(fields, "verbose", &py::to_bool, config.verbose)) {
        return nullptr;
    }
    return api->new_analysis_config(&config);
}

PyObject* predictable_systems(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("predictable_systems", 0);
    py::Slots<0> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    std::vector<std::string> names;
    for (const char letter : arrays::kPredictableLetters) names.push_back(observed_system_name(letter));
    return py::new_text_list(names);
}

}  // namespace vardoln::tools
