#include "datatest_util.h"

#include "quill.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace vexa;
using datatest::coordinateCode;

namespace {

// Pending outputs of a pretend task: what the task manager will provide.
class FakeOutputs : public PendingOutputs {
public:
    std::vector<std::unique_ptr<ImageObject>> blocks, images;
    std::vector<std::uint32_t> blockIds;

    std::vector<ImageObject*> outputs(int slotKind) override
    {
        std::vector<ImageObject*> out;
        for (auto& o : slotKind == SLOT_BLOCK_OUTPUT ? blocks : images)
            if (o && !(o->block && o->block->shown))
                out.push_back(o.get());
        return out;
    }
    ImageObject* outputById(std::uint32_t id) override
    {
        for (std::size_t i = 0; i < blockIds.size(); ++i)
            if (blockIds[i] == id && blocks[i] && !blocks[i]->block->shown)
                return blocks[i].get();
        return nullptr;
    }
};

class BlockOutputs : public datatest::RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        for (int i = 0; i < 2; ++i) {
            fake.blocks.push_back(newBlockOutputObject());
            fake.blockIds.push_back(dataNewId());
        }
        fake.images.push_back(newImageOutputObject());
        setPendingOutputs(&fake);
    }
    void TearDown() override
    {
        setPendingOutputs(nullptr);
        RegistryTest::TearDown();
    }
    BlockDescriptor& block(int i) { return *fake.blocks[i]->block; }
    FakeOutputs fake;
    datatest::TempDir dir;
};

} // namespace

TEST_F(BlockOutputs, UnconfiguredOutputIs64CubedU8InMemory)
{
    EXPECT_EQ(block(0).dimX, 64);
    EXPECT_EQ(block(0).dimZ, 64);
    EXPECT_EQ(block(0).typeData, TYPEDATA_U8);
    EXPECT_EQ(block(0).storage, STORAGE_MEMORY);
    EXPECT_EQ(fake.images[0]->image->width, 512);
}

TEST_F(BlockOutputs, SizeAndTypeByOrdinalAndById)
{
    EXPECT_EQ(dozDataSetBlockSize(nullptr, 2, 5, 6, 7), 1);
    EXPECT_EQ(block(1).dimY, 6);
    EXPECT_EQ(block(0).dimY, 64);
    EXPECT_EQ(dozDataSetBlockSize(nullptr, 3, 5, 6, 7), 0);
    EXPECT_EQ(dozDataSetBlockSize(nullptr, 1, 0, 6, 7), 0);
    EXPECT_EQ(dozDataSetBlockSizeAll(nullptr, 8, 9, 10), 1);
    EXPECT_EQ(block(0).dimZ, 10);
    EXPECT_EQ(vexaBlockSetSize(fake.blockIds[1], 3, 3, 3), 1);
    EXPECT_EQ(block(1).dimX, 3);
    EXPECT_EQ(dozDataSetType(nullptr, SLOT_BLOCK_OUTPUT, 1, TYPEDATA_F32), 1);
    EXPECT_EQ(block(0).typeData, TYPEDATA_F32);
    EXPECT_EQ(dozDataSetType(nullptr, SLOT_IMAGE_OUTPUT, 1, TYPEDATA_S16), 1);
    EXPECT_EQ(fake.images[0]->image->typeData, TYPEDATA_S16);
    EXPECT_EQ(dozDataSetTypeAll(nullptr, SLOT_BLOCK_OUTPUT, 12), 0);
    EXPECT_EQ(vexaBlockSetTypeData(fake.blockIds[1], TYPEDATA_U16), 1);
    EXPECT_EQ(block(1).typeData, TYPEDATA_U16);
}

