"""The module frame: attributes, classes, function objects, argument binding, traceback entries, loading."""
import builtins
import ctypes
import importlib.metadata
import inspect
import os
import subprocess
import sys
import textwrap
import threading
import traceback

import mysql.connector
import pytest

import brx_sql

MODULE_NAMES = ["__builtins__", "_connector", "_Lock", "CNXPool", "CNXGuard", "Cache", "ColumnAttribute",
                "MultiForeignAttr", "TableBase", "GetTableNames", "GetCreateTableStatement", "Execute", "Query",
                "FillForeignMany", "LOG_PARAMETERS",
                "__version__", "__test__"]
IMPORT_SYSTEM_NAMES = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__", "__path__"}

TABLE_BASE_DOC = (" Every derived table must override TABLE_NAME and COLUMN_NAMES.\n\tIf derived table has foreign "
                  "key(s), it must override COLUMN_ATTRIBUTES for foreign key column(s).\n\n\tIf derived table has "
                  "multiple-foreign attribute, it *should* override MULTI_FOREIGN_ATTR.\n\tIf you do use features "
                  "this class provides, it *must*.\n\t")

# Every callable: qualified name -> signature as inspect shows it. Static methods carry no self.
SIGNATURES = {
    "CNXPool.__init__": "(self, **dbconfig)",
    "CNXPool.Get": "(self)",
    "CNXPool.Put": "(self, connection)",
    "CNXGuard.__init__": "(self, cnx=None, pool=None)",
    "CNXGuard.__enter__": "(self)",
    "CNXGuard.__exit__": "(self, exception_type, exception_value, exception_traceback)",
    "CNXGuard.Select": "(id, table, _class, cnx=None, pool=None)",
    "CNXGuard.SelectForeignAttr": "(foreign_id, foreign_column, foreign_table, _class=None, cnx=None, pool=None)",
    "CNXGuard.Insert": "(table, column_names, column_values, cnx=None, pool=None)",
    "CNXGuard.Delete": "(id, table, cnx=None, pool=None)",
    "CNXGuard.AlterAutoIncrement": "(table, value=1, cnx=None, pool=None)",
    "CNXGuard.ClearTable": "(tables, cnx=None, pool=None)",
    "Cache.__init__": "(self, pool=None)",
    "Cache.__get_pool": "(self, pool)",
    "Cache.SetPool": "(self, pool)",
    "Cache.Select": "(self, id, table, _class=None, cnx=None, pool=None)",
    "Cache.Delete": "(self, obj, table=None, cnx=None, pool=None)",
    "Cache.Insert": "(self, obj, table=None, cnx=None, pool=None)",
    "Cache.CachedTable": "(self, table)",
    "Cache.ClearTable": "(self, table)",
    "Cache.Cache": "(self, table, _class=None, cnx=None, pool=None)",
    "Cache.Refresh": "(self, table, clear=True, cnx=None, pool=None)",
    "Cache.Tables": "(self)",
    "Cache.Update": "(self, table, cnx=None, pool=None)",
    "ColumnAttribute.__init__": "(self, name, default=None, isForeignKey=False, foreignTableName=None, "
                                "foreignClass=None)",
    "MultiForeignAttr.__init__": "(self, attr_name, foreign_name, foreign_attr_table, _class)",
    "TableBase.__init__": "(self, *column_tuple, **column_dict)",
    "TableBase.__is_foreign": "(self, name)",
    "TableBase.__is_foreign_key": "(self, name)",
    "TableBase.__get_default": "(self, name)",
    "TableBase.__get_pool": "(self, pool)",
    "TableBase.__getitem__": "(self, name)",
    "TableBase.__setitem__": "(self, name, value)",
    "TableBase.__get_foreigns": "(self)",
    "TableBase.FillForeign": "(self, deep=True, cnx=None, pool=None)",
    "TableBase.Insert": "(self, cnx=None, pool=None)",
    "TableBase.__insert_multi_foreign_attr": "(self, cnx)",
    "TableBase.__delete_multi_foreign_attr": "(self, cnx)",
    "TableBase.Delete": "(self, cnx=None, pool=None)",
    "TableBase.__column_value_for_update": "(self, column_name)",
    "TableBase.Update": "(self, update_multi_foreign=True, cnx=None, pool=None)",
    "GetTableNames": "(cnx=None, pool=None)",
    "GetCreateTableStatement": "(table, cnx=None, pool=None)",
    "Execute": "(statement, cnx=None, pool=None)",
    "Query": "(statement, params=None, _class=None, cnx=None, pool=None)",
    "FillForeignMany": "(rows, paths, cnx=None, pool=None)",
}
CLASS_ATTRIBUTES = {"CNXGuard": ["POOL"], "CNXPool": ["MAX_IDLE", "PING_AFTER"],
                    "TableBase": ["TABLE_NAME", "COLUMN_NAMES", "COLUMN_ATTRIBUTES", "MULTI_FOREIGN_ATTR", "CACHE",
                                  "POOL"]}
