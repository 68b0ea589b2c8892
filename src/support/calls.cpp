#include "support/calls.hpp"

#include "support/python_internals.hpp"


#include <array>

namespace brx {
namespace {
constexpr std::size_t kStackArgs = 8;
}

Ref call(PyObject* callable, std::initializer_list<PyObject*> args) {
    // One spare slot in front lets callees prepend `self` without copying.
    std::array<PyObject*, kStackArgs + 1> stack{};
    std::size_t n = 0;
    for (PyObject* arg : args) stack[1 + n++] = arg;
    return Ref::steal(
        PyObject_Vectorcall(callable, stack.data() + 1, n | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

Ref call_method(PyObject* obj, PyObject* name, std::initializer_list<PyObject*> args) {
    std::array<PyObject*, kStackArgs + 1> stack{};
    stack[0] = obj;
    std::size_t n = 1;
    for (PyObject* arg : args) stack[n++] = arg;
    return Ref::steal(PyObject_VectorcallMethod(name, stack.data(), n | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

Ref call_with_row(PyObject* callable, PyObject* row) {
    if (!PyTuple_CheckExact(row)) {
        Ref values = Ref::steal(PySequence_Tuple(row));
        if (!values) return {};
        return Ref::steal(PyObject_Call(callable, values.get(), nullptr));
    }
    // A tuple's own item array goes to callables that take vectorcall; others
    // (classes defined in Python) get the tuple itself as their argument
    // tuple. Either way the row is not copied.
    if (PyVectorcall_Function(callable)) {
        PyObject** values = reinterpret_cast<PyTupleObject*>(row)->ob_item;
        return Ref::steal(PyObject_Vectorcall(callable, values, static_cast<size_t>(PyTuple_GET_SIZE(row)), nullptr));
    }
    return Ref::steal(PyObject_Call(callable, row, nullptr));
}

bool unpack_pair(PyObject* item, Ref (&out)[2]) {
    Ref iterator = Ref::steal(PyObject_GetIter(item));
    if (!iterator) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(item)->tp_name);
        }
        return false;
    }
    for (Py_ssize_t i = 0; i < 2; ++i) {
        out[i] = Ref::steal(PyIter_Next(iterator.get()));
        if (!out[i]) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)", i);
            return false;
        }
    }
    Ref extra = Ref::steal(PyIter_Next(iterator.get()));
    if (extra) {
        PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
        return false;
    }
    return !PyErr_Occurred();
}

Ref get_own_attr(PyObject* obj, PyObject* name) {
    PyTypeObject* type = Py_TYPE(obj);
    if (internals::kFastPaths && type->tp_getattro == PyObject_GenericGetAttr && PyUnicode_CheckExact(name) &&
        !internals::type_lookup(type, name)) {
        PyObject* dict = internals::instance_dict(obj);
        if (dict && PyDict_CheckExact(dict)) {
            // Held through the lookup, as the generic one does: a key's __eq__
            // may replace the object's dict and free this one mid-lookup.
            const Ref held = Ref::borrow(dict);
            if (PyObject* value = PyDict_GetItemWithError(dict, name)) return Ref::borrow(value);
            if (PyErr_Occurred()) return {};
        }
    }
    return get_attr(obj, name);  // and its AttributeError when absent
}

int lookup_attribute(PyObject* obj, PyObject* name, Ref& out) {
    if (!PyUnicode_Check(name)) {
        PyErr_SetString(PyExc_TypeError, "hasattr(): attribute name must be string");
        return -1;
    }
    PyObject* value = nullptr;
    const int found = internals::optional_attribute(obj, name, &value);
    out = Ref::steal(value);
    if (found < 0) PyErr_Clear();
    return found > 0 ? 1 : 0;
}

Ref pool_or_default(PyObject* pool, PyObject* owner, PyObject* default_name) {
    const int given = truth(pool);
    if (given < 0) return {};
    if (given) return Ref::borrow(pool);
    return get_attr(owner, default_name);
}

Ref format(PyObject* format, std::initializer_list<PyObject*> args) {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(args.size())));
    if (!tuple) return {};
    Py_ssize_t i = 0;
    for (PyObject* arg : args) PyTuple_SET_ITEM(tuple.get(), i++, Py_NewRef(arg));
    return Ref::steal(PyUnicode_Format(format, tuple.get()));
}

}  // namespace brx
