// Result files of block outputs: never over the samples of an open datum, never a
// half-made file in place of a good one.
#include "data/block.h"
#include "datatest_util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace vexa;

namespace {

using BlockResultFile = datatest::RegistryTest;

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> entries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::unique_ptr<BlockDescriptor> output(int dimX, int dimY, int dimZ)
{
    auto b = std::make_unique<BlockDescriptor>();
    EXPECT_TRUE(blockSetSize(*b, dimX, dimY, dimZ));
    return b;
}

TEST_F(BlockResultFile, FileOfAnOpenDatumIsRefusedWhateverItsName)
{
    datatest::TempDir dir;
    DataRecord* source = datatest::memoryBlock(4, 3, 2, TYPEDATA_U8,
        [](int x, int y, int z) { return datatest::coordinateCode(x, y, z) / 4; });
    ASSERT_NE(source, nullptr);
    std::filesystem::create_directories(dir.file("sub"));
    const std::string path = dir.file("sub/input.gdr");
    DataRecord* input = datatest::fileBlockFrom(source, path);
    ASSERT_NE(input, nullptr);
    const std::string before = contents(path);

    // The same file reached through another name, and through a hard link.
    const std::string other = dir.file("sub/../sub/./input.gdr");
    const std::string link = dir.file("link.gdr");
    ASSERT_EQ(::link(path.c_str(), link.c_str()), 0);
    for (const std::string& name : { path, other, link }) {
        auto result = output(4, 3, 2);
        std::string reason;
        EXPECT_FALSE(blockSetFile(*result, 0, name, &reason)) << name;
        EXPECT_EQ(reason.rfind(name + " : ", 0), 0u) << reason;
        EXPECT_NE(reason.find("lu par une donnée ouverte"), std::string::npos) << reason;
        EXPECT_EQ(result->storage, STORAGE_MEMORY);
        EXPECT_EQ(blockCopyToFile(*source->block(), name, &reason), false);
    }
    EXPECT_EQ(contents(path), before);

    // A logical volume over the file uses it too.
    const std::string description = dir.file("vol.xml");
    std::ofstream(description) << "<LOGICAL width=\"4\" height=\"3\" depth=\"2\"><PART "
                                  "NAME=\"sub/input.gdr\" X=\"0\" Y=\"0\" Z=\"0\"/></LOGICAL>";
    dataClose(input);
    auto object = std::make_unique<ImageObject>();
    object->block = blockOpenFile(description);
    ASSERT_TRUE(object->block);
    ASSERT_NE(showImageObject(std::move(object), kFreshId, kFreshId), nullptr);
    auto result = output(4, 3, 2);
    EXPECT_FALSE(blockSetFile(*result, 0, path));
    EXPECT_EQ(contents(path), before);

    // Any other file is fine.
    EXPECT_TRUE(blockSetFile(*result, 0, dir.file("result.gdr")));
}

TEST_F(BlockResultFile, SizeLimitKeepsTheOldFileAndFails)
{
    datatest::TempDir dir;
    const std::string path = dir.file("old.gdr");
    std::string old(5000, '\0');
    for (std::size_t i = 0; i < old.size(); ++i)
        old[i] = char(i * 13);
    std::ofstream(path, std::ios::binary) << old;

    auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit previous { };
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    struct rlimit limited = previous;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    auto result = output(100, 100, 10); // 100 000 samples: past the limit
    std::string reason;
    const bool made = blockSetFile(*result, 1, path, &reason);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousSignal);

    EXPECT_FALSE(made);
    EXPECT_EQ(reason.rfind(path + " : ", 0), 0u) << reason;
    EXPECT_NE(reason.find("taille maximale"), std::string::npos) << reason;
    EXPECT_EQ(result->storage, STORAGE_MEMORY);
    EXPECT_EQ(contents(path), old);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string> { "old.gdr" });
}

TEST_F(BlockResultFile, NewFileFollowsTheUmaskAndReplacedFileKeepsItsMode)
{
    datatest::TempDir dir;
    const std::string fresh = dir.file("fresh.gdr"), kept = dir.file("kept.gdr");
    std::ofstream(kept) << "old";
    ::chmod(kept.c_str(), 0640);
    const mode_t mask = ::umask(022);
    auto a = output(3, 2, 2);
    auto b = output(3, 2, 2);
    const bool madeFresh = blockSetFile(*a, 1, fresh);
    const bool madeKept = blockSetFile(*b, 1, kept);
    ::umask(mask);
    ASSERT_TRUE(madeFresh && madeKept);
    struct stat st { };
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // Header and room for every sample, zeroed.
    EXPECT_EQ(st.st_size, 256 + 3 * 2 * 2);
    ASSERT_EQ(::stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(b->fileName, kept);
    ASSERT_TRUE(b->file);
    EXPECT_EQ(vexaFileGetDimX(b->file.get()), 3);
}

} // namespace
