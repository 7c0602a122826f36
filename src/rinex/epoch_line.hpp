// The epoch line of a RINEX 3 or 4 observation file: "> 2024 01 15 06 30  0.0000000  0 12".
// Every reader of such lines (plain text, Hatanaka-decoded epochs) reads them here, alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "rinex/epoch_time.hpp"

namespace vardoln {

struct EpochHeader {
    EpochTime time;
    std::uint8_t flag = 0;              // as written; 0 when absent or unreadable
    std::uint32_t satellite_count = 0;  // 0 when absent or unreadable
};

struct EpochFlagAndCount {
    std::uint8_t flag = 0;
    std::uint32_t satellite_count = 0;
};

// The flag and satellite count from the two pieces after the seconds (empty views for pieces the
// line lacks). The flag is one digit and the count three, so from 100 satellites on they run
// together: "0104" is flag 0 with 104 satellites, and the piece after it is the clock offset.
EpochFlagAndCount rinex3_epoch_flag_and_count(std::string_view flag_piece, std::string_view count_piece) noexcept;

// A line starting with ">": the text after it split at white space gives year, month, day,
// hour, minute and seconds (all six must read, or there is no epoch), then the flag and count.
std::optional<EpochHeader> read_rinex3_epoch_line(std::string_view line) noexcept;

}  // namespace vardoln
