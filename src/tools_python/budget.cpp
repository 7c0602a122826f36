// The memory budget of a recording: whether its file, and the text its archive layers expand
// to, stay within a number of bytes, checked before the analysis reads it.
#include "tools_python/tools.hpp"

namespace vardoln::tools {

PyObject* budget_fit(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("budget_fit", 2, "path", "budget");
    py::Slots<2> slots;
    std::uint64_t budget = 0;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !py::to_u64(slots[1], "budget", budget)) return nullptr;
    arrays::BudgetFit fit = arrays::BudgetFit::within;
    if (PyBytes_Check(slots[0])) {
        // Bytes read already (the bytes object is immutable and held by the caller's argument).
        const std::string_view bytes(PyBytes_AS_STRING(slots[0]), static_cast<std::size_t>(PyBytes_GET_SIZE(slots[0])));
        fit = py::without_gil([&] { return arrays::archive_budget_fit(bytes, budget); });
    } else {
        std::string_view path;
        if (!py::to_text(slots[0], "path", path)) return nullptr;
        fit = py::without_gil([&] { return arrays::budget_fit(std::string(path), budget); });
    }
    switch (fit) {
        case arrays::BudgetFit::file_over: return py::new_text("file");
        case arrays::BudgetFit::expansion_over: return py::new_text("expansion");
        case arrays::BudgetFit::within: break;
    }
    return py::new_text("within");
}

}  // namespace vardoln::tools
