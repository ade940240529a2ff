#include "scene/animscene.h"

#include "data/dataopen.h"
#include "data/registry.h"
#include "host/host.h"
#include "log/logmodel.h"
#include "params/paramapi.h"
#include "scene/anim.h"
#include "tasks/workerthread.h"

#ifdef VEXA_ANIM_FILMS
#include "video/filmwriter.h"
#endif

#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <thread>

namespace vexa::scene {

namespace {

std::mutex gRendererMutex;
AnimFrameRenderer gRenderer;
AnimViewResizer gResizer;
// The workstation's raytracing flag, offered when a film is recorded.
std::atomic<bool> gRaytracing { false };

// The record of the View 3D whose scene this is, on the interface thread; null once
// the view was closed.
DataRecord* recordOfScene(std::uint32_t imageId, const Scene* scene)
{
    DataRecord* record = dataFind(imageId);
    auto* view = record ? dynamic_cast<View3dObject*>(record->kindObject()) : nullptr;
    return view && view->scene.get() == scene ? record : nullptr;
}

} // namespace

void setAnimFrameRenderer(AnimFrameRenderer renderer)
{
    std::lock_guard lock(gRendererMutex);
    gRenderer = std::move(renderer);
}

void setAnimViewResizer(AnimViewResizer resizer)
{
    std::lock_guard lock(gRendererMutex);
    gResizer = std::move(resizer);
}

SceneAnimTarget::SceneAnimTarget(std::shared_ptr<Scene> scene)
    : scene_(std::move(scene))
{
}

SceneAnimTarget::~SceneAnimTarget()
{
#ifdef VEXA_ANIM_FILMS
    if (film_) {
        std::string reason;
        film_->close(reason);
    }
#endif
}

int SceneAnimTarget::filmFrames() const
{
    return filmFrames_;
}

bool SceneAnimTarget::createView()
{
    if (scene_)
        return true;
    auto view = std::make_unique<View3dObject>();
    std::shared_ptr<Scene> made = view->scene;
    record_ = dataCreateKind(DATA_VIEW3D, std::move(view), kFreshId, kFreshId);
    if (!record_)
        return false;
    scene_ = std::move(made);
    ownsView_ = true;
    imageId_ = record_->imageId;
    if (!viewName_.empty())
        dataSetName(record_, viewName_);
    return true;
}

void SceneAnimTarget::showReferenceBox(bool shown)
{
    scene_->showReferenceBox(shown);
}

void SceneAnimTarget::setReferenceBox(double width, double height, double depth)
{
    scene_->setReferenceBox(width, height, depth);
    scene_->resetCamera();
}

void SceneAnimTarget::resizeView(int width, int height)
{
    // Recorded frames take that size whether or not a window follows.
    width_ = width;
    height_ = height;
    AnimViewResizer resizer;
    {
        std::lock_guard lock(gRendererMutex);
        resizer = gResizer;
    }
    if (!ownsView_ || !resizer)
        return;
    runOnInterfaceThread(GuiRequest::OpenWindow, [&] {
        if (DataRecord* record = recordOfScene(imageId_, scene_.get()))
            resizer(*record, width, height);
    });
}

void SceneAnimTarget::refresh()
{
    if (!ownsView_)
        return;
    postToInterfaceThread(GuiRequest::OpenWindow, [id = imageId_, scene = scene_.get()] {
        if (DataRecord* record = recordOfScene(id, scene))
            dataRedraw(record);
    });
}

int SceneAnimTarget::subViewCount()
{
    return scene_->subViewCount();
}

int SceneAnimTarget::currentSubView()
{
    return scene_->currentSubView();
}

void SceneAnimTarget::selectSubView(int index)
{
    scene_->selectSubView(index);
}

void SceneAnimTarget::setSubViewVisible(int index, bool visible)
{
    scene_->setSubViewVisible(index, visible);
}

int SceneAnimTarget::addSubView(double x, double y, double width, double height)
{
    const int index = scene_->addSubView(x, y, width, height);
    if (index >= 0) {
        // A new sub-view frames the scene as the first one did.
        const int previous = scene_->currentSubView();
        scene_->selectSubView(index);
        scene_->setCamera(scene_->subView(0).camera);
        scene_->selectSubView(previous);
    }
    return index;
}

void SceneAnimTarget::setFilm(const std::string& path, double frequency)
{
    filmPath_ = path;
    // Films play at a usual rate; out of that range (the files' default is 10000) the
    // film is made at 25 images per second.
    frequency_ = std::isfinite(frequency) && frequency >= 1 && frequency <= 1000 ? frequency : 25;
}

void SceneAnimTarget::beginFilm(bool raytracing)
{
    // The renderer draws the same frames either way: say so once per run.
    static std::atomic<bool> told { false };
    if (raytracing && !told.exchange(true))
        log::logMessage("Raytracing : les images du film sont celles de la vue 3D");
#ifdef VEXA_ANIM_FILMS
    video::FilmSettings settings;
    settings.path = filmPath_;
    settings.width = width_;
    settings.height = height_;
    settings.framesPerSecond = frequency_;
    std::string reason;
    film_ = video::FilmWriter::open(settings, reason);
    if (!film_) {
        hostMessageBox(
            kErrorCaption, reason.empty() ? filmPath_ + " : écriture impossible" : reason);
        return;
    }
    filming_ = true;
    filmFrames_ = 0;
#else
    hostMessageBox(kErrorCaption, filmPath_ + " : enregistrement de films indisponible");
#endif
}

void SceneAnimTarget::stopFilm(const std::string& reason)
{
    filming_ = false;
#ifdef VEXA_ANIM_FILMS
    if (film_) {
        std::string closing;
        film_->close(closing);
        film_.reset();
    }
#endif
    if (!reason.empty())
        hostMessageBox(kErrorCaption, reason);
}

void SceneAnimTarget::endFilm()
{
#ifdef VEXA_ANIM_FILMS
    if (!film_)
        return;
    std::string reason;
    const bool closed = film_->close(reason);
    film_.reset();
    filming_ = false;
    if (!closed)
        hostMessageBox(kErrorCaption, reason.empty() ? filmPath_ + " : film inachevé" : reason);
#endif
}

void SceneAnimTarget::renderFrame()
{
    ++rendered_;
    refresh();
    if (!filming_) {
        if (pacing_ > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(pacing_));
        return;
    }
    AnimFrameRenderer renderer = renderer_;
    if (!renderer) {
        std::lock_guard lock(gRendererMutex);
        renderer = gRenderer;
    }
    bool rendered = false;
    pixels_.clear();
    if (renderer) {
        rendered = renderer(scene_, width_, height_, pixels_);
    } else if (ownsView_ && host()) {
        runOnInterfaceThread(GuiRequest::OpenWindow, [&] {
            if (DataRecord* record = recordOfScene(imageId_, scene_.get()))
                rendered = host()->snapshotView3d(*record, width_, height_, pixels_);
        });
    }
    if (!rendered || pixels_.size() != std::size_t(width_) * std::size_t(height_) * 4) {
        stopFilm(filmPath_ + " : rendu de l'image impossible, enregistrement arrêté");
        return;
    }
#ifdef VEXA_ANIM_FILMS
    std::string reason;
    if (!film_->addFrameRgba(pixels_.data(), width_ * 4, reason)) {
        stopFilm(reason.empty() ? filmPath_ + " : écriture impossible" : reason);
        return;
    }
    filmFrames_ = film_->framesWritten();
#endif
}

void SceneAnimTarget::rotateCamera(int axis, double angle)
{
    scene_->rotateCamera(axis, angle);
}

void SceneAnimTarget::multiplyZoom(double factor)
{
    scene_->multiplyZoom(factor);
}

void SceneAnimTarget::translateCameraWorld(int axis, double distance)
{
    scene_->translateCameraWorld(axis, distance);
}

void SceneAnimTarget::translateCameraOwn(int axis, double distance)
{
    scene_->translateCameraOwn(axis, distance);
}

Vec3 SceneAnimTarget::unitScale()
{
    return scene_->unitScale();
}

void SceneAnimTarget::addObject(AnimObject object, std::uint32_t viewMask)
{
    auto made = std::make_unique<SceneObject>();
    made->name = object.name;
    made->type = OBJECT_MESH;
    made->mesh = std::move(object.mesh);
    if (made->mesh)
        made->meshBounds = meshBox(made->mesh.get());
    if (object.colour) {
        Colour c = *object.colour;
        c.r = std::clamp(c.r, 0.0, 1.0), c.g = std::clamp(c.g, 0.0, 1.0),
        c.b = std::clamp(c.b, 0.0, 1.0);
        made->material.diffuse = { c.r, c.g, c.b, made->material.diffuse.a };
        made->material.ambient = { c.r, c.g, c.b, made->material.ambient.a };
    }
    if (object.alpha && std::isfinite(*object.alpha))
        made->material.diffuse.a = std::clamp(*object.alpha, 0.0, 1.0);
    const std::uint32_t id = scene_->addObject(std::move(made), viewMask);
    if (!id)
        return;
    if (object.texture) {
        scene_->setTexture(
            id, object.texture->rgba.data(), object.texture->width, object.texture->height);
        scene_->setWrapping(id, WRAP_CLAMP);
    }
    if (!object.texCoords.empty())
        scene_->setTexCoords(
            id, object.texCoords.data(), std::int32_t(object.texCoords.size() / 2));
    // Textured quads are drawn as the image shows them, without lighting.
    if (object.texture && object.texCoords.size() == 8)
        scene_->setType(id, OBJECT_SLICE);
}

void SceneAnimTarget::deleteObjects(const std::string& name)
{
    scene_->removeObjectsNamed(name);
}

bool SceneAnimTarget::cancelled()
{
    // The record's kind object holds the other reference to the scene: once the
    // window is closed only this playback still holds it.
    return ownsView_ && scene_.use_count() == 1;
}

bool SceneAnimTarget::askRaytracing(bool& raytracing)
{
    int flag = gRaytracing.load() ? 1 : 0;
    if (dozBoxParameter("Raytracing%c%n", &flag) != 1) {
        raytracing = gRaytracing.load();
        return false;
    }
    gRaytracing = flag != 0;
    raytracing = flag != 0;
    return true;
}

} // namespace vexa::scene

