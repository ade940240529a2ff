#include "video/gui/filmwindow.h"

#include "data/registry.h"
#include "main/gui/menurender.h"
#include "plugins/libraries.h"
#include "video/film.h"
#include "video/filmwriter.h"

#include <QCamera>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QVideoFrame>
#include <QVideoSink>

#include <memory>

namespace vexa::gui {

namespace {

using video::FilmObject;

// The film's controls around its current picture. The record is looked up by its
// identifier at every use: the datum may be deleted before its window goes away.
class FilmWindow : public QWidget {
public:
    explicit FilmWindow(std::uint32_t id);

private:
    FilmObject* film() const { return video::filmOf(dataFind(id_)); }
    void moveTo(int n);
    void refresh();
    void setPlaying(bool on);
    void exportFrame();
    void exportBlock();
    void exportSeries();
    void toggleCapture();
    void fail(const std::string& reason)
    {
        QMessageBox::warning(this, "Erreur", QString::fromStdString(reason));
    }

    std::uint32_t id_;
    unsigned shownVersion_ = ~0u;
    QLabel* picture_;
    QSlider* slider_;
    QLabel* position_;
    QPushButton* play_;
    QSpinBox* first_;
    QSpinBox* last_;
    QTimer playTimer_;
    QTimer watchTimer_;
    // Live capture, only while a camera runs.
    std::unique_ptr<QCamera> camera_;
    std::unique_ptr<QMediaCaptureSession> session_;
    std::unique_ptr<QVideoSink> sink_;
};

FilmWindow::FilmWindow(std::uint32_t id)
    : id_(id)
{
    FilmObject* initial = film();
    const int count = initial ? initial->reader->frameCount() : 1;
    const double rate = initial ? initial->reader->framesPerSecond() : 25;

    picture_ = new QLabel;
    picture_->setAlignment(Qt::AlignCenter);
    auto* scroll = new QScrollArea;
    scroll->setWidget(picture_);
    scroll->setWidgetResizable(true);
    scroll->setAlignment(Qt::AlignCenter);

    play_ = new QPushButton("Lecture");
    auto* previous = new QPushButton("<");
    auto* next = new QPushButton(">");
    previous->setToolTip("Image précédente");
    next->setToolTip("Image suivante");
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setRange(0, count - 1);
    position_ = new QLabel;
    auto* transport = new QHBoxLayout;
    transport->addWidget(play_);
    transport->addWidget(previous);
    transport->addWidget(next);
    transport->addWidget(slider_, 1);
    transport->addWidget(position_);

    first_ = new QSpinBox;
    last_ = new QSpinBox;
    first_->setRange(0, count - 1);
    last_->setRange(0, count - 1);
    last_->setValue(count - 1);
    auto* exportFrame = new QPushButton("Image");
    auto* exportBlock = new QPushButton("Bloc 3D");
    auto* exportSeries = new QPushButton("Série...");
    // Plug-ins insert their stream commands here ("MENU_FLUX", "MENU_VIDEO", ...); the
    // menu is rebuilt on each opening since libraries come and go.
    auto* processing = new QPushButton("Traitement");
    auto* processingMenu = new QMenu(processing);
    processing->setMenu(processingMenu);
    connect(processingMenu, &QMenu::aboutToShow, this, [this, processingMenu] {
        processingMenu->clear();
        menus::MenuNode root;
        root.kind = menus::MenuNode::Kind::SubMenu;
        plugins::appendInsertedMenus(root, plugins::MenuLocation::Stream);
        fillMenu(processingMenu, root, [this](int command) {
            DataRecord* record = dataFind(id_);
            plugins::runLibraryCommand(command, record ? record->window.load() : nullptr);
        });
        if (processingMenu->isEmpty())
            processingMenu->addAction("(aucune commande)")->setEnabled(false);
    });
    auto* capture = new QPushButton("Capture");
    // Capture needs a camera; without one the entry stays visible but greyed, so the
    // user learns why it does nothing.
    if (QMediaDevices::videoInputs().isEmpty()) {
        capture->setEnabled(false);
        capture->setToolTip("Aucune caméra détectée");
    }
    exportFrame->setToolTip("L'image courante en nouvelle image 2D");
    exportBlock->setToolTip("Les images de l'intervalle en bloc 3D (le temps en Z)");
    exportSeries->setToolTip("Les images de l'intervalle en fichiers BMP numérotés");
    auto* exports = new QHBoxLayout;
    exports->addWidget(new QLabel("Exporter"));
    exports->addWidget(first_);
    exports->addWidget(new QLabel("à"));
    exports->addWidget(last_);
    exports->addWidget(exportFrame);
    exports->addWidget(exportBlock);
    exports->addWidget(exportSeries);
    exports->addStretch(1);
    exports->addWidget(processing);
    exports->addWidget(capture);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll, 1);
    layout->addLayout(transport);
    layout->addLayout(exports);

