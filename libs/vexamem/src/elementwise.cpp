// vexaMemOp: pastes or combines a rectangle of one array into another. Rows are
// converted one at a time straight between the arrays; the results are those of
// extracting, converting and pasting whole rectangles, without the big buffers.
#include "vexamem.h"
#include "vexamem_internal.hpp"

#include "vexa_guard.hpp"

#include <cstdint>
#include <cstring>
#include <vector>

namespace vexamem {
namespace {

struct Rect {
    const unsigned char* base;
    std::size_t stride; // bytes per row of the whole array
    std::size_t es;
    std::size_t x, y;

    std::size_t offset(std::size_t row) const { return (y + row) * stride + x * es; }
};

// The rectangle must lie inside its array; a call that would reach outside it is
// refused rather than left to corrupt memory.
bool fits(int arrayWidth, int arrayHeight, int x, int y, int width, int height)
{
    return x >= 0 && y >= 0 && std::int64_t { x } + width <= arrayWidth
        && std::int64_t { y } + height <= arrayHeight;
}

void combineRow(int operation, const double* s, double* d, std::size_t n)
{
    switch (operation) {
    case VEXAMEM_OP_ADD:
        for (std::size_t i = 0; i < n; ++i)
            d[i] = d[i] + s[i];
        break;
    case VEXAMEM_OP_MULTIPLY:
        for (std::size_t i = 0; i < n; ++i)
            d[i] = d[i] * s[i];
        break;
    case VEXAMEM_OP_MIN:
        for (std::size_t i = 0; i < n; ++i)
            d[i] = s[i] < d[i] ? s[i] : d[i];
        break;
    case VEXAMEM_OP_MAX:
        for (std::size_t i = 0; i < n; ++i)
            d[i] = d[i] > s[i] ? d[i] : s[i];
        break;
    default:
        // Unknown codes paste the source.
        std::memcpy(d, s, n * sizeof(double));
        break;
    }
}

} // namespace
} // namespace vexamem

using namespace vexamem;

extern "C" {

VEXA_API void vexaMemOp(const void* source, int sourceType, int sourceWidth, int sourceHeight,
    int sourceX, int sourceY, int width, int height, void* destination, int destinationType,
    int destinationWidth, int destinationHeight, int destinationX, int destinationY, int operation)
{
    if (operation == VEXAMEM_OP_NONE || !source || !destination || width <= 0 || height <= 0)
        return;
    if (!fits(sourceWidth, sourceHeight, sourceX, sourceY, width, height)
        || !fits(destinationWidth, destinationHeight, destinationX, destinationY, width, height))
        return;

    const std::size_t n = static_cast<std::size_t>(width);
    const Rect src { static_cast<const unsigned char*>(source),
        static_cast<std::size_t>(sourceWidth) * elementSize(sourceType), elementSize(sourceType),
        static_cast<std::size_t>(sourceX), static_cast<std::size_t>(sourceY) };
    const Rect dst { static_cast<const unsigned char*>(destination),
        static_cast<std::size_t>(destinationWidth) * elementSize(destinationType),
        elementSize(destinationType), static_cast<std::size_t>(destinationX),
        static_cast<std::size_t>(destinationY) };
    auto* out = static_cast<unsigned char*>(destination);
    const auto rows = static_cast<std::size_t>(height);

    if (operation == VEXAMEM_OP_PASTE) {
        for (std::size_t j = 0; j < rows; ++j) {
            if (sourceType == destinationType)
                std::memmove(out + dst.offset(j), src.base + src.offset(j), n * src.es);
            else
                convertSamples(src.base + src.offset(j), n, 1.0, 0.0, sourceType, destinationType,
                    out + dst.offset(j));
        }
        return;
    }

    vexa::guardedVoid([&] {
        std::vector<double> s(n), d(n);
        for (std::size_t j = 0; j < rows; ++j) {
            convertSamples(
                src.base + src.offset(j), n, 1.0, 0.0, sourceType, TYPEDATA_F64, s.data());
            convertSamples(
                dst.base + dst.offset(j), n, 1.0, 0.0, destinationType, TYPEDATA_F64, d.data());
            combineRow(operation, s.data(), d.data(), n);
            convertSamples(
                d.data(), n, 1.0, 0.0, TYPEDATA_F64, destinationType, out + dst.offset(j));
        }
    });
}

} // extern "C"
