// RTCM 3 ephemeris messages: real streams against values another decoder gives, real RINEX
// navigation files through the encoder and back, and damaged payloads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
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
// messages (angles there in semicircles), turned into RINEX units by hand. -----

TEST(NavigationRtcm, OneStationEpochOfEveryConstellation) {
    const auto bytes = test::rtcm_bytes("pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log");
    if (!bytes) GTEST_SKIP() << "recording absent";
    const auto payloads = ephemeris_payloads(*bytes);
    ASSERT_EQ(payloads.size(), 5u);  // 1019, 1020, 1042, 1045, 1046
    const std::int64_t stream_ms = gps_ms({2024, 3, 13, 16, 35, 45.0});

    const auto gps = decoded_as<Ephemeris>(payloads[0], stream_ms);
    EXPECT_EQ(gps.system, 'G');
    EXPECT_EQ(gps.prn, 2u);
    EXPECT_EQ(gps.week, 2305);  // 257 + 2 * 1024
    EXPECT_EQ(gps.toc, (EpochTime{2024, 3, 13, 18, 0, 0.0}));  // toc 324000 s of the week
    EXPECT_EQ(gps.toe, 324000.0);
    EXPECT_EQ(gps.iode, 185.0);
    EXPECT_DOUBLE_EQ(gps.af0, -0.00047086644917726517);
    EXPECT_DOUBLE_EQ(gps.crs, -117.28125);
    EXPECT_DOUBLE_EQ(gps.m0, 0.6883564381860197 * kPi);
    EXPECT_DOUBLE_EQ(gps.e, 0.016119434614665806);
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
    EXPECT_DOUBLE_EQ(glonass.vy, 0.8449039459228516e3);
    EXPECT_DOUBLE_EQ(glonass.az, 2.7939677238464355e-09 * 1e3);

    const auto beidou = decoded_as<Ephemeris>(payloads[2], stream_ms);
    EXPECT_EQ(beidou.system, 'C');
    EXPECT_EQ(beidou.prn, 12u);
    EXPECT_EQ(beidou.week, 949);                                    // BDT week, as RINEX numbers it
    EXPECT_EQ(beidou.toc, (EpochTime{2024, 3, 13, 16, 0, 0.0}));    // 316800 s of the BDT week
    EXPECT_EQ(beidou.iode, 3.0);
    EXPECT_DOUBLE_EQ(beidou.af2, -1.3552527156068805e-19);
    EXPECT_DOUBLE_EQ(beidou.crc, 274.09375);
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
    EXPECT_EQ(nav.data.gps.size(), 1u);
    EXPECT_EQ(nav.data.galileo.at("E03").size(), 1u);
    EXPECT_EQ(nav.data.galileo.at("E05").size(), 1u);
    EXPECT_EQ(nav.data.beidou.count("C12"), 1u);
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
    EXPECT_EQ(gps.iode, 68.0);
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
    EXPECT_DOUBLE_EQ(galileo.af2, -1.734723475976807e-18);
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
    EXPECT_EQ(qzss.system, 'J');
    EXPECT_EQ(qzss.week, 2010);
    EXPECT_EQ(qzss.toe, 0.0);
    EXPECT_EQ(qzss.toc, (EpochTime{2018, 7, 15, 0, 0, 0.0}));
    EXPECT_EQ(qzss.iode, 221.0);
    EXPECT_DOUBLE_EQ(qzss.sqrt_a, 6493.7793827056885);
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
    // Streams repeat each ephemeris; a satellite keeps one record per distinct broadcast.
    for (const auto& [key, list] : nav.data.gps) EXPECT_LE(list.size(), 3u) << key;
}

// ----- Round trips of real RINEX navigation files -----

struct Tolerance {
    double Ephemeris::*member;
    double half_step;  // half the message's step for the field, in RINEX units
};

