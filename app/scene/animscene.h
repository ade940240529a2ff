// The 3D view an animation plays into: a scene (of a View 3D record it makes, or one
// given), a frame size and a film being recorded. Frames are rendered by a hook the
// interface installs; without one, through the host's View 3D snapshot.
#pragma once

#include "scene/animtarget.h"

#include "data/datarecord.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vexa::video {
class FilmWriter;
}

namespace vexa::scene {

// Renders the scene into width x height RGBA pixels, first row at the top; false when
// it cannot. Called from the playback's thread.
using AnimFrameRenderer = std::function<bool(
    const std::shared_ptr<Scene>& scene, int width, int height, std::vector<std::uint8_t>& rgba)>;
void setAnimFrameRenderer(AnimFrameRenderer renderer);
// Makes the drawing area of a View 3D record's window width x height pixels. Called
// on the interface thread.
using AnimViewResizer = std::function<void(DataRecord& record, int width, int height)>;
void setAnimViewResizer(AnimViewResizer resizer);

class SceneAnimTarget : public AnimTarget {
public:
    // With a scene, plays into it (no record is made); otherwise createView makes a
    // View 3D record the first time.
    explicit SceneAnimTarget(std::shared_ptr<Scene> scene = nullptr);
    ~SceneAnimTarget() override;

    DataRecord* record() const { return record_; }
    const std::shared_ptr<Scene>& scene() const { return scene_; }
    int frameWidth() const { return width_; }
    int frameHeight() const { return height_; }
    // Frames written to the film so far.
    int filmFrames() const;
    // The frame renderer of this target alone (tests); overrides the installed one.
    void setRenderer(AnimFrameRenderer renderer) { renderer_ = std::move(renderer); }
    // Seconds to wait after each frame shown but not recorded, so that a playback
    // can be watched; 0 never waits.
    void setPacing(double seconds) { pacing_ = seconds; }
    int framesRendered() const { return rendered_; }
    // Name given to the record createView makes.
    void setViewName(const std::string& name) { viewName_ = name; }

    bool createView() override;
    void showReferenceBox(bool shown) override;
    void setReferenceBox(double width, double height, double depth) override;
    void resizeView(int width, int height) override;
    void refresh() override;
    int subViewCount() override;
    int currentSubView() override;
    void selectSubView(int index) override;
    void setSubViewVisible(int index, bool visible) override;
    int addSubView(double x, double y, double width, double height) override;
    void setFilm(const std::string& path, double frequency) override;
    void beginFilm(bool raytracing) override;
    void endFilm() override;
    void renderFrame() override;
    void rotateCamera(int axis, double angle) override;
    void multiplyZoom(double factor) override;
    void translateCameraWorld(int axis, double distance) override;
    void translateCameraOwn(int axis, double distance) override;
    Vec3 unitScale() override;
    void addObject(AnimObject object, std::uint32_t viewMask) override;
    void deleteObjects(const std::string& name) override;
    bool cancelled() override;
    bool askRaytracing(bool& raytracing) override;

private:
    void stopFilm(const std::string& reason);

    std::shared_ptr<Scene> scene_;
    DataRecord* record_ = nullptr;
    bool ownsView_ = false;
    int width_ = 640, height_ = 480;
    std::string filmPath_;
    double frequency_ = 25;
    bool filming_ = false;
    std::shared_ptr<video::FilmWriter> film_; // shared: complete only where films are built
    std::uint32_t imageId_ = 0;
    std::string viewName_;
    int filmFrames_ = 0;
    AnimFrameRenderer renderer_;
    double pacing_ = 0;
    int rendered_ = 0;
    std::vector<std::uint8_t> pixels_;
};

} // namespace vexa::scene
