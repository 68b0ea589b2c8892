"""Cost of calling a module function with its positional arguments, against a Python function with
the same signature doing the same nothing. Target: ratio <= 0.8.

    python bench/bench_calls.py [--number N] [--repeat R]
"""
import argparse
import timeit

import brx_sql

TARGET = 0.8


def python_twin(foreign_id, foreign_column, foreign_table, _class=None, cnx=None, pool=None):
    return None


def best(statement, namespace, number, repeat):
    """Seconds per call: the minimum over the repeats, the least disturbed by the machine."""
    return min(timeit.repeat(statement, globals=namespace, number=number, repeat=repeat)) / number


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--number", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=7)
    options = parser.parse_args()
    module_call = brx_sql.CNXGuard.SelectForeignAttr
    try:
        module_call(1, "c", "t")
    except NotImplementedError:
        raise SystemExit("CNXGuard.SelectForeignAttr is not written yet")
    namespace = {"module_call": module_call, "python_twin": python_twin}
    module_time = best('module_call(1, "c", "t")', namespace, options.number, options.repeat)
    python_time = best('python_twin(1, "c", "t")', namespace, options.number, options.repeat)
    ratio = module_time / python_time
    print("module function  %.1f ns per call" % (module_time * 1e9))
    print("Python function  %.1f ns per call" % (python_time * 1e9))
    print("ratio %.2f (target <= %.2f): %s" % (ratio, TARGET, "met" if ratio <= TARGET else "NOT met"))
    return 0 if ratio <= TARGET else 1


if __name__ == "__main__":
    raise SystemExit(main())
