"""The CNXGuard statement helpers and the table functions against the real server: statement texts,
escaped names, transactions, results read to the end, bad input."""
from contextlib import nullcontext
from unittest import mock

import mysql.connector
import pytest

import brx_sql
from brx_sql import TableBase
from tables import ID, idle, texts

G = brx_sql.CNXGuard
WEIRD = "victim`; DROP TABLE `other"  # would end its quotes if written unescaped


def as_tuple(*values):
    return values


@pytest.fixture
def table_t(db):
    """t (id, a, b, c) holding (7, 1, 2, 3); u (id, a) holding one row."""
    db.run("CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, a INT, b INT, c INT)")
    db.run("CREATE TABLE u (id INT AUTO_INCREMENT PRIMARY KEY, a INT)")
    db.run("INSERT INTO t VALUES (7, 1, 2, 3)")
    db.run("INSERT INTO u (a) VALUES (1)")


def test_statement_texts_and_one_commit_each(pool, recorder, table_t):
    rec = recorder(pool)
    values = (8, 4, 5, 6)  # an explicit id: a cluster steps AUTO_INCREMENT
    with pytest.raises(KeyError) as caught:
        G.Select(8, "t", None, pool=rec)  # raised once the guard ended; the class is never called
    assert caught.value.args == ("Table t has no row with id = 8",)
    assert G.Select(7, "t", as_tuple, pool=rec) == (7, 1, 2, 3)
    assert G.Insert("t", ["id", "a", "b", "c"], values, pool=rec) == 8
    assert G.Insert("t", ["id", "a", "b", "c"], {"c": 3, "z": 9, "a": 1, "id": None, "b": 2}, pool=rec) > 8
    assert G.Delete(7, "t", pool=rec) is None
    assert G.Select(8, "t", as_tuple, None, rec) == (8, 4, 5, 6)
    G.AlterAutoIncrement("t", pool=rec)
    G.AlterAutoIncrement("t", 100, pool=rec)
    G.ClearTable("t", pool=rec)
    G.ClearTable(["t", "u"], pool=rec)
    G.ClearTable([], pool=rec)
    assert brx_sql.GetTableNames(pool=rec) == ["t", "u"]
    brx_sql.GetCreateTableStatement("t", pool=rec)
    insert, select = "INSERT INTO `t` VALUES (%s, %s, %s, %s)", "SELECT * FROM `t` WHERE id = %d"

    def call(*executed, commit=True):  # statements that open no transaction end without a commit
        return [("get",), *(("execute", text, params) for text, params in executed),
                *[("commit",)] * commit, ("put",)]
    assert [entry for entry in rec.log if entry[0] != "cursor"] == [
        *call((select % 8, None)), *call((select % 7, None)), *call((insert, values)),
        *call((insert, [None, 1, 2, 3])), *call(("DELETE FROM `t` WHERE id = %s", (7,))),
        *call((select % 8, None)), *call(("ALTER TABLE `t` AUTO_INCREMENT = 1", None), commit=False),
        *call(("ALTER TABLE `t` AUTO_INCREMENT = 100", None), commit=False), *call(("DELETE FROM `t`", None)),
        *call(("DELETE FROM `t`", None), ("DELETE FROM `u`", None)), *call(commit=False),
        *call(("SHOW TABLES", None), commit=False), *call(("SHOW CREATE TABLE `t`", None), commit=False)]
    assert rec.calls("execute")[2][2] is values  # the caller's sequence itself


def test_select_reads_first_row_and_leaves_connection_usable(pool, db):
    db.run("CREATE TABLE dup (id INT, v INT)")
    db.run("INSERT INTO dup VALUES (7, 1), (7, 2), (7, 3)")
    assert G.Select(7, "dup", as_tuple, pool=pool) == (7, 1)
    with G(None, pool) as cnx:
        assert G.Select(7, "dup", as_tuple, cnx) == (7, 1)
        assert brx_sql.Execute("SELECT 9", cnx) == [(9,)]
    assert len(idle(pool)) == 1  # given back each time, not lost to an unread result


