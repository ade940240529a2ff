#include "views/gui/imagewindow.h"

#include "config/config.h"

#include "data/registry.h"
#include "data/section.h"
#include "main/mainmenus.h"
#include "scene/cursorslices.h"
#include "views/imagelayers.h"
#include "views/imageview.h"
#include "views/viewzoom.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
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
#include <QShortcut>
#include <QSlider>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexa::gui {

namespace {

QList<ImageWindow*>& windowList()
{
    static QList<ImageWindow*> list;
    return list;
}

constexpr int kPaletteBarWidth = 130;
constexpr int kMinimumWindowWidth = 240;
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

// The mouse-mode buttons draw their own small pictures: the strip has none for them.
QIcon modeIcon(int mode)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(32, 32, 32), 1.5));
    switch (mode) {
    case MOUSE_NONE: // an arrow
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygonF({ QPointF(3, 1), QPointF(3, 14), QPointF(6.5, 10.5), QPointF(9, 15),
            QPointF(11, 14), QPointF(8.5, 9.5), QPointF(13, 9.5) }));
        break;
    case MOUSE_ZOOM: // a magnifier with a plus
        p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
        p.drawLine(QPointF(9.5, 9.5), QPointF(14.5, 14.5));
        p.setPen(QPen(QColor(200, 0, 0), 1.5));
        p.drawLine(QPointF(6, 3.5), QPointF(6, 8.5));
        p.drawLine(QPointF(3.5, 6), QPointF(8.5, 6));
        break;
    case MOUSE_MOVE: // four arrows
        p.drawLine(QPointF(8, 1), QPointF(8, 15));
        p.drawLine(QPointF(1, 8), QPointF(15, 8));
        p.setBrush(QColor(32, 32, 32));
        p.drawPolygon(QPolygonF({ QPointF(8, 0.5), QPointF(5.5, 3.5), QPointF(10.5, 3.5) }));
        p.drawPolygon(QPolygonF({ QPointF(8, 15.5), QPointF(5.5, 12.5), QPointF(10.5, 12.5) }));
        p.drawPolygon(QPolygonF({ QPointF(0.5, 8), QPointF(3.5, 5.5), QPointF(3.5, 10.5) }));
        p.drawPolygon(QPolygonF({ QPointF(15.5, 8), QPointF(12.5, 5.5), QPointF(12.5, 10.5) }));
        break;
    case MOUSE_RECTANGLE: // the red rectangle the drag draws
        p.setPen(QPen(QColor(220, 0, 0), 1.5));
        p.drawRect(QRectF(2, 3.5, 12, 9));
        break;
    case MOUSE_MEASURE: // a ruler
        p.setBrush(QColor(250, 220, 120));
        p.drawRect(QRectF(1, 5, 14, 6));
        for (int x = 3; x < 15; x += 3)
            p.drawLine(QPointF(x, 5), QPointF(x, x % 2 ? 7.5 : 8.5));
        break;
    case MOUSE_EVENTS: // a pointer sending a signal
        p.setBrush(QColor(0, 90, 200));
        p.drawEllipse(QRectF(4.5, 4.5, 7, 7));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0, 90, 200), 1.2));
        p.drawArc(QRectF(1.5, 1.5, 13, 13), 30 * 16, 120 * 16);
        p.drawArc(QRectF(1.5, 1.5, 13, 13), 210 * 16, 120 * 16);
        break;
    default:
        break;
    }
    return QIcon(pixmap);
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

QColor toQColor(Rgb c)
{
    auto byte = [](double f) { return std::clamp(int(std::floor(f * 255 + 0.5)), 0, 255); };
    return QColor(byte(c.r), byte(c.g), byte(c.b));
}

QPen toQPen(const LayerPen& pen)
{
    return QPen(QColor(pen.r, pen.g, pen.b), pen.width,
        pen.style == PenStyle::Dotted ? Qt::DotLine : Qt::SolidLine);
}

QPolygon toPolygon(std::span<const PixelPoint> points)
{
    QPolygon polygon;
    polygon.reserve(int(points.size()));
    for (const PixelPoint& p : points)
        polygon << QPoint(p.x, p.y);
    return polygon;
}

