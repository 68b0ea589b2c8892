"""A small film-rental schema for the set-based reads: nullable keys (a film's original language, a
staff member's boss, a store's manager), a key to its own table (staff.boss_id), a reference cycle between
two tables (a store's manager works at the store), a link table (film_actors) and a three-level chain
(rental -> inventory -> film -> language)."""
from brx_sql import ColumnAttribute, MultiForeignAttr, TableBase


def key(column, table, cls):
    return ColumnAttribute(column, None, True, table, cls)


def table(name, table_name, columns):
    return type(name, (TableBase,), {"TABLE_NAME": table_name, "COLUMN_NAMES": ["id"] + columns,
                                     "COLUMN_ATTRIBUTES": {}, "MULTI_FOREIGN_ATTR": {}})


Language = table("Language", "languages", ["name"])
Actor = table("Actor", "actors", ["name"])
Film = table("Film", "films", ["title", "language_id", "original_language_id"])
FilmActor = table("FilmActor", "film_actors", ["film_id", "actor_id"])
Store = table("Store", "stores", ["name", "manager_id"])
Staff = table("Staff", "staff", ["name", "store_id", "boss_id"])
Inventory = table("Inventory", "inventory", ["film_id", "store_id"])
Rental = table("Rental", "rentals", ["inventory_id", "staff_id"])
Payment = table("Payment", "payments", ["rental_id", "amount"])

Film.COLUMN_ATTRIBUTES = {"language_id": key("language_id", "languages", Language),
                          "original_language_id": key("original_language_id", "languages", Language)}
Film.MULTI_FOREIGN_ATTR = {"film_actors": MultiForeignAttr("film_actors", "film_id", "film_actors", FilmActor)}
FilmActor.COLUMN_ATTRIBUTES = {"film_id": key("film_id", "films", Film), "actor_id": key("actor_id", "actors", Actor)}
Store.COLUMN_ATTRIBUTES = {"manager_id": key("manager_id", "staff", Staff)}
Store.MULTI_FOREIGN_ATTR = {"staff": MultiForeignAttr("staff", "store_id", "staff", Staff)}
Staff.COLUMN_ATTRIBUTES = {"store_id": key("store_id", "stores", Store), "boss_id": key("boss_id", "staff", Staff)}
Staff.MULTI_FOREIGN_ATTR = {"reports": MultiForeignAttr("reports", "boss_id", "staff", Staff)}
Inventory.COLUMN_ATTRIBUTES = {"film_id": key("film_id", "films", Film), "store_id": key("store_id", "stores", Store)}
Rental.COLUMN_ATTRIBUTES = {"inventory_id": key("inventory_id", "inventory", Inventory),
                            "staff_id": key("staff_id", "staff", Staff)}
Rental.MULTI_FOREIGN_ATTR = {"payments": MultiForeignAttr("payments", "rental_id", "payments", Payment)}
Payment.COLUMN_ATTRIBUTES = {"rental_id": key("rental_id", "rentals", Rental)}

SCHEMA = [
    "CREATE TABLE languages (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20))",
    "CREATE TABLE actors (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20))",
    "CREATE TABLE films (id INT AUTO_INCREMENT PRIMARY KEY, title VARCHAR(20), language_id INT NULL,"
    " original_language_id INT NULL)",
    "CREATE TABLE film_actors (id INT AUTO_INCREMENT PRIMARY KEY, film_id INT, actor_id INT)",
    "CREATE TABLE stores (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20), manager_id INT NULL)",
    "CREATE TABLE staff (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20), store_id INT, boss_id INT NULL)",
    "CREATE TABLE inventory (id INT AUTO_INCREMENT PRIMARY KEY, film_id INT, store_id INT)",
    "CREATE TABLE rentals (id INT AUTO_INCREMENT PRIMARY KEY, inventory_id INT, staff_id INT)",
    "CREATE TABLE payments (id INT AUTO_INCREMENT PRIMARY KEY, rental_id INT, amount INT)",
]


def values(rows):
    return ", ".join("(%s)" % ", ".join("NULL" if v is None else repr(v) for v in row) for row in rows)


def create(db, rentals=200):
    """The schema with its rows: 4 languages, 30 actors, 40 films, 3 stores with 9 staff, 120 inventory
    items and `rentals` rentals, each with 0 to 2 payments. Explicit ids; children inserted out of id order."""
    for statement in SCHEMA:
        db.run(statement)
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
