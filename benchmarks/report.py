"""The targets, the figures, the printed summary and the chart of a benchmark
run."""

import math

import catalogue

# Every operation at least as fast as the fastest peer, within this margin.
PEER_TOLERANCE = 1.05
# Reported, not required: the operations near the floor against this line.
FLOOR_FACTOR = 2.0
# A conversion to or from the standard types may cost this much of the
# standard constructor of the same value.
CONVERSION_FACTOR = 1.5
# Growth allowed over the whole memory check.  A leak of one object per
# call shows as megabytes at 10^5 repeats or more.
MAX_TRACED_BYTES = 64 * 1024
MAX_BLOCKS = 1000
MAX_RSS_BYTES = 1024 * 1024
# Every ZonedDateTime operation at most this share of whenever's time (and
# faster than pendulum's and the standard library's).
ZONED_SHARE_OF_WHENEVER = 0.5
# add_calendar of a Date against Date.add_days, the same step without the
# calendar's units.
CALENDAR_ADD_BOUND = 1.2


def _fastest_peer(entry):
    measured = {name: ns for name, ns in entry["peers"].items() if ns is not None}
    if not measured:
        return None, None
    name = min(measured, key=measured.get)
    return name, measured[name]


def _target(text, failures, unmeasured):
    status = "fails" if failures else "incomplete" if unmeasured else "holds"
    return {"target": text, "status": status, "failures": failures, "unmeasured": unmeasured}


def targets(summary):
    """What a run must show: first against the fastest peer (or, for the
    operations bound to it, against the standard datetime), the object
    sizes, and no growth of memory."""
    operations = summary["operations"]
    found = []

    behind, unmeasured = [], []
    for e in operations:
        peer, peer_ns = _fastest_peer(e)
        if peer is None or "stdlib_bound" in e:
            continue
        if e["merandol_ns"] is None:
            unmeasured.append(e["op"])
        elif e["merandol_ns"] > PEER_TOLERANCE * peer_ns:
            behind.append(f"{e['op']}: {e['merandol_ns'] / peer_ns:.2f}x {peer}'s time")
    found.append(_target("every operation at least as fast as the fastest peer (within 5%)", behind, unmeasured))

    bound = [e for e in operations if "stdlib_bound" in e]
    over = [
        f"{e['op']}: {e['merandol_ns'] / e['stdlib_ns']:.2f}x datetime's time (bound {e['stdlib_bound']}x)"
        for e in bound
        if e["merandol_ns"] is not None
        and e["stdlib_ns"] is not None
        and e["merandol_ns"] > e["stdlib_bound"] * e["stdlib_ns"]
    ]
    unmeasured = [e["op"] for e in bound if e["merandol_ns"] is None or e["stdlib_ns"] is None]
    limits = "/".join(f"{x:g}x" for x in sorted({e["stdlib_bound"] for e in bound}))
    found.append(
        _target(
            f"{' and '.join(e['op'].removesuffix(', per element') for e in bound)} at most {limits} "
            "datetime's time (datetime caches its hash)",
            over,
            unmeasured,
        )
    )

    conversions = [e for e in operations if e.get("conversion")]
    costly = [
        f"{e['op']}: {e['merandol_ns'] / e['stdlib_ns']:.2f}x the constructor's time"
        for e in conversions
        if e["merandol_ns"] is not None
        and e["stdlib_ns"] is not None
        and e["merandol_ns"] > CONVERSION_FACTOR * e["stdlib_ns"]
    ]
    unmeasured = [e["op"] for e in conversions if e["merandol_ns"] is None or e["stdlib_ns"] is None]
    found.append(
        _target(
            f"each conversion within {CONVERSION_FACTOR:g}x the standard constructor of the same value",
            costly,
            unmeasured,
        )
    )

    found += calendar_targets(operations)

    sizes = summary["sizes"]
    wrong = [
        f"{name} {s['bytes']} bytes (target {s['target']}, {s['stdlib']} {s['stdlib_bytes']})"
        for name, s in sizes.items()
        if s["bytes"] is not None and (s["bytes"] != s["target"] or s["bytes"] > s["stdlib_bytes"])
    ]
    unmeasured = [name for name, s in sizes.items() if s["bytes"] is None]
    found.append(_target("object sizes as targeted and no larger than the standard counterparts", wrong, unmeasured))

    print("\nZones in memory beside their files (bytes):")
    for key, z in summary.get("zone_sizes", {}).items():
        print(f"  {key:20} loaded {z['loaded']:>6}  file {z['file']!s:>6}")

    memory = summary["memory"]
    growing = []
    for op, check in memory["operations"].items():
        if check is None:
            continue
        if (
            check["traced_bytes"] > MAX_TRACED_BYTES
            or check["blocks"] > MAX_BLOCKS
            or (check["rss_bytes"] or 0) > MAX_RSS_BYTES
        ):
            growing.append(f"{op} (+{check['traced_bytes']} B traced, +{check['blocks']} blocks)")
    unmeasured = [op for op, check in memory["operations"].items() if check is None]
    found.append(_target(f"no growth of memory over {memory['repeats']:,} repeated operations", growing, unmeasured))
    return found


