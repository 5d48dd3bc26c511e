"""The wheels of `make wheel`: one for each supported CPython, each tagged
for manylinux2014 alone and found consistent with it by auditwheel.
`make test-wheel` runs this with MERANDOL_DIST naming build/dist."""

import json
import os
import platform
import re
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

DIST = os.environ.get("MERANDOL_DIST")
pytestmark = pytest.mark.skipif(not DIST, reason="needs MERANDOL_DIST, the folder of the sdist and the wheels")

SUPPORTED = ("3.13", "3.14", "3.15")
MANYLINUX = f"manylinux_2_17_{platform.machine()}"


def python_tag(version):
    return "cp" + version.replace(".", "")


def wheel_tags(wheel):
    """The Tag lines of a wheel's WHEEL metadata."""
    with zipfile.ZipFile(wheel) as archive:
        metadata = next(n for n in archive.namelist() if n.endswith(".dist-info/WHEEL"))
        lines = archive.read(metadata).decode().splitlines()
    return {line.split(":", 1)[1].strip() for line in lines if line.startswith("Tag:")}


def test_one_wheel_for_each_supported_version():
    found = sorted(wheel.name.split("-")[2] for wheel in Path(DIST).glob("*.whl"))
    assert found == [python_tag(version) for version in SUPPORTED]


@pytest.mark.parametrize("version", SUPPORTED)
def test_wheel_is_manylinux2014_and_auditwheel_agrees(version):
    tag = python_tag(version)
    (wheel,) = Path(DIST).glob(f"*-{tag}-{tag}-*.whl")
    # auditwheel names the policy both ways: its PEP 600 name and its alias.
    alias = MANYLINUX.replace("manylinux_2_17", "manylinux2014")
    assert wheel_tags(wheel) == {f"{tag}-{tag}-{MANYLINUX}", f"{tag}-{tag}-{alias}"}
    shown = subprocess.run(
        [sys.executable, "-m", "auditwheel", "show", str(wheel)], capture_output=True, text=True, check=True
    )
    # auditwheel wraps its sentences at the terminal's width.
    verdict = " ".join(shown.stdout.split())
    assert re.search(rf'consistent with the following platform tag: "{MANYLINUX}"', verdict), verdict


def differences(reference, other, path=""):
    """The paths at which two JSON values differ, each with both sides."""
    if isinstance(reference, dict) and isinstance(other, dict):
        return [
            found
            for key in sorted(set(reference) | set(other))
            for found in differences(reference.get(key), other.get(key), f"{path}/{key}")
        ]
    if isinstance(reference, list) and isinstance(other, list) and len(reference) == len(other):
        pairs = enumerate(zip(reference, other, strict=True))
        return [found for i, pair in pairs for found in differences(*pair, f"{path}/{i}")]
    return [] if reference == other else [f"{path}: {reference!r} against {other!r}"]


def test_scripts_see_the_same_on_every_version():
    """fingerprint.py under each version's installed wheel (the environments
    that `make test-wheel` made beside build/dist) prints the same."""
    build = Path(DIST).parent
    fingerprint = Path(__file__).with_name("fingerprint.py")
    seen = {}
    for version in SUPPORTED:
        python = build / f"wheel-venv-{version}" / "bin" / "python"
        # A fixed seed, so that nothing of the interpreters' own hashing
        # varies between the runs.
        run = subprocess.run(
            [python, fingerprint],
            capture_output=True,
            text=True,
            check=True,
            cwd=build,
            env={"PATH": os.environ.get("PATH", ""), "PYTHONHASHSEED": "0"},
        )
        seen[version] = json.loads(run.stdout)
    for version in SUPPORTED:
        found = differences(seen["3.14"], seen[version])
        assert not found, f"{version} differs from 3.14 at:\n" + "\n".join(found)
