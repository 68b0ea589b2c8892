// A write on the caller's connection that is all or nothing inside the
// caller's transaction. InsertMany puts its row objects back after a failure;
// the rows it had sent by then must go too, or the caller's COMMIT would store
// rows whose objects say they are new, and storing them again would store
// them twice.
#pragma once

#include "support/ref.hpp"

namespace brx {

class CallerTransactionPart {
public:
    CallerTransactionPart();
    ~CallerTransactionPart();
    CallerTransactionPart(const CallerTransactionPart&) = delete;
    CallerTransactionPart& operator=(const CallerTransactionPart&) = delete;

    // Before the first write on `cnx`. A transaction is open: SAVEPOINT, to
    // roll back to. None is open and the connection commits each statement
    // (autocommit): START TRANSACTION, so that the write is one transaction,
    // as one statement is there. None is open otherwise: nothing to send, the
    // first write opens a transaction holding only this call's work.
    bool begin(PyObject* cnx);
    // After the work failed: the caller's transaction as before begin(). The
    // pending exception is kept (a failure here, such as a lost connection,
    // gives way to it).
    void undo();
    // After the work succeeded: the COMMIT of a transaction begin() started.
    bool finish();

private:
    enum class Mode { Savepoint, OwnTransaction, FirstWrite };
    bool run(PyObject* statement);

    int depth_;  // of calls on callers' connections in this thread, this one's
    Mode mode_ = Mode::FirstWrite;
    Ref cnx_;
};

}  // namespace brx
