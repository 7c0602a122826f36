// A structure-aware mutator for RINEX text, linked into the targets that read it. Where
// libFuzzer's byte mutations mostly break a file at its first line, these keep the layout a
// reader expects and change what it trusts: a field at its columns, the parts of an epoch line
// (date, flag, satellite count), any count or number in place, whole records (duplicated,
// dropped, moved, cut), header labels, and the line ends. The cross-over splices records of two
// inputs (the corpus starts from real recordings) at record boundaries, or one input's header
// onto another's records. Inputs holding several files separated by a line "@@NAV@@" are
// mutated one file at a time and keep their separators.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size);

namespace {

constexpr std::string_view kSeparator = "@@NAV@@";

using Random = std::minstd_rand;

std::size_t below(Random& random, std::size_t n) {
    return n == 0 ? 0 : static_cast<std::size_t>(random() % n);
}

bool chance(Random& random, unsigned percent) {
    return below(random, 100) < percent;
}

template <typename T, std::size_t N>
const T& pick(Random& random, const std::array<T, N>& values) {
    return values[below(random, N)];
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

// ---------------------------------------------------------------------------------------------
// Text as lines, and a file as its header and records.

struct Text {
    std::vector<std::string> lines;  // without their '\n'
    bool final_newline = true;
};

Text split_lines(std::string_view text) {
    Text out;
    out.final_newline = !text.empty() && text.back() == '\n';
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        out.lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string join_lines(const Text& text) {
    std::string out;
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        out += text.lines[i];
        if (i + 1 < text.lines.size() || text.final_newline) out += '\n';
    }
    return out;
}

bool is_header_line(const std::string& line) {
    return line.size() > 60 && std::isupper(static_cast<unsigned char>(line[60]));
}

std::size_t header_end(const Text& text) {
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        if (text.lines[i].find("END OF HEADER") != std::string::npos) return i + 1;
    }
    return 0;
}

// " 21 12 21  0  0  0.0000000  0 12G01G02...": a RINEX 2 observation epoch line.
bool is_rinex2_epoch(const std::string& line) {
    return line.size() >= 29 && line[0] == ' ' && digit(line[2]) && line[3] == ' ' && digit(line[5]) &&
           line[6] == ' ' && digit(line[8]) && line[9] == ' ' && digit(line[28]);
}

// " 1 21  1  1  0  0  0.0 ..." or "G01 2021 01 01 ...": the first line of a navigation record.
bool is_navigation_start(const std::string& line) {
    if (line.size() >= 22 && digit(line[1]) && line[2] == ' ' && digit(line[4]) && line[5] == ' ') return true;
    return line.size() >= 4 && std::isupper(static_cast<unsigned char>(line[0])) && digit(line[1]) &&
           digit(line[2]) && line[3] == ' ';
}

// Line indices where records start, after the header. RINEX 3 and 4 observation files mark
// each epoch with '>'; elsewhere the epoch or navigation line patterns do.
std::vector<std::size_t> record_starts(const Text& text) {
    const std::size_t body = header_end(text);
    bool marked = false;
    for (std::size_t i = body; i < text.lines.size() && !marked; ++i) marked = text.lines[i].starts_with('>');
    std::vector<std::size_t> starts;
    for (std::size_t i = body; i < text.lines.size(); ++i) {
        const std::string& line = text.lines[i];
        if (marked ? line.starts_with('>') : is_rinex2_epoch(line) || is_navigation_start(line)) starts.push_back(i);
    }
    return starts;
}

// The record holding line `index` as [first, last).
std::pair<std::size_t, std::size_t> record_around(const Text& text, std::size_t index) {
    const std::vector<std::size_t> starts = record_starts(text);
    std::size_t first = header_end(text);
    std::size_t last = text.lines.size();
    for (std::size_t start : starts) {
        if (start <= index) first = start;
        else {
            last = start;
            break;
        }
    }
    return {first, std::max(last, first)};
}

// ---------------------------------------------------------------------------------------------
// Values a field may be given: limits of the integer types the readers use, the edges of the
// formats (blank, sign alone, exponent letters of Fortran), and values outside every range.

constexpr std::array<std::string_view, 40> kValues = {
    "",           " ",          "0",           "-0",          "1",
    "-1",         "2",          "9",           "10",          "12",
    "13",         "24",         "31",          "59",          "60",
    "61",         "99",         "100",         "255",         "256",
    "999",        "9999",       "65535",       "2147483647",  "-2147483648",
    "4294967295", "99999999999999999999",      ".",           "-",
    "+",          "1e308",      "-1.0D+308",   "1.0E-320",    "nan",
    "inf",        "-.5",        "0.000",       "9999999999.999", "-9999999999.999",
    "1.234567890123D+05",
};

std::string value_for(Random& random, std::string_view current) {
    if (chance(random, 25)) {
        // A neighbour of a number already there: off-by-one counts and indices.
        long long number = 0;
        bool seen = false;
        for (char c : current) {
            if (digit(c)) {
                number = number * 10 + (c - '0');
                seen = true;
                if (number > 1'000'000'000LL) break;
            }
        }
        if (seen) return std::to_string(number + static_cast<long long>(below(random, 5)) - 2);
    }
    return std::string(pick(random, kValues));
}

void ensure_width(std::string& line, std::size_t width) {
    if (line.size() < width) line.resize(width, ' ');
}

// Writes `value` right-aligned in columns [start, start + width) of the line.
void put_field(std::string& line, std::size_t start, std::size_t width, std::string_view value) {
    ensure_width(line, start + width);
    std::string cell(width, ' ');
    const std::size_t n = std::min(width, value.size());
    std::copy_n(value.end() - static_cast<std::ptrdiff_t>(n), n, cell.end() - static_cast<std::ptrdiff_t>(n));
    line.replace(start, width, cell);
}

// Column grids of the formats: (first column, width) of the repeated fields.
constexpr std::array<std::pair<std::size_t, std::size_t>, 8> kGrids = {{
    {0, 16},   // RINEX 2 observation values (14 + LLI + SSI)
    {3, 16},   // RINEX 3 observation values after the satellite
    {0, 14},   // the value alone
    {3, 19},   // RINEX 2 navigation fields
    {4, 19},   // RINEX 3 and 4 navigation fields
    {22, 19},  // RINEX 2 navigation record first line
    {0, 6},    // header counts and codes
    {0, 20},   // header text fields
}};

void mutate_field(Random& random, Text& text) {
    if (text.lines.empty()) return;
    std::string& line = text.lines[below(random, text.lines.size())];
    const auto [first, width] = pick(random, kGrids);
    const std::size_t limit = std::max<std::size_t>(line.size(), first + width);
    const std::size_t fields = std::max<std::size_t>(1, (limit - first) / width);
    const std::size_t start = first + below(random, fields + 1) * width;
    const std::string current = start < line.size() ? line.substr(start, width) : std::string();
    put_field(line, start, width, value_for(random, current));
}

// The parts of an epoch line: (first column, width) for RINEX 3 ('>') and RINEX 2 lines.
constexpr std::array<std::pair<std::size_t, std::size_t>, 9> kEpoch3 = {{
    {2, 4}, {7, 2}, {10, 2}, {13, 2}, {16, 2}, {18, 11}, {31, 1}, {32, 3}, {41, 15},
}};
constexpr std::array<std::pair<std::size_t, std::size_t>, 8> kEpoch2 = {{
    {1, 2}, {4, 2}, {7, 2}, {10, 2}, {13, 2}, {15, 11}, {28, 1}, {29, 3},
}};
constexpr std::array<std::string_view, 10> kFlags = {"0", "1", "2", "3", "4", "5", "6", "7", "9", " "};

void mutate_epoch(Random& random, Text& text) {
    std::vector<std::size_t> epochs;
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        if (text.lines[i].starts_with('>') || is_rinex2_epoch(text.lines[i])) epochs.push_back(i);
    }
    if (epochs.empty()) return mutate_field(random, text);
    std::string& line = text.lines[epochs[below(random, epochs.size())]];
    const bool v3 = line.starts_with('>');
    const auto [start, width] = v3 ? pick(random, kEpoch3) : pick(random, kEpoch2);
    const bool flag = width == 1;
    if (flag) return put_field(line, start, width, pick(random, kFlags));
    if (!v3 && start == 29 && chance(random, 30)) {
        // The satellite list of a RINEX 2 epoch: one more or one less three-column entry.
        ensure_width(line, 32);
        if (chance(random, 50) && line.size() >= 35) line.erase(32, 3);
        else line.insert(32, pick(random, std::array<std::string_view, 4>{"G01", "R24", "E36", "S20"}));
        return;
    }
    const std::string current = start < line.size() ? line.substr(start, width) : std::string();
    put_field(line, start, width, value_for(random, current));
}

// A digit run anywhere, replaced by another number (possibly wider or narrower).
void mutate_number(Random& random, Text& text) {
    if (text.lines.empty()) return;
    std::string& line = text.lines[below(random, text.lines.size())];
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (std::size_t i = 0; i < line.size();) {
        if (!digit(line[i])) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < line.size() && digit(line[j])) ++j;
        runs.emplace_back(i, j - i);
        i = j;
    }
    if (runs.empty()) return mutate_field(random, text);
    const auto [start, length] = runs[below(random, runs.size())];
    const std::string value = value_for(random, line.substr(start, length));
    if (chance(random, 70)) put_field(line, start, length, value);  // in place, columns kept
    else line.replace(start, length, value);                        // columns shift
}

