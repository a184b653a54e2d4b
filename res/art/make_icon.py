#!/usr/bin/env python3
"""Builds the program icon, res/icon/app.ico, from the app*.svg sources.

The icon group holds seventeen images:
  32 bpp: 256 (PNG-compressed), 128, 96, 48, 32, 24, 16 (BMP with alpha)
   8 bpp: 256, 48, 32, 24, 16 (BMP, own 256-colour palette, AND mask)
   4 bpp: 256, 48, 32, 24, 16 (BMP, the standard 16-colour palette, AND mask)
Sizes of 32 px and below are drawn from the small source, which is made for
that grid; the 4-bit images come from the -vga sources, drawn in the 16
standard colours. After writing, the file is read back and its directory checked.

usage: make_icon.py OUT.ico [WORK_DIR]
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pngio  # noqa: E402

SRC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "src")

# (bits per pixel, size); this order is also the order of the directory.
ENTRIES = [(32, s) for s in (256, 128, 96, 48, 32, 24, 16)]
ENTRIES += [(8, s) for s in (256, 48, 32, 24, 16)]
ENTRIES += [(4, s) for s in (256, 48, 32, 24, 16)]

# The 16 colours every 4-bit display has; index 0 is black, which the
# transparent pixels use so that the XOR step leaves the screen unchanged.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
       (0, 255, 255), (255, 255, 255)]

# Pixels at least this opaque are drawn in the palette images; the rest are
# masked out by the AND bitmap.
ALPHA_CUT = 128


def render(size, work, vga=False):
    name = ("app-small" if size <= 32 else "app") + ("-vga" if vga else "")
    src = os.path.join(SRC, name + ".svg")
    out = os.path.join(work, "%s-%d.png" % (name, size))
    subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), "-o", out, src], check=True)
    return out


def colour_distance(a, b):
    # "Redmean" weighting: close to perceived difference, cheap to compute.
    rm = (a[0] + b[0]) / 2.0
    dr, dg, db = a[0] - b[0], a[1] - b[1], a[2] - b[2]
    return (2 + rm / 256) * dr * dr + 4 * dg * dg + (2 + (255 - rm) / 256) * db * db


def median_cut(counts, n):
    """Returns up to n colours representing the weighted colours in counts."""
    boxes = [list(counts.items())]
    while len(boxes) < n:
        # Split the box with the widest channel range that can still be split.
        best = None
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for ch in range(3):
                lo = min(c[ch] for c, _ in box)
                hi = max(c[ch] for c, _ in box)
                if best is None or hi - lo > best[0]:
                    best = (hi - lo, i, ch)
        if best is None or best[0] == 0:
            break
        _, i, ch = best
        box = sorted(boxes.pop(i), key=lambda e: e[0][ch])
        total = sum(w for _, w in box)
        acc, cut = 0, 1
        for k, (_, w) in enumerate(box):
            acc += w
            if acc * 2 >= total:
                cut = min(max(k + 1, 1), len(box) - 1)
                break
        boxes += [box[:cut], box[cut:]]
    palette = []
    for box in boxes:
        total = sum(w for _, w in box)
        palette.append(tuple(int(round(sum(c[ch] * w for c, w in box) / total)) for ch in range(3)))
    return palette


def map_to_palette(pixels, n, palette):
    cache = {}
    out = []
    for i in range(n):
        r, g, b, a = pixels[i * 4:i * 4 + 4]
        if a < ALPHA_CUT:
            out.append(0)
            continue
        key = (r, g, b)
        idx = cache.get(key)
        if idx is None:
            # Index 0 is reserved for transparent pixels unless black is wanted.
            idx = min(range(len(palette)), key=lambda k: colour_distance(key, palette[k]))
            cache[key] = idx
        out.append(idx)
    return out


def row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def and_mask(pixels, size, opaque):
    stride = row_bytes(size)
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(stride)
        for x in range(size):
            if not opaque(pixels[(y * size + x) * 4 + 3]):
                row[x >> 3] |= 0x80 >> (x & 7)
        mask += row
    return bytes(mask)


def bmp_header(size, bpp, image_bytes, colours):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, image_bytes, 0, 0, colours, 0)


def bmp_32(pixels, size):
    xor = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b, a = pixels[(y * size + x) * 4:(y * size + x) * 4 + 4]
            xor += bytes((b, g, r, a)) if a else b"\0\0\0\0"
    mask = and_mask(pixels, size, lambda a: a > 0)
    return bmp_header(size, 32, len(xor) + len(mask), 0) + bytes(xor) + mask


def bmp_indexed(pixels, size, bpp, palette):
    n = 1 << bpp
    assert len(palette) <= n and palette[0] == (0, 0, 0)
    indices = map_to_palette(pixels, size * size, palette)
    stride = row_bytes(size * bpp)
    xor = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(stride)
        for x in range(size):
            idx = indices[y * size + x]
            if bpp == 8:
                row[x] = idx
            else:
                row[x >> 1] |= idx << (4 if x % 2 == 0 else 0)
        xor += row
    mask = and_mask(pixels, size, lambda a: a >= ALPHA_CUT)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette) + b"\0\0\0\0" * (n - len(palette))
    return bmp_header(size, bpp, len(xor) + len(mask), n) + pal + bytes(xor) + mask


def adaptive_palette(images):
    """One 256-colour palette for all 8-bit entries: black first, then the
    median cut of the opaque colours of every size."""
    counts = {}
    for _w, _h, px in images:
        for i in range(0, len(px), 4):
            if px[i + 3] >= ALPHA_CUT:
                key = (px[i], px[i + 1], px[i + 2])
                counts[key] = counts.get(key, 0) + 1
    return [(0, 0, 0)] + median_cut(counts, 255)


def build(out_path, work):
    rendered = {}
    for bpp, size in ENTRIES:
        vga = bpp == 4
        if (size, vga) not in rendered:
            rendered[size, vga] = render(size, work, vga)
    images = {k: pngio.read_rgba(p) for k, p in rendered.items()}
    pal8 = adaptive_palette([images[s, False] for bpp, s in ENTRIES if bpp == 8])
    blobs = []
    for bpp, size in ENTRIES:
        _w, _h, px = images[size, bpp == 4]
        if bpp == 32 and size == 256:
            with open(rendered[size, False], "rb") as f:
                blobs.append(f.read())
        elif bpp == 32:
            blobs.append(bmp_32(px, size))
        else:
            blobs.append(bmp_indexed(px, size, bpp, pal8 if bpp == 8 else VGA))
    header = struct.pack("<HHH", 0, 1, len(ENTRIES))
    offset = len(header) + 16 * len(ENTRIES)
    directory = b""
    for (bpp, size), blob in zip(ENTRIES, blobs):
        dim = 0 if size == 256 else size
        colours = 16 if bpp == 4 else 0
        directory += struct.pack("<BBBBHHII", dim, dim, colours, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    with open(out_path, "wb") as f:
        f.write(header + directory + b"".join(blobs))


def check(path):
    """Reads the icon back and returns a list of problems (empty when sound)."""
    with open(path, "rb") as f:
        data = f.read()
    problems = []
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        problems.append("not an icon file (reserved %d, type %d)" % (reserved, kind))
    if count != len(ENTRIES):
        problems.append("%d images, expected %d" % (count, len(ENTRIES)))
    seen = []
    for i in range(count):
        w, h, colours, _r, planes, bpp, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w, h = w or 256, h or 256
        seen.append((bpp, w))
        blob = data[offset:offset + size]
        where = "entry %d (%dx%d, %d bpp)" % (i, w, h, bpp)
        if offset + size > len(data) or len(blob) != size:
            problems.append(where + ": data runs past the end of the file")
            continue
        if w != h or planes != 1 or colours != (16 if bpp == 4 else 0):
            problems.append(where + ": bad directory fields")
        if blob[:8] == pngio.SIGNATURE:
            pw, ph, depth, ctype, _ = pngio.read_header(blob)
            if (pw, ph, depth, ctype) != (w, h, 8, 6) or bpp != 32:
                problems.append(where + ": PNG image is %dx%d depth %d colour type %d" % (pw, ph, depth, ctype))
            continue
        bi = struct.unpack_from("<IiiHHIIiiII", blob, 0)
        if bi[0] != 40 or bi[1] != w or bi[2] != 2 * h or bi[4] != bpp or bi[5] != 0:
            problems.append(where + ": BMP header does not match the directory")
            continue
        pal = (1 << bpp) * 4 if bpp <= 8 else 0
        expect = 40 + pal + row_bytes(w * bpp) * h + row_bytes(w) * h
        if len(blob) != expect:
            problems.append(where + ": %d bytes, expected %d" % (len(blob), expect))
    if sorted(seen) != sorted(ENTRIES):
        problems.append("images %s, expected %s" % (sorted(seen), sorted(ENTRIES)))
    return problems


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    out = sys.argv[1]
    work = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp()
    try:
        build(out, work)
    finally:
        if len(sys.argv) <= 2:
            shutil.rmtree(work, ignore_errors=True)
    problems = check(out)
    for p in problems:
        print("make_icon: " + p)
    if problems:
        return 1
    print("make_icon: %s holds %d images: %s" % (out, len(ENTRIES), ", ".join("%dpx/%dbpp" % (s, b)
                                                                              for b, s in ENTRIES)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
