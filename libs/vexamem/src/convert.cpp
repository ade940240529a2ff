// Sample type conversion: v = sample * scale + offset in double precision, then
// clamped to the output type and truncated toward zero. Every (input, output) pair
// has its own loop (convertkernels.inc), built for several instruction sets; the
// loops compute exactly the rule, so no pair needs a separate slow path.
#include "vexamem.h"
#include "vexamem_internal.hpp"

#include "vexa_bigalloc.hpp"
#include "vexa_guard.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

namespace vexamem {
namespace {

// Clamp and truncation of one value, for the constant that colour input converts to.
template <class Out> Out storeSample(double v)
{
    if constexpr (std::is_floating_point_v<Out>) {
        return static_cast<Out>(v);
    } else {
        constexpr double lo = static_cast<double>(std::numeric_limits<Out>::min());
        constexpr double hi = static_cast<double>(std::numeric_limits<Out>::max());
        double c = lo < v ? v : lo;
        c = c < hi ? c : hi;
        return static_cast<Out>(c);
    }
}

template <class Out> void fillLoop(void* destination, std::size_t count, double v)
{
    Out value = storeSample<Out>(v);
    Out* out = static_cast<Out*>(destination);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = value;
}

using FillFn = void (*)(void*, std::size_t, double);

enum class Isa { generic, avx2, avx512 };

// The widest instruction set this processor runs. VEXAMEM_ISA ("generic", "avx2")
// can lower it, so that every build of the loops can be checked on one machine.
Isa chooseIsa()
{
    Isa isa = Isa::generic;
#if defined(VEXAMEM_HAVE_AVX2)
    if (__builtin_cpu_supports("avx2"))
        isa = Isa::avx2;
#endif
#if defined(VEXAMEM_HAVE_AVX512)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq"))
        isa = Isa::avx512;
#endif
    if (const char* limit = std::getenv("VEXAMEM_ISA")) {
        if (std::strcmp(limit, "generic") == 0)
            isa = Isa::generic;
        else if (std::strcmp(limit, "avx2") == 0 && isa == Isa::avx512)
            isa = Isa::avx2;
    }
    return isa;
}

ConvertFn convertFunction(int inputType, int outputType)
{
    static const Isa isa = chooseIsa();
    switch (isa) {
#if defined(VEXAMEM_HAVE_AVX512)
    case Isa::avx512:
        return avx512::convertFunction(inputType, outputType);
#endif
#if defined(VEXAMEM_HAVE_AVX2)
    case Isa::avx2:
        return avx2::convertFunction(inputType, outputType);
#endif
    default:
        return generic::convertFunction(inputType, outputType);
    }
}

FillFn fillFunction(int outputType)
{
    switch (outputType) {
    case TYPEDATA_U8:
        return &fillLoop<std::uint8_t>;
    case TYPEDATA_S8:
        return &fillLoop<std::int8_t>;
    case TYPEDATA_F64:
        return &fillLoop<double>;
    case TYPEDATA_F32:
        return &fillLoop<float>;
    case TYPEDATA_S16:
        return &fillLoop<std::int16_t>;
    case TYPEDATA_S32:
        return &fillLoop<std::int32_t>;
    case TYPEDATA_U16:
        return &fillLoop<std::uint16_t>;
    case TYPEDATA_U32:
        return &fillLoop<std::uint32_t>;
    default:
        return nullptr;
    }
}

bool isNumeric(int type)
{
    return vexaTypeIsValid(type) && type != TYPEDATA_RGBA;
}

// True when the conversion writes anything other than zeros, i.e. when the result
// buffer must be zero-filled beforehand only if this is false.
bool writesSamples(int inputType, int outputType, double scale, double offset)
{
    if (inputType == TYPEDATA_RGBA && outputType == TYPEDATA_RGBA)
        return scale == 1.0 && offset == 0.0;
    return isNumeric(outputType) && (isNumeric(inputType) || inputType == TYPEDATA_RGBA);
}

// A large result is converted one piece at a time, each piece faulted in just before
// the loop writes it: the kernel's zeroing leaves the piece in the cache, where the
// loop's stores then land, so the result goes to memory once. Faulting the whole
// result first sent it there twice (zeros, then samples), which cost as much as the
// conversion itself. Pieces are 2 MiB pages of the result, below the size from which
// the loops stream their stores past the cache.
constexpr std::size_t kPieceBytes = std::size_t { 2 } << 20;
constexpr std::size_t kPiecewiseBytes = std::size_t { 1 } << 20;

void convertInPieces(const void* source, std::size_t count, double scale, double offset,
    int inputType, int outputType, void* result)
{
    const std::size_t inSize = elementSize(inputType);
    const std::size_t outSize = elementSize(outputType);
    const auto* in = static_cast<const unsigned char*>(source);
    auto* out = static_cast<unsigned char*>(result);
    // A whole 2 MiB page of a hinted result is faulted in by the loop's first write to
    // it, zeroed at once; the partial pages at both ends are ordinary pages, faulted in
    // by one system call rather than one fault each.
    const bool huge = resultGetsHugePages(count * outSize);
    const auto address = reinterpret_cast<std::uintptr_t>(out);
    const std::size_t head = ((address + kPieceBytes - 1) & ~(kPieceBytes - 1)) - address;
    std::size_t n = head > 0 && head % outSize == 0 ? head / outSize : kPieceBytes / outSize;
    for (std::size_t i = 0; i < count; i += n, n = kPieceBytes / outSize) {
        n = std::min(n, count - i);
        if (!huge || n * outSize != kPieceBytes)
            faultIn(out + i * outSize, n * outSize);
        convertSamples(in + i * inSize, n, scale, offset, inputType, outputType, out + i * outSize);
    }
}

} // namespace

void convertSamples(const void* source, std::size_t count, double scale, double offset,
    int inputType, int outputType, void* destination)
{
    if (inputType == TYPEDATA_RGBA && outputType == TYPEDATA_RGBA) {
        if (scale == 1.0 && offset == 0.0)
            std::memcpy(
                destination, source, byteCount(static_cast<std::int64_t>(count), TYPEDATA_RGBA));
        else
            std::memset(destination, 0, byteCount(static_cast<std::int64_t>(count), TYPEDATA_RGBA));
        return;
    }
    if (inputType == TYPEDATA_RGBA && isNumeric(outputType)) {
        // Colour pixels have no numeric value: every sample reads as 0.
        double zero = 0.0;
        fillFunction(outputType)(destination, count, zero * scale + offset);
        return;
    }
    if (ConvertFn fn = convertFunction(inputType, outputType)) {
        fn(source, destination, count, scale, offset);
        return;
    }
    std::memset(destination, 0, byteCount(static_cast<std::int64_t>(count), outputType));
}

} // namespace vexamem

using namespace vexamem;

extern "C" {

VEXA_API void* vexaMemConvert(
    const void* source, int count, double scale, double offset, int inputType, int outputType)
{
    if (!source || count <= 0)
        return nullptr;
    const bool writes = writesSamples(inputType, outputType, scale, offset);
    const std::size_t bytes = byteCount(count, outputType);
    if (!writes || bytes < kPiecewiseBytes) {
        void* result = allocateResult(bytes, !writes);
        if (result && writes)
            convertSamples(source, static_cast<std::size_t>(count), scale, offset, inputType,
                outputType, result);
        return result;
    }
    void* result = vexa::allocateLarge(bytes, false);
    if (result)
        convertInPieces(
            source, static_cast<std::size_t>(count), scale, offset, inputType, outputType, result);
    return result;
}

VEXA_API int vexaMemConvertInto(const void* source, int count, double scale, double offset,
    int inputType, int outputType, void* destination)
{
    if (!source || !destination || count <= 0)
        return 0;
    convertSamples(
        source, static_cast<std::size_t>(count), scale, offset, inputType, outputType, destination);
    return 1;
}

} // extern "C"
