"""AlterAutoIncrement, ClearTable, GetTableNames and GetCreateTableStatement against the real server."""
import mysql.connector
import pytest

import brx_sql

G = brx_sql.CNXGuard


@pytest.fixture
def tables(db):
    for name in ("a", "b", "c"):
        db.run("CREATE TABLE %s (id INT AUTO_INCREMENT PRIMARY KEY, v INT)" % name)
        db.run("INSERT INTO %s (v) VALUES (1), (2)" % name)


def count(db, name):
    return db.query("SELECT COUNT(*) FROM %s" % name)[0][0]


def test_statement_texts_on_one_cursor(pool, recorder, tables):
    rec = recorder(pool)
    G.AlterAutoIncrement("a", pool=rec)
    G.AlterAutoIncrement("a", 100, pool=rec)
    G.ClearTable("a", pool=rec)
    G.ClearTable(["b", "c"], pool=rec)
    G.ClearTable([], pool=rec)
    assert brx_sql.GetTableNames(pool=rec) == ["a", "b", "c"]
    brx_sql.GetCreateTableStatement("a", pool=rec)
    assert [entry for entry in rec.log if entry[0] in ("cursor", "execute")] == [
        ("cursor",), ("execute", "ALTER TABLE `a` AUTO_INCREMENT = 1", None),
        ("cursor",), ("execute", "ALTER TABLE `a` AUTO_INCREMENT = 100", None),
        ("cursor",), ("execute", "DELETE FROM `a`", None),
        ("cursor",), ("execute", "DELETE FROM `b`", None), ("execute", "DELETE FROM `c`", None),
        ("cursor",),
        ("cursor",), ("execute", "SHOW TABLES", None),
        ("cursor",), ("execute", "SHOW CREATE TABLE `a`", None),
    ]
    assert len(rec.calls("get")) == len(rec.calls("put")) == 7 and not rec.calls("rollback")


def test_clear_table_failure_rolls_back_and_stops(pool, recorder, tables, db):
    rec = recorder(pool)
    with pytest.raises(mysql.connector.ProgrammingError):
        G.ClearTable(["a", "missing", "c"], pool=rec)
    assert rec.calls("execute")[-1][1] == "DELETE FROM `missing`"
    assert rec.log[-2:] == [("rollback",), ("put",)]
    assert (count(db, "a"), count(db, "c")) == (2, 2)


def test_clear_and_alter_take_effect(pool, tables, db):
    G.ClearTable(("a", "b"), pool=pool)
    G.AlterAutoIncrement("a", 50.5, pool=pool)  # "%d" formatting
    assert (count(db, "a"), count(db, "b"), count(db, "c")) == (0, 0, 2)
    assert G.Insert("a", ["id", "v"], [None, 9], pool=pool) == 50


@pytest.mark.parametrize("value", ["x", None, [1]])
def test_bad_counter_value_borrows_nothing(pool, recorder, value):
    rec = recorder(pool)
    with pytest.raises(TypeError):
        G.AlterAutoIncrement("a", value, pool=rec)
    assert rec.log == []


def test_table_names(pool, db):
    assert brx_sql.GetTableNames(pool=pool) == []
    db.run("CREATE TABLE t1 (id INT)")
    db.run("CREATE VIEW v1 AS SELECT * FROM t1")
    assert sorted(brx_sql.GetTableNames(pool=pool)) == ["t1", "v1"]


def test_create_statement_keeps_quoted_parts_and_recreates_the_table(dbconfig, pool, db):
    db.run("CREATE TABLE t (id INT NOT NULL AUTO_INCREMENT, `two  words` VARCHAR(20) DEFAULT 'a   b'"
           " COMMENT 'see AUTO_INCREMENT=7', PRIMARY KEY (id))")
    db.run("INSERT INTO t (id) VALUES (NULL), (NULL)")
    statement = brx_sql.GetCreateTableStatement("t", pool=pool)
    assert statement.startswith(
        "CREATE TABLE `t` ( `id` int(11) NOT NULL AUTO_INCREMENT, `two  words` varchar(20) DEFAULT 'a   b'"
        " COMMENT 'see AUTO_INCREMENT=7', PRIMARY KEY (`id`) ) ENGINE=")
    assert "AUTO_INCREMENT=3" not in statement and "\n" not in statement
    db.run("DROP TABLE t")
    db.run(statement)
    db.run("INSERT INTO t (id) VALUES (NULL)")
    assert db.query("SELECT * FROM t") == [(1, "a   b")]
    assert brx_sql.GetCreateTableStatement("t", pool=pool) == statement


@pytest.mark.parametrize("name, error, message", [
    ("v", ValueError, "too many values to unpack (expected 2)"),  # a view gives four columns
    ("missing", mysql.connector.ProgrammingError, None),
])
def test_create_statement_failures_give_connection_back(pool, recorder, db, name, error, message):
    db.run("CREATE VIEW v AS SELECT 1 AS one")
    rec = recorder(pool)
    with pytest.raises(error) as caught:
        brx_sql.GetCreateTableStatement(name, pool=rec)
    assert message is None or str(caught.value) == message
    assert rec.log[-1] == ("put",)
    assert brx_sql.Execute("SELECT 1", pool=pool) == [(1,)] and len(pool._CNXPool__pool) == 1
