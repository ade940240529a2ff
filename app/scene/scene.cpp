#include "scene/scene.h"

#include "scene/volume.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vexa::scene {

namespace {

std::atomic<std::uint32_t> nextObjectId { 1 };

bool unitInterval(double v)
{
    return v >= 0 && v <= 1;
}

bool validColour(const Colour& c)
{
    return unitInterval(c.r) && unitInterval(c.g) && unitInterval(c.b) && unitInterval(c.a);
}

bool finitePositive(double v)
{
    return std::isfinite(v) && v > 0;
}

std::string format(const char* pattern, const Colour& c)
{
    char line[128];
    std::snprintf(line, sizeof line, pattern, c.r, c.g, c.b, c.a);
    return line;
}

} // namespace

SceneObject::SceneObject()
    : id(nextObjectId.fetch_add(1))
{
}

double SceneObject::opacity() const
{
    return material.diffuse.a * (1 - transparency);
}

std::string textureSizeError(int width, int height)
{
    if (width <= 0 || height <= 0 || width > kMaxTextureSide || height > kMaxTextureSide) {
        char text[160];
        std::snprintf(text, sizeof text,
            "Texture refusée : %d x %d pixels (de 1 x 1 à %d x %d pixels)", width, height,
            kMaxTextureSide, kMaxTextureSide);
        return text;
    }
    return {};
}

std::vector<std::string> objectCommands(const SceneObject& object)
{
    if (object.type != OBJECT_MESH || !object.mesh)
        return {};
    std::vector<std::string> commands { "Translation", "Affinité", "Lissage", "Séparation",
        "Simplification", "Reconditionnement" };
    if (object.mesh->blocks)
        commands.push_back("Déconditionnement");
    commands.push_back("Sauvegarde");
    commands.push_back("Ajouter une texture 3D");
    return commands;
}

std::vector<std::string> objectInfoLines(const SceneObject& object)
{
    const Material& m = object.material;
    std::vector<std::string> lines;
    lines.push_back("Nom : " + object.name);
    lines.push_back(format("Couleur Diffuse : (%.2f , %.2f , %.2f , %.2f)", m.diffuse));
    lines.push_back(format("Couleur Ambiante : (%.2f , %.2f , %.2f , %.2f)", m.ambient));
    lines.push_back(format("Couleur Emissive : (%.2f , %.2f , %.2f , %.2f)", m.emissive));
    lines.push_back(format("Couleur Spéculaire : (%.2f , %.2f , %.2f , %.2f)", m.specular));
    char line[128];
    std::snprintf(line, sizeof line, "Puissance Spéculaire : (%.2f)", m.specularPower);
    lines.push_back(line);
    if (const TriMesh* mesh = object.mesh.get()) {
        std::snprintf(line, sizeof line, "Nombre de points :\t%d", mesh->nbPoints);
        lines.push_back(line);
        std::snprintf(line, sizeof line, "Nombre de facettes :\t%d", mesh->nbTriangles);
        lines.push_back(line);
        if (mesh->surface != 0) {
            std::snprintf(line, sizeof line, "Surface :\t%f", double(mesh->surface));
            lines.push_back(line);
        }
        if (mesh->volume != 0) {
            std::snprintf(line, sizeof line, "Volume :\t%f", double(mesh->volume));
            lines.push_back(line);
        }
    }
    return lines;
}

Scene::Scene()
    : subViews_(1)
{
    subViews_[0].camera.frame(boundingSphere(bounds(0)));
}

SceneObject* Scene::find(std::uint32_t id) const
{
    if (id == 0)
        return nullptr;
    for (const auto& object : objects_)
        if (object->id == id)
            return object.get();
    return nullptr;
}

SubView& Scene::current()
{
    return subViews_[std::size_t(currentSubView_)];
}

const SubView& Scene::current() const
{
    return subViews_[std::size_t(currentSubView_)];
}

void Scene::changed()
{
    ++revision_;
    if (listener_)
        listener_();
}

int Scene::withObject(std::uint32_t id, const std::function<bool(SceneObject&)>& f)
{
    std::lock_guard lock(mutex_);
    SceneObject* object = find(id);
    if (!object || !f(*object))
        return 0;
    changed();
    return 1;
}

