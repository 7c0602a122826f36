#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>
#include <vector>

#include "rinex/obs_data.hpp"
#include "rtcm/encoder.hpp"
#include "rtcm/epochs.hpp"
#include "rtcm/frames.hpp"
#include "rtcm/msm.hpp"
#include "rtcm/station.hpp"
#include "test_real_data.hpp"

namespace vardoln {
namespace {

std::optional<RinexObsData> recording(std::string_view relative) {
    const auto text = test::real_text(relative);
    if (!text) return std::nullopt;
    auto parsed = parse_observation_file(*text, relative);
    if (auto* error = std::get_if<ParseError>(&parsed)) {
        ADD_FAILURE() << error->message;
        return std::nullopt;
    }
    return std::move(std::get<RinexObsData>(parsed));
}

std::string encoded(const RinexObsData& obs, std::uint8_t level) {
    RtcmEncodeSettings settings;
    settings.msm_level = level;
    settings.station = 1234;
    auto result = encode_rtcm(obs, settings);
    if (auto* error = std::get_if<RtcmError>(&result)) {
        ADD_FAILURE() << error->message;
        return {};
    }
    const auto& bytes = std::get<std::vector<std::uint8_t>>(result);
    return std::string(bytes.begin(), bytes.end());
}

// One signal of one satellite at one epoch, by its MSM signal ID.
struct Cell {
    std::optional<double> pseudorange_m, phase_cycles, cn0_dbhz;
    std::uint8_t lli = 0;
};
using CellKey = std::tuple<std::string, std::uint8_t>;  // satellite key, signal ID
using EpochCells = std::map<CellKey, Cell>;

// The record's cells that the messages can carry, epoch by epoch (ms from the GPS epoch).
std::vector<std::pair<std::int64_t, EpochCells>> cells_of(const RinexObsData& obs) {
    std::vector<std::pair<std::int64_t, EpochCells>> epochs;
    for (const auto& epoch : obs.epochs) {
        EpochCells cells;
        for (const auto& entry : obs.satellites_of(epoch)) {
            const auto satellite = msm_satellite_of(obs.satellite_id(entry));
            if (!satellite) continue;
            const std::string key = msm_satellite_key(satellite->system, satellite->id);
            for (const auto& value : obs.values_of(entry)) {
                const std::string& code = obs.code_of(value);
                const auto signal = msm_signal_id(satellite->system, code, obs.version);
                if (!signal) continue;
                Cell& cell = cells[{key, *signal}];
                if (code.front() == 'C') cell.pseudorange_m = value.value;
                if (code.front() == 'L') cell.phase_cycles = value.value, cell.lli = value.lli.value_or(0);
                if (code.front() == 'S') cell.cn0_dbhz = value.value;
            }
        }
        if (!cells.empty()) epochs.emplace_back(gps_milliseconds(epoch.time), std::move(cells));
    }
    return epochs;
}

double wavelength_of(const RinexObsData& obs, const std::string& satellite, std::uint8_t signal) {
    const auto ref = msm_satellite_of(satellite);
    std::optional<std::int32_t> channel;
    for (const auto& [slot, k] : obs.glonass_slots)
        if (slot == std::to_string(ref->id)) channel = k;
    return carrier_wavelength_m(ref->system, msm_signal_code(ref->system, signal).front(), channel).value_or(NAN);
}

int gps_week_of(const RinexObsData& obs) {
    return static_cast<int>(gps_milliseconds(obs.epochs.front().time) / kMillisecondsPerWeek);
}

// Encodes at every level, reads the stream back, and checks every cell against the record:
// the same epochs and cells, C/N0 in the message's steps, pseudoranges within half a step,
// phases within 1 mm up to whole cycles, and the loss-of-lock bits.
void check_round_trip(std::string_view file) {
    const auto obs = recording(file);
    if (!obs) GTEST_SKIP() << file << " is absent";
    const auto source = cells_of(*obs);
    ASSERT_FALSE(source.empty());
    for (const int level_number : {4, 5, 6, 7}) {
        const auto level = static_cast<std::uint8_t>(level_number);
        SCOPED_TRACE(std::string(file) + " MSM" + std::to_string(level));
        auto read = read_rtcm(encoded(*obs, level), gps_week_of(*obs));
        ASSERT_TRUE(std::holds_alternative<RtcmStream>(read));
        const RtcmStream& stream = std::get<RtcmStream>(read);
        EXPECT_EQ(stream.tally.bad_frames, 0u);
        EXPECT_EQ(stream.undecodable_messages, 0u);
        const auto back = cells_of(stream.record);
        ASSERT_EQ(back.size(), source.size());
        const double cn0_step = level <= 5 ? 1.0 : 1.0 / 16.0;
        const double cn0_max = level <= 5 ? 63.0 : 1023.0 / 16.0;
        const double range_step_ms = level <= 5 ? std::ldexp(1.0, -24) : std::ldexp(1.0, -29);
        const double range_step_m = range_step_ms * kSpeedOfLight_m_s / 1000;
        std::map<CellKey, double> cycles_taken;  // per cell, whole cycles the encoder took off its phase
        std::size_t phases = 0;
        for (std::size_t e = 0; e < source.size(); ++e) {
            ASSERT_EQ(back[e].first, source[e].first) << "epoch " << e;
            for (const auto& [key, cell] : source[e].second) {
                const auto& [satellite, signal] = key;
                SCOPED_TRACE(satellite + " signal " + std::to_string(signal) + " epoch " + std::to_string(e));
                const double wavelength = wavelength_of(*obs, satellite, signal);
                // MSM4/6 carry no GLONASS channel: the reader cannot turn those phases into cycles.
                const bool phase_sent = cell.phase_cycles && !std::isnan(wavelength);
                const bool phase_read = phase_sent && (satellite.front() != 'R' || level == 5 || level == 7 ||
                                                       msm_signal_code(GnssSystem::Glonass, signal).front() > '2');
                const auto found = back[e].second.find(key);
                ASSERT_EQ(found != back[e].second.end(), cell.pseudorange_m || cell.cn0_dbhz || phase_sent);
                if (found == back[e].second.end()) continue;
                const Cell& got = found->second;
                std::optional<double> cn0;
                if (cell.cn0_dbhz && std::round(*cell.cn0_dbhz / cn0_step) > 0)
                    cn0 = std::min(cn0_max, std::round(*cell.cn0_dbhz / cn0_step) * cn0_step);
                EXPECT_EQ(got.cn0_dbhz, cn0);
                ASSERT_EQ(got.pseudorange_m.has_value(), cell.pseudorange_m.has_value());
                if (cell.pseudorange_m) {
                    EXPECT_NEAR(*got.pseudorange_m, *cell.pseudorange_m, range_step_m * 0.51);
                }
                ASSERT_EQ(got.phase_cycles.has_value(), phase_read);
                if (!phase_read) continue;
                ++phases;
                const double taken = std::round(*cell.phase_cycles - *got.phase_cycles);
                EXPECT_NEAR((*got.phase_cycles + taken - *cell.phase_cycles) * wavelength, 0.0, 1e-3);
                const auto before = cycles_taken.find(key);
                const bool retaken = before != cycles_taken.end() && before->second != taken;
                cycles_taken[key] = taken;
                // A slip of the record is one of the stream; the stream adds one where the cell
                // was missing the epoch before, or its phase had to lose whole cycles anew.
                const bool was_present = e > 0 && source[e - 1].second.count(key) != 0;
                if (was_present) {
                    EXPECT_EQ(got.lli & 1u, (cell.lli & 1u) | (retaken ? 1u : 0u));
                }
                EXPECT_EQ(got.lli & 2u, cell.lli & 2u);
            }
            // Nothing read that the record did not hold.
            for (const auto& [key, cell] : back[e].second) EXPECT_EQ(source[e].second.count(key), 1u);
        }
        EXPECT_GT(phases, 50u);
    }
}

TEST(RtcmEncoder, Rinex3RecordRoundTrip) { check_round_trip("obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx"); }
TEST(RtcmEncoder, Rinex3HighRateRecordRoundTrip) { check_round_trip("obs3/sptu0150.16o"); }
TEST(RtcmEncoder, Rinex2RecordRoundTrip) { check_round_trip("obs2/zegv0010.21o"); }
TEST(RtcmEncoder, Rinex2GpsGlonassRoundTrip) { check_round_trip("obs2/AJAC3550.21O"); }

// The stream's own shape: station messages first and every 30 s, at most 64 cells a message,
// and the multiple-message bit on every MSM of an epoch but its last.
TEST(RtcmEncoder, MessagesOfAnEpochAndTheStationMessages) {
    const auto obs = recording("obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx");
    if (!obs) GTEST_SKIP() << "the recording is absent";
    const std::string stream = encoded(*obs, 7);
    std::vector<std::uint16_t> types;
    std::vector<MsmMessage> messages;
    std::optional<AntennaReferencePoint> point;
    std::optional<ReceiverDescriptors> descriptors;
    read_rtcm_frames({reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size()}, [&](const RtcmFrame& f) {
        types.push_back(f.message_type);
        if (f.message_type == 1005 && !point)
            point = std::get<AntennaReferencePoint>(decode_antenna_reference_point(f.payload));
        if (f.message_type == 1033 && !descriptors)
            descriptors = std::get<ReceiverDescriptors>(decode_receiver_descriptors(f.payload));
        if (msm_kind(f.message_type)) messages.push_back(std::get<MsmMessage>(decode_msm(f.payload)));
    });
    ASSERT_GE(types.size(), 2u);
    EXPECT_EQ(types[0], 1005);
    EXPECT_EQ(types[1], 1033);
    ASSERT_TRUE(point && obs->approx_position);
    for (int axis = 0; axis < 3; ++axis) EXPECT_NEAR(point->ecef_m[axis], (*obs->approx_position)[axis], 0.5e-4);
    EXPECT_EQ(point->station, 1234);
    const auto trimmed = [](const std::string& text) { return text.substr(0, text.find_last_not_of(' ') + 1); };
    ASSERT_TRUE(descriptors);
    EXPECT_EQ(descriptors->receiver, trimmed(obs->receiver_type));
    EXPECT_EQ(descriptors->antenna, trimmed(obs->antenna_type));
    // 30 s epochs: one pair of station messages per epoch.
    EXPECT_EQ(std::count(types.begin(), types.end(), 1033), static_cast<long>(obs->epochs.size()));
    std::size_t closing = 0;
    std::optional<std::uint32_t> time_of_week;  // GPS time of the message before, for the GLONASS day
    for (std::size_t i = 0; i < messages.size(); ++i) {
        EXPECT_LE(messages[i].cells.size(), 64u);
        EXPECT_EQ(messages[i].level, 7);
        const auto own = msm_gps_time_of_week_ms(messages[i], 18, time_of_week);
        ASSERT_TRUE(own);
        // Only the last message of an epoch leaves the bit clear.
        if (i > 0) {
            if (messages[i - 1].multiple_message) EXPECT_EQ(own, time_of_week);
            else EXPECT_NE(own, time_of_week);
        }
        time_of_week = own;
        closing += messages[i].multiple_message ? 0 : 1;
    }
    EXPECT_FALSE(messages.back().multiple_message);
    EXPECT_EQ(closing, obs->epochs.size());
    EXPECT_GT(messages.size(), obs->epochs.size() * 3);  // GPS, GLONASS, Galileo, BeiDou at least
}

TEST(RtcmEncoder, LockTimeIndicatorsHoldTheirTime) {
    for (const int level_number : {4, 7})
        for (std::int64_t ms = 0; ms < (std::int64_t{1} << 27); ms = ms < 5000 ? ms + 1 : ms + ms / 97) {
            const auto level = static_cast<std::uint8_t>(level_number);
            const auto range = msm_lock_time_range(msm_lock_time_indicator(ms, level), level);
            ASSERT_LE(range.low_ms, ms) << ms;
            if (range.high_ms) { ASSERT_LT(ms, *range.high_ms) << ms; }
        }
    EXPECT_EQ(msm_lock_time_indicator(31, 4), 0);
    EXPECT_EQ(msm_lock_time_indicator(32, 4), 1);
    EXPECT_EQ(msm_lock_time_indicator(600'000, 4), 15);
    EXPECT_EQ(msm_lock_time_indicator(63, 6), 63);
    EXPECT_EQ(msm_lock_time_indicator(64, 6), 64);
    EXPECT_EQ(msm_lock_time_indicator(std::int64_t{1} << 26, 6), 704);
}

TEST(RtcmEncoder, CodesToSignals) {
    struct Case {
        GnssSystem system;
        std::string_view code;
        double version;
        std::optional<std::uint8_t> id;
    };
    const Case cases[] = {
        {GnssSystem::Gps, "C1C", 3.04, 2},      {GnssSystem::Gps, "P2", 2.11, 9},  // P2 is C2P
        {GnssSystem::Gps, "L2", 2.11, 8},       {GnssSystem::Gps, "D1", 2.11, 2},
        {GnssSystem::Gps, "S5X", 3.04, 24},     {GnssSystem::Glonass, "C2P", 3.04, 9},
        {GnssSystem::Galileo, "L7Q", 3.04, 15}, {GnssSystem::Beidou, "C2I", 3.04, 2},
        {GnssSystem::Beidou, "C1I", 3.02, 2},  // B1I before 3.03
        {GnssSystem::Beidou, "C1P", 3.04, 31},  {GnssSystem::Gps, "C1Y", 3.04, std::nullopt},
        {GnssSystem::Qzss, "C1C", 3.04, 2},     {GnssSystem::Irnss, "C5A", 3.04, 22},
    };
    for (const Case& c : cases) EXPECT_EQ(msm_signal_id(c.system, c.code, c.version), c.id) << c.code;
    // Every signal of the messages maps back to itself.
    for (const GnssSystem system : {GnssSystem::Gps, GnssSystem::Glonass, GnssSystem::Galileo, GnssSystem::Sbas,
                                    GnssSystem::Qzss, GnssSystem::Beidou, GnssSystem::Irnss})
        for (std::uint8_t id = 1; id <= 32; ++id) {
            const std::string_view code = msm_signal_code(system, id);
            if (!code.empty()) { EXPECT_EQ(msm_signal_id(system, "C" + std::string(code), 3.04), id); }
        }
    EXPECT_EQ(msm_satellite_of("S20")->id, 1);
    EXPECT_FALSE(msm_satellite_of("G65"));
    EXPECT_EQ(msm_satellite_of(" 5")->system, GnssSystem::Gps);
}

TEST(RtcmEncoder, SettingsOutOfRange) {
    RinexObsData empty;
    RtcmEncodeSettings settings;
    settings.msm_level = 3;
    EXPECT_TRUE(std::holds_alternative<RtcmError>(encode_rtcm(empty, settings)));
    settings.msm_level = 4;
    settings.station = 4096;
    EXPECT_TRUE(std::holds_alternative<RtcmError>(encode_rtcm(empty, settings)));
}

}  // namespace
}  // namespace vardoln
