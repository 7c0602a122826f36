// RINEX 3.04 mixed navigation text from broadcast records, as the monitor writes its daily file.
#pragma once

#include <string>

#include "navigation/nav_data.hpp"
#include "rinex/obs_writer.hpp"

namespace vardoln {

// Every record of G, J, E, C and R satellites, grouped by satellite in key order, each
// satellite's records in their stored order; parse_navigation reads the text back to the same
// records. Fields the records do not keep (health, accuracy, group delays, transmission time)
// are written as zero. The epoch range of the settings concerns observations and is not used
// here. Records of satellite numbers above 99 or of other letters have no place in the format
// and are left out.
std::string write_rinex_navigation(const NavigationData& nav, const RinexWriteSettings& settings);

// One D19.12-style field, exponent letter "E": " 1.234567890123E+03". Values whose exponent
// needs three digits give up a decimal to keep the 19 columns.
void append_nav_field(std::string& out, double value);

}  // namespace vardoln
