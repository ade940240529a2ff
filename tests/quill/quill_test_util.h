// Helpers shared by the quill tests: owning handles and a readable dump of a tree.
#pragma once

#include "quill.h"

#include <memory>
#include <string>

struct DocDeleter {
    void operator()(QuillNode* doc) const { quillDestroy(doc); }
};
using DocPtr = std::unique_ptr<QuillNode, DocDeleter>;

inline DocPtr parse(const std::string& text)
{
    return DocPtr(quillReadBuffer(text.data(), static_cast<int>(text.size())));
}

// One line per node and item, indented by depth; null values are shown as (null).
inline void dumpInto(QuillNode* node, int depth, std::string& out)
{
    out.append(static_cast<std::size_t>(2 * depth), ' ');
    out += "<";
    out += quillNodeGetName(node);
    out += ">\n";
    int count = 0;
    QuillItem** items = quillNodeGetItems(node, &count);
    for (int i = 0; i < count; ++i) {
        const char* value = quillItemGetValue(items[i]);
        out.append(static_cast<std::size_t>(2 * depth + 2), ' ');
        out += quillItemGetName(items[i]);
        out += value ? "=[" + std::string(value) + "]" : std::string("=(null)");
        out += "\n";
    }
    quillRelease(items);
    QuillNode** nodes = quillNodeGetNodes(node, &count);
    for (int i = 0; i < count; ++i)
        dumpInto(nodes[i], depth + 1, out);
    quillRelease(nodes);
}

inline std::string dump(QuillNode* node)
{
    std::string out;
    if (node)
        dumpInto(node, 0, out);
    return out;
}

inline std::string testDataDir()
{
    return VEXA_TESTDATA_DIR;
}
