// AnalysisConfig: the user-facing analysis settings, fixed once built.
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "cn0/settings.hpp"
#include "python/classes.hpp"

namespace vardoln::py {

namespace {

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

// Conversions of one argument into its field of AnalysisConfigArgs, by kind.
using Convert = bool (*)(PyObject* slot, const char* name, AnalysisConfigArgs& given);

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

// Attribute getters of the built record, by kind.
template <double AnalysisConfig::*Field>
constexpr getter number_attribute = &getter_entry<AnalysisConfig, &float_field<Field>>;
template <bool AnalysisConfig::*Field>
constexpr getter flag_attribute = &getter_entry<AnalysisConfig, &bool_field<Field>>;
constexpr getter codes_attribute = &getter_entry<AnalysisConfig, &systems>;
constexpr getter path_attribute = &getter_entry<AnalysisConfig, &nav_file>;
constexpr getter bin_attribute = &getter_entry<AnalysisConfig, &time_bin_seconds>;

// The constructor's parameters in signature order: the name, the default as the signature
// shows it (AnalysisConfigArgs' initialisers are the same defaults), the conversion into the
// argument record, and the read-only attribute of the built record with its place in the
// record's declaration order (time_bin has none: it folds into time_bin_seconds). The argument
// binding, the conversion, the class's text signature and the attributes all come from here.
struct Parameter {
    const char* name;
    const char* default_text;
    Convert convert;
    getter attribute;
    std::size_t attribute_place;
};

using Args = AnalysisConfigArgs;
using Config = AnalysisConfig;
constexpr std::size_t kNoAttribute = std::numeric_limits<std::size_t>::max();
constexpr Parameter kParameters[] = {
    // degrees; dB-Hz; dB-Hz
    {"min_elevation", "5.0", &number<&Args::min_elevation>, number_attribute<&Config::min_elevation>, 2},
    {"min_cn0", "0.0", &number<&Args::min_cn0>, number_attribute<&Config::min_cn0>, 3},
    {"max_cn0", "60.0", &number<&Args::max_cn0>, number_attribute<&Config::max_cn0>, 4},
    // seconds, time_bin read when time_bin_seconds is absent
    {"time_bin_seconds", "None", &count<&Args::time_bin_seconds>, bin_attribute, 12},
    {"time_bin", "None", &count<&Args::time_bin>, nullptr, kNoAttribute},
    // constellation codes, the first character of each counts
    {"systems", "None", &codes, codes_attribute, 0},
    // dB below the mean, before the sensitivity scaling
    {"anomaly_threshold_low", "3.0", &number<&Args::anomaly_threshold_low>,
     number_attribute<&Config::anomaly_threshold_low>, 5},
    {"anomaly_threshold_high", "6.0", &number<&Args::anomaly_threshold_high>,
     number_attribute<&Config::anomaly_threshold_high>, 6},
    {"anomaly_threshold_critical", "10.0", &number<&Args::anomaly_threshold_critical>,
     number_attribute<&Config::anomaly_threshold_critical>, 7},
    {"detect_anomalies", "True", &flag<&Args::detect_anomalies>, flag_attribute<&Config::detect_anomalies>, 13},
    // 0 to 1
    {"anomaly_sensitivity", "0.5", &number<&Args::anomaly_sensitivity>,
     number_attribute<&Config::anomaly_sensitivity>, 8},
    // dB
    {"interference_threshold_db", "6.0", &number<&Args::interference_threshold_db>,
     number_attribute<&Config::interference_threshold_db>, 9},
    {"verbose", "False", &flag<&Args::verbose>, flag_attribute<&Config::verbose>, 14},
    {"nav_file", "None", &path, path_attribute, 1},
    // share of the predicted satellites; satellites
    {"spoofing_unexpected_threshold", "0.40", &number<&Args::spoofing_unexpected_threshold>,
     number_attribute<&Config::spoofing_unexpected_threshold>, 10},
    {"spoofing_min_unexpected_count", "8.0", &number<&Args::spoofing_min_unexpected_count>,
     number_attribute<&Config::spoofing_min_unexpected_count>, 11},
};
constexpr std::size_t kParameterCount = std::size(kParameters);
constexpr std::size_t kAttributeCount = kParameterCount - 1;

// Every attribute place from 0 to kAttributeCount - 1 is taken exactly once.
static_assert([] {
    std::array<int, kAttributeCount> taken{};
    for (const Parameter& parameter : kParameters) {
        // Compared by place, not by pointer: a function pointer is no constant under the sanitizers.
        if (parameter.attribute_place == kNoAttribute) continue;
        if (parameter.attribute_place >= kAttributeCount || taken[parameter.attribute_place]++ != 0) return false;
    }
    return true;
}());

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

// The attributes in the record's declaration order, closed by the empty row.
std::array<PyGetSetDef, kAttributeCount + 1> attributes = [] {
    std::array<PyGetSetDef, kAttributeCount + 1> table{};
    for (const Parameter& parameter : kParameters) {
        if (parameter.attribute_place != kNoAttribute) {
            table[parameter.attribute_place] = {parameter.name, parameter.attribute, nullptr, nullptr, nullptr};
        }
    }
    return table;
}();

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

PyTypeObject* type_cache = nullptr;

}  // namespace

PyTypeObject* analysis_config_type() {
    static const ClassSpec definition{
        .qualified_name = "builtins.AnalysisConfig",
        .doc = class_doc(),
        .getset = attributes.data(),
        .construct = &new_entry<&construct>,
    };
    return cached_class<AnalysisConfig>(type_cache, definition);
}

bool borrow_analysis_config(PyObject* object, const char* argument, SharedBorrow<AnalysisConfig>& out) {
    PyTypeObject* type = analysis_config_type();
    return type != nullptr && borrow_instance(object, type, argument, out);
}

}  // namespace vardoln::py
