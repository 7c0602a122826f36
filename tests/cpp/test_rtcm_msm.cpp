#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
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

// Writes big-endian bit fields, the mirror of BitReader.
struct BitWriter {
    std::vector<std::uint8_t> bytes;
    std::size_t bits = 0;
    void put(std::uint64_t value, unsigned width) {
        for (unsigned i = 0; i < width; ++i) {
            if (bits % 8 == 0) bytes.push_back(0);
            if ((value >> (width - 1 - i)) & 1u) bytes.back() |= static_cast<std::uint8_t>(0x80u >> (bits % 8));
            ++bits;
        }
    }
    void put_signed(std::int64_t value, unsigned width) { put(static_cast<std::uint64_t>(value), width); }
};

struct SyntheticSatellite {
    std::uint8_t id;
    std::uint64_t whole_ms;  // 255: invalid
    std::uint64_t fraction_1024;
    std::int64_t rough_rate_m_s;
};

struct SyntheticCell {
    std::int64_t fine_pseudorange;
    std::int64_t fine_phase;
    std::uint64_t lock;
    bool half_cycle;
    std::uint64_t cn0;
    std::int64_t fine_rate;
};

// An MSM payload of GPS at the given level with the masks and values given.
std::vector<std::uint8_t> gps_msm(std::uint16_t type, const std::vector<SyntheticSatellite>& satellites,
                                  std::uint32_t signal_mask, std::uint64_t cell_mask, unsigned cell_mask_bits,
                                  const std::vector<SyntheticCell>& cells) {
    const bool extended = type % 10 >= 6;
    const bool rates = type % 10 == 5 || type % 10 == 7;
    BitWriter out;
    out.put(type, 12);
    out.put(1234, 12);         // station
    out.put(123'456'789, 30);  // milliseconds of the week
    out.put(1, 1);             // more messages of this epoch follow
    out.put(5, 3);             // issue of data station
    out.put(0, 15);
    std::uint64_t satellite_mask = 0;
    for (const auto& satellite : satellites) satellite_mask |= std::uint64_t{1} << (64 - satellite.id);
    out.put(satellite_mask, 64);
    out.put(signal_mask, 32);
    out.put(cell_mask, cell_mask_bits);
    for (const auto& satellite : satellites) out.put(satellite.whole_ms, 8);
    if (rates)
        for (std::size_t i = 0; i < satellites.size(); ++i) out.put(0, 4);
    for (const auto& satellite : satellites) out.put(satellite.fraction_1024, 10);
    if (rates)
        for (const auto& satellite : satellites) out.put_signed(satellite.rough_rate_m_s, 14);
    for (const auto& cell : cells) out.put_signed(cell.fine_pseudorange, extended ? 20 : 15);
    for (const auto& cell : cells) out.put_signed(cell.fine_phase, extended ? 24 : 22);
    for (const auto& cell : cells) out.put(cell.lock, extended ? 10 : 4);
    for (const auto& cell : cells) out.put(cell.half_cycle, 1);
    for (const auto& cell : cells) out.put(cell.cn0, extended ? 10 : 6);
    if (rates)
        for (const auto& cell : cells) out.put_signed(cell.fine_rate, 15);
    return out.bytes;
}

MsmMessage decoded(std::variant<MsmMessage, RtcmError> result) {
    if (const auto* failure = std::get_if<RtcmError>(&result)) {
        ADD_FAILURE() << failure->message;
        return {};
    }
    return std::move(std::get<MsmMessage>(result));
}

// Satellites 3 and 64, signals 2 (1C) and 16 (2L); satellite 3 has both, satellite 64 only 1C.
// Satellite 64 has no rough range, so its cell keeps only its C/N0.
const std::vector<SyntheticSatellite> kSatellites = {{3, 70, 512, -500}, {64, 255, 0, -8192}};
constexpr std::uint32_t kSignalMask = (1u << 30) | (1u << 16);
constexpr std::uint64_t kCellMask = 0b1110;

