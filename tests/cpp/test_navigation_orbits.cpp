// Satellite positions, record choice, geodetic conversion and look angles.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "navigation/nav_data.hpp"
#include "navigation/orbit_detail.hpp"
#include "navigation/orbits.hpp"
#include "test_navigation_support.hpp"

// Every allocation of this test program is counted, so that a test can show that position
// requests allocate nothing.
namespace {
std::atomic<std::size_t> allocations{0};
}  // namespace

[[gnu::noinline]] void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
// Kept out of line: inlined into the library's deallocations, the pairing of the replaced
// operator new with free() is taken for a mismatch by the compiler's warning.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace vardoln {
namespace {

using orbit_detail::GlonassState;


double norm(const Ecef& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }
double distance(const Ecef& a, const Ecef& b) { return norm({a[0] - b[0], a[1] - b[1], a[2] - b[2]}); }

// The epoch `seconds` after `base`, carried into minutes and hours within the day.
EpochTime shifted(EpochTime base, int seconds) {
    int total = static_cast<int>(base.hour) * 3600 + static_cast<int>(base.minute) * 60 + seconds;
    int day = static_cast<int>(base.day);
    while (total < 0) total += 86400, --day;
    while (total >= 86400) total -= 86400, ++day;
    base.day = static_cast<std::uint32_t>(day);
    base.hour = static_cast<std::uint32_t>(total / 3600);
    base.minute = static_cast<std::uint32_t>(total % 3600 / 60);
    base.second += total % 60;
    return base;
}

// R03 of brdc3050.12g (2012-10-31 00:15), in metres.
GlonassEphemeris glonass_record() {
    GlonassEphemeris eph;
    eph.toc = {2012, 10, 31, 0, 15, 0.0};
    eph.prn = 3;
    eph.x = -2.380982128906e+04 * 1000.0, eph.vx = 2.289457321167e-01 * 1000.0, eph.ax = -3.725290298462e-09 * 1000.0;
    eph.y = -8.908935546875e+03 * 1000.0, eph.vy = 2.536134719849e-01 * 1000.0, eph.ay = 9.313225746155e-10 * 1000.0;
    eph.z = 2.209434082031e+03 * 1000.0, eph.vz = 3.556049346924e+00 * 1000.0, eph.az = -1.862645149231e-09 * 1000.0;
    eph.freq_num = 5;
    return eph;
}

// C06 of NYA100NOR_S_20241240000_01D_CN.rnx (2024-05-03 00:00, an inclined geosynchronous orbit).
Ephemeris beidou_record() {
    Ephemeris eph;
    eph.toc = {2024, 5, 3, 0, 0, 0.0};
    eph.system = 'C';
    eph.prn = 6;
    eph.crs = -2.071562500000E+02, eph.delta_n = 9.303958975808E-10, eph.m0 = -8.308130068794E-01;
    eph.cuc = -7.017515599728E-06, eph.e = 4.157007322647E-03, eph.cus = 3.262050449848E-05;
    eph.sqrt_a = 6.492921838760E+03;
    eph.toe = 4.320000000000E+05, eph.cic = 1.005828380585E-07, eph.omega0 = -8.108378465138E-01;
    eph.cis = 1.741573214531E-07;
    eph.i0 = 9.467232042387E-01, eph.crc = -7.717968750000E+02, eph.omega = -2.723800353126E+00;
    eph.omega_dot = -1.740786796472E-09;
    eph.idot = 2.521533603424E-10;
    eph.week = 956;
    return eph;
}

// One request through the record choice, the list put in time order first.
template <typename Record>
const Record* choose_record(const std::vector<Record>& records, const EpochTime& epoch, double window_days) {
    const std::vector<orbit_detail::TimedRecord> by_time = orbit_detail::timed_records(records);
    std::size_t cursor = 0;
    const auto* chosen = orbit_detail::choose_timed(by_time, cursor, julian_day(epoch), window_days);
    return chosen == nullptr ? nullptr : &records[chosen->index];
}

TEST(NavOrbitsChoice, KeplerianWindow) {
    const EpochTime request{2024, 5, 3, 12, 0, 0.0};
    struct Case {
        const char* name;
        std::vector<int> offsets_s;  // toc of each record relative to the request, file order
        int chosen;                  // index, -1 for none
    };
    const Case cases[] = {
        {"2 h beats 3 h", {3 * 3600, 2 * 3600}, 1},
        {"2 h before 3 h", {2 * 3600, -3 * 3600}, 0},
        {"equal distances keep the earlier", {2 * 3600, -2 * 3600}, 0},
        {"equal distances, other order", {-2 * 3600, 2 * 3600}, 0},
        {"duplicate record", {600, 600}, 0},
        {"nearest of many", {-7200, 3600, -1800, 1800, 5400}, 2},
        {"just inside 4 h", {4 * 3600 - 1}, 0},
        {"just outside 4 h", {4 * 3600 + 1}, -1},
        {"before the request, just outside", {-4 * 3600 - 1}, -1},
        {"a day away", {86400}, -1},
        {"empty list", {}, -1},
    };
    for (const Case& c : cases) {
        std::vector<Ephemeris> records;
        for (int offset : c.offsets_s) records.push_back(Ephemeris{.toc = shifted(request, offset)});
        const Ephemeris* chosen = choose_record(records, request, orbit_detail::kKeplerianWindowDays);
        const int index = chosen == nullptr ? -1 : static_cast<int>(chosen - records.data());
        EXPECT_EQ(index, c.chosen) << c.name;
    }
}

TEST(NavOrbitsChoice, GlonassWindow) {
    const EpochTime request{2024, 5, 3, 12, 0, 0.0};
    struct Case {
        const char* name;
        std::vector<int> offsets_s;
        int chosen;
    };
    const Case cases[] = {
        {"just inside 1 h", {3600 - 1}, 0},
        {"just outside 1 h", {3600 + 1}, -1},
        {"2 h, inside the Keplerian window", {7200}, -1},
        {"15 min beats 45 min", {-45 * 60, 15 * 60}, 1},
        {"equal distances keep the earlier", {15 * 60, -15 * 60}, 0},
    };
    for (const Case& c : cases) {
        std::vector<GlonassEphemeris> records;
        for (int offset : c.offsets_s) records.push_back(GlonassEphemeris{.toc = shifted(request, offset)});
        const GlonassEphemeris* chosen = choose_record(records, request, orbit_detail::kGlonassWindowDays);
        const int index = chosen == nullptr ? -1 : static_cast<int>(chosen - records.data());
        EXPECT_EQ(index, c.chosen) << c.name;
    }
}

// The choice walks the records in time order from a cursor; it must pick exactly the record that
// a walk over the Julian values of every record in list order picks.
template <typename Record>
const Record* julian_walk(const std::vector<Record>& records, const EpochTime& epoch, double window_days) {
    const Record* best = nullptr;
    double best_distance = 0.0;
    for (const Record& record : records) {
        const double distance = std::fabs(julian_day(record.toc) - julian_day(epoch));
        if (distance < window_days && (best == nullptr || distance < best_distance)) best = &record, best_distance = distance;
    }
    return best;
}

TEST(NavOrbitsChoice, SameChoiceAsJulianWalk) {
    const auto nav = test::shared_nav("nav/ESBC00DNK_R_20201770000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "no shared data";
    std::size_t chosen = 0;
    // every 7.5 s over two days, so that the epochs fall on, between and around record times
    for (int step = 0; step < 2 * 86400 / 7.5; step += 31) {
        const EpochTime epoch = shifted({2020, 6, 24, 0, 0, (step % 8) * 7.5}, step / 8 * 60);
        for (const auto* map : {&nav->gps, &nav->galileo, &nav->beidou})
            for (const auto& [key, list] : *map) {
                const Ephemeris* expected = julian_walk(list, epoch, orbit_detail::kKeplerianWindowDays);
                ASSERT_EQ(choose_record(list, epoch, orbit_detail::kKeplerianWindowDays), expected) << key << " " << timestamp_text(epoch);
                chosen += expected != nullptr;
            }
        for (const auto& [key, list] : nav->glonass)
            ASSERT_EQ(choose_record(list, epoch, orbit_detail::kGlonassWindowDays),
                      julian_walk(list, epoch, orbit_detail::kGlonassWindowDays))
                << key << " " << timestamp_text(epoch);
    }
    EXPECT_GT(chosen, 5000u);
}

TEST(NavOrbitsChoice, OddCalendarValuesStillChoose) {
    // Month 13 of 2023 is January 2024 to the Julian values; the choice follows them.
    const std::vector<Ephemeris> records{Ephemeris{.toc = {2023, 13, 15, 1, 0, 0.0}}};
    EXPECT_EQ(choose_record(records, EpochTime{2024, 1, 15, 0, 0, 0.0}, orbit_detail::kKeplerianWindowDays), records.data());
    EXPECT_EQ(choose_record(records, EpochTime{2024, 1, 15, 6, 0, 0.0}, orbit_detail::kKeplerianWindowDays), nullptr);
    const std::vector<Ephemeris> late{Ephemeris{.toc = {2024, 1, 14, 23, 0, 3600.0}}};
    EXPECT_EQ(choose_record(late, EpochTime{2024, 1, 15, 3, 30, 0.0}, orbit_detail::kKeplerianWindowDays), late.data());
}

TEST(NavOrbitsChoice, LookUpFailures) {
    NavigationData nav;
    nav.beidou["C06"].push_back(beidou_record());
    nav.glonass["R03"].push_back(glonass_record());
    nav.gps["G01"];  // a key without records
    const EpochTime at_beidou{2024, 5, 3, 0, 0, 0.0};
    EXPECT_TRUE(satellite_position(nav, "C06", at_beidou));
    EXPECT_FALSE(satellite_position(nav, "C07", at_beidou));
    EXPECT_FALSE(satellite_position(nav, "G01", at_beidou));
    EXPECT_FALSE(satellite_position(nav, "E06", at_beidou));
    EXPECT_FALSE(satellite_position(nav, "S06", at_beidou));
    EXPECT_FALSE(satellite_position(nav, "", at_beidou));
    EXPECT_FALSE(satellite_position(nav, "C06", EpochTime{2024, 5, 3, 5, 0, 0.0}));
    EXPECT_TRUE(satellite_position(nav, "R03", glonass_record().toc));
    EXPECT_FALSE(satellite_position(nav, "R03", at_beidou));
}

TEST(NavOrbitsKeplerian, TimeFromEphemeris) {
    struct Case {
        const char* name;
        EpochTime epoch;
        double toe;
        double tk;
    };
    // 2024-05-03 is a Friday; GPS week 2313 starts on Sunday 2024-04-28 and week 2314 on 2024-05-05.
    const Case cases[] = {
        {"at toe", {2024, 5, 3, 0, 0, 0.0}, 432000.0, 0.0},
        {"an hour after toe", {2024, 5, 3, 1, 0, 0.0}, 432000.0, 3600.0},
        {"late Saturday, toe early next Sunday", {2024, 5, 4, 23, 0, 0.0}, 0.0, -3600.0},
        {"early Sunday, toe late Saturday", {2024, 5, 5, 0, 30, 0.0}, 601200.0, 5400.0},
        {"week start", {2024, 5, 5, 0, 0, 0.0}, 0.0, 0.0},
        {"GPS origin", {1980, 1, 6, 0, 0, 0.0}, 0.0, 0.0},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(orbit_detail::time_from_ephemeris(julian_day(c.epoch), c.toe), c.tk, 1e-3) << c.name;
}

TEST(NavOrbitsKeplerian, RealRecordRadii) {
    const auto nav = test::shared_nav("nav/ESBC00DNK_R_20201770000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "no shared data";
    struct Band {
        char letter;
        double low_km, high_km;
    };
    // Semi-major axes: GPS 26,560 km, Galileo 29,600 km, BeiDou MEO 27,906 km and
    // geosynchronous 42,164 km, QZSS 42,164 km.
    const Band bands[] = {{'G', 26500, 26620}, {'E', 29550, 29650}, {'C', 27850, 27960}, {'J', 42100, 42230}};
    std::size_t checked = 0;
    const auto check = [&](const auto& map) {
        for (const auto& [key, list] : map) {
            for (const Ephemeris& eph : list) {
                const double a_km = eph.sqrt_a * eph.sqrt_a / 1000.0;
                const double e = eph.e;
                if (key == "E14" || key == "E18") continue;  // launched into eccentric orbits
                bool in_band = false;
                for (const Band& band : bands)
                    if (band.letter == key.front() && a_km > band.low_km && a_km < band.high_km) in_band = true;
                if (key.front() == 'C' && a_km > 42100 && a_km < 42230) in_band = true;
                EXPECT_TRUE(in_band) << key << " a " << a_km;
                const auto p = satellite_position(*nav, key, eph.toc);
                ASSERT_TRUE(p) << key;
                const double r_km = norm(*p) / 1000.0;
                EXPECT_GE(r_km, a_km * (1 - e) - 1.0) << key;
                EXPECT_LE(r_km, a_km * (1 + e) + 1.0) << key;
                ++checked;
            }
        }
    };
    check(nav->gps);
    check(nav->galileo);
    check(nav->beidou);
    EXPECT_GT(checked, 2000u);
}

// Consecutive broadcast records of one satellite describe the same orbit: at the later
// record's epoch both give the same position to within metres.
TEST(NavOrbitsKeplerian, ConsecutiveRecordsAgree) {
    std::size_t compared = 0;
    for (const char* name : {"nav/ESBC00DNK_R_20201770000_01D_MN.rnx", "nav/NYA100NOR_S_20241240000_01D_GN.rnx",
                             "nav/NYA100NOR_S_20241240000_01D_EN.rnx", "nav/NYA100NOR_S_20241240000_01D_CN.rnx"}) {
        const auto nav = test::shared_nav(name);
        if (!nav) GTEST_SKIP() << "no shared data";
        for (const auto* map : {&nav->gps, &nav->galileo, &nav->beidou}) {
            for (const auto& [key, list] : *map) {
                for (std::size_t k = 0; k + 1 < list.size(); ++k) {
                    const Ephemeris& now = list[k];
                    const Ephemeris& next = list[k + 1];
                    const double gap_s = epoch_difference_seconds(next.toc, now.toc);
                    if (gap_s <= 0 || gap_s > 7200.5 || next.toe == now.toe) continue;
                    const double t = julian_day(next.toc);
                    const double apart = distance(orbit_detail::keplerian_position(now, t),
                                                  orbit_detail::keplerian_position(next, t));
                    EXPECT_LT(apart, 5.0) << name << " " << key << " " << timestamp_text(next.toc);
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 2000u);
}

// Geostationary BeiDou satellites stay over their longitude through a record's window.
TEST(NavOrbitsKeplerian, BeidouGeostationaryStaysPut) {
    struct Case {
        const char* file;
        const char* key;
        std::optional<double> slot_deg;  // nominal longitude where it is known for the date
    };
    const Case cases[] = {
        {"nav/ESBC00DNK_R_20201770000_01D_MN.rnx", "C05", 58.75},
        {"edge/BRDM00DLR_S_20230730000_01D_MN.rnx", "C01", std::nullopt},
        {"edge/BRDM00DLR_S_20230730000_01D_MN.rnx", "C02", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto nav = test::shared_nav(c.file);
        if (!nav) GTEST_SKIP() << "no shared data";
        const auto found = nav->beidou.find(c.key);
        if (found == nav->beidou.end()) continue;  // not every file carries every slot
        const Ephemeris& eph = found->second[found->second.size() / 2];
        ASSERT_TRUE(orbit_detail::is_beidou_geostationary(eph));
        double low = 360, high = -360;
        for (int offset = -4 * 3600 + 30; offset < 4 * 3600; offset += 300) {
            const auto p = satellite_position(*nav, c.key, shifted(eph.toc, offset));
            ASSERT_TRUE(p) << c.key << " " << offset;
            const Geodetic g = ecef_to_geodetic(*p);
            EXPECT_NEAR(norm(*p) / 1000.0, 42164.0, 150.0) << c.key;
            EXPECT_NEAR(g.latitude_deg, 0.0, 3.0) << c.key << " " << offset;
            if (c.slot_deg) {
                EXPECT_NEAR(g.longitude_deg, *c.slot_deg, 1.0) << c.key << " " << offset;
            }
            low = std::min(low, g.longitude_deg);
            high = std::max(high, g.longitude_deg);
        }
        EXPECT_LT(high - low, 0.5) << c.key;
    }
}

TEST(NavOrbitsKeplerian, GeostationaryRuleOnlyForGeostationarySlots) {
    struct Case {
        char system;
        std::uint32_t prn;
        bool geostationary;
    };
    const Case cases[] = {{'C', 1, true},   {'C', 5, true},   {'C', 6, false},  {'C', 58, false}, {'C', 59, true},
                          {'C', 63, true},  {'C', 64, false}, {'C', 0, false},  {'G', 1, false},  {'J', 3, false}};
    for (const Case& c : cases) {
        Ephemeris eph = beidou_record();
        eph.system = c.system;
        eph.prn = c.prn;
        EXPECT_EQ(orbit_detail::is_beidou_geostationary(eph), c.geostationary) << c.system << c.prn;
    }
    // The inclined geosynchronous C06 keeps the common formula: its orbit crosses the equator
    // at about 55 degrees inclination.
    const Ecef p = orbit_detail::keplerian_position(beidou_record(), julian_day({2024, 5, 3, 0, 0, 0.0}));
    EXPECT_NEAR(norm(p) / 1000.0, 42164.0, 300.0);
}

// Requests allocate nothing once the GLONASS grids hold the steps they reach: a day asked twice
// allocates only on the first pass.
TEST(NavOrbitsSpeed, PositionsAllocateNothing) {
    const std::size_t before_reading = allocations.load();
    const auto nav = test::shared_nav("nav/ESBC00DNK_R_20201770000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "no shared data";
    ASSERT_GT(allocations.load(), before_reading);  // the count sees the reader's allocations
    OrbitEvaluator evaluator(*nav);
    for (const auto* map : {&nav->gps, &nav->galileo, &nav->beidou})
        for (const auto& entry : *map) evaluator.add_satellite(entry.first);
    for (const auto& entry : nav->glonass) evaluator.add_satellite(entry.first);
    evaluator.add_satellite("S20");
    const auto request_day = [&] {
        std::size_t found = 0;
        for (int minute = 0; minute < 24 * 60; minute += 37) {
            const OrbitEpoch epoch = orbit_epoch(shifted({2020, 6, 25, 0, 0, 0.0}, minute * 60 + 15));
            for (std::size_t k = 0; k < evaluator.satellite_count(); ++k) found += evaluator.position(k, epoch).has_value();
        }
        return found;
    };
    request_day();
    const std::size_t before = allocations.load();
    EXPECT_GT(request_day(), 3000u);
    EXPECT_EQ(allocations.load(), before);
}

TEST(NavOrbitsGlonass, AtTocReturnsRecordPosition) {
    NavigationData nav;
    const GlonassEphemeris eph = glonass_record();
    nav.glonass["R03"].push_back(eph);
    const auto p = satellite_position(nav, "R03", eph.toc);
    ASSERT_TRUE(p);
    EXPECT_EQ(*p, (Ecef{eph.x, eph.y, eph.z}));
}

TEST(NavOrbitsGlonass, StepSequence) {
    const GlonassEphemeris eph = glonass_record();
    const GlonassState start{{eph.x, eph.y, eph.z}, {eph.vx, eph.vy, eph.vz}};
    const Ecef lunisolar{eph.ax, eph.ay, eph.az};
    NavigationData nav;
    nav.glonass["R03"].push_back(eph);
    struct Case {
        double dt_s;
        std::vector<double> steps;
    };
    const Case cases[] = {
        {150.0, {60.0, 60.0, 30.0}},
        {-150.0, {-60.0, -60.0, -30.0}},
        {60.0, {60.0}},
        {45.0, {45.0}},
        {-359.5, {-60.0, -60.0, -60.0, -60.0, -60.0, -59.5}},
    };
    for (const Case& c : cases) {
        GlonassState manual = start;
        for (double step : c.steps) manual = orbit_detail::glonass_rk4_step(manual, lunisolar, step);
        orbit_detail::GlonassGrid grid;
        EXPECT_EQ(orbit_detail::glonass_position(eph, grid, c.dt_s), manual.position) << c.dt_s;
    }
    // Through the public call the elapsed time comes from Julian values and carries their
    // rounding, so the last step is 30 s give or take microseconds.
    for (int sign : {1, -1}) {
        const EpochTime epoch = shifted(eph.toc, sign * 150);
        const double dt = epoch_difference_seconds(epoch, eph.toc);
        ASSERT_NEAR(dt, sign * 150.0, 1e-3);
        GlonassState manual = start;
        for (double step : {sign * 60.0, sign * 60.0, dt - sign * 120.0})
            manual = orbit_detail::glonass_rk4_step(manual, lunisolar, step);
        const auto p = satellite_position(nav, "R03", epoch);
        ASSERT_TRUE(p);
        EXPECT_EQ(*p, manual.position) << sign;
        // a different step sequence does not give the same bits
        GlonassState other = start;
        for (double step : {sign * 50.0, sign * 50.0, dt - sign * 100.0})
            other = orbit_detail::glonass_rk4_step(other, lunisolar, step);
        EXPECT_NE(*p, other.position);
    }
}

// Integrating a record over 30 minutes lands on the next broadcast state to within metres,
// and GLONASS orbits stay near their 25,510 km radius.
TEST(NavOrbitsGlonass, IntegrationMeetsNextRecord) {
    const auto nav = test::shared_nav("nav/ESBC00DNK_R_20201770000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "no shared data";
    std::size_t compared = 0;
    for (const auto& [key, list] : nav->glonass) {
        for (std::size_t k = 0; k + 1 < list.size(); ++k) {
            const double dt = epoch_difference_seconds(list[k + 1].toc, list[k].toc);
            if (std::fabs(dt - 1800.0) > 1.0) continue;
            orbit_detail::GlonassGrid grid;
            const Ecef p = orbit_detail::glonass_position(list[k], grid, dt);
            EXPECT_LT(distance(p, {list[k + 1].x, list[k + 1].y, list[k + 1].z}), 15.0) << key;
            EXPECT_NEAR(norm(p) / 1000.0, 25510.0, 150.0) << key;
            const auto q = satellite_position(*nav, key, shifted(list[k].toc, 900));
            ASSERT_TRUE(q);
            EXPECT_NEAR(norm(*q) / 1000.0, 25510.0, 150.0) << key;
            ++compared;
        }
    }
    EXPECT_GT(compared, 400u);
}

TEST(NavGeometry, EcefToGeodetic) {
    const double a = 6378137.0;
    const double b = a * std::sqrt(0.9933056200098587);  // polar radius
    struct Case {
        const char* name;
        Ecef ecef;
        Geodetic expected;
    };
    const Case cases[] = {
        {"equator, prime meridian", {a, 0, 0}, {0, 0, 0}},
        {"equator, 90 east", {0, a + 100.0, 0}, {0, 90, 100}},
        {"equator, 180", {-a, 0, 0}, {0, 180, 0}},
        {"north pole", {0, 0, b}, {90, 0, 0}},
        {"south pole, 1 km up", {0, 0, -b - 1000.0}, {-90, 0, 1000}},
        // 45 N, 45 E, 0 m: N = a / sqrt(1 - e^2 / 2)
        {"45 N 45 E",
         {a / std::sqrt(1 - 0.0066943799901413165 / 2) * 0.5, a / std::sqrt(1 - 0.0066943799901413165 / 2) * 0.5,
          a / std::sqrt(1 - 0.0066943799901413165 / 2) * 0.9933056200098587 * std::sqrt(0.5)},
         {45, 45, 0}},
    };
    for (const Case& c : cases) {
        const Geodetic g = ecef_to_geodetic(c.ecef);
        EXPECT_NEAR(g.latitude_deg, c.expected.latitude_deg, 1e-9) << c.name;
        EXPECT_NEAR(g.longitude_deg, c.expected.longitude_deg, 1e-9) << c.name;
        EXPECT_NEAR(g.height_m, c.expected.height_m, 1e-6) << c.name;
    }
    // On the axis the height is measured along it: |z| - N (1 - e^2) with N at 90 degrees.
    const Geodetic pole = ecef_to_geodetic({0, 0, 7000000.0});
    EXPECT_EQ(pole.latitude_deg, 90.0);
    EXPECT_NEAR(pole.height_m, 7000000.0 - b, 1e-6);
}

TEST(NavGeometry, LookAngles) {
    const double a = 6378137.0;
    struct Case {
        const char* name;
        Ecef receiver;
        Ecef satellite;
        std::optional<double> azimuth_deg;  // none straight overhead, where it is undefined
        double elevation_deg;
    };
    const Case cases[] = {
        {"straight overhead", {a, 0, 0}, {a + 2.0e7, 0, 0}, std::nullopt, 90},
        {"due east on the horizon", {a, 0, 0}, {a, 1000.0, 0}, 90, 0},
        {"due north on the horizon", {a, 0, 0}, {a, 0, 1000.0}, 0, 0},
        {"due west", {a, 0, 0}, {a, -1000.0, 0}, 270, 0},
        {"due south", {a, 0, 0}, {a, 0, -1000.0}, 180, 0},
        {"north-west, 45 up", {a, 0, 0}, {a + 1000.0 * std::sqrt(2.0), -1000.0, 1000.0}, 315, 45},
        {"overhead at 90 E", {0, a, 0}, {0, a + 2.0e7, 0}, std::nullopt, 90},
        {"east of a receiver at 90 E", {0, a, 0}, {-1000.0, a, 0}, 90, 0},
        {"below the horizon", {a, 0, 0}, {a - 1000.0, 0, 1000.0}, 0, -45},
    };
    for (const Case& c : cases) {
        const LookAngles angles = look_angles(c.receiver, ecef_to_geodetic(c.receiver), c.satellite);
        if (c.azimuth_deg) {
            EXPECT_NEAR(angles.azimuth_deg, *c.azimuth_deg, 1e-7) << c.name;
        }
        EXPECT_NEAR(angles.elevation_deg, c.elevation_deg, 1e-7) << c.name;
        EXPECT_FALSE(std::signbit(angles.azimuth_deg)) << c.name;
    }
}

TEST(NavGeometry, AzimuthNeverNegative) {
    const Ecef receiver{3512888.0, 778240.0, 5248237.0};  // a site in Denmark
    const Geodetic geodetic = ecef_to_geodetic(receiver);
    for (int i = -20; i <= 20; ++i) {
        for (int j = -20; j <= 20; ++j) {
            for (int k : {-2, 0, 3}) {
                const Ecef satellite{receiver[0] + i * 1.0e6, receiver[1] + j * 1.0e6, receiver[2] + k * 1.0e6};
                const LookAngles angles = look_angles(receiver, geodetic, satellite);
                EXPECT_GE(angles.azimuth_deg, 0.0);
                EXPECT_LT(angles.azimuth_deg, 360.0);
                EXPECT_FALSE(std::signbit(angles.azimuth_deg));
            }
        }
    }
}

}  // namespace
}  // namespace vardoln