constexpr std::array<std::string_view, 34> kLabels = {
    "RINEX VERSION / TYPE", "PGM / RUN BY / DATE", "COMMENT", "MARKER NAME", "MARKER NUMBER",
    "MARKER TYPE", "OBSERVER / AGENCY", "REC # / TYPE / VERS", "ANT # / TYPE", "APPROX POSITION XYZ",
    "ANTENNA: DELTA H/E/N", "WAVELENGTH FACT L1/2", "# / TYPES OF OBSERV", "SYS / # / OBS TYPES",
    "SIGNAL STRENGTH UNIT", "INTERVAL", "TIME OF FIRST OBS", "TIME OF LAST OBS", "RCV CLOCK OFFS APPL",
    "SYS / PHASE SHIFT", "GLONASS SLOT / FRQ #", "GLONASS COD/PHS/BIS", "LEAP SECONDS", "# OF SATELLITES",
    "PRN / # OF OBS", "END OF HEADER", "ION ALPHA", "ION BETA", "DELTA-UTC: A0,A1,T,W", "IONOSPHERIC CORR",
    "TIME SYSTEM CORR", "CORR TO SYSTEM TIME", "SYS / SCALE FACTOR", "SYS / DCBS APPLIED",
};

void mutate_label(Random& random, Text& text) {
    const std::size_t end = std::min(header_end(text), text.lines.size());
    const std::size_t count = end == 0 ? std::min<std::size_t>(text.lines.size(), 40) : end;
    if (count == 0) return;
    const std::size_t index = below(random, count);
    switch (below(random, 4)) {
        case 0: {  // another label on this line's content
            std::string& line = text.lines[index];
            ensure_width(line, 60);
            line.replace(60, std::string::npos, pick(random, kLabels));
            break;
        }
        case 1:  // a header line repeated (a second type list, a second version line)
            text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(index), text.lines[index]);
            break;
        case 2: {  // the end of the header moved earlier, or a second one in the records
            std::string line(60, ' ');
            line += "END OF HEADER";
            const std::size_t at = below(random, text.lines.size() + 1);
            text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(at), line);
            break;
        }
        default: {  // the label shifted off its column
            std::string& line = text.lines[index];
            if (line.size() > 60) line.insert(60 - below(random, 3), " ");
            break;
        }
    }
}

