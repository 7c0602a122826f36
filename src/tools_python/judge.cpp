// One recording judged in one pass over its files: the band detector's events, the QC figures,
// completeness and navigation coverage, and the health grade made from them.
#include <cmath>
#include <system_error>
#include <thread>

#include "arrays/completeness.hpp"
#include "arrays/coverage.hpp"
#include "arrays/positions.hpp"
#include "arrays/tables.hpp"
#include "health/health.hpp"
#include "qc/qc.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

// Whether the visibility check can back a verdict: a receiver position and complete coverage.
bool visibility_checkable(const arrays::Recording& recording, bool coverage_complete) {
    return recording.nav() && recording.obs().approx_position && !recording.obs().epochs.empty() && coverage_complete;
}

struct Judged {
    bool visibility_checked = false;
    bool spans_overlap = false;
    bool coverage_complete = false;
    DetectorResult detector;
    QcResult qc;
    std::optional<std::vector<arrays::CoverageRow>> coverage;
    std::optional<std::variant<arrays::Completeness, std::string>> completeness;
    std::optional<SelectedVisibility> visibility;
    Health health;
};

PyObject* optional_number(double value) {
    return std::isnan(value) ? Py_NewRef(Py_None) : py::new_float(value);
}

PyObject* criteria_object(const std::vector<Criterion>& criteria) {
    Ref list(PyList_New(0));
    if (!list) return nullptr;
    for (const Criterion& c : criteria) {
        Ref item(PyDict_New());
        if (!item || !py::dict_set(item.get(), "group", py::new_text(group_name(c.group))) ||
            !py::dict_set(item.get(), "subject", py::new_text(c.subject)) ||
            !py::dict_set(item.get(), "figure", optional_number(c.figure)) ||
            !py::dict_set(item.get(), "second_figure", optional_number(c.second_figure)) ||
            !py::dict_set(item.get(), "status", py::new_text(status_name(c.status))) ||
            !py::dict_set(item.get(), "reason", py::new_text(c.reason)) || PyList_Append(list.get(), item.get()) < 0) {
            return nullptr;
        }
    }
    return list.release();
}

PyObject* judged_object(Judged&& judged, const arrays::Recording& recording) {
    Ref out(PyDict_New());
    if (!out) return nullptr;
    const Health& health = judged.health;
    if (!py::dict_set(out.get(), "detector", detector_object(judged.detector)) ||
        !py::dict_set(out.get(), "grade", py::new_text(std::string(1, health.grade))) ||
        !py::dict_set(out.get(), "sentence", py::new_text(health.sentence)) ||
        !py::dict_set(out.get(), "criteria", criteria_object(health.criteria)) ||
        !py::dict_set(out.get(), "warned", py::new_int(health.warned)) ||
        !py::dict_set(out.get(), "failed", py::new_int(health.failed)) ||
        !py::dict_set(out.get(), "qc_epochs", py::new_int(judged.qc.epochs)) ||
        !py::dict_set(out.get(), "visibility_checked", py::new_bool(judged.visibility_checked)) ||
        !py::dict_set(out.get(), "spans_overlap", py::new_bool(judged.spans_overlap)) ||
        !py::dict_set(out.get(), "coverage_complete", py::new_bool(judged.coverage_complete)) ||
        !py::dict_set(out.get(), "facts", recording_facts(recording.obs()))) {
        return nullptr;
    }
    if (judged.coverage && !py::dict_set(out.get(), "coverage", coverage_table(std::move(*judged.coverage), recording))) {
        return nullptr;
    }
    if (judged.visibility &&
        !py::dict_set(out.get(), "visibility", summary_object(std::move(*judged.visibility), recording))) {
        return nullptr;
    }
    return out.release();
}

}  // namespace

