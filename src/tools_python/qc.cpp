// Station quality control: multipath, arcs and phase slips per satellite and signal pair, with
// the per-sample multipath arrays and the slip events as buffers. On request the same pass also
// builds the per-signal C/N0 statistics, completeness and navigation coverage of the recording,
// so that a whole QC report reads the files once.
#include <cmath>
#include <limits>
#include <system_error>
#include <thread>

#include "arrays/completeness.hpp"
#include "arrays/coverage.hpp"
#include "arrays/positions.hpp"
#include "arrays/signals.hpp"
#include "arrays/tables.hpp"
#include "qc/qc.hpp"
#include "qc/signals.hpp"
#include "rinex/ids.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

constexpr double kNothing = std::numeric_limits<double>::quiet_NaN();

double or_nan(const std::optional<double>& value) { return value.value_or(kNothing); }

const char* reason_name(MissingReason reason) {
    switch (reason) {
        case MissingReason::no_signal: return "no_signal";
        case MissingReason::never_together: return "never_together";
        case MissingReason::no_glonass_channel: return "no_glonass_channel";
        case MissingReason::below_mask: return "below_mask";
    }
    return "unknown";
}

// The per-signal tables of the same recording, made without the lock beside the QC pass.
struct SignalTables {
    arrays::SignalStats stats;
    std::optional<std::vector<arrays::CoverageRow>> coverage;       // with navigation data
    std::optional<std::variant<arrays::Completeness, std::string>> completeness;  // the same
};

struct QcOutcome {
    QcResult result;
    std::vector<std::int64_t> epoch_times;  // datetime64 nanoseconds of every epoch of the record
    std::optional<SignalTables> tables;
};

// The signal pairs in index order: constellation letter, name and the names of its two signals.
PyObject* pairs_object() {
    Ref pairs(PyDict_New());
    if (!pairs) return nullptr;
    std::vector<std::string> systems, names, first, second;
    const auto rules = signal_rules();
    for (const SignalPair& pair : signal_pairs()) {
        systems.push_back(observed_system_name(pair.system));
        names.emplace_back(pair.name);
        first.emplace_back(rules[pair.first].name);
        second.emplace_back(rules[pair.second].name);
    }
    if (!py::dict_set(pairs.get(), "system", py::new_text_list(systems)) ||
        !py::dict_set(pairs.get(), "name", py::new_text_list(names)) ||
        !py::dict_set(pairs.get(), "first", py::new_text_list(first)) ||
        !py::dict_set(pairs.get(), "second", py::new_text_list(second))) {
        return nullptr;
    }
    return pairs.release();
}

PyObject* rows_object(std::vector<SatellitePairQc>&& rows, const std::vector<std::string>& satellites) {
    Ref table(PyDict_New());
    if (!table) return nullptr;
    std::vector<std::string> satellite, codes_used, code_i, code_j;
    std::vector<std::uint8_t> pair;
    std::vector<std::uint32_t> observations, samples, arcs, short_arcs, slips, lli_slips;
    std::vector<double> rms_i, rms_j, obs_per_slip;
    for (SatellitePairQc& row : rows) {
        satellite.push_back(std::move(row.satellite));
        pair.push_back(row.pair);
        codes_used.push_back(row.codes.text());
        code_i.push_back(std::move(row.codes.code_i));
        code_j.push_back(std::move(row.codes.code_j));
        observations.push_back(row.observations);
        samples.push_back(row.samples);
        arcs.push_back(row.arcs);
        short_arcs.push_back(row.short_arcs);
        slips.push_back(row.slips);
        lli_slips.push_back(row.lli_slips);
        rms_i.push_back(or_nan(row.rms_i_m));
        rms_j.push_back(or_nan(row.rms_j_m));
        obs_per_slip.push_back(or_nan(row.obs_per_slip));
    }
    if (!py::dict_set(table.get(), "satellites", py::new_text_list(satellites)) ||
        !py::dict_set(table.get(), "satellite", py::new_text_list(satellite)) ||
        !set_array(table.get(), "pair", std::move(pair)) ||
        !py::dict_set(table.get(), "codes_used", py::new_text_list(codes_used)) ||
        !py::dict_set(table.get(), "code_i", py::new_text_list(code_i)) ||
        !py::dict_set(table.get(), "code_j", py::new_text_list(code_j)) ||
        !set_array(table.get(), "observations", std::move(observations)) ||
        !set_array(table.get(), "samples", std::move(samples)) || !set_array(table.get(), "arcs", std::move(arcs)) ||
        !set_array(table.get(), "short_arcs", std::move(short_arcs)) ||
        !set_array(table.get(), "slips", std::move(slips)) ||
        !set_array(table.get(), "lli_slips", std::move(lli_slips)) ||
        !set_array(table.get(), "rms_i", std::move(rms_i)) || !set_array(table.get(), "rms_j", std::move(rms_j)) ||
        !set_array(table.get(), "obs_per_slip", std::move(obs_per_slip))) {
        return nullptr;
    }
    return table.release();
}

