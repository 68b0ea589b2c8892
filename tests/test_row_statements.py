"""CNXGuard.Select, Insert, Delete and SelectForeignAttr against the real server."""
import threading

import mysql.connector
import pytest

import brx_sql

G = brx_sql.CNXGuard
WEIRD = "victim`; DROP TABLE `other"  # would end its quotes if written unescaped


def as_tuple(*values):
    return values


@pytest.fixture
def table_t(db):
    db.run("CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, a INT, b INT, c INT)")
    db.run("INSERT INTO t VALUES (7, 1, 2, 3)")


def test_statement_texts_and_one_commit_each(pool, recorder, table_t):
    rec = recorder(pool)
    values = (None, 4, 5, 6)
    assert G.Select(7, "t", as_tuple, pool=rec) == (7, 1, 2, 3)
    new_id = G.Insert("t", ["id", "a", "b", "c"], values, pool=rec)
    assert G.Insert("t", ["id", "a", "b", "c"], {"c": 3, "z": 9, "a": 1, "id": None, "b": 2}, pool=rec) == new_id + 1
    assert G.Delete(7, "t", pool=rec) is None
    assert G.Select(8.9, "t", as_tuple, None, rec) == (8, 4, 5, 6)  # "%d" truncates
    texts = [
        ("SELECT * FROM `t` WHERE id = 7", None),
        ("INSERT INTO `t` VALUES (%s, %s, %s, %s)", values),
        ("INSERT INTO `t` VALUES (%s, %s, %s, %s)", [None, 1, 2, 3]),
        ("DELETE FROM `t` WHERE id = %s", (7,)),
        ("SELECT * FROM `t` WHERE id = 8", None),
    ]
    assert rec.log == [step for text, params in texts
                       for step in (("get",), ("cursor",), ("execute", text, params), ("commit",), ("put",))]
    assert rec.log[7][2] is values  # the caller's sequence itself
    one = recorder(pool)
    with pytest.raises(mysql.connector.Error):  # four columns, one value: the server refuses
        G.Insert("t", ["a"], [1], pool=one)
    assert one.calls("execute") == [("execute", "INSERT INTO `t` VALUES (%s)", [1])]


def test_select_reads_first_row_and_leaves_connection_usable(dbconfig, pool, db):
    db.run("CREATE TABLE dup (id INT, v INT)")
    db.run("INSERT INTO dup VALUES (7, 1), (7, 2), (7, 3)")
    assert G.Select(7, "dup", as_tuple, pool=pool) == (7, 1)
    with G(None, pool) as cnx:
        assert G.Select(7, "dup", as_tuple, cnx) == (7, 1)
        assert brx_sql.Execute("SELECT 9", cnx) == [(9,)]
    assert len(pool._CNXPool__pool) == 1  # given back each time, not lost to an unread result


def test_missing_row_raises_after_guard_exit(pool, recorder, table_t):
    rec = recorder(pool)
    with pytest.raises(KeyError) as caught:
        G.Select(8, "t", None, pool=rec)  # the class is never called
    assert caught.value.args == ("Table t has no row with id = 8",)
    assert rec.log == [("get",), ("cursor",), ("execute", "SELECT * FROM `t` WHERE id = 8", None), ("commit",), ("put",)]


@pytest.mark.parametrize("ident, row_class, error", [
    (7, None, TypeError), ("7", as_tuple, TypeError), (None, as_tuple, TypeError), (7, lambda *v: 1 / 0, ZeroDivisionError),
])
def test_select_failures_inside_block_roll_back(pool, recorder, db, table_t, ident, row_class, error):
    rec = recorder(pool)
    with pytest.raises(error), G(None, rec) as cnx:
        brx_sql.Execute("UPDATE t SET a = 200", cnx)
        G.Select(ident, "t", row_class, cnx)
    assert rec.log[-2:] == [("rollback",), ("put",)] and db.query("SELECT a FROM t") == [(1,)]


@pytest.mark.parametrize("names, values, error", [
    ([], [], ValueError), (["a", "b"], [1], ValueError), (["a", "b"], {"a": 1}, KeyError),
    (None, [1], TypeError), (["a"], None, TypeError),
])
def test_insert_bad_input_borrows_nothing(pool, recorder, names, values, error):
    rec = recorder(pool)
    with pytest.raises(error):
        G.Insert("t", names, values, pool=rec)
    assert rec.log == []


def test_escaped_names_touch_only_the_named_table(dbconfig, pool, db):
    for name in ("victim", "other", WEIRD.replace("`", "``")):
        db.run("CREATE TABLE `%s` (id INT AUTO_INCREMENT PRIMARY KEY, a INT)" % name)
        db.run("INSERT INTO `%s` (a) VALUES (1), (2)" % name)
    new_id = G.Insert(WEIRD, ["id", "a"], [None, 3], pool=pool)
    assert G.Select(new_id, WEIRD, as_tuple, pool=pool) == (new_id, 3)
    G.Delete(1, WEIRD, pool=pool)
    assert db.query("SELECT a FROM `%s` ORDER BY id" % WEIRD.replace("`", "``")) == [(2,), (3,)]
    G.ClearTable(WEIRD, pool=pool)
    G.AlterAutoIncrement(WEIRD, 50, pool=pool)
    assert "CREATE TABLE `victim``; DROP TABLE ``other`" in brx_sql.GetCreateTableStatement(WEIRD, pool=pool)
    assert sorted(brx_sql.GetTableNames(pool=pool)) == sorted(["other", "victim", WEIRD])
    for name in ("victim", "other"):
        assert db.query("SELECT a FROM %s ORDER BY id" % name) == [(1,), (2,)]
    assert db.query("SELECT COUNT(*) FROM `%s`" % WEIRD.replace("`", "``")) == [(0,)]


def test_threads_sharing_a_pool(pool, table_t):
    def work(ids):
        for _ in range(10):
            new_id = G.Insert("t", ["id", "a", "b", "c"], [None, 1, 2, 3], pool=pool)
            ids.append(G.Select(new_id, "t", as_tuple, pool=pool)[0])
            G.Delete(new_id, "t", pool=pool)

    results = [[] for _ in range(6)]
    threads = [threading.Thread(target=work, args=(ids,)) for ids in results]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len({i for ids in results for i in ids}) == 60 and len(pool._CNXPool__pool) <= 3
    assert brx_sql.Execute("SELECT * FROM t", pool=pool) == [(7, 1, 2, 3)]


def test_select_foreign_attr_needs_nothing():
    assert G.POOL is None
    assert G.SelectForeignAttr(1, "c", "t") is None
