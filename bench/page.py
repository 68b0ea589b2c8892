"""Workload 6: a page of related rows. 100 customers of a table whose rows have two levels of keys
(customer -> city -> country) and one list (the customer's orders), read as a web page would read them.

Systems: the raw connector with IN lists (one SELECT per level, rows as dicts joined by hand), brx_sql
(`Query` and `FillForeignMany`), peewee (`prefetch`) and SQLAlchemy 2 (`selectinload`). Each reads the
page in one transaction and ends it; statements per page as the server counts them.

    python bench/page.py [--quick]     (on its own; bench/run.py runs it with the other workloads)"""
import sys

import peewee
import sqlalchemy
from sqlalchemy import orm

import brx_sql
from brx_sql import ColumnAttribute, FillForeignMany, MultiForeignAttr, Query
from common import Figure, progress, timed

REPEATS = 5
PAGE = 100
PAGES = 20          # pages read per timed run, each of other customers
CUSTOMERS = PAGE * PAGES
DDL = [
    "CREATE TABLE countries (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40) NOT NULL)",
    "CREATE TABLE cities (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40) NOT NULL,"
    " country_id INT NOT NULL, FOREIGN KEY (country_id) REFERENCES countries (id))",
    "CREATE TABLE customers (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40) NOT NULL,"
    " email VARCHAR(60) NOT NULL, city_id INT NULL, FOREIGN KEY (city_id) REFERENCES cities (id))",
    "CREATE TABLE orders (id INT AUTO_INCREMENT PRIMARY KEY, customer_id INT NOT NULL, total INT NOT NULL,"
    " status VARCHAR(12) NOT NULL, FOREIGN KEY (customer_id) REFERENCES customers (id))",
]
TABLES = ("orders", "customers", "cities", "countries")
PAGE_SQL = "SELECT * FROM customers WHERE id > %s ORDER BY id LIMIT %s"


def values(rows):
    return ", ".join("(%s)" % ", ".join("NULL" if v is None else repr(v) for v in row) for row in rows)


def create(bench):
    bench.run(["DROP TABLE IF EXISTS %s" % t for t in TABLES] + DDL)
    countries = [(i, "country %d" % i) for i in range(1, 31)]
    cities = [(i, "city %d" % i, 1 + i % 30) for i in range(1, 401)]
    customers = [(i, "customer %d" % i, "c%d@example.com" % i, None if i % 17 == 0 else 1 + (i * 7) % 400)
                 for i in range(1, CUSTOMERS + 1)]
    orders = [(i, 1 + (i * 13) % CUSTOMERS, i % 500, "new" if i % 3 else "paid") for i in range(1, 3 * CUSTOMERS + 1)]
    statements = []
    for table, rows in (("countries", countries), ("cities", cities), ("customers", customers), ("orders", orders)):
        statements += ["INSERT INTO %s VALUES %s" % (table, values(rows[k:k + 1000])) for k in range(0, len(rows), 1000)]
    bench.run(statements)


# brx_sql
class Country(brx_sql.TableBase):
    TABLE_NAME = "countries"
    COLUMN_NAMES = ["id", "name"]


class City(brx_sql.TableBase):
    TABLE_NAME = "cities"
    COLUMN_NAMES = ["id", "name", "country_id"]
    COLUMN_ATTRIBUTES = {"country_id": ColumnAttribute("country_id", None, True, "countries", Country)}


class Customer(brx_sql.TableBase):
    TABLE_NAME = "customers"
    COLUMN_NAMES = ["id", "name", "email", "city_id"]
    COLUMN_ATTRIBUTES = {"city_id": ColumnAttribute("city_id", None, True, "cities", City)}


class Order(brx_sql.TableBase):
    TABLE_NAME = "orders"
    COLUMN_NAMES = ["id", "customer_id", "total", "status"]
    COLUMN_ATTRIBUTES = {"customer_id": ColumnAttribute("customer_id", None, True, "customers", Customer)}


Customer.MULTI_FOREIGN_ATTR = {"orders": MultiForeignAttr("orders", "customer_id", "orders", Order)}


# peewee
proxy = peewee.DatabaseProxy()


class PModel(peewee.Model):
    class Meta:
        database = proxy


class PCountry(PModel):
    name = peewee.CharField(max_length=40)

    class Meta:
        table_name = "countries"


class PCity(PModel):
    name = peewee.CharField(max_length=40)
    country = peewee.ForeignKeyField(PCountry, column_name="country_id")

    class Meta:
        table_name = "cities"


class PCustomer(PModel):
    name = peewee.CharField(max_length=40)
    email = peewee.CharField(max_length=60)
    city = peewee.ForeignKeyField(PCity, column_name="city_id", null=True)

    class Meta:
        table_name = "customers"


