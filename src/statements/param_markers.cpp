#include "statements/param_markers.hpp"

#include "statements/sql_lexer.hpp"

#include <string>
#include <string_view>

namespace brx {
namespace {

bool percent_in_names(std::string_view text) {
    bool found = false;
    each_quoted_name(text, [&](std::size_t begin, std::size_t end) {
        found = text.substr(begin, end - begin).find('%') != std::string_view::npos;
        return !found;
    });
    return found;
}

// The text in mapping form; `markers` counts the "%s" markers outside names,
// wherever else they stand, as the connector replaces them. Every other "%"
// is written as the mapping form's escape of a literal "%".
std::string mapping_form(std::string_view text, Py_ssize_t& markers) {
    std::string out;
    out.reserve(text.size() + 16);
    const auto copy = [&](std::size_t begin, std::size_t end, bool name) {
        for (std::size_t i = begin; i < end; ++i) {
            if (text[i] != '%') {
                out += text[i];
            } else if (!name && i + 1 < end && text[i + 1] == 's') {
                out += "%(" + std::to_string(markers++) + ")s";
                ++i;
            } else {
                out += "%(_)%";
            }
        }
    };
    std::size_t done = 0;
    each_quoted_name(text, [&](std::size_t begin, std::size_t end) {
        copy(done, begin, false);
        copy(begin, end, true);
        done = end;
        return true;
    });
    copy(done, text.size(), false);
    return out;
}

Ref params_by_position(PyObject* params, Py_ssize_t markers) {
    Ref values = Ref::steal(PySequence_Fast(params, "statement parameters must be a sequence"));
    if (!values) return {};
    if (PySequence_Fast_GET_SIZE(values.get()) != markers) {
        PyErr_SetString(PyExc_ValueError, "statement parameters do not match its markers");
        return {};
    }
    Ref mapping = Ref::steal(PyDict_New());
    if (!mapping) return {};
    for (Py_ssize_t i = 0; i < markers; ++i) {
        Ref key = Ref::steal(PyUnicode_FromFormat("%zd", i));
        if (!key || PyDict_SetItem(mapping.get(), key.get(), PySequence_Fast_GET_ITEM(values.get(), i)) < 0)
            return {};
    }
    return mapping;
}

}  // namespace

bool escape_names_for_params(Ref& text, Ref& params) {
    // Mapping parameters (a caller's "%(name)s" markers) go to the connector as
    // given; with no parameters at all it fills nothing and sends the text as it is.
    if (PyDict_Check(params.get())) return true;
    const Py_ssize_t given = PyObject_Length(params.get());
    if (given <= 0) return given == 0;
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (!utf8) return false;
    const std::string_view view(utf8, static_cast<std::size_t>(size));
    if (!percent_in_names(view)) return true;
    Py_ssize_t markers = 0;
    const std::string rewritten = mapping_form(view, markers);
    Ref mapping = params_by_position(params.get(), markers);
    if (!mapping) return false;
    Ref new_text = Ref::steal(PyUnicode_FromStringAndSize(rewritten.data(), static_cast<Py_ssize_t>(rewritten.size())));
    if (!new_text) return false;
    text = std::move(new_text);
    params = std::move(mapping);
    return true;
}

}  // namespace brx