TEST_F(BlockOutputs, ShownOutputsCannotBeReconfigured)
{
    auto object = std::move(fake.blocks[0]);
    DataRecord* r = showImageObject(std::move(object), fake.blockIds[0] ^ 1, fake.blockIds[0]);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->block()->shown);
    EXPECT_FALSE(blockSetSize(*r->block(), 2, 2, 2));
    EXPECT_FALSE(blockSetType(*r->block(), TYPEDATA_S8));
    EXPECT_FALSE(blockSetFile(*r->block(), 1, dir.file("late.gdr")));
    EXPECT_EQ(vexaBlockSetSize(fake.blockIds[0], 2, 2, 2), 0);
    int x = 0, y = 0, z = 0;
    vexaBlockGetSize(r->blockId, &x, &y, &z);
    EXPECT_EQ(x, 64);
}

TEST_F(BlockOutputs, FileIsCreatedWithItsHeaderAtOnce)
{
    dozDataSetBlockSize(nullptr, 1, 6, 4, 3);
    std::string straight = dir.file("straight.gdr"), turned = dir.file("turned.gdr");
    ASSERT_EQ(dozDataSetBlockFile(nullptr, 1, 1, straight.c_str()), 1);
    ASSERT_EQ(dozDataSetBlockFile(nullptr, 2, 0, turned.c_str()), 1);
    EXPECT_EQ(block(0).storage, STORAGE_FILE);
    EXPECT_EQ(block(0).fileName, straight);

    for (auto [path, transpose] : { std::pair { straight, 0 }, { turned, 1 } }) {
        FileDescriptor* f = vexaFileNameOpen(path.c_str());
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(vexaFileReadHeader(f), 1);
        EXPECT_EQ(vexaFileGetTranspose(f), transpose) << path;
        int w = 0, h = 0, d = 0;
        vexaFileGetSizes(f, &w, &h, &d);
        EXPECT_EQ(w, transpose ? 64 : 6);
        vexaFileRelease(f);
    }
    // Once shown, sections go to the file.
    DataRecord* r = showImageObject(std::move(fake.blocks[0]), kFreshId, kFreshId);
    ASSERT_NE(r, nullptr);
    const std::uint8_t row[6] = { 1, 2, 3, 4, 5, 6 };
    ASSERT_EQ(dozDataSetPartialFront(r->blockId, 2, 0, 3, row, 6, 1), 1);
    FileDescriptor* f = vexaFileNameOpen(straight.c_str());
    vexaFileReadHeader(f);
    auto* plane = static_cast<std::uint8_t*>(vexaFileReadImage(f, 0, 2));
    EXPECT_EQ(plane[3 * 6 + 5], 6);
    vexaFileFree(plane);
    vexaFileRelease(f);
}

TEST_F(BlockOutputs, UnwritableFileLeavesTheBlockInMemory)
{
    std::string path = dir.file("missing/dir/x.gdr");
    EXPECT_EQ(dozDataSetBlockFile(nullptr, 1, 1, path.c_str()), 0);
    EXPECT_EQ(block(0).storage, STORAGE_MEMORY);
    EXPECT_TRUE(block(0).fileName.empty());
}

using BlockMemory = datatest::RegistryTest;

TEST_F(BlockMemory, AllocationFailureIsRefusedWithAReason)
{
    auto object = newBlockOutputObject();
    // 8192 x 8192 x 9000 bytes: more than this machine has.
    ASSERT_TRUE(blockSetSize(*object->block, 8192, 8192, 9000));
    std::string reason;
    BlockDescriptor& b = *object->block;
    if (blockPrepareStorage(b, &reason))
        GTEST_SKIP() << "the system granted 600 GB";
    EXPECT_FALSE(b.samples);
    EXPECT_NE(reason.find("Mémoire insuffisante"), std::string::npos);
    DataRecord* r = showImageObject(std::move(object), kFreshId, kFreshId, &reason);
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(dataCount(DATA_IMAGE), 0);
}

