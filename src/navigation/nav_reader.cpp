// RINEX 2, 3 and 4 navigation files: broadcast records of GPS, QZSS, Galileo, BeiDou and GLONASS.
#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "navigation/nav_data.hpp"
#include "navigation/nav_fields.hpp"
#include "rinex/ids.hpp"
#include "rinex/numbers.hpp"

namespace vardoln {

double parse_fortran_float(std::string_view line, std::size_t start) noexcept {
    if (start >= line.size()) return 0.0;
    const std::string_view field = trim(line.substr(start, kNavFieldWidth));
    // A trimmed field is at most 19 characters, so the exponent letter is swapped in a copy
    // on the stack rather than in the caller's text.
    char buffer[kNavFieldWidth];
    std::memcpy(buffer, field.data(), field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (buffer[i] == 'D') buffer[i] = 'E';
        else if (buffer[i] == 'd') buffer[i] = 'e';
    }
    return read_float(std::string_view(buffer, field.size())).value_or(0.0);
}

namespace {

// Lines are views into the input. Bytes of 0x80 and above are left in place: they are
// neither blanks nor digits nor label letters, so every field holding one fails to read
// exactly as it would after being replaced by "?", and no copy of the text is needed.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    lines.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

struct Header {
    double version = 3.0;  // also when no line states it
    char file_type = ' ';  // column 20 of the version line: N, G (GLONASS), E (Galileo), H (SBAS), ...
    char system = ' ';     // column 40 of the version line: the satellite system, where one is named
    std::size_t data_start = 0;
};

// Header labels sit from column 60; shorter lines carry no label and are passed over.
std::optional<Header> read_header(const std::vector<std::string_view>& lines) {
    Header header;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.size() <= 59) continue;
        const std::string_view label = trim(line.substr(60));
        if (label.find("RINEX VERSION") != std::string_view::npos) {
            if (const auto version = read_float(column_range(line, 0, 9))) header.version = *version;
            header.file_type = line[20];
            header.system = line[40];
        } else if (label.find("END OF HEADER") != std::string_view::npos) {
            header.data_start = i + 1;
            return header;
        }
    }
    return std::nullopt;
}

// Columns [begin, end) of the epoch fields on a record's first line.
struct EpochColumns {
    std::size_t satellite[2], year[2], month[2], day[2], hour[2], minute[2], second[2];
    std::size_t clock_start;    // first of the three numeric fields after the epoch
    std::size_t orbit_start;    // first numeric field of the orbit lines
    std::size_t minimum_length; // a shorter first line cannot hold the epoch
    bool two_digit_year;
};

constexpr EpochColumns kVersion3Columns{{1, 3}, {4, 8}, {9, 11}, {12, 14}, {15, 17}, {18, 20}, {21, 23},
                                        23, 4, 23, false};
constexpr EpochColumns kVersion2Columns{{0, 2}, {3, 5}, {6, 8}, {9, 11}, {12, 14}, {15, 17}, {17, 22},
                                        22, 3, 22, true};
// RINEX 2.12 QZSS files lead each record with "J nn": the version 2 epoch one column to the
// right, with the clock and orbit fields where version 3 has them.
constexpr EpochColumns kVersion2QzssColumns{{1, 3}, {4, 6}, {7, 9}, {10, 12}, {13, 15}, {16, 18}, {18, 23},
                                            23, 4, 23, true};

struct RecordEpoch {
    std::uint32_t satellite = 0;
    EpochTime toc;
};

std::string_view cut(std::string_view line, const std::size_t (&columns)[2]) noexcept {
    return column_range(line, columns[0], columns[1]);
}

