// Block transfers: orientations, clipping, layouts, byte order, combinations,
// logical volumes and files beyond 4 GiB, checked against an independent model of
// where each sample lives in the file.
#include "vexafile_test_util.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

using namespace vexafile_test;

namespace {

enum class Layout { Plain, Transposed, Tiled };

struct Volume {
    Layout layout;
    int type;
    int endian;
    int X, Y, Z;
    int offset;
};

int sizeOf(int type)
{
    return vexaTypeSize(type);
}

bool swaps(const Volume& v)
{
    int s = sizeOf(v.type);
    return v.endian == 1 && (s == 2 || s == 4);
}

int64_t fileOffset(const Volume& v, int64_t x, int64_t y, int64_t z)
{
    const int64_t s = sizeOf(v.type);
    switch (v.layout) {
    case Layout::Plain:
        return v.offset + ((z * v.Y + y) * v.X + x) * s;
    case Layout::Transposed:
        return v.offset + (z * v.X * v.Y + x * v.Y + y) * s;
    case Layout::Tiled: {
        int64_t nx = (v.X + 31) / 32, ny = (v.Y + 31) / 32;
        int64_t tile = ((z / 32) * ny + y / 32) * nx + x / 32;
        return v.offset + (tile * 32768 + (z % 32) * 1024 + (y % 32) * 32 + x % 32) * s;
    }
    }
    return 0;
}

// The samples of the volume as native bytes, x fastest.
struct Model {
    Volume v;
    Bytes samples;
    explicit Model(const Volume& vol)
        : v(vol)
        , samples(size_t(vol.X) * vol.Y * vol.Z * sizeOf(vol.type), 0)
    {
    }
    unsigned char* at(int64_t x, int64_t y, int64_t z)
    {
        return &samples[size_t(((z * v.Y + y) * v.X + x) * sizeOf(v.type))];
    }
    // The file as the layout stores it, big-endian samples swapped, after a header
    // of 0x5A bytes.
    Bytes encode() const
    {
        const int s = sizeOf(v.type);
        int64_t end = 0;
        for (int z = 0; z < v.Z; ++z)
            for (int y = 0; y < v.Y; ++y)
                for (int x = 0; x < v.X; ++x)
                    end = std::max(end, fileOffset(v, x, y, z) + s);
        if (v.layout == Layout::Tiled) // edge tiles are stored whole
            end = v.offset
                + int64_t((v.X + 31) / 32) * ((v.Y + 31) / 32) * ((v.Z + 31) / 32) * 32768 * s;
        Bytes file(size_t(end), 0);
        std::fill(file.begin(), file.begin() + v.offset, 0x5A);
        for (int z = 0; z < v.Z; ++z)
            for (int y = 0; y < v.Y; ++y)
                for (int x = 0; x < v.X; ++x) {
                    const unsigned char* src
                        = &samples[size_t(((int64_t(z) * v.Y + y) * v.X + x) * s)];
                    unsigned char* dst = &file[size_t(fileOffset(v, x, y, z))];
                    for (int k = 0; k < s; ++k)
                        dst[k] = swaps(v) ? src[s - 1 - k] : src[k];
                }
        return file;
    }
};

// Volume coordinates of box sample (bu, bv, bw) in an orientation; false outside.
bool toVolume(
    const Volume& v, int o, int64_t bu, int64_t bv, int64_t bw, int64_t* x, int64_t* y, int64_t* z)
{
    switch (o) {
    case 0:
        *x = bu, *y = bv, *z = bw;
        break;
    case 1:
        *z = bu, *y = bv, *x = bw;
        break;
    default:
        *x = bu, *z = v.Z - 1 - bv, *y = bw;
        break;
    }
    return *x >= 0 && *x < v.X && *y >= 0 && *y < v.Y && *z >= 0 && *z < v.Z;
}

Desc describe(const std::string& path, const Volume& v)
{
    Desc d = rawDesc(path, v.X, v.Y, v.Z, v.type, v.endian, v.offset);
    // Sizes are those the caller sees; with Transpose they are stored exchanged.
    if (v.layout == Layout::Transposed) {
        vexaFileSetTranspose(d.get(), 1);
        vexaFileSetSizes(d.get(), v.X, v.Y, v.Z);
    }
    if (v.layout == Layout::Tiled)
        vexaFileSetTiled(d.get(), 1);
    return d;
}

struct BoxSpec {
    int o, su, sv, sw, u, v, w;
};

void expectBoxMatches(Model& m, const BoxSpec& b, const Buffer& got)
{
    const int s = sizeOf(m.v.type);
    ASSERT_TRUE(got);
    const auto* p = static_cast<const unsigned char*>(got.get());
    Bytes zero(size_t(s), 0);
    for (int k = 0; k < b.w; ++k)
        for (int j = 0; j < b.v; ++j)
            for (int i = 0; i < b.u; ++i) {
                int64_t x, y, z;
                const unsigned char* want
                    = toVolume(m.v, b.o, b.su + i, b.sv + j, b.sw + k, &x, &y, &z) ? m.at(x, y, z)
                                                                                   : zero.data();
                const unsigned char* have = p + ((int64_t(k) * b.v + j) * b.u + i) * s;
                ASSERT_EQ(std::memcmp(want, have, size_t(s)), 0)
                    << "orientation " << b.o << " box (" << b.su << "," << b.sv << "," << b.sw
                    << ") sample " << i << "," << j << "," << k;
            }
}

BoxSpec randomBox(std::mt19937& rng, const Volume& v)
{
    int o = int(rng() % 3);
    int L[3];
    if (o == 0)
        L[0] = v.X, L[1] = v.Y, L[2] = v.Z;
    else if (o == 1)
        L[0] = v.Z, L[1] = v.Y, L[2] = v.X;
    else
        L[0] = v.X, L[1] = v.Z, L[2] = v.Y;
    int s[3], n[3];
    for (int i = 0; i < 3; ++i) {
        n[i] = 1 + int(rng() % unsigned(L[i] + 2));
        s[i] = int(rng() % unsigned(L[i] + 4)) - 3;
    }
    return BoxSpec { o, s[0], s[1], s[2], n[0], n[1], n[2] };
}

class VexaFileLayouts : public ::testing::TestWithParam<Volume> { };

TEST_P(VexaFileLayouts, ReadsEveryOrientationAndBox)
{
    const Volume v = GetParam();
    TempDir dir;
    std::string path = dir.file("vol");
    Model m(v);
    std::mt19937 rng(1234);
    for (auto& b : m.samples)
        b = (unsigned char)(rng() & 0xff);
    writeBytes(path, m.encode());
    Desc d = describe(path, v);

    for (int o = 0; o < 3; ++o) {
        int planes = o == 0 ? v.Z : (o == 1 ? v.X : v.Y);
        int u = o == 1 ? v.Z : v.X, h = o == 2 ? v.Z : v.Y;
        for (int index : { 0, planes / 2, planes - 1 }) {
            Buffer img(vexaFileReadImage(d.get(), o, index));
            expectBoxMatches(m, BoxSpec { o, 0, 0, index, u, h, 1 }, img);
        }
    }
    for (int i = 0; i < 40; ++i) {
        BoxSpec b = randomBox(rng, v);
        Buffer got(vexaFileReadBlockPart(d.get(), b.o, b.su, b.sv, b.sw, b.u, b.v, b.w));
        expectBoxMatches(m, b, got);
    }
}

TEST_P(VexaFileLayouts, WritesLandWhereTheLayoutSays)
{
    const Volume v = GetParam();
    TempDir dir;
    std::string path = dir.file("vol");
    writeBytes(path, Bytes(size_t(v.offset), 0x5A));
    Desc d = describe(path, v);
    Model m(v);
    std::mt19937 rng(99);
    const int s = sizeOf(v.type);
    for (int i = 0; i < 25; ++i) {
        BoxSpec b = randomBox(rng, v);
        Bytes data(size_t(b.u) * b.v * b.w * s);
        for (auto& c : data)
            c = (unsigned char)(rng() & 0xff);
        Bytes copy = data;
        ASSERT_EQ(
            vexaFileWriteBlockPart(d.get(), data.data(), b.o, b.su, b.sv, b.sw, b.u, b.v, b.w), 1);
        EXPECT_EQ(copy, data) << "the caller's buffer changed";
        for (int k = 0; k < b.w; ++k)
            for (int j = 0; j < b.v; ++j)
                for (int ii = 0; ii < b.u; ++ii) {
                    int64_t x, y, z;
                    if (toVolume(v, b.o, b.su + ii, b.sv + j, b.sw + k, &x, &y, &z))
                        std::memcpy(m.at(x, y, z),
                            &data[size_t(((int64_t(k) * b.v + j) * b.u + ii) * s)], size_t(s));
                }
    }
    Bytes file = readBytes(path);
    Bytes want = m.encode();
    ASSERT_LE(file.size(), want.size());
    file.resize(want.size(), 0); // bytes never written read as zeros
    EXPECT_EQ(file, want);
    // And what was written reads back through every orientation.
    for (int i = 0; i < 20; ++i) {
        BoxSpec b = randomBox(rng, v);
        Buffer got(vexaFileReadBlockPart(d.get(), b.o, b.su, b.sv, b.sw, b.u, b.v, b.w));
        expectBoxMatches(m, b, got);
    }
}

INSTANTIATE_TEST_SUITE_P(Small, VexaFileLayouts,
    ::testing::Values(Volume { Layout::Plain, TYPEDATA_U8, 1, 7, 5, 3, 0 },
        Volume { Layout::Plain, TYPEDATA_S16, 1, 9, 6, 4, 256 },
        Volume { Layout::Plain, TYPEDATA_U16, 0, 9, 6, 4, 3 },
        Volume { Layout::Plain, TYPEDATA_F64, 1, 5, 4, 3, 256 },
        Volume { Layout::Plain, TYPEDATA_RGBA, 1, 6, 5, 4, 0 },
        Volume { Layout::Transposed, TYPEDATA_U8, 1, 7, 5, 3, 0 },
        Volume { Layout::Transposed, TYPEDATA_F32, 1, 9, 6, 4, 4096 },
        Volume { Layout::Transposed, TYPEDATA_S32, 0, 6, 9, 2, 10 },
        Volume { Layout::Tiled, TYPEDATA_U8, 1, 37, 35, 33, 0 },
        Volume { Layout::Tiled, TYPEDATA_U16, 1, 40, 3, 34, 256 },
        Volume { Layout::Tiled, TYPEDATA_F32, 0, 33, 33, 2, 7 },
        Volume { Layout::Tiled, TYPEDATA_S16, 0, 64, 5, 4, 0 },
        Volume { Layout::Tiled, TYPEDATA_F64, 0, 66, 33, 3, 0 }));

// Planes large enough for the strategies chosen for wide spans: mapped gathers, one
// read per run and read-modify-write of short runs.
INSTANTIATE_TEST_SUITE_P(Wide, VexaFileLayouts,
    ::testing::Values(Volume { Layout::Plain, TYPEDATA_U8, 1, 300, 290, 3, 256 },
        Volume { Layout::Plain, TYPEDATA_F32, 1, 2100, 40, 3, 0 },
        Volume { Layout::Transposed, TYPEDATA_S16, 1, 250, 260, 3, 0 },
        Volume { Layout::Transposed, TYPEDATA_U8, 0, 40, 2100, 3, 0 }));

} // namespace

