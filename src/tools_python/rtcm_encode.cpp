// write_rtcm: a recording written as an RTCM 3 stream, its observations as MSM messages and, when
// it carries navigation data, the broadcast ephemerides after the first station messages.
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "navigation/rtcm_ephemeris.hpp"
#include "rtcm/encoder.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

// The framed ephemeris messages of the navigation data (the navigation layer's encoder, above
// the RTCM one: this binding is where the two meet); empty without any.
std::vector<std::uint8_t> ephemeris_frames(const NavigationData* nav) {
    if (nav != nullptr) return encode_rtcm_ephemerides(*nav).bytes;
    return {};
}

}  // namespace

PyObject* write_rtcm(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("write_rtcm", 1, "recording", "msm", "station");
    py::Slots<3> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;

    RtcmEncodeSettings settings;
    if (!py::is_absent(slots[1])) {
        std::uint32_t level = 0;
        if (!py::to_u32(slots[1], "msm", level)) return nullptr;
        if (level < 4 || level > 7) return py::raise_value_error("msm: expected 4, 5, 6 or 7");
        settings.msm_level = static_cast<std::uint8_t>(level);
    }
    if (!py::is_absent(slots[2])) {
        std::uint32_t station = 0;
        if (!py::to_u32(slots[2], "station", station)) return nullptr;
        if (station > 4095) return py::raise_value_error("station: expected a reference station ID of 0 to 4095");
        settings.station = static_cast<std::uint16_t>(station);
    }

    // Anything but a Recording is loaded as `load` would load it.
    Ref loaded;
    const arrays::Recording* recording = loaded_recording(slots[0]);
    if (recording == nullptr) {
        PyObject* load_args[] = {slots[0]};
        loaded = Ref(load(module, load_args, 1, nullptr));
        if (!loaded) return nullptr;
        recording = loaded_recording(loaded.get());
        if (recording == nullptr) return py::raise_value_error("recording: expected a Recording");
    }

    using Outcome = std::variant<std::vector<std::uint8_t>, RtcmError>;
    // Safe without the lock: the Recording is immutable and held by the arguments (or `loaded`).
    Outcome outcome = py::without_gil([&]() -> Outcome {
        auto encoded = encode_rtcm(recording->obs(), settings);
        auto* stream = std::get_if<std::vector<std::uint8_t>>(&encoded);
        if (stream == nullptr) return encoded;
        const std::vector<std::uint8_t> ephemerides = ephemeris_frames(recording->nav());
        if (!ephemerides.empty()) {
            // Right after the first station messages, which open every stream that has epochs.
            const std::size_t station_bytes = encode_station_messages(recording->obs(), settings.station).size();
            const std::size_t at = stream->empty() ? 0 : std::min(station_bytes, stream->size());
            stream->insert(stream->begin() + static_cast<std::ptrdiff_t>(at), ephemerides.begin(), ephemerides.end());
        }
        return encoded;
    });
    if (auto* error = std::get_if<RtcmError>(&outcome)) return py::raise_value_error(error->message);
    const auto& bytes = std::get<std::vector<std::uint8_t>>(outcome);
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                     static_cast<Py_ssize_t>(bytes.size()));
}

}  // namespace vardoln::tools
