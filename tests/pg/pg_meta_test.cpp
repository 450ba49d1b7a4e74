// The native PostgreSQL provider's catalog side on the server of scripts/services: the schema rowsets (the
// same answers the bridge gives, where a program could tell), tables the catalog creates, the keys the
// update engine asks for, and the reconnect after the server dropped the session.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

#include "dataaccess/provider.h"
#include "korado/dictionary/clsDictionary.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/runtime/convert.h"
#include "support/session.h"
#include "support/support.h"

namespace korado {
namespace {

using dataaccess::ColumnDefinition;
using dataaccess::Cursor;
using dataaccess::ProviderError;

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string NativeString() {
    return "Provider=PostgreSQL;Data Source=127.0.0.1:" + Env("KORADO_PG_PORT") +
           "/korado;User ID=" + Env("KORADO_PG_USER") + ";Password=" + Env("KORADO_PG_PASSWORD");
}

std::unique_ptr<dataaccess::Session> Open(const std::string& text) {
    dataaccess::OpenRequest request;
    request.connection_string = dataaccess::ConnectionString::Parse(text);
    request.connection_string.Remove("Provider");
    return dataaccess::FindProvider(request.connection_string.Find("DSN") ? "MSDASQL" : "PostgreSQL")
        ->Open(request);
}

void Exec(dataaccess::Session& s, const std::string& sql) {
    dataaccess::ExecuteOptions options;
    s.Prepare(sql, options)->Execute({});
}

std::vector<std::map<std::string, std::string>> Rows(Cursor& c) {
    std::vector<std::map<std::string, std::string>> out;
    while (c.Next()) {
        auto& row = out.emplace_back();
        for (std::size_t i = 0; i < c.Columns().size(); ++i) {
            Variant v;
            c.Read(i, v);
            row[c.Columns()[i].name] = v.IsNull() ? "-" : CStr(v);
        }
    }
    return out;
}

class PgMeta : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Env("KORADO_PG_PORT").empty()) GTEST_SKIP() << "no server: eval \"$(scripts/services env)\"";
        try {
            native = Open(NativeString());
        } catch (const Error& e) {
            GTEST_SKIP() << "the native provider is not usable: " << e.Description();
        }
        Exec(*native, "drop table if exists " + table);
    }
    void TearDown() override {
        if (native) Exec(*native, "drop table if exists " + table);
    }
    std::unique_ptr<Cursor> Schema(std::int32_t kind, std::vector<Variant> r) {
        r.resize(4);
        return native->Schema(kind, r);
    }
    static std::unique_ptr<dataaccess::Session> Bridge() {
        return Open("DSN=korado_pg;UID=" + Env("KORADO_PG_USER") + ";PWD=" + Env("KORADO_PG_PASSWORD"));
    }
    std::unique_ptr<dataaccess::Session> native;
    std::string table = "ko_meta_" + std::to_string(::getpid());
};

