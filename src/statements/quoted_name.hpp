// Quoting of names in statement texts. Every table or column name written between
// backticks goes through quoted_name(), which doubles any backtick in it, so a
// name can never close its quotes and add SQL of its own.
#pragma once

#include "support/ref.hpp"

namespace brx {

// str(name) with each "`" doubled; names without backticks come back as str(name).
Ref quoted_name(PyObject* name);

// Statement texts are composed with format() (support/calls.hpp); an argument
// meant for a `%s` between backticks must be a quoted_name().

}  // namespace brx
