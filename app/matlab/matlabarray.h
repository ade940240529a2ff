// Arrays exchanged with MATLAB: the sample type <-> class table and the two layouts.
// MATLAB arrays are column-major: element (row r, column c, page p) is the sample
// (x = c, y = r, z = p). A W x H image is a (H, W) array, a dimX x dimY x dimZ block a
// (dimY, dimX, dimZ) one; each page changes layout by a transposition.
#pragma once

#include "data/datarecord.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexa::matlab {

// MATLAB's class identifiers of the exchanged types (its own numbering).
enum MatlabClass : int {
    kClassDouble = 6,
    kClassSingle = 7,
    kClassInt8 = 8,
    kClassUint8 = 9,
    kClassInt16 = 10,
    kClassUint16 = 11,
    kClassInt32 = 12,
    kClassUint32 = 13,
};

// The class of a sample type; 0 for RGBA and unknown codes, which are never exchanged.
int classForType(int typeData);
// The sample type of a class; -1 for every other class (logical, char, 64-bit, ...).
int typeForClass(int classId);

// An array in the workstation's terms: depth 1 and rank 2 for a plain image.
struct ArrayShape {
    int width = 0, height = 0, depth = 1;
    int type = TYPEDATA_U8;
    int rank = 2;
    std::int64_t sampleCount() const { return std::int64_t(width) * height * depth; }
    std::int64_t byteCount() const { return sampleCount() * vexaTypeSize(type); }
};

// The shape of a MATLAB array of this class and dimensions (rows, columns[, pages]).
// False with a reason (French) for a class outside the table, a rank other than 2 or 3,
// an empty dimension or sizes beyond what an image or block may hold.
bool shapeFromMatlab(
    int classId, std::size_t rank, const std::size_t* dims, ArrayShape& shape, std::string* reason);
// The MATLAB dimensions of a shape: (height, width) or (height, width, depth).
void matlabDims(const ArrayShape& shape, std::size_t dims[3]);

// Page by page layout changes of width x height x depth samples; source and
// destination must not overlap.
void rowToColumnOrder(const void* source, void* destination, const ArrayShape& shape);
void columnToRowOrder(const void* source, void* destination, const ArrayShape& shape);

// The shape of what an image record exports: its 2D image, or its block when it holds
// one. False with a reason for other kinds and for RGBA samples.
bool exportShape(const DataRecord& record, ArrayShape& shape, std::string* reason);
// Writes the record's samples in column order into destination (shape.byteCount()
// bytes, from exportShape): a 2D image as stored, a block section by section with its
// value scale applied, in its own type. False with a reason when a section cannot be
// read or the record changed since exportShape.
bool exportColumnOrder(
    const DataRecord& record, const ArrayShape& shape, void* destination, std::string* reason);

// Makes the image (rank 2) or memory block (rank 3) of column-order samples and shows
// it as a new datum named name. Null with a reason when it does not fit in memory or
// the record cannot be made.
DataRecord* createRecordFromColumns(
    const ArrayShape& shape, const void* columns, const std::string& name, std::string* reason);

// A valid MATLAB variable name: a letter, then letters, digits or '_', 63 at most.
bool validVariableName(const std::string& name);

} // namespace vexa::matlab
