// Reads of a row object's class configuration and column store, with
// fast paths for the common case (plain dicts and lists, methods not
// overridden) that keep the answers of the generic attribute protocol.
#pragma once

#include "frame/function.hpp"
#include "rows/class_snapshot.hpp"
#include "support/ref.hpp"

namespace brx {

// `name in names`, scanning exact lists and tuples by identity first (names
// are interned, so that pass almost always decides), then by equality.
// 1, 0, or -1 with an exception set.
int contains_name(PyObject* names, PyObject* name);

// `name in mapping`, directly for exact dicts. 1, 0 or -1.
inline int contains_key(PyObject* mapping, PyObject* name) {
    return PyDict_CheckExact(mapping) ? PyDict_Contains(mapping, name) : PySequence_Contains(mapping, name);
}

// True when the class of `obj` does not override `method_name`, so calling
// the module's own body directly gives the same answer.
bool runs_own(PyObject* obj, PyObject* method_name, const Signature& signature);

// self._TableBase__column_values
Ref column_store(PyObject* self);
// self._TableBase__column_values = store: straight into the row's field when
// that is where setattr would put it.
bool set_column_store(PyObject* self, PyObject* store);
// self.COLUMN_NAMES: the class's own, from its snapshot, when the row holds
// no attribute of that name.
Ref row_column_names(PyObject* self);
// The same read straight from the row's field (borrowed), when the class keeps
// the generic attribute protocol and TableBase's member of the store
// (rows/row_type.hpp); null otherwise, and when the row has no store yet.
PyObject* store_in_field(PyObject* self);

// Attribute reads on one row object for the length of one operation. When the
// class keeps the generic attribute protocol and TableBase's column store, and
// the name is an exact str, reads go straight to the type's attribute cache,
// the instance dict and the store's field, in the protocol's own order; other
// classes and names get the generic calls.
//
// Any lookup may run Python code (a hostile key's __eq__ or __hash__) that
// changes the row or its class. So the view owns the instance dict and the
// column store it found, holds the class snapshot by value, and checks that
// the snapshot is still current before each use of it.
class RowView {
public:
    explicit RowView(PyObject* self);
    // A view for reading `name`: any name but an exact str (its __hash__ and
    // __eq__ may be Python code) takes the generic calls throughout.
    RowView(PyObject* self, PyObject* name);
    PyObject* self() const { return self_; }
    // getattr(self, name)
    Ref get_attr(PyObject* name) const;
    // The module's attribute test for item read: 1 with the value, 0 absent
    // (any failure of the fetch counts as absence), -1 for a non-str name.
    int find(PyObject* name, Ref& out) const;
    // True when the class does not override the private method `name`, so
    // the module's own body `body` can run directly.
    bool runs_own(PyObject* name, const Signature& signature) const;
    // self._TableBase__column_values
    Ref column_store() const;
    // self.COLUMN_NAMES, self.COLUMN_ATTRIBUTES
    Ref column_names() const;
    Ref column_attributes() const;
    // True when _TableBase__is_foreign_key is the module's own method.
    bool runs_own_is_foreign_key() const;

private:
    // The snapshot applies and the instance holds no attribute of its own.
    bool plain() const { return no_attributes_ && snapshot_.current(self_); }
    // An instance attribute `name` (a new reference), or null (check
    // PyErr_Occurred()).
    Ref own_attribute(PyObject* name) const;

    PyObject* self_;
    ClassSnapshot snapshot_;  // empty on the generic path
    Ref dict_;                // the instance dict; null when it has none, or on the generic path
    Ref store_;               // the column store found in its field
    // The instance held no attribute of its own, the usual case: every
    // instance lookup is known to miss without asking a dict.
    bool no_attributes_ = false;
};

}  // namespace brx
