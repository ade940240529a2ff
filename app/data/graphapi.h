// The graph callbacks of plug-ins, and the object of graph data.
//
// Every callback takes a datum's imageId and a graph name first. The graphs are
// those of the 2D image when the identifier is an image record's imageId, those of
// the graph datum when it is a graph record's imageId; any other identifier (a
// blockId included) does nothing and returns 0. Setters apply to every graph of that
// name and return 1 when at least one graph had it.
#pragma once

#include "data/datarecord.h"
#include "data/graph.h"

#include <vexa_export.h>

#include <cstdint>
#include <memory>

namespace vexa {

// The kind object of a graph record: the window size and its graphs.
struct GraphDatum : KindObject {
    GraphDatum(int w, int h)
        : width(w)
        , height(h)
    {
    }
    void reportSizes(int& w, int& h, int& d) const override
    {
        w = width;
        h = height;
        d = 0;
    }
    int width;
    int height;
    GraphList graphs;
};

// A graph datum's object; vexaGraphNew makes it 200 x 200.
std::unique_ptr<KindObject> makeGraphDatum(int width = 200, int height = 200);

// The graph list that an identifier designates (see above), or null. *datum is set
// to the graph datum that owns the list, or to null for an image's list.
GraphList* graphListFor(std::uint32_t id, GraphDatum** datum = nullptr);

} // namespace vexa

extern "C" {
VEXA_API int dozDataGraphNew(
    unsigned int id, const char* name, double x0, double y0, double x1, double y1);
VEXA_API int dozDataGraphDelete(unsigned int id, const char* name);
VEXA_API int dozDataGraphSetPosition(
    unsigned int id, const char* name, double x0, double y0, double x1, double y1);
VEXA_API int dozDataGraphSetOrientation(unsigned int id, const char* name, double degrees);
VEXA_API int dozDataGraphSetLinear(unsigned int id, const char* name);
VEXA_API int dozDataGraphSetPolar(unsigned int id, const char* name);
VEXA_API int dozDataGraphSetAutoRange(unsigned int id, const char* name);
VEXA_API int dozDataGraphSetXRange(unsigned int id, const char* name, double min, double max);
VEXA_API int dozDataGraphSetYRange(unsigned int id, const char* name, double min, double max);
VEXA_API int dozDataGraphSetBackgroundVisibility(unsigned int id, const char* name, int v);
VEXA_API int dozDataGraphSetBackgroundColor(
    unsigned int id, const char* name, double r, double g, double b);
VEXA_API int dozDataGraphSetBorderVisibility(unsigned int id, const char* name, int v);
VEXA_API int dozDataGraphSetBorderWidth(unsigned int id, const char* name, int width);
VEXA_API int dozDataGraphSetBorderColor(
    unsigned int id, const char* name, double r, double g, double b);
VEXA_API int dozDataGraphSetXAxisVisibility(unsigned int id, const char* name, int v);
VEXA_API int dozDataGraphSetXAxisColor(
    unsigned int id, const char* name, double r, double g, double b);
VEXA_API int dozDataGraphSetXAxisWidth(unsigned int id, const char* name, int width);
VEXA_API int dozDataGraphSetXAxisPosition(unsigned int id, const char* name, double value);
VEXA_API int dozDataGraphSetYAxisVisibility(unsigned int id, const char* name, int v);
VEXA_API int dozDataGraphSetYAxisColor(
    unsigned int id, const char* name, double r, double g, double b);
VEXA_API int dozDataGraphSetYAxisWidth(unsigned int id, const char* name, int width);
VEXA_API int dozDataGraphSetYAxisPosition(unsigned int id, const char* name, double value);
VEXA_API int dozDataGraphSetXGridVisibility(unsigned int id, const char* name, int v);
VEXA_API int dozDataGraphSetXGridColor(
    unsigned int id, const char* name, double r, double g, double b);
VEXA_API int dozDataGraphSetYGridVisibility(unsigned int id, const char* name, int v);
VEXA_API int dozDataGraphSetYGridColor(
    unsigned int id, const char* name, double r, double g, double b);
// Copies count points (x[i], y[i]) into series n (from 1).
VEXA_API int dozDataGraphSetData(
    unsigned int id, const char* name, int n, const double* x, const double* y, int count);
// Series n: line shown when v > 0, markers shown when v != 0.
VEXA_API int dozDataGraphSetDataVisibility(unsigned int id, const char* name, int n, int v);
VEXA_API int dozDataGraphSetDataWidth(unsigned int id, const char* name, int n, int width);
VEXA_API int dozDataGraphSetDataColor(
    unsigned int id, const char* name, int n, double r, double g, double b);
}
