#include "rinex/obs_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "rinex/bands.hpp"
#include "rinex/ids.hpp"
#include "rinex/numbers.hpp"
#include "rinex/obs_header.hpp"

namespace vardoln {

namespace {

constexpr std::string_view kVersionText = "     3.04";

// The RINEX 2 attribute of a band without one in the renaming table: the civil code on the
// first bands, the pilot (Q) on L5, E5b and E5 as receivers of that era tracked them.
char rinex2_attribute(char band) noexcept {
    return band == '5' || band == '7' || band == '8' ? 'Q' : 'C';
}

void append_right(std::string& out, std::string_view text, std::size_t width) {
    if (text.size() < width) out.append(width - text.size(), ' ');
    out.append(text);
}

template <typename... Args>
void append_format(std::string& out, const char* format, Args... args) {
    std::array<char, 64> buffer{};
    const int written = std::snprintf(buffer.data(), buffer.size(), format, args...);
    if (written > 0)
        out.append(buffer.data(), std::min<std::size_t>(static_cast<std::size_t>(written), buffer.size() - 1));
}

// Text of at most `width` characters closest to the value, for values the fixed form with three
// decimals cannot hold: fewer decimals for large values, the exponent form for larger ones and for
// values so small that three decimals would write a zero (which reads as "not observed").
std::string wide_value_text(double value, std::size_t width) {
    std::array<char, 64> buffer{};
    for (int decimals = 2; decimals >= 1; --decimals) {
        const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                          std::chars_format::fixed, decimals);
        const auto size = static_cast<std::size_t>(result.ptr - buffer.data());
        const std::string_view text(buffer.data(), size);
        if (result.ec == std::errc{} && size <= width && text.find_first_not_of("-0.") != std::string_view::npos)
            return std::string(text);
    }
    for (int precision = 9; precision >= 0; --precision) {
        const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                          std::chars_format::scientific, precision);
        const auto size = static_cast<std::size_t>(result.ptr - buffer.data());
        if (size <= width) return std::string(buffer.data(), size);
    }
    return std::string(width, '9');  // unreachable for doubles: "-1e+308" is 7 characters
}

bool is_zero_text(std::string_view text) noexcept {
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '0' || c == '.' || c == '-'; });
}

// F14.3 with the indicator digits, or 16 blanks for a code the satellite has no value of.
void append_observation(std::string& out, const ObservationValue* value) {
    if (value == nullptr) {
        out.append(16, ' ');
        return;
    }
    std::array<char, 64> buffer{};
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value->value, std::chars_format::fixed, 3);
    const std::string_view fixed(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
    if (result.ec == std::errc{} && fixed.size() <= 14 && !is_zero_text(fixed)) {
        append_right(out, fixed, 14);
    } else {
        // 13 characters at most: a blank keeps the value apart from the indicators before it.
        append_right(out, wide_value_text(value->value, 13), 14);
    }
    out.push_back(value->lli ? static_cast<char>('0' + *value->lli % 10) : ' ');
    out.push_back(value->ssi ? static_cast<char>('0' + *value->ssi % 10) : ' ');
}

std::string fixed_text(double value, int decimals) {
    std::array<char, 400> buffer{};
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc{}) return wide_value_text(value, 14);
    return std::string(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
}

// What the writer makes of the epochs selected: per constellation letter the codes written (header order first, then codes only the records use) and where each of the
// record's codes goes among them.
class Layout {
public:
    static constexpr std::int32_t kNotWritten = -1;

    Layout(const RinexObsData& obs, std::size_t begin, std::size_t end) : obs_(obs) {
        // Header lists first, in header order, so that a file read again keeps its field order.
        for (const ObsTypeList& list : obs.obs_types) {
            if (list.system.size() != 1 || !system_from_letter(list.system.front())) continue;
            for (const std::string& code : list.codes) add_code(list.system.front(), code);
        }
        for (std::size_t e = begin; e < end; ++e) {
            for (const SatelliteObservations& entry : obs.satellites_of(obs.epochs[e])) {
                const char letter = satellite_letter(obs.satellite_id(entry));
                if (!writable_letter(obs.satellite_id(entry))) continue;
                for (const ObservationValue& value : obs.values_of(entry)) slot_of(letter, value.code);
                used_[index(letter)] = true;
            }
        }
    }

