"""Query and FillForeignMany against the real server: results equal plain SQL joins on a schema with nullable
keys, a key to its own table, a reference cycle and a three-level chain; statements counted by the server for
1, 20 and 2,000 rows; bad inputs and failing row classes leave every row as it was and keep no connection."""
import mysql.connector
import pytest

import brx_sql
from brx_sql import Cache, CNXGuard, FillForeignMany, Query
from rental import Film, Inventory, Language, Payment, Rental, Staff, Store, create
from tables import idle, store, texts

PAGE = ["inventory_id.film_id.language_id", "inventory_id.store_id", "staff_id.store_id.manager_id", "payments"]


@pytest.fixture
def rentals(db):
    create(db)


def questions(cnx):
    """The server's count of statements on this session (pings left out), this one included."""
    cursor = cnx.cursor()
    cursor.execute("SHOW SESSION STATUS LIKE 'Questions'")
    return int(cursor.fetchall()[0][1])


def counted(pool, work):
    """Runs work(cnx) inside one outer guard; returns its result and the statements the server counted."""
    with CNXGuard(None, pool) as cnx:
        first = questions(cnx)
        before = questions(cnx)  # what reading the count adds to it
        result = work(cnx)
        return result, questions(cnx) - before - (before - first)


def snapshot(rows):
    """What the row objects hold: their column stores and attributes, by identity of what they hold."""
    return [({k: (id(v), v if isinstance(v, (int, str, type(None))) else None) for k, v in store(row).items()},
             sorted(vars(row))) for row in rows]


def name(row):
    return None if row is None else row["name"]


def test_query(rentals, pool, recorder, db):
    rec = recorder(pool)
    CNXGuard.POOL = pool  # for the lookups of item read below
    statement = ("SELECT f.id, f.title, l.name FROM films f LEFT JOIN languages l ON l.id = f.language_id"
                 " WHERE f.id IN (%s, %s) ORDER BY f.id")
    assert Query(statement, (9, 10), pool=rec) == [(9, "film 9", None), (10, "film 10", "lang 3")]
    assert Query("SELECT COUNT(*) FROM films WHERE language_id = %(lang)s", {"lang": 2}, pool=rec) == [(9,)]
    # Parameters travel as parameters, never in the text.
    assert [entry[1:] for entry in rec.calls("execute")] == [
        (statement, (9, 10)), ("SELECT COUNT(*) FROM films WHERE language_id = %(lang)s", {"lang": 2})]
    films = Query("SELECT * FROM films WHERE title LIKE %s ORDER BY id", ["film 1_"], Film, pool=rec)
    assert [type(f) for f in films] == [Film] * 10 and [f["title"] for f in films][:2] == ["film 10", "film 11"]
    assert films[0]["language_id"]["name"] == "lang 3"  # built as the statement helpers build rows
    # the column order is checked over the columns both have, names compared without regard to case
    assert Query("SELECT ID, Name, 7 FROM languages WHERE id = %s", [2], Language, pool=rec)[0]["name"] == "lang 2"
    assert Query("SELECT id FROM films WHERE title = %s", ("x'); DROP TABLE films; --",), pool=rec) == []
    # columns after the class's own go to it by name: attributes, read by item access too
    counted = Query("SELECT l.*, COUNT(f.id) AS films FROM languages l LEFT JOIN films f ON f.language_id = l.id"
                    " GROUP BY l.id ORDER BY l.id", None, Language, pool=rec)
    assert [(row["id"], row.films, row["films"]) for row in counted] == [(i, n, n) for i, n in db.query(
        "SELECT language_id, COUNT(*) FROM films WHERE language_id IS NOT NULL GROUP BY 1 ORDER BY 1")]
    assert [store(row) for row in counted[:1]] == [{"id": 1, "name": "lang 1"}]
    assert Query("UPDATE films SET title = %s WHERE id = %s", ("renamed", 1), pool=rec) == []
    assert db.query("SELECT title FROM films WHERE id = 1") == [("renamed",)]
    assert rec.calls("get", "put").count(("get",)) == rec.calls("get", "put").count(("put",)) == 7
    with CNXGuard(None, pool) as cnx:  # joins the caller's transaction
        Query("INSERT INTO languages VALUES (%s, %s)", (9, "new"), cnx=cnx)
        assert Query("SELECT name FROM languages WHERE id = 9", cnx=cnx) == [("new",)]
        assert db.query("SELECT name FROM languages WHERE id = 9") == []
    assert db.query("SELECT name FROM languages WHERE id = 9") == [("new",)]


