// The module's records for the companion extension: a capsule, `vardoln_cn0._C_API`, holding a
// table of functions that reach the record inside one of the module's objects and make new
// objects from records, as CPython's datetime and NumPy export theirs. Both extensions are
// built from the same core sources by one build; the layout text tells a companion built apart
// from this module, which must then not use the table.
#pragma once

#include <string>

#include "cn0/result.hpp"
#include "cn0/settings.hpp"
#include "navigation/nav_data.hpp"
#include "python/binding.hpp"
#include "rinex/counters.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::py {

inline constexpr const char* kModuleApiName = "vardoln_cn0._C_API";

struct ModuleApi {
    // The layout of the records and of this table as the module was built; see layout_text().
    const char* layout;
    // The record inside an instance of the class, or nullptr with a TypeError naming `argument`
    // for any other object. These classes are immutable: the record lives, unchanged, as long as
    // the object does, and may be read without the interpreter lock while a reference is held.
    const RinexObsData* (*obs_data)(PyObject* object, const char* argument);
    const NavigationData* (*navigation_data)(PyObject* object, const char* argument);
    const AnalysisResult* (*analysis_result)(PyObject* object, const char* argument);
    // A copy of an AnalysisConfig's record into `out`; false with a TypeError for another object.
    bool (*analysis_config)(PyObject* object, const char* argument, AnalysisConfig* out);
    // New objects taking over the record (moved from); nullptr with an error set on failure.
    PyObject* (*new_obs_data)(RinexObsData* record);
    PyObject* (*new_navigation_data)(NavigationData* record);
    PyObject* (*new_analysis_result)(AnalysisResult* record);
    PyObject* (*new_analysis_config)(AnalysisConfig* record);
    // The module's own tallies of reads, parses, geometry passes and analyses.
    const CoreCounters* counters;
};

// The sizes of the records and of the table, and the compiler: equal on both sides of one build.
inline std::string layout_text() {
    return "api " + std::to_string(sizeof(ModuleApi)) + " obs " + std::to_string(sizeof(RinexObsData)) + " nav " +
           std::to_string(sizeof(NavigationData)) + " config " + std::to_string(sizeof(AnalysisConfig)) + " result " +
           std::to_string(sizeof(AnalysisResult)) + " counters " + std::to_string(sizeof(CoreCounters)) +
           " compiler " + __VERSION__;
}

// The capsule over the module's table (a new reference), for the module's `_C_API`.
PyObject* new_module_api_capsule();

}  // namespace vardoln::py
