"""InsertMany against the real server: list order across tables and batches, rows that go alone, all or
nothing on borrowed and given connections and between threads, bad input refused before any connection."""
import mysql.connector
import pytest

from brx_sql import Cache, CNXGuard, CNXPool, InsertMany
from tables import Home, Person, Pet, Toy, counts, graph, heads, ids, run_threads, texts


class Refusing(Pet):
    def Insert(self, cnx=None, pool=None):
        raise RuntimeError("refused")


class Nesting(Pet):
    def Insert(self, cnx=None, pool=None):
        InsertMany(self.kids, cnx)  # on the outer call's connection
        return Pet.Insert(self, cnx, pool)


class Elsewhere(Home):
    POOL = CNXPool()


def test_rows_of_several_tables_in_list_order(tables, pool, recorder):
    a, b, c, stored = Home(name="a"), Home(name="b"), Home(name="c"), Home(name="s")
    stored.Insert(pool=pool)
    p, q, r, ann = Person(name="p", home_id=a), Person(name="q", home_id=b), Person(name="r", home_id=Home(name="d")), graph("x")
    rows = [a, b, p, q, c, r, stored, ann, a, Home(2**70, "far")]  # an id past 64 bits is stored: it sends nothing
    rec = recorder(pool)
    assert InsertMany(rows, pool=rec) == ids(*rows) and ids(a, stored) == [2, 1]
    # A run of one table shares an INSERT ... RETURNING id; a row pointing into the run waits for it, one
    # pointing at a new row elsewhere or holding rows goes through its own Insert; stored rows send nothing.
    assert [(head[12:], "RETURNING" in text) for head, text in zip(heads(rec), texts(rec))] == [
        ("`homes`", True), ("`persons`", True), ("`homes`", False), ("`homes`", False), ("`persons`", False),
        ("`homes`", False), ("`persons`", False), ("`pets`", False)]
    assert rec.calls("get", "commit", "rollback") == [("get",), ("commit",)]
    homes = [a, b, c, r["home_id"], ann["home_id"]]
    assert tables("homes") == [(1, "s")] + [(home["id"], home["name"]) for home in homes]  # ids in list order
    assert tables("persons") == [(row["id"], row["name"], row["home_id"]["id"]) for row in (p, q, r, ann)]
    assert tables("pets") == [(ann.pets[0]["id"], "x", ann["id"])]


BREAKS = {  # each breaks the rows in the third statement of 500 pets, and returns other rows to check
    "duplicate key": lambda rows: rows[1100].__setitem__("name", "taken") or [],
    "row class raising": lambda rows: rows.insert(1100, Refusing(name="r")) or [],
    "nested call, then duplicate": lambda rows: (rows.insert(600, Nesting(name="n", kids=[Toy(name="t")] * 2)),
                                                 rows[1100].__setitem__("name", "taken"), rows[600].kids)[2],
}


@pytest.mark.parametrize("autocommit", [False, True], ids=["plain", "autocommit"])
@pytest.mark.parametrize("breaks", BREAKS)
def test_a_failure_midway_leaves_nothing(tables, pools, dbconfig, db, breaks, autocommit):
    pool = pools(**dbconfig, autocommit=autocommit)
    db.run("INSERT INTO pets (name) VALUES ('taken')")
    Pet.CACHE = cache = Cache(pool)
    before = dict(cache.Cache("pets", Pet))
    rows = [Home(name="h")] + [Pet(name="p%d" % n) for n in range(1200)]
    others = BREAKS[breaks](rows)
    with pytest.raises((mysql.connector.IntegrityError, RuntimeError)):
        InsertMany(rows, pool=pool)
    assert counts(tables) == [0, 0, 1] and tables("toys") == [] and set(ids(*rows, *others)) == {0}
    assert cache._Cache__obj_dict == {"pets": before}
    if breaks == "duplicate key":  # fixed and retried: every row stored once
        rows[1100]["name"] = "q"
        assert InsertMany(rows, pool=pool) == ids(*rows) and counts(tables) == [1, 0, 1201]


@pytest.mark.parametrize("autocommit, opened", [(False, True), (False, False), (True, False)],
                         ids=["in_a_transaction", "between_transactions", "autocommit"])
def test_on_the_callers_connection_a_failure_takes_back_its_own_rows(tables, pools, dbconfig, db, autocommit, opened):
    pool = pools(**dbconfig, autocommit=autocommit)
    db.run("INSERT INTO pets (name) VALUES ('taken')")
    failing = [Pet(name="a"), Home(name="x"), Pet(name="taken")]  # three statements
    with CNXGuard(None, pool) as cnx:
        if opened:
            Home(name="mine").Insert(cnx)
        with pytest.raises(mysql.connector.IntegrityError):
            InsertMany(failing, cnx)
        assert ids(*failing) == [0, 0, 0]
        InsertMany([Pet(name="b")], cnx)
        assert len(tables("pets")) == 1 + autocommit  # the caller's transaction decides, autocommit at once
    assert [row[1] for row in tables("pets")] == ["taken", "b"] and [row[1] for row in tables("homes")] == ["mine"] * opened


