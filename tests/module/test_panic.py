"""PanicException, the internal failure, reached for real: the statement
runs in a fresh process whose real-time clock cannot be read."""

import json

import pytest
from catalogue import PANICS

PROGRAM = """
import json, merandol
from merandol import *

def attempt():
    try:
        {source}
    except BaseException as e:
        return e
    raise SystemExit("no exception")

first, second = attempt(), attempt()
cls = type(first)
print(json.dumps({{
    "name": f"{{cls.__module__}}.{{cls.__qualname__}}",
    "mro": [c.__name__ for c in cls.__mro__],
    "args": [first.args, second.args],
    "same class": type(second) is cls,
    "module attribute": any(v is cls for v in vars(merandol).values()) or hasattr(merandol, cls.__name__),
}}))
"""


@pytest.mark.parametrize(("source", "message"), PANICS, ids=[source for source, _ in PANICS])
def test_panic_exception(failing_clock, source, message):
    finished = failing_clock(PROGRAM.format(source=source))
    assert finished.returncode == 0, finished.stderr
    assert json.loads(finished.stdout) == {
        "name": "merandol.PanicException",
        "mro": ["PanicException", "BaseException", "object"],
        "args": [[message], [message]],
        "same class": True,
        "module attribute": False,
    }
