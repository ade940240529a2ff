#!/usr/bin/env python3
"""Draws the workstation's icons and toolbar strips (standard library only).

Output, in ressources/ and beside it:
  vexa.ico                       application icon, 128x128 (PNG inside an ICO)
  ressources/bitmapToolBar.bmp   main toolbar strip, 16x16 cells
  ressources/BitmapToolBar2.bmp  second toolbar strip
  ressources/BitmapToolBar3d.bmp 3D view toolbar strip
  ressources/BitmapToolBarAnimation.bmp animation toolbar strip
  ressources/icon_tree1..4.bmp   data tree icons (image, block, 3D view, other)
  ressources/icon_progress1..5.bmp task progress icons (0 %, 25 %, 50 %, 75 %, 100 %)
Key colour (0, 128, 0) marks the transparent background of the strips.
"""
import math
import os
import struct
import sys
import zlib

KEY = (0, 128, 0)


class Canvas:
    def __init__(self, w, h, bg):
        self.w, self.h = w, h
        self.px = [[bg for _ in range(w)] for _ in range(h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, c)

    def line(self, x0, y0, x1, y1, c):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            self.set(round(x0 + (x1 - x0) * i / n), round(y0 + (y1 - y0) * i / n), c)

    def poly(self, pts, c):
        for i in range(len(pts)):
            self.line(*pts[i], *pts[(i + 1) % len(pts)], c)

    def fill_poly(self, pts, c):
        ys = [p[1] for p in pts]
        for y in range(min(ys), max(ys) + 1):
            xs = []
            for i in range(len(pts)):
                (xa, ya), (xb, yb) = pts[i], pts[(i + 1) % len(pts)]
                if (ya <= y < yb) or (yb <= y < ya):
                    xs.append(xa + (y - ya) * (xb - xa) / (yb - ya))
            xs.sort()
            for a, b in zip(xs[0::2], xs[1::2]):
                for x in range(math.ceil(a), math.floor(b) + 1):
                    self.set(x, y, c)


def seismic(v):
    """Red-white-blue ramp for v in [-1, 1]."""
    v = max(-1.0, min(1.0, v))
    if v < 0:
        t = 1 + v
        return (int(255 * t), int(255 * t), 255)
    t = 1 - v
    return (255, int(255 * t), int(255 * t))


def cube_icon(size, bg):
    """An isometric cube whose front face shows folded seismic layers cut by a fault."""
    c = Canvas(size, size, bg)
    s = size / 16.0
    f = lambda x, y: (round(x * s), round(y * s))
    front = [f(1, 5), f(11, 5), f(11, 15), f(1, 15)]
    top = [f(1, 5), f(5, 1), f(15, 1), f(11, 5)]
    side = [f(11, 5), f(15, 1), f(15, 11), f(11, 15)]
    x0, y0 = front[0]
    x1, y1 = front[2]
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            u = (x - x0) / max(1, x1 - x0)
            shift = 0.18 if u > 0.55 + 0.15 * (y - y0) / max(1, y1 - y0) else 0.0
            v = (y - y0) / max(1, y1 - y0) + shift + 0.08 * math.sin(u * 6.0)
            c.set(x, y, seismic(math.sin(v * 18.0)))
    c.fill_poly(top, (200, 205, 215))
    c.fill_poly(side, (120, 130, 150))
    dark = (20, 30, 50)
    for p in (front, top, side):
        c.poly(p, dark)
    return c


def tool_icons():
    """Sixteen 16x16 toolbar cells: open, save, zoom in/out, zoom 1, fit, grid, cursor,
    palette, correction, info, sync, section front/right/top, refresh."""
    cells = []
    ink = (30, 30, 40)
    for k in range(16):
        c = Canvas(16, 16, KEY)
        if k == 0:  # open: folder
            c.fill_poly([(1, 4), (6, 4), (7, 6), (14, 6), (14, 13), (1, 13)], (230, 190, 80))
            c.poly([(1, 4), (6, 4), (7, 6), (14, 6), (14, 13), (1, 13)], ink)
        elif k == 1:  # save: disk
            c.rect(2, 2, 13, 13, (60, 90, 160)); c.rect(4, 2, 11, 6, (230, 230, 230)); c.rect(5, 9, 10, 13, (200, 200, 200))
        elif k in (2, 3, 4):  # zoom in, out, 1:1: lens
            for a in range(0, 360, 10):
                c.set(round(6 + 4 * math.cos(math.radians(a))), round(6 + 4 * math.sin(math.radians(a))), ink)
            c.line(9, 9, 14, 14, ink); c.line(10, 9, 14, 13, ink)
            c.line(4, 6, 8, 6, ink)
            if k == 2: c.line(6, 4, 6, 8, ink)
            if k == 4: c.line(6, 4, 6, 8, (200, 0, 0)); c.line(4, 6, 8, 6, (200, 0, 0))
        elif k == 5:  # fit
            c.poly([(1, 1), (14, 1), (14, 14), (1, 14)], ink); c.line(3, 3, 12, 12, ink); c.line(12, 3, 3, 12, ink)
        elif k == 6:  # grid
            for i in range(1, 15, 4):
                c.line(i, 1, i, 14, ink); c.line(1, i, 14, i, ink)
        elif k == 7:  # cursor
            c.line(8, 1, 8, 14, (200, 0, 0)); c.line(1, 8, 14, 8, (200, 0, 0))
        elif k == 8:  # palette bar
            for x in range(1, 15):
                c.line(x, 3, x, 12, seismic((x - 7.5) / 6.5))
        elif k == 9:  # correction: histogram
            for x, hgt in zip(range(2, 14, 2), (3, 7, 11, 9, 5, 2)):
                c.rect(x, 14 - hgt, x + 1, 14, (60, 60, 160))
        elif k == 10:  # information
            c.rect(7, 2, 8, 3, (0, 0, 160)); c.rect(7, 6, 8, 13, (0, 0, 160))
        elif k == 11:  # synchronisation: two linked squares
            c.poly([(1, 1), (8, 1), (8, 8), (1, 8)], ink); c.poly([(7, 7), (14, 7), (14, 14), (7, 14)], ink)
        elif k in (12, 13, 14):  # sections FRONT, RIGHT, TOP of a cube
            cube = cube_icon(16, KEY)
            c.px = cube.px
            hl = (255, 220, 0)
            if k == 12: c.poly([(1, 5), (11, 5), (11, 15), (1, 15)], hl)
            if k == 13: c.poly([(11, 5), (15, 1), (15, 11), (11, 15)], hl)
            if k == 14: c.poly([(1, 5), (5, 1), (15, 1), (11, 5)], hl)
        else:  # refresh: arrow circle
            for a in range(30, 330, 8):
                c.set(round(8 + 5 * math.cos(math.radians(a))), round(8 + 5 * math.sin(math.radians(a))), ink)
            c.line(12, 4, 14, 7, ink); c.line(12, 4, 10, 6, ink)
        cells.append(c)
    return cells


def strip(cells):
    w = sum(c.w for c in cells)
    s = Canvas(w, 16, KEY)
    x = 0
    for c in cells:
        for y in range(16):
            for i in range(c.w):
                s.px[y][x + i] = c.px[y][i]
        x += c.w
    return s


def write_bmp(path, c):
    row = (c.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(c.h - 1, -1, -1):
        line = bytearray()
        for x in range(c.w):
            r, g, b = c.px[y][x]
            line += bytes((b, g, r))
        line += b"\0" * (row - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, c.w, c.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def png_bytes(c, alpha_key=None):
    raw = bytearray()
    for y in range(c.h):
        raw.append(0)
        for x in range(c.w):
            p = c.px[y][x]
            raw += bytes((*p, 0 if p == alpha_key else 255))
    chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", c.w, c.h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def write_ico(path, c):
    png = png_bytes(c, alpha_key=KEY)
    w = 0 if c.w >= 256 else c.w
    h = 0 if c.h >= 256 else c.h
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        f.write(struct.pack("<BBBBHHII", w, h, 0, 0, 1, 32, len(png), 22))
        f.write(png)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = os.path.join(root, "ressources")
    os.makedirs(out, exist_ok=True)
    write_ico(os.path.join(root, "ressources", "vexa.ico"), cube_icon(128, KEY))
    cells = tool_icons()
    write_bmp(os.path.join(out, "bitmapToolBar.bmp"), strip(cells))
    write_bmp(os.path.join(out, "BitmapToolBar2.bmp"), strip(cells[2:12]))
    write_bmp(os.path.join(out, "BitmapToolBar3d.bmp"), strip(cells[12:16] + cells[2:6]))
    write_bmp(os.path.join(out, "BitmapToolBarAnimation.bmp"), strip(cells[12:16]))
    tree = [cube_icon(16, (255, 255, 255)) for _ in range(4)]
    tree[0] = Canvas(16, 16, (255, 255, 255))
    for y in range(2, 14):
        for x in range(2, 14):
            tree[0].set(x, y, seismic(math.sin((y + 0.3 * x) * 0.9)))
    tree[0].poly([(2, 2), (13, 2), (13, 13), (2, 13)], (20, 30, 50))
    tree[2] = Canvas(16, 16, (255, 255, 255))
    tree[2].poly([(8, 1), (14, 12), (2, 12)], (20, 30, 50)); tree[2].fill_poly([(8, 3), (12, 11), (4, 11)], (120, 170, 230))
    tree[3] = Canvas(16, 16, (255, 255, 255))
    for x in range(1, 15):
        tree[3].set(x, round(8 - 5 * math.sin(x * 0.8)), (20, 30, 50))
    for i, t in enumerate(tree, 1):
        write_bmp(os.path.join(out, "icon_tree%d.bmp" % i), t)
    for i in range(5):
        p = Canvas(16, 16, (255, 255, 255))
        p.poly([(0, 4), (15, 4), (15, 11), (0, 11)], (40, 40, 40))
        p.rect(1, 5, round(1 + 13.99 * i / 4) if i else 0, 10, (40, 160, 60))
        write_bmp(os.path.join(out, "icon_progress%d.bmp" % (i + 1)), p)
    return 0


if __name__ == "__main__":
    sys.exit(main())
