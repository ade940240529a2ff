// Studies: finding study files, opening a study folder as a study datum and the two
// trees it lists.
#include "config/config.h"
#include "data/registry.h"
#include "params/parambox.h"
#include "study/study.h"
#include "support/fakehost.h"
#include "support/tempdir.h"
#include "tasks/taskapi.h"
#include "tasks/taskcontext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace vexa::study {
namespace {

namespace fs = std::filesystem;

void put(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// An 8-bit volume in the workstation's own format, samples included.
void putVolume(const std::string& path, int w, int h, int d)
{
    std::string header(256, ' ');
    header.replace(0, 8, "GDR 1.0 ");
    const std::string ws = std::to_string(w), hs = std::to_string(h), ds = std::to_string(d);
    header.replace(8, ws.size(), ws);
    header.replace(14, hs.size(), hs);
    header[27] = '0';
    header.replace(30, ds.size(), ds);
    header[39] = '0';
    put(path, header + std::string(std::size_t(w) * std::size_t(h) * std::size_t(d), '\x40'));
}

std::string standardMesh(int r, int g, int b)
{
    return "Data3D_V1.0\nrouge : " + std::to_string(r) + "\nvert : " + std::to_string(g)
        + "\nbleu : " + std::to_string(b)
        + "\nnbp : 3\n0 : 0 0 0\n1 : 1 0 0\n2 : 0 1 0\nnbf : 1 \n0 1 2\n";
}

const StudyNode* child(const StudyNode& node, const std::string& label)
{
    for (const StudyNode& c : node.children)
        if (c.label == label)
            return &c;
    return nullptr;
}

std::vector<std::string> labels(const StudyNode& node)
{
    std::vector<std::string> out;
    for (const StudyNode& c : node.children)
        out.push_back(c.label);
    return out;
}

class Study : public ::testing::Test {
protected:
    void SetUp() override
    {
        installHost(&host);
        taskResetAll();
        dataResetRegistry();
    }
    void TearDown() override
    {
        taskResetAll();
        dataResetRegistry();
        host.processPending();
        installHost(nullptr);
    }

    // A study folder under the temporary folder and its study file naming it.
    std::string makeStudyFile(const std::string& line, const std::string& name = "etude.txt")
    {
        const std::string path = dir.file("studies/" + name);
        put(path, line + "\n");
        return path;
    }
    std::string studyFolder() const { return dir.file("Demo/"); }

    void makeDemo()
    {
        const std::string data = studyFolder() + "DATA/";
        putVolume(data + "SEISMIC/a.gdr", 100, 200, 50);
        putVolume(data + "SEISMIC/lot2/b.gdr", 150, 100, 60);
        putVolume(data + "SEISMIC/sansextension", 300, 300, 300);
        put(data + "SEISMIC/notes.txt", "pas une image");
        put(data + "HORIZONS/top.iso", "x");
        put(data + "HORIZONS/top.hor", standardMesh(1, 2, 3));
        put(data + "HORIZONS/old.gdr", "x");
        put(data + "FAULTS/f1.flt", standardMesh(10, 20, 300));
        put(data + "FAULTS/readme.txt", "x");
        put(data + "REGIONS/dome.off", "OFF\n");
        put(data + "REGIONS/dome.vtk", "x");
        put(data + "REGIONS/anciens/blob.blb", standardMesh(5, 6, 7));
        put(data + "TEXTURES/t.txt", "no xml here");
        put(data + "horizons/low.hor", standardMesh(0, 0, 0));
        put(data + "SNURBS/s.xml", "<a/>");
        put(data + "loose.hor", "x");
    }

    FakeHost host;
    vexatest::TempDir dir { "vexa-study" };
};

TEST_F(Study, OpensAGeneratedStudyWithItsTreesSizesAndLabels)
{
    makeDemo();
    DataRecord* record = openStudyFile(makeStudyFile(studyFolder()));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->kind, DATA_STUDY);
    EXPECT_EQ(record->name, studyFolder());
    EXPECT_EQ(host.count(GuiRequest::MessageBox), 0);
    const StudyObject* study = studyOf(record);
    ASSERT_NE(study, nullptr);
    EXPECT_EQ(study->title, studyFolder());

    // Largest sizes across the listed volumes; files without extension or not images
    // are hidden, folders always shown.
    EXPECT_EQ(study->maxWidth, 150);
    EXPECT_EQ(study->maxHeight, 200);
    EXPECT_EQ(study->maxDepth, 60);
    int w = 0, h = 0, d = 0;
    study->reportSizes(w, h, d);
    EXPECT_EQ(w * 1000000 + h * 1000 + d, 150200060);
    EXPECT_EQ(labels(study->seismicTree), (std::vector<std::string> { "a.gdr", "lot2" }));
    const StudyNode* lot2 = child(study->seismicTree, "lot2");
    ASSERT_NE(lot2, nullptr);
    EXPECT_TRUE(lot2->folder);
    EXPECT_EQ(labels(*lot2), (std::vector<std::string> { "b.gdr" }));
    EXPECT_EQ(lot2->children[0].path, studyFolder() + "DATA/SEISMIC/lot2/b.gdr");

    // Category folders by exact name, in name order, each with its row's label.
    const StudyNode& data = study->dataTree;
    EXPECT_EQ(labels(data),
        (std::vector<std::string> {
            "SURFACES 3D VERTICALES", "SURFACES BRUTES", "BLOBS", "SURFACE 3D (NURBS)" }));
    const StudyNode* raw = child(data, "SURFACES BRUTES");
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->type, TYPE_RAW_SURFACES);
    EXPECT_EQ(labels(*raw), (std::vector<std::string> { "old.gdr", "top.iso" }));

