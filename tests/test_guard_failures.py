"""What the guard does with a borrowed connection when the block, the connection or the pool fails."""
import faulthandler
import logging
import random
import signal
import time

import mysql.connector
import pytest

import brx_sql
from brx_sql import CNXGuard
from support.mariadb import query
from support.recording import Passing
from tables import Home, Person, Toy, graph, idle


class Interrupted(BaseException):
    """What a signal handler raises: not an Exception."""


class Boom(Exception):
    pass


def warnings(caplog):
    return [r for r in caplog.records if r.name == "brx_sql" and r.levelno == logging.WARNING]


@pytest.mark.parametrize("failure", [
    KeyboardInterrupt(), Interrupted(),
    mysql.connector.OperationalError(msg="Lost connection to MySQL server during query", errno=2013),
    ConnectionResetError(104, "Connection reset by peer"),
], ids=["ctrl-c", "signal", "lost", "reset"])
def test_unfit_connection_is_closed_not_given_back(pool, recorder, failure, caplog):
    rec = recorder(pool)
    with pytest.raises(type(failure)) as caught:
        with CNXGuard(None, rec) as cnx:
            query(cnx, "SELECT 1")
            raise failure
    assert caught.value is failure
    assert rec.calls("rollback", "put") == [] and idle(pool) == [] and not cnx.real.is_connected()
    assert [r.exc_info[1] for r in warnings(caplog)] == [failure]


def test_read_timeout_closes_the_connection_whose_reply_is_still_coming(pools, dbconfig):
    pool = pools(**dbconfig, read_timeout=1)
    pool.PING_AFTER = 60  # lent again unchecked: a connection given back would read the old reply
    with pytest.raises(mysql.connector.Error):
        brx_sql.Query("SELECT SLEEP(2), 'slow'", pool=pool)
    assert idle(pool) == []
    assert brx_sql.Query("SELECT %s", ("next",), pool=pool) == [("next",)]


def test_connection_killed_by_the_server_reports_the_statements_error(pool, db, tables):
    cnx = pool.Get()
    db.run("KILL %d" % cnx.connection_id)

    class Unchecked:  # lends the killed connection without asking the server first
        def Get(self):
            return cnx

        def Put(self, connection):
            raise AssertionError("a dead connection went back")
    with pytest.raises(mysql.connector.Error) as caught:
        graph("rex").Insert(pool=Unchecked())
    assert caught.value.errno in (-1, 2006, 2013, 2055)  # -1: "MySQL Connection not available"
    assert tables("persons") == []


class FailingEnd(Passing):
    """A connection whose transaction state or rollback cannot be had."""

    def __init__(self, real, part):
        super().__init__(real)
        self.part = part

    @property
    def in_transaction(self):
        return 1 / 0 if self.part == "in_transaction" else self.real.in_transaction

    def rollback(self):
        return 1 / 0 if self.part == "rollback" else self.real.rollback()


@pytest.mark.parametrize("part", ["rollback", "in_transaction"])
def test_failing_tidy_up_after_a_failed_block_keeps_the_blocks_exception(pool, tables, caplog, part):
    put = []

    class Lender:
        def Get(self):
            return FailingEnd(pool.Get(), part)

        def Put(self, connection):
            put.append(connection)
    with pytest.raises(Boom) as caught:
        with CNXGuard(None, Lender()) as cnx:
            query(cnx, "INSERT INTO homes (name) VALUES ('lost')")
            raise Boom()
    assert caught.value.__context__ is None and put == [] and not cnx.real.is_connected()
    assert [type(r.exc_info[1]) for r in warnings(caplog)] == [ZeroDivisionError]
    assert tables("homes") == []


def test_pool_lending_a_non_connection(caplog):
    class Odd:
        def Get(self):
            return 1

        def Put(self, connection):
            raise AssertionError("not given back")
    with pytest.raises(AttributeError, match="'int' object has no attribute 'cursor'"):
        brx_sql.Execute("SELECT 1", pool=Odd())
    assert "in_transaction" in str(warnings(caplog)[0].exc_info[1])