std::uint32_t Scene::createObject(const std::string& name, int type)
{
    auto object = std::make_unique<SceneObject>();
    object->name = name;
    object->type = type;
    return addObject(std::move(object), 1);
}

std::uint32_t Scene::addObject(std::unique_ptr<SceneObject> object, std::uint32_t viewMask)
{
    if (!object)
        return 0;
    std::lock_guard lock(mutex_);
    if (find(object->id))
        return 0;
    object->viewMask = viewMask;
    object->meshBounds = meshBox(object->mesh.get());
    const std::uint32_t id = object->id;
    objects_.push_back(std::move(object));
    changed();
    return id;
}

std::unique_ptr<SceneObject> Scene::takeObject(std::uint32_t id)
{
    std::lock_guard lock(mutex_);
    for (auto it = objects_.begin(); it != objects_.end(); ++it)
        if ((*it)->id == id) {
            std::unique_ptr<SceneObject> object = std::move(*it);
            objects_.erase(it);
            if (selected_ == id)
                selected_ = 0;
            changed();
            return object;
        }
    return nullptr;
}

int Scene::removeObject(std::uint32_t id)
{
    return takeObject(id) ? 1 : 0;
}

int Scene::removeObjectsNamed(const std::string& name)
{
    std::lock_guard lock(mutex_);
    const std::size_t before = objects_.size();
    std::erase_if(objects_, [&](const std::unique_ptr<SceneObject>& o) {
        if (o->name != name)
            return false;
        if (o->id == selected_)
            selected_ = 0;
        return true;
    });
    const int removed = int(before - objects_.size());
    if (removed > 0)
        changed();
    return removed;
}

bool Scene::hasObject(std::uint32_t id) const
{
    std::lock_guard lock(mutex_);
    return find(id) != nullptr;
}

int Scene::objectCount() const
{
    std::lock_guard lock(mutex_);
    return int(objects_.size());
}

std::int64_t Scene::facetCount() const
{
    std::lock_guard lock(mutex_);
    std::int64_t facets = 0;
    for (const auto& object : objects_)
        if (object->mesh)
            facets += object->mesh->nbTriangles;
    return facets;
}

std::vector<std::uint32_t> Scene::objectIds() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::uint32_t> ids;
    for (const auto& object : objects_)
        ids.push_back(object->id);
    return ids;
}

int Scene::editObject(std::uint32_t id, const std::function<bool(SceneObject&)>& f)
{
    std::lock_guard lock(mutex_);
    SceneObject* object = find(id);
    if (!object)
        return 0;
    if (f(*object)) {
        ++object->geometryRevision;
        object->meshBounds = meshBox(object->mesh.get());
    }
    changed();
    return 1;
}

int Scene::readObject(std::uint32_t id, const std::function<void(const SceneObject&)>& f) const
{
    std::lock_guard lock(mutex_);
    const SceneObject* object = find(id);
    if (!object)
        return 0;
    f(*object);
    return 1;
}

int Scene::setName(std::uint32_t id, const std::string& name)
{
    return withObject(id, [&](SceneObject& o) {
        o.name = name;
        return true;
    });
}

std::string Scene::name(std::uint32_t id) const
{
    std::lock_guard lock(mutex_);
    const SceneObject* object = find(id);
    return object ? object->name : std::string();
}

int Scene::type(std::uint32_t id) const
{
    std::lock_guard lock(mutex_);
    const SceneObject* object = find(id);
    return object ? object->type : 0;
}

int Scene::setType(std::uint32_t id, int type)
{
    if (type < OBJECT_MESH || type > OBJECT_PRIMITIVE)
        return 0;
    return withObject(id, [&](SceneObject& o) {
        o.type = type;
        return true;
    });
}

