#include "data/dataopen.h"

#include "data/rawimport.h"
#include "data/registry.h"
#include "params/paramapi.h"
#include "vexa_guard.hpp"
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

namespace vexa {

namespace {

std::atomic<bool> gDepthConversion { false };

void setReason(std::string* reason, const std::string& text)
{
    if (reason)
        *reason = text;
}

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

} // namespace

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
    void* samples = vexaFileReadImage(desc, 0, 0);
    if (!samples) {
        setReason(reason, "Lecture impossible des échantillons du fichier " + path);
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
    void* samples = vexaFileReadBlockPart(desc, 0, 0, 0, 0, width, height, depth);
    if (!samples) {
        setReason(reason, "Lecture impossible des échantillons du fichier " + path);
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

OpenResult dataOpen(const std::string& path)
{
    OpenResult result;
    if (path.empty() || !readable(path)) {
        result.outcome = OpenOutcome::CannotOpen;
        result.reason = kCannotOpenFile;
        return result;
    }
    std::unique_ptr<ImageObject> object;
    if (FileHandle desc = dataOpenDescriptor(path)) {
        object = objectFromRecognised(desc.get(), path, &result.reason);
        if (object)
            applySamplingComments(desc.get(), *object, path);
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
        if (result.reason.empty())
            result.reason = kCannotOpenFile;
        return result;
    }
    result.record = dataCreateImage(std::move(object), kFreshId, kFreshId);
    if (!result.record) {
        result.outcome = OpenOutcome::Failed;
        result.reason = kCannotOpenFile;
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
        hostMessageBox(kErrorCaption, kCannotOpenFile);
        break;
    case OpenOutcome::Failed:
        hostMessageBox(kErrorCaption, result.reason);
        break;
    }
    return result.record;
}

DataRecord* openDataCommand()
{
    FileChoice choice;
    choice.save = false;
    choice.title = kOpenDataTitle;
    choice.filter = kOpenDataFilters;
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
