#include "matlab/matfile.h"

#include "data/dataopen.h"
#include "matlab/matv5.h"

#include <atomicsave.hpp>
#include <matio.h>
#include <vexa_reason.hpp>

#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <mutex>

namespace vexa::matlab {

namespace {

constexpr const char* kNotMatFile = "fichier MAT illisible";
// A corrupt file cannot announce more variables than this before it is given up.
constexpr int kMaxVariables = 100000;
// Deflate expands at most about 1032 times, and MATLAB may store a class in a type
// of 1 byte per element (a double array of small integers in uint8).
constexpr std::uint64_t kMaxInflation = 1032 * 8;

void quietLog(int, char*) { }

// The library's default log writes to stderr; its reasons are replaced by ours.
void quietenLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { Mat_LogInitFunc("vexa", quietLog); });
}

struct MatCloser {
    void operator()(mat_t* mat) const { Mat_Close(mat); }
};
struct VarFreer {
    void operator()(matvar_t* var) const { Mat_VarFree(var); }
};
using MatHandle = std::unique_ptr<mat_t, MatCloser>;
using VarHandle = std::unique_ptr<matvar_t, VarFreer>;

std::uint64_t fileSize(const std::string& path)
{
    struct stat st { };
    return stat(path.c_str(), &st) == 0 ? std::uint64_t(st.st_size) : 0;
}

// Version 7.3 files open with a 128-byte header ending in the version 0x0200 and the
// byte order mark "IM" (or "MI"); HDF5 checks the rest. Other files never reach the
// library, whose probing for version 4 files reserves what their first bytes announce.
MatHandle openMat73(const std::string& path, std::string* reason)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char h[128];
    const bool big
        = in.read(reinterpret_cast<char*>(h), sizeof h) && h[126] == 'M' && h[127] == 'I';
    const bool little = in && h[126] == 'I' && h[127] == 'M';
    if (!(big && h[124] == 2 && h[125] == 0) && !(little && h[125] == 2 && h[124] == 0)) {
        setReason(
            reason, fileReason(path, kNotMatFile + std::string(" (versions 5 et 7.3 seulement)")));
        return nullptr;
    }
    quietenLibrary();
    MatHandle mat(Mat_Open(path.c_str(), MAT_ACC_RDONLY));
    if (!mat || Mat_GetVersion(mat.get()) != MAT_FT_MAT73) {
        setReason(reason, fileReason(path, kNotMatFile));
        return nullptr;
    }
    return mat;
}

// The variable's shape from its header, or why it is refused.
bool describe(const matvar_t& var, ArrayShape& shape, std::string* reason)
{
    if (var.isComplex || var.isLogical) {
        setReason(reason, "Variable logique ou complexe non prise en charge");
        return false;
    }
    if (var.rank < 0 || (var.rank > 0 && !var.dims)) {
        setReason(reason, kNotMatFile);
        return false;
    }
    return shapeFromMatlab(int(var.class_type), std::size_t(var.rank), var.dims, shape, reason);
}

} // namespace

bool listMatVariables(
    const std::string& path, std::vector<MatVariable>& variables, std::string* reason)
{
    bool bigEndian = false;
    if (v5::isV5File(path, bigEndian))
        return v5::listVariables(path, variables, reason);
    MatHandle mat = openMat73(path, reason);
    if (!mat)
        return false;
    std::vector<MatVariable> found;
    while (VarHandle var { Mat_VarReadNextInfo(mat.get()) }) {
        if (int(found.size()) >= kMaxVariables) {
            setReason(reason, fileReason(path, kNotMatFile));
            return false;
        }
        MatVariable v;
        v.name = var->name ? var->name : "";
        v.supported = !v.name.empty() && describe(*var, v.shape, &v.reason);
        if (v.name.empty())
            v.reason = "Variable sans nom";
        found.push_back(std::move(v));
    }
    variables = std::move(found);
    return true;
}