@pytest.mark.parametrize("many", [True, False], ids=["insert_many", "graph_insert"])
def test_threads_sharing_a_pool_keep_their_own_rollbacks(tables, pool, db, many):
    db.run("INSERT INTO pets (name) VALUES ('taken')")
    if many:  # every other list breaks in its second multi-row INSERT
        work = [[Pet(name="t%d-%d" % (t, n)) for n in range(600)] for t in range(6)]
        for rows in work[1::2]:
            rows[550]["name"] = "taken"
    else:  # every other graph breaks at its pets, after its home and person
        work = [[graph("p%d" % t, "taken" if t % 2 else "q%d" % t)] for t in range(8)]
    reached = (lambda rows: rows) if many else (lambda rows: [rows[0], rows[0]["home_id"], *rows[0].pets])
    failed = []

    def store(rows):
        try:
            InsertMany(rows, pool=pool) if many else rows[0].Insert(pool=pool)
        except mysql.connector.IntegrityError:
            failed.append(rows)
    run_threads(store, work)
    assert sorted(map(id, failed)) == sorted(map(id, work[1::2])) and all(set(ids(*reached(r))) == {0} for r in failed)
    stored = [(row.TABLE_NAME, row["id"]) for rows in work[::2] for row in reached(rows)]
    assert sorted((t, r[0]) for t in ("homes", "persons", "pets") for r in tables(t)) == sorted(stored + [("pets", 1)])


@pytest.mark.parametrize("rows, error, message", [
    (5, TypeError, "'int' object is not iterable"),
    ([Home(name="a"), "b"], TypeError, r"^InsertMany rows must be row objects, not str \(rows\[1\]\)$"),
    ([Home(name="a"), Elsewhere(name="b")], ValueError,
     r"^InsertMany stores all rows on one connection, but rows of Home and of Elsewhere borrow from different pools"),
    ([], None, None),
])
def test_bad_input_borrows_nothing(pool, recorder, rows, error, message):
    CNXGuard.POOL = rec = recorder(pool)
    if error is None:
        assert InsertMany(rows) == []
    else:
        with pytest.raises(error, match=message):
            InsertMany(rows)
    assert rec.log == []


@pytest.mark.parametrize("many", [False, True], ids=["Insert", "InsertMany"])
@pytest.mark.parametrize("rows", [  # a negative id is sent and stored as it is, and the row object keeps it
    lambda: [Pet(-2, "a")],
    lambda: [Person(name="p", pets=[Pet(name="a"), Pet(-2, "b"), Pet(name="c")])],  # batched rows around it
    lambda: [Person(-3, "p", pets=[Pet(name="a"), Pet(name="b")])],  # its list points at it
    lambda: [Pet(name="a"), Pet(-2, "b"), Home(-4, "h"), Pet(name="c"), Pet(-5, "d")],
], ids=["alone", "in_a_list", "owner", "among_others"])
def test_negative_ids_are_stored_as_they_are(tables, pool, db, rows, many):
    db.run("INSERT INTO pets (name) VALUES ('taken')")
    Pet.CACHE = cache = Cache(pool)
    rows = rows()
    every = rows + [pet for row in rows for pet in getattr(row, "pets", [])]
    before = ids(*every)
    with pytest.raises(mysql.connector.IntegrityError):  # put back after a failure
        InsertMany(rows + [Pet(name="taken")], pool=pool)
    assert ids(*every) == before and counts(tables) == [0, 0, 1] and cache._Cache__obj_dict.get("pets", {}) == {}
    returned = InsertMany(rows, pool=pool) if many else [row.Insert(pool=pool) for row in rows]
    assert returned == ids(*rows) and [i for i in ids(*every) if i <= 0] == [i for i in before if i < 0]
    assert {(t, *row[:2]) for t in ("homes", "persons", "pets") for row in tables(t)} == {
        ("pets", 1, "taken")} | {(row.TABLE_NAME, row["id"], row["name"]) for row in every}
    owners = {row[0]: row[2] for row in tables("pets")}
    assert all(owners[pet["id"]] == row["id"] for row in rows for pet in getattr(row, "pets", []))
    assert set(cache.CachedTable("pets")) == {row["id"] for row in every if isinstance(row, Pet)}
