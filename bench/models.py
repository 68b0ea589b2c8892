"""The tables of the benchmarks, declared for each system: brx_sql row classes, peewee models and
SQLAlchemy 2 ORM classes. peewee's models reach their database through a proxy set by each run."""
import datetime
import decimal

import peewee
import sqlalchemy
from sqlalchemy import orm

import brx_sql
from brx_sql import ColumnAttribute, MultiForeignAttr

ROW_TABLE = "bench_rows"
ROW_COLUMNS = ["id", "name", "city", "amount", "created", "price", "note", "home_id"]
ROW_DDL = ("CREATE TABLE `%s` (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40) NOT NULL,"
           " city VARCHAR(40) NOT NULL, amount INT NOT NULL, created DATETIME NOT NULL,"
           " price DECIMAL(10, 2) NOT NULL, note VARCHAR(80) NULL, home_id INT NOT NULL)")
GRAPH_DDL = [
    "CREATE TABLE homes (id INT AUTO_INCREMENT PRIMARY KEY, street VARCHAR(60) NOT NULL)",
    "CREATE TABLE persons (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40) NOT NULL,"
    " home_id INT NULL, FOREIGN KEY (home_id) REFERENCES homes (id))",
    "CREATE TABLE pets (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40) NOT NULL,"
    " owner_id INT NULL, FOREIGN KEY (owner_id) REFERENCES persons (id))",
]


def row_values(i):
    """The 8 column values of row number i (id 0: not stored yet)."""
    return (0, "name %d" % i, "city %d" % (i % 97), i * 3, datetime.datetime(2024, 1, 1) + datetime.timedelta(minutes=i),
            decimal.Decimal(i % 10000) / 100, None if i % 5 == 0 else "note for row %d" % i, i % 1000)


# brx_sql
class Row(brx_sql.TableBase):
    TABLE_NAME = ROW_TABLE
    COLUMN_NAMES = ROW_COLUMNS
    COLUMN_ATTRIBUTES = {"id": ColumnAttribute("id", 0)}


class Home(brx_sql.TableBase):
    TABLE_NAME = "homes"
    COLUMN_NAMES = ["id", "street"]
    COLUMN_ATTRIBUTES = {"id": ColumnAttribute("id", 0)}


class Person(brx_sql.TableBase):
    TABLE_NAME = "persons"
    COLUMN_NAMES = ["id", "name", "home_id"]
    COLUMN_ATTRIBUTES = {"id": ColumnAttribute("id", 0),
                         "home_id": ColumnAttribute("home_id", None, True, "homes", Home)}


class Pet(brx_sql.TableBase):
    TABLE_NAME = "pets"
    COLUMN_NAMES = ["id", "name", "owner_id"]
    COLUMN_ATTRIBUTES = {"id": ColumnAttribute("id", 0),
                         "owner_id": ColumnAttribute("owner_id", None, True, "persons", Person)}


Person.MULTI_FOREIGN_ATTR = {"pets": MultiForeignAttr("pets", "owner_id", "pets", Pet)}

# peewee
proxy = peewee.DatabaseProxy()


class PeeweeModel(peewee.Model):
    class Meta:
        database = proxy


class PRow(PeeweeModel):
    name, city = peewee.CharField(max_length=40), peewee.CharField(max_length=40)
    amount = peewee.IntegerField()
    created = peewee.DateTimeField()
    price = peewee.DecimalField(max_digits=10, decimal_places=2)
    note = peewee.CharField(max_length=80, null=True)
    home_id = peewee.IntegerField()

    class Meta:
        table_name = ROW_TABLE


class PHome(PeeweeModel):
    street = peewee.CharField(max_length=60)

    class Meta:
        table_name = "homes"


class PPerson(PeeweeModel):
    name = peewee.CharField(max_length=40)
    home = peewee.ForeignKeyField(PHome, column_name="home_id", null=True, backref="persons")

    class Meta:
        table_name = "persons"


class PPet(PeeweeModel):
    name = peewee.CharField(max_length=40)
    owner = peewee.ForeignKeyField(PPerson, column_name="owner_id", null=True, backref="pets")

    class Meta:
        table_name = "pets"


# SQLAlchemy 2 ORM
class Base(orm.DeclarativeBase):
    pass


class SRow(Base):
    __tablename__ = ROW_TABLE
    id: orm.Mapped[int] = orm.mapped_column(primary_key=True)
    name: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(40))
    city: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(40))
    amount: orm.Mapped[int]
    created: orm.Mapped[datetime.datetime]
    price: orm.Mapped[decimal.Decimal] = orm.mapped_column(sqlalchemy.Numeric(10, 2))
    note: orm.Mapped[str | None] = orm.mapped_column(sqlalchemy.String(80))
    home_id: orm.Mapped[int]


class SHome(Base):
    __tablename__ = "homes"
    id: orm.Mapped[int] = orm.mapped_column(primary_key=True)
    street: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(60))


class SPerson(Base):
    __tablename__ = "persons"
    id: orm.Mapped[int] = orm.mapped_column(primary_key=True)
    name: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(40))
    home_id: orm.Mapped[int | None] = orm.mapped_column(sqlalchemy.ForeignKey("homes.id"))
    home: orm.Mapped[SHome | None] = orm.relationship()
    pets: orm.Mapped[list["SPet"]] = orm.relationship(back_populates="owner")


class SPet(Base):
    __tablename__ = "pets"
    id: orm.Mapped[int] = orm.mapped_column(primary_key=True)
    name: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(40))
    owner_id: orm.Mapped[int | None] = orm.mapped_column(sqlalchemy.ForeignKey("persons.id"))
    owner: orm.Mapped[SPerson | None] = orm.relationship(back_populates="pets")
