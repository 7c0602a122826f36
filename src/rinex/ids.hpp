// Constellations and satellite identifiers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

// The places that name a constellation. Each keeps its own list on purpose: what one output
// has always called a system stays as it is, so IRNSS is "IRNSS" among the observed systems but
// "Unknown" in a sample's statistics, and a QZSS trace on the skyplot is "Other".
enum class NamingContext : std::uint8_t {
    ObservedSystem,    // systems observed in a recording: summary, per-constellation map, tables
    SampleSystem,      // C/N0 samples and every statistic drawn from them
    Skyplot,           // skyplot traces
    Visibility,        // satellites of the visibility prediction and its anomalies
    VisibilityEntry,   // the per-system entries of the visibility summary
};
inline constexpr std::size_t kNamingContextCount = 5;

struct ConstellationNames {
    char letter;
    std::array<std::string_view, kNamingContextCount> names;  // by NamingContext; empty: not named there
};

// clang-format off
inline constexpr std::array<ConstellationNames, 7> kConstellations = {{
    //        observed    sample      skyplot     visibility  visibility entry
    {'G', {{"GPS",      "GPS",      "GPS",      "GPS",      "GPS"}}},
    {'R', {{"GLONASS",  "GLONASS",  "GLONASS",  "GLONASS",  "GLONASS"}}},
    {'E', {{"Galileo",  "Galileo",  "Galileo",  "Galileo",  "Galileo"}}},
    {'C', {{"BeiDou",   "BeiDou",   "BeiDou",   "BeiDou",   "BeiDou"}}},
    {'J', {{"QZSS",     "QZSS",     "",         "QZSS",     ""}}},
    {'I', {{"IRNSS",    "",         "",         "",         ""}}},
    {'S', {{"SBAS",     "SBAS",     "",         "SBAS",     ""}}},
}};
// clang-format on

// What a context calls a letter it does not name (an empty satellite key has no letter either).
constexpr std::string_view unnamed_constellation(NamingContext context) noexcept {
    switch (context) {
        case NamingContext::SampleSystem:
        case NamingContext::Visibility: return "Unknown";
        case NamingContext::Skyplot: return "Other";
        case NamingContext::ObservedSystem:
        case NamingContext::VisibilityEntry: break;
    }
    return "";
}

// The letter's name in a context, or the context's word for letters it does not name.
constexpr std::string_view constellation_name(char letter, NamingContext context) noexcept {
    const auto column = static_cast<std::size_t>(context);
    for (const ConstellationNames& row : kConstellations) {
        if (row.letter == letter && !row.names[column].empty()) return row.names[column];
    }
    return unnamed_constellation(context);
}

// The seven letters that the observation header recognises (upper case only).
std::optional<GnssSystem> system_from_letter(char letter) noexcept;

// "GPS", "GLONASS", "Galileo", "BeiDou", "QZSS", "IRNSS", "SBAS".
std::string_view system_display_name(GnssSystem system) noexcept;

// An observed system's name: one of the seven, and any other letter as itself.
std::string observed_system_name(char letter);

// A satellite's constellation letter: the identifier's first character, G for an empty one.
constexpr char satellite_letter(std::string_view satellite) noexcept {
    return satellite.empty() ? 'G' : satellite.front();
}

// A RINEX 2 satellite field (already trimmed, not empty): three characters are taken verbatim;
// shorter text is a GPS number ("G" + two digits; a field that is not a number counts as 0).
std::string rinex2_satellite_id(std::string_view field);

// A satellite key: letter followed by the number zero-padded to at least two digits.
std::string satellite_key(char letter, unsigned number);

// The key under which the navigation records hold an observation identifier. RINEX 2 writes
// satellite numbers below 10 with a blank ("G 2"), some receivers do so in version 3 files too,
// and the navigation readers key the zero-padded number: an upper-case letter, blanks and one or
// two digits become the letter and two digits ("G 2" and "G  7" give G02 and G07); any other
// text comes back unchanged. Identifiers are short enough for the string's own buffer, so this
// allocates nothing for them.
std::string navigation_key(std::string_view satellite);

}  // namespace vardoln
