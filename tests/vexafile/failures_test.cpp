// Logical descriptions that nest badly, part failures, and the reasons the library
// leaves for the caller.
#include "vexafile_test_util.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <thread>

using namespace vexafile_test;

namespace {

std::string lastError()
{
    return vexaFileGetLastError();
}

// A GDR file of w x h x d U8 whose samples count 1, 2, 3, ...
Desc gdrVolume(const std::string& path, int w, int h, int d)
{
    Desc p(vexaFileNew());
    vexaFileSetFullName(p.get(), path.c_str());
    vexaFileSetSizes(p.get(), w, h, d);
    vexaFileSetTypeData(p.get(), TYPEDATA_U8);
    vexaFileSetHeader(p.get(), VEXAFILE_HEADER_GDR);
    EXPECT_EQ(vexaFileWriteHeader(p.get()), 1);
    Bytes samples(size_t(w) * h * d);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (unsigned char)(i + 1);
    EXPECT_EQ(vexaFileWriteBlock(p.get(), samples.data()), 1);
    return p;
}

std::string description(int w, int h, int d, const std::string& name, int copies)
{
    std::string text = "<LOGICAL width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h)
        + "\" depth=\"" + std::to_string(d) + "\">";
    for (int i = 0; i < copies; ++i)
        text += "<PART NAME=\"" + name + "\" X=\"" + std::to_string(i) + "\" Y=\"0\" Z=\"0\"/>";
    return text + "</LOGICAL>";
}

} // namespace

TEST(VexaFileNesting, DescriptionNamingItselfIsReadOnceWithoutItsSelfParts)
{
    TempDir dir;
    std::string self = dir.file("self.xml");
    writeText(self, description(12, 2, 2, "self.xml", 10));
    Desc s = openDesc(self);
    ASSERT_EQ(vexaFileReadHeader(s.get()), 1);
    EXPECT_EQ(vexaFileIsLogical(s.get()), 0);
    EXPECT_EQ(vexaFileGetDimX(s.get()), 12);

    // a -> b -> a: b keeps its real part, the way back to a is cut.
    gdrVolume(dir.file("real.gdr"), 2, 2, 2);
    writeText(dir.file("a.xml"), description(2, 2, 2, "b.xml", 1));
    writeText(dir.file("b.xml"),
        "<LOGICAL width=\"2\" height=\"2\" depth=\"2\"><PART NAME=\"./a.xml\" X=\"0\" Y=\"0\" "
        "Z=\"0\"/><PART NAME=\"real.gdr\" X=\"0\" Y=\"0\" Z=\"0\"/></LOGICAL>");
    Desc a = openDesc(dir.file("a.xml"));
    ASSERT_EQ(vexaFileReadHeader(a.get()), 1);
    EXPECT_EQ(vexaFileGetTypeData(a.get()), TYPEDATA_U8);
    Buffer all(vexaFileReadBlock(a.get()));
    ASSERT_TRUE(all);
    EXPECT_EQ(as<unsigned char>(all)[7], 8);
}

// Each level names the next ten times: read as a tree that is 10^6 header reads;
// every distinct file is read once.
TEST(VexaFileNesting, RepeatedPartsAreReadOncePerOpen)
{
    TempDir dir;
    gdrVolume(dir.file("leaf.gdr"), 1, 1, 1);
    std::string below = "leaf.gdr";
    for (int level = 0; level < 6; ++level) {
        std::string name = "level" + std::to_string(level) + ".xml";
        writeText(dir.file(name), description(10, 1, 1, below, 10));
        below = name;
    }
    Desc top = openDesc(dir.file(below));
    ASSERT_EQ(vexaFileReadHeader(top.get()), 1);
    ASSERT_EQ(vexaFileIsLogical(top.get()), 1);
    Buffer row(vexaFileReadBlockPart(top.get(), 0, 0, 0, 0, 10, 1, 1));
    ASSERT_TRUE(row);
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(as<unsigned char>(row)[x], 1) << x;
}

TEST(VexaFileNesting, MissingPartFailsTheReadAndNamesThePart)
{
    TempDir dir;
    gdrVolume(dir.file("left.gdr"), 2, 2, 1);
    gdrVolume(dir.file("right.gdr"), 2, 2, 1);
    writeText(dir.file("vol.xml"),
        "<LOGICAL width=\"4\" height=\"2\" depth=\"1\"><PART NAME=\"left.gdr\" X=\"0\" Y=\"0\" "
        "Z=\"0\"/><PART NAME=\"right.gdr\" X=\"2\" Y=\"0\" Z=\"0\"/></LOGICAL>");
    Desc vol = openDesc(dir.file("vol.xml"));
    ASSERT_EQ(vexaFileReadHeader(vol.get()), 1);
    ASSERT_TRUE(Buffer(vexaFileReadBlock(vol.get())));
    EXPECT_EQ(lastError(), "");

    std::filesystem::remove(dir.file("right.gdr"));
    EXPECT_FALSE(Buffer(vexaFileReadBlock(vol.get())));
    EXPECT_NE(lastError().find(dir.file("right.gdr") + " : "), std::string::npos) << lastError();
    // The left half alone still reads.
    EXPECT_TRUE(Buffer(vexaFileReadBlockPart(vol.get(), 0, 0, 0, 0, 2, 2, 1)));
}

