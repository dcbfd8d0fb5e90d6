"""python3 -m quarn.map: a picture of where a file's streams lie; in SVG,
one bar per stream whose tooltip gives its inflated size."""

from __future__ import annotations

import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import quarn

SVG = "{http://www.w3.org/2000/svg}"


def run_map(*args: str, cwd=None) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-m", "quarn.map", *args], capture_output=True, text=True, timeout=120, cwd=cwd
    )


def test_png_map(large_file, tmp_path):
    out = tmp_path / "map.png"
    done = run_map(str(large_file), "-o", str(out))
    assert done.returncode == 0, done.stderr
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_svg_map_has_one_bar_per_stream_with_its_inflated_size_on_hover(large_file, tmp_path):
    out = tmp_path / "map.svg"
    done = run_map(str(large_file), "--headerless", "-o", str(out))
    assert done.returncode == 0, done.stderr
    streams = quarn.scan(large_file, headerless=True, streams=True).streams_found
    tree = ElementTree.parse(out)
    bars = [g for g in tree.iter(f"{SVG}g") if (g.get("id") or "").startswith("quarn-stream-")]
    assert len(bars) == len(streams) > 10
    for bar, stream in zip(sorted(bars, key=lambda g: int(g.get("id").rsplit("-", 1)[1])), streams):
        title = bar.find(f"{SVG}title").text
        assert f"{stream.kind} stream at offset {stream.offset} " in title
        assert re.search(rf"inflate to {stream.inflated_bytes} bytes", title), title
        assert bar.find(f"{SVG}path") is not None  # the bar itself


def test_map_of_a_missing_file_says_so(tmp_path):
    done = run_map(str(tmp_path / "gone"), "-o", str(tmp_path / "map.png"))
    assert done.returncode == 1
    # Python's own words for the name, as open() gives them.
    try:
        open(str(tmp_path / "gone"), "rb")
    except FileNotFoundError as error:
        opened = error
    assert f"python3 -m quarn.map: {opened}\n" in done.stderr
    assert not (tmp_path / "map.png").exists()


def test_an_empty_name_is_refused_and_nothing_is_written(large_file, tmp_path):
    for args, status, message in (
        (["", "-o", "map.png"], 1, "python3 -m quarn.map: A path is empty"),
        ([str(large_file), "-o", ""], 2, "-o/--output needs a file name, not an empty one"),
    ):
        done = run_map(*args, cwd=tmp_path)
        assert (done.returncode, list(tmp_path.iterdir())) == (status, [])
        assert message in done.stderr
