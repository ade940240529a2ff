#include "plugins/libraries.h"

#include "config/config.h"
#include "log/logmodel.h"
#include "params/paramapi.h"
#include "plugins/callbacktable.h"
#include "plugins/librarymenus.h"
#include "tasks/taskcontext.h"
#include "tasks/workerthread.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <list>
#include <map>

#include <dlfcn.h>

namespace vexa::plugins {

namespace {

// Exports of a plug-in, as the loader calls them.
using GetLibraryVersionFn = void (*)(char* version);
using SetCallbackFunctionFn = void (*)(VexaCallbackLookup lookup);
using LibraryInitFn = void (*)(void* library);
using LibraryEndFn = void (*)(void* library);
using GetMenuParametresFn = void (*)(int* menuCount, int* identifierCount);
using GetMenuFromNumberFn = void (*)(void** menu, char* location, int index, int firstIdentifier);
using GetLibrairieFunctionFn = VexaLibraryDispatcher (*)();

constexpr std::size_t kVersionBuffer = 200;
constexpr std::size_t kLocationBuffer = 200;
constexpr std::size_t kPreviousActions = 10;

struct LibraryRecord {
    std::string path;
    int versionLevel = 0;
    void* module = nullptr;
    // Commands of this library started and not finished: the library stays loaded.
    std::atomic<int> running { 0 };
};

struct CommandSlot {
    LibraryRecord* library = nullptr;
    intptr_t argument = 0;
    void* procedure = nullptr;
    int extra = 0;
};

struct Insertion {
    LibraryRecord* library;
    MenuLocation where;
    std::unique_ptr<menus::MenuNode> popup;
};

struct State {
    // Most recently loaded first; records never move (slots point at them).
    std::list<std::unique_ptr<LibraryRecord>> libraries;
    std::vector<CommandSlot> table; // empty until the first load
    std::vector<Insertion> insertions;
    std::vector<int> previous;
    std::string remembered;
    std::string programDirectory;
    std::function<void()> menusChanged;
};

State& state()
{
    static State s;
    return s;
}

void showMessage(bool show, const char* caption, const char* text)
{
    if (show)
        hostMessageBox(caption, text);
}

LibraryRecord* findLibrary(const std::string& path)
{
    for (auto& library : state().libraries)
        if (library->path == path)
            return library.get();
    return nullptr;
}

LibraryRecord* findByHandle(void* handle)
{
    for (auto& library : state().libraries)
        if (library.get() == handle)
            return library.get();
    return nullptr;
}

void notifyMenusChanged()
{
    if (state().menusChanged)
        state().menusChanged();
}

// Reserves count consecutive free identifiers from kFirstLibraryId (first fit).
// Arguments: the index within the run, or for a single identifier the given value (the
// identifier itself when none is given). Returns the first identifier or -1.
int reserveIdentifiers(
    LibraryRecord* library, int count, const intptr_t* value, void* procedure, int extra)
{
    State& s = state();
    if (s.table.empty() || count < 0 || count > kCommandTableSize - kFirstLibraryId)
        return -1;
    if (count == 0)
        return kFirstLibraryId; // an empty run: nothing to take
    int runStart = kFirstLibraryId;
    int runLength = 0;
    for (int id = kFirstLibraryId; id < kCommandTableSize; ++id) {
        if (s.table[std::size_t(id)].library) {
            runLength = 0;
            runStart = id + 1;
            continue;
        }
        if (++runLength < count)
            continue;
        for (int k = 0; k < count; ++k) {
            CommandSlot& slot = s.table[std::size_t(runStart + k)];
            slot.library = library;
            slot.argument = k;
            slot.procedure = procedure;
            slot.extra = extra;
        }
        if (count == 1)
            s.table[std::size_t(runStart)].argument = value ? *value : runStart;
        log::logMessage("DLL : nouveaux identifiants %d - %d", runStart, runStart + count - 1);
        return runStart;
    }
    return -1;
}

void freeIdentifiers(LibraryRecord* library)
{
    State& s = state();
    bool used = false;
    for (CommandSlot& slot : s.table) {
        if (slot.library == library)
            slot = CommandSlot {};
        used = used || slot.library;
    }
    if (!used)
        std::vector<CommandSlot>().swap(s.table);
}

// Takes the library out: end call, insertions, identifiers, module, record.
void release(LibraryRecord* library)
{
    State& s = state();
    if (library->module) {
        if (auto end = reinterpret_cast<LibraryEndFn>(dlsym(library->module, "dozLibraryEnd")))
            end(library);
    }
    const auto before = s.insertions.size();
    std::erase_if(s.insertions, [library](const Insertion& i) { return i.library == library; });
    // Its identifiers go back to the table: "Dernière Action" must not run whatever
    // library takes them next.
    std::erase_if(s.previous, [&s, library](int id) {
        return id < int(s.table.size()) && s.table[std::size_t(id)].library == library;
    });
    freeIdentifiers(library);
    if (library->module)
        dlclose(library->module);
    s.libraries.remove_if(
        [library](const std::unique_ptr<LibraryRecord>& r) { return r.get() == library; });
    if (s.insertions.size() != before)
        notifyMenusChanged();
}

std::string afterFirstComma(const char* location)
{
    const char* comma = std::strchr(location, ',');
    return comma ? std::string(comma + 1) : std::string();
}

bool startsWith(const char* text, const char* keyword)
{
    return std::strncmp(text, keyword, std::strlen(keyword)) == 0;
}

std::vector<MenuLocation> locationsOf(const char* location)
{
    for (const char* keyword :
        { VEXA_MENU_PROCESSING, "MENU_SYNTHESIS", "MENU_DIVERS", "MENU_Data" })
        if (startsWith(location, keyword))
            return { MenuLocation::Processing };
    if (startsWith(location, VEXA_MENU_2D))
        return { MenuLocation::Menu2d };
    if (startsWith(location, VEXA_MENU_3D))
        return { MenuLocation::Menu3d };
    for (const char* keyword : { "MENU_CAPTURE", "MENU_AVI", "MENU_FLUX", "MENU_VIDEO" })
        if (startsWith(location, keyword))
            return { MenuLocation::Capture, MenuLocation::Stream };
    return {};
}

const menus::MenuNode* findItemIn(const menus::MenuNode& node, int id)
{
    for (const auto& child : node.children) {
        if (child->kind == menus::MenuNode::Kind::Item && child->id == id)
            return child.get();
        if (child->kind == menus::MenuNode::Kind::SubMenu)
            if (const menus::MenuNode* found = findItemIn(*child, id))
                return found;
    }
    return nullptr;
}

void loadWithMessages(const std::string& path)
{
    if (loadLibrary(path, true) == kLoaded)
        notifyMenusChanged();
}

void buildNode(LibraryRecord* library, const PluginMenuNode& node, menus::MenuNode& parent,
    VexaLibraryDispatcher dispatcher, int extra)
{
    for (const PluginMenuNode* child : node.children) {
        switch (child->kind) {
        case PluginMenuNode::Kind::SubMenu: {
            auto sub = menus::MenuNode::subMenu(child->text);
            buildNode(library, *child, *sub, dispatcher, extra);
            parent.addSubMenu(std::move(sub));
            break;
        }
        case PluginMenuNode::Kind::Item: {
            const intptr_t argument = child->ownProcedure ? -2 : child->value;
            void* procedure
                = child->ownProcedure ? child->procedure : reinterpret_cast<void*>(dispatcher);
            const int id = reserveIdentifiers(library, 1, &argument, procedure, extra);
            if (id > 0)
                parent.addItem(child->text, id);
            break;
        }
        case PluginMenuNode::Kind::Separator:
            parent.addSeparator();
            break;
        }
    }
}

} // namespace

bool isLibraryHandle(void* handle)
{
    return findByHandle(handle) != nullptr;
}

std::unique_ptr<menus::MenuNode> buildLibraryMenu(
    void* libraryHandle, PluginMenuNode* root, VexaLibraryDispatcher dispatcher, int extra)
{
    LibraryRecord* library = findByHandle(libraryHandle);
    if (!library || !root)
        return nullptr;
    State& s = state();
    if (s.table.empty())
        s.table.resize(kCommandTableSize);
    auto menu = menus::MenuNode::subMenu(root->text);
    // A root that is itself an item reserves nothing.
    if (root->kind == PluginMenuNode::Kind::SubMenu)
        buildNode(library, *root, *menu, dispatcher, extra);
    releasePluginTree(root);
    return menu;
}

int versionLevel(const char* version)
{
    if (!version)
        return 0;
    // Three integers, major first; anything else compares equal to every reference.
    int parts[3];
    int consumed = 0;
    bool numeric
        = std::sscanf(version, "%d.%d.%d%n", &parts[0], &parts[1], &parts[2], &consumed) == 3;
    auto notOlder = [&](int a, int b, int c) {
        if (!numeric)
            return true;
        const int reference[3] = { a, b, c };
        for (int i = 0; i < 3; ++i)
            if (parts[i] != reference[i])
                return parts[i] > reference[i];
        return true;
    };
    if (!notOlder(1, 0, 3))
        return 0;
    if (!notOlder(1, 0, 5))
        return 1;
    return 2;
}

int loadLibrary(const std::string& path, bool showMessages)
{
    static const char* const kCaption = "Erreur de chargement";
    State& s = state();
    if (findLibrary(path)) {
        showMessage(showMessages, kCaption, "Librairie déjà chargée !");
        return kAlreadyLoaded;
    }
    if (s.table.empty())
        s.table.resize(kCommandTableSize);
    taskSetMenuIdResolver(&commandArgument);
    void* module = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* why = dlerror();
        log::logMessage("Chargement de %s impossible : %s", path.c_str(), why ? why : "");
        freeIdentifiers(nullptr); // drops the table again when nothing uses it
        showMessage(showMessages, kCaption, "Librairie non valide !");
        return kLoadFailed;
    }
    s.libraries.push_front(std::make_unique<LibraryRecord>());
    LibraryRecord* library = s.libraries.front().get();
    library->path = path;
    library->module = module;

