// Readers and writers of the formats with a small text header (NRRD, MetaImage,
// other programs' INRIA, legacy VTK images): the shared test files with their known
// figures, refused headers, and writes read back.
#include "formats/formats.h"
#include "support/tempdir.h"
#include "vexa_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <zlib.h>

namespace vexa {
namespace {

namespace fs = std::filesystem;

std::string volumeFile(const std::string& name)
{
    return std::string(VEXA_TESTDATA_DIR) + "/volume/" + name;
}

#define SKIP_WITHOUT_TESTDATA()                                                                    \
    if (!fs::is_directory(volumeFile("")))                                                         \
    GTEST_SKIP() << "no test data"

double sampleAt(const std::vector<unsigned char>& bytes, int type, std::size_t i)
{
    auto get = [&](auto v) {
        std::memcpy(&v, bytes.data() + i * sizeof v, sizeof v);
        return double(v);
    };
    switch (type) {
    case TYPEDATA_S8:
        return get(std::int8_t());
    case TYPEDATA_U16:
        return get(std::uint16_t());
    case TYPEDATA_S16:
        return get(std::int16_t());
    case TYPEDATA_U32:
        return get(std::uint32_t());
    case TYPEDATA_S32:
        return get(std::int32_t());
    case TYPEDATA_F32:
        return get(float());
    case TYPEDATA_F64:
        return get(double());
    default:
        return get(std::uint8_t());
    }
}

struct Loaded {
    const FormatReader* reader = nullptr;
    FormatHeader header;
    std::vector<unsigned char> bytes;
    std::string reason;
    bool ok = false;
};

// The file through the reader that claims it: probe, allocation, read.
Loaded load(const std::string& path)
{
    Loaded out;
    out.reader = formatReaderFor(path, formatHead(path));
    if (!out.reader || !out.reader->probe(path, out.header, &out.reason))
        return out;
    const FormatHeader& h = out.header;
    out.bytes.resize(std::size_t(h.width) * h.height * h.depth * vexaTypeSize(h.typeData));
    out.ok = out.reader->read(path, h, out.bytes.data(), &out.reason);
    return out;
}

struct Figures {
    const char* file;
    const char* reader;
    int width, height, depth, type;
    double min, max, mean;
};

TEST(TextFormats, SharedFilesReadWithTheirKnownFigures)
{
    SKIP_WITHOUT_TESTDATA();
    const Figures all[] = {
        { "nrrd/BallBinary30x30x30.nrrd", "NRRD", 30, 30, 30, TYPEDATA_S16, 0, 257, 136.381 },
        { "nrrd/BallBinary30x30x30.nhdr", "NRRD", 30, 30, 30, TYPEDATA_S16, 0, 257, 136.381 },
        { "nrrd/BallBinary30x30x30_gz.nrrd", "NRRD", 30, 30, 30, TYPEDATA_S16, 0, 257, 136.381 },
        // Colour: the figures are over the red, green and blue bytes.
        { "nrrd/beach.nrrd", "NRRD", 100, 100, 1, TYPEDATA_RGBA, 0, 255, 193.764 },
        { "headsq/quarter.nhdr", "NRRD", 64, 64, 93, TYPEDATA_S16, 0, 3926, 507.687 },
        { "metaimage/BrainProtonDensity3Slices.mha", "MetaImage", 181, 217, 3, TYPEDATA_U8, 0, 250,
            124.973 },
        { "metaimage/foot.mha", "MetaImage", 256, 256, 1, TYPEDATA_U8, 0, 218, 31.3614 },
        { "inr/skull_2.9.inr", "INRIA (autres programmes)", 64, 64, 64, TYPEDATA_F32, 2.17e-13,
            5.4288, 0.596213 },
        { "inr/sphere.inr", "INRIA (autres programmes)", 10, 10, 10, TYPEDATA_U8, 1, 3, 1.584 },
        { "inr/420.inr", "INRIA (autres programmes)", 2, 2, 2, TYPEDATA_U8, 0, 4, 2.5 },
        { "inr/small-scalar.inr", "INRIA (autres programmes)", 2, 2, 2, TYPEDATA_F32, -3, 6, 0.2 },
        { "vtk/vtk-ironProt.vtk", "Image VTK", 68, 68, 68, TYPEDATA_U8, 0, 255, 13.1383 },
        { "vtk/vtk-matrix.vtk", "Image VTK", 10, 5, 1, TYPEDATA_F32, 0, 1, 0.2 },
    };
    for (const Figures& f : all) {
        SCOPED_TRACE(f.file);
        Loaded l = load(volumeFile(f.file));
        ASSERT_NE(l.reader, nullptr);
        EXPECT_STREQ(l.reader->name, f.reader);
        ASSERT_TRUE(l.ok) << l.reason;
        EXPECT_EQ(l.header.width, f.width);
        EXPECT_EQ(l.header.height, f.height);
        EXPECT_EQ(l.header.depth, f.depth);
        ASSERT_EQ(l.header.typeData, f.type);
        const bool colour = f.type == TYPEDATA_RGBA;
        const std::size_t count = colour ? l.bytes.size() : l.bytes.size() / vexaTypeSize(f.type);
        double lo = INFINITY, hi = -INFINITY, sum = 0;
        std::size_t n = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (colour && i % 4 == 3)
                continue;
            const double v = sampleAt(l.bytes, colour ? TYPEDATA_U8 : f.type, i);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            sum += v;
            ++n;
        }
        EXPECT_NEAR(lo, f.min, std::abs(f.min) * 1e-3 + 1e-12);
        EXPECT_NEAR(hi, f.max, std::abs(f.max) * 1e-4);
        EXPECT_NEAR(sum / double(n), f.mean, std::abs(f.mean) * 1e-4);
    }

