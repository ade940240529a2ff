#include "main/mainmenus.h"

#include <initializer_list>

namespace vexa::menus {

namespace {

// The keys the main window and the 2D image windows share, followed by a window's own.
std::vector<Accelerator> withSharedKeys(std::initializer_list<Accelerator> own)
{
    std::vector<Accelerator> table { { kCmdKeyF6, "F6" }, { kCmdKeyF7, "F7" }, { kCmdKeyF8, "F8" },
        { kCmdPreviousActions, "F11" }, { kCmdLastAction, "F12" }, { kCmdOpenData, "Alt+O" },
        { kCmdSaveData, "Alt+E" } };
    table.insert(table.end(), own);
    return table;
}

} // namespace

const std::vector<Accelerator>& mainAccelerators()
{
    static const std::vector<Accelerator> table
        = withSharedKeys({ { kCmdLibUnloadLast, "Alt+L" }, { kCmdLibReloadLast, "Alt+R" } });
    return table;
}

const std::vector<Accelerator>& imageAccelerators()
{
    static const std::vector<Accelerator> table
        = withSharedKeys({ { kCmdImageKeyCtrlD, "Ctrl+D" }, { kCmdImageKeyCtrlC, "Ctrl+C" },
            { kCmdImageKeyAltS, "Alt+S" }, { kCmdImageKeyCtrlS, "Ctrl+S" } });
    return table;
}

const std::vector<Accelerator>& view3dAccelerators()
{
    static const std::vector<Accelerator> table { { kCmdView3dKeyF1, "F1" },
        { kCmdView3dKeyF2, "F2" }, { kCmdView3dKeyF3, "F3" }, { kCmdView3dKeyF5, "F5" },
        { kCmdView3dKeyF6, "F6" }, { kCmdView3dKeyAltC, "Alt+C" }, { kCmdView3dKeyAltS, "Alt+S" } };
    return table;
}

std::unique_ptr<MenuNode> librariesMenu(bool multitask, bool safeMode)
{
    MenuDescBuilder desc(0);
    desc.add("Charger", kCmdLibLoad)
        .add("Charger Répertoire", kCmdLibLoadDir)
        .add("Libérer", kCmdLibUnload)
        .add("Tout Libérer", kCmdLibUnloadAll)
        .separator()
        .add("Libérer la dernière chargée\tAlt+L", kCmdLibUnloadLast)
        .add("Recharger la dernière libérée\tAlt+R", kCmdLibReloadLast)
        .separator()
        .add("Précédentes Actions\tF11", kCmdPreviousActions)
        .add("Dernière Action\tF12", kCmdLastAction)
        .separator()
        .add("Multitâche", kCmdMultitask)
        .add("Mode 'Safe'", kCmdSafeMode);
    auto menu = buildFromDesc(desc.finish(), kMenuLibraries);
    MenuNode* multi = menu->findItem(kCmdMultitask);
    multi->checkable = true;
    multi->checked = multitask;
    MenuNode* safe = menu->findItem(kCmdSafeMode);
    safe->checkable = true;
    safe->checked = safeMode;
    return menu;
}

std::unique_ptr<MenuNode> mainMenuBar(bool multitask, bool safeMode)
{
    MenuDescBuilder desc(0);
    desc.open(kMenuImport)
        .add("Ouvrir une donnée...\tAlt+O", kCmdOpenData)
        .add("Ouvrir une étude...", kCmdOpenStudy)
        .add("Matlab", kCmdMatlabOpen)
        .open("Nouvelle donnée ...")
        .add("Audio", kCmdNewAudio)
        .add("Image 2D", kCmdNewImage2d)
        .add("Image 3D", kCmdNewImage3d)
        .separator()
        .add("Vue 3D", kCmdNewView3d)
        .separator()
        .add("Graphe", kCmdNewGraph)
        .close()
        .add("Série d'images\t -> Image 3D", kCmdImageSeries)
        .add("Sauvegarder une donnée...\tAlt+E", kCmdSaveData)
        .separator()
        .add("Paramètres d'étude...", kCmdStudySettings)
        .add("Mouvement de caméra...", kCmdMotionFile)
        .add("Script...", kCmdScript)
        .separator()
        .add("Quitter", kCmdQuit)
        .close()
        .open(kMenuProcessing)
        .close()
        .open(kMenuWindows)
        .add("Messages", kCmdLogWindow)
        .add("Tâches", kCmdTaskWindow)
        .add("Correction", kCmdCorrection)
        .add("Palettes", kCmdPalettes)
        .separator()
        .close();
    auto bar = buildFromDesc(desc.finish());
    // "Librairies" comes from its own description, before "Fenêtres".
    auto libraries = librariesMenu(multitask, safeMode);
    auto windows = std::move(bar->children.back());
    bar->children.pop_back();
    bar->addSubMenu(std::move(libraries));
    bar->addSubMenu(std::move(windows));
    return bar;
}

std::unique_ptr<MenuNode> dataMenuBar(bool withVolumeMenu)
{
    MenuDescBuilder desc(0);
    desc.open(kMenuExport)
        .add("Sauvegarder une donnée...", kCmdSaveData)
        .add("Matlab", kCmdMatlabSave)
        .close();
    desc.open(kMenu2d).close();
    if (withVolumeMenu)
        desc.open(kMenu3d).close();
    return buildFromDesc(desc.finish());
}

} // namespace vexa::menus
