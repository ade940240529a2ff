#include "data/block.h"

#include "atomicsave.hpp"
#include "data/registry.h"
#include "data/section.h"
#include "quill.h"
#include "vexa_bigalloc.hpp"
#include "vexa_reason.hpp"
#include "vexafile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <unistd.h>

namespace vexa {

namespace {

std::mutex gPaletteDefaultsMutex;
PaletteRef gDefaultPalette;
PaletteRef gFirstPalette;

struct FileDescriptorReleaser {
    void operator()(FileDescriptor* f) const { vexaFileRelease(f); }
};
using TempDescriptor = std::unique_ptr<FileDescriptor, FileDescriptorReleaser>;

// Opens a file and reads its header; null when either fails.
FileHandle openWithHeader(const std::string& path)
{
    FileHandle file(vexaFileNameOpen(path.c_str()));
    if (file && !vexaFileReadHeader(file.get()))
        file.reset();
    return file;
}

std::string tempDirectory()
{
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

// vexaFile's reason for the last failure, told about target rather than about the
// temporary it was writing.
std::string fileLibraryReason(const std::string& temp, const std::string& target)
{
    std::string text = vexaFileGetLastError();
    const std::string prefix = temp + " : ";
    if (text.rfind(prefix, 0) == 0)
        return fileReason(target, text.substr(prefix.size()));
    return fileReason(target, text.empty() ? "Impossible d'écrire le fichier" : text);
}

std::string inUseReason(const std::string& path)
{
    return fileReason(path, "Le fichier est lu par une donnée ouverte : il n'est pas remplacé");
}

// A new empty file from a mkstemp pattern ending in XXXXXX; empty on failure.
std::string makeTempFile(std::string pattern)
{
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        return {};
    close(fd);
    return name.data();
}

} // namespace

bool SampleBuffer::allocate(std::size_t bytes)
{
    reset();
    if (bytes == 0)
        return false;
    data_ = vexa::allocateLarge(bytes, true);
    if (!data_)
        return false;
    bytes_ = bytes;
    return true;
}

void SampleBuffer::adopt(void* data, std::size_t bytes)
{
    reset();
    data_ = data;
    bytes_ = data ? bytes : 0;
}

void SampleBuffer::reset()
{
    std::free(data_);
    data_ = nullptr;
    bytes_ = 0;
}

void FileDescriptorDeleter::operator()(FileDescriptor* file) const
{
    vexaFileRelease(file);
}

bool valueClassSettings(int valueClass, ClassSettings& out)
{
    switch (valueClass) {
    case CLASS_DEFAULT:
        out = { firstPalette(), 1, 0 };
        return true;
    case CLASS_LABEL:
        out = { { 1, 2 }, 1, 0 };
        return true;
    case CLASS_DIRECTION:
        // 200 / pi and 100 / pi as the stored files and plug-ins have always had them
        // (pi taken as 3.14159265359).
        out = { { 3, 0 }, 63.66197723675394, 127 };
        return true;
    case CLASS_BOOLEAN:
        out = { { 0, 0 }, 255, 0 };
        return true;
    case CLASS_ORIENTATION:
        out = { { 4, 0 }, 31.83098861837697, 127 };
        return true;
    default:
        return false;
    }
}

void setDefaultPalette(PaletteRef palette)
{
    std::lock_guard lock(gPaletteDefaultsMutex);
    gDefaultPalette = palette;
}

PaletteRef defaultPalette()
{
    std::lock_guard lock(gPaletteDefaultsMutex);
    return gDefaultPalette;
}

void setFirstPalette(PaletteRef palette)
{
    std::lock_guard lock(gPaletteDefaultsMutex);
    gFirstPalette = palette;
}

PaletteRef firstPalette()
{
    std::lock_guard lock(gPaletteDefaultsMutex);
    return gFirstPalette;
}

BlockDescriptor::BlockDescriptor()
    : palette(defaultPalette())
{
}
BlockDescriptor::~BlockDescriptor()
{
    // The descriptor closes before its file goes.
    file.reset();
    if (!temporaryFile.empty())
        std::remove(temporaryFile.c_str());
}

bool blockSizesValid(int dimX, int dimY, int dimZ, int type, std::string* reason)
{
    if (dimX <= 0 || dimY <= 0 || dimZ <= 0) {
        setReason(reason, "Taille de bloc invalide");
        return false;
    }
    if (!vexaTypeIsValid(type)) {
        setReason(reason, "Type de données invalide");
        return false;
    }
    // Each factor is below 2^31: the product of two fits, the others are checked by
    // division.
    std::int64_t area = std::int64_t(dimX) * dimY;
    if (area > kMaxMemoryBlockBytes / vexaTypeSize(type)
        || area * vexaTypeSize(type) > kMaxMemoryBlockBytes / dimZ) {
        setReason(reason, "Bloc trop grand");
        return false;
    }
    return true;
}

bool blockSetSize(BlockDescriptor& b, int dimX, int dimY, int dimZ)
{
    std::unique_lock lock(b.lock);
    if (b.shown || !blockSizesValid(dimX, dimY, dimZ, b.typeData))
        return false;
    b.dimX = dimX;
    b.dimY = dimY;
    b.dimZ = dimZ;
    return true;
}

bool blockSetType(BlockDescriptor& b, int type)
{
    std::unique_lock lock(b.lock);
    if (b.shown || !vexaTypeIsValid(type))
        return false;
    b.typeData = type;
    return true;
}

bool blockSetMemory(BlockDescriptor& b)
{
    std::unique_lock lock(b.lock);
    if (b.shown)
        return false;
    b.storage = STORAGE_MEMORY;
    b.file.reset();
    b.topFile.reset();
    b.rightFile.reset();
    b.fileName.clear();
    return true;
}

bool blockSetFile(BlockDescriptor& b, int mode, const std::string& path, std::string* reason)
{
    // Before the block's own lock: the check reads the locks of the open blocks.
    if (!path.empty() && dataFileInUse(path, &b)) {
        setReason(reason, inUseReason(path));
        return false;
    }
    std::unique_lock lock(b.lock);
    if (b.shown || path.empty()) {
        setReason(reason, "Bloc déjà affiché ou nom de fichier vide");
        return false;
    }
    if (!blockSizesValid(b.dimX, b.dimY, b.dimZ, b.typeData, reason))
        return false;
    // The new file replaces an existing one only once it holds its header and the
    // room for every sample: a full disk or a size limit then fails here, keeping
    // the old file, rather than in the middle of the command.
    atomicsave::AtomicFile out;
    if (!out.open(path)) {
        setReason(
            reason, fileReason(path, withCause("Impossible de créer le fichier", out.error())));
        return false;
    }
    {
        TempDescriptor desc(vexaFileNew());
        if (!desc) {
            setReason(reason, fileReason(path, "Mémoire insuffisante"));
            return false;
        }
        vexaFileSetFullName(desc.get(), out.tempPath().c_str());
        vexaFileSetSizes(desc.get(), b.dimX, b.dimY, b.dimZ);
        vexaFileSetTypeData(desc.get(), b.typeData);
        vexaFileSetNbBits(desc.get(), vexaTypeBits(b.typeData));
        vexaFileSetSign(desc.get(), vexaTypeSign(b.typeData));
        vexaFileSetTranspose(desc.get(), mode != 1 ? 1 : 0);
        vexaFileSetHeader(desc.get(), VEXAFILE_HEADER_GDR);
        if (!vexaFileWriteHeader(desc.get())) {
            setReason(reason, fileLibraryReason(out.tempPath(), path));
            return false;
        }
        const off_t total = off_t(vexaFileGetOffsetData(desc.get()))
            + off_t(b.sampleCount()) * off_t(b.elementSize());
        // posix_fallocate returns the error rather than setting errno.
        if (int err = ::posix_fallocate(out.fd(), 0, total)) {
            setReason(reason,
                fileReason(path, withCause("Place insuffisante pour les échantillons", err)));
            return false;
        }
    }
    if (!out.commit()) {
        setReason(
            reason, fileReason(path, withCause("Impossible de remplacer le fichier", out.error())));
        return false;
    }
    FileHandle file = openWithHeader(path);
    if (!file) {
        setReason(reason, fileReason(path, "Impossible de relire l'entête du fichier"));
        return false;
    }
    b.storage = STORAGE_FILE;
    b.fileName = path;
    b.file = std::move(file);
    b.topFile.reset();
    b.rightFile.reset();
    b.samples.reset();
    return true;
}

bool blockPrepareStorage(BlockDescriptor& b, std::string* reason)
{
    std::unique_lock lock(b.lock);
    if (b.storage == STORAGE_FILE) {
        if (!b.file) {
            setReason(reason, "Fichier du bloc absent");
            return false;
        }
        return true;
    }
    if (b.samples)
        return true;
    if (!blockSizesValid(b.dimX, b.dimY, b.dimZ, b.typeData, reason))
        return false;
    std::size_t bytes = std::size_t(b.sampleCount()) * std::size_t(b.elementSize());
    if (!b.samples.allocate(bytes)) {
        char text[128];
        std::snprintf(text, sizeof text, "Mémoire insuffisante pour un bloc de %d x %d x %d",
            b.dimX, b.dimY, b.dimZ);
        setReason(reason, text);
        return false;
    }
    return true;
}

std::pair<std::string, std::string> companionNames(const std::string& path)
{
    std::size_t slash = path.find_last_of("/\\");
    std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < start)
        dot = path.size();
    if (dot - start < 2)
        return {};
    char axis = path[dot - 2];
    if (axis != 'x' && axis != 'y')
        return {};
    std::string head = path.substr(0, dot - 2);
    std::string ext = path.substr(dot);
    return { head + "xz" + ext, head + "yz" + ext };
}

std::unique_ptr<BlockDescriptor> blockOpenFile(const std::string& path, std::string* reason)
{
    FileHandle file = openWithHeader(path);
    if (!file) {
        const char* why = vexaFileGetLastError();
        setReason(reason, *why ? why : fileReason(path, "Impossible de lire l'entête du fichier"));
        return nullptr;
    }
    auto b = std::make_unique<BlockDescriptor>();
    vexaFileGetSizes(file.get(), &b->dimX, &b->dimY, &b->dimZ);
    b->typeData = vexaFileGetTypeData(file.get());
    if (b->dimX <= 0 || b->dimY <= 0 || b->dimZ <= 0 || !vexaTypeIsValid(b->typeData)) {
        setReason(reason, fileReason(path, "Entête invalide"));
        return nullptr;
    }
    b->storage = STORAGE_FILE;
    b->fileName = path;
    b->file = std::move(file);
    auto [topName, rightName] = companionNames(path);
    // A companion must hold the same volume cut the other way; anything else would
    // serve wrong sections.
    auto matches = [&](FileDescriptor* f, int w, int h, int d) {
        int fw = 0, fh = 0, fd = 0;
        vexaFileGetSizes(f, &fw, &fh, &fd);
        return fw == w && fh == h && fd == d && vexaFileGetTypeData(f) == b->typeData;
    };
    if (!topName.empty() && topName != path) {
        b->topFile = openWithHeader(topName);
        if (b->topFile && !matches(b->topFile.get(), b->dimX, b->dimZ, b->dimY))
            b->topFile.reset();
    }
    if (!rightName.empty() && rightName != path) {
        b->rightFile = openWithHeader(rightName);
        if (b->rightFile && !matches(b->rightFile.get(), b->dimZ, b->dimY, b->dimX))
            b->rightFile.reset();
    }
    return b;
}

void blockSetOp(BlockDescriptor& b, int op)
{
    std::unique_lock lock(b.lock);
    b.writeOp = op;
    bool fileOp = op == 0 || op == 1 || op == 2 || op == 3 || op == 4 || op == 99;
    if (b.storage == STORAGE_FILE && b.file && fileOp)
        vexaFileSetOp(b.file.get(), op);
}

bool blockCopyToFile(const BlockDescriptor& b, const std::string& path, std::string* reason)
{
    if (path.empty())
        return false;
    if (dataFileInUse(path)) {
        setReason(reason, inUseReason(path));
        return false;
    }
    int dimX, dimY, dimZ, type;
    {
        std::shared_lock lock(b.lock);
        dimX = b.dimX;
        dimY = b.dimY;
        dimZ = b.dimZ;
        type = b.typeData;
    }
    atomicsave::AtomicFile out;
    if (!out.open(path)) {
        setReason(
            reason, fileReason(path, withCause("Impossible de créer le fichier", out.error())));
        return false;
    }
    TempDescriptor desc(vexaFileNew());
    if (!desc) {
        setReason(reason, fileReason(path, "Mémoire insuffisante"));
        return false;
    }
    vexaFileSetFullName(desc.get(), out.tempPath().c_str());
    vexaFileSetSizes(desc.get(), dimX, dimY, dimZ);
    vexaFileSetTypeData(desc.get(), type);
    vexaFileSetNbBits(desc.get(), vexaTypeBits(type));
    vexaFileSetSign(desc.get(), vexaTypeSign(type));
    vexaFileSetHeader(desc.get(), VEXAFILE_HEADER_GDR);
    if (!vexaFileWriteHeader(desc.get())) {
        setReason(reason, fileLibraryReason(out.tempPath(), path));
        return false;
    }
    for (int z = 0; z < dimZ; ++z) {
        void* section = readSection(b, true, type, PLANE_FRONT, z, 0, 0, dimX - 1, dimY - 1);
        if (!section) {
            setReason(reason, fileReason(path, "Lecture impossible des échantillons du bloc"));
            return false;
        }
        const bool written = vexaFileWriteImage(desc.get(), section, 0, z) != 0;
        std::free(section);
        if (!written) {
            setReason(reason, fileLibraryReason(out.tempPath(), path));
            return false;
        }
    }
    if (!out.commit()) {
        setReason(
            reason, fileReason(path, withCause("Impossible de remplacer le fichier", out.error())));
        return false;
    }
    return true;
}

bool extractCornersValid(const BlockDescriptor& b, int x1, int y1, int z1, int x2, int y2, int z2)
{
    return x1 >= 0 && y1 >= 0 && z1 >= 0 && x1 <= x2 && y1 <= y2 && z1 <= z2 && x2 < b.dimX
        && y2 < b.dimY && z2 < b.dimZ;
}

std::unique_ptr<BlockDescriptor> extractMemoryBlock(
    const BlockDescriptor& b, int x1, int y1, int z1, int x2, int y2, int z2, std::string* reason)
{
    std::shared_lock lock(b.lock);
    if (!extractCornersValid(b, x1, y1, z1, x2, y2, z2)) {
        setReason(reason, "Coins d'extraction hors du bloc");
        return nullptr;
    }
    if (b.storage != STORAGE_MEMORY || !b.samples) {
        setReason(reason, "Bloc sans échantillons en mémoire");
        return nullptr;
    }
    auto out = std::make_unique<BlockDescriptor>();
    out->dimX = x2 - x1 + 1;
    out->dimY = y2 - y1 + 1;
    out->dimZ = z2 - z1 + 1;
    out->typeData = b.typeData;
    out->valueGain = b.valueGain;
    out->valueOffset = b.valueOffset;
    out->valueScaleOn = b.valueScaleOn;
    out->valueClass = b.valueClass;
    out->palette = b.palette;
    out->spaceStart = b.spaceStart;
    out->spaceStep = b.spaceStep;
    if (!blockPrepareStorage(*out, reason))
        return nullptr;
    const std::size_t es = std::size_t(b.elementSize());
    const std::size_t run = std::size_t(out->dimX) * es;
    for (int z = 0; z < out->dimZ; ++z) {
        const std::uint8_t* src = b.plane(z1 + z);
        std::uint8_t* dst = out->plane(z);
        for (int y = 0; y < out->dimY; ++y)
            std::memcpy(
                dst + std::size_t(y) * run, src + (std::size_t(y1 + y) * b.dimX + x1) * es, run);
    }
    return out;
}

std::string writeExtractDescription(
    const BlockDescriptor& b, int x1, int y1, int z1, int x2, int y2, int z2, std::string* reason)
{
    std::string source;
    {
        std::shared_lock lock(b.lock);
        if (!extractCornersValid(b, x1, y1, z1, x2, y2, z2)) {
            setReason(reason, "Coins d'extraction hors du bloc");
            return {};
        }
        source = b.fileName;
    }
    if (source.empty()) {
        setReason(reason, "Bloc sans fichier");
        return {};
    }
    // The description lives in the temporary directory: a relative source name would
    // be resolved against it.
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(source, ec);
    if (!ec)
        source = absolute.string();
    std::string path = makeTempFile(tempDirectory() + "/extract_tmp_XXXXXX");
    if (path.empty()) {
        setReason(reason, "Impossible de créer un fichier temporaire");
        return {};
    }
    auto addInt = [](QuillNode* node, const char* name, int value) {
        char text[16];
        std::snprintf(text, sizeof text, "%d", value);
        quillNodeAddItem(node, name, text);
    };
    QuillNode* doc = quillNew("LOGICAL");
    bool ok = false;
    if (doc) {
        addInt(doc, "WIDTH", x2 - x1 + 1);
        addInt(doc, "HEIGHT", y2 - y1 + 1);
        addInt(doc, "DEPTH", z2 - z1 + 1);
        QuillNode* part = quillNodeAddNode(doc, "PART");
        addInt(part, "X", -x1);
        addInt(part, "Y", -y1);
        addInt(part, "Z", -z1);
        quillNodeAddItem(part, "NAME", source.c_str());
        ok = part && quillWrite(doc, path.c_str());
        quillDestroy(doc);
    }
    if (!ok) {
        std::remove(path.c_str());
        setReason(reason, fileReason(path, "Impossible d'écrire la description"));
        return {};
    }
    return path;
}

} // namespace vexa
