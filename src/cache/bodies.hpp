// Bodies of the Cache methods.
#pragma once

#include "module/function.hpp"

namespace brx {
Ref cache_init(const Args& args);
Ref cache_get_pool(const Args& args);
Ref cache_set_pool(const Args& args);
Ref cache_select(const Args& args);
Ref cache_delete(const Args& args);
Ref cache_insert(const Args& args);
Ref cache_cached_table(const Args& args);
Ref cache_clear_table(const Args& args);
Ref cache_cache(const Args& args);
Ref cache_refresh(const Args& args);
Ref cache_tables(const Args& args);
Ref cache_update(const Args& args);
}  // namespace brx
