#include "rows/single_row_insert.hpp"

#include "rows/id_rollback.hpp"
#include "rows/row_access.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

#include <climits>

namespace brx {

Ref insert_values(PyObject* row, PyObject* foreigns, PyObject* foreign_ids) {
    Ref values = column_store(row);
    if (!values) return {};
    const Py_ssize_t count = PyObject_Length(foreigns);
    if (count < 0) return {};
    if (count == 0) return values;
    Ref copy = call_method(values.get(), py::copy(), {});
    if (!copy) return {};
    const bool done = each_item(foreigns, [&](PyObject* foreign) {
        Ref id = Ref::steal(PyObject_GetItem(foreign_ids, foreign));
        return id && PyObject_SetItem(copy.get(), foreign, id.get()) == 0;
    });
    return done ? std::move(copy) : Ref();
}

Ref id_as_stored(Ref returned, PyObject* sent) {
    if (!PyLong_CheckExact(returned.get())) return returned;
    const unsigned long long value = PyLong_AsUnsignedLongLong(returned.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();  // negative or past 64 bits: no insert id the connector read
        return returned;
    }
    if (value <= static_cast<unsigned long long>(LLONG_MAX)) return returned;
    // Past the signed range: a server-assigned id of an unsigned column, or
    // the echo of a negative id sent as is. Only the row's own id tells.
    Ref zero = Ref::steal(PyLong_FromLong(0));
    if (!zero) return {};
    const int negative = PyObject_RichCompareBool(sent, zero.get(), Py_LT);
    if (negative < 0) return {};
    if (!negative) return returned;
    return Ref::steal(PyLong_FromLongLong(static_cast<long long>(value)));
}

bool note_stored_row(PyObject* row, PyObject* id, PyObject* old_id, PyObject* cnx) {
    if (!write_row_id(row, id, old_id, cnx)) return false;
    Ref cache = get_attr(row, py::CACHE());
    if (!cache) return false;
    if (cache.get() == Py_None) return true;
    Ref table = get_attr(row, py::TABLE_NAME());
    return table && register_in_cache(cache.get(), row, table.get(), id, cnx);
}

}  // namespace brx
