// Image series assembly: the scan with and without the existence check, automatic
// size and centring, the document and how the file library reads it back.
#include "importtest_util.h"

#include "data/datasavebmp.h"
#include "quill.h"

#include <map>

using namespace importtest;

namespace {

// A grey BMP whose every pixel is value.
void writePicture(const std::string& path, int w, int h, std::uint8_t value)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::vector<std::uint8_t> px(std::size_t(w) * std::size_t(h), value);
    ASSERT_TRUE(vexa::writeBmpGrey(path, px.data(), w, h));
}

struct Part {
    long x, y, z;
    std::string name;
};

struct Document {
    long width = -1, height = -1, depth = -1;
    std::vector<Part> parts;
};

Document readDocument(const std::string& path)
{
    Document doc;
    QuillNode* root = quillRead(path.c_str(), 10);
    if (!root)
        return doc;
    EXPECT_STREQ(quillNodeGetName(root), "LOGICAL");
    quillGetIntItem(root, "WIDTH", &doc.width);
    quillGetIntItem(root, "HEIGHT", &doc.height);
    quillGetIntItem(root, "DEPTH", &doc.depth);
    int count = 0;
    QuillNode** nodes = quillNodeFindNodes(root, "PART", 10, &count);
    for (int i = 0; i < count; ++i) {
        Part p {};
        quillGetIntItem(nodes[i], "X", &p.x);
        quillGetIntItem(nodes[i], "Y", &p.y);
        quillGetIntItem(nodes[i], "Z", &p.z);
        const char* name = quillGetTextItem(nodes[i], "NAME");
        p.name = name ? name : "";
        doc.parts.push_back(p);
    }
    quillRelease(nodes);
    quillDestroy(root);
    return doc;
}

} // namespace

using Series = ImportTest;

TEST_F(Series, FileNamesUseTheDigitCount)
{
    vexa::SeriesSettings s;
    EXPECT_EQ(vexa::seriesFileName(s, 7), "img/img_0007.bmp");
    s.digits = 0;
    EXPECT_EQ(vexa::seriesFileName(s, 7), "img/img_7.bmp");
    EXPECT_EQ(vexa::seriesFileName(s, 123), "img/img_123.bmp");
    s.digits = 1;
    s.root = "a";
    s.extension = ".gdr";
    EXPECT_EQ(vexa::seriesFileName(s, 3), "a03.gdr");
    s.digits = 4;
    EXPECT_EQ(vexa::seriesFileName(s, 3), "");
}

TEST_F(Series, NamesResolveBesideTheDocument)
{
    EXPECT_EQ(vexa::seriesResolve("/d/e/assembly.xml", "img/img_1.bmp"), "/d/e/img/img_1.bmp");
    EXPECT_EQ(vexa::seriesResolve("/d/e/assembly.xml", "img\\img_1.bmp"), "/d/e/img/img_1.bmp");
    EXPECT_EQ(vexa::seriesResolve("/d/assembly.xml", "/abs/x.bmp"), "/abs/x.bmp");
    EXPECT_EQ(vexa::seriesResolve("assembly.xml", "img/x.bmp"), "img/x.bmp");
}

TEST_F(Series, DefaultDestinationIsInTheTemporaryDirectory)
{
    {
        vexatest::ScopedEnv tmpdir("TMPDIR", "/some/tmp/");
        EXPECT_EQ(vexa::seriesDefaultDestination(), "/some/tmp/vexa/assembly.xml");
    }
    vexatest::ScopedEnv unset("TMPDIR", nullptr);
    EXPECT_EQ(vexa::seriesDefaultDestination(), "/tmp/vexa/assembly.xml");
}

