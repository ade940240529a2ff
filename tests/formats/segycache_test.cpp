#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/config.h"
#include "formats/formats.h"
#include "formats/segycache.h"
#include "support/tempdir.h"
#include "vexa_types.h"
#include "vexafile.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;

constexpr int kW = 6, kH = 9, kD = 5; // crosslines, samples, inlines

float cubeValue(int x, int y, int z, float shift)
{
    return shift + float(z) * 100.0f + float(x) + float(y) * 0.01f;
}

// An inline-sorted cube written by the SEG-Y writer; crossline-sorted when asked,
// by putting its traces in crossline order.
void writeCube(const std::string& path, float shift, bool crosslineSorted)
{
    std::vector<float> samples(std::size_t(kW) * kH * kD);
    for (int z = 0; z < kD; ++z)
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                samples[(std::size_t(z) * kH + y) * kW + x] = cubeValue(x, y, z, shift);
    FormatBlockView view;
    view.width = kW;
    view.height = kH;
    view.depth = kD;
    view.typeData = TYPEDATA_F32;
    view.samples = samples.data();
    std::string reason;
    ASSERT_TRUE(segyWriter().write(path, view, &reason)) << reason;
    if (!crosslineSorted)
        return;
    std::ifstream in(path, std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t trace = 240 + 4 * std::size_t(kH);
    std::string sorted = all.substr(0, 3600);
    for (int x = 0; x < kW; ++x)
        for (int z = 0; z < kD; ++z)
            sorted += all.substr(3600 + (std::size_t(z) * kW + x) * trace, trace);
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(sorted.data(), sorted.size());
}

std::vector<float> readCache(const std::string& cache)
{
    FileDescriptor* desc = vexaFileNameOpen(cache.c_str());
    std::vector<float> out;
    if (desc && vexaFileReadHeader(desc)) {
        if (void* block = vexaFileReadBlock(desc)) {
            const auto* values = static_cast<const float*>(block);
            out.assign(values, values + std::size_t(kW) * kH * kD);
            vexaFileFree(block);
        }
    }
    vexaFileRelease(desc);
    return out;
}

struct CacheFixture : ::testing::Test {
    vexatest::TempDir dir;
    vexatest::ScopedEnv cacheHome { "XDG_CACHE_HOME", dir.path().c_str() };
    std::string cacheDir = dir.file("vexa");

    std::vector<std::string> cacheFiles() const
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::directory_iterator it(cacheDir, ec), end; !ec && it != end; it.increment(ec))
            names.push_back(it->path().filename().string());
        return names;
    }
    void TearDown() override { setFormatProgress({}); }
};

TEST_F(CacheFixture, LargeCubeGoesToAFileHoldingTheSamplesOfTheMemoryRead)
{
    const std::string configPath = config::configPath();
    std::ofstream(dir.file("vexa.xml")) << "<VEXA><MEMORY FILE_BLOCK_SHARE=\" 1 % \"/></VEXA>";
    config::setConfigPath(dir.file("vexa.xml").c_str());
    EXPECT_DOUBLE_EQ(config::fileBlockShare(), 0.01);
    EXPECT_TRUE(keepVolumeInFile(1081, 100000));
    EXPECT_FALSE(keepVolumeInFile(1000, 100000));
    std::ofstream(dir.file("vexa.xml")) << "<VEXA><MEMORY FILE_BLOCK_SHARE=\"1,5\"/></VEXA>";
    EXPECT_DOUBLE_EQ(config::fileBlockShare(), 0.25);
    config::setConfigPath(configPath.c_str());

    for (bool crosslineSorted : { false, true }) {
        SCOPED_TRACE(crosslineSorted ? "crossline" : "inline");
        const std::string path = dir.file(crosslineSorted ? "x.sgy" : "i.sgy");
        writeCube(path, 0, crosslineSorted);
        FormatHeader header;
        std::string reason;
        ASSERT_TRUE(segyReader().probe(path, header, &reason)) << reason;
        ASSERT_EQ(header.depth, kD);
        std::vector<float> memory(std::size_t(kW) * kH * kD);
        ASSERT_TRUE(segyReader().read(path, header, memory.data(), &reason)) << reason;
        EXPECT_EQ(memory[std::size_t(kW) * kH * 3 + kW * 2 + 4], cubeValue(4, 2, 3, 0));

        std::string cache;
        ASSERT_EQ(segyCacheFile(path, header, cache, &reason), SegyCacheOutcome::Ready) << reason;
        EXPECT_EQ(fs::path(cache).parent_path(), fs::path(cacheDir));
        EXPECT_EQ(readCache(cache), memory);

        // The second open reuses the conversion as it is.
        struct stat first {
        }, second {};
        ASSERT_EQ(::stat(cache.c_str(), &first), 0);
        std::string again;
        ASSERT_EQ(segyCacheFile(path, header, again, &reason), SegyCacheOutcome::Ready);
        ASSERT_EQ(::stat(again.c_str(), &second), 0);
        EXPECT_EQ(again, cache);
        EXPECT_EQ(second.st_ino, first.st_ino);
    }
}

