"""Quarn on a Dask cluster: one scan spread over many machines, with exactly
the result of ``quarn.scan`` on one.

How a scan is cut into tasks:

* The paths are listed once, on the client, as ``quarn.scan`` lists them.
* Small files are batched: one task scans a batch of files, up to
  ``chunk_bytes`` bytes (or 64 files) a batch, in one engine scan.
* A file of at least two chunks is cut into ranges of ``chunk_bytes``
  positions, each scanned by its own task as the engine scans one chunk of
  a large file on one machine: from the range's first position, with
  trials that may read past its end.
* When a file's chunks are done, the client stitches them with the
  engine's own stitcher. Where a stream of one chunk runs into the next one
  and the next one's own scan accepted a stream around that point, the two
  scan paths must be joined: that rescan runs as a task too. A scan with
  ``verified`` also proves streams in a file's last 63 bytes, from where
  the whole file's path leaves off; when that is not where the last
  chunk's own path did, a rescan task tries them again.
* With ``streams``, the container of each stream of a cut file is read by
  one more task per file, over the stitched streams in order, as the
  file's own scan reads them: what a stream sits in can depend on the
  streams before it (a gzip member's number in its run, a PNG's chunks).

Tasks are pure functions of a path and a byte range; their results are
totals and found streams, a few words each. The files themselves stay where
they are: every worker must see them under the same path (a shared or
cluster file system, NFS, or a bind mount). Progress and the dashboard are
Dask's own; a lost worker's tasks are rerun by Dask, and since a task's
result depends only on the file, the result stays exact.
"""

from __future__ import annotations

import functools
import os
import stat
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple, Union

from . import PathLike, QuarnError, _quarn, list_files
from ._result import ZERO_COUNTS, Counts, ScanResult, Stream, decode_path

MiB = 1 << 20
DEFAULT_CHUNK_BYTES = 256 * MiB
# The smallest chunk_bytes taken: every chunk is a task, and a task costs
# milliseconds of the cluster's time whatever it scans, more than the scan
# of a MiB takes; a chunk of a few bytes made a 20 KB file take a minute.
# The engine's stitch itself takes chunks of any size.
MIN_CHUNK_BYTES = MiB
_min_chunk_bytes = MIN_CHUNK_BYTES  # the stitch's tests lower it to cut their small files into many chunks
MAX_FILES_PER_BATCH = 64
# Rescans sit on the client's path to the result: they go before waiting chunks.
RESCAN_PRIORITY = 10

# ---------------------------------------------------------------------------
# Tasks. They run on the workers; a file's own error (missing, unreadable,
# changed) comes back as a value, so that Dask does not retry what cannot
# succeed and the client can report every failed file as the engine does.


def quarn_scan_files(
    files: Sequence[bytes], headerless: bool, accept_incomplete: bool, streams: bool, verified: bool = False
) -> tuple:
    """Scans a batch of files in one engine scan: (True, counts, streams
    with the batch's file indices). When a file fails, each file is scanned
    on its own to tell which: (False, [(True, counts, streams) or (False,
    error, None) per file])."""
    try:
        counts, found = _quarn.scan_files(list(files), headerless, accept_incomplete, streams, verified)
        return (True, counts, found)
    except (OSError, QuarnError):
        pass
    outcomes: list = []
    for path in files:
        try:
            counts, found = _quarn.scan_files([path], headerless, accept_incomplete, streams, verified)
            outcomes.append((True, counts, found))
        except (OSError, QuarnError) as error:
            outcomes.append((False, error, None))
    return (False, outcomes)


def quarn_scan_chunk(
    path: bytes, start: int, end: int, headerless: bool, accept_incomplete: bool, verified: bool = False
) -> tuple:
    """Scans positions [start, end) of a file: (True, (size, end position, streams)) or (False, error)."""
    try:
        return (True, _quarn.scan_range(path, start, end, headerless, accept_incomplete, verified))
    except (OSError, QuarnError) as error:
        return (False, error)


def quarn_rescan(
    path: bytes, start: int, end: int, headerless: bool, accept_incomplete: bool, verified: bool = False
) -> tuple:
    """Scans [start, end) where a chunk's path and the true one must be joined."""
    return quarn_scan_chunk(path, start, end, headerless, accept_incomplete, verified)


