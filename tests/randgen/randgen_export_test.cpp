#include <gtest/gtest.h>

#include <dlfcn.h>

TEST(RandgenExports, EveryFunctionIsFoundByName)
{
    void* lib = dlopen(VEXA_BIN_DIR "/librandgen.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const char* name : { "randNumGenNew", "randNumGenDelete", "randNumGenSetDeviation",
             "randNumGenSetUniformMethod", "randNumGenSetSeed", "randNumGenSetMean",
             "randNumGenSetAmplitude", "randNumGenSetStandardDeviation",
             "randNumGenGetRandomNumber" })
        EXPECT_NE(dlsym(lib, name), nullptr) << name;

    using NewFn = void* (*)();
    using DrawFn = double (*)(void*);
    using DeleteFn = int (*)(void*);
    auto create = reinterpret_cast<NewFn>(dlsym(lib, "randNumGenNew"));
    auto draw = reinterpret_cast<DrawFn>(dlsym(lib, "randNumGenGetRandomNumber"));
    auto destroy = reinterpret_cast<DeleteFn>(dlsym(lib, "randNumGenDelete"));
    ASSERT_TRUE(create && draw && destroy);
    void* g = create();
    const double x = draw(g);
    EXPECT_GE(x, -0.5);
    EXPECT_LE(x, 0.5);
    EXPECT_EQ(destroy(g), 0);
    dlclose(lib);
}
