// write_rinex_obs and write_rinex_nav: a recording's records as RINEX 3.04 text.
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "navigation/nav_writer.hpp"
#include "python/c_api.hpp"
#include "rinex/obs_writer.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

// "20240115 063000 UTC", the form the PGM / RUN BY / DATE line asks for, of this moment.
std::string utc_now_text() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32] = {};
    const std::size_t size = std::strftime(text, sizeof text, "%Y%m%d %H%M%S UTC", &parts);
    return std::string(text, size);
}

// The program, run-by and date arguments; a date left out is the present moment.
bool making_arguments(PyObject* program, PyObject* run_by, PyObject* date, RinexWriteSettings& settings) {
    std::optional<std::string> text;
    if (!py::text_or_absent(program, "program", text)) return false;
    if (text) settings.program = std::move(*text);
    text.reset();
    if (!py::text_or_absent(run_by, "run_by", text)) return false;
    if (text) settings.run_by = std::move(*text);
    text.reset();
    if (!py::text_or_absent(date, "date", text)) return false;
    settings.creation_date = text ? std::move(*text) : utc_now_text();
    return true;
}

// An epoch index, or None.
bool index_argument(PyObject* slot, const char* name, std::optional<std::size_t>& out) {
    if (py::is_absent(slot)) return true;
    std::uint64_t index = 0;
    if (!py::to_u64(slot, name, index)) return false;
    out = static_cast<std::size_t>(index);
    return true;
}

// Caller text cut to its 20 columns may end inside a UTF-8 sequence; that piece is replaced.
PyObject* new_text(const std::string& text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

}  // namespace

PyObject* write_rinex_obs(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig =
        py::signature("write_rinex_obs", 1, "recording_or_obs", "first", "last", "program", "run_by", "date",
                      "time_system");
    py::Slots<7> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;

    const RinexObsData* obs = nullptr;
    if (const arrays::Recording* recording = loaded_recording(slots[0])) {
        obs = &recording->obs();
    } else {
        const py::ModuleApi* api = module_api();
        if (api == nullptr) return nullptr;
        obs = api->obs_data(slots[0], "recording_or_obs");
        if (obs == nullptr) return nullptr;
    }
    RinexWriteSettings settings;
    if (!index_argument(slots[1], "first", settings.first_epoch) ||
        !index_argument(slots[2], "last", settings.last_epoch) ||
        !making_arguments(slots[3], slots[4], slots[5], settings))
        return nullptr;
    std::optional<std::string> time_system;
    if (!py::text_or_absent(slots[6], "time_system", time_system)) return nullptr;
    if (time_system) settings.time_system = std::move(*time_system);

    // Safe without the lock: the record belongs to an immutable object that the arguments keep
    // alive, and the writer only reads it into a private string.
    const std::string text = py::without_gil([&] { return write_rinex_observations(*obs, settings); });
    return new_text(text);
}

PyObject* write_rinex_nav(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("write_rinex_nav", 1, "recording_or_nav", "program", "run_by", "date");
    py::Slots<4> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;

    const NavigationData* nav = nullptr;
    if (const arrays::Recording* recording = loaded_recording(slots[0])) {
        nav = recording->nav();
        if (nav == nullptr) return py::raise_value_error("write_rinex_nav: the recording has no navigation data");
    } else {
        const py::ModuleApi* api = module_api();
        if (api == nullptr) return nullptr;
        nav = api->navigation_data(slots[0], "recording_or_nav");
        if (nav == nullptr) return nullptr;
    }
    RinexWriteSettings settings;
    if (!making_arguments(slots[1], slots[2], slots[3], settings)) return nullptr;

    // Safe without the lock: as for write_rinex_obs, an immutable record held by the arguments.
    const std::string text = py::without_gil([&] { return write_rinex_navigation(*nav, settings); });
    return new_text(text);
}

}  // namespace vardoln::tools
