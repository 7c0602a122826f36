#include "rinex/ids.hpp"

#include <algorithm>
#include <cstddef>

#include "rinex/numbers.hpp"

namespace vardoln {

// Every GnssSystem letter has an observed-system name.
static_assert([] {
    for (const char letter : {'G', 'R', 'E', 'C', 'J', 'I', 'S'}) {
        if (constellation_name(letter, NamingContext::ObservedSystem).empty()) return false;
    }
    return true;
}());

std::optional<GnssSystem> system_from_letter(char letter) noexcept {
    if (constellation_name(letter, NamingContext::ObservedSystem).empty()) return std::nullopt;
    return static_cast<GnssSystem>(letter);
}

std::string_view system_display_name(GnssSystem system) noexcept {
    return constellation_name(static_cast<char>(system), NamingContext::ObservedSystem);
}

std::string observed_system_name(char letter) {
    const std::string_view name = constellation_name(letter, NamingContext::ObservedSystem);
    return name.empty() ? std::string(1, letter) : std::string(name);
}

std::string rinex2_satellite_id(std::string_view field) {
    if (field.size() == 3) return std::string(field);
    return satellite_key('G', read_u32(field).value_or(0));
}

std::string navigation_key(std::string_view satellite) {
    // The letter, at least one blank, then the number's one or two digits and nothing else.
    if (satellite.size() < 3 || satellite.front() < 'A' || satellite.front() > 'Z' || satellite[1] != ' ') {
        return std::string(satellite);
    }
    const std::size_t first_digit = satellite.find_first_not_of(' ', 1);
    if (first_digit == std::string_view::npos) return std::string(satellite);
    const std::string_view number = satellite.substr(first_digit);
    const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    if (number.size() > 2 || !std::all_of(number.begin(), number.end(), is_digit)) return std::string(satellite);
    return std::string{satellite.front(), number.size() == 2 ? number.front() : '0', number.back()};
}

std::string satellite_key(char letter, unsigned number) {
    std::string key(1, letter);
    if (number < 10) key += '0';
    key += std::to_string(number);
    return key;
}

}  // namespace vardoln
