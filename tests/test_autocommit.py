"""Graph writes on autocommit pools against the real server: a write reaching several rows is still one
transaction (all or nothing, objects put back); a single-row write stays one statement."""
import mysql.connector
import pytest

from brx_sql import MultiForeignAttr
from tables import Home, Person, Pet, counts, graph, heads, ids, texts


@pytest.fixture
def autocommit_pool(pools, dbconfig):
    return pools(**dbconfig, autocommit=True)


def through_list():
    person = graph("rex", "taken")
    return person, [person, person["home_id"], *person.pets]


def through_keys():  # no list: the pet's key reaches a new person, whose key reaches a new home
    pet = Pet(name="taken", owner_id=Person(name="ann", home_id=Home(name="h1")))
    return pet, [pet, pet["owner_id"], pet["owner_id"]["home_id"]]


@pytest.mark.parametrize("make, stored", [(through_list, [1, 1, 3]), (through_keys, [1, 1, 2])],
                         ids=["list", "keys"])
def test_failed_graph_insert_leaves_nothing_and_a_retry_stores_once(tables, autocommit_pool, db, recorder, make,
                                                                    stored):
    db.run("INSERT INTO pets (name) VALUES ('taken')")
    row, reached = make()
    rec = recorder(autocommit_pool)
    with pytest.raises(mysql.connector.IntegrityError):
        row.Insert(pool=rec)
    assert counts(tables) == [0, 0, 1] and ids(*reached) == [0] * len(reached)
    assert texts(rec)[0] == "START TRANSACTION" and rec.calls("rollback") == [("rollback",)]
    next(r for r in reached if r["name"] == "taken")["name"] = "tom"
    row.Insert(pool=autocommit_pool)
    assert counts(tables) == stored and min(ids(*reached)) > 0


def test_failed_update_and_delete_change_nothing(tables, autocommit_pool, db):
    person = graph("rex", "tom")
    person.Insert(pool=autocommit_pool)
    db.run("INSERT INTO pets (name) VALUES ('taken')")
    before = [tables(t) for t in ("homes", "persons", "pets")]
    person["name"] = "changed"
    person.pets[1]["name"] = "taken"
    with pytest.raises(mysql.connector.IntegrityError):
        person.Update(pool=autocommit_pool)  # the row's own UPDATE went first
    assert [tables(t) for t in ("homes", "persons", "pets")] == before
    pet = person.pets[1]
    pet["owner_id"] = Person(name="new")  # stored before the pet's failing UPDATE
    with pytest.raises(mysql.connector.IntegrityError):
        pet.Update(pool=autocommit_pool)
    assert [tables(t) for t in ("homes", "persons", "pets")] == before
    person.MULTI_FOREIGN_ATTR = dict(Person.MULTI_FOREIGN_ATTR, gone=MultiForeignAttr("gone", "x", "no_such", Pet))
    with pytest.raises(mysql.connector.ProgrammingError):
        person.Delete(pool=autocommit_pool)  # pets and toys deleted before the missing table
    assert [tables(t) for t in ("homes", "persons", "pets")] == before


def test_single_row_writes_stay_single_statements(tables, autocommit_pool, recorder):
    rec = recorder(autocommit_pool)
    home = Home(0, "alone")
    home.Insert(pool=rec)
    home["name"] = "renamed"
    home.Update(pool=rec)
    home.Delete(pool=rec)
    assert heads(rec) == ["INSERT INTO `homes`", "UPDATE `homes` SET `name` = %%s WHERE id = %d" % home["id"],
                          "DELETE FROM `homes` WHERE id = %s"]
    assert rec.calls("commit", "rollback") == []  # autocommit did it: no open transaction to end
    assert tables("homes") == []


def test_other_pools_are_asked_through_the_connection(tables, dbconfig, recorder):
    class PlainPool:
        def __init__(self):
            self.idle = []

        def Get(self):
            return self.idle.pop() if self.idle else mysql.connector.connect(**dbconfig, autocommit=True)

        def Put(self, cnx):
            self.idle.append(cnx)

    lender = PlainPool()
    person = graph("rex", "rex")  # the second pet breaks the unique key
    with pytest.raises(mysql.connector.IntegrityError):
        person.Insert(pool=lender)
    assert counts(tables) == [0, 0, 0] and person["id"] == 0
    for cnx in lender.idle:
        cnx.close()
