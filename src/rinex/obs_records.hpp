// The epoch records of a RINEX observation file, after the header.
#pragma once

#include <optional>
#include <string_view>

#include "rinex/obs_data.hpp"
#include "rinex/text.hpp"

namespace vardoln {

// Each reader starts at the cursor (the first line after "END OF HEADER"), reads to the end of
// the text and appends to data.epochs; the header fields of `data` must be complete.
void read_rinex3_records(LineCursor& lines, RinexObsData& data);
void read_rinex2_records(LineCursor& lines, RinexObsData& data);

// An observation field (already trimmed) by the float reading rules. Nearly every field has
// the shape [sign]digits.ddd, which is read here exactly without the general parser.
std::optional<double> read_observation_value(std::string_view text) noexcept;

}  // namespace vardoln