// Corners that do not fit an int leave their part out, however far they are (a corner
// at the top of the long range used to overflow on the way to the far corner).
TEST(VexaFileNesting, PartCornersBeyondTheIntRangeAreLeftOut)
{
    TempDir dir;
    gdrVolume(dir.file("real.gdr"), 2, 2, 2);
    writeText(dir.file("far.xml"),
        "<LOGICAL width=\"4\" height=\"2\" depth=\"2\">"
        "<PART NAME=\"real.gdr\" X=\"0\" Y=\"0\" Z=\"9223372036854775807\"/>"
        "<PART NAME=\"real.gdr\" X=\"-9223372036854775808\" Y=\"0\" Z=\"0\"/>"
        "<PART NAME=\"real.gdr\" X=\"0\" Y=\"2147483647\" Z=\"0\"/>"
        "<PART NAME=\"real.gdr\" X=\"2\" Y=\"0\" Z=\"0\"/></LOGICAL>");
    Desc far = openDesc(dir.file("far.xml"));
    ASSERT_EQ(vexaFileReadHeader(far.get()), 1);
    Buffer all(vexaFileReadBlock(far.get()));
    ASSERT_TRUE(all);
    EXPECT_EQ(as<unsigned char>(all)[0], 0);
    EXPECT_EQ(as<unsigned char>(all)[2], 1);
    EXPECT_EQ(as<unsigned char>(all)[15], 8);
}

TEST(VexaFileNesting, UsesFileFollowsPartsWhateverTheName)
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("sub"));
    gdrVolume(dir.file("sub/part.gdr"), 2, 2, 1);
    writeText(dir.file("vol.xml"), description(2, 2, 1, "sub/part.gdr", 1));
    Desc vol = openDesc(dir.file("vol.xml"));
    ASSERT_EQ(vexaFileReadHeader(vol.get()), 1);
    EXPECT_EQ(vexaFileUsesFile(vol.get(), dir.file("sub/../sub/./part.gdr").c_str()), 1);
    EXPECT_EQ(vexaFileUsesFile(vol.get(), dir.file("vol.xml").c_str()), 1);
    writeText(dir.file("other"), "x");
    EXPECT_EQ(vexaFileUsesFile(vol.get(), dir.file("other").c_str()), 0);
    EXPECT_EQ(vexaFileUsesFile(vol.get(), dir.file("absent").c_str()), 0);
    EXPECT_EQ(vexaFileUsesFile(nullptr, dir.file("other").c_str()), 0);
}

TEST(VexaFileLastError, NamesTheFileAndTheCauseAndClearsOnSuccess)
{
    TempDir dir;
    EXPECT_EQ(vexaFileNameOpen(dir.file("absent.gdr").c_str()), nullptr);
    EXPECT_EQ(lastError(),
        dir.file("absent.gdr")
            + " : Impossible d'ouvrir le fichier (fichier ou dossier introuvable)");

    writeText(dir.file("junk"), "not an image at all");
    Desc junk = openDesc(dir.file("junk"));
    EXPECT_EQ(lastError(), "");
    EXPECT_EQ(vexaFileReadHeader(junk.get()), 0);
    EXPECT_EQ(lastError().rfind(dir.file("junk") + " : ", 0), 0u) << lastError();

    Desc wide(vexaFileNew());
    vexaFileSetFullName(wide.get(), dir.file("wide.gdr").c_str());
    vexaFileSetSizes(wide.get(), 1000000, 1, 1);
    vexaFileSetTypeData(wide.get(), TYPEDATA_U8);
    EXPECT_EQ(vexaFileWriteHeader(wide.get()), 0);
    EXPECT_NE(lastError().find("non représentables"), std::string::npos) << lastError();

    // Each thread has its own.
    std::string other;
    std::thread([&] { other = lastError(); }).join();
    EXPECT_EQ(other, "");

    Desc ok = gdrVolume(dir.file("ok.gdr"), 2, 2, 2);
    EXPECT_EQ(lastError(), "");
}

TEST(VexaFileLastError, WriteBeyondTheSizeLimitGivesTheCause)
{
    TempDir dir;
    Desc big(vexaFileNew());
    vexaFileSetFullName(big.get(), dir.file("big.gdr").c_str());
    vexaFileSetSizes(big.get(), 64, 64, 4);
    vexaFileSetTypeData(big.get(), TYPEDATA_U8);
    ASSERT_EQ(vexaFileWriteHeader(big.get()), 1);
    Bytes plane(64 * 64, 5);

    auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit previous { };
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    struct rlimit limited = previous;
    limited.rlim_cur = 8192;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int written = vexaFileWriteImage(big.get(), plane.data(), 0, 3);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousSignal);

    EXPECT_EQ(written, 0);
    EXPECT_EQ(lastError(),
        dir.file("big.gdr") + " : Erreur d'écriture (taille maximale de fichier dépassée)");
}
