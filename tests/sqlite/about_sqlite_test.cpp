// The About form on an SQLite file, directly and through the console's ABOUT.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "support/about_form.h"
#include "support/console_runner.h"
#include "support/session.h"

namespace korado::test {
namespace {

#ifndef KORADO_APP_PATH
#define KORADO_APP_PATH ""
#endif

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(AboutSqlite, ShowsSavesAndClosesOnEscape) {
    TempDir dir;
    Session s;
    ASSERT_TRUE(s.Connect(SqliteConnectionString(dir.File("about.db"))).ok);
    CheckAboutForm(s.ado(), s.boxes(), s.errors());
}

class AboutConsole : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(KORADO_APP_PATH).empty())
            GTEST_SKIP() << "built without the console host (korado_app)";
    }
    ConsoleRunner console_{KORADO_APP_PATH};
};

TEST_F(AboutConsole, AboutAndAboutSaveOnTheSampleDatabase) {
    ConsoleRun run = console_.Run({"-c", "about", "-c", "about nonsense"});
    EXPECT_THAT(run.out, HasSubstr("Tabulon Universal - About the database connection\n"
                                   "Provider       SQLite.1\nProvider Name  "));
    EXPECT_THAT(run.out, HasSubstr("Description    korADO Provider for SQLite\n"));
    // The table: its headings aligned over the dashes, the password hidden.
    EXPECT_THAT(run.out, ContainsRegex("\nProperty Name +Value +Attribute +Type\n-+ -+ -+ -+\n"));
    EXPECT_THAT(run.out, ContainsRegex("\nPassword +\\*\\*\\*\\*\\* +Read/Write +BSTR\n"));
    EXPECT_THAT(run.err, HasSubstr("Usage: ABOUT [SAVE]"));

    // Saved by the library, passwords as they are, and confirmed by its message; an empty answer cancels.
    const std::string file = console_.Dir().File("details.txt");
    run = console_.Run({}, "about save\n" + file + "\nabout save\n\n");
    EXPECT_EQ(ReadFile(file).rfind("Provider: SQLite.1\r\n\r\nPassword  1536 8\r\n", 0), 0u);
    EXPECT_THAT(ReadFile(file), HasSubstr("\r\nData Source " + console_.SampleDatabase() + " 1536 8\r\n"));
    EXPECT_EQ(std::tuple(run.exit_status, run.err),
              std::tuple(0, "Tabulon Universal Exception\nDetails were saved as " + file + "\n"))
        << run.Transcript();
    EXPECT_THAT(run.out,
                HasSubstr("Save Connection Details As (file name, empty to cancel): " + file + "\n"));
    EXPECT_THAT(run.out, Not(HasSubstr("Property Name")));
}

}  // namespace
}  // namespace korado::test
