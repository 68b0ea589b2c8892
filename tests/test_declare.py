"""brx-sql-declare against the real server: what it prints for the project's schemas, for a published sample
database (support/chinook.sql) and for tables it must leave out runs as printed, and its classes store and read
row graphs."""
import pathlib
import subprocess
import sys

import pytest

import brx_sql_declare
import rental
import shop
from brx_sql import CNXGuard, FillForeignMany, Query, TableBase
from support.doc_blocks import python_blocks
from tables import Home, Person, Pet, Toy

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEAD = "# Row classes written by brx-sql-declare"


def keys(cls):
    return {name: attr.foreignTableName for name, attr in cls.COLUMN_ATTRIBUTES.items() if attr.isForeignKey}


def add_keys(db, classes):
    for cls in classes:
        for column, target in keys(cls).items():
            db.run("ALTER TABLE %s ADD FOREIGN KEY (%s) REFERENCES %s (id)" % (cls.TABLE_NAME, column, target))


def run_file(db, path):
    for statement in path.read_text(encoding="utf-8").split(";\n"):
        if statement.strip():
            db.run(statement)


LEFT_OUT = ["CREATE TABLE notes (note_id INT AUTO_INCREMENT PRIMARY KEY)", "CREATE TABLE codes (id CHAR(3) PRIMARY KEY)",
            "CREATE TABLE fixed (id INT PRIMARY KEY)", "CREATE TABLE loose (id INT AUTO_INCREMENT, UNIQUE (id))",
            "CREATE TABLE items (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(9), note_id INT, hidden INT INVISIBLE,"
            " fixed_id INT, FOREIGN KEY (note_id) REFERENCES notes (note_id), FOREIGN KEY (fixed_id) REFERENCES fixed (id))",
            "CREATE TABLE tags (item_id INT, tag CHAR(9), PRIMARY KEY (item_id, tag), FOREIGN KEY (item_id) REFERENCES"
            " items (id))", "CREATE VIEW named AS SELECT id, name FROM items"]
SETUPS = {
    "shop": lambda db, request: shop.create(db),
    "rental": lambda db, request: (rental.create(db, rentals=20), add_keys(db, rental.CLASSES.values())),
    "tables": lambda db, request: (request.getfixturevalue("tables"), add_keys(db, [Person, Pet, Toy])),
    "chinook": lambda db, request: run_file(db, ROOT / "tests" / "support" / "chinook.sql"),
    "left out": lambda db, request: [db.run(statement) for statement in LEFT_OUT],
}
# schema, the classes written by hand for it, a graph to insert, where to start reading, a path from there and
# the value at its end, the tables left out with the reason, other lines the output must hold
CASES = [
    ("shop", shop.CLASSES.values(), "InvoiceLines(quantity=2, invoice_id=Invoices(total=1, customer_id=Customers("
     "name='c', support_rep_id=Employees(name='boss', reports_to=Employees(name='top')))), track_id=Tracks(name='t',"
     " price=1, album_id=Albums(title='a', artist_id=Artists(name='x'))))", "employees WHERE reports_to IS NULL",
     "employees.customers.invoices.invoice_lines.track_id.album_id.artist_id.name", "x", {},
     ['Employees.COLUMN_ATTRIBUTES["reports_to"] = ColumnAttribute(']),
    ("rental", rental.CLASSES.values(), "Payments(amount=5, rental_id=Rentals(inventory_id=Inventory(film_id=Films("
     "title='f', language_id=Languages(name='en')), store_id=Stores(name='s')), staff_id=Staff(name='b', store_id="
     "Stores(name='t'), boss_id=Staff(name='a', store_id=Stores(name='u')))))", "payments WHERE amount = 5",
     "rental_id.staff_id.boss_id.store_id.name", "u", {}, ['    films_by_original_language_id: "list[Films]"']),
    ("tables", [Home, Person, Pet, Toy], "Pets(name='rex', owner_id=Persons(name='ann', home_id=Homes(name='h')))",
     "homes", "persons.pets.name", "rex", {}, []),
    ("chinook", [], "ChinookPlaylisttrack(playlist_id=ChinookPlaylist(name='new'), track_id=1)",
     "chinook_playlist WHERE name = 'new'", "chinook_playlisttrack.track_id.album_id.artist_id.name", "AC/DC", {}, []),
    ("left out", [], "Items(name='i')", "items", "name", "i",
     {"codes": "id is char, not an integer", "fixed": "id is not AUTO_INCREMENT", "loose": "no primary key",
      "named": "a view", "notes": "first column is note_id, not id", "tags": "composite primary key (item_id, tag)"},
     ["    #   note_id: a key to notes.note_id, not to its id", "    #   fixed_id: a key to fixed, which is not declared here"]),
]


