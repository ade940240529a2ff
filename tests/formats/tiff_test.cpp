// TIFF through libtiff: the third-party sample files, crafted bad files and the writer.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include <tiffio.h>

#include "formats/formats.h"
#include "support/tempdir.h"
#include "vexa_types.h"

namespace vexa {
namespace {

const std::string kTiff = std::string(VEXA_TESTDATA_DIR) + "/tiff/";
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

#define REQUIRE_TESTDATA()                                                                         \
    do {                                                                                           \
        if (!std::filesystem::exists(kTiff))                                                       \
            GTEST_SKIP() << "no test data in " << kTiff;                                           \
    } while (0)

struct Loaded {
    bool ok = false;
    FormatHeader header;
    std::vector<uint8_t> samples;
    std::string reason;

    template <typename T> T at(std::size_t i) const
    {
        T v;
        std::memcpy(&v, samples.data() + i * sizeof(T), sizeof(T));
        return v;
    }
    // Sample i as a double; RGBA gives channel c of pixel i.
    double value(std::size_t i, int c = 0) const
    {
        switch (header.typeData) {
        case TYPEDATA_U8:
            return at<uint8_t>(i);
        case TYPEDATA_S8:
            return at<int8_t>(i);
        case TYPEDATA_U16:
            return at<uint16_t>(i);
        case TYPEDATA_S16:
            return at<int16_t>(i);
        case TYPEDATA_U32:
            return at<uint32_t>(i);
        case TYPEDATA_S32:
            return at<int32_t>(i);
        case TYPEDATA_F32:
            return at<float>(i);
        case TYPEDATA_F64:
            return at<double>(i);
        default:
            return samples[4 * i + std::size_t(c)];
        }
    }
    std::size_t count() const
    {
        return std::size_t(header.width) * std::size_t(header.height) * std::size_t(header.depth);
    }
};

Loaded load(const std::string& path)
{
    Loaded l;
    const FormatReader& reader = tiffLibraryReader();
    if (!reader.probe(path, l.header, &l.reason))
        return l;
    l.samples.resize(l.count() * std::size_t(vexaTypeSize(l.header.typeData)));
    l.ok = reader.read(path, l.header, l.samples.data(), &l.reason);
    return l;
}

struct Case {
    const char* file;
    int width, height, depth, type;
    std::array<double, 3> px; // px(0,0); RGB for colour
    double min = kNone, max = kNone, mean = kNone;
};

class TiffSample : public ::testing::TestWithParam<Case> { };

TEST_P(TiffSample, OpensWithTheKnownSizesAndValues)
{
    REQUIRE_TESTDATA();
    const Case& c = GetParam();
    const std::string path = kTiff + c.file;
    const FormatReader* claimed = formatReaderFor(path, formatHead(path));
    ASSERT_TRUE(claimed && std::string(claimed->name) == "TIFF") << path;
    const Loaded l = load(path);
    ASSERT_TRUE(l.ok) << l.reason;
    EXPECT_EQ(l.header.width, c.width);
    EXPECT_EQ(l.header.height, c.height);
    EXPECT_EQ(l.header.depth, c.depth);
    ASSERT_EQ(l.header.typeData, c.type);
    const int channels = c.type == TYPEDATA_RGBA ? 3 : 1;
    for (int ch = 0; ch < channels; ++ch)
        if (!std::isnan(c.px[std::size_t(ch)])) {
            EXPECT_NEAR(l.value(0, ch), c.px[std::size_t(ch)], 1e-5) << "channel " << ch;
        }
    double lo = INFINITY, hi = -INFINITY, sum = 0;
    for (std::size_t i = 0; i < l.count(); ++i)
        for (int ch = 0; ch < channels; ++ch) {
            const double v = l.value(i, ch);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            sum += v;
        }
    const double tolerance = std::max(1e-4, std::fabs(c.max) * 1e-5);
    if (!std::isnan(c.min)) {
        EXPECT_NEAR(lo, c.min, tolerance);
    }
    if (!std::isnan(c.max)) {
        EXPECT_NEAR(hi, c.max, tolerance);
    }
    if (!std::isnan(c.mean)) {
        EXPECT_NEAR(sum / double(l.count() * std::size_t(channels)), c.mean,
            std::max(1e-3, std::fabs(c.mean) * 1e-5));
    }
    if (c.type == TYPEDATA_RGBA && std::string(c.file).find("32bpp") == std::string::npos) {
        EXPECT_EQ(l.samples[3], 0) << "no alpha sample: alpha 0";
    }
}

const double N = kNone;
INSTANTIATE_TEST_SUITE_P(Files, TiffSample,
    ::testing::Values(Case { "libtiff-test/minisblack-1c-8b.tiff", 157, 151, 1, TYPEDATA_U8,
                          { 85, N, N }, 0, 229, 119.834 },
        Case { "libtiff-test/minisblack-1c-16b.tiff", 157, 151, 1, TYPEDATA_U16, { 21909, N, N }, 0,
            58955, 30924.5 },
        Case { "libtiff-test/palette-1c-8b.tiff", 157, 151, 1, TYPEDATA_RGBA, { N, N, N } },
        Case { "libtiff-test/rgb-3c-16b.tiff", 157, 151, 1, TYPEDATA_RGBA,
            { 41733 >> 8, 13385 >> 8, 13810 >> 8 } },
        Case { "libtiffpic/depth/flower-minisblack-08.tif", 73, 43, 1, TYPEDATA_U8, { 86, N, N }, 8,
            255, 92.9755 },
        Case { "libtiffpic/depth/flower-minisblack-16.tif", 73, 43, 1, TYPEDATA_U16,
            { 22203, N, N }, 2290, 65535, 24019.9 },
        Case { "libtiffpic/depth/flower-minisblack-32.tif", 73, 43, 1, TYPEDATA_U32,
            { 1455125979, N, N }, 150082050, 4294967295.0, 1.57422e9 },
        Case { "libtiffpic/depth/flower-minisblack-24.tif", 73, 43, 1, TYPEDATA_U32, { N, N, N } },
        Case { "libtiffpic/depth/flower-palette-08.tif", 73, 43, 1, TYPEDATA_RGBA, { N, N, N } },
        Case { "libtiffpic/depth/flower-rgb-contig-16.tif", 73, 43, 1, TYPEDATA_RGBA,
            { 22731 >> 8, 22693 >> 8, 18288 >> 8 } },
        Case { "libtiffpic/jim___cg.tif", 277, 339, 1, TYPEDATA_U8, { 26, N, N }, 8, 204, 68.2049 },
        Case {
            "libtiffpic/jim___dg.tif", 277, 339, 1, TYPEDATA_U8, { 231, N, N }, 0, 255, 176.265 },
        Case { "libtiffpic/pc260001.tif", 640, 480, 1, TYPEDATA_RGBA, { 60, 49, 53 }, 0, 255,
            73.8095 },
        Case { "libtiffpic/cramps-tile.tif", 800, 607, 1, TYPEDATA_U8, { N, N, N } },
        Case { "libtiff-test/32bpp-None.tiff", 162, 20, 1, TYPEDATA_RGBA, { N, N, N } },
        Case {
            "pillow/16_bit_noise.tif", 32, 32, 1, TYPEDATA_U16, { 235, N, N }, 106, 285, 178.906 },
        Case { "pillow/12in16bit.tif", 100, 100, 1, TYPEDATA_U16, { 8, N, N }, 0, 30 },
        Case { "pillow/uint16_1_4660.tif", 10, 10, 1, TYPEDATA_U16, { 4660, N, N }, 4660, 4660 },
        Case { "pillow/16bit.s.tif", 10, 10, 1, TYPEDATA_S16, { N, N, N }, 0, 32767 },
        Case { "pillow/8bit.s.tif", 128, 128, 1, TYPEDATA_S8, { 26, N, N }, -128, 127 },
        Case { "pillow/16_bit_binary_pgm.tiff", 20, 100, 1, TYPEDATA_S32, { 65535, N, N }, 0, 65535,
            32767.5 },
        Case { "pillow/10ct_32bit_128.tiff", 128, 128, 1, TYPEDATA_F32, { -0.452639, N, N },
            -3.14094, 3.14068 },
        Case { "pillow/hopper.tif", 128, 128, 1, TYPEDATA_RGBA, { 20, 21, 67 }, N, N, 88.3911 },
        Case { "pillow/tiff_strip_raw.tif", 278, 374, 1, TYPEDATA_RGBA, { N, N, N }, N, N, 161.78 },
        Case { "image-tiff/seq-1c-i8-f8446bbe.tiff", 16, 16, 1, TYPEDATA_S8, { -128, N, N }, -128,
            127 },
        Case { "image-tiff/seq-1c-i16-63af2488.tiff", 16, 16, 1, TYPEDATA_S16, { N, N, N }, -128,
            127 },
        Case { "image-tiff/seq-1c-i32-99fddec2.tiff", 16, 16, 1, TYPEDATA_S32, { N, N, N }, -128,
            127 },
        Case { "image-tiff/seq-1c-32f-390fe673.tiff", 16, 16, 1, TYPEDATA_F32, { N, N, N }, 0, 1,
            0.5 },
        Case { "image-tiff/gradient-1c-32b.tiff", 256, 1, 1, TYPEDATA_U32, { 3837672, N, N } },
        Case { "image-tiff/gradient-1c-32b-float.tiff", 256, 1, 1, TYPEDATA_F32, { N, N, N },
            0.000893528, 0.998265 },
        Case { "image-tiff/minisblack-1c-i16b.tiff", 157, 151, 1, TYPEDATA_S16, { -10859, N, N },
            -32767, 26186 },
        Case { "image-tiff/BigTIFFMotorola.tif", 64, 64, 1, TYPEDATA_RGBA, { N, N, N } }));

TEST(TiffLibraryReader, PagesOfDifferentSizesOpenOnlyTheFirst)
{
    REQUIRE_TESTDATA();
    // Two 10 x 10 pages, then a 20 x 20 one.
    const Loaded mixed = load(kTiff + "pillow/multipage.tiff");
    ASSERT_TRUE(mixed.ok) << mixed.reason;
    EXPECT_EQ(mixed.header.depth, 1);
    EXPECT_EQ(mixed.header.typeData, TYPEDATA_RGBA);
    EXPECT_NE(mixed.header.info.find("seule la première est lue"), std::string::npos);
}

// Files that hold the same pixels in other byte orders, layouts or compressions.
TEST(TiffLibraryReader, VariantsOfOneImageReadTheSame)
{
    REQUIRE_TESTDATA();
    const std::vector<std::vector<std::string>> groups = {
        { "pillow/16bit.cropped.tif", "pillow/16bit.MM.cropped.tif", "pillow/16bit.deflate.tif" },
        { "libtiffpic/depth/flower-rgb-contig-08.tif",
            "libtiffpic/depth/flower-rgb-planar-08.tif" },
        { "pillow/hopper.tif", "pillow/hopper_bigtiff.tif" },
        { "image-tiff/seq-1c-8b-multistrip-20f3db0c.tiff",
            "image-tiff/seq-1c-8b-bigendian-20f3db0c.tiff",
            "image-tiff/seq-1c-8b-lzw-20f3db0c.tiff", "image-tiff/seq-1c-8b-tiled-20f3db0c.tiff" },
        { "image-tiff/seq-1c-16b-bigendian-68f373a0.tiff",
            "image-tiff/seq-1c-16b-multistrip-68f373a0.tiff" },
        { "image-tiff/seq-3c-8b-multistrip-8743c999.tiff",
            "image-tiff/seq-3c-8b-bigendian-8743c999.tiff" },
    };
    for (const auto& group : groups) {
        const Loaded first = load(kTiff + group[0]);
        ASSERT_TRUE(first.ok) << first.reason;
        for (std::size_t i = 1; i < group.size(); ++i) {
            const Loaded other = load(kTiff + group[i]);
            ASSERT_TRUE(other.ok) << other.reason;
            EXPECT_EQ(other.header.typeData, first.header.typeData) << group[i];
            EXPECT_EQ(other.samples, first.samples) << group[i];
        }
    }
    const Loaded seq = load(kTiff + "image-tiff/seq-1c-16b-multistrip-68f373a0.tiff");
    for (std::size_t i = 0; i < seq.count(); ++i)
        ASSERT_EQ(seq.value(i), double(i)) << "value(x, y) = y * 16 + x";
    const Loaded rgb = load(kTiff + "image-tiff/seq-3c-8b-multistrip-8743c999.tiff");
    EXPECT_EQ(rgb.value(255, 0), 253);
    EXPECT_EQ(rgb.value(255, 2), 255);
}

// The samples of the PNM twins given with the libtiff samples: the last n bytes.
std::vector<uint8_t> pnmData(const std::string& path, std::size_t n)
{
    std::ifstream in(path, std::ios::binary);
    const std::string all(std::istreambuf_iterator<char>(in), {});
    return all.size() < n ? std::vector<uint8_t>()
                          : std::vector<uint8_t>(all.end() - std::ptrdiff_t(n), all.end());
}

TEST(TiffLibraryReader, MatchesThePnmTwins)
{
    REQUIRE_TESTDATA();
    // Bilevel: black 0, white 255 whatever the photometric; PBM stores black as 1.
    const Loaded bw = load(kTiff + "libtiff-test/miniswhite-1c-1b.tiff");
    ASSERT_TRUE(bw.ok) << bw.reason;
    ASSERT_EQ(bw.header.typeData, TYPEDATA_U8);
    const int rowBytes = (bw.header.width + 7) / 8;
    const std::vector<uint8_t> pbm = pnmData(
        kTiff + "libtiff-test/miniswhite-1c-1b.pbm", std::size_t(rowBytes * bw.header.height));
    ASSERT_FALSE(pbm.empty());
    for (int y = 0; y < bw.header.height; ++y)
        for (int x = 0; x < bw.header.width; ++x) {
            const bool black = (pbm[std::size_t(y * rowBytes + x / 8)] >> (7 - x % 8)) & 1;
            ASSERT_EQ(bw.value(std::size_t(y * bw.header.width + x)), black ? 0 : 255);
        }
    for (const char* name : { "rgb-3c-8b", "rgb-3c-16b" }) {
        const Loaded rgb = load(kTiff + "libtiff-test/" + name + ".tiff");
        ASSERT_TRUE(rgb.ok) << rgb.reason;
        const std::size_t bytes = std::string(name).find("16b") != std::string::npos ? 2 : 1;
        // Big-endian 16-bit samples: the first byte is the high one.
        const std::vector<uint8_t> ppm
            = pnmData(kTiff + "libtiff-test/" + name + ".ppm", rgb.count() * 3 * bytes);
        ASSERT_FALSE(ppm.empty());
        for (std::size_t i = 0; i < rgb.count() * 3; ++i)
            ASSERT_EQ(rgb.samples[i / 3 * 4 + i % 3], ppm[i * bytes]) << name << " sample " << i;
    }
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(TiffLibraryReader, RefusesEveryTruncationWithAReason)
{
    REQUIRE_TESTDATA();
    vexatest::TempDir dir;
    const std::string whole = slurp(kTiff + "image-tiff/seq-1c-8b-lzw-20f3db0c.tiff");
    const std::string cut = dir.file("cut.tif");
    for (std::size_t n = 0; n < whole.size(); ++n) {
        spit(cut, whole.substr(0, n));
        const Loaded l = load(cut);
        if (!l.ok) {
            EXPECT_EQ(l.reason.rfind(cut + " : ", 0), 0u) << n << ": " << l.reason;
        }
    }
}

TEST(TiffLibraryReader, RefusesSizesTheFileCannotHold)
{
    vexatest::TempDir dir;
    // Little-endian, one IFD at 8: 100000 x 100000 8-bit grey in one 16-byte strip.
    std::string t("II*\0\x08\0\0\0", 8);
    auto u16 = [&](int v) { t += char(v & 255), t += char(v >> 8); };
    auto u32 = [&](uint32_t v) { u16(int(v & 0xFFFF)), u16(int(v >> 16)); };
    auto entry = [&](int tag, int type, uint32_t value) {
        u16(tag), u16(type), u32(1);
        if (type == 3)
            u16(int(value)), u16(0);
        else
            u32(value);
    };
    u16(6);
    entry(256, 4, 100000);
    entry(257, 4, 100000);
    entry(258, 3, 8);
    entry(262, 3, 1);
    entry(273, 4, 100);
    entry(279, 4, 16);
    u32(0);
    t.resize(116, '\0');
    const std::string path = dir.file("huge.tif");
    spit(path, t);
    FormatHeader header;
    std::string reason;
    EXPECT_FALSE(tiffLibraryReader().probe(path, header, &reason));
    EXPECT_EQ(reason, path + " : taille annoncée hors de proportion avec le fichier");
    EXPECT_FALSE(tiffLibraryReader().probe(dir.file("absent.tif"), header, &reason));
    EXPECT_NE(reason.find("introuvable"), std::string::npos) << reason;
}

// Layouts and codecs the sample set lacks, written with libtiff itself: tiled PackBits
// pages of separate RGB planes, and JPEG-compressed YCbCr strips.
TEST(TiffLibraryReader, ReadsTiledPlanesAndJpeg)
{
    vexatest::TempDir dir;
    const uint32_t w = 40, h = 24;
    const std::string tiled = dir.file("tiled.tif"), jpeg = dir.file("jpeg.tif");
    TIFF* t = TIFFOpen(tiled.c_str(), "w");
    ASSERT_NE(t, nullptr);
    for (int page = 0; page < 2; ++page) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
        TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
        std::vector<uint8_t> tile(16 * 16);
        for (uint16_t s = 0; s < 3; ++s)
            for (uint32_t ty = 0; ty < h; ty += 16)
                for (uint32_t tx = 0; tx < w; tx += 16) {
                    for (uint32_t i = 0; i < 256; ++i)
                        tile[i] = uint8_t((tx + i % 16) + 2 * (ty + i / 16) + 50 * s + 7 * page);
                    TIFFWriteTile(t, tile.data(), tx, ty, 0, s);
                }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    const Loaded l = load(tiled);
    ASSERT_TRUE(l.ok) << l.reason;
    ASSERT_EQ(l.header.depth, 2);
    for (std::size_t z = 0, i = 0; z < 2; ++z)
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x, ++i)
                for (int s = 0; s < 3; ++s)
                    ASSERT_EQ(l.value(i, s), uint8_t(x + 2 * y + 50 * s + 7 * z)) << x << "," << y;

    t = TIFFOpen(jpeg.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TIFFSetField(t, TIFFTAG_JPEGQUALITY, 95);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<uint8_t> row(w * 3);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x)
            row[3 * x] = 200, row[3 * x + 1] = 40, row[3 * x + 2] = uint8_t(60 + y);
        TIFFWriteScanline(t, row.data(), y, 0);
    }
    TIFFClose(t);
    const Loaded j = load(jpeg);
    ASSERT_TRUE(j.ok) << j.reason;
    ASSERT_EQ(j.header.typeData, TYPEDATA_RGBA);
    EXPECT_NEAR(j.value(0, 0), 200, 6);
    EXPECT_NEAR(j.value(0, 1), 40, 6);
    EXPECT_NEAR(j.value(w * (h - 1), 2), 60 + h - 1, 6);
}

// A block of every type whose bytes all differ from their neighbours (floats kept
// finite), through the writer and back.
std::vector<uint8_t> patternBlock(int type, std::size_t count)
{
    std::vector<uint8_t> bytes(count * std::size_t(vexaTypeSize(type)));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 37 + 11 + i / 7);
    if (type == TYPEDATA_F32 || type == TYPEDATA_F64)
        for (std::size_t i = 0; i < count; ++i) {
            const double v = (double(i) - 7.25) * 1.5e3;
            if (type == TYPEDATA_F32) {
                const float f = float(v);
                std::memcpy(&bytes[i * 4], &f, 4);
            } else {
                std::memcpy(&bytes[i * 8], &v, 8);
            }
        }
    return bytes;
}