TEST_F(BlockMemory, SizesBeyondTheLimitAreRefusedBeforeAllocating)
{
    std::string reason;
    EXPECT_FALSE(blockSizesValid(1 << 30, 1 << 30, 1 << 30, TYPEDATA_F64, &reason));
    EXPECT_FALSE(blockSizesValid(10, -1, 10, TYPEDATA_U8));
    EXPECT_FALSE(blockSizesValid(10, 10, 10, 0));
    // Above 2 GiB is fine: 64-bit sizes inside.
    EXPECT_TRUE(blockSizesValid(2048, 2048, 1024, TYPEDATA_F64));
}

TEST_F(BlockMemory, PointersOfFrontSections)
{
    DataRecord* r = datatest::memoryBlock(3, 2, 4, TYPEDATA_S16, coordinateCode);
    auto** planes = static_cast<std::int16_t**>(dozDataGetPtr(r->blockId));
    ASSERT_NE(planes, nullptr);
    EXPECT_EQ(planes[3][1 * 3 + 2], coordinateCode(2, 1, 3));
    dozDataFree(planes);
    EXPECT_EQ(dozDataGetDepth(r->blockId), 4);
    EXPECT_EQ(dozDataGetDepth(r->imageId), 0);
    EXPECT_EQ(dozDataGetWidth(r->imageId), 3);
    EXPECT_EQ(dozDataGetTypeData(r->blockId), TYPEDATA_S16);
}

TEST_F(BlockMemory, CursorByEitherIdentifier)
{
    DataRecord* r = datatest::memoryBlock(100, 50, 21, TYPEDATA_U8, coordinateCode);
    int a[3] = {}, b[3] = {};
    EXPECT_EQ(vexaBlockGetCursor(r->imageId, &a[0], &a[1], &a[2]), 1);
    EXPECT_EQ(vexaBlockGetCursor(r->blockId, &b[0], nullptr, &b[2]), 1);
    EXPECT_EQ(a[0], 50);
    EXPECT_EQ(a[1], 25);
    EXPECT_EQ(a[2], 10);
    EXPECT_EQ(b[0], a[0]);
    EXPECT_EQ(b[2], a[2]);
    EXPECT_EQ(dozDataGetCursorY(r->imageId), 25);
    EXPECT_EQ(vexaBlockGetCursor(999, &a[0], &a[1], &a[2]), 0);
}

TEST_F(BlockMemory, ClicksComeNewestFirst)
{
    DataRecord* r = datatest::memoryBlock(4, 4, 4, TYPEDATA_U8, coordinateCode);
    r->block()->clickX = { 1, 2, 3 };
    r->block()->clickY = { 4, 5, 6 };
    r->block()->clickZ = { 7, 8, 9 };
    r->image2d()->clickX = { 10 };
    r->image2d()->clickY = { 11 };
    EXPECT_EQ(dozDataGetClickNumber(r->blockId), 3);
    int* z = dozDataGetClickZ(r->blockId);
    EXPECT_EQ(z[0], 9);
    EXPECT_EQ(z[2], 7);
    dozDataFree(z);
    EXPECT_EQ(dozDataGetClickNumber(r->imageId), 1);
    EXPECT_EQ(dozDataGetClickZ(r->imageId), nullptr);
    int *x = nullptr, *y = nullptr;
    EXPECT_EQ(vexaImageGetClickArray(r->imageId, &x, &y), 1);
    EXPECT_EQ(y[0], 11);
    dozDataFree(x);
    dozDataFree(y);
    EXPECT_EQ(dozDataGetCaptureNumber(r->blockId), 0);
}

TEST_F(BlockMemory, SpaceAnswersOnlyWhenNotDefault)
{
    DataRecord* r = datatest::memoryBlock(2, 2, 2, TYPEDATA_U8, coordinateCode);
    double start = -1, step = -1;
    EXPECT_EQ(dozDataGetSpace(r->blockId, &start, &step), 0);
    EXPECT_EQ(start, -1);
    r->block()->spaceStep = 4;
    EXPECT_EQ(dozDataGetSpace(r->blockId, &start, &step), 1);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(step, 4);
    EXPECT_EQ(dozDataGetSpace(r->imageId, &start, &step), 0);
}

