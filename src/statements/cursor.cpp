#include "statements/cursor.hpp"

#include "module/calls.hpp"
#include "module/names.hpp"

namespace brx {

Ref open_cursor(PyObject* cnx) { return call_method(cnx, "cursor"_id, {}); }

bool execute_statement(PyObject* cursor, PyObject* statement, PyObject* params) {
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

}  // namespace brx
