// Iso-surface extraction: turns a scalar volume into a welded triangle mesh that
// bounds the voxels picked by a threshold, an interval or a list of values.
//
// The walk holds two consecutive slices (as doubles) at a time per thread and
// triangulates each cube of eight neighbouring samples by one of six methods;
// vertices that cubes share are made once (isoslabs.h), giving the mesh that welding
// the cubes' own vertices would give. Everything here is GUI-free; the command that
// shows the dialog and adds the result to a 3D view is built on top of it.
#pragma once

#include "mesh/trimesh.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vexa::mesh {

// Order of the "Sélection de valeurs" list.
enum IsoSelection { kIsoThreshold = 0, kIsoInterval = 1, kIsoList = 2 };

// Order of the "Méthode de triangulation" list.
enum IsoMethod {
    kIsoCuberille = 0,
    kIsoMarchingCubes15 = 1,
    kIsoMarchingCubes33 = 2, // same cube rule as 15
    kIsoSimplified = 3,
    kIsoSimplifiedEmulation = 4, // same cube rule as 15
    kIsoSimplifiedTable = 5,
};

// The dialog values kept for the run, with their initial values.
struct IsoSurfaceSettings {
    int selection = kIsoThreshold;
    double seuil1 = 127.0;
    double seuil2 = 127.0;
    std::string values; // "Valeurs"
    double tolerance = 0.0;
    int method = kIsoMarchingCubes15;
    int region = 0; // 0 "Entière", 1 "Restreinte"
    int x1 = 0, y1 = 0, z1 = 0, x2 = 99, y2 = 99, z2 = 99;
    bool separateBodies = true; // "Séparation des corps"
    bool messages = false;
    bool limitPoints = false;
    int maxPoints = 100000;
    bool limitTriangles = false;
    int maxTriangles = 100000;
};

// The settings kept for the run. Several tasks may run the command at once, so a
// dialog is bound to a copy (isoSurfaceSettings) and only a validated box is kept
// (keepIsoSurfaceSettings); a cancelled one leaves the kept values as they were.
IsoSurfaceSettings isoSurfaceSettings();
void keepIsoSurfaceSettings(const IsoSurfaceSettings& validated);
// Back to the initial values (tests).
void resetIsoSurfaceSettings();

// The parameter description of the command's box.
std::string isoSurfaceDescription();

// Reads "Valeurs": numbers separated by blanks, ',' or ';'. False, with a reason in
// *error, when a token is not a finite number; an empty text gives an empty list.
bool parseIsoValues(const std::string& text, std::vector<double>& values, std::string* error);

// What one extraction is asked to do. A bound of -1 means "none" (the volume's edge);
// a negative limit means no limit.
struct IsoSurfaceParams {
    int selection = kIsoThreshold;
    double seuil1 = 127.0;
    double seuil2 = 127.0;
    std::vector<double> values;
    double tolerance = 0.0;
    int method = kIsoMarchingCubes15;
    int x1 = -1, y1 = -1, z1 = -1, x2 = -1, y2 = -1, z2 = -1;
    bool messages = false;
    int64_t maxPoints = -1;
    int64_t maxTriangles = -1;
    // Threads walking slabs of layers at once (0: chosen by the volume's size; limits
    // always walk on one) and layers per slab (0: chosen). Neither changes the result.
    int threads = 0;
    int slabLayers = 0;
};

// The parameters the settings stand for (region, limits, parsed list). False, with a
// reason, for an unparsable list; an empty list with Liste gives false and an empty
// reason: the command then ends without a word.
bool isoParamsFromSettings(
    const IsoSurfaceSettings& settings, IsoSurfaceParams& params, std::string* error);

// Optional observers of a run. Without a log sink the lines go to the message log.
struct IsoSurfaceHooks {
    LineSink log;
    std::function<void(int first, int last)> progressRange;
    std::function<void(int z)> progress;
    // Asked on the calling thread at least every 50 ms of work; true ends the run with
    // no mesh. Empty: the calling task's stop request.
    std::function<bool()> stopRequested;
};