    // Geometry and stored order where the notes give them.
    Loaded head = load(volumeFile("headsq/quarter.nhdr"));
    EXPECT_DOUBLE_EQ(head.header.spacing[0], 3.2);
    EXPECT_DOUBLE_EQ(head.header.spacing[2], 1.5);
    Loaded skull = load(volumeFile("inr/skull_2.9.inr"));
    EXPECT_NEAR(skull.header.spacing[0], 3.94305, 1e-6);
    EXPECT_NEAR(skull.header.spacing[2], 3.65079, 1e-6);
    Loaded small = load(volumeFile("inr/small-scalar.inr"));
    const double order[] = { 6, -2, -1, 3, -3, 1, -1, -1.4 };
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_FLOAT_EQ(float(sampleAt(small.bytes, TYPEDATA_F32, i)), float(order[i]));
    Loaded ascii = load(volumeFile("nrrd/beach.ascii.nhdr"));
    ASSERT_TRUE(ascii.ok) << ascii.reason;
    EXPECT_EQ(ascii.header.width, 100);
    EXPECT_EQ(ascii.header.height, 100);
    EXPECT_FLOAT_EQ(float(sampleAt(ascii.bytes, TYPEDATA_F32, 46)), 0.996078f);
}

TEST(TextFormats, PackedCopiesReadLikeTheirOriginals)
{
    SKIP_WITHOUT_TESTDATA();
    vexatest::TempDir dir("vexa-packed");
    const Loaded plain = load(volumeFile("inr/sphere.inr"));
    ASSERT_TRUE(plain.ok) << plain.reason;
    std::ifstream in(volumeFile("inr/sphere.inr"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string gzPath = dir.file("sphere.inr.gz");
    gzFile gz = gzopen(gzPath.c_str(), "wb");
    ASSERT_NE(gz, nullptr);
    ASSERT_EQ(gzwrite(gz, bytes.data(), unsigned(bytes.size())), int(bytes.size()));
    gzclose(gz);
    const Loaded packed = load(gzPath);
    ASSERT_TRUE(packed.ok) << packed.reason;
    EXPECT_EQ(packed.header.width, 10);
    EXPECT_EQ(packed.bytes, plain.bytes);

    // MetaImage packs with zlib; the samples follow the header in the same file.
    const Loaded foot = load(volumeFile("metaimage/foot.mha"));
    ASSERT_TRUE(foot.ok) << foot.reason;
    uLongf size = compressBound(uLong(foot.bytes.size()));
    std::string deflated(size, '\0');
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(deflated.data()), &size, foot.bytes.data(),
                  uLong(foot.bytes.size())),
        Z_OK);
    deflated.resize(size);
    const std::string mhaPath = dir.file("foot.mha");
    std::ofstream(mhaPath, std::ios::binary)
        << "ObjectType = Image\nNDims = 2\nDimSize = 256 256\nElementType = MET_UCHAR\n"
           "CompressedData = True\nCompressedDataSize = "
        << size << "\nElementDataFile = LOCAL\n"
        << deflated;
    const Loaded meta = load(mhaPath);
    ASSERT_TRUE(meta.ok) << meta.reason;
    EXPECT_EQ(meta.bytes, foot.bytes);
}

TEST(TextFormats, PolygonFilesAndStrangersAreNotClaimed)
{
    SKIP_WITHOUT_TESTDATA();
    const std::string mesh = std::string(VEXA_TESTDATA_DIR) + "/mesh/vtk/vtk-polyEx.vtk";
    EXPECT_EQ(formatReaderFor(mesh, formatHead(mesh)), nullptr);
    const std::string raw = volumeFile("raw/headsq_64x64x93_int16le.raw");
    EXPECT_EQ(formatReaderFor(raw, formatHead(raw)), nullptr);
    EXPECT_TRUE(formatUnsupportedReason(raw, formatHead(raw)).empty());
}

class BadHeaders : public ::testing::Test {
protected:
    std::string put(const std::string& name, const std::string& bytes)
    {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // Refused at probe or read, with a reason that names the file.
    void expectRefused(const std::string& path, const std::string& words = {})
    {
        SCOPED_TRACE(path);
        Loaded l = load(path);
        ASSERT_NE(l.reader, nullptr);
        EXPECT_FALSE(l.ok);
        EXPECT_EQ(l.reason.rfind(path + " : ", 0), 0u) << l.reason;
        if (!words.empty()) {
            EXPECT_NE(l.reason.find(words), std::string::npos) << l.reason;
        }
    }
    vexatest::TempDir dir { "vexa-textformats" };
};

TEST_F(BadHeaders, NrrdHeadersThatDoNotMatchTheirData)
{
    const std::string nrrd = "NRRD0004\ntype: uint8\ndimension: 2\nencoding: raw\n";
    expectRefused(put("short.nrrd", nrrd + "sizes: 10 10\n\n" + std::string(50, 'x')));
    expectRefused(put("type.nrrd",
                      "NRRD0004\ntype: int64\ndimension: 1\nsizes: 4\n"
                      "encoding: raw\n\n"
                          + std::string(32, '\0')),
        "int64");
    expectRefused(put("negative.nrrd", nrrd + "sizes: -3 4\n\n" + std::string(12, '\0')));
    expectRefused(put("huge.nrrd", nrrd + "sizes: 2000000000 2000000000\n\n" + "xx"));
    expectRefused(put("axes.nrrd", nrrd + "sizes: 4\n\n" + std::string(4, '\0')));
    expectRefused(put("packing.nrrd",
                      "NRRD0004\ntype: uint8\ndimension: 1\nsizes: 4\n"
                      "encoding: bzip2\n\nxxxx"),
        "bzip2");
    expectRefused(put("detached.nhdr", nrrd + "sizes: 2 2\ndata file: absent.raw\n"), "absent.raw");
    expectRefused(put("ascii.nrrd",
        "NRRD0004\ntype: float\ndimension: 1\nsizes: 4\n"
        "encoding: ascii\n\n1 2 3\n"));
    expectRefused(put("words.nrrd",
                      "NRRD0004\ntype: float\ndimension: 1\nsizes: 2\n"
                      "encoding: ascii\n\n1 deux\n"),
        "deux");
    // A gzip stream cut short, and one that is not gzip at all.
    std::string packed(64, '\0');
    uLongf packedSize = uLongf(packed.size());
    const std::string plain(40, 'a');
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(plain.data()), uLong(plain.size())),
        Z_OK);
    const std::string gz = "NRRD0004\ntype: uint8\ndimension: 1\nsizes: 80\nencoding: gzip\n\n";
    expectRefused(put("cut.nrrd", gz + packed.substr(0, packedSize)));
    expectRefused(put("noise.nrrd", gz + std::string(100, '\x55')));
}

