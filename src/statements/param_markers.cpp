#include "statements/param_markers.hpp"

#include <string>
#include <string_view>

namespace brx {
namespace {

// The end of the quoted part opened by text[begin] (a quote character) and
// closed by the next unescaped one: the position after the closing quote, or
// the text's size when it never closes. A doubled quote closes and reopens;
// outside backticks a backslash escapes the next character, as the server
// reads strings unless NO_BACKSLASH_ESCAPES is set.
std::size_t quoted_end(std::string_view text, std::size_t begin) {
    const char quote = text[begin];
    for (std::size_t i = begin + 1; i < text.size(); ++i) {
        if (text[i] == '\\' && quote != '`') ++i;
        else if (text[i] == quote) return i + 1;
    }
    return text.size();
}

// The end of a comment starting at `begin`, or `begin` when none starts
// there: "#" and "-- " run to the end of the line, "/* ... */" to its close.
// "/*!" and "/*M!" hold statement text the server runs: they are read as such.
std::size_t comment_end(std::string_view text, std::size_t begin) {
    const std::string_view rest = text.substr(begin);
    const bool line = rest.starts_with('#') ||
                      (rest.starts_with("--") && (rest.size() == 2 || static_cast<unsigned char>(rest[2]) <= ' '));
    if (line) {
        const std::size_t newline = text.find('\n', begin);
        return newline == std::string_view::npos ? text.size() : newline + 1;
    }
    if (!rest.starts_with("/*") || rest.starts_with("/*!") || rest.starts_with("/*M!")) return begin;
    const std::size_t close = text.find("*/", begin + 2);
    return close == std::string_view::npos ? text.size() : close + 2;
}

// Calls on_name(begin, end) with the span between the backticks of each quoted
// name, in order, as the server's lexer finds them: a backtick inside a string
// literal or a comment opens no name. Stops when on_name returns false.
template <class OnName>
void each_quoted_name(std::string_view text, OnName&& on_name) {
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '`') {
            const std::size_t end = quoted_end(text, i);
            if (!on_name(i + 1, end > i + 1 && text[end - 1] == '`' ? end - 1 : end)) return;
            i = end;
        } else if (c == '\'' || c == '"') {
            i = quoted_end(text, i);
        } else if (c == '#' || c == '-' || c == '/') {
            const std::size_t end = comment_end(text, i);
            i = end != i ? end : i + 1;
        } else {
            ++i;
        }
    }
}

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
    // Mapping parameters (a caller's "%(name)s" markers) go to the connector as given.
    if (PyDict_Check(params.get())) return true;
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
