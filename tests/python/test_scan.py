"""quarn.scan and quarn.scan_buffer against quarn-scan, the command-line
scanner over the same engine: the same JSON fields, report lines and
streams; buffers of every kind scanned in place with the GIL released; the
engine's errors as Python exceptions with the engine's texts, but for a
missing file, which is Python's own FileNotFoundError."""

from __future__ import annotations

import ast
import concurrent.futures
import dataclasses
import errno
import json
import mmap
import os
import re
import signal
import threading
import zlib
from pathlib import Path

import numpy
import pytest

import quarn
from quarn import _quarn
from conftest import OPTION_SETS, option_id, quarn_scan_json, run_quarn_scan


@pytest.mark.parametrize("options", OPTION_SETS, ids=option_id)
def test_scan_gives_what_quarn_scan_prints(corpus_dir, quarn_scan_program, options):
    result = quarn.scan([corpus_dir], recursive=True, streams=True, **options)
    assert result.as_json() == quarn_scan_json(quarn_scan_program, [corpus_dir], {"recursive": True, **options})
    assert result.streams_found, "the corpus holds streams of every kind"

    plain = quarn.scan([corpus_dir], recursive=True, **options)
    assert plain.streams_found is None
    assert plain.as_json() == quarn_scan_json(
        quarn_scan_program, [corpus_dir], {"recursive": True, **options}, streams=False
    )

    report = run_quarn_scan(quarn_scan_program, [corpus_dir], {"recursive": True, **options})
    assert report.returncode == 0, report.stderr
    # quarn-scan adds the window's two summary boxes after the report lines,
    # before the lines on proven streams of a scan with proof.
    lines = report.stdout.splitlines()
    boxes = len(quarn.scan([corpus_dir], recursive=True, **{**options, "verified": False}).report_lines())
    assert lines[boxes].startswith("Total zlibbed input: ") and lines[boxes + 1].startswith("Total zlibbed output: ")
    assert result.report_lines() == lines[:boxes] + lines[boxes + 2:]
    assert (len(lines) > boxes + 2) == bool(options.get("verified"))
    assert str(result) == "\n".join(result.report_lines())


def test_every_kind_of_stream_is_in_the_corpus(corpus_dir):
    result = quarn.scan(corpus_dir, recursive=True, headerless=True, accept_incomplete=True, streams=True)
    kinds = {(s.kind, s.complete) for s in result.streams_found}
    assert {("zlib", True), ("raw", True), ("zlib", False)} <= kinds
    assert all(n > 0 for n in result.window_bits.values())
    assert all(n > 0 for n in result.flevel.values())
    assert any(s.file.endswith("nested.bin") for s in result.streams_found)
    assert result.files_scanned == len([p for p in corpus_dir.rglob("*") if p.is_file()])


def test_paths_in_every_form_name_the_same_scan(corpus_dir):
    levels = corpus_dir / "levels.bin"
    expected = quarn.scan([str(levels)], streams=True)
    for form in (str(levels), levels, os.fsencode(levels), [levels], (levels,), iter([str(levels)])):
        assert quarn.scan(form, streams=True) == expected
    assert quarn.scan([]).files_scanned == 0
    # Without `recursive` a folder gives only its own files.
    top = quarn.scan(corpus_dir)
    assert top.files_scanned == quarn.scan(corpus_dir, recursive=True).files_scanned - 1


def buffer_forms(data: bytes, path: Path):
    yield "bytes", data
    yield "bytearray", bytearray(data)
    yield "memoryview", memoryview(data)
    yield "numpy uint8", numpy.frombuffer(data, dtype=numpy.uint8)
    if len(data) % 4 == 0:
        yield "numpy uint32", numpy.frombuffer(data, dtype=numpy.uint32)
    if data:
        with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as m:
            yield "mmap", m


@pytest.mark.parametrize("options", OPTION_SETS, ids=option_id)
def test_scan_buffer_equals_the_scan_of_the_file(corpus_dir, options):
    for path in sorted(p for p in corpus_dir.rglob("*") if p.is_file()):
        expected = quarn.scan(path, streams=True, **options)
        data = path.read_bytes()
        for form, buffer in buffer_forms(data, path):
            got = quarn.scan_buffer(buffer, streams=True, **options)
            assert got.counters() == expected.counters(), (path, form)
            assert got.report_lines() == expected.report_lines(), (path, form)
            assert [s.file for s in got.streams_found] == [None] * len(expected.streams_found)
            # Proofs and containers too.
            assert list(got.streams_found) == [dataclasses.replace(s, file=None) for s in expected.streams_found], (
                path,
                form,
            )


