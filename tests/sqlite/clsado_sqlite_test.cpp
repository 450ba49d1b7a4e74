// The connection object over the embedded SQLite provider: a whole session as a host runs it.
#include <gtest/gtest.h>

#include <fstream>

#include "korado/errors/clsADOError.h"
#include "korado/platform/modGlobals.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado {
namespace {

using test::Session;
using test::SqliteConnectionString;

class SqliteSession : public ::testing::Test {
  protected:
    test::TempDir dir;
    std::string file = dir.File("sales.db");
};

TEST_F(SqliteSession, ConnectHandsBackUserDataSourceAndStringWithoutPasswordAndDisconnectEndsTheSession) {
    EXPECT_RAISES(NoDBConnection, Session().Execute("select 1"));
    Session s;
    auto r = s.Connect("Provider=SQLite;Password=secret;Data Source=" + file + ";PWD=kept");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.user, "");
    EXPECT_EQ(r.dsn, "sales.db (" + file + ")");
    EXPECT_EQ(r.connection_string, "Provider=SQLite;Data Source=" + file + ";PWD=kept");
    EXPECT_EQ(s.ado().ServerName(), file);
    EXPECT_TRUE(s.errors().Reports().empty());
    s.ado().CommitTransaction();
    s.ado().Disconnect();
    std::optional<Error> e = test::RaisedError([&] { s.Execute("select 1"); });
    test::ExpectError(e, NoDBConnection, "korADO");
    EXPECT_EQ(e->Description(), "No live database connection");
}

// The connect table's rows for the platform ("ADODB.Connection") and for any other source, from real
// failures: the description is the platform's or the engine's text, whole.
TEST_F(SqliteSession, ConnectFailuresKeepThePlatformsOrTheEnginesText) {
    { std::ofstream(file) << "this is not a database, just text that is long enough to have a header"; }
    const std::string missing = dir.File("missing.db");
    struct Case {
        std::string connection_string, description;
    } cases[] = {
        {SqliteConnectionString(file), "file is not a database"},
        {SqliteConnectionString(missing) + ";Mode=Read", "unable to open database file (" + missing + ")"},
        {"Provider=NoSuchProvider;Data Source=x",
         "Provider cannot be found. It may not be properly installed."},
    };
    for (const Case& c : cases) {
        Session s;
        std::optional<Error> e = test::RaisedError([&] { s.Connect(c.connection_string); });
        test::ExpectError(e, ConnectionError, "korADO");
        EXPECT_EQ(e->Description(), c.description);
        ASSERT_TRUE(s.ado().Connection());
        EXPECT_EQ(s.ado().Connection()->State(), ado::adStateClosed);
        EXPECT_FALSE(s.ado().BindVariables());
    }
    EXPECT_FALSE(std::filesystem::exists(missing));  // opened read-only, not created
}

TEST_F(SqliteSession, StatementsWithBindVariablesAndTheirFailures) {
    Session s(true, korParamIn, korTypeOther);
    ASSERT_TRUE(s.Connect(SqliteConnectionString(file)).ok);
    // Statements that change no rows (DDL) count -1, as the platform reports them.
    EXPECT_EQ(s.Execute("create table t (id integer primary key, name varchar(40))"), -1);
    // (Each type's values through bind variables: bind_variables_test.cpp and the console's session.)
    s.ado().BindVariables()->Add("id")->SetValue(1);
    EXPECT_EQ(s.Execute("insert into t values (:id, 'Grüße 𝄞')", {"id"}), 1);
    Ref<ado::Recordset> rs;
    s.Execute("select name from t where id = :id", {"id"}, &rs);
    ASSERT_TRUE(rs);
    EXPECT_EQ(CStr(rs->Fields()->Item("NAME")->Value()), "Grüße 𝄞");
    rs = nullptr;

    // An action statement hands back its count and no recordset.
    Ref<ado::Recordset> none;
    EXPECT_EQ(s.Execute("update t set name = 'x'", {}, &none), 1);
    EXPECT_FALSE(none);

    // Without parameters a failure is raised as ExecuteSQLError with the engine's text.
    std::optional<Error> e = test::RaisedError([&] { s.Execute("select * from no_such_table"); });
    test::ExpectError(e, ExecuteSQLError, "korADO");
    EXPECT_EQ(e->Description(), "no such table: no_such_table");
    EXPECT_EQ(s.ado().LastServerErrText(), "no such table: no_such_table");
    EXPECT_EQ(s.ado().LastServerErr(), Hr(0x80040E37));
    EXPECT_EQ(s.ado().LastServerErrPos(), 0);
    s.ado().ClearErrors();
    EXPECT_EQ(s.ado().LastServerErr(), 0);
    EXPECT_FALSE(s.ado().Errors(0));  // reported: no such entry
    ASSERT_FALSE(s.errors().Reports().empty());
    EXPECT_EQ(s.errors().Reports().back().routine, "Errors");

    // With parameters the failure is shown, not raised, and leaves the outputs as they were.
    s.boxes().Clear();
    Ref<Collection> names = MakeCollection({"id"});
    std::string sql = "insert into t values (:id, 'dup')";
    std::int32_t affected = 77;
    s.ado().ExecuteSQL(sql, names, affected, rs);
    EXPECT_EQ(affected, 77);
    ASSERT_EQ(s.boxes().Shown().size(), 1u);
    EXPECT_EQ(s.boxes().Shown()[0].text, "UNIQUE constraint failed: t.id");
    EXPECT_EQ(sql, "insert into t values (?  , 'dup')");  // the caller sees the rewritten text
    // The failed statement left the session and its transaction usable.
    EXPECT_EQ(CLng(s.Scalar("select count(*) from t")), 1);
}

TEST_F(SqliteSession, RolledBackRowsAreGoneCommittedRowsSurviveAReconnect) {
    {
        Session s;
        ASSERT_TRUE(s.Connect(SqliteConnectionString(file)).ok);
        s.Execute("create table t (n integer)");
        s.ado().Commit();
        s.Execute("insert into t values (1)");
        s.ado().Rollback();
        EXPECT_EQ(CLng(s.Scalar("select count(*) from t")), 0);
        s.Execute("insert into t values (2)");
        s.ado().Commit();
        s.Execute("insert into t values (3)");  // left uncommitted when the session ends
    }
    Session s;
    ASSERT_TRUE(s.Connect(SqliteConnectionString(file)).ok);
    EXPECT_EQ(CStr(s.Scalar("select group_concat(n) from t")), "2");

    // Without transactions every statement stands on its own.
    s.ado().SetAllowTransactions(false);
    EXPECT_FALSE(s.ado().Supports("Transactions"));
    s.Execute("insert into t values (4)");
    s.ado().RollbackTransaction();  // does nothing while transactions are not allowed
    Session reader;
    ASSERT_TRUE(reader.Connect(SqliteConnectionString(file) + ";Mode=Read").ok);
    EXPECT_EQ(CStr(reader.Scalar("select group_concat(n) from t")), "2,4");
    EXPECT_FALSE(reader.ado().Supports("Write Access"));
}

TEST_F(SqliteSession, ASecondConnectionObjectSharesTheErrorObject) {
    Session s;
    s.ado().SetDisplayAlerts(false);
    // A second connection object replaces the shared error object: alerts are on again, library-wide.
    Ref<clsADO> second = CreateObjectAs<clsADO>("korADO.clsADO");
    EXPECT_TRUE(s.ado().DisplayAlerts());
    EXPECT_EQ(g_CurrentConnection, second);
    second->Destructor();
}

}  // namespace
}  // namespace korado
