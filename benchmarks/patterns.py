"""The patterns and calendar section of the benchmark: merandol_interop's
column functions with a text pattern, and its calendar arithmetic on
columns, beside pyarrow, polars, DuckDB and pandas doing the same.

The column is the columns section's instants (2000 to 2040), whole seconds,
written two ways: as a database exports a reading without an offset
("2026-12-08 14:36:25") and as a web server logs one
("08/Dec/2026:14:36:25 +0100", at the columns section's offsets).  Every
result is checked against the instants, as in the columns section.  The
calendar tables check merandol's columns without a zone against numpy
arithmetic on the same counts; with a zone, merandol's result is the one
the peers are checked against (the suite checks it element by element
against the scalar functions)."""

import time
from datetime import timedelta

import columns
import report
from columns import Subject, Table, _datetime64_counts, measure

DATABASE_FORMAT = "%Y-%m-%d %H:%M:%S"
LOG_FORMAT = "%d/%b/%Y:%H:%M:%S %z"
MONTH_NAMES = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")
NS = 1_000_000_000
DAY_NS = 86_400 * NS
QUARTER_HOUR_NS = 15 * 60 * NS

DATABASE_GOAL_NS = 12
LOG_GOAL_NS = 25
PEER_RATIO = 3


def _offset_hhmm(minutes):
    sign = "+" if minutes >= 0 else "-"
    hours, rest = divmod(abs(minutes), 60)
    return f"{sign}{hours:02}{rest:02}"


def make_texts(np, seconds, offsets):
    """The database export's and the web log's texts of the instants."""
    stamps = np.datetime_as_string(seconds.astype("datetime64[s]")).tolist()
    database = [s.replace("T", " ") for s in stamps]
    local = np.datetime_as_string((seconds + offsets * 60).astype("datetime64[s]")).tolist()
    zones = {m: _offset_hhmm(m) for m in columns.OFFSET_MINUTES}
    log = [
        f"{s[8:10]}/{MONTH_NAMES[int(s[5:7]) - 1]}/{s[:4]}:{s[11:19]} {zones[m]}"
        for s, m in zip(local, offsets.tolist(), strict=True)
    ]
    return database, log


def _arrow_ns(pa):
    """int64 ns of an Arrow timestamp column of any unit, zone or none."""

    def reading(column):
        array = pa.array(column) if not isinstance(column, pa.Array | pa.ChunkedArray) else column
        unit = array.type.unit
        return array.cast(pa.int64()).to_numpy(zero_copy_only=False) * columns.UNIT_NS[unit]

    return reading


def reading_table(peers, title, fmt, texts, inputs, zoned):
    """Texts of one form to readings (zoned: to instants)."""
    pa = inputs.get("pa")
    table = Table(title, "parse_to_arrow")
    add = table.subjects.append
    strings = inputs.get("strings")
    if pa is not None:
        add(
            peers.interop_subject(
                f'merandol_interop.parse_to_arrow(strings, format="{fmt}")',
                "parse_to_arrow",
                lambda f: lambda: f(strings, format=fmt),
                _arrow_ns(pa),
                note="a pyarrow string array, read in place",
            )
        )
    add(
        peers.interop_subject(
            f'merandol_interop.parse_to_numpy(texts, format="{fmt}")',
            "parse_to_numpy",
            lambda f: lambda: f(texts, format=fmt),
            lambda array: array.astype("datetime64[ns]").view("int64"),
        )
    )
    add(
        peers.subject(
            f'pyarrow.compute.strptime(strings, "{fmt}", "s")',
            "pyarrow",
            lambda pa: lambda: inputs["pc"].strptime(strings, format=fmt, unit="s"),
            lambda pa: _arrow_ns(pa),
        )
    )
    add(
        peers.subject(
            f'polars: strings.str.to_datetime(format="{fmt}", time_unit="ns")',
            "polars",
            lambda pl: lambda: inputs["polars_strings"].str.to_datetime(format=fmt, time_unit="ns"),
            lambda pl: lambda series: series.dt.epoch("ns").to_numpy(),
        )
    )
    add(
        peers.subject(
            f"duckdb: SELECT strptime(s, '{fmt}') FROM strings",
            "duckdb",
            lambda duckdb: lambda: inputs["duckdb"].sql(f"SELECT strptime(s, '{fmt}') FROM strings").to_arrow_table(),
            lambda duckdb: lambda result: _arrow_ns(pa)(result.column(0)),
            note="TIMESTAMP and TIMESTAMPTZ hold microseconds",
        )
        if "duckdb" in inputs or "duckdb" not in peers.modules
        else Subject(f"duckdb: strptime '{fmt}'", "duckdb", None, None, problem="absent: pyarrow")
    )
    add(
        peers.subject(
            f'pandas.to_datetime(texts, format="{fmt}"{", utc=True" if zoned else ""})',
            "pandas",
            lambda pd: lambda: pd.to_datetime(texts, format=fmt, utc=zoned),
            lambda pd: lambda index: index.as_unit("ns").asi8,
        )
    )
    return table


