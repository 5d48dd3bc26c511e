"""Counts the instructions per call of each merandol operation under
callgrind: a figure that, unlike time, repeats on a noisy machine.

The script runs itself under valgrind.  Inside, every statement is warmed
up and then run n times and 2n times, each run between two calls of
os.getppid(), on whose entry callgrind writes out and resets its counters
(--dump-before).  The difference of the two runs, divided by n, is the
cost of one iteration with everything around the runs cancelled.

The pair is repeated, each time with one more live object in every size
class of the interpreter's small-object allocator, and the least of the
pairs taken.  An operation that allocates and frees an object each call
costs some 20 instructions more when the allocator's current pool for that
size has exactly one free block, since every call then fills the pool and
the free empties it again; whether it has depends on everything allocated
before, so a change anywhere (a longer catalogue, a path) moved unrelated
operations by 4%.  The shift puts at least one pair off that boundary, and
the least also drops a one-off cost (a new pool, say) that falls into one
run.  The cost of an iteration of the empty loop is then taken off.

Prints a table and writes build/bench/instructions.json."""

import argparse
import fcntl
import importlib.util
import json
import os
import re
import shutil
import subprocess
import sys
import timeit
from pathlib import Path

import catalogue

# Iterations per measured run, and pairs of runs: with one allocator shift
# per pair, an operation whose objects fall into k size classes can sit on
# a pool's boundary in at most k of the pairs, and four exceed the classes
# any one operation here allocates from.  The bulk statements go over
# 100,000 values per run, where a boundary costs nothing per element, so
# one pair of one and two runs is plenty.
ITERATIONS = 2000
PAIRS = 4
BULK_ITERATIONS = 1
BULK_PAIRS = 1
TRIGGER = "getppid"
# The child runs from copies of this script, the catalogue and the two
# modules at one fixed path.  Run from the clone, its argv, sys.path and the
# module paths it interns would carry the clone's path, whose length shifts
# the heap and the stack, and with them the alignments that memcpy and the
# allocator branch on: in a clone elsewhere, a few operations counted 4%
# more for that alone.
STAGE = Path("/tmp/merandol-callgrind")


def measured():
    """(label, statement, per, iterations, pairs) in the order the child
    runs them."""
    return [
        ("empty loop", "pass", 1, ITERATIONS, PAIRS),
        ("floor: -f on a float", catalogue.FLOOR_STATEMENT, 1, ITERATIONS, PAIRS),
        *[
            (
                op.name,
                op.cases["merandol"],
                op.per,
                *((BULK_ITERATIONS, BULK_PAIRS) if op.per > 1 else (ITERATIONS, PAIRS)),
            )
            for op in catalogue.OPERATIONS
            if "merandol" in op.cases
        ],
    ]


def child(plan_path):
    """Runs under callgrind: three triggers per pair, for each statement
    merandol can run."""
    sample = catalogue.sample_instants(catalogue.BULK_SIZE)
    merandol = catalogue.prepare(catalogue.IMPLEMENTATIONS[0], sample)
    plan, ballast = [], []
    for label, statement, per, iterations, pairs in measured():
        problem = merandol.problem(statement)
        if problem:
            plan.append({"op": label, "unavailable": problem})
            continue
        timer = timeit.Timer(statement, globals=merandol.namespace)
        timer.timeit(iterations)  # specialise the bytecode, fill the freelists
        for _ in range(pairs):
            ballast.append(one_block_per_size_class())
            os.getppid()
            timer.timeit(iterations)
            os.getppid()
            timer.timeit(2 * iterations)
            os.getppid()
        plan.append({"op": label, "per": per, "iterations": iterations, "pairs": pairs})
    Path(plan_path).write_text(json.dumps(plan))


def one_block_per_size_class():
    """One more live object in each size class of 48 to 512 bytes (16 apart
    on 64-bit builds): bytes(n) takes n + 33 bytes, and bytes(0) is a shared
    constant, hence the start at 1.  The smaller classes hold floats and
    small ints, which free lists serve before the allocator."""
    return [bytes(n) for n in range(1, 480, 16)]


def dump_totals(folder):
    """Instruction totals of callgrind's dumps, by part number."""
    totals = {}
    for path in folder.glob("callgrind.out*"):
        text = path.read_text(errors="replace")
        part = re.search(r"^part: (\d+)", text, re.MULTILINE)
        total = re.search(r"^totals: (\d+)", text, re.MULTILINE) or re.search(r"^summary: (\d+)", text, re.MULTILINE)
        if part and total:
            totals[int(part.group(1))] = int(total.group(1))
    return totals