    // A satellite is written under its identifier, which must name one of the seven letters and
    // fit the three columns.
    static bool writable_letter(std::string_view id) noexcept {
        return !id.empty() && id.size() <= 3 && system_from_letter(id.front()).has_value();
    }

    // The field of a record code for a letter, or kNotWritten.
    std::int32_t slot_of(char letter, std::uint32_t code) {
        std::vector<std::int32_t>& slots = slots_[index(letter)];
        if (slots.size() < obs_.codes.size()) slots.resize(obs_.codes.size(), kUnknown);
        if (code >= slots.size()) return kNotWritten;
        if (slots[code] == kUnknown) slots[code] = add_code(letter, obs_.codes[code]);
        return slots[code];
    }

    const std::vector<std::string>& codes(char letter) const noexcept { return codes_[index(letter)]; }
    bool used(char letter) const noexcept { return used_[index(letter)]; }

private:
    static constexpr std::int32_t kUnknown = -2;
    static std::size_t index(char letter) noexcept { return static_cast<unsigned char>(letter) & 0x7F; }

    std::int32_t add_code(char letter, std::string_view record_code) {
        const std::string code = rinex3_output_code(letter, record_code, obs_.version);
        if (code.empty()) return kNotWritten;
        std::vector<std::string>& list = codes_[index(letter)];
        const auto found = std::find(list.begin(), list.end(), code);
        if (found != list.end()) return static_cast<std::int32_t>(found - list.begin());
        list.push_back(code);
        return static_cast<std::int32_t>(list.size() - 1);
    }

    const RinexObsData& obs_;
    std::array<std::vector<std::string>, 128> codes_{};
    std::array<std::vector<std::int32_t>, 128> slots_{};
    std::array<bool, 128> used_{};
};

constexpr std::array<char, 7> kLetterOrder{'G', 'R', 'E', 'C', 'J', 'I', 'S'};

// The time system of the epochs when the caller gives none: each constellation's own when only
// one is written, as files of one system are dated, GPS time otherwise.
std::string_view time_system(const Layout& layout, const RinexWriteSettings& settings) {
    if (!settings.time_system.empty()) return std::string_view(settings.time_system).substr(0, 3);
    char only = 0;
    for (const char letter : kLetterOrder) {
        if (!layout.used(letter)) continue;
        if (only != 0) return "GPS";
        only = letter;
    }
    switch (only) {
        case 'R': return "GLO";
        case 'E': return "GAL";
        case 'C': return "BDT";
        case 'J': return "QZS";
        case 'I': return "IRN";
        default: return "GPS";
    }
}

void append_obs_types(std::string& out, const Layout& layout) {
    for (const char letter : kLetterOrder) {
        const std::vector<std::string>& codes = layout.codes(letter);
        if (codes.empty()) continue;
        // columns 0: letter, 3-5: count, then 13 codes of 4 columns per line
        std::string line(1, letter);
        line.append(2, ' ');
        append_format(line, "%3zu", codes.size());
        for (std::size_t i = 0; i < codes.size(); ++i) {
            if (i > 0 && i % 13 == 0) {
                append_header_line(out, line, "SYS / # / OBS TYPES");
                line.assign(6, ' ');
            }
            line.push_back(' ');
            line.append(codes[i]);
        }
        append_header_line(out, line, "SYS / # / OBS TYPES");
    }
}

