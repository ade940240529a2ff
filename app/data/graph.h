// Graphs: named plots of curves with background, border, axes, tick marks and grids,
// in a linear or polar layout, drawn in a rectangle that may be turned. Every 2D
// image and every graph datum keeps a list of them; plug-ins reach a graph by the
// datum's identifier and the graph's name, and every setter applies to all graphs of
// that name.
#pragma once

#include "data/graphpainter.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vexa {

struct GraphSeries {
    std::vector<double> x;
    std::vector<double> y;
    bool lineVisible = false;
    Rgb color;
    int width = 0;
    bool markersVisible = false;

    int count() const { return static_cast<int>(x.size()); }
};

// A point of the frame, in the host coordinates of the view that draws the list.
struct FramePoint {
    double x = 0;
    double y = 0;
};

// Side of the square drawn at each data point, in pixels.
constexpr int kGraphMarkerSize = 5;

struct Graph {
    Graph(std::string name, double x0, double y0, double x1, double y1);

    std::string name;
    double homeX0, homeY0, homeX1, homeY1;
    double x0, y0, x1, y1;
    double cx, cy;
    bool polar = false;
    bool autoRange = true;
    double xMin = 0, xMax = 0, yMin = 0, yMax = 0;
    double xSpan = 0, ySpan = 0;
    double angle = 0, cosAngle = 1, sinAngle = 0;
    double offsetX = 0, offsetY = 0, scaleX = 1, scaleY = 1;
    bool borderVisible = true;
    Rgb borderColor { 0.7, 0.6, 0 };
    int borderWidth = 3;
    bool backgroundVisible = true;
    Rgb backgroundColor { 1, 1, 0.85 };
    Rgb highlightColor { 0.8, 0.8, 0.65 };
    bool xAxisVisible = true;
    Rgb xAxisColor { 0, 0, 0 };
    int xAxisWidth = 2;
    double xAxisPosition = 0;
    std::vector<double> xMajorTicks, xMinorTicks;
    bool yAxisVisible = true;
    Rgb yAxisColor { 0, 0, 0 };
    int yAxisWidth = 2;
    double yAxisPosition = 0;
    std::vector<double> yMajorTicks, yMinorTicks;
    bool xGridVisible = true;
    Rgb xGridColor { 0.5, 0.5, 0.5 };
    bool xMinorGridVisible = true;
    Rgb xMinorGridColor { 0.8, 0.8, 0.8 };
    bool yGridVisible = true;
    Rgb yGridColor { 0.5, 0.5, 0.5 };
    bool yMinorGridVisible = true;
    Rgb yMinorGridColor { 0.8, 0.8, 0.8 };
    std::vector<GraphSeries> series; // series n is series[n - 1]
    bool highlighted = false;

    int seriesCount() const { return static_cast<int>(series.size()); }

    // Current rectangle; the rotation centre follows it.
    void setPosition(double x0, double y0, double x1, double y1);
    void setOrientation(double degrees);
    // Ranges turn autoRange off; an empty range is widened by 0.5 each way. A range
    // with an infinite or undefined bound is refused (false).
    bool setXRange(double min, double max);
    bool setYRange(double min, double max);
    // Copies count points into series n (1-based), growing the series with empty
    // invisible ones; with autoRange, both ranges follow all points. Refused (false)
    // for n < 1, count < 0, or missing arrays with count > 0.
    bool setData(int n, const double* x, const double* y, int count);
    // Series setters: false when n is not between 1 and seriesCount.
    bool setDataVisibility(int n, int v);
    bool setDataWidth(int n, int width);
    bool setDataColor(int n, Rgb color);

    // Data point to frame point, in the current layout; not finite when a span is 0.
    FramePoint place(double x, double y) const;
    // Frame point to window pixel; empty when not finite.
    std::optional<PixelPoint> toScreen(FramePoint p) const;
    // The rectangle turned about its centre, in window pixels.
    std::vector<PixelPoint> frameOutline() const;

    // Background, X axis and grid, Y axis and grid (linear layout), border, series;
    // all clipped to the turned rectangle.
    void draw(OverlayPainter& painter) const;

private:
    void recomputeAutoRange();
    void drawSegment(
        OverlayPainter& painter, FramePoint a, FramePoint b, int width, Rgb color) const;
};

// Multiples k x step of the step chosen for about n intervals over [min, max] (see
// the .cpp), in increasing order. Empty for n < 1 or an empty or undefined range.
std::vector<double> graphTicks(double min, double max, int n);

// A list of graphs, newest first, with its own lock: workers set data while the
// interface thread draws.
class GraphList {
public:
    void add(Graph graph);
    // Removes every graph of that name; returns how many.
    int remove(const std::string& name);
    // Calls fn on every graph of that name, under the lock; returns how many.
    int forEach(const std::string& name, const std::function<void(Graph&)>& fn);
    // Calls fn on every graph, newest first.
    void forAll(const std::function<void(Graph&)>& fn);
    int size() const;
    // Draws every graph, oldest first, so the newest is on top.
    void draw(OverlayPainter& painter) const;
    // Counts the changes made through add, remove and forEach (forAll is what views use
    // to place the graphs, which is no change), so that a window can tell when to redraw.
    std::uint64_t revision() const { return revision_.load(); }

private:
    mutable std::mutex mutex_;
    std::list<Graph> graphs_;
    std::atomic<std::uint64_t> revision_ { 0 };
};

} // namespace vexa
