// AnalysisConfig: the user-facing analysis settings, fixed once built.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "cn0/settings.hpp"
#include "python/classes.hpp"

namespace vardoln::py {

namespace {

// The constructor's parameters in signature order: the name, the default as the signature
// shows it, and how the argument is converted into its field of AnalysisConfigArgs (whose own
// initialisers are the same defaults). The signature, the conversion and the class's text
// signature all come from this table.
struct Parameter {
    const char* name;
    const char* default_text;
    bool (*convert)(PyObject* slot, const char* name, AnalysisConfigArgs& given);
};

template <double AnalysisConfigArgs::*Field>
bool number(PyObject* slot, const char* name, AnalysisConfigArgs& given) {
    return double_or_default(slot, name, given.*Field);
}

template <bool AnalysisConfigArgs::*Field>
bool flag(PyObject* slot, const char* name, AnalysisConfigArgs& given) {
    return bool_or_default(slot, name, given.*Field);
}

template <std::optional<std::uint32_t> AnalysisConfigArgs::*Field>
bool count(PyObject* slot, const char* name, AnalysisConfigArgs& given) {
    return u32_or_absent(slot, name, given.*Field);
}

bool codes(PyObject* slot, const char* name, AnalysisConfigArgs& given) {
    return text_list_or_absent(slot, name, given.systems);
}

bool path(PyObject* slot, const char* name, AnalysisConfigArgs& given) {
    return text_or_absent(slot, name, given.nav_file);
}

using Args = AnalysisConfigArgs;
constexpr Parameter kParameters[] = {
    {"min_elevation", "5.0", &number<&Args::min_elevation>},  // degrees
    {"min_cn0", "0.0", &number<&Args::min_cn0>},              // dB-Hz
    {"max_cn0", "60.0", &number<&Args::max_cn0>},             // dB-Hz
    {"time_bin_seconds", "None", &count<&Args::time_bin_seconds>},
    {"time_bin", "None", &count<&Args::time_bin>},  // seconds, read when time_bin_seconds is absent
    {"systems", "None", &codes},                    // constellation codes, first character counts
    {"anomaly_threshold_low", "3.0", &number<&Args::anomaly_threshold_low>},            // dB
    {"anomaly_threshold_high", "6.0", &number<&Args::anomaly_threshold_high>},          // dB
    {"anomaly_threshold_critical", "10.0", &number<&Args::anomaly_threshold_critical>},  // dB
    {"detect_anomalies", "True", &flag<&Args::detect_anomalies>},
    {"anomaly_sensitivity", "0.5", &number<&Args::anomaly_sensitivity>},              // 0 to 1
    {"interference_threshold_db", "6.0", &number<&Args::interference_threshold_db>},  // dB
    {"verbose", "False", &flag<&Args::verbose>},
    {"nav_file", "None", &path},
    {"spoofing_unexpected_threshold", "0.40", &number<&Args::spoofing_unexpected_threshold>},  // share
    {"spoofing_min_unexpected_count", "8.0", &number<&Args::spoofing_min_unexpected_count>},   // satellites
};
constexpr std::size_t kParameterCount = std::size(kParameters);

constexpr Signature<kParameterCount> kSignature = [] {
    Signature<kParameterCount> sig{"AnalysisConfig", 0, {}};
    for (std::size_t k = 0; k < kParameterCount; ++k) sig.names[k] = kParameters[k].name;
    return sig;
}();

// "AnalysisConfig(min_elevation=5.0, ...)\n--\n\nPython wrapper for AnalysisConfig", made once.
const char* class_doc() {
    static const std::string doc = [] {
        std::string text = "AnalysisConfig(";
        for (std::size_t k = 0; k < kParameterCount; ++k) {
            if (k != 0) text += ", ";
            text += kParameters[k].name;
            text += '=';
            text += kParameters[k].default_text;
        }
        return text + ")\n--\n\nPython wrapper for AnalysisConfig";
    }();
    return doc.c_str();
}

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Slots<kParameterCount> slots;
    if (!bind(kSignature, args, kwargs, slots)) return nullptr;
    // Converted in parameter order, so the first bad keyword is the one reported.
    AnalysisConfigArgs given;
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        if (!kParameters[k].convert(slots[k], kParameters[k].name, given)) return nullptr;
    }
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
        .doc = class_doc(),
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
