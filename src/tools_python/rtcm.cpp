// read_rtcm: an RTCM 3 stream as a Recording, its observation record built by the core and
// wrapped as the module's own RinexObsData, so every table and the analysis take it.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "python/c_api.hpp"
#include "rinex/file_io.hpp"
#include "rtcm/epochs.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

PyObject* read_rtcm(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("read_rtcm", 1, "path_or_bytes", "gps_week");
    py::Slots<2> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    const py::ModuleApi* api = module_api();
    if (api == nullptr) return nullptr;

    std::optional<std::string> path;
    std::string_view given_bytes;
    if (PyUnicode_Check(slots[0])) {
        std::string_view text;
        if (!py::to_text(slots[0], "path_or_bytes", text)) return nullptr;
        path = std::string(text);
    } else if (!py::to_bytes(slots[0], "path_or_bytes", given_bytes)) {
        return nullptr;
    }
    std::optional<int> gps_week;
    if (!py::is_absent(slots[1])) {
        std::uint32_t week = 0;
        if (!py::to_u32(slots[1], "gps_week", week)) return nullptr;
        if (week > 100'000) return py::raise_value_error("gps_week: expected a GPS week number");
        gps_week = static_cast<int>(week);
    }

    using Outcome = std::variant<RtcmStream, RtcmError, FileError>;
    // Safe without the lock: the bytes object is immutable and held by the arguments.
    Outcome outcome = py::without_gil([&]() -> Outcome {
        std::string storage;
        std::string_view bytes = given_bytes;
        if (path) {
            auto read = read_whole_file(*path);
            if (auto* error = std::get_if<FileError>(&read)) return std::move(*error);
            storage = std::get<std::string>(std::move(read));
            bytes = storage;
        }
        auto stream = vardoln::read_rtcm(bytes, gps_week);
        if (auto* error = std::get_if<RtcmError>(&stream)) return std::move(*error);
        return std::get<RtcmStream>(std::move(stream));
    });
    if (auto* error = std::get_if<FileError>(&outcome)) {
        PyErr_SetString(PyExc_OSError, (*path + ": " + error->message).c_str());
        return nullptr;
    }
    if (auto* error = std::get_if<RtcmError>(&outcome)) return py::raise_value_error(error->message);
    Ref obs_object(api->new_obs_data(&std::get<RtcmStream>(outcome).record));
    if (!obs_object) return nullptr;
    return recording_over(obs_object.get(), nullptr);
}

}  // namespace vardoln::tools