TEST(VexaFileRead, BoxPartlyOutsideHasZerosAroundTheSamples)
{
    TempDir dir;
    std::string path = dir.file("a");
    Bytes file(100);
    for (int i = 0; i < 100; ++i)
        file[size_t(i)] = (unsigned char)(i + 1);
    writeBytes(path, file);
    Desc d = rawDesc(path, 10, 10, 1, TYPEDATA_U8, 1);
    Buffer b(vexaFileReadBlockPart(d.get(), 0, -2, -2, 0, 4, 4, 1));
    ASSERT_TRUE(b);
    const unsigned char* p = as<unsigned char>(b);
    for (int v = 0; v < 4; ++v)
        for (int u = 0; u < 4; ++u)
            EXPECT_EQ(p[v * 4 + u], (u >= 2 && v >= 2) ? (v - 2) * 10 + (u - 2) + 1 : 0);
    Buffer outside(vexaFileReadBlockPart(d.get(), 0, 10, 0, 0, 3, 2, 1));
    ASSERT_TRUE(outside);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(as<unsigned char>(outside)[i], 0);
    // Negative extents count by their absolute value; zero extents give nothing.
    Buffer neg(vexaFileReadBlockPart(d.get(), 0, 1, 1, 0, -2, -2, -1));
    ASSERT_TRUE(neg);
    EXPECT_EQ(as<unsigned char>(neg)[3], 23);
    EXPECT_EQ(vexaFileReadBlockPart(d.get(), 0, 0, 0, 0, 0, 4, 1), nullptr);
    EXPECT_EQ(vexaFileReadBlockPart(d.get(), 3, 0, 0, 0, 1, 1, 1), nullptr);
}

