// read_rtcm: an RTCM 3 stream as a Recording, its observation record built by the core and
// wrapped as the module's own RinexObsData, so every table and the analysis take it.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "python/c_api.hpp"
#include "rinex/file_io.hpp"
#include "monitor/stream.hpp"
#include "navigation/rtcm_ephemeris.hpp"
#include "rtcm/epochs.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

PyObject* read_rtcm(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("read_rtcm", 1, "path_or_bytes", "gps_week", "near_gps_ms");
    py::Slots<3> slots;
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
    std::optional<std::int64_t> near_ms;
    if (!py::is_absent(slots[2])) {
        const long long near = PyLong_AsLongLong(slots[2]);
        if (near == -1 && PyErr_Occurred()) return nullptr;
        near_ms = near;
    }

    struct Read {
        RtcmStream stream;
        NavigationData navigation;
    };
    using Outcome = std::variant<Read, RtcmError, FileError>;
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
        const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        // Without a week, the stream's own ephemerides date it (their truncated weeks read near
        // the caller's clock).
        if (!gps_week && near_ms) gps_week = rtcm_first_epoch_week(data, *near_ms);
        auto stream = vardoln::read_rtcm(bytes, gps_week);
        if (auto* error = std::get_if<RtcmError>(&stream)) return std::move(*error);
        Read read{std::get<RtcmStream>(std::move(stream)), {}};
        // The ephemerides the stream carries, read near its first epoch.
        const RinexObsData& record = read.stream.record;
        const std::int64_t first_ms = record.epochs.empty() ? std::int64_t{*gps_week} * kGpsMsPerWeek
                                                            : gps_milliseconds(record.epochs.front().time);
        read.navigation = read_rtcm_navigation(data, first_ms).data;
        return read;
    });
    if (auto* error = std::get_if<FileError>(&outcome)) {
        PyErr_SetString(PyExc_OSError, (*path + ": " + error->message).c_str());
        return nullptr;
    }
    if (auto* error = std::get_if<RtcmError>(&outcome)) return py::raise_value_error(error->message);
    Read& read = std::get<Read>(outcome);
    Ref obs_object(api->new_obs_data(&read.stream.record));
    if (!obs_object) return nullptr;
    Ref nav_object;
    if (read.navigation.has_data()) {
        nav_object = Ref(api->new_navigation_data(&read.navigation));
        if (!nav_object) return nullptr;
    }
    return recording_over(obs_object.get(), nav_object.get());
}

}  // namespace vardoln::tools
