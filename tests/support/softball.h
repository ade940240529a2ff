// A soft ball of translucent voxels, densest at the centre: as floats looked up in a
// transfer function and as the same density classified beforehand into bytes, so
// that the two sample formats can be drawn side by side.
#pragma once

#include "scene/volume.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace vexatest {

struct SoftBall {
    std::shared_ptr<const vexa::scene::Volume> floats; // null when the ramp is refused
    std::shared_ptr<vexa::scene::Volume> bytes;
};

inline SoftBall softBall(int n, const std::vector<vexa::scene::TransferPoint>& ramp)
{
    const std::vector<std::uint8_t> table = vexa::scene::transferTable(ramp);
    std::vector<float> values;
    auto bytes = std::make_shared<vexa::scene::Volume>();
    bytes->nx = bytes->ny = bytes->nz = n;
    const double c = (n - 1) / 2.0;
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const double d = std::clamp(1 - std::hypot(x - c, y - c, z - c) / c, 0.0, 1.0);
                values.push_back(float(d));
                const std::uint8_t* entry = &table[std::size_t(std::lround(d * 255)) * 4];
                bytes->rgba.insert(bytes->rgba.end(), entry, entry + 4);
            }
    return { vexa::scene::volumeFromFloats(values.data(), n, n, n, ramp), bytes };
}

} // namespace vexatest
