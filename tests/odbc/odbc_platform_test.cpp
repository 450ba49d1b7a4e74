// The ODBC bridge as a host meets it: ADODB.Connection, Command, Recordset and Errors over the test DSNs,
// with no "Provider=" in the connection string (which means MSDASQL).
#include <gtest/gtest.h>

#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "odbc/odbc_test_util.h"
#include "support/raises.h"

namespace korado::test {
namespace {

Variant Prop(const Ref<ado::Connection>& c, const char* name) {
    return c->Properties()->Item(Variant(name))->Value();
}

class OdbcPlatform : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        target_ = &GetOdbcTarget(GetParam());
        KORADO_REQUIRE_ODBC(*target_);
        connection_ = CreateObjectAs<ado::Connection>("ADODB.Connection");
        connection_->Open("DSN=" + target_->dsn, target_->user, target_->password);
    }
    void TearDown() override {
        if (connection_ && connection_->State() == ado::adStateOpen) connection_->Close();
    }

    Ref<ado::Command> NewCommand(const std::string& text, std::int32_t type = ado::adCmdText) {
        Ref<ado::Command> cmd = CreateObjectAs<ado::Command>("ADODB.Command");
        cmd->SetActiveConnection(connection_);
        cmd->SetCommandText(text);
        cmd->SetCommandType(type);
        return cmd;
    }

    void Quietly(const std::string& sql) {
        try {
            connection_->Execute(sql);
        } catch (const Error&) {
        }
    }

    const OdbcTarget* target_ = nullptr;
    Ref<ado::Connection> connection_;
};

TEST_P(OdbcPlatform, ConnectionWithoutProviderIsTheBridge) {
    EXPECT_EQ(connection_->Provider(), "MSDASQL.1");
    EXPECT_EQ(connection_->State(), ado::adStateOpen);
    EXPECT_EQ(CStr(Prop(connection_, "DBMS Name")), target_->dbms_name);
    EXPECT_EQ(CStr(Prop(connection_, "Provider Friendly Name")),
              "Microsoft OLE DB Provider for ODBC Drivers");
    EXPECT_EQ(CLng(Prop(connection_, "Connection Status")), 1);
    std::string extended = CStr(Prop(connection_, "Extended Properties"));
    EXPECT_NE(extended.find("DSN=" + target_->dsn), std::string::npos) << extended;
    EXPECT_EQ(extended.find("PWD="), std::string::npos) << extended;
}

TEST_P(OdbcPlatform, ForwardOnlyRecordsetReadsEveryRow) {
    Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
    rs->SetCursorLocation(ado::adUseServer);
    std::string sql = target_->name == "maria" ? "SELECT seq AS g, CONCAT('r', seq) AS t FROM seq_1_to_1200"
                      : target_->name == "pg"
                          ? "SELECT g, ('r' || g)::varchar(10) AS t FROM generate_series(1, 1200) g"
                          : "WITH RECURSIVE s(g) AS (SELECT 1 UNION ALL SELECT g + 1 FROM s WHERE g < 1200) "
                            "SELECT g, 'r' || g AS t FROM s";
    rs->Open(Variant(sql), Variant(connection_), ado::adOpenForwardOnly, ado::adLockReadOnly);
    int n = 0;
    while (!rs->Eof()) {
        ++n;
        ASSERT_EQ(CLng(rs->Fields()->At(0)->Value()), n);
        ASSERT_EQ(CStr(rs->Fields()->Item(Variant("t"))->Value()), 'r' + std::to_string(n));
        rs->MoveNext();
    }
    EXPECT_EQ(n, 1200);
    rs->Close();
}