namespace vexa::scene {

namespace {

// Frames shown but not recorded wait this long, so that the moves can be watched.
constexpr double kWatchPacing = 0.04;

int playInto(const std::shared_ptr<SceneAnimTarget>& target, const std::string& path)
{
    // Playing on the interface thread, nothing is drawn until the end: no waiting.
    if (host() && !isInterfaceThread())
        target->setPacing(kWatchPacing);
    const int played = playAnimation(path, *target);
    if (played && target->cancelled())
        log::logPost(("Animation interrompue : " + path).c_str());
    return played;
}

} // namespace

int playAnimationFile(std::string path)
{
    if (!isAnimationFile(path))
        return 0;
    auto target = std::make_shared<SceneAnimTarget>();
    target->setViewName(path);
    return playInto(target, path);
}

bool playAnimationFileThread(std::string path)
{
    if (!isAnimationFile(path))
        return false;
    TaskCommand command;
    command.name = "Animation";
    command.builtin = [path] { playAnimationFile(path); };
    taskStartCommand(std::move(command));
    return true;
}

bool claimsAnimationFile(const std::string& path, const std::string& head)
{
    // Every file opened passes here: only what starts as XML (after a UTF-8 byte
    // order mark and blanks, or with a UTF-16 mark) is read further.
    std::size_t at = head.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    const bool utf16 = head.rfind("\xFF\xFE", 0) == 0 || head.rfind("\xFE\xFF", 0) == 0;
    while (at < head.size() && std::isspace(static_cast<unsigned char>(head[at])))
        ++at;
    if (!utf16 && (at >= head.size() || head[at] != '<'))
        return false;
    return isAnimationFile(path);
}

DataRecord* openAnimationFile(const std::string& path, std::string* reason)
{
    if (!isAnimationFile(path)) {
        if (reason)
            *reason = path + " : ce n'est pas un fichier d'animation";
        return nullptr;
    }
    auto target = std::make_shared<SceneAnimTarget>();
    target->setViewName(path);
    if (!target->createView()) {
        if (reason)
            *reason = path + " : " + kCannotOpenFile;
        return nullptr;
    }
    DataRecord* record = target->record();
    TaskCommand command;
    command.name = "Animation";
    command.builtin = [target, path] { playInto(target, path); };
    taskStartCommand(std::move(command));
    return record;
}

void installAnimationFileOpener()
{
    addForeignFileOpener({ claimsAnimationFile, openAnimationFile });
}

} // namespace vexa::scene
