"""Values cross process boundaries: a process pool and a Dask cluster with
worker processes compute what the local process computes.  Only merandol's
own callables and builtins are shipped, so workers need nothing but the
module."""

import concurrent.futures
import sys
import time

import pytest
from merandol import Date, DateTime, Duration, OffsetDateTime

COUNT = 5000


def texts(n=COUNT):
    step = 7919 * 86400 + 123456789
    return [str(DateTime.from_unix_timestamp(-(10**11) + i * step * 10**3 // 7, i * 1013)) for i in range(n)]


def local_results(values):
    shifted = [v.add_duration(Duration.seconds(90061)) for v in values]
    return {
        "parsed": values,
        "shifted": shifted,
        "text": [str(v) for v in shifted],
        "hash": [hash(v) for v in shifted],
        "weekday": [v.date.weekday().number_from_monday() for v in values],
        "span": [b.difference(a) for a, b in zip(values, shifted, strict=False)],
    }


def remote_results(mapper, items):
    values = mapper(DateTime.parse, items)
    shifted = mapper(DateTime.add_duration, values, [Duration.seconds(90061)] * len(values))
    dates = mapper(Date.parse, [t[: t.index("T")] for t in items])
    return {
        "parsed": values,
        "shifted": shifted,
        "text": mapper(str, shifted),
        "hash": mapper(hash, shifted),
        "weekday": [d.weekday().number_from_monday() for d in dates],
        "span": mapper(DateTime.difference, shifted, values),
    }


def test_process_pool_agrees_with_local_computation():
    items = texts()
    started = time.perf_counter()
    with concurrent.futures.ProcessPoolExecutor(max_workers=2) as pool:
        remote = remote_results(lambda f, *xs: list(pool.map(f, *xs, chunksize=250)), items)
        offsets = list(pool.map(OffsetDateTime.parse, [t[:-1] + "+05:30" for t in items], chunksize=250))
    print(f"process pool: {COUNT} values in {time.perf_counter() - started:.2f} s")
    assert remote == local_results([DateTime.parse(t) for t in items])
    assert offsets == [OffsetDateTime.parse(t[:-1] + "+05:30") for t in items]


def dask_mapper(client, chunk=500):
    """Maps in chunks: each task is list(map(f, ...)) over a slice, built from
    builtins so that the task pickles by value."""

    def mapper(f, *columns):
        n = len(columns[0])
        slices = [map(f, *(c[i : i + chunk] for c in columns)) for i in range(0, n, chunk)]
        parts = client.gather([client.submit(list, s, pure=False) for s in slices])
        return [x for part in parts for x in part]

    return mapper


@pytest.mark.skipif(
    not getattr(sys, "_is_gil_enabled", lambda: True)(),
    reason="the root's Dask and its compiled dependencies are built for the interpreter with the GIL",
)
def test_dask_cluster_agrees_with_local_computation():
    distributed = pytest.importorskip("distributed")
    items = texts()
    started = time.perf_counter()
    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=None
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        remote = remote_results(dask_mapper(client), items)
    print(f"dask: {COUNT} values in {time.perf_counter() - started:.2f} s")
    assert remote == local_results([DateTime.parse(t) for t in items])
