"""Cache against the real server: loading, hits without queries, deletions, reloads, bad input."""
import gc
import weakref

import mysql.connector
import pytest

from brx_sql import Cache, CNXGuard, CNXPool
from tables import Home, Person, executed, run_threads


def make_homes(run, count=3):
    run("CREATE TABLE homes (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20))")
    # Explicit ids: a cluster steps AUTO_INCREMENT, and these tests are about the cache, not ids.
    run("INSERT INTO homes (id, name) VALUES " + ", ".join(["(%d, 'h%d')" % (i, i) for i in range(1, count + 1)]))


@pytest.fixture
def homes(db):
    make_homes(db.run)
    return lambda: [i for (i,) in db.query("SELECT id FROM homes ORDER BY id")]


def test_select_queries_once_then_hits(homes, pool, recorder):
    rec = recorder(pool)
    cache = Cache(rec)
    first = cache.Select(1, "homes", Home)
    assert cache.Select(1, "homes", Person, cnx=object(), pool=object()) is first
    second = cache.Select(2, "homes")  # the class registered by the first miss
    assert (type(first), first["name"], type(second), second["name"]) == (Home, "h1", Home, "h2")
    assert executed(rec) == [("SELECT * FROM `homes` WHERE id = 1", None),
                               ("SELECT * FROM `homes` WHERE id = 2", None)]
    with pytest.raises(KeyError, match="Table homes has no row with id = 9"):
        cache.Select(9, "homes")
    assert cache.CachedTable("homes") == {1: first, 2: second}


def test_bulk_load_and_reloads(homes, db, pool, recorder):
    rec = recorder(pool)
    cache = Cache(rec)
    tables = cache.Tables()  # a live view
    rows = cache.Cache("homes", Home)
    assert rows is cache.CachedTable("homes") and list(tables) == ["homes"]
    assert {k: (type(v), v["id"], v["name"]) for k, v in rows.items()} == {i: (Home, i, "h%d" % i) for i in (1, 2, 3)}
    assert executed(rec) == [("SELECT * FROM `homes`", None)] and rec.calls("get", "put") == [("get",), ("put",)]
    old_first = rows[1]
    db.run("DELETE FROM homes WHERE id = 2")
    cache.Update("homes")  # reload into the same dict: the deleted row stays
    assert cache.CachedTable("homes") is rows and sorted(rows) == [1, 2, 3] and rows[1] is not old_first
    cache.Refresh("homes")  # reload into a new dict: the deleted row is gone, the old dict frozen
    fresh = cache.CachedTable("homes")
    db.run("INSERT INTO homes VALUES (4, 'h4')")
    cache.Refresh("homes", False)
    assert (sorted(fresh), sorted(rows)) == ([1, 3, 4], [1, 2, 3])


def test_delete_by_row_object_and_by_identifier(homes, pool, recorder):
    rec = recorder(pool)
    cache = Cache(rec)
    rows = cache.Cache("homes", Home)
    cache.Delete(rows[1])
    cache.Delete(2, "homes")
    cache.Delete(99, "homes")  # neither cached nor stored: no error
    assert sorted(rows) == [3] and homes() == [3]
    cache.Delete(3, "homes", pool=pool)  # a pool argument wins over the cache's own
    assert rows == {} and homes() == []
    assert executed(rec)[1:] == [("DELETE FROM `homes` WHERE id = %s", (i,)) for i in (1, 2, 99)]


def test_foreign_key_resolved_through_the_cache(homes, pool, recorder):
    rec = recorder(pool)
    Person.CACHE = cache = Cache(rec)
    rows = cache.Cache("homes", Home)
    rec.log.clear()
    assert Person(1, "ann", 2)["home_id"] is rows[2] and Person(2, "bob", 3)["home_id"] is rows[3]
    assert rec.log == []


