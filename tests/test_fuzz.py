"""Every callable called with random hostile arguments (special methods that raise, answer oddly or change
the row, its class or the cache mid-call; huge integers; str subclasses) against the real server: a call ends
with a value or an ordinary Python exception (no crash, no SystemError) and gives back every connection.
The seed is fixed; BRX_FUZZ_EXAMPLES sets the number of examples of each test (default 60)."""
import gc
import inspect
import operator
import os

import mysql.connector
from mysql.connector.abstracts import MySQLConnectionAbstract
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import brx_sql
from brx_sql import Cache, CNXGuard, CNXPool, ColumnAttribute, MultiForeignAttr, TableBase
from test_module_frame import callables

# Large counts make hypothesis warn about the size of what it would print on a failure.
pytestmark = pytest.mark.filterwarnings("ignore::hypothesis.errors.HypothesisWarning")
EXAMPLES = int(os.environ.get("BRX_FUZZ_EXAMPLES", "60"))
FUZZ = settings(max_examples=EXAMPLES, derandomize=True, database=None, deadline=None,
                suppress_health_check=list(HealthCheck), print_blob=False)
TABLES = {"homes": "", "persons": ", home_id INT", "pets": ", owner_id INT"}


class Boom(Exception):
    pass


class CountingPool:
    """Lends the real pool's connections and counts those not given back."""

    def __init__(self, real):
        self.real, self.out = real, 0

    def Get(self):
        connection = self.real.Get()
        self.out += 1
        return connection

    def Put(self, connection):
        self.out -= 1
        return self.real.Put(connection)


class World:
    """The objects of one example, which hostile values change while a call runs."""

    current = None

    def __init__(self, pool, held, dbconfig):
        self.pool, self.held, self.dbconfig = pool, held, dbconfig
        self.cache = Cache(pool)
        self.home = type("Home", (TableBase,), dict(TABLE_NAME="homes", COLUMN_NAMES=["id", "name"],
                                                    COLUMN_ATTRIBUTES={"id": ColumnAttribute("id", 0)}))
        self.pet = type("Pet", (TableBase,), dict(TABLE_NAME="pets", COLUMN_NAMES=["id", "name", "owner_id"]))
        self.cls = type("Person", (TableBase,), dict(
            TABLE_NAME="persons", COLUMN_NAMES=["id", "name", "home_id"], CACHE=self.cache, POOL=pool,
            COLUMN_ATTRIBUTES={"id": ColumnAttribute("id", 0),
                               "home_id": ColumnAttribute("home_id", None, True, "homes", self.home)},
            MULTI_FOREIGN_ATTR={"pets": MultiForeignAttr("pets", "owner_id", "pets", self.pet)}))
        self.row = self.cls(0, "ann", self.home(0, "h1"), pets=[self.pet(name="rex")])
        self.other = self.home(3, "h3")
        self.spare_pool = CNXPool(**dbconfig)


MUTATIONS = [
    lambda w: setattr(w.cls, "COLUMN_ATTRIBUTES", {}),
    lambda w: w.cls.COLUMN_NAMES.clear(),
    lambda w: setattr(w.cls, "COLUMN_NAMES", ["id"]),
    lambda w: setattr(w.cls, "MULTI_FOREIGN_ATTR", {"x": MultiForeignAttr("x", "y", "no_such", w.pet)}),
    lambda w: setattr(w.row, "_TableBase__column_values", {}),
    lambda w: getattr(w.row, "_TableBase__column_values", {}).clear(),
    lambda w: vars(w.row).clear(),
    lambda w: w.cache._Cache__obj_dict.clear(),
    lambda w: vars(w.cache).clear(),
    lambda w: setattr(w.cls, "TABLE_NAME", 5),
    lambda w: setattr(w.cls, "CACHE", None),
    lambda w: setattr(w.home, "COLUMN_ATTRIBUTES", {"name": ColumnAttribute("name", 1, True, "pets", w.pet)}),
    lambda w: w.other["name"],  # reads a row of another class in the middle of this one's call
    lambda w: w.row.__setitem__("id", 2 ** 70),
    lambda w: gc.collect(),
    lambda w: (_ for _ in ()).throw(Boom("mid-call")),
]


def mutate(which):
    if World.current is not None and which is not None:
        MUTATIONS[which % len(MUTATIONS)](World.current)


def hostile_str(text, which):
    class Name(str):
        def __eq__(self, other):
            mutate(which)
            return str.__eq__(self, other)

        def __hash__(self):
            mutate(which)
            return str.__hash__(self)

    return Name(text)


