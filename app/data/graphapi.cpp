#include "data/graphapi.h"

#include "data/object2d.h"
#include "data/registry.h"

#include <vexa_guard.hpp>

#include <string>

namespace vexa {

std::unique_ptr<KindObject> makeGraphDatum(int width, int height)
{
    return std::make_unique<GraphDatum>(width, height);
}

GraphList* graphListFor(std::uint32_t id, GraphDatum** datumOut)
{
    if (datumOut)
        *datumOut = nullptr;
    if (id == 0)
        return nullptr;
    DataRecord* record = dataFind(id);
    if (!record || record->imageId != id)
        return nullptr;
    if (record->kind == DATA_IMAGE) {
        ImageDescriptor* image = record->image2d();
        return image ? &imageOverlay(*image).graphs : nullptr;
    }
    if (record->kind == DATA_GRAPH) {
        auto* datum = dynamic_cast<GraphDatum*>(record->graph.get());
        if (!datum)
            return nullptr;
        if (datumOut)
            *datumOut = datum;
        return &datum->graphs;
    }
    return nullptr;
}

namespace {

// Applies fn to every graph of that name; 1 when there was one.
int forGraphs(unsigned int id, const char* name, const std::function<void(Graph&)>& fn)
{
    if (!name)
        return 0;
    return guarded([&] {
        GraphList* list = graphListFor(id);
        return list && list->forEach(name, fn) > 0 ? 1 : 0;
    });
}

// As forGraphs, for setters that may refuse (a series number out of range): 1 when
// at least one graph took the change.
int forGraphsChecked(unsigned int id, const char* name, const std::function<bool(Graph&)>& fn)
{
    int accepted = 0;
    int found = forGraphs(id, name, [&](Graph& g) {
        if (fn(g))
            accepted = 1;
    });
    return found && accepted;
}

} // namespace

} // namespace vexa

using vexa::Graph;
using vexa::Rgb;

int dozDataGraphNew(unsigned int id, const char* name, double x0, double y0, double x1, double y1)
{
    if (!name)
        return 0;
    return vexa::guarded([&] {
        vexa::GraphDatum* datum = nullptr;
        vexa::GraphList* list = vexa::graphListFor(id, &datum);
        if (!list)
            return 0;
        // In a graph window the rectangle is given as fractions of the window.
        if (datum) {
            x0 *= datum->width;
            x1 *= datum->width;
            y0 *= datum->height;
            y1 *= datum->height;
        }
        list->add(Graph(name, x0, y0, x1, y1));
        return 1;
    });
}

int dozDataGraphDelete(unsigned int id, const char* name)
{
    if (!name)
        return 0;
    return vexa::guarded([&] {
        vexa::GraphList* list = vexa::graphListFor(id);
        return list && list->remove(name) > 0 ? 1 : 0;
    });
}

int dozDataGraphSetPosition(
    unsigned int id, const char* name, double x0, double y0, double x1, double y1)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.setPosition(x0, y0, x1, y1); });
}

int dozDataGraphSetOrientation(unsigned int id, const char* name, double degrees)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.setOrientation(degrees); });
}

int dozDataGraphSetLinear(unsigned int id, const char* name)
{
    return vexa::forGraphs(id, name, [](Graph& g) { g.polar = false; });
}

int dozDataGraphSetPolar(unsigned int id, const char* name)
{
    return vexa::forGraphs(id, name, [](Graph& g) { g.polar = true; });
}

int dozDataGraphSetAutoRange(unsigned int id, const char* name)
{
    return vexa::forGraphs(id, name, [](Graph& g) { g.autoRange = true; });
}

int dozDataGraphSetXRange(unsigned int id, const char* name, double min, double max)
{
    return vexa::forGraphsChecked(id, name, [&](Graph& g) { return g.setXRange(min, max); });
}

