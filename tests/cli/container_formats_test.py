"""quarn-scan --verified on the formats that hold many small streams, each
made here and checked against the format's own tools: a git pack against
git verify-pack, a wheel (zip) against Python's zipfile, gzip members, a
PNG and a PDF. Each stream must be found with the container that holds it.

Run by CTest with QUARN_SCAN naming the program."""

import gzip
import io
import json
import os
import random
import struct
import subprocess
import zipfile
import zlib

import pytest

SCAN = os.environ.get("QUARN_SCAN", "quarn-scan")


def scan(path, *options):
    run = subprocess.run([SCAN, "-q", "--json", "--list", *options, str(path)], capture_output=True, check=True)
    return json.loads(run.stdout)


def found(result):
    return result["streams_found"]


def proven_total(result):
    return result.get("proven_beyond_rule", {}).get("streams", 0)


def words(rng, count):
    return " ".join(rng.choice(["alpha", "beta", "gamma", "delta", "pack", "tree"]) for _ in range(count)).encode()


@pytest.fixture
def rng():
    return random.Random(5)


def test_git_pack_every_object(tmp_path, rng):
    repo = tmp_path / "repo"
    env = dict(os.environ, GIT_AUTHOR_NAME="a", GIT_AUTHOR_EMAIL="a@b", GIT_COMMITTER_NAME="a",
               GIT_COMMITTER_EMAIL="a@b", HOME=str(tmp_path))
    git = lambda *args: subprocess.run(["git", "-C", str(repo), *args], check=True, capture_output=True, env=env)
    subprocess.run(["git", "init", "-q", str(repo)], check=True, env=env)
    for commit in range(4):
        for k in range(40):
            (repo / f"f{k}.txt").write_bytes(words(rng, 5 + k * commit * 3))
        git("add", ".")
        git("commit", "-qm", f"commit {commit}")
    git("gc", "-q", "--aggressive")
    packs = list((repo / ".git/objects/pack").glob("*.pack"))
    assert len(packs) == 1
    listing = subprocess.run(["git", "verify-pack", "-v", str(packs[0].with_suffix(".idx"))],
                             capture_output=True, check=True, text=True).stdout
    entries = []  # (offset in pack, bytes in pack)
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) >= 5 and len(fields[0]) == 40 and fields[1] in ("blob", "tree", "commit", "tag"):
            entries.append((int(fields[4]), int(fields[3])))
    assert len(entries) > 150

    plain, proven = scan(packs[0]), scan(packs[0], "--verified")
    assert len(found(plain)) < len(entries)
    by_end = {s["offset"] + 2 + s["compressed_bytes"] + 4: s for s in found(proven) if s["kind"] == "zlib"}
    for offset, packed in entries:
        stream = by_end.get(offset + packed)
        assert stream is not None, f"no stream ends the entry at {offset}"
        assert offset < stream["offset"] < offset + 32
        assert stream["proven_by"] == "adler32"
        assert stream["container"]["kind"] == "git-pack"
        assert stream["container"]["offset"] == offset
    assert len(found(proven)) == len(entries)
    print(f"git pack: {len(entries)} objects; without --verified {len(found(plain))}, with {len(found(proven))}")


def make_wheel(path, rng):
    names = []
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as wheel:
        for k in range(60):
            name = f"pkg/module_{k}.py"
            wheel.writestr(name, words(rng, k * k))  # some tiny, some fixed-coded, some dynamic
            names.append(name)
        wheel.writestr("pkg/data.bin", b"", compress_type=zipfile.ZIP_DEFLATED)
        names.append("pkg/data.bin")
        wheel.writestr("pkg/stored.txt", b"stored, not deflated", compress_type=zipfile.ZIP_STORED)
        with wheel.open("pkg/zip64.txt", "w", force_zip64=True) as entry:
            entry.write(words(rng, 300))
        names.append("pkg/zip64.txt")
    # A zip written to a stream that cannot seek has data descriptors.
    class Unseekable(io.RawIOBase):
        def __init__(self):
            self.data = bytearray()
        def writable(self):
            return True
        def write(self, b):
            self.data += b
            return len(b)
    out = Unseekable()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as streamed:
        for k in range(5):
            streamed.writestr(f"streamed/{k}.txt", words(rng, 3 + 40 * k))
    return names, bytes(out.data)


def test_wheel_every_deflated_entry_with_its_name(tmp_path, rng):
    wheel = tmp_path / "pkg-1.0-py3-none-any.whl"
    names, streamed = make_wheel(wheel, rng)
    (tmp_path / "streamed.zip").write_bytes(streamed)
    for path in (wheel, tmp_path / "streamed.zip"):
        with zipfile.ZipFile(path) as z:
            want = {i.header_offset: i.filename for i in z.infolist() if i.compress_type == zipfile.ZIP_DEFLATED}
        for options in (["--verified"], ["--verified", "--headerless"]):
            result = scan(path, *options)
            got = {s["container"]["offset"]: s["container"]["name"] for s in found(result)
                   if s.get("container", {}).get("kind") == "zip"}
            assert got == want, options
            assert all(s["proven_by"] == "crc32" for s in found(result))
        plain = scan(path, "--headerless")
        print(f"{path.name}: {len(want)} deflated entries; --headerless {len(found(plain))}, "
              f"--verified --headerless {len(found(scan(path, '--verified', '--headerless')))}")