int Scene::setMesh(std::uint32_t id, const TriMesh* mesh)
{
    if (mesh && !vexa::mesh::hasValidIndices(*mesh))
        return 0;
    std::lock_guard lock(mutex_);
    SceneObject* object = find(id);
    if (!object)
        return 0;
    TriMeshPtr copy;
    if (mesh) {
        copy.reset(triMeshCopy(mesh));
        if (!copy)
            return 0;
    }
    const std::size_t points = copy ? std::size_t(copy->nbPoints) : 0;
    if (object->vertexColours.size() != points * 4)
        object->vertexColours.clear();
    if (object->texCoords.size() != points * 2)
        object->texCoords.clear();
    object->mesh = std::move(copy);
    object->meshBounds = meshBox(object->mesh.get());
    ++object->geometryRevision;
    changed();
    return 1;
}

int Scene::setMeshWithPlacement(
    std::uint32_t id, const TriMesh* mesh, const double matrix[16], const std::string& shape)
{
    std::lock_guard lock(mutex_);
    if (!matrix || !setMesh(id, mesh))
        return 0;
    Mat4 placement;
    std::memcpy(placement.data(), matrix, sizeof(double) * 16);
    SceneObject* object = find(id);
    object->placement = placement;
    object->shapeName = shape;
    changed();
    return 1;
}

TriMesh* Scene::copyMesh(std::uint32_t id) const
{
    std::lock_guard lock(mutex_);
    const SceneObject* object = find(id);
    return object && object->mesh ? triMeshCopy(object->mesh.get()) : nullptr;
}

int Scene::setVertexColours(std::uint32_t id, const std::uint8_t* rgba, std::int32_t nbPoints)
{
    if (!rgba)
        return 0;
    return withObject(id, [&](SceneObject& o) {
        if (!o.mesh || o.mesh->nbPoints != nbPoints)
            return false;
        o.vertexColours.assign(rgba, rgba + std::size_t(nbPoints) * 4);
        ++o.geometryRevision;
        return true;
    });
}

int Scene::setColour(std::uint32_t id, Colour colour)
{
    if (!validColour(colour))
        return 0;
    return withObject(id, [&](SceneObject& o) {
        o.material.diffuse = colour;
        o.material.ambient = colour;
        return true;
    });
}

Colour Scene::colour(std::uint32_t id) const
{
    std::lock_guard lock(mutex_);
    const SceneObject* object = find(id);
    return object ? object->material.diffuse : Colour {};
}

int Scene::setMaterial(std::uint32_t id, const Material& material)
{
    if (!validColour(material.diffuse) || !validColour(material.ambient)
        || !validColour(material.emissive) || !validColour(material.specular)
        || !std::isfinite(material.specularPower) || material.specularPower < 0)
        return 0;
    return withObject(id, [&](SceneObject& o) {
        o.material = material;
        return true;
    });
}

int Scene::setTransparency(std::uint32_t id, double transparency)
{
    if (!unitInterval(transparency))
        return 0;
    return withObject(id, [&](SceneObject& o) {
        o.transparency = transparency;
        return true;
    });
}

int Scene::setTexture(std::uint32_t id, const std::uint8_t* rgba, int width, int height)
{
    if (!rgba || !textureSizeError(width, height).empty())
        return 0;
    if (!hasObject(id))
        return 0;
    // Copied outside the lock: a large picture must not stall the renderer.
    auto texture = std::make_shared<Texture>();
    texture->width = width;
    texture->height = height;
    texture->rgba.assign(rgba, rgba + std::size_t(width) * std::size_t(height) * 4);
    return withObject(id, [&](SceneObject& o) {
        o.texture = std::move(texture);
        ++o.textureRevision;
        return true;
    });
}

int Scene::clearTexture(std::uint32_t id)
{
    return withObject(id, [&](SceneObject& o) {
        o.texture.reset();
        ++o.textureRevision;
        return true;
    });
}

int Scene::setTexCoords(std::uint32_t id, const float* uv, std::int32_t nbPoints)
{
    if (!uv)
        return 0;
    return withObject(id, [&](SceneObject& o) {
        if (!o.mesh || o.mesh->nbPoints != nbPoints)
            return false;
        o.texCoords.assign(uv, uv + std::size_t(nbPoints) * 2);
        ++o.geometryRevision;
        return true;
    });
}

