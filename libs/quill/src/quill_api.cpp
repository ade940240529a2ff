// The exported C functions: argument checks and exception shells around the tree.
#include "quill_document.h"

#include "vexa_guard.hpp"

#include <cstdlib>
#include <cstring>
#include <vector>

using vexa::guarded;
using vexa::guardedVoid;

namespace {

// Arrays cross the boundary as malloc blocks released by quillRelease (free).
template <typename T> T** toArray(const std::vector<T*>& found, int* count)
{
    if (count)
        *count = 0;
    if (found.empty())
        return nullptr;
    auto** array = static_cast<T**>(std::malloc(found.size() * sizeof(T*)));
    if (!array)
        return nullptr;
    std::memcpy(array, found.data(), found.size() * sizeof(T*));
    if (count)
        *count = static_cast<int>(found.size());
    return array;
}

std::vector<QuillItem*> itemsNamed(QuillNode* node, const char* name)
{
    std::vector<QuillItem*> found;
    for (const auto& item : node->items)
        if (item->name == name)
            found.push_back(item.get());
    return found;
}

// The only item of that name, or null when there are none or several.
QuillItem* onlyItem(QuillNode* node, const char* name)
{
    QuillItem* only = nullptr;
    for (const auto& item : node->items) {
        if (item->name != name)
            continue;
        if (only)
            return nullptr;
        only = item.get();
    }
    return only;
}

bool isRoot(const QuillNode* node)
{
    return node && !node->parent && node->document && node->document->root() == node;
}

} // namespace

extern "C" {

VEXA_API QuillNode* quillRead(const char* path, int /*level*/)
{
    return guarded([&]() -> QuillNode* {
        auto doc = quill::readDocument(path);
        return doc ? doc.release()->root() : nullptr;
    });
}

VEXA_API QuillNode* quillReadBuffer(const char* data, int size)
{
    if (!data || size <= 0)
        return nullptr;
    return guarded([&]() -> QuillNode* {
        auto doc = quill::parseDocument(data, static_cast<std::size_t>(size));
        return doc ? doc.release()->root() : nullptr;
    });
}

VEXA_API QuillNode* quillNew(const char* rootName)
{
    if (!rootName)
        return nullptr;
    return guarded([&]() -> QuillNode* { return quill::newDocument(rootName).release()->root(); });
}

VEXA_API int quillWrite(QuillNode* doc, const char* path)
{
    if (!isRoot(doc) || !path)
        return 0;
    return guarded([&] { return quill::writeDocument(*doc->document, path) ? 1 : 0; });
}

VEXA_API void quillDestroy(QuillNode* doc)
{
    if (isRoot(doc))
        delete doc->document;
}

VEXA_API void quillRelease(void* array)
{
    std::free(array);
}

VEXA_API const char* quillNodeGetName(QuillNode* node)
{
    return node ? node->name.c_str() : nullptr;
}

VEXA_API int quillNodeCountNodes(QuillNode* node)
{
    return node ? static_cast<int>(node->children.size()) : 0;
}

VEXA_API QuillNode** quillNodeGetNodes(QuillNode* node, int* count)
{
    if (count)
        *count = 0;
    if (!node)
        return nullptr;
    return guarded([&] { return toArray(node->children, count); });
}

VEXA_API int quillNodeCountItems(QuillNode* node)
{
    return node ? static_cast<int>(node->items.size()) : 0;
}

VEXA_API QuillItem** quillNodeGetItems(QuillNode* node, int* count)
{
    if (count)
        *count = 0;
    if (!node)
        return nullptr;
    return guarded([&] {
        std::vector<QuillItem*> all;
        all.reserve(node->items.size());
        for (const auto& item : node->items)
            all.push_back(item.get());
        return toArray(all, count);
    });
}

VEXA_API QuillNode** quillNodeFindNodes(
    QuillNode* node, const char* name, int /*level*/, int* count)
{
    if (count)
        *count = 0;
    if (!node || !name)
        return nullptr;
    return guarded([&] {
        std::vector<QuillNode*> found;
        for (QuillNode* child : node->children)
            if (child->name == name)
                found.push_back(child);
        return toArray(found, count);
    });
}

VEXA_API QuillItem** quillNodeFindItems(
    QuillNode* node, const char* name, int /*level*/, int* count)
{
    if (count)
        *count = 0;
    if (!node || !name)
        return nullptr;
    return guarded([&] { return toArray(itemsNamed(node, name), count); });
}

VEXA_API QuillNode* quillNodeAddNode(QuillNode* node, const char* name)
{
    if (!node || !name)
        return nullptr;
    return guarded([&] { return quill::addNode(*node, name); });
}

VEXA_API QuillItem* quillNodeAddItem(QuillNode* node, const char* name, const char* value)
{
    if (!node || !name)
        return nullptr;
    return guarded([&] { return quill::addItem(*node, name, value); });
}

VEXA_API const char* quillItemGetName(QuillItem* item)
{
    return item ? item->name.c_str() : nullptr;
}

VEXA_API const char* quillItemGetValue(QuillItem* item)
{
    return item && item->hasValue ? item->value.c_str() : nullptr;
}

VEXA_API int quillItemSetValue(QuillItem* item, const char* value)
{
    if (!item)
        return 0;
    return guarded([&] {
        // Assigned before the flag changes so that a failed copy keeps the old value.
        item->value = value ? value : "";
        item->hasValue = value != nullptr;
        return 1;
    });
}

VEXA_API int quillItemDelete(QuillItem* item)
{
    if (!item || !item->owner)
        return 0;
    quill::deleteItem(*item);
    return 1;
}

VEXA_API int quillGetIntItem(QuillNode* node, const char* name, long* value)
{
    if (!node || !name || !value)
        return 0;
    QuillItem* item = onlyItem(node, name);
    if (!item || !item->hasValue)
        return 0;
    *value = quill::parseInt(item->value.c_str());
    return 1;
}

VEXA_API int quillGetRealItem(QuillNode* node, const char* name, double* value)
{
    if (!node || !name || !value)
        return 0;
    QuillItem* item = onlyItem(node, name);
    if (!item || !item->hasValue)
        return 0;
    *value = quill::parseReal(item->value.c_str());
    return 1;
}

VEXA_API const char* quillGetTextItem(QuillNode* node, const char* name)
{
    if (!node || !name)
        return nullptr;
    QuillItem* item = onlyItem(node, name);
    return item && item->hasValue ? item->value.c_str() : nullptr;
}

VEXA_API QuillItem* quillAddIntItem(QuillNode* node, const char* name, int value)
{
    if (!node || !name)
        return nullptr;
    return guarded([&] { return quill::addItem(*node, name, quill::formatInt(value).c_str()); });
}

VEXA_API QuillItem* quillAddRealItem(QuillNode* node, const char* name, double value)
{
    if (!node || !name)
        return nullptr;
    return guarded([&] { return quill::addItem(*node, name, quill::formatReal(value).c_str()); });
}

VEXA_API int quillSetIntItem(QuillNode* node, const char* name, int value)
{
    if (!node || !name)
        return 0;
    QuillItem* item = onlyItem(node, name);
    if (!item)
        return 0;
    return quillItemSetValue(item, quill::formatInt(value).c_str());
}

} // extern "C"
