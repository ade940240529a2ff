#include "data/rawimport.h"

#include "data/dataopen.h"
#include "params/paramapi.h"
#include "vexa_reason.hpp"
#include "vexafile.h"

#include <filesystem>
#include <limits>
#include <mutex>

namespace vexa {

const char* const kRawImportDescription
    = "Taille Entete%dw%dh%dd%dFile%c%nFormat%tEntier,Flottant%lLittle Endian%c%nFormat "
      "Entier%tNon signé,Signé%lNb bits%t8,16,32%l%nFormat Flottant%tFloat,Double%l";

namespace {

std::mutex gRawMutex;
RawImportSettings gRemembered;

} // namespace

RawImportSettings rawImportRemembered()
{
    std::lock_guard lock(gRawMutex);
    return gRemembered;
}

void rawImportRemember(const RawImportSettings& settings)
{
    std::lock_guard lock(gRawMutex);
    gRemembered = settings;
}

bool rawImportAsk(RawImportSettings& s)
{
    // The dialog writes into a copy: a cancelled box must leave the answers alone.
    RawImportSettings answers = s;
    int ok = dozBoxParameter(kRawImportDescription, &answers.headerSize, &answers.width,
        &answers.height, &answers.depth, &answers.inMemory, &answers.numberFormat,
        &answers.littleEndian, &answers.integerSign, &answers.integerSize, &answers.floatSize);
    if (ok != 1)
        return false;
    s = answers;
    return true;
}

RawLayout rawImportLayout(const RawImportSettings& s)
{
    RawLayout layout;
    layout.endian = s.littleEndian ? 0 : 1;
    layout.sign = s.integerSign ? 1 : 0;
    if (s.numberFormat == 1) {
        layout.typeData = s.floatSize == 1 ? TYPEDATA_F64 : TYPEDATA_F32;
    } else {
        const bool signedInt = s.integerSign != 0;
        switch (s.integerSize) {
        case 0:
            layout.typeData = signedInt ? TYPEDATA_S8 : TYPEDATA_U8;
            break;
        case 2:
            layout.typeData = signedInt ? TYPEDATA_S32 : TYPEDATA_U32;
            break;
        default:
            layout.typeData = signedInt ? TYPEDATA_S16 : TYPEDATA_U16;
            break;
        }
    }
    layout.nbBits = vexaTypeBits(layout.typeData);
    return layout;
}

FileHandle rawImportDescriptor(
    const std::string& path, const RawImportSettings& s, std::string* reason)
{
    if (s.width <= 0 || s.height <= 0 || s.depth <= 0 || s.headerSize < 0) {
        setReason(reason, fileReason(path, "Taille invalide pour l'importation"));
        return nullptr;
    }
    std::error_code ec;
    const std::uintmax_t fileSize = std::filesystem::file_size(path, ec);
    if (ec) {
        setReason(reason, kCannotOpenFile);
        return nullptr;
    }
    const RawLayout layout = rawImportLayout(s);
    // Each factor is below 2^31, so every product is checked against the room left
    // before it is formed.
    const std::uintmax_t available
        = fileSize > std::uintmax_t(s.headerSize) ? fileSize - std::uintmax_t(s.headerSize) : 0;
    std::uintmax_t bytes = std::uintmax_t(vexaTypeSize(layout.typeData));
    bool fits = true;
    for (std::int32_t factor : { s.width, s.height, s.depth }) {
        if (bytes > available / std::uintmax_t(factor)) {
            fits = false;
            break;
        }
        bytes *= std::uintmax_t(factor);
    }
    if (!fits || fileSize < std::uintmax_t(s.headerSize)) {
        setReason(reason,
            fileReason(path,
                "Le fichier est plus petit que la taille demandée (" + std::to_string(s.width)
                    + " x " + std::to_string(s.height) + " x " + std::to_string(s.depth) + ")"));
        return nullptr;
    }
    FileHandle desc(vexaFileNameOpen(path.c_str()));
    if (!desc) {
        setReason(reason, kCannotOpenFile);
        return nullptr;
    }
    vexaFileSetSizes(desc.get(), s.width, s.height, s.depth);
    vexaFileSetOffsetData(desc.get(), s.headerSize);
    vexaFileSetEndian(desc.get(), layout.endian);
    vexaFileSetSign(desc.get(), layout.sign);
    vexaFileSetTypeData(desc.get(), layout.typeData);
    vexaFileSetNbBits(desc.get(), layout.nbBits);
    return desc;
}

std::unique_ptr<ImageObject> rawImportObject(
    const std::string& path, const RawImportSettings& s, std::string* reason)
{
    FileHandle desc = rawImportDescriptor(path, s, reason);
    if (!desc)
        return nullptr;
    if (s.depth == 1)
        return imageFromDescriptor(desc.get(), path, reason);
    // A volume that memory cannot hold is still usable left in its file.
    const std::uint64_t bytes = std::uint64_t(s.width) * std::uint64_t(s.height)
        * std::uint64_t(s.depth) * std::uint64_t(vexaTypeSize(vexaFileGetTypeData(desc.get())));
    if (s.inMemory && bytes <= availableMemoryBytes())
        return memoryBlockFromDescriptor(desc.get(), path, reason);
    auto object = std::make_unique<ImageObject>();
    auto block = std::make_unique<BlockDescriptor>();
    block->dimX = s.width;
    block->dimY = s.height;
    block->dimZ = s.depth;
    block->typeData = vexaFileGetTypeData(desc.get());
    block->storage = STORAGE_FILE;
    block->fileName = path;
    block->file = std::move(desc);
    object->image->typeData = block->typeData;
    object->block = std::move(block);
    return object;
}

} // namespace vexa
