"""Test files built at test time: zlib and raw deflate streams made with
Python's zlib, cut, corrupted and nested, between random bytes.

`build_corpus` makes a folder of small files of every kind; `build_large`
makes one file meant to be cut into chunks of `chunk` bytes, with chunk
borders inside streams, exactly on streams' first deflate bytes and on
their headers, and one border placed so that a chunk's own scan accepts a
stream that the whole-file scan never sees (a stream nested in another's
stored block that runs past its end): stitching must join the paths there.
Both hold streams that only a scan with proof counts: zip entries and gzip
members (made with zipfile and gzip), tiny zlib streams, and a zlib stream
in a file's last 63 bytes; the large file's last stream runs from two
chunks before its end into those bytes, over the last chunk's border.
"""

from __future__ import annotations

import gzip
import io
import random
import zipfile
import zlib
from pathlib import Path
from typing import List

TEXT_ALPHABET = b"abcdefghij klmnop\n"


def text(rng: random.Random, n: int) -> bytes:
    """Compressible bytes: zlib gives them dynamic Huffman blocks."""
    return bytes(rng.choice(TEXT_ALPHABET) for _ in range(n))


def zlib_stream(data: bytes, level: int = 6, wbits: int = 15) -> bytes:
    c = zlib.compressobj(level, zlib.DEFLATED, wbits)
    return c.compress(data) + c.flush()


def raw_stream(data: bytes, level: int = 6) -> bytes:
    return zlib_stream(data, level, -15)