    const StudyNode* faults = child(data, "SURFACES 3D VERTICALES");
    ASSERT_NE(faults, nullptr);
    EXPECT_EQ(faults->icon, 1);
    ASSERT_EQ(labels(*faults), (std::vector<std::string> { "f1.flt" }));
    const StudyColour c = faults->children[0].colour; // stored colour, clamped
    EXPECT_EQ(c.r * 65536 + c.g * 256 + c.b, 10 * 65536 + 20 * 256 + 255);

    const StudyNode* blobs = child(data, "BLOBS");
    ASSERT_NE(blobs, nullptr);
    EXPECT_EQ(labels(*blobs), (std::vector<std::string> { "anciens", "dome.off", "dome.vtk" }));
    const StudyNode& old = blobs->children[0];
    EXPECT_EQ(old.type * 10 + old.icon, TYPE_BLOBS * 10 + 2);
    ASSERT_EQ(old.children.size(), 1u);
    EXPECT_EQ(old.children[0].colour.b, 7);
}

TEST_F(Study, SampleStudyFromTheScriptOpensThroughItsConfiguration)
{
    if (!fs::exists("/usr/bin/python3"))
        GTEST_SKIP() << "python3 absent";
    const std::string command = "/usr/bin/python3 " VEXA_SOURCE_DIR
                                "/scripts/make_sample_study.py '"
        + dir.path() + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string saved = config::configPath();
    config::setConfigPath(dir.file("vexa.xml").c_str());
    host.queueListAnswer(1);
    DataRecord* record = openStudyCommand();
    config::setConfigPath(saved.c_str());
    ASSERT_NE(record, nullptr);
    const StudyObject* study = studyOf(record);
    EXPECT_EQ(study->maxWidth * 1000000 + study->maxHeight * 1000 + study->maxDepth, 128100096);
    EXPECT_EQ(labels(study->seismicTree), (std::vector<std::string> { "demo.gdr" }));
    EXPECT_EQ(labels(study->dataTree),
        (std::vector<std::string> {
            "SURFACES 3D VERTICALES", "SURFACES 3D HORIZONTALES", "BLOBS" }));
    const StudyColour c = study->dataTree.children[1].children.at(0).colour;
    EXPECT_EQ(c.r * 65536 + c.g * 256 + c.b, 230 * 65536 + 160 * 256 + 40);
}

TEST_F(Study, CategoryConditionsLookForTheirOwnExtensions)
{
    const std::string data = studyFolder() + "DATA/";
    put(data + "HORIZONS/top.hor", standardMesh(1, 2, 3));
    put(data + "REGIONS/only.vtk", "x");
    put(data + "TEXTURES/t.xml", "<t/>");
    DataRecord* record = openStudyFile(makeStudyFile(studyFolder()));
    ASSERT_NE(record, nullptr);
    const StudyNode& tree = studyOf(record)->dataTree;
    EXPECT_EQ(labels(tree), (std::vector<std::string> { "SURFACES 3D HORIZONTALES", "TEXTURES" }));
    EXPECT_EQ(tree.children[0].type, TYPE_SURFACES_3D);
    EXPECT_EQ(tree.children[1].type, TYPE_TEXTURES);
}

TEST_F(Study, StudyFilesOfTheOtherPlatformOpen)
{
    makeDemo();
    std::string windows = studyFolder();
    std::replace(windows.begin(), windows.end(), '/', '\\');
    const std::string file = dir.file("studies/win.etu");
    put(file, windows + "\r\nsecond line\r\n");
    DataRecord* record = openStudyFile(file);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(studyOf(record)->path, studyFolder());
    EXPECT_EQ(studyOf(record)->maxWidth, 150);
    EXPECT_EQ(host.count(GuiRequest::MessageBox), 0);

    // A relative path is taken from the study file's folder.
    EXPECT_EQ(
        readStudyFile(makeStudyFile("..\\Demo", "rel.txt"))->path, dir.file("studies/../Demo"));

    EXPECT_EQ(studyPathFromText("a\\b\rc"), "a/b");
    EXPECT_EQ(studyPathFromText(std::string_view("/x\0y", 4)), "/x");
    EXPECT_EQ(studyPathFromText("/sans/fin"), "/sans/fin");
    EXPECT_FALSE(studyPathFromText(std::string(kMaxStudyPathBytes + 1, 'a')));
    EXPECT_TRUE(studyPathFromText(std::string(kMaxStudyPathBytes, 'a') + "\n"));
}