TEST(VexaFileRead, TopAndRightPlanesGeometry)
{
    TempDir dir;
    std::string path = dir.file("a");
    Bytes file(4 * 2 * 3);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = (unsigned char)i; // value = (z * 2 + y) * 4 + x
    writeBytes(path, file);
    Desc d = rawDesc(path, 4, 2, 3, TYPEDATA_U8, 1);
    Buffer top(vexaFileReadImage(d.get(), 2, 1));
    ASSERT_TRUE(top);
    // X wide, Z high, the top row is the last plane.
    const unsigned char expectTop[] = { 20, 21, 22, 23, 12, 13, 14, 15, 4, 5, 6, 7 };
    EXPECT_EQ(std::memcmp(top.get(), expectTop, sizeof expectTop), 0);
    Buffer right(vexaFileReadImage(d.get(), 1, 3));
    ASSERT_TRUE(right);
    // Z wide, Y high: sample (u, v) is (x = 3, y = v, z = u).
    const unsigned char expectRight[] = { 3, 11, 19, 7, 15, 23 };
    EXPECT_EQ(std::memcmp(right.get(), expectRight, sizeof expectRight), 0);
}

TEST(VexaFileRead, RightSectionsOfLongAndShortLines)
{
    TempDir dir;
    // Rows of 600 bytes: the section is read in groups of whole rows, several groups
    // per plane here; samples are big-endian 16-bit.
    {
        const int X = 300, Y = 3600, Z = 2, x = 123;
        std::string path = dir.file("rows");
        Bytes file(size_t(X) * Y * Z * 2);
        auto value = [](int xx, int y, int z) { return uint16_t(xx * 7 + y * 3 + z * 1000); };
        for (int z = 0; z < Z; ++z)
            for (int y = 0; y < Y; ++y)
                for (int xx = 0; xx < X; ++xx) {
                    size_t at = ((size_t(z) * Y + y) * X + xx) * 2;
                    file[at] = (unsigned char)(value(xx, y, z) >> 8);
                    file[at + 1] = (unsigned char)(value(xx, y, z) & 0xff);
                }
        writeBytes(path, file);
        Desc d = rawDesc(path, X, Y, Z, TYPEDATA_S16, 1);
        Buffer right(vexaFileReadImage(d.get(), 1, x));
        ASSERT_TRUE(right);
        // Z wide, Y high.
        for (int y = 0; y < Y; ++y)
            for (int z = 0; z < Z; ++z)
                ASSERT_EQ(uint16_t(as<int16_t>(right)[size_t(y) * Z + z]), value(x, y, z))
                    << y << " " << z;

        // Cut inside the second plane: what the file holds is read, the rest is zero.
        const size_t keep = (size_t(X) * Y + size_t(X) * 2000 + x) * 2 + 1;
        file.resize(keep);
        writeBytes(path, file);
        Buffer cut(vexaFileReadImage(d.get(), 1, x));
        ASSERT_TRUE(cut);
        for (int y = 0; y < Y; ++y) {
            ASSERT_EQ(uint16_t(as<int16_t>(cut)[size_t(y) * Z]), value(x, y, 0));
            ASSERT_EQ(uint16_t(as<int16_t>(cut)[size_t(y) * Z + 1]), y < 2000 ? value(x, y, 1) : 0)
                << y;
        }
    }
    // Rows of 160 000 bytes: the samples are picked out of a mapping of the file.
    {
        const int X = 20000, Y = 3, Z = 2, x = 19999;
        std::string path = dir.file("long");
        std::vector<double> samples(size_t(X) * Y * Z);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = double(i) * 0.5;
        Bytes file(samples.size() * 8);
        std::memcpy(file.data(), samples.data(), file.size());
        writeBytes(path, file);
        Desc d = rawDesc(path, X, Y, Z, TYPEDATA_F64, 0);
        Buffer right(vexaFileReadImage(d.get(), 1, x));
        ASSERT_TRUE(right);
        for (int y = 0; y < Y; ++y)
            for (int z = 0; z < Z; ++z)
                EXPECT_EQ(
                    as<double>(right)[size_t(y) * Z + z], samples[(size_t(z) * Y + y) * X + x]);
    }
}

