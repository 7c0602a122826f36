#include "cn0/json_export.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace vardoln {

namespace {

// Control bytes other than the five with a letter escape go out as \u00XX, lower-case hex.
[[gnu::cold]] void append_escape(std::string& out, unsigned char c) {
    switch (c) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\b': out += "\\b"; return;
        case '\t': out += "\\t"; return;
        case '\n': out += "\\n"; return;
        case '\f': out += "\\f"; return;
        case '\r': out += "\\r"; return;
        default: break;
    }
    constexpr char hex[] = "0123456789abcdef";
    const char escape[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0x0f]};
    out.append(escape, sizeof escape);
}

// Bytes that need no escape are copied in runs; non-ASCII bytes and '/' pass unchanged.
void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.data() + run_start, i - run_start);
        append_escape(out, c);
        run_start = i + 1;
    }
    out.append(text.data() + run_start, text.size() - run_start);
    out += '"';
}

void append_count(std::string& out, std::uint64_t value) {
    char buffer[20];  // 2^64 - 1 has 20 digits
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// Writes separators, line breaks and indentation; the value writers below only write values.
// The layout is a template parameter so that the compact form carries no layout branches.
template <bool Pretty>
class JsonWriter {
public:
    explicit JsonWriter(std::string& out) noexcept : out_(out) {}

    std::string& out() noexcept { return out_; }

    void open(char bracket) {
        out_ += bracket;
        ++depth_;
        first_ = true;
    }

    // An empty container closes on the line that opened it: {} or [].
    void close(char bracket) {
        --depth_;
        if constexpr (Pretty) {
            if (!first_) new_line();
        }
        out_ += bracket;
        first_ = false;
    }

    // Member names are fixed lower-case identifiers and need no escaping.
    void member(std::string_view name) {
        next_entry();
        out_ += '"';
        out_ += name;
        out_ += Pretty ? "\": " : "\":";
    }

    // Map keys come from the data and are escaped like any other text.
    void key(std::string_view name) {
        next_entry();
        append_json_string(out_, name);
        out_ += Pretty ? ": " : ":";
    }

    void element() { next_entry(); }

private:
    void next_entry() {
        if (!first_) out_ += ',';
        first_ = false;
        if constexpr (Pretty) new_line();
    }

    void new_line() {
        out_ += '\n';
        out_.append(2 * depth_, ' ');
    }

    std::string& out_;
    std::size_t depth_ = 0;
    bool first_ = true;
};

template <class W>
void write(W& w, const std::string& value) {
    append_json_string(w.out(), value);
}

template <class W>
void write(W& w, double value) {
    append_json_number(w.out(), value);
}

template <class W>
void write(W& w, std::uint64_t value) {
    append_count(w.out(), value);
}

template <class W>
void write(W& w, bool value) {
    w.out() += value ? "true" : "false";
}

template <class W, class T>
void write(W& w, const std::vector<T>& values) {
    w.open('[');
    for (const T& value : values) {
        w.element();
        write(w, value);
    }
    w.close(']');
}

template <class W, class T>
void write(W& w, const TextMap<T>& map) {
    w.open('{');
    for (const auto& [key, value] : map) {
        w.key(key);
        write(w, value);
    }
    w.close('}');
}

template <class W, class T>
void write(W& w, const std::optional<T>& value) {
    if (value) {
        write(w, *value);
    } else {
        w.out() += "null";
    }
}

template <class W, class T>
void member(W& w, std::string_view name, const T& value) {
    w.member(name);
    write(w, value);
}

template <class W>
void write(W& w, const FileInfo& v) {
    w.open('{');
    member(w, "filename", v.filename);
    member(w, "marker_name", v.marker_name);
    member(w, "receiver_type", v.receiver_type);
    member(w, "antenna_type", v.antenna_type);
    member(w, "start_time", v.start_time);
    member(w, "end_time", v.end_time);
    member(w, "duration_hours", v.duration_hours);
    member(w, "interval", v.interval);
    member(w, "position_lat", v.position_lat);
    member(w, "position_lon", v.position_lon);
    member(w, "position_height", v.position_height);
    w.close('}');
}

template <class W>
void write(W& w, const QualityScoreRecord& v) {
    w.open('{');
    member(w, "overall", v.overall);
    member(w, "cn0_score", v.cn0_score);
    member(w, "coverage_score", v.coverage_score);
    member(w, "consistency_score", v.consistency_score);
    member(w, "grade", v.grade);
    member(w, "interpretation", v.interpretation);
    w.close('}');
}

template <class W>
void write(W& w, const ResultSummary& v) {
    w.open('{');
    member(w, "total_observations", v.total_observations);
    member(w, "total_satellites", v.total_satellites);
    member(w, "total_epochs", v.total_epochs);
    member(w, "systems_observed", v.systems_observed);
    member(w, "mean_cn0", v.mean_cn0);
    member(w, "min_cn0", v.min_cn0);
    member(w, "max_cn0", v.max_cn0);
    member(w, "anomaly_count", v.anomaly_count);
    member(w, "critical_count", v.critical_count);
    member(w, "high_count", v.high_count);
    member(w, "low_count", v.low_count);
    w.close('}');
}

template <class W>
void write(W& w, const ConstellationStats& v) {
    w.open('{');
    member(w, "system", v.system);
    member(w, "satellite_count", v.satellite_count);
    member(w, "observation_count", v.observation_count);
    member(w, "mean_cn0", v.mean_cn0);
    member(w, "min_cn0", v.min_cn0);
    member(w, "max_cn0", v.max_cn0);
    member(w, "std_cn0", v.std_cn0);
    member(w, "satellites_expected", v.satellites_expected);
    member(w, "availability_ratio", v.availability_ratio);
    member(w, "cycle_slips", v.cycle_slips);
    member(w, "data_gaps", v.data_gaps);
    w.close('}');
}

template <class W>
void write(W& w, const SatelliteStats& v) {
    w.open('{');
    member(w, "satellite", v.satellite);
    member(w, "system", v.system);
    member(w, "observation_count", v.observation_count);
    member(w, "mean_cn0", v.mean_cn0);
    member(w, "min_cn0", v.min_cn0);
    member(w, "max_cn0", v.max_cn0);
    member(w, "std_cn0", v.std_cn0);
    member(w, "mean_elevation", v.mean_elevation);
    w.close('}');
}

template <class W>
void write(W& w, const TimeSeriesPoint& v) {
    w.open('{');
    member(w, "timestamp", v.timestamp);
    member(w, "cn0", v.cn0);
    member(w, "elevation", v.elevation);
    member(w, "azimuth", v.azimuth);
    w.close('}');
}

template <class W>
void write(W& w, const SatelliteTimeSeries& v) {
    w.open('{');
    member(w, "satellite", v.satellite);
    member(w, "system", v.system);
    member(w, "signal", v.signal);
    member(w, "cn0_series", v.cn0_series);
    w.close('}');
}

template <class W>
void write(W& w, const TimeSeriesData& v) {
    w.open('{');
    member(w, "timestamps", v.timestamps);
    member(w, "mean_cn0", v.mean_cn0);
    member(w, "satellite_count", v.satellite_count);
    member(w, "satellite_timeseries", v.satellite_timeseries);
    member(w, "constellation_timeseries", v.constellation_timeseries);
    w.close('}');
}

// The three numbers come before the satellite text in this record.
template <class W>
void write(W& w, const SkyplotPoint& v) {
    w.open('{');
    member(w, "azimuth", v.azimuth);
    member(w, "elevation", v.elevation);
    member(w, "cn0", v.cn0);
    member(w, "satellite", v.satellite);
    w.close('}');
}

template <class W>
void write(W& w, const SkyplotTrace& v) {
    w.open('{');
    member(w, "satellite", v.satellite);
    member(w, "system", v.system);
    member(w, "points", v.points);
    w.close('}');
}

template <class W>
void write(W& w, const HeatmapPoint& v) {
    w.open('{');
    member(w, "azimuth_bin", v.azimuth_bin);
    member(w, "elevation_bin", v.elevation_bin);
    member(w, "mean_cn0", v.mean_cn0);
    member(w, "count", v.count);
    w.close('}');
}

template <class W>
void write(W& w, const SkyplotData& v) {
    w.open('{');
    member(w, "traces", v.traces);
    member(w, "heatmap_points", v.heatmap_points);
    member(w, "coverage_percent", v.coverage_percent);
    w.close('}');
}

template <class W>
void write(W& w, const HeatmapGrid& v) {
    w.open('{');
    member(w, "azimuth_bins", v.azimuth_bins);
    member(w, "elevation_bins", v.elevation_bins);
    member(w, "cn0_matrix", v.cn0_matrix);
    member(w, "count_matrix", v.count_matrix);
    w.close('}');
}

template <class W>
void write(W& w, const AnomalyEvent& v) {
    w.open('{');
    member(w, "timestamp", v.timestamp);
    member(w, "severity", v.severity);
    member(w, "event_type", v.event_type);
    member(w, "description", v.description);
    member(w, "cn0_drop", v.cn0_drop);
    member(w, "affected_satellites", v.affected_satellites);
    member(w, "affected_systems", v.affected_systems);
    w.close('}');
}

template <class W>
void write(W& w, const SystemVisibility& v) {
    w.open('{');
    member(w, "system", v.system);
    member(w, "predicted_satellites", v.predicted_satellites);
    member(w, "observed_satellites", v.observed_satellites);
    member(w, "confirmation_rate", v.confirmation_rate);
    member(w, "missing_satellites", v.missing_satellites);
    member(w, "unexpected_satellites", v.unexpected_satellites);
    w.close('}');
}

template <class W>
void write(W& w, const VisibilityAnomaly& v) {
    w.open('{');
    member(w, "start_time", v.start_time);
    member(w, "end_time", v.end_time);
    member(w, "duration_seconds", v.duration_seconds);
    member(w, "anomaly_type", v.anomaly_type);
    member(w, "severity", v.severity);
    member(w, "affected_satellites", v.affected_satellites);
    member(w, "affected_systems", v.affected_systems);
    member(w, "description", v.description);
    w.close('}');
}

template <class W>
void write(W& w, const VisibilitySummary& v) {
    w.open('{');
    member(w, "has_prediction", v.has_prediction);
    member(w, "prediction_source", v.prediction_source);
    member(w, "confirmation_rate", v.confirmation_rate);
    member(w, "mean_predicted", v.mean_predicted);
    member(w, "mean_observed", v.mean_observed);
    member(w, "mean_missing", v.mean_missing);
    member(w, "mean_unexpected", v.mean_unexpected);
    member(w, "frequently_missing", v.frequently_missing);
    member(w, "frequently_unexpected", v.frequently_unexpected);
    member(w, "by_system", v.by_system);
    member(w, "anomalies", v.anomalies);
    w.close('}');
}

template <class W>
void write(W& w, const AnalysisResult& v) {
    w.open('{');
    member(w, "file_info", v.file_info);
    member(w, "quality_score", v.quality_score);
    member(w, "summary", v.summary);
    member(w, "constellation_stats", v.constellation_stats);
    member(w, "satellite_stats", v.satellite_stats);
    member(w, "timeseries", v.timeseries);
    member(w, "skyplot", v.skyplot);
    member(w, "heatmap", v.heatmap);
    member(w, "anomalies", v.anomalies);
    member(w, "visibility", v.visibility);
    member(w, "spoofing_unexpected_threshold", v.spoofing_unexpected_threshold);
    member(w, "spoofing_min_unexpected_count", v.spoofing_min_unexpected_count);
    w.close('}');
}

// A generous guess of the compact size from the element counts, so that the buffer grows
// at most once or twice. The indented form carries roughly twice the bytes.
std::size_t estimated_size(const AnalysisResult& r) noexcept {
    constexpr std::size_t point_bytes = 100;  // a time-series or skyplot point
    std::size_t size = 2048;
    size += r.constellation_stats.size() * 400 + r.satellite_stats.size() * 250;
    size += r.timeseries.timestamps.size() * 60;
    for (const auto& [key, series] : r.timeseries.satellite_timeseries)
        size += 120 + series.cn0_series.size() * point_bytes;
    for (const auto& [key, points] : r.timeseries.constellation_timeseries)
        size += 30 + points.size() * point_bytes;
    for (const SkyplotTrace& trace : r.skyplot.traces) size += 80 + trace.points.size() * point_bytes;
    size += r.skyplot.heatmap_points.size() * point_bytes;
    size += (r.heatmap.azimuth_bins.size() + 1) * (r.heatmap.elevation_bins.size() + 1) * 24;
    for (const AnomalyEvent& event : r.anomalies)
        size += 250 + event.description.size() + event.affected_satellites.size() * 6;
    if (r.visibility) {
        size += r.visibility->by_system.size() * 200 + r.visibility->anomalies.size() * 300;
        size += (r.visibility->frequently_missing.size() + r.visibility->frequently_unexpected.size()) * 6;
    }
    return size;
}

template <bool Pretty>
std::string serialize(const AnalysisResult& result) {
    std::string out;
    out.reserve(Pretty ? 2 * estimated_size(result) : estimated_size(result));
    JsonWriter<Pretty> writer(out);
    write(writer, result);
    return out;
}

}  // namespace

