"""Workload 3: row graphs. A person with a new home and 10 new pets, stored 500 times; and a deep
fill of 500 such persons (home, pets, each pet's owner), with and without homes and persons cached.

Systems: the raw connector as a user writes it (one cursor), the raw connector making brx_sql's
round trips (a ping on borrowing, the pets as one INSERT ... RETURNING id, COMMIT), brx_sql, peewee,
SQLAlchemy."""
import sqlalchemy
from sqlalchemy import orm

import brx_sql
from common import Figure, progress, timed, REPEATS
from models import GRAPH_DDL, Home, PHome, PPerson, PPet, Person, Pet, SHome, SPerson, SPet, proxy

GRAPHS = 500
PETS = 10
FILLED = 500
OPS = ("insert graph", "deep fill", "deep fill, cached")


def graph_names(n):
    return "person %d" % n, "%d Elm Road" % n, ["pet %d.%d" % (n, i) for i in range(PETS)]


class Raw:
    def __init__(self, bench):
        self.cnx = bench.connect()
        self.cursor = self.cnx.cursor()

    def insert(self, n):
        person, street, pets = graph_names(n)
        cursor = self.cursor
        cursor.execute("INSERT INTO homes VALUES (%s, %s)", (0, street))
        home_id = cursor.lastrowid
        cursor.execute("INSERT INTO persons VALUES (%s, %s, %s)", (0, person, home_id))
        person_id = cursor.lastrowid
        for pet in pets:
            cursor.execute("INSERT INTO pets VALUES (%s, %s, %s)", (0, pet, person_id))
        self.cnx.commit()

    def persons(self):
        cursor = self.cnx.cursor()
        cursor.execute("SELECT * FROM persons ORDER BY id LIMIT %d" % FILLED)
        rows = [dict(zip(("id", "name", "home_id"), row)) for row in cursor]
        self.cnx.commit()
        return rows

    def query(self, statement, names):
        self.cursor.execute(statement)
        return [dict(zip(names, row)) for row in self.cursor]

    def fill(self, persons, cached=None):
        for person in persons:
            if cached:
                person["home_id"] = cached[0][person["home_id"]]
            else:
                person["home_id"] = self.query("SELECT * FROM homes WHERE id = %d" % person["home_id"],
                                               ("id", "street"))[0]
            pets = self.query("SELECT * FROM pets WHERE owner_id = %d" % person["id"], ("id", "name", "owner_id"))
            person["pets"] = pets
            for pet in pets:
                if cached:
                    pet["owner_id"] = cached[1][pet["owner_id"]]
                else:
                    pet["owner_id"] = self.query("SELECT * FROM persons WHERE id = %d" % pet["owner_id"],
                                                 ("id", "name", "home_id"))[0]
        self.cnx.commit()

    def cache(self):
        homes = {row["id"]: row for row in self.query("SELECT * FROM homes", ("id", "street"))}
        persons = {row["id"]: row for row in self.query("SELECT * FROM persons", ("id", "name", "home_id"))}
        self.cnx.commit()
        return homes, persons


class RawSameTrips(Raw):
    """brx_sql's round trips by hand: a ping when a call borrows, then its statements."""

    def execute(self, statement, params=None):
        self.cursor.execute(statement, params)
        return self.cursor

    def insert(self, n):
        person, street, pets = graph_names(n)
        self.cnx.is_connected()
        home_id = self.execute("INSERT INTO homes VALUES (%s, %s)", [0, street]).lastrowid
        person_id = self.execute("INSERT INTO persons VALUES (%s, %s, %s)", [0, person, home_id]).lastrowid
        values = ", ".join(["(%s, %s, %s)"] * len(pets))
        params = [value for pet in pets for value in (0, pet, person_id)]
        [row[0] for row in self.execute("INSERT INTO pets VALUES %s RETURNING id" % values, params)]
        self.cnx.commit()

    def query(self, statement, names):
        return [dict(zip(names, row)) for row in self.execute(statement)]

    def fill(self, persons, cached=None):
        for person in persons:
            self.cnx.is_connected()
            Raw.fill(self, [person], cached)


