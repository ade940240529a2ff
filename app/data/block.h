// Block storage: a 3D volume of one sample type kept in memory as one contiguous
// array, or in an image file read and written section by section.
#pragma once

#include "vexa_types.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

struct FileDescriptor; // vexaFile's descriptor (libs/vexafile)

namespace vexa {

struct DataRecord;

// Zero-filled sample memory from calloc, so that pointers handed to C code may be
// read by anyone; byte counts are 64-bit.
class SampleBuffer {
public:
    SampleBuffer() = default;
    ~SampleBuffer() { reset(); }
    SampleBuffer(const SampleBuffer&) = delete;
    SampleBuffer& operator=(const SampleBuffer&) = delete;
    SampleBuffer(SampleBuffer&& other) noexcept { swap(other); }
    SampleBuffer& operator=(SampleBuffer&& other) noexcept
    {
        if (this != &other) {
            reset();
            swap(other);
        }
        return *this;
    }

    // Allocates bytes zeroed bytes; false (and empty) when memory runs out.
    bool allocate(std::size_t bytes);
    // Takes a malloc/calloc allocation.
    void adopt(void* data, std::size_t bytes);
    void reset();
    void swap(SampleBuffer& other) noexcept
    {
        std::swap(data_, other.data_);
        std::swap(bytes_, other.bytes_);
    }

    void* data() const { return data_; }
    std::uint8_t* bytes() const { return static_cast<std::uint8_t*>(data_); }
    std::size_t size() const { return bytes_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    void* data_ = nullptr;
    std::size_t bytes_ = 0;
};

// Releases a vexaFile descriptor.
struct FileDescriptorDeleter {
    void operator()(FileDescriptor* file) const;
};
using FileHandle = std::unique_ptr<FileDescriptor, FileDescriptorDeleter>;

// A palette is addressed by its (family, variant) pair in the palette list.
struct PaletteRef {
    int family = 0;
    int variant = 0;
    bool operator==(const PaletteRef&) const = default;
};

enum ValueClass : int {
    CLASS_DEFAULT = 0,
    CLASS_LABEL = 1,
    CLASS_DIRECTION = 2,
    CLASS_BOOLEAN = 3,
    CLASS_ORIENTATION = 4,
};

// Palette, gain and offset that a value class sets. False for an unknown class.
struct ClassSettings {
    PaletteRef palette;
    double gain = 1;
    double offset = 0;
};
bool valueClassSettings(int valueClass, ClassSettings& out);

// The palette new data get, and the one CLASS_DEFAULT selects (the first of the list).
// The palette list sets them when it is built; both default to (0, 0).
void setDefaultPalette(PaletteRef palette);
PaletteRef defaultPalette();
void setFirstPalette(PaletteRef palette);
PaletteRef firstPalette();

enum BlockStorage : int { STORAGE_MEMORY = 0, STORAGE_FILE = 1 };

struct BlockDescriptor {
    BlockDescriptor();
    ~BlockDescriptor();

    int dimX = 0, dimY = 0, dimZ = 0;
    int storage = STORAGE_MEMORY;
    int typeData = TYPEDATA_U8;
    SampleBuffer samples; // storage 0
    std::string fileName; // storage 1
    // A file made for this block alone (an extraction's description), removed with it.
    std::string temporaryFile;
    FileHandle file; // header read
    FileHandle topFile; // x-z companion: its FRONT y is TOP y
    FileHandle rightFile; // y-z companion: its FRONT k is RIGHT dimX - 1 - k
    // Counts writes to the file (they make companions stale), so that companions built
    // while the block was written are not attached.
    std::uint64_t fileWrites = 0;
    int writeOp = 0;
    double valueGain = 1, valueOffset = 0;
    int valueScaleOn = 0;
    int valueClass = CLASS_DEFAULT;
    PaletteRef palette;
    double computeTime = 0;
    // The current RIGHT, TOP and FRONT indexes. Views move it on the interface thread
    // while tasks read it.
    std::atomic<int> cursorX { 0 }, cursorY { 0 }, cursorZ { 0 };
    std::vector<int> clickX, clickY, clickZ;
    std::vector<int> captureX, captureY, captureZ;
    double spaceStart = 0, spaceStep = 1;
    int cursor3dShown = 0; // "Curseur 3D" of the views
    // Once shown, sizes, type and storage are fixed.
    bool shown = false;

