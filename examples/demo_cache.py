"""Cache: whole tables in memory as row objects, reads without queries, foreign keys through the cache."""
from typing import Any, Optional, Sequence

from brx_sql import Cache, CNXGuard, CNXPool, ColumnAttribute, TableBase


class City(TableBase):
    TABLE_NAME = "app_cities"
    COLUMN_NAMES = ["id", "name", "country"]


class Person(TableBase):
    TABLE_NAME = "app_people"
    COLUMN_NAMES = ["id", "name", "city_id"]
    COLUMN_ATTRIBUTES = {"city_id": ColumnAttribute("city_id", None, True, "app_cities", City)}


class CountingPool:
    """Passes Get/Put to a real pool and counts the connections borrowed (one per query here)."""

    def __init__(self, pool: CNXPool) -> None:
        self.pool, self.borrowed = pool, 0

    def Get(self) -> Any:
        self.borrowed += 1
        return self.pool.Get()

    def Put(self, cnx: Any) -> None:
        self.pool.Put(cnx)


def run(statement: str, params: Optional[Sequence[object]] = None) -> None:
    with CNXGuard() as cnx:
        cnx.cursor().execute(statement, params)


def make_tables() -> None:
    run("DROP TABLE IF EXISTS app_people")
    run("DROP TABLE IF EXISTS app_cities")
    run("CREATE TABLE app_cities (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40), country VARCHAR(40))")
    run("CREATE TABLE app_people (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40), city_id INT)")
    run("INSERT INTO app_cities (name, country) VALUES ('Lyon', 'France'), ('Porto', 'Portugal'),"
        " ('Graz', 'Austria')")
    # the server chooses the ids (a cluster steps them): each person's city is found by name
    for name, city in (("ana", "Porto"), ("ben", "Lyon"), ("cleo", "Porto"), ("dan", "Graz")):
        run("INSERT INTO app_people (name, city_id) SELECT %s, id FROM app_cities WHERE name = %s",
            (name, city))


def demo_cache(pool: CNXPool) -> None:
    make_tables()
    counting = CountingPool(pool)
    cache = Cache(counting)
    Person.CACHE = cache  # Person rows resolve their city through this cache

    cities = cache.Cache("app_cities", City)  # one SELECT, one City object per row
    people = cache.Cache("app_people", Person)
    print("loaded:", {i: c["name"] for i, c in cities.items()}, "and", len(people), "people;",
          "connections borrowed:", counting.borrowed)

    counting.borrowed = 0
    for person in people.values():
        city = person["city_id"]  # the integer is looked up in the cache, then kept in the row
        print("  %s lives in %s, %s" % (person["name"], city["name"], city["country"]))
    city_named = {c["name"]: c for c in cities.values()}  # the cached rows by name, ids read from them
    person_named = {p["name"]: p for p in people.values()}
    porto, graz = city_named["Porto"]["id"], city_named["Graz"]["id"]
    same = cache.Select(porto, "app_cities") is cities[porto] is person_named["ana"]["city_id"]
    print("one object per row (%s); connections borrowed while reading: %d" % (same, counting.borrowed))

    cache.Delete(person_named["dan"])  # in the database and in the cache at once
    cache.Delete(person_named["cleo"]["id"], "app_people")
    print("after two deletions, cached people:", sorted(p["name"] for p in people.values()))

    run("UPDATE app_cities SET name = 'Wien' WHERE id = %s", (graz,))  # behind the cache's back
    print("Graz cached before a reload:", cache.Select(graz, "app_cities")["name"])
    cache.Update("app_cities")  # reloads into the same dict
    print("after Update:", cities[graz]["name"])

    cache.ClearTable("app_people")  # empties the table in the cache's database, drops its rows
    with CNXGuard() as cnx:
        cursor = cnx.cursor()
        cursor.execute("SELECT COUNT(*) FROM app_people")
        (count,), = cursor.fetchall()
    print("after ClearTable: %d rows in app_people; tables still registered: %s"
          % (count, list(cache.Tables())))
    Person.CACHE = None
