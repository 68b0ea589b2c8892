"""TableBase.Insert of row graphs against the real server: order, one transaction, rollback that
puts the row objects back, stored rows that store only what is new, bad input."""
import mysql.connector
import pytest

from brx_sql import Cache, CNXGuard, MultiForeignAttr
from tables import ID, Home, Person, Pet, Toy, counts, executed, graph, heads, ids, key, texts


def test_graph_inserts_referenced_rows_first_on_one_connection(tables, pool, recorder):
    rec = recorder(pool)
    person = graph("rex", "tom")
    home = person["home_id"]
    new_id = person.Insert(pool=rec)
    assert new_id == person["id"] > 0 and person["home_id"] is home  # the store keeps the row object
    # the two new pets go as one INSERT ... RETURNING id
    assert heads(rec) == ["INSERT INTO `homes`", "INSERT INTO `persons`", "INSERT INTO `pets`"]
    assert rec.calls("get", "commit", "put", "rollback") == [("get",), ("commit",), ("put",)]
    assert tables("homes") == [(home["id"], "h1")]
    assert tables("persons") == [(new_id, "ann", home["id"])]
    assert tables("pets") == [(pet["id"], pet["name"], new_id) for pet in person.pets]
    assert all(pet["owner_id"] is person for pet in person.pets)


def test_failure_in_the_middle_rolls_back_and_restores_objects(tables, pool, db, recorder):
    db.run("INSERT INTO pets (name) VALUES ('taken')")
    Person.CACHE = Pet.CACHE = cache = Cache(pool)
    rec = recorder(pool)
    person = graph("rex", "taken", "tom")
    with pytest.raises(mysql.connector.IntegrityError):
        person.Insert(pool=rec)
    assert rec.calls("commit", "rollback") == [("rollback",)]
    assert counts(tables) == [0, 0, 1]
    assert ids(person, person["home_id"], *person.pets) == [0] * 5
    assert cache._Cache__obj_dict == {}  # registrations undone
    person.pets[1]["name"] = "kit"  # fixed and retried: the whole graph is stored
    person.Insert(pool=pool)
    assert counts(tables) == [1, 1, 4]
    assert min(ids(person, person["home_id"], *person.pets)) > 0 and len(cache.CachedTable("pets")) == 3


def test_caller_connection_owns_the_transaction(tables, pool, db):
    db.run("INSERT INTO pets (name) VALUES ('taken')")
    person = graph("taken")
    with pytest.raises(mysql.connector.IntegrityError):
        with CNXGuard(None, pool) as cnx:
            person.Insert(cnx)
    assert tables("persons") == [] and person["id"] > 0  # left as written: the caller decides


def test_insert_of_stored_row_stores_only_what_is_new(tables, pool, db, recorder):
    person = graph("rex")
    person.Insert(pool=pool)
    db.run("INSERT INTO toys (name, owner_id) VALUES ('ball', %s)", (person["id"],))
    person.pets.append(Pet(name="tom"))
    person["name"] = "changed"
    rec = recorder(pool)
    assert person.Insert(pool=rec) == person["id"]
    assert heads(rec) == ["INSERT INTO `pets`"]
    assert tables("persons") == [(person["id"], "ann", person["home_id"]["id"])]  # not rewritten
    assert [row[1:] for row in tables("pets")] == [("rex", person["id"]), ("tom", person["id"])]
    assert [row[1:] for row in tables("toys")] == [("ball", person["id"])]  # unloaded: untouched
    home = person["home_id"]
    assert home.Insert(pool=pool) == home["id"]  # no foreign key column: no error either


@pytest.mark.parametrize("breaks, error, message", [
    # neither a row, an identifier nor NULL: the message names the column and what it takes
    (lambda p: p.__setitem__("home_id", "h1"), TypeError,
     r"^Column 'home_id' of Person is a foreign key: it takes the referenced row object, its integer id or None, "
     r"not str 'h1'$"),
    (lambda p: p.__setitem__("id", None), TypeError, None),
    (lambda p: p.__setitem__("id", "0"), TypeError, None),
    (lambda p: p["home_id"].__setitem__("id", None), TypeError, None),
    (lambda p: setattr(p, "MULTI_FOREIGN_ATTR", None), AttributeError, None),
])
def test_bad_input_leaves_nothing_behind(tables, pool, breaks, error, message):
    person = graph("rex")
    breaks(person)
    with pytest.raises(error, match=message):
        person.Insert(pool=pool)
    assert counts(tables) == [0, 0, 0]
    assert all(row["id"] in (0, None, "0") for row in (person, person.pets[0]))


def test_rows_referring_to_each_other_fail_cleanly(tables, pool):
    first, second = Person(name="a"), Person(name="b")
    first["home_id"], second["home_id"] = second, first  # homes made of persons: a ring
    first.COLUMN_ATTRIBUTES = dict(ID, home_id=key("home_id", "persons", Person))
    second.COLUMN_ATTRIBUTES = first.COLUMN_ATTRIBUTES
    with pytest.raises(RecursionError, match=r"^rows not stored yet refer to each other in a cycle of foreign keys "
                                             r"\(Person -> Person -> Person\)"):
        first.Insert(pool=pool)
    assert tables("persons") == []
    # A ring through a list is none: the new home is stored first, then its residents, the person among them.
    person = Person(name="c", home_id=Home(name="h"))
    person["home_id"].MULTI_FOREIGN_ATTR = {"residents": MultiForeignAttr("residents", "home_id", "persons", Person)}
    person["home_id"].residents = [person, Person(name="d")]
    person.Insert(pool=pool)
    assert [row[1:] for row in tables("persons")] == [("c", person["home_id"]["id"]), ("d", person["home_id"]["id"])]


def test_a_list_longer_than_the_packet_limit_goes_in_statements_under_it(tables, pool, recorder, db):
    db.run("ALTER TABLE toys MODIFY name MEDIUMTEXT")
    limit, rec = db.query("SELECT @@max_allowed_packet")[0][0], recorder(pool)
    people = [Person(name="p%d" % n, toys=[Toy(name="%03d" % i + "x" * 45000) for i in range(count)])
              for n, count in enumerate((limit // 40000, 12, 3))]
    for person in people:  # the first list alone takes more than the limit
        person.Insert(pool=rec)
    sizes = [sum(len(name) for name in params[1::3]) for text, params in executed(rec) if "`toys`" in text]
    assert len(sizes) > 3 and max(sizes) < limit and sum(sizes) == sum(len(t["name"]) for p in people for t in p.toys)
    assert texts(rec).count("SELECT @@max_allowed_packet") == 1  # asked once per connection
    assert db.query("SELECT id, LEFT(name, 3), owner_id FROM toys ORDER BY id") == [
        (t["id"], t["name"][:3], p["id"]) for p in people for t in p.toys]
