// Companion files: built in slabs, they must serve exactly the sections the block's
// own file gives, and a stopped or refused build must leave nothing behind.
#include "data/block.h"
#include "data/companions.h"
#include "data/section.h"
#include "support/tempdir.h"
#include "vexafile.h"
#include "vexamem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <vector>

using namespace vexa;

namespace {

std::vector<std::string> entries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A GDR file of X x Y x Z samples of type, sample i of the file holding i * 7 + 3
// (wrapping in small types), stored transposed or not.
bool writeVolume(const std::string& path, int X, int Y, int Z, int type, int transpose,
    int header = VEXAFILE_HEADER_GDR)
{
    FileDescriptor* d = vexaFileNew();
    vexaFileSetFullName(d, path.c_str());
    vexaFileSetSizes(d, X, Y, Z);
    vexaFileSetTranspose(d, transpose);
    vexaFileSetTypeData(d, type);
    vexaFileSetNbBits(d, vexaTypeBits(type));
    vexaFileSetSign(d, vexaTypeSign(type));
    vexaFileSetHeader(d, header);
    std::vector<double> values(std::size_t(X) * Y * Z);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = double((i * 7 + 3) % 251) + (type == TYPEDATA_F32 ? 0.25 : 0.0);
    void* samples = vexaMemConvert(values.data(), int(values.size()), 1, 0, TYPEDATA_F64, type);
    const bool ok = vexaFileWriteHeader(d) && vexaFileWriteBlock(d, samples);
    std::free(samples);
    vexaFileRelease(d);
    return ok;
}

std::vector<unsigned char> section(const BlockDescriptor& b, int plane, int index)
{
    int w = 0, h = 0;
    sectionSize(b, plane, w, h);
    void* raw = readSection(b, false, -1, plane, index, 0, 0, w - 1, h - 1);
    std::vector<unsigned char> out;
    if (raw)
        out.assign(static_cast<unsigned char*>(raw),
            static_cast<unsigned char*>(raw) + std::size_t(w) * h * b.elementSize());
    std::free(raw);
    return out;
}

// Restores the default mapped-file limit after a test lowers it.
struct MappedLimit {
    explicit MappedLimit(long long bytes) { vexaFileSetMappedFileLimit(bytes); }
    ~MappedLimit() { vexaFileSetMappedFileLimit(0); }
};

struct Layout {
    int type;
    int transpose;
    int header = VEXAFILE_HEADER_GDR;
};

class CompanionFiles : public ::testing::TestWithParam<Layout> { };

TEST_P(CompanionFiles, ServeEverySectionAsTheFileDoes)
{
    const int X = 37, Y = 23, Z = 19;
    vexatest::TempDir dir;
    const std::string path = dir.file("cube_xy.gdr");
    ASSERT_TRUE(
        writeVolume(path, X, Y, Z, GetParam().type, GetParam().transpose, GetParam().header));
    auto plain = blockOpenFile(path);
    auto block = blockOpenFile(path);
    ASSERT_TRUE(plain && block);
    ASSERT_FALSE(block->topFile || block->rightFile);
    ASSERT_EQ(block->dimX * 1000000 + block->dimY * 1000 + block->dimZ, X * 1000000 + Y * 1000 + Z);

    // A budget of four lines of the file: many slabs, the last one short.
    const int es = vexaTypeSize(GetParam().type);
    const std::int64_t line = std::int64_t(GetParam().transpose ? Y : X) * Z * es;
    int calls = 0, lastDone = 0, lastTotal = 0;
    CompanionHooks hooks;
    hooks.progress = [&](int done, int total) { ++calls, lastDone = done, lastTotal = total; };
    std::string reason;
    ASSERT_EQ(buildCompanions(*block, hooks, &reason, 2 * 4 * line), CompanionBuild::Done)
        << reason;
    EXPECT_GT(lastTotal, 3);
    EXPECT_EQ(calls, lastTotal);
    EXPECT_EQ(lastDone, lastTotal);
    ASSERT_TRUE(block->topFile && block->rightFile);
    EXPECT_EQ(entries(dir.path()),
        (std::vector<std::string> { "cube_xy.gdr", "cube_xz.gdr", "cube_yz.gdr" }));
    EXPECT_EQ(vexaFileGetTranspose(block->topFile.get()), vexaFileGetTranspose(block->file.get()));
    EXPECT_EQ(vexaFileGetHeaderFound(block->topFile.get()), GetParam().header);

    auto reopened = blockOpenFile(path);
    ASSERT_TRUE(reopened && reopened->topFile && reopened->rightFile);
    // The reference is read through the kept mapping and through positioned reads.
    for (long long limit : { 0LL, 1LL }) {
        MappedLimit bound(limit);
        for (int y = 0; y < Y; ++y)
            ASSERT_EQ(section(*reopened, PLANE_TOP, y), section(*plain, PLANE_TOP, y)) << y;
        for (int x = 0; x < X; ++x)
            ASSERT_EQ(section(*reopened, PLANE_RIGHT, x), section(*plain, PLANE_RIGHT, x)) << x;
    }
    EXPECT_EQ(section(*plain, PLANE_TOP, 0).size(), std::size_t(X) * Z * plain->elementSize());
}

INSTANTIATE_TEST_SUITE_P(Layouts, CompanionFiles,
    ::testing::Values(Layout { TYPEDATA_U8, 0 }, Layout { TYPEDATA_F32, 0 },
        Layout { TYPEDATA_U8, 1 }, Layout { TYPEDATA_F32, 1 },
        Layout { TYPEDATA_U8, 0, VEXAFILE_HEADER_INRIA },
        Layout { TYPEDATA_S16, 0, VEXAFILE_HEADER_INRIA }));

TEST(CompanionBuildTest, StoppedOrRefusedBuildLeavesNothing)
{
    vexatest::TempDir dir;
    const std::string path = dir.file("vol_xy.gdr");
    ASSERT_TRUE(writeVolume(path, 9, 8, 7, TYPEDATA_U8, 0));
    auto block = blockOpenFile(path);
    ASSERT_TRUE(block);

    int asked = 0;
    CompanionHooks hooks;
    hooks.stopRequested = [&] { return ++asked > 1; };
    std::string reason;
    EXPECT_EQ(buildCompanions(*block, hooks, &reason, 2 * 9 * 7), CompanionBuild::Stopped);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string> { "vol_xy.gdr" });
    EXPECT_FALSE(block->topFile || block->rightFile);

