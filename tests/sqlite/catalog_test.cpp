// The catalog over SQLite: a new database file, tables described as objects and created in one statement,
// and what the catalog refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "korado/platform/adodb.h"
#include "korado/platform/adox.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/raises.h"
#include "support/support.h"

namespace korado {
namespace {

using test::TempDir;

std::string SqliteString(const std::string& file) { return "Provider=SQLite;Data Source=" + file; }

Ref<adox::Column> NewColumn(const std::string& name, std::int32_t type, std::int32_t size = 0) {
    auto column = CreateObjectAs<adox::Column>("ADOX.Column");
    column->SetName(name);
    column->SetType(type);
    column->SetDefinedSize(size);
    return column;
}

Ref<adox::Table> NewTable(const Ref<adox::Catalog>& catalog, const std::string& name) {
    auto table = CreateObjectAs<adox::Table>("ADOX.Table");
    table->SetName(name);
    table->SetParentCatalog(catalog);
    return table;
}

void AddColumn(const Ref<adox::Table>& table, const Ref<adox::Column>& column) {
    table->Columns()->Append(Variant(Ref<Dispatch>(column.get())));
}

void AppendTable(const Ref<adox::Catalog>& catalog, const Ref<adox::Table>& table) {
    catalog->Tables()->Append(Variant(Ref<Dispatch>(table.get())));
}

std::int64_t TablesNamed(const Ref<ado::Connection>& c, const std::string& name) {
    return CLngLng(
        c->Execute("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = '" + name + "'")
            ->Fields()
            ->At(0)
            ->Value());
}

class Catalog : public ::testing::Test {
  protected:
    void SetUp() override {
        catalog = CreateObjectAs<adox::Catalog>("ADOX.Catalog");
        connection = catalog->Create(SqliteString(file));
    }
    TempDir dir;
    std::string file = dir.File("new.db");
    Ref<adox::Catalog> catalog;
    Ref<ado::Connection> connection;
};

// Every common type goes into SQLite under a name that the provider reads back as the same kind of field.
TEST_F(Catalog, AppendsEveryCommonTypeAndTheFieldsReadBackAsDescribed) {
    struct Row {
        std::int32_t type;
        std::int32_t size;
        std::uint8_t precision, scale;
        std::int32_t field_type;  // of the created column, read through a select
        std::int32_t field_size;  // 0: not compared
    };
    const Row rows[] = {
        {ado::adSmallInt, 0, 0, 0, ado::adSmallInt, 0},
        {ado::adInteger, 0, 0, 0, ado::adInteger, 0},
        {ado::adBigInt, 0, 0, 0, ado::adBigInt, 0},
        {ado::adUnsignedTinyInt, 0, 0, 0, ado::adSmallInt, 0},
        {ado::adCurrency, 0, 0, 0, ado::adCurrency, 0},
        {ado::adDecimal, 0, 12, 3, ado::adNumeric, 0},
        {ado::adNumeric, 0, 18, 0, ado::adNumeric, 0},
        {ado::adDouble, 0, 0, 0, ado::adDouble, 0},
        {ado::adSingle, 0, 0, 0, ado::adDouble, 0},
        {ado::adBoolean, 0, 0, 0, ado::adBoolean, 0},
        {ado::adDate, 0, 0, 0, ado::adDBTimeStamp, 0},
        {ado::adDBDate, 0, 0, 0, ado::adDBDate, 0},
        {ado::adVarWChar, 40, 0, 0, ado::adVarWChar, 40},
        {ado::adVarChar, 300, 0, 0, ado::adVarWChar, 300},
        {ado::adWChar, 10, 0, 0, ado::adWChar, 10},
        {ado::adLongVarWChar, 0, 0, 0, ado::adLongVarWChar, 0},
        {ado::adVarBinary, 16, 0, 0, ado::adVarBinary, 16},
        {ado::adLongVarBinary, 0, 0, 0, ado::adLongVarBinary, 0},
        // All bits set: unlimited, as the platform's fields report it.
        {ado::adLongVarBinary, -1, 0, 0, ado::adLongVarBinary, 0},
        {ado::adLongVarChar, -1, 0, 0, ado::adLongVarWChar, 0},
        {ado::adGUID, 0, 0, 0, ado::adGUID, 0},
    };
    auto table = NewTable(catalog, "every type");
    int n = 0;
    for (const Row& r : rows) {
        auto column = NewColumn("c" + std::to_string(n++), r.type, r.size);
        column->SetPrecision(r.precision);
        column->SetNumericScale(r.scale);
        column->SetAttributes(ado::adColNullable);
        AddColumn(table, column);
    }
    AppendTable(catalog, table);
    EXPECT_EQ(table->Type(), "TABLE");

    auto fields = connection->Execute("SELECT * FROM \"every type\"")->Fields();
    ASSERT_EQ(fields->Count(), n);
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE("type " + std::to_string(rows[i].type));
        auto field = fields->At(i);
        EXPECT_EQ(field->Type(), rows[i].field_type);
        if (rows[i].field_size) EXPECT_EQ(field->DefinedSize(), rows[i].field_size);
        if (rows[i].precision) {
            EXPECT_EQ(field->Precision(), rows[i].precision);
            EXPECT_EQ(field->NumericScale(), rows[i].scale);
        }
    }
}

// The column properties land in the statement: NOT NULL unless nullable, defaults, an SQLite row number
// key; a fixed-length text becomes CHAR.
TEST_F(Catalog, ColumnPropertiesShapeTheCreatedColumns) {
    auto table = NewTable(catalog, "props");
    auto id = NewColumn("id", ado::adInteger);
    auto name = NewColumn("name", ado::adVarWChar, 20);
    auto code = NewColumn("code", ado::adVarWChar, 3);
    auto note = NewColumn("note", ado::adVarWChar, 50);
    for (auto& c : {id, name, code, note}) AddColumn(table, c);
    // Properties exist once the column belongs to a catalog (through its table).
    id->Properties()->Item(Variant("Autoincrement"))->SetValue(Variant(true));
    name->Properties()->Item(Variant("Default"))->SetValue(Variant("it's"));
    code->Properties()->Item(Variant("Fixed Length"))->SetValue(Variant(true));
    note->Properties()->Item(Variant("Nullable"))->SetValue(Variant(true));
    EXPECT_EQ(note->Attributes(), ado::adColNullable);
    AppendTable(catalog, table);

    auto info =
        connection->Execute("SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info('props')");
    const std::vector<std::string> expected = {"id|INTEGER|0||1", "name|NVARCHAR(20)|1|'it''s'|0",
                                               "code|NCHAR(3)|1||0", "note|NVARCHAR(50)|0||0"};
    std::vector<std::string> got;
    for (; !info->Eof(); info->MoveNext()) {
        std::string line;
        for (int i = 0; i < 5; ++i) {
            Variant v = info->Fields()->At(i)->Value();
            line += (i ? "|" : "") + (v.IsNull() ? std::string() : CStr(v));
        }
        got.push_back(line);
    }
    EXPECT_EQ(got, expected);
    connection->Execute("INSERT INTO props (code) VALUES ('abc')");
    EXPECT_EQ(CStr(connection->Execute("SELECT id || name FROM props")->Fields()->At(0)->Value()), "1it's");
}

// Names that are reserved words, hold blanks or quotes are quoted in the statement.
TEST_F(Catalog, ReservedWordsBlanksAndQuotesInNames) {
    const std::int32_t before = catalog->Tables()->Count();
    for (const std::string name : {"select", "order details", "say \"hi\""}) {
        SCOPED_TRACE(name);
        auto table = NewTable(catalog, name);
        AddColumn(table, NewColumn("from", ado::adInteger));
        AddColumn(table, NewColumn("unit price", ado::adCurrency));
        AppendTable(catalog, table);
        EXPECT_EQ(TablesNamed(connection, name), 1);
        auto listed = catalog->Tables()->Item(Variant(name));
        EXPECT_EQ(listed->Name(), name);
        EXPECT_EQ(listed->ParentCatalog().get(), catalog.get());
    }
    EXPECT_EQ(catalog->Tables()->Count(), before + 3);
}

// What the catalog refuses, with the refusing object; a failed append leaves no table and an existing
// file stays as it was.
TEST_F(Catalog, RefusalsLeaveNothingBehind) {
    auto existing = NewTable(catalog, "kept");
    AddColumn(existing, NewColumn("a", ado::adInteger));
    AppendTable(catalog, existing);
    const auto file_size = std::filesystem::file_size(file);
    const std::int32_t tables = catalog->Tables()->Count();

    auto with = [&](const std::string& table_name, std::vector<Ref<adox::Column>> columns) {
        auto table = NewTable(catalog, table_name);
        for (auto& c : columns) AddColumn(table, c);
        return table;
    };
    struct Row {
        const char* what;
        std::function<void()> call;
        std::int32_t number;
        const char* source;
    };
    const std::vector<Row> rows = {
        {"a file that exists",
         [&] { CreateObjectAs<adox::Catalog>("ADOX.Catalog")->Create(SqliteString(file)); },
         hr::DB_E_DUPLICATEDATASOURCE, "ADOX.Catalog"},
        {"no file named",
         [&] { CreateObjectAs<adox::Catalog>("ADOX.Catalog")->Create("Provider=SQLite;Data Source= "); },
         hr::E_FAIL, "SQLite"},
        {"a type SQLite has no name for, after a good column",
         [&] {
             AppendTable(catalog,
                         with("bad", {NewColumn("ok", ado::adInteger), NewColumn("v", ado::adVariant)}));
         },
         hr::DB_E_BADTYPE, "SQLite"},
        {"a number as a row key",
         [&] {
             auto c = NewColumn("k", ado::adDouble);
             auto table = with("bad", {c});
             c->Properties()->Item(Variant("Autoincrement"))->SetValue(Variant(true));
             AppendTable(catalog, table);
         },
         hr::DB_E_BADTYPE, "SQLite"},
        {"a table that exists", [&] { AppendTable(catalog, with("KEPT", {NewColumn("b", ado::adInteger)})); },
         hr::DB_E_DUPLICATETABLEID, "SQLite"},
        {"the same column twice",
         [&] {
             with("bad", {NewColumn("x", ado::adInteger), NewColumn("X", ado::adInteger)});
         },
         ado::adErrObjectInCollection, "ADOX.Table"},
        {"a column without a name", [&] { with("bad", {NewColumn("", ado::adInteger)}); },
         ado::adErrInvalidArgument, "ADOX.Table"},
        {"a table without a name", [&] { AppendTable(catalog, with("", {NewColumn("x", ado::adInteger)})); },
         ado::adErrInvalidArgument, "ADOX.Tables"},
        {"a size below unlimited", [&] { NewColumn("x", ado::adVarWChar, -2); }, ado::adErrInvalidArgument,
         "ADOX.Column"},
        {"properties before a catalog",
         [&] { NewColumn("x", ado::adInteger)->Properties()->Item(Variant("Nullable")); },
         ado::adErrItemNotFound, "ADODB.Properties"},
        {"no connection", [&] { CreateObjectAs<adox::Catalog>("ADOX.Catalog")->Tables()->Count(); },
         ado::adErrInvalidConnection, "ADOX.Tables"},
        {"the ODBC bridge",
         [&] { CreateObjectAs<adox::Catalog>("ADOX.Catalog")->Create("Provider=MSDASQL;DSN=nowhere"); },
         ado::adErrFeatureNotAvailable, "ADOX.Catalog"},
        {"a provider that is not installed",
         [&] { CreateObjectAs<adox::Catalog>("ADOX.Catalog")->Create("Provider=No.Such;Data Source=x"); },
         hr::REGDB_E_CLASSNOTREG, "Microsoft OLE DB Service Components"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        test::ExpectError(test::RaisedError(r.call), r.number, r.source);
        EXPECT_EQ(TablesNamed(connection, "bad"), 0);
    }
    EXPECT_EQ(std::filesystem::file_size(file), file_size);
    EXPECT_EQ(catalog->Tables()->Count(), tables);
    // A provider failure is the connection's too; the catalog's own refusals are not.
    EXPECT_EQ(connection->Errors()->Count(), 1);
}

}  // namespace
}  // namespace korado
