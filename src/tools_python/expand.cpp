// The text of a navigation file (a path, or its bytes read already) with its archive layers
// removed, for the package's look into archived files: the same read and the same bounds as the
// readers'.
#include "archive/archive.hpp"
#include "rinex/file_io.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

PyObject* navigation_text(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("navigation_text", 1, "path");
    py::Slots<1> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    std::optional<std::string> given;
    std::string path;
    if (PyBytes_Check(slots[0])) {
        given.emplace(PyBytes_AS_STRING(slots[0]), static_cast<std::size_t>(PyBytes_GET_SIZE(slots[0])));
        path = "<bytes>";
    } else {
        std::string_view path_view;
        if (!py::to_text(slots[0], "path", path_view)) return nullptr;
        path = std::string(path_view);
    }
    using Outcome = std::variant<std::string, arrays::LoadFailure>;
    // Safe without the lock: the work reads one file into a private string.
    Outcome outcome = py::without_gil([&]() -> Outcome {
        auto bytes = given ? std::variant<std::string, FileError>(std::move(*given)) : read_whole_file(path);
        if (auto* error = std::get_if<FileError>(&bytes)) {
            return arrays::LoadFailure{arrays::LoadFailure::Kind::read, true, path, std::move(error->message),
                                       error->code};
        }
        ArchiveResult expanded = expand_archive(std::get<std::string>(std::move(bytes)));
        if (auto* error = std::get_if<ArchiveError>(&expanded)) {
            return arrays::LoadFailure{arrays::LoadFailure::Kind::parse, true, path, std::move(error->message), 0};
        }
        return std::get<std::string>(std::move(expanded));
    });
    if (auto* failure = std::get_if<arrays::LoadFailure>(&outcome)) return raise_load_failure(*failure);
    const std::string& text = std::get<std::string>(outcome);
    return PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

}  // namespace vardoln::tools
