// Every writer against the faults a disk can throw at it: a file-size limit, a full
// disk (a tiny tmpfs, where the tests may mount one), a read-only folder and a final
// rename that cannot happen (the target is a folder). The writer must say it failed, the old file
// must stay byte for byte and no temporary may be left beside it. Without a fault the same writer
// replaces the old file, so that each row is known to reach the disk at all.
#include "data/datasave.h"
#include "data/newdata.h"
#include "data/registry.h"
#include "data/series.h"
#include "display/colormap.h"
#include "formats/formats.h"
#include "mesh/meshformats.h"
#include "mesh/primitives.h"
#include "quill.h"
#include "support/fakehost.h"
#include "support/tempdir.h"
#include "vexafile.h"

#include <gtest/gtest.h>

#include <cctype>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace vexa;

// Writes beyond the limit fail with EFBIG instead of killing the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_ {};
    void (*previous_)(int) = nullptr;
};

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every writer writes well over this many bytes.
constexpr rlim_t kLimit = 4096;

DataRecord* blockRecord()
{
    return dataCreateImage(
        newImage3dObject(64, 64, 4, TYPEDATA_U8, NEWDATA_MAXIMUM), kFreshId, kFreshId);
}

bool saveAs(int format, const std::string& path, const std::string& reference = {})
{
    const bool threeD = format != SAVE_FORMAT_BMP;
    DataRecord* record = threeD
        ? blockRecord()
        : dataCreateImage(newImage2dObject(96, 64, TYPEDATA_U8), kFreshId, kFreshId);
    SaveRequest rq;
    rq.threeD = threeD;
    rq.formatCode = format;
    rq.typeData = TYPEDATA_U8;
    rq.path = path;
    rq.referencePath = reference;
    std::string reason;
    const bool saved = record && dataSave(record, rq, &reason);
    // A failure always comes with its reason for the user.
    EXPECT_TRUE(saved || !reason.empty());
    if (record && threeD && !saved) {
        EXPECT_EQ(record->block()->storage, STORAGE_MEMORY);
    }
    return saved;
}

bool saveMesh(mesh::MeshSaveFormat format, const std::string& path)
{
    TriMesh* sphere = mesh::makeSphere(12);
    const bool ok = mesh::writeMeshAs(format, path.c_str(), sphere, 0.2, 0.4, 0.6);
    triMeshFree(&sphere);
    return ok;
}

bool saveDocument(const std::string& path)
{
    QuillNode* doc = quillNew("DOCUMENT");
    for (int i = 0; i < 400; ++i)
        quillAddIntItem(quillNodeAddNode(doc, "ENTREE"), "VALEUR", i);
    const bool ok = quillWrite(doc, path.c_str()) == 1;
    quillDestroy(doc);
    return ok;
}

bool saveSeries(const std::string& path)
{
    SeriesVolume volume { 64, 64, 200, {} };
    for (int z = 0; z < volume.depth; ++z)
        volume.parts.push_back({ 0, 0, z, "img/img_" + std::to_string(z) + ".bmp" });
    std::string reason;
    const bool ok = seriesWriteDocument(volume, path, &reason);
    EXPECT_TRUE(ok || !reason.empty());
    return ok;
}

bool saveColormap(const std::string& path)
{
    PaletteRecord record;
    record.name = "Essai";
    return writeColormap(record, path, "Essai");
}

bool makeBlockFile(const std::string& path)
{
    BlockDescriptor block;
    if (!blockSetSize(block, 64, 64, 4) || !blockSetType(block, TYPEDATA_S16))
        return false;
    std::string reason;
    const bool ok = blockSetFile(block, 0, path, &reason);
    EXPECT_TRUE(ok || !reason.empty());
    return ok;
}

bool copyBlock(const std::string& path)
{
    DataRecord* record = blockRecord();
    std::string reason;
    const bool ok = record && blockCopyToFile(*record->block(), path, &reason);
    EXPECT_TRUE(ok || !reason.empty());
    return ok;
}

struct Writer {
    std::string name;
    // Writes to the path; the reference file of "INRIA avec référence" is passed along.
    std::function<bool(const std::string& path, const std::string& reference)> write;
    std::string extension = ".dat"; // of the target, for writers that add theirs
};

const Writer kOwnWriters[] = {
    { "Gdr", [](auto& p, auto&) { return saveAs(SAVE_FORMAT_GDR, p); } },
    { "Df3", [](auto& p, auto&) { return saveAs(SAVE_FORMAT_DF3, p); } },
    { "Raw", [](auto& p, auto&) { return saveAs(SAVE_FORMAT_RAW, p); } },
    { "Inria", [](auto& p, auto&) { return saveAs(SAVE_FORMAT_INRIA, p); } },
    { "InriaReference",
        [](auto& p, auto& ref) { return saveAs(SAVE_FORMAT_INRIA_REFERENCE, p, ref); } },
    { "Bmp", [](auto& p, auto&) { return saveAs(SAVE_FORMAT_BMP, p); } },
    { "BlockFile", [](auto& p, auto&) { return makeBlockFile(p); } },
    { "BlockCopy", [](auto& p, auto&) { return copyBlock(p); } },
    { "SeriesDocument", [](auto& p, auto&) { return saveSeries(p); } },
    { "Document", [](auto& p, auto&) { return saveDocument(p); } },
    { "MeshStandard", [](auto& p, auto&) { return saveMesh(mesh::MeshSaveFormat::Standard, p); } },
    { "MeshStl", [](auto& p, auto&) { return saveMesh(mesh::MeshSaveFormat::StlBinary, p); } },
    { "MeshOff", [](auto& p, auto&) { return saveMesh(mesh::MeshSaveFormat::Off, p); } },
    { "MeshPointsNormals",
        [](auto& p, auto&) { return saveMesh(mesh::MeshSaveFormat::PointsNormals, p); } },
    { "Colormap", [](auto& p, auto&) { return saveColormap(p); } },
};