class POrder(PModel):
    customer = peewee.ForeignKeyField(PCustomer, column_name="customer_id", backref="orders")
    total = peewee.IntegerField()
    status = peewee.CharField(max_length=12)

    class Meta:
        table_name = "orders"


# SQLAlchemy 2 ORM
class Base(orm.DeclarativeBase):
    pass


class SCountry(Base):
    __tablename__ = "countries"
    id: orm.Mapped[int] = orm.mapped_column(primary_key=True)
    name: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(40))


class SCity(Base):
    __tablename__ = "cities"
    id: orm.Mapped[int] = orm.mapped_column(primary_key=True)
    name: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(40))
    country_id: orm.Mapped[int] = orm.mapped_column(sqlalchemy.ForeignKey("countries.id"))
    country: orm.Mapped[SCountry] = orm.relationship()


class SCustomer(Base):
    __tablename__ = "customers"
    id: orm.Mapped[int] = orm.mapped_column(primary_key=True)
    name: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(40))
    email: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(60))
    city_id: orm.Mapped[int | None] = orm.mapped_column(sqlalchemy.ForeignKey("cities.id"))
    city: orm.Mapped[SCity | None] = orm.relationship()
    orders: orm.Mapped[list["SOrder"]] = orm.relationship(back_populates="customer", order_by="SOrder.id")


class SOrder(Base):
    __tablename__ = "orders"
    id: orm.Mapped[int] = orm.mapped_column(primary_key=True)
    customer_id: orm.Mapped[int] = orm.mapped_column(sqlalchemy.ForeignKey("customers.id"))
    total: orm.Mapped[int]
    status: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(12))
    customer: orm.Mapped[SCustomer] = orm.relationship(back_populates="orders")


# What each system shows of a page: (customer, city, country or None, [order totals]) per customer.
class Raw:
    """The raw connector as a careful user writes it: one SELECT per level, with an IN list of the ids
    the level above holds, rows turned into dicts and joined by id."""

    CUSTOMER = ("id", "name", "email", "city_id")
    CITY = ("id", "name", "country_id")
    COUNTRY = ("id", "name")
    ORDER = ("id", "customer_id", "total", "status")

    def __init__(self, bench):
        self.cnx = bench.connect()

    @staticmethod
    def rows(cursor):
        """The rows of the statement just run, read one at a time."""
        return cursor

    def by_ids(self, cursor, table, names, ids):
        if not ids:
            return {}
        cursor.execute("SELECT * FROM %s WHERE id IN (%s)" % (table, ", ".join("%d" % i for i in ids)))
        return {row[0]: dict(zip(names, row)) for row in self.rows(cursor)}

    def load(self, after):
        """The page's customers, each holding its city (holding its country) and its orders."""
        cursor = self.cnx.cursor()
        cursor.execute(PAGE_SQL, (after, PAGE))
        customers = [dict(zip(self.CUSTOMER, row)) for row in self.rows(cursor)]
        cities = self.by_ids(cursor, "cities", self.CITY, {c["city_id"] for c in customers if c["city_id"] is not None})
        countries = self.by_ids(cursor, "countries", self.COUNTRY, {c["country_id"] for c in cities.values()})
        for city in cities.values():
            city["country_id"] = countries[city["country_id"]]
        by_customer = {c["id"]: c for c in customers}
        for c in customers:
            c["orders"] = []
            if c["city_id"] is not None:
                c["city_id"] = cities[c["city_id"]]
        cursor.execute("SELECT * FROM orders WHERE customer_id IN (%s) ORDER BY id"
                       % ", ".join("%d" % c["id"] for c in customers))
        for row in self.rows(cursor):
            order = dict(zip(self.ORDER, row))
            owner = by_customer[order["customer_id"]]
            order["customer_id"] = owner
            owner["orders"].append(order)
        self.cnx.commit()
        return customers

    @staticmethod
    def show(customers):
        return [(c["name"], c["city_id"] and c["city_id"]["name"], c["city_id"] and c["city_id"]["country_id"]["name"],
                 [o["total"] for o in c["orders"]]) for c in customers]

    def page(self, after):
        return self.show(self.load(after))


class Module:
    """The guide's recipe for a page: `Query` for the page, `FillForeignMany` for what it points at."""

    def __init__(self, bench):
        self.pool = brx_sql.CNXPool(**bench.settings)

    def load(self, after):
        with brx_sql.CNXGuard(None, self.pool) as cnx:
            customers = Query(PAGE_SQL, (after, PAGE), Customer, cnx)
            FillForeignMany(customers, ["city_id.country_id", "orders"], cnx)
        return customers

    @staticmethod
    def show(customers):
        return [(c["name"], c["city_id"] and c["city_id"]["name"], c["city_id"] and c["city_id"]["country_id"]["name"],
                 [o["total"] for o in c.orders]) for c in customers]

    def page(self, after):
        return self.show(self.load(after))


