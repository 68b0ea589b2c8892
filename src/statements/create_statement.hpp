// The normal form of a server's CREATE TABLE statement: one line, and without
// the AUTO_INCREMENT=n table option, so it describes the table's layout and
// not its row counter.
#pragma once

#include "support/ref.hpp"

namespace brx {

// Every run of whitespace becomes one space and the first word starting with
// "AUTO_INCREMENT=" is left out. Quoted parts ('text', "text", `name`) are
// kept as the server wrote them and never split: collapsing or cutting inside
// them would change a default value, a comment or a column name.
Ref one_line_create_statement(PyObject* statement);

}  // namespace brx
