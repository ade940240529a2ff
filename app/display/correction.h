// Display correction: the state and commands of the "Correction" tool window, without
// any widget. Sample values map to display levels as level = gain x value + offset,
// limited to 0..255. The window edits gain and offset of the image it is attached to,
// shows the image's histogram, and lets the user drag the two ends of the displayed
// value window on it.
#pragma once

#include "display/palette.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vexa {

// What the image side provides to the correction window. The image window implements
// it when it attaches the correction window to itself.
class CorrectionImage {
public:
    virtual ~CorrectionImage() = default;
    // The image's gain, offset and filter flag; false when it has none.
    virtual bool getCorrection(double& gain, double& offset, int& filter) = 0;
    // Takes a new correction and redisplays the image. An image that cannot take one
    // ignores it: the window then shows the image's values again on its refresh.
    virtual void setCorrection(double gain, double offset, int filter) = 0;
    // "Diffusion": gives the correction to the other views of the same data.
    virtual void broadcastCorrection(double gain, double offset, int filter) = 0;
    // Value range of the image, or of its displayed part when partial is 1.
    virtual bool getRange(int partial, double& min, double& max) = 0;
    // nbBins counts over [low, high] (of the displayed part when partial is 1).
    virtual std::vector<std::int64_t> getHistogram(int nbBins, double low, double high, int partial)
        = 0;
};

struct CorrectionState {
    int active = 0; // 1 once attached to an image
    double gain = 0.0;
    double offset = 0.0;
    double centre = 0.0; // value shown at level 127
    int useCentre = 0; // 1: the second field edits the centre, 0: the offset
    int filter = 0; // "Filtre", passed through to the image
    double storedGain = 0.0; // "Mémorisation" slot
    double storedOffset = 0.0;
    double storedCentre = 0.0;
    double dataMin = 0.0; // value range of the image
    double dataMax = 0.0;
    double histLow = 0.0; // value range covered by the histogram panel
    double histHigh = 0.0;
    int histogramOn = 0;
    int nbBins = 256;
    std::vector<std::int64_t> histogram; // empty when there is none
    std::int64_t histTotal = 0; // sum of the bins, 1 when it is 0
    int partialHistogram = 0;
    double amplitude = 1.0;
    int paletteOn = 1;
    int dragEdge = 0; // 0 none, 1 left end, 2 right end
    int dragOffset = 0; // pixels between the grab point and the dragged end
    int dragging = 0; // set while a drag result is applied: the panel keeps its range
};

enum class CorrectionCommand {
    GainHalf, // "Gain /2"
    GainDouble, // "Gain x2"
    GainTenth, // "Gain /10"
    GainTen, // "Gain x10"
    SwitchCentre, // switch beside the second field
    Filter, // "Filtre"
    InitialState, // "Etat initial"
    Negative, // "Négatif"
    MinMax, // "Min-Max"
    MinMaxSymmetric, // "Min-Max symétrique"
    Store, // "Mémorisation"
    Recall, // "Rappel"
    Broadcast, // "Diffusion"
    Histogram, // "Histogramme"
    PartialHistogram, // "Histogramme partiel"
    PanelInitialState, // histogram panel "Etat initial"
    PanelPalette, // "Palette"
    PanelShrink, // "Rétrécissement": the panel range doubles about its middle
    PanelEnlarge, // "Elargissement": the panel range becomes the displayed window
    AmplitudeDouble, // "Amplitude x2"
    AmplitudeHalf // "Amplitude /2"
};

// The "Min-Max" mapping of [low, high] onto the levels 0..255: gain = 255 / (high - low),
// offset = -low x gain (a reversed range gives a negative gain). False, outputs
// untouched, for an empty range or one too wide for a double.
bool rangeCorrection(double low, double high, double& gain, double& offset);

// The value shown at a display level: (level - offset) / gain. False when gain is 0 or
// the value is not finite.
bool valueAtLevel(double gain, double offset, double level, double& value);

// The button label of a command (the switch has none: see secondFieldLabel).
const char* correctionCommandLabel(CorrectionCommand command);

// Where the histogram panel is, in window pixels.
struct PanelGeometry {
    int left = 0;
    int width = 0;
    int height = 0;
};

// The two ends of the displayed value window on the panel; leftX <= rightX.
struct WindowEnds {
    double leftValue = 0.0;
    double rightValue = 0.0;
    int leftX = 0;
    int rightX = 0;
};

struct HistogramBar {
    int x = 0;
    int height = 0; // pixels, at most the panel height
    int level = 0; // display level of the bin's value
    bool insideWindow = false;
    std::uint8_t red = 0, green = 0, blue = 0;
};

class DisplayCorrection {
public:
    // histogramOn starts as it was last left in this run.
    DisplayCorrection();
    ~DisplayCorrection();
    DisplayCorrection(const DisplayCorrection&) = delete;
    DisplayCorrection& operator=(const DisplayCorrection&) = delete;

    const CorrectionState& state() const { return state_; }

    // Attaches the window to an image (null detaches) and refreshes.
    void attach(CorrectionImage* image);
    void detach();

    // Stores gain and the second value (the centre when byCentre, else the offset),
    // hands the correction to the image and refreshes.
    void applyCorrection(double gain, double second, int filter, int byCentre);

    // Reads the correction back from the image, and unless a drag result is being
    // applied, the image's range and histogram.
    void refresh();

    void run(CorrectionCommand command);

    // The user typed a gain and a second value.
    void editFields(double gain, double second);

    // The second edit field: "Centre" or "Offset", and the value it shows.
    const char* secondFieldLabel() const;
    double secondFieldValue() const;
    // The panel range as "[%s , %s]", each with 9 significant digits.
    std::string rangeText() const;

    // Panel geometry: x = left + 5 + (v - histLow) / (histHigh - histLow) x (width - 10).
    double valueToX(double value, const PanelGeometry& panel) const;
    double xToValue(double x, const PanelGeometry& panel) const;
    // Window ends: the values at levels 0 and 255 (0 and 255 when gain is 0).
    WindowEnds windowEnds(const PanelGeometry& panel) const;
    // One bar per bin. Bars take the palette colour of their level when the "Palette"
    // switch is on and palette is given, else grey, lighter outside the window.
    std::vector<HistogramBar> histogramBars(
        const PanelGeometry& panel, const ColourTable* palette) const;

    // Mouse press on the panel: grabs a window end when x is within the 5 pixels outside
    // it. Returns true when an end was grabbed. Nothing is grabbed while "Filtre" is set.
    bool pressPanel(int x, const PanelGeometry& panel);
    // Mouse release: moves the grabbed end to x (plus the grab offset), keeping the other
    // end's value, and applies the result. Returns true when a correction was applied.
    bool releasePanel(int x, const PanelGeometry& panel);

private:
    void recomputeHistogram();
    void applyOffsetForm(double gain, double offset);

    CorrectionState state_;
    CorrectionImage* image_ = nullptr;
};

} // namespace vexa