class Module:
    def __init__(self, bench):
        self.pool = brx_sql.CNXPool(**bench.settings)

    def insert(self, n):
        person, street, pets = graph_names(n)
        row = Person(0, person, Home(0, street))
        row.pets = [Pet(0, pet, None) for pet in pets]
        row.Insert(pool=self.pool)

    def persons(self):
        return brx_sql.Execute("SELECT * FROM persons ORDER BY id LIMIT %d" % FILLED, pool=self.pool)

    def fill(self, persons, cached=None):
        rows = [Person(*row) for row in persons]
        for row in rows:
            row.FillForeign(pool=self.pool)

    def cache(self):
        cache = brx_sql.Cache(self.pool)
        cache.Cache("homes", Home)
        cache.Cache("persons", Person)
        return cache


class Peewee:
    def __init__(self, bench):
        self.db = bench.peewee_database()

    def insert(self, n):
        proxy.initialize(self.db)
        person, street, pets = graph_names(n)
        with self.db.atomic():
            home = PHome.create(street=street)
            owner = PPerson.create(name=person, home=home)
            for pet in pets:
                PPet.create(name=pet, owner=owner)

    def persons(self):
        proxy.initialize(self.db)
        return list(PPerson.select().order_by(PPerson.id).limit(FILLED))

    def fill(self, persons, cached=None):
        proxy.initialize(self.db)
        for person in persons:
            person.home
            for pet in person.pets:
                pet.owner


class SQLAlchemy:
    def __init__(self, bench):
        self.engine = bench.sqlalchemy_engine()
        self.session = None

    def insert(self, n):
        person, street, pets = graph_names(n)
        with orm.Session(self.engine) as session:
            session.add(SPerson(name=person, home=SHome(street=street), pets=[SPet(name=pet) for pet in pets]))
            session.commit()

    def persons(self):
        if self.session is not None:
            self.session.close()
        self.session = orm.Session(self.engine)
        return self.session.scalars(sqlalchemy.select(SPerson).order_by(SPerson.id).limit(FILLED)).all()

    def fill(self, persons, cached=None):
        for person in persons:
            person.home
            for pet in person.pets:
                pet.owner
        self.session.rollback()


def systems(bench):
    return [("raw", Raw(bench)), ("raw, brx_sql's trips", RawSameTrips(bench)), ("brx_sql", Module(bench)),
            ("peewee", Peewee(bench)), ("SQLAlchemy", SQLAlchemy(bench))]


def one_round(name, system, run, first=0):
    run("insert graph", lambda: [system.insert(first + n) for n in range(GRAPHS)])
    persons = system.persons()
    run("deep fill", lambda: system.fill(persons))
    if name.startswith("raw") or name == "brx_sql":
        cached = system.cache()
        persons = system.persons()
        if name == "brx_sql":
            Person.CACHE = Home.CACHE = Pet.CACHE = cached
        try:
            run("deep fill, cached", lambda: system.fill(persons, cached))
        finally:
            Person.CACHE = Home.CACHE = Pet.CACHE = None


def measure(bench):
    bench.run(["DROP TABLE IF EXISTS pets", "DROP TABLE IF EXISTS persons", "DROP TABLE IF EXISTS homes"] + GRAPH_DDL)
    made = systems(bench)
    trips = {}
    progress("workload 3: counting round trips")
    for name, system in made:
        def count(op, work):
            trips[name, op] = bench.counters.count(work)[0] / (GRAPHS if op == "insert graph" else FILLED)
        one_round(name, system, count)
    walls = {key: [] for key in trips}
    for repeat in range(REPEATS):
        progress("workload 3: round %d of %d" % (repeat + 1, REPEATS))
        for name, system in made:
            def clock(op, work):
                walls[name, op].append(timed(work)[0] / (GRAPHS if op == "insert graph" else FILLED))
            one_round(name, system, clock, first=GRAPHS * (repeat + 1))
    return {"times": {key: Figure(samples) for key, samples in walls.items()}, "trips": trips}
