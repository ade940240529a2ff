#include "display/correction.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vexa;

namespace {

// An image that keeps its correction, with a value range and a histogram on demand.
class FakeImage : public CorrectionImage {
public:
    bool getCorrection(double& g, double& o, int& f) override
    {
        if (!hasCorrection)
            return false;
        g = gain, o = offset, f = filter;
        return true;
    }
    void setCorrection(double g, double o, int f) override
    {
        ++setCalls;
        if (!acceptsCorrection)
            return;
        gain = g, offset = o, filter = f;
    }
    void broadcastCorrection(double g, double o, int f) override
    {
        ++broadcastCalls;
        broadcast = { g, o, double(f) };
    }
    bool getRange(int partial, double& min, double& max) override
    {
        ++rangeCalls;
        lastRangePartial = partial;
        min = partial ? partialMin : fullMin;
        max = partial ? partialMax : fullMax;
        return true;
    }
    std::vector<std::int64_t> getHistogram(
        int nbBins, double low, double high, int partial) override
    {
        ++histogramCalls;
        lastBins = nbBins, lastLow = low, lastHigh = high, lastHistPartial = partial;
        if (!bins.empty())
            return bins;
        return std::vector<std::int64_t>(static_cast<std::size_t>(nbBins), 1);
    }

    double gain = 1.0, offset = 0.0;
    int filter = 0;
    bool hasCorrection = true;
    bool acceptsCorrection = true;
    double fullMin = 0.0, fullMax = 255.0, partialMin = 10.0, partialMax = 20.0;
    std::vector<std::int64_t> bins;
    int setCalls = 0, broadcastCalls = 0, rangeCalls = 0, histogramCalls = 0;
    std::array<double, 3> broadcast {};
    int lastRangePartial = -1, lastBins = 0, lastHistPartial = -1;
    double lastLow = 0.0, lastHigh = 0.0;
};

class Correction : public ::testing::Test {
protected:
    void SetUp() override
    {
        correction = std::make_unique<DisplayCorrection>();
        if (correction->state().histogramOn) // survives from another test
            correction->run(CorrectionCommand::Histogram);
    }
    void attach(double min, double max, double gain = 1.0, double offset = 0.0)
    {
        image.fullMin = min, image.fullMax = max, image.gain = gain, image.offset = offset;
        correction->attach(&image);
    }
    const CorrectionState& s() const { return correction->state(); }
    void run(CorrectionCommand c) { correction->run(c); }

    FakeImage image;
    std::unique_ptr<DisplayCorrection> correction;
};

using Cmd = CorrectionCommand;

} // namespace

TEST_F(Correction, AttachReadsTheImage)
{
    EXPECT_EQ(s().active, 0);
    attach(-5.0, 300.0, 2.0, -10.0);
    EXPECT_EQ(s().active, 1);
    EXPECT_EQ(s().gain, 2.0);
    EXPECT_EQ(s().offset, -10.0);
    EXPECT_DOUBLE_EQ(s().centre, 68.5);
    EXPECT_EQ(s().dataMin, -5.0);
    EXPECT_EQ(s().histHigh, 300.0);
    EXPECT_EQ(s().histTotal, 1);
    EXPECT_EQ(image.histogramCalls, 0); // "Histogramme" is off
    EXPECT_EQ(correction->rangeText(), "[-5 , 300]");
}

TEST_F(Correction, InitialStateThenNegative)
{
    attach(0.0, 255.0, 3.0, 17.0);
    run(Cmd::InitialState);
    EXPECT_EQ(image.gain, 1.0);
    EXPECT_EQ(image.offset, 0.0);
    run(Cmd::Negative);
    EXPECT_EQ(image.gain, -1.0);
    EXPECT_EQ(image.offset, 255.0);
    EXPECT_EQ(s().gain, -1.0);
    EXPECT_DOUBLE_EQ(s().centre, 128.0);
}

TEST_F(Correction, MinMaxSpansTheDataRange)
{
    attach(-1000.0, 3000.0);
    run(Cmd::MinMax);
    EXPECT_DOUBLE_EQ(s().gain, 0.06375);
    EXPECT_DOUBLE_EQ(s().offset, 63.75);
    EXPECT_EQ(image.gain, s().gain);
}

TEST_F(Correction, MinMaxOnAConstantImageChangesNothing)
{
    attach(42.0, 42.0, 3.0, 5.0);
    run(Cmd::MinMax);
    EXPECT_EQ(image.setCalls, 0);
    EXPECT_EQ(s().gain, 3.0);
    EXPECT_EQ(s().offset, 5.0);
}

