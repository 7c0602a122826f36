// RinexObsData: one parsed observation file and the queries on it, plus the three reading
// functions that make such objects.
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "archive/readers.hpp"
#include "python/classes.hpp"
#include "rinex/file_io.hpp"
#include "rinex/numbers.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::py {

namespace {

std::string join(const std::vector<std::string>& items, std::string_view separator) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text.append(separator);
        text.append(items[i]);
    }
    return text;
}

// --- attributes ---

PyObject* num_epochs(const RinexObsData& data) {
    return new_int(data.epochs.size());
}

PyObject* num_satellites(const RinexObsData& data) {
    return new_int(unique_satellites(data).size());
}

PyObject* version(const RinexObsData& data) {
    return new_float(data.version);
}

PyObject* marker_name(const RinexObsData& data) {
    return new_text(data.marker_name);
}

PyObject* receiver_type(const RinexObsData& data) {
    return new_text(data.receiver_type);
}

PyObject* interval(const RinexObsData& data) {
    return new_float(data.interval);
}

// --- methods ---

PyObject* satellites_by_system_method(const RinexObsData& data) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [letter, satellites] : satellites_by_system(data)) {
        if (!dict_set(dict.get(), letter, new_text_list(satellites))) return nullptr;
    }
    return dict.release();
}

PyObject* obs_types_by_system(const RinexObsData& data) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (const ObsTypeList& list : data.obs_types) {
        if (!dict_set(dict.get(), list.system, new_text_list(list.codes))) return nullptr;
    }
    return dict.release();
}

PyObject* snr_availability(const RinexObsData& data) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (const ObsTypeList& list : data.obs_types) {
        bool has_snr = false;
        for (const std::string& code : list.codes) has_snr = has_snr || is_signal_strength_code(code);
        if (!dict_set(dict.get(), list.system, new_bool(has_snr))) return nullptr;
    }
    return dict.release();
}

PyObject* debug_info(const RinexObsData& data) {
    std::vector<std::pair<std::string, std::string>> entries;
    entries.emplace_back("version", format_fixed(data.version, 2));
    entries.emplace_back("num_epochs", std::to_string(data.epochs.size()));
    entries.emplace_back("num_satellites", std::to_string(unique_satellites(data).size()));
    for (const auto& [letter, satellites] : satellites_by_system(data)) {
        entries.emplace_back(letter + "_satellites", std::to_string(satellites.size()));
        entries.emplace_back(letter + "_sat_list", join(satellites, ","));
    }
    for (const ObsTypeList& list : data.obs_types) {
        std::vector<std::string> snr_codes;
        for (const std::string& code : list.codes) {
            if (is_signal_strength_code(code)) snr_codes.push_back(code);
        }
        entries.emplace_back(list.system + "_obs_types_count", std::to_string(list.codes.size()));
        entries.emplace_back(list.system + "_obs_types", join(list.codes, ","));
        entries.emplace_back(list.system + "_snr_types", join(snr_codes, ","));
    }
    return new_text_dict(entries);
}

PyObject* snr_stats_by_satellite(const RinexObsData& data) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (const SnrStats& entry : vardoln::snr_stats_by_satellite(data)) {
        Ref stats(PyDict_New());
        if (!stats) return nullptr;
        if (!dict_set(stats.get(), "obs_count", new_float(static_cast<double>(entry.observations))) ||
            !dict_set(stats.get(), "valid_count", new_float(static_cast<double>(entry.valid))) ||
            !dict_set(stats.get(), "mean_snr", new_float(entry.mean_snr))) {
            return nullptr;
        }
        if (!dict_set(dict.get(), data.satellite_ids[entry.satellite], stats.release())) return nullptr;
    }
    return dict.release();
}

PyObject* repr(const RinexObsData& data) {
    std::string text = "RinexObsData(version=";
    text.append(format_fixed(data.version, 2));
    text.append(", epochs=").append(std::to_string(data.epochs.size()));
    text.append(", satellites=").append(std::to_string(unique_satellites(data).size())).append(")");
    return new_text(text);
}

// --- reading functions ---

PyObject* wrap(std::variant<RinexObsData, ParseError>&& parsed) {
    if (auto* error = std::get_if<ParseError>(&parsed)) return raise_value_error(error->message);
    PyTypeObject* type = rinex_obs_data_type();
    if (type == nullptr) return nullptr;
    return new_instance(type, std::get<RinexObsData>(std::move(parsed)));
}

