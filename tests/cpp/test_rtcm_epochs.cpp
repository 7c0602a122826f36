#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "rinex/epoch_time.hpp"
#include "rtcm/epochs.hpp"
#include "test_real_data.hpp"

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