def test_types_are_those_quarn_scan_types_prints_for_files_and_buffers(corpus_dir, quarn_scan_program):
    result = quarn.scan([corpus_dir], recursive=True, streams=True, types=True)
    assert result.as_json() == quarn_scan_json(quarn_scan_program, [corpus_dir], {"recursive": True, "types": True})
    assert all(s.mime for s in result.streams_found), "libmagic names every stream's type"
    assert len({s.mime for s in result.streams_found}) > 1
    assert all(s.content is None for s in quarn.scan([corpus_dir], recursive=True, streams=True).streams_found)
    for path in sorted(p for p in corpus_dir.rglob("*") if p.is_file()):
        expected = quarn.scan(path, streams=True, types=True).streams_found
        got = quarn.scan_buffer(path.read_bytes(), streams=True, types=True).streams_found
        assert [(s.content, s.mime) for s in got] == [(s.content, s.mime) for s in expected], path


def test_yara_hits_are_those_quarn_scan_prints_for_files_and_buffers(tmp_path, quarn_scan_program):
    payload = b"".join(b"record %d MARKER-IN-THE-PLAIN-BYTES\n" % k for k in range(2000))
    other = b"".join(b"record %d nothing to see\n" % k for k in range(2000))
    data = b"\0" * 100 + zlib.compress(payload) + b"\0" * 100 + zlib.compress(other) + b"\0" * 100
    assert b"MARKER" not in data
    (tmp_path / "sample.bin").write_bytes(data)
    rules = tmp_path / "rules.yar"
    rules.write_text('rule plain : t1 { strings: $m = "MARKER-IN-THE-PLAIN-BYTES" condition: #m > 10 }\n')

    result = quarn.scan(tmp_path / "sample.bin", streams=True, yara=rules)
    cli = run_quarn_scan(quarn_scan_program, [tmp_path / "sample.bin"], {}, "--json", "--list", "--yara", str(rules))
    assert cli.returncode == 0, cli.stderr
    assert result.as_json() == json.loads(cli.stdout)
    first, second = result.streams_found
    assert [h["rule"] for h in first.yara] == ["plain"] and first.yara[0]["tags"] == ["t1"]
    # At most 1,000 offsets a rule; the rest are counted.
    offsets = [m.start() for m in re.finditer(b"MARKER", payload)]
    assert [s["offset"] for s in first.yara[0]["strings"]] == offsets[:1000]
    assert first.yara[0]["strings_left_out"] == len(offsets) - 1000
    assert second.yara == []
    assert list(quarn.scan_buffer(data, streams=True, yara=str(rules)).streams_found) == [
        dataclasses.replace(s, file=None) for s in result.streams_found
    ]
    assert quarn.scan(tmp_path / "sample.bin", streams=True).streams_found[0].yara is None

    (tmp_path / "bad.yar").write_text("rule a {\n  condition: nothere\n}\n")
    with pytest.raises(quarn.QuarnError, match=r'bad.yar", line 2: undefined identifier'):
        quarn.scan(tmp_path / "sample.bin", streams=True, yara=tmp_path / "bad.yar")


def test_depth_gives_the_nested_streams_and_chains_quarn_scan_prints(tmp_path, quarn_scan_program):
    text = b"".join(b"line %d of the innermost text\n" % (k * 7919 % 1000) for k in range(3000))
    words = b"".join(b"word%d " % (k * 31 % 97) for k in range(2000))
    outer = zlib.compress(words + zlib.compress(text) + words)
    data = os.urandom(300) + outer + os.urandom(300)
    path = tmp_path / "sample.bin"
    path.write_bytes(data)

    result = quarn.scan(path, streams=True, depth=3)
    cli = run_quarn_scan(quarn_scan_program, [path], {}, "--json", "--list", "--depth", "3")
    assert cli.returncode == 0, cli.stderr
    flat = [(s.chain or (s.offset,), s.inflated_bytes, s.stopped_by)
            for top in result.streams_found for s in (top, *top.nested_streams())]
    assert flat == [(tuple(j["chain"]), j["inflated_bytes"], j["stopped_by"]) for j in json.loads(cli.stdout)["streams_found"]]
    assert flat[1:] == [((300, len(words)), len(text), None)]
    # The counts are the file's own streams', and a buffer gives the same.
    assert result.counters() == quarn.scan(path, streams=True).counters()
    assert [dataclasses.replace(s, file=None) for s in result.streams_found[0].nested] == list(
        quarn.scan_buffer(data, streams=True, depth=3).streams_found[0].nested
    )
    assert quarn.scan(path, streams=True).streams_found[0].nested is None
    with pytest.raises(ValueError, match="depth must be from 1 to 64"):
        quarn.scan(path, streams=True, depth=0)


