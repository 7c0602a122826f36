// Three-line element-set catalogues (a name line, then element lines 1 and 2) as CelesTrak
// publishes them for the GNSS group, keyed by the satellite key used by every other reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vardoln {

// One accepted element set. Angles in degrees, mean motion in revolutions per day.
struct TleRecord {
    std::string name;       // trimmed name line, letters as written
    std::string satellite;  // satellite key, e.g. "G13"
    std::uint32_t catalog_number = 0;
    std::uint32_t epoch_year = 0;  // two digits as written
    double epoch_day = 0.0;        // day of year with fraction
    double bstar = 0.0;
    double inclination = 0.0;
    double raan = 0.0;
    double eccentricity = 0.0;
    double arg_perigee = 0.0;
    double mean_anomaly = 0.0;
    double mean_motion = 0.0;

    friend bool operator==(const TleRecord&, const TleRecord&) = default;
};

// Every set in catalogue order whose name yields a GPS, Galileo or QZSS key and whose mean
// motion is positive; everything else is passed over. Text is UTF-8; it never fails.
std::vector<TleRecord> parse_tle(std::string_view text);

// The satellite key a catalogue name stands for (the name need not be trimmed or upper case);
// no value for GLONASS, BeiDou and names that carry no usable number.
std::optional<std::string> tle_satellite_key(std::string_view name);

// A name in upper case as the key rules see it: ASCII letters and the non-ASCII letters whose
// full upper-case mapping holds ASCII letters ("\u017F" -> "S", "\uFB01" -> "FI") are mapped;
// all other text is kept, since its upper case holds no ASCII and no rule could see it.
std::string tle_name_upper(std::string_view name);

// The element-set exponent form: an implied "0." before the digits, then a signed power of
// ten ("-11606-4" is -0.11606e-4). The text is already trimmed.
std::optional<double> read_tle_exponent_field(std::string_view text) noexcept;

}  // namespace vardoln
