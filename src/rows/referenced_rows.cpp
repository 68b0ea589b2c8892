#include "rows/referenced_rows.hpp"

#include "rows/foreign_lookup.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// What item read of `column` gives, a stored identifier being looked up on
// `cnx` (and kept in the column, as item read keeps it).
Ref referenced_row(PyObject* row, PyObject* column, PyObject* cnx) {
    Ref value, cache;
    const ForeignRead read = foreign_read(row, column, value, cache);
    if (read == ForeignRead::Failed) return {};
    if (read == ForeignRead::Database) return resolve_foreign(row, column, value.get(), cache.get(), cnx);
    if (read == ForeignRead::AsStored && value) return value;
    return Ref::steal(PyObject_GetItem(row, column));
}

// The identifier `target`, what `column` points at, is written with (None for
// a NULL key): 1 when the target is stored or None, 0 when it is a row not
// stored yet, -1 with an exception set.
int target_identifier(PyObject* row, PyObject* column, PyObject* target, Ref& id) {
    if (target == Py_None) {
        id = Ref::borrow(Py_None);
        return 1;
    }
    id = held_row_id(row, column, target);
    if (!id) return -1;
    const int is_new = not_stored(id.get());
    return is_new < 0 ? -1 : !is_new;
}

}  // namespace

Ref held_row_id(PyObject* row, PyObject* column, PyObject* target) {
    if (PyUnicode_Check(target) || PyBytes_Check(target)) {
        PyErr_Format(PyExc_TypeError,
                     "Column %R of %.200s is a foreign key: it takes the referenced row object, its integer id "
                     "or None, not %.200s %R",
                     column, Py_TYPE(row)->tp_name, Py_TYPE(target)->tp_name, target);
        return {};
    }
    return Ref::steal(PyObject_GetItem(target, py::id()));
}

Ref referenced_identifier(PyObject* row, PyObject* column, PyObject* cnx, PyObject* pool) {
    Ref target = referenced_row(row, column, cnx);
    if (!target) return {};
    Ref id;
    const int stored = target_identifier(row, column, target.get(), id);
    if (stored != 0) return stored > 0 ? std::move(id) : Ref();
    return call_method(target.get(), py::Insert(), {cnx, pool});
}

Ref store_referenced_rows(PyObject* row, PyObject* foreigns, PyObject* cnx, PyObject* pool) {
    Ref foreign_ids = Ref::steal(PyDict_New());
    if (!foreign_ids) return {};
    const bool done = each_item(foreigns, [&](PyObject* foreign) {
        Ref id = referenced_identifier(row, foreign, cnx, pool);
        return id && PyDict_SetItem(foreign_ids.get(), foreign, id.get()) == 0;
    });
    return done ? std::move(foreign_ids) : Ref();
}

int stored_referenced_ids(PyObject* row, PyObject* foreigns, PyObject* cnx, Ref& foreign_ids) {
    foreign_ids = Ref::steal(PyDict_New());
    if (!foreign_ids) return -1;
    bool all_stored = true;
    const bool done = each_item(foreigns, [&](PyObject* foreign) {
        Ref target = referenced_row(row, foreign, cnx);
        Ref id;
        const int stored = target ? target_identifier(row, foreign, target.get(), id) : -1;
        all_stored = stored > 0;
        return all_stored && PyDict_SetItem(foreign_ids.get(), foreign, id.get()) == 0;
    });
    if (done) return 1;
    return PyErr_Occurred() ? -1 : 0;
}

}  // namespace brx
