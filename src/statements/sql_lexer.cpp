#include "statements/sql_lexer.hpp"

namespace brx {

// A doubled quote closes and reopens; outside backticks a backslash escapes
// the next character, as the server reads strings unless NO_BACKSLASH_ESCAPES
// is set.
std::size_t quoted_end(std::string_view text, std::size_t begin) {
    const char quote = text[begin];
    for (std::size_t i = begin + 1; i < text.size(); ++i) {
        if (text[i] == '\\' && quote != '`') ++i;
        else if (text[i] == quote) return i + 1;
    }
    return text.size();
}

// "#" and "-- " run to the end of the line, "/* ... */" to its close. "/*!"
// and "/*M!" hold statement text the server runs: they are read as such.
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

}  // namespace brx