PyObject* optional_float(const std::optional<double>& value) {
    return value ? py::new_float(*value) : Py_NewRef(Py_None);
}

// One dict per constellation pair; a handful, so plain objects.
PyObject* summaries_object(const std::vector<PairSummary>& summaries) {
    Ref list(PyList_New(0));
    if (!list) return nullptr;
    for (const PairSummary& summary : summaries) {
        Ref entry(PyDict_New());
        Ref bins(PyList_New(0));
        if (!entry || !bins) return nullptr;
        for (const ElevationBin& bin : summary.by_elevation) {
            Ref item(Py_BuildValue("(dKdd)", bin.lower_deg, static_cast<unsigned long long>(bin.samples), bin.rms_i_m,
                                   bin.rms_j_m));
            if (!item || PyList_Append(bins.get(), item.get()) < 0) return nullptr;
        }
        if (!py::dict_set(entry.get(), "pair", py::new_int(summary.pair)) ||
            !py::dict_set(entry.get(), "satellites", py::new_int(summary.satellites)) ||
            !py::dict_set(entry.get(), "observations", py::new_int(summary.observations)) ||
            !py::dict_set(entry.get(), "samples", py::new_int(summary.samples)) ||
            !py::dict_set(entry.get(), "arcs", py::new_int(summary.arcs)) ||
            !py::dict_set(entry.get(), "short_arcs", py::new_int(summary.short_arcs)) ||
            !py::dict_set(entry.get(), "slips", py::new_int(summary.slips)) ||
            !py::dict_set(entry.get(), "lli_slips", py::new_int(summary.lli_slips)) ||
            !py::dict_set(entry.get(), "rms_i", optional_float(summary.rms_i_m)) ||
            !py::dict_set(entry.get(), "rms_j", optional_float(summary.rms_j_m)) ||
            !py::dict_set(entry.get(), "obs_per_slip", optional_float(summary.obs_per_slip)) ||
            !py::dict_set(entry.get(), "codes_used", py::new_text_list(summary.codes_used)) ||
            !py::dict_set(entry.get(), "by_elevation", bins.release()) || PyList_Append(list.get(), entry.get()) < 0) {
            return nullptr;
        }
    }
    return list.release();
}

PyObject* missing_object(const std::vector<MissingPair>& missing) {
    Ref list(PyList_New(0));
    if (!list) return nullptr;
    for (const MissingPair& entry : missing) {
        Ref item(Py_BuildValue("{s:i,s:s#,s:s,s:s#}", "pair", static_cast<int>(entry.pair), "satellite",
                               entry.satellite.data(), static_cast<Py_ssize_t>(entry.satellite.size()), "reason",
                               reason_name(entry.reason), "text", entry.text.data(),
                               static_cast<Py_ssize_t>(entry.text.size())));
        if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
    }
    return list.release();
}