def test_query_reads_every_batch_to_the_result_end(pools, dbconfig):
    pool = pools(**dbconfig, raise_on_warnings=True)
    assert Query("SELECT seq FROM seq_1_to_2001", pool=pool) == [(i,) for i in range(1, 2002)]
    with pytest.raises(mysql.connector.DatabaseError, match="Truncated"):  # the connector raises it at the end
        Query("SELECT seq + 'x' FROM seq_1_to_1500", pool=pool)
    assert Query("SELECT 1", pool=pool) == [(1,)]


def test_query_bad_input_borrows_nothing_and_failures_roll_back(rentals, pool, recorder):
    rec = recorder(pool)
    for params, message in [("abc", "parameters must be a sequence or a mapping"), (object(), "sequence or a mapping"),
                            ([1, [2, [3]]], "IN list of Query parameter 1 holds a list"),
                            ({"a": [(1, 2)]}, "IN list of Query parameter 'a' holds a tuple")]:
        with pytest.raises(TypeError, match=message):
            Query("SELECT %s IN %s, %(a)s", params, pool=rec)
    with pytest.raises(TypeError, match="statement must be a str"):
        Query(b"SELECT 1", pool=rec)
    assert rec.log == []

    class Broken(Language):
        def __init__(self, *values):
            if values[0] == 3:
                raise RuntimeError("no third")
            super().__init__(*values)

    with pytest.raises(RuntimeError, match="no third") as caught:
        Query("SELECT * FROM languages ORDER BY id", None, Broken, pool=rec)
    assert "brx_sql.Query" in [entry.frame.code.name for entry in caught.traceback]
    with pytest.raises(mysql.connector.ProgrammingError):
        Query("SELECT * FROM no_such WHERE id = %s", (1,), pool=rec)
    # a column after the class's own that would take the value of another
    for columns, message in [("l.*, l.ID", "the column 'ID' after the columns of Language.COLUMN_NAMES"),
                             ("l.*, 1 AS n, 2 AS n", "the column 'n' twice after the columns of Language")]:
        with pytest.raises(ValueError, match=message):
            Query("SELECT %s FROM languages l" % columns, None, Language, pool=rec)
    assert rec.calls("get", "put", "commit") == [("get",), ("put",)] * 4 and len(idle(pool)) == 1


@pytest.mark.parametrize("statement, params, expected", [
    ("id IN %s", ([3, 1],), [1, 3]), ("id IN %s AND name <> %s", ((1, 2, 4), "lang 4"), [1, 2]),
    ("id IN %s", ([],), []), ("id NOT IN %s", ([],), [1, 2, 3, 4]), ("id not\n in %(ids)s", {"ids": ()}, [1, 2, 3, 4]),
    ("name IN %s", (["lang 1", "x') OR ('1'='1"],), [1]),  # items are parameters, never text
    ("name = %s", (b"lang 2",), [2]),  # bytes: one binary value
    ("id IN %(ids)s OR id = %(ids[0])s OR id IN %(ids)s", {"ids": [2], "ids[0]": 4}, [2, 4]),  # names of its own
    ("id NOT IN %(ids)s AND name LIKE 'lang 2%(pct)%'", {"ids": []}, [2]),  # "%(pct)%" is still read as "%"
    ("id /* %s */ IN %s", ("x", [1, 2]), [1, 2]),  # the connector fills markers in comments too
    ("id IN %s AND 1 = `50%`.one", ([2],), [2]), ("id IN %s AND 1 = `50%`.one", ([],), []),  # a "%" in a name
])
def test_query_in_lists(rentals, pool, statement, params, expected):
    sql = "SELECT id FROM languages JOIN (SELECT 1 AS one) AS `50%` WHERE " + statement + " ORDER BY id"
    assert Query(sql, params, pool=pool) == [(i,) for i in expected]


def sql_page(db, first, last):
    return db.query(
        "SELECT r.id, f.title, l.name, st.name, s.name, ss.name, m.name FROM rentals r"
        " JOIN inventory i ON i.id = r.inventory_id JOIN films f ON f.id = i.film_id"
        " LEFT JOIN languages l ON l.id = f.language_id JOIN stores st ON st.id = i.store_id"
        " JOIN staff s ON s.id = r.staff_id JOIN stores ss ON ss.id = s.store_id"
        " LEFT JOIN staff m ON m.id = ss.manager_id WHERE r.id BETWEEN %s AND %s ORDER BY r.id", (first, last))


