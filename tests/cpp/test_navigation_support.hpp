// Shared by the navigation tests: a real navigation file, parsed, and bit-for-bit
// comparisons of positions.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <variant>

#include "navigation/nav_data.hpp"
#include "navigation/orbits.hpp"
#include "test_real_data.hpp"

namespace vardoln::test {

// Nothing when the file is missing or does not parse.
inline std::optional<NavigationData> shared_nav(const char* name) {
    const auto text = real_bytes(name);
    if (!text) return std::nullopt;
    auto result = parse_navigation(*text);
    if (!std::holds_alternative<NavigationData>(result)) return std::nullopt;
    return std::get<NavigationData>(std::move(result));
}

inline bool same_bits(const Ecef& a, const Ecef& b) {
    for (std::size_t axis = 0; axis < 3; ++axis)
        if (std::bit_cast<std::uint64_t>(a[axis]) != std::bit_cast<std::uint64_t>(b[axis])) return false;
    return true;
}

inline bool same_bits(const std::optional<Ecef>& a, const std::optional<Ecef>& b) {
    return a.has_value() == b.has_value() && (!a || same_bits(*a, *b));
}

// Every satellite of either value at every quarter hour of `day` (00:00 to 23:45).
struct QuarterHourComparison {
    std::size_t positions = 0;  // requests that gave a position in both
    std::size_t differences = 0;
    std::string first_difference;  // "G05 at 1:30"
    double min_radius_m = 0.0;     // distances from the Earth's centre of the positions found
    double max_radius_m = 0.0;
};

template <typename Visit>
void for_each_key(const NavigationData& nav, Visit&& visit) {
    for (const auto& entry : nav.gps) visit(entry.first);
    for (const auto& entry : nav.galileo) visit(entry.first);
    for (const auto& entry : nav.beidou) visit(entry.first);
    for (const auto& entry : nav.glonass) visit(entry.first);
}

inline QuarterHourComparison compare_quarter_hours(const NavigationData& a, const NavigationData& b,
                                                   EpochTime day) {
    std::set<std::string> keys;
    for_each_key(a, [&](const std::string& key) { keys.insert(key); });
    for_each_key(b, [&](const std::string& key) { keys.insert(key); });
    QuarterHourComparison out;
    for (std::uint32_t quarter = 0; quarter < 96; ++quarter) {
        day.hour = quarter / 4;
        day.minute = quarter % 4 * 15;
        for (const std::string& key : keys) {
            const auto from_a = satellite_position(a, key, day);
            const auto from_b = satellite_position(b, key, day);
            if (!same_bits(from_a, from_b)) {
                if (out.differences++ == 0)
                    out.first_difference = key + " at " + std::to_string(day.hour) + ":" + std::to_string(day.minute);
            } else if (from_a) {
                const double radius = std::hypot((*from_a)[0], (*from_a)[1], (*from_a)[2]);
                if (out.positions++ == 0) out.min_radius_m = out.max_radius_m = radius;
                out.min_radius_m = std::min(out.min_radius_m, radius);
                out.max_radius_m = std::max(out.max_radius_m, radius);
            }
        }
    }
    return out;
}

}  // namespace vardoln::test
