"""Statements logged at DEBUG on the logger "brx_sql": exactly what is sent, in order, with the
parameters or without them, and nothing while the logger is not enabled for DEBUG."""
import logging

import mysql.connector
import pytest

import brx_sql
from tables import Person, executed, graph

LOGGER = logging.getLogger("brx_sql")


@pytest.fixture
def statements(caplog):
    """The records of the logger "brx_sql" as (text, parameters or None), DEBUG enabled."""
    caplog.set_level(logging.DEBUG, logger="brx_sql")
    yield lambda: [(r.args[0], r.args[1] if len(r.args) > 1 else None)
                   for r in caplog.records if r.name == "brx_sql"]
    brx_sql.LOG_PARAMETERS = True
    LOGGER.disabled = False
    logging.disable(logging.NOTSET)


def test_graph_insert_logs_what_is_sent_in_order(tables, pool, recorder, statements, caplog):
    rec = recorder(pool)
    person = graph("rex", "tom")
    person.Insert(pool=rec)
    sent = executed(rec)
    assert len(sent) == 3 and statements() == sent + [("COMMIT", None)]  # the two pets in one INSERT; the guard's end
    assert all(r.levelno == logging.DEBUG for r in caplog.records)
    assert "'rex'" in caplog.records[2].getMessage() and " -- parameters: " in caplog.records[2].getMessage()


def test_parameters_left_out_when_switched_off(tables, pool, statements, caplog):
    brx_sql.LOG_PARAMETERS = False
    person = graph("secret-pet")
    person.Insert(pool=pool)
    brx_sql.CNXGuard.Select(person["id"], "persons", Person, pool=pool)
    logged = statements()
    assert [text.split(" VALUES")[0].split(" WHERE")[0] for text, _ in logged] == [
        "INSERT INTO `homes`", "INSERT INTO `persons`", "INSERT INTO `pets`", "COMMIT", "SELECT * FROM `persons`",
        "COMMIT"]
    assert all(params is None for _, params in logged)
    assert not any("secret-pet" in r.getMessage() for r in caplog.records)
    brx_sql.LOG_PARAMETERS = True  # read at each statement
    brx_sql.CNXGuard.Delete(person["id"], "persons", pool=pool)
    assert statements()[-2:] == [("DELETE FROM `persons` WHERE id = %s", (person["id"],)), ("COMMIT", None)]


def test_nothing_logged_unless_enabled_for_debug(tables, pool, statements):
    brx_sql.Execute("SELECT 1", pool=pool)
    assert len(statements()) == 1
    for switch_off, switch_on in (
            (lambda: LOGGER.setLevel(logging.INFO), lambda: LOGGER.setLevel(logging.DEBUG)),
            (lambda: logging.disable(logging.DEBUG), lambda: logging.disable(logging.NOTSET)),
            (lambda: setattr(LOGGER, "disabled", True), lambda: setattr(LOGGER, "disabled", False))):
        switch_off()
        brx_sql.Execute("SELECT 2", pool=pool)
        assert len(statements()) == 1
        switch_on()
    brx_sql.Execute("SELECT 3", pool=pool)
    assert [text for text, _ in statements()] == ["SELECT 1", "SELECT 3"]


def test_the_guards_commit_and_rollback_and_a_refused_statement_are_logged(tables, pool, statements):
    with pytest.raises(mysql.connector.ProgrammingError):
        brx_sql.Execute("SELEC 1", pool=pool)  # logged before it fails; no transaction open: no ROLLBACK
    with brx_sql.CNXGuard(None, pool) as cnx:
        brx_sql.Query("SELECT * FROM homes", cnx=cnx)
    with pytest.raises(ZeroDivisionError):
        with brx_sql.CNXGuard(None, pool) as cnx:
            brx_sql.Query("SELECT * FROM homes WHERE id = %s", (1,), cnx=cnx)
            1 / 0
    with brx_sql.CNXGuard(None, pool) as cnx:  # nothing read: no transaction to end
        pass
    assert statements() == [("SELEC 1", None), ("SELECT * FROM homes", None), ("COMMIT", None),
                            ("SELECT * FROM homes WHERE id = %s", (1,)), ("ROLLBACK", None)]

