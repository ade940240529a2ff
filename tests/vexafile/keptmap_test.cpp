// Sections read again and again come from a mapping kept between calls: it must
// never serve a file that changed on disk, nor pile up mappings or descriptors.
#include "vexafile_test_util.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <fstream>

using namespace vexafile_test;

namespace {

// A U8 volume whose every sample holds value.
Bytes filled(int X, int Y, int Z, unsigned char value)
{
    return Bytes(size_t(X) * Y * Z, value);
}

bool allEqual(const Buffer& b, size_t n, unsigned char value)
{
    for (size_t i = 0; i < n; ++i)
        if (as<unsigned char>(b)[i] != value)
            return false;
    return true;
}

int countLines(const char* path)
{
    std::ifstream in(path);
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        ++n;
    return n;
}

int countOpenDescriptors()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

} // namespace

TEST(VexaFileKeptMapping, FileReplacedByRenameIsReadFresh)
{
    TempDir dir;
    const int X = 64, Y = 64, Z = 64;
    for (int tiled : { 0, 1 }) {
        std::string path = dir.file(tiled ? "tiled" : "plain");
        writeBytes(path, filled(X, Y, Z, 1));
        Desc d = rawDesc(path, X, Y, Z, TYPEDATA_U8, 0);
        vexaFileSetTiled(d.get(), tiled);
        for (int o : { 0, 1, 2 }) {
            Buffer a(vexaFileReadImage(d.get(), o, 5));
            ASSERT_TRUE(a);
            EXPECT_TRUE(allEqual(a, size_t(X) * Y, 1)) << tiled << o;
        }
        // Same size, written elsewhere and renamed over the original: a new file
        // that a stale mapping would hide.
        writeBytes(path + ".new", filled(X, Y, Z, 2));
        std::filesystem::rename(path + ".new", path);
        for (int o : { 0, 1, 2 }) {
            Buffer b(vexaFileReadImage(d.get(), o, 5));
            ASSERT_TRUE(b);
            EXPECT_TRUE(allEqual(b, size_t(X) * Y, 2)) << tiled << o;
        }
        // Written through the library: the next read sees the new samples.
        Bytes plane(size_t(X) * Y, 3);
        ASSERT_EQ(vexaFileWriteImage(d.get(), plane.data(), 1, 5), 1);
        Buffer c(vexaFileReadImage(d.get(), 1, 5));
        ASSERT_TRUE(c);
        EXPECT_TRUE(allEqual(c, size_t(X) * Y, 3)) << tiled;
        // Cut short in place: reading the missing planes must not touch pages past the
        // new end of the file (that would kill the process), they read as zeros.
        std::filesystem::resize_file(path, size_t(X) * Y * 8);
        Buffer e(vexaFileReadImage(d.get(), 1, 5));
        ASSERT_TRUE(e);
        EXPECT_EQ(as<unsigned char>(e)[0], 3);
        EXPECT_EQ(as<unsigned char>(e)[Z - 1], 0);
        // Gone: the read fails as without a kept mapping, with the reason.
        std::filesystem::remove(path);
        EXPECT_EQ(vexaFileReadImage(d.get(), 1, 5), nullptr);
        EXPECT_NE(std::string(vexaFileGetLastError()), "");
    }
}

// Above the mapped-file limit reads go through positioned reads (and, for lines too
// long to read whole, one short-lived mapping per plane): they must give what the
// kept mapping gives, a file cut short included.
TEST(VexaFileKeptMapping, FilesAboveTheLimitReadTheSame)
{
    TempDir dir;
    const int X = 66000, Y = 3, Z = 4;
    Bytes bytes(size_t(X) * Y * Z);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 13 % 251);
    const std::string path = dir.file("long");
    writeBytes(path, bytes);
    ASSERT_GT(vexaFileGetMappedFileLimit(), 0);
    for (int cut : { 0, 1 }) {
        if (cut)
            std::filesystem::resize_file(path, bytes.size() - size_t(X) * Y / 2);
        for (int transpose : { 0, 1 }) {
            Desc d = rawDesc(path, X, Y, Z, TYPEDATA_U8, 0);
            vexaFileSetTranspose(d.get(), transpose);
            int w, h, depth;
            vexaFileGetSizes(d.get(), &w, &h, &depth);
            for (int o : { 0, 1, 2 }) {
                const int count = o == 0 ? w : o == 1 ? depth : w;
                for (int index : { 0, count / 2, count - 1 }) {
                    vexaFileSetMappedFileLimit(0);
                    Buffer kept(vexaFileReadImage(d.get(), o, index));
                    vexaFileSetMappedFileLimit(1);
                    Buffer read(vexaFileReadImage(d.get(), o, index));
                    vexaFileSetMappedFileLimit(0);
                    ASSERT_TRUE(kept && read);
                    const size_t n = o == 0 ? size_t(w) * h
                        : o == 1            ? size_t(depth) * h
                                            : size_t(w) * depth;
                    EXPECT_EQ(std::memcmp(kept.get(), read.get(), n), 0)
                        << cut << transpose << o << index;
                }
            }
        }
    }
}

TEST(VexaFileKeptMapping, ThousandsOfFilesLeaveNoMappingOrDescriptor)
{
    TempDir dir;
    const int mapsBefore = countLines("/proc/self/maps");
    const int fdsBefore = countOpenDescriptors();
    std::vector<Desc> kept;
    for (int i = 0; i < 2000; ++i) {
        std::string path = dir.file("f" + std::to_string(i));
        writeBytes(path, filled(16, 16, 16, (unsigned char)(i & 0xff)));
        Desc d = rawDesc(path, 16, 16, 16, TYPEDATA_U8, 0);
        Buffer right(vexaFileReadImage(d.get(), 1, 3));
        ASSERT_TRUE(right);
        ASSERT_TRUE(allEqual(right, 256, (unsigned char)(i & 0xff))) << i;
        // Half the files are deleted while their descriptor lives on, half released.
        std::filesystem::remove(path);
        if (i % 2)
            kept.push_back(std::move(d));
    }
    EXPECT_LE(countLines("/proc/self/maps"), mapsBefore + 40);
    EXPECT_EQ(countOpenDescriptors(), fdsBefore);
}
