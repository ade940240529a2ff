// Saving data: the format and type lists, round trips in every format and type the
// box offers (2D and 3D), headers and byte order, "INRIA avec référence", BMP, the
// block moving to its saved file, and failed saves that keep the old file.
#include "importtest_util.h"

#include "data/section.h"

#include <csignal>
#include <sys/resource.h>

using namespace importtest;
using vexa::DataRecord;

namespace {

// Sample i of a test datum, as raw bytes of the type: small integers every type
// holds (RGBA gets three different channels and alpha 0).
std::vector<std::uint8_t> testSamples(int count, int type)
{
    const int es = vexaTypeSize(type);
    std::vector<std::uint8_t> bytes(std::size_t(count) * std::size_t(es), 0);
    if (type == TYPEDATA_RGBA) {
        for (int i = 0; i < count; ++i) {
            bytes[std::size_t(4 * i)] = std::uint8_t(i * 5);
            bytes[std::size_t(4 * i + 1)] = std::uint8_t(i * 3 + 1);
            bytes[std::size_t(4 * i + 2)] = std::uint8_t(255 - i);
        }
        return bytes;
    }
    std::vector<double> values(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        values[std::size_t(i)] = (i * 7) % 120 - (vexaTypeSign(type) ? 20 : 0);
    void* converted = vexaMemConvert(values.data(), count, 1, 0, TYPEDATA_F64, type);
    std::memcpy(bytes.data(), converted, bytes.size());
    std::free(converted);
    return bytes;
}

DataRecord* imageRecord(int w, int h, int type)
{
    auto object = vexa::newImage2dObject(w, h, type);
    if (!object)
        return nullptr;
    std::vector<std::uint8_t> bytes = testSamples(w * h, type);
    std::memcpy(object->image->samples.data(), bytes.data(), bytes.size());
    return vexa::dataCreateImage(std::move(object), vexa::kFreshId, vexa::kFreshId);
}

DataRecord* blockRecord(int w, int h, int d, int type)
{
    auto object = vexa::newImage3dObject(w, h, d, type, vexa::NEWDATA_EMPTY);
    if (!object)
        return nullptr;
    std::vector<std::uint8_t> bytes = testSamples(w * h * d, type);
    std::memcpy(object->block->samples.data(), bytes.data(), bytes.size());
    return vexa::dataCreateImage(std::move(object), vexa::kFreshId, vexa::kFreshId);
}

std::vector<std::uint8_t> bytesOf(const vexa::SampleBuffer& samples)
{
    return std::vector<std::uint8_t>(samples.bytes(), samples.bytes() + samples.size());
}

// Samples as a file with Endian 1 holds them: 2- and 4-byte units reversed.
std::vector<std::uint8_t> bigEndian(std::vector<std::uint8_t> bytes, int type)
{
    const int es = vexaTypeSize(type);
    if (es == 2 || es == 4)
        for (std::size_t i = 0; i + std::size_t(es) <= bytes.size(); i += std::size_t(es))
            std::reverse(bytes.begin() + std::ptrdiff_t(i), bytes.begin() + std::ptrdiff_t(i) + es);
    return bytes;
}

// The raw samples of a file whose header reads.
std::vector<std::uint8_t> fileSamples(const std::string& path, int* type, int* w, int* h, int* d)
{
    vexa::FileHandle desc = vexa::dataOpenDescriptor(path);
    if (!desc)
        return {};
    vexaFileGetSizes(desc.get(), w, h, d);
    *type = vexaFileGetTypeData(desc.get());
    void* samples = vexaFileReadBlockPart(desc.get(), 0, 0, 0, 0, *w, *h, *d);
    std::vector<std::uint8_t> out(static_cast<std::uint8_t*>(samples),
        static_cast<std::uint8_t*>(samples)
            + std::size_t(*w) * std::size_t(*h) * std::size_t(*d)
                * std::size_t(vexaTypeSize(*type)));
    vexaFileFree(samples);
    return out;
}

// Answers the save-format box with fixed positions.
vexa::SaveFormatPresenter fixedChoice(bool threeD, int code, int type)
{
    return [=](vexa::SaveFormatChoice& c) {
        c.threeD = threeD;
        std::vector<vexa::SaveFormat> formats = vexa::saveFormatsOffered(threeD);
        for (std::size_t i = 0; i < formats.size(); ++i)
            if (formats[i].code == code)
                c.formatPosition = int(i);
        std::vector<int> types = vexa::saveFormatTypes(code);
        c.typePosition = int(std::find(types.begin(), types.end(), type) - types.begin());
        return true;
    };
}

} // namespace

TEST(SaveFormats, ListsFollowTheFormat)
{
    std::vector<std::string> labels;
    for (const vexa::SaveFormat& f : vexa::saveFormatsOffered(false))
        labels.push_back(f.label);
    EXPECT_EQ(labels,
        (std::vector<std::string> { "GDR", "DF3", "RAW", "INRIA", "INRIA avec référence", "BMP" }));
    EXPECT_EQ(vexa::saveFormatsOffered(true).size(), 5u);
    EXPECT_EQ(vexa::saveFormatsOffered(true).back().code, vexa::SAVE_FORMAT_INRIA_REFERENCE);

    EXPECT_EQ(vexa::saveFormatTypes(vexa::SAVE_FORMAT_DF3),
        (std::vector<int> { TYPEDATA_U8, TYPEDATA_U16, TYPEDATA_U32 }));
    EXPECT_EQ(vexa::saveFormatTypes(vexa::SAVE_FORMAT_INRIA),
        (std::vector<int> { TYPEDATA_U8, TYPEDATA_S8, TYPEDATA_S16 }));
    EXPECT_EQ(vexa::saveFormatTypes(vexa::SAVE_FORMAT_INRIA_REFERENCE),
        vexa::saveFormatTypes(vexa::SAVE_FORMAT_INRIA));
    EXPECT_EQ(vexa::saveFormatTypes(vexa::SAVE_FORMAT_RAW)[2], TYPEDATA_U16);
    EXPECT_EQ(vexa::saveFormatTypes(vexa::SAVE_FORMAT_GDR)[6], TYPEDATA_F32);
    EXPECT_EQ(vexa::saveFormatTypeLabels(vexa::SAVE_FORMAT_BMP),
        (std::vector<std::string> { "8 bits - Niveaux de Gris", "24 bits - RGB" }));
    EXPECT_EQ(vexa::saveFormatTypeLabels(vexa::SAVE_FORMAT_DF3)[2], "32 bits - Non signé");
    EXPECT_TRUE(vexa::saveFormatTypes(99).empty());
}

TEST(SaveFormats, PreselectionFollowsTheDatum)
{
    EXPECT_EQ(vexa::saveFormatDefaultTypePosition(vexa::SAVE_FORMAT_GDR, TYPEDATA_F64), 7);
    EXPECT_EQ(vexa::saveFormatDefaultTypePosition(vexa::SAVE_FORMAT_RAW, TYPEDATA_U16), 2);
    EXPECT_EQ(vexa::saveFormatDefaultTypePosition(vexa::SAVE_FORMAT_DF3, TYPEDATA_U32), 0);
    EXPECT_EQ(vexa::saveFormatDefaultTypePosition(vexa::SAVE_FORMAT_INRIA, TYPEDATA_U8), 2);
    EXPECT_EQ(vexa::saveFormatDefaultTypePosition(vexa::SAVE_FORMAT_BMP, TYPEDATA_RGBA), 1);
    EXPECT_EQ(vexa::saveFormatDefaultTypePosition(vexa::SAVE_FORMAT_BMP, TYPEDATA_F32), 0);
}

// Every format with a header, every type it offers, 2D and 3D: the file holds the
// datum's samples and reads back as the chosen type.
struct RoundTripCase {
    int code;
    int type;
    bool threeD;
};

std::string caseName(const ::testing::TestParamInfo<RoundTripCase>& info)
{
    const char* formats[] = { "Bmp", "Gdr", "Inria", "InriaRef", "Df3", "Raw" };
    return std::string(formats[info.param.code]) + "_type" + std::to_string(info.param.type)
        + (info.param.threeD ? "_3d" : "_2d");
}

std::vector<RoundTripCase> allCases()
{
    std::vector<RoundTripCase> cases;
    for (int code : { vexa::SAVE_FORMAT_GDR, vexa::SAVE_FORMAT_DF3, vexa::SAVE_FORMAT_RAW,
             vexa::SAVE_FORMAT_INRIA, vexa::SAVE_FORMAT_BMP })
        for (int type : vexa::saveFormatTypes(code))
            for (bool threeD : { false, true })
                if (!(threeD && code == vexa::SAVE_FORMAT_BMP))
                    cases.push_back({ code, type, threeD });
    return cases;
}

class SaveRoundTrip : public ImportTest, public ::testing::WithParamInterface<RoundTripCase> { };

TEST_P(SaveRoundTrip, FileHoldsTheDatum)
{
    const RoundTripCase c = GetParam();
    const int w = 5, h = 3, d = c.threeD ? 4 : 1;
    DataRecord* r = c.threeD ? blockRecord(w, h, d, c.type) : imageRecord(w, h, c.type);
    ASSERT_NE(r, nullptr);
    const std::vector<std::uint8_t> datum
        = c.threeD ? bytesOf(r->block()->samples) : bytesOf(r->image2d()->samples);

    vexa::setSaveFormatPresenter(fixedChoice(c.threeD, c.code, c.type));
    const std::string path = file("out.dat");
    host.queueFileAnswer(true, path);
    ASSERT_TRUE(vexa::saveDataCommand(r)) << (messages().empty() ? "" : messages()[0]);
    EXPECT_TRUE(messages().empty());

    const std::vector<std::uint8_t> bytes = readBytes(path);
    switch (c.code) {
    case vexa::SAVE_FORMAT_GDR:
    case vexa::SAVE_FORMAT_INRIA: {
        int type = 0, fw = 0, fh = 0, fd = 0;
        std::vector<std::uint8_t> samples = fileSamples(path, &type, &fw, &fh, &fd);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(fw, w);
        EXPECT_EQ(fh, h);
        EXPECT_EQ(fd, d);
        EXPECT_EQ(samples, datum);
        break;
    }
    case vexa::SAVE_FORMAT_DF3: {
        ASSERT_EQ(bytes.size(), 6 + datum.size());
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 6),
            (std::vector<std::uint8_t> {
                0, std::uint8_t(w), 0, std::uint8_t(h), 0, std::uint8_t(d) }));
        EXPECT_EQ(
            std::vector<std::uint8_t>(bytes.begin() + 6, bytes.end()), bigEndian(datum, c.type));
        break;
    }
    case vexa::SAVE_FORMAT_RAW:
        EXPECT_EQ(bytes, bigEndian(datum, c.type));
        break;
    case vexa::SAVE_FORMAT_BMP: {
        ASSERT_GT(bytes.size(), 30u);
        EXPECT_EQ(bytes[28], c.type == TYPEDATA_RGBA ? 24 : 8);
        int type = 0, fw = 0, fh = 0, fd = 0;
        std::vector<std::uint8_t> samples = fileSamples(path, &type, &fw, &fh, &fd);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(fw, w);
        EXPECT_EQ(fh, h);
        EXPECT_EQ(samples, datum);
        break;
    }
    default:
        FAIL();
    }
    // No temporary file is left beside the target.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++entries;
    EXPECT_EQ(entries, 1);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, SaveRoundTrip, ::testing::ValuesIn(allCases()), caseName);

