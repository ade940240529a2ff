#include "views/gui/graphwindow.h"

#include "data/datarecord.h"
#include "data/graphapi.h"

#include <QPaintEvent>
#include <QPainterPath>
#include <QPolygon>
#include <QTimer>

#include <algorithm>

namespace vexa::gui {

namespace {

// Plug-ins change graphs from worker threads without a redraw request; the window
// looks for changes this often.
constexpr int kPollMilliseconds = 100;

QColor toQColor(Rgb c)
{
    return QColor::fromRgbF(float(std::clamp(c.r, 0.0, 1.0)), float(std::clamp(c.g, 0.0, 1.0)),
        float(std::clamp(c.b, 0.0, 1.0)));
}

QPolygon toPolygon(std::span<const PixelPoint> points)
{
    QPolygon polygon;
    polygon.reserve(qsizetype(points.size()));
    for (const PixelPoint& p : points)
        polygon.append(QPoint(p.x, p.y));
    return polygon;
}

QPen penOf(int width, Rgb color)
{
    QPen pen(toQColor(color), std::max(0, width));
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

GraphDatum* graphDatumOf(std::uint32_t imageId)
{
    GraphDatum* datum = nullptr;
    graphListFor(imageId, &datum);
    return datum;
}

} // namespace

QtGraphPainter::QtGraphPainter(QPainter& painter)
    : painter_(painter)
{
    painter_.setRenderHint(QPainter::Antialiasing, false);
}

void QtGraphPainter::pushClip(std::span<const PixelPoint> polygon)
{
    painter_.save();
    QPainterPath path;
    path.addPolygon(QPolygonF(toPolygon(polygon)));
    painter_.setClipPath(path, Qt::IntersectClip);
}

void QtGraphPainter::popClip()
{
    painter_.restore();
}

void QtGraphPainter::drawPolyline(std::span<const PixelPoint> points, int width, Rgb color)
{
    painter_.setPen(penOf(width, color));
    painter_.setBrush(Qt::NoBrush);
    painter_.drawPolyline(toPolygon(points));
}

void QtGraphPainter::fillPolygon(std::span<const PixelPoint> polygon, Rgb color)
{
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(toQColor(color));
    painter_.drawPolygon(toPolygon(polygon));
    painter_.setBrush(Qt::NoBrush);
}

void QtGraphPainter::drawPolygon(std::span<const PixelPoint> polygon, int width, Rgb color)
{
    painter_.setPen(penOf(width, color));
    painter_.setBrush(Qt::NoBrush);
    painter_.drawPolygon(toPolygon(polygon));
}

void QtGraphPainter::drawEllipse(PixelPoint center, int radiusX, int radiusY, int width, Rgb color)
{
    painter_.setPen(penOf(width, color));
    painter_.setBrush(Qt::NoBrush);
    painter_.drawEllipse(QPoint(center.x, center.y), radiusX, radiusY);
}

bool paintGraphDatum(std::uint32_t imageId, QPainter& painter, QSize size)
{
    GraphDatum* datum = graphDatumOf(imageId);
    if (!datum)
        return false;
    // The graphs were placed in a window of the datum's size; they follow the window
    // as it is resized.
    const double scaleX = datum->width > 0 ? double(size.width()) / datum->width : 1.0;
    const double scaleY = datum->height > 0 ? double(size.height()) / datum->height : 1.0;
    datum->graphs.forAll([&](Graph& g) {
        g.offsetX = 0;
        g.offsetY = 0;
        g.scaleX = scaleX;
        g.scaleY = scaleY;
    });
    QtGraphPainter graphPainter(painter);
    datum->graphs.draw(graphPainter);
    return true;
}

GraphWindow::GraphWindow(std::uint32_t imageId, QWidget* parent)
    : QWidget(parent)
    , imageId_(imageId)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(50, 50);
    if (GraphDatum* datum = graphDatumOf(imageId_))
        shownRevision_ = datum->graphs.revision();
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &GraphWindow::pollChanges);
    timer->start(kPollMilliseconds);
}

QSize GraphWindow::sizeHint() const
{
    if (GraphDatum* datum = graphDatumOf(imageId_))
        return QSize(std::clamp(datum->width, 50, 4000), std::clamp(datum->height, 50, 4000));
    return QSize(200, 200);
}

void GraphWindow::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    paintGraphDatum(imageId_, painter, size());
}

void GraphWindow::pollChanges()
{
    GraphDatum* datum = graphDatumOf(imageId_);
    if (!datum)
        return;
    const std::uint64_t revision = datum->graphs.revision();
    if (revision != shownRevision_) {
        shownRevision_ = revision;
        update();
    }
}

QWidget* makeGraphWindow(DataRecord& record)
{
    if (record.kind != DATA_GRAPH || !dynamic_cast<GraphDatum*>(record.graph.get()))
        return nullptr;
    return new GraphWindow(record.imageId);
}

} // namespace vexa::gui
