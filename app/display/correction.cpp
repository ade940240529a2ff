#include "display/correction.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vexa {

namespace {

// The "Histogramme" switch outlives the window for the rest of the run.
int s_lastHistogramOn = 0;

double centreOf(double gain, double offset)
{
    return gain != 0.0 ? (127.0 - offset) / gain : 0.0;
}

// Pixel positions of far-away values are kept in a range an int holds.
int toPixel(double x)
{
    if (std::isnan(x))
        return 0;
    return static_cast<int>(std::floor(std::clamp(x, -1.0e8, 1.0e8) + 0.5));
}

bool allFinite(double a, double b)
{
    return std::isfinite(a) && std::isfinite(b);
}

} // namespace

bool rangeCorrection(double low, double high, double& gain, double& offset)
{
    const double g = 255.0 / (high - low);
    const double o = -low * g;
    if (!(high != low) || !allFinite(g, o) || g == 0.0)
        return false;
    gain = g;
    offset = o;
    return true;
}

bool valueAtLevel(double gain, double offset, double level, double& value)
{
    if (gain == 0.0)
        return false;
    const double v = (level - offset) / gain;
    if (!std::isfinite(v))
        return false;
    value = v;
    return true;
}

const char* correctionCommandLabel(CorrectionCommand command)
{
    switch (command) {
    case CorrectionCommand::GainHalf:
        return "Gain /2";
    case CorrectionCommand::GainDouble:
        return "Gain x2";
    case CorrectionCommand::GainTenth:
        return "Gain /10";
    case CorrectionCommand::GainTen:
        return "Gain x10";
    case CorrectionCommand::SwitchCentre:
        return "";
    case CorrectionCommand::Filter:
        return "Filtre";
    case CorrectionCommand::InitialState:
    case CorrectionCommand::PanelInitialState:
        return "Etat initial";
    case CorrectionCommand::Negative:
        return "Négatif";
    case CorrectionCommand::MinMax:
        return "Min-Max";
    case CorrectionCommand::MinMaxSymmetric:
        return "Min-Max symétrique";
    case CorrectionCommand::Store:
        return "Mémorisation";
    case CorrectionCommand::Recall:
        return "Rappel";
    case CorrectionCommand::Broadcast:
        return "Diffusion";
    case CorrectionCommand::Histogram:
        return "Histogramme";
    case CorrectionCommand::PartialHistogram:
        return "Histogramme partiel";
    case CorrectionCommand::PanelPalette:
        return "Palette";
    case CorrectionCommand::PanelShrink:
        return "Rétrécissement";
    case CorrectionCommand::PanelEnlarge:
        return "Elargissement";
    case CorrectionCommand::AmplitudeDouble:
        return "Amplitude x2";
    case CorrectionCommand::AmplitudeHalf:
        return "Amplitude /2";
    }
    return "";
}

DisplayCorrection::DisplayCorrection()
{
    state_.histogramOn = s_lastHistogramOn;
}

DisplayCorrection::~DisplayCorrection()
{
    s_lastHistogramOn = state_.histogramOn;
}

void DisplayCorrection::attach(CorrectionImage* image)
{
    image_ = image;
    state_.active = image ? 1 : 0;
    refresh();
}

void DisplayCorrection::detach()
{
    image_ = nullptr;
    state_.active = 0;
}

void DisplayCorrection::applyCorrection(double gain, double second, int filter, int byCentre)
{
    state_.gain = gain;
    if (byCentre) {
        state_.centre = second;
        state_.offset = 127.0 - second * gain;
    } else {
        state_.offset = second;
        state_.centre = centreOf(gain, second);
    }
    state_.filter = filter;
    if (image_)
        image_->setCorrection(state_.gain, state_.offset, state_.filter);
    refresh();
}

void DisplayCorrection::applyOffsetForm(double gain, double offset)
{
    applyCorrection(gain, offset, state_.filter, 0);
}

