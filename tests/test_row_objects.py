"""Row objects against the real server: descriptors, construction from selected rows, item read and
write, lazy foreign keys (looked up once, through the row's own pool), bad input, copies."""
import copy
import pickle
import re
import weakref

import pytest

from brx_sql import CNXGuard, ColumnAttribute, Execute, FillForeignMany, MultiForeignAttr, TableBase
from tables import Home, Person, Pet, store, texts

SHARED = []  # a mutable default: every row object that takes it gets this very list


class Wide(Person):  # one column more than the table has
    COLUMN_NAMES = ["id", "name", "home_id", "tags", "Update"]
    COLUMN_ATTRIBUTES = dict(Person.COLUMN_ATTRIBUTES, tags=ColumnAttribute("tags", SHARED),
                             flag=ColumnAttribute("flag", 0, 1, "flags"))


class Narrow(Person):  # one column fewer: the surplus value is dropped
    COLUMN_NAMES = ["id", "name"]


@pytest.fixture
def rows(tables, db):
    db.run("INSERT INTO homes VALUES (1, 'elm'), (2, 'oak')")
    db.run("INSERT INTO persons VALUES (1, 'ann', 1)")


def test_descriptors():
    # the foreign table defaults to the column's name; a plain column gets no foreign-key fields
    assert vars(ColumnAttribute("home", None, True)) == {
        "name": "home", "default": None, "isForeignKey": True, "foreignTableName": "home", "foreignClass": None}
    assert ColumnAttribute("home", 5, 1, "", Home).foreignTableName == ""
    assert vars(ColumnAttribute("age", 3)) == {"name": "age", "default": 3, "isForeignKey": False}
    assert vars(MultiForeignAttr(foreign_attr_table="pets", _class=Home, attr_name="pets", foreign_name="o")) == {
        "attr_name": "pets", "foreign_name": "o", "foreign_attr_table": "pets", "_class": Home}


def test_construction_from_selected_rows(rows, pool):
    wide = CNXGuard.Select(1, "persons", Wide, pool=pool)
    assert store(wide) == {"id": 1, "name": "ann", "home_id": 1, "tags": [], "Update": None}
    assert wide["tags"] is SHARED and wide["Update"] == wide.Update  # an attribute shadows a column
    assert store(CNXGuard.Select(1, "persons", Narrow, pool=pool)) == {"id": 1, "name": "ann"}
    row = Wide(*CNXGuard.Select(1, "persons", lambda *values: values, pool=pool), 9, 9, 9, name="bo", nick="b")
    assert store(row) == {"id": 1, "name": "bo", "home_id": 1, "tags": 9, "Update": 9} and row["nick"] == "b"
    assert store(Person()) == {"id": 0, "name": None, "home_id": None} and "nick" not in vars(Person())
    assert row["TABLE_NAME"] == "persons" and row["COLUMN_NAMES"] is Wide.COLUMN_NAMES
    with pytest.raises(AttributeError, match="^Wide instance has no attribute 'zz'$"):
        row["zz"]
    row["zz"] = 1
    row["name"] = "cy"
    assert row.zz == 1 and store(row)["name"] == "cy" and "name" not in vars(row)


def test_foreign_key_looked_up_once_and_kept(rows, pool, recorder, monkeypatch):
    rec = recorder(pool)
    monkeypatch.setattr(CNXGuard, "POOL", rec)
    ann = CNXGuard.Select(1, "persons", Person)
    home = ann["home_id"]
    assert isinstance(home, Home) and store(home) == {"id": 1, "name": "elm"}
    assert ann["home_id"] is home is store(ann)["home_id"]
    assert texts(rec) == ["SELECT * FROM `persons` WHERE id = 1", "SELECT * FROM `homes` WHERE id = 1"]
    ann["home_id"] = 99  # a failed lookup keeps the identifier and tries again next time
    for _ in range(2):
        with pytest.raises(KeyError, match="Table homes has no row with id = 99"):
            ann["home_id"]
        assert store(ann)["home_id"] == 99
    ann["home_id"] = True  # an int: looked up as 1
    assert ann["home_id"]["name"] == "elm" and ann["home_id"]["name"] == "elm"
    assert texts(rec)[2:] == ["SELECT * FROM `homes` WHERE id = %d" % i for i in (99, 99, 1)]
    assert rec.calls("rollback") == []
    for value in (None, "2", 2.0, home):  # never looked up
        ann["home_id"] = value
        assert ann["home_id"] is value
    assert len(texts(rec)) == 5


def test_lookup_reads_the_row_class_pool(rows, pool, pools, second_dbconfig, monkeypatch):
    monkeypatch.setattr(Person, "POOL", pool)
    assert Person(1, "ann", 2)["home_id"]["name"] == "oak"  # CNXGuard.POOL is None
    other = pools(**second_dbconfig)
    Execute("CREATE TABLE homes (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20))", pool=other)
    Execute("INSERT INTO homes VALUES (2, 'elsewhere')", pool=other)
    CNXGuard.POOL = other
    assert Person(1, "ann", 2)["home_id"]["name"] == "oak"
    monkeypatch.setattr(Person, "POOL", None)  # without a class pool, the guard's default
    assert Person(1, "ann", 2)["home_id"]["name"] == "elsewhere"