def test_scan_buffer_takes_only_contiguous_buffers():
    strided = numpy.zeros(1000, dtype=numpy.uint8)[::2]
    with pytest.raises((BufferError, ValueError), match="contiguous"):  # numpy says ValueError
        quarn.scan_buffer(strided)
    with pytest.raises(TypeError):
        quarn.scan_buffer("text is not bytes")


def test_scan_buffer_runs_in_place_without_the_gil():
    # While the scan runs on another thread, this thread runs Python (so the
    # GIL is free) and finds the bytearray pinned (so the scan reads the
    # caller's memory, not a copy).
    data = bytearray(os.urandom(64 << 20))
    done = threading.Event()
    result = {}

    def run():
        result["scan"] = quarn.scan_buffer(data, headerless=True)
        done.set()

    worker = threading.Thread(target=run)
    pinned = 0
    worker.start()
    while not done.is_set():
        try:
            data.append(0)
            del data[-1]
        except BufferError:
            pinned += 1
    worker.join()
    assert pinned > 0
    assert result["scan"].input_bytes == 64 << 20


def test_scans_from_several_threads_at_once_do_not_mix(corpus_dir):
    # Each call has its own file list, totals and streams.
    paths = sorted(p for p in corpus_dir.rglob("*") if p.is_file())
    expected = {p: quarn.scan(p, headerless=True, streams=True) for p in paths}
    with concurrent.futures.ThreadPoolExecutor(len(paths)) as pool:
        for _ in range(3):
            got = dict(zip(paths, pool.map(lambda p: quarn.scan(p, headerless=True, streams=True), paths)))
            assert got == expected


def test_ctrl_c_stops_a_running_scan(tmp_path):
    # Seconds of work that end in a missing file. Stopped from inside, the
    # scan raises KeyboardInterrupt alone; had it run to its end, the
    # interrupt would arrive while FileNotFoundError is on its way out, and
    # carry it as its context. The work is eight files of 1 GiB of holes,
    # which take no disk: eight files, since one file named many times is
    # scanned once.
    files = []
    for k in range(8):
        files.append(tmp_path / f"holes{k}.bin")
        with open(files[-1], "wb") as f:
            f.truncate(1 << 30)
    files.append(tmp_path / "gone")  # listed in a moment, scanned in many seconds
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt) as raised:
            quarn.scan(files)
    finally:
        timer.cancel()
    assert raised.value.__context__ is None


class _BytesPath(os.PathLike):
    """An os.PathLike that names its file in bytes."""

    def __init__(self, name: bytes):
        self.name = name

    def __fspath__(self) -> bytes:
        return self.name


@pytest.mark.parametrize(
    "bad",
    ["", "mix.bin\0other", b"mix.bin\0other", Path("mix.bin\0other"), _BytesPath(b"mix.bin\0other"), _BytesPath(b"")],
    ids=["empty", "str", "bytes", "Path", "bytes-PathLike", "empty-PathLike"],
)
def test_a_path_no_file_can_have_raises_path_error_before_anything_is_opened(tmp_path, monkeypatch, bad):
    # "mix.bin" exists: a name cut at its NUL byte must not scan it.
    monkeypatch.chdir(tmp_path)
    (tmp_path / "mix.bin").write_bytes(b"\x78\x9c" + bytes(100))
    calls = [lambda: quarn.scan([bad]), lambda: quarn.scan(["mix.bin", bad]), lambda: quarn.list_files(bad)]
    if not isinstance(bad, bytes):  # bytes given to inflate are data, not a path
        calls.append(lambda: quarn.inflate(bad, 2, "zlib"))
    for call in calls:
        with pytest.raises(quarn.PathError, match="NUL byte" if b"\0" in os.fsencode(bad) else "empty"):
            call()


@pytest.mark.parametrize("bad", [b"", b"mix.bin\0other"], ids=["empty", "NUL"])
def test_the_module_itself_refuses_a_path_no_file_can_have(tmp_path, monkeypatch, bad):
    # The Dask tasks call the module with bytes paths: it checks them too.
    monkeypatch.chdir(tmp_path)
    (tmp_path / "mix.bin").write_bytes(b"\x78\x9c" + bytes(100))
    calls = [
        lambda: _quarn.expand_paths([bad], False),
        lambda: _quarn.scan_files([b"mix.bin", bad], False, False, False),
        lambda: _quarn.scan_range(bad, 0, 10, False, False),
        lambda: _quarn.inflate_file(bad, 2, False, None),
    ]
    for call in calls:
        with pytest.raises(quarn.PathError, match="NUL byte" if bad else "empty"):
            call()


