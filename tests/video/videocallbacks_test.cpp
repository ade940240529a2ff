// The video callbacks reached by name as a C plug-in reaches them: a film written frame
// by frame, then used as a live stream.
#include "plugins/callbacktable.h"
#include "plugins/videoapi.h"

#include "data/dataopen.h"
#include "data/registry.h"
#include "support/tempdir.h"
#include "video/film.h"
#include "video/filmreader.h"

#include "filmtestsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

using namespace vexa;

namespace {

template <typename F> F lookup(const char* name)
{
    return reinterpret_cast<F>(vexaCallbackLookup(name));
}

using CreateFn = int (*)(const char*);
using SetFn = int (*)(int, int, int, double);
using AddFn = int (*)(int, const uint8_t*);
using CloseFn = int (*)(int);
using IdFn = unsigned int (*)(void);
using IntOfFn = int (*)(unsigned int);
using FormatFn = int (*)(unsigned int, int);
using DataFn = void* (*)(unsigned int);
using SetDataFn = int (*)(unsigned int, void*);
using CallbackFn = int (*)(unsigned int, VexaVideoFrameCallback);
using TimeFn = double (*)(unsigned int);

struct Seen {
    unsigned int id = 0;
    int calls = 0;
};

int onFrame(unsigned int id, void* userData)
{
    auto* seen = static_cast<Seen*>(userData);
    seen->id = id;
    ++seen->calls;
    return 1;
}

} // namespace

TEST(VideoCallbacks, PluginWritesAFilmThenReadsItAsAStream)
{
    vexatest::TempDir dir;
    const std::string path = dir.file("plugin.avi");
    const int file = lookup<CreateFn>("vexaVideoFileCreate")(path.c_str());
    ASSERT_GT(file, 0);
    const auto addFrame = lookup<AddFn>("vexaVideoFileAddFrame");
    // No size yet: nothing can be written.
    EXPECT_EQ(addFrame(file, vexatest::testFrame(64, 48, 0).data()), 0);
    ASSERT_EQ(lookup<SetFn>("vexaVideoFileSet")(file, 64, 48, 10.0), 1);
    for (int n = 0; n < 10; ++n)
        ASSERT_EQ(addFrame(file, vexatest::testFrame(64, 48, n).data()), 1) << n;
    EXPECT_EQ(lookup<SetFn>("vexaVideoFileSet")(file, 32, 32, 10.0), 0);
    ASSERT_EQ(lookup<CloseFn>("vexaVideoFileClose")(file), 1);
    EXPECT_EQ(lookup<CloseFn>("vexaVideoFileClose")(file), 0);
    EXPECT_EQ(addFrame(file, vexatest::testFrame(64, 48, 0).data()), 0);
    // A file closed without frames writes nothing.
    const int unused = lookup<CreateFn>("vexaVideoFileCreate")(dir.file("unused.avi").c_str());
    EXPECT_EQ(lookup<CloseFn>("vexaVideoFileClose")(unused), 0);
    EXPECT_FALSE(std::ifstream(dir.file("unused.avi")).good());

    video::installFilmFileOpener();
    DataRecord* record = dataOpenFile(path);
    ASSERT_NE(record, nullptr);
    const unsigned int id = lookup<IdFn>("dozDataFluxGetId")();
    ASSERT_EQ(id, record->imageId);
    EXPECT_EQ(lookup<IntOfFn>("dozDataFluxGetLargeur")(id), 64);
    EXPECT_EQ(lookup<IntOfFn>("vexaVideoGetHeight")(id), 48);
    EXPECT_EQ(lookup<IntOfFn>("vexaVideoGetNumberOfFrames")(id), 10);
    EXPECT_NEAR(lookup<TimeFn>("vexaVideoGetDuration")(id), 1.0, 1e-6);

    Seen seen;
    ASSERT_EQ(lookup<SetDataFn>("vexaVideoSetUserData")(id, &seen), 1);
    ASSERT_EQ(lookup<CallbackFn>("vexaVideoInitializeCallback")(id, onFrame), 1);
    ASSERT_EQ(lookup<FormatFn>("vexaVideoSetFormatIn")(id, TYPEDATA_U8), 1);
    EXPECT_EQ(lookup<FormatFn>("vexaVideoSetFormatIn")(id, TYPEDATA_F32), 0);
    ASSERT_EQ(lookup<FormatFn>("vexaVideoMoveTo")(id, 5), 1);
    EXPECT_EQ(seen.id, id);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(lookup<IntOfFn>("vexaVideoGetNoCurrentFrame")(id), 5);
    EXPECT_NEAR(lookup<TimeFn>("vexaVideoGetTime")(id), 0.5, 1e-6);
    EXPECT_NEAR(lookup<TimeFn>("vexaVideoGetCurrentDuration")(id), 0.6, 1e-6);

    // The grey input is the mean of the decoded colours.
    const auto* grey = static_cast<const std::uint8_t*>(lookup<DataFn>("dozDataFluxGetDataIn")(id));
    ASSERT_NE(grey, nullptr);
    auto* film = video::filmOf(record);
    const std::vector<std::uint8_t> rgba = video::filmCurrentSamples(*film, TYPEDATA_RGBA);
    EXPECT_EQ(grey[100], (rgba[400] + rgba[401] + rgba[402]) / 3);

    // Capture runs to the end of the source, one callback per frame.
    int captured = 0;
    while (lookup<IntOfFn>("vexaVideoCapture")(id) == 1)
        ++captured;
    EXPECT_EQ(captured, 4);
    EXPECT_EQ(seen.calls, 5);

    auto* out = static_cast<std::uint8_t*>(lookup<DataFn>("vexaVideoGetDataOut")(id));
    ASSERT_NE(out, nullptr);
    out[64 * 48 * 4 - 1] = 7; // the whole RGBA picture is the plug-in's
    EXPECT_TRUE(film->outputShown);

    // Unknown streams and files do nothing.
    EXPECT_EQ(lookup<IntOfFn>("vexaVideoGetWidth")(id + 1000), 0);
    EXPECT_EQ(lookup<IntOfFn>("vexaVideoGetNoCurrentFrame")(id + 1000), -1);
    EXPECT_EQ(lookup<DataFn>("vexaVideoGetDataIn")(id + 1000), nullptr);
    EXPECT_EQ(lookup<CreateFn>("vexaVideoFileCreate")(nullptr), 0);
    clearForeignFileOpeners();
    dataResetRegistry();
}
