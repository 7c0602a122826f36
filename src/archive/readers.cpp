#include "archive/readers.hpp"

#include <utility>

#include "archive/archive.hpp"

namespace vardoln {

bool is_archived(std::string_view bytes) noexcept {
    return is_gzip(bytes) || is_unix_compress(bytes) || is_crinex(bytes);
}

std::variant<RinexObsData, ParseError> read_observation_bytes(std::string_view bytes, std::string_view file_name) {
    if (!is_archived(bytes)) return parse_observation_file(bytes, file_name);
    auto expanded = expand_archive(std::string(bytes));
    if (auto* error = std::get_if<ArchiveError>(&expanded)) return ParseError{std::move(error->message)};
    return parse_observation_file(std::get<std::string>(expanded), file_name);
}

std::variant<NavigationData, NavParseError> read_navigation_bytes(std::string_view bytes) {
    if (!is_archived(bytes)) return parse_navigation(bytes);
    auto expanded = expand_archive(std::string(bytes));
    if (auto* error = std::get_if<ArchiveError>(&expanded)) return NavParseError{std::move(error->message)};
    return parse_navigation(std::get<std::string>(expanded));
}

}  // namespace vardoln
