#include "atomicsave.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

class AtomicSave : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/atomicsave-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }

    std::string file(const std::string& name) const { return dir_ + "/" + name; }

    static std::string contents(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void put(const std::string& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    static mode_t modeOf(const std::string& path)
    {
        struct stat st { };
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }
    // Names in folder: a failed save must leave no temporary behind.
    static std::vector<std::string> entries(const std::string& folder)
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        return names;
    }

    std::string dir_;
};

bool save(const std::string& path, const std::string& text, int* error = nullptr)
{
    return atomicsave::saveBytes(path, text.data(), text.size(), error);
}

TEST_F(AtomicSave, ReplacedFileKeepsItsModeAndNewFileFollowsTheUmask)
{
    const std::string old = file("old.txt");
    put(old, "before");
    ::chmod(old.c_str(), 0640);
    ASSERT_TRUE(save(old, "after"));
    EXPECT_EQ(contents(old), "after");
    EXPECT_EQ(modeOf(old), 0640u);

    for (mode_t mask : { mode_t(022), mode_t(027), mode_t(077) }) {
        const mode_t previous = ::umask(mask);
        const std::string fresh = file("new" + std::to_string(mask));
        const bool ok = save(fresh, "x");
        ::umask(previous);
        ASSERT_TRUE(ok);
        EXPECT_EQ(modeOf(fresh), 0666u & ~mask) << "umask " << std::oct << mask;
    }
    EXPECT_EQ(entries(dir_).size(), 4u);
}

TEST_F(AtomicSave, LongNameInDeepFolder)
{
    std::string folder = dir_;
    for (int i = 0; i < 12; ++i)
        folder += "/" + std::string(200, char('a' + i));
    ASSERT_TRUE(fs::create_directories(folder));
    const std::string path = folder + "/" + std::string(250, 'n');
    ASSERT_TRUE(save(path, "first"));
    ASSERT_TRUE(save(path, "second"));
    EXPECT_EQ(contents(path), "second");
    EXPECT_EQ(entries(folder), std::vector<std::string> { std::string(250, 'n') });
}

TEST_F(AtomicSave, SymbolicLinkIsKeptAndItsFileReplaced)
{
    const std::string real = file("real.txt"), link = file("link.txt");
    put(real, "old");
    ::chmod(real.c_str(), 0600);
    ASSERT_EQ(::symlink("real.txt", link.c_str()), 0);
    ASSERT_TRUE(save(link, "new"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contents(real), "new");
    EXPECT_EQ(modeOf(real), 0600u);
}

TEST_F(AtomicSave, FailedRenameLeavesNoTemporary)
{
    const std::string target = file("target");
    ASSERT_TRUE(fs::create_directory(target));
    int error = 0;
    EXPECT_FALSE(save(target, "data", &error));
    EXPECT_EQ(error, EISDIR);

    // The target turns into a folder while the file is being written: the rename
    // itself is refused.
    const std::string late = file("late");
    atomicsave::AtomicFile f;
    ASSERT_TRUE(f.open(late));
    ASSERT_TRUE(f.write("data", 4));
    ASSERT_TRUE(fs::create_directory(late));
    EXPECT_FALSE(f.commit());
    EXPECT_NE(f.error(), 0);
    EXPECT_TRUE(fs::is_directory(late));
    EXPECT_EQ(entries(dir_).size(), 2u);
}

TEST_F(AtomicSave, ReadOnlyFolderIsRefusedAndTheFileKept)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    const std::string path = file("kept.txt");
    put(path, "kept");
    ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
    int error = 0;
    EXPECT_FALSE(save(path, "lost", &error));
    ::chmod(dir_.c_str(), 0755);
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(contents(path), "kept");
    EXPECT_EQ(entries(dir_), std::vector<std::string> { "kept.txt" });
}

// A size limit stands in for a full disk: both fail the write half-way.
TEST_F(AtomicSave, SizeLimitKeepsTheOldFileByteForByte)
{
    const std::string path = file("volume.raw");
    std::string old(3000, '\0');
    for (std::size_t i = 0; i < old.size(); ++i)
        old[i] = char(i * 7);
    put(path, old);

    auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit previous { };
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    struct rlimit limited = previous;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    int error = 0;
    const bool ok = save(path, std::string(10000, 'z'), &error);
    atomicsave::AtomicFile f;
    const bool opened = f.open(path);
    const bool wrote = opened && f.write(std::string(5000, 'y').data(), 5000);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousSignal);

    EXPECT_FALSE(ok);
    EXPECT_EQ(error, EFBIG);
    EXPECT_TRUE(opened);
    EXPECT_FALSE(wrote);
    EXPECT_FALSE(f.commit());
    EXPECT_EQ(f.error(), EFBIG);
    EXPECT_EQ(contents(path), old);
    EXPECT_EQ(entries(dir_), std::vector<std::string> { "volume.raw" });
}

TEST_F(AtomicSave, DroppedSaveRemovesItsTemporary)
{
    const std::string path = file("doc.xml");
    put(path, "old");
    {
        atomicsave::AtomicFile f;
        ASSERT_TRUE(f.open(path));
        ASSERT_TRUE(f.write("new", 3));
        EXPECT_TRUE(fs::exists(f.tempPath()));
    }
    EXPECT_EQ(contents(path), "old");
    EXPECT_EQ(entries(dir_), std::vector<std::string> { "doc.xml" });
}

} // namespace