STATIC = {"Select", "SelectForeignAttr", "Insert", "Delete", "AlterAutoIncrement", "ClearTable"}


def stored_name(qualname):
    owner, _, name = qualname.rpartition(".")
    private = name.startswith("__") and not name.endswith("__")
    return owner, ("_%s%s" % (owner, name) if private else name)


def raw_callable(qualname):
    """The object stored in the namespace (the staticmethod wrapper for static methods)."""
    owner, name = stored_name(qualname)
    return vars(getattr(brx_sql, owner))[name] if owner else getattr(brx_sql, name)


def function(qualname):
    found = raw_callable(qualname)
    return found.__func__ if isinstance(found, staticmethod) else found


def last_entry(error):
    return traceback.extract_tb(error.__traceback__)[-1].name


def run_python(code, **env):
    """Runs code in a fresh interpreter that imports the same brx_sql as this one."""
    path = os.pathsep.join([os.path.dirname(brx_sql.__file__)] + sys.path)
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=path, **env), timeout=120)


def test_module_attributes():
    namespace = vars(brx_sql)
    assert [name for name in namespace if name not in IMPORT_SYSTEM_NAMES] == MODULE_NAMES
    assert brx_sql.__doc__ is None
    assert brx_sql.__builtins__ is builtins or brx_sql.__builtins__ is vars(builtins)
    assert brx_sql._connector is mysql.connector and brx_sql._Lock is threading.Lock
    assert brx_sql.__test__ == {}
    assert brx_sql.__name__ == "brx_sql" and brx_sql.__file__ == brx_sql.__spec__.origin
    assert brx_sql.__package__ == "" and not hasattr(brx_sql, "__path__")


def test_version_is_the_installed_distributions():
    assert brx_sql.__version__ == importlib.metadata.version("brx_sql")


def test_classes_and_their_namespaces():
    added_by_type = {"__dict__", "__weakref__", "__doc__"}
    for class_name in ("CNXPool", "CNXGuard", "Cache", "ColumnAttribute", "MultiForeignAttr", "TableBase"):
        cls = getattr(brx_sql, class_name)
        assert type(cls) is type and cls.__bases__ == (object,)
        assert (cls.__module__, cls.__qualname__, cls.__name__) == ("brx_sql", class_name, class_name)
        methods = [stored_name(q)[1] for q in SIGNATURES if q.startswith(class_name + ".")]
        expected = ["__module__"] + (["__doc__"] if class_name == "TableBase" else [])
        expected += CLASS_ATTRIBUTES.get(class_name, []) + methods
        assert [name for name in vars(cls) if name in expected or name not in added_by_type] == expected
        assert cls.__doc__ == (TABLE_BASE_DOC if class_name == "TableBase" else None)
    table = brx_sql.TableBase
    assert (table.TABLE_NAME, table.COLUMN_NAMES, table.COLUMN_ATTRIBUTES, table.MULTI_FOREIGN_ATTR,
            table.CACHE, table.POOL, brx_sql.CNXGuard.POOL) == ("table_base", [], {}, {}, None, None, None)


