// Loads libvexaMem.so by path and calls it only through dlsym'd pointers, as a
// plug-in or an outside program written in C does.
#include "vexa_types.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

class VexaMemLoaded : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        handle = dlopen(VEXA_BIN_DIR "/libvexaMem.so", RTLD_NOW | RTLD_LOCAL);
    }
    static void TearDownTestSuite()
    {
        if (handle)
            dlclose(handle);
        handle = nullptr;
    }
    void SetUp() override { ASSERT_NE(handle, nullptr) << dlerror(); }

    template <class Fn> static Fn symbol(const char* name)
    {
        return reinterpret_cast<Fn>(dlsym(handle, name));
    }

    static void* handle;
};
void* VexaMemLoaded::handle = nullptr;

TEST_F(VexaMemLoaded, ExportsEveryFunctionByName)
{
    const char* names[] = { "vexaMemCopy", "vexaMemExtract", "vexaMemConvert", "vexaMemConvertInto",
        "vexaMemFree", "vexaMemTranspose", "vexaMemSwapHorizontal", "vexaMemSwapVertical",
        "vexaMemRotate90", "vexaMemRotate180", "vexaMemRotate270", "vexaMemRotateComputeDim",
        "vexaMemRotate", "vexaMemResize", "vexaMemRoll", "vexaMemRolls", "vexaMemOp" };
    for (const char* name : names)
        EXPECT_NE(dlsym(handle, name), nullptr) << name;
    // Internal helpers stay hidden.
    EXPECT_EQ(dlsym(handle, "_ZN7vexamem14convertSamplesEPKvmddiiPv"), nullptr);
}

TEST_F(VexaMemLoaded, ConvertsAndFreesThroughPointers)
{
    using Convert = void* (*)(const void*, int, double, double, int, int);
    using Free = void (*)(void*);
    auto convert = symbol<Convert>("vexaMemConvert");
    auto release = symbol<Free>("vexaMemFree");
    ASSERT_TRUE(convert && release);
    const std::int16_t s16[3] = { -5, 300, 70 };
    auto* u8 = static_cast<std::uint8_t*>(convert(s16, 3, 1.0, 0.0, TYPEDATA_S16, TYPEDATA_U8));
    ASSERT_NE(u8, nullptr);
    EXPECT_EQ(u8[0], 0);
    EXPECT_EQ(u8[1], 255);
    EXPECT_EQ(u8[2], 70);
    release(u8);
    // Results are plain malloc blocks: free() releases them as well.
    std::free(convert(s16, 3, 2.0, 1.0, TYPEDATA_S16, TYPEDATA_F64));
}

TEST_F(VexaMemLoaded, TransposesExtractsAndRollsThroughPointers)
{
    using Transpose = void (*)(void*, int, int, int);
    using Extract = void* (*)(const void*, int, int, int, int, int, int, int);
    using Rolls = void (*)(int, int, ...);
    using Op = void (*)(
        const void*, int, int, int, int, int, int, int, void*, int, int, int, int, int, int);
    auto transpose = symbol<Transpose>("vexaMemTranspose");
    auto extract = symbol<Extract>("vexaMemExtract");
    auto rolls = symbol<Rolls>("vexaMemRolls");
    auto op = symbol<Op>("vexaMemOp");
    ASSERT_TRUE(transpose && extract && rolls && op);

    std::int32_t a[6] = { 1, 2, 3, 4, 5, 6 };
    transpose(a, TYPEDATA_S32, 3, 2);
    const std::int32_t transposed[6] = { 1, 4, 2, 5, 3, 6 };
    EXPECT_EQ(std::memcmp(a, transposed, sizeof a), 0);

    const std::uint16_t u16[9] = { 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    auto* r = static_cast<std::uint16_t*>(extract(u16, 3, 3, 1, 1, 2, 2, TYPEDATA_U16));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[0], 5);
    EXPECT_EQ(r[3], 9);
    std::free(r);

    std::uint32_t w1[3] = { 1, 2, 3 }, w2[2] = { 7, 8 };
    rolls(2, 2, w1, w2);
    EXPECT_EQ(w1[0], 2u);
    EXPECT_EQ(w1[1], 1u);
    EXPECT_EQ(w1[2], 3u);
    EXPECT_EQ(w2[0], 8u);

    const std::int16_t s16 = 30000;
    std::uint8_t u8 = 100;
    op(&s16, TYPEDATA_S16, 1, 1, 0, 0, 1, 1, &u8, TYPEDATA_U8, 1, 1, 0, 0, 1);
    EXPECT_EQ(u8, 255);
}

} // namespace
