// Headers that claim more than the file or the memory can give: refused or left in
// the file, never a reservation of memory for samples that do not exist.
#include "importtest_util.h"

#include <gtest/gtest.h>

using importtest::ImportTest;

namespace {

using OpenLimits = ImportTest;

// A GDR header of w x h x d U8, and nothing else.
void writeGdrHeader(const std::string& path, int w, int h, int d)
{
    FileDescriptor* desc = vexaFileNew();
    vexaFileSetFullName(desc, path.c_str());
    vexaFileSetSizes(desc, w, h, d);
    vexaFileSetTypeData(desc, TYPEDATA_U8);
    vexaFileSetHeader(desc, VEXAFILE_HEADER_GDR);
    EXPECT_EQ(vexaFileWriteHeader(desc), 1);
    vexaFileRelease(desc);
}

TEST_F(OpenLimits, HeaderClaimingTenGigabytesFromAFewBytesIsRefused)
{
    const std::string path = file("huge.gdr");
    writeGdrHeader(path, 100000, 100000, 1);
    ASSERT_EQ(std::filesystem::file_size(path), 256u);
    vexa::OpenResult result = vexa::dataOpen(path);
    EXPECT_EQ(result.outcome, vexa::OpenOutcome::Failed);
    EXPECT_EQ(result.reason.rfind(path + " : ", 0), 0u) << result.reason;
    EXPECT_NE(result.reason.find("100000 x 100000"), std::string::npos) << result.reason;
    EXPECT_TRUE(vexa::dataListAll().empty());

    // Through the command the reason is shown.
    EXPECT_EQ(vexa::dataOpenFileWithMessages(path), nullptr);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], "Erreur|" + result.reason);
}

TEST_F(OpenLimits, ImageLargerThanMemoryIsRefusedNamingItsSize)
{
    const std::string path = file("vast.gdr");
    writeGdrHeader(path, 999999, 999999, 1);
    std::error_code ec;
    std::filesystem::resize_file(path, 256 + std::uintmax_t(999999) * 999999, ec);
    if (ec)
        GTEST_SKIP() << "the file system refuses a sparse file of 1 TB";
    std::string reason;
    EXPECT_EQ(vexa::dataOpenFile(path, &reason), nullptr);
    EXPECT_EQ(reason.rfind(path + " : ", 0), 0u) << reason;
    EXPECT_NE(reason.find("999999 x 999999 (931,3 Go)"), std::string::npos) << reason;
    EXPECT_NE(reason.find("mémoire disponible"), std::string::npos) << reason;
}

TEST_F(OpenLimits, VolumeLargerThanMemoryStaysInItsFile)
{
    const std::string path = file("vast.raw");
    importtest::writeBytes(path, {});
    std::error_code ec;
    std::filesystem::resize_file(path, std::uintmax_t(100000) * 100000 * 100, ec);
    if (ec)
        GTEST_SKIP() << "the file system refuses a sparse file of 1 TB";
    vexa::RawImportSettings s;
    s.width = 100000;
    s.height = 100000;
    s.depth = 100;
    s.integerSize = 0;
    s.inMemory = 1;
    std::string reason;
    auto object = vexa::rawImportObject(path, s, &reason);
    ASSERT_TRUE(object) << reason;
    ASSERT_TRUE(object->block);
    EXPECT_EQ(object->block->storage, vexa::STORAGE_FILE);
    EXPECT_FALSE(object->block->samples);
}

TEST(ByteCounts, ReadInFrenchUnits)
{
    EXPECT_EQ(vexa::byteCountText(256), "256 octets");
    EXPECT_EQ(vexa::byteCountText(std::uint64_t(3) << 19), "1,5 Mo");
    EXPECT_EQ(vexa::byteCountText(std::uint64_t(10000000000)), "9,3 Go");
}

} // namespace
