// Every use of CPython's internals, and the version checks they need, in one
// place. The hot paths lean on these: the type attribute cache, the instance
// dict pointer, type version tags, presized dicts and a heap type's subscript
// slot.
//
// Built with BRX_GENERIC_PATHS, `kFastPaths` is false: every fast path then
// steps aside for the generic C API, so the test suite run on both builds
// shows that the two give the same answers.
#pragma once

#include "support/ref.hpp"

namespace brx::internals {

#ifdef BRX_GENERIC_PATHS
inline constexpr bool kFastPaths = false;
#else
inline constexpr bool kFastPaths = true;
#endif

// The attribute `name` found along the type's MRO, borrowed, never raising;
// null when absent. The interpreter's own lookup for special methods.
inline PyObject* type_lookup(PyTypeObject* type, PyObject* name) { return _PyType_Lookup(type, name); }

// The instance dict of `obj` (borrowed), or null when it has none yet. From
// CPython 3.11 an instance whose attributes live inline gets a dict made here:
// only for the few objects whose attributes are read often (column settings),
// never for rows, which keep theirs in a field (rows/row_type.hpp).
inline PyObject* instance_dict(PyObject* obj) {
    PyObject** slot = _PyObject_GetDictPtr(obj);
    return slot ? *slot : nullptr;
}

// True when the type holds a version tag that changes whenever one of its
// (or its bases') attributes is assigned.
inline bool has_valid_version(PyTypeObject* type) {
#if PY_VERSION_HEX < 0x030C0000
    if (!PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG)) return false;
#endif
    return type->tp_version_tag != 0;
}
inline unsigned int version_tag(PyTypeObject* type) { return type->tp_version_tag; }

// Equality of two str objects when both are interned can be told by identity.
inline bool is_interned(PyObject* str) { return kFastPaths && PyUnicode_CHECK_INTERNED(str); }
inline bool both_interned(PyObject* a, PyObject* b) { return is_interned(a) && is_interned(b); }

// A new dict with room for `size_hint` items.
inline Ref new_presized_dict(Py_ssize_t size_hint) {
#if PY_VERSION_HEX < 0x030E0000
    if (kFastPaths) return Ref::steal(_PyDict_NewPresized(size_hint));
#endif
    (void)size_hint;
    return Ref::steal(PyDict_New());
}

// getattr(obj, name) reporting absence without raising: 1 found (`*out` set),
// 0 absent, -1 failed with an exception set.
inline int optional_attribute(PyObject* obj, PyObject* name, PyObject** out) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyObject_GetOptionalAttr(obj, name, out);
#else
    if (kFastPaths) return _PyObject_LookupAttr(obj, name, out);
    *out = PyObject_GetAttr(obj, name);
    if (*out) return 1;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
#endif
}

// Installs `slot` as the subscript slot of a heap type that has a mapping
// slot table; false when the type is not such a type.
inline bool set_subscript_slot(PyTypeObject* type, binaryfunc slot) {
    if (!kFastPaths || !PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE) || !type->tp_as_mapping) return false;
    type->tp_as_mapping->mp_subscript = slot;
    return true;
}
inline bool has_subscript_slot(PyTypeObject* type, binaryfunc slot) {
    return type->tp_as_mapping && type->tp_as_mapping->mp_subscript == slot;
}

}  // namespace brx::internals