def format_table(peers, fmt, inputs):
    """Readings to texts with a pattern."""
    np = peers.modules["numpy"]
    readings = inputs["readings"]

    def read_back(texts):
        return np.array([t.replace(" ", "T") for t in texts], dtype="datetime64[ns]").view("int64")

    table = Table(f'readings to texts with "{fmt}"', "format_arrow")
    if "pa" in inputs:
        # Arrow timestamps to Arrow strings, as polars' own formatting does.
        pa = inputs["pa"]
        table.subjects.append(
            peers.interop_subject(
                f'merandol_interop.format_arrow(timestamps, format="{fmt}")',
                "format_arrow",
                lambda f: lambda: f(inputs["reading_timestamps"], format=fmt),
                lambda column: read_back(pa.array(column).to_pylist()),
            )
        )
    table.subjects += [
        peers.interop_subject(
            f'merandol_interop.format_numpy(readings, format="{fmt}")',
            "format_numpy",
            lambda f: lambda: f(readings, format=fmt),
            read_back,
        ),
        peers.subject(
            f'polars: readings.dt.to_string("{fmt}")',
            "polars",
            lambda pl: lambda: inputs["polars_readings"].dt.to_string(fmt),
            lambda pl: lambda series: read_back(series.to_list()),
        ),
        peers.subject(
            f'pandas.DatetimeIndex(readings).strftime("{fmt}")',
            "pandas",
            lambda pd: lambda: pd.DatetimeIndex(readings).strftime(fmt),
            lambda pd: read_back,
        ),
    ]
    return table


def _months_later(np, nanos):
    """The instants one calendar month later, the day clamped to the month's
    last: numpy's own month arithmetic on the counts."""
    days, rest = np.divmod(nanos, DAY_NS)
    dates = days.astype("datetime64[D]")
    months = dates.astype("datetime64[M]")
    day_index = (dates - months.astype("datetime64[D]")).astype(np.int64)
    target = months + 1
    first = target.astype("datetime64[D]")
    length = ((target + 1).astype("datetime64[D]") - first).astype(np.int64)
    return (first + np.minimum(day_index, length - 1)).astype(np.int64) * DAY_NS + rest


def _quarter_hours(np, nanos, ties_even=True):
    """The instants rounded to a quarter hour, ties to the even count (or
    up, as polars rounds them)."""
    count, rest = np.divmod(nanos, QUARTER_HOUR_NS)
    half = QUARTER_HOUR_NS // 2
    up = (rest > half) | ((rest == half) & ((count % 2 == 1) if ties_even else True))
    return (count + up) * QUARTER_HOUR_NS