def test_gzip_members_with_names_and_times(tmp_path, rng):
    data = b""
    for k in range(4):
        buffer = io.BytesIO()
        with gzip.GzipFile(filename=f"part{k}.txt", mode="wb", fileobj=buffer, mtime=1700000000 + k) as member:
            member.write(words(rng, 2 + 500 * k))
        data += buffer.getvalue()
    path = tmp_path / "multi.gz"
    path.write_bytes(data)
    members = [s["container"] for s in found(scan(path, "--verified"))]
    assert [(m["kind"], m["member"], m["name"], m["mtime"]) for m in members] == [
        ("gzip", k, f"part{k}.txt", 1700000000 + k) for k in range(4)]
    # One wrong ISIZE: that member is not proven, the others are.
    bad = bytearray(data)
    bad[-1] ^= 0x40
    path.write_bytes(bytes(bad))
    result = scan(path, "--verified")
    assert [(s["container"]["member"], s["proven_by"]) for s in found(result)] == [(k, "crc32") for k in range(3)]


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def test_png_chunks(tmp_path, rng):
    pixels = b"".join(b"\0" + bytes(rng.randrange(4) for _ in range(48)) for _ in range(16))
    png = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 16, 16, 8, 2, 0, 0, 0))
    png += png_chunk(b"iCCP", b"profile\0\0" + zlib.compress(words(rng, 30)))
    png += png_chunk(b"zTXt", b"Comment\0\0" + zlib.compress(words(rng, 10)))
    png += png_chunk(b"IDAT", zlib.compress(pixels))
    png += png_chunk(b"IEND", b"")
    path = tmp_path / "icon.png"
    path.write_bytes(png)
    got = [(s["container"]["chunk"], s["container"]["index"]) for s in found(scan(path, "--verified"))]
    assert got == [("iCCP", 1), ("zTXt", 2), ("IDAT", 3)]
    print(f"PNG: without --verified {len(found(scan(path)))}, with {len(got)}")


def test_pdf_objects(tmp_path, rng):
    body = b"%PDF-1.5\n"
    want = []
    for number in range(1, 6):
        content = zlib.compress(words(rng, 4 + number * 3))
        flt = b"/FlateDecode" if number % 2 else b"[/FlateDecode]"
        body += b"%d 0 obj\n<< /Length %d /Filter %s >>\nstream\n" % (number, len(content), flt) + content
        body += b"\nendstream\nendobj\n"
        want.append((number, 0, "FlateDecode"))
    body += b"trailer\n<< /Root 1 0 R >>\n%%EOF\n"
    path = tmp_path / "doc.pdf"
    path.write_bytes(body)
    got = [(s["container"]["object"], s["container"]["generation"], s["container"]["filter"])
           for s in found(scan(path, "--verified"))]
    assert got == want
    print(f"PDF: without --verified {len(found(scan(path)))}, with {len(got)}")


def test_random_data_and_near_misses_prove_nothing(tmp_path):
    path = tmp_path / "noise.bin"
    path.write_bytes(random.Random(9).randbytes(4 << 20))
    result = scan(path, "--verified", "--headerless")
    assert found(result) == [] and proven_total(result) == 0
    stream = bytearray(zlib.compress(b"a short text, a short text", 1))
    stream[-1] ^= 1
    path.write_bytes(b"XXXX" + bytes(stream) + b"\0" * 10)
    assert found(scan(path, "--verified")) == []


def test_extraction_names_entries_after_them(tmp_path, rng):
    path = tmp_path / "app.zip"
    contents = [("pkg/a.txt", words(rng, 50)), ("pkg/a.txt", words(rng, 60)), (".hidden", words(rng, 2)),
                ("d\\e/\x7f.txt", words(rng, 9))]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z, pytest.warns(UserWarning):
        for name, data in contents:
            z.writestr(name, data)
    with zipfile.ZipFile(path) as z:
        offsets = [i.header_offset for i in z.infolist()]
    subprocess.run([SCAN, "-q", "--verified", "-x", str(tmp_path / "out"), "--names", "entry", str(path)],
                   check=True, capture_output=True)
    second = next(s for s in found(scan(path, "--verified")) if s["container"]["offset"] == offsets[1])
    names = ["app.zip@pkg_a.txt", "app.zip@pkg_a.txt~0x%x" % second["offset"], "app.zip@_.hidden",
             "app.zip@d_e__.txt"]
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == sorted(names)
    for name, (_, data) in zip(names, contents):
        assert (tmp_path / "out" / name).read_bytes() == data
