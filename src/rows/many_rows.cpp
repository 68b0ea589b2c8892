#include "rows/many_rows.hpp"

#include "connections/guard_block.hpp"
#include "frame/module_state.hpp"
#include "rows/row_pool.hpp"
#include "support/calls.hpp"
#include "support/python_names.hpp"

namespace brx {

bool row_objects(PyObject* given, const ManyRowsCall& call, Ref& list, std::vector<Ref>& objects) {
    list = PyList_Check(given) ? Ref::borrow(given) : Ref::steal(PySequence_List(given));
    if (!list) return false;
    Ref table_base = global(py::TableBase());
    if (!table_base) return false;
    // Checking may run Python code (a metaclass's __instancecheck__) that
    // changes the list: each item is held while it is looked at.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list.get()); ++i) {
        Ref row = Ref::borrow(PyList_GET_ITEM(list.get(), i));
        const int is_row = PyObject_IsInstance(row.get(), table_base.get());
        if (is_row < 0) return false;
        if (!is_row) {
            PyErr_Format(PyExc_TypeError, "%s rows must be row objects, not %.200s (rows[%zd])", call.name,
                         Py_TYPE(row.get())->tp_name, i);
            return false;
        }
        objects.push_back(std::move(row));
    }
    return true;
}

Ref shared_pool(const std::vector<Ref>& objects, PyObject* cnx, PyObject* pool_arg, const ManyRowsCall& call) {
    Ref first = row_pool(objects.front().get(), pool_arg);
    if (!first || cnx != Py_None) return first;
    Ref default_pool = guard_class_attr(py::POOL());
    if (!default_pool) return {};
    const auto lender = [&](PyObject* pool) { return pool == Py_None ? default_pool.get() : pool; };
    for (const Ref& row : objects) {
        Ref pool = row_pool(row.get(), pool_arg);
        if (!pool) return {};
        if (lender(pool.get()) == lender(first.get())) continue;
        PyErr_Format(PyExc_ValueError,
                     "%s %s all rows on one connection, but rows of %.200s and of %.200s borrow from different "
                     "pools: %s",
                     call.name, call.does, Py_TYPE(objects.front().get())->tp_name, Py_TYPE(row.get())->tp_name,
                     call.instead);
        return {};
    }
    return first;
}

}  // namespace brx