def quarn_place_streams(path: bytes, streams: list) -> tuple:
    """The stitched streams of a whole file with their containers: (True, (size, streams)) or (False, error)."""
    try:
        return (True, _quarn.place_streams(path, streams))
    except (OSError, QuarnError) as error:
        return (False, error)


# ---------------------------------------------------------------------------
# The client's side.


class _FileFailed(Exception):
    """A file's error, carried out of the stitcher's rescan."""

    def __init__(self, error: BaseException):
        super().__init__(error)
        self.error = error


def _file_size(path: bytes) -> int:
    """The size the engine sees for `path` before opening it; 0 unless a regular file."""
    try:
        status = os.stat(path)
    except OSError:
        return 0
    return status.st_size if stat.S_ISREG(status.st_mode) else 0


def _changed(path: bytes) -> QuarnError:
    return _quarn.changed_error(path)


def _plan(files: Sequence[bytes], sizes: Sequence[int], chunk_bytes: int, batch_bytes: int):
    """Batches of small files (lists of indices) and the indices of files to cut into chunks."""
    batches: List[List[int]] = []
    large: List[int] = []
    batch: List[int] = []
    batch_size = 0
    for index, size in enumerate(sizes):
        if _quarn.position_limit(size) >= 2 * chunk_bytes:
            large.append(index)
            continue
        if batch and (batch_size + size > batch_bytes or len(batch) >= MAX_FILES_PER_BATCH):
            batches.append(batch)
            batch, batch_size = [], 0
        batch.append(index)
        batch_size += size
    if batch:
        batches.append(batch)
    return batches, large


