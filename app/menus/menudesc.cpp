#include "menus/menudesc.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vexa::menus {

std::unique_ptr<MenuNode> MenuNode::subMenu(std::string text)
{
    auto node = std::make_unique<MenuNode>();
    node->kind = Kind::SubMenu;
    node->text = std::move(text);
    return node;
}

MenuNode* MenuNode::addItem(std::string label, int itemId)
{
    auto node = std::make_unique<MenuNode>();
    node->kind = Kind::Item;
    node->text = std::move(label);
    node->id = itemId;
    children.push_back(std::move(node));
    return children.back().get();
}

MenuNode* MenuNode::addSeparator()
{
    auto node = std::make_unique<MenuNode>();
    node->kind = Kind::Separator;
    children.push_back(std::move(node));
    return children.back().get();
}

MenuNode* MenuNode::addSubMenu(std::unique_ptr<MenuNode> child)
{
    children.push_back(std::move(child));
    return children.back().get();
}

MenuNode* MenuNode::findItem(int wanted)
{
    for (auto& child : children) {
        if (child->kind == Kind::Item && child->id == wanted)
            return child.get();
        if (child->kind == Kind::SubMenu)
            if (MenuNode* found = child->findItem(wanted))
                return found;
    }
    return nullptr;
}

MenuNode* MenuNode::findSubMenu(const std::string& label)
{
    for (auto& child : children)
        if (child->kind == Kind::SubMenu && child->text == label)
            return child.get();
    return nullptr;
}

std::string entryText(const MenuDescEntry& entry)
{
    const void* nul = std::memchr(entry.text, 0, sizeof entry.text);
    size_t length = nul ? static_cast<const char*>(nul) - entry.text : sizeof entry.text;
    return std::string(entry.text, length);
}

std::unique_ptr<MenuNode> buildFromDesc(const MenuDesc* desc, const std::string& rootText)
{
    auto root = MenuNode::subMenu(rootText);
    if (!desc)
        return root;
    // open[0] is the root; open.back() receives the entries.
    std::vector<std::unique_ptr<MenuNode>> open;
    open.push_back(std::move(root));
    const MenuDescEntry* entries = descEntries(desc);
    for (int i = 0; i < kMaxEntries; ++i) {
        const MenuDescEntry& entry = entries[i];
        const std::int32_t code = entry.code;
        if (code == kEnd)
            break;
        if (code == kSeparator) {
            open.back()->addSeparator();
        } else if (code == kOpen) {
            if (static_cast<int>(open.size()) <= kMaxDepth)
                open.push_back(MenuNode::subMenu(entryText(entry)));
        } else if (code == kClose || code == kCloseAlt) {
            if (open.size() > 1) {
                auto done = std::move(open.back());
                open.pop_back();
                open.back()->addSubMenu(std::move(done));
            }
        } else {
            // A sum outside the int range names no command: the item is left out
            // rather than given a wrapped identifier that may belong to another one.
            const std::int64_t id = std::int64_t(desc->base) + code;
            if (id >= std::numeric_limits<int>::min() && id <= std::numeric_limits<int>::max())
                open.back()->addItem(entryText(entry), int(id));
        }
    }
    while (open.size() > 1) {
        auto done = std::move(open.back());
        open.pop_back();
        open.back()->addSubMenu(std::move(done));
    }
    return std::move(open.front());
}

int countIdsInDesc(const MenuDesc* desc)
{
    if (!desc)
        return 0;
    int count = 0;
    int largest = 0;
    const MenuDescEntry* entries = descEntries(desc);
    for (; count < kMaxEntries && entries[count].code != kEnd; ++count)
        largest = std::max(largest, static_cast<int>(entries[count].code));
    return std::max(count, largest);
}

MenuDescBuilder::MenuDescBuilder(std::int32_t base)
{
    bytes_.resize(sizeof(std::int32_t));
    std::memcpy(bytes_.data(), &base, sizeof base);
}

MenuDescBuilder& MenuDescBuilder::add(const std::string& text, std::int32_t code)
{
    MenuDescEntry entry {};
    std::memcpy(entry.text, text.data(), std::min(text.size(), sizeof entry.text - 1));
    entry.code = code;
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&entry);
    bytes_.insert(bytes_.end(), raw, raw + sizeof entry);
    return *this;
}

const MenuDesc* MenuDescBuilder::finish()
{
    if (!finished_) {
        add({}, kEnd);
        finished_ = true;
    }
    return reinterpret_cast<const MenuDesc*>(bytes_.data());
}

} // namespace vexa::menus
