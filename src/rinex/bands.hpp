// Carrier frequencies of the RINEX band digits and the four frequency bands that interference
// is judged in. One table for every user: the quality control's combinations, the event
// detector and the tests' injection of episodes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vardoln {

// L1 1559-1610 MHz (GPS, QZSS and SBAS L1, Galileo E1, BeiDou B1I and B1C, GLONASS G1),
// L2 1215-1256 MHz (GPS and QZSS L2, GLONASS G2), E6 1256-1300 MHz (Galileo E6, BeiDou B3I,
// QZSS L6), L5 1164-1215 MHz (GPS and QZSS L5, Galileo E5a, E5b and E5, BeiDou B2a, B2b and
// B2I, GLONASS G3). NavIC S band and anything else lies outside them.
enum class Band : std::uint8_t { L1, L2, E6, L5 };
inline constexpr std::size_t kBandCount = 4;
inline constexpr std::array<Band, kBandCount> kBands{Band::L1, Band::L2, Band::E6, Band::L5};

constexpr std::string_view band_name(Band band) noexcept {
    switch (band) {
        case Band::L1: return "L1";
        case Band::L2: return "L2";
        case Band::E6: return "E6";
        case Band::L5: return "L5";
    }
    return "";
}

// Versions are compared in hundredths, as they are written (3.02, 3.03). BeiDou band 1 is B1I
// (1561.098 MHz) up to version 3.02 and B1C (1575.42 MHz) from 3.03 on, when B1I moved to
// band 2; band 2 is B1I in every version.
constexpr bool beidou_band1_is_b1i(double rinex_version) noexcept {
    return !(rinex_version >= 3.025);
}

// Carrier of a RINEX band digit for a constellation letter in MHz; GLONASS G1 and G2 at their
// FDMA centre (channel 0). Nothing for a band the constellation does not transmit.
std::optional<double> nominal_carrier_mhz(char system, char band_digit, double rinex_version) noexcept;

// The band of a carrier frequency; nothing outside the four bands.
std::optional<Band> band_of_carrier(double mhz) noexcept;

// The band of an observation code ("S1C", "C5Q", "L2"; the digit after the type letter) of a
// constellation in a file of this version.
std::optional<Band> band_of_code(char system, std::string_view code, double rinex_version) noexcept;

}  // namespace vardoln
