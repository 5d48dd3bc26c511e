import doctest
import pathlib

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def readme_text():
    """The README, without its Columns examples where numpy cannot be
    imported (the free-threaded interpreter has none)."""
    text = README.read_text()
    try:
        import numpy  # noqa: F401
    except ImportError:
        start = text.index("### Columns")
        text = text[:start] + text[text.index("\n## ", start) :]
    return text


@pytest.mark.skipif(not README.exists(), reason="README.md is not beside the tests")
def test_readme_examples_hold():
    test = doctest.DocTestParser().get_doctest(readme_text(), {}, README.name, str(README), 0)
    runner = doctest.DocTestRunner()
    runner.run(test)
    failures, attempted = runner.summarize(verbose=False)
    assert attempted > 0 and failures == 0