int Scene::setWrapping(std::uint32_t id, int wrapping)
{
    if (wrapping < WRAP_CLAMP || wrapping > WRAP_MIRROR)
        return 0;
    return withObject(id, [&](SceneObject& o) {
        o.wrapping = wrapping;
        ++o.textureRevision;
        return true;
    });
}

namespace {

// Puts the box and its mesh on the object; false when the mesh cannot be made.
bool placeVolumeBox(SceneObject& o, const Box& box)
{
    TriMeshPtr mesh(boxMesh(box));
    if (!mesh)
        return false;
    o.volumeBox = box;
    o.mesh = std::move(mesh);
    o.meshBounds = box;
    o.vertexColours.clear();
    o.texCoords.clear();
    ++o.geometryRevision;
    return true;
}

} // namespace

int Scene::setVolume(std::uint32_t id, std::shared_ptr<const Volume> volume)
{
    if (!volume || !volumeSizeError(volume->nx, volume->ny, volume->nz).empty())
        return 0;
    return withObject(id, [&](SceneObject& o) {
        if (o.volumeBox.empty()
            && !placeVolumeBox(o,
                Box {
                    { 0, 0, 0 }, { double(volume->nx), double(volume->ny), double(volume->nz) } }))
            return false;
        o.type = OBJECT_VOLUME;
        o.volume = std::move(volume);
        ++o.textureRevision;
        return true;
    });
}

int Scene::setVolumeBox(std::uint32_t id, Vec3 origin, Vec3 size)
{
    if (!volumeBoxError(origin, size).empty())
        return 0;
    return withObject(id, [&](SceneObject& o) {
        return placeVolumeBox(o, Box { origin, origin + size });
    });
}

int Scene::setPlacement(std::uint32_t id, const Mat4& placement)
{
    for (double v : placement)
        if (!std::isfinite(v))
            return 0;
    return withObject(id, [&](SceneObject& o) {
        o.placement = placement;
        return true;
    });
}

int Scene::translateObject(std::uint32_t id, double dx, double dy, double dz)
{
    if (!isFinite({ dx, dy, dz }))
        return 0;
    return withObject(id, [&](SceneObject& o) {
        o.placement = translation({ dx, dy, dz }) * o.placement;
        return true;
    });
}

int Scene::rotateObject(std::uint32_t id, double ax, double ay, double az, double angle)
{
    if (!isFinite({ ax, ay, az }) || !std::isfinite(angle))
        return 0;
    return withObject(id, [&](SceneObject& o) {
        o.placement = meshRotation({ ax, ay, az }, angle) * o.placement;
        return true;
    });
}

int Scene::scaleObject(std::uint32_t id, double sx, double sy, double sz)
{
    if (!isFinite({ sx, sy, sz }))
        return 0;
    return withObject(id, [&](SceneObject& o) {
        o.placement = scaling({ sx, sy, sz }) * o.placement;
        return true;
    });
}

int Scene::setViewMask(std::uint32_t id, std::uint32_t mask)
{
    return withObject(id, [&](SceneObject& o) {
        o.viewMask = mask;
        return true;
    });
}

int Scene::setReferenceBox(double width, double height, double depth)
{
    if (!finitePositive(width) || !finitePositive(height) || !finitePositive(depth))
        return 0;
    std::lock_guard lock(mutex_);
    referenceBox_ = { width, height, depth };
    changed();
    return 1;
}

Vec3 Scene::referenceBox() const
{
    std::lock_guard lock(mutex_);
    return referenceBox_;
}

void Scene::showReferenceBox(bool shown)
{
    std::lock_guard lock(mutex_);
    referenceBoxShown_ = shown;
    changed();
}

bool Scene::referenceBoxShown() const
{
    std::lock_guard lock(mutex_);
    return referenceBoxShown_;
}

int Scene::subViewCount() const
{
    std::lock_guard lock(mutex_);
    return int(subViews_.size());
}

int Scene::currentSubView() const
{
    std::lock_guard lock(mutex_);
    return currentSubView_;
}

int Scene::selectSubView(int index)
{
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= int(subViews_.size()))
        return 0;
    currentSubView_ = index;
    changed();
    return 1;
}

