// Real failures of a query's open through the ODBC bridge, classified by the open-failure table. The
// bridge's source sends every failure to the rows chosen by the DBMS name behind it, before any number is
// looked at; none of the three drivers here reports what those rows look for, so each failure ends in the
// default report with the driver's own text.
#include <gtest/gtest.h>

#include <tuple>

#include "dataaccess/providers/pg/pg_provider.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "support/odbc_servers.h"
#include "support/open_failure.h"
#include "support/raises.h"
#include "support/script_host.h"
#include "support/session.h"

namespace korado::test {
namespace {

using open_diagnoses::OpenOutcome;

class OdbcOpenDiagnosis : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        target_ = &GetOdbcTarget(GetParam());
        KORADO_REQUIRE_ODBC(*target_);
        connection_ = CreateObjectAs<ado::Connection>("ADODB.Connection");
        connection_->Open(target_->Source(), target_->user, target_->password);
    }

    // Opens `sql` both ways the dynaset does and checks what the driver reported and that the default
    // report shows the driver's text.
    // `advice`: the diagnosis gives advice rather than the default report.
    void Expect(const std::string& sql, std::uint32_t number, std::int32_t native, const std::string& says,
                bool advice = false) {
        for (bool large : {false, true}) {
            SCOPED_TRACE(sql + (large ? " (server cursor)" : " (client cursor)"));
            open_diagnoses::OpenFailure f = FailedOpen(connection_, sql, large);
            open_diagnoses::RetryFlags flags;
            OpenOutcome o = open_diagnoses::Classify(f, flags);
            // The DBMS name is read only for the bridge's failures, the only ones whose rows need it.
            EXPECT_EQ(std::tuple(f.source, f.number, f.native_error, f.dbms_name),
                      std::tuple(target_->error_source, Hr(number), native,
                                 target_->odbc_api ? target_->dbms_name : std::string()));
            EXPECT_NE(f.description.find(says), std::string::npos) << f.description;
            if (advice) {
                EXPECT_NE(o.kind, OpenOutcome::DefaultReport);
                EXPECT_NE(o.text.find(f.description), std::string::npos) << o.text;
            } else {
                EXPECT_EQ(std::tuple(o.kind, o.text), std::tuple(OpenOutcome::DefaultReport, f.description));
            }
        }
    }

    const OdbcTarget* target_ = nullptr;
    Ref<ado::Connection> connection_;
};

TEST_P(OdbcOpenDiagnosis, RealFailuresEndInTheDefaultReport) {
    const std::string table = "SELECT * FROM missing_table";
    const std::string column = "SELECT nope FROM (SELECT 1 AS a) q";
    const std::string syntax = "SELEC 1";
    if (target_->IsPostgreSQL()) {
        // psqlODBC reports its own statement-error code 1 for all of these, not the 7 the schema box looks
        // for, so PostgreSQL's "otherwise" row decides. Its missing table is 42P01, which the bridge maps
        // by class to 0x80040E14, not 0x80040E37.
        // The native provider's NativeError is the SQLSTATE itself, as a number.
        auto native = [&](const char* sql_state) {
            return target_->odbc_api ? 1 : dataaccess::pg::NativeErrorForSqlState(sql_state);
        };
        Expect(table, 0x80040E14, native("42P01"), "relation \"missing_table\" does not exist");
        Expect(column, 0x80040E14, native("42703"), "column \"nope\" does not exist");
        Expect(syntax, 0x80040E14, native("42601"), "syntax error at or near \"SELEC\"");
        // A text where an integer is wanted (22P02) is 0x80040E07, but the where-clause advice is never
        // reached through the bridge: its source has already chosen the PostgreSQL rows. The native
        // provider's failures reach the general rows, and so the advice.
        Expect("SELECT 1 WHERE 1 = 'abc'", 0x80040E07, native("22P02"),
               "invalid input syntax for type integer: \"abc\"", !target_->odbc_api);
    } else if (target_->name == "maria") {
        // The server's own codes (1146, 1054, 1064), but the DBMS name is "MariaDB", not "MySQL": the
        // "any other DBMS" row decides. (MariaDB converts a text where an integer is wanted silently.)
        Expect(table, 0x80040E37, 1146, "Table 'korado.missing_table' doesn't exist");
        Expect(column, 0x80040E14, 1054, "Unknown column 'nope' in 'SELECT'");
        Expect(syntax, 0x80040E14, 1064, "You have an error in your SQL syntax");
    } else {
        // The SQLite3 driver reports every failure as HY000 (0x80004005) with SQLite's result code 1 as its
        // native error; DBMS "SQLite" is another DBMS. It converts a mistyped value silently.
        Expect(table, 0x80004005, 1, "no such table: missing_table");
        Expect(column, 0x80004005, 1, "no such column: nope");
        Expect(syntax, 0x80004005, 1, "near \"SELEC\": syntax error");
    }
}

// A connection the server dropped: MariaDB reports the lost connection as 2013, the number the MySQL rows
// retry once. Because the DBMS name is "MariaDB", the open is not retried: the default report shows it.
TEST_P(OdbcOpenDiagnosis, MariaDbLostConnectionIsNotRetried) {
    if (target_->name != "maria") GTEST_SKIP() << "MariaDB's lost connection";
    EXPECT_TRUE(RaisedError([&] { connection_->Execute("KILL CONNECTION_ID()"); }));
    open_diagnoses::OpenFailure f = FailedOpen(connection_, "SELECT 1", false);
    open_diagnoses::RetryFlags flags;
    OpenOutcome o = open_diagnoses::Classify(f, flags);
    EXPECT_EQ(std::tuple(f.number, f.native_error, f.dbms_name), std::tuple(Hr(0x80004005), 2013, "MariaDB"));
    EXPECT_EQ(std::tuple(o.kind, o.text), std::tuple(OpenOutcome::DefaultReport, f.description));
    EXPECT_NE(f.description.find("Lost connection to server during query"), std::string::npos);
    EXPECT_FALSE(flags.mysql_lost);
}

// What the user sees when a dynaset's query fails: the default report lists the connection's error with
// its number and the statement, in the error component's box.
TEST_P(OdbcOpenDiagnosis, TheUserSeesTheDriversErrorAndTheStatement) {
    Session s;
    const OdbcTarget& t = *target_;
    ASSERT_TRUE(s.Connect(t.Source(), t.user.empty() ? "" : t.user + "/" + t.password).ok);
    g_HostObject = MakeRef<TestHost>();
    for (bool large : {false, true}) {
        const std::string sql = "SELECT * FROM missing_table";
        EXPECT_FALSE(s.Dynaset(sql, large));
        const open_diagnoses::OpenFailure f = FailedOpen(connection_, sql, large);
        ASSERT_EQ(s.boxes().Shown().size(), large ? 2u : 1u);
        const auto& box = s.boxes().Shown().back();
        EXPECT_EQ(std::tuple(box.title, box.text),
                  std::tuple("Tabulon Universal Exception", std::to_string(f.number) + ": " + f.description +
                                                                "\r\n\r\nSQL=\"" + sql + "\""));
    }
    EXPECT_TRUE(s.errors().Reports().empty());
}

INSTANTIATE_TEST_SUITE_P(Dsn, OdbcOpenDiagnosis, ::testing::ValuesIn(OdbcTargetNames()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace korado::test