def test_function_objects():
    function_type = type(brx_sql.Execute)
    assert function_type.__flags__ & (1 << 17), "method descriptor flag: no bound-method allocation"
    for qualname, signature in SIGNATURES.items():
        found, raw = function(qualname), raw_callable(qualname)
        name = qualname.rpartition(".")[2]
        assert type(found) is function_type
        assert (found.__name__, found.__qualname__, found.__module__) == (name, qualname, "brx_sql")
        assert str(inspect.signature(found)) == signature, qualname
        defaults = tuple(p.default for p in inspect.signature(found).parameters.values()
                         if p.default is not inspect.Parameter.empty)
        assert found.__defaults__ == (defaults or None)
        assert isinstance(raw, staticmethod) == (qualname.startswith("CNXGuard.") and name in STATIC)
        expected_doc = ("We don't implement this method, since it's not a good idea to cache multi foreign "
                        "attribute table." if qualname == "CNXGuard.SelectForeignAttr" else None)
        assert found.__doc__ == expected_doc


def test_methods_bind_like_python_functions():
    guard = brx_sql.CNXGuard()
    bound = guard.__enter__
    assert bound.__self__ is guard and bound.__func__ is brx_sql.CNXGuard.__dict__["__enter__"]
    assert brx_sql.CNXGuard.__enter__ is brx_sql.CNXGuard.__dict__["__enter__"]
    assert guard.Select is brx_sql.CNXGuard.Select is function("CNXGuard.Select")


class Unprintable:
    def __repr__(self):  # str() too
        raise RuntimeError("no str")


G, Cache = brx_sql.CNXGuard, brx_sql.Cache
BINDING_ERRORS = [  # qualified name, call, message after "name() "
    ("CNXPool.__init__", lambda: brx_sql.CNXPool("localhost"),
     "takes exactly 1 positional argument (2 given): the connection settings are keyword arguments, as for "
     'mysql.connector.connect(), e.g. CNXPool(host="localhost", user=..., password=..., database=...)'),
    ("CNXPool.Get", lambda: brx_sql.CNXPool().Get(1), "takes exactly 1 positional argument (2 given)"),
    ("CNXPool.Put", lambda: brx_sql.CNXPool().Put(), "takes exactly 2 positional arguments (1 given)"),
    ("CNXGuard.__init__", lambda: G(1, 2, 3), "takes at most 3 positional arguments (4 given)"),
    ("CNXGuard.__init__", lambda: G.__init__(), "takes at least 1 positional argument (0 given)"),
    ("CNXGuard.__exit__", lambda: G().__exit__(None), "takes exactly 4 positional arguments (2 given)"),
    ("GetTableNames", lambda: brx_sql.GetTableNames(1, 2, 3), "takes at most 2 positional arguments (3 given)"),
    ("CNXGuard.Select", lambda: G.Select(1, 2, 3, 4, 5, 6), "takes at most 5 positional arguments (6 given)"),
    ("CNXGuard.Select", lambda: G.Select(id=1, _class=None), "takes at least 3 positional arguments (1 given)"),
    # the missing parameter is reported before the unknown keyword
    ("CNXGuard.Select", lambda: G.Select(1, bogus=2), "takes at least 3 positional arguments (1 given)"),
    ("CNXGuard.Delete", lambda: G.Delete(1, table="t", tabel="x"), "got an unexpected keyword argument 'tabel'"),
    ("CNXGuard.Delete", lambda: G.Delete(1, "t", table="u"), "got multiple values for keyword argument 'table'"),
    ("Cache.Select", lambda: Cache.Select(object(), 1), "takes at least 3 positional arguments (2 given)"),
    ("Cache.__get_pool", lambda: Cache._Cache__get_pool(object()), "takes exactly 2 positional arguments (1 given)"),
    ("MultiForeignAttr.__init__", lambda: brx_sql.MultiForeignAttr(1, 2, 3),
     "takes exactly 5 positional arguments (4 given)"),
    ("Execute", lambda: brx_sql.Execute(statement=Unprintable(), **{"bad kw": Unprintable()}),
     "got an unexpected keyword argument 'bad kw'"),
]


