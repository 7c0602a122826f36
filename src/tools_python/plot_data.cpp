// The plots' extract of a recording, from one reading of its files: what an analysis with the
// same settings puts in its skyplot, heatmap and per-constellation series (made by the
// analysis's own steps), the per-epoch visibility counts, and the station's name and the
// prediction's source as the analysis gives them, so that these plots need no result.
#include <memory>
#include <string>

#include "arrays/tables.hpp"
#include "cn0/analysis.hpp"
#include "cn0/settings.hpp"
#include "navigation/orbit_source.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

struct Series {
    std::string system;
    std::vector<std::int64_t> times;  // datetime64 nanoseconds of the timestamp texts
    std::vector<double> cn0;          // dB-Hz
};

// Flat columns, made without the interpreter lock.
struct Views {
    std::string marker_name;        // as the analysis names the station
    std::optional<std::string> source;  // the orbit source's text, with navigation data
    // The skyplot's traces one after the other, points in trace order.
    std::vector<std::string> satellites;
    std::vector<std::uint64_t> lengths;  // points per trace
    std::vector<double> azimuth, elevation, cn0;
    // The heatmap grid, rows of elevation cells one after the other; empty without samples.
    std::vector<double> grid_cn0;
    std::vector<std::uint64_t> grid_count;
    std::vector<Series> constellations;  // by name, ascending
    std::optional<VisibilityColumns> visibility;
};

Views flatten(RunViews&& run) {
    Views views;
    std::size_t points = 0;
    for (const SkyplotTrace& trace : run.skyplot.traces) points += trace.points.size();
    views.azimuth.reserve(points);
    views.elevation.reserve(points);
    views.cn0.reserve(points);
    for (SkyplotTrace& trace : run.skyplot.traces) {
        views.satellites.push_back(std::move(trace.satellite));
        views.lengths.push_back(trace.points.size());
        for (const SkyplotPoint& point : trace.points) {
            views.azimuth.push_back(point.azimuth);
            views.elevation.push_back(point.elevation);
            views.cn0.push_back(point.cn0);
        }
    }
    for (const auto& row : run.heatmap.cn0_matrix) views.grid_cn0.insert(views.grid_cn0.end(), row.begin(), row.end());
    for (const auto& row : run.heatmap.count_matrix) {
        views.grid_count.insert(views.grid_count.end(), row.begin(), row.end());
    }
    for (auto& [system, points_of_system] : run.constellation_timeseries) {
        Series series{system, {}, {}};
        series.times.reserve(points_of_system.size());
        series.cn0.reserve(points_of_system.size());
        for (const TimeSeriesPoint& point : points_of_system) {
            const std::optional<EpochTime> time = parse_timestamp_text(point.timestamp);
            series.times.push_back(time ? arrays::epoch_nanoseconds(*time) : arrays::kNoTime);
            series.cn0.push_back(point.cn0);
        }
        views.constellations.push_back(std::move(series));
    }
    return views;
}

PyObject* views_table(Views&& views, const arrays::Recording& /*recording*/) {
    Ref sky(PyDict_New());
    Ref grid(PyDict_New());
    Ref constellations(PyDict_New());
    if (!sky || !grid || !constellations || !py::dict_set(sky.get(), "satellites", py::new_text_list(views.satellites)) ||
        !set_array(sky.get(), "lengths", std::move(views.lengths)) ||
        !set_array(sky.get(), "azimuth", std::move(views.azimuth)) ||
        !set_array(sky.get(), "elevation", std::move(views.elevation)) ||
        !set_array(sky.get(), "cn0", std::move(views.cn0)) || !set_array(grid.get(), "cn0", std::move(views.grid_cn0)) ||
        !set_array(grid.get(), "count", std::move(views.grid_count))) {
        return nullptr;
    }
    for (Series& series : views.constellations) {
        Ref columns(PyDict_New());
        if (!columns || !set_array(columns.get(), "time", std::move(series.times)) ||
            !set_array(columns.get(), "cn0", std::move(series.cn0)) ||
            !py::dict_set(constellations.get(), series.system, columns.release())) {
            return nullptr;
        }
    }
    Ref visibility(Py_NewRef(Py_None));
    if (views.visibility) {
        visibility = Ref(PyDict_New());
        if (!visibility || !set_visibility_columns(visibility.get(), std::move(*views.visibility))) return nullptr;
    }
    Ref table(PyDict_New());
    if (!table || !py::dict_set(table.get(), "marker_name", py::new_text(views.marker_name)) ||
        !py::dict_set(table.get(), "source", views.source ? py::new_text(*views.source) : Py_NewRef(Py_None)) ||
        !py::dict_set(table.get(), "sky", sky.release()) ||
        !py::dict_set(table.get(), "heatmap", grid.release()) ||
        !py::dict_set(table.get(), "constellations", constellations.release()) ||
        !py::dict_set(table.get(), "visibility", visibility.release())) {
        return nullptr;
    }
    return table.release();
}

}  // namespace

PyObject* plot_views(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig =
        py::signature("plot_views", 6, "obs_path", "nav_paths", "systems", "min_elevation", "min_cn0", "max_cn0", "result");
    py::Slots<7> slots;
    Source source;
    std::optional<std::vector<std::string>> systems;
    AnalysisSettings settings;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !source_argument(slots[0], slots[1], true, source) ||
        !py::text_list_or_absent(slots[2], "systems", systems) ||
        !py::to_double(slots[3], "min_elevation", settings.min_elevation) ||
        !py::to_double(slots[4], "min_cn0", settings.min_cn0) || !py::to_double(slots[5], "max_cn0", settings.max_cn0)) {
        return nullptr;
    }
    settings.systems = system_letters(systems);
    // The module's result of the same analysis, when the caller has it: its views are taken, not made again.
    const AnalysisResult* result = nullptr;
    if (!py::is_absent(slots[6])) {
        const py::ModuleApi* api = module_api();
        if (api == nullptr || (result = api->analysis_result(slots[6], "result")) == nullptr) return nullptr;
    }
    return with_recording(
        source,
        [&settings, result](const arrays::Recording& recording) -> std::variant<Views, Refusal> {
            AnalysisSettings run = settings;
            if (recording.nav()) run.orbit_source = make_orbit_source(recording.shared_nav());
            Views views = flatten(result ? RunViews{result->skyplot, result->heatmap,
                                                    result->timeseries.constellation_timeseries}
                                         : run_views(recording.obs(), run));
            views.marker_name = recording.obs().marker_name;
            if (run.orbit_source) views.source = run.orbit_source->source_text;
            // The counts need the receiver's position; without one the analysis predicts nothing.
            // Only the analysed constellations, as in the summary's visibility figures.
            if (run.orbit_source && recording.obs().approx_position) {
                std::string letters;
                for (const char32_t letter : *settings.systems) {
                    if (letter < 0x80) letters.push_back(static_cast<char>(letter));
                }
                views.visibility = visibility_columns(*run.orbit_source, recording.obs(), settings.min_elevation, letters,
                                                      recording.geometry());
            }
            return views;
        },
        &views_table);
}

}  // namespace vardoln::tools
