#include "data/graph.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace vexa {

namespace {

// More ticks than this on one axis means the range and its step disagree numerically
// (a huge min with a tiny span); such an axis gets no ticks rather than a flood.
constexpr double kMaxTicks = 100000;

// 4/pi and 16/pi: the polar X axis counts angles in eighths and thirty-seconds of a
// half turn.
constexpr double kFourOverPi = 1.2732395447350788;
constexpr double kSixteenOverPi = 5.092958178940315;

std::vector<double> scaledTicks(double min, double max, int n, double factor)
{
    std::vector<double> ticks = graphTicks(min * factor, max * factor, n);
    for (double& t : ticks)
        t /= factor;
    return ticks;
}

} // namespace

std::vector<double> graphTicks(double min, double max, int n)
{
    std::vector<double> ticks;
    if (n < 1 || !std::isfinite(min) || !std::isfinite(max))
        return ticks;
    if (max < min)
        std::swap(min, max);
    double d = (max - min) / n;
    if (!(d > 0) || !std::isfinite(d))
        return ticks;
    double m = std::pow(10.0, std::ceil(std::log10(d)));
    double r = d / m; // 0.1 < r <= 1
    double factor = r > 0.5 ? 1.0 : (r > 0.2 ? 0.5 : 0.2);
    double step = factor * m;
    if (!(step > 0) || !std::isfinite(step))
        return ticks;
    double first = std::ceil(min / step);
    double last = std::floor(max / step);
    if (!(last >= first) || last - first > kMaxTicks)
        return ticks;
    // Counted, not stepped: beyond 2^53 adding 1 to k would not move it.
    auto count = static_cast<std::size_t>(last - first) + 1;
    ticks.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        ticks.push_back((first + static_cast<double>(i)) * step);
    return ticks;
}

Graph::Graph(std::string graphName, double gx0, double gy0, double gx1, double gy1)
    : name(std::move(graphName))
    , homeX0(gx0)
    , homeY0(gy0)
    , homeX1(gx1)
    , homeY1(gy1)
    , x0(gx0)
    , y0(gy0)
    , x1(gx1)
    , y1(gy1)
    , cx((gx0 + gx1) / 2)
    , cy((gy0 + gy1) / 2)
{
}

void Graph::setPosition(double px0, double py0, double px1, double py1)
{
    x0 = px0;
    y0 = py0;
    x1 = px1;
    y1 = py1;
    cx = (x0 + x1) / 2;
    cy = (y0 + y1) / 2;
}

void Graph::setOrientation(double degrees)
{
    angle = degrees * 3.14159265359 / 180;
    cosAngle = std::cos(angle);
    sinAngle = std::sin(angle);
}

bool Graph::setXRange(double min, double max)
{
    if (!std::isfinite(min) || !std::isfinite(max))
        return false;
    autoRange = false;
    if (min == max) {
        min -= 0.5;
        max += 0.5;
    }
    xMin = min;
    xMax = max;
    xSpan = xMax - xMin;
    if (polar) {
        xMajorTicks = scaledTicks(xMin, xMax, 8, kFourOverPi);
        xMinorTicks = scaledTicks(xMin, xMax, 32, kSixteenOverPi);
    } else {
        xMajorTicks = graphTicks(xMin, xMax, 5);
        xMinorTicks = graphTicks(xMin, xMax, 25);
    }
    return true;
}

bool Graph::setYRange(double min, double max)
{
    if (!std::isfinite(min) || !std::isfinite(max))
        return false;
    autoRange = false;
    if (min == max) {
        min -= 0.5;
        max += 0.5;
    }
    yMin = min;
    yMax = max;
    ySpan = yMax - yMin;
    yMajorTicks = graphTicks(yMin, yMax, polar ? 20 : 10);
    yMinorTicks = graphTicks(yMin, yMax, polar ? 40 : 50);
    return true;
}

void Graph::recomputeAutoRange()
{
    bool any = false;
    double lx = 0, hx = 0, ly = 0, hy = 0;
    for (const GraphSeries& s : series)
        for (std::size_t i = 0; i < s.x.size(); ++i) {
            double px = s.x[i], py = s.y[i];
            // Undefined or infinite samples would make the whole range unusable.
            if (!std::isfinite(px) || !std::isfinite(py))
                continue;
            if (!any) {
                lx = hx = px;
                ly = hy = py;
                any = true;
                continue;
            }
            lx = std::min(lx, px);
            hx = std::max(hx, px);
            ly = std::min(ly, py);
            hy = std::max(hy, py);
        }
    if (!any)
        return;
    setXRange(lx, hx);
    setYRange(ly, hy);
    if (polar)
        xAxisPosition = yMax;
    autoRange = true;
}

