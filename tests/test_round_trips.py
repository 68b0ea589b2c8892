"""Round trips counted by the server (statements plus pings) per operation and pool mode, PING_AFTER
and connections lost inside its window, multi-row inserts of graph writes, MAX_IDLE and the pool's
lock under threads."""
import json
import subprocess
import sys
import threading

import mysql.connector
import pytest

import brx_sql
from brx_sql import Cache, CNXGuard, CNXPool
from tables import Home, Person, Pet, Toy, counts, graph, idle, ids, key, run_threads


@pytest.fixture
def count_round_trips(server, db):
    """`count_round_trips(action)`: what `action()` cost the private server, in statements plus pings."""
    if not server.private:
        pytest.skip("global counters need the private test server to themselves")

    def total():
        rows = db.query("SHOW GLOBAL STATUS WHERE Variable_name IN ('Questions', 'Com_admin_commands')")
        return sum(int(value) for _, value in rows)

    def count(action):
        first = total()
        reading_cost = total() - first
        before = total()
        action()
        return total() - before - reading_cost
    return count


def stored_home(pool=None, cnx=None):
    home = Home(name="h")
    home.Insert(cnx, pool)
    return home


OPERATIONS = {
    "select": lambda home, cnx: CNXGuard.Select(home["id"], "homes", Home, cnx),
    "insert": lambda home, cnx: Home(name="new").Insert(cnx=cnx),
    "update": lambda home, cnx: home.Update(cnx=cnx),
    "delete": lambda home, cnx: home.Delete(cnx=cnx),
}


@pytest.mark.parametrize("settings, expected", [({}, 3), ({"PING_AFTER": 60}, 2),
                                                ({"PING_AFTER": 60, "autocommit": True}, 1),
                                                ({"PING_AFTER": 60, "buffered": True}, 2), ({"cnx": True}, 1)],
                         ids=["default", "ping_after", "ping_after+autocommit", "ping_after+buffered", "callers_cnx"])
@pytest.mark.parametrize("operation", OPERATIONS)
def test_round_trips_of_single_row_operations(tables, pools, dbconfig, count_round_trips, operation, settings,
                                               expected):
    settings = dict(settings)
    ping_after, given = settings.pop("PING_AFTER", 0), settings.pop("cnx", False)
    CNXGuard.POOL = pool = pools(**dbconfig, **settings)
    pool.PING_AFTER = ping_after
    home = stored_home()  # also leaves one idle connection in the pool
    cnx = mysql.connector.connect(**dbconfig) if given else None  # the caller's: its statement alone, no ping
    if cnx:
        stored_home(cnx=cnx)  # the pure connector asks for sql_mode at its first escaping
    try:
        assert count_round_trips(lambda: OPERATIONS[operation](home, cnx)) == expected
    finally:
        if cnx:
            cnx.close()


@pytest.mark.parametrize("server_says, expected", [(None, 4), ("10.4.30-MariaDB", 13)],
                         ids=["returning", "one_insert_per_row"])
def test_round_trips_of_a_graph_insert(tables, pool, count_round_trips, monkeypatch, server_says, expected):
    pool.PING_AFTER = 60
    stored_home(pool)  # warm: one idle connection
    if server_says:  # a server that cannot return the ids of a multi-row INSERT
        monkeypatch.setattr(type(idle(pool)[0]), "server_info", server_says)
    person = graph(*("pet%d" % n for n in range(10)))
    assert count_round_trips(lambda: person.Insert(pool=pool)) == expected


def test_round_trips_of_insert_many(tables, pool, count_round_trips):
    stored_home(pool)  # warm: one idle connection
    rows = [Home(name="h%d" % n) for n in range(1000)]
    assert count_round_trips(lambda: brx_sql.InsertMany(rows, pool=pool)) == 4  # ping, 2 INSERTs, COMMIT


class Manager(Person):
    """A person whose home_id names another person."""


Manager.COLUMN_ATTRIBUTES = dict(Person.COLUMN_ATTRIBUTES, home_id=key("home_id", "persons", Manager))


