"""CNXPool and CNXGuard against the real server: transactions, reuse, dead connections, threads, failures."""
import os
import subprocess
import sys
import threading
import time
import traceback
from contextlib import nullcontext

import mysql.connector
import pytest

import brx_sql
from brx_sql import CNXGuard
from support.mariadb import query
from support.recording import Passing
from tables import idle, run_threads

CREATE_ITEMS = "CREATE TABLE items (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40)) ENGINE=InnoDB"


class Boom(Exception):
    pass


@pytest.mark.parametrize("fails", [False, True], ids=["normal-end", "exception"])
def test_borrowing_guard_ends_one_transaction_for_nested_guards(pool, db, recorder, fails):
    db.run(CREATE_ITEMS)
    rec = recorder(pool)

    def add(name, cnx):
        with CNXGuard(cnx, rec) as inner:  # given a connection: no borrowing, no commit or rollback of its own
            assert inner is cnx
            query(inner, "INSERT INTO items (name) VALUES (%s)", (name,))
            if name == "second" and fails:
                raise Boom()

    with pytest.raises(Boom) if fails else nullcontext():
        with CNXGuard(None, rec) as cnx:
            add("first", cnx)
            add("second", cnx)
    end = ("rollback",) if fails else ("commit",)
    assert rec.calls("get", "commit", "rollback", "put") == [("get",), end, ("put",)]
    assert db.query("SELECT name FROM items ORDER BY id") == ([] if fails else [("first",), ("second",)])
    assert idle(pool) == [cnx.real] and not cnx.in_transaction


@pytest.mark.parametrize("ping_after", [0, 60])
def test_connection_used_after_its_block_is_rolled_back_before_it_is_lent(pool, db, caplog, ping_after):
    db.run(CREATE_ITEMS)
    db.run("INSERT INTO items (name) VALUES ('old')")
    pool.PING_AFTER = ping_after
    row = lambda *values: values  # noqa: E731
    with CNXGuard(None, pool) as cnx:
        pass
    assert CNXGuard.Select(1, "items", row, cnx) == (1, "old")  # a read snapshot opens on the idle connection
    db.run("UPDATE items SET name = 'new'")
    assert CNXGuard.Select(1, "items", row, pool=pool) == (1, "new")
    assert idle(pool) == [cnx] and "used after its block ended" in caplog.text


def test_guard_keeps_the_pool_it_was_built_with(pool, recorder):
    first, second = recorder(pool), recorder(pool)
    CNXGuard.POOL = first
    guard = CNXGuard()
    CNXGuard.POOL = second
    with guard:
        pass
    assert first.calls() == [("get",), ("put",)] and second.calls() == []


def test_pool_lends_last_returned_first_and_keeps_three(pool):
    connections = [pool.Get() for _ in range(4)]
    for connection in connections:
        pool.Put(connection)
    assert idle(pool) == connections[:3]
    assert not connections[3].is_connected()  # the fourth was closed, not kept
    assert pool.Get() is connections[2] and pool.Get() is connections[1]
    assert idle(pool) == connections[:1]


def test_threads_sharing_one_pool(pool, db):
    db.run("CREATE TABLE hits (id INT AUTO_INCREMENT PRIMARY KEY, worker INT) ENGINE=InnoDB")
    lent, lent_lock, errors, done = set(), threading.Lock(), [], [0] * 16
    stop_at = time.monotonic() + 3

    def worker(number):
        try:
            for _ in range(2000):
                if time.monotonic() > stop_at:
                    break
                with CNXGuard(None, pool) as cnx:
                    with lent_lock:
                        assert id(cnx) not in lent, "connection lent twice"
                        lent.add(id(cnx))
                    query(cnx, "INSERT INTO hits (worker) VALUES (%s)", (number,))
                    assert len(idle(pool)) <= 3
                    with lent_lock:
                        lent.discard(id(cnx))
                done[number] += 1
        except BaseException as error:  # noqa: B902 - reported below
            errors.append(error)

    run_threads(worker, range(16))
    assert errors == []
    assert len(idle(pool)) <= 3 and not pool._CNXPool__lock.locked()
    assert db.query("SELECT worker, COUNT(*) FROM hits GROUP BY worker ORDER BY worker") == [
        (n, done[n]) for n in range(16) if done[n]]


def test_failing_commit_closes_the_connection(pool, db):
    db.run(CREATE_ITEMS)
    real = pool.Get()
    failing_end = Passing(real)
    failing_end.commit = lambda: 1 / 0
    pool.Put(failing_end)
    with pytest.raises(ZeroDivisionError) as caught:
        with CNXGuard(None, pool) as cnx:
            query(cnx, "INSERT INTO items (name) VALUES ('lost')")
    # Not given back, and closed: its open transaction must not hold locks until it is collected.
    assert idle(pool) == [] and not real.is_connected()
    assert "brx_sql.CNXGuard.__exit__" in [entry.name for entry in traceback.extract_tb(caught.tb)]
    assert db.query("SELECT name FROM items") == []


def test_pool_failures_release_the_lock(pool, dbconfig):
    broken = brx_sql.CNXPool(**dict(dbconfig, database="no_such_database_here"))
    for _ in range(2):  # a second call must not wait for a lock the first one kept
        with pytest.raises(mysql.connector.Error):
            broken.Get()
    assert not broken._CNXPool__lock.locked() and idle(broken) == []
    broken._CNXPool__dbconfig = None
    with pytest.raises(TypeError, match=r"^argument after \*\* must be a mapping, not NoneType$"):
        broken.Get()
    assert not broken._CNXPool__lock.locked()


def test_example_application_runs(server, clean_databases, db):
    settings = server.settings()
    new = clean_databases[1] + "`new"  # not there yet: the example creates it, its name quoted
    env = {"BRX_DB_NAME": new, "BRX_DB_USER": settings["user"], "BRX_DB_PASSWORD": settings["password"]}
    if "unix_socket" in settings:
        env["BRX_DB_SOCKET"] = settings["unix_socket"]
    else:
        env.update(BRX_DB_HOST=settings["host"], BRX_DB_PORT=str(settings["port"]))
    app = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples", "app.py")
    try:
        result = subprocess.run([sys.executable, app], capture_output=True, text=True, timeout=300,
                                env=dict(os.environ, PYTHONPATH=os.path.dirname(brx_sql.__file__), **env))
    finally:
        db.run("DROP DATABASE IF EXISTS `%s`" % new.replace("`", "``"))
    assert result.returncode == 0, result.stdout + result.stderr
    assert "=== connections ===" in result.stdout and result.stdout.rstrip().endswith("all sections done")
