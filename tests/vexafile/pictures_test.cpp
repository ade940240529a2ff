// Picture files and TIFF files from the third-party sample set, and crafted ones.
#include "vexafile_test_util.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using namespace vexafile_test;

namespace {

const std::string kData = VEXA_TESTDATA_DIR;

#define REQUIRE_TESTDATA()                                                                         \
    do {                                                                                           \
        if (!std::filesystem::exists(kData))                                                       \
            GTEST_SKIP() << "no test data in " << kData;                                           \
    } while (0)

struct Opened {
    Desc desc;
    int ok = 0;
};

Opened openSample(const std::string& rel)
{
    Opened o;
    o.desc = openDesc(kData + "/" + rel);
    if (o.desc)
        o.ok = vexaFileReadHeader(o.desc.get());
    return o;
}

template <typename T> double meanOf(const Buffer& b, size_t n)
{
    double s = 0;
    for (size_t i = 0; i < n; ++i)
        s += double(as<T>(b)[i]);
    return s / double(n);
}

} // namespace

TEST(VexaFileTiff, BigEndianAndMultiStripFilesReadTheirPixels)
{
    REQUIRE_TESTDATA();
    {
        Opened o = openSample("tiff/libtiff-test/minisblack-1c-8b.tiff");
        ASSERT_EQ(o.ok, 1);
        EXPECT_EQ(vexaFileGetTypeData(o.desc.get()), TYPEDATA_U8);
        EXPECT_EQ(vexaFileGetEndian(o.desc.get()), 1);
        EXPECT_EQ(vexaFileGetDimX(o.desc.get()), 157);
        EXPECT_EQ(vexaFileGetDimY(o.desc.get()), 151);
        Buffer img(vexaFileReadImage(o.desc.get(), 0, 0));
        ASSERT_TRUE(img);
        EXPECT_EQ(as<unsigned char>(img)[0], 85);
        EXPECT_NEAR(meanOf<unsigned char>(img, 157 * 151), 119.834, 1e-3);
        // Pixel-identical to the PGM decoded as a picture.
        Opened pgm = openSample("tiff/libtiff-test/minisblack-1c-8b.pgm");
        ASSERT_EQ(pgm.ok, 1);
        EXPECT_EQ(vexaFileGetTypeData(pgm.desc.get()), TYPEDATA_U8);
        Buffer p(vexaFileReadImage(pgm.desc.get(), 0, 0));
        ASSERT_TRUE(p);
        EXPECT_EQ(std::memcmp(p.get(), img.get(), 157 * 151), 0);
    }
    {
        Opened o = openSample("tiff/libtiff-test/minisblack-1c-16b.tiff");
        ASSERT_EQ(o.ok, 1);
        EXPECT_EQ(vexaFileGetTypeData(o.desc.get()), TYPEDATA_U16);
        Buffer img(vexaFileReadImage(o.desc.get(), 0, 0));
        ASSERT_TRUE(img);
        EXPECT_EQ(as<uint16_t>(img)[0], 21909);
        EXPECT_EQ(as<uint16_t>(img)[157 * 151 - 1], 49003);
        EXPECT_NEAR(meanOf<uint16_t>(img, 157 * 151), 30924.5, 0.1);
    }
    {
        Opened o = openSample("tiff/libtiffpic/depth/flower-minisblack-32.tif");
        ASSERT_EQ(o.ok, 1);
        EXPECT_EQ(vexaFileGetTypeData(o.desc.get()), TYPEDATA_U32);
        Buffer img(vexaFileReadImage(o.desc.get(), 0, 0));
        ASSERT_TRUE(img);
        EXPECT_EQ(as<uint32_t>(img)[0], 1455125979u);
        EXPECT_EQ(as<uint32_t>(img)[73 * 43 - 1], 1152407765u);
        // A box and the other orientations go through the same decoded image.
        Buffer box(vexaFileReadBlockPart(o.desc.get(), 1, 0, 42, 72, 1, 1, 1));
        ASSERT_TRUE(box);
        EXPECT_EQ(as<uint32_t>(box)[0], 1152407765u);
    }
}

