// The connection object through the ODBC bridge against the real servers of scripts/services: connect
// diagnoses from real driver failures, statements and their failures and transactions.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <map>

#include "connection/diagnoses.h"
#include "korado/errors/clsADOError.h"
#include "support/odbc_servers.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado {
namespace {

using test::GetOdbcTarget;
using test::OdbcTarget;
using test::Session;

class ClsAdoOdbc : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { KORADO_REQUIRE_ODBC(target()); }
    const OdbcTarget& target() const { return GetOdbcTarget(GetParam()); }
    std::string Login() const {
        const OdbcTarget& t = target();
        return t.user.empty() ? "" : t.user + "/" + t.password;
    }
};

TEST_P(ClsAdoOdbc, SessionConnectsRunsStatementsAndKeepsTransactions) {
    const OdbcTarget& t = target();
    std::string table = "ko_session_" + std::to_string(::getpid());  // several runs may share a server
    {
        Session s;
        auto r = s.Connect(t.Source(), Login());
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.connection_string, t.Source());
        if (t.server) {
            EXPECT_EQ(r.dsn, "korado");  // the catalog comes first among the read-back names
        }

        s.Execute("drop table if exists " + table);
        s.Execute("create table " + table + " (id integer primary key, name varchar(40))");
        s.ado().Commit();

        auto vars = s.ado().BindVariables();
        auto id = vars->Add("id");
        id->SetDataType(korTypeNumber);
        auto name = vars->Add("name");
        name->SetDataType(korTypeVarchar2);
        id->SetValue(1);
        name->SetValue("Ünïcödé 𝄞");
        const std::string insert = "insert into " + table + " values (:id, :name)";
        EXPECT_EQ(s.Execute(insert, {"id", "name"}), 1);
        s.ado().Rollback();
        EXPECT_EQ(CLng(s.Scalar("select count(*) from " + table)), 0);
        EXPECT_EQ(s.Execute(insert, {"id", "name"}), 1);
        // A failing statement inside the transaction leaves the session and the earlier work usable.
        EXPECT_RAISES(ExecuteSQLError, s.Execute("insert into no_such_table_xyz values (1)"));
        id->SetValue(2);
        EXPECT_EQ(s.Execute(insert, {"id", "name"}), 1);
        s.ado().Commit();
    }
    Session s;
    ASSERT_TRUE(s.Connect(t.Source(), Login()).ok);
    if (GetParam() == "maria") {
        // The session's information is read again after a statement that may change it, though the status
        // checks between statements do not read it.
        EXPECT_EQ(s.ado().CurrentCatalog(), "korado");
        s.Execute("use information_schema");
        EXPECT_EQ(s.ado().CurrentCatalog(), "information_schema");
        s.Execute("use korado");
    }
    EXPECT_EQ(CLng(s.Scalar("select sum(id) from " + table)), 3);
    EXPECT_EQ(CStr(s.Scalar("select name from " + table + " where id = 2")), "Ünïcödé 𝄞");
    s.Execute("drop table " + table);
    s.ado().Commit();
}

// The statement tables' rows for ODBC, from real failures: without bind variables the driver's text is
// raised whole; with them it is shown through the error object (which would strip bracketed tags from a
// text that names ODBC; none of these does).
TEST_P(ClsAdoOdbc, StatementFailuresGetTheirRowsWholeText) {
    const std::map<std::string, std::pair<std::string, std::int32_t>> by_target = {
        {"pg",
         {"ERROR: relation \"ko_no_such_table\" does not exist;\nError while executing the query",
          Hr(0x80040E14)}},
        {"maria",
         {"[ma-3.1.15][10.11.19-MariaDB-0+deb12u1]Table 'korado.ko_no_such_table' doesn't exist",
          Hr(0x80040E37)}},
        {"sqlite", {"[SQLite]no such table: ko_no_such_table (1)", Hr(0x80004005)}},
        {"pgnative", {"relation \"ko_no_such_table\" does not exist", Hr(0x80040E14)}},
    };
    const auto& [text, number] = by_target.at(GetParam());
    Session s;
    ASSERT_TRUE(s.Connect(target().Source(), Login()).ok);
    std::optional<Error> e = test::RaisedError([&] { s.Execute("select * from ko_no_such_table"); });
    test::ExpectError(e, ExecuteSQLError, "korADO");
    EXPECT_EQ(e->Description(), text);
    EXPECT_EQ(s.ado().LastServerErrText(), text);
    EXPECT_EQ(s.ado().LastServerErrPos(), 0);
    // The number follows each driver's SQLSTATE: 42S02 (MariaDB) is the "no table" error, PostgreSQL's own
    // 42P01 an error in the command, the SQLite driver's HY000 a general failure.
    EXPECT_EQ(s.ado().LastServerErr(), number);
    EXPECT_RAISES(ExecuteSQLError, s.Execute("selec 1"));
    if (GetParam() != "sqlite") {
        EXPECT_EQ(s.ado().LastServerErr(), Hr(0x80040E14));
    }

    s.ado().BindVariables()->Add("v")->SetValue(1);
    s.boxes().Clear();
    EXPECT_EQ(s.Execute("select * from ko_no_such_table where x = :v", {"v"}), -99);  // the count as it was
    ASSERT_EQ(s.boxes().Shown().size(), 1u);
    EXPECT_EQ(s.boxes().Shown()[0].text, text);

    // The bridge refuses a parameter type it cannot bind; the platform's failure is the mismatch row.
    Ref<ado::Command> cmd = CreateObjectAs<ado::Command>("ADODB.Command");
    cmd->SetActiveConnection(s.ado().Connection());
    cmd->SetCommandText("select ?");
    cmd->Parameters()->Append(cmd->CreateParameter("p", ado::adIDispatch, ado::adParamInput, 0, Variant(1)));
    e = test::RaisedError([&] { cmd->Execute(); });
    test::ExpectError(e, Hr(0x80040E08), target().error_source);
    if (!target().odbc_api) return;  // the diagnosis rows name the bridge
    diagnoses::ExecuteOutcome o =
        diagnoses::ExecuteFailure({e->Source(), e->Number(), e->Description(), 0}, 1, "", "");
    EXPECT_EQ(o.kind, diagnoses::ExecuteOutcome::Raise);
    EXPECT_EQ(o.code, BindingInfoInvalid);  // the row's text is checked with the diagnosis table
}

