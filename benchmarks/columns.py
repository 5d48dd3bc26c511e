"""The columns section of the benchmark: merandol_interop's column functions
beside the column readers and converters of the standard datetime, pandas,
numpy, pyarrow and polars, on one column of generated RFC 3339 texts.

Every subject runs over the whole column of 10^6 values (10^5 with
--quick).  The result of its first run is checked against the instants the
texts were generated from: to the nanosecond, or to the subject's own unit
where it holds less (the standard datetime keeps microseconds and drops
further digits).  A subject whose result differs is reported with the first
difference, and no time of it.  The runs repeat while they took less than
TIME_BUDGET seconds together, at most MAX_RUNS times, and the fastest is
reported: a slow subject runs once, and a fast one, whose single run a busy
machine's scheduler can spoil, gets a few tries.  Reported are wall-clock
and process CPU nanoseconds per element; CPU time above wall time tells a
subject that used more than one thread."""

import gc
import importlib
import importlib.metadata
import time
import warnings
from collections.abc import Callable
from dataclasses import dataclass, field

import report

SIZE = 1_000_000
QUICK_SIZE = 100_000
SEED = 20240105

# 2000-01-01 and 2040-01-01 as Unix seconds: realistic instants, well inside
# datetime64[ns]'s range (1677 to 2262).
FIRST_SECOND = 946_684_800
LAST_SECOND = 2_208_988_800
# Offsets in minutes, UTC ("Z") four times over as in most logs; the others
# are clocks in use, a few of them off the whole hour.
OFFSET_MINUTES = (0, 0, 0, 0, 60, 120, 180, 330, 345, 480, 540, 570, 600, -180, -210, -300, -420, -480)
FRACTION_DIGITS = (0, 3, 6, 9)

UNIT_NS = {"s": 1_000_000_000, "ms": 1_000_000, "us": 1_000, "ns": 1}

PARSE_MANY_GOAL = 1.5

TIME_BUDGET = {False: 0.3, True: 0.05}  # seconds of timed runs per subject, by --quick
MAX_RUNS = 5


@dataclass(frozen=True)
class Column:
    texts: list[str]
    nanos: object  # numpy int64 array: the Unix nanoseconds of each text


def offset_text(minutes):
    if minutes == 0:
        return "Z"
    sign = "+" if minutes > 0 else "-"
    hours, rest = divmod(abs(minutes), 60)
    return f"{sign}{hours:02}:{rest:02}"


def make_column(size, seed=SEED):
    """Texts written from random instants, offsets and fraction widths, and
    the instants themselves as the oracle.  numpy writes the local date and
    time of day; the fraction and the offset are appended."""
    import numpy as np

    rng = np.random.default_rng(seed)
    seconds = rng.integers(FIRST_SECOND, LAST_SECOND, size)
    digits = rng.choice(FRACTION_DIGITS, size)
    scale = 10 ** (9 - digits)
    fraction = rng.integers(0, 1_000_000_000, size) // scale
    offsets = rng.choice(OFFSET_MINUTES, size)
    local = np.datetime_as_string((seconds + offsets * 60).astype("datetime64[s]")).tolist()
    zones = {minutes: offset_text(minutes) for minutes in OFFSET_MINUTES}
    texts = [
        f"{stamp}.{value:0{width}}{zones[minutes]}" if width else f"{stamp}{zones[minutes]}"
        for stamp, width, value, minutes in zip(
            local, digits.tolist(), fraction.tolist(), offsets.tolist(), strict=True
        )
    ]
    return Column(texts, seconds * 1_000_000_000 + fraction * scale)


@dataclass
class Subject:
    """One call over the whole column, and how to read its result back as
    int64 counts of `unit` since the Unix epoch."""

    label: str
    implementation: str
    run: Callable[[], object] | None
    reading: Callable[[object], object] | None
    unit: str = "ns"
    note: str = ""
    ours: bool = False  # a column function of merandol_interop
    expected: object = None  # int64 counts of ns that the reading must equal; None: the column's instants
    problem: str | None = None  # why it cannot run: absent, unavailable, failed or wrong
    ns: float | None = None
    cpu_ns: float | None = None
    runs: int = 0

    def as_dict(self):
        return {
            "label": self.label,
            "implementation": self.implementation,
            "unit": self.unit,
            "ns": self.ns,
            "cpu_ns": self.cpu_ns,
            "runs": self.runs,
            "problem": self.problem,
            "note": self.note,
        }


@dataclass
class Table:
    title: str
    function: str = ""  # the merandol_interop function it times
    subjects: list[Subject] = field(default_factory=list)

    def find(self, label):
        return next(s for s in self.subjects if s.label == label)

    def peers(self):
        return [s for s in self.subjects if not s.ours]


def _import(name):
    try:
        return importlib.import_module(name), None
    except ImportError as error:
        return None, str(error)


def _version(distribution):
    try:
        return importlib.metadata.version(distribution)
    except importlib.metadata.PackageNotFoundError:
        return "unknown version"


