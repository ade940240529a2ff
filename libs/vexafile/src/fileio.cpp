#include "fileio.hpp"

#include "keptmap.hpp"
#include "vexafile_internal.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(sizeof(off_t) == 8, "file positions must be 64-bit");

namespace vexafile {

File::File(const std::string& path, Mode mode)
    : path_(path)
{
    int flags = O_CLOEXEC;
    // A file about to be written is mapped afresh by the next read.
    if (mode != Read)
        forgetKeptMapping(path);
    switch (mode) {
    case Read:
        flags |= O_RDONLY;
        break;
    case Update:
        flags |= O_RDWR;
        break;
    case Create:
        flags |= O_WRONLY | O_CREAT | O_TRUNC;
        break;
    }
    do {
        fd_ = ::open(path.c_str(), flags, 0666);
    } while (fd_ < 0 && errno == EINTR);
    const char* failure
        = mode == Create ? "Impossible de créer le fichier" : "Impossible d'ouvrir le fichier";
    if (fd_ < 0) {
        setLastError(path, failure, errno);
        return;
    }
    if (mode != Create) {
        // A directory opens for reading but is not an image file.
        struct stat st;
        if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            setLastError(path, failure, EISDIR);
        }
    }
}

File::~File()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int64_t File::size() const
{
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return -1;
    return st.st_size;
}

int64_t File::readAt(void* buffer, int64_t n, int64_t offset) const
{
    if (fd_ < 0 || n < 0 || offset < 0)
        return -1;
    auto* p = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < n) {
        // Linux transfers at most about 2 GiB per call.
        size_t chunk = size_t(std::min<int64_t>(n - done, int64_t(1) << 30));
        ssize_t r = ::pread(fd_, p + done, chunk, off_t(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            setLastError(path_, "Erreur de lecture", errno);
            return -1;
        }
        if (r == 0)
            break;
        done += r;
    }
    return done;
}

int64_t File::readSamplesAt(void* buffer, int64_t n, int64_t offset, int unit) const
{
    int64_t got = readAt(buffer, n, offset);
    if (got < 0 || unit <= 1)
        return got;
    int64_t partial = got % unit;
    if (partial)
        std::memset(static_cast<char*>(buffer) + got - partial, 0, size_t(partial));
    return got - partial;
}

bool File::readAtZeroFill(void* buffer, int64_t n, int64_t offset, int unit) const
{
    int64_t got = readSamplesAt(buffer, n, offset, unit);
    if (got < 0)
        return false;
    if (got < n)
        std::memset(static_cast<char*>(buffer) + got, 0, size_t(n - got));
    return true;
}

bool File::writeAt(const void* buffer, int64_t n, int64_t offset) const
{
    if (fd_ < 0 || n < 0 || offset < 0)
        return false;
    auto* p = static_cast<const char*>(buffer);
    int64_t done = 0;
    while (done < n) {
        size_t chunk = size_t(std::min<int64_t>(n - done, int64_t(1) << 30));
        ssize_t r = ::pwrite(fd_, p + done, chunk, off_t(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            setLastError(path_, "Erreur d'écriture", errno);
            return false;
        }
        if (r == 0) {
            setLastError(path_, "Erreur d'écriture", ENOSPC);
            return false;
        }
        done += r;
    }
    return true;
}

bool fileIsReadable(const std::string& path)
{
    File f(path, File::Read);
    return f.isOpen();
}

} // namespace vexafile
