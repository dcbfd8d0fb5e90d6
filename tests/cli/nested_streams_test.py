"""quarn-scan --depth: streams inside streams, each named by its chain.

The samples are made here: a zip inside a gzip member inside a PDF
stream, found at depth 3 with every offset as Python's own modules put it
there; a layered bomb, stopped by the limits with the stop reported, in
little memory and time; a YARA rule that matches only a nested stream's
inflated bytes; and the report without --depth byte for byte as before.

Run by CTest with QUARN_SCAN naming the program."""

import gzip
import io
import json
import os
import random
import resource
import subprocess
import time
import zipfile
import zlib

import pytest

SCAN = os.environ.get("QUARN_SCAN", "quarn-scan")
WORDS = [b"alpha ", b"beta ", b"gamma ", b"delta ", b"payload ", b"firmware\n"]
MARKER = b"NESTED-SECRET-77"


def words(rng, count):
    return b"".join(rng.choice(WORDS) for _ in range(count))


def run(*args, check=True):
    return subprocess.run([SCAN, "-q", *map(str, args)], capture_output=True, check=check, text=True)


def rows(stdout):
    lines = stdout.splitlines()
    header = lines[0].split("\t")
    body = [dict(zip(header, line.split("\t"))) for line in lines[1:] if "\t" in line]
    return header, body


