#include "rows/foreign_flag.hpp"

#include "rows/class_snapshot.hpp"
#include "rows/row_methods.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

#include <utility>
#include <vector>

namespace brx {
namespace {

// settings.isForeignKey, the column settings' own attribute.
Ref settings_flag(PyObject* settings) { return get_own_attr(settings, py::isForeignKey()); }

}  // namespace

Ref foreign_flag(PyObject* attributes, PyObject* name) {
    Ref settings;
    if (PyDict_CheckExact(attributes)) {
        settings = Ref::borrow(PyDict_GetItemWithError(attributes, name));
        if (!settings) return PyErr_Occurred() ? Ref() : Ref::borrow(Py_False);
    } else {
        const int present = PySequence_Contains(attributes, name);
        if (present <= 0) return present < 0 ? Ref() : Ref::borrow(Py_False);
        settings = Ref::steal(PyObject_GetItem(attributes, name));
        if (!settings) return {};
    }
    return settings_flag(settings.get());
}

int foreign_flag_in(PyObject* attributes, PyObject* name) {
    Ref flag = foreign_flag(attributes, name);
    return flag ? truth(flag.get()) : -1;
}

int is_foreign_key(const RowView& row, PyObject* name) {
    if (row.runs_own_is_foreign_key()) {
        Ref attributes = row.column_attributes();
        return attributes ? foreign_flag_in(attributes.get(), name) : -1;
    }
    Ref flag = call_method(row.self(), py::row_is_foreign_key(), {name});
    return flag ? truth(flag.get()) : -1;
}

ClassForeignKey class_foreign_key(PyObject* cls, PyObject* name) {
    if (PyType_Check(cls)) {
        auto* type = reinterpret_cast<PyTypeObject*>(cls);
        if (type->tp_getattro != PyObject_GenericGetAttr ||
            !type_runs_own(type, py::row_is_foreign_key(), sig::table_is_foreign_key))
            return ClassForeignKey::PerRow;
    }
    Ref attributes = get_attr(cls, py::COLUMN_ATTRIBUTES());
    const int foreign = attributes ? foreign_flag_in(attributes.get(), name) : -1;
    if (foreign < 0) return ClassForeignKey::Failed;
    return foreign ? ClassForeignKey::Yes : ClassForeignKey::No;
}

int foreign_key_of(PyObject* cls, PyObject* name, PyObject* row) {
    switch (class_foreign_key(cls, name)) {
        case ClassForeignKey::Failed: return -1;
        case ClassForeignKey::No: return 0;
        case ClassForeignKey::Yes: return 1;
        case ClassForeignKey::PerRow: break;
    }
    return row ? is_foreign_key(RowView(row), name) : 1;
}

Ref declared_foreign_keys(PyObject* self) {
    Ref attributes = get_attr(self, py::COLUMN_ATTRIBUTES());
    if (!attributes) return {};
    Ref foreigns = Ref::steal(PyList_New(0));
    if (!foreigns) return {};
    const auto add_if_foreign = [&](PyObject* key, PyObject* settings) {
        Ref flag = settings_flag(settings);
        const int foreign = flag ? truth(flag.get()) : -1;
        return foreign == 0 || (foreign > 0 && PyList_Append(foreigns.get(), key) == 0);
    };
    if (PyDict_CheckExact(attributes.get())) {
        // Its pairs held first: reading a flag may run code that changes the dict.
        std::vector<std::pair<Ref, Ref>> pairs;
        Py_ssize_t pos = 0;
        PyObject *key = nullptr, *settings = nullptr;
        while (PyDict_Next(attributes.get(), &pos, &key, &settings)) pairs.emplace_back(Ref::borrow(key), Ref::borrow(settings));
        for (const auto& [held_key, held_settings] : pairs)
            if (!add_if_foreign(held_key.get(), held_settings.get())) return {};
        return foreigns;
    }
    Ref items = call_method(attributes.get(), py::items(), {});
    if (!items) return {};
    const bool done = each_item(items.get(), [&](PyObject* item) {
        Ref key = Ref::steal(PySequence_GetItem(item, 0));
        Ref settings = key ? Ref::steal(PySequence_GetItem(item, 1)) : Ref();
        return settings && add_if_foreign(key.get(), settings.get());
    });
    return done ? std::move(foreigns) : Ref();
}

Ref foreign_key_columns(PyObject* row) {
    if (runs_own(row, py::row_get_foreigns(), sig::table_get_foreigns)) return declared_foreign_keys(row);
    return call_method(row, py::row_get_foreigns(), {});
}

}  // namespace brx