// The layers over the image (views/imagelayers.h) draw through this.
class QtLayerPainter : public LayerPainter {
public:
    QtLayerPainter(QPainter& painter, QRect area)
        : p_(painter)
        , area_(area)
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
    void drawSegments(std::span<const Segment> segments, const LayerPen& pen) override
    {
        p_.setPen(toQPen(pen));
        for (const Segment& s : segments)
            p_.drawLine(s.x0, s.y0, s.x1, s.y1);
    }
    void drawRectangle(int left, int top, int right, int bottom, const LayerPen& pen) override
    {
        p_.setPen(toQPen(pen));
        p_.setBrush(Qt::NoBrush);
        p_.drawRect(QRect(QPoint(left, top), QPoint(right, bottom)));
    }
    void drawTextBelow(int x, int y, const std::string& text, const LayerPen& pen) override
    {
        drawTextAt(x, y + p_.fontMetrics().ascent(), text, pen);
    }
    void drawTextAt(int x, int y, const std::string& text, const LayerPen& pen) override
    {
        p_.setPen(toQPen(pen));
        p_.drawText(x, y, QString::fromStdString(text));
    }
    void drawBitmap(int x, int y, const DisplayBitmap& bitmap) override
    {
        const QImage image = toQImage(bitmap);
        if (!image.isNull())
            p_.drawImage(QPoint(x, y), image);
    }
    void drawValueBox(int x, int y, const std::string& text) override
    {
        const QString value = QString::fromStdString(text);
        QRect box = p_.fontMetrics().boundingRect(value).adjusted(-3, -2, 3, 2);
        box.moveTopLeft(QPoint(x + 8, y + 8));
        if (box.right() > area_.right())
            box.moveRight(x - 8);
        if (box.bottom() > area_.bottom())
            box.moveBottom(y - 8);
        box.moveLeft(std::max(box.left(), 0));
        box.moveTop(std::max(box.top(), 0));
        p_.fillRect(box, kValueBoxColour);
        p_.setPen(Qt::black);
        p_.drawRect(box.adjusted(0, 0, -1, -1));
        p_.drawText(box, Qt::AlignCenter, value);
    }

private:
    QPainter& p_;
    QRect area_;
};

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
        // The ends are labelled with the values the correction shows there, not levels.
        double low = 0.0, high = 255.0;
        displayedRange(window_.record(), low, high);
        painter.setPen(Qt::black);
        painter.drawText(64, top + 10, QString::number(high, 'g', 6));
        painter.drawText(64, bottom, QString::number(low, 'g', 6));
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
    window_.mouseAt(event, MouseAction::Press);
}

void ImageCanvas::mouseMoveEvent(QMouseEvent* event)
{
    window_.mouseAt(event, MouseAction::Move);
}

void ImageCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    window_.mouseAt(event, MouseAction::Release);
}

void ImageCanvas::mouseDoubleClickEvent(QMouseEvent* event)
{
    window_.mouseAt(event, MouseAction::DoubleClick);
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
    DisplayBitmap bitmap;
    if (!block || !buildSectionBitmap(record, plane_, bitmap))
        return;
    image_ = toQImage(bitmap);
    setWindowTitle(QString::fromStdString(
        dataTitle(&record) + " - " + positionLabel(plane_, currentSectionIndex(*block, plane_))));
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
    installAccelerators();
    auto* bars = new QHBoxLayout;
    bars->setContentsMargins(0, 0, 0, 0);
    bars->addWidget(tools_);
    bars->addStretch(1);
    layout->addLayout(bars);
    // The mouse modes share a second row with the synchronisation: one row would cut
    // them off in any window narrower than the first toolbar.
    auto* modeRow = new QHBoxLayout;
    modeRow->setContentsMargins(0, 0, 0, 0);
    modeRow->addWidget(syncBar_);
    modeRow->addWidget(modeBar_);
    modeRow->addStretch(1);
    layout->addLayout(modeRow);

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
    statusParts_[1]->setToolTip(QString::fromUtf8(
        "Position du curseur (X, Y) ; entre parenthèses, les distances aux bords droit et bas"));
    if (statusParts_[2])
        statusParts_[2]->setToolTip(QString::fromUtf8("Position du curseur dans le volume"));
    layout->addWidget(status_);

    info_ = new QWidget(this, Qt::Tool);
    info_->setWindowTitle(QStringLiteral("Information"));
    infoText_ = new QLabel(info_);
    infoText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* infoLayout = new QVBoxLayout(info_);
    infoLayout->addWidget(infoText_);

    setFocusPolicy(Qt::StrongFocus);
    // Initial display: zooms that fit the image, then the window takes that size. Values
    // beyond 0..255 would show all black or all white at gain 1: start with their range.
    initialRangePending_ = applyInitialCorrection(record_, config::autoRangeEnabled())
        == InitialCorrection::Undecided;
    startView(record_);
    refreshBlockBar();
    rebuildAndRepaint();
    // The window takes the display size plus what the toolbars and status bar need.
    const QSize display = canvas_->displaySize();
    const int frame = 2 * canvas_->frameWidth();
    const int extra = std::max(0, layout->sizeHint().height() - canvas_->sizeHint().height());
    // The toolbars (and the section bar of a volume) stay usable however narrow the image.
    setMinimumWidth(std::max(kMinimumWindowWidth, layout->minimumSize().width()));
    resize(std::max(display.width() + frame, minimumWidth()), display.height() + frame + extra);
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
        // Printing is not available here.
        if (b.command == CmdPrint)
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

    modeBar_ = new QToolBar(this);
    modeBar_->setIconSize(QSize(16, 16));
    auto* modes = new QActionGroup(modeBar_);
    modes->setExclusive(true);
    static const struct {
        int mode;
        const char* label;
    } modeButtons[] = {
        { MOUSE_NONE, "Pointeur" },
        { MOUSE_ZOOM, "Zoom (gauche x2, droit /2)" },
        { MOUSE_MOVE, "Déplacement" },
        { MOUSE_RECTANGLE, "Rectangle" },
        { MOUSE_MEASURE, "Mesure" },
        { MOUSE_EVENTS, "Événements vers les librairies" },
    };
    for (const auto& b : modeButtons) {
        QAction* action = modeBar_->addAction(modeIcon(b.mode), QString::fromUtf8(b.label));
        action->setObjectName(QStringLiteral("mode%1").arg(b.mode));
        action->setCheckable(true);
        action->setChecked(b.mode == MOUSE_NONE);
        modes->addAction(action);
        const int mode = b.mode;
        connect(action, &QAction::triggered, this, [this, mode] { setMouseMode(mode); });
    }
}

