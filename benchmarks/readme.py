"""Writes the README's figures from the last runs, so that they are never
copied by hand: each table that follows a mark <!-- table: NAME --> is
made again from its run.

  operations, targets, columns,  build/bench/results.json of `make bench`
  column-targets, patterns,      (or of `make bench ARGS=--serde-only` or
  pattern-targets, serialization `--patterns-only`)
  (and the chart, docs/benchmark.png, with the operations)
  instructions                   build/bench*/instructions.json of
                                 `make bench-instr` (and PY=3.13, PY=3.15):
                                 each version's column from its own count,
                                 the rows those the README lists

A table whose run is missing is left as it is.  --check writes nothing and
fails when a table differs from its run.  NAME arguments pick the tables."""

import argparse
import json
import re
import shutil
import sys
from pathlib import Path

import columns
import report
import serde

ROOT = Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
TABLE = re.compile(r"(<!-- table: ([\w-]+) -->\n```text\n)(.*?)(```)", re.S)
FLOOR = "floor: -f on a float"


def results(build):
    path = build / "bench" / "results.json"
    return json.loads(path.read_text()) if path.exists() else None


def split(line):
    """The cells of a line of an aligned table (two spaces or more apart)."""
    return re.split(r"\s{2,}", line.strip())


def instructions(build, old):
    """The versions table: each version's column from its count, where there
    is one, else as the README had it."""
    rows = [split(line) for line in old.splitlines()]
    header, names = rows[0], [row[0] for row in rows[1:]]
    table = {
        h.rsplit(".", 1)[0]: (h, dict(zip(names, (row[i] for row in rows[1:]), strict=True)))
        for i, h in enumerate(header)
        if i
    }
    for path in sorted(build.glob("bench*/instructions.json")):
        count = json.loads(path.read_text())
        # Rounded as benchmarks/check.py rounds them into the baseline first,
        # so that the reference version's figures are the baseline's.
        figures = {e["op"]: round(e["instructions"], 2) for e in count["operations"]}
        figures[FLOOR] = round(count["floor_instructions"], 1)
        table[count["python"].rsplit(".", 1)[0]] = (count["python"], {op: f"{figures[op]:.0f}" for op in names})
    versions = sorted(table, key=lambda v: tuple(map(int, v.split("."))))
    lines = report.aligned(
        [["operation", *(table[v][0] for v in versions)]] + [[op, *(table[v][1][op] for v in versions)] for op in names]
    )
    return "\n".join(lines) + "\n"


def made(name, old, build):
    """The table NAME as its run gives it, or None without a run."""
    if name == "instructions":
        return instructions(build, old)
    summary = results(build)
    if summary is None:
        return None
    if name.startswith("column") and "tables" not in summary.get("columns", {}):
        return None
    if name.startswith("pattern") and "tables" not in summary.get("patterns", {}):
        return None
    if name == "serialization" and "serde" not in summary:
        return None
    if name in ("operations", "targets") and "operations" not in summary:
        return None
    lines = {
        "operations": lambda: report.operations_table(summary)[0],
        "targets": lambda: report.target_lines(summary["targets"]),
        "columns": lambda: columns.table_lines(summary["columns"]),
        "column-targets": lambda: report.target_lines(summary["columns"]["targets"]),
        "patterns": lambda: columns.table_lines(summary["patterns"]),
        "pattern-targets": lambda: report.target_lines(summary["patterns"]["targets"]),
        "serialization": lambda: serde.table_lines(summary["serde"]),
    }[name]()
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="*", help="the tables (all when none is named)")
    parser.add_argument("--check", action="store_true", help="write nothing; fail where a table differs from its run")
    parser.add_argument("--build", type=Path, default=ROOT / "build", help="the folder of the runs")
    options = parser.parse_args()
    text, differ = README.read_text(), []

    def rewrite(match):
        name, old = match[2], match[3]
        new = made(name, old, options.build) if not options.names or name in options.names else None
        if new is None or new == old:
            return match[0]
        differ.append(name)
        return match[1] + new + match[4]

    text = TABLE.sub(rewrite, text)
    if options.check:
        if differ:
            sys.exit(
                f"README.md's tables {', '.join(differ)} differ from the last run: benchmarks/readme.py writes them"
            )
        print("README.md's tables agree with the last run")
    elif differ:
        README.write_text(text)
        print(f"README.md: rewrote {', '.join(differ)}")
    chart = options.build / "bench" / "results.png"
    if not options.check and "operations" in differ and chart.exists():
        shutil.copyfile(chart, ROOT / "docs" / "benchmark.png")
        print("docs/benchmark.png: the run's chart")


if __name__ == "__main__":
    main()
