// Small call and attribute helpers over the C API, returning owning Refs.
#pragma once

#include "support/ref.hpp"

#include <initializer_list>

namespace brx {

// callable(*args)
Ref call(PyObject* callable, std::initializer_list<PyObject*> args);
// obj.name(*args), without making a bound method where the type allows it.
Ref call_method(PyObject* obj, PyObject* name, std::initializer_list<PyObject*> args);
// obj.name
inline Ref get_attr(PyObject* obj, PyObject* name) { return Ref::steal(PyObject_GetAttr(obj, name)); }
// obj.name for an attribute normally held in the object's own dict (a
// ColumnAttribute's fields, a cache's state): read there directly when the type
// keeps the generic protocol and has no class attribute of that name, which
// is what the generic lookup would find too; anything else takes it.
Ref get_own_attr(PyObject* obj, PyObject* name);

// callable(*row): a row (tuple, or any sequence) spread as positional arguments.
Ref call_with_row(PyObject* callable, PyObject* row);

// `a, b = item`, with the interpreter's unpacking errors.
bool unpack_pair(PyObject* item, Ref (&out)[2]);

// Calls step(item) (borrowed) for each item of `iterable`; stops at the first
// step that fails. Returns false with an exception set.
template <class Step>
bool each_item(PyObject* iterable, Step&& step) {
    Ref iterator = Ref::steal(PyObject_GetIter(iterable));
    if (!iterator) return false;
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        if (!step(item.get())) return false;
    }
    return !PyErr_Occurred();
}

// The module's attribute test: 1 with the value in `out` when `obj` has the
// attribute, 0 when fetching it failed in any way (the failure is cleared),
// -1 with TypeError "hasattr(): attribute name must be string" for a name
// that is not a str.
int lookup_attribute(PyObject* obj, PyObject* name, Ref& out);

// printf-style formatting with the interpreter's own rules: format % args.
Ref format(PyObject* format, std::initializer_list<PyObject*> args);

// `pool` when it is true, else `getattr(owner, default_name)`: how caches
// and row objects choose the pool their operations borrow from.
Ref pool_or_default(PyObject* pool, PyObject* owner, PyObject* default_name);

// Truth value: 1, 0 or -1 with an exception set; singletons without a call.
inline int truth(PyObject* obj) {
    if (obj == Py_True) return 1;
    if (obj == Py_False || obj == Py_None) return 0;
    return PyObject_IsTrue(obj);
}

}  // namespace brx
