#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "rinex/epoch_time.hpp"
#include "rtcm/encoder.hpp"
#include "rtcm/bits.hpp"
#include "rtcm/epochs.hpp"
#include "rtcm/frames.hpp"
#include "rtcm/msm.hpp"
#include "test_rtcm_support.hpp"

namespace vardoln {
namespace {

// A bundled or shared stream read with its GPS week (from the shared data README); nothing
// when the file is absent.
std::optional<RtcmStream> stream_of(std::string_view relative, int gps_week) {
    const auto bytes = test::real_bytes(std::string("rtcm/") + std::string(relative));
    if (!bytes) return std::nullopt;
    auto result = read_rtcm(*bytes, gps_week);
    if (const auto* failure = std::get_if<RtcmError>(&result)) {
        ADD_FAILURE() << failure->message;
        return std::nullopt;
    }
    return std::move(std::get<RtcmStream>(result));
}

// The value of a code of a satellite in an epoch, if stored.
std::optional<double> value_at(const RinexObsData& record, std::size_t epoch, std::string_view satellite,
                               std::string_view code) {
    for (const auto& entry : record.satellites_of(record.epochs.at(epoch))) {
        if (record.satellite_id(entry) != satellite) continue;
        for (const auto& value : record.values_of(entry))
            if (record.code_of(value) == code) return value.value;
    }
    return std::nullopt;
}

struct Expected {
    std::string_view file;
    int gps_week;
    std::size_t epochs;
    std::string_view first;
    std::string_view last;
};

// A framed GPS MSM4 of one satellite with one signal (2: 1C) at a time of week, its C/N0 in
// whole dB-Hz, and the "more messages follow" bit.
void append_gps_msm4(std::string& stream, std::uint8_t satellite, std::uint32_t time_of_week_ms, bool more,
                     std::uint8_t cn0_dbhz) {
    BitWriter out;
    out.put(1074, 12).put(1, 12).put(time_of_week_ms, 30).put(more ? 1 : 0, 1).put(0, 3).put(0, 15);
    out.put(static_cast<std::int64_t>(std::uint64_t{1} << (64 - satellite)), 64).put(1 << 30, 32).put(1, 1);
    out.put(70, 8).put(512, 10);                                      // rough range
    out.put(100, 15).put(0, 22).put(5, 4).put(0, 1).put(cn0_dbhz, 6);  // the cell
    std::vector<std::uint8_t> frame = {kRtcmPreamble, static_cast<std::uint8_t>(out.bytes().size() >> 8),
                                       static_cast<std::uint8_t>(out.bytes().size() & 0xFF)};
    frame.insert(frame.end(), out.bytes().begin(), out.bytes().end());
    const std::uint32_t crc = crc24q(frame);
    for (const int shift : {16, 8, 0}) frame.push_back(static_cast<std::uint8_t>(crc >> shift));
    stream.append(frame.begin(), frame.end());
}

TEST(RtcmEpochs, EpochsCloseOnTheLastMessageOrANewTime) {
    std::string stream;
    append_gps_msm4(stream, 5, 1000, true, 40);
    append_gps_msm4(stream, 6, 1000, false, 41);  // closes the first epoch
    append_gps_msm4(stream, 5, 2000, true, 42);   // closed by the next time
    append_gps_msm4(stream, 5, 3000, true, 43);   // closed by the end of the stream
    append_gps_msm4(stream, 5, kMillisecondsPerWeek - 1000, true, 44);  // a week back: the week before
    auto result = read_rtcm(stream, 2300);
    ASSERT_TRUE(std::holds_alternative<RtcmStream>(result));
    const RtcmStream& read = std::get<RtcmStream>(result);
    const RinexObsData& record = read.record;
    ASSERT_EQ(read.epochs, 4u);
    EXPECT_EQ(record.epochs[0].satellite_count, 2u);
    EXPECT_EQ(value_at(record, 0, "G06", "S1C"), 41.0);
    EXPECT_EQ(value_at(record, 2, "G05", "S1C"), 43.0);
    EXPECT_EQ(timestamp_text(record.epochs[0].time), timestamp_text(gps_calendar_time(2300, 1000)));
    EXPECT_EQ(timestamp_text(record.epochs[3].time),
              timestamp_text(gps_calendar_time(2299, kMillisecondsPerWeek - 1000)));
    EXPECT_EQ(*record.obs_types_of("G"), (std::vector<std::string>{"C1C", "L1C", "S1C"}));
}

TEST(RtcmEpochs, EpochCountsAndSpans) {
    // USCL holds 1004 and MSM6/7 of one second, then a 1002 of the next.
    for (const Expected& expected : {
             Expected{"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", 2305, 2, "2024-03-13T16:35:45.000Z",
                      "2024-03-13T16:35:46.000Z"},
             Expected{"rtklib/testglo.rtcm3", 1562, 186, "2009-12-18T23:07:00.000Z", "2009-12-18T23:10:05.000Z"},
         }) {
        SCOPED_TRACE(expected.file);
        const auto stream = stream_of(expected.file, expected.gps_week);
        ASSERT_TRUE(stream);
        const RinexObsData& record = stream->record;
        ASSERT_EQ(record.epochs.size(), expected.epochs);
        EXPECT_EQ(stream->epochs, expected.epochs);
        EXPECT_EQ(timestamp_text(record.epochs.front().time), expected.first);
        EXPECT_EQ(timestamp_text(record.epochs.back().time), expected.last);
        EXPECT_EQ(record.interval, 1.0);
        EXPECT_EQ(stream->tally.bad_frames, 0u);
        EXPECT_EQ(stream->undecodable_messages + stream->untimed_messages, 0u);
        EXPECT_TRUE(record.approx_position);
    }
}

TEST(RtcmEpochs, KnownCellsAtTheirSatelliteCodeAndEpoch) {
    const auto uscl = stream_of("pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", 2305);
    ASSERT_TRUE(uscl);
    const RinexObsData& record = uscl->record;
    EXPECT_EQ(uscl->tally.frames, 35u);
    // MSM7 cells in 1/16 dB-Hz; G31 only came in the 1004, in 1/4 dB-Hz.
    EXPECT_EQ(value_at(record, 0, "G21", "S1C"), 38.4375);
    EXPECT_EQ(value_at(record, 0, "G21", "S1W"), 19.375);
    EXPECT_EQ(value_at(record, 0, "G31", "S1C"), 42.5);
    EXPECT_EQ(value_at(record, 0, "G31", "S2W"), 37.0);
    EXPECT_EQ(value_at(record, 0, "C12", "S7I"), 42.4375);
    EXPECT_EQ(value_at(record, 1, "G21", "S1W"), std::nullopt);  // the 1002 holds L1 only
    EXPECT_EQ(record.receiver_type, "SEPT POLARX5");
    const auto* gps = record.obs_types_of("G");
    ASSERT_NE(gps, nullptr);
    EXPECT_NE(std::find(gps->begin(), gps->end(), "S5Q"), gps->end());
    EXPECT_NE(std::find(gps->begin(), gps->end(), "C5Q"), gps->end());

    const auto glonass = stream_of("rtklib/testglo.rtcm3", 1562);
    ASSERT_TRUE(glonass);
    EXPECT_EQ(value_at(glonass->record, 0, "R14", "S1C"), 49.0);
    EXPECT_EQ(value_at(glonass->record, 0, "R14", "S2C"), 43.0);
    EXPECT_FALSE(glonass->record.glonass_slots.empty());
}

TEST(RtcmEpochs, StreamAcrossTheWeekChangeStaysOrdered) {
    const auto stream = stream_of("gnss-converters/week-rollover-STR17.rtcm3", 2009);
    if (!stream) GTEST_SKIP() << "the shared data folder is absent";
    const RinexObsData& record = stream->record;
    ASSERT_EQ(record.epochs.size(), 1126u);
    EXPECT_EQ(timestamp_text(record.epochs.front().time), "2018-07-14T23:50:18.000Z");
    EXPECT_EQ(timestamp_text(record.epochs.back().time), "2018-07-15T00:09:03.000Z");
    for (std::size_t i = 1; i < record.epochs.size(); ++i)
        ASSERT_NEAR(epoch_difference_seconds(record.epochs[i].time, record.epochs[i - 1].time), 1.0, 1e-3) << i;
}

// An MSM sends a cell's phase within 2^-8 ms of its satellite's rough range and its pseudorange
// within 2^-10 ms of it, so a phase turned into cycles by the right wavelength (the GLONASS one by
// the channel of the satellite information) lies within 2^-8 + 2^-10 ms (1464 m) of the
// pseudorange; one channel off would put a G1 phase about 7 km away.
TEST(RtcmEpochs, PhasesInCyclesOfTheirCarrier) {
    for (const auto& [file, week] : {std::pair<std::string_view, int>{"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", 2305},
                                     {"gnss-converters/week-rollover-STR17.rtcm3", 2009}}) {
        SCOPED_TRACE(file);
        const auto stream = stream_of(file, week);
        if (!stream) continue;
        const RinexObsData& record = stream->record;
        std::size_t phases = 0, slips = 0;
        for (const auto& epoch : record.epochs)
            for (const auto& entry : record.satellites_of(epoch)) {
                const std::string& key = record.satellite_id(entry);
                std::optional<std::int32_t> channel;
                for (const auto& [slot, k] : record.glonass_slots)
                    if (slot == std::to_string(std::stoi(key.substr(1)))) channel = k;
                for (const auto& value : record.values_of(entry)) {
                    const std::string& code = record.code_of(value);
                    if (code.front() != 'L') continue;
                    const auto wavelength =
                        carrier_wavelength_m(static_cast<GnssSystem>(key.front()), code[1], channel);
                    ASSERT_TRUE(wavelength) << key << " " << code;
                    const auto range = value_at(record, static_cast<std::size_t>(&epoch - record.epochs.data()), key,
                                                "C" + code.substr(1));
                    if (range) {
                        EXPECT_NEAR(value.value * *wavelength, *range, 1464.0) << key << " " << code;
                    }
                    ++phases;
                    slips += value.lli.value_or(0) & 1u;
                }
            }
        EXPECT_GT(phases, 100u);
        EXPECT_LT(slips, phases / 100 + 1);  // a steady station: hardly any new lock
    }
}

TEST(RtcmEpochs, CalendarTimeAndLeapSeconds) {
    EXPECT_EQ(timestamp_text(gps_calendar_time(2010, 0)), "2018-07-15T00:00:00.000Z");
    EXPECT_EQ(timestamp_text(gps_calendar_time(0, 86'400'000 + 1'500)), "1980-01-07T00:00:01.500Z");
    EXPECT_EQ(gps_leap_seconds(1562, 0), 15);
    EXPECT_EQ(gps_leap_seconds(2010, 0), 18);
}

TEST(RtcmEpochs, NoWeekNoCalendar) {
    EXPECT_TRUE(std::holds_alternative<RtcmError>(read_rtcm("", std::nullopt)));
    const auto empty = read_rtcm(std::string_view("\xD3\x00", 2), 2000);
    ASSERT_TRUE(std::holds_alternative<RtcmStream>(empty));
    EXPECT_EQ(std::get<RtcmStream>(empty).epochs, 0u);
}

}  // namespace
}  // namespace vardoln
