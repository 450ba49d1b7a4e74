// Passwords typed at the console's terminal (issue 28): a session connects with a combined login (an SQLite
// file behind an ODBC data source, whose driver ignores the password) and with a connection string, and
// afterwards no part of either password is in the history file or on the screen beyond the typed lines' echo.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/console_runner.h"

namespace korado::test {
namespace {

#ifndef KORADO_APP_PATH
#define KORADO_APP_PATH ""
#endif

// The SQLite3 ODBC driver's library, where Debian and others install it; empty when it is not there.
std::string SqliteOdbcDriver() {
    std::vector<std::filesystem::path> dirs = {"/usr/lib", "/usr/local/lib"};
    std::error_code ec;
    for (const auto& dir : std::filesystem::directory_iterator("/usr/lib", ec)) dirs.push_back(dir.path());
    for (const auto& dir : dirs)
        if (std::filesystem::exists(dir / "odbc/libsqlite3odbc.so", ec))
            return dir / "odbc/libsqlite3odbc.so";
    return {};
}

// The first three-character piece of `secret` found in `text`; empty when there is none.
std::string PieceOf(const std::string& secret, const std::string& text) {
    for (std::size_t i = 0; i + 3 <= secret.size(); ++i)
        if (text.find(secret.substr(i, 3)) != std::string::npos) return secret.substr(i, 3);
    return {};
}

TEST(ConsoleHistory, PasswordsTypedAtTheTerminalStayOffTheHistoryAndTheScreen) {
    if (std::string(KORADO_APP_PATH).empty()) GTEST_SKIP() << "built without the console host (korado_app)";
    const std::string driver = SqliteOdbcDriver();
    if (driver.empty()) GTEST_SKIP() << "the SQLite3 ODBC driver (libsqlite3odbc.so) is not installed";
    ConsoleRunner console(KORADO_APP_PATH);
    const TempDir& dir = console.Dir();
    std::filesystem::create_directories(dir.File("odbc"));
    std::ofstream(dir.File("odbc/odbcinst.ini"))
        << "[ODBC]\nDontDLClose = 1\n\n[SQLite3]\nDriver = " << driver << "\nDontDLClose = 1\n";
    std::ofstream(dir.File("odbc/odbc.ini"))
        << "[korado_h28]\nDriver = SQLite3\nDatabase = " << dir.File("odbc.db") << "\n";
    console.SetEnv("ODBCSYSINI", dir.File("odbc"));
    console.SetEnv("ODBCINI", dir.File("odbc/odbc.ini"));
    // What the SQLite3 driver allocates outlives its unloading, where no leak suppression can name it.
    console.SetEnv("ASAN_OPTIONS", "detect_leaks=0");

    // A history an older version wrote: a login in clear, the file readable by everyone.
    const std::string history = dir.File("state/korado/history");
    std::filesystem::create_directories(dir.File("state/korado"));
    std::ofstream(history) << "_HiStOrY_V2_\nCONNECT\\040old/Vb8#mT@korado_h28\n";
    std::filesystem::permissions(history, std::filesystem::perms(0644));

    // Long enough that the typed line passes the eighty columns of a terminal.
    const std::string file = "a-file-with-a-name-long-enough-to-make-the-typed-line-wide.db";
    const std::string login_password = "Qz7;vX#w", string_password = "Jw;k Q}}x=Y'";
    const std::vector<std::string> typed = {
        "CONNECT someone/" + login_password + "@korado_h28",
        "connect Provider=SQLite;Data Source=" + dir.File(file) + ";PwD={" + string_password + "};",
        "exit",
    };
    ConsoleRun run = console.RunInTerminal({"Provider=SQLite;Data Source=" + dir.File("start.db")}, typed);
    ASSERT_EQ(run.exit_status, 0) << run.out;
    EXPECT_TRUE(HasLine(run.out, "Connected: user= dsn=korado_h28 connection=DSN=korado_h28")) << run.out;
    EXPECT_TRUE(HasLine(run.out, "Connected: user= dsn=" + file + " (" + dir.File(file) +
                                     ") connection=Provider=SQLite;Data Source=" + dir.File(file) + ";"))
        << run.out;

    const std::optional<std::string> screen = WithoutTypedLines(run, typed);
    ASSERT_TRUE(screen) << "a typed line's echo is missing:\n" << run.out;
    const std::string kept = ReadFile(history);
    for (const std::string& secret : {login_password, string_password, std::string("Vb8#mT")}) {
        EXPECT_EQ(PieceOf(secret, *screen), "") << secret << " on the screen:\n" << *screen;
        EXPECT_EQ(PieceOf(secret, kept), "") << secret << " in the history:\n" << kept;
    }
    // Kept masked, not left out.
    EXPECT_NE(kept.find("CONNECT\\040someone/***@korado_h28\n"), std::string::npos) << kept;
    EXPECT_NE(kept.find(";PwD=***;\n"), std::string::npos) << kept;
    struct stat st {};
    ASSERT_EQ(stat(history.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A symbolic link planted in place of the history is not written through.
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
    EXPECT_EQ(std::filesystem::status(victim).permissions(), std::filesystem::perms(0644));
    EXPECT_TRUE(std::filesystem::is_symlink(history));
}

}  // namespace
}  // namespace korado::test
