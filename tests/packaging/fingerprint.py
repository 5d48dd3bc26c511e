"""Prints, as JSON, what a script sees of the installed merandol: every
public name with its kind, doc string and text signature, sample values'
reprs, texts, hashes and pickles under every protocol, and the exception
type and message of calls that fail, in the binder, in the core and in
the interpreter's own handling of the classes.  test_wheels.py runs it
under each supported version and compares."""

import json
import pickle
import sys

import merandol
import merandol_interop
from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset, Weekday

# The highest protocol that every supported version writes.
PROTOCOLS = range(6)


def described(obj):
    return {
        "kind": type(obj).__name__,
        "doc": getattr(obj, "__doc__", None),
        "signature": getattr(obj, "__text_signature__", None),
    }


def names(module):
    seen = {}
    for name in sorted(vars(module)):
        if name.startswith("__") and name not in ("__all__", "__doc__", "__name__"):
            continue
        obj = getattr(module, name)
        if isinstance(obj, (list, str)):
            seen[name] = obj
            continue
        seen[name] = described(obj)
        if isinstance(obj, type):
            # The class's own members: what an exception class inherits
            # from the interpreter's BaseException is the interpreter's.
            seen[name]["members"] = {
                member: described(getattr(obj, member))
                for member in sorted(vars(obj))
                if not member.startswith("__") or member in vars(obj)
            }
    return seen


VALUES = [
    Date(2024, 2, 29),
    Date(-(2**31), 1, 1),
    Time(23, 59, 59, 999999999),
    DateTime.parse("2024-03-10T12:00:00.123456789Z"),
    UtcOffset.from_seconds(-19800),
    OffsetDateTime.parse("2024-03-10T12:00:00+05:30"),
    Duration.nanoseconds(-(2**127)),
    Weekday.SUNDAY,
]

FAILING = {
    "date out of range": lambda: Date(2024, 2, 30),
    "date of text": lambda: Date("2024", 1, 1),
    "too many arguments": lambda: Date(1, 2, 3, 4),
    "missing argument": lambda: Time(hour=1),
    "unknown keyword": lambda: Date(1, 1, 1, days=3),
    "parse": lambda: DateTime.parse("2024-03-10T12:00:00"),
    "parse of bytes": lambda: Date.parse(b"2024-01-01"),
    "weekday instance": lambda: Weekday(),
    "subclass": lambda: type("Later", (Date,), {}),
    "attribute set": lambda: setattr(Date(2024, 1, 1), "year", 2025),
    "attribute missing": lambda: Date(2024, 1, 1).week,
    "order with int": lambda: Date(2024, 1, 1) < 1,
    "add int": lambda: DateTime.parse("2024-01-01T00:00:00Z") + 1,
    "duration overflow": lambda: Duration.nanoseconds(2**127 - 1) + Duration.nanoseconds(1),
    "from_stdlib of int": lambda: merandol_interop.from_stdlib(1),
    "to_stdlib of int": lambda: merandol_interop.to_stdlib(1),
}


def failure(call):
    try:
        call()
    except Exception as error:
        return [type(error).__qualname__, str(error), getattr(error, "__notes__", None)]
    return None


def main():
    print(
        json.dumps(
            {
                "merandol": names(merandol),
                "merandol_interop": names(merandol_interop),
                "values": [
                    {
                        "repr": repr(value),
                        "str": str(value),
                        # A weekday hashes by identity, as any singleton.
                        "hash": None if isinstance(value, Weekday) else hash(value),
                        "pickles": [pickle.dumps(value, protocol).hex() for protocol in PROTOCOLS],
                    }
                    for value in VALUES
                ],
                "failures": {name: failure(call) for name, call in FAILING.items()},
            },
            indent=1,
            sort_keys=True,
        )
    )


if __name__ == "__main__":
    sys.exit(main())
