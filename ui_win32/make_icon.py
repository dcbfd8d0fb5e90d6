#!/usr/bin/env python3
"""Packs square PNG images into one Windows icon (.ico) file.

Each image is kept as it is, in PNG form, which Windows reads in icons
since Vista; the sizes are read from the images themselves.
    make_icon.py OUT.ico IMAGE.png...
"""
import struct
import sys


def png_size(data, name):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        sys.exit(f"make_icon.py: {name} is not a PNG image")
    width, height = struct.unpack(">II", data[16:24])
    if width != height or not 1 <= width <= 256:
        sys.exit(f"make_icon.py: {name} is {width}x{height}; an icon image is square, 1 to 256 pixels")
    return width


def main(out, names):
    images = []
    for name in names:
        with open(name, "rb") as f:
            data = f.read()
        images.append((png_size(data, name), data))
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, blobs = b"", b""
    for size, data in images:
        side = 0 if size == 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        blobs += data
        offset += len(data)
    with open(out, "wb") as f:
        f.write(header + entries + blobs)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2:])
