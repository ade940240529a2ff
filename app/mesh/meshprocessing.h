// The processing commands of a mesh object in the 3D view, without the view: the
// settings remembered for the run, the parameter descriptions their boxes are built
// from, the names and colours of the objects they make, and the mesh algorithms
// (mesh in, new mesh out; the block commands change the mesh in place).
//
// Every function refuses bad input (null or empty mesh, indices out of range,
// non-finite coordinates, non-finite or out-of-range parameters) by returning null or
// 0 and, when error is given, a reason; the input mesh is then left as it was.
#pragma once

#include "mesh/trimesh.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vexa::mesh {

struct TranslationSettings {
    double dx = 0.0;
    double dy = 0.0;
    double dz = 0.0;
};

// Order of the "Point fixe" list.
enum FixedPoint : int32_t {
    kFixedOrigin = 0, // "Origine"
    kFixedBarycentre = 1, // "Barycentre"
};

struct AffinitySettings {
    int32_t fixedPoint = kFixedOrigin;
    double sx = 1.0;
    double sy = 1.0;
    double sz = 1.0;
};

struct SmoothingSettings {
    double coefficient = 1.0;
};

struct SimplificationSettings {
    double threshold = 0.01;
    int32_t phases = 5;
};

struct BlockSettings {
    int32_t maxFacets = 5000;
    double minVolumeRatio = 0.5; // kept and checked; no rule of the partition uses it
    int32_t minFacets = 50; // likewise
    int32_t visibilityLevel = 100; // handed to the view with the partition
};

struct MeshProcessingSettings {
    TranslationSettings translation;
    AffinitySettings affinity;
    SmoothingSettings smoothing;
    SimplificationSettings simplification;
    BlockSettings blocks;
};

// The process-wide settings. Several tasks may ask at once, so a parameter box is
// bound to a copy and a validated box stores only its own command's part.
MeshProcessingSettings meshProcessingSettings();
void keepMeshProcessingSettings(const TranslationSettings& validated);
void keepMeshProcessingSettings(const AffinitySettings& validated);
void keepMeshProcessingSettings(const SmoothingSettings& validated);
void keepMeshProcessingSettings(const SimplificationSettings& validated);
void keepMeshProcessingSettings(const BlockSettings& validated);
// Back to the initial values, for tests.
void resetMeshProcessingSettings();

// Parameter descriptions of the command boxes; their bindings follow the field order
// of the settings records above.
std::string translationDescription();
std::string affinityDescription();
std::string smoothingDescription();
std::string simplificationDescription();
std::string blockDescription();

enum class MeshCommand {
    Translation,
    Affinity,
    Smoothing,
    Simplification,
    Separation,
};

// Name of every part made by "Séparation".
inline constexpr const char* kSeparatedPartName = "extract_surface_out";

struct ObjectLook {
    std::string name;
    double colour[4] = { 0, 0, 0, 1 }; // red, green, blue, alpha in [0, 1]
};

// Name and colour of the object a command makes from a source object. Translation
// keeps both; Affinité keeps the name and the colour with alpha 1; Lissage and
// Simplification take the next "smooth_%d" / "simplifie%d" name (each counter starts
// at 1 and advances by one per call) and a random colour (mode 1); Séparation gives
// kSeparatedPartName and a random colour. A null source colour reads as opaque black.
ObjectLook replacementLook(
    MeshCommand command, const std::string& sourceName, const double sourceColour[4]);

// Both name counters back to 1, for tests.
void resetNameCounters();

// "Informations Scène": the box title and its text for a view's object and facet counts.
inline constexpr const char* kSceneInformationTitle = "Informations Scène";
std::string sceneInformationText(int64_t objectCount, int64_t facetCount);

// Geometric commands give a new mesh, owned by the caller (triMeshFree). The results have their box
// computed. Figures (barycentre, surface, volume) that the source had computed are recomputed for
// the moved or scaled copy, so that they never describe the old geometry; results whose source had
// none have none.