class Hostile:
    """An object whose every special method and attribute first applies a mutation, then raises
    (mode "raise") or answers with something unexpected (mode "odd")."""

    def __init__(self, which, mode, depth=0):
        self._which, self._mode, self._depth = which, mode, depth

    def __repr__(self):
        return "Hostile(%r, %r)" % (self._which, self._mode)

    def _act(self, odd):
        mutate(self._which)
        if self._mode == "raise" or self._depth > 2:
            raise Boom(self._mode)
        return odd

    def _child(self, *ignored, **also_ignored):
        return self._act(Hostile(self._which, self._mode, self._depth + 1))

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)
        return self._child()

    __call__ = __eq__ = __getitem__ = __enter__ = _child

    def __iter__(self):
        return self._act(iter([Hostile(self._which, self._mode, self._depth + 1), None, 2 ** 64]))


# the unexpected answers of the other special methods
for _name, _odd in {"__hash__": 2 ** 100, "__bool__": True, "__len__": 3, "__index__": -2 ** 63, "__str__": "id",
                    "__exit__": None}.items():
    setattr(Hostile, _name, lambda self, *exc, _odd=_odd: self._act(_odd))


def hostile_attribute(which):
    """A column descriptor whose default is a property that applies a mutation when read."""
    def read(self):
        mutate(which)
        return vars(self).get("stored_default")

    attribute = type("Attribute", (ColumnAttribute,), {"default": property(read, lambda self, value: vars(self).update(
        stored_default=value))})
    return attribute("id", 0, which % 2 == 0, "homes", None)


WORLD_REFS = {
    "row": lambda w: w.row, "class": lambda w: w.cls, "cache": lambda w: w.cache, "pool": lambda w: w.pool,
    "connection": lambda w: w.held, "other row": lambda w: w.other, "home class": lambda w: w.home,
    "unsaved row": lambda w: w.cls(name="new", home_id=w.home(name="h"), pets=[w.pet(name="p")]),
}
PLAIN = [None, 0, 1, -1, True, 2 ** 31, 2 ** 63, -2 ** 63 - 1, 2 ** 64 + 1, 10 ** 40, -10 ** 40, 0.5,
         float("nan"), "", "id", "name", "home_id", "pets", "homes", "persons", "no_such", "`x`", "a%sb",
         "%", "id\0x", "\udcff", "SELECT 1", "SELECT * FROM homes", "DELETE FROM pets WHERE id = 0", b"id",
         "`; DROP TABLE homes; --", (1, 2), (), [], {}, object(), TableBase, ColumnAttribute, Boom]
which = st.integers(0, len(MUTATIONS) - 1)
texts = st.sampled_from(["id", "name", "home_id", "pets", "homes", "x"])

recipes = st.recursive(
    st.one_of(
        st.sampled_from(PLAIN).map(lambda v: lambda w: v),
        st.sampled_from(sorted(WORLD_REFS)).map(lambda k: WORLD_REFS[k]),
        st.integers(-2 ** 70, 2 ** 70).map(lambda v: lambda w: v),
        st.builds(lambda t, m: lambda w: hostile_str(t, m), texts, which),
        st.builds(lambda m, mode: lambda w: Hostile(m, mode), which, st.sampled_from(["raise", "odd"])),
        which.map(lambda m: lambda w: hostile_attribute(m)),
    ),
    lambda inner: st.one_of(
        st.lists(inner, max_size=3).map(lambda items: lambda w: [r(w) for r in items]),
        st.lists(inner, max_size=3).map(lambda items: lambda w: tuple(r(w) for r in items)),
        st.lists(st.tuples(texts, inner), max_size=3).map(lambda items: lambda w: {k: r(w) for k, r in items}),
        st.builds(lambda a, b, c: lambda w: MultiForeignAttr(a(w), b(w), c(w), w.pet), inner, inner, inner),
    ),
    max_leaves=6)

# Subscripts go through the type's slots, which may take a shorter way than the method itself.
TARGETS = dict({f.__qualname__: f for f in callables()}, **{"TableBase[name]": operator.getitem,
                                                           "TableBase[name]=": operator.setitem})
OWNER_GROUPS = {"": "module", "CNXGuard": "guard", "CNXPool": "pool", "Cache": "cache", "TableBase": "rows",
                "ColumnAttribute": "descriptors", "MultiForeignAttr": "descriptors"}
GROUPS = {group: [q for q in TARGETS if OWNER_GROUPS[q.split("[")[0].rpartition(".")[0]] == group]
          for group in set(OWNER_GROUPS.values())}


def parameters(qualname):
    if "[" in qualname:
        return ["self", "name", "value"][:2 + qualname.endswith("=")]
    return list(inspect.signature(TARGETS[qualname]).parameters)


