"""Row graphs: a person with a new home and two new pets stored with one call, updated, deleted."""
import mysql.connector

from brx_sql import CNXGuard, CNXPool, ColumnAttribute, Execute, MultiForeignAttr, TableBase

NEW = ColumnAttribute("id", 0)  # "id" 0 marks a row object not stored yet


class Home(TableBase):
    TABLE_NAME = "app_homes"
    COLUMN_NAMES = ["id", "street"]
    COLUMN_ATTRIBUTES = {"id": NEW}


class Pet(TableBase):
    TABLE_NAME = "app_pets"
    COLUMN_NAMES = ["id", "name", "owner_id"]


class Person(TableBase):
    TABLE_NAME = "app_persons"
    COLUMN_NAMES = ["id", "name", "home_id"]
    COLUMN_ATTRIBUTES = {"id": NEW, "home_id": ColumnAttribute("home_id", None, True, "app_homes", Home)}
    MULTI_FOREIGN_ATTR = {"pets": MultiForeignAttr("pets", "owner_id", "app_pets", Pet)}
    pets: list[Pet]  # the list attribute, declared for type checkers


# A pet's owner column is a foreign key too: that is how a pet stores its owner's identifier.
Pet.COLUMN_ATTRIBUTES = {"id": NEW, "owner_id": ColumnAttribute("owner_id", None, True, "app_persons", Person)}


def show(pool: CNXPool, title: str) -> None:
    rows = {table: Execute("SELECT * FROM %s ORDER BY id" % table, pool=pool)
            for table in ("app_homes", "app_persons", "app_pets")}
    print(title)
    for table, found in rows.items():
        print("   %-11s %s" % (table, found))


def demo_graph(pool: CNXPool) -> None:
    for table in ("app_pets", "app_persons", "app_homes"):
        Execute("DROP TABLE IF EXISTS %s" % table, pool=pool)
    Execute("CREATE TABLE app_homes (id INT AUTO_INCREMENT PRIMARY KEY, street VARCHAR(40))", pool=pool)
    Execute("CREATE TABLE app_persons (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40), home_id INT)",
            pool=pool)
    Execute("CREATE TABLE app_pets (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40) UNIQUE, owner_id INT)",
            pool=pool)

    ann = Person(name="Ann", home_id=Home(street="1 Elm Road"), pets=[Pet(name="Rex"), Pet(name="Tom")])
    new_id = ann.Insert(pool=pool)  # the home first, then Ann, then her pets: one transaction
    print("inserted Ann as %d, her home as %d, her pets as %s"
          % (new_id, ann["home_id"]["id"], [pet["id"] for pet in ann.pets]))
    show(pool, "after the insert:")

    ann["name"] = "Ann Smith"
    ann.pets[1]["name"] = "Rex"  # a clash with the UNIQUE pet names
    before = [pet["id"] for pet in ann.pets]
    try:
        ann.Update(pool=pool)
    except mysql.connector.IntegrityError as error:
        print("update refused (%s): rolled back, pets keep their ids %s" % (error.msg, before))
    assert [pet["id"] for pet in ann.pets] == before

    ann.pets[1]["name"] = "Kit"
    ann.Update(pool=pool)  # the columns, and her pets deleted and inserted anew
    show(pool, "after the update:")

    with CNXGuard(None, pool) as cnx:  # several operations, one commit
        ann.Delete(cnx)
        ann["home_id"].Delete(cnx)
    show(pool, "after the delete:")
