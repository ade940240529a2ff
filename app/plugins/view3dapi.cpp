#include "plugins/view3dapi.h"

#include "data/newdata.h"
#include "data/registry.h"
#include "display/palettelist.h"
#include "host/host.h"
#include "plugins/messageapi.h"
#include "scene/scene.h"
#include "scene/volume.h"
#include "tasks/taskapi.h"
#include "tasks/taskcontext.h"

#include "vexa_guard.hpp"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Plug-ins see these records through the SDK header, which repeats them: both sides
// are held to one layout here and in the sample plug-in.
static_assert(sizeof(Mesh3d) == 5 * sizeof(void*), "Mesh3d layout changed");
static_assert(offsetof(Mesh3d, points) == sizeof(void*) && offsetof(Mesh3d, extra) == 32,
    "Mesh3d layout changed");
static_assert(offsetof(Mesh3dExtra, name) == 128 && offsetof(Mesh3dExtra, hasMatrix) == 180
        && offsetof(Mesh3dExtra, colours) == 184 && sizeof(Mesh3dExtra) == 192,
    "Mesh3dExtra layout changed");

using vexa::guarded;
using vexa::scene::Scene;

namespace {

// Snapshots larger than this many pixels are refused: 256 MiB of RGBA is far more than
// any picture of a view needs, and a wrong size must not exhaust memory.
constexpr std::int64_t kMaxSnapshotPixels = std::int64_t(1) << 26;

// Objects made apart wait in a scene that no window shows.
Scene& staging()
{
    static Scene scene;
    return scene;
}

// The view whose scene holds each object moved out of the staging scene. Entries of
// objects deleted since are dropped when next looked up.
std::mutex gPlacedMutex;
std::map<std::uint32_t, std::weak_ptr<Scene>> gPlaced;

void remember(std::uint32_t id, const std::shared_ptr<Scene>& scene)
{
    std::lock_guard lock(gPlacedMutex);
    gPlaced[id] = scene;
}

// Runs f on the scene that holds the object; 0 when no scene holds it.
template <typename F> int onObject(unsigned int id, F f)
{
    return guarded([&]() -> int {
        if (id == 0)
            return 0;
        if (staging().hasObject(id))
            return f(staging());
        std::shared_ptr<Scene> scene;
        {
            std::lock_guard lock(gPlacedMutex);
            auto it = gPlaced.find(id);
            if (it == gPlaced.end())
                return 0;
            scene = it->second.lock();
            if (!scene || !scene->hasObject(id)) {
                gPlaced.erase(it);
                return 0;
            }
        }
        return f(*scene);
    });
}

// The record of a View 3D, found by its identifier; an output of the running task is
// shown first, since its scene exists only then.
vexa::DataRecord* viewRecord(unsigned int viewId)
{
    if (viewId == 0)
        return nullptr;
    vexa::DataRecord* record = vexa::dataFind(viewId);
    if (!record && vexaView3dShow(viewId))
        record = vexa::dataFind(viewId);
    if (!record || record->kind != vexa::DATA_VIEW3D)
        return nullptr;
    return record;
}

std::shared_ptr<Scene> viewScene(unsigned int viewId)
{
    vexa::DataRecord* record = viewRecord(viewId);
    auto* view = record ? dynamic_cast<vexa::scene::View3dObject*>(record->view3d.get()) : nullptr;
    return view ? view->scene : nullptr;
}

// The camera each view was last framed with by these callbacks.
struct Framing {
    vexa::scene::Vec3 eye, target, up;
    double zoom = 0;
};
std::mutex gFramingMutex;
std::map<const Scene*, Framing> gFramings;

Framing framingOf(const vexa::scene::Camera& c)
{
    return { c.eye(), c.target(), c.up(), c.zoom() };
}

bool sameFraming(const Framing& a, const Framing& b)
{
    auto same = [](vexa::scene::Vec3 u, vexa::scene::Vec3 v) {
        return u.x == v.x && u.y == v.y && u.z == v.z;
    };
    return same(a.eye, b.eye) && same(a.target, b.target) && same(a.up, b.up) && a.zoom == b.zoom;
}

// A plug-in building a scene object by object sees all of it: the camera frames the
// scene after an add to an empty view, and again after later adds as long as nobody
// (user or plug-in) has moved it since.
void frameNewObjects(Scene& scene, bool wasEmpty)
{
    std::lock_guard sceneLock(scene.mutex());
    std::lock_guard lock(gFramingMutex);
    auto it = gFramings.find(&scene);
    if (!wasEmpty && (it == gFramings.end() || !sameFraming(it->second, framingOf(scene.camera()))))
        return;
    scene.resetCamera();
    gFramings[&scene] = framingOf(scene.camera());
}

bool finitePositive(double v)
{
    return std::isfinite(v) && v > 0;
}

// The exchanged row-major matrix for row vectors is, element for element, the scene's
// column-major one for column vectors.
vexa::scene::Mat4 matrixOf(const double m[16])
{
    vexa::scene::Mat4 out;
    std::memcpy(out.data(), m, sizeof(double) * 16);
    return out;
}

// Puts the exchanged mesh, its placement and its colours on the object.
int setMeshOn(Scene& scene, std::uint32_t id, const Mesh3d* mesh)
{
    if (!mesh)
        return scene.setMesh(id, nullptr);
    TriMesh* converted = vexa::mesh::mesh3dToTriMesh(mesh);
    if (!converted)
        return 0;
    vexa::scene::TriMeshPtr owned(converted);
    const Mesh3dExtra* extra = mesh->extra;
    int done = 0;
    if (extra && extra->hasMatrix == 1) {
        // A placement that is not finite would spoil the framing of the whole view.
        for (double v : extra->matrix)
            if (!std::isfinite(v))
                return 0;
        // The mesh callbacks move the vertices and record the same steps in the
        // matrix: the object keeps the shape in its own coordinates and the matrix as
        // its placement, so the steps are not applied twice. A singular matrix (a
        // flattening scale) cannot be undone: the vertices stay as they are.
        vexa::scene::Mat4 placement = vexa::scene::identity();
        if (const auto undo = vexa::scene::inverse(matrixOf(extra->matrix))) {
            placement = matrixOf(extra->matrix);
            float* p = owned->points;
            for (std::int32_t i = 0; i < owned->nbPoints; ++i, p += 3) {
                const vexa::scene::Vec3 local
                    = vexa::scene::transformPoint(*undo, { p[0], p[1], p[2] });
                p[0] = float(local.x), p[1] = float(local.y), p[2] = float(local.z);
            }
        }
        const std::string shape(extra->name, strnlen(extra->name, MESH3D_NAME_CHARS));
        done = scene.setMeshWithPlacement(id, owned.get(), placement.data(), shape);
    } else {
        done = scene.setMesh(id, owned.get());
    }
    if (done && extra && extra->colours)
        scene.setVertexColours(id, extra->colours, mesh->nbPoints);
    return done;
}

} // namespace

