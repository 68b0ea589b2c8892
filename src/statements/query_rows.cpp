#include "statements/query_rows.hpp"

#include "statements/column_order.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

bool raise_taken_name(PyObject* row_class, PyObject* statement, PyObject* name, PyObject* declared, bool declared_name) {
    Ref class_name = get_attr(row_class, py::dunder_name());
    if (!class_name) {
        PyErr_Clear();
        class_name = Ref::borrow(row_class);
    }
    Ref message = format(declared_name ? "Query %.200r returns the column %r after the columns of %s.COLUMN_NAMES %r, "
                                         "which name it already: give it another name with AS"_id
                                       : "Query %.200r returns the column %r twice after the columns of "
                                         "%s.COLUMN_NAMES %r: give each its own name with AS"_id,
                         {statement, name, class_name.get(), declared});
    if (message) PyErr_SetObject(PyExc_ValueError, message.get());
    return false;
}

// 1 when `name` is one of names[begin:end] (compared by `same`), 0 not, -1 failed.
template <class Same>
int among(PyObject* names, Py_ssize_t begin, Py_ssize_t end, PyObject* name, Same&& same) {
    for (Py_ssize_t i = begin; i < end; ++i) {
        Ref other = Ref::borrow(PyList_GET_ITEM(names, i));
        const int found = same(other.get(), name);
        if (found != 0) return found;
    }
    return 0;
}

}  // namespace

bool QueryRows::prepare(Py_ssize_t width) {
    Ref names;
    // A callable without COLUMN_NAMES takes every value by position.
    if (lookup_attribute(row_class_, py::COLUMN_NAMES(), names) <= 0) return true;
    Ref declared = Ref::steal(PySequence_List(names.get()));
    if (!declared) return false;
    const Py_ssize_t count = PyList_GET_SIZE(declared.get());
    if (width <= count) return true;
    Ref reported = cursor_column_names(cursor_);
    if (!reported) return false;
    if (reported.get() == Py_None || PyList_GET_SIZE(reported.get()) != width) return true;
    Ref keyword_names = Ref::steal(PyTuple_New(width - count));
    if (!keyword_names) return false;
    const auto equal = [](PyObject* a, PyObject* b) { return PyObject_RichCompareBool(a, b, Py_EQ); };
    for (Py_ssize_t i = count; i < width; ++i) {
        Ref name = Ref::borrow(PyList_GET_ITEM(reported.get(), i));
        const int declared_name = among(declared.get(), 0, count, name.get(), same_name);
        const int repeated = declared_name ? 0 : among(reported.get(), count, i, name.get(), equal);
        if (declared_name < 0 || repeated < 0) return false;
        if (declared_name || repeated)
            return raise_taken_name(row_class_, statement_, name.get(), declared.get(), declared_name != 0);
        PyTuple_SET_ITEM(keyword_names.get(), i - count, name.release());
    }
    positional_ = count;
    keyword_names_ = std::move(keyword_names);
    return true;
}

Ref QueryRows::build(PyObject* row) {
    if (!prepared_) {
        prepared_ = true;
        const Py_ssize_t width = PyObject_Length(row);
        if (width < 0 || !prepare(width)) return {};
    }
    if (!keyword_names_) return call_with_row(row_class_, row);
    Ref values = PyTuple_CheckExact(row) ? Ref::borrow(row) : Ref::steal(PySequence_Tuple(row));
    if (!values) return {};
    const Py_ssize_t width = positional_ + PyTuple_GET_SIZE(keyword_names_.get());
    if (PyTuple_GET_SIZE(values.get()) != width) {
        PyErr_Format(PyExc_ValueError, "Query read a row of %zd values from a result of %zd columns",
                     PyTuple_GET_SIZE(values.get()), width);
        return {};
    }
    return Ref::steal(PyObject_Vectorcall(row_class_, PySequence_Fast_ITEMS(values.get()),
                                          static_cast<size_t>(positional_), keyword_names_.get()));
}

}  // namespace brx