TEST(VexaFileTiff, ByteOrderPairsAndSampleFormats)
{
    REQUIRE_TESTDATA();
    Opened le = openSample("tiff/pillow/16bit.cropped.tif");
    Opened be = openSample("tiff/pillow/16bit.MM.cropped.tif");
    ASSERT_EQ(le.ok, 1);
    ASSERT_EQ(be.ok, 1);
    Buffer a(vexaFileReadImage(le.desc.get(), 0, 0)), b(vexaFileReadImage(be.desc.get(), 0, 0));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(as<uint16_t>(a)[0], 480);
    EXPECT_EQ(std::memcmp(a.get(), b.get(), 64 * 64 * 2), 0);

    for (const char* name : { "tiff/image-tiff/seq-1c-8b-multistrip-20f3db0c.tiff",
             "tiff/image-tiff/seq-1c-8b-bigendian-20f3db0c.tiff" }) {
        Opened o = openSample(name);
        ASSERT_EQ(o.ok, 1) << name;
        Buffer img(vexaFileReadImage(o.desc.get(), 0, 0));
        ASSERT_TRUE(img);
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(as<unsigned char>(img)[i], i) << name;
    }
    Opened s16 = openSample("tiff/image-tiff/minisblack-1c-i16b.tiff");
    ASSERT_EQ(s16.ok, 1);
    EXPECT_EQ(vexaFileGetTypeData(s16.desc.get()), TYPEDATA_S16);
    Buffer si(vexaFileReadImage(s16.desc.get(), 0, 0));
    EXPECT_EQ(as<int16_t>(si)[0], -10859);

    Opened f32 = openSample("tiff/pillow/10ct_32bit_128.tiff");
    ASSERT_EQ(f32.ok, 1);
    EXPECT_EQ(vexaFileGetTypeData(f32.desc.get()), TYPEDATA_F32);
    Buffer fi(vexaFileReadImage(f32.desc.get(), 0, 0));
    EXPECT_NEAR(as<float>(fi)[0], -0.452639, 1e-6);

    Opened s8 = openSample("tiff/pillow/8bit.s.tif");
    ASSERT_EQ(s8.ok, 1);
    EXPECT_EQ(vexaFileGetTypeData(s8.desc.get()), TYPEDATA_S8);
    Buffer s8i(vexaFileReadImage(s8.desc.get(), 0, 0));
    EXPECT_EQ(as<signed char>(s8i)[0], 26);
}

TEST(VexaFileTiff, CompressedTiledPlanarAndColourFilesAreRefused)
{
    REQUIRE_TESTDATA();
    for (const char* name :
        { "tiff/pillow/16bit.deflate.tif", "tiff/image-tiff/seq-1c-8b-lzw-20f3db0c.tiff",
            "tiff/image-tiff/seq-1c-8b-tiled-20f3db0c.tiff", "tiff/libtiffpic/cramps-tile.tif",
            "tiff/libtiffpic/depth/flower-rgb-planar-08.tif", "tiff/libtiff-test/rgb-3c-8b.tiff",
            "tiff/libtiff-test/miniswhite-1c-1b.tiff", "tiff/pillow/hopper_bigtiff.tif",
            "tiff/image-tiff/BigTIFFMotorola.tif",
            "tiff/libtiffpic/depth/flower-minisblack-24.tif" }) {
        Opened o = openSample(name);
        ASSERT_TRUE(o.desc) << name;
        EXPECT_EQ(o.ok, 0) << name;
    }
}

TEST(VexaFileTiff, EveryTruncationFailsCleanly)
{
    REQUIRE_TESTDATA();
    TempDir dir;
    Bytes full = readBytes(kData + "/tiff/image-tiff/seq-1c-16b-bigendian-68f373a0.tiff");
    ASSERT_FALSE(full.empty());
    Desc whole = openDesc(kData + "/tiff/image-tiff/seq-1c-16b-bigendian-68f373a0.tiff");
    ASSERT_EQ(vexaFileReadHeader(whole.get()), 1);
    Buffer want(vexaFileReadImage(whole.get(), 0, 0));
    ASSERT_TRUE(want);
    forEachTruncation(dir, full, [&](const std::string& cut, size_t n) {
        Desc d = openDesc(cut);
        if (vexaFileReadHeader(d.get())) {
            // Only bytes after the directory and the strips may be missing.
            Buffer img(vexaFileReadImage(d.get(), 0, 0));
            ASSERT_TRUE(img) << n;
            EXPECT_EQ(std::memcmp(img.get(), want.get(), 16 * 16 * 2), 0) << n;
        }
    });
}

