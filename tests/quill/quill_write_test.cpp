#include "quill_test_util.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class QuillWrite : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()); }
    std::string file(const std::string& name) const { return dir_.file(name); }

    std::string slurp(const std::string& path) const
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Writes, reads back and checks that the tree is the same.
    std::string roundTrip(QuillNode* doc)
    {
        const std::string path = file("round.xml");
        EXPECT_EQ(quillWrite(doc, path.c_str()), 1);
        DocPtr back(quillRead(path.c_str(), 10));
        EXPECT_TRUE(back) << slurp(path);
        return dump(back.get());
    }

    std::size_t entriesInDir() const
    {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_.path()))
            ++n;
        return n;
    }

    vexatest::TempDir dir_ { "quill-write" };
};

} // namespace

TEST_F(QuillWrite, DistinctItemsAndNestedNodesRoundTrip)
{
    DocPtr doc(quillNew("COLORMAP"));
    quillNodeAddItem(doc.get(), "title", "Arc-en-ciel");
    quillAddIntItem(doc.get(), "size", 256);
    for (int i = 0; i < 3; ++i) {
        QuillNode* color = quillNodeAddNode(doc.get(), "color");
        quillAddIntItem(color, "index", i);
        quillAddRealItem(color, "r", i / 255.0);
    }
    QuillNode* empty = quillNodeAddNode(doc.get(), "EMPTY");
    quillNodeAddNode(empty, "INNER");
    EXPECT_EQ(roundTrip(doc.get()), dump(doc.get()));
}

TEST_F(QuillWrite, RepeatedItemNamesKeepTheirOrderAmongOtherItems)
{
    DocPtr doc(quillNew("CONFIG"));
    QuillNode* lib = quillNodeAddNode(doc.get(), "LIBRARY");
    quillNodeAddItem(lib, "PATH", "/opt/a.so");
    quillNodeAddItem(lib, "MODE", "x");
    quillNodeAddItem(lib, "PATH", "/opt/b.so");
    QuillNode* object = quillNodeAddNode(doc.get(), "OBJECT");
    quillNodeAddItem(object, "NAME", "one");
    quillNodeAddItem(object, "NAME", "two");
    quillNodeAddNode(object, "SLICE");
    const std::string expected = dump(doc.get());
    EXPECT_EQ(roundTrip(doc.get()), expected);
    EXPECT_EQ(expected,
        "<CONFIG>\n  <LIBRARY>\n    PATH=[/opt/a.so]\n    MODE=[x]\n"
        "    PATH=[/opt/b.so]\n  <OBJECT>\n    NAME=[one]\n    NAME=[two]\n"
        "    <SLICE>\n");
}

TEST_F(QuillWrite, AwkwardValuesRoundTripInBothForms)
{
    const char* values[] = { "", " ", "\t\n", "\r\n", " padded ", "a & b < c > d \" e ' f",
        "]]> inside", "&amp; stays literal", "line1\nline2\r\nline3\rend", "tab\there",
        "\x01\x1f control", "Aléatoire ☺ 日本" };
    DocPtr doc(quillNew("R"));
    QuillNode* attrs = quillNodeAddNode(doc.get(), "ATTRS");
    QuillNode* elems = quillNodeAddNode(doc.get(), "ELEMS");
    int i = 0;
    for (const char* v : values) {
        quillNodeAddItem(attrs, ("v" + std::to_string(i++)).c_str(), v);
        quillNodeAddItem(elems, "V", v);
    }
    EXPECT_EQ(roundTrip(doc.get()), dump(doc.get()));
}

TEST_F(QuillWrite, Utf8AndPrefixedNamesRoundTrip)
{
    DocPtr doc(quillNew("Données"));
    QuillNode* n = quillNodeAddNode(doc.get(), "Aléatoire");
    quillNodeAddItem(n, "Écart-type", "1.5");
    quillNodeAddItem(n, "ns:k_1.x", "v");
    EXPECT_EQ(roundTrip(doc.get()), dump(doc.get()));
}

