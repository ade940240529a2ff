#include "scene/gui/offscreenrenderer.h"

#include "scene/gui/scenerenderer.h"
#include "scene/scene.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QSurfaceFormat>

#include <cstring>

namespace vexa::gui {

namespace {

QSurfaceFormat glFormat()
{
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setDepthBufferSize(24);
    return format;
}

} // namespace

OffscreenRenderer::OffscreenRenderer() = default;

OffscreenRenderer::~OffscreenRenderer()
{
    // GL objects go while their context is current; the surface outlives the context.
    if (context_ && surface_ && context_->makeCurrent(surface_.get())) {
        renderer_.reset();
        fbo_.reset();
        context_->doneCurrent();
    }
    renderer_.release(); // leaked only when the context could not be made current
    fbo_.release();
    context_.reset();
    surface_.reset();
}

bool OffscreenRenderer::ensureContext()
{
    if (renderer_)
        return context_->makeCurrent(surface_.get());
    auto context = std::make_unique<QOpenGLContext>();
    context->setFormat(glFormat());
    if (!context->create()) {
        error_ = QStringLiteral("Contexte OpenGL indisponible");
        return false;
    }
    auto surface = std::make_unique<QOffscreenSurface>();
    surface->setFormat(context->format());
    surface->create();
    if (!surface->isValid() || !context->makeCurrent(surface.get())) {
        error_ = QStringLiteral("Surface OpenGL hors écran indisponible");
        return false;
    }
    const QSurfaceFormat got = context->format();
    if (got.majorVersion() * 10 + got.minorVersion() < 33) {
        error_ = QStringLiteral("OpenGL 3.3 requis (version %1.%2)")
                     .arg(got.majorVersion())
                     .arg(got.minorVersion());
        context->doneCurrent();
        return false;
    }
    auto renderer = std::make_unique<SceneRenderer>();
    if (!renderer->initialize()) {
        error_ = QStringLiteral("Compilation des shaders impossible");
        renderer.reset();
        context->doneCurrent();
        return false;
    }
    context_ = std::move(context);
    surface_ = std::move(surface);
    renderer_ = std::move(renderer);
    return true;
}

QImage OffscreenRenderer::render(const scene::Scene& scene, int width, int height)
{
    if (width < 1 || height < 1 || width > scene::kMaxTextureSide
        || height > scene::kMaxTextureSide) {
        error_ = QStringLiteral("Taille d'image invalide : %1 x %2").arg(width).arg(height);
        return {};
    }
    QOpenGLContext* previous = QOpenGLContext::currentContext();
    QSurface* previousSurface = previous ? previous->surface() : nullptr;
    if (!ensureContext())
        return {};
    if (!fbo_ || fbo_->size() != QSize(width, height)) {
        fbo_.reset();
        auto fbo = std::make_unique<QOpenGLFramebufferObject>(
            width, height, QOpenGLFramebufferObject::CombinedDepthStencil);
        if (!fbo->isValid()) {
            error_ = QStringLiteral("Tampon de rendu %1 x %2 impossible").arg(width).arg(height);
            context_->doneCurrent();
            return {};
        }
        fbo_ = std::move(fbo);
    }
    fbo_->bind();
    renderer_->setInteractive(interactive_);
    if (march_ >= 0)
        renderer_->setMarchOnProcessor(march_ == 1);
    renderer_->render(scene, width, height);
    QImage image = fbo_->toImage().convertToFormat(QImage::Format_RGBA8888);
    fbo_->release();
    context_->doneCurrent();
    if (previous && previousSurface)
        previous->makeCurrent(previousSurface);
    return image;
}

bool renderViewRgba(OffscreenRenderer& renderer, DataRecord& record, int width, int height,
    std::vector<std::uint8_t>& rgba)
{
    auto* view3d = dynamic_cast<scene::View3dObject*>(record.kindObject());
    if (!view3d)
        return false;
    QImage frame = renderer.render(*view3d->scene, width, height);
    if (frame.isNull()) {
        qWarning("%s", qPrintable(renderer.lastError()));
        return false;
    }
    frame.convertTo(QImage::Format_RGBA8888);
    if (frame.width() != width || frame.height() != height)
        return false;
    const std::size_t row = std::size_t(width) * 4;
    rgba.resize(row * std::size_t(height));
    for (int y = 0; y < height; ++y)
        std::memcpy(rgba.data() + row * std::size_t(y), frame.constScanLine(y), row);
    return true;
}

} // namespace vexa::gui
