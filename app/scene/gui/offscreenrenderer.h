// Renders a scene without a window: its own GL context on an offscreen surface and a
// framebuffer object per frame size. Snapshots, tests and movie frames go through it.
#pragma once

#include <QImage>

#include <cstdint>
#include <memory>
#include <vector>

class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLFramebufferObject;

namespace vexa {
struct DataRecord;
}
namespace vexa::scene {
class Scene;
}

namespace vexa::gui {

class SceneRenderer;

class OffscreenRenderer {
public:
    OffscreenRenderer();
    ~OffscreenRenderer();
    OffscreenRenderer(const OffscreenRenderer&) = delete;
    OffscreenRenderer& operator=(const OffscreenRenderer&) = delete;

    // The frame as RGBA8888, first row at the top; a null image when the size is
    // outside 1 .. 16384 or no OpenGL 3.3 context can be had (see lastError()).
    QImage render(const scene::Scene& scene, int width, int height);
    const QString& lastError() const { return error_; }
    // Faster, coarser volumes while a view turns (see SceneRenderer::setInteractive).
    void setInteractive(bool interactive) { interactive_ = interactive; }
    // Volumes marched by the processor or by a shader; until this is called, as the
    // renderer chooses for the GL at hand (see SceneRenderer::setMarchOnProcessor).
    void setMarchOnProcessor(bool processor) { march_ = processor ? 1 : 0; }

private:
    bool ensureContext();

    std::unique_ptr<QOpenGLContext> context_;
    std::unique_ptr<QOffscreenSurface> surface_;
    std::unique_ptr<QOpenGLFramebufferObject> fbo_;
    std::unique_ptr<SceneRenderer> renderer_;
    QString error_;
    bool interactive_ = false;
    int march_ = -1; // -1: the renderer's choice
};

// The scene of a View 3D record rendered into width x height RGBA pixels, first row at
// the top (snapshots, films of views and animations). False when the record holds no
// scene or nothing can be rendered; the renderer's reason then goes to the error stream.
bool renderViewRgba(OffscreenRenderer& renderer, DataRecord& record, int width, int height,
    std::vector<std::uint8_t>& rgba);

} // namespace vexa::gui
