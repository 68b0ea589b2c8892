"""A relay on loopback TCP that holds every chunk for a fixed delay in each direction, to measure
as over a network (the kernel here has no queueing disciplines for netem).

    python bench/relay.py TARGET DELAY_SECONDS    prints the port it listens on, then relays

TARGET is the server's Unix socket (a path) or HOST:PORT for TCP.

Every connection gets one queue per direction: a reader thread stamps each chunk with when it may
leave, a sender thread sends it then, so chunks keep their order and a burst is not serialised by
the delay. It runs as a process of its own, so its threads do not take the measured process's
interpreter lock."""
import collections
import socket
import sys
import threading
import time


def pump(source, sink, delay):
    queue = collections.deque()
    ready = threading.Condition()

    def read():
        while True:
            try:
                chunk = source.recv(65536)
            except OSError:
                chunk = b""
            with ready:
                queue.append((time.perf_counter() + delay, chunk))
                ready.notify()
            if not chunk:
                return

    def send():
        while True:
            with ready:
                while not queue:
                    ready.wait()
                due, chunk = queue.popleft()
            pause = due - time.perf_counter()
            if pause > 0:
                time.sleep(pause)
            try:
                if not chunk:
                    sink.shutdown(socket.SHUT_WR)
                    return
                sink.sendall(chunk)
            except OSError:
                return

    for target in (read, send):
        threading.Thread(target=target, daemon=True).start()


def connect(target):
    """A connection to the server: TARGET is a Unix socket's path or HOST:PORT."""
    if "/" in target:
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        server.connect(target)
        return server
    host, _, port = target.rpartition(":")
    server = socket.create_connection((host, int(port)))
    server.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return server


def serve(target, delay):
    listener = socket.create_server(("127.0.0.1", 0))
    print(listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            server = connect(target)
        except OSError:
            client.close()  # the client sees the server gone
            continue
        pump(client, server, delay)
        pump(server, client, delay)


if __name__ == "__main__":
    serve(sys.argv[1], float(sys.argv[2]))