TEST_P(OdbcPlatform, ClosingTheConnectionInTheMiddleOfALongReadClosesItsRecordset) {
    auto select = [&](int rows) {
        const std::string n = std::to_string(rows);
        return target_->name == "maria" ? "SELECT seq AS g FROM seq_1_to_" + n
               : target_->name == "pg"
                   ? "SELECT g FROM generate_series(1, " + n + ") g"
                   : "WITH RECURSIVE s(g) AS (SELECT 1 UNION ALL SELECT g + 1 FROM s WHERE g < " + n +
                         ") SELECT g FROM s";
    };
    for (int round = 0; round < 3; ++round) {
        // The last round inside a transaction and past psqlODBC's first FETCH, where the bridge FETCHes the
        // driver's cursor itself, one FETCH ahead on another thread.
        const int rows = round < 2 ? 6000 : 26000;
        const std::string sql = select(rows);
        if (round == 2) connection_->BeginTrans();
        Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(ado::adUseServer);
        rs->Open(Variant(sql), Variant(connection_), ado::adOpenForwardOnly, ado::adLockReadOnly);
        Ref<ado::Field> g = rs->Fields()->At(0);
        // Past two blocks, so that a server's next block may be on its way when the connection goes.
        const int stop = round < 2 ? 1500 + round * 777 : 15555;
        for (int n = 1; n <= stop; ++n) {
            ASSERT_EQ(CLng(g->Value()), n);
            rs->MoveNext();
        }
        // A connection does not close inside a transaction: that ends first, under the read.
        if (round == 2) connection_->RollbackTrans();
        connection_->Close();
        EXPECT_EQ(rs->State(), ado::adStateClosed);
        EXPECT_TRUE(RaisedError([&] { rs->MoveNext(); }));
        connection_->Open("DSN=" + target_->dsn, target_->user, target_->password);
        Ref<ado::Recordset> count = connection_->Execute("SELECT count(*) FROM (" + sql + ") AS c");
        EXPECT_EQ(CLng(count->Fields()->At(0)->Value()), rows);
    }
}

