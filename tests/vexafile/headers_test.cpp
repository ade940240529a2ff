// Header formats: GDR, INRIA, DF3, RAW, logical descriptions, comments, bad input.
#include "vexafile_test_util.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

using namespace vexafile_test;

namespace {

std::string field(const Bytes& b, size_t from, size_t to)
{
    return std::string(b.begin() + long(from), b.begin() + long(to) + 1);
}

Desc gdrDesc(const std::string& path, int w, int h, int d, int type)
{
    Desc desc(vexaFileNew());
    vexaFileSetFullName(desc.get(), path.c_str());
    vexaFileSetSizes(desc.get(), w, h, d);
    vexaFileSetTypeData(desc.get(), type);
    vexaFileSetHeader(desc.get(), VEXAFILE_HEADER_GDR);
    return desc;
}

Bytes gdrHeader(const std::string& w, const std::string& h, const std::string& code,
    const std::string& depth, char flag = ' ')
{
    std::string s(256, ' ');
    s.replace(0, 8, "GDR 1.0 ");
    s.replace(8, w.size(), w);
    s.replace(14, h.size(), h);
    s.replace(27, code.size(), code);
    s.replace(30, depth.size(), depth);
    s[39] = '0';
    s[40] = flag;
    return Bytes(s.begin(), s.end());
}

} // namespace

TEST(VexaFileGdr, WritesFieldsLeftAlignedAndReadsBack)
{
    TempDir dir;
    std::string path = dir.file("a.gdr");
    Desc desc = gdrDesc(path, 300, 200, 10, TYPEDATA_S16);
    ASSERT_EQ(vexaFileWriteHeader(desc.get()), 1);
    Bytes b = readBytes(path);
    ASSERT_EQ(b.size(), 256u);
    EXPECT_EQ(field(b, 0, 7), "GDR 1.0 ");
    EXPECT_EQ(field(b, 8, 13), "300   ");
    EXPECT_EQ(field(b, 14, 19), "200   ");
    EXPECT_EQ(field(b, 20, 26), "       ");
    EXPECT_EQ(field(b, 27, 29), "3  ");
    EXPECT_EQ(field(b, 30, 34), "10   ");
    EXPECT_EQ(field(b, 35, 39), "    0");
    EXPECT_EQ(b[40], ' ');
    EXPECT_EQ(field(b, 41, 255), std::string(215, ' '));

    Desc back = openDesc(path);
    ASSERT_EQ(vexaFileReadHeader(back.get()), 1);
    EXPECT_EQ(vexaFileGetTypeData(back.get()), TYPEDATA_S16);
    EXPECT_EQ(vexaFileGetSign(back.get()), 1);
    EXPECT_EQ(vexaFileGetNbBits(back.get()), 16);
    EXPECT_EQ(vexaFileGetOffsetData(back.get()), 256);
    EXPECT_EQ(vexaFileGetEndian(back.get()), 1);
    int w, h, d;
    vexaFileGetSizes(back.get(), &w, &h, &d);
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 200);
    EXPECT_EQ(d, 10);
}

TEST(VexaFileGdr, ReadHeaderTellsWhichKindItFound)
{
    TempDir dir;
    for (int kind : { VEXAFILE_HEADER_GDR, VEXAFILE_HEADER_INRIA }) {
        std::string path = dir.file(kind == VEXAFILE_HEADER_GDR ? "k.gdr" : "k.inr");
        Desc desc = gdrDesc(path, 30, 20, 4, TYPEDATA_U8);
        vexaFileSetHeader(desc.get(), kind);
        ASSERT_EQ(vexaFileWriteHeader(desc.get()), 1);
        Desc back = openDesc(path);
        EXPECT_EQ(vexaFileGetHeaderFound(back.get()), 0);
        ASSERT_EQ(vexaFileReadHeader(back.get()), 1);
        EXPECT_EQ(vexaFileGetHeaderFound(back.get()), kind);
    }
}

