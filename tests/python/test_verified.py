"""Scans with proof (verified=True) from Python: zip entries and gzip
members proven by the CRC-32 their container records, and zlib streams by
their Adler-32 trailer, also those the rule turns down (too small, in the
last 63 bytes); zipfile and gzip, run beside the scan, say where each entry
and member is and what it holds. Without verified, the same bytes give the
counters and report of before; a flipped trailer bit proves nothing."""

from __future__ import annotations

import gzip
import io
import os
import random
import struct
import zipfile
import zlib

import pytest

import quarn
from quarn import _quarn
from corpus import text

ZIP_LOCAL_HEADER_BYTES = 30


def zip_file(tmp_path, entries):
    archive = tmp_path / "entries.zip"
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            z.writestr(name, data)
    return archive


def entry_data_offsets(archive) -> dict:
    """Where each entry's deflate data starts, by its name, read by zipfile
    and the entry's own local header."""
    raw = archive.read_bytes()
    offsets = {}
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            name_bytes, extra_bytes = struct.unpack_from("<HH", raw, info.header_offset + 26)
            offsets[info.filename] = info.header_offset + ZIP_LOCAL_HEADER_BYTES + name_bytes + extra_bytes
    return offsets


@pytest.mark.parametrize("headerless", [False, True], ids=["zlib", "headerless"])
def test_every_zip_entry_is_proven_by_its_crc_and_named_after_it(tmp_path, headerless):
    rng = random.Random(3)
    entries = [("big.txt", text(rng, 20000)), ("tiny.txt", b"x"), ("sub/mid.txt", text(rng, 900)), ("e.txt", b"")]
    archive = zip_file(tmp_path, entries)
    offsets = entry_data_offsets(archive)

    result = quarn.scan(archive, headerless=headerless, streams=True, verified=True)
    by_offset = {s.deflate_offset: s for s in result.streams_found}
    for name, data in entries:
        stream = by_offset[offsets[name]]
        assert stream.proven_by == "crc32", name
        assert stream.container["kind"] == "zip" and stream.container["name"] == name
        assert stream.container["offset"] == offsets[name] - ZIP_LOCAL_HEADER_BYTES - len(name)
        assert quarn.inflate(archive, stream.offset, "raw") == data
    # Entries the rule takes (headerless) stay in its counters; the others
    # are proven beyond it.
    beyond = [s for s in result.streams_found if s.beyond_rule]
    assert result.proven_zip == len(beyond) and result.proven_zlib == result.proven_gzip == 0
    assert result.proven_output_bytes == sum(s.inflated_bytes for s in beyond)

    without = quarn.scan(archive, headerless=headerless, streams=True)
    assert len(without.streams_found) < len(entries)
    assert without.counters() == {**result.counters(), **ZERO_PROVEN}
    assert all(s.proven_by is None and not s.beyond_rule for s in without.streams_found)


ZERO_PROVEN = {"proven_zlib": 0, "proven_gzip": 0, "proven_zip": 0, "proven_output_bytes": 0}


def test_gzip_members_are_proven_and_numbered_in_their_run(tmp_path):
    rng = random.Random(4)
    members = [(text(rng, 5000), 1111), (b"ab", 2222), (text(rng, 300), 0)]
    path = tmp_path / "members.gz"
    path.write_bytes(rng.randbytes(77) + b"".join(gzip.compress(data, mtime=mtime) for data, mtime in members))

    result = quarn.scan(path, streams=True, verified=True)
    assert gzip.decompress(path.read_bytes()[77:]) == b"".join(data for data, _ in members)
    proven = [s for s in result.streams_found if s.proven_by == "crc32"]
    assert [quarn.inflate(path, s.offset, "raw") for s in proven] == [data for data, _ in members]
    assert [s.container["member"] for s in proven] == [0, 1, 2]
    assert [s.container.get("mtime") for s in proven] == [1111, 2222, None]
    assert all(s.container["kind"] == "gzip" and s.beyond_rule for s in proven)
    assert proven[0].container["offset"] == 77
    assert (result.proven_gzip, result.proven_zip, result.proven_zlib) == (3, 0, 0)
    assert result.streams == 0


