// Builders for RINEX text with fields at exact columns, and lookups into a parsed record.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "rinex/obs_data.hpp"

namespace vardoln::testing {

// A line assembled from fields placed at given columns, blanks in between.
class Line {
public:
    Line& at(std::size_t column, std::string_view field) {
        if (text_.size() < column + field.size()) text_.resize(column + field.size(), ' ');
        text_.replace(column, field.size(), field);
        return *this;
    }
    // Blank-padded to a width (never cut).
    Line& width(std::size_t columns) {
        if (text_.size() < columns) text_.resize(columns, ' ');
        return *this;
    }
    operator std::string() const { return text_; }
    const std::string& str() const { return text_; }

private:
    std::string text_;
};

// A header line: data in columns 0-59, the label from column 60.
inline std::string header_line(std::string_view data, std::string_view label) {
    return Line().at(0, data).at(60, label);
}

inline std::string version_line(std::string_view version) {
    return header_line(Line().at(5, version).at(20, "OBSERVATION DATA").at(40, "M (MIXED)").str(),
                       "RINEX VERSION / TYPE");
}

inline std::string end_of_header() { return header_line("", "END OF HEADER"); }

// One RINEX 3 observation: the value right-aligned in 14 columns, then the two indicators.
inline std::string field3(std::string_view value, char lli = ' ', char ssi = ' ') {
    std::string field(14 - std::min<std::size_t>(value.size(), 14), ' ');
    field += value;
    field += lli;
    field += ssi;
    return field;
}

// RINEX 2 observation fields are the same 16 columns.
inline std::string field2(std::string_view value) { return field3(value); }

inline std::string join_lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

inline std::string join_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

inline RinexObsData parse_ok(std::string_view text, std::string_view file_name = "test.rnx") {
    auto result = parse_observation_file(text, file_name);
    if (auto* error = std::get_if<ParseError>(&result)) {
        ADD_FAILURE() << "unexpected error: " << error->message;
        return {};
    }
    return std::get<RinexObsData>(std::move(result));
}

inline std::vector<std::string> satellites_in(const RinexObsData& data, std::size_t epoch) {
    std::vector<std::string> ids;
    for (const SatelliteObservations& entry : data.satellites_of(data.epochs.at(epoch)))
        ids.push_back(data.satellite_id(entry));
    return ids;
}

inline const ObservationValue* find_value(const RinexObsData& data, std::size_t epoch, std::string_view satellite,
                                          std::string_view code) {
    for (const SatelliteObservations& entry : data.satellites_of(data.epochs.at(epoch))) {
        if (data.satellite_id(entry) != satellite) continue;
        for (const ObservationValue& value : data.values_of(entry))
            if (data.code_of(value) == code) return &value;
    }
    return nullptr;
}

inline std::size_t value_count(const RinexObsData& data, std::size_t epoch, std::string_view satellite) {
    for (const SatelliteObservations& entry : data.satellites_of(data.epochs.at(epoch)))
        if (data.satellite_id(entry) == satellite) return entry.value_count;
    return 0;
}

}  // namespace vardoln::testing
