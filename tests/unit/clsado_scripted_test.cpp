// The connection object against providers no machine here has (Oracle in its three forms, SQL Server, Jet,
// Adaptive Server Anywhere, MySQL quirks), posed by the scripted provider with the exact sources, numbers
// and native errors those providers report.
#include <gtest/gtest.h>

#include <tuple>

#include "connection/diagnoses.h"
#include "dataaccess/providers/scripted/scripted_provider.h"
#include "korado/errors/clsADOError.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/platform/datalinks.h"
#include "korado/platform/modGlobals.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado {
namespace {

using dataaccess::scripted::ScopedProvider;
using dataaccess::scripted::ScriptedExecution;
using dataaccess::scripted::ScriptedProvider;
using test::Session;

constexpr std::int32_t kFail = Hr(0x80004005);

std::shared_ptr<ScriptedProvider> Pose(std::string name, std::string versioned, std::string source,
                                       std::string dbms = "Scripted DBMS") {
    auto p = std::make_shared<ScriptedProvider>(
        ScriptedProvider::Identity{name, versioned, source + " friendly name", source, "x.so", "01.00.0000"});
    p->SetStandardProperties(std::move(dbms), "1.0");
    return p;
}

// The ConnectionError a failed open raises through Connect.
Error FailedConnect(Session& s, const std::string& cs, std::string user = {}) {
    std::optional<Error> e = test::RaisedError([&] { s.Connect(cs, std::move(user)); });
    EXPECT_TRUE(e.has_value());
    return e.value_or(Error(0, "", ""));
}

// The connect table's rows are checked text by text in the diagnosis tests; here each provider's failure
// must reach them with the provider's source and the native error of the connection's first error.
TEST(ConnectionObjectScripted, ConnectFailuresOfOtherProvidersReachTheirDiagnosis) {
    // Provider, its error source, and the first error's description and native error.
    for (auto [name, source, text, native] :
         {std::tuple{"OraOLEDB.Oracle", "OraOLEDB", "ORA-12154: TNS:could not resolve", 12154},
          std::tuple{"MSDAORA", "Microsoft OLE DB Provider for Oracle", "ORA-01017: invalid username", 1017},
          std::tuple{"MSDASQL", "Microsoft OLE DB Provider for ODBC Drivers",
                     "[Oracle][ODBC][Ora]ORA-12154: TNS:could not resolve", 0},
          std::tuple{"SQLOLEDB", "Microsoft OLE DB Provider for SQL Server", "Login failed for user 'sa'.",
                     18456},
          std::tuple{"Microsoft.Jet.OLEDB.4.0", "Microsoft JET Database Engine", "Not a valid password.",
                     Hr(0xF893F893)},
          std::tuple{"ASAProv", "ASA OLEDB", "Database server not found", -100}}) {
        auto p = Pose(name, std::string(name) + ".1", source);
        p->FailOpen({{kFail, "", text, native, "HY000"}});
        ScopedProvider scoped(p);
        Session s;
        Error e = FailedConnect(s, std::string("Provider=") + name + ";Data Source=orcl", "scott/tiger@orcl");
        EXPECT_EQ(
            std::tuple(e.Number(), e.Source(), e.Description()),
            std::tuple(ConnectionError, "korADO", diagnoses::ConnectFailure({source, kFail, text, native})))
            << name;
        // The combined login was split before the open: user and password reached the provider. A failed
        // connect clears the credentials and leaves a new, unopened connection, which a Reconnect then opens
        // with no user and no password.
        ASSERT_EQ(p->opens().size(), 1u);
        EXPECT_EQ(std::tuple(p->opens()[0].user, p->opens()[0].password), std::tuple("scott", "tiger"));
        ASSERT_TRUE(s.ado().Connection());
        EXPECT_TRUE(s.ado().Connection()->State() == ado::adStateClosed && s.errors().Reports().empty());
        p->AllowOpen();
        s.ado().Reconnect();
        ASSERT_EQ(p->opens().size(), 2u);
        EXPECT_EQ(std::tuple(p->opens()[1].user, p->opens()[1].password), std::tuple("", ""));
        EXPECT_EQ(s.ado().Connection()->State(), ado::adStateOpen);
    }
}

TEST(ConnectionObjectScripted, ConnectReadsBackUserAndDataSourceAndRemovesThePassword) {
    auto jet =
        Pose("Microsoft.Jet.OLEDB.4.0", "Microsoft.Jet.OLEDB.4.0", "Microsoft JET Database Engine", "MS Jet");
    jet->SetProperty("Current Catalog", ado::adBSTR, "");
    jet->SetProperty("Data Source", ado::adBSTR, "C:\\data\\sales.mdb");
    jet->SetProperty("User Name", ado::adBSTR, "Admin");
    jet->RemoveProperty("User ID");
    ScopedProvider p(jet);
    Session s;
    auto r = s.Connect(
        "Provider=Microsoft.Jet.OLEDB.4.0;Password=pw;Data Source=C:\\data\\sales.mdb;PWD=last", "u/p@alias");
    // Only the first entry of each key goes, and one at the end without ";" stays.
    EXPECT_EQ(std::tuple(r.ok, r.password, r.dsn, r.connection_string, s.ado().Provider()),
              std::tuple(true, "p", "sales.mdb (C:\\data\\sales.mdb)",
                         "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\data\\sales.mdb;PWD=last",
                         "Microsoft.Jet.OLEDB.4"));

    jet->SetProperty("Data Source", ado::adBSTR, "C:\\data\\");
    EXPECT_EQ(s.Connect("Provider=Microsoft.Jet.OLEDB.4.0").dsn, "data (C:\\data\\)");

    jet->SetProperty("Data Source", ado::adBSTR, "");
    jet->SetProperty("Data Source Name", ado::adBSTR, "");
    jet->SetProperty("Extended Properties", ado::adBSTR, "DSN=x;DBQ=C:\\f\\book.xls;DriverId=790");
    EXPECT_EQ(s.Connect("Provider=Microsoft.Jet.OLEDB.4.0").dsn, "book.xls (C:\\f\\book.xls)");

    // "@" with a DSN given: nothing is cut at "@"; the password is still cut at "/".
    auto at = s.Connect("Provider=Microsoft.Jet.OLEDB.4.0", "me@home/secret", "", "given");
    EXPECT_EQ(std::tuple(jet->opens().back().user, jet->opens().back().password, at.user),
              std::tuple("me@home", "secret", "Admin"));
}

TEST(ConnectionObjectScripted, DataLinkDialogAndMissingPlatformPieces) {
    Session s;
    // No prompt service: the dialog behaves as a cancel.
    std::string user, pass, dsn;
    Variant cs;
    EXPECT_FALSE(s.ado().Connect(user, pass, dsn, cs));
    EXPECT_TRUE(cs.IsEmpty() && !s.ado().Connection());

    struct Prompt final : platform::DataLinkPromptService {
        std::optional<std::string> PromptNew() override {
            return "Provider=SQLite;Password=secret;Data Source=/tmp/x.db;";
        }
    };
    platform::ScopedDataLinkPrompt prompt(std::make_shared<Prompt>());
    cs = Variant::Null();
    EXPECT_FALSE(s.ado().Connect(user, pass, dsn, cs));  // the dialog's connection is not opened
    ASSERT_TRUE(s.ado().Connection());
    EXPECT_EQ(std::tuple(CStr(cs), s.ado().Connection()->State()),
              std::tuple("Provider=SQLite;Data Source=/tmp/x.db;", ado::adStateClosed));

    // Missing platform pieces have their own codes.
    for (auto [missing, number, text] :
         {std::tuple{"DataLinks", MDACProblem,
                     std::string("Unable to use MDAC. Try reinstalling or upgrading MDAC from Microsoft.")},
          std::tuple{
              "ADODB.Connection", ADODBError,
              "Could not use ADO. Possible corruption or misconfiguration of MS MDAC. Please obtain the "
              "latest version at " +
                  std::string(diagnoses::DriverDownloadLocation())}}) {
        Session s;
        ScopedClassOverride gone(missing, nullptr);
        Error e = FailedConnect(s, "Provider=SQLite;Data Source=:memory:");
        EXPECT_EQ(std::tuple(e.Number(), e.Description()), std::tuple(number, text)) << missing;
    }
    test::ErrorCapture errors;
    auto ado = CreateObjectAs<clsADO>("korADO.clsADO");
    {
        ScopedClassOverride broken("ADODB.Connection", []() -> Ref<Dispatch> {
            throw Error(hr::ERROR_PROC_NOT_FOUND, "x", "proc");
        });
        EXPECT_EQ(test::RaisedText([&] { ado->Constructor(nullptr, false, 5, 2, 3, 1, 1); }),
                  std::tuple(NewADOConnectionError,
                             "Could not make a new ADO connection. Please check the MDAC installation. The "
                             "problem could also occur if there is no available memory anymore."));
        // None of the arguments was stored.
        EXPECT_EQ(std::tuple(ado->DefaultParameterMode(), ado->AllowTransactions()), std::tuple(0, true));
    }
    {
        ScopedClassOverride broken("ADODB.Connection",
                                   []() -> Ref<Dispatch> { throw Error(7, "x", "memory"); });
        ado->Constructor(nullptr, false, 5, 2, 3, 1, 1);
        ASSERT_EQ(errors.Reports().size(), 1u);
        EXPECT_EQ(std::tuple(errors.Reports()[0].routine, ado->DefaultParameterMode()),
                  std::tuple("Constructor", 0));
    }
    ado->Destructor();
    ReleaseGlobals();
}

TEST(ConnectionObjectScripted, TransactionsFollowTheProvidersCapabilities) {
    auto p = Pose("Txn", "Txn.1", "Txn");
    ScopedProvider scoped(p);
    {
        Session s;
        ASSERT_TRUE(s.Connect("Provider=Txn").ok);
        EXPECT_EQ(p->session_calls(), std::vector<std::string>{"begin"});
        EXPECT_TRUE(s.ado().Supports("Transactions"));
        EXPECT_TRUE(s.ado().Supports("transactions"));  // unknown names answer true
        s.ado().Commit();
        s.ado().Rollback();
        EXPECT_EQ(p->session_calls(),
                  (std::vector<std::string>{"begin", "commit", "begin", "rollback", "begin"}));
        // Switching off commits the open transaction; switching on again starts none.
        s.ado().SetAllowTransactions(false);
        s.ado().SetAllowTransactions(true);
        EXPECT_EQ(p->session_calls().back(), "commit");
        EXPECT_TRUE(s.ado().Supports("Transactions"));
        s.ado().SetAllowTransactions(true);  // true while true: begins one
        EXPECT_EQ(p->session_calls().back(), "begin");

        // Commit failures: a lost MySQL link, then any other.
        p->FailCommit(
            {{Hr(0x80040005), "", "[MySQL][ODBC 3.51 Driver]MySQL server has gone away", 2006, ""}});
        EXPECT_EQ(
            test::RaisedText([&] { s.ado().Commit(); }),
            std::tuple(NoDBConnection, "Lost the connection to the database. Please login to the database."));
        p->FailCommit({{kFail, "", "disk full", 28, ""}});
        EXPECT_EQ(test::RaisedText([&] { s.ado().CommitTransaction(); }),
                  std::tuple(CommitError, "-2147467259:disk full"));
        // Switching transactions off commits, and that commit's failure reaches the host just the same.
        EXPECT_RAISES(CommitError, s.ado().SetAllowTransactions(false));
        EXPECT_TRUE(s.ado().AllowTransactions());
        p->FailCommit({});
    }
    // A provider without transactions, or one whose "Transaction DDL" is 0: the refusal is remembered
    // quietly, and no transaction is attempted again.
    for (bool transactions : {false, true}) {
        p->ClearLog();
        p->SetTransactions(transactions);
        if (transactions) p->SetProperty("Transaction DDL", ado::adInteger, 0);
        Session s;
        ASSERT_TRUE(s.Connect("Provider=Txn").ok);
        EXPECT_FALSE(s.ado().AreTransactionsAvailable());
        EXPECT_FALSE(s.ado().Supports("Transactions"));
        s.ado().Commit();
        s.ado().BeginTransaction();
        s.ado().Rollback();
        EXPECT_TRUE(p->session_calls().empty());
        EXPECT_TRUE(s.errors().Reports().empty());
    }
    p->RemoveProperty("Transaction DDL");
    {
        Session s;
        ASSERT_TRUE(s.Connect("Provider=Txn").ok);
        s.errors().Clear();
        // Without the property the question is asked (and fails) every time.
        EXPECT_FALSE(s.ado().AreTransactionsAvailable());
        EXPECT_FALSE(s.ado().AreTransactionsAvailable());
        ASSERT_EQ(s.errors().Reports().size(), 2u);
        EXPECT_EQ(s.errors().Reports()[0].routine, "AreTransactionsAvailable");
    }
}

TEST(ConnectionObjectScripted, WriteAccessStatusAndIntrospection) {
    auto p = Pose("Intro", "Intro.Provider.12", "Intro", "Oracle");
    p->SetProperty("Read-Only Data Source", ado::adBoolean, true);
    p->SetProperty("Schema Term", ado::adBSTR, "OWNE");
    p->SetProperty("Current Catalog", ado::adBSTR, "sales");
    ScopedProvider scoped(p);
    Session s;
    ASSERT_TRUE(s.Connect("Provider=Intro").ok);
    EXPECT_EQ(std::tuple(s.ado().Supports("Write Access"), s.ado().SchemaTerm(), s.ado().Provider(),
                         s.ado().DBMSName(), s.ado().ConnectionProperty("No Such Property"),
                         s.ado().Version(), s.ado().CurrentCatalog()),
              std::tuple(false, "Owner", "Intro.Provider", "Oracle", "", "2.5", "sales"));
    EXPECT_TRUE(s.errors().Reports().empty());
    // A Null value: the members that shield only the lookup report the conversion; the others do not.
    p->SetProperty("Current Catalog", ado::adBSTR, Variant::Null());
    p->SetProperty("DBMS Name", ado::adBSTR, Variant::Null());
    p->SetProperty("Server Name", ado::adBSTR, Variant::Null());
    ASSERT_TRUE(s.Connect("Provider=Intro").ok);
    s.errors().Clear();
    // Braces: the members report in the order they are asked.
    EXPECT_EQ((std::tuple{s.ado().CurrentCatalog(), s.ado().DBMSName(), s.ado().ServerName(),
                          s.ado().ConnectionProperty("Current Catalog")}),
              std::tuple("", "", "", ""));
    ASSERT_EQ(s.errors().Reports().size(), 2u);
    EXPECT_EQ(std::tuple(s.errors().Reports()[0].routine, s.errors().Reports()[0].number,
                         s.errors().Reports()[1].routine),
              std::tuple("CurrentCatalog", rt::InvalidUseOfNull, "Get DBMSName"));
    s.errors().Clear();
    p->SetStandardProperties("Oracle", "1.0");
    p->SetProperty("Current Catalog", ado::adBSTR, "sales");
    // Properties are the session's: a new connect reads the provider's new answers.
    p->SetProperty("Schema Term", ado::adBSTR, "schema");
    p->RemoveProperty("Read-Only Data Source");
    ASSERT_TRUE(s.Connect("Provider=Intro").ok);
    EXPECT_EQ(
        (std::tuple{s.ado().SchemaTerm(), s.ado().Supports("Write Access"), s.errors().Reports().size()}),
        std::tuple("schema", true, 0u));

    // A dropped link is re-established silently.
    p->SetAlive(false);
    p->ClearLog();
    EXPECT_FALSE(s.ado().IsConnected() && p->opens().empty());
    EXPECT_EQ(p->opens().size(), 1u);
}

TEST(ConnectionObjectScripted, DisconnectInsideATransactionByDbms) {
    auto mysql = Pose("MyProv", "MyProv.1", "Microsoft OLE DB Provider for ODBC Drivers", "MySQL");
    ScopedProvider scoped(mysql);
    Session s;
    ASSERT_TRUE(s.Connect("Provider=MyProv").ok);
    // Closing inside a transaction is refused by the platform; for MySQL that is no failure.
    s.ado().Disconnect();
    EXPECT_TRUE(s.ado().Connection() && s.errors().Reports().empty());

    mysql->SetProperty("DBMS Name", ado::adBSTR, "MS Jet");
    ASSERT_TRUE(s.Connect("Provider=MyProv").ok);
    EXPECT_EQ(test::RaisedText([&] { s.ado().Disconnect(); }),
              std::tuple(DisconnectProblem,
                         "Connection object cannot be explicitly closed while in a transaction."));

    // Any other DBMS reports the refusal as an ordinary failure (the SQLite session tests read that report).
    mysql->SetProperty("DBMS Name", ado::adBSTR, "PostgreSQL");
    ASSERT_TRUE(s.Connect("Provider=MyProv").ok);
    s.ado().Disconnect();
    ASSERT_EQ(s.errors().Reports().size(), 1u);
    s.ado().CommitTransaction();
    s.ado().Disconnect();
    EXPECT_FALSE(s.ado().Connection());
    EXPECT_EQ(s.ado().Provider(), "");  // no connection: nothing to name, nothing to report
    s.ado().Disconnect();               // twice: nothing to close
    EXPECT_EQ(s.errors().Reports().size(), 1u);
    // Asking after Disconnect: the reconnect attempt is reported, the answer is false.
    EXPECT_FALSE(s.ado().IsConnected());
    EXPECT_EQ(s.errors().Reports().back().routine, "Reconnect");
}

TEST(ConnectionObjectScripted, StatementFailuresOfOtherProviders) {
    auto ora = Pose("OraOLEDB.Oracle", "OraOLEDB.Oracle.1", "OraOLEDB", "Oracle");
    const std::string plsql = "ORA-06502\nORA-06512: at line 1";
    const std::string ora3001 = "ORA-03001: unimplemented feature";
    // The statement the host sends and the one the provider sees, the provider's failure, and what the host
    // gets. Without parameters, any failure but the bracket's is ExecuteSQLError with the driver's text.
    const std::tuple<std::string, std::string, std::string, std::int32_t, std::int32_t, std::string> rows[] =
        {{"begin p(:n); end;", "begin p(? ); end;", plsql, 6502, ORA_06512,
          diagnoses::ExecuteFailure({"OraOLEDB", kFail, plsql, 0}, 1, "", "").text},
         {"insert into t values 1", "insert into t values 1", ora3001, 3001, ExecuteSQLError,
          "Bracket missing in values clause.\r\n\r\nDriver error: " + ora3001},
         {"select x", "select x", "ORA-00904: invalid identifier", 904, ExecuteSQLError,
          "ORA-00904: invalid identifier"}};
    for (const auto& [sql, seen, text, native, number, expected] : rows)
        ora->On(seen, ScriptedExecution::Fails({{kFail, "", text, native, ""}}));
    ScopedProvider scoped(ora);
    Session s;
    ASSERT_TRUE(s.Connect("Provider=OraOLEDB.Oracle").ok);
    s.ado().BindVariables()->Add("n")->SetValue(1);
    for (const auto& [sql, seen, text, native, number, expected] : rows) {
        auto execute = [&s, &sql = sql, named = sql != seen] {
            return named ? s.Execute(sql, {"n"}) : s.Execute(sql);
        };
        EXPECT_EQ(test::RaisedText(execute), std::tuple(number, expected)) << sql;
    }
    // With parameters it is reported through the error object, and the outputs stay untouched.
    Ref<Collection> names = MakeCollection({"n"});
    std::string sql = "select x";
    std::int32_t affected = 42;
    Ref<ado::Recordset> rs;
    s.ado().ExecuteSQL(sql, names, affected, rs);
    ASSERT_FALSE(s.boxes().Shown().empty());
    EXPECT_EQ(std::tuple(affected, s.boxes().Shown().back().text, s.boxes().Shown().back().title,
                         s.ado().LastServerErrText(), s.ado().LastServerErr()),
              std::tuple(42, "ORA-00904: invalid identifier", "Tabulon Universal Exception",
                         "ORA-00904: invalid identifier", kFail));
    s.ado().LastServerErrReset();
    EXPECT_EQ(s.ado().LastServerErr(), 0);
}

}  // namespace
}  // namespace korado
