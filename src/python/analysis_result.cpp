// AnalysisResult: read-only views of one analysis record, its JSON export and the verdicts and
// notebook score derived from it; QualityScore: one snapshot of that notebook score.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cn0/analysis.hpp"
#include "cn0/json_export.hpp"
#include "cn0/quality.hpp"
#include "cn0/result.hpp"
#include "cn0/threats.hpp"
#include "python/classes.hpp"
#include "rinex/file_io.hpp"
#include "rinex/numbers.hpp"

namespace vardoln::py {

namespace {

PyTypeObject* result_cache = nullptr;
PyTypeObject* score_cache = nullptr;

// ---------------------------------------------------------------------------------------------
// Small builders

std::string join(const std::vector<std::string>& items, std::string_view separator) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text.append(separator);
        text.append(items[i]);
    }
    return text;
}

// Plain decimal text of one member of every point, joined with ",".
template <double SkyplotPoint::*Member>
std::string join_plain(const std::vector<SkyplotPoint>& points) {
    std::string text;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (i > 0) text.push_back(',');
        text.append(format_plain(points[i].*Member));
    }
    return text;
}

template <typename Number, typename Convert>
PyObject* new_number_list(const std::vector<Number>& values, Convert convert) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = convert(values[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* new_float_list(const std::vector<double>& values) {
    return new_number_list(values, [](double value) { return new_float(value); });
}

std::string text_of(std::uint64_t count) {
    return std::to_string(count);
}

std::string percent_text(double rate) {
    return format_fixed(rate, 1) + "%";
}

// ---------------------------------------------------------------------------------------------
// QualityScore

template <double NotebookScore::*Member>
PyObject* score_field(const NotebookScore& score) {
    return new_float(score.*Member);
}

PyObject* score_suitable(const NotebookScore& score) {
    return new_bool(score.post_processing_suitable);
}

PyObject* score_rating(const NotebookScore& score) {
    return new_text(score.rating);
}

PyObject* score_repr(const NotebookScore& score) {
    std::string text = "QualityScore(overall=";
    text.append(format_fixed(score.overall, 0)).append(", rating='").append(score.rating).append("')");
    return new_text(text);
}

PyGetSetDef score_attributes[] = {
    read_only<NotebookScore, &score_field<&NotebookScore::overall>>("overall", nullptr),
    read_only<NotebookScore, &score_field<&NotebookScore::cn0_quality>>("cn0_quality", nullptr),
    read_only<NotebookScore, &score_field<&NotebookScore::availability>>("availability", nullptr),
    read_only<NotebookScore, &score_field<&NotebookScore::continuity>>("continuity", nullptr),
    read_only<NotebookScore, &score_field<&NotebookScore::stability>>("stability", nullptr),
    read_only<NotebookScore, &score_field<&NotebookScore::diversity>>("diversity", nullptr),
    read_only<NotebookScore, &score_suitable>("post_processing_suitable", nullptr),
    read_only<NotebookScore, &score_rating>("rating", nullptr),
    {},
};

// ---------------------------------------------------------------------------------------------
// AnalysisResult properties

template <std::string FileInfo::*Member>
PyObject* file_text(const AnalysisResult& result) {
    return new_text(result.file_info.*Member);
}

template <double FileInfo::*Member>
PyObject* file_number(const AnalysisResult& result) {
    return new_float(result.file_info.*Member);
}

template <std::uint64_t ResultSummary::*Member>
PyObject* summary_count(const AnalysisResult& result) {
    return new_int(result.summary.*Member);
}

template <double ResultSummary::*Member>
PyObject* summary_number(const AnalysisResult& result) {
    return new_float(result.summary.*Member);
}

// Visibility figures read 0.0 when the run had no orbit source.
template <double VisibilitySummary::*Member>
PyObject* visibility_number(const AnalysisResult& result) {
    return new_float(result.visibility ? (*result.visibility).*Member : 0.0);
}

// Lists of the visibility summary read empty when the run had no orbit source.
template <std::vector<std::string> VisibilitySummary::*Member>
PyObject* visibility_list(const AnalysisResult& result) {
    static const std::vector<std::string> none;
    return new_text_list(result.visibility ? (*result.visibility).*Member : none);
}

PyObject* rinex_version(const AnalysisResult& /*result*/) {
    return new_text("3.05");
}

PyObject* station_name(const AnalysisResult& result) {
    if (result.file_info.marker_name.empty()) Py_RETURN_NONE;
    return new_text(result.file_info.marker_name);
}

PyObject* systems_observed(const AnalysisResult& result) {
    return new_text_list(result.summary.systems_observed);
}

PyObject* cn0_std_dev_property(const AnalysisResult& result) {
    return new_float(cn0_std_dev(result));
}

PyObject* jamming(const AnalysisResult& result) {
    return new_bool(jamming_detected(result));
}

PyObject* spoofing(const AnalysisResult& result) {
    return new_bool(spoofing_detected(result));
}

PyObject* interference(const AnalysisResult& result) {
    return new_bool(interference_detected(result));
}

PyObject* quality_score_object(const AnalysisResult& result) {
    PyTypeObject* type = quality_score_type();
    if (type == nullptr) return nullptr;
    return new_instance(type, notebook_score(result));
}

PyObject* score(const AnalysisResult& result) {
    return new_float(notebook_score(result).overall);
}

PyObject* quality_grade(const AnalysisResult& result) {
    // A run without samples keeps its "N/A"; otherwise the letter of the notebook rating.
    if (result.quality_score.grade == "N/A") return new_text("N/A");
    return new_text(std::string_view(notebook_score(result).rating).substr(0, 1));
}

PyObject* interpretation(const AnalysisResult& result) {
    return new_text(result.quality_score.interpretation);
}

PyObject* skyplot_coverage(const AnalysisResult& result) {
    return new_float(result.skyplot.coverage_percent);
}

PyObject* skyplot_trace_count(const AnalysisResult& result) {
    return new_int(result.skyplot.traces.size());
}

PyObject* has_visibility_prediction(const AnalysisResult& result) {
    return new_bool(result.visibility && result.visibility->has_prediction);
}

PyObject* visibility_prediction_source(const AnalysisResult& result) {
    return new_text(result.visibility ? std::string_view(result.visibility->prediction_source) : "None");
}

PyObject* visibility_anomaly_count(const AnalysisResult& result) {
    return new_int(result.visibility ? result.visibility->anomalies.size() : 0);
}

// ---------------------------------------------------------------------------------------------
// AnalysisResult methods

// The export writes straight into an ASCII str, resized as the text grows and cut to the
// text at the end; text with bytes above 0x7F (from the data) is decoded into a str of its own.
class StrStorage final : public JsonStorage {
public:
    char* reserve(std::size_t used, std::size_t size) override {
        if (!text_) {
            text_ = Ref(PyUnicode_New(static_cast<Py_ssize_t>(size), 127));
        } else if (!resize(static_cast<Py_ssize_t>(size))) {
            return nullptr;
        }
        if (!text_) return nullptr;
        auto* data = static_cast<char*>(PyUnicode_DATA(text_.get()));
        prefer_large_pages(data + used, size - used);
        return data;
    }

    PyObject* finish(const JsonWritten& written) {
        const auto size = static_cast<Py_ssize_t>(written.size);
        if (!written.ascii) return PyUnicode_DecodeUTF8(static_cast<const char*>(PyUnicode_DATA(text_.get())), size, nullptr);
        return resize(size) ? text_.release() : nullptr;
    }

private:
    // The str is new and unshared, so CPython resizes it in place (a realloc).
    bool resize(Py_ssize_t size) {
        PyObject* object = text_.release();
        const bool resized = PyUnicode_Resize(&object, size) == 0;
        text_ = Ref(object);
        return resized;
    }

    Ref text_;
};

PyObject* export_json(const AnalysisResult& result, bool pretty) {
    StrStorage storage;
    const JsonWritten written = write_result_json(result, pretty, storage);
    return storage.finish(written);
}

PyObject* to_json(const AnalysisResult& result) { return export_json(result, false); }

PyObject* to_json_pretty(const AnalysisResult& result) { return export_json(result, true); }

PyObject* get_anomalies(const AnalysisResult& result) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(result.anomalies.size())));
    if (!list) return nullptr;
    Py_ssize_t index = 0;
    for (const AnomalyEvent& event : result.anomalies) {
        const std::pair<std::string_view, std::string> entries[] = {
            {"start_time", event.timestamp},
            {"end_time", event.timestamp},
            {"severity", event.severity},
            {"anomaly_type", event.event_type},
            {"description", event.description},
            {"cn0_drop", format_plain(event.cn0_drop)},
            {"affected_satellites", join(event.affected_satellites, ",")},
            {"affected_systems", join(event.affected_systems, ",")},
        };
        PyObject* dict = new_text_dict(entries);
        if (dict == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), index++, dict);
    }
    return list.release();
}

