// The declared signature of a callable: everything the frame needs to build
// its function object, bind its arguments and name its traceback entries.
// Adding a callable means one `Spec` entry in callables.cpp plus a body.
#pragma once

#include "module/ref.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace brx {

class Args;
using Body = Ref (*)(const Args&);

// Default values are the singletons None, True, False and the integer 1.
enum class Default : std::uint8_t { Required, None, True, False, One };

struct Param {
    const char* name = nullptr;
    Default value = Default::Required;
};

inline constexpr std::size_t kMaxParams = 7;

enum class Kind : std::uint8_t { Method, Static, Function };

struct Spec {
    const char* owner;  // class name; nullptr for a module function
    const char* name;   // as written in the class body, e.g. "__get_pool"
    Kind kind;
    std::array<Param, kMaxParams> params;  // positional-or-keyword, in order
    bool star = false;      // *args collects surplus positionals
    bool starstar = false;  // **kwargs collects surplus keywords
    Body body = nullptr;
    const char* doc = nullptr;

    constexpr std::size_t param_count() const {
        std::size_t n = 0;
        while (n < params.size() && params[n].name) ++n;
        return n;
    }
    constexpr std::size_t required_count() const {
        std::size_t n = 0;
        while (n < params.size() && params[n].name && params[n].value == Default::Required) ++n;
        return n;
    }
};

// The table of every callable, in class-namespace order (callables.cpp).
std::span<const Spec> all_specs();

}  // namespace brx
