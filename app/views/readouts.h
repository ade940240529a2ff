// Texts of an image window: the status bar readouts (sample type, cursor position in
// the section and in the volume, value under the cursor) and the lines of the
// information window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexa {

struct BlockDescriptor;

// "8BNS", "16BS", "F32", ... for a type code; empty for an unknown code.
const char* shortTypeCode(int type);

// A byte count as "%d o", "%.0f Ko" or "%.0f Mo".
std::string sizeText(std::int64_t bytes);

// Status part 1: "X=%.5d  Y=%.5d  (-%.5d,-%.5d)" with the distances to the far edges
// of an extent of width x height.
std::string cursorText(int cx, int cy, int width, int height);

// Status part 2: "x=%.5d  y=%.5d  z=%.5d".
std::string volumeText(int x, int y, int z);

// What the value readout needs of an image.
struct ReadoutSource {
    const void* samples = nullptr;
    int width = 0;
    int height = 0;
    int type = 0;
    double gain = 1;
    double offset = 0;
    bool scaleOn = false;
    int paletteFamily = 0;
    int valueClass = 0;
};

// The value at (x, y): "(%d,%d,%d,%d)" for RGBA, "%.10g (%.10g)" otherwise, or with a
// direction or orientation palette "%.10g [%.5g Deg]" / "%.10g [NEANT]". Empty when
// (x, y) lies outside the image.
std::string valueReadout(const ReadoutSource& image, int x, int y);

// What the information window shows.
struct InfoSource {
    int width = 0;
    int height = 0;
    int type = 0;
    bool hasBlock = false;
    int dimX = 0, dimY = 0, dimZ = 0;
    int blockType = 0;
    bool blockInFile = false;
    int visibleW = 0, visibleH = 0;
    double zoomX = 1, zoomY = 1;
    double imageTime = 0;
    double blockTime = 0;
};

// "[z:1]" for a zoom of at least 1, "[1:1/z]" below, both with whole parts.
std::string zoomPairText(double zoom);

// The information window, one string per row ("" for a blank row).
std::vector<std::string> infoLines(const InfoSource& info);

} // namespace vexa
