// The layout of row objects: TableBase is a type of its own whose instances
// hold the column store in a field rather than in the instance dict, and get
// an instance dict only when an attribute is set on them (a keyword that is
// not a column, a multi-foreign list).
//
// A row class made by a class statement would keep its attributes in the
// interpreter's managed dict: from CPython 3.11 their values live inline until
// something asks for the dict, and asking makes one (one more object per row
// for the collector, 64 more bytes). Every item read needs the column store and
// the answer to "has this row an attribute of that name": here the store is
// one field, and a row without attributes has no dict at all.
//
// What Python code sees stays: the store is `row._TableBase__column_values`
// (a member of TableBase, read, set and deleted as an attribute), attributes
// and lists live in `vars(row)`, rows take weak references, subclasses may
// declare __slots__, and rows of sibling row classes may swap __class__.
#pragma once

#include "support/ref.hpp"

#include <initializer_list>

namespace brx {

struct RowObject {
    PyObject_HEAD
    PyObject* column_values;  // the column store; null until __init__ sets it
    PyObject* dict;           // the instance dict; null until an attribute is set
    PyObject* weakrefs;
};

// TableBase, made once by make_row_type(); null before.
extern PyTypeObject* RowType;

// A new TableBase type with the given docstring, or null with an exception
// set. Its class attributes and methods are added by the caller.
Ref make_row_type(const char* doc);

// TableBase's member descriptor of the column store, held by the type.
PyObject* store_member();

inline bool has_row_layout(PyObject* obj) { return RowType && PyObject_TypeCheck(obj, RowType); }
inline RowObject* as_row(PyObject* obj) { return reinterpret_cast<RowObject*>(obj); }

// True when a row object holds no attribute of its own.
inline bool holds_no_attributes(const RowObject* row) {
    return !row->dict || (PyDict_CheckExact(row->dict) && PyDict_GET_SIZE(row->dict) == 0);
}

// True when the row certainly holds no attribute named by one of `names`
// (interned str objects): it has no attributes, or a few under names that are
// interned exact str objects, told apart by identity. Found without a lookup,
// which could run Python code; false when it cannot be told so.
bool holds_none_of(const RowObject* row, std::initializer_list<PyObject*> names);

}  // namespace brx