def test_failures_leave_rows_and_connections_usable(homes, db, pool):
    def fussy(*values):
        if values[0] == 2:
            raise RuntimeError("bad row")
        return values
    cache = Cache(pool)
    with pytest.raises(RuntimeError, match="bad row"):
        cache.Cache("homes", fussy)
    with pytest.raises(KeyError):  # all or nothing: no rows, no class kept
        cache.CachedTable("homes")
    with pytest.raises(ValueError, match="valid class"):
        cache.Cache("homes")
    # The unread rows were drained, so the pooled connection serves the next load.
    rows = cache.Cache("homes", Home)
    assert sorted(rows) == [1, 2, 3] and type(rows[2]) is Home
    first = rows[1]
    with pytest.raises(RuntimeError, match="bad row"):
        cache.Cache("homes", fussy)  # into a table already cached: its rows stay as they were
    assert cache.CachedTable("homes") is rows and rows[1] is first and sorted(rows) == [1, 2, 3]
    db.run("DROP TABLE homes")
    with pytest.raises(mysql.connector.Error):
        cache.Refresh("homes")  # a failed reload leaves what was loaded
    assert cache.CachedTable("homes") is rows and sorted(rows) == [1, 2, 3]


@pytest.mark.parametrize("fails", [False, True])
def test_loaded_rows_are_left_to_the_collector(homes, pool, fails):
    """Rows built by a load are tracked again when it ends, however it ends: cycles through them are freed."""
    built = []

    class Cyclic(Home):
        def __init__(self, *values):
            Home.__init__(self, *values)
            self.me = self  # a cycle only the collector can free
            built.append(weakref.ref(self))
            assert gc.is_tracked(self)
            if fails and values[0] == 3:
                raise RuntimeError("bad row")

    cache = Cache(pool)
    if fails:
        with pytest.raises(RuntimeError, match="bad row"):
            cache.Cache("homes", Cyclic)
    else:
        cache.Cache("homes", Cyclic)
    rows = {} if fails else cache.CachedTable("homes")
    assert sorted(rows) == ([] if fails else [1, 2, 3]) and all(gc.is_tracked(row) for row in rows.values())
    del rows
    if not fails:
        cache.ClearTable("homes")
    gc.collect()
    assert len(built) == 3 and [ref() for ref in built] == [None] * 3


@pytest.mark.parametrize("call, error, message", [
    (lambda c: c.Select(1, "homes"), ValueError, r"^We need a valid class object \(argument 3\) to construct"),
    (lambda c: c.Cache("homes"), ValueError, r"^We need a valid class object \(argument 3\) to construct"),
    (lambda c: c.Refresh("homes"), KeyError, "^'Table homes has not been cached yet.'$"),
    (lambda c: c.Update("homes"), KeyError, "^'Table homes has not been cached yet.'$"),
    (lambda c: c.Delete(1), AttributeError, "TABLE_NAME"),
    (lambda c: c.ClearTable(["homes"]), TypeError, "unhashable"),
])
def test_bad_input_touches_no_database(homes, pool, recorder, call, error, message):
    rec = recorder(pool)
    cache = Cache(rec)
    cache.Insert(Home(5, "h5"))  # a table filled only by Insert is not cached for Refresh
    with pytest.raises(error, match=message):
        call(cache)
    assert rec.log == [] and homes() == [1, 2, 3]
    assert list(cache.Tables()) == [] and list(cache.CachedTable("homes")) == [5]


@pytest.fixture
def other_database(homes, second_dbconfig):
    """`homes` in the second database too, with CNXGuard.POOL pointing there; counts its rows."""
    other = mysql.connector.connect(**second_dbconfig, autocommit=True)
    cursor = other.cursor()
    make_homes(cursor.execute)
    CNXGuard.POOL = CNXPool(**second_dbconfig)
    yield lambda: cursor.execute("SELECT COUNT(*) FROM homes") or cursor.fetchall()[0][0]
    other.close()


def test_clear_table_uses_the_cache_database(other_database, homes, pool):
    # Never loaded: the rows of the cache's own database go, and nothing is raised.
    assert Cache(pool).ClearTable("homes") is None
    assert homes() == [] and other_database() == 3
    cache = Cache()  # no pool of its own: the default pool, the second database
    cache.Cache("homes", Home)
    cache.ClearTable("homes")
    assert other_database() == 0 and list(cache.Tables()) == ["homes"]
    with pytest.raises(KeyError):
        cache.CachedTable("homes")


def test_threads_share_one_cache_and_pool(db, pool):
    make_homes(db.run, 40)
    cache, errors = Cache(pool), []

    def worker(ids):
        try:
            for i in ids:
                assert cache.Select(i, "homes", Home)["id"] == i
        except Exception as exc:  # reported in the test's own thread
            errors.append(exc)
    run_threads(worker, [range(k, 41, 4) for k in range(1, 5)])
    assert errors == [] and sorted(cache.CachedTable("homes")) == list(range(1, 41))
