import collections
import importlib.util
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).parents[1] / "module"))

# What the sweep did, summed over every call, for the closing summary.
FIGURES = collections.Counter()


@pytest.fixture(scope="session")
def failing_allocator(tmp_path_factory):
    """failing_allocator.c, built here for the running debug interpreter."""
    compiler = next((c for c in (os.environ.get("CC"), "cc", "gcc") if c and shutil.which(c)), None)
    if compiler is None:
        pytest.skip("no C compiler to build the failing allocator")
    source = pathlib.Path(__file__).with_name("failing_allocator.c")
    library = tmp_path_factory.mktemp("allocator") / ("failing_allocator" + sysconfig.get_config_var("EXT_SUFFIX"))
    # -I, not -isystem: Debian's debug headers are links into the release
    # folder except pyconfig.h, which must be the debug one.
    subprocess.run(
        [compiler, "-shared", "-fPIC", "-O1", "-g", "-Wall", "-Wextra", "-Werror",
         "-I", sysconfig.get_config_var("INCLUDEPY"), "-o", library, source],
        check=True,
    )  # fmt: skip
    spec = importlib.util.spec_from_file_location("failing_allocator", library)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def pytest_terminal_summary(terminalreporter):
    if FIGURES:
        kinds = ("results", "MemoryErrors", "documented errors")
        terminalreporter.write_line(
            f"allocation failures: {FIGURES['calls covered']} calls, {FIGURES['failures injected']} failures injected; "
            + ", ".join(f"{FIGURES[kind]} {kind}" for kind in kinds)
        )