// All seven epoch fields must read, or the record is dropped.
std::optional<RecordEpoch> read_record_epoch(std::string_view line, const EpochColumns& columns) noexcept {
    if (line.size() < columns.minimum_length) return std::nullopt;
    const auto satellite = read_u32(cut(line, columns.satellite));
    const auto year = read_i32(cut(line, columns.year));
    const auto month = read_u32(cut(line, columns.month));
    const auto day = read_u32(cut(line, columns.day));
    const auto hour = read_u32(cut(line, columns.hour));
    const auto minute = read_u32(cut(line, columns.minute));
    const auto second = read_float(cut(line, columns.second));
    if (!satellite || !year || !month || !day || !hour || !minute || !second) return std::nullopt;
    RecordEpoch epoch;
    epoch.satellite = *satellite;
    epoch.toc.year = columns.two_digit_year ? expand_two_digit_year(*year) : *year;
    epoch.toc.month = *month;
    epoch.toc.day = *day;
    epoch.toc.hour = *hour;
    epoch.toc.minute = *minute;
    epoch.toc.second = *second;
    return epoch;
}

// The four numeric fields of an orbit line.
struct OrbitLine {
    double field[4];
};

// The three numeric fields after the epoch on a record's first line.
struct ClockFields {
    double field[3];
};

ClockFields read_clock_fields(std::string_view line, std::size_t start) noexcept {
    ClockFields out;
    for (std::size_t k = 0; k < 3; ++k) out.field[k] = parse_fortran_float(line, start + k * kNavFieldWidth);
    return out;
}

OrbitLine read_orbit_line(std::string_view line, std::size_t start) noexcept {
    OrbitLine out;
    for (std::size_t k = 0; k < 4; ++k) out.field[k] = parse_fortran_float(line, start + k * kNavFieldWidth);
    return out;
}

template <typename Record>
void append_record(std::map<std::string, std::vector<Record>, std::less<>>& map, char letter, std::uint32_t number,
                   Record&& record) {
    std::string key = satellite_key(letter, number);
    auto found = map.find(key);
    if (found == map.end()) found = map.emplace(std::move(key), std::vector<Record>{}).first;
    found->second.push_back(std::move(record));
}

// Eight lines starting at `first`: the epoch line, then orbit lines 1 to 5 (6 and 7 unused).
void read_keplerian_record(const std::string_view* first, char letter, const EpochColumns& columns,
                           NavigationData& nav) {
    const auto epoch = read_record_epoch(first[0], columns);
    if (!epoch) return;
    Ephemeris eph;
    eph.toc = epoch->toc;
    eph.prn = epoch->satellite;
    eph.system = letter;
    const ClockFields clock = read_clock_fields(first[0], columns.clock_start);
    eph.af0 = clock.field[0], eph.af1 = clock.field[1], eph.af2 = clock.field[2];
    const OrbitLine o1 = read_orbit_line(first[1], columns.orbit_start);
    const OrbitLine o2 = read_orbit_line(first[2], columns.orbit_start);
    const OrbitLine o3 = read_orbit_line(first[3], columns.orbit_start);
    const OrbitLine o4 = read_orbit_line(first[4], columns.orbit_start);
    eph.iode = o1.field[0], eph.crs = o1.field[1], eph.delta_n = o1.field[2], eph.m0 = o1.field[3];
    eph.cuc = o2.field[0], eph.e = o2.field[1], eph.cus = o2.field[2], eph.sqrt_a = o2.field[3];
    eph.toe = o3.field[0], eph.cic = o3.field[1], eph.omega0 = o3.field[2], eph.cis = o3.field[3];
    eph.i0 = o4.field[0], eph.crc = o4.field[1], eph.omega = o4.field[2], eph.omega_dot = o4.field[3];
    // orbit line 5: idot in field 1, the week in field 3
    eph.idot = parse_fortran_float(first[5], columns.orbit_start);
    eph.week = saturate_i32(parse_fortran_float(first[5], columns.orbit_start + 2 * kNavFieldWidth));

    auto& map = letter == 'C' ? nav.beidou : letter == 'E' ? nav.galileo : nav.gps;
    append_record(map, letter, epoch->satellite, std::move(eph));
}

