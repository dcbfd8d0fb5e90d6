"""quarn.scan(fingerprint=True): each found stream carries the fingerprint
that quarn-scan --fingerprint gives it, whether the scan reads files or a
buffer, and the settings it names make the same stream with Python's zlib."""

from __future__ import annotations

import json
import random
import subprocess
import zlib

import quarn


def streams_file(tmp_path):
    rng = random.Random(8)
    words = [b"fingerprint", b"of", b"the", b"stream", b"zzzzzz", b"level", b"window"]
    data = b" ".join(rng.choice(words) + b"%d" % rng.randrange(300) for _ in range(8000))
    blob = b"--" + zlib.compress(data, 9) + b"--" + zlib.compress(data, 2) + b"--"
    c = zlib.compressobj(7, zlib.DEFLATED, -13, 5, zlib.Z_FILTERED)
    blob += c.compress(data) + c.flush()
    path = tmp_path / "streams.bin"
    path.write_bytes(blob)
    return path, blob


def test_fingerprints_match_quarn_scan(tmp_path, quarn_scan_program):
    path, blob = streams_file(tmp_path)
    result = quarn.scan([path], headerless=True, streams=True, fingerprint=True)
    done = subprocess.run([quarn_scan_program, "-q", "--json", "--list", "--headerless", "--fingerprint", str(path)],
                          capture_output=True, text=True, check=True)
    expected = json.loads(done.stdout)["streams_found"]
    assert [s.as_json() for s in result.streams_found] == expected
    assert [s.fingerprint["label"] for s in result.streams_found] == ["zlib-9", "zlib-2", "zlib-7-filtered"]

    buffered = quarn.scan_buffer(blob, headerless=True, streams=True, fingerprint=True)
    assert [s.fingerprint for s in buffered.streams_found] == [s.fingerprint for s in result.streams_found]

    raw = result.streams_found[2]
    f = raw.fingerprint
    c = zlib.compressobj(f["level"], zlib.DEFLATED, -f["window_bits"], f["mem_level"], zlib.Z_FILTERED)
    assert c.compress(zlib.decompress(blob[raw.offset:], -15)) + c.flush() == blob[raw.offset:]


def test_without_fingerprint_streams_have_none(tmp_path):
    path, _ = streams_file(tmp_path)
    result = quarn.scan([path], streams=True)
    assert result.streams_found and all(s.fingerprint is None for s in result.streams_found)
    assert "fingerprint" not in result.streams_found[0].as_json()
