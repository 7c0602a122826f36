#include "python/binding.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vardoln::py {

namespace {

PyObject* text_object(std::string_view text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

std::nullptr_t raise(PyObject* type, std::string_view message) {
    Ref text(text_object(message));
    if (text) PyErr_SetObject(type, text.get());
    return nullptr;
}

// "argument 'NAME': " + the pending TypeError's text. Only an exact TypeError is renamed, so
// OverflowError and encoding errors reach the caller as CPython raised them.
void prefix_type_error(const char* name) {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised == nullptr) return;
    if (name == nullptr || Py_TYPE(raised) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        PyErr_SetRaisedException(raised);
        return;
    }
    Ref error(raised);
    Ref text(PyObject_Str(raised));
    if (!text) return;
    Ref message(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
    if (!message) return;
    Ref renamed(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!renamed) return;
    PyException_SetCause(renamed.get(), PyException_GetCause(raised));
    PyErr_SetRaisedException(renamed.release());
}

// "argument 'NAME': 'TYPE' object cannot be converted to 'TARGET'"
bool conversion_error(PyObject* object, const char* name, const char* target) {
    std::string message;
    if (name != nullptr) message.append("argument '").append(name).append("': ");
    message.append("'").append(type_name_of(object)).append("' object cannot be converted to '");
    message.append(target).append("'");
    raise_type_error(message);
    return false;
}

bool named_type_error(const char* name, std::string_view text) {
    std::string message = "argument '";
    message.append(name).append("': ").append(text);
    raise_type_error(message);
    return false;
}

void too_many_positional(const char* function, std::size_t count, std::size_t required, Py_ssize_t given) {
    const char* verb = given == 1 ? "was" : "were";
    if (required != count) {
        PyErr_Format(PyExc_TypeError, "%s() takes from %zu to %zu positional arguments but %zd %s given", function,
                     required, count, given, verb);
    } else {
        PyErr_Format(PyExc_TypeError, "%s() takes %zu positional arguments but %zd %s given", function, count, given,
                     verb);
    }
}

// "FN() missing 2 required positional arguments: 'a' and 'b'"
bool check_required(const char* function, const char* const* names, std::size_t required, PyObject** slots) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < required; ++i) {
        if (slots[i] == nullptr) missing.push_back(names[i]);
    }
    if (missing.empty()) return true;
    std::string message = function;
    message.append("() missing ").append(std::to_string(missing.size())).append(" required positional argument");
    if (missing.size() > 1) message.push_back('s');
    message.append(": ");
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) {
            if (missing.size() > 2) message.push_back(',');
            message.append(i + 1 == missing.size() ? " and " : " ");
        }
        message.append("'").append(missing[i]).append("'");
    }
    raise_type_error(message);
    return false;
}

bool place_keyword(const char* function, const char* const* names, std::size_t count, PyObject* key, PyObject* value,
                   PyObject** slots) {
    Ref key_text(PyObject_Str(key));
    if (!key_text) return false;
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(key_text.get(), &size);
    if (data == nullptr) return false;
    const std::string_view wanted(data, static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < count; ++i) {
        if (wanted != names[i]) continue;
        if (slots[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function, names[i]);
            return false;
        }
        slots[i] = value;
        return true;
    }
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key_text.get());
    return false;
}

PyObject* fault_type = nullptr;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Errors

std::nullptr_t raise_type_error(std::string_view message) {
    return raise(PyExc_TypeError, message);
}

std::nullptr_t raise_value_error(std::string_view message) {
    return raise(PyExc_ValueError, message);
}

std::nullptr_t raise_runtime_error(std::string_view message) {
    return raise(PyExc_RuntimeError, message);
}

std::nullptr_t raise_os_error(std::string_view message) {
    // A single str argument: OSError then keeps errno None and args == (message,).
    return raise(PyExc_OSError, message);
}

PyObject* internal_fault_type() {
    if (fault_type == nullptr) {
        // Derived from BaseException alone so that `except Exception` in callers cannot swallow
        // a broken invariant; deliberately not added to the module.
        fault_type = PyErr_NewExceptionWithDoc("vardoln_cn0.InternalFault",
                                               "An internal fault of the vardoln_cn0 module.", PyExc_BaseException,
                                               nullptr);
    }
    return fault_type;
}

