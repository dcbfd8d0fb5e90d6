"""quarn-scan --fingerprint on streams made here by other programs built on
zlib (Python's zlib module, git's loose objects and packs) and by hand: each
stream's fingerprint must name the settings it was made with, a stream that
no encoder writes must be unknown, and the report must end with the totals,
its other lines the same as without --fingerprint.

Run by CTest with QUARN_SCAN naming the program."""

import json
import os
import random
import struct
import subprocess
import zlib

import pytest

SCAN = os.environ.get("QUARN_SCAN", "quarn-scan")


def run(*args):
    return subprocess.run([SCAN, "-q", *args], capture_output=True, check=True, text=True).stdout


def scan_json(path, *options):
    # --verified: the streams whose first block is stored or fixed count too.
    return json.loads(run("--json", "--list", "--fingerprint", "--verified", *options, str(path)))["streams_found"]


def text(rng, count):
    return " ".join(rng.choice(["alpha", "beta", "gamma", "delta", "pack", "tree", "zzzzzzz", str(rng.randrange(99))])
                    for _ in range(count)).encode()


def stored_by_hand(data, cut):
    """A zlib stream of two stored blocks cut after `cut` bytes: zlib never
    cuts a one-call level-0 stream there."""
    blocks = b""
    for final, piece in ((0, data[:cut]), (1, data[cut:])):
        blocks += bytes([final]) + struct.pack("<HH", len(piece), len(piece) ^ 0xFFFF) + piece
    return b"\x78\x01" + blocks + struct.pack(">I", zlib.adler32(data))


def test_python_zlib_streams_are_identified(tmp_path):
    rng = random.Random(3)
    data = text(rng, 6000)
    cases = []  # (stream, label, JSON fields to check); label None: a zlib level, checked below
    for level in range(0, 10):
        # Level 0 is made in one piece only while it fits Python's first output buffer.
        piece = data[:8000] if level == 0 else data
        cases.append((zlib.compress(piece, level), None, {"window_bits": 15}))
    for wbits, mem, strategy, label in ((-12, 9, zlib.Z_FILTERED, "zlib-5-filtered"),
                                        (-15, 3, zlib.Z_DEFAULT_STRATEGY, "zlib-5"),
                                        (11, 8, zlib.Z_RLE, "zlib-rle"),
                                        (15, 6, zlib.Z_HUFFMAN_ONLY, "zlib-huffman-only"),
                                        (15, 8, zlib.Z_FIXED, "zlib-5-fixed")):
        c = zlib.compressobj(5, zlib.DEFLATED, wbits, mem, strategy)
        cases.append((c.compress(data) + c.flush(), label, {"mem_level": mem, "window_bits": abs(wbits)}))
    cases.append((stored_by_hand(data[:3000], 1000), "unknown", {"encoder": None}))

    blob = b""
    offsets = []
    for stream, _, _ in cases:
        blob += b"\x01\x02\x03"
        offsets.append(len(blob))
        blob += stream
    path = tmp_path / "streams.bin"
    path.write_bytes(blob)

    streams = {s["offset"]: s for s in scan_json(path, "--headerless")}
    for (stream, label, fields), offset in zip(cases, offsets):
        found = streams[offset]["fingerprint"]
        assert found["tries"] >= 1
        for key, value in fields.items():
            assert found[key] == value, (label, key, found)
        if label is not None:
            assert found["label"] == label, (offset, found)
        else:
            # Python's zlib at the level found makes the same stream; levels
            # that make the same bytes from this text cannot be told apart.
            assert found["encoder"] == "zlib"
            assert zlib.compress(zlib.decompress(stream), found["level"]) == stream, found


def test_git_objects_are_identified(tmp_path):
    repo = tmp_path / "repo"
    env = dict(os.environ, GIT_AUTHOR_NAME="a", GIT_AUTHOR_EMAIL="a@b", GIT_COMMITTER_NAME="a",
               GIT_COMMITTER_EMAIL="a@b", HOME=str(tmp_path))
    subprocess.run(["git", "init", "-q", str(repo)], check=True, env=env)
    rng = random.Random(4)
    (repo / "a.txt").write_bytes(text(rng, 3000))
    blob_id = subprocess.run(["git", "-C", str(repo), "hash-object", "-w", "a.txt"], check=True,
                             capture_output=True, text=True, env=env).stdout.strip()
    loose = repo / ".git" / "objects" / blob_id[:2] / blob_id[2:]
    # git writes loose objects at its core.loosecompression, zlib's best speed.
    [found] = scan_json(loose)
    assert found["fingerprint"]["label"] == "zlib-1"

    for k in range(20):
        (repo / f"f{k}.txt").write_bytes(text(rng, 50 + 40 * k))
    subprocess.run(["git", "-C", str(repo), "add", "."], check=True, env=env)
    subprocess.run(["git", "-C", str(repo), "commit", "-qm", "files"], check=True, env=env)
    subprocess.run(["git", "-C", str(repo), "-c", "pack.compression=9", "gc", "-q"], check=True, env=env)
    [pack] = list((repo / ".git/objects/pack").glob("*.pack"))
    packed = pack.read_bytes()
    streams = scan_json(pack)
    assert len(streams) >= 20
    for s in streams:
        found = s["fingerprint"]
        stream = packed[s["offset"]:s["offset"] + 2 + s["compressed_bytes"] + 4]
        data = zlib.decompress(stream)
        # Made at level 9; a level found instead must make the same bytes.
        assert zlib.compress(data, 9) == stream
        assert found["encoder"] == "zlib" and zlib.compress(data, found["level"]) == stream, found


def test_report_ends_with_the_totals(tmp_path):
    rng = random.Random(5)
    data = text(rng, 2000)
    path = tmp_path / "three.bin"
    path.write_bytes(zlib.compress(data, 6) + b"\0" + zlib.compress(data, 6) + b"\0" + zlib.compress(data, 9) +
                     b"\0" + stored_by_hand(data, 100))
    plain = run("--verified", str(path)).splitlines()
    with_fingerprints = run("--verified", "--fingerprint", str(path)).splitlines()
    assert with_fingerprints[:len(plain)] == plain
    tail = with_fingerprints[len(plain):]
    assert tail[:4] == ["Streams reproduced by zlib level 6: 2",
                        "Streams reproduced by zlib level 9: 1",
                        "Streams reproduced by no known encoder: 1",
                        tail[3]]
    assert tail[3].startswith("Fingerprint tries: ")
    assert len(tail) == 4
    assert not any("reproduced" in line for line in plain)

    totals = json.loads(run("--json", "--verified", "--fingerprint", str(path)))["fingerprints"]
    assert totals["zlib_levels"]["6"] == 2 and totals["zlib_levels"]["9"] == 1 and totals["unknown"] == 1

    rows = run("--list", "--verified", "--fingerprint", str(path)).splitlines()
    assert rows[0].endswith("\tcontainer\tfingerprint")
    assert [row.split("\t")[-1] for row in rows[1:5]] == ["zlib-6", "zlib-6", "zlib-9", "unknown"]


def test_incomplete_streams_are_not_tried(tmp_path):
    data = text(random.Random(6), 3000)
    path = tmp_path / "cut.bin"
    path.write_bytes(zlib.compress(data, 6)[:-200])
    [found] = scan_json(path, "--accept-incomplete")
    assert found["fingerprint"]["label"] == "not-tried"
    assert found["fingerprint"]["skipped"] == "incomplete"
    assert found["fingerprint"]["tries"] == 0
