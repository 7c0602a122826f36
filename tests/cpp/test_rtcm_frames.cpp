#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "rtcm/frames.hpp"
#include "test_rtcm_support.hpp"

namespace vardoln {
namespace {

struct Reading {
    RtcmTally tally;
    std::vector<std::vector<std::uint8_t>> payloads;
    std::uint64_t frame_bytes = 0;
};

Reading read_in_chunks(std::span<const std::uint8_t> bytes, std::size_t chunk_size) {
    Reading reading;
    const RtcmFrameSink sink = [&](const RtcmFrame& frame) {
        reading.payloads.emplace_back(frame.payload.begin(), frame.payload.end());
        reading.frame_bytes += kRtcmHeaderBytes + frame.payload.size() + kRtcmCrcBytes;
    };
    RtcmFrameReader reader;
    for (std::size_t at = 0; at < bytes.size(); at += chunk_size)
        reader.feed(bytes.subspan(at, std::min(chunk_size, bytes.size() - at)), sink);
    reader.finish(sink);
    reading.tally = reader.tally();
    return reading;
}

std::vector<std::uint8_t> make_frame(const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> frame = {kRtcmPreamble, static_cast<std::uint8_t>(payload.size() >> 8),
                                       static_cast<std::uint8_t>(payload.size() & 0xFF)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    const std::uint32_t crc = crc24q(frame);
    for (const int shift : {16, 8, 0}) frame.push_back(static_cast<std::uint8_t>(crc >> shift));
    return frame;
}

TEST(RtcmFrames, Crc24qCheckValue) {
    const std::string_view digits = "123456789";  // the published check value of CRC-24Q
    EXPECT_EQ(crc24q({reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()}), 0xCDE703u);
}

TEST(RtcmFrames, StreamBuiltByHand) {
    // Text; a 1005 frame; a copy with a damaged CRC; an empty frame; then a stray 0xD3 whose
    // length runs past the end across a real 1074 frame, which must still be found.
    std::vector<std::uint8_t> stream = {'$', 'G', 'P', '\n'};
    auto damaged = make_frame({0x3E, 0xD0, 0x07});
    damaged.back() ^= 0x01;
    const std::vector<std::vector<std::uint8_t>> parts = {
        make_frame({0x3E, 0xD0, 0x01, 0x02}), damaged, make_frame({}), {kRtcmPreamble, 0x00, 0x40},
        make_frame({0x43, 0x20, 0xAA})};
    for (const auto& part : parts) stream.insert(stream.end(), part.begin(), part.end());
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{2}, stream.size()}) {
        const auto reading = read_in_chunks(stream, chunk);
        EXPECT_EQ(reading.tally.frames, 3u) << chunk;
        EXPECT_EQ(reading.tally.bad_frames, 2u) << chunk;  // the damaged CRC, the cut stray frame
        EXPECT_EQ(reading.tally.skipped_bytes, 4u + damaged.size() + 3u) << chunk;
        EXPECT_EQ(reading.tally.messages, (std::map<std::uint16_t, std::uint64_t>{{0, 1}, {1005, 1}, {1074, 1}}));
    }
}

struct RealFrameCount {
    std::string_view file;
    std::uint64_t frames;  // the "frames" column of the shared data's README
};

constexpr RealFrameCount kRealFrameCounts[] = {
    {"gnss-converters/week-rollover-STR17.rtcm3", 9384}, {"gnss-converters/missing-beidou-STR17.rtcm3", 4183},
    {"gnss-converters/week-rollover-STR24.rtcm3", 6857}, {"gnss-converters/dropped-packets-STR24.rtcm3", 7934},
    {"rtklib/GMSD7_20121014.rtcm3", 1143},               {"rtklib/testglo.rtcm3", 429},
    {"pygnssutils/pygpsdata-rtcm3.log", 1106},           {"ntripstreams/AgPartner_2.rtcm3", 251},
    {"ntripstreams/aamakinen.rtcm3", 127},               {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", 35},
    {"pyrtcm/pygpsdata-RTCM3.log", 11},                  {"pyrtcm/pygpsdata-MIXED-RTCM3.log", 7},
    {"pyrtcm/pygpsdata-RTCMMSM3.log", 3},
};

// Read whole and in chunks of 1, 7 and 4096 bytes: the same frames, and every byte either in a
// good frame or skipped.
TEST(RtcmFrames, RealStreamsWholeAndInChunks) {
    int read = 0;
    for (const auto& expected : kRealFrameCounts) {
        const auto bytes = test::rtcm_bytes(expected.file);
        if (!bytes) continue;
        ++read;
        const auto whole = read_in_chunks(*bytes, bytes->size());
        EXPECT_EQ(whole.tally.frames, expected.frames) << expected.file;
        EXPECT_EQ(whole.frame_bytes + whole.tally.skipped_bytes, bytes->size()) << expected.file;
        for (const std::size_t chunk : {1, 7, 4096}) {
            const auto pieces = read_in_chunks(*bytes, chunk);
            EXPECT_EQ(pieces.tally, whole.tally) << expected.file << " in chunks of " << chunk;
            EXPECT_TRUE(pieces.payloads == whole.payloads) << expected.file << " in chunks of " << chunk;
        }
        if (expected.file.starts_with("rtklib/GMSD7")) {
            // The last 302 bytes: a frame of 368 bytes cut short, and a 0xD3 inside it tried in turn.
            EXPECT_EQ(whole.tally.bad_frames, 2u);
        }
    }
    EXPECT_GE(read, 3) << "the bundled RTCM streams are missing";
}

TEST(RtcmFrames, CutCopiesAndNoise) {
    const auto bytes = test::rtcm_bytes("ntripstreams/AgPartner_2.rtcm3");
    ASSERT_TRUE(bytes);
    const auto whole = read_in_chunks(*bytes, bytes->size());
    for (const std::size_t cut : {bytes->size() / 3, bytes->size() / 2 + 17, bytes->size() - 1}) {
        const auto part = read_in_chunks(std::span(*bytes).first(cut), 4096);
        EXPECT_LT(part.tally.frames, whole.tally.frames) << cut;
        EXPECT_GE(part.tally.bad_frames, 1u) << cut;
    }
    // Random bytes with a preamble every 50: many bad frames, every byte accounted for.
    std::mt19937 random(20260705);
    std::vector<std::uint8_t> noise(200'000);
    for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
    for (std::size_t i = 0; i < noise.size(); i += 50) noise[i] = kRtcmPreamble;
    const auto reading = read_in_chunks(noise, 333);
    EXPECT_GT(reading.tally.bad_frames, 1000u);
    EXPECT_EQ(reading.frame_bytes + reading.tally.skipped_bytes, noise.size());
}

}  // namespace
}  // namespace vardoln
