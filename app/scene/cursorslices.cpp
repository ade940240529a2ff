#include "scene/cursorslices.h"

#include "data/registry.h"
#include "data/section.h"
#include "views/displaybuffer.h"
#include "views/imageview.h"

#include <cstdlib>
#include <cstring>

namespace vexa::scene {

const char* const kCursorSliceNames[3]
    = { "Curseur 3D FRONT", "Curseur 3D RIGHT", "Curseur 3D TOP" };

namespace {

constexpr std::size_t kPaletteOffset = 40; // after the bitmap information header

// The bitmap's pixels as RGBA, first row first; empty when its layout is unexpected.
std::vector<std::uint8_t> toRgba(const DisplayBitmap& bitmap)
{
    const std::size_t w = std::size_t(bitmap.width), h = std::size_t(bitmap.height);
    const bool indexed = bitmap.bytesPerPixel == 1;
    if (!bitmap.ready || w == 0 || h == 0
        || (bitmap.bytesPerPixel != 1 && bitmap.bytesPerPixel != 3)
        || bitmap.bits.size() < std::size_t(bitmap.stride) * h
        || (indexed && bitmap.header.size() < kPaletteOffset + 256 * 4))
        return {};
    std::vector<std::uint8_t> rgba(w * h * 4);
    std::uint8_t* out = rgba.data();
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* p = bitmap.topRow(int(y));
        for (std::size_t x = 0; x < w; ++x, out += 4) {
            // Entries and pixels are stored blue, green, red.
            const std::uint8_t* bgr
                = indexed ? &bitmap.header[kPaletteOffset + std::size_t(p[x]) * 4] : p + x * 3;
            out[0] = bgr[2];
            out[1] = bgr[1];
            out[2] = bgr[0];
            out[3] = 255;
        }
    }
    return rgba;
}

std::uint32_t objectNamed(const Scene& scene, const std::string& name)
{
    std::lock_guard lock(scene.mutex());
    for (const auto& object : scene.objectsLocked())
        if (object->name == name)
            return object->id;
    return 0;
}

} // namespace

TriMesh* cursorSliceQuad(const BlockDescriptor& block, int plane, int index, std::vector<float>& uv)
{
    const float X = float(block.dimX), Y = float(block.dimY), Z = float(block.dimZ);
    if (block.dimX <= 0 || block.dimY <= 0 || block.dimZ <= 0)
        return nullptr;
    const float at = float(index) + 0.5f;
    float corners[12];
    if (plane == PLANE_FRONT) {
        const float c[12] = { 0, 0, at, X, 0, at, X, Y, at, 0, Y, at };
        std::memcpy(corners, c, sizeof c);
        uv = { 0, 0, 1, 0, 1, 1, 0, 1 };
    } else if (plane == PLANE_RIGHT) {
        // Columns run along z, rows along y.
        const float c[12] = { at, 0, 0, at, 0, Z, at, Y, Z, at, Y, 0 };
        std::memcpy(corners, c, sizeof c);
        uv = { 0, 0, 1, 0, 1, 1, 0, 1 };
    } else if (plane == PLANE_TOP) {
        // Columns run along x, rows from the last z to the first.
        const float c[12] = { 0, at, 0, X, at, 0, X, at, Z, 0, at, Z };
        std::memcpy(corners, c, sizeof c);
        uv = { 0, 1, 1, 1, 1, 0, 0, 0 };
    } else {
        return nullptr;
    }
    auto* points = static_cast<float*>(std::malloc(sizeof corners));
    auto* triangles = static_cast<std::int32_t*>(std::malloc(6 * sizeof(std::int32_t)));
    if (!points || !triangles) {
        std::free(points);
        std::free(triangles);
        return nullptr;
    }
    std::memcpy(points, corners, sizeof corners);
    const std::int32_t t[6] = { 0, 1, 2, 0, 2, 3 };
    std::memcpy(triangles, t, sizeof t);
    TriMesh* mesh = triMeshCreate(points, 4, triangles, 2);
    if (!mesh) {
        std::free(points);
        std::free(triangles);
    }
    return mesh;
}

int updateCursorSlices(Scene& scene, DataRecord& image)
{
    const BlockDescriptor* block = image.block();
    if (!block || !block->cursor3dShown) {
        for (const char* name : kCursorSliceNames)
            scene.removeObjectsNamed(name);
        return 0;
    }
    // A view made for the slices frames them, as one made for any first object, and
    // shows them as the image window does.
    scene.setImageAxes(true);
    const bool wasEmpty = scene.objectCount() == 0;
    int shown = 0;
    for (int plane = PLANE_FRONT; plane <= PLANE_TOP; ++plane) {
        const std::string name = kCursorSliceNames[plane];
        std::vector<float> uv;
        TriMeshPtr quad(cursorSliceQuad(*block, plane, currentSectionIndex(*block, plane), uv));
        DisplayBitmap bitmap;
        std::vector<std::uint8_t> rgba;
        if (quad && buildSectionBitmap(image, plane, bitmap))
            rgba = toRgba(bitmap);
        // A section that cannot be had is taken away rather than left showing an old one.
        if (rgba.empty() || !textureSizeError(bitmap.width, bitmap.height).empty()) {
            scene.removeObjectsNamed(name);
            continue;
        }
        // Changed under the scene lock, so a frame never shows a half-made slice; an
        // existing slice keeps its identifier, selection and sub-views.
        std::lock_guard lock(scene.mutex());
        std::uint32_t id = objectNamed(scene, name);
        if (!id)
            id = scene.createObject(name, OBJECT_SLICE);
        if (!scene.setMesh(id, quad.get())
            || !scene.setTexture(id, rgba.data(), bitmap.width, bitmap.height)
            || !scene.setTexCoords(id, uv.data(), 4) || !scene.setWrapping(id, WRAP_CLAMP)) {
            scene.removeObject(id);
            continue;
        }
        ++shown;
    }
    if (wasEmpty && shown > 0)
        scene.resetCamera();
    return shown;
}

std::shared_ptr<Scene> linkedViewScene(DataRecord& image, bool create)
{
    DataRecord* view = dataFindView3dOf(&image);
    if (!view && create) {
        auto object = std::make_unique<View3dObject>();
        if (const BlockDescriptor* block = image.block())
            object->scene->setReferenceBox(block->dimX, block->dimY, block->dimZ);
        view = dataCreateKind(DATA_VIEW3D, std::move(object), kFreshId, kFreshId, image.linkGroup);
    }
    auto* view3d = view ? dynamic_cast<View3dObject*>(view->kindObject()) : nullptr;
    if (!view3d)
        return nullptr;
    // Whatever made it, the image's view shows the image's content.
    view3d->scene->setImageAxes(true);
    return view3d->scene;
}

void refreshCursorSlices(DataRecord& image)
{
    const BlockDescriptor* block = image.block();
    if (!block)
        return;
    if (std::shared_ptr<Scene> scene = linkedViewScene(image, block->cursor3dShown != 0))
        updateCursorSlices(*scene, image);
}

} // namespace vexa::scene
