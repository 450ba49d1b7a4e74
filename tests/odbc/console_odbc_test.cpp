// The console host against PostgreSQL through the ODBC bridge (DSN korado_pg of scripts/services): the
// combined login and its Connected line, bind variables in statements, the library's errors and messages,
// output bind variables after a procedure call, exit statuses. Skips without the servers' environment;
// fails instead when KORADO_REQUIRE_SERVERS=1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "support/console_runner.h"
#include "support/odbc_servers.h"

namespace korado::test {
namespace {

using ::testing::HasSubstr;

#ifndef KORADO_APP_PATH
#define KORADO_APP_PATH ""
#endif

class ConsolePostgresTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(KORADO_APP_PATH).empty())
            GTEST_SKIP() << "built without the console host (korado_app)";
        KORADO_REQUIRE_ODBC(pg());
        suffix_ = std::to_string(::getpid());
    }
    void TearDown() override {
        if (!suffix_.empty())
            console_.Run({Login(), "-c", "drop table if exists " + Table(), "-c",
                          "drop function if exists " + Function() + "(integer, integer)"});
    }

    static const OdbcTarget& pg() { return GetOdbcTarget("pg"); }
    static std::string Login() { return pg().user + "/" + pg().password + "@" + pg().dsn; }
    // Names of this process, as several test runs may share the server.
    std::string Table() const { return "kc_people_" + suffix_; }
    std::string Function() const { return "kc_add_" + suffix_; }

    ConsoleRunner console_{KORADO_APP_PATH};
    std::string suffix_;
};

// With bind variables the library shows a failure as a message; under WHENEVER it ends the script with its
// status, rolling back what the script did. (The driver's text without bind variables is checked through
// the connection object, the console's rendering of it against SQLite.)
TEST_F(ConsolePostgresTest, FailureUnderWheneverRollsBackAndExits) {
    ConsoleRun run = console_.Run({Login(), "-c", "create table " + Table() + " (id integer primary key)"});
    ASSERT_EQ(run.exit_status, 0) << run.Transcript();
    const std::string insert = "insert into " + Table() + " values ";
    run = console_.Run({Login()}, "whenever sqlerror exit 5\nvariable v number\nexec :v := 3\n" + insert +
                                      "(:v);\n" + insert + "(:v);\n" + insert + "(4);\n");
    EXPECT_EQ(run.exit_status, 5) << run.Transcript();
    EXPECT_TRUE(
        run.err.starts_with("Tabulon Universal Exception\nERROR: duplicate key value violates unique"))
        << run.err;
    run = console_.Run({Login(), "-c", "select count(*) as n from " + Table()});
    EXPECT_THAT(run.out, HasSubstr("n\n-\n0\n")) << run.Transcript();
}

// A function with OUT parameters, called through the ODBC call escape: psqlODBC runs it as
// SELECT * FROM f(in arguments) and copies the row into the output parameters.
//
// The platform reads the call's row into the recordset at once, so the values are there when the
// library asks right after Execute. The session opens through the combined login.
TEST_F(ConsolePostgresTest, OutputVariablesAfterAProcedureCall) {
    ConsoleRun run = console_.Run({Login()},
                                  "show provider\n"
                                  "show user\n"
                                  "create function " +
                                      Function() +
                                      "(a integer, b integer, out total integer, out product integer)\n"
                                      "as $$\n"
                                      "begin\n"
                                      "  total := a + b;\n"
                                      "  product := a * b;\n"
                                      "end;\n"
                                      "$$ language plpgsql;\n"
                                      "variable x number\n"
                                      "variable y number\n"
                                      "variable t number out\n"
                                      "variable p number out\n"
                                      "exec :x := 6\n"
                                      "exec :y := 7\n"
                                      "exec " +
                                      Function() +
                                      "(:x, :y, :t, :p)\n"
                                      "print t p\n");
    ASSERT_EQ(run.exit_status, 0) << run.Transcript();
    EXPECT_EQ(run.err, "");
    // The library splits the login, opens the DSN through the bridge and reports the user and the database
    // (scripts/services names it "korado"); the password stays out of all three.
    EXPECT_TRUE(run.out.starts_with("Connected: user=" + pg().user + " dsn=korado connection=DSN=" +
                                    pg().dsn + "\nPROVIDER is \"MSDASQL\"\nUSER is \"" + pg().user + "\"\n"))
        << run.out;
    EXPECT_THAT(run.out, HasSubstr(" t\n--\n13\n\n p\n--\n42\n")) << run.Transcript();
}

// EXEC of a procedure that answers with rows prints them as a query's: a PostgreSQL set-returning
// function, a MariaDB procedure that SELECTs (and one that does not answers as a statement).
class ConsoleProcedureRowsTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (std::string(KORADO_APP_PATH).empty())
            GTEST_SKIP() << "built without the console host (korado_app)";
        KORADO_REQUIRE_ODBC(Target());
        name_ = "kc_rows_" + std::to_string(::getpid());
    }
    void TearDown() override {
        if (name_.empty()) return;
        if (GetParam() == "pg") {
            console_.Run({Login(), "-c", "drop function if exists " + name_ + "(integer)"});
        } else {
            console_.Run({Login(), "-c", "drop procedure if exists " + name_, "-c",
                          "drop procedure if exists " + name_ + "_set"});
        }
    }

    const OdbcTarget& Target() const { return GetOdbcTarget(GetParam()); }
    std::string Login() const { return Target().user + "/" + Target().password + "@" + Target().dsn; }

    ConsoleRunner console_{KORADO_APP_PATH};
    std::string name_;
};

TEST_P(ConsoleProcedureRowsTest, ExecPrintsTheRowsAProcedureAnswersWith) {
    const std::string create =
        GetParam() == "pg"
            ? "create function " + name_ +
                  "(n integer) returns table (k integer, label text)\n"
                  "as $$ select g, 'row ' || g from generate_series(1, n) g $$ language sql;\n"
            : "create procedure " + name_ +
                  "(n integer)\n"
                  "begin\n"
                  "  with recursive g (k) as (select 1 union all select k + 1 from g where k < n)\n"
                  "  select k, concat('row ', k) as label from g;\n"
                  "end;\n"
                  "/\n"
                  "create procedure " +
                  name_ +
                  "_set(n integer)\nbegin\n  set @kc_n = n;\nend;\n/\n"
                  "exec " +
                  name_ + "_set(1)\n";
    ConsoleRun run =
        console_.Run({Login()}, create + "whenever sqlerror exit 3\nset pagesize 2\nexec " + name_ + "(3)\n");
    ASSERT_EQ(run.exit_status, 0) << run.Transcript();
    EXPECT_EQ(run.err, "");
    // The CREATEs and, for MariaDB, the call without rows; then the rows in pages of two.
    const std::string processed(GetParam() == "pg" ? "Statement processed.\n"
                                                   : "Statement processed.\nStatement processed.\n"
                                                     "Statement processed.\n");
    EXPECT_THAT(run.out, HasSubstr(processed + "k label\n- -----\n1 row 1\n2 row 2\n\n"
                                               "k label\n- -----\n3 row 3\n\n3 rows selected.\n"))
        << run.Transcript();
}

INSTANTIATE_TEST_SUITE_P(Servers, ConsoleProcedureRowsTest, ::testing::Values("pg", "maria"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace korado::test
