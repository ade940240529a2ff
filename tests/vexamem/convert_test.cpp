#include "vexamem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<void, FreeDeleter>;

const int kNumericTypes[] = { TYPEDATA_U8, TYPEDATA_S8, TYPEDATA_U16, TYPEDATA_S16, TYPEDATA_U32,
    TYPEDATA_S32, TYPEDATA_F32, TYPEDATA_F64 };
const int kAllTypes[] = { TYPEDATA_U8, TYPEDATA_S8, TYPEDATA_U16, TYPEDATA_S16, TYPEDATA_U32,
    TYPEDATA_S32, TYPEDATA_F32, TYPEDATA_F64, TYPEDATA_RGBA };

// The conversion rule written out plainly, one sample at a time.
double referenceRead(const void* p, std::size_t i, int type)
{
    switch (type) {
    case TYPEDATA_U8:
        return static_cast<const std::uint8_t*>(p)[i];
    case TYPEDATA_S8:
        return static_cast<const std::int8_t*>(p)[i];
    case TYPEDATA_U16:
        return static_cast<const std::uint16_t*>(p)[i];
    case TYPEDATA_S16:
        return static_cast<const std::int16_t*>(p)[i];
    case TYPEDATA_U32:
        return static_cast<double>(
            static_cast<std::int64_t>(static_cast<const std::uint32_t*>(p)[i]));
    case TYPEDATA_S32:
        return static_cast<const std::int32_t*>(p)[i];
    case TYPEDATA_F32:
        return static_cast<const float*>(p)[i];
    case TYPEDATA_F64:
        return static_cast<const double*>(p)[i];
    default:
        return 0.0;
    }
}

void referenceStore(void* p, std::size_t i, int type, double v)
{
    switch (type) {
    case TYPEDATA_U8:
        static_cast<std::uint8_t*>(p)[i] = v <= 0 ? 0
            : v > 255                             ? 255
                                                  : static_cast<std::uint8_t>(std::trunc(v));
        break;
    case TYPEDATA_S8:
        static_cast<std::int8_t*>(p)[i] = v <= -128 ? -128
            : v > 127                               ? 127
                                                    : static_cast<std::int8_t>(std::trunc(v));
        break;
    case TYPEDATA_U16:
        static_cast<std::uint16_t*>(p)[i] = v <= 0 ? 0
            : v > 65535                            ? 65535
                                                   : static_cast<std::uint16_t>(std::trunc(v));
        break;
    case TYPEDATA_S16:
        static_cast<std::int16_t*>(p)[i] = v <= -32768 ? -32768
            : v > 32767                                ? 32767
                                                       : static_cast<std::int16_t>(std::trunc(v));
        break;
    case TYPEDATA_U32:
        static_cast<std::uint32_t*>(p)[i] = v <= 0 ? 0u
            : v > 4294967295.0
            ? 4294967295u
            : static_cast<std::uint32_t>(static_cast<std::int64_t>(std::trunc(v)));
        break;
    case TYPEDATA_S32:
        static_cast<std::int32_t*>(p)[i] = v <= -2147483648.0
            ? std::numeric_limits<std::int32_t>::min()
            : v > 2147483647.0 ? std::numeric_limits<std::int32_t>::max()
                               : static_cast<std::int32_t>(std::trunc(v));
        break;
    case TYPEDATA_F32:
        static_cast<float*>(p)[i] = static_cast<float>(v);
        break;
    case TYPEDATA_F64:
        static_cast<double*>(p)[i] = v;
        break;
    }
}

// Values that reach every clamp and truncation of every output type.
const double kProbeValues[] = { 0.0, -0.0, 0.25, 0.999, 1.0, 1.5, 2.9, -2.9, -0.5, 70.0, 127.0,
    127.5, 128.0, -128.0, -128.7, -129.0, 200.0, 254.9, 255.0, 255.5, 256.0, 300.0, -5.0, 1000.7,
    32767.0, 32767.9, 32768.0, -32768.0, -32768.5, -32769.0, 65535.0, 65535.99, 65536.0, 70000.0,
    2147483647.0, 2147483647.5, 2147483648.0, -2147483648.0, -2147483648.5, -2147483649.0,
    3000000000.0, 4294967295.0, 4294967295.5, 4294967296.0, 1e10, -1e10, 1e300, -1e300, 3.4e38,
    1e-300, 123456.789 };