    // Readers of sections share it; writers, the value scale, the lists and storage
    // changes take it alone. Several tasks and the views use one block at once.
    mutable std::shared_mutex lock;

    std::int64_t sampleCount() const
    {
        return std::int64_t(dimX) * std::int64_t(dimY) * std::int64_t(dimZ);
    }
    int elementSize() const { return vexaTypeSize(typeData); }
    std::int64_t planeBytes() const
    {
        return std::int64_t(dimX) * std::int64_t(dimY) * elementSize();
    }
    std::uint8_t* plane(int z) const { return samples.bytes() + planeBytes() * z; }
};

// Largest memory block accepted (bytes). Sizes and offsets inside are 64-bit; the
// limit only guards against absurd requests.
constexpr std::int64_t kMaxMemoryBlockBytes = std::int64_t(1) << 40;

// Checks sizes and type: positive sizes, a valid code, a byte count within limit.
// On failure reason says why (French, shown to the user).
bool blockSizesValid(int dimX, int dimY, int dimZ, int type, std::string* reason = nullptr);

// Configuration of a block output before it is shown; each returns false and does
// nothing once shown or on bad values.
bool blockSetSize(BlockDescriptor& block, int dimX, int dimY, int dimZ);
bool blockSetType(BlockDescriptor& block, int type);
bool blockSetMemory(BlockDescriptor& block);
// Creates the file of a block output: a header of the block's sizes and type
// (Transpose 1 unless mode is 1) and zeroed room for the samples, so that a full
// disk shows now; the descriptor is read back from the file. An existing file is
// replaced only once the new one is complete. False with a reason, the block and
// any old file left as they were, when the file cannot be made or when an open
// datum reads from it (the result would overwrite its samples).
bool blockSetFile(
    BlockDescriptor& block, int mode, const std::string& path, std::string* reason = nullptr);

// Showing a block output: a memory block gets its zeroed samples. False with a
// reason (the allocation failed, the sizes are too large) and nothing changed.
bool blockPrepareStorage(BlockDescriptor& block, std::string* reason = nullptr);

// Opens a file as a file block (storage 1) with its companion files, if any.
// Null with a reason when the header does not read.
std::unique_ptr<BlockDescriptor> blockOpenFile(
    const std::string& path, std::string* reason = nullptr);
// Names of the companions of a file: {x-z name, y-z name}, or empty strings when the
// name does not end, before its extension, in x or y and one more character.
std::pair<std::string, std::string> companionNames(const std::string& path);

// Stores writeOp and, for a file block and op 0-4 or 99, the file's combination.
void blockSetOp(BlockDescriptor& block, int op);

// Writes the whole block, value scale applied, to a new GDR file. The file appears
// only complete (written aside, then renamed). False with a reason on failure or
// when an open datum reads from the file.
bool blockCopyToFile(
    const BlockDescriptor& block, const std::string& path, std::string* reason = nullptr);

// Sub-block extraction. Corners are inclusive and must lie inside the block with
// x1 <= x2, y1 <= y2, z1 <= z2.
bool extractCornersValid(
    const BlockDescriptor& block, int x1, int y1, int z1, int x2, int y2, int z2);
// Memory block: a new memory block holding the region (same type and value scale).
std::unique_ptr<BlockDescriptor> extractMemoryBlock(const BlockDescriptor& block, int x1, int y1,
    int z1, int x2, int y2, int z2, std::string* reason = nullptr);
// File block: writes a logical description of the region to a new temporary file
// ($TMPDIR/extract_tmp_XXXXXX) and returns its path, empty on failure.
std::string writeExtractDescription(const BlockDescriptor& block, int x1, int y1, int z1, int x2,
    int y2, int z2, std::string* reason = nullptr);

} // namespace vexa