void DisplayCorrection::recomputeHistogram()
{
    state_.histogram.clear();
    if (state_.histogramOn && image_) {
        state_.histogram = image_->getHistogram(
            state_.nbBins, state_.histLow, state_.histHigh, state_.partialHistogram);
        // The panel draws nbBins bars whatever the image returned.
        state_.histogram.resize(static_cast<std::size_t>(state_.nbBins), 0);
    }
    std::int64_t total = 0;
    for (std::int64_t count : state_.histogram)
        if (count > 0)
            total += count;
    state_.histTotal = total > 0 ? total : 1;
}

void DisplayCorrection::refresh()
{
    if (state_.active && image_) {
        double gain = -1.0, offset = -1.0;
        int filter = state_.filter;
        if (image_->getCorrection(gain, offset, filter)) {
            state_.gain = gain;
            state_.offset = offset;
            state_.filter = filter;
        } else {
            state_.gain = -1.0;
            state_.offset = -1.0;
        }
        state_.centre = centreOf(state_.gain, state_.offset);
    }
    if (!state_.dragging) {
        double min = 0.0, max = 0.0;
        if (image_ && !image_->getRange(state_.partialHistogram, min, max))
            min = max = 0.0;
        state_.dataMin = state_.histLow = min;
        state_.dataMax = state_.histHigh = max;
        recomputeHistogram();
    }
}

void DisplayCorrection::editFields(double gain, double second)
{
    applyCorrection(gain, second, state_.filter, state_.useCentre);
}

void DisplayCorrection::run(CorrectionCommand command)
{
    CorrectionState& s = state_;
    auto gainStep = [&](double factor) {
        s.gain *= factor;
        applyCorrection(s.gain, s.useCentre ? s.centre : s.offset, s.filter, s.useCentre);
    };
    switch (command) {
    case CorrectionCommand::GainHalf:
        gainStep(0.5);
        break;
    case CorrectionCommand::GainDouble:
        gainStep(2.0);
        break;
    case CorrectionCommand::GainTenth:
        gainStep(0.1);
        break;
    case CorrectionCommand::GainTen:
        gainStep(10.0);
        break;
    case CorrectionCommand::SwitchCentre:
        s.useCentre = 1 - s.useCentre;
        applyCorrection(s.gain, s.useCentre ? s.centre : s.offset, s.filter, s.useCentre);
        break;
    case CorrectionCommand::Filter:
        s.filter = 1 - s.filter;
        applyCorrection(s.gain, s.useCentre ? s.centre : s.offset, s.filter, s.useCentre);
        break;
    case CorrectionCommand::InitialState:
        applyOffsetForm(1.0, 0.0);
        break;
    case CorrectionCommand::Negative:
        applyOffsetForm(-s.gain, 255.0 - s.offset);
        break;
    case CorrectionCommand::MinMax: {
        double gain = 0.0, offset = 0.0;
        // A constant image, or a range too wide for a double, leaves the correction alone.
        if (rangeCorrection(s.dataMin, s.dataMax, gain, offset))
            applyOffsetForm(gain, offset);
        else
            refresh();
        break;
    }
    case CorrectionCommand::MinMaxSymmetric: {
        double gain = s.gain;
        if (s.dataMin == 0.0) {
            if (s.dataMax != 0.0)
                gain = 128.0 / s.dataMax;
        } else if (s.dataMax == 0.0) {
            gain = -127.0 / s.dataMin;
        } else {
            const double byMax = 128.0 / s.dataMax;
            const double byMin = -127.0 / s.dataMin;
            gain = std::fabs(byMin) < std::fabs(byMax) ? byMin : byMax;
        }
        applyOffsetForm(std::isfinite(gain) ? gain : s.gain, 127.0);
        break;
    }
    case CorrectionCommand::Store:
        s.storedGain = s.gain;
        s.storedOffset = s.offset;
        s.storedCentre = s.centre;
        break;
    case CorrectionCommand::Recall:
        applyCorrection(
            s.storedGain, s.useCentre ? s.storedCentre : s.storedOffset, s.filter, s.useCentre);
        break;
    case CorrectionCommand::Broadcast:
        if (image_)
            image_->broadcastCorrection(s.gain, s.offset, s.filter);
        break;
    case CorrectionCommand::Histogram:
        s.histogramOn = 1 - s.histogramOn;
        s_lastHistogramOn = s.histogramOn;
        refresh();
        break;
    case CorrectionCommand::PartialHistogram:
        s.partialHistogram = 1 - s.partialHistogram;
        refresh();
        break;
    case CorrectionCommand::PanelInitialState:
        s.amplitude = 1.0;
        refresh();
        break;
    case CorrectionCommand::PanelPalette:
        s.paletteOn = 1 - s.paletteOn;
        break;
    case CorrectionCommand::PanelShrink: {
        const double low = (3.0 * s.histLow - s.histHigh) / 2.0;
        const double high = (3.0 * s.histHigh - s.histLow) / 2.0;
        if (allFinite(low, high)) {
            s.histLow = low;
            s.histHigh = high;
        }
        recomputeHistogram();
        break;
    }
    case CorrectionCommand::PanelEnlarge: {
        const double a = s.gain != 0.0 ? -s.offset / s.gain : 0.0;
        const double b = s.gain != 0.0 ? (255.0 - s.offset) / s.gain : 255.0;
        if (allFinite(a, b)) {
            s.histLow = std::min(a, b);
            s.histHigh = std::max(a, b);
        }
        recomputeHistogram();
        break;
    }
    case CorrectionCommand::AmplitudeDouble:
        s.amplitude *= 2.0;
        recomputeHistogram();
        break;
    case CorrectionCommand::AmplitudeHalf:
        s.amplitude *= 0.5;
        recomputeHistogram();
        break;
    }
}