// The probe values stored in a type (each wrapped or rounded as storing does),
// plus the type's extremes, so every input type sees its whole range.
std::vector<unsigned char> makeInput(int type, std::size_t& count)
{
    std::vector<double> values(std::begin(kProbeValues), std::end(kProbeValues));
    values.push_back(std::numeric_limits<double>::infinity());
    values.push_back(-std::numeric_limits<double>::infinity());
    count = values.size();
    std::vector<unsigned char> bytes(count * static_cast<std::size_t>(vexaTypeSize(type)));
    for (std::size_t i = 0; i < count; ++i)
        referenceStore(bytes.data(), i, type, values[i]);
    return bytes;
}

struct ScaleOffset {
    double scale, offset;
};
const ScaleOffset kScales[]
    = { { 1.0, 0.0 }, { 0.5, 0.0 }, { 2.0, -128.0 }, { -1.0, 0.25 }, { 1e-3, 100 }, { 3.7, -1.1 },
          { 1.0, 0.1 }, { 0.1, 0.0 }, { 1e10, 0.0 }, { -3e-7, 7.5 }, { 1.0 / 3.0, 1e-9 } };

TEST(VexaMemConvert, EveryTypePairFollowsTheRuleBitForBit)
{
    for (int in : kNumericTypes) {
        std::size_t count = 0;
        std::vector<unsigned char> input = makeInput(in, count);
        for (int out : kNumericTypes) {
            const std::size_t es = static_cast<std::size_t>(vexaTypeSize(out));
            std::vector<unsigned char> expected(count * es);
            for (const ScaleOffset& so : kScales) {
                for (std::size_t i = 0; i < count; ++i) {
                    double v = referenceRead(input.data(), i, in) * so.scale;
                    v = v + so.offset;
                    referenceStore(expected.data(), i, out, v);
                }
                Buffer result(vexaMemConvert(
                    input.data(), static_cast<int>(count), so.scale, so.offset, in, out));
                ASSERT_TRUE(result);
                for (std::size_t i = 0; i < count; ++i)
                    ASSERT_EQ(std::memcmp(static_cast<unsigned char*>(result.get()) + i * es,
                                  expected.data() + i * es, es),
                        0)
                        << "in " << in << " out " << out << " scale " << so.scale << " offset "
                        << so.offset << " sample " << i << " = "
                        << referenceRead(input.data(), i, in);

                std::vector<unsigned char> into(count * es, 0xAB);
                ASSERT_EQ(vexaMemConvertInto(input.data(), static_cast<int>(count), so.scale,
                              so.offset, in, out, into.data()),
                    1);
                ASSERT_EQ(std::memcmp(into.data(), expected.data(), into.size()), 0)
                    << "in " << in << " out " << out;
            }
        }
    }
}

