#!/usr/bin/env python3
"""Checks the rendered art in res/img against what the program expects.

Every id must exist with its exact pixel size as 8-bit RGBA (colour type 6),
and the pictures must keep the properties the window relies on: see-through
corners, an opaque card under the texts, readable caption colours, a spinner
that turns by one eighth per frame. Exits non-zero on the first failed file
after listing every problem.

usage: verify.py [IMG_DIR]
"""

import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pngio  # noqa: E402

SIZES = {129: (1560, 1240)}
SIZES.update({i: (76, 76) for i in (130, 131, 132, 133)})
SIZES[134] = (30, 30)
SIZES[135] = (1448, 568)
SIZES[136] = (48, 43)
SIZES.update({i: (368, 76) for i in (137, 138, 139, 140)})
SIZES.update({i: (132, 132) for i in range(141, 149)})
SIZES.update({i: (508, 76) for i in (150, 151, 152, 153)})

# Text colours the layout draws over the art.
WHITE = (255, 255, 255)
MESSAGE = (0x02, 0x02, 0x02)
CAUTION = (0xA4, 0x00, 0x00)
VERSION = (0x80, 0xDF, 0xE6)
LATER = (0x46, 0x46, 0x46)

# Where the layout puts texts on the background (x, y, w, h).
MESSAGE_RECT = (100, 297, 1400, 180)
CAUTION_RECT = (100, 1124, 1000, 60)
# The version string is about 130 px wide and 36 px high at the large size.
VERSION_RECT = (1410, 194, 130, 38)

problems = []


def fail(msg):
    problems.append(msg)


