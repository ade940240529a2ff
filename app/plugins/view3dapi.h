/* The 3D view callbacks of plug-ins: scene objects and the views that show them.
 *
 * vexaObject3dCreate makes an object apart from any view; setters work on it there
 * and after vexaView3dAddObject3d has moved it into a view's scene. Object
 * identifiers are unique in the process. A view is named by its record's identifier,
 * or by the identifier vexaView3dNew gave the running task (the view is then shown, as
 * its scene must exist). Every callback does nothing and returns 0 for an unknown
 * view or object, a null pointer or a refused value; success is 1 unless told
 * otherwise. Names joined by "=" are one function in the callback table. */
#ifndef VEXA_VIEW3DAPI_H
#define VEXA_VIEW3DAPI_H

#include "mesh/meshapi.h"

#include "vexa_export.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* New object of a type (1 mesh, 2 curve, 3 volume, 4 textured slice, 5 primitive),
 * unnamed, grey, opaque, without mesh; its identifier, 0 for another type.
 * = dozObject3dCreate */
VEXA_API unsigned int vexaObject3dCreate(int type);
/* = dozObject3dSetName */
VEXA_API int vexaObject3dSetName(unsigned int objectId, const char* name);
/* Diffuse and ambient colour, components in [0, 1]. = dozObject3dSetColor */
VEXA_API int vexaObject3dSetColor(unsigned int objectId, double r, double g, double b, double a);
/* 0 opaque .. 1 invisible. */
VEXA_API int vexaObject3dSetTransparency(unsigned int objectId, double transparency);
/* Copies the mesh (null clears it). With an extra block: hasMatrix 1 makes its matrix
 * the object's placement, and per-vertex colours are taken. 0 when the mesh's counts or
 * indices are inconsistent. = dozObject3dSetMesh3d */
VEXA_API int vexaObject3dSetMesh3d(unsigned int objectId, const Mesh3d* mesh);
/* A tube of that radius through count points (3 doubles each, count >= 2); the
 * object becomes a curve. = dozObject3dSetCurve3d */
VEXA_API int vexaObject3dSetCurve3d(
    unsigned int objectId, const double* points, int32_t count, double radius);
/* RGBA copy of width x height pixels (first row first) and, when uv is not null, u, v
 * per point of the object's mesh (nbPoints must be its point count). Sides above 16384
 * are refused with a message. = dozObject3dSetTexture */
VEXA_API int vexaObject3dSetTexture(unsigned int objectId, const uint8_t* rgba, int width,
    int height, const float* uv, int32_t nbPoints);
/* Makes the object a volume of a block's samples (value scale applied), mapped through
 * [low, high] onto the block's palette, each voxel as opaque as its level is high:
 * values at low and below are clear. low == high takes the block's own range. Drawn
 * by ray-marching in its box, (0, 0, 0) .. (dimX, dimY, dimZ) until
 * vexaObject3dSetVolumeLocation moves it. A refused size is reported with a message.
 * = dozObject3dSetVolumeData */
VEXA_API int vexaObject3dSetVolumeData(
    unsigned int objectId, unsigned int blockId, double low, double high);
/* The volume's box in data units: its first corner and its sizes (finite, sizes
 * positive). = dozObject3dSetVolumeLocation */
VEXA_API int vexaObject3dSetVolumeLocation(
    unsigned int objectId, double x, double y, double z, double width, double height, double depth);
/* Makes the object a volume of nx x ny x nz floats (x fastest) coloured by a transfer
 * function of count points, 5 doubles each: value, red, green, blue, alpha (values
 * strictly increasing, components in [0, 1]; alpha is the opacity of one voxel).
 * = dozObject3dSetVolume */
VEXA_API int vexaObject3dSetVolume(unsigned int objectId, const float* values, int nx, int ny,
    int nz, const double* transfer, int32_t count);
/* 0 clamp, 1 repeat, 2 mirror. = dozObject3dSetWrapping */
VEXA_API int vexaObject3dSetWrapping(unsigned int objectId, int wrapping);

/* Moves an object made apart into the view; it is shown in the first sub-view. The
 * camera frames the scene after an add to an empty view, and after later adds while
 * nobody has moved it since. = dozDataView3DAddObject3d */
VEXA_API int vexaView3dAddObject3d(unsigned int viewId, unsigned int objectId);
/* = dozDataView3DDeleteObject3d */
VEXA_API int vexaView3dDeleteObject3d(unsigned int viewId, unsigned int objectId);
/* Removes every object of that name: how many were removed.
 * = dozDataView3DDeleteObject3dByName */
VEXA_API int vexaView3dDeleteObject3dByName(unsigned int viewId, const char* name);
/* The reference box, in data units. */
VEXA_API int vexaView3dGetSize(unsigned int viewId, double* width, double* height, double* depth);
/* Sizes must be finite and positive. */
VEXA_API int vexaView3dSetSize(unsigned int viewId, double width, double height, double depth);
/* Camera of the current sub-view: eye, target and up vector (3 doubles each) and a
 * zoom factor (1: the whole scene; not finite or not positive keeps the zoom). */
VEXA_API int vexaView3dSetCamera(unsigned int viewId, const double eye[3], const double target[3],
    const double up[3], double zoom);
/* Renders the view offscreen at width x height into a new RGBA image, an output of the
 * running task shown at once; its identifier. 0, with a line in the log, when no OpenGL rendering
 * can be had or the size is refused. */
VEXA_API unsigned int vexaView3dSnapshot(unsigned int viewId, int width, int height);

/* Adds the mesh, named name in colour (r, g, b), to the 3D view of an image (the view
 * itself when id names one), framed as by vexaView3dAddObject3d: the new object's
 * identifier. */
VEXA_API unsigned int dozDataAddSurface3d(
    unsigned int id, const Mesh3d* mesh, const char* name, double r, double g, double b);

#ifdef __cplusplus
}
#endif

#endif