PyObject* judge(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig =
        py::signature("judge", 1, "obs_path", "nav_paths", "min_elevation", "drop_db", "event_satellites", "systems",
                      "spoofing_unexpected_threshold", "spoofing_min_unexpected_count");
    py::Slots<8> slots;
    Source source;
    DetectorSettings settings;
    double unexpected_threshold = 0.4;
    double min_unexpected_count = 8.0;
    if (!py::bind(sig, args, nargsf, kwnames, slots) ||
        !table_arguments(slots.data(), true, "min_elevation", source, settings.min_elevation_deg) ||
        !detector_arguments(slots.data() + 3, settings) ||
        !py::double_or_default(slots[6], "spoofing_unexpected_threshold", unexpected_threshold) ||
        !py::double_or_default(slots[7], "spoofing_min_unexpected_count", min_unexpected_count)) {
        return nullptr;
    }
    // The detector's letters; the tables take "every constellation" as no selection.
    const std::optional<std::string> letters =
        settings.systems.empty() ? std::nullopt : std::optional<std::string>(settings.systems);
    return with_recording(
        source,
        [&](const arrays::Recording& recording) -> std::variant<Judged, Refusal> {
            Judged judged;
            const NavigationData* nav = recording.nav();
            // Without a receiver position nothing has an elevation: QC masks nothing and the C/N0
            // criterion says why it is missing.
            const arrays::EntryGeometry* known = recording.geometry();
            const std::vector<double>* elevations = known ? &known->elevation_deg : nullptr;
            // Coverage, completeness and the visibility check on a second thread beside the QC pass
            // and the detector; each reads the record and keeps its own results.
            auto side = [&] {
                if (!nav) return;
                judged.coverage = arrays::navigation_coverage(recording.obs(), *nav, known, letters);
                judged.completeness = arrays::completeness(recording.obs(), *nav, settings.min_elevation_deg, known);
                judged.visibility = selected_visibility(recording.obs(), *nav, known, settings.min_elevation_deg,
                                                        letters, unexpected_threshold, min_unexpected_count);
            };
            std::jthread helper;
            try {
                helper = std::jthread(side);
            } catch (const std::system_error&) {
                side();  // no thread to be had: the same work, one after the other
            }
            judged.qc = run_qc(recording.obs(), nav, QcSettings{settings.min_elevation_deg}, elevations);
            judged.detector = detect_events(recording.obs(), elevations, settings);
            if (helper.joinable()) helper.join();

            HealthInputs inputs;
            inputs.obs = &recording.obs();
            inputs.qc = &judged.qc;
            inputs.detector = &judged.detector;
            inputs.entry_elevations_deg = elevations;
            inputs.systems = settings.systems;
            if (nav && !recording.obs().approx_position) {
                inputs.no_navigation_reason = "the observation header has no receiver position";
            }
            if (judged.coverage) inputs.coverage = &*judged.coverage;
            if (judged.completeness) {
                if (const auto* refusal = std::get_if<std::string>(&*judged.completeness)) {
                    inputs.completeness_refusal = *refusal;
                } else if (known) {
                    inputs.completeness = &std::get<arrays::Completeness>(*judged.completeness);
                }
            }
            if (judged.coverage) {
                judged.spans_overlap = arrays::spans_overlap(recording.obs(), *nav);
                judged.coverage_complete = arrays::coverage_complete(*judged.coverage, judged.spans_overlap);
            }
            judged.visibility_checked = visibility_checkable(recording, judged.coverage_complete);
            inputs.visibility_spoofing = judged.visibility_checked && judged.visibility && judged.visibility->spoofing;
            judged.health = assess_health(inputs);
            return judged;
        },
        &judged_object);
}

PyObject* health_rules(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("health_rules", 0);
    py::Slots<0> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    Ref grades(PyList_New(0));
    Ref thresholds(PyDict_New());
    Ref nominals(PyList_New(0));
    if (!grades || !thresholds || !nominals) return nullptr;
    for (const GradeRule& rule : kGradeRules) {
        Ref item(Py_BuildValue("(s#s#)", &rule.grade, Py_ssize_t{1}, rule.rule.data(),
                               static_cast<Py_ssize_t>(rule.rule.size())));
        if (!item || PyList_Append(grades.get(), item.get()) < 0) return nullptr;
    }
    const std::pair<const char*, Threshold> named[] = {
        {"completeness_percent", kCompletenessPercent},     {"multipath_metres", kMultipathMetres},
        {"observations_per_slip", kObservationsPerSlip},    {"cn0_shortfall_db", kCn0ShortfallDb},
        {"cn0_median_shortfall_db", kCn0MedianShortfallDb}, {"navigation_coverage_percent", kNavigationCoveragePercent},
    };
    for (const auto& [name, threshold] : named) {
        Ref item(Py_BuildValue("{s:d,s:d,s:O}", "pass", threshold.pass, "warn", threshold.warn, "higher_is_better",
                               threshold.higher_is_better ? Py_True : Py_False));
        if (!item || PyDict_SetItemString(thresholds.get(), name, item.get()) < 0) return nullptr;
    }
    for (const NominalLevel& level : nominal_levels()) {
        Ref item(Py_BuildValue("(s#s#s#d)", &level.system, Py_ssize_t{1}, &level.band, Py_ssize_t{1},
                               level.modes.data(), static_cast<Py_ssize_t>(level.modes.size()), level.db_hz));
        if (!item || PyList_Append(nominals.get(), item.get()) < 0) return nullptr;
    }
    return Py_BuildValue("{s:N,s:N,s:N,s:d}", "grades", grades.release(), "thresholds", thresholds.release(),
                         "nominal_cn0", nominals.release(), "complete_coverage_percent",
                         arrays::kCompleteCoveragePercent);
}

}  // namespace vardoln::tools
