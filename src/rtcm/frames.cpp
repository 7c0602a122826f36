#include "rtcm/frames.hpp"

#include <algorithm>
#include <cstring>

namespace vardoln {

namespace {

constexpr std::array<std::uint32_t, 256> make_crc24q_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte << 16;
        for (int bit = 0; bit < 8; ++bit) {
            crc <<= 1;
            if (crc & 0x1000000u) crc ^= 0x1864CFBu;
        }
        table[byte] = crc & 0xFFFFFFu;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrc24qTable = make_crc24q_table();

// The same register after one and two more zero bytes: three message bytes fill the 24-bit
// register at once, each then pushed through by its own table.
constexpr std::array<std::uint32_t, 256> shifted_table(const std::array<std::uint32_t, 256>& table) {
    std::array<std::uint32_t, 256> next{};
    for (std::size_t byte = 0; byte < 256; ++byte)
        next[byte] = ((table[byte] << 8) & 0xFFFFFFu) ^ kCrc24qTable[(table[byte] >> 16) & 0xFFu];
    return next;
}
constexpr std::array<std::uint32_t, 256> kCrc24qTable1 = shifted_table(kCrc24qTable);
constexpr std::array<std::uint32_t, 256> kCrc24qTable2 = shifted_table(kCrc24qTable1);

// The whole length of the frame whose first three bytes are given.
std::size_t frame_size(const std::uint8_t* header) noexcept {
    const std::size_t payload = (static_cast<std::size_t>(header[1] & 0x03u) << 8) | header[2];
    return kRtcmHeaderBytes + payload + kRtcmCrcBytes;
}

bool crc_matches(std::span<const std::uint8_t> frame) noexcept {
    const std::size_t body = frame.size() - kRtcmCrcBytes;
    const std::uint32_t stored = (static_cast<std::uint32_t>(frame[body]) << 16) |
                                 (static_cast<std::uint32_t>(frame[body + 1]) << 8) | frame[body + 2];
    return crc24q(frame.first(body)) == stored;
}

}  // namespace

std::uint32_t crc24q(std::span<const std::uint8_t> bytes) noexcept {
    std::uint32_t crc = 0;
    std::size_t at = 0;
    for (; at + 3 <= bytes.size(); at += 3) {
        const std::uint32_t x = crc ^ ((static_cast<std::uint32_t>(bytes[at]) << 16) |
                                       (static_cast<std::uint32_t>(bytes[at + 1]) << 8) | bytes[at + 2]);
        crc = kCrc24qTable2[x >> 16] ^ kCrc24qTable1[(x >> 8) & 0xFFu] ^ kCrc24qTable[x & 0xFFu];
    }
    for (; at < bytes.size(); ++at)
        crc = ((crc << 8) & 0xFFFFFFu) ^ kCrc24qTable[((crc >> 16) ^ bytes[at]) & 0xFFu];
    return crc;
}

std::size_t RtcmFrameReader::scan(std::span<const std::uint8_t> bytes, bool at_end, const RtcmFrameSink& sink) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes[at] != kRtcmPreamble) {
            const auto* next = std::find(bytes.data() + at, bytes.data() + bytes.size(), kRtcmPreamble);
            const auto skipped = static_cast<std::size_t>(next - (bytes.data() + at));
            tally_.skipped_bytes += skipped;
            at += skipped;
            continue;
        }
        const std::size_t left = bytes.size() - at;
        const std::size_t size = left >= kRtcmHeaderBytes ? frame_size(bytes.data() + at) : kRtcmMaxFrameBytes;
        if (left < size) {
            if (!at_end) return at;
            // Cut by the end of the data: bad, and whatever follows its preamble is searched again.
            ++tally_.bad_frames;
            ++tally_.skipped_bytes;
            ++at;
            continue;
        }
        const auto frame = bytes.subspan(at, size);
        if (!crc_matches(frame)) {
            ++tally_.bad_frames;
            ++tally_.skipped_bytes;
            ++at;
            continue;
        }
        RtcmFrame found;
        found.bytes = frame;
        found.payload = frame.subspan(kRtcmHeaderBytes, size - kRtcmHeaderBytes - kRtcmCrcBytes);
        if (found.payload.size() >= 2)
            found.message_type = static_cast<std::uint16_t>((found.payload[0] << 4) | (found.payload[1] >> 4));
        ++tally_.frames;
        ++tally_.messages[found.message_type];
        sink(found);
        at += size;
    }
    return at;
}

// Completes the unfinished frame from the front of the chunk, a few bytes at a time: only as
// many as the candidate at the front of the pending bytes still needs, so that the pending
// buffer never grows past one frame.
void RtcmFrameReader::take_pending(std::span<const std::uint8_t>& chunk, const RtcmFrameSink& sink) {
    while (pending_size_ > 0 && !chunk.empty()) {
        const std::size_t wanted =
            pending_size_ >= kRtcmHeaderBytes ? frame_size(pending_.data()) : kRtcmHeaderBytes;
        const std::size_t taken = std::min(wanted - pending_size_, chunk.size());
        std::memcpy(pending_.data() + pending_size_, chunk.data(), taken);
        pending_size_ += taken;
        chunk = chunk.subspan(taken);
        const std::size_t used = scan(std::span(pending_.data(), pending_size_), false, sink);
        std::memmove(pending_.data(), pending_.data() + used, pending_size_ - used);
        pending_size_ -= used;
    }
}

void RtcmFrameReader::feed(std::span<const std::uint8_t> chunk, const RtcmFrameSink& sink) {
    take_pending(chunk, sink);
    if (chunk.empty()) return;
    // Nothing pending: frames are read in place, and only an unfinished tail is kept.
    const std::size_t used = scan(chunk, false, sink);
    const std::size_t rest = chunk.size() - used;
    std::memcpy(pending_.data(), chunk.data() + used, rest);
    pending_size_ = rest;
}

void RtcmFrameReader::finish(const RtcmFrameSink& sink) {
    (void)scan(std::span(pending_.data(), pending_size_), true, sink);
    pending_size_ = 0;
}

RtcmTally read_rtcm_frames(std::span<const std::uint8_t> bytes, const RtcmFrameSink& sink) {
    RtcmFrameReader reader;
    reader.feed(bytes, sink);
    reader.finish(sink);
    return reader.tally();
}

bool append_rtcm_frame(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& out) {
    if (payload.size() > kRtcmMaxPayloadBytes) return false;
    const std::size_t start = out.size();
    out.push_back(kRtcmPreamble);
    out.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
    out.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
    out.insert(out.end(), payload.begin(), payload.end());
    const std::uint32_t crc = crc24q(std::span<const std::uint8_t>(out.data() + start, out.size() - start));
    out.push_back(static_cast<std::uint8_t>(crc >> 16));
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
    out.push_back(static_cast<std::uint8_t>(crc));
    return true;
}

}  // namespace vardoln