// "R01  1 " per slot, eight to a line after the count; a line never passes column 59 even for
// numbers too wide for their columns, so that the label stays in place.
void append_glonass_slots(std::string& out, const RinexObsData& obs) {
    std::vector<std::string> entries;
    for (const auto& [slot, channel] : obs.glonass_slots) {
        const std::optional<std::uint32_t> number = read_u32(slot);
        if (!number) continue;
        std::string entry;
        append_format(entry, "R%02u %2d ", *number, channel);
        entries.push_back(std::move(entry));
    }
    std::string line;
    append_format(line, "%3zu ", entries.size());
    std::size_t on_line = 0;
    for (const std::string& entry : entries) {
        if (on_line == 8 || line.size() + entry.size() > 60) {
            append_header_line(out, line, "GLONASS SLOT / FRQ #");
            line.assign(4, ' ');
            on_line = 0;
        }
        line.append(entry);
        ++on_line;
    }
    append_header_line(out, line, "GLONASS SLOT / FRQ #");
}

void append_header(std::string& out, const RinexObsData& obs, const RinexWriteSettings& settings,
                   const Layout& layout, const ObservationEpoch* first) {
    std::size_t systems = 0;
    char only = 'M';
    for (const char letter : kLetterOrder) {
        if (layout.codes(letter).empty()) continue;
        ++systems;
        only = letter;
    }
    std::string line(kVersionText);
    line.append(11, ' ');
    line.append("OBSERVATION DATA    ");
    line.push_back(systems == 1 ? only : 'M');
    append_header_line(out, line, "RINEX VERSION / TYPE");

    auto padded = [](std::string_view text, std::size_t width) {
        std::string field(text.substr(0, width));
        field.resize(width, ' ');
        return field;
    };
    append_header_line(out,
                       padded(settings.program, 20) + padded(settings.run_by, 20) +
                           padded(settings.creation_date, 20),
                       "PGM / RUN BY / DATE");
    append_header_line(out, obs.marker_name, "MARKER NAME");
    if (!obs.marker_number.empty()) append_header_line(out, obs.marker_number, "MARKER NUMBER");
    append_header_line(out, "", "OBSERVER / AGENCY");
    append_header_line(out, padded("", 20) + padded(obs.receiver_type, 20) + padded(obs.receiver_version, 20),
                       "REC # / TYPE / VERS");
    append_header_line(out, padded("", 20) + padded(obs.antenna_type, 20), "ANT # / TYPE");
    if (obs.approx_position) {
        line.clear();
        for (const double coordinate : *obs.approx_position) {
            const std::string text = fixed_text(coordinate, 4);
            // A coordinate too wide for F14.4 keeps a blank before it, so the three stay apart.
            append_right(line, text, text.size() < 14 ? 14 : text.size() + 1);
        }
        append_header_line(out, line, "APPROX POSITION XYZ");
    }
    append_header_line(out, "        0.0000        0.0000        0.0000", "ANTENNA: DELTA H/E/N");
    append_obs_types(out, layout);
    if (obs.interval > 0.0) {
        line.clear();
        append_right(line, fixed_text(obs.interval, 3), 10);
        append_header_line(out, line, "INTERVAL");
    }
    if (first != nullptr) {
        const EpochTime& t = first->time;
        line.clear();
        append_format(line, "%6d%6u%6u%6u%6u", t.year, t.month, t.day, t.hour, t.minute);
        append_right(line, fixed_text(t.second, 7), 13);
        line.append(5, ' ');
        line.append(time_system(layout, settings));
        append_header_line(out, line, "TIME OF FIRST OBS");
    }
    if (!obs.glonass_slots.empty() || !layout.codes('R').empty()) append_glonass_slots(out, obs);
    // The code-phase biases are unknown here; a blank line says so.
    if (!layout.codes('R').empty()) append_header_line(out, "", "GLONASS COD/PHS/BIS");
    append_header_line(out, "", "END OF HEADER");
}

