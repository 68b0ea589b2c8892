// Walking a row object's multi-foreign attributes and their rows, and
// deleting the rows of one multi-foreign attribute that point at a row.
#pragma once

#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {

// Calls visit(attr_name, settings) for each pair of
// row.MULTI_FOREIGN_ATTR.items(), in the dict's order.
template <class Visit>
bool each_multi_foreign(PyObject* row, Visit&& visit) {
    Ref entries = get_attr(row, py::MULTI_FOREIGN_ATTR());
    if (!entries) return false;
    if (PyDict_CheckExact(entries.get()) && PyDict_GET_SIZE(entries.get()) == 0) return true;
    Ref items = call_method(entries.get(), py::items(), {});
    if (!items) return false;
    return each_item(items.get(), [&](PyObject* item) {
        Ref pair[2];
        return unpack_pair(item, pair) && visit(pair[0].get(), pair[1].get());
    });
}

// Calls visit(settings, rows) for each multi-foreign attribute loaded on the
// row (the module's hasattr rule: a failing lookup counts as not loaded).
template <class Visit>
bool each_loaded_multi_foreign(PyObject* row, Visit&& visit) {
    return each_multi_foreign(row, [&](PyObject* attr_name, PyObject* settings) {
        Ref rows;
        const int found = lookup_attribute(row, attr_name, rows);
        if (found < 0) return false;
        return found == 0 || visit(settings, rows.get());
    });
}

// DELETE FROM `foreign_attr_table` WHERE `foreign_name` = id, on `cursor` (a
// cursor of `cnx`), sparing the rows whose identifiers are in the list `kept`
// when one is given. When the attribute's row class has a cache, the deleted
// rows' identifiers are selected first and the cache forgets them, so it never
// hands out rows that are gone.
bool delete_rows_pointing_at(PyObject* cnx, PyObject* cursor, PyObject* settings, PyObject* id,
                             PyObject* kept = nullptr);

}  // namespace brx
