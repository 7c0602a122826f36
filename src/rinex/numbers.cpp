#include "rinex/numbers.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace vardoln {

std::string_view column_field(std::string_view line, std::size_t first, std::size_t last) noexcept {
    return column_range(line, first, last + 1);
}

std::string_view column_range(std::string_view line, std::size_t begin, std::size_t end) noexcept {
    if (begin >= line.size() || end <= begin) return {};
    return trim(line.substr(begin, end - begin));
}

namespace {

template <typename T>
std::optional<T> read_unsigned(std::string_view text) noexcept {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    T value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const T digit = static_cast<T>(c - '0');
        if (value > (std::numeric_limits<T>::max() - digit) / 10) return std::nullopt;
        value = static_cast<T>(value * 10 + digit);
    }
    return value;
}

bool equals_ignore_case(std::string_view text, std::string_view lower) noexcept {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

// from_chars reports a value beyond the double range without giving one: a correctly
// rounding reader gives infinity for overflow and zero for underflow. The text is already
// known to be a valid decimal, so the order of magnitude decides.
double out_of_range_value(std::string_view body) noexcept {
    const std::size_t e_pos = body.find_first_of("eE");
    const std::string_view mantissa = body.substr(0, e_pos);
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return 0.0;
    // decimal exponent of the first significant digit
    const long long magnitude = first < point ? static_cast<long long>(point - first) - 1
                                              : -static_cast<long long>(first - point);
    long long exponent = 0;
    if (e_pos != std::string_view::npos) {
        std::string_view digits = body.substr(e_pos + 1);
        const bool negative = !digits.empty() && digits.front() == '-';
        if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
        for (char c : digits)
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (c - '0');
        if (negative) exponent = -exponent;
    }
    return magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

}  // namespace

std::optional<std::uint8_t> read_u8(std::string_view text) noexcept { return read_unsigned<std::uint8_t>(text); }
std::optional<std::uint32_t> read_u32(std::string_view text) noexcept { return read_unsigned<std::uint32_t>(text); }
std::optional<std::uint64_t> read_u64(std::string_view text) noexcept { return read_unsigned<std::uint64_t>(text); }

std::optional<std::int32_t> read_i32(std::string_view text) noexcept {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() == '+') return std::nullopt;
    // Magnitude up to 2^31 so that INT32_MIN reads.
    const auto magnitude = read_unsigned<std::uint32_t>(text);
    if (!magnitude) return std::nullopt;
    const std::uint32_t limit = negative ? 2147483648u : 2147483647u;
    if (*magnitude > limit) return std::nullopt;
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(*magnitude))
                    : static_cast<std::int32_t>(*magnitude);
}

std::optional<double> read_float(std::string_view text) noexcept {
    bool negative = false;
    std::string_view body = text;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body.empty()) return std::nullopt;
    const char first = body.front();
    if (!((first >= '0' && first <= '9') || first == '.')) {
        if (equals_ignore_case(body, "inf") || equals_ignore_case(body, "infinity"))
            return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        if (equals_ignore_case(body, "nan")) return std::numeric_limits<double>::quiet_NaN();
        return std::nullopt;
    }
    // from_chars in general format refuses hex and accepts "5.", ".5", "1e5"; it stops at the
    // first character it cannot use, so the whole text must be consumed. A lone "." or a
    // dangling exponent ("1e") leaves characters behind or fails.
    double value = 0.0;
    const char* begin = body.data();
    const char* end = begin + body.size();
    const auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (ptr != end) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        value = out_of_range_value(body);
    } else if (ec != std::errc()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::int32_t saturate_i32(double value) noexcept {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

namespace {

std::string non_finite_text(double value) {
    if (std::isnan(value)) return "NaN";
    return value < 0 ? "-inf" : "inf";
}

}  // namespace

std::string format_plain(double value) {
    if (!std::isfinite(value)) return non_finite_text(value);
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, result.ptr);
}

std::string format_fixed(double value, int decimals) {
    if (!std::isfinite(value)) return non_finite_text(value);
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

}  // namespace vardoln
