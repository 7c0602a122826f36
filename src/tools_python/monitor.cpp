// LiveStream: one live RTCM 3 stream followed by the core's monitor, bytes in, events out as
// dicts (alarms, outages and the windows' frames for their analysis).
#include <mutex>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "monitor/stream.hpp"
#include "navigation/orbits.hpp"
#include "python/c_api.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

struct LiveStreamObject {
    PyObject_HEAD
    MonitorStream* stream;
    std::mutex* lock;  // one caller at a time: the stream's state is not shared
};

PyTypeObject* live_type_cache = nullptr;

LiveStreamObject* as_live(PyObject* self) { return reinterpret_cast<LiveStreamObject*>(self); }

void live_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete as_live(self)->stream;
    delete as_live(self)->lock;
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* new_ms(std::int64_t value) { return PyLong_FromLongLong(value); }

PyObject* event_object(MonitorEvent& event) {
    Ref item(PyDict_New());
    if (!item) return nullptr;
    const auto set = [&](std::string_view key, PyObject* value) { return py::dict_set(item.get(), key, value); };
    switch (event.kind) {
        case MonitorEvent::Kind::alarm: {
            const LiveAlarm& alarm = event.alarm;
            std::vector<std::string> bands;
            for (const Band band : alarm.bands) bands.emplace_back(band_name(band));
            if (!set("kind", py::new_text("alarm")) || !set("state", py::new_text(alarm.start ? "start" : "end")) ||
                !set("type", py::new_text(event_type_name(alarm.type))) ||
                !set("epoch_ms", new_ms(alarm.start ? alarm.first_ms : alarm.last_ms)) ||
                !set("first_ms", new_ms(alarm.first_ms)) || !set("last_ms", new_ms(alarm.last_ms)) ||
                !set("bands", py::new_text_list(bands)) || !set("satellites", py::new_text_list(alarm.satellites)) ||
                !set("drop_db", py::new_float(alarm.median_drop_db)) ||
                !set("largest_drop_db", py::new_float(alarm.largest_drop_db)) ||
                !set("share", py::new_float(alarm.share))) {
                return nullptr;
            }
            break;
        }
        case MonitorEvent::Kind::outage_start:
        case MonitorEvent::Kind::outage_end: {
            const bool start = event.kind == MonitorEvent::Kind::outage_start;
            if (!set("kind", py::new_text("outage")) || !set("state", py::new_text(start ? "start" : "end")) ||
                !set("epoch_ms", new_ms(event.at_ms)) || (!start && !set("since_ms", new_ms(event.since_ms)))) {
                return nullptr;
            }
            break;
        }
        case MonitorEvent::Kind::window: {
            const MonitorWindow& window = event.window;
            if (!set("kind", py::new_text("window")) || !set("start_ms", new_ms(window.start_ms)) ||
                !set("end_ms", new_ms(window.end_ms)) || !set("first_ms", new_ms(window.first_ms)) ||
                !set("last_ms", new_ms(window.last_ms)) || !set("epochs", py::new_int(window.epochs)) ||
                !set("partial", PyBool_FromLong(window.partial ? 1 : 0)) ||
                !set("bytes", PyBytes_FromStringAndSize(reinterpret_cast<const char*>(window.bytes.data()),
                                                        static_cast<Py_ssize_t>(window.bytes.size())))) {
                return nullptr;
            }
            break;
        }
    }
    return item.release();
}

PyObject* events_object(std::vector<MonitorEvent>& events) {
    Ref list(PyList_New(0));
    if (!list) return nullptr;
    for (MonitorEvent& event : events) {
        Ref item(event_object(event));
        if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
    }
    return list.release();
}

template <typename Work>
PyObject* run_locked(PyObject* self, Work&& work) {
    LiveStreamObject* object = as_live(self);
    // The stream is private to this object and its mutex keeps other threads out of it.
    std::vector<MonitorEvent> events = py::without_gil([&] {
        const std::lock_guard hold(*object->lock);
        return work(*object->stream);
    });
    return events_object(events);
}

