"""The result of a scan: its totals, its report lines and its streams.

A ScanResult holds exactly what ``quarn-scan --json`` prints (with
``--list``, the streams too) and compares equal to another result of the
same files and options, whichever way it was made: by ``quarn.scan`` on one
machine or by ``quarn.distributed.scan`` on many.
"""

from __future__ import annotations

import dataclasses
import os
from typing import Any, Dict, Iterator, List, Optional, Sequence, Tuple

from . import _quarn

# The engine's counts of a scan as they travel between the module and the
# package: a dict under the names of quarn-scan's JSON totals, with
# "window_bits" and "flevel" keyed by int, and the streams proven beyond
# the scan's rule ("proven_zlib", "proven_gzip", "proven_zip",
# "proven_output_bytes"). The engine adds them up (_quarn.add_counts); the
# package only carries them.
Counts = Dict[str, Any]
ZERO_COUNTS: Counts = _quarn.count_streams([])


@dataclasses.dataclass(frozen=True)
class Stream:
    """One stream a scan found.

    ``file`` is the path of the file (None for a scanned buffer), ``offset``
    where the stream starts (the first byte of its zlib header, or of raw
    deflate data: where ``zlib.decompress`` and other tools start),
    ``deflate_offset`` the position of its first deflate byte (``offset`` + 2
    for zlib streams), ``kind`` "zlib" or "raw", ``window_bits`` and
    ``flevel`` the header's window size (2**window_bits bytes) and
    compression-level hint (None for raw streams), ``compressed_bytes`` the
    deflate bytes the stream occupies (header and trailer not counted),
    ``inflated_bytes`` what it inflates to, and ``complete`` whether it ran to
    its end (False only for streams accepted with accept_incomplete).

    ``proven_by`` is "adler32" or "crc32" when a scan with ``verified``
    checked the stream's checksum (its zlib trailer's Adler-32, or the CRC-32
    and sizes of the zip entry or gzip member holding it), else None;
    ``beyond_rule`` is True for a stream that the scan's rule turns down
    (too small, its first block fixed, or in a file's last 63 bytes) and
    that counts only because its checksum proves it: such streams are in
    ``proven_*`` of the result, not in its other counters.

    ``container`` is what the bytes around the stream show it sits in, a
    dict, or None where nothing is recognised. "kind" is "zip", "gzip",
    "png", "pdf", "git-object" or "git-pack"; the other keys are there only
    where the kind has them, as in quarn-scan's JSON: "offset" (where the
    container's own record of the stream starts), "member" (gzip: the
    member's index in its run), "index" (PNG: the chunk's), "name" (zip: the
    entry's name; gzip: FNAME), "mtime" (gzip), "chunk" (PNG: the chunk
    type), "type" (git: the object type), "object", "generation" and
    "filter" (PDF), "size" (git: the object's size). Names and other text
    read from the file are str decoded as file names are (``os.fsdecode``:
    bytes that are not UTF-8 come back exactly with ``os.fsencode``).

    ``content`` and ``mime`` say what the inflated bytes are, as libmagic
    (file(1)) tells it from their first 64 KiB: a description and a MIME
    type, when the scan was asked for them (``types=True``); else None, as
    where libmagic has no answer or the build has no libmagic (Windows).

    ``yara`` lists the rules that matched the inflated bytes, when the scan
    was given rules (``yara="rules.yar"``): each a dict with "rule", "tags"
    and "strings" (each {"id", "offset", "length"}, the offset within the
    inflated bytes; at most 1,000 a rule, "strings_left_out" counting the
    rest), as quarn-scan --json gives it; an empty list where none matched,
    None without rules.

    ``nested`` holds the streams found in the inflated bytes, in order, when
    the scan was asked to look inside streams (``depth`` above 1): each a
    Stream of the same file whose ``offset`` and ``deflate_offset`` lie
    within the inflated bytes of the stream above it, and whose ``chain``
    is the starts from the file's stream down to its own, as quarn-scan
    names it (``firmware.bin@0x1a2b:0x40``). None where none were found.
    ``stopped_by`` names the limit of that scan that stopped at the stream
    ("max-inflate", "expansion", "max-nested"): it was not looked inside,
    and for a nested stream its sizes are as far as its trial got.
    ``nested_streams()`` walks every stream nested in this one.
    """

    file: Optional[str]
    offset: int
    deflate_offset: int
    kind: str
    window_bits: Optional[int]
    flevel: Optional[int]
    compressed_bytes: int
    inflated_bytes: int
    complete: bool
    proven_by: Optional[str] = None
    beyond_rule: bool = False
    # Compared, but left out of the hash: a dict has none.
    container: Optional[Dict[str, Any]] = dataclasses.field(default=None, hash=False)
    content: Optional[str] = None
    mime: Optional[str] = None
    yara: Optional[List[Dict[str, Any]]] = dataclasses.field(default=None, hash=False)
    # With fingerprint=True: the encoder and settings that reproduce the
    # stream, under the keys of quarn-scan's JSON ("encoder", "level",
    # "strategy", "mem_level", "window_bits", "label", "tries", "skipped").
    fingerprint: Optional[Dict[str, Any]] = dataclasses.field(default=None, hash=False)
    nested: Optional[Tuple["Stream", ...]] = dataclasses.field(default=None, hash=False)
    chain: Optional[Tuple[int, ...]] = None
    stopped_by: Optional[str] = None

    @classmethod
    def from_engine(
        cls, file: Optional[str], t: Sequence[Any], rules: bool = False, chain: Optional[Tuple[int, ...]] = None
    ) -> "Stream":
        """The stream of an engine tuple; `rules`: the scan was given rules, so no hit is an empty list;
        `chain`: the starts of the streams above a nested one, from the file's own down."""
        offset, has_header, cinfo, flevel, in_bytes, out_bytes, complete, proven_by, _, beyond_rule, container, \
            content, yara = t[:13]
        fingerprint = t[13] if len(t) > 13 else None
        inside = t[14] if len(t) > 14 else None
        start = offset - 2 if has_header else offset
        own_chain = None if chain is None else chain + (start,)
        below = own_chain if own_chain is not None else (start,)
        return cls(
            file=file,
            offset=offset - 2 if has_header else offset,
            deflate_offset=offset,
            kind="zlib" if has_header else "raw",
            window_bits=cinfo + 8 if has_header else None,
            flevel=flevel if has_header else None,
            compressed_bytes=in_bytes,
            inflated_bytes=out_bytes,
            complete=complete,
            proven_by=proven_by,
            beyond_rule=beyond_rule,
            container=container,
            content=content[0] if content else None,
            mime=content[1] if content else None,
            yara=(yara or []) if rules else None,
            fingerprint=fingerprint,
            nested=None if inside is None else tuple(cls.from_engine(file, n, rules, below) for n in inside),
            chain=own_chain,
            stopped_by=t[15] if len(t) > 15 else None,
        )

    def nested_streams(self) -> Iterator["Stream"]:
        """Every stream nested in this one, depth first, each before those inside it."""
        for inside in self.nested or ():
            yield inside
            yield from inside.nested_streams()

    def as_json(self) -> Dict[str, Any]:
        """The stream as quarn-scan --json --list writes it (no "container" where there is none, and
        "content" and "mime" only with a type, no "fingerprint" where there is none)."""
        j = dataclasses.asdict(self)
        if self.container is None:
            del j["container"]
        if self.content is None and self.mime is None:
            del j["content"], j["mime"]
        if self.yara is None:
            del j["yara"]
        if self.fingerprint is None:
            del j["fingerprint"]
        # quarn-scan lists nested streams as streams of their own.
        del j["nested"]
        if self.chain is None:
            del j["chain"]
        if self.stopped_by is None:
            del j["stopped_by"]
        return j


