import doctest
import pathlib

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def without(text, section, *modules):
    """text without the section when one of the modules cannot be imported."""
    try:
        for module in modules:
            __import__(module)
    except ImportError:
        start = text.index(section)
        text = text[:start] + text[text.index("\n##", start + len(section)) :]
    return text


def readme_text():
    """The README, without its Columns examples where numpy cannot be
    imported (the free-threaded interpreter has none), nor its Arrow
    examples where pyarrow, polars and DuckDB cannot (they come from the
    benchmark's environment)."""
    text = without(README.read_text(), "### Columns", "numpy")
    return without(text, "### Arrow", "pyarrow", "polars", "duckdb")


@pytest.mark.skipif(not README.exists(), reason="README.md is not beside the tests")
def test_readme_examples_hold():
    test = doctest.DocTestParser().get_doctest(readme_text(), {}, README.name, str(README), 0)
    runner = doctest.DocTestRunner()
    runner.run(test)
    failures, attempted = runner.summarize(verbose=False)
    assert attempted > 0 and failures == 0