// Every common column type as the COLUMNS rowset gives it; the numbering skips a dropped column, and the
// bridge over psqlODBC agrees on everything but the Booleans (which psqlODBC hands out as text by default).
TEST_F(PgMeta, ColumnsRowsetDescribesEveryTypeAsTheBridgeDoes) {
    Exec(*native, "create table " + table +
                      " (id serial primary key, i2 smallint not null default 7, n numeric(12,3), b boolean,"
                      " ts timestamp(3), c char(5), v varchar(40), tx text, u uuid, dropped int, last int)");
    Exec(*native, "alter table " + table + " drop column dropped");
    Exec(*native, "comment on column " + table + ".v is 'a note'");
    struct Want {
        const char* name;
        int ordinal, type;
        const char *length, *precision, *scale, *nullable, *def;
    };
    const Want want[] = {
        {"id", 1, ado::adInteger, "-", "10", "-", "False", "nextval"},
        {"i2", 2, ado::adSmallInt, "-", "5", "-", "False", "7"},
        {"n", 3, ado::adNumeric, "-", "12", "3", "True", "-"},
        {"b", 4, ado::adBoolean, "-", "-", "-", "True", "-"},
        {"ts", 5, ado::adDBTimeStamp, "-", "-", "-", "True", "-"},
        {"c", 6, ado::adWChar, "5", "-", "-", "True", "-"},
        {"v", 7, ado::adVarWChar, "40", "-", "-", "True", "-"},
        {"tx", 8, ado::adLongVarWChar, "1073741823", "-", "-", "True", "-"},
        {"u", 9, ado::adGUID, "-", "-", "-", "True", "-"},
        {"last", 10, ado::adInteger, "-", "10", "-", "True", "-"},
    };
    const auto rows = Rows(*Schema(ado::adSchemaColumns, {Variant(), Variant(), Variant(table)}));
    ASSERT_EQ(rows.size(), std::size(want));
    std::vector<Variant> r{Variant(), Variant(), Variant(table), Variant()};
    const auto bridged = Rows(*Bridge()->Schema(ado::adSchemaColumns, r));
    ASSERT_EQ(bridged.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Want& w = want[i];
        auto row = rows[i];
        SCOPED_TRACE(w.name);
        EXPECT_EQ(row["COLUMN_NAME"], w.name);
        EXPECT_EQ(row["ORDINAL_POSITION"], std::to_string(w.ordinal));
        EXPECT_EQ(row["DATA_TYPE"], std::to_string(w.type));
        EXPECT_EQ(row["CHARACTER_MAXIMUM_LENGTH"], w.length);
        EXPECT_EQ(row["NUMERIC_PRECISION"], w.precision);
        EXPECT_EQ(row["NUMERIC_SCALE"], w.scale);
        EXPECT_EQ(row["IS_NULLABLE"], w.nullable);
        EXPECT_EQ(row["COLUMN_DEFAULT"].substr(0, std::string(w.def).size()), w.def);
        EXPECT_EQ(row["DESCRIPTION"], w.name == std::string("v") ? "a note" : "-");
        auto b = bridged[i];
        for (const char* same : {"TABLE_SCHEMA", "TABLE_NAME", "COLUMN_NAME", "ORDINAL_POSITION",
                                 "COLUMN_HASDEFAULT", "COLUMN_DEFAULT", "IS_NULLABLE", "NUMERIC_SCALE"})
            EXPECT_EQ(row[same], b[same]) << same;
        if (w.type != ado::adBoolean) EXPECT_EQ(row["DATA_TYPE"], b["DATA_TYPE"]);
    }
    // A restriction is an exact name, not a pattern.
    EXPECT_EQ(
        Rows(*Schema(ado::adSchemaColumns, {Variant(), Variant("public"), Variant(table), Variant("v")}))
            .size(),
        1u);
    EXPECT_TRUE(
        Rows(*Schema(ado::adSchemaColumns, {Variant(), Variant(), Variant(table), Variant("_")})).empty());
}