@pytest.mark.parametrize("qualname, call, message", BINDING_ERRORS, ids=[m for _, _, m in BINDING_ERRORS])
def test_binding_errors_and_traceback_entry(qualname, call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == qualname.rpartition(".")[2] + "() " + message
    assert last_entry(caught.value) == "brx_sql." + qualname
    assert caught.value.__traceback__.tb_next is not None


def test_non_string_keywords():
    # Only a vectorcall can pass keyword names that are not strings; 3.10 keeps it header-only.
    vectorcall = getattr(ctypes.pythonapi, "PyObject_Vectorcall", None)
    if vectorcall is None:
        pytest.skip("this interpreter does not export PyObject_Vectorcall")
    vectorcall.restype = ctypes.py_object
    vectorcall.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]
    values = (ctypes.py_object * 1)(5)
    with pytest.raises(TypeError) as caught:
        vectorcall(brx_sql.GetTableNames, ctypes.cast(values, ctypes.c_void_p), 0, (1,))
    assert str(caught.value) == "GetTableNames() keywords must be strings"
    assert last_entry(caught.value) == "brx_sql.GetTableNames"
    with pytest.raises(TypeError, match="^keywords must be strings$"):
        brx_sql.Execute(**{1: 2})


def test_errors_from_inside_carry_the_entry_and_globals():
    with pytest.raises(AttributeError) as caught:
        with brx_sql.CNXGuard():
            pass
    entry = caught.value.__traceback__
    while entry.tb_next is not None:
        entry = entry.tb_next
    assert entry.tb_frame.f_code.co_name == "brx_sql.CNXGuard.__enter__"
    assert entry.tb_frame.f_globals is vars(brx_sql)


def test_globals_are_looked_up_at_each_use(monkeypatch):
    monkeypatch.delattr(brx_sql, "_Lock")
    with pytest.raises(NameError, match="^name '_Lock' is not defined$"):
        brx_sql.CNXPool()
    monkeypatch.setattr(brx_sql, "_Lock", lambda: "a lock", raising=False)
    assert brx_sql.CNXPool()._CNXPool__lock == "a lock"


def test_reimport_gives_the_same_module():
    classes = brx_sql.CNXPool, brx_sql.TableBase
    del sys.modules["brx_sql"]
    try:
        import brx_sql as again
        assert again is brx_sql and (again.CNXPool, again.TableBase) == classes
    finally:
        sys.modules["brx_sql"] = brx_sql


def test_failed_exec_leaves_no_half_made_module():
    result = run_python("""
        import sys, traceback, warnings
        warnings.simplefilter("error")  # built for this interpreter: no version warning
        sys.modules["mysql.connector"] = None
        try:
            import brx_sql
        except ModuleNotFoundError as error:
            names = [entry.name for entry in traceback.extract_tb(error.__traceback__)]
            assert "init brx_sql" in names, names
        assert "brx_sql" not in sys.modules
        del sys.modules["mysql.connector"]
        import brx_sql, mysql.connector
        assert brx_sql._connector is mysql.connector and brx_sql.CNXPool.__name__ == "CNXPool"
        print("ok")
    """)
    assert result.returncode == 0 and result.stdout.strip() == "ok", result.stderr


def test_second_interpreter_is_refused():
    result = run_python("""
        import brx_sql
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            print("skip"); raise SystemExit
        other = interpreters.create()
        try:
            interpreters.run_string(other, "import brx_sql")
        except Exception as error:
            print(error)
    """)
    if result.stdout.strip() == "skip":
        pytest.skip("no subinterpreter API in this interpreter")
    assert result.returncode == 0, result.stderr
    assert "ImportError" in result.stdout
    assert ("Interpreter change detected - this module can only be loaded into one interpreter per process."
            in result.stdout)
