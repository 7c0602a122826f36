// The binding layer shared by every Python-facing function: owned references, the argument
// binder and converters, object builders, error mapping, borrow flags, heap types and the
// boundary that turns C++ exceptions into a Python exception.
//
// Rule throughout: a function returning PyObject* returns a new reference, or nullptr with a
// Python error set; a function returning bool returns false only with a Python error set.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace vardoln::py {

// ---------------------------------------------------------------------------------------------
// Owned reference

class Ref {
public:
    Ref() noexcept = default;
    // Takes over a new reference (which may be nullptr).
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    static Ref borrowed(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Ref(object);
    }
    Ref(Ref&& other) noexcept : object_(other.release()) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(object_);
            object_ = other.release();
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    PyObject* object_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Errors. Each raise_* sets the Python error and returns nullptr, so a body can write
// `return raise_value_error(message);`.

std::nullptr_t raise_type_error(std::string_view message);
std::nullptr_t raise_value_error(std::string_view message);
std::nullptr_t raise_runtime_error(std::string_view message);
// The message is the exception's only argument: e.args == (message,), e.errno is None.
std::nullptr_t raise_os_error(std::string_view message);

// The exception type of the internal-fault boundary (derives from BaseException only);
// created once per process. Returns nullptr with an error set if it cannot be created.
PyObject* internal_fault_type();
// Raises the fault; an empty or null text becomes "internal fault".
void raise_internal_fault(const char* text) noexcept;

// Runs a body at the Python boundary: C++ exceptions never cross into the interpreter.
// Memory exhaustion becomes MemoryError; every other exception an InternalFault.
template <typename Result, typename Body>
Result guarded(Body&& body, Result on_fault) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& fault) {
        raise_internal_fault(fault.what());
    } catch (...) {
        raise_internal_fault(nullptr);
    }
    return on_fault;
}

// Runs pure C++ work with the interpreter lock released and returns its value. The work must
// touch no Python object. A C++ exception is carried across the re-acquisition and rethrown
// with the lock held, so the fault boundary (guarded) sees it as usual.
template <typename Work>
auto without_gil(Work&& work) -> decltype(work()) {
    using Value = decltype(work());
    std::optional<Value> value;
    std::exception_ptr fault;
    Py_BEGIN_ALLOW_THREADS
    try {
        value.emplace(work());
    } catch (...) {
        fault = std::current_exception();
    }
    Py_END_ALLOW_THREADS
    if (fault) std::rethrow_exception(fault);
    return std::move(*value);
}

// ---------------------------------------------------------------------------------------------
// Argument binder (METH_FASTCALL | METH_KEYWORDS, and the tuple/dict form of constructors).
//
// Every parameter may be given by position or by keyword. The binder fills one borrowed slot
// per parameter, nullptr when the caller did not give it, and raises the TypeError texts of
// CPython-style argument checking ("FN() takes ...", "FN() missing ...", ...).

template <std::size_t N>
struct Signature {
    const char* function;  // "read_rinex_obs", or "Class.method" for methods
    std::size_t required;  // leading parameters without a default
    std::array<const char*, N> names;
};

// signature("read_rinex_obs_bytes", 2, "data", "filename")
template <typename... Names>
constexpr Signature<sizeof...(Names)> signature(const char* function, std::size_t required, Names... names) {
    return {function, required, {names...}};
}

template <std::size_t N>
using Slots = std::array<PyObject*, N>;

bool bind_fastcall(const char* function, const char* const* names, std::size_t count, std::size_t required,
                   PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, PyObject** slots);
bool bind_tuple_dict(const char* function, const char* const* names, std::size_t count, std::size_t required,
                     PyObject* args, PyObject* kwargs, PyObject** slots);

template <std::size_t N>
bool bind(const Signature<N>& sig, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, Slots<N>& slots) {
    return bind_fastcall(sig.function, sig.names.data(), N, sig.required, args, nargsf, kwnames, slots.data());
}

template <std::size_t N>
bool bind(const Signature<N>& sig, PyObject* args, PyObject* kwargs, Slots<N>& slots) {
    return bind_tuple_dict(sig.function, sig.names.data(), N, sig.required, args, kwargs, slots.data());
}

// A parameter whose default is None treats an explicit None as not given.
inline bool is_absent(PyObject* slot) noexcept {
    return slot == nullptr || slot == Py_None;
}

// ---------------------------------------------------------------------------------------------
// Converters. `name` is the parameter name used in "argument 'NAME': ..." messages. Only a
// TypeError is prefixed with the name; other errors (OverflowError, UnicodeEncodeError) pass
// through unchanged.

// str (and subclasses). The view stays valid while `object` is alive.
bool to_text(PyObject* object, const char* name, std::string_view& out);
// bytes (and subclasses); bytearray and memoryview are refused. Valid while `object` is alive.
bool to_bytes(PyObject* object, const char* name, std::string_view& out);
// Any sequence (PySequence_Check) of str, but not a bare str.
bool to_text_list(PyObject* object, const char* name, std::vector<std::string>& out);
// bool, or a numpy boolean scalar through its __bool__.
bool to_bool(PyObject* object, const char* name, bool& out);
// float directly; anything else through PyFloat_AsDouble.
bool to_double(PyObject* object, const char* name, double& out);
// A non-negative int (or an object with __index__).
bool to_u64(PyObject* object, const char* name, std::uint64_t& out);
// As to_u64; a value over 32 bits raises OverflowError "out of range integral type conversion
// attempted", without the parameter name.
bool to_u32(PyObject* object, const char* name, std::uint32_t& out);