TEST(RtcmMsm, Msm7BuiltByHand) {
    const std::vector<SyntheticCell> cells = {
        {1000, -2000, 600, true, 728, 1234},            // 45.5 dB-Hz
        {-524288, 0, 1023, false, 0, -16384},           // invalid pseudorange and rate, C/N0 not computed
        {0, 0, 0, false, 480, 0},                       // 30 dB-Hz
    };
    const auto payload = gps_msm(1077, kSatellites, kSignalMask, kCellMask, 4, cells);
    const auto message = decoded(decode_msm(payload));
    EXPECT_EQ(message.system, GnssSystem::Gps);
    EXPECT_EQ(message.level, 7);
    EXPECT_EQ(message.station, 1234);
    EXPECT_EQ(message.epoch_ms, 123'456'789u);
    EXPECT_TRUE(message.multiple_message);
    EXPECT_EQ(message.issue_of_data_station, 5);
    EXPECT_EQ(message.signals, (std::vector<std::uint8_t>{2, 16}));
    ASSERT_EQ(message.satellites.size(), 2u);
    EXPECT_EQ(message.satellites[0].rough_range_ms, 70.5);
    EXPECT_EQ(message.satellites[0].rough_phase_range_rate_m_s, -500.0);
    EXPECT_FALSE(message.satellites[1].rough_range_ms);
    EXPECT_FALSE(message.satellites[1].rough_phase_range_rate_m_s);
    ASSERT_EQ(message.cells.size(), 3u);

    const auto& first = message.cells[0];
    EXPECT_EQ(first.satellite_id, 3);
    EXPECT_EQ(msm_signal_code(GnssSystem::Gps, first.signal_id), "1C");
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
    EXPECT_EQ(second.lock_time_indicator, 1023);
    EXPECT_FALSE(second.cn0_dbhz);
    EXPECT_FALSE(second.phase_range_rate_m_s);

    const auto& third = message.cells[2];
    EXPECT_EQ(third.satellite_id, 64);
    EXPECT_FALSE(third.pseudorange_m);
    EXPECT_FALSE(third.phase_range_m);
    EXPECT_EQ(third.cn0_dbhz, 30.0);
}

TEST(RtcmMsm, Msm4BuiltByHand) {
    const std::vector<SyntheticCell> cells = {
        {-16384, 100, 15, false, 47, 0},  // invalid fine pseudorange
        {16383, -2097152, 3, true, 1, 0},  // invalid fine phase
        {0, 0, 0, false, 63, 0},
    };
    const auto payload = gps_msm(1074, kSatellites, kSignalMask, kCellMask, 4, cells);
    const auto message = decoded(decode_msm(payload));
    ASSERT_EQ(message.cells.size(), 3u);
    EXPECT_FALSE(message.cells[0].pseudorange_m);
    EXPECT_DOUBLE_EQ(*message.cells[0].phase_range_m, (70.5 + 100.0 / 536'870'912.0) * kMetresPerMs);
    EXPECT_EQ(message.cells[0].cn0_dbhz, 47.0);
    EXPECT_EQ(message.cells[0].lock_time_indicator, 15);
    EXPECT_DOUBLE_EQ(*message.cells[1].pseudorange_m, (70.5 + 16383.0 / 16'777'216.0) * kMetresPerMs);
    EXPECT_FALSE(message.cells[1].phase_range_m);
    EXPECT_EQ(message.cells[1].cn0_dbhz, 1.0);
    EXPECT_EQ(message.cells[2].cn0_dbhz, 63.0);
    EXPECT_FALSE(message.cells[0].phase_range_rate_m_s);
    EXPECT_FALSE(message.satellites[0].extended_info);
}

TEST(RtcmMsm, DamagedMessagesAreRejected) {
    const std::vector<SyntheticCell> cells(3, SyntheticCell{0, 0, 0, false, 40, 0});
    const auto payload = gps_msm(1077, kSatellites, kSignalMask, kCellMask, 4, cells);
    for (std::size_t cut = 0; cut < payload.size(); ++cut)
        EXPECT_TRUE(std::holds_alternative<RtcmError>(decode_msm(std::span(payload).first(cut)))) << cut;

    // 33 satellites and 2 signals claim 66 cells: more than the cell mask may hold.
    std::vector<SyntheticSatellite> many;
    for (std::uint8_t id = 1; id <= 33; ++id) many.push_back({id, 70, 0, 0});
    const auto crowded = gps_msm(1077, many, kSignalMask, 0, 64, {});
    const auto result = decode_msm(crowded);
    ASSERT_TRUE(std::holds_alternative<RtcmError>(result));
    EXPECT_EQ(std::get<RtcmError>(result).message, "RTCM 1077: more than 64 cells in the masks");

    BitWriter station;
    station.put(1005, 12);
    for (int i = 0; i < 4; ++i) station.put(0, 35);
    EXPECT_TRUE(std::holds_alternative<RtcmError>(decode_msm(station.bytes)));
}

