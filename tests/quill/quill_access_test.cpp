#include "quill_test_util.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

TEST(QuillAccessGet, IntegerNeedsExactlyOneItemWithAValue)
{
    DocPtr doc = parse("<L width=\"12\" height=\" -7px\"><DEPTH>3</DEPTH><DEPTH>4</DEPTH></L>");
    ASSERT_TRUE(doc);
    long v = 99;
    EXPECT_EQ(quillGetIntItem(doc.get(), "width", &v), 1);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(quillGetIntItem(doc.get(), "height", &v), 1);
    EXPECT_EQ(v, -7);
    v = 99;
    EXPECT_EQ(quillGetIntItem(doc.get(), "DEPTH", &v), 0);
    EXPECT_EQ(quillGetIntItem(doc.get(), "depth", &v), 0);
    EXPECT_EQ(quillGetIntItem(doc.get(), "WIDTH", &v), 0);
    EXPECT_EQ(v, 99);

    quillNodeAddItem(doc.get(), "NOVALUE", nullptr);
    EXPECT_EQ(quillGetIntItem(doc.get(), "NOVALUE", &v), 0);
    EXPECT_EQ(v, 99);
    EXPECT_EQ(quillGetTextItem(doc.get(), "NOVALUE"), nullptr);
}

TEST(QuillAccessGet, TextThatIsNotANumberReadsAsZeroLikeAtol)
{
    DocPtr doc = parse("<R a=\"abc\" b=\"\" c=\"99999999999999999999999\" d=\"1.9e3\"/>");
    ASSERT_TRUE(doc);
    long v = 5;
    EXPECT_EQ(quillGetIntItem(doc.get(), "a", &v), 1);
    EXPECT_EQ(v, 0);
    v = 5;
    EXPECT_EQ(quillGetIntItem(doc.get(), "b", &v), 1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(quillGetIntItem(doc.get(), "c", &v), 1);
    EXPECT_EQ(v, LONG_MAX);
    EXPECT_EQ(quillGetIntItem(doc.get(), "d", &v), 1);
    EXPECT_EQ(v, 1);
    double r = 0;
    EXPECT_EQ(quillGetRealItem(doc.get(), "d", &r), 1);
    EXPECT_EQ(r, 1900.0);
    EXPECT_EQ(quillGetRealItem(doc.get(), "a", &r), 1);
    EXPECT_EQ(r, 0.0);
}

TEST(QuillAccessGet, RealNeedsExactlyOneItem)
{
    DocPtr doc = parse("<color r=\"0.25\" g=\"1\"><b>0.5</b><b>0.75</b></color>");
    ASSERT_TRUE(doc);
    double v = -1;
    EXPECT_EQ(quillGetRealItem(doc.get(), "r", &v), 1);
    EXPECT_EQ(v, 0.25);
    v = -1;
    EXPECT_EQ(quillGetRealItem(doc.get(), "b", &v), 0);
    EXPECT_EQ(quillGetRealItem(doc.get(), "missing", &v), 0);
    EXPECT_EQ(v, -1);
    EXPECT_EQ(quillGetTextItem(doc.get(), "b"), nullptr);
    EXPECT_STREQ(quillGetTextItem(doc.get(), "g"), "1");
}

TEST(QuillAccessAdd, FormatsLikePrintf)
{
    DocPtr doc(quillNew("R"));
    EXPECT_STREQ(quillItemGetValue(quillAddIntItem(doc.get(), "i", -42)), "-42");
    EXPECT_STREQ(quillItemGetValue(quillAddIntItem(doc.get(), "m", INT_MIN)), "-2147483648");
    EXPECT_STREQ(quillItemGetValue(quillAddRealItem(doc.get(), "r", 128.0 / 255.0)), "0.501961");
    EXPECT_STREQ(quillItemGetValue(quillAddRealItem(doc.get(), "n", -0.0000004)), "-0.000000");
    EXPECT_STREQ(
        quillItemGetValue(quillAddRealItem(doc.get(), "b", 1e20)), "100000000000000000000.000000");
    EXPECT_EQ(quillAddIntItem(nullptr, "i", 1), nullptr);
    EXPECT_EQ(quillAddIntItem(doc.get(), nullptr, 1), nullptr);
    EXPECT_EQ(quillAddRealItem(nullptr, "r", 1), nullptr);
    EXPECT_EQ(quillAddRealItem(doc.get(), nullptr, 1), nullptr);
    EXPECT_EQ(quillNodeCountItems(doc.get()), 5);
}

namespace {

// Switches LC_NUMERIC to a locale whose decimal point is a comma: an installed French
// or German one, or else a tiny one compiled for the test. Restores everything after.
class CommaLocale {
public:
    CommaLocale()
    {
        const char* current = std::setlocale(LC_NUMERIC, nullptr);
        saved_ = current ? current : "C";
        for (const char* name : { "fr_FR.UTF-8", "fr_FR.utf8", "de_DE.UTF-8", "de_DE.utf8" })
            if (std::setlocale(LC_NUMERIC, name)) {
                active_ = true;
                return;
            }
        compile();
    }
    // The locale first: LOCPATH and the folder may only go once nothing uses "comma".
    ~CommaLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
    bool active() const { return active_; }

private:
    void compile()
    {
        dir_.emplace("quill-locale");
        if (!dir_->ok())
            return;
        std::ofstream(dir_->file("comma.src")) << "LC_NUMERIC\ndecimal_point \",\"\n"
                                                  "thousands_sep \"\"\ngrouping -1\n"
                                                  "END LC_NUMERIC\n";
        const std::string command = "localedef -c -i '" + dir_->file("comma.src")
            + "' -f ANSI_X3.4-1968 '" + dir_->file("comma") + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) == -1)
            return;
        locPath_.emplace("LOCPATH", dir_->path().c_str());
        active_ = std::setlocale(LC_NUMERIC, "comma") != nullptr;
    }

    std::string saved_;
    // Declared in this order so that LOCPATH is restored before the folder goes.
    std::optional<vexatest::TempDir> dir_;
    std::optional<vexatest::ScopedEnv> locPath_;
    bool active_ = false;
};

} // namespace

