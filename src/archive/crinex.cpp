// Compact RINEX (Hatanaka), versions 1.0 (RINEX 2) and 3.0 (RINEX 3 and 4), expanded to the
// plain observation text the readers accept.
//
// After the header, every epoch is an epoch line, a receiver clock line and one data line per
// listed satellite. Epoch lines and the loss-of-lock/signal-strength flags are differenced as
// text against their predecessor: a blank keeps the old character, "&" stands for a blank and
// anything else replaces it. Observations are integers (thousandths) differenced numerically:
// "k&v" starts an arc of order k at v, a bare number is the next difference of that arc, whose
// order climbs by one per epoch until it reaches k; an empty field is no observation and ends
// the arc. An epoch line starting with "&" (1.0) or ">" (3.0) starts everything afresh.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive.hpp"
#include "rinex/numbers.hpp"
#include "rinex/text.hpp"

namespace vardoln {

namespace {

constexpr std::string_view kVersionLabel = "CRINEX VERS   / TYPE";
constexpr std::string_view kProgramLabel = "CRINEX PROG / DATE";
constexpr std::size_t kLabelColumn = 60;
constexpr std::size_t kMaxOrder = 9;       // arc orders are one digit
constexpr std::uint32_t kMaxTypes = 999;   // three-digit count in RINEX 3 headers

enum class Flavour { rinex2, rinex3 };

// One observation arc: the latest value and its differences up to the arc order, in
// thousandths. Unsigned arithmetic wraps instead of overflowing on hostile input.
struct Arc {
    std::array<std::uint64_t, kMaxOrder + 1> terms{};
    std::uint8_t order = 0;
    std::uint8_t reached = 0;  // differences available so far, up to order
    bool live = false;
};

struct SatelliteState {
    std::array<char, 3> id{};
    bool taken = false;        // already handed to this epoch (duplicate identifiers)
    std::string flags;         // LLI and SSI characters, two per observation type
    std::vector<Arc> arcs;     // grows only as far as fields actually appear
};

// Why a field did not decode; the caller adds the line number.
enum class FieldStatus { ok, absent, missing_arc, bad_number, bad_order };

// Starts, continues or ends an arc from one field of text.
FieldStatus apply_field(Arc& arc, std::string_view field, std::uint64_t& value) noexcept {
    if (field.empty()) {
        arc.live = false;
        return FieldStatus::absent;
    }
    const std::size_t ampersand = field.find('&');
    std::string_view number = field;
    bool start = false;
    std::uint32_t order = 0;
    if (ampersand != std::string_view::npos) {
        const std::optional<std::uint32_t> parsed = read_u32(field.substr(0, ampersand));
        if (!parsed || *parsed > kMaxOrder) return FieldStatus::bad_order;
        order = *parsed;
        number = field.substr(ampersand + 1);
        start = true;
    }
    std::int64_t parsed_value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), parsed_value);
    if (error != std::errc() || end != number.data() + number.size() || number.empty()) {
        return FieldStatus::bad_number;
    }
    const auto difference = static_cast<std::uint64_t>(parsed_value);
    if (start) {
        arc.terms[0] = difference;
        arc.order = static_cast<std::uint8_t>(order);
        arc.reached = 0;
        arc.live = true;
    } else {
        if (!arc.live) return FieldStatus::missing_arc;
        if (arc.reached < arc.order) ++arc.reached;
        const std::size_t top = arc.reached;
        arc.terms[top] = difference;
        for (std::size_t k = top; k > 0; --k) arc.terms[k - 1] += arc.terms[k];
    }
    value = arc.terms[0];
    return FieldStatus::ok;
}

void apply_text_difference(std::string& text, std::string_view difference) {
    const std::size_t common = std::min(text.size(), difference.size());
    for (std::size_t i = 0; i < common; ++i) {
        const char c = difference[i];
        if (c != ' ') text[i] = c == '&' ? ' ' : c;
    }
    for (std::size_t i = common; i < difference.size(); ++i) {
        text.push_back(difference[i] == '&' ? ' ' : difference[i]);
    }
}

