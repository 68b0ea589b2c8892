"""Row classes, fixtures and small helpers shared by the test files."""
import threading

import mysql.connector

from brx_sql import ColumnAttribute, MultiForeignAttr, TableBase

ID = {"id": ColumnAttribute("id", 0)}


def key(column, table, cls):
    """A foreign key column pointing at `table`, whose rows are `cls` objects."""
    return ColumnAttribute(column, None, True, table, cls)

try:  # called directly, the C extension's commit and rollback raise its own error class
    from _mysql_connector import MySQLInterfaceError
    CONNECTOR_ERRORS = (mysql.connector.Error, MySQLInterfaceError)
except ImportError:
    CONNECTOR_ERRORS = (mysql.connector.Error,)


def close_idle(pool):
    """Closes the connections a pool keeps, so idle connections do not pile up on the server."""
    for connection in list(getattr(pool, "_CNXPool__pool", None) or ()):
        try:
            connection.close()
        except Exception:
            pass


class Home(TableBase):
    TABLE_NAME = "homes"
    COLUMN_NAMES = ["id", "name"]
    COLUMN_ATTRIBUTES = ID


class Pet(TableBase):
    TABLE_NAME = "pets"
    COLUMN_NAMES = ["id", "name", "owner_id"]


class Toy(Pet):
    TABLE_NAME = "toys"


class Person(TableBase):
    TABLE_NAME = "persons"
    COLUMN_NAMES = ["id", "name", "home_id"]
    COLUMN_ATTRIBUTES = dict(ID, home_id=key("home_id", "homes", Home))
    MULTI_FOREIGN_ATTR = {"pets": MultiForeignAttr("pets", "owner_id", "pets", Pet),
                          "toys": MultiForeignAttr("toys", "owner_id", "toys", Toy)}


Pet.COLUMN_ATTRIBUTES = dict(ID, owner_id=key("owner_id", "persons", Person))


def graph(*pet_names):
    """An unstored person with a new home and new pets."""
    return Person(name="ann", home_id=Home(name="h1"), pets=[Pet(name=n) for n in pet_names])


def ids(*rows):
    return [row["id"] for row in rows]


def store(row):
    return row._TableBase__column_values


def idle(pool):
    """The connections a CNXPool keeps."""
    return pool._CNXPool__pool


def executed(rec):
    """(statement, parameters) of every execute call a recording pool saw."""
    return [entry[1:] for entry in rec.calls("execute")]


def texts(rec):
    return [entry[1] for entry in rec.calls("execute")]


def heads(rec):
    """The executed statement texts up to " VALUES"."""
    return [text.split(" VALUES")[0] for text in texts(rec)]


def counts(tables):
    """The numbers of rows in homes, persons and pets (`tables`: the fixture's reader)."""
    return [len(tables(t)) for t in ("homes", "persons", "pets")]


def run_threads(target, arguments):
    """Runs target(argument) in a thread of its own for each argument and waits for them all."""
    threads = [threading.Thread(target=target, args=(argument,)) for argument in arguments]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(120)
    assert not any(thread.is_alive() for thread in threads), "deadlock"