def scan(
    client,
    paths: Union[PathLike, Iterable[PathLike]],
    chunk_bytes: int = DEFAULT_CHUNK_BYTES,
    headerless: bool = False,
    accept_incomplete: bool = False,
    recursive: bool = False,
    streams: bool = False,
    verified: bool = False,
    *,
    batch_bytes: Optional[int] = None,
    retries: int = 1,
    progress: bool = False,
    stats: Optional[Dict[str, int]] = None,
) -> ScanResult:
    """Scan files and folders on the workers of a Dask cluster.

    ``client`` is a ``dask.distributed.Client`` (synchronous). ``paths`` and
    the options are those of ``quarn.scan``, whose result this returns
    exactly: the same counters, report lines and streams (with their
    proofs and containers).

    Every worker must see the files under the same paths as the client (a
    shared file system): tasks name files, never carry their bytes.

    ``chunk_bytes`` is the size of the pieces that large files are cut into
    (files of at least two pieces are cut), at least MIN_CHUNK_BYTES
    (1 MiB), else ValueError: every piece is a task, and smaller pieces
    cost far more in tasks than they save. ``batch_bytes`` (default
    ``chunk_bytes``) bounds the bytes of the small files one task scans.
    ``retries`` is passed to Dask for tasks that fail unexpectedly (a lost
    worker's tasks are rerun by Dask in any case). ``progress`` shows
    Dask's progress bar of the scan's tasks. ``stats``, a dict, receives
    counts of what was run: files, batches, large_files, chunks, rescans.

    Raises the errors ``quarn.scan`` raises, the same every run: every file
    is scanned whichever fail; one failed file raises its own error, several
    one ScanError holding each in the order of the files. A path that no
    file can have (empty, or with a NUL byte) raises PathError before any
    task is sent.
    """
    if chunk_bytes < _min_chunk_bytes:
        raise ValueError(f"chunk_bytes must be at least {_min_chunk_bytes} (MIN_CHUNK_BYTES), not {chunk_bytes}")
    if batch_bytes is None:
        batch_bytes = chunk_bytes
    files = list_files(paths, recursive)
    sizes = [_file_size(f) for f in files]
    batches, large = _plan(files, sizes, chunk_bytes, batch_bytes)

    submit = functools.partial(client.submit, pure=False, retries=retries)
    batch_futures = [
        submit(quarn_scan_files, [files[i] for i in batch], headerless, accept_incomplete, streams, verified)
        for batch in batches
    ]
    chunked: Dict[int, Tuple[List[int], int, list]] = {}
    for index in large:
        limit = _quarn.position_limit(sizes[index])
        starts = list(range(0, limit, chunk_bytes))
        ends = starts[1:] + [limit]
        chunked[index] = (
            starts,
            limit,
            [
                submit(quarn_scan_chunk, files[index], s, e, headerless, accept_incomplete, verified)
                for s, e in zip(starts, ends)
            ],
        )
    every_future = batch_futures + [f for _, _, futures in chunked.values() for f in futures]

    # Per file: (counts, stream tuples) once scanned, or the file's error.
    outcomes: List[Any] = [None] * len(files)
    rescans = 0
    try:
        if progress:
            from distributed import progress as dask_progress

            dask_progress(every_future)
        for batch, batch_outcome in zip(batches, client.gather(batch_futures)):
            if batch_outcome[0]:
                _, counts, found = batch_outcome
                by_file: Dict[int, list] = {position: [] for position in range(len(batch))}
                for t in found or ():
                    by_file[t[0]].append(t[1:])
                for position, index in enumerate(batch):
                    # The batch's totals go with its first file; they only ever get added up.
                    file_counts = counts if position == 0 else ZERO_COUNTS
                    outcomes[index] = (file_counts, None if found is None else by_file[position])
            else:
                for index, (ok, value, found) in zip(batch, batch_outcome[1]):
                    outcomes[index] = (value, None if found is None else [t[1:] for t in found]) if ok else value
        for index in large:
            starts, limit, futures = chunked[index]
            outcome, file_rescans = _stitch_file(
                submit,
                files[index],
                sizes[index],
                starts,
                limit,
                client.gather(futures),
                headerless,
                accept_incomplete,
                verified,
            )
            outcomes[index] = outcome
            rescans += file_rescans
        if streams:
            placed = [index for index in large if not isinstance(outcomes[index], BaseException)]
            place_futures = [
                submit(quarn_place_streams, files[index], outcomes[index][1], priority=RESCAN_PRIORITY)
                for index in placed
            ]
            every_future += place_futures
            for index, (ok, value) in zip(placed, client.gather(place_futures)):
                if not ok:
                    outcomes[index] = value
                elif value[0] != sizes[index]:
                    outcomes[index] = _changed(files[index])
                else:
                    outcomes[index] = (outcomes[index][0], value[1])
    finally:
        client.cancel(every_future)

    if stats is not None:
        stats.update(
            files=len(files),
            batches=len(batches),
            large_files=len(large),
            chunks=sum(len(futures) for _, _, futures in chunked.values()),
            rescans=rescans,
        )

    errors = [o for o in outcomes if isinstance(o, BaseException)]
    if len(errors) == 1:
        raise errors[0]
    if errors:
        raise _quarn.combined_error(errors)

    counts: Counts = ZERO_COUNTS
    found_streams: Optional[List[Stream]] = [] if streams else None
    for path, (file_counts, found) in zip(files, outcomes):
        counts = _quarn.add_counts(counts, file_counts)
        if found_streams is not None:
            name = decode_path(path)
            found_streams.extend(Stream.from_engine(name, t) for t in found)
    return ScanResult.from_engine(counts, found_streams, headerless, accept_incomplete, verified)


def _stitch_file(
    submit,
    path: bytes,
    size: int,
    starts: List[int],
    limit: int,
    chunk_outcomes: Sequence[tuple],
    headerless: bool,
    accept_incomplete: bool,
    verified: bool,
):
    """One large file's streams from its chunks, stitched by the engine:
    ((counts, stream tuples) or the file's error, rescans)."""
    chunks = []
    for ok, value in chunk_outcomes:
        if not ok:
            return value, 0
        mapped_size, end, found = value
        if mapped_size != size:
            return _changed(path), 0
        chunks.append((end, found))

    def rescan(start: int, end: int) -> tuple:
        ok, value = submit(
            quarn_rescan, path, start, end, headerless, accept_incomplete, verified, priority=RESCAN_PRIORITY
        ).result()
        if not ok:
            raise _FileFailed(value)
        mapped_size, position, found = value
        if mapped_size != size:
            raise _FileFailed(_changed(path))
        return position, found

    try:
        found, rescans = _quarn.stitch(starts, chunks, limit, rescan)
    except _FileFailed as failed:
        return failed.error, 0
    return (_quarn.count_streams(found, size), found), rescans
