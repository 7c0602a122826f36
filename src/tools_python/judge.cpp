// One recording judged in one pass over its files: the band detector's events, the QC figures,
// completeness and navigation coverage, and the health grade made from them.
#include <cmath>
#include <system_error>
#include <thread>

#include "arrays/completeness.hpp"
#include "arrays/coverage.hpp"
#include "arrays/positions.hpp"
#include "health/health.hpp"
#include "qc/qc.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

struct Judged {
    DetectorResult detector;
    QcResult qc;
    std::optional<std::vector<arrays::CoverageRow>> coverage;
    std::optional<std::variant<arrays::Completeness, std::string>> completeness;
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
        !py::dict_set(out.get(), "facts", recording_facts(recording.obs))) {
        return nullptr;
    }
    if (judged.coverage && !py::dict_set(out.get(), "coverage", coverage_table(std::move(*judged.coverage), recording))) {
        return nullptr;
    }
    return out.release();
}

}  // namespace

PyObject* judge(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("judge", 1, "obs_path", "nav_paths", "min_elevation", "drop_db",
                                              "event_satellites", "systems");
    py::Slots<6> slots;
    std::string_view obs_path;
    std::optional<std::vector<std::string>> nav_paths;
    DetectorSettings settings;
    if (!py::bind(sig, args, nargsf, kwnames, slots) ||
        !table_arguments(slots.data(), true, "min_elevation", obs_path, nav_paths, settings.min_elevation_deg) ||
        !detector_arguments(slots.data() + 3, settings)) {
        return nullptr;
    }
    return with_recording(
        std::string(obs_path), nav_paths,
        [&](const arrays::Recording& recording) -> std::variant<Judged, Refusal> {
            Judged judged;
            const NavigationData* nav = recording.nav ? &*recording.nav : nullptr;
            // Without a receiver position nothing has an elevation: QC masks nothing and the C/N0
            // criterion says why it is missing.
            const std::optional<arrays::EntryGeometry> geometry =
                nav && recording.obs.approx_position ? arrays::entry_geometry(recording.obs, *nav) : std::nullopt;
            const arrays::EntryGeometry* known = geometry ? &*geometry : nullptr;
            const std::vector<double>* elevations = known ? &known->elevation_deg : nullptr;
            // Coverage and completeness on a second thread beside the QC pass and the detector;
            // each reads the record and keeps its own results.
            auto side = [&] {
                if (!nav) return;
                judged.coverage = arrays::navigation_coverage(recording.obs, *nav, known);
                judged.completeness = arrays::completeness(recording.obs, *nav, settings.min_elevation_deg, known);
            };
            std::jthread helper;
            try {
                helper = std::jthread(side);
            } catch (const std::system_error&) {
                side();  // no thread to be had: the same work, one after the other
            }
            judged.qc = run_qc(recording.obs, nav, QcSettings{settings.min_elevation_deg}, elevations);
            judged.detector = detect_events(recording.obs, elevations, settings);
            if (helper.joinable()) helper.join();

            HealthInputs inputs;
            inputs.obs = &recording.obs;
            inputs.qc = &judged.qc;
            inputs.detector = &judged.detector;
            inputs.entry_elevations_deg = elevations;
            inputs.systems = settings.systems;
            if (nav && !recording.obs.approx_position) {
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
            judged.health = assess_health(inputs);
            return judged;
        },
        &judged_object);
}

}  // namespace vardoln::tools