class Odd(TableBase):
    TABLE_NAME = "persons"
    COLUMN_NAMES = ["id", "name"]
    COLUMN_ATTRIBUTES = {"name": ColumnAttribute("name", None, True, "homes", Home)}


def odd(**settings):
    """A row object of a subclass of Odd with the given class attributes, built before they apply."""
    row = Odd(1, 2)
    row.__class__ = type("Odd2", (Odd,), settings)
    return row


BAD_READS = [
    (lambda: Odd(1)[1], TypeError, "hasattr(): attribute name must be string"),
    (lambda: Odd(1).__setitem__(1, 2), TypeError, "attribute name must be string"),
    (lambda: odd(COLUMN_NAMES=None)["name"], TypeError, "not iterable"),
    (lambda: odd(COLUMN_NAMES=None).__setitem__("name", 3), TypeError, "not iterable"),
    (lambda: odd(COLUMN_NAMES=["id", "name", "gone"])["gone"], KeyError, "gone"),
    (lambda: odd(MULTI_FOREIGN_ATTR=None)["zz"], TypeError, "not iterable"),
    (lambda: odd(COLUMN_ATTRIBUTES={"name": 5})["name"], AttributeError, "'int' object has no attribute"),
    (lambda: odd(COLUMN_ATTRIBUTES=None)["name"], TypeError, "not iterable"),
    (lambda: type("N", (Odd,), {"COLUMN_NAMES": None})(1), TypeError, "not iterable"),
    (lambda: type("N", (Odd,), {"MULTI_FOREIGN_ATTR": None})(1), TypeError, "not iterable"),
    # the default of every column is computed, also of one given a value
    (lambda: type("N", (Odd,), {"COLUMN_ATTRIBUTES": {"id": None}})(1), AttributeError, "'default'"),
]


@pytest.mark.parametrize("call, error, message", BAD_READS)
def test_bad_input_raises_and_touches_nothing(rows, pool, recorder, db, call, error, message):
    rec = recorder(pool)
    CNXGuard.POOL = rec
    with pytest.raises(error, match=re.escape(message)) as caught:
        call()
    assert caught.traceback[-1].frame.code.name.startswith("brx_sql.")
    assert rec.log == [] and db.query("SELECT * FROM persons") == [(1, "ann", 1)]



class NotForeign(Odd):
    def _TableBase__is_foreign_key(self, name):
        return False


@pytest.mark.parametrize("row, name, expected", [
    (lambda: Person(1, "ann", 5), "home_id", 5), (lambda: Person(1, "ann", None), "home_id", None),
    (lambda: Person(1, "ann", Home(7, "elm")), "home_id", 7), (lambda: Person(home_id=Home()), "home_id", 0),
    (lambda: Odd(1, 2), "name", 2),
    (lambda: Person(1, "ann", "2"), "home_id", TypeError("Column 'home_id' of Person is a foreign key")),
    *[(lambda: Person(1, "ann", 1), name, KeyError("Person has no foreign key column named %r" % name))
      for name in ("name", "id", "pets", "zz", 3)],
    (lambda: NotForeign(1, 2), "name", KeyError("NotForeign has no foreign key column named 'name'")),
])
def test_foreign_id_reads_the_column_without_a_lookup(row, name, expected):
    if isinstance(expected, Exception):  # CNXGuard.POOL is None: any statement would fail otherwise
        with pytest.raises(type(expected), match=re.escape(str(expected.args[0]))):
            row().ForeignId(name)
    else:
        assert row().ForeignId(name) == expected


class KeyByMethod(Person):  # its flag says plain column, its method says foreign key
    COLUMN_ATTRIBUTES = dict(Person.COLUMN_ATTRIBUTES, home_id=ColumnAttribute("home_id", None, True, "homes", Home))
    COLUMN_ATTRIBUTES["home_id"].isForeignKey = False

    def _TableBase__is_foreign_key(self, name):
        return name == "home_id"


class KeylessPet(Pet):  # its flag says foreign key, its method says plain column
    def _TableBase__is_foreign_key(self, name):
        return False


class KeylessPetOwner(Person):
    MULTI_FOREIGN_ATTR = {"pets": MultiForeignAttr("pets", "owner_id", "pets", KeylessPet)}