// Slot-level helpers: a missing slot (or None, for the optional ones) keeps the default.
bool text_or_absent(PyObject* slot, const char* name, std::optional<std::string>& out);
bool text_list_or_absent(PyObject* slot, const char* name, std::optional<std::vector<std::string>>& out);
bool u32_or_absent(PyObject* slot, const char* name, std::optional<std::uint32_t>& out);
inline bool double_or_default(PyObject* slot, const char* name, double& out) {
    return slot == nullptr || to_double(slot, name, out);
}
inline bool bool_or_default(PyObject* slot, const char* name, bool& out) {
    return slot == nullptr || to_bool(slot, name, out);
}

// ---------------------------------------------------------------------------------------------
// Object builders

PyObject* new_text(std::string_view text);
PyObject* new_float(double value);
PyObject* new_int(std::uint64_t value);
PyObject* new_bool(bool value);

// list of str from any range of string-like items.
template <typename Range>
PyObject* new_text_list(const Range& items) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(std::size(items))));
    if (!list) return nullptr;
    Py_ssize_t index = 0;
    for (const auto& item : items) {
        PyObject* text = new_text(item);
        if (text == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), index++, text);
    }
    return list.release();
}

// dict[key] = value, taking over `value` (a new reference, or nullptr for a failed build).
bool dict_set(PyObject* dict, std::string_view key, PyObject* value);

// dict of str -> str from any range of string-like pairs.
template <typename Range>
PyObject* new_text_dict(const Range& items) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [key, value] : items) {
        if (!dict_set(dict.get(), key, new_text(value))) return nullptr;
    }
    return dict.release();
}

// ---------------------------------------------------------------------------------------------
// Instances: a record held by value plus a borrow flag.
//
// Readers share the flag; a writer needs it alone and fails at once instead of waiting. The
// flag only changes with the interpreter lock held, so a plain counter suffices.

class BorrowFlag {
public:
    // RuntimeError "Already mutably borrowed" while a writer holds the flag.
    bool share() noexcept;
    void unshare() noexcept { --state_; }
    // RuntimeError "Already borrowed" while anyone holds the flag.
    bool take_exclusive() noexcept;
    void release_exclusive() noexcept { state_ = 0; }

private:
    std::int64_t state_ = 0;  // readers when positive, -1 for a writer
};

template <typename Value>
struct Holder {
    PyObject_HEAD
    BorrowFlag borrow;
    Value value;
};

template <typename Value>
Holder<Value>* holder_of(PyObject* object) noexcept {
    return reinterpret_cast<Holder<Value>*>(object);
}

// A shared borrow of an instance's record, released when the guard goes.
template <typename Value>
class SharedBorrow {
public:
    SharedBorrow() noexcept = default;
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    SharedBorrow(SharedBorrow&& other) noexcept : holder_(std::exchange(other.holder_, nullptr)) {}
    ~SharedBorrow() { reset(); }

    // `object` must be an instance of the record's class (the caller has checked it).
    bool acquire(PyObject* object) noexcept {
        reset();
        Holder<Value>* holder = holder_of<Value>(object);
        if (!holder->borrow.share()) return false;
        holder_ = holder;
        return true;
    }
    void reset() noexcept {
        if (holder_ != nullptr) std::exchange(holder_, nullptr)->borrow.unshare();
    }
    const Value& operator*() const noexcept { return holder_->value; }
    const Value* operator->() const noexcept { return &holder_->value; }

private:
    Holder<Value>* holder_ = nullptr;
};

// An exclusive borrow, for the one method that changes an instance.
template <typename Value>
class ExclusiveBorrow {
public:
    ExclusiveBorrow() noexcept = default;
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    ~ExclusiveBorrow() { reset(); }

    bool acquire(PyObject* object) noexcept {
        reset();
        Holder<Value>* holder = holder_of<Value>(object);
        if (!holder->borrow.take_exclusive()) return false;
        holder_ = holder;
        return true;
    }
    void reset() noexcept {
        if (holder_ != nullptr) std::exchange(holder_, nullptr)->borrow.release_exclusive();
    }
    Value& operator*() const noexcept { return holder_->value; }
    Value* operator->() const noexcept { return &holder_->value; }

private:
    Holder<Value>* holder_ = nullptr;
};

// The short name of a type ("RinexObsData" for "builtins.RinexObsData").
std::string_view type_short_name(PyTypeObject* type) noexcept;
// The __qualname__ of an object's type, as it appears in conversion messages.
std::string type_name_of(PyObject* object);

// Borrows the record of an argument that must be an instance of `type` (or a subclass);
// otherwise TypeError "argument 'NAME': 'TYPE' object cannot be converted to 'CLASS'".
// A null `name` gives the message without the prefix (the object a method was called on).
bool check_instance(PyObject* object, PyTypeObject* type, const char* name);

