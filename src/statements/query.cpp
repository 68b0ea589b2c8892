// Query: one caller-written statement with its parameters, in one guarded
// block; its rows as tuples, or as row objects of the given class.
#include "connections/guard_block.hpp"
#include "statements/column_order.hpp"
#include "statements/cursor.hpp"
#include "statements/in_lists.hpp"
#include "statements/query_rows.hpp"
#include "statements/statement_methods.hpp"
#include "support/calls.hpp"
#include "support/deferred_tracking.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// The parameters as the connector takes them: None (no parameters), a tuple
// or list for "%s" markers, a dict for "%(name)s" markers. Other sequences
// become a tuple and other mappings a dict; a str, bytes or anything else is
// refused before a connection is borrowed.
Ref statement_params(PyObject* params) {
    if (params == Py_None || PyTuple_Check(params) || PyList_Check(params) || PyDict_Check(params))
        return Ref::borrow(params);
    if (!PyUnicode_Check(params) && !PyBytes_Check(params) && !PyByteArray_Check(params)) {
        Ref keys;
        const int mapping = lookup_attribute(params, py::keys(), keys);
        if (mapping < 0) return {};
        if (mapping) return call(reinterpret_cast<PyObject*>(&PyDict_Type), {params});
        if (PySequence_Check(params)) return Ref::steal(PySequence_Tuple(params));
    }
    PyErr_Format(PyExc_TypeError, "Query parameters must be a sequence or a mapping, not %.200s",
                 Py_TYPE(params)->tp_name);
    return {};
}

}  // namespace

Ref query(Bound<sig::query> args) {
    PyObject* const statement = args.get<"statement">();
    PyObject* const row_class = args.get<"_class">();
    if (!PyUnicode_Check(statement)) {
        PyErr_Format(PyExc_TypeError, "Query statement must be a str, not %.200s", Py_TYPE(statement)->tp_name);
        return {};
    }
    Ref params = statement_params(args.get<"params">());
    Ref text = Ref::borrow(statement);
    if (!params || !expand_in_lists(text, params)) return {};
    DeferredTracking tracking;  // the row objects, until they are handed out
    return with_guard(args.get<"cnx">(), args.get<"pool">(), [&](PyObject* cnx) -> Ref {
        Ref cursor = open_cursor(cnx);
        if (!cursor) return {};
        PyObject* const values = params.get() == Py_None ? nullptr : params.get();
        if (!execute_statement(cursor.get(), text.get(), values)) return {};
        // The caller's text is the statement's shape, whatever the length of its
        // IN lists: checked at its first read per class.
        if (row_class != Py_None &&
            !check_column_order(row_class, RowSource{RowSource::Kind::Statement, statement}, cursor.get()))
            return {};
        Ref rows = Ref::steal(PyList_New(0));
        if (!rows) return {};
        QueryRows row_objects(row_class, statement, cursor.get());
        // A statement without a result (an UPDATE) yields no rows here.
        const bool read = for_each_row(cursor.get(), [&](PyObject* row) {
            Ref item = row_class != Py_None ? row_objects.build(row)
                       : PyTuple_Check(row)    ? Ref::borrow(row)
                                               : Ref::steal(PySequence_Tuple(row));
            if (item && row_class != Py_None) tracking.defer(item.get());
            return item && PyList_Append(rows.get(), item.get()) == 0 ? RowStep::Next : RowStep::Fail;
        });
        if (!read || !skip_further_results(cursor.get())) return {};
        return rows;
    });
}

}  // namespace brx
