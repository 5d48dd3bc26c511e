import doctest
import pathlib

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


@pytest.mark.skipif(not README.exists(), reason="README.md is not beside the tests")
def test_readme_examples_hold():
    failures, attempted = doctest.testfile(str(README), module_relative=False)
    assert attempted > 0 and failures == 0
