#include "atomicsave.hpp"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace atomicsave {

namespace {

// Writing through a symbolic link replaces the file it points to, not the link.
std::string resolveLink(const std::string& path)
{
    struct stat st { };
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string resolved(real);
            std::free(real);
            return resolved;
        }
    }
    return path;
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// The rename is only durable once the folder entry is on disk. Some file systems
// cannot sync a folder; the file itself is already safe, so that is not a failure.
void syncFolder(const std::string& folder)
{
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return;
    (void)::fsync(dir);
    ::close(dir);
}

} // namespace

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::failWith(int err)
{
    if (error_ == 0)
        error_ = err != 0 ? err : EIO;
    discard();
    errno = error_;
    return false;
}

bool AtomicFile::open(const std::string& target)
{
    discard();
    error_ = 0;
    if (target.empty())
        return failWith(ENOENT);
    target_ = resolveLink(target);

    struct stat existing { };
    const bool replacing = ::stat(target_.c_str(), &existing) == 0;
    if (replacing && !S_ISREG(existing.st_mode))
        return failWith(S_ISDIR(existing.st_mode) ? EISDIR : EINVAL);

    // A short name of its own, whatever the length of the target's name, so that it
    // keeps clear of the name length limit.
    static std::atomic<unsigned> counter { 0 };
    const std::string prefix = folderOf(target_) + "/.save-" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix + std::to_string(counter.fetch_add(1)) + ".tmp";
        // 0666 goes through the umask, as for any new file.
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = fd;
            temp_ = std::move(name);
            break;
        }
        if (errno != EEXIST && errno != EINTR)
            return failWith(errno);
    }
    if (fd_ < 0)
        return failWith(EEXIST);
    if (replacing && ::fchmod(fd_, existing.st_mode & 07777) != 0)
        return failWith(errno);
    return true;
}

bool AtomicFile::write(const void* data, std::size_t size)
{
    if (fd_ < 0)
        return failWith(EBADF);
    const auto* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        ssize_t put = ::write(fd_, p + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return failWith(errno);
        if (put == 0)
            return failWith(ENOSPC);
        done += std::size_t(put);
    }
    return true;
}

bool AtomicFile::commit()
{
    if (fd_ < 0)
        return failWith(error_ != 0 ? error_ : EBADF);
    if (::fsync(fd_) != 0)
        return failWith(errno);
    // close reports delayed write errors (a full disk on a network file system).
    int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0)
        return failWith(errno);
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        return failWith(errno);
    temp_.clear();
    syncFolder(folderOf(target_));
    return true;
}

void AtomicFile::discard()
{
    const int saved = errno;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
    errno = saved;
}

bool saveBytes(const std::string& path, const void* data, std::size_t size, int* error)
{
    AtomicFile file;
    bool ok = file.open(path) && file.write(data, size) && file.commit();
    if (error)
        *error = file.error();
    if (!ok)
        errno = file.error();
    return ok;
}

} // namespace atomicsave