void mutate_records(Random& random, Text& text) {
    auto& lines = text.lines;
    if (lines.empty()) return;
    const std::size_t at = below(random, lines.size());
    const auto iterator = [&lines](std::size_t i) { return lines.begin() + static_cast<std::ptrdiff_t>(i); };
    switch (below(random, 9)) {
        case 0: {  // a record repeated (the same epoch twice)
            const auto [first, last] = record_around(text, at);
            const std::vector<std::string> copy(iterator(first), iterator(last));
            lines.insert(iterator(last), copy.begin(), copy.end());
            break;
        }
        case 1: {  // a record dropped
            const auto [first, last] = record_around(text, at);
            lines.erase(iterator(first), iterator(last));
            break;
        }
        case 2: {  // a record moved elsewhere (epochs out of order)
            const auto [first, last] = record_around(text, at);
            const std::vector<std::string> copy(iterator(first), iterator(last));
            lines.erase(iterator(first), iterator(last));
            const std::size_t to = below(random, lines.size() + 1);
            lines.insert(iterator(to), copy.begin(), copy.end());
            break;
        }
        case 3: {  // a record cut short: its last lines lost
            const auto [first, last] = record_around(text, at);
            if (last > first + 1) lines.erase(iterator(first + 1 + below(random, last - first - 1)), iterator(last));
            break;
        }
        case 4:  // one line lost or repeated
            if (chance(random, 50)) lines.erase(iterator(at));
            else lines.insert(iterator(at), lines[at]);
            break;
        case 5: {  // a line cut at some column, or split in two
            std::string& line = lines[at];
            const std::size_t column = below(random, line.size() + 1);
            if (chance(random, 50)) line.resize(column);
            else {
                std::string rest = line.substr(column);
                line.resize(column);
                lines.insert(iterator(at + 1), std::move(rest));
            }
            break;
        }
        case 6:  // two lines joined
            if (at + 1 < lines.size()) {
                lines[at] += lines[at + 1];
                lines.erase(iterator(at + 1));
            }
            break;
        case 7:  // line ends: CR LF, a blank line, trailing blanks
            switch (below(random, 3)) {
                case 0: lines[at] += '\r'; break;
                case 1: lines.insert(iterator(at), std::string()); break;
                default: lines[at].append(below(random, 80) + 1, ' '); break;
            }
            break;
        default:  // the file cut after some line, or its last newline dropped
            if (chance(random, 50)) lines.resize(at + 1);
            else text.final_newline = !text.final_newline;
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Inputs with several files: the parts between separator lines.

std::vector<std::string> split_files(std::string_view input) {
    std::vector<std::string> files;
    const std::string marker = "\n" + std::string(kSeparator) + "\n";
    std::size_t start = 0;
    while (true) {
        const std::size_t at = input.find(marker, start);
        if (at == std::string_view::npos) {
            files.emplace_back(input.substr(start));
            return files;
        }
        files.emplace_back(input.substr(start, at - start));
        start = at + marker.size();
    }
}

std::string join_files(const std::vector<std::string>& files) {
    std::string out;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i > 0) out += "\n" + std::string(kSeparator) + "\n";
        out += files[i];
    }
    return out;
}

