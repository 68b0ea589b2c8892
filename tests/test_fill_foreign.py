"""TableBase.FillForeign against the real server: a deep fill of a graph whose rows point back ends, fills
every row it reaches, in one transaction; shallow fills, present attributes, rows reached twice, bad input."""
import re

import mysql.connector
import pytest

from brx_sql import CNXGuard, FillForeignMany, MultiForeignAttr, TableBase
from tables import key as foreign, run_threads, store, texts


def table(name, columns):
    """A row class for the table "<name>s" with columns id, name and `columns`."""
    return type(name, (TableBase,), {"TABLE_NAME": name.lower() + "s", "COLUMN_NAMES": ["id", "name"] + columns})


# Each list attribute is held by rows whose foreign key points back: homes <-> persons (by home_id),
# persons <-> pets, pets <-> toys.
Home, Person = table("Home", []), table("Person", ["home_id", "work_id"])
Pet, Toy = table("Pet", ["owner_id"]), table("Toy", ["pet_id"])
Home.MULTI_FOREIGN_ATTR = {"residents": MultiForeignAttr("residents", "home_id", "persons", Person)}
Person.COLUMN_ATTRIBUTES = {"home_id": foreign("home_id", "homes", Home), "work_id": foreign("work_id", "homes", Home)}
Person.MULTI_FOREIGN_ATTR = {"pets": MultiForeignAttr("pets", "owner_id", "pets", Pet)}
Pet.COLUMN_ATTRIBUTES = {"owner_id": foreign("owner_id", "persons", Person)}
Pet.MULTI_FOREIGN_ATTR = {"toys": MultiForeignAttr("toys", "pet_id", "toys", Toy)}
Toy.COLUMN_ATTRIBUTES = {"pet_id": foreign("pet_id", "pets", Pet)}

SCHEMA = ["CREATE TABLE %s (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20)%s)" % pair for pair in (
    ("homes", ""), ("persons", ", home_id INT, work_id INT"), ("pets", ", owner_id INT"), ("toys", ", pet_id INT"))] + [
    "INSERT INTO homes VALUES (1, 'elm'), (2, 'oak')",
    "INSERT INTO persons VALUES (1, 'ann', 1, 2), (2, 'bob', 1, 2), (3, 'cy', 2, 2)",
    "INSERT INTO pets VALUES (1, 'rex', 1), (2, 'tom', 1), (3, 'kit', 2)",
    "INSERT INTO toys VALUES (1, 'ball', 1), (2, 'bone', 1), (3, 'rope', 3)",
]


@pytest.fixture
def tables(db):
    for statement in SCHEMA:
        db.run(statement)


def graph_of(row):
    """Every row object reachable from `row` through resolved columns and loaded list attributes."""
    found, todo = {}, [row]
    while todo:
        row = todo.pop()
        if id(row) not in found:
            found[id(row)] = row
            todo += [value for value in store(row).values() if isinstance(value, TableBase)]
            todo += [member for attr in row.MULTI_FOREIGN_ATTR for member in vars(row).get(attr, ())]
    return list(found.values())


def is_filled(row):
    return (all(isinstance(store(row)[column], TableBase) for column in row.COLUMN_ATTRIBUTES)
            and all(attr in vars(row) for attr in row.MULTI_FOREIGN_ATTR))


def names(rows):
    return [row["name"] for row in rows]


