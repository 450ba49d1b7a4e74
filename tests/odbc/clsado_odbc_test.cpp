// The connection object through the ODBC bridge against the real servers of scripts/services: connect
// diagnoses from real driver failures, statements and their failures, transactions, a restarted server.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <thread>

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

const std::string CRLF = "\r\n";

class ClsAdoOdbc : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { KORADO_REQUIRE_ODBC(target()); }
    const OdbcTarget& target() const { return GetOdbcTarget(GetParam()); }
    std::string Login() const {
        const OdbcTarget& t = target();
        return t.user.empty() ? "" : t.user + "/" + t.password;
    }
    // A table name of this process, as several runs may share a server.
    std::string Table(const char* base) const { return std::string(base) + "_" + std::to_string(::getpid()); }
};

TEST_P(ClsAdoOdbc, SessionConnectsRunsStatementsAndKeepsTransactions) {
    const OdbcTarget& t = target();
    std::string table = Table("ko_session");
    {
        Session s;
        auto r = s.Connect("DSN=" + t.dsn + ";", Login());
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.connection_string, "DSN=" + t.dsn + ";");
        EXPECT_EQ(s.ado().Provider(), "MSDASQL");
        EXPECT_EQ(s.ado().DBMSName(), t.dbms_name);
        EXPECT_FALSE(r.dsn.empty());
        EXPECT_TRUE(s.ado().IsConnected());
        EXPECT_TRUE(s.ado().Supports("Transactions"));

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
        EXPECT_EQ(s.Execute("insert into " + table + " values (:id, :name)", {"id", "name"}), 1);
        s.ado().Rollback();
        EXPECT_EQ(CLng(s.Scalar("select count(*) from " + table)), 0);

        EXPECT_EQ(s.Execute("insert into " + table + " values (:id, :name)", {"id", "name"}), 1);
        // A failing statement inside the transaction leaves the session and the earlier work usable.
        EXPECT_RAISES(ExecuteSQLError, s.Execute("insert into no_such_table_xyz values (1)"));
        id->SetValue(2);
        EXPECT_EQ(s.Execute("insert into " + table + " values (:id, :name)", {"id", "name"}), 1);
        s.ado().Commit();
    }
    Session s;
    ASSERT_TRUE(s.Connect("DSN=" + t.dsn + ";", Login()).ok);
    Ref<ado::Recordset> rs;
    s.Execute("select id, name from " + table + " order by id", {}, &rs);
    ASSERT_TRUE(rs);
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(CLng(rs->Fields()->Item("id")->Value()), 1);
    EXPECT_EQ(CStr(rs->Fields()->Item("name")->Value()), "Ünïcödé 𝄞");
    rs->MoveNext();
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(CLng(rs->Fields()->Item(0)->Value()), 2);
    rs = nullptr;
    s.Execute("drop table " + table);
    s.ado().Commit();
}

