#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cn0/anomalies.hpp"
#include "cn0/samples.hpp"

namespace vardoln {
namespace {

// One satellite's values, one per timestamp slot (NaN: no sample at that slot); `signals`
// copies of each value model several S codes of one satellite.
struct Track {
    std::string_view satellite;
    std::vector<double> values;
    int signals = 1;
};

// `count` values at `level`, the one at `fade_slot` lowered by `depth`. With the fade included,
// count 13 and depth 13 put the fade exactly 12 dB under the mean (mean = level - 1).
std::vector<double> fading(std::size_t count, double level, std::size_t fade_slot, double depth) {
    std::vector<double> values(count, level);
    values.at(fade_slot) = level - depth;
    return values;
}

// Samples in extraction order: slot by slot, satellites ascending, signals in turn.
SampleSet sample_set(std::vector<Track> tracks) {
    std::sort(tracks.begin(), tracks.end(), [](const Track& a, const Track& b) { return a.satellite < b.satellite; });
    SampleSet set;
    std::size_t slots = 0;
    for (const Track& t : tracks) {
        set.satellites.push_back(t.satellite);
        set.satellite_systems.push_back(sample_system(t.satellite[0]));
        slots = std::max(slots, t.values.size());
    }
    set.signals = {"S1C", "S2W"};
    for (std::size_t slot = 0; slot < slots; ++slot) {
        std::string text = "2024-01-15T00:00:00.000Z";
        text[14] = static_cast<char>('0' + slot / 10 % 6);  // minutes: slots stay below 60
        text[15] = static_cast<char>('0' + slot % 10);
        set.timestamps.push_back(text);
        for (std::uint32_t s = 0; s < tracks.size(); ++s) {
            if (slot >= tracks[s].values.size() || std::isnan(tracks[s].values[slot])) continue;
            for (int signal = 0; signal < tracks[s].signals; ++signal) {
                set.samples.push_back({static_cast<std::uint32_t>(slot), s, static_cast<std::uint32_t>(signal),
                                       tracks[s].values[slot], 45.0, 0.0});
            }
        }
    }
    return set;
}

std::vector<AnomalyEvent> detect(const std::vector<Track>& tracks, AnomalyThresholds thresholds) {
    const SampleSet set = sample_set(tracks);
    return detect_anomalies(set, group_samples(set), thresholds);
}

constexpr AnomalyThresholds kLow2{2.0, 6.0, 10.0};

struct Expected {
    std::string event_type;
    std::string description;
    std::vector<std::string> satellites;
    std::vector<std::string> systems;
};

struct EventCase {
    const char* name;
    std::vector<Track> tracks;
    AnomalyThresholds thresholds;
    std::vector<Expected> events;  // all at slot 5
};

TEST(Anomalies, EventTable) {
    const std::vector<double> steady(13, 45.0);
    const EventCase cases[] = {
        {"two GPS satellites 12 dB down",
         {{"G01", fading(13, 45, 5, 13)}, {"G02", fading(13, 45, 5, 13)}, {"G03", steady}},
         kLow2,
         {{"Multi-satellite CN0 drop", "12.0 dB-Hz drop affecting 2 satellite(s)", {"G01", "G02"}, {"GPS"}}}},
        {"GPS and Galileo",
         {{"G01", fading(13, 45, 5, 13)}, {"E05", fading(13, 45, 5, 13)}},
         kLow2,
         {{"Multi-system CN0 drop", "12.0 dB-Hz drop affecting 2 satellite(s)", {"E05", "G01"}, {"Galileo", "GPS"}}}},
        {"four GPS satellites",
         {{"G01", fading(13, 45, 5, 13)},
          {"G02", fading(13, 45, 5, 13)},
          {"G03", fading(13, 45, 5, 13)},
          {"G04", fading(13, 45, 5, 13)}},
         kLow2,
         {{"Multi-system CN0 drop",
           "12.0 dB-Hz drop affecting 4 satellite(s)",
           {"G01", "G02", "G03", "G04"},
           {"GPS"}}}},
        {"exactly one satellite, 30 dB", {{"G01", fading(13, 45, 5, 30)}, {"G02", steady}}, kLow2, {}},
        {"nine samples are never affected",
         {{"G01", fading(9, 45, 5, 30)}, {"G02", fading(9, 45, 5, 30)}, {"G03", fading(13, 45, 5, 13)}},
         kLow2,
         {}},
        {"ten samples are enough",
         // 9 x 45 and 15: mean 42, spread 9, drop 27 above 9 x 2.
         {{"G01", fading(10, 45, 5, 30)}, {"G02", fading(10, 45, 5, 30)}},
         kLow2,
         {{"Multi-satellite CN0 drop", "27.0 dB-Hz drop affecting 2 satellite(s)", {"G01", "G02"}, {"GPS"}}}},
        {"drop exactly 10.0 is not above 10",
         // 10 x 45 and 34: mean 44, drop 10.
         {{"G01", fading(11, 45, 5, 11)}, {"G02", fading(11, 45, 5, 11)}},
         {0.5, 6.0, 10.0},
         {}},
        {"drop exactly spread floor x low is not above",
         // 25 x 45 and 32: mean 44.5, spread 2.5 (floored to 5), drop 12.5 = 5 x 2.5.
         {{"G01", fading(26, 45, 5, 13)}, {"G02", fading(26, 45, 5, 13)}},
         {2.5, 6.0, 10.0},
         {}},
        {"just under the relative threshold",
         {{"G01", fading(26, 45, 5, 13)}, {"G02", fading(26, 45, 5, 13)}},
         {2.4999, 6.0, 10.0},
         {{"Multi-satellite CN0 drop", "12.5 dB-Hz drop affecting 2 satellite(s)", {"G01", "G02"}, {"GPS"}}}},
        {"two signals of one satellite count once",
         {{"G01", fading(13, 45, 5, 13), 2}, {"G02", fading(13, 45, 5, 13)}},
         kLow2,
         {{"Multi-satellite CN0 drop", "12.0 dB-Hz drop affecting 2 satellite(s)", {"G01", "G02"}, {"GPS"}}}},
        {"two signals of a single satellite are no event", {{"G01", fading(13, 45, 5, 13), 2}, {"G02", steady}}, kLow2,
         {}},
        {"largest drop is reported, rounded ties-to-even",
         // 12 x 45 and 32 (drop 12); 20 x 45 and 20 (mean 43.75, drop 23.75 -> "23.8").
         {{"G01", fading(13, 45, 5, 13)}, {"G02", fading(20, 45, 5, 25)}},
         kLow2,
         {{"Multi-satellite CN0 drop", "23.8 dB-Hz drop affecting 2 satellite(s)", {"G01", "G02"}, {"GPS"}}}},
    };
    for (const EventCase& c : cases) {
        const std::vector<AnomalyEvent> events = detect(c.tracks, c.thresholds);
        ASSERT_EQ(events.size(), c.events.size()) << c.name;
        for (std::size_t i = 0; i < events.size(); ++i) {
            EXPECT_EQ(events[i].timestamp, "2024-01-15T00:05:00.000Z") << c.name;
            EXPECT_EQ(events[i].event_type, c.events[i].event_type) << c.name;
            EXPECT_EQ(events[i].description, c.events[i].description) << c.name;
            EXPECT_EQ(events[i].affected_satellites, c.events[i].satellites) << c.name;
            EXPECT_EQ(events[i].affected_systems, c.events[i].systems) << c.name;
        }
    }
}

TEST(Anomalies, SpreadAboveTheFloorIsUsed) {
    // 5 x 52 and 5 x 28: mean 40, spread 12; each low sample is 12 dB down.
    const std::vector<double> noisy = {52, 28, 52, 28, 52, 28, 52, 28, 52, 28};
    EXPECT_TRUE(detect({{"G01", noisy}, {"G02", noisy}}, {1.0, 6.0, 10.0}).empty());
    const auto events = detect({{"G01", noisy}, {"G02", noisy}}, {0.9, 6.0, 10.0});
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].timestamp, "2024-01-15T00:01:00.000Z");
    EXPECT_EQ(events[4].timestamp, "2024-01-15T00:09:00.000Z");
    EXPECT_EQ(events[0].cn0_drop, 12.0);
}

