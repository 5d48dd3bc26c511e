"""The site's pages: each example runs as it reads, and the reference
documents every public name of both modules."""

import doctest
import pathlib
import re

import merandol
import merandol_interop
import pytest

DOCS = pathlib.Path(__file__).resolve().parents[2] / "docs"
PAGES = sorted(DOCS.rglob("*.md")) if DOCS.is_dir() else []
BLOCKS = {
    f"{page.relative_to(DOCS)}:{text.count('\n', 0, m.start()) + 2}": m[1]
    for page in PAGES
    for text in [page.read_text()]
    for m in re.finditer(r"^```python\n(.*?)^```", text, re.M | re.S)
}
pytestmark = pytest.mark.skipif(not PAGES, reason="docs/ is not beside the tests")


@pytest.mark.parametrize("block", BLOCKS.values(), ids=BLOCKS.keys())
def test_each_example_runs_alone(block, request):
    """Every block is a doctest session of its own, in a fresh namespace."""
    test = doctest.DocTestParser().get_doctest(block, {}, request.node.callspec.id, None, 0)
    assert test.examples, "a python block on the site is a doctest session"
    imported = {m for e in test.examples for m in re.findall(r"^(?:import|from) (\w+)", e.source, re.M)}
    for name in sorted(imported):
        pytest.importorskip(name, reason=f"{name} cannot be imported here")
    output = []
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test, out=output.append)
    assert runner.failures == 0, "".join(output)


def test_the_reference_names_every_public_name():
    pages = "".join(page.read_text() for page in DOCS.glob("reference/*.md"))
    documented = set(re.findall(r"\.\. auto\w+:: (\w+)\.(\w+)", pages))
    for module in (merandol, merandol_interop):
        names = {name for owner, name in documented if owner == module.__name__}
        assert (set(module.__all__) - names, names - set(module.__all__)) == (set(), set())
