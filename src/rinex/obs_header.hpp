// The header of a RINEX observation file, up to "END OF HEADER".
#pragma once

#include <string_view>

#include "rinex/obs_data.hpp"
#include "rinex/text.hpp"

namespace vardoln {

// Reads header lines into the header fields of `data`. Returns true when "END OF HEADER" was
// seen; the cursor then stands on the first record line. Returns false when the lines ran out.
bool read_observation_header(LineCursor& lines, RinexObsData& data);

// The RINEX 2 observation code in its RINEX 3 spelling (P2 -> C2P); other codes unchanged.
std::string_view rinex3_code_of(std::string_view rinex2_code) noexcept;

}  // namespace vardoln
