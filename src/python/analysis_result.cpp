// AnalysisResult and QualityScore. Placeholder so the module links; the result helper owns
// this file and replaces it.
#include "cn0/result.hpp"
#include "python/classes.hpp"

namespace vardoln::py {

namespace {

struct NotebookScore {
    double overall = 0.0;
};

PyTypeObject* result_cache = nullptr;
PyTypeObject* score_cache = nullptr;

}  // namespace

PyTypeObject* analysis_result_type() {
    static const ClassSpec spec{
        .qualified_name = "builtins.AnalysisResult",
        .doc = "Python wrapper for AnalysisResult",
    };
    return cached_class<AnalysisResult>(result_cache, spec);
}

PyTypeObject* quality_score_type() {
    static const ClassSpec spec{
        .qualified_name = "builtins.QualityScore",
        .doc = "Python wrapper for QualityScore with notebook-compatible attributes",
    };
    return cached_class<NotebookScore>(score_cache, spec);
}

PyObject* new_analysis_result(AnalysisResult&& result) {
    PyTypeObject* type = analysis_result_type();
    if (type == nullptr) return nullptr;
    return new_instance(type, std::move(result));
}

}  // namespace vardoln::py
