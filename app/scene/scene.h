// The scene of a View 3D record: its objects (each with its own copy of a mesh, a
// material, an optional texture, a placement and a view mask), the reference box,
// the sub-views with their cameras, and the scale from data units to view units.
//
// Objects are named by identifiers unique in the process, so an object can be made
// apart and added to a scene later. Every operation taking an identifier does nothing
// and returns 0 when the scene holds no such object; success is 1. All operations
// lock the scene, so tasks may build a scene while the window draws it.
#pragma once

#include "scene/camera.h"
#include "scene/scenemath.h"

#include "data/datarecord.h"
#include "mesh/trimesh.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vexa::scene {

enum ObjectType : int {
    OBJECT_MESH = 1,
    OBJECT_CURVE = 2,
    OBJECT_VOLUME = 3,
    OBJECT_SLICE = 4, // textured plane, drawn without lighting
    OBJECT_PRIMITIVE = 5,
};

enum TextureWrap : int {
    WRAP_CLAMP = 0,
    WRAP_REPEAT = 1,
    WRAP_MIRROR = 2,
};

struct Colour {
    double r = 0, g = 0, b = 0, a = 1;
};

struct Material {
    Colour diffuse { 0.8, 0.8, 0.8, 1 };
    Colour ambient { 0.8, 0.8, 0.8, 1 };
    Colour emissive { 0, 0, 0, 1 };
    Colour specular { 0.3, 0.3, 0.3, 1 };
    double specularPower = 20;
};

struct Texture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba; // 4 x width x height, first row first
};

// Texture sides above this are refused: a GL implementation need not take more, and
// larger requests are far more likely a corrupt size than a real picture.
constexpr int kMaxTextureSide = 16384;

struct Volume;

struct TriMeshDeleter {
    void operator()(TriMesh* mesh) const { triMeshFree(&mesh); }
};
using TriMeshPtr = std::unique_ptr<TriMesh, TriMeshDeleter>;

struct SceneObject {
    SceneObject(); // takes the next process-wide identifier

    std::uint32_t id;
    std::string name;
    int type = OBJECT_MESH;
    TriMeshPtr mesh;
    std::vector<std::uint8_t> vertexColours; // 4 per point, or empty
    Material material;
    double transparency = 0; // 0 opaque .. 1 invisible
    std::shared_ptr<const Texture> texture;
    std::vector<float> texCoords; // u, v per point, or empty
    int wrapping = WRAP_REPEAT;
    Mat4 placement = identity();
    std::string shapeName; // "CUBE", ... of a primitive's placement
    std::uint32_t viewMask = 1; // bit i: shown in sub-view i
    // A volume object's samples and its placement box in its own coordinates; its
    // mesh is that box, so framing and picking treat it as any other object.
    std::shared_ptr<const Volume> volume;
    Box volumeBox;
    // Box of the mesh's finite points in its own coordinates, kept by the scene so
    // that framing and depth ranges do not walk millions of points every frame.
    Box meshBounds;
    // Raised when the mesh, colours or coordinates change, and when the texture
    // changes: the renderer uploads again only then.
    std::uint64_t geometryRevision = 1;
    std::uint64_t textureRevision = 1;

    // Diffuse alpha times (1 - transparency).
    double opacity() const;
};

struct SubView {
    double x = 0, y = 0, width = 1, height = 1; // fractions of the window, top-left origin
    bool visible = true;
    Camera camera;
};

// Reason a texture of that size is refused ("" when it is acceptable).
std::string textureSizeError(int width, int height);

// Labels of the processing commands of an object's context menu: mesh objects with a
// mesh only; "Déconditionnement" only when the mesh has a block partition.
std::vector<std::string> objectCommands(const SceneObject& object);
// The description lines shown at the top of that menu (name, material, figures).
std::vector<std::string> objectInfoLines(const SceneObject& object);

