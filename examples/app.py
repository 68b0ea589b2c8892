"""brx_sql example application.

Connects to a local MariaDB server through a connection pool and walks through what the module
does, one section per feature: each section is a `demo_<name>(pool)` function in
examples/demo_<name>.py, run in the order of SECTIONS when its file exists. A section gets the
pool (also set as the default `CNXGuard.POOL`), creates the tables it needs (anew on each run)
and prints what it shows.

Connection settings come from the environment: BRX_DB_SOCKET (default /run/mysqld/mysqld.sock)
or BRX_DB_HOST and BRX_DB_PORT; BRX_DB_USER (root), BRX_DB_PASSWORD (empty), BRX_DB_NAME (brx_example,
created when it does not exist yet).
"""
import importlib
import os
import sys
from typing import Callable, Iterable, Mapping, Optional

import brx_sql

SECTIONS = ("connections", "statements", "rows", "cache", "graph")


def connection_settings(environ: Mapping[str, str] = os.environ) -> dict[str, object]:
    settings: dict[str, object] = {
        "user": environ.get("BRX_DB_USER", "root"),
        "password": environ.get("BRX_DB_PASSWORD", ""),
        "database": environ.get("BRX_DB_NAME", "brx_example"),
    }
    if environ.get("BRX_DB_HOST"):
        settings["host"] = environ["BRX_DB_HOST"]
        settings["port"] = int(environ.get("BRX_DB_PORT", "3306"))
    else:
        settings["unix_socket"] = environ.get("BRX_DB_SOCKET", "/run/mysqld/mysqld.sock")
    return settings


Demo = Callable[[brx_sql.CNXPool], None]


def load_sections(names: Iterable[str] = SECTIONS) -> list[tuple[str, Demo]]:
    """The demo functions of the sections present, in order."""
    found = []
    for name in names:
        module_name = "demo_" + name
        try:
            module = importlib.import_module(module_name)
        except ModuleNotFoundError as error:
            if error.name == module_name:
                continue  # this feature has no section yet
            raise
        found.append((name, getattr(module, module_name)))
    return found


def create_database(settings: dict[str, object]) -> None:
    """Creates the database the settings name, unless it exists, on a connection without one."""
    server = {key: value for key, value in settings.items() if key != "database"}
    name = str(settings["database"]).replace("`", "``")  # a quoted identifier: backticks doubled
    brx_sql.Execute("CREATE DATABASE IF NOT EXISTS `%s`" % name, pool=brx_sql.CNXPool(**server))


def main(settings: Optional[dict[str, object]] = None) -> None:
    settings = settings or connection_settings()
    create_database(settings)
    pool = brx_sql.CNXPool(**settings)
    brx_sql.CNXGuard.POOL = pool
    try:
        for name, demo in load_sections():
            print("\n=== %s ===" % name)
            demo(pool)
    finally:
        brx_sql.CNXGuard.POOL = None
    print("\nall sections done")


if __name__ == "__main__":
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    main()
