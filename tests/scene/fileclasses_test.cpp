// Every third-party sample file is recognised as what it is before the raw import is
// offered: by the own readers, as a mesh, by a format reader, or named as a known
// format no reader takes. Only plain sample dumps (and text beside them) match nothing.
#include "data/dataopen.h"
#include "formats/formats.h"
#include "scene/meshopen.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

bool recognised(const std::string& path)
{
    const std::string head = vexa::formatHead(path);
    return vexa::scene::isMeshFile(path, head) || vexa::dataOpenDescriptor(path)
        || vexa::formatReaderFor(path, head) || !vexa::formatUnsupportedReason(path, head).empty();
}

// Files with no header by nature: raw sample dumps (also the data files that other
// formats' headers name), and the notes beside the samples.
bool headerless(const fs::path& file)
{
    const std::string name = file.filename().string();
    const std::string folder = file.parent_path().filename().string();
    const std::string ext = file.extension().string();
    return folder == "raw" || folder == "headsq" || folder == "LICENSES" || ext == ".md"
        || ext == ".txt" || ext == ".raw" || ext == ".ascii" || ext == ".bov"
        || name == "SHA256SUMS" || name == "README";
}

TEST(FileClasses, NoThirdPartyFileFallsToTheRawImport)
{
    const fs::path root = VEXA_TESTDATA_DIR;
    if (!fs::is_directory(root))
        GTEST_SKIP() << "no test data";
    std::vector<std::string> unknown;
    int seen = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || headerless(entry.path()))
            continue;
        ++seen;
        if (!recognised(entry.path().string()))
            unknown.push_back(fs::relative(entry.path(), root).string());
    }
    EXPECT_GT(seen, 100);
    for (const std::string& name : unknown)
        ADD_FAILURE() << name << " would reach the raw import";
}

} // namespace
