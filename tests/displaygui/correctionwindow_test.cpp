// The "Correction" window on image records made through the data registry: its
// commands change the display gain and offset the image window draws with.
#include "display/gui/correctionwindow.h"

#include "data/block.h"
#include "data/registry.h"
#include "display/palettelist.h"
#include "views/imageview.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

using namespace vexa;
using vexa::gui::CorrectionWindow;

namespace {

// A plain image whose samples are values[i], stored as type.
template <typename T> DataRecord* createImage(int w, int h, int type, const std::vector<T>& values)
{
    auto object = std::make_unique<ImageObject>();
    ImageDescriptor& image = *object->image;
    image.width = w;
    image.height = h;
    image.typeData = type;
    image.samples.allocate(values.size() * sizeof(T));
    std::memcpy(image.samples.data(), values.data(), values.size() * sizeof(T));
    return dataCreate(DATA_IMAGE, std::move(object), nullptr, kFreshId, kFreshId);
}

DataRecord* createRamp(int w, int h)
{
    std::vector<std::uint8_t> v(std::size_t(w) * std::size_t(h));
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = std::uint8_t(i % 256);
    return createImage(w, h, TYPEDATA_U8, v);
}

double gainOf(const DataRecord& r)
{
    return displaySettings(r).gain;
}
double offsetOf(const DataRecord& r)
{
    return displaySettings(r).offset;
}

CorrectionWindow* open(DataRecord& record)
{
    gui::openCorrectionWindow(record, nullptr);
    return gui::correctionWindow();
}

void trigger(CorrectionWindow* window, CorrectionCommand command)
{
    QAction* action = window->action(command);
    QVERIFY(action);
    action->trigger();
}

} // namespace

class CorrectionWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { buildPaletteList("/nonexistent-program-dir"); }
    void cleanupTestCase() { releasePaletteList(); }
    void cleanup()
    {
        delete gui::correctionWindow();
        dataResetRegistry();
    }

    void showsTheImageCorrectionAndRange()
    {
        DataRecord* record = createRamp(16, 16);
        record->image2d()->valueGain = 2;
        record->image2d()->valueOffset = 3;
        CorrectionWindow* w = open(*record);
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("Correction"));
        QCOMPARE(w->gainField()->text(), QStringLiteral("2"));
        QCOMPARE(w->secondLabel()->text(), QStringLiteral("Offset"));
        QCOMPARE(w->secondField()->text(), QStringLiteral("3"));
        QCOMPARE(w->rangeLabel()->text(), QStringLiteral("[0 , 255]"));
        QCOMPARE(w->action(CorrectionCommand::Negative)->text(), QString::fromUtf8("Négatif"));
        QCOMPARE(w->action(CorrectionCommand::MinMaxSymmetric)->text(),
            QString::fromUtf8("Min-Max symétrique"));
        QCOMPARE(
            w->action(CorrectionCommand::PanelShrink)->text(), QString::fromUtf8("Rétrécissement"));
    }

    void negativeFlipsTheGainAndInitialStateRestores()
    {
        DataRecord* record = createRamp(8, 8);
        CorrectionWindow* w = open(*record);
        trigger(w, CorrectionCommand::InitialState);
        QCOMPARE(gainOf(*record), 1.0);
        QCOMPARE(offsetOf(*record), 0.0);
        trigger(w, CorrectionCommand::Negative);
        QCOMPARE(gainOf(*record), -1.0);
        QCOMPARE(offsetOf(*record), 255.0);
        QCOMPARE(w->gainField()->text(), QStringLiteral("-1"));
        trigger(w, CorrectionCommand::GainDouble);
        QCOMPARE(gainOf(*record), -2.0);
        trigger(w, CorrectionCommand::InitialState);
        QCOMPARE(gainOf(*record), 1.0);
        QCOMPARE(offsetOf(*record), 0.0);
    }

    void minMaxFitsTheImageRangeToTheLevels()
    {
        DataRecord* record
            = createImage<std::int16_t>(2, 2, TYPEDATA_S16, { -1000, 0, 1000, 3000 });
        CorrectionWindow* w = open(*record);
        trigger(w, CorrectionCommand::MinMax);
        QVERIFY(std::fabs(gainOf(*record) - 0.06375) < 1e-12);
        QVERIFY(std::fabs(offsetOf(*record) - 63.75) < 1e-9);
        trigger(w, CorrectionCommand::MinMaxSymmetric);
        QVERIFY(std::fabs(gainOf(*record) - 128.0 / 3000.0) < 1e-12);
        QCOMPARE(offsetOf(*record), 127.0);
    }

    void blockImageCorrectionGoesToTheBlock()
    {
        auto object = std::make_unique<ImageObject>();
        auto block = std::make_unique<BlockDescriptor>();
        block->dimX = 4, block->dimY = 3, block->dimZ = 2;
        block->samples.allocate(24);
        for (int i = 0; i < 24; ++i)
            block->samples.bytes()[i] = std::uint8_t(10 * i);
        object->block = std::move(block);
        object->image->samples.reset();
        DataRecord* record = dataCreate(DATA_IMAGE, std::move(object), nullptr, kFreshId, kFreshId);
        QVERIFY(loadSection(*record, 0, 1));
        CorrectionWindow* w = open(*record);
        // The shown FRONT section z = 1 holds 120 ... 230.
        QCOMPARE(w->rangeLabel()->text(), QStringLiteral("[120 , 230]"));
        trigger(w, CorrectionCommand::MinMax);
        QVERIFY(std::fabs(record->block()->valueGain - 255.0 / 110.0) < 1e-12);
        QVERIFY(std::fabs(gainOf(*record) - 255.0 / 110.0) < 1e-12);
    }

    void typedFieldsAndTheCentreSwitch()
    {
        DataRecord* record = createRamp(8, 8);
        CorrectionWindow* w = open(*record);
        w->gainField()->setText(QStringLiteral("1"));
        w->secondField()->setText(QStringLiteral("27"));
        emit w->secondField()->editingFinished();
        QCOMPARE(gainOf(*record), 1.0);
        QCOMPARE(offsetOf(*record), 27.0);
        // Centre mode: the second field shows (127 - 27) / 1 and "Gain x2" keeps it.
        trigger(w, CorrectionCommand::SwitchCentre);
        QCOMPARE(w->secondLabel()->text(), QStringLiteral("Centre"));
        QCOMPARE(w->secondField()->text(), QStringLiteral("100"));
        trigger(w, CorrectionCommand::GainDouble);
        QCOMPARE(gainOf(*record), 2.0);
        QCOMPARE(offsetOf(*record), -73.0);
        // A typed value that is not a number changes nothing and is replaced.
        w->gainField()->setText(QStringLiteral("abc"));
        emit w->gainField()->editingFinished();
        QCOMPARE(gainOf(*record), 2.0);
        QCOMPARE(w->gainField()->text(), QStringLiteral("2"));
    }

    void storeAndRecall()
    {
        DataRecord* record = createRamp(8, 8);
        CorrectionWindow* w = open(*record);
        trigger(w, CorrectionCommand::Negative);
        trigger(w, CorrectionCommand::Store);
        trigger(w, CorrectionCommand::InitialState);
        QCOMPARE(gainOf(*record), 1.0);
        trigger(w, CorrectionCommand::Recall);
        QCOMPARE(gainOf(*record), -1.0);
        QCOMPARE(offsetOf(*record), 255.0);
    }

    void broadcastReachesTheOtherViewsOfTheGroupOnly()
    {
        DataRecord* a = createRamp(8, 8);
        DataRecord* b = createRamp(8, 8);
        DataRecord* stranger = createRamp(8, 8);
        b->viewGroup = a->viewGroup;
        CorrectionWindow* w = open(*a);
        trigger(w, CorrectionCommand::Negative);
        QCOMPARE(gainOf(*b), 1.0);
        trigger(w, CorrectionCommand::Broadcast);
        QCOMPARE(gainOf(*b), -1.0);
        QCOMPARE(offsetOf(*b), 255.0);
        QCOMPARE(gainOf(*stranger), 1.0);
    }

    void filterIsKeptAndBlocksDragging()
    {
        DataRecord* record = createRamp(16, 16);
        CorrectionWindow* w = open(*record);
        trigger(w, CorrectionCommand::Filter);
        QVERIFY(w->action(CorrectionCommand::Filter)->isChecked());
        QCOMPARE(w->correction().state().filter, 1);
        w->resize(400, 400);
        const auto g = w->panel()->geometryOfPanel();
        const WindowEnds ends = w->correction().windowEnds(g);
        QTest::mousePress(w->panel(), Qt::LeftButton, {}, QPoint(ends.rightX + 2, 10));
        QCOMPARE(w->correction().state().dragEdge, 0);
    }

    void draggingTheRightEndNarrowsTheWindow()
    {
        DataRecord* record = createRamp(16, 16);
        CorrectionWindow* w = open(*record);
        w->resize(400, 400);
        QTest::qWait(0);
        const auto g = w->panel()->geometryOfPanel();
        QVERIFY(g.width > 100);
        WindowEnds ends = w->correction().windowEnds(g);
        QCOMPARE(ends.leftValue, 0.0);
        QCOMPARE(ends.rightValue, 255.0);
        const int target = int(w->correction().valueToX(127.5, g));
        QTest::mousePress(w->panel(), Qt::LeftButton, {}, QPoint(ends.rightX + 2, 10));
        QCOMPARE(w->correction().state().dragEdge, 2);
        QTest::mouseRelease(w->panel(), Qt::LeftButton, {}, QPoint(target - 2, 10));
        // The left end stays at 0, the right one lands near 127.5: the gain about doubles.
        const double gain = gainOf(*record);
        QVERIFY2(gain > 1.8 && gain < 2.2, qPrintable(QString::number(gain)));
        QVERIFY(std::fabs(offsetOf(*record)) < 1e-9);
        QCOMPARE(w->gainField()->text(), QString::number(gain, 'g', 9));
        // The panel keeps the image range after a drag.
        QCOMPARE(w->rangeLabel()->text(), QStringLiteral("[0 , 255]"));
    }

    void histogramBarsTakeThePaletteColours()
    {
        DataRecord* record = createRamp(16, 16);
        record->image2d()->palette = PaletteRef { kFamilySlope, 7 }; // "France"
        CorrectionWindow* w = open(*record);
        if (!w->correction().state().histogramOn)
            trigger(w, CorrectionCommand::Histogram);
        const CorrectionState& s = w->correction().state();
        QCOMPARE(int(s.histogram.size()), 256);
        QCOMPARE(s.histTotal, std::int64_t(256));
        QCOMPARE(s.histogram[0], std::int64_t(1));
        w->resize(400, 400);
        const auto bars
            = w->correction().histogramBars(w->panel()->geometryOfPanel(), w->palette());
        QCOMPARE(bars.front().blue, std::uint8_t(255));
        QCOMPARE(bars.front().red, std::uint8_t(0));
        QCOMPARE(bars.back().red, std::uint8_t(255));
        QCOMPARE(bars.back().blue, std::uint8_t(0));
        QVERIFY(!w->panel()->grab().isNull());
        // Leave the switch as the other tests expect it.
        trigger(w, CorrectionCommand::Histogram);
    }

    void aClosedImageLeavesTheWindowHarmless()
    {
        DataRecord* record = createRamp(8, 8);
        CorrectionWindow* w = open(*record);
        dataDelete(record);
        trigger(w, CorrectionCommand::Negative);
        trigger(w, CorrectionCommand::MinMax);
        trigger(w, CorrectionCommand::Broadcast);
        w->refresh();
        QCOMPARE(w->gainField()->text(), QStringLiteral("-1"));
    }

    void reopeningKeepsOneWindowAndFollowsTheImage()
    {
        DataRecord* a = createRamp(8, 8);
        DataRecord* b = createImage<float>(2, 1, TYPEDATA_F32, { -2.5f, 4.0f });
        CorrectionWindow* w = open(*a);
        QCOMPARE(open(*b), w);
        QCOMPARE(w->rangeLabel()->text(), QStringLiteral("[-2.5 , 4]"));
        gui::followCorrectionWindow(*a);
        QCOMPARE(w->rangeLabel()->text(), QStringLiteral("[0 , 63]"));
    }

    void partRangeAndHistogramOfSamples()
    {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const std::vector<float> f { 1.0f, nan, 3.0f, -2.0f, 8.0f, 5.0f };
        ImagePart part { f.data(), f.size() * sizeof(float), TYPEDATA_F32, 3, 2, 0, 0, 3, 2 };
        double lo = 0, hi = 0;
        QVERIFY(partRange(part, lo, hi));
        QCOMPARE(lo, -2.0);
        QCOMPARE(hi, 8.0);
        // Bins over [0, 8] in 5 stand for 0, 2, 4, 6, 8: 1, 3 and 5 lie half-way and go
        // up; -2 falls outside and NaN is skipped.
        const auto bins = partHistogram(part, 5, 0.0, 8.0);
        QCOMPARE(bins, (std::vector<std::int64_t> { 0, 1, 1, 1, 1 }));
        // The part is limited to the image: only the last column (3, 5).
        part.x0 = 2, part.w = 10;
        QVERIFY(partRange(part, lo, hi));
        QCOMPARE(lo, 3.0);
        QCOMPARE(hi, 5.0);
        // Samples shorter than the image are refused, as are absurd bin counts.
        part.bytes = 5 * sizeof(float);
        QVERIFY(!partRange(part, lo, hi));
        QVERIFY(partHistogram(part, 5, 0, 1).empty());
        part.bytes = f.size() * sizeof(float);
        QVERIFY(partHistogram(part, 0, 0, 1).empty());
        QVERIFY(partHistogram(part, kMaxHistogramBins + 1, 0, 1).empty());
        // RGBA pixels count as the mean of red, green and blue.
        const std::uint8_t rgba[] = { 30, 60, 90, 255 };
        ImagePart colour { rgba, 4, TYPEDATA_RGBA, 1, 1, 0, 0, 1, 1 };
        QVERIFY(partRange(colour, lo, hi));
        QCOMPARE(lo, 60.0);
    }
};

int runCorrectionWindowTests(int argc, char** argv)
{
    CorrectionWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "correctionwindow_test.moc"
