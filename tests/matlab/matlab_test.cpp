#include "data/dataopen.h"
#include "log/logmodel.h"
#include "matlab/matlabarray.h"
#include "matlab/matlabcommands.h"
#include "matlab/matlabengine.h"
#include "matlabtest_util.h"
#include "params/parambox.h"
#include "support/fakehost.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <memory>

using namespace vexa;
using namespace vexa::matlab;
using namespace matlabtest;
namespace fs = std::filesystem;

namespace {

using StandinPut = int (*)(const char*, int, bool, std::size_t, const std::size_t*, const void*);
using StandinOpenCount = int (*)();

// A MATLAB folder (named so that a PATH entry can point at it) whose libraries are
// the stand-ins, for both version choices.
std::string makeLayout(const vexatest::TempDir& dir, const char* mx)
{
    const std::string root = dir.path() + "/MATLAB";
    for (const char* arch : { "glnxa64", "glnxa32" }) {
        const fs::path libs = fs::path(root) / "bin" / arch;
        fs::create_directories(libs);
        fs::copy_file(STANDIN_ENG, libs / "libeng.so");
        if (mx)
            fs::copy_file(mx, libs / "libmx.so");
    }
    return root;
}

class MatlabBridge : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dirs = std::make_unique<vexatest::TempDir[]>(3);
        full = makeLayout(dirs[0], STANDIN_MX);
        withoutMx = makeLayout(dirs[1], nullptr);
        partial = makeLayout(dirs[2], STANDIN_MX_PARTIAL);
    }
    static void TearDownTestSuite() { dirs.reset(); }

    void SetUp() override
    {
        installHost(&host);
        params::setParamDialogPresenter([](ParamBox* box) { return hostParamDialog(box); });
        matlabBridgeReset();
        setProcessProbe([] { return true; });
        setEngineDirectory(full, kVersion64);
        firstLine = log::messageLog().count(1);
    }
    void TearDown() override
    {
        matlabBridgeReset();
        setProcessProbe(nullptr);
        params::setParamDialogPresenter({});
        dataResetRegistry();
        installHost(nullptr);
    }

    // The running session, as the bridge itself reaches it.
    void session() { ASSERT_EQ(startEngine(api, engine), EngineStart::Started); }
    // A function of the loaded stand-in engine library.
    template <typename Fn> Fn standin(const char* name)
    {
        const std::string path = full + "/bin/glnxa64/libeng.so";
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        EXPECT_NE(library, nullptr);
        Fn fn = library ? reinterpret_cast<Fn>(dlsym(library, name)) : nullptr;
        if (library)
            dlclose(library);
        return fn;
    }
    bool logged(const std::string& text) const
    {
        for (int i = 0; i < log::messageLog().count(1); ++i)
            if (log::messageLog().line(1, i) == text)
                return true;
        return false;
    }
    DataRecord* importVariable(const std::string& name)
    {
        setImportVariableName(name);
        host.queueParamAnswer(1);
        return matlabOpenCommand();
    }

    static inline std::unique_ptr<vexatest::TempDir[]> dirs;
    static inline std::string full, withoutMx, partial;
    FakeHost host;
    const EngineApi* api = nullptr;
    void* engine = nullptr;
    int firstLine = 0;
};

TEST_F(MatlabBridge, ImageOfEveryTypeTravelsAsItsTransposeAndComesBack)
{
    for (int type : kExchangedTypes) {
        SCOPED_TRACE(type);
        DataRecord* image = rampRecord(type, 3, 2, 1); // rows (1, 2, 3) and (4, 5, 6)
        setExportVariableName("img");
        host.queueParamAnswer(1);
        ASSERT_TRUE(matlabSaveCommand(image));

        session();
        void* array = api->engGetVariable(engine, "img");
        ASSERT_NE(array, nullptr);
        EXPECT_EQ(api->mxGetClassID(array), classForType(type));
        ASSERT_EQ(api->mxGetNumberOfDimensions(array), 2u);
        EXPECT_EQ(api->mxGetDimensions(array)[0], 2u);
        EXPECT_EQ(api->mxGetDimensions(array)[1], 3u);
        EXPECT_EQ(
            toDoubles(api->mxGetPr(array), type, 6), (std::vector<double> { 1, 4, 2, 5, 3, 6 }));
        api->mxDestroyArray(array);

        DataRecord* back = importVariable("img");
        ASSERT_NE(back, nullptr);
        ASSERT_EQ(back->block(), nullptr);
        EXPECT_EQ(back->image2d()->width, 3);
        EXPECT_EQ(back->image2d()->height, 2);
        int backType = 0;
        EXPECT_EQ(samplesOf(*back, backType), (std::vector<double> { 1, 2, 3, 4, 5, 6 }));
        EXPECT_EQ(backType, type);
        EXPECT_EQ(back->name, "img");
    }
    // Every exchange reached the one session of the run.
    EXPECT_EQ(standin<StandinOpenCount>("standinOpenCount")(), 1);
}

