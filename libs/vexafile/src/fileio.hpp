// Files opened per operation, positioned reads and writes with 64-bit offsets.
// Failures record their cause as the thread's last error.
#pragma once

#include <cstdint>
#include <string>

namespace vexafile {

class File {
public:
    enum Mode { Read, Update, Create };
    File() = default;
    File(const std::string& path, Mode mode);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Current size in bytes, -1 on failure.
    int64_t size() const;
    // Reads up to n bytes at offset; returns the count read (short at end of file),
    // -1 on error.
    int64_t readAt(void* buffer, int64_t n, int64_t offset) const;
    // Reads n bytes at offset and zero-fills whatever lies beyond the end of file,
    // including a last sample of unit bytes that the file holds only in part.
    bool readAtZeroFill(void* buffer, int64_t n, int64_t offset, int unit = 1) const;
    // Reads up to n bytes at offset; a trailing partial sample of unit bytes is zeroed.
    // Returns the count of whole-sample bytes read, -1 on error.
    int64_t readSamplesAt(void* buffer, int64_t n, int64_t offset, int unit) const;
    bool writeAt(const void* buffer, int64_t n, int64_t offset) const;

private:
    std::string path_;
    int fd_ = -1;
};

bool fileIsReadable(const std::string& path);

} // namespace vexafile
