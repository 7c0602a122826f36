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

struct SeenFrame {
    std::uint16_t message_type;
    std::vector<std::uint8_t> payload;
    friend bool operator==(const SeenFrame&, const SeenFrame&) = default;
};

struct Reading {
    RtcmTally tally;
    std::vector<SeenFrame> frames;
};

Reading read_in_chunks(std::span<const std::uint8_t> bytes, std::size_t chunk_size) {
    Reading reading;
    const RtcmFrameSink sink = [&](const RtcmFrame& frame) {
        reading.frames.push_back({frame.message_type, {frame.payload.begin(), frame.payload.end()}});
    };
    RtcmFrameReader reader;
    for (std::size_t at = 0; at < bytes.size(); at += chunk_size)
        reader.feed(bytes.subspan(at, std::min(chunk_size, bytes.size() - at)), sink);
    reader.finish(sink);
    reading.tally = reader.tally();
    return reading;
}

std::uint64_t frame_bytes(const Reading& reading) {
    std::uint64_t total = 0;
    for (const auto& frame : reading.frames) total += kRtcmHeaderBytes + frame.payload.size() + kRtcmCrcBytes;
    return total;
}

// A frame built from its payload, with the CRC computed here.
std::vector<std::uint8_t> make_frame(const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> frame = {kRtcmPreamble, static_cast<std::uint8_t>(payload.size() >> 8),
                                       static_cast<std::uint8_t>(payload.size() & 0xFF)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    const std::uint32_t crc = crc24q(frame);
    for (const int shift : {16, 8, 0}) frame.push_back(static_cast<std::uint8_t>(crc >> shift));
    return frame;
}

TEST(RtcmFrames, Crc24qOfAKnownMessage) {
    // The published check value of CRC-24Q over the ASCII digits 1 to 9.
    const std::string_view digits = "123456789";
    EXPECT_EQ(crc24q({reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()}), 0xCDE703u);
}

TEST(RtcmFrames, FramesBetweenOtherBytesAndAFalsePreamble) {
    // Text, a good frame of type 1005, a false preamble with a damaged CRC, and a good empty frame.
    std::vector<std::uint8_t> stream = {'$', 'G', 'P', '\n'};
    const auto first = make_frame({0x3E, 0xD0, 0x01, 0x02});
    stream.insert(stream.end(), first.begin(), first.end());
    auto damaged = make_frame({0x3E, 0xD0, 0x07});
    damaged.back() ^= 0x01;
    stream.insert(stream.end(), damaged.begin(), damaged.end());
    const auto empty = make_frame({});
    stream.insert(stream.end(), empty.begin(), empty.end());

    const auto reading = read_in_chunks(stream, stream.size());
    EXPECT_EQ(reading.tally.frames, 2u);
    EXPECT_EQ(reading.tally.bad_frames, 1u);
    EXPECT_EQ(reading.tally.skipped_bytes, 4u + damaged.size());
    EXPECT_EQ(reading.tally.messages, (std::map<std::uint16_t, std::uint64_t>{{0, 1}, {1005, 1}}));
}

TEST(RtcmFrames, AFrameInsideAFalseCandidateIsFound) {
    // A stray 0xD3 whose length runs across a real frame and past the end: the cut candidate is
    // bad at the end of the data, and the real frame inside it is still read.
    std::vector<std::uint8_t> stream = {kRtcmPreamble, 0x00, 0x40};
    const auto real = make_frame({0x43, 0x20, 0xAA});
    stream.insert(stream.end(), real.begin(), real.end());
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{2}, stream.size()}) {
        const auto reading = read_in_chunks(stream, chunk);
        EXPECT_EQ(reading.tally.frames, 1u) << chunk;
        EXPECT_EQ(reading.tally.bad_frames, 1u) << chunk;
        EXPECT_EQ(reading.tally.skipped_bytes, 3u) << chunk;
        EXPECT_EQ(reading.tally.messages.at(1074), 1u) << chunk;
    }
}

struct RealFrameCount {
    std::string_view file;
    std::uint64_t frames;
};