@pytest.fixture(scope="module")
def pdf(tmp_path_factory):
    """A PDF whose FlateDecode stream holds a gzip member that holds a zip."""
    rng = random.Random(5)
    text = words(rng, 20000)
    name = "inner/readme.txt"
    packed = io.BytesIO()
    with zipfile.ZipFile(packed, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr(name, text)
    zipped = packed.getvalue()
    pad = words(rng, 500)
    member = gzip.compress(pad + zipped + pad, mtime=0)
    content = pad + member + pad
    stream = zlib.compress(content)
    head = b"%PDF-1.4\n1 0 obj\n<< /Length " + str(len(stream)).encode() + b" /Filter /FlateDecode >>\nstream\n"
    path = tmp_path_factory.mktemp("pdf") / "doc.pdf"
    path.write_bytes(head + stream + b"\nendstream\nendobj\ntrailer\n<<>>\n%%EOF\n")
    # Where each stream starts: the zlib header in the file, the gzip
    # member's deflate data after its 10-byte header, the zip entry's after
    # its 30-byte local header and name.
    chain = [len(head), len(pad) + 10, len(pad) + 30 + len(name)]
    return path, chain, text


@pytest.mark.parametrize("proof", ["--headerless", "--verified"])
def test_zip_in_gzip_in_pdf_is_found_at_depth_three_with_its_chain(pdf, proof):
    path, chain, text = pdf
    out = run("--json", "-l", proof, "--depth", "3", path).stdout
    found = json.loads(out)["streams_found"]
    assert [s["chain"] for s in found] == [chain[:1], chain[:2], chain]
    assert [s["depth"] for s in found] == [1, 2, 3]
    assert [s["container"]["kind"] for s in found] == ["pdf", "gzip", "zip"]
    assert found[2]["inflated_bytes"] == len(text)
    assert all(s["stopped_by"] is None for s in found)

    header, body = rows(run("-l", proof, "--depth", "3", path).stdout)
    assert header[-1] == "stopped"
    names = [f"{path}", f"{path}@0x{chain[0]:x}:0x{chain[1]:x}", f"{path}@0x{chain[0]:x}:0x{chain[1]:x}:0x{chain[2]:x}"]
    assert [r["file"] for r in body] == names
    assert [int(r["offset"]) for r in body] == chain
    # Depth 2 goes no further than the gzip member.
    assert len(json.loads(run("--json", "-l", proof, "--depth", "2", path).stdout)["streams_found"]) == 2


def test_extraction_writes_nested_streams_named_by_their_chain(pdf, tmp_path):
    path, chain, text = pdf
    out = tmp_path / "out"
    result = run("--headerless", "--depth", "3", "-x", out, "--min-size", len(text), path)
    # Only the zip entry inflates to that many bytes; the levels above it
    # are inflated again to reach it, but not written.
    name = f"doc.pdf@0x{chain[0]:x}:0x{chain[1]:x}:0x{chain[2]:x}.raw"
    assert sorted(p.name for p in out.iterdir()) == [name]
    assert (out / name).read_bytes() == text
    assert "Wrote 1 streams" in result.stderr


def test_a_large_file_scanned_in_chunks_gives_the_same_nested_streams(pdf, tmp_path):
    # Past 32 MiB, so that the file is cut into chunks that several workers
    # scan, and the stream lies beyond the first of them.
    path, chain, _ = pdf
    doc = path.read_bytes()
    big = tmp_path / "big.bin"
    at = 40 << 20
    big.write_bytes(bytes(at) + doc + bytes(1 << 20))
    small = json.loads(run("--json", "-l", "--headerless", "--depth", "3", path).stdout)["streams_found"]
    large = json.loads(run("--json", "-l", "--headerless", "--depth", "3", "-j", "4", big).stdout)["streams_found"]
    assert [s["chain"] for s in large] == [[c + at if k == 0 else c for k, c in enumerate(s["chain"])] for s in small]
    assert [s["inflated_bytes"] for s in large] == [s["inflated_bytes"] for s in small]


def test_totals_count_the_files_streams_and_then_each_depth(pdf):
    path, _, _ = pdf
    plain = run(path).stdout
    nested = run("--headerless", "--depth", "3", path).stdout
    plain_headerless = run("--headerless", path).stdout
    assert nested.startswith(plain_headerless)
    tail = nested[len(plain_headerless):].splitlines()
    assert tail[0] == "Nested streams: 2"
    assert "Nested streams at depth 2: 1" in tail and "Nested streams at depth 3: 1" in tail
    assert tail[-1] == "Nested streams stopped by a limit: 0"
    totals = json.loads(run("--json", "--headerless", "--depth", "3", path).stdout)["nested"]
    assert totals["streams"] == 2 and totals["stopped_by_limit"] == 0
    assert set(totals["by_depth"]) == {"2", "3"}
    assert totals["by_depth"]["3"]["headerless_streams"] == 1
    # Without --depth, or with 1, the report is what it always was.
    assert run("--depth", "1", path).stdout == plain
    assert "chain" not in run("--json", "-l", path).stdout


def test_a_layered_bomb_is_stopped_and_the_stop_reported(tmp_path):
    # Each layer is a thousand copies of the one below, zlibbed: about a
    # thousandfold per layer, 10 TB at the bottom of three.
    layer = zlib.compress(bytes(10 << 20), 9)
    for _ in range(2):
        layer = zlib.compress(layer * 1000, 9)
    path = tmp_path / "bomb.bin"
    path.write_bytes(os.urandom(200) + layer + os.urandom(200))

    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    started = time.monotonic()
    result = run("--json", "-l", "--depth", "5", path)
    seconds = time.monotonic() - started
    peak_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    found = json.loads(result.stdout)
    stops = [s["stopped_by"] for s in found["streams_found"] if s["stopped_by"]]
    assert stops and set(stops) <= {"expansion", "max-inflate"}
    assert "expansion" in stops
    assert found["nested"]["stopped_by_limit"] == len(stops)
    if not os.environ.get("QUARN_SANITIZED"):
        assert seconds < 10, seconds
        # ru_maxrss of children is the largest child so far: this run's,
        # unless an earlier one was larger still.
        assert peak_kib < 100 * 1024 or before >= peak_kib, peak_kib

    # A smaller budget stops it sooner, and says so.
    small = json.loads(run("--json", "-l", "--depth", "5", "--max-inflate", 20 << 20, path).stdout)
    assert [s["stopped_by"] for s in small["streams_found"]].count("max-inflate") == 1


def test_streams_proven_inside_a_stream_are_counted_and_listed_up_to_the_limit(tmp_path):
    # Tiny zlib streams with fixed-code blocks, which only their Adler-32
    # proves: more of them than are ever listed under one stream.
    inner = b"".join(zlib.compress(b"item %d" % k) for k in range(100500))
    path = tmp_path / "tiny.bin"
    path.write_bytes(bytes(100) + zlib.compress(inner, 9) + bytes(100))
    lines = run("--verified", "--depth", "2", path).stdout.splitlines()
    assert "Nested streams: 99999" in lines  # the last one listed is where the limit stopped
    assert "  Streams proven by their checksum: 99999" in lines
    assert lines[-1] == "Nested streams stopped by a limit: 1"
    found = json.loads(run("--json", "-l", "--verified", "--depth", "2", path).stdout)["streams_found"]
    nested = found[1:]
    assert len(nested) == 100000
    assert [s["stopped_by"] for s in nested].count("max-nested") == 1 and nested[-1]["stopped_by"] == "max-nested"
    assert all(s["proven_by"] == "adler32" for s in nested)


def test_a_rule_matches_a_nested_stream_on_its_own_row(tmp_path):
    rng = random.Random(9)
    payload = words(rng, 3000) + MARKER + words(rng, 3000)
    inner = zlib.compress(payload, 9)
    outer = zlib.compress(words(rng, 800) + inner + words(rng, 800), 9)
    data = os.urandom(300) + outer + os.urandom(300)
    assert MARKER not in data and MARKER not in inner
    path = tmp_path / "sample.bin"
    path.write_bytes(data)
    rules = tmp_path / "rules.yar"
    rules.write_text('rule secret : hidden { strings: $a = "%s" condition: $a }\n' % MARKER.decode())

    header, body = rows(run("--depth", "3", "--types", "--yara", rules, "-l", path).stdout)
    assert header[-3:] == ["content", "rules", "stopped"]
    assert len(body) == 2
    top, nested = body
    assert top["file"] == str(path) and top["rules"] == "-"
    assert nested["file"].startswith(f"{path}@0x{300:x}:0x") and nested["rules"] == "secret[hidden]"
    assert "text" in nested["content"]
    only = rows(run("--depth", "3", "--yara", rules, "--yara-only", path).stdout)[1]
    assert [r["file"] for r in only] == [nested["file"]]
    hits = json.loads(run("--json", "--depth", "3", "--yara", rules, "--yara-only", path).stdout)["streams_found"]
    assert hits[0]["yara"][0]["strings"][0]["offset"] == payload.index(MARKER)


@pytest.mark.parametrize("args", [["--depth", "0"], ["--depth", "65"], ["--depth", "x"], ["--max-inflate", "5"]])
def test_bad_depth_options_are_bad_usage(tmp_path, args):
    path = tmp_path / "empty"
    path.write_bytes(b"")
    result = run(*args, path, check=False)
    assert result.returncode == 2
    assert ("--depth" in result.stderr) or ("--max-inflate" in result.stderr)