// Four lines starting at `first`: the epoch line and three lines of position, velocity and
// acceleration per axis in km, km/s and km/s^2.
void read_glonass_record(const std::string_view* first, const EpochColumns& columns, NavigationData& nav) {
    const auto epoch = read_record_epoch(first[0], columns);
    if (!epoch) return;
    GlonassEphemeris eph;
    eph.toc = epoch->toc;
    eph.prn = epoch->satellite;
    const ClockFields clock = read_clock_fields(first[0], columns.clock_start);
    eph.tau_n = clock.field[0], eph.gamma_n = clock.field[1], eph.tk = clock.field[2];
    const OrbitLine o1 = read_orbit_line(first[1], columns.orbit_start);
    const OrbitLine o2 = read_orbit_line(first[2], columns.orbit_start);
    const OrbitLine o3 = read_orbit_line(first[3], columns.orbit_start);
    eph.x = o1.field[0] * 1000.0, eph.vx = o1.field[1] * 1000.0, eph.ax = o1.field[2] * 1000.0;
    eph.y = o2.field[0] * 1000.0, eph.vy = o2.field[1] * 1000.0, eph.ay = o2.field[2] * 1000.0;
    eph.z = o3.field[0] * 1000.0, eph.vz = o3.field[1] * 1000.0, eph.az = o3.field[2] * 1000.0;
    eph.freq_num = saturate_i32(o2.field[3]);  // line 2, field 4: frequency channel

    std::string key = satellite_key('R', epoch->satellite);
    if (eph.freq_num != 0) nav.glonass_freq.insert_or_assign(key, eph.freq_num);
    auto found = nav.glonass.find(key);
    if (found == nav.glonass.end()) found = nav.glonass.emplace(std::move(key), std::vector<GlonassEphemeris>{}).first;
    found->second.push_back(std::move(eph));
}

constexpr std::size_t kKeplerianLines = 8;
constexpr std::size_t kGlonassLines = 4;

// A version 2 file holds one system, named by the file type (column 20) and, for QZSS, by
// column 40 of an "N" file.
struct Version2Layout {
    char letter;  // R and S start no Keplerian record
    const EpochColumns* columns;
};

Version2Layout version2_layout(const Header& header) noexcept {
    switch (header.file_type) {
        case 'G': return {'R', &kVersion2Columns};  // GLONASS: 4-line state vectors
        case 'H': return {'S', &kVersion2Columns};  // SBAS: nothing here uses them
        case 'E': return {'E', &kVersion2Columns};  // Galileo, as RINEX 2.12 tools write it
        case 'N':
            if (header.system == 'J') return {'J', &kVersion2QzssColumns};
            break;
        default: break;
    }
    return {'G', &kVersion2Columns};
}

// Version 2 and 3 records follow one another without markers; the layout tells where each
// starts and how many lines it takes.
void read_unmarked_records(const std::vector<std::string_view>& lines, const Header& header, NavigationData& nav) {
    // The layout is chosen once: RINEX 2 records carry two-digit years and the satellite
    // number in the first two columns, and one file holds one system. Reading a GLONASS or
    // Galileo file as GPS orbits would invent GPS satellites.
    const bool version3 = header.version >= 3.0;
    const Version2Layout version2 = version2_layout(header);
    const EpochColumns& columns = version3 ? kVersion3Columns : *version2.columns;
    std::size_t i = header.data_start;
    while (i < lines.size()) {
        const std::string_view line = lines[i];
        const std::size_t remaining = lines.size() - i;  // this line included
        if (trim(line).empty()) {
            ++i;
            continue;
        }
        const char letter = version3 ? line.front() : version2.letter;
        if (letter == 'G' || letter == 'E' || letter == 'C' || letter == 'J') {
            // A record cut off by the end of the file is not read; its first line alone is
            // passed over, in case one of the lines after it starts a shorter record.
            if (remaining < kKeplerianLines) {
                ++i;
                continue;
            }
            read_keplerian_record(&lines[i], letter, columns, nav);
            i += kKeplerianLines;
        } else if (letter == 'R') {
            if (remaining < kGlonassLines) {
                ++i;
                continue;
            }
            read_glonass_record(&lines[i], columns, nav);
            i += kGlonassLines;
        } else {
            // SBAS, IRNSS and lines that start no record.
            ++i;
        }
    }
}

bool is_marker(std::string_view line) noexcept { return !line.empty() && line.front() == '>'; }

