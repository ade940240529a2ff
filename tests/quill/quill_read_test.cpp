#include "quill_test_util.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t countOf(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

} // namespace

TEST(QuillReadStructure, AttributesComeFirstThenTextElementsInDocumentOrder)
{
    DocPtr doc = parse("<R b=\"2\" a=\"1\"><Z>z</Z><CHILD/><A>a</A></R>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(dump(doc.get()), "<R>\n  b=[2]\n  a=[1]\n  Z=[z]\n  A=[a]\n  <CHILD>\n");
}

TEST(QuillReadStructure, TextOnlyElementsAreItemsNotNodes)
{
    DocPtr doc = parse("<CONFIG><LIBRARY><PATH>/a.so</PATH><PATH>/b.so</PATH></LIBRARY></CONFIG>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(quillNodeCountNodes(doc.get()), 1);
    QuillNode** libs = quillNodeGetNodes(doc.get(), nullptr);
    ASSERT_TRUE(libs);
    QuillNode* lib = libs[0];
    quillRelease(libs);
    EXPECT_EQ(quillNodeCountNodes(lib), 0);
    int count = 0;
    QuillItem** paths = quillNodeFindItems(lib, "PATH", 10, &count);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(quillItemGetValue(paths[0]), "/a.so");
    EXPECT_STREQ(quillItemGetValue(paths[1]), "/b.so");
    quillRelease(paths);
    EXPECT_EQ(quillNodeFindNodes(lib, "PATH", 10, &count), nullptr);
    EXPECT_EQ(count, 0);
}

TEST(QuillReadStructure, EmptyOrBlankOrAttributedElementsAreNodes)
{
    DocPtr doc = parse("<R><EMPTY/><OPEN></OPEN><BLANK>  \n </BLANK><ATTR k=\"v\">text</ATTR>"
                       "<COMMENT><!-- nothing --></COMMENT></R>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(quillNodeCountItems(doc.get()), 0);
    EXPECT_EQ(
        dump(doc.get()), "<R>\n  <EMPTY>\n  <OPEN>\n  <BLANK>\n  <ATTR>\n    k=[v]\n  <COMMENT>\n");
}

TEST(QuillReadStructure, TextMixedWithElementsIsNotPartOfTheTree)
{
    DocPtr doc = parse("<R>loose<A>1</A>text<N><B>2</B></N></R>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(dump(doc.get()), "<R>\n  A=[1]\n  <N>\n    B=[2]\n");
}

TEST(QuillReadStructure, ItemTextJoinsCharacterDataAndCdataAndKeepsSpaces)
{
    DocPtr doc = parse("<R><V> a <!-- c -->b<![CDATA[<raw> & ]]]>c </V></R>");
    ASSERT_TRUE(doc);
    EXPECT_STREQ(quillGetTextItem(doc.get(), "V"), " a b<raw> & ]c ");
}

TEST(QuillReadSyntax, RealWorldPrologueEntitiesAndUtf8)
{
    const std::string text
        = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
          "<!DOCTYPE ANIM [ <!ELEMENT ANIM ANY> ]>\r\n"
          "<?render mode=\"fast\"?>\r\n"
          "<!-- made by hand -->\r\n"
          "<ANIM>\r\n"
          "  <OBJECT NAME=\"Al&#233;atoire &amp; &lt;co&gt; &quot;q&quot; &apos;\">\r\n"
          "    <FILENAME>a&amp;b.xml</FILENAME>\r\n"
          "    <Aléatoire>Bruit &#x263A;</Aléatoire>\r\n"
          "    <NOTE>line1\r\nline2</NOTE>\r\n"
          "  </OBJECT>\r\n"
          "</ANIM>\r\n";
    DocPtr doc = parse(text);
    ASSERT_TRUE(doc);
    EXPECT_EQ(dump(doc.get()),
        "<ANIM>\n"
        "  <OBJECT>\n"
        "    NAME=[Aléatoire & <co> \"q\" ']\n"
        "    FILENAME=[a&b.xml]\n"
        "    Aléatoire=[Bruit \xE2\x98\xBA]\n"
        "    NOTE=[line1\nline2]\n");
}

TEST(QuillReadSyntax, Latin1DeclarationIsConvertedToUtf8)
{
    DocPtr doc = parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><P title=\"Al\xE9"
                       "atoire\"/>");
    ASSERT_TRUE(doc);
    EXPECT_STREQ(quillGetTextItem(doc.get(), "title"), "Aléatoire");
}

TEST(QuillReadSyntax, Utf16WithByteOrderMark)
{
    const std::u16string text = u"\uFEFF<R><NAME>Décor</NAME></R>";
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    DocPtr doc = parse(bytes);
    ASSERT_TRUE(doc);
    EXPECT_STREQ(quillGetTextItem(doc.get(), "NAME"), "Décor");
}

TEST(QuillReadMalformed, RefusedWithNull)
{
    const char* bad[] = {
        "",
        "   \n",
        "plain text",
        "<R>",
        "<R></S>",
        "<R><A></R></A>",
        "<R a=\"1\" a=\"2\"",
        "<R/><S/>",
        "<R a=1/>",
        "<!-- only a comment -->",
        "<?xml version=\"1.0\"?>",
    };
    for (const char* text : bad)
        EXPECT_FALSE(parse(text)) << text;
    EXPECT_EQ(quillReadBuffer(nullptr, 10), nullptr);
    EXPECT_EQ(quillReadBuffer("<R/>", 0), nullptr);
    EXPECT_EQ(quillReadBuffer("<R/>", -4), nullptr);
}

TEST(QuillReadMalformed, EveryTruncationOfAValidDocumentIsRefused)
{
    const std::string text = "<?xml version=\"1.0\"?><COLORMAP title=\"t\" size=\"256\">"
                             "<color index=\"0\" r=\"0.1\"/><X><![CDATA[v]]></X></COLORMAP>";
    ASSERT_TRUE(parse(text));
    for (std::size_t n = 1; n < text.size(); ++n)
        EXPECT_FALSE(parse(text.substr(0, n))) << n;
}

TEST(QuillReadMalformed, BinaryBytesAreRefused)
{
    std::string bytes;
    for (int i = 0; i < 4096; ++i)
        bytes += static_cast<char>((i * 7919) & 0xFF);
    EXPECT_FALSE(parse(bytes));
    EXPECT_FALSE(parse(std::string("<R>\0</R>", 8)));
}

TEST(QuillReadLimits, DeepNestingParsesAndIsFreedWithoutRecursion)
{
    const int depth = 60000;
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "<n>";
    text += "<v>1</v>";
    for (int i = 0; i < depth; ++i)
        text += "</n>";
    DocPtr doc = parse(text);
    ASSERT_TRUE(doc);
    QuillNode* node = doc.get();
    int levels = 0;
    while (quillNodeCountNodes(node) == 1) {
        QuillNode** children = quillNodeGetNodes(node, nullptr);
        node = children[0];
        quillRelease(children);
        ++levels;
    }
    EXPECT_EQ(levels, depth - 1);
    EXPECT_STREQ(quillGetTextItem(node, "v"), "1");
}

TEST(QuillReadFiles, MissingUnreadableOrOversizedFilesGiveNull)
{
    vexatest::TempDir dir("quill-test");
    EXPECT_EQ(quillRead(nullptr, 10), nullptr);
    EXPECT_EQ(quillRead("", 10), nullptr);
    EXPECT_EQ(quillRead(dir.file("missing.xml").c_str(), 10), nullptr);
    EXPECT_EQ(quillRead(dir.file("").c_str(), 10), nullptr); // a directory

    const std::string empty = dir.file("empty.xml");
    writeFile(empty, "");
    EXPECT_EQ(quillRead(empty.c_str(), 10), nullptr);

    // A sparse 1 GiB file: refused from its size, before any reading.
    const std::string huge = dir.file("huge.xml");
    writeFile(huge, "<R>");
    ASSERT_EQ(::truncate(huge.c_str(), 1LL << 30), 0);
    EXPECT_EQ(quillRead(huge.c_str(), 20), nullptr);

    const std::string good = dir.file("good.xml");
    writeFile(good, "<LOGICAL WIDTH=\"4\"/>");
    DocPtr doc(quillRead(good.c_str(), 10));
    ASSERT_TRUE(doc);
    EXPECT_STREQ(quillNodeGetName(doc.get()), "LOGICAL");
}

TEST(QuillReadFiles, ColormapCollectionFromAnotherProgram)
{
    const std::string path = testDataDir() + "/colormap/colormoves-ColorMaps.xml";
    if (!fs::exists(path))
        GTEST_SKIP() << "no test data";
    const std::string text = slurp(path);
    DocPtr doc(quillRead(path.c_str(), 10));
    ASSERT_TRUE(doc);
    EXPECT_STREQ(quillNodeGetName(doc.get()), "ColorMaps");
    int count = 0;
    QuillNode** maps = quillNodeFindNodes(doc.get(), "ColorMap", 10, &count);
    ASSERT_GT(count, 0);
    EXPECT_EQ(static_cast<std::size_t>(count), countOf(text, "<ColorMap "));
    EXPECT_EQ(quillNodeCountNodes(doc.get()), count);

    QuillNode* first = maps[0];
    quillRelease(maps);
    EXPECT_STREQ(quillGetTextItem(first, "name"), "Yellow Orange 1");
    EXPECT_STREQ(quillGetTextItem(first, "space"), "CIELAB");
    QuillNode** points = quillNodeFindNodes(first, "Point", 10, &count);
    ASSERT_EQ(count, 12);
    double r = 0, g = 0, b = 0;
    EXPECT_EQ(quillGetRealItem(points[1], "r", &r), 1);
    EXPECT_EQ(quillGetRealItem(points[1], "g", &g), 1);
    EXPECT_EQ(quillGetRealItem(points[1], "b", &b), 1);
    EXPECT_DOUBLE_EQ(r, 0.988235);
    EXPECT_DOUBLE_EQ(g, 0.968627);
    EXPECT_DOUBLE_EQ(b, 0.713725);
    quillRelease(points);
    QuillNode** nan = quillNodeFindNodes(first, "NaN", 10, &count);
    EXPECT_EQ(count, 1);
    quillRelease(nan);
}

TEST(QuillReadFiles, EveryColormapSampleReadsWithItsPoints)
{
    const std::string dir = testDataDir() + "/colormap";
    if (!fs::exists(dir))
        GTEST_SKIP() << "no test data";
    for (const char* name : { "scivis-3w_gby.xml", "scivis-blue-8.xml" }) {
        const std::string path = dir + "/" + name;
        const std::string text = slurp(path);
        DocPtr doc(quillRead(path.c_str(), 10));
        ASSERT_TRUE(doc) << name;
        int maps = 0;
        QuillNode** found = quillNodeFindNodes(doc.get(), "ColorMap", 10, &maps);
        ASSERT_EQ(maps, 1) << name;
        EXPECT_EQ(static_cast<std::size_t>(quillNodeCountNodes(found[0])),
            countOf(text, "<Point ") + countOf(text, "<NaN ") + countOf(text, "<Above ")
                + countOf(text, "<Below ") + countOf(text, "<Section "))
            << name;
        double x = -1;
        QuillNode** points = quillNodeFindNodes(found[0], "Point", 10, nullptr);
        EXPECT_EQ(quillGetRealItem(points[0], "x", &x), 1);
        EXPECT_EQ(x, 0.0);
        quillRelease(points);
        quillRelease(found);
    }
}
