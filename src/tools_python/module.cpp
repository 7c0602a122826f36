// Module entry of vardoln_tools._native: the functions, in the order of the Python package.
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

PyMethodDef functions[] = {
    py::fastcall_method<&observations>("observations", "observations(path)\n--\n\n"
                                                       "Every observation value of the file as columns."),
    py::fastcall_method<&geometry>("geometry", "geometry(obs_path, nav_paths)\n--\n\n"
                                               "Azimuth and elevation of the observed satellites at their epochs."),
    py::fastcall_method<&coverage>("coverage", "coverage(obs_path, nav_paths, systems=None)\n--\n\n"
                                               "Satellite-epochs with a C/N0 sample and those with a position, "
                                               "per constellation."),
    py::fastcall_method<&signal_stats>("signal_stats",
                                       "signal_stats(obs_path, nav_paths=None, min_elevation=5.0, systems=None)\n--\n\n"
                                       "C/N0 statistics per satellite and code and per constellation and code."),
    py::fastcall_method<&elevation_profile>("elevation_profile",
                                            "elevation_profile(obs_path, nav_paths, bin_deg=5.0)\n--\n\n"
                                            "C/N0 per constellation, code and elevation bin."),
    py::fastcall_method<&completeness>("completeness", "completeness(obs_path, nav_paths, min_elevation=10.0)\n--\n\n"
                                                       "Expected against present observations per constellation and code."),
    py::fastcall_method<&visibility_timeline>(
        "visibility_timeline", "visibility_timeline(obs_path, nav_paths, min_elevation, systems=None)\n--\n\n"
                               "Predicted, observed and confirmed satellites per epoch and constellation."),
    py::fastcall_method<&visibility_summary>(
        "visibility_summary",
        "visibility_summary(obs_path, nav_paths, min_elevation, systems, spoofing_unexpected_threshold, "
        "spoofing_min_unexpected_count)\n--\n\n"
        "The analysis's visibility summary and spoofing rule over the selected constellations only."),
    py::fastcall_method<&facts>("facts", "facts(obs_path)\n--\n\n"
                                         "The header facts and time span of a recording, as every table carries them."),
    py::fastcall_method<&plot_views>(
        "plot_views", "plot_views(obs_path, nav_paths, systems, min_elevation, min_cn0, max_cn0, result=None)\n--\n\n"
                      "Skyplot tracks, heatmap grid and per-constellation series as the analysis with these "
                      "settings makes them, and the per-epoch visibility counts."),
    py::fastcall_method<&qc>("qc", "qc(obs_path, nav_paths=None, min_elevation=10.0, with_tables=False, "
                                   "coverage_systems=None)\n--\n\n"
                                   "Multipath, arcs and phase slips per satellite and signal pair; with tables "
                                   "also the per-signal C/N0, completeness and coverage."),
    py::fastcall_method<&judge>(
        "judge", "judge(obs_path, nav_paths=None, min_elevation=5.0, drop_db=6.0, event_satellites=4, "
                 "systems=None, spoofing_unexpected_threshold=0.4, spoofing_min_unexpected_count=8.0)\n--\n\n"
                 "The detector's events, the health criteria and grade, the navigation coverage and the "
                 "visibility check over the selected constellations, from one read of the files."),
    py::fastcall_method<&health_rules>("health_rules", "health_rules()\n--\n\n"
                                                       "The grade rules, the criteria thresholds and the nominal "
                                                       "C/N0 levels of the health grade."),
    py::fastcall_method<&band>("band", "band(system, code, rinex_version)\n--\n\n"
                                       "The frequency band (L1, L2, E6, L5) of an observation code, or None."),
    py::fastcall_method<&load>("load", "load(obs, nav=None)\n--\n\n"
                                       "A recording loaded once: the observations (a path, a (path, bytes) pair or a "
                                       "vardoln_cn0.RinexObsData) and the navigation data (None, a NavigationData, or "
                                       "a list of files, merged), for every table, check and analysis of it."),
    py::fastcall_method<&trend>("trend", "trend(days, values, window_days=45, resamples=1000, confidence=0.95, "
                                         "min_segment_days=10, seed=20261209)\n--\n\n"
                                         "A daily series (int64 days, float64 values, NaN: no data) against its "
                                         "own past: each day's band of the days with data before it, its flag, "
                                         "and the change points of the rank cumulative sum."),
    py::fastcall_method<&rtcm_week>("rtcm_week", "rtcm_week(data, near_gps_ms)\n--\n\nThe GPS week of the "
                                                 "first epoch of an RTCM 3 stream from its own broadcast ephemerides "
                                                 "(their truncated weeks read near near_gps_ms), or None."),
    py::fastcall_method<&read_rtcm>("read_rtcm", "read_rtcm(path_or_bytes, gps_week=None, near_gps_ms=None)\n--\n\n"
                                                 "A recording of the observation epochs of an RTCM 3 stream (a path "
                                                 "or its bytes): pseudorange, phase and C/N0 per signal, dated from "
                                                 "the GPS week of its first epoch (without one: from the stream's "
                                                 "ephemerides read near near_gps_ms), with the ephemerides it "
                                                 "carries as its navigation data."),
    py::fastcall_method<&write_rtcm>("write_rtcm", "write_rtcm(recording, msm=7, station=0)\n--\n\n"
                                                   "The recording as an RTCM 3 stream: one MSM4 to MSM7 message per "
                                                   "constellation and epoch, 1005 and 1033 every 30 s, and the "
                                                   "ephemerides of its navigation data after the first of them."),
    py::fastcall_method<&write_rinex_obs>(
        "write_rinex_obs", "write_rinex_obs(recording_or_obs, first=None, last=None, program='vardoln-cn0', "
                           "run_by='', date=None, time_system=None)\n--\n\n"
                           "The observations (a Recording or a vardoln_cn0.RinexObsData) as RINEX 3.04 text, epochs "
                           "first to last (indices, both included); date None: now, in UTC; time_system None: "
                           "the sole constellation's, else GPS."),
    py::fastcall_method<&write_rinex_nav>(
        "write_rinex_nav", "write_rinex_nav(recording_or_nav, program='vardoln-cn0', run_by='', date=None)\n--\n\n"
                           "The navigation records (a Recording or a vardoln_cn0.NavigationData) as RINEX 3.04 "
                           "mixed navigation text; date None: now, in UTC."),
    py::fastcall_method<&read_file>("read_file", "read_file(path)\n--\n\n"
                                                 "The bytes of a file, read once by the core's reader."),
    py::fastcall_method<&counters>("counters", "counters()\n--\n\n"
                                               "Files read, files parsed, satellite geometry passes and analyses "
                                               "run so far in this process, by both extensions."),
    py::fastcall_method<&stored_quality>("stored_quality", "stored_quality(result)\n--\n\n"
                                                           "The quality score an AnalysisResult stores, as a dict."),
    py::fastcall_method<&grade_bands>("grade_bands", "grade_bands()\n--\n\n"
                                                     "The stored grade's bands: (lower bound, grade, sentence), the "
                                                     "lowest with None."),
    py::fastcall_method<&config_record>("config_record", "config_record(config)\n--\n\n"
                                                         "The values an AnalysisConfig stores, as a dict."),
    py::fastcall_method<&analysis_config>("analysis_config", "analysis_config(record)\n--\n\n"
                                                             "An AnalysisConfig storing exactly the values of a "
                                                             "config_record dict (absent keys: the record's defaults)."),
    py::fastcall_method<&predictable_systems>("predictable_systems",
                                              "predictable_systems()\n--\n\n"
                                              "The constellations whose broadcast records position satellites."),
    py::fastcall_method<&budget_fit>("budget_fit", "budget_fit(path, budget)\n--\n\n"
                                               "'within', or 'file' or 'expansion' when the file or the text of "
                                               "its archive layers passes budget bytes."),
    py::fastcall_method<&navigation_text>("navigation_text", "navigation_text(path)\n--\n\n"
                                                             "The file's bytes with gzip, Unix compress and "
                                                             "compact RINEX layers removed."),
    {},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "vardoln_tools._native",
    "Native arrays and tables of vardoln_tools (private; use the functions of vardoln_tools).",
    -1,  // single-phase: one module per process, as the core's extension
    functions,
    nullptr, nullptr, nullptr, nullptr,
};

PyObject* initialise() {
    Ref module(PyModule_Create(&module_def));
    if (!module) return nullptr;
    PyTypeObject* buffer = buffer_type();
    if (buffer == nullptr) return nullptr;
    if (PyModule_AddObjectRef(module.get(), "Buffer", reinterpret_cast<PyObject*>(buffer)) < 0) return nullptr;
    PyTypeObject* recording = recording_type();
    if (recording == nullptr) return nullptr;
    if (PyModule_AddObjectRef(module.get(), "Recording", reinterpret_cast<PyObject*>(recording)) < 0) return nullptr;
    PyTypeObject* live = live_stream_type();
    if (live == nullptr) return nullptr;
    if (PyModule_AddObjectRef(module.get(), "LiveStream", reinterpret_cast<PyObject*>(live)) < 0) return nullptr;
    return module.release();
}

}  // namespace

}  // namespace vardoln::tools

PyMODINIT_FUNC PyInit__native(void) {
    return vardoln::py::guarded<PyObject*>([] { return vardoln::tools::initialise(); }, nullptr);
}
