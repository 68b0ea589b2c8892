"""A relay on loopback TCP between clients and a test server that can lose the reply to a COMMIT.

Two threads relay each connection, one each way. The client's side is read as protocol packets (a
3-byte length, a sequence number, the payload); when the relay is armed and a client sends the query
COMMIT, it forwards it, throws the server's reply away and closes both sides: the server has
committed, while the client sees its connection lost in the middle of the COMMIT.
"""
import socket
import threading

COM_QUERY = 3


def _read_exact(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            return None
        data += chunk
    return data


class _Relay:
    def __init__(self, proxy, client, target):
        if target.get("unix_socket"):
            self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            self.server.connect(target["unix_socket"])
        else:
            self.server = socket.create_connection((target.get("host", "127.0.0.1"), int(target.get("port", 3306))))
        self.proxy, self.client = proxy, client
        self.swallow = threading.Event()  # the next bytes from the server answer a lost COMMIT
        self.closed = threading.Lock()
        for target in (self.client_to_server, self.server_to_client):
            threading.Thread(target=target, daemon=True).start()

    def close(self):
        if self.closed.acquire(blocking=False):
            for sock in (self.client, self.server):
                try:
                    sock.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                sock.close()

    def client_to_server(self):
        try:
            while True:
                header = _read_exact(self.client, 4)
                payload = header and _read_exact(self.client, int.from_bytes(header[:3], "little"))
                if payload is None:
                    break
                commit = payload[:1] == bytes([COM_QUERY]) and payload[1:].strip().upper() in (b"COMMIT", b"COMMIT WORK")
                if commit and self.proxy.take_drop():
                    self.swallow.set()
                self.server.sendall(header + payload)
        except OSError:
            pass
        if not self.swallow.is_set():
            self.close()

    def server_to_client(self):
        try:
            while True:
                data = self.server.recv(65536)
                if not data:
                    break
                if self.swallow.is_set():  # the client waits for this reply alone: all before it was relayed
                    self.proxy.note_dropped()
                    break
                self.client.sendall(data)
        except OSError:
            pass
        self.close()


class CommitDropProxy:
    """`settings()` gives connection settings through the relay; `drop_commits(n)` arms it for the
    next n COMMITs; `dropped` counts the replies thrown away; `wait_dropped(n)` waits for them."""

    def __init__(self, target):
        self.target = dict(target)
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.changed = threading.Condition()
        self.armed = self.dropped = 0
        self.relays = []
        threading.Thread(target=self.accept_loop, daemon=True).start()

    def settings(self):
        return {"host": "127.0.0.1", "port": self.listener.getsockname()[1]}

    def drop_commits(self, count=1):
        with self.changed:
            self.armed += count

    def take_drop(self):
        with self.changed:
            if self.armed <= 0:
                return False
            self.armed -= 1
            return True

    def note_dropped(self):
        with self.changed:
            self.dropped += 1
            self.changed.notify_all()

    def wait_dropped(self, count, timeout=10):
        with self.changed:
            return self.changed.wait_for(lambda: self.dropped >= count, timeout)

    def accept_loop(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return  # closed
            try:
                self.relays.append(_Relay(self, client, self.target))
            except OSError:
                client.close()

    def close(self):
        try:
            self.listener.shutdown(socket.SHUT_RDWR)  # wakes the accepting thread
        except OSError:
            pass
        self.listener.close()
        for relay in self.relays:
            relay.close()
