"""C++ allocation failures, which surface as MemoryError with the guard rolled back."""
import json
import os
import subprocess
import sys

import pytest

SHIM = r"""
#include <cstdlib>
#include <new>
static long countdown = -1;  // allocations left before one fails; -1: never
extern "C" void fail_allocation_after(long n) { countdown = n; }
void* operator new(std::size_t size) {
    if (countdown == 0) { countdown = -1; throw std::bad_alloc(); }
    if (countdown > 0) --countdown;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
"""

SCRIPT = r"""
import ctypes, json, sys, traceback
import brx_sql
from brx_sql import CNXGuard, TableBase
from tables import Person, Pet, ids
shim = ctypes.CDLL(sys.argv[1])
pool = brx_sql.CNXPool(**json.loads(sys.argv[2]))
failures = 0
for n in range(200):
    person = Person(name="p%d" % n)
    person["pets"] = [Pet(name="a%d" % n), Pet(name="b%d" % n)]  # stored after their owner
    shim.fail_allocation_after(n)
    try:
        person.Insert(pool=pool)
    except MemoryError:
        failures += 1
        assert ids(person, *person.pets) == [0, 0, 0]
        left = "SELECT (SELECT COUNT(*) FROM homes) + (SELECT COUNT(*) FROM persons) + (SELECT COUNT(*) FROM pets)"
        assert brx_sql.Execute(left, pool=pool) == [(0,)], "a failed insert left rows"
        continue
    finally:
        shim.fail_allocation_after(-1)
    break
try:
    shim.fail_allocation_after(0)
    brx_sql.CNXGuard.Select(id=1, table="persons", _class=Person, pool=pool, cnx=None)
except MemoryError:
    failures += 1
finally:
    shim.fail_allocation_after(-1)
# A callable's first failure builds its traceback entry: with the next allocation failing too, the
# binding's TypeError still comes out, entry and all.
for fn in (CNXGuard.Delete, TableBase.FillForeign, brx_sql.GetCreateTableStatement):
    shim.fail_allocation_after(0)
    try:
        fn()
    except TypeError as error:
        assert traceback.extract_tb(error.__traceback__)[-1].name == "brx_sql." + fn.__qualname__
    finally:
        shim.fail_allocation_after(-1)
print(failures, person["id"] > 0 and all(pet["owner_id"] is person for pet in person.pets))
"""


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer runtime owns operator new in this run")
def test_allocation_failures_in_cpp_become_memory_errors_and_roll_back(tables, dbconfig, tmp_path):
    """Each C++ allocation of a graph insert fails in turn (operator new preloaded into a child); the ids
    are put back and nothing is stored each time, and the next attempt succeeds."""
    source = tmp_path / "shim.cpp"
    source.write_text(SHIM)
    shim = tmp_path / "shim.so"
    subprocess.run(["g++", "-shared", "-fPIC", "-O1", "-o", str(shim), str(source)], check=True)
    path = os.pathsep.join([os.path.dirname(__file__)] + sys.path)
    env = dict(os.environ, LD_PRELOAD=str(shim), PYTHONPATH=path)
    done = subprocess.run([sys.executable, "-c", SCRIPT, str(shim), json.dumps(dbconfig)],
                          env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    failures, stored = done.stdout.split()
    assert int(failures) >= 2 and stored == "True", done.stdout