    if (auto getVersion
        = reinterpret_cast<GetLibraryVersionFn>(dlsym(module, "GetLibraryVersion"))) {
        char version[kVersionBuffer] = {};
        getVersion(version);
        version[kVersionBuffer - 1] = '\0';
        library->versionLevel = versionLevel(version);
    }
    auto setCallback
        = reinterpret_cast<SetCallbackFunctionFn>(dlsym(module, "SetCallbackFunction"));
    if (!setCallback) {
        release(library);
        showMessage(showMessages, kCaption, "Pas de fonction de rappel !");
        return kLoadFailed;
    }
    setCallback(&vexaCallbackLookup);

    if (library->versionLevel >= 1) {
        if (auto init = reinterpret_cast<LibraryInitFn>(dlsym(module, "dozLibraryInit")))
            init(library);
        return kLoaded;
    }
    auto getParameters = reinterpret_cast<GetMenuParametresFn>(dlsym(module, "GetMenuParametres"));
    if (!getParameters) {
        release(library);
        showMessage(showMessages, kCaption, "Pas de fonction d'ajout de menus !");
        return kLoadFailed;
    }
    int menuCount = 0, identifierCount = 0;
    getParameters(&menuCount, &identifierCount);
    const int first = reserveIdentifiers(library, identifierCount, nullptr, nullptr, 0);
    if (first < 0) {
        release(library);
        showMessage(showMessages, kCaption, "Pas de ressources pour le menu !");
        return kLoadFailed;
    }
    if (auto getMenu = reinterpret_cast<GetMenuFromNumberFn>(dlsym(module, "GetMenuFromNumber"))) {
        // A library answering absurd counts still gets a bounded number of calls.
        menuCount = std::clamp(menuCount, 0, 1000);
        for (int index = 0; index < menuCount; ++index) {
            void* menu = nullptr;
            char location[kLocationBuffer] = {};
            getMenu(&menu, location, index, first);
            location[kLocationBuffer - 1] = '\0';
            insertAtLocation(library, location, menu);
        }
    }
    return kLoaded;
}