TEST_F(Correction, SymmetricMinMaxTakesTheSmallerGain)
{
    struct Case {
        double min, max, gain;
    };
    const Case cases[] = {
        { -100.0, 50.0, 1.27 }, // 127/100 is smaller than 128/50
        { -10.0, 256.0, 0.5 }, // 128/256 is smaller than 127/10
        { 0.0, 64.0, 2.0 }, // no negative side
        { -254.0, 0.0, 0.5 }, // no positive side
        { 127.0, 128.0, 1.0 }, // a tie takes 128 / max, not -127 / min
        { -200.0, -10.0, 0.635 },
    };
    for (const Case& c : cases) {
        attach(c.min, c.max, 7.0, 3.0);
        run(Cmd::MinMaxSymmetric);
        EXPECT_DOUBLE_EQ(s().gain, c.gain) << c.min << " " << c.max;
        EXPECT_EQ(s().offset, 127.0);
    }
    attach(0.0, 0.0, 7.0, 3.0);
    run(Cmd::MinMaxSymmetric);
    EXPECT_EQ(s().gain, 7.0);
    EXPECT_EQ(s().offset, 127.0);
}

TEST_F(Correction, GainStepsKeepTheEditedValue)
{
    attach(0.0, 255.0, 1.0, 27.0); // centre 100
    run(Cmd::GainDouble); // offset mode: offset stays
    EXPECT_EQ(s().gain, 2.0);
    EXPECT_EQ(s().offset, 27.0);
    EXPECT_DOUBLE_EQ(s().centre, 50.0);

    run(Cmd::InitialState);
    correction->editFields(1.0, 100.0);
    EXPECT_EQ(s().offset, 100.0);
    run(Cmd::SwitchCentre);
    EXPECT_STREQ(correction->secondFieldLabel(), "Centre");
    EXPECT_DOUBLE_EQ(correction->secondFieldValue(), 27.0);
    correction->editFields(1.0, 100.0); // centre 100
    EXPECT_EQ(s().offset, 27.0);
    run(Cmd::GainDouble); // centre mode: centre stays
    EXPECT_EQ(s().gain, 2.0);
    EXPECT_DOUBLE_EQ(s().offset, -73.0);
    EXPECT_DOUBLE_EQ(s().centre, 100.0);
    run(Cmd::GainTen);
    EXPECT_DOUBLE_EQ(s().gain, 20.0);
    EXPECT_DOUBLE_EQ(s().centre, 100.0);
    run(Cmd::GainTenth);
    run(Cmd::GainHalf);
    EXPECT_DOUBLE_EQ(s().gain, 1.0);
    EXPECT_DOUBLE_EQ(s().offset, 27.0);
    run(Cmd::SwitchCentre);
    EXPECT_STREQ(correction->secondFieldLabel(), "Offset");
}

TEST_F(Correction, ZeroGainNeverDivides)
{
    attach(0.0, 100.0, 0.0, 40.0);
    EXPECT_EQ(s().centre, 0.0);
    const PanelGeometry panel { 0, 110, 50 };
    const WindowEnds ends = correction->windowEnds(panel);
    EXPECT_EQ(ends.leftValue, 0.0);
    EXPECT_EQ(ends.rightValue, 255.0);
    run(Cmd::PanelEnlarge);
    EXPECT_EQ(s().histLow, 0.0);
    EXPECT_EQ(s().histHigh, 255.0);
    run(Cmd::SwitchCentre);
    run(Cmd::GainDouble);
    EXPECT_EQ(s().gain, 0.0);
    EXPECT_TRUE(std::isfinite(s().offset));
}

TEST_F(Correction, FilterIsPassedThrough)
{
    attach(0.0, 255.0, 2.0, 1.0);
    run(Cmd::Filter);
    EXPECT_EQ(image.filter, 1);
    EXPECT_EQ(s().filter, 1);
    EXPECT_EQ(image.gain, 2.0);
    run(Cmd::GainDouble);
    EXPECT_EQ(image.filter, 1);
    run(Cmd::Filter);
    EXPECT_EQ(image.filter, 0);
}

TEST_F(Correction, StoreAndRecallFollowTheMode)
{
    attach(0.0, 255.0, 2.0, 7.0); // centre 60
    run(Cmd::Store);
    run(Cmd::InitialState);
    run(Cmd::Recall);
    EXPECT_EQ(image.gain, 2.0);
    EXPECT_EQ(image.offset, 7.0);

    run(Cmd::InitialState);
    run(Cmd::SwitchCentre);
    run(Cmd::Recall); // the stored centre, with the stored gain
    EXPECT_EQ(image.gain, 2.0);
    EXPECT_DOUBLE_EQ(image.offset, 7.0);
    EXPECT_DOUBLE_EQ(s().centre, 60.0);
}

