#include "rinex/obs_header.hpp"

#include <array>
#include <optional>
#include <string>
#include <utility>

#include "rinex/ids.hpp"
#include "rinex/numbers.hpp"

namespace vardoln {

namespace {

// Calls visit(piece) for every run of non-blank characters.
template <typename Visit>
void for_each_piece(std::string_view text, Visit&& visit) {
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_space(text[i])) ++i;
        const std::size_t begin = i;
        while (i < text.size() && !is_space(text[i])) ++i;
        if (i > begin) visit(text.substr(begin, i - begin));
    }
}

// Columns 0-59 hold the data of every header line; a shorter line is taken whole.
std::string_view data_area(std::string_view line) noexcept { return line.substr(0, 60); }

std::vector<std::string>& obs_type_list(RinexObsData& data, char letter) {
    for (ObsTypeList& list : data.obs_types)
        if (list.system.size() == 1 && list.system.front() == letter) return list.codes;
    data.obs_types.push_back(ObsTypeList{std::string(1, letter), {}});
    return data.obs_types.back().codes;
}

void read_approx_position(std::string_view line, RinexObsData& data) {
    std::array<double, 3> xyz{};
    std::size_t kept = 0;
    for_each_piece(data_area(line), [&](std::string_view piece) {
        const std::optional<double> value = read_float(piece);
        if (value && kept < 3) xyz[kept] = *value;
        if (value) ++kept;
    });
    if (kept >= 3) data.approx_position = xyz;
}

// RINEX 3 type lines name their system in column 0; continuation lines start blank (or with
// anything that is not a system letter) and extend the list of the last named system.
void read_rinex3_types(std::string_view line, std::optional<char>& current_letter, RinexObsData& data) {
    if (line.size() < 7) return;
    if (system_from_letter(line.front())) current_letter = line.front();
    if (!current_letter) return;
    // columns 3-5 hold the count, which the codes themselves make redundant
    const std::string_view codes = line.size() > 6 ? line.substr(6, 54) : std::string_view{};
    std::vector<std::string>* list = nullptr;
    for_each_piece(codes, [&](std::string_view code) {
        if (list == nullptr) list = &obs_type_list(data, *current_letter);
        list->emplace_back(code);
    });
}

// RINEX 2 declares one list for all systems; the count and stray one-character pieces are
// not codes.
void read_rinex2_types(std::string_view line, RinexObsData& data) {
    std::vector<std::string> codes;
    for_each_piece(data_area(line), [&](std::string_view piece) {
        if (piece.size() < 2 || (piece.front() >= '0' && piece.front() <= '9')) return;
        codes.emplace_back(rinex3_code_of(piece));
    });
    if (codes.empty()) return;
    for (const char letter : {'G', 'R', 'E', 'C'}) {
        std::vector<std::string>& list = obs_type_list(data, letter);
        list.insert(list.end(), codes.begin(), codes.end());
    }
}

// Pairs of "Rnn" and a channel number; the leading count and the code/bias pairs of
// "GLONASS COD/PHS/BIS" never form such a pair.
void read_glonass_slots(std::string_view line, RinexObsData& data) {
    std::array<std::string_view, 30> pieces{};  // 60 columns hold at most 30 pieces
    std::size_t count = 0;
    for_each_piece(data_area(line), [&](std::string_view piece) {
        if (count < pieces.size()) pieces[count++] = piece;
    });
    std::size_t i = 0;
    while (i + 1 < count) {
        const std::string_view slot = pieces[i];
        const std::optional<std::uint32_t> number =
            slot.size() >= 3 && slot.front() == 'R' ? read_u32(slot.substr(1)) : std::nullopt;
        const std::optional<std::int32_t> channel = number ? read_i32(pieces[i + 1]) : std::nullopt;
        if (!channel) {
            ++i;
            continue;
        }
        std::string key = std::to_string(*number);
        bool replaced = false;
        for (auto& [existing, value] : data.glonass_slots) {
            if (existing == key) {
                value = *channel;
                replaced = true;
            }
        }
        if (!replaced) data.glonass_slots.emplace_back(std::move(key), *channel);
        i += 2;
    }
}

bool contains(std::string_view text, std::string_view label) noexcept {
    return text.find(label) != std::string_view::npos;
}

}  // namespace

std::string_view rinex3_code_of(std::string_view rinex2_code) noexcept {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 11> table{{
        {"C1", "C1C"}, {"P1", "C1P"}, {"L1", "L1C"}, {"S1", "S1C"}, {"C2", "C2C"}, {"P2", "C2P"},
        {"L2", "L2C"}, {"S2", "S2C"}, {"C5", "C5Q"}, {"L5", "L5Q"}, {"S5", "S5Q"},
    }};
    if (rinex2_code.size() == 2)
        for (const auto& [old_code, new_code] : table)
            if (old_code == rinex2_code) return new_code;
    return rinex2_code;
}

bool read_observation_header(LineCursor& lines, RinexObsData& data) {
    std::optional<char> current_letter;
    while (!lines.at_end()) {
        const std::string_view line = lines.next();
        if (line.size() <= 60) continue;
        // The label may sit anywhere from column 60 on; the first matching test wins.
        const std::string_view label = line.substr(60);
        if (contains(label, "RINEX VERSION")) {
            if (const auto version = read_float(column_field(line, 0, 8))) data.version = *version;
        } else if (contains(label, "MARKER NAME")) {
            data.marker_name = column_field(line, 0, 59);
        } else if (contains(label, "MARKER NUMBER")) {
            data.marker_number = column_field(line, 0, 19);
        } else if (contains(label, "REC # / TYPE")) {
            if (line.size() >= 40) data.receiver_type = column_field(line, 20, 39);
            data.receiver_version = column_field(line, 40, 59);
        } else if (contains(label, "ANT # / TYPE")) {
            if (line.size() >= 40) data.antenna_type = column_field(line, 20, 39);
        } else if (contains(label, "APPROX POSITION XYZ")) {
            read_approx_position(line, data);
        } else if (contains(label, "INTERVAL")) {
            if (const auto interval = read_float(column_field(line, 0, 9))) data.interval = *interval;
        } else if (contains(label, "SYS / # / OBS TYPES")) {
            read_rinex3_types(line, current_letter, data);
        } else if (contains(label, "# / TYPES OF OBSERV")) {
            read_rinex2_types(line, data);
        } else if (contains(label, "GLONASS SLOT / FRQ") || contains(label, "GLONASS COD/PHS/BIS")) {
            read_glonass_slots(line, data);
        } else if (contains(label, "END OF HEADER")) {
            return true;
        }
    }
    return false;
}

}  // namespace vardoln
