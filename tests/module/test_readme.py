import builtins
import doctest
import importlib.util
import pathlib
import re
import subprocess
import symtable
import sys

import merandol
import merandol_interop
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = ROOT / "README.md"
TEXT = README.read_text() if README.exists() else ""
BLOCKS = [(TEXT.count("\n", 0, m.start()) + 2, m[1]) for m in re.finditer(r"^```python\n(.*?)^```", TEXT, re.M | re.S)]
pytestmark = pytest.mark.skipif(not TEXT, reason="README.md is not beside the tests")


def unbound(source):
    """The names that a block reads and neither binds nor imports."""
    top, read = symtable.symtable(source, "block", "exec"), set()
    tables = [top]
    while tables:
        table = tables.pop()
        read |= {s.get_name() for s in table.get_symbols() if s.is_referenced() and (table is top or s.is_global())}
        tables += table.get_children()
    return read - {s.get_name() for s in top.get_symbols() if s.is_assigned() or s.is_imported()} - set(dir(builtins))


@pytest.mark.parametrize("block", [text for _, text in BLOCKS], ids=[f"line {line}" for line, _ in BLOCKS])
def test_each_block_runs_alone(block, tmp_path):
    """Each example holds in a fresh interpreter of its own; one that is not
    a session (the Dask example) at least binds every name it reads."""
    examples = doctest.DocTestParser().get_examples(block)
    source = "".join(e.source for e in examples) or block
    assert not unbound(source)
    imported = re.findall(r"^\s*(?:import|from) (\w+)", source, re.M)
    if missing := [name for name in imported if importlib.util.find_spec(name) is None]:
        pytest.skip(f"{', '.join(missing)} cannot be imported here")
    if examples:
        (tmp_path / "block.txt").write_text(block)
        finished = subprocess.run([sys.executable, "-m", "doctest", tmp_path / "block.txt"], capture_output=True)
        assert finished.returncode == 0, (finished.stdout + finished.stderr).decode()


def test_names_and_paths_exist():
    """Every module attribute and every file of the clone that the README names."""
    for module in (merandol, merandol_interop):
        assert {n for n in re.findall(rf"`{module.__name__}\.(\w+)", TEXT)} <= set(dir(module))
    paths = re.findall(
        r"`((?:core|binding|module|interop|stubs|tests|fuzz|benchmarks|tools|examples|docs)/[\w./-]*)", TEXT
    )
    assert [p for p in paths if not (ROOT / p).exists()] == []
