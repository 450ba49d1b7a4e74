// Schema rowsets on SQLite: attached databases as schemas, exact-name restrictions, and names with
// blanks, quotes and non-ASCII letters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/support.h"

namespace korado {
namespace {

const char* const kOrders = "Bestell \"Posten\" ä";
const char* const kView = "Sicht ö";

// One "a|b|c" line per row over the named fields; Null reads "~".
std::vector<std::string> Lines(const Ref<ado::Recordset>& rs, const std::vector<const char*>& fields) {
    std::vector<std::string> out;
    for (; !rs->Eof(); rs->MoveNext()) {
        std::string line;
        for (const char* name : fields) {
            const Variant v = rs->Fields()->Item(Variant(name))->Value();
            line += (line.empty() ? "" : "|") + (v.IsNull() ? std::string("~") : CStr(v));
        }
        out.push_back(line);
    }
    return out;
}

class SqliteSchemaRowsets : public ::testing::Test {
  protected:
    void SetUp() override {
        connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
        connection->Open("Provider=SQLite;Data Source=" + dir.File("main.db"));
        connection->Execute("ATTACH '" + dir.File("other.db") + "' AS \"other db\"");
        connection->Execute(
            "CREATE TABLE \"Bestell \"\"Posten\"\" ä\"(id INTEGER PRIMARY KEY, \"Größe x\" VARCHAR(30) NOT "
            "NULL DEFAULT 'klein', betrag NUMERIC(10,2), note TEXT);"
            "CREATE VIEW \"Sicht ö\" AS SELECT id, betrag FROM \"Bestell \"\"Posten\"\" ä\";"
            "CREATE TABLE \"other db\".items(code VARCHAR(5) NOT NULL)");
    }

    struct Case {
        std::int32_t schema;
        Variant restrictions;
        std::vector<std::string> rows;
    };
    void Check(const Case& c, const std::vector<const char*>& fields) {
        Ref<ado::Recordset> rs = connection->OpenSchema(c.schema, c.restrictions);
        // A restriction that matches nothing still gives an open rowset.
        EXPECT_EQ(rs->State(), ado::adStateOpen);
        EXPECT_EQ(rs->Bof() && rs->Eof(), c.rows.empty());
        EXPECT_EQ(Lines(rs, fields), c.rows);
    }

    test::TempDir dir;
    Ref<ado::Connection> connection;
};

TEST_F(SqliteSchemaRowsets, TablesByDatabaseNameAndType) {
    const Variant e;
    const std::string orders = std::string("TABLE|main|main|") + kOrders;
    const std::string view = std::string("VIEW|main|main|") + kView;
    const Case cases[] = {
        {20,
         Variant::Missing(),
         {"SYSTEM TABLE|main|main|sqlite_schema", "SYSTEM TABLE|other db|other db|sqlite_schema", orders,
          "TABLE|other db|other db|items", view}},
        {20,
         MakeArray(e, "other db", e, e),
         {"SYSTEM TABLE|other db|other db|sqlite_schema", "TABLE|other db|other db|items"}},
        {20, MakeArray("main", "main", kOrders, "TABLE"), {orders}},
        {20, MakeArray(e, e, e, "VIEW"), {view}},
        {20, MakeArray(e, e, kView, "TABLE"), {}},
        {20, MakeArray("other db", "main", e, e), {}},
        {20, MakeArray(e, "nobody", e, e), {}},
        {20, MakeArray(e, e, "Bestell%", e), {}},  // a name, not a pattern
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows.size());
        Check(c, {"TABLE_TYPE", "TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME"});
    }
}

TEST_F(SqliteSchemaRowsets, ColumnsWithDeclaredTypesDefaultsAndKeys) {
    const Variant e;
    const std::string o = std::string("main|") + kOrders + "|";
    const std::string v = std::string("main|") + kView + "|";
    const Case cases[] = {
        {4,
         MakeArray(e, e, kOrders, e),
         {o + "id|1|3|False|False|~|~|10|~|" + std::to_string(0x8014),
          o + "Größe x|2|202|False|True|'klein'|30|~|~|" + std::to_string(0x4),
          o + "betrag|3|131|True|False|~|~|10|2|" + std::to_string(0x74),
          o + "note|4|203|True|False|~|2147483647|~|~|" + std::to_string(0xE4)}},
        {4,
         MakeArray(e, e, kView, "betrag"),
         {v + "betrag|2|131|True|False|~|~|10|2|" + std::to_string(0x74)}},
        {4, MakeArray(e, "other db", e, e), {"other db|items|code|1|202|False|False|~|5|~|~|4"}},
        {4, MakeArray(e, "main", "items", e), {}},
        {4, MakeArray(e, e, e, "nosuch"), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows.size());
        Check(c, {"TABLE_SCHEMA", "TABLE_NAME", "COLUMN_NAME", "ORDINAL_POSITION", "DATA_TYPE", "IS_NULLABLE",
                  "COLUMN_HASDEFAULT", "COLUMN_DEFAULT", "CHARACTER_MAXIMUM_LENGTH", "NUMERIC_PRECISION",
                  "NUMERIC_SCALE", "COLUMN_FLAGS"});
    }
}

// A table's name matches without regard to letter case, and the rows give it as it was created: whether
// SQLite's own lookup finds it (an ASCII table name) or the schema table is read (a view, a name with other
// letters, a name that is no table's).
TEST_F(SqliteSchemaRowsets, ColumnsOfANameInAnotherLetterCase) {
    connection->Execute("CREATE VIEW Totals AS SELECT 1 AS n");
    const Variant e;
    const std::string code = "other db|items|code";
    const std::string id = std::string("main|") + kOrders + "|id";
    const Case cases[] = {
        {4, MakeArray(e, e, "ITEMS", e), {code}},
        {4, MakeArray(e, "other db", "iTeMs", "CODE"), {code}},
        {4, MakeArray(e, "main", "ITEMS", e), {}},
        {4, MakeArray(e, e, "totals", e), {"main|Totals|n"}},
        {4, MakeArray(e, e, "BESTELL \"POSTEN\" Ä", "ID"), {id}},
        {4, MakeArray(e, e, "sqlite_schema", "name"), {}},
        {4, MakeArray(e, e, "item", e), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows.size());
        Check(c, {"TABLE_SCHEMA", "TABLE_NAME", "COLUMN_NAME"});
    }
}

TEST_F(SqliteSchemaRowsets, SchemataAreTheAttachedDatabases) {
    const Variant e;
    const Case cases[] = {
        {17, Variant::Missing(), {"main|main", "other db|other db"}},
        {17, MakeArray(e, "other db", e), {"other db|other db"}},
        {17, MakeArray(e, e, "owner"), {}},
        {17, MakeArray("nowhere", e, e), {}},
    };
    for (const Case& c : cases) Check(c, {"CATALOG_NAME", "SCHEMA_NAME"});
    // "temp" is listed once it holds a table.
    connection->Execute("CREATE TEMP TABLE scratch(x)");
    Check({17, Variant::Missing(), {"main|main", "other db|other db", "temp|temp"}},
          {"CATALOG_NAME", "SCHEMA_NAME"});
}

}  // namespace
}  // namespace korado
