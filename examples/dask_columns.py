"""A column of RFC 3339 timestamps, partitioned into files, read on a Dask
cluster.

Each file is one partition of the column, as a day's log or one part of an
export is.  A worker process reads the file, cuts it into lines and reads
those with merandol_interop.parse_to_numpy, straight to datetime64[ns]
without a Python object per value; only the arrays come back, and joined
they equal what a single process reads.

    make python ARGS=examples/dask_columns.py

Where pyarrow is installed, the same partitions are read a second way, as
a data tool would: pyarrow's CSV reader makes each file an Arrow string
column on the worker, and parse_to_arrow reads its buffers where they lie,
to a timestamp column.

The cluster is two worker processes on this machine, reached over loopback
only.  Workers start as new interpreters, so they are given a PYTHONPATH
that finds the modules this process loaded.  The tasks are made of
importable callables only (Path.read_text, str.splitlines, parse_to_numpy),
so that they unpickle in any worker that has merandol; the Arrow reader is
a function of this file, which Dask sends by value."""

import importlib.util
import os
import random
import site
import sys
import tempfile
import time
from pathlib import Path

import dask
import merandol
import merandol_interop
import numpy as np
from distributed import Client, LocalCluster
from merandol import DateTime, OffsetDateTime, UtcOffset

# A few of the offsets in use, in minutes; UTC ("Z") among them.
OFFSETS = (0, 60, 330, 345, 540, -210, -300, -480)


def sample_texts(count, seed=7):
    """RFC 3339 texts from 2000 to 2040 with mixed offsets and 0, 3, 6 or 9
    fraction digits."""
    rng = random.Random(seed)
    texts = []
    for _ in range(count):
        digits = rng.choice((0, 3, 6, 9))
        nanos = rng.randrange(10**digits) * 10 ** (9 - digits)
        utc = DateTime.from_unix_timestamp(rng.randrange(946_684_800, 2_208_988_800), nanos)
        texts.append(str(OffsetDateTime.from_utc(utc, UtcOffset.from_seconds(60 * rng.choice(OFFSETS)))))
    return texts


def write_partitions(folder, texts, partitions):
    """The texts in `partitions` files of one text per line; their paths in
    column order."""
    size = -(-len(texts) // partitions)
    paths = []
    for number, start in enumerate(range(0, len(texts), size)):
        path = Path(folder) / f"part-{number:03}.txt"
        path.write_text("".join(f"{text}\n" for text in texts[start : start + size]))
        paths.append(path)
    return paths


def parse_files(paths):
    """One lazy datetime64[ns] array per file: read, cut into lines and
    parsed by whichever worker runs it."""
    read, lines = dask.delayed(Path.read_text), dask.delayed(str.splitlines)
    parse = dask.delayed(merandol_interop.parse_to_numpy)
    return [parse(lines(read(path))) for path in paths]


def parse_arrow_file(path):
    """One partition as an Arrow string column, read by pyarrow's CSV
    reader, then parsed where its buffers lie.  The result travels as a
    pyarrow array, which takes the ArrowColumn's buffers without a copy and,
    unlike it, pickles."""
    import pyarrow as pa
    from pyarrow import csv

    table = csv.read_csv(
        path,
        read_options=csv.ReadOptions(column_names=["instant"]),
        convert_options=csv.ConvertOptions(column_types={"instant": pa.string()}),
    )
    return pa.array(merandol_interop.parse_to_arrow(table))


def parse_arrow_files(paths):
    """One lazy timestamp[ns, tz=UTC] pyarrow array per file."""
    return [dask.delayed(parse_arrow_file)(path) for path in paths]


def worker_pythonpath():
    """PYTHONPATH for the worker processes: the folders that merandol and
    merandol_interop were loaded from (unless they are site packages, which
    workers find anyway), then the current value."""
    current = [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]
    folders = {str(Path(m.__file__).resolve().parent) for m in (merandol, merandol_interop)}
    installed = {str(Path(p).resolve()) for p in site.getsitepackages()}
    return os.pathsep.join([*sorted(folders - installed - set(current)), *current])


def start_cluster():
    """Two single-threaded worker processes and no dashboard.  Everything
    listens on loopback only: the scheduler, the workers, and the HTTP
    server of the scheduler's health and metrics routes, which takes a free
    port rather than 8787, where another cluster may already be."""
    return LocalCluster(
        n_workers=2,
        threads_per_worker=1,
        processes=True,
        host="127.0.0.1",
        dashboard_address=None,
        scheduler_kwargs={"dashboard_address": "127.0.0.1:0"},
    )


def main():
    texts = sample_texts(200_000)
    with_arrow = importlib.util.find_spec("pyarrow") is not None
    os.environ["PYTHONPATH"] = worker_pythonpath()
    with tempfile.TemporaryDirectory() as folder:
        paths = write_partitions(folder, texts, partitions=8)
        started = time.perf_counter()
        with start_cluster() as cluster, Client(cluster):
            # Inside the block the client is the scheduler of dask.compute.
            instants = np.concatenate(dask.compute(*parse_files(paths)))
            columns = dask.compute(*parse_arrow_files(paths)) if with_arrow else None
        elapsed = time.perf_counter() - started
    assert np.array_equal(instants, merandol_interop.parse_to_numpy(texts))
    print(f"{len(texts):,} texts in {len(paths)} files on 2 worker processes: {elapsed:.1f} s with the cluster's start")
    if with_arrow:
        import pyarrow as pa

        assert pa.chunked_array(columns).combine_chunks().equals(pa.array(merandol_interop.parse_to_arrow(texts)))
        print(f"  and as {len(columns)} Arrow columns, read by pyarrow's CSV reader and parse_to_arrow")
    for text, instant in zip(texts[:3], instants[:3], strict=True):
        print(f"  {text:36} -> {instant}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
