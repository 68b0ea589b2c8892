"""Query and FillForeignMany against the real server: results equal plain SQL joins on a schema with nullable
keys, a key to its own table, a reference cycle and a three-level chain; statements counted by the server for
1, 20 and 2,000 rows; bad inputs and failing row classes leave every row as it was and keep no connection."""
import logging

import mysql.connector
import pytest

import brx_sql
from brx_sql import Cache, CNXGuard, FillForeignMany, Query
from rental import Actor, Film, FilmActor, Inventory, Language, Payment, Rental, Staff, Store, create
from tables import store, texts

PAGE = ["inventory_id.film_id.language_id", "inventory_id.store_id", "staff_id.store_id.manager_id", "payments"]


@pytest.fixture
def rentals(db):
    create(db)


@pytest.fixture
def many_rentals(db):
    create(db, rentals=2000)


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


# ---------------------------------------------------------------- Query

def test_query_with_parameters_join_aggregate_and_update(rentals, pool, recorder, db):
    rec = recorder(pool)
    CNXGuard.POOL = pool  # for the lookups of item read below
    rows = Query("SELECT f.id, f.title, l.name FROM films f LEFT JOIN languages l ON l.id = f.language_id"
                 " WHERE f.id IN (%s, %s) ORDER BY f.id", (9, 10), pool=rec)
    assert rows == [(9, "film 9", None), (10, "film 10", "lang 3")]
    assert Query("SELECT COUNT(*) FROM films WHERE language_id = %(lang)s", {"lang": 2}, pool=rec) == [(9,)]
    films = Query("SELECT * FROM films WHERE title LIKE %s ORDER BY id", ["film 1_"], Film, pool=rec)
    assert [type(f) for f in films] == [Film] * 10 and [f["title"] for f in films][:2] == ["film 10", "film 11"]
    assert films[0]["language_id"]["name"] == "lang 3"  # built as the statement helpers build rows
    # Parameters travel as parameters, never in the text.
    assert [entry[1:] for entry in rec.calls("execute")][:2] == [
        ("SELECT f.id, f.title, l.name FROM films f LEFT JOIN languages l ON l.id = f.language_id"
         " WHERE f.id IN (%s, %s) ORDER BY f.id", (9, 10)),
        ("SELECT COUNT(*) FROM films WHERE language_id = %(lang)s", {"lang": 2})]
    hostile = "x'); DROP TABLE films; --"
    assert Query("SELECT id FROM films WHERE title = %s", (hostile,), pool=rec) == []
    assert Query("UPDATE films SET title = %s WHERE id = %s", ("renamed", 1), pool=rec) == []
    assert db.query("SELECT title FROM films WHERE id = 1") == [("renamed",)]
    assert Query("SELECT 1", pool=rec) == [(1,)]
    assert rec.calls("get", "put").count(("get",)) == rec.calls("get", "put").count(("put",)) == 6


def test_query_joins_the_callers_transaction(rentals, pool, db):
    with CNXGuard(None, pool) as cnx:
        Query("INSERT INTO languages VALUES (%s, %s)", (9, "new"), cnx=cnx)
        assert Query("SELECT name FROM languages WHERE id = 9", cnx=cnx) == [("new",)]
        assert db.query("SELECT name FROM languages WHERE id = 9") == []
    assert db.query("SELECT name FROM languages WHERE id = 9") == [("new",)]


def test_query_bad_input_borrows_nothing_and_failures_roll_back(rentals, pool, recorder, db):
    rec = recorder(pool)
    for params in ("abc", 5, object()):
        with pytest.raises(TypeError, match="parameters must be a sequence or a mapping"):
            Query("SELECT %s", params, pool=rec)
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
    assert rec.calls("get", "put", "commit") == [("get",), ("put",)] * 2
    assert len(pool._CNXPool__pool) == 1


def test_query_is_in_the_statement_log(rentals, pool, caplog):
    caplog.set_level(logging.DEBUG, logger="brx_sql")
    Query("SELECT name FROM languages WHERE id = %s", (2,), pool=pool)
    assert [r.args for r in caplog.records if r.name == "brx_sql"] == [
        ("SELECT name FROM languages WHERE id = %s", (2,)), ("COMMIT",)]


# ---------------------------------------------------------------- FillForeignMany: results

def sql_page(db, first, last):
    return db.query(
        "SELECT r.id, f.title, l.name, st.name, s.name, ss.name, m.name FROM rentals r"
        " JOIN inventory i ON i.id = r.inventory_id JOIN films f ON f.id = i.film_id"
        " LEFT JOIN languages l ON l.id = f.language_id JOIN stores st ON st.id = i.store_id"
        " JOIN staff s ON s.id = r.staff_id JOIN stores ss ON ss.id = s.store_id"
        " LEFT JOIN staff m ON m.id = ss.manager_id WHERE r.id BETWEEN %s AND %s ORDER BY r.id", (first, last))


