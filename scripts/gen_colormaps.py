#!/usr/bin/env python3
"""Generates the colormap files shipped in colormap/ (read at start-up, one palette each).

Each file is a "COLORMAP" document: items "title" and "size" (256), then 256 "color"
nodes with "index" and "r", "g", "b" as reals in [0, 1] written with six decimals from
byte / 255, so that the program reads back exactly the byte computed here.

Every map is a classic public colour ramp, defined below by its formula or by anchor
points joined linearly in RGB. Python 3 standard library only.

    scripts/gen_colormaps.py [output folder]   (default: colormap/ of the repository)
"""

import colorsys
import math
import os
import sys


def clamp01(x):
    return 0.0 if x < 0.0 else 1.0 if x > 1.0 else x


def anchors(points):
    """Piecewise-linear ramp through (t, r, g, b) anchor points, t rising from 0 to 1."""

    def ramp(t):
        for (t0, *c0), (t1, *c1) in zip(points, points[1:]):
            if t <= t1:
                u = 0.0 if t1 == t0 else (t - t0) / (t1 - t0)
                return tuple(a + (b - a) * u for a, b in zip(c0, c1))
        return tuple(points[-1][1:])

    return ramp


def bands(ramp, count):
    """The ramp cut into count flat bands; band k takes the ramp's colour at k/(count-1)."""

    def banded(t):
        k = min(int(t * count), count - 1)
        return ramp(k / (count - 1))

    return banded


def hue_sweep(start_deg, end_deg):
    """Fully saturated, full-value HSV hues from start_deg to end_deg."""

    def ramp(t):
        h = (start_deg + (end_deg - start_deg) * t) / 360.0
        return colorsys.hsv_to_rgb(h % 1.0, 1.0, 1.0)

    return ramp


# Hot iron: red rises over the first half, green over the second, blue over the last
# quarter, ending in white.
def hot_iron(t):
    return clamp01(2.0 * t), clamp01(2.0 * t - 1.0), clamp01(4.0 * t - 3.0)


# Visible spectrum: wavelengths 380 to 750 nm through the usual piecewise-linear
# wavelength-to-RGB approximation, with the intensity falling off near both ends of
# human vision and a display gamma of 0.8.
def spectrum(t):
    w = 380.0 + 370.0 * t
    if w < 440:
        r, g, b = -(w - 440) / 60.0, 0.0, 1.0
    elif w < 490:
        r, g, b = 0.0, (w - 440) / 50.0, 1.0
    elif w < 510:
        r, g, b = 0.0, 1.0, -(w - 510) / 20.0
    elif w < 580:
        r, g, b = (w - 510) / 70.0, 1.0, 0.0
    elif w < 645:
        r, g, b = 1.0, -(w - 645) / 65.0, 0.0
    else:
        r, g, b = 1.0, 0.0, 0.0
    if w < 420:
        f = 0.3 + 0.7 * (w - 380) / 40.0
    elif w > 700:
        f = 0.3 + 0.7 * (750 - w) / 50.0
    else:
        f = 1.0
    return tuple(0.0 if c <= 0.0 else (c * f) ** 0.8 for c in (r, g, b))


# Rainbow: the hue circle from blue (240 degrees) through cyan, green and yellow to red.
rainbow = hue_sweep(240.0, 0.0)


# Grey and rainbow: a grey ramp on the lower half (anatomy), the rainbow on the upper
# half (the overlaid measure).
def gray_rainbow(t):
    if t < 0.5:
        g = t / 0.5 * 0.75
        return g, g, g
    return rainbow((t - 0.5) / 0.5)


# Five ramps: five equal parts, each rising from a quarter to full intensity of its own
# colour (blue, green, yellow, red, white), so that levels read like contour bands.
def five_ramps(t):
    colours = [(0, 0, 1), (0, 1, 0), (1, 1, 0), (1, 0, 0), (1, 1, 1)]
    k = min(int(t * 5), 4)
    u = t * 5 - k
    f = 0.25 + 0.75 * u
    return tuple(c * f for c in colours[k])