TEST_P(ClsAdoOdbc, MissingTableAndSyntaxErrorsCarryTheDriversText) {
    Session s;
    ASSERT_TRUE(s.Connect("DSN=" + target().dsn + ";", Login()).ok);
    std::optional<Error> e = test::RaisedError([&] { s.Execute("select * from ko_no_such_table"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Number(), ExecuteSQLError);
    EXPECT_NE(e->Description().find("ko_no_such_table"), std::string::npos) << e->Description();
    // The number follows each driver's SQLSTATE: 42S02 (MariaDB) is the "no table" error, PostgreSQL's own
    // 42P01 an error in the command, the SQLite driver's HY000 a general failure.
    EXPECT_NE(s.ado().LastServerErr(), 0);
    EXPECT_NE(s.ado().LastServerErrText().find("ko_no_such_table"), std::string::npos);
    if (GetParam() == "maria") {
        EXPECT_EQ(s.ado().LastServerErr(), Hr(0x80040E37));
    }
    // The shared error object strips the bracketed tags of texts that name ODBC.
    if (GetParam() == "pg") {
        EXPECT_EQ(s.ado().LastServerErrText().find('['), std::string::npos);
    }

    e = test::RaisedError([&] { s.Execute("selec 1"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Number(), ExecuteSQLError);
    if (GetParam() != "sqlite") {
        EXPECT_EQ(s.ado().LastServerErr(), Hr(0x80040E14));
    }

    // With bind variables the failure is shown through the error object instead.
    s.ado().BindVariables()->Add("v")->SetValue(1);
    s.boxes().Clear();
    s.Execute("select * from ko_no_such_table where x = :v", {"v"});
    ASSERT_EQ(s.boxes().Shown().size(), 1u);
    EXPECT_NE(s.boxes().Shown()[0].text.find("ko_no_such_table"), std::string::npos);
    EXPECT_EQ(s.boxes().Shown()[0].text.find("[unixODBC]"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Dsns, ClsAdoOdbc, ::testing::ValuesIn(test::OdbcTargetNames()),
                         [](const auto& info) { return info.param; });

// Connect failures from real drivers and the driver manager.
class ClsAdoOdbcConnect : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("ODBCINI")) {
            if (test::ServersRequired()) FAIL() << "the ODBC configuration of scripts/services is missing";
            GTEST_SKIP() << "no ODBC configuration (run scripts/services start; eval \"$(scripts/services env)\")";
        }
    }
};

TEST_F(ClsAdoOdbcConnect, UnknownDsnGetsTheDriverManagerAdvice) {
    Session s;
    std::optional<Error> e = test::RaisedError([&] { s.Connect("DSN=korado_no_such_dsn;"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Number(), ConnectionError);
    const std::string dm = "[unixODBC][ODBC Driver Manager]Data source name not found and no default driver specified";
    EXPECT_EQ(e->Description(),
              "There was a problem connecting to a database through ODBC. This error may occur when the ODBC DSN that "
              "you configured in the Control Panel is no longer working properly. The error message below was "
              "received by the ODBC driver." +
                  CRLF + CRLF + "Advice" + CRLF +
                  "If this problem persists, recreate this ODBC DSN and try to connect again. Only proceed when the "
                  "test was successful." +
                  CRLF + CRLF + "Driver Error:" + CRLF + dm + " (-2147467259)");
    EXPECT_EQ(s.ado().Connection()->State(), ado::adStateClosed);
}

TEST_F(ClsAdoOdbcConnect, WrongPasswordsAndAServerThatIsDown) {
    for (const char* name : {"pg", "maria"}) {
        const OdbcTarget& t = GetOdbcTarget(name);
        KORADO_REQUIRE_ODBC(t);
        Session s;
        std::optional<Error> e =
            test::RaisedError([&] { s.Connect("DSN=" + t.dsn + ";", t.user + "/wrong_password"); });
        ASSERT_TRUE(e) << name;
        EXPECT_EQ(e->Number(), ConnectionError);
        // No row of the diagnosis knows these servers: the driver's own text reaches the user.
        std::string expected = std::string(name) == "pg" ? "password authentication failed" : "Access denied";
        EXPECT_NE(e->Description().find(expected), std::string::npos) << e->Description();
        EXPECT_NE(s.ado().Connection()->Errors()->Item(0)->NativeError(), -1);
    }
    // Nothing listens on port 1.
    Session s;
    std::optional<Error> e = test::RaisedError([&] {
        s.Connect("Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=1;Database=korado;", "u/p");
    });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Number(), ConnectionError);
    EXPECT_NE(e->Description().find("127.0.0.1"), std::string::npos) << e->Description();
}

TEST(ClsAdoOdbcRestart, ARestartedServerIsReconnectedSilently) {
    const OdbcTarget& t = GetOdbcTarget("pg");
    KORADO_REQUIRE_ODBC(t);
    std::string script = test::ServicesScript();
    if (script.empty()) GTEST_SKIP() << "KORADO_SERVICES_SCRIPT is not set";
    Session s;
    ASSERT_TRUE(s.Connect("DSN=" + t.dsn + ";", t.user + "/" + t.password).ok);
    EXPECT_EQ(CLng(s.Scalar("select 1")), 1);
    ASSERT_EQ(std::system(test::ServicesCommand(script, "restart pg").c_str()), 0);
    // The next statement finds the link dropped, reconnects and runs, without the host doing anything.
    EXPECT_EQ(CLng(s.Scalar("select 2")), 2);
    EXPECT_TRUE(s.ado().IsConnected());

    // With the server gone, the statement fails before it is built.
    ASSERT_EQ(std::system(test::ServicesCommand(script, "stop pg").c_str()), 0);
    std::optional<Error> e = test::RaisedError([&] { s.Execute("select 3"); });
    ASSERT_EQ(std::system(test::ServicesCommand(script, "start pg").c_str()), 0);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Number(), NoDBConnection);
    EXPECT_EQ(e->Description(), "No live database connection");
}

}  // namespace
}  // namespace korado
