// RINEX 3.04 observation text from an observation record, as the monitor writes its hourly files.
//
// Whatever the record was read from (RINEX 2, 3 or 4, compact RINEX, an RTCM stream), the text
// is version 3.04: RINEX 2 codes take their three-letter names, and BeiDou B1I codes of files
// before 3.03 move from band 1 to band 2, so that a reader of 3.04 finds each signal on the band
// it was recorded on. parse_observation_file reads the text back to the same epochs, satellites,
// values and indicators.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "rinex/obs_data.hpp"

namespace vardoln {

// What a written file says about its making, and which part of the record it holds. The date is
// the caller's text so that the same record always gives the same bytes.
struct RinexWriteSettings {
    std::string program = "vardoln-cn0";      // PGM, cut to 20 characters
    std::string run_by;                       // RUN BY, cut to 20 characters
    std::string creation_date;                // DATE as written ("20240115 063000 UTC"), cut to 20
    std::optional<std::size_t> first_epoch;   // index of the first epoch written; none: the first
    std::optional<std::size_t> last_epoch;    // index of the last epoch written (included); none: the last
    // Time system of TIME OF FIRST OBS ("GPS", "GLO", ...). The record does not say which time its
    // epochs are in; empty: the sole constellation's own when one only is written, as in files of
    // one system, GPS otherwise. Records of RTCM streams are dated in GPS time: pass "GPS".
    std::string time_system;
};

// The record as RINEX 3.04 observation text. Satellites whose letter is none of the seven
// constellations, and codes that have no three-character name, cannot be written and are left
// out (an epoch left without satellites goes with them); everything else is written.
std::string write_rinex_observations(const RinexObsData& obs, const RinexWriteSettings& settings);

// The three-character name under which a code of a constellation letter is written, for a
// record read from a file of `source_version`: P2 -> C2P, D1 -> D1C, S7 -> S7Q, a BeiDou S1I of
// version 3.02 -> S2I. Empty when the code has no such name.
std::string rinex3_output_code(char letter, std::string_view code, double source_version);

// One header line: the data cut or padded to columns 0-59, then the label from column 60.
// Control characters in the data become blanks, so that caller text cannot break a line.
void append_header_line(std::string& out, std::string_view data, std::string_view label);

}  // namespace vardoln