using SaveData = ImportTest;

TEST_F(SaveData, SamplesAreConvertedToTheChosenType)
{
    auto object = vexa::newImage2dObject(4, 1, TYPEDATA_F64);
    auto* v = static_cast<double*>(object->image->samples.data());
    v[0] = -5;
    v[1] = 300.7;
    v[2] = 12.9;
    v[3] = -12.9;
    DataRecord* r = vexa::dataCreateImage(std::move(object), vexa::kFreshId, vexa::kFreshId);
    vexa::SaveRequest rq;
    rq.formatCode = vexa::SAVE_FORMAT_GDR;
    rq.typeData = TYPEDATA_U8;
    rq.path = file("u8.gdr");
    EXPECT_FALSE(r->savedToFile);
    ASSERT_TRUE(vexa::dataSave(r, rq));
    EXPECT_TRUE(r->savedToFile); // "Quitter" no longer counts it as unsaved
    EXPECT_EQ(readVolume(rq.path), (std::vector<double> { 0, 255, 12, 0 }));
    rq.typeData = TYPEDATA_S16;
    rq.path = file("s16.gdr");
    ASSERT_TRUE(vexa::dataSave(r, rq));
    EXPECT_EQ(readVolume(rq.path), (std::vector<double> { -5, 300, 12, -12 }));
    // Grey saved as colour goes through the palette: grey levels without one.
    rq.formatCode = vexa::SAVE_FORMAT_BMP;
    rq.typeData = TYPEDATA_RGBA;
    rq.path = file("c.bmp");
    ASSERT_TRUE(vexa::dataSave(r, rq));
    int type = 0, w = 0, h = 0, d = 0;
    std::vector<std::uint8_t> px = fileSamples(rq.path, &type, &w, &h, &d);
    ASSERT_EQ(px.size(), 16u);
    EXPECT_EQ(std::vector<std::uint8_t>(px.begin() + 8, px.begin() + 12),
        (std::vector<std::uint8_t> { 12, 12, 12, 0 }));
}

