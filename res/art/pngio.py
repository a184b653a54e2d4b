"""Minimal PNG reader for the art tools (standard library only).

Reads exactly what rsvg-convert writes and the program ships: 8-bit RGBA
(colour type 6), not interlaced. Anything else is reported, not guessed at,
so a file in the wrong format cannot slip through as if it were valid.
"""

import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


class PngError(Exception):
    pass


def read_chunks(data):
    """Yields (type, payload) for every chunk, checking lengths and CRCs."""
    if data[:8] != SIGNATURE:
        raise PngError("not a PNG signature")
    pos = 8
    while pos < len(data):
        if pos + 8 > len(data):
            raise PngError("truncated chunk header at %d" % pos)
        length, ctype = struct.unpack(">I4s", data[pos:pos + 8])
        end = pos + 8 + length + 4
        if end > len(data):
            raise PngError("chunk %r runs past the end of the file" % ctype)
        payload = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[end - 4:end])
        if zlib.crc32(ctype + payload) & 0xFFFFFFFF != crc:
            raise PngError("bad CRC in chunk %r" % ctype)
        yield ctype, payload
        pos = end
        if ctype == b"IEND":
            return
    raise PngError("no IEND chunk")


def read_header(data):
    """Returns (width, height, bit_depth, colour_type, interlace) from IHDR."""
    for ctype, payload in read_chunks(data):
        if ctype != b"IHDR" or len(payload) != 13:
            raise PngError("first chunk is not a valid IHDR")
        w, h, depth, ctype_, _comp, _filt, interlace = struct.unpack(">IIBBBBB", payload)
        return w, h, depth, ctype_, interlace
    raise PngError("empty PNG")


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read_rgba(path):
    """Returns (width, height, pixels) with pixels a bytearray of RGBA rows."""
    with open(path, "rb") as f:
        data = f.read()
    w, h, depth, ctype, interlace = read_header(data)
    if depth != 8 or ctype != 6 or interlace != 0:
        raise PngError("%s: need 8-bit RGBA, not interlaced (depth %d, colour type %d, interlace %d)" %
                       (path, depth, ctype, interlace))
    idat = b"".join(p for t, p in read_chunks(data) if t == b"IDAT")
    raw = zlib.decompress(idat)
    stride = w * 4
    if len(raw) != h * (stride + 1):
        raise PngError("%s: image data has %d bytes, expected %d" % (path, len(raw), h * (stride + 1)))
    out = bytearray(h * stride)
    prev = bytearray(stride)
    for y in range(h):
        ftype = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if ftype == 0:
            pass
        elif ftype == 1:
            for i in range(4, stride):
                line[i] = (line[i] + line[i - 4]) & 0xFF
        elif ftype == 2:
            for i in range(stride):
                line[i] = (line[i] + prev[i]) & 0xFF
        elif ftype == 3:
            for i in range(stride):
                left = line[i - 4] if i >= 4 else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 0xFF
        elif ftype == 4:
            for i in range(stride):
                left = line[i - 4] if i >= 4 else 0
                upleft = prev[i - 4] if i >= 4 else 0
                line[i] = (line[i] + _paeth(left, prev[i], upleft)) & 0xFF
        else:
            raise PngError("%s: unknown filter type %d in row %d" % (path, ftype, y))
        out[y * stride:(y + 1) * stride] = line
        prev = line
    return w, h, out


def alpha_at(image, x, y):
    w, _h, px = image
    return px[(y * w + x) * 4 + 3]
