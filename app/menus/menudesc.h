// Menus as the core sees them: a tree of labelled items, separators and sub-menus
// with command identifiers. Menu descriptions (MenuDesc arrays) of the workstation and
// of plug-ins become such trees; the window layer renders them and sends the chosen
// identifier back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vexa_plugin.h"

// One entry of a menu description (a NUL-padded label and a code), as plug-ins lay it out.
using MenuDescEntry = VexaMenuDescEntry;
static_assert(sizeof(MenuDescEntry) == 204, "entries are 204 bytes on every platform");

extern "C" {

// A menu description: a base identifier followed by entries, the last with code -5.
// Only the head is declared; entries follow the base without padding.
struct MenuDesc {
    std::int32_t base;
};
}

namespace vexa::menus {

inline const MenuDescEntry* descEntries(const MenuDesc* desc)
{
    return reinterpret_cast<const MenuDescEntry*>(
        reinterpret_cast<const char*>(desc) + sizeof(std::int32_t));
}

constexpr std::int32_t kEnd = VEXA_MENU_END;
constexpr std::int32_t kSeparator = VEXA_MENU_SEPARATOR;
constexpr std::int32_t kOpen = VEXA_MENU_OPEN;
constexpr std::int32_t kClose = VEXA_MENU_CLOSE;
constexpr std::int32_t kCloseAlt = VEXA_MENU_CLOSE_ALT;
constexpr int kMaxDepth = 10;
// A description without its end code stops here instead of reading on forever.
constexpr int kMaxEntries = 100000;

struct MenuNode {
    enum class Kind { SubMenu, Item, Separator };
    Kind kind = Kind::Item;
    std::string text;
    int id = 0; // items: command identifier
    bool checkable = false;
    bool checked = false;
    std::vector<std::unique_ptr<MenuNode>> children; // sub-menus only

    static std::unique_ptr<MenuNode> subMenu(std::string text);
    MenuNode* addItem(std::string text, int id);
    MenuNode* addSeparator();
    MenuNode* addSubMenu(std::unique_ptr<MenuNode> child);
    // Depth-first search of the item carrying an identifier.
    MenuNode* findItem(int id);
    // Direct sub-menu by label.
    MenuNode* findSubMenu(const std::string& text);
};

// Label of an entry: at most 200 bytes, stopping at the first NUL.
std::string entryText(const MenuDescEntry& entry);

// Builds a tree from a description: code 0 opens a sub-menu (at most kMaxDepth levels;
// deeper openings are ignored and their entries go to the current menu), -1 or -7 closes
// it and appends it to its parent (a closing with nothing open changes nothing), -4 is a
// separator, -5 ends, any other code c is an item with identifier base + c (left out when
// that sum leaves the int range). Sub-menus left open at the end are appended as if
// closed, so no entry is lost.
std::unique_ptr<MenuNode> buildFromDesc(const MenuDesc* desc, const std::string& rootText = {});

// The identifiers a description needs: the larger of the number of entries before the
// end code and the largest code.
int countIdsInDesc(const MenuDesc* desc);

// Builds a description in memory (for the workstation's own menus and for tests).
class MenuDescBuilder {
public:
    explicit MenuDescBuilder(std::int32_t base);
    MenuDescBuilder& add(const std::string& text, std::int32_t code);
    MenuDescBuilder& separator() { return add({}, kSeparator); }
    MenuDescBuilder& open(const std::string& text) { return add(text, kOpen); }
    MenuDescBuilder& close() { return add({}, kClose); }
    // Ends the description and returns it; valid while the builder lives.
    const MenuDesc* finish();

private:
    std::vector<std::uint8_t> bytes_;
    bool finished_ = false;
};

} // namespace vexa::menus
