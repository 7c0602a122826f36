// The band detector on synthetic recordings whose episodes are known by construction: twelve
// GPS satellites at fixed elevations, 240 epochs at 30 s, C/N0 rising with elevation plus a
// little noise; episodes lower, blank or raise chosen values over chosen epochs.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "detector/detector.hpp"

namespace vardoln {
namespace {

constexpr std::size_t kSatellites = 12;
constexpr std::size_t kEpochs = 240;

// Value of satellite s, code c at epoch e, or NaN for none; `change` edits it.
using Change = std::function<double(std::size_t e, std::size_t s, const std::string& code, double value)>;

struct Synthetic {
    RinexObsData obs;
    std::vector<double> elevations;  // per satellite entry
};

double elevation_of(std::size_t s) { return 12.0 + 6.5 * static_cast<double>(s); }

// C/N0 of a signal: 30 dB-Hz plus 0.3 dB per degree (less for L2), and a deterministic wobble
// of up to 0.6 dB.
double nominal(std::size_t e, std::size_t s, const std::string& code) {
    const double wobble = 0.6 * std::sin(0.37 * static_cast<double>(e) + 1.3 * static_cast<double>(s));
    return (code == "S2L" ? 24.0 : 30.0) + 0.3 * elevation_of(s) + wobble;
}

Synthetic make(const Change& change = {}, const std::vector<std::string>& codes = {"S1C", "S2L"}) {
    Synthetic out;
    RinexObsData& obs = out.obs;
    obs.version = 3.04;
    obs.interval = 30.0;
    obs.codes = codes;
    obs.obs_types.push_back({"G", codes});
    for (std::size_t s = 0; s < kSatellites; ++s) {
        obs.satellite_ids.push_back((s + 1 < 10 ? "G0" : "G") + std::to_string(s + 1));
    }
    for (std::size_t e = 0; e < kEpochs; ++e) {
        ObservationEpoch epoch;
        const double seconds = 30.0 * static_cast<double>(e);
        epoch.time = {2024, 5, 3, static_cast<std::uint32_t>(seconds / 3600.0),
                      static_cast<std::uint32_t>(std::fmod(seconds, 3600.0) / 60.0), std::fmod(seconds, 60.0)};
        epoch.first_satellite = static_cast<std::uint32_t>(obs.satellite_entries.size());
        for (std::size_t s = 0; s < kSatellites; ++s) {
            SatelliteObservations entry;
            entry.satellite = static_cast<std::uint32_t>(s);
            entry.first_value = static_cast<std::uint32_t>(obs.values.size());
            for (std::size_t c = 0; c < codes.size(); ++c) {
                double value = nominal(e, s, codes[c]);
                if (change) value = change(e, s, codes[c], value);
                if (!std::isnan(value)) obs.values.push_back({value, std::nullopt, std::nullopt, static_cast<std::uint32_t>(c)});
            }
            entry.value_count = static_cast<std::uint32_t>(obs.values.size() - entry.first_value);
            if (entry.value_count == 0) continue;
            obs.satellite_entries.push_back(entry);
            out.elevations.push_back(elevation_of(s));
        }
        epoch.satellite_count = static_cast<std::uint32_t>(obs.satellite_entries.size() - epoch.first_satellite);
        if (epoch.satellite_count > 0) obs.epochs.push_back(epoch);
    }
    return out;
}

// Both ways of expecting C/N0: elevation templates and trailing medians.
std::vector<DetectorResult> detect_both(const Synthetic& synthetic, const DetectorSettings& settings = {}) {
    return {detect_events(synthetic.obs, &synthetic.elevations, settings),
            detect_events(synthetic.obs, nullptr, settings)};
}

Change lower(std::size_t first, std::size_t last, double drop_db, std::size_t satellites, const std::string& code = "S1C") {
    return [=](std::size_t e, std::size_t s, const std::string& c, double value) {
        return e >= first && e <= last && s < satellites && c == code ? value - drop_db : value;
    };
}

TEST(Detector, AnUntouchedRecordingHasNoEvent) {
    for (const DetectorResult& result : detect_both(make())) {
        EXPECT_EQ(result.epochs, kEpochs);
        EXPECT_DOUBLE_EQ(result.interval_s, 30.0);
        EXPECT_TRUE(result.events.empty());
    }
}

TEST(Detector, EveryL1SatelliteDownIsJammingFromItsFirstEpoch) {
    for (const DetectorResult& result : detect_both(make(lower(100, 111, 8.0, kSatellites)))) {
        ASSERT_EQ(result.events.size(), 1u);
        const DetectorEvent& event = result.events[0];
        EXPECT_EQ(event.type, EventType::jamming);
        EXPECT_EQ(event.first_epoch, 100u);
        EXPECT_EQ(event.last_epoch, 111u);
        EXPECT_EQ(event.start, "2024-05-03T00:50:00.000Z");
        EXPECT_EQ(event.bands, std::vector<Band>{Band::L1});
        EXPECT_EQ(event.systems, "G");
        EXPECT_EQ(event.satellites.size(), kSatellites);
        EXPECT_DOUBLE_EQ(event.share, 1.0);
        EXPECT_NEAR(event.median_drop_db, 8.0, 0.8);
        EXPECT_GE(event.largest_drop_db, event.median_drop_db);
    }
}

TEST(Detector, PartOfTheBandIsInterferenceNamingItsSatellites) {
    for (const DetectorResult& result : detect_both(make(lower(100, 111, 10.0, 5)))) {
        ASSERT_EQ(result.events.size(), 1u);
        const DetectorEvent& event = result.events[0];
        EXPECT_EQ(event.type, EventType::interference);
        EXPECT_EQ(event.satellites, (std::vector<std::string>{"G01", "G02", "G03", "G04", "G05"}));
        EXPECT_NEAR(event.share, 5.0 / 12.0, 1e-9);
    }
}

TEST(Detector, TwoBandsAtOnceIsJamming) {
    const Change both = [](std::size_t e, std::size_t s, const std::string&, double value) {
        return e >= 60 && e < 70 && s < 5 ? value - 9.0 : value;
    };
    for (const DetectorResult& result : detect_both(make(both))) {
        ASSERT_EQ(result.events.size(), 1u);
        EXPECT_EQ(result.events[0].type, EventType::jamming);
        EXPECT_EQ(result.events[0].bands, (std::vector<Band>{Band::L1, Band::L2}));
    }
}

TEST(Detector, SignalsLostInAnEpisodeCountAsDrops) {
    // 14 dB down on L1; values that fall below 25 dB-Hz are lost, as a receiver loses them. The
    // three weakest satellites go at once, the rest stay 14 dB down.
    const Change jam = [](std::size_t e, std::size_t, const std::string& c, double value) {
        if (e < 150 || e >= 160 || c != "S1C") return value;
        return value - 14.0 < 25.0 ? NAN : value - 14.0;
    };
    for (const DetectorResult& result : detect_both(make(jam))) {
        ASSERT_EQ(result.events.size(), 1u);
        EXPECT_EQ(result.events[0].first_epoch, 150u);
        EXPECT_EQ(result.events[0].type, EventType::jamming);
        EXPECT_EQ(result.events[0].satellites.size(), kSatellites);
    }
}

TEST(Detector, SatellitesLostInAnEpisodeStayLostWhileItLasts) {
    // Interference on half the satellites: the five weakest vanish, the sixth stays 12 dB down,
    // the other six hold. The lost ones keep counting while one of theirs shows the drop.
    const Change part = [](std::size_t e, std::size_t s, const std::string& c, double value) {
        if (e < 150 || e >= 160 || s >= 6 || c != "S1C") return value;
        return s < 5 ? NAN : value - 12.0;
    };
    for (const DetectorResult& result : detect_both(make(part))) {
        ASSERT_EQ(result.events.size(), 1u);
        EXPECT_EQ(result.events[0].first_epoch, 150u);
        EXPECT_GE(result.events[0].last_epoch, 158u);
        EXPECT_EQ(result.events[0].type, EventType::interference);
        EXPECT_EQ(result.events[0].satellites.size(), 6u);
    }
}

TEST(Detector, SatellitesLostWithoutADropAreNoEpisode) {
    // Seven satellites vanish for ten epochs (an obstruction as much as interference): the loss
    // counts at its epoch only, which is no event.
    const Change lose = [](std::size_t e, std::size_t s, const std::string& c, double value) {
        return e >= 150 && e < 160 && s < 7 && c == "S1C" ? NAN : value;
    };
    for (const DetectorResult& result : detect_both(make(lose))) EXPECT_TRUE(result.events.empty());
}

TEST(Detector, ShortOrSmallDropsAreNoEvent) {
    // Two epochs (one minute with the edges) of every satellite down, and a long 3 dB sag.
    for (const Change& change : {lower(80, 81, 12.0, kSatellites), lower(80, 140, 3.0, kSatellites)}) {
        for (const DetectorResult& result : detect_both(make(change))) EXPECT_TRUE(result.events.empty());
    }
}

TEST(Detector, FewerSatellitesThanNeededIsNoEvent) {
    DetectorSettings settings;
    settings.event_satellites = 4;
    for (const DetectorResult& result : detect_both(make(lower(100, 120, 15.0, 3)), settings)) {
        EXPECT_TRUE(result.events.empty());
    }
}

TEST(Detector, SemiCodelessTrackingIsLeftOut) {
    const Change sag = [](std::size_t e, std::size_t, const std::string& c, double value) {
        return e >= 100 && e < 130 && c == "S1W" ? value - 10.0 : value;
    };
    for (const DetectorResult& result : detect_both(make(sag, {"S1C", "S1W"}))) EXPECT_TRUE(result.events.empty());
}

TEST(Detector, ADropThatNeverRecoversIsALastingDrop) {
    for (const DetectorResult& result : detect_both(make(lower(200, kEpochs, 12.0, kSatellites)))) {
        ASSERT_EQ(result.events.size(), 1u);
        EXPECT_EQ(result.events[0].type, EventType::lasting_drop);
        EXPECT_EQ(result.events[0].first_epoch, 200u);
        EXPECT_EQ(result.events[0].last_epoch, kEpochs - 1);
    }
}

TEST(Detector, RaisedAndAlignedC0IsSpoofing) {
    const Change spoof = [](std::size_t e, std::size_t s, const std::string& c, double value) {
        if (e < 120 || e >= 130 || s >= 9 || c != "S1C") return value;
        return 52.0 + 0.1 * static_cast<double>(s % 3);
    };
    for (const DetectorResult& result : detect_both(make(spoof))) {
        ASSERT_EQ(result.events.size(), 1u);
        EXPECT_EQ(result.events[0].type, EventType::spoofing);
        EXPECT_EQ(result.events[0].first_epoch, 120u);
        EXPECT_GT(result.events[0].median_drop_db, 3.0);  // a rise
    }
}

TEST(Detector, UnselectedSystemsAreNotJudged) {
    DetectorSettings settings;
    settings.systems = "E";
    for (const DetectorResult& result : detect_both(make(lower(100, 111, 8.0, kSatellites)), settings)) {
        EXPECT_TRUE(result.events.empty());
    }
}

}  // namespace
}  // namespace vardoln
