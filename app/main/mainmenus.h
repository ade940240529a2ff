// The workstation's own menus as core menu trees: the main menu bar and the two
// data-window menu bars. Plug-ins insert their pop-ups into the processing menus
// named here; the window layer renders the trees and reports chosen identifiers.
#pragma once

#include "menus/menudesc.h"

#include <memory>
#include <string>
#include <vector>

namespace vexa::menus {

// Command identifiers of the main window.
enum MainCommand : int {
    kCmdOpenData = 13,
    kCmdSaveData = 14,
    kCmdLibLoad = 41,
    kCmdLibUnload = 42,
    kCmdLibUnloadLast = 43,
    kCmdLibReloadLast = 44,
    kCmdLibUnloadAll = 45,
    kCmdLibLoadDir = 46,
    kCmdPreviousActions = 51,
    kCmdLastAction = 52,
    kCmdMultitask = 53,
    kCmdSafeMode = 54,
    kCmdNewImage3d = 63,
    kCmdNewImage2d = 64,
    kCmdNewGraph = 66,
    kCmdNewAudio = 67,
    kCmdNewView3d = 68,
    kCmdImageSeries = 70,
    kCmdScript = 71,
    kCmdMatlabOpen = 72,
    kCmdMatlabSave = 73,
    kCmdOpenStudy = 74,
    kCmdStudySettings = 76,
    kCmdMotionFile = 77,
    kCmdLogWindow = 80,
    kCmdTaskWindow = 81,
    kCmdCorrection = 82,
    kCmdPalettes = 83,
    kCmdQuit = 90,
    // Open windows listed in "Fenêtres" take identifiers from here on.
    kCmdFirstWindow = 900,
};

// Commands that only the keyboard accelerators send, named after their keys: the
// windows that receive them give them their meaning.
enum AcceleratorCommand : int {
    // Main window and 2D image windows.
    kCmdKeyF6 = 33,
    kCmdKeyF7 = 75,
    kCmdKeyF8 = 34,
    // 2D image windows.
    kCmdImageKeyCtrlD = 1012,
    kCmdImageKeyCtrlC = 25,
    kCmdImageKeyAltS = 15,
    kCmdImageKeyCtrlS = 16,
    // 3D views.
    kCmdView3dKeyF1 = 20,
    kCmdView3dKeyF2 = 21,
    kCmdView3dKeyF3 = 22,
    kCmdView3dKeyF5 = 42,
    kCmdView3dKeyF6 = 43,
    kCmdView3dKeyAltC = 12,
    kCmdView3dKeyAltS = 13,
};

inline const char* const kMenuImport = "Importation";
inline const char* const kMenuProcessing = "Traitements";
inline const char* const kMenuLibraries = "Librairies";
inline const char* const kMenuWindows = "Fenêtres";
inline const char* const kMenuExport = "Exportation";
inline const char* const kMenu2d = "Traitement 2D";
inline const char* const kMenu3d = "Traitement 3D";

// Keyboard accelerators: command identifier and key, in the desktop's key naming
// ("F6", "Alt+O", "Ctrl+D").
struct Accelerator {
    int command;
    const char* key;
};
// The main window's table, the 2D image windows' and the 3D views'.
const std::vector<Accelerator>& mainAccelerators();
const std::vector<Accelerator>& imageAccelerators();
const std::vector<Accelerator>& view3dAccelerators();

// The "Librairies" menu, built from its own description.
std::unique_ptr<MenuNode> librariesMenu(bool multitask, bool safeMode);

// Main menu bar: "Importation", "Traitements", "Librairies", "Fenêtres".
std::unique_ptr<MenuNode> mainMenuBar(bool multitask, bool safeMode);

// Data-window menu bar: "Exportation" and "Traitement 2D", plus "Traitement 3D" for
// windows of volumes.
std::unique_ptr<MenuNode> dataMenuBar(bool withVolumeMenu);

} // namespace vexa::menus
