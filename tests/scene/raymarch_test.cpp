// The processor's volume march without GL: what a ray sees, the two builds of the
// loop and the two sample formats agreeing, rays stopped by the opaque scene's depth,
// and input that must not crash it.
#include "scene/raymarch.h"
#include "scene/raymarchkernel.h"
#include "support/softball.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

using namespace vexa::scene;

namespace {

constexpr int kSide = 64; // viewport pixels

std::shared_ptr<Volume> solid(int n, std::array<std::uint8_t, 4> colour)
{
    auto v = std::make_shared<Volume>();
    v->nx = v->ny = v->nz = n;
    for (int i = 0; i < n * n * n; ++i)
        v->rgba.insert(v->rgba.end(), colour.begin(), colour.end());
    return v;
}

// The volume's box seen from eye, looking at its centre.
MarchFrame frameFrom(const Volume& v, Vec3 eye)
{
    const Vec3 centre { v.nx / 2.0, v.ny / 2.0, v.nz / 2.0 };
    const Box box { Vec3 { 0, 0, 0 }, Vec3 { double(v.nx), double(v.ny), double(v.nz) } };
    const auto frame = marchFrameOf(
        v, box, perspective(0.8, 1, 0.1, 1000), lookAt(eye, centre, { 0, 1, 0 }), kSide, kSide);
    EXPECT_TRUE(frame);
    return frame.value_or(MarchFrame {});
}

std::vector<std::uint8_t> march(const MarchVolume& v, const MarchFrame& frame, bool plain = false)
{
    const PixelRect whole { 0, 0, frame.width, frame.height };
    std::vector<std::uint8_t> out(std::size_t(frame.width) * std::size_t(frame.height) * 4, 7);
    const auto rows = marchkernel::rowsFunction(plain);
    rows(v, frame, whole, out.data(), 0, whole.height);
    return out;
}

const std::uint8_t* pixel(const std::vector<std::uint8_t>& image, int x, int y)
{
    return &image[(std::size_t(y) * kSide + std::size_t(x)) * 4];
}

} // namespace

TEST(ProcessorMarch, OpaqueCubeShowsItsColourInsideItsOutlineOnly)
{
    const auto volume = marchVolumeOf(*solid(8, { 200, 100, 50, 255 }));
    ASSERT_TRUE(volume);
    const MarchFrame frame = frameFrom(*solid(8, {}), { 4, 4, -20 });
    const PixelRect rect = marchedRect(*volume, frame);
    EXPECT_GT(rect.width, 0);
    EXPECT_LT(rect.width, kSide);
    EXPECT_LE(rect.x, kSide / 2);
    EXPECT_GT(rect.x + rect.width, kSide / 2);

    const auto image = march(*volume, frame);
    const std::uint8_t* middle = pixel(image, kSide / 2, kSide / 2);
    EXPECT_EQ(middle[0], 200);
    EXPECT_EQ(middle[1], 100);
    EXPECT_EQ(middle[2], 50);
    EXPECT_EQ(middle[3], 255);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(pixel(image, 0, 0)[c], 0); // missed rays are cleared, not left alone
}

TEST(ProcessorMarch, BuildsAndSampleFormatsAgree)
{
    // A soft ball, as floats through a transfer function and as the same density
    // classified into bytes, seen obliquely so that no sample grid lines up.
    const auto [floats, bytes] = vexatest::softBall(
        24, { { 0, 0, 0, 0, 0 }, { 0.5, 0.2, 0.4, 1, 0.1 }, { 1, 1, 0.9, 0.6, 0.5 } });
    ASSERT_TRUE(floats);
    const MarchFrame frame = frameFrom(*bytes, { -20, 31, -35 });
    const auto fromBytes = marchVolumeOf(*bytes), fromFloats = marchVolumeOf(*floats);
    ASSERT_TRUE(fromBytes && fromFloats);

    const auto wide = march(*fromBytes, frame), plain = march(*fromBytes, frame, true);
    const auto viaTable = march(*fromFloats, frame);
    int widest = 0;
    double formats = 0;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        widest = std::max(widest, std::abs(int(wide[i]) - int(plain[i])));
        formats += std::abs(int(wide[i]) - int(viaTable[i]));
    }
    EXPECT_LE(widest, 2);
    EXPECT_LT(formats / double(wide.size()), 1.5);
    const std::uint8_t* middle = pixel(wide, kSide / 2, kSide / 2);
    EXPECT_GT(middle[3], 200);
    EXPECT_GT(middle[2], middle[0]);
}

TEST(ProcessorMarch, OpaqueDepthStopsTheRays)
{
    // Translucent red haze: the farther a ray goes, the more it gathers.
    const auto haze = solid(16, { 255, 0, 0, 40 });
    const auto volume = marchVolumeOf(*haze);
    ASSERT_TRUE(volume);
    MarchFrame frame = frameFrom(*haze, { 8, 8, -30 });
    const auto open = march(*volume, frame);

    // An opaque surface half way through the box: its window depth at every pixel.
    const Mat4 projection = perspective(0.8, 1, 0.1, 1000);
    const Vec3 onSurface
        = transformPoint(projection * lookAt({ 8, 8, -30 }, { 8, 8, 8 }, { 0, 1, 0 }), { 8, 8, 8 });
    std::vector<float> depth(std::size_t(kSide) * kSide, float(onSurface.z * 0.5 + 0.5));
    frame.depth = depth.data();
    const auto stopped = march(*volume, frame);
    const int o = pixel(open, kSide / 2, kSide / 2)[3], s = pixel(stopped, kSide / 2, kSide / 2)[3];
    EXPECT_GT(s, 20);
    EXPECT_LT(s, o - 20);
}

TEST(ProcessorMarch, RefusesMismatchedSamplesAndSurvivesBrokenFrames)
{
    auto broken = solid(4, { 1, 2, 3, 4 });
    broken->rgba.pop_back();
    EXPECT_EQ(marchVolumeOf(*broken), nullptr);
    auto empty = std::make_shared<Volume>();
    EXPECT_EQ(marchVolumeOf(*empty), nullptr);

    const auto volume = marchVolumeOf(*solid(4, { 255, 255, 255, 255 }));
    ASSERT_TRUE(volume);
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    MarchFrame frame = frameFrom(*solid(4, {}), { 2, 2, -10 });
    frame.eye = { kNaN, 0, 0 };
    for (std::uint8_t byte : march(*volume, frame))
        EXPECT_EQ(byte, 0);
    frame = frameFrom(*solid(4, {}), { 2, 2, -10 });
    frame.clipToVoxel[0] = kNaN;
    EXPECT_EQ(marchedRect(*volume, frame).width, kSide); // cannot be bounded: all of it
    march(*volume, frame);
    // From inside the box the rays start at the eye.
    frame = frameFrom(*solid(4, {}), { 2, 2, 1 });
    EXPECT_EQ(pixel(march(*volume, frame), kSide / 2, kSide / 2)[3], 255);
}
