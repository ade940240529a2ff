// Films written, read back frame by frame, opened as data and exported; damaged films
// and unwritable places.
#include "video/film.h"
#include "video/filmreader.h"
#include "video/filmwriter.h"

#include "data/dataopen.h"
#include "data/registry.h"
#include "filmtestsupport.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace vexa;
using namespace vexa::video;
using vexatest::meanDifference;
using vexatest::testFrame;

namespace {

constexpr int kWidth = 320, kHeight = 240;

bool writeFilm(const std::string& path, int frames, std::string& reason)
{
    auto writer = FilmWriter::open({ path, kWidth, kHeight, 25.0 }, reason);
    if (!writer)
        return false;
    for (int n = 0; n < frames; ++n)
        if (!writer->addFrameRgba(testFrame(kWidth, kHeight, n).data(), kWidth * 4, reason))
            return false;
    return writer->close(reason) && writer->framesWritten() == frames;
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), {} };
}

class FilmRoundTrip : public ::testing::TestWithParam<const char*> { };

} // namespace

TEST_P(FilmRoundTrip, FiftyFramesReadBackInOrderWithRandomAccess)
{
    vexatest::TempDir dir;
    const std::string path = dir.file(std::string("film") + GetParam());
    std::string reason;
    ASSERT_TRUE(writeFilm(path, 50, reason)) << reason;

    auto reader = FilmReader::open(path, reason);
    ASSERT_TRUE(reader) << reason;
    EXPECT_EQ(reader->frameCount(), 50);
    EXPECT_EQ(reader->width(), kWidth);
    EXPECT_EQ(reader->height(), kHeight);
    EXPECT_NEAR(reader->framesPerSecond(), 25.0, 1e-6);
    EXPECT_NEAR(reader->durationSeconds(), 2.0, 1e-6);
    EXPECT_NEAR(reader->frameTime(10), 0.4, 1e-6);
    EXPECT_TRUE(reader->notice().empty());
    EXPECT_FALSE(reader->grey());

    std::vector<std::uint8_t> first, tenth, again, last;
    ASSERT_TRUE(reader->decodeFrame(0, first, reason)) << reason;
    ASSERT_TRUE(reader->decodeFrame(10, tenth, reason)) << reason;
    EXPECT_LT(meanDifference(first, testFrame(kWidth, kHeight, 0)), 4.0);
    EXPECT_LT(meanDifference(tenth, testFrame(kWidth, kHeight, 10)), 4.0);
    EXPECT_GT(meanDifference(first, tenth), 5.0);

    // Backwards after a jump gives the very same pictures as the forward pass.
    ASSERT_TRUE(reader->decodeFrame(49, last, reason)) << reason;
    EXPECT_LT(meanDifference(last, testFrame(kWidth, kHeight, 49)), 4.0);
    ASSERT_TRUE(reader->decodeFrame(10, again, reason)) << reason;
    EXPECT_EQ(again, tenth);
    ASSERT_TRUE(reader->decodeFrame(11, again, reason)) << reason;
    EXPECT_LT(meanDifference(again, testFrame(kWidth, kHeight, 11)), 4.0);

    EXPECT_FALSE(reader->decodeFrame(50, again, reason));
    EXPECT_FALSE(reader->decodeFrame(-1, again, reason));
    EXPECT_NE(reason.find(path), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Containers, FilmRoundTrip, ::testing::Values(".avi", ".mp4"));

TEST(FilmWriting, FailuresGiveReasonsAndLeaveTheExistingFileIntact)
{
    vexatest::TempDir dir;
    const std::string existing = dir.file("keep.avi");
    std::ofstream(existing) << "old contents";
    std::string reason;

    // A film without frames, and one abandoned without close, replace nothing.
    auto empty = FilmWriter::open({ existing, 64, 48, 25.0 }, reason);
    ASSERT_TRUE(empty) << reason;
    EXPECT_FALSE(empty->close(reason));
    EXPECT_NE(reason.find("keep.avi"), std::string::npos);
    auto abandoned = FilmWriter::open({ existing, 64, 48, 25.0 }, reason);
    ASSERT_TRUE(abandoned);
    ASSERT_TRUE(abandoned->addFrameRgba(testFrame(64, 48, 0).data(), 64 * 4, reason));
    abandoned.reset();
    EXPECT_EQ(readAll(existing), "old contents");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    // Under a regular file, in place of a folder, and with refused settings.
    const std::string under = existing + "/film.avi";
    reason.clear();
    EXPECT_FALSE(FilmWriter::open({ under, 64, 48, 25.0 }, reason));
    EXPECT_NE(reason.find(under), std::string::npos);
    EXPECT_FALSE(FilmWriter::open({ dir.path(), 64, 48, 25.0 }, reason));
    EXPECT_FALSE(FilmWriter::open({ dir.file("a.avi"), 0, 48, 25.0 }, reason));
    EXPECT_FALSE(FilmWriter::open({ dir.file("a.avi"), 64, 48, 0.0 }, reason));
    EXPECT_EQ(readAll(existing), "old contents");

    // A finished film does replace it.
    auto film = FilmWriter::open({ existing, 65, 47, 25.0 }, reason);
    ASSERT_TRUE(film) << reason;
    ASSERT_TRUE(film->addFrameRgba(testFrame(65, 47, 0).data(), 65 * 4, reason)) << reason;
    ASSERT_TRUE(film->close(reason)) << reason;
    EXPECT_FALSE(film->close(reason));
    auto reader = FilmReader::open(existing, reason);
    ASSERT_TRUE(reader) << reason;
    // Odd sides are padded by one pixel for the codec.
    EXPECT_EQ(reader->width(), 66);
    EXPECT_EQ(reader->height(), 48);
}

TEST(FilmReading, TruncatedAndForeignFilesAreReportedNotFatal)
{
    vexatest::TempDir dir;
    const std::string whole = dir.file("whole.avi");
    std::string reason;
    ASSERT_TRUE(writeFilm(whole, 50, reason)) << reason;
    const std::string bytes = readAll(whole);

    const std::string cut = dir.file("cut.avi");
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() * 55 / 100);
    auto reader = FilmReader::open(cut, reason);
    ASSERT_TRUE(reader) << reason;
    EXPECT_GT(reader->frameCount(), 10);
    EXPECT_LT(reader->frameCount(), 50);
    EXPECT_NE(reader->notice().find("tronqué"), std::string::npos) << reader->notice();
    std::vector<std::uint8_t> rgba;
    for (int n = reader->frameCount() - 1; n >= 0; n -= 7)
        EXPECT_TRUE(reader->decodeFrame(n, rgba, reason)) << reason;
    ASSERT_TRUE(reader->decodeFrame(0, rgba, reason)) << reason;
    EXPECT_LT(meanDifference(rgba, testFrame(kWidth, kHeight, 0)), 4.0);

    // Shorter heads of the file either open or are refused with a reason.
    for (std::size_t size : { 0, 12, 200, 2000, 9000 }) {
        std::ofstream(cut, std::ios::binary | std::ios::trunc) << bytes.substr(0, size);
        reason.clear();
        auto head = FilmReader::open(cut, reason);
        if (!head)
            EXPECT_NE(reason.find(cut), std::string::npos) << size;
        else
            EXPECT_GE(head->frameCount(), 1);
    }
    const std::string text = dir.file("notes.mp4");
    std::ofstream(text) << "not a film at all";
    EXPECT_FALSE(FilmReader::open(text, reason));
    EXPECT_NE(reason.find("notes.mp4"), std::string::npos);
}

