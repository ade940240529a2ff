// Scratch files for entry points whose reader takes a path: one folder per process,
// created once and reused, so a long campaign leaves nothing behind but that folder
// (removed at exit) and never fills the disk.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fuzzscratch {

class Folder {
public:
    Folder()
    {
        const char* tmp = std::getenv("TMPDIR");
        path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vexa_fuzz_" + std::to_string(getpid());
        std::error_code ec;
        std::filesystem::create_directories(path_, ec);
    }
    ~Folder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline Folder& folder()
{
    static Folder f;
    return f;
}

// Rewrites path in place and cuts it to size: truncating to nothing before each
// write makes ext4 flush the file on close, which slows a fuzzer a hundredfold.
inline bool put(const std::string& path, const void* data, std::size_t size)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0)
        return false;
    bool ok = size == 0 || ::pwrite(fd, data, size, 0) == ssize_t(size);
    ok = ::ftruncate(fd, off_t(size)) == 0 && ok;
    ::close(fd);
    return ok;
}

inline bool put(const std::string& path, const std::string& text)
{
    return put(path, text.data(), text.size());
}

// Reads little-endian integers off the front of the input; zeros once it runs out.
class Controls {
public:
    Controls(const std::uint8_t*& data, std::size_t& size)
        : data_(data)
        , size_(size)
    {
    }
    std::uint32_t u32()
    {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t(byte()) << (8 * i);
        return v;
    }
    std::int32_t i32() { return std::int32_t(u32()); }
    std::uint8_t byte()
    {
        if (size_ == 0)
            return 0;
        --size_;
        return *data_++;
    }

private:
    const std::uint8_t*& data_;
    std::size_t& size_;
};

} // namespace fuzzscratch
