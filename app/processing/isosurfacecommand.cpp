#include "processing/isosurfacecommand.h"

#include "data/registry.h"
#include "host/host.h"
#include "mesh/isosurface.h"
#include "params/paramapi.h"
#include "processing/volumeops.h"
#include "scene/scene.h"
#include "tasks/taskapi.h"
#include "tasks/taskcontext.h"

#include "vexa_types.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace vexa::processing {

namespace {

// Asks the box on s; true when validated. The text field goes through a buffer of
// the size the box writes into.
bool askIsoSurface(mesh::IsoSurfaceSettings& s)
{
    char values[PARAM_STRING_BUFFER];
    std::snprintf(values, sizeof values, "%s", s.values.c_str());
    int separate = s.separateBodies ? 1 : 0, messages = s.messages ? 1 : 0;
    int limitPoints = s.limitPoints ? 1 : 0, limitTriangles = s.limitTriangles ? 1 : 0;
    const std::string description = mesh::isoSurfaceDescription();
    if (dozBoxParameter(description.c_str(), &s.selection, &s.seuil1, &s.seuil2, values,
            &s.tolerance, &s.method, &s.region, &s.x1, &s.y1, &s.z1, &s.x2, &s.y2, &s.z2, &separate,
            &messages, &limitPoints, &s.maxPoints, &limitTriangles, &s.maxTriangles)
        != 1)
        return false;
    s.values.assign(values, strnlen(values, sizeof values));
    s.separateBodies = separate != 0;
    s.messages = messages != 0;
    s.limitPoints = limitPoints != 0;
    s.limitTriangles = limitTriangles != 0;
    return true;
}

// The scene of the View 3D linked to the image holding blockId, made (with its window)
// when there is none. Looked up and made in one step of the interface thread, so two
// extractions ending together on one image share a single view.
std::shared_ptr<scene::Scene> sceneOfImage(unsigned int blockId, const VolumeInfo& volume)
{
    std::shared_ptr<scene::Scene> result;
    runOnInterfaceThread(GuiRequest::OpenView3d, [&] {
        DataRecord* image = dataFindBlock(blockId);
        if (!image)
            return;
        DataRecord* view = dataFindView3dOf(image);
        if (!view) {
            auto object = std::make_unique<scene::View3dObject>();
            object->scene->setReferenceBox(volume.dimX, volume.dimY, volume.dimZ);
            view = dataCreateKind(
                DATA_VIEW3D, std::move(object), kFreshId, kFreshId, image->linkGroup);
        }
        if (auto* view3d = view ? dynamic_cast<scene::View3dObject*>(view->kindObject()) : nullptr)
            result = view3d->scene;
        // Surfaces of an image are in its voxel axes: the view shows them as the 2D
        // window shows the image.
        if (result)
            result->setImageAxes(true);
    });
    return result;
}

void freeObjects(std::vector<mesh::IsoSurfaceObject>& objects)
{
    for (mesh::IsoSurfaceObject& object : objects)
        triMeshFree(&object.mesh);
    objects.clear();
}

// Adds the objects in one go after the view is known: a view that cannot be had gets
// none, and a half-added result never shows.
void addToScene(scene::Scene& target, std::vector<mesh::IsoSurfaceObject>& objects)
{
    std::lock_guard lock(target.mutex());
    const bool wasEmpty = target.objectCount() == 0;
    for (mesh::IsoSurfaceObject& made : objects) {
        auto object = std::make_unique<scene::SceneObject>();
        object->name = made.name;
        object->type = scene::OBJECT_MESH;
        object->mesh.reset(made.mesh);
        made.mesh = nullptr;
        const double* rgb = made.rgb;
        object->material.diffuse = { rgb[0], rgb[1], rgb[2], 1.0 };
        object->material.ambient = { rgb[0] * 0.3, rgb[1] * 0.3, rgb[2] * 0.3, 1.0 };
        target.addObject(std::move(object), 1);
    }
    objects.clear();
    if (wasEmpty)
        target.resetCamera();
}

} // namespace

void runIsoSurfaceExtraction(const std::string& caption)
{
    const unsigned int in = vexaBlockGetIn();
    if (!in)
        return;
    auto refuse = [&caption](const std::string& text) { hostMessageBox(caption, text); };
    VolumeInfo volume;
    if (!volumeInfo(in, volume))
        return;
    if (volume.dimZ < 2) {
        refuse("L'extraction de surface demande une image 3D d'au moins deux coupes");
        return;
    }
    if (volume.type == TYPEDATA_RGBA) {
        refuse("L'extraction de surface demande un volume de valeurs scalaires, pas de couleurs");
        return;
    }

    mesh::IsoSurfaceSettings settings = mesh::isoSurfaceSettings();
    if (!askIsoSurface(settings))
        return;
    mesh::keepIsoSurfaceSettings(settings);

    mesh::IsoSurfaceParams params;
    std::string reason;
    if (!mesh::isoParamsFromSettings(settings, params, &reason)) {
        // An empty list ends the command without a word.
        if (!reason.empty())
            refuse(reason);
        return;
    }

    mesh::IsoSurfaceHooks hooks;
    hooks.log = mesh::postLogLine;
    hooks.progressRange
        = [](int first, int last) { dozTaskSetIntervalProgress(nullptr, first, last); };
    hooks.progress = [](int z) { dozTaskSetProgress(nullptr, z); };
    hooks.stopRequested = [] { return taskStopRequested(); };
    mesh::IsoSurfaceReport report;
    TriMesh* extracted = mesh::extractIsoSurfaceFromBlock(in, params, hooks, &reason, &report);
    if (report.stopped) {
        // A stopped task ends without output and without a word.
        triMeshFree(&extracted);
        return;
    }
    if (!extracted) {
        refuse(reason.empty() ? "Extraction de surface impossible" : reason);
        return;
    }

    std::vector<mesh::IsoSurfaceObject> objects = mesh::isoSurfaceObjects(
        extracted, settings.separateBodies, settings.messages, mesh::postLogLine);
    if (!objects.empty()) {
        std::shared_ptr<scene::Scene> target = sceneOfImage(in, volume);
        if (!target) {
            freeObjects(objects);
            refuse("Impossible de créer la vue 3D de l'image");
            return;
        }
        addToScene(*target, objects);
    }
    if (report.stoppedByLimit)
        refuse("Limite atteinte : extraction arrêtée après " + std::to_string(report.slabs)
            + " tranche(s), la surface partielle est conservée");
}

} // namespace vexa::processing
