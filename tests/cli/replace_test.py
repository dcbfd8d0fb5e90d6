"""quarn-scan --replace OFFSET=FILE SOURCE -o OUT on files made here: a PNG
(read back with PIL and Python's zlib), a zip entry edited to the same
length, an edit too big for its place, a stream whose encoder is unknown, a
round trip through a scan and an extraction of the copy, and the refusals
that must leave nothing written.

Run by CTest with QUARN_SCAN naming the program."""

import json
import os
import random
import struct
import subprocess
import zipfile
import zlib

from PIL import Image

SCAN = os.environ.get("QUARN_SCAN", "quarn-scan")


def replace(source, offset, new, out):
    return subprocess.run([SCAN, "--replace", f"{offset}={new}", str(source), "-o", str(out)],
                          capture_output=True, text=True)


def streams(path):
    done = subprocess.run([SCAN, "-q", "--json", "--list", "--verified", "--fingerprint", str(path)],
                          capture_output=True, text=True, check=True)
    return json.loads(done.stdout)["streams_found"]


def words(seed, count):
    rng = random.Random(seed)
    return " ".join(rng.choice(["red", "green", "blue", "pixel", "row", str(rng.randrange(50))])
                    for _ in range(count)).encode()


def make_png(path):
    image = Image.new("RGB", (96, 64))
    noise = random.Random(7)
    image.putdata([((x * 5) % 256, (y * 3) % 256, noise.randrange(64)) for y in range(64) for x in range(96)])
    image.save(path)


def test_png_idat_is_replaced_and_reads_back(tmp_path):
    make_png(tmp_path / "a.png")
    png = (tmp_path / "a.png").read_bytes()
    [idat] = [s for s in streams(tmp_path / "a.png") if s["container"]["chunk"] == "IDAT"]
    start = idat["offset"]
    rows = bytearray(zlib.decompress(png[start:start + 2 + idat["compressed_bytes"] + 4]))
    # Row 0, unfiltered (filter byte 0), every red value 255.
    rows[:1 + 96 * 3] = b"\0" + b"".join(bytes((255, 0, x)) for x in range(96))
    (tmp_path / "rows").write_bytes(rows)

    done = replace(tmp_path / "a.png", start, tmp_path / "rows", tmp_path / "b.png")
    assert done.returncode == 0, done.stderr
    assert "PNG chunk IDAT" in done.stdout and "update them" in done.stdout
    out = (tmp_path / "b.png").read_bytes()
    assert len(out) == len(png) and out[:start] == png[:start]
    assert out[start] == png[start]  # CMF: the window, CINFO
    assert zlib.decompressobj().decompress(out[start:]) == bytes(rows)
    image = Image.open(tmp_path / "b.png")
    image.load()
    assert [image.getpixel((x, 0)) for x in range(96)] == [(255, 0, x) for x in range(96)]
    # The rows below are filtered against row 0: the reference is a PNG
    # written cleanly around the same rows, chunk length and CRC updated.
    chunk_at = start - 8
    old_length = struct.unpack(">I", png[chunk_at:chunk_at + 4])[0]
    data = zlib.compress(bytes(rows))
    reference = (png[:chunk_at] + struct.pack(">I", len(data)) + b"IDAT" + data +
                 struct.pack(">I", zlib.crc32(b"IDAT" + data)) + png[chunk_at + 12 + old_length:])
    (tmp_path / "reference.png").write_bytes(reference)
    assert image.tobytes() == Image.open(tmp_path / "reference.png").tobytes()
    assert (tmp_path / "a.png").read_bytes() == png


def test_zip_entry_of_the_same_length(tmp_path):
    text = words(1, 3000)
    with zipfile.ZipFile(tmp_path / "a.zip", "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("notes.txt", text)
    edited = text.replace(b"green", b"GREEN")
    assert len(edited) == len(text) and edited != text
    (tmp_path / "edited").write_bytes(edited)
    [entry] = streams(tmp_path / "a.zip")
    assert entry["kind"] == "raw" and entry["fingerprint"]["label"] == "zlib-6"

    done = replace(tmp_path / "a.zip", entry["offset"], tmp_path / "edited", tmp_path / "b.zip")
    assert done.returncode == 0, done.stderr
    assert "compressed by " in done.stdout
    assert 'zip entry "notes.txt"' in done.stdout and "compressed size and CRC-32" in done.stdout
    out = (tmp_path / "b.zip").read_bytes()
    assert zlib.decompressobj(-15).decompress(out[entry["offset"]:]) == edited


def test_an_edit_that_does_not_fit_writes_nothing(tmp_path):
    text = words(2, 2000)
    source = tmp_path / "s.bin"
    source.write_bytes(b"head" + zlib.compress(text, 9) + b"tail")
    (tmp_path / "noise").write_bytes(random.Random(3).randbytes(len(text)))
    done = replace(source, 4, tmp_path / "noise", tmp_path / "out.bin")
    assert done.returncode == 1
    assert done.stdout == ""
    assert "does not fit the stream at offset 4" in done.stderr and "bytes too big" in done.stderr
    assert "Nothing was written" in done.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["noise", "s.bin"]


def test_unknown_encoder_and_round_trip(tmp_path):
    text = words(4, 1500)
    # Two stored blocks cut where no encoder cuts them: a place of the
    # data's size plus a few bytes, which any compressor fits.
    blocks = b""
    for final, piece in ((0, text[:700]), (1, text[700:])):
        blocks += bytes([final]) + struct.pack("<HH", len(piece), len(piece) ^ 0xFFFF) + piece
    source = tmp_path / "s.bin"
    source.write_bytes(b"\x00" * 10 + b"\x78\x01" + blocks + struct.pack(">I", zlib.adler32(text)) + b"\xff" * 10)
    [stream] = streams(source)
    assert stream["offset"] == 10 and stream["fingerprint"]["label"] == "unknown"

    new = words(5, 1400)
    (tmp_path / "new").write_bytes(new)
    done = replace(source, 10, tmp_path / "new", tmp_path / "out.bin")
    assert done.returncode == 0, done.stderr
    assert "own settings" not in done.stdout

    [again] = streams(tmp_path / "out.bin")
    assert again["offset"] == 10 and again["inflated_bytes"] == len(new)
    assert again["fingerprint"]["encoder"] is not None  # made by a known encoder now
    extracted = tmp_path / "x"
    subprocess.run([SCAN, "-q", "--verified", "-x", str(extracted), str(tmp_path / "out.bin")], check=True)
    [written] = list(extracted.iterdir())
    assert written.read_bytes() == new


def test_refusals(tmp_path):
    source = tmp_path / "s.bin"
    source.write_bytes(b"xx" + zlib.compress(words(6, 500)))
    (tmp_path / "new").write_bytes(b"short")
    (tmp_path / "taken").write_bytes(b"keep")
    no_stream = replace(source, 0, tmp_path / "new", tmp_path / "out")
    assert no_stream.returncode == 1 and "No complete zlib or raw deflate stream starts at offset 0" in no_stream.stderr
    taken = replace(source, 2, tmp_path / "new", tmp_path / "taken")
    assert taken.returncode == 1 and "taken" in taken.stderr
    assert (tmp_path / "taken").read_bytes() == b"keep"
    in_place = replace(source, 2, tmp_path / "new", source)
    assert in_place.returncode == 1
    assert source.read_bytes().startswith(b"xx\x78")
    assert not (tmp_path / "out").exists()
    usage = subprocess.run([SCAN, "--replace", "2=new", str(source)], capture_output=True, text=True)
    assert usage.returncode == 2 and "--output" in usage.stderr
