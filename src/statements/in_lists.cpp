#include "statements/in_lists.hpp"

#include "statements/sql_lexer.hpp"

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <string_view>

namespace brx {
namespace {

// Subclasses too (a named tuple); nothing else that iterates.
bool is_in_list(PyObject* value) { return PyList_Check(value) || PyTuple_Check(value); }

bool utf8_of(PyObject* text, std::string_view& out) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (!utf8) return false;
    out = std::string_view(utf8, static_cast<std::size_t>(size));
    return true;
}

// True when the text written so far ends with NOT IN (in any case, with
// white space around).
bool ends_with_not_in(std::string_view before) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    const auto word = [&](std::string_view upper) {
        while (!before.empty() && space(before.back())) before.remove_suffix(1);
        if (before.size() < upper.size()) return false;
        for (std::size_t i = 0; i < upper.size(); ++i)
            if ((before[before.size() - upper.size() + i] & ~0x20) != upper[i]) return false;
        before.remove_suffix(upper.size());
        return true;
    };
    if (!word("IN") || before.empty() || !space(before.back()) || !word("NOT")) return false;
    const auto c = static_cast<unsigned char>(before.empty() ? ' ' : before.back());
    return !(std::isalnum(c) || c == '_' || c == '$' || c >= 0x80);
}

// An empty list: "(NULL)", which no value equals; after NOT IN, an empty
// set, which no value is in ("(NULL)" there would match no row either, by the
// rule of NULL).
const char* empty_list(std::string_view before) {
    return ends_with_not_in(before) ? "(SELECT NULL FROM DUAL WHERE FALSE)" : "(NULL)";
}

// Writes "(marker, marker, ...)" for the items of a non-empty `list`, calling
// add_item(index, item) for each. An allocation may collect garbage and so
// run a finaliser: the length is read again each step and each item held.
template <class Marker, class AddItem>
bool write_in_list(std::string& out, PyObject* list, PyObject* parameter, Marker&& marker, AddItem&& add_item) {
    out += '(';
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(list); ++i) {
        Ref item = Ref::borrow(PySequence_Fast_GET_ITEM(list, i));
        if (is_in_list(item.get())) {
            PyErr_Format(PyExc_TypeError,
                         "the IN list of Query parameter %R holds a %.200s (item %zd): an IN list holds single values",
                         parameter, Py_TYPE(item.get())->tp_name, i);
            return false;
        }
        if (i) out += ", ";
        marker(out, i);
        if (!add_item(i, item.get())) return false;
    }
    out += ')';
    return true;
}

bool replace(Ref& text, Ref& params, const std::string& new_text, Ref new_params) {
    Ref made = Ref::steal(PyUnicode_FromStringAndSize(new_text.data(), static_cast<Py_ssize_t>(new_text.size())));
    if (!made || !new_params) return false;
    text = std::move(made);
    params = std::move(new_params);
    return true;
}

bool expand_sequence(Ref& text, Ref& params) {
    PyObject* const given = params.get();
    bool any = false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(given) && !any; ++i)
        any = is_in_list(PySequence_Fast_GET_ITEM(given, i));
    if (!any) return true;
    std::string_view view;
    if (!utf8_of(text.get(), view)) return false;
    std::string out;
    out.reserve(view.size() + 32);
    Ref values = Ref::steal(PyList_New(0));
    if (!values) return false;
    Py_ssize_t next = 0;
    std::size_t done = 0;
    bool ok = true;
    each_sequence_marker(view, [&](std::size_t at) {
        out.append(view.substr(done, at - done));
        done = at + 2;
        // Fewer values than markers: the marker stays, for the connector's own error.
        if (next >= PySequence_Fast_GET_SIZE(given)) {
            out += "%s";
            return true;
        }
        Ref value = Ref::borrow(PySequence_Fast_GET_ITEM(given, next));
        Ref position = Ref::steal(PyLong_FromSsize_t(next++));
        if (!position) return ok = false;
        if (!is_in_list(value.get())) {
            out += "%s";
            return ok = PyList_Append(values.get(), value.get()) == 0;
        }
        if (PySequence_Fast_GET_SIZE(value.get()) == 0) {
            out += empty_list(out);
            return true;
        }
        return ok = write_in_list(
                   out, value.get(), position.get(), [](std::string& o, Py_ssize_t) { o += "%s"; },
                   [&](Py_ssize_t, PyObject* item) { return PyList_Append(values.get(), item) == 0; });
    });
    if (!ok) return false;
    out.append(view.substr(done));
    // Values beyond the markers stay too, for the same reason.
    for (; next < PySequence_Fast_GET_SIZE(given); ++next)
        if (PyList_Append(values.get(), PySequence_Fast_GET_ITEM(given, next)) < 0) return false;
    return replace(text, params, out, Ref::steal(PyList_AsTuple(values.get())));
}

