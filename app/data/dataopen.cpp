#include "data/dataopen.h"

#include "data/rawimport.h"
#include "data/registry.h"
#include "formats/formats.h"
#include "formats/segycache.h"
#include "params/paramapi.h"
#include "vexa_guard.hpp"
#include "vexa_reason.hpp"
#include "vexafile.h"
#include "vexamem.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace vexa {

namespace {

std::atomic<bool> gDepthConversion { false };

bool readable(const std::string& path)
{
    // A directory opens for reading on Linux but holds no image.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    std::fclose(file);
    return true;
}

bool endsWithIso(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".iso";
}

// The datum of a recognised file: depth 1 in memory, deeper kept in the file with
// its companions.
std::unique_ptr<ImageObject> objectFromRecognised(
    FileDescriptor* desc, const std::string& path, std::string* reason)
{
    int width = 0, height = 0, depth = 0;
    vexaFileGetSizes(desc, &width, &height, &depth);
    if (depth <= 1)
        return imageFromDescriptor(desc, path, reason);
    auto block = blockOpenFile(path, reason);
    if (!block)
        return nullptr;
    auto object = std::make_unique<ImageObject>();
    object->image->typeData = block->typeData;
    object->block = std::move(block);
    return object;
}

// Sampling step and start from the INRIA comments; the .iso depth conversion of a
// 2D image of floats is offered when they change anything.
void applySamplingComments(FileDescriptor* desc, ImageObject& object, const std::string& path)
{
    SamplingComments sampling = readSamplingComments(desc);
    if (!sampling.found)
        return;
    if (BlockDescriptor* block = object.block.get()) {
        std::unique_lock lock(block->lock);
        block->spaceStep = sampling.step;
        block->spaceStart = sampling.start;
        return;
    }
    ImageDescriptor& image = *object.image;
    if (!endsWithIso(path) || image.typeData != TYPEDATA_F32)
        return;
    if (sampling.start == 0 && sampling.step == 1)
        return;
    std::int32_t convert = depthConversionRemembered() ? 1 : 0;
    if (dozBoxParameter("Conversion de profondeur en unité pixel%c", &convert) != 1)
        return;
    depthConversionRemember(convert != 0);
    if (convert)
        convertDepthToPixels(image, sampling.start, sampling.step);
}

std::string sizesText(int width, int height, int depth = 1)
{
    std::string text = std::to_string(width) + " x " + std::to_string(height);
    if (depth > 1)
        text += " x " + std::to_string(depth);
    return text;
}

// Refuses, with a reason, a datum of bytes that memory cannot hold.
bool fitsInMemory(const std::string& path, const char* what, const std::string& sizes,
    std::uint64_t bytes, std::string* reason)
{
    const std::uint64_t available = availableMemoryBytes();
    if (bytes <= available)
        return true;
    setReason(reason,
        fileReason(path,
            std::string(what) + " de " + sizes + " (" + byteCountText(bytes)
                + ") trop grande pour la mémoire disponible (" + byteCountText(available) + ")"));
    return false;
}

// What the information window shows of a file of another program's format: the
// format, the geometry and the header's own lines.
std::string formatInfoText(const FormatReader& reader, const FormatHeader& header)
{
    char line[256];
    std::string text = std::string("Format ") + reader.name + "\n";
    std::snprintf(line, sizeof line, "Pas : %g x %g x %g\nOrigine : %g, %g, %g\n",
        header.spacing[0], header.spacing[1], header.spacing[2], header.origin[0], header.origin[1],
        header.origin[2]);
    text += line;
    return text + header.info;
}

// A SEG-Y cube above the file-block share of memory: a file block on its conversion
// to the own format, made once per version of the file. stopped tells a conversion
// the user stopped from a failure.
std::unique_ptr<ImageObject> segyFileBlock(const FormatReader& reader, const std::string& path,
    const FormatHeader& header, std::string* reason, bool* stopped)
{
    std::string cache;
    const SegyCacheOutcome outcome = segyCacheFile(
        path, header, cache, reason, [](const std::string& file) { return dataFileInUse(file); });
    if (outcome == SegyCacheOutcome::Stopped && stopped)
        *stopped = true;
    if (outcome != SegyCacheOutcome::Ready)
        return nullptr;
    auto block = blockOpenFile(cache, reason);
    if (!block)
        return nullptr;
    block->spaceStep = header.spacing[2];
    block->spaceStart = header.origin[2];
    auto object = std::make_unique<ImageObject>();
    object->image->typeData = block->typeData;
    object->image->fileName = path;
    object->image->fileInfo
        = formatInfoText(reader, header) + "Échantillons lus dans " + cache + "\n";
    object->block = std::move(block);
    return object;
}

// A file of another program's format, read whole into memory: a plain image for
// depth 1, a memory block otherwise. The header's value scale, geometry, display
// window and text go onto the datum.
std::unique_ptr<ImageObject> objectFromFormat(const FormatReader& reader, const std::string& path,
    std::string* reason, bool* stopped = nullptr)
{
    FormatHeader header;
    if (!reader.probe(path, header, reason))
        return nullptr;
    const int type = header.typeData;
    if (!blockSizesValid(header.width, header.height, header.depth, type, reason)) {
        if (reason && reason->rfind(path, 0) != 0)
            *reason = fileReason(path, *reason);
        return nullptr;
    }
    const std::uint64_t bytes = std::uint64_t(header.width) * std::uint64_t(header.height)
        * std::uint64_t(header.depth) * std::uint64_t(vexaTypeSize(type));
    const bool volume = header.depth > 1;
    if (volume && reader.read == segyReader().read
        && keepVolumeInFile(bytes, availableMemoryBytes()))
        return segyFileBlock(reader, path, header, reason, stopped);
    if (!fitsInMemory(path, volume ? "Image 3D" : "Image",
            sizesText(header.width, header.height, header.depth), bytes, reason))
        return nullptr;
    SampleBuffer samples;
    if (!samples.allocate(std::size_t(bytes))) {
        setReason(reason, fileReason(path, "Mémoire insuffisante"));
        return nullptr;
    }
    if (!reader.read(path, header, samples.data(), reason)) {
        if (reason && reason->empty())
            *reason = fileReason(path, "Lecture impossible des échantillons du fichier");
        return nullptr;
    }
    auto object = std::make_unique<ImageObject>();
    ImageDescriptor& image = *object->image;
    image.typeData = type;
    image.fileName = path;
    image.fileInfo = formatInfoText(reader, header);
    if (header.hasWindow && header.windowWidth > 0) {
        image.displayRangeSet = true;
        image.displayLow = header.windowCentre - header.windowWidth / 2;
        image.displayHigh = header.windowCentre + header.windowWidth / 2;
    }
    if (!volume) {
        image.width = header.width;
        image.height = header.height;
        image.valueGain = header.valueGain;
        image.valueOffset = header.valueOffset;
        image.valueScaleOn = header.valueScaleOn ? 1 : 0;
        image.samples = std::move(samples);
        return object;
    }
    auto block = std::make_unique<BlockDescriptor>();
    block->dimX = header.width;
    block->dimY = header.height;
    block->dimZ = header.depth;
    block->typeData = type;
    block->storage = STORAGE_MEMORY;
    block->samples = std::move(samples);
    block->fileName = path;
    block->valueGain = header.valueGain;
    block->valueOffset = header.valueOffset;
    block->valueScaleOn = header.valueScaleOn ? 1 : 0;
    // The block keeps the sampling along its depth; the in-plane spacing goes to the
    // information text.
    block->spaceStep = header.spacing[2];
    block->spaceStart = header.origin[2];
    object->block = std::move(block);
    return object;
}

} // namespace

