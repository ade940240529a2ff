#include "processing/volumerendercommand.h"

#include "data/registry.h"
#include "display/palettelist.h"
#include "host/host.h"
#include "processing/volumeops.h"
#include "scene/cursorslices.h"
#include "scene/scene.h"
#include "scene/volume.h"
#include "tasks/taskapi.h"
#include "tasks/taskcontext.h"
#include "views/imageview.h"

#include "vexa_types.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace vexa::processing {

const char* const kVolumeObjectName = "volume";

namespace {

// The range the image window shows, in the units the block's samples are read in
// (ordered); low == high, the block's own range, when the correction gives none. With
// the value scale on, samples are read already scaled: the window's levels themselves.
void shownRange(const DataRecord& image, double& low, double& high)
{
    low = high = 0;
    const DisplaySettings settings = displaySettings(image);
    double atLevel0 = 0, atLevel255 = 0;
    if (!displayedRange(image, atLevel0, atLevel255) || atLevel0 == atLevel255)
        return;
    if (settings.scaleOn) {
        high = 255;
        return;
    }
    low = std::min(atLevel0, atLevel255);
    high = std::max(atLevel0, atLevel255);
}

// Puts the volume in the View 3D of the image holding blockId (made when there is
// none), replacing a previous one. Done in one step of the interface thread, so two
// runs ending together on one image share a single view and leave one volume.
bool showInLinkedView(unsigned int blockId, std::shared_ptr<const scene::Volume> volume)
{
    bool shown = false;
    runOnInterfaceThread(GuiRequest::OpenView3d, [&] {
        DataRecord* image = dataFindBlock(blockId);
        if (!image)
            return;
        std::shared_ptr<scene::Scene> target = scene::linkedViewScene(*image, true);
        if (!target)
            return;
        // Under the scene lock, so a frame never shows both volumes or none.
        std::lock_guard lock(target->mutex());
        target->removeObjectsNamed(kVolumeObjectName);
        const bool wasEmpty = target->objectCount() == 0;
        const std::uint32_t id = target->createObject(kVolumeObjectName, scene::OBJECT_VOLUME);
        if (!target->setVolume(id, std::move(volume))) {
            target->removeObject(id);
            return;
        }
        if (wasEmpty)
            target->resetCamera();
        shown = true;
    });
    return shown;
}

} // namespace

void runVolumeRendering(const std::string& caption)
{
    auto refuse = [&caption](const std::string& text) { hostMessageBox(caption, text); };
    const unsigned int in = vexaBlockGetIn();
    if (!in) {
        // Nothing open ends quietly; a plain image or another datum is told why not.
        const DataRecord* active = dataActive();
        if (active && !active->block())
            refuse("Le rendu volumique demande une image 3D");
        return;
    }
    VolumeInfo info;
    if (!volumeInfo(in, info)) {
        refuse("Le rendu volumique demande une image 3D");
        return;
    }
    if (info.type == TYPEDATA_RGBA) {
        refuse("Le rendu volumique demande un volume de valeurs scalaires, pas de couleurs");
        return;
    }
    DataRecord* image = dataFindBlock(in);
    const BlockDescriptor* block = image ? image->block() : nullptr;
    if (!block) {
        refuse("Le rendu volumique demande une image 3D");
        return;
    }
    double low = 0, high = 0;
    shownRange(*image, low, high);
    ColourTable palette;
    copyPaletteTable(block->palette.family, block->palette.variant, palette);
    // Converted on the task: a large block takes a while and the window stays usable.
    std::string reason;
    std::shared_ptr<const scene::Volume> volume
        = scene::volumeFromBlock(*block, low, high, palette, &reason);
    if (!volume) {
        refuse(reason.empty() ? "Rendu volumique impossible" : reason);
        return;
    }
    if (!showInLinkedView(in, std::move(volume)))
        refuse("Impossible de créer la vue 3D de l'image");
}

} // namespace vexa::processing
