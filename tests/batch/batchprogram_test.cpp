// The program itself run headless on a batch file: the demo volume opened, "Racine
// Carrée" run on it and its result saved, then an animation recorded as a 20-frame
// film; and a failing line ends the run with status 1 and the line named.
#include "video/filmreader.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

int runBatch(const fs::path& batch, const fs::path& errors)
{
    const std::string command = std::string("'") + VEXA_PROGRAM + "' --batch '" + batch.string()
        + "' > /dev/null 2> '" + errors.string() + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string contents(const fs::path& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(BatchProgram, RunsACommandSavesAndRecordsAFilm)
{
    vexatest::TempDir temp { "vexa-batchprogram" };
    ASSERT_TRUE(temp.ok());
    const fs::path dir = temp.path();
    std::ofstream(dir / "tour.xml") << R"(<?xml version="1.0" encoding="UTF-8"?>
<ANIM>
  <PLAY FREQUENCY="25" FILENAME="tour.avi"/>
  <DRAW WIDTH="320" HEIGHT="240"/>
  <REFERENCE WIDTH="100" HEIGHT="100" DEPTH="100" VISIBILITY="1"/>
  <OBJECT NAME="Boule">
    <SPHERE PRECISION="16"/>
    <TRANSFORM SCALEX="30" SCALEY="30" SCALEZ="30" TRANSLATEX="50" TRANSLATEY="50" TRANSLATEZ="50"/>
  </OBJECT>
  <CAMERA INCREMENTAL="20" ROTATEY="6.283185"/>
  <FRAME NB="20"/>
</ANIM>
)";
    std::ofstream(dir / "run.txt")
        << "# démonstration\nouvrir " << VEXA_DEMO_VOLUME << "\ncommande Racine Carrée\nsauver "
        << (dir / "racine.gdr").string() << "\nanimation " << (dir / "tour.xml").string() << "\n";
    ASSERT_EQ(runBatch(dir / "run.txt", dir / "errors.txt"), 0) << contents(dir / "errors.txt");
    EXPECT_GT(fs::file_size(dir / "racine.gdr"), fs::file_size(VEXA_DEMO_VOLUME) / 2);

    std::string reason;
    auto film = vexa::video::FilmReader::open((dir / "tour.avi").string(), reason);
    ASSERT_TRUE(film) << reason;
    EXPECT_EQ(film->frameCount(), 20);
    EXPECT_EQ(film->width(), 320);
    EXPECT_EQ(film->height(), 240);
    std::vector<std::uint8_t> first, later;
    ASSERT_TRUE(film->decodeFrame(0, first, reason)) << reason;
    ASSERT_TRUE(film->decodeFrame(5, later, reason)) << reason;
    EXPECT_NE(first, later); // the camera turns

    std::ofstream(dir / "bad.txt") << "ouvrir " << VEXA_DEMO_VOLUME << "\n\ncommande Nulle Part\n";
    EXPECT_EQ(runBatch(dir / "bad.txt", dir / "errors.txt"), 1);
    EXPECT_NE(contents(dir / "errors.txt").find("Ligne 3 : commande inconnue « Nulle Part »"),
        std::string::npos)
        << contents(dir / "errors.txt");
}

} // namespace
