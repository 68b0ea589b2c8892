"""Workload 6 served by many threads at once, as a web service would: each thread reads pages of
related rows (bench/page.py's systems) for a fixed time; pages per second for all threads together
(median of three turns).

brx_sql shares one CNXPool keeping as many idle connections as there are threads (the guide's recipe
for threaded servers); the raw connector has a connection per thread; peewee keeps one per thread;
SQLAlchemy's engine pool holds one per thread.

    python bench/page_threads.py [threads ...]     (default: 1 4 16)"""
import sys
import threading
import time

import brx_sql
import page
from common import Bench, progress

SECONDS = 3.0
ROUNDS = 3


def raw_pages(bench, threads):
    readers = [page.Raw(bench) for _ in range(threads)]
    return [reader.page for reader in readers]


def module_pages(bench, threads):
    reader = page.Module(bench)
    reader.pool.MAX_IDLE = threads
    return [reader.page] * threads


def peewee_pages(bench, threads):
    return [page.Peewee(bench).page] * threads


def sqlalchemy_pages(bench, threads):
    reader = page.SQLAlchemy(bench)
    reader.engine = bench.sqlalchemy_engine(pool_size=threads)
    return [reader.page] * threads


SYSTEMS = (("raw, IN lists", raw_pages), ("brx_sql", module_pages), ("peewee", peewee_pages),
           ("SQLAlchemy", sqlalchemy_pages))


def serve(readers):
    """Pages read by all `readers` (one thread each) in SECONDS, after one page each to warm up."""
    counts, start, stop = [0] * len(readers), threading.Barrier(len(readers) + 1), threading.Event()

    def work(number, read):
        read(0)
        start.wait()
        done, after = 0, 0
        while not stop.is_set():
            read(after)
            done += 1
            after = (after + page.PAGE) % (page.CUSTOMERS - page.PAGE)
        counts[number] = done

    threads = [threading.Thread(target=work, args=(n, read)) for n, read in enumerate(readers)]
    for thread in threads:
        thread.start()
    start.wait()
    time.sleep(SECONDS)
    stop.set()
    for thread in threads:
        thread.join()
    return sum(counts) / SECONDS


def main():
    counts = [int(arg) for arg in sys.argv[1:]] or [1, 4, 16]
    bench = Bench()
    try:
        page.create(bench)
        print("| threads | " + " | ".join(name for name, _ in SYSTEMS) + " | brx_sql x peewee | brx_sql x SQLAlchemy |")
        print("|---" * (len(SYSTEMS) + 3) + "|")
        for threads in counts:
            progress("page threads: %d" % threads)
            made = [(name, make(bench, threads)) for name, make in SYSTEMS]
            rates = {name: sorted(serve(readers) for _ in range(ROUNDS))[ROUNDS // 2] for name, readers in made}
            print("| %d | " % threads + " | ".join("%.0f pages/s" % rates[name] for name, _ in SYSTEMS)
                  + " | %.2fx | %.2fx |" % (rates["brx_sql"] / rates["peewee"], rates["brx_sql"] / rates["SQLAlchemy"]))
    finally:
        bench.close()


if __name__ == "__main__":
    main()
