// The connector's C extension raises, from a few of its calls (a commit, a
// value it cannot convert), its own error class, which does not derive from
// mysql.connector.Error. Every failure leaving a callable of the module is
// turned into the connector's error instead, so that one `except
// mysql.connector.Error` catches every database failure.
#pragma once

#include "support/ref.hpp"

namespace brx {

// The C extension's own base error class; null without an exception when the
// extension is not loaded (and so raises nothing).
Ref extension_error_class();

// When the exception being raised is the C extension's own, replaces it by
// the connector's error for its number (mysql.connector.errors'
// get_mysql_exception, as the connector itself does), or by its
// InterfaceError when it carries no number; the original becomes the cause.
// Any other exception, or a failure to build the replacement, leaves the
// exception as it is. Cold: only failing calls get here.
[[gnu::cold]] void raise_as_connector_error();

}  // namespace brx