def sql_payments(db, first, last):
    by_rental = {}
    for rental, payment, amount in db.query("SELECT rental_id, id, amount FROM payments WHERE rental_id BETWEEN"
                                            " %s AND %s ORDER BY id", (first, last)):
        by_rental.setdefault(rental, []).append((payment, amount))
    return by_rental


def page_of(rows):
    return [(r["id"], r["inventory_id"]["film_id"]["title"], name(r["inventory_id"]["film_id"]["language_id"]),
             r["inventory_id"]["store_id"]["name"], r["staff_id"]["name"], r["staff_id"]["store_id"]["name"],
             name(r["staff_id"]["store_id"]["manager_id"])) for r in rows]


def test_a_page_of_rentals_equals_the_sql_join(rentals, pool, recorder, db):
    rows = Query("SELECT * FROM rentals WHERE id BETWEEN %s AND %s ORDER BY id", (21, 120), Rental, pool=pool)
    rec = recorder(pool)
    assert FillForeignMany(rows, PAGE, pool=rec) is rows
    sent = texts(rec)
    # one statement per step, less the steps whose rows were reached already: the stores of the staff
    # are the stores of the inventory, and the managers are staff read for the rentals
    assert len(sent) == 6 and rec.calls("get", "commit", "put") == [("get",), ("commit",), ("put",)]
    assert sent[0].startswith("SELECT * FROM `inventory` WHERE id IN (")
    assert "SELECT * FROM `payments` WHERE `rental_id` IN (21, 22, " in sent[-1] and sent[-1].endswith(") ORDER BY id")
    rec.log.clear()
    assert page_of(rows) == sql_page(db, 21, 120) and texts(rec) == []  # everything is in place: no lookups
    payments = sql_payments(db, 21, 120)
    assert [[(p["id"], p["amount"]) for p in r.payments] for r in rows] == [payments.get(r["id"], []) for r in rows]
    assert all(p["rental_id"] is r for r in rows for p in r.payments)  # children point at their parent
    # within one call each row is one object
    films = {}
    for r in rows:
        film = r["inventory_id"]["film_id"]
        assert films.setdefault(film["id"], film) is film
    assert len({id(r["staff_id"]["store_id"]) for r in rows}) == 2


def test_films_with_their_languages_and_actors(rentals, pool, db):
    films = Query("SELECT * FROM films ORDER BY id", None, Film, pool=pool)
    _, count = counted(pool, lambda cnx: FillForeignMany(
        films, ["language_id", "original_language_id", "film_actors.actor_id"], cnx))
    assert count == 3  # both language columns are one step each, the list and the actors
    got = sorted((f["id"], name(f["language_id"]), name(f["original_language_id"]), a["id"], a["name"])
                 for f in films for a in [link["actor_id"] for link in f.film_actors])
    assert got == sorted(db.query(
        "SELECT f.id, l.name, o.name, a.id, a.name FROM films f LEFT JOIN languages l ON l.id = f.language_id"
        " LEFT JOIN languages o ON o.id = f.original_language_id JOIN film_actors fa ON fa.film_id = f.id"
        " JOIN actors a ON a.id = fa.actor_id"))
    assert films[39].film_actors == [] and all(
        [link["id"] for link in f.film_actors] == sorted(link["id"] for link in f.film_actors) for f in films)
    assert store(films[8])["language_id"] is None and films[2]["original_language_id"] is films[5][
        "original_language_id"]


def test_a_key_to_its_own_table_and_a_cycle(rentals, pool, recorder, db):
    staff = Query("SELECT * FROM staff ORDER BY id", None, Staff, pool=pool)
    rec = recorder(pool)
    FillForeignMany(staff, ["boss_id.boss_id", "reports", "store_id.manager_id.store_id"], pool=rec)
    # boss_id of the given rows points at given rows: nothing to read for it; the stores once, and the
    # managers and their stores are rows already reached.
    assert texts(rec) == ["SELECT * FROM `staff` WHERE `boss_id` IN (1, 2, 3, 4, 5, 6, 7, 8, 9) ORDER BY id",
                          "SELECT * FROM `stores` WHERE id IN (1, 2)"]
    by_id = {s["id"]: s for s in staff}
    chain = lambda s: [] if s is None else [s["name"]] + chain(s["boss_id"])
    assert chain(by_id[4]) == ["dee", "cy", "bob", "ann"] and by_id[1]["boss_id"] is None
    assert sorted((s["id"], name(s["boss_id"])) for s in staff) == sorted(
        db.query("SELECT s.id, b.name FROM staff s LEFT JOIN staff b ON b.id = s.boss_id"))
    assert [[r["id"] for r in s.reports] for s in staff] == [[2, 9], [3], [4], [], [6, 7], [], [8], [], []]
    assert by_id[2]["boss_id"] is by_id[1] and by_id[1].reports[0] is by_id[2]
    north = by_id[1]["store_id"]
    assert north["manager_id"] is by_id[1] and north["manager_id"]["store_id"] is north  # the cycle, closed
    assert [(s["id"], s["store_id"]["name"], name(s["store_id"]["manager_id"])) for s in staff] == db.query(
        "SELECT s.id, st.name, m.name FROM staff s JOIN stores st ON st.id = s.store_id"
        " LEFT JOIN staff m ON m.id = st.manager_id ORDER BY s.id")
    stores = Query("SELECT * FROM stores ORDER BY id", None, Store, pool=pool)
    FillForeignMany(stores, ["manager_id.store_id", "staff"], pool=pool)
    assert stores[0]["manager_id"]["store_id"] is stores[0] and stores[2]["manager_id"] is None
    assert [[s["name"] for s in st.staff] for st in stores] == [["ann", "bob", "cy", "dee", "ivy"],
                                                                ["eve", "fay", "gus", "hal"], []]
    assert stores[0].staff[0] is stores[0]["manager_id"]