def page_of(rows):
    return [(r["id"], r["inventory_id"]["film_id"]["title"], name(r["inventory_id"]["film_id"]["language_id"]),
             r["inventory_id"]["store_id"]["name"], r["staff_id"]["name"], r["staff_id"]["store_id"]["name"],
             name(r["staff_id"]["store_id"]["manager_id"])) for r in rows]


def test_pages_equal_the_sql_join_in_statements_that_do_not_grow_with_the_rows(db, pool, recorder):
    create(db, rentals=2000)
    found = []
    # The pure-Python connector reads the session's sql_mode at a connection's first statement with
    # parameters: warm the pool's connection up.
    counted(pool, lambda cnx: Query("SELECT %s", (1,), cnx=cnx))
    for first, last in ((7, 7), (1, 20), (1, 2000)):
        def page(cnx):
            rows = Query("SELECT * FROM rentals WHERE id BETWEEN %s AND %s ORDER BY id", (first, last), Rental, cnx)
            assert FillForeignMany(rows, PAGE, cnx) is rows
            return rows
        rows, count = counted(pool, page)
        rec = recorder(pool)
        CNXGuard.POOL = rec
        assert page_of(rows) == sql_page(db, first, last) and texts(rec) == []  # everything in place: no lookups
        found.append(count)
    # The Query, and at most one per step (8): fewer where a step's rows were reached already, as when
    # many rentals share their stores and staff. The COMMIT comes after.
    assert found == [9, 7, 7]
    payments = {}
    for rental, payment, amount in db.query("SELECT rental_id, id, amount FROM payments ORDER BY id"):
        payments.setdefault(rental, []).append((payment, amount))
    assert [[(p["id"], p["amount"]) for p in r.payments] for r in rows] == [payments.get(r["id"], []) for r in rows]
    assert all(p["rental_id"] is r for r in rows for p in r.payments)  # children point at their parent
    films = {}  # within one call each row is one object
    assert all(films.setdefault(r["inventory_id"]["film_id"]["id"], r["inventory_id"]["film_id"])
               is r["inventory_id"]["film_id"] for r in rows)
    assert len({id(r["staff_id"]["store_id"]) for r in rows}) == 2


@pytest.mark.parametrize("cached", [False, True], ids=["", "cached_languages"])
def test_films_with_their_languages_and_actors(rentals, pool, recorder, db, monkeypatch, cached):
    if cached:
        cache = Cache(pool)
        cache.Cache("languages", Language)
        monkeypatch.setattr(Film, "CACHE", cache)
    films = Query("SELECT * FROM films ORDER BY id", None, Film, pool=pool)
    rec = recorder(pool)
    FillForeignMany(films, ["language_id", "original_language_id", "film_actors.actor_id"], pool=rec)
    # one statement per step, less the steps whose rows were reached already or are served by the cache
    assert [t.split(" WHERE")[0] for t in texts(rec)] == ["SELECT * FROM `languages`"] * (not cached) + [
        "SELECT * FROM `film_actors`", "SELECT * FROM `actors`"]
    got = sorted((f["id"], name(f["language_id"]), name(f["original_language_id"]), a["id"], a["name"])
                 for f in films for a in [link["actor_id"] for link in f.film_actors])
    assert got == sorted(db.query(
        "SELECT f.id, l.name, o.name, a.id, a.name FROM films f LEFT JOIN languages l ON l.id = f.language_id"
        " LEFT JOIN languages o ON o.id = f.original_language_id JOIN film_actors fa ON fa.film_id = f.id"
        " JOIN actors a ON a.id = fa.actor_id"))
    assert films[39].film_actors == [] and all(
        [link["id"] for link in f.film_actors] == sorted(link["id"] for link in f.film_actors) for f in films)
    assert films[2]["original_language_id"] is films[5]["original_language_id"] is films[0]["language_id"]
    assert store(films[8])["language_id"] is None
    if cached:
        assert films[0]["language_id"] is cache.CachedTable("languages")[2]