TEST_F(SaveData, Df3OfU32WritesSixByteHeaderAndBigEndianSamples)
{
    auto object = vexa::newImage2dObject(2, 1, TYPEDATA_U32);
    auto* v = static_cast<std::uint32_t*>(object->image->samples.data());
    v[0] = 0x01020304;
    v[1] = 0xA0B0C0D0;
    DataRecord* r = vexa::dataCreateImage(std::move(object), vexa::kFreshId, vexa::kFreshId);
    vexa::SaveRequest rq;
    rq.formatCode = vexa::SAVE_FORMAT_DF3;
    rq.typeData = TYPEDATA_U32;
    rq.path = file("v.df3");
    ASSERT_TRUE(vexa::dataSave(r, rq));
    EXPECT_EQ(readBytes(rq.path),
        (std::vector<std::uint8_t> { 0, 2, 0, 1, 0, 1, 1, 2, 3, 4, 0xA0, 0xB0, 0xC0, 0xD0 }));
}

TEST_F(SaveData, ImageShownByABlockSavesAsDepthOneGdr)
{
    DataRecord* r = blockRecord(4, 3, 5, TYPEDATA_U8);
    ASSERT_NE(r, nullptr);
    vexa::SaveRequest rq;
    rq.threeD = false;
    rq.formatCode = vexa::SAVE_FORMAT_GDR;
    rq.typeData = TYPEDATA_U8;
    rq.path = file("slice.gdr");
    ASSERT_TRUE(vexa::dataSave(r, rq));
    std::vector<std::uint8_t> bytes = readBytes(rq.path);
    ASSERT_GE(bytes.size(), 256u);
    EXPECT_EQ(std::string(bytes.begin() + 30, bytes.begin() + 35), "1    ");
    EXPECT_EQ(bytes.size(), 256u + 12u);
    // The block stays where it was.
    EXPECT_EQ(r->block()->storage, vexa::STORAGE_MEMORY);
    EXPECT_TRUE(r->block()->samples);
}

