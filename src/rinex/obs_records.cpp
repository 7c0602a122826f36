#include "rinex/obs_records.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "rinex/epoch_line.hpp"
#include "rinex/epoch_time.hpp"
#include "rinex/ids.hpp"
#include "rinex/numbers.hpp"
#include "rinex/record_builder.hpp"

namespace vardoln {

namespace {

// [sign]digits.ddd (the integer part may be empty): the digits form an integer N below 2^53
// (at most 15 digits), and N / 1000.0 is then the correctly rounded value of the decimal text,
// the same double a general reader gives.
inline bool read_three_decimals(std::string_view text, double& out) noexcept {
    const std::size_t size = text.size();
    if (size < 4 || size > 16 || text[size - 4] != '.') return false;
    const char* p = text.data();
    const char* point = p + size - 4;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    std::uint64_t digits = 0;
    for (; p < point; ++p) {
        const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit > 9) return false;
        digits = digits * 10 + digit;
    }
    for (std::size_t i = 1; i <= 3; ++i) {
        const unsigned digit = static_cast<unsigned char>(point[i]) - unsigned{'0'};
        if (digit > 9) return false;
        digits = digits * 10 + digit;
    }
    const double value = static_cast<double>(digits) / 1000.0;
    out = negative ? -value : value;
    return true;
}

ShortId short_id(std::string_view text) noexcept {
    ShortId id;
    id.size = static_cast<std::uint8_t>(std::min<std::size_t>(text.size(), 3));
    std::copy_n(text.data(), id.size, id.text.data());
    return id;
}

// The usual 14-column field: a value right-aligned with its point in column 10 and three
// decimals. Reads its digits straight from the columns as an integer count of thousandths (so
// a zero is seen without waiting for a division); false sends the field to the general path.
inline bool read_aligned_field(const char* field, Thousandths& out) noexcept {
    if (field[10] != '.') return false;
    std::size_t i = 0;
    while (i < 10 && is_space(field[i])) ++i;
    bool negative = false;
    if (i < 10 && (field[i] == '-' || field[i] == '+')) negative = field[i++] == '-';
    std::uint64_t digits = 0;
    for (; i < 10; ++i) {
        const unsigned digit = static_cast<unsigned char>(field[i]) - unsigned{'0'};
        if (digit > 9) return false;
        digits = digits * 10 + digit;
    }
    for (i = 11; i < 14; ++i) {
        const unsigned digit = static_cast<unsigned char>(field[i]) - unsigned{'0'};
        if (digit > 9) return false;
        digits = digits * 10 + digit;
    }
    out = Thousandths{digits, negative};
    return true;
}

}  // namespace

// One RINEX 3 satellite line: identifier in columns 0-2, then 16 columns per code (14 for the
// value, one each for the loss-of-lock and signal-strength indicators).
void read_rinex3_satellite_line(std::string_view line, RecordBuilder& builder) {
    const std::string_view id = trim(line.substr(0, 3));
    const CodePlan* plan = builder.plan_for(satellite_letter(id));
    if (plan == nullptr) return;
    const std::string_view data = line.substr(3);
    const std::size_t fields = std::min(plan->codes.size(), (data.size() + 15) / 16);
    const std::uint32_t start = builder.begin_satellite();
    for (std::size_t k = 0; k < fields; ++k) {
        const std::size_t begin = 16 * k;
        double value = 0.0;
        Thousandths aligned;
        if (data.size() - begin >= 14 && read_aligned_field(data.data() + begin, aligned)) {
            if (aligned.magnitude == 0) continue;
            value = aligned.value();
        } else {
            const std::string_view field = trim(data.substr(begin, 14));
            if (field.empty()) continue;
            const std::optional<double> general = read_observation_value(field);
            if (!general || *general == 0.0) continue;
            value = *general;
        }
        builder.add_value(*plan, k, start, value, indicator_at(data, begin + 14), indicator_at(data, begin + 15));
    }
    builder.end_satellite(id, start);
}

std::optional<EpochHeader> read_rinex2_epoch_line(std::string_view line) noexcept {
    // A line shorter than 32 characters lacks the count (columns 29-31) or cuts it short.
    if (line.size() < 32) return std::nullopt;
    const auto year = read_i32(column_field(line, 1, 2));
    const auto month = read_u32(column_field(line, 4, 5));
    const auto day = read_u32(column_field(line, 7, 8));
    const auto hour = read_u32(column_field(line, 10, 11));
    const auto minute = read_u32(column_field(line, 13, 14));
    const auto second = read_float(column_field(line, 15, 25));
    const auto count = read_u32(column_field(line, 29, 31));
    if (!year || !month || !day || !hour || !minute || !second || !count || *count == 0) return std::nullopt;
    EpochHeader epoch;
    epoch.time = EpochTime{expand_two_digit_year(*year), *month, *day, *hour, *minute, *second};
    epoch.flag = read_u8(column_field(line, 26, 28)).value_or(0);
    epoch.satellite_count = *count;
    return epoch;
}

