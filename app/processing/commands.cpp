#include "processing/processing.h"

#include "data/blockoutputs.h"
#include "data/dataapi.h"
#include "data/dataopen.h"
#include "data/newdata.h"
#include "data/registry.h"
#include "data/section.h"
#include "params/paramapi.h"
#include "processing/blending.h"
#include "processing/commandtable.h"
#include "processing/companioncommand.h"
#include "processing/isosurfacecommand.h"
#include "processing/transform2d.h"
#include "processing/valueoperators.h"
#include "processing/volumeops.h"
#include "processing/volumerendercommand.h"
#include "tasks/taskapi.h"
#include "tasks/taskcontext.h"
#include "tasks/workerthread.h"
#include "views/imageview.h"

#include "vexa_remembered.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <span>
#include <utility>
#include <vector>

namespace vexa::processing {

namespace {

Remembered<ProcessingSettings>& settingsStore()
{
    static Remembered<ProcessingSettings> settings;
    return settings;
}

// Dialogs work on a copy, so that two tasks asking at once do not write into each
// other's values; the copy is kept only when the user validates.
ProcessingSettings settingsCopy()
{
    return settingsStore().copy();
}

// Stores the fields a validated dialog has changed, leaving those of other commands
// as other tasks may have just set them.
template <typename Fn> void keep(Fn apply)
{
    settingsStore().update(apply);
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

const char* const kOtherTypes = "Autre%t8 bits - Non signé,8 bits - Signé,16 bits - Non signé,"
                                "16 bits - Signé,32 bits - Non signé,32 bits - Signé,"
                                "32 bits - Flottant,64 bits - Flottant%l%n";

} // namespace

// What the user is told when a command cannot go on; the command then ends without
// result.
class Command {
public:
    explicit Command(const ProcessingCommand& entry)
        : code_(entry.code)
        , caption_(entry.label)
    {
    }

    int code() const { return code_; }
    const std::string& caption() const { return caption_; }

    void refuse(const std::string& text) const { hostMessageBox(caption_, text); }

    // Source image as raw samples of its own type.
    bool readImage(unsigned int imageId, Image2d& image) const
    {
        DataRecord* record = dataFindImage(imageId);
        if (!record || !record->image2d())
            return false;
        ImageDescriptor& im = *record->image2d();
        std::lock_guard lock(im.lock);
        std::string reason;
        if (!allocateImage(image, im.width, im.height, im.typeData, &reason)) {
            refuse(reason);
            return false;
        }
        if (im.samples.size() < image.samples.size()) {
            refuse("Image sans échantillons");
            return false;
        }
        std::memcpy(image.samples.data(), im.samples.data(), image.samples.size());
        return true;
    }

    // Opens an image as an output of the task; its record, or null.
    DataRecord* publish(Image2d&& image) const
    {
        auto object = newImageOutputObject();
        object->image->width = image.width;
        object->image->height = image.height;
        object->image->typeData = image.type;
        object->image->samples = std::move(image.samples);
        TaskContext* context = taskCurrent();
        int slot = taskAddOutput(context, SLOT_IMAGE_OUT, std::move(object));
        DataRecord* record = slot < 0 ? nullptr : taskShowOutput(context, slot);
        if (!record)
            refuse("Impossible de créer l'image résultat");
        return record;
    }

    // A new shown volume of those sizes and type, in memory or in the named file;
    // its blockId, 0 (the user told why) when it cannot be made.
    unsigned int createVolume(
        const VolumeInfo& info, const ProcessingSettings::Output& output) const
    {
        std::string reason;
        if (!blockSizesValid(info.dimX, info.dimY, info.dimZ, info.type, &reason)) {
            refuse(reason);
            return 0;
        }
        auto object = newBlockOutputObject();
        BlockDescriptor& block = *object->block;
        blockSetSize(block, info.dimX, info.dimY, info.dimZ);
        blockSetType(block, info.type);
        if (output.place == 1) {
            std::string path(output.path, strnlen(output.path, sizeof output.path));
            if (path.empty()) {
                refuse("Nom de fichier manquant");
                return 0;
            }
            if (!blockSetFile(block, 0, path, &reason)) {
                refuse(reason.empty() ? "Impossible de créer le fichier " + path : reason);
                return 0;
            }
        }
        TaskContext* context = taskCurrent();
        int slot = taskAddOutput(context, SLOT_BLOCK_OUT, std::move(object));
        DataRecord* record = slot < 0 ? nullptr : taskShowOutput(context, slot);
        if (!record) {
            refuse("Mémoire insuffisante pour un volume de " + std::to_string(info.dimX) + " x "
                + std::to_string(info.dimY) + " x " + std::to_string(info.dimZ));
            return 0;
        }
        return record->blockId;
    }

