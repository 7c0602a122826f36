// Any bytes as an RTCM 3 stream, read whole and in chunks, every good frame decoded; then the
// bytes themselves as one payload of each decoder, since a frame of random bytes rarely passes
// its CRC. Traps when the chunked reading differs from the whole one, a byte goes uncounted or
// an epoch in GPS time leaves the week.
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "rtcm/frames.hpp"
#include "rtcm/legacy.hpp"
#include "rtcm/msm.hpp"
#include "rtcm/station.hpp"

namespace {

void decode(std::uint16_t message_type, std::span<const std::uint8_t> payload) {
    if (vardoln::msm_kind(message_type)) {
        const auto result = vardoln::decode_msm(payload);
        if (const auto* message = std::get_if<vardoln::MsmMessage>(&result)) {
            const auto own_day = vardoln::msm_gps_time_of_week_ms(*message, 18);
            const auto nearest = vardoln::msm_gps_time_of_week_ms(*message, 18, message->epoch_ms);
            if ((own_day && *own_day >= vardoln::kMillisecondsPerWeek) ||
                (nearest && *nearest >= vardoln::kMillisecondsPerWeek))
                __builtin_trap();
        }
    }
    if (vardoln::is_legacy_observation(message_type)) (void)vardoln::decode_legacy_observations(payload);
    if (message_type == 1005 || message_type == 1006) (void)vardoln::decode_antenna_reference_point(payload);
    if (message_type == 1033) (void)vardoln::decode_receiver_descriptors(payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    std::vector<std::size_t> whole_sizes;
    std::uint64_t frame_bytes = 0;
    const auto whole = vardoln::read_rtcm_frames(bytes, [&](const vardoln::RtcmFrame& frame) {
        whole_sizes.push_back(frame.payload.size());
        frame_bytes += frame.payload.size() + vardoln::kRtcmHeaderBytes + vardoln::kRtcmCrcBytes;
        decode(frame.message_type, frame.payload);
    });
    if (frame_bytes + whole.skipped_bytes != size) __builtin_trap();

    const std::size_t chunk = size > 0 ? 1u + data[0] % 64u : 1u;
    std::vector<std::size_t> chunked_sizes;
    vardoln::RtcmFrameReader reader;
    const vardoln::RtcmFrameSink sink = [&](const vardoln::RtcmFrame& frame) {
        chunked_sizes.push_back(frame.payload.size());
    };
    for (std::size_t at = 0; at < size; at += chunk) reader.feed(bytes.subspan(at, std::min(chunk, size - at)), sink);
    reader.finish(sink);
    if (!(reader.tally() == whole) || chunked_sizes != whole_sizes) __builtin_trap();

    if (size >= 2) {
        const auto message_type = static_cast<std::uint16_t>((data[0] << 4) | (data[1] >> 4));
        decode(message_type, bytes);
    }
    return 0;
}