TEST_F(Series, ExistenceCheckNarrowsTheRangeToTheFilesThatOpen)
{
    for (int i = 3; i <= 10; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "img/img_%.4d.bmp", i);
        writePicture(file(name), 4, 3, std::uint8_t(i));
    }
    vexa::SeriesSettings s;
    s.destination = file("assembly.xml");
    s.checkExistence = true;
    vexa::SeriesVolume v;
    ASSERT_TRUE(vexa::seriesDescribe(s, v));
    EXPECT_EQ(v.depth, 8);
    EXPECT_EQ(v.width, 4);
    EXPECT_EQ(v.height, 3);
    ASSERT_EQ(v.parts.size(), 8u);
    for (int z = 0; z < 8; ++z) {
        EXPECT_EQ(v.parts[std::size_t(z)].z, z);
        EXPECT_EQ(v.parts[std::size_t(z)].x, 0);
    }
    EXPECT_EQ(v.parts.front().name, "img/img_0003.bmp");
    EXPECT_EQ(v.parts.back().name, "img/img_0010.bmp");

    // With a gap, the parts stay packed: the depth counts the files.
    std::filesystem::remove(file("img/img_0005.bmp"));
    ASSERT_TRUE(vexa::seriesDescribe(s, v));
    EXPECT_EQ(v.depth, 7);
    EXPECT_EQ(v.parts[2].name, "img/img_0006.bmp");
    EXPECT_EQ(v.parts[2].z, 2);
}

TEST_F(Series, WithoutTheCheckLaterFilesMoveUpAndTheLastSliceStaysEmpty)
{
    for (int i : { 0, 1, 3 })
        writePicture(file("s/p" + std::to_string(i) + ".bmp"), 2, 2, std::uint8_t(10 * (i + 1)));
    vexa::SeriesSettings s;
    s.destination = file("assembly.xml");
    s.root = "s/p";
    s.digits = 0;
    s.first = 0;
    s.last = 3;
    vexa::SeriesVolume v;
    ASSERT_TRUE(vexa::seriesDescribe(s, v));
    EXPECT_EQ(v.depth, 4);
    ASSERT_EQ(v.parts.size(), 3u);
    EXPECT_EQ(v.parts[2].name, "s/p3.bmp");
    EXPECT_EQ(v.parts[2].z, 2);

    // Read back as a volume: the file after the gap is slice 2, the last slice is empty.
    ASSERT_TRUE(vexa::seriesWriteDocument(v, s.destination));
    std::vector<double> samples = readVolume(s.destination);
    ASSERT_EQ(samples.size(), 16u);
    EXPECT_EQ(samples[0], 10);
    EXPECT_EQ(samples[4], 20);
    EXPECT_EQ(samples[8], 40);
    EXPECT_EQ(samples[12], 0);
}

TEST_F(Series, AutomaticSizeCentresEachSlice)
{
    writePicture(file("c/a_0.bmp"), 512, 512, 1);
    writePicture(file("c/a_1.bmp"), 300, 200, 2);
    writePicture(file("c/a_2.bmp"), 301, 511, 3);
    vexa::SeriesSettings s;
    s.destination = file("c/assembly.xml");
    s.root = "a_";
    s.digits = 0;
    s.first = 0;
    s.last = 2;
    vexa::SeriesVolume v;
    ASSERT_TRUE(vexa::seriesDescribe(s, v));
    EXPECT_EQ(v.width, 512);
    EXPECT_EQ(v.height, 512);
    ASSERT_EQ(v.parts.size(), 3u);
    EXPECT_EQ(v.parts[0].x, 0);
    EXPECT_EQ(v.parts[1].x, 106);
    EXPECT_EQ(v.parts[1].y, 156);
    EXPECT_EQ(v.parts[2].x, 105); // 211 / 2, truncated
    EXPECT_EQ(v.parts[2].y, 0);
}

TEST_F(Series, ManualSizeWithoutCheckOpensNothing)
{
    vexa::SeriesSettings s;
    s.destination = file("assembly.xml");
    s.root = "none_";
    s.first = 5;
    s.last = 7;
    s.sizeMode = 0;
    s.width = 64;
    s.height = 32;
    vexa::SeriesVolume v;
    ASSERT_TRUE(vexa::seriesDescribe(s, v));
    EXPECT_EQ(v.width, 64);
    EXPECT_EQ(v.height, 32);
    EXPECT_EQ(v.depth, 3);
    ASSERT_EQ(v.parts.size(), 3u);
    EXPECT_EQ(v.parts[1].name, "none_0006.bmp");
    EXPECT_EQ(v.parts[1].z, 1);
    EXPECT_EQ(v.parts[1].x, 0);
}