TEST_F(QuillWrite, NullValueIsWrittenAsEmpty)
{
    DocPtr doc(quillNew("R"));
    quillNodeAddItem(doc.get(), "A", nullptr);
    EXPECT_EQ(roundTrip(doc.get()), "<R>\n  A=[]\n");
}

TEST_F(QuillWrite, ForeignDocumentRoundTrips)
{
    DocPtr doc = parse("<?xml version=\"1.0\"?><!-- c --><ANIM a=\"1\"><PLAY FREQUENCY=\"25\"/>"
                       "<SCRIPT><FILENAME>a.txt</FILENAME><FILENAME>b.txt</FILENAME></SCRIPT>"
                       "<DRAW><BEGIN>1</BEGIN><END>9</END></DRAW></ANIM>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(roundTrip(doc.get()), dump(doc.get()));
}

TEST_F(QuillWrite, DeepTreeWritesAndReadsBack)
{
    DocPtr doc(quillNew("n"));
    QuillNode* node = doc.get();
    for (int i = 0; i < 25000; ++i)
        node = quillNodeAddNode(node, "n");
    quillNodeAddItem(node, "leaf", "yes");
    const std::string path = file("deep.xml");
    ASSERT_EQ(quillWrite(doc.get(), path.c_str()), 1);
    DocPtr back(quillRead(path.c_str(), 10));
    ASSERT_TRUE(back);
}

TEST_F(QuillWrite, ReplacesAnExistingFileKeepingItsModeAndLeavesNoTemporary)
{
    const std::string path = file("settings.xml");
    {
        std::ofstream(path) << "old";
    }
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    DocPtr doc(quillNew("vexa"));
    ASSERT_EQ(quillWrite(doc.get(), path.c_str()), 1);
    struct stat st { };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_NE(slurp(path).find("<vexa/>"), std::string::npos);
    EXPECT_EQ(entriesInDir(), 1u);
}

TEST_F(QuillWrite, WritingThroughASymbolicLinkUpdatesItsTarget)
{
    const std::string target = file("real.xml");
    const std::string link = file("link.xml");
    {
        std::ofstream(target) << "<old/>";
    }
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    DocPtr doc(quillNew("new"));
    ASSERT_EQ(quillWrite(doc.get(), link.c_str()), 1);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NE(slurp(target).find("<new/>"), std::string::npos);
}

TEST_F(QuillWrite, FailuresReturnZeroAndKeepTheOldFile)
{
    const std::string path = file("keep.xml");
    {
        std::ofstream(path) << "<keep/>";
    }
    DocPtr bad(quillNew("R"));
    quillNodeAddItem(bad.get(), "has space", "v");
    EXPECT_EQ(quillWrite(bad.get(), path.c_str()), 0);
    DocPtr badNode(quillNew("R"));
    quillNodeAddNode(badNode.get(), "1st");
    EXPECT_EQ(quillWrite(badNode.get(), path.c_str()), 0);
    DocPtr emptyName(quillNew(""));
    EXPECT_EQ(quillWrite(emptyName.get(), path.c_str()), 0);
    EXPECT_EQ(slurp(path), "<keep/>");
    EXPECT_EQ(entriesInDir(), 1u);

    DocPtr good(quillNew("R"));
    EXPECT_EQ(quillWrite(good.get(), file("no/such/dir.xml").c_str()), 0);
    EXPECT_EQ(quillWrite(good.get(), dir_.path().c_str()), 0);
    EXPECT_EQ(quillWrite(good.get(), nullptr), 0);
    EXPECT_EQ(quillWrite(nullptr, path.c_str()), 0);
    QuillNode* child = quillNodeAddNode(good.get(), "C");
    EXPECT_EQ(quillWrite(child, path.c_str()), 0);
    EXPECT_EQ(slurp(path), "<keep/>");

    if (::geteuid() != 0) {
        fs::permissions(dir_.path(), fs::perms::owner_write, fs::perm_options::remove);
        EXPECT_EQ(quillWrite(good.get(), path.c_str()), 0);
        EXPECT_EQ(slurp(path), "<keep/>");
    }
}
