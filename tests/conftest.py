"""Fixtures: a real MariaDB server, clean test databases, pools, a read-back connection, a recorder.

A test asking for `dbconfig`, `second_dbconfig`, `pool` or `db` starts with both test databases made anew
(support/mariadb.py: the environment variables that select an existing server instead)."""
import sys

import mysql.connector
import pytest

from support.mariadb import database_names, open_server
from support.readback import ReadBack
from support.recording import RecordingPool
from tables import close_idle

MODES = ("cext", "pure")


def _cext_available():
    try:
        import _mysql_connector  # noqa: F401
    except ImportError:
        return False
    return getattr(mysql.connector, "HAVE_CEXT", False)


@pytest.fixture(scope="session")
def server():
    """The server controller: `settings()`, `restart()` (private server only), `private`."""
    controller = open_server()
    try:
        yield controller
    finally:
        controller.close()


@pytest.fixture
def clean_databases(server):
    """Both test databases, empty; their names as a tuple."""
    server.clean()
    return database_names()


@pytest.fixture(params=MODES)
def connector_mode(request):
    if request.param == "cext" and not _cext_available():
        pytest.skip("the C extension of mysql.connector cannot be loaded here")
    return request.param


@pytest.fixture
def dbconfig(server, clean_databases, connector_mode):
    """Connection settings for the clean first test database, in the C-extension or pure mode."""
    return dict(server.settings(), database=clean_databases[0], use_pure=(connector_mode == "pure"))


@pytest.fixture
def second_dbconfig(dbconfig, clean_databases):
    """The same settings for the second clean test database on the same server."""
    return dict(dbconfig, database=clean_databases[1])


@pytest.fixture
def pools():
    """`pools(**settings)`: a new CNXPool, whose idle connections are closed after the test."""
    import brx_sql
    made = []
    yield lambda **settings: made.append(brx_sql.CNXPool(**settings)) or made[-1]
    for pool in made:
        close_idle(pool)


@pytest.fixture
def pool(pools, dbconfig):
    return pools(**dbconfig)


@pytest.fixture
def db(server, clean_databases):
    """An autocommit connection to the first test database: `query(sql, params)`, `run(sql, params)`."""
    readback = ReadBack(dict(server.settings(), database=clean_databases[0]))
    yield readback
    readback.close()


@pytest.fixture
def recorder():
    """`rec = recorder(pool)`: a pool whose connections record their calls in `rec.log`."""
    return RecordingPool


@pytest.fixture
def tables(db):
    """homes, persons, pets (unique names) and toys; returns a reader of a table's rows by id."""
    for name, extra in (("homes", ""), ("persons", ", home_id INT"), ("pets", " UNIQUE, owner_id INT"),
                        ("toys", ", owner_id INT")):
        db.run("CREATE TABLE %s (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20)%s)" % (name, extra))
    return lambda table: db.query("SELECT * FROM %s ORDER BY id" % table)


@pytest.fixture(autouse=True)
def _reset_defaults():
    """After each test: no default pool, and no cache on any row class."""
    yield
    module = sys.modules.get("brx_sql")
    if module is not None:
        module.CNXGuard.POOL = None
        todo = module.TableBase.__subclasses__()
        while todo:
            cls = todo.pop()
            todo += cls.__subclasses__()
            if vars(cls).get("CACHE") is not None:
                cls.CACHE = None