TEST_F(CacheFixture, ChangedFileOrWrittenCacheIsConvertedAgain)
{
    const std::string path = dir.file("cube.sgy");
    writeCube(path, 0, false);
    FormatHeader header;
    std::string reason, cache;
    ASSERT_TRUE(segyReader().probe(path, header, &reason)) << reason;
    ASSERT_EQ(segyCacheFile(path, header, cache, &reason), SegyCacheOutcome::Ready) << reason;

    // Same size, new samples, a later modification time.
    writeCube(path, 1000, false);
    const struct timespec later[2] = { { 0, UTIME_OMIT }, { 2000000000, 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
    ASSERT_TRUE(segyReader().probe(path, header, &reason)) << reason;
    std::string changed;
    ASSERT_EQ(segyCacheFile(path, header, changed, &reason), SegyCacheOutcome::Ready) << reason;
    EXPECT_NE(changed, cache);
    EXPECT_FALSE(fs::exists(cache)) << "the old conversion stays behind";
    EXPECT_EQ(readCache(changed)[0], cubeValue(0, 0, 0, 1000));

    // A section saved into the file block must not pass for the SEG-Y samples; nor
    // may a new conversion replace it under the block that wrote it.
    {
        std::fstream f(changed, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(-4, std::ios::end);
        f.write("\0\0\0\0", 4);
    }
    static std::string inUse;
    inUse = changed;
    auto used = [](const std::string& file) { return file == inUse; };
    EXPECT_EQ(segyCacheFile(path, header, cache, &reason, used), SegyCacheOutcome::Failed);
    EXPECT_NE(reason.find("ouverte"), std::string::npos) << reason;
    EXPECT_EQ(readCache(changed).back(), 0.0f);
    ASSERT_EQ(segyCacheFile(path, header, changed, &reason), SegyCacheOutcome::Ready) << reason;
    EXPECT_EQ(readCache(changed).back(), cubeValue(kW - 1, kH - 1, kD - 1, 1000));
    EXPECT_EQ(cacheFiles().size(), 1u);
}

TEST_F(CacheFixture, StoppedOrFailedConversionLeavesNoFile)
{
    const std::string path = dir.file("cube.sgy");
    writeCube(path, 0, false);
    FormatHeader header;
    std::string reason, cache;
    ASSERT_TRUE(segyReader().probe(path, header, &reason)) << reason;
    static int calls;
    calls = 0;
    setFormatProgress({ nullptr, [](std::int32_t) { return ++calls < 2; } });
    EXPECT_EQ(segyCacheFile(path, header, cache, &reason), SegyCacheOutcome::Stopped);
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(cache.empty());
    EXPECT_TRUE(cacheFiles().empty());
    setFormatProgress({});

    // Cut after its header was read: the traces are gone, and so is the conversion.
    fs::resize_file(path, fs::file_size(path) - 2 * (240 + 4 * kH));
    EXPECT_EQ(segyCacheFile(path, header, cache, &reason), SegyCacheOutcome::Failed);
    EXPECT_NE(reason.find(path), std::string::npos) << reason;
    EXPECT_TRUE(cacheFiles().empty());
}

} // namespace
} // namespace vexa
