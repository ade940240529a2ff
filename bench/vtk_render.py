#!/usr/bin/python3
"""Frame time of the peer renderer on the meshes scene_bench wrote: offscreen at
1024 x 768, the camera turned a little every frame, each frame drawn and read back
(the same work as our snapshot path). usage: vtk_render.py mesh.stl [seconds]"""
import sys
import time

import vtk


def main():
    path = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 3.0
    reader = vtk.vtkSTLReader()
    reader.SetFileName(path)
    normals = vtk.vtkPolyDataNormals()  # smooth shading, as ours uses vertex normals
    normals.SetInputConnection(reader.GetOutputPort())
    mapper = vtk.vtkPolyDataMapper()
    mapper.SetInputConnection(normals.GetOutputPort())
    actor = vtk.vtkActor()
    actor.SetMapper(mapper)
    renderer = vtk.vtkRenderer()
    renderer.AddActor(actor)
    window = vtk.vtkRenderWindow()
    window.SetOffScreenRendering(1)
    window.SetSize(1024, 768)
    window.AddRenderer(renderer)
    renderer.ResetCamera()
    window.Render()  # upload outside the timing, as ours does on its first frame
    grab = vtk.vtkUnsignedCharArray()
    frames = 0
    start = time.perf_counter()
    while time.perf_counter() - start < seconds or frames < 2:
        renderer.GetActiveCamera().Azimuth(0.6 * (frames % 7 + 1))
        window.Render()
        window.GetRGBACharPixelData(0, 0, 1023, 767, 0, grab)
        frames += 1
    elapsed = time.perf_counter() - start
    triangles = reader.GetOutput().GetNumberOfPolys()
    print(f"{path}: {triangles} triangles, {1000 * elapsed / frames:.1f} ms/frame over {frames} frames")


if __name__ == "__main__":
    main()
