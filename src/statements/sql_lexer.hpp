// Reading a statement's text as the server's lexer reads it, as far as the
// parameter markers need: where quoted names are (a backtick inside a string
// literal or a comment quotes nothing), and which "%s" the connector fills
// with a sequence's values.
#pragma once

#include <cstddef>
#include <string_view>

namespace brx {

// The end of the quoted part opened by text[begin] (a quote character) and
// closed by the next unescaped one: the position after the closing quote, or
// the text's size when it never closes.
std::size_t quoted_end(std::string_view text, std::size_t begin);

// The end of a comment starting at `begin`, or `begin` when none starts there.
std::size_t comment_end(std::string_view text, std::size_t begin);

// Calls on_name(begin, end) with the span between the backticks of each quoted
// name, in order. Stops when on_name returns false.
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

// Calls on_marker(position) for each "%s" that a sequence of values fills, in
// order: every "%s" outside quoted names, string literals and comments
// included, as the connector replaces them (a name's "%" is escaped before
// the connector sees it). Stops when on_marker returns false.
template <class OnMarker>
void each_sequence_marker(std::string_view text, OnMarker&& on_marker) {
    bool going = true;
    const auto scan = [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; going && i + 1 < end; ++i)
            if (text[i] == '%' && text[i + 1] == 's') going = on_marker(i++);
    };
    std::size_t done = 0;
    each_quoted_name(text, [&](std::size_t begin, std::size_t end) {
        scan(done, begin);
        done = end;
        return going;
    });
    if (going) scan(done, text.size());
}

}  // namespace brx
