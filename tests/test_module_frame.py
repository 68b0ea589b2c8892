"""The module frame: function objects, argument binding with Python's error texts, traceback entries,
globals, loading. (Signatures themselves are checked against the stubs by stubtest.)"""
import ctypes
import importlib.metadata
import inspect
import os
import subprocess
import sys
import textwrap
import traceback

import pytest

import brx_sql

FUNCTION = type(brx_sql.Execute)


def callables():
    """Every function object of the module and of its classes (static methods unwrapped)."""
    found = []
    for value in vars(brx_sql).values():
        members = vars(value).values() if isinstance(value, type) else [value]
        found += [getattr(m, "__func__", m) for m in members if isinstance(getattr(m, "__func__", m), FUNCTION)]
    return found


def last_entry(error):
    return traceback.extract_tb(error.__traceback__)[-1].name


def test_function_objects_look_like_python_functions():
    assert brx_sql.__version__ == importlib.metadata.version("brx_sql")
    for found in callables():
        owner, _, name = found.__qualname__.rpartition(".")
        stored = "_%s%s" % (owner, name) if name.startswith("__") and not name.endswith("__") else name
        assert getattr(getattr(brx_sql, owner) if owner else brx_sql, stored) is found
        assert (found.__name__, found.__module__) == (name, "brx_sql") and inspect.signature(found)
    guard = brx_sql.CNXGuard()
    assert guard.__enter__.__self__ is guard and guard.__enter__.__func__ is vars(brx_sql.CNXGuard)["__enter__"]
    assert guard.Select is brx_sql.CNXGuard.Select and isinstance(vars(brx_sql.CNXGuard)["Select"], staticmethod)


class Unprintable:
    def __repr__(self):  # str() too
        raise RuntimeError("no str")


G = brx_sql.CNXGuard
BINDING_ERRORS = [  # qualified name, call, message after "name() "
    ("CNXPool.__init__", lambda: brx_sql.CNXPool("localhost"),
     "takes exactly 1 positional argument (2 given): the connection settings are keyword arguments, as for "
     'mysql.connector.connect(), e.g. CNXPool(host="localhost", user=..., password=..., database=...)'),
    ("CNXPool.Put", lambda: brx_sql.CNXPool().Put(), "takes exactly 2 positional arguments (1 given)"),
    ("CNXGuard.__init__", lambda: G(1, 2, 3), "takes at most 3 positional arguments (4 given)"),
    ("CNXGuard.__init__", lambda: G.__init__(), "takes at least 1 positional argument (0 given)"),
    ("CNXGuard.Select", lambda: G.Select(id=1, _class=None), "takes at least 3 positional arguments (1 given)"),
    # the missing parameter is reported before the unknown keyword
    ("CNXGuard.Select", lambda: G.Select(1, bogus=2), "takes at least 3 positional arguments (1 given)"),
    ("CNXGuard.Delete", lambda: G.Delete(1, table="t", tabel="x"), "got an unexpected keyword argument 'tabel'"),
    ("CNXGuard.Delete", lambda: G.Delete(1, "t", table="u"), "got multiple values for keyword argument 'table'"),
    ("Cache.__get_pool", lambda: brx_sql.Cache._Cache__get_pool(object()),
     "takes exactly 2 positional arguments (1 given)"),
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


def test_errors_from_inside_carry_the_entry_and_globals():
    with pytest.raises(AttributeError) as caught:
        with brx_sql.CNXGuard():
            pass
    entry = caught.value.__traceback__
    while entry.tb_next is not None:
        entry = entry.tb_next
    assert entry.tb_frame.f_code.co_name == "brx_sql.CNXGuard.__enter__"
    assert entry.tb_frame.f_globals is vars(brx_sql)


def test_reimport_gives_the_same_module():
    classes = brx_sql.CNXPool, brx_sql.TableBase
    del sys.modules["brx_sql"]
    try:
        import brx_sql as again
        assert again is brx_sql and (again.CNXPool, again.TableBase) == classes
    finally:
        sys.modules["brx_sql"] = brx_sql


def test_failed_exec_leaves_no_half_made_module_and_a_second_interpreter_is_refused():
    code = textwrap.dedent("""
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
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            print("no subinterpreters"); raise SystemExit
        try:
            interpreters.run_string(interpreters.create(), "import brx_sql")
        except Exception as error:
            print(error)
    """)
    path = os.pathsep.join([os.path.dirname(brx_sql.__file__)] + sys.path)  # the same brx_sql as here
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120,
                            env=dict(os.environ, PYTHONPATH=path))
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "no subinterpreters" or (
        "ImportError" in result.stdout and "Interpreter change detected - this module can only be loaded into one"
        " interpreter per process." in result.stdout)