// The "frames" column of the shared data's README.
constexpr RealFrameCount kRealFrameCounts[] = {
    {"gnss-converters/week-rollover-STR17.rtcm3", 9384},
    {"gnss-converters/missing-beidou-STR17.rtcm3", 4183},
    {"gnss-converters/week-rollover-STR24.rtcm3", 6857},
    {"gnss-converters/dropped-packets-STR24.rtcm3", 7934},
    {"rtklib/GMSD7_20121014.rtcm3", 1143},
    {"rtklib/testglo.rtcm3", 429},
    {"pygnssutils/pygpsdata-rtcm3.log", 1106},
    {"ntripstreams/AgPartner_2.rtcm3", 251},
    {"ntripstreams/aamakinen.rtcm3", 127},
    {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", 35},
    {"pyrtcm/pygpsdata-RTCM3.log", 11},
    {"pyrtcm/pygpsdata-MIXED-RTCM3.log", 7},
    {"pyrtcm/pygpsdata-RTCMMSM3.log", 3},
};

TEST(RtcmFrames, RealStreamsHoldTheirFrameCounts) {
    int read = 0;
    for (const auto& expected : kRealFrameCounts) {
        const auto bytes = test::rtcm_bytes(expected.file);
        if (!bytes) continue;
        ++read;
        const auto reading = read_in_chunks(*bytes, bytes->size());
        EXPECT_EQ(reading.tally.frames, expected.frames) << expected.file;
        // Every byte is either in a good frame or skipped.
        EXPECT_EQ(frame_bytes(reading) + reading.tally.skipped_bytes, bytes->size()) << expected.file;
    }
    EXPECT_GE(read, 3) << "the bundled RTCM streams are missing";
}

TEST(RtcmFrames, GMSD7EndsInACutFrame) {
    const auto bytes = test::rtcm_bytes("rtklib/GMSD7_20121014.rtcm3");
    if (!bytes) GTEST_SKIP() << "rtklib/GMSD7_20121014.rtcm3 not present";
    const auto reading = read_in_chunks(*bytes, bytes->size());
    EXPECT_EQ(reading.tally.frames, 1143u);
    EXPECT_GE(reading.tally.bad_frames, 1u);
    EXPECT_EQ(reading.tally.messages.at(1077), reading.tally.messages.at(1087));
}

TEST(RtcmFrames, ChunkedReadingEqualsWholeReading) {
    for (const std::string_view file : {"ntripstreams/AgPartner_2.rtcm3", "pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log"}) {
        const auto bytes = test::rtcm_bytes(file);
        ASSERT_TRUE(bytes) << file;
        const auto whole = read_in_chunks(*bytes, bytes->size());
        for (const std::size_t chunk : {1, 7, 4096}) {
            const auto pieces = read_in_chunks(*bytes, chunk);
            EXPECT_EQ(pieces.tally, whole.tally) << file << " in chunks of " << chunk;
            EXPECT_TRUE(pieces.frames == whole.frames) << file << " in chunks of " << chunk;
        }
    }
}

TEST(RtcmFrames, DamagedCopiesAndNoiseCountBadFrames) {
    const auto bytes = test::rtcm_bytes("ntripstreams/AgPartner_2.rtcm3");
    ASSERT_TRUE(bytes);
    const auto whole = read_in_chunks(*bytes, bytes->size());
    std::mt19937 random(20260705);

    // One flipped bit in each of 40 frames: each costs its frame, and no other.
    auto garbled = *bytes;
    std::size_t at = 0;
    int flipped = 0;
    for (const auto& frame : whole.frames) {
        const std::size_t size = kRtcmHeaderBytes + frame.payload.size() + kRtcmCrcBytes;
        if (flipped < 40 && frame.payload.size() > 8) {
            garbled[at + 5] ^= 0x10;
            ++flipped;
        }
        at += size;
        while (at < garbled.size() && garbled[at] != kRtcmPreamble) ++at;
    }
    const auto reading = read_in_chunks(garbled, 7);
    EXPECT_EQ(reading.tally.frames, whole.tally.frames - 40);
    EXPECT_GE(reading.tally.bad_frames, 40u);

    // Cut copies: everything before the cut is read; the cut frame is bad.
    for (const std::size_t cut : {bytes->size() / 3, bytes->size() / 2 + 17, bytes->size() - 1}) {
        const auto part = read_in_chunks(std::span(*bytes).first(cut), 4096);
        EXPECT_LT(part.tally.frames, whole.tally.frames);
        EXPECT_GE(part.tally.bad_frames, 1u);
    }

    // Random bytes in random chunks: frames are rare, nothing crashes, every byte is accounted for.
    std::vector<std::uint8_t> noise(200'000);
    for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
    for (std::size_t i = 0; i < noise.size(); i += 50) noise[i] = kRtcmPreamble;
    const auto from_noise = read_in_chunks(noise, 333);
    EXPECT_GT(from_noise.tally.bad_frames, 1000u);
    EXPECT_EQ(frame_bytes(from_noise) + from_noise.tally.skipped_bytes, noise.size());
}

}  // namespace
}  // namespace vardoln