TEST(VexaFileRead, MissingFileAndShortFiles)
{
    TempDir dir;
    Desc d = rawDesc(dir.file("gone"), 4, 4, 1, TYPEDATA_U8, 1);
    std::filesystem::remove(dir.file("gone"));
    EXPECT_EQ(vexaFileReadImage(d.get(), 0, 0), nullptr);
    EXPECT_EQ(vexaFileWriteImage(d.get(), "0123456789abcdef", 0, 0), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("gone")));

    // A tiled file with its second tile missing reads zeros there.
    std::string path = dir.file("short");
    writeBytes(path, Bytes(32768, 7));
    Desc t = rawDesc(path, 33, 1, 1, TYPEDATA_U8, 1);
    vexaFileSetTiled(t.get(), 1);
    Buffer row(vexaFileReadImage(t.get(), 0, 0));
    ASSERT_TRUE(row);
    for (int x = 0; x < 33; ++x)
        EXPECT_EQ(as<unsigned char>(row)[x], x < 32 ? 7 : 0);
    // Unknown type or absurd sizes: nothing is read.
    vexaFileSetTypeData(t.get(), 0);
    EXPECT_EQ(vexaFileReadImage(t.get(), 0, 0), nullptr);
    vexaFileSetTypeData(t.get(), TYPEDATA_F64);
    vexaFileSetSizes(t.get(), 2000000000, 2000000000, 2000000000);
    EXPECT_EQ(vexaFileReadBlockPart(t.get(), 0, 0, 0, 0, 1, 1, 1), nullptr);
}

