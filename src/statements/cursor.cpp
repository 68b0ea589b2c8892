#include "statements/cursor.hpp"

#include "frame/statement_log.hpp"
#include "statements/connector_cursor.hpp"
#include "statements/param_markers.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {

Ref open_cursor(PyObject* cnx) { return cursor_without_ping(cnx); }

bool execute_statement(PyObject* cursor, PyObject* statement, PyObject* params) {
    if (!log_statement(statement, params)) return false;
    if (!params) return static_cast<bool>(call_method(cursor, py::execute(), {statement}));
    Ref text = Ref::borrow(statement);
    Ref values = Ref::borrow(params);
    if (!escape_names_for_params(text, values)) return false;
    return static_cast<bool>(call_method(cursor, py::execute(), {text.get(), values.get()}));
}

bool drain_rows(PyObject* cursor) {
    Ref iterator = Ref::steal(PyObject_GetIter(cursor));
    if (!iterator) return false;
    while (Ref row = Ref::steal(PyIter_Next(iterator.get()))) {
    }
    return !PyErr_Occurred();
}

Ref fetch_batch(PyObject* cursor, bool& batched) {
    batched = is_connector_cursor(cursor);
    if (!batched) return {};
    Ref size = Ref::steal(PyLong_FromSsize_t(kRowsPerBatch));
    Ref rows = size ? call_method(cursor, py::fetchmany(), {size.get()}) : Ref();
    if (!rows || PyList_CheckExact(rows.get())) return rows;
    return Ref::steal(PySequence_List(rows.get()));
}

Ref fetch_all_rows(PyObject* cursor) {
    Ref rows = call_method(cursor, py::fetchall(), {});
    if (!rows || PyList_CheckExact(rows.get())) return rows;
    return Ref::steal(PySequence_List(rows.get()));
}

Ref last_row_id(PyObject* cursor) { return get_attr(cursor, py::lastrowid()); }

bool skip_further_results(PyObject* cursor) {
    Ref next_set;
    const int has_next_set = lookup_attribute(cursor, py::nextset(), next_set);
    if (has_next_set <= 0) return has_next_set == 0;
    for (;;) {
        Ref more = call(next_set.get(), {});
        const int another = more ? truth(more.get()) : -1;
        if (another <= 0) return another == 0;
        if (!drain_rows(cursor)) return false;
    }
}

}  // namespace brx
