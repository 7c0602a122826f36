// The batch position path (OrbitEvaluator, TopocentricFrame) against the one-request path:
// every answer must be the same bits, whatever the order of the requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "navigation/nav_data.hpp"
#include "navigation/orbit_detail.hpp"
#include "navigation/orbits.hpp"
#include "test_navigation_support.hpp"

namespace vardoln {
namespace {

using test::same_bits;

EpochTime seconds_into(EpochTime day, double seconds) {
    const auto whole = static_cast<std::uint32_t>(seconds);
    day.hour = whole / 3600;
    day.minute = whole % 3600 / 60;
    day.second = static_cast<double>(whole % 60) + (seconds - static_cast<double>(whole));
    return day;
}

// The record choice as written: first record in file order with the strictly smallest distance.
std::optional<std::uint32_t> walk(const std::vector<double>& julians, double julian, double window) {
    std::optional<std::uint32_t> best;
    double best_distance = 0.0;
    for (std::uint32_t k = 0; k < julians.size(); ++k) {
        const double distance = std::fabs(julians[k] - julian);
        if (distance < window && (!best || distance < best_distance)) best = k, best_distance = distance;
    }
    return best;
}

TEST(NavEvaluatorChoice, AgreesWithTheWalkFromAnyCursor) {
    const double request = julian_day({2024, 5, 3, 12, 0, 0.0});
    struct Case {
        const char* name;
        std::vector<double> offsets_s;  // toc of each record relative to the request, file order
    };
    const Case cases[] = {
        {"one record", {600}},
        {"nearest of many", {-7200, 3600, -1800, 1800, 5400}},
        {"symmetric tie keeps the earlier", {1800, -1800}},
        {"symmetric tie, other order", {-1800, 1800}},
        {"duplicates after a later one", {5400, 600, 600}},
        {"triple tie across both sides", {900, -900, 900, 3600}},
        {"record at the epoch", {3600, 0, -0.0}},
        {"exactly at the window", {14400, -14400}},
        {"beyond the window", {20000, -30000}},
        {"far from each other", {-86400, 7000, 86400}},
    };
    for (const Case& c : cases) {
        std::vector<double> julians;
        std::vector<orbit_detail::TimedRecord> by_time;
        for (const double offset : c.offsets_s) {
            julians.push_back(request + offset / 86400.0);
            by_time.push_back({julians.back(), static_cast<std::uint32_t>(julians.size() - 1)});
        }
        std::sort(by_time.begin(), by_time.end(), [](const auto& a, const auto& b) { return a.julian < b.julian; });
        for (const double probe_s : {0.0, -1799.0, 1799.0, 899.999, 14399.0}) {
            const double julian = request + probe_s / 86400.0;
            const auto expected = walk(julians, julian, orbit_detail::kKeplerianWindowDays);
            for (std::size_t start : {std::size_t{0}, by_time.size() / 2, by_time.size(), std::size_t{1000}}) {
                std::size_t cursor = start;
                const auto* chosen =
                    orbit_detail::choose_timed(by_time, cursor, julian, orbit_detail::kKeplerianWindowDays);
                const std::optional<std::uint32_t> got =
                    chosen ? std::optional<std::uint32_t>(chosen->index) : std::nullopt;
                EXPECT_EQ(got, expected) << c.name << " at " << probe_s << " s, cursor " << start;
            }
        }
    }
    std::size_t cursor = 0;
    const std::vector<orbit_detail::TimedRecord> one{{request, 0}};
    EXPECT_EQ(orbit_detail::choose_timed(one, cursor, std::nan(""), 1.0), nullptr);
    EXPECT_EQ(orbit_detail::choose_timed(one, cursor, INFINITY, 1.0), nullptr);
    EXPECT_EQ(orbit_detail::choose_timed({}, cursor, request, 1.0), nullptr);
}

// A whole day of requests in three orders: forward, backward, and strides that jump about.
// satellite_position answers each request from a fresh evaluator: a long-lived one must give
// the same bits whatever it was asked before.
TEST(NavEvaluatorFiles, SameBitsAsAFreshEvaluator) {
    struct Case {
        const char* file;
        EpochTime day;
    };
    const Case cases[] = {
        {"nav/ESBC00DNK_R_20201770000_01D_MN.rnx", {2020, 6, 25, 0, 0, 0.0}},
        {"nav/BRDC00GOP_R_20210010000_01D_MN.rnx", {2021, 1, 1, 0, 0, 0.0}},
        {"nav/SEPT2650.21P", {2021, 9, 22, 0, 0, 0.0}},
    };
    bool any = false;
    for (const Case& c : cases) {
        const auto nav = test::shared_nav(c.file);
        if (!nav) continue;
        any = true;
        std::vector<std::string> keys{"", "S20", "G99", "X01"};
        for (const auto* map : {&nav->gps, &nav->galileo, &nav->beidou})
            for (const auto& [key, records] : *map) keys.push_back(key);
        for (const auto& [key, records] : nav->glonass) keys.push_back(key);

        // 97 s apart, so that GLONASS requests fall off the 60 s grid.
        std::vector<double> forward;
        for (double s = 0.25; s < 86400.0; s += 97.0) forward.push_back(s);
        std::vector<double> backward(forward.rbegin(), forward.rend());
        std::vector<double> strides;
        for (std::size_t k = 0; k < forward.size(); ++k) strides.push_back(forward[k * 37 % forward.size()]);

        for (const auto* order : {&forward, &backward, &strides}) {
            OrbitEvaluator evaluator(*nav);
            for (const std::string& key : keys) evaluator.add_satellite(key);
            std::size_t found = 0;
            for (const double s : *order) {
                const EpochTime epoch = seconds_into(c.day, s);
                const OrbitEpoch at = orbit_epoch(epoch);
                for (std::size_t k = 0; k < keys.size(); ++k) {
                    const auto expected = satellite_position(*nav, keys[k], epoch);
                    found += expected.has_value();
                    ASSERT_TRUE(same_bits(evaluator.position(k, at), expected))
                        << c.file << " " << keys[k] << " " << timestamp_text(epoch);
                }
            }
            EXPECT_GT(found, 0u) << c.file;
            EXPECT_FALSE(evaluator.position(keys.size(), orbit_epoch(c.day)));
        }
    }
    if (!any) GTEST_SKIP() << "shared navigation files missing";
}

TEST(NavEvaluatorGlonass, GridReuseKeepsEveryStep) {
    GlonassEphemeris eph;  // R03 of brdc3050.12g, in metres
    eph.toc = {2012, 10, 31, 0, 15, 0.0};
    eph.x = -2.380982128906e+07, eph.vx = 2.289457321167e+02, eph.ax = -3.725290298462e-06;
    eph.y = -8.908935546875e+06, eph.vy = 2.536134719849e+02, eph.ay = 9.313225746155e-07;
    eph.z = 2.209434082031e+06, eph.vz = 3.556049346924e+03, eph.az = -1.862645149231e-06;
    // Out of order, both directions, on and off the grid, and past what an earlier call reached.
    const double requests_s[] = {150.0, 30.0, 3599.5, 60.0,  120.0, -150.0, -3599.0, -60.0,
                                 0.0,   -0.0, 0.001,  900.0, 899.0, 3540.0, -3540.0, 1e-9};
    orbit_detail::GlonassGrid grid;
    for (const double dt : requests_s) {
        orbit_detail::GlonassGrid fresh;
        EXPECT_TRUE(same_bits(orbit_detail::glonass_position(eph, grid, dt), orbit_detail::glonass_position(eph, fresh, dt)))
            << dt;
    }
    EXPECT_LE(grid.forward.size(), 64u);
    EXPECT_LE(grid.backward.size(), 64u);
}

TEST(NavEvaluatorFrame, SameAnglesAsLookAngles) {
    struct Case {
        const char* name;
        Ecef receiver;
        Ecef satellite;
    };
    const Case cases[] = {
        {"overhead at the equator", {6378137.0, 0, 0}, {26560000.0, 0, 0}},
        {"due east on the horizon", {6378137.0, 0, 0}, {6378137.0, 20000000.0, 0}},
        {"mid latitude", {3512000.0, 778000.0, 5250000.0}, {15600000.0, -8100000.0, 19800000.0}},
        {"below the horizon", {3512000.0, 778000.0, 5250000.0}, {-20000000.0, 5000000.0, -12000000.0}},
        {"southern receiver", {1944000.0, -4600000.0, -3939000.0}, {-2000000.0, -16000000.0, -21000000.0}},
        {"receiver at a pole", {0, 0, 6356752.3}, {10000000.0, 0, 24000000.0}},
    };
    for (const Case& c : cases) {
        const Geodetic geodetic = ecef_to_geodetic(c.receiver);
        const TopocentricFrame frame(c.receiver, geodetic);
        const LookAngles expected = look_angles(c.receiver, geodetic, c.satellite);
        const LookAngles got = frame.look_angles(c.satellite);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got.azimuth_deg), std::bit_cast<std::uint64_t>(expected.azimuth_deg))
            << c.name;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got.elevation_deg), std::bit_cast<std::uint64_t>(expected.elevation_deg))
            << c.name;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(frame.elevation_deg(c.satellite)),
                  std::bit_cast<std::uint64_t>(expected.elevation_deg))
            << c.name;
    }
}

}  // namespace
}  // namespace vardoln
