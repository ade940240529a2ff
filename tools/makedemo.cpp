// Writes a synthetic seismic-like cube for the workstation's demo: layered reflectors
// folded into an anticline, a strong horizon, and a normal fault that offsets every
// layer. The volume is written as <base>_xy.gdr with its companion files
// <base>_xz.gdr (FRONT y = TOP section y) and <base>_yz.gdr (FRONT k = RIGHT section
// dimX - 1 - k), so that sections along all three axes read as whole planes.
#include "vexa_types.h"
#include "vexafile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kDimX = 256; // inline
constexpr int kDimY = 200; // time, downwards
constexpr int kDimZ = 160; // crossline

// Depth of the reference horizon at (x, z): a dome with a gentle regional dip.
double horizonDepth(double x, double z)
{
    const double dx = (x - 110.0) / 90.0, dz = (z - 80.0) / 70.0;
    return 70.0 + 0.12 * x - 28.0 * std::exp(-(dx * dx + dz * dz));
}

// The fault: a plane dipping towards +x; the hanging wall (beyond it) drops by its throw.
bool beyondFault(double x, double y, double z)
{
    return x > 160.0 + 0.35 * (y - 100.0) + 0.15 * (z - 80.0);
}

std::uint8_t sample(int x, int y, int z)
{
    const double throw_ = beyondFault(x, y, z) ? 14.0 : 0.0;
    const double t = y - throw_ - horizonDepth(x, z);
    // Layers parallel to the horizon, with a thin bright horizon and a Ricker-like wavelet.
    double amplitude = 0.55 * std::sin(t * 0.55) * std::exp(-std::fabs(t) * 0.004);
    amplitude += 0.25 * std::sin(t * 1.3 + 0.02 * x);
    const double horizon = t / 2.5;
    amplitude += 0.9 * (1.0 - 2.0 * horizon * horizon) * std::exp(-horizon * horizon);
    // Deterministic texture so that it does not look computed.
    const std::uint32_t h = std::uint32_t(x * 73856093u) ^ std::uint32_t(y * 19349663u)
        ^ std::uint32_t(z * 83492791u);
    amplitude += ((h % 1000u) / 1000.0 - 0.5) * 0.12;
    const double level = 128.0 + 100.0 * amplitude;
    return std::uint8_t(level < 0 ? 0 : level > 255 ? 255 : level);
}

bool writeVolume(
    const std::string& path, int w, int h, int d, const std::vector<std::uint8_t>& data)
{
    FileDescriptor* desc = vexaFileNew();
    vexaFileSetFullName(desc, path.c_str());
    vexaFileSetSizes(desc, w, h, d);
    vexaFileSetTypeData(desc, TYPEDATA_U8);
    vexaFileSetNbBits(desc, 8);
    vexaFileSetHeader(desc, 1);
    bool ok = vexaFileWriteHeader(desc) == 1;
    for (int k = 0; ok && k < d; ++k)
        ok = vexaFileWriteImage(desc, data.data() + std::size_t(k) * w * h, 0, k) == 1;
    vexaFileRelease(desc);
    if (!ok)
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <base path>\n", argv[0]);
        return 2;
    }
    const std::string base = argv[1];
    std::vector<std::uint8_t> cube(std::size_t(kDimX) * kDimY * kDimZ);
    for (int z = 0; z < kDimZ; ++z)
        for (int y = 0; y < kDimY; ++y)
            for (int x = 0; x < kDimX; ++x)
                cube[(std::size_t(z) * kDimY + y) * kDimX + x] = sample(x, y, z);
    auto at = [&](int x, int y, int z) { return cube[(std::size_t(z) * kDimY + y) * kDimX + x]; };

    // x-z companion: plane y holds the TOP section y, rows from the last z to the first.
    std::vector<std::uint8_t> top(cube.size());
    for (int y = 0; y < kDimY; ++y)
        for (int r = 0; r < kDimZ; ++r)
            for (int c = 0; c < kDimX; ++c)
                top[(std::size_t(y) * kDimZ + r) * kDimX + c] = at(c, y, kDimZ - 1 - r);
    // y-z companion: plane k holds the RIGHT section x = dimX - 1 - k, columns along z.
    std::vector<std::uint8_t> right(cube.size());
    for (int k = 0; k < kDimX; ++k)
        for (int r = 0; r < kDimY; ++r)
            for (int c = 0; c < kDimZ; ++c)
                right[(std::size_t(k) * kDimY + r) * kDimZ + c] = at(kDimX - 1 - k, r, c);

    const bool ok = writeVolume(base + "_xy.gdr", kDimX, kDimY, kDimZ, cube)
        && writeVolume(base + "_xz.gdr", kDimX, kDimZ, kDimY, top)
        && writeVolume(base + "_yz.gdr", kDimZ, kDimY, kDimX, right);
    return ok ? 0 : 1;
}