void raise_internal_fault(const char* text) noexcept {
    PyObject* type = internal_fault_type();
    if (type == nullptr) return;
    const char* message = (text != nullptr && *text != '\0') ? text : "internal fault";
    PyObject* value = PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)), "replace");
    if (value == nullptr) return;
    PyErr_SetObject(type, value);
    Py_DECREF(value);
}

// ---------------------------------------------------------------------------------------------
// Binder

bool bind_fastcall(const char* function, const char* const* names, std::size_t count, std::size_t required,
                   PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, PyObject** slots) {
    const Py_ssize_t given = PyVectorcall_NARGS(nargsf);
    std::fill(slots, slots + count, nullptr);
    if (static_cast<std::size_t>(given) > count) {
        too_many_positional(function, count, required, given);
        return false;
    }
    std::copy(args, args + given, slots);
    if (kwnames != nullptr) {
        // Keyword values follow the positional ones in `args`, in the order of `kwnames`.
        const Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < keywords; ++k) {
            if (!place_keyword(function, names, count, PyTuple_GET_ITEM(kwnames, k), args[given + k], slots)) {
                return false;
            }
        }
    }
    return check_required(function, names, required, slots);
}

bool bind_tuple_dict(const char* function, const char* const* names, std::size_t count, std::size_t required,
                     PyObject* args, PyObject* kwargs, PyObject** slots) {
    const Py_ssize_t given = PyTuple_GET_SIZE(args);
    std::fill(slots, slots + count, nullptr);
    if (static_cast<std::size_t>(given) > count) {
        too_many_positional(function, count, required, given);
        return false;
    }
    for (Py_ssize_t i = 0; i < given; ++i) slots[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            if (!place_keyword(function, names, count, key, value, slots)) return false;
        }
    }
    return check_required(function, names, required, slots);
}

// ---------------------------------------------------------------------------------------------
// Converters

bool to_text(PyObject* object, const char* name, std::string_view& out) {
    if (!PyUnicode_Check(object)) return conversion_error(object, name, "PyString");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) return false;  // lone surrogates: UnicodeEncodeError as raised
    out = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

bool to_bytes(PyObject* object, const char* name, std::string_view& out) {
    if (!PyBytes_Check(object)) return conversion_error(object, name, "PyBytes");
    out = std::string_view(PyBytes_AS_STRING(object), static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
    return true;
}

bool to_text_list(PyObject* object, const char* name, std::vector<std::string>& out) {
    // A str is a sequence of str itself; taking it letter by letter would hide a caller's slip.
    if (PyUnicode_Check(object)) return named_type_error(name, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(object)) return conversion_error(object, name, "Sequence");
    Ref iterator(PyObject_GetIter(object));
    if (!iterator) {
        prefix_type_error(name);
        return false;
    }
    out.clear();
    while (Ref item{PyIter_Next(iterator.get())}) {
        std::string_view text;
        if (!to_text(item.get(), name, text)) return false;
        out.emplace_back(text);
    }
    if (PyErr_Occurred()) {
        prefix_type_error(name);
        return false;
    }
    return true;
}

bool to_bool(PyObject* object, const char* name, bool& out) {
    if (PyBool_Check(object)) {
        out = object == Py_True;
        return true;
    }
    // numpy's boolean scalars (numpy.bool_ before 2.0, numpy.bool after) are accepted through
    // their truth value; nothing else is, not even int.
    PyTypeObject* type = Py_TYPE(object);
    Ref module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    if (!module) {
        PyErr_Clear();
    } else if (PyUnicode_Check(module.get()) && PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0) {
        const std::string_view type_name = type_short_name(type);
        if (type_name == "bool_" || type_name == "bool") {
            if (type->tp_as_number != nullptr && type->tp_as_number->nb_bool != nullptr) {
                const int truth = type->tp_as_number->nb_bool(object);
                if (truth < 0) {
                    prefix_type_error(name);
                    return false;
                }
                out = truth != 0;
                return true;
            }
            return named_type_error(name, "object of type '" + type_name_of(object) +
                                              "' does not define a '__bool__' conversion");
        }
    }
    return conversion_error(object, name, "PyBool");
}

bool to_double(PyObject* object, const char* name, double& out) {
    if (PyFloat_CheckExact(object)) {
        out = PyFloat_AS_DOUBLE(object);
        return true;
    }
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        prefix_type_error(name);
        return false;
    }
    out = value;
    return true;
}

