"""The stream map: where in a file the found streams lie.

    python3 -m quarn.map FILE -o map.png [--headerless] [--accept-incomplete] [--verified]

Draws one horizontal bar per found stream, in file order from top to
bottom: it begins at the stream's offset (its zlib header, or its raw
deflate data) and runs to the end of its compressed bytes, coloured by
kind (zlib or raw). Written as SVG (``-o map.svg``),
each bar shows the stream's offset, kind and inflated size when the
pointer rests on it.
"""

from __future__ import annotations

import argparse
import io
import sys
import xml.etree.ElementTree as ElementTree
from typing import Optional, Sequence

from . import QuarnError, ScanResult, scan

KIND_COLOURS = {"zlib": "#1f77b4", "raw": "#ff7f0e"}
SVG_NAMESPACE = "http://www.w3.org/2000/svg"


def _size_text(n: int) -> str:
    for unit, scale in (("GiB", 1 << 30), ("MiB", 1 << 20), ("KiB", 1 << 10)):
        if n >= scale:
            return f"{n / scale:.1f} {unit}"
    return f"{n} bytes"


def _tooltip(stream) -> str:
    header = f", window bits {stream.window_bits}, FLEVEL {stream.flevel}" if stream.kind == "zlib" else ""
    cut = "" if stream.complete else ", cut short"
    proof = f", proven by {stream.proven_by}" if stream.proven_by else ""
    return (
        f"{stream.kind} stream at offset {stream.offset} (0x{stream.offset:x}){header}: "
        f"{stream.compressed_bytes} compressed bytes inflate to {stream.inflated_bytes} bytes "
        f"({_size_text(stream.inflated_bytes)}){cut}{proof}"
    )


def draw_map(result: ScanResult, file_size: int, title: str, output: str) -> None:
    """Draws the streams of a one-file scan (kept with streams=True) to
    `output`; the format follows its suffix (.png, .svg, .pdf)."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.patches import Patch

    found = result.streams_found or ()
    rows = max(len(found), 1)
    height = min(2.0 + 0.22 * rows, 40.0)
    figure, axes = plt.subplots(figsize=(10, height))
    bars = []
    for row, stream in enumerate(found):
        (bar,) = axes.barh(
            row,
            max(stream.deflate_offset - stream.offset + stream.compressed_bytes, 1),
            left=stream.offset,
            height=0.7,
            color=KIND_COLOURS[stream.kind],
            edgecolor=KIND_COLOURS[stream.kind],
            linewidth=0.8,  # keeps a stream far smaller than a pixel visible
        )
        bar.set_gid(f"quarn-stream-{row}")
        bars.append((bar.get_gid(), stream))
    axes.set_xlim(0, max(file_size, 1))
    axes.set_ylim(rows - 0.5, -0.5)
    axes.set_xlabel("offset in file (bytes)")
    axes.set_ylabel("stream, in file order")
    if len(found) <= 40:
        axes.set_yticks(range(len(found)))
        axes.set_yticklabels([_size_text(s.inflated_bytes) for s in found], fontsize=7)
        axes.set_ylabel("stream (inflated size)")
    else:
        axes.set_yticks([])
    axes.ticklabel_format(axis="x", style="plain", useOffset=False)
    axes.grid(axis="x", linestyle=":", linewidth=0.5)
    kinds = sorted({s.kind for s in found}) or ["zlib"]
    axes.legend(handles=[Patch(color=KIND_COLOURS[k], label=k) for k in kinds], loc="upper right")
    axes.set_title(f"{title}: {result.streams} streams, {_size_text(result.compressed_bytes)} compressed, "
                   f"{_size_text(result.inflated_bytes)} inflated", fontsize=9)
    figure.tight_layout()

    if not output.lower().endswith(".svg"):
        figure.savefig(output, dpi=120)
        plt.close(figure)
        return
    # SVG: a <title> in each bar's group is the tooltip that viewers show on hover.
    svg = io.BytesIO()
    figure.savefig(svg, format="svg")
    plt.close(figure)
    ElementTree.register_namespace("", SVG_NAMESPACE)
    tree = ElementTree.ElementTree(ElementTree.fromstring(svg.getvalue()))
    groups = {g.get("id"): g for g in tree.iter(f"{{{SVG_NAMESPACE}}}g")}
    for gid, stream in bars:
        group = groups.get(gid)
        if group is not None:
            title_element = ElementTree.Element(f"{{{SVG_NAMESPACE}}}title")
            title_element.text = _tooltip(stream)
            group.insert(0, title_element)
    tree.write(output, encoding="utf-8", xml_declaration=True)


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m quarn.map", description="Draw where in a file the zlib and raw deflate streams lie."
    )
    parser.add_argument("file", help="the file to scan")
    parser.add_argument("-o", "--output", required=True, help="the picture to write: .png, .svg (tooltips) or .pdf")
    parser.add_argument("--headerless", action="store_true", help="find raw deflate streams too")
    parser.add_argument("--accept-incomplete", action="store_true", help="count streams cut short too")
    parser.add_argument(
        "--verified", action="store_true", help="draw the streams that only their checksum proves too"
    )
    args = parser.parse_args(argv)
    if not args.output:
        # An empty name would be saved as ".png" in the current folder.
        parser.error("-o/--output needs a file name, not an empty one")
    try:
        result = scan(
            [args.file],
            headerless=args.headerless,
            accept_incomplete=args.accept_incomplete,
            streams=True,
            verified=args.verified,
        )
        draw_map(result, result.input_bytes, args.file, args.output)
    except (OSError, ValueError, QuarnError) as error:  # the engine's errors carry its texts
        print(f"python3 -m quarn.map: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
