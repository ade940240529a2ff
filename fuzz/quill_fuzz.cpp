// Parses arbitrary bytes as a document, walks the whole tree, writes it out and reads it
// back: nothing may crash, and what is written must read again.
#include "quill.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

void walk(QuillNode* root)
{
    std::vector<QuillNode*> pending { root };
    while (!pending.empty()) {
        QuillNode* node = pending.back();
        pending.pop_back();
        (void)quillNodeGetName(node);
        int items = 0;
        QuillItem** list = quillNodeGetItems(node, &items);
        for (int i = 0; i < items; ++i) {
            (void)quillItemGetName(list[i]);
            (void)quillItemGetValue(list[i]);
        }
        quillRelease(list);
        int children = 0;
        QuillNode** nodes = quillNodeGetNodes(node, &children);
        for (int i = 0; i < children; ++i)
            pending.push_back(nodes[i]);
        quillRelease(nodes);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    QuillNode* doc = quillReadBuffer(reinterpret_cast<const char*>(data), static_cast<int>(size));
    if (!doc)
        return 0;
    walk(doc);
    char path[] = "/tmp/quill_fuzz_XXXXXX";
    const int fd = mkstemp(path);
    if (fd >= 0) {
        close(fd);
        if (quillWrite(doc, path)) {
            QuillNode* again = quillRead(path, 10);
            if (!again)
                std::abort();
            walk(again);
            quillDestroy(again);
        }
        unlink(path);
    }
    quillDestroy(doc);
    return 0;
}