const char* DisplayCorrection::secondFieldLabel() const
{
    return state_.useCentre ? "Centre" : "Offset";
}

double DisplayCorrection::secondFieldValue() const
{
    return state_.useCentre ? state_.centre : state_.offset;
}

std::string DisplayCorrection::rangeText() const
{
    char low[64], high[64];
    std::snprintf(low, sizeof low, "%.9g", state_.histLow);
    std::snprintf(high, sizeof high, "%.9g", state_.histHigh);
    return std::string("[") + low + " , " + high + "]";
}

double DisplayCorrection::valueToX(double value, const PanelGeometry& panel) const
{
    const double inner = panel.width - 10.0;
    const double span = state_.histHigh - state_.histLow;
    const double origin = panel.left + 5.0;
    if (span == 0.0 || !std::isfinite(span)) {
        // A constant range: its value in the middle, the rest at the panel's sides.
        if (value < state_.histLow)
            return origin;
        if (value > state_.histLow)
            return origin + inner;
        return origin + inner / 2.0;
    }
    return origin + (value - state_.histLow) / span * inner;
}

double DisplayCorrection::xToValue(double x, const PanelGeometry& panel) const
{
    const double inner = panel.width - 10.0;
    const double span = state_.histHigh - state_.histLow;
    if (inner <= 0.0 || span == 0.0 || !std::isfinite(span))
        return state_.histLow;
    return state_.histLow + (x - panel.left - 5.0) / inner * span;
}

WindowEnds DisplayCorrection::windowEnds(const PanelGeometry& panel) const
{
    const double gain = state_.gain;
    const double a = gain != 0.0 ? -state_.offset / gain : 0.0;
    const double b = gain != 0.0 ? (255.0 - state_.offset) / gain : 255.0;
    const int xa = toPixel(valueToX(a, panel));
    const int xb = toPixel(valueToX(b, panel));
    WindowEnds ends;
    if (xa <= xb) {
        ends.leftValue = a, ends.rightValue = b, ends.leftX = xa, ends.rightX = xb;
    } else {
        ends.leftValue = b, ends.rightValue = a, ends.leftX = xb, ends.rightX = xa;
    }
    return ends;
}