bool readMatVariable(
    const std::string& path, const std::string& name, const MatSamplesUse& use, std::string* reason)
{
    bool bigEndian = false;
    if (v5::isV5File(path, bigEndian))
        return v5::readVariable(path, name, use, reason);
    MatHandle mat = openMat73(path, reason);
    if (!mat)
        return false;
    VarHandle info { Mat_VarReadInfo(mat.get(), name.c_str()) };
    if (!info) {
        setReason(reason, fileReason(path, "variable " + name + " absente"));
        return false;
    }
    ArrayShape shape;
    std::string why;
    if (!describe(*info, shape, &why)) {
        setReason(reason, fileReason(path, name + " : " + why));
        return false;
    }
    // The header's sizes are the file's word: a damaged one must not reserve memory
    // for samples the file cannot hold.
    const std::uint64_t bytes = std::uint64_t(shape.byteCount());
    if (bytes / kMaxInflation > fileSize(path)) {
        setReason(reason, fileReason(path, kNotMatFile));
        return false;
    }
    if (bytes > availableMemoryBytes()) {
        setReason(reason, fileReason(path, "mémoire insuffisante pour " + byteCountText(bytes)));
        return false;
    }
    info.reset();
    // Read as a whole, the variable must still have the header that was checked.
    VarHandle var { Mat_VarRead(mat.get(), name.c_str()) };
    ArrayShape read;
    if (!var || !var->data || !describe(*var, read, nullptr) || read.width != shape.width
        || read.height != shape.height || read.depth != shape.depth || read.type != shape.type
        || var->data_size != vexaTypeSize(shape.type) || var->nbytes < bytes) {
        setReason(reason, fileReason(path, kNotMatFile));
        return false;
    }
    return use(shape, var->data);
}

bool writeMatVariable(const std::string& path, const std::string& name, const ArrayShape& shape,
    const void* columns, MatVersion version, std::string* reason)
{
    if (!validVariableName(name)) {
        setReason(reason, "Nom de variable invalide : " + name);
        return false;
    }
    const int classId = classForType(shape.type);
    if (!classId || (shape.rank != 2 && shape.rank != 3) || !columns) {
        setReason(reason, "Les images RGBA ne s'échangent pas avec MATLAB");
        return false;
    }
    if (version == MatVersion::Automatic)
        version = shape.byteCount() >= (std::int64_t(1) << 31) ? MatVersion::V73 : MatVersion::V5;

    atomicsave::AtomicFile file;
    if (!file.open(path)) {
        setReason(reason, fileReason(path, withCause("écriture impossible", file.error())));
        return false;
    }
    quietenLibrary();
    MatHandle mat(Mat_CreateVer(
        file.tempPath().c_str(), nullptr, version == MatVersion::V73 ? MAT_FT_MAT73 : MAT_FT_MAT5));
    if (!mat) {
        setReason(reason, fileReason(path, "écriture impossible"));
        return false;
    }
    std::size_t dims[3];
    matlabDims(shape, dims);
    static constexpr matio_types kDataTypes[] = { MAT_T_UNKNOWN, MAT_T_UNKNOWN, MAT_T_UNKNOWN,
        MAT_T_UNKNOWN, MAT_T_UNKNOWN, MAT_T_UNKNOWN, MAT_T_DOUBLE, MAT_T_SINGLE, MAT_T_INT8,
        MAT_T_UINT8, MAT_T_INT16, MAT_T_UINT16, MAT_T_INT32, MAT_T_UINT32 };
    // The library only reads the samples it is lent (MAT_F_DONT_COPY_DATA).
    VarHandle var { Mat_VarCreate(name.c_str(), matio_classes(classId), kDataTypes[classId],
        shape.rank, dims, const_cast<void*>(columns), MAT_F_DONT_COPY_DATA) };
    const bool written = var
        && Mat_VarWrite(mat.get(), var.get(),
               version == MatVersion::V73 ? MAT_COMPRESSION_NONE : MAT_COMPRESSION_ZLIB)
            == 0;
    var.reset();
    const bool closed = Mat_Close(mat.release()) == 0;
    if (!written || !closed) {
        setReason(reason, fileReason(path, "écriture impossible"));
        return false;
    }
    if (!file.commit()) {
        setReason(reason, fileReason(path, withCause("écriture impossible", file.error())));
        return false;
    }
    return true;
}

} // namespace vexa::matlab
