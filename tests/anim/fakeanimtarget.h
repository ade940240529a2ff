// A view that only records what an animation asks of it.
#pragma once

#include "scene/animtarget.h"

#include <cstdio>
#include <string>
#include <vector>

namespace animtest {

struct Added {
    vexa::scene::AnimObject object;
    std::uint32_t mask;
};

class FakeTarget : public vexa::scene::AnimTarget {
public:
    // Calls in order, e.g. "rotate 1 0.25", "render", "delete a".
    std::vector<std::string> calls;
    std::vector<Added> added;
    int renders = 0;
    int maxRenders = -1; // cancels the playback after that many frames
    bool viewMade = false;
    int subViews = 1, current = 0;

    bool createView() override { return viewMade = true, true; }
    void showReferenceBox(bool shown) override { log("box " + std::to_string(shown)); }
    void setReferenceBox(double w, double h, double d) override
    {
        log("reference " + num(w) + " " + num(h) + " " + num(d));
    }
    void resizeView(int w, int h) override
    {
        log("resize " + std::to_string(w) + " " + std::to_string(h));
    }
    void refresh() override { log("refresh"); }
    int subViewCount() override { return subViews; }
    int currentSubView() override { return current; }
    void selectSubView(int index) override
    {
        current = index;
        log("select " + std::to_string(index));
    }
    void setSubViewVisible(int index, bool visible) override
    {
        log("visible " + std::to_string(index) + " " + std::to_string(visible));
    }
    int addSubView(double, double, double, double) override { return subViews++; }
    void setFilm(const std::string& path, double frequency) override
    {
        log("film " + path + " " + num(frequency));
    }
    void beginFilm(bool) override { log("begin"); }
    void endFilm() override { log("end"); }
    void renderFrame() override
    {
        ++renders;
        log("render");
    }
    void rotateCamera(int axis, double angle) override
    {
        log("rotate " + std::to_string(axis) + " " + num(angle));
    }
    void multiplyZoom(double factor) override { log("zoom " + num(factor)); }
    void translateCameraWorld(int axis, double d) override
    {
        log("move " + std::to_string(axis) + " " + num(d));
    }
    void translateCameraOwn(int axis, double d) override
    {
        log("own " + std::to_string(axis) + " " + num(d));
    }
    vexa::scene::Vec3 unitScale() override { return { 2, 3, 4 }; }
    void addObject(vexa::scene::AnimObject object, std::uint32_t mask) override
    {
        log("add " + object.name);
        added.push_back({ std::move(object), mask });
    }
    void deleteObjects(const std::string& name) override { log("delete " + name); }
    bool cancelled() override { return maxRenders >= 0 && renders >= maxRenders; }
    bool askRaytracing(bool& raytracing) override
    {
        log("raytracing");
        raytracing = true;
        return true;
    }

    // Calls starting with prefix.
    std::vector<std::string> only(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const std::string& call : calls)
            if (call.rfind(prefix, 0) == 0)
                out.push_back(call);
        return out;
    }

private:
    void log(const std::string& call) { calls.push_back(call); }
    static std::string num(double v)
    {
        char text[64];
        std::snprintf(text, sizeof text, "%g", v);
        return text;
    }
};

} // namespace animtest