int Scene::addSubView(double x, double y, double width, double height)
{
    if (!isFinite({ x, y, width }) || !finitePositive(width) || !finitePositive(height))
        return -1;
    std::lock_guard lock(mutex_);
    // The view mask has one bit per sub-view.
    if (subViews_.size() >= 32)
        return -1;
    SubView view;
    view.x = x;
    view.y = y;
    view.width = width;
    view.height = height;
    view.camera = current().camera;
    subViews_.push_back(view);
    changed();
    return int(subViews_.size()) - 1;
}

int Scene::setSubViewVisible(int index, bool visible)
{
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= int(subViews_.size()))
        return 0;
    subViews_[std::size_t(index)].visible = visible;
    changed();
    return 1;
}

SubView Scene::subView(int index) const
{
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= int(subViews_.size()))
        index = 0;
    return subViews_[std::size_t(index)];
}

Camera Scene::camera() const
{
    std::lock_guard lock(mutex_);
    return current().camera;
}

void Scene::setCamera(const Camera& camera)
{
    std::lock_guard lock(mutex_);
    current().camera = camera;
    changed();
}

void Scene::rotateCamera(int axis, double angle)
{
    if (axis < 0 || axis > 2)
        return;
    std::lock_guard lock(mutex_);
    current().camera.rotate(
        { axis == 0 ? 1.0 : 0, axis == 1 ? 1.0 : 0, axis == 2 ? 1.0 : 0 }, angle);
    changed();
}

void Scene::multiplyZoom(double factor)
{
    std::lock_guard lock(mutex_);
    current().camera.multiplyZoom(factor);
    changed();
}

void Scene::translateCameraWorld(int axis, double distance)
{
    std::lock_guard lock(mutex_);
    current().camera.translateWorld(axis, distance);
    changed();
}

void Scene::translateCameraOwn(int axis, double distance)
{
    std::lock_guard lock(mutex_);
    current().camera.translateOwn(axis, distance);
    changed();
}

void Scene::setImageAxes(bool imageAxes)
{
    std::lock_guard lock(mutex_);
    if (imageAxes_ == imageAxes)
        return;
    imageAxes_ = imageAxes;
    if (objects_.empty())
        resetCamera();
    else
        changed();
}

bool Scene::imageAxes() const
{
    std::lock_guard lock(mutex_);
    return imageAxes_;
}

void Scene::resetCamera()
{
    std::lock_guard lock(mutex_);
    Box box = bounds(currentSubView_);
    if (box.empty())
        box = transformBox(scaling(unitScale_), Box { { 0, 0, 0 }, referenceBox_ });
    current().camera.frame(
        boundingSphere(box), imageAxes_ ? Camera::IMAGE_AXES : Camera::MESH_AXES);
    changed();
}

void Scene::viewFrom(int side)
{
    std::lock_guard lock(mutex_);
    resetCamera();
    Camera& camera = current().camera;
    const Vec3 target = camera.target();
    const double distance = length(camera.eye() - target);
    // Each side shows the block's section as the image window does: FRONT columns x
    // to the right and rows y downwards (row 0 at the top), RIGHT columns z and rows
    // y, TOP columns x and rows from the last z (z upwards). Voxel y grows downwards
    // on screen, so the eye sits on the low side of each axis but the right one.
    if (side == SIDE_RIGHT)
        camera.set(target + Vec3 { distance, 0, 0 }, target, { 0, -1, 0 });
    else if (side == SIDE_TOP)
        camera.set(target - Vec3 { 0, distance, 0 }, target, { 0, 0, 1 });
    else
        camera.set(target - Vec3 { 0, 0, distance }, target, { 0, -1, 0 });
    changed();
}

void Scene::fitView()
{
    std::lock_guard lock(mutex_);
    Camera& camera = current().camera;
    const Vec3 direction = normalised(camera.eye() - camera.target());
    const Vec3 up = camera.up();
    resetCamera();
    const Vec3 target = camera.target();
    const double distance = length(camera.eye() - target);
    // A direction along up cannot happen on a valid camera; set refuses it anyway.
    camera.set(target + direction * distance, target, up);
    changed();
}