TEST_F(BlockMemory, ValueClassSetsPaletteGainAndOffset)
{
    DataRecord* r = datatest::memoryBlock(2, 2, 2, TYPEDATA_U8, coordinateCode);
    ASSERT_EQ(dozDataSetClass(r->blockId, CLASS_DIRECTION), 1);
    BlockDescriptor& b = *r->block();
    EXPECT_EQ(b.valueClass, CLASS_DIRECTION);
    EXPECT_EQ(r->image2d()->valueClass, CLASS_DIRECTION);
    EXPECT_EQ(b.palette, (PaletteRef { 3, 0 }));
    EXPECT_NEAR(b.valueGain, 63.66197723675394, 1e-12);
    EXPECT_EQ(b.valueOffset, 127);
    EXPECT_EQ(b.valueScaleOn, 0); // left as it was
    ASSERT_EQ(dozDataSetClass(r->imageId, CLASS_BOOLEAN), 1);
    EXPECT_EQ(b.valueGain, 255);
    EXPECT_EQ(dozDataSetClass(r->imageId, 5), 0);

    // A plain image keeps gain and offset on its 2D image.
    DataRecord* plain = showImageObject(newImageOutputObject(), kFreshId, kFreshId);
    ASSERT_EQ(dozDataSetClass(plain->imageId, CLASS_ORIENTATION), 1);
    EXPECT_NEAR(plain->image2d()->valueGain, 31.83098861837697, 1e-12);
    EXPECT_EQ(plain->image2d()->palette, (PaletteRef { 4, 0 }));
}

TEST_F(BlockMemory, ExtractCopiesTheRegion)
{
    DataRecord* r = datatest::memoryBlock(6, 5, 4, TYPEDATA_S32, coordinateCode);
    EXPECT_EQ(extractMemoryBlock(*r->block(), 2, 1, 1, 1, 3, 2), nullptr); // reversed x
    EXPECT_EQ(extractMemoryBlock(*r->block(), 0, 0, 0, 6, 4, 3), nullptr); // x2 outside
    EXPECT_EQ(extractMemoryBlock(*r->block(), -1, 0, 0, 2, 2, 2), nullptr);
    auto sub = extractMemoryBlock(*r->block(), 1, 2, 1, 4, 3, 3);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->dimX, 4);
    EXPECT_EQ(sub->dimY, 2);
    EXPECT_EQ(sub->dimZ, 3);
    auto* s = reinterpret_cast<std::int32_t*>(sub->plane(2));
    EXPECT_EQ(s[1 * 4 + 3], coordinateCode(4, 3, 3));
}

using BlockFiles = datatest::RegistryTest;

TEST_F(BlockFiles, CompanionNames)
{
    EXPECT_EQ(companionNames("/d/volxy.inr"),
        (std::pair<std::string, std::string> { "/d/volxz.inr", "/d/volyz.inr" }));
    EXPECT_EQ(companionNames("cube_yx.gdr").first, "cube_xz.gdr");
    EXPECT_EQ(companionNames("/d/vol.inr").first, "");
    EXPECT_EQ(companionNames("/dx.y/ab").first, "");
    EXPECT_EQ(companionNames("/d/xy").second, "/d/yz");
}

