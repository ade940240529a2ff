// A worker writes FRONT sections while another thread reads RIGHT and TOP sections
// of the same block, as a task does while the interface thread draws. Run under
// ThreadSanitizer by the concurrency test pass.
#include "datatest_util.h"

#include <atomic>
#include <thread>

using namespace vexa;

namespace {

// Every sample of FRONT z written in round n holds (n + z) % 200; a reader must see,
// in each column of a RIGHT section (one z), only values of whole rounds: the same
// value down the column when the column was read between two writes of that plane,
// and never anything outside 0..199.
void hammer(DataRecord* block)
{
    const int dimX = 16, dimY = 12, dimZ = 10;
    std::atomic<bool> stop { false };
    std::atomic<int> bad { 0 };
    std::thread writer([&] {
        std::vector<std::uint8_t> plane(std::size_t(dimX) * dimY);
        for (int round = 0; round < 60; ++round)
            for (int z = 0; z < dimZ; ++z) {
                std::fill(plane.begin(), plane.end(), std::uint8_t((round + z) % 200));
                dozDataSetFront(block->blockId, z, plane.data());
            }
        stop = true;
    });
    std::thread reader([&] {
        while (!stop) {
            auto* right
                = static_cast<std::uint8_t*>(dozDataGetRight(block->blockId, 3, TYPEDATA_U8));
            auto* top = static_cast<std::uint8_t*>(dozDataGetTop(block->blockId, 5, TYPEDATA_U8));
            if (!right || !top) {
                ++bad;
            } else {
                for (int i = 0; i < dimZ * dimY; ++i)
                    bad += right[i] >= 200;
                for (int i = 0; i < dimX * dimZ; ++i)
                    bad += top[i] >= 200;
            }
            dozDataFree(right);
            dozDataFree(top);
            int x = 0, y = 0, z = 0;
            if (!vexaBlockGetSize(block->blockId, &x, &y, &z) || x != dimX || y != dimY
                || z != dimZ)
                ++bad;
            if (dozDataGetCursorX(block->imageId) != dimX / 2)
                ++bad;
        }
    });
    writer.join();
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    // The last round is what stays.
    auto* front = static_cast<std::uint8_t*>(dozDataGetFront(block->blockId, 4, TYPEDATA_U8));
    EXPECT_EQ(front[0], (59 + 4) % 200);
    dozDataFree(front);
}

using SectionConcurrency = datatest::RegistryTest;

} // namespace

TEST_F(SectionConcurrency, MemoryBlockWriterAndReader)
{
    DataRecord* block
        = datatest::memoryBlock(16, 12, 10, TYPEDATA_U8, [](int, int, int) { return 0; });
    ASSERT_NE(block, nullptr);
    hammer(block);
}

TEST_F(SectionConcurrency, FileBlockWriterAndReader)
{
    datatest::TempDir dir;
    DataRecord* source
        = datatest::memoryBlock(16, 12, 10, TYPEDATA_U8, [](int, int, int) { return 0; });
    DataRecord* block = datatest::fileBlockFrom(source, dir.file("shared.gdr"));
    ASSERT_NE(block, nullptr);
    hammer(block);
}

TEST_F(SectionConcurrency, LookupsWhileTheInterfaceThreadCreatesAndDeletes)
{
    DataRecord* block
        = datatest::memoryBlock(4, 4, 4, TYPEDATA_U8, [](int, int, int) { return 1; });
    std::uint32_t id = block->blockId;
    std::atomic<bool> stop { false };
    std::atomic<int> bad { 0 };
    std::thread worker([&] {
        while (!stop) {
            if (dataFindBlock(id) != block)
                ++bad;
            dataNewId();
        }
    });
    for (int i = 0; i < 200; ++i) {
        DataRecord* r = dataCreate(DATA_IMAGE, newImageOutputObject(), nullptr, kFreshId, kFreshId);
        dataActivate(r);
        dataDelete(r);
    }
    stop = true;
    worker.join();
    EXPECT_EQ(bad.load(), 0);
}