def calendar_tables(peers, inputs):
    """add_calendar_numpy(months=1) and round_numpy to the quarter hour,
    without a zone and in Europe/Paris."""
    np, pd = peers.modules["numpy"], peers.modules.get("pandas")
    array = inputs["ns_array"]
    nanos = array.view("int64")
    zone_key = columns.ZONE_KEY
    tables = []

    def add_table(title, function, label, ours, expected, pandas, polars, polars_expected=None):
        """A table of merandol's function and the pandas and polars runs,
        each given as (label, run, result as int64 nanoseconds)."""
        table = Table(f"datetime64[ns]: {title}", function)
        table.subjects.append(peers.interop_subject(label, function, ours, _datetime64_counts("ns"), expected=expected))
        table.subjects.append(peers.subject(pandas[0], "pandas", pandas[1], pandas[2], expected=expected))
        table.subjects.append(
            peers.subject(
                polars[0],
                "polars",
                polars[1],
                polars[2],
                expected=expected if polars_expected is None else polars_expected,
                note="" if polars_expected is None else "rounds ties up",
            )
        )
        tables.append(table)

    for title, function, ours, expected, polars_expected, pandas_run, polars_run in (
        (
            "add one calendar month",
            "add_calendar_numpy",
            lambda f: lambda: f(array, months=1),
            _months_later(np, nanos),
            None,
            lambda pd: lambda: pd.Series(array) + pd.DateOffset(months=1),
            lambda pl: lambda: inputs["polars_instants"].dt.offset_by("1mo"),
        ),
        (
            "round to the quarter hour",
            "round_numpy",
            lambda f: lambda: f(array, "minute", increment=15),
            _quarter_hours(np, nanos),
            _quarter_hours(np, nanos, ties_even=False),
            lambda pd: lambda: pd.Series(array).dt.round("15min"),
            lambda pl: lambda: inputs["polars_instants"].dt.round("15m"),
        ),
    ):
        add_table(
            title,
            function,
            f"merandol_interop.{function}(ns_array, ...)",
            ours,
            expected,
            ("pandas", pandas_run, lambda pd: lambda s: s.to_numpy().view("int64")),
            ("polars", polars_run, lambda pl: lambda s: s.dt.epoch("ns").to_numpy()),
            polars_expected,
        )

    interop = peers.interop
    if interop is None or not hasattr(interop, "add_calendar_numpy") or not hasattr(interop, "round_numpy"):
        return tables
    paris = interop.Zone(zone_key)
    # pandas' zones end their rules in 2037: the instants from 2038 on move
    # back 28 years, as the zone tables of the columns section do.
    later = nanos >= columns.PANDAS_ZONES_END
    zoned_array = np.where(later, nanos - columns.TWENTY_EIGHT_YEARS, nanos).view("datetime64[ns]")
    zoned_month = interop.add_calendar_numpy(zoned_array, months=1, zone=paris).view("int64")
    zoned_round = interop.round_numpy(zoned_array, "minute", increment=15, zone=paris).view("int64")
    zoned_round_up = interop.round_numpy(zoned_array, "minute", increment=15, mode="half_ceil", zone=paris).view(
        "int64"
    )
    # The peers move local readings and place them back with the options
    # that give merandol's rule: in a fold the earlier instant after a
    # calendar add and the original offset after a rounding, in a gap the
    # reading an hour later (every gap of Paris in these years is an hour);
    # the readings are made outside the timing.
    local = None if pd is None else pd.Series(zoned_array).dt.tz_localize("UTC").dt.tz_convert(zone_key)
    pl = peers.modules.get("polars")
    polars_instants = None if pl is None else pl.Series(zoned_array)
    polars_local = None if pl is None else polars_instants.dt.replace_time_zone("UTC").dt.convert_time_zone(zone_key)
    hour = timedelta(hours=1)
    summer = timedelta(hours=2)  # Paris's offset in summer, the earlier of a fold's two

    def pandas_place(readings, earlier):
        return readings.dt.tz_localize(zone_key, ambiguous=earlier, nonexistent=hour)

    def polars_place(pl, readings, earlier):
        frame = pl.DataFrame({"t": readings, "earlier": earlier})
        which = pl.when(pl.col("earlier")).then(pl.lit("earliest")).otherwise(pl.lit("latest"))
        hour_later = (pl.col("t") + hour).dt.replace_time_zone(zone_key, ambiguous=which, non_existent="null")
        placed = pl.col("t").dt.replace_time_zone(zone_key, ambiguous=which, non_existent="null")
        return frame.select(placed.fill_null(hour_later)).to_series()

    def pandas_round(pd):
        def run():
            readings = local.dt.tz_localize(None)
            return pandas_place(
                readings.dt.round("15min"), (readings.to_numpy() - zoned_array) == np.timedelta64(summer)
            )

        return run

    def polars_round(pl):
        def run():
            readings = polars_local.dt.replace_time_zone(None)
            return polars_place(pl, readings.dt.round("15m"), (readings - polars_instants) == summer)

        return run

    for title, function, ours, expected, pandas_run, polars_run, polars_expected in (
        (
            f"add one calendar month in {zone_key}",
            "add_calendar_numpy",
            lambda f: lambda: f(zoned_array, months=1, zone=paris),
            zoned_month,
            lambda pd: (
                lambda: pandas_place(
                    local.dt.tz_localize(None) + pd.DateOffset(months=1), np.ones(len(zoned_array), dtype=bool)
                )
            ),
            lambda pl: (
                lambda: polars_place(
                    pl,
                    polars_local.dt.replace_time_zone(None).dt.offset_by("1mo"),
                    pl.repeat(True, len(zoned_array), eager=True),
                )
            ),
            None,
        ),
        (
            f"round to the quarter hour in {zone_key}",
            "round_numpy",
            lambda f: lambda: f(zoned_array, "minute", increment=15, zone=paris),
            zoned_round,
            pandas_round,
            polars_round,
            zoned_round_up,
        ),
    ):
        add_table(
            title,
            function,
            f"merandol_interop.{function}(ns_array, ..., zone=Zone('{zone_key}'))",
            ours,
            expected,
            (
                "pandas (readings, the same, then tz_localize)",
                pandas_run,
                lambda pd: lambda s: s.dt.tz_convert("UTC").dt.tz_localize(None).to_numpy().view("int64"),
            ),
            (
                "polars (readings, the same, then replace_time_zone)",
                polars_run,
                lambda pl: lambda s: s.dt.epoch("ns").to_numpy(),
            ),
            polars_expected,
        )
    return tables