TEST(FilmDatum, OpensAsDataStepsAndExportsFramesAsBlockAndSeries)
{
    vexatest::TempDir dir;
    const std::string path = dir.file("Film.AVI");
    std::string reason;
    ASSERT_TRUE(writeFilm(path, 30, reason)) << reason;
    EXPECT_TRUE(isFilmFile(path, ""));
    EXPECT_FALSE(isFilmFile(dir.file("image.gdr"), ""));
    installFilmFileOpener();

    OpenResult opened = dataOpen(path);
    ASSERT_EQ(opened.outcome, OpenOutcome::Opened) << opened.reason;
    ASSERT_EQ(opened.record->kind, DATA_AVI);
    FilmObject* film = filmOf(opened.record);
    ASSERT_NE(film, nullptr);
    EXPECT_EQ(film->current, 0);
    EXPECT_EQ(film->recordId, opened.record->imageId);

    ASSERT_TRUE(filmMoveTo(*film, 25, &reason)) << reason;
    EXPECT_EQ(film->current, 25);
    EXPECT_LT(meanDifference(film->frame, testFrame(kWidth, kHeight, 25)), 4.0);
    EXPECT_FALSE(filmMoveTo(*film, 30, &reason));
    EXPECT_EQ(film->current, 25);

    auto block = filmRangeBlock(*film, 0, 9, &reason);
    ASSERT_TRUE(block) << reason;
    ASSERT_TRUE(block->block);
    EXPECT_EQ(block->block->dimX, kWidth);
    EXPECT_EQ(block->block->dimY, kHeight);
    EXPECT_EQ(block->block->dimZ, 10);
    EXPECT_EQ(block->block->typeData, TYPEDATA_RGBA);
    for (int z = 0; z < 10; ++z) {
        std::vector<std::uint8_t> decoded;
        ASSERT_TRUE(film->reader->decodeFrame(z, decoded, reason));
        ASSERT_EQ(std::memcmp(block->block->plane(z), decoded.data(), decoded.size()), 0) << z;
    }
    EXPECT_FALSE(filmRangeBlock(*film, 5, 30, &reason));
    EXPECT_FALSE(filmRangeBlock(*film, 5, 4, &reason));

    auto image = filmFrameImage(*film, 25, &reason);
    ASSERT_TRUE(image) << reason;
    EXPECT_EQ(std::memcmp(image->image->samples.data(), film->frame.data(), film->frame.size()), 0);

    const std::string prefix = dir.file("frame");
    ASSERT_TRUE(filmExportSeries(*film, 3, 5, prefix, &reason)) << reason;
    EXPECT_TRUE(std::filesystem::exists(prefix + "_0000.bmp"));
    EXPECT_TRUE(std::filesystem::exists(prefix + "_0002.bmp"));
    EXPECT_FALSE(std::filesystem::exists(prefix + "_0003.bmp"));
    EXPECT_FALSE(filmExportSeries(*film, 0, 0, dir.file("none/frame"), &reason));

    const unsigned int loaded = dozDataLoadFromFile(path.c_str());
    ASSERT_NE(loaded, 0u);
    EXPECT_EQ(dataFind(loaded)->kind, DATA_AVI);
    clearForeignFileOpeners();
    dataResetRegistry();
}
