// Argument binding: positional arguments first, then keywords in parameter
// order, then the surplus keywords. The error texts and the order of the
// checks are part of the module's interface.
#include "frame/function.hpp"

#include <algorithm>
#include <vector>

namespace brx {
namespace {

void raise_count_error(const Function& fn, bool too_few, Py_ssize_t given) {
    const Signature& signature = fn.entry->signature;
    const Py_ssize_t positional = fn.positional;
    const Py_ssize_t required = fn.required;
    const bool exact = required == positional && signature.star == nullptr;
    const char* wording = exact ? "exactly" : (too_few ? "at least" : "at most");
    const Py_ssize_t bound = (exact || !too_few) ? positional : required;
    const char* hint = too_few || !signature.surplus_hint ? "" : signature.surplus_hint;
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)%s%s",
                 PyUnicode_AsUTF8(fn.name), wording, bound, bound == 1 ? "" : "s", given, *hint ? ": " : "", hint);
}

bool same_name(PyObject* keyword, const char* name) {
    return PyUnicode_Check(keyword) && PyUnicode_CompareWithASCIIString(keyword, name) == 0;
}

PyObject* default_object(const Function& fn, std::size_t index) {
    return PyTuple_GET_ITEM(fn.defaults, static_cast<Py_ssize_t>(index) - fn.required);
}

}  // namespace

bool bind_arguments(const Function& fn, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    Args& out) {
    const Signature& signature = fn.entry->signature;
    const auto positional = static_cast<std::size_t>(fn.positional);
    const auto required = static_cast<std::size_t>(fn.required);
    out.function_ = &fn;

    if (nargs > static_cast<Py_ssize_t>(positional) && signature.star == nullptr) {
        raise_count_error(fn, false, nargs);
        return false;
    }
    const std::size_t filled = std::min<std::size_t>(static_cast<std::size_t>(nargs), positional);
    for (std::size_t i = 0; i < filled; ++i) out.slots_[i] = args[i];
    if (signature.star) out.rest_ = std::span<PyObject* const>(args + filled, args + nargs);

    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nkw == 0) {
        if (filled < required) {
            raise_count_error(fn, true, nargs);
            return false;
        }
        for (std::size_t i = filled; i < positional; ++i) out.slots_[i] = default_object(fn, i);
        return true;
    }

    // Keywords fill the parameters not given by position, in parameter order.
    PyObject* const* kwvalues = args + nargs;
    std::vector<bool> used(static_cast<std::size_t>(nkw), false);
    for (std::size_t i = filled; i < positional; ++i) {
        const char* name = signature.params[i].name;
        PyObject* value = nullptr;
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            if (!used[k] && same_name(PyTuple_GET_ITEM(kwnames, k), name)) {
                used[k] = true;
                value = kwvalues[k];
                break;
            }
        }
        if (!value) {
            if (i < required) {
                raise_count_error(fn, true, static_cast<Py_ssize_t>(i));
                return false;
            }
            value = default_object(fn, i);
        }
        out.slots_[i] = value;
    }

    // What is left: names that are not strings, repeats of positional
    // parameters, and names of no parameter at all.
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        if (used[k]) continue;
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", PyUnicode_AsUTF8(fn.name));
            return false;
        }
        bool repeats = false;
        for (std::size_t i = 0; i < filled && !repeats; ++i)
            repeats = PyUnicode_CompareWithASCIIString(key, signature.params[i].name) == 0;
        if (repeats) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                         PyUnicode_AsUTF8(fn.name), key);
            return false;
        }
        if (signature.starstar == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         PyUnicode_AsUTF8(fn.name), key);
            return false;
        }
        if (!out.extra_keywords_) {
            out.extra_keywords_ = Ref::steal(PyDict_New());
            if (!out.extra_keywords_) return false;
        }
        if (PyDict_SetItem(out.extra_keywords_.get(), key, kwvalues[k]) < 0) return false;
    }
    return true;
}

}  // namespace brx
