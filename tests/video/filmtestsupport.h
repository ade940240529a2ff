// Films made for the tests: a colour gradient with a white square that moves by 6
// pixels a frame, so that frames differ and a flipped or channel-swapped reader shows.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace vexatest {

inline std::vector<std::uint8_t> testFrame(int width, int height, int n)
{
    std::vector<std::uint8_t> rgba(std::size_t(width) * std::size_t(height) * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &rgba[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4];
            const bool square = x >= 6 * n && x < 6 * n + 40 && y >= 40 && y < 80;
            p[0] = square ? 255 : std::uint8_t(x * 255 / width);
            p[1] = square ? 255 : std::uint8_t(y * 255 / height);
            p[2] = square ? 255 : 64;
            p[3] = 255;
        }
    return rgba;
}

// Mean absolute difference of the red, green and blue samples.
inline double meanDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (i % 4 != 3)
            sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size() / 4 * 3);
}

} // namespace vexatest
