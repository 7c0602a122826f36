// AnalysisConfig: the user-facing analysis settings, fixed once built.
#include "cn0/settings.hpp"
#include "python/classes.hpp"

namespace vardoln::py {

namespace {

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr auto sig = signature(
        "AnalysisConfig", 0, "min_elevation", "min_cn0", "max_cn0", "time_bin_seconds", "time_bin", "systems",
        "anomaly_threshold_low", "anomaly_threshold_high", "anomaly_threshold_critical", "detect_anomalies",
        "anomaly_sensitivity", "interference_threshold_db", "verbose", "nav_file", "spoofing_unexpected_threshold",
        "spoofing_min_unexpected_count");
    Slots<16> slots;
    if (!bind(sig, args, kwargs, slots)) return nullptr;

    // Converted in parameter order, so the first bad keyword is the one reported.
    AnalysisConfigArgs given;
    const bool converted = double_or_default(slots[0], "min_elevation", given.min_elevation) &&
                           double_or_default(slots[1], "min_cn0", given.min_cn0) &&
                           double_or_default(slots[2], "max_cn0", given.max_cn0) &&
                           u32_or_absent(slots[3], "time_bin_seconds", given.time_bin_seconds) &&
                           u32_or_absent(slots[4], "time_bin", given.time_bin) &&
                           text_list_or_absent(slots[5], "systems", given.systems) &&
                           double_or_default(slots[6], "anomaly_threshold_low", given.anomaly_threshold_low) &&
                           double_or_default(slots[7], "anomaly_threshold_high", given.anomaly_threshold_high) &&
                           double_or_default(slots[8], "anomaly_threshold_critical", given.anomaly_threshold_critical) &&
                           bool_or_default(slots[9], "detect_anomalies", given.detect_anomalies) &&
                           double_or_default(slots[10], "anomaly_sensitivity", given.anomaly_sensitivity) &&
                           double_or_default(slots[11], "interference_threshold_db", given.interference_threshold_db) &&
                           bool_or_default(slots[12], "verbose", given.verbose) &&
                           text_or_absent(slots[13], "nav_file", given.nav_file) &&
                           double_or_default(slots[14], "spoofing_unexpected_threshold",
                                             given.spoofing_unexpected_threshold) &&
                           double_or_default(slots[15], "spoofing_min_unexpected_count",
                                             given.spoofing_min_unexpected_count);
    if (!converted) return nullptr;
    return new_instance(type, make_analysis_config(given));
}

PyObject* optional_text(const std::optional<std::string>& text) {
    return text ? new_text(*text) : Py_NewRef(Py_None);
}

PyObject* systems(const AnalysisConfig& config) {
    return config.systems ? new_text_list(*config.systems) : Py_NewRef(Py_None);
}

PyObject* nav_file(const AnalysisConfig& config) {
    return optional_text(config.nav_file);
}

template <double AnalysisConfig::*Field>
PyObject* float_field(const AnalysisConfig& config) {
    return new_float(config.*Field);
}

template <bool AnalysisConfig::*Field>
PyObject* bool_field(const AnalysisConfig& config) {
    return new_bool(config.*Field);
}

PyObject* time_bin_seconds(const AnalysisConfig& config) {
    return new_int(config.time_bin_seconds);
}

template <double AnalysisConfig::*Field>
constexpr PyGetSetDef float_attribute(const char* name) {
    return read_only<AnalysisConfig, &float_field<Field>>(name, nullptr);
}

// Declaration order of the record.
PyGetSetDef attributes[] = {
    read_only<AnalysisConfig, &systems>("systems", nullptr),
    read_only<AnalysisConfig, &nav_file>("nav_file", nullptr),
    float_attribute<&AnalysisConfig::min_elevation>("min_elevation"),
    float_attribute<&AnalysisConfig::min_cn0>("min_cn0"),
    float_attribute<&AnalysisConfig::max_cn0>("max_cn0"),
    float_attribute<&AnalysisConfig::anomaly_threshold_low>("anomaly_threshold_low"),
    float_attribute<&AnalysisConfig::anomaly_threshold_high>("anomaly_threshold_high"),
    float_attribute<&AnalysisConfig::anomaly_threshold_critical>("anomaly_threshold_critical"),
    float_attribute<&AnalysisConfig::anomaly_sensitivity>("anomaly_sensitivity"),
    float_attribute<&AnalysisConfig::interference_threshold_db>("interference_threshold_db"),
    float_attribute<&AnalysisConfig::spoofing_unexpected_threshold>("spoofing_unexpected_threshold"),
    float_attribute<&AnalysisConfig::spoofing_min_unexpected_count>("spoofing_min_unexpected_count"),
    read_only<AnalysisConfig, &time_bin_seconds>("time_bin_seconds", nullptr),
    read_only<AnalysisConfig, &bool_field<&AnalysisConfig::detect_anomalies>>("detect_anomalies", nullptr),
    read_only<AnalysisConfig, &bool_field<&AnalysisConfig::verbose>>("verbose", nullptr),
    {},
};

PyTypeObject* type_cache = nullptr;

}  // namespace

PyTypeObject* analysis_config_type() {
    static const ClassSpec definition{
        .qualified_name = "builtins.AnalysisConfig",
        .doc = "AnalysisConfig(min_elevation=5.0, min_cn0=0.0, max_cn0=60.0, time_bin_seconds=None, time_bin=None, "
               "systems=None, anomaly_threshold_low=3.0, anomaly_threshold_high=6.0, anomaly_threshold_critical=10.0, "
               "detect_anomalies=True, anomaly_sensitivity=0.5, interference_threshold_db=6.0, verbose=False, "
               "nav_file=None, spoofing_unexpected_threshold=0.40, spoofing_min_unexpected_count=8.0)\n--\n\n"
               "Python wrapper for AnalysisConfig",
        .getset = attributes,
        .construct = &new_entry<&construct>,
    };
    return cached_class<AnalysisConfig>(type_cache, definition);
}

bool borrow_analysis_config(PyObject* object, const char* argument, SharedBorrow<AnalysisConfig>& out) {
    PyTypeObject* type = analysis_config_type();
    return type != nullptr && borrow_instance(object, type, argument, out);
}

}  // namespace vardoln::py
