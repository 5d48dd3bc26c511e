"""Times merandol against the standard datetime and the peers, side by side
in one process, and reports on the performance targets and figures.

Each statement is compiled once by timeit (no lambda in the timed loop) and
the operations run in interleaved rounds: in every round each operation is
timed once for merandol, the standard datetime and each peer, in an order
that rotates from round to round.  The figure reported is the median
nanoseconds per operation over the rounds.  The floor, -f on a float (one
slot call and one allocation), is timed in the same rounds.

The columns section (columns.py) follows: whole columns of timestamps read,
converted and written by merandol_interop and by the column libraries; then
pydantic, msgspec and JSON with merandol's values and with datetime's
(serde.py).

Writes build/bench/results.json and build/bench/results.png."""

import argparse
import gc
import json
import os
import statistics
import sys
import time
import timeit
import tracemalloc
from dataclasses import dataclass, field
from pathlib import Path

import catalogue
import columns
import patterns
import report
import serde


@dataclass(frozen=True)
class Settings:
    rounds: int
    sample_seconds: float  # a timed run lasts at least this long
    memory_repeats: int  # repetitions of each operation in the memory check


FULL = Settings(rounds=15, sample_seconds=0.010, memory_repeats=1_000_000)
QUICK = Settings(rounds=5, sample_seconds=0.002, memory_repeats=100_000)


@dataclass
class Subject:
    """One statement of one implementation, compiled once."""

    timer: timeit.Timer
    per: int
    number: int = 1
    samples: list[float] = field(default_factory=list)

    def calibrate(self, seconds):
        number = 1
        while (elapsed := self.timer.timeit(number)) < seconds and number < 1 << 30:
            number = max(number * 2, int(number * seconds / max(elapsed, 1e-9) * 1.2))
        self.number = number

    def sample(self):
        elapsed = self.timer.timeit(self.number)
        self.samples.append(elapsed / (self.number * self.per) * 1e9)

    def median_ns(self):
        return statistics.median(self.samples)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="fewer and shorter rounds (under a minute)")
    parser.add_argument("--out", type=Path, default=Path("build/bench"), help="folder for results.json and .png")
    parser.add_argument("--peers", action="store_true", help="also print every peer's figure")
    parser.add_argument("--columns-only", action="store_true", help="only the columns section")
    parser.add_argument("--zones-only", action="store_true", help="only the columns section's zone tables")
    parser.add_argument("--serde-only", action="store_true", help="only pydantic, msgspec and JSON")
    parser.add_argument("--patterns-only", action="store_true", help="only the patterns and calendar columns")
    options = parser.parse_args()
    settings = QUICK if options.quick else FULL
    started = time.perf_counter()
    options.out.mkdir(parents=True, exist_ok=True)

    if options.serde_only:
        rows = serde.run(quick=options.quick)
        serde.print_summary(rows)
        summary = {"python": sys.version.split()[0], "quick": options.quick, "serde": rows}
        (options.out / "results.json").write_text(json.dumps(summary, indent=2) + "\n")
        return

    if options.patterns_only:
        section = patterns.run(quick=options.quick, progress=lambda line: print(line, file=sys.stderr))
        patterns.print_summary(section)
        summary = {"python": sys.version.split()[0], "quick": options.quick, "patterns": section}
        (options.out / "results.json").write_text(json.dumps(summary, indent=2) + "\n")
        return

    if options.columns_only or options.zones_only:
        summary = {"python": sys.version.split()[0], "quick": options.quick, "columns": run_columns(options)}
        (options.out / "results.json").write_text(json.dumps(summary, indent=2) + "\n")
        print(f"\nWrote {options.out / 'results.json'}")
        print(f"Wall time {time.perf_counter() - started:.0f} s")
        return

    print("Preparing values ...", file=sys.stderr)
    sample = catalogue.sample_instants(catalogue.BULK_SIZE)
    prepared = {impl.name: catalogue.prepare(impl, sample) for impl in catalogue.IMPLEMENTATIONS}

    # Subjects per operation and implementation; the reason instead where
    # one cannot run.
    subjects, problems = {}, {}
    for op in catalogue.OPERATIONS:
        for name, statement in op.cases.items():
            problem = prepared[name].problem(statement)
            if problem:
                problems[op.name, name] = problem
            else:
                timer = timeit.Timer(statement, globals=prepared[name].namespace)
                subjects[op.name, name] = Subject(timer, op.per)
    floor = Subject(timeit.Timer(catalogue.FLOOR_STATEMENT, globals=dict(catalogue.INPUTS)), 1)

    print(f"Calibrating {len(subjects) + 1} statements ...", file=sys.stderr)
    for subject in [floor, *subjects.values()]:
        subject.calibrate(settings.sample_seconds)

    order = [floor, *subjects.values()]
    for round_index in range(settings.rounds):
        print(f"Round {round_index + 1} of {settings.rounds} ...", file=sys.stderr)
        shift = round_index % len(order)
        for subject in order[shift:] + order[:shift]:
            subject.sample()

    results = collect(prepared, subjects, problems)
    floor_ns = floor.median_ns()
    print("Checking memory ...", file=sys.stderr)
    memory = memory_check(prepared["merandol"], settings.memory_repeats)
    sizes = object_sizes(prepared["merandol"].namespace)
    zones = zone_sizes()

    summary = {
        "python": sys.version.split()[0],
        "quick": options.quick,
        "rounds": settings.rounds,
        "floor_ns": floor_ns,
        "implementations": {name: {"version": p.version, "absent": p.absent} for name, p in prepared.items()},
        "operations": results,
        "sizes": sizes,
        "zone_sizes": zones,
        "memory": memory,
    }
    summary["targets"] = report.targets(summary)
    summary["figures"] = report.figures(summary)

    report.print_summary(summary, all_peers=options.peers)
    summary["columns"] = run_columns(options)
    summary["patterns"] = patterns.run(quick=options.quick, progress=lambda line: print(line, file=sys.stderr))
    patterns.print_summary(summary["patterns"])
    summary["serde"] = serde.run(quick=options.quick)
    serde.print_summary(summary["serde"])
    (options.out / "results.json").write_text(json.dumps(summary, indent=2) + "\n")
    chart = report.chart(summary, options.out / "results.png")
    print(f"\nWrote {options.out / 'results.json'}" + (f" and {chart}" if chart else ""))
    print(f"Wall time {time.perf_counter() - started:.0f} s")


