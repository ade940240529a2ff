// Opening files as data: recognised headers, companions, the raw import and its
// checks, INRIA sampling comments with the .iso depth conversion, the open command.
#include "importtest_util.h"

#include "data/section.h"

#include <array>
#include <atomic>
#include <cmath>
#include <numeric>
#include <thread>

using namespace importtest;
using vexa::DataRecord;

namespace {

std::vector<double> ramp(int n, double scale = 1)
{
    std::vector<double> v(std::size_t(n), 0);
    for (int i = 0; i < n; ++i)
        v[std::size_t(i)] = i * scale;
    return v;
}

// Writes text into the comment area of an INRIA header (from byte 76).
void putComments(const std::string& path, const std::string& text)
{
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 76, SEEK_SET);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// Sets the raw import box's ten values in order.
std::function<void(ParamBox&)> rawAnswers(const vexa::RawImportSettings& s)
{
    return [s](ParamBox& box) {
        const std::int32_t values[] = { s.headerSize, s.width, s.height, s.depth, s.inMemory,
            s.numberFormat, s.littleEndian, s.integerSign, s.integerSize, s.floatSize };
        ASSERT_EQ(boundItems(box).size(), 10u);
        for (int i = 0; i < 10; ++i)
            setInt(box, i, values[i]);
    };
}

} // namespace

using OpenFile = ImportTest;

TEST_F(OpenFile, MissingFileShowsTheErrorBoxAndOpensNothing)
{
    EXPECT_EQ(vexa::dataOpenFileWithMessages(file("absent.gdr")), nullptr);
    EXPECT_EQ(messages(),
        std::vector<std::string> {
            "Erreur|" + file("absent.gdr") + " : Impossible d'ouvrir le fichier" });
    EXPECT_TRUE(vexa::dataListAll().empty());
    EXPECT_TRUE(boxLabels.empty()); // no raw import for a file that is not there

    // A directory is no file either.
    EXPECT_EQ(vexa::dataOpenFileWithMessages(dir), nullptr);
    EXPECT_EQ(messages().size(), 2u);
    EXPECT_TRUE(boxLabels.empty());
}

TEST_F(OpenFile, DepthOneFileIsReadWholeIntoA2dImage)
{
    const std::string path = file("plane.gdr");
    ASSERT_TRUE(writeVolume(path, VEXAFILE_HEADER_GDR, TYPEDATA_S16, 5, 3, 1, ramp(15, -7)));
    DataRecord* r = vexa::dataOpenFileWithMessages(path);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->block(), nullptr);
    const vexa::ImageDescriptor& image = *r->image2d();
    EXPECT_EQ(image.width, 5);
    EXPECT_EQ(image.height, 3);
    EXPECT_EQ(image.typeData, TYPEDATA_S16);
    EXPECT_EQ(asDoubles(image.samples.data(), 15, TYPEDATA_S16), ramp(15, -7));
    EXPECT_EQ(image.fileName, path);
    EXPECT_EQ(r->fileName, "plane.gdr");
    EXPECT_EQ(r->directory, dir + "/");
    EXPECT_EQ(host.count(vexa::GuiRequest::OpenImage), 1);
}

TEST_F(OpenFile, DeeperFileStaysInTheFileAsABlock)
{
    const std::string path = file("cube.gdr");
    ASSERT_TRUE(writeVolume(path, VEXAFILE_HEADER_GDR, TYPEDATA_U16, 4, 3, 2, ramp(24, 100)));
    DataRecord* r = vexa::dataOpenFile(path);
    ASSERT_NE(r, nullptr);
    vexa::BlockDescriptor* b = r->block();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->storage, vexa::STORAGE_FILE);
    EXPECT_FALSE(b->samples);
    EXPECT_EQ(b->fileName, path);
    EXPECT_EQ(b->typeData, TYPEDATA_U16);
    void* plane = vexa::readSection(*b, false, TYPEDATA_F64, vexa::PLANE_FRONT, 1, 0, 0, 3, 2);
    std::vector<double> values(static_cast<double*>(plane), static_cast<double*>(plane) + 12);
    std::free(plane);
    std::vector<double> expected = ramp(24, 100);
    EXPECT_EQ(values, std::vector<double>(expected.begin() + 12, expected.end()));
    EXPECT_FALSE(b->topFile);
    EXPECT_FALSE(b->rightFile);
}

