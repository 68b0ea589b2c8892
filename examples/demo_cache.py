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
    run("INSERT INTO app_people (name, city_id) VALUES ('ana', 2), ('ben', 1), ('cleo', 2), ('dan', 3)")


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
    same = cache.Select(2, "app_cities") is cities[2] is people[1]["city_id"]
    print("one object per row (%s); connections borrowed while reading: %d" % (same, counting.borrowed))

    cache.Delete(people[4])  # in the database and in the cache at once
    cache.Delete(3, "app_people")
    print("after two deletions, cached people:", sorted(p["name"] for p in people.values()))

    run("UPDATE app_cities SET name = 'Wien', country = 'Austria' WHERE id = 3")  # behind the cache's back
    print("city 3 cached before a reload:", cache.Select(3, "app_cities")["name"])
    cache.Update("app_cities")  # reloads into the same dict
    print("after Update:", cities[3]["name"])

    cache.ClearTable("app_people")  # empties the table in the cache's database, drops its rows
    with CNXGuard() as cnx:
        cursor = cnx.cursor()
        cursor.execute("SELECT COUNT(*) FROM app_people")
        (count,), = cursor.fetchall()
    print("after ClearTable: %d rows in app_people; tables still registered: %s"
          % (count, list(cache.Tables())))
    Person.CACHE = None
