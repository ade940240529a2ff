// The core's start and stop without any window: what start wires is in place (host,
// configuration, palettes and their tables, log and timer delivery, the main context,
// the configured library and its menus) and stop releases it, twice in a row.
#include "main/corestart.h"

#include "config/config.h"
#include "data/registry.h"
#include "data/section.h"
#include "display/palettelist.h"
#include "log/logmodel.h"
#include "plugins/libraries.h"
#include "tasks/frametimer.h"
#include "tasks/taskcontext.h"

#include "support/fakehost.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace vexa;
namespace fs = std::filesystem;

namespace {

class CoreStartStop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.ok());
        std::ofstream(dir / "vexa.xml") << "<?xml version=\"1.0\"?>\n<CONFIG/>\n";
        std::ofstream(dir / "other.xml") << "<?xml version=\"1.0\"?>\n<CONFIG><LIBRARY><PATH>"
                                         << samplePlugin() << "</PATH></LIBRARY></CONFIG>\n";
    }
    void TearDown() override { coreStop({}); }
    static std::string samplePlugin()
    {
#ifdef VEXA_SAMPLE_PLUGIN
        return VEXA_SAMPLE_PLUGIN;
#else
        return {};
#endif
    }
    vexatest::TempDir temp { "vexa-main" };
    fs::path dir { temp.path() };
};

// A palette level whose colour is not grey, to tell the palette tables from the grey
// fallback.
bool colouredLevel(PaletteRef& palette, int& level)
{
    for (int i = 0; i < paletteCount(); ++i) {
        const PaletteRecord* p = paletteAt(i);
        ColourTable table;
        if (!p || !copyPaletteTable(p->family, p->variant, table))
            continue;
        for (int l = 0; l < 256; ++l)
            if (table[l].red != table[l].green || table[l].green != table[l].blue) {
                palette = { p->family, p->variant };
                level = l;
                return true;
            }
    }
    return false;
}

// The RGBA pixel of a one-sample image at that level, read through its palette.
std::array<int, 3> pixelThrough(PaletteRef palette, int level)
{
    ImageDescriptor image;
    image.width = image.height = 1;
    image.samples.allocate(1);
    image.samples.bytes()[0] = std::uint8_t(level);
    image.palette = palette;
    std::unique_ptr<std::uint8_t, decltype(&std::free)> rgba(
        static_cast<std::uint8_t*>(readImageData(image, 1, 0, TYPEDATA_RGBA)), &std::free);
    if (!rgba)
        return { -1, -1, -1 };
    return { rgba.get()[0], rgba.get()[1], rgba.get()[2] };
}