@pytest.mark.parametrize("step", [1, 3], ids=["consecutive_ids", "stepped_ids"])
def test_multi_row_inserts_agree_with_one_at_a_time(tables, pools, dbconfig, db, recorder, step):
    """Ids, order, values and cache entries; stepped ids as a Galera cluster or
    --auto-increment-increment=3 give them."""
    pool = pools(**dbconfig, init_command="SET SESSION auto_increment_increment = %d" % step)
    results = []
    for one_at_a_time in (False, True):
        for table in ("homes", "persons", "pets", "toys"):
            db.run("TRUNCATE TABLE %s" % table)
        Pet.CACHE = cache = Cache(pool)
        rec = recorder(pool)
        if one_at_a_time:
            cnx = rec.Get()
            cnx.server_info = "10.4.30-MariaDB"  # replaces the real one's
            rec.Put(cnx)
        person = graph("a", "b", "c")
        person.pets.insert(1, person.pets[0])  # held twice: stored once
        person.toys = [Toy(name="t1"), Toy(name="t2")]
        person.Insert(pool=rec)
        second = Person(name="bob", home_id=person["home_id"], pets=[Pet(name="d"), Pet(name="e")])
        second.Insert(pool=rec)
        second.pets = [second.pets[1], Pet(name="f"), Pet(name="g")]  # one kept, two new, one dropped
        second.Update(pool=rec)
        chain = [Manager(name="m0")]
        for n in range(1, 6):  # each points at a row of the list before it, not stored yet
            chain.append(Manager(name="m%d" % n, home_id=chain[(n - 1) // 2]))
        brx_sql.InsertMany(chain, pool=rec)
        assert [row[2] for row in tables("persons")[-6:]] == [None] + ids(*(chain[(n - 1) // 2] for n in range(1, 6)))
        results.append((ids(person, *person.pets, *person.toys, second, *second.pets, *chain),
                        [tables(t) for t in ("homes", "persons", "pets", "toys")],
                        sorted(cache.CachedTable("pets"))))
    assert results[0] == results[1]
    pets = results[0][1][2]
    assert [row[0] for row in pets] == [1 + step * n for n in range(len(pets) + 1) if n != 3]  # "d" deleted


def test_a_failing_multi_row_insert_rolls_back_the_whole_update(tables, pool, db):
    person = graph("a")
    person.Insert(pool=pool)
    before = ids(person, *person.pets)
    db.run("INSERT INTO pets (name) VALUES ('taken')")
    person.pets += [Pet(name="new"), Pet(name="taken")]
    with pytest.raises(mysql.connector.IntegrityError):
        person.Update(pool=pool)
    assert ids(person, *person.pets) == before + [0, 0]
    assert counts(tables) == [1, 1, 2]


READS = {"text": lambda home: CNXGuard.Select(home["id"], "homes", Home)["name"],
         "params": lambda home: brx_sql.Query("SELECT name FROM homes WHERE id = %s", (home["id"],))[0][0]}


@pytest.mark.parametrize("read", READS)
@pytest.mark.parametrize("ping_after", [60, 0])
def test_connections_killed_while_idle(tables, pool, db, monkeypatch, ping_after, read):
    monkeypatch.setattr(CNXPool, "PING_AFTER", ping_after)  # read from the class when the pool sets none
    CNXGuard.POOL = pool
    home = stored_home()
    killed = [pool.Get() for _ in range(3)]
    for cnx in killed:
        pool.Put(cnx)
        db.run("KILL %d" % cnx.connection_id)
    if ping_after:
        with pytest.raises(mysql.connector.Error):  # lent unchecked inside the window: the statement finds it dead
            READS[read](home)
        assert killed[-1] not in idle(pool)
    # every later call succeeds: the other idle connections are checked before they are lent
    assert [READS[read](home) for _ in range(3)] == ["h"] * 3


@pytest.mark.parametrize("name, value, error", [("MAX_IDLE", -1, ValueError), ("MAX_IDLE", 2.5, TypeError),
                                                ("PING_AFTER", -1, ValueError), ("PING_AFTER", "1", TypeError)])
def test_bad_pool_settings_lose_no_connection(tables, pool, caplog, name, value, error):
    CNXGuard.POOL = pool
    stored_home()
    (kept,) = idle(pool)
    setattr(pool, name, value)
    if name == "PING_AFTER":
        with pytest.raises(error, match="^CNXPool.PING_AFTER must be a number of seconds"):
            stored_home()
        assert idle(pool) == [kept]  # read before a connection is taken
    else:
        # Read when the connection goes back, after the commit: the call has
        # succeeded, the failure is logged and the connection closed.
        assert stored_home()["id"] > 0
        assert not kept.is_connected() and idle(pool) == []
        assert any(r.exc_info and r.exc_info[0] is error and "CNXPool.MAX_IDLE" in str(r.exc_info[1])
                   for r in caplog.records)


class CountingConnector:
    """Stands for mysql.connector in the module: counts connects, optionally holding one up."""

    def __init__(self, hold=None):
        self.connects, self.hold, self.entered = 0, hold, threading.Event()

    def connect(self, **settings):
        self.connects += 1
        if self.hold is not None:
            self.entered.set()
            self.hold.wait(2)
        return mysql.connector.connect(**settings)


def test_threads_sharing_a_pool_with_max_idle_connect_no_more_after_warm_up(tables, pool, monkeypatch):
    pool.MAX_IDLE = 10**30  # no limit
    warm = [pool.Get() for _ in range(16)]
    for cnx in warm:
        pool.Put(cnx)
    counter = CountingConnector()
    monkeypatch.setattr(brx_sql, "_connector", counter)
    start = threading.Barrier(16)

    def work(n):
        start.wait()
        for i in range(10):
            Home(name="t%d-%d" % (n, i)).Insert(pool=pool)
    run_threads(work, range(16))
    assert counter.connects == 0 and len(tables("homes")) == 160 and len(idle(pool)) == 16


def test_a_slow_connect_holds_up_no_other_threads_put(pool, monkeypatch):
    held = pool.Get()
    release = threading.Event()
    slow = CountingConnector(hold=release)
    monkeypatch.setattr(brx_sql, "_connector", slow)
    got = []
    thread = threading.Thread(target=lambda: got.append(pool.Get()))
    thread.start()
    try:
        assert slow.entered.wait(5)
        pool.Put(held)  # would wait for the connect if the pool held its lock through it
        assert not release.is_set() and idle(pool) == [held]
    finally:
        release.set()
        thread.join()
    pool.Put(got[0])


BROKEN_C_EXTENSION = """
import importlib.abc, importlib.machinery, json, logging, sys

class Unloadable(importlib.abc.MetaPathFinder, importlib.abc.Loader):
    def find_spec(self, name, path, target=None):
        return importlib.machinery.ModuleSpec(name, self) if name == "_mysql_connector" else None
    def create_module(self, spec):
        raise ImportError("libcrypto.so.3: version `OPENSSL_3.2.0' not found")
    def exec_module(self, module):
        pass

sys.meta_path.insert(0, Unloadable())
logging.basicConfig(format="%(levelname)s %(name)s %(message)s")
import brx_sql
for _ in range(2):
    pool = brx_sql.CNXPool(**json.loads(sys.argv[1]))
    pool.Put(pool.Get())
"""


@pytest.mark.parametrize("use_pure", [{}, {"use_pure": True}], ids=["fallen_back", "chosen"])
def test_one_warning_when_the_c_extension_failed_to_load(server, clean_databases, use_pure):
    settings = dict(server.settings(), database=clean_databases[0], **use_pure)
    done = subprocess.run([sys.executable, "-c", BROKEN_C_EXTENSION, json.dumps(settings)], capture_output=True,
                          text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    warnings = [line for line in done.stderr.splitlines() if line.startswith("WARNING brx_sql")]
    assert len(warnings) == (not use_pure)
    assert all("OPENSSL_3.2.0" in w and 'pip install "mysql-connector-python==' in w for w in warnings)
