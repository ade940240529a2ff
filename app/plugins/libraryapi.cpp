// The menu callbacks of plug-ins and the registries behind their handles.
#include "plugins/libraryapi.h"

#include "data/datarecord.h"
#include "data/registry.h"
#include "plugins/libraries.h"
#include "plugins/librarymenus.h"

#include <map>
#include <mutex>

#include <dlfcn.h>

namespace vexa::plugins {

namespace {

struct Registries {
    std::mutex mutex;
    std::map<PluginMenuNode*, std::unique_ptr<PluginMenuNode>> nodes;
    std::map<menus::MenuNode*, std::unique_ptr<menus::MenuNode>> natives;
};

Registries& registries()
{
    static Registries r;
    return r;
}

template <typename F> auto guarded(F&& f, decltype(f()) failure) noexcept -> decltype(f())
{
    try {
        return f();
    } catch (...) {
        return failure;
    }
}

} // namespace

PluginMenuNode* newPluginNode(PluginMenuNode::Kind kind, std::string text)
{
    auto node = std::make_unique<PluginMenuNode>();
    node->kind = kind;
    node->text = std::move(text);
    PluginMenuNode* raw = node.get();
    Registries& r = registries();
    std::lock_guard lock(r.mutex);
    r.nodes.emplace(raw, std::move(node));
    return raw;
}

PluginMenuNode* pluginNode(void* handle)
{
    Registries& r = registries();
    std::lock_guard lock(r.mutex);
    auto found = r.nodes.find(static_cast<PluginMenuNode*>(handle));
    return found == r.nodes.end() ? nullptr : found->first;
}

bool attachPluginNode(PluginMenuNode* parent, PluginMenuNode* child)
{
    if (!parent || !child || parent->kind != PluginMenuNode::Kind::SubMenu || child->parent)
        return false;
    for (PluginMenuNode* up = parent; up; up = up->parent)
        if (up == child)
            return false; // would make a cycle
    child->parent = parent;
    parent->children.push_back(child);
    return true;
}

void releasePluginTree(PluginMenuNode* root)
{
    std::vector<PluginMenuNode*> pending { root };
    std::vector<PluginMenuNode*> all;
    while (!pending.empty()) {
        PluginMenuNode* node = pending.back();
        pending.pop_back();
        all.push_back(node);
        pending.insert(pending.end(), node->children.begin(), node->children.end());
    }
    Registries& r = registries();
    std::lock_guard lock(r.mutex);
    for (PluginMenuNode* node : all)
        r.nodes.erase(node);
}

void* registerNativeMenu(std::unique_ptr<menus::MenuNode> menu)
{
    if (!menu)
        return nullptr;
    menus::MenuNode* raw = menu.get();
    Registries& r = registries();
    std::lock_guard lock(r.mutex);
    r.natives.emplace(raw, std::move(menu));
    return raw;
}

std::unique_ptr<menus::MenuNode> takeNativeMenu(void* handle)
{
    Registries& r = registries();
    std::lock_guard lock(r.mutex);
    auto found = r.natives.find(static_cast<menus::MenuNode*>(handle));
    if (found == r.natives.end())
        return nullptr;
    std::unique_ptr<menus::MenuNode> menu = std::move(found->second);
    r.natives.erase(found);
    return menu;
}

std::unique_ptr<menus::MenuNode> copyMenu(const menus::MenuNode& menu)
{
    auto copy = std::make_unique<menus::MenuNode>();
    copy->kind = menu.kind;
    copy->text = menu.text;
    copy->id = menu.id;
    copy->checkable = menu.checkable;
    copy->checked = menu.checked;
    for (const auto& child : menu.children)
        copy->children.push_back(copyMenu(*child));
    return copy;
}

} // namespace vexa::plugins

using namespace vexa;
using namespace vexa::plugins;

