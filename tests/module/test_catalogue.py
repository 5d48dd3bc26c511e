"""Every public member of merandol and merandol_interop is reached by
catalogue.calls(), which the thread and reference-count sweeps run (the
bad-input sweep reads the same MEMBERS rows): a member without a row
fails here instead of dropping silently out of them."""

import merandol
import merandol_interop
import pytest
from catalogue import calls, np

LABELS = [label for label, _, _ in calls()]
# Slots swept under another label: hash, str, repr and pickle's hook through
# the function that calls them, a reflected operator with its operator.
SLOT_LABELS = {
    "__hash__": "hash({})",
    "__str__": "str({})",
    "__repr__": "repr({})",
    "__reduce__": "reduce({})",
    "__radd__": "{}.__add__",
    "__rsub__": "{}.__sub__",
}


def reached(prefix):
    return any(label == prefix or label.startswith((prefix + "(", prefix + " ")) for label in LABELS)


def public(module):
    return sorted({name for name in dir(module) if not name.startswith("_")} | set(module.__all__))


@pytest.mark.parametrize("name", public(merandol))
def test_every_member_of_each_class_is_swept(name):
    cls = getattr(merandol, name)
    assert isinstance(cls, type)
    # Plain data (the doc string, Weekday.MONDAY and its kind) runs no code
    # of the module's when read; every method, property and slot does.
    members = [n for n, v in vars(cls).items() if callable(v) or hasattr(type(v), "__get__")]
    missing = [n for n in members if not reached(SLOT_LABELS.get(n, "{}." + n).format(name))]
    assert missing == []


def test_every_function_of_the_companion_is_swept():
    if np is None:
        pytest.skip("the rows of the numpy functions are made only where numpy imports")
    # The names of the Python part call only readers and writers swept here;
    # test_serde.py is theirs.
    native = [n for n in public(merandol_interop) if getattr(merandol_interop, n).__module__ != "_merandol_serde"]
    assert [name for name in native if not reached(name)] == []