TEST(VexaMemConvert, LongArraysMatchTheRuleThroughVectorLoopsAndTheirTails)
{
    // Lengths around vector widths exercise the loop bodies and remainders.
    for (int count : { 1, 7, 31, 64, 1001 }) {
        std::vector<std::int16_t> input(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            input[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i * 97 - 20000);
        for (int out : kNumericTypes) {
            Buffer result(vexaMemConvert(input.data(), count, 0.37, 3.0, TYPEDATA_S16, out));
            ASSERT_TRUE(result);
            const std::size_t es = static_cast<std::size_t>(vexaTypeSize(out));
            std::vector<unsigned char> expected(static_cast<std::size_t>(count) * es);
            for (std::size_t i = 0; i < input.size(); ++i) {
                double v = input[i] * 0.37;
                referenceStore(expected.data(), i, out, v + 3.0);
            }
            EXPECT_EQ(std::memcmp(result.get(), expected.data(), expected.size()), 0)
                << count << " " << out;
        }
    }
}

// The rule for one sample, with NaN giving the lowest value of integer outputs
// (what the library does; the plain rule leaves NaN open).
void referenceConvert(const void* in, std::size_t i, int inType, double scale, double offset,
    void* out, std::size_t j, int outType)
{
    double v = referenceRead(in, i, inType) * scale;
    v = v + offset;
    if (std::isnan(v) && outType != TYPEDATA_F32 && outType != TYPEDATA_F64)
        v = -std::numeric_limits<double>::infinity();
    referenceStore(out, j, outType, v);
}

// Long arrays of every input type: the probe values, every 8-bit pattern, NaN and
// infinities, then pseudo-random bit patterns, so that vector loops, tables and
// their scalar heads and tails all meet clamps, truncations and signed zeros.
std::vector<unsigned char> makeLongInput(int type, std::size_t count)
{
    std::size_t probes = 0;
    std::vector<unsigned char> start = makeInput(type, probes);
    const std::size_t es = static_cast<std::size_t>(vexaTypeSize(type));
    std::vector<unsigned char> bytes(count * es);
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        unsigned char* p = bytes.data() + i * es;
        if (i < probes) {
            std::memcpy(p, start.data() + i * es, es);
        } else if (i < probes + 256) {
            // Every 8-bit pattern, in each byte of wider samples.
            std::memset(p, static_cast<int>(i - probes), es);
        } else if (type == TYPEDATA_F64) {
            double v = static_cast<double>(static_cast<std::int64_t>(state >> 20)) * 1e-6;
            v = i % 97 == 0 ? std::numeric_limits<double>::quiet_NaN() : i % 89 == 0 ? -0.0 : v;
            std::memcpy(p, &v, es);
        } else if (type == TYPEDATA_F32) {
            float v = static_cast<float>(static_cast<std::int32_t>(state >> 33)) * 1e-3f;
            v = i % 97 == 0 ? std::numeric_limits<float>::quiet_NaN() : i % 89 == 0 ? -0.0f : v;
            std::memcpy(p, &v, es);
        } else {
            const std::uint64_t bits = state >> 16;
            std::memcpy(p, &bits, es);
        }
    }
    return bytes;
}

void expectConvertsLikeTheRule(const unsigned char* input, std::size_t count, int in, int out,
    const ScaleOffset& so, std::size_t destinationShift)
{
    const std::size_t es = static_cast<std::size_t>(vexaTypeSize(out));
    std::vector<unsigned char> expected(count * es);
    for (std::size_t i = 0; i < count; ++i)
        referenceConvert(input, i, in, so.scale, so.offset, expected.data(), i, out);
    // Destinations shifted by whole samples, so that vector stores meet every
    // position within a cache line.
    std::vector<unsigned char> storage(count * es + 64 * es, 0xAB);
    unsigned char* destination = storage.data() + destinationShift * es;
    ASSERT_EQ(vexaMemConvertInto(
                  input, static_cast<int>(count), so.scale, so.offset, in, out, destination),
        1);
    for (std::size_t i = 0; i < count; ++i)
        ASSERT_EQ(std::memcmp(destination + i * es, expected.data() + i * es, es), 0)
            << "in " << in << " out " << out << " scale " << so.scale << " offset " << so.offset
            << " count " << count << " sample " << i << " = " << referenceRead(input, i, in);
    // Nothing written past the end.
    for (std::size_t k = (destinationShift + count) * es; k < storage.size(); ++k)
        ASSERT_EQ(storage[k], 0xAB) << "in " << in << " out " << out;
}