def test_a_key_to_its_own_table_and_a_cycle(rentals, pool, recorder, db):
    staff = Query("SELECT * FROM staff ORDER BY id", None, Staff, pool=pool)
    rec = recorder(pool)
    FillForeignMany(staff, ["boss_id.boss_id", "reports", "store_id.manager_id.store_id"], pool=rec)
    # boss_id of the given rows points at given rows: nothing to read for it; the stores once, and the
    # managers and their stores are rows already reached.
    assert texts(rec) == ["SELECT * FROM `staff` WHERE `boss_id` IN (1, 2, 3, 4, 5, 6, 7, 8, 9) ORDER BY id",
                          "SELECT * FROM `stores` WHERE id IN (1, 2)"]
    by_id = {s["id"]: s for s in staff}
    assert sorted((s["id"], name(s["boss_id"])) for s in staff) == sorted(
        db.query("SELECT s.id, b.name FROM staff s LEFT JOIN staff b ON b.id = s.boss_id"))
    assert [[r["id"] for r in s.reports] for s in staff] == [[2, 9], [3], [4], [], [6, 7], [], [8], [], []]
    assert by_id[4]["boss_id"]["boss_id"] is by_id[2] and by_id[1].reports[0] is by_id[2]
    north = by_id[1]["store_id"]
    assert north["manager_id"] is by_id[1] and north["manager_id"]["store_id"] is north  # the cycle, closed
    assert [(s["id"], s["store_id"]["name"], name(s["store_id"]["manager_id"])) for s in staff] == db.query(
        "SELECT s.id, st.name, m.name FROM staff s JOIN stores st ON st.id = s.store_id"
        " LEFT JOIN staff m ON m.id = st.manager_id ORDER BY s.id")
    stores = Query("SELECT * FROM stores ORDER BY id", None, Store, pool=pool)
    FillForeignMany(stores, ["manager_id.store_id", "staff"], pool=pool)
    assert stores[0]["manager_id"]["store_id"] is stores[0] and stores[2]["manager_id"] is None
    assert stores[0].staff[0] is stores[0]["manager_id"] and stores[2].staff == []


def test_very_long_lists_are_split(db, pool, recorder):
    db.run("CREATE TABLE languages (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20))")
    db.run("INSERT INTO languages SELECT seq, CONCAT('l', seq) FROM seq_1_to_12000")
    films = [Film(i, "f", 12001 - i, None) for i in range(1, 12001)]
    rec = recorder(pool)
    FillForeignMany(films, ["language_id"], pool=rec)
    assert [t.count(",") + 1 for t in texts(rec)] == [5000, 5000, 2000]
    assert all(f["language_id"]["name"] == "l%d" % (12001 - f["id"]) for f in films)


def test_common_prefixes_held_keys_none_and_classes(rentals, pool, recorder, monkeypatch):
    rec = recorder(pool)
    monkeypatch.setattr(Rental, "POOL", rec)  # the class's pool, when none is given
    rows = [Rental(1, 14, 2), Rental(2, 27, 3), Rental(3, 14, 4)]
    FillForeignMany(rows, ["inventory_id.film_id", "inventory_id.store_id"])
    assert texts(rec) == ["SELECT * FROM `inventory` WHERE id IN (14, 27)", "SELECT * FROM `films` WHERE id IN (15, 28)",
                          "SELECT * FROM `stores` WHERE id IN (1, 2)"]
    assert rows[0]["inventory_id"] is rows[2]["inventory_id"]
    # Held row objects are not read again, but the path goes on through them; None is skipped.
    rec.log.clear()
    held = Inventory(99, 40, 1)
    more = [Rental(4, held, 1), Rental(5, None, 2), Rental(6, 14, 3)]
    FillForeignMany(more, ["inventory_id.film_id.language_id"], pool=rec)
    assert texts(rec) == ["SELECT * FROM `inventory` WHERE id IN (14)", "SELECT * FROM `films` WHERE id IN (40, 15)",
                          "SELECT * FROM `languages` WHERE id IN (1, 4)"]
    assert more[0]["inventory_id"] is held and held["film_id"]["title"] == "film 40"
    assert store(more[1])["inventory_id"] is None
    # Rows of several classes are grouped by class; a step reading one table is one statement.

    class LateRental(Rental):
        pass

    rec.log.clear()
    mixed = [Rental(7, 1, 1), LateRental(8, 2, 1)]
    FillForeignMany(mixed, ["inventory_id.store_id"], pool=rec)
    assert texts(rec) == ["SELECT * FROM `inventory` WHERE id IN (1, 2)", "SELECT * FROM `stores` WHERE id IN (2, 1)"]
    assert type(mixed[1]["inventory_id"]) is Inventory
    rec.log.clear()
    assert FillForeignMany([], ["staff_id"]) == [] and FillForeignMany(mixed, []) == mixed and rec.log == []


