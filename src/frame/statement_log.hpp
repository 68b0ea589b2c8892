// Every statement the module sends is logged at DEBUG on the logger
// "brx_sql", its text and, unless brx_sql.LOG_PARAMETERS is false, its
// parameters. With the logger not enabled for DEBUG (the default) the check
// costs one call of the logger's isEnabledFor, and nothing is formatted.
#pragma once

#include "support/ref.hpp"

namespace brx {

// Binds the module attribute LOG_PARAMETERS = True.
bool bind_statement_log(PyObject* module);

// Logs `statement` with `params` (null when the statement has none) before it
// is sent. Returns false with an exception set when logging itself failed.
bool log_statement(PyObject* statement, PyObject* params);

// Logs `message` at WARNING on the same logger, with `failure` (an exception
// object, or None) as the record's exception. Whatever is raised meanwhile,
// including by logging itself, is dropped: this reports a failure that the
// caller has decided not to raise, and must not replace the one it raises.
void log_warning(const char* message, PyObject* failure) noexcept;

}  // namespace brx