def calendar_targets(operations):
    """The zoned date-time against whenever, pendulum and the standard
    library, and add_calendar of a Date against Date.add_days."""
    by_op = {e["op"]: e for e in operations}
    zoned = [e for e in operations if "ZonedDateTime" in e["op"]]
    slow, unmeasured = [], []
    for e in zoned:
        ours, peers = e["merandol_ns"], e["peers"]
        if ours is None or peers.get("whenever") is None:
            unmeasured.append(e["op"])
            continue
        if ours > ZONED_SHARE_OF_WHENEVER * peers["whenever"]:
            slow.append(f"{e['op']}: {ours / peers['whenever']:.2f} of whenever's time")
        slow += [
            f"{e['op']}: {ours / peers[name]:.2f}x {name}'s time"
            for name in ("pendulum", "datetime")
            if peers.get(name) is not None and ours >= peers[name]
        ]
    found = [
        _target(
            f"every ZonedDateTime operation at most {ZONED_SHARE_OF_WHENEVER:g} of whenever's time, "
            "and faster than pendulum's and datetime's",
            slow,
            unmeasured,
        )
    ]

    add, add_days = by_op.get("add_calendar(Date, days=1)"), by_op.get("add_days")
    text = f"add_calendar(Date, days=1) at most {CALENDAR_ADD_BOUND:g}x Date.add_days(1)"
    if add is None or add_days is None or add["merandol_ns"] is None or add_days["merandol_ns"] is None:
        found.append(_target(text, [], ["add_calendar(Date, days=1)", "add_days"]))
    else:
        ratio = add["merandol_ns"] / add_days["merandol_ns"]
        over = [f"{ratio:.2f}x ({add['merandol_ns']:.1f} ns against {add_days['merandol_ns']:.1f})"]
        found.append(_target(text, over if ratio > CALENDAR_ADD_BOUND else [], []))
    return found


def figures(summary):
    """What a run reports without requiring it: the geometric-mean speed-up
    over the standard datetime and the near-floor operations against twice
    the floor."""
    operations = summary["operations"]
    # A conversion's standard figure is a constructor, not the same operation.
    ratios = [
        e["stdlib_ns"] / e["merandol_ns"]
        for e in operations
        if e["stdlib_ns"] is not None and e["merandol_ns"] is not None and not e.get("conversion")
    ]
    near = [e for e in operations if e.get("near_floor") and e["merandol_ns"] is not None]
    return {
        "geomean_over_stdlib": math.exp(sum(map(math.log, ratios)) / len(ratios)) if ratios else None,
        "geomean_operations": len(ratios),
        "floor_multiples": {e["op"]: e["merandol_ns"] / summary["floor_ns"] for e in near},
    }


def _ns(value):
    return "-" if value is None else f"{value:.1f}"


def aligned(rows, left=(0,)):
    """Rows of cells as lines, each column as wide as its widest cell: the
    columns numbered in `left` flush left, the others flush right."""
    widths = [max(len(row[i]) for row in rows if i < len(row)) for i in range(max(map(len, rows)))]
    return [
        "  ".join(
            cell.ljust(w) if i in left else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths, strict=False))
        ).rstrip()
        for row in rows
    ]


def operations_table(summary):
    """The lines of the table of operations, the floor last; and the notes on
    the implementations that could not run one."""
    rows, notes = [["operation", "merandol", "datetime", "ratio", "fastest peer", "peer ns"]], []
    for e in summary["operations"]:
        ratio = ""
        if e["merandol_ns"] is not None and e["stdlib_ns"] is not None:
            ratio = f"{e['stdlib_ns'] / e['merandol_ns']:.2f}x"
        stdlib = "n/a" if "datetime" in e.get("n/a", []) else _ns(e["stdlib_ns"])
        merandol = _ns(e["merandol_ns"]) if e["merandol_ns"] is not None else "unavail."
        peer, peer_ns = _fastest_peer(e)
        rows.append([e["op"], merandol, stdlib, ratio, peer or "-", _ns(peer_ns)])
        for name, why in e.get("unavailable", {}).items():
            if not why.startswith("absent"):
                notes.append(f"{e['op']}, {name}: {why}")
    rows.append(["floor: -f on a float", f"{summary['floor_ns']:.1f}"])
    return aligned(rows, left=(0, 4)), notes


