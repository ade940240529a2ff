#include "matlab/matfile.h"
#include "matlab/matlabcommands.h"
#include "matlabtest_util.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <matio.h>

#include <fstream>
#include <iterator>

using namespace vexa;
using namespace vexa::matlab;
using namespace matlabtest;

namespace {

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), {} };
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Reads a variable into shape and bytes; false with reason as the reader says.
bool readBack(const std::string& path, const std::string& name, ArrayShape& shape,
    std::string& bytes, std::string* reason = nullptr)
{
    return readMatVariable(
        path, name,
        [&](const ArrayShape& s, const void* columns) {
            shape = s;
            bytes.assign(static_cast<const char*>(columns), std::size_t(s.byteCount()));
            return true;
        },
        reason);
}

TEST(MatFile, EveryTypeRoundTripsInBothVersionsAndBothRanks)
{
    vexatest::TempDir dir;
    for (MatVersion version : { MatVersion::V5, MatVersion::V73 })
        for (int type : kExchangedTypes)
            for (int depth : { 1, 2 }) {
                SCOPED_TRACE(std::to_string(type) + " depth " + std::to_string(depth));
                ArrayShape shape;
                shape.width = 3;
                shape.height = 2;
                shape.depth = depth;
                shape.rank = depth == 1 ? 2 : 3;
                shape.type = type;
                std::vector<std::uint8_t> columns(std::size_t(shape.byteCount()));
                fillRamp(columns.data(), type, shape.sampleCount());
                const std::string path = dir.file("v.mat");
                std::string reason;
                ASSERT_TRUE(writeMatVariable(path, "v", shape, columns.data(), version, &reason))
                    << reason;

                std::vector<MatVariable> variables;
                ASSERT_TRUE(listMatVariables(path, variables, &reason)) << reason;
                ASSERT_EQ(variables.size(), 1u);
                EXPECT_TRUE(variables[0].supported) << variables[0].reason;
                ArrayShape read;
                std::string bytes;
                ASSERT_TRUE(readBack(path, "v", read, bytes, &reason)) << reason;
                EXPECT_EQ(read.width, 3);
                EXPECT_EQ(read.height, 2);
                EXPECT_EQ(read.depth, depth);
                EXPECT_EQ(read.rank, shape.rank);
                EXPECT_EQ(read.type, type);
                EXPECT_EQ(bytes, std::string(columns.begin(), columns.end()));
            }
}

TEST(MatFile, ClassesOutsideTheTableAreRefusedWithAReason)
{
    vexatest::TempDir dir;
    const std::string path = dir.file("other.mat");
    mat_t* mat = Mat_CreateVer(path.c_str(), nullptr, MAT_FT_MAT5);
    ASSERT_NE(mat, nullptr);
    std::int64_t wide[4] = { 1, 2, 3, 4 };
    std::uint8_t flags[4] = { 1, 0, 1, 0 };
    // Four real parts, then four imaginary parts: the 2 x 2 complex array reads both.
    double complexParts[8] = { 1, 2, 3, 4, 5, 6, 7, 8 };
    mat_complex_split_t z { complexParts, complexParts + 4 };
    std::size_t dims[4] = { 2, 2, 1, 1 };
    std::size_t dims4[4] = { 1, 1, 2, 2 };
    matvar_t* vars[] = {
        Mat_VarCreate("wide", MAT_C_INT64, MAT_T_INT64, 2, dims, wide, 0),
        Mat_VarCreate("flag", MAT_C_UINT8, MAT_T_UINT8, 2, dims, flags, MAT_F_LOGICAL),
        Mat_VarCreate("z", MAT_C_DOUBLE, MAT_T_DOUBLE, 2, dims, &z, MAT_F_COMPLEX),
        Mat_VarCreate("four", MAT_C_DOUBLE, MAT_T_DOUBLE, 4, dims4, complexParts, 0),
    };
    for (matvar_t* var : vars) {
        ASSERT_NE(var, nullptr);
        EXPECT_EQ(Mat_VarWrite(mat, var, MAT_COMPRESSION_NONE), 0);
        Mat_VarFree(var);
    }
    Mat_Close(mat);

    std::vector<MatVariable> variables;
    ASSERT_TRUE(listMatVariables(path, variables, nullptr));
    ASSERT_EQ(variables.size(), 4u);
    for (const MatVariable& v : variables) {
        SCOPED_TRACE(v.name);
        EXPECT_FALSE(v.supported);
        EXPECT_NE(v.reason.find("non prise"), std::string::npos) << v.reason;
        ArrayShape shape;
        std::string bytes, reason;
        EXPECT_FALSE(readBack(path, v.name, shape, bytes, &reason));
        EXPECT_NE(reason.find(path), std::string::npos);
    }
    std::string reason;
    EXPECT_EQ(openMatFile(path, &reason), nullptr);
    EXPECT_NE(reason.find("Classe MATLAB non prise en charge (14)"), std::string::npos) << reason;
}