std::uint64_t availableMemoryBytes()
{
    std::uint64_t available = 0;
    if (std::FILE* info = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kib = 0;
        while (std::fgets(line, sizeof line, info)) {
            if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
                available = std::uint64_t(kib) * 1024;
                break;
            }
        }
        std::fclose(info);
    }
    if (available == 0) {
        const long pages = ::sysconf(_SC_AVPHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        if (pages > 0 && pageSize > 0)
            available = std::uint64_t(pages) * std::uint64_t(pageSize);
    }
    struct rlimit limit { };
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        available = std::min<std::uint64_t>(available, limit.rlim_cur);
    return available;
}

std::string byteCountText(std::uint64_t bytes)
{
    constexpr std::uint64_t kMega = std::uint64_t(1) << 20;
    constexpr std::uint64_t kGiga = std::uint64_t(1) << 30;
    if (bytes < kMega)
        return std::to_string(bytes) + " octets";
    char text[64];
    const bool giga = bytes >= kGiga;
    std::snprintf(text, sizeof text, "%.1f %s", double(bytes) / double(giga ? kGiga : kMega),
        giga ? "Go" : "Mo");
    // French writes the decimal point as a comma.
    for (char* c = text; *c; ++c)
        if (*c == '.')
            *c = ',';
    return text;
}