TEST_F(OpenFile, CompanionsOfAnXyFileAreAttached)
{
    // cube 4 x 3 x 2: the x-z companion is 4 x 2 x 3, the y-z one 2 x 3 x 4.
    ASSERT_TRUE(
        writeVolume(file("scan_xy.xt"), VEXAFILE_HEADER_INRIA, TYPEDATA_U8, 4, 3, 2, ramp(24)));
    ASSERT_TRUE(
        writeVolume(file("scan_xz.xt"), VEXAFILE_HEADER_INRIA, TYPEDATA_U8, 4, 2, 3, ramp(24)));
    ASSERT_TRUE(
        writeVolume(file("scan_yz.xt"), VEXAFILE_HEADER_INRIA, TYPEDATA_U8, 2, 3, 4, ramp(24)));
    DataRecord* r = vexa::dataOpenFile(file("scan_xy.xt"));
    ASSERT_NE(r, nullptr);
    ASSERT_NE(r->block(), nullptr);
    ASSERT_TRUE(r->block()->topFile);
    ASSERT_TRUE(r->block()->rightFile);
    EXPECT_EQ(std::string(vexaFileGetFullName(r->block()->topFile.get())), file("scan_xz.xt"));
    EXPECT_EQ(std::string(vexaFileGetFullName(r->block()->rightFile.get())), file("scan_yz.xt"));

    // A name without the x/y mark has none, even with such files beside it.
    ASSERT_TRUE(writeVolume(file("a.xt"), VEXAFILE_HEADER_INRIA, TYPEDATA_U8, 4, 3, 2, ramp(24)));
    DataRecord* plain = vexa::dataOpenFile(file("a.xt"));
    ASSERT_NE(plain, nullptr);
    EXPECT_FALSE(plain->block()->topFile);
    EXPECT_FALSE(plain->block()->rightFile);
}

TEST_F(OpenFile, DescriptorIsNoneForUnrecognisedOrMissingFiles)
{
    writeBytes(file("junk.bin"), std::vector<std::uint8_t>(64, 0x55));
    EXPECT_FALSE(vexa::dataOpenDescriptor(file("junk.bin")));
    EXPECT_FALSE(vexa::dataOpenDescriptor(file("missing.gdr")));
    EXPECT_FALSE(vexa::dataOpenDescriptor(""));
    ASSERT_TRUE(writeVolume(file("ok.gdr"), VEXAFILE_HEADER_GDR, TYPEDATA_U8, 2, 2, 1, ramp(4)));
    EXPECT_TRUE(vexa::dataOpenDescriptor(file("ok.gdr")));
}

using RawImport = ImportTest;

TEST_F(RawImport, LayoutFollowsTheAnswers)
{
    vexa::RawImportSettings s;
    vexa::RawLayout l = vexa::rawImportLayout(s);
    EXPECT_EQ(l.typeData, TYPEDATA_U16);
    EXPECT_EQ(l.nbBits, 16);
    EXPECT_EQ(l.endian, 1);
    EXPECT_EQ(l.sign, 0);

    const int ints[3][2] = { { TYPEDATA_U8, TYPEDATA_S8 }, { TYPEDATA_U16, TYPEDATA_S16 },
        { TYPEDATA_U32, TYPEDATA_S32 } };
    for (int size = 0; size < 3; ++size) {
        for (int sign = 0; sign < 2; ++sign) {
            s.integerSize = size;
            s.integerSign = sign;
            EXPECT_EQ(vexa::rawImportLayout(s).typeData, ints[size][sign]);
            EXPECT_EQ(vexa::rawImportLayout(s).sign, sign);
        }
    }
    // Floating point ignores the integer size, but the sign setting still goes to Sign.
    s.numberFormat = 1;
    s.floatSize = 1;
    s.integerSize = 0;
    s.integerSign = 1;
    s.littleEndian = 1;
    l = vexa::rawImportLayout(s);
    EXPECT_EQ(l.typeData, TYPEDATA_F64);
    EXPECT_EQ(l.nbBits, 64);
    EXPECT_EQ(l.sign, 1);
    EXPECT_EQ(l.endian, 0);
    s.floatSize = 0;
    EXPECT_EQ(vexa::rawImportLayout(s).typeData, TYPEDATA_F32);
}

