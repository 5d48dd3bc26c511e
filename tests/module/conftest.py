import importlib
import os
import pathlib
import shutil
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, settings

# MERANDOL_HYPOTHESIS=thorough runs many more examples per property;
# MERANDOL_HYPOTHESIS=slow fewer, for runs under valgrind and the debug
# interpreter.  No profile has a deadline: speed is no property under test.
settings.register_profile("thorough", max_examples=5000, deadline=None)
settings.register_profile(
    "slow", max_examples=15, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large]
)
settings.register_profile("default", deadline=None)
settings.load_profile(os.environ.get("MERANDOL_HYPOTHESIS", "default"))

# MERANDOL_NO_MODULE_SKIPS=1 (CI's `make test`, whose interpreter has every
# module the suite uses): a test that would skip for a module that does not
# import fails with the ImportError instead.
if os.environ.get("MERANDOL_NO_MODULE_SKIPS"):
    pytest.importorskip = lambda name, *_, **__: importlib.import_module(name)


@pytest.fixture(scope="session")
def failing_clock(tmp_path_factory):
    """Runs a program in a fresh interpreter whose real-time clock cannot be
    read: realtime_fails.c, built here into a library that is preloaded
    after whatever the suite itself runs with (a sanitizer's runtime must
    stay first).  Returns the finished process."""
    compiler = next((c for c in (os.environ.get("CC"), "cc", "gcc", "g++") if c and shutil.which(c)), None)
    if compiler is None:
        pytest.skip("no C compiler to build the library that makes the real-time clock fail")
    library = tmp_path_factory.mktemp("preload") / "realtime_fails.so"
    source = pathlib.Path(__file__).with_name("realtime_fails.c")
    # The compiler runs without the suite's own preloads (a sanitizer's).
    subprocess.run(
        [compiler, "-x", "c", "-shared", "-fPIC", "-O2", "-Wall", "-Werror", "-o", library, source, "-ldl"],
        env={k: v for k, v in os.environ.items() if k != "LD_PRELOAD"},
        check=True,
    )
    # Colons, not spaces: valgrind cleans its own entries out of a child's
    # LD_PRELOAD by colon-separated element.
    preload = ":".join(filter(None, [os.environ.get("LD_PRELOAD"), str(library)]))

    def run(program):
        return subprocess.run(
            [sys.executable, "-c", program],
            env=dict(os.environ, LD_PRELOAD=preload),
            capture_output=True,
            text=True,
            check=False,
        )

    return run
