// Opening files of other programs' formats as data: read into memory with their
// geometry and header text; a known format no reader takes fails with its name
// rather than offering the raw import.
#include "data/dataopen.h"
#include "data/datasave.h"
#include "data/registry.h"
#include "params/parambox.h"
#include "support/fakehost.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

class FormatOpen : public ::testing::Test {
protected:
    void SetUp() override
    {
        vexa::installHost(&host);
        vexa::dataResetRegistry();
        vexa::params::setParamDialogPresenter([this](ParamBox*) {
            ++boxes;
            return 0;
        });
        ASSERT_TRUE(dir.ok());
    }
    void TearDown() override
    {
        vexa::params::setParamDialogPresenter({});
        vexa::dataResetRegistry();
        vexa::installHost(nullptr);
    }
    std::string put(const std::string& name, const std::string& bytes)
    {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    vexa::FakeHost host;
    vexatest::TempDir dir { "vexa-formatopen" };
    int boxes = 0;
};

TEST_F(FormatOpen, NrrdVolumeBecomesAMemoryBlockAndSlicesAnImage)
{
    std::string samples(2 * 3 * 4 * 2, '\0');
    for (std::size_t i = 0; i < samples.size() / 2; ++i)
        samples[2 * i] = char(i); // little-endian int16 i
    const std::string path = put("v.nrrd",
        "NRRD0004\ntype: short\ndimension: 3\nsizes: 2 3 4\nspacings: 0.5 0.5 2.5\n"
        "endian: little\nencoding: raw\n\n"
            + samples);
    vexa::OpenResult result = vexa::dataOpen(path);
    ASSERT_EQ(result.outcome, vexa::OpenOutcome::Opened) << result.reason;
    vexa::BlockDescriptor* block = result.record->block();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->storage, vexa::STORAGE_MEMORY);
    EXPECT_EQ(block->dimX, 2);
    EXPECT_EQ(block->dimY, 3);
    EXPECT_EQ(block->dimZ, 4);
    EXPECT_EQ(block->typeData, TYPEDATA_S16);
    EXPECT_DOUBLE_EQ(block->spaceStep, 2.5);
    std::int16_t last = 0;
    std::memcpy(&last, block->samples.bytes() + 2 * 23, 2);
    EXPECT_EQ(last, 23);
    const std::string& info = result.record->image2d()->fileInfo;
    EXPECT_NE(info.find("NRRD"), std::string::npos);
    EXPECT_NE(info.find("spacings: 0.5 0.5 2.5"), std::string::npos);
    EXPECT_FALSE(result.record->image2d()->displayRangeSet);

    const std::string flat = put("f.nrrd",
        "NRRD0004\ntype: uint8\ndimension: 2\nsizes: 3 2\nencoding: ascii\n\n1 2 3 4 5 250\n");
    result = vexa::dataOpen(flat);
    ASSERT_EQ(result.outcome, vexa::OpenOutcome::Opened) << result.reason;
    EXPECT_EQ(result.record->block(), nullptr);
    vexa::ImageDescriptor* image = result.record->image2d();
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->samples.bytes()[5], 250);
    EXPECT_EQ(boxes, 0);
}

TEST_F(FormatOpen, KnownButUnreadableFilesFailWithTheirFormatAndBadOnesWithTheirFile)
{
    const std::string hdf
        = put("scan.h5", std::string("\x89HDF\r\n\x1a\n", 8) + std::string(600, '\0'));
    vexa::OpenResult result = vexa::dataOpen(hdf);
    EXPECT_EQ(result.outcome, vexa::OpenOutcome::Failed);
    EXPECT_EQ(result.reason, hdf + " : format HDF5 non pris en charge");

    // A reader's refusal is shown as it is, naming the file.
    const std::string bad = put("bad.nrrd",
        "NRRD0004\ntype: short\ndimension: 2\nsizes: 4 4\n"
        "encoding: raw\n\nxx");
    result = vexa::dataOpen(bad);
    EXPECT_EQ(result.outcome, vexa::OpenOutcome::Failed);
    EXPECT_EQ(result.reason.rfind(bad + " : ", 0), 0u) << result.reason;
    EXPECT_EQ(boxes, 0);
    EXPECT_TRUE(vexa::dataListAll().empty());

    // Only a file that matches nothing goes to the raw import (cancelled here).
    result = vexa::dataOpen(put("plain.bin", std::string(64, '\x03')));
    EXPECT_EQ(result.outcome, vexa::OpenOutcome::Cancelled);
    EXPECT_EQ(boxes, 1);
    result = vexa::dataOpen(dir.file("absent.nrrd"));
    EXPECT_EQ(result.reason, dir.file("absent.nrrd") + " : Impossible d'ouvrir le fichier");
}