TEST_F(SaveData, RequestsOutsideTheListsAreRefused)
{
    DataRecord* image = imageRecord(3, 3, TYPEDATA_U8);
    DataRecord* block = blockRecord(3, 3, 3, TYPEDATA_U8);
    vexa::SaveRequest rq;
    rq.path = file("x.gdr");
    rq.formatCode = vexa::SAVE_FORMAT_INRIA;
    rq.typeData = TYPEDATA_U16; // not offered
    std::string reason;
    EXPECT_FALSE(vexa::dataSave(image, rq, &reason));
    EXPECT_FALSE(reason.empty());
    rq.formatCode = vexa::SAVE_FORMAT_BMP;
    rq.typeData = TYPEDATA_U8;
    rq.threeD = true; // BMP is 2D only
    EXPECT_FALSE(vexa::dataSave(block, rq));
    rq.formatCode = vexa::SAVE_FORMAT_GDR;
    EXPECT_FALSE(vexa::dataSave(image, rq)); // no block to save in 3D
    rq.threeD = false;
    rq.path.clear();
    EXPECT_FALSE(vexa::dataSave(image, rq));
    EXPECT_FALSE(vexa::dataSave(nullptr, rq));
    EXPECT_FALSE(std::filesystem::exists(file("x.gdr")));
    // A header that cannot hold the sizes: INRIA keeps 16-bit dimensions.
    DataRecord* wide = imageRecord(70000, 1, TYPEDATA_U8);
    rq.formatCode = vexa::SAVE_FORMAT_INRIA;
    rq.path = file("wide.xt");
    EXPECT_FALSE(vexa::dataSave(wide, rq, &reason));
    EXPECT_FALSE(std::filesystem::exists(rq.path));
}

using BlockMove = ImportTest;