namespace {

const char* orEmpty(const char* text)
{
    return text ? text : "";
}

PluginMenuNode* liveSubMenu(void* handle)
{
    PluginMenuNode* node = pluginNode(handle);
    return node && node->kind == PluginMenuNode::Kind::SubMenu ? node : nullptr;
}

// An item under menu: with a procedure it runs that procedure (value -1), otherwise the
// library's dispatcher with value.
int addItem(void* menu, const char* text, intptr_t value, void* procedure, bool ownProcedure)
{
    PluginMenuNode* parent = liveSubMenu(menu);
    if (!parent)
        return 0;
    PluginMenuNode* item = newPluginNode(PluginMenuNode::Kind::Item, orEmpty(text));
    item->value = value;
    item->procedure = procedure;
    item->ownProcedure = ownProcedure;
    return attachPluginNode(parent, item) ? 1 : 0;
}

void* addMenu(void* library, const char* keyword, void* menu, void* dispatcher)
{
    PluginMenuNode* root = pluginNode(menu);
    if (!root || root->parent || !keyword || !isLibraryHandle(library))
        return nullptr;
    const std::string location = (std::string(keyword) + "," + root->text).substr(0, 1000);
    auto built
        = buildLibraryMenu(library, root, reinterpret_cast<VexaLibraryDispatcher>(dispatcher), 0);
    if (!built)
        return nullptr;
    void* handle = registerNativeMenu(std::move(built));
    return insertAtLocation(library, location.c_str(), handle) ? handle : nullptr;
}

} // namespace

extern "C" {

void* dozMenuCreate(const char* text) noexcept
{
    return guarded(
        [&]() -> void* { return newPluginNode(PluginMenuNode::Kind::SubMenu, orEmpty(text)); },
        nullptr);
}

int dozMenuAddItem(void* menu, intptr_t value, const char* text) noexcept
{
    return guarded([&] { return addItem(menu, text, value, nullptr, false); }, 0);
}

int vexaMenuAddItem(void* menu, const char* text, void* procedure) noexcept
{
    return guarded([&] { return addItem(menu, text, -1, procedure, true); }, 0);
}

int dozMenuAddSeparator(void* menu) noexcept
{
    return guarded(
        [&] {
            PluginMenuNode* parent = liveSubMenu(menu);
            if (!parent)
                return 0;
            return attachPluginNode(parent, newPluginNode(PluginMenuNode::Kind::Separator, {})) ? 1
                                                                                                : 0;
        },
        0);
}

int dozMenuAddSubMenu(void* menu, void* subMenu) noexcept
{
    return guarded(
        [&] { return attachPluginNode(liveSubMenu(menu), liveSubMenu(subMenu)) ? 1 : 0; }, 0);
}

void* dozLibraryAddMenu(void* library, const char* keyword, void* menu, void* dispatcher) noexcept
{
    return guarded([&] { return addMenu(library, keyword, menu, dispatcher); }, nullptr);
}

void* vexaLibraryAddMenu(void* library, const char* keyword, void* menu) noexcept
{
    return guarded([&] { return addMenu(library, keyword, menu, nullptr); }, nullptr);
}

int vexaLibraryAddMenuPopup(void* library, unsigned int dataId, int x, int y, void* menu) noexcept
{
    return guarded(
        [&] {
            PluginMenuNode* root = pluginNode(menu);
            if (!root || root->parent || !isLibraryHandle(library))
                return 0;
            std::unique_ptr<menus::MenuNode> built = buildLibraryMenu(library, root, nullptr, 1);
            DataRecord* record = dataFind(dataId);
            WindowHandle window = record ? record->window.load() : nullptr;
            if (!built || !window)
                return 0;
            int chosen = 0;
            runOnInterfaceThread(GuiRequest::OpenWindow, [&] {
                if (Host* h = host())
                    chosen = h->popupMenu(window, x, y, *built);
            });
            if (chosen > 0)
                runLibraryCommand(chosen, window);
            return 1;
        },
        0);
}

int vexaLibraryFakeLoad(void* ignored, const char* path, void* value) noexcept
{
    (void)ignored;
    return guarded(
        [&] {
            if (!path)
                return 0;
            void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
            if (!module)
                return 0;
            // The module stays loaded: the caller goes on using what it set up.
            using SetCallbackFunctionFn = void (*)(void*);
            auto set
                = reinterpret_cast<SetCallbackFunctionFn>(dlsym(module, "SetCallbackFunction"));
            if (!set) {
                dlclose(module);
                return 0;
            }
            set(value);
            return 1;
        },
        0);
}

void* dozMenuCreateFromDESC(const void* desc) noexcept
{
    return guarded(
        [&]() -> void* {
            if (!desc)
                return nullptr;
            return registerNativeMenu(menus::buildFromDesc(static_cast<const MenuDesc*>(desc)));
        },
        nullptr);
}

int dozMenuComputeNumberIdFromDESC(const void* desc) noexcept
{
    return guarded(
        [&] { return desc ? menus::countIdsInDesc(static_cast<const MenuDesc*>(desc)) : 0; }, 0);
}

} // extern "C"