TEST(QuillAccessAdd, DecimalPointDoesNotFollowTheLocale)
{
    std::string written;
    double back = 0;
    int ok = 0;
    {
        CommaLocale comma;
        if (!comma.active())
            GTEST_SKIP() << "no locale with a decimal comma";
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 0.5);
        ASSERT_STREQ(probe, "0,5");
        DocPtr doc(quillNew("R"));
        written = quillItemGetValue(quillAddRealItem(doc.get(), "r", 0.5));
        ok = quillGetRealItem(doc.get(), "r", &back);
    }
    EXPECT_EQ(written, "0.500000");
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(back, 0.5);
}

TEST(QuillAccessSet, IntegerOnlyWhenExactlyOneItem)
{
    DocPtr doc = parse("<R one=\"1\"><two>a</two><two>b</two></R>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(quillSetIntItem(doc.get(), "one", -5), 1);
    EXPECT_STREQ(quillGetTextItem(doc.get(), "one"), "-5");
    EXPECT_EQ(quillSetIntItem(doc.get(), "two", 7), 0);
    EXPECT_EQ(quillSetIntItem(doc.get(), "none", 7), 0);
    EXPECT_EQ(quillSetIntItem(nullptr, "one", 7), 0);
    EXPECT_EQ(quillSetIntItem(doc.get(), nullptr, 7), 0);
    EXPECT_EQ(dump(doc.get()), "<R>\n  one=[-5]\n  two=[a]\n  two=[b]\n");
}

TEST(QuillNodes, FindMatchesWholeNamesByteForByteInDocumentOrder)
{
    DocPtr doc = parse("<R><A k=\"1\"/><a k=\"2\"/><AB k=\"3\"/><A k=\"4\"/><Aé/><A/></R>");
    ASSERT_TRUE(doc);
    int count = -1;
    QuillNode** found = quillNodeFindNodes(doc.get(), "A", 10, &count);
    ASSERT_EQ(count, 3);
    EXPECT_STREQ(quillGetTextItem(found[0], "k"), "1");
    EXPECT_STREQ(quillGetTextItem(found[1], "k"), "4");
    EXPECT_EQ(quillNodeCountItems(found[2]), 0);
    quillRelease(found);
    EXPECT_EQ(quillNodeFindNodes(doc.get(), "Z", 20, &count), nullptr);
    EXPECT_EQ(count, 0);
    count = -1;
    EXPECT_EQ(quillNodeFindNodes(doc.get(), nullptr, 10, &count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(quillNodeFindItems(doc.get(), "k", 10, &count), nullptr);
    EXPECT_EQ(count, 0);
    QuillNode** one = quillNodeFindNodes(doc.get(), "Aé", 10, &count);
    EXPECT_EQ(count, 1);
    quillRelease(one);
}

TEST(QuillNodes, AddedEntriesGoLastAndEarlierHandlesStayValid)
{
    DocPtr doc(quillNew("R"));
    QuillItem* first = quillNodeAddItem(doc.get(), "first", "1");
    QuillNode* child = quillNodeAddNode(doc.get(), "C");
    const char* firstName = quillItemGetName(first);
    const char* firstValue = quillItemGetValue(first);
    const char* childName = quillNodeGetName(child);
    for (int i = 0; i < 2000; ++i) {
        quillNodeAddItem(doc.get(), "more", "x");
        quillNodeAddNode(doc.get(), "D");
    }
    EXPECT_EQ(quillItemGetName(first), firstName);
    EXPECT_EQ(quillItemGetValue(first), firstValue);
    EXPECT_STREQ(firstValue, "1");
    EXPECT_EQ(quillNodeGetName(child), childName);
    int count = 0;
    QuillItem** items = quillNodeGetItems(doc.get(), &count);
    ASSERT_EQ(count, 2001);
    EXPECT_EQ(items[0], first);
    quillRelease(items);
    QuillNode** nodes = quillNodeGetNodes(doc.get(), &count);
    ASSERT_EQ(count, 2001);
    EXPECT_EQ(nodes[0], child);
    quillRelease(nodes);
}

TEST(QuillItems, SetAndDelete)
{
    DocPtr doc(quillNew("R"));
    QuillItem* a = quillNodeAddItem(doc.get(), "A", "1");
    QuillItem* b = quillNodeAddItem(doc.get(), "B", "2");
    QuillItem* c = quillNodeAddItem(doc.get(), "A", "3");
    EXPECT_EQ(quillItemSetValue(b, "changed"), 1);
    EXPECT_STREQ(quillItemGetValue(b), "changed");
    EXPECT_EQ(quillItemSetValue(b, nullptr), 1);
    EXPECT_EQ(quillItemGetValue(b), nullptr);
    EXPECT_EQ(quillItemDelete(a), 1);
    EXPECT_STREQ(quillGetTextItem(doc.get(), "A"), "3");
    EXPECT_STREQ(quillItemGetValue(c), "3");
    EXPECT_EQ(quillItemDelete(b), 1);
    EXPECT_EQ(quillItemDelete(c), 1);
    EXPECT_EQ(quillNodeCountItems(doc.get()), 0);
    EXPECT_EQ(quillNodeGetItems(doc.get(), nullptr), nullptr);
}

TEST(QuillHandles, NullHandlesDoNothing)
{
    int count = 7;
    long l = 3;
    double d = 3;
    EXPECT_EQ(quillNew(nullptr), nullptr);
    quillDestroy(nullptr);
    quillRelease(nullptr);
    EXPECT_EQ(quillNodeGetName(nullptr), nullptr);
    EXPECT_EQ(quillNodeCountNodes(nullptr), 0);
    EXPECT_EQ(quillNodeCountItems(nullptr), 0);
    EXPECT_EQ(quillNodeGetNodes(nullptr, &count), nullptr);
    EXPECT_EQ(count, 0);
    count = 7;
    EXPECT_EQ(quillNodeGetItems(nullptr, &count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(quillNodeFindNodes(nullptr, "A", 10, nullptr), nullptr);
    EXPECT_EQ(quillNodeFindItems(nullptr, "A", 10, nullptr), nullptr);
    EXPECT_EQ(quillNodeAddNode(nullptr, "A"), nullptr);
    EXPECT_EQ(quillNodeAddItem(nullptr, "A", "v"), nullptr);
    EXPECT_EQ(quillItemGetName(nullptr), nullptr);
    EXPECT_EQ(quillItemGetValue(nullptr), nullptr);
    EXPECT_EQ(quillItemSetValue(nullptr, "v"), 0);
    EXPECT_EQ(quillItemDelete(nullptr), 0);
    EXPECT_EQ(quillGetIntItem(nullptr, "A", &l), 0);
    EXPECT_EQ(quillGetRealItem(nullptr, "A", &d), 0);
    EXPECT_EQ(quillGetTextItem(nullptr, "A"), nullptr);
    EXPECT_EQ(l, 3);
    EXPECT_EQ(d, 3);

    DocPtr doc(quillNew("R"));
    EXPECT_EQ(quillNodeAddNode(doc.get(), nullptr), nullptr);
    EXPECT_EQ(quillNodeAddItem(doc.get(), nullptr, "v"), nullptr);
    EXPECT_EQ(quillGetIntItem(doc.get(), nullptr, &l), 0);
    EXPECT_EQ(quillGetTextItem(doc.get(), nullptr), nullptr);
}

TEST(QuillHandles, DestroyIgnoresNodesOtherThanTheRoot)
{
    DocPtr doc(quillNew("R"));
    QuillNode* child = quillNodeAddNode(doc.get(), "C");
    quillNodeAddItem(child, "k", "v");
    quillDestroy(child);
    EXPECT_STREQ(quillGetTextItem(child, "k"), "v");
    EXPECT_EQ(quillNodeCountNodes(doc.get()), 1);
}
