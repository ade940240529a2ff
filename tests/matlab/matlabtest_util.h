// Samples of every exchanged type for the MATLAB suites: sample i of a ramp holds
// i + 1 (the sizes used stay below 127, so every type holds them exactly).
#pragma once

#include "data/datarecord.h"
#include "data/newdata.h"
#include "data/registry.h"

#include <vexamem.h>

#include <cstdint>
#include <vector>

namespace matlabtest {

inline constexpr int kExchangedTypes[] = { TYPEDATA_U8, TYPEDATA_S8, TYPEDATA_U16, TYPEDATA_S16,
    TYPEDATA_U32, TYPEDATA_S32, TYPEDATA_F32, TYPEDATA_F64 };

// Samples of a type read as doubles.
inline std::vector<double> toDoubles(const void* data, int type, std::int64_t count)
{
    std::vector<double> out(static_cast<std::size_t>(count));
    vexaMemConvertInto(data, int(count), 1, 0, type, TYPEDATA_F64, out.data());
    return out;
}

inline void fillRamp(void* data, int type, std::int64_t count)
{
    std::vector<double> ramp(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i)
        ramp[std::size_t(i)] = double(i + 1);
    vexaMemConvertInto(ramp.data(), int(count), 1, 0, TYPEDATA_F64, type, data);
}

// A shown image record (depth 1) or memory block record of the ramp, row order.
inline vexa::DataRecord* rampRecord(int type, int width, int height, int depth)
{
    std::unique_ptr<vexa::ImageObject> object;
    if (depth == 1) {
        object = vexa::newImage2dObject(width, height, type);
        fillRamp(object->image->samples.data(), type, std::int64_t(width) * height);
    } else {
        object = vexa::newImage3dObject(width, height, depth, type, vexa::NEWDATA_EMPTY);
        fillRamp(object->block->samples.data(), type, std::int64_t(width) * height * depth);
    }
    return vexa::dataCreateImage(std::move(object), vexa::kFreshId, vexa::kFreshId);
}

// The samples of a record in row order (its image, or its whole memory block).
inline std::vector<double> samplesOf(const vexa::DataRecord& record, int& type)
{
    if (const vexa::BlockDescriptor* block = record.block()) {
        type = block->typeData;
        return toDoubles(block->samples.data(), type, block->sampleCount());
    }
    type = record.image2d()->typeData;
    return toDoubles(record.image2d()->samples.data(), type, record.image2d()->sampleCount());
}

} // namespace matlabtest