def luminance(rgb):
    def lin(c):
        c /= 255.0
        return c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4

    r, g, b = (lin(c) for c in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(a, b):
    la, lb = luminance(a), luminance(b)
    hi, lo = max(la, lb), min(la, lb)
    return (hi + 0.05) / (lo + 0.05)


def pixel(img, x, y):
    w, _h, px = img
    i = (y * w + x) * 4
    return tuple(px[i:i + 4])


def rect_pixels(img, rect, step=3):
    x0, y0, w, h = rect
    for y in range(y0, y0 + h, step):
        for x in range(x0, x0 + w, step):
            yield x, y, pixel(img, x, y)


def check_text_area(img, name, rect, text_rgb, min_ratio):
    """Every sampled pixel must be opaque and give the text enough contrast."""
    worst = None
    for x, y, (r, g, b, a) in rect_pixels(img, rect):
        if a != 255:
            fail("%s: pixel (%d,%d) under text is not opaque (alpha %d)" % (name, x, y, a))
            return
        c = contrast((r, g, b), text_rgb)
        if worst is None or c < worst[0]:
            worst = (c, x, y)
    if worst and worst[0] < min_ratio:
        fail("%s: text contrast %.2f at (%d,%d) is below %.1f" % (name, worst[0], worst[1], worst[2], min_ratio))


def corners_transparent(img, name, limit=0):
    w, h, _ = img
    for x, y in ((0, 0), (w - 1, 0), (0, h - 1), (w - 1, h - 1)):
        a = pixel(img, x, y)[3]
        if a > limit:
            fail("%s: corner (%d,%d) has alpha %d, expected at most %d" % (name, x, y, a, limit))


def centre_rgb(img):
    w, h, _ = img
    return pixel(img, w // 2, h // 2)


def check_background(img):
    corners_transparent(img, "129", limit=8)
    w, h, _ = img
    # The shadow margin: the outermost ring is never opaque, so the window's
    # own edge is drawn by the card, not by the bitmap's rectangle.
    edge = [(x, y) for x in range(0, w, 7) for y in (0, h - 1)] + [(x, y) for y in range(0, h, 7) for x in (0, w - 1)]
    opaque = [(x, y) for x, y in edge if pixel(img, x, y)[3] == 255]
    if opaque:
        fail("129: %d sampled edge pixels are opaque, the first at (%d,%d)" % (len(opaque), opaque[0][0], opaque[0][1]))
    # Some of the margin must be partly transparent: that is the soft shadow.
    soft = sum(1 for x in range(0, w, 5) if 0 < pixel(img, x, h - 4)[3] < 255)
    if soft < (w // 5) // 2:
        fail("129: no soft shadow along the bottom margin")
    check_text_area(img, "129 message", MESSAGE_RECT, MESSAGE, 7.0)
    check_text_area(img, "129 caution", CAUTION_RECT, CAUTION, 4.5)
    check_text_area(img, "129 version", VERSION_RECT, VERSION, 4.5)
    # The card under the close cross and the illustration is opaque.
    for rect in ((1448, 38, 76, 76), (56, 498, 1448, 568), (1136, 1109, 368, 76), (466, 1109, 508, 76)):
        for x, y, p in rect_pixels(img, rect, step=11):
            if p[3] != 255:
                fail("129: card pixel (%d,%d) is not opaque" % (x, y))
                break


def check_buttons(imgs):
    for i in (137, 138, 139, 150, 152, 153):
        c = contrast(centre_rgb(imgs[i])[:3], WHITE)
        if c < 3.0:
            fail("%d: white caption contrast %.2f is below 3.0" % (i, c))
    c = contrast(centre_rgb(imgs[151])[:3], LATER)
    if c < 4.5:
        fail("151: caption contrast %.2f is below 4.5" % c)
    lum = {i: luminance(centre_rgb(imgs[i])[:3]) for i in (137, 138, 139, 150, 152, 153)}
    if not lum[138] < lum[137] < lum[139]:
        fail("137-139: pressed must be darker and hover lighter than normal")
    if not lum[153] < lum[150] < lum[152]:
        fail("150/152/153: pressed must be darker and hover lighter than normal")
    r, g, b, _ = centre_rgb(imgs[140])
    if max(r, g, b) - min(r, g, b) > 24:
        fail("140: the disabled button is not grey (%d,%d,%d)" % (r, g, b))
    for i in (137, 138, 139, 140, 150, 151, 152, 153, 130, 131, 132, 133):
        corners_transparent(imgs[i], str(i))
        if i >= 137 and centre_rgb(imgs[i])[3] != 255:
            fail("%d: button face is not opaque" % i)


def heading(img):
    """Direction of the alpha-weighted centroid from the centre, in degrees
    clockwise from 12 o'clock (screen y grows downwards)."""
    w, h, px = img
    cx, cy = (w - 1) / 2.0, (h - 1) / 2.0
    sx = sy = 0.0
    for y in range(h):
        row = y * w * 4
        for x in range(w):
            a = px[row + x * 4 + 3]
            if a:
                sx += a * (x - cx)
                sy += a * (y - cy)
    return math.degrees(math.atan2(sx, -sy)) % 360.0, math.hypot(sx, sy)


def check_spinner(imgs):
    prev = None
    for i in range(141, 149):
        corners_transparent(imgs[i], str(i))
        ang, mag = heading(imgs[i])
        if mag == 0:
            fail("%d: spinner frame has no direction" % i)
            return
        if prev is not None:
            step = (ang - prev) % 360.0
            if abs(step - 45.0) > 2.0:
                fail("%d: turns by %.1f degrees from the previous frame, expected 45" % (i, step))
        prev = ang
    # Wrapping from the last frame to the first keeps the same pace.
    first, _ = heading(imgs[141])
    if abs((first - prev) % 360.0 - 45.0) > 2.0:
        fail("148->141: the loop does not close with a 45 degree step")


def main():
    d = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "img")
    imgs = {}
    for i, (w, h) in sorted(SIZES.items()):
        path = os.path.join(d, "%d.png" % i)
        if not os.path.exists(path):
            fail("%d: %s is missing" % (i, path))
            continue
        with open(path, "rb") as f:
            try:
                hw, hh, depth, ctype, interlace = pngio.read_header(f.read())
            except pngio.PngError as e:
                fail("%d: %s" % (i, e))
                continue
        if (hw, hh) != (w, h):
            fail("%d: size %dx%d, expected %dx%d" % (i, hw, hh, w, h))
        if depth != 8 or ctype != 6:
            fail("%d: bit depth %d colour type %d, expected 8 and 6" % (i, depth, ctype))
        try:
            imgs[i] = pngio.read_rgba(path)
        except pngio.PngError as e:
            fail("%d: %s" % (i, e))
    extra = sorted(set(f for f in os.listdir(d) if f.endswith(".png")) - {"%d.png" % i for i in SIZES})
    if extra:
        fail("unexpected files in %s: %s" % (d, ", ".join(extra)))
    # Each look check runs when the images it needs decoded, so one broken
    # file does not hide the problems of the others.
    checks = [((129,), lambda: check_background(imgs[129])),
              ((134,), lambda: corners_transparent(imgs[134], "134")),
              ((135,), lambda: corners_transparent(imgs[135], "135")),
              ((136,), lambda: corners_transparent(imgs[136], "136")),
              ((130, 131, 132, 133, 137, 138, 139, 140, 150, 151, 152, 153), lambda: check_buttons(imgs)),
              (tuple(range(141, 149)), lambda: check_spinner(imgs))]
    for ids, run in checks:
        if all(i in imgs for i in ids):
            run()
    for p in problems:
        print("verify: " + p)
    if problems:
        print("verify: %d problem(s)" % len(problems))
        return 1
    print("verify: %d images OK" % len(imgs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