// The writers above, then every writer of other programs' formats through the save.
const std::vector<Writer>& allWriters()
{
    static const std::vector<Writer> writers = [] {
        std::vector<Writer> list(std::begin(kOwnWriters), std::end(kOwnWriters));
        const auto& others = formatWriters();
        for (std::size_t i = 0; i < others.size(); ++i) {
            std::string name;
            for (const char* c = others[i].name; *c; ++c)
                if (std::isalnum(static_cast<unsigned char>(*c)))
                    name += *c;
            const int code = SAVE_FORMAT_OTHER + static_cast<int>(i);
            list.push_back({ "Format" + name, [code](auto& p, auto&) { return saveAs(code, p); },
                others[i].extension });
        }
        return list;
    }();
    return writers;
}

enum class Fault { None, FileSizeLimit, FullDisk, ReadOnlyFolder, TargetIsFolder };

const char* faultName(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return "NoFault";
    case Fault::FileSizeLimit:
        return "FileSizeLimit";
    case Fault::FullDisk:
        return "FullDisk";
    case Fault::ReadOnlyFolder:
        return "ReadOnlyFolder";
    case Fault::TargetIsFolder:
        return "TargetIsFolder";
    }
    return "";
}

class WriterFaults : public ::testing::TestWithParam<std::tuple<std::size_t, Fault>> {
protected:
    void SetUp() override
    {
        installHost(&host);
        dataResetRegistry();
        ASSERT_TRUE(folder.ok() && elsewhere.ok());
        // The reference of "INRIA avec référence" lives outside the folder under test.
        reference = elsewhere.file("reference.inr");
        FileDescriptor* desc = vexaFileNew();
        vexaFileSetFullName(desc, reference.c_str());
        vexaFileSetSizes(desc, 64, 64, 4);
        vexaFileSetTypeData(desc, TYPEDATA_U8);
        vexaFileSetNbBits(desc, 8);
        vexaFileSetHeader(desc, VEXAFILE_HEADER_INRIA);
        ASSERT_TRUE(vexaFileWriteHeader(desc));
        vexaFileRelease(desc);
    }
    void TearDown() override
    {
        if (mounted)
            ::umount2(folder.path().c_str(), MNT_DETACH);
        ::chmod(folder.path().c_str(), 0755);
        dataResetRegistry();
        installHost(nullptr);
    }
    // Names in the folder under test.
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder.path()))
            names.push_back(e.path().filename().string());
        return names;
    }

    FakeHost host;
    vexatest::TempDir folder { "vexa-faults" };
    vexatest::TempDir elsewhere { "vexa-faults-ref" };
    std::string reference;
    bool mounted = false;
};

TEST_P(WriterFaults, OldFileSurvivesAndNoTemporaryIsLeft)
{
    const Writer& writer = allWriters()[std::get<0>(GetParam())];
    const Fault fault = std::get<1>(GetParam());
    if (fault == Fault::ReadOnlyFolder && ::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    if (fault == Fault::FullDisk) {
        // A disk of two pages: the old file fits, nothing of the size of a new one does.
        if (::mount("tmpfs", folder.path().c_str(), "tmpfs", 0, "size=8k") != 0)
            GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
        mounted = true;
    }

    const std::string target = folder.file("cible" + writer.extension);
    const std::string old = "ancien contenu, à garder tel quel\n";
    if (fault == Fault::TargetIsFolder) {
        ASSERT_TRUE(fs::create_directory(target));
        std::ofstream(target + "/dedans.txt", std::ios::binary) << old;
    } else {
        std::ofstream(target, std::ios::binary) << old;
    }

    bool written;
    if (fault == Fault::FileSizeLimit) {
        FileSizeLimit limit(kLimit);
        written = writer.write(target, reference);
    } else if (fault == Fault::ReadOnlyFolder) {
        ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);
        written = writer.write(target, reference);
        ::chmod(folder.path().c_str(), 0755);
    } else {
        written = writer.write(target, reference);
    }

    EXPECT_EQ(entries(), std::vector<std::string> { "cible" + writer.extension });
    if (fault == Fault::None) {
        EXPECT_TRUE(written);
        EXPECT_GT(fs::file_size(target), kLimit);
        return;
    }
    EXPECT_FALSE(written);
    if (fault == Fault::TargetIsFolder) {
        ASSERT_TRUE(fs::is_directory(target));
        EXPECT_EQ(contents(target + "/dedans.txt"), old);
    } else {
        EXPECT_EQ(contents(target), old);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, WriterFaults,
    ::testing::Combine(::testing::Range<std::size_t>(0, allWriters().size()),
        ::testing::Values(Fault::None, Fault::FileSizeLimit, Fault::FullDisk, Fault::ReadOnlyFolder,
            Fault::TargetIsFolder)),
    [](const auto& row) {
        return allWriters()[std::get<0>(row.param)].name + "_" + faultName(std::get<1>(row.param));
    });

} // namespace