// Tables and views by exact name and type; the server's own objects only when asked for by their type.
TEST_F(PgMeta, TablesAndSchemataTakeRestrictionsAsExactNames) {
    Exec(*native, "create table " + table + " (a int)");
    Exec(*native, "create or replace view " + table + "_v as select a from " + table);
    struct Case {
        std::vector<Variant> restrictions;
        std::vector<std::string> want;  // "TYPE name"
    };
    const std::string pattern = table.substr(0, table.size() - 1) + "_";
    const Case cases[] = {
        {{Variant(), Variant(), Variant(table)}, {"TABLE " + table}},
        {{Variant(), Variant(), Variant(pattern)}, {}},
        {{Variant("korado"), Variant("public"), Variant(table + "_v")}, {"VIEW " + table + "_v"}},
        {{Variant(), Variant(), Variant(table + "_v"), Variant("TABLE")}, {}},
        {{Variant(), Variant(), Variant("pg_class")}, {}},
        {{Variant(), Variant(), Variant("pg_class"), Variant("SYSTEM TABLE")}, {"SYSTEM TABLE pg_class"}},
        {{Variant(), Variant(), Variant("tables"), Variant("SYSTEM VIEW")}, {"SYSTEM VIEW tables"}},
        {{Variant("other_db"), Variant(), Variant(table)}, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got;
        for (auto& row : Rows(*Schema(ado::adSchemaTables, c.restrictions)))
            got.push_back(row["TABLE_TYPE"] + " " + row["TABLE_NAME"]);
        EXPECT_EQ(got, c.want) << (c.want.empty() ? pattern : c.want.front());
    }
    auto schemata = Rows(*Schema(ado::adSchemaSchemata, {Variant(), Variant("public")}));
    ASSERT_EQ(schemata.size(), 1u);
    EXPECT_EQ(schemata[0]["CATALOG_NAME"], "korado");
    // The same schemas as through the bridge, but for the temporary ones that sessions using temporary
    // tables leave behind, which psqlODBC lists and the provider does not.
    const auto names = [](std::unique_ptr<Cursor> c) {
        std::vector<std::string> out;
        for (auto& row : Rows(*c)) {
            const std::string& schema = row["SCHEMA_NAME"];
            if (schema.starts_with("pg_temp_") || schema.starts_with("pg_toast_temp_")) continue;
            out.push_back(row["CATALOG_NAME"] + "." + schema);
        }
        return out;
    };
    EXPECT_EQ(names(Schema(ado::adSchemaSchemata, {})), names(Bridge()->Schema(ado::adSchemaSchemata, {})));
    // The server's own tables and views, as the bridge lists them (which calls them all "SYSTEM TABLE").
    const auto system = [](std::unique_ptr<Cursor> c, std::vector<std::string>& out) {
        for (auto& row : Rows(*c)) out.push_back(row["TABLE_SCHEMA"] + "." + row["TABLE_NAME"]);
    };
    std::vector<std::string> own, bridged;
    system(Schema(ado::adSchemaTables, {Variant(), Variant(), Variant(), Variant("SYSTEM TABLE")}), own);
    system(Schema(ado::adSchemaTables, {Variant(), Variant(), Variant(), Variant("SYSTEM VIEW")}), own);
    std::vector<Variant> r{Variant(), Variant(), Variant(), Variant("SYSTEM TABLE")};
    system(Bridge()->Schema(ado::adSchemaTables, r), bridged);
    std::sort(own.begin(), own.end());
    std::sort(bridged.begin(), bridged.end());
    EXPECT_GT(own.size(), 100u);
    EXPECT_EQ(own, bridged);
    Exec(*native, "drop view " + table + "_v");
}

// A table the catalog fails to create leaves none behind and the session's transaction usable.
TEST_F(PgMeta, CatalogFailuresLeaveTheTransactionUsable) {
    auto column = [](const char* name, std::int32_t type, std::int32_t size = 0, bool autoinc = false) {
        ColumnDefinition d;
        d.info.name = name;
        d.info.type = type;
        d.info.defined_size = size;
        d.info.auto_increment = autoinc;
        return d;
    };
    native->BeginTransaction();
    native->CreateTable(table, std::vector{column("id", ado::adInteger, 0, true)});
    Exec(*native, "insert into " + table + " default values");
    Exec(*native, "insert into " + table + " default values");
    struct Failure {
        std::vector<ColumnDefinition> columns;
        std::int32_t number;
    };
    const Failure failures[] = {
        {{column("a", ado::adInteger)}, hr::DB_E_DUPLICATETABLEID},
        {{column("a", ado::adVariant)}, hr::DB_E_BADTYPE},
        {{column("a", ado::adVarWChar, 5, true)}, hr::DB_E_BADTYPE},
    };
    for (const Failure& f : failures) {
        try {
            native->CreateTable(f.number == hr::DB_E_DUPLICATETABLEID ? table : table + "_x", f.columns);
            ADD_FAILURE() << "created";
        } catch (const ProviderError& e) {
            EXPECT_EQ(e.Number(), f.number);
        }
    }
    // The transaction survived the failures: the rows inserted before are still there.
    std::unique_ptr<dataaccess::Statement> count = native->Prepare("select max(id) as n from " + table, {});
    count->Execute({});
    EXPECT_EQ(Rows(*count->Result()).at(0).at("n"), "2");
    native->Commit();
    EXPECT_TRUE(Rows(*Schema(ado::adSchemaTables, {Variant(), Variant(), Variant(table + "_x")})).empty());
}

// What a program does through the library: copy an SQLite query's shape into PostgreSQL, update through a
// dynaset only by a whole key, and get the session back after the server dropped it.
class PgMetaLibrary : public PgMeta {
  protected:
    void SetUp() override {
        PgMeta::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(s.Connect(NativeString()).ok);
    }
    void TearDown() override {
        if (s.ado().IsConnected()) s.ado().Rollback();
        PgMeta::TearDown();
    }
    test::Session s;
};

TEST_F(PgMetaLibrary, AnSqliteQueryBecomesAPostgresTable) {
    struct Column {
        const char *sqlite, *name;
        std::int32_t type;  // as the new table's COLUMNS rowset reports it
        const char* length;
    };
    const Column kColumns[] = {
        {"SMALLINT", "small", ado::adSmallInt, "-"},
        {"INTEGER", "select", ado::adInteger, "-"},
        {"BIGINT", "big one", ado::adBigInt, "-"},
        {"DOUBLE", "dbl", ado::adDouble, "-"},
        {"MONEY", "cash", ado::adNumeric, "-"},
        {"DECIMAL(10,2)", "dec", ado::adNumeric, "-"},
        {"BOOLEAN", "flag", ado::adBoolean, "-"},
        {"DATETIME", "at", ado::adDBTimeStamp, "-"},
        {"DATE", "day", ado::adDBDate, "-"},
        {"TIME", "time", ado::adDBTime, "-"},
        {"GUID", "u", ado::adGUID, "-"},
        {"NCHAR(5)", "fixed", ado::adWChar, "5"},
        {"NVARCHAR(40)", "it's \"quoted\"", ado::adVarWChar, "40"},
        {"TEXT", "memo", ado::adLongVarWChar, "1073741823"},
        {"BLOB", "data", ado::adLongVarBinary, "1073741823"},
    };
    std::string columns;
    for (const Column& c : kColumns)
        columns +=
            std::string(columns.empty() ? "" : ", ") + dataaccess::Quoted(c.name, '"') + " " + c.sqlite;
    test::TempDir dir;
    test::Session sqlite;
    ASSERT_TRUE(sqlite.Connect(test::SqliteConnectionString(dir.File("source.db"))).ok);
    sqlite.Execute("create table source (" + columns + ")");
    Ref<clsDynasetADO> source = sqlite.Dynaset("select * from source");
    ASSERT_TRUE(source);
    const std::string name = table + " new \"x\"";
    s.ado().Dictionary()->CreateTableFromDynaset(name, source);
    EXPECT_TRUE(s.errors().Reports().empty());
    s.ado().Commit();
    const auto rows = Rows(*Schema(ado::adSchemaColumns, {Variant(), Variant(), Variant(name)}));
    ASSERT_EQ(rows.size(), std::size(kColumns));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(kColumns[i].name);
        EXPECT_EQ(rows[i].at("COLUMN_NAME"), kColumns[i].name);
        EXPECT_EQ(rows[i].at("DATA_TYPE"), std::to_string(kColumns[i].type));
        EXPECT_EQ(rows[i].at("CHARACTER_MAXIMUM_LENGTH"), kColumns[i].length);
    }
    Exec(*native, "drop table " + dataaccess::Quoted(name, '"'));
}

// Half of a two-column key could stand for several rows: such a result is not updatable.
TEST_F(PgMetaLibrary, PartOfACompositeKeyDoesNotMakeADynasetUpdatable) {
    Exec(*native, "create table " + table + " (a int, b int, v int, primary key (a, b))");
    Exec(*native, "insert into " + table + " values (1, 1, 0), (1, 2, 0)");
    for (const char* columns : {"a, v", "a, b, v"}) {
        Ref<clsDynasetADO> d = s.Dynaset(std::string("select ") + columns + " from " + table);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->Updatable(), std::string(columns) == "a, b, v") << columns;
    }
}

// The server ends the session (as a restart would): IsConnected opens a new one and says so.
TEST_F(PgMetaLibrary, IsConnectedReconnectsAfterTheServerDroppedTheSession) {
    const std::string pid = CStr(s.Scalar("select pg_backend_pid()"));
    Exec(*native, "select pg_terminate_backend(" + pid + ")");
    // A session that answered in the last 100 ms counts as alive without a probe.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_TRUE(s.ado().IsConnected());
    EXPECT_NE(CStr(s.Scalar("select pg_backend_pid()")), pid);
}

}  // namespace
}  // namespace korado