def test_statements_per_page_do_not_grow_with_the_rows(many_rentals, pool, db):
    found = []
    # The pure-Python connector reads the session's sql_mode at a connection's first statement with
    # parameters: warm the pool's connection up.
    counted(pool, lambda cnx: Query("SELECT %s", (1,), cnx=cnx))
    for first, last in ((7, 7), (1, 20), (1, 2000)):
        def page(cnx):
            rows = Query("SELECT * FROM rentals WHERE id BETWEEN %s AND %s ORDER BY id", (first, last), Rental, cnx)
            FillForeignMany(rows, PAGE, cnx)
            return rows
        rows, count = counted(pool, page)
        assert page_of(rows) == sql_page(db, first, last)
        found.append(count)
    # The Query, and at most one per step (8): fewer where a step's rows were reached already, as when
    # many rentals share their stores and staff. The COMMIT comes after.
    assert found == [9, 7, 7]


def test_very_long_lists_are_split(db, pool, recorder):
    db.run("CREATE TABLE languages (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20))")
    db.run("CREATE TABLE films (id INT AUTO_INCREMENT PRIMARY KEY, title VARCHAR(20), language_id INT NULL,"
           " original_language_id INT NULL)")
    db.run("INSERT INTO languages SELECT seq, CONCAT('l', seq) FROM seq_1_to_12000")
    films = [Film(i, "f", 12001 - i, None) for i in range(1, 12001)]
    rec = recorder(pool)
    FillForeignMany(films, ["language_id"], pool=rec)
    assert [t.count(",") + 1 for t in texts(rec)] == [5000, 5000, 2000]
    assert all(f["language_id"]["name"] == "l%d" % (12001 - f["id"]) for f in films)


# ---------------------------------------------------------------- FillForeignMany: rules

def test_common_prefixes_held_keys_none_and_classes(rentals, pool, recorder):
    rec = recorder(pool)
    rows = [Rental(1, 14, 2), Rental(2, 27, 3), Rental(3, 14, 4)]
    FillForeignMany(rows, ["inventory_id.film_id", "inventory_id.store_id"], pool=rec)
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
    mixed = [Rental(7, 1, 1), LateRental(8, 2, 1), Inventory(3, 1, 2)]
    with pytest.raises(KeyError, match="Inventory has neither a foreign key column nor a multi-foreign attribute"
                                       " named 'inventory_id'"):
        FillForeignMany(mixed, ["inventory_id"], pool=rec)
    assert rec.log == []
    FillForeignMany(mixed[:2], ["inventory_id.store_id"], pool=rec)
    assert texts(rec) == ["SELECT * FROM `inventory` WHERE id IN (1, 2)", "SELECT * FROM `stores` WHERE id IN (2, 1)"]
    assert type(mixed[1]["inventory_id"]) is Inventory


def test_the_class_pool_is_used_and_a_given_connection_kept(rentals, pool, recorder, monkeypatch):
    rec = recorder(pool)
    monkeypatch.setattr(Rental, "POOL", rec)
    rows = [Rental(1, 14, 2)]
    FillForeignMany(rows, ["staff_id"])
    assert rec.calls("get", "put") == [("get",), ("put",)] and len(texts(rec)) == 1
    assert FillForeignMany([], ["staff_id"]) == [] and FillForeignMany(rows, []) == rows
    assert len(rec.calls("get")) == 1