@pytest.mark.parametrize("failure, nested", [(RuntimeError("surplus close failed"), False),
                                             (KeyboardInterrupt(), False), (KeyboardInterrupt(), True)],
                         ids=["error", "ctrl-c", "ctrl-c after a guarded block of its own"])
def test_failing_put_after_commit_keeps_the_committed_ids(pool, tables, caplog, failure, nested):
    class FailingPut:
        def Get(self):
            return pool.Get()

        def Put(self, connection):
            connection.close()
            if nested:
                brx_sql.GetTableNames(pool=pool)
            raise failure
    person = graph("rex", "tom")
    if isinstance(failure, Exception):
        assert person.Insert(pool=FailingPut()) == person["id"]
    else:
        with pytest.raises(KeyboardInterrupt):
            person.Insert(pool=FailingPut())
    assert [p["id"] > 0 for p in [person, person["home_id"], *person.pets]] == [True] * 4
    assert [row[0] for row in tables("persons")] == [person["id"]] and len(tables("pets")) == 2
    assert [r.exc_info[1] for r in warnings(caplog)] == [failure]


def test_no_pool_says_where_to_set_one():
    with pytest.raises(AttributeError, match=r"CNXGuard\.POOL.*pool argument"):
        Home(name="x").Insert()


LINES = 200


def test_interrupts_at_random_points_of_graph_inserts(pool, dbconfig, tables):
    if not dbconfig["use_pure"]:
        pytest.skip("a signal handler runs between the connector's Python steps only in the pure-Python mode")

    def order():
        return Person(name="o", home_id=Home(name="h"), toys=[Toy(name="t%d" % n) for n in range(LINES)])
    started = time.perf_counter()
    order().Insert(pool=pool)
    duration = time.perf_counter() - started

    def interrupt(signum, frame):
        raise Interrupted()
    previous = signal.signal(signal.SIGALRM, interrupt)
    faulthandler.dump_traceback_later(300, exit=True)  # a hang ends the run, with every thread's stack
    rng = random.Random(23)
    interrupted = 0
    try:
        for _ in range(25):
            try:
                signal.setitimer(signal.ITIMER_REAL, rng.uniform(0, duration))
                started = time.perf_counter()
                order().Insert(pool=pool)
                signal.setitimer(signal.ITIMER_REAL, 0)
                duration = min(duration, time.perf_counter() - started)  # a slow first run drew late timers
            except Interrupted:
                interrupted += 1
            assert not any(cnx.in_transaction for cnx in idle(pool))
            # one snapshot: a COMMIT sent just before the interrupt may still be landing
            (persons, homes, toys), = brx_sql.Execute("SELECT (SELECT COUNT(*) FROM persons), (SELECT COUNT(*)"
                                                      " FROM homes), (SELECT COUNT(*) FROM toys)", pool=pool)
            assert homes == persons and toys == persons * LINES
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        faulthandler.cancel_dump_traceback_later()
        signal.signal(signal.SIGALRM, previous)
    assert interrupted >= 5


def test_an_interrupt_in_a_row_class_leaves_the_rest_unread(pool, db):
    """A million rows would take seconds to read: the connection is closed unread, the pool connects anew."""
    made = []

    def row(*values):
        made.append(values)
        if len(made) == 7:
            raise Interrupted()
    sent = lambda: int(db.query("SHOW GLOBAL STATUS LIKE 'Rows_sent'")[0][1])  # noqa: E731
    before = sent()
    with pytest.raises(Interrupted):
        brx_sql.Query("SELECT seq FROM seq_1_to_1000000", None, row, pool=pool)
    assert len(made) == 7 and idle(pool) == [] and sent() - before < 100_000
    assert brx_sql.Query("SELECT 1", pool=pool) == [(1,)] and len(idle(pool)) == 1
