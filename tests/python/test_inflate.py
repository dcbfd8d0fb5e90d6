"""quarn.inflate against quarn-scan --extract: for every stream of the
corpus, complete or cut short, the same bytes the extraction writes; from a
path and from a buffer alike; and clear errors where no stream starts."""

from __future__ import annotations

import zlib
from pathlib import Path

import pytest

import quarn
from conftest import run_quarn_scan

ALL = {"headerless": True, "accept_incomplete": True}


@pytest.fixture(scope="module")
def found(corpus_dir):
    return quarn.scan(corpus_dir, recursive=True, streams=True, **ALL).streams_found


def test_inflate_gives_the_bytes_that_extract_writes(corpus_dir, found, quarn_scan_program, tmp_path):
    out = tmp_path / "extracted"
    done = run_quarn_scan(quarn_scan_program, [corpus_dir], {"recursive": True, **ALL}, "--extract", str(out))
    assert done.returncode == 0, done.stderr
    for stream in found:
        name = f"{Path(stream.file).name}@0x{stream.offset:x}.{stream.kind}"
        data = quarn.inflate(stream.file, stream.offset, stream.kind)
        assert data == (out / name).read_bytes(), name
        assert len(data) == stream.inflated_bytes


def test_a_complete_stream_inflates_to_what_was_compressed(tmp_path):
    payload = b"the quick brown fox " * 5000
    data = b"\x00" * 100 + zlib.compress(payload, 9) + b"\x00" * 100
    path = tmp_path / "one.bin"
    path.write_bytes(data)
    (stream,) = quarn.scan(path, streams=True).streams_found
    # The stream starts at its header, where zlib itself starts.
    assert (stream.offset, stream.deflate_offset) == (100, 102)
    assert zlib.decompress(data[stream.offset:]) == payload
    assert quarn.inflate(path, stream.offset, "zlib") == payload
    assert quarn.inflate(str(path), stream.offset, "zlib") == payload
    assert quarn.inflate(data, stream.offset, "zlib") == payload
    assert quarn.inflate(memoryview(data), stream.offset, "zlib", max_bytes=10) == payload[:10]
    assert quarn.inflate(path, stream.offset, "zlib", max_bytes=0) == b""
    assert quarn.inflate(path, stream.offset, "zlib", max_bytes=10**12) == payload


def test_inflate_from_a_buffer_equals_inflate_from_the_file(found):
    for stream in found[:40]:
        data = Path(stream.file).read_bytes()
        assert quarn.inflate(bytearray(data), stream.offset, stream.kind) == quarn.inflate(
            stream.file, stream.offset, stream.kind
        )


@pytest.mark.parametrize(
    "offset, kind, error, text",
    [
        (0, "zlib", ValueError, "No zlib stream starts at offset 0"),
        (-1, "zlib", ValueError, "No zlib stream starts at offset -1"),
        (10**9, "raw", ValueError, "No raw deflate stream starts at offset 1000000000"),
        (None, "raw", ValueError, 'its kind is "zlib", not "raw"'),
        (None, "gzip", ValueError, 'kind is "zlib" or "raw"'),
    ],
)
def test_inflate_says_why_nothing_comes_out(tmp_path, offset, kind, error, text):
    path = tmp_path / "one.bin"
    path.write_bytes(b"\x01" * 100 + zlib.compress(b"abc" * 3000) + b"\x01" * 100)
    if offset is None:
        offset = quarn.scan(path, streams=True).streams_found[0].offset
    with pytest.raises(error, match=text):
        quarn.inflate(path, offset, kind)


def test_inflate_of_a_missing_file_raises_file_not_found(tmp_path):
    with pytest.raises(FileNotFoundError, match="No such file or directory"):
        quarn.inflate(tmp_path / "gone", 2, "zlib")
    with pytest.raises(ValueError, match="max_bytes"):
        quarn.inflate(b"", 2, "zlib", max_bytes=-1)