    bool validOutput(const ProcessingSettings::Output& output) const
    {
        if (output.place == 0 || output.place == 1)
            return true;
        refuse("Sortie inconnue");
        return false;
    }

private:
    int code_;
    std::string caption_;
};

namespace {

using DoubleSamples = std::unique_ptr<double, FreeDeleter>;

// The samples of an image as doubles, value scale applied, with the size they were
// read at: a block's image can change to a section of another size meanwhile.
DoubleSamples readAsDoubles(unsigned int imageId, int& width, int& height)
{
    width = height = 0;
    DataRecord* record = dataFindImage(imageId);
    if (!record || !record->image2d())
        return nullptr;
    double gain = 1, offset = 0;
    if (const BlockDescriptor* b = record->block()) {
        std::shared_lock lock(b->lock);
        if (b->valueScaleOn) {
            gain = b->valueGain;
            offset = b->valueOffset;
        }
    }
    ImageDescriptor& im = *record->image2d();
    std::lock_guard lock(im.lock);
    if (!record->block() && im.valueScaleOn) {
        gain = im.valueGain;
        offset = im.valueOffset;
    }
    if (im.width <= 0 || im.height <= 0)
        return nullptr;
    width = im.width;
    height = im.height;
    return DoubleSamples(static_cast<double*>(readImageData(im, gain, offset, TYPEDATA_F64)));
}

// Rows per band of the image operators: about a million samples, a few milliseconds
// of work between two checks for a stop.
constexpr std::int64_t kBandSamples = 1 << 20;

// Runs band(first, last) over the rows of a width x height image, reporting progress
// and checking for a stop between bands. False when the task was stopped.
template <typename Band> bool runInBands(int width, int height, Band band)
{
    const int rows = int(std::clamp<std::int64_t>(kBandSamples / width, 1, height));
    taskProgressRange(0, height);
    for (int first = 0; first < height; first += rows) {
        if (!taskProgressContinue(first))
            return false;
        band(first, std::min(height, first + rows));
    }
    return taskProgressContinue(height);
}

bool ask(const std::string& description, auto*... bindings)
{
    return dozBoxParameter(description.c_str(), bindings...) == 1;
}

// ---- Value operators on images ----

// The double-precision result of an operator, or the reason shown to the user.
bool newDoubleImage(const Command& command, int w, int h, Image2d& result)
{
    std::string reason;
    if (allocateImage(result, w, h, TYPEDATA_F64, &reason))
        return true;
    command.refuse(reason);
    return false;
}

void unaryImage(const Command& command)
{
    const int code = command.code();
    unsigned int in = vexaImageGetIn();
    if (!in)
        return;
    ProcessingSettings s = settingsCopy();
    if (code == UNARY_POWER) {
        if (!ask("Puissance%f", &s.power2d))
            return;
        keep([&](ProcessingSettings& g) { g.power2d = s.power2d; });
    }
    int w = 0, h = 0;
    DoubleSamples source = readAsDoubles(in, w, h);
    if (!source) {
        command.refuse("Image sans échantillons");
        return;
    }
    Image2d result;
    if (!newDoubleImage(command, w, h, result))
        return;
    const double* samples = source.get();
    double* out = static_cast<double*>(result.samples.data());
    const double mean = code == UNARY_VARIANCE ? unaryMean(samples, w, h) : 0.0;
    if (!runInBands(w, h, [&](int first, int last) {
            unaryKernelRows(samples, out, w, h, code, s.power2d, mean, first, last);
        }))
        return;
    source.reset();
    command.publish(std::move(result));
}

void binaryImage(const Command& command)
{
    const int code = command.code();
    unsigned int first = vexaImageGetIn();
    unsigned int second = first ? vexaImageGetIn() : 0;
    if (!first || !second)
        return;
    int w = 0, h = 0, w2 = 0, h2 = 0;
    DoubleSamples a = readAsDoubles(first, w, h);
    DoubleSamples b = readAsDoubles(second, w2, h2);
    if (!a || !b) {
        command.refuse("Image sans échantillons");
        return;
    }
    // Reading the second operand with the first one's size would run past its samples.
    if (w != w2 || h != h2) {
        command.refuse("Les deux images doivent avoir la même taille (" + std::to_string(w) + " x "
            + std::to_string(h) + " et " + std::to_string(w2) + " x " + std::to_string(h2) + ")");
        return;
    }
    Image2d result;
    if (!newDoubleImage(command, w, h, result))
        return;
    double* out = static_cast<double*>(result.samples.data());
    if (!runInBands(w, h, [&](int row0, int row1) {
            const std::size_t offset = std::size_t(row0) * std::size_t(w);
            binaryKernel(a.get() + offset, b.get() + offset, out + offset, w, row1 - row0, code);
        }))
        return;
    a.reset();
    b.reset();
    DataRecord* record = command.publish(std::move(result));
    if (record && code == BINARY_ANGULAR)
        dozDataSetClass(record->imageId, CLASS_DIRECTION);
}

// ---- Value operators on volumes ----

void unaryVolumeCommand(const Command& command)
{
    const int code = command.code();
    unsigned int in = vexaBlockGetIn();
    if (!in)
        return;
    ProcessingSettings s = settingsCopy();
    if (code == UNARY_POWER) {
        if (!ask("Puissance%f", &s.power3d))
            return;
        keep([&](ProcessingSettings& g) { g.power3d = s.power3d; });
    }
    if (!ask("Sortie%tMémoire,Fichier%lFichier%h", &s.unary3d.place, s.unary3d.path))
        return;
    keep([&](ProcessingSettings& g) { g.unary3d = s.unary3d; });
    VolumeInfo info;
    if (!volumeInfo(in, info) || !command.validOutput(s.unary3d))
        return;
    unsigned int out = command.createVolume(info, s.unary3d);
    if (out)
        unaryVolume(in, out, code, s.power3d);
}

bool sameSizes(const VolumeInfo& a, const VolumeInfo& b)
{
    return a.dimX == b.dimX && a.dimY == b.dimY && a.dimZ == b.dimZ;
}

std::string sizeText(const VolumeInfo& v)
{
    return std::to_string(v.dimX) + " x " + std::to_string(v.dimY) + " x " + std::to_string(v.dimZ);
}

void binaryVolumeCommand(const Command& command)
{
    const int code = command.code();
    unsigned int a = vexaBlockGetIn();
    unsigned int b = a ? vexaBlockGetIn() : 0;
    if (!a || !b)
        return;
    ProcessingSettings s = settingsCopy();
    std::string description = std::string("Sortie%tMémoire,Fichier%lFichier%h%n")
        + "Format%tImage 3D 1,Image 3D 2,Autre%l%n" + kOtherTypes;
    if (!ask(description, &s.binary3d.place, s.binary3d.path, &s.binaryFormat, &s.binaryOther))
        return;
    keep([&](ProcessingSettings& g) {
        g.binary3d = s.binary3d;
        g.binaryFormat = s.binaryFormat;
        g.binaryOther = s.binaryOther;
    });
    VolumeInfo first, second;
    if (!volumeInfo(a, first) || !volumeInfo(b, second) || !command.validOutput(s.binary3d))
        return;
    if (!sameSizes(first, second)) {
        command.refuse("Les deux volumes doivent avoir la même taille (" + sizeText(first) + " et "
            + sizeText(second) + ")");
        return;
    }
    VolumeInfo info = first;
    switch (s.binaryFormat) {
    case 0:
        break;
    case 1:
        info.type = second.type;
        break;
    case 2:
        info.type = otherListType(s.binaryOther);
        break;
    default:
        info.type = 0;
        break;
    }
    if (!info.type) {
        command.refuse("Format de sortie inconnu");
        return;
    }
    unsigned int out = command.createVolume(info, s.binary3d);
    if (out)
        binaryVolume(a, b, out, code);
}

void naryVolumeCommand(const Command& command)
{
    const int code = command.code();
    ProcessingSettings s = settingsCopy();
    std::string description = std::string("Nombre d'images 3D%d%n")
        + "Sortie%tMémoire,Fichier%lFichier%h%n" + "Format%tImage 3D,Autre%l%n" + "N° Image 3D%d"
        + kOtherTypes;
    if (!ask(description, &s.naryCount, &s.nary3d.place, s.nary3d.path, &s.naryFormat,
            &s.naryNumber, &s.naryOther))
        return;
    keep([&](ProcessingSettings& g) {
        g.naryCount = s.naryCount;
        g.nary3d = s.nary3d;
        g.naryFormat = s.naryFormat;
        g.naryNumber = s.naryNumber;
        g.naryOther = s.naryOther;
    });
    if (s.naryCount < 1 || !command.validOutput(s.nary3d))
        return;
    std::vector<unsigned int> inputs;
    std::vector<VolumeInfo> infos;
    for (int i = 0; i < s.naryCount; ++i) {
        unsigned int id = vexaBlockGetIn();
        VolumeInfo info;
        if (!id || !volumeInfo(id, info))
            return;
        if (!infos.empty() && !sameSizes(infos[0], info)) {
            command.refuse("Les volumes doivent avoir la même taille (" + sizeText(infos[0])
                + " et " + sizeText(info) + ")");
            return;
        }
        inputs.push_back(id);
        infos.push_back(info);
    }
    VolumeInfo info = infos[0];
    if (s.naryFormat == 0)
        info.type = s.naryNumber >= 0 && s.naryNumber < s.naryCount
            ? infos[std::size_t(s.naryNumber)].type
            : TYPEDATA_F64;
    else
        info.type = s.naryFormat == 1 ? otherListType(s.naryOther) : 0;
    if (!info.type) {
        command.refuse("Format de sortie inconnu");
        return;
    }
    unsigned int out = command.createVolume(info, s.nary3d);
    if (out)
        naryVolume(inputs, out, code);
}

// ---- Transformations of images ----

// Reads the input image, transforms it and opens the result, or shows why it cannot.
template <typename Transform>
void transformInput(const Command& command, unsigned int in, Transform transform)
{
    Image2d source, result;
    std::string reason;
    if (!command.readImage(in, source))
        return;
    if (!transform(source, result, &reason)) {
        command.refuse(reason);
        return;
    }
    command.publish(std::move(result));
}

void imageMove(const Command& command)
{
    unsigned int in = vexaImageGetIn();
    if (!in)
        return;
    const int move = command.code();
    transformInput(
        command, in, [move](const Image2d& source, Image2d& result, std::string* reason) {
            return mirrorOrTurn(source, move, result, reason);
        });
}

void transposition(const Command& command)
{
    if (unsigned int in = vexaImageGetIn())
        transformInput(command, in, transposeImage);
}

void widthHeightExchange(const Command& command)
{
    if (unsigned int in = vexaImageGetIn())
        transformInput(command, in, exchangeWidthHeight);
}

void freeRotation(const Command& command)
{
    unsigned int in = vexaImageGetIn();
    if (!in)
        return;
    ProcessingSettings s = settingsCopy();
    if (!ask("Angle (°)%f", &s.rotationDegrees))
        return;
    keep([&](ProcessingSettings& g) { g.rotationDegrees = s.rotationDegrees; });
    transformInput(command, in, [&s](const Image2d& source, Image2d& result, std::string* reason) {
        return rotateImage(source, s.rotationDegrees, result, reason);
    });
}

void resize(const Command& command)
{
    unsigned int in = vexaImageGetIn();
    if (!in)
        return;
    int width = 0, height = 0;
    vexaImageGetSize(in, &width, &height);
    if (!ask("Nouvelle Largeur%dNouvelle Hauteur%d", &width, &height))
        return;
    transformInput(
        command, in, [width, height](const Image2d& source, Image2d& result, std::string* reason) {
            return resizeImage(source, width, height, result, reason);
        });
}

void reframe(const Command& command)
{
    unsigned int in = vexaImageGetIn();
    if (!in)
        return;
    ProcessingSettings s = settingsCopy();
    if (!ask("Recadrage%tGauche%dDroite%dHaut%dBas%d", &s.reframeLeft, &s.reframeRight,
            &s.reframeTop, &s.reframeBottom))
        return;
    keep([&](ProcessingSettings& g) {
        g.reframeLeft = s.reframeLeft;
        g.reframeRight = s.reframeRight;
        g.reframeTop = s.reframeTop;
        g.reframeBottom = s.reframeBottom;
    });
    const Margins margins { s.reframeLeft, s.reframeRight, s.reframeTop, s.reframeBottom };
    transformInput(
        command, in, [&margins](const Image2d& source, Image2d& result, std::string* reason) {
            return reframeImage(source, margins, result, reason);
        });
}

bool askTiles(ProcessingSettings& s)
{
    std::string description = std::string("Découpage X%t1,2,3,4,5%l%nDécoupage Y%t1,2,3,4,5%l%n")
        + "Bordure X%dBordure Y%d%n";
    if (!ask(description, &s.tilesX, &s.tilesY, &s.borderX, &s.borderY))
        return false;
    keep([&](ProcessingSettings& g) {
        g.tilesX = s.tilesX;
        g.tilesY = s.tilesY;
        g.borderX = s.borderX;
        g.borderY = s.borderY;
    });
    return true;
}

void splitIntoTiles(const Command& command)
{
    unsigned int in = vexaImageGetIn();
    if (!in)
        return;
    ProcessingSettings s = settingsCopy();
    if (!askTiles(s))
        return;
    Image2d source;
    if (!command.readImage(in, source))
        return;
    std::vector<TileRect> rects;
    std::string reason;
    if (!splitTiles(source.width, source.height, s.tilesX + 1, s.tilesY + 1, s.borderX, s.borderY,
            rects, &reason)) {
        command.refuse(reason);
        return;
    }
    // Every tile is cut before any is opened: a failure opens none.
    std::vector<Image2d> tiles(rects.size());
    for (std::size_t i = 0; i < rects.size(); ++i) {
        if (!extractTile(source, rects[i], tiles[i], &reason)) {
            command.refuse(reason);
            return;
        }
    }
    for (Image2d& tile : tiles)
        if (!command.publish(std::move(tile)))
            return;
}

// The merge of tiles has no defined result yet: it only asks its dialog.
void mergeTiles(const Command&)
{
    ProcessingSettings s = settingsCopy();
    askTiles(s);
}

// ---- Transformations of volumes ----

void mirrorVolumeCommand(const Command& command)
{
    unsigned int in = vexaBlockGetIn();
    if (!in)
        return;
    ProcessingSettings s = settingsCopy();
    if (!ask("Mémoire,Fichier%lNom%h%n", &s.mirror3d.place, s.mirror3d.path))
        return;
    keep([&](ProcessingSettings& g) { g.mirror3d = s.mirror3d; });
    VolumeInfo info;
    if (!volumeInfo(in, info) || !command.validOutput(s.mirror3d))
        return;
    unsigned int out = command.createVolume(info, s.mirror3d);
    if (out)
        mirrorVolume(in, out, command.code());
}

void rotateVolumeCommand(const Command& command)
{
    unsigned int in = vexaBlockGetIn();
    if (!in)
        return;
    ProcessingSettings s = settingsCopy();
    std::string description
        = std::string("Axe Ox,Axe Oy,Axe Oz%lAngle +90°,Angle 180°,Angle -90°%l%n")
        + "Mémoire,Fichier%lNom%h%n";
    if (!ask(
            description, &s.rotationAxis, &s.rotationAngle, &s.rotation3d.place, s.rotation3d.path))
        return;
    keep([&](ProcessingSettings& g) {
        g.rotationAxis = s.rotationAxis;
        g.rotationAngle = s.rotationAngle;
        g.rotation3d = s.rotation3d;
    });
    VolumeInfo info, turned;
    if (!volumeInfo(in, info) || !command.validOutput(s.rotation3d))
        return;
    if (info.type == TYPEDATA_RGBA) {
        command.refuse("Les volumes couleur ne peuvent pas être tournés");
        return;
    }
    turned.type = info.type;
    if (!rotatedVolumeSizes(s.rotationAxis, s.rotationAngle, info.dimX, info.dimY, info.dimZ,
            turned.dimX, turned.dimY, turned.dimZ)) {
        command.refuse("Axe ou angle inconnu");
        return;
    }
    unsigned int out = command.createVolume(turned, s.rotation3d);
    if (out)
        rotateVolume(in, out, s.rotationAxis, s.rotationAngle);
}

void decimateVolumeCommand(const Command& command)
{
    unsigned int in = vexaBlockGetIn();
    if (!in)
        return;
    ProcessingSettings s = settingsCopy();
    if (!ask(
            "Décimation X%dDécimation Y%dDécimation Z%d", &s.decimateX, &s.decimateY, &s.decimateZ))
        return;
    keep([&](ProcessingSettings& g) {
        g.decimateX = s.decimateX;
        g.decimateY = s.decimateY;
        g.decimateZ = s.decimateZ;
    });
    VolumeInfo info, result;
    std::string reason;
    if (!volumeInfo(in, info))
        return;
    if (!decimatedVolumeSizes(info, s.decimateX, s.decimateY, s.decimateZ, result, &reason)) {
        command.refuse(reason);
        return;
    }
    unsigned int out = command.createVolume(result, ProcessingSettings::Output {});
    if (out)
        decimateVolume(in, out, s.decimateX, s.decimateY, s.decimateZ);
}

// ---- Extraction ----

// The corners of a sub-block: one box from the two corner descriptions.
void extractSubBlockCommand(const Command& command)
{
    unsigned int in = vexaBlockGetIn();
    VolumeInfo info;
    if (!in || !volumeInfo(in, info))
        return;
    ProcessingSettings s = settingsCopy();
    const int sizes[3] = { info.dimX, info.dimY, info.dimZ };
    if (!std::equal(sizes, sizes + 3, s.subBlockSizes)) {
        const int whole[6] = { 0, 0, 0, info.dimX - 1, info.dimY - 1, info.dimZ - 1 };
        std::copy(whole, whole + 6, s.subBlock);
        std::copy(sizes, sizes + 3, s.subBlockSizes);
    }
    int* c = s.subBlock;
    if (!ask("X1%dY1%dZ1%d%nX2%dY2%dZ2%d%n", &c[0], &c[1], &c[2], &c[3], &c[4], &c[5]))
        return;
    keep([&](ProcessingSettings& g) {
        std::copy(s.subBlock, s.subBlock + 6, g.subBlock);
        std::copy(sizes, sizes + 3, g.subBlockSizes);
    });
    std::string reason;
    DataRecord* record = dataFindBlock(in);
    if (!record || !extractSubBlock(record, c[0], c[1], c[2], c[3], c[4], c[5], &reason))
        command.refuse(reason.empty() ? "Extraction impossible" : reason);
}

// The rectangle of an image, asked like the corners of a sub-block.
void extractRectangleCommand(const Command& command)
{
    unsigned int in = vexaImageGetIn();
    if (!in)
        return;
    Image2d source;
    if (!command.readImage(in, source))
        return;
    ProcessingSettings s = settingsCopy();
    const int sizes[2] = { source.width, source.height };
    if (!std::equal(sizes, sizes + 2, s.subImageSizes)) {
        const int whole[4] = { 0, 0, source.width - 1, source.height - 1 };
        std::copy(whole, whole + 4, s.subImage);
        std::copy(sizes, sizes + 2, s.subImageSizes);
    }
    // A rectangle dragged over the image window is the natural start.
    if (DataRecord* record = dataFindImage(in); record && record->image2d()) {
        ImageDescriptor& im = *record->image2d();
        std::lock_guard lock(im.lock);
        const ImageViewData& v = imageViewData(im);
        if (v.selectionSet && v.selection[2] < source.width && v.selection[3] < source.height)
            std::copy(v.selection, v.selection + 4, s.subImage);
    }
    int* c = s.subImage;
    if (!ask("X1%dY1%d%nX2%dY2%d%n", &c[0], &c[1], &c[2], &c[3]))
        return;
    keep([&](ProcessingSettings& g) {
        std::copy(s.subImage, s.subImage + 4, g.subImage);
        std::copy(sizes, sizes + 2, g.subImageSizes);
    });
    if (c[0] < 0 || c[1] < 0 || c[2] >= source.width || c[3] >= source.height || c[2] < c[0]
        || c[3] < c[1]) {
        command.refuse("Coins hors de l'image ou inversés : (" + std::to_string(c[0]) + ", "
            + std::to_string(c[1]) + ") - (" + std::to_string(c[2]) + ", " + std::to_string(c[3])
            + ") pour une image de " + std::to_string(source.width) + " x "
            + std::to_string(source.height));
        return;
    }
    Image2d result;
    std::string reason;
    const TileRect rect { c[0], c[1], c[2] - c[0] + 1, c[3] - c[1] + 1 };
    if (!extractTile(source, rect, result, &reason)) {
        command.refuse(reason);
        return;
    }
    command.publish(std::move(result));
}

// ---- Blending ----

enum BlendForm : int { BLEND_STATIC = 0, BLEND_DYNAMIC = 1, BLEND_VECTOR = 2 };

// Sections of a dynamic blend: enough to step smoothly, never an absurd volume.
constexpr int kMaxBlendSections = 1000;

ShownAs shownAs(unsigned int imageId)
{
    ShownAs shown;
    if (DataRecord* record = dataFindImage(imageId)) {
        const DisplaySettings settings = displaySettings(*record);
        shown.gain = settings.gain;
        shown.offset = settings.offset;
        shown.palette = settings.palette;
    }
    return shown;
}

void blendCommand(const Command& command)
{
    const int form = command.code();
    unsigned int first = vexaImageGetIn();
    unsigned int second = first ? vexaImageGetIn() : 0;
    if (!first || !second)
        return;
    ProcessingSettings s = settingsCopy();
    if (form == BLEND_STATIC) {
        if (!ask("Coefficient%f", &s.blendWeight))
            return;
        keep([&](ProcessingSettings& g) { g.blendWeight = s.blendWeight; });
    } else {
        if (!ask("Nombre d'images%d", &s.blendSections))
            return;
        keep([&](ProcessingSettings& g) { g.blendSections = s.blendSections; });
        if (s.blendSections < 1 || s.blendSections > kMaxBlendSections) {
            command.refuse("Nombre d'images entre 1 et " + std::to_string(kMaxBlendSections));
            return;
        }
    }
    Image2d a, b;
    if (!command.readImage(first, a) || !command.readImage(second, b))
        return;
    if (a.width != b.width || a.height != b.height) {
        command.refuse("Les deux images doivent avoir la même taille (" + std::to_string(a.width)
            + " x " + std::to_string(a.height) + " et " + std::to_string(b.width) + " x "
            + std::to_string(b.height) + ")");
        return;
    }
    const std::size_t pixels = std::size_t(a.sampleCount());
    std::string reason;
    if (form == BLEND_VECTOR) {
        int w = 0, h = 0, w2 = 0, h2 = 0;
        DoubleSamples x = readAsDoubles(first, w, h);
        DoubleSamples y = readAsDoubles(second, w2, h2);
        if (!x || !y || w != w2 || h != h2 || std::size_t(w) * std::size_t(h) != pixels) {
            command.refuse("Image sans échantillons");
            return;
        }
        unsigned int out = command.createVolume(
            { w, h, s.blendSections, TYPEDATA_F64 }, ProcessingSettings::Output {});
        if (!out)
            return;
        std::vector<double> section(pixels);
        taskProgressRange(0, s.blendSections);
        for (int k = 0; k < s.blendSections; ++k) {
            if (!taskProgressContinue(k))
                return;
            const double c = std::cos(vectorAngle(k, s.blendSections));
            const double sn = std::sin(vectorAngle(k, s.blendSections));
            for (std::size_t i = 0; i < pixels; ++i)
                section[i] = c * x.get()[i] + sn * y.get()[i];
            dozDataSetFrontByType(out, k, section.data(), TYPEDATA_F64);
        }
        return;
    }
    std::vector<std::uint8_t> colourA, colourB;
    if (!shownColours(a, shownAs(first), colourA, &reason)
        || !shownColours(b, shownAs(second), colourB, &reason)) {
        command.refuse(reason);
        return;
    }
    if (form == BLEND_STATIC) {
        Image2d result;
        if (!allocateImage(result, a.width, a.height, TYPEDATA_RGBA, &reason)) {
            command.refuse(reason);
            return;
        }
        mixColours(
            colourA, colourB, s.blendWeight, static_cast<std::uint32_t*>(result.samples.data()));
        command.publish(std::move(result));
        return;
    }
    unsigned int out = command.createVolume(
        { a.width, a.height, s.blendSections, TYPEDATA_RGBA }, ProcessingSettings::Output {});
    if (!out)
        return;
    std::vector<std::uint32_t> section(pixels);
    taskProgressRange(0, s.blendSections);
    for (int k = 0; k < s.blendSections; ++k) {
        if (!taskProgressContinue(k))
            return;
        mixColours(colourA, colourB, dynamicWeight(k, s.blendSections), section.data());
        dozDataSetFrontByType(out, k, section.data(), TYPEDATA_RGBA);
    }
}

// ---- Volume rescaling, smoothing, split and merge ----

const char* const kOutputBox = "Mémoire,Fichier%lNom%h%n";

void rescaleVolumeCommand(const Command& command)
{
    unsigned int in = vexaBlockGetIn();
    VolumeInfo info;
    if (!in || !volumeInfo(in, info))
        return;
    ProcessingSettings s = settingsCopy();
    VolumeInfo sized = info;
    const std::string description
        = std::string("Nouvelle Largeur%dNouvelle Hauteur%dNouvelle Profondeur%d%n") + kOutputBox;
    if (!ask(description, &sized.dimX, &sized.dimY, &sized.dimZ, &s.rescale3d.place,
            s.rescale3d.path))
        return;
    keep([&](ProcessingSettings& g) { g.rescale3d = s.rescale3d; });
    if (!command.validOutput(s.rescale3d))
        return;
    unsigned int out = command.createVolume(sized, s.rescale3d);
    if (out)
        rescaleVolume(in, out);
}

void smoothVolumeCommand(const Command& command)
{
    unsigned int in = vexaBlockGetIn();
    VolumeInfo info;
    if (!in || !volumeInfo(in, info))
        return;
    ProcessingSettings s = settingsCopy();
    if (!ask(std::string("Coefficient de Deriche%f%n") + kOutputBox, &s.smoothAlpha,
            &s.smooth3d.place, s.smooth3d.path))
        return;
    keep([&](ProcessingSettings& g) {
        g.smoothAlpha = s.smoothAlpha;
        g.smooth3d = s.smooth3d;
    });
    if (!(s.smoothAlpha > 0)) {
        command.refuse("Le coefficient de Deriche doit être positif");
        return;
    }
    if (info.type == TYPEDATA_RGBA) {
        command.refuse("Les volumes couleur ne peuvent pas être lissés");
        return;
    }
    if (!command.validOutput(s.smooth3d))
        return;
    unsigned int out = command.createVolume(info, s.smooth3d);
    if (out)
        smoothVolume(in, out, s.smoothAlpha);
}

const char* const kVolumeTilesBox
    = "Découpage X%t1,2,3,4,5%l%nDécoupage Y%t1,2,3,4,5%lZ%t1,2,3,4,5%l%n"
      "Bordure X%dBordure Y%dBordure Z%d%n";

// The file of part n (from 1) of a split: the root with "_n" before its extension.
std::string partFileName(const std::string& root, int n)
{
    const std::filesystem::path path(root);
    std::filesystem::path name = path.parent_path() / path.stem();
    return name.string() + "_" + std::to_string(n) + path.extension().string();
}

std::string pathOf(const ProcessingSettings::Output& output)
{
    return std::string(output.path, strnlen(output.path, sizeof output.path));
}

void splitVolumeCommand(const Command& command)
{
    unsigned int in = vexaBlockGetIn();
    VolumeInfo info;
    if (!in || !volumeInfo(in, info))
        return;
    ProcessingSettings s = settingsCopy();
    int* t = s.volumeTiles;
    int* b = s.volumeBorders;
    if (!ask(std::string(kVolumeTilesBox) + "Sortie%tMémoire,Fichier%lRacine%h%n", &t[0], &t[1],
            &t[2], &b[0], &b[1], &b[2], &s.splitOutput.place, s.splitOutput.path))
        return;
    keep([&](ProcessingSettings& g) {
        std::copy(t, t + 3, g.volumeTiles);
        std::copy(b, b + 3, g.volumeBorders);
        g.splitOutput = s.splitOutput;
    });
    if (!command.validOutput(s.splitOutput))
        return;
    const int counts[3] = { t[0] + 1, t[1] + 1, t[2] + 1 };
    std::vector<VolumeBox> boxes;
    std::string reason;
    if (!splitVolumeBoxes(info, counts, b, boxes, &reason)) {
        command.refuse(reason);
        return;
    }
    const std::string root = pathOf(s.splitOutput);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const VolumeBox& box = boxes[i];
        ProcessingSettings::Output output;
        output.place = s.splitOutput.place;
        if (output.place == 1)
            std::snprintf(
                output.path, sizeof output.path, "%s", partFileName(root, int(i) + 1).c_str());
        unsigned int out
            = command.createVolume({ box.dimX, box.dimY, box.dimZ, info.type }, output);
        if (!out || !copyVolumeBox(in, out, box.x, box.y, box.z))
            return;
    }
}

// One part of a merge: a volume given to the task or a file read directly.
struct MergePart {
    unsigned int blockId = 0;
    std::unique_ptr<BlockDescriptor> file;
    VolumeInfo info;

