// The platform objects against the scripted provider: failures with given sources and native errors,
// results, warnings, output parameters, properties and schema rows.
#include "dataaccess/providers/scripted/scripted_provider.h"

#include <gtest/gtest.h>

#include <tuple>

#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/raises.h"

namespace korado::dataaccess::scripted {
namespace {

using test::RaisedError;

Ref<ado::Connection> NewConnection() { return CreateObjectAs<ado::Connection>("ADODB.Connection"); }

std::shared_ptr<ScriptedProvider> Oracle() {
    return std::make_shared<ScriptedProvider>(
        ScriptedProvider::Identity{.name = "OraOLEDB.Oracle",
                                   .versioned_name = "OraOLEDB.Oracle.1",
                                   .friendly_name = "Oracle Provider for OLE DB",
                                   .error_source = "OraOLEDB"});
}

TEST(ScriptedProvider, DrivesAFailingOpenWithItsSourceAndNativeErrors) {
    auto oracle = Oracle();
    oracle->FailOpen({{hr::E_FAIL, "", "ORA-12154: TNS:could not resolve the connect identifier specified",
                       12154, "HY000"},
                      {hr::E_FAIL, "", "second record", 0, "01000"}});
    ScopedProvider registered(oracle);

    Ref<ado::Connection> c = NewConnection();
    c->SetConnectionString("Provider=OraOLEDB.Oracle;Data Source=orcl;User ID=scott;Password=tiger");
    EXPECT_EQ(c->Provider(), "OraOLEDB.Oracle.1");
    std::optional<Error> e = RaisedError([&] { c->Open({}, "system", "manager"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(
        std::tuple(e->Number(), e->Source(), e->NativeError(), e->Description().substr(0, 9), c->State()),
        std::tuple(hr::E_FAIL, "OraOLEDB", 12154, "ORA-12154", ado::adStateClosed));
    ASSERT_EQ(c->Errors()->Count(), 2);
    Ref<ado::Error> second = c->Errors()->Item(Variant(1));
    EXPECT_EQ(std::tuple(c->Errors()->Item(Variant(0))->NativeError(), second->Source(), second->SQLState()),
              std::tuple(12154, "OraOLEDB", "01000"));

    // The Open arguments override the string's login; the provider never sees "Provider=".
    ASSERT_EQ(oracle->opens().size(), 1u);
    const auto& open = oracle->opens()[0];
    EXPECT_EQ(std::tuple(open.user, open.password, open.connection_string.Get("Data Source"),
                         open.connection_string.Has("Provider")),
              std::tuple("system", "manager", "orcl", false));

    // One failure, then success: the same connection object opens.
    oracle->AllowOpen();
    oracle->FailNextOpen({{hr::E_FAIL, "", "ORA-01017: invalid username/password; logon denied", 1017, ""}});
    EXPECT_EQ(RaisedError([&] { c->Open(); })->NativeError(), 1017);
    c->Open();
    // The login from the string when the arguments are empty.
    EXPECT_EQ(std::tuple(c->State(), oracle->opens().back().user, oracle->opens().back().password),
              std::tuple(ado::adStateOpen, "scott", "tiger"));
}

class Scripted : public ::testing::Test {
  protected:
    void SetUp() override {
        provider->SetStandardProperties("Oracle", "19.0");
        c->Open("Provider=OraOLEDB.Oracle;Data Source=orcl");
    }
    std::shared_ptr<ScriptedProvider> provider = Oracle();
    ScopedProvider registered{provider};
    Ref<ado::Connection> c = NewConnection();
};

TEST_F(Scripted, WarningsAddUpAndCommandPropertiesReachTheProvider) {
    ScriptedExecution e = ScriptedExecution::Returns(ScriptedResult::Action(1));
    e.warnings = {{0, "", "[Driver]String data, right truncated", 0, "01004"}};
    provider->On("INSERT", e);
    c->Execute("SELECT * FROM nothing_scripted");
    c->Execute("INSERT");
    ASSERT_EQ(c->Errors()->Count(), 1);
    EXPECT_EQ(std::tuple(c->Errors()->Item(Variant(0))->SQLState(), c->Errors()->Item(Variant(0))->Source()),
              std::tuple("01004", "OraOLEDB"));
    c->Execute("INSERT");
    EXPECT_EQ(c->Errors()->Count(), 2);  // appended, not replaced

    provider->SetCommandProperty("PLSQLRSet", ado::adBoolean, Variant(false));
    Ref<ado::Command> cmd = CreateObjectAs<ado::Command>("ADODB.Command");
    EXPECT_EQ(cmd->Properties()->Count(), 0);  // no connection: nothing to offer
    cmd->SetActiveConnection(c);
    cmd->SetCommandText("{ call p }");
    cmd->SetCommandType(ado::adCmdStoredProc);
    cmd->Properties()->Item(Variant("plsqlrset"))->SetValue(Variant(true));
    EXPECT_RAISES(ado::adErrItemNotFound, cmd->Properties()->Item(Variant("Other")));
    cmd->Execute(nullptr);
    const auto& options = provider->executed().back().options;
    ASSERT_EQ(options.properties.size(), 1u);
    EXPECT_EQ(std::tuple(options.command_type, options.properties[0].value),
              std::tuple(ado::adCmdStoredProc, Variant(true)));
}

TEST_F(Scripted, PropertiesTransactionsAndLiveness) {
    auto property = [&](const char* name) { return c->Properties()->Item(Variant(name))->Value(); };
    EXPECT_EQ(std::tuple(property("DBMS Name"), property("Connection Status")),
              std::tuple(Variant("Oracle"), Variant(1)));
    provider->SetAlive(false);
    EXPECT_EQ(CLng(property("Connection Status")), 2);

    c->BeginTrans();
    c->CommitTrans();
    provider->FailCommit({{Hr(0x80040005), "", "Lost connection to MySQL server", 2013, "08S01"}});
    c->BeginTrans();
    EXPECT_RAISES(Hr(0x80040005), c->CommitTrans());
    c->RollbackTrans();
    EXPECT_EQ(provider->session_calls(),
              (std::vector<std::string>{"begin", "commit", "begin", "commit", "rollback"}));

    // A commit that fails because the link dropped has lost the transaction with it: Close goes ahead,
    // so that the connection can be opened again. While the link lives, Close still refuses (3246).
    provider->SetAlive(true);
    c->BeginTrans();
    EXPECT_RAISES(ado::adErrInTransaction, c->Close());
    provider->SetAlive(false);
    EXPECT_TRUE(RaisedError([&] { c->CommitTrans(); }));
    c->Close();
    EXPECT_EQ(c->State(), ado::adStateClosed);
    provider->FailCommit({});
    provider->SetAlive(true);

    // A provider without transactions and without a "Transaction DDL" property.
    auto plain = std::make_shared<ScriptedProvider>();
    ScopedProvider registered_plain(plain);
    plain->SetTransactions(false);
    Ref<ado::Connection> other = NewConnection();
    other->Open("Provider=Scripted");
    EXPECT_RAISES_FROM(ado::adErrFeatureNotAvailable, "ADODB.Connection", other->BeginTrans());
    EXPECT_RAISES(ado::adErrItemNotFound, other->Properties()->Item(Variant("Transaction DDL")));
    EXPECT_EQ(other->Provider(), "Scripted.1");
}

TEST_F(Scripted, AFetchFailureSurfacesWhereTheRowIsRead) {
    ScriptedResult rows =
        ScriptedResult::Rows({Column("N", ado::adInteger, 4)}, {{Variant(1)}, {Variant(2)}, {Variant(3)}});
    rows.fetch_failure = {{hr::E_FAIL, "", "ORA-03113: end-of-file on communication channel", 3113, "08S01"}};
    rows.fail_after_rows = 1;
    provider->On("SELECT n FROM t", ScriptedExecution::Returns(rows));

    Ref<ado::Recordset> forward = c->Execute("SELECT n FROM t");
    EXPECT_EQ(CLng(forward->Fields()->At(0)->Value()), 1);
    std::optional<Error> e = RaisedError([&] { forward->MoveNext(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(std::tuple(e->NativeError(), c->Errors()->Item(Variant(0))->NativeError(), forward->Eof()),
              std::tuple(3113, 3113, true));

    // A client cursor reads every row while opening, so its Open fails.
    Ref<ado::Recordset> client = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
    client->SetCursorLocation(ado::adUseClient);
    e = RaisedError([&] { client->Open(Variant("SELECT n FROM t"), Variant(Ref<ado::Connection>(c))); });
    ASSERT_TRUE(e);
    EXPECT_EQ(std::tuple(e->NativeError(), client->State()), std::tuple(3113, ado::adStateClosed));
}

}  // namespace
}  // namespace korado::dataaccess::scripted
