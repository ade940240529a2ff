#include "views/gui/imagewindow.h"

#include "data/object2d.h"
#include "data/registry.h"
#include "data/section.h"
#include "views/imageview.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>

namespace vexa::gui {

namespace {

QList<ImageWindow*>& windowList()
{
    static QList<ImageWindow*> list;
    return list;
}

constexpr int kPaletteBarWidth = 130;
const QColor kValueBoxColour(255, 255, 204);

// Cells of the toolbar strip beside the program.
enum IconCell {
    kIconZoomIn = 2,
    kIconZoomOut = 3,
    kIconZoomOne = 4,
    kIconFit = 5,
    kIconGrid = 6,
    kIconCursor = 7,
    kIconPalette = 8,
    kIconInfo = 10,
    kIconSync = 11,
    kIconFront = 12,
    kIconRight = 13,
    kIconTop = 14,
    kIconRefresh = 15,
};

QIcon stripIcon(int cell)
{
    static const QImage strip = [] {
        QImage image(QDir(QCoreApplication::applicationDirPath())
                         .filePath(QStringLiteral("ressources/bitmapToolBar.bmp")));
        return image.convertToFormat(QImage::Format_ARGB32);
    }();
    if (strip.isNull() || strip.width() < 16 * (cell + 1) || strip.height() < 16)
        return {};
    QImage icon = strip.copy(16 * cell, 0, 16, 16);
    const QImage mask = icon.createMaskFromColor(qRgb(0, 128, 0), Qt::MaskOutColor);
    icon.setAlphaChannel(mask);
    return QIcon(QPixmap::fromImage(icon));
}

// The display buffer as a top-down image (the core builds it bottom-up).
QImage toQImage(const DisplayBitmap& bitmap)
{
    if (!bitmap.ready || bitmap.width <= 0 || bitmap.height <= 0)
        return {};
    const bool indexed = bitmap.bytesPerPixel == 1;
    QImage image(
        bitmap.width, bitmap.height, indexed ? QImage::Format_Indexed8 : QImage::Format_BGR888);
    if (image.isNull())
        return {};
    const std::size_t rowBytes = std::size_t(bitmap.width) * std::size_t(bitmap.bytesPerPixel);
    for (int y = 0; y < bitmap.height; ++y)
        std::memcpy(image.scanLine(y), bitmap.topRow(y), rowBytes);
    if (indexed) {
        QList<QRgb> colours(256);
        for (int i = 0; i < 256 && bitmap.header.size() >= 40 + 1024; ++i) {
            const std::uint8_t* e = bitmap.header.data() + 40 + 4 * i;
            colours[i] = qRgb(e[2], e[1], e[0]);
        }
        image.setColorTable(colours);
    }
    return image;
}

QColor penColour(CursorPen pen)
{
    switch (pen) {
    case CursorPen::Blue:
        return Qt::blue;
    case CursorPen::Black:
        return Qt::black;
    default:
        return Qt::red;
    }
}

QColor toQColor(Rgb c)
{
    auto byte = [](double f) { return std::clamp(int(std::floor(f * 255 + 0.5)), 0, 255); };
    return QColor(byte(c.r), byte(c.g), byte(c.b));
}

QPolygon toPolygon(std::span<const PixelPoint> points)
{
    QPolygon polygon;
    polygon.reserve(int(points.size()));
    for (const PixelPoint& p : points)
        polygon << QPoint(p.x, p.y);
    return polygon;
}

// Overlay objects and graphs draw through this.
class QtOverlayPainter : public OverlayPainter {
public:
    explicit QtOverlayPainter(QPainter& painter)
        : p_(painter)
    {
    }
    void pushClip(std::span<const PixelPoint> polygon) override
    {
        p_.save();
        QPainterPath path;
        path.addPolygon(QPolygonF(toPolygon(polygon)));
        p_.setClipPath(path, Qt::IntersectClip);
    }
    void popClip() override { p_.restore(); }
    void drawPolyline(std::span<const PixelPoint> points, int width, Rgb color) override
    {
        p_.setPen(QPen(toQColor(color), width));
        p_.setBrush(Qt::NoBrush);
        p_.drawPolyline(toPolygon(points));
    }
    void fillPolygon(std::span<const PixelPoint> polygon, Rgb color) override
    {
        p_.setPen(Qt::NoPen);
        p_.setBrush(toQColor(color));
        p_.drawPolygon(toPolygon(polygon));
        p_.setBrush(Qt::NoBrush);
    }
    void drawPolygon(std::span<const PixelPoint> polygon, int width, Rgb color) override
    {
        p_.setPen(QPen(toQColor(color), width));
        p_.setBrush(Qt::NoBrush);
        p_.drawPolygon(toPolygon(polygon));
    }
    void drawEllipse(PixelPoint center, int radiusX, int radiusY, int width, Rgb color) override
    {
        p_.setPen(QPen(toQColor(color), width));
        p_.setBrush(Qt::NoBrush);
        p_.drawEllipse(QPoint(center.x, center.y), radiusX, radiusY);
    }

private:
    QPainter& p_;
};

void drawSegments(QPainter& painter, const std::vector<Segment>& segments)
{
    for (const Segment& s : segments)
        painter.drawLine(s.x0, s.y0, s.x1, s.y1);
}

// A vertical strip of the 256 palette colours, level 255 on top.
class PaletteBarWidget : public QWidget {
public:
    PaletteBarWidget(ImageWindow& window, QWidget* parent)
        : QWidget(parent)
        , window_(window)
    {
        setFixedWidth(kPaletteBarWidth);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        const DisplayColours colours = paletteColours(displaySettings(window_.record()).palette);
        const int top = 8, bottom = height() - 8;
        if (bottom <= top)
            return;
        for (int y = top; y < bottom; ++y) {
            const int level = 255 - (y - top) * 256 / (bottom - top);
            const auto& c = colours[std::size_t(std::clamp(level, 0, 255))];
            painter.setPen(QColor(c[2], c[1], c[0]));
            painter.drawLine(20, y, 60, y);
        }
        painter.setPen(Qt::black);
        painter.drawText(66, top + 10, QStringLiteral("255"));
        painter.drawText(66, bottom, QStringLiteral("0"));
    }

private:
    ImageWindow& window_;
};

} // namespace

QList<ImageWindow*> imageWindows()
{
    return windowList();
}

// ---------------------------------------------------------------------------------

ImageCanvas::ImageCanvas(ImageWindow& window, QWidget* parent)
    : QAbstractScrollArea(parent)
    , window_(window)
{
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(true);
    viewport()->setMouseTracking(true);
    setMouseTracking(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void ImageCanvas::setImage(QImage image)
{
    image_ = std::move(image);
    viewport()->update();
}

QSize ImageCanvas::displaySize() const
{
    const ZoomView& z = window_.view().zoom;
    return QSize(z.displayW(), z.displayH());
}

void ImageCanvas::syncScrollBars()
{
    const ZoomView& z = window_.view().zoom;
    const QSignalBlocker bh(horizontalScrollBar());
    const QSignalBlocker bv(verticalScrollBar());
    // The bar covers 0 .. N - 1 with a page of the visible size.
    horizontalScrollBar()->setRange(0, z.scrollXHidden ? 0 : std::max(0, z.imageW - z.visibleW));
    horizontalScrollBar()->setPageStep(std::max(1, z.visibleW));
    horizontalScrollBar()->setValue(z.originX);
    verticalScrollBar()->setRange(0, z.scrollYHidden ? 0 : std::max(0, z.imageH - z.visibleH));
    verticalScrollBar()->setPageStep(std::max(1, z.visibleH));
    verticalScrollBar()->setValue(z.originY);
}

void ImageCanvas::scrollContentsBy(int, int)
{
    window_.scrolledTo(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void ImageCanvas::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    if (!image_.isNull()) {
        // Below zoom 1 the buffer is reduced by dropping rows and columns.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        const QSize target = displaySize();
        if (target == image_.size())
            painter.drawImage(QPoint(0, 0), image_);
        else
            painter.drawImage(QRect(QPoint(0, 0), target), image_);
    }
    window_.paintLayers(painter);
}

void ImageCanvas::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    window_.viewportResized(viewport()->size());
}

void ImageCanvas::mousePressEvent(QMouseEvent* event)
{
    window_.mouseAt(event, "DOWN");
}

void ImageCanvas::mouseMoveEvent(QMouseEvent* event)
{
    window_.mouseAt(event, "MOVE");
}

void ImageCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    window_.mouseAt(event, "UP");
}

void ImageCanvas::mouseDoubleClickEvent(QMouseEvent* event)
{
    window_.mouseAt(event, "DBLCLICK");
}

// ---------------------------------------------------------------------------------

CompanionWindow::CompanionWindow(ImageWindow& followed, int plane, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , followed_(&followed)
    , plane_(plane)
{
    setAttribute(Qt::WA_DeleteOnClose);
    refresh();
    resize(image_.isNull() ? QSize(200, 200) : image_.size().boundedTo(QSize(900, 700)));
}

void CompanionWindow::refresh()
{
    if (!followed_)
        return;
    DataRecord& record = followed_->record();
    BlockDescriptor* block = record.block();
    if (!block)
        return;
    int w = 0, h = 0;
    if (!sectionSize(*block, plane_, w, h))
        return;
    const int index = currentSectionIndex(*block, plane_);
    struct Free {
        void operator()(void* p) const { std::free(p); }
    };
    std::unique_ptr<void, Free> raw(
        readSection(*block, false, -1, plane_, index, 0, 0, w - 1, h - 1));
    if (!raw)
        return;
    const DisplaySettings settings = displaySettings(record);
    const DisplayColours colours = paletteColours(settings.palette);
    DisplayRequest r;
    r.samples = raw.get();
    r.width = r.visibleW = w;
    r.height = r.visibleH = h;
    r.type = block->typeData;
    r.gain = settings.gain;
    r.offset = settings.offset;
    r.labelPalette = isLabelPalette(settings.palette);
    r.colours = &colours;
    DisplayBitmap bitmap;
    if (buildDisplayBitmap(r, bitmap))
        image_ = toQImage(bitmap);
    setWindowTitle(
        QString::fromStdString(dataTitle(&record) + " - " + positionLabel(plane_, index)));
    update();
}

void CompanionWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().dark());
    if (!image_.isNull())
        painter.drawImage(QPoint(0, 0), image_);
}

// ---------------------------------------------------------------------------------

ImageWindow::ImageWindow(DataRecord& record, QWidget* parent)
    : QWidget(parent)
    , record_(record)
{
    windowList().append(this);
    canvas_ = new ImageCanvas(*this, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildToolbars();
    auto* bars = new QHBoxLayout;
    bars->setContentsMargins(0, 0, 0, 0);
    bars->addWidget(tools_);
    bars->addWidget(syncBar_);
    bars->addStretch(1);
    layout->addLayout(bars);

    if (BlockDescriptor* block = record.block()) {
        planeBox_ = new QComboBox(this);
        planeBox_->addItems(
            { QStringLiteral("FRONT"), QStringLiteral("RIGHT"), QStringLiteral("TOP") });
        slider_ = new QSlider(Qt::Horizontal, this);
        slider_->setFocusPolicy(Qt::NoFocus);
        position_ = new QLabel(this);
        auto* bar = new QHBoxLayout;
        bar->setContentsMargins(4, 2, 4, 2);
        bar->addWidget(planeBox_);
        bar->addWidget(slider_, 1);
        bar->addWidget(position_);
        auto* cursor3d = new QToolButton(this);
        cursor3d->setText(QStringLiteral("Curseur 3D"));
        cursor3d->setCheckable(true);
        cursor3d->setChecked(block->cursor3dShown != 0);
        connect(
            cursor3d, &QToolButton::toggled, this, [this](bool on) { setBlockCursorShown(on); });
        bar->addWidget(cursor3d);
        static const int icons[] = { kIconFront, kIconRight, kIconTop };
        for (int plane = PLANE_FRONT; plane <= PLANE_TOP; ++plane) {
            auto* button = new QToolButton(this);
            button->setIcon(stripIcon(icons[plane]));
            if (button->icon().isNull())
                button->setText(planeBox_->itemText(plane));
            button->setToolTip(planeBox_->itemText(plane));
            button->setObjectName(QStringLiteral("companion%1").arg(plane));
            connect(button, &QToolButton::clicked, this, [this, plane] { openCompanion(plane); });
            bar->addWidget(button);
        }
        layout->addLayout(bar);
        connect(planeBox_, &QComboBox::currentIndexChanged, this, [this](int plane) {
            if (BlockDescriptor* b = record_.block())
                showSection(plane, currentSectionIndex(*b, plane));
        });
        connect(slider_, &QSlider::valueChanged, this,
            [this](int index) { showSection(plane(), index); });
    }

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    middle->addWidget(canvas_, 1);
    paletteBar_ = new PaletteBarWidget(*this, this);
    paletteBar_->hide();
    middle->addWidget(paletteBar_);
    layout->addLayout(middle, 1);

    status_ = new QStatusBar(this);
    status_->setSizeGripEnabled(false);
    const int average = fontMetrics().averageCharWidth();
    const double ends[] = { 5, 20.5, 36.5 };
    double previous = 0;
    for (int i = 0; i < 4; ++i) {
        statusParts_[std::size_t(i)] = new QLabel(status_);
        if (i < 3) {
            statusParts_[std::size_t(i)]->setMinimumWidth(int((ends[i] - previous) * average));
            previous = ends[i];
        }
        status_->addWidget(statusParts_[std::size_t(i)], i == 3 ? 1 : 0);
    }
    layout->addWidget(status_);

    info_ = new QWidget(this, Qt::Tool);
    info_->setWindowTitle(QStringLiteral("Information"));
    infoText_ = new QLabel(info_);
    infoText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* infoLayout = new QVBoxLayout(info_);
    infoLayout->addWidget(infoText_);

    setFocusPolicy(Qt::StrongFocus);
    if (BlockDescriptor* block = record.block()) {
        // The record was created with FRONT section cursorZ.
        ImageViewData& v = view();
        v.plane = PLANE_FRONT;
        const SectionPoint p = blockCursorOnSection(*block, PLANE_FRONT);
        v.cursor3dX = p.c;
        v.cursor3dY = p.r;
        refreshBlockBar();
    }
    // Initial display: zooms that fit the image, then the window takes that size.
    {
        ImageDescriptor& image = *record_.image2d();
        std::lock_guard lock(image.lock);
        ImageViewData& v = imageViewData(image);
        v.zoom.imageW = image.width;
        v.zoom.imageH = image.height;
        initialDisplay(v.zoom);
        v.zoom.clientW = v.zoom.clientH = 0;
        updateVisible(v.zoom);
    }
    rebuildAndRepaint();
    // The window takes the display size plus what the toolbars and status bar need.
    const QSize display = canvas_->displaySize();
    const int frame = 2 * canvas_->frameWidth();
    const int extra = std::max(0, layout->sizeHint().height() - canvas_->sizeHint().height());
    resize(std::max(display.width() + frame, 240), display.height() + frame + extra);
}

ImageWindow::~ImageWindow()
{
    windowList().removeAll(this);
    for (const QPointer<CompanionWindow>& c : companions_)
        if (c)
            c->close();
}

ImageViewData& ImageWindow::view() const
{
    return imageViewData(*record_.image2d());
}

int ImageWindow::plane() const
{
    return view().plane;
}

void ImageWindow::buildToolbars()
{
    tools_ = new QToolBar(this);
    tools_->setIconSize(QSize(16, 16));
    struct Button {
        int command;
        const char* label;
        int icon;
        bool checkable;
    };
    static const Button buttons[] = {
        { CmdInitial, "Affichage initial", kIconFit, false },
        { CmdWindowLarger, "Fenêtre agrandie", -1, false },
        { CmdWindowSmaller, "Fenêtre réduite", -1, false },
        { CmdLoupeWindow, "Loupe fenêtrée", -1, false },
        { CmdZoomIn, "Grandissement x2", kIconZoomIn, false },
        { CmdZoomOut, "Grandissement /2", kIconZoomOut, false },
        { 0, nullptr, -1, false },
        { CmdInterpolation, "Interpolation", -1, true },
        { CmdGrid, "Grille", kIconGrid, true },
        { CmdValues, "Valeurs", -1, true },
        { CmdInnerLoupe, "Loupe intra", kIconZoomOne, true },
        { 0, nullptr, -1, false },
        { CmdPrint, "Impression", -1, false },
        { CmdRedraw, "Reaffichage", kIconRefresh, false },
        { CmdInformation, "Information", kIconInfo, true },
        { CmdPalette, "Palette", kIconPalette, true },
    };
    for (const Button& b : buttons) {
        if (!b.label) {
            tools_->addSeparator();
            continue;
        }
        QAction* action = tools_->addAction(QString::fromUtf8(b.label));
        action->setObjectName(QStringLiteral("cmd%1").arg(b.command));
        action->setCheckable(b.checkable);
        if (b.icon >= 0)
            action->setIcon(stripIcon(b.icon));
        action->setToolTip(QString::fromUtf8(b.label));
        // The separate magnifier window and printing are not available here.
        if (b.command == CmdLoupeWindow || b.command == CmdPrint)
            action->setEnabled(false);
        const int command = b.command;
        connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
    }
    QAction* cursor = tools_->addAction(stripIcon(kIconCursor), QStringLiteral("Curseur 2D"));
    cursor->setObjectName(QStringLiteral("cursor2d"));
    cursor->setCheckable(true);
    connect(cursor, &QAction::toggled, this, [this](bool on) { setCursorShown(on); });

    syncBar_ = new QToolBar(this);
    syncBar_->setIconSize(QSize(16, 16));
    QAction* sync = syncBar_->addAction(stripIcon(kIconSync), QStringLiteral("Synchronisation 2D"));
    sync->setObjectName(QStringLiteral("sync2d"));
    sync->setCheckable(true);
    connect(sync, &QAction::toggled, this, [this](bool on) { setSync2d(on); });
}

void ImageWindow::rebuildAndRepaint()
{
    rebuildDisplay(record_);
    {
        ImageDescriptor& image = *record_.image2d();
        std::lock_guard lock(image.lock);
        canvas_->setImage(toQImage(view().display));
    }
    canvas_->syncScrollBars();
    refreshStatus();
    refreshInformation();
    if (paletteBar_->isVisible())
        paletteBar_->update();
}

void ImageWindow::reload()
{
    if (record_.block())
        reloadSection(record_);
    rebuildAndRepaint();
    refreshBlockBar();
    setWindowTitle(QString::fromStdString(dataTitle(&record_)));
    for (const QPointer<CompanionWindow>& c : companions_)
        if (c)
            c->refresh();
}

void ImageWindow::showSection(int plane, int index)
{
    BlockDescriptor* block = record_.block();
    if (!block || plane < PLANE_FRONT || plane > PLANE_TOP)
        return;
    if (!loadSection(record_, plane, index))
        return;
    rebuildAndRepaint();
    refreshBlockBar();
    setWindowTitle(QString::fromStdString(dataTitle(&record_)));
    for (const QPointer<CompanionWindow>& c : companions_)
        if (c)
            c->refresh();
}

void ImageWindow::refreshBlockBar()
{
    BlockDescriptor* block = record_.block();
    if (!block || !slider_)
        return;
    const int p = plane();
    const QSignalBlocker blockSlider(slider_);
    const QSignalBlocker blockPlane(planeBox_);
    slider_->setRange(0, std::max(0, sectionCount(*block, p) - 1));
    slider_->setValue(currentSectionIndex(*block, p));
    planeBox_->setCurrentIndex(p);
    position_->setText(QString::fromStdString(positionLabel(p, currentSectionIndex(*block, p))));
}

bool ImageWindow::runCommand(int command)
{
    ImageViewData& v = view();
    switch (command) {
    case CmdZoomIn:
    case CmdZoomOut: {
        bool changed;
        {
            std::lock_guard lock(record_.image2d()->lock);
            changed = command == CmdZoomIn ? zoomIn(v.zoom) : zoomOut(v.zoom);
        }
        if (changed)
            afterZoom(false);
        return true;
    }
    case CmdInitial: {
        std::lock_guard lock(record_.image2d()->lock);
        initialDisplay(v.zoom);
    }
        afterZoom(true);
        return true;
    case CmdWindowLarger:
    case CmdWindowSmaller: {
        bool changed;
        {
            std::lock_guard lock(record_.image2d()->lock);
            changed = command == CmdWindowLarger ? windowZoomIn(v.zoom) : windowZoomOut(v.zoom);
        }
        if (changed)
            afterZoom(true);
        return true;
    }
    case CmdInterpolation:
        v.displayMode
            = v.displayMode == DISPLAY_INTERPOLATED ? DISPLAY_PLAIN : DISPLAY_INTERPOLATED;
        rebuildAndRepaint();
        return true;
    case CmdGrid:
        v.gridOn = !v.gridOn;
        canvas_->viewport()->update();
        return true;
    case CmdValues:
        v.valuesOn = !v.valuesOn;
        canvas_->viewport()->update();
        return true;
    case CmdInnerLoupe:
        v.innerLoupeOn = !v.innerLoupeOn;
        canvas_->viewport()->update();
        return true;
    case CmdRedraw:
        reload();
        return true;
    case CmdInformation:
        v.infoOn = !v.infoOn;
        refreshInformation();
        info_->setVisible(v.infoOn != 0);
        return true;
    case CmdPalette: {
        v.paletteBarOn = !v.paletteBarOn;
        paletteBar_->setVisible(v.paletteBarOn != 0);
        QWidget* frame = parentWidget() ? parentWidget() : this;
        const int delta = v.paletteBarOn ? kPaletteBarWidth : -kPaletteBarWidth;
        frame->resize(frame->width() + delta, frame->height());
        return true;
    }
    default:
        return false;
    }
}

void ImageWindow::afterZoom(bool resizeWindow)
{
    if (resizeWindow)
        resizeToDisplay();
    {
        std::lock_guard lock(record_.image2d()->lock);
        updateVisible(view().zoom);
    }
    rebuildAndRepaint();
    synchronise();
}

void ImageWindow::resizeToDisplay()
{
    const QSize wanted = canvas_->displaySize();
    const QSize now = canvas_->viewport()->size();
    QWidget* frame = parentWidget() ? parentWidget() : this;
    const QSize delta = wanted - now;
    frame->resize(std::max(frame->width() + delta.width(), 120),
        std::max(frame->height() + delta.height(), 80));
    // Without an event loop turn the canvas learns its size from the layout only later.
    if (layout())
        layout()->activate();
    if (QWidget* p = parentWidget(); p && p->layout())
        p->layout()->activate();
}

void ImageWindow::synchronise()
{
    const ImageViewData& v = view();
    if (!v.sync2d)
        return;
    for (ImageWindow* other : windowList()) {
        if (other == this)
            continue;
        ImageViewData& o = other->view();
        if (!o.sync2d || o.zoom.imageW != v.zoom.imageW || o.zoom.imageH != v.zoom.imageH)
            continue;
        {
            std::lock_guard lock(other->record_.image2d()->lock);
            o.zoom.originX = v.zoom.originX;
            o.zoom.originY = v.zoom.originY;
            o.zoom.visibleW = v.zoom.visibleW;
            o.zoom.visibleH = v.zoom.visibleH;
            o.zoom.zoomX = v.zoom.zoomX;
            o.zoom.zoomY = v.zoom.zoomY;
        }
        QWidget* mine = parentWidget() ? parentWidget() : this;
        QWidget* theirs = other->parentWidget() ? other->parentWidget() : other;
        theirs->resize(mine->size());
        other->rebuildAndRepaint();
    }
}

void ImageWindow::zoomAt(bool in, double x, double y)
{
    bool changed;
    {
        std::lock_guard lock(record_.image2d()->lock);
        changed = in ? zoomIn(view().zoom, ImagePoint { x, y })
                     : zoomOut(view().zoom, ImagePoint { x, y });
    }
    if (changed)
        afterZoom(false);
}

void ImageWindow::panTo(int originX, int originY)
{
    {
        std::lock_guard lock(record_.image2d()->lock);
        setOrigin(view().zoom, originX, originY);
    }
    rebuildAndRepaint();
    synchronise();
}

void ImageWindow::scrolledTo(int originX, int originY)
{
    const ZoomView& z = view().zoom;
    if (originX == z.originX && originY == z.originY)
        return;
    panTo(originX, originY);
}

void ImageWindow::viewportResized(QSize size)
{
    {
        std::lock_guard lock(record_.image2d()->lock);
        ZoomView& z = view().zoom;
        z.clientW = std::max(size.width(), 1);
        z.clientH = std::max(size.height(), 1);
        updateVisible(z);
    }
    rebuildAndRepaint();
}

void ImageWindow::setMouseMode(int mode)
{
    view().mouseMode = mode;
}

void ImageWindow::setSync2d(bool on)
{
    view().sync2d = on ? 1 : 0;
    if (QAction* a = syncBar_->findChild<QAction*>(QStringLiteral("sync2d"));
        a && a->isChecked() != on) {
        const QSignalBlocker blocker(a);
        a->setChecked(on);
    }
    if (on)
        synchronise();
}

void ImageWindow::setCursorShown(bool on)
{
    view().cursorShown = on ? 1 : 0;
    canvas_->viewport()->update();
}

void ImageWindow::setBlockCursorShown(bool on)
{
    if (BlockDescriptor* block = record_.block())
        block->cursor3dShown = on ? 1 : 0;
    refreshStatus();
    canvas_->viewport()->update();
}

CompanionWindow* ImageWindow::openCompanion(int plane)
{
    if (!record_.block() || plane < PLANE_FRONT || plane > PLANE_TOP)
        return nullptr;
    auto* companion = new CompanionWindow(*this, plane, this);
    companions_.append(companion);
    companion->show();
    return companion;
}

QList<CompanionWindow*> ImageWindow::companions() const
{
    QList<CompanionWindow*> alive;
    for (const QPointer<CompanionWindow>& c : companions_)
        if (c)
            alive.append(c.data());
    return alive;
}

QMenu* ImageWindow::createConversionMenu(QWidget* parent)
{
    auto* menu = new QMenu(QStringLiteral("Conversion"), parent ? parent : this);
    for (const ConversionEntry& entry : conversionMenu(record_)) {
        if (entry.label.empty()) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromStdString(entry.label));
        connect(action, &QAction::triggered, this, [this, entry] { applyConversion(entry); });
    }
    return menu;
}

void ImageWindow::applyConversion(const ConversionEntry& entry)
{
    if (entry.type != 0) {
        if (convertImageType(record_, entry.type))
            rebuildAndRepaint();
        return;
    }
    if (entry.valueClass >= 0) {
        setImageValueClass(record_, entry.valueClass);
        rebuildAndRepaint();
    }
}

QStringList ImageWindow::statusTexts() const
{
    QStringList texts;
    for (QLabel* label : statusParts_)
        texts << label->text();
    return texts;
}

void ImageWindow::refreshStatus()
{
    const ImageViewData& v = view();
    const StatusTexts t = vexa::statusTexts(record_, v.cursorX, v.cursorY);
    statusParts_[0]->setText(QString::fromStdString(t.type));
    statusParts_[1]->setText(QString::fromStdString(t.cursor));
    statusParts_[2]->setText(QString::fromStdString(t.volume));
    statusParts_[2]->setVisible(!t.volume.empty());
    statusParts_[3]->setText(QString::fromStdString(t.value));
}

void ImageWindow::refreshInformation()
{
    if (!view().infoOn)
        return;
    QStringList lines;
    for (const std::string& line : recordInfoLines(record_))
        lines << QString::fromStdString(line);
    infoText_->setText(lines.join(QLatin1Char('\n')));
    info_->adjustSize();
}

QImage ImageWindow::loupeImage() const
{
    const ImageViewData& v = view();
    const LoupeGeometry g = loupeGeometry(v.zoom.zoomX, v.zoom.zoomY);
    DisplayBitmap bitmap;
    if (!buildLoupeBitmap(record_, g, bitmap))
        return {};
    return toQImage(bitmap);
}

void ImageWindow::paintLayers(QPainter& painter)
{
    ImageDescriptor& image = *record_.image2d();
    const ImageViewData& v = view();
    const ZoomView& z = v.zoom;
    const int zx = layerPart(z.zoomX), zy = layerPart(z.zoomY);
    const int displayW = z.displayW(), displayH = z.displayH();
    int width, height;
    std::vector<int> clickX, clickY;
    {
        std::lock_guard lock(image.lock);
        width = image.width;
        height = image.height;
        clickX = image.clickX;
        clickY = image.clickY;
    }
    painter.setRenderHint(QPainter::Antialiasing, false);

    if (v.gridOn) {
        painter.setPen(QPen(Qt::blue, 1));
        drawSegments(painter, gridSegments(z, true));
    }
    const bool cursorInside
        = v.cursorX >= 0 && v.cursorY >= 0 && v.cursorX < width && v.cursorY < height;
    if (v.cursorShown && cursorInside) {
        const int X = cursorLineX(z, v.cursorX), Y = cursorLineY(z, v.cursorY);
        painter.setPen(QPen(penColour(recordCursorPen(record_, true)), 1,
            v.cursorSolidV ? Qt::SolidLine : Qt::DotLine));
        painter.drawLine(X, 0, X, displayH);
        painter.setPen(QPen(penColour(recordCursorPen(record_, false)), 1,
            v.cursorSolidH ? Qt::SolidLine : Qt::DotLine));
        painter.drawLine(0, Y, displayW, Y);
    }
    const std::size_t clicks = std::min(clickX.size(), clickY.size());
    if (clicks) {
        painter.setPen(QPen(Qt::blue, 2));
        for (std::size_t i = 0; i < clicks; ++i) {
            const int X = mapX(z, clickX[i]), Y = mapY(z, clickY[i]);
            drawSegments(painter, clickBox(X, Y, zx, zy));
            painter.drawText(
                X, Y + zy + painter.fontMetrics().ascent(), QString::number(int(clicks - i - 1)));
        }
    }
    if (BlockDescriptor* block = record_.block()) {
        if (block->cursor3dShown) {
            painter.setPen(QPen(QColor(255, 255, 0), 1, Qt::DotLine));
            const int X = cursorLineX(z, v.cursor3dX), Y = cursorLineY(z, v.cursor3dY);
            painter.drawLine(X, 0, X, displayH);
            painter.drawLine(0, Y, displayW, Y);
        }
        std::vector<SectionPoint> points;
        {
            std::shared_lock lock(block->lock);
            points = blockClicksOnSection(*block, v.plane);
        }
        painter.setPen(QPen(Qt::red, 2));
        for (const SectionPoint& p : points)
            drawSegments(painter, clickBox(mapX(z, p.c), mapY(z, p.r), zx, zy));
    }
    {
        QtOverlayPainter overlay(painter);
        const ImageToScreen map = [&z](double x, double y) {
            return PixelPoint { zoomCoordinate(int(std::floor(x)), z.originX, z.zoomX),
                zoomCoordinate(int(std::floor(y)), z.originY, z.zoomY) };
        };
        overlayDraw(image, overlay, map);
        ImageOverlay* objects = nullptr;
        {
            std::lock_guard lock(image.lock);
            objects = dynamic_cast<ImageOverlay*>(image.objects.get());
        }
        if (objects)
            objects->graphs.draw(overlay);
    }
    if (v.innerLoupeOn && cursorInside) {
        const QImage loupe = loupeImage();
        if (!loupe.isNull())
            painter.drawImage(QPoint(mapX(z, v.cursorX) - loupe.width() / 2,
                                  mapY(z, v.cursorY) - loupe.height() / 2),
                loupe);
    }
    if (v.valuesOn && cursorInside) {
        const QString text
            = QString::fromStdString(recordValueReadout(record_, v.cursorX, v.cursorY));
        const QFontMetrics metrics = painter.fontMetrics();
        QRect box = metrics.boundingRect(text).adjusted(-3, -2, 3, 2);
        box.moveTopLeft(QPoint(cursorLineX(z, v.cursorX) + 8, cursorLineY(z, v.cursorY) + 8));
        const QRect area = canvas_->viewport()->rect();
        if (box.right() > area.right())
            box.moveRight(cursorLineX(z, v.cursorX) - 8);
        if (box.bottom() > area.bottom())
            box.moveBottom(cursorLineY(z, v.cursorY) - 8);
        box.moveLeft(std::max(box.left(), 0));
        box.moveTop(std::max(box.top(), 0));
        painter.fillRect(box, kValueBoxColour);
        painter.setPen(Qt::black);
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        painter.drawText(box, Qt::AlignCenter, text);
    }
    if (dragging_ && press_ && (v.mouseMode == MOUSE_RECTANGLE || v.mouseMode == MOUSE_MEASURE)) {
        const int ax = mapX(z, press_->x()), ay = mapY(z, press_->y());
        const int bx = mapX(z, mouseImage_.x()), by = mapY(z, mouseImage_.y());
        painter.setPen(QPen(Qt::red, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(QPoint(std::min(ax, bx), std::min(ay, by)),
            QPoint(std::max(ax, bx), std::max(ay, by))));
        if (v.mouseMode == MOUSE_MEASURE) {
            const QString size = QStringLiteral("[%1 x %2]")
                                     .arg(std::abs(mouseImage_.x() - press_->x()) + 1)
                                     .arg(std::abs(mouseImage_.y() - press_->y()) + 1);
            painter.drawText(mouseWindow_ + QPoint(10, -4), size);
        }
    }
}

void ImageWindow::mouseAt(QMouseEvent* event, const char* kind)
{
    ImageViewData& v = view();
    const ZoomView z = v.zoom;
    const QPoint pos = event->position().toPoint();
    const int ix = imageCoordinate(pos.x(), z.originX, z.zoomX);
    const int iy = imageCoordinate(pos.y(), z.originY, z.zoomY);
    const bool inside = ix >= 0 && iy >= 0 && ix < z.imageW && iy < z.imageH
        && pos.x() < z.displayW() && pos.y() < z.displayH();
    const std::string what = kind;
    mouseImage_ = QPoint(ix, iy);
    mouseWindow_ = pos;

    if ((what == "MOVE" || what == "DOWN") && inside) {
        v.cursorX = ix;
        v.cursorY = iy;
        v.cursorSolidV = v.cursorSolidH = 1;
        refreshStatus();
    }

    if (v.mouseMode == MOUSE_EVENTS) {
        const char* button = event->button() == Qt::RightButton ? "RBUTTON"
            : event->button() == Qt::MiddleButton               ? "MBUTTON"
                                                                : "LBUTTON";
        const std::string name
            = what == "MOVE" ? std::string("MOUSEMOVE") : std::string(button) + what;
        ViewEvent e;
        e.x = ix;
        e.y = iy;
        e.x1 = press_ ? press_->x() : ix;
        e.y1 = press_ ? press_->y() : iy;
        e.x2 = ix;
        e.y2 = iy;
        e.screenX = pos.x();
        e.screenY = pos.y();
        e.window = record_.window.load();
        e.wparam = int(event->buttons());
        e.lparam = (pos.y() << 16) | (pos.x() & 0xFFFF);
        e.width = z.imageW;
        e.height = z.imageH;
        if (BlockDescriptor* block = record_.block()) {
            e.typeView = v.plane;
            e.z = sectionToVolume(*block, v.plane, ix, iy).z;
        } else {
            e.typeView = -1;
        }
        if (what == "DOWN")
            press_ = QPoint(ix, iy);
        else if (what == "UP")
            press_.reset();
        fireViewEvent(record_, name, e);
        canvas_->viewport()->update();
        return;
    }

    if (what == "DOWN") {
        press_ = QPoint(ix, iy);
        pressOrigin_ = QPoint(z.originX, z.originY);
        dragging_ = true;
        if (v.mouseMode == MOUSE_ZOOM && inside) {
            zoomAt(event->button() != Qt::RightButton, ix, iy);
        } else if (v.mouseMode == MOUSE_NONE && inside) {
            if (event->button() == Qt::RightButton) {
                dragging_ = false;
                QMenu* menu = createConversionMenu(this);
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->popup(canvas_->viewport()->mapToGlobal(pos));
            } else if (event->button() == Qt::LeftButton && record_.block()) {
                // A click on a block section moves the block cursor there.
                if (moveBlockCursor(record_, ix, iy)) {
                    refreshStatus();
                    for (const QPointer<CompanionWindow>& c : companions_)
                        if (c)
                            c->refresh();
                }
            }
        }
    } else if (what == "MOVE" && dragging_ && press_ && (event->buttons() & Qt::LeftButton)) {
        if (v.mouseMode == MOUSE_MOVE) {
            // Sample distances: the origin moves against the mouse.
            const int dx = imageCoordinate(pos.x(), pressOrigin_.x(), z.zoomX) - press_->x();
            const int dy = imageCoordinate(pos.y(), pressOrigin_.y(), z.zoomY) - press_->y();
            panTo(pressOrigin_.x() - dx, pressOrigin_.y() - dy);
        }
    } else if (what == "UP") {
        dragging_ = false;
        press_.reset();
    }
    canvas_->viewport()->update();
}

void ImageWindow::keyPressEvent(QKeyEvent* event)
{
    BlockDescriptor* block = record_.block();
    if (!block) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int p = plane();
    const int index = currentSectionIndex(*block, p);
    switch (event->key()) {
    case Qt::Key_PageUp:
        showSection(p, index + 10);
        break;
    case Qt::Key_PageDown:
        showSection(p, index - 10);
        break;
    case Qt::Key_Up:
    case Qt::Key_Right:
        showSection(p, index + 1);
        break;
    case Qt::Key_Down:
    case Qt::Key_Left:
        showSection(p, index - 1);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace vexa::gui