TEST_F(BlockMove, GdrSaveMovesTheBlockAndRenamesItsRecords)
{
    DataRecord* r = blockRecord(4, 3, 2, TYPEDATA_U16);
    ASSERT_NE(r, nullptr);
    const std::vector<std::uint8_t> datum = bytesOf(r->block()->samples);
    auto other = vexa::newImage2dObject(2, 2, TYPEDATA_U8);
    DataRecord* sameBlock = vexa::dataCreateImage(std::move(other), vexa::kFreshId, r->blockId);
    ASSERT_NE(sameBlock, nullptr);
    DataRecord* unrelated = imageRecord(2, 2, TYPEDATA_U8);

    vexa::SaveRequest rq;
    rq.threeD = true;
    rq.formatCode = vexa::SAVE_FORMAT_GDR;
    rq.typeData = TYPEDATA_S32;
    rq.path = file("moved.gdr");
    ASSERT_TRUE(vexa::dataSave(r, rq));

    vexa::BlockDescriptor& b = *r->block();
    EXPECT_EQ(b.storage, vexa::STORAGE_FILE);
    EXPECT_FALSE(b.samples);
    EXPECT_EQ(b.fileName, rq.path);
    EXPECT_EQ(b.typeData, TYPEDATA_S32);
    ASSERT_TRUE(b.file);
    EXPECT_EQ(std::string(vexaFileGetFullName(b.file.get())), rq.path);
    EXPECT_EQ(r->fileName, "moved.gdr");
    EXPECT_EQ(sameBlock->fileName, "moved.gdr");
    EXPECT_EQ(sameBlock->directory, dir + "/");
    EXPECT_EQ(unrelated->fileName, "");
    EXPECT_NE(host.titleOf(sameBlock->window).find("moved.gdr"), std::string::npos);

    // The block reads its samples from the file now.
    void* plane = vexa::readSection(b, false, TYPEDATA_U16, vexa::PLANE_FRONT, 1, 0, 0, 3, 2);
    EXPECT_EQ(0, std::memcmp(plane, datum.data() + 24, 24));
    std::free(plane);
}

TEST_F(BlockMove, InriaSaveTakesTheFilesType)
{
    DataRecord* r = blockRecord(3, 3, 2, TYPEDATA_U8);
    vexa::SaveRequest rq;
    rq.threeD = true;
    rq.formatCode = vexa::SAVE_FORMAT_INRIA;
    rq.typeData = TYPEDATA_S16;
    rq.path = file("m.xt");
    ASSERT_TRUE(vexa::dataSave(r, rq));
    EXPECT_EQ(r->block()->storage, vexa::STORAGE_FILE);
    EXPECT_EQ(r->block()->typeData, TYPEDATA_S16);
}

TEST_F(BlockMove, Df3RawAndTwoDSavesLeaveTheBlock)
{
    DataRecord* r = blockRecord(3, 3, 2, TYPEDATA_U8);
    const void* samples = r->block()->samples.data();
    for (int code : { vexa::SAVE_FORMAT_DF3, vexa::SAVE_FORMAT_RAW }) {
        vexa::SaveRequest rq;
        rq.threeD = true;
        rq.formatCode = code;
        rq.typeData = TYPEDATA_U8;
        rq.path = file("f" + std::to_string(code));
        ASSERT_TRUE(vexa::dataSave(r, rq));
    }
    vexa::SaveRequest rq;
    rq.formatCode = vexa::SAVE_FORMAT_GDR;
    rq.typeData = TYPEDATA_U8;
    rq.path = file("slice.gdr");
    ASSERT_TRUE(vexa::dataSave(r, rq));
    EXPECT_EQ(r->block()->storage, vexa::STORAGE_MEMORY);
    EXPECT_EQ(r->block()->samples.data(), samples);
    EXPECT_EQ(r->fileName, "");
}