std::vector<Tolerance> keplerian_tolerances(char letter) {
    const auto p = [](int exponent) { return std::ldexp(0.5, exponent); };
    using E = Ephemeris;
    if (letter == 'C')
        return {{&E::af0, p(-33)},          {&E::af1, p(-50)},          {&E::af2, p(-66)},    {&E::iode, 0.0},
                {&E::crs, p(-6)},           {&E::delta_n, p(-43) * kPi}, {&E::m0, p(-31) * kPi}, {&E::cuc, p(-31)},
                {&E::e, p(-33)},            {&E::cus, p(-31)},          {&E::sqrt_a, p(-19)}, {&E::toe, 4.0},
                {&E::cic, p(-31)},          {&E::omega0, p(-31) * kPi}, {&E::cis, p(-31)},    {&E::i0, p(-31) * kPi},
                {&E::crc, p(-6)},           {&E::omega, p(-31) * kPi},  {&E::omega_dot, p(-43) * kPi},
                {&E::idot, p(-43) * kPi}};
    const bool galileo = letter == 'E';
    return {{&E::af0, galileo ? p(-34) : p(-31)},
            {&E::af1, galileo ? p(-46) : p(-43)},
            {&E::af2, galileo ? p(-59) : p(-55)},
            {&E::iode, 0.0},
            {&E::crs, p(-5)},
            {&E::delta_n, p(-43) * kPi},
            {&E::m0, p(-31) * kPi},
            {&E::cuc, p(-29)},
            {&E::e, p(-33)},
            {&E::cus, p(-29)},
            {&E::sqrt_a, p(-19)},
            {&E::toe, galileo ? 30.0 : 8.0},
            {&E::cic, p(-29)},
            {&E::omega0, p(-31) * kPi},
            {&E::cis, p(-29)},
            {&E::i0, p(-31) * kPi},
            {&E::crc, p(-5)},
            {&E::omega, p(-31) * kPi},
            {&E::omega_dot, p(-43) * kPi},
            {&E::idot, p(-43) * kPi}};
}

// A few parts in 1e12 on top of half a step: the RINEX text holds 12 significant digits.
void expect_within(double decoded, double original, double half_step, const std::string& what) {
    EXPECT_LE(std::fabs(decoded - original), half_step * (1 + 1e-9) + std::fabs(original) * 5e-12) << what;
}

void expect_same_positions(const NavigationData& original, const NavigationData& decoded, const std::string& key,
                           const EpochTime& at, std::initializer_list<double> offsets_s, std::size_t& compared) {
    const std::int64_t at_ms = gps_ms(at);
    for (const double offset : offsets_s) {
        const std::int64_t ms = at_ms + std::llround(offset * 1000.0);
        const EpochTime when = gps_calendar_time(ms / kMsPerWeek, ms % kMsPerWeek);
        const auto a = satellite_position(original, key, when);
        const auto b = satellite_position(decoded, key, when);
        ASSERT_EQ(a.has_value(), b.has_value()) << key << " " << timestamp_text(when);
        if (!a) continue;
        ++compared;
        const double distance = std::hypot((*a)[0] - (*b)[0], (*a)[1] - (*b)[1], (*a)[2] - (*b)[2]);
        EXPECT_LT(distance, 0.03) << key << " " << timestamp_text(when);
    }
}

struct RoundTripCounts {
    std::size_t keplerian = 0, glonass = 0, positions = 0, skipped = 0;
};

