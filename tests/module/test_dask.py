"""The Dask example: a column of RFC 3339 texts in partition files, read
with parse_to_numpy, or as Arrow columns with parse_to_arrow, on two worker
processes, equals the single-process read, and the cluster leaves no
process behind."""

import importlib.util
import multiprocessing
import os
import sys
from pathlib import Path

import pytest

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "dask_columns.py"

pytestmark = [
    pytest.mark.skipif(not EXAMPLE.exists(), reason="examples/ is not beside the tests"),
    pytest.mark.skipif(
        not getattr(sys, "_is_gil_enabled", lambda: True)(),
        reason="the root's Dask and numpy are built for the interpreter with the GIL",
    ),
]


def load_example():
    pytest.importorskip("numpy")
    pytest.importorskip("dask.array")
    pytest.importorskip("distributed")
    spec = importlib.util.spec_from_file_location("dask_columns", EXAMPLE)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_partitioned_column_on_two_worker_processes(monkeypatch, tmp_path):
    example = load_example()
    import dask
    import merandol_interop
    import numpy as np
    from distributed import Client

    texts = example.sample_texts(20_000)
    paths = example.write_partitions(tmp_path, texts, partitions=7)
    monkeypatch.setenv("PYTHONPATH", example.worker_pythonpath())
    children = set(multiprocessing.active_children())
    with example.start_cluster() as cluster, Client(cluster) as client:
        # Two processes of their own, each loading the module this one did.
        loaded = client.run(lambda: (os.getpid(), merandol_interop.__file__))
        parts = dask.compute(*example.parse_files(paths))
    pids = {pid for pid, _ in loaded.values()}
    assert len(pids) == 2 and os.getpid() not in pids
    assert {path for _, path in loaded.values()} == {merandol_interop.__file__}

    assert cluster.status.name == "closed"
    assert set(multiprocessing.active_children()) <= children
    assert [len(part) for part in parts] == [len(p.read_text().splitlines()) for p in paths]
    instants = np.concatenate(parts)
    assert instants.dtype == np.dtype("datetime64[ns]")
    assert np.array_equal(instants, merandol_interop.parse_to_numpy(texts))


def test_partitioned_arrow_column_on_two_worker_processes(monkeypatch, tmp_path):
    example = load_example()
    pa = pytest.importorskip("pyarrow", reason="the Arrow partitions are read by pyarrow's CSV reader")
    import dask
    import merandol_interop
    from distributed import Client

    texts = example.sample_texts(20_000)
    paths = example.write_partitions(tmp_path, texts, partitions=7)
    monkeypatch.setenv("PYTHONPATH", example.worker_pythonpath())
    with example.start_cluster() as cluster, Client(cluster):
        parts = dask.compute(*example.parse_arrow_files(paths))
    assert cluster.status.name == "closed"
    assert [len(part) for part in parts] == [len(p.read_text().splitlines()) for p in paths]
    column = pa.chunked_array(parts).combine_chunks()
    assert column.type == pa.timestamp("ns", tz="UTC")
    assert column.equals(pa.array(merandol_interop.parse_to_arrow(texts)))
