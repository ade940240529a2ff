#include <gtest/gtest.h>

#include <dlfcn.h>

TEST(QuillExports, EveryFunctionIsFoundByName)
{
    void* lib = dlopen(VEXA_BIN_DIR "/libquill.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    const char* names[] = { "quillRead", "quillReadBuffer", "quillNew", "quillWrite",
        "quillDestroy", "quillRelease", "quillNodeGetName", "quillNodeCountNodes",
        "quillNodeGetNodes", "quillNodeCountItems", "quillNodeGetItems", "quillNodeFindNodes",
        "quillNodeFindItems", "quillNodeAddNode", "quillNodeAddItem", "quillItemGetName",
        "quillItemGetValue", "quillItemSetValue", "quillItemDelete", "quillGetIntItem",
        "quillGetRealItem", "quillGetTextItem", "quillAddIntItem", "quillAddRealItem",
        "quillSetIntItem" };
    for (const char* name : names)
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    // Internals stay hidden.
    EXPECT_EQ(dlsym(lib, "_ZN5quill13parseDocumentEPKcm"), nullptr);
    dlclose(lib);
}