TEST(RtcmMsm, SignalCodesAndSatelliteKeys) {
    struct Case {
        GnssSystem system;
        std::uint8_t signal_id;
        std::string_view code;
    };
    const Case cases[] = {
        {GnssSystem::Gps, 2, "1C"},     {GnssSystem::Gps, 4, "1W"},     {GnssSystem::Gps, 10, "2W"},
        {GnssSystem::Gps, 17, "2X"},    {GnssSystem::Gps, 24, "5X"},    {GnssSystem::Gps, 32, "1X"},
        {GnssSystem::Gps, 1, ""},       {GnssSystem::Glonass, 3, "1P"}, {GnssSystem::Glonass, 8, "2C"},
        {GnssSystem::Galileo, 5, "1X"}, {GnssSystem::Galileo, 15, "7Q"}, {GnssSystem::Galileo, 20, "8X"},
        {GnssSystem::Qzss, 10, "6L"},   {GnssSystem::Qzss, 30, "1S"},   {GnssSystem::Beidou, 2, "2I"},
        {GnssSystem::Beidou, 14, "7I"}, {GnssSystem::Beidou, 30, "1D"}, {GnssSystem::Sbas, 23, "5Q"},
        {GnssSystem::Irnss, 22, "5A"},  {GnssSystem::Gps, 0, ""},       {GnssSystem::Gps, 33, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(msm_signal_code(c.system, c.signal_id), c.code) << static_cast<char>(c.system) << int{c.signal_id};
    EXPECT_EQ(msm_satellite_key(GnssSystem::Sbas, 11), "S30");  // PRN 130
    EXPECT_EQ(msm_satellite_key(GnssSystem::Qzss, 2), "J02");   // PRN 194
    EXPECT_EQ(msm_satellite_key(GnssSystem::Gps, 64), "G64");
}

// Every MSM4 to MSM7 message of a stream, decoded; a failure fails the test.
std::vector<MsmMessage> stream_messages(std::string_view file) {
    std::vector<MsmMessage> messages;
    const auto bytes = test::rtcm_bytes(file);
    if (!bytes) return messages;
    read_rtcm_frames(*bytes, [&](const RtcmFrame& frame) {
        if (msm_kind(frame.message_type)) messages.push_back(decoded(decode_msm(frame.payload)));
    });
    return messages;
}

std::size_t cell_count(const std::vector<MsmMessage>& messages) {
    std::size_t cells = 0;
    for (const auto& message : messages) cells += message.cells.size();
    return cells;
}

// The numbers in the tests below agree, cell by cell, with an independent decoder (pseudoranges,
// phase ranges, lock times, half-cycle flags, C/N0 and rates of every MSM frame of these files).

TEST(RtcmMsm, UsclEpochOfSevenConstellations) {
    const auto messages = stream_messages("pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log");
    ASSERT_EQ(messages.size(), 14u);
    std::map<std::uint16_t, std::size_t> cells;
    for (const auto& message : messages) {
        cells[message.message_type] = message.cells.size();
        // One epoch: 2024-03-13 16:35:45 GPS, in every time scale.
        EXPECT_EQ(msm_gps_time_of_week_ms(message, 18), 318'945'000u) << message.message_type;
    }
    const std::map<std::uint16_t, std::size_t> expected = {
        {1076, 42}, {1077, 42}, {1086, 28}, {1087, 28}, {1096, 35}, {1097, 35}, {1106, 3},
        {1107, 3},  {1116, 0},  {1117, 0},  {1126, 23}, {1127, 23}, {1136, 0},  {1137, 0}};
    EXPECT_EQ(cells, expected);
    EXPECT_EQ(messages[2].epoch_ms, 70'527'000u);  // GLONASS: 19:35:27 Moscow time on Wednesday
    EXPECT_EQ(messages[2].glonass_day_of_week, 3);
    EXPECT_EQ(messages[10].epoch_ms, 318'931'000u);  // BeiDou: 14 s behind

    struct Known {
        std::size_t message;
        std::string_view satellite;
        std::string_view code;
        double cn0_dbhz;
        double pseudorange_m;
    };
    const Known known[] = {
        {0, "G01", "1C", 49.4375, 20559880.579}, {0, "G01", "1W", 52.0625, 20559880.208},
        {2, "R01", "2C", 35.5, 22457444.979},    {4, "E03", "7Q", 52.5625, 23868550.087},
        {6, "S31", "5Q", 38.3125, 38834913.267}, {10, "C12", "6I", 39.5, 26463518.845},
    };
    for (const auto& k : known) {
        const auto& message = messages[k.message];
        bool found = false;
        for (const auto& cell : message.cells) {
            if (msm_satellite_key(message.system, cell.satellite_id) != k.satellite ||
                msm_signal_code(message.system, cell.signal_id) != k.code)
                continue;
            found = true;
            EXPECT_EQ(cell.cn0_dbhz, k.cn0_dbhz) << k.satellite << k.code;
            EXPECT_NEAR(*cell.pseudorange_m, k.pseudorange_m, 0.0005) << k.satellite << k.code;
        }
        EXPECT_TRUE(found) << k.satellite << k.code;
    }
    const auto& sbas = messages[7].cells[1];  // MSM7: S31 5Q with its rate
    EXPECT_NEAR(*sbas.phase_range_rate_m_s, 0.0020, 0.00005);
}

TEST(RtcmMsm, AgPartnerMsm5) {
    const auto messages = stream_messages("ntripstreams/AgPartner_2.rtcm3");
    ASSERT_EQ(messages.size(), 175u);
    EXPECT_EQ(cell_count(messages), 2860u);
    const auto& first = messages.front();
    EXPECT_EQ(first.message_type, 1075);
    EXPECT_EQ(first.satellites.size(), 14u);
    EXPECT_EQ(first.cells.size(), 26u);
    EXPECT_EQ(msm_satellite_key(first.system, first.cells[0].satellite_id), "G04");
    EXPECT_EQ(first.cells[0].cn0_dbhz, 37.0);
    EXPECT_NEAR(*first.cells[0].pseudorange_m, 24739110.679, 0.0005);
    EXPECT_NEAR(*first.cells[0].phase_range_rate_m_s, 794.5337, 0.00005);
}

TEST(RtcmMsm, DroppedPacketsStr24Msm4) {
    const auto messages = stream_messages("gnss-converters/dropped-packets-STR24.rtcm3");
    if (messages.empty()) GTEST_SKIP() << "gnss-converters/dropped-packets-STR24.rtcm3 not present";
    EXPECT_EQ(messages.size(), 6559u);
    EXPECT_EQ(cell_count(messages), 153008u);
    for (const auto& message : messages) {
        if (message.message_type != 1074) continue;
        EXPECT_EQ(message.epoch_ms, 430'649'000u);  // 2018-07-12 23:37:29 GPS
        ASSERT_EQ(message.cells.size(), 33u);
        const double cn0[] = {44, 31, 46, 50};
        const std::string_view codes[] = {"1C", "2W", "2X", "5X"};
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(message.cells[i].cn0_dbhz, cn0[i]);
            EXPECT_EQ(msm_signal_code(GnssSystem::Gps, message.cells[i].signal_id), codes[i]);
        }
        EXPECT_NEAR(*message.cells[0].pseudorange_m, 22565339.461, 0.0005);
        break;
    }
}

TEST(RtcmMsm, WeekRolloverStr17TimeScalesAgree) {
    const auto messages = stream_messages("gnss-converters/week-rollover-STR17.rtcm3");
    if (messages.empty()) GTEST_SKIP() << "gnss-converters/week-rollover-STR17.rtcm3 not present";
    std::set<std::uint32_t> gps_epochs;
    for (const auto& message : messages)
        if (message.system == GnssSystem::Gps) gps_epochs.insert(message.epoch_ms);
    // 2018-07-14 23:50:18 to 07-15 00:09:03 GPS: the week starts again at 0 in the middle.
    EXPECT_EQ(*gps_epochs.begin(), 0u);
    EXPECT_EQ(*gps_epochs.rbegin(), kMillisecondsPerWeek - 1000);
    EXPECT_EQ(gps_epochs.size(), 1126u);
    // GLONASS (Moscow time, 18 leap seconds in 2018), Galileo, QZSS and BeiDou epochs fall on the
    // GPS epoch sent before them once converted, on both sides of the change.
    std::map<GnssSystem, std::size_t> matched;
    std::optional<std::uint32_t> last_gps_ms;
    std::size_t glonass_by_own_day = 0, glonass_day_unknown = 0;
    for (const auto& message : messages) {
        if (message.system == GnssSystem::Gps) {
            last_gps_ms = message.epoch_ms;
            continue;
        }
        const auto gps_ms = msm_gps_time_of_week_ms(message, 18, last_gps_ms);
        ASSERT_TRUE(gps_ms) << message.message_type;
        EXPECT_EQ(gps_ms, last_gps_ms) << message.message_type << " at " << message.epoch_ms;
        ++matched[message.system];
        if (message.system != GnssSystem::Glonass) continue;
        // This receiver sends day 7 ("unknown") for the Sunday before the GPS week starts again.
        const auto by_own_day = msm_gps_time_of_week_ms(message, 18);
        if (!by_own_day) {
            ++glonass_day_unknown;
            EXPECT_EQ(message.glonass_day_of_week, 7);
        } else {
            ++glonass_by_own_day;
            EXPECT_EQ(by_own_day, gps_ms);
        }
    }
    EXPECT_EQ(matched.size(), 4u);
    // Its BeiDou epochs of the first 14 s of the GPS week are sent as -14 s to -1 s.
    std::size_t beidou_negative = 0;
    for (const auto& message : messages)
        if (message.system == GnssSystem::Beidou && message.epoch_ms >= kMillisecondsPerWeek) ++beidou_negative;
    EXPECT_EQ(beidou_negative, 14u);
    EXPECT_EQ(glonass_day_unknown, 582u);
    EXPECT_EQ(glonass_by_own_day, 544u);
}

TEST(RtcmMsm, GMSD7GlonassAcrossTheWeekChangeOf2012) {
    const auto messages = stream_messages("rtklib/GMSD7_20121014.rtcm3");
    if (messages.empty()) GTEST_SKIP() << "rtklib/GMSD7_20121014.rtcm3 not present";
    // 16 leap seconds in 2012. (Its BeiDou epochs are GPS times, 14 s ahead of BeiDou time: the
    // recording predates the final BeiDou messages.)
    std::optional<std::uint32_t> last_gps_ms;
    std::size_t glonass = 0;
    for (const auto& message : messages) {
        if (message.system == GnssSystem::Gps) last_gps_ms = message.epoch_ms;
        if (message.system != GnssSystem::Glonass) continue;
        ++glonass;
        EXPECT_EQ(msm_gps_time_of_week_ms(message, 16, last_gps_ms), last_gps_ms);
        EXPECT_EQ(msm_gps_time_of_week_ms(message, 16), last_gps_ms);  // it sends its day, 0
    }
    EXPECT_EQ(glonass, 257u);
}

TEST(RtcmMsm, BitReaderFields) {
    const std::uint8_t bytes[] = {0xD3, 0x00, 0x13, 0xFF};
    BitReader in(bytes);
    EXPECT_EQ(in.bits(8), 0xD3u);
    EXPECT_EQ(in.bits(6), 0u);
    EXPECT_EQ(in.bits(10), 0x13u);
    EXPECT_EQ(in.signed_bits(4), -1);
    EXPECT_FALSE(in.failed());
    EXPECT_EQ(in.bits(5), 0u);  // past the end
    EXPECT_TRUE(in.failed());
}

}  // namespace
}  // namespace vardoln
