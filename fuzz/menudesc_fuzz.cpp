// Plug-in menu descriptions of any bytes (a base, then 204-byte entries; the harness
// ends the description as a plug-in must). The tree may hold no more nodes than there
// are entries, stay within the nesting limit, and give every item an identifier the
// count of identifiers covers.
#include "menus/menudesc.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace vexa::menus;

struct Walk {
    std::int32_t base;
    int ids;
    std::size_t nodes = 0;
};

void check(const MenuNode& node, int depth, Walk& walk)
{
    if (depth > kMaxDepth + 1)
        __builtin_trap();
    for (const auto& child : node.children) {
        ++walk.nodes;
        if (child->kind == MenuNode::Kind::Item
            && std::int64_t(child->id) - walk.base > std::int64_t(walk.ids))
            __builtin_trap();
        if (child->kind == MenuNode::Kind::SubMenu)
            check(*child, depth + 1, walk);
        else if (!child->children.empty())
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kEntry = sizeof(MenuDescEntry);
    const std::size_t entries = size >= 4 ? (size - 4 + kEntry - 1) / kEntry : 0;
    std::vector<std::uint8_t> bytes(4 + (entries + 1) * kEntry, 0);
    std::memcpy(bytes.data(), data, size);
    MenuDescEntry end {};
    end.code = kEnd;
    std::memcpy(bytes.data() + 4 + entries * kEntry, &end, kEntry);
    // The entries follow the 4-byte base unaligned, as plug-ins lay them out; copy the
    // buffer to memory aligned for the head.
    std::vector<std::int32_t> aligned((bytes.size() + 3) / 4);
    std::memcpy(aligned.data(), bytes.data(), bytes.size());
    const auto* desc = reinterpret_cast<const MenuDesc*>(aligned.data());

    Walk walk { desc->base, countIdsInDesc(desc) };
    if (walk.ids < 0)
        __builtin_trap();
    std::unique_ptr<MenuNode> root = buildFromDesc(desc, "Racine");
    if (!root || root->kind != MenuNode::Kind::SubMenu)
        __builtin_trap();
    check(*root, 0, walk);
    if (walk.nodes > entries)
        __builtin_trap();
    return 0;
}
