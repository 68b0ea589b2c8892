#include "statements/cursor.hpp"

#include "module/calls.hpp"
#include "module/names.hpp"
#include "statements/statement_log.hpp"

namespace brx {

Ref open_cursor(PyObject* cnx) { return call_method(cnx, "cursor"_id, {}); }

bool execute_statement(PyObject* cursor, PyObject* statement, PyObject* params) {
    if (!log_statement(statement, params)) return false;
    Ref result = params ? call_method(cursor, "execute"_id, {statement, params})
                        : call_method(cursor, "execute"_id, {statement});
    return static_cast<bool>(result);
}

bool drain_rows(PyObject* cursor) {
    Ref iterator = Ref::steal(PyObject_GetIter(cursor));
    if (!iterator) return false;
    while (Ref row = Ref::steal(PyIter_Next(iterator.get()))) {
    }
    return !PyErr_Occurred();
}

Ref last_row_id(PyObject* cursor) { return get_attr(cursor, "lastrowid"_id); }

bool skip_further_results(PyObject* cursor) {
    Ref next_set;
    const int has_next_set = lookup_attribute(cursor, "nextset"_id, next_set);
    if (has_next_set <= 0) return has_next_set == 0;
    for (;;) {
        Ref more = call(next_set.get(), {});
        const int another = more ? truth(more.get()) : -1;
        if (another <= 0) return another == 0;
        if (!drain_rows(cursor)) return false;
    }
}

}  // namespace brx