std::size_t emit(const std::string& text, std::uint8_t* data, std::size_t max_size) {
    const std::size_t n = std::min(text.size(), max_size);
    std::memcpy(data, text.data(), n);
    return n;
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t max_size,
                                              unsigned int seed) {
    Random random(seed);
    // Byte-level mutations keep their place: they find what no layout-aware change would.
    if (size == 0 || chance(random, 20)) return LLVMFuzzerMutate(data, size, max_size);

    std::vector<std::string> files = split_files({reinterpret_cast<const char*>(data), size});
    std::string& file = files[below(random, files.size())];
    Text text = split_lines(file);
    const std::size_t rounds = 1 + below(random, 3);
    for (std::size_t round = 0; round < rounds; ++round) {
        switch (below(random, 6)) {
            case 0: mutate_field(random, text); break;
            case 1: mutate_epoch(random, text); break;
            case 2: mutate_number(random, text); break;
            case 3: mutate_label(random, text); break;
            default: mutate_records(random, text); break;
        }
    }
    file = join_lines(text);
    if (files.size() > 1 && chance(random, 2)) files.erase(files.begin() + 1);  // navigation dropped
    return emit(join_files(files), data, max_size);
}

extern "C" std::size_t LLVMFuzzerCustomCrossOver(const std::uint8_t* data1, std::size_t size1,
                                                const std::uint8_t* data2, std::size_t size2, std::uint8_t* out,
                                                std::size_t max_out_size, unsigned int seed) {
    Random random(seed);
    std::vector<std::string> first = split_files({reinterpret_cast<const char*>(data1), size1});
    const std::vector<std::string> second = split_files({reinterpret_cast<const char*>(data2), size2});
    const std::size_t slot = below(random, first.size());
    const std::string& donor_file = second[std::min(slot, second.size() - 1)];

    Text text = split_lines(first[slot]);
    const Text donor = split_lines(donor_file);
    const std::vector<std::size_t> donor_starts = record_starts(donor);
    const std::size_t donor_body = header_end(donor);
    const auto donor_line = [&donor](std::size_t i) { return donor.lines.begin() + static_cast<std::ptrdiff_t>(i); };

    switch (below(random, 4)) {
        case 0: {  // this header, the donor's records
            text.lines.resize(std::min(header_end(text), text.lines.size()));
            text.lines.insert(text.lines.end(), donor_line(donor_body), donor.lines.end());
            break;
        }
        case 1: {  // some of the donor's records inserted at a record boundary of this file
            if (donor_starts.empty()) break;
            const std::size_t k = below(random, donor_starts.size());
            const std::size_t n = 1 + below(random, std::min<std::size_t>(4, donor_starts.size() - k));
            const std::size_t end = k + n < donor_starts.size() ? donor_starts[k + n] : donor.lines.size();
            const std::vector<std::size_t> starts = record_starts(text);
            const std::size_t at = starts.empty() ? text.lines.size() : starts[below(random, starts.size())];
            text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(at), donor_line(donor_starts[k]),
                              donor_line(end));
            break;
        }
        case 2: {  // the front of this file, the tail of the donor
            const std::size_t cut = below(random, text.lines.size() + 1);
            const std::size_t from = below(random, donor.lines.size() + 1);
            text.lines.resize(cut);
            text.lines.insert(text.lines.end(), donor_line(from), donor.lines.end());
            break;
        }
        default:  // the donor's whole file in this slot (another navigation file, say)
            text = donor;
            break;
    }
    first[slot] = join_lines(text);
    if (second.size() > first.size() && chance(random, 25)) first.push_back(second.back());
    return emit(join_files(first), out, max_out_size);
}
