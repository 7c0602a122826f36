// The orbit source, the position table and the prediction over observation records, with
// hand-made records and ephemerides, and end to end on real station files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "navigation/nav_data.hpp"
#include "navigation/orbit_source.hpp"
#include "navigation/orbits.hpp"
#include "rinex/file_io.hpp"
#include "rinex/obs_data.hpp"
#include "visibility/visibility.hpp"
#include "test_real_data.hpp"

namespace vardoln {
namespace {

using Keys = std::vector<std::string>;

struct Value {
    std::string code;
    double value;
};
struct Satellite {
    std::string id;
    std::vector<Value> values;
};

// Builds the compact record the reader would produce: interned identifiers and codes.
class ObsBuilder {
public:
    ObsBuilder& position(const Ecef& ecef) {
        obs_.approx_position = ecef;
        return *this;
    }
    ObsBuilder& epoch(const EpochTime& time, const std::vector<Satellite>& satellites) {
        ObservationEpoch epoch{time, 0, static_cast<std::uint32_t>(obs_.satellite_entries.size()),
                               static_cast<std::uint32_t>(satellites.size())};
        for (const Satellite& s : satellites) {
            SatelliteObservations entry{intern(obs_.satellite_ids, s.id),
                                        static_cast<std::uint32_t>(obs_.values.size()),
                                        static_cast<std::uint32_t>(s.values.size())};
            for (const Value& v : s.values) {
                obs_.values.push_back({v.value, std::nullopt, std::nullopt, intern(obs_.codes, v.code)});
            }
            obs_.satellite_entries.push_back(entry);
        }
        obs_.epochs.push_back(epoch);
        return *this;
    }
    const RinexObsData& get() const { return obs_; }

private:
    static std::uint32_t intern(std::vector<std::string>& table, const std::string& text) {
        for (std::size_t i = 0; i < table.size(); ++i) {
            if (table[i] == text) return static_cast<std::uint32_t>(i);
        }
        table.push_back(text);
        return static_cast<std::uint32_t>(table.size() - 1);
    }
    RinexObsData obs_;
};

const EpochTime kStart{2024, 1, 15, 6, 30, 0.0};

EpochTime after(double seconds) {
    EpochTime time = kStart;
    time.second = seconds;
    return time;
}

// A circular Keplerian orbit of the given radius, valid around kStart.
Ephemeris circular_orbit(double radius_m, double node_rad) {
    Ephemeris eph;
    eph.toc = kStart;
    eph.toe = 109800.0;  // Monday 06:30 as seconds of the GPS week
    eph.sqrt_a = std::sqrt(radius_m);
    eph.i0 = 0.96;
    eph.omega0 = node_rad;
    eph.m0 = 0.5;
    return eph;
}

// Nav data with G05 in a GPS-like orbit and G06 far too low; and a receiver under G05 at kStart.
struct Scene {
    std::shared_ptr<NavigationData> nav = std::make_shared<NavigationData>();
    Ecef receiver{};