def test_rows_served_by_a_cache_are_not_read_again(rentals, pool, recorder, monkeypatch):
    cache = Cache(pool)
    cache.Cache("languages", Language)
    monkeypatch.setattr(Film, "CACHE", cache)
    films = Query("SELECT * FROM films WHERE id <= 12", None, Film, pool=pool)
    rec = recorder(pool)
    FillForeignMany(films, ["language_id", "original_language_id", "film_actors"], pool=rec)
    assert texts(rec) == ["SELECT * FROM `film_actors` WHERE `film_id` IN (1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12)"
                          " ORDER BY id"]
    lang = cache.CachedTable("languages")
    assert films[0]["language_id"] is lang[2] and films[2]["original_language_id"] is lang[2]
    assert store(films[8])["language_id"] is None


# ---------------------------------------------------------------- FillForeignMany: failures change nothing

def bad_rows():
    return [Rental(1, 14, 2), Rental(2, 27, 3)]


BAD = [
    (lambda rows: FillForeignMany(rows, ["inventory_id.nothing"]), KeyError,
     "Inventory has neither a foreign key column nor a multi-foreign attribute named 'nothing'"),
    (lambda rows: FillForeignMany(rows, ["id"]), KeyError, "Rental has neither"),
    (lambda rows: FillForeignMany(rows, ["inventory_id."]), KeyError, "named ''"),
    (lambda rows: FillForeignMany(rows, "payments"), TypeError, "not a single str"),
    (lambda rows: FillForeignMany(rows, [3]), TypeError, "path must be a str"),
    (lambda rows: FillForeignMany(rows + [3], ["payments"]), TypeError, "rows must be row objects"),
    (lambda rows: FillForeignMany(rows, ["payments"], pool=1), AttributeError, "Get"),
]


@pytest.mark.parametrize("call, error, message", BAD, ids=[m for _, _, m in BAD])
def test_bad_input_raises_before_any_statement(rentals, pool, recorder, monkeypatch, call, error, message):
    rec = recorder(pool)
    monkeypatch.setattr(CNXGuard, "POOL", rec)
    rows = bad_rows()
    before = snapshot(rows)
    with pytest.raises(error, match=message) as caught:
        call(rows)
    assert "brx_sql.FillForeignMany" in [entry.frame.code.name for entry in caught.traceback]
    assert texts(rec) == [] and snapshot(rows) == before


def test_failures_after_reading_change_nothing_and_keep_no_connection(rentals, pool, recorder, db):
    rec = recorder(pool)
    rows = bad_rows() + [Rental(3, 500, 1)]
    rows[0]["inventory_id"] = Inventory(14, 15, 1)
    before = snapshot(rows) + snapshot([rows[0]["inventory_id"]])
    with pytest.raises(KeyError, match="Table inventory has no row with id = 500"):
        FillForeignMany(rows, ["inventory_id.film_id", "staff_id", "payments"], pool=rec)
    assert snapshot(rows) + snapshot([rows[0]["inventory_id"]]) == before
    rows[2]["id"] = "3"
    rows[2]["inventory_id"] = 14
    with pytest.raises(TypeError, match="row identifiers must be integers, not str"):
        FillForeignMany(rows, ["staff_id", "payments"], pool=rec)
    assert store(rows[1])["staff_id"] == 3 and "payments" not in vars(rows[1])
    assert rec.calls("get", "commit", "rollback", "put") == [("get",), ("rollback",), ("put",)] * 2
    assert len(pool._CNXPool__pool) == 1


def test_a_row_class_raising_in_the_middle_leaves_no_row_half_filled(rentals, pool, recorder, monkeypatch):
    built = []

    class Flaky(Payment):
        def __init__(self, *values):
            built.append(values[0])
            if len(built) == 5:
                raise RuntimeError("payment 5 cannot be built")
            super().__init__(*values)

    monkeypatch.setitem(Rental.MULTI_FOREIGN_ATTR, "payments",
                        brx_sql.MultiForeignAttr("payments", "rental_id", "payments", Flaky))
    rows = Query("SELECT * FROM rentals WHERE id <= 20", None, Rental, pool=pool)
    before = snapshot(rows)
    rec = recorder(pool)
    with pytest.raises(RuntimeError, match="payment 5 cannot be built"):
        FillForeignMany(rows, ["staff_id.store_id", "inventory_id", "payments"], pool=rec)
    assert snapshot(rows) == before and len(built) == 5
    assert all("payments" not in vars(r) for r in rows)
    assert rec.calls("get", "commit", "rollback", "put") == [("get",), ("rollback",), ("put",)]
    assert len(pool._CNXPool__pool) == 1
    # and the same rows fill once the class works
    built.clear()
    monkeypatch.setitem(Rental.MULTI_FOREIGN_ATTR, "payments",
                        brx_sql.MultiForeignAttr("payments", "rental_id", "payments", Payment))
    FillForeignMany(rows, ["payments"], pool=pool)
    assert sum(len(r.payments) for r in rows) == sum(r["id"] % 3 for r in rows)