PyObject* get_skyplot_data(const AnalysisResult& result) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(result.skyplot.traces.size())));
    if (!list) return nullptr;
    Py_ssize_t index = 0;
    for (const SkyplotTrace& trace : result.skyplot.traces) {
        const std::pair<std::string_view, std::string> entries[] = {
            {"satellite", trace.satellite},
            {"system", trace.system},
            {"azimuths", join_plain<&SkyplotPoint::azimuth>(trace.points)},
            {"elevations", join_plain<&SkyplotPoint::elevation>(trace.points)},
            {"cn0_values", join_plain<&SkyplotPoint::cn0>(trace.points)},
        };
        PyObject* dict = new_text_dict(entries);
        if (dict == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), index++, dict);
    }
    return list.release();
}

PyObject* get_timeseries_data(const AnalysisResult& result) {
    const TimeSeriesData& series = result.timeseries;
    Ref dict(PyDict_New());
    if (!dict || !dict_set(dict.get(), "hours", new_float_list(timeseries_hours(result))) ||
        !dict_set(dict.get(), "mean_cn0", new_float_list(series.mean_cn0)) ||
        !dict_set(dict.get(), "satellite_count", new_number_list(series.satellite_count, [](std::uint64_t count) {
                      return new_float(static_cast<double>(count));
                  }))) {
        return nullptr;
    }
    return dict.release();
}