FileHandle dataOpenDescriptor(const std::string& path)
{
    if (path.empty())
        return nullptr;
    FileHandle desc(vexaFileNameOpen(path.c_str()));
    if (desc && !vexaFileReadHeader(desc.get()))
        desc.reset();
    return desc;
}

std::unique_ptr<ImageObject> imageFromDescriptor(
    FileDescriptor* desc, const std::string& path, std::string* reason)
{
    int width = 0, height = 0, depth = 0;
    vexaFileGetSizes(desc, &width, &height, &depth);
    const int type = vexaFileGetTypeData(desc);
    if (!blockSizesValid(width, height, 1, type, reason))
        return nullptr;
    const std::uint64_t bytes
        = std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(vexaTypeSize(type));
    // Samples stored plainly after a header (pictures and logical volumes have no
    // offset): the file must hold them all.
    const std::int64_t offset = vexaFileGetOffsetData(desc);
    if (offset > 0 && !vexaFileIsLogical(desc)) {
        std::error_code ec;
        const std::uintmax_t fileBytes = std::filesystem::file_size(path, ec);
        const std::uint64_t stored
            = !ec && fileBytes > std::uintmax_t(offset) ? fileBytes - std::uintmax_t(offset) : 0;
        if (stored < bytes) {
            setReason(reason,
                fileReason(path,
                    "Fichier tronqué : l'entête annonce une image de " + sizesText(width, height)
                        + " (" + byteCountText(bytes) + ") mais le fichier n'en contient que "
                        + byteCountText(stored)));
            return nullptr;
        }
    }
    if (!fitsInMemory(path, "Image", sizesText(width, height), bytes, reason))
        return nullptr;
    void* samples = vexaFileReadImage(desc, 0, 0);
    if (!samples) {
        const char* why = vexaFileGetLastError();
        setReason(reason,
            *why ? why : fileReason(path, "Lecture impossible des échantillons du fichier"));
        return nullptr;
    }
    auto object = std::make_unique<ImageObject>();
    ImageDescriptor& image = *object->image;
    image.width = width;
    image.height = height;
    image.typeData = type;
    image.samples.adopt(
        samples, std::size_t(width) * std::size_t(height) * std::size_t(vexaTypeSize(type)));
    image.fileName = path;
    return object;
}

std::unique_ptr<ImageObject> memoryBlockFromDescriptor(
    FileDescriptor* desc, const std::string& path, std::string* reason)
{
    int width = 0, height = 0, depth = 0;
    vexaFileGetSizes(desc, &width, &height, &depth);
    const int type = vexaFileGetTypeData(desc);
    if (!blockSizesValid(width, height, depth, type, reason))
        return nullptr;
    const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(depth)
        * std::uint64_t(vexaTypeSize(type));
    if (!fitsInMemory(path, "Image 3D", sizesText(width, height, depth), bytes, reason))
        return nullptr;
    void* samples = vexaFileReadBlockPart(desc, 0, 0, 0, 0, width, height, depth);
    if (!samples) {
        const char* why = vexaFileGetLastError();
        setReason(reason,
            *why ? why : fileReason(path, "Lecture impossible des échantillons du fichier"));
        return nullptr;
    }
    auto block = std::make_unique<BlockDescriptor>();
    block->dimX = width;
    block->dimY = height;
    block->dimZ = depth;
    block->typeData = type;
    block->storage = STORAGE_MEMORY;
    block->samples.adopt(
        samples, std::size_t(block->sampleCount()) * std::size_t(vexaTypeSize(type)));
    block->fileName = path;
    auto object = std::make_unique<ImageObject>();
    object->image->typeData = type;
    object->block = std::move(block);
    return object;
}

