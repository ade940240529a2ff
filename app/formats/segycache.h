// SEG-Y cubes too large for memory: converted once, trace by trace, into a file of
// the workstation's own format that then serves them as a file block. The converted
// file lives in the user's cache folder under a name made of the SEG-Y file's device,
// inode, size and modification time, so that a changed file is converted again and
// the next open of an unchanged one reads no trace at all.
#pragma once

#include <cstdint>
#include <string>

#include "formats/formats.h"

namespace vexa {

// Progress of long work inside an open, installed by the layer that runs tasks (the
// formats know nothing of tasks). range sets the interval; proceed moves to a
// position and is false once the work should stop. Either may be null.
struct FormatProgress {
    void (*range)(std::int32_t first, std::int32_t last) = nullptr;
    bool (*proceed)(std::int32_t position) = nullptr;
};
void setFormatProgress(FormatProgress progress);

// True when a volume of bytes is better kept in a file: it is larger than the
// configured share (config::fileBlockShare) of available memory.
bool keepVolumeInFile(std::uint64_t bytes, std::uint64_t available);

// $XDG_CACHE_HOME/vexa, else ~/.cache/vexa; empty when neither can be named.
std::string vexaCacheDirectory();

enum class SegyCacheOutcome {
    Ready, // cachePath holds the cube
    Stopped, // the conversion was stopped: nothing left behind
    Failed, // reason says why (French, naming the file); nothing left behind
};

// The own-format file holding the cube of path, probed by segyReader into header
// (a regular cube): reused when it is still the conversion of the unchanged file,
// converted otherwise (written beside its final name and renamed when complete;
// older conversions of a file at the same place are removed). inUse, when given,
// tells the conversions an open datum still reads: those are neither removed nor
// replaced (a modified one in use is refused). cachePath is set on Ready.
SegyCacheOutcome segyCacheFile(const std::string& path, const FormatHeader& header,
    std::string& cachePath, std::string* reason,
    bool (*inUse)(const std::string& cachePath) = nullptr);

// Fills out with the FRONT planes [firstPlane, firstPlane + planes) of a cube probed
// by segyReader (planes * width * height floats); false with a reason when the planes
// are outside the cube, the file changed or a trace does not read.
bool segyReadPlanes(const std::string& path, const FormatHeader& header, int firstPlane, int planes,
    float* out, std::string* reason);

} // namespace vexa
