"""Shared fixtures of the Python tests: the generated corpus, and quarn-scan
(the command-line scanner of the same build) as the control."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))
import corpus  # noqa: E402

# Chunks of the large file in the distributed tests: about 40 of them.
CHUNK_BYTES = 65536

OPTION_SETS = [
    {},
    {"headerless": True},
    {"accept_incomplete": True},
    {"headerless": True, "accept_incomplete": True},
    {"verified": True},
    {"headerless": True, "verified": True},
]


def option_id(options: dict) -> str:
    return "+".join(sorted(options)) or "plain"


@pytest.fixture(scope="session")
def corpus_dir(tmp_path_factory) -> Path:
    """Small files of every kind, a subfolder, and one large file of about
    40 chunks of CHUNK_BYTES with borders on and inside streams."""
    root = tmp_path_factory.mktemp("corpus")
    corpus.build_corpus(root)
    corpus.build_large(root / "large.bin", CHUNK_BYTES)
    return root


@pytest.fixture(scope="session")
def large_file(corpus_dir) -> Path:
    return corpus_dir / "large.bin"


@pytest.fixture(scope="session")
def large_marks(tmp_path_factory) -> dict:
    """Where build_large put the streams it placed on chunk borders."""
    return corpus.build_large(tmp_path_factory.mktemp("marks") / "large.bin", CHUNK_BYTES)


@pytest.fixture(scope="session")
def quarn_scan_program() -> str:
    program = os.environ.get("QUARN_SCAN")
    if not program:
        pytest.fail("QUARN_SCAN must name the quarn-scan program of this build (CTest sets it)")
    return program


def cli_flags(options: dict) -> list:
    flags = []
    if options.get("headerless"):
        flags.append("--headerless")
    if options.get("accept_incomplete"):
        flags.append("--accept-incomplete")
    if options.get("recursive"):
        flags.append("--recursive")
    if options.get("types"):
        flags.append("--types")
    if options.get("verified"):
        flags.append("--verified")
    return flags


def run_quarn_scan(program: str, paths, options: dict, *extra: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        [program, *cli_flags(options), *extra, "--", *map(str, paths)],
        capture_output=True,
        text=True,
        timeout=120,
    )


def quarn_scan_json(program: str, paths, options: dict, streams: bool = True) -> dict:
    done = run_quarn_scan(program, paths, options, "--json", *(["--list"] if streams else []))
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)
