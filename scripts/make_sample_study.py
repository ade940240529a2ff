#!/usr/bin/python3
"""Writes a small sample study for the workstation.

    python3 scripts/make_sample_study.py [OUTPUT_FOLDER]     (default: ./sample-study)

Layout written under OUTPUT_FOLDER:

    Demo/DATA/SEISMIC/demo.gdr          8-bit volume: layered reflectors folded into a dome
    Demo/DATA/HORIZONS/toit_dome.hor    the dome's top reflector as a surface (Data3D_V1.0)
    Demo/DATA/FAULTS/faille_1.flt       a steep fault plane (Data3D_V1.0)
    Demo/DATA/REGIONS/reservoir.off     a closed body under the dome (OFF)
    Etudes/Demo.etu                     the study file: its first line names Demo/
    vexa.xml                            a configuration whose study directory is Etudes/

Then start the workstation with "-config OUTPUT_FOLDER/vexa.xml" (or add the PATHS
node of that file to the configuration beside the program) and open the study from
the study chooser. Coordinates of the meshes are in samples of the volume: x along
its width, y downwards along its height, z along its depth.
"""

import math
import os
import sys

WIDTH, HEIGHT, DEPTH = 128, 100, 96


def horizon_y(x, z):
    """Depth in samples of the dome's top reflector."""
    dx, dz = (x - 60.0) / 40.0, (z - 50.0) / 35.0
    return 40.0 + 0.08 * x - 18.0 * math.exp(-(dx * dx + dz * dz))


def fault_x(y, z):
    """The fault plane: x of the plane at depth y and position z."""
    return 96.0 + 0.25 * (y - 50.0) + 0.1 * (z - 48.0)


def write_gdr(path, width, height, depth, samples):
    header = bytearray(b" " * 256)
    header[0:8] = b"GDR 1.0 "
    for offset, value in ((8, width), (14, height), (30, depth)):
        text = str(value).encode()
        header[offset:offset + len(text)] = text
    header[27:28] = b"0"  # unsigned 8-bit samples
    header[39:40] = b"0"
    with open(path, "wb") as out:
        out.write(bytes(header))
        out.write(samples)


def volume_samples():
    samples = bytearray(WIDTH * HEIGHT * DEPTH)
    index = 0
    for z in range(DEPTH):
        for y in range(HEIGHT):
            for x in range(WIDTH):
                throw = 8.0 if x > fault_x(y, z) else 0.0
                t = y - throw - horizon_y(x, z)
                level = 0.5 * math.sin(t * 0.6) + 0.25 * math.sin(t * 1.4 + 0.03 * x)
                h = t / 2.0
                level += 0.9 * (1.0 - 2.0 * h * h) * math.exp(-h * h)
                noise = ((x * 73856093) ^ (y * 19349663) ^ (z * 83492791)) % 1000
                level += (noise / 1000.0 - 0.5) * 0.1
                samples[index] = max(0, min(255, int(128 + 100 * level)))
                index += 1
    return bytes(samples)


def write_standard(path, colour, points, triangles):
    lines = ["Data3D_V1.0", "rouge : %d" % colour[0], "vert : %d" % colour[1],
             "bleu : %d" % colour[2], "nbp : %d" % len(points)]
    lines += ["%d : %.4f %.4f %.4f" % (i, p[0], p[1], p[2]) for i, p in enumerate(points)]
    lines.append("nbf : %d " % len(triangles))
    lines += ["%d %d %d" % t for t in triangles]
    with open(path, "w", newline="\n") as out:
        out.write("\n".join(lines) + "\n")


def grid_triangles(columns, rows):
    triangles = []
    for r in range(rows - 1):
        for c in range(columns - 1):
            a = r * columns + c
            triangles.append((a, a + 1, a + columns))
            triangles.append((a + 1, a + columns + 1, a + columns))
    return triangles


def horizon_mesh():
    step = 4
    xs = list(range(0, WIDTH, step)) + [WIDTH - 1]
    zs = list(range(0, DEPTH, step)) + [DEPTH - 1]
    points = [(x, horizon_y(x, z), z) for z in zs for x in xs]
    return points, grid_triangles(len(xs), len(zs))


def fault_mesh():
    step = 5
    ys = list(range(0, HEIGHT, step)) + [HEIGHT - 1]
    zs = list(range(0, DEPTH, step)) + [DEPTH - 1]
    points = [(fault_x(y, z), y, z) for z in zs for y in ys]
    return points, grid_triangles(len(ys), len(zs))


def write_off(path, centre, radii, rings=12, sectors=20):
    """A closed ellipsoid: two poles and rings between them."""
    cx, cy, cz = centre
    rx, ry, rz = radii
    points = [(cx, cy - ry, cz)]
    for k in range(1, rings):
        a = math.pi * k / rings
        for j in range(sectors):
            b = 2.0 * math.pi * j / sectors
            points.append((cx + rx * math.sin(a) * math.cos(b), cy - ry * math.cos(a),
                           cz + rz * math.sin(a) * math.sin(b)))
    points.append((cx, cy + ry, cz))
    south = len(points) - 1
    faces = []
    for j in range(sectors):
        faces.append((0, 1 + (j + 1) % sectors, 1 + j))
    for k in range(rings - 2):
        s = 1 + k * sectors
        for j in range(sectors):
            a, b = s + j, s + (j + 1) % sectors
            faces.append((a, b, a + sectors))
            faces.append((b, b + sectors, a + sectors))
    last = 1 + (rings - 2) * sectors
    for j in range(sectors):
        faces.append((last + j, last + (j + 1) % sectors, south))
    with open(path, "w", newline="\n") as out:
        out.write("OFF\n%d %d 0\n" % (len(points), len(faces)))
        for p in points:
            out.write("%.4f %.4f %.4f\n" % p)
        for f in faces:
            out.write("3 %d %d %d\n" % f)


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "sample-study")
    study = os.path.join(root, "Demo")
    data = os.path.join(study, "DATA")
    for folder in ("SEISMIC", "HORIZONS", "FAULTS", "REGIONS"):
        os.makedirs(os.path.join(data, folder), exist_ok=True)
    os.makedirs(os.path.join(root, "Etudes"), exist_ok=True)

    write_gdr(os.path.join(data, "SEISMIC", "demo.gdr"), WIDTH, HEIGHT, DEPTH, volume_samples())
    points, triangles = horizon_mesh()
    write_standard(os.path.join(data, "HORIZONS", "toit_dome.hor"), (230, 160, 40), points,
                   triangles)
    points, triangles = fault_mesh()
    write_standard(os.path.join(data, "FAULTS", "faille_1.flt"), (200, 40, 40), points,
                   triangles)
    write_off(os.path.join(data, "REGIONS", "reservoir.off"), (60.0, 38.0, 50.0),
              (22.0, 5.0, 16.0))

    with open(os.path.join(root, "Etudes", "Demo.etu"), "w", newline="\n") as out:
        out.write(study + "/\n")
    etudes = os.path.join(root, "Etudes")
    with open(os.path.join(root, "vexa.xml"), "w", newline="\n") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<VEXA>\n  <PATHS>\n'
                  '    <STUDY>\n      <PATH>%s</PATH>\n    </STUDY>\n  </PATHS>\n</VEXA>\n'
                  % etudes.replace("&", "&amp;").replace("<", "&lt;"))
    print("Etude écrite dans %s" % study)
    print("Ouvrir avec : vexa -config %s" % os.path.join(root, "vexa.xml"))


if __name__ == "__main__":
    main()
