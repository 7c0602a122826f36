#include "rinex/epoch_line.hpp"

#include <array>

#include "rinex/numbers.hpp"

namespace vardoln {

namespace {

// Pieces of an epoch line after ">": date and time, flag, count; the clock offset is ignored.
std::size_t split_pieces(std::string_view text, std::array<std::string_view, 8>& pieces) noexcept {
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < text.size() && count < pieces.size()) {
        while (i < text.size() && is_space(text[i])) ++i;
        const std::size_t begin = i;
        while (i < text.size() && !is_space(text[i])) ++i;
        if (i > begin) pieces[count++] = text.substr(begin, i - begin);
    }
    return count;
}

bool all_digits(std::string_view text) noexcept {
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

EpochFlagAndCount rinex3_epoch_flag_and_count(std::string_view flag_piece, std::string_view count_piece) noexcept {
    // Flag (one column) and count (three columns) side by side: "0104". Below 100 the count's
    // leading blank keeps them apart, so only a count of 100 or more runs into the flag.
    if (flag_piece.size() == 4 && all_digits(flag_piece)) {
        const auto count = read_u32(flag_piece.substr(1));
        if (count && *count >= 100)
            return {static_cast<std::uint8_t>(flag_piece.front() - '0'), *count};
    }
    return {read_u8(flag_piece).value_or(0), read_u32(count_piece).value_or(0)};
}

std::optional<EpochHeader> read_rinex3_epoch_line(std::string_view line) noexcept {
    std::array<std::string_view, 8> pieces{};
    if (line.empty() || split_pieces(line.substr(1), pieces) < 6) return std::nullopt;
    const auto year = read_i32(pieces[0]);
    const auto month = read_u32(pieces[1]);
    const auto day = read_u32(pieces[2]);
    const auto hour = read_u32(pieces[3]);
    const auto minute = read_u32(pieces[4]);
    const auto second = read_float(pieces[5]);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    const EpochFlagAndCount flag_and_count = rinex3_epoch_flag_and_count(pieces[6], pieces[7]);
    return EpochHeader{EpochTime{*year, *month, *day, *hour, *minute, *second}, flag_and_count.flag,
                       flag_and_count.satellite_count};
}

}  // namespace vardoln