@pytest.mark.parametrize("row, path, read", [
    (lambda: KeyByMethod(1, "ann", 1), "home_id", lambda row: row["home_id"]["name"]),
    (lambda: KeylessPetOwner(1, "ann", 1), "pets", lambda row: row["pets"][0]["owner_id"]),
], ids=["key by method", "no key by method"])
def test_fill_foreign_many_takes_keys_as_item_read_does(rows, db, pool, monkeypatch, row, path, read):
    db.run("INSERT INTO pets VALUES (1, 'rex', 1)")
    filled = read(FillForeignMany([row()], [path], pool=pool)[0])  # CNXGuard.POOL is None: no lookup after it
    monkeypatch.setattr(CNXGuard, "POOL", pool)
    assert filled == read(row())


class Swapped(TableBase):
    TABLE_NAME = "persons"
    COLUMN_NAMES = ["id", "home_id", "name"]  # the table has name before home_id


class SwappedOwner(TableBase):
    TABLE_NAME = "homes"
    COLUMN_NAMES = ["id", "name"]
    MULTI_FOREIGN_ATTR = {"people": MultiForeignAttr("people", "home_id", "persons", Swapped)}


@pytest.mark.parametrize("read", [
    lambda pool: CNXGuard.Select(1, "persons", Swapped, pool=pool),
    lambda pool: __import__("brx_sql").Cache(pool).Cache("persons", Swapped),
    lambda pool: SwappedOwner(1, "h").FillForeign(pool=pool),
    lambda pool: __import__("brx_sql").FillForeignMany([SwappedOwner(1, "h")], ["people"], pool=pool),
    lambda pool: __import__("brx_sql").Query("SELECT * FROM persons WHERE id = %s", [1], Swapped, pool=pool),
], ids=["Select", "Cache", "FillForeign", "FillForeignMany", "Query"])
def test_columns_declared_out_of_order_are_refused(tables, db, pool, read):
    db.run("INSERT INTO homes (id, name) VALUES (1, 'h')")
    db.run("INSERT INTO persons (id, name, home_id) VALUES (1, 'ann', 1)")
    message = r"\['id', 'name', 'home_id'\].*Swapped\.COLUMN_NAMES is \['id', 'home_id', 'name'\]"
    for _ in range(2):  # refused every time, and the connection is left ready for the next statement
        with pytest.raises(ValueError, match=message):
            read(pool)
    Swapped.COLUMN_NAMES = ["id", "name", "home_id"]  # a change of the class is checked anew
    try:
        read(pool)
        Swapped.COLUMN_NAMES = ["id", "home_id", "name"]
        with pytest.raises(ValueError, match=message):
            read(pool)
    finally:
        Swapped.COLUMN_NAMES = ["id", "home_id", "name"]
    assert Execute("SELECT COUNT(*) FROM persons", pool=pool) == [(1,)]


class Noted(Person):  # slots, __init__ and __getattr__ of its own
    __slots__ = ("note",)

    def __init__(self, *values, **extra):
        super().__init__(*values, **extra)
        self.note = "n"

    def __getattr__(self, name):
        if name != "spare":
            raise AttributeError(name)
        return "s"


COPIES = {"pickle": lambda row: pickle.loads(pickle.dumps(row)), "copy": copy.copy, "deepcopy": copy.deepcopy,
          "pickle 0": lambda row: pickle.loads(pickle.dumps(row, 0))}
# Person(3, "ann", 1, nick="a") pickled when the column store was an instance attribute
OLD_PICKLE = (b"\x80\x02ctables\nPerson\nq\x00)\x81q\x01}q\x02(X\x19\x00\x00\x00_TableBase__column_valuesq\x03}q\x04(X\x02"
              b"\x00\x00\x00idq\x05K\x03X\x04\x00\x00\x00nameq\x06X\x03\x00\x00\x00annq\x07X\x07\x00\x00\x00home_idq\x08K"
              b"\x01uX\x04\x00\x00\x00nickq\tX\x01\x00\x00\x00aq\nub.")


@pytest.mark.parametrize("cls", [Person, Noted])
@pytest.mark.parametrize("how", COPIES)
def test_copies_keep_columns_lists_and_attributes(cls, how):
    row = cls(3, "ann", Home(1, "elm"), pets=[Pet(4, "rex", 3)], nick="a")
    twin = COPIES[how](row)
    assert type(twin) is cls and weakref.ref(twin)() is twin and twin is not row
    assert [twin[k] for k in ("id", "name", "nick")] == [3, "ann", "a"] and twin["pets"][0]["name"] == "rex"
    assert twin["home_id"]["name"] == "elm" and {"pets", "nick"} <= set(vars(twin))
    if cls is Noted:
        assert twin["note"] == "n" and twin["spare"] == "s" and "note" not in vars(twin)
    twin["name"] = "bo"  # a shallow copy shares the original's column store
    assert row["name"] == ("bo" if how == "copy" else "ann")


def test_pickles_load_and_are_made_as_before():
    old = pickle.loads(OLD_PICKLE)
    assert store(old) == {"id": 3, "name": "ann", "home_id": 1} and pickle.dumps(old, 2) == OLD_PICKLE
