// Header readers and the first plane of whatever they accept, fed arbitrary bytes.
#include "vexafile.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

std::string scratchPath()
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/vexafile_fuzz_" + std::to_string(getpid());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = scratchPath();
    // Rewritten in place and cut to size: truncating a file to nothing before each
    // write makes ext4 flush it on close, which slows the fuzzer a hundredfold.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0)
        return 0;
    bool ok = size == 0 || ::pwrite(fd, data, size, 0) == ssize_t(size);
    ok = ::ftruncate(fd, off_t(size)) == 0 && ok;
    ::close(fd);
    if (!ok)
        return 0;

    FileDescriptor* desc = vexaFileNameOpen(path.c_str());
    if (desc && vexaFileReadHeader(desc)) {
        int w = 0, h = 0, d = 0;
        vexaFileGetSizes(desc, &w, &h, &d);
        // A header may rightly claim a huge volume; the harness reads only planes that
        // are reasonable to allocate.
        if (int64_t(w) * h * 8 <= (int64_t(4) << 20) && int64_t(w) * d * 8 <= (int64_t(4) << 20)) {
            vexaFileFree(vexaFileReadImage(desc, 0, 0));
            vexaFileFree(vexaFileReadImage(desc, 2, 0));
        }
        double value = 0;
        vexaFileGetComment(desc, "PASECH", &value);
    }
    vexaFileRelease(desc);
    return 0;
}