TEST_F(RawImport, DefaultsRead2048SquareBigEndianU16FromByteZero)
{
    std::vector<std::uint8_t> bytes(std::size_t(2048) * 2048 * 2, 0);
    bytes[0] = 0x12;
    bytes[1] = 0x34;
    bytes[bytes.size() - 2] = 0xAB;
    bytes[bytes.size() - 1] = 0xCD;
    writeBytes(file("plain.dat"), bytes);
    answer(nullptr); // confirm the box as it is shown
    DataRecord* r = vexa::dataOpenFileWithMessages(file("plain.dat"));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(boxLabels.size(), 1u);
    EXPECT_NE(boxLabels[0].find("Taille Entete|w|h|d|File|"), std::string::npos);
    const vexa::ImageDescriptor& image = *r->image2d();
    EXPECT_EQ(image.width, 2048);
    EXPECT_EQ(image.height, 2048);
    EXPECT_EQ(image.typeData, TYPEDATA_U16);
    const auto* samples = static_cast<const std::uint16_t*>(image.samples.data());
    EXPECT_EQ(samples[0], 0x1234);
    EXPECT_EQ(samples[2048 * 2048 - 1], 0xABCD);
    EXPECT_TRUE(messages().empty());
}

TEST_F(RawImport, CancelledBoxOpensNothingSilentlyAndKeepsTheAnswers)
{
    writeBytes(file("plain.dat"), std::vector<std::uint8_t>(100, 1));
    answer([](ParamBox& box) { setInt(box, 1, 10); }, 0);
    std::string reason = "x";
    EXPECT_EQ(vexa::dataOpenFile(file("plain.dat"), &reason), nullptr);
    EXPECT_TRUE(reason.empty());
    EXPECT_EQ(vexa::dataOpenFileWithMessages(file("plain.dat")), nullptr);
    EXPECT_TRUE(messages().empty());
    EXPECT_TRUE(vexa::dataListAll().empty());
    EXPECT_EQ(vexa::rawImportRemembered().width, 2048);
}

TEST_F(RawImport, ConfirmedAnswersAreRememberedForTheNextImport)
{
    writeBytes(file("plain.dat"), std::vector<std::uint8_t>(4 * 3 * 2, 7));
    vexa::RawImportSettings s;
    s.width = 4;
    s.height = 3;
    s.integerSize = 0;
    s.depth = 2;
    s.inMemory = 1;
    answer(rawAnswers(s));
    ASSERT_NE(vexa::dataOpenFile(file("plain.dat")), nullptr);
    // The second box is shown with the answers of the first.
    int shownWidth = 0;
    answer([&](ParamBox& box) { shownWidth = getInt(box, 1); }, 0);
    vexa::dataOpenFile(file("plain.dat"));
    EXPECT_EQ(shownWidth, 4);
}

TEST_F(RawImport, SizesBeyondTheFileAreRefusedWithAReason)
{
    writeBytes(file("small.dat"), std::vector<std::uint8_t>(100, 0));
    struct Case {
        int header, w, h, d, integerSize;
    } cases[] = {
        { 0, 2048, 2048, 1, 1 }, // the defaults on a small file
        { 0, 10, 10, 1, 1 }, // 200 bytes
        { 1, 10, 10, 1, 0 }, // 101 bytes
        { 101, 1, 1, 1, 0 }, // header beyond the end
        { 0, 65535, 65535, 65535, 2 }, // byte count far beyond 2^64 / 2^32
        { 0, 2147483647, 2147483647, 2147483647, 2 }, { 0, 0, 10, 1, 0 }, // empty sizes
        { 0, 10, -1, 1, 0 }, { -1, 10, 10, 1, 0 }, // negative header
    };
    for (const Case& c : cases) {
        vexa::RawImportSettings s;
        s.headerSize = c.header;
        s.width = c.w;
        s.height = c.h;
        s.depth = c.d;
        s.integerSize = c.integerSize;
        std::string reason;
        EXPECT_FALSE(vexa::rawImportObject(file("small.dat"), s, &reason))
            << c.header << " " << c.w << "x" << c.h << "x" << c.d;
        EXPECT_FALSE(reason.empty());
    }
    // Exactly the file's size is accepted.
    vexa::RawImportSettings fits;
    fits.headerSize = 20;
    fits.width = 10;
    fits.height = 4;
    fits.depth = 2;
    fits.integerSize = 0;
    EXPECT_TRUE(vexa::rawImportObject(file("small.dat"), fits));

    // Through the command: the reason is shown and nothing is opened.
    answer(nullptr);
    EXPECT_EQ(vexa::dataOpenFileWithMessages(file("small.dat")), nullptr);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].rfind("Erreur|", 0), 0u);
    EXPECT_NE(messages()[0].find("plus petit"), std::string::npos);
    EXPECT_TRUE(vexa::dataListAll().empty());
}

