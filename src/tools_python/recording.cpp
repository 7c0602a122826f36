// Recording: one recording loaded once, for every table, check and analysis of the package. It
// holds the module's own objects (RinexObsData, and a NavigationData merged from every file
// given), so that nothing the module has read is read again and nothing read here is read by
// the module; the satellite geometry of its entries is computed on first use and shared.
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "cn0/analysis.hpp"
#include "cn0/settings.hpp"
#include "navigation/nav_merge.hpp"
#include "navigation/orbit_source.hpp"
#include "python/c_api.hpp"
#include "rinex/file_io.hpp"
#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

// ---------------------------------------------------------------------------------------------
// The module's table

const py::ModuleApi* api_cache = nullptr;

// A record inside a module object, shared for as long as the object is referenced. The last
// owner may let go on any thread: the reference is dropped under the interpreter lock.
template <typename Value>
std::shared_ptr<const Value> held_by(PyObject* object, const Value* record) {
    Py_INCREF(object);
    return std::shared_ptr<const Value>(record, [object](const Value*) {
        const PyGILState_STATE state = PyGILState_Ensure();
        Py_DECREF(object);
        PyGILState_Release(state);
    });
}

// ---------------------------------------------------------------------------------------------
// The Recording type

struct RecordingObject {
    PyObject_HEAD
    arrays::Recording recording;
    PyObject* obs;  // the module's RinexObsData (strong)
    PyObject* nav;  // the module's NavigationData (strong), or nullptr
};

PyTypeObject* type_cache = nullptr;

RecordingObject* as_recording(PyObject* self) {
    return reinterpret_cast<RecordingObject*>(self);
}

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    RecordingObject* object = as_recording(self);
    object->recording.~Recording();
    Py_XDECREF(object->obs);
    Py_XDECREF(object->nav);
    type->tp_free(self);
    Py_DECREF(type);
}

// A new Recording over module objects (borrowed references; the new object takes its own).
PyObject* new_recording(PyObject* obs_object, PyObject* nav_object) {
    const py::ModuleApi* api = module_api();
    PyTypeObject* type = recording_type();
    if (api == nullptr || type == nullptr) return nullptr;
    const RinexObsData* obs = api->obs_data(obs_object, "obs");
    if (obs == nullptr) return nullptr;
    const NavigationData* nav = nullptr;
    if (nav_object != nullptr && (nav = api->navigation_data(nav_object, "nav")) == nullptr) return nullptr;
    arrays::Recording recording(held_by(obs_object, obs), nav ? held_by(nav_object, nav) : nullptr);
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    RecordingObject* object = as_recording(self);
    new (&object->recording) arrays::Recording(std::move(recording));
    object->obs = Py_NewRef(obs_object);
    object->nav = nav_object != nullptr ? Py_NewRef(nav_object) : nullptr;
    return self;
}

PyObject* get_obs(PyObject* self, void* /*closure*/) {
    return Py_NewRef(as_recording(self)->obs);
}

PyObject* get_nav(PyObject* self, void* /*closure*/) {
    PyObject* nav = as_recording(self)->nav;
    return Py_NewRef(nav != nullptr ? nav : Py_None);
}

// analyze(config): the module's analysis of the recording with `config`, its navigation data and
// the satellite positions computed once for the recording.
PyObject* analyze(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("Recording.analyze", 1, "config");
    py::Slots<1> slots;
    AnalysisConfig config;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !config_argument(slots[0], config)) return nullptr;
    const py::ModuleApi* api = module_api();
    if (api == nullptr) return nullptr;
    const arrays::Recording recording = as_recording(self)->recording;
    AnalysisResult result = py::without_gil([&] {
        AnalysisSettings settings = settings_from_config(config);
        if (recording.shared_nav()) settings.orbit_source = make_orbit_source(recording.shared_nav());
        const arrays::EntryGeometry* geometry = recording.geometry();
        return run_analysis(recording.obs(), settings,
                            geometry ? std::span<const std::optional<Ecef>>(geometry->positions)
                                     : std::span<const std::optional<Ecef>>());
    });
    return api->new_analysis_result(&result);
}

