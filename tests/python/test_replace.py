"""quarn.replace_stream: the copy holds the new data where the stream was,
checked with Python's zlib; nothing is written when the data does not fit."""

from __future__ import annotations

import random
import zlib

import pytest

import quarn


def words(seed, count):
    rng = random.Random(seed)
    return b" ".join(rng.choice([b"one", b"two", b"three", b"four"]) + b"%d" % rng.randrange(90) for _ in range(count))


def test_replace_stream_round_trip(tmp_path):
    old = words(1, 3000)
    source = tmp_path / "s.bin"
    source.write_bytes(b"abc" + zlib.compress(old, 6) + b"xyz")
    new = old.replace(b"three", b"THREE")
    done = quarn.replace_stream(source, 3, new, tmp_path / "out.bin")
    assert done["kind"] == "zlib" and done["new_bytes"] <= done["place_bytes"]
    assert done["container"] is None and done["container_note"] == ""
    out = (tmp_path / "out.bin").read_bytes()
    assert zlib.decompress(out[3:3 + done["new_bytes"]]) == new
    [found] = quarn.scan([tmp_path / "out.bin"], streams=True, fingerprint=True).streams_found
    assert found.offset == 3 and found.fingerprint["label"] == done["label"]


def test_replace_stream_that_does_not_fit(tmp_path):
    source = tmp_path / "s.bin"
    source.write_bytes(zlib.compress(words(2, 2000), 9))
    with pytest.raises(quarn.QuarnError, match="bytes too big"):
        quarn.replace_stream(source, 0, random.Random(3).randbytes(20000), tmp_path / "out.bin")
    assert not (tmp_path / "out.bin").exists()