TEST_F(BlockMove, FileBlockSavedOverItsOwnFileIsRewrittenInPlace)
{
    const std::string path = file("cube.gdr");
    std::vector<double> values(24);
    for (int i = 0; i < 24; ++i)
        values[std::size_t(i)] = i;
    ASSERT_TRUE(writeVolume(path, VEXAFILE_HEADER_GDR, TYPEDATA_U8, 4, 3, 2, values));
    DataRecord* r = vexa::dataOpenFile(path);
    ASSERT_NE(r, nullptr);
    vexa::SaveRequest rq;
    rq.threeD = true;
    rq.formatCode = vexa::SAVE_FORMAT_GDR;
    rq.typeData = TYPEDATA_F32;
    rq.path = path;
    ASSERT_TRUE(vexa::dataSave(r, rq));
    int type = 0;
    EXPECT_EQ(readVolume(path, &type), values);
    EXPECT_EQ(type, TYPEDATA_F32);
    EXPECT_EQ(r->block()->typeData, TYPEDATA_F32);

    // Another format over the file that the block reads would corrupt the datum.
    rq.formatCode = vexa::SAVE_FORMAT_RAW;
    std::string reason;
    EXPECT_FALSE(vexa::dataSave(r, rq, &reason));
    EXPECT_NE(reason.find("lu par une donnée ouverte"), std::string::npos);
    EXPECT_EQ(readVolume(path), values);
    rq.threeD = false;
    rq.formatCode = vexa::SAVE_FORMAT_GDR;
    EXPECT_FALSE(vexa::dataSave(r, rq));
    DataRecord* image = imageRecord(2, 2, TYPEDATA_U8);
    rq.threeD = false;
    EXPECT_FALSE(vexa::dataSave(image, rq));
    EXPECT_EQ(readVolume(path), values);
}

using InriaReference = ImportTest;

TEST_F(InriaReference, DatumSizesWithTheReferencesComments)
{
    const std::string ref = file("ref.xt");
    ASSERT_TRUE(writeVolume(
        ref, VEXAFILE_HEADER_INRIA, TYPEDATA_S16, 8, 6, 3, std::vector<double>(144, 9)));
    {
        std::FILE* f = std::fopen(ref.c_str(), "r+b");
        std::fseek(f, 76, SEEK_SET);
        std::fputs("PASECH=4\nTDEB=12\n", f);
        std::fclose(f);
    }
    DataRecord* r = blockRecord(4, 3, 2, TYPEDATA_S16);
    const std::vector<std::uint8_t> datum = bytesOf(r->block()->samples);
    vexa::setSaveFormatPresenter(
        fixedChoice(true, vexa::SAVE_FORMAT_INRIA_REFERENCE, TYPEDATA_S16));
    host.queueFileAnswer(true, file("out.xt"));
    answer([&](ParamBox& box) { setText(box, 0, ref, PARAM_PATH_BUFFER); });
    ASSERT_TRUE(vexa::saveDataCommand(r)) << (messages().empty() ? "" : messages()[0]);
    EXPECT_EQ(boxLabels.back(), "Fichier référence||Recopie des dimensions||");

    int type = 0, w = 0, h = 0, d = 0;
    EXPECT_EQ(fileSamples(file("out.xt"), &type, &w, &h, &d), datum);
    EXPECT_EQ(type, TYPEDATA_S16);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(d, 2);
    vexa::FileHandle desc = vexa::dataOpenDescriptor(file("out.xt"));
    double step = 0, start = 0;
    EXPECT_EQ(vexaFileGetComment(desc.get(), "PASECH", &step), 1);
    EXPECT_EQ(vexaFileGetComment(desc.get(), "TDEB", &start), 1);
    EXPECT_EQ(step, 4);
    EXPECT_EQ(start, 12);
    // Header bytes 0-75 are those of an INRIA header of the datum's sizes.
    std::vector<std::uint8_t> bytes = readBytes(file("out.xt"));
    EXPECT_EQ(bytes[2], 0x69);
    EXPECT_EQ(bytes[3], 0x31);
    EXPECT_EQ(r->block()->storage, vexa::STORAGE_FILE); // a valid INRIA file: the block moves
}