TEST(VexaMemConvert, LongArraysOfEveryPairFollowTheRuleAtEveryAlignment)
{
    const ScaleOffset scales[] = { { 1.0, 0.0 }, { 0.731, 12.5 }, { -1.0, 0.25 }, { 1e10, 0.0 },
        { 1.0 / 3.0, -1e-9 }, { 255.0 / 65535.0, 0.0 } };
    constexpr std::size_t kLong = 1500;
    for (int in : kNumericTypes) {
        const std::size_t inSize = static_cast<std::size_t>(vexaTypeSize(in));
        std::vector<unsigned char> input = makeLongInput(in, kLong + 8);
        for (int out : kNumericTypes)
            for (const ScaleOffset& so : scales)
                // Shifted sources and destinations and odd lengths move the vector
                // steps against both buffers and leave tails of every length.
                for (std::size_t shift : { 0u, 1u, 3u }) {
                    const std::size_t count = kLong - shift * 7;
                    expectConvertsLikeTheRule(
                        input.data() + shift * inSize, count, in, out, so, shift * 5);
                    if (HasFatalFailure())
                        return;
                }
    }
}

TEST(VexaMemConvert, EverySixteenBitSampleFollowsTheRuleNextToIntegers)
{
    // Scales that put products on or just beside integers, where single precision
    // alone would truncate to the wrong side.
    const ScaleOffset scales[]
        = { { 1.0 / 3.0, 0.0 }, { 0.5, 0.0 }, { 0.1, 0.0 }, { 1.0 / 255.0, 0.5 }, { 0.731, 12.5 },
              { -1.0 / 7.0, 3.0 }, { 1e-5, 0.99999 }, { 127.0 / 32767.0, 128.0 }, { 0.0, 7.0 },
              { 100.0, -0.5 }, { 0.7, 0.0 }, { 0.3, 0.1 }, { 1.1, 0.0 }, { 0.07, -0.3 },
              { -1.0, -0.5 }, { 255.0 / 32767.0, 0.0 }, { 1.0 / 64.0, 0.999999 }, { 31.9, -0.5 } };
    std::vector<std::int16_t> input(65536);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<std::int16_t>(static_cast<int>(i) - 32768);
    for (int out : { TYPEDATA_U8, TYPEDATA_S16 })
        for (const ScaleOffset& so : scales) {
            expectConvertsLikeTheRule(reinterpret_cast<const unsigned char*>(input.data()),
                input.size(), TYPEDATA_S16, out, so, 0);
            if (HasFatalFailure())
                return;
        }
}

TEST(VexaMemConvert, LargeOutputsBypassingTheCacheAreComplete)
{
    // Outputs of 8 MiB and more are written with streaming stores after an aligning
    // head; check every sample, the last ones in particular.
    struct Case {
        int in, out;
        ScaleOffset so;
        std::size_t count;
    };
    const Case cases[] = {
        { TYPEDATA_U8, TYPEDATA_U8, { 0.731, 12.5 }, (std::size_t { 8 } << 20) + 61 },
        { TYPEDATA_U8, TYPEDATA_S16, { -3.5, 100.0 }, (std::size_t { 4 } << 20) + 33 },
        { TYPEDATA_F64, TYPEDATA_S32, { 1.0, 0.0 }, (std::size_t { 2 } << 20) + 13 },
        { TYPEDATA_S16, TYPEDATA_F32, { 0.5, -3.0 }, (std::size_t { 2 } << 20) + 7 },
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> input = makeLongInput(c.in, c.count);
        const std::size_t es = static_cast<std::size_t>(vexaTypeSize(c.out));
        std::vector<unsigned char> expected(c.count * es);
        for (std::size_t i = 0; i < c.count; ++i)
            referenceConvert(
                input.data(), i, c.in, c.so.scale, c.so.offset, expected.data(), i, c.out);
        Buffer result(vexaMemConvert(
            input.data(), static_cast<int>(c.count), c.so.scale, c.so.offset, c.in, c.out));
        ASSERT_TRUE(result);
        EXPECT_EQ(std::memcmp(result.get(), expected.data(), expected.size()), 0)
            << "in " << c.in << " out " << c.out;
        // The same through a destination that does not start on a cache line.
        std::vector<unsigned char> into(expected.size() + 64);
        unsigned char* shifted = into.data() + 24;
        vexaMemConvertInto(
            input.data(), static_cast<int>(c.count), c.so.scale, c.so.offset, c.in, c.out, shifted);
        EXPECT_EQ(std::memcmp(shifted, expected.data(), expected.size()), 0)
            << "in " << c.in << " out " << c.out;
    }
}