// Every record alone through the encoder and back, decoded against a reference five hours
// after its toc, then compared field by field and by the positions it gives.
RoundTripCounts round_trip_every_record(const NavigationData& nav) {
    RoundTripCounts counts;
    for (const auto* map : {&nav.gps, &nav.galileo, &nav.beidou}) {
        for (const auto& [key, list] : *map) {
            for (const Ephemeris& eph : list) {
                NavigationData one;
                auto& target = eph.system == 'C' ? one.beidou : eph.system == 'E' ? one.galileo : one.gps;
                target[key].push_back(eph);
                const RtcmEphemerisFrames frames = encode_rtcm_ephemerides(one);
                if (frames.written == 0) {
                    ++counts.skipped;
                    continue;
                }
                const RtcmNavigation back = read_rtcm_navigation(frames.bytes, gps_ms(eph.toc) + 5 * 3'600'000);
                const auto& back_map = eph.system == 'C' ? back.data.beidou
                                       : eph.system == 'E' ? back.data.galileo
                                                           : back.data.gps;
                EXPECT_EQ(back.ephemerides, 1u) << key;
                if (!back_map.contains(key) || back_map.at(key).size() != 1) {
                    ADD_FAILURE() << key << " did not come back";
                    continue;
                }
                const Ephemeris& got = back_map.at(key).front();
                const std::string what = key + " " + timestamp_text(eph.toc);
                EXPECT_EQ(got.week, eph.week) << what;
                EXPECT_EQ(got.prn, eph.prn) << what;
                EXPECT_EQ(got.system, eph.system) << what;
                const double toc_step = eph.system == 'E' ? 60.0 : eph.system == 'C' ? 8.0 : 16.0;
                EXPECT_LE(std::fabs(epoch_difference_seconds(got.toc, eph.toc)), toc_step / 2) << what;
                for (const Tolerance& field : keplerian_tolerances(eph.system))
                    expect_within(got.*field.member, eph.*field.member, field.half_step, what);
                ++counts.keplerian;

                const std::int64_t own_week = eph.week + (eph.system == 'C' ? 1356 : 0);
                const EpochTime toe = gps_calendar_time(own_week, std::llround(eph.toe * 1000.0));
                expect_same_positions(one, back.data, key, toe, {-3600.0, 0.0, 3600.0}, counts.positions);
            }
        }
    }
    for (const auto& [key, list] : nav.glonass) {
        for (const GlonassEphemeris& eph : list) {
            NavigationData one;
            one.glonass[key].push_back(eph);
            const RtcmEphemerisFrames frames = encode_rtcm_ephemerides(one);
            if (frames.written == 0) {
                ++counts.skipped;
                continue;
            }
            // GLONASS toc is UTC: the reference is given in GPS time, 18 s or less apart.
            const RtcmNavigation back = read_rtcm_navigation(frames.bytes, gps_ms(eph.toc) + 5 * 3'600'000);
            if (!back.data.glonass.contains(key) || back.data.glonass.at(key).size() != 1) {
                ADD_FAILURE() << key << " did not come back";
                continue;
            }
            const GlonassEphemeris& got = back.data.glonass.at(key).front();
            const std::string what = key + " " + timestamp_text(eph.toc);
            EXPECT_EQ(got.toc, eph.toc) << what;
            EXPECT_EQ(got.freq_num, eph.freq_num) << what;
            const double metre = 0.5e3;
            for (const auto& [decoded, original, half] :
                 {std::tuple{got.x, eph.x, metre * std::ldexp(1.0, -11)}, {got.y, eph.y, metre * std::ldexp(1.0, -11)},
                  {got.z, eph.z, metre * std::ldexp(1.0, -11)}, {got.vx, eph.vx, metre * std::ldexp(1.0, -20)},
                  {got.vy, eph.vy, metre * std::ldexp(1.0, -20)}, {got.vz, eph.vz, metre * std::ldexp(1.0, -20)},
                  {got.ax, eph.ax, metre * std::ldexp(1.0, -30)}, {got.ay, eph.ay, metre * std::ldexp(1.0, -30)},
                  {got.az, eph.az, metre * std::ldexp(1.0, -30)}, {got.tau_n, eph.tau_n, std::ldexp(0.5, -30)},
                  {got.gamma_n, eph.gamma_n, std::ldexp(0.5, -40)}})
                expect_within(decoded, original, half, what);
            // The frame time's time of day in 30 s steps (RINEX 2 counts it in the day, 3 in the week).
            const double tk_gap = std::fmod(std::fabs(std::fmod(got.tk, 86400.0) - std::fmod(eph.tk, 86400.0)), 86400.0);
            EXPECT_LE(std::min(tk_gap, 86400.0 - tk_gap), 15.0) << what << " tk " << eph.tk << " " << got.tk;
            ++counts.glonass;
            expect_same_positions(one, back.data, key, eph.toc, {-2700.0, 0.0, 2700.0}, counts.positions);
        }
    }
    return counts;
}