def target_lines(found):
    """The lines of the targets' verdicts (a column target's with its figure)."""
    lines = []
    for t in found:
        value = f" ({t['value']:.2f}x)" if t.get("value") is not None else ""
        lines.append(f"[{t['status']:^10}] {t['target']}{value}")
        lines += [f"    {failure}" for failure in t["failures"]]
        if t["unmeasured"]:
            lines.append(f"    not measured: {', '.join(t['unmeasured'])}")
    return lines


def print_summary(summary, all_peers=False):
    print(
        f"\nmerandol against datetime and peers: Python {summary['python']}, "
        f"median of {summary['rounds']} interleaved rounds, ns per operation"
    )
    implementations = summary["implementations"]
    print(
        "  "
        + ", ".join(
            f"{name} ABSENT ({info['absent']})" if info["absent"] else f"{name} {info['version']}"
            for name, info in implementations.items()
        )
    )

    lines, notes = operations_table(summary)
    print("\n" + "\n".join(lines))
    if notes:
        print("\nUnavailable:")
        for note in notes:
            print(f"  {note}")

    if all_peers:
        names = catalogue.PEERS
        rows = [["operation", *names]]
        for e in summary["operations"]:
            rows.append([e["op"], *("n/a" if n in e.get("n/a", []) else _ns(e["peers"].get(n)) for n in names)])
        print("\n" + "\n".join(aligned(rows)))

    print("\nObject sizes (sys.getsizeof, bytes):")
    for name, s in summary["sizes"].items():
        size = "unavailable" if s["bytes"] is None else s["bytes"]
        print(f"  {name:15} {size!s:>11}  target {s['target']:3}  {s['stdlib']} {s['stdlib_bytes']}")

    memory = summary["memory"]
    print(f"\nMemory growth over {memory['repeats']:,} repetitions (RSS bytes, blocks, tracemalloc bytes):")
    for op, check in memory["operations"].items():
        if check is None:
            print(f"  {op:34} unavailable")
        else:
            print(f"  {op:34} {check['rss_bytes']!s:>9} {check['blocks']:>6} {check['traced_bytes']:>8}")

    print("\nTargets:")
    for line in target_lines(summary["targets"]):
        print(f"  {line}")

    f = summary["figures"]
    print("\nFigures (reported, not targets):")
    if f["geomean_over_stdlib"] is not None:
        print(
            f"  geometric-mean speed-up over datetime: {f['geomean_over_stdlib']:.2f}x "
            f"({f['geomean_operations']} operations)"
        )
    multiples = f["floor_multiples"]
    within = [op for op, x in multiples.items() if x <= FLOOR_FACTOR]
    print(f"  near-floor operations within {FLOOR_FACTOR:g}x the floor: {len(within)} of {len(multiples)}")
    for op, x in multiples.items():
        print(f"      {op:32} {x:5.2f}x the floor")


def chart(summary, path):
    """Bars of each implementation's time relative to the standard datetime,
    per operation with a standard equivalent; None when matplotlib is absent."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is absent: no chart")
        return None

    rows = [e for e in summary["operations"] if e["stdlib_ns"] is not None]
    names = ["merandol"] + [n for n in catalogue.PEERS if n != "datetime"]
    colours = dict(zip(names, plt.get_cmap("tab10").colors, strict=False))
    height = 0.8 / len(names)
    figure, axes = plt.subplots(figsize=(10, 1 + 0.55 * len(rows)))
    labelled = set()
    for row, e in enumerate(reversed(rows)):
        for column, name in enumerate(names):
            ns = e["merandol_ns"] if name == "merandol" else e["peers"].get(name)
            y = row + 0.4 - (column + 0.5) * height
            if ns is None:
                if name == "merandol":
                    axes.text(1.05, y, "merandol unavailable", va="center", fontsize=7, color="grey")
                continue
            label = None if name in labelled else name
            labelled.add(name)
            axes.barh(y, ns / e["stdlib_ns"], height=height, color=colours[name], label=label)
    axes.axvline(1, color="black", linewidth=1)
    axes.set_xscale("log")
    axes.set_yticks(range(len(rows)), [e["op"] for e in reversed(rows)], fontsize=8)
    axes.set_ylim(-0.6, len(rows) - 0.4)
    axes.set_xlabel("time relative to the standard datetime (log scale; left of the line is faster)")
    absent = [name for name, info in summary["implementations"].items() if info["absent"]]
    axes.set_title(
        f"merandol and peers, Python {summary['python']}" + (f" (absent: {', '.join(absent)})" if absent else "")
    )
    handles, labels = axes.get_legend_handles_labels()
    order = sorted(range(len(labels)), key=lambda i: names.index(labels[i]))
    axes.legend([handles[i] for i in order], [labels[i] for i in order], loc="lower right", fontsize=8)
    axes.grid(axis="x", which="both", alpha=0.3)
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)
    return path