class Scene {
public:
    Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // Objects. createObject adds a new empty object and returns its identifier.
    std::uint32_t createObject(const std::string& name = {}, int type = OBJECT_MESH);
    // Adds an object made apart, shown in the sub-views of viewMask; its identifier.
    std::uint32_t addObject(std::unique_ptr<SceneObject> object, std::uint32_t viewMask);
    // Removes an object and hands it over (null when unknown).
    std::unique_ptr<SceneObject> takeObject(std::uint32_t id);
    int removeObject(std::uint32_t id);
    // Removes every object of that name; the number removed.
    int removeObjectsNamed(const std::string& name);
    bool hasObject(std::uint32_t id) const;
    int objectCount() const;
    std::int64_t facetCount() const;
    std::vector<std::uint32_t> objectIds() const;
    // Runs f on the object under the scene lock (the geometry counts as changed when f
    // returns true); 0 when unknown.
    int editObject(std::uint32_t id, const std::function<bool(SceneObject&)>& f);
    // Runs f on the object under the scene lock, read only; 0 when unknown.
    int readObject(std::uint32_t id, const std::function<void(const SceneObject&)>& f) const;

    int setName(std::uint32_t id, const std::string& name);
    std::string name(std::uint32_t id) const;
    int type(std::uint32_t id) const; // 0 when unknown
    int setType(std::uint32_t id, int type);
    // Keeps a copy of mesh (null clears it). Colours and texture coordinates that no
    // longer match the point count are dropped. 0 when the mesh's indices are invalid.
    int setMesh(std::uint32_t id, const TriMesh* mesh);
    // As setMesh, and takes a placement (row-major with row vectors, the exchanged
    // meshes' layout, which is this scene's column-major) and the shape's name.
    int setMeshWithPlacement(
        std::uint32_t id, const TriMesh* mesh, const double matrix[16], const std::string& shape);
    // Copy of the object's mesh for the caller to free; null when unknown or none.
    TriMesh* copyMesh(std::uint32_t id) const;
    // 4 bytes per point; 0 when the count differs from the mesh's point count.
    int setVertexColours(std::uint32_t id, const std::uint8_t* rgba, std::int32_t nbPoints);
    // Diffuse and ambient colour; components outside [0, 1] are refused.
    int setColour(std::uint32_t id, Colour colour);
    Colour colour(std::uint32_t id) const;
    int setMaterial(std::uint32_t id, const Material& material);
    int setTransparency(std::uint32_t id, double transparency);
    // RGBA copy of width x height pixels; refused (0) when textureSizeError says so.
    int setTexture(std::uint32_t id, const std::uint8_t* rgba, int width, int height);
    int clearTexture(std::uint32_t id);
    // u, v per point; 0 when the count differs from the mesh's point count.
    int setTexCoords(std::uint32_t id, const float* uv, std::int32_t nbPoints);
    int setWrapping(std::uint32_t id, int wrapping);
    // Makes the object a volume of those samples (shared, never copied). An object
    // without a box yet gets (0, 0, 0) .. (nx, ny, nz). 0 for a null volume.
    int setVolume(std::uint32_t id, std::shared_ptr<const Volume> volume);
    // The volume's box in the object's coordinates; refused when volumeBoxError says so.
    int setVolumeBox(std::uint32_t id, Vec3 origin, Vec3 size);
    int setPlacement(std::uint32_t id, const Mat4& placement);
    // Steps applied after the current placement. Rotation follows the meshes' own
    // rotate operation, so turning an object or its mesh gives the same picture.
    int translateObject(std::uint32_t id, double dx, double dy, double dz);
    int rotateObject(std::uint32_t id, double ax, double ay, double az, double angle);
    int scaleObject(std::uint32_t id, double sx, double sy, double sz);
    int setViewMask(std::uint32_t id, std::uint32_t mask);

    // Reference box from the origin to (width, height, depth) in data units.
    int setReferenceBox(double width, double height, double depth);
    Vec3 referenceBox() const;
    void showReferenceBox(bool shown);
    bool referenceBoxShown() const;

    // Sub-view 0 is the whole window and always exists.
    int subViewCount() const;
    int currentSubView() const;
    int selectSubView(int index);
    // Index of the new sub-view, -1 when the rectangle is empty or not finite.
    int addSubView(double x, double y, double width, double height);
    int setSubViewVisible(int index, bool visible);
    SubView subView(int index) const; // sub-view 0 when out of range

