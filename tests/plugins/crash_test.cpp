// A plug-in whose command faults every time it runs. In safe mode the program lives
// through every crash, each one reported, with the data the command looked at intact
// and the plug-in still unloadable; outside safe mode the fault ends the program.
#include "../tasks/tasktestsupport.h"

#include "data/datarecord.h"
#include "plugins/libraries.h"
#include "tasks/taskmutex.h"

#include <atomic>
#include <dlfcn.h>
#include <future>
#include <vector>

using namespace vexa;
using namespace vexa::plugins;

namespace {

const std::string kCrasher = std::string(VEXA_TEST_PLUGIN_DIR) + "/fixture_crasher.so";

class CrashingPlugin : public vexa::testing::TaskFixture {
protected:
    void SetUp() override
    {
        TaskFixture::SetUp();
        ASSERT_EQ(loadLibrary(kCrasher, true), kLoaded);
        auto menu = menus::MenuNode::subMenu("Traitement 2D");
        appendInsertedMenus(*menu, MenuLocation::Menu2d);
        ASSERT_EQ(menu->children.size(), 1u);
        ASSERT_EQ(menu->children[0]->children.size(), 1u);
        command = menu->children[0]->children[0]->id;
    }
    void TearDown() override
    {
        unloadAllLibraries();
        TaskFixture::TearDown();
    }
    // A counter of the loaded fixture.
    std::atomic<int>* counter(const char* name)
    {
        void* module = dlopen(kCrasher.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!module)
            return nullptr;
        auto* p = static_cast<std::atomic<int>*>(dlsym(module, name));
        dlclose(module);
        return p;
    }
    int command = 0;
};

TEST_F(CrashingPlugin, SafeModeSurvivesAHundredCrashesInARow)
{
    DataRecord* in = newImage(8, 8);
    std::uint8_t* p = in->image2d()->samples.bytes();
    for (int i = 0; i < 64; ++i)
        p[i] = std::uint8_t(200 - i);
    const std::vector<std::uint8_t> before(p, p + 64);
    dataActivate(in);
    const std::size_t records = dataListAll().size();
    std::atomic<int>* crashes = counter("fixtureCrashes");
    std::atomic<int>* seen = counter("fixtureSeen");
    ASSERT_TRUE(crashes && seen);

    taskSetSafeMode(true);
    for (int run = 0; run < 100; ++run) {
        ASSERT_TRUE(runLibraryCommand(command)) << run;
        ASSERT_TRUE(waitForWorkers()) << run;
        host.processPending();
    }

    EXPECT_EQ(crashes->load(), 100);
    EXPECT_EQ(seen->load(), 200);
    EXPECT_EQ(host.count(GuiRequest::MessageBox), 100);
    for (const auto& request : host.requests()) {
        if (request.code == GuiRequest::MessageBox) {
            EXPECT_EQ(request.text, "Erreur 11|Exception");
        }
    }
    // The data are as they were, and nothing holds them.
    ASSERT_EQ(dataListAll().size(), records);
    EXPECT_EQ(dataFind(in->imageId), in);
    EXPECT_EQ(std::vector<std::uint8_t>(p, p + 64), before);
    EXPECT_EQ(in->busyCount, 0);
    EXPECT_EQ(taskContextCount(), 0);
    auto other = std::async(std::launch::async, [] {
        taskMutexLock();
        taskMutexUnlock();
    });
    EXPECT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    // No crashed command still counts as running: the plug-in unloads.
    EXPECT_EQ(unloadLibrary(kCrasher, true), 1);
}

using CrashingPluginDeathTest = CrashingPlugin;

TEST_F(CrashingPluginDeathTest, OutsideSafeModeTheCrashEndsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            taskSetSafeMode(false);
            dataActivate(newImage(4, 4));
            runLibraryCommand(command);
            waitForWorkers();
        },
        "");
}

} // namespace