TEST(VexaMemConvert, PrefaultedResultsOfEveryPairFollowTheRule)
{
    // Results of a megabyte and more are faulted in before the loop writes them;
    // that must change nothing in what they hold, zero-filled results included.
    constexpr std::size_t kCount = (std::size_t { 1 } << 20) + 5;
    for (int in : kNumericTypes) {
        std::vector<unsigned char> input = makeLongInput(in, kCount);
        for (int out : kNumericTypes) {
            const std::size_t es = static_cast<std::size_t>(vexaTypeSize(out));
            std::vector<unsigned char> expected(kCount * es);
            for (std::size_t i = 0; i < kCount; ++i)
                referenceConvert(input.data(), i, in, 0.731, 12.5, expected.data(), i, out);
            Buffer result(
                vexaMemConvert(input.data(), static_cast<int>(kCount), 0.731, 12.5, in, out));
            ASSERT_TRUE(result);
            ASSERT_EQ(std::memcmp(result.get(), expected.data(), expected.size()), 0)
                << "in " << in << " out " << out;
        }
    }
    std::vector<double> f64(kCount, 5.0);
    Buffer zeros(vexaMemConvert(f64.data(), static_cast<int>(kCount), 1, 0, TYPEDATA_F64, 42));
    ASSERT_TRUE(zeros);
    const auto* z = static_cast<const unsigned char*>(zeros.get());
    EXPECT_TRUE(std::all_of(z, z + 3 * kCount, [](unsigned char b) { return b == 0; }));
}

TEST(VexaMemConvert, AllocatedResultsEqualConversionsIntoABuffer)
{
    // Large results are converted piece by piece, from an unaligned head to a short
    // tail: the pieces must join into exactly what one conversion writes. The bytes
    // are arbitrary, NaNs and colours included.
    constexpr std::size_t kCount = (std::size_t { 1 } << 20) + 3;
    std::vector<unsigned char> input(kCount * 8);
    std::uint64_t state = 1;
    for (unsigned char& b : input) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        b = static_cast<unsigned char>(state >> 56);
    }
    for (int in : kAllTypes)
        for (int out : kAllTypes)
            for (double scale : { 1.0, 0.731 }) {
                const double offset = scale == 1.0 ? 0.0 : 12.5;
                std::vector<unsigned char> into(
                    kCount * static_cast<std::size_t>(vexaTypeSize(out)));
                ASSERT_EQ(vexaMemConvertInto(input.data(), static_cast<int>(kCount), scale, offset,
                              in, out, into.data()),
                    1);
                Buffer result(
                    vexaMemConvert(input.data(), static_cast<int>(kCount), scale, offset, in, out));
                ASSERT_TRUE(result);
                ASSERT_EQ(std::memcmp(result.get(), into.data(), into.size()), 0)
                    << "in " << in << " out " << out << " scale " << scale;
            }
}

template <class T>
std::vector<T> convertValues(
    const void* input, int count, double scale, double offset, int in, int out)
{
    Buffer result(vexaMemConvert(input, count, scale, offset, in, out));
    const T* p = static_cast<const T*>(result.get());
    return p ? std::vector<T>(p, p + count) : std::vector<T> {};
}