TEST_F(Correction, BroadcastHandsTheCorrectionOn)
{
    attach(0.0, 255.0, 4.0, -3.0);
    run(Cmd::Filter);
    run(Cmd::Broadcast);
    EXPECT_EQ(image.broadcastCalls, 1);
    EXPECT_EQ(image.broadcast[0], 4.0);
    EXPECT_EQ(image.broadcast[1], -3.0);
    EXPECT_EQ(image.broadcast[2], 1.0);
}

TEST_F(Correction, ImageWithoutCorrectionReadsMinusOne)
{
    image.hasCorrection = false;
    attach(0.0, 255.0);
    EXPECT_EQ(s().gain, -1.0);
    EXPECT_EQ(s().offset, -1.0);
    EXPECT_DOUBLE_EQ(s().centre, -128.0);
}

TEST_F(Correction, ImageThatTakesNoCorrectionOnlyRefreshes)
{
    image.acceptsCorrection = false;
    attach(-1000.0, 3000.0, 3.0, 9.0);
    run(Cmd::MinMax);
    run(Cmd::GainTen);
    EXPECT_EQ(s().gain, 3.0);
    EXPECT_EQ(s().offset, 9.0);
}

TEST_F(Correction, DetachedWindowKeepsItsOwnValues)
{
    correction->applyCorrection(2.0, 100.0, 0, 1);
    EXPECT_EQ(s().gain, 2.0);
    EXPECT_EQ(s().offset, -73.0);
    EXPECT_EQ(s().active, 0);
    attach(0.0, 10.0);
    correction->detach();
    run(Cmd::GainDouble);
    EXPECT_EQ(image.gain, 1.0);
}

TEST_F(Correction, HistogramSwitchesAndRanges)
{
    image.bins.assign(256, 0);
    image.bins[3] = 10;
    image.bins[4] = 30;
    attach(-50.0, 50.0);
    run(Cmd::Histogram);
    EXPECT_EQ(s().histogramOn, 1);
    EXPECT_EQ(image.lastBins, 256);
    EXPECT_EQ(image.lastLow, -50.0);
    EXPECT_EQ(image.lastHigh, 50.0);
    EXPECT_EQ(s().histTotal, 40);

    run(Cmd::PartialHistogram);
    EXPECT_EQ(image.lastRangePartial, 1);
    EXPECT_EQ(image.lastHistPartial, 1);
    EXPECT_EQ(s().histLow, 10.0);
    EXPECT_EQ(s().dataMax, 20.0);
    run(Cmd::PartialHistogram);

    // The switch outlives the window for the rest of the run.
    correction.reset();
    correction = std::make_unique<DisplayCorrection>();
    EXPECT_EQ(s().histogramOn, 1);
    run(Cmd::Histogram);
    EXPECT_EQ(s().histogramOn, 0);
    EXPECT_TRUE(s().histogram.empty());
}

TEST_F(Correction, HistogramOfAnotherSizeIsFitted)
{
    image.bins = { 5, 5, 5 };
    attach(0.0, 1.0);
    run(Cmd::Histogram);
    EXPECT_EQ(s().histogram.size(), 256u);
    EXPECT_EQ(s().histTotal, 15);
    image.bins.assign(1000, 2);
    run(Cmd::PartialHistogram);
    EXPECT_EQ(s().histogram.size(), 256u);
    EXPECT_EQ(s().histTotal, 512);
}

TEST_F(Correction, PanelRangeCommands)
{
    attach(0.0, 100.0, 2.0, -20.0);
    run(Cmd::Histogram);
    run(Cmd::PanelShrink);
    EXPECT_EQ(s().histLow, -50.0);
    EXPECT_EQ(s().histHigh, 150.0);
    EXPECT_EQ(image.lastLow, -50.0); // recomputed over the new range
    EXPECT_EQ(correction->rangeText(), "[-50 , 150]");

    run(Cmd::PanelEnlarge); // the displayed window: values 10 and 137.5
    EXPECT_EQ(s().histLow, 10.0);
    EXPECT_EQ(s().histHigh, 137.5);
    EXPECT_EQ(image.lastHigh, 137.5);

    run(Cmd::AmplitudeDouble);
    run(Cmd::AmplitudeDouble);
    run(Cmd::AmplitudeHalf);
    EXPECT_EQ(s().amplitude, 2.0);
    EXPECT_EQ(s().histLow, 10.0);

    run(Cmd::PanelInitialState); // back to the image range
    EXPECT_EQ(s().amplitude, 1.0);
    EXPECT_EQ(s().histLow, 0.0);
    EXPECT_EQ(s().histHigh, 100.0);

    run(Cmd::PanelShrink);
    run(Cmd::GainDouble); // any correction change refreshes the panel range too
    EXPECT_EQ(s().histHigh, 100.0);

    run(Cmd::PanelPalette);
    EXPECT_EQ(s().paletteOn, 0);
    run(Cmd::Histogram);
}

