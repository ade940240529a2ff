#include "scene/objectcommands.h"

#include "host/host.h"
#include "mesh/meshformats.h"
#include "mesh/meshprocessing.h"
#include "mesh/randomcolour.h"
#include "mesh/shapecommand.h"
#include "params/paramapi.h"
#include "params/parambox.h"
#include "scene/volume.h"

#include "vexa_types.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace vexa::scene {

namespace {

using mesh::MeshCommand;

constexpr const char* kCaption = "Objet 3D";

void refuse(const std::string& text)
{
    hostMessageBox(kCaption, text);
}

// The source object's look as replacementLook reads it.
struct Source {
    std::string name;
    double colour[4] = { 0, 0, 0, 1 };
    TriMeshPtr mesh;
};

// Name, colour and a copy of the mesh of a mesh object; false (nothing to do) when the
// object is unknown, not a mesh object or has no mesh.
bool readSource(const Scene& scene, std::uint32_t id, Source& source)
{
    bool isMesh = false;
    scene.readObject(id, [&](const SceneObject& object) {
        isMesh = object.type == OBJECT_MESH && object.mesh;
        source.name = object.name;
        const Colour& c = object.material.diffuse;
        source.colour[0] = c.r;
        source.colour[1] = c.g;
        source.colour[2] = c.b;
        source.colour[3] = c.a;
    });
    if (!isMesh)
        return false;
    source.mesh.reset(scene.copyMesh(id));
    return source.mesh != nullptr;
}

// Adds an object holding a copy of made, with that look, to the sub-views the source
// was shown in.
std::uint32_t addMade(
    Scene& scene, const TriMesh* made, const mesh::ObjectLook& look, std::uint32_t viewMask)
{
    auto object = std::make_unique<SceneObject>();
    object->name = look.name;
    object->type = OBJECT_MESH;
    TriMesh* copy = triMeshCopy(made);
    if (!copy)
        return 0;
    object->mesh.reset(copy);
    const double* c = look.colour;
    object->material.diffuse = { c[0], c[1], c[2], c[3] };
    object->material.ambient = { c[0] * 0.3, c[1] * 0.3, c[2] * 0.3, c[3] };
    return scene.addObject(std::move(object), viewMask);
}

std::uint32_t viewMaskOf(const Scene& scene, std::uint32_t id)
{
    std::uint32_t mask = 1;
    scene.readObject(id, [&](const SceneObject& object) { mask = object.viewMask; });
    return mask;
}

// Replaces the source object by one holding made (owned by the caller). The new object
// is added before the source goes, under one lock, so the window never shows the view
// without either.
int replaceObject(
    Scene& scene, std::uint32_t id, const Source& source, const TriMesh* made, MeshCommand command)
{
    const mesh::ObjectLook look = mesh::replacementLook(command, source.name, source.colour);
    std::lock_guard lock(scene.mutex());
    if (!scene.hasObject(id))
        return 0; // removed while the box was open
    if (!addMade(scene, made, look, viewMaskOf(scene, id)))
        return 0;
    scene.removeObject(id);
    return 1;
}

int translation(Scene& scene, std::uint32_t id, Source& source)
{
    mesh::TranslationSettings s = mesh::meshProcessingSettings().translation;
    const std::string description = mesh::translationDescription();
    if (dozBoxParameter(description.c_str(), &s.dx, &s.dy, &s.dz) != 1)
        return 0;
    std::string error;
    TriMeshPtr made(mesh::translateMesh(source.mesh.get(), s, &error));
    if (!made) {
        refuse(error.empty() ? "Translation impossible" : error);
        return 0;
    }
    mesh::keepMeshProcessingSettings(s);
    return replaceObject(scene, id, source, made.get(), MeshCommand::Translation);
}

int affinity(Scene& scene, std::uint32_t id, Source& source)
{
    mesh::AffinitySettings s = mesh::meshProcessingSettings().affinity;
    const std::string description = mesh::affinityDescription();
    if (dozBoxParameter(description.c_str(), &s.fixedPoint, &s.sx, &s.sy, &s.sz) != 1)
        return 0;
    std::string error;
    TriMeshPtr made(mesh::scaleMeshAbout(source.mesh.get(), s, &error));
    if (!made) {
        refuse(error.empty() ? "Affinité impossible" : error);
        return 0;
    }
    mesh::keepMeshProcessingSettings(s);
    return replaceObject(scene, id, source, made.get(), MeshCommand::Affinity);
}

int smoothing(Scene& scene, std::uint32_t id, Source& source)
{
    mesh::SmoothingSettings s = mesh::meshProcessingSettings().smoothing;
    const std::string description = mesh::smoothingDescription();
    if (dozBoxParameter(description.c_str(), &s.coefficient) != 1)
        return 0;
    std::string error;
    TriMeshPtr made(mesh::smoothMesh(source.mesh.get(), s.coefficient, &error));
    if (!made) {
        refuse(error.empty() ? "Lissage impossible" : error);
        return 0;
    }
    mesh::keepMeshProcessingSettings(s);
    return replaceObject(scene, id, source, made.get(), MeshCommand::Smoothing);
}

int simplification(Scene& scene, std::uint32_t id, Source& source)
{
    mesh::SimplificationSettings s = mesh::meshProcessingSettings().simplification;
    const std::string description = mesh::simplificationDescription();
    if (dozBoxParameter(description.c_str(), &s.threshold, &s.phases) != 1)
        return 0;
    std::string error;
    TriMeshPtr made(
        mesh::simplifyMesh(source.mesh.get(), s.threshold, s.phases, mesh::postLogLine, &error));
    if (!made) {
        refuse(error.empty() ? "Simplification impossible" : error);
        return 0;
    }
    mesh::keepMeshProcessingSettings(s);
    return replaceObject(scene, id, source, made.get(), MeshCommand::Simplification);
}

int separation(Scene& scene, std::uint32_t id, Source& source)
{
    std::string error;
    std::vector<TriMesh*> parts = mesh::separateMesh(source.mesh.get(), mesh::postLogLine, &error);
    std::vector<TriMeshPtr> owned;
    for (TriMesh* part : parts)
        owned.emplace_back(part);
    if (owned.empty()) {
        refuse(error.empty() ? "Séparation impossible" : error);
        return 0;
    }
    std::lock_guard lock(scene.mutex());
    if (!scene.hasObject(id))
        return 0;
    const std::uint32_t mask = viewMaskOf(scene, id);
    std::vector<std::uint32_t> added;
    for (const TriMeshPtr& part : owned) {
        if (part->nbPoints <= 0 || part->nbTriangles <= 0)
            continue;
        const mesh::ObjectLook look
            = mesh::replacementLook(MeshCommand::Separation, source.name, source.colour);
        const std::uint32_t made = addMade(scene, part.get(), look, mask);
        if (!made) {
            // All or nothing: the source stays when a part cannot be kept.
            for (std::uint32_t other : added)
                scene.removeObject(other);
            refuse("Séparation impossible : mémoire insuffisante");
            return 0;
        }
        added.push_back(made);
    }
    if (added.empty())
        return 0;
    scene.removeObject(id);
    return 1;
}

int recondition(Scene& scene, std::uint32_t id, const Source& source)
{
    mesh::BlockSettings s = mesh::meshProcessingSettings().blocks;
    const std::string description = mesh::blockDescription();
    if (dozBoxParameter(
            description.c_str(), &s.maxFacets, &s.minVolumeRatio, &s.minFacets, &s.visibilityLevel)
        != 1)
        return 0;
    mesh::keepMeshProcessingSettings(s);
    std::string error;
    int done = 0;
    scene.editObject(id, [&](SceneObject& object) {
        if (object.type != OBJECT_MESH || !object.mesh)
            return false;
        done = mesh::reconditionMesh(object.mesh.get(), source.name, s, mesh::postLogLine, &error);
        return done != 0; // the renderer draws by blocks: it must upload again
    });
    if (!done && !error.empty())
        refuse(error);
    return done;
}

int uncondition(Scene& scene, std::uint32_t id)
{
    int done = 0;
    scene.editObject(id, [&](SceneObject& object) {
        if (object.type == OBJECT_MESH && object.mesh)
            done = mesh::unconditionMesh(object.mesh.get(), mesh::postLogLine);
        return done != 0;
    });
    return done;
}

int save(const Source& source)
{
    int32_t format = static_cast<int32_t>(mesh::lastMeshSaveFormat());
    char path[PARAM_PATH_BUFFER] = {};
    ParamBox* box = dozBoxParameterAdd(nullptr, mesh::kMeshSaveDescription, &format, path);
    // A new file is the usual answer: the chooser takes names that do not exist yet.
    params::chooseNamesToWrite(box, "Sauvegarde");
    if (dozBoxParameterDialog(box) != 1)
        return 0;
    if (!path[0]) {
        refuse("Sauvegarde : aucun nom de fichier donné");
        return 0;
    }
    const auto chosen = static_cast<mesh::MeshSaveFormat>(format);
    mesh::setLastMeshSaveFormat(chosen);
    if (!mesh::writeMeshAs(chosen, path, source.mesh.get(), source.colour[0], source.colour[1],
            source.colour[2])) {
        refuse(std::string("Sauvegarde impossible dans ") + path);
        return 0;
    }
    return 1;
}

// "Ajouter une texture 3D": the user picks one of the view's volumes; each vertex of
// the mesh takes the volume's colour where it lies, as it is placed in the view now
// (vertices outside keep the object's colour). The colours stay with the mesh.
int addVolumeTexture(Scene& scene, std::uint32_t id)
{
    constexpr const char* kTitle = "Ajouter une texture 3D";
    std::vector<std::uint32_t> volumes;
    std::vector<std::string> names;
    {
        std::lock_guard lock(scene.mutex());
        for (const auto& object : scene.objectsLocked())
            if (object->type == OBJECT_VOLUME && object->volume && !object->volumeBox.empty()) {
                volumes.push_back(object->id);
                names.push_back(object->name.empty() ? "(sans nom)" : object->name);
            }
    }
    if (volumes.empty()) {
        refuse("Ajouter une texture 3D : aucun volume dans la vue");
        return 0;
    }
    const int chosen = hostChooseFromList(kTitle, names);
    if (chosen < 0 || std::size_t(chosen) >= volumes.size())
        return 0;
    std::lock_guard lock(scene.mutex());
    std::shared_ptr<const Volume> volume;
    Box box;
    Mat4 volumeModel = identity();
    scene.readObject(volumes[std::size_t(chosen)], [&](const SceneObject& object) {
        volume = object.volume;
        box = object.volumeBox;
        volumeModel = scene.modelMatrix(object);
    });
    const auto toVolume = inverse(volumeModel);
    if (!volume || !toVolume) {
        refuse("Ajouter une texture 3D : volume introuvable ou mal placé");
        return 0;
    }
    int done = 0;
    scene.editObject(id, [&](SceneObject& object) {
        if (object.type != OBJECT_MESH || !object.mesh)
            return false;
        const Colour& c = object.material.diffuse;
        const auto byte
            = [](double v) { return std::uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
        std::vector<std::uint8_t> colours
            = volumeVertexColours(*volume, box, *toVolume * scene.modelMatrix(object),
                object.mesh.get(), { byte(c.r), byte(c.g), byte(c.b), byte(c.a) });
        if (colours.empty())
            return false;
        object.vertexColours = std::move(colours);
        done = 1;
        return true;
    });
    return done;
}

// The box of one shape, on s's values of that shape; false when it is not validated.
bool askShapeValues(mesh::ShapeSettings& s)
{
    using mesh::ShapeKind;
    const std::string d = mesh::shapeDescription(s.kind);
    const char* text = d.c_str();
    switch (s.kind) {
    case ShapeKind::Disc: {
        auto& v = s.disc;
        return dozBoxParameter(text, &v.normal.x, &v.normal.y, &v.normal.z, &v.radius, &v.precision)
            == 1;
    }
    case ShapeKind::Sphere:
        return dozBoxParameter(text, &s.sphere.radius, &s.sphere.precision) == 1;
    case ShapeKind::Ellipsoid: {
        auto& v = s.ellipsoid;
        return dozBoxParameter(text, &v.radii.x, &v.radii.y, &v.radii.z, &v.precision) == 1;
    }
    case ShapeKind::Cube:
        return dozBoxParameter(text, &s.cube.side) == 1;
    case ShapeKind::Box:
        return dozBoxParameter(text, &s.box.size.x, &s.box.size.y, &s.box.size.z) == 1;
    case ShapeKind::Torus: {
        auto& v = s.torus;
        return dozBoxParameter(text, &v.normal.x, &v.normal.y, &v.normal.z, &v.radius, &v.precision,
                   &v.sectionRadius, &v.sectionPrecision)
            == 1;
    }
    case ShapeKind::Pyramid:
        return dozBoxParameter(text, &s.pyramid.base, &s.pyramid.height) == 1;
    case ShapeKind::Cone: {
        auto& v = s.cone;
        return dozBoxParameter(text, &v.normal.x, &v.normal.y, &v.normal.z, &v.radius1, &v.radius2,
                   &v.precision, &v.height)
            == 1;
    }
    case ShapeKind::Cylinder: {
        auto& v = s.cylinder;
        return dozBoxParameter(
                   text, &v.normal.x, &v.normal.y, &v.normal.z, &v.radius, &v.precision, &v.length)
            == 1;
    }
    case ShapeKind::BSpline:
        break;
    }
    return false;
}

// The shape command: the command's box, the shape's own box, then one object per copy
// named by "Nom" with a random colour of its own, in the current sub-view.
int runShapeCommand(Scene& scene)
{
    mesh::ShapeSettings s = mesh::shapeSettings();
    int kind = static_cast<int>(s.kind);
    char name[PARAM_STRING_BUFFER] = {};
    std::snprintf(name, sizeof name, "%s", s.name.c_str());
    int grid = s.grid, noise = s.noise;
    mesh::GridAxis* a = s.axes;
    if (dozBoxParameter(mesh::shapeCommandDescription().c_str(), &kind, &s.position.x,
            &s.position.y, &s.position.z, name, &grid, &a[0].count, &a[0].step, &a[0].variation,
            &a[1].count, &a[1].step, &a[1].variation, &a[2].count, &a[2].step, &a[2].variation,
            &noise, &s.noiseAmplitude)
        != 1)
        return 0;
    if (kind < 0 || kind > static_cast<int>(mesh::ShapeKind::BSpline))
        return 0;
    s.kind = static_cast<mesh::ShapeKind>(kind);
    s.name = name;
    s.grid = grid != 0;
    s.noise = noise != 0;
    mesh::keepShapeCommandValues(s);
    static std::mt19937 engine { std::random_device {}() };
    std::uniform_int_distribution<int> uniform(0, 32767);
    const mesh::RandomDraw draw = [&] { return uniform(engine); };
    const std::uint32_t viewMask = std::uint32_t { 1 } << std::clamp(scene.currentSubView(), 0, 31);
    if (s.kind == mesh::ShapeKind::BSpline) {
        // One surface at the position, drawn from its tessellation; no copies.
        mesh::BSplineValues& b = s.bspline;
        if (dozBoxParameter(mesh::bsplineDescription().c_str(), &b.degree, &b.u.count, &b.u.step,
                &b.u.divisions, &b.v.count, &b.v.step, &b.v.divisions, &b.elevation)
            != 1)
            return 0;
        mesh::keepShapeValues(s, s.kind);
        TriMesh* surface = mesh::makeBSplineSurface(b, draw);
        if (!surface) {
            refuse("Mémoire insuffisante pour la surface BSpline");
            return 0;
        }
        triMeshTranslate(surface, s.position.x, s.position.y, s.position.z);
        mesh::ObjectLook look;
        look.name = "bspline";
        mesh::randomColour(1, look.colour);
        look.colour[3] = 1.0;
        const std::uint32_t added = addMade(scene, surface, look, viewMask);
        triMeshFree(&surface);
        return added ? 1 : 0;
    }
    if (!askShapeValues(s))
        return 0;
    mesh::keepShapeValues(s, s.kind);
    std::vector<TriMesh*> copies = mesh::makeShapeCopies(s, draw);
    if (copies.empty()) {
        refuse("Aucune forme n'a pu être construite avec ces paramètres");
        return 0;
    }
    int added = 0;
    for (TriMesh*& made : copies) {
        mesh::ObjectLook look;
        look.name = s.name;
        mesh::randomColour(1, look.colour);
        look.colour[3] = 1.0;
        if (made && addMade(scene, made, look, viewMask))
            ++added;
        triMeshFree(&made);
    }
    return added > 0 ? 1 : 0;
}

} // namespace

int runObjectCommand(Scene& scene, std::uint32_t id, const std::string& label)
{
    if (label == kShapeCommandLabel)
        return runShapeCommand(scene);
    if (label == mesh::kSceneInformationTitle) {
        hostMessageBox(mesh::kSceneInformationTitle,
            mesh::sceneInformationText(scene.objectCount(), scene.facetCount()));
        return 1;
    }
    Source source;
    if (!readSource(scene, id, source))
        return 0;
    if (label == "Translation")
        return translation(scene, id, source);
    if (label == "Affinité")
        return affinity(scene, id, source);
    if (label == "Lissage")
        return smoothing(scene, id, source);
    if (label == "Simplification")
        return simplification(scene, id, source);
    if (label == "Séparation")
        return separation(scene, id, source);
    if (label == "Reconditionnement")
        return recondition(scene, id, source);
    if (label == "Déconditionnement")
        return uncondition(scene, id);
    if (label == "Sauvegarde")
        return save(source);
    if (label == "Ajouter une texture 3D")
        return addVolumeTexture(scene, id);
    return 0;
}

} // namespace vexa::scene
