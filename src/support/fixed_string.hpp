// A string literal usable as a template argument: "name"_id, get<"name">().
#pragma once

#include <algorithm>
#include <cstddef>

namespace brx {

template <std::size_t N>
struct FixedString {
    char data[N]{};
    constexpr FixedString(const char (&text)[N]) { std::copy_n(text, N, data); }
};

}  // namespace brx
