// Constellations and satellite identifiers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vardoln {

enum class GnssSystem : char {
    Gps = 'G',
    Glonass = 'R',
    Galileo = 'E',
    Beidou = 'C',
    Qzss = 'J',
    Irnss = 'I',
    Sbas = 'S',
};

// The seven letters that the observation header recognises (upper case only).
std::optional<GnssSystem> system_from_letter(char letter) noexcept;

// "GPS", "GLONASS", "Galileo", "BeiDou", "QZSS", "IRNSS", "SBAS".
std::string_view system_display_name(GnssSystem system) noexcept;

// A satellite's constellation letter: the identifier's first character, G for an empty one.
constexpr char satellite_letter(std::string_view satellite) noexcept {
    return satellite.empty() ? 'G' : satellite.front();
}

// A RINEX 2 satellite field (already trimmed, not empty): three characters are taken verbatim;
// shorter text is a GPS number ("G" + two digits; a field that is not a number counts as 0).
std::string rinex2_satellite_id(std::string_view field);

// A satellite key: letter followed by the number zero-padded to at least two digits.
std::string satellite_key(char letter, unsigned number);

}  // namespace vardoln
