// The element-set functions: download the GNSS catalogue and count its usable sets.
#include <string>
#include <variant>

#include "python/classes.hpp"
#include "tle/tle_download.hpp"
#include "tle/tle_parser.hpp"

namespace vardoln::py {

namespace {

PyObject* download_tle(PyObject* /*module*/) {
    // The child process may run for up to half a minute; other Python threads keep running
    // meanwhile, since the download reads and writes only its own C++ buffers.
    auto downloaded = without_gil([] { return download_tle_text(); });
    if (auto* error = std::get_if<TleDownloadError>(&downloaded)) return raise_os_error(error->message);
    return new_text(std::get<std::string>(downloaded));
}

PyObject* parse_tle_content(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = signature("parse_tle_content", 1, "content");
    Slots<1> slots;
    std::string_view content;
    if (!bind(sig, args, nargsf, kwnames, slots) || !to_text(slots[0], "content", content)) return nullptr;
    return new_int(parse_tle(content).size());
}

PyMethodDef download_tle_method =
    noargs_method<&download_tle>("download_tle", "download_tle()\n--\n\nDownload GNSS TLE from CelesTrak");
PyMethodDef parse_tle_content_method = fastcall_method<&parse_tle_content>(
    "parse_tle_content", "parse_tle_content(content)\n--\n\nParse TLE content and return satellite count");

}  // namespace

PyMethodDef* download_tle_def() {
    return &download_tle_method;
}

PyMethodDef* parse_tle_content_def() {
    return &parse_tle_content_method;
}

}  // namespace vardoln::py
