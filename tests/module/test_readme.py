import builtins
import doctest
import json
import pathlib
import re
import subprocess
import symtable
import sys

import merandol
import merandol_interop
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
TEXT = (ROOT / "README.md").read_text() if (ROOT / "README.md").exists() else ""
BLOCKS = {
    f"line {TEXT.count('\n', 0, m.start()) + 2}": m[1] for m in re.finditer(r"^```python\n(.*?)^```", TEXT, re.M | re.S)
}
pytestmark = pytest.mark.skipif(not TEXT, reason="README.md is not beside the tests")


def unbound(source):
    """The names that a block reads and neither binds nor imports."""
    tables, read = [top := symtable.symtable(source, "block", "exec")], set()
    while tables:
        tables += (table := tables.pop()).get_children()
        read |= {s.get_name() for s in table.get_symbols() if s.is_referenced() and s.is_global()}
    return read - {s.get_name() for s in top.get_symbols() if s.is_assigned() or s.is_imported()} - set(dir(builtins))


@pytest.mark.parametrize("block", BLOCKS.values(), ids=BLOCKS.keys())
def test_each_block_runs_alone(block, tmp_path):
    """Each example holds in a fresh interpreter of its own; one that is not
    a session (the Dask example) at least binds every name it reads."""
    examples = doctest.DocTestParser().get_examples(block)
    source = "".join(e.source for e in examples) or block
    assert not unbound(source)
    for name in re.findall(r"^(?:import|from) (\w+)", source, re.M):
        pytest.importorskip(name, reason=f"{name} cannot be imported here")
    if examples:
        (tmp_path / "block.txt").write_text(block)
        finished = subprocess.run([sys.executable, "-m", "doctest", tmp_path / "block.txt"], capture_output=True)
        assert finished.returncode == 0, (finished.stdout + finished.stderr).decode()


def test_names_paths_and_counts_are_the_clones():
    """The modules' attributes and the files that the README names exist; its
    instruction counts of the reference version are the baseline's."""
    for module in (merandol, merandol_interop):
        assert set(re.findall(rf"`{module.__name__}\.(\w+)", TEXT)) <= set(dir(module))
    folders = "core|binding|module|interop|stubs|tests|fuzz|benchmarks|tools|examples|docs"
    assert [p for p in re.findall(rf"`((?:{folders})/[\w./-]*)", TEXT) if not (ROOT / p).exists()] == []
    baseline = json.loads((ROOT / "benchmarks" / "baseline.json").read_text())
    figures = dict(baseline["operations"], **{"floor: -f on a float": baseline["floor_instructions"]})
    table = re.search(r"table: instructions -->\n```text\n(.*?)```", TEXT, re.S)[1]
    rows = [re.split(r"\s{2,}", line) for line in table.splitlines()]
    column = rows[0].index(baseline["python"])
    assert {row[0]: row[column] for row in rows[1:]} == {row[0]: f"{figures[row[0]]:.0f}" for row in rows[1:]}