TEST(TiffWriter, RoundTripsEveryTypeAsImageAndVolume)
{
    vexatest::TempDir dir;
    for (int type : vexaTypeListOrder)
        for (int depth : { 1, 3 }) {
            const int w = 5, h = 3;
            const std::vector<uint8_t> data = patternBlock(type, std::size_t(w * h * depth));
            FormatBlockView block;
            block.width = w, block.height = h, block.depth = depth, block.typeData = type;
            block.samples = data.data();
            const std::string path = dir.file("out.tif");
            ASSERT_EQ(std::string(formatWriterFor(path)->name), "TIFF");
            std::string reason;
            ASSERT_TRUE(tiffWriter().write(path, block, &reason)) << reason;
            const Loaded l = load(path);
            ASSERT_TRUE(l.ok) << l.reason;
            EXPECT_EQ(l.header.width, w);
            EXPECT_EQ(l.header.height, h);
            EXPECT_EQ(l.header.depth, depth);
            EXPECT_EQ(l.header.typeData, type);
            EXPECT_EQ(l.samples, data) << "type " << type << " depth " << depth;
        }
}

TEST(TiffWriter, FailureLeavesTheOldFile)
{
    vexatest::TempDir dir;
    const std::string path = dir.file("keep.tif");
    spit(path, "old");
    FormatBlockView bad; // no samples
    bad.width = bad.height = 2, bad.typeData = TYPEDATA_U8;
    std::string reason;
    EXPECT_FALSE(tiffWriter().write(path, bad, &reason));
    EXPECT_EQ(reason.rfind(path + " : ", 0), 0u);
    EXPECT_EQ(slurp(path), "old");
    const uint8_t pixel = 1;
    bad.samples = &pixel;
    bad.width = bad.height = 1;
    EXPECT_FALSE(tiffWriter().write(dir.file("no/such/folder.tif"), bad, &reason));
    EXPECT_NE(reason.find("introuvable"), std::string::npos) << reason;
}

} // namespace
} // namespace vexa
