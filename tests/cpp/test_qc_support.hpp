// Synthetic recordings for the quality-control tests: code and carrier made from a known
// geometry, ionosphere and code multipath, written as RINEX 2 or 3 text and read back by the
// observation reader; and the shared day files with their navigation data.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "navigation/nav_data.hpp"
#include "qc/qc.hpp"
#include "qc/signals.hpp"
#include "rinex/obs_data.hpp"
#include "test_qc_day_files.hpp"

namespace vardoln::qc_testing {

constexpr double kPi = 3.14159265358979323846;

// One code and phase of a signal, at its carrier frequency.
struct SyntheticSignal {
    std::string code;   // as written in the header: "C1C" (RINEX 3) or "P1" (RINEX 2)
    std::string phase;  // "L1C" or "L1"
    double frequency_hz;
    double multipath_rms_m = 0.0;  // added to the code as a sine of period 20 epochs
};

struct SyntheticSatellite {
    std::string id;  // "G05"
    std::vector<SyntheticSignal> signals;
    std::size_t geometry = 0;  // which pass over the sky (entries of one satellite share it)
    std::size_t first_epoch = 0;
    std::size_t epochs = 600;
    // A jump of whole cycles on the first signal's phase from this epoch on.
    std::optional<std::size_t> slip_epoch = std::nullopt;
    double slip_cycles = 5.0;
    std::optional<std::size_t> lost_lock_epoch = std::nullopt;  // loss-of-lock bit 0 on the first phase there
    int phase_lli = 0;                           // written on every other phase (4: bit 2 only)
};

struct SyntheticRecording {
    double version = 3.04;
    double interval_s = 30.0;
    std::vector<SyntheticSatellite> satellites;
    std::string glonass_slots;  // data of a GLONASS SLOT / FRQ # line, or empty
    std::optional<std::size_t> power_failure_epoch = std::nullopt;  // written with epoch flag 1
};

inline std::string padded(std::string text, std::size_t width) {
    text.resize(std::max(width, text.size()), ' ');
    return text;
}

inline std::string header_line(const std::string& data, const char* label) { return padded(data, 60) + label + "\n"; }

inline std::string number(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// Range, ionosphere and multipath of one satellite at epoch k, in metres; smooth enough that
// no phase-slip rule fires, with a multipath sine whose RMS over whole periods is exact.
struct Geometry {
    double range_m;
    double iono_l1_m;  // first-order delay at 1575.42 MHz
    double multipath_unit;  // sqrt(2) sin(2 pi k / 20): RMS 1 over 20 epochs
};

inline Geometry geometry_at(std::size_t satellite, std::size_t k, double interval_s) {
    const double t = static_cast<double>(k) * interval_s;
    const double phase = static_cast<double>(satellite) * 0.7;
    return {22.0e6 + 3.0e6 * std::sin(2.0 * kPi * t / 43200.0 + phase),
            5.0 + 3.0 * std::sin(2.0 * kPi * t / 20000.0 + phase),
            std::sqrt(2.0) * std::sin(2.0 * kPi * static_cast<double>(k) / 20.0)};
}

// Values of one satellite at epoch k, code then phase of every signal.
struct Field {
    std::string code;
    double value;
    int lli;
};

inline std::vector<Field> satellite_fields(const SyntheticSatellite& sat, std::size_t k, double interval_s) {
    const Geometry g = geometry_at(sat.geometry, k, interval_s);
    std::vector<Field> fields;
    for (std::size_t s = 0; s < sat.signals.size(); ++s) {
        const SyntheticSignal& signal = sat.signals[s];
        const double scale = 1575.42e6 / signal.frequency_hz;
        const double iono_m = g.iono_l1_m * scale * scale;
        const double lambda = kSpeedOfLight / signal.frequency_hz;
        double cycles = (g.range_m - iono_m) / lambda + 1000.0 * static_cast<double>(s + 1);
        int lli = sat.phase_lli;
        if (s == 0) {
            if (sat.slip_epoch && k >= *sat.slip_epoch) cycles += sat.slip_cycles;
            if (sat.lost_lock_epoch && k == *sat.lost_lock_epoch) lli |= 1;
        }
        fields.push_back({signal.code, g.range_m + iono_m + signal.multipath_rms_m * g.multipath_unit, 0});
        fields.push_back({signal.phase, cycles, lli});
    }
    return fields;
}

// The codes of one letter in the header: every code of its satellites, in order of first use.
inline std::vector<std::string> header_codes(const SyntheticRecording& recording, char letter) {
    std::vector<std::string> codes;
    for (const auto& sat : recording.satellites) {
        if (sat.id[0] != letter) continue;
        for (const auto& signal : sat.signals) {
            for (const std::string& code : {signal.code, signal.phase}) {
                if (std::find(codes.begin(), codes.end(), code) == codes.end()) codes.push_back(code);
            }
        }
    }
    return codes;
}

// The satellite's fields in header order, blank where it has no such code.
inline std::vector<std::optional<Field>> in_header_order(const std::vector<Field>& fields,
                                                         const std::vector<std::string>& codes) {
    std::vector<std::optional<Field>> ordered;
    for (const std::string& code : codes) {
        const auto found =
            std::find_if(fields.begin(), fields.end(), [&](const Field& field) { return field.code == code; });
        ordered.push_back(found == fields.end() ? std::nullopt : std::optional<Field>(*found));
    }
    return ordered;
}

inline std::string value_field(const std::optional<Field>& field) {
    if (!field) return std::string(16, ' ');
    std::string text = number("%14.3f", field->value);
    text += field->lli > 0 ? static_cast<char>('0' + field->lli) : ' ';
    text += ' ';
    return text;
}

inline std::size_t last_epoch(const SyntheticRecording& recording) {
    std::size_t last = 0;
    for (const auto& sat : recording.satellites) last = std::max(last, sat.first_epoch + sat.epochs);
    return last;
}

inline bool tracked(const SyntheticSatellite& sat, std::size_t k) {
    return k >= sat.first_epoch && k < sat.first_epoch + sat.epochs;
}

// The epoch line of epoch k (2024-01-15 00:00:00 plus k intervals) announcing `count` satellites;
// a RINEX 2 line still lacks its satellite list.
inline std::string epoch_line(std::size_t k, double interval_s, int count, bool rinex2, int flag = 0) {
    const double t = static_cast<double>(k) * interval_s;
    const int day = 15 + static_cast<int>(t / 86400.0);
    const double of_day = std::fmod(t, 86400.0);
    const int hour = static_cast<int>(of_day / 3600.0);
    const int minute = static_cast<int>(std::fmod(of_day, 3600.0) / 60.0);
    const double second = std::fmod(of_day, 60.0);
    char line[80];
    if (rinex2) {
        std::snprintf(line, sizeof line, " 24  1 %2d %2d %2d%11.7f  %d%3d", day, hour, minute, second, flag, count);
    } else {
        std::snprintf(line, sizeof line, "> 2024 01 %02d %02d %02d %10.7f  %d %2d\n", day, hour, minute, second, flag,
                      count);
    }
    return line;
}

inline std::string rinex3_text(const SyntheticRecording& recording) {
    std::string text = header_line(number("%9.2f", recording.version) + "           OBSERVATION DATA    M (MIXED)",
                                   "RINEX VERSION / TYPE");
    text += header_line("  3582105.2910   532589.7313  5232754.8054", "APPROX POSITION XYZ");
    std::string letters;
    for (const auto& sat : recording.satellites) {
        if (letters.find(sat.id[0]) == std::string::npos) letters += sat.id[0];
    }
    for (const char letter : letters) {
        const auto codes = header_codes(recording, letter);
        std::string data = std::string(1, letter) + number("%5.0f", static_cast<double>(codes.size()));
        for (const std::string& code : codes) data += " " + code;
        text += header_line(data, "SYS / # / OBS TYPES");
    }
    if (!recording.glonass_slots.empty()) text += header_line(recording.glonass_slots, "GLONASS SLOT / FRQ #");
    text += header_line(number("%10.3f", recording.interval_s), "INTERVAL");
    text += header_line("", "END OF HEADER");
    for (std::size_t k = 0; k < last_epoch(recording); ++k) {
        std::string lines;
        int count = 0;
        for (const SyntheticSatellite& sat : recording.satellites) {
            if (!tracked(sat, k)) continue;
            ++count;
            lines += sat.id;
            const auto fields = satellite_fields(sat, k, recording.interval_s);
            for (const auto& field : in_header_order(fields, header_codes(recording, sat.id[0])))
                lines += value_field(field);
            lines += '\n';
        }
        const int flag = recording.power_failure_epoch == k ? 1 : 0;
        if (count > 0) text += epoch_line(k, recording.interval_s, count, false, flag) + lines;
    }
    return text;
}

// RINEX 2: one code list for every satellite (GPS only here, at most 9 codes), five fields a line.
inline std::string rinex2_text(const SyntheticRecording& recording) {
    const auto codes = header_codes(recording, 'G');
    std::string text = header_line(number("%9.2f", recording.version) + "           OBSERVATION DATA    G (GPS)",
                                   "RINEX VERSION / TYPE");
    text += header_line("  3582105.2910   532589.7313  5232754.8054", "APPROX POSITION XYZ");
    std::string types = number("%6.0f", static_cast<double>(codes.size()));
    for (const std::string& code : codes) types += "    " + code;
    text += header_line(types, "# / TYPES OF OBSERV");
    text += header_line(number("%10.3f", recording.interval_s), "INTERVAL");
    text += header_line("", "END OF HEADER");
    for (std::size_t k = 0; k < last_epoch(recording); ++k) {
        std::string ids;
        std::string lines;
        int count = 0;
        for (const SyntheticSatellite& sat : recording.satellites) {
            if (!tracked(sat, k)) continue;
            ++count;
            ids += sat.id;
            const auto fields = in_header_order(satellite_fields(sat, k, recording.interval_s), codes);
            for (std::size_t f = 0; f < fields.size(); ++f) {
                lines += value_field(fields[f]);
                if (f % 5 == 4 || f + 1 == fields.size()) lines += '\n';
            }
        }
        if (count > 0) text += epoch_line(k, recording.interval_s, count, true) + ids + "\n" + lines;
    }
    return text;
}

inline RinexObsData parse(const std::string& text) {
    auto parsed = parse_observation_file(text, "synthetic.rnx");
    if (auto* data = std::get_if<RinexObsData>(&parsed)) return std::move(*data);
    return {};
}

inline RinexObsData synthetic(const SyntheticRecording& recording) {
    return parse(recording.version < 3.0 ? rinex2_text(recording) : rinex3_text(recording));
}

// GPS L1 C/A with 0.3 m of multipath, clean L2 P(Y) (semi-codeless W).
inline SyntheticSatellite gps_satellite(const std::string& id, double multipath_rms_m = 0.3) {
    return {id,
            {{"C1C", "L1C", 1575.42e6, multipath_rms_m}, {"C2W", "L2W", 1227.60e6, 0.0}},
            static_cast<std::size_t>(std::stoi(id.substr(1)))};
}

inline std::uint8_t pair_index(char system, std::string_view name) {
    const auto pairs = signal_pairs();
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        if (pairs[p].system == system && pairs[p].name == name) return static_cast<std::uint8_t>(p);
    }
    ADD_FAILURE() << "no pair " << system << ' ' << name;
    return 0;
}

inline const SatellitePairQc* find_row(const QcResult& result, std::string_view satellite, std::uint8_t pair) {
    for (const auto& row : result.rows) {
        if (row.satellite == satellite && row.pair == pair) return &row;
    }
    return nullptr;
}

inline const PairSummary* find_summary(const QcResult& result, std::uint8_t pair) {
    for (const auto& summary : result.summaries) {
        if (summary.pair == pair) return &summary;
    }
    return nullptr;
}

}  // namespace vardoln::qc_testing