TEST_F(BlockFiles, CopyToFileRoundTripsWithTheValueScale)
{
    datatest::TempDir dir;
    DataRecord* r = datatest::memoryBlock(5, 4, 3, TYPEDATA_S16, coordinateCode);
    r->block()->valueScaleOn = 1;
    r->block()->valueGain = 2;
    std::string path = dir.file("copy.gdr");
    ASSERT_EQ(vexaBlockCopyToFile(r->blockId, path.c_str()), 1);
    FileDescriptor* f = vexaFileNameOpen(path.c_str());
    ASSERT_EQ(vexaFileReadHeader(f), 1);
    EXPECT_EQ(vexaFileGetTypeData(f), TYPEDATA_S16);
    auto* plane = static_cast<std::int16_t*>(vexaFileReadImage(f, 0, 2));
    EXPECT_EQ(plane[3 * 5 + 4], 2 * coordinateCode(4, 3, 2));
    vexaFileFree(plane);
    vexaFileRelease(f);
    // Nothing but the file is left in the directory.
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
        files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST_F(BlockFiles, FailedCopyKeepsTheOldFile)
{
    datatest::TempDir dir;
    DataRecord* r = datatest::memoryBlock(2, 2, 2, TYPEDATA_U8, coordinateCode);
    EXPECT_EQ(vexaBlockCopyToFile(r->blockId, dir.file("no/such/dir.gdr").c_str()), 0);
    std::string path = dir.file("old.gdr");
    std::ofstream(path) << "precious";
    // A GDR header cannot hold a width of 7 digits: the copy fails, the file stays.
    DataRecord* wide
        = datatest::memoryBlock(1000000, 1, 1, TYPEDATA_U8, [](int, int, int) { return 0; });
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(vexaBlockCopyToFile(wide->blockId, path.c_str()), 0);
    std::ifstream in(path);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "precious");
}

