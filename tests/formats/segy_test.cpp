#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formats/formats.h"
#include "support/tempdir.h"
#include "vexa_types.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;

std::string segyData(const std::string& name)
{
    return std::string(VEXA_TESTDATA_DIR) + "/segy/" + name;
}

#define SKIP_WITHOUT_TESTDATA()                                                                    \
    if (!fs::is_directory(std::string(VEXA_TESTDATA_DIR) + "/segy"))                               \
    GTEST_SKIP() << "no test data"

struct Loaded {
    FormatHeader header;
    std::vector<float> samples;
};

bool load(const std::string& path, Loaded& out, std::string* reason = nullptr)
{
    const FormatReader& r = segyReader();
    if (!r.probe(path, out.header, reason))
        return false;
    EXPECT_EQ(out.header.typeData, TYPEDATA_F32);
    out.samples.assign(
        std::size_t(out.header.width) * out.header.height * out.header.depth, -1e30f);
    return r.read(path, out.header, out.samples.data(), reason);
}

float at(const Loaded& l, int x, int y, int z)
{
    return l.samples[(std::size_t(z) * l.header.height + y) * l.header.width + x];
}

void copyPrefix(const std::string& from, const std::string& to, std::size_t bytes)
{
    std::ifstream in(from, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(to, std::ios::binary)
        .write(all.data(), std::streamsize(std::min(bytes, all.size())));
}

TEST(SegyReader, SmallCubesHaveInlineSectionsAsFrontPlanes)
{
    SKIP_WITHOUT_TESTDATA();
    // value = inline + crossline / 100 + sample * 1e-5, inlines 1.., crosslines 20..
    for (const char* name : { "small.sgy", "small-lsb.sgy", "tiny.sgy" }) {
        SCOPED_TRACE(name);
        Loaded l;
        std::string reason;
        ASSERT_TRUE(load(segyData(name), l, &reason)) << reason;
        const bool tiny = std::string(name) == "tiny.sgy";
        EXPECT_EQ(l.header.width, tiny ? 2 : 5);
        EXPECT_EQ(l.header.height, tiny ? 4 : 50);
        EXPECT_EQ(l.header.depth, tiny ? 3 : 5);
        EXPECT_DOUBLE_EQ(l.header.origin[0], 20);
        EXPECT_DOUBLE_EQ(l.header.origin[2], 1);
        EXPECT_DOUBLE_EQ(l.header.spacing[1], tiny ? 1 : 4);
        for (int z = 0; z < l.header.depth; ++z)
            for (int y = 0; y < l.header.height; ++y)
                for (int x = 0; x < l.header.width; ++x)
                    ASSERT_NEAR(at(l, x, y, z), (z + 1) + (20 + x) / 100.0 + y * 1e-5, 2e-6)
                        << x << "," << y << "," << z;
        EXPECT_NE(l.header.info.find("Inlines : 1 à"), std::string::npos) << l.header.info;
    }
}

TEST(SegyReader, EveryEncodingOfTheF3CropGivesTheSameSamples)
{
    SKIP_WITHOUT_TESTDATA();
    Loaded ref;
    ASSERT_TRUE(load(segyData("f3.sgy"), ref));
    EXPECT_EQ(ref.header.width, 18);
    EXPECT_EQ(ref.header.height, 75);
    EXPECT_EQ(ref.header.depth, 23);
    EXPECT_DOUBLE_EQ(ref.header.origin[0], 875);
    EXPECT_DOUBLE_EQ(ref.header.origin[2], 111);
    EXPECT_EQ(at(ref, 0, 74, 0), -394.0f);
    const auto [lo, hi] = std::minmax_element(ref.samples.begin(), ref.samples.end());
    EXPECT_EQ(*lo, -10239.0f);
    EXPECT_EQ(*hi, 10827.0f);
    for (const char* name :
        { "f3-lsb.sgy", "Format1msb.sgy", "Format5msb.sgy", "Format5lsb.sgy" }) {
        SCOPED_TRACE(name);
        Loaded other;
        ASSERT_TRUE(load(segyData(name), other));
        EXPECT_EQ(other.samples, ref.samples);
    }
}

TEST(SegyReader, ExtendedTextHeadersAreSkipped)
{
    SKIP_WITHOUT_TESTDATA();
    Loaded l;
    ASSERT_TRUE(load(segyData("multi-text.sgy"), l));
    EXPECT_EQ(l.header.width * l.header.height * l.header.depth, 1);
    EXPECT_NE(l.header.info.find("étendus : 4"), std::string::npos) << l.header.info;
}

TEST(SegyReader, RefusesFilesWithoutWholeTraces)
{
    SKIP_WITHOUT_TESTDATA();
    vexatest::TempDir dir;
    const std::string truncated = dir.file("cut.sgy");
    copyPrefix(segyData("small.sgy"), truncated, 14600 - 100);
    const std::string shortHeader = dir.file("short.sgy");
    copyPrefix(segyData("small.sgy"), shortHeader, 3599);
    for (const std::string& path : { truncated, shortHeader, segyData("text.sgy") }) {
        FormatHeader h;
        std::string reason;
        EXPECT_FALSE(segyReader().probe(path, h, &reason)) << path;
        EXPECT_EQ(reason.rfind(path + " : ", 0), 0u) << reason;
    }
}

TEST(SegyReader, SniffsByHeaderWithoutTheExtension)
{
    SKIP_WITHOUT_TESTDATA();
    vexatest::TempDir dir;
    const std::string renamed = dir.file("cube.bin");
    copyPrefix(segyData("f3-lsb.sgy"), renamed, 1 << 20);
    const FormatReader* claimed = formatReaderFor(renamed, formatHead(renamed));
    ASSERT_NE(claimed, nullptr);
    EXPECT_EQ(claimed->probe, segyReader().probe);
    EXPECT_FALSE(segyReader().sniff("noise.bin", std::string(4000, '\x01')));
    EXPECT_FALSE(segyReader().sniff("short.sgy", std::string(100, 'C')));
}

// A 3 x 7 x 4 S16 block with a value scale and a line numbering of its own.
struct WrittenBlock {
    std::vector<std::int16_t> data;
    FormatBlockView view;
    WrittenBlock()
    {
        data.resize(3 * 7 * 4);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = std::int16_t(int(i) * 37 - 500);
        view.width = 3;
        view.height = 7;
        view.depth = 4;
        view.typeData = TYPEDATA_S16;
        view.samples = data.data();
        view.valueScaleOn = true;
        view.valueGain = 0.5;
        view.valueOffset = 10;
        view.origin[0] = 100; // first crossline
        view.spacing[0] = 2;
        view.origin[2] = 7; // first inline
        view.spacing[2] = 1;
        view.spacing[1] = 2; // ms
    }
    float value(int x, int y, int z) const
    {
        return float(data[(std::size_t(z) * 7 + y) * 3 + x] * 0.5 + 10);
    }
};

TEST(SegyWriter, RoundTripsThroughTheReader)
{
    vexatest::TempDir dir;
    const std::string path = dir.file("out.sgy");
    WrittenBlock b;
    std::string reason;
    ASSERT_TRUE(segyWriter().write(path, b.view, &reason)) << reason;
    Loaded l;
    ASSERT_TRUE(load(path, l, &reason)) << reason;
    EXPECT_EQ(l.header.width, 3);
    EXPECT_EQ(l.header.height, 7);
    EXPECT_EQ(l.header.depth, 4);
    EXPECT_DOUBLE_EQ(l.header.origin[0], 100);
    EXPECT_DOUBLE_EQ(l.header.spacing[0], 2);
    EXPECT_DOUBLE_EQ(l.header.origin[2], 7);
    EXPECT_DOUBLE_EQ(l.header.spacing[1], 2);
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 3; ++x)
                ASSERT_EQ(at(l, x, y, z), b.value(x, y, z));
    EXPECT_EQ(segyWriter().extension, std::string(".sgy"));
    EXPECT_EQ(formatWriterFor(path)->write, segyWriter().write);
}