// between(from_ns=None, to_ns=None): the epochs at or after from_ns and before to_ns (nanoseconds
// of the epochs' own time scale since 1970) as a recording of their own, with the same navigation.
PyObject* between(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("Recording.between", 0, "from_ns", "to_ns");
    py::Slots<2> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    std::array<std::optional<std::int64_t>, 2> bounds;
    for (std::size_t i = 0; i < 2; ++i) {
        if (py::is_absent(slots[i])) continue;
        const long long value = PyLong_AsLongLong(slots[i]);
        if (value == -1 && PyErr_Occurred()) return nullptr;
        bounds[i] = value;
    }
    const py::ModuleApi* api = module_api();
    if (api == nullptr) return nullptr;
    const arrays::Recording recording = as_recording(self)->recording;
    RinexObsData part = py::without_gil([&] { return arrays::epochs_between(recording.obs(), bounds[0], bounds[1]); });
    Ref obs_object(api->new_obs_data(&part));
    if (!obs_object) return nullptr;
    return recording_over(obs_object.get(), as_recording(self)->nav);
}

PyObject* get_obs_entry(PyObject* self, void* closure) noexcept {
    return get_obs(self, closure);
}

PyObject* get_nav_entry(PyObject* self, void* closure) noexcept {
    return get_nav(self, closure);
}

// ---------------------------------------------------------------------------------------------
// load(obs, nav=None)

// One file named by the caller: a path to read, bytes read already (with the path they came
// from), or a module object.
struct Given {
    std::optional<std::string> path;        // to read
    std::optional<arrays::FileBytes> bytes;  // read already
    PyObject* object = nullptr;              // borrowed module object
};

bool given_argument(PyObject* item, const char* argument, bool navigation, Given& out) {
    if (PyUnicode_Check(item)) {
        std::string_view path;
        if (!py::to_text(item, argument, path)) return false;
        out.path = std::string(path);
        return true;
    }
    if (PyTuple_Check(item) && PyTuple_GET_SIZE(item) == 2 && PyBytes_Check(PyTuple_GET_ITEM(item, 1))) {
        std::string_view path;
        if (!py::to_text(PyTuple_GET_ITEM(item, 0), argument, path)) return false;
        // Read in place: the bytes object is immutable and the caller's argument holds it.
        PyObject* bytes = PyTuple_GET_ITEM(item, 1);
        out.bytes = arrays::FileBytes{std::string(path), std::string_view(PyBytes_AS_STRING(bytes),
                                                                          static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)))};
        return true;
    }
    const py::ModuleApi* api = module_api();
    if (api == nullptr) return false;
    const bool matches = navigation ? api->navigation_data(item, argument) != nullptr
                                    : api->obs_data(item, argument) != nullptr;
    if (!matches) {
        PyErr_Clear();
        py::raise_type_error(std::string("argument '") + argument + "': expected a path, a (path, bytes) pair or a " +
                             (navigation ? "NavigationData" : "RinexObsData") + " object");
        return false;
    }
    out.object = item;
    return true;
}

// What the work without the lock gives back: the records to wrap, or the failure.
struct Loaded {
    std::optional<RinexObsData> obs;       // read here (absent when given as an object)
    std::optional<NavigationData> nav;     // read or merged here
};

// The file's bytes: those given, or those read into `storage`.
std::variant<arrays::FileBytes, arrays::LoadFailure> read_given(const Given& given, bool navigation,
                                                               std::string& storage) {
    if (given.bytes) return *given.bytes;
    auto bytes = read_whole_file(*given.path);
    if (auto* error = std::get_if<FileError>(&bytes)) {
        return arrays::LoadFailure{arrays::LoadFailure::Kind::read, navigation, *given.path, std::move(error->message),
                                   error->code};
    }
    storage = std::get<std::string>(std::move(bytes));
    return arrays::FileBytes{*given.path, storage};
}

