#include "quill_document.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace quill {

std::unique_ptr<Document> newDocument(std::string_view rootName)
{
    auto doc = std::make_unique<Document>();
    auto root = std::make_unique<QuillNode>();
    root->document = doc.get();
    root->name = rootName;
    doc->nodes.push_back(std::move(root));
    return doc;
}

QuillNode* addNode(QuillNode& parent, std::string_view name)
{
    Document& doc = *parent.document;
    auto node = std::make_unique<QuillNode>();
    node->document = &doc;
    node->parent = &parent;
    node->name = name;
    QuillNode* raw = node.get();
    doc.nodes.push_back(std::move(node));
    try {
        parent.children.push_back(raw);
    } catch (...) {
        // Nothing is left half-added when memory runs out.
        doc.nodes.pop_back();
        throw;
    }
    return raw;
}

QuillItem* addItem(QuillNode& node, std::string_view name, const char* value)
{
    auto item = std::make_unique<QuillItem>();
    item->owner = &node;
    item->name = name;
    item->hasValue = value != nullptr;
    if (value)
        item->value = value;
    QuillItem* raw = item.get();
    node.items.push_back(std::move(item));
    return raw;
}

void deleteItem(QuillItem& item)
{
    auto& items = item.owner->items;
    auto it = std::find_if(items.begin(), items.end(),
        [&](const std::unique_ptr<QuillItem>& p) { return p.get() == &item; });
    if (it != items.end())
        items.erase(it);
}

std::string formatInt(long value)
{
    std::array<char, 32> buf {};
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value);
    (void)ec;
    return std::string(buf.data(), end);
}

std::string formatReal(double value)
{
    // "%f" of the C library depends on LC_NUMERIC (a French desktop would write
    // "0,500000", which no reader parses back); to_chars is always "C".
    // 1e308 in fixed notation takes 309 digits plus sign, point and six decimals.
    std::array<char, 400> buf {};
    auto [end, ec]
        = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, 6);
    if (ec != std::errc {})
        return std::string();
    return std::string(buf.data(), end);
}

long parseInt(const char* text)
{
    // atol leaves overflow undefined; strtol saturates, which is what atol does here.
    return std::strtol(text, nullptr, 10);
}

namespace {

locale_t cLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

} // namespace

double parseReal(const char* text)
{
    locale_t loc = cLocale();
    if (loc != static_cast<locale_t>(nullptr))
        return strtod_l(text, nullptr, loc);
    return std::strtod(text, nullptr);
}

} // namespace quill