int dozDataGraphSetYRange(unsigned int id, const char* name, double min, double max)
{
    return vexa::forGraphsChecked(id, name, [&](Graph& g) { return g.setYRange(min, max); });
}

int dozDataGraphSetBackgroundVisibility(unsigned int id, const char* name, int v)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.backgroundVisible = v > 0; });
}

int dozDataGraphSetBackgroundColor(unsigned int id, const char* name, double r, double g, double b)
{
    return vexa::forGraphs(id, name, [&](Graph& gr) { gr.backgroundColor = Rgb { r, g, b }; });
}

int dozDataGraphSetBorderVisibility(unsigned int id, const char* name, int v)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.borderVisible = v > 0; });
}

int dozDataGraphSetBorderWidth(unsigned int id, const char* name, int width)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.borderWidth = width; });
}

int dozDataGraphSetBorderColor(unsigned int id, const char* name, double r, double g, double b)
{
    return vexa::forGraphs(id, name, [&](Graph& gr) { gr.borderColor = Rgb { r, g, b }; });
}

int dozDataGraphSetXAxisVisibility(unsigned int id, const char* name, int v)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.xAxisVisible = v > 0; });
}

int dozDataGraphSetXAxisColor(unsigned int id, const char* name, double r, double g, double b)
{
    return vexa::forGraphs(id, name, [&](Graph& gr) { gr.xAxisColor = Rgb { r, g, b }; });
}

int dozDataGraphSetXAxisWidth(unsigned int id, const char* name, int width)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.xAxisWidth = width; });
}

int dozDataGraphSetXAxisPosition(unsigned int id, const char* name, double value)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.xAxisPosition = value; });
}

int dozDataGraphSetYAxisVisibility(unsigned int id, const char* name, int v)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.yAxisVisible = v > 0; });
}

int dozDataGraphSetYAxisColor(unsigned int id, const char* name, double r, double g, double b)
{
    return vexa::forGraphs(id, name, [&](Graph& gr) { gr.yAxisColor = Rgb { r, g, b }; });
}

int dozDataGraphSetYAxisWidth(unsigned int id, const char* name, int width)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.yAxisWidth = width; });
}

int dozDataGraphSetYAxisPosition(unsigned int id, const char* name, double value)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.yAxisPosition = value; });
}

int dozDataGraphSetXGridVisibility(unsigned int id, const char* name, int v)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.xGridVisible = v > 0; });
}

int dozDataGraphSetXGridColor(unsigned int id, const char* name, double r, double g, double b)
{
    return vexa::forGraphs(id, name, [&](Graph& gr) { gr.xGridColor = Rgb { r, g, b }; });
}

int dozDataGraphSetYGridVisibility(unsigned int id, const char* name, int v)
{
    return vexa::forGraphs(id, name, [&](Graph& g) { g.yGridVisible = v > 0; });
}

int dozDataGraphSetYGridColor(unsigned int id, const char* name, double r, double g, double b)
{
    return vexa::forGraphs(id, name, [&](Graph& gr) { gr.yGridColor = Rgb { r, g, b }; });
}

int dozDataGraphSetData(
    unsigned int id, const char* name, int n, const double* x, const double* y, int count)
{
    return vexa::forGraphsChecked(id, name, [&](Graph& g) { return g.setData(n, x, y, count); });
}

int dozDataGraphSetDataVisibility(unsigned int id, const char* name, int n, int v)
{
    return vexa::forGraphsChecked(id, name, [&](Graph& g) { return g.setDataVisibility(n, v); });
}

int dozDataGraphSetDataWidth(unsigned int id, const char* name, int n, int width)
{
    return vexa::forGraphsChecked(id, name, [&](Graph& g) { return g.setDataWidth(n, width); });
}

int dozDataGraphSetDataColor(unsigned int id, const char* name, int n, double r, double g, double b)
{
    return vexa::forGraphsChecked(id, name, [&](Graph& gr) {
        return gr.setDataColor(n, Rgb { r, g, b });
    });
}