// The names made for the items of list `name` are name[0], name[1], ...,
// with as many brackets around the number as it takes for no caller's key to
// end in as many "]": such a made name then can be no caller's, nor another
// made one (the number and its brackets say where the list's name ends).
std::size_t bracket_depth(PyObject* mapping) {
    std::size_t depth = 1;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(mapping, &pos, &key, &value)) {
        if (!PyUnicode_Check(key)) continue;
        Py_ssize_t size = PyUnicode_GET_LENGTH(key), closing = 0;
        while (closing < size && PyUnicode_READ_CHAR(key, size - 1 - closing) == ']') ++closing;
        depth = std::max(depth, static_cast<std::size_t>(closing) + 1);
    }
    return depth;
}

// The connector's mapping markers: "%(name)" and a conversion letter, "s" for
// a value; it replaces them wherever they stand.
bool is_conversion(char c) { return std::string_view("diouxXeEfFgGcrs%").find(c) != std::string_view::npos; }

bool expand_mapping(Ref& text, Ref& params) {
    PyObject* const given = params.get();
    Ref lists = Ref::steal(PyList_New(0));
    if (!lists) return false;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(given, &pos, &key, &value))
        if (is_in_list(value) && PyList_Append(lists.get(), key) < 0) return false;
    if (PyList_GET_SIZE(lists.get()) == 0) return true;
    std::string_view view;
    if (!utf8_of(text.get(), view)) return false;
    // The caller's values stay; the lists give way to their items.
    Ref mapping = Ref::steal(PyDict_Copy(given));
    if (!mapping) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(lists.get()); ++i)
        if (PyDict_DelItem(mapping.get(), PyList_GET_ITEM(lists.get(), i)) < 0) return false;
    const std::string open(bracket_depth(given), '['), close(open.size(), ']');
    std::map<std::string, std::string, std::less<>> written;  // a list's markers, by its name
    std::string out;
    out.reserve(view.size() + 32);
    bool other_markers = false;
    std::size_t i = 0;
    while (i < view.size()) {
        const std::size_t end = view[i] == '%' && i + 1 < view.size() && view[i + 1] == '(' ? view.find(')', i + 2)
                                                                                             : std::string_view::npos;
        if (end == std::string_view::npos || end == i + 2 || end + 1 >= view.size() || !is_conversion(view[end + 1])) {
            out += view[i++];
            continue;
        }
        const std::string_view name = view.substr(i + 2, end - i - 2);
        const std::string_view marker = view.substr(i, end + 2 - i);
        i = end + 2;
        if (marker.back() != 's') {
            out += marker;
            other_markers = true;
            continue;
        }
        if (const auto found = written.find(name); found != written.end()) {
            out += found->second;
            continue;
        }
        Ref name_object = Ref::steal(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
        if (!name_object) return false;
        Ref list = Ref::borrow(PyDict_GetItemWithError(given, name_object.get()));
        if (!list && PyErr_Occurred()) return false;
        if (!list || !is_in_list(list.get())) {
            out += marker;
            other_markers = true;
            continue;
        }
        if (PySequence_Fast_GET_SIZE(list.get()) == 0) {
            out += empty_list(out);
            continue;
        }
        std::string markers;
        const std::string base(name);
        const auto item_name = [&](Py_ssize_t index) { return base + open + std::to_string(index) + close; };
        const bool made = write_in_list(
            markers, list.get(), name_object.get(),
            [&](std::string& o, Py_ssize_t index) { o += "%(" + item_name(index) + ")s"; },
            [&](Py_ssize_t index, PyObject* item) {
                const std::string made_name = item_name(index);
                Ref item_key = Ref::steal(
                    PyUnicode_FromStringAndSize(made_name.data(), static_cast<Py_ssize_t>(made_name.size())));
                return item_key && PyDict_SetItem(mapping.get(), item_key.get(), item) == 0;
            });
        if (!made) return false;
        out += markers;
        written.emplace(base, std::move(markers));
    }
    // The connector fills nothing from an empty mapping: an unused key keeps
    // it reading the caller's other markers ("%(x)%", an unknown name).
    if (other_markers && PyDict_GET_SIZE(mapping.get()) == 0 &&
        PyDict_SetItem(mapping.get(), PyList_GET_ITEM(lists.get(), 0), Py_None) < 0)
        return false;
    return replace(text, params, out, std::move(mapping));
}

}  // namespace

bool expand_in_lists(Ref& text, Ref& params) {
    if (PyTuple_Check(params.get()) || PyList_Check(params.get())) return expand_sequence(text, params);
    if (PyDict_Check(params.get())) return expand_mapping(text, params);
    return true;
}

}  // namespace brx