TEST_F(BlockFiles, ExtractFromFileWritesALogicalDescription)
{
    datatest::TempDir dir;
    auto code = [](int x, int y, int z) { return (x + 3 * y + 7 * z) % 251; };
    DataRecord* m = datatest::memoryBlock(30, 50, 20, TYPEDATA_U8, code);
    DataRecord* f = datatest::fileBlockFrom(m, dir.file("src.gdr"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(writeExtractDescription(*f->block(), 10, 0, 15, 19, 49, 5), "");
    std::string desc = writeExtractDescription(*f->block(), 10, 0, 5, 19, 49, 14);
    ASSERT_FALSE(desc.empty());
    EXPECT_NE(desc.find("extract_tmp_"), std::string::npos);
    QuillNode* doc = quillRead(desc.c_str(), 10);
    ASSERT_NE(doc, nullptr);
    EXPECT_STREQ(quillNodeGetName(doc), "LOGICAL");
    long v = 0;
    ASSERT_EQ(quillGetIntItem(doc, "WIDTH", &v), 1);
    EXPECT_EQ(v, 10);
    quillGetIntItem(doc, "HEIGHT", &v);
    EXPECT_EQ(v, 50);
    quillGetIntItem(doc, "DEPTH", &v);
    EXPECT_EQ(v, 10);
    int count = 0;
    QuillNode** parts = quillNodeFindNodes(doc, "PART", 10, &count);
    ASSERT_EQ(count, 1);
    quillGetIntItem(parts[0], "X", &v);
    EXPECT_EQ(v, -10);
    quillGetIntItem(parts[0], "Y", &v);
    EXPECT_EQ(v, 0);
    quillGetIntItem(parts[0], "Z", &v);
    EXPECT_EQ(v, -5);
    EXPECT_EQ(std::string(quillGetTextItem(parts[0], "NAME")), dir.file("src.gdr"));
    quillRelease(parts);
    quillDestroy(doc);

    // The description reads back as the region of the source file.
    auto region = blockOpenFile(desc);
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(region->dimX, 10);
    void* s = readSection(*region, false, -1, PLANE_FRONT, 0, 0, 0, 9, 49);
    EXPECT_EQ(static_cast<std::uint8_t*>(s)[2], code(12, 0, 5));
    std::free(s);
    std::remove(desc.c_str());
}

TEST_F(BlockFiles, MismatchedCompanionIsIgnored)
{
    datatest::TempDir dir;
    DataRecord* m = datatest::memoryBlock(4, 3, 2, TYPEDATA_U8, coordinateCode);
    // A y-z companion of the wrong sizes (a copy of the block itself).
    ASSERT_TRUE(blockCopyToFile(*m->block(), dir.file("cubeyz.gdr")));
    DataRecord* f = datatest::fileBlockFrom(m, dir.file("cubexy.gdr"));
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(f->block()->rightFile);
    EXPECT_FALSE(f->block()->topFile);
    auto* right = static_cast<std::uint8_t*>(dozDataGetRight(f->blockId, 1, TYPEDATA_U8));
    EXPECT_EQ(right[2 * 2 + 1], coordinateCode(1, 2, 1));
    dozDataFree(right);
}

TEST_F(BlockFiles, UnreadableFileIsRefused)
{
    datatest::TempDir dir;
    std::string path = dir.file("junk.gdr");
    std::ofstream(path) << "not an image";
    std::string reason;
    EXPECT_EQ(blockOpenFile(path, &reason), nullptr);
    EXPECT_NE(reason.find(path), std::string::npos);
    EXPECT_EQ(blockOpenFile(dir.file("absent.gdr")), nullptr);
}

TEST_F(BlockMemory, SectionsBeyondTwoGigabytes)
{
    // 1024 x 1024 x 2100 bytes: planes past 2 GiB. Pages are only touched where written,
    // except under AddressSanitizer, whose calloc fills all 2.2 GB.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator would touch 2.2 GB";
#endif
    auto object = newBlockOutputObject();
    ASSERT_TRUE(blockSetSize(*object->block, 1024, 1024, 2100));
    DataRecord* r = showImageObject(std::move(object), kFreshId, kFreshId);
    if (!r)
        GTEST_SKIP() << "no 2.2 GB of address space";
    std::vector<std::uint8_t> row(1024, 9);
    ASSERT_EQ(dozDataSetPartialFront(r->blockId, 2099, 0, 1023, row.data(), 1024, 1), 1);
    auto* right = static_cast<std::uint8_t*>(
        dozDataGetPartialRight(r->blockId, 1023, TYPEDATA_U8, 2098, 1022, 2, 2));
    EXPECT_EQ(right[0], 0);
    EXPECT_EQ(right[2 + 1], 9); // z = 2099, y = 1023
    dozDataFree(right);
    auto** planes = static_cast<std::uint8_t**>(dozDataGetPtr(r->blockId));
    EXPECT_EQ(planes[2099][1023 * 1024 + 5], 9);
    EXPECT_EQ(planes[2099] - planes[0], std::ptrdiff_t(2099) * 1024 * 1024);
    dozDataFree(planes);
}

TEST_F(BlockFiles, ExtractedRegionBecomesANewDatum)
{
    datatest::TempDir dir;
    auto code = [](int x, int y, int z) { return (x + 2 * y + 5 * z) % 200; };
    DataRecord* m = datatest::memoryBlock(8, 6, 5, TYPEDATA_U8, code);
    DataRecord* f = datatest::fileBlockFrom(m, dir.file("src.gdr"));
    for (DataRecord* source : { m, f }) {
        std::string reason;
        EXPECT_EQ(extractSubBlock(source, 3, 0, 0, 2, 5, 4, &reason), nullptr);
        EXPECT_FALSE(reason.empty());
        DataRecord* sub = extractSubBlock(source, 2, 1, 1, 5, 4, 3);
        ASSERT_NE(sub, nullptr);
        EXPECT_NE(sub->blockId, source->blockId);
        EXPECT_EQ(dozDataGetWidth(sub->blockId), 4);
        EXPECT_EQ(dozDataGetDepth(sub->blockId), 3);
        auto* s = static_cast<std::uint8_t*>(dozDataGetFront(sub->blockId, 2, TYPEDATA_U8));
        EXPECT_EQ(s[3 * 4 + 1], code(3, 4, 3));
        dozDataFree(s);
        // The description of a file block's region goes with the datum.
        const std::string description = sub->block()->fileName;
        EXPECT_EQ(std::filesystem::exists(description), source == f);
        dataClose(sub);
        EXPECT_FALSE(std::filesystem::exists(description));
    }
}
