#include "main/gui/batchrun.h"

#include "main/batch.h"
#include "main/corestart.h"
#include "scene/anim.h"
#include "scene/gui/offscreenrenderer.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace vexa::gui {

int runBatchMode(const QString& programDir, const QString& batchFile)
{
    batch::BatchHost host;
    std::unique_ptr<OffscreenRenderer> renderer;
    // Films of animations are rendered offscreen, as the 3D view's snapshots are.
    host.snapshot
        = [&renderer](DataRecord& record, int width, int height, std::vector<std::uint8_t>& rgba) {
              if (!renderer)
                  renderer = std::make_unique<OffscreenRenderer>();
              return renderViewRgba(*renderer, record, width, height, rgba);
          };
    CoreStart start;
    start.programDir = programDir.toStdString();
    start.createInterface = [&host]() -> Host* { return &host; };
    coreStart(start);
    batch::BatchActions actions;
    actions.playAnimation = [](const std::string& path, std::string& reason) {
        if (scene::playAnimationFile(path) == 1)
            return true;
        reason = "« " + path + " » n'est pas un fichier d'animation";
        return false;
    };
    const batch::BatchResult result = batch::runBatchFile(batchFile.toStdString(), host, actions);
    for (const std::string& message : host.messages)
        std::fprintf(stderr, "%s\n", message.c_str());
    CoreStop stop;
    stop.pump = [&host] {
        host.pump();
        QCoreApplication::processEvents();
    };
    coreStop(stop);
    renderer.reset();
    if (!result.ok) {
        std::fprintf(stderr, "%s\n", result.message.c_str());
        return 1;
    }
    return 0;
}

} // namespace vexa::gui
