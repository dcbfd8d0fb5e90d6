"""Quarn: find zlib and raw deflate streams inside arbitrary files.

Every byte position of every file is tried as the start of a zlib stream
(a two-byte RFC 1950 header followed by RFC 1951 deflate data) and, with
``headerless=True``, as the start of raw deflate data; each candidate is
confirmed by inflating it with zlib. This is the engine of the Quarn window
and of ``quarn-scan``, with the same results.

    >>> import quarn
    >>> result = quarn.scan(["firmware.bin"], streams=True)
    >>> print("\\n".join(result.report_lines()))
    >>> first = result.streams_found[0]
    >>> data = quarn.inflate(first.file, first.offset, first.kind)

``quarn.distributed.scan`` runs the same scan on a Dask cluster, and
``python3 -m quarn.map FILE -o map.png`` draws where a file's streams lie.
"""

from __future__ import annotations

import os
from typing import Iterable, Optional, Union

from . import _quarn
from ._quarn import FileChangedError, PathError, QuarnError, ScanError
from ._result import ScanResult, Stream, decode_path, streams_of_files

__all__ = [
    "scan",
    "scan_buffer",
    "inflate",
    "replace_stream",
    "ScanResult",
    "Stream",
    "QuarnError",
    "PathError",
    "FileChangedError",
    "ScanError",
]

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
KINDS = ("zlib", "raw")


def _file_name(path: PathLike) -> bytes:
    """``path`` as the bytes the engine opens; PathError for a name that
    no file can have (empty, or with a NUL byte, which would end the name
    early and name another file), before anything is opened."""
    name = os.fsencode(path)
    if not name:
        raise PathError("A path is empty")
    if b"\0" in name:
        raise PathError(f"The path {os.fsdecode(name)!r} holds a NUL byte, which no file name can")
    return name


def _path_list(paths: Union[PathLike, Iterable[PathLike]]) -> list:
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    return [_file_name(p) for p in paths]


def list_files(paths: Union[PathLike, Iterable[PathLike]], recursive: bool = False) -> list:
    """The files a scan of ``paths`` covers, as bytes paths, in scan order.

    A folder gives its files (with ``recursive``, its subfolders' too); any
    other name stands for itself, and a missing one fails when it is scanned.
    Each file is listed once, under the first name that reaches it: later
    names of the same file (a symbolic link, a hard link, a path given
    twice or spelled another way) are left out without a word. Raises
    PathError for a path that no file can have (empty, or with a NUL
    byte) and for a folder that cannot be listed.
    """
    return _quarn.expand_paths(_path_list(paths), recursive)


def scan(
    paths: Union[PathLike, Iterable[PathLike]],
    headerless: bool = False,
    accept_incomplete: bool = False,
    recursive: bool = False,
    streams: bool = False,
    verified: bool = False,
    types: bool = False,
    yara: Optional[PathLike] = None,
    fingerprint: bool = False,
    depth: int = 1,
    max_inflate: int = 1 << 30,
) -> ScanResult:
    """Scan files and folders for zlib and raw deflate streams.

    ``paths`` is one path or a list of paths (str, bytes or os.PathLike); a
    folder stands for its files, and with ``recursive`` for those of its
    subfolders too. A file reached by several names (links, hard links, a
    path given twice) is scanned and counted once, as ``list_files`` lists
    it; the other names are left out silently. ``headerless`` also looks for raw deflate data without a
    zlib header; ``accept_incomplete`` also counts streams cut short by the
    end of a file or by bad data; ``streams`` keeps the found streams
    (``result.streams_found``), each with the container it sits in.
    ``verified`` also counts the streams that the rule turns down but that
    their checksum proves: every zlib stream whose Adler-32 trailer matches
    (small ones, those with a fixed first block, those in a file's last 63
    bytes too) and every gzip member and deflated zip entry whose CRC-32 and
    sizes match their record, with or without ``headerless``. They are
    counted apart (``result.proven_zlib`` ...), so that the other counters
    stay what they are without it; found streams say what proved them
    (``Stream.proven_by``, ``Stream.beyond_rule``). ``types``, with
    ``streams``, gives each found stream its content type (``Stream.content``,
    ``Stream.mime``), as ``quarn-scan --types`` does; it costs a libmagic
    lookup per stream (up to a few milliseconds for text). ``yara``, with
    ``streams``, names a YARA rules file or a folder of them (``*.yar``,
    ``*.yara``), compiled once and matched against every stream's inflated
    bytes in the engine's threads, as ``quarn-scan --yara`` does: each found
    stream lists the rules that matched it (``Stream.yara``). A rule that
    does not compile raises QuarnError naming its file and line.
    ``fingerprint`` (with ``streams``) gives each found stream the encoder
    and settings that reproduce it byte for byte (``Stream.fingerprint``, as
    quarn-scan --fingerprint finds them), at the cost of compressing every
    stream again. ``depth`` above 1 (with ``streams``) scans each stream's
    inflated bytes for streams too, theirs in turn, down to that depth, as
    quarn-scan --depth does, with the same options: each found stream holds
    those found inside it (``Stream.nested``, with their ``chain``), and
    ``Stream.stopped_by`` names a limit that stopped there. At most
    ``max_inflate`` bytes are inflated under each stream of a file. The
    counts stay those of the files' own streams.

    The files are scanned in parallel on the engine's own threads, with the
    GIL released; Ctrl-C stops the scan and raises KeyboardInterrupt. Returns a ScanResult with the fields of ``quarn-scan
    --json``; ``result.report_lines()`` gives the report the window shows.

    Every file is scanned, whichever fail. When one file fails, its own
    error is raised: FileNotFoundError for a file that is not there, as
    open() raises it (errno ENOENT, "No such file or directory", the name);
    QuarnError for a file that cannot be read, FileChangedError (a
    QuarnError) for one that changed while it was scanned, each with the
    engine's text. When several fail, ScanError, an ExceptionGroup of
    their errors in the order of the files. A path that no file can have
    (empty, or with a NUL byte) raises PathError before anything is
    opened.
    """
    files = list_files(paths, recursive)
    rules = None if yara is None else _file_name(yara)
    counts, found = _quarn.scan_files(
        files, headerless, accept_incomplete, streams, verified, types, rules, fingerprint, depth, max_inflate
    )
    return ScanResult.from_engine(
        counts,
        None if found is None else streams_of_files(files, found, rules is not None),
        headerless,
        accept_incomplete,
        verified,
    )


