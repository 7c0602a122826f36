// RTCM 3 frames read from a byte stream that may arrive in pieces: preamble 0xD3, six reserved
// bits, a 10-bit payload length, the payload, and a CRC-24Q over everything before it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

namespace vardoln {

inline constexpr std::uint8_t kRtcmPreamble = 0xD3;
inline constexpr std::size_t kRtcmHeaderBytes = 3;  // preamble, reserved bits and length
inline constexpr std::size_t kRtcmCrcBytes = 3;
inline constexpr std::size_t kRtcmMaxPayloadBytes = 1023;
inline constexpr std::size_t kRtcmMaxFrameBytes = kRtcmHeaderBytes + kRtcmMaxPayloadBytes + kRtcmCrcBytes;

// CRC-24Q (polynomial 0x1864CFB, initial value 0) of the bytes.
std::uint32_t crc24q(std::span<const std::uint8_t> bytes) noexcept;

// One checked frame. The payload is only valid during the call that hands it over.
struct RtcmFrame {
    std::uint16_t message_type = 0;  // first 12 bits of the payload; 0 when it is shorter than 2 bytes
    std::span<const std::uint8_t> payload;
    std::span<const std::uint8_t> bytes;  // the whole frame: header, payload and CRC
};

struct RtcmTally {
    std::uint64_t frames = 0;         // frames whose CRC matched
    std::uint64_t bad_frames = 0;     // a CRC that did not match, or a frame cut by the end of the data
    std::uint64_t skipped_bytes = 0;  // every byte outside a good frame
    std::map<std::uint16_t, std::uint64_t> messages;  // good frames by message type

    friend bool operator==(const RtcmTally&, const RtcmTally&) = default;
};

using RtcmFrameSink = std::function<void(const RtcmFrame&)>;

// Takes bytes in chunks of any size and hands every good frame to the sink, in stream order. At
// most one unfinished frame is kept between calls, so memory stays below kRtcmMaxFrameBytes
// whatever the input. A candidate frame that fails its CRC costs only its preamble byte: the
// search for the next 0xD3 starts right after it, so a real frame hidden inside is still found.
class RtcmFrameReader {
public:
    void feed(std::span<const std::uint8_t> chunk, const RtcmFrameSink& sink);
    // The end of the data: an unfinished frame is counted as bad and its bytes are searched again.
    void finish(const RtcmFrameSink& sink);

    const RtcmTally& tally() const noexcept { return tally_; }

private:
    // Reads frames from the front of the bytes; returns how many were consumed. Stops at a
    // candidate that the bytes do not yet hold whole, unless this is the end of the data.
    std::size_t scan(std::span<const std::uint8_t> bytes, bool at_end, const RtcmFrameSink& sink);
    void take_pending(std::span<const std::uint8_t>& chunk, const RtcmFrameSink& sink);

    std::array<std::uint8_t, kRtcmMaxFrameBytes> pending_{};
    std::size_t pending_size_ = 0;
    RtcmTally tally_;
};

// A payload of at most kRtcmMaxPayloadBytes framed: preamble, length, payload and CRC-24Q
// appended to `out`. False (and nothing appended) for a longer payload.
bool append_rtcm_frame(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& out);

// A whole stream at once.
RtcmTally read_rtcm_frames(std::span<const std::uint8_t> bytes, const RtcmFrameSink& sink);

}  // namespace vardoln