    // Camera of the current sub-view.
    Camera camera() const;
    void setCamera(const Camera& camera);
    void rotateCamera(int axis, double angle);
    void multiplyZoom(double factor);
    void translateCameraWorld(int axis, double distance);
    void translateCameraOwn(int axis, double distance);
    // Whether the scene shows an image's content (its sections, volumes and surfaces
    // in voxel coordinates) rather than meshes read from files. The flag is set by
    // whoever makes or fills the view of an image, never guessed from the objects:
    // plug-ins and mesh files put all kinds of objects in their own views and expect y
    // upwards, while an image's view must show voxel y downwards as the image window
    // does. Setting it on a scene without objects frames it again at once, so a view
    // made for an image starts as it will be reset.
    void setImageAxes(bool imageAxes);
    bool imageAxes() const;
    // Frames what the current sub-view shows (the reference box when it shows nothing),
    // along the image axes or the mesh axes (see Camera::frame).
    void resetCamera();
    // Frames as resetCamera does, seen as the image window shows the block's FRONT,
    // RIGHT or TOP sections: from -z with x right and y down, from +x with z right and
    // y down, from -y with x right and z up.
    enum Side { SIDE_FRONT = 0, SIDE_RIGHT = 1, SIDE_TOP = 2 };
    void viewFrom(int side);
    // Frames what the current sub-view shows, keeping the direction it is seen from.
    void fitView();

    // Size in view units of one data unit along x, y and z.
    int setUnitScale(Vec3 scale);
    Vec3 unitScale() const;

    std::uint32_t selectedObject() const;
    void selectObject(std::uint32_t id); // 0 clears

    // View-space geometry. model(o) takes o's mesh to view units.
    Mat4 modelMatrix(const SceneObject& object) const;
    // Bounds in view units of what sub-view index shows (-1: every object) including
    // the reference box when shown.
    Box bounds(int subViewIndex) const;
    // Viewport of a sub-view in a window of that size: x, y, width, height in pixels.
    std::array<int, 4> viewport(int subViewIndex, int windowWidth, int windowHeight) const;
    // The matrices the renderer and picking share for a sub-view of that viewport size.
    Mat4 viewMatrix(int subViewIndex) const;
    Mat4 projectionMatrix(int subViewIndex, int viewportWidth, int viewportHeight) const;
    Mat4 projectionView(int subViewIndex, int viewportWidth, int viewportHeight) const;
    // Nearest object shown by the current sub-view under the window pixel (x, y);
    // 0 when none.
    std::uint32_t pick(double x, double y, int windowWidth, int windowHeight) const;

    // The renderer reads the objects under this lock.
    std::recursive_mutex& mutex() const { return mutex_; }
    const std::vector<std::unique_ptr<SceneObject>>& objectsLocked() const { return objects_; }
    std::uint64_t revision() const;
    // Called under the scene lock after every change; must not block.
    void setChangeListener(std::function<void()> listener);

private:
    SceneObject* find(std::uint32_t id) const;
    SubView& current();
    const SubView& current() const;
    void changed();
    int withObject(std::uint32_t id, const std::function<bool(SceneObject&)>& f);

    mutable std::recursive_mutex mutex_;
    std::vector<std::unique_ptr<SceneObject>> objects_;
    std::vector<SubView> subViews_;
    int currentSubView_ = 0;
    Vec3 referenceBox_ { 100, 100, 100 };
    bool referenceBoxShown_ = false;
    bool imageAxes_ = false;
    Vec3 unitScale_ { 1, 1, 1 };
    std::uint32_t selected_ = 0;
    std::uint64_t revision_ = 1;
    std::function<void()> listener_;
};

// The kind object of a View 3D record: its scene. reportSizes gives the reference box.
struct View3dObject : KindObject {
    std::shared_ptr<Scene> scene = std::make_shared<Scene>();
    void reportSizes(int& width, int& height, int& depth) const override;
};

} // namespace vexa::scene
