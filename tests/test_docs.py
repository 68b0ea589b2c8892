"""The ```python blocks of README.md and docs/*.md run in order, in one namespace per file, in both connector
modes, with their connection settings redirected to the test database."""
import pathlib

import pytest

import brx_sql
from support.doc_blocks import python_blocks, run_document
from tables import close_idle

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOCUMENTS = [ROOT / "README.md"] + sorted((ROOT / "docs").glob("*.md"))


@pytest.mark.parametrize("path", DOCUMENTS, ids=lambda path: path.relative_to(ROOT).as_posix())
def test_examples_run(path, server, clean_databases, connector_mode):
    if not python_blocks(path.read_text(encoding="utf-8")):
        pytest.skip("no python examples")
    target = dict(server.settings(), database=clean_databases[0])
    namespace = {"__name__": "__doc_example__"}
    try:
        run_document(path, target, namespace, defaults={"use_pure": connector_mode == "pure"})
    finally:
        for value in list(namespace.values()):  # the pools an example made keep idle connections
            close_idle(value)
        brx_sql.CNXGuard.POOL = None


def test_the_readme_and_the_guide_have_examples():
    # A fence written wrongly would make the check above pass without running anything.
    for path in (ROOT / "README.md", ROOT / "docs" / "guide.md"):
        assert python_blocks(path.read_text(encoding="utf-8")), path


def test_the_readme_runs_twice_in_one_database(server, clean_databases):
    """A reader runs the first example again: it makes its tables anew instead of failing on them."""
    target = dict(server.settings(), database=clean_databases[0])
    for _ in range(2):
        namespace = {"__name__": "__doc_example__"}
        try:
            run_document(ROOT / "README.md", target, namespace, defaults={"use_pure": True})
        finally:
            for value in list(namespace.values()):
                close_idle(value)
            brx_sql.CNXGuard.POOL = None
