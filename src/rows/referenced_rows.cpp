#include "rows/referenced_rows.hpp"

#include "rows/foreign_lookup.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {

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
    if (!resolve_foreign_on(row, column, cnx)) return {};
    Ref target = Ref::steal(PyObject_GetItem(row, column));
    if (!target || target.get() == Py_None) return target;
    Ref id = held_row_id(row, column, target.get());
    if (!id) return {};
    const int is_new = not_stored(id.get());
    if (is_new < 0) return {};
    if (is_new) return call_method(target.get(), py::Insert(), {cnx, pool});
    return id;
}

Ref store_referenced_rows(PyObject* row, PyObject* foreigns, PyObject* cnx, PyObject* pool) {
    Ref foreign_ids = Ref::steal(PyDict_New());
    if (!foreign_ids) return {};
    const bool done = each_item(foreigns, [&](PyObject* foreign) {
        Ref id = referenced_identifier(row, foreign, cnx, pool);
        return id && PyObject_SetItem(foreign_ids.get(), foreign, id.get()) == 0;
    });
    return done ? std::move(foreign_ids) : Ref();
}

}  // namespace brx