PyObject* read_rinex_obs(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = signature("read_rinex_obs", 1, "path");
    Slots<1> slots;
    std::string_view path;
    if (!bind(sig, args, nargsf, kwnames, slots) || !to_text(slots[0], "path", path)) return nullptr;
    auto bytes = read_whole_file(std::string(path));
    if (auto* error = std::get_if<FileError>(&bytes)) return raise_os_error(error->message);
    // The record keeps no file name; the name only stands in for a missing marker name.
    return wrap(read_observation_bytes(std::get<std::string>(bytes), file_name_of(path)));
}

template <const Signature<2>& Sig>
PyObject* read_from_bytes(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    Slots<2> slots;
    std::string_view data;
    std::string_view filename;
    if (!bind(Sig, args, nargsf, kwnames, slots) || !to_bytes(slots[0], "data", data) ||
        !to_text(slots[1], "filename", filename)) {
        return nullptr;
    }
    return wrap(read_observation_bytes(data, filename));
}

constexpr auto read_bytes_signature = signature("read_rinex_obs_bytes", 2, "data", "filename");
constexpr auto parse_rinex_signature = signature("parse_rinex", 2, "data", "filename");

PyMethodDef read_rinex_obs_method =
    fastcall_method<&read_rinex_obs>("read_rinex_obs", "read_rinex_obs(path)\n--\n\nRead RINEX observation file from path");
PyMethodDef read_rinex_obs_bytes_method = fastcall_method<&read_from_bytes<read_bytes_signature>>(
    "read_rinex_obs_bytes", "read_rinex_obs_bytes(data, filename)\n--\n\nRead RINEX observation file from bytes");
PyMethodDef parse_rinex_method = fastcall_method<&read_from_bytes<parse_rinex_signature>>(
    "parse_rinex", "parse_rinex(data, filename)\n--\n\nAlias for read_rinex_obs_bytes - parse RINEX from bytes");

PyGetSetDef attributes[] = {
    read_only<RinexObsData, &num_epochs>("num_epochs", "Get number of epochs"),
    read_only<RinexObsData, &num_satellites>("num_satellites", "Get number of satellites"),
    read_only<RinexObsData, &version>("version", "Get RINEX version"),
    read_only<RinexObsData, &marker_name>("marker_name", "Get marker name"),
    read_only<RinexObsData, &receiver_type>("receiver_type", "Get receiver type"),
    read_only<RinexObsData, &interval>("interval", "Get interval"),
    {},
};

PyMethodDef methods[] = {
    read_method<RinexObsData, &satellites_by_system_method>(
        "satellites_by_system",
        "satellites_by_system($self)\n--\n\nGet satellites grouped by constellation system\n"
        "Returns dict like {'G': ['G01', 'G02', ...], 'R': ['R01', ...], ...}"),
    read_method<RinexObsData, &obs_types_by_system>(
        "obs_types_by_system",
        "obs_types_by_system($self)\n--\n\nGet observation types by constellation system\n"
        "Returns dict like {'G': ['C1C', 'L1C', 'S1C', ...], 'C': ['C1I', 'L1I', 'S1I', ...], ...}"),
    read_method<RinexObsData, &snr_availability>(
        "snr_availability", "snr_availability($self)\n--\n\nCheck if S (SNR) observations exist for each system"),
    read_method<RinexObsData, &debug_info>("debug_info",
                                           "debug_info($self)\n--\n\nGet detailed debug info about parsing"),
    read_method<RinexObsData, &snr_stats_by_satellite>(
        "snr_stats_by_satellite",
        "snr_stats_by_satellite($self)\n--\n\nGet SNR statistics per satellite\n"
        "Returns HashMap with satellite ID as key, stats dict as value"),
    {},
};

PyTypeObject* type_cache = nullptr;

}  // namespace

PyTypeObject* rinex_obs_data_type() {
    static const ClassSpec definition{
        .qualified_name = "builtins.RinexObsData",
        .doc = "Python wrapper for RinexObsData",
        .methods = methods,
        .getset = attributes,
        .repr = &repr_entry<RinexObsData, &repr>,
    };
    return cached_class<RinexObsData>(type_cache, definition);
}

bool borrow_rinex_obs_data(PyObject* object, const char* argument, SharedBorrow<RinexObsData>& out) {
    PyTypeObject* type = rinex_obs_data_type();
    return type != nullptr && borrow_instance(object, type, argument, out);
}

PyMethodDef* read_rinex_obs_def() {
    return &read_rinex_obs_method;
}

PyMethodDef* read_rinex_obs_bytes_def() {
    return &read_rinex_obs_bytes_method;
}

PyMethodDef* parse_rinex_def() {
    return &parse_rinex_method;
}

}  // namespace vardoln::py