// Samples and slip events with their epoch's time in place of the epoch index.
std::vector<std::int64_t> times_of(const std::vector<std::uint32_t>& epochs, const std::vector<std::int64_t>& times) {
    std::vector<std::int64_t> out;
    out.reserve(epochs.size());
    for (const std::uint32_t epoch : epochs) out.push_back(epoch < times.size() ? times[epoch] : arrays::kNoTime);
    return out;
}

PyObject* samples_object(MultipathSamples&& samples, const std::vector<std::int64_t>& times) {
    Ref table(PyDict_New());
    if (!table) return nullptr;
    if (!set_array(table.get(), "time", times_of(samples.epoch, times)) ||
        !set_array(table.get(), "satellite", std::move(samples.satellite)) ||
        !set_array(table.get(), "pair", std::move(samples.pair)) ||
        !set_array(table.get(), "mp_i", std::move(samples.mp_i_m)) ||
        !set_array(table.get(), "mp_j", std::move(samples.mp_j_m)) ||
        !set_array(table.get(), "elevation", std::move(samples.elevation_deg))) {
        return nullptr;
    }
    return table.release();
}

PyObject* slips_object(std::vector<PhaseSlipEvent>&& events, const std::vector<std::int64_t>& times) {
    Ref table(PyDict_New());
    if (!table) return nullptr;
    std::vector<std::uint32_t> epoch, satellite;
    std::vector<std::uint8_t> pair, geometry_free, wide_lane, lost_lock;
    for (const PhaseSlipEvent& event : events) {
        epoch.push_back(event.epoch);
        satellite.push_back(event.satellite);
        pair.push_back(event.pair);
        geometry_free.push_back(event.geometry_free);
        wide_lane.push_back(event.wide_lane);
        lost_lock.push_back(event.lost_lock);
    }
    if (!set_array(table.get(), "time", times_of(epoch, times)) ||
        !set_array(table.get(), "satellite", std::move(satellite)) || !set_array(table.get(), "pair", std::move(pair)) ||
        !set_flags(table.get(), "geometry_free", std::move(geometry_free)) ||
        !set_flags(table.get(), "wide_lane", std::move(wide_lane)) ||
        !set_flags(table.get(), "lost_lock", std::move(lost_lock))) {
        return nullptr;
    }
    return table.release();
}

bool set_signal_tables(PyObject* out, SignalTables&& tables, const arrays::Recording& recording) {
    if (!py::dict_set(out, "signal_stats", signal_stats_tables(std::move(tables.stats), recording))) return false;
    if (tables.coverage && !py::dict_set(out, "coverage", coverage_table(std::move(*tables.coverage), recording))) {
        return false;
    }
    if (tables.completeness) {
        // A grid the recording cannot give (an INTERVAL that does not belong to the data) is the
        // one table the report can go without: its reason goes in its place.
        if (auto* refusal = std::get_if<std::string>(&*tables.completeness)) {
            return py::dict_set(out, "completeness_refused", py::new_text(*refusal));
        }
        return py::dict_set(out, "completeness",
                            completeness_table(std::get<arrays::Completeness>(std::move(*tables.completeness)),
                                               recording));
    }
    return true;
}