void ImageWindow::installAccelerators()
{
    // The keys of the image windows alone; those they share with the main window reach
    // it through the main window's own table.
    for (const menus::Accelerator& accelerator : menus::imageAccelerators()) {
        const int id = accelerator.command;
        if (std::ranges::any_of(menus::mainAccelerators(),
                [id](const menus::Accelerator& a) { return a.command == id; }))
            continue;
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(accelerator.key)), this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, id] { runKeyCommand(id); });
    }
}

bool ImageWindow::runKeyCommand(int id)
{
    switch (id) {
    case menus::kCmdImageKeyCtrlD:
        return duplicateShownImage(record_) != nullptr;
    case menus::kCmdImageKeyCtrlC:
        copyToClipboard();
        return true;
    case menus::kCmdImageKeyAltS: // the toolbar's numbers
    case menus::kCmdImageKeyCtrlS:
        return runCommand(id);
    default:
        return false;
    }
}

void ImageWindow::toggleLoupeWindow()
{
    if (loupe_ && loupe_->isVisible()) {
        loupe_->close();
        return;
    }
    if (!loupe_) {
        loupe_ = new QLabel(this, Qt::Tool);
        loupe_->setObjectName(QStringLiteral("loupeWindow"));
        loupe_->setWindowTitle(QString::fromUtf8("Loupe fenêtrée"));
        loupe_->setAlignment(Qt::AlignCenter);
        loupe_->setMinimumSize(120, 120);
    }
    refreshLoupeWindow();
    loupe_->show();
}

void ImageWindow::refreshLoupeWindow()
{
    if (!loupe_)
        return;
    // The magnifier of "Loupe intra", in a window of its own that follows the cursor.
    const ZoomView& z = view().zoom;
    DisplayBitmap bitmap;
    if (buildLoupeBitmap(record_, loupeGeometry(z.zoomX, z.zoomY), bitmap))
        loupe_->setPixmap(QPixmap::fromImage(toQImage(bitmap)));
}

void ImageWindow::copyToClipboard()
{
    QImage copy = canvas_->image();
    if (copy.format() == QImage::Format_Indexed8)
        copy = copy.convertToFormat(QImage::Format_RGB32);
    QGuiApplication::clipboard()->setImage(copy);
}

void ImageWindow::rebuildAndRepaint()
{
    rebuildDisplay(record_);
    withDisplay(
        record_, [this](const DisplayBitmap& display) { canvas_->setImage(toQImage(display)); });
    imageUpdatePending_ = true;
    refreshLoupeWindow();
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
    if (initialRangePending_)
        initialRangePending_ = applyInitialCorrection(record_, config::autoRangeEnabled())
            == InitialCorrection::Undecided;
    rebuildAndRepaint();
    refreshBlockBar();
    setWindowTitle(QString::fromStdString(dataTitle(&record_)));
    refreshCompanions();
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
    refreshCompanions();
}

