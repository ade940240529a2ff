#include "data/datasave.h"

#include "atomicsave.hpp"
#include "data/dataopen.h"
#include "data/datasavebmp.h"
#include "data/registry.h"
#include "data/section.h"
#include "formats/formats.h"
#include "params/paramapi.h"
#include "vexa_reason.hpp"
#include "vexafile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <vector>

namespace vexa {

namespace {

const SaveFormat kFormats[] = {
    { "GDR", SAVE_FORMAT_GDR, VEXAFILE_HEADER_GDR },
    { "DF3", SAVE_FORMAT_DF3, VEXAFILE_HEADER_DF3 },
    { "RAW", SAVE_FORMAT_RAW, VEXAFILE_HEADER_RAW },
    { "INRIA", SAVE_FORMAT_INRIA, VEXAFILE_HEADER_INRIA },
    { "INRIA avec référence", SAVE_FORMAT_INRIA_REFERENCE, VEXAFILE_HEADER_INRIA },
    { "BMP", SAVE_FORMAT_BMP, 0 },
};

// INRIA headers keep their free text (the comments) from this byte on.
constexpr int kInriaCommentStart = 76;
constexpr int kInriaHeaderBytes = 4096;
// Largest header copied from a reference file.
constexpr int kMaxReferenceHeader = 1 << 20;

std::mutex gPresenterMutex;
SaveFormatPresenter gPresenter;

std::mutex gReferenceMutex;
std::string gReferencePath;
bool gReferenceCopyDimensions = false;

std::string joinList(const std::vector<std::string>& entries)
{
    std::string out;
    for (const std::string& e : entries) {
        if (!out.empty())
            out += ',';
        out += e;
    }
    return out;
}

// The writer of another program's format behind a code, or null.
const FormatWriter* otherWriter(int code)
{
    const std::vector<FormatWriter>& writers = formatWriters();
    if (code < SAVE_FORMAT_OTHER || code - SAVE_FORMAT_OTHER >= int(writers.size()))
        return nullptr;
    return &writers[std::size_t(code - SAVE_FORMAT_OTHER)];
}

bool isFormatCode(int code)
{
    return (code >= SAVE_FORMAT_BMP && code <= SAVE_FORMAT_RAW) || otherWriter(code);
}

int headerKindOf(int code)
{
    for (const SaveFormat& f : kFormats)
        if (f.code == code)
            return f.headerKind;
    return 0;
}

// The saves after which the block lives in the saved file.
bool movesBlock(int code)
{
    return code == SAVE_FORMAT_GDR || code == SAVE_FORMAT_INRIA
        || code == SAVE_FORMAT_INRIA_REFERENCE;
}

bool askWithParamBoxes(SaveFormatChoice& c)
{
    if (c.blockOffered) {
        std::int32_t dimension = c.threeD ? 1 : 0;
        if (dozBoxParameter("2D,3D%l", &dimension) != 1)
            return false;
        c.threeD = dimension == 1;
    } else {
        c.threeD = false;
    }
    std::vector<SaveFormat> formats = saveFormatsListed(c.threeD);
    std::vector<std::string> labels;
    for (const SaveFormat& f : formats)
        labels.push_back(f.label);
    std::int32_t format = c.formatPosition;
    if (format < 0 || format >= std::int32_t(formats.size()))
        format = 0;
    if (dozBoxParameter((joinList(labels) + "%l").c_str(), &format) != 1)
        return false;
    if (format < 0 || format >= std::int32_t(formats.size()))
        return false;
    c.formatPosition = format;
    const int code = formats[std::size_t(format)].code;
    std::int32_t type = saveFormatDefaultTypePosition(code, c.threeD ? c.blockType : c.imageType);
    if (dozBoxParameter((joinList(saveFormatTypeLabels(code)) + "%l").c_str(), &type) != 1)
        return false;
    c.typePosition = type;
    return true;
}

// The datum's samples to save: sizes, and plane k as a new malloc'd array of the
// chosen type (null when it cannot be read).
struct SaveSource {
    int width = 0, height = 0, depth = 0;
    std::function<void*(int)> plane;
};

// A converted copy of raw (which is taken over), through the same rules as the
// data callbacks: clamped and truncated, RGBA to scalar by the mean, scalar to RGBA
// through the palette.
void* convertPlane(void* raw, int width, int height, int from, int to, PaletteRef palette)
{
    if (!raw || from == to)
        return raw;
    ImageDescriptor temp;
    temp.width = width;
    temp.height = height;
    temp.typeData = from;
    temp.palette = palette;
    temp.samples.adopt(
        raw, std::size_t(width) * std::size_t(height) * std::size_t(vexaTypeSize(from)));
    return readImageData(temp, 1, 0, to);
}

SaveSource imageSource(ImageDescriptor& image, int type)
{
    SaveSource src;
    {
        std::lock_guard lock(image.lock);
        src.width = image.width;
        src.height = image.height;
    }
    src.depth = 1;
    src.plane = [&image, type](int) -> void* {
        std::lock_guard lock(image.lock);
        return readImageData(image, 1, 0, type);
    };
    return src;
}

SaveSource blockSource(BlockDescriptor& block, int type)
{
    SaveSource src;
    int blockType;
    PaletteRef palette;
    {
        std::shared_lock lock(block.lock);
        src.width = block.dimX;
        src.height = block.dimY;
        src.depth = block.dimZ;
        blockType = block.typeData;
        palette = block.palette;
    }
    const int w = src.width, h = src.height;
    src.plane = [&block, type, blockType, palette, w, h](int k) -> void* {
        void* raw = readSection(block, false, blockType, PLANE_FRONT, k, 0, 0, w - 1, h - 1);
        return convertPlane(raw, w, h, blockType, type, palette);
    };
    return src;
}

// The reason of a failed write of temp, told about target: vexaFile's cause when it
// has one about temp.
std::string writeFailure(const std::string& target, const std::string& temp)
{
    const std::string text = vexaFileGetLastError();
    const std::string prefix = temp + " : ";
    if (!temp.empty() && text.rfind(prefix, 0) == 0)
        return fileReason(target, text.substr(prefix.size()));
    return fileReason(target, "Erreur d'écriture (disque plein ou accès refusé)");
}

// Writes the planes of the source into a descriptor whose header is written. Planes
// outside the file's volume are left out and the part of a plane outside it clipped.
bool writePlanes(
    FileDescriptor* desc, const SaveSource& src, const std::string& target, std::string* reason)
{
    int fw = 0, fh = 0, fd = 0;
    vexaFileGetSizes(desc, &fw, &fh, &fd);
    const int planes = std::min(src.depth, fd);
    for (int k = 0; k < planes; ++k) {
        void* plane = src.plane(k);
        if (!plane) {
            setReason(reason, "Lecture impossible des échantillons à sauvegarder");
            return false;
        }
        int ok
            = vexaFileWriteImagePart(desc, plane, VEXAFILE_FRONT, 0, 0, k, src.width, src.height);
        std::free(plane);
        if (!ok) {
            setReason(reason, writeFailure(target, vexaFileGetFullName(desc)));
            return false;
        }
    }
    return true;
}

FileHandle newDescriptor(const std::string& path, const SaveSource& src, int type, int kind)
{
    FileHandle desc(vexaFileNew());
    if (!desc)
        return nullptr;
    vexaFileSetFullName(desc.get(), path.c_str());
    vexaFileSetSizes(desc.get(), src.width, src.height, src.depth);
    vexaFileSetTypeData(desc.get(), type);
    vexaFileSetNbBits(desc.get(), vexaTypeBits(type));
    vexaFileSetSign(desc.get(), vexaTypeSign(type));
    vexaFileSetHeader(desc.get(), kind);
    return desc;
}

bool writeWithHeader(
    const std::string& temp, const SaveSource& src, const SaveRequest& rq, std::string* reason)
{
    FileHandle desc = newDescriptor(temp, src, rq.typeData, headerKindOf(rq.formatCode));
    if (!desc || !vexaFileWriteHeader(desc.get())) {
        setReason(reason,
            fileReason(rq.path,
                "Impossible d'écrire l'entête (taille ou type non représentable dans ce format)"));
        return false;
    }
    return writePlanes(desc.get(), src, rq.path, reason);
}

bool readBytes(const std::string& path, std::vector<std::uint8_t>& out)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    return f && std::fread(out.data(), 1, out.size(), f.get()) == out.size();
}

bool writeBytesAt(
    const std::string& path, long offset, const std::uint8_t* data, std::size_t bytes, bool create)
{
    std::FILE* f = std::fopen(path.c_str(), create ? "wb" : "r+b");
    if (!f)
        return false;
    bool ok = std::fseek(f, offset, SEEK_SET) == 0 && std::fwrite(data, 1, bytes, f) == bytes;
    return std::fclose(f) == 0 && ok;
}

// "INRIA avec référence": the reference's header, with either its own dimensions or
// the datum's (the INRIA fields rewritten, the reference's comments kept).
bool writeWithReference(
    const std::string& temp, const SaveSource& src, const SaveRequest& rq, std::string* reason)
{
    FileHandle ref = dataOpenDescriptor(rq.referencePath);
    if (!ref) {
        setReason(reason, fileReason(rq.referencePath, "Impossible d'ouvrir le fichier référence"));
        return false;
    }
    if (vexaFileGetTypeData(ref.get()) != rq.typeData) {
        setReason(reason,
            fileReason(rq.referencePath,
                "Le fichier référence n'a pas le type choisi : rien n'est sauvegardé"));
        return false;
    }
    const int offset = vexaFileGetOffsetData(ref.get());
    if (offset <= 0 || offset > kMaxReferenceHeader || vexaFileIsLogical(ref.get())) {
        setReason(reason,
            fileReason(rq.referencePath, "Le fichier référence n'a pas d'entête à recopier"));
        return false;
    }
    std::vector<std::uint8_t> header(std::size_t(offset), 0);
    if (!readBytes(rq.referencePath, header)) {
        setReason(reason,
            fileReason(rq.referencePath, "Impossible de lire l'entête du fichier référence"));
        return false;
    }
    if (rq.copyDimensions) {
        if (!writeBytesAt(temp, 0, header.data(), header.size(), true)) {
            setReason(reason, writeFailure(rq.path, {}));
            return false;
        }
    } else {
        FileHandle fresh = newDescriptor(temp, src, rq.typeData, VEXAFILE_HEADER_INRIA);
        if (!fresh || !vexaFileWriteHeader(fresh.get())) {
            setReason(reason,
                fileReason(rq.path,
                    "Impossible d'écrire l'entête (taille ou type non représentable dans ce "
                    "format)"));
            return false;
        }
        const int end = std::min(offset, kInriaHeaderBytes);
        if (end > kInriaCommentStart
            && !writeBytesAt(temp, kInriaCommentStart, header.data() + kInriaCommentStart,
                std::size_t(end - kInriaCommentStart), false)) {
            setReason(reason, writeFailure(rq.path, {}));
            return false;
        }
    }
    FileHandle desc = dataOpenDescriptor(temp);
    if (!desc || vexaFileGetTypeData(desc.get()) != rq.typeData) {
        setReason(reason,
            fileReason(
                rq.referencePath, "L'entête recopié du fichier référence n'est pas lisible"));
        return false;
    }
    return writePlanes(desc.get(), src, rq.path, reason);
}

bool writeBmp(
    const std::string& temp, const SaveSource& src, const SaveRequest& rq, std::string* reason)
{
    void* pixels = src.plane(0);
    if (!pixels) {
        setReason(reason, "Lecture impossible des échantillons à sauvegarder");
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(pixels);
    bool ok = rq.typeData == TYPEDATA_RGBA ? writeBmpColour(temp, bytes, src.width, src.height)
                                           : writeBmpGrey(temp, bytes, src.width, src.height);
    std::free(pixels);
    if (!ok)
        setReason(reason, writeFailure(rq.path, {}));
    return ok;
}

// A save through the writer of another program's format, which replaces the file
// whole or not at all itself. The samples are gathered plane by plane first.
bool writeOther(const FormatWriter& writer, DataRecord& record, const SaveSource& src,
    const SaveRequest& rq, std::string* reason)
{
    const std::size_t planeBytes
        = std::size_t(src.width) * std::size_t(src.height) * std::size_t(vexaTypeSize(rq.typeData));
    std::vector<std::uint8_t> samples;
    try {
        samples.resize(planeBytes * std::size_t(src.depth));
    } catch (const std::bad_alloc&) {
        setReason(reason, fileReason(rq.path, "Mémoire insuffisante pour préparer la sauvegarde"));
        return false;
    }
    for (int k = 0; k < src.depth; ++k) {
        void* plane = src.plane(k);
        if (!plane) {
            setReason(reason, "Lecture impossible des échantillons à sauvegarder");
            return false;
        }
        std::memcpy(samples.data() + std::size_t(k) * planeBytes, plane, planeBytes);
        std::free(plane);
    }
    FormatBlockView view;
    view.width = src.width;
    view.height = src.height;
    view.depth = src.depth;
    view.typeData = rq.typeData;
    view.samples = samples.data();
    if (BlockDescriptor* block = rq.threeD ? record.block() : nullptr) {
        std::shared_lock lock(block->lock);
        view.valueGain = block->valueGain;
        view.valueOffset = block->valueOffset;
        view.valueScaleOn = block->valueScaleOn != 0;
        if (block->spaceStep > 0)
            view.spacing[2] = block->spaceStep;
        view.origin[2] = block->spaceStart;
    } else if (ImageDescriptor* image = record.image2d()) {
        std::lock_guard lock(image->lock);
        view.valueGain = image->valueGain;
        view.valueOffset = image->valueOffset;
        view.valueScaleOn = image->valueScaleOn != 0;
    }
    std::string why;
    if (!writer.write(rq.path, view, &why)) {
        setReason(reason, why.empty() ? fileReason(rq.path, "Erreur d'écriture") : why);
        return false;
    }
    return true;
}

// The block of record now lives in path: samples in memory are released, the
// descriptor is reopened from the file and every record of the block shows the name.
void moveBlockToFile(DataRecord* record, const std::string& path)
{
    BlockDescriptor* b = record->block();
    FileHandle file = dataOpenDescriptor(path);
    if (!b || !file)
        return;
    int w = 0, h = 0, d = 0;
    vexaFileGetSizes(file.get(), &w, &h, &d);
    const int type = vexaFileGetTypeData(file.get());
    {
        std::unique_lock lock(b->lock);
        // A file of other sizes (a reference's dimensions kept) cannot stand for the
        // block.
        if (w != b->dimX || h != b->dimY || d != b->dimZ || !vexaTypeIsValid(type))
            return;
        const int op = b->writeOp;
        if (op == 0 || op == 1 || op == 2 || op == 3 || op == 4 || op == 99)
            vexaFileSetOp(file.get(), op);
        b->fileName = path;
        b->samples.reset();
        b->storage = STORAGE_FILE;
        b->typeData = type;
        b->file = std::move(file);
        // The companions belonged to the old file.
        b->topFile.reset();
        b->rightFile.reset();
    }
    std::vector<DataRecord*> shown;
    for (DataRecord* r : dataListAll())
        if (r == record || (record->blockId != 0 && r->blockId == record->blockId))
            shown.push_back(r);
    {
        std::unique_lock lock(registryMutex());
        for (DataRecord* r : shown)
            splitFileName(path, r->directory, r->fileName);
    }
    for (DataRecord* r : shown)
        dataUpdateTitle(r);
}

} // namespace

std::vector<SaveFormat> saveFormatsOffered(bool threeD)
{
    std::vector<SaveFormat> out;
    for (const SaveFormat& f : kFormats)
        if (!(threeD && f.code == SAVE_FORMAT_BMP))
            out.push_back(f);
    return out;
}

std::vector<SaveFormat> saveFormatsListed(bool threeD)
{
    std::vector<SaveFormat> out = saveFormatsOffered(threeD);
    const std::vector<FormatWriter>& writers = formatWriters();
    for (std::size_t i = 0; i < writers.size(); ++i)
        out.push_back({ writers[i].name, SAVE_FORMAT_OTHER + int(i), 0 });
    return out;
}

std::vector<int> saveFormatTypes(int code)
{
    if (const FormatWriter* writer = otherWriter(code)) {
        std::vector<int> types;
        for (int type : vexaTypeListOrder)
            if (writer->accepts(type))
                types.push_back(type);
        return types;
    }
    switch (code) {
    case SAVE_FORMAT_GDR:
    case SAVE_FORMAT_RAW:
        return std::vector<int>(vexaTypeListOrder, vexaTypeListOrder + VEXA_TYPE_COUNT);
    case SAVE_FORMAT_DF3:
        return { TYPEDATA_U8, TYPEDATA_U16, TYPEDATA_U32 };
    case SAVE_FORMAT_INRIA:
    case SAVE_FORMAT_INRIA_REFERENCE:
        return { TYPEDATA_U8, TYPEDATA_S8, TYPEDATA_S16 };
    case SAVE_FORMAT_BMP:
        return { TYPEDATA_U8, TYPEDATA_RGBA };
    default:
        return {};
    }
}

std::vector<std::string> saveFormatTypeLabels(int code)
{
    std::vector<std::string> labels;
    if (code == SAVE_FORMAT_BMP)
        return { VEXA_PICTURE_GREY_LABEL, vexaTypeSaveLabel(TYPEDATA_RGBA) };
    for (int type : saveFormatTypes(code))
        labels.push_back(vexaTypeSaveLabel(type));
    return labels;
}

int saveFormatDefaultTypePosition(int code, int datumType)
{
    switch (code) {
    case SAVE_FORMAT_GDR:
    case SAVE_FORMAT_RAW: {
        int pos = vexaTypeListPosition(datumType);
        return pos < 0 ? 0 : pos;
    }
    case SAVE_FORMAT_INRIA:
    case SAVE_FORMAT_INRIA_REFERENCE:
        return 2;
    case SAVE_FORMAT_BMP:
        return datumType == TYPEDATA_RGBA ? 1 : 0;
    default: {
        if (!otherWriter(code))
            return 0;
        const std::vector<int> types = saveFormatTypes(code);
        const auto own = std::find(types.begin(), types.end(), datumType);
        return own == types.end() ? 0 : int(own - types.begin());
    }
    }
}

void setSaveFormatPresenter(SaveFormatPresenter presenter)
{
    std::lock_guard lock(gPresenterMutex);
    gPresenter = std::move(presenter);
}

bool askSaveFormat(SaveFormatChoice& choice)
{
    SaveFormatPresenter presenter;
    {
        std::lock_guard lock(gPresenterMutex);
        presenter = gPresenter;
    }
    if (!choice.blockOffered)
        choice.threeD = false;
    bool ok = presenter ? presenter(choice) : askWithParamBoxes(choice);
    if (!ok)
        return false;
    if (!choice.blockOffered)
        choice.threeD = false;
    std::vector<SaveFormat> formats = saveFormatsListed(choice.threeD);
    if (choice.formatPosition < 0 || choice.formatPosition >= int(formats.size()))
        return false;
    const int code = formats[std::size_t(choice.formatPosition)].code;
    return choice.typePosition >= 0 && choice.typePosition < int(saveFormatTypes(code).size());
}

bool askSaveReference(std::string& path, bool& copyDimensions)
{
    std::array<char, PARAM_PATH_BUFFER> name {};
    std::int32_t copy;
    {
        std::lock_guard lock(gReferenceMutex);
        std::snprintf(name.data(), name.size(), "%s", gReferencePath.c_str());
        copy = gReferenceCopyDimensions ? 1 : 0;
    }
    if (dozBoxParameter("Fichier référence%h%nRecopie des dimensions%c%n", name.data(), &copy) != 1)
        return false;
    name.back() = '\0';
    path = name.data();
    copyDimensions = copy != 0;
    std::lock_guard lock(gReferenceMutex);
    gReferencePath = path;
    gReferenceCopyDimensions = copyDimensions;
    return true;
}

bool dataSave(DataRecord* record, const SaveRequest& rq, std::string* reason)
{
    if (!record || record->kind != DATA_IMAGE || !record->image2d()) {
        setReason(reason, "Cette donnée ne peut pas être sauvegardée comme image");
        return false;
    }
    if (rq.path.empty()) {
        setReason(reason, "Nom de fichier vide");
        return false;
    }
    const std::vector<int> types = saveFormatTypes(rq.formatCode);
    if (!isFormatCode(rq.formatCode)
        || std::find(types.begin(), types.end(), rq.typeData) == types.end()) {
        setReason(reason, "Type de données non proposé pour ce format");
        return false;
    }
    BlockDescriptor* block = record->block();
    if (rq.threeD && (!block || rq.formatCode == SAVE_FORMAT_BMP)) {
        setReason(reason, "Sauvegarde 3D impossible pour cette donnée ou ce format");
        return false;
    }
    const bool moving = rq.threeD && movesBlock(rq.formatCode);
    if (dataFileInUse(rq.path, moving ? block : nullptr)) {
        setReason(reason,
            fileReason(
                rq.path, "Le fichier est lu par une donnée ouverte : il n'est pas remplacé"));
        return false;
    }
    SaveSource src = rq.threeD ? blockSource(*block, rq.typeData)
                               : imageSource(*record->image2d(), rq.typeData);
    if (src.width <= 0 || src.height <= 0 || src.depth <= 0) {
        setReason(reason, "Donnée vide : rien à sauvegarder");
        return false;
    }
    if (const FormatWriter* writer = otherWriter(rq.formatCode)) {
        if (!writeOther(*writer, *record, src, rq, reason))
            return false;
        record->savedToFile = true;
        return true;
    }
    atomicsave::AtomicFile temp;
    if (!temp.open(rq.path)) {
        setReason(
            reason, fileReason(rq.path, withCause("Impossible de créer le fichier", temp.error())));
        return false;
    }
    bool ok;
    switch (rq.formatCode) {
    case SAVE_FORMAT_BMP:
        ok = writeBmp(temp.tempPath(), src, rq, reason);
        break;
    case SAVE_FORMAT_INRIA_REFERENCE:
        ok = writeWithReference(temp.tempPath(), src, rq, reason);
        break;
    default:
        ok = writeWithHeader(temp.tempPath(), src, rq, reason);
        break;
    }
    if (!ok)
        return false;
    if (!temp.commit()) {
        setReason(reason,
            fileReason(rq.path, withCause("Impossible de remplacer le fichier", temp.error())));
        return false;
    }
    if (moving)
        moveBlockToFile(record, rq.path);
    record->savedToFile = true;
    return true;
}

std::string saveDataFilters(int code)
{
    std::string first;
    switch (code) {
    case SAVE_FORMAT_BMP:
        first = "Fichier Bitmap (*.bmp)";
        break;
    case SAVE_FORMAT_GDR:
        first = "Fichier GDR (*.gdr)";
        break;
    case SAVE_FORMAT_INRIA:
    case SAVE_FORMAT_INRIA_REFERENCE:
        first = "Fichier INRIA (*.xt *.iso)";
        break;
    case SAVE_FORMAT_DF3:
        first = "Fichier DF3 (*.df3)";
        break;
    case SAVE_FORMAT_RAW:
        first = "Fichier RAW (*.raw)";
        break;
    default:
        if (const FormatWriter* writer = otherWriter(code))
            first = std::string("Fichier ") + writer->name + " (" + writer->patterns + ")";
        break;
    }
    std::string out = first;
    std::string rest = kSaveDataFilters;
    std::size_t at = 0;
    while (at <= rest.size()) {
        std::size_t end = rest.find(";;", at);
        if (end == std::string::npos)
            end = rest.size();
        const std::string line = rest.substr(at, end - at);
        if (!line.empty() && line != first)
            out += (out.empty() ? "" : ";;") + line;
        at = end + 2;
    }
    return out;
}

std::string savePathForFormat(const std::string& path, int code)
{
    const FormatWriter* writer = otherWriter(code);
    if (!writer || path.empty() || formatWriterFor(path) == writer)
        return path;
    return path + writer->extension;
}

bool saveDataCommand(DataRecord* record)
{
    if (!record || record->kind != DATA_IMAGE || !record->image2d())
        return false;
    SaveFormatChoice choice;
    {
        ImageDescriptor& image = *record->image2d();
        std::lock_guard lock(image.lock);
        choice.imageType = image.typeData;
    }
    choice.blockType = choice.imageType;
    if (BlockDescriptor* block = record->block()) {
        std::shared_lock lock(block->lock);
        choice.blockOffered = true;
        choice.threeD = true;
        choice.blockType = block->typeData;
    }
    choice.formatPosition = 0;
    choice.typePosition = saveFormatDefaultTypePosition(
        SAVE_FORMAT_GDR, choice.threeD ? choice.blockType : choice.imageType);
    if (!askSaveFormat(choice))
        return false;

    SaveRequest rq;
    rq.threeD = choice.threeD;
    rq.formatCode = saveFormatsListed(choice.threeD)[std::size_t(choice.formatPosition)].code;
    rq.typeData = saveFormatTypes(rq.formatCode)[std::size_t(choice.typePosition)];

    FileChoice file;
    file.save = true;
    file.title = kSaveDataTitle;
    file.filter = saveDataFilters(rq.formatCode);
    {
        std::shared_lock lock(registryMutex());
        file.initialPath = record->directory;
    }
    if (!hostChooseFile(file, rq.path) || rq.path.empty())
        return false;
    const std::string named = savePathForFormat(rq.path, rq.formatCode);
    if (named != rq.path) {
        // The dialog asked about the name typed, not about the one with the extension.
        std::error_code ec;
        if (std::filesystem::exists(named, ec)
            && hostMessageBox(kSaveDataTitle,
                   fileReason(named, "le fichier existe déjà. Le remplacer ?"),
                   MessageButtons::YesNoCancel)
                != MessageAnswer::Yes)
            return false;
        rq.path = named;
    }
    if (rq.formatCode == SAVE_FORMAT_INRIA_REFERENCE
        && !askSaveReference(rq.referencePath, rq.copyDimensions))
        return false;
    std::string reason;
    if (!dataSave(record, rq, &reason)) {
        hostMessageBox(kErrorCaption, reason);
        return false;
    }
    return true;
}

} // namespace vexa
