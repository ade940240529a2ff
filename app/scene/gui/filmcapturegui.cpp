#include "scene/gui/filmcapturegui.h"

#include "host/host.h"
#include "log/logmodel.h"
#include "params/paramapi.h"
#include "scene/filmcapture.h"
#include "scene/gui/view3dwidget.h"
#include "tasks/frametimer.h"

#include <QImage>

#include <cmath>
#include <cstring>

namespace vexa::gui {

namespace {

const char* const kCaption = "Enregistrer un film";

} // namespace

FilmRecorder::FilmRecorder(View3dWidget* view, QObject* parent)
    : QObject(parent)
    , view_(view)
{
}

FilmRecorder::~FilmRecorder()
{
    // No dialog while the window goes: a failure only reaches the log.
    if (capture_) {
        std::string reason;
        if (!capture_->finish(reason))
            log::logMessage("%s : %s", kCaption, reason.c_str());
    }
}

bool FilmRecorder::recording() const
{
    return capture_ != nullptr;
}

bool FilmRecorder::begin()
{
    if (capture_ || !view_)
        return false;
    // The choices stay from one recording to the next while the program runs.
    static std::string lastPath = "film.avi";
    static double lastRate = 25.0;
    FileChoice choice;
    choice.save = true;
    choice.title = kCaption;
    choice.filter = "Film AVI (*.avi);;Film MP4 (*.mp4)";
    choice.initialPath = lastPath;
    std::string path;
    if (!hostChooseFile(choice, path) || path.empty())
        return false;
    double rate = lastRate;
    if (dozBoxParameterDialog(dozBoxParameterAdd(nullptr, "Images par seconde%f", &rate)) != 1)
        return false;
    lastPath = path;
    lastRate = rate;
    std::string reason;
    if (!begin(path, rate, reason)) {
        hostMessageBox(kCaption, reason);
        return false;
    }
    return true;
}

bool FilmRecorder::begin(const std::string& path, double framesPerSecond, std::string& reason)
{
    if (capture_ || !view_) {
        reason = "Enregistrement déjà en cours";
        return false;
    }
    const qreal ratio = view_->devicePixelRatioF();
    scene::FilmCaptureSettings settings;
    settings.path = path;
    settings.width = int(std::lround(view_->width() * ratio));
    settings.height = int(std::lround(view_->height() * ratio));
    settings.framesPerSecond = framesPerSecond;
    capture_ = scene::FilmCapture::open(settings, reason);
    if (!capture_)
        return false;
    auto grab = [view = view_](int w, int h, std::vector<std::uint8_t>& rgba) {
        if (!view)
            return false;
        const QImage frame = view->renderToImage(w, h);
        if (frame.isNull() || frame.format() != QImage::Format_RGBA8888 || frame.width() != w
            || frame.height() != h)
            return false;
        const std::size_t row = std::size_t(w) * 4;
        rgba.resize(row * std::size_t(h));
        for (int y = 0; y < h; ++y)
            std::memcpy(rgba.data() + row * std::size_t(y), frame.constScanLine(y), row);
        return true;
    };
    // The failure arrives inside a tick: the film is closed once the tick is over.
    auto failed = [this](const std::string&) {
        QMetaObject::invokeMethod(
            this, [this] { end(); }, Qt::QueuedConnection);
    };
    capture_->start(frametimer::frameTimers(), grab, failed);
    return true;
}

bool FilmRecorder::end()
{
    if (!capture_)
        return true;
    // Taken out first: the message box below runs an event loop.
    std::unique_ptr<scene::FilmCapture> capture = std::move(capture_);
    std::string reason;
    const bool ok = capture->finish(reason);
    lastFrames_ = capture->framesWritten();
    capture.reset();
    emit stopped();
    if (!ok)
        hostMessageBox(kCaption, "Le film n'a pas pu être enregistré : " + reason);
    return ok;
}

} // namespace vexa::gui
