// The cache's private state (`_Cache__obj_dict`, `_Cache__class_dict`,
// `_Cache__pool`) and the few mapping operations its methods are made of.
//
// The dicts are the cache's own and normally exact dicts, handled with the
// dict API directly; anything else put in their place is used through the
// ordinary mapping protocol, so a replacement still behaves as Python would.
#pragma once

#include "support/ref.hpp"

namespace brx {

// self._Cache__obj_dict / self._Cache__class_dict
Ref table_rows_of(PyObject* self);
Ref row_classes_of(PyObject* self);

// mapping.setdefault(key, {}), without making a dict when the key is present.
Ref rows_for_table(PyObject* mapping, PyObject* key);
// 1 with the value in `out` when `key in mapping`, 0 when absent (no
// exception raised or cleared on the way), -1 with an exception set.
int find_entry(PyObject* mapping, PyObject* key, Ref& out);
// mapping[key] = value
bool store_entry(PyObject* mapping, PyObject* key, PyObject* value);
// mapping.pop(key) when `key in mapping`; an absent key is no error.
bool discard_entry(PyObject* mapping, PyObject* key);

// self._Cache__get_pool(pool), through the method so that it is the one
// place the cache's pool is chosen.
Ref resolve_pool(PyObject* self, PyObject* pool);

}  // namespace brx