def scan_buffer(
    data,
    headerless: bool = False,
    accept_incomplete: bool = False,
    streams: bool = False,
    verified: bool = False,
    types: bool = False,
    yara: Optional[PathLike] = None,
    fingerprint: bool = False,
    depth: int = 1,
    max_inflate: int = 1 << 30,
) -> ScanResult:
    """Scan the bytes of any object with the buffer protocol, in place.

    ``data`` may be bytes, bytearray, memoryview, mmap.mmap, a C-contiguous
    numpy array or anything else that exports a contiguous buffer; it is
    not copied, and it stays pinned (a bytearray cannot be resized, an mmap
    not closed) while the scan runs with the GIL released. The result is
    that of a scan of one file with this content; found streams have
    ``file`` None. Options as for ``scan``.
    """
    rules = None if yara is None else _file_name(yara)
    counts, found = _quarn.scan_buffer(
        data, headerless, accept_incomplete, streams, verified, types, rules, fingerprint, depth, max_inflate
    )
    return ScanResult.from_engine(
        counts,
        None if found is None else [Stream.from_engine(None, t[1:], rules is not None) for t in found],
        headerless,
        accept_incomplete,
        verified,
    )


def inflate(
    path_or_buffer,
    offset: int,
    kind: str,
    max_bytes: Optional[int] = None,
) -> bytes:
    """The inflated bytes of the stream that starts at ``offset``.

    ``path_or_buffer`` is a file's path (str or os.PathLike) or an object
    with the buffer protocol (bytes are data here, not a path); ``offset``
    and ``kind`` ("zlib" or "raw") are those of a found stream, also of
    one that only its checksum proves (``Stream.offset``, where its zlib
    header or raw deflate data starts, and ``Stream.kind``). Returns exactly the bytes
    that ``quarn-scan --extract`` writes for that stream: all that the scan's
    trial inflated, also for a stream cut short. ``max_bytes`` keeps only
    the first bytes, and bounds the memory taken.

    Raises ValueError when no stream of that kind starts there, PathError
    for a path that no file can have (empty, or with a NUL byte), and the
    scan's errors (FileNotFoundError, QuarnError) for the file.
    """
    if kind not in KINDS:
        raise ValueError(f'kind is "zlib" or "raw", not {kind!r}')
    if max_bytes is not None and max_bytes < 0:
        raise ValueError("max_bytes must not be negative")
    if isinstance(path_or_buffer, (str, os.PathLike)):
        return _quarn.inflate_file(_file_name(path_or_buffer), offset, kind == "raw", max_bytes)
    return _quarn.inflate_buffer(path_or_buffer, offset, kind == "raw", max_bytes)


def replace_stream(source: PathLike, offset: int, data, out: PathLike) -> dict:
    """Write a copy of ``source`` to ``out`` in which the stream that starts at
    ``offset`` (as ``Stream.offset`` gives it) holds ``data`` (anything with
    the buffer protocol), as ``quarn-scan --replace OFFSET=FILE SOURCE -o
    OUT`` does.

    The data is compressed by the stream's own encoder and settings when its
    fingerprint finds them and the result fits the stream's place, else by
    the first of the known encoders, strongest first, whose result fits; a
    zlib stream keeps its header and gets the new Adler-32, and the bytes of
    the old place past the new end stay as they were. ``out`` appears only
    whole, after the new stream was inflated back to ``data``, and is read
    back afterwards; ``source`` is never written, nor an existing ``out``.

    Returns a dict: "kind" ("zlib" or "raw"), "encoder", "label" (such as
    "zlib-9"), "own_settings", "place_bytes", "new_bytes", "container" (a
    dict, or None) and "container_note" (which of the container's records,
    such as a zip entry's or PNG chunk's sizes and checksums, now need
    updating; empty when none). Raises QuarnError, writing nothing, when no
    complete stream starts at ``offset``, when nothing makes ``data`` small
    enough (the message says by how much and which encoder came closest),
    and when ``out`` exists or cannot be written.
    """
    return _quarn.replace_stream(_file_name(source), offset, data, _file_name(out))