PyObject* qc_object(QcOutcome&& outcome, const arrays::Recording& recording) {
    QcResult& result = outcome.result;
    Ref out(PyDict_New());
    if (!out) return nullptr;
    Ref rules(Py_BuildValue("{s:d,s:d,s:d,s:I}", "gap_limit", result.rules.gap_limit_s, "geometry_free_threshold",
                            ArcRules::geometry_free_threshold_m(result.interval_s), "wide_lane_threshold",
                            ArcRules::kWideLaneThresholdCycles, "min_arc_epochs",
                            static_cast<unsigned>(ArcRules::kMinArcEpochs)));
    if (!py::dict_set(out.get(), "epochs", py::new_int(result.epochs)) ||
        !py::dict_set(out.get(), "interval", py::new_float(result.interval_s)) ||
        !py::dict_set(out.get(), "rules", rules.release()) ||
        !py::dict_set(out.get(), "has_elevations", py::new_bool(result.has_elevations)) ||
        !py::dict_set(out.get(), "pairs", pairs_object()) ||
        !py::dict_set(out.get(), "rows", rows_object(std::move(result.rows), result.satellites)) ||
        !py::dict_set(out.get(), "summaries", summaries_object(result.summaries)) ||
        !py::dict_set(out.get(), "missing", missing_object(result.missing)) ||
        !py::dict_set(out.get(), "samples", samples_object(std::move(result.samples), outcome.epoch_times)) ||
        !py::dict_set(out.get(), "slips", slips_object(std::move(result.slip_events), outcome.epoch_times)) ||
        !py::dict_set(out.get(), "facts", recording_facts(recording.obs())) ||
        (recording.nav() && !py::dict_set(out.get(), "navigation_spans", navigation_spans_object(*recording.nav())))) {
        return nullptr;
    }
    if (outcome.tables && !set_signal_tables(out.get(), std::move(*outcome.tables), recording)) return nullptr;
    return out.release();
}

}  // namespace

PyObject* qc(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig =
        py::signature("qc", 1, "obs_path", "nav_paths", "min_elevation", "with_tables", "coverage_systems");
    py::Slots<5> slots;
    Source source;
    double min_elevation = 10.0;
    bool with_tables = false;
    std::optional<std::string> coverage_letters;
    if (!py::bind(sig, args, nargsf, kwnames, slots) ||
        !table_arguments(slots.data(), true, "min_elevation", source, min_elevation) ||
        !py::bool_or_default(slots[3], "with_tables", with_tables) ||
        !py::text_or_absent(slots[4], "coverage_systems", coverage_letters)) {
        return nullptr;
    }
    return with_recording(
        source,
        [&](const arrays::Recording& recording) -> std::variant<QcOutcome, Refusal> {
            const NavigationData* nav = recording.nav();
            QcOutcome outcome;
            outcome.epoch_times.reserve(recording.obs().epochs.size());
            for (const ObservationEpoch& epoch : recording.obs().epochs) {
                outcome.epoch_times.push_back(arrays::epoch_nanoseconds(epoch.time));
            }
            if (with_tables) {
                // Every pass only reads the record, and the satellite positions and elevations at
                // its entries are computed once for all four. Coverage and completeness run on a second
                // thread beside the QC pass and the statistics (each keeps its own results).
                SignalTables tables;
                // Without a receiver position no sample has an elevation: the statistics mask
                // nothing (as the QC pass) and completeness says why it is missing.
                const NavigationData* masked = recording.obs().approx_position ? nav : nullptr;
                const arrays::EntryGeometry* known = masked ? recording.geometry() : nullptr;
                auto side = [&] {
                    if (!nav) return;
                    tables.coverage = arrays::navigation_coverage(recording.obs(), *nav, known, coverage_letters);
                    tables.completeness = arrays::completeness(recording.obs(), *nav, min_elevation, known);
                };
                std::jthread helper;
                try {
                    helper = std::jthread(side);
                } catch (const std::system_error&) {
                    side();  // no thread to be had: the same work, one after the other
                }
                outcome.result = run_qc(recording.obs(), nav, QcSettings{min_elevation},
                                        known ? &known->elevation_deg : nullptr);
                tables.stats = arrays::signal_stats(recording.obs(), masked, min_elevation, std::nullopt, known);
                if (helper.joinable()) helper.join();
                outcome.tables = std::move(tables);
            } else {
                outcome.result = run_qc(recording.obs(), nav, QcSettings{min_elevation});
            }
            return outcome;
        },
        &qc_object);
}

}  // namespace vardoln::tools