TEST(VexaFileTiff, DirectoryOutsideTheFileIsRefused)
{
    TempDir dir;
    std::string path = dir.file("bad.tif");
    // Little-endian header whose directory offset points far past the end.
    writeBytes(path, { 'I', 'I', 0x2A, 0, 0xF0, 0xFF, 0xFF, 0x7F, 0, 0 });
    Desc d = openDesc(path);
    EXPECT_EQ(vexaFileReadHeader(d.get()), 0);
    // One entry: width, then a strip offset list running beyond the file.
    Bytes b = { 'I', 'I', 0x2A, 0, 8, 0, 0, 0, 4, 0, 0, 1, 3, 0, 1, 0, 0, 0, 4, 0, 0, 0, // width 4
        1, 1, 3, 0, 1, 0, 0, 0, 4, 0, 0, 0, // height 4
        2, 1, 3, 0, 1, 0, 0, 0, 8, 0, 0, 0, // 8 bits
        0x11, 1, 4, 0, 200, 0, 0, 0, 100, 0, 0, 0 }; // 200 offsets at 100
    writeBytes(path, b);
    Desc e = openDesc(path);
    EXPECT_EQ(vexaFileReadHeader(e.get()), 0);
}

TEST(VexaFilePicture, ACanvasTheFileCannotFillIsRefusedBeforeDecoding)
{
    TempDir dir;
    std::string path = dir.file("vaste.gif");
    // A GIF screen of 16000 x 16000 in 13 bytes: decoding would clear a 1 GB canvas.
    writeBytes(path, { 'G', 'I', 'F', '8', '9', 'a', 0x80, 0x3E, 0x80, 0x3E, 0, 0, 0 });
    Desc d = openDesc(path);
    EXPECT_EQ(vexaFileReadHeader(d.get()), 0);
}

TEST(VexaFilePicture, BmpAndPngGiveTheSameSamples)
{
    REQUIRE_TESTDATA();
    const std::string suite = "bmp/bmpsuite/";
    Opened bmp = openSample(suite + "g/pal8.bmp");
    Opened png = openSample(suite + "html/pal8.png");
    ASSERT_EQ(bmp.ok, 1);
    ASSERT_EQ(png.ok, 1);
    EXPECT_EQ(vexaFileGetTypeData(bmp.desc.get()), TYPEDATA_U8);
    EXPECT_EQ(vexaFileGetTypeData(png.desc.get()), TYPEDATA_U8);
    EXPECT_EQ(vexaFileGetEndian(bmp.desc.get()), 0);
    EXPECT_EQ(vexaFileGetDimX(bmp.desc.get()), 127);
    EXPECT_EQ(vexaFileGetDimY(bmp.desc.get()), 64);
    Buffer a(vexaFileReadImage(bmp.desc.get(), 0, 0)), b(vexaFileReadImage(png.desc.get(), 0, 0));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(std::memcmp(a.get(), b.get(), 127 * 64), 0);
    // Bottom-up and top-down files give rows top first alike.
    Opened topdown = openSample(suite + "g/pal8topdown.bmp");
    ASSERT_EQ(topdown.ok, 1);
    Buffer t(vexaFileReadImage(topdown.desc.get(), 0, 0));
    EXPECT_EQ(std::memcmp(a.get(), t.get(), 127 * 64), 0);

    Opened rgb = openSample(suite + "g/rgb24.bmp");
    Opened rgbPng = openSample(suite + "html/rgb24.png");
    ASSERT_EQ(rgb.ok, 1);
    ASSERT_EQ(rgbPng.ok, 1);
    EXPECT_EQ(vexaFileGetTypeData(rgb.desc.get()), TYPEDATA_RGBA);
    EXPECT_EQ(vexaFileGetNbBits(rgb.desc.get()), 32);
    Buffer c(vexaFileReadImage(rgb.desc.get(), 0, 0)),
        d(vexaFileReadImage(rgbPng.desc.get(), 0, 0));
    ASSERT_TRUE(c && d);
    EXPECT_EQ(std::memcmp(c.get(), d.get(), 127 * 64 * 4), 0);
    for (int i = 0; i < 127 * 64; ++i)
        ASSERT_EQ(as<unsigned char>(c)[i * 4 + 3], 0);

    // A palette kept between the header and the pixels of a true-colour file is
    // skipped, not read as pixels.
    Opened withPalette = openSample(suite + "g/rgb24pal.bmp");
    ASSERT_EQ(withPalette.ok, 1);
    EXPECT_EQ(vexaFileGetTypeData(withPalette.desc.get()), TYPEDATA_RGBA);
    Buffer e(vexaFileReadImage(withPalette.desc.get(), 0, 0));
    ASSERT_TRUE(e);
    EXPECT_EQ(std::memcmp(c.get(), e.get(), 127 * 64 * 4), 0);
}