int unloadLibrary(const std::string& path, bool showMessages)
{
    static const char* const kCaption = "Erreur de libération";
    LibraryRecord* library = findLibrary(path);
    if (!library) {
        showMessage(showMessages, kCaption, "Librairie non chargée !");
        return 0;
    }
    if (library->running.load() > 0) {
        // Its code is still running in a task: unloading now would pull it away.
        showMessage(showMessages, kCaption, "Librairie utilisée par un calcul en cours !");
        return 0;
    }
    release(library);
    return 1;
}

void unloadAllLibraries()
{
    std::vector<std::string> paths = loadedLibraries();
    for (const std::string& path : paths)
        unloadLibrary(path, false);
}

std::vector<std::string> loadedLibraries()
{
    std::vector<std::string> paths;
    for (auto& library : state().libraries)
        paths.push_back(library->path);
    return paths;
}

int libraryLevel(const std::string& path)
{
    LibraryRecord* library = findLibrary(path);
    return library ? library->versionLevel : -1;
}

void appendInsertedMenus(menus::MenuNode& menu, MenuLocation where)
{
    // Oldest insertion first, as they were appended.
    for (const Insertion& insertion : state().insertions)
        if (insertion.where == where)
            menu.addSubMenu(copyMenu(*insertion.popup));
}