TEST(VexaFileWrite, TransposedPlaneIsStoredColumnByColumn)
{
    TempDir dir;
    std::string path = dir.file("t");
    Desc d = rawDesc(path, 3, 2, 1, TYPEDATA_U8, 1);
    vexaFileSetTranspose(d.get(), 1);
    vexaFileSetSizes(d.get(), 3, 2, 1);
    EXPECT_EQ(vexaFileGetDimX(d.get()), 2);
    const unsigned char rows[] = { 1, 2, 3, 4, 5, 6 };
    ASSERT_EQ(vexaFileWriteImage(d.get(), rows, 0, 0), 1);
    EXPECT_EQ(readBytes(path), Bytes({ 1, 4, 2, 5, 3, 6 }));
}

TEST(VexaFileWrite, TiledVolumeOccupiesWholeTiles)
{
    TempDir dir;
    std::string path = dir.file("t");
    Desc d = rawDesc(path, 33, 1, 1, TYPEDATA_U8, 1, 256);
    vexaFileSetTiled(d.get(), 1);
    Bytes row(33, 9);
    ASSERT_EQ(vexaFileWriteBlock(d.get(), row.data()), 1);
    EXPECT_EQ(readBytes(path).size(), 256u + 2 * 32768u);
}

TEST(VexaFileWrite, TiledBigEndianBlockAcrossTwoTiles)
{
    TempDir dir;
    std::string path = dir.file("t");
    Desc d = rawDesc(path, 40, 2, 1, TYPEDATA_U16, 1);
    vexaFileSetTiled(d.get(), 1);
    std::vector<uint16_t> v(80);
    for (int i = 0; i < 80; ++i)
        v[size_t(i)] = uint16_t(0x1234 + i * 0x101);
    ASSERT_EQ(vexaFileWriteBlock(d.get(), v.data()), 1);
    Bytes f = readBytes(path);
    EXPECT_EQ(f[0], 0x12);
    EXPECT_EQ(f[1], 0x34);
    Buffer back(vexaFileReadBlockPart(d.get(), 0, 20, 0, 0, 20, 2, 1));
    ASSERT_TRUE(back);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 20; ++x)
            EXPECT_EQ(as<uint16_t>(back)[y * 20 + x], v[size_t(y * 40 + 20 + x)]);
    // Writing again replaces the samples instead of adding to them.
    ASSERT_EQ(vexaFileWriteBlock(d.get(), v.data()), 1);
    Buffer again(vexaFileReadBlock(d.get()));
    EXPECT_EQ(std::memcmp(again.get(), v.data(), 160), 0);
}

