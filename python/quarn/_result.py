"""The result of a scan: its totals, its report lines and its streams.

A ScanResult holds exactly what ``quarn-scan --json`` prints (with
``--list``, the streams too) and compares equal to another result of the
same files and options, whichever way it was made: by ``quarn.scan`` on one
machine or by ``quarn.distributed.scan`` on many.
"""

from __future__ import annotations

import dataclasses
import os
from typing import Any, Dict, Optional, Sequence, Tuple

from . import _quarn

# The engine's counts of a scan as they travel between the module and the
# package: a dict under the names of quarn-scan's JSON totals, with
# "window_bits" and "flevel" keyed by int. The engine adds them up
# (_quarn.add_counts); the package only carries them.
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

    @classmethod
    def from_engine(cls, file: Optional[str], t: Sequence[Any]) -> "Stream":
        offset, has_header, cinfo, flevel, in_bytes, out_bytes, complete = t
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
        )

    def as_json(self) -> Dict[str, Any]:
        """The stream as quarn-scan --json --list writes it."""
        return dataclasses.asdict(self)


@dataclasses.dataclass(frozen=True)
class ScanResult:
    """The result of one scan, field for field what quarn-scan --json prints.

    ``streams`` is the number of streams found (as in the JSON);
    ``streams_found`` the streams themselves, in file order and then by
    offset, when the scan was asked for them (``streams=True``), else None.
    ``headerless`` and ``accept_incomplete`` are the options of the scan.
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

    @classmethod
    def from_engine(
        cls,
        counts: Counts,
        streams_found: Optional[Sequence[Stream]],
        headerless: bool,
        accept_incomplete: bool,
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
        }

    def report_lines(self) -> list:
        """The report lines the window shows after the same scan."""
        return _quarn.report_lines(self.counters(), self.headerless)

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
        if self.streams_found is not None:
            j["streams_found"] = [s.as_json() for s in self.streams_found]
        return j

    def __str__(self) -> str:
        return "\n".join(self.report_lines())


def decode_path(path: bytes) -> str:
    """A path from the engine as Python names files (undecodable bytes escaped)."""
    return os.fsdecode(path)


def streams_of_files(files: Sequence[bytes], found: Sequence[Sequence[Any]]) -> list:
    """Stream objects from the engine's (file index, stream...) tuples."""
    names = [decode_path(f) for f in files]
    return [Stream.from_engine(names[t[0]], t[1:]) for t in found]