TEST_F(Series, NothingIsDescribedForAnEmptyOrUnreadableSeries)
{
    vexa::SeriesSettings s;
    s.destination = file("assembly.xml");
    vexa::SeriesVolume v;
    std::string reason;
    s.first = 5;
    s.last = 4;
    EXPECT_FALSE(vexa::seriesDescribe(s, v, &reason));
    EXPECT_FALSE(reason.empty());
    s.first = 0;
    s.last = 20; // automatic size, no file opens
    EXPECT_FALSE(vexa::seriesDescribe(s, v));
    s.sizeMode = 0;
    s.checkExistence = true; // manual size, but no file exists
    EXPECT_FALSE(vexa::seriesDescribe(s, v));
    s.checkExistence = false;
    s.width = 0;
    EXPECT_FALSE(vexa::seriesDescribe(s, v));
    s.width = 8;
    s.first = -2000000000;
    s.last = 2000000000;
    EXPECT_FALSE(vexa::seriesDescribe(s, v));
    s.first = 0;
    s.last = 1;
    s.digits = 7;
    EXPECT_FALSE(vexa::seriesDescribe(s, v));
}

TEST_F(Series, CommandWritesTheDocumentAndRemembersTheAnswers)
{
    for (int i = 1; i <= 2; ++i)
        writePicture(file("img/img_" + std::to_string(i) + ".bmp"), 3, 2, std::uint8_t(i));
    const std::string destination = file("series.xml");
    std::vector<std::string> shown;
    answer([&](ParamBox& box) {
        ASSERT_EQ(boundItems(box).size(), 10u);
        shown = { getText(box, 0), getText(box, 1), getText(box, 2), std::to_string(getInt(box, 3)),
            std::to_string(getInt(box, 5)), std::to_string(getInt(box, 7)),
            std::to_string(getInt(box, 8)) };
        setText(box, 0, destination, PARAM_PATH_BUFFER);
        setInt(box, 3, 0);
        setInt(box, 5, 5);
        setInt(box, 6, 1);
    });
    ASSERT_TRUE(vexa::seriesAssemblyCommand());
    EXPECT_EQ(shown,
        (std::vector<std::string> {
            vexa::seriesDefaultDestination(), "img/img_", ".bmp", "3", "9999", "1", "512" }));
    ASSERT_EQ(boxLabels.size(), 1u);
    EXPECT_EQ(boxLabels[0],
        "Fichier Destination||||Fichiers Source||Racine||Extension||Indices||"
        "Nb de chiffres|1,2,3,4|Début|Fin|Vérification existence||Taille||"
        "Manuelle,Automatique|Largeur|Hauteur||");
    Document doc = readDocument(destination);
    EXPECT_EQ(doc.width, 3);
    EXPECT_EQ(doc.height, 2);
    EXPECT_EQ(doc.depth, 2);
    ASSERT_EQ(doc.parts.size(), 2u);
    EXPECT_EQ(doc.parts[0].name, "img/img_1.bmp");
    EXPECT_EQ(doc.parts[1].z, 1);
    EXPECT_EQ(vexa::seriesRemembered().destination, destination);
    EXPECT_EQ(vexa::seriesRemembered().last, 5);

    // The document opens as a volume.
    vexa::DataRecord* r = vexa::dataOpenFile(destination);
    ASSERT_NE(r, nullptr);
    ASSERT_NE(r->block(), nullptr);
    EXPECT_EQ(r->block()->dimZ, 2);
}

TEST_F(Series, CancelledDialogWritesNothingAndUnwritableDestinationIsReported)
{
    cancelNextBox();
    EXPECT_FALSE(vexa::seriesAssemblyCommand());
    EXPECT_EQ(vexa::seriesRemembered().destination, vexa::seriesDefaultDestination());

    answer([&](ParamBox& box) {
        setText(box, 0, "/proc/vexa_no/assembly.xml", PARAM_PATH_BUFFER);
        setInt(box, 7, 0); // manual size: nothing to open
    });
    EXPECT_FALSE(vexa::seriesAssemblyCommand());
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].rfind("Erreur|", 0), 0u);
}