// The next white-space-separated piece of `text` at or after `position`, which moves past it.
std::string_view next_piece(std::string_view text, std::size_t& position) noexcept {
    while (position < text.size() && is_space(text[position])) ++position;
    const std::size_t begin = position;
    while (position < text.size() && !is_space(text[position])) ++position;
    return text.substr(begin, position - begin);
}

enum class RecordKind { keplerian, glonass, other };

// The message types whose records RINEX 4 lays out as version 3 does. The others (GPS and QZSS
// CNAV and CNV2, BeiDou CNV1 to CNV3, SBAS, NavIC) hold other fields in other lines.
struct LegacyMessage {
    char letter;
    std::string_view message;
    RecordKind kind;
};
constexpr LegacyMessage kLegacyMessages[] = {
    {'G', "LNAV", RecordKind::keplerian}, {'J', "LNAV", RecordKind::keplerian}, {'E', "INAV", RecordKind::keplerian},
    {'E', "FNAV", RecordKind::keplerian}, {'C', "D1", RecordKind::keplerian},   {'C', "D2", RecordKind::keplerian},
    {'R', "FDMA", RecordKind::glonass},
};

struct MarkedKind {
    RecordKind kind = RecordKind::other;
    char letter = ' ';  // the satellite's system
};

// "> EPH G01 LNAV": the record kind (EPH, STO, EOP, ION), the satellite and the message type.
MarkedKind marked_kind(std::string_view marker) noexcept {
    std::size_t position = 1;
    const std::string_view kind = next_piece(marker, position);
    const std::string_view satellite = next_piece(marker, position);
    const std::string_view message = next_piece(marker, position);
    if (kind != "EPH" || satellite.empty()) return {};
    for (const LegacyMessage& legacy : kLegacyMessages)
        if (legacy.letter == satellite.front() && legacy.message == message) return {legacy.kind, legacy.letter};
    return {};
}

// One RINEX 4 record: its marker line and the `count` lines up to the next marker. A legacy
// record is read from its first lines exactly as a version 3 record (a GLONASS record's fifth
// line holds status flags and is not read); its first line must name the marker's system.
// Every other record is passed over whole.
void read_marked_record(std::string_view marker, const std::string_view* body, std::size_t count,
                        NavigationData& nav) {
    const MarkedKind marked = marked_kind(marker);
    if (marked.kind == RecordKind::other || count == 0 || body[0].empty() || body[0].front() != marked.letter)
        return;
    if (marked.kind == RecordKind::keplerian && count >= kKeplerianLines)
        read_keplerian_record(body, marked.letter, kVersion3Columns, nav);
    else if (marked.kind == RecordKind::glonass && count >= kGlonassLines)
        read_glonass_record(body, kVersion3Columns, nav);
}

// RINEX 4 records each start with a marker line and run to the next one; lines before the first
// marker belong to no record.
void read_marked_records(const std::vector<std::string_view>& lines, std::size_t first, NavigationData& nav) {
    std::size_t i = first;
    while (i < lines.size() && !is_marker(lines[i])) ++i;
    while (i < lines.size()) {
        std::size_t end = i + 1;
        while (end < lines.size() && !is_marker(lines[end])) ++end;
        read_marked_record(lines[i], lines.data() + i + 1, end - i - 1, nav);
        i = end;
    }
}

}  // namespace

std::variant<NavigationData, NavParseError> parse_navigation(std::string_view bytes) {
    const std::vector<std::string_view> lines = split_lines(bytes);
    const auto header = read_header(lines);
    if (!header) return NavParseError{"No END OF HEADER found"};

    NavigationData nav;
    // Version 4 puts a marker before every record; a version 4 file without any is read with the
    // version 3 layout.
    const auto data = lines.begin() + static_cast<std::ptrdiff_t>(header->data_start);
    if (header->version >= 4.0 && std::any_of(data, lines.end(), is_marker))
        read_marked_records(lines, header->data_start, nav);
    else
        read_unmarked_records(lines, *header, nav);
    return nav;
}

}  // namespace vardoln
