// The module's classes and functions as module.cpp registers them, and the accessors that
// let one binding file reach another class's record.
#pragma once

#include "python/binding.hpp"

namespace vardoln {
struct RinexObsData;
struct NavigationData;
struct AnalysisConfig;
struct AnalysisResult;
}  // namespace vardoln

namespace vardoln::py {

// Type objects, created on first use and then reused (borrowed reference; nullptr with an
// error set when creation fails).
PyTypeObject* rinex_obs_data_type();   // rinex_obs_data.cpp
PyTypeObject* navigation_data_type();  // navigation_data.cpp
PyTypeObject* analysis_config_type();  // analysis_config.cpp
PyTypeObject* cn0_analyzer_type();     // cn0_analyzer.cpp
PyTypeObject* analysis_result_type();  // analysis_result.cpp
PyTypeObject* quality_score_type();    // analysis_result.cpp

// Module-level functions: static method definitions, in the module's registration order.
PyMethodDef* read_rinex_obs_def();         // rinex_obs_data.cpp
PyMethodDef* read_rinex_obs_bytes_def();   // rinex_obs_data.cpp
PyMethodDef* parse_rinex_def();            // rinex_obs_data.cpp
PyMethodDef* read_navigation_def();        // navigation_data.cpp
PyMethodDef* read_navigation_bytes_def();  // navigation_data.cpp
PyMethodDef* analyze_cn0_def();            // cn0_analyzer.cpp
PyMethodDef* version_def();                // module.cpp
PyMethodDef* download_tle_def();           // tle_functions.cpp
PyMethodDef* parse_tle_content_def();      // tle_functions.cpp

// Shared borrows of another class's record, for arguments such as CN0Analyzer(config) or
// from_obs(obs_data). `argument` names the parameter in the TypeError raised for an object of
// another class: "argument 'config': 'int' object cannot be converted to 'AnalysisConfig'".
bool borrow_rinex_obs_data(PyObject* object, const char* argument, SharedBorrow<RinexObsData>& out);
bool borrow_navigation_data(PyObject* object, const char* argument, SharedBorrow<NavigationData>& out);
bool borrow_analysis_config(PyObject* object, const char* argument, SharedBorrow<AnalysisConfig>& out);

// A new AnalysisResult object taking over the record (analysis_result.cpp).
PyObject* new_analysis_result(AnalysisResult&& result);

}  // namespace vardoln::py