def test_a_missing_file_raises_file_not_found_as_open_and_quarn_scan_say_it(tmp_path, quarn_scan_program):
    # Python's own form, as open() raises it, in the words quarn-scan prints
    # for the same name; the engine's 'does not exists.' is the window's text.
    missing = tmp_path / "not-there.bin"
    with pytest.raises(FileNotFoundError) as opened:
        open(str(missing), "rb")
    for call in (lambda: quarn.scan([missing]), lambda: quarn.scan(str(missing)), lambda: quarn.inflate(missing, 2, "zlib")):
        with pytest.raises(FileNotFoundError) as raised:
            call()
        error = raised.value
        assert (error.errno, error.strerror, error.filename) == (errno.ENOENT, opened.value.strerror, str(missing))
        assert str(error) == str(opened.value)
    cli = run_quarn_scan(quarn_scan_program, [missing], {})
    assert cli.returncode == 1 and cli.stderr == f"quarn-scan: {missing}: {opened.value.strerror}\n"


def test_failed_files_raise_the_same_error_every_run_naming_each_in_file_order(tmp_path):
    # Every file is scanned whichever fail: the same error every run, naming
    # every failed file in file order, whatever the workers' timing. One
    # failure keeps its own type; several make one ScanError.
    a, b, good = tmp_path / "a", tmp_path / "b", tmp_path / "good"
    good.write_bytes(bytes(1000))
    zero = Path("/dev/zero")  # a device: no regular file
    cases = [
        ([a], FileNotFoundError),
        ([zero], quarn.QuarnError),
        ([good, a, good], FileNotFoundError),
        ([a, b], [FileNotFoundError, FileNotFoundError]),
        ([a, zero], [FileNotFoundError, quarn.QuarnError]),
        ([zero, good, a, good, b], [quarn.QuarnError, FileNotFoundError, FileNotFoundError]),
    ]
    for _ in range(20):
        for listed, expected in cases:
            failed = [p for p in listed if p != good]
            if isinstance(expected, list):
                with pytest.raises(quarn.ScanError) as raised:
                    quarn.scan(listed)
                assert [type(e) for e in raised.value.exceptions] == expected
                assert [str(name) in str(e) for name, e in zip(failed, raised.value.exceptions)] == [True] * len(failed)
                # The message is the engine's combined text of the members.
                assert _quarn.combined_error(list(raised.value.exceptions)).message == raised.value.message
            else:
                with pytest.raises(expected) as raised:
                    quarn.scan(listed)
                assert type(raised.value) is expected and str(failed[0]) in str(raised.value)


def test_a_file_reached_by_several_names_is_scanned_once(tmp_path):
    # A hard link, a symbolic link and a name given twice lead to one file:
    # list_files keeps its first name (in the folder's own order) and leaves
    # the others out, so that its stream and bytes are counted once. A copy
    # is another file with the same bytes, and stays.
    data = bytes(50) + zlib.compress(b"several names, one file " * 800) + bytes(50)
    folder = tmp_path / "d"
    folder.mkdir()
    one = folder / "one.bin"
    one.write_bytes(data)
    os.link(one, folder / "hard")
    os.symlink(one, folder / "link")
    names = [os.fsencode(folder / entry.name) for entry in os.scandir(folder)]

    assert quarn.list_files(folder) == names[:1]
    assert quarn.list_files([one, one, folder / "hard"]) == [os.fsencode(one)]
    result = quarn.scan([folder, one])
    assert (result.files_scanned, result.header_streams, result.input_bytes) == (1, 1, len(data))

    (folder / "copy.bin").write_bytes(data)
    assert quarn.scan(folder).files_scanned == 2


def test_the_combined_error_of_several_failures():
    # A missing file in Python's form is named in the engine's words again.
    members = [
        FileNotFoundError('File "a" does not exists.'),
        FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT), "b"),
        quarn.PathError("Invalid characters in path"),
    ]
    error = _quarn.combined_error(members)
    assert isinstance(error, quarn.ScanError) and isinstance(error, ExceptionGroup)
    assert isinstance(error, quarn.QuarnError)
    assert error.message == (
        "One or more errors occurred\n3 exception(s):\n"
        '#0 Exception: File "a" does not exists.\n#1 Exception: File "b" does not exists.\n'
        "#2 EPathError: Invalid characters in path"
    )
    assert [type(e) for e in error.exceptions] == [FileNotFoundError, FileNotFoundError, quarn.PathError]


def test_the_stubs_name_every_call_of_the_module():
    stubs = ast.parse((Path(quarn.__file__).parent / "_quarn.pyi").read_text())
    stubbed = {n.name for n in stubs.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    public = {name for name in dir(_quarn) if not name.startswith("_")}
    assert stubbed == public
    for name in public:
        assert getattr(_quarn, name).__doc__, name