TEST(VexaMemConvert, ClampsToTheOutputRangeAndTruncatesTowardZero)
{
    const std::int16_t s16[] = { -5, 300, 70 };
    EXPECT_EQ(convertValues<std::uint8_t>(s16, 3, 1, 0, TYPEDATA_S16, TYPEDATA_U8),
        (std::vector<std::uint8_t> { 0, 255, 70 }));

    const double f64[] = { 2.9, -2.9, 127.5, -128.7 };
    EXPECT_EQ(convertValues<std::int8_t>(f64, 4, 1, 0, TYPEDATA_F64, TYPEDATA_S8),
        (std::vector<std::int8_t> { 2, -2, 127, -128 }));

    const std::uint8_t u8[] = { 200, 1 };
    EXPECT_EQ(convertValues<std::int8_t>(u8, 1, 1, -128, TYPEDATA_U8, TYPEDATA_S8)[0], 72);
    EXPECT_EQ(convertValues<std::uint8_t>(u8 + 1, 1, 0.5, 0, TYPEDATA_U8, TYPEDATA_U8)[0], 0);

    const double big = 1e10;
    EXPECT_EQ(
        convertValues<std::uint32_t>(&big, 1, 1, 0, TYPEDATA_F64, TYPEDATA_U32)[0], 4294967295u);
    EXPECT_EQ(
        convertValues<std::int32_t>(&big, 1, 1, 0, TYPEDATA_F64, TYPEDATA_S32)[0], 2147483647);
    EXPECT_EQ(convertValues<float>(&big, 1, 1, 0, TYPEDATA_F64, TYPEDATA_F32)[0], 1e10f);
}

TEST(VexaMemConvert, LargeUnsigned32StaysPositive)
{
    const std::uint32_t u32[] = { 3000000000u, 4294967295u };
    EXPECT_EQ(convertValues<double>(u32, 2, 1, 0, TYPEDATA_U32, TYPEDATA_F64),
        (std::vector<double> { 3000000000.0, 4294967295.0 }));
    EXPECT_EQ(convertValues<std::int32_t>(u32, 2, 1, 0, TYPEDATA_U32, TYPEDATA_S32),
        (std::vector<std::int32_t> { 2147483647, 2147483647 }));
    EXPECT_EQ(convertValues<std::uint32_t>(u32, 2, 1, -1, TYPEDATA_U32, TYPEDATA_U32),
        (std::vector<std::uint32_t> { 2999999999u, 4294967294u }));
}

TEST(VexaMemConvert, ProductAndSumAreRoundedSeparately)
{
    // 0.1 * 10 rounds to exactly 1.0, so adding -1 gives 0; a fused multiply-add
    // would keep the product's error and give 5.55e-17.
    const double tenth = 0.1;
    double v = convertValues<double>(&tenth, 1, 10.0, -1.0, TYPEDATA_F64, TYPEDATA_F64)[0];
    EXPECT_EQ(v, 0.0);
}

TEST(VexaMemConvert, NaNDoesNotFaultAndGivesTheLowestIntegerValue)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double f64[] = { nan, 1.0, nan };
    const float f32[] = { std::numeric_limits<float>::quiet_NaN(), 2.0f, 3.0f };
    for (int out : kAllTypes) {
        Buffer a(vexaMemConvert(f64, 3, 1, 0, TYPEDATA_F64, out));
        Buffer b(vexaMemConvert(f32, 3, 1, 0, TYPEDATA_F32, out));
        Buffer c(vexaMemConvert(f64 + 1, 2, nan, 0, TYPEDATA_F64, out));
        Buffer d(vexaMemConvert(f32 + 1, 2, 1, nan, TYPEDATA_F32, out));
        EXPECT_TRUE(a && b && c && d);
    }
    EXPECT_EQ(convertValues<std::uint8_t>(f64, 3, 1, 0, TYPEDATA_F64, TYPEDATA_U8),
        (std::vector<std::uint8_t> { 0, 1, 0 }));
    EXPECT_EQ(convertValues<std::int16_t>(f64, 3, 1, 0, TYPEDATA_F64, TYPEDATA_S16),
        (std::vector<std::int16_t> { -32768, 1, -32768 }));
    EXPECT_TRUE(std::isnan(convertValues<float>(f64, 1, 1, 0, TYPEDATA_F64, TYPEDATA_F32)[0]));
}