void append_json_number(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    if (value == 0.0) {
        out += std::signbit(value) ? "-0.0" : "0.0";
        return;
    }
    // Shortest round-trip digits as [-]D[.DDD]e(+|-)XX, at most 24 characters; the digits
    // are then moved into place from this text.
    char scientific[32];
    const char* const end =
        std::to_chars(scientific, scientific + sizeof scientific, value, std::chars_format::scientific).ptr;
    const char* first = scientific;
    char text[40];
    char* w = text;
    if (*first == '-') {
        *w++ = '-';
        ++first;
    }
    const char* e = end - 4;  // 'e', the sign, then two or three digits
    if (*e != 'e') --e;
    const char* const rest = first + 2;  // digits after the point, if any
    const std::size_t rest_count = e > first + 1 ? static_cast<std::size_t>(e - rest) : 0;
    int exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);

    if (exponent >= -5 && exponent <= 15) {
        if (exponent < 0) {
            const std::size_t zeros = static_cast<std::size_t>(-exponent);  // "0." and -d-1 zeros
            std::memcpy(w, "0.00000", zeros + 1);
            w += zeros + 1;
            *w++ = *first;
            std::memcpy(w, rest, rest_count);
            w += rest_count;
        } else {
            const auto whole = static_cast<std::size_t>(exponent);  // digits left of the point after the first
            *w++ = *first;
            if (rest_count <= whole) {
                std::memcpy(w, rest, rest_count);
                w += rest_count;
                std::memset(w, '0', whole - rest_count);
                w += whole - rest_count;
                *w++ = '.';
                *w++ = '0';
            } else {
                std::memcpy(w, rest, whole);
                w += whole;
                *w++ = '.';
                std::memcpy(w, rest + whole, rest_count - whole);
                w += rest_count - whole;
            }
        }
    } else {
        *w++ = *first;
        if (rest_count > 0) {
            *w++ = '.';
            std::memcpy(w, rest, rest_count);
            w += rest_count;
        }
        *w++ = 'e';
        *w++ = exponent < 0 ? '-' : '+';
        w = std::to_chars(w, text + sizeof text, exponent < 0 ? -exponent : exponent).ptr;
    }
    out.append(text, static_cast<std::size_t>(w - text));
}

std::string result_to_json(const AnalysisResult& result, bool pretty) {
    return pretty ? serialize<true>(result) : serialize<false>(result);
}

}  // namespace vardoln
