#include "archive/crinex_decoder.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>

#include "rinex/numbers.hpp"
#include "rinex/text.hpp"

namespace vardoln::crinex {

namespace {

constexpr std::string_view kProgramLabel = "CRINEX PROG / DATE";
constexpr std::size_t kLabelColumn = 60;
constexpr std::size_t kMaxOrder = 9;       // arc orders are one digit
constexpr std::uint32_t kMaxTypes = 999;   // three-digit count in RINEX 3 headers

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

// The number of a field: an optional minus and decimal digits, all of the text. Up to 18
// digits cannot overflow and are read here; anything longer goes to from_chars, which reports
// a value beyond 64 bits.
bool read_difference(std::string_view number, std::int64_t& out) noexcept {
    const char* p = number.data();
    const char* const end = p + number.size();
    const bool negative = p != end && *p == '-';
    if (negative) ++p;
    if (p == end || end - p > 18) {
        const auto [stop, error] = std::from_chars(number.data(), end, out);
        return error == std::errc() && stop == end && !number.empty();
    }
    std::int64_t magnitude = 0;
    for (; p != end; ++p) {
        const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit > 9) return false;
        magnitude = magnitude * 10 + digit;
    }
    out = negative ? -magnitude : magnitude;
    return true;
}

// Starts an arc of `order` at `difference`, or takes the next difference of a live one.
FieldStatus advance_arc(Arc& arc, bool start, std::uint32_t order, std::uint64_t difference,
                        std::uint64_t& value) noexcept {
    if (start) {
        arc.terms[0] = difference;
        arc.order = static_cast<std::uint8_t>(order);
        arc.reached = 0;
        arc.live = true;
    } else {
        if (!arc.live) return FieldStatus::missing_arc;
        if (arc.reached < arc.order) ++arc.reached;
        const std::size_t top = arc.reached;
        std::uint64_t* const terms = arc.terms.data();
        if (top == 3) {
            // Order 3, what compact files use: the sums in registers rather than through memory.
            const std::uint64_t second = terms[2] + difference;
            const std::uint64_t first = terms[1] + second;
            terms[0] += first;
            terms[1] = first;
            terms[2] = second;
            terms[3] = difference;
        } else {
            terms[top] = difference;
            for (std::size_t k = top; k > 0; --k) terms[k - 1] += terms[k];
        }
    }
    value = arc.terms[0];
    return FieldStatus::ok;
}

// Starts, continues or ends an arc from one field of text.
FieldStatus apply_field(Arc& arc, std::string_view field, std::uint64_t& value) noexcept {
    if (field.empty()) {
        arc.live = false;
        return FieldStatus::absent;
    }
    std::string_view number = field;
    bool start = false;
    std::uint32_t order = 0;
    if (field.size() >= 2 && field[1] == '&' && field[0] >= '0' && field[0] <= '9') {
        order = static_cast<std::uint32_t>(field[0] - '0');  // the usual "3&"
        number = field.substr(2);
        start = true;
    } else if (const std::size_t ampersand = field.find('&'); ampersand != std::string_view::npos) {
        const std::optional<std::uint32_t> parsed = read_u32(field.substr(0, ampersand));
        if (!parsed || *parsed > kMaxOrder) return FieldStatus::bad_order;
        order = *parsed;
        number = field.substr(ampersand + 1);
        start = true;
    }
    std::int64_t parsed_value = 0;
    if (!read_difference(number, parsed_value)) return FieldStatus::bad_number;
    return advance_arc(arc, start, order, static_cast<std::uint64_t>(parsed_value), value);
}

// The usual field read where it lies, without finding its end first: an optional one-digit
// order and "&", an optional minus, up to 18 digits, then a blank or the line end. Returns the
// end of the field, or nullptr for anything else, which apply_field then reads.
inline const char* read_usual_field(const char* p, const char* end, bool& start, std::uint32_t& order,
                                    std::uint64_t& difference) noexcept {
    start = false;
    if (end - p >= 2 && p[1] == '&' && static_cast<unsigned char>(p[0] - '0') <= 9) {
        start = true;
        order = static_cast<std::uint32_t>(p[0] - '0');
        p += 2;
    }
    const bool negative = p != end && *p == '-';
    if (negative) ++p;
    const char* const digits = p;
    std::uint64_t magnitude = 0;
    for (; p != end && p - digits < 18; ++p) {
        const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit > 9) break;
        magnitude = magnitude * 10 + digit;
    }
    if (p == digits || (p != end && *p != ' ')) return nullptr;
    difference = negative ? 0 - magnitude : magnitude;
    return p;
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

class Decoder {
public:
    Decoder(std::string_view bytes, Sink& sink) : lines_(bytes), sink_(sink) {}

