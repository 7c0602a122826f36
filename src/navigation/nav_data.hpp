// Broadcast ephemerides read from a RINEX navigation file, keyed by satellite key (G05, R12).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "rinex/epoch_time.hpp"

namespace vardoln {

// One Keplerian broadcast record (GPS, QZSS, Galileo, BeiDou), in the file's units.
struct Ephemeris {
    EpochTime toc;
    double af0 = 0, af1 = 0, af2 = 0;
    double iode = 0, crs = 0, delta_n = 0, m0 = 0;
    double cuc = 0, e = 0, cus = 0, sqrt_a = 0;
    double toe = 0, cic = 0, omega0 = 0, cis = 0;
    double i0 = 0, crc = 0, omega = 0, omega_dot = 0;
    double idot = 0;
    std::uint32_t prn = 0;
    std::int32_t week = 0;
    char system = 'G';
};

// One GLONASS broadcast record; the state vector is in metres (converted from km on reading).
struct GlonassEphemeris {
    EpochTime toc;
    double tau_n = 0, gamma_n = 0, tk = 0;
    double x = 0, vx = 0, ax = 0;
    double y = 0, vy = 0, ay = 0;
    double z = 0, vz = 0, az = 0;
    std::uint32_t prn = 0;
    std::int32_t freq_num = 0;
};

// Records per satellite in file order. Sorted maps: iteration order is deterministic.
struct NavigationData {
    std::map<std::string, std::vector<Ephemeris>, std::less<>> gps;  // G and J keys
    std::map<std::string, std::vector<Ephemeris>, std::less<>> galileo;
    std::map<std::string, std::vector<Ephemeris>, std::less<>> beidou;
    std::map<std::string, std::vector<GlonassEphemeris>, std::less<>> glonass;
    std::map<std::string, std::int32_t, std::less<>> glonass_freq;  // non-zero channels only

    bool has_data() const noexcept {
        return !gps.empty() || !galileo.empty() || !beidou.empty() || !glonass.empty();
    }
};

struct NavParseError {
    std::string message;
};
// Never fails except with "No END OF HEADER found".
std::variant<NavigationData, NavParseError> parse_navigation(std::string_view bytes);

}  // namespace vardoln