TEST(VexaMemConvert, ColourPixelsOnlyCopyToColour)
{
    const std::uint32_t rgba[] = { 0x11223344u, 0xFFFFFFFFu, 0u };
    EXPECT_EQ(convertValues<std::uint32_t>(rgba, 3, 1, 0, TYPEDATA_RGBA, TYPEDATA_RGBA),
        (std::vector<std::uint32_t>(std::begin(rgba), std::end(rgba))));
    EXPECT_EQ(convertValues<std::uint32_t>(rgba, 3, 2, 0, TYPEDATA_RGBA, TYPEDATA_RGBA),
        (std::vector<std::uint32_t>(3, 0u)));
    EXPECT_EQ(convertValues<std::uint32_t>(rgba, 3, 1, 5, TYPEDATA_RGBA, TYPEDATA_RGBA),
        (std::vector<std::uint32_t>(3, 0u)));
    // Any other output reads the pixels as 0: the offset, clamped.
    EXPECT_EQ(convertValues<std::uint8_t>(rgba, 3, 3, 300, TYPEDATA_RGBA, TYPEDATA_U8),
        (std::vector<std::uint8_t>(3, 255)));
    EXPECT_EQ(convertValues<double>(rgba, 3, 3, -7.5, TYPEDATA_RGBA, TYPEDATA_F64),
        (std::vector<double>(3, -7.5)));
    const double f64[] = { 1.0, 2.0, 3.0 };
    EXPECT_EQ(convertValues<std::uint32_t>(f64, 3, 1, 0, TYPEDATA_F64, TYPEDATA_RGBA),
        (std::vector<std::uint32_t>(3, 0u)));
}

TEST(VexaMemConvert, InvalidCodesGiveZeroFilledBuffers)
{
    const double f64[] = { 1.0, 2.0, 3.0, 4.0 };
    for (int bad : { 0, 10, -1 }) {
        // Three bytes per sample for an invalid output; ASan checks the size.
        Buffer out(vexaMemConvert(f64, 4, 1, 0, TYPEDATA_F64, bad));
        ASSERT_TRUE(out);
        EXPECT_EQ(std::memcmp(out.get(), std::vector<unsigned char>(12, 0).data(), 12), 0);
        std::vector<unsigned char> into(12, 0xCD);
        EXPECT_EQ(vexaMemConvertInto(f64, 4, 1, 0, TYPEDATA_F64, bad, into.data()), 1);
        EXPECT_EQ(into, std::vector<unsigned char>(12, 0));

        Buffer fromBad(vexaMemConvert(f64, 4, 1, 9, bad, TYPEDATA_S32));
        EXPECT_EQ(std::memcmp(fromBad.get(), std::vector<unsigned char>(16, 0).data(), 16), 0);
    }
}

TEST(VexaMemConvert, NullSourcesAndEmptyCountsReturnNothing)
{
    const std::uint8_t u8[] = { 1 };
    std::uint8_t out[1] = { 9 };
    EXPECT_EQ(vexaMemConvert(nullptr, 4, 1, 0, TYPEDATA_U8, TYPEDATA_F64), nullptr);
    EXPECT_EQ(vexaMemConvert(u8, 0, 1, 0, TYPEDATA_U8, TYPEDATA_F64), nullptr);
    EXPECT_EQ(vexaMemConvert(u8, -3, 1, 0, TYPEDATA_U8, TYPEDATA_F64), nullptr);
    EXPECT_EQ(vexaMemConvertInto(u8, 1, 1, 0, TYPEDATA_U8, TYPEDATA_U8, nullptr), 0);
    EXPECT_EQ(vexaMemConvertInto(nullptr, 1, 1, 0, TYPEDATA_U8, TYPEDATA_U8, out), 0);
    EXPECT_EQ(vexaMemConvertInto(u8, 0, 1, 0, TYPEDATA_U8, TYPEDATA_U8, out), 0);
    EXPECT_EQ(out[0], 9);
}

