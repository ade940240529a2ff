// A fault leaves a note naming the signal and what the thread was running; the next
// start takes it once.
#include "log/crashnote.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(CrashNote, AFaultLeavesANoteThatTheNextStartTakesOnce)
{
    vexatest::TempDir temp { "vexa-crash" };
    ASSERT_TRUE(temp.ok());
    const std::string path = (std::filesystem::path(temp.path()) / "vexa-crash.txt").string();
    EXPECT_EQ(vexa::log::takeCrashNote(path), "");

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGSEGV, SIG_DFL); // what ran before: the default action
        vexa::log::installCrashNote(path);
        vexa::log::setCrashContext("« Plantage » de libessai.so");
        raise(SIGSEGV);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // The program still ends as the fault would have ended it.
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);

    const std::string note = vexa::log::takeCrashNote(path);
    EXPECT_NE(note.find("SIGSEGV"), std::string::npos) << note;
    EXPECT_NE(note.find("« Plantage » de libessai.so"), std::string::npos) << note;
    EXPECT_EQ(vexa::log::takeCrashNote(path), "");
}

} // namespace