class Peewee:
    def __init__(self, bench):
        self.db = bench.peewee_database()
        proxy.initialize(self.db)

    def page(self, after):
        proxy.initialize(self.db)
        with self.db.atomic():
            query = PCustomer.select().where(PCustomer.id > after).order_by(PCustomer.id).limit(PAGE)
            customers = peewee.prefetch(query, PCity, PCountry, POrder.select().order_by(POrder.id))
            return [(c.name, c.city and c.city.name, c.city and c.city.country.name, [o.total for o in c.orders])
                    for c in customers]


class SQLAlchemy:
    def __init__(self, bench):
        self.engine = bench.sqlalchemy_engine()

    def page(self, after):
        statement = (sqlalchemy.select(SCustomer).where(SCustomer.id > after).order_by(SCustomer.id).limit(PAGE)
                     .options(orm.selectinload(SCustomer.city).selectinload(SCity.country),
                              orm.selectinload(SCustomer.orders)))
        with orm.Session(self.engine) as session, session.begin():
            return [(c.name, c.city and c.city.name, c.city and c.city.country.name, [o.total for o in c.orders])
                    for c in session.scalars(statement)]


SYSTEMS = ("raw, IN lists", "brx_sql", "peewee", "SQLAlchemy")


def systems(bench):
    return [("raw, IN lists", Raw(bench)), ("brx_sql", Module(bench)), ("peewee", Peewee(bench)),
            ("SQLAlchemy", SQLAlchemy(bench))]


def read_pages(system):
    return [system.page(k * PAGE) for k in range(PAGES)]


def measure(bench):
    progress("workload 6: a page of related rows")
    create(bench)
    made = systems(bench)
    shown = {name: read_pages(system) for name, system in made}  # also warms every system up
    reference = shown["raw, IN lists"]
    for name, pages in shown.items():
        assert pages == reference, "%s shows another page than the raw connector" % name
    trips, statements = {}, {}
    for name, system in made:
        trips[name] = bench.counters.count(lambda: system.page(PAGE))[0]
        statements[name] = count_statements(bench, system)
    walls = {name: [] for name, _ in made}
    for repeat in range(REPEATS):
        progress("workload 6: round %d of %d" % (repeat + 1, REPEATS))
        for name, system in made:
            walls[name].append(timed(lambda: read_pages(system))[0] / PAGES)
    return {"times": {name: Figure(samples) for name, samples in walls.items()}, "trips": trips,
            "statements": statements}


def count_statements(bench, system):
    """Statements of one page as the server counts them (Questions, without pings)."""
    probe = bench.counters.cnx
    cursor = probe.cursor()

    def questions():
        cursor.execute("SHOW GLOBAL STATUS LIKE 'Questions'")
        return int(cursor.fetchall()[0][1])

    before = questions()
    system.page(PAGE)
    return questions() - before - 1


def rows(found, fmt_time, spread):
    if found is None:  # figures saved before this workload existed
        return []
    times, trips, statements = found["times"], found["trips"], found["statements"]
    raw = times["raw, IN lists"]
    return [("6 page of %d rows" % PAGE if k == 0 else "", "wall per page" if k == 0 else "", name,
             fmt_time(times[name].median), spread(times[name]), "%.2fx" % times[name].ratio(raw),
             "%d (%d statements)" % (trips[name], statements[name])) for k, name in enumerate(SYSTEMS)]


def targets(found):
    if found is None:
        return []
    times = found["times"]
    brx, raw = times["brx_sql"], times["raw, IN lists"]
    return [("6: page within 1.3x the raw connector with IN lists", brx.ratio(raw), 1.3),
            ("6: page faster than peewee's prefetch", brx.ratio(times["peewee"]), 1.0),
            ("6: page faster than SQLAlchemy's selectinload", brx.ratio(times["SQLAlchemy"]), 1.0)]


def main():
    global REPEATS
    import common
    if "--quick" in sys.argv:
        REPEATS = 1
    bench = common.Bench()
    try:
        found = measure(bench)
    finally:
        bench.close()
    fmt = lambda s: "%.2f ms" % (s * 1e3)
    for row in rows(found, fmt, lambda f: "±%.0f%%" % f.spread()):
        print("  ".join(str(cell) for cell in row))
    for text, ratio, bound in targets(found):
        print("%-4s %5.2fx  %s" % ("met" if ratio < bound or (ratio <= bound and "within" in text) else "MISS",
                                   ratio, text))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
