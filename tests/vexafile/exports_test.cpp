// Every exported name of the library loads by name, as plug-ins and the program find it.
#include <gtest/gtest.h>

#include <dlfcn.h>

TEST(VexaFileExports, EveryNameResolves)
{
    void* lib = dlopen(VEXA_BIN_DIR "/libvexaFile.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    const char* names[] = { "vexaFileNew", "vexaFileNameOpen", "vexaFileRelease", "vexaFileFree",
        "vexaFileReadHeader", "vexaFileWriteHeader", "vexaFileGetComment", "vexaFileAddLogicalPart",
        "vexaFileIsLogical", "vexaFileGetFullName", "vexaFileSetFullName", "vexaFileGetSizes",
        "vexaFileSetSizes", "vexaFileGetDimX", "vexaFileSetDimX", "vexaFileGetDimY",
        "vexaFileSetDimY", "vexaFileGetDimZ", "vexaFileSetDimZ", "vexaFileGetNbBits",
        "vexaFileSetNbBits", "vexaFileGetEndian", "vexaFileSetEndian", "vexaFileGetSign",
        "vexaFileSetSign", "vexaFileGetTypeData", "vexaFileSetTypeData", "vexaFileGetOffsetData",
        "vexaFileSetOffsetData", "vexaFileGetTranspose", "vexaFileSetTranspose", "vexaFileGetTiled",
        "vexaFileSetTiled", "vexaFileSetHeader", "vexaFileSetOp", "vexaFileReadBlockPart",
        "vexaFileReadBlock", "vexaFileReadImagePart", "vexaFileReadImage", "vexaFileWriteBlockPart",
        "vexaFileWriteBlock", "vexaFileWriteImagePart", "vexaFileWriteImage", "vexaFileWriteFull",
        "vexaFileGetLastError", "vexaFileUsesFile", "vexaFileGetHeaderFound",
        "vexaFileSetMappedFileLimit", "vexaFileGetMappedFileLimit" };
    for (const char* name : names)
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    // The picture decoder inside is not part of the interface.
    EXPECT_EQ(dlsym(lib, "stbi_load"), nullptr);
    dlclose(lib);
}