TEST_F(FormatOpen, ChoosersListOtherFormats)
{
    const std::string open = vexa::openDataFilters();
    EXPECT_EQ(open.rfind("Tous Formats (*.bmp *.gdr *.xt *.iso", 0), 0u) << open;
    EXPECT_NE(open.find("*.nrrd *.nhdr", open.find(";;Fichier NRRD (")), std::string::npos);
    EXPECT_NE(open.find(";;Fichier GDR (*.gdr);;"), std::string::npos);
    EXPECT_EQ(open.substr(open.size() - 21), "Tous les fichiers (*)");

    EXPECT_EQ(vexa::saveDataFilters(vexa::SAVE_FORMAT_GDR).rfind("Fichier GDR (*.gdr);;", 0), 0u);
    EXPECT_EQ(vexa::saveDataFilters(vexa::SAVE_FORMAT_BMP).rfind("Fichier Bitmap", 0), 0u);
    const std::vector<vexa::SaveFormat> listed = vexa::saveFormatsListed(true);
    const auto nrrd = std::find_if(listed.begin(), listed.end(),
        [](const vexa::SaveFormat& f) { return std::strcmp(f.label, "NRRD") == 0; });
    ASSERT_NE(nrrd, listed.end());
    EXPECT_GT(nrrd - listed.begin(), 4); // after the workstation's own formats
    EXPECT_EQ(vexa::saveDataFilters(nrrd->code).rfind("Fichier NRRD (*.nrrd);;", 0), 0u);
    EXPECT_EQ(vexa::savePathForFormat("/d/out", nrrd->code), "/d/out.nrrd");
    EXPECT_EQ(vexa::savePathForFormat("/d/out.NRRD", nrrd->code), "/d/out.NRRD");
    EXPECT_EQ(vexa::savePathForFormat("/d/out", vexa::SAVE_FORMAT_GDR), "/d/out");
}

TEST_F(FormatOpen, SavingThroughAnotherFormatReadsBack)
{
    std::string samples;
    for (int i = 0; i < 12; ++i)
        samples += char(i * 20);
    const std::string source = put(
        "s.nrrd", "NRRD0004\ntype: uint8\ndimension: 3\nsizes: 2 2 3\nencoding: raw\n\n" + samples);
    vexa::OpenResult opened = vexa::dataOpen(source);
    ASSERT_EQ(opened.outcome, vexa::OpenOutcome::Opened) << opened.reason;
    const std::vector<vexa::SaveFormat> listed = vexa::saveFormatsListed(true);
    const auto meta = std::find_if(listed.begin(), listed.end(),
        [](const vexa::SaveFormat& f) { return std::strcmp(f.label, "MetaImage") == 0; });
    ASSERT_NE(meta, listed.end());
    vexa::SaveRequest rq;
    rq.threeD = true;
    rq.formatCode = meta->code;
    rq.typeData = TYPEDATA_U16;
    rq.path = dir.file("copy.mha");
    std::string reason;
    ASSERT_TRUE(vexa::dataSave(opened.record, rq, &reason)) << reason;
    vexa::OpenResult back = vexa::dataOpen(rq.path);
    ASSERT_EQ(back.outcome, vexa::OpenOutcome::Opened) << back.reason;
    ASSERT_NE(back.record->block(), nullptr);
    EXPECT_EQ(back.record->block()->typeData, TYPEDATA_U16);
    EXPECT_EQ(back.record->block()->dimZ, 3);
    std::uint16_t v = 0;
    std::memcpy(&v, back.record->block()->samples.bytes() + 2 * 11, 2);
    EXPECT_EQ(v, 220);

    // The command adds the writer's extension, and asks before replacing a file of
    // that name, which the dialog did not ask about.
    const int position = int(meta - listed.begin());
    vexa::setSaveFormatPresenter([position](vexa::SaveFormatChoice& c) {
        c.threeD = true;
        c.formatPosition = position;
        c.typePosition = 0;
        return true;
    });
    host.queueFileAnswer(true, dir.file("cmd"));
    EXPECT_TRUE(vexa::saveDataCommand(opened.record));
    EXPECT_TRUE(std::filesystem::exists(dir.file("cmd.mha")));
    const auto before = std::filesystem::file_size(dir.file("cmd.mha"));
    put("cmd.mha", "keep");
    host.queueFileAnswer(true, dir.file("cmd"));
    host.queueMessageAnswer(vexa::MessageAnswer::No);
    EXPECT_FALSE(vexa::saveDataCommand(opened.record));
    EXPECT_EQ(std::filesystem::file_size(dir.file("cmd.mha")), 4u);
    EXPECT_GT(before, 12u);
    vexa::setSaveFormatPresenter({});
}

} // namespace