def arguments(server, database, *tables):
    settings = server.settings()
    where = ["--unix-socket", settings["unix_socket"]] if "unix_socket" in settings else [
        "--host", settings["host"], "--port", str(settings["port"])]
    return where + ["--user", settings["user"], "--password", settings["password"], "--database", database, *tables]


@pytest.mark.parametrize("schema, by_hand, graph, start, path, value, left_out, lines", CASES,
                         ids=[case[0] for case in CASES])
def test_the_printed_classes_run_and_store_and_read_graphs(schema, by_hand, graph, start, path, value, left_out, lines,
                                                            server, clean_databases, db, pool, request, capsys):
    SETUPS[schema](db, request)
    if schema == "left out":  # the console script itself, as installed
        done = subprocess.run([str(pathlib.Path(sys.executable).parent / "brx-sql-declare"),
                               *arguments(server, clean_databases[0])], capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
        source = done.stdout
    else:
        assert brx_sql_declare.main(arguments(server, clean_databases[0])) == 0
        source = capsys.readouterr().out
    lines = lines + ["#   %s: %s" % item for item in left_out.items()]
    assert source.startswith(HEAD) and set(lines) <= set(source.splitlines())
    namespace = {}
    exec(source, namespace)
    made = {cls.TABLE_NAME: cls for cls in namespace.values()
            if isinstance(cls, type) and issubclass(cls, TableBase) and cls is not TableBase}
    assert set(made) | set(left_out) == {row[0] for row in db.query("SHOW FULL TABLES")}
    for cls in by_hand:
        assert (made[cls.TABLE_NAME].COLUMN_NAMES, keys(made[cls.TABLE_NAME])) == (cls.COLUMN_NAMES, keys(cls))
    # every key points at the class of its table, and gives that class one list of the rows pointing at it
    for cls in made.values():
        assert cls.COLUMN_ATTRIBUTES["id"].default == 0
        assert all(made[attr.foreignTableName] is attr.foreignClass for attr in cls.COLUMN_ATTRIBUTES.values()
                   if attr.isForeignKey)
    assert sorted((cls.TABLE_NAME, attr.foreign_attr_table, attr.foreign_name) for cls in made.values()
                  for attr in cls.MULTI_FOREIGN_ATTR.values() if attr._class is made[attr.foreign_attr_table]) == sorted(
        (target, cls.TABLE_NAME, column) for cls in made.values() for column, target in keys(cls).items())

    eval(graph, namespace).Insert(pool=pool)
    table = start.split()[0]
    rows = Query("SELECT * FROM " + start, None, made[table], pool=pool)
    *steps, column = path.split(".")
    if steps:
        FillForeignMany(rows, [".".join(steps)], pool=pool)
    row = rows[0]
    for step in steps:
        row = row[step][0] if isinstance(row[step], list) else row[step]
    assert row[column] == value


@pytest.mark.parametrize("extra, status, message", [
    (["pets", "homes"], 0, "    #   owner_id: a key to persons, which is not declared here"),  # on stdout
    (["--database", "no_such_db"], 1, "Unknown database 'no_such_db'"), (["homes", "nope"], 1, "has no table nope")])
def test_tables_named_on_the_command_line(extra, status, message, server, clean_databases, tables, db, capsys):
    add_keys(db, [Person, Pet, Toy])
    assert brx_sql_declare.main(arguments(server, clean_databases[0]) + extra) == status
    out, err = capsys.readouterr()
    assert message in (err if status else out.splitlines())


def test_the_guide_shows_what_it_prints(server, clean_databases, pools, capsys):
    """The guide's shop, created as the guide creates it: its output is the guide's example of it."""
    blocks = [code for _, code in python_blocks((ROOT / "docs" / "guide.md").read_text(encoding="utf-8"))]
    CNXGuard.POOL = pools(**dict(server.settings(), database=clean_databases[0]))
    exec(next(code for code in blocks if "CREATE TABLE categories" in code), {})
    assert brx_sql_declare.main(arguments(server, clean_databases[0])) == 0
    assert capsys.readouterr().out == next(code for code in blocks if code.startswith(HEAD))
