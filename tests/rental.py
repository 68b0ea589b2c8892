"""A small film-rental schema for the set-based reads: nullable keys (a film's original language, a
staff member's boss, a store's manager), a key to its own table (staff.boss_id), a reference cycle between
two tables (a store's manager works at the store), a link table (film_actors) and a three-level chain
(rental -> inventory -> film -> language)."""
from brx_sql import MultiForeignAttr, TableBase
from tables import key

# table: (class name, its columns after "id", its foreign keys as column -> table)
TABLES = {
    "languages": ("Language", "name VARCHAR(20)", {}),
    "actors": ("Actor", "name VARCHAR(20)", {}),
    "films": ("Film", "title VARCHAR(20), language_id INT NULL, original_language_id INT NULL",
              {"language_id": "languages", "original_language_id": "languages"}),
    "film_actors": ("FilmActor", "film_id INT, actor_id INT", {"film_id": "films", "actor_id": "actors"}),
    "stores": ("Store", "name VARCHAR(20), manager_id INT NULL", {"manager_id": "staff"}),
    "staff": ("Staff", "name VARCHAR(20), store_id INT, boss_id INT NULL", {"store_id": "stores", "boss_id": "staff"}),
    "inventory": ("Inventory", "film_id INT, store_id INT", {"film_id": "films", "store_id": "stores"}),
    "rentals": ("Rental", "inventory_id INT, staff_id INT", {"inventory_id": "inventory", "staff_id": "staff"}),
    "payments": ("Payment", "rental_id INT, amount INT", {"rental_id": "rentals"}),
}
CLASSES = {table: type(name, (TableBase,), {"TABLE_NAME": table, "MULTI_FOREIGN_ATTR": {}, "COLUMN_NAMES": ["id"] + [
    column.split()[0] for column in columns.split(", ")]}) for table, (name, columns, _) in TABLES.items()}
for table, (_, _, keys) in TABLES.items():
    CLASSES[table].COLUMN_ATTRIBUTES = {c: key(c, target, CLASSES[target]) for c, target in keys.items()}
# owner table, list attribute, the table of its rows and their key column
for owner, attr, table, column in [("films", "film_actors", "film_actors", "film_id"),
                                   ("stores", "staff", "staff", "store_id"), ("staff", "reports", "staff", "boss_id"),
                                   ("rentals", "payments", "payments", "rental_id")]:
    CLASSES[owner].MULTI_FOREIGN_ATTR = {attr: MultiForeignAttr(attr, column, table, CLASSES[table])}
Language, Actor, Film, FilmActor, Store, Staff, Inventory, Rental, Payment = CLASSES.values()


def values(rows):
    return ", ".join("(%s)" % ", ".join("NULL" if v is None else repr(v) for v in row) for row in rows)


def create(db, rentals=200):
    """The schema with its rows: 4 languages, 30 actors, 40 films, 3 stores with 9 staff, 120 inventory
    items and `rentals` rentals, each with 0 to 2 payments. Explicit ids; children inserted out of id order."""
    for table, (_, columns, _) in TABLES.items():
        db.run("CREATE TABLE %s (id INT AUTO_INCREMENT PRIMARY KEY, %s)" % (table, columns))
    data = {
        "languages": [(i, "lang %d" % i) for i in range(1, 5)],
        "actors": [(i, "actor %d" % i) for i in range(1, 31)],
        "films": [(i, "film %d" % i, None if i % 9 == 0 else 1 + i % 4, 2 if i % 3 == 0 else None)
                  for i in range(1, 41)],
        # film 40 has no actors; links listed in reverse id order
        "film_actors": [(i, 1 + (i - 1) % 39, 1 + (i * 7) % 30) for i in range(150, 0, -1)],
        "stores": [(1, "north", 1), (2, "south", 5), (3, "empty", None)],
        # staff 1 and 5 manage the stores they work at; staff 4 works at a store managed by 1
        "staff": [(1, "ann", 1, None), (2, "bob", 1, 1), (3, "cy", 1, 2), (4, "dee", 1, 3),
                  (5, "eve", 2, None), (6, "fay", 2, 5), (7, "gus", 2, 5), (8, "hal", 2, 7), (9, "ivy", 1, 1)],
        "inventory": [(i, 1 + i % 40, 1 + i % 2) for i in range(1, 121)],
        "rentals": [(i, 1 + (i * 13) % 120, 1 + i % 9) for i in range(1, rentals + 1)],
    }
    payments, pid = [], 1
    for rental in range(1, rentals + 1):
        for _ in range(rental % 3):
            payments.append((pid, rental, rental * 10 + pid % 7))
            pid += 1
    data["payments"] = list(reversed(payments))
    for name, rows in data.items():
        for start in range(0, len(rows), 1000):
            db.run("INSERT INTO %s VALUES %s" % (name, values(rows[start:start + 1000])))
