#include "rows/graph_transaction.hpp"

#include "rows/multi_foreign_rows.hpp"
#include "rows/referenced_rows.hpp"
#include "rows/row_access.hpp"
#include "statements/cursor.hpp"
#include "support/calls.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// Whatever the predicates could not tell was counted as "several"; the
// failure itself is the write's to report.
bool settled(bool several) {
    if (PyErr_Occurred()) PyErr_Clear();
    return several;
}

// The connection's autocommit mode: the module's own pools say it in their
// settings without asking the server; any other pool's connection is asked.
int in_autocommit_mode(PyObject* cnx, PyObject* pool) {
    Ref lender = pool && pool != Py_None ? Ref::borrow(pool) : Ref();
    if (!lender && !(lender = guard_class_attr(py::POOL()))) return -1;
    Ref settings;
    if (lookup_attribute(lender.get(), py::pool_dbconfig(), settings) > 0 && PyDict_Check(settings.get())) {
        PyObject* flag = PyDict_GetItemWithError(settings.get(), py::autocommit());
        if (!flag) return PyErr_Occurred() ? -1 : 0;
        return truth(Ref::borrow(flag).get());
    }
    Ref flag = get_attr(cnx, py::autocommit());
    return flag ? truth(flag.get()) : -1;
}

}  // namespace

// A foreign-key column of `foreigns` holds a row object not stored yet: it is inserted first.
bool references_new_row(PyObject* row, PyObject* foreigns) {
    Ref store = column_store(row);
    if (!store) return true;
    bool found = false;
    const bool walked = each_item(foreigns, [&](PyObject* foreign) {
        Ref value = Ref::steal(PyObject_GetItem(store.get(), foreign));
        if (!value) {
            PyErr_Clear();
            return true;
        }
        if (value.get() == Py_None || PyLong_Check(value.get())) return true;
        Ref id = Ref::steal(PyObject_GetItem(value.get(), py::id()));
        found = !id || not_stored(id.get()) != 0;
        return !found;
    });
    return found || !walked;
}

// The row holds a multi-foreign list (a non-empty one, unless `even_empty`).
bool holds_rows(PyObject* row, bool even_empty) {
    bool found = false;
    const bool walked = each_loaded_multi_foreign(row, [&](PyObject*, PyObject* rows) {
        found = even_empty || PyObject_Length(rows) != 0;
        return !found;
    });
    return found || !walked;
}

bool insert_may_write_several(PyObject* row, PyObject* foreigns) {
    return settled(references_new_row(row, foreigns) || holds_rows(row, false));
}

bool update_may_write_several(PyObject* row, PyObject* foreigns, bool rewrite) {
    return settled(references_new_row(row, foreigns) || (rewrite && holds_rows(row, true)));
}

bool delete_may_write_several(PyObject* row) {
    Ref entries = get_attr(row, py::MULTI_FOREIGN_ATTR());
    return settled(!entries || PyObject_Length(entries.get()) != 0);
}

bool begin_transaction_if_autocommit(PyObject* cnx, PyObject* pool) {
    const int autocommit = in_autocommit_mode(cnx, pool);
    if (autocommit <= 0) return autocommit == 0;
    Ref open = get_attr(cnx, py::in_transaction());
    const int in_transaction = open ? truth(open.get()) : -1;
    if (in_transaction != 0) return in_transaction > 0;
    Ref cursor = open_cursor(cnx);
    return cursor && execute_statement(cursor.get(), "START TRANSACTION"_id);
}

}  // namespace brx
