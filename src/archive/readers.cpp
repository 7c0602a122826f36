#include "archive/readers.hpp"

#include <utility>

#include "archive/archive.hpp"
#include "rinex/counters.hpp"

namespace vardoln {

bool is_archived(std::string_view bytes) noexcept { return is_compressed(bytes) || is_crinex(bytes); }

std::variant<RinexObsData, ParseError> read_observation_bytes(std::string_view bytes, std::string_view file_name) {
    count(core_counters().parses);
    if (!is_archived(bytes)) return parse_observation_file(bytes, file_name);
    const std::size_t cap = archive_output_cap(bytes.size(), ArchiveLimits{});
    ArchiveResult inner;
    std::string_view text = bytes;
    if (is_compressed(bytes)) {
        inner = decompress(bytes, cap);
        if (auto* error = std::get_if<ArchiveError>(&inner)) return ParseError{std::move(error->message)};
        text = std::get<std::string>(inner);
    }
    if (!is_crinex(text)) return parse_observation_file(text, file_name);
    // Compact RINEX goes straight into the record; the text path is left for what that does
    // not cover, and words the faults.
    if (auto data = read_crinex_observations(text, cap, file_name)) return std::move(*data);
    ArchiveResult expanded = expand_crinex(text, cap);
    if (auto* error = std::get_if<ArchiveError>(&expanded)) return ParseError{std::move(error->message)};
    return parse_observation_file(std::get<std::string>(expanded), file_name);
}

}  // namespace vardoln