bool to_u64(PyObject* object, const char* name, std::uint64_t& out) {
    Ref index(PyNumber_Index(object));
    if (!index) {
        prefix_type_error(name);
        return false;
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        prefix_type_error(name);
        return false;
    }
    out = value;
    return true;
}

bool to_u32(PyObject* object, const char* name, std::uint32_t& out) {
    std::uint64_t wide = 0;
    if (!to_u64(object, name, wide)) return false;
    if (wide > std::numeric_limits<std::uint32_t>::max()) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        return false;
    }
    out = static_cast<std::uint32_t>(wide);
    return true;
}

bool text_or_absent(PyObject* slot, const char* name, std::optional<std::string>& out) {
    if (is_absent(slot)) return true;
    std::string_view text;
    if (!to_text(slot, name, text)) return false;
    out.emplace(text);
    return true;
}

bool text_list_or_absent(PyObject* slot, const char* name, std::optional<std::vector<std::string>>& out) {
    if (is_absent(slot)) return true;
    std::vector<std::string> items;
    if (!to_text_list(slot, name, items)) return false;
    out = std::move(items);
    return true;
}

bool u32_or_absent(PyObject* slot, const char* name, std::optional<std::uint32_t>& out) {
    if (is_absent(slot)) return true;
    std::uint32_t value = 0;
    if (!to_u32(slot, name, value)) return false;
    out = value;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Builders

PyObject* new_text(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
}

PyObject* new_float(double value) {
    return PyFloat_FromDouble(value);
}

PyObject* new_int(std::uint64_t value) {
    return PyLong_FromUnsignedLongLong(value);
}

PyObject* new_bool(bool value) {
    return PyBool_FromLong(value ? 1 : 0);
}

bool dict_set(PyObject* dict, std::string_view key, PyObject* value) {
    Ref owned_value(value);
    if (!owned_value) return false;
    Ref key_text(new_text(key));
    if (!key_text) return false;
    return PyDict_SetItem(dict, key_text.get(), owned_value.get()) == 0;
}

// ---------------------------------------------------------------------------------------------
// Instances and classes

bool BorrowFlag::share() noexcept {
    if (state_ < 0) {
        PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
        return false;
    }
    ++state_;
    return true;
}

bool BorrowFlag::take_exclusive() noexcept {
    if (state_ != 0) {
        PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
        return false;
    }
    state_ = -1;
    return true;
}

std::string_view type_short_name(PyTypeObject* type) noexcept {
    const std::string_view full = type->tp_name;
    const std::size_t dot = full.rfind('.');
    return dot == std::string_view::npos ? full : full.substr(dot + 1);
}

std::string type_name_of(PyObject* object) {
    Ref name(PyType_GetQualName(Py_TYPE(object)));
    if (name) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(name.get(), &size); data != nullptr) {
            return std::string(data, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    return std::string(type_short_name(Py_TYPE(object)));
}

bool check_instance(PyObject* object, PyTypeObject* type, const char* name) {
    if (PyObject_TypeCheck(object, type)) return true;
    const std::string target(type_short_name(type));
    return conversion_error(object, name, target.c_str());
}

PyObject* refuse_construction(PyTypeObject* type, PyObject* /*args*/, PyObject* /*kwargs*/) noexcept {
    return guarded<PyObject*>(
        [&] {
            std::string message = "No constructor defined for ";
            message.append(type_short_name(type));
            return raise_type_error(message);
        },
        nullptr);
}

PyTypeObject* create_class(const ClassSpec& definition, int basic_size, destructor dealloc) {
    std::vector<PyType_Slot> slots;
    slots.push_back({Py_tp_doc, const_cast<char*>(definition.doc)});
    slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(dealloc)});
    slots.push_back({Py_tp_new, reinterpret_cast<void*>(definition.construct != nullptr ? definition.construct
                                                                                   : &refuse_construction)});
    if (definition.methods != nullptr) slots.push_back({Py_tp_methods, definition.methods});
    if (definition.getset != nullptr) slots.push_back({Py_tp_getset, definition.getset});
    if (definition.repr != nullptr) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(definition.repr)});
    slots.push_back({0, nullptr});
    PyType_Spec type_spec{definition.qualified_name, basic_size, 0, Py_TPFLAGS_DEFAULT, slots.data()};
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
}

}  // namespace vardoln::py
