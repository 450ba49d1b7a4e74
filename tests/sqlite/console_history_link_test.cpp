// The console's history file is written at the end of a terminal session: a symbolic link planted in its
// place is not written through, so the file it points at stays as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/console_runner.h"

namespace korado::test {
namespace {

#ifndef KORADO_APP_PATH
#define KORADO_APP_PATH ""
#endif

TEST(ConsoleHistory, APlantedLinkInPlaceOfTheHistoryIsNotWrittenThrough) {
    if (std::string(KORADO_APP_PATH).empty()) GTEST_SKIP() << "built without the console host (korado_app)";
    ConsoleRunner console(KORADO_APP_PATH);
    const TempDir& dir = console.Dir();
    const std::string victim = dir.File("victim"), history = dir.File("state/korado/history");
    std::filesystem::create_directories(dir.File("state/korado"));
    std::ofstream(victim) << "keep";
    std::filesystem::permissions(victim, std::filesystem::perms(0644));
    std::filesystem::create_symlink(victim, history);

    ConsoleRun run =
        console.RunInTerminal({"Provider=SQLite;Data Source=" + dir.File("a.db")}, {"select 1;", "exit"});
    ASSERT_EQ(run.exit_status, 0) << run.out;
    EXPECT_EQ(ReadFile(victim), "keep");
    struct stat st {};
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_TRUE(std::filesystem::is_symlink(history));
}

}  // namespace
}  // namespace korado::test