// "> 2024 01 15 06 30  0.0000000  0 12": the epoch, its flag and the satellites that follow.
void append_epoch_line(std::string& out, const ObservationEpoch& epoch, std::size_t satellites) {
    const EpochTime& t = epoch.time;
    append_format(out, "> %4d %02u %02u %02u %02u", t.year, t.month, t.day, t.hour, t.minute);
    append_right(out, fixed_text(t.second, 7), 11);
    // The count has three columns; a reader takes "0104" for flag 0 and 104 satellites.
    append_format(out, "  %u%3zu\n", static_cast<unsigned>(epoch.flag % 10), std::min<std::size_t>(satellites, 999));
}

}  // namespace

void append_header_line(std::string& out, std::string_view data, std::string_view label) {
    const std::size_t start = out.size();
    out.append(data.substr(0, 60));
    for (std::size_t i = start; i < out.size(); ++i) {
        if (static_cast<unsigned char>(out[i]) < 0x20 || out[i] == 0x7F) out[i] = ' ';
    }
    out.append(60 - (out.size() - start), ' ');
    out.append(label);
    out.push_back('\n');
}

std::string rinex3_output_code(char letter, std::string_view code, double source_version) {
    std::string out(rinex3_code_of(code));
    if (out.size() == 2) out.push_back(rinex2_attribute(out[1]));
    if (out.size() != 3) return {};
    // BeiDou B1I was band 1 in the files of 3.02 and before (and RINEX 2); 3.04 calls it band 2.
    if (letter == 'C' && out[1] == '1' && beidou_band1_is_b1i(source_version)) {
        out[1] = '2';
        if (out[2] != 'I' && out[2] != 'Q' && out[2] != 'X') out[2] = 'I';
    }
    return out;
}

std::string write_rinex_observations(const RinexObsData& obs, const RinexWriteSettings& settings) {
    const std::size_t count = obs.epochs.size();
    const std::size_t begin = std::min(settings.first_epoch.value_or(0), count);
    const std::size_t end = settings.last_epoch ? std::min(*settings.last_epoch, count - 1) + 1 : count;
    const std::size_t stop = count == 0 ? 0 : std::max(begin, end);

    Layout layout(obs, begin, stop);
    std::string out;
    // Most values take their 16 columns once; the estimate spares the copies of a growing text.
    out.reserve(4096 + 16 * obs.values.size() * (stop - begin) / std::max<std::size_t>(count, 1));

    // The first epoch that has something to write dates the file.
    const ObservationEpoch* first = nullptr;
    for (std::size_t e = begin; e < stop && first == nullptr; ++e) {
        for (const SatelliteObservations& entry : obs.satellites_of(obs.epochs[e])) {
            if (Layout::writable_letter(obs.satellite_id(entry))) {
                first = &obs.epochs[e];
                break;
            }
        }
    }
    append_header(out, obs, settings, layout, first);

    std::vector<const ObservationValue*> fields;
    std::string block;
    for (std::size_t e = begin; e < stop; ++e) {
        const ObservationEpoch& epoch = obs.epochs[e];
        block.clear();
        std::size_t written = 0;
        for (const SatelliteObservations& entry : obs.satellites_of(epoch)) {
            const std::string& id = obs.satellite_id(entry);
            if (!Layout::writable_letter(id)) continue;
            const char letter = id.front();
            fields.assign(layout.codes(letter).size(), nullptr);
            std::size_t last = 0;
            for (const ObservationValue& value : obs.values_of(entry)) {
                const std::int32_t slot = layout.slot_of(letter, value.code);
                if (slot < 0) continue;
                // Two record codes of one written name: the later wins, as a reader keeps it.
                fields[static_cast<std::size_t>(slot)] = &value;
                last = std::max(last, static_cast<std::size_t>(slot) + 1);
            }
            if (last == 0) continue;
            block.append(id);
            block.append(3 - id.size(), ' ');
            for (std::size_t k = 0; k < last; ++k) append_observation(block, fields[k]);
            while (block.back() == ' ') block.pop_back();
            block.push_back('\n');
            ++written;
        }
        if (written == 0) continue;
        append_epoch_line(out, epoch, written);
        out.append(block);
    }
    return out;
}

}  // namespace vardoln
