// Draws a scene with OpenGL 3.3 core into whatever framebuffer is bound: the widget's
// own or an offscreen one. Each object's buffers are uploaded once and again only
// when its geometry or texture revision moves; buffers of removed objects are freed
// at the next frame. A renderer belongs to one GL context and must be destroyed while
// that context is current.
#pragma once

#include "scene/raymarch.h"
#include "scene/scene.h"

#include <QColor>
#include <QOpenGLExtraFunctions>

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

class QOpenGLShaderProgram;

namespace vexa::gui {

class SceneRenderer : protected QOpenGLExtraFunctions {
public:
    SceneRenderer();
    ~SceneRenderer();
    SceneRenderer(const SceneRenderer&) = delete;
    SceneRenderer& operator=(const SceneRenderer&) = delete;

    // Compiles the shaders in the current context; false when GL 3.3 is not there.
    bool initialize();
    bool initialized() const { return program_ != nullptr; }
    // Draws every visible sub-view into a width x height framebuffer (pixels).
    void render(const scene::Scene& scene, int width, int height);
    // While the view is being turned: volumes are marched at half the resolution and
    // two voxels per step, for frames that follow the mouse; otherwise one voxel per step.
    void setInteractive(bool interactive) { interactive_ = interactive; }
    bool interactive() const { return interactive_; }
    // Volumes marched by the processor instead of a fragment shader: chosen when the
    // GL is a software rasteriser, where it is several times faster.
    void setMarchOnProcessor(bool processor);
    bool marchesOnProcessor() const { return marchOnProcessor_; }

    static QColor background() { return QColor(24, 26, 38); }
    static QColor referenceBoxColour() { return QColor(200, 200, 200); }

private:
    struct GpuObject;
    void upload(const scene::SceneObject& object, GpuObject& gpu);
    void uploadTexture(const scene::SceneObject& object, GpuObject& gpu);
    void release(GpuObject& gpu);
    void drawObject(const scene::Scene& scene, const scene::SceneObject& object,
        const scene::Mat4& view, bool selected);
    void drawReferenceBox(const scene::Scene& scene, const scene::Mat4& view);
    void uploadVolume(const scene::SceneObject& object, GpuObject& gpu);
    void uploadBricks(const scene::Volume& volume, GpuObject& gpu);
    void renderFrame(const scene::Scene& scene, int width, int height);
    bool showsVolume(const scene::Scene& scene) const;
    bool reducedFramebuffer(int width, int height);
    void releaseReduced();
    bool copyDepth(int width, int height);
    bool readDepth();
    void drawMarchedVolume(const scene::MarchVolume& volume, const scene::MarchFrame& frame);
    // Ray-marches a volume object through its box; leaves the volume program bound.
    void drawVolume(const scene::Scene& scene, const scene::SceneObject& object,
        const scene::Mat4& view, const float projection[16]);

    std::unique_ptr<QOpenGLShaderProgram> program_;
    // Ray-marching of byte and float volumes; null when one did not build.
    std::unique_ptr<QOpenGLShaderProgram> volumePrograms_[2];
    std::unordered_map<std::uint32_t, std::unique_ptr<GpuObject>> objects_;
    unsigned boxVao_ = 0, boxVbo_ = 0;
    int maxTextureSize_ = 0;
    int max3dTextureSize_ = 0;
    bool interactive_ = false;
    bool marchOnProcessor_ = false;
    std::unique_ptr<QOpenGLShaderProgram> imageProgram_;
    unsigned imageVao_ = 0, imageTexture_ = 0;
    std::vector<float> depthPixels_; // of the sub-view, when the processor marches
    std::vector<std::uint8_t> marchedPixels_;
    // Of the sub-view being drawn: its projection and its viewport (x, y from the
    // bottom, width, height), and whether its opaque depth is in depthTexture_.
    scene::Mat4 projection_ = scene::identity();
    std::array<int, 4> viewport_ {};
    bool depthCopied_ = false;
    unsigned depthTexture_ = 0;
    int depthSize_[2] = {};
    unsigned reducedFbo_ = 0;
    unsigned reducedBuffers_[2] = {};
    int reducedSize_[2] = {};
};

} // namespace vexa::gui