TEST(NavigationRtcm, RoundTripOfAFullDayOfEveryConstellation) {
    const auto nav = test::shared_nav("nav/ESBC00DNK_R_20201770000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "recording absent";
    ASSERT_FALSE(nav->gps.empty() || nav->glonass.empty() || nav->galileo.empty() || nav->beidou.empty());
    ASSERT_TRUE(nav->gps.contains("J01") || nav->gps.contains("J02") || nav->gps.contains("J03"));
    const RoundTripCounts counts = round_trip_every_record(*nav);
    EXPECT_EQ(counts.skipped, 0u);
    EXPECT_GT(counts.keplerian, 1000u);
    EXPECT_GT(counts.glonass, 500u);
    EXPECT_GT(counts.positions, 3000u);

    // The whole file as one stream: every record comes back, in its order.
    const RtcmEphemerisFrames frames = encode_rtcm_ephemerides(*nav);
    const RtcmNavigation back = read_rtcm_navigation(frames.bytes, gps_ms({2020, 6, 25, 12, 0, 0.0}));
    EXPECT_EQ(back.ephemerides, frames.written);
    EXPECT_EQ(back.undecodable, 0u);
    EXPECT_EQ(back.data.galileo.size(), nav->galileo.size());
    for (const auto& [key, list] : nav->gps) {
        ASSERT_TRUE(back.data.gps.contains(key)) << key;
        EXPECT_EQ(back.data.gps.at(key).size(), list.size()) << key;
    }
    EXPECT_EQ(back.gps_week, 2111);
}

TEST(NavigationRtcm, RoundTripOfASmallRinex4File) {
    const auto nav = test::shared_nav("edge/BRDM00DLR_S_20230730000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "recording absent";
    const RoundTripCounts counts = round_trip_every_record(*nav);
    EXPECT_EQ(counts.skipped, 0u);
    EXPECT_GE(counts.keplerian, 24u);  // G, E, C and J
    EXPECT_GE(counts.glonass, 7u);
}

// ----- Synthetic records and damaged input -----

TEST(NavigationRtcm, ValuesTheMessageCannotHoldAreSkipped) {
    auto nav = test::shared_nav("edge/BRDM00DLR_S_20230730000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "recording absent";
    NavigationData bad;
    Ephemeris eccentric = nav->gps.begin()->second.front();
    const std::string key = nav->gps.begin()->first;
    eccentric.e = 0.6;  // the field holds below 0.5
    Ephemeris nan = eccentric;
    nan.e = std::nan("");
    Ephemeris fine = nav->gps.begin()->second.front();
    bad.gps[key] = {eccentric, fine, nan};
    GlonassEphemeris far = nav->glonass.begin()->second.front();
    far.x = 40'000e3;  // beyond the 27-bit field
    bad.glonass[nav->glonass.begin()->first] = {far};
    const RtcmEphemerisFrames frames = encode_rtcm_ephemerides(bad);
    EXPECT_EQ(frames.written, 1u);
    EXPECT_EQ(frames.skipped, 3u);
    EXPECT_EQ(frames.bytes.size(), 3 + 61 + 3u);  // one framed 1019 of 488 bits
}

TEST(NavigationRtcm, MessageLengthsAndTruncatedWeeks) {
    const auto nav = test::shared_nav("edge/BRDM00DLR_S_20230730000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "recording absent";
    std::map<std::uint16_t, std::size_t> lengths;
    std::vector<std::vector<std::uint8_t>> payloads;
    const RtcmEphemerisFrames frames = encode_rtcm_ephemerides(*nav);
    read_rtcm_frames(frames.bytes, [&](const RtcmFrame& frame) {
        lengths[frame.message_type] = frame.payload.size();
        payloads.emplace_back(frame.payload.begin(), frame.payload.end());
    });
    // 488, 360, 511, 485 and 504 bits.
    EXPECT_EQ(lengths, (std::map<std::uint16_t, std::size_t>{{1019, 61}, {1020, 45}, {1042, 64}, {1044, 61}, {1046, 63}}));

    // A reference 1000 weeks later moves each week by its roll-over when that is nearer.
    const std::int64_t near = gps_ms({2023, 3, 14, 0, 0, 0.0});
    for (const auto& payload : payloads) {
        const auto here = decode_rtcm_ephemeris(payload, near);
        const auto later = decode_rtcm_ephemeris(payload, near + 1000 * kMsPerWeek);
        if (const auto* eph = std::get_if<Ephemeris>(&here)) {
            const int rollover = eph->system == 'C' ? 0 : eph->system == 'E' ? 0 : 1024;
            EXPECT_EQ(std::get<Ephemeris>(later).week, eph->week + rollover) << eph->system;
        } else {
            const auto& glonass = std::get<GlonassEphemeris>(here);
            EXPECT_EQ(epoch_difference_seconds(std::get<GlonassEphemeris>(later).toc, glonass.toc), 7000.0 * 86400.0);
        }
    }
}

TEST(NavigationRtcm, TruncatedAndRandomPayloadsNeverCrash) {
    const auto nav = test::shared_nav("edge/BRDM00DLR_S_20230730000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "recording absent";
    const RtcmEphemerisFrames frames = encode_rtcm_ephemerides(*nav);
    std::vector<std::vector<std::uint8_t>> payloads;
    read_rtcm_frames(frames.bytes,
                     [&](const RtcmFrame& frame) { payloads.emplace_back(frame.payload.begin(), frame.payload.end()); });
    ASSERT_FALSE(payloads.empty());
    const std::int64_t near = gps_ms({2023, 3, 14, 0, 0, 0.0});

    // Every cut of every message type is refused and leaves the records untouched.
    for (const auto& payload : payloads) {
        for (std::size_t size = 0; size < payload.size(); ++size) {
            NavigationData into;
            const auto error = add_rtcm_ephemeris(std::span(payload).first(size), near, into);
            ASSERT_TRUE(error.has_value()) << size;
            EXPECT_FALSE(into.has_data());
        }
    }
    NavigationData into;
    EXPECT_EQ(add_rtcm_ephemeris(std::vector<std::uint8_t>{0x3f, 0xc0, 0, 0}, near, into)->message,
              "RTCM 1020: payload shorter than the message");
    EXPECT_EQ(add_rtcm_ephemeris(std::vector<std::uint8_t>(70, 0), near, into)->message,
              "RTCM 0: not an ephemeris message");

    // Random bodies behind each type: a record or an error, and the same payload twice keeps one record.
    std::mt19937 random(20240313);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const unsigned type : {1019u, 1020u, 1042u, 1044u, 1045u, 1046u}) {
        for (int trial = 0; trial < 300; ++trial) {
            std::vector<std::uint8_t> payload(static_cast<std::size_t>(byte(random) % 70));
            for (auto& b : payload) b = static_cast<std::uint8_t>(byte(random));
            if (payload.size() >= 2) {
                payload[0] = static_cast<std::uint8_t>(type >> 4);
                payload[1] = static_cast<std::uint8_t>((type & 0xf) << 4 | (payload[1] & 0xf));
            }
            NavigationData random_nav;
            const auto first = add_rtcm_ephemeris(payload, near + byte(random) * kMsPerWeek, random_nav);
            add_rtcm_ephemeris(payload, near + byte(random) * 1000, random_nav);
            if (!first) {
                std::size_t records = 0;
                for (const auto* map : {&random_nav.gps, &random_nav.galileo, &random_nav.beidou})
                    for (const auto& entry : *map) records += entry.second.size();
                for (const auto& entry : random_nav.glonass) records += entry.second.size();
                EXPECT_GE(records, 1u);
                EXPECT_LE(records, 2u);  // a second reference may move the week or the day
            }
        }
    }
    // A stream of noise with frames of the real ones cut in between.
    std::vector<std::uint8_t> noise(20000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(byte(random));
    noise.insert(noise.begin() + 5000, frames.bytes.begin(), frames.bytes.begin() + 200);
    const RtcmNavigation read = read_rtcm_navigation(noise, near);
    EXPECT_LE(read.ephemerides, 3u);
}

}  // namespace
}  // namespace vardoln