def tiny_zlib(size: int) -> bytes:
    """A zlib stream of exactly `size` bytes in one block of fixed codes,
    which the scan's rule never takes."""
    rng = random.Random(size)
    for n in range(1, 4 * size):
        c = zlib.compressobj(9, zlib.DEFLATED, 15, 9, zlib.Z_FIXED)
        stream = c.compress(text(rng, n)) + c.flush()
        if len(stream) == size:
            assert stream[2] & 7 == 0b011  # final block, fixed codes
            return stream
    raise AssertionError(f"no zlib stream of {size} bytes")


def test_a_tiny_zlib_stream_is_found_only_with_verified():
    stream = tiny_zlib(55)
    data = os.urandom(300) + stream + os.urandom(300)
    assert quarn.scan_buffer(data, streams=True).streams_found == ()
    found = quarn.scan_buffer(data, streams=True, verified=True).streams_found
    assert [(s.offset, s.kind, s.proven_by, s.beyond_rule) for s in found] == [(300, "zlib", "adler32", True)]
    assert quarn.inflate(data, 300, "zlib") == zlib.decompress(stream)


@pytest.mark.parametrize("flipped_bit", [0, 9, 18, 31])
@pytest.mark.parametrize("where", ["middle", "last 63 bytes"])
def test_a_flipped_trailer_bit_proves_nothing(flipped_bit, where):
    stream = bytearray(tiny_zlib(40))
    stream[-4 + flipped_bit // 8] ^= 1 << (flipped_bit % 8)
    after = os.urandom(200) if where == "middle" else os.urandom(5)
    data = os.urandom(200) + bytes(stream) + after
    result = quarn.scan_buffer(data, streams=True, verified=True)
    assert result.streams_found == ()
    assert result.counters() == quarn.scan_buffer(data).counters()

    # The same stream unflipped is proven there.
    stream[-4 + flipped_bit // 8] ^= 1 << (flipped_bit % 8)
    good_data = data[:200] + bytes(stream) + after
    good = quarn.scan_buffer(good_data, streams=True, verified=True)
    assert [(s.offset, s.proven_by) for s in good.streams_found] == [(200, "adler32")]
    assert quarn.inflate(good_data, 200, "zlib") == zlib.decompress(bytes(stream))


def test_the_report_gets_the_proven_lines_and_keeps_its_own(tmp_path):
    rng = random.Random(5)
    path = tmp_path / "mixed.bin"
    archive = io.BytesIO()
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("a", text(rng, 3000))
    path.write_bytes(
        zlib.compress(text(rng, 8000)) + rng.randbytes(99) + archive.getvalue() + gzip.compress(b"gz") + tiny_zlib(30)
    )
    plain = quarn.scan(path)
    verified = quarn.scan(path, verified=True)
    assert verified.report_lines()[: len(plain.report_lines())] == plain.report_lines()
    assert verified.report_lines()[len(plain.report_lines()):] == [
        "Streams proven by their checksum: 3",
        "Proven zlib streams (Adler-32): 1",
        "Proven gzip members (CRC-32): 1",
        "Proven zip entries (CRC-32): 1",
    ] + verified.report_lines()[-1:]
    assert verified.report_lines()[-1].startswith("Total proven output: ")
    assert "proven_beyond_rule" not in plain.as_json()
    assert verified.as_json()["proven_beyond_rule"] == {
        "streams": 3, "zlib": 1, "gzip": 1, "zip": 1, "inflated_bytes": verified.proven_output_bytes
    }


def test_counts_with_proven_streams_travel_and_add_up_exactly(tmp_path):
    rng = random.Random(6)
    path = tmp_path / "parts.bin"
    path.write_bytes(tiny_zlib(50) + rng.randbytes(100) + gzip.compress(text(rng, 500)) + rng.randbytes(100))
    result = quarn.scan(path, streams=True, verified=True)
    counts = result.counters()
    assert (counts["proven_zlib"], counts["proven_gzip"]) == (1, 1)
    assert _quarn.add_counts(counts, quarn.ScanResult.from_engine(counts, None, False, False).counters()) == (
        _quarn.add_counts(counts, counts)
    )
    doubled = _quarn.add_counts(counts, counts)
    assert doubled == {k: (v * 2 if isinstance(v, int) else {b: n * 2 for b, n in v.items()}) for k, v in counts.items()}
    # The module's stream tuples carry the proof, and count as the scan did.
    _, found = _quarn.scan_files([os.fsencode(path)], False, False, True, True)
    assert _quarn.count_streams([t[1:] for t in found], path.stat().st_size) == counts
    with pytest.raises(KeyError):
        _quarn.add_counts({k: v for k, v in counts.items() if k != "proven_zip"}, counts)