TEST(SegyWriter, ProducesFilesSegyioReads)
{
    // The system interpreter holds the Debian package even where another python3
    // comes first in PATH.
    std::string python;
    for (const char* candidate : { "python3", "/usr/bin/python3" })
        if (python.empty()
            && std::system((std::string(candidate) + " -c 'import segyio' >/dev/null 2>&1").c_str())
                == 0)
            python = candidate;
    if (python.empty())
        GTEST_SKIP() << "python3-segyio missing";
    vexatest::TempDir dir;
    const std::string path = dir.file("py.sgy");
    WrittenBlock b;
    ASSERT_TRUE(segyWriter().write(path, b.view, nullptr));
    const std::string script = dir.file("check.py");
    std::ofstream(script) << "import segyio, sys\n"
                             "with segyio.open(sys.argv[1]) as f:\n"
                             "    c = segyio.tools.cube(f)\n"
                             "    print(list(f.ilines), list(f.xlines), len(f.samples), "
                             "float(c[2][1][5]), f.bin[segyio.BinField.Format])\n";
    const std::string out = dir.file("out.txt");
    ASSERT_EQ(std::system((python + " " + script + " " + path + " > " + out).c_str()), 0);
    std::ifstream in(out);
    std::string line;
    std::getline(in, line);
    // Python prints the float in its shortest form: compare the numbers apart.
    EXPECT_EQ(line.substr(0, line.find("] 7 ") + 4), "[7, 8, 9, 10] [100, 102, 104] 7 ");
    EXPECT_NEAR(std::atof(line.substr(line.find("] 7 ") + 4).c_str()), b.value(1, 5, 2), 1e-6);
    EXPECT_EQ(line.substr(line.size() - 2), " 5");
}

TEST(SegyWriter, FailureKeepsTheOldFile)
{
    vexatest::TempDir dir;
    const std::string path = dir.file("keep.sgy");
    std::ofstream(path) << "old";
    WrittenBlock b;
    std::string reason;
    b.view.height = 40000; // more samples than a trace can declare
    std::vector<std::int16_t> big(std::size_t(3) * 40000 * 4);
    b.view.samples = big.data();
    EXPECT_FALSE(segyWriter().write(path, b.view, &reason));
    EXPECT_EQ(reason.rfind(path + " : ", 0), 0u) << reason;
    std::ifstream in(path);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "old");
    EXPECT_FALSE(segyWriter().accepts(TYPEDATA_RGBA));
    EXPECT_FALSE(segyWriter().write(dir.file("missing/x.sgy"), WrittenBlock().view, &reason));
    EXPECT_FALSE(reason.empty());
}

} // namespace
} // namespace vexa