TEST_F(RawImport, DeepFileBecomesAFileBlockOrAMemoryBlockWithFile)
{
    // 3 x 2 x 2 little-endian S16 after a 5-byte header.
    std::vector<std::uint8_t> bytes(5, 0xEE);
    std::vector<double> values;
    for (int i = 0; i < 12; ++i) {
        std::int16_t v = std::int16_t(i * 1000 - 6000);
        values.push_back(v);
        bytes.push_back(std::uint8_t(v & 0xFF));
        bytes.push_back(std::uint8_t((v >> 8) & 0xFF));
    }
    writeBytes(file("vol.raw"), bytes);
    vexa::RawImportSettings s;
    s.headerSize = 5;
    s.width = 3;
    s.height = 2;
    s.depth = 2;
    s.littleEndian = 1;
    s.integerSign = 1;
    for (int inMemory = 0; inMemory < 2; ++inMemory) {
        s.inMemory = inMemory;
        answer(rawAnswers(s));
        DataRecord* r = vexa::dataOpenFile(file("vol.raw"));
        ASSERT_NE(r, nullptr);
        vexa::BlockDescriptor* b = r->block();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->storage, inMemory ? vexa::STORAGE_MEMORY : vexa::STORAGE_FILE);
        EXPECT_EQ(b->typeData, TYPEDATA_S16);
        EXPECT_EQ(bool(b->samples), inMemory == 1);
        for (int z = 0; z < 2; ++z) {
            void* plane
                = vexa::readSection(*b, false, TYPEDATA_F64, vexa::PLANE_FRONT, z, 0, 0, 2, 1);
            std::vector<double> got(static_cast<double*>(plane), static_cast<double*>(plane) + 6);
            std::free(plane);
            EXPECT_EQ(got, std::vector<double>(values.begin() + 6 * z, values.begin() + 6 * z + 6));
        }
        EXPECT_EQ(r->fileName, "vol.raw");
    }
}

