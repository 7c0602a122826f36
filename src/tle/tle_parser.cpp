#include "tle/tle_parser.hpp"

#include "rinex/ids.hpp"
#include "rinex/numbers.hpp"

#include <array>

namespace vardoln {

namespace {

// Catalogue text arrives as a Python str, so surrounding white space is any Unicode White_Space
// code point, not only ASCII blanks. These are the multi-byte ones, in UTF-8.
constexpr std::array<std::string_view, 15> kWideSpaces = {
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81",
    "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86",
    "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE3\x80\x80",
};
constexpr std::array<std::string_view, 4> kMoreWideSpaces = {
    "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
};

template <typename Match>
std::size_t wide_space_length(Match matches) noexcept {
    for (std::string_view space : kWideSpaces)
        if (matches(space)) return space.size();
    for (std::string_view space : kMoreWideSpaces)
        if (matches(space)) return space.size();
    return 0;
}

std::size_t leading_space_length(std::string_view text) noexcept {
    if (is_space(text.front())) return 1;
    if (static_cast<unsigned char>(text.front()) < 0x80) return 0;
    return wide_space_length([text](std::string_view space) { return text.starts_with(space); });
}

std::size_t trailing_space_length(std::string_view text) noexcept {
    if (is_space(text.back())) return 1;
    if (static_cast<unsigned char>(text.back()) < 0x80) return 0;
    return wide_space_length([text](std::string_view space) { return text.ends_with(space); });
}

std::string_view trim_unicode(std::string_view text) noexcept {
    while (!text.empty()) {
        const std::size_t length = leading_space_length(text);
        if (length == 0) break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        const std::size_t length = trailing_space_length(text);
        if (length == 0) break;
        text.remove_suffix(length);
    }
    return text;
}

// The non-ASCII code points whose full upper-case mapping contains ASCII letters (the only
// ones that can change what the name rules find), as UTF-8 source and mapped text.
struct CaseMapping {
    std::string_view from;
    std::string_view to;
};
constexpr std::array<CaseMapping, 17> kWideUpperCase = {{
    {"\xC3\x9F", "SS"},                // sharp s
    {"\xC4\xB1", "I"},                 // dotless i
    {"\xC5\x89", "\xCA\xBCN"},         // n preceded by apostrophe
    {"\xC5\xBF", "S"},                 // long s
    {"\xC7\xB0", "J\xCC\x8C"},         // j with caron
    {"\xE1\xBA\x96", "H\xCC\xB1"},     // h with line below
    {"\xE1\xBA\x97", "T\xCC\x88"},     // t with diaeresis
    {"\xE1\xBA\x98", "W\xCC\x8A"},     // w with ring above
    {"\xE1\xBA\x99", "Y\xCC\x8A"},     // y with ring above
    {"\xE1\xBA\x9A", "A\xCA\xBE"},     // a with right half ring
    {"\xEF\xAC\x80", "FF"},            // ligatures
    {"\xEF\xAC\x81", "FI"},
    {"\xEF\xAC\x82", "FL"},
    {"\xEF\xAC\x83", "FFI"},
    {"\xEF\xAC\x84", "FFL"},
    {"\xEF\xAC\x85", "ST"},
    {"\xEF\xAC\x86", "ST"},
}};

// Upper case as far as the name rules can tell: every other non-ASCII code point maps to
// non-ASCII text, which no rule looks at, so its bytes are kept as they are.
void upper_case_into(std::string& out, std::string_view text) {
    out.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (static_cast<unsigned char>(c) < 0x80) {
            out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
            ++i;
            continue;
        }
        const std::string_view rest = text.substr(i);
        std::size_t consumed = 1;
        std::string_view mapped = rest.substr(0, 1);
        for (const CaseMapping& mapping : kWideUpperCase) {
            if (rest.starts_with(mapping.from)) {
                consumed = mapping.from.size();
                mapped = mapping.to;
                break;
            }
        }
        out += mapped;
        i += consumed;
    }
}

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

bool contains(std::string_view text, std::string_view part) noexcept {
    return text.find(part) != std::string_view::npos;
}

// The run of digits starting at `from` (empty when none starts there).
std::string_view digit_run(std::string_view text, std::size_t from) noexcept {
    if (from > text.size()) return {};
    std::size_t end = from;
    while (end < text.size() && is_digit(text[end])) ++end;
    return text.substr(from, end - from);
}

// The run of digits that starts at the first digit at or after `from`.
std::string_view first_digit_run(std::string_view text, std::size_t from) noexcept {
    while (from < text.size() && !is_digit(text[from])) ++from;
    return digit_run(text, from);
}

std::optional<std::string> key_from_upper_name(std::string_view name) {
    constexpr auto npos = std::string_view::npos;
    if (contains(name, "GPS") || contains(name, "NAVSTAR")) {
        if (const std::size_t prn = name.find("PRN"); prn != npos)
            if (const auto number = read_u32(first_digit_run(name, prn + 3)))
                return satellite_key('G', *number);
    }
    // GLONASS catalogue names carry no slot number, and the COSMOS numbers are not one.
    if (contains(name, "GLONASS") || contains(name, "COSMOS 2")) return std::nullopt;
    if (contains(name, "GALILEO") || contains(name, "GSAT")) {
        if (const std::size_t e = name.find("(E"); e != npos)
            if (const auto number = read_u32(digit_run(name, e + 2))) return satellite_key('E', *number);
        // GSATnnnn is a build number; folding it onto 36 slots keeps it a valid Galileo key.
        if (const std::size_t gsat = name.find("GSAT"); gsat != npos)
            if (const auto number = read_u32(digit_run(name, gsat + 4)))
                return satellite_key('E', *number % 36 + 1);
    }
    // BeiDou names may mention a QZSS neighbour, but their numbers are not QZSS ones.
    if (!contains(name, "BEIDOU") && (contains(name, "QZS") || contains(name, "MICHIBIKI"))) {
        if (const auto number = read_u32(first_digit_run(name, 0))) return satellite_key('J', *number);
    }
    return std::nullopt;
}

// Element-line columns are half-open and counted on the trimmed line.
std::string_view element_field(std::string_view line, std::size_t begin, std::size_t end) noexcept {
    return trim_unicode(line.substr(begin, end - begin));
}

double float_field(std::string_view line, std::size_t begin, std::size_t end) noexcept {
    return read_float(element_field(line, begin, end)).value_or(0.0);
}

// Eccentricity is written as the seven digits after an implied "0.".
double eccentricity_field(std::string_view line) noexcept {
    const std::string_view digits = element_field(line, 26, 33);
    if (digits.empty()) return 0.0;
    char text[2 + 7] = {'0', '.'};
    std::size_t length = 2;
    for (char c : digits) {
        if (!is_digit(c)) return 0.0;
        text[length++] = c;
    }
    return read_float(std::string_view(text, length)).value_or(0.0);
}

// Line 1 must reach the end of bstar (column 61) and line 2 the end of the mean motion
// (column 63); a shorter line is a damaged set and is passed over like one without a key.
constexpr std::size_t kLine1Length = 61;
constexpr std::size_t kLine2Length = 63;

// Lines split at line feeds; a carriage return before the feed belongs to it.
class LineCursor {
public:
    explicit LineCursor(std::string_view text) noexcept : rest_(text) {}