bool Graph::setData(int n, const double* x, const double* y, int count)
{
    if (n < 1 || count < 0 || (count > 0 && (!x || !y)))
        return false;
    if (n > seriesCount())
        series.resize(static_cast<std::size_t>(n));
    GraphSeries& s = series[static_cast<std::size_t>(n - 1)];
    s.x.assign(x, x + count);
    s.y.assign(y, y + count);
    if (autoRange)
        recomputeAutoRange();
    return true;
}

bool Graph::setDataVisibility(int n, int v)
{
    if (n < 1 || n > seriesCount())
        return false;
    GraphSeries& s = series[static_cast<std::size_t>(n - 1)];
    s.lineVisible = v > 0;
    s.markersVisible = v != 0;
    return true;
}

bool Graph::setDataWidth(int n, int width)
{
    if (n < 1 || n > seriesCount())
        return false;
    series[static_cast<std::size_t>(n - 1)].width = width;
    return true;
}

bool Graph::setDataColor(int n, Rgb color)
{
    if (n < 1 || n > seriesCount())
        return false;
    series[static_cast<std::size_t>(n - 1)].color = color;
    return true;
}

FramePoint Graph::place(double x, double y) const
{
    if (polar) {
        double radius = std::min(x1 - x0, y1 - y0) / 2;
        double r = y / ySpan * radius;
        return { cx + r * std::cos(x), cy - r * std::sin(x) };
    }
    double fx = x0 + (x - xMin) / xSpan * (x1 - x0);
    double fy = y1 - (y - yMin) / ySpan * (y1 - y0);
    double dx = fx - cx, dy = fy - cy;
    return { cx + cosAngle * dx - sinAngle * dy, cy + sinAngle * dx + cosAngle * dy };
}

std::optional<PixelPoint> Graph::toScreen(FramePoint p) const
{
    double sx = std::floor((p.x - offsetX) * scaleX + 0.5);
    double sy = std::floor((p.y - offsetY) * scaleY + 0.5);
    if (!std::isfinite(sx) || !std::isfinite(sy))
        return std::nullopt;
    // Far outside any window: clamped so that the conversion stays defined.
    constexpr double kLimit = 1 << 28;
    return PixelPoint { static_cast<int>(std::clamp(sx, -kLimit, kLimit)),
        static_cast<int>(std::clamp(sy, -kLimit, kLimit)) };
}

std::vector<PixelPoint> Graph::frameOutline() const
{
    std::vector<PixelPoint> out;
    const FramePoint corners[4] = { { x0, y0 }, { x1, y0 }, { x1, y1 }, { x0, y1 } };
    for (const FramePoint& c : corners) {
        double dx = c.x - cx, dy = c.y - cy;
        FramePoint turned { cx + cosAngle * dx - sinAngle * dy,
            cy + sinAngle * dx + cosAngle * dy };
        if (auto p = toScreen(turned))
            out.push_back(*p);
    }
    if (out.size() != 4)
        out.clear();
    return out;
}

void Graph::drawSegment(
    OverlayPainter& painter, FramePoint a, FramePoint b, int width, Rgb color) const
{
    auto pa = toScreen(a);
    auto pb = toScreen(b);
    if (!pa || !pb)
        return;
    const PixelPoint line[2] = { *pa, *pb };
    painter.drawPolyline(line, width, color);
}

