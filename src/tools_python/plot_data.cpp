// What the plots of an analysis need beyond the result's accessors: the per-constellation series,
// made from the recording by the analysis's own steps, and the accessors' number lists as arrays.
#include <algorithm>
#include <charconv>
#include <memory>
#include <string>
#include <system_error>

#include "arrays/tables.hpp"
#include "cn0/analysis.hpp"
#include "cn0/settings.hpp"
#include "tools_python/tools.hpp"
#include "visibility/orbit_source.hpp"

namespace vardoln::tools {

namespace {

struct Series {
    std::string system;
    std::vector<std::int64_t> times;  // datetime64 nanoseconds of the timestamp texts
    std::vector<double> cn0;          // dB-Hz, mean over the constellation's samples of the epoch
};

std::vector<Series> series_arrays(TextMap<std::vector<TimeSeriesPoint>>&& by_system) {
    std::vector<Series> all;
    for (auto& [system, points] : by_system) {
        Series series{system, {}, {}};
        series.times.reserve(points.size());
        series.cn0.reserve(points.size());
        for (const TimeSeriesPoint& point : points) {
            const std::optional<EpochTime> time = parse_timestamp_text(point.timestamp);
            series.times.push_back(time ? arrays::epoch_nanoseconds(*time) : arrays::kNoTime);
            series.cn0.push_back(point.cn0);
        }
        all.push_back(std::move(series));
    }
    return all;
}

PyObject* series_table(std::vector<Series>&& all, const arrays::Recording& /*recording*/) {
    Ref table(PyDict_New());
    if (!table) return nullptr;
    for (Series& series : all) {
        Ref columns(PyDict_New());
        if (!columns || !set_array(columns.get(), "time", std::move(series.times)) ||
            !set_array(columns.get(), "cn0", std::move(series.cn0)) ||
            !py::dict_set(table.get(), series.system, columns.release())) {
            return nullptr;
        }
    }
    return table.release();
}

// One number of an accessor's list: shortest positional decimals, NaN, inf or -inf.
bool read_decimal(std::string_view token, double& out) {
    const char* end = token.data() + token.size();
    const auto [stop, error] = std::from_chars(token.data(), end, out);
    return error == std::errc() && stop == end;
}

}  // namespace

PyObject* constellation_series(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("constellation_series", 6, "obs_path", "nav_paths", "systems",
                                              "min_elevation", "min_cn0", "max_cn0");
    py::Slots<6> slots;
    std::string_view obs_path;
    std::optional<std::vector<std::string>> nav_paths;
    std::optional<std::vector<std::string>> systems;
    AnalysisSettings settings;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !py::to_text(slots[0], "obs_path", obs_path) ||
        !nav_paths_argument(slots[1], true, nav_paths) || !py::text_list_or_absent(slots[2], "systems", systems) ||
        !py::to_double(slots[3], "min_elevation", settings.min_elevation) ||
        !py::to_double(slots[4], "min_cn0", settings.min_cn0) || !py::to_double(slots[5], "max_cn0", settings.max_cn0)) {
        return nullptr;
    }
    settings.systems = system_letters(systems);
    return with_recording(
        std::string(obs_path), nav_paths,
        [&settings](const arrays::Recording& recording) -> std::variant<std::vector<Series>, Refusal> {
            AnalysisSettings run = settings;
            if (recording.nav) run.orbit_source = make_orbit_source(std::make_shared<const NavigationData>(*recording.nav));
            return series_arrays(constellation_series(recording.obs, run));
        },
        &series_table);
}

PyObject* decimals(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("decimals", 1, "text");
    py::Slots<1> slots;
    std::string_view text;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !py::to_text(slots[0], "text", text)) return nullptr;
    std::vector<double> values;
    if (!text.empty()) {
        // A comma ends each number but the last: the list holds one more number than commas.
        values.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), ',')) + 1);
        std::size_t start = 0;
        while (true) {
            const std::size_t comma = text.find(',', start);
            const std::string_view token = text.substr(start, comma == std::string_view::npos ? comma : comma - start);
            double value = 0.0;
            if (!read_decimal(token, value)) {
                return py::raise_value_error("not a number in the list at character " + std::to_string(start) + ": '" +
                                             std::string(token.substr(0, 40)) + "'");
            }
            values.push_back(value);
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
    }
    return new_buffer(own(std::move(values)));
}

}  // namespace vardoln::tools