TEST(VexaFileGdr, EveryTypeCodeRoundTrips)
{
    TempDir dir;
    const int codes[][2] = { { TYPEDATA_U8, '0' }, { TYPEDATA_S8, '1' }, { TYPEDATA_U16, '2' },
        { TYPEDATA_S16, '3' }, { TYPEDATA_U32, '4' }, { TYPEDATA_S32, '5' }, { TYPEDATA_F64, '7' },
        { TYPEDATA_F32, '8' }, { TYPEDATA_RGBA, '9' } };
    for (auto [type, ch] : codes) {
        std::string path = dir.file("t" + std::to_string(type));
        Desc desc = gdrDesc(path, 4, 5, 6, type);
        ASSERT_EQ(vexaFileWriteHeader(desc.get()), 1);
        EXPECT_EQ(readBytes(path)[27], ch) << type;
        Desc back = openDesc(path);
        ASSERT_EQ(vexaFileReadHeader(back.get()), 1);
        EXPECT_EQ(vexaFileGetTypeData(back.get()), type);
        EXPECT_EQ(vexaFileGetNbBits(back.get()), 8 * vexaTypeSize(type));
        EXPECT_EQ(vexaFileGetSign(back.get()), vexaTypeSign(type));
    }
}

TEST(VexaFileGdr, TransposeExchangesStoredSizesAndReadsBackTheSame)
{
    TempDir dir;
    std::string path = dir.file("t.gdr");
    Desc desc = gdrDesc(path, 300, 200, 1, TYPEDATA_U8);
    vexaFileSetTranspose(desc.get(), 1);
    ASSERT_EQ(vexaFileWriteHeader(desc.get()), 1);
    Bytes b = readBytes(path);
    EXPECT_EQ(field(b, 8, 13), "200   ");
    EXPECT_EQ(field(b, 14, 19), "300   ");
    EXPECT_EQ(b[40], 'T');
    Desc back = openDesc(path);
    ASSERT_EQ(vexaFileReadHeader(back.get()), 1);
    EXPECT_EQ(vexaFileGetTranspose(back.get()), 1);
    int w, h, d;
    vexaFileGetSizes(back.get(), &w, &h, &d);
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 200);
    EXPECT_EQ(d, 1);
}

TEST(VexaFileGdr, TiledFlagAndFlagsExcludeEachOther)
{
    TempDir dir;
    std::string path = dir.file("b.gdr");
    Desc desc = gdrDesc(path, 40, 40, 40, TYPEDATA_U8);
    vexaFileSetTranspose(desc.get(), 1);
    vexaFileSetTiled(desc.get(), 1);
    EXPECT_EQ(vexaFileGetTranspose(desc.get()), 0);
    ASSERT_EQ(vexaFileWriteHeader(desc.get()), 1);
    EXPECT_EQ(readBytes(path)[40], 'B');
    EXPECT_EQ(vexaFileGetTiled(desc.get()), 1);
    vexaFileSetTranspose(desc.get(), 1);
    EXPECT_EQ(vexaFileGetTiled(desc.get()), 0);
}

TEST(VexaFileGdr, BlankOrZeroDepthReadsAsOne)
{
    TempDir dir;
    for (std::string depth : { "", "0", "-3" }) {
        std::string path = dir.file("d.gdr");
        writeBytes(path, gdrHeader("7", "5", "0", depth));
        Desc desc = openDesc(path);
        ASSERT_EQ(vexaFileReadHeader(desc.get()), 1) << depth;
        EXPECT_EQ(vexaFileGetDimZ(desc.get()), 1);
        EXPECT_EQ(vexaFileGetTypeData(desc.get()), TYPEDATA_U8);
    }
    // A blank type code is U8.
    std::string path = dir.file("blank.gdr");
    writeBytes(path, gdrHeader("7", "5", "", "2"));
    Desc desc = openDesc(path);
    ASSERT_EQ(vexaFileReadHeader(desc.get()), 1);
    EXPECT_EQ(vexaFileGetTypeData(desc.get()), TYPEDATA_U8);
}

