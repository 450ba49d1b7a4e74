// The binary persistence format with what the ODBC bridge hands out for each server's column types: the
// columns (type, size, attributes, base table and key) and values read back as they were written.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "dataaccess/persistence.h"
#include "korado/platform/ado_enums.h"
#include "odbc/odbc_test_util.h"

namespace korado::test {
namespace {

using namespace dataaccess::persist;

struct Collect final : RowsetSink {
    Schema schema;
    Rows rows;
    void Begin(const Schema& s) override { schema = s; }
    void Row(RowKind, const Variant* values, const Variant*) override {
        rows.emplace_back(values, values + schema.columns.size());
    }
    void End() override {}
};

std::string Shown(const Variant& v) {
    const Bytes* b = v.get_if<Bytes>();
    return b ? std::to_string(b->size()) + " bytes" : Text(v);
}

TEST_P(OdbcTest, AdtgReadsBackWhatTheDriverGave) {
    const std::string table = Unique("korado_adtg");
    RunQuietly(session(), "DROP TABLE " + table);
    RunSql(session(),
           "CREATE TABLE " + table +
               " (id INTEGER PRIMARY KEY, b BIGINT, s SMALLINT, r DOUBLE PRECISION, n NUMERIC(30,10), "
               "v VARCHAR(40), t " +
               target().text_type + ", bl " + target().blob_type + ", d DATE, ts " + target().timestamp_type +
               ", f " + target().bool_type + ", c CHAR(4))" + target().unicode_table_options);
    const std::string insert = "INSERT INTO " + table + " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    RunSql(session(), insert,
           {In(ado::adInteger, Variant(1)), In(ado::adBigInt, Variant(-9223372036854775807LL)),
            In(ado::adSmallInt, Variant(std::int16_t{-32768})), In(ado::adDouble, Variant(0.1)),
            In(ado::adNumeric, Variant(Decimal{-123456789012345678, 10})),
            In(ado::adVarWChar, Variant("Grüße 日本語 \t\n<&>"), 40), In(ado::adLongVarWChar, Variant(""), 1),
            In(ado::adLongVarBinary, Variant(Bytes{0, 255, 1, 2}), 4),
            In(ado::adDBDate, Variant(DateSerial(1850, 3, 4))),
            In(ado::adDBTimeStamp, Variant(DateFromParts(DateParts{1850, 3, 4, 10, 11, 12, 0.345}))),
            In(ado::adBoolean, Variant(true)), In(ado::adWChar, Variant("ab"), 4)});
    RunSql(session(), insert,
           {In(ado::adInteger, Variant(2)), In(ado::adBigInt, Variant::Null()),
            In(ado::adSmallInt, Variant::Null()), In(ado::adDouble, Variant(-1e300)),
            In(ado::adNumeric, Variant::Null()), In(ado::adVarWChar, Variant(""), 40),
            In(ado::adLongVarWChar, Variant::Null(), 1), In(ado::adLongVarBinary, Variant::Null(), 1),
            In(ado::adDBDate, Variant::Null()),
            In(ado::adDBTimeStamp, Variant(DateFromParts(DateParts{2024, 2, 29, 23, 59, 59, 0.5}))),
            In(ado::adBoolean, Variant(false)), In(ado::adWChar, Variant::Null(), 4)});
    Outcome selected = RunSql(session(), "SELECT * FROM " + table + " ORDER BY id");
    RunQuietly(session(), "DROP TABLE " + table);
    ASSERT_EQ(selected.rows.size(), 2u);

    Schema schema;
    schema.columns = selected.columns;
    // As the client cursor completes them for a query of one table.
    for (ColumnInfo& c : schema.columns) {
        c.base_table = table;
        c.base_column = c.name;
        c.key_column = c.name == "id";
    }
    schema.updatable = true;
    std::ostringstream out;
    auto writer = MakeAdtgWriter(out);
    writer->Begin(schema);
    for (const auto& row : selected.rows) writer->Row(RowKind::kUnchanged, row.data(), nullptr);
    writer->End();
    Collect back;
    ReadAdtg(out.str(), back);
    EXPECT_TRUE(back.schema.updatable);

    ASSERT_EQ(back.schema.columns.size(), schema.columns.size());
    for (std::size_t i = 0; i < schema.columns.size(); ++i) {
        const ColumnInfo& want = schema.columns[i];
        const ColumnInfo& got = back.schema.columns[i];
        SCOPED_TRACE(want.name);
        EXPECT_EQ(got.name, want.name);
        // Fixed-length binary goes variable-length (the SQLite driver's BLOB is BINARY(255)).
        const bool fixed_binary = want.type == ado::adBinary;
        EXPECT_EQ(got.type, fixed_binary ? ado::adVarBinary : want.type);
        EXPECT_EQ(got.defined_size, want.defined_size);
        // Every column is maybe-null in the file (a Null may stand in any); a key says so in its flags.
        EXPECT_EQ(got.attributes | (fixed_binary ? ado::adFldFixed : 0),
                  want.attributes | ado::adFldMayBeNull | (want.key_column ? ado::adFldKeyColumn : 0));
        EXPECT_EQ(got.precision, want.precision);
        EXPECT_EQ(got.scale, want.scale);
        EXPECT_EQ(got.base_table, want.base_table);
        EXPECT_EQ(got.base_column, want.base_column);
        EXPECT_EQ(got.key_column, want.key_column);
        for (std::size_t r = 0; r < selected.rows.size(); ++r)
            EXPECT_TRUE(back.rows.at(r).at(i) == selected.rows[r][i])
                << "row " << r << ": " << Shown(back.rows[r][i]) << " for " << Shown(selected.rows[r][i]);
    }
}

}  // namespace
}  // namespace korado::test
