// Saving a file so that it is replaced whole or not at all.
//
// The new contents go to a temporary file in the target's folder (so the final
// rename stays on one file system) and reach the target's name only once written and
// flushed to disk. Any failure on the way (write error, full disk, file size limit,
// rename refused) removes the temporary and leaves the old file as it was.
#pragma once

#include <cstddef>
#include <string>

namespace atomicsave {

class AtomicFile {
public:
    AtomicFile() = default;
    // Discards the temporary unless committed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary beside target. It takes the permission bits of target
    // when target exists, and 0666 less the umask otherwise. A symbolic link is
    // followed: the file it points to is replaced, the link kept. False, with
    // error() set, when the temporary cannot be created or target exists and is not
    // a regular file.
    bool open(const std::string& target);

    // The temporary, open for writing; -1 before open or after commit or discard.
    // Other writers may also open tempPath() by name: commit flushes the file
    // whoever wrote it.
    int fd() const { return fd_; }
    const std::string& tempPath() const { return temp_; }
    // The file that commit replaces (target, or what its link points to).
    const std::string& target() const { return target_; }

    // Appends size bytes to the temporary. False, with error() set, when any byte
    // cannot be written; the temporary is then discarded.
    bool write(const void* data, std::size_t size);

    // Flushes the temporary to disk, renames it over the target and flushes the
    // folder. False, with error() set, the temporary removed and the target
    // untouched, on failure.
    bool commit();

    // Removes the temporary; nothing once committed. Keeps error().
    void discard();

    // The errno of the first failure; 0 when none happened.
    int error() const { return error_; }

private:
    bool failWith(int err);

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    int error_ = 0;
};

// Replaces the contents of path by size bytes through an AtomicFile. False on
// failure, with errno set to the cause (also stored in *error when given).
bool saveBytes(const std::string& path, const void* data, std::size_t size, int* error = nullptr);

} // namespace atomicsave