    // No companion pattern, or the file is itself a companion: refused, nothing made.
    for (const char* name : { "vol_xz.gdr", "noaxis", "plain.gdr" }) {
        const std::string other = dir.file(name);
        std::filesystem::copy_file(path, other);
        auto b = blockOpenFile(other);
        ASSERT_TRUE(b) << name;
        reason.clear();
        EXPECT_EQ(buildCompanions(*b, {}, &reason), CompanionBuild::Failed) << name;
        EXPECT_FALSE(reason.empty());
        std::filesystem::remove(other);
    }
    EXPECT_NE(reason.find("xy"), std::string::npos) << reason;
    EXPECT_EQ(entries(dir.path()), std::vector<std::string> { "vol_xy.gdr" });

    BlockDescriptor memory;
    ASSERT_TRUE(blockSetSize(memory, 4, 4, 4) && blockPrepareStorage(memory));
    EXPECT_EQ(buildCompanions(memory, {}, &reason), CompanionBuild::Failed);
}

TEST(CompanionBuildTest, WriteDuringTheBuildKeepsTheStaleCopiesOut)
{
    vexatest::TempDir dir;
    const std::string path = dir.file("w_xy.gdr");
    ASSERT_TRUE(writeVolume(path, 9, 8, 7, TYPEDATA_U8, 0));
    auto block = blockOpenFile(path);
    ASSERT_TRUE(block);
    CompanionHooks hooks;
    const unsigned char one = 1;
    hooks.progress = [&](int done, int) {
        if (done == 1)
            writeSection(*block, PLANE_FRONT, 0, 0, 0, &one, 1, 1, TYPEDATA_U8);
    };
    std::string reason;
    EXPECT_EQ(buildCompanions(*block, hooks, &reason, 2 * 9 * 7), CompanionBuild::Failed);
    EXPECT_NE(reason.find("modifié"), std::string::npos) << reason;
    EXPECT_EQ(entries(dir.path()), std::vector<std::string> { "w_xy.gdr" });
}

// Offsets past 4 GiB: a sparse 5 GiB file whose last plane holds a few samples.
TEST(LargeFileSections, ReadPastFourGibibytes)
{
    vexatest::TempDir dir;
    const std::string path = dir.file("big_xy.gdr");
    const int X = 65536, Y = 16384, Z = 5;
    FileDescriptor* d = vexaFileNew();
    vexaFileSetFullName(d, path.c_str());
    vexaFileSetSizes(d, X, Y, Z);
    vexaFileSetTypeData(d, TYPEDATA_U8);
    vexaFileSetNbBits(d, 8);
    vexaFileSetHeader(d, VEXAFILE_HEADER_GDR);
    ASSERT_TRUE(vexaFileWriteHeader(d));
    const off_t offset = vexaFileGetOffsetData(d);
    vexaFileRelease(d);
    const off_t planeBytes = off_t(X) * Y;
    int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    if (::ftruncate(fd, offset + planeBytes * Z) != 0) {
        ::close(fd);
        GTEST_SKIP() << "no room for a sparse 5 GiB file";
    }
    // Row Y - 2 of the last plane, columns X - 4 .. X - 1.
    const unsigned char row[4] = { 11, 22, 33, 44 };
    const off_t at = offset + planeBytes * (Z - 1) + off_t(Y - 2) * X + (X - 4);
    ASSERT_EQ(::pwrite(fd, row, 4, at), 4);
    ::close(fd);

    auto block = blockOpenFile(path);
    ASSERT_TRUE(block);
    // Through a kept mapping of the whole file, then through positioned reads.
    for (long long limit : { 1LL << 40, 1LL }) {
        MappedLimit bound(limit);
        auto* front = static_cast<unsigned char*>(
            readSection(*block, false, -1, PLANE_FRONT, Z - 1, X - 4, Y - 2, X - 1, Y - 2));
        ASSERT_NE(front, nullptr);
        EXPECT_EQ(std::memcmp(front, row, 4), 0);
        std::free(front);
        // RIGHT x = X - 2: columns are planes, the sample sits in the last one.
        auto* right = static_cast<unsigned char*>(
            readSection(*block, false, -1, PLANE_RIGHT, X - 2, Z - 2, Y - 3, Z - 1, Y - 1));
        ASSERT_NE(right, nullptr);
        const unsigned char expected[6] = { 0, 0, 0, 33, 0, 0 };
        EXPECT_EQ(std::memcmp(right, expected, 6), 0);
        std::free(right);
    }
}

} // namespace
