// Recording a 3D view into a film from its window: asks the film's path and rate,
// renders the view at its size at each tick of the capture's frame timer, and closes
// the film when asked or when the film fails (the reason is shown, nothing older is
// lost).
#pragma once

#include <QObject>
#include <QPointer>

#include <memory>
#include <string>

namespace vexa::scene {
class FilmCapture;
}

namespace vexa::gui {

class View3dWidget;

class FilmRecorder : public QObject {
    Q_OBJECT
public:
    explicit FilmRecorder(View3dWidget* view, QObject* parent = nullptr);
    // A recording still running is finished: the film is kept.
    ~FilmRecorder() override;

    bool recording() const;
    // Asks the film's path and frames per second, then starts; false when cancelled or
    // refused (the reason is shown).
    bool begin();
    // Starts without asking; false with the reason.
    bool begin(const std::string& path, double framesPerSecond, std::string& reason);
    // Stops and closes the film; false, with the reason shown, when it could not be
    // finished. True when nothing was recording.
    bool end();
    // Frames in the last film closed.
    int lastFrames() const { return lastFrames_; }

signals:
    // Recording ended, asked for or after a failure.
    void stopped();

private:
    QPointer<View3dWidget> view_;
    std::unique_ptr<scene::FilmCapture> capture_;
    int lastFrames_ = 0;
};

} // namespace vexa::gui
