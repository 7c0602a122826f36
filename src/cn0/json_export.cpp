#include "cn0/json_export.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

namespace vardoln {

namespace {

// The text grows in one block of the caller's storage: every writer first asks for the room
// its token can take at most, so that the writing itself is plain stores. The first block is
// sized from the element counts; growing it is rare.
class Buffer {
public:
    Buffer(JsonStorage& storage, std::size_t capacity) : storage_(storage) { grow(capacity); }

    void reserve(std::size_t bytes) {
        if (static_cast<std::size_t>(end_ - cursor_) < bytes) grow(bytes);
    }
    char*& cursor() noexcept { return cursor_; }
    void put(char c) noexcept { *cursor_++ = c; }
    void put(std::string_view text) noexcept {
        std::memcpy(cursor_, text.data(), text.size());
        cursor_ += text.size();
    }
    // Text from the data may hold any byte; the rest of the export is ASCII.
    void note_bytes(unsigned char any) noexcept { high_bytes_ |= any; }

    JsonWritten written() const noexcept {
        return JsonWritten{static_cast<std::size_t>(cursor_ - begin_), (high_bytes_ & 0x80) == 0};
    }

private:
    [[gnu::cold]] void grow(std::size_t bytes) {
        const std::size_t used = static_cast<std::size_t>(cursor_ - begin_);
        const std::size_t capacity = std::max(2 * static_cast<std::size_t>(end_ - begin_), used + bytes);
        char* block = storage_.reserve(used, capacity);
        if (block == nullptr) throw std::bad_alloc();
        begin_ = block;
        cursor_ = block + used;
        end_ = block + capacity;
    }

    JsonStorage& storage_;
    char* begin_ = nullptr;
    char* cursor_ = nullptr;
    char* end_ = nullptr;
    unsigned char high_bytes_ = 0;
};

// A double takes at most 24 characters ("-2.2250738585072014e-308"); a count at most 20.
constexpr std::size_t kNumberRoom = 32;

// Control bytes other than the five with a letter escape go out as \u00XX, lower-case hex.
[[gnu::cold]] char* write_escape(char* out, unsigned char c) noexcept {
    const auto two = [&](char letter) {
        out[0] = '\\';
        out[1] = letter;
        return out + 2;
    };
    switch (c) {
        case '"': return two('"');
        case '\\': return two('\\');
        case '\b': return two('b');
        case '\t': return two('t');
        case '\n': return two('n');
        case '\f': return two('f');
        case '\r': return two('r');
        default: break;
    }
    constexpr char hex[] = "0123456789abcdef";
    const char escape[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0x0f]};
    std::memcpy(out, escape, sizeof escape);
    return out + sizeof escape;
}

// Bytes that need no escape are copied in runs; non-ASCII bytes and '/' pass unchanged. An
// escape takes at most six characters per byte.
void write_json_string(Buffer& out, std::string_view text) {
    out.reserve(6 * text.size() + 2);
    char* p = out.cursor();
    *p++ = '"';
    std::size_t run_start = 0;
    unsigned char any = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        any |= c;
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        std::memcpy(p, text.data() + run_start, i - run_start);
        p = write_escape(p + (i - run_start), c);
        run_start = i + 1;
    }
    std::memcpy(p, text.data() + run_start, text.size() - run_start);
    p += text.size() - run_start;
    *p++ = '"';
    out.cursor() = p;
    out.note_bytes(any);
}

char* write_count(char* out, std::uint64_t value) noexcept {
    return std::to_chars(out, out + 20, value).ptr;  // 2^64 - 1 has 20 digits
}

// Writes separators, line breaks and indentation; the value writers below only write values.
// The layout is a template parameter so that the compact form carries no layout branches.
template <bool Pretty>
class JsonWriter {
public:
    explicit JsonWriter(Buffer& out) noexcept : out_(out) {}

    Buffer& out() noexcept { return out_; }

    void open(char bracket) {
        out_.reserve(1);
        out_.put(bracket);
        ++depth_;
        first_ = true;
    }

    // An empty container closes on the line that opened it: {} or [].
    void close(char bracket) {
        --depth_;
        out_.reserve(2 * depth_ + 2);
        if constexpr (Pretty) {
            if (!first_) new_line();
        }
        out_.put(bracket);
        first_ = false;
    }

    // Member names are fixed lower-case identifiers and need no escaping.
    void member(std::string_view name) {
        out_.reserve(name.size() + 2 * depth_ + 6);
        next_entry();
        out_.put('"');
        out_.put(name);
        out_.put(Pretty ? std::string_view("\": ") : std::string_view("\":"));
    }

    // Map keys come from the data and are escaped like any other text.
    void key(std::string_view name) {
        out_.reserve(2 * depth_ + 2);
        next_entry();
        write_json_string(out_, name);
        out_.reserve(2);
        out_.put(Pretty ? std::string_view(": ") : std::string_view(":"));
    }