def test_deep_fill_of_a_graph_that_points_back(tables, pool, recorder):
    rec = recorder(pool)
    ann = CNXGuard.Select(1, "persons", Person, pool=pool)
    assert ann.FillForeign(pool=rec) is None
    home, work = ann["home_id"], ann["work_id"]
    assert (home["name"], names(home.residents), work["name"], names(work.residents)) == (
        "elm", ["ann", "bob"], "oak", ["cy"])
    assert names(ann.pets) == ["rex", "tom"] and [names(pet.toys) for pet in ann.pets] == [["ball", "bone"], []]
    assert all(pet["owner_id"]["id"] == 1 for pet in ann.pets)
    bob = home.residents[1]
    assert names(bob.pets) == ["kit"] and names(bob.pets[0].toys) == ["rope"]
    # Every row reached is filled through at least one of its row objects; a fresh copy of a row
    # that was being filled higher up (ann as her home's resident) is where the fill stopped.
    reached = graph_of(ann)
    keys = {(row.TABLE_NAME, row["id"]) for row in reached}
    assert keys == {(table, i) for table in ("homes", "persons", "pets", "toys") for i in (1, 2, 3)} - {("homes", 3)}
    assert all(any(is_filled(row) for row in reached if (row.TABLE_NAME, row["id"]) == key) for key in keys)
    assert not is_filled(home.residents[0])
    # Foreign keys and list attributes alike were read on the one borrowed connection, committed once.
    assert rec.calls("get", "commit", "rollback", "put") == [("get",), ("commit",), ("put",)]
    assert {"SELECT * FROM `homes` WHERE id = 1", "SELECT * FROM `pets` WHERE `owner_id` = 1"} <= set(texts(rec))


def test_shallow_fill_and_present_attributes(tables, pool, recorder, monkeypatch):
    rec = recorder(pool)
    ann = Person(1, "ann", 1, 2)
    ann.FillForeign(False, pool=rec)
    assert texts(rec) == ["SELECT * FROM `homes` WHERE id = 1", "SELECT * FROM `homes` WHERE id = 2",
                          "SELECT * FROM `pets` WHERE `owner_id` = 1"]
    # nothing reached was filled
    assert "residents" not in vars(ann["home_id"]) and all("toys" not in vars(pet) for pet in ann.pets)
    assert [store(pet)["owner_id"] for pet in ann.pets] == [1, 1]
    # present attributes (loaded, set by a keyword, even empty) are never reloaded, but their
    # members are filled when deep
    rec.log.clear()
    new_pet = Pet(9, "new", None)
    cy = Person(3, "cy", Home(2, "oak", residents=[]), Home(2, "oak", residents=[]), pets=[new_pet])
    new_pet["owner_id"] = cy
    ann.FillForeign(False, pool=rec)
    cy.FillForeign(pool=rec)
    assert texts(rec) == ["SELECT * FROM `toys` WHERE `pet_id` = 9"] and cy.pets[0].toys == []
    assert rec.calls("get", "commit", "rollback", "put") == [("get",), ("put",), ("get",), ("commit",), ("put",)]
    # rows built by hand, with no identifier yet, that point back at each other: the fill ends
    dan = Person(0, "dan", None, None, pets=[])
    dan["home_id"] = dan["work_id"] = Home(0, "new", residents=[dan])
    dan.FillForeign(pool=rec)
    assert len(texts(rec)) == 1
    # an item read of a list attribute fills shallowly, once, through the row's pool; an empty list stays
    rec.log.clear()
    monkeypatch.setattr(Person, "POOL", rec)
    bob, cy = Person(2, "bob", 1, 2), Person(3, "cy", 2, 2)
    assert names(bob["pets"]) == ["kit"] and bob["pets"] is bob.pets and cy["pets"] == [] and cy["pets"] is cy.pets
    assert len(texts(rec)) == 6 and "residents" not in vars(bob["home_id"])  # 2 lookups + 1 list each


def test_fill_joins_the_callers_transaction(tables, pool, db):
    with CNXGuard(None, pool) as cnx:
        home_id = CNXGuard.Insert("homes", ["id", "name"], [None, "new"], cnx)
        person_id = CNXGuard.Insert("persons", ["id", "name", "home_id", "work_id"], [None, "dan", home_id, 1], cnx)
        CNXGuard.Insert("pets", ["id", "name", "owner_id"], [None, "fin", person_id], cnx)
        dan = CNXGuard.Select(person_id, "persons", Person, cnx)
        dan.FillForeign(True, cnx)  # sees the rows not committed yet
        assert dan["home_id"]["name"] == "new" and names(dan["home_id"].residents) == ["dan"]
        assert names(dan.pets) == ["fin"] and dan.pets[0].toys == []
        assert db.query("SELECT name FROM persons WHERE id = %s", (person_id,)) == []
    assert db.query("SELECT name FROM persons WHERE id = %s", (person_id,)) == [("dan",)]