class Peers:
    """The modules the section uses, each imported once, or why not."""

    NAMES = ("numpy", "pandas", "pyarrow", "polars", "duckdb")

    def __init__(self):
        self.modules, self.absent, self.versions = {}, {}, {}
        for name in self.NAMES:
            module, why = _import(name)
            if module is None:
                self.absent[name] = why
            else:
                self.modules[name] = module
                self.versions[name] = _version(name)
        if "polars" in self.modules:
            # polars' own distribution is Python; its compiled part comes
            # from a runtime distribution, whose version is the one that runs.
            runtimes = [
                d.metadata["Name"]
                for d in importlib.metadata.distributions()
                if (d.metadata["Name"] or "").startswith("polars-runtime")
            ]
            if runtimes:
                self.versions["polars"] += f" ({runtimes[0]} {_version(runtimes[0])})"
        self.interop, why = _import("merandol_interop")
        if self.interop is None:
            self.absent["merandol_interop"] = why

    def subject(self, label, implementation, run, reading, **extra):
        """A subject whose callables are made only when the modules it needs
        are there: `run` and `reading` take the module (or None for the
        standard library) and return the callables."""
        module = None
        if implementation in self.NAMES:
            module = self.modules.get(implementation)
            if module is None:
                return Subject(label, implementation, None, None, problem=f"absent: {self.absent[implementation]}")
        return Subject(label, implementation, run(module), reading(module), **extra)

    def interop_subject(self, label, function, call, reading, **extra):
        """A subject of merandol_interop.`function`, unavailable while the
        module lacks it."""
        if self.interop is None:
            problem = f"absent: {self.absent['merandol_interop']}"
        elif not hasattr(self.interop, function):
            problem = f"unavailable: merandol_interop has no {function}"
        else:
            return Subject(label, "merandol", call(getattr(self.interop, function)), reading, ours=True, **extra)
        return Subject(label, "merandol", None, None, ours=True, problem=problem)


def _instants(values):
    """Unix nanoseconds of a list of merandol values."""
    import numpy as np

    return np.fromiter((v.unix_timestamp_nanos() for v in values), dtype=np.int64, count=len(values))


