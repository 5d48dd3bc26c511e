"""Guards against regressions: compares the instructions per call of the
last `make bench-instr` (build/bench/instructions.json) with the baseline
committed in benchmarks/baseline.json, prints both side by side and fails
when any operation costs more than 3% above its baseline.

An operation the baseline lacks is reported as new and one the count lacks
as gone; neither fails.  One that the baseline has but merandol cannot run
any longer fails.

--update writes the count as the new baseline.  Committing it is the
deliberate step that accepts the new figures, so it belongs in its own
commit (or in the commit that moved them), with the table in the message."""

import argparse
import json
import sys
from pathlib import Path

from report import aligned

HERE = Path(__file__).resolve().parent
BASELINE = HERE / "baseline.json"
COUNT = Path("build/bench/instructions.json")
# Allowed growth over the baseline.  Callgrind's counts repeat exactly from
# run to run in the project's root, so a change beyond this is a change of
# code (or of the interpreter), not noise.
TOLERANCE = 0.03


def load_count(path):
    if not path.exists():
        sys.exit(f"{path} is missing: run `make bench-instr` first")
    count = json.loads(path.read_text())
    return count, {e["op"]: e["instructions"] for e in count["operations"]}


def update(path, count, now):
    unavailable = [op for op, ir in now.items() if ir is None]
    if unavailable:
        sys.exit(f"not writing a baseline: merandol cannot run {', '.join(unavailable)}")
    baseline = {
        "python": count["python"],
        "valgrind": count["valgrind"],
        "floor_instructions": round(count["floor_instructions"], 1),
        "operations": {op: round(ir, 2) for op, ir in now.items()},
    }
    path.write_text(json.dumps(baseline, indent=2) + "\n")
    print(f"Wrote {path} ({len(now)} operations): commit it with the change that moved the figures")


def compare(baseline, count, now):
    """Prints the table; returns the lines that fail the check."""
    before = baseline["operations"]
    if (baseline["python"], baseline["valgrind"]) != (count["python"], count["valgrind"]):
        print(
            f"Note: the baseline was counted with Python {baseline['python']} and {baseline['valgrind']}, "
            f"this run with Python {count['python']} and {count['valgrind']}; the interpreter's share of "
            "each call may differ for that reason alone."
        )
    rows, failures = [["operation", "baseline", "now", "change", ""]], []
    for op in [*now, *(op for op in before if op not in now)]:
        old, new = before.get(op), now.get(op)
        change, fails = None, False
        if op not in now:
            status = "gone"
        elif new is None:
            status, fails = f"unavailable: {count_reason(count, op)}", old is not None
        elif old is None:
            status = "new"
        else:
            change = round(new / old - 1, 4) + 0.0  # no "-0.0%"
            fails = change > TOLERANCE
            status = f"SLOWER by more than {TOLERANCE:.0%}" if fails else ""
            if change < -TOLERANCE:
                status = "faster: refresh the baseline to hold the gain"
        rows.append([op, _ir(old), _ir(new), "" if change is None else f"{change:+.1%}", status])
        if fails:
            failures.append(f"{op}: {status}")
    print("\n" + "\n".join(aligned(rows, left=(0, 4))))
    return failures


def count_reason(count, op):
    return next((e.get("unavailable") for e in count["operations"] if e["op"] == op), None)


def _ir(value):
    return "-" if value is None else f"{value:.0f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--update", action="store_true", help="write the count as the new baseline")
    parser.add_argument("--baseline", type=Path, default=BASELINE, help="the committed baseline")
    parser.add_argument("--count", type=Path, default=COUNT, help="instructions.json of make bench-instr")
    options = parser.parse_args()
    count, now = load_count(options.count)
    if options.update:
        update(options.baseline, count, now)
        return
    if not options.baseline.exists():
        sys.exit(f"{options.baseline} is missing: `make bench-baseline` writes it")
    failures = compare(json.loads(options.baseline.read_text()), count, now)
    if failures:
        print(f"\nbench-check FAILED: {len(failures)} operation(s) above the baseline by more than {TOLERANCE:.0%}:")
        for failure in failures:
            print(f"  {failure}")
        print("If the cost is intended, `make bench-baseline` and commit benchmarks/baseline.json with the reason.")
        sys.exit(1)
    print(f"\nbench-check: every operation within {TOLERANCE:.0%} of the baseline")


if __name__ == "__main__":
    main()