std::vector<HistogramBar> DisplayCorrection::histogramBars(
    const PanelGeometry& panel, const ColourTable* palette) const
{
    std::vector<HistogramBar> bars;
    const auto& bins = state_.histogram;
    const std::size_t n = bins.size();
    if (n == 0)
        return bars;
    const WindowEnds ends = windowEnds(panel);
    const double windowLow = std::min(ends.leftValue, ends.rightValue);
    const double windowHigh = std::max(ends.leftValue, ends.rightValue);
    const double total = static_cast<double>(std::max<std::int64_t>(state_.histTotal, 1));
    bars.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        HistogramBar bar;
        const double value = n > 1
            ? state_.histLow + (state_.histHigh - state_.histLow) * double(i) / double(n - 1)
            : state_.histLow;
        bar.x = toPixel(valueToX(value, panel));
        const double h = std::floor(
            double(std::max<std::int64_t>(bins[i], 0)) * state_.amplitude * panel.height / total
            + 0.5);
        bar.height = h > 0.0 ? static_cast<int>(std::min<double>(h, std::max(panel.height, 0))) : 0;
        const double level = value * state_.gain + state_.offset;
        bar.level = std::isnan(level)
            ? 0
            : static_cast<int>(std::floor(std::clamp(level, 0.0, 255.0) + 0.5));
        bar.insideWindow = value >= windowLow && value <= windowHigh;
        if (state_.paletteOn && palette) {
            const PaletteColour& c = (*palette)[bar.level];
            bar.red = c.red, bar.green = c.green, bar.blue = c.blue;
        } else {
            const std::uint8_t grey = bar.insideWindow ? 96 : 176;
            bar.red = bar.green = bar.blue = grey;
        }
        bars.push_back(bar);
    }
    return bars;
}

bool DisplayCorrection::pressPanel(int x, const PanelGeometry& panel)
{
    state_.dragEdge = 0;
    state_.dragOffset = 0;
    if (state_.filter)
        return false;
    const WindowEnds ends = windowEnds(panel);
    if (x > ends.leftX - 5 && x < ends.leftX) {
        state_.dragEdge = 1;
        state_.dragOffset = ends.leftX - x;
    } else if (x > ends.rightX && x < ends.rightX + 5) {
        state_.dragEdge = 2;
        state_.dragOffset = ends.rightX - x;
    }
    return state_.dragEdge != 0;
}

bool DisplayCorrection::releasePanel(int x, const PanelGeometry& panel)
{
    const int edge = state_.dragEdge;
    state_.dragEdge = 0;
    if (edge == 0)
        return false;
    const WindowEnds ends = windowEnds(panel);
    const int position = x + state_.dragOffset;
    const double v = xToValue(position, panel);
    const bool rising = state_.gain > 0.0;
    double gain = 0.0, offset = 0.0;
    if (edge == 1) {
        if (position >= ends.rightX)
            return false;
        const double r = ends.rightValue;
        if (rising) {
            gain = 255.0 / (r - v);
            offset = -v * gain;
        } else {
            gain = 255.0 / (v - r);
            offset = 255.0 - v * gain;
        }
    } else {
        if (position <= ends.leftX)
            return false;
        const double l = ends.leftValue;
        if (rising) {
            gain = 255.0 / (v - l);
            offset = 255.0 - v * gain;
        } else {
            gain = 255.0 / (l - v);
            offset = -v * gain;
        }
    }
    // Ends that meet in value (a panel of zero width) would give an infinite gain.
    if (!allFinite(gain, offset))
        return false;
    state_.dragging = 1;
    applyCorrection(gain, offset, state_.filter, 0);
    state_.dragging = 0;
    return true;
}

} // namespace vexa
