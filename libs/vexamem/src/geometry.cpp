// Transposition, mirrors, quarter turns, free rotation, resizing and word rolls.
#include "transpose.hpp"
#include "vexamem.h"
#include "vexamem_internal.hpp"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "vexa_guard.hpp"

namespace vexamem {
namespace {

// The 3-byte size of invalid codes still moves as a unit in mirrors and turns.
struct Bytes3 {
    unsigned char b[3];
};

template <class F> void withElement(int type, F&& f)
{
    switch (vexaTypeSize(type)) {
    case 1:
        f(std::uint8_t {});
        break;
    case 2:
        f(std::uint16_t {});
        break;
    case 4:
        f(std::uint32_t {});
        break;
    case 8:
        f(std::uint64_t {});
        break;
    default:
        f(Bytes3 {});
        break;
    }
}

// Element sizes as compile-time constants for the transposition kernels.
template <class F> void withElementSize(int type, F&& f)
{
    switch (vexaTypeSize(type)) {
    case 1:
        f(std::integral_constant<std::size_t, 1> {});
        break;
    case 2:
        f(std::integral_constant<std::size_t, 2> {});
        break;
    case 4:
        f(std::integral_constant<std::size_t, 4> {});
        break;
    case 8:
        f(std::integral_constant<std::size_t, 8> {});
        break;
    default:
        f(std::integral_constant<std::size_t, 3> {});
        break;
    }
}

// Quarter turns are transpositions with the rows of one side walked backwards:
// counter-clockwise writes the output rows from the last, clockwise reads the
// input rows from the last.
void quarterTurn(
    const void* source, int width, int height, int type, void* destination, bool clockwise)
{
    withElementSize(type, [&](auto es) {
        constexpr std::size_t ES = decltype(es)::value;
        const std::size_t w = static_cast<std::size_t>(width);
        const std::size_t h = static_cast<std::size_t>(height);
        const auto* src = static_cast<const unsigned char*>(source);
        auto* dst = static_cast<unsigned char*>(destination);
        const Stride ss = static_cast<Stride>(w * ES);
        const Stride ds = static_cast<Stride>(h * ES);
        if (clockwise)
            transposeBlocked<ES>(src + static_cast<Stride>(h - 1) * ss, -ss, dst, ds, w, h);
        else
            transposeBlocked<ES>(src, ss, dst + static_cast<Stride>(w - 1) * ds, -ds, w, h);
    });
}

bool validArray(const void* a, const void* b, int width, int height)
{
    return a && b && width > 0 && height > 0;
}

} // namespace
} // namespace vexamem

using namespace vexamem;

