// Real SQLite failures of a query's open, classified by the open-failure table: the provider's source
// "SQLite" matches no provider of the table, so its failures are told apart by number alone.
#include <gtest/gtest.h>

#include <tuple>

#include "korado/resultsets/clsDynasetADO.h"
#include "support/open_failure.h"
#include "support/script_host.h"
#include "support/session.h"
#include "support/support.h"

namespace korado {
namespace {

using open_diagnoses::OpenOutcome;

const std::string kMistypedColumn =
    "Driver Error: \r\nNo value given for one or more required parameters.\r\n\r\nYou may have mistyped "
    "a column name.\r\n\r\nAdvice:\r\nUse the Describe feature in Tabulon Universal to find the correct "
    "column names for the tables you use. Alternatively execute the same query as a \"select * from "
    "table...\"";

TEST(SqliteOpenDiagnosis, RealFailuresByNumber) {
    test::TempDir dir;
    Ref<ado::Connection> connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->Open("Provider=SQLite;Data Source=" + dir.File("test.db"));
    connection->Execute("CREATE TABLE t(a INTEGER)");
    // SQL; the number and native error SQLite reports; the outcome and its text. SQLite's native error is its
    // result code (1, SQLITE_ERROR, for all of these), so the rows that look for SQL Server's or Oracle's
    // natives (207, 904, 918, 208) never decide: the "otherwise" row of each number does. A text where an
    // integer is wanted is not among them: SQLite converts it silently.
    using Case = std::tuple<std::string, std::uint32_t, std::int32_t, OpenOutcome::Kind, std::string>;
    const Case cases[] = {
        {"SELECT * FROM missing", 0x80040E37, 1, OpenOutcome::DefaultReport, "no such table: missing"},
        {"SELECT nope FROM t", 0x80040E14, 1, OpenOutcome::DefaultReport, "no such column: nope"},
        {"SELEC 1", 0x80040E14, 1, OpenOutcome::DefaultReport, "near \"SELEC\": syntax error"},
        {"SELECT a FROM t, t AS u", 0x80040E14, 1, OpenOutcome::DefaultReport, "ambiguous column name: a"},
        // A marker without a parameter: the provider's own 0x80040E10 with native 0 gets the column advice.
        {"SELECT * FROM t WHERE a = ?", 0x80040E10, 0, OpenOutcome::Report, kMistypedColumn},
    };
    for (const auto& [sql, number, native, kind, text] : cases)
        for (bool large : {false, true}) {
            SCOPED_TRACE(sql + (large ? " (server cursor)" : " (client cursor)"));
            open_diagnoses::OpenFailure f = test::FailedOpen(connection, sql, large);
            open_diagnoses::RetryFlags flags;
            OpenOutcome o = open_diagnoses::Classify(f, flags);
            EXPECT_EQ(std::tuple(f.source, f.number, f.native_error, f.first_description),
                      std::tuple("SQLite", Hr(number), native, f.description));
            EXPECT_EQ(std::tuple(o.kind, o.code, o.title, o.text), std::tuple(kind, 0, std::string(), text));
        }
}

// Through the dynaset the user sees the column advice as it is (not as an ODBC text), in the error
// component's box; the dynaset is not made.
TEST(SqliteOpenDiagnosis, TheUserSeesTheColumnAdvice) {
    test::TempDir dir;
    test::Session s;
    ASSERT_TRUE(s.Connect(test::SqliteConnectionString(dir.File("test.db"))).ok);
    g_HostObject = MakeRef<test::TestHost>();
    s.Execute("CREATE TABLE t(a INTEGER)");
    EXPECT_FALSE(s.Dynaset("SELECT * FROM t WHERE a = ?"));
    ASSERT_EQ(s.boxes().Shown().size(), 1u);
    EXPECT_EQ(std::tuple(s.boxes().Shown()[0].title, s.boxes().Shown()[0].text),
              std::tuple("Tabulon Universal Exception", kMistypedColumn));
}

}  // namespace
}  // namespace korado