PyObject* load_recording(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("load", 1, "obs", "nav");
    py::Slots<2> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    const py::ModuleApi* api = module_api();
    if (api == nullptr) return nullptr;

    Given obs;
    if (!given_argument(slots[0], "obs", false, obs)) return nullptr;
    std::vector<Given> navs;
    Ref sequence;  // holds the items (and their bytes) for the work below
    if (!py::is_absent(slots[1])) {
        if (api->navigation_data(slots[1], "nav") != nullptr) {
            navs.push_back(Given{std::nullopt, std::nullopt, slots[1]});
        } else {
            PyErr_Clear();
            sequence = Ref(PySequence_Fast(slots[1], "argument 'nav': expected None, a NavigationData object or a "
                                                     "list of navigation files"));
            if (!sequence) return nullptr;
            const Py_ssize_t count = PySequence_Fast_GET_SIZE(sequence.get());
            if (count == 0) return py::raise_value_error("no navigation file given");
            for (Py_ssize_t i = 0; i < count; ++i) {
                Given item;
                if (!given_argument(PySequence_Fast_GET_ITEM(sequence.get(), i), "nav", true, item)) return nullptr;
                navs.push_back(std::move(item));
            }
        }
    }
    // A single navigation object is taken as it is; anything else is read and merged here.
    const bool nav_as_given = navs.size() == 1 && navs.front().object != nullptr;
    std::vector<const NavigationData*> nav_records;
    for (const Given& item : navs) {
        nav_records.push_back(item.object != nullptr ? api->navigation_data(item.object, "nav") : nullptr);
    }
    const RinexObsData* obs_record = obs.object != nullptr ? api->obs_data(obs.object, "obs") : nullptr;

    using Outcome = std::variant<Loaded, arrays::LoadFailure>;
    // Safe without the lock: the module objects are immutable and referenced by the arguments.
    Outcome outcome = py::without_gil([&]() -> Outcome {
        Loaded loaded;
        if (!navs.empty() && !nav_as_given) {
            // Navigation files first: they are small, and a wrong one fails before the large read.
            std::vector<NavigationData> files;
            for (std::size_t i = 0; i < navs.size(); ++i) {
                if (nav_records[i] != nullptr) {
                    files.push_back(*nav_records[i]);
                    continue;
                }
                std::string storage;
                auto bytes = read_given(navs[i], true, storage);
                if (auto* failure = std::get_if<arrays::LoadFailure>(&bytes)) return std::move(*failure);
                auto parsed = arrays::parse_navigation_file(std::get<arrays::FileBytes>(bytes));
                if (auto* failure = std::get_if<arrays::LoadFailure>(&parsed)) return std::move(*failure);
                files.push_back(std::get<NavigationData>(std::move(parsed)));
            }
            loaded.nav = files.size() == 1 ? std::move(files.front()) : merge_navigation(std::move(files));
        }
        if (obs_record == nullptr) {
            std::string storage;
            auto bytes = read_given(obs, false, storage);
            if (auto* failure = std::get_if<arrays::LoadFailure>(&bytes)) return std::move(*failure);
            auto parsed = arrays::parse_observation_file(std::get<arrays::FileBytes>(bytes));
            if (auto* failure = std::get_if<arrays::LoadFailure>(&parsed)) return std::move(*failure);
            loaded.obs = std::get<RinexObsData>(std::move(parsed));
        }
        return loaded;
    });
    if (auto* failure = std::get_if<arrays::LoadFailure>(&outcome)) return raise_load_failure(*failure);
    Loaded& loaded = std::get<Loaded>(outcome);
    Ref obs_object = loaded.obs ? Ref(api->new_obs_data(&*loaded.obs)) : Ref::borrowed(obs.object);
    if (!obs_object) return nullptr;
    Ref nav_object;
    if (loaded.nav) {
        nav_object = Ref(api->new_navigation_data(&*loaded.nav));
        if (!nav_object) return nullptr;
    } else if (nav_as_given) {
        nav_object = Ref::borrowed(navs.front().object);
    }
    return new_recording(obs_object.get(), nav_object.get());
}

}  // namespace

PyObject* recording_over(PyObject* obs_object, PyObject* nav_object) {
    return new_recording(obs_object, nav_object);
}