TEST_F(InriaReference, CopiedDimensionsKeepTheReferenceHeaderWhole)
{
    const std::string ref = file("ref.xt");
    ASSERT_TRUE(
        writeVolume(ref, VEXAFILE_HEADER_INRIA, TYPEDATA_U8, 6, 5, 3, std::vector<double>(90, 9)));
    const std::vector<std::uint8_t> refHeader = [&] {
        auto b = readBytes(ref);
        return std::vector<std::uint8_t>(b.begin(), b.begin() + 4096);
    }();
    DataRecord* r = blockRecord(4, 3, 2, TYPEDATA_U8);
    vexa::SaveRequest rq;
    rq.threeD = true;
    rq.formatCode = vexa::SAVE_FORMAT_INRIA_REFERENCE;
    rq.typeData = TYPEDATA_U8;
    rq.path = file("out.xt");
    rq.referencePath = ref;
    rq.copyDimensions = true;
    ASSERT_TRUE(vexa::dataSave(r, rq));
    std::vector<std::uint8_t> bytes = readBytes(rq.path);
    ASSERT_GE(bytes.size(), 4096u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4096), refHeader);
    int type = 0, w = 0, h = 0, d = 0;
    std::vector<double> values = readVolume(rq.path, &type, &w, &h, &d);
    ASSERT_EQ(values.size(), 90u);
    // The datum fills the top-left 4 x 3 of the first two planes.
    std::vector<std::uint8_t> datum = testSamples(24, TYPEDATA_U8);
    EXPECT_EQ(values[0], datum[0]);
    EXPECT_EQ(values[6 * 2 + 3], datum[4 * 2 + 3]);
    EXPECT_EQ(values[30 + 6 + 1], datum[12 + 4 + 1]);
    EXPECT_EQ(values[4], 0);
    // A file of other sizes cannot stand for the block: it stays in memory.
    EXPECT_EQ(r->block()->storage, vexa::STORAGE_MEMORY);
}

TEST_F(InriaReference, ReferenceOfAnotherTypeSavesNothing)
{
    const std::string ref = file("ref.xt");
    ASSERT_TRUE(
        writeVolume(ref, VEXAFILE_HEADER_INRIA, TYPEDATA_U8, 4, 3, 2, std::vector<double>(24, 1)));
    DataRecord* r = blockRecord(4, 3, 2, TYPEDATA_S16);
    vexa::setSaveFormatPresenter(
        fixedChoice(true, vexa::SAVE_FORMAT_INRIA_REFERENCE, TYPEDATA_S16));
    host.queueFileAnswer(true, file("out.xt"));
    answer([&](ParamBox& box) { setText(box, 0, ref, PARAM_PATH_BUFFER); });
    EXPECT_FALSE(vexa::saveDataCommand(r));
    EXPECT_FALSE(std::filesystem::exists(file("out.xt")));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].find("n'a pas le type choisi"), std::string::npos);
    EXPECT_EQ(r->block()->storage, vexa::STORAGE_MEMORY);

    // A missing reference is refused the same way.
    vexa::SaveRequest rq;
    rq.threeD = true;
    rq.formatCode = vexa::SAVE_FORMAT_INRIA_REFERENCE;
    rq.typeData = TYPEDATA_S16;
    rq.path = file("out.xt");
    rq.referencePath = file("none.xt");
    EXPECT_FALSE(vexa::dataSave(r, rq));
    EXPECT_FALSE(std::filesystem::exists(rq.path));
}

using FailedSave = ImportTest;

TEST_F(FailedSave, UnwritableDirectoryIsReportedAndChangesNothing)
{
    DataRecord* r = blockRecord(3, 3, 2, TYPEDATA_U8);
    vexa::setSaveFormatPresenter(fixedChoice(true, vexa::SAVE_FORMAT_GDR, TYPEDATA_U8));
    host.queueFileAnswer(true, file("no/such/dir/out.gdr"));
    EXPECT_FALSE(vexa::saveDataCommand(r));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].rfind("Erreur|", 0), 0u);
    EXPECT_EQ(r->block()->storage, vexa::STORAGE_MEMORY);
    EXPECT_TRUE(r->block()->samples);
}

// Writes beyond a small file-size limit fail as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_ {};
    void (*previous_)(int) = nullptr;
};