PyObject* live_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr auto sig = py::signature("LiveStream", 1, "gps_week", "window_s", "outage_s", "drop_db",
                                              "event_satellites", "systems");
    py::Slots<6> slots;
    if (!py::bind(sig, args, kwargs, slots)) return nullptr;
    MonitorSettings settings;
    std::uint32_t week = 0;
    if (!py::to_u32(slots[0], "gps_week", week) || !py::double_or_default(slots[1], "window_s", settings.window_s) ||
        !py::double_or_default(slots[2], "outage_s", settings.outage_s) ||
        !detector_arguments(slots.data() + 3, settings.detector)) {
        return nullptr;
    }
    if (week > 100'000) return py::raise_value_error("gps_week: expected a GPS week number");
    if (!(settings.window_s >= 1.0 && settings.window_s <= 86'400.0))
        return py::raise_value_error("window_s: expected 1 to 86400 seconds");
    if (!(settings.outage_s > 0.0)) return py::raise_value_error("outage_s: expected seconds above 0");
    settings.gps_week = static_cast<std::int32_t>(week);
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    as_live(self)->stream = new (std::nothrow) MonitorStream(settings);
    as_live(self)->lock = new (std::nothrow) std::mutex();
    if (as_live(self)->stream == nullptr || as_live(self)->lock == nullptr) {
        Py_DECREF(self);
        return PyErr_NoMemory();
    }
    return self;
}

PyObject* live_feed(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("feed", 1, "data");
    py::Slots<1> slots;
    std::string_view data;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !py::to_bytes(slots[0], "data", data)) return nullptr;
    // The bytes object is immutable and held by the arguments for the call.
    return run_locked(self, [&](MonitorStream& stream) {
        return stream.feed(std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
    });
}

PyObject* live_idle(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("idle", 1, "now_ms");
    py::Slots<1> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    const long long now = PyLong_AsLongLong(slots[0]);
    if (now == -1 && PyErr_Occurred()) return nullptr;
    return run_locked(self, [&](MonitorStream& stream) { return stream.idle(now); });
}

PyObject* live_finish(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("finish", 0);
    py::Slots<0> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    return run_locked(self, [](MonitorStream& stream) { return stream.finish(); });
}

PyObject* live_status(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("status", 0);
    py::Slots<0> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    MonitorStatus status;
    RtcmTally tally;
    {
        const std::lock_guard hold(*as_live(self)->lock);
        status = as_live(self)->stream->status();
        tally = as_live(self)->stream->tally();
    }
    Ref item(PyDict_New());
    Ref means(PyDict_New());
    if (!item || !means) return nullptr;
    for (const auto& [letter, mean] : status.mean_cn0_dbhz) {
        if (!py::dict_set(means.get(), std::string_view(&letter, 1), py::new_float(mean))) return nullptr;
    }
    PyObject* position = Py_NewRef(Py_None);
    PyObject* geodetic = Py_NewRef(Py_None);
    if (status.position_m) {
        Py_DECREF(position);
        Py_DECREF(geodetic);
        const auto& xyz = *status.position_m;
        const Geodetic where = ecef_to_geodetic(Ecef{xyz[0], xyz[1], xyz[2]});
        position = Py_BuildValue("(ddd)", xyz[0], xyz[1], xyz[2]);
        geodetic = Py_BuildValue("(ddd)", where.latitude_deg, where.longitude_deg, where.height_m);
    }
    const auto set = [&](std::string_view key, PyObject* value) { return py::dict_set(item.get(), key, value); };
    if (!set("last_ms", status.last_ms ? new_ms(*status.last_ms) : Py_NewRef(Py_None)) ||
        !set("epochs", py::new_int(status.epochs)) || !set("satellites", py::new_int(status.satellites)) ||
        !set("mean_cn0", means.release()) || !set("in_outage", PyBool_FromLong(status.in_outage ? 1 : 0)) ||
        !set("open_alarms", py::new_int(status.open_alarms)) || !set("position", position) ||
        !set("geodetic", geodetic) ||
        !set("frames", py::new_int(tally.frames)) || !set("bad_frames", py::new_int(tally.bad_frames)) ||
        !set("skipped_bytes", py::new_int(tally.skipped_bytes)) ||
        !set("untimed_messages", py::new_int(status.untimed_messages)) ||
        !set("undecodable_messages", py::new_int(status.undecodable_messages)) ||
        !set("ephemerides", py::new_int(status.ephemerides))) {
        return nullptr;
    }
    return item.release();
}

PyObject* live_navigation(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("navigation", 0);
    py::Slots<0> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    const py::ModuleApi* api = module_api();
    if (api == nullptr) return nullptr;
    NavigationData copy;
    {
        const std::lock_guard hold(*as_live(self)->lock);
        copy = as_live(self)->stream->navigation();
    }
    if (!copy.has_data()) Py_RETURN_NONE;
    return api->new_navigation_data(&copy);
}

}  // namespace

PyObject* rtcm_week(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("rtcm_week", 2, "data", "near_gps_ms");
    py::Slots<2> slots;
    std::string_view data;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !py::to_bytes(slots[0], "data", data)) return nullptr;
    const long long near = PyLong_AsLongLong(slots[1]);
    if (near == -1 && PyErr_Occurred()) return nullptr;
    // The bytes object is immutable and held by the arguments for the call.
    const std::optional<std::int32_t> week = py::without_gil([&] {
        return rtcm_first_epoch_week(std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()), near);
    });
    if (!week) Py_RETURN_NONE;
    return PyLong_FromLong(*week);
}

PyTypeObject* live_stream_type() {
    if (live_type_cache == nullptr) {
        static PyMethodDef methods[] = {
            py::fastcall_method<&live_feed>("feed", "feed($self, data)\n--\n\nBytes of the stream as they arrived; "
                                                    "the events they complete, as dicts."),
            py::fastcall_method<&live_idle>("idle", "idle($self, now_ms)\n--\n\nNothing arrived until now_ms (GPS "
                                                    "milliseconds since the GPS epoch): an outage alarm when due."),
            py::fastcall_method<&live_finish>("finish", "finish($self)\n--\n\nThe end of the stream: the open epoch, "
                                                        "an open event's end and the last window."),
            py::fastcall_method<&live_navigation>("navigation", "navigation($self)\n--\n\nThe broadcast "
                                                                "ephemerides the stream carried so far, as a "
                                                                "vardoln_cn0.NavigationData, or None."),
            py::fastcall_method<&live_status>("status", "status($self)\n--\n\nWhat the last epoch showed, and the "
                                                        "stream's frame counts."),
            {},
        };
        PyType_Slot slots[] = {
            {Py_tp_doc, const_cast<char*>("LiveStream(gps_week, window_s=900.0, outage_s=60.0, drop_db=6.0, "
                                          "event_satellites=4, systems=None)\n--\n\nOne live RTCM 3 stream, judged "
                                          "epoch by epoch.")},
            {Py_tp_dealloc, reinterpret_cast<void*>(&live_dealloc)},
            {Py_tp_new, reinterpret_cast<void*>(&live_new)},
            {Py_tp_methods, methods},
            {0, nullptr},
        };
        PyType_Spec shape{"vardoln_tools._native.LiveStream", static_cast<int>(sizeof(LiveStreamObject)), 0,
                          Py_TPFLAGS_DEFAULT, slots};
        live_type_cache = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&shape));
    }
    return live_type_cache;
}

}  // namespace vardoln::tools
