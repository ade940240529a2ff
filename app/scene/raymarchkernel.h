// The march of a volume's rows of pixels, in one build per instruction set.
#pragma once

#include "scene/raymarch.h"

#include <cstdint>

namespace vexa::scene::marchkernel {

struct Homogeneous {
    double x, y, z, w;
};

inline Homogeneous apply(const Mat4& m, double x, double y, double z, double w)
{
    return { m[0] * x + m[4] * y + m[8] * z + m[12] * w, m[1] * x + m[5] * y + m[9] * z + m[13] * w,
        m[2] * x + m[6] * y + m[10] * z + m[14] * w, m[3] * x + m[7] * y + m[11] * z + m[15] * w };
}

// Rows [firstRow, endRow) of rect into out, as marchVolume does.
using RowsFn = void (*)(const MarchVolume& volume, const MarchFrame& frame, PixelRect rect,
    std::uint8_t* out, int firstRow, int endRow);

namespace generic {
void marchRows(const MarchVolume& volume, const MarchFrame& frame, PixelRect rect,
    std::uint8_t* out, int firstRow, int endRow);
}
namespace avx2 {
void marchRows(const MarchVolume& volume, const MarchFrame& frame, PixelRect rect,
    std::uint8_t* out, int firstRow, int endRow);
}

// The widest build this processor runs, or the plain one when asked or when
// VEXA_MARCH_ISA=generic is in the environment: both can be checked on one machine.
RowsFn rowsFunction(bool plainOnly = false);

} // namespace vexa::scene::marchkernel
