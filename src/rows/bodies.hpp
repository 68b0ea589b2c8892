// Bodies of ColumnAttribute, MultiForeignAttr and TableBase methods.
#pragma once

#include "module/function.hpp"

namespace brx {
Ref column_attribute_init(const Args& args);
Ref multi_foreign_attr_init(const Args& args);

Ref table_init(const Args& args);
Ref table_is_foreign(const Args& args);
Ref table_is_foreign_key(const Args& args);
Ref table_get_default(const Args& args);
Ref table_get_pool(const Args& args);
Ref table_getitem(const Args& args);
Ref table_setitem(const Args& args);
Ref table_get_foreigns(const Args& args);
Ref table_fill_foreign(const Args& args);
Ref table_insert(const Args& args);
Ref table_insert_multi_foreign_attr(const Args& args);
Ref table_delete_multi_foreign_attr(const Args& args);
Ref table_delete(const Args& args);
Ref table_column_value_for_update(const Args& args);
Ref table_update(const Args& args);
}  // namespace brx