    void* front(int z, int type) const
    {
        if (file)
            return readSection(
                *file, true, type, PLANE_FRONT, z, 0, 0, info.dimX - 1, info.dimY - 1);
        return dozDataGetFront(blockId, z, type);
    }
};

void mergeVolumeCommand(const Command& command)
{
    ProcessingSettings s = settingsCopy();
    int* t = s.volumeTiles;
    int* b = s.volumeBorders;
    if (!ask(std::string(kVolumeTilesBox) + "Sortie%tMémoire,Fichier%lRacine%h%n"
                + "Entrée%tMémoire,Fichier%lRacine%h%n",
            &t[0], &t[1], &t[2], &b[0], &b[1], &b[2], &s.mergeOutput.place, s.mergeOutput.path,
            &s.mergeInput.place, s.mergeInput.path))
        return;
    keep([&](ProcessingSettings& g) {
        std::copy(t, t + 3, g.volumeTiles);
        std::copy(b, b + 3, g.volumeBorders);
        g.mergeOutput = s.mergeOutput;
        g.mergeInput = s.mergeInput;
    });
    if (!command.validOutput(s.mergeOutput) || !command.validOutput(s.mergeInput))
        return;
    const int counts[3] = { t[0] + 1, t[1] + 1, t[2] + 1 };
    if (std::ranges::any_of(counts, [](int c) { return c < 1 || c > 5; }) || b[0] < 0 || b[1] < 0
        || b[2] < 0) {
        command.refuse("Découpage ou bordure invalide");
        return;
    }
    const std::size_t count = std::size_t(counts[0] * counts[1] * counts[2]);
    std::vector<MergePart> parts(count);
    if (s.mergeInput.place == 0) {
        // The parts as the split opened them: the one activated longest ago first.
        for (std::size_t i = 0; i < count; ++i) {
            MergePart& part = parts[count - 1 - i];
            part.blockId = vexaBlockGetIn();
            if (!part.blockId || !volumeInfo(part.blockId, part.info))
                return;
        }
    } else {
        const std::string root = pathOf(s.mergeInput);
        for (std::size_t i = 0; i < count; ++i) {
            std::string reason;
            const std::string name = partFileName(root, int(i) + 1);
            parts[i].file = blockOpenFile(name, &reason);
            if (!parts[i].file) {
                command.refuse(reason.empty() ? "Impossible de lire " + name : reason);
                return;
            }
            const BlockDescriptor& f = *parts[i].file;
            parts[i].info = { f.dimX, f.dimY, f.dimZ, f.typeData };
        }
    }
    // Part (i, j, k) is number (i * countY + j) * countZ + k; the lengths along each
    // axis come from the first row of parts along it.
    auto index
        = [&](int i, int j, int k) { return std::size_t((i * counts[1] + j) * counts[2] + k); };
    std::vector<int> lengthsX, lengthsY, lengthsZ;
    for (int i = 0; i < counts[0]; ++i)
        lengthsX.push_back(parts[index(i, 0, 0)].info.dimX);
    for (int j = 0; j < counts[1]; ++j)
        lengthsY.push_back(parts[index(0, j, 0)].info.dimY);
    for (int k = 0; k < counts[2]; ++k)
        lengthsZ.push_back(parts[index(0, 0, k)].info.dimZ);
    VolumeInfo whole { mergedLength(lengthsX, b[0]), mergedLength(lengthsY, b[1]),
        mergedLength(lengthsZ, b[2]), parts[0].info.type };
    std::vector<VolumeBox> boxes;
    std::string reason;
    if (!whole.dimX || !whole.dimY || !whole.dimZ
        || !splitVolumeBoxes(whole, counts, b, boxes, &reason) || boxes.size() != count) {
        command.refuse("Les volumes ne forment pas ce découpage");
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const VolumeInfo& p = parts[i].info;
        if (p.dimX != boxes[i].dimX || p.dimY != boxes[i].dimY || p.dimZ != boxes[i].dimZ
            || p.type != whole.type) {
            command.refuse("Les volumes ne forment pas ce découpage");
            return;
        }
    }
    unsigned int out = command.createVolume(whole, s.mergeOutput);
    if (!out)
        return;
    for (std::size_t i = 0; i < count; ++i) {
        const MergePart& part = parts[i];
        if (!pasteVolumeBox([&](int z) { return part.front(z, whole.type); }, part.info, out,
                boxes[i].x, boxes[i].y, boxes[i].z))
            return;
    }
}

// ---- Meshes ----

void isoSurface(const Command& command)
{
    runIsoSurfaceExtraction(command.caption());
}

void volumeRendering(const Command& command)
{
    runVolumeRendering(command.caption());
}

void companionFiles(const Command& command)
{
    runCompanionBuild(command.caption());
}

struct Operator {
    int code;
    const char* label;
    bool separatorBefore;
};

// Both operator lists in menu order.
constexpr Operator kUnaryOperators[] = {
    { UNARY_ABS, "Valeur Absolue", false },
    { UNARY_INVERSE, "Inversion", false },
    { UNARY_NEGATE, "Opposé", false },
    { UNARY_SQUARE, "Carré", true },
    { UNARY_VARIANCE, "'Variance'", false },
    { UNARY_SQRT, "Racine Carrée", false },
    { UNARY_EXP, "Exponentielle", true },
    { UNARY_LOG, "Logarithme népérien", false },
    { UNARY_POWER, "Puissance", false },
    { UNARY_INTEGRATE, "Intégration verticale", true },
};

constexpr Operator kBinaryOperators[] = {
    { BINARY_ADD, "Addition", false },
    { BINARY_SUBTRACT, "Soustraction", false },
    { BINARY_MULTIPLY, "Multiplication", false },
    { BINARY_DIVIDE, "Division", false },
    { BINARY_MAX, "Maximum", true },
    { BINARY_MIN, "Minimum", false },
    { BINARY_EXTREMUM, "Extremum", false },
    { BINARY_ANGULAR, "Soustraction angulaire (%PI)", true },
};

// Volumes are not offered the angular subtraction, the last binary operator.
constexpr std::size_t kVolumeBinaryCount = std::size(kBinaryOperators) - 1;
static_assert(kBinaryOperators[kVolumeBinaryCount].code == BINARY_ANGULAR);

// The n-ary menu offers these without separators; the other binary codes are
// accepted all the same.
constexpr int kNaryOffered[]
    = { BINARY_ADD, BINARY_MULTIPLY, BINARY_MAX, BINARY_MIN, BINARY_EXTREMUM };

// Operator command identifiers are a base plus the operator code.
constexpr int kUnary2dBase = 1100;
constexpr int kBinary2dBase = 1120;
constexpr int kUnary3dBase = 1170;
constexpr int kBinary3dBase = 1190;
constexpr int kNary3dBase = 1210;

// Labels of more than one entry.
const char* const kMirrorHorizontal = "Retournement Horizontal";
const char* const kMirrorVertical = "Retournement Vertical";
const char* const kExtraction = "Extraction";
const char* const kMosaic = "Mosaïque";
const char* const kBlending = "Blending";

void addOperators(std::vector<ProcessingCommand>& table, ProcessingMenu menu, int base,
    CommandRunner runner, std::span<const Operator> operators)
{
    for (const Operator& op : operators)
        table.push_back({ base + op.code, op.label, runner, op.code, menu, op.separatorBefore });
}

std::vector<ProcessingCommand> makeTable()
{
    using enum ProcessingMenu;
    std::vector<ProcessingCommand> table;
    addOperators(table, Unary2d, kUnary2dBase, unaryImage, kUnaryOperators);
    addOperators(table, Binary2d, kBinary2dBase, binaryImage, kBinaryOperators);
    table.insert(table.end(),
        {
            { 1013, "Statique", blendCommand, BLEND_STATIC, Binary2d, true, kBlending },
            { 1014, "Dynamique", blendCommand, BLEND_DYNAMIC, Binary2d, false, kBlending },
            { 1015, "Dynamique vectoriel", blendCommand, BLEND_VECTOR, Binary2d, false, kBlending },
        });
    table.insert(table.end(),
        {
            { 1141, kMirrorHorizontal, imageMove, MOVE_MIRROR_HORIZONTAL, Transformations2d },
            { 1142, kMirrorVertical, imageMove, MOVE_MIRROR_VERTICAL, Transformations2d },
            { 1143, "Rotation +90°", imageMove, MOVE_ROTATE_90, Transformations2d, true },
            { 1144, "Rotation +180°", imageMove, MOVE_ROTATE_180, Transformations2d },
            { 1145, "Rotation -90°", imageMove, MOVE_ROTATE_270, Transformations2d },
            { 1146, "Rotation libre", freeRotation, 0, Transformations2d },
            { 1147, "Mise à l'échelle", resize, 0, Transformations2d, true },
            { 1148, "Recadrage", reframe, 0, Transformations2d },
            { 1152, "Scission", splitIntoTiles, 0, Transformations2d, false, kMosaic },
            { 1153, "Fusion", mergeTiles, 0, Transformations2d, false, kMosaic },
            { 91, kExtraction, extractRectangleCommand, 0, Transformations2d },
            { 1150, "Transposition", transposition, 0, Transformations2d, true },
            { 1151, "Largeur<->Hauteur", widthHeightExchange, 0, Transformations2d },
        });
    addOperators(table, Unary3d, kUnary3dBase, unaryVolumeCommand, kUnaryOperators);
    addOperators(table, Binary3d, kBinary3dBase, binaryVolumeCommand,
        std::span(kBinaryOperators).first(kVolumeBinaryCount));
    for (const Operator& op : kBinaryOperators) {
        const bool offered = std::ranges::find(kNaryOffered, op.code) != std::end(kNaryOffered);
        table.push_back({ kNary3dBase + op.code, op.label, naryVolumeCommand, op.code,
            offered ? Nary3d : None });
    }
    table.insert(table.end(),
        {
            { 1221, kMirrorHorizontal, mirrorVolumeCommand, MIRROR_X, Transformations3d },
            { 1222, kMirrorVertical, mirrorVolumeCommand, MIRROR_Y, Transformations3d },
            { 1223, "Retournement Latéral", mirrorVolumeCommand, MIRROR_Z, Transformations3d },
            { 1224, "Rotations", rotateVolumeCommand, 0, Transformations3d },
            { 1051, "Décimation", decimateVolumeCommand, 0, Transformations3d },
            { 1052, "Mise à l'échelle", rescaleVolumeCommand, 0, Transformations3d },
            { 1232, "Scission", splitVolumeCommand, 0, Transformations3d, false, kMosaic },
            { 1233, "Fusion", mergeVolumeCommand, 0, Transformations3d, false, kMosaic },
            { 92, kExtraction, extractSubBlockCommand, 0, Transformations3d },
            { 1053, "Lissage", smoothVolumeCommand, 0, Transformations3d },
        });
    table.push_back({ 1240, "Extraction de surface de niveau", isoSurface, 0, Volume3d, true });
    table.push_back({ 1241, "Rendu volumique", volumeRendering, 0, Volume3d });
    table.push_back({ 1242, "Création des fichiers compagnons", companionFiles, 0, Volume3d });
    return table;
}

// The runnable entry of an identifier, or null.
const ProcessingCommand* findRunnable(int commandId)
{
    const ProcessingCommand* entry = findProcessingEntry(commandId);
    return entry && entry->runner ? entry : nullptr;
}

} // namespace

int otherListType(int position)
{
    static const int types[8] = { TYPEDATA_U8, TYPEDATA_S8, TYPEDATA_U16, TYPEDATA_S16,
        TYPEDATA_U32, TYPEDATA_S32, TYPEDATA_F32, TYPEDATA_F64 };
    return position >= 0 && position < 8 ? types[position] : 0;
}

const std::vector<ProcessingCommand>& processingCommandTable()
{
    static const std::vector<ProcessingCommand> table = makeTable();
    return table;
}

const ProcessingCommand* findProcessingEntry(int commandId)
{
    const auto& table = processingCommandTable();
    auto found = std::ranges::find(table, commandId, &ProcessingCommand::id);
    return found == table.end() ? nullptr : &*found;
}

ProcessingSettings processingSettings()
{
    return settingsCopy();
}

void setProcessingSettings(const ProcessingSettings& settings)
{
    settingsStore().replace(settings);
}

void resetProcessingSettings()
{
    settingsStore().reset();
}

bool isProcessingCommand(int id)
{
    return findRunnable(id) != nullptr;
}

void runProcessingWork(int commandId)
{
    const ProcessingCommand* entry = findRunnable(commandId);
    if (!entry)
        return;
    Command command(*entry);
    try {
        entry->runner(command);
    } catch (const std::bad_alloc&) {
        command.refuse("Mémoire insuffisante");
    } catch (...) {
        command.refuse("Erreur interne");
    }
}

bool runProcessingCommand(int commandId, WindowHandle window)
{
    const ProcessingCommand* entry = findRunnable(commandId);
    if (!entry)
        return false;
    TaskCommand task;
    task.commandId = commandId;
    task.window = window;
    task.name = entry->label;
    task.builtin = [commandId] { runProcessingWork(commandId); };
    taskStartCommand(std::move(task));
    return true;
}

void runNewImage3dTask(int commandId)
{
    TaskCommand task;
    task.commandId = commandId;
    task.name = "Image 3D";
    task.builtin = [] {
        bool ranged = false;
        try {
            newImage3dCommand([&ranged](int done, int total) {
                if (!ranged) {
                    taskProgressRange(0, total);
                    ranged = true;
                }
                return taskProgressContinue(done);
            });
        } catch (const std::bad_alloc&) {
            hostMessageBox(kErrorCaption, "Mémoire insuffisante");
        }
    };
    taskStartCommand(std::move(task));
}

} // namespace vexa::processing
