// The owned-buffer type: numpy.asarray(buffer) gives a typed array over the native storage, and
// the array keeps the buffer (and so the storage) alive.
#include <new>

#include "tools_python/tools.hpp"

namespace vardoln::tools {

namespace {

struct BufferObject {
    PyObject_HEAD
    OwnedArray array;
    Py_ssize_t shape[1];
    Py_ssize_t strides[1];
};

// Zero-length storage may have no address; a view still needs one.
char empty_storage[8];

int get_buffer(PyObject* self, Py_buffer* view, int flags) {
    auto* object = reinterpret_cast<BufferObject*>(self);
    const OwnedArray& array = object->array;
    view->obj = Py_NewRef(self);
    view->buf = array.data != nullptr ? array.data : empty_storage;
    view->len = static_cast<Py_ssize_t>(array.length * array.item_size);
    view->readonly = 0;  // the storage belongs to this object alone
    view->itemsize = static_cast<Py_ssize_t>(array.item_size);
    view->format = (flags & PyBUF_FORMAT) != 0 ? const_cast<char*>(array.format) : nullptr;
    view->ndim = 1;
    view->shape = (flags & PyBUF_ND) != 0 ? object->shape : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? object->strides : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<BufferObject*>(self)->array.~OwnedArray();
    type->tp_free(self);
    Py_DECREF(type);
}

PyTypeObject* type_cache = nullptr;

}  // namespace

PyTypeObject* buffer_type() {
    if (type_cache == nullptr) {
        PyType_Slot slots[] = {
            {Py_tp_doc, const_cast<char*>("Native storage of one array, exposed through the buffer protocol.")},
            {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
            {Py_tp_new, reinterpret_cast<void*>(&py::refuse_construction)},
            {Py_bf_getbuffer, reinterpret_cast<void*>(&get_buffer)},
            {0, nullptr},
        };
        PyType_Spec shape{"vardoln_tools._native.Buffer", static_cast<int>(sizeof(BufferObject)), 0,
                         Py_TPFLAGS_DEFAULT, slots};
        type_cache = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&shape));
    }
    return type_cache;
}

PyObject* new_buffer(OwnedArray&& array) {
    PyTypeObject* type = buffer_type();
    if (type == nullptr) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    auto* object = reinterpret_cast<BufferObject*>(self);
    new (&object->array) OwnedArray(std::move(array));
    object->shape[0] = static_cast<Py_ssize_t>(object->array.length);
    object->strides[0] = static_cast<Py_ssize_t>(object->array.item_size);
    return self;
}

OwnedArray own_flags(std::vector<std::uint8_t>&& flags) {
    OwnedArray array = own(std::move(flags));
    array.format = "?";
    return array;
}

bool set_flags(PyObject* dict, std::string_view key, std::vector<std::uint8_t>&& flags) {
    return py::dict_set(dict, key, new_buffer(own_flags(std::move(flags))));
}

}  // namespace vardoln::tools