TEST_F(BadHeaders, OtherFormatsRefuseWhatTheirFilesCannotHold)
{
    expectRefused(put("zero.mha",
        "NDims = 2\nDimSize = 0 4\nElementType = MET_UCHAR\nElementDataFile = LOCAL\n"));
    expectRefused(put("type.mha",
                      "NDims = 1\nDimSize = 4\nElementType = MET_LONG_LONG\nElementDataFile = "
                      "LOCAL\n"
                          + std::string(32, '\0')),
        "MET_LONG_LONG");
    expectRefused(put("missing.mhd",
                      "NDims = 2\nDimSize = 2 2\nElementType = MET_UCHAR\nElementDataFile = "
                      "gone.raw\n"),
        "gone.raw");
    expectRefused(put("short.mha",
        "NDims = 3\nDimSize = 4 4 4\nElementType = MET_SHORT\nElementDataFile = LOCAL\nxx"));
    std::string inr = "#INRIMAGE-4#{\nXDIM=-1\nYDIM=2\nZDIM=1\nTYPE=unsigned fixed\nPIXSIZE=8 "
                      "bits\nCPU=decm\n##}\n";
    expectRefused(put("negative.inr", inr + "xx"), "XDIM");
    inr = "#INRIMAGE-4#{\nXDIM=2\nYDIM=2\nZDIM=1\nTYPE=packed\nPIXSIZE=8 bits\n##}\n";
    expectRefused(put("type.inr", inr + "xxxx"), "packed");
    inr = "#INRIMAGE-4#{\nXDIM=2\nYDIM=2\nZDIM=1\nTYPE=float\nPIXSIZE=32 bits\n##}\n";
    expectRefused(put("short.inr", inr + "xxxx"));
    const std::string vtk
        = "# vtk DataFile Version 3.0\nt\nASCII\nDATASET STRUCTURED_POINTS\nDIMENSIONS 2 2 1\n";
    expectRefused(put("count.vtk",
        vtk
            + "POINT_DATA 5\nSCALARS s float\nLOOKUP_TABLE default\n"
              "1 2 3 4 5\n"));
    expectRefused(
        put("type.vtk", vtk + "POINT_DATA 4\nSCALARS s bit\nLOOKUP_TABLE default\n1 0 1 0\n"),
        "bit");
    expectRefused(put("binary.vtk",
        "# vtk DataFile Version 3.0\nt\nBINARY\nDATASET STRUCTURED_POINTS\nDIMENSIONS 4 4 4\n"
        "POINT_DATA 64\nSCALARS s short\nLOOKUP_TABLE default\nxxxx"));
}

