#!/usr/bin/python3
"""Times of the peer on the input mesh_bench wrote to $TMPDIR: iso-surfaces of the two
256^3 volumes (flying edges on one and two threads, classic marching cubes) and 20
passes of windowed-sinc smoothing of the noise surface. Prints "name milliseconds"
lines (median of several runs), like mesh_bench. usage: vtk_mesh.py [runs]"""
import os
import sys
import time

import vtk

SIZE = 256


def temp(name):
    return os.path.join(os.environ.get("TMPDIR") or "/tmp", name)


def volume(name, scalar_type, components_size):
    data = open(temp(name), "rb").read()
    assert len(data) == SIZE ** 3 * components_size, name
    importer = vtk.vtkImageImport()
    importer.CopyImportVoidPointer(data, len(data))
    if scalar_type == "float":
        importer.SetDataScalarTypeToFloat()
    else:
        importer.SetDataScalarTypeToUnsignedChar()
    importer.SetNumberOfScalarComponents(1)
    importer.SetWholeExtent(0, SIZE - 1, 0, SIZE - 1, 0, SIZE - 1)
    importer.SetDataExtentToWholeExtent()
    importer.Update()
    image = vtk.vtkImageData()
    image.DeepCopy(importer.GetOutput())
    return image


CPU = {"ms": 0.0}  # processor time per run of the last median, like mesh_bench's cpu=


def median_ms(runs, work):
    times = []
    cpu_start = time.process_time()
    for _ in range(runs):
        start = time.perf_counter()
        work()
        times.append(1000 * (time.perf_counter() - start))
    CPU["ms"] = 1000 * (time.process_time() - cpu_start) / runs
    times.sort()
    return times[len(times) // 2]


def contour(name, filter_class, image, level, threads, runs):
    vtk.vtkSMPTools.Initialize(threads)
    result = {}

    def work():
        f = filter_class()
        f.SetInputData(image)
        f.SetValue(0, level)
        if hasattr(f, "ComputeNormalsOff"):
            f.ComputeNormalsOff()
            f.ComputeGradientsOff()
            f.ComputeScalarsOff()
        f.Update()
        result["out"] = f.GetOutput()

    ms = median_ms(runs, work)
    out = result["out"]
    print(f"{name} {ms:.1f} {out.GetNumberOfPoints()} {out.GetNumberOfPolys()} cpu={CPU['ms']:.1f}",
          flush=True)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    vtk.vtkSMPTools.SetBackend("STDThread")
    sphere = volume("vexa_mesh_sphere_f32.raw", "float", 4)
    noise = volume("vexa_mesh_noise_u8.raw", "uchar", 1)
    for label, image, level in (("sphere", sphere, 0.0), ("noise", noise, 127.5)):
        contour(f"fe_{label}_1t", vtk.vtkFlyingEdges3D, image, level, 1, runs)
        contour(f"fe_{label}_2t", vtk.vtkFlyingEdges3D, image, level, 2, runs)
        contour(f"mc_{label}", vtk.vtkMarchingCubes, image, level, 1, runs)

    vtk.vtkSMPTools.Initialize(1)
    reader = vtk.vtkSTLReader()
    reader.SetFileName(temp("vexa_mesh_noise.stl"))
    reader.Update()
    mesh = reader.GetOutput()

    def smooth():
        f = vtk.vtkWindowedSincPolyDataFilter()
        f.SetInputData(mesh)
        f.SetNumberOfIterations(20)
        f.Update()

    ms = median_ms(max(1, runs // 2), smooth)
    print(f"windowed_sinc_20_noise {ms:.1f} cpu={CPU['ms']:.1f}", flush=True)


if __name__ == "__main__":
    main()