// Up to 12 three-column satellite fields from column 32; blank and missing fields count toward
// the announced number without naming a satellite.
std::uint32_t read_rinex2_satellite_fields(std::string_view line, std::uint32_t remaining, std::vector<ShortId>& ids) {
    const std::uint32_t taken = std::min<std::uint32_t>(remaining, 12);
    for (std::uint32_t j = 0; j < taken; ++j) {
        const std::string_view field = column_range(line, 32 + 3 * j, 35 + 3 * j);
        if (field.empty()) continue;
        if (field.size() == 3) {
            ids.push_back(short_id(field));
        } else {
            // RINEX 2 lets GPS numbers stand without their letter.
            const std::string gps = rinex2_satellite_id(field);
            ids.push_back(short_id(gps));
        }
    }
    return remaining - taken;
}

namespace {

// Every stored value took at least 16 columns of text (RINEX 2 line ends aside), so the rest of
// the text bounds the value count. Reserving it spares the copies of a growing vector; pages
// that stay unused are never touched and cost no memory.
void reserve_values(const LineCursor& lines, RinexObsData& data) {
    data.values.reserve(lines.remaining() / 16 + 16);
}

}  // namespace

std::optional<double> read_observation_value(std::string_view text) noexcept {
    double value = 0.0;
    if (read_three_decimals(text, value)) return value;
    return read_float(text);
}

void read_rinex3_records(LineCursor& lines, RinexObsData& data) {
    RecordBuilder builder(data);
    reserve_values(lines, data);
    read_rinex3_records(lines, builder);
}

void read_rinex3_records(LineCursor& lines, RecordBuilder& builder) {
    while (!lines.at_end()) {
        const std::string_view line = lines.next();
        if (line.empty() || line.front() != '>') continue;
        const std::optional<EpochHeader> epoch = read_rinex3_epoch_line(line);
        if (!epoch) continue;
        builder.begin_epoch();
        // The announced count may be wrong: a block also ends at an empty line or the next ">".
        // Only the end of the text before the count is reached cuts the epoch short.
        std::uint32_t consumed = 0;
        for (; consumed < epoch->satellite_count && !lines.at_end(); ++consumed) {
            const std::string_view satellite_line = lines.peek();
            if (satellite_line.empty() || satellite_line.front() == '>') break;
            lines.advance();
            if (satellite_line.size() >= 3) read_rinex3_satellite_line(satellite_line, builder);
        }
        if (consumed < epoch->satellite_count && lines.at_end()) builder.mark_cut_epoch(epoch->time);
        builder.end_epoch(epoch->time, epoch->flag);
    }
}

void read_rinex2_records(LineCursor& lines, RinexObsData& data) {
    RecordBuilder builder(data);
    reserve_values(lines, data);
    const CodePlan* plan = builder.plan_for('G');
    const std::size_t types = plan == nullptr ? 0 : plan->codes.size();
    const std::size_t lines_per_satellite = (types + 4) / 5;
    std::vector<ShortId> ids;
    while (!lines.at_end()) {
        const std::string_view epoch_line = lines.next();
        const std::optional<EpochHeader> epoch = read_rinex2_epoch_line(epoch_line);
        if (!epoch) continue;
        // Satellite list: 12 per line from column 32, continuing on the following lines. The
        // loop runs per line, so an absurd announced count costs no more than the text holds.
        ids.clear();
        std::uint32_t remaining = read_rinex2_satellite_fields(epoch_line, epoch->satellite_count, ids);
        while (remaining > 0 && !lines.at_end()) remaining = read_rinex2_satellite_fields(lines.next(), remaining, ids);

        // Observation lines: each named satellite owns (t + 4) / 5 lines of five 16-column fields.
        // The text ending inside the list, or before a listed satellite's first line, cuts the
        // epoch short. The last satellite's last lines may be missing without that: writers and
        // editors drop blank lines at the end of a file, and those hold nothing.
        builder.begin_epoch();
        bool cut = remaining > 0;
        for (const ShortId& id : ids) {
            const std::uint32_t start = builder.begin_satellite();
            if (lines_per_satellite > 0 && lines.at_end()) cut = true;
            for (std::size_t l = 0; l < lines_per_satellite && !lines.at_end(); ++l) {
                const std::string_view line = lines.next();
                for (std::size_t f = 0; f < 5; ++f) {
                    const std::size_t code = 5 * l + f;
                    const std::size_t begin = 16 * f;
                    if (code >= types || begin >= line.size()) break;
                    const std::string_view field = trim(line.substr(begin, 14));
                    if (field.empty()) continue;
                    const std::optional<double> value = read_observation_value(field);
                    if (value && *value != 0.0) {
                        builder.add_value(*plan, code, start, *value, indicator_at(line, begin + 14),
                                          indicator_at(line, begin + 15));
                    }
                }
            }
            builder.end_satellite(id.view(), start);
        }
        if (cut) builder.mark_cut_epoch(epoch->time);
        builder.end_epoch(epoch->time, epoch->flag);
    }
}

}  // namespace vardoln
