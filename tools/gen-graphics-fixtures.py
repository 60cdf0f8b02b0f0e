#!/usr/bin/env python3
"""Writes the graphics tests' fixture assets: a 10-unit cube mesh, small textures and a
two-file bitmap font (an XML glyph table and its PNG page). Every file is made here from
nothing, so the fixtures can be re-made and checked by reading this script.

usage: tools/gen-graphics-fixtures.py [OUTPUT-FOLDER]  (default tests/graphics/fixtures)
"""
import os
import struct
import sys
import zlib


def write_png(path, width, height, pixels):
    """pixels: rows of (r, g, b, a) tuples, top row first."""
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def write_bmp(path, width, height, pixels):
    """24-bit, bottom-up rows padded to four bytes; pixels as in write_png (alpha ignored)."""
    stride = (width * 3 + 3) & ~3
    body = b""
    for row in reversed(pixels):
        line = b"".join(bytes((b, g, r)) for r, g, b, _ in row)
        body += line + b"\0" * (stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + body)


def write_cube(path):
    """A cube of edge 10 centred on the origin, each face with its normal and full UVs."""
    lines = ["# 10-unit cube"]
    faces = [  # normal, then four corners counter-clockwise seen from outside
        ((0, 0, 1), [(-5, -5, 5), (5, -5, 5), (5, 5, 5), (-5, 5, 5)]),
        ((0, 0, -1), [(5, -5, -5), (-5, -5, -5), (-5, 5, -5), (5, 5, -5)]),
        ((1, 0, 0), [(5, -5, 5), (5, -5, -5), (5, 5, -5), (5, 5, 5)]),
        ((-1, 0, 0), [(-5, -5, -5), (-5, -5, 5), (-5, 5, 5), (-5, 5, -5)]),
        ((0, 1, 0), [(-5, 5, 5), (5, 5, 5), (5, 5, -5), (-5, 5, -5)]),
        ((0, -1, 0), [(-5, -5, -5), (5, -5, -5), (5, -5, 5), (-5, -5, 5)]),
    ]
    for _, corners in faces:
        lines += ["v %d %d %d" % c for c in corners]
    lines += ["vt 0 0", "vt 1 0", "vt 1 1", "vt 0 1"]
    lines += ["vn %d %d %d" % n for n, _ in faces]
    for i in range(len(faces)):
        v = [i * 4 + k + 1 for k in range(4)]
        lines.append("f " + " ".join("%d/%d/%d" % (v[k], k + 1, i + 1) for k in range(4)))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "tests", "graphics", "fixtures")
    os.makedirs(out, exist_ok=True)
    write_cube(os.path.join(out, "cube.obj"))
    red, blue = (250, 0, 0, 255), (0, 0, 250, 255)
    write_bmp(os.path.join(out, "checker.bmp"), 4, 4, [[red if (x < 2) == (y < 2) else blue for x in range(4)] for y in range(4)])
    write_png(os.path.join(out, "tint.png"), 4, 4, [[(250, 250, 250, 255)] * 4 for _ in range(4)])
    # Sky box faces, one plain colour each, so a picture tells which face a camera sees.
    faces = {"top": (250, 250, 0), "bottom": (0, 250, 250), "left": (250, 0, 0), "right": (0, 250, 0),
             "front": (0, 0, 250), "back": (250, 0, 250)}
    for face, colour in faces.items():
        write_png(os.path.join(out, "sky_%s.png" % face), 4, 4, [[colour + (255,)] * 4 for _ in range(4)])
    # The same faces split down the middle, red on the left of the picture and blue on the
    # right, so a picture tells which way round a face is drawn.
    for face in faces:
        write_png(os.path.join(out, "half_%s.png" % face), 8, 8,
                  [[(250, 0, 0, 255) if x < 4 else (0, 0, 250, 255) for x in range(8)] for _ in range(8)])
    # The font page: glyph "A" is a solid 8 by 12 block, so a drawn text is a run of blocks.
    page = [[(255, 255, 255, 255) if x < 8 and y < 12 else (0, 0, 0, 0) for x in range(16)] for y in range(16)]
    write_png(os.path.join(out, "blockfont.png"), 16, 16, page)
    with open(os.path.join(out, "blockfont.xml"), "w") as f:
        f.write('<?xml version="1.0"?>\n<font type="bitmap">\n'
                '<Texture index="0" filename="blockfont.png" hasAlpha="true" />\n'
                '<c c="A" r="0, 0, 8, 12" />\n<c c=" " r="8, 0, 12, 12" />\n</font>\n')


if __name__ == "__main__":
    main()
