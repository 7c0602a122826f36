#include "rinex/bands.hpp"

namespace vardoln {

namespace {

struct Carrier {
    char system;
    char band;
    double mhz;
};

// clang-format off
constexpr std::array<Carrier, 30> kCarriers{{
    {'G', '1', 1575.42},   {'G', '2', 1227.60},  {'G', '5', 1176.45},                         // GPS L1, L2, L5
    {'R', '1', 1602.0},    {'R', '2', 1246.0},                                                // GLONASS G1, G2 (FDMA centre)
    {'R', '3', 1202.025},  {'R', '4', 1600.995}, {'R', '6', 1248.06},                         // GLONASS CDMA
    {'E', '1', 1575.42},   {'E', '5', 1176.45},  {'E', '7', 1207.14},  {'E', '8', 1191.795},  // E1, E5a, E5b, E5
    {'E', '6', 1278.75},                                                                      // E6
    {'C', '2', 1561.098},  {'C', '5', 1176.45},  {'C', '7', 1207.14},  {'C', '8', 1191.795},  // B1I, B2a, B2I/B2b, B2
    {'C', '6', 1268.52},                                                                      // B3I
    {'J', '1', 1575.42},   {'J', '2', 1227.60},  {'J', '5', 1176.45},  {'J', '6', 1278.75},   // QZSS L1, L2, L5, L6
    {'I', '1', 1575.42},   {'I', '5', 1176.45},  {'I', '9', 2492.028},                        // NavIC L1, L5, S
    {'S', '1', 1575.42},   {'S', '5', 1176.45},                                               // SBAS L1, L5
}};
// clang-format on

constexpr double kBeidouB1iMhz = 1561.098;
constexpr double kBeidouB1cMhz = 1575.42;

struct BandRange {
    Band band;
    double low_mhz;  // the range holds [low, high)
    double high_mhz;
};

constexpr std::array<BandRange, kBandCount> kBandRanges{{
    {Band::L5, 1164.0, 1215.0},
    {Band::L2, 1215.0, 1256.0},
    {Band::E6, 1256.0, 1300.0},
    {Band::L1, 1559.0, 1610.0},
}};

}  // namespace

std::optional<double> nominal_carrier_mhz(char system, char band_digit, double rinex_version) noexcept {
    if (system == 'C' && band_digit == '1') return beidou_band1_is_b1i(rinex_version) ? kBeidouB1iMhz : kBeidouB1cMhz;
    for (const Carrier& entry : kCarriers) {
        if (entry.system == system && entry.band == band_digit) return entry.mhz;
    }
    return std::nullopt;
}

std::optional<Band> band_of_carrier(double mhz) noexcept {
    for (const BandRange& range : kBandRanges) {
        if (mhz >= range.low_mhz && mhz < range.high_mhz) return range.band;
    }
    return std::nullopt;
}

std::optional<Band> band_of_code(char system, std::string_view code, double rinex_version) noexcept {
    if (code.size() < 2) return std::nullopt;
    const std::optional<double> mhz = nominal_carrier_mhz(system, code[1], rinex_version);
    if (!mhz) return std::nullopt;
    return band_of_carrier(*mhz);
}

}  // namespace vardoln