    bool next(std::string_view& line) noexcept {
        if (rest_.empty()) return false;
        const std::size_t feed = rest_.find('\n');
        line = rest_.substr(0, feed);
        rest_.remove_prefix(feed == std::string_view::npos ? rest_.size() : feed + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return true;
    }

private:
    std::string_view rest_;
};

bool starts_with_digit(std::string_view line, char digit) noexcept {
    const std::string_view trimmed = trim_unicode(line);
    return !trimmed.empty() && trimmed.front() == digit;
}

}  // namespace

std::optional<double> read_tle_exponent_field(std::string_view text) noexcept {
    // [sign] mantissa digits, exponent sign, exponent digits
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t mantissa_begin = i;
    while (i < text.size() && is_digit(text[i])) ++i;
    const std::string_view mantissa = text.substr(mantissa_begin, i - mantissa_begin);
    if (mantissa.empty() || i >= text.size() || (text[i] != '+' && text[i] != '-')) return std::nullopt;
    const std::string_view exponent = text.substr(i);  // sign included
    if (exponent.size() < 2) return std::nullopt;
    for (char c : exponent.substr(1))
        if (!is_digit(c)) return std::nullopt;
    // The fields are eight columns wide; anything longer is not this form.
    constexpr std::size_t kLongest = 16;
    if (mantissa.size() + exponent.size() > kLongest) return std::nullopt;
    char buffer[2 + kLongest + 1] = {'0', '.'};
    std::size_t length = 2;
    for (char c : mantissa) buffer[length++] = c;
    buffer[length++] = 'e';
    for (char c : exponent) buffer[length++] = c;
    const auto value = read_float(std::string_view(buffer, length));
    if (!value) return std::nullopt;
    return negative ? -*value : *value;
}

std::string tle_name_upper(std::string_view name) {
    std::string upper;
    upper_case_into(upper, name);
    return upper;
}

std::optional<std::string> tle_satellite_key(std::string_view name) {
    std::string upper;
    upper_case_into(upper, trim_unicode(name));
    return key_from_upper_name(upper);
}

std::vector<TleRecord> parse_tle(std::string_view text) {
    std::vector<TleRecord> records;
    LineCursor cursor(text);
    std::array<std::string_view, 3> window;  // name line, line 1, line 2
    std::size_t filled = 0;
    std::string upper;  // reused for every name

    for (;;) {
        while (filled < 3 && cursor.next(window[filled])) ++filled;
        if (filled < 3) break;
        if (!starts_with_digit(window[1], '1') || !starts_with_digit(window[2], '2')) {
            window[0] = window[1];
            window[1] = window[2];
            filled = 2;
            continue;
        }
        filled = 0;  // the next search starts after this set, accepted or not

        const std::string_view name = trim_unicode(window[0]);
        upper_case_into(upper, name);
        std::optional<std::string> key = key_from_upper_name(upper);
        if (!key) continue;

        const std::string_view line1 = trim_unicode(window[1]);
        const std::string_view line2 = trim_unicode(window[2]);
        if (line1.size() < kLine1Length || line2.size() < kLine2Length) continue;
        const double mean_motion = float_field(line2, 52, 63);
        if (!(mean_motion > 0.0)) continue;

        TleRecord& record = records.emplace_back();
        record.name = std::string(name);
        record.satellite = std::move(*key);
        record.catalog_number = read_u32(element_field(line1, 2, 7)).value_or(0);
        record.epoch_year = read_u32(element_field(line1, 18, 20)).value_or(0);
        record.epoch_day = float_field(line1, 20, 32);
        record.bstar = read_tle_exponent_field(element_field(line1, 53, 61)).value_or(0.0);
        record.inclination = float_field(line2, 8, 16);
        record.raan = float_field(line2, 17, 25);
        record.eccentricity = eccentricity_field(line2);
        record.arg_perigee = float_field(line2, 34, 42);
        record.mean_anomaly = float_field(line2, 43, 51);
        record.mean_motion = mean_motion;
    }
    return records;
}

}  // namespace vardoln