def receiver(qualname, w):
    """The usual `self` of a method, on objects that cannot disturb the counted pool."""
    owner = qualname.split(".")[0].split("[")[0]
    if owner == "CNXPool":
        # settings replaced by __init__ are never used to connect: that pool is a new one
        return CNXPool.__new__(CNXPool) if qualname.endswith("__init__") else w.spare_pool
    return {"CNXGuard": lambda: CNXGuard(None, w.spare_pool), "Cache": lambda: w.cache,
            "ColumnAttribute": lambda: ColumnAttribute.__new__(ColumnAttribute),
            "MultiForeignAttr": lambda: MultiForeignAttr.__new__(MultiForeignAttr),
            "TableBase": lambda: w.row}[owner]()


def const(value):
    return st.just(lambda w: value)


def ref(name):
    return st.just(WORLD_REFS[name])


# Values that fit a parameter, so that calls get past their first checks more often than not.
FITTING = {
    "cnx": st.one_of(const(None), ref("connection")), "pool": st.one_of(const(None), ref("pool")),
    "table": st.sampled_from(["homes", "persons", "pets"]).map(lambda t: lambda w: t),
    "id": st.integers(-1, 4).map(lambda i: lambda w: i), "_class": st.one_of(ref("class"), ref("home class")),
    "obj": st.one_of(ref("row"), ref("unsaved row"), ref("other row")),
    "name": texts.map(lambda t: lambda w: t), "column_name": texts.map(lambda t: lambda w: t),
}


def argument(name):
    return st.one_of(FITTING[name], recipes) if name in FITTING else recipes


@st.composite
def calls(draw, group):
    qualname = draw(st.sampled_from(GROUPS[group]))
    names = parameters(qualname)
    own_self = names[:1] == ["self"] and draw(st.integers(0, 9)) > 0
    free = names[1:] if own_self else names
    # mostly as many arguments as there are parameters, so that calls get past their binding
    count = draw(st.one_of(st.just(len(free)), st.integers(0, len(free) + 1)))
    given = draw(st.integers(0, count))
    padded = free + ["extra"]
    positional = [draw(argument(name)) for name in padded[:given]]
    keywords = []
    for name in padded[given:count]:
        key = draw(st.one_of(st.just(name), st.sampled_from(["cnx", "pool", "bogus"]),
                             st.builds(hostile_str, st.just(name), which)))
        keywords.append((key, draw(argument(name))))
    return qualname, own_self, positional, keywords


def check_call(w, call):
    qualname, own_self, positional, keywords = call
    target = TARGETS[qualname]
    args = [r(w) for r in positional]
    if own_self:
        args.insert(0, receiver(qualname, w))
    kwargs = {name: r(w) for name, r in keywords}
    World.current = w  # hostile values act only inside the call
    try:
        target(*args, **kwargs)
    except SystemError:
        raise
    except Exception:
        pass
    finally:
        World.current = None


@pytest.fixture
def world_factory(dbconfig, db):
    for name, extra in TABLES.items():
        db.run("CREATE TABLE %s (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20)%s)" % (name, extra))
    db.run("INSERT INTO homes (name) VALUES ('h1'), ('h2'), ('h3')")
    real = CNXPool(**dbconfig)
    pool = CountingPool(real)
    held = []

    def make():
        # a call may have closed the held connection (given to a pool that closes a fourth one)
        if not held or not held[0].is_connected():
            held[:] = [mysql.connector.connect(**dbconfig)]
        return World(pool, held[0], dbconfig)

    yield make
    World.current = None
    CNXGuard.POOL = None
    for connection in held + real._CNXPool__pool:
        connection.close()


def end_example(w):
    CNXGuard.POOL = None
    if w.held.is_connected():
        w.held.rollback()
    for connection in w.spare_pool._CNXPool__pool:
        if connection is not w.held and isinstance(connection, MySQLConnectionAbstract):
            connection.close()


@pytest.mark.parametrize("group", sorted(GROUPS))
def test_hostile_calls_raise_only_python_errors_and_give_back_every_connection(world_factory, group):
    @FUZZ
    @given(st.lists(calls(group), min_size=1, max_size=3))
    def run(sequence):
        w = world_factory()
        CNXGuard.POOL = w.pool
        try:
            for call in sequence:
                check_call(w, call)
        finally:
            end_example(w)
        assert w.pool.out == 0, "a connection stayed borrowed"
        assert not any(c.in_transaction for c in w.pool.real._CNXPool__pool), "a connection came back mid-transaction"

    run()
    # the pool still serves ordinary work afterwards
    brx_sql.Execute("SELECT COUNT(*) FROM homes", pool=world_factory().pool)