extern "C" {

unsigned int vexaObject3dCreate(int type)
{
    if (type < vexa::scene::OBJECT_MESH || type > vexa::scene::OBJECT_PRIMITIVE)
        return 0;
    return guarded([&] { return staging().createObject({}, type); });
}

int vexaObject3dSetName(unsigned int objectId, const char* name)
{
    if (!name)
        return 0;
    return onObject(objectId, [&](Scene& s) { return s.setName(objectId, name); });
}

int vexaObject3dSetColor(unsigned int objectId, double r, double g, double b, double a)
{
    return onObject(objectId, [&](Scene& s) { return s.setColour(objectId, { r, g, b, a }); });
}

int vexaObject3dSetTransparency(unsigned int objectId, double transparency)
{
    return onObject(objectId, [&](Scene& s) { return s.setTransparency(objectId, transparency); });
}

int vexaObject3dSetMesh3d(unsigned int objectId, const Mesh3d* mesh)
{
    return onObject(objectId, [&](Scene& s) { return setMeshOn(s, objectId, mesh); });
}

int vexaObject3dSetCurve3d(
    unsigned int objectId, const double* points, int32_t count, double radius)
{
    if (!points || count < 2 || !finitePositive(radius))
        return 0;
    return onObject(objectId, [&](Scene& s) {
        Mesh3d* tube = vexaMesh3dLine(points, count, radius, 8);
        if (!tube)
            return 0;
        const int done = setMeshOn(s, objectId, tube);
        vexaMesh3dFree(tube);
        return done ? s.setType(objectId, vexa::scene::OBJECT_CURVE) : 0;
    });
}

int vexaObject3dSetTexture(unsigned int objectId, const uint8_t* rgba, int width, int height,
    const float* uv, int32_t nbPoints)
{
    if (!rgba)
        return 0;
    const std::string refused = vexa::scene::textureSizeError(width, height);
    if (!refused.empty()) {
        dozMsg(refused.c_str());
        return 0;
    }
    return onObject(objectId, [&](Scene& s) {
        if (!s.setTexture(objectId, rgba, width, height))
            return 0;
        return uv ? s.setTexCoords(objectId, uv, nbPoints) : 1;
    });
}

int vexaObject3dSetVolumeData(unsigned int objectId, unsigned int blockId, double low, double high)
{
    return guarded([&]() -> int {
        vexa::DataRecord* record = vexa::dataFindBlock(blockId);
        const vexa::BlockDescriptor* block = record ? record->block() : nullptr;
        if (!block || !onObject(objectId, [](Scene&) { return 1; }))
            return 0;
        vexa::ColourTable palette;
        vexa::copyPaletteTable(block->palette.family, block->palette.variant, palette);
        // Converted before the scene is locked: a large block takes a while.
        std::string reason;
        std::shared_ptr<const vexa::scene::Volume> volume
            = vexa::scene::volumeFromBlock(*block, low, high, palette, &reason);
        if (!volume) {
            dozMsg(reason.c_str());
            return 0;
        }
        return onObject(objectId, [&](Scene& s) { return s.setVolume(objectId, volume); });
    });
}

int vexaObject3dSetVolumeLocation(
    unsigned int objectId, double x, double y, double z, double width, double height, double depth)
{
    return onObject(objectId, [&](Scene& s) {
        return s.setVolumeBox(objectId, { x, y, z }, { width, height, depth });
    });
}

int vexaObject3dSetVolume(unsigned int objectId, const float* values, int nx, int ny, int nz,
    const double* transfer, int32_t count)
{
    // Thousands of control points are a wrong count, not a transfer function.
    if (!values || !transfer || count < 2 || count > 4096)
        return 0;
    return guarded([&]() -> int {
        if (!onObject(objectId, [](Scene&) { return 1; }))
            return 0;
        std::vector<vexa::scene::TransferPoint> points(static_cast<std::size_t>(count));
        for (std::size_t i = 0; i < points.size(); ++i) {
            const double* t = transfer + i * 5;
            points[i] = { t[0], t[1], t[2], t[3], t[4] };
        }
        std::string reason;
        std::shared_ptr<const vexa::scene::Volume> volume
            = vexa::scene::volumeFromFloats(values, nx, ny, nz, points, &reason);
        if (!volume) {
            dozMsg(reason.c_str());
            return 0;
        }
        return onObject(objectId, [&](Scene& s) { return s.setVolume(objectId, volume); });
    });
}

int vexaObject3dSetWrapping(unsigned int objectId, int wrapping)
{
    if (wrapping < vexa::scene::WRAP_CLAMP || wrapping > vexa::scene::WRAP_MIRROR)
        return 0;
    return onObject(objectId, [&](Scene& s) { return s.setWrapping(objectId, wrapping); });
}

int vexaView3dAddObject3d(unsigned int viewId, unsigned int objectId)
{
    return guarded([&]() -> int {
        std::shared_ptr<Scene> scene = viewScene(viewId);
        if (!scene || objectId == 0)
            return 0;
        std::unique_ptr<vexa::scene::SceneObject> object = staging().takeObject(objectId);
        if (!object)
            return 0;
        // Registered first, so a setter called right after the add finds it.
        remember(objectId, scene);
        const bool wasEmpty = scene->objectCount() == 0;
        if (scene->addObject(std::move(object), 1) == 0)
            return 0;
        frameNewObjects(*scene, wasEmpty);
        return 1;
    });
}

int vexaView3dDeleteObject3d(unsigned int viewId, unsigned int objectId)
{
    return guarded([&]() -> int {
        std::shared_ptr<Scene> scene = viewScene(viewId);
        return scene ? scene->removeObject(objectId) : 0;
    });
}

int vexaView3dDeleteObject3dByName(unsigned int viewId, const char* name)
{
    if (!name)
        return 0;
    return guarded([&]() -> int {
        std::shared_ptr<Scene> scene = viewScene(viewId);
        return scene ? scene->removeObjectsNamed(name) : 0;
    });
}

int vexaView3dGetSize(unsigned int viewId, double* width, double* height, double* depth)
{
    return guarded([&]() -> int {
        std::shared_ptr<Scene> scene = viewScene(viewId);
        if (!scene)
            return 0;
        const vexa::scene::Vec3 box = scene->referenceBox();
        if (width)
            *width = box.x;
        if (height)
            *height = box.y;
        if (depth)
            *depth = box.z;
        return 1;
    });
}

int vexaView3dSetSize(unsigned int viewId, double width, double height, double depth)
{
    if (!finitePositive(width) || !finitePositive(height) || !finitePositive(depth))
        return 0;
    return guarded([&]() -> int {
        std::shared_ptr<Scene> scene = viewScene(viewId);
        return scene ? scene->setReferenceBox(width, height, depth) : 0;
    });
}

int vexaView3dSetCamera(unsigned int viewId, const double eye[3], const double target[3],
    const double up[3], double zoom)
{
    if (!eye || !target || !up)
        return 0;
    return guarded([&]() -> int {
        std::shared_ptr<Scene> scene = viewScene(viewId);
        if (!scene)
            return 0;
        std::lock_guard lock(scene->mutex());
        vexa::scene::Camera camera = scene->camera();
        if (!camera.set({ eye[0], eye[1], eye[2] }, { target[0], target[1], target[2] },
                { up[0], up[1], up[2] }))
            return 0;
        if (finitePositive(zoom))
            camera.multiplyZoom(zoom / camera.zoom());
        scene->setCamera(camera);
        return 1;
    });
}

unsigned int vexaView3dSnapshot(unsigned int viewId, int width, int height)
{
    return guarded([&]() -> unsigned int {
        if (width <= 0 || height <= 0 || width > vexa::scene::kMaxTextureSide
            || height > vexa::scene::kMaxTextureSide
            || std::int64_t(width) * height > kMaxSnapshotPixels) {
            dozMsg("Capture de la vue 3D : taille refusée");
            return 0;
        }
        vexa::DataRecord* record = viewRecord(viewId);
        vexa::Host* host = vexa::host();
        if (!record || !host)
            return 0;
        std::vector<std::uint8_t> rgba;
        bool rendered = false;
        vexa::runOnInterfaceThread(vexa::GuiRequest::OpenWindow, [&] {
            // The record may have been closed while the request waited.
            if (vexa::dataFind(viewId) == record)
                rendered = host->snapshotView3d(*record, width, height, rgba);
        });
        const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
        if (!rendered || rgba.size() != bytes) {
            dozMsg("Capture de la vue 3D impossible : pas de rendu OpenGL");
            return 0;
        }
        std::string reason;
        std::unique_ptr<vexa::ImageObject> object
            = vexa::newImage2dObject(width, height, TYPEDATA_RGBA, &reason);
        if (!object || object->image->samples.size() != bytes) {
            dozMsg(("Capture de la vue 3D : " + reason).c_str());
            return 0;
        }
        std::memcpy(object->image->samples.data(), rgba.data(), bytes);
        // Shown at once, so the plug-in can read the pixels before its task ends.
        vexa::TaskContext* context = vexa::taskCurrent();
        const int slot = vexa::taskAddOutput(context, vexa::SLOT_IMAGE_OUT, std::move(object));
        vexa::DataRecord* image = slot < 0 ? nullptr : vexa::taskShowOutput(context, slot);
        return image ? image->imageId : 0u;
    });
}

unsigned int dozDataAddSurface3d(
    unsigned int id, const Mesh3d* mesh, const char* name, double r, double g, double b)
{
    if (!mesh)
        return 0;
    return guarded([&]() -> unsigned int {
        vexa::DataRecord* record = vexa::dataFind(id);
        vexa::DataRecord* view = record ? vexa::dataFindView3dOf(record) : nullptr;
        std::shared_ptr<Scene> scene = viewScene(view ? view->imageId : id);
        if (!scene)
            return 0;
        // Built apart and added whole, so the window never draws a half-made object.
        auto object = std::make_unique<vexa::scene::SceneObject>();
        const std::uint32_t objectId = object->id;
        object->name = name ? name : "";
        if (!staging().addObject(std::move(object), 1))
            return 0;
        if (!setMeshOn(staging(), objectId, mesh)
            || !staging().setColour(objectId, { r, g, b, 1 })) {
            staging().removeObject(objectId);
            return 0;
        }
        remember(objectId, scene);
        const bool wasEmpty = scene->objectCount() == 0;
        if (!scene->addObject(staging().takeObject(objectId), 1))
            return 0;
        frameNewObjects(*scene, wasEmpty);
        return objectId;
    });
}

} // extern "C"