def _stdlib_micros(values):
    """Unix microseconds of a list of standard datetimes (aware or, read as
    UTC, naive)."""
    from datetime import UTC, datetime, timedelta

    import numpy as np

    aware, naive, micro = datetime(1970, 1, 1, tzinfo=UTC), datetime(1970, 1, 1), timedelta(microseconds=1)
    return np.fromiter(
        ((v - (naive if v.tzinfo is None else aware)) // micro for v in values), dtype=np.int64, count=len(values)
    )


def _local_texts_read_back(unit):
    """Local readings of texts that end in an offset ("+01:00" or "+0100"),
    read back by numpy without it."""

    def reading(texts):
        import numpy as np

        texts = list(texts)
        bare = [t[: max(t.rfind("+"), t.rfind("-"))] for t in texts]
        if any(len(b) < 19 for b in bare):
            raise ValueError("a text without an offset")
        return np.array(bare, dtype=f"datetime64[{unit}]").view("int64")

    return reading


def _datetime64_counts(unit):
    def reading(array):
        if str(array.dtype) != f"datetime64[{unit}]":
            raise TypeError(f"dtype {array.dtype}, expected datetime64[{unit}]")
        return array.view("int64")

    return reading


def _utc_texts_read_back(unit):
    """Instants of UTC texts ending in "Z", read back by numpy."""

    def reading(texts):
        import numpy as np

        texts = list(texts)
        if not all(t.endswith("Z") for t in texts):
            raise ValueError("a text without the UTC designator Z")
        return np.array([t[:-1] for t in texts], dtype=f"datetime64[{unit}]").view("int64")

    return reading


PARSE_TO_NUMPY = "merandol_interop.parse_to_numpy(texts)"
PARSE_TO_ARROW = "merandol_interop.parse_to_arrow(strings)"
ARROW_GOAL_NS = 10
ARROW_GOAL_RATIO = 3
ARROW_PEERS = ("pyarrow.compute.cast", "polars:", "duckdb:")
PARSE_MANY = "merandol_interop.parse_many(OffsetDateTime, texts)"
COMPREHENSION = "[OffsetDateTime.parse(s) for s in texts]"


def reading_table(peers, column, inputs):
    """RFC 3339 texts to instants."""
    from merandol import OffsetDateTime

    texts = column.texts
    table = Table("RFC 3339 texts to instants")
    add = table.subjects.append
    add(
        peers.interop_subject(
            PARSE_TO_NUMPY,
            "parse_to_numpy",
            lambda f: lambda: f(texts),
            _datetime64_counts("ns"),
        )
    )
    add(
        peers.interop_subject(
            "merandol_interop.parse_to_numpy(numpy str array)",
            "parse_to_numpy",
            lambda f: lambda: f(inputs["text_array"]),
            _datetime64_counts("ns"),
        )
    )
    if "pyarrow" in peers.modules:
        pa = peers.modules["pyarrow"]

        def arrow_counts(column):
            return pa.array(column).cast(pa.int64()).to_numpy()

        add(
            peers.interop_subject(
                PARSE_TO_ARROW,
                "parse_to_arrow",
                lambda f: lambda: f(inputs["arrow_strings"]),
                arrow_counts,
                note="a pyarrow string array, read in place",
            )
        )
        if "polars" in peers.modules:
            add(
                peers.interop_subject(
                    "merandol_interop.parse_to_arrow(polars strings)",
                    "parse_to_arrow",
                    lambda f: lambda: f(inputs["polars_strings"]),
                    arrow_counts,
                    note="polars' string views, read in place",
                )
            )
    add(
        peers.interop_subject(
            PARSE_MANY,
            "parse_many",
            lambda f: lambda: f(OffsetDateTime, texts),
            _instants,
        )
    )
    add(
        Subject(
            COMPREHENSION,
            "merandol",
            lambda: [OffsetDateTime.parse(s) for s in texts],
            _instants,
        )
    )
    from datetime import datetime

    add(
        Subject(
            "[datetime.fromisoformat(s) for s in texts]",
            "datetime",
            lambda: [datetime.fromisoformat(s) for s in texts],
            _stdlib_micros,
            unit="us",
            note="keeps microseconds and drops further digits",
        )
    )
    add(
        peers.subject(
            'pandas.to_datetime(texts, format="ISO8601", utc=True)',
            "pandas",
            lambda pd: lambda: pd.to_datetime(texts, format="ISO8601", utc=True),
            lambda pd: lambda index: index.asi8,
        )
    )

    def numpy_run(np):
        def run():
            # numpy reads the offsets and converts to UTC, but warns for
            # each text that has one.
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", UserWarning)
                return np.array(texts, dtype="datetime64[ns]")

        return run

    add(
        peers.subject(
            'numpy.array(texts, dtype="datetime64[ns]")',
            "numpy",
            numpy_run,
            lambda np: _datetime64_counts("ns"),
            note="reads offsets, warning for each text that has one (timed with the warning ignored)",
        )
    )
    add(
        peers.subject(
            'pyarrow.compute.cast(strings, pyarrow.timestamp("ns", "UTC"))',
            "pyarrow",
            lambda pa: lambda: inputs["pc"].cast(inputs["arrow_strings"], pa.timestamp("ns", "UTC")),
            lambda pa: lambda array: array.cast(pa.int64()).to_numpy(),
            note=inputs.get("arrow_note", ""),
        )
    )
    add(
        peers.subject(
            'polars: strings.str.to_datetime(format="%+", time_unit="ns")',
            "polars",
            lambda pl: lambda: inputs["polars_strings"].str.to_datetime(format="%+", time_unit="ns"),
            lambda pl: lambda series: series.dt.epoch("ns").to_numpy(),
            note=inputs.get("polars_note", ""),
        )
    )
    add(
        peers.subject(
            "duckdb: SELECT CAST(s AS TIMESTAMPTZ) FROM strings",
            "duckdb",
            lambda duckdb: lambda: inputs["duckdb"].sql("SELECT CAST(s AS TIMESTAMPTZ) FROM strings").to_arrow_table(),
            lambda duckdb: lambda table: table.column(0).cast(inputs["pa"].int64()).to_numpy(),
            unit="us",
            note="TIMESTAMPTZ holds microseconds; the pyarrow table of strings is scanned in place",
        )
        if "duckdb" in inputs or "duckdb" not in peers.modules
        else Subject(
            "duckdb: SELECT CAST(s AS TIMESTAMPTZ) FROM strings", "duckdb", None, None, problem="absent: pyarrow"
        )
    )
    return table


def conversion_tables(peers, inputs):
    """to_numpy, from_numpy and format_numpy beside their nearest pandas
    and numpy equivalents."""
    ns_array, us_array = inputs["ns_array"], inputs["us_array"]

    to_numpy = Table("merandol values to datetime64 (to_numpy)", "to_numpy")
    to_numpy.subjects += [
        peers.interop_subject(
            "merandol_interop.to_numpy(date_times)",
            "to_numpy",
            lambda f: lambda: f(inputs["date_times"]),
            _datetime64_counts("ns"),
        ),
        peers.subject(
            "pandas.to_datetime(aware_datetimes, utc=True)",
            "pandas",
            lambda pd: lambda: pd.to_datetime(inputs["aware_datetimes"], utc=True),
            lambda pd: lambda index: index.asi8 // 1000,
            unit="us",
            note="the datetimes hold microseconds",
        ),
        peers.subject(
            'numpy.array(naive_datetimes, dtype="datetime64[us]")',
            "numpy",
            lambda np: lambda: np.array(inputs["naive_datetimes"], dtype="datetime64[us]"),
            lambda np: _datetime64_counts("us"),
            unit="us",
            note="the datetimes hold microseconds",
        ),
    ]

    from_numpy = Table("datetime64 to a list of values (from_numpy)", "from_numpy")
    from_numpy.subjects += [
        peers.interop_subject(
            "merandol_interop.from_numpy(ns_array)", "from_numpy", lambda f: lambda: f(ns_array), _instants
        ),
        peers.subject(
            "pandas.DatetimeIndex(ns_array).tolist()",
            "pandas",
            lambda pd: lambda: pd.DatetimeIndex(ns_array).tolist(),
            lambda pd: lambda stamps: inputs["numpy"].fromiter((t.value for t in stamps), "int64", len(stamps)),
            note="Timestamps",
        ),
        peers.subject(
            "us_array.tolist()",
            "numpy",
            lambda np: lambda: us_array.tolist(),
            lambda np: _stdlib_micros,
            unit="us",
            note="datetimes; of a datetime64[ns] array tolist() gives ints",
        ),
    ]

    format_numpy = Table("datetime64 to UTC texts (format_numpy)", "format_numpy")
    format_numpy.subjects += [
        peers.interop_subject(
            "merandol_interop.format_numpy(ns_array)",
            "format_numpy",
            lambda f: lambda: f(ns_array),
            _utc_texts_read_back("ns"),
        ),
        peers.subject(
            'numpy.datetime_as_string(ns_array, timezone="UTC").tolist()',
            "numpy",
            lambda np: lambda: np.datetime_as_string(ns_array, timezone="UTC").tolist(),
            lambda np: _utc_texts_read_back("ns"),
            note="always nine fraction digits",
        ),
        peers.subject(
            'pandas.DatetimeIndex(ns_array).strftime("%Y-%m-%dT%H:%M:%S.%fZ").tolist()',
            "pandas",
            lambda pd: lambda: pd.DatetimeIndex(ns_array).strftime("%Y-%m-%dT%H:%M:%S.%fZ").tolist(),
            lambda pd: _utc_texts_read_back("us"),
            unit="us",
            note="%f writes microseconds",
        ),
    ]
    return [to_numpy, from_numpy, format_numpy]


def arrow_format_table(peers, inputs):
    """format_arrow beside pyarrow's and polars' own formatting of the same
    timestamp[ns, UTC] column; None without pyarrow."""
    if "arrow_timestamps" not in inputs:
        return None
    pa, timestamps = inputs["pa"], inputs["arrow_timestamps"]

    def texts_of(column):
        return _utc_texts_read_back("ns")(pa.array(column).to_pylist())

    table = Table("timestamps to UTC texts, Arrow to Arrow (format_arrow)", "format_arrow")
    table.subjects += [
        peers.interop_subject(
            "merandol_interop.format_arrow(timestamps)",
            "format_arrow",
            lambda f: lambda: f(timestamps),
            texts_of,
            note="a pyarrow timestamp[ns, UTC] array, read in place",
        ),
        peers.subject(
            "timestamps.cast(pyarrow.string())",
            "pyarrow",
            lambda pa: lambda: timestamps.cast(pa.string()),
            lambda pa: texts_of,
            note='nine fraction digits, " " for "T"',
        ),
        peers.subject(
            'polars: timestamps.dt.to_string("%Y-%m-%dT%H:%M:%S%.9fZ")',
            "polars",
            lambda pl: lambda: inputs["polars_timestamps"].dt.to_string("%Y-%m-%dT%H:%M:%S%.9fZ"),
            lambda pl: lambda series: _utc_texts_read_back("ns")(series.to_list()),
            note="nine fraction digits",
        ),
    ]
    return table


ZONE_KEY = "Europe/Paris"
ZONE_GOAL_RATIO = 2
# Instants after the zone file's last transitions cost at most this much
# more than those of 2000 to 2037: both are answered by one search.
LATER_GOAL_RATIO = 1.1
LATER_SECONDS = (2_208_988_800, 4_102_444_800)  # 2040-01-01 and 2100-01-01
PANDAS_ZONES_END = 2_145_916_800 * 1_000_000_000  # 2038-01-01 in Unix nanoseconds
TWENTY_EIGHT_YEARS = (28 * 365 + 7) * 86_400 * 1_000_000_000  # seven leap days, none skipped from 1901 to 2099


def physical(pl):
    """The int64 values of a polars datetime Series."""
    return lambda series: series.to_physical().to_numpy()


def zone_tables(peers, column, inputs):
    """to_local_numpy, from_local_numpy and format_numpy with a zone beside
    pandas and polars doing the same in one zone with daylight saving.  The
    expected local readings and, for the readings' way back, the instants
    that the standard library's fold=0 gives (the earlier of a repeated
    hour) come from zoneinfo, per element, outside the timing.

    pandas' zones end their rules in 2037 (it was wrong in a few thousand of
    the later instants), so the column's instants from 2038 on are moved
    back 28 years, which keeps weekdays and leap years, for these tables."""
    from datetime import UTC, datetime, timedelta
    from zoneinfo import ZoneInfo

    np = inputs["numpy"]
    tz, second = ZoneInfo(ZONE_KEY), timedelta(seconds=1)
    epoch, naive_epoch = datetime(1970, 1, 1, tzinfo=UTC), datetime(1970, 1, 1)

    def zoneinfo_answers(instants):
        """The local readings of the instants and the instants that fold=0
        gives those readings, in Unix nanoseconds."""
        seconds, rest = np.divmod(instants, 1_000_000_000)
        shifts = np.fromiter(
            (datetime.fromtimestamp(t, tz).utcoffset() // second for t in seconds.tolist()), np.int64, len(seconds)
        )
        # Aware datetimes subtract at the offset that fold=0 gives them.
        earlier = np.fromiter(
            (((naive_epoch + t * second).replace(tzinfo=tz) - epoch) // second for t in (seconds + shifts).tolist()),
            np.int64,
            len(seconds),
        )
        return instants + shifts * 1_000_000_000, earlier * 1_000_000_000 + rest

    instants = np.where(column.nanos >= PANDAS_ZONES_END, column.nanos - TWENTY_EIGHT_YEARS, column.nanos)
    local, earlier_nanos = zoneinfo_answers(instants)
    local_array = local.astype("datetime64[ns]")
    ns_array = instants.astype("datetime64[ns]")
    rng = np.random.default_rng(SEED)
    later = rng.integers(*LATER_SECONDS, len(instants)) * 1_000_000_000 + instants % 1_000_000_000
    later_local, later_earlier = zoneinfo_answers(later)
    later_array, later_local_array = later.astype("datetime64[ns]"), later_local.astype("datetime64[ns]")
    zone = peers.interop.Zone(ZONE_KEY) if peers.interop is not None and hasattr(peers.interop, "Zone") else None
    pd, pl = peers.modules.get("pandas"), peers.modules.get("polars")
    utc_index = pd.DatetimeIndex(ns_array).tz_localize("UTC") if pd else None
    local_index = pd.DatetimeIndex(local_array) if pd else None
    fold_is_dst = np.ones(len(local), dtype=bool)
    if pl:
        utc_series = pl.Series(ns_array).dt.replace_time_zone("UTC")
        local_series = pl.Series(local_array)

    to_local = Table(f"instants to local readings in {ZONE_KEY} (to_local_numpy)", "to_local_numpy")
    to_local.subjects += [
        peers.interop_subject(
            f'merandol_interop.to_local_numpy(ns_array, Zone("{ZONE_KEY}"))',
            "to_local_numpy",
            lambda f: lambda: f(ns_array, zone),
            _datetime64_counts("ns"),
            expected=local,
        ),
        peers.interop_subject(
            f'merandol_interop.to_local_numpy(later_array, Zone("{ZONE_KEY}"))',
            "to_local_numpy",
            lambda f: lambda: f(later_array, zone),
            _datetime64_counts("ns"),
            expected=later_local,
            note="later_array: instants of 2040 to 2100, past the zone file's last transition",
        ),
        peers.subject(
            f'utc_index.tz_convert("{ZONE_KEY}").tz_localize(None)',
            "pandas",
            lambda pd: lambda: utc_index.tz_convert(ZONE_KEY).tz_localize(None),
            lambda pd: lambda index: index.asi8,
            expected=local,
        ),
        peers.subject(
            f'utc_series.dt.convert_time_zone("{ZONE_KEY}").dt.replace_time_zone(None)',
            "polars",
            lambda pl: lambda: utc_series.dt.convert_time_zone(ZONE_KEY).dt.replace_time_zone(None),
            physical,
            expected=local,
            note="convert_time_zone alone changes the metadata; replace_time_zone(None) makes the readings physical",
        ),
    ]

    from_local = Table(f"local readings in {ZONE_KEY} to instants (from_local_numpy)", "from_local_numpy")
    from_local.subjects += [
        peers.interop_subject(
            f'merandol_interop.from_local_numpy(local_array, Zone("{ZONE_KEY}"))',
            "from_local_numpy",
            lambda f: lambda: f(local_array, zone),
            _datetime64_counts("ns"),
            expected=earlier_nanos,
        ),
        peers.interop_subject(
            f'merandol_interop.from_local_numpy(later_local_array, Zone("{ZONE_KEY}"))',
            "from_local_numpy",
            lambda f: lambda: f(later_local_array, zone),
            _datetime64_counts("ns"),
            expected=later_earlier,
            note="later_local_array: the local readings of later_array",
        ),
        peers.subject(
            f'local_index.tz_localize("{ZONE_KEY}", ambiguous=dst, nonexistent=timedelta(hours=1))',
            "pandas",
            lambda pd: lambda: local_index.tz_localize(ZONE_KEY, ambiguous=fold_is_dst, nonexistent=timedelta(hours=1)),
            lambda pd: lambda index: index.asi8,
            expected=earlier_nanos,
            note="ambiguous=an all-True array takes the earlier of a repeated hour",
        ),
        peers.subject(
            f'local_series.dt.replace_time_zone("{ZONE_KEY}", ambiguous="earliest")',
            "polars",
            lambda pl: lambda: local_series.dt.replace_time_zone(ZONE_KEY, ambiguous="earliest"),
            physical,
            expected=earlier_nanos,
            note="non_existent is 'raise' or 'null' only; readings of instants have no gap to move",
        ),
    ]

    texts = Table(f"instants to texts at {ZONE_KEY}'s offsets (format_numpy)", "format_numpy with a zone")
    texts.subjects += [
        peers.interop_subject(
            f'merandol_interop.format_numpy(ns_array, Zone("{ZONE_KEY}"))',
            "format_numpy",
            lambda f: lambda: f(ns_array, zone),
            _local_texts_read_back("ns"),
            expected=local,
        ),
        peers.subject(
            f'utc_index.tz_convert("{ZONE_KEY}").strftime("%Y-%m-%dT%H:%M:%S.%f%z").tolist()',
            "pandas",
            lambda pd: lambda: utc_index.tz_convert(ZONE_KEY).strftime("%Y-%m-%dT%H:%M:%S.%f%z").tolist(),
            lambda pd: _local_texts_read_back("us"),
            unit="us",
            expected=local,
            note="%f writes microseconds",
        ),
        peers.subject(
            f'utc_series.dt.convert_time_zone("{ZONE_KEY}").dt.to_string("%Y-%m-%dT%H:%M:%S%.f%:z").to_list()',
            "polars",
            lambda pl: (
                lambda: utc_series.dt.convert_time_zone(ZONE_KEY).dt.to_string("%Y-%m-%dT%H:%M:%S%.f%:z").to_list()
            ),
            lambda pl: _local_texts_read_back("ns"),
            expected=local,
        ),
    ]
    return [to_local, from_local, texts]


def prepare_inputs(peers, column):
    """Each subject's input in the form it takes, made outside the timing."""
    from merandol import DateTime

    np = peers.modules["numpy"]
    inputs = {"numpy": np}
    inputs["text_array"] = np.array(column.texts)
    inputs["ns_array"] = column.nanos.astype("datetime64[ns]")
    inputs["us_array"] = inputs["ns_array"].astype("datetime64[us]")
    inputs["date_times"] = [DateTime.from_unix_timestamp(*divmod(n, 1_000_000_000)) for n in column.nanos.tolist()]
    inputs["naive_datetimes"] = inputs["us_array"].tolist()
    from datetime import UTC

    inputs["aware_datetimes"] = [d.replace(tzinfo=UTC) for d in inputs["naive_datetimes"]]
    size = len(column.texts)
    # pyarrow and polars read their own string columns; building one from
    # the list of texts is not timed, and its cost is noted.
    if "pyarrow" in peers.modules:
        pa = peers.modules["pyarrow"]
        inputs["pc"] = importlib.import_module("pyarrow.compute")
        pa.array(column.texts[:1000], type=pa.string())  # first-call set-up out of the figure
        started = time.perf_counter()
        inputs["arrow_strings"] = pa.array(column.texts, type=pa.string())
        built = (time.perf_counter() - started) / size * 1e9
        inputs["pa"] = pa
        if "duckdb" in peers.modules:
            # A connection of its own that sees the table of strings by name.
            inputs["duckdb"] = peers.modules["duckdb"].connect()
            inputs["duckdb"].register("strings", pa.table({"s": inputs["arrow_strings"]}))
        inputs["arrow_note"] = (
            f"string array built from the list untimed ({built:.0f} ns); "
            "compute.strptime refuses fraction digits (its %S takes whole seconds); cast reads them"
        )
    if "polars" in peers.modules:
        pl = peers.modules["polars"]
        pl.Series(column.texts[:1000], dtype=pl.String)
        started = time.perf_counter()
        inputs["polars_strings"] = pl.Series(column.texts, dtype=pl.String)
        built = (time.perf_counter() - started) / size * 1e9
        inputs["polars_note"] = f"Series built from the list untimed ({built:.0f} ns)"
    if "pa" in inputs:
        pa = inputs["pa"]
        inputs["arrow_timestamps"] = pa.array(inputs["ns_array"]).cast(pa.timestamp("ns", "UTC"))
        if "polars" in peers.modules:
            inputs["polars_timestamps"] = peers.modules["polars"].from_arrow(inputs["arrow_timestamps"])
    return inputs


def check(subject, result, column):
    """The problem with the subject's result, or None when its reading
    equals the oracle."""
    np = importlib.import_module("numpy")
    expected = (column.nanos if subject.expected is None else subject.expected) // UNIT_NS[subject.unit]
    try:
        got = np.asarray(subject.reading(result), dtype=np.int64)
    except Exception as error:
        return f"wrong: unreadable result ({type(error).__name__}: {error})"
    if got.shape != expected.shape:
        return f"wrong: {got.shape[0] if got.ndim else 0} values for {expected.shape[0]}"
    differ = np.flatnonzero(got != expected)
    if differ.size:
        i = int(differ[0])
        return (
            f"wrong: {differ.size} values differ, first at index {i} ({column.texts[i]!r}): "
            f"{got[i]} {subject.unit}, expected {expected[i]}"
        )
    return None


def timed_run(subject):
    """(result, wall seconds, CPU seconds) of one run, the collector off
    as in timeit."""
    gc.collect()
    gc.disable()
    try:
        cpu, wall = time.process_time(), time.perf_counter()
        result = subject.run()
        return result, time.perf_counter() - wall, time.process_time() - cpu
    finally:
        gc.enable()


def measure(subject, column, budget):
    """Times the subject's runs and checks the first one's result; records
    the fastest run, or the problem."""
    try:
        result, wall, cpu = timed_run(subject)
    except Exception as error:
        subject.problem = f"failed: {type(error).__name__}: {error}"
        return
    subject.problem = check(subject, result, column)
    del result
    if subject.problem:
        return
    runs = [(wall, cpu)]
    while len(runs) < MAX_RUNS and sum(wall for wall, _ in runs) < budget:
        runs.append(timed_run(subject)[1:])
    wall, cpu = min(runs)
    size = len(column.texts)
    subject.runs, subject.ns, subject.cpu_ns = len(runs), wall / size * 1e9, cpu / size * 1e9


def _target(text, failures, unmeasured, **figures):
    status = "fails" if failures else "incomplete" if unmeasured else "holds"
    return {"target": text, "status": status, "failures": failures, "unmeasured": unmeasured, **figures}


def _beats_every_peer(text, ours, peers):
    if ours.ns is None:
        return _target(text, [], [ours.label])
    slower = [f"{p.label}: {p.ns:.1f} ns, {ours.ns / p.ns:.2f}x faster" for p in peers if p.ns and p.ns <= ours.ns]
    unmeasured = [f"{p.label} ({p.problem.split(':')[0]})" for p in peers if p.ns is None]
    return _target(text, slower, unmeasured)


def targets(reading, conversions):
    found = []
    ours = reading.find(PARSE_TO_NUMPY)
    found.append(_beats_every_peer("parse_to_numpy faster per element than every other reader", ours, reading.peers()))

    many, comprehension = reading.find(PARSE_MANY), reading.find(COMPREHENSION)
    text = f"parse_many at least {PARSE_MANY_GOAL}x as fast as the list comprehension of parse"
    if many.ns is None or comprehension.ns is None:
        found.append(_target(text, [], [s.label for s in (many, comprehension) if s.ns is None]))
    else:
        ratio = comprehension.ns / many.ns
        short = [] if ratio >= PARSE_MANY_GOAL else [f"{comprehension.ns:.1f} ns against {many.ns:.1f} ns"]
        found.append(_target(text, short, [], value=ratio))

    for table in conversions:
        ours = next(s for s in table.subjects if s.ours)
        rivals = (
            "pyarrow's and polars' own formatting"
            if table.function == "format_arrow"
            else "its pandas and numpy equivalents"
        )
        found.append(_beats_every_peer(f"{table.function} faster than {rivals}", ours, table.peers()))
    return found


def text_buffer_floor(inputs):
    """ns per element of a copy of the pyarrow string array's text bytes:
    what reading the texts once costs at the least."""
    if "pa" not in inputs:
        return None
    np = inputs["numpy"]
    strings = inputs["arrow_strings"]
    data = np.frombuffer(strings.buffers()[2], dtype=np.uint8)
    best = min(timed_run(Subject("floor", "numpy", data.copy, None))[1] for _ in range(MAX_RUNS))
    return best / len(strings) * 1e9


def arrow_target(reading):
    text = (
        f"parse_to_arrow of a pyarrow string array at most {ARROW_GOAL_NS} ns per element and "
        f"{ARROW_GOAL_RATIO}x faster than pyarrow's cast, polars and DuckDB"
    )
    ours = next((s for s in reading.subjects if s.label == PARSE_TO_ARROW), None)
    if ours is None or ours.ns is None:
        return _target(text, [], [PARSE_TO_ARROW])
    failures = [f"{ours.ns:.1f} ns per element"] if ours.ns > ARROW_GOAL_NS else []
    peers = [s for s in reading.subjects if s.label.startswith(ARROW_PEERS)]
    failures += [
        f"{p.label}: {p.ns:.1f} ns, {p.ns / ours.ns:.2f}x" for p in peers if p.ns and p.ns < ARROW_GOAL_RATIO * ours.ns
    ]
    unmeasured = [p.label for p in peers if p.ns is None]
    return _target(text, failures, unmeasured)


def later_target(table):
    text = f"{table.function} on instants of 2040 to 2100 at most {LATER_GOAL_RATIO}x the time of 2000 to 2037"
    ours, later = [s for s in table.subjects if s.ours][:2]
    if ours.ns is None or later.ns is None:
        return _target(text, [], [s.label for s in (ours, later) if s.ns is None])
    ratio = later.ns / ours.ns
    slower = [f"{later.ns:.1f} ns against {ours.ns:.1f} ns"] if ratio > LATER_GOAL_RATIO else []
    return _target(text, slower, [], value=ratio)


def zone_target(table):
    text = f"{table.function} at most 1/{ZONE_GOAL_RATIO} of the time of pandas and polars"
    ours = next(s for s in table.subjects if s.ours)
    if ours.ns is None:
        return _target(text, [], [ours.label])
    peers = table.peers()
    failures = [
        f"{p.label}: {p.ns:.1f} ns, {p.ns / ours.ns:.2f}x" for p in peers if p.ns and p.ns < ZONE_GOAL_RATIO * ours.ns
    ]
    return _target(text, failures, [p.label for p in peers if p.ns is None])


def run(quick=False, progress=print, zones_only=False):
    """Generates the column, checks and times every subject (with
    zones_only, those of the zone tables alone); returns the section's
    summary (JSON-ready)."""
    size = QUICK_SIZE if quick else SIZE
    started = time.perf_counter()
    peers = Peers()
    summary = {"size": size, "seed": SEED, "versions": peers.versions, "absent": peers.absent, "tables": []}
    if "numpy" not in peers.modules:
        summary["skipped"] = f"numpy is absent: {peers.absent['numpy']}"
        return summary

    progress(f"Columns: generating {size:,} texts ...")
    column = make_column(size)
    inputs = {"numpy": peers.modules["numpy"]} if zones_only else prepare_inputs(peers, column)
    progress("Columns: the zone's expected readings, by zoneinfo ...")
    zones = zone_tables(peers, column, inputs)
    if zones_only:
        reading, conversions = None, []
    else:
        reading = reading_table(peers, column, inputs)
        conversions = conversion_tables(peers, inputs)
        arrow_format = arrow_format_table(peers, inputs)
        conversions += [arrow_format] if arrow_format else []
    timed = [*([reading] if reading else []), *conversions, *zones]
    for table in timed:
        progress(f"Columns: {table.title} ...")
        for subject in table.subjects:
            if subject.problem is None:
                measure(subject, column, TIME_BUDGET[quick])
    summary["tables"] = [{"title": table.title, "subjects": [s.as_dict() for s in table.subjects]} for table in timed]
    summary["targets"] = []
    if reading:
        summary["floor"] = text_buffer_floor(inputs)
        summary["targets"] = [*targets(reading, conversions), arrow_target(reading)]
    summary["targets"] += [zone_target(table) for table in zones]
    summary["targets"] += [later_target(table) for table in zones[:2]]
    summary["seconds"] = time.perf_counter() - started
    return summary


def _ns(value):
    return "-" if value is None else f"{value:.1f}"


def table_lines(summary):
    """The tables of subjects, one after another, in columns of one width."""
    rows = []
    for table in summary["tables"]:
        rows.append([table["title"], "ns", "cpu ns", "runs", "checked"])
        for s in table["subjects"]:
            checked = f"to the {s['unit']}" if s["ns"] is not None else s["problem"].split(":")[0]
            rows.append([s["label"], _ns(s["ns"]), _ns(s["cpu_ns"]), str(s["runs"] or "-"), checked])
        rows.append([])
    return report.aligned(rows[:-1], left=(0, 4))


def print_summary(summary):
    size = summary["size"]
    print(
        f"\nColumns: {size:,} RFC 3339 texts (offsets Z and +-HH:MM; 0, 3, 6 or 9 fraction digits; seed "
        f"{summary['seed']}), ns per element, the fastest of the runs, the first one checked"
    )
    present = [f"{name} {version}" for name, version in summary["versions"].items()]
    absent = [f"{name} ABSENT ({why})" for name, why in summary["absent"].items()]
    print("  " + ", ".join(present + absent))
    if "skipped" in summary:
        print(f"  skipped: {summary['skipped']}")
        return
    print("\n" + "\n".join(table_lines(summary)))
    notes = []
    for s in (s for table in summary["tables"] for s in table["subjects"]):
        if s["problem"] and not s["problem"].startswith("absent"):
            notes.append(f"{s['label']}: {s['problem']}")
        elif s["note"]:
            notes.append(f"{s['label']}: {s['note']}")
    if notes:
        print("\nNotes:")
        for note in notes:
            print(f"  {note}")
    if summary.get("floor"):
        ours = next((s["ns"] for t in summary["tables"] for s in t["subjects"] if s["label"] == PARSE_TO_ARROW), None)
        ratio = f", parse_to_arrow {ours / summary['floor']:.1f}x of it" if ours else ""
        print(f"\nFloor: a copy of the pyarrow text buffer, {summary['floor']:.2f} ns per element{ratio}")
    print(f"\nColumn targets ({summary['seconds']:.0f} s):")
    for line in report.target_lines(summary["targets"]):
        print(f"  {line}")