    Scene() {
        nav->gps["G05"] = {circular_orbit(26560e3, 1.0)};
        nav->gps["G06"] = {circular_orbit(7000e3, 1.0)};
        const Ecef above = *satellite_position(*nav, "G05", kStart);
        const double scale = 6371e3 / std::sqrt(above[0] * above[0] + above[1] * above[1] + above[2] * above[2]);
        receiver = {above[0] * scale, above[1] * scale, above[2] * scale};
    }
};

const std::vector<Value> kStrong{{"C1C", 2.2e7}, {"S1C", 45.0}};

TEST(OrbitSource, CandidatesAreEveryEphemerisKeySortedAcrossMaps) {
    auto nav = std::make_shared<NavigationData>();
    nav->gps["G02"];
    nav->gps["J01"];
    nav->galileo["E05"];
    nav->beidou["C10"];
    nav->glonass["R03"];
    nav->glonass_freq["R03"] = 1;
    const OrbitSource source = make_orbit_source(nav);
    EXPECT_EQ(source.candidates, (Keys{"C10", "E05", "G02", "J01", "R03"}));
    EXPECT_EQ(source.source_text, "BRDC Navigation (5 satellites)");
    EXPECT_EQ(source.nav, nav);

    EXPECT_EQ(make_orbit_source(std::make_shared<NavigationData>()).source_text, "BRDC Navigation (0 satellites)");
    EXPECT_EQ(make_orbit_source(nullptr).source_text, "BRDC Navigation (0 satellites)");
}

TEST(PositionTable, HoldsPositionsOfCandidatesPresentAtEachEpoch) {
    const Scene scene;
    const OrbitSource source = make_orbit_source(scene.nav);
    ObsBuilder obs;
    obs.position(scene.receiver)
        .epoch(after(0), {{"S20", kStrong}, {"G05", kStrong}})
        .epoch(after(30), {{"G06", kStrong}});
    const PositionTable table(source, obs.get());

    ASSERT_TRUE(table.computed());
    EXPECT_EQ(table.candidate_count(), 2u);
    EXPECT_EQ(table.candidate_index("G05"), 0u);
    EXPECT_EQ(table.candidate_index("G06"), 1u);
    EXPECT_EQ(table.candidate_index("S20"), std::nullopt);
    EXPECT_EQ(table.key(1), "G06");

    EXPECT_EQ(table.position(0, 0), satellite_position(*scene.nav, "G05", after(0)));
    EXPECT_EQ(table.position_of_entry(1), table.position(0, 0));
    EXPECT_FALSE(table.position(0, 1).has_value());  // G06 has no entry at epoch 0
    EXPECT_EQ(table.position(1, 1), satellite_position(*scene.nav, "G06", after(30)));
    EXPECT_FALSE(table.position(2, 0).has_value());
    EXPECT_FALSE(table.position_of_entry(0).has_value());  // S20 is no candidate
    EXPECT_FALSE(table.position_of_entry(99).has_value());

    ObsBuilder without_position;
    without_position.epoch(after(0), {{"G05", kStrong}});
    const PositionTable idle(source, without_position.get());
    EXPECT_FALSE(idle.computed());
    EXPECT_EQ(idle.candidate_index("G05"), 0u);
    EXPECT_FALSE(idle.position(0, 0).has_value());
}

TEST(PredictVisibility, WithoutReceiverPositionOrEpochsTheSummaryIsEmpty) {
    const Scene scene;
    const OrbitSource source = make_orbit_source(scene.nav);
    ObsBuilder no_position;
    no_position.epoch(after(0), {{"G05", kStrong}});
    ObsBuilder no_epochs;
    no_epochs.position(scene.receiver);
    for (const RinexObsData* obs : {&no_position.get(), &no_epochs.get()}) {
        const VisibilitySummary summary = predict_visibility(source, PositionTable(source, *obs), *obs, 0.0);
        EXPECT_EQ(summary.prediction_source, "");
        EXPECT_EQ(summary.mean_observed, 0.0);
        EXPECT_TRUE(summary.by_system.empty());
        EXPECT_TRUE(summary.anomalies.empty());
        EXPECT_TRUE(visibility_counts(source, *obs, 0.0).letters.empty());
    }
}

TEST(PredictVisibility, EmptyNavigationMakesEveryObservedSatelliteUnexpected) {
    const Scene scene;
    const OrbitSource source = make_orbit_source(std::make_shared<NavigationData>());
    ObsBuilder obs;
    obs.position(scene.receiver)
        .epoch(after(0), {{"G05", kStrong}, {"S20", kStrong}, {"R07", {{"C1C", 2.1e7}}}})
        .epoch(after(30), {{"G05", kStrong}, {"S20", {{"S1C", -1.0}}}});
    const VisibilitySummary summary = predict_visibility(source, PositionTable(source, obs.get()), obs.get(), 5.0);
    EXPECT_EQ(summary.prediction_source, "BRDC Navigation (0 satellites)");
    EXPECT_EQ(summary.mean_predicted, 0.0);
    EXPECT_DOUBLE_EQ(summary.mean_observed, 1.5);  // R07 has no S code, S20's value is not above 0
    EXPECT_DOUBLE_EQ(summary.mean_unexpected, 1.5);
    EXPECT_EQ(summary.confirmation_rate, 0.0);
    EXPECT_EQ(summary.frequently_unexpected, (Keys{"G05", "S20"}));
}

TEST(PredictVisibility, PredictsByOrbitRadiusAndElevationMask) {
    const Scene scene;
    const OrbitSource source = make_orbit_source(scene.nav);
    ObsBuilder obs;
    // G05 overhead and seen; G06 overhead too but its orbit radius is no GNSS orbit; S20 is
    // never a candidate.
    for (double t : {0.0, 30.0}) {
        obs.epoch(after(t), {{"G05", kStrong}, {"G06", kStrong}, {"S20", kStrong}});
    }
    obs.position(scene.receiver);
    const PositionTable table(source, obs.get());

    struct Case {
        double mask;
        double mean_predicted;
        double rate;
        Keys unexpected;
    };
    for (const Case& c : {Case{5.0, 1.0, 100.0, {"G06", "S20"}}, Case{85.0, 1.0, 100.0, {"G06", "S20"}},
                          Case{90.5, 0.0, 0.0, {"G05", "G06", "S20"}}}) {
        SCOPED_TRACE(c.mask);
        const VisibilitySummary summary = predict_visibility(source, table, obs.get(), c.mask);
        EXPECT_EQ(summary.prediction_source, "BRDC Navigation (2 satellites)");
        EXPECT_DOUBLE_EQ(summary.mean_predicted, c.mean_predicted);
        EXPECT_DOUBLE_EQ(summary.confirmation_rate, c.rate);
        EXPECT_EQ(summary.frequently_unexpected, c.unexpected);
        EXPECT_EQ(summary.by_system.at("GPS").observed_satellites, 2u);
        // A table built elsewhere (or none) gives the same answer.
        const VisibilitySummary own = predict_visibility(source, PositionTable(), obs.get(), c.mask);
        EXPECT_EQ(own.frequently_unexpected, summary.frequently_unexpected);
        EXPECT_EQ(own.mean_predicted, summary.mean_predicted);
    }
}

TEST(PredictVisibility, CandidatesAbsentFromAnEpochAreStillPredicted) {
    const Scene scene;
    const OrbitSource source = make_orbit_source(scene.nav);
    ObsBuilder obs;
    obs.position(scene.receiver)
        .epoch(after(0), {{"G05", kStrong}})
        .epoch(after(30), {{"S20", kStrong}})
        .epoch(after(60), {{"G05", kStrong}});
    const VisibilitySummary summary = predict_visibility(source, PositionTable(source, obs.get()), obs.get(), 10.0);
    EXPECT_DOUBLE_EQ(summary.mean_predicted, 1.0);
    EXPECT_DOUBLE_EQ(summary.mean_missing, 1.0 / 3.0);
    EXPECT_EQ(summary.frequently_missing, (Keys{"G05"}));  // 1 > floor(3 / 4)
    ASSERT_EQ(summary.anomalies.size(), 1u);                // missing 1 of 1 at the middle epoch
    EXPECT_EQ(summary.anomalies[0].start_time, "2024-01-15T06:30:30.000Z");
    EXPECT_EQ(summary.anomalies[0].affected_satellites, (Keys{"G05"}));
}

TEST(PredictVisibility, ASelectionLeavesTheOtherConstellationsOut) {
    const Scene scene;
    const OrbitSource source = make_orbit_source(scene.nav);
    ObsBuilder obs;
    obs.position(scene.receiver)
        .epoch(after(0), {{"G05", kStrong}, {"R07", kStrong}, {"S20", kStrong}})
        .epoch(after(30), {{"G05", kStrong}, {"R07", kStrong}});
    const VisibilitySummary every = predict_visibility(source, PositionTable(source, obs.get()), obs.get(), 5.0);
    EXPECT_EQ(every.frequently_unexpected, (Keys{"R07", "S20"}));
    // Every letter there selected: the very summary of the analysis.
    const VisibilitySummary all = predict_visibility(source, obs.get(), 5.0, "GRS");
    EXPECT_EQ(all.mean_observed, every.mean_observed);
    EXPECT_EQ(all.mean_unexpected, every.mean_unexpected);
    EXPECT_EQ(all.frequently_unexpected, every.frequently_unexpected);
    EXPECT_EQ(all.anomalies.size(), every.anomalies.size());
    // GPS alone: R07 and S20 are neither observed nor unexpected.
    const VisibilitySummary gps = predict_visibility(source, obs.get(), 5.0, "G");
    EXPECT_DOUBLE_EQ(gps.mean_observed, 1.0);
    EXPECT_EQ(gps.mean_unexpected, 0.0);
    EXPECT_EQ(gps.confirmation_rate, 100.0);
    EXPECT_TRUE(gps.frequently_unexpected.empty());
    // The per-epoch counts keep the selected columns only.
    EXPECT_EQ(visibility_counts(source, obs.get(), 5.0, "G").letters, (std::vector<char>{'G'}));
    EXPECT_EQ(visibility_counts(source, obs.get(), 5.0).letters, (std::vector<char>{'G', 'R', 'S'}));
}

// Real station files: clean receivers whose broadcast orbits agree with what they tracked.
// (Pairs whose navigation file starts hours after the observations, such as delf0010.21o with
// cbw10010.21n, rightly predict only the few satellites with a record inside the window.)
struct StationCase {
    const char* obs;
    const char* nav;
    std::uint64_t gps_min;
    std::uint64_t gps_max;
};

TEST(PredictVisibility, RealStationsConfirmWhatTheOrbitsPredict) {
    std::size_t found = 0;
    for (const StationCase& c : {StationCase{"obs3/SEPT265G.21O", "nav/SEPT2650.21P", 7, 12},
                                 StationCase{"obs3/SEPT078M.21O", "nav/SEPT078M.21P", 7, 12}}) {
        SCOPED_TRACE(c.obs);
        const auto obs_bytes = test::real_bytes(c.obs);
        const auto nav_bytes = test::real_bytes(c.nav);
        if (!obs_bytes || !nav_bytes) continue;  // SEPT078M is not bundled
        ++found;
        auto obs = parse_observation_file(*obs_bytes, c.obs);
        auto nav = parse_navigation(*nav_bytes);
        ASSERT_TRUE(std::holds_alternative<RinexObsData>(obs));
        ASSERT_TRUE(std::holds_alternative<NavigationData>(nav));
        const RinexObsData& record = std::get<RinexObsData>(obs);

        const OrbitSource source =
            make_orbit_source(std::make_shared<const NavigationData>(std::move(std::get<NavigationData>(nav))));
        const VisibilitySummary summary = predict_visibility(source, PositionTable(source, record), record, 5.0);
        const SystemVisibility& gps = summary.by_system.at("GPS");
        EXPECT_GE(gps.predicted_satellites, c.gps_min);
        EXPECT_LE(gps.predicted_satellites, c.gps_max);
        EXPECT_GT(summary.confirmation_rate, 80.0);
        EXPECT_GT(summary.mean_predicted, 0.0);
        EXPECT_LE(summary.mean_missing, summary.mean_predicted);

        // The per-epoch counts of each constellation add up to the summary's means.
        const VisibilityCounts counts = visibility_counts(source, record, 5.0);
        ASSERT_EQ(counts.predicted.size(), record.epochs.size() * counts.letters.size());
        const auto sum = [](const std::vector<std::uint32_t>& values) {
            double total = 0.0;
            for (const std::uint32_t value : values) total += value;
            return total;
        };
        const double epochs = static_cast<double>(record.epochs.size());
        EXPECT_DOUBLE_EQ(sum(counts.predicted) / epochs, summary.mean_predicted);
        EXPECT_DOUBLE_EQ(sum(counts.observed) / epochs, summary.mean_observed);
        EXPECT_DOUBLE_EQ(sum(counts.confirmed) / sum(counts.predicted) * 100.0, summary.confirmation_rate);
    }
    EXPECT_GT(found, 0u);
}

}  // namespace
}  // namespace vardoln