SamplingComments readSamplingComments(FileDescriptor* desc)
{
    SamplingComments out;
    double step = 0;
    if (!vexaFileGetComment(desc, "PASECH", &step)) {
        step = 0;
        if (!vexaFileGetComment(desc, "PECH", &step))
            return out;
    }
    if (step == 0)
        return out;
    out.found = true;
    out.step = step;
    double start = 0;
    if (vexaFileGetComment(desc, "TDEB", &start))
        out.start = start;
    return out;
}

bool convertDepthToPixels(ImageDescriptor& image, double start, double step)
{
    std::lock_guard lock(image.lock);
    if (image.typeData != TYPEDATA_F32 || !image.samples || step == 0 || image.width <= 0
        || image.height <= 0)
        return false;
    const std::size_t count = std::size_t(image.sampleCount());
    if (image.samples.size() < count * sizeof(float))
        return false;
    auto* values = static_cast<float*>(image.samples.data());
    for (std::size_t i = 0; i < count; ++i) {
        const double v = values[i];
        if (v >= 0)
            values[i] = float((v - start) / step);
    }
    void* mirrored = std::calloc(count, sizeof(float));
    if (!mirrored)
        return false;
    vexaMemSwapVertical(values, image.width, image.height, TYPEDATA_F32, mirrored);
    image.samples.adopt(mirrored, count * sizeof(float));
    return true;
}

bool depthConversionRemembered()
{
    return gDepthConversion.load();
}

void depthConversionRemember(bool on)
{
    gDepthConversion.store(on);
}

namespace {

std::mutex gForeignMutex;
std::vector<ForeignFileOpener> gForeignOpeners;

// The opener that claims path, if any; reads the first bytes only when one is installed.
ForeignFileOpener foreignOpenerFor(const std::string& path)
{
    std::vector<ForeignFileOpener> openers;
    {
        std::lock_guard lock(gForeignMutex);
        openers = gForeignOpeners;
    }
    if (openers.empty())
        return {};
    std::string head(512, '\0');
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        head.resize(std::fread(head.data(), 1, head.size(), f));
        std::fclose(f);
    } else {
        head.clear();
    }
    for (const ForeignFileOpener& opener : openers)
        if (opener.claims && opener.open && opener.claims(path, head))
            return opener;
    return {};
}

} // namespace

void addForeignFileOpener(ForeignFileOpener opener)
{
    std::lock_guard lock(gForeignMutex);
    gForeignOpeners.push_back(opener);
}

void clearForeignFileOpeners()
{
    std::lock_guard lock(gForeignMutex);
    gForeignOpeners.clear();
}