TEST(VexaFileGdr, RefusesBadFields)
{
    TempDir dir;
    std::string path = dir.file("bad.gdr");
    const Bytes bad[] = {
        gdrHeader("7", "5", "6", "1"), // code 6 is not a type
        gdrHeader("7", "5", "12", "1"), // unknown code
        gdrHeader("-7", "5", "0", "1"), // negative width
        gdrHeader("0", "5", "0", "1"), // zero width
        gdrHeader("", "5", "0", "1"), // blank width
        gdrHeader("7x", "5", "0", "1"), // not a number
        gdrHeader("7", "5 5", "0", "1"), // two numbers in one field
    };
    for (const Bytes& b : bad) {
        writeBytes(path, b);
        Desc desc = openDesc(path);
        EXPECT_EQ(vexaFileReadHeader(desc.get()), 0) << field(b, 8, 34);
        EXPECT_EQ(vexaFileGetDimX(desc.get()), 0);
    }
}

TEST(VexaFileGdr, WriterRefusesWhatTheHeaderCannotHold)
{
    TempDir dir;
    std::string path = dir.file("keep.gdr");
    writeText(path, "precious");
    const int cases[][4] = { { 1000000, 5, 1, TYPEDATA_U8 }, { 5, 1000000, 1, TYPEDATA_U8 },
        { 5, 5, 100000, TYPEDATA_U8 }, { 0, 5, 1, TYPEDATA_U8 }, { 5, -5, 1, TYPEDATA_U8 },
        { 5, 5, 1, 0 }, { 5, 5, 1, 12 } };
    for (auto& c : cases) {
        Desc desc = gdrDesc(path, c[0], c[1], c[2], c[3]);
        EXPECT_EQ(vexaFileWriteHeader(desc.get()), 0);
        EXPECT_EQ(readBytes(path), Bytes({ 'p', 'r', 'e', 'c', 'i', 'o', 'u', 's' }));
    }
    // The widest values that fit are written.
    Desc desc = gdrDesc(path, 999999, 999999, 99999, TYPEDATA_U8);
    ASSERT_EQ(vexaFileWriteHeader(desc.get()), 1);
    Bytes b = readBytes(path);
    EXPECT_EQ(field(b, 8, 13), "999999");
    EXPECT_EQ(field(b, 30, 34), "99999");
}

TEST(VexaFileInria, VariantAWritesItsLayout)
{
    TempDir dir;
    std::string path = dir.file("a.inr");
    Desc desc(vexaFileNew());
    vexaFileSetFullName(desc.get(), path.c_str());
    vexaFileSetSizes(desc.get(), 300, 200, 7);
    vexaFileSetTypeData(desc.get(), TYPEDATA_U8);
    vexaFileSetHeader(desc.get(), VEXAFILE_HEADER_INRIA);
    ASSERT_EQ(vexaFileWriteHeader(desc.get()), 1);
    Bytes b = readBytes(path);
    ASSERT_EQ(b.size(), 4096u);
    EXPECT_EQ(b[2], 0x69);
    EXPECT_EQ(b[3], 0x31);
    EXPECT_EQ((b[6] << 8) | b[7], 200);
    EXPECT_EQ((b[10] << 8) | b[11], 300);
    EXPECT_EQ((b[14] << 8) | b[15], 7);
    EXPECT_EQ(b[35], 20);
    EXPECT_EQ(b[39], 8);
    for (int at : { 44, 48, 52 })
        EXPECT_EQ(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24, 1);
    EXPECT_EQ(b[60] | b[61] << 8, 76);
    EXPECT_EQ(b[64] | b[65] << 8, 2484);
    EXPECT_EQ(b[74], 0x10);
    EXPECT_EQ(b[75], 0x00);
    // Read back through the descriptor itself: U8, unsigned, transposed, sizes kept.
    EXPECT_EQ(vexaFileGetTypeData(desc.get()), TYPEDATA_U8);
    EXPECT_EQ(vexaFileGetSign(desc.get()), 0);
    EXPECT_EQ(vexaFileGetTranspose(desc.get()), 1);
    EXPECT_EQ(vexaFileGetOffsetData(desc.get()), 4096);
    int w, h, d;
    vexaFileGetSizes(desc.get(), &w, &h, &d);
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 200);
    EXPECT_EQ(d, 7);
}

