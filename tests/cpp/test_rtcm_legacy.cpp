#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

#include "rtcm/bits.hpp"
#include "rtcm/frames.hpp"
#include "rtcm/legacy.hpp"
#include "rtcm/station.hpp"
#include "test_rtcm_support.hpp"

namespace vardoln {
namespace {

// The messages of one type in a stream, each decoded; a failure fails the test.
template <typename Record, typename Decoder>
std::vector<Record> messages_of(std::string_view file, std::uint16_t type, Decoder decode) {
    std::vector<Record> records;
    const auto bytes = test::rtcm_bytes(file);
    if (!bytes) return records;
    read_rtcm_frames(*bytes, [&](const RtcmFrame& frame) {
        if (frame.message_type != type) return;
        auto result = decode(frame.payload);
        if (const auto* failure = std::get_if<RtcmError>(&result))
            ADD_FAILURE() << failure->message;
        else
            records.push_back(std::move(std::get<Record>(result)));
    });
    return records;
}

TEST(RtcmLegacy, Gps1004BuiltByHand) {
    BitWriter out;
    out.put(1004, 12).put(7, 12).put(345'600'000, 30).put(0, 1).put(1, 5).put(0, 4);
    // SBAS ID 43 (PRN 123): L1 with 130 whole light-ms, its phase marked invalid, C/N0 not
    // computed; L2 a pseudorange 1 m longer, 30 dB-Hz.
    out.put(43, 6).put(1, 1).put(5, 24).put(-524288, 20).put(0, 7).put(130, 8).put(0, 8);
    out.put(0, 2).put(50, 14).put(40, 20).put(1, 7).put(120, 8);
    const auto result = decode_legacy_observations(out.bytes());
    ASSERT_TRUE(std::holds_alternative<LegacyMessage>(result)) << std::get<RtcmError>(result).message;
    const auto& message = std::get<LegacyMessage>(result);
    EXPECT_EQ(message.epoch_ms, 345'600'000u);
    ASSERT_EQ(message.observations.size(), 1u);
    const auto& sbas = message.observations[0];
    const double l1 = 5 * 0.02 + 130 * kSpeedOfLight_m_s / 1000.0;
    EXPECT_EQ(legacy_satellite_key(GnssSystem::Gps, sbas.satellite_id), "S23");
    EXPECT_DOUBLE_EQ(*sbas.l1.pseudorange_m, l1);
    EXPECT_FALSE(sbas.l1.phase_range_m);
    EXPECT_FALSE(sbas.l1.cn0_dbhz);
    EXPECT_DOUBLE_EQ(*sbas.l2->pseudorange_m, l1 + 1.0);
    EXPECT_DOUBLE_EQ(*sbas.l2->phase_range_m, l1 + 0.02);
    EXPECT_EQ(sbas.l2->cn0_dbhz, 30.0);
    for (std::size_t cut = 0; cut < out.bytes().size(); ++cut)
        EXPECT_TRUE(std::holds_alternative<RtcmError>(decode_legacy_observations(std::span(out.bytes()).first(cut))));
}

TEST(RtcmLegacy, DescriptorTextsStayInsideTheMessage) {
    BitWriter out;
    out.put(1033, 12).put(0, 12).put(1, 8).put('A', 8).put(0, 8).put(0, 8);
    out.put(200, 8).put('R', 8).put('X', 8);  // a receiver name that claims 200 characters and has 2
    const auto result = decode_receiver_descriptors(out.bytes());
    ASSERT_TRUE(std::holds_alternative<RtcmError>(result));
    EXPECT_EQ(std::get<RtcmError>(result).message, "RTCM 1033: a text runs past the end of the message");
}

// The numbers below agree, field by field, with an independent decoder over every legacy
// observation and station message of these files.
TEST(RtcmLegacy, TestgloGpsAndGlonass) {
    const char* file = "rtklib/testglo.rtcm3";
    const auto gps = messages_of<LegacyMessage>(file, 1004, decode_legacy_observations);
    const auto glonass = messages_of<LegacyMessage>(file, 1012, decode_legacy_observations);
    ASSERT_EQ(gps.size(), 186u);
    ASSERT_EQ(glonass.size(), 186u);
    std::size_t observations = 0;
    for (const auto& message : gps) observations += message.observations.size();
    for (const auto& message : glonass) observations += message.observations.size();
    EXPECT_EQ(observations, 2046u + 1100u);

    EXPECT_EQ(gps[0].epoch_ms, 515'220'000u);  // Friday 23:07:00 GPS
    const auto& g03 = gps[0].observations[0];
    EXPECT_EQ(legacy_satellite_key(GnssSystem::Gps, g03.satellite_id), "G03");
    EXPECT_NEAR(*g03.l1.pseudorange_m, 20213931.126, 0.0005);
    EXPECT_NEAR(*g03.l1.phase_range_m, 20213931.1935, 0.00005);
    EXPECT_EQ(g03.l1.cn0_dbhz, 50.0);
    EXPECT_EQ(g03.l2->code_indicator, 3);
    EXPECT_NEAR(*g03.l2->pseudorange_m, 20213930.686, 0.0005);
    EXPECT_EQ(g03.l2->cn0_dbhz, 42.25);

    EXPECT_EQ(glonass[0].epoch_ms, 7'605'000u);  // 02:06:45 Moscow time
    const auto& r14 = glonass[0].observations[0];
    EXPECT_EQ(legacy_satellite_key(GnssSystem::Glonass, r14.satellite_id), "R14");
    EXPECT_EQ(r14.glonass_channel, -7);
    EXPECT_NEAR(*r14.l1.pseudorange_m, 19271851.392, 0.0005);
    EXPECT_EQ(r14.l1.cn0_dbhz, 49.0);
    EXPECT_EQ(r14.l2->cn0_dbhz, 43.0);

    const auto points = messages_of<AntennaReferencePoint>(file, 1005, decode_antenna_reference_point);
    ASSERT_EQ(points.size(), 19u);
    EXPECT_NEAR(points[0].ecef_m[0], -3869297.5138, 1e-5);
    EXPECT_NEAR(points[0].ecef_m[1], 3436571.3345, 1e-5);
    EXPECT_NEAR(points[0].ecef_m[2], 3717369.3757, 1e-5);
}

TEST(RtcmLegacy, UsclStationMessages) {
    const char* file = "pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log";
    const auto points = messages_of<AntennaReferencePoint>(file, 1006, decode_antenna_reference_point);
    ASSERT_EQ(points.size(), 1u);
    EXPECT_NEAR(points[0].ecef_m[0], 1762489.6191, 1e-5);
    EXPECT_NEAR(points[0].ecef_m[2], -3496008.8438, 1e-5);
    EXPECT_NEAR(*points[0].antenna_height_m, 0.0343, 1e-9);
    const auto descriptors = messages_of<ReceiverDescriptors>(file, 1033, decode_receiver_descriptors);
    ASSERT_EQ(descriptors.size(), 1u);
    EXPECT_EQ(descriptors[0].antenna, "SEPCHOKE_B3E6   SPKE");
    EXPECT_EQ(descriptors[0].antenna_serial, "5856");
    EXPECT_EQ(descriptors[0].receiver, "SEPT POLARX5");
    EXPECT_EQ(descriptors[0].firmware, "5.5.0");
    EXPECT_EQ(descriptors[0].receiver_serial, "3075024");
}

}  // namespace
}  // namespace vardoln
