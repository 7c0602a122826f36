// RTCM 3 ephemeris messages: real streams against values another decoder gives, real RINEX
// navigation files through the encoder and back, and damaged payloads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "navigation/nav_data.hpp"
#include "navigation/orbits.hpp"
#include "navigation/rtcm_ephemeris.hpp"
#include "rinex/epoch_time.hpp"
#include "rtcm/epochs.hpp"
#include "rtcm/frames.hpp"
#include "test_navigation_support.hpp"
#include "test_rtcm_support.hpp"

namespace vardoln {
namespace {

constexpr double kPi = 3.1415926535898;
constexpr std::int64_t kMsPerWeek = 604'800'000;
const EpochTime kGpsEpoch{1980, 1, 6, 0, 0, 0.0};

std::int64_t gps_ms(const EpochTime& time) {
    return std::llround(epoch_difference_seconds(time, kGpsEpoch) * 1000.0);
}

// The payloads of the stream's ephemeris messages, in stream order.
std::vector<std::vector<std::uint8_t>> ephemeris_payloads(std::span<const std::uint8_t> bytes) {
    std::vector<std::vector<std::uint8_t>> payloads;
    read_rtcm_frames(bytes, [&](const RtcmFrame& frame) {
        if (is_rtcm_ephemeris(frame.message_type)) payloads.emplace_back(frame.payload.begin(), frame.payload.end());
    });
    return payloads;
}

template <typename Record>
Record decoded_as(std::span<const std::uint8_t> payload, std::int64_t near_gps_ms) {
    auto decoded = decode_rtcm_ephemeris(payload, near_gps_ms);
    EXPECT_TRUE(std::holds_alternative<Record>(decoded));
    if (auto* record = std::get_if<Record>(&decoded)) return *record;
    return Record{};
}

// ----- Real streams: the expected values are the fields as pyrtcm 1.2.1 decodes the same
// messages (angles there in semicircles), turned into RINEX units by hand. A one-off script
// compared every field of all 1962 ephemeris messages of the shared streams the same way and
// found no difference beyond 1e-12 relative. -----

TEST(NavigationRtcm, OneStationEpochOfEveryConstellation) {
    const auto bytes = test::rtcm_bytes("pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log");
    if (!bytes) GTEST_SKIP() << "recording absent";
    const auto payloads = ephemeris_payloads(*bytes);
    ASSERT_EQ(payloads.size(), 5u);  // 1019, 1020, 1042, 1045, 1046
    const std::int64_t stream_ms = gps_ms({2024, 3, 13, 16, 35, 45.0});

    const auto gps = decoded_as<Ephemeris>(payloads[0], stream_ms);
    EXPECT_EQ(gps.prn, 2u);
    EXPECT_EQ(gps.week, 2305);  // 257 + 2 * 1024
    EXPECT_EQ(gps.toc, (EpochTime{2024, 3, 13, 18, 0, 0.0}));  // toc 324000 s of the week
    EXPECT_EQ(gps.toe, 324000.0);
    EXPECT_EQ(gps.iode, 185.0);
    EXPECT_DOUBLE_EQ(gps.af0, -0.00047086644917726517);
    EXPECT_DOUBLE_EQ(gps.m0, 0.6883564381860197 * kPi);
    EXPECT_DOUBLE_EQ(gps.sqrt_a, 5153.713861465454);
    EXPECT_DOUBLE_EQ(gps.omega_dot, -2.476781446603127e-09 * kPi);

    const auto glonass = decoded_as<GlonassEphemeris>(payloads[1], stream_ms);
    EXPECT_EQ(glonass.prn, 9u);
    EXPECT_EQ(glonass.freq_num, -2);                               // channel field 5
    EXPECT_EQ(glonass.toc, (EpochTime{2024, 3, 13, 16, 45, 0.0}));  // tb 79: 19:45 Moscow
    EXPECT_EQ(glonass.tk, 3 * 86400.0 + 16.5 * 3600.0);            // tk 19:30 Moscow, a Wednesday
    EXPECT_DOUBLE_EQ(glonass.tau_n, 188052 * std::ldexp(1.0, -30));  // -TauN
    EXPECT_DOUBLE_EQ(glonass.gamma_n, 2 * std::ldexp(1.0, -40));
    EXPECT_DOUBLE_EQ(glonass.x, 19637.81884765625e3);
    EXPECT_DOUBLE_EQ(glonass.az, 2.7939677238464355e-09 * 1e3);

    const auto beidou = decoded_as<Ephemeris>(payloads[2], stream_ms);
    EXPECT_EQ(beidou.system, 'C');
    EXPECT_EQ(beidou.prn, 12u);
    EXPECT_EQ(beidou.week, 949);                                    // BDT week, as RINEX numbers it
    EXPECT_EQ(beidou.toc, (EpochTime{2024, 3, 13, 16, 0, 0.0}));    // 316800 s of the BDT week
    EXPECT_EQ(beidou.iode, 3.0);
    EXPECT_DOUBLE_EQ(beidou.af2, -1.3552527156068805e-19);
    EXPECT_DOUBLE_EQ(beidou.i0, 0.31285916129127145 * kPi);

    for (std::size_t k : {3u, 4u}) {
        const auto galileo = decoded_as<Ephemeris>(payloads[k], stream_ms);
        EXPECT_EQ(galileo.system, 'E');
        EXPECT_EQ(galileo.week, 2305);  // 1281 + 1024
        EXPECT_EQ(galileo.iode, 22.0);
        EXPECT_EQ(galileo.toe, 318000.0);
        EXPECT_EQ(galileo.toc, (EpochTime{2024, 3, 13, 16, 20, 0.0}));
    }
    const auto inav = decoded_as<Ephemeris>(payloads[4], stream_ms);
    EXPECT_EQ(inav.prn, 5u);
    EXPECT_DOUBLE_EQ(inav.af0, 0.004728707484900951);
    EXPECT_DOUBLE_EQ(inav.omega, -0.446898490190506 * kPi);

    const RtcmNavigation nav = read_rtcm_navigation(*bytes, stream_ms);
    EXPECT_EQ(nav.ephemerides, 5u);
    EXPECT_EQ(nav.undecodable, 0u);
    EXPECT_EQ(nav.data.glonass_freq.at("R09"), -2);
    EXPECT_EQ(nav.gps_week, 2305);
    // The truncated weeks read from a reference eight years off still give the stream's week.
    EXPECT_EQ(rtcm_stream_gps_week(*bytes, 2305 - 400), 2305);
}

TEST(NavigationRtcm, GlonassFrameTimeOnTheDayBeforeMoscowMidnight) {
    const auto bytes = test::rtcm_bytes("rtklib/testglo.rtcm3");
    if (!bytes) GTEST_SKIP() << "recording absent";
    const std::int64_t stream_ms = gps_ms({2009, 12, 18, 23, 7, 0.0});
    const RtcmNavigation nav = read_rtcm_navigation(*bytes, stream_ms);
    EXPECT_EQ(nav.ephemerides, 38u);  // 19 of 1019 and 19 of 1020
    EXPECT_EQ(nav.undecodable, 0u);
    EXPECT_EQ(nav.gps_week, 1562);

    const auto& gps = nav.data.gps.at("G03").front();
    EXPECT_EQ(gps.week, 1562);  // 538 + 1024
    EXPECT_EQ(gps.toc, (EpochTime{2009, 12, 19, 0, 0, 0.0}));  // toe 518400 s, 53 min ahead
    EXPECT_DOUBLE_EQ(gps.delta_n, 1.6866579244378954e-09 * kPi);

    // tb 9 and tk 02:05:30 of the Moscow day: 23:15 and 23:05:30 UTC of the 18th, a Friday.
    const auto& glonass = nav.data.glonass.at("R08").front();
    EXPECT_EQ(glonass.toc, (EpochTime{2009, 12, 18, 23, 15, 0.0}));
    EXPECT_EQ(glonass.tk, 5 * 86400.0 + 23 * 3600.0 + 5 * 60.0 + 30.0);
    EXPECT_EQ(glonass.freq_num, 6);
    EXPECT_DOUBLE_EQ(glonass.tau_n, -85360 * std::ldexp(1.0, -30));
    EXPECT_DOUBLE_EQ(glonass.z, 16328.7265625e3);
}

TEST(NavigationRtcm, GalileoAndBeidouOfAnNtripCapture) {
    const auto bytes = test::rtcm_bytes("ntripstreams/AgPartner_2.rtcm3");
    if (!bytes) GTEST_SKIP() << "recording absent";
    // Dated by the capture's own ephemerides alone: Galileo 1402 + 1024, BDT 1070 + 1356.
    const std::int64_t near_ms = std::int64_t{2426} * kMsPerWeek;
    const RtcmNavigation nav = read_rtcm_navigation(*bytes, near_ms);
    EXPECT_EQ(nav.ephemerides, 30u);
    EXPECT_EQ(nav.undecodable, 0u);
    EXPECT_EQ(nav.gps_week, 2426);
    const auto& galileo = nav.data.galileo.at("E12").front();
    EXPECT_EQ(galileo.week, 2426);
    EXPECT_EQ(galileo.iode, 98.0);
    EXPECT_EQ(galileo.toe, 58800.0);
    EXPECT_DOUBLE_EQ(galileo.sqrt_a, 5440.603267669678);
    const auto& beidou = nav.data.beidou.at("C21").front();
    EXPECT_EQ(beidou.week, 1070);
    EXPECT_EQ(beidou.toc, (EpochTime{2026, 7, 5, 16, 0, 0.0}));  // 57600 s of BDT week 1070
    EXPECT_DOUBLE_EQ(beidou.omega, 0.012404265813529491 * kPi);
}

TEST(NavigationRtcm, WeekOfToeAcrossTheWeekChange) {
    const auto bytes = test::rtcm_bytes("gnss-converters/week-rollover-STR24.rtcm3");
    if (!bytes) GTEST_SKIP() << "recording absent";
    // The stream starts at 23:50 on the last day of GPS week 2009 and runs into week 2010.
    const std::int64_t stream_ms = 2009 * kMsPerWeek + 6 * 86'400'000LL + (23 * 60 + 50) * 60'000LL;
    const RtcmNavigation nav = read_rtcm_navigation(*bytes, stream_ms);
    EXPECT_EQ(nav.undecodable, 0u);
    EXPECT_EQ(nav.ephemerides, 314u + 44u + 205u + 28u + 28u + 3u);
    EXPECT_EQ(nav.gps_week, 2010);
    // The first 1044 carries week 985 (2009, the week it went out in) with toe 0: the toe of
    // the next week, as RINEX numbers it.
    const auto& qzss = nav.data.gps.at("J01").front();
    EXPECT_EQ(qzss.week, 2010);
    EXPECT_EQ(qzss.toe, 0.0);
    EXPECT_EQ(qzss.toc, (EpochTime{2018, 7, 15, 0, 0, 0.0}));
    EXPECT_EQ(qzss.iode, 221.0);
    EXPECT_DOUBLE_EQ(qzss.idot, 3.1525360100204125e-10 * kPi);
    // Galileo sent after the change with week 986 (2010) and toe 604200 s, ten minutes before
    // it: week 2009.
    bool late_toe = false;
    for (const auto& [key, list] : nav.data.galileo)
        for (const Ephemeris& eph : list)
            if (eph.toe == 604200.0) {
                late_toe = true;
                EXPECT_EQ(eph.week, 2009) << key;
                EXPECT_EQ(eph.toc, (EpochTime{2018, 7, 14, 23, 50, 0.0})) << key;
            }
    EXPECT_TRUE(late_toe);
    // Streams repeat each ephemeris (GLONASS with a new frame time every 30 s, Galileo in turns of
    // F/NAV and I/NAV); in these 19 minutes a satellite keeps a few distinct broadcasts.
    for (const auto& [key, list] : nav.data.gps) EXPECT_LE(list.size(), 3u) << key;
    for (const auto& [key, list] : nav.data.galileo) EXPECT_LE(list.size(), 6u) << key;
    for (const auto& [key, list] : nav.data.glonass) EXPECT_LE(list.size(), 2u) << key;
}

// ----- Round trips of real RINEX navigation files -----

// Half the message's step of each field, in RINEX units.
std::vector<std::pair<double Ephemeris::*, double>> half_steps(char letter) {
    using E = Ephemeris;
    const auto h = [](int exponent, double unit = 1.0) { return std::ldexp(0.5, exponent) * unit; };
    const bool c = letter == 'C', e = letter == 'E';
    const int harmonic = c ? -31 : -29, radius = c ? -6 : -5;
    return {{&E::af0, h(c ? -33 : e ? -34 : -31)}, {&E::af1, h(c ? -50 : e ? -46 : -43)},
            {&E::af2, h(c ? -66 : e ? -59 : -55)}, {&E::crs, h(radius)}, {&E::crc, h(radius)},
            {&E::cuc, h(harmonic)}, {&E::cus, h(harmonic)}, {&E::cic, h(harmonic)}, {&E::cis, h(harmonic)},
            {&E::e, h(-33)}, {&E::sqrt_a, h(-19)}, {&E::m0, h(-31, kPi)}, {&E::omega0, h(-31, kPi)},
            {&E::i0, h(-31, kPi)}, {&E::omega, h(-31, kPi)}, {&E::delta_n, h(-43, kPi)},
            {&E::omega_dot, h(-43, kPi)}, {&E::idot, h(-43, kPi)}, {&E::iode, 0.0},
            {&E::toe, c ? 4.0 : e ? 30.0 : 8.0}};
}

// A few parts in 1e12 on top of half a step: the RINEX text holds 12 significant digits.
void expect_within(double decoded, double original, double half_step, const std::string& what) {
    EXPECT_LE(std::fabs(decoded - original), half_step * (1 + 1e-9) + std::fabs(original) * 5e-12) << what;
}

void compare(const Ephemeris& got, const Ephemeris& eph, const std::string& what) {
    EXPECT_EQ(got.week, eph.week) << what;
    EXPECT_EQ(got.prn, eph.prn) << what;
    EXPECT_EQ(got.system, eph.system) << what;
    const double toc_step = eph.system == 'E' ? 60.0 : eph.system == 'C' ? 8.0 : 16.0;
    EXPECT_LE(std::fabs(epoch_difference_seconds(got.toc, eph.toc)), toc_step / 2) << what;
    for (const auto& [member, half_step] : half_steps(eph.system))
        expect_within(got.*member, eph.*member, half_step, what);
}

void compare(const GlonassEphemeris& got, const GlonassEphemeris& eph, const std::string& what) {
    EXPECT_EQ(got.toc, eph.toc) << what;
    EXPECT_EQ(got.freq_num, eph.freq_num) << what;
    // Half steps in metres (the message counts km).
    const double position = std::ldexp(0.5e3, -11), velocity = std::ldexp(0.5e3, -20);
    const double acceleration = std::ldexp(0.5e3, -30);
    for (const auto& [decoded, original, half] :
         {std::tuple{got.x, eph.x, position}, {got.y, eph.y, position}, {got.z, eph.z, position},
          {got.vx, eph.vx, velocity}, {got.vy, eph.vy, velocity}, {got.vz, eph.vz, velocity},
          {got.ax, eph.ax, acceleration}, {got.ay, eph.ay, acceleration}, {got.az, eph.az, acceleration},
          {got.tau_n, eph.tau_n, std::ldexp(0.5, -30)}, {got.gamma_n, eph.gamma_n, std::ldexp(0.5, -40)}})
        expect_within(decoded, original, half, what);
    // The frame time's time of day in 30 s steps (RINEX 2 counts it in the day, 3 in the week).
    const double gap = std::fabs(std::fmod(got.tk, 86400.0) - std::fmod(eph.tk, 86400.0));
    EXPECT_LE(std::min(gap, 86400.0 - gap), 15.0) << what;
}

NavigationData alone(const std::string& key, const Ephemeris& eph) {
    NavigationData one;
    (eph.system == 'C' ? one.beidou : eph.system == 'E' ? one.galileo : one.gps)[key].push_back(eph);
    return one;
}
NavigationData alone(const std::string& key, const GlonassEphemeris& eph) {
    NavigationData one;
    one.glonass[key].push_back(eph);
    return one;
}
const std::vector<Ephemeris>* records(const NavigationData& nav, const std::string& key, const Ephemeris& eph) {
    const auto& map = eph.system == 'C' ? nav.beidou : eph.system == 'E' ? nav.galileo : nav.gps;
    return map.contains(key) ? &map.at(key) : nullptr;
}
const std::vector<GlonassEphemeris>* records(const NavigationData& nav, const std::string& key,
                                             const GlonassEphemeris&) {
    return nav.glonass.contains(key) ? &nav.glonass.at(key) : nullptr;
}

struct RoundTripCounts {
    std::size_t records = 0, positions = 0, skipped = 0;
};

// Each record alone through the encoder and back, decoded against a reference five hours after
// its toc (GPS time; a GLONASS toc is UTC, seconds apart), then compared field by field and by
// the positions both give at toe and an hour either side (45 min for GLONASS, whose records
// serve an hour).
template <typename Map>
void round_trip_each(const Map& map, RoundTripCounts& counts) {
    for (const auto& [key, list] : map) {
        for (const auto& eph : list) {
            const NavigationData one = alone(key, eph);
            const RtcmEphemerisFrames frames = encode_rtcm_ephemerides(one);
            counts.skipped += frames.skipped;
            if (frames.written == 0) continue;
            const RtcmNavigation back = read_rtcm_navigation(frames.bytes, gps_ms(eph.toc) + 5 * 3'600'000);
            const auto* got = records(back.data, key, eph);
            const std::string what = key + " " + timestamp_text(eph.toc);
            if (got == nullptr || got->size() != 1) {
                ADD_FAILURE() << what << " did not come back";
                continue;
            }
            compare(got->front(), eph, what);
            ++counts.records;

            std::int64_t at_ms = gps_ms(eph.toc);
            double hour = 2700.0;
            if constexpr (std::is_same_v<std::decay_t<decltype(eph)>, Ephemeris>) {
                at_ms = (eph.week + (eph.system == 'C' ? 1356 : 0)) * kMsPerWeek + std::llround(eph.toe * 1000.0);
                hour = 3600.0;
            }
            for (const double offset : {-hour, 0.0, hour}) {
                const std::int64_t ms = at_ms + std::llround(offset * 1000.0);
                const EpochTime when = gps_calendar_time(ms / kMsPerWeek, ms % kMsPerWeek);
                const auto a = satellite_position(one, key, when);
                const auto b = satellite_position(back.data, key, when);
                ASSERT_EQ(a.has_value(), b.has_value()) << what;
                if (!a) continue;
                ++counts.positions;
                EXPECT_LT(std::hypot((*a)[0] - (*b)[0], (*a)[1] - (*b)[1], (*a)[2] - (*b)[2]), 0.03) << what;
            }
        }
    }
}

RoundTripCounts round_trip_every_record(const NavigationData& nav) {
    RoundTripCounts counts;
    for (const auto* map : {&nav.gps, &nav.galileo, &nav.beidou}) round_trip_each(*map, counts);
    round_trip_each(nav.glonass, counts);
    return counts;
}

TEST(NavigationRtcm, RoundTripOfAFullDayOfEveryConstellation) {
    const auto nav = test::shared_nav("nav/ESBC00DNK_R_20201770000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "recording absent";
    ASSERT_TRUE(nav->gps.contains("J01") && !nav->glonass.empty() && !nav->beidou.empty());
    const RoundTripCounts counts = round_trip_every_record(*nav);
    EXPECT_EQ(counts.skipped, 0u);
    EXPECT_GT(counts.records, 2500u);
    EXPECT_GT(counts.positions, 7000u);

    // The whole file as one stream: every record comes back, in its order.
    const RtcmEphemerisFrames frames = encode_rtcm_ephemerides(*nav);
    const RtcmNavigation back = read_rtcm_navigation(frames.bytes, gps_ms({2020, 6, 25, 12, 0, 0.0}));
    EXPECT_EQ(back.ephemerides, frames.written);
    for (const auto& [key, list] : nav->gps) EXPECT_EQ(back.data.gps.at(key).size(), list.size()) << key;
    EXPECT_EQ(back.data.galileo.size(), nav->galileo.size());
    EXPECT_EQ(back.gps_week, 2111);
}

TEST(NavigationRtcm, RoundTripOfASmallRinex4File) {
    const auto nav = test::shared_nav("edge/BRDM00DLR_S_20230730000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "recording absent";
    const RoundTripCounts counts = round_trip_every_record(*nav);
    EXPECT_EQ(counts.skipped, 0u);
    EXPECT_GE(counts.records, 31u);  // G, R, E, C and J
}

// ----- Synthetic records and damaged input -----

TEST(NavigationRtcm, ValuesTheMessageCannotHoldAreSkipped) {
    const auto nav = test::shared_nav("edge/BRDM00DLR_S_20230730000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "recording absent";
    const auto& [key, list] = *nav->gps.begin();
    Ephemeris eccentric = list.front(), not_finite = list.front();
    eccentric.e = 0.6;  // the field holds below 0.5
    not_finite.m0 = std::nan("");
    GlonassEphemeris far = nav->glonass.begin()->second.front();
    far.x = 40'000e3;  // beyond the 27-bit field
    NavigationData bad;
    bad.gps[key] = {eccentric, list.front(), not_finite};
    bad.glonass[nav->glonass.begin()->first] = {far};
    const RtcmEphemerisFrames frames = encode_rtcm_ephemerides(bad);
    EXPECT_EQ(frames.written, 1u);
    EXPECT_EQ(frames.skipped, 3u);
    EXPECT_EQ(frames.bytes.size(), 3 + 61 + 3u);  // one framed 1019 of 488 bits
}

TEST(NavigationRtcm, WeeksCutPayloadsAndNoise) {
    const auto nav = test::shared_nav("edge/BRDM00DLR_S_20230730000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "recording absent";
    const RtcmEphemerisFrames frames = encode_rtcm_ephemerides(*nav);
    std::map<std::uint16_t, std::size_t> lengths;
    std::vector<std::vector<std::uint8_t>> payloads;
    read_rtcm_frames(frames.bytes, [&](const RtcmFrame& frame) {
        lengths[frame.message_type] = frame.payload.size();
        payloads.emplace_back(frame.payload.begin(), frame.payload.end());
    });
    // 488, 360, 511, 485 and 504 bits.
    const std::map<std::uint16_t, std::size_t> expected{{1019, 61}, {1020, 45}, {1042, 64}, {1044, 61}, {1046, 63}};
    EXPECT_EQ(lengths, expected);

    const std::int64_t near = gps_ms({2023, 3, 14, 0, 0, 0.0});
    for (const auto& payload : payloads) {
        // A reference 1000 weeks later takes the 10-bit weeks one roll-over on, not the wider ones.
        const auto here = decode_rtcm_ephemeris(payload, near);
        const auto later = decode_rtcm_ephemeris(payload, near + 1000 * kMsPerWeek);
        if (const auto* eph = std::get_if<Ephemeris>(&here))
            EXPECT_EQ(std::get<Ephemeris>(later).week - eph->week, eph->system == 'G' || eph->system == 'J' ? 1024 : 0);
        else
            EXPECT_EQ(epoch_difference_seconds(std::get<GlonassEphemeris>(later).toc,
                                               std::get<GlonassEphemeris>(here).toc),
                      7000.0 * 86400.0);
        // Every cut is refused and leaves the records untouched.
        for (std::size_t size = 0; size < payload.size(); ++size) {
            NavigationData into;
            ASSERT_TRUE(add_rtcm_ephemeris(std::span(payload).first(size), near, into).has_value()) << size;
            EXPECT_FALSE(into.has_data());
        }
    }
    NavigationData into;
    EXPECT_EQ(add_rtcm_ephemeris(std::vector<std::uint8_t>{0x3f, 0xc0, 0, 0}, near, into)->message,
              "RTCM 1020: payload shorter than the message");
    EXPECT_EQ(add_rtcm_ephemeris(std::vector<std::uint8_t>(70, 0), near, into)->message,
              "RTCM 0: not an ephemeris message");

    // Random bodies behind each type give a record or an error; the same payload twice, one record.
    std::mt19937 random(20240313);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const unsigned type : {1019u, 1020u, 1042u, 1044u, 1045u, 1046u}) {
        for (int trial = 0; trial < 300; ++trial) {
            std::vector<std::uint8_t> payload(static_cast<std::size_t>(byte(random) % 70) + 2);
            for (auto& b : payload) b = static_cast<std::uint8_t>(byte(random));
            payload[0] = static_cast<std::uint8_t>(type >> 4);
            payload[1] = static_cast<std::uint8_t>((type & 0xf) << 4 | (payload[1] & 0xf));
            NavigationData twice;
            const std::int64_t at = near + byte(random) * kMsPerWeek;
            if (add_rtcm_ephemeris(payload, at, twice) || add_rtcm_ephemeris(payload, at, twice)) continue;
            std::size_t records = 0;
            for (const auto* map : {&twice.gps, &twice.galileo, &twice.beidou})
                for (const auto& entry : *map) records += entry.second.size();
            for (const auto& entry : twice.glonass) records += entry.second.size();
            EXPECT_EQ(records, 1u);
        }
    }
    // Noise with some real frames inside.
    std::vector<std::uint8_t> noise(20000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(byte(random));
    noise.insert(noise.begin() + 5000, frames.bytes.begin(), frames.bytes.begin() + 200);
    EXPECT_LE(read_rtcm_navigation(noise, near).ephemerides, 3u);
}

}  // namespace
}  // namespace vardoln