TEST_F(Study, MissingFolderWarnsAndKeepsAnEmptyStudy)
{
    DataRecord* record = openStudyFile(makeStudyFile(dir.file("absente/")));
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(host.count(GuiRequest::MessageBox), 1);
    EXPECT_EQ(host.requests().back().text, "Problème d'ouverture d'étude|Répertoire inexistant");
    EXPECT_TRUE(studyOf(record)->folderMissing);
    EXPECT_TRUE(studyOf(record)->seismicTree.children.empty());
    EXPECT_TRUE(studyOf(record)->dataTree.children.empty());
    EXPECT_EQ(dataFind(record->imageId), record);

    // An empty first line names no folder at all.
    ASSERT_NE(openStudyFile(makeStudyFile("", "vide.txt")), nullptr);
    EXPECT_EQ(host.count(GuiRequest::MessageBox), 2);

    // A study file that cannot be read: nothing at all.
    host.clearRequests();
    EXPECT_EQ(openStudyFile(dir.file("studies/aucun.txt")), nullptr);
    EXPECT_EQ(openStudyFile(dir.file("studies")), nullptr);
    EXPECT_TRUE(host.requests().empty());
}

TEST_F(Study, FolderWithoutDataOpensWithEmptyTrees)
{
    fs::create_directories(studyFolder());
    DataRecord* record = openStudyFile(makeStudyFile(studyFolder()));
    ASSERT_NE(record, nullptr);
    EXPECT_FALSE(studyOf(record)->folderMissing);
    EXPECT_TRUE(studyOf(record)->seismicTree.children.empty());
    EXPECT_TRUE(studyOf(record)->dataTree.children.empty());
    EXPECT_EQ(host.count(GuiRequest::MessageBox), 0);
}

TEST_F(Study, SettingsBoxKeepsWhatTheUserValidates)
{
    // The dialog types into the last text field ("Répertoire des études") and validates.
    std::vector<std::string> labels;
    params::setParamDialogPresenter([&](ParamBox* box) {
        char* last = nullptr;
        for (const ParamItem& item : box->items)
            if (item.kind == PARAM_STRING) {
                labels.push_back(item.label);
                last = static_cast<char*>(item.value);
            }
        if (last)
            std::strcpy(last, "/data/etudes");
        return hostParamDialog(box);
    });
    host.queueParamAnswer(1);
    EXPECT_TRUE(studySettingsCommand());
    EXPECT_FALSE(studySettingsCommand()); // cancelled: nothing kept
    params::setParamDialogPresenter({});
    EXPECT_EQ(
        labels[0] + labels[1] + labels[2], "Nom StudyRépertoire des donnéesRépertoire des études");
    const StudySettings kept = studySettings();
    EXPECT_EQ(
        kept.name + "|" + kept.dataFolder + "|" + kept.studyFolder, "New|E:\\3D\\|/data/etudes");
}

TEST_F(Study, LinkedDataFindTheStudyAndTasksTakeIt)
{
    fs::create_directories(studyFolder());
    DataRecord* record = openStudyFile(makeStudyFile(studyFolder()));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(dataFindStudyOf(record), record);
    DataRecord* view = dataCreateKind(
        DATA_VIEW3D, std::make_unique<KindObject>(), kFreshId, kFreshId, record->linkGroup);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(dataFindStudyOf(view), record);
    taskMainContext(); // the program's own context, made at start-up
    EXPECT_EQ(vexaStudyGetIn(), record->imageId);
    EXPECT_EQ(vexaStudyGetIn(), 0u); // the only study is taken already
}

TEST_F(Study, ChooserListsConfiguredDirectoriesAndOpensTheChosenFile)
{
    makeDemo();
    const std::string config = dir.file("vexa.xml");
    put(config,
        "<VEXA><PATHS><STUDY><PATH>" + dir.file("studies")
            + "</PATH><PATH>/nulle/part</PATH></STUDY></PATHS></VEXA>");
    const std::string saved = config::configPath();
    config::setConfigPath(config.c_str());
    makeStudyFile(studyFolder(), "demo.etu");
    put(dir.file("studies/.cache/x.etu"), "/x\n");
    put(dir.file("studies/client/b.v1.etu"), "/x\n");

    const std::vector<ChooserEntry> entries
        = chooserEntries(config::configValues(config::PATH_STUDY));
    EXPECT_EQ(chooserLabels(entries),
        (std::vector<std::string> {
            dir.file("studies"), "    client", "        b.v1", "    demo", "/nulle/part" }));

    host.queueListAnswer(1); // a folder: nothing opens
    EXPECT_EQ(openStudyCommand(), nullptr);
    host.queueListAnswer(3);
    DataRecord* record = openStudyCommand();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(studyOf(record)->path, studyFolder());
    EXPECT_EQ(host.count(GuiRequest::ChooseFromList), 2);
    EXPECT_EQ(host.requests()[0].text, "Ouverture d'une étude ...");

    // Without study directories the command asks nothing.
    put(config, "<VEXA/>");
    host.clearRequests();
    EXPECT_EQ(openStudyCommand(), nullptr);
    EXPECT_TRUE(host.requests().empty());
    config::setConfigPath(saved.c_str());
}

} // namespace
} // namespace vexa::study