PyObject* get_timestamps(const AnalysisResult& result) {
    return new_text_list(result.timeseries.timestamps);
}

PyObject* get_timeseries_cn0(const AnalysisResult& result) {
    return new_float_list(result.timeseries.mean_cn0);
}

PyObject* get_satellite_count_series(const AnalysisResult& result) {
    return new_number_list(result.timeseries.satellite_count, [](std::uint64_t count) { return new_int(count); });
}

PyObject* get_satellite_ids(const AnalysisResult& result) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(result.satellite_stats.size())));
    if (!list) return nullptr;
    Py_ssize_t index = 0;
    for (const auto& [satellite, stats] : result.satellite_stats) {
        PyObject* text = new_text(satellite);
        if (text == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), index++, text);
    }
    return list.release();
}

// One text per anomaly, in list order.
template <typename Member>
PyObject* anomaly_texts(const AnalysisResult& result, Member member) {
    std::vector<std::string_view> texts;
    texts.reserve(result.anomalies.size());
    for (const AnomalyEvent& event : result.anomalies) texts.emplace_back(event.*member);
    return new_text_list(texts);
}

PyObject* get_anomaly_timestamps(const AnalysisResult& result) {
    return anomaly_texts(result, &AnomalyEvent::timestamp);
}

PyObject* get_anomaly_severities(const AnalysisResult& result) {
    return anomaly_texts(result, &AnomalyEvent::severity);
}

PyObject* get_anomaly_cn0_drops(const AnalysisResult& result) {
    std::vector<double> drops;
    drops.reserve(result.anomalies.size());
    for (const AnomalyEvent& event : result.anomalies) drops.push_back(event.cn0_drop);
    return new_float_list(drops);
}

// One text per visibility anomaly; empty without visibility.
PyObject* visibility_anomaly_texts(const AnalysisResult& result, std::string VisibilityAnomaly::*member) {
    std::vector<std::string_view> texts;
    if (result.visibility) {
        texts.reserve(result.visibility->anomalies.size());
        for (const VisibilityAnomaly& anomaly : result.visibility->anomalies) texts.emplace_back(anomaly.*member);
    }
    return new_text_list(texts);
}

PyObject* get_visibility_anomaly_types(const AnalysisResult& result) {
    return visibility_anomaly_texts(result, &VisibilityAnomaly::anomaly_type);
}

PyObject* get_visibility_anomaly_descriptions(const AnalysisResult& result) {
    return visibility_anomaly_texts(result, &VisibilityAnomaly::description);
}

