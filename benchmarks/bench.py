"""Times merandol against the standard datetime, side by side in one process.

Each statement is compiled once by timeit and run in interleaved rounds;
the figure is the median nanoseconds per operation over the rounds."""

import argparse
import datetime
import statistics
import sys
import timeit

import merandol

SETUP = """
import datetime, merandol
d = merandol.Date(2024, 1, 5)
s = datetime.date(2024, 1, 5)
epoch_ordinal = datetime.date(1970, 1, 1).toordinal()
one_day = datetime.timedelta(days=1)
f = 1.5
"""

# name: (merandol statement, datetime statement)
OPERATIONS = {
    "floor: -f": ("-f", None),
    "Date(2024, 1, 5)": ("merandol.Date(2024, 1, 5)", "datetime.date(2024, 1, 5)"),
    "Date.parse": ("merandol.Date.parse('2024-01-05')", "datetime.date.fromisoformat('2024-01-05')"),
    "str(Date)": ("str(d)", "str(s)"),
    "from_days_since_unix_epoch": (
        "merandol.Date.from_days_since_unix_epoch(19727)",
        "datetime.date.fromordinal(19727 + epoch_ordinal)",
    ),
    "days_since_unix_epoch": ("d.days_since_unix_epoch()", "s.toordinal() - epoch_ordinal"),
    "weekday": ("d.weekday()", "s.isoweekday()"),
    "add_days": ("d.add_days(1)", "s + one_day"),
    "hash(Date)": ("hash(d)", "hash(s)"),
    "Date == Date": ("d == d", "s == s"),
    "Date < Date": ("d < d", "s < s"),
}


def per_op_ns(stmt, number):
    return timeit.Timer(stmt, SETUP).timeit(number) / number * 1e9


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true", help="fewer rounds and loops")
    options = parser.parse_args()
    rounds, number = (3, 20_000) if options.quick else (7, 200_000)

    samples = {name: ([], []) for name in OPERATIONS}
    for _ in range(rounds):
        for name, (ours, theirs) in OPERATIONS.items():
            samples[name][0].append(per_op_ns(ours, number))
            if theirs is not None:
                samples[name][1].append(per_op_ns(theirs, number))

    print(f"merandol vs datetime, Python {sys.version.split()[0]}, median of {rounds} rounds of {number}")
    print(f"{'operation':32} {'merandol ns':>12} {'datetime ns':>12} {'ratio':>7}")
    for name, (ours, theirs) in samples.items():
        m = statistics.median(ours)
        if theirs:
            s = statistics.median(theirs)
            print(f"{name:32} {m:12.1f} {s:12.1f} {s / m:6.2f}x")
        else:
            print(f"{name:32} {m:12.1f} {'':>12} {'':>7}")


if __name__ == "__main__":
    main()
