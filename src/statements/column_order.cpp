#include "statements/column_order.hpp"

#include "statements/cursor.hpp"
#include "support/calls.hpp"
#include "support/class_version_cache.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_internals.hpp"
#include "support/python_names.hpp"

#include <algorithm>
#include <string>
#include <string_view>

namespace brx {
namespace {

// The source of rows (a table, or the text of a statement) a class was found
// right for, at a version of the class. The source's text is kept by value:
// no reference outlives the interpreter.
struct CheckedSource {
    RowSource::Kind kind = RowSource::Kind::Table;
    std::string text;
};

ClassVersionCache<CheckedSource> checked;

// The source's text, or empty when it has none to compare (not a str).
std::string_view source_text(const RowSource& source) {
    if (!PyUnicode_Check(source.name)) return {};
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(source.name, &size);
    if (!text) {
        PyErr_Clear();
        return {};
    }
    return {text, static_cast<size_t>(size)};
}

bool known_right(PyObject* row_class, const RowSource& source) {
    if (!internals::kFastPaths || !PyType_Check(row_class)) return false;
    const CheckedSource* kept = checked.find(reinterpret_cast<PyTypeObject*>(row_class));
    if (!kept) return false;
    const std::string_view text = source_text(source);
    return !text.empty() && kept->kind == source.kind && text == kept->text;
}

void remember_right(PyObject* row_class, const RowSource& source, unsigned int version) {
    const std::string_view text = source_text(source);
    if (text.empty()) return;
    CheckedSource right;
    try {
        right.text.assign(text);
    } catch (...) {
        return;  // no room: checked again next time
    }
    right.kind = source.kind;
    checked.keep(reinterpret_cast<PyTypeObject*>(row_class), version, std::move(right));
}

// 1 when every position that has both a declared and a reported name has
// the same one, 0 not, -1 failed. A row built from fewer values than the
// class declares takes defaults for the rest, and the columns beyond the
// declared names are no concern of the order: only a name paired with another
// column's value is wrong.
int same_names(PyObject* declared, PyObject* reported) {
    // Both lists are this check's own copies: an item's __eq__ cannot change
    // their length; the items are held for the comparison.
    const Py_ssize_t count = std::min(PyList_GET_SIZE(declared), PyList_GET_SIZE(reported));
    for (Py_ssize_t i = 0; i < count; ++i) {
        Ref mine = Ref::borrow(PyList_GET_ITEM(declared, i));
        Ref theirs = Ref::borrow(PyList_GET_ITEM(reported, i));
        const int equal = same_name(mine.get(), theirs.get());
        if (equal <= 0) return equal;
    }
    return 1;
}

bool raise_mismatch(PyObject* row_class, const RowSource& source, PyObject* declared, PyObject* reported) {
    Ref class_name = get_attr(row_class, py::dunder_name());
    if (!class_name) {
        PyErr_Clear();
        class_name = Ref::borrow(row_class);
    }
    const bool table = source.kind == RowSource::Kind::Table;
    Ref message = format(table ? "Table %s has the columns %r, in this order, but %s.COLUMN_NAMES is %r: "
                                 "declare COLUMN_NAMES as the table's columns in the table's order"_id
                               : "Query %.200r returns the columns %r, in this order, but %s.COLUMN_NAMES is %r: "
                                 "select the class's columns in its order"_id,
                         {source.name, reported, class_name.get(), declared});
    if (message) PyErr_SetObject(PyExc_ValueError, message.get());
    return false;
}

bool compare(PyObject* row_class, const RowSource& source, PyObject* cursor) {
    Ref names;
    const int has_names = lookup_attribute(row_class, py::COLUMN_NAMES(), names);
    if (has_names <= 0) return has_names == 0;
    // Read now: the version that goes with the names just found.
    const bool tagged = PyType_Check(row_class) &&
                        internals::has_valid_version(reinterpret_cast<PyTypeObject*>(row_class));
    const unsigned int version = tagged ? internals::version_tag(reinterpret_cast<PyTypeObject*>(row_class)) : 0;
    Ref declared = Ref::steal(PySequence_List(names.get()));
    if (!declared) return false;
    Ref reported = cursor_column_names(cursor);
    if (!reported) return false;
    if (reported.get() == Py_None) return true;
    const int same = same_names(declared.get(), reported.get());
    if (same < 0) return false;
    if (!same) return raise_mismatch(row_class, source, declared.get(), reported.get());
    if (tagged && internals::kFastPaths) remember_right(row_class, source, version);
    return true;
}

}  // namespace

Ref cursor_column_names(PyObject* cursor) {
    Ref description;
    const int present = lookup_attribute(cursor, py::description(), description);
    if (present < 0) return {};
    if (!present || description.get() == Py_None) return none();
    Ref names = Ref::steal(PyList_New(0));
    if (!names) return {};
    const bool read = each_item(description.get(), [&](PyObject* column) {
        Ref name = Ref::steal(PySequence_GetItem(column, 0));
        return name && PyList_Append(names.get(), name.get()) == 0;
    });
    return read ? std::move(names) : Ref();
}

int same_name(PyObject* mine, PyObject* theirs) {
    const int equal = PyObject_RichCompareBool(mine, theirs, Py_EQ);
    if (equal != 0 || !PyUnicode_Check(mine) || !PyUnicode_Check(theirs)) return equal;
    Ref mine_lower = call_method(mine, py::lower(), {});
    Ref theirs_lower = mine_lower ? call_method(theirs, py::lower(), {}) : Ref();
    if (!theirs_lower) return -1;
    return PyObject_RichCompareBool(mine_lower.get(), theirs_lower.get(), Py_EQ);
}

bool check_column_order(PyObject* row_class, const RowSource& source, PyObject* cursor) {
    if (known_right(row_class, source)) return true;
    if (compare(row_class, source, cursor)) return true;
    // An interrupt stops at once: the rest of the result stays unread, and
    // the connection with it is closed rather than used again.
    if (interrupt_pending()) return false;
    StashedError failure;
    drain_results(cursor);
    return false;
}

}  // namespace brx
