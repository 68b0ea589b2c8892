"""Running the code examples of the README and docs/ against a test server.

Every ```python block of a Markdown file is an example that must run. The blocks of one file run
in order in one namespace, so a later block may use what an earlier one defined, as a reader would.

Examples show ordinary connection settings (a host, a socket, `failover=[...]`); while a file runs,
`mysql.connector.connect` is replaced by one that keeps the example's other settings (user,
password, autocommit, use_pure...) but connects to the test server and database given instead.
"""
import contextlib
import re
import textwrap

import mysql.connector

# Settings that say which server and account to use; the test target's replace them.
TARGET_KEYS = ("host", "port", "unix_socket", "database", "db", "failover", "user", "password")

# A fence may be indented, as inside a list item; its code then is too.
_BLOCK = re.compile(r"^[ \t]*```python[^\n]*\n(.*?)^[ \t]*```", re.MULTILINE | re.DOTALL)


def python_blocks(text):
    """(line number, code) of every ```python block of a Markdown text, in order."""
    blocks = []
    for match in _BLOCK.finditer(text):
        line = text.count("\n", 0, match.start(1)) + 1
        blocks.append((line, textwrap.dedent(match.group(1))))
    return blocks


@contextlib.contextmanager
def redirected_connect(target, defaults=None):
    """mysql.connector.connect goes to `target` (connection settings) instead; `defaults` (settings
    such as use_pure) apply where the example gives no value of its own."""
    real = mysql.connector.connect

    def connect(*args, **settings):
        kept = dict(defaults or {})
        kept.update((key, value) for key, value in settings.items() if key not in TARGET_KEYS)
        kept.update(target)
        if "failover" in target:  # the connector writes into the dicts it is given: hand it copies
            kept["failover"] = tuple(dict(server) for server in target["failover"])
        return real(**kept)

    mysql.connector.connect = connect
    try:
        yield
    finally:
        mysql.connector.connect = real


def run_document(path, target, namespace=None, defaults=None):
    """Runs every python block of the file at `path`, in order, with connections redirected
    (`defaults`: settings used where an example gives none, see redirected_connect)."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    namespace = {"__name__": "__doc_example__"} if namespace is None else namespace
    with redirected_connect(target, defaults):
        for line, code in python_blocks(text):
            # Blank lines in front keep the traceback's line numbers those of the file.
            compiled = compile("\n" * (line - 1) + code, str(path), "exec")
            exec(compiled, namespace)
    return namespace
