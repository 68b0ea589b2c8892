"""Row classes, fixtures and small helpers shared by the test files."""
import threading

import mysql.connector
import pytest

from brx_sql import ColumnAttribute, MultiForeignAttr, TableBase

ID = {"id": ColumnAttribute("id", 0)}

try:  # the C extension's commit and rollback raise its own error class, not the connector's
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
    COLUMN_ATTRIBUTES = dict(ID, home_id=ColumnAttribute("home_id", None, True, "homes", Home))
    MULTI_FOREIGN_ATTR = {"pets": MultiForeignAttr("pets", "owner_id", "pets", Pet),
                          "toys": MultiForeignAttr("toys", "owner_id", "toys", Toy)}


Pet.COLUMN_ATTRIBUTES = dict(ID, owner_id=ColumnAttribute("owner_id", None, True, "persons", Person))


@pytest.fixture
def tables(db):
    """homes, persons, pets (unique names) and toys; returns a reader of a table's rows by id."""
    for name, extra in (("homes", ""), ("persons", ", home_id INT"), ("pets", " UNIQUE, owner_id INT"),
                        ("toys", ", owner_id INT")):
        db.run("CREATE TABLE %s (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20)%s)" % (name, extra))
    return lambda table: db.query("SELECT * FROM %s ORDER BY id" % table)


@pytest.fixture
def caches():
    yield
    for cls in (Home, Person, Pet, Toy):
        cls.CACHE = None


def graph(*pet_names):
    """An unstored person with a new home and new pets."""
    return Person(name="ann", home_id=Home(name="h1"), pets=[Pet(name=n) for n in pet_names])


def ids(*rows):
    return [row["id"] for row in rows]


def store(row):
    return vars(row)["_TableBase__column_values"]


def texts(rec):
    return [entry[1] for entry in rec.calls("execute")]


def heads(rec):
    """The executed statement texts up to " VALUES"."""
    return [text.split(" VALUES")[0] for text in texts(rec)]


def run_threads(target, arguments):
    """Runs target(argument) in a thread of its own for each argument and waits for them all."""
    threads = [threading.Thread(target=target, args=(argument,)) for argument in arguments]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(120)
    assert not any(thread.is_alive() for thread in threads), "deadlock"