TEST(VexaFilePicture, GoodBmpsOpenAndBadOnesAreRefused)
{
    REQUIRE_TESTDATA();
    const std::string good = kData + "/bmp/bmpsuite/g";
    for (const auto& e : std::filesystem::directory_iterator(good)) {
        Desc d = openDesc(e.path().string());
        int ok = vexaFileReadHeader(d.get());
        std::string name = e.path().filename().string();
        // 32-bit pictures carry an alpha mask and are left to other readers; the
        // decoder has no RLE.
        if (name.rfind("rgb32", 0) == 0 || name.find("rle") != std::string::npos)
            continue;
        EXPECT_EQ(ok, 1) << name;
        if (ok) {
            Buffer img(vexaFileReadImage(d.get(), 0, 0));
            EXPECT_TRUE(img) << name;
        }
    }
    const std::string bad = kData + "/bmp/bmpsuite/b";
    for (const auto& e : std::filesystem::directory_iterator(bad)) {
        Desc d = openDesc(e.path().string());
        EXPECT_EQ(vexaFileReadHeader(d.get()), 0) << e.path().filename();
    }
    Opened real = openSample("bmp/real/cgal-maple_leaf_embroidery.bmp");
    ASSERT_EQ(real.ok, 1);
    EXPECT_EQ(vexaFileGetDimY(real.desc.get()), 333);
    EXPECT_EQ(vexaFileGetTypeData(real.desc.get()), TYPEDATA_U8);
}

TEST(VexaFilePicture, SixteenBitGreyIsSigned16)
{
    TempDir dir;
    std::string path = dir.file("g.pgm");
    std::string head = "P5\n3 1\n65535\n";
    Bytes b(head.begin(), head.end());
    for (uint16_t v : { uint16_t(1), uint16_t(0x1234), uint16_t(0xFFFE) }) {
        b.push_back((unsigned char)(v >> 8));
        b.push_back((unsigned char)(v & 0xff));
    }
    writeBytes(path, b);
    Desc d = openDesc(path);
    ASSERT_EQ(vexaFileReadHeader(d.get()), 1);
    EXPECT_EQ(vexaFileGetTypeData(d.get()), TYPEDATA_S16);
    Buffer img(vexaFileReadImage(d.get(), 0, 0));
    ASSERT_TRUE(img);
    EXPECT_EQ(as<int16_t>(img)[0], 1);
    EXPECT_EQ(as<int16_t>(img)[1], 0x1234);
    EXPECT_EQ(as<int16_t>(img)[2], -2);

    // A comment may end at a carriage return; what follows it are the sizes. Read as
    // running to the next line feed, the comment here would hide the real sizes and
    // the digits after it would be taken for sizes whose product overflows.
    std::string cr = "P5\r#\r3 1\r65535\r";
    cr += std::string("\x00\x07\x01\x00\xff\xfe#\n", 8) + std::string(60, '3');
    writeBytes(path, Bytes(cr.begin(), cr.end()));
    Desc c = openDesc(path);
    ASSERT_EQ(vexaFileReadHeader(c.get()), 1);
    EXPECT_EQ(vexaFileGetDimX(c.get()), 3);
    Buffer crImage(vexaFileReadImage(c.get(), 0, 0));
    ASSERT_TRUE(crImage);
    EXPECT_EQ(as<int16_t>(crImage)[0], 7);
    EXPECT_EQ(as<int16_t>(crImage)[2], -2);
}

TEST(VexaFilePicture, EveryTruncationOfABmpFailsCleanly)
{
    REQUIRE_TESTDATA();
    TempDir dir;
    Bytes full = readBytes(kData + "/bmp/bmpsuite/g/pal4.bmp");
    ASSERT_FALSE(full.empty());
    forEachTruncation(dir, full, [&](const std::string& cut, size_t n) {
        Desc d = openDesc(cut);
        EXPECT_EQ(vexaFileReadHeader(d.get()), 0) << n;
    });
}
