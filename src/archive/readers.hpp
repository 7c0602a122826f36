// The observation readers behind the archive layers: compressed and compact RINEX are expanded
// first, then read exactly like a plain file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "rinex/obs_data.hpp"

namespace vardoln {

// True when the bytes start with a layer that expand_archive removes.
bool is_archived(std::string_view bytes) noexcept;

// Plain text is read in place; archived bytes are expanded into a private buffer first. An
// archive that cannot be expanded fails with the layer's message.
std::variant<RinexObsData, ParseError> read_observation_bytes(std::string_view bytes, std::string_view file_name);

// Compact RINEX decoded straight into the observation record that parse_observation_file gives
// for expand_crinex's text, without writing that text. Nothing when the file needs the text
// path: a fault to report, text beyond max_output, or a layout the reader would read across
// epoch boundaries.
std::optional<RinexObsData> read_crinex_observations(std::string_view bytes, std::size_t max_output,
                                                     std::string_view file_name);

}  // namespace vardoln
