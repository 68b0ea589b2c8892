#include "rows/plain_classes.hpp"

#include "rows/class_snapshot.hpp"
#include "rows/item_slot.hpp"
#include "rows/row_methods.hpp"
#include "rows/row_type.hpp"
#include "support/python_internals.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

bool listed_by_identity(PyObject* names, PyObject* name) {
    PyObject** items = PySequence_Fast_ITEMS(names);
    for (Py_ssize_t i = 0, count = PySequence_Fast_GET_SIZE(names); i < count; ++i)
        if (items[i] == name) return true;
    return false;
}

// Item read takes `name` from the store of a row holding no attribute of its
// own (rows/plain_read.cpp): nothing of the class takes it first, and
// COLUMN_NAMES lists that very object.
bool read_from_store(PyTypeObject* type, PyObject* names, PyObject* name) {
    return PyUnicode_CheckExact(name) && !internals::type_lookup(type, name) && listed_by_identity(names, name);
}

// `settings.isForeignKey` as a truth value where reading it runs no Python
// code, as get_own_attr() reads it: 1, 0, or -1 when it cannot be told so.
int plain_flag(PyObject* settings) {
    PyTypeObject* type = Py_TYPE(settings);
    if (type->tp_getattro != PyObject_GenericGetAttr || internals::type_lookup(type, py::isForeignKey())) return -1;
    PyObject* dict = internals::instance_dict(settings);
    if (!dict || !PyDict_CheckExact(dict)) return -1;
    PyObject* flag = PyDict_GetItemWithError(dict, py::isForeignKey());
    if (!flag || flag == Py_None || flag == Py_False) return flag ? 0 : (PyErr_Clear(), -1);
    if (flag == Py_True) return 1;
    if (PyLong_CheckExact(flag)) return PyObject_IsTrue(flag);
    return -1;
}

// COLUMN_ATTRIBUTES[name].isForeignKey, False when absent; -1 as above.
int plain_foreign_flag(PyObject* attributes, PyObject* name) {
    PyObject* settings = PyDict_GetItemWithError(attributes, name);
    if (!settings) return PyErr_Occurred() ? (PyErr_Clear(), -1) : 0;
    return plain_flag(settings);
}

// A row holding no attribute finds none of MULTI_FOREIGN_ATTR's names: it
// holds no list of its own.
bool holds_no_lists(PyTypeObject* type, PyObject* multi_foreign) {
    if (!multi_foreign || !PyDict_CheckExact(multi_foreign)) return false;
    Py_ssize_t pos = 0;
    PyObject *name = nullptr, *settings = nullptr;
    while (PyDict_Next(multi_foreign, &pos, &name, &settings))
        if (!PyUnicode_CheckExact(name) || internals::type_lookup(type, name)) return false;
    return true;
}

bool learn_batchable(PlainClass& facts, PyTypeObject* type, const ClassSnapshot& snapshot) {
    if (!type_runs_own(type, py::Insert(), sig::table_insert) ||
        !type_runs_own(type, py::row_insert_multi_foreign_attr(), sig::table_insert_multi_foreign_attr) ||
        !type_runs_own(type, py::row_get_foreigns(), sig::table_get_foreigns) ||
        !holds_no_lists(type, snapshot.multi_foreign_attr))
        return false;
    PyObject* table = internals::type_lookup(type, py::TABLE_NAME());
    if (!table || Py_TYPE(table)->tp_descr_get) return false;
    PyObject* names = snapshot.column_names;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(names);
    if (count == 0) return false;
    Py_ssize_t pos = 0;
    PyObject *name = nullptr, *settings = nullptr;
    while (PyDict_Next(snapshot.column_attributes, &pos, &name, &settings)) {
        const int foreign = plain_flag(settings);
        if (foreign < 0 || (foreign && !read_from_store(type, names, name))) return false;
        if (foreign) facts.keys.push_back(Ref::borrow(name));
    }
    PyObject** items = PySequence_Fast_ITEMS(names);
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (!PyUnicode_CheckExact(items[i])) return false;
        Py_ssize_t key = -1;
        for (std::size_t k = 0; k < facts.keys.size() && key < 0; ++k)
            if (facts.keys[k].get() == items[i] || PyUnicode_Compare(facts.keys[k].get(), items[i]) == 0)
                key = static_cast<Py_ssize_t>(k);
        facts.key_of_column.push_back(key);
    }
    facts.table = Ref::borrow(table);
    facts.names = Ref::borrow(names);
    facts.column_count = count;
    return true;
}

PlainClass learn(PyTypeObject* type) {
    PlainClass facts;
    facts.type = type;
    facts.held_type = Ref::borrow(reinterpret_cast<PyObject*>(type));
    facts.version = internals::version_tag(type);
    if (!internals::kFastPaths || !internals::has_valid_version(type) ||
        type->tp_getattro != PyObject_GenericGetAttr || !reads_items_directly(type))
        return facts;
    const ClassSnapshot snapshot = class_snapshot(type);
    if (!snapshot || snapshot.version != facts.version || !snapshot.store_in_field ||
        !snapshot.runs_own_is_foreign_key || !snapshot.column_names || !snapshot.column_attributes ||
        !PyDict_CheckExact(snapshot.column_attributes) ||
        !(PyList_CheckExact(snapshot.column_names) || PyTuple_CheckExact(snapshot.column_names)))
        return facts;
    if (!read_from_store(type, snapshot.column_names, py::id()) ||
        plain_foreign_flag(snapshot.column_attributes, py::id()) != 0)
        return facts;
    facts.id_readable = true;
    facts.sets_id_plainly = type_runs_own(type, py::dunder_setitem(), sig::table_setitem) &&
                            internals::type_lookup(type, py::CACHE()) == Py_None;
    facts.batchable = learn_batchable(facts, type, snapshot);
    if (!facts.batchable) {
        facts.keys.clear();
        facts.key_of_column.clear();
    }
    return facts;
}

}  // namespace

const PlainClass* PlainClasses::find(PyTypeObject* type) {
    // Facts found are never rewritten in place, as a caller may be reading
    // them: a class changed since (its version tag moved) takes the general
    // way until forget().
    for (const PlainClass& known : known_)
        if (known.type == type)
            return known.id_readable && known.version == internals::version_tag(type) ? &known : nullptr;
    const PlainClass& learnt = known_.emplace_back(learn(type));
    return learnt.id_readable ? &learnt : nullptr;
}

PyObject* PlainClasses::plain_id(PyObject* row) {
    const PlainClass* facts = find(Py_TYPE(row));
    PyObject* store = facts ? plain_store(row) : nullptr;
    if (!store) return nullptr;
    PyObject* id = PyDict_GetItemWithError(store, py::id());
    if (!id) PyErr_Clear();  // item read reports it
    return id;
}

PyObject* plain_store(PyObject* row) {
    const RowObject* object = as_row(row);
    if (!holds_no_attributes(object) || !object->column_values || !PyDict_CheckExact(object->column_values))
        return nullptr;
    return object->column_values;
}

}  // namespace brx