// Appends a scaled integer as a right-aligned fixed-point field (F14.3 for thousandths).
// A value too wide for its columns is written as asterisks, which no reader takes for a number.
void append_fixed(std::string& out, std::uint64_t raw, unsigned decimals, std::size_t width) {
    const auto value = static_cast<std::int64_t>(raw);
    const bool negative = value < 0;
    std::uint64_t magnitude = negative ? 0 - raw : raw;
    char digits[24];
    std::size_t count = 0;
    for (unsigned i = 0; i < decimals; ++i) {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    }
    digits[count++] = '.';
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) digits[count++] = '-';
    if (count > width) {
        out.append(width, '*');
        return;
    }
    out.append(width - count, ' ');
    while (count > 0) out.push_back(digits[--count]);
}

void trim_trailing_blanks(std::string& out, std::size_t line_start) {
    std::size_t end = out.size();
    while (end > line_start && out[end - 1] == ' ') --end;
    out.resize(end);
}

class CrinexExpander {
public:
    CrinexExpander(std::string_view bytes, std::size_t max_output) : lines_(bytes), max_output_(max_output) {
        // Expanded text is about three to four times the compact one.
        out_.reserve(std::min<std::size_t>(max_output + 1, bytes.size() / 2 * 7 + 4096));
    }

    ArchiveResult run() {
        if (!read_header()) return failure();
        while (next_epoch()) {
            if (out_.size() > max_output_) return ArchiveError{limit_message()};
        }
        if (!error_.empty()) return failure();
        if (out_.size() > max_output_) return ArchiveError{limit_message()};
        return std::move(out_);
    }

private:
    ArchiveError failure() { return ArchiveError{"CRINEX: " + error_}; }
    std::string limit_message() const {
        return "CRINEX: expands beyond the limit of " + std::to_string(max_output_) + " bytes";
    }

    bool fail(std::string message) {
        error_ = "line " + std::to_string(line_number_) + " " + std::move(message);
        return false;
    }

    std::string_view next_line() {
        ++line_number_;
        return lines_.next();
    }

    void emit_line(std::string_view line) {
        out_.append(line);
        out_.push_back('\n');
    }

    bool read_header() {
        const std::string_view first = next_line();
        const std::string_view version = column_range(first, 0, 20);
        if (version == "1.0") {
            flavour_ = Flavour::rinex2;
        } else if (version == "3.0") {
            flavour_ = Flavour::rinex3;
        } else {
            error_ = "unsupported version " + std::string(version);
            return false;
        }
        if (column_range(lines_.peek(), kLabelColumn, kLabelColumn + 20) == kProgramLabel) next_line();
        while (!lines_.at_end()) {
            const std::string_view line = next_line();
            emit_line(line);
            const std::string_view label = column_range(line, kLabelColumn, kLabelColumn + 20);
            if (label == "END OF HEADER") return true;
            note_header_line(line, label);
        }
        // No end of header: the header alone goes out and the reader reports what is missing.
        return true;
    }

    // The number of observation types decides how many fields a data line holds. A count is
    // believed only as far as codes actually follow it in the text.
    void note_header_line(std::string_view line, std::string_view label) {
        if (flavour_ == Flavour::rinex2 && label == "# / TYPES OF OBSERV") {
            const std::string_view count = column_range(line, 0, 6);
            if (!count.empty()) {
                announced_ = std::min(read_u32(count).value_or(0), kMaxTypes);
                seen_ = 0;
            }
            for (std::size_t column = 10; column < 60; column += 6) {
                if (!column_range(line, column - 4, column + 2).empty()) ++seen_;
            }
            rinex2_types_ = std::min(announced_, seen_);
        } else if (flavour_ == Flavour::rinex3 && label == "SYS / # / OBS TYPES") {
            if (!line.empty() && line[0] != ' ') {
                system_ = static_cast<unsigned char>(line[0]) & 0x7F;
                announced_ = std::min(read_u32(column_range(line, 3, 6)).value_or(0), kMaxTypes);
                seen_ = 0;
            }
            for (std::size_t column = 7; column < 59; column += 4) {
                if (!column_range(line, column, column + 3).empty()) ++seen_;
            }
            rinex3_types_[system_] = std::min(announced_, seen_);
        }
    }

    std::uint32_t types_of(const std::array<char, 3>& id) const noexcept {
        if (flavour_ == Flavour::rinex2) return rinex2_types_;
        return rinex3_types_[static_cast<unsigned char>(id[0]) & 0x7F];
    }