const py::ModuleApi* module_api() {
    if (api_cache != nullptr) return api_cache;
    auto* api = static_cast<const py::ModuleApi*>(PyCapsule_Import(py::kModuleApiName, 0));
    if (api == nullptr) return nullptr;
    if (py::layout_text() != api->layout) {
        PyErr_SetString(PyExc_ImportError,
                        "vardoln_tools._native and vardoln_cn0 come from different builds; reinstall the package");
        return nullptr;
    }
    api_cache = api;
    return api_cache;
}

bool config_argument(PyObject* slot, AnalysisConfig& out) {
    const py::ModuleApi* api = module_api();
    return api != nullptr && api->analysis_config(slot, "config", &out);
}

PyTypeObject* recording_type() {
    if (type_cache == nullptr) {
        static PyMethodDef methods[] = {
            py::fastcall_method<&analyze>(
                "analyze", "analyze($self, config)\n--\n\nThe module's analysis of the recording with this "
                           "AnalysisConfig and the recording's navigation data, as analyze_with_nav gives it."),
            py::fastcall_method<&between>(
                "between", "between($self, from_ns=None, to_ns=None)\n--\n\nThe epochs at or after from_ns and "
                           "before to_ns (nanoseconds since 1970 on the epochs' own time scale) as a recording "
                           "of their own, with the same navigation data."),
            {},
        };
        static PyGetSetDef getset[] = {
            {"obs", &get_obs_entry, nullptr, "The observations, a vardoln_cn0.RinexObsData.", nullptr},
            {"nav", &get_nav_entry, nullptr, "The navigation data, merged from every file given, or None.", nullptr},
            {},
        };
        PyType_Slot slots[] = {
            {Py_tp_doc, const_cast<char*>("A recording loaded once: made by load().")},
            {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
            {Py_tp_new, reinterpret_cast<void*>(&py::refuse_construction)},
            {Py_tp_methods, methods},
            {Py_tp_getset, getset},
            {0, nullptr},
        };
        PyType_Spec shape{"vardoln_tools._native.Recording", static_cast<int>(sizeof(RecordingObject)), 0,
                          Py_TPFLAGS_DEFAULT, slots};
        type_cache = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&shape));
    }
    return type_cache;
}

PyObject* load(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return load_recording(args, nargsf, kwnames);
}

const arrays::Recording* loaded_recording(PyObject* object) {
    PyTypeObject* type = recording_type();
    if (type == nullptr || !PyObject_TypeCheck(object, type)) return nullptr;
    return &as_recording(object)->recording;
}

PyObject* read_file(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("read_file", 1, "path");
    py::Slots<1> slots;
    std::string_view path_view;
    if (!py::bind(sig, args, nargsf, kwnames, slots) || !py::to_text(slots[0], "path", path_view)) return nullptr;
    const std::string path(path_view);
    auto bytes = py::without_gil([&] { return read_whole_file(path); });
    if (auto* error = std::get_if<FileError>(&bytes)) {
        return raise_load_failure({arrays::LoadFailure::Kind::read, false, path, std::move(error->message), error->code});
    }
    const std::string& data = std::get<std::string>(bytes);
    return PyBytes_FromStringAndSize(data.data(), static_cast<Py_ssize_t>(data.size()));
}

PyObject* counters(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static constexpr auto sig = py::signature("counters", 0);
    py::Slots<0> slots;
    if (!py::bind(sig, args, nargsf, kwnames, slots)) return nullptr;
    const py::ModuleApi* api = module_api();
    if (api == nullptr) return nullptr;
    const CoreCounters& own = core_counters();
    const CoreCounters& module = *api->counters;
    const auto sum = [](const std::atomic<std::uint64_t>& a, const std::atomic<std::uint64_t>& b) {
        return py::new_int(a.load(std::memory_order_relaxed) + b.load(std::memory_order_relaxed));
    };
    Ref dict(PyDict_New());
    if (!dict || !py::dict_set(dict.get(), "files_read", sum(own.files_read, module.files_read)) ||
        !py::dict_set(dict.get(), "parses", sum(own.parses, module.parses)) ||
        !py::dict_set(dict.get(), "geometry_passes", sum(own.geometry_passes, module.geometry_passes)) ||
        !py::dict_set(dict.get(), "analyses", sum(own.analyses, module.analyses))) {
        return nullptr;
    }
    return dict.release();
}

}  // namespace vardoln::tools
