// Field reading inside navigation records (private to src/navigation and its tests).
#pragma once

#include <string_view>

namespace vardoln {

// Width of every numeric field of a navigation record line.
inline constexpr std::size_t kNavFieldWidth = 19;

// The 19-column numeric field starting at `start`, cut short where the line ends. Navigation
// files keep the Fortran exponent letter ("1.0D-03"); it reads as "E". A field past the end
// of the line, blank or unreadable, is 0.0: such a field never drops a record.
double parse_fortran_float(std::string_view line, std::size_t start) noexcept;

}  // namespace vardoln
