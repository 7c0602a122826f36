// The epoch records of a RINEX observation file, after the header.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "rinex/epoch_line.hpp"
#include "rinex/epoch_time.hpp"
#include "rinex/numbers.hpp"
#include "rinex/obs_data.hpp"
#include "rinex/text.hpp"

namespace vardoln {

class RecordBuilder;

// Each reader starts at the cursor (the first line after "END OF HEADER"), reads to the end of
// the text and appends to data.epochs; the header fields of `data` must be complete.
void read_rinex3_records(LineCursor& lines, RinexObsData& data);
void read_rinex2_records(LineCursor& lines, RinexObsData& data);

// An observation field (already trimmed) by the float reading rules. Nearly every field has
// the shape [sign]digits.ddd, which is read here exactly without the general parser.
std::optional<double> read_observation_value(std::string_view text) noexcept;

// The pieces of the readers below are shared with the compact RINEX decoder, which builds
// records without writing text: whatever it reads, it reads through these.

// The RINEX 3 reader over the lines from the cursor on, into an existing builder.
void read_rinex3_records(LineCursor& lines, RecordBuilder& builder);

// The epoch line of a RINEX 2 record; nothing when the line is not read as an epoch line. The
// RINEX 3 and 4 epoch line (starting with ">") is read by read_rinex3_epoch_line.
std::optional<EpochHeader> read_rinex2_epoch_line(std::string_view line) noexcept;

// One RINEX 3 satellite line: identifier in columns 0-2, then 16 columns per code (14 for the
// value, one each for the loss-of-lock and signal-strength indicators).
void read_rinex3_satellite_line(std::string_view line, RecordBuilder& builder);

// A satellite identifier of at most three characters, as cut from a record line.
struct ShortId {
    std::array<char, 3> text{};
    std::uint8_t size = 0;

    std::string_view view() const noexcept { return {text.data(), size}; }
};

// Up to 12 three-column RINEX 2 satellite fields from column 32 of a line; blank and missing
// fields count toward `remaining` without naming a satellite. Returns what remains.
std::uint32_t read_rinex2_satellite_fields(std::string_view line, std::uint32_t remaining, std::vector<ShortId>& ids);

// A value of the usual observation field as an integer count of thousandths.
struct Thousandths {
    std::uint64_t magnitude = 0;
    bool negative = false;

    double value() const noexcept {
        const double value = static_cast<double>(magnitude) / 1000.0;
        return negative ? -value : value;
    }
};

// Indicator columns hold one character; only a digit reads as a number.
inline std::optional<std::uint8_t> indicator_at(std::string_view data, std::size_t column) noexcept {
    if (column >= data.size()) return std::nullopt;
    const unsigned digit = static_cast<unsigned char>(data[column]) - unsigned{'0'};
    if (digit > 9) return std::nullopt;
    return static_cast<std::uint8_t>(digit);
}

}  // namespace vardoln
