// Bodies of the CNXPool and CNXGuard methods.
#pragma once

#include "module/function.hpp"

namespace brx {
Ref pool_init(const Args& args);
Ref pool_get(const Args& args);
Ref pool_put(const Args& args);

Ref guard_init(const Args& args);
Ref guard_enter(const Args& args);
Ref guard_exit(const Args& args);
}  // namespace brx