namespace {

struct OpCase {
    int type;
    int op;
    std::vector<double> stored, written, expected;
};

std::vector<unsigned char> typed(int type, const std::vector<double>& values)
{
    std::vector<unsigned char> out(values.size() * size_t(vexaTypeSize(type)));
    for (size_t i = 0; i < values.size(); ++i) {
        unsigned char* p = &out[i * size_t(vexaTypeSize(type))];
        switch (type) {
        case TYPEDATA_U8:
            *p = (unsigned char)values[i];
            break;
        case TYPEDATA_S16: {
            int16_t v = int16_t(values[i]);
            std::memcpy(p, &v, 2);
            break;
        }
        case TYPEDATA_F32: {
            float v = float(values[i]);
            std::memcpy(p, &v, 4);
            break;
        }
        default: {
            double v = values[i];
            std::memcpy(p, &v, 8);
            break;
        }
        }
    }
    return out;
}

class VexaFileOps : public ::testing::TestWithParam<OpCase> { };

TEST_P(VexaFileOps, CombineWithStoredSamples)
{
    const OpCase& c = GetParam();
    for (Layout layout : { Layout::Plain, Layout::Transposed, Layout::Tiled }) {
        TempDir dir;
        std::string path = dir.file("op");
        int n = int(c.stored.size());
        Volume v { layout, c.type, 1, n, 1, 1, 0 };
        Desc d = describe(path, v);
        ASSERT_EQ(vexaFileWriteBlock(d.get(), typed(c.type, c.stored).data()), 1);
        vexaFileSetOp(d.get(), c.op);
        ASSERT_EQ(vexaFileWriteBlock(d.get(), typed(c.type, c.written).data()), 1);
        Buffer got(vexaFileReadBlock(d.get()));
        ASSERT_TRUE(got);
        EXPECT_EQ(std::memcmp(got.get(), typed(c.type, c.expected).data(),
                      size_t(n * vexaTypeSize(c.type))),
            0)
            << "layout " << int(layout) << " op " << c.op;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, VexaFileOps,
    ::testing::Values(OpCase { TYPEDATA_U8, 4, { 10, 20 }, { 15, 15 }, { 15, 20 } },
        OpCase { TYPEDATA_U8, 3, { 10, 20 }, { 15, 15 }, { 10, 15 } },
        OpCase { TYPEDATA_U8, 1, { 200, 3 }, { 100, 4 }, { 255, 7 } },
        OpCase { TYPEDATA_U8, 2, { 20, 3 }, { 20, 4 }, { 255, 12 } },
        OpCase { TYPEDATA_U8, 99, { 10, 20 }, { 1, 2 }, { 10, 20 } },
        OpCase { TYPEDATA_U8, 0, { 10, 20 }, { 1, 2 }, { 1, 2 } },
        OpCase { TYPEDATA_S16, 1, { -30000, 5 }, { -30000, -9 }, { -32768, -4 } },
        OpCase { TYPEDATA_F32, 2, { 1.5, -2 }, { 2.5, 0.25 }, { 3.75, -0.5 } },
        OpCase { TYPEDATA_F64, 3, { 1e300, -2 }, { -1e300, 7 }, { -1e300, -2 } }));

} // namespace

TEST(VexaFileWrite, OpOnPartOfAPlaneLeavesTheRest)
{
    TempDir dir;
    std::string path = dir.file("p");
    Desc d = rawDesc(path, 4, 3, 2, TYPEDATA_U8, 1);
    Bytes ones(24, 1);
    ASSERT_EQ(vexaFileWriteBlock(d.get(), ones.data()), 1);
    vexaFileSetOp(d.get(), 1);
    Bytes add = { 10, 20, 30, 40 };
    // Orientation 2, y = 1: a 2 x 2 image whose top row is z = 1.
    ASSERT_EQ(vexaFileWriteImagePart(d.get(), add.data(), 2, 1, 0, 1, 2, 2), 1);
    Bytes f = readBytes(path);
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                int want = 1;
                if (y == 1 && x >= 1 && x <= 2)
                    want += add[size_t((1 - z) * 2 + (x - 1))];
                EXPECT_EQ(f[size_t((z * 3 + y) * 4 + x)], want) << x << y << z;
            }
}

TEST(VexaFileWrite, PicturesAndTiffFilesAreNotOverwritten)
{
    TempDir dir;
    std::string path = dir.file("pic.bmp");
    // 2 x 1 24-bit BMP.
    Bytes bmp = { 'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0,
        0, 1, 0, 24, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0 };
    writeBytes(path, bmp);
    Desc d = openDesc(path);
    ASSERT_EQ(vexaFileReadHeader(d.get()), 1);
    ASSERT_EQ(vexaFileGetTypeData(d.get()), TYPEDATA_RGBA);
    Buffer img(vexaFileReadImage(d.get(), 0, 0));
    ASSERT_TRUE(img);
    const unsigned char want[] = { 3, 2, 1, 0, 6, 5, 4, 0 };
    EXPECT_EQ(std::memcmp(img.get(), want, 8), 0);
    EXPECT_EQ(vexaFileWriteImage(d.get(), want, 0, 0), 0);
    EXPECT_EQ(readBytes(path), bmp);
}