@pytest.mark.parametrize("made_by", ["attribute", "mock.patch", "subclass"])
def test_connection_given_is_left_as_the_application_made_it(dbconfig, table_t, made_by):
    plain = mysql.connector.connect(**dbconfig)
    plain.close()
    made = []

    class Counting(type(plain)):
        def cursor(self, *args, **kwargs):
            made.append(1)
            return super().cursor(*args, **kwargs)
    cnx = (Counting if made_by == "subclass" else type(plain))(**{k: v for k, v in dbconfig.items() if k != "use_pure"})
    own, made[:] = mock.Mock(return_value=True), []  # the pure-Python connect makes cursors of its own
    if made_by == "attribute":
        cnx.is_connected = own
    with mock.patch.object(cnx, "is_connected") if made_by == "mock.patch" else nullcontext():  # exit: deletes it
        assert brx_sql.Query("SELECT 1", cnx=cnx) == [(1,)] and G.Select(7, "t", as_tuple, cnx) == (7, 1, 2, 3)
    assert vars(cnx).get("is_connected") is (own if made_by == "attribute" else None)
    assert made == ([1, 1] if made_by == "subclass" else [])  # an override of cursor() is called, not bypassed
    cnx.close()


@pytest.mark.parametrize("call, error, message", [
    (lambda cnx: G.Select(7, "t", None, cnx), TypeError, None),
    (lambda cnx: G.Select("7", "t", as_tuple, cnx), TypeError, None),
    (lambda cnx: G.Select(None, "t", as_tuple, cnx), TypeError, None),
    (lambda cnx: G.Select(7, "t", lambda *v: 1 / 0, cnx), ZeroDivisionError, None),
    # any sequence of names; it stops at the first failure
    (lambda cnx: G.ClearTable(("t", "missing", "u"), cnx), mysql.connector.ProgrammingError, "missing"),
    (lambda cnx: brx_sql.GetCreateTableStatement("v", cnx), ValueError, r"too many values to unpack \(expected 2\)"),
    (lambda cnx: brx_sql.GetCreateTableStatement("missing", cnx), mysql.connector.ProgrammingError, "missing"),
])
def test_failures_inside_a_block_roll_it_back(pool, recorder, db, table_t, call, error, message):
    db.run("CREATE VIEW v AS SELECT 1 AS one")  # four columns in SHOW CREATE TABLE
    rec = recorder(pool)
    with pytest.raises(error, match=message), G(None, rec) as cnx:
        brx_sql.Execute("UPDATE t SET a = 200", cnx)
        call(cnx)
    assert rec.log[-2:] == [("rollback",), ("put",)] and "DELETE FROM `u`" not in texts(rec)
    assert db.query("SELECT a FROM t") == [(1,)] and db.query("SELECT COUNT(*) FROM u") == [(1,)]
    assert brx_sql.Execute("SELECT 1", pool=pool) == [(1,)] and len(idle(pool)) == 1


@pytest.mark.parametrize("function, args, error", [
    (G.Insert, ("t", [], []), ValueError), (G.Insert, ("t", ["a", "b"], [1]), ValueError),
    (G.Insert, ("t", ["a", "b"], {"a": 1}), KeyError), (G.Insert, ("t", None, [1]), TypeError),
    (G.Insert, ("t", ["a"], None), TypeError), (G.AlterAutoIncrement, ("t", "x"), TypeError),
    (G.AlterAutoIncrement, ("t", None), TypeError), (brx_sql.Execute, ("",), IndexError),
    (brx_sql.Execute, ("  \n\t ",), IndexError), (brx_sql.Execute, (None,), AttributeError),
    # "%d" would write 7.9 as 7: another row, or another counter value
    (G.Select, (7.9, "t", tuple), TypeError), (G.Delete, (7.0, "t"), TypeError),
    (G.AlterAutoIncrement, ("t", 50.5), TypeError),
    # the server would read "3 OR 1=1" as 3
    *[(G.Delete, (bad_id, "t"), TypeError) for bad_id in ["3 OR 1=1", "3", None, b"3", [3]]],
])
def test_bad_input_borrows_nothing(pool, recorder, function, args, error):
    rec = recorder(pool)
    with pytest.raises(error):
        function(*args, pool=rec)
    assert rec.log == []