TEST(VexaFileInria, TypesReadBackByBitCount)
{
    TempDir dir;
    struct Case {
        int type, expected, sign, transpose;
        bool exchanged;
    } cases[] = { { TYPEDATA_S8, TYPEDATA_S8, 1, 1, false },
        { TYPEDATA_S16, TYPEDATA_S16, 1, 1, false }, { TYPEDATA_F32, TYPEDATA_F32, 1, 0, true },
        { TYPEDATA_S32, TYPEDATA_F32, 1, 0, true } };
    for (const Case& c : cases) {
        std::string path = dir.file("t" + std::to_string(c.type));
        Desc desc(vexaFileNew());
        vexaFileSetFullName(desc.get(), path.c_str());
        vexaFileSetSizes(desc.get(), 30, 20, 2);
        vexaFileSetTypeData(desc.get(), c.type);
        vexaFileSetHeader(desc.get(), 57); // any unknown kind is INRIA
        ASSERT_EQ(vexaFileWriteHeader(desc.get()), 1);
        Desc back = openDesc(path);
        ASSERT_EQ(vexaFileReadHeader(back.get()), 1);
        EXPECT_EQ(vexaFileGetTypeData(back.get()), c.expected);
        EXPECT_EQ(vexaFileGetSign(back.get()), c.sign);
        EXPECT_EQ(vexaFileGetTranspose(back.get()), c.transpose);
        int w, h, d;
        vexaFileGetSizes(back.get(), &w, &h, &d);
        EXPECT_EQ(w, c.exchanged ? 20 : 30);
        EXPECT_EQ(h, c.exchanged ? 30 : 20);
    }
}

TEST(VexaFileInria, WriterRefusesTypesWithoutABitCodeAndLargeSizes)
{
    TempDir dir;
    std::string path = dir.file("r.inr");
    for (int type : { TYPEDATA_U16, TYPEDATA_U32, TYPEDATA_F64, TYPEDATA_RGBA }) {
        Desc desc = rawDesc(path, 4, 4, 1, type, 1);
        vexaFileSetHeader(desc.get(), VEXAFILE_HEADER_INRIA);
        EXPECT_EQ(vexaFileWriteHeader(desc.get()), 0) << type;
    }
    Desc big = rawDesc(path, 70000, 4, 1, TYPEDATA_U8, 1);
    vexaFileSetHeader(big.get(), VEXAFILE_HEADER_INRIA);
    EXPECT_EQ(vexaFileWriteHeader(big.get()), 0);
    EXPECT_TRUE(readBytes(path).empty());
}

TEST(VexaFileInria, VariantBAndBadBitCounts)
{
    TempDir dir;
    std::string path = dir.file("b.inr");
    Bytes b(200, 0);
    b[1] = 0x08, b[2] = 0x96, b[3] = 0x97;
    b[13] = 0, b[14] = 0x01, b[15] = 0x02; // DimY 258
    b[17] = 0x01, b[18] = 0x00, b[19] = 0x00; // DimX 65536
    b[26] = 0, b[27] = 100;
    b[30] = 0, b[31] = 28;
    writeBytes(path, b);
    Desc desc = openDesc(path);
    ASSERT_EQ(vexaFileReadHeader(desc.get()), 1);
    EXPECT_EQ(vexaFileGetDimX(desc.get()), 65536);
    EXPECT_EQ(vexaFileGetDimY(desc.get()), 258);
    EXPECT_EQ(vexaFileGetDimZ(desc.get()), 1);
    EXPECT_EQ(vexaFileGetTypeData(desc.get()), TYPEDATA_F32);
    EXPECT_EQ(vexaFileGetOffsetData(desc.get()), 128);

    Bytes a(4096, 0);
    a[2] = 0x69, a[3] = 0x31, a[7] = 4, a[11] = 4, a[15] = 1, a[39] = 12, a[74] = 0x10;
    writeBytes(path, a);
    Desc bad = openDesc(path);
    EXPECT_EQ(vexaFileReadHeader(bad.get()), 0);
    a[39] = 8;
    a[7] = 0; // zero size
    writeBytes(path, a);
    Desc zero = openDesc(path);
    EXPECT_EQ(vexaFileReadHeader(zero.get()), 0);
}