# Rentals kept in another database, and rentals whose list names a column their payments lack.
Elsewhere = type("Elsewhere", (Rental,), {"POOL": brx_sql.CNXPool(database="elsewhere")})
Misnamed = type("Misnamed", (Rental,), {"MULTI_FOREIGN_ATTR": {
    "payments": brx_sql.MultiForeignAttr("payments", "rental", "payments", Payment)}})

BAD = [
    (lambda rows: FillForeignMany(rows + [Elsewhere(3, 14, 2)], ["inventory_id"]), ValueError,
     "rows of Rental and of Elsewhere borrow from different pools"),
    (lambda rows: FillForeignMany([Misnamed(1, 14, 2)], ["payments"]), ValueError,
     "multi-foreign attribute 'payments' of Misnamed names the column 'rental' as its foreign_name, but Payment has"),
    (lambda rows: FillForeignMany(rows, ["inventory_id.nothing"]), KeyError,
     "Inventory has neither a foreign key column nor a multi-foreign attribute named 'nothing'"),
    (lambda rows: FillForeignMany(rows, ["id"]), KeyError, "Rental has neither"),
    (lambda rows: FillForeignMany(rows, "payments"), TypeError, "not a single str"),
    (lambda rows: FillForeignMany(rows, [3]), TypeError, "path must be a str"),
    (lambda rows: FillForeignMany(rows + [3], ["payments"]), TypeError, "rows must be row objects"),
]


@pytest.mark.parametrize("call, error, message", BAD, ids=[m for _, _, m in BAD])
def test_bad_input_raises_before_any_statement(rentals, pool, recorder, monkeypatch, call, error, message):
    rec = recorder(pool)
    monkeypatch.setattr(CNXGuard, "POOL", rec)
    rows = [Rental(1, 14, 2), Rental(2, 27, 3)]
    before = snapshot(rows)
    with pytest.raises(error, match=message) as caught:
        call(rows)
    assert "brx_sql.FillForeignMany" in [entry.frame.code.name for entry in caught.traceback]
    assert texts(rec) == [] and snapshot(rows) == before


class Flaky(Payment):
    """Fails to be built for the fifth payment read."""
    built = []

    def __init__(self, *values):
        Flaky.built.append(values[0])
        if len(Flaky.built) == 5:
            raise RuntimeError("payment 5 cannot be built")
        super().__init__(*values)


def refuse_last_list(row, name, value):
    if name == "payments" and row["id"] == 20:
        raise RuntimeError("rental 20 takes no list")
    object.__setattr__(row, name, value)


@pytest.mark.parametrize("failure", ["missing row", "str id", "row class raising", "row refusing its list"])
def test_failures_after_reading_leave_no_row_half_filled_and_keep_no_connection(rentals, pool, recorder,
                                                                                 monkeypatch, failure):
    rows = Query("SELECT * FROM rentals WHERE id <= 20", None, Rental, pool=pool)
    rows[0]["inventory_id"] = Inventory(14, 15, 1)
    error, message, ending = RuntimeError, "payment 5 cannot be built", "rollback"
    if failure == "missing row":
        rows[-1]["inventory_id"], error, message = 500, KeyError, "Table inventory has no row with id = 500"
    elif failure == "str id":
        rows[-1]["id"], error, message = "20", TypeError, "row identifiers must be integers, not str"
    elif failure == "row class raising":
        Flaky.built.clear()
        monkeypatch.setitem(Rental.MULTI_FOREIGN_ATTR, "payments",
                            brx_sql.MultiForeignAttr("payments", "rental_id", "payments", Flaky))
    else:  # every read succeeded: the changes made to the rows before it are undone
        monkeypatch.setattr(Rental, "__setattr__", refuse_last_list)
        message, ending = "rental 20 takes no list", "commit"
    before = snapshot(rows) + snapshot([rows[0]["inventory_id"]])
    rec = recorder(pool)
    with pytest.raises(error, match=message):
        FillForeignMany(rows, ["inventory_id.film_id", "staff_id.store_id", "payments"], pool=rec)
    assert snapshot(rows) + snapshot([rows[0]["inventory_id"]]) == before
    assert all("payments" not in vars(r) for r in rows)
    assert rec.calls("get", "commit", "rollback", "put") == [("get",), (ending,), ("put",)]
    assert len(idle(pool)) == 1