@dataclasses.dataclass(frozen=True)
class ScanResult:
    """The result of one scan, field for field what quarn-scan --json prints.

    ``streams`` is the number of streams found (as in the JSON);
    ``streams_found`` the streams themselves, in file order and then by
    offset, when the scan was asked for them (``streams=True``), else None.
    ``headerless``, ``accept_incomplete`` and ``verified`` are the options
    of the scan. ``proven_zlib``, ``proven_gzip`` and ``proven_zip`` count
    the streams beyond the scan's rule that a scan with ``verified`` proved
    by their checksum (zlib streams by Adler-32, gzip members and zip
    entries by CRC-32), ``proven_output_bytes`` what they inflate to; none
    of the other counters counts them, so that those stay what a scan
    without ``verified`` gives.
    """

    files_scanned: int
    input_bytes: int
    output_bytes: int
    compressed_bytes: int
    inflated_bytes: int
    header_streams: int
    headerless_streams: int
    streams: int
    window_bits: Dict[int, int]
    flevel: Dict[int, int]
    streams_found: Optional[Tuple[Stream, ...]]
    headerless: bool = False
    accept_incomplete: bool = False
    proven_zlib: int = 0
    proven_gzip: int = 0
    proven_zip: int = 0
    proven_output_bytes: int = 0
    verified: bool = False

    @classmethod
    def from_engine(
        cls,
        counts: Counts,
        streams_found: Optional[Sequence[Stream]],
        headerless: bool,
        accept_incomplete: bool,
        verified: bool = False,
    ) -> "ScanResult":
        return cls(
            files_scanned=counts["files_scanned"],
            input_bytes=counts["input_bytes"],
            output_bytes=_quarn.output_bytes(counts),
            compressed_bytes=counts["compressed_bytes"],
            inflated_bytes=counts["inflated_bytes"],
            header_streams=counts["header_streams"],
            headerless_streams=counts["headerless_streams"],
            streams=counts["header_streams"] + counts["headerless_streams"],
            window_bits=dict(counts["window_bits"]),
            flevel=dict(counts["flevel"]),
            streams_found=None if streams_found is None else tuple(streams_found),
            headerless=headerless,
            accept_incomplete=accept_incomplete,
            proven_zlib=counts["proven_zlib"],
            proven_gzip=counts["proven_gzip"],
            proven_zip=counts["proven_zip"],
            proven_output_bytes=counts["proven_output_bytes"],
            verified=verified,
        )

    def counters(self) -> Counts:
        """The engine's counts of this scan."""
        return {
            "files_scanned": self.files_scanned,
            "input_bytes": self.input_bytes,
            "compressed_bytes": self.compressed_bytes,
            "inflated_bytes": self.inflated_bytes,
            "header_streams": self.header_streams,
            "headerless_streams": self.headerless_streams,
            "window_bits": dict(self.window_bits),
            "flevel": dict(self.flevel),
            "proven_zlib": self.proven_zlib,
            "proven_gzip": self.proven_gzip,
            "proven_zip": self.proven_zip,
            "proven_output_bytes": self.proven_output_bytes,
        }

    @property
    def proven_streams(self) -> int:
        """The streams beyond the scan's rule that their checksum proved."""
        return self.proven_zlib + self.proven_gzip + self.proven_zip

    def report_lines(self) -> list:
        """The report lines the window shows after the same scan; after a
        scan with ``verified``, the lines on the proven streams follow
        ("Streams proven by their checksum: N", ...)."""
        return _quarn.report_lines(self.counters(), self.headerless, self.verified)

    def as_json(self) -> Dict[str, Any]:
        """The object quarn-scan --json prints (with --list when the streams were kept)."""
        j: Dict[str, Any] = {
            "files_scanned": self.files_scanned,
            # A scan from Python either scans every file or raises.
            "files_failed": 0,
            "interrupted": False,
            "input_bytes": self.input_bytes,
            "output_bytes": self.output_bytes,
            "compressed_bytes": self.compressed_bytes,
            "inflated_bytes": self.inflated_bytes,
            "header_streams": self.header_streams,
            "headerless_streams": self.headerless_streams,
            "streams": self.streams,
            "window_bits": {str(k): n for k, n in self.window_bits.items()},
            "flevel": {str(f): n for f, n in self.flevel.items()},
        }
        if self.verified:
            j["proven_beyond_rule"] = {
                "streams": self.proven_streams,
                "zlib": self.proven_zlib,
                "gzip": self.proven_gzip,
                "zip": self.proven_zip,
                "inflated_bytes": self.proven_output_bytes,
            }
        if self.streams_found is not None:
            j["streams_found"] = [s.as_json() for s in self.streams_found]
        return j

    def __str__(self) -> str:
        return "\n".join(self.report_lines())


def decode_path(path: bytes) -> str:
    """A path from the engine as Python names files (undecodable bytes escaped)."""
    return os.fsdecode(path)


def streams_of_files(files: Sequence[bytes], found: Sequence[Sequence[Any]], rules: bool = False) -> list:
    """Stream objects from the engine's (file index, stream...) tuples."""
    names = [decode_path(f) for f in files]
    return [Stream.from_engine(names[t[0]], t[1:], rules) for t in found]
