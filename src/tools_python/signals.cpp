// Navigation coverage, per-signal C/N0 statistics, the C/N0-elevation profile and completeness.
#include "arrays/coverage.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

PyObject* coverage_table(std::vector<arrays::CoverageRow>&& rows, const arrays::Recording& recording) {
    Ref table(PyDict_New());
    if (!table) return nullptr;
    std::vector<std::string> systems;
    std::vector<std::uint64_t> observed, covered;
    std::vector<std::uint8_t> predictable;
    Ref uncovered(PyList_New(0));
    if (!uncovered) return nullptr;
    for (arrays::CoverageRow& row : rows) {
        systems.push_back(std::move(row.system));
        observed.push_back(row.observed);
        covered.push_back(row.covered);
        predictable.push_back(row.predictable);
        Ref names(py::new_text_list(row.uncovered_satellites));
        if (!names || PyList_Append(uncovered.get(), names.get()) < 0) return nullptr;
    }
    if (!py::dict_set(table.get(), "system", py::new_text_list(systems)) ||
        !set_array(table.get(), "observed", std::move(observed)) ||
        !set_array(table.get(), "covered", std::move(covered)) ||
        !py::dict_set(table.get(), "uncovered_satellites", uncovered.release()) ||
        !set_flags(table.get(), "predictable", std::move(predictable)) ||
        !py::dict_set(table.get(), "facts", recording_facts(recording.obs)) ||
        !py::dict_set(table.get(), "navigation_spans", navigation_spans_object(*recording.nav))) {
        return nullptr;
    }
    return table.release();
}

}  // namespace

PyObject* coverage(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("coverage", 2, "obs_path", "nav_paths");
    py::Slots<2> slots;
    std::string_view obs_path;
    std::optional<std::vector<std::string>> nav_paths;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !py::to_text(slots[0], "obs_path", obs_path) ||
        !nav_paths_argument(slots[1], false, nav_paths)) {
        return nullptr;
    }
    return with_recording(
        std::string(obs_path), nav_paths,
        [](const arrays::Recording& recording) -> std::variant<std::vector<arrays::CoverageRow>, Refusal> {
            return arrays::navigation_coverage(recording.obs, *recording.nav);
        },
        &coverage_table);
}

}  // namespace vardoln::tools
