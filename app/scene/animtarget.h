// What an animation asks of the 3D view it plays into. The interpreter builds meshes,
// textures and placements itself and hands finished objects over, so a view only
// stores them; camera moves, sub-views and frames are the view's own business.
#pragma once

#include "scene/scene.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexa::scene {

// One object made by an animation, ready to be added to a scene.
struct AnimObject {
    std::string name;
    TriMeshPtr mesh; // null for an object without geometry
    std::optional<Colour> colour; // r, g, b; alpha separately
    std::optional<double> alpha;
    std::shared_ptr<const Texture> texture;
    std::vector<float> texCoords; // u, v per point, or empty
};

class AnimTarget {
public:
    virtual ~AnimTarget() = default;

    // Creates the View 3D datum and shows it; false when no view could be made.
    virtual bool createView() = 0;
    virtual void showReferenceBox(bool shown) = 0;
    virtual void setReferenceBox(double width, double height, double depth) = 0;
    // Makes the view's drawing area width x height pixels.
    virtual void resizeView(int width, int height) = 0;
    virtual void refresh() = 0;

    virtual int subViewCount() = 0;
    virtual int currentSubView() = 0;
    virtual void selectSubView(int index) = 0;
    virtual void setSubViewVisible(int index, bool visible) = 0;
    // Index of the new sub-view, -1 when refused.
    virtual int addSubView(double x, double y, double width, double height) = 0;

    // Film recording: the output file and frame rate, then frames between begin and end.
    virtual void setFilm(const std::string& path, double frequency) = 0;
    virtual void beginFilm(bool raytracing) = 0;
    virtual void endFilm() = 0;
    // Draws one frame (and records it while a film is being made).
    virtual void renderFrame() = 0;

    virtual void rotateCamera(int axis, double angle) = 0;
    virtual void multiplyZoom(double factor) = 0;
    virtual void translateCameraWorld(int axis, double distance) = 0;
    virtual void translateCameraOwn(int axis, double distance) = 0;
    // Size in view units of one data unit along x, y and z.
    virtual Vec3 unitScale() = 0;

    // Adds the object, shown in the sub-views of viewMask.
    virtual void addObject(AnimObject object, std::uint32_t viewMask) = 0;
    virtual void deleteObjects(const std::string& name) = 0;

    // True once the playback should stop (the view was closed).
    virtual bool cancelled() { return false; }

    // The raytracing flag offered when recording, asked through a parameter box;
    // false when the box is cancelled.
    virtual bool askRaytracing(bool& raytracing) = 0;
};

} // namespace vexa::scene