PyObject* visibility_debug(const AnalysisResult& result) {
    Ref dict(PyDict_New());
    if (!dict || !result.visibility) return dict.release();
    const VisibilitySummary& visibility = *result.visibility;
    for (const auto& [key, system] : visibility.by_system) {
        const std::pair<std::string_view, std::string> entries[] = {
            {"predicted", text_of(system.predicted_satellites)},
            {"observed", text_of(system.observed_satellites)},
            {"confirmation_rate", percent_text(system.confirmation_rate)},
            {"missing_count", text_of(system.missing_satellites.size())},
            {"unexpected_count", text_of(system.unexpected_satellites.size())},
            {"missing_sats", join(system.missing_satellites, ", ")},
            {"unexpected_sats", join(system.unexpected_satellites, ", ")},
        };
        if (!dict_set(dict.get(), key, new_text_dict(entries))) return nullptr;
    }
    // The rate is stored in percent already; the sign is only appended.
    const std::pair<std::string_view, std::string> overall[] = {
        {"source", visibility.prediction_source},
        {"mean_predicted", format_fixed(visibility.mean_predicted, 1)},
        {"mean_observed", format_fixed(visibility.mean_observed, 1)},
        {"mean_missing", format_fixed(visibility.mean_missing, 1)},
        {"mean_unexpected", format_fixed(visibility.mean_unexpected, 1)},
        {"confirmation_rate", percent_text(visibility.confirmation_rate)},
    };
    if (!dict_set(dict.get(), "_overall", new_text_dict(overall))) return nullptr;
    return dict.release();
}

PyObject* get_constellation_summary(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = signature("AnalysisResult.get_constellation_summary", 1, "name");
    Slots<1> slots;
    std::string_view name;
    if (!bind(sig, args, nargsf, kwnames, slots) || !to_text(slots[0], "name", name)) return nullptr;
    SharedBorrow<AnalysisResult> result;
    if (!result.acquire(self)) return nullptr;
    const auto found = result->constellation_stats.find(name);
    if (found == result->constellation_stats.end()) Py_RETURN_NONE;
    const ConstellationStats& stats = found->second;
    const std::pair<std::string_view, std::string> entries[] = {
        {"system", stats.system},
        {"constellation", stats.system},
        {"satellite_count", text_of(stats.satellite_count)},
        {"satellites_observed", text_of(stats.satellite_count)},
        {"satellites_expected", text_of(stats.satellites_expected)},
        {"observation_count", text_of(stats.observation_count)},
        {"mean_cn0", format_fixed(stats.mean_cn0, 1)},
        {"cn0_mean", format_fixed(stats.mean_cn0, 1)},
        {"min_cn0", format_fixed(stats.min_cn0, 1)},
        {"max_cn0", format_fixed(stats.max_cn0, 1)},
        {"std_cn0", format_fixed(stats.std_cn0, 2)},
        {"cn0_std", format_fixed(stats.std_cn0, 2)},
        {"availability_ratio", format_fixed(stats.availability_ratio, 3)},
        {"cycle_slips", text_of(stats.cycle_slips)},
        {"data_gaps", text_of(stats.data_gaps)},
    };
    return new_text_dict(entries);
}

PyObject* result_repr(const AnalysisResult& result) {
    const ResultSummary& summary = result.summary;
    std::string text = "AnalysisResult(observations=";
    text.append(text_of(summary.total_observations));
    text.append(", satellites=").append(text_of(summary.total_satellites));
    text.append(", epochs=").append(text_of(summary.total_epochs));
    text.append(", mean_cn0=").append(format_fixed(summary.mean_cn0, 1));
    text.append(", anomalies=").append(text_of(summary.anomaly_count)).append(")");
    return new_text(text);
}

template <PyObject* (*Read)(const AnalysisResult&)>
constexpr PyGetSetDef property(const char* name, const char* doc) {
    return read_only<AnalysisResult, Read>(name, doc);
}

template <PyObject* (*Read)(const AnalysisResult&)>
constexpr PyMethodDef method(const char* name, const char* doc) {
    return read_method<AnalysisResult, Read>(name, doc);
}