TEST_F(Correction, RangeTextUsesNineSignificantDigits)
{
    attach(1.0 / 3.0, 123456789012.0);
    EXPECT_EQ(correction->rangeText(), "[0.333333333 , 1.23456789e+11]");
}

TEST_F(Correction, BarsScaleColourAndLevel)
{
    image.bins = { 0, 10, 20, 40, 200 };
    image.bins.resize(256, 0);
    attach(0.0, 255.0, 1.0, 0.0);
    run(Cmd::Histogram);
    ASSERT_EQ(s().histTotal, 270);
    const PanelGeometry panel { 10, 266, 100 };
    ColourTable palette;
    for (int i = 0; i < 256; ++i)
        palette[i] = PaletteColour { std::uint8_t(255 - i), 0, std::uint8_t(i), 0 };
    auto bars = correction->histogramBars(panel, &palette);
    ASSERT_EQ(bars.size(), 256u);
    // floor(count x 1.0 x 100 / 270 + 0.5)
    EXPECT_EQ(bars[1].height, 4);
    EXPECT_EQ(bars[3].height, 15);
    EXPECT_EQ(bars[4].height, 74);
    EXPECT_EQ(bars[4].x, 10 + 5 + 4);
    EXPECT_EQ(bars[4].level, 4);
    EXPECT_EQ(bars[4].red, 4);
    EXPECT_EQ(bars[4].blue, 251);
    run(Cmd::AmplitudeDouble);
    run(Cmd::AmplitudeDouble);
    bars = correction->histogramBars(panel, &palette);
    EXPECT_EQ(bars[3].height, 59);
    EXPECT_EQ(bars[4].height, 100); // cut at the panel top

    // Without the palette: grey, lighter outside the displayed window [0, 127.5].
    correction->applyCorrection(2.0, 0.0, 0, 0);
    run(Cmd::PanelPalette);
    bars = correction->histogramBars(panel, &palette);
    EXPECT_TRUE(bars[100].insideWindow);
    EXPECT_FALSE(bars[200].insideWindow);
    EXPECT_EQ(bars[200].level, 255);
    EXPECT_GT(bars[200].red, bars[100].red);
    EXPECT_EQ(bars[100].red, bars[100].blue);
    EXPECT_TRUE(correction->histogramBars(panel, nullptr).size() == 256);
    run(Cmd::Histogram);
}

namespace {

// Panel [0, 256] over 256 inner pixels: x = 5 + value.
struct DragFixture : Correction {
    const PanelGeometry panel { 0, 266, 60 };
    void SetUp() override
    {
        Correction::SetUp();
        image.fullMin = 0.0, image.fullMax = 256.0;
    }
};

} // namespace

TEST_F(DragFixture, LeftEndWithPositiveGainKeepsTheRightValue)
{
    attach(0.0, 256.0, 1.0, 0.0); // ends at x 5 and 260
    EXPECT_FALSE(correction->pressPanel(5, panel)); // on the line: not strictly outside
    EXPECT_FALSE(correction->pressPanel(100, panel));
    EXPECT_FALSE(correction->pressPanel(0, panel));
    ASSERT_TRUE(correction->pressPanel(2, panel));
    EXPECT_EQ(s().dragEdge, 1);
    EXPECT_EQ(s().dragOffset, 3);
    ASSERT_TRUE(correction->releasePanel(27, panel)); // end moved to x 30: value 25
    EXPECT_DOUBLE_EQ(image.gain, 255.0 / 230.0);
    EXPECT_DOUBLE_EQ(25.0 * image.gain + image.offset, 0.0);
    EXPECT_NEAR(255.0 * image.gain + image.offset, 255.0, 1e-9);
    EXPECT_EQ(s().dragEdge, 0);
    EXPECT_EQ(s().dragging, 0);
}