template <typename Value>
bool borrow_instance(PyObject* object, PyTypeObject* type, const char* name, SharedBorrow<Value>& out) {
    return check_instance(object, type, name) && out.acquire(object);
}

// A new instance of `type` holding `value`.
template <typename Value>
PyObject* new_instance(PyTypeObject* type, Value&& value) {
    using Plain = std::remove_cvref_t<Value>;
    PyObject* object = type->tp_alloc(type, 0);
    if (object == nullptr) return nullptr;
    Holder<Plain>* holder = holder_of<Plain>(object);
    try {
        new (&holder->value) Plain(std::forward<Value>(value));
    } catch (...) {
        // The record was never constructed: free the raw object without running its destructor.
        type->tp_free(object);
        Py_DECREF(type);
        throw;
    }
    new (&holder->borrow) BorrowFlag();
    return object;
}

template <typename Value>
void dealloc_instance(PyObject* object) noexcept {
    PyTypeObject* type = Py_TYPE(object);
    holder_of<Value>(object)->value.~Value();
    type->tp_free(object);
    Py_DECREF(type);  // heap-type instances own a reference to their type
}

// tp_new of classes that Python cannot construct: TypeError "No constructor defined for X".
PyObject* refuse_construction(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;

// Everything needed to create one class as a heap type named "builtins.<Class>".
struct ClassSpec {
    const char* qualified_name;  // "builtins.RinexObsData"
    const char* doc;             // "Class(signature)\n--\n\ntext" when it has a constructor
    PyMethodDef* methods = nullptr;
    PyGetSetDef* getset = nullptr;
    reprfunc repr = nullptr;
    newfunc construct = nullptr;  // nullptr: the class refuses construction
};

PyTypeObject* create_class(const ClassSpec& definition, int basic_size, destructor dealloc);

// The type object of a class, created on first use and then reused. Returns a borrowed
// reference, or nullptr with an error set.
template <typename Value>
PyTypeObject* cached_class(PyTypeObject*& cache, const ClassSpec& definition) {
    if (cache == nullptr) {
        cache = create_class(definition, static_cast<int>(sizeof(Holder<Value>)), &dealloc_instance<Value>);
    }
    return cache;
}

// ---------------------------------------------------------------------------------------------
// Entry adapters: each wraps a body in the fault boundary and, for record-reading entries,
// a shared borrow of the instance. CPython's descriptors guarantee that `self` has the right
// type for methods, getters and slots.

using FastBody = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
using NoArgsBody = PyObject* (*)(PyObject* self);
using NewBody = PyObject* (*)(PyTypeObject* type, PyObject* args, PyObject* kwargs);

template <FastBody Body>
PyObject* fastcall_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    return guarded<PyObject*>([&] { return Body(self, args, nargsf, kwnames); }, nullptr);
}

template <NoArgsBody Body>
PyObject* noargs_entry(PyObject* self, PyObject* /*unused*/) noexcept {
    return guarded<PyObject*>([&] { return Body(self); }, nullptr);
}

template <NewBody Body>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guarded<PyObject*>([&] { return Body(type, args, kwargs); }, nullptr);
}

// Bodies that only read the record.
template <typename Value, PyObject* (*Read)(const Value&)>
PyObject* read_entry(PyObject* self, PyObject* /*unused*/) noexcept {
    return guarded<PyObject*>(
        [&]() -> PyObject* {
            SharedBorrow<Value> record;
            if (!record.acquire(self)) return nullptr;
            return Read(*record);
        },
        nullptr);
}

template <typename Value, PyObject* (*Read)(const Value&)>
PyObject* getter_entry(PyObject* self, void* /*closure*/) noexcept {
    return read_entry<Value, Read>(self, nullptr);
}

template <typename Value, PyObject* (*Read)(const Value&)>
PyObject* repr_entry(PyObject* self) noexcept {
    return read_entry<Value, Read>(self, nullptr);
}

// Method and getter table rows. `doc` starts with the text signature block.
template <FastBody Body>
constexpr PyMethodDef fastcall_method(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fastcall_entry<Body>)),
            METH_FASTCALL | METH_KEYWORDS, doc};
}

template <FastBody Body>
constexpr PyMethodDef static_fastcall_method(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fastcall_entry<Body>)),
            METH_FASTCALL | METH_KEYWORDS | METH_STATIC, doc};
}

template <NoArgsBody Body>
constexpr PyMethodDef noargs_method(const char* name, const char* doc) {
    return {name, &noargs_entry<Body>, METH_NOARGS, doc};
}

template <typename Value, PyObject* (*Read)(const Value&)>
constexpr PyMethodDef read_method(const char* name, const char* doc) {
    return {name, &read_entry<Value, Read>, METH_NOARGS, doc};
}

template <typename Value, PyObject* (*Read)(const Value&)>
constexpr PyGetSetDef read_only(const char* name, const char* doc) {
    return {name, &getter_entry<Value, Read>, nullptr, doc, nullptr};
}

}  // namespace vardoln::py
