// Helpers shared by the data tests: a clean registry per test, blocks in memory and
// in files, temporary folders.
#pragma once

#include "data/blockoutputs.h"
#include "data/dataapi.h"
#include "data/registry.h"
#include "data/section.h"
#include "support/tempdir.h"
#include "vexafile.h"
#include "vexamem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace datatest {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vexa::installHost(nullptr);
        vexa::dataResetRegistry();
    }
    void TearDown() override
    {
        vexa::installHost(nullptr);
        vexa::dataResetRegistry();
    }
};

using vexatest::TempDir;

// A shown memory block whose sample (x, y, z) holds fill(x, y, z), as the type.
template <typename F> vexa::DataRecord* memoryBlock(int dimX, int dimY, int dimZ, int type, F fill)
{
    auto object = vexa::newBlockOutputObject();
    vexa::blockSetType(*object->block, type);
    vexa::blockSetSize(*object->block, dimX, dimY, dimZ);
    vexa::DataRecord* r = vexa::showImageObject(std::move(object), vexa::kFreshId, vexa::kFreshId);
    if (!r)
        return nullptr;
    vexa::BlockDescriptor& b = *r->block();
    std::vector<double> values(std::size_t(dimX) * dimY);
    for (int z = 0; z < dimZ; ++z) {
        for (int y = 0; y < dimY; ++y)
            for (int x = 0; x < dimX; ++x)
                values[std::size_t(y) * dimX + x] = fill(x, y, z);
        dozDataSetFrontByType(r->blockId, z, values.data(), TYPEDATA_F64);
    }
    (void)b;
    return r;
}

inline double coordinateCode(int x, int y, int z)
{
    return x + 10 * y + 100 * z;
}

// A GDR file of the block's contents and a shown file block opened from it.
inline vexa::DataRecord* fileBlockFrom(const vexa::DataRecord* source, const std::string& path)
{
    if (!vexa::blockCopyToFile(*source->block(), path))
        return nullptr;
    auto object = std::make_unique<vexa::ImageObject>();
    object->block = vexa::blockOpenFile(path);
    if (!object->block)
        return nullptr;
    return vexa::showImageObject(std::move(object), vexa::kFreshId, vexa::kFreshId);
}

// Samples of a returned array as doubles.
inline std::vector<double> asDoubles(void* data, int count, int type)
{
    std::vector<double> out;
    if (!data)
        return out;
    void* d = vexaMemConvert(data, count, 1, 0, type, TYPEDATA_F64);
    out.assign(static_cast<double*>(d), static_cast<double*>(d) + count);
    std::free(d);
    return out;
}

} // namespace datatest