    // Reads one epoch; false at the end of the text or on an error (error_ set).
    bool next_epoch() {
        std::string_view line;
        do {
            if (lines_.at_end()) return false;
            line = next_line();
        } while (line.empty() && !has_epoch_);  // stray blank lines before the first epoch

        const char fresh_marker = flavour_ == Flavour::rinex2 ? '&' : '>';
        if (!line.empty() && line[0] == fresh_marker) {
            epoch_line_.clear();
            has_epoch_ = true;
            previous_.clear();
            clock_.live = false;
        } else if (!has_epoch_) {
            return fail("references a missing previous epoch");
        }
        apply_text_difference(epoch_line_, line);

        const bool rinex2 = flavour_ == Flavour::rinex2;
        const char flag = epoch_line_.size() > (rinex2 ? 28u : 31u) ? epoch_line_[rinex2 ? 28 : 31] : ' ';
        const std::string_view count_text = rinex2 ? column_field(epoch_line_, 29, 31) : column_field(epoch_line_, 32, 34);
        const bool event = rinex2 ? (flag >= '2' && flag <= '9') : (flag >= '2' && flag <= '5');
        if (event) return copy_event(count_text);

        const std::optional<std::uint32_t> count = read_u32(count_text);
        if (!count) return fail("has an unreadable satellite count");
        const std::size_t list_column = rinex2 ? 32 : 41;
        if (epoch_line_.size() < list_column + std::size_t{*count} * 3) {
            return fail("lists fewer satellites than its count");
        }

        // Receiver clock offset: nanoseconds in 1.0, picoseconds in 3.0.
        if (lines_.at_end()) return false;  // cut short: what came before stands
        const std::string_view clock_field = trim(next_line());
        std::uint64_t clock = 0;
        const FieldStatus clock_status = apply_field(clock_, clock_field, clock);
        if (!field_ok(clock_status)) return false;
        const bool has_clock = clock_status == FieldStatus::ok;

        if (!match_satellites(list_column, *count)) return false;
        if (rinex2) {
            write_rinex2_epoch(list_column, has_clock, clock);
        } else {
            const std::size_t start = out_.size();
            out_.append(std::string_view(epoch_line_).substr(0, std::min<std::size_t>(epoch_line_.size(), 41)));
            if (has_clock) {
                out_.resize(start + 41, ' ');
                append_fixed(out_, clock, 12, 15);
            } else {
                out_.resize(std::min(out_.size(), start + 35));
                trim_trailing_blanks(out_, start);
            }
            out_.push_back('\n');
        }

        for (SatelliteState& satellite : current_) {
            if (lines_.at_end()) break;  // cut short: the satellites decoded so far stand
            if (!decode_satellite(satellite, next_line())) return false;
        }
        previous_.swap(current_);
        return true;
    }

    bool field_ok(FieldStatus status) {
        switch (status) {
            case FieldStatus::ok:
            case FieldStatus::absent: return true;
            case FieldStatus::missing_arc: return fail("references a missing previous epoch");
            case FieldStatus::bad_number: return fail("has an unreadable value");
            case FieldStatus::bad_order: return fail("has an unsupported difference order");
        }
        return false;
    }

    // Special records follow an event epoch verbatim; header records among them may change
    // the observation types.
    bool copy_event(std::string_view count_text) {
        const std::size_t start = out_.size();
        out_.append(epoch_line_);
        trim_trailing_blanks(out_, start);
        out_.push_back('\n');
        std::uint32_t records = read_u32(count_text).value_or(0);
        for (; records > 0 && !lines_.at_end(); --records) {
            const std::string_view record = next_line();
            emit_line(record);
            note_header_line(record, column_range(record, kLabelColumn, kLabelColumn + 20));
        }
        return true;
    }

    // Carries each listed satellite's arcs and flags over from the previous epoch; a
    // satellite that was not there starts empty.
    bool match_satellites(std::size_t list_column, std::uint32_t count) {
        for (SatelliteState& old : previous_) old.taken = false;
        // The states of the epoch before last are recycled for their buffers.
        current_.resize(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::array<char, 3> id{};
            std::copy_n(epoch_line_.data() + list_column + 3 * std::size_t{i}, 3, id.begin());
            SatelliteState* found = nullptr;
            if (i < previous_.size() && previous_[i].id == id && !previous_[i].taken) {
                found = &previous_[i];  // lists rarely change order
            } else {
                for (SatelliteState& old : previous_) {
                    if (old.id == id && !old.taken) {
                        found = &old;
                        break;
                    }
                }
            }
            SatelliteState& state = current_[i];
            if (found != nullptr) {
                std::swap(state, *found);
                found->taken = true;
                found->id = {};
            } else {
                state.flags.clear();
                state.arcs.clear();
            }
            state.id = id;
            state.taken = false;
        }
        return true;
    }