struct SeverityCase {
    double depth;  // with count 13: drop = depth * 12 / 13
    AnomalyThresholds thresholds;
    const char* severity;
};

TEST(Anomalies, SeverityTable) {
    const SeverityCase cases[] = {
        {13.0, {2.0, 15.0, 20.0}, "low"},       // drop 12
        {19.5, {2.0, 15.0, 20.0}, "high"},      // drop 18
        {26.0, {2.0, 15.0, 20.0}, "critical"},  // drop 24
        {13.0, {2.0, 12.0, 20.0}, "high"},      // drop exactly at high
        {13.0, {2.0, 6.0, 12.0}, "critical"},   // drop exactly at critical
        {13.0, {2.0, 30.0, 11.0}, "critical"},  // critical wins over a larger high
        {13.0, {1.0, 6.0, 10.0}, "critical"},   // the fixed thresholds: always critical
    };
    for (const SeverityCase& c : cases) {
        const auto events = detect({{"G01", fading(13, 45, 5, c.depth)}, {"R01", fading(13, 45, 5, c.depth)}},
                                   c.thresholds);
        ASSERT_EQ(events.size(), 1u) << c.depth;
        EXPECT_EQ(events[0].severity, c.severity) << c.depth << " " << c.thresholds.high;
        EXPECT_EQ(events[0].event_type, "Multi-system CN0 drop");
    }
}

TEST(Anomalies, OneEventPerAnomalousTimestampInOrder) {
    // A satellite without a sample at the other fade's slot plays no part there.
    auto g03 = fading(13, 45, 7, 13);
    g03[5] = std::nan("");
    const auto events = detect({{"G01", fading(13, 45, 7, 13)},
                                {"G02", fading(13, 45, 7, 13)},
                                {"G03", g03},
                                {"E01", fading(13, 45, 2, 13)},
                                {"E02", fading(13, 45, 2, 13)}},
                               kLow2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].timestamp, "2024-01-15T00:02:00.000Z");
    EXPECT_EQ(events[0].affected_systems, (std::vector<std::string>{"Galileo"}));
    EXPECT_EQ(events[1].timestamp, "2024-01-15T00:07:00.000Z");
    EXPECT_EQ(events[1].description, "12.0 dB-Hz drop affecting 3 satellite(s)");
    EXPECT_EQ(events[1].event_type, "Multi-satellite CN0 drop");
}

}  // namespace
}  // namespace vardoln
