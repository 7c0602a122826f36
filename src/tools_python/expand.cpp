// The text of a navigation file with its archive layers removed, for the package's merging of
// several navigation files into one: the same read and the same bounds as the readers'.
#include "archive/archive.hpp"
#include "rinex/file_io.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

PyObject* navigation_text(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("navigation_text", 1, "path");
    py::Slots<1> slots;
    std::string_view path_view;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !py::to_text(slots[0], "path", path_view)) return nullptr;
    const std::string path(path_view);
    using Outcome = std::variant<std::string, arrays::LoadFailure>;
    // Safe without the lock: the work reads one file into a private string.
    Outcome outcome = py::without_gil([&]() -> Outcome {
        auto bytes = read_whole_file(path);
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