TEST(VexaFileWrite, WriteFullChangesNothing)
{
    TempDir dir;
    std::string path = dir.file("f");
    writeBytes(path, Bytes(10, 3));
    Desc d = rawDesc(path, 100, 100, 100, TYPEDATA_U8, 1);
    EXPECT_EQ(vexaFileWriteFull(d.get()), 1);
    EXPECT_EQ(readBytes(path), Bytes(10, 3));
}

// ---- Logical volumes ----

TEST(VexaFileLogical, PartsOfAnotherTypeAreConvertedBothWays)
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("sub"));
    // Left half: U8 GDR; right half: S16 GDR; the volume is 4 x 2 x 2 U8.
    auto makePart = [&](const std::string& name, int type) {
        Desc p(vexaFileNew());
        std::string path = dir.file("sub/" + name);
        vexaFileSetFullName(p.get(), path.c_str());
        vexaFileSetSizes(p.get(), 2, 2, 2);
        vexaFileSetTypeData(p.get(), type);
        vexaFileSetHeader(p.get(), VEXAFILE_HEADER_GDR);
        EXPECT_EQ(vexaFileWriteHeader(p.get()), 1);
        return p;
    };
    Desc left = makePart("left.gdr", TYPEDATA_U8);
    Desc right = makePart("right.gdr", TYPEDATA_S16);
    const unsigned char l[] = { 1, 2, 3, 4, 5, 6, 7, 8 };
    const int16_t r[] = { 300, -5, 11, 12, 13, 14, 15, 16 };
    ASSERT_EQ(vexaFileWriteBlock(left.get(), l), 1);
    ASSERT_EQ(vexaFileWriteBlock(right.get(), r), 1);

    std::string desc = dir.file("vol.xml");
    writeText(desc,
        "<LOGICAL width=\"4\" height=\"2\" depth=\"2\">"
        "<PART NAME=\"sub\\left.gdr\" X=\"0\" Y=\"0\" Z=\"0\"/>"
        "<PART NAME=\"sub/right.gdr\" X=\"2\" Y=\"0\" Z=\"0\"/>"
        "<PART NAME=\"sub/missing.gdr\" X=\"0\" Y=\"0\" Z=\"0\"/>"
        "</LOGICAL>");
    Desc vol = openDesc(desc);
    ASSERT_EQ(vexaFileReadHeader(vol.get()), 1);
    ASSERT_EQ(vexaFileIsLogical(vol.get()), 1);
    EXPECT_EQ(vexaFileGetTypeData(vol.get()), TYPEDATA_U8);
    Buffer all(vexaFileReadBlock(vol.get()));
    ASSERT_TRUE(all);
    const unsigned char want[] = { 1, 2, 255, 0, 3, 4, 11, 12, 5, 6, 13, 14, 7, 8, 15, 16 };
    EXPECT_EQ(std::memcmp(all.get(), want, 16), 0);

    // The TOP plane of the logical volume is the same as that of a plain copy.
    std::string plainPath = dir.file("plain");
    Desc plain = rawDesc(plainPath, 4, 2, 2, TYPEDATA_U8, 1);
    ASSERT_EQ(vexaFileWriteBlock(plain.get(), want), 1);
    for (int o = 0; o < 3; ++o)
        for (int index = 0; index < 2; ++index) {
            Buffer a(vexaFileReadImage(vol.get(), o, index));
            Buffer b(vexaFileReadImage(plain.get(), o, index));
            ASSERT_TRUE(a && b);
            int n = o == 1 ? 4 : 8;
            EXPECT_EQ(std::memcmp(a.get(), b.get(), size_t(n)), 0) << o << " " << index;
        }

    // Writing through the volume converts to each part's type.
    const unsigned char plane[] = { 9, 9, 200, 7, 9, 9, 1, 2 };
    ASSERT_EQ(vexaFileWriteImage(vol.get(), plane, 0, 1), 1);
    Buffer rightBack(vexaFileReadBlock(right.get()));
    const int16_t wantRight[] = { 300, -5, 11, 12, 200, 7, 1, 2 };
    EXPECT_EQ(std::memcmp(rightBack.get(), wantRight, sizeof wantRight), 0);
}

