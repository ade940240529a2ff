// NIfTI-1 and NIfTI-2 (and the Analyze 7.5 .hdr/.img pairs they grew from) through
// niftilib. Voxels keep the file's order: i fastest, then j, then k. A series of
// volumes (a fourth dimension or more) opens on its first volume, and the information
// text says so.
#include "formats/formats.h"

#include <nifti2_io.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <zlib.h>

#include "atomicsave.hpp"
#include "vexa_reason.hpp"
#include "vexa_types.h"

namespace vexa {

namespace {

// niftilib prints its complaints unless told otherwise; the reasons are ours.
void quietNifti()
{
    static std::once_flag once;
    std::call_once(once, [] { nifti_set_debug_level(0); });
}

// niftilib's code for big-endian files (its own macro is private to the library).
constexpr int kMostSignificantFirst = 2;

struct NiftiFree {
    void operator()(nifti_image* nim) const { nifti_image_free(nim); }
};
using NiftiImage = std::unique_ptr<nifti_image, NiftiFree>;

std::string lowered(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool endsWith(const std::string& text, const char* tail)
{
    const std::size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

int32_t headInt(const std::string& head, std::size_t at, bool swapped)
{
    uint32_t v = 0;
    std::memcpy(&v, head.data() + at, 4);
    if (swapped)
        v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    return int32_t(v);
}

// A NIfTI-1, NIfTI-2 or (when analyze is true) Analyze 7.5 header at the start of head.
bool headerLooksRight(const std::string& head, bool analyze)
{
    if (head.size() < 348)
        return false;
    for (bool swapped : { false, true }) {
        const int32_t size = headInt(head, 0, swapped);
        if (size == 348) {
            const char* magic = head.data() + 344;
            if ((magic[0] == 'n' && (magic[1] == '+' || magic[1] == 'i') && magic[2] == '1'
                    && magic[3] == 0)
                || analyze)
                return true;
        }
        if (size == 540 && head.size() >= 540 && head[4] == 'n'
            && (head[5] == '+' || head[5] == 'i') && head[6] == '2' && head[7] == 0)
            return true;
    }
    return false;
}

bool niftiSniff(const std::string& path, const std::string& head)
{
    const std::string name = lowered(path);
    const bool gz = head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0x1f
        && static_cast<unsigned char>(head[1]) == 0x8b;
    if (endsWith(name, ".nii.gz") || endsWith(name, ".hdr.gz"))
        return gz;
    if (endsWith(name, ".nii"))
        return headerLooksRight(head, false);
    if (endsWith(name, ".hdr"))
        return headerLooksRight(head, true);
    if (endsWith(name, ".img")) {
        const std::string hdr
            = path.substr(0, path.size() - 4) + (path.back() == 'G' ? ".HDR" : ".hdr");
        return headerLooksRight(formatHead(hdr), true);
    }
    return false;
}

int typeDataOf(int datatype)
{
    switch (datatype) {
    case DT_UINT8:
        return TYPEDATA_U8;
    case DT_INT8:
        return TYPEDATA_S8;
    case DT_UINT16:
        return TYPEDATA_U16;
    case DT_INT16:
        return TYPEDATA_S16;
    case DT_UINT32:
        return TYPEDATA_U32;
    case DT_INT32:
        return TYPEDATA_S32;
    case DT_FLOAT32:
        return TYPEDATA_F32;
    case DT_FLOAT64:
        return TYPEDATA_F64;
    case DT_RGB24:
    case DT_RGBA32:
        return TYPEDATA_RGBA;
    default:
        return 0;
    }
}

int datatypeOf(int typeData)
{
    switch (typeData) {
    case TYPEDATA_U8:
        return DT_UINT8;
    case TYPEDATA_S8:
        return DT_INT8;
    case TYPEDATA_U16:
        return DT_UINT16;
    case TYPEDATA_S16:
        return DT_INT16;
    case TYPEDATA_U32:
        return DT_UINT32;
    case TYPEDATA_S32:
        return DT_INT32;
    case TYPEDATA_F32:
        return DT_FLOAT32;
    case TYPEDATA_F64:
        return DT_FLOAT64;
    case TYPEDATA_RGBA:
        return DT_RGBA32;
    default:
        return 0;
    }
}

int64_t fileSizeOf(const char* path)
{
    struct stat st { };
    return path && ::stat(path, &st) == 0 ? int64_t(st.st_size) : -1;
}

double spacingOf(double d)
{
    return std::isfinite(d) && d != 0 ? std::fabs(d) : 1.0;
}

// The fields niftilib complains about on stderr, checked first in our own words: the
// dimension count, the dimensions and the data type.
bool precheck(const std::string& path, std::string& why)
{
    std::string hdrName = path;
    if (char* found = nifti_findhdrname(path.c_str())) {
        hdrName = found;
        std::free(found);
    }
    std::string head(540, '\0');
    gzFile in = gzopen(hdrName.c_str(), "rb");
    const int got = in ? gzread(in, head.data(), unsigned(head.size())) : -1;
    if (in)
        gzclose(in);
    why = "en-tête NIfTI illisible ou invalide";
    if (got < 348)
        return false;
    head.resize(std::size_t(got));
    const bool swapped = headInt(head, 0, false) != 348 && headInt(head, 0, false) != 540;
    const bool v2 = headInt(head, 0, swapped) == 540;
    if (!v2 && headInt(head, 0, swapped) != 348)
        return false;
    if (v2 && head.size() < 540)
        return false;
    auto field = [&](std::size_t at, int bytes) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            const auto b = static_cast<unsigned char>(head[at + std::size_t(i)]);
            v |= uint64_t(b) << (8 * (swapped ? bytes - 1 - i : i));
        }
        return bytes == 2 ? int64_t(int16_t(v)) : int64_t(v);
    };
    const int64_t ndim = v2 ? field(16, 8) : field(40, 2);
    if (ndim < 1 || ndim > 7) {
        why = "nombre de dimensions NIfTI invalide";
        return false;
    }
    for (int i = 1; i <= ndim; ++i)
        if ((v2 ? field(16 + 8 * std::size_t(i), 8) : field(40 + 2 * std::size_t(i), 2)) < 1) {
            why = "dimensions NIfTI invalides";
            return false;
        }
    const int datatype = int(v2 ? field(12, 2) : field(70, 2));
    if (typeDataOf(datatype) == 0) {
        const char* name = nifti_datatype_string(datatype);
        why = std::string("type de données NIfTI non pris en charge (")
            + (name && std::strcmp(name, "DT_UNKNOWN") != 0 ? name : std::to_string(datatype))
            + ")";
        return false;
    }
    return true;
}

// Reads the header of path and checks it against what the file can hold. The first
// volume is what gets read: its byte count is voxels * nbyper.
NiftiImage readHeader(const std::string& path, std::string& why)
{
    quietNifti();
    if (fileSizeOf(path.c_str()) < 0) {
        why = systemErrorText(errno);
        return nullptr;
    }
    if (!precheck(path, why))
        return nullptr;
    NiftiImage nim(nifti_image_read(path.c_str(), 0));
    if (!nim) {
        why = "en-tête NIfTI illisible ou invalide";
        return nullptr;
    }
    // Dimensions past ndim may be stored as 0; they count as 1.
    if (nim->ndim < 3)
        nim->nz = 1;
    if (nim->ndim < 2)
        nim->ny = 1;
    if (nim->nx < 1 || nim->ny < 1 || nim->nz < 1 || nim->nx > INT_MAX || nim->ny > INT_MAX
        || nim->nz > INT_MAX || nim->nbyper < 1) {
        why = "dimensions NIfTI invalides";
        return nullptr;
    }
    if (typeDataOf(nim->datatype) == 0) {
        why = "type de données NIfTI non pris en charge";
        return nullptr;
    }
    const int64_t stored = fileSizeOf(nim->iname);
    if (stored < 0) {
        why = "fichier de données introuvable (" + std::string(nim->iname ? nim->iname : "?") + ")";
        return nullptr;
    }
    // Sizes in 64 bits, checked against overflow, then against the file.
    const uint64_t plane = uint64_t(nim->nx) * uint64_t(nim->ny);
    const uint64_t voxels = plane * uint64_t(nim->nz);
    if (voxels / uint64_t(nim->nz) != plane || voxels > (UINT64_MAX >> 4)) {
        why = "dimensions NIfTI invalides";
        return nullptr;
    }
    const uint64_t bytes = voxels * uint64_t(nim->nbyper);
    if (nifti_is_gzfile(nim->iname)) {
        // Deflate packs at most about 1032 bytes into one.
        if (bytes / 1032 > uint64_t(stored)) {
            why = "taille annoncée hors de proportion avec le fichier";
            return nullptr;
        }
    } else if (nim->iname_offset < 0 || uint64_t(nim->iname_offset) + bytes > uint64_t(stored)) {
        why = "fichier tronqué : données incomplètes";
        return nullptr;
    }
    return nim;
}

std::string describe(const nifti_image& nim, int64_t volumes)
{
    std::string text;
    switch (nim.nifti_type) {
    case NIFTI_FTYPE_ANALYZE:
        text = "Analyze 7.5";
        break;
    case NIFTI_FTYPE_NIFTI1_1:
        text = "NIfTI-1 (un fichier)";
        break;
    case NIFTI_FTYPE_NIFTI1_2:
        text = "NIfTI-1 (en-tête et données séparés)";
        break;
    case NIFTI_FTYPE_NIFTI2_1:
        text = "NIfTI-2 (un fichier)";
        break;
    case NIFTI_FTYPE_NIFTI2_2:
        text = "NIfTI-2 (en-tête et données séparés)";
        break;
    default:
        text = "NIfTI";
        break;
    }
    const char* type = nifti_datatype_string(nim.datatype);
    text += " : " + std::to_string(nim.nx) + " x " + std::to_string(nim.ny) + " x "
        + std::to_string(nim.nz) + ", " + (type ? type : "?");
    text += nim.byteorder == kMostSignificantFirst ? ", gros-boutiste" : ", petit-boutiste";
    char spacing[128];
    std::snprintf(spacing, sizeof spacing, "\nEspacement %g x %g x %g", spacingOf(nim.dx),
        spacingOf(nim.dy), spacingOf(nim.dz));
    text += spacing;
    if (nim.scl_slope != 0 && std::isfinite(nim.scl_slope)) {
        char scale[128];
        std::snprintf(
            scale, sizeof scale, "\nValeurs = stockées x %g + %g", nim.scl_slope, nim.scl_inter);
        text += scale;
    }
    if (nim.datatype == DT_RGB24)
        text += "\nCouleur RGB lue en RGBA (alpha 0)";
    if (volumes > 1)
        text += "\nSérie de " + std::to_string(volumes) + " volumes : seul le premier est lu.";
    return text;
}

bool niftiProbe(const std::string& path, FormatHeader& header, std::string* reason)
{
    std::string why;
    NiftiImage nim = readHeader(path, why);
    if (!nim) {
        setReason(reason, fileReason(path, why));
        return false;
    }
    const int64_t perVolume = nim->nx * nim->ny * nim->nz;
    const int64_t volumes = perVolume > 0 ? nim->nvox / perVolume : 0;
    header = FormatHeader {};
    header.width = int(nim->nx);
    header.height = int(nim->ny);
    header.depth = int(nim->nz);
    header.typeData = typeDataOf(nim->datatype);
    header.spacing[0] = spacingOf(nim->dx);
    header.spacing[1] = spacingOf(nim->dy);
    header.spacing[2] = spacingOf(nim->dz);
    if (nim->qform_code > 0 || nim->sform_code > 0) {
        const nifti_dmat44& m = nim->qform_code > 0 ? nim->qto_xyz : nim->sto_xyz;
        for (int i = 0; i < 3; ++i)
            header.origin[i] = std::isfinite(m.m[i][3]) ? m.m[i][3] : 0;
    }
    const double slope = nim->scl_slope, inter = nim->scl_inter;
    if (header.typeData != TYPEDATA_RGBA && slope != 0 && std::isfinite(slope)
        && std::isfinite(inter) && (slope != 1 || inter != 0)) {
        header.valueScaleOn = true;
        header.valueGain = slope;
        header.valueOffset = inter;
    }
    header.info = describe(*nim, volumes);
    return true;
}

bool niftiRead(
    const std::string& path, const FormatHeader& header, void* samples, std::string* reason)
{
    std::string why;
    NiftiImage nim = readHeader(path, why);
    if (!nim) {
        setReason(reason, fileReason(path, why));
        return false;
    }
    if (nim->nx != header.width || nim->ny != header.height || nim->nz != header.depth
        || typeDataOf(nim->datatype) != header.typeData || !samples) {
        setReason(reason, fileReason(path, "le fichier a changé depuis la lecture de l'en-tête"));
        return false;
    }
    const int64_t voxels = nim->nx * nim->ny * nim->nz;
    const uint64_t bytes = uint64_t(voxels) * uint64_t(nim->nbyper);
    // The first volume lies first in the data: read it straight into samples (the
    // library's own sub-volume reader frees the caller's buffer when it fails). zlib
    // reads plain files as they are.
    gzFile in = gzopen(nim->iname, "rb");
    bool ok = in && gzseek(in, z_off_t(nim->iname_offset), SEEK_SET) == z_off_t(nim->iname_offset);
    auto* p = static_cast<uint8_t*>(samples);
    constexpr uint64_t kPiece = uint64_t(1) << 26; // gzread counts in int
    for (uint64_t at = 0; ok && at < bytes; at += kPiece) {
        const unsigned n = unsigned(std::min(kPiece, bytes - at));
        ok = gzread(in, p + at, n) == int(n);
    }
    if (ok && nim->nvox == voxels && !gzdirect(in)) {
        // The whole stream was wanted: reading on to its end checks its trailer, so
        // that a file cut short is not taken for a good one.
        uint8_t rest[64];
        while (gzread(in, rest, sizeof rest) > 0) { }
        int status = Z_OK;
        gzerror(in, &status);
        ok = status == Z_OK;
    }
    if (in)
        gzclose(in);
    if (!ok) {
        setReason(reason, fileReason(path, "données NIfTI tronquées ou illisibles"));
        return false;
    }
    if (nim->byteorder != nifti_short_order() && nim->swapsize > 1)
        nifti_swap_Nbytes(voxels, nim->swapsize, p);
    if (nim->datatype == DT_RGB24) {
        // Spread R, G, B to four bytes, from the end so that nothing is overwritten
        // before it is moved.
        for (int64_t i = voxels - 1; i >= 0; --i) {
            const uint8_t r = p[3 * i], g = p[3 * i + 1], b = p[3 * i + 2];
            p[4 * i] = r;
            p[4 * i + 1] = g;
            p[4 * i + 2] = b;
            p[4 * i + 3] = 0;
        }
    }
    return true;
}

bool niftiAccepts(int typeData)
{
    return datatypeOf(typeData) != 0;
}

bool niftiWrite(const std::string& path, const FormatBlockView& block, std::string* reason)
{
    quietNifti();
    const int datatype = datatypeOf(block.typeData);
    if (!datatype || block.width <= 0 || block.height <= 0 || block.depth <= 0 || !block.samples) {
        setReason(reason, fileReason(path, "bloc invalide : rien n'est écrit"));
        return false;
    }
    const bool gz = endsWith(lowered(path), ".gz");
    // NIfTI-1 keeps dimensions in 16 bits; larger ones need NIfTI-2.
    const bool v2 = block.width > 32767 || block.height > 32767 || block.depth > 32767;
    const int64_t dims[8]
        = { block.depth > 1 ? 3 : 2, block.width, block.height, block.depth, 1, 1, 1, 1 };
    NiftiImage nim(nifti_make_new_nim(dims, datatype, 0));
    if (!nim) {
        setReason(reason, fileReason(path, "en-tête NIfTI impossible à construire"));
        return false;
    }
    nim->nifti_type = v2 ? NIFTI_FTYPE_NIFTI2_1 : NIFTI_FTYPE_NIFTI1_1;
    nim->dx = nim->pixdim[1] = block.spacing[0];
    nim->dy = nim->pixdim[2] = block.spacing[1];
    nim->dz = nim->pixdim[3] = block.spacing[2];
    nim->qform_code = NIFTI_XFORM_SCANNER_ANAT;
    nim->quatern_b = nim->quatern_c = nim->quatern_d = 0;
    nim->qfac = 1;
    nim->qoffset_x = block.origin[0];
    nim->qoffset_y = block.origin[1];
    nim->qoffset_z = block.origin[2];
    if (block.valueScaleOn && block.valueGain != 0 && std::isfinite(block.valueGain)
        && std::isfinite(block.valueOffset)) {
        nim->scl_slope = block.valueGain;
        nim->scl_inter = block.valueOffset;
    }
    nim->iname_offset = v2 ? 544 : 352;

    std::vector<uint8_t> head;
    if (v2) {
        nifti_2_header hdr {};
        if (nifti_convert_nim2n2hdr(nim.get(), &hdr) != 0) {
            setReason(reason, fileReason(path, "en-tête NIfTI impossible à construire"));
            return false;
        }
        head.assign(reinterpret_cast<const uint8_t*>(&hdr),
            reinterpret_cast<const uint8_t*>(&hdr) + sizeof hdr);
    } else {
        nifti_1_header hdr {};
        if (nifti_convert_nim2n1hdr(nim.get(), &hdr) != 0) {
            setReason(reason, fileReason(path, "en-tête NIfTI impossible à construire"));
            return false;
        }
        head.assign(reinterpret_cast<const uint8_t*>(&hdr),
            reinterpret_cast<const uint8_t*>(&hdr) + sizeof hdr);
    }
    head.resize(std::size_t(nim->iname_offset), 0); // no extensions: four zero bytes

    atomicsave::AtomicFile file;
    if (!file.open(path)) {
        setReason(reason, fileReason(path, withCause("écriture impossible", file.error())));
        return false;
    }
    const uint64_t bytes = uint64_t(block.width) * uint64_t(block.height) * uint64_t(block.depth)
        * uint64_t(vexaTypeSize(block.typeData));
    const auto* src = static_cast<const uint8_t*>(block.samples);
    bool ok = true;
    if (!gz) {
        ok = file.write(head.data(), head.size()) && file.write(src, std::size_t(bytes));
    } else {
        // gzclose closes the descriptor it is given; the saver keeps its own.
        const int fd = ::dup(file.fd());
        gzFile out = fd >= 0 ? gzdopen(fd, "wb") : nullptr;
        if (!out) {
            if (fd >= 0)
                ::close(fd);
            setReason(reason, fileReason(path, withCause("écriture impossible", errno)));
            return false;
        }
        ok = gzwrite(out, head.data(), unsigned(head.size())) == int(head.size());
        // Bounded pieces: gzwrite counts in int.
        constexpr uint64_t kPiece = uint64_t(1) << 26;
        for (uint64_t at = 0; ok && at < bytes; at += kPiece) {
            const unsigned n = unsigned(std::min(kPiece, bytes - at));
            ok = gzwrite(out, src + at, n) == int(n);
        }
        ok = gzclose(out) == Z_OK && ok;
    }
    if (!ok) {
        file.discard();
        setReason(reason, fileReason(path, "écriture NIfTI interrompue : fichier inchangé"));
        return false;
    }
    if (!file.commit()) {
        setReason(reason, fileReason(path, withCause("enregistrement impossible", file.error())));
        return false;
    }
    return true;
}

} // namespace

const FormatReader& niftiReader()
{
    static const FormatReader r { "NIfTI", "*.nii *.nii.gz *.hdr *.img", niftiSniff, niftiProbe,
        niftiRead };
    return r;
}

const FormatWriter& niftiWriter()
{
    static const FormatWriter w { "NIfTI", ".nii", "*.nii *.nii.gz", niftiAccepts, niftiWrite };
    return w;
}

} // namespace vexa