TEST(MatFile, DamagedFilesAreRefusedWithoutReservingTheirSizes)
{
    vexatest::TempDir dir;
    ArrayShape shape;
    shape.width = 3;
    shape.height = 2;
    shape.type = TYPEDATA_S16;
    std::vector<std::uint8_t> columns(12);
    fillRamp(columns.data(), shape.type, 6);
    const std::string good = dir.file("good.mat");
    ASSERT_TRUE(writeMatVariable(good, "v", shape, columns.data(), MatVersion::V5, nullptr));

    // Uncompressed, then its dimensions (int32 tag, 8 bytes, 2 then 3) made huge.
    const std::string plain = dir.file("plain.mat");
    {
        mat_t* mat = Mat_CreateVer(plain.c_str(), nullptr, MAT_FT_MAT5);
        std::size_t dims[2] = { 2, 3 };
        matvar_t* var = Mat_VarCreate("v", MAT_C_INT16, MAT_T_INT16, 2, dims, columns.data(), 0);
        Mat_VarWrite(mat, var, MAT_COMPRESSION_NONE);
        Mat_VarFree(var);
        Mat_Close(mat);
    }
    std::string bytes = readBytes(plain);
    const std::string dimsField("\x05\0\0\0\x08\0\0\0\x02\0\0\0\x03\0\0\0", 16);
    const std::size_t at = bytes.find(dimsField);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at + 8, 8, std::string("\xff\xff\xff\x3f\xff\xff\xff\x3f", 8));
    const std::string huge = dir.file("huge.mat");
    writeBytes(huge, bytes);
    ArrayShape read;
    std::string samples, reason;
    EXPECT_FALSE(readBack(huge, "v", read, samples, &reason));
    EXPECT_FALSE(reason.empty());

    // Every truncation, of both encodings: a clean refusal or the exact array.
    const std::string cut = dir.file("cut.mat");
    for (const std::string& whole : { readBytes(good), readBytes(plain) })
        for (std::size_t size = 0; size < whole.size(); ++size) {
            writeBytes(cut, whole.substr(0, size));
            if (readBack(cut, "v", read, samples)) {
                EXPECT_EQ(samples, std::string(columns.begin(), columns.end())) << size;
            }
            std::vector<MatVariable> variables;
            listMatVariables(cut, variables, nullptr);
        }
}

// A version 5 file as MATLAB writes it: a double (2, 3) array "d" of small integers
// stored as 16-bit values, in either byte order.
std::string handWrittenFile(bool bigEndian)
{
    std::string out(116, ' ');
    out.replace(0, 10, "MATLAB 5.0");
    out += std::string(8, '\0');
    auto u16 = [&](unsigned v) {
        out += bigEndian ? std::string { char(v >> 8), char(v) }
                         : std::string { char(v), char(v >> 8) };
    };
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out += char(v >> (bigEndian ? 24 - 8 * i : 8 * i));
    };
    u16(0x0100);
    out += bigEndian ? "MI" : "IM";
    u32(14), u32(16 + 16 + 8 + 8 + 16);
    u32(6), u32(8), u32(6), u32(0); // flags: class double
    u32(5), u32(8), u32(2), u32(3); // dimensions
    u32(0x00010001), out += std::string("d\0\0\0", 4); // name, as a small element
    u32(3), u32(12); // int16 storage
    for (unsigned v : { 1, 4, 2, 5, 3, 6 })
        u16(v);
    out += std::string(4, '\0');
    return out;
}

TEST(MatFile, StoredTypesAndByteOrdersReadAsTheClass)
{
    vexatest::TempDir dir;
    for (bool bigEndian : { false, true }) {
        const std::string path = dir.file("d.mat");
        writeBytes(path, handWrittenFile(bigEndian));
        ArrayShape shape;
        std::string bytes, reason;
        ASSERT_TRUE(readBack(path, "d", shape, bytes, &reason)) << reason;
        EXPECT_EQ(shape.type, TYPEDATA_F64);
        EXPECT_EQ(
            toDoubles(bytes.data(), TYPEDATA_F64, 6), (std::vector<double> { 1, 4, 2, 5, 3, 6 }));
    }
}

TEST(MatFile, FailedWriteKeepsTheOldFile)
{
    vexatest::TempDir dir;
    ArrayShape shape;
    shape.width = shape.height = 1;
    const std::uint8_t one = 7;
    const std::string path = dir.file("keep.mat");
    writeBytes(path, "old");
    std::string reason;
    EXPECT_FALSE(writeMatVariable(path, "1bad", shape, &one, MatVersion::V5, &reason));
    EXPECT_EQ(reason, "Nom de variable invalide : 1bad");
    EXPECT_FALSE(
        writeMatVariable(dir.file("missing/x.mat"), "ok", shape, &one, MatVersion::V5, &reason));
    EXPECT_NE(reason.find("missing/x.mat"), std::string::npos);
    EXPECT_EQ(readBytes(path), "old");
}

} // namespace