OpenResult dataOpen(const std::string& path)
{
    OpenResult result;
    if (path.empty() || !readable(path)) {
        result.outcome = OpenOutcome::CannotOpen;
        result.reason
            = path.empty() ? std::string(kCannotOpenFile) : fileReason(path, kCannotOpenFile);
        return result;
    }
    if (ForeignFileOpener opener = foreignOpenerFor(path); opener.open) {
        result.record = opener.open(path, &result.reason);
        result.outcome = result.record ? OpenOutcome::Opened : OpenOutcome::Failed;
        if (!result.record && (result.reason.empty() || result.reason == kCannotOpenFile))
            result.reason = fileReason(path, kCannotOpenFile);
        return result;
    }
    std::unique_ptr<ImageObject> object;
    std::string head;
    const FormatReader* reader = nullptr;
    if (FileHandle desc = dataOpenDescriptor(path)) {
        object = objectFromRecognised(desc.get(), path, &result.reason);
        if (object)
            applySamplingComments(desc.get(), *object, path);
    } else if (head = formatHead(path); (reader = formatReaderFor(path, head))) {
        bool stopped = false;
        object = objectFromFormat(*reader, path, &result.reason, &stopped);
        if (stopped) {
            result.outcome = OpenOutcome::Cancelled;
            result.reason.clear();
            return result;
        }
    } else if (std::string known = formatUnsupportedReason(path, head); !known.empty()) {
        // A file of a known kind is not raw samples: the import box would only
        // produce noise from its header.
        result.outcome = OpenOutcome::Failed;
        result.reason = known;
        return result;
    } else {
        RawImportSettings settings = rawImportRemembered();
        if (!rawImportAsk(settings)) {
            result.outcome = OpenOutcome::Cancelled;
            return result;
        }
        rawImportRemember(settings);
        object = rawImportObject(path, settings, &result.reason);
    }
    if (!object) {
        result.outcome = OpenOutcome::Failed;
        if (result.reason.empty() || result.reason == kCannotOpenFile)
            result.reason = fileReason(path, kCannotOpenFile);
        return result;
    }
    result.record = dataCreateImage(std::move(object), kFreshId, kFreshId);
    if (!result.record) {
        result.outcome = OpenOutcome::Failed;
        result.reason = fileReason(path, kCannotOpenFile);
        return result;
    }
    result.outcome = OpenOutcome::Opened;
    result.reason.clear();
    return result;
}

DataRecord* dataOpenFile(const std::string& path, std::string* reason)
{
    OpenResult result = dataOpen(path);
    setReason(reason, result.reason);
    return result.record;
}

DataRecord* dataOpenFileWithMessages(const std::string& path)
{
    if (path.empty())
        return nullptr;
    OpenResult result = dataOpen(path);
    switch (result.outcome) {
    case OpenOutcome::Opened:
    case OpenOutcome::Cancelled:
        break;
    case OpenOutcome::CannotOpen:
        hostMessageBox(kErrorCaption, fileReason(path, kCannotOpenFile));
        break;
    case OpenOutcome::Failed:
        hostMessageBox(kErrorCaption, result.reason);
        break;
    }
    return result.record;
}

std::string openDataFilters()
{
    std::string lines = kOpenDataFilters;
    for (const FormatReader& reader : formatReaders())
        lines += std::string(";;Fichier ") + reader.name + " (" + reader.patterns + ")";
    // Every pattern between the parentheses of the lines, once each.
    std::vector<std::string> patterns;
    for (std::size_t open = lines.find('('); open != std::string::npos;
         open = lines.find('(', open + 1)) {
        const std::size_t close = lines.find(')', open);
        if (close == std::string::npos)
            break;
        const std::string inside = lines.substr(open + 1, close - open - 1);
        std::size_t at = 0;
        while (at < inside.size()) {
            std::size_t end = inside.find(' ', at);
            if (end == std::string::npos)
                end = inside.size();
            const std::string pattern = inside.substr(at, end - at);
            if (!pattern.empty()
                && std::find(patterns.begin(), patterns.end(), pattern) == patterns.end())
                patterns.push_back(pattern);
            at = end + 1;
        }
    }
    std::string all;
    for (const std::string& pattern : patterns)
        all += (all.empty() ? "" : " ") + pattern;
    return "Tous Formats (" + all + ");;" + lines + ";;Tous les fichiers (*)";
}

DataRecord* openDataCommand()
{
    FileChoice choice;
    choice.save = false;
    choice.title = kOpenDataTitle;
    choice.filter = openDataFilters();
    std::string path;
    if (!hostChooseFile(choice, path) || path.empty())
        return nullptr;
    return dataOpenFileWithMessages(path);
}

} // namespace vexa

extern "C" {

unsigned int dozDataLoadFromFile(const char* path)
{
    if (!path)
        return 0;
    return vexa::guarded([&]() -> unsigned int {
        vexa::DataRecord* record = vexa::dataOpenFileWithMessages(path);
        return record ? record->imageId : 0u;
    });
}

unsigned int vexaLoadFromFile(const char* path)
{
    return dozDataLoadFromFile(path);
}

} // extern "C"