TEST_F(RawImport, FloatDoubleAnswersReadLittleEndianDoubles)
{
    std::vector<double> values = { 1.5, -2.25, 1e300, 0 };
    std::vector<std::uint8_t> bytes(values.size() * 8);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    writeBytes(file("d.raw"), bytes);
    vexa::RawImportSettings s;
    s.width = 2;
    s.height = 2;
    s.numberFormat = 1;
    s.floatSize = 1;
    s.integerSign = 1;
    answer(rawAnswers(s));
    DataRecord* r = vexa::dataOpenFile(file("d.raw"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->image2d()->typeData, TYPEDATA_F64);
    EXPECT_EQ(asDoubles(r->image2d()->samples.data(), 4, TYPEDATA_F64), values);
}

TEST_F(RawImport, ThirdPartyVolumesReadWithTheirLayout)
{
    const std::string base = std::string(VEXA_TESTDATA_DIR) + "/volume/";
    if (!std::filesystem::exists(base + "raw/headsq_64x64x93_int16le.raw")
        || !std::filesystem::exists(base + "nifti/anatomical.nii"))
        GTEST_SKIP() << "third-party test data not present";
    auto stats = [](const vexa::BlockDescriptor& b) {
        double lo = 1e300, hi = -1e300, sum = 0;
        for (int z = 0; z < b.dimZ; ++z) {
            void* p = vexa::readSection(
                b, false, TYPEDATA_F64, vexa::PLANE_FRONT, z, 0, 0, b.dimX - 1, b.dimY - 1);
            const double* v = static_cast<double*>(p);
            for (int i = 0; i < b.dimX * b.dimY; ++i) {
                lo = std::min(lo, v[i]);
                hi = std::max(hi, v[i]);
                sum += v[i];
            }
            std::free(p);
        }
        return std::array<double, 3> { lo, hi, sum / double(b.sampleCount()) };
    };

    vexa::RawImportSettings head;
    head.width = 64;
    head.height = 64;
    head.depth = 93;
    head.littleEndian = 1;
    head.integerSign = 1;
    answer(rawAnswers(head));
    DataRecord* r = vexa::dataOpenFile(base + "raw/headsq_64x64x93_int16le.raw");
    ASSERT_NE(r, nullptr);
    auto s = stats(*r->block());
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 3926);
    EXPECT_NEAR(s[2], 507.687, 1e-3);

    vexa::RawImportSettings nifti;
    nifti.headerSize = 352;
    nifti.width = 33;
    nifti.height = 41;
    nifti.depth = 25;
    nifti.integerSign = 1;
    nifti.inMemory = 1;
    answer(rawAnswers(nifti));
    r = vexa::dataOpenFile(base + "nifti/anatomical.nii");
    ASSERT_NE(r, nullptr);
    s = stats(*r->block());
    EXPECT_EQ(s[0], -610);
    EXPECT_EQ(s[1], 30393);
    EXPECT_NEAR(s[2], 8401.07, 1e-2);
}

using SamplingComments = ImportTest;

TEST_F(SamplingComments, StepAndStartGoToTheBlock)
{
    const std::string path = file("seis.xt");
    ASSERT_TRUE(writeVolume(path, VEXAFILE_HEADER_INRIA, TYPEDATA_S16, 3, 3, 2, ramp(18)));
    putComments(path, "PASECH=4\nTDEB=1,5E2\n");
    DataRecord* r = vexa::dataOpenFile(path);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->block()->spaceStep, 4);
    EXPECT_EQ(r->block()->spaceStart, 150);

    // "PECH" stands in for a missing "PASECH"; without "TDEB" the start stays 0.
    const std::string other = file("other.xt");
    ASSERT_TRUE(writeVolume(other, VEXAFILE_HEADER_INRIA, TYPEDATA_S16, 3, 3, 2, ramp(18)));
    putComments(other, "PECH=0.5\n");
    r = vexa::dataOpenFile(other);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->block()->spaceStep, 0.5);
    EXPECT_EQ(r->block()->spaceStart, 0);

    // A step of 0 is no step: nothing is taken.
    const std::string zero = file("zero.xt");
    ASSERT_TRUE(writeVolume(zero, VEXAFILE_HEADER_INRIA, TYPEDATA_S16, 3, 3, 2, ramp(18)));
    putComments(zero, "PASECH=0\nTDEB=7\n");
    r = vexa::dataOpenFile(zero);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->block()->spaceStep, 1);
    EXPECT_EQ(r->block()->spaceStart, 0);
}

TEST_F(SamplingComments, IsoFloatImageIsConvertedToPixelsWhenAsked)
{
    // A square image: 32-bit INRIA files read back with their first two sizes exchanged.
    const std::string path = file("depth.iso");
    std::vector<double> values = { 10, 12, 14, 16, -1, 20, 22, 24, 26 };
    ASSERT_TRUE(writeVolume(path, VEXAFILE_HEADER_INRIA, TYPEDATA_F32, 3, 3, 1, values));
    putComments(path, "PASECH=2\nTDEB=10\n");
    std::vector<double> stored = readVolume(path);
    ASSERT_EQ(stored.size(), 9u);

    cancelNextBox();
    DataRecord* r = vexa::dataOpenFile(path);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(boxLabels.size(), 1u);
    EXPECT_EQ(boxLabels[0], "Conversion de profondeur en unité pixel|");
    EXPECT_EQ(asDoubles(r->image2d()->samples.data(), 9, TYPEDATA_F32), stored);

    answer([](ParamBox& box) { setInt(box, 0, 1); });
    r = vexa::dataOpenFile(path);
    ASSERT_NE(r, nullptr);
    std::vector<double> expected(9);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) {
            double v = stored[std::size_t((2 - y) * 3 + x)];
            expected[std::size_t(y * 3 + x)] = v >= 0 ? (v - 10) / 2 : v;
        }
    EXPECT_EQ(asDoubles(r->image2d()->samples.data(), 9, TYPEDATA_F32), expected);
    EXPECT_TRUE(vexa::depthConversionRemembered());

    // The same file under another extension is not offered the conversion.
    std::filesystem::copy_file(path, file("depth.xt"));
    boxLabels.clear();
    r = vexa::dataOpenFile(file("depth.xt"));
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(boxLabels.empty());
}

