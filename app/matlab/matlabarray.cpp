#include "matlab/matlabarray.h"

#include "data/dataopen.h"
#include "data/newdata.h"
#include "data/registry.h"
#include "data/section.h"

#include <vexa_reason.hpp>
#include <vexamem.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace vexa::matlab {

namespace {

struct ClassEntry {
    int type;
    int classId;
};

constexpr ClassEntry kClassTable[] = {
    { TYPEDATA_U8, kClassUint8 },
    { TYPEDATA_S8, kClassInt8 },
    { TYPEDATA_U16, kClassUint16 },
    { TYPEDATA_S16, kClassInt16 },
    { TYPEDATA_U32, kClassUint32 },
    { TYPEDATA_S32, kClassInt32 },
    { TYPEDATA_F32, kClassSingle },
    { TYPEDATA_F64, kClassDouble },
};

std::int64_t pageBytes(const ArrayShape& shape)
{
    return std::int64_t(shape.width) * shape.height * vexaTypeSize(shape.type);
}

} // namespace

int classForType(int typeData)
{
    for (const ClassEntry& e : kClassTable)
        if (e.type == typeData)
            return e.classId;
    return 0;
}

int typeForClass(int classId)
{
    for (const ClassEntry& e : kClassTable)
        if (e.classId == classId)
            return e.type;
    return -1;
}

bool shapeFromMatlab(
    int classId, std::size_t rank, const std::size_t* dims, ArrayShape& shape, std::string* reason)
{
    const int type = typeForClass(classId);
    if (type < 0) {
        setReason(reason, "Classe MATLAB non prise en charge (" + std::to_string(classId) + ")");
        return false;
    }
    if ((rank != 2 && rank != 3) || !dims) {
        setReason(reason, "Dimensions MATLAB non prises en charge (" + std::to_string(rank) + ")");
        return false;
    }
    for (std::size_t i = 0; i < rank; ++i) {
        if (dims[i] == 0 || dims[i] > std::size_t(INT_MAX)) {
            setReason(reason, "Taille de tableau MATLAB invalide");
            return false;
        }
    }
    ArrayShape s;
    s.type = type;
    s.rank = int(rank);
    s.height = int(dims[0]);
    s.width = int(dims[1]);
    s.depth = rank == 3 ? int(dims[2]) : 1;
    // The size check divides rather than multiplies: three int factors overflow 64 bits.
    if (!blockSizesValid(s.width, s.height, s.depth, s.type, nullptr)) {
        setReason(reason, "Tableau MATLAB trop grand");
        return false;
    }
    shape = s;
    return true;
}

void matlabDims(const ArrayShape& shape, std::size_t dims[3])
{
    dims[0] = std::size_t(shape.height);
    dims[1] = std::size_t(shape.width);
    dims[2] = std::size_t(shape.depth);
}

void rowToColumnOrder(const void* source, void* destination, const ArrayShape& shape)
{
    const std::int64_t page = pageBytes(shape);
    for (int z = 0; z < shape.depth; ++z) {
        auto* out = static_cast<std::uint8_t*>(destination) + page * z;
        std::memcpy(out, static_cast<const std::uint8_t*>(source) + page * z, std::size_t(page));
        vexaMemTranspose(out, shape.type, shape.width, shape.height);
    }
}

void columnToRowOrder(const void* source, void* destination, const ArrayShape& shape)
{
    const std::int64_t page = pageBytes(shape);
    for (int z = 0; z < shape.depth; ++z) {
        auto* out = static_cast<std::uint8_t*>(destination) + page * z;
        std::memcpy(out, static_cast<const std::uint8_t*>(source) + page * z, std::size_t(page));
        // A column-order page reads as a row-order array height wide.
        vexaMemTranspose(out, shape.type, shape.height, shape.width);
    }
}

bool exportShape(const DataRecord& record, ArrayShape& shape, std::string* reason)
{
    if (record.kind != DATA_IMAGE || !record.image) {
        setReason(reason, "Seules les images et les volumes s'échangent avec MATLAB");
        return false;
    }
    ArrayShape s;
    if (const BlockDescriptor* block = record.block()) {
        std::shared_lock lock(block->lock);
        s.width = block->dimX;
        s.height = block->dimY;
        s.depth = block->dimZ;
        s.type = block->typeData;
        s.rank = 3;
    } else {
        ImageDescriptor& image = *record.image2d();
        std::lock_guard lock(image.lock);
        s.width = image.width;
        s.height = image.height;
        s.type = image.typeData;
    }
    if (!classForType(s.type)) {
        setReason(reason, "Les images RGBA ne s'échangent pas avec MATLAB");
        return false;
    }
    if (!blockSizesValid(s.width, s.height, s.depth, s.type, reason))
        return false;
    shape = s;
    return true;
}

bool exportColumnOrder(
    const DataRecord& record, const ArrayShape& shape, void* destination, std::string* reason)
{
    ArrayShape now;
    if (!exportShape(record, now, reason))
        return false;
    if (now.width != shape.width || now.height != shape.height || now.depth != shape.depth
        || now.type != shape.type) {
        setReason(reason, "La donnée a changé pendant l'échange");
        return false;
    }
    if (shape.rank == 2) {
        ImageDescriptor& image = *record.image2d();
        std::lock_guard lock(image.lock);
        if (!image.samples || std::int64_t(image.samples.size()) < shape.byteCount()) {
            setReason(reason, "Image sans échantillons");
            return false;
        }
        rowToColumnOrder(image.samples.data(), destination, shape);
        return true;
    }
    const BlockDescriptor& block = *record.block();
    const std::int64_t page = pageBytes(shape);
    ArrayShape one = shape;
    one.depth = 1;
    for (int z = 0; z < shape.depth; ++z) {
        std::unique_ptr<void, decltype(&std::free)> section(
            readSection(block, true, -1, PLANE_FRONT, z, 0, 0, shape.width - 1, shape.height - 1),
            &std::free);
        if (!section) {
            setReason(reason, "Lecture de la section " + std::to_string(z) + " impossible");
            return false;
        }
        rowToColumnOrder(section.get(), static_cast<std::uint8_t*>(destination) + page * z, one);
    }
    return true;
}

DataRecord* createRecordFromColumns(
    const ArrayShape& shape, const void* columns, const std::string& name, std::string* reason)
{
    if (std::uint64_t(shape.byteCount()) > availableMemoryBytes()) {
        setReason(
            reason, "Mémoire insuffisante pour " + byteCountText(std::uint64_t(shape.byteCount())));
        return nullptr;
    }
    std::unique_ptr<ImageObject> object;
    if (shape.rank == 2) {
        object = newImage2dObject(shape.width, shape.height, shape.type, reason);
        if (!object)
            return nullptr;
        columnToRowOrder(columns, object->image->samples.data(), shape);
    } else {
        object = newImage3dObject(
            shape.width, shape.height, shape.depth, shape.type, NEWDATA_EMPTY, reason);
        if (!object)
            return nullptr;
        // A fresh memory block: FRONT section z is plane z, rows of dimX samples.
        columnToRowOrder(columns, object->block->samples.data(), shape);
    }
    DataRecord* record = dataCreateImage(std::move(object), kFreshId, kFreshId);
    if (!record) {
        setReason(reason, "Impossible de créer la donnée");
        return nullptr;
    }
    dataSetName(record, name);
    return record;
}

bool validVariableName(const std::string& name)
{
    if (name.empty() || name.size() > 63)
        return false;
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(name[0]))
        return false;
    for (char c : name)
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '_')
            return false;
    return true;
}

} // namespace vexa::matlab
