// Statement text composition. Every table or column name written between
// backticks goes through quoted_name(), which doubles any backtick in it, so a
// name can never close its quotes and add SQL of its own.
#pragma once

#include "module/ref.hpp"

#include <initializer_list>

namespace brx {

// str(name) with each "`" doubled; names without backticks come back as str(name).
Ref quoted_name(PyObject* name);

// format % (args...), with the interpreter's own conversion rules and errors.
// Arguments meant for `%s` between backticks must already be quoted_name()s.
Ref compose(PyObject* format, std::initializer_list<PyObject*> args);

}  // namespace brx
