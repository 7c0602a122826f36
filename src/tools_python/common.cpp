// What every entry point shares: the recording's facts, load failures as exceptions, and the
// navigation-path argument.
#include <algorithm>
#include <cmath>

#include "arrays/positions.hpp"
#include "arrays/tables.hpp"
#include "rinex/epoch_time.hpp"
#include "rinex/ids.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

PyObject* recording_facts(const RinexObsData& obs) {
    Ref facts(PyDict_New());
    if (!facts) return nullptr;
    if (!py::dict_set(facts.get(), "marker_name", py::new_text(obs.marker_name)) ||
        !py::dict_set(facts.get(), "marker_number", py::new_text(obs.marker_number)) ||
        !py::dict_set(facts.get(), "receiver_type", py::new_text(obs.receiver_type)) ||
        !py::dict_set(facts.get(), "receiver_version", py::new_text(obs.receiver_version)) ||
        !py::dict_set(facts.get(), "antenna_type", py::new_text(obs.antenna_type)) ||
        !py::dict_set(facts.get(), "version", py::new_float(obs.version)) ||
        !py::dict_set(facts.get(), "interval", py::new_float(obs.interval)) ||
        !py::dict_set(facts.get(), "epochs", py::new_int(obs.epochs.size()))) {
        return nullptr;
    }
    PyObject* position = Py_NewRef(Py_None);
    if (obs.approx_position) {
        const auto& [x, y, z] = *obs.approx_position;
        Py_DECREF(position);
        position = Py_BuildValue("(ddd)", x, y, z);
    }
    if (!py::dict_set(facts.get(), "receiver_position", position)) return nullptr;
    // First and last epoch in time, as datetime64 nanoseconds; None when no epoch has a time.
    std::int64_t first = arrays::kNoTime;
    std::int64_t last = arrays::kNoTime;
    for (const ObservationEpoch& epoch : obs.epochs) {
        const std::int64_t time = arrays::epoch_nanoseconds(epoch.time);
        if (time == arrays::kNoTime) continue;
        first = first == arrays::kNoTime ? time : std::min(first, time);
        last = last == arrays::kNoTime ? time : std::max(last, time);
    }
    const auto time_or_none = [](std::int64_t time) {
        return time == arrays::kNoTime ? Py_NewRef(Py_None) : PyLong_FromLongLong(time);
    };
    if (!py::dict_set(facts.get(), "first_epoch", time_or_none(first)) ||
        !py::dict_set(facts.get(), "last_epoch", time_or_none(last))) {
        return nullptr;
    }
    // The epoch a cut text ends inside and the last one before it, as timestamp texts (epoch
    // fields need not name an instant, so no datetime64 here).
    const auto text_or_none = [](const std::optional<EpochTime>& time) {
        return time ? py::new_text(timestamp_text(*time)) : Py_NewRef(Py_None);
    };
    const std::optional<CutEpoch>& cut = obs.cut_epoch;
    if (!py::dict_set(facts.get(), "cut_epoch", text_or_none(cut ? std::optional(cut->time) : std::nullopt)) ||
        !py::dict_set(facts.get(), "last_complete_epoch", text_or_none(cut ? cut->last_complete : std::nullopt))) {
        return nullptr;
    }
    return facts.release();
}

PyObject* navigation_spans_object(const NavigationData& nav) {
    Ref spans(PyDict_New());
    if (!spans) return nullptr;
    for (const arrays::NavigationSpan& span : arrays::navigation_spans(nav)) {
        if (span.first == arrays::kNoTime) continue;
        const std::string name = span.letter == 0 ? "all" : observed_system_name(span.letter);
        if (!py::dict_set(spans.get(), name, Py_BuildValue("(LL)", static_cast<long long>(span.first),
                                                           static_cast<long long>(span.last)))) {
            return nullptr;
        }
    }
    return spans.release();
}

std::nullptr_t raise_load_failure(const arrays::LoadFailure& failure) {
    const char* what = failure.navigation ? "navigation" : "observation";
    if (failure.kind == arrays::LoadFailure::Kind::read && failure.code != 0) {
        // OSError(errno, text, path) becomes FileNotFoundError, IsADirectoryError, ... by errno.
        Ref path(py::new_text(failure.path));
        if (!path) return nullptr;
        Ref error(PyObject_CallFunction(PyExc_OSError, "isO", failure.code, failure.message.c_str(), path.get()));
        if (error) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), error.get());
        return nullptr;
    }
    std::string message = "cannot read ";
    message.append(what).append(" file '").append(failure.path).append("': ").append(failure.message);
    if (failure.kind == arrays::LoadFailure::Kind::read) return py::raise_os_error(message);
    // A file that does not parse: the message, and the file, its role and the reader's reason as
    // attributes, so that the package words it as it words every other file fault.
    Ref error(PyObject_CallFunction(PyExc_ValueError, "s#", message.data(), static_cast<Py_ssize_t>(message.size())));
    Ref path(py::new_text(failure.path));
    Ref role(py::new_text(what));
    Ref reason(py::new_text(failure.message));
    if (!error || !path || !role || !reason || PyObject_SetAttrString(error.get(), "path", path.get()) < 0 ||
        PyObject_SetAttrString(error.get(), "role", role.get()) < 0 ||
        PyObject_SetAttrString(error.get(), "reason", reason.get()) < 0) {
        return nullptr;
    }
    PyErr_SetObject(PyExc_ValueError, error.get());
    return nullptr;
}

bool nav_paths_argument(PyObject* slot, bool optional, std::optional<std::vector<std::string>>& out) {
    if (optional && py::is_absent(slot)) return true;
    std::vector<std::string> paths;
    if (!py::to_text_list(slot, "nav_paths", paths)) return false;
    if (paths.empty()) {
        py::raise_value_error("no navigation file given");
        return false;
    }
    out = std::move(paths);
    return true;
}

bool source_argument(PyObject* obs_slot, PyObject* nav_slot, bool nav_optional, Source& out) {
    if (const arrays::Recording* recording = loaded_recording(obs_slot)) {
        if (nav_slot != nullptr && !py::is_absent(nav_slot)) {
            py::raise_value_error("a loaded recording carries its navigation data: give nav_paths=None");
            return false;
        }
        if (!nav_optional && recording->nav() == nullptr) {
            py::raise_value_error("no navigation file given");
            return false;
        }
        out.loaded = *recording;
        return true;
    }
    std::string_view path;
    if (!py::to_text(obs_slot, "obs_path", path)) return false;
    out.obs_path = std::string(path);
    if (nav_slot == nullptr) return true;
    return nav_paths_argument(nav_slot, nav_optional, out.nav_paths);
}

bool bind_obs_and_nav(const py::Signature<2>& sig, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                      Source& source) {
    py::Slots<2> slots;
    return py::bind(sig, args, nargsf, kwnames, slots) && source_argument(slots[0], slots[1], false, source);
}

bool table_arguments(PyObject* const* slots, bool nav_optional, const char* degrees_name, Source& source,
                     double& degrees) {
    if (!source_argument(slots[0], slots[1], nav_optional, source) ||
        !py::double_or_default(slots[2], degrees_name, degrees)) {
        return false;
    }
    if (!std::isfinite(degrees)) {
        py::raise_value_error(std::string(degrees_name) + " must be a finite number of degrees");
        return false;
    }
    return true;
}

}  // namespace vardoln::tools