    Outcome run() {
        if (!read_header()) return finish();
        while (next_epoch()) {
        }
        return finish();
    }

private:
    Outcome finish() { return Outcome{stopped_, std::move(error_)}; }

    bool fail(std::string message) {
        error_ = "line " + std::to_string(line_number_) + " " + std::move(message);
        return false;
    }

    // A sink's false ends decoding without an error.
    bool handed(bool accepted) {
        stopped_ = !accepted;
        return accepted;
    }

    std::string_view next_line() {
        ++line_number_;
        return lines_.next();
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
        if (!handed(sink_.start(flavour_))) return false;
        if (column_range(lines_.peek(), kLabelColumn, kLabelColumn + 20) == kProgramLabel) next_line();
        while (!lines_.at_end()) {
            const std::string_view line = next_line();
            if (!handed(sink_.header_line(line))) return false;
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

    // Reads one epoch; false at the end of the text, on an error (error_ set) or when the sink
    // stopped.
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
        const std::size_t list_at = list_column(flavour_);
        if (epoch_line_.size() < list_at + std::size_t{*count} * 3) {
            return fail("lists fewer satellites than its count");
        }

        // Receiver clock offset: nanoseconds in 1.0, picoseconds in 3.0.
        if (lines_.at_end()) return false;  // cut short: what came before stands
        const std::string_view clock_field = trim(next_line());
        std::uint64_t clock = 0;
        const FieldStatus clock_status = apply_field(clock_, clock_field, clock);
        if (!field_ok(clock_status)) return false;

        match_satellites(list_at, *count);
        observations_.clear();
        std::size_t decoded = 0;
        for (; decoded < current_.size(); ++decoded) {
            if (lines_.at_end()) break;  // cut short: the satellites decoded so far stand
            if (!decode_satellite(decoded, next_line())) return false;
        }
        // The observations are in place now that the buffer no longer grows.
        for (std::size_t i = 0; i < decoded; ++i) {
            listed_[i].observed = std::span<const Observation>(observations_).subspan(held_[i].first, held_[i].count);
        }
        const Epoch epoch{epoch_line_, clock_status == FieldStatus::ok, clock, listed_, decoded};
        if (!handed(sink_.epoch(epoch))) return false;
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
        records_.clear();
        std::uint32_t records = read_u32(count_text).value_or(0);
        for (; records > 0 && !lines_.at_end(); --records) {
            const std::string_view record = next_line();
            records_.push_back(record);
            note_header_line(record, column_range(record, kLabelColumn, kLabelColumn + 20));
        }
        return handed(sink_.event(epoch_line_, records_));
    }

    // Carries each listed satellite's arcs and flags over from the previous epoch; a
    // satellite that was not there starts empty.
    void match_satellites(std::size_t list_at, std::uint32_t count) {
        for (SatelliteState& old : previous_) old.taken = false;
        // The states of the epoch before last are recycled for their buffers.
        current_.resize(count);
        listed_.resize(count);
        held_.resize(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::array<char, 3> id{};
            std::copy_n(epoch_line_.data() + list_at + 3 * std::size_t{i}, 3, id.begin());
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
            listed_[i] = Satellite{id, {}, types_of(id), {}};
        }
    }

    // One data line: the type fields, each ended by a blank, then the flags difference. Only
    // the fields the line holds are kept; the types beyond it are absent.
    bool decode_satellite(std::size_t index, std::string_view line) {
        SatelliteState& satellite = current_[index];
        Satellite& out = listed_[index];
        const std::uint32_t types = out.types;
        const std::size_t first = observations_.size();
        const char* p = line.data();
        const char* const line_end = p + line.size();
        std::uint32_t k = 0;
        for (; k < types && p != line_end; ++k) {
            Observation& observation = observations_.emplace_back();
            if (*p == ' ') {  // an empty field
                ++p;
                if (k < satellite.arcs.size()) satellite.arcs[k].live = false;
                continue;
            }
            if (satellite.arcs.size() <= k) satellite.arcs.resize(k + 1);
            bool start = false;
            std::uint32_t order = 0;
            std::uint64_t difference = 0;
            FieldStatus status = FieldStatus::ok;
            const char* field_end = read_usual_field(p, line_end, start, order, difference);
            if (field_end != nullptr) {
                status = advance_arc(satellite.arcs[k], start, order, difference, observation.raw);
            } else {
                const void* blank = std::memchr(p, ' ', static_cast<std::size_t>(line_end - p));
                field_end = blank != nullptr ? static_cast<const char*>(blank) : line_end;
                status = apply_field(satellite.arcs[k], std::string_view(p, static_cast<std::size_t>(field_end - p)),
                                     observation.raw);
            }
            if (!field_ok(status)) return false;
            observation.present = true;
            p = field_end == line_end ? line_end : field_end + 1;
        }
        const auto position = static_cast<std::size_t>(p - line.data());
        held_[index] = Held{first, k};
        for (; k < types && k < satellite.arcs.size(); ++k) satellite.arcs[k].live = false;
        apply_text_difference(satellite.flags, line.substr(std::min(position, line.size())));
        out.flags = satellite.flags;
        return true;
    }

    LineCursor lines_;
    Sink& sink_;
    std::size_t line_number_ = 0;
    std::string error_;
    bool stopped_ = false;
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
    struct Held {
        std::size_t first = 0;  // into observations_
        std::size_t count = 0;
    };
    std::vector<Satellite> listed_;          // what the sink sees of current_
    std::vector<Held> held_;                 // per listed satellite, its fields in observations_
    std::vector<Observation> observations_;  // this epoch's fields, satellite after satellite
    std::vector<std::string_view> records_;
};

}  // namespace

Outcome decode(std::string_view bytes, Sink& sink) { return Decoder(bytes, sink).run(); }

void trim_trailing_blanks(std::string& out, std::size_t line_start) {
    std::size_t end = out.size();
    while (end > line_start && out[end - 1] == ' ') --end;
    out.resize(end);
}

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

void append_epoch_lines(std::string& out, Flavour flavour, const Epoch& epoch) {
    const std::string_view line = epoch.line;
    if (flavour == Flavour::rinex3) {
        const std::size_t start = out.size();
        out.append(line.substr(0, std::min<std::size_t>(line.size(), 41)));
        if (epoch.has_clock) {
            out.resize(start + 41, ' ');
            append_fixed(out, epoch.clock, 12, 15);
        } else {
            out.resize(std::min(out.size(), start + 35));
            trim_trailing_blanks(out, start);
        }
        out.push_back('\n');
        return;
    }
    // RINEX 2: twelve satellites per line, the clock after the first twelve.
    constexpr std::size_t kPerLine = 12;
    constexpr std::size_t kListColumn = list_column(Flavour::rinex2);
    const std::size_t count = epoch.satellites.size();
    std::size_t start = out.size();
    out.append(line.substr(0, kListColumn));
    out.resize(start + kListColumn, ' ');
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0 && i % kPerLine == 0) {
            if (i == kPerLine && epoch.has_clock) {
                out.resize(start + 68, ' ');
                append_fixed(out, epoch.clock, 9, 12);
            }
            out.push_back('\n');
            start = out.size();
            out.append(kListColumn, ' ');
        }
        out.append(epoch.satellites[i].id.data(), 3);
    }
    if (count <= kPerLine && epoch.has_clock) {
        out.resize(start + 68, ' ');
        append_fixed(out, epoch.clock, 9, 12);
    }
    out.push_back('\n');
}

void append_event_lines(std::string& out, std::string_view line, std::span<const std::string_view> records) {
    const std::size_t start = out.size();
    out.append(line);
    trim_trailing_blanks(out, start);
    out.push_back('\n');
    for (const std::string_view record : records) {
        out.append(record);
        out.push_back('\n');
    }
}

}  // namespace vardoln::crinex