TEST_F(DragFixture, RightEndWithPositiveGainKeepsTheLeftValue)
{
    attach(0.0, 256.0, 1.0, 0.0);
    ASSERT_TRUE(correction->pressPanel(262, panel));
    EXPECT_EQ(s().dragOffset, -2);
    ASSERT_TRUE(correction->releasePanel(132, panel)); // x 130: value 125
    EXPECT_DOUBLE_EQ(image.gain, 2.04);
    EXPECT_NEAR(image.offset, 0.0, 1e-12);
}

TEST_F(DragFixture, NegativeGainEndsSwapTheirLevels)
{
    attach(0.0, 256.0, -1.0, 255.0); // value 0 at level 255 on the left, 255 at level 0
    ASSERT_TRUE(correction->pressPanel(2, panel));
    ASSERT_TRUE(correction->releasePanel(27, panel)); // left end to 25, right stays 255
    EXPECT_DOUBLE_EQ(image.gain, 255.0 / (25.0 - 255.0));
    EXPECT_NEAR(25.0 * image.gain + image.offset, 255.0, 1e-9);
    EXPECT_NEAR(255.0 * image.gain + image.offset, 0.0, 1e-9);

    attach(0.0, 256.0, -1.0, 255.0);
    ASSERT_TRUE(correction->pressPanel(262, panel));
    ASSERT_TRUE(correction->releasePanel(207, panel)); // right end to 200, left stays 0
    EXPECT_DOUBLE_EQ(image.gain, -1.275);
    EXPECT_DOUBLE_EQ(image.offset, 255.0);
}

TEST_F(DragFixture, ZeroGainDragsLikeANegativeOne)
{
    attach(0.0, 256.0, 0.0, 100.0); // ends shown at 0 and 255
    ASSERT_TRUE(correction->pressPanel(262, panel));
    ASSERT_TRUE(correction->releasePanel(112, panel)); // x 110: value 105, left end 0 kept
    EXPECT_DOUBLE_EQ(image.gain, 255.0 / -105.0);
    EXPECT_NEAR(image.offset, 255.0, 1e-12);
}

TEST_F(DragFixture, DragKeepsThePanelRange)
{
    attach(0.0, 256.0, 1.0, 0.0);
    run(Cmd::Histogram);
    run(Cmd::PanelShrink); // [-128, 384] on 256 pixels: x = 5 + (v + 128) / 2
    const int ranges = image.rangeCalls;
    const int histograms = image.histogramCalls;
    const WindowEnds ends = correction->windowEnds(panel);
    EXPECT_EQ(ends.leftX, 69);
    EXPECT_EQ(ends.rightX, 197);
    ASSERT_TRUE(correction->pressPanel(199, panel));
    ASSERT_TRUE(correction->releasePanel(131, panel)); // x 129: value 120
    EXPECT_DOUBLE_EQ(image.gain, 255.0 / 120.0);
    EXPECT_EQ(s().gain, image.gain);
    EXPECT_EQ(s().histLow, -128.0);
    EXPECT_EQ(image.rangeCalls, ranges);
    EXPECT_EQ(image.histogramCalls, histograms);
    run(Cmd::Histogram);
}

TEST_F(DragFixture, NoDragWithFilterOrPastTheOtherEnd)
{
    attach(0.0, 256.0, 1.0, 0.0);
    run(Cmd::Filter);
    EXPECT_FALSE(correction->pressPanel(2, panel));
    EXPECT_FALSE(correction->releasePanel(30, panel));
    run(Cmd::Filter);
    const int calls = image.setCalls;
    ASSERT_TRUE(correction->pressPanel(2, panel));
    EXPECT_FALSE(correction->releasePanel(261, panel)); // beyond the right end
    ASSERT_TRUE(correction->pressPanel(262, panel));
    EXPECT_FALSE(correction->releasePanel(3, panel));
    EXPECT_EQ(image.setCalls, calls);
    EXPECT_FALSE(correction->releasePanel(100, panel)); // nothing grabbed
}

TEST_F(DragFixture, ConstantImageHasNoInfiniteGain)
{
    attach(7.0, 7.0, 1.0, 0.0);
    const WindowEnds ends = correction->windowEnds(panel);
    EXPECT_LE(ends.leftX, ends.rightX);
    if (correction->pressPanel(ends.rightX + 2, panel))
        correction->releasePanel(ends.rightX - 40, panel);
    EXPECT_TRUE(std::isfinite(image.gain));
    EXPECT_TRUE(std::isfinite(image.offset));
}
