// Building a row object: positional values paired with COLUMN_NAMES, keyword
// values for columns or plain attributes, defaults for columns still missing.
// This runs once per fetched row of every table load, so the common shapes
// (a list of names, a dict of column settings) take a path without temporaries.
#include "rows/class_snapshot.hpp"
#include "rows/row_access.hpp"
#include "rows/row_methods.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_internals.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

Ref new_store(Py_ssize_t size_hint) { return internals::new_presized_dict(size_hint); }

// dict(zip(column_names, values)). Storing a name may run Python code (its
// __hash__, or the __eq__ of a name stored before it) that changes the list:
// its length is read again each step and each name held while it is stored.
Ref pair_values(PyObject* column_names, std::span<PyObject* const> values) {
    const auto given = static_cast<Py_ssize_t>(values.size());
    if (PyList_CheckExact(column_names) || PyTuple_CheckExact(column_names)) {
        Ref store = new_store(std::min(PySequence_Fast_GET_SIZE(column_names), given));
        if (!store) return {};
        for (Py_ssize_t i = 0; i < given && i < PySequence_Fast_GET_SIZE(column_names); ++i) {
            Ref name = Ref::borrow(PySequence_Fast_GET_ITEM(column_names, i));
            if (PyDict_SetItem(store.get(), name.get(), values[i]) < 0) return {};
        }
        return store;
    }
    Ref store = Ref::steal(PyDict_New());
    Ref names = Ref::steal(PyObject_GetIter(column_names));
    if (!store || !names) return {};
    for (PyObject* value : values) {
        Ref name = Ref::steal(PyIter_Next(names.get()));
        if (!name) break;
        if (PyDict_SetItem(store.get(), name.get(), value) < 0) return {};
    }
    if (PyErr_Occurred()) return {};
    return store;
}

// Keyword values: columns go to the store (read from the row each time, as a
// keyword may itself have replaced it), other names become attributes.
bool apply_keywords(PyObject* self, PyObject* column_names, PyObject* keywords) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(keywords, &pos, &key, &value)) {
        const int is_column = contains_name(column_names, key);
        if (is_column < 0) return false;
        if (!is_column) {
            if (PyObject_SetAttr(self, key, value) < 0) return false;
            continue;
        }
        Ref store = column_store(self);
        if (!store || PyObject_SetItem(store.get(), key, value) < 0) return false;
    }
    return true;
}

// The body of _TableBase__get_default, for one column.
Ref own_default(PyObject* self, PyObject* name) {
    Ref attributes = get_attr(self, py::COLUMN_ATTRIBUTES());
    if (!attributes) return {};
    const int described = contains_key(attributes.get(), name);
    if (described < 0) return {};
    if (described) {
        Ref settings = Ref::steal(PyObject_GetItem(attributes.get(), name));
        return settings ? get_attr(settings.get(), py::default_()) : Ref();
    }
    Ref multi_foreign = get_attr(self, py::MULTI_FOREIGN_ATTR());
    if (!multi_foreign) return {};
    const int is_list_attr = contains_key(multi_foreign.get(), name);
    if (is_list_attr < 0) return {};
    return is_list_attr ? Ref::steal(PyDict_New()) : none();
}

// Reading a column setting's default can only fail when it has none: then the
// full default pass runs and reports it.
// The dict and each column setting are held: reading `default` may run code
// (a property) that replaces or changes them.
bool every_setting_has_default(PyObject* attributes) {
    Ref dict = Ref::borrow(attributes);
    Py_ssize_t pos = 0;
    PyObject *key, *settings;
    while (PyDict_Next(dict.get(), &pos, &key, &settings)) {
        Ref held = Ref::borrow(settings);
        Ref value;
        if (!lookup_attribute(held.get(), py::default_(), value)) return false;
    }
    return true;
}