void Graph::draw(OverlayPainter& painter) const
{
    std::vector<PixelPoint> outline = frameOutline();
    if (outline.empty())
        return;
    painter.pushClip(outline);

    if (backgroundVisible)
        painter.fillPolygon(outline, highlighted ? highlightColor : backgroundColor);

    const double s = std::max(xSpan, ySpan);
    if (xAxisVisible) {
        if (xMinorGridVisible)
            for (double t : xMinorTicks)
                drawSegment(painter, place(t, yMin), place(t, yMax), 1, xMinorGridColor);
        if (xGridVisible)
            for (double t : xMajorTicks)
                drawSegment(painter, place(t, yMin), place(t, yMax), 1, xGridColor);
        for (double t : xMinorTicks)
            drawSegment(painter, place(t, xAxisPosition - s / 40), place(t, xAxisPosition + s / 40),
                1, xAxisColor);
        for (double t : xMajorTicks)
            drawSegment(painter, place(t, xAxisPosition - s / 20), place(t, xAxisPosition + s / 20),
                1, xAxisColor);
        drawSegment(painter, place(xMin, xAxisPosition), place(xMax, xAxisPosition), xAxisWidth,
            xAxisColor);
    }

    if (yAxisVisible && !polar) {
        if (yMinorGridVisible)
            for (double t : yMinorTicks)
                drawSegment(painter, place(xMin, t), place(xMax, t), 1, yMinorGridColor);
        if (yGridVisible)
            for (double t : yMajorTicks)
                drawSegment(painter, place(xMin, t), place(xMax, t), 1, yGridColor);
        for (double t : yMinorTicks)
            drawSegment(painter, place(yAxisPosition - s / 40, t), place(yAxisPosition + s / 40, t),
                1, yAxisColor);
        for (double t : yMajorTicks)
            drawSegment(painter, place(yAxisPosition - s / 40, t), place(yAxisPosition + s / 40, t),
                1, yAxisColor);
        drawSegment(painter, place(yAxisPosition, yMin), place(yAxisPosition, yMax), yAxisWidth,
            yAxisColor);
    }

    if (borderVisible)
        painter.drawPolygon(outline, borderWidth, borderColor);

    for (const GraphSeries& line : series) {
        if (line.x.empty())
            continue;
        std::vector<std::optional<PixelPoint>> pts;
        pts.reserve(line.x.size());
        for (std::size_t i = 0; i < line.x.size(); ++i)
            pts.push_back(toScreen(place(line.x[i], line.y[i])));
        if (line.lineVisible) {
            // An undefined point breaks the curve instead of joining across it.
            std::vector<PixelPoint> run;
            auto flush = [&] {
                if (run.size() >= 2)
                    painter.drawPolyline(run, line.width, line.color);
                run.clear();
            };
            for (const auto& p : pts) {
                if (p)
                    run.push_back(*p);
                else
                    flush();
            }
            flush();
        }
        // Markers follow their own flag: a hidden line may still show its points.
        if (line.markersVisible) {
            const double h = kGraphMarkerSize / 2.0;
            const double offsets[4][2] = { { -h, -h }, { h, -h }, { h, h }, { -h, h } };
            for (const auto& p : pts) {
                if (!p)
                    continue;
                PixelPoint square[4];
                for (int k = 0; k < 4; ++k) {
                    double dx = offsets[k][0], dy = offsets[k][1];
                    square[k]
                        = { p->x + static_cast<int>(std::lround(cosAngle * dx - sinAngle * dy)),
                              p->y + static_cast<int>(std::lround(sinAngle * dx + cosAngle * dy)) };
                }
                painter.fillPolygon(square, line.color);
            }
        }
    }

    painter.popClip();
}

void GraphList::add(Graph graph)
{
    std::lock_guard lock(mutex_);
    graphs_.push_front(std::move(graph));
    ++revision_;
}

int GraphList::remove(const std::string& name)
{
    std::lock_guard lock(mutex_);
    int removed = 0;
    for (auto it = graphs_.begin(); it != graphs_.end();) {
        if (it->name == name) {
            it = graphs_.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    if (removed > 0)
        ++revision_;
    return removed;
}

int GraphList::forEach(const std::string& name, const std::function<void(Graph&)>& fn)
{
    std::lock_guard lock(mutex_);
    int n = 0;
    for (Graph& g : graphs_)
        if (g.name == name) {
            fn(g);
            ++n;
        }
    if (n > 0)
        ++revision_;
    return n;
}

void GraphList::forAll(const std::function<void(Graph&)>& fn)
{
    std::lock_guard lock(mutex_);
    for (Graph& g : graphs_)
        fn(g);
}

int GraphList::size() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(graphs_.size());
}

void GraphList::draw(OverlayPainter& painter) const
{
    std::lock_guard lock(mutex_);
    for (auto it = graphs_.rbegin(); it != graphs_.rend(); ++it)
        it->draw(painter);
}

} // namespace vexa