void ImageWindow::refreshCompanions()
{
    for (const QPointer<CompanionWindow>& c : companions_)
        if (c)
            c->refresh();
    scene::refreshCursorSlices(record_);
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
    case CmdZoomOut:
        if (zoomView(record_, command == CmdZoomIn ? ViewZoom::In : ViewZoom::Out))
            afterZoom(false);
        return true;
    case CmdInitial:
        zoomView(record_, ViewZoom::Initial);
        afterZoom(true);
        return true;
    case CmdWindowLarger:
    case CmdWindowSmaller:
        if (zoomView(record_,
                command == CmdWindowLarger ? ViewZoom::WindowLarger : ViewZoom::WindowSmaller))
            afterZoom(true);
        return true;
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
    case CmdLoupeWindow:
        toggleLoupeWindow();
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
    refreshVisible(record_);
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
    if (!view().sync2d)
        return;
    for (ImageWindow* other : windowList()) {
        if (other == this || !synchroniseView(record_, other->record_))
            continue;
        QWidget* mine = parentWidget() ? parentWidget() : this;
        QWidget* theirs = other->parentWidget() ? other->parentWidget() : other;
        theirs->resize(mine->size());
        other->rebuildAndRepaint();
    }
}

void ImageWindow::zoomAt(bool in, double x, double y)
{
    if (zoomView(record_, in ? ViewZoom::In : ViewZoom::Out, ImagePoint { x, y }))
        afterZoom(false);
}

void ImageWindow::panTo(int originX, int originY)
{
    panView(record_, originX, originY);
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
    resizeView(record_, size.width(), size.height());
    rebuildAndRepaint();
}

void ImageWindow::setMouseMode(int mode)
{
    view().mouseMode = mode;
    if (QAction* a = modeBar_->findChild<QAction*>(QStringLiteral("mode%1").arg(mode));
        a && !a->isChecked()) {
        const QSignalBlocker blocker(a);
        a->setChecked(true);
    }
    canvas_->viewport()->update();
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
    scene::refreshCursorSlices(record_);
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

void ImageWindow::paintLayers(QPainter& painter)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    QtLayerPainter layers(painter, canvas_->viewport()->rect());
    drawImageLayers(record_, mouse_, layers);
    // Callbacks hear of a new display once it is on the screen, not on every repaint.
    if (imageUpdatePending_) {
        imageUpdatePending_ = false;
        fireImageUpdate(record_);
    }
}

namespace {

unsigned toButtons(Qt::MouseButtons buttons)
{
    unsigned bits = 0;
    if (buttons & Qt::LeftButton)
        bits |= kMouseLeft;
    if (buttons & Qt::RightButton)
        bits |= kMouseRight;
    if (buttons & Qt::MiddleButton)
        bits |= kMouseMiddle;
    return bits;
}

unsigned toModifiers(Qt::KeyboardModifiers modifiers)
{
    unsigned bits = 0;
    if (modifiers & Qt::ShiftModifier)
        bits |= kModShift;
    if (modifiers & Qt::ControlModifier)
        bits |= kModControl;
    if (modifiers & Qt::AltModifier)
        bits |= kModAlt;
    return bits;
}

} // namespace

void ImageWindow::mouseAt(QMouseEvent* event, MouseAction action)
{
    const QPoint pos = event->position().toPoint();
    MouseInput input;
    input.action = action;
    input.x = pos.x();
    input.y = pos.y();
    input.button = toButtons(event->button());
    input.buttons = toButtons(event->buttons());
    input.modifiers = toModifiers(event->modifiers());
    const MouseResponse r = mouse_.handle(record_, input);
    if (r.cursorMoved || r.blockCursorMoved)
        refreshStatus();
    if (r.cursorMoved)
        refreshLoupeWindow();
    if (r.zoomed)
        afterZoom(false);
    if (r.panned) {
        rebuildAndRepaint();
        synchronise();
    }
    if (r.blockCursorMoved)
        refreshCompanions();
    if (r.contextMenu) {
        QMenu* menu = createConversionMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(canvas_->viewport()->mapToGlobal(pos));
    }
    canvas_->viewport()->update();
}

void ImageWindow::keyPressEvent(QKeyEvent* event)
{
    fireMessageHook(record_, event->key(),
        mouseKeyState(toButtons(QApplication::mouseButtons()), toModifiers(event->modifiers())));
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