def run_columns(options):
    section = columns.run(
        quick=options.quick, progress=lambda line: print(line, file=sys.stderr), zones_only=options.zones_only
    )
    columns.print_summary(section)
    return section


def collect(prepared, subjects, problems):
    results = []
    for op in catalogue.OPERATIONS:
        entry = {"op": op.name, "merandol_ns": None, "stdlib_ns": None, "peers": {}}
        for name in [impl.name for impl in catalogue.IMPLEMENTATIONS]:
            if name not in op.cases:
                entry.setdefault("n/a", []).append(name)
                continue
            subject = subjects.get((op.name, name))
            ns = subject.median_ns() if subject else None
            if name == "merandol":
                entry["merandol_ns"] = ns
            elif name == "datetime":
                entry["stdlib_ns"] = ns
            if name != "merandol" and not (op.conversion and name == "datetime"):
                entry["peers"][name] = ns
            if not subject:
                entry.setdefault("unavailable", {})[name] = problems[op.name, name]
        if op.near_floor:
            entry["near_floor"] = True
        if op.conversion:
            entry["conversion"] = True
        if op.stdlib_bound is not None:
            entry["stdlib_bound"] = op.stdlib_bound
        if op.per != 1:
            entry["per_element_of"] = op.per
        results.append(entry)
    return results


def rss_bytes():
    try:
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except OSError:
        return None


def memory_check(merandol, repeats):
    """Growth of memory while each merandol operation runs `repeats` times:
    resident set size and allocated blocks in one pass, traced memory in a
    second pass under tracemalloc (which itself takes memory)."""
    checks = {}
    for op in catalogue.OPERATIONS:
        statement = op.cases.get("merandol")
        if op.per != 1 or statement is None:
            continue
        if merandol.problem(statement):
            checks[op.name] = None
            continue
        timer = timeit.Timer(statement, globals=merandol.namespace)
        timer.timeit(repeats // 100)  # freelists, caches and specialisation settle first
        gc.collect()
        rss_before, blocks_before = rss_bytes(), sys.getallocatedblocks()
        timer.timeit(repeats)
        gc.collect()
        rss_after, blocks_after = rss_bytes(), sys.getallocatedblocks()

        tracemalloc.start()
        timer.timeit(repeats // 100)
        traced_before = tracemalloc.get_traced_memory()[0]
        timer.timeit(repeats)
        gc.collect()
        traced_after = tracemalloc.get_traced_memory()[0]
        tracemalloc.stop()

        checks[op.name] = {
            "rss_bytes": None if rss_before is None else rss_after - rss_before,
            "blocks": blocks_after - blocks_before,
            "traced_bytes": traced_after - traced_before,
        }
    return {"repeats": repeats, "operations": checks}


# merandol class: (expected bytes, standard counterpart, how to make each)
SIZE_TARGETS = {
    "Date": (24, "date", "Date(2024, 1, 5)", "date(2024, 1, 5)"),
    "Time": (24, "time", "Time(12, 34, 56, 123456000)", "time(12, 34, 56, 123456)"),
    "UtcOffset": (24, "timezone", "UtcOffset.from_seconds(19800)", "timezone(timedelta(seconds=19800))"),
    "DateTime": (32, "datetime", "DateTime.parse(utc_text)", "datetime.fromisoformat(utc_text)"),
    "Duration": (32, "timedelta", "Duration.seconds(3600)", "timedelta(hours=1)"),
    "OffsetDateTime": (40, "datetime", "OffsetDateTime.parse(offset_text)", "datetime.fromisoformat(offset_text)"),
}


def object_sizes(merandol_namespace):
    import datetime

    stdlib = dict(vars(datetime), **catalogue.INPUTS)
    sizes = {}
    for name, (target, counterpart, ours, theirs) in SIZE_TARGETS.items():
        try:
            size = sys.getsizeof(eval(ours, merandol_namespace))
        except NameError:
            size = None
        sizes[name] = {
            "bytes": size,
            "target": target,
            "stdlib": counterpart,
            "stdlib_bytes": sys.getsizeof(eval(theirs, stdlib)),
        }
    return sizes


ZONE_KEYS = ["UTC", "Asia/Kolkata", "America/Sao_Paulo", "Australia/Sydney", "Europe/Paris", "America/New_York"]


def zone_sizes():
    """A loaded zone's bytes (sys.getsizeof: the object and its table) beside
    its file's, for a few zones from none to many transitions."""
    import zoneinfo

    from merandol_interop import Zone

    sizes = {}
    for key in ZONE_KEYS:
        path = next((Path(folder) / key for folder in zoneinfo.TZPATH if (Path(folder) / key).is_file()), None)
        sizes[key] = {"loaded": sys.getsizeof(Zone(key)), "file": path.stat().st_size if path else None}
    return sizes


if __name__ == "__main__":
    main()