    void write_rinex2_epoch(std::size_t list_column, bool has_clock, std::uint64_t clock) {
        constexpr std::size_t kPerLine = 12;
        const std::size_t count = current_.size();
        std::size_t start = out_.size();
        out_.append(std::string_view(epoch_line_).substr(0, list_column));
        out_.resize(start + list_column, ' ');
        for (std::size_t i = 0; i < count; ++i) {
            if (i > 0 && i % kPerLine == 0) {
                if (i == kPerLine && has_clock) {
                    out_.resize(start + 68, ' ');
                    append_fixed(out_, clock, 9, 12);
                }
                out_.push_back('\n');
                start = out_.size();
                out_.append(list_column, ' ');
            }
            out_.append(current_[i].id.data(), 3);
        }
        if (count <= kPerLine && has_clock) {
            out_.resize(start + 68, ' ');
            append_fixed(out_, clock, 9, 12);
        }
        out_.push_back('\n');
    }

    // One data line: the type fields, each ended by a blank, then the flags difference.
    bool decode_satellite(SatelliteState& satellite, std::string_view line) {
        const std::uint32_t types = types_of(satellite.id);
        fields_.clear();
        std::size_t position = 0;
        for (std::uint32_t k = 0; k < types && position < line.size(); ++k) {
            const std::size_t blank = line.find(' ', position);
            const std::size_t end = blank == std::string_view::npos ? line.size() : blank;
            fields_.push_back(line.substr(position, end - position));
            position = blank == std::string_view::npos ? line.size() : blank + 1;
        }
        apply_text_difference(satellite.flags, line.substr(std::min(position, line.size())));

        const bool rinex2 = flavour_ == Flavour::rinex2;
        std::size_t line_start = out_.size();
        if (!rinex2) out_.append(satellite.id.data(), 3);
        for (std::uint32_t k = 0; k < types; ++k) {
            if (rinex2 && k > 0 && k % 5 == 0) {
                trim_trailing_blanks(out_, line_start);
                out_.push_back('\n');
                line_start = out_.size();
            }
            std::uint64_t value = 0;
            FieldStatus status = FieldStatus::absent;
            if (k < fields_.size() && !fields_[k].empty()) {
                if (satellite.arcs.size() <= k) satellite.arcs.resize(k + 1);
                status = apply_field(satellite.arcs[k], fields_[k], value);
                if (!field_ok(status)) return false;
            } else if (k < satellite.arcs.size()) {
                satellite.arcs[k].live = false;
            }
            if (status != FieldStatus::ok) {
                out_.append(16, ' ');
                continue;
            }
            append_fixed(out_, value, 3, 14);
            const std::size_t flag = 2 * std::size_t{k};
            out_.push_back(flag < satellite.flags.size() ? satellite.flags[flag] : ' ');
            out_.push_back(flag + 1 < satellite.flags.size() ? satellite.flags[flag + 1] : ' ');
        }
        trim_trailing_blanks(out_, rinex2 ? line_start : line_start + 3);
        out_.push_back('\n');
        return true;
    }

    LineCursor lines_;
    std::size_t line_number_ = 0;
    std::size_t max_output_;
    std::string out_;
    std::string error_;
    Flavour flavour_ = Flavour::rinex3;

    // Observation types: RINEX 2 has one list, RINEX 3 one per system letter.
    std::uint32_t rinex2_types_ = 0;
    std::array<std::uint32_t, 128> rinex3_types_{};
    std::uint32_t announced_ = 0;  // list being read
    std::uint32_t seen_ = 0;
    unsigned system_ = 0;

    std::string epoch_line_;
    bool has_epoch_ = false;
    Arc clock_;
    std::vector<SatelliteState> previous_;
    std::vector<SatelliteState> current_;
    std::vector<std::string_view> fields_;
};

}  // namespace

bool is_crinex(std::string_view bytes) noexcept {
    const std::size_t end = bytes.find('\n');
    const std::string_view first = bytes.substr(0, end);
    return column_range(first, kLabelColumn, kLabelColumn + 20) == kVersionLabel;
}

ArchiveResult expand_crinex(std::string_view bytes, std::size_t max_output) {
    return CrinexExpander(bytes, max_output).run();
}

}  // namespace vardoln
