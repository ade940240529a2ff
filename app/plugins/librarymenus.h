// Menu trees as plug-ins build them through the menu callbacks, and the "native"
// menus (core menu trees) handed back to them. Handles given to plug-ins are checked
// against these registries before use, so a stale or foreign pointer does nothing.
#pragma once

#include "menus/menudesc.h"
#include "plugins/libraryapi.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexa::plugins {

struct PluginMenuNode {
    enum class Kind { SubMenu, Item, Separator };
    Kind kind = Kind::SubMenu;
    std::string text;
    intptr_t value = 0; // dozMenuAddItem: the item value
    void* procedure = nullptr; // vexaMenuAddItem: the item's own procedure
    bool ownProcedure = false; // made by vexaMenuAddItem
    PluginMenuNode* parent = nullptr;
    std::vector<PluginMenuNode*> children; // in insertion order, owned by the registry
};

// Nodes made by the callbacks: every node is owned by the registry until the tree it
// belongs to is inserted.
PluginMenuNode* newPluginNode(PluginMenuNode::Kind kind, std::string text);
// The node of a handle, or null when the handle is no live node.
PluginMenuNode* pluginNode(void* handle);
// Attaches child under parent; refused (false) when the child already has a parent,
// would make a cycle, or either is not a live sub-menu/node.
bool attachPluginNode(PluginMenuNode* parent, PluginMenuNode* child);

// Releases the nodes of a tree (the root and everything below it).
void releasePluginTree(PluginMenuNode* root);

// Builds the native menu of a tree for a library: sub-menus become sub-menus, items
// reserve one identifier each (argument: the item value with the dispatcher as
// procedure, or -2 with the item's own procedure), separators stay. The tree's nodes
// are released. Null when the handle is no live root.
std::unique_ptr<menus::MenuNode> buildLibraryMenu(
    void* library, PluginMenuNode* root, VexaLibraryDispatcher dispatcher, int extra);

// Native menus handed to plug-ins (dozMenuCreateFromDESC, dozLibraryAddMenu).
void* registerNativeMenu(std::unique_ptr<menus::MenuNode> menu);
std::unique_ptr<menus::MenuNode> takeNativeMenu(void* handle);
// The library record of a handle given to dozLibraryInit, or null.
bool isLibraryHandle(void* handle);

std::unique_ptr<menus::MenuNode> copyMenu(const menus::MenuNode& menu);

} // namespace vexa::plugins