@pytest.mark.parametrize("row_id", [0, -1])
@pytest.mark.parametrize("read", [lambda row, rec: row["pets"], lambda row, rec: row.FillForeign(pool=rec) or row.pets,
                                  lambda row, rec: FillForeignMany([row], ["pets.toys"], pool=rec)[0].pets],
                         ids=["item read", "FillForeign", "FillForeignMany"])
def test_a_row_not_stored_yet_has_no_stored_rows(tables, pool, recorder, db, monkeypatch, read, row_id):
    db.run("INSERT INTO pets VALUES (9, 'stray', 0)")  # a key of 0 points at no row
    rec = recorder(pool)
    monkeypatch.setattr(Person, "POOL", rec)
    row = Person(row_id, "new", None, None)
    assert read(row, rec) == [] and texts(rec) == []
    row.Delete(pool=rec)
    assert db.query("SELECT name FROM pets WHERE owner_id = 0") == [("stray",)]


class Triples(dict):
    def items(self):
        return [("pets", Person.MULTI_FOREIGN_ATTR["pets"], 3)]


BAD = [
    ({"work_id": "2"}, AttributeError, "'str' object has no attribute 'FillForeign'"),
    ({"id": None}, TypeError, "id must be an integer, not NoneType (None), in TableBase.FillForeign"),
    ({"id": "1"}, TypeError, "id must be an integer, not str ('1'), in TableBase.FillForeign: convert text"),
    ({"MULTI_FOREIGN_ATTR": None}, AttributeError, "'NoneType' object has no attribute 'items'"),
    ({"MULTI_FOREIGN_ATTR": {1: None}}, TypeError, "hasattr(): attribute name must be string"),
    ({"MULTI_FOREIGN_ATTR": Triples()}, ValueError, "too many values to unpack (expected 2)"),
    ({"MULTI_FOREIGN_ATTR": {"pets": MultiForeignAttr("pets", "owner_id", "no_such", Pet)}},
     mysql.connector.ProgrammingError, "no_such"),
]


@pytest.mark.parametrize("settings, error, message", BAD, ids=[m for _, _, m in BAD])
def test_bad_input_fails_cleanly(tables, pool, recorder, db, settings, error, message):
    rec, row = recorder(pool), Person(1, "ann", 1, 2)
    for name, value in settings.items():  # class settings on the row object itself, columns through the row
        setattr(row, name, value) if name.isupper() else row.__setitem__(name, value)
    with pytest.raises(error, match=re.escape(message)) as caught:
        row.FillForeign(pool=rec)
    assert "brx_sql.TableBase.FillForeign" in [entry.frame.code.name for entry in caught.traceback]
    assert rec.calls("commit") == [] and rec.log[-1] == ("put",) and "pets" not in vars(row)
    if error is AttributeError and "FillForeign" in message:  # a shallow fill does not recurse into it
        row.FillForeign(False, pool=rec)
        assert names(row.pets) == ["rex", "tom"]
    assert db.query("SELECT COUNT(*) FROM pets") == [(3,)]


def test_threads_fill_their_own_copies(tables, pool):
    found = []

    def fill():
        ann = CNXGuard.Select(1, "persons", Person, pool=pool)
        ann.FillForeign(pool=pool)
        found.append([names(pet.toys) for pet in ann.pets] + [names(ann["home_id"].residents[1].pets)])

    run_threads(lambda _: fill(), range(4))
    assert found == [[["ball", "bone"], [], ["kit"]]] * 4
