// The binary persistence format with the values and field descriptions the SQLite provider really hands
// out: each column of every declared type is written and read back with the same type, size, precision,
// scale, attributes and value (fixed binary comes back variable-length); so is a text longer than its
// declared size, and a Null in a NOT NULL column of an outer join's nullable side (which reads back
// maybe-null).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "dataaccess/persistence.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/support.h"

namespace korado {
namespace {

using dataaccess::ColumnInfo;
using namespace dataaccess::persist;

struct Collect final : RowsetSink {
    Schema schema;
    std::vector<std::vector<Variant>> rows;
    void Begin(const Schema& s) override { schema = s; }
    void Row(RowKind, const Variant* values, const Variant*) override {
        rows.emplace_back(values, values + schema.columns.size());
    }
    void End() override {}
};

TEST(PersistAdtgSqlite, ProviderValuesOfEveryDeclaredTypeReadBack) {
    test::TempDir dir;
    Ref<ado::Connection> c = CreateObjectAs<ado::Connection>("ADODB.Connection");
    c->Open("Provider=SQLite;Data Source=" + dir.File("types.db"));
    c->Execute(
        "CREATE TABLE t(i INTEGER, b BIGINT, s SMALLINT, r REAL, n NUMERIC(12,2), d DECIMAL(28,10), m MONEY, "
        "f BOOLEAN, dd DATE, tt TIME, ts DATETIME, g GUID, ch CHAR(5), vc VARCHAR(20), tx TEXT, bi "
        "BINARY(4), "
        "vb VARBINARY(8), bl BLOB, vs VARCHAR(3))");
    c->Execute("CREATE TABLE u(k INTEGER NOT NULL)");
    c->Execute("INSERT INTO u VALUES (-2147483648)");
    c->Execute(
        "INSERT INTO t VALUES (-2147483648, 9223372036854775807, -32768, 0.1, 1234567890.12, "
        "-123456789012345678.0123456789, 12345.6789, 1, '1850-03-04', '23:59:59', "
        "'1850-03-04 10:11:12.345', '{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}', 'ab', 'Grüße 日本語 \t\n', "
        "'', x'00FF0102', x'', x'DEADBEEF', 'longer than three and than 255 bytes " +
        std::string(300, '.') + "')");
    c->Execute(
        "INSERT INTO t VALUES (NULL, NULL, NULL, -1e308, -0.01, 0, -0.0001, 0, '9999-12-31', "
        "'00:00:00', '2024-02-29 23:59:59.999999', NULL, '', '', 'x', NULL, x'01', NULL, 'abc')");
    Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
    rs->SetCursorLocation(ado::adUseClient);
    rs->Open(Variant("SELECT t.*, u.k FROM t LEFT JOIN u ON u.k = t.i"), Variant(c), ado::adOpenStatic,
             ado::adLockBatchOptimistic);

    Schema schema;
    const std::int32_t n = rs->Fields()->Count();
    for (std::int32_t i = 0; i < n; ++i) {
        ado::Field* f = rs->Fields()->At(i);
        ColumnInfo info;
        info.name = f->Name();
        info.type = f->Type();
        info.defined_size = f->DefinedSize();
        info.precision = f->Precision();
        info.scale = f->NumericScale();
        info.attributes = f->Attributes();
        schema.columns.push_back(info);
    }
    std::ostringstream out;
    auto writer = MakeAdtgWriter(out);
    writer->Begin(schema);
    std::vector<std::vector<Variant>> rows;
    for (; !rs->Eof(); rs->MoveNext()) {
        rows.emplace_back();
        for (std::int32_t i = 0; i < n; ++i) rows.back().push_back(rs->Fields()->At(i)->Value());
        writer->Row(RowKind::kUnchanged, rows.back().data(), nullptr);
    }
    writer->End();
    ASSERT_EQ(rows.size(), 2u);

    Collect back;
    ReadAdtg(out.str(), back);
    ASSERT_EQ(back.schema.columns.size(), schema.columns.size());
    for (std::size_t i = 0; i < schema.columns.size(); ++i) {
        const ColumnInfo& want = schema.columns[i];
        const ColumnInfo& got = back.schema.columns[i];
        SCOPED_TRACE(want.name);
        // Fixed-length binary goes variable-length (SQLite does not hold it to its size).
        const bool fixed_binary = want.type == ado::adBinary;
        EXPECT_EQ(got.type, fixed_binary ? ado::adVarBinary : want.type);
        EXPECT_EQ(got.defined_size, want.defined_size);
        EXPECT_EQ(got.precision, want.precision);
        EXPECT_EQ(got.scale, want.scale);
        EXPECT_EQ(got.attributes | (fixed_binary ? ado::adFldFixed : 0),
                  want.attributes | (want.name == "k" ? ado::adFldMayBeNull : 0));
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const Variant& v = back.rows.at(r).at(i);
            EXPECT_TRUE(v == rows[r][i]) << "row " << r << ": " << (v.IsNull() ? "Null" : CStr(v)) << " for "
                                         << (rows[r][i].IsNull() ? "Null" : CStr(rows[r][i]));
        }
    }
}

}  // namespace
}  // namespace korado
