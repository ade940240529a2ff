// Plug-in libraries: loading and unloading shared libraries, the command table that
// maps menu identifiers to library procedures, the menus libraries insert into the
// workstation's processing menus, and running their commands as tasks.
//
// Everything here runs on the interface thread, except runCommandNow (called by the
// task a command runs in) and the read-only lookups a worker makes through
// dozTaskGetMenuId.
#pragma once

#include "host/host.h"
#include "menus/menudesc.h"
#include "plugins/libraryapi.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexa::plugins {

// First identifier handed to libraries, and the size of the command table.
constexpr int kFirstLibraryId = 1250;
constexpr int kCommandTableSize = 100000;

// Results of loadLibrary.
enum LoadResult : int { kLoaded = 0, kLoadFailed = 1, kAlreadyLoaded = 2 };

// The workstation menus that receive inserted pop-ups.
enum class MenuLocation {
    Processing, // the main window's "Traitements"
    Menu2d, // "Traitement 2D" of both data-window menu bars
    Menu3d, // "Traitement 3D" of the volume windows' bar
    Capture, // "Traitement" of the video capture window
    Stream, // "Traitement" of the video stream window
};

// Interface generation from a version text: 0 without a version, 1 from "1.0.3",
// 2 from "1.0.5" on. A text that is not three dot-separated numbers gives 2.
int versionLevel(const char* version);

// Loads the library at path: 0 loaded, 1 failed, 2 already loaded. Failures show
// their "Erreur de chargement" box when showMessages is set.
int loadLibrary(const std::string& path, bool showMessages);
// Unloads a library: 1 unloaded, 0 not loaded (or busy with a running command).
int unloadLibrary(const std::string& path, bool showMessages);
// Unloads every library, most recently loaded first.
void unloadAllLibraries();

// Loaded paths, most recently loaded first.
std::vector<std::string> loadedLibraries();
int libraryLevel(const std::string& path); // -1 when not loaded

// Menus libraries inserted at a location, appended (as copies) to menu.
void appendInsertedMenus(menus::MenuNode& menu, MenuLocation where);
// Changes to inserted menus call this (the window layer rebuilds its menu bars).
void setMenusChangedListener(std::function<void()> listener);

// Inserts a native menu (from dozMenuCreateFromDESC or from a menu tree) at a location
// text "KEYWORD,text"; takes ownership. False when the location names no menu.
bool insertAtLocation(void* library, const char* location, void* nativeMenu);

// The command table.
bool isLibraryCommand(int identifier);
// The argument of the slot, what dozTaskGetMenuId answers; 0 for free slots.
int commandArgument(int identifier);
// Free slots in use (for tests and diagnostics).
int reservedIdentifierCount();
// Menu text of a library command ("" when unknown).
std::string commandText(int identifier);

// Runs a library command as the user picked it: recorded among the previous actions,
// then run as a task (on a worker with "Multitâche" on). window: the data window the
// menu belonged to, or null. False when the identifier is no library command.
bool runLibraryCommand(int identifier, WindowHandle window = nullptr);
// The call into the library itself, in the calling thread.
void runCommandNow(int identifier);

// Previous actions: identifiers of the ten most recent commands, newest first.
std::vector<int> previousActions();
// "Précédentes Actions": chooses one of them from a list; "Dernière Action": repeats
// the newest. Both do nothing when there is none.
void runPreviousAction();
void runLastAction();

// The commands of the "Librairies" menu, with their dialogs through the host.
void loadLibraryCommand(); // "Charger"
void loadDirectoryCommand(); // "Charger Répertoire"
void unloadLibraryCommand(); // "Libérer"
void unloadLastCommand(); // "Libérer la dernière chargée"
void reloadLastCommand(); // "Recharger la dernière libérée"
void unloadAllCommand(); // "Tout Libérer"
// The path "Recharger la dernière libérée" loads.
std::string rememberedLibrary();

// Directory offered by "Charger Répertoire" (the program's own).
void setProgramDirectory(const std::string& directory);
// Loads the configured libraries (LOAD_LIBRARY), with messages.
void loadConfiguredLibraries();
// A dropped file ending in ".so" is loaded; true when that load did not fail (else
// the caller opens it as data).
bool dropLibrary(const std::string& path);

} // namespace vexa::plugins
