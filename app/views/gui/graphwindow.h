// The window of a graph datum, which draws its graphs.
#pragma once

#include "data/graphpainter.h"

#include <QPainter>
#include <QWidget>

#include <cstdint>

namespace vexa {
struct DataRecord;
class GraphList;
} // namespace vexa

namespace vexa::gui {

// Graph drawing on a QPainter: exact pixels (no antialiasing), so that what a plug-in
// places is where it shows.
class QtGraphPainter : public OverlayPainter {
public:
    explicit QtGraphPainter(QPainter& painter);
    void pushClip(std::span<const PixelPoint> polygon) override;
    void popClip() override;
    void drawPolyline(std::span<const PixelPoint> points, int width, Rgb color) override;
    void fillPolygon(std::span<const PixelPoint> polygon, Rgb color) override;
    void drawPolygon(std::span<const PixelPoint> polygon, int width, Rgb color) override;
    void drawEllipse(PixelPoint center, int radiusX, int radiusY, int width, Rgb color) override;

private:
    QPainter& painter_;
};

// Draws the graphs of a graph datum's list, stretched from the datum's window size to
// size. False when imageId is not that of a graph datum.
bool paintGraphDatum(std::uint32_t imageId, QPainter& painter, QSize size);

// Shows the graphs of one graph datum, found again by its identifier at each paint, and
// repaints when a plug-in changes them.
class GraphWindow : public QWidget {
    Q_OBJECT
public:
    explicit GraphWindow(std::uint32_t imageId, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void pollChanges();

    std::uint32_t imageId_;
    std::uint64_t shownRevision_ = 0;
};

// The window content for record, or null when the record cannot be shown (the
// caller then shows its title).
QWidget* makeGraphWindow(DataRecord& record);

} // namespace vexa::gui