def run_under_callgrind(folder):
    command = [
        "valgrind",
        "--tool=callgrind",
        f"--callgrind-out-file={folder}/callgrind.out",
        f"--dump-before=*{TRIGGER}",
        "--dump-instr=no",
        "--dump-line=no",
        sys.executable,
        str(folder / Path(__file__).name),
        "--child",
        str(folder / "plan.json"),
    ]
    # The count must not depend on who runs it or where: string hashing is
    # fixed (it orders the namespaces' dicts and sets), and the child sees
    # only the variables that find valgrind and the module, in a folder of
    # its own, so that neither the caller's environment nor its working
    # directory shifts the layout of its memory.
    environment = {
        "PATH": os.environ.get("PATH", os.defpath),
        "PYTHONPATH": str(folder),
        "PYTHONHASHSEED": "0",
        "LC_ALL": "C.UTF-8",
    }
    log = folder / "valgrind.log"
    with log.open("w") as stream:
        finished = subprocess.run(
            command, env=environment, cwd=folder, stdout=stream, stderr=subprocess.STDOUT, check=False
        )
    if finished.returncode != 0:
        sys.exit(f"valgrind failed ({finished.returncode}):\n{log.read_text()[-3000:]}")
    return json.loads((folder / "plan.json").read_text()), dump_totals(folder)


def per_call(plan, totals):
    """Instructions per iteration of each statement, loop included."""
    counts, part = {}, 1
    for entry in plan:
        if "unavailable" in entry:
            counts[entry["op"]] = None
            continue
        # Of each pair's three triggers, the first closes the warm-up or the
        # ballast, the others an n and a 2n run.
        differences = [totals[part + 2 + 3 * pair] - totals[part + 1 + 3 * pair] for pair in range(entry["pairs"])]
        counts[entry["op"]] = min(differences) / entry["iterations"]
        part += 3 * entry["pairs"]
    return counts


def module_file(name):
    spec = importlib.util.find_spec(name)
    if spec is None or spec.origin is None:
        sys.exit(f"{name} is not importable: build it first")
    return Path(spec.origin)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--child", metavar="PLAN", help=argparse.SUPPRESS)
    parser.add_argument("--out", type=Path, default=Path("build/bench"), help="folder for instructions.json")
    options = parser.parse_args()
    if options.child:
        child(options.child)
        return
    if not shutil.which("valgrind"):
        sys.exit("valgrind is absent: install it (tools/root-packages lists it for the project's root)")
    version = subprocess.run(["valgrind", "--version"], capture_output=True, text=True, check=True).stdout.strip()

    print(f"Running every merandol operation under callgrind ({version}) ...", file=sys.stderr)
    # One run at a time may use the stage.
    with open(f"{STAGE}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        shutil.rmtree(STAGE, ignore_errors=True)
        STAGE.mkdir()
        try:
            modules = [module_file(name) for name in ("merandol", "merandol_interop", "_merandol_serde")]
            for source in (Path(__file__), Path(catalogue.__file__), *modules):
                shutil.copy(source, STAGE / source.name)
            plan, totals = run_under_callgrind(STAGE)
        finally:
            shutil.rmtree(STAGE, ignore_errors=True)
    counts = per_call(plan, totals)
    reasons = {entry["op"]: entry["unavailable"] for entry in plan if "unavailable" in entry}
    pers = {entry["op"]: entry.get("per", 1) for entry in plan}

    loop = counts.pop("empty loop")
    floor = counts.pop("floor: -f on a float") - loop
    operations = []
    for op, with_loop in counts.items():
        if with_loop is None:
            operations.append({"op": op, "instructions": None, "unavailable": reasons[op]})
            continue
        per = pers[op]
        # A bulk run iterates the loop once for all its elements.
        operations.append({"op": op, "instructions": (with_loop - loop) / per, "with_loop": with_loop / per})

    count = {
        "python": sys.version.split()[0],
        "valgrind": version,
        "loop_instructions": loop,
        "floor_instructions": floor,
        "operations": operations,
    }
    print(
        f"\nInstructions per call (Ir), Python {count['python']}, {version}; "
        f"the empty loop's {loop:.0f} per iteration taken off"
    )
    print("\n".join(table_lines(count)))
    options.out.mkdir(parents=True, exist_ok=True)
    path = options.out / "instructions.json"
    path.write_text(json.dumps(count, indent=2) + "\n")
    print(f"\nWrote {path}")


def table_lines(count):
    """The count as a table, the floor last."""
    # Here, not at the top: the child under callgrind imports only what it
    # measures, and is staged without the report.
    from report import aligned

    rows = [["operation", "Ir", "x floor"]]
    for entry in count["operations"]:
        if entry["instructions"] is None:
            rows.append([entry["op"], "unavailable", entry["unavailable"]])
        else:
            ir = entry["instructions"]
            rows.append([entry["op"], f"{ir:.0f}", f"{ir / count['floor_instructions']:.2f}"])
    rows.append(["floor: -f on a float", f"{count['floor_instructions']:.0f}"])
    return aligned(rows)


if __name__ == "__main__":
    main()