    connect(play_, &QPushButton::clicked, this, [this] {
        FilmObject* f = film();
        setPlaying(f && !f->playing);
    });
    connect(previous, &QPushButton::clicked, this, [this] { moveTo(slider_->value() - 1); });
    connect(next, &QPushButton::clicked, this, [this] { moveTo(slider_->value() + 1); });
    connect(slider_, &QSlider::valueChanged, this, [this](int n) {
        FilmObject* f = film();
        if (f && n != f->current)
            moveTo(n);
    });
    connect(exportFrame, &QPushButton::clicked, this, &FilmWindow::exportFrame);
    connect(exportBlock, &QPushButton::clicked, this, &FilmWindow::exportBlock);
    connect(exportSeries, &QPushButton::clicked, this, &FilmWindow::exportSeries);
    connect(capture, &QPushButton::clicked, this, &FilmWindow::toggleCapture);

    playTimer_.setInterval(int(1000.0 / (rate > 0 ? rate : 25)));
    connect(&playTimer_, &QTimer::timeout, this, [this] {
        FilmObject* f = film();
        if (!f || f->current + 1 >= f->reader->frameCount()
            || !video::filmMoveTo(*f, f->current + 1))
            setPlaying(false);
        refresh();
    });
    // Plug-ins move the frame, draw the output and start playing from any thread: the
    // window follows the film's version rather than being told.
    watchTimer_.setInterval(40);
    connect(&watchTimer_, &QTimer::timeout, this, &FilmWindow::refresh);
    watchTimer_.start();
    refresh();
}

void FilmWindow::moveTo(int n)
{
    FilmObject* f = film();
    if (!f || n < 0 || n >= f->reader->frameCount())
        return;
    std::string reason;
    if (!video::filmMoveTo(*f, n, &reason))
        fail(reason);
    refresh();
}

void FilmWindow::setPlaying(bool on)
{
    if (FilmObject* f = film()) {
        f->playing = on;
        ++f->version;
    }
    refresh();
}

void FilmWindow::refresh()
{
    FilmObject* f = film();
    if (!f || f->version == shownVersion_)
        return;
    shownVersion_ = f->version;
    const bool playing = f->playing;
    if (playing != playTimer_.isActive()) {
        if (playing)
            playTimer_.start();
        else
            playTimer_.stop();
    }
    play_->setText(playing ? "Pause" : "Lecture");
    QImage image;
    int current;
    {
        std::lock_guard guard(f->lock);
        current = f->current;
        const int w = f->reader->width(), h = f->reader->height();
        const bool output = f->outputShown && !f->dataOut.empty();
        const std::vector<std::uint8_t>& pixels = output ? f->dataOut : f->frame;
        const bool grey = output && f->formatOut == TYPEDATA_U8;
        if (!pixels.empty())
            image = QImage(pixels.data(), w, h, grey ? w : w * 4,
                grey ? QImage::Format_Grayscale8 : QImage::Format_RGBA8888)
                        .copy();
    }
    if (!camera_)
        picture_->setPixmap(QPixmap::fromImage(image));
    const QSignalBlocker block(slider_);
    slider_->setValue(current);
    position_->setText(QString("%1 / %2").arg(current).arg(f->reader->frameCount() - 1));
}

void FilmWindow::exportFrame()
{
    std::string reason;
    if (!video::filmExportFrameRecord(dataFind(id_), &reason))
        fail(reason);
}

void FilmWindow::exportBlock()
{
    std::string reason;
    if (!video::filmExportBlockRecord(dataFind(id_), first_->value(), last_->value(), &reason))
        fail(reason);
}

void FilmWindow::exportSeries()
{
    FilmObject* f = film();
    if (!f)
        return;
    const QString prefix = QFileDialog::getSaveFileName(
        this, "Exporter en série...", QString::fromStdString(f->path), "Fichier Bitmap (*.bmp)");
    if (prefix.isEmpty())
        return;
    QString stem = prefix;
    if (stem.endsWith(".bmp", Qt::CaseInsensitive))
        stem.chop(4);
    std::string reason;
    if (!video::filmExportSeries(*f, first_->value(), last_->value(), stem.toStdString(), &reason))
        fail(reason);
}

void FilmWindow::toggleCapture()
{
    if (camera_) {
        session_.reset();
        camera_.reset();
        sink_.reset();
        shownVersion_ = ~0u;
        refresh();
        return;
    }
    camera_ = std::make_unique<QCamera>(QMediaDevices::defaultVideoInput());
    session_ = std::make_unique<QMediaCaptureSession>();
    sink_ = std::make_unique<QVideoSink>();
    session_->setCamera(camera_.get());
    session_->setVideoSink(sink_.get());
    connect(sink_.get(), &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
        picture_->setPixmap(QPixmap::fromImage(frame.toImage()));
    });
    camera_->start();
}

} // namespace

QWidget* makeFilmWindow(DataRecord& record)
{
    if (!video::filmOf(&record))
        return nullptr;
    return new FilmWindow(record.imageId);
}

} // namespace vexa::gui
