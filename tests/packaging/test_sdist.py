"""The sdist, built and installed by pip in a new environment of the
interpreter running this, gives the files of that interpreter's repaired
wheel, and its extension modules import there.  `make test-wheel` runs this
under each supported version with MERANDOL_DIST naming build/dist."""

import csv
import io
import os
import subprocess
import sys
import venv
import zipfile
from pathlib import Path

import pytest

DIST = os.environ.get("MERANDOL_DIST")
pytestmark = pytest.mark.skipif(not DIST, reason="needs MERANDOL_DIST, the folder of the sdist and the wheel")


def shipped(record_lines):
    """Paths of a RECORD, without the distribution's metadata and caches."""
    paths = {row[0] for row in csv.reader(record_lines) if row}
    return {p for p in paths if ".dist-info/" not in p and "__pycache__" not in p}


def test_sdist_installs_what_the_wheel_ships(tmp_path):
    (sdist,) = Path(DIST).glob("*.tar.gz")
    tag = f"cp{sys.version_info.major}{sys.version_info.minor}"
    (wheel,) = Path(DIST).glob(f"*-{tag}-{tag}-*.whl")
    with zipfile.ZipFile(wheel) as archive:
        record = next(n for n in archive.namelist() if n.endswith(".dist-info/RECORD"))
        expected = shipped(io.StringIO(archive.read(record).decode()))

    # The system site packages provide the build backend; the package index
    # is not asked for anything.
    env_dir = tmp_path / "env"
    venv.create(env_dir, system_site_packages=True, with_pip=False)
    python = str(env_dir / "bin" / "python")
    pip = [sys.executable, "-m", "pip", "--python", python, "--disable-pip-version-check"]
    subprocess.run(
        [*pip, "install", "-q", "--no-build-isolation", "--no-index", "--no-deps", str(sdist)], check=True, cwd=tmp_path
    )

    (site,) = (env_dir / "lib").glob("python3*/site-packages")
    (installed_record,) = site.glob("merandol-*.dist-info/RECORD")
    assert shipped(installed_record.read_text().splitlines()) == expected

    modules = sorted(p.split(".", 1)[0] for p in expected if p.endswith(".so"))
    assert "merandol" in modules
    check = "import importlib, sys\nfor name in sys.argv[1:]: print(importlib.import_module(name).__file__)"
    files = subprocess.run([python, "-c", check, *modules], check=True, capture_output=True, text=True, cwd=tmp_path)
    assert all(line.startswith(str(site)) for line in files.stdout.splitlines())
    assert len(files.stdout.splitlines()) == len(modules)
