// Field reading shared by every reader, and the number-to-text forms used in outputs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vardoln {

// ASCII white space: space, tab, line feed, vertical tab, form feed, carriage return.
constexpr bool is_space(char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Inline: the record readers trim every fixed-width field.
constexpr std::string_view trim(std::string_view text) noexcept {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_space(text[begin])) ++begin;
    while (end > begin && is_space(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// Columns first..last (both included) of a line, cut short where the line ends, then trimmed.
std::string_view column_field(std::string_view line, std::size_t first, std::size_t last) noexcept;

// Half-open columns [begin, end) of a line, cut short where the line ends, then trimmed.
std::string_view column_range(std::string_view line, std::size_t begin, std::size_t end) noexcept;

// Reading rules on already-trimmed text. Unsigned: optional "+" then digits only, in range.
// Signed: the same with an optional "-" as well. Float: decimal with optional exponent
// (e/E), or inf/infinity/nan in any case; no Fortran "D", no blanks, no hex.
std::optional<std::uint8_t> read_u8(std::string_view text) noexcept;
std::optional<std::uint32_t> read_u32(std::string_view text) noexcept;
std::optional<std::uint64_t> read_u64(std::string_view text) noexcept;
std::optional<std::int32_t> read_i32(std::string_view text) noexcept;
std::optional<double> read_float(std::string_view text) noexcept;

// Saturating conversions used where a float becomes an integer (NaN gives 0).
std::int32_t saturate_i32(double value) noexcept;

// Shortest digits that read back to the same double, positional notation without exponent;
// integral values carry no point (12.0 -> "12", 1e-7 -> "0.0000001"); NaN -> "NaN", inf -> "inf".
std::string format_plain(double value);

// The exact binary value rounded to `decimals` places, ties to even, always with that many
// decimals (45.25 with 1 -> "45.2"); decimals 0 gives no point. NaN/inf as format_plain.
std::string format_fixed(double value, int decimals);

}  // namespace vardoln
