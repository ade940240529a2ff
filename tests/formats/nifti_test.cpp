// NIfTI through niftilib: the third-party volumes, header/image pairs, bad files, the
// writer, and our files as another NIfTI reader (nibabel) sees them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "formats/formats.h"
#include "support/tempdir.h"
#include "vexa_types.h"

namespace vexa {
namespace {

const std::string kNifti = std::string(VEXA_TESTDATA_DIR) + "/volume/nifti/";

#define REQUIRE_TESTDATA()                                                                         \
    do {                                                                                           \
        if (!std::filesystem::exists(kNifti))                                                      \
            GTEST_SKIP() << "no test data in " << kNifti;                                          \
    } while (0)

struct Loaded {
    bool ok = false;
    FormatHeader header;
    std::vector<uint8_t> samples;
    std::string reason;
};

Loaded load(const std::string& path)
{
    Loaded l;
    const FormatReader* reader = formatReaderFor(path, formatHead(path));
    if (!reader || std::string(reader->name) != "NIfTI") {
        l.reason = "not claimed";
        return l;
    }
    if (!reader->probe(path, l.header, &l.reason))
        return l;
    l.samples.resize(std::size_t(l.header.width) * std::size_t(l.header.height)
        * std::size_t(l.header.depth) * std::size_t(vexaTypeSize(l.header.typeData)));
    l.ok = reader->read(path, l.header, l.samples.data(), &l.reason);
    return l;
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

// The samples of a file as stored at 352, swapped to this machine's order.
std::vector<uint8_t> rawSamples(const std::string& file, std::size_t bytes, int size, bool swap)
{
    const std::string all = slurp(file);
    std::vector<uint8_t> raw(all.begin() + 352, all.begin() + 352 + std::ptrdiff_t(bytes));
    if (swap)
        for (std::size_t i = 0; i < raw.size(); i += std::size_t(size))
            std::reverse(raw.begin() + std::ptrdiff_t(i), raw.begin() + std::ptrdiff_t(i) + size);
    return raw;
}

template <typename T> void stats(const Loaded& l, double& lo, double& hi, double& mean)
{
    const std::size_t n = l.samples.size() / sizeof(T);
    double sum = 0;
    lo = INFINITY, hi = -INFINITY;
    for (std::size_t i = 0; i < n; ++i) {
        T v;
        std::memcpy(&v, l.samples.data() + i * sizeof(T), sizeof(T));
        lo = std::min(lo, double(v)), hi = std::max(hi, double(v)), sum += double(v);
    }
    mean = sum / double(n);
}

TEST(NiftiReader, OpensTheSampleVolumes)
{
    REQUIRE_TESTDATA();
    double lo, hi, mean;
    const Loaded anat = load(kNifti + "anatomical.nii");
    ASSERT_TRUE(anat.ok) << anat.reason;
    EXPECT_EQ(anat.header.width, 33);
    EXPECT_EQ(anat.header.height, 41);
    EXPECT_EQ(anat.header.depth, 25);
    ASSERT_EQ(anat.header.typeData, TYPEDATA_S16);
    EXPECT_EQ(anat.header.spacing[0], 2);
    EXPECT_EQ(anat.header.spacing[2], 2);
    EXPECT_FALSE(anat.header.valueScaleOn);
    stats<int16_t>(anat, lo, hi, mean);
    EXPECT_EQ(lo, -610);
    EXPECT_EQ(hi, 30393);
    EXPECT_NEAR(mean, 8401.07, 0.01);
    EXPECT_EQ(anat.samples, rawSamples(kNifti + "anatomical.nii", anat.samples.size(), 2, true));

    const Loaded moved = load(kNifti + "reoriented_anat_moved.nii");
    ASSERT_TRUE(moved.ok) << moved.reason;
    EXPECT_EQ(moved.header.width * moved.header.height * moved.header.depth, 21 * 26 * 22);
    ASSERT_EQ(moved.header.typeData, TYPEDATA_F32);
    stats<float>(moved, lo, hi, mean);
    EXPECT_EQ(lo, 0);
    EXPECT_NEAR(hi, 21199.9, 0.1);
    EXPECT_NEAR(mean, 2725.59, 0.01);
}

TEST(NiftiReader, OpensTheFirstVolumeOfASeriesWithItsScale)
{
    REQUIRE_TESTDATA();
    const Loaded f = load(kNifti + "functional.nii");
    ASSERT_TRUE(f.ok) << f.reason;
    EXPECT_EQ(f.header.width, 17);
    EXPECT_EQ(f.header.height, 21);
    EXPECT_EQ(f.header.depth, 3);
    ASSERT_EQ(f.header.typeData, TYPEDATA_S16);
    EXPECT_TRUE(f.header.valueScaleOn);
    EXPECT_NEAR(f.header.valueGain, 0.0754, 1e-4);
    EXPECT_NEAR(f.header.valueOffset, 3100.76, 1e-2);
    EXPECT_NE(f.header.info.find("20 volumes : seul le premier est lu"), std::string::npos)
        << f.header.info;
    EXPECT_EQ(f.samples, rawSamples(kNifti + "functional.nii", f.samples.size(), 2, false));
}

FormatBlockView blockOf(int type, int w, int h, int d, const std::vector<uint8_t>& data)
{
    FormatBlockView b;
    b.width = w, b.height = h, b.depth = d, b.typeData = type;
    b.samples = data.data();
    b.spacing[0] = 0.5, b.spacing[1] = 0.75, b.spacing[2] = 3;
    b.origin[0] = -10, b.origin[1] = 4, b.origin[2] = 2.5;
    return b;
}

std::vector<uint8_t> pattern(std::size_t bytes)
{
    std::vector<uint8_t> data(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        data[i] = uint8_t(i * 53 + 7 + i / 5);
    return data;
}

TEST(NiftiWriter, RoundTripsEveryTypeWithGeometryAndScale)
{
    vexatest::TempDir dir;
    for (const char* ext : { ".nii", ".nii.gz" })
        for (int type : vexaTypeListOrder) {
            const int w = 5, h = 3, d = 2;
            const std::vector<uint8_t> data = pattern(std::size_t(w * h * d * vexaTypeSize(type)));
            FormatBlockView block = blockOf(type, w, h, d, data);
            block.valueScaleOn = type != TYPEDATA_RGBA;
            block.valueGain = 0.25, block.valueOffset = -3;
            const std::string path = dir.file(std::string("out") + ext);
            ASSERT_EQ(std::string(formatWriterFor(path)->name), "NIfTI");
            std::string reason;
            ASSERT_TRUE(niftiWriter().write(path, block, &reason)) << reason;
            const Loaded l = load(path);
            ASSERT_TRUE(l.ok) << ext << " " << type << ": " << l.reason;
            EXPECT_EQ(l.header.width, w);
            EXPECT_EQ(l.header.height, h);
            EXPECT_EQ(l.header.depth, d);
            EXPECT_EQ(l.header.typeData, type);
            EXPECT_EQ(l.samples, data) << ext << " type " << type;
            EXPECT_EQ(l.header.spacing[1], 0.75);
            EXPECT_EQ(l.header.origin[0], -10);
            EXPECT_EQ(l.header.valueScaleOn, block.valueScaleOn);
            if (block.valueScaleOn) {
                EXPECT_EQ(l.header.valueGain, 0.25);
            }
        }
}

TEST(NiftiWriter, WidthsBeyondSixteenBitsUseNifti2)
{
    vexatest::TempDir dir;
    const std::vector<uint8_t> data = pattern(40000);
    const std::string path = dir.file("wide.nii");
    std::string reason;
    ASSERT_TRUE(niftiWriter().write(path, blockOf(TYPEDATA_U8, 40000, 1, 1, data), &reason))
        << reason;
    EXPECT_EQ(slurp(path).substr(0, 8), std::string("\x1c\x02\0\0n+2\0", 8));
    const Loaded l = load(path);
    ASSERT_TRUE(l.ok) << l.reason;
    EXPECT_EQ(l.header.width, 40000);
    EXPECT_EQ(l.samples, data);
}

TEST(NiftiReader, ReadsAHeaderAndImagePair)
{
    vexatest::TempDir dir;
    const std::vector<uint8_t> data = pattern(4 * 3 * 2 * 2);
    const std::string single = dir.file("one.nii");
    ASSERT_TRUE(niftiWriter().write(single, blockOf(TYPEDATA_S16, 4, 3, 2, data), nullptr));
    const std::string all = slurp(single);
    std::string hdr = all.substr(0, 348);
    hdr.replace(344, 4, std::string("ni1\0", 4));
    const float zero = 0;
    hdr.replace(108, 4, reinterpret_cast<const char*>(&zero), 4); // vox_offset
    spit(dir.file("pair.hdr"), hdr);
    spit(dir.file("pair.img"), all.substr(352));
    for (const char* name : { "pair.hdr", "pair.img" }) {
        const Loaded l = load(dir.file(name));
        ASSERT_TRUE(l.ok) << name << ": " << l.reason;
        EXPECT_EQ(l.samples, data) << name;
    }
    // Without its image file the pair is refused with a reason.
    std::filesystem::remove(dir.file("pair.img"));
    EXPECT_FALSE(load(dir.file("pair.hdr")).ok);
}

TEST(NiftiReader, SpreadsRgbVoxelsToRgba)
{
    vexatest::TempDir dir;
    const std::vector<uint8_t> bytes = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12 };
    const std::string path = dir.file("rgb.nii");
    ASSERT_TRUE(niftiWriter().write(path, blockOf(TYPEDATA_U8, 12, 1, 1, bytes), nullptr));
    // The same bytes as four RGB24 voxels.
    std::string file = slurp(path);
    const int16_t four = 4, rgb24[2] = { 128, 24 }; // datatype, bitpix
    file.replace(42, 2, reinterpret_cast<const char*>(&four), 2);
    file.replace(70, 4, reinterpret_cast<const char*>(rgb24), 4);
    spit(path, file);
    const Loaded l = load(path);
    ASSERT_TRUE(l.ok) << l.reason;
    ASSERT_EQ(l.header.typeData, TYPEDATA_RGBA);
    EXPECT_EQ(
        l.samples, std::vector<uint8_t>({ 1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0 }));
}

TEST(NiftiReader, RefusesShortAndOversizedFilesWithAReason)
{
    vexatest::TempDir dir;
    const std::vector<uint8_t> data = pattern(8 * 8 * 8 * 4);
    for (const char* ext : { ".nii", ".nii.gz" }) {
        const std::string good = dir.file(std::string("good") + ext);
        ASSERT_TRUE(niftiWriter().write(good, blockOf(TYPEDATA_F32, 8, 8, 8, data), nullptr));
        const std::string whole = slurp(good);
        const std::string cut = dir.file(std::string("cut") + ext);
        for (std::size_t n : { std::size_t(0), std::size_t(40), std::size_t(351), std::size_t(360),
                 whole.size() / 2, whole.size() - 1 }) {
            spit(cut, whole.substr(0, n));
            const Loaded l = load(cut);
            EXPECT_FALSE(l.ok) << ext << " cut at " << n;
            if (l.reason != "not claimed") {
                EXPECT_EQ(l.reason.rfind(cut + " : ", 0), 0u) << l.reason;
            }
        }
    }
    // 30000^3 voxels announced in a 2 KB file: refused before anything is allocated.
    std::string huge = slurp(dir.file("good.nii"));
    for (int axis = 1; axis <= 3; ++axis) {
        const int16_t big = 30000;
        huge.replace(40 + 2 * std::size_t(axis), 2, reinterpret_cast<const char*>(&big), 2);
    }
    spit(dir.file("huge.nii"), huge);
    const Loaded l = load(dir.file("huge.nii"));
    EXPECT_FALSE(l.ok);
    EXPECT_NE(l.reason.find("tronqué"), std::string::npos) << l.reason;
    // Complex voxels have no sample type here.
    std::string complex = slurp(dir.file("good.nii"));
    const int16_t complex64[2] = { 32, 64 }; // datatype, bitpix
    complex.replace(70, 4, reinterpret_cast<const char*>(complex64), 4);
    spit(dir.file("complex.nii"), complex);
    EXPECT_EQ(load(dir.file("complex.nii")).reason,
        dir.file("complex.nii") + " : type de données NIfTI non pris en charge (COMPLEX64)");
}

// Another NIfTI reader must see our files as we meant them.
std::string nibabelPython()
{
    for (const char* python : { "python3", "/usr/bin/python3" }) {
        const std::string command = std::string(python) + " -c 'import nibabel' 2>/dev/null";
        if (std::system(command.c_str()) == 0)
            return python;
    }
    return {};
}

TEST(NiftiWriter, NibabelReadsOurFiles)
{
    const std::string python = nibabelPython();
    if (python.empty())
        GTEST_SKIP() << "nibabel is not installed";
    vexatest::TempDir dir;
    const int w = 7, h = 5, d = 3;
    std::vector<uint8_t> data(std::size_t(w * h * d) * 2);
    long sum = 0;
    for (int i = 0; i < w * h * d; ++i) {
        const int16_t v = int16_t(i * 97 - 5000);
        std::memcpy(&data[std::size_t(i) * 2], &v, 2);
        sum += v;
    }
    FormatBlockView block = blockOf(TYPEDATA_S16, w, h, d, data);
    block.valueScaleOn = true, block.valueGain = 2, block.valueOffset = 1;
    const std::string path = dir.file("for-nibabel.nii.gz");
    ASSERT_TRUE(niftiWriter().write(path, block, nullptr));
    // Prints shape, dtype, raw sum, sample (x=6, y=1, z=2), slope, intercept, zooms.
    const std::string script = "import nibabel as n, numpy as np; i = n.load('" + path
        + "'); a = np.asarray(i.dataobj.get_unscaled()); print(a.shape, a.dtype, int(a.sum()),"
          " int(a[6, 1, 2]), i.dataobj.slope, i.dataobj.inter, i.header.get_zooms())";
    FILE* pipe = ::popen((python + " -c \"" + script + "\"").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[512] = { 0 };
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    ASSERT_TRUE(got);
    const int16_t at = int16_t(((2 * h + 1) * w + 6) * 97 - 5000);
    const std::string expected = "(7, 5, 3) int16 " + std::to_string(sum) + " " + std::to_string(at)
        + " 2.0 1.0 (0.5, 0.75, 3.0)\n";
    EXPECT_EQ(std::string(line), expected);
}

} // namespace
} // namespace vexa