int Scene::setUnitScale(Vec3 scale)
{
    if (!finitePositive(scale.x) || !finitePositive(scale.y) || !finitePositive(scale.z))
        return 0;
    std::lock_guard lock(mutex_);
    unitScale_ = scale;
    changed();
    return 1;
}

Vec3 Scene::unitScale() const
{
    std::lock_guard lock(mutex_);
    return unitScale_;
}

std::uint32_t Scene::selectedObject() const
{
    std::lock_guard lock(mutex_);
    return selected_;
}

void Scene::selectObject(std::uint32_t id)
{
    std::lock_guard lock(mutex_);
    selected_ = find(id) ? id : 0;
    changed();
}

Mat4 Scene::modelMatrix(const SceneObject& object) const
{
    std::lock_guard lock(mutex_);
    return scaling(unitScale_) * object.placement;
}

Box Scene::bounds(int subViewIndex) const
{
    std::lock_guard lock(mutex_);
    const std::uint32_t bit = subViewIndex >= 0 && subViewIndex < 32 ? 1u << subViewIndex : ~0u;
    Box box;
    for (const auto& object : objects_)
        if ((object->viewMask & bit) && object->mesh)
            box.add(transformBox(modelMatrix(*object), object->meshBounds));
    if (referenceBoxShown_)
        box.add(transformBox(scaling(unitScale_), Box { { 0, 0, 0 }, referenceBox_ }));
    return box;
}

std::array<int, 4> Scene::viewport(int subViewIndex, int windowWidth, int windowHeight) const
{
    const SubView view = subView(subViewIndex);
    const int x = int(std::lround(view.x * windowWidth));
    const int y = int(std::lround(view.y * windowHeight));
    const int w = std::max(1, int(std::lround(view.width * windowWidth)));
    const int h = std::max(1, int(std::lround(view.height * windowHeight)));
    return { x, y, w, h };
}

Mat4 Scene::viewMatrix(int subViewIndex) const
{
    return subView(subViewIndex).camera.viewMatrix();
}

Mat4 Scene::projectionMatrix(int subViewIndex, int viewportWidth, int viewportHeight) const
{
    std::lock_guard lock(mutex_);
    const SubView view = subView(subViewIndex);
    Box box = bounds(subViewIndex);
    box.add(view.camera.target());
    const double aspect = viewportHeight > 0 ? double(viewportWidth) / viewportHeight : 1;
    return view.camera.projectionMatrix(aspect, boundingSphere(box));
}

Mat4 Scene::projectionView(int subViewIndex, int viewportWidth, int viewportHeight) const
{
    std::lock_guard lock(mutex_);
    return projectionMatrix(subViewIndex, viewportWidth, viewportHeight) * viewMatrix(subViewIndex);
}

std::uint32_t Scene::pick(double x, double y, int windowWidth, int windowHeight) const
{
    std::lock_guard lock(mutex_);
    const int index = currentSubView_;
    const auto [vx, vy, vw, vh] = viewport(index, windowWidth, windowHeight);
    const auto ray = rayFromScreen(projectionView(index, vw, vh), x - vx, y - vy, vw, vh);
    if (!ray || x < vx || y < vy || x >= vx + vw || y >= vy + vh)
        return 0;
    std::uint32_t best = 0;
    double bestT = 0;
    for (const auto& object : objects_) {
        if (!(object->viewMask & (1u << index)))
            continue;
        const auto t = rayMesh(*ray, modelMatrix(*object), object->mesh.get());
        if (t && (best == 0 || *t < bestT)) {
            best = object->id;
            bestT = *t;
        }
    }
    return best;
}

std::uint64_t Scene::revision() const
{
    std::lock_guard lock(mutex_);
    return revision_;
}

void Scene::setChangeListener(std::function<void()> listener)
{
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void View3dObject::reportSizes(int& width, int& height, int& depth) const
{
    const Vec3 box = scene->referenceBox();
    width = int(box.x);
    height = int(box.y);
    depth = int(box.z);
}

} // namespace vexa::scene