// Samples whose bytes differ from each other and from their neighbours.
std::vector<unsigned char> pattern(std::size_t bytes)
{
    std::vector<unsigned char> out(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<unsigned char>(i * 37 + 11);
    return out;
}

TEST(TextWriters, WhatIsWrittenReadsBackUnchanged)
{
    vexatest::TempDir dir("vexa-textwriters");
    int checked = 0;
    for (const char* name : { "NRRD", "MetaImage" }) {
        const auto it = std::find_if(formatWriters().begin(), formatWriters().end(),
            [&](const FormatWriter& w) { return std::strcmp(w.name, name) == 0; });
        ASSERT_NE(it, formatWriters().end()) << name;
        for (int type : vexaTypeListOrder) {
            ASSERT_TRUE(it->accepts(type)) << name << " " << type;
            for (int depth : { 1, 3 }) {
                SCOPED_TRACE(std::string(name) + " type " + std::to_string(type) + " depth "
                    + std::to_string(depth));
                const std::string path = dir.file(
                    "out" + std::to_string(type) + "_" + std::to_string(depth) + it->extension);
                const std::vector<unsigned char> samples
                    = pattern(std::size_t(5) * 2 * depth * vexaTypeSize(type));
                FormatBlockView view;
                view.width = 5;
                view.height = 2;
                view.depth = depth;
                view.typeData = type;
                view.samples = samples.data();
                view.spacing[0] = 0.5;
                view.spacing[1] = 2;
                view.spacing[2] = 1.25;
                std::string reason;
                ASSERT_TRUE(it->write(path, view, &reason)) << reason;
                EXPECT_EQ(formatWriterFor(path), &*it);
                Loaded l = load(path);
                ASSERT_TRUE(l.ok) << l.reason;
                EXPECT_STREQ(l.reader->name, name);
                EXPECT_EQ(l.header.width, 5);
                EXPECT_EQ(l.header.height, 2);
                EXPECT_EQ(l.header.depth, depth);
                EXPECT_EQ(l.header.typeData, type);
                EXPECT_DOUBLE_EQ(l.header.spacing[0], 0.5);
                EXPECT_DOUBLE_EQ(l.header.spacing[1], 2);
                if (depth > 1) {
                    EXPECT_DOUBLE_EQ(l.header.spacing[2], 1.25);
                }
                // Colour keeps its alpha byte too.
                EXPECT_EQ(l.bytes, samples);
                ++checked;
            }
        }
        // A refused write leaves the old file as it was.
        const std::string keep = dir.file(std::string("keep") + it->extension);
        std::ofstream(keep) << "old";
        FormatBlockView bad;
        bad.width = 2;
        bad.typeData = 0;
        std::string reason;
        EXPECT_FALSE(it->write(keep, bad, &reason));
        EXPECT_EQ(reason.rfind(keep + " : ", 0), 0u) << reason;
        EXPECT_EQ(fs::file_size(keep), 3u);
        EXPECT_FALSE(it->write(dir.file("no/such/folder/x") + it->extension, bad, &reason));
    }
    EXPECT_EQ(checked, 2 * 9 * 2);
}

} // namespace
} // namespace vexa