// True when the class keeps the module's own default rule over plain dicts
// and every column setting has a default: then computing the default of a column
// that already has a value can neither fail nor have an effect, so it may be
// skipped. Classes with their own attribute access always get the full pass.
bool present_columns_need_no_default(PyObject* self) {
    if (Py_TYPE(self)->tp_getattro != PyObject_GenericGetAttr) return false;
    const ClassSnapshot snapshot = class_snapshot(Py_TYPE(self));
    if (snapshot) {
        return snapshot.runs_own_get_default && snapshot.column_attributes &&
               PyDict_CheckExact(snapshot.column_attributes) && snapshot.multi_foreign_attr &&
               PyDict_CheckExact(snapshot.multi_foreign_attr) &&
               every_setting_has_default(snapshot.column_attributes);
    }
    if (!runs_own(self, py::row_get_default(), sig::table_get_default)) return false;
    Ref attributes = get_attr(self, py::COLUMN_ATTRIBUTES());
    Ref multi_foreign = attributes ? get_attr(self, py::MULTI_FOREIGN_ATTR()) : Ref();
    if (!multi_foreign) {
        PyErr_Clear();
        return false;
    }
    return PyDict_CheckExact(attributes.get()) && PyDict_CheckExact(multi_foreign.get()) &&
           every_setting_has_default(attributes.get());
}

bool set_default(PyObject* self, PyObject* store, PyObject* column, bool own, bool skip_present) {
    const bool exact = PyDict_CheckExact(store);
    if (skip_present && exact) {
        const int present = PyDict_Contains(store, column);
        if (present != 0) return present > 0;
    }
    Ref value = own ? own_default(self, column) : call_method(self, py::row_get_default(), {column});
    if (!value) return false;
    if (exact) return PyDict_SetDefault(store, column, value.get()) != nullptr;
    return static_cast<bool>(call_method(store, py::setdefault(), {column, value.get()}));
}

// True when every column already has a value in `store` (a fresh dict whose
// keys all come from the names) and no default would change anything.
bool all_columns_filled(PyObject* self, PyObject* column_names, PyObject* store) {
    if (!PyList_CheckExact(column_names) && !PyTuple_CheckExact(column_names)) return false;
    if (PyDict_GET_SIZE(store) != PySequence_Fast_GET_SIZE(column_names)) return false;
    if (Py_TYPE(self)->tp_setattro != PyObject_GenericSetAttr) return false;
    return present_columns_need_no_default(self);
}

bool fill_defaults(PyObject* self, PyObject* column_names, PyObject* store) {
    const bool own = runs_own(self, py::row_get_default(), sig::table_get_default);
    const bool skip_present = own && present_columns_need_no_default(self);
    if (PyList_CheckExact(column_names) || PyTuple_CheckExact(column_names)) {
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(column_names); ++i) {
            Ref column = Ref::borrow(PySequence_Fast_GET_ITEM(column_names, i));
            if (!set_default(self, store, column.get(), own, skip_present)) return false;
        }
        return true;
    }
    return each_item(column_names, [&](PyObject* column) { return set_default(self, store, column, own, skip_present); });
}

}  // namespace

Ref table_init(Bound<sig::table_init> args) {
    PyObject* self = args.get<"self">();
    Ref column_names = row_column_names(self);
    if (!column_names) return {};
    Ref store = pair_values(column_names.get(), args.rest());
    if (!store || !set_column_store(self, store.get())) return {};
    if (PyObject* keywords = args.extra_keywords()) {
        // A keyword may replace the store itself: read it back afterwards.
        if (!apply_keywords(self, column_names.get(), keywords)) return {};
        store = column_store(self);
        if (!store) return {};
    } else if (all_columns_filled(self, column_names.get(), store.get())) {
        return none();
    }
    if (!fill_defaults(self, column_names.get(), store.get())) return {};
    return none();
}

Ref table_get_default(Bound<sig::table_get_default> args) { return own_default(args.get<"self">(), args.get<"name">()); }

}  // namespace brx