def prepare_inputs(peers, column):
    np = peers.modules["numpy"]
    seconds = column.nanos // NS
    rng = np.random.default_rng(columns.SEED)
    offsets = rng.choice(columns.OFFSET_MINUTES, len(seconds))
    database, log = make_texts(np, seconds, offsets)
    # Whole seconds, as the texts hold: the readings of the database form,
    # and the instants the calendar tables move.
    inputs = {"database": database, "log": log, "readings": (seconds * NS).astype("datetime64[ns]")}
    inputs["ns_array"] = inputs["readings"]
    if "pyarrow" in peers.modules:
        import importlib

        pa = inputs["pa"] = peers.modules["pyarrow"]
        inputs["pc"] = importlib.import_module("pyarrow.compute")
        inputs["database_strings"] = pa.array(database, type=pa.string())
        inputs["log_strings"] = pa.array(log, type=pa.string())
        inputs["reading_timestamps"] = pa.array(inputs["readings"])
        if "duckdb" in peers.modules:
            inputs["duckdb_module"] = peers.modules["duckdb"]
    if "polars" in peers.modules:
        pl = peers.modules["polars"]
        inputs["polars_database"] = pl.Series(database, dtype=pl.String)
        inputs["polars_log"] = pl.Series(log, dtype=pl.String)
        inputs["polars_readings"] = pl.Series(inputs["readings"])
        inputs["polars_instants"] = pl.Series(inputs["ns_array"])
    return inputs


def _form_inputs(inputs, form):
    """The inputs of the reading table of one form: its strings under the
    names the subjects use, and a DuckDB connection that sees them."""
    chosen = dict(inputs)
    if f"{form}_strings" in inputs:
        chosen["strings"] = inputs[f"{form}_strings"]
        if "duckdb_module" in inputs:
            chosen["duckdb"] = inputs["duckdb_module"].connect()
            chosen["duckdb"].register("strings", inputs["pa"].table({"s": chosen["strings"]}))
    if f"polars_{form}" in inputs:
        chosen["polars_strings"] = inputs[f"polars_{form}"]
    return chosen


