// Descriptor lifecycle and accessors.
#include "fileio.hpp"
#include "keptmap.hpp"
#include "vexa_guard.hpp"
#include "vexafile_internal.hpp"

#include <cstdlib>
#include <unordered_set>

using vexa::guarded;
using vexa::guardedVoid;

namespace {

// True when desc is part (or a part of its parts): adding it would make a cycle that
// transfers would follow forever. Parts may be shared, so each is visited once.
bool contains(const FileDescriptor* part, const FileDescriptor* desc,
    std::unordered_set<const FileDescriptor*>& visited)
{
    if (part == desc)
        return true;
    if (!visited.insert(part).second)
        return false;
    for (const auto& p : part->parts)
        if (p->desc && contains(p->desc.get(), desc, visited))
            return true;
    return false;
}

// True when d or one of its parts, at any depth, reads its samples from key.
bool usesFile(const FileDescriptor* d, const vexafile::FileKey& key,
    std::unordered_set<const FileDescriptor*>& visited)
{
    if (!visited.insert(d).second)
        return false;
    vexafile::FileKey own;
    if (d->hasName && vexafile::fileKeyOf(d->name, own) && own == key)
        return true;
    for (const auto& p : d->parts)
        if (p->desc && usesFile(p->desc.get(), key, visited))
            return true;
    return false;
}

} // namespace

extern "C" {

FileDescriptor* vexaFileNew(void)
{
    return guarded([]() -> FileDescriptor* { return new FileDescriptor; });
}

FileDescriptor* vexaFileNameOpen(const char* path)
{
    if (!path)
        return nullptr;
    return vexafile::reported(path, [&]() -> FileDescriptor* {
        if (!vexafile::fileIsReadable(path))
            return nullptr;
        auto* d = new FileDescriptor;
        d->name = path;
        d->hasName = true;
        return d;
    });
}

void vexaFileRelease(FileDescriptor* desc)
{
    if (desc && desc->hasName)
        vexafile::forgetKeptMapping(desc->name);
    delete desc;
}

void vexaFileFree(void* buffer)
{
    std::free(buffer);
}

int vexaFileAddLogicalPart(
    FileDescriptor* desc, FileDescriptor* part, int x0, int y0, int z0, int x1, int y1, int z1)
{
    if (!desc || !part)
        return 0;
    return guarded([&] {
        std::unordered_set<const FileDescriptor*> visited;
        if (contains(part, desc, visited))
            return 0;
        auto p = std::make_unique<LogicalPart>();
        p->x0 = x0;
        p->y0 = y0;
        p->z0 = z0;
        p->x1 = x1;
        p->y1 = y1;
        p->z1 = z1;
        p->owner = desc;
        desc->parts.push_back(std::move(p));
        // Owned only once the part is stored: a failed append leaves it to the caller.
        desc->parts.back()->desc.reset(part, vexaFileRelease);
        return 1;
    });
}

int vexaFileIsLogical(FileDescriptor* desc)
{
    return desc && !desc->parts.empty() ? 1 : 0;
}

const char* vexaFileGetFullName(FileDescriptor* desc)
{
    if (!desc || !desc->hasName)
        return "";
    return desc->name.c_str();
}

void vexaFileSetFullName(FileDescriptor* desc, const char* name)
{
    if (!desc)
        return;
    guardedVoid([&] {
        if (name) {
            desc->name = name;
            desc->hasName = true;
        } else {
            desc->name.clear();
            desc->hasName = false;
        }
    });
}

void vexaFileGetSizes(FileDescriptor* desc, int* width, int* height, int* depth)
{
    int w = 0, h = 0, d = 0;
    if (desc) {
        w = desc->transpose ? desc->dimY : desc->dimX;
        h = desc->transpose ? desc->dimX : desc->dimY;
        d = desc->dimZ;
    }
    if (width)
        *width = w;
    if (height)
        *height = h;
    if (depth)
        *depth = d;
}

void vexaFileSetSizes(FileDescriptor* desc, int width, int height, int depth)
{
    if (!desc)
        return;
    desc->dimX = desc->transpose ? height : width;
    desc->dimY = desc->transpose ? width : height;
    desc->dimZ = depth;
}

#define VEXAFILE_FIELD(Name, field)                                                                \
    int vexaFileGet##Name(FileDescriptor* desc)                                                    \
    {                                                                                              \
        return desc ? desc->field : 0;                                                             \
    }                                                                                              \
    void vexaFileSet##Name(FileDescriptor* desc, int value)                                        \
    {                                                                                              \
        if (desc)                                                                                  \
            desc->field = value;                                                                   \
    }

VEXAFILE_FIELD(DimX, dimX)
VEXAFILE_FIELD(DimY, dimY)
VEXAFILE_FIELD(DimZ, dimZ)
VEXAFILE_FIELD(NbBits, nbBits)
VEXAFILE_FIELD(Endian, endian)
VEXAFILE_FIELD(Sign, sign)
VEXAFILE_FIELD(TypeData, typeData)
VEXAFILE_FIELD(OffsetData, offsetData)

#undef VEXAFILE_FIELD

int vexaFileGetTranspose(FileDescriptor* desc)
{
    return desc ? desc->transpose : 0;
}

void vexaFileSetTranspose(FileDescriptor* desc, int value)
{
    if (!desc)
        return;
    desc->transpose = value;
    if (value)
        desc->tiled = 0;
}

int vexaFileGetTiled(FileDescriptor* desc)
{
    return desc ? desc->tiled : 0;
}

void vexaFileSetTiled(FileDescriptor* desc, int value)
{
    if (!desc)
        return;
    desc->tiled = value;
    if (value)
        desc->transpose = 0;
}

int vexaFileGetHeaderFound(FileDescriptor* desc)
{
    return desc ? desc->headerFound : 0;
}

void vexaFileSetHeader(FileDescriptor* desc, int kind)
{
    if (desc)
        desc->header = kind;
}

void vexaFileSetOp(FileDescriptor* desc, int op)
{
    if (desc)
        desc->op = op;
}

int vexaFileReadHeader(FileDescriptor* desc)
{
    if (!desc)
        return 0;
    // A 40 GB volume can throw bad_alloc deep inside; C callers must only see 0.
    return vexafile::reported(desc->name, [&] { return vexafile::readHeader(*desc, 0); });
}

int vexaFileWriteHeader(FileDescriptor* desc)
{
    if (!desc)
        return 0;
    return vexafile::reported(desc->name, [&] { return vexafile::writeHeader(*desc); });
}

int vexaFileGetComment(FileDescriptor* desc, const char* key, double* value)
{
    if (!desc || !key || !value)
        return 0;
    return guarded([&] { return vexafile::getComment(*desc, key, value); });
}

int vexaFileUsesFile(FileDescriptor* desc, const char* path)
{
    if (!desc || !path)
        return 0;
    return guarded([&] {
        vexafile::FileKey key;
        if (!vexafile::fileKeyOf(path, key))
            return 0;
        std::unordered_set<const FileDescriptor*> visited;
        return usesFile(desc, key, visited) ? 1 : 0;
    });
}

} // extern "C"