TEST_F(MatlabBridge, VolumesKeepRowsColumnsAndPagesWithTheValueScale)
{
    DataRecord* volume = rampRecord(TYPEDATA_S16, 3, 2, 2);
    volume->block()->valueScaleOn = 1;
    volume->block()->valueGain = 2;
    setExportVariableName("vol");
    host.queueParamAnswer(1);
    ASSERT_TRUE(matlabSaveCommand(volume));
    session();
    void* array = api->engGetVariable(engine, "vol");
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(api->mxGetNumberOfDimensions(array), 3u);
    const std::size_t* dims = api->mxGetDimensions(array);
    EXPECT_EQ((std::vector<std::size_t>(dims, dims + 3)), (std::vector<std::size_t> { 2, 3, 2 }));
    const std::vector<double> exported = toDoubles(api->mxGetPr(array), TYPEDATA_S16, 12);
    for (int p = 0; p < 2; ++p)
        for (int c = 0; c < 3; ++c)
            for (int r = 0; r < 2; ++r)
                EXPECT_EQ(exported[std::size_t(r + 2 * c + 6 * p)], 2 * (c + 3 * r + 6 * p + 1));
    api->mxDestroyArray(array);

    // A 4 x 5 x 2 double array: width 5, height 4, depth 2.
    std::vector<double> columns(40);
    for (int p = 0; p < 2; ++p)
        for (int c = 0; c < 5; ++c)
            for (int r = 0; r < 4; ++r)
                columns[std::size_t(r + 4 * c + 20 * p)] = r * 100 + c * 10 + p;
    const std::size_t matlabDims[] = { 4, 5, 2 };
    ASSERT_EQ(
        standin<StandinPut>("standinPut")("m", kClassDouble, false, 3, matlabDims, columns.data()),
        0);
    DataRecord* back = importVariable("m");
    ASSERT_NE(back, nullptr);
    ASSERT_NE(back->block(), nullptr);
    const BlockDescriptor& block = *back->block();
    EXPECT_EQ(block.dimX, 5);
    EXPECT_EQ(block.dimY, 4);
    EXPECT_EQ(block.dimZ, 2);
    int type = 0;
    const std::vector<double> rows = samplesOf(*back, type);
    EXPECT_EQ(type, TYPEDATA_F64);
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(rows[std::size_t(x + 5 * y + 20 * z)], y * 100 + x * 10 + z);
}

TEST_F(MatlabBridge, ArraysOutsideTheTableCreateNothing)
{
    session();
    auto put = standin<StandinPut>("standinPut");
    const double zeros[16] = {};
    const std::size_t flat[] = { 2, 2 };
    const std::size_t four[] = { 1, 2, 2, 2 };
    put("flag", 3, false, 2, flat, zeros); // logical
    put("text", 4, false, 2, flat, zeros); // char
    put("wide", 14, false, 2, flat, zeros); // int64
    put("z", kClassDouble, true, 2, flat, zeros);
    put("four", kClassDouble, false, 4, four, zeros);
    for (const char* name : { "flag", "text", "wide", "z", "four", "absent" })
        EXPECT_EQ(importVariable(name), nullptr) << name;
    EXPECT_EQ(dataCount(DATA_IMAGE), 0);

    // RGBA images are never exported: no box is even asked.
    DataRecord* rgba = rampRecord(TYPEDATA_RGBA, 2, 2, 1);
    host.clearRequests();
    EXPECT_FALSE(matlabSaveCommand(rgba));
    EXPECT_EQ(host.count(GuiRequest::ParamDialog), 0);
}