TEST_F(SamplingComments, DepthConversionKeepsNegativesAndRefusesOtherTypes)
{
    vexa::ImageDescriptor image;
    image.width = 1;
    image.height = 2;
    image.typeData = TYPEDATA_F32;
    ASSERT_TRUE(image.samples.allocate(8));
    auto* v = static_cast<float*>(image.samples.data());
    v[0] = -3;
    v[1] = 0.5f;
    ASSERT_TRUE(vexa::convertDepthToPixels(image, 0.25, 0.5));
    v = static_cast<float*>(image.samples.data());
    EXPECT_EQ(v[0], 0.5f); // (0.5 - 0.25) / 0.5, mirrored to the top
    EXPECT_EQ(v[1], -3.0f); // negative: kept
    image.typeData = TYPEDATA_F64;
    EXPECT_FALSE(vexa::convertDepthToPixels(image, 0, 2));
}

using OpenCommand = ImportTest;

TEST_F(OpenCommand, AsksTheFileThroughTheHost)
{
    EXPECT_EQ(vexa::openDataCommand(), nullptr); // chooser cancelled
    ASSERT_NE(host.requests().size(), 0u);
    EXPECT_EQ(host.requests().back().code, vexa::GuiRequest::ChooseFile);
    EXPECT_EQ(host.requests().back().text, "Ouvrir une donnée...");

    ASSERT_TRUE(writeVolume(file("p.gdr"), VEXAFILE_HEADER_GDR, TYPEDATA_U8, 2, 2, 1, ramp(4)));
    host.queueFileAnswer(true, file("p.gdr"));
    EXPECT_NE(vexa::openDataCommand(), nullptr);
}

TEST_F(OpenCommand, LoadFromFileGivesTheImageIdOrZero)
{
    ASSERT_TRUE(writeVolume(file("p.gdr"), VEXAFILE_HEADER_GDR, TYPEDATA_U8, 2, 2, 1, ramp(4)));
    unsigned id = dozDataLoadFromFile(file("p.gdr").c_str());
    ASSERT_NE(id, 0u);
    DataRecord* r = vexa::dataFindImage(id);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->fileName, "p.gdr");
    EXPECT_NE(vexaLoadFromFile(file("p.gdr").c_str()), 0u);
    EXPECT_EQ(dozDataLoadFromFile(nullptr), 0u);
    EXPECT_EQ(vexaLoadFromFile(file("none.gdr").c_str()), 0u);
    EXPECT_EQ(messages(),
        std::vector<std::string> {
            "Erreur|" + file("none.gdr") + " : Impossible d'ouvrir le fichier" });
}

TEST_F(OpenCommand, LoadFromAWorkerThreadCreatesTheRecordOnTheInterfaceThread)
{
    ASSERT_TRUE(writeVolume(file("p.gdr"), VEXAFILE_HEADER_GDR, TYPEDATA_U8, 2, 2, 1, ramp(4)));
    std::atomic<unsigned> id { 0 };
    std::atomic<bool> done { false };
    std::thread worker([&] {
        id = dozDataLoadFromFile(file("p.gdr").c_str());
        done = true;
    });
    EXPECT_TRUE(host.runUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_NE(id.load(), 0u);
    EXPECT_EQ(host.count(vexa::GuiRequest::OpenImage), 1);
}