TEST(VexaFileHeaders, Df3AndRaw)
{
    TempDir dir;
    std::string path = dir.file("a.df3");
    Desc desc = rawDesc(path, 300, 2, 515, TYPEDATA_U8, 1, 99);
    vexaFileSetHeader(desc.get(), VEXAFILE_HEADER_DF3);
    ASSERT_EQ(vexaFileWriteHeader(desc.get()), 1);
    EXPECT_EQ(readBytes(path), Bytes({ 0x01, 0x2C, 0x00, 0x02, 0x02, 0x03 }));
    EXPECT_EQ(vexaFileGetOffsetData(desc.get()), 6);

    std::string raw = dir.file("none.raw");
    Desc r(vexaFileNew());
    vexaFileSetFullName(r.get(), raw.c_str());
    vexaFileSetHeader(r.get(), VEXAFILE_HEADER_RAW);
    vexaFileSetOffsetData(r.get(), 17);
    EXPECT_EQ(vexaFileWriteHeader(r.get()), 1);
    EXPECT_FALSE(std::filesystem::exists(raw));
    EXPECT_EQ(vexaFileGetOffsetData(r.get()), 17);
}

TEST(VexaFileHeaders, EveryTruncationOfAValidFileFailsCleanlyOrReadsZeros)
{
    TempDir dir;
    std::string path = dir.file("full.gdr");
    Desc desc = gdrDesc(path, 5, 4, 3, TYPEDATA_S16);
    ASSERT_EQ(vexaFileWriteHeader(desc.get()), 1);
    std::vector<int16_t> samples(60);
    for (int i = 0; i < 60; ++i)
        samples[size_t(i)] = int16_t(i * 100 - 2000);
    ASSERT_EQ(vexaFileWriteBlock(desc.get(), samples.data()), 1);
    Bytes full = readBytes(path);
    ASSERT_EQ(full.size(), 256u + 120u);
    forEachTruncation(dir, full, [&](const std::string& cut, size_t n) {
        Desc d = openDesc(cut);
        int ok = vexaFileReadHeader(d.get());
        EXPECT_EQ(ok, n >= 256 ? 1 : 0) << n;
        if (!ok)
            return;
        Buffer block(vexaFileReadBlock(d.get()));
        ASSERT_TRUE(block);
        size_t whole = (n - 256) / 2;
        for (size_t i = 0; i < 60; ++i)
            EXPECT_EQ(as<int16_t>(block)[i], i < whole ? samples[i] : 0) << n << " " << i;
    });
}

TEST(VexaFileHeaders, NothingRecognisedLeavesTheDescriptor)
{
    TempDir dir;
    std::string path = dir.file("junk");
    writeText(path, "just some text that is no image at all");
    Desc desc = openDesc(path);
    vexaFileSetDimX(desc.get(), 9);
    vexaFileSetTranspose(desc.get(), 1);
    EXPECT_EQ(vexaFileReadHeader(desc.get()), 0);
    EXPECT_EQ(vexaFileGetDimX(desc.get()), 9);
    EXPECT_EQ(vexaFileGetTranspose(desc.get()), 1);
    EXPECT_EQ(openDesc(dir.file("missing")), nullptr);
    EXPECT_EQ(openDesc(dir.path()), nullptr); // a directory is no image file
}

TEST(VexaFileHeaders, NullDescriptorIsHarmless)
{
    double v = 3;
    EXPECT_EQ(vexaFileReadHeader(nullptr), 0);
    EXPECT_EQ(vexaFileWriteHeader(nullptr), 0);
    EXPECT_EQ(vexaFileGetComment(nullptr, "K", &v), 0);
    EXPECT_STREQ(vexaFileGetFullName(nullptr), "");
    EXPECT_EQ(vexaFileGetDimX(nullptr), 0);
    EXPECT_EQ(vexaFileIsLogical(nullptr), 0);
    EXPECT_EQ(vexaFileReadImage(nullptr, 0, 0), nullptr);
    EXPECT_EQ(vexaFileWriteImage(nullptr, &v, 0, 0), 0);
    EXPECT_EQ(vexaFileNameOpen(nullptr), nullptr);
    int w = 5;
    vexaFileGetSizes(nullptr, &w, nullptr, nullptr);
    EXPECT_EQ(w, 0);
    vexaFileRelease(nullptr);
    vexaFileFree(nullptr);
    EXPECT_EQ(v, 3);
}