MAPS = {
    # Black-body radiation (incandescence): black, dark red, orange, yellow, white.
    "blackbdy": anchors([
        (0.00, 0.00, 0.00, 0.00),
        (0.35, 0.70, 0.10, 0.05),
        (0.60, 0.95, 0.45, 0.05),
        (0.80, 1.00, 0.80, 0.25),
        (1.00, 1.00, 1.00, 1.00),
    ]),
    # Cardiac perfusion scale: black, purple, blue, green, yellow, red, white.
    "cardiac": anchors([
        (0.00, 0.00, 0.00, 0.00),
        (0.14, 0.35, 0.00, 0.50),
        (0.28, 0.00, 0.00, 1.00),
        (0.45, 0.00, 0.75, 0.35),
        (0.60, 0.20, 1.00, 0.00),
        (0.74, 1.00, 1.00, 0.00),
        (0.88, 1.00, 0.00, 0.00),
        (1.00, 1.00, 1.00, 1.00),
    ]),
    # Contour colours: the rainbow cut into 12 flat bands, one per iso-level interval.
    "concolor": bands(rainbow, 12),
    "fiveramp": five_ramps,
    # Bidirectional flow (colour Doppler): flow away in blue to cyan, none in black,
    # flow towards in red to yellow.
    "flow": anchors([
        (0.00, 0.50, 1.00, 1.00),
        (0.25, 0.00, 0.35, 1.00),
        (0.50, 0.00, 0.00, 0.00),
        (0.75, 1.00, 0.15, 0.00),
        (1.00, 1.00, 1.00, 0.50),
    ]),
    # Fusion overlay in 16 flat steps of the hot iron ramp, black to white.
    "fusion16": bands(hot_iron, 16),
    # Heat ramp through the cool colours: black, dark blue, violet, orange, white.
    "ge_color": anchors([
        (0.00, 0.00, 0.00, 0.00),
        (0.25, 0.00, 0.10, 0.60),
        (0.50, 0.60, 0.10, 0.70),
        (0.75, 1.00, 0.55, 0.10),
        (1.00, 1.00, 1.00, 1.00),
    ]),
    "grayrain": gray_rainbow,
    "hotiron": hot_iron,
    # Rainbow rising from black: black, violet, blue, cyan, green, yellow, orange, red.
    "nih": anchors([
        (0.00, 0.00, 0.00, 0.00),
        (0.15, 0.45, 0.00, 0.60),
        (0.30, 0.00, 0.00, 1.00),
        (0.45, 0.00, 1.00, 1.00),
        (0.60, 0.00, 1.00, 0.00),
        (0.75, 1.00, 1.00, 0.00),
        (0.87, 1.00, 0.50, 0.00),
        (1.00, 1.00, 0.00, 0.00),
    ]),
    "rainbow": rainbow,
    # Cool-to-warm diverging ramp: blue at the low end, light grey in the middle, red at
    # the high end.
    "redblue": anchors([
        (0.00, 0.230, 0.299, 0.754),
        (0.50, 0.865, 0.865, 0.865),
        (1.00, 0.706, 0.016, 0.150),
    ]),
    "spectrum": spectrum,
    # Thermography "iron" scale: black, deep blue, purple, red, orange, yellow, white.
    "trecscan": anchors([
        (0.00, 0.00, 0.00, 0.00),
        (0.15, 0.10, 0.00, 0.45),
        (0.35, 0.55, 0.00, 0.60),
        (0.55, 0.90, 0.15, 0.15),
        (0.72, 1.00, 0.50, 0.00),
        (0.88, 1.00, 0.85, 0.20),
        (1.00, 1.00, 1.00, 1.00),
    ]),
}


def to_byte(c):
    return int(math.floor(clamp01(c) * 255.0 + 0.5))


def colormap_xml(title, ramp):
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<COLORMAP title="%s" size="256">' % title]
    for i in range(256):
        r, g, b = (to_byte(c) / 255.0 for c in ramp(i / 255.0))
        lines.append('  <color index="%d" r="%.6f" g="%.6f" b="%.6f"/>' % (i, r, g, b))
    lines.append("</COLORMAP>")
    return "\n".join(lines) + "\n"


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    out = argv[1] if len(argv) > 1 else os.path.join(here, os.pardir, "colormap")
    os.makedirs(out, exist_ok=True)
    for name, ramp in MAPS.items():
        with open(os.path.join(out, name + ".xml"), "w", encoding="utf-8", newline="\n") as f:
            f.write(colormap_xml(name, ramp))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