TEST_F(MatlabBridge, ImportNeedsARunningMatlab)
{
    setProcessProbe([] { return false; });
    EXPECT_EQ(importVariable("anything"), nullptr);
    EXPECT_EQ(host.count(GuiRequest::ParamDialog), 0);
}

TEST_F(MatlabBridge, DirectoryIsAskedOnceFromPathAndCancellingFallsBackToAMatFile)
{
    matlabBridgeReset();
    vexatest::ScopedEnv path("PATH", ("/usr/bin:" + full + ":/opt/MATLAB/other").c_str());
    DataRecord* image = rampRecord(TYPEDATA_U8, 2, 2, 1);
    setExportVariableName("a");
    host.queueParamAnswer(1); // directory, as PATH proposes it, "32 bits"
    host.queueParamAnswer(1); // variable
    ASSERT_TRUE(matlabSaveCommand(image));
    EXPECT_TRUE(logged(full + "/bin/glnxa32"));
    EXPECT_TRUE(logged("MATLAB - " + full + "/bin/glnxa32/libeng.so"));
    EXPECT_TRUE(logged("MATLAB - mxCreateNumericArray"));
    host.clearRequests();
    host.queueParamAnswer(1);
    ASSERT_TRUE(matlabSaveCommand(image));
    EXPECT_EQ(host.count(GuiRequest::ParamDialog), 1); // the variable only

    matlabBridgeReset();
    setExportVariableName("a");
    vexatest::TempDir out;
    host.queueParamAnswer(0); // no directory
    host.queueParamAnswer(1);
    host.queueFileAnswer(true, out.file("a"));
    EXPECT_TRUE(matlabSaveCommand(image));
    EXPECT_TRUE(fs::exists(out.file("a.mat")));
    EXPECT_FALSE(engineDirectoryConfirmed());
}

TEST_F(MatlabBridge, MissingLibraryOrEntryPointIsLoggedAndOffersAMatFile)
{
    DataRecord* image = rampRecord(TYPEDATA_F32, 3, 2, 1);
    setEngineDirectory(withoutMx, kVersion64);
    host.queueMessageAnswer(MessageAnswer::No);
    EXPECT_FALSE(matlabSaveCommand(image));
    EXPECT_TRUE(logged("MATLAB - engEvalString"));
    EXPECT_TRUE(logged("MATLAB - " + withoutMx + "/bin/glnxa64/libmx.so inconnue"));

    setEngineDirectory(partial, kVersion64);
    vexatest::TempDir out;
    host.queueMessageAnswer(MessageAnswer::Yes);
    host.queueParamAnswer(1);
    host.queueFileAnswer(true, out.file("img.mat"));
    setExportVariableName("img");
    EXPECT_TRUE(matlabSaveCommand(image));
    EXPECT_TRUE(logged("MATLAB - mxCreateNumericArray inconnue"));

    // The file opens through the ordinary open path.
    installMatFileOpener();
    std::string reason;
    DataRecord* back = dataOpenFile(out.file("img.mat"), &reason);
    clearForeignFileOpeners();
    ASSERT_NE(back, nullptr) << reason;
    int type = 0;
    EXPECT_EQ(samplesOf(*back, type), (std::vector<double> { 1, 2, 3, 4, 5, 6 }));
    EXPECT_EQ(type, TYPEDATA_F32);
}

TEST(MatlabDirectory, DefaultComesFromPathAndLibrariesFromItsBinFolder)
{
    EXPECT_EQ(defaultEngineDirectory("/usr/bin:/opt/MATLAB/R2024a/bin:/x/MATLAB"),
        "/opt/MATLAB/R2024a/bin");
    EXPECT_EQ(defaultEngineDirectory("/usr/bin:/opt/matlab"), "");
    EXPECT_EQ(defaultEngineDirectory(nullptr), "");
    EXPECT_EQ(engineLibraryDirectory("/opt/MATLAB/bin", kVersion64), "/opt/MATLAB/bin/glnxa64");
    EXPECT_EQ(engineLibraryDirectory("/opt/MATLAB/R2024a/", kVersion64),
        "/opt/MATLAB/R2024a/bin/glnxa64");
    EXPECT_EQ(engineLibraryDirectory("/opt/MATLAB", kVersion32), "/opt/MATLAB/bin/glnxa32");
}

} // namespace