    void element() {
        out_.reserve(2 * depth_ + 2);
        next_entry();
    }

private:
    void next_entry() noexcept {
        if (!first_) out_.put(',');
        first_ = false;
        if constexpr (Pretty) new_line();
    }

    void new_line() noexcept {
        char* p = out_.cursor();
        *p++ = '\n';
        std::memset(p, ' ', 2 * depth_);
        out_.cursor() = p + 2 * depth_;
    }

    Buffer& out_;
    std::size_t depth_ = 0;
    bool first_ = true;
};

template <class W>
void write(W& w, const std::string& value) {
    write_json_string(w.out(), value);
}

template <class W>
void write(W& w, double value) {
    Buffer& out = w.out();
    out.reserve(kNumberRoom);
    out.cursor() = write_json_number(out.cursor(), value);
}

template <class W>
void write(W& w, std::uint64_t value) {
    Buffer& out = w.out();
    out.reserve(kNumberRoom);
    out.cursor() = write_count(out.cursor(), value);
}

template <class W>
void write(W& w, bool value) {
    w.out().reserve(5);
    w.out().put(value ? std::string_view("true") : std::string_view("false"));
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
        w.out().reserve(4);
        w.out().put("null");
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

// A guess of the compact size from the element counts, a quarter above what day files need so
// that the block does not grow (growing means copying the text written so far). Pages of the
// block that the text does not reach are never touched and cost nothing. The indented form
// carries roughly twice the bytes.
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
    return size + size / 4;
}

template <bool Pretty>
JsonWritten serialize(const AnalysisResult& result, JsonStorage& storage) {
    // The indented form carries roughly twice the bytes of the compact one.
    Buffer out(storage, Pretty ? 2 * estimated_size(result) : estimated_size(result));
    JsonWriter<Pretty> writer(out);
    write(writer, result);
    return out.written();
}

// A std::string as the block; its zero fill does not matter where this is used.
class StringStorage final : public JsonStorage {
public:
    char* reserve(std::size_t, std::size_t size) override {
        text.resize(size);
        return text.data();
    }

    std::string text;
};

// Exact thousandths below 1e9, which is what C/N0 values read from RINEX are: the digits
// of n / 1000 with the trailing zeros dropped are then the shortest that read back (any other
// decimal as short lies at least 1e-4 away, far beyond half a unit in the last place), laid
// out positionally as every value of this size is. False for anything else.
bool write_thousandths(char*& out, double value) noexcept {
    const double scaled = value * 1000.0;
    if (!(scaled > -1e12 && scaled < 1e12)) return false;
    const auto n = static_cast<std::int64_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
    if (static_cast<double>(n) / 1000.0 != value) return false;
    char* p = out;
    std::uint64_t magnitude = n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
    if (n < 0) *p++ = '-';
    p = std::to_chars(p, p + 20, magnitude / 1000).ptr;
    *p++ = '.';
    unsigned fraction = static_cast<unsigned>(magnitude % 1000);
    if (fraction == 0) {
        *p++ = '0';
    } else {
        const char digits[3] = {static_cast<char>('0' + fraction / 100), static_cast<char>('0' + fraction / 10 % 10),
                                static_cast<char>('0' + fraction % 10)};
        const std::size_t count = fraction % 100 == 0 ? 1 : fraction % 10 == 0 ? 2 : 3;
        std::memcpy(p, digits, count);
        p += count;
    }
    out = p;
    return true;
}

}  // namespace

char* write_json_number(char* out, double value) noexcept {
    if (!std::isfinite(value)) {
        std::memcpy(out, "null", 4);
        return out + 4;
    }
    if (value == 0.0) {
        const std::string_view zero = std::signbit(value) ? "-0.0" : "0.0";
        std::memcpy(out, zero.data(), zero.size());
        return out + zero.size();
    }
    if (write_thousandths(out, value)) return out;
    // Shortest round-trip digits as [-]D[.DDD]e(+|-)XX, at most 24 characters; the digits
    // are then moved into place from this text.
    char scientific[32];
    const char* const end =
        std::to_chars(scientific, scientific + sizeof scientific, value, std::chars_format::scientific).ptr;
    const char* first = scientific;
    char* w = out;
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
        w = std::to_chars(w, w + 4, exponent < 0 ? -exponent : exponent).ptr;
    }
    return w;
}

void append_json_number(std::string& out, double value) {
    char text[kNumberRoom];
    out.append(text, write_json_number(text, value));
}

JsonWritten write_result_json(const AnalysisResult& result, bool pretty, JsonStorage& storage) {
    return pretty ? serialize<true>(result, storage) : serialize<false>(result, storage);
}

std::string result_to_json(const AnalysisResult& result, bool pretty) {
    StringStorage storage;
    storage.text.resize(write_result_json(result, pretty, storage).size);
    return std::move(storage.text);
}

}  // namespace vardoln