TEST(VexaMemCopy, CopiesBytesInIncreasingAddressOrder)
{
    unsigned char a[8] = { 1, 2, 3, 4, 5, 6, 7, 8 };
    unsigned char b[8] = {};
    vexaMemCopy(a, b, 8);
    EXPECT_EQ(std::memcmp(a, b, 8), 0);

    // A destination overlapping from above repeats the leading bytes.
    vexaMemCopy(a, a + 2, 6);
    EXPECT_EQ(std::vector<unsigned char>(a, a + 8),
        (std::vector<unsigned char> { 1, 2, 1, 2, 1, 2, 1, 2 }));
    // From below it is an ordinary shift.
    unsigned char c[6] = { 1, 2, 3, 4, 5, 6 };
    vexaMemCopy(c + 1, c, 5);
    EXPECT_EQ(
        std::vector<unsigned char>(c, c + 6), (std::vector<unsigned char> { 2, 3, 4, 5, 6, 6 }));

    vexaMemCopy(nullptr, b, 8);
    vexaMemCopy(a, nullptr, 8);
    vexaMemCopy(a, b, -1);
    EXPECT_EQ(b[0], 1);
}

TEST(VexaMemExtract, TakesTheRectangleRowByRow)
{
    const std::uint16_t u16[9] = { 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    Buffer r(vexaMemExtract(u16, 3, 3, 1, 1, 2, 2, TYPEDATA_U16));
    ASSERT_TRUE(r);
    const auto* p = static_cast<const std::uint16_t*>(r.get());
    EXPECT_EQ(std::vector<std::uint16_t>(p, p + 4), (std::vector<std::uint16_t> { 5, 6, 8, 9 }));
}

TEST(VexaMemExtract, WorksForEveryElementSize)
{
    for (int type : kAllTypes) {
        const int es = vexaTypeSize(type);
        std::vector<unsigned char> src(5 * 4 * static_cast<std::size_t>(es));
        for (std::size_t i = 0; i < src.size(); ++i)
            src[i] = static_cast<unsigned char>(i);
        Buffer r(vexaMemExtract(src.data(), 5, 4, 2, 1, 3, 3, type));
        ASSERT_TRUE(r);
        const auto* p = static_cast<const unsigned char*>(r.get());
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(std::memcmp(p + j * 3 * es, src.data() + ((1 + j) * 5 + 2) * es, 3 * es), 0)
                << type;
    }
}

TEST(VexaMemExtract, InvalidTypeGivesZeroFilledThreeByteSamples)
{
    std::vector<unsigned char> src(4 * 4 * 3, 0x7F);
    Buffer r(vexaMemExtract(src.data(), 4, 4, 1, 1, 2, 3, 0));
    ASSERT_TRUE(r);
    EXPECT_EQ(std::memcmp(r.get(), std::vector<unsigned char>(18, 0).data(), 18), 0);
}

TEST(VexaMemExtract, RefusesRectanglesOutsideTheSourceAndEmptySizes)
{
    const std::uint8_t src[12] = {};
    EXPECT_EQ(vexaMemExtract(src, 4, 3, 3, 0, 2, 1, TYPEDATA_U8), nullptr);
    EXPECT_EQ(vexaMemExtract(src, 4, 3, 0, 2, 1, 2, TYPEDATA_U8), nullptr);
    EXPECT_EQ(vexaMemExtract(src, 4, 3, -1, 0, 1, 1, TYPEDATA_U8), nullptr);
    EXPECT_EQ(vexaMemExtract(src, 4, 3, 0, 0, 0, 1, TYPEDATA_U8), nullptr);
    EXPECT_EQ(vexaMemExtract(nullptr, 4, 3, 0, 0, 1, 1, TYPEDATA_U8), nullptr);
    EXPECT_EQ(vexaMemExtract(src, 4, 3, 2147483647, 0, 2, 1, TYPEDATA_U8), nullptr);
    Buffer whole(vexaMemExtract(src, 4, 3, 0, 0, 4, 3, TYPEDATA_U8));
    EXPECT_TRUE(whole);
}

} // namespace