void setMenusChangedListener(std::function<void()> listener)
{
    state().menusChanged = std::move(listener);
}

bool insertAtLocation(void* libraryHandle, const char* location, void* nativeMenu)
{
    std::unique_ptr<menus::MenuNode> popup = takeNativeMenu(nativeMenu);
    LibraryRecord* library = findByHandle(libraryHandle);
    if (!popup || !library || !location)
        return false;
    const std::vector<MenuLocation> where = locationsOf(location);
    if (where.empty())
        return false;
    popup->kind = menus::MenuNode::Kind::SubMenu;
    popup->text = afterFirstComma(location);
    for (std::size_t i = 0; i < where.size(); ++i)
        state().insertions.push_back(
            { library, where[i], i + 1 < where.size() ? copyMenu(*popup) : std::move(popup) });
    notifyMenusChanged();
    return true;
}

bool isLibraryCommand(int identifier)
{
    const State& s = state();
    return identifier >= 0 && identifier < int(s.table.size())
        && s.table[std::size_t(identifier)].library;
}

int commandArgument(int identifier)
{
    if (!isLibraryCommand(identifier))
        return 0;
    return int(state().table[std::size_t(identifier)].argument);
}

int reservedIdentifierCount()
{
    return int(std::count_if(state().table.begin(), state().table.end(),
        [](const CommandSlot& slot) { return slot.library != nullptr; }));
}

std::string commandText(int identifier)
{
    for (const Insertion& insertion : state().insertions)
        if (const menus::MenuNode* item = findItemIn(*insertion.popup, identifier))
            return item->text;
    return {};
}

void runCommandNow(int identifier)
{
    if (!isLibraryCommand(identifier))
        return;
    const CommandSlot slot = state().table[std::size_t(identifier)];
    switch (slot.library->versionLevel) {
    case 0: {
        auto get = reinterpret_cast<GetLibrairieFunctionFn>(
            dlsym(slot.library->module, "GetLibrairieFunction"));
        if (VexaLibraryDispatcher dispatcher = get ? get() : nullptr)
            dispatcher(nullptr, slot.argument, 0);
        break;
    }
    case 1:
        if (slot.procedure)
            reinterpret_cast<VexaLibraryDispatcher>(slot.procedure)(
                nullptr, slot.argument, identifier);
        break;
    default:
        if (slot.procedure)
            reinterpret_cast<VexaLibraryProcedure>(slot.procedure)(nullptr);
        break;
    }
}

