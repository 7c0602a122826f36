// Any bytes as a live RTCM 3 stream: fed to the monitor whole and in chunks of a size the input
// picks, read whole as a recording with its ephemerides, dated by its own ephemerides, and taken
// as one ephemeris payload of each type. Traps when the chunked feeding gives other events than
// the whole one, or when the windows hold other epochs than the monitor assembled.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "monitor/stream.hpp"
#include "navigation/rtcm_ephemeris.hpp"
#include "rtcm/epochs.hpp"

namespace {

struct Seen {
    std::vector<int> kinds;
    std::vector<std::int64_t> times;
    std::uint64_t window_epochs = 0;
    std::uint64_t epochs = 0;
};

Seen monitor(std::span<const std::uint8_t> bytes, std::size_t chunk) {
    vardoln::MonitorSettings settings;
    settings.gps_week = 2300;
    settings.window_s = 60.0;
    vardoln::MonitorStream stream(settings);
    Seen seen;
    const auto take = [&](const std::vector<vardoln::MonitorEvent>& events) {
        for (const auto& event : events) {
            seen.kinds.push_back(static_cast<int>(event.kind));
            seen.times.push_back(event.kind == vardoln::MonitorEvent::Kind::alarm    ? event.alarm.first_ms
                                 : event.kind == vardoln::MonitorEvent::Kind::window ? event.window.start_ms
                                                                                     : event.at_ms);
            if (event.kind == vardoln::MonitorEvent::Kind::window) seen.window_epochs += event.window.epochs;
        }
    };
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
        take(stream.feed(bytes.subspan(at, std::min(chunk, bytes.size() - at))));
    take(stream.finish());
    seen.epochs = stream.status().epochs;
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const Seen whole = monitor(bytes, std::max<std::size_t>(size, 1));
    const Seen pieces = monitor(bytes, size > 0 ? 1u + data[0] % 97u : 1u);
    if (whole.kinds != pieces.kinds || whole.times != pieces.times || whole.epochs != pieces.epochs)
        __builtin_trap();
    if (whole.window_epochs != whole.epochs) __builtin_trap();

    (void)vardoln::read_rtcm(std::string_view(reinterpret_cast<const char*>(data), size), 2300);
    (void)vardoln::read_rtcm_navigation(bytes, std::int64_t{2300} * vardoln::kGpsMsPerWeek);
    (void)vardoln::rtcm_first_epoch_week(bytes, std::int64_t{2300} * vardoln::kGpsMsPerWeek);
    for (const std::uint16_t type : {1019, 1020, 1042, 1044, 1045, 1046}) {
        std::vector<std::uint8_t> payload(bytes.begin(), bytes.end());
        if (payload.size() >= 2) {
            payload[0] = static_cast<std::uint8_t>(type >> 4);
            payload[1] = static_cast<std::uint8_t>((payload[1] & 0x0F) | ((type & 0x0F) << 4));
        }
        (void)vardoln::decode_rtcm_ephemeris(payload, std::int64_t{2300} * vardoln::kGpsMsPerWeek);
    }
    return 0;
}