TEST_P(OdbcPlatform, FailuresFillConnectionErrors) {
    std::optional<Error> e = RaisedError([&] { connection_->Execute("SELECT * FROM korado_no_such_table"); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->Source(), "Microsoft OLE DB Provider for ODBC Drivers");
    Ref<ado::Errors> errors = connection_->Errors();
    ASSERT_GE(errors->Count(), 1);
    Ref<ado::Error> first = errors->Item(Variant(0));
    EXPECT_EQ(first->Number(), e->Number());
    EXPECT_EQ(first->Description(), e->Description());
    EXPECT_EQ(first->Source(), "Microsoft OLE DB Provider for ODBC Drivers");
    if (target_->name == "maria") {
        EXPECT_EQ(first->NativeError(), 1146);
        EXPECT_EQ(first->SQLState(), "42S02");
        EXPECT_EQ(first->Number(), Hr(0x80040E37));
    }
    // The connection goes on.
    Ref<ado::Recordset> rs = connection_->Execute("SELECT 5");
    EXPECT_EQ(CLng(rs->Fields()->At(0)->Value()), 5);
}

TEST_P(OdbcPlatform, OutputParametersOfAProcedureCommand) {
    if (!target_->procedures) GTEST_SKIP() << target_->dsn << " has no stored procedures";
    std::string proc = Unique("korado_platform_add");
    if (target_->name == "pg") {
        Quietly("DROP FUNCTION IF EXISTS " + proc + "(integer, integer)");
        connection_->Execute("CREATE FUNCTION " + proc +
                             "(a integer, b integer, OUT total integer, OUT label varchar) AS $$ BEGIN "
                             "total := a + b; label := 'total ' || total; END $$ LANGUAGE plpgsql");
    } else {
        Quietly("DROP PROCEDURE IF EXISTS " + proc);
        connection_->Execute(
            "CREATE PROCEDURE " + proc +
            "(IN a INT, IN b INT, OUT total INT, OUT label VARCHAR(40)) BEGIN SET total = a + b; "
            "SET label = CONCAT('total ', total); END");
    }
    Ref<ado::Command> cmd = NewCommand(proc, ado::adCmdStoredProc);
    cmd->Parameters()->Append(cmd->CreateParameter("a", ado::adInteger, ado::adParamInput, 0, Variant(20)));
    cmd->Parameters()->Append(cmd->CreateParameter("b", ado::adInteger, ado::adParamInput, 0, Variant(22)));
    cmd->Parameters()->Append(cmd->CreateParameter("total", ado::adInteger, ado::adParamOutput));
    cmd->Parameters()->Append(cmd->CreateParameter("label", ado::adVarWChar, ado::adParamOutput, 40));
    Ref<ado::Recordset> rs = cmd->Execute();
    // Output values are complete once every result was read.
    while (rs) rs = rs->NextRecordset();
    EXPECT_EQ(CLng(cmd->Parameters()->Item(Variant("total"))->Value()), 42);
    EXPECT_EQ(CStr(cmd->Parameters()->Item(Variant("label"))->Value()), "total 42");
    Quietly(target_->name == "pg" ? "DROP FUNCTION " + proc + "(integer, integer)"
                                  : "DROP PROCEDURE " + proc);
}

TEST_P(OdbcPlatform, SchemaRowsetThroughOpenSchema) {
    std::string table = Unique("korado_platform_schema");
    Quietly("DROP TABLE " + table);
    connection_->Execute("CREATE TABLE " + table + " (id integer, label varchar(20))");
    Ref<ado::Recordset> rs =
        connection_->OpenSchema(ado::adSchemaColumns, MakeArray(Variant(), Variant(), table, Variant()));
    int n = 0;
    while (!rs->Eof()) {
        ++n;
        EXPECT_EQ(CStr(rs->Fields()->Item(Variant("TABLE_NAME"))->Value()), table);
        rs->MoveNext();
    }
    EXPECT_EQ(n, 2);
    Quietly("DROP TABLE " + table);
}

TEST_P(OdbcPlatform, TransactionsCommitAndRollBack) {
    std::string table = Unique("korado_platform_txn");
    Quietly("DROP TABLE " + table);
    connection_->Execute("CREATE TABLE " + table + " (id integer)");
    EXPECT_EQ(connection_->BeginTrans(), 1);
    connection_->Execute("INSERT INTO " + table + " VALUES (1)");
    EXPECT_TRUE(RaisedError([&] { connection_->Execute("INSERT INTO korado_no_such_table VALUES (1)"); }));
    connection_->Execute("INSERT INTO " + table + " VALUES (2)");
    connection_->CommitTrans();
    connection_->BeginTrans();
    connection_->Execute("INSERT INTO " + table + " VALUES (3)");
    connection_->RollbackTrans();
    Ref<ado::Recordset> rs = connection_->Execute("SELECT count(*) FROM " + table);
    EXPECT_EQ(CLng(rs->Fields()->At(0)->Value()), 2);
    Quietly("DROP TABLE " + table);
}

INSTANTIATE_TEST_SUITE_P(Dsn, OdbcPlatform, ::testing::ValuesIn(OdbcTargetNames()), TargetName);

TEST(OdbcPlatformOpen, UnknownDsnFailsWithTheDriverManagersText) {
    Ref<ado::Connection> c = CreateObjectAs<ado::Connection>("ADODB.Connection");
    std::optional<Error> e = RaisedError([&] { c->Open("DSN=korado_no_such_dsn"); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->Number(), Hr(0x80004005));
    EXPECT_EQ(e->Source(), "Microsoft OLE DB Provider for ODBC Drivers");
    EXPECT_EQ(e->Description(),
              "[unixODBC][ODBC Driver Manager]Data source name not found and no default driver specified");
    EXPECT_EQ(c->State(), ado::adStateClosed);
    ASSERT_GE(c->Errors()->Count(), 1);
    EXPECT_EQ(c->Errors()->Item(Variant(0))->SQLState(), "IM002");
}

TEST(OdbcPlatformOpen, WarningsReachConnectionErrors) {
    const OdbcTarget& pg = GetOdbcTarget("pg");
    KORADO_REQUIRE_ODBC(pg);
    Ref<ado::Connection> c = CreateObjectAs<ado::Connection>("ADODB.Connection");
    c->Open("DSN=korado_pg", pg.user, pg.password);
    c->Execute("DO $$ BEGIN RAISE WARNING 'careful'; END $$");
    ASSERT_GE(c->Errors()->Count(), 1);
    EXPECT_NE(c->Errors()->Item(Variant(0))->Description().find("careful"), std::string::npos);
    EXPECT_EQ(c->Errors()->Item(Variant(0))->SQLState(), "01000");
    c->Close();
}

}  // namespace
}  // namespace korado::test