// How a run ended, for callers that want more than the mesh.
struct IsoSurfaceReport {
    bool stoppedByLimit = false; // a points/triangles limit (or the mesh size cap) was hit
    bool stopped = false; // a stop was asked: no mesh, no reason
    int slabs = 0; // slice pairs (layers of cubes) processed
    int64_t pointsBeforeWeld = 0;
    double triangulationMs = 0.0; // measured only with messages on
};

// Fills out (dimX x dimY doubles, x fastest) with slice z. False stops the run.
using SliceReader = std::function<bool(int z, double* out)>;

// Extracts the surface of a dimX x dimY x dimZ volume read slice by slice. Returns a
// new welded mesh with its box computed (not finished), possibly empty, that the
// caller frees with triMeshFree; null with a reason in *error when the parameters or
// the box are refused, a slice cannot be read, or memory runs out; null with
// report->stopped and an empty reason when a stop was asked. The reader is called
// from one thread at a time.
TriMesh* extractIsoSurface(const SliceReader& reader, int dimX, int dimY, int dimZ,
    const IsoSurfaceParams& params, const IsoSurfaceHooks& hooks = {}, std::string* error = nullptr,
    IsoSurfaceReport* report = nullptr);

// The same on a dense volume in memory of the given sample type code (RGBA refused).
TriMesh* extractIsoSurfaceFromArray(int dimX, int dimY, int dimZ, int type, const void* samples,
    const IsoSurfaceParams& params, const IsoSurfaceHooks& hooks = {}, std::string* error = nullptr,
    IsoSurfaceReport* report = nullptr);

// The same on a block of the registry, read through its FRONT sections.
TriMesh* extractIsoSurfaceFromBlock(unsigned int blockId, const IsoSurfaceParams& params,
    const IsoSurfaceHooks& hooks = {}, std::string* error = nullptr,
    IsoSurfaceReport* report = nullptr);

// Merges vertices closer than 1e-10 into the lowest-numbered one and renumbers the
// triangles; points holds x, y, z triples; kept points keep their order. Grouping
// goes through a recursive box subdivision so distance tests stay within boxes of at
// most 2 units; when no coordinate is tiny or non-finite, closer means equal and a
// hash of the coordinates gives the same result faster.
void weldVertices(std::vector<float>& points, std::vector<int32_t>& triangles);

// One scene object the command adds to the image's 3D view (alpha 1.0).
struct IsoSurfaceObject {
    TriMesh* mesh = nullptr; // finished; owned by whoever takes the object
    std::string name;
    double rgb[3] {};
};

// The end of the command after extraction: takes the mesh, finishes it whole
// ("extract_surface_in") or split into its bodies ("extract_surface_out" each), with a
// random colour per object, and logs the figures. A null or empty mesh gives no object
// and no line.
std::vector<IsoSurfaceObject> isoSurfaceObjects(
    TriMesh* mesh, bool separateBodies, bool messages, const LineSink& log);

// Cube rules, exposed for tests. A case is a byte whose bit k marks corner k inside
// (corners 0..3 on slice z: (0,0) (1,0) (1,1) (0,1); 4..7 the same on z + 1).

// Marching cubes: the intersection edges (corner pairs) and triangles (indices into
// the edges) of a case, oriented so that normals point from inside to outside.
constexpr int kMaxMarchingTriangles = 12;
struct MarchingCase {
    int base = 0; // base configuration 0..14
    int nbPoints = 0;
    uint8_t edges[12][2] {};
    int nbTriangles = 0;
    uint8_t triangles[kMaxMarchingTriangles][3] {};
    bool faceResolved = false; // rebuilt so ambiguous faces keep inside corners apart
};
const MarchingCase& marchingCase(int caseIndex);

// Simplified rule: triangles joining cube corners, three corner numbers each in the
// case numbering above; at most 9 triangles.
std::vector<int> simplifiedCaseTriangles(int caseIndex);

} // namespace vexa::mesh
