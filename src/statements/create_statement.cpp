#include "statements/create_statement.hpp"



#include <string>
#include <string_view>
#include <vector>

namespace brx {
namespace {

constexpr std::string_view kCounterOption = "AUTO_INCREMENT=";

// The ASCII characters str.split() counts as whitespace. Anything else a
// statement holds outside quotes is SQL syntax; UTF-8 sequences of other
// characters never contain these bytes.
bool is_space(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte == ' ' || (byte >= '\t' && byte <= '\r') || (byte >= 0x1c && byte <= 0x1f);
}

// The end of the word starting at `at`: the next whitespace outside quotes.
// Inside '...' and "..." a backslash escapes the next character; a doubled
// quote simply closes and reopens. An unclosed quote runs to the end.
std::size_t word_end(std::string_view text, std::size_t at) {
    char quote = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (quote) {
            if (c == '\\' && quote != '`' && at + 1 < text.size()) ++at;
            else if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"' || c == '`') {
            quote = c;
        } else if (is_space(c)) {
            break;
        }
    }
    return at;
}

std::vector<std::string_view> words_of(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (true) {
        while (at < text.size() && is_space(text[at])) ++at;
        if (at == text.size()) return words;
        const std::size_t end = word_end(text, at);
        words.push_back(text.substr(at, end - at));
        at = end;
    }
}

}  // namespace

Ref one_line_create_statement(PyObject* statement) {
    if (!PyUnicode_Check(statement)) {
        PyErr_Format(PyExc_TypeError, "CREATE TABLE statement must be str, not %.200s", Py_TYPE(statement)->tp_name);
        return {};
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(statement, &size);
    if (!utf8) return {};
    const std::string_view text(utf8, static_cast<std::size_t>(size));

    std::string line;
    line.reserve(text.size());
    bool counter_removed = false;
    for (std::string_view word : words_of(text)) {
        if (!counter_removed && word.starts_with(kCounterOption)) {
            counter_removed = true;
            continue;
        }
        if (!line.empty()) line += ' ';
        line += word;
    }
    return Ref::steal(PyUnicode_DecodeUTF8(line.data(), static_cast<Py_ssize_t>(line.size()), nullptr));
}

}  // namespace brx
