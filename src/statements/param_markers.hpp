// Statements the module composes run with "%s" markers and a sequence of
// values. A name holding "%" (quoted between backticks) would be read by the
// connector as a marker; such a statement is sent in the connector's mapping
// form instead, where a name's "%" can be escaped.
#pragma once

#include "support/ref.hpp"

namespace brx {

// Rewrites `text` and `params` into the mapping form ("%(0)s" markers, a
// dict of values, each "%" inside backticks escaped) when a quoted name holds
// "%"; leaves both alone otherwise. Names are found as the server's lexer
// finds them: a backtick inside a string literal or a comment quotes nothing.
// False with an exception set on failure.
bool escape_names_for_params(Ref& text, Ref& params);

}  // namespace brx