@pytest.mark.parametrize("table, column", [(WEIRD, "a"), ("50%s off", "pr%ce"), ("a%(x)s", "%%"), ("%", "%s")])
def test_odd_names_touch_only_the_named_table(pool, db, table, column):
    """Backticks in a name are doubled; a "%" stays itself in statements that carry parameters."""
    quoted = "`%s`" % table.replace("`", "``")
    assert brx_sql.GetTableNames(pool=pool) == []
    for name in ("victim", "other"):
        db.run("CREATE TABLE %s (id INT AUTO_INCREMENT PRIMARY KEY, a VARCHAR(20))" % name)
        db.run("INSERT INTO %s (id, a) VALUES (1, 'x'), (2, 'y')" % name)  # explicit: a cluster steps ids
    db.run("CREATE TABLE %s (id INT AUTO_INCREMENT PRIMARY KEY, `%s` VARCHAR(20))" % (quoted, column))
    db.run("CREATE VIEW view1 AS SELECT * FROM victim")
    new_id = G.Insert(table, ["id", column], [None, "a%s b"], pool=pool)
    row = type("Row", (TableBase,), {"TABLE_NAME": table, "COLUMN_NAMES": ["id", column], "COLUMN_ATTRIBUTES": ID})()
    row[column] = "first"
    row.Insert(pool=pool)
    row[column] = "100%"
    row.Update(pool=pool)
    assert G.Select(new_id, table, as_tuple, pool=pool) == (new_id, "a%s b")
    assert G.Select(row["id"], table, type(row), pool=pool)[column] == "100%"
    G.Delete(new_id, table, pool=pool)
    assert db.query("SELECT * FROM %s" % quoted) == [(row["id"], "100%")]
    row.Delete(pool=pool)
    G.Insert(table, ["id", column], [None, "x"], pool=pool)
    G.ClearTable(table, pool=pool)
    G.AlterAutoIncrement(table, 50, pool=pool)
    counted_id = G.Insert(table, ["id", column], [None, "z"], pool=pool)
    assert counted_id >= 50  # a cluster may step past the counter's value
    assert "CREATE TABLE %s" % quoted in brx_sql.GetCreateTableStatement(table, pool=pool)
    assert sorted(brx_sql.GetTableNames(pool=pool)) == sorted(["other", "victim", "view1", table])  # views too
    for name in ("victim", "other"):
        assert db.query("SELECT a FROM %s ORDER BY id" % name) == [("x",), ("y",)]
    assert db.query("SELECT * FROM %s" % quoted) == [(counted_id, "z")]


@pytest.mark.parametrize("statement, expected", [
    ("SELECT CONCAT('`', %s)", "`x"), ('SELECT CONCAT("`", %s)', "`x"), ("SELECT CONCAT('\\'`', %s)", "'`x"),
    ("SELECT /* ` */ %s", "x"), ("SELECT -- `\n %s", "x"), ("SELECT # `\n %s", "x"),
    ("SELECT CONCAT('`', %s) AS `100%`", "`x"),  # a name holding "%" beside them
    ("SELECT CONCAT(`a%s``b`.c, %s) FROM (SELECT '`' AS c) AS `a%s``b`", "`x"),
])
def test_backticks_in_strings_and_comments_quote_no_name(pool, statement, expected):
    assert brx_sql.Query(statement, ("x",), pool=pool) == [(expected,)]


def test_create_statement_keeps_quoted_parts_and_recreates_the_table(pool, db):
    db.run("CREATE TABLE t (id INT NOT NULL AUTO_INCREMENT, `two  words` VARCHAR(20) DEFAULT 'a   b'"
           " COMMENT 'see AUTO_INCREMENT=7', PRIMARY KEY (id))")
    db.run("INSERT INTO t (id) VALUES (NULL), (NULL)")
    statement = brx_sql.GetCreateTableStatement("t", pool=pool)
    assert statement.startswith(
        "CREATE TABLE `t` ( `id` int(11) NOT NULL AUTO_INCREMENT, `two  words` varchar(20) DEFAULT 'a   b'"
        " COMMENT 'see AUTO_INCREMENT=7', PRIMARY KEY (`id`) ) ENGINE=")
    # only the comment's text is left: the counter's table option is gone
    assert statement.count("AUTO_INCREMENT=") == 1 and "\n" not in statement
    first_id = db.query("SELECT MIN(id) FROM t")[0][0]
    db.run("DROP TABLE t")
    db.run(statement)
    db.run("INSERT INTO t (id) VALUES (NULL)")
    assert db.query("SELECT * FROM t") == [(first_id, "a   b")]  # counting starts afresh
    assert brx_sql.GetCreateTableStatement("t", pool=pool) == statement
