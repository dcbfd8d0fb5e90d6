"""quarn-scan --types: the content type of each stream, told by libmagic
from its first 64 KiB inflated, must be what file(1) says of those bytes
(read from a pipe, as the scan has no file of them either, and without
file's ELF section parser). Payloads made
here: a PNG, an ELF header, English text and an XML document, each zlibbed
between noise. Without --types the rows and JSON stay as they were.

Run by CTest with QUARN_SCAN naming the program."""

import json
import os
import random
import struct
import subprocess
import zlib

import pytest

SCAN = os.environ.get("QUARN_SCAN", "quarn-scan")


def png():
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    width, height = 64, 48
    rows = b"".join(b"\0" + bytes((x * 4 + y) % 256 for x in range(width) for _ in range(3)) for y in range(height))
    # Stored, so that the PNG as a whole compresses well once more.
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 0)) + chunk(b"IEND", b""))


def elf():
    header = struct.pack("<4sBBBBB7sHHIQQQIHHHHHH", b"\x7fELF", 2, 1, 1, 0, 0, b"\0" * 7,
                         2, 62, 1, 0x401000, 64, 0, 0, 64, 56, 1, 64, 0, 0)
    segment = struct.pack("<IIQQQQQQ", 1, 5, 0, 0x400000, 0x400000, 0x3000, 0x3000, 0x1000)
    rng = random.Random(3)
    code = bytes(rng.choice(b"\x48\x89\xe5\xc3\x90\x0f\x05\x31\xc0") for _ in range(12000))
    return header + segment + code


def text():
    rng = random.Random(4)
    words = ["the", "stream", "inside", "a", "file", "holds", "some", "words", "and", "more"]
    return "\n".join(" ".join(rng.choice(words) for _ in range(12)) for _ in range(800)).encode() + b"\n"


def xml():
    items = "".join(f'  <item n="{k * 7919 % 1000}">value {k}</item>\n' for k in range(400))
    return f'<?xml version="1.0" encoding="UTF-8"?>\n<list>\n{items}</list>\n'.encode()


PAYLOADS = {"png": png(), "elf": elf(), "text": text(), "xml": xml()}


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    rng = random.Random(7)
    noise = lambda: bytes(rng.randrange(256) for _ in range(300))
    data = noise()
    for payload in PAYLOADS.values():
        data += zlib.compress(payload, 9) + noise()
    path = tmp_path_factory.mktemp("types") / "sample.bin"
    path.write_bytes(data)
    return path


# -e elf: file(1) reads an ELF file's sections through its descriptor,
# which a buffer in memory does not have; the magic tests are the same.
def file_says(payload, *options):
    return subprocess.run(["file", "-b", "-e", "elf", *options, "-"], input=payload[:65536], capture_output=True,
                          check=True).stdout.decode().strip()


def run(*args):
    return subprocess.run([SCAN, "-q", *args], capture_output=True, check=True).stdout.decode()


def test_json_types_are_what_file_says(sample):
    streams = json.loads(run("--json", "--list", "--types", str(sample)))["streams_found"]
    assert len(streams) == len(PAYLOADS)
    for (name, payload), stream in zip(PAYLOADS.items(), streams):
        assert stream["inflated_bytes"] == len(payload), name
        assert stream["content"] == file_says(payload), name
        assert stream["mime"] == file_says(payload, "--mime-type"), name
    assert [s["mime"] for s in streams] == ["image/png", "application/x-executable", "text/plain", "text/xml"]


def test_json_lines_carry_the_same_types(sample):
    lines = [json.loads(line) for line in run("--json-lines", "--types", str(sample)).splitlines()]
    streams = [line for line in lines if line["type"] == "stream"]
    assert [s["mime"] for s in streams] == [file_says(p, "--mime-type") for p in PAYLOADS.values()]


def test_rows_end_with_the_content_column(sample):
    rows = run("--list", "--types", str(sample)).splitlines()
    header = rows[0].split("\t")
    assert header[-1] == "content"
    cells = [row.split("\t") for row in rows[1:1 + len(PAYLOADS)]]
    assert all(len(row) == len(header) for row in cells)
    assert [row[-1] for row in cells] == [file_says(p) for p in PAYLOADS.values()]


def test_without_types_nothing_changes(sample):
    rows = run("--list", str(sample)).splitlines()
    assert "content" not in rows[0].split("\t")
    streams = json.loads(run("--json", "--list", str(sample)))["streams_found"]
    assert len(streams) == len(PAYLOADS)
    assert all("content" not in s and "mime" not in s for s in streams)
    assert run("--list", "--types", str(sample)).splitlines()[len(PAYLOADS) + 1:] == rows[len(PAYLOADS) + 1:]
