"""Row objects: tables declared as classes, foreign keys read lazily, FillForeign over a small graph."""
from typing import Iterable

from brx_sql import CNXGuard, CNXPool, ColumnAttribute, Execute, MultiForeignAttr, TableBase


class Home(TableBase):
    TABLE_NAME = "rows_homes"
    COLUMN_NAMES = ["id", "street"]


class Pet(TableBase):
    TABLE_NAME = "rows_pets"
    COLUMN_NAMES = ["id", "name", "owner_id", "legs"]


class Person(TableBase):
    TABLE_NAME = "rows_persons"
    COLUMN_NAMES = ["id", "name", "home_id"]
    COLUMN_ATTRIBUTES = {"home_id": ColumnAttribute("home_id", None, True, "rows_homes", Home)}
    # a person's pets: the rows of rows_pets whose owner_id holds the person's id
    MULTI_FOREIGN_ATTR = {"pets": MultiForeignAttr("pets", "owner_id", "rows_pets", Pet)}
    pets: list[Pet]  # the list attribute, declared for type checkers


# Declared once Person exists. Rows point back at the rows that list them: a fill stops at a row it is
# already filling further up.
Pet.COLUMN_ATTRIBUTES = {"owner_id": ColumnAttribute("owner_id", None, True, "rows_persons", Person),
                         "legs": ColumnAttribute("legs", 4)}
Home.MULTI_FOREIGN_ATTR = {"residents": MultiForeignAttr("residents", "home_id", "rows_persons", Person)}

SCHEMA = [
    "CREATE TABLE rows_homes (id INT AUTO_INCREMENT PRIMARY KEY, street VARCHAR(40))",
    "CREATE TABLE rows_persons (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40), home_id INT)",
    "CREATE TABLE rows_pets (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40), owner_id INT, legs INT)",
    "INSERT INTO rows_homes VALUES (1, '1 Elm Road'), (2, '7 Oak Lane')",
    "INSERT INTO rows_persons VALUES (1, 'Ann', 1), (2, 'Bob', 1), (3, 'Cy', 2)",
    "INSERT INTO rows_pets VALUES (1, 'Rex', 1, 4), (2, 'Polly', 1, 2), (3, 'Kit', 2, 4)",
]


def names(rows: Iterable[TableBase]) -> str:
    return ", ".join(row["name"] for row in rows) or "none"


def demo_rows(pool: CNXPool) -> None:
    for table in ("rows_pets", "rows_persons", "rows_homes"):
        Execute("DROP TABLE IF EXISTS %s" % table, pool=pool)
    for statement in SCHEMA:
        Execute(statement, pool=pool)
    # Lookups a row object starts by itself (reading a foreign key or a list attribute) use its class's
    # POOL, or CNXGuard.POOL when that is None.
    for cls in (Home, Person, Pet):
        cls.POOL = pool
    try:
        show(pool)
    finally:
        for cls in (Home, Person, Pet):
            cls.POOL = None


def show(pool: CNXPool) -> None:
    # Row objects by hand: positional values in column order, keywords by name, defaults for the rest.
    pet = Pet(None, "Nemo", legs=0, colour="orange")  # a keyword that is no column becomes an attribute
    print("by hand: %s, owner %s, legs %d, colour %s" % (pet["name"], pet["owner_id"], pet["legs"], pet["colour"]))

    # A selected row holds its foreign key as an identifier until the first read looks it up.
    ann = CNXGuard.Select(1, "rows_persons", Person, pool=pool)
    home = ann["home_id"]
    print("%s lives at %s; read again, the same object: %s" % (ann["name"], home["street"], ann["home_id"] is home))
    # Reading a list attribute loads it (and every foreign key of the row) on first use.
    print("%s's pets: %s" % (ann["name"], names(ann["pets"])))

    # FillForeign: everything Cy's row points at and everything that points at it, deeply, in one transaction.
    cy = CNXGuard.Select(3, "rows_persons", Person, pool=pool)
    cy.FillForeign(pool=pool)
    print("%s's pets: %s; %s's residents: %s" % (cy["name"], names(cy.pets), cy["home_id"]["street"],
                                                 names(cy["home_id"].residents)))
    bob = CNXGuard.Select(2, "rows_persons", Person, pool=pool)
    bob.FillForeign(pool=pool)
    neighbours = [person for person in bob["home_id"].residents if person["id"] != bob["id"]]
    print("%s's neighbours: %s, whose pets are %s" % (bob["name"], names(neighbours), names(neighbours[0].pets)))
    print("Bob's pet %s belongs to %s" % (names(bob.pets), bob.pets[0]["owner_id"]["name"]))
