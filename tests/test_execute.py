"""Execute: the result by first word, and a connection left ready for the next statement."""
import pytest

import brx_sql
from tables import idle


@pytest.fixture
def table_t(db):
    db.run("CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, a INT)")
    db.run("INSERT INTO t (id, a) VALUES (1, 1), (2, 2)")  # explicit: a cluster steps AUTO_INCREMENT


ROWS = object()  # any non-empty list of rows
NEW_ID = object()  # the id the server gave the inserted row
KINDS = [
    ("SELECT a FROM t ORDER BY id", [(1,), (2,)]),
    ("  show\tTABLES", [("t",)]),
    ("SELECT * FROM t WHERE a > 5", []),
    ("INSERT INTO t (a) VALUES (5)", NEW_ID),
    ("UPDATE t SET a = a + 10", None),
    ("select*from t", None),  # no whitespace after the keyword: not a query
    ("DESCRIBE t", None),  # the rows of these are read away, not returned
    ("EXPLAIN SELECT * FROM t", None),
    ("WITH x AS (SELECT 1) SELECT * FROM x", None),
    ("(SELECT a FROM t)", None),
    ("/* note */ SELECT 1", None),
    ("INSERT INTO t (a) VALUES (6) RETURNING id", ROWS),
    ("SELECT 1; SELECT 2", [(1,)]),  # later results are read away too
    ("DO 1; SELECT a FROM t; UPDATE t SET a = 0", None),
]


@pytest.mark.parametrize("statement, expected", KINDS)
def test_each_kind_leaves_connection_usable(pool, table_t, db, statement, expected):
    with brx_sql.CNXGuard(None, pool) as cnx:
        result = brx_sql.Execute(statement, cnx)
        assert brx_sql.Execute("SELECT 9", cnx) == [(9,)]
    if expected is NEW_ID:
        assert result == db.query("SELECT id FROM t WHERE a = 5")[0][0]
    elif expected is not ROWS:  # lastrowid after RETURNING differs between connector modes
        assert result == expected
    assert len(idle(pool)) == 1


@pytest.mark.parametrize("statement, end, after", [
    ("UPDATE t SET a = 7", "commit", [(7,), (7,)]),
    ("UPDATE t SET a = 7; SELECT * FROM missing", "rollback", [(1,), (2,)]),  # a failing later part is reported
    ("UPDATE t SET a = 7; INSERT INTO t VALUES (1, 1)", "rollback", [(1,), (2,)]),
])
def test_borrowed_connection_commits_or_rolls_back(pool, recorder, table_t, db, statement, end, after):
    rec = recorder(pool)
    if end == "commit":
        assert brx_sql.Execute(statement, pool=rec) is None
    else:  # the C extension reports a later part's failure with its own error class
        with pytest.raises(Exception, match="missing|Duplicate"):
            brx_sql.Execute(statement, pool=rec)
    assert rec.calls("get", "execute", end, "put") == [("get",), ("execute", statement, None), (end,), ("put",)]
    assert db.query("SELECT a FROM t ORDER BY id") == after
