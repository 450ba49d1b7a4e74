// The platform's Connection over the SQLite provider: opening and closing, connection strings, properties,
// errors and the Errors collection, transactions.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/raises.h"
#include "support/support.h"

namespace korado {
namespace {

using test::ExpectError;
using test::RaisedError;
using test::TempDir;

Ref<ado::Connection> NewConnection() { return CreateObjectAs<ado::Connection>("ADODB.Connection"); }

std::string SqliteString(const std::string& file, const std::string& extra = {}) {
    return "Provider=SQLite;Data Source=" + file + (extra.empty() ? "" : ";" + extra);
}

Variant Prop(const Ref<ado::Connection>& c, const char* name) {
    return c->Properties()->Item(Variant(name))->Value();
}

std::int64_t Count(const Ref<ado::Connection>& c, const std::string& sql) {
    return CLngLng(c->Execute(sql)->Fields()->At(0)->Value());
}

class SqliteConnection : public ::testing::Test {
  protected:
    TempDir dir;
    Ref<ado::Connection> c = NewConnection();
};

TEST_F(SqliteConnection, OpensClosesAndReportsItsPropertiesByThePlatformsNames) {
    // Before Open only the initialization properties, filled from the connection string.
    c->SetConnectionString(SqliteString(dir.File("a.db"), "User ID=scott;Password=tiger"));
    EXPECT_EQ(c->Properties()->Item(Variant("user id"))->Name(), "User ID");
    EXPECT_EQ(CStr(Prop(c, "User Id")), "scott");
    EXPECT_EQ(CStr(Prop(c, "Password")), "tiger");
    EXPECT_RAISES_FROM(ado::adErrItemNotFound, "ADODB.Properties", Prop(c, "DBMS Name"));

    c->Open();
    EXPECT_EQ(CStr(Prop(c, "Data Source")), dir.File("a.db"));
    EXPECT_RAISES_FROM(ado::adErrFeatureNotAvailable, "ADODB.Property",
                       c->Properties()->Item(Variant("Transaction DDL"))->SetValue(Variant(1)));

    // The secret is gone from everything the connection shows once it is open.
    EXPECT_EQ(CStr(Prop(c, "Password")), "");
    EXPECT_EQ(c->ConnectionString().find("tiger"), std::string::npos);
    EXPECT_EQ(CStr(Prop(c, "Extended Properties")).find("tiger"), std::string::npos);

    EXPECT_RAISES_FROM(ado::adErrObjectOpen, "ADODB.Connection", c->Open());
    EXPECT_RAISES_FROM(ado::adErrObjectOpen, "ADODB.Connection", c->SetConnectionString("Provider=SQLite"));
    c->Close();
    EXPECT_RAISES_FROM(ado::adErrObjectClosed, "ADODB.Connection", c->Close());
    // Reopening without arguments uses the string it holds, secret included.
    c->Open();
    EXPECT_EQ(c->State(), ado::adStateOpen);
    c->Close();
    c->Open(SqliteString(dir.File("a.db"), "Password=tiger;Persist Security Info=True"));
    EXPECT_EQ(CStr(Prop(c, "Password")), "tiger");
    EXPECT_NE(c->ConnectionString().find("tiger"), std::string::npos);
}

TEST_F(SqliteConnection, AFailedOpenLeavesAClosedReusableConnection) {
    const std::string missing = dir.File("missing.db");
    std::ofstream(dir.File("text.db")) << "this is not a database, just some text that is long enough........"
                                          "................................................................";
    // A missing file opened read-only is the engine's own failure, and nothing is created; a file that is not
    // a database fails at Open, not at the first query. The platform's own failures stay out of Errors; a
    // malformed string is one (each form and its text are the parser's own cases).
    const std::string malformed = "Provider=SQLite;Data Source='a.db";
    const std::tuple<std::string, std::int32_t, int, const char*> cases[] = {
        {"Provider=NoSuchProvider;Data Source=x", ado::adErrProviderNotFound, 0, ""},
        {malformed, ado::adErrInvalidArgument, 0, "unbalanced quote"},
        {SqliteString(missing, "Mode=Read"), hr::E_FAIL, SQLITE_CANTOPEN, "unable to open database file"},
        {SqliteString(missing, "Read Only=True"), hr::E_FAIL, SQLITE_CANTOPEN, "unable to open"},
        {SqliteString(missing, "FailIfMissing=True"), hr::E_FAIL, SQLITE_CANTOPEN, "unable to open"},
        {SqliteString(dir.File("text.db")), hr::E_FAIL, SQLITE_NOTADB, "not a database"},
        {"Provider=SQLite", hr::E_FAIL, SQLITE_CANTOPEN, "Data Source"},
    };
    for (const auto& [text, number, native, says] : cases) {
        SCOPED_TRACE(text);
        std::optional<Error> e = RaisedError([&, &text = text] { c->Open(text); });
        ExpectError(e, number, native ? "SQLite" : "ADODB.Connection");
        EXPECT_EQ(e->NativeError(), native);
        EXPECT_NE(e->Description().find(says), std::string::npos) << e->Description();
        if (native == SQLITE_CANTOPEN) EXPECT_EQ(e->SQLState(), "08001");
        EXPECT_EQ(c->State(), ado::adStateClosed);
        ASSERT_EQ(c->Errors()->Count(), native ? 1 : 0);
        if (native) EXPECT_EQ(c->Errors()->Item(Variant(0))->NativeError(), native);
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_RAISES_FROM(ado::adErrInvalidArgument, "ADODB.Connection", c->SetConnectionString(malformed));
    c->Open(SqliteString(dir.File("good.db")));
    EXPECT_EQ(Count(c, "SELECT 41 + 1"), 42);
}

TEST_F(SqliteConnection, ProviderFailuresCarryMappedNumbersAndFillErrors) {
    c->Open(SqliteString(dir.File("a.db")));
    c->Execute(
        "CREATE TABLE parent(id INTEGER PRIMARY KEY);"
        "CREATE TABLE t(id INTEGER PRIMARY KEY, code VARCHAR(10) NOT NULL UNIQUE,"
        " parent INTEGER REFERENCES parent(id));"
        "INSERT INTO parent VALUES (1); INSERT INTO t VALUES (1, 'a', 1)");

    // The engine's real messages and extended codes (each code's number is checked with the provider's
    // mapping), and the foreign keys the provider turns on.
    const std::tuple<const char*, std::int32_t, int, std::string, const char*> cases[] = {
        {"SELECT * FROM nosuch", hr::DB_E_NOTABLE, SQLITE_ERROR, "42S02", "no such table: nosuch"},
        {"SELEC 1", hr::DB_E_ERRORSINCOMMAND, SQLITE_ERROR, "42000", "syntax error"},
        {"CREATE TABLE t(x)", hr::DB_E_DUPLICATETABLEID, SQLITE_ERROR, "42S01", "already exists"},
        {"INSERT INTO t VALUES (2, 'a', 1)", hr::DB_E_INTEGRITYVIOLATION, SQLITE_CONSTRAINT_UNIQUE, "23000",
         "UNIQUE"},
        {"INSERT INTO t VALUES (2, 'b', 99)", hr::DB_E_INTEGRITYVIOLATION, SQLITE_CONSTRAINT_FOREIGNKEY,
         "23000", "FOREIGN KEY"},
    };
    for (const auto& [sql, number, native, state, text] : cases) {
        SCOPED_TRACE(sql);
        std::optional<Error> e = RaisedError([&, sql = sql] { c->Execute(sql); });
        ASSERT_TRUE(e);
        EXPECT_EQ(std::tuple(e->Number(), e->Source(), e->NativeError(), e->SQLState()),
                  std::tuple(number, std::string("SQLite"), native, state));
        EXPECT_NE(e->Description().find(text), std::string::npos) << e->Description();
        // A new failing call replaces the entries.
        ASSERT_EQ(c->Errors()->Count(), 1);
        Ref<ado::Error> first = c->Errors()->Item(Variant(0));
        EXPECT_EQ(std::tuple(first->Number(), first->Source(), first->Description(), first->NativeError(),
                             first->SQLState()),
                  std::tuple(number, std::string("SQLite"), e->Description(), native, state));
        EXPECT_EQ(c->State(), ado::adStateOpen);
    }
    EXPECT_RAISES_FROM(ado::adErrItemNotFound, "ADODB.Errors", c->Errors()->Item(Variant(1)));

    // The platform's own failures leave Errors as it was.
    Ref<ado::Recordset> rs = c->Execute("SELECT id FROM t");
    rs->MoveNext();
    EXPECT_EQ(RaisedError([&] { rs->MovePrevious(); })->Number(), ado::adErrFeatureNotAvailable);
    EXPECT_EQ(c->Errors()->Count(), 1);
    c->Errors()->Clear();
    EXPECT_EQ(c->Errors()->Count(), 0);

    // Writing through a read-only connection.
    rs = nullptr;
    Ref<ado::Connection> reader = NewConnection();
    reader->Open(SqliteString(dir.File("a.db"), "Mode=Read"));
    EXPECT_TRUE(CBool(Prop(reader, "Read-Only Data Source")));
    std::optional<Error> e = RaisedError([&] { reader->Execute("DELETE FROM t"); });
    ExpectError(e, hr::DB_SEC_E_PERMISSIONDENIED, "SQLite");
    EXPECT_EQ(e->NativeError() & 0xFF, SQLITE_READONLY);
}

TEST_F(SqliteConnection, TransactionsCommitRollBackAndNest) {
    const std::string file = dir.File("a.db");
    c->Open(SqliteString(file));
    c->Execute("CREATE TABLE t(x INTEGER)");
    Ref<ado::Connection> other = NewConnection();
    other->Open(SqliteString(file, "Busy Timeout=0"));

    EXPECT_EQ(c->BeginTrans(), 1);
    c->Execute("INSERT INTO t VALUES (1)");
    EXPECT_EQ(Count(other, "SELECT count(*) FROM t"), 0);  // not visible before the commit
    c->CommitTrans();
    EXPECT_EQ(Count(other, "SELECT count(*) FROM t"), 1);

    // A nested level rolls back on its own; the outer one still commits.
    EXPECT_EQ(c->BeginTrans(), 1);
    c->Execute("INSERT INTO t VALUES (2)");
    EXPECT_EQ(c->BeginTrans(), 2);
    c->Execute("INSERT INTO t VALUES (3)");
    c->RollbackTrans();
    c->CommitTrans();
    EXPECT_EQ(Count(other, "SELECT sum(x) FROM t"), 3);

    // A failing statement inside a transaction leaves the connection open and the transaction intact.
    c->BeginTrans();
    c->Execute("INSERT INTO t VALUES (10)");
    EXPECT_TRUE(RaisedError([&] { c->Execute("INSERT INTO nosuch VALUES (1)"); }));
    c->Execute("INSERT INTO t VALUES (11)");
    c->CommitTrans();
    EXPECT_EQ(Count(other, "SELECT count(*) FROM t WHERE x IN (10, 11)"), 2);

    // Committing with nothing begun is the engine's failure, reported like any other.
    std::optional<Error> e = RaisedError([&] { c->CommitTrans(); });
    ExpectError(e, hr::E_FAIL, "SQLite");
    c->Close();
    EXPECT_RAISES_FROM(ado::adErrObjectClosed, "ADODB.Connection", c->BeginTrans());
}

TEST_F(SqliteConnection, ClosingTheConnectionClosesItsRecordsets) {
    c->Open(SqliteString(dir.File("a.db")));
    Ref<ado::Recordset> forward = c->Execute("SELECT 1 AS a UNION ALL SELECT 2");
    Ref<ado::Recordset> pending = c->Execute("CREATE TABLE t(x); SELECT 3");
    Ref<ado::Field> field = forward->Fields()->Item(Variant("a"));
    EXPECT_EQ(CLng(field->Value()), 1);
    c->Close();
    EXPECT_EQ(forward->State(), ado::adStateClosed);
    EXPECT_EQ(RaisedError([&] { field->Value(); })->Number(), ado::adErrObjectClosed);
    EXPECT_EQ(RaisedError([&] { pending->NextRecordset(); })->Number(), ado::adErrObjectClosed);
    EXPECT_EQ(RaisedError([&] { forward->MoveNext(); })->Number(), ado::adErrObjectClosed);
}

TEST_F(SqliteConnection, LateBoundCallsReachTheObjects) {
    Variant c = Variant(CreateObject("ADODB.Connection"));
    CallMethod(c, "Open", SqliteString(dir.File("a.db")));
    // Execute's records-affected argument is by reference.
    CallMethod(c, "Execute", "CREATE TABLE t(x INTEGER, y VARCHAR(5))");
    Variant args[] = {Variant("INSERT INTO t VALUES (1, 'a'), (2, 'b')"), Variant(), Variant(-1)};
    Invoke(c, "Execute", CallType::Method, args);
    EXPECT_EQ(CLng(args[1]), 2);

    Variant cmd = Variant(CreateObject("ADODB.Command"));
    SetProperty(cmd, "ActiveConnection", c);
    LetProperty(cmd, "CommandText", "SELECT y FROM t WHERE x = ?");
    Variant p = CallMethod(cmd, "CreateParameter", "x", ado::adInteger, ado::adParamInput, 0, 2);
    CallMethod(GetProperty(cmd, "Parameters"), "Append", p);
    Variant rs = CallMethod(cmd, "Execute");
    Variant fields = GetProperty(rs, "Fields");
    EXPECT_EQ(CStr(GetProperty(GetProperty(fields, "", 0), "")), "b");  // default members: Item, Value
}

}  // namespace
}  // namespace korado
