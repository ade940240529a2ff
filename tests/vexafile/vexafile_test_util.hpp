// Helpers of the vexaFile tests: scratch directories and raw file bytes.
#pragma once

#include "support/tempdir.h"
#include "vexafile.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace vexafile_test {

using vexatest::TempDir;

using Bytes = std::vector<unsigned char>;

inline void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Writes bytes to a new file of the directory. Loops that try many contents use a new
// name each time: rewriting one file in place makes ext4 flush it on every close.
inline std::string writeFresh(const TempDir& dir, const Bytes& bytes)
{
    static int counter = 0;
    std::string path = dir.file("fresh" + std::to_string(++counter));
    writeBytes(path, bytes);
    return path;
}

// Calls check(path, n) for every n from size - 1 down to 0, the file holding the first
// n bytes of bytes. The file is shortened in place (cheaper than rewriting it).
template <typename F> void forEachTruncation(const TempDir& dir, const Bytes& bytes, F&& check)
{
    std::string path = writeFresh(dir, bytes);
    for (size_t n = bytes.size(); n-- > 1;) {
        std::filesystem::resize_file(path, n);
        check(path, n);
    }
    check(writeFresh(dir, {}), size_t(0));
}

inline void writeText(const std::string& path, const std::string& text)
{
    writeBytes(path, Bytes(text.begin(), text.end()));
}

inline Bytes readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct DescDeleter {
    void operator()(FileDescriptor* d) const { vexaFileRelease(d); }
};
using Desc = std::unique_ptr<FileDescriptor, DescDeleter>;

struct BufferDeleter {
    void operator()(void* p) const { vexaFileFree(p); }
};
using Buffer = std::unique_ptr<void, BufferDeleter>;

template <typename T> const T* as(const Buffer& b)
{
    return static_cast<const T*>(b.get());
}

inline Desc openDesc(const std::string& path)
{
    return Desc(vexaFileNameOpen(path.c_str()));
}

// A descriptor of a headerless file (created empty when absent) with the given layout.
inline Desc rawDesc(
    const std::string& path, int w, int h, int d, int type, int endian, int offset = 0)
{
    if (!std::filesystem::exists(path))
        writeBytes(path, {});
    Desc desc(vexaFileNew());
    vexaFileSetFullName(desc.get(), path.c_str());
    vexaFileSetSizes(desc.get(), w, h, d);
    vexaFileSetTypeData(desc.get(), type);
    vexaFileSetNbBits(desc.get(), 8 * vexaTypeSize(type));
    vexaFileSetEndian(desc.get(), endian);
    vexaFileSetOffsetData(desc.get(), offset);
    return desc;
}

} // namespace vexafile_test