def _goal(table, goal_ns, text):
    ours = next((s for s in table.subjects if s.label.startswith("merandol_interop.parse_to_arrow")), None)
    if ours is None or ours.ns is None:
        return columns._target(text, [], [table.title])
    failures = [f"{ours.ns:.1f} ns per text"] if ours.ns > goal_ns else []
    failures += [
        f"{p.label}: {p.ns:.1f} ns, {p.ns / ours.ns:.2f}x"
        for p in table.peers()
        if p.ns and p.ns < PEER_RATIO * ours.ns
    ]
    return columns._target(text, failures, [p.label for p in table.peers() if p.ns is None])


def _ratio_goal(table, text):
    ours = next(s for s in table.subjects if s.ours)
    if ours.ns is None:
        return columns._target(text, [], [ours.label])
    failures = [
        f"{p.label}: {p.ns:.1f} ns, {p.ns / ours.ns:.2f}x"
        for p in table.peers()
        if p.ns and p.ns < PEER_RATIO * ours.ns
    ]
    return columns._target(text, failures, [p.label for p in table.peers() if p.ns is None])


def run(quick=False, progress=print):
    size = columns.QUICK_SIZE if quick else columns.SIZE
    started = time.perf_counter()
    peers = columns.Peers()
    summary = {"size": size, "versions": peers.versions, "absent": peers.absent, "tables": []}
    if "numpy" not in peers.modules:
        summary["skipped"] = f"numpy is absent: {peers.absent['numpy']}"
        return summary
    progress(f"Patterns: generating {size:,} texts ...")
    column = columns.make_column(size)
    inputs = prepare_inputs(peers, column)
    column = columns.Column(inputs["database"], (column.nanos // NS) * NS)
    database = reading_table(
        peers,
        f'database export texts to readings ("{DATABASE_FORMAT}")',
        DATABASE_FORMAT,
        inputs["database"],
        _form_inputs(inputs, "database"),
        zoned=False,
    )
    log = reading_table(
        peers,
        f'web server log texts to instants ("{LOG_FORMAT}")',
        LOG_FORMAT,
        inputs["log"],
        _form_inputs(inputs, "log"),
        zoned=True,
    )
    formatting = format_table(peers, DATABASE_FORMAT, inputs)
    calendar = calendar_tables(peers, inputs)
    timed = [database, log, formatting, *calendar]
    for table in timed:
        progress(f"Patterns: {table.title} ...")
        for subject in table.subjects:
            if subject.problem is None:
                measure(subject, column, columns.TIME_BUDGET[quick])
    summary["tables"] = [{"title": t.title, "subjects": [s.as_dict() for s in t.subjects]} for t in timed]
    summary["targets"] = [
        _goal(
            database,
            DATABASE_GOAL_NS,
            f"parse_to_arrow of database texts at most {DATABASE_GOAL_NS} ns per text and "
            f"{PEER_RATIO}x faster than pyarrow, polars, DuckDB and pandas",
        ),
        _goal(
            log,
            LOG_GOAL_NS,
            f"parse_to_arrow of web log texts at most {LOG_GOAL_NS} ns per text and "
            f"{PEER_RATIO}x faster than pyarrow, polars, DuckDB and pandas",
        ),
        _ratio_goal(formatting, f"formatting a column with a pattern {PEER_RATIO}x faster than polars and pandas"),
        *(
            _ratio_goal(t, f"{t.function}: {t.title.split(': ')[1]}, {PEER_RATIO}x faster than pandas and polars")
            for t in calendar
        ),
    ]
    summary["seconds"] = time.perf_counter() - started
    return summary


def print_summary(summary):
    print(f"\nPatterns and calendar columns: {summary['size']:,} values (seed {columns.SEED}), ns per element")
    if "skipped" in summary:
        print(f"  skipped: {summary['skipped']}")
        return
    print("\n" + "\n".join(columns.table_lines(summary)))
    problems = [
        f"{s['label']}: {s['problem']}"
        for t in summary["tables"]
        for s in t["subjects"]
        if s["problem"] and not s["problem"].startswith("absent")
    ]
    if problems:
        print("\nNotes:")
        for line in problems:
            print(f"  {line}")
    print(f"\nPattern and calendar targets ({summary['seconds']:.0f} s):")
    for line in report.target_lines(summary["targets"]):
        print(f"  {line}")
