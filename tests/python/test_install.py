"""cmake --install puts the package where this Python finds it: into the
staging folder DESTDIR, under the prefix, at a place on the interpreter's
own search path; and the package imported from there scans."""

from __future__ import annotations

import os
import subprocess
import sys
import zlib
from pathlib import Path

import pytest


def test_installed_package_is_found_and_scans(tmp_path):
    build = os.environ.get("QUARN_BUILD_DIR")
    cmake = os.environ.get("QUARN_CMAKE", "cmake")
    site = os.environ.get("QUARN_PYTHON_SITE_DIR")
    if not build or not site:
        pytest.fail("QUARN_BUILD_DIR and QUARN_PYTHON_SITE_DIR must be set (CTest sets them)")
    prefix = "/usr/local"
    stage = tmp_path / "stage"
    done = subprocess.run(
        [cmake, "--install", build, "--component", "python", "--prefix", prefix],
        env={**os.environ, "DESTDIR": str(stage)}, capture_output=True, text=True, timeout=120,
    )
    assert done.returncode == 0, done.stderr
    installed = Path(str(stage) + prefix) / site / "quarn"
    assert {"__init__.py", "distributed.py", "map.py", "_quarn.pyi", "py.typed"} <= {p.name for p in installed.iterdir()}
    assert any(p.name.startswith("_quarn.") and p.suffix == ".so" for p in installed.iterdir())

    # Without the staging folder, the place is on this interpreter's own path.
    plain_env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    search = subprocess.run([sys.executable, "-c", "import sys; print('\\n'.join(sys.path))"],
                            env=plain_env, capture_output=True, text=True, check=True).stdout.split()
    assert os.path.join(prefix, site) in search

    sample = tmp_path / "sample.bin"
    sample.write_bytes(b"\0" * 64 + zlib.compress(b"installed " * 1000) + b"\0" * 64)
    run = subprocess.run(
        [sys.executable, "-c", "import quarn, sys; print(quarn.__file__); print(quarn.scan(sys.argv[1]).streams)", str(sample)],
        env={**plain_env, "PYTHONPATH": str(installed.parent)}, capture_output=True, text=True, timeout=60,
    )
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == [str(installed / "__init__.py"), "1"]
