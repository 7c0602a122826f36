// Compact RINEX (Hatanaka), versions 1.0 (RINEX 2) and 3.0 (RINEX 3 and 4), decoded epoch by
// epoch for a sink: one that writes the plain observation text, or one that fills the record.
//
// After the header, every epoch is an epoch line, a receiver clock line and one data line per
// listed satellite. Epoch lines and the loss-of-lock/signal-strength flags are differenced as
// text against their predecessor: a blank keeps the old character, "&" stands for a blank and
// anything else replaces it. Observations are integers (thousandths) differenced numerically:
// "k&v" starts an arc of order k at v, a bare number is the next difference of that arc, whose
// order climbs by one per epoch until it reaches k; an empty field is no observation and ends
// the arc. An epoch line starting with "&" (1.0) or ">" (3.0) starts everything afresh.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vardoln::crinex {

enum class Flavour { rinex2, rinex3 };

// One observation field of a data line: the value in thousandths (two's complement), when the
// field gave one.
struct Observation {
    std::uint64_t raw = 0;
    bool present = false;
};

// A listed satellite as its data line left it.
struct Satellite {
    std::array<char, 3> id{};
    std::string_view flags;                    // LLI and SSI characters, two per observation type
    std::uint32_t types = 0;                   // observation types of its system
    std::span<const Observation> observed;     // the first fields of the line; the rest are absent
};

// A decoded epoch. `line` is the epoch line as the differences have made it, before it is laid
// out in plain RINEX. Every listed satellite is in `satellites`; only the first `decoded` had
// their data lines read (fewer than listed when the file is cut short).
struct Epoch {
    std::string_view line;
    bool has_clock = false;
    std::uint64_t clock = 0;  // nanoseconds (1.0) or picoseconds (3.0)
    std::span<const Satellite> satellites;
    std::size_t decoded = 0;
};

// What the decoder hands on. Each call returns false to stop decoding at once.
class Sink {
public:
    virtual ~Sink() = default;
    // The layout, known from the first line.
    virtual bool start(Flavour flavour) = 0;
    // Header lines as the plain file holds them, END OF HEADER included (the two CRINEX lines
    // are not passed on).
    virtual bool header_line(std::string_view line) = 0;
    virtual bool epoch(const Epoch& epoch) = 0;
    // An event epoch (flag 2 and above) and the special records that follow it verbatim.
    virtual bool event(std::string_view line, std::span<const std::string_view> records) = 0;
};

// How decoding ended: the whole text read, a sink that stopped it, or a fault ("unsupported
// version 2.0", "line 12 has an unreadable value").
struct Outcome {
    bool stopped = false;
    std::string error;
};

Outcome decode(std::string_view bytes, Sink& sink);

// The plain RINEX text a compact epoch stands for, shared by both sinks so that the record is
// read from exactly the text the text path writes.
//
// A scaled integer as a right-aligned fixed-point field (F14.3 for thousandths). A value too
// wide for its columns is written as asterisks, which no reader takes for a number.
void append_fixed(std::string& out, std::uint64_t raw, unsigned decimals, std::size_t width);
// Whether an observation fits its F14.3 field: ten digits before the point, nine with a minus.
constexpr bool fits_observation_field(std::uint64_t raw) noexcept {
    return static_cast<std::int64_t>(raw) < 0 ? 0 - raw < 1'000'000'000'000u : raw < 10'000'000'000'000u;
}
void trim_trailing_blanks(std::string& out, std::size_t line_start);
// The epoch line (RINEX 3) or the epoch line and satellite list lines (RINEX 2), with the
// receiver clock, each ended by a line feed.
void append_epoch_lines(std::string& out, Flavour flavour, const Epoch& epoch);
// An event epoch line and its records, each ended by a line feed.
void append_event_lines(std::string& out, std::string_view line, std::span<const std::string_view> records);

// Column of the satellite list on a compact epoch line.
constexpr std::size_t list_column(Flavour flavour) noexcept { return flavour == Flavour::rinex2 ? 32 : 41; }

}  // namespace vardoln::crinex
