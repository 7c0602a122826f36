#include "rinex/epoch_time.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "rinex/numbers.hpp"

namespace vardoln {

double julian_day(const EpochTime& epoch) noexcept {
    const double year = epoch.year;
    const double month = epoch.month;
    const double a = std::floor((14.0 - month) / 12.0);
    const double y = year + 4800.0 - a;
    const double m = month + 12.0 * a - 3.0;
    const double jdn = static_cast<double>(epoch.day) + std::floor((153.0 * m + 2.0) / 5.0) + 365.0 * y +
                       std::floor(y / 4.0) - std::floor(y / 100.0) + std::floor(y / 400.0) - 32045.0;
    const double seconds_of_day =
        static_cast<double>(epoch.hour) * 3600.0 + static_cast<double>(epoch.minute) * 60.0 + epoch.second;
    return jdn + seconds_of_day / 86400.0;
}

double epoch_difference_seconds(const EpochTime& a, const EpochTime& b) noexcept {
    return (julian_day(a) - julian_day(b)) * 86400.0;
}

namespace {

// Zero-padded decimal of at least `width` characters; a minus sign counts toward the width.
template <typename Int>
void append_padded(std::string& out, Int value, int width) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    int length = static_cast<int>(result.ptr - digits);
    const char* start = digits;
    if (value < 0) {
        out += '-';
        ++start;
        --width;
        --length;
    }
    for (int i = length; i < width; ++i) out += '0';
    out.append(start, static_cast<std::size_t>(result.ptr - start));
}

}  // namespace

void append_timestamp_text(std::string& out, const EpochTime& epoch) {
    append_padded(out, epoch.year, 4);
    out += '-';
    append_padded(out, epoch.month, 2);
    out += '-';
    append_padded(out, epoch.day, 2);
    out += 'T';
    append_padded(out, epoch.hour, 2);
    out += ':';
    append_padded(out, epoch.minute, 2);
    out += ':';
    const std::string seconds = format_fixed(epoch.second, 3);
    std::size_t length = seconds.size();
    std::size_t start = 0;
    if (!seconds.empty() && seconds.front() == '-') {
        out += '-';
        start = 1;
    }
    for (std::size_t i = length; i < 6; ++i) out += '0';
    out.append(seconds, start);
    out += 'Z';
}

std::string timestamp_text(const EpochTime& epoch) {
    std::string out;
    out.reserve(24);
    append_timestamp_text(out, epoch);
    return out;
}

std::optional<EpochTime> parse_timestamp_text(std::string_view text) noexcept {
    // YYYY-MM-DDTHH:MM:SS.sssZ, with wider fields allowed where the writer padded only to a minimum.
    if (text.empty() || text.back() != 'Z') return std::nullopt;
    text.remove_suffix(1);
    const auto take = [&text](char separator) -> std::string_view {
        const std::size_t at = text.find(separator, 1);
        if (at == std::string_view::npos) return {};
        const std::string_view part = text.substr(0, at);
        text.remove_prefix(at + 1);
        return part;
    };
    const std::string_view year = take('-');
    const std::string_view month = take('-');
    const std::string_view day = take('T');
    const std::string_view hour = take(':');
    const std::string_view minute = take(':');
    EpochTime epoch;
    const auto y = read_i32(year);
    const auto mo = read_u32(month);
    const auto d = read_u32(day);
    const auto h = read_u32(hour);
    const auto mi = read_u32(minute);
    const auto s = read_float(text);
    if (!y || !mo || !d || !h || !mi || !s) return std::nullopt;
    epoch.year = *y;
    epoch.month = *mo;
    epoch.day = *d;
    epoch.hour = *h;
    epoch.minute = *mi;
    epoch.second = *s;
    return epoch;
}

double most_common_step_s(std::span<const double> seconds, double header_interval_s) {
    std::vector<std::int64_t> steps_ms;
    steps_ms.reserve(seconds.size());
    for (std::size_t k = 1; k < seconds.size(); ++k) {
        const double step_ms = std::round((seconds[k] - seconds[k - 1]) * 1000.0);
        if (step_ms >= 1.0 && step_ms < 1e15) steps_ms.push_back(static_cast<std::int64_t>(step_ms));
    }
    if (steps_ms.empty()) return std::isfinite(header_interval_s) && header_interval_s > 0.0 ? header_interval_s : 0.0;
    std::sort(steps_ms.begin(), steps_ms.end());
    std::int64_t best = steps_ms.front();
    std::size_t best_count = 0;
    for (std::size_t k = 0; k < steps_ms.size();) {
        std::size_t end = k;
        while (end < steps_ms.size() && steps_ms[end] == steps_ms[k]) ++end;
        if (end - k > best_count) {
            best_count = end - k;
            best = steps_ms[k];
        }
        k = end;
    }
    return static_cast<double>(best) / 1000.0;
}

}  // namespace vardoln
