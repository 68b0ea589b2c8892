#include "rows/caller_transaction.hpp"

#include "statements/cursor.hpp"
#include "statements/statement_texts.hpp"
#include "support/calls.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

thread_local int calls_on_callers_connections = 0;

// A connection attribute's truth value: 1, 0 or -1.
int flag(PyObject* cnx, PyObject* name) {
    Ref value = get_attr(cnx, name);
    return value ? truth(value.get()) : -1;
}

}  // namespace

CallerTransactionPart::CallerTransactionPart() : depth_(++calls_on_callers_connections) {}

CallerTransactionPart::~CallerTransactionPart() { --calls_on_callers_connections; }

bool CallerTransactionPart::run(PyObject* statement) {
    Ref cursor = open_cursor(cnx_.get());
    return cursor && execute_statement(cursor.get(), statement);
}

bool CallerTransactionPart::begin(PyObject* cnx) {
    cnx_ = Ref::borrow(cnx);
    const int open = flag(cnx, py::in_transaction());
    if (open < 0) return false;
    if (open) {
        mode_ = Mode::Savepoint;
        Ref text = savepoint_text(depth_);
        return text && run(text.get());
    }
    // The connector asks the server: one round trip, which only a connection
    // between transactions costs.
    const int autocommit = flag(cnx, py::autocommit());
    if (autocommit < 0) return false;
    mode_ = autocommit ? Mode::OwnTransaction : Mode::FirstWrite;
    return !autocommit || run("START TRANSACTION"_id);
}

void CallerTransactionPart::undo() {
    if (!cnx_ || interrupt_pending()) return;  // an interrupted connection is closed, not used again
    StashedError failure;
    Ref text = mode_ == Mode::Savepoint ? rollback_to_savepoint_text(depth_) : Ref::borrow("ROLLBACK"_id);
    if (text) run(text.get());
}

bool CallerTransactionPart::finish() { return mode_ != Mode::OwnTransaction || run("COMMIT"_id); }

}  // namespace brx