// "Translation": a copy moved by (dx, dy, dz).
TriMesh* translateMesh(
    const TriMesh* mesh, const TranslationSettings& settings, std::string* error = nullptr);

// "Affinité": a copy scaled by (sx, sy, sz) about the origin or about the barycentre
// (mean of the triangle corners). A zero scale is refused: it would flatten the mesh.
TriMesh* scaleMeshAbout(
    const TriMesh* mesh, const AffinitySettings& settings, std::string* error = nullptr);

// "Lissage", one pass: each vertex moves to (c a + p) / (c + 1), a being the mean of its
// neighbours weighted by inverse distance. Coefficient 0 leaves the mesh unchanged; a
// negative coefficient is refused. A vertex with a neighbour at its own place keeps
// its place (the weighted mean tends to it).
TriMesh* smoothMesh(const TriMesh* mesh, double coefficient, std::string* error = nullptr);

// passes passes of "Lissage", each on the previous result: the same mesh as that many
// calls of smoothMesh, with the neighbour lists built once. passes < 1 is refused.
TriMesh* smoothMeshPasses(
    const TriMesh* mesh, double coefficient, int32_t passes, std::string* error = nullptr);

// Line sink for the log lines of the commands (the message log when empty).
using MeshLogSink = LineSink;

// "Simplification": up to phases passes of flat-triangle collapse, each logged. With
// phases < 1 the result is a copy of the input. The passes stop early once one changes
// nothing (any further pass would give the same mesh). The result can be empty when
// everything collapsed.
TriMesh* simplifyMesh(const TriMesh* mesh, double threshold, int32_t phases,
    const MeshLogSink& sink = {}, std::string* error = nullptr);

// One phase of simplifyMesh, numbered phaseNumber in its log line; *changed tells
// whether anything was collapsed or dropped.
TriMesh* simplifyPhase(const TriMesh& mesh, double threshold, int32_t phaseNumber,
    const MeshLogSink& sink, bool* changed = nullptr);

// "Séparation": the connected parts of the mesh. Two triangles are connected when they
// share a vertex, or vertices at exactly the same place (so that unwelded meshes read
// from files separate into their bodies, not into single triangles). Parts come in
// the order of their first triangle; each keeps its triangles in mesh order and its
// used vertices in increasing index order. Vertices used by no triangle are dropped.
// Every part has its box computed and is not finished. Empty on refusal.
std::vector<TriMesh*> splitIntoParts(const TriMesh* mesh, std::string* error = nullptr);

// splitIntoParts, then triMeshFinish on each part, its report lines going to sink.
std::vector<TriMesh*> separateMesh(
    const TriMesh* mesh, const MeshLogSink& sink = {}, std::string* error = nullptr);

// The partition tree of a mesh, or null when the mesh has no more triangles than
// settings.maxFacets (or on refusal: then *error is set). Its shared record points at
// the mesh's point array, which must outlive the tree. Every split that happens moves
// triangles into at least two children, so the depth is bounded by the triangle count
// only: walks over the tree must not recurse.
MeshBlock* buildBlocks(
    const TriMesh* mesh, const BlockSettings& settings, std::string* error = nullptr);

// Releases a tree, logging "Debut Liberation Tableau Noeud" and "Fin Liberation
// Tableau Noeud" around it.
void freeBlocks(MeshBlock* root, const MeshLogSink& sink = {});

// "Reconditionnement" on an object's own mesh: logs the start with the object's name,
// frees the old partition, stores the new one (null for a small mesh) and logs the end.
// 0 on refusal, with the mesh and its old partition untouched.
int reconditionMesh(TriMesh* mesh, const std::string& objectName, const BlockSettings& settings,
    const MeshLogSink& sink = {}, std::string* error = nullptr);

// "Déconditionnement": frees the partition. 0 when the mesh has none.
int unconditionMesh(TriMesh* mesh, const MeshLogSink& sink = {});

} // namespace vexa::mesh