INSTANTIATE_TEST_SUITE_P(Dsns, ClsAdoOdbc, ::testing::ValuesIn(test::OdbcTargetNames()),
                         [](const auto& info) { return info.param; });

std::string DriverManagerAdvice(const std::string& d) {
    return "There was a problem connecting to a database through ODBC. This error may occur when the ODBC "
           "DSN that you configured in the Control Panel is no longer working properly. The error message "
           "below was received by the ODBC driver.\r\n\r\nAdvice\r\nIf this problem persists, recreate this "
           "ODBC DSN and try to connect again. Only proceed when the test was successful.\r\n\r\n"
           "Driver Error:\r\n" +
           d + " (-2147467259)";
}

// Each failure as the driver manager or the driver reports it, and the whole text its row of the connect
// table makes of it; the first error of the connection keeps what the driver said.
TEST(ClsAdoOdbcConnect, RealFailuresGetTheirRowsWholeText) {
    if (!std::getenv("ODBCINI")) {
        if (test::ServersRequired()) FAIL() << "the ODBC configuration of scripts/services is missing";
        GTEST_SKIP()
            << "no ODBC configuration (run scripts/services start; eval \"$(scripts/services env)\")";
    }
    const OdbcTarget& pg = GetOdbcTarget("pg");
    const OdbcTarget& maria = GetOdbcTarget("maria");
    const std::string no_dsn =
        "[unixODBC][ODBC Driver Manager]Data source name not found and no default driver specified";
    const std::string no_lib =
        "[unixODBC][ODBC Driver Manager]Can't open lib 'Korado No Such Driver' : file not found";
    const char* port = std::getenv("KORADO_PG_PORT");
    const std::string pg_password =
        "connection to server at \"127.0.0.1\", port " + std::string(port ? port : "55433") +
        " failed: FATAL:  password authentication failed for user \"" + pg.user + "\"";
    const std::string maria_password =
        "Access denied for user '" + maria.user + "'@'127.0.0.1' (using password: YES)";
    struct Case {
        const OdbcTarget* server;  // that must answer, or none
        std::string connection_string, login, description, sql_state;
        std::int32_t number, native;
    } cases[] = {
        {nullptr, "DSN=korado_no_such_dsn;", "", DriverManagerAdvice(no_dsn), "IM002", Hr(0x80004005), 0},
        {nullptr, "DRIVER={Korado No Such Driver};SERVER=x", "", DriverManagerAdvice(no_lib), "01000",
         Hr(0x80004005), 0},
        // No row of the table knows these servers: the driver's own text reaches the user.
        {&pg, "DSN=korado_pg;", pg.user + "/wrong", pg_password, "08001", Hr(0x80004005), 101},
        {&maria, "DSN=korado_maria;", maria.user + "/wrong", "[ma-3.1.15]" + maria_password, "28000",
         Hr(0x80040E4D), 1045},
        // Ports nothing listens on: the servers' own ports stay untouched.
        {&pg, "DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=1;DATABASE=korado", "u/p",
         "connection to server at \"127.0.0.1\", port 1 failed: Connection refused\n\tIs the server running "
         "on that host and accepting TCP/IP connections?",
         "08001", Hr(0x80004005), 101},
        {&maria, "DRIVER={MariaDB Unicode};SERVER=127.0.0.1;PORT=1;DATABASE=korado", "u/p",
         "[ma-3.1.15]Can't connect to server on '127.0.0.1' (115)", "HY000", Hr(0x80004005), 2002},
    };
    for (const Case& c : cases) {
        if (c.server) KORADO_REQUIRE_ODBC(*c.server);
        SCOPED_TRACE(c.connection_string);
        Session s;
        std::optional<Error> e = test::RaisedError([&] { s.Connect(c.connection_string, c.login); });
        test::ExpectError(e, ConnectionError, "korADO");
        EXPECT_EQ(e->Description(), c.description);
        EXPECT_EQ(s.ado().Connection()->State(), ado::adStateClosed);
        Ref<ado::Error> first = s.ado().Connection()->Errors()->Item(Variant(0));
        EXPECT_EQ(std::tuple(first->Number(), first->SQLState(), first->NativeError(), first->Source()),
                  std::tuple(c.number, c.sql_state, c.native, "Microsoft OLE DB Provider for ODBC Drivers"));
    }
}

}  // namespace
}  // namespace korado