TEST_F(CoreStartStop, WiresEverythingAndReleasesItTwice)
{
    if (samplePlugin().empty())
        GTEST_SKIP() << "sample plug-in not built";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        FakeHost fake;
        int interfaces = 0, menuChanges = 0, closings = 0;
        CoreStart start;
        start.programDir = dir.string();
        start.commandLine = "-config " + (dir / "other.xml").string() + " trailing";
        start.createInterface = [&] {
            // The palettes are ready when the interface is built.
            EXPECT_GT(paletteCount(), 0);
            ++interfaces;
            return &fake;
        };
        start.menusChanged = [&] { ++menuChanges; };
        EXPECT_EQ(coreStart(start), "-config " + (dir / "other.xml").string());
        EXPECT_TRUE(coreStarted());
        EXPECT_EQ(coreStart(start), start.commandLine); // already started
        EXPECT_EQ(interfaces, 1);

        EXPECT_EQ(host(), &fake);
        EXPECT_EQ(config::configPath(), (dir / "other.xml").string());
        ASSERT_EQ(plugins::loadedLibraries().size(), 1u);
        EXPECT_GT(menuChanges, 0);
        EXPECT_NE(taskCurrent(), nullptr);
        PaletteRef palette;
        int level = 0;
        ASSERT_TRUE(colouredLevel(palette, level));
        const std::array<int, 3> coloured = pixelThrough(palette, level);
        EXPECT_FALSE(coloured[0] == coloured[1] && coloured[1] == coloured[2]);

        // A posted line reaches the log through the host's queue.
        const int before = log::messageLog().count(0);
        log::messageLog().post("ligne postée");
        EXPECT_EQ(log::messageLog().count(0), before);
        fake.processPending();
        ASSERT_EQ(log::messageLog().count(0), before + 1);
        EXPECT_EQ(log::messageLog().line(0, before), "ligne postée");

        // Frame timers tick through the host's queue.
        frametimer::FrameTimerSystem& timers = frametimer::frameTimers();
        frametimer::FrameTimer* timer = timers.create();
        int ticks = 0;
        timers.setFrequency(timer, 100);
        timers.setCallback(timer, [&](frametimer::FrameTimer*, void*) { ++ticks; });
        timers.start(timer);
        EXPECT_TRUE(fake.runUntil([&] { return ticks > 0; }));
        timers.destroy(timer);
        EXPECT_FALSE(timers.hasRegistry());

        auto object = std::make_unique<ImageObject>();
        object->image->samples.allocate(std::size_t(512) * 512);
        DataRecord* record = dataCreate(DATA_IMAGE, std::move(object), nullptr, kFreshId, kFreshId);
        ASSERT_NE(record, nullptr);
        const std::uint32_t id = record->imageId;

        CoreStop stop;
        stop.pump = [&] { fake.processPending(); };
        stop.closeWindows = [&] {
            // Libraries are gone, data still there.
            EXPECT_TRUE(plugins::loadedLibraries().empty());
            EXPECT_EQ(dataFind(id), record);
            ++closings;
        };
        EXPECT_TRUE(coreStop(stop));
        EXPECT_EQ(closings, 1);
        EXPECT_FALSE(coreStarted());
        EXPECT_EQ(host(), nullptr);
        EXPECT_EQ(dataFind(id), nullptr);
        EXPECT_EQ(taskCurrent(), nullptr);
        EXPECT_EQ(paletteCount(), 0);
        const std::array<int, 3> grey = pixelThrough(palette, level);
        EXPECT_TRUE(grey[0] == level && grey[1] == level && grey[2] == level);
        // Posted lines wait for someone to drain them; nothing reaches the old host.
        log::messageLog().post("après l'arrêt");
        EXPECT_EQ(fake.processPending(), 0);
        EXPECT_EQ(log::messageLog().drainPosted(), 1);
        // A second stop does nothing.
        EXPECT_TRUE(coreStop(stop));
        EXPECT_EQ(closings, 1);
    }
}

TEST_F(CoreStartStop, StartsWithoutAnInterfaceAndAMissingConfiguration)
{
    CoreStart start;
    start.programDir = (dir / "absent").string();
    start.commandLine = "-in image.gdr";
    EXPECT_EQ(coreStart(start), "-in image.gdr");
    EXPECT_EQ(host(), nullptr);
    EXPECT_EQ(config::configPath(), (dir / "absent" / "vexa.xml").string());
    EXPECT_TRUE(plugins::loadedLibraries().empty());
    EXPECT_GT(paletteCount(), 0); // the built-in palettes
    EXPECT_TRUE(coreStop({}));
    EXPECT_EQ(paletteCount(), 0);
}

TEST_F(CoreStartStop, TellsOnceWhatEndedThePreviousRun)
{
    std::ofstream(dir / "vexa-crash.txt") << "accès mémoire invalide (SIGSEGV) pendant « Essai »\n";
    CoreStart start;
    start.programDir = dir.string();
    coreStart(start);
    const auto& lines = log::messageLog();
    bool told = false;
    for (int i = 0; i < lines.count(1); ++i)
        told = told || lines.line(1, i).find("« Essai »") != std::string::npos;
    EXPECT_TRUE(told);
    EXPECT_FALSE(fs::exists(dir / "vexa-crash.txt"));
    EXPECT_TRUE(coreStop({}));
}

} // namespace