PyGetSetDef result_properties[] = {
    property<&file_text<&FileInfo::filename>>("filename", "Get filename"),
    property<&rinex_version>("rinex_version", "Get RINEX version (placeholder)"),
    property<&station_name>("station_name", "Get station name (marker name)"),
    property<&file_text<&FileInfo::receiver_type>>("receiver_type", "Get receiver type"),
    property<&file_text<&FileInfo::antenna_type>>("antenna_type", "Get antenna type"),
    property<&file_text<&FileInfo::start_time>>("start_time", "Get start time"),
    property<&file_text<&FileInfo::end_time>>("end_time", "Get end time"),
    property<&file_number<&FileInfo::duration_hours>>("duration_hours", "Get duration in hours"),
    property<&file_number<&FileInfo::interval>>("interval", "Get observation interval"),
    property<&file_number<&FileInfo::position_lat>>("position_lat", "Get receiver latitude"),
    property<&file_number<&FileInfo::position_lon>>("position_lon", "Get receiver longitude"),
    property<&summary_count<&ResultSummary::total_observations>>("total_observations", "Get total observations"),
    property<&summary_count<&ResultSummary::total_satellites>>("total_satellites", "Get total satellites"),
    property<&summary_count<&ResultSummary::total_epochs>>("total_epochs", "Get total epochs (alias: epoch_count)"),
    property<&summary_count<&ResultSummary::total_epochs>>("epoch_count", "Get epoch count (alias for total_epochs)"),
    property<&systems_observed>("constellations", "Get constellations observed"),
    property<&summary_number<&ResultSummary::mean_cn0>>("mean_cn0", "Get mean CN0 (alias: avg_cn0)"),
    property<&summary_number<&ResultSummary::mean_cn0>>("avg_cn0", "Get average CN0 (alias for mean_cn0)"),
    property<&summary_number<&ResultSummary::min_cn0>>("min_cn0", "Get min CN0"),
    property<&summary_number<&ResultSummary::max_cn0>>("max_cn0", "Get max CN0"),
    property<&cn0_std_dev_property>("cn0_std_dev", "Get CN0 standard deviation (computed from timeseries)"),
    property<&summary_count<&ResultSummary::anomaly_count>>("anomaly_count", "Get anomaly count"),
    property<&summary_count<&ResultSummary::critical_count>>("critical_count", "Get critical anomaly count"),
    property<&jamming>("jamming_detected",
                       "Check if jamming detected\n"
                       "Real jamming causes: severe CN0 drops (>10dB) across MULTIPLE satellites simultaneously\n"
                       "AND low average CN0 (<35 dB-Hz) or high percentage of critical anomalies"),
    property<&spoofing>("spoofing_detected",
                        "Check if spoofing detected\n"
                        "Real spoofing indicators:\n"
                        "1. Many unexpected satellites (>40% not in ephemeris) with GOOD signals\n"
                        "2. Satellites appearing with impossible geometry (wrong hemisphere, etc.)\n"
                        "Note: Low CN0 std deviation is NOT a spoofing indicator - it's actually good data!"),
    property<&interference>("interference_detected",
                            "Check if interference detected\n"
                            "Requires meaningful anomaly count - not just isolated events"),
    property<&quality_score_object>("quality_score", "Get quality score object with all metrics"),
    property<&score>("score", "Get quality score value (alias for overall)"),
    property<&quality_grade>("quality_grade", "Get quality grade"),
    property<&interpretation>("summary", "Get summary interpretation"),
    property<&skyplot_coverage>("skyplot_coverage", "Get skyplot coverage percent"),
    property<&skyplot_trace_count>("skyplot_trace_count", "Get number of skyplot traces"),
    property<&has_visibility_prediction>("has_visibility_prediction", "Check if visibility prediction is available"),
    property<&visibility_prediction_source>("visibility_prediction_source", "Get visibility prediction source"),
    property<&visibility_number<&VisibilitySummary::confirmation_rate>>("visibility_confirmation_rate",
                                                                        "Get visibility confirmation rate"),
    property<&visibility_number<&VisibilitySummary::mean_predicted>>("visibility_mean_predicted",
                                                                     "Get mean predicted satellites"),
    property<&visibility_number<&VisibilitySummary::mean_observed>>("visibility_mean_observed",
                                                                    "Get mean observed satellites"),
    property<&visibility_number<&VisibilitySummary::mean_missing>>("visibility_mean_missing",
                                                                   "Get mean missing satellites per epoch"),
    property<&visibility_number<&VisibilitySummary::mean_unexpected>>(
        "visibility_mean_unexpected", "Get mean unexpected satellites per epoch (seen but not predicted)"),
    property<&visibility_anomaly_count>("visibility_anomaly_count", "Get visibility anomaly count"),
    {},
};