bool runLibraryCommand(int identifier, WindowHandle window)
{
    if (!isLibraryCommand(identifier))
        return false;
    State& s = state();
    std::erase(s.previous, identifier);
    s.previous.insert(s.previous.begin(), identifier);
    if (s.previous.size() > kPreviousActions)
        s.previous.resize(kPreviousActions);

    LibraryRecord* library = s.table[std::size_t(identifier)].library;
    library->running.fetch_add(1);
    TaskCommand command;
    command.commandId = identifier;
    command.window = window;
    command.name = commandText(identifier).substr(0, 199);
    command.plugin = [identifier] { runCommandNow(identifier); };
    command.finished = [library] { library->running.fetch_sub(1); };
    taskStartCommand(std::move(command));
    return true;
}

std::vector<int> previousActions()
{
    std::vector<int> live;
    for (int id : state().previous)
        if (isLibraryCommand(id))
            live.push_back(id);
    return live;
}

void runPreviousAction()
{
    const std::vector<int> ids = previousActions();
    if (ids.empty())
        return;
    std::vector<std::string> names;
    for (int id : ids)
        names.push_back(commandText(id));
    int chosen = -1;
    runOnInterfaceThread(GuiRequest::ChooseFromList, [&] {
        if (Host* h = host())
            chosen = h->chooseFromList("Précédentes Actions", names);
    });
    if (chosen >= 0 && chosen < int(ids.size()))
        runLibraryCommand(ids[std::size_t(chosen)]);
}

void runLastAction()
{
    const std::vector<int> ids = previousActions();
    if (!ids.empty())
        runLibraryCommand(ids.front());
}

void loadLibraryCommand()
{
    static char path[PARAM_STRING_BUFFER] = "";
    std::snprintf(path, sizeof path, "%s", state().remembered.c_str());
    if (dozBoxParameter("Librairie%h", path) != 1)
        return;
    state().remembered = path;
    loadWithMessages(path);
}

void loadDirectoryCommand()
{
    static char directory[PARAM_STRING_BUFFER] = "";
    if (!directory[0])
        std::snprintf(directory, sizeof directory, "%s", state().programDirectory.c_str());
    if (dozBoxParameter("Répertoire des DLL%s%n", directory) != 1)
        return;
    std::error_code error;
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error))
        if (entry.path().extension() == ".so")
            found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    bool any = false;
    for (const std::string& file : found)
        any = loadLibrary(file, false) == kLoaded || any;
    if (!state().libraries.empty())
        state().remembered = state().libraries.front()->path;
    if (any)
        notifyMenusChanged();
}

void unloadLibraryCommand()
{
    const std::vector<std::string> paths = loadedLibraries();
    int chosen = -1;
    if (Host* h = host())
        chosen = h->chooseFromList("Choix de la librairie", paths);
    if (chosen < 0 || chosen >= int(paths.size()))
        return;
    state().remembered = paths[std::size_t(chosen)];
    unloadLibrary(paths[std::size_t(chosen)], true);
}

void unloadLastCommand()
{
    if (state().libraries.empty())
        return;
    const std::string path = state().libraries.front()->path;
    state().remembered = path;
    unloadLibrary(path, true);
}

void reloadLastCommand()
{
    if (!state().remembered.empty())
        loadWithMessages(state().remembered);
}

void unloadAllCommand()
{
    if (state().libraries.empty())
        return;
    state().remembered = state().libraries.front()->path;
    unloadAllLibraries();
    notifyMenusChanged();
}

std::string rememberedLibrary()
{
    return state().remembered;
}

void setProgramDirectory(const std::string& directory)
{
    state().programDirectory = directory;
}

void loadConfiguredLibraries()
{
    bool any = false;
    for (const std::string& path : config::configValues(config::LOAD_LIBRARY))
        any = loadLibrary(path, true) == kLoaded || any;
    if (any)
        notifyMenusChanged();
}

bool dropLibrary(const std::string& path)
{
    const int result = loadLibrary(path, true);
    if (result == kLoaded)
        notifyMenusChanged();
    return result != kLoadFailed;
}

} // namespace vexa::plugins