// ---- Comments ----

namespace {

std::string inriaWithComment(const TempDir& dir, const std::string& text)
{
    std::string path = dir.file("c.inr");
    Bytes b(4096, 0);
    b[2] = 0x69, b[3] = 0x31, b[7] = 2, b[11] = 2, b[15] = 1, b[39] = 8, b[74] = 0x10;
    std::memcpy(&b[256], text.data(), text.size());
    writeBytes(path, b);
    return path;
}

} // namespace

TEST(VexaFileComment, ReadsTheNumberAfterTheKey)
{
    TempDir dir;
    Desc desc = openDesc(inriaWithComment(dir, "TDEB=7\nPASECH=2.5\nPECH = 1,5E-3\n"));
    double v = -1;
    EXPECT_EQ(vexaFileGetComment(desc.get(), "PASECH", &v), 1);
    EXPECT_DOUBLE_EQ(v, 2.5);
    EXPECT_EQ(vexaFileGetComment(desc.get(), "PECH", &v), 0); // " 1,5E-3": space first
    EXPECT_EQ(v, 0);
    EXPECT_EQ(vexaFileGetComment(desc.get(), "TDEB", &v), 1);
    EXPECT_EQ(v, 7);
    v = 42;
    EXPECT_EQ(vexaFileGetComment(desc.get(), "MISSING", &v), 0);
    EXPECT_EQ(v, 42);
}

TEST(VexaFileComment, StepsOverNulBytesAndNeedsTheEqualsSign)
{
    TempDir dir;
    std::string text = std::string("JUNK") + '\0' + "KEY" + '\0' + "X=1\nKEY2=-1,5E-3\nNOEQ 5\n";
    Desc desc = openDesc(inriaWithComment(dir, text));
    double v = 9;
    EXPECT_EQ(vexaFileGetComment(desc.get(), "KEY2", &v), 1);
    EXPECT_NEAR(v, -0.0015, 1e-15);
    v = 9;
    EXPECT_EQ(vexaFileGetComment(desc.get(), "NOEQ", &v), 0);
    EXPECT_EQ(v, 9);
    // "KEY" first occurs before a NUL with no "=" in its text.
    EXPECT_EQ(vexaFileGetComment(desc.get(), "KEY", &v), 0);
    EXPECT_EQ(v, 9);
}

TEST(VexaFileComment, OnlyInriaHeadersCarryComments)
{
    TempDir dir;
    std::string path = dir.file("g.gdr");
    Desc desc = gdrDesc(path, 2, 2, 1, TYPEDATA_U8);
    ASSERT_EQ(vexaFileWriteHeader(desc.get()), 1);
    double v = 1;
    EXPECT_EQ(vexaFileGetComment(desc.get(), "GDR", &v), 0);
    EXPECT_EQ(v, 1);
}

struct NumberCase {
    const char* text;
    double value;
    bool clean;
};

class VexaFileCommentNumber : public ::testing::TestWithParam<NumberCase> { };

TEST_P(VexaFileCommentNumber, FollowsTheParsingRule)
{
    TempDir dir;
    const NumberCase& c = GetParam();
    Desc desc = openDesc(inriaWithComment(dir, std::string("K=") + c.text + "\n"));
    double v = -99;
    EXPECT_EQ(vexaFileGetComment(desc.get(), "K", &v), c.clean ? 1 : 0);
    EXPECT_NEAR(v, c.value, std::fabs(c.value) * 1e-12 + 1e-300);
}

INSTANTIATE_TEST_SUITE_P(Rules, VexaFileCommentNumber,
    ::testing::Values(NumberCase { "2.5", 2.5, true }, NumberCase { "1,5E-3", 0.0015, true },
        NumberCase { "-12e2", -1200, true }, NumberCase { "3.25e-1", 0.325, true },
        NumberCase { "", 0, true }, NumberCase { "1.2.3", 1.2, false },
        NumberCase { "--4", 0, false }, NumberCase { "2E1E2", 20, false },
        NumberCase { "2E1.5", 20, false }, NumberCase { "2E--1", 2, false },
        NumberCase { "4x", 4, false }, NumberCase { "+4", 0, false },
        NumberCase { "7\r", 7, false }));