TEST_F(FailedSave, WriteFailingHalfWayKeepsTheOldFileAndTheDatum)
{
    const std::string path = file("keep.gdr");
    std::vector<double> old(8, 42);
    ASSERT_TRUE(writeVolume(path, VEXAFILE_HEADER_GDR, TYPEDATA_U8, 2, 2, 2, old));
    const std::vector<std::uint8_t> before = readBytes(path);

    for (int code : { vexa::SAVE_FORMAT_GDR, vexa::SAVE_FORMAT_RAW, vexa::SAVE_FORMAT_BMP }) {
        DataRecord* r = code == vexa::SAVE_FORMAT_BMP ? imageRecord(100, 100, TYPEDATA_U8)
                                                      : blockRecord(64, 64, 4, TYPEDATA_U8);
        vexa::SaveRequest rq;
        rq.threeD = code != vexa::SAVE_FORMAT_BMP;
        rq.formatCode = code;
        rq.typeData = TYPEDATA_U8;
        rq.path = path;
        std::string reason;
        bool saved;
        {
            FileSizeLimit limit(6000);
            saved = vexa::dataSave(r, rq, &reason);
        }
        EXPECT_FALSE(saved) << code;
        EXPECT_NE(reason.find("Erreur d'écriture"), std::string::npos) << reason;
        EXPECT_EQ(readBytes(path), before);
        if (r->block()) {
            EXPECT_EQ(r->block()->storage, vexa::STORAGE_MEMORY);
            EXPECT_TRUE(r->block()->samples);
        }
    }
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++entries;
    EXPECT_EQ(entries, 1); // no temporary file left behind
}

using SaveCommand = ImportTest;

TEST_F(SaveCommand, BoxesAskDimensionFormatAndTypeForABlock)
{
    DataRecord* r = blockRecord(3, 3, 2, TYPEDATA_S16);
    int shownDimension = -1, shownFormat = -1, shownType = -1;
    answer([&](ParamBox& box) { shownDimension = getInt(box, 0); });
    answer([&](ParamBox& box) {
        shownFormat = getInt(box, 0);
        setInt(box, 0, 1); // DF3
    });
    answer([&](ParamBox& box) {
        shownType = getInt(box, 0);
        setInt(box, 0, 1); // 16 bits - Non signé
    });
    host.queueFileAnswer(true, file("out.df3"));
    ASSERT_TRUE(vexa::saveDataCommand(r));
    ASSERT_EQ(boxLabels.size(), 3u);
    EXPECT_EQ(boxLabels[0], "2D,3D|");
    // The workstation's own formats first, then other programs' (no BMP in 3D).
    EXPECT_EQ(boxLabels[1].rfind("GDR,DF3,RAW,INRIA,INRIA avec référence", 0), 0u);
    EXPECT_EQ(boxLabels[1].find("BMP"), std::string::npos);
    EXPECT_EQ(boxLabels[2], "8 bits - Non signé,16 bits - Non signé,32 bits - Non signé|");
    EXPECT_EQ(shownDimension, 1);
    EXPECT_EQ(shownFormat, 0);
    EXPECT_EQ(shownType, 0);
    EXPECT_EQ(readBytes(file("out.df3")).size(), 6u + 18u * 2u);
    auto requests = host.requests();
    auto chooser = std::find_if(requests.begin(), requests.end(),
        [](const auto& q) { return q.code == vexa::GuiRequest::ChooseFile; });
    ASSERT_NE(chooser, requests.end());
    EXPECT_EQ(chooser->text, "Sauvegarder une donnée...");
}

TEST_F(SaveCommand, ImageGetsBmpAndItsOwnTypePreselected)
{
    DataRecord* r = imageRecord(3, 2, TYPEDATA_F32);
    int shownType = -1;
    answer(nullptr); // GDR
    answer([&](ParamBox& box) { shownType = getInt(box, 0); });
    host.queueFileAnswer(true, file("out.gdr"));
    ASSERT_TRUE(vexa::saveDataCommand(r));
    ASSERT_EQ(boxLabels.size(), 2u);
    EXPECT_EQ(boxLabels[0].rfind("GDR,DF3,RAW,INRIA,INRIA avec référence,BMP", 0), 0u);
    EXPECT_EQ(shownType, 6);
    int type = 0;
    readVolume(file("out.gdr"), &type);
    EXPECT_EQ(type, TYPEDATA_F32);
}

TEST_F(SaveCommand, CancellingAnyStepWritesNothing)
{
    DataRecord* r = blockRecord(3, 3, 2, TYPEDATA_U8);
    for (int stage = 0; stage < 4; ++stage) {
        answers.clear();
        host.clearRequests();
        for (int i = 0; i < 3; ++i) {
            if (i == stage)
                cancelNextBox();
            else
                answer(nullptr);
        }
        // Stage 3: every box confirmed, the file chooser cancelled (nothing queued).
        EXPECT_FALSE(vexa::saveDataCommand(r)) << stage;
        EXPECT_EQ(host.count(vexa::GuiRequest::ChooseFile), stage == 3 ? 1 : 0) << stage;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    EXPECT_TRUE(messages().empty());
}
