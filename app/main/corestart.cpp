#include "main/corestart.h"

#include "config/config.h"
#include "data/block.h"
#include "data/dataopen.h"
#include "data/newdata.h"
#include "data/registry.h"
#include "data/section.h"
#include "display/palettelist.h"
#include "formats/segycache.h"
#include "log/crashnote.h"
#include "log/logmodel.h"
#include "matlab/matlabcommands.h"
#include "plugins/libraries.h"
#include "scene/anim.h"
#include "scene/meshopen.h"
#include "scene/scene.h"
#include "tasks/frametimer.h"
#include "tasks/taskcontext.h"
#include "tasks/workerthread.h"
#include "video/film.h"

#include <atomic>
#include <csignal>
#include <filesystem>

namespace vexa {

namespace {

std::atomic<bool> gStarted { false };

bool paletteTableOf(PaletteRef palette, PaletteTable& out)
{
    ColourTable table;
    if (!copyPaletteTable(palette.family, palette.variant, table))
        return false;
    for (int i = 0; i < 256; ++i) {
        out[i][0] = table[i].blue;
        out[i][1] = table[i].green;
        out[i][2] = table[i].red;
        out[i][3] = 0;
    }
    return true;
}

} // namespace

std::string coreStart(const CoreStart& start)
{
    std::string line = start.commandLine;
    if (gStarted.exchange(true))
        return line;
    // A save past the file-size limit must fail with EFBIG and keep the old file, not
    // end the program with SIGXFSZ before the error can be reported.
    std::signal(SIGXFSZ, SIG_IGN);
    config::setConfigPath(
        (std::filesystem::path(start.programDir) / config::kConfigFileName).c_str());
    config::applyConfigOption(line);

    // Built-in palettes and the colormap files beside the program.
    buildPaletteList(start.programDir);
    if (const PaletteRecord* first = paletteAt(0)) {
        setFirstPalette({ first->family, first->variant });
        setDefaultPalette({ first->family, first->variant });
    }
    setPaletteTableProvider(paletteTableOf);

    Host* installed = start.createInterface ? start.createInterface() : nullptr;
    installHost(installed);
    // Commands run on this thread get its context.
    taskMainContext();

    // A fault outside safe mode ends the program; the note it leaves beside the
    // configuration tells the next start why.
    const std::string crashNote
        = (std::filesystem::path(config::configPath()).parent_path() / "vexa-crash.txt").string();
    if (const std::string note = log::takeCrashNote(crashNote); !note.empty())
        log::logMessage("La session précédente s'est arrêtée : %s", note.c_str());
    log::installCrashNote(crashNote);

    // Lines posted by workers are applied on the interface thread, later.
    if (installed)
        log::messageLog().setPostNotifier(
            [installed] { installed->post([] { log::messageLog().drainPosted(); }); });
    frametimer::setInterfaceRunner([](std::function<void()> fn) {
        postToInterfaceThread(GuiRequest::OpenWindow, std::move(fn));
    });

    // View 3D records, made by "Nouvelle donnée" or shown by tasks, hold a scene.
    setView3dObjectMaker(
        []() -> std::unique_ptr<KindObject> { return std::make_unique<scene::View3dObject>(); });
    taskSetObjectFactory([](int, int, int) -> std::unique_ptr<KindObject> {
        return std::make_unique<scene::View3dObject>();
    });
    // Mesh files open into a new 3D view.
    scene::installMeshFileOpener();
    // Animation files (XML whose root is ANIM) play into a new 3D view.
    scene::installAnimationFileOpener();
    // Films open into a film window.
    video::installFilmFileOpener();
    // MAT files open as images and volumes.
    matlab::installMatFileOpener();
    // Conversions inside an open (large SEG-Y cubes) report to the open's task.
    setFormatProgress({ taskProgressRange, taskProgressContinue });

    // Libraries insert menus into the bars: every change rebuilds them.
    plugins::setProgramDirectory(start.programDir);
    plugins::setMenusChangedListener(start.menusChanged);
    plugins::loadConfiguredLibraries();
    return line;
}

bool coreStop(const CoreStop& stop)
{
    if (!gStarted.exchange(false))
        return true;
    // Tasks first: they may still ask the interface thread for work while finishing.
    const std::function<void()> pump = stop.pump ? stop.pump : [] {};
    const bool finished = taskWaitForWorkers(pump, stop.timeout);
    plugins::unloadAllLibraries();
    plugins::setMenusChangedListener({});
    if (stop.closeWindows)
        stop.closeWindows();
    // Outputs that contexts still hold are made without windows from here on.
    installHost(nullptr);
    if (finished) {
        taskResetAll();
        dataResetRegistry();
    }
    log::messageLog().setPostNotifier({});
    frametimer::setInterfaceRunner({});
    setView3dObjectMaker(nullptr);
    clearForeignFileOpeners();
    taskSetObjectFactory(nullptr);
    setPaletteTableProvider({});
    releasePaletteList();
    return finished;
}

bool coreStarted()
{
    return gStarted.load();
}

} // namespace vexa
