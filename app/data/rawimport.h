// Import of image files whose header is not recognised: the user describes the
// layout (bytes to skip, sizes, sample format, byte order) in a parameter box, and
// the samples are read as described.
#pragma once

#include "data/datarecord.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vexa {

// The ten answers of the raw import box, in the order of the box.
struct RawImportSettings {
    std::int32_t headerSize = 0; // bytes skipped before the first sample
    std::int32_t width = 2048;
    std::int32_t height = 2048;
    std::int32_t depth = 1;
    std::int32_t inMemory = 0; // "File": the samples are read whole into memory
    std::int32_t numberFormat = 0; // 0 integer, 1 floating point
    std::int32_t littleEndian = 0;
    std::int32_t integerSign = 0; // 0 "Non signé", 1 "Signé"
    std::int32_t integerSize = 1; // 0 8 bits, 1 16 bits, 2 32 bits
    std::int32_t floatSize = 0; // 0 "Float", 1 "Double"
};

// The description of the raw import box; its ten fields bind the settings in order.
extern const char* const kRawImportDescription;

// The answers remembered for the rest of the run (the defaults until a box is
// confirmed). Safe from any thread.
RawImportSettings rawImportRemembered();
void rawImportRemember(const RawImportSettings& settings);

// Shows the box with settings as its values. True when confirmed: settings then
// hold the answers. Nothing is remembered here.
bool rawImportAsk(RawImportSettings& settings);

// How the answers read: the sample type with its bit count and sign, and the
// descriptor's Endian (1 for big-endian samples).
struct RawLayout {
    int typeData = TYPEDATA_U16;
    int nbBits = 16;
    int sign = 0;
    int endian = 1;
};
RawLayout rawImportLayout(const RawImportSettings& settings);

// A descriptor of path with the layout of the answers. Null with a reason (French,
// for the user) when the file cannot be opened, a size is not positive, the header
// size is negative, or the samples described would reach past the end of the file
// (byte counts computed without overflow).
FileHandle rawImportDescriptor(
    const std::string& path, const RawImportSettings& settings, std::string* reason = nullptr);

// The datum described by the answers: a 2D image in memory when the depth is 1, a
// block in memory when "File" is checked and memory can hold it, otherwise a block
// left in the file. Null
// with a reason when the descriptor is refused or the samples cannot be read.
std::unique_ptr<ImageObject> rawImportObject(
    const std::string& path, const RawImportSettings& settings, std::string* reason = nullptr);

} // namespace vexa