TEST(VexaFileLogical, DescriptionsWithoutPartsSelfReferenceAndBadXml)
{
    TempDir dir;
    std::string path = dir.file("empty.xml");
    writeText(path, "<LOGICAL><WIDTH>5</WIDTH><HEIGHT>6</HEIGHT><DEPTH>7</DEPTH></LOGICAL>");
    Desc d = openDesc(path);
    ASSERT_EQ(vexaFileReadHeader(d.get()), 1);
    EXPECT_EQ(vexaFileIsLogical(d.get()), 0);
    EXPECT_EQ(vexaFileGetDimY(d.get()), 6);

    std::string self = dir.file("self.xml");
    writeText(self,
        "<LOGICAL width=\"5\" height=\"5\" depth=\"5\">"
        "<PART NAME=\"self.xml\" X=\"0\" Y=\"0\" Z=\"0\"/></LOGICAL>");
    Desc s = openDesc(self);
    EXPECT_EQ(vexaFileReadHeader(s.get()), 1);
    Buffer b(vexaFileReadBlockPart(s.get(), 0, 0, 0, 0, 2, 2, 2));

    const char* bad[]
        = { "<LOGICAL width=\"5\" height=\"5\">", "<LOGICAL width=\"5\" height=\"5\" depth=\"5\"",
              "<LOGICAL width=\"0\" height=\"5\" depth=\"5\"/>",
              "<LOGICAL width=\"-4\" height=\"5\" depth=\"5\"/>",
              "<OTHER width=\"4\" height=\"5\" depth=\"5\"/>",
              "<LOGICAL width=\"4\" width=\"4\" height=\"5\" depth=\"5\"/>" };
    for (const char* text : bad) {
        std::string p = dir.file("bad.xml");
        writeText(p, text);
        Desc x = openDesc(p);
        EXPECT_EQ(vexaFileReadHeader(x.get()), 0) << text;
    }
}

TEST(VexaFileLogical, PartsCannotFormCycles)
{
    Desc a(vexaFileNew());
    FileDescriptor* b = vexaFileNew();
    EXPECT_EQ(vexaFileAddLogicalPart(a.get(), a.get(), 0, 0, 0, 1, 1, 1), 0);
    ASSERT_EQ(vexaFileAddLogicalPart(a.get(), b, 0, 0, 0, 1, 1, 1), 1);
    EXPECT_EQ(vexaFileAddLogicalPart(b, a.get(), 0, 0, 0, 1, 1, 1), 0);
    EXPECT_EQ(vexaFileIsLogical(a.get()), 1);
}

// ---- Beyond 4 GiB ----

TEST(VexaFileLarge, PlanesBeyondFourGiB)
{
    TempDir dir;
    const int X = 1024, Y = 1024, Z = 4100; // 4100 MiB of U8
    for (Layout layout : { Layout::Plain, Layout::Tiled }) {
        std::string path = dir.file(layout == Layout::Plain ? "plain" : "tiled");
        int fd = ::open(path.c_str(), O_CREAT | O_RDWR, 0644);
        ASSERT_GE(fd, 0);
        int rc = ::ftruncate(fd, off_t(X) * Y * Z);
        ::close(fd);
        if (rc != 0)
            GTEST_SKIP() << "the file system refuses a sparse 4 GiB file";
        Volume v { layout, TYPEDATA_U8, 1, X, Y, Z, 0 };
        Desc d = describe(path, v);
        Bytes plane(size_t(X) * Y);
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = (unsigned char)(i * 7 + 3);
        ASSERT_EQ(vexaFileWriteImage(d.get(), plane.data(), 0, Z - 2), 1);
        Buffer back(vexaFileReadImage(d.get(), 0, Z - 2));
        ASSERT_TRUE(back);
        EXPECT_EQ(std::memcmp(back.get(), plane.data(), plane.size()), 0);
        Buffer column(vexaFileReadBlockPart(d.get(), 1, Z - 3, 0, 5, 3, Y, 1));
        ASSERT_TRUE(column);
        for (int y = 0; y < Y; ++y) {
            EXPECT_EQ(as<unsigned char>(column)[y * 3 + 1], plane[size_t(y * X + 5)]);
            EXPECT_EQ(as<unsigned char>(column)[y * 3 + 2], 0);
        }
        if (layout == Layout::Plain) {
            // The samples sit past the 4 GiB mark where a 32-bit offset would not reach.
            Bytes f(16);
            int in = ::open(path.c_str(), O_RDONLY);
            ASSERT_EQ(::pread(in, f.data(), 16, off_t(Z - 2) * X * Y), 16);
            ::close(in);
            EXPECT_EQ(std::memcmp(f.data(), plane.data(), 16), 0);
        }
        std::filesystem::remove(path);
    }
}
