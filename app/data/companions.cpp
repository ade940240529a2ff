#include "data/companions.h"

#include "atomicsave.hpp"
#include "data/block.h"
#include "data/registry.h"
#include "vexa_reason.hpp"
#include "vexafile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <shared_mutex>

namespace vexa {

namespace {

struct Released {
    void operator()(FileDescriptor* f) const { vexaFileRelease(f); }
    void operator()(void* p) const { std::free(p); }
};
using Descriptor = std::unique_ptr<FileDescriptor, Released>;
using Buffer = std::unique_ptr<unsigned char, Released>;

// What the build needs of the block, read once under its lock.
struct Source {
    std::string path;
    int dimX = 0, dimY = 0, dimZ = 0;
    int type = 0;
    int header = 0;
    int transpose = 0;
    std::uint64_t writes = 0;
};

// One companion being written: its temporary and the descriptor writing it.
struct Target {
    std::string name;
    atomicsave::AtomicFile out;
    Descriptor desc;
};

std::string libraryReason(const Target& t)
{
    std::string text = vexaFileGetLastError();
    const std::string prefix = t.out.tempPath() + " : ";
    if (text.rfind(prefix, 0) == 0)
        text = text.substr(prefix.size());
    return fileReason(t.name, text.empty() ? "Impossible d'écrire le fichier" : text);
}

// Creates the temporary of a companion of width x height x depth samples with its
// header and room for every sample, so that a full disk shows before any work.
bool createTarget(Target& t, const Source& s, int width, int height, int depth, std::string* reason)
{
    if (!t.out.open(t.name)) {
        setReason(
            reason, fileReason(t.name, withCause("Impossible de créer le fichier", t.out.error())));
        return false;
    }
    t.desc.reset(vexaFileNew());
    if (!t.desc) {
        setReason(reason, fileReason(t.name, "Mémoire insuffisante"));
        return false;
    }
    FileDescriptor* d = t.desc.get();
    vexaFileSetFullName(d, t.out.tempPath().c_str());
    // Sizes before Transpose, as the GDR writer and reader expect them. An INRIA header
    // has no such flag: its reader decides the order from the type.
    vexaFileSetSizes(d, width, height, depth);
    if (s.header == VEXAFILE_HEADER_GDR)
        vexaFileSetTranspose(d, s.transpose);
    vexaFileSetTypeData(d, s.type);
    vexaFileSetNbBits(d, vexaTypeBits(s.type));
    vexaFileSetSign(d, vexaTypeSign(s.type));
    vexaFileSetHeader(d, s.header);
    if (!vexaFileWriteHeader(d)) {
        setReason(reason, libraryReason(t));
        return false;
    }
    int w = 0, h = 0, z = 0;
    vexaFileGetSizes(d, &w, &h, &z);
    if (w != width || h != height || z != depth || vexaFileGetTypeData(d) != s.type) {
        setReason(reason, fileReason(t.name, "L'entête ne peut pas décrire ce fichier compagnon"));
        return false;
    }
    const off_t total = off_t(vexaFileGetOffsetData(d))
        + off_t(width) * off_t(height) * off_t(depth) * off_t(vexaTypeSize(s.type));
    if (int err = ::posix_fallocate(t.out.fd(), 0, total)) {
        setReason(
            reason, fileReason(t.name, withCause("Place insuffisante pour les échantillons", err)));
        return false;
    }
    return true;
}

// out[m][j][z] = slab[z][j][nx - 1 - m]: a slab of nx columns, ny rows and depth
// planes turned into nx planes of depth x ny (the y-z companion, last column first).
// Tiles keep both sides within a few cache lines.
template <typename T>
void turnColumns(const unsigned char* slabBytes, unsigned char* outBytes, int nx, int ny, int depth)
{
    constexpr int kTile = 32;
    const T* slab = reinterpret_cast<const T*>(slabBytes);
    T* out = reinterpret_cast<T*>(outBytes);
    const std::size_t slabPlane = std::size_t(nx) * std::size_t(ny);
    const std::size_t outPlane = std::size_t(ny) * std::size_t(depth);
    for (int j = 0; j < ny; ++j) {
        for (int z0 = 0; z0 < depth; z0 += kTile) {
            const int z1 = std::min(depth, z0 + kTile);
            for (int m0 = 0; m0 < nx; m0 += kTile) {
                const int m1 = std::min(nx, m0 + kTile);
                for (int m = m0; m < m1; ++m) {
                    const T* src = slab + std::size_t(j) * nx + std::size_t(nx - 1 - m);
                    T* dst = out + std::size_t(m) * outPlane + std::size_t(j) * depth;
                    for (int z = z0; z < z1; ++z)
                        dst[z] = src[std::size_t(z) * slabPlane];
                }
            }
        }
    }
}

void turnColumns(const unsigned char* slab, unsigned char* out, int nx, int ny, int depth, int es)
{
    switch (es) {
    case 1:
        return turnColumns<std::uint8_t>(slab, out, nx, ny, depth);
    case 2:
        return turnColumns<std::uint16_t>(slab, out, nx, ny, depth);
    case 4:
        return turnColumns<std::uint32_t>(slab, out, nx, ny, depth);
    default:
        return turnColumns<std::uint64_t>(slab, out, nx, ny, depth);
    }
}

bool readSource(BlockDescriptor& b, Source& s, std::string* reason)
{
    std::shared_lock lock(b.lock);
    if (b.storage != STORAGE_FILE || !b.file) {
        setReason(reason, "Les fichiers compagnons se créent pour un bloc lu dans un fichier");
        return false;
    }
    s.path = b.fileName;
    s.dimX = b.dimX;
    s.dimY = b.dimY;
    s.dimZ = b.dimZ;
    s.type = b.typeData;
    s.header = vexaFileGetHeaderFound(b.file.get());
    s.transpose = vexaFileGetTranspose(b.file.get()) ? 1 : 0;
    s.writes = b.fileWrites;
    if (s.header != VEXAFILE_HEADER_GDR && s.header != VEXAFILE_HEADER_INRIA) {
        setReason(reason,
            fileReason(s.path, "Les fichiers compagnons se créent pour un fichier GDR ou INRIA"));
        return false;
    }
    if (vexaFileGetTiled(b.file.get())) {
        setReason(reason,
            fileReason(
                s.path, "Les fichiers compagnons ne se créent pas pour un fichier en cubes"));
        return false;
    }
    return true;
}

} // namespace

CompanionBuild buildCompanions(
    BlockDescriptor& b, const CompanionHooks& hooks, std::string* reason, std::int64_t budgetBytes)
{
    Source s;
    if (!readSource(b, s, reason))
        return CompanionBuild::Failed;
    auto [topName, rightName] = companionNames(s.path);
    if (topName.empty()) {
        setReason(reason,
            fileReason(s.path,
                "Pas de fichiers compagnons pour ce nom : il doit finir par « xy » (x ou y suivi "
                "d'un caractère) juste avant son extension"));
        return CompanionBuild::Failed;
    }
    if (topName == s.path || rightName == s.path) {
        setReason(reason,
            fileReason(
                s.path, "Ce fichier porte déjà un nom de fichier compagnon (« xz » ou « yz »)"));
        return CompanionBuild::Failed;
    }
    for (const std::string& name : { topName, rightName })
        if (dataFileInUse(name, &b)) {
            setReason(reason,
                fileReason(
                    name, "Le fichier est lu par une donnée ouverte : il n'est pas remplacé"));
            return CompanionBuild::Failed;
        }

    const int X = s.dimX, Y = s.dimY, Z = s.dimZ;
    const int es = vexaTypeSize(s.type);
    Target top, right;
    top.name = topName;
    right.name = rightName;
    if (!createTarget(top, s, X, Z, Y, reason) || !createTarget(right, s, Z, Y, X, reason))
        return CompanionBuild::Failed;

    // Slabs follow the file's own lines so that each plane gives one contiguous read:
    // whole rows of a plain file, whole columns of a transposed one.
    const bool byColumns = s.transpose != 0;
    const int lines = byColumns ? X : Y;
    const std::int64_t lineBytes = std::int64_t(byColumns ? Y : X) * Z * es;
    const int step = int(std::clamp<std::int64_t>(budgetBytes / 2 / lineBytes, 1, lines));
    const int slabs = (lines + step - 1) / step;
    Buffer turned(static_cast<unsigned char*>(std::malloc(std::size_t(step * lineBytes))));
    if (!turned) {
        setReason(reason, "Mémoire insuffisante pour créer les fichiers compagnons");
        return CompanionBuild::Failed;
    }
    const std::string changed
        = fileReason(s.path, "Le bloc a été modifié pendant la création des fichiers compagnons");
    for (int k = 0; k < slabs; ++k) {
        if (hooks.stopRequested && hooks.stopRequested())
            return CompanionBuild::Stopped;
        const int first = k * step;
        const int n = std::min(step, lines - first);
        const int x0 = byColumns ? first : 0, nx = byColumns ? n : X;
        const int y0 = byColumns ? 0 : first, ny = byColumns ? Y : n;
        Buffer slab;
        {
            std::shared_lock lock(b.lock);
            if (b.fileWrites != s.writes || !b.file) {
                setReason(reason, changed);
                return CompanionBuild::Failed;
            }
            slab.reset(static_cast<unsigned char*>(
                vexaFileReadBlockPart(b.file.get(), VEXAFILE_FRONT, x0, y0, 0, nx, ny, Z)));
        }
        if (!slab) {
            const char* why = vexaFileGetLastError();
            setReason(reason, *why ? why : fileReason(s.path, "Lecture impossible du bloc"));
            return CompanionBuild::Failed;
        }
        // x-z companion: its plane y, row r is row y of the block's plane Z - 1 - r.
        const std::size_t run = std::size_t(nx) * es;
        for (int j = 0; j < ny; ++j)
            for (int r = 0; r < Z; ++r)
                std::memcpy(turned.get() + (std::size_t(j) * Z + r) * run,
                    slab.get() + (std::size_t(Z - 1 - r) * ny + j) * run, run);
        if (!vexaFileWriteBlockPart(
                top.desc.get(), turned.get(), VEXAFILE_FRONT, x0, 0, y0, nx, Z, ny)) {
            setReason(reason, libraryReason(top));
            return CompanionBuild::Failed;
        }
        // y-z companion: its plane m holds column X - 1 - m, z across and y down.
        turnColumns(slab.get(), turned.get(), nx, ny, Z, es);
        slab.reset();
        if (!vexaFileWriteBlockPart(
                right.desc.get(), turned.get(), VEXAFILE_FRONT, 0, y0, X - x0 - nx, Z, ny, nx)) {
            setReason(reason, libraryReason(right));
            return CompanionBuild::Failed;
        }
        if (hooks.progress)
            hooks.progress(k + 1, slabs);
    }
    turned.reset();

    if (!top.out.commit()) {
        setReason(reason,
            fileReason(top.name, withCause("Impossible de remplacer le fichier", top.out.error())));
        return CompanionBuild::Failed;
    }
    if (!right.out.commit()) {
        std::remove(top.name.c_str());
        setReason(reason,
            fileReason(
                right.name, withCause("Impossible de remplacer le fichier", right.out.error())));
        return CompanionBuild::Failed;
    }
    auto reopen = [](const std::string& name) {
        FileHandle f(vexaFileNameOpen(name.c_str()));
        if (f && !vexaFileReadHeader(f.get()))
            f.reset();
        return f;
    };
    FileHandle topFile = reopen(top.name), rightFile = reopen(right.name);
    std::unique_lock lock(b.lock);
    if (b.fileWrites != s.writes || b.fileName != s.path || !topFile || !rightFile) {
        // Written meanwhile: these copies are stale and would serve wrong sections.
        std::remove(top.name.c_str());
        std::remove(right.name.c_str());
        b.topFile.reset();
        b.rightFile.reset();
        setReason(reason,
            topFile && rightFile
                ? changed
                : fileReason(top.name, "Impossible de relire les fichiers compagnons"));
        return CompanionBuild::Failed;
    }
    b.topFile = std::move(topFile);
    b.rightFile = std::move(rightFile);
    return CompanionBuild::Done;
}

} // namespace vexa
