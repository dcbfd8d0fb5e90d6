"""quarn.distributed.scan on a LocalCluster of two worker processes: the
result equals quarn.scan's and quarn-scan's on the corpus and on a large
file whose chunk borders fall inside streams, on stream starts, and where a
chunk's own scan must be joined to the true one by a rescan task."""

from __future__ import annotations

import pytest
from dask.distributed import Client, LocalCluster

import quarn
import quarn.distributed
from conftest import CHUNK_BYTES, OPTION_SETS, option_id
from distributed_checks import check_equal_to_one_machine


@pytest.fixture(autouse=True)
def small_chunks(monkeypatch):
    # The stitch is tested with chunks far below the floor a user gets.
    monkeypatch.setattr(quarn.distributed, "_min_chunk_bytes", 1)


@pytest.fixture(scope="module")
def client():
    with LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0", host="127.0.0.1"
    ) as cluster, Client(cluster) as c:
        c.wait_for_workers(2, timeout=60)
        yield c


@pytest.mark.parametrize("options", OPTION_SETS, ids=option_id)
def test_cluster_scan_equals_one_machine(client, corpus_dir, large_file, quarn_scan_program, options):
    stats = check_equal_to_one_machine(client, corpus_dir, large_file, quarn_scan_program, options)
    # The nested stream puts a chunk's own path inside a stream that the
    # whole-file scan never accepts: the stitch must rescan there.
    assert stats["rescans"] >= 1


def test_borders_fall_where_the_corpus_says(large_file, large_marks):
    found = {s.deflate_offset for s in quarn.scan(large_file, streams=True).streams_found}
    assert large_marks["deflate_on_border"] % CHUNK_BYTES == 0
    assert (large_marks["header_on_border"] - 2) % CHUNK_BYTES == 0
    assert {large_marks[k] for k in ("deflate_on_border", "header_on_border", "across_borders", "nested_outer")} <= found
    assert large_marks["nested_inner"] not in found


@pytest.mark.parametrize("chunk_bytes", [4096, 1 << 30])
def test_any_chunk_size_gives_the_same_result(client, large_file, chunk_bytes):
    assert quarn.distributed.scan(client, large_file, chunk_bytes=chunk_bytes, streams=True) == quarn.scan(
        large_file, streams=True
    )


@pytest.mark.parametrize("chunk_bytes", [4096, CHUNK_BYTES])
def test_streams_proven_in_the_last_bytes_and_in_containers_are_those_of_one_machine(
    client, large_file, large_marks, chunk_bytes
):
    # The file's last stream runs from an earlier chunk over the last
    # chunk's border into the last 63 bytes, where a tiny stream follows:
    # the last chunk's own path leaves off elsewhere than the true one.
    expected = quarn.scan(large_file, streams=True, verified=True)
    stats: dict = {}
    got = quarn.distributed.scan(client, large_file, chunk_bytes=chunk_bytes, streams=True, verified=True, stats=stats)
    assert got == expected
    assert got.report_lines() == expected.report_lines()
    found = {s.deflate_offset: s for s in got.streams_found}
    limit = quarn._quarn.position_limit(large_file.stat().st_size)
    into_tail = found[large_marks["into_tail"]]
    assert into_tail.deflate_offset < limit - chunk_bytes < limit < into_tail.deflate_offset + into_tail.compressed_bytes
    assert (found[large_marks["in_tail"]].proven_by, found[large_marks["in_tail"]].beyond_rule) == ("adler32", True)
    assert {s.container["kind"] for s in got.streams_found if s.container} == {"zip", "gzip"}


def test_chunks_of_a_few_positions_give_the_same_result(client, large_file, tmp_path):
    # Around the nested streams: nearly every border falls inside a stream.
    part = tmp_path / "nested.part"
    part.write_bytes(large_file.read_bytes()[16 * CHUNK_BYTES - 100: 16 * CHUNK_BYTES + 6000])
    stats: dict = {}
    got = quarn.distributed.scan(client, part, chunk_bytes=97, streams=True, stats=stats)
    assert got == quarn.scan(part, streams=True)
    assert stats["chunks"] > 50


def test_progress_is_dasks_own_bar(client, corpus_dir, capsys):
    got = quarn.distributed.scan(client, corpus_dir, chunk_bytes=CHUNK_BYTES, recursive=True, progress=True)
    assert got == quarn.scan(corpus_dir, recursive=True)
    assert "100% Completed" in capsys.readouterr().out


def _raised(call) -> BaseException:
    with pytest.raises(Exception) as raised:
        call()
    return raised.value


def _shape(error: BaseException):
    members = getattr(error, "exceptions", ())
    return type(error), str(error), [(type(e), str(e)) for e in members]


def test_failed_files_raise_what_quarn_scan_raises(client, corpus_dir, tmp_path):
    # The same error as quarn.scan's, member by member in file order, every run.
    good, missing, also_missing = corpus_dir / "levels.bin", tmp_path / "gone.bin", tmp_path / "also-gone.bin"
    zero = "/dev/zero"  # a device: no regular file
    cases = [
        ([good, missing], FileNotFoundError),
        ([zero, good], quarn.QuarnError),
        ([missing, good, also_missing], quarn.ScanError),
        ([missing, zero], quarn.ScanError),
        ([zero, missing, good, also_missing], quarn.ScanError),
    ]
    for _ in range(3):
        for listed, kind in cases:
            local = _raised(lambda: quarn.scan(listed))
            distributed = _raised(lambda: quarn.distributed.scan(client, listed))
            assert type(local) is kind
            assert _shape(distributed) == _shape(local)
    several = _raised(lambda: quarn.distributed.scan(client, [missing, good, also_missing]))
    assert several.message.startswith("One or more errors occurred\n2 exception(s):\n#0 Exception: File ")
    assert [e.filename for e in several.exceptions] == [str(missing), str(also_missing)]


def test_chunks_under_the_floor_are_refused(client, corpus_dir, monkeypatch):
    # A user gets the floor: a task per chunk of a few bytes took minutes.
    monkeypatch.setattr(quarn.distributed, "_min_chunk_bytes", quarn.distributed.MIN_CHUNK_BYTES)
    for chunk_bytes in (-1, 0, 1, 97, CHUNK_BYTES, (1 << 20) - 1):
        with pytest.raises(ValueError, match=f"chunk_bytes must be at least 1048576 .MIN_CHUNK_BYTES., not {chunk_bytes}$"):
            quarn.distributed.scan(client, corpus_dir, chunk_bytes=chunk_bytes)
    at_floor = quarn.distributed.scan(client, corpus_dir, chunk_bytes=1 << 20, recursive=True)
    assert at_floor == quarn.scan(corpus_dir, recursive=True)


@pytest.mark.parametrize("bad", ["", "a\0b", b"a\0b"], ids=["empty", "str", "bytes"])
def test_paths_no_file_can_have_are_refused_before_any_task(client, corpus_dir, bad):
    with pytest.raises(quarn.PathError):
        quarn.distributed.scan(client, [corpus_dir, bad])


def test_a_file_that_changed_between_listing_and_chunks_raises_file_changed(client, large_file, monkeypatch):
    # The chunks are planned on the size the file had when it was listed;
    # the workers map it as it is now.
    real_size = quarn.distributed._file_size
    monkeypatch.setattr(quarn.distributed, "_file_size", lambda path: real_size(path) + 1)
    with pytest.raises(quarn.FileChangedError) as raised:
        quarn.distributed.scan(client, large_file, chunk_bytes=4096)
    assert isinstance(raised.value, quarn.QuarnError)
    assert str(raised.value) == f'File "{large_file}" changed while it was being scanned.'