extern "C" {

VEXA_API void vexaMemTranspose(void* buffer, int type, int width, int height)
{
    if (!validArray(buffer, buffer, width, height))
        return;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    const std::size_t es = elementSize(type);
    if (es == 3) {
        std::memset(buffer, 0, w * h * es);
        return;
    }
    if (w == 1 || h == 1)
        return; // a single row or column has the same layout transposed
    vexa::guardedVoid([&] {
        withElementSize(type, [&](auto size) {
            constexpr std::size_t ES = decltype(size)::value;
            auto* a = static_cast<unsigned char*>(buffer);
            if (w == h) {
                transposeSquareInPlace<ES>(a, w);
                return;
            }
            // A scratch copy of the input; the transposition writes straight back.
            const std::size_t bytes = w * h * ES;
            std::unique_ptr<unsigned char, void (*)(void*)> scratch(
                static_cast<unsigned char*>(allocateResult(bytes, false)), std::free);
            if (!scratch)
                throw std::bad_alloc();
            std::memcpy(scratch.get(), a, bytes);
            transposeBlocked<ES>(
                scratch.get(), static_cast<Stride>(w * ES), a, static_cast<Stride>(h * ES), w, h);
        });
    });
}

VEXA_API void vexaMemSwapHorizontal(
    const void* source, int width, int height, int type, void* destination)
{
    if (!validArray(source, destination, width, height))
        return;
    withElement(type, [&](auto sample) {
        using T = decltype(sample);
        const std::size_t w = static_cast<std::size_t>(width);
        const T* src = static_cast<const T*>(source);
        T* dst = static_cast<T*>(destination);
        for (int y = 0; y < height; ++y, src += w, dst += w)
            std::reverse_copy(src, src + w, dst);
    });
}

VEXA_API void vexaMemSwapVertical(
    const void* source, int width, int height, int type, void* destination)
{
    if (!validArray(source, destination, width, height))
        return;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * elementSize(type);
    const auto* src = static_cast<const unsigned char*>(source);
    auto* dst = static_cast<unsigned char*>(destination);
    for (std::size_t y = 0, h = static_cast<std::size_t>(height); y < h; ++y)
        std::memcpy(dst + (h - 1 - y) * rowBytes, src + y * rowBytes, rowBytes);
}

VEXA_API void vexaMemRotate90(
    const void* source, int width, int height, int type, void* destination)
{
    if (!validArray(source, destination, width, height))
        return;
    quarterTurn(source, width, height, type, destination, false);
}

VEXA_API void vexaMemRotate180(
    const void* source, int width, int height, int type, void* destination)
{
    if (!validArray(source, destination, width, height))
        return;
    withElement(type, [&](auto sample) {
        using T = decltype(sample);
        const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        const T* src = static_cast<const T*>(source);
        std::reverse_copy(src, src + n, static_cast<T*>(destination));
    });
}

VEXA_API void vexaMemRotate270(
    const void* source, int width, int height, int type, void* destination)
{
    if (!validArray(source, destination, width, height))
        return;
    quarterTurn(source, width, height, type, destination, true);
}

VEXA_API void vexaMemRotateComputeDim(
    int width, int height, double angle, int* outWidth, int* outHeight)
{
    const double hw = width / 2.0;
    const double hh = height / 2.0;
    const double cornersX[4] = { -hw, hw, hw, -hw };
    const double cornersY[4] = { -hh, -hh, hh, hh };
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    double minX = std::numeric_limits<double>::infinity(), maxX = -minX;
    double minY = minX, maxY = -minX;
    for (int k = 0; k < 4; ++k) {
        double px = c * cornersX[k];
        px = px + s * cornersY[k];
        double py = -s * cornersX[k];
        py = py + c * cornersY[k];
        minX = std::min(minX, px);
        maxX = std::max(maxX, px);
        minY = std::min(minY, py);
        maxY = std::max(maxY, py);
    }
    // A non-finite angle or a size beyond int gives 0 rather than an undefined cast.
    auto toSize = [](double extent) {
        double n = std::ceil(extent) + 1.0;
        return n >= 0.0 && n <= static_cast<double>(std::numeric_limits<int>::max())
            ? static_cast<int>(n)
            : 0;
    };
    if (outWidth)
        *outWidth = toSize(maxX - minX);
    if (outHeight)
        *outHeight = toSize(maxY - minY);
}

VEXA_API void vexaMemRotate(
    const double* source, int width, int height, double* destination, double angle)
{
    if (!validArray(source, destination, width, height))
        return;
    int outWidth = 0, outHeight = 0;
    vexaMemRotateComputeDim(width, height, angle, &outWidth, &outHeight);
    const double cx = width / 2.0, cy = height / 2.0;
    const double ocx = outWidth / 2.0, ocy = outHeight / 2.0;
    const double c = std::cos(angle), s = std::sin(angle);
    const std::size_t w = static_cast<std::size_t>(width);
    for (int j = 0; j < outHeight; ++j) {
        const double dj = j - ocy;
        double* row
            = destination + static_cast<std::size_t>(j) * static_cast<std::size_t>(outWidth);
        for (int i = 0; i < outWidth; ++i) {
            const double di = i - ocx;
            double xs = c * di;
            xs = xs - s * dj;
            xs = std::floor(xs + cx + 0.5);
            double ys = s * di;
            ys = ys + c * dj;
            ys = std::floor(ys + cy + 0.5);
            // Compared as doubles first: a far coordinate must not reach an int cast.
            if (xs >= 0.0 && xs < width && ys >= 0.0 && ys < height)
                row[i] = source[static_cast<std::size_t>(ys) * w + static_cast<std::size_t>(xs)];
        }
    }
}

VEXA_API void vexaMemResize(
    const double* source, int width, int height, double* destination, int newWidth, int newHeight)
{
    if (!validArray(source, destination, width, height) || newWidth <= 0 || newHeight <= 0)
        return;
    const double rx = newWidth > 1 ? static_cast<double>(width - 1) / (newWidth - 1) : 0.0;
    const double ry = newHeight > 1 ? static_cast<double>(height - 1) / (newHeight - 1) : 0.0;
    vexa::guardedVoid([&] {
        std::vector<std::size_t> columns(static_cast<std::size_t>(newWidth));
        for (int i = 0; i < newWidth; ++i)
            columns[static_cast<std::size_t>(i)]
                = static_cast<std::size_t>(std::min<double>(std::floor(i * rx), width - 1));
        const std::size_t w = static_cast<std::size_t>(width);
        for (int j = 0; j < newHeight; ++j) {
            const std::size_t ys
                = static_cast<std::size_t>(std::min<double>(std::floor(j * ry), height - 1));
            const double* in = source + ys * w;
            double* out
                = destination + static_cast<std::size_t>(j) * static_cast<std::size_t>(newWidth);
            for (int i = 0; i < newWidth; ++i)
                out[i] = in[columns[static_cast<std::size_t>(i)]];
        }
    });
}

VEXA_API void vexaMemRoll(void* words, int count)
{
    if (!words || count <= 0)
        return;
    auto* w = static_cast<std::uint32_t*>(words);
    std::uint32_t first;
    std::memcpy(&first, w, sizeof first);
    std::memmove(w, w + 1, (static_cast<std::size_t>(count) - 1) * sizeof first);
    std::memcpy(w + count - 1, &first, sizeof first);
}

VEXA_API void vexaMemRolls(int arrayCount, int count, ...)
{
    va_list args;
    va_start(args, count);
    for (int k = 0; k < arrayCount; ++k)
        vexaMemRoll(va_arg(args, void*), count);
    va_end(args);
}

} // extern "C"