PyMethodDef result_methods[] = {
    method<&to_json>("to_json", "to_json($self)\n--\n\nConvert to JSON string"),
    method<&to_json_pretty>("to_json_pretty", "to_json_pretty($self)\n--\n\nConvert to pretty JSON string"),
    method<&get_anomalies>("get_anomalies", "get_anomalies($self)\n--\n\nGet anomalies list"),
    fastcall_method<&get_constellation_summary>(
        "get_constellation_summary",
        "get_constellation_summary($self, name)\n--\n\nGet constellation summary by name"),
    method<&systems_observed>("get_systems", "get_systems($self)\n--\n\nGet systems observed"),
    method<&get_timeseries_data>("get_timeseries_data", "get_timeseries_data($self)\n--\n\nGet timeseries data as dict"),
    method<&get_timestamps>("get_timestamps", "get_timestamps($self)\n--\n\nGet timeseries timestamps"),
    method<&get_timeseries_cn0>("get_timeseries_cn0", "get_timeseries_cn0($self)\n--\n\nGet timeseries mean CN0 values"),
    method<&get_timeseries_cn0>("get_mean_cn0_series",
                                "get_mean_cn0_series($self)\n--\n\nGet timeseries mean CN0 values"),
    method<&get_satellite_count_series>("get_satellite_count_series",
                                        "get_satellite_count_series($self)\n--\n\nGet timeseries satellite counts"),
    method<&get_skyplot_data>("get_skyplot_data",
                              "get_skyplot_data($self)\n--\n\nGet skyplot data as list of trace dicts"),
    method<&get_satellite_ids>("get_satellite_ids", "get_satellite_ids($self)\n--\n\nGet satellite IDs"),
    method<&get_anomaly_timestamps>("get_anomaly_timestamps",
                                    "get_anomaly_timestamps($self)\n--\n\nGet anomaly timestamps"),
    method<&get_anomaly_severities>("get_anomaly_severities",
                                    "get_anomaly_severities($self)\n--\n\nGet anomaly severities"),
    method<&get_anomaly_cn0_drops>("get_anomaly_cn0_drops", "get_anomaly_cn0_drops($self)\n--\n\nGet anomaly CN0 drops"),
    method<&visibility_list<&VisibilitySummary::frequently_missing>>(
        "get_frequently_missing_satellites",
        "get_frequently_missing_satellites($self)\n--\n\nGet frequently missing satellites (possible obstructions)"),
    method<&visibility_list<&VisibilitySummary::frequently_unexpected>>(
        "get_frequently_unexpected_satellites",
        "get_frequently_unexpected_satellites($self)\n--\n\nGet frequently unexpected satellites (possible spoofing)"),
    method<&get_visibility_anomaly_types>("get_visibility_anomaly_types",
                                          "get_visibility_anomaly_types($self)\n--\n\nGet visibility anomaly types"),
    method<&get_visibility_anomaly_descriptions>(
        "get_visibility_anomaly_descriptions",
        "get_visibility_anomaly_descriptions($self)\n--\n\nGet visibility anomaly descriptions"),
    method<&visibility_debug>("visibility_debug",
                              "visibility_debug($self)\n--\n\nGet detailed visibility debug info per system"),
    {},
};

}  // namespace

PyTypeObject* analysis_result_type() {
    static const ClassSpec definition{
        .qualified_name = "builtins.AnalysisResult",
        .doc = "Python wrapper for AnalysisResult",
        .methods = result_methods,
        .getset = result_properties,
        .repr = &repr_entry<AnalysisResult, &result_repr>,
    };
    return cached_class<AnalysisResult>(result_cache, definition);
}

PyTypeObject* quality_score_type() {
    static const ClassSpec definition{
        .qualified_name = "builtins.QualityScore",
        .doc = "Python wrapper for QualityScore with notebook-compatible attributes",
        .getset = score_attributes,
        .repr = &repr_entry<NotebookScore, &score_repr>,
    };
    return cached_class<NotebookScore>(score_cache, definition);
}

PyObject* new_analysis_result(AnalysisResult&& result) {
    PyTypeObject* type = analysis_result_type();
    if (type == nullptr) return nullptr;
    return new_instance(type, std::move(result));
}

}  // namespace vardoln::py
