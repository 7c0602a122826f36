#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "rtcm/bits.hpp"
#include "rtcm/frames.hpp"
#include "rtcm/msm.hpp"
#include "test_rtcm_support.hpp"

namespace vardoln {
namespace {

constexpr double kMetresPerMs = kSpeedOfLight_m_s / 1000.0;

MsmMessage decoded(std::variant<MsmMessage, RtcmError> result) {
    if (const auto* failure = std::get_if<RtcmError>(&result)) {
        ADD_FAILURE() << failure->message;
        return {};
    }
    return std::move(std::get<MsmMessage>(result));
}

// A GPS MSM7 of satellites 3 and 64 and signals 2 (1C) and 16 (2L): satellite 3 has both,
// satellite 64 only 1C and no rough range. extra_satellites adds IDs 4 and up to crowd the masks.
std::vector<std::uint8_t> gps_msm7(std::size_t extra_satellites = 0) {
    BitWriter out;
    out.put(1077, 12).put(1234, 12).put(123'456'789, 30).put(1, 1).put(5, 3).put(0, 15);
    std::uint64_t satellites = (std::uint64_t{1} << 61) | 1u;
    for (std::size_t i = 0; i < extra_satellites; ++i) satellites |= std::uint64_t{1} << (60 - i);
    out.put(static_cast<std::int64_t>(satellites), 64).put((1 << 30) | (1 << 16), 32).put(0b1110, 4);
    out.put(70, 8).put(255, 8);       // whole milliseconds; 255: none
    out.put(0, 4).put(0, 4);          // extended information
    out.put(512, 10).put(0, 10);      // 1/1024 ms
    out.put(-500, 14).put(-8192, 14); // rough rates, m/s; -8192: none
    out.put(1000, 20).put(-524288, 20).put(0, 20);   // fine pseudoranges, 2^-29 ms; the second none
    out.put(-2000, 24).put(0, 24).put(0, 24);        // fine phase ranges, 2^-31 ms
    out.put(600, 10).put(1023, 10).put(0, 10);       // lock time indicators
    out.put(1, 1).put(0, 1).put(0, 1);               // half-cycle flags
    out.put(728, 10).put(0, 10).put(480, 10);        // C/N0 in 1/16 dB-Hz; 0: not computed
    out.put(1234, 15).put(-16384, 15).put(0, 15);    // fine rates, 0.1 mm/s; -16384: none
    return out.bytes();
}

TEST(RtcmMsm, Msm7BuiltByHand) {
    const auto message = decoded(decode_msm(gps_msm7()));
    EXPECT_EQ(message.level, 7);
    EXPECT_EQ(message.station, 1234);
    EXPECT_EQ(message.epoch_ms, 123'456'789u);
    EXPECT_TRUE(message.multiple_message);
    EXPECT_EQ(message.issue_of_data_station, 5);
    EXPECT_EQ(message.signals, (std::vector<std::uint8_t>{2, 16}));
    ASSERT_EQ(message.cells.size(), 3u);
    const auto& first = message.cells[0];
    EXPECT_EQ(first.satellite_id, 3);
    EXPECT_DOUBLE_EQ(*first.pseudorange_m, (70.5 + 1000.0 / 536'870'912.0) * kMetresPerMs);
    EXPECT_DOUBLE_EQ(*first.phase_range_m, (70.5 - 2000.0 / 2'147'483'648.0) * kMetresPerMs);
    EXPECT_EQ(first.lock_time_indicator, 600);
    EXPECT_TRUE(first.half_cycle_ambiguity);
    EXPECT_EQ(first.cn0_dbhz, 45.5);
    EXPECT_DOUBLE_EQ(*first.phase_range_rate_m_s, -500.0 + 0.1234);
    const auto& second = message.cells[1];
    EXPECT_EQ(msm_signal_code(GnssSystem::Gps, second.signal_id), "2L");
    EXPECT_FALSE(second.pseudorange_m);
    EXPECT_DOUBLE_EQ(*second.phase_range_m, 70.5 * kMetresPerMs);
    EXPECT_FALSE(second.cn0_dbhz);
    EXPECT_FALSE(second.phase_range_rate_m_s);
    const auto& third = message.cells[2];
    EXPECT_EQ(third.satellite_id, 64);
    EXPECT_FALSE(third.pseudorange_m);
    EXPECT_EQ(third.cn0_dbhz, 30.0);
}

TEST(RtcmMsm, DamagedMessagesAreRejected) {
    const auto payload = gps_msm7();
    for (std::size_t cut = 0; cut < payload.size(); ++cut)
        EXPECT_TRUE(std::holds_alternative<RtcmError>(decode_msm(std::span(payload).first(cut)))) << cut;
    // 33 satellites and 2 signals claim 66 cells, more than the cell mask may hold.
    const auto result = decode_msm(gps_msm7(31));
    ASSERT_TRUE(std::holds_alternative<RtcmError>(result));
    EXPECT_EQ(std::get<RtcmError>(result).message, "RTCM 1077: more than 64 cells in the masks");
}

TEST(RtcmMsm, SignalCodesAndSatelliteKeys) {
    EXPECT_EQ(msm_signal_code(GnssSystem::Gps, 4), "1W");
    EXPECT_EQ(msm_signal_code(GnssSystem::Gps, 32), "1X");
    EXPECT_EQ(msm_signal_code(GnssSystem::Gps, 1), "");
    EXPECT_EQ(msm_signal_code(GnssSystem::Glonass, 9), "2P");
    EXPECT_EQ(msm_signal_code(GnssSystem::Galileo, 20), "8X");
    EXPECT_EQ(msm_signal_code(GnssSystem::Qzss, 10), "6L");
    EXPECT_EQ(msm_signal_code(GnssSystem::Beidou, 2), "2I");
    EXPECT_EQ(msm_signal_code(GnssSystem::Irnss, 22), "5A");
    EXPECT_EQ(msm_signal_code(GnssSystem::Sbas, 33), "");
    EXPECT_EQ(msm_satellite_key(GnssSystem::Sbas, 11), "S30");  // PRN 130
    EXPECT_EQ(msm_satellite_key(GnssSystem::Qzss, 2), "J02");   // PRN 194
}

std::vector<MsmMessage> stream_messages(std::string_view file) {
    std::vector<MsmMessage> messages;
    const auto bytes = test::rtcm_bytes(file);
    if (!bytes) return messages;
    read_rtcm_frames(*bytes, [&](const RtcmFrame& frame) {
        if (msm_kind(frame.message_type)) messages.push_back(decoded(decode_msm(frame.payload)));
    });
    return messages;
}

// The numbers below agree, cell by cell, with an independent decoder over every MSM frame of
// these files (pseudoranges, phase ranges, lock times, half-cycle flags, C/N0 and rates).
struct KnownCell {
    std::string_view file;
    std::size_t messages;  // MSM4 to MSM7 messages in the file
    std::size_t cells;     // their cells, all with C/N0
    std::size_t message;   // the message whose first-listed cell of this satellite and code is checked
    std::uint16_t type;
    std::string_view satellite, code;
    double cn0_dbhz, pseudorange_m;
};

constexpr KnownCell kKnownCells[] = {
    {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", 14, 262, 0, 1076, "G01", "1W", 52.0625, 20559880.208},
    {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", 14, 262, 1, 1077, "G01", "1C", 49.4375, 20667626.122},
    {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", 14, 262, 2, 1086, "R01", "2C", 35.5, 22457444.979},
    {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", 14, 262, 4, 1096, "E03", "7Q", 52.5625, 23868550.087},
    {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", 14, 262, 6, 1106, "S31", "5Q", 38.3125, 38834913.267},
    {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", 14, 262, 10, 1126, "C12", "6I", 39.5, 26463518.845},
    {"ntripstreams/AgPartner_2.rtcm3", 175, 2860, 0, 1075, "G04", "1C", 37.0, 24739110.679},
    {"gnss-converters/dropped-packets-STR24.rtcm3", 6559, 153008, 4, 1074, "G01", "2W", 31.0, 22565350.343},
};

TEST(RtcmMsm, KnownCellsOfRealStreams) {
    for (const auto& known : kKnownCells) {
        const auto messages = stream_messages(known.file);
        if (messages.empty() && known.file.starts_with("gnss-converters")) continue;  // not bundled
        ASSERT_EQ(messages.size(), known.messages) << known.file;
        std::size_t cells = 0;
        for (const auto& message : messages) {
            cells += message.cells.size();
            for (const auto& cell : message.cells) EXPECT_TRUE(cell.cn0_dbhz) << known.file;
        }
        EXPECT_EQ(cells, known.cells) << known.file;
        const auto& message = messages[known.message];
        ASSERT_EQ(message.message_type, known.type) << known.file;
        std::size_t found = 0;
        for (const auto& cell : message.cells)
            if (msm_satellite_key(message.system, cell.satellite_id) == known.satellite &&
                msm_signal_code(message.system, cell.signal_id) == known.code) {
                ++found;
                EXPECT_EQ(cell.cn0_dbhz, known.cn0_dbhz) << known.file << " " << known.satellite << known.code;
                EXPECT_NEAR(*cell.pseudorange_m, known.pseudorange_m, 0.0005) << known.file << " " << known.satellite;
            }
        EXPECT_EQ(found, 1u) << known.file << " " << known.satellite << known.code;
    }
}

TEST(RtcmMsm, UsclEpochInEveryTimeScale) {
    // One epoch, 2024-03-13 16:35:45 GPS: GLONASS 19:35:27 Moscow time on Wednesday (18 leap
    // seconds), BeiDou 14 s behind.
    const auto messages = stream_messages("pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log");
    ASSERT_EQ(messages.size(), 14u);
    for (const auto& message : messages) EXPECT_EQ(msm_gps_time_of_week_ms(message, 18), 318'945'000u);
    EXPECT_EQ(messages[2].epoch_ms, 70'527'000u);
    EXPECT_EQ(messages[2].glonass_day_of_week, 3);
    EXPECT_EQ(messages[10].epoch_ms, 318'931'000u);
}

TEST(RtcmMsm, WeekRolloverStr17TimeScalesAgree) {
    const auto messages = stream_messages("gnss-converters/week-rollover-STR17.rtcm3");
    if (messages.empty()) GTEST_SKIP() << "gnss-converters/week-rollover-STR17.rtcm3 not present";
    // 2018-07-14 23:50:18 to 07-15 00:09:03 GPS: every other constellation's epoch, converted,
    // is the GPS epoch sent before it, on both sides of the week change.
    std::set<std::uint32_t> gps_epochs;
    std::optional<std::uint32_t> last_gps_ms;
    std::map<GnssSystem, std::size_t> converted;
    std::size_t glonass_day_unknown = 0, beidou_negative = 0;
    for (const auto& message : messages) {
        if (message.system == GnssSystem::Gps) {
            gps_epochs.insert(message.epoch_ms);
            last_gps_ms = message.epoch_ms;
            continue;
        }
        EXPECT_EQ(msm_gps_time_of_week_ms(message, 18, last_gps_ms), last_gps_ms) << message.message_type;
        ++converted[message.system];
        // This receiver sends day 7 ("unknown") for the Sunday before the GPS week starts again,
        // and the BeiDou epochs of the first 14 s of the GPS week as -14 s to -1 s.
        if (message.system == GnssSystem::Glonass && !msm_gps_time_of_week_ms(message, 18)) ++glonass_day_unknown;
        if (message.system == GnssSystem::Beidou && message.epoch_ms >= kMillisecondsPerWeek) ++beidou_negative;
    }
    EXPECT_EQ(gps_epochs.size(), 1126u);
    EXPECT_EQ(*gps_epochs.begin(), 0u);
    EXPECT_EQ(*gps_epochs.rbegin(), kMillisecondsPerWeek - 1000);
    EXPECT_EQ(converted, (std::map<GnssSystem, std::size_t>{
                             {GnssSystem::Glonass, 1126}, {GnssSystem::Galileo, 1126},
                             {GnssSystem::Beidou, 1126}, {GnssSystem::Qzss, 1126}}));
    EXPECT_EQ(glonass_day_unknown, 582u);
    EXPECT_EQ(beidou_negative, 14u);
}

}  // namespace
}  // namespace vardoln
