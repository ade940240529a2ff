// A painter that records every call, for the drawing tests of graphs and overlays.
#pragma once

#include "data/graphpainter.h"

#include <string>
#include <vector>

struct PaintCall {
    std::string op; // "clip", "unclip", "polyline", "fill", "outline", "ellipse"
    std::vector<vexa::PixelPoint> points;
    int width = 0;
    vexa::Rgb color;
    int radiusX = 0, radiusY = 0;
};

class RecordingPainter : public vexa::OverlayPainter {
public:
    void pushClip(std::span<const vexa::PixelPoint> polygon) override
    {
        calls.push_back(call("clip", polygon, 0, {}));
    }
    void popClip() override { calls.push_back(call("unclip", {}, 0, {})); }
    void drawPolyline(std::span<const vexa::PixelPoint> points, int width, vexa::Rgb color) override
    {
        calls.push_back(call("polyline", points, width, color));
    }
    void fillPolygon(std::span<const vexa::PixelPoint> polygon, vexa::Rgb color) override
    {
        calls.push_back(call("fill", polygon, 0, color));
    }
    void drawPolygon(std::span<const vexa::PixelPoint> polygon, int width, vexa::Rgb color) override
    {
        calls.push_back(call("outline", polygon, width, color));
    }
    void drawEllipse(vexa::PixelPoint center, int rx, int ry, int width, vexa::Rgb color) override
    {
        const vexa::PixelPoint one[1] = { center };
        PaintCall c = call("ellipse", one, width, color);
        c.radiusX = rx;
        c.radiusY = ry;
        calls.push_back(c);
    }

    static PaintCall call(
        const char* op, std::span<const vexa::PixelPoint> points, int width, vexa::Rgb color)
    {
        PaintCall c;
        c.op = op;
        c.points.assign(points.begin(), points.end());
        c.width = width;
        c.color = color;
        return c;
    }

    std::vector<PaintCall> withOp(const std::string& op) const
    {
        std::vector<PaintCall> out;
        for (const auto& c : calls)
            if (c.op == op)
                out.push_back(c);
        return out;
    }
    std::vector<PaintCall> withColor(const std::string& op, vexa::Rgb color) const
    {
        std::vector<PaintCall> out;
        for (const auto& c : calls)
            if (c.op == op && c.color == color)
                out.push_back(c);
        return out;
    }

    std::vector<PaintCall> calls;
};
