// Read-only mappings of whole files kept between calls, so that sections of a file
// read again and again gather straight from memory instead of paying an open, a
// mapping and its page faults every time.
//
// A mapping is found again only while the file on disk is still the one mapped:
// one fstatat per lookup compares device, inode, size and modification time, so a
// file replaced by rename or resized is mapped afresh, never read stale. Writes
// through this library and releasing a descriptor drop the file's mapping; the
// cache holds a bounded number of mappings and of mapped bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vexafile {

class KeptMapping {
public:
    KeptMapping(const unsigned char* data, int64_t size)
        : data_(data)
        , size_(size)
    {
    }
    ~KeptMapping();
    KeptMapping(const KeptMapping&) = delete;
    KeptMapping& operator=(const KeptMapping&) = delete;
    const unsigned char* data() const { return data_; }
    int64_t size() const { return size_; }

private:
    const unsigned char* data_;
    int64_t size_;
};

// The mapping of the file at path, made now or kept from an earlier call; null when
// the file cannot be opened or mapped, is empty or too large to keep (callers then
// read it the ordinary way, which reports the failure). The result stays valid
// while held, even once dropped from the cache.
std::shared_ptr<const KeptMapping> keptMapping(const std::string& path);

// Drops the mapping kept for path, if any.
void forgetKeptMapping(const std::string& path);

// Files whose samples take more bytes than this are read without a kept mapping
// (vexaFileSetMappedFileLimit).
int64_t mappedFileLimit();

// Bounds of the cache.
constexpr int kKeptMappingsMax = 16;
constexpr int64_t kKeptBytesMax = int64_t(64) << 30;

} // namespace vexafile
