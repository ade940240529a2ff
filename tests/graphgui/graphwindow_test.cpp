// The graph window draws the graphs of its datum, stretched to its size; the audio
// window draws the waveform and offers playing only where a sound output exists.
#include "views/gui/audiowindow.h"
#include "views/gui/graphwindow.h"

#include "data/datarecord.h"
#include "data/graphapi.h"
#include "data/newdata.h"
#include "data/registry.h"

#include <QApplication>
#include <QAudioDevice>
#include <QImage>
#include <QMediaDevices>
#include <QPushButton>
#include <QTest>

#include <cmath>
#include <memory>

using namespace vexa;

namespace {

QImage renderGraphs(std::uint32_t id, int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    if (!gui::paintGraphDatum(id, painter, image.size()))
        return {};
    return image;
}

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) <= 1 && std::abs(a.green() - b.green()) <= 1
        && std::abs(a.blue() - b.blue()) <= 1;
}

// Whether the column holds a pixel of that colour within two rows of row.
bool hasColourNear(const QImage& image, int x, int row, QColor colour)
{
    for (int y = std::max(0, row - 2); y <= std::min(image.height() - 1, row + 2); ++y)
        if (near(image.pixelColor(x, y), colour))
            return true;
    return false;
}

} // namespace

class GraphWindowTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { dataResetRegistry(); }

    void demoCurveIsDrawnInsideItsFrame()
    {
        DataRecord* r = newGraphCommand();
        QVERIFY(r);
        const QColor curve = QColor::fromRgbF(0, 0, 0.8f);
        for (int size : { 200, 400 }) {
            const QImage image = renderGraphs(r->imageId, size, size);
            QVERIFY(!image.isNull());
            // The frame leaves a twentieth of the window on each side, with its border.
            QCOMPARE(image.pixelColor(size / 40, size / 2), QColor(Qt::white));
            QVERIFY(near(image.pixelColor(size / 20, size / 2), QColor::fromRgbF(0.7f, 0.6f, 0)));
            // The curve y = cos(5x) passes where the graph places its points (those on
            // the frame's bottom edge are clipped away with the frame).
            int checked = 0;
            graphListFor(r->imageId)->forEach("graph", [&](Graph& g) {
                const GraphSeries& s = g.series[0];
                for (std::size_t i = 5; i < 1000; i += 10) {
                    if (s.y[i] < -0.95)
                        continue;
                    auto p = g.toScreen(g.place(s.x[i], s.y[i]));
                    QVERIFY(p);
                    QVERIFY2(hasColourNear(image, p->x, p->y, curve),
                        qPrintable(QStringLiteral("point %1 at %2,%3").arg(i).arg(p->x).arg(p->y)));
                    ++checked;
                }
            });
            QVERIFY(checked > 80);
            // Just inside the top of the frame the curve shows where cos(5x) = 1, a fifth
            // of the way across, and not at a tenth, where it is at the bottom.
            auto column = [&](double fraction) { return int(size * (0.05 + 0.9 * fraction)); };
            const int top = size / 20 + 2;
            QVERIFY(hasColourNear(image, column(0.2), top, curve));
            QVERIFY(!hasColourNear(image, column(0.1), top, curve));
        }
    }

    void settersOfPlugInsChangeTheDrawing()
    {
        DataRecord* r = newGraphCommand();
        QVERIFY(r);
        QCOMPARE(dozDataGraphSetDataColor(r->imageId, "graph", 1, 1, 0, 0), 1);
        QCOMPARE(dozDataGraphSetBackgroundVisibility(r->imageId, "graph", 0), 1);
        QCOMPARE(dozDataGraphSetXGridVisibility(r->imageId, "graph", 0), 1);
        QCOMPARE(dozDataGraphSetYGridVisibility(r->imageId, "graph", 0), 1);
        std::unique_ptr<QWidget> window(gui::makeGraphWindow(*r));
        QVERIFY(window);
        window->resize(200, 200);
        const QImage image = window->grab().toImage();
        int red = 0, blue = 0, background = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                red += c == QColor(Qt::red);
                blue += near(c, QColor::fromRgbF(0, 0, 0.8f));
                background += near(c, QColor::fromRgbF(1, 1, 0.85f));
            }
        QVERIFY(red > 180);
        QCOMPARE(blue, 0);
        QCOMPARE(background, 0);
    }

    void otherKindsGetNoGraphOrAudioWindow()
    {
        DataRecord* graph = newGraphCommand();
        DataRecord* audio = newAudioCommand();
        QVERIFY(graph && audio);
        QCOMPARE(gui::makeAudioWindow(*graph), nullptr);
        QCOMPARE(gui::makeGraphWindow(*audio), nullptr);
        QVERIFY(renderGraphs(audio->imageId, 10, 10).isNull());
    }

    void waveformColumnsHoldTheExtremesOfTheirSamples()
    {
        const std::vector<std::int16_t> ramp { 0, 9, -3, 4, 7, -8, 1, 2, 5, 6 };
        auto columns = gui::waveformColumns(ramp, 5);
        QCOMPARE(columns.size(), std::size_t(5));
        QCOMPARE(columns[1].low, std::int16_t(-3));
        QCOMPARE(columns[1].high, std::int16_t(4));
        QCOMPARE(columns[2].low, std::int16_t(-8));
        QCOMPARE(columns[2].high, std::int16_t(7));
        // More columns than samples: every column shows a sample, the last one the last.
        columns = gui::waveformColumns({ -100, 100 }, 7);
        QCOMPARE(columns.size(), std::size_t(7));
        QCOMPARE(columns[0].high, std::int16_t(-100));
        QCOMPARE(columns[6].low, std::int16_t(100));
        QVERIFY(gui::waveformColumns({}, 7).empty());
        QVERIFY(gui::waveformColumns(ramp, 0).empty());
    }

    void audioWindowDrawsTheWaveAndGreysPlayingWithoutOutput()
    {
        DataRecord* r = newAudioCommand();
        QVERIFY(r);
        auto* audio = dynamic_cast<NewAudioDatum*>(r->audio.get());
        QVERIFY(audio);
        // A positive first half and a negative second half.
        audio->samples.assign(44100, 16000);
        std::fill(audio->samples.begin() + 22050, audio->samples.end(), std::int16_t(-16000));
        std::unique_ptr<QWidget> window(gui::makeAudioWindow(*r));
        QVERIFY(window);
        auto* wave = window->findChild<gui::WaveformView*>();
        QVERIFY(wave);
        const QImage image = wave->grab().toImage();
        const QColor ink(0, 0, 160);
        // Silence is the middle row; 16000 is about half way up or down.
        const int w = image.width(), up = image.height() / 4, down = image.height() * 3 / 4;
        QVERIFY(hasColourNear(image, w / 5, up, ink));
        QVERIFY(!hasColourNear(image, w / 5, down, ink));
        QVERIFY(hasColourNear(image, w * 4 / 5, down, ink));
        QVERIFY(!hasColourNear(image, w * 4 / 5, up, ink));

        auto* play = static_cast<gui::AudioWindow*>(window.get())->playButton();
        QCOMPARE(play->text(), QStringLiteral("Lecture"));
        if (QMediaDevices::audioOutputs().isEmpty()) {
            QVERIFY(!play->isEnabled());
            QCOMPARE(play->toolTip(), QStringLiteral("Aucune sortie audio disponible"));
        } else {
            QVERIFY(play->isEnabled());
        }
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    GraphWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "graphwindow_test.moc"