def zip_archive(entries: List[tuple]) -> bytes:
    """A zip archive of deflated entries (name, data), as zipfile writes it."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            archive.writestr(name, data)
    return out.getvalue()


def gzip_members(rng: random.Random, sizes: List[int]) -> bytes:
    """One gzip member of text per size, one after the other."""
    return b"".join(gzip.compress(text(rng, n), mtime=1000 + n) for n in sizes)


def build_corpus(root: Path, seed: int = 15) -> List[Path]:
    """Small files of every kind under `root` (one in a subfolder)."""
    rng = random.Random(seed)
    root.mkdir(parents=True, exist_ok=True)
    (root / "sub").mkdir(exist_ok=True)
    files = []

    def write(name: str, parts: List[bytes]) -> None:
        path = root / name
        path.write_bytes(b"".join(parts))
        files.append(path)

    # Header streams over every window size and FLEVEL.
    parts = []
    for wbits in range(9, 16):
        for level in (0, 1, 5, 6, 9):
            parts.append(rng.randbytes(rng.randint(0, 300)))
            parts.append(zlib_stream(text(rng, rng.randint(500, 6000)), level, wbits))
    write("levels.bin", parts)
    # Raw deflate streams, found with headerless only.
    write("raw.bin", [rng.randbytes(200), raw_stream(text(rng, 4000)), rng.randbytes(99), raw_stream(text(rng, 9000), 9),
                      rng.randbytes(150)])
    # A stream cut by the end of the file, and one with bad data in the middle.
    whole = zlib_stream(text(rng, 20000), 6)
    write("cut.bin", [rng.randbytes(500), whole[: len(whole) // 2]])
    bad = bytearray(zlib_stream(text(rng, 20000), 6))
    bad[len(bad) // 2: len(bad) // 2 + 8] = b"\xff" * 8
    write("corrupt.bin", [rng.randbytes(300), bytes(bad), rng.randbytes(300)])
    write("noise.bin", [rng.randbytes(50000)])
    write("empty.bin", [])
    write("short.bin", [zlib_stream(b"tiny")])
    write("sub/nested.bin", [rng.randbytes(1000), zlib_stream(text(rng, 3000)), rng.randbytes(64)])
    # Streams that only their checksum proves, and their containers.
    write("archive.zip", [zip_archive([("a.txt", text(rng, 5000)), ("tiny.txt", b"x"), ("b.txt", text(rng, 300))])])
    write("members.gz", [gzip_members(rng, [4000, 3, 700])])
    write("tail.bin", [rng.randbytes(400), zlib_stream(b"tiny"), rng.randbytes(500), zlib_stream(text(rng, 40)),
                       rng.randbytes(20)])
    return files


def nested_pair(rng: random.Random, tail_bytes: int) -> tuple:
    """X, a zlib stream whose second block is a stored block holding the
    start of Y, a zlib stream whose last block is a stored block of
    `tail_bytes` bytes that begins inside X and runs past X's end.
    Returns (X's bytes, offset of Y's header within X)."""
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    x_first = c.compress(text(rng, 3000)) + c.flush(zlib.Z_SYNC_FLUSH)  # dynamic block, then an empty stored one
    assert x_first[0] & 6 == 4
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    y_first = c.compress(text(rng, 2000)) + c.flush(zlib.Z_SYNC_FLUSH)
    assert y_first[0] & 6 == 4
    y_start = b"\x78\xda" + y_first + b"\x01" + tail_bytes.to_bytes(2, "little") + (tail_bytes ^ 0xFFFF).to_bytes(2, "little")
    filler = rng.randbytes(300)
    stored = y_start + filler
    x_deflate = (
        x_first
        + b"\x00" + len(stored).to_bytes(2, "little") + (len(stored) ^ 0xFFFF).to_bytes(2, "little") + stored
        + b"\x01\x00\x00\xff\xff"  # final empty stored block
    )
    x_data = zlib.decompress(x_deflate, -15)
    x = b"\x78\xda" + x_deflate + zlib.adler32(x_data).to_bytes(4, "big")
    return x, 2 + len(x_first) + 5


def build_large(path: Path, chunk: int, seed: int = 16) -> dict:
    """A file of about 40 chunks of `chunk` bytes (at least 64 KiB).
    Returns where the chosen borders fall, for the tests to check."""
    assert chunk >= 65536
    rng = random.Random(seed)
    out = bytearray()
    marks = {}

    def pad_to(position: int) -> None:
        assert len(out) <= position, (len(out), position)
        out.extend(rng.randbytes(position - len(out)))

    def add(data: bytes) -> int:
        start = len(out)
        out.extend(data)
        return start

    # Streams here and there in the first chunks, some small, some long.
    for _ in range(12):
        out.extend(rng.randbytes(rng.randint(100, 9000)))
        out.extend(zlib_stream(text(rng, rng.randint(1000, 30000)), rng.choice((1, 6, 9)), rng.choice((12, 15))))
    # A stream whose first deflate byte is exactly a border.
    pad_to(4 * chunk - 2)
    marks["deflate_on_border"] = add(zlib_stream(text(rng, 40000), 6)) + 2
    # A stream whose header starts exactly at a border.
    pad_to(6 * chunk)
    marks["header_on_border"] = add(zlib_stream(text(rng, 30000), 9)) + 2
    # A stream that spans several borders: big, barely compressible.
    pad_to(8 * chunk + 1234)
    big = bytes(rng.choice(b"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ") for _ in range(4 * chunk))
    marks["across_borders"] = add(zlib_stream(big, 1)) + 2
    # Y nested in X's stored block, and the border between X's start and Y's.
    x, y_header = nested_pair(rng, tail_bytes=3000)
    x_at = 16 * chunk - 20
    pad_to(x_at)
    add(x)
    marks["nested_outer"] = x_at + 2
    marks["nested_inner"] = x_at + y_header + 2
    # Raw deflate streams and a cut one, for headerless and incomplete scans.
    for _ in range(6):
        out.extend(rng.randbytes(rng.randint(1000, 20000)))
        out.extend(raw_stream(text(rng, rng.randint(2000, 30000))))
    pad_to(30 * chunk)
    whole = zlib_stream(text(rng, 80000), 6)
    pad_to(len(out) + 777)
    add(whole[: len(whole) // 3])
    bad = bytearray(zlib_stream(text(rng, 80000), 6))
    bad[len(bad) // 2:][:16] = b"\x00" * 16
    add(bytes(bad))
    pad_to(40 * chunk + 555)
    # Zip entries and gzip members across borders, then the last stream:
    # from two chunks before the end into the last 63 bytes, followed there
    # by a tiny one that only its trailer proves.
    pad_to(41 * chunk - 300)
    marks["zip"] = add(zip_archive([(f"e{k}.txt", text(rng, 150 * k)) for k in range(1, 6)]))
    pad_to(42 * chunk - 500)
    marks["gzip"] = add(gzip_members(rng, [900, 2, 1500]))
    pad_to(43 * chunk - 1000)
    last = zlib_stream(bytes(rng.choice(b"0123456789abcdefghijklmnopqrstuvwxyz") for _ in range(3 * chunk)), 1)
    marks["into_tail"] = add(last) + 2
    marks["in_tail"] = add(zlib_stream(b"end")) + 2
    out.extend(rng.randbytes(10))
    assert len(out) - len(last) < (len(out) - 63) // chunk * chunk
    path.write_bytes(bytes(out))
    return marks
