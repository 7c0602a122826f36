#include "navigation/nav_bytes.hpp"

#include <string>
#include <utility>

#include "archive/archive.hpp"
#include "archive/readers.hpp"
#include "rinex/counters.hpp"

namespace vardoln {

std::variant<NavigationData, NavParseError> read_navigation_bytes(std::string_view bytes) {
    count(core_counters().parses);
    if (!is_archived(bytes)) return parse_navigation(bytes);
    auto expanded = expand_archive(std::string(bytes));
    if (auto* error = std::get_if<ArchiveError>(&expanded)) return NavParseError{std::move(error->message)};
    return parse_navigation(std::get<std::string>(expanded));
}

}  // namespace vardoln
