// A query of each server's rows becomes a new SQLite table through the dictionary: every common type
// arrives with its type, size, precision and scale as far as SQLite carries them. The bridge itself
// creates no tables; the native PostgreSQL provider copies the query into a server table as well.
#include <gtest/gtest.h>

#include <unistd.h>

#include "korado/dictionary/clsDictionary.h"
#include "korado/errors/clsADOError.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "support/odbc_servers.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado {
namespace {

using test::GetOdbcTarget;
using test::OdbcTarget;
using test::Session;

class TableCreationOdbc : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { KORADO_REQUIRE_ODBC(target()); }
    const OdbcTarget& target() const { return GetOdbcTarget(GetParam()); }
};

struct Shape {
    std::int32_t type, size;
    int precision, scale;
    friend bool operator==(const Shape&, const Shape&) = default;
    friend std::ostream& operator<<(std::ostream& o, const Shape& s) {
        return o << s.type << " size " << s.size << " " << s.precision << "," << s.scale;
    }
};

Shape Of(ado::Field& f) { return {f.Type(), f.DefinedSize(), f.Precision(), f.NumericScale()}; }

// The source column on each server, the field type the bridge reports for it, and the field the SQLite
// copy reads back. Where SQLite cannot carry a field, the copy shows what it can: one floating type, no
// size for long text and binary data, no unsigned integers. A number's precision and scale are not given
// to providers other than Jet, ACE and SQL Server: DECIMAL's default then applies.
struct Row {
    const char* name;
    const char* pg;     // column type on PostgreSQL; nullptr: none there
    const char* maria;  // on MariaDB
    std::int32_t source_type;
    Shape copy;
};
const Row kRows[] = {
    {"c_smallint", "smallint", "smallint", ado::adSmallInt, {ado::adSmallInt, 2, 5, 255}},
    {"c_int", "integer", "int", ado::adInteger, {ado::adInteger, 4, 10, 255}},
    {"c_bigint", "bigint", "bigint", ado::adBigInt, {ado::adBigInt, 8, 19, 255}},
    {"c_numeric", "numeric(12,3)", "decimal(12,3)", ado::adNumeric, {ado::adNumeric, 19, 18, 0}},
    {"c_real", "real", "float", ado::adSingle, {ado::adDouble, 8, 15, 255}},
    {"c_double", "double precision", "double", ado::adDouble, {ado::adDouble, 8, 15, 255}},
    {"c_bool", "boolean", "bit(1)", ado::adBoolean, {ado::adBoolean, 2, 255, 255}},
    {"c_date", "date", "date", ado::adDBDate, {ado::adDBDate, 6, 10, 255}},
    {"c_time", "time", "time", ado::adDBTime, {ado::adDBTime, 6, 8, 255}},
    {"c_timestamp", "timestamp", "datetime", ado::adDBTimeStamp, {ado::adDBTimeStamp, 16, 19, 255}},
    {"c_char", "char(5)", "char(5)", ado::adWChar, {ado::adWChar, 5, 255, 255}},
    {"c_varchar", "varchar(40)", "varchar(40)", ado::adVarWChar, {ado::adVarWChar, 40, 255, 255}},
    {"c_text", "text", "longtext", ado::adLongVarWChar, {ado::adLongVarWChar, -1, 255, 255}},
    {"c_binary", "bytea", "blob", ado::adLongVarBinary, {ado::adLongVarBinary, -1, 255, 255}},
    {"c_uuid", "uuid", nullptr, ado::adGUID, {ado::adGUID, 16, 255, 255}},
    {"c_fixed", nullptr, "binary(4)", ado::adBinary, {ado::adBinary, 4, 255, 255}},
    {"c_varbinary", nullptr, "varbinary(9)", ado::adVarBinary, {ado::adVarBinary, 9, 255, 255}},
    {"c_unsigned", nullptr, "int unsigned", ado::adUnsignedInt, {ado::adBigInt, 8, 19, 255}},
};

TEST_P(TableCreationOdbc, AQueryOfServerRowsBecomesAnSqliteTable) {
    const OdbcTarget& t = target();
    const bool pg = t.IsPostgreSQL();
    // Several runs may share a server: the name carries this process's id.
    const std::string table = "ko_copy_" + std::to_string(::getpid());
    std::vector<const Row*> rows;
    std::string columns;
    for (const Row& r : kRows) {
        const char* type = pg ? r.pg : r.maria;
        if (!type) continue;
        rows.push_back(&r);
        columns += std::string(columns.empty() ? "" : ", ") + r.name + " " + type;
    }
    Session server;
    ASSERT_TRUE(server.Connect(t.Source(), t.user, t.password).ok);
    server.Execute("drop table if exists " + table);
    server.Execute("create table " + table + " (" + columns + ")");
    server.ado().Commit();

    test::TempDir dir;
    Session sqlite;
    ASSERT_TRUE(sqlite.Connect(test::SqliteConnectionString(dir.File("copy.db"))).ok);
    {
        Ref<clsDynasetADO> dynaset = server.Dynaset("select * from " + table);
        ASSERT_TRUE(dynaset);
        CallMethod(Variant(Ref<Dispatch>(sqlite.ado().Dictionary())), "CreateTableFromDynaset", "copy",
                   Variant(Ref<Dispatch>(dynaset)));
        EXPECT_TRUE(sqlite.errors().Reports().empty());

        Ref<ado::Recordset> copy;
        sqlite.Execute("select * from copy", {}, &copy);
        ASSERT_TRUE(copy);
        Ref<ado::Fields> from = dynaset->Recordset()->Fields();
        ASSERT_EQ(from->Count(), static_cast<std::int32_t>(rows.size()));
        ASSERT_EQ(copy->Fields()->Count(), from->Count());
        for (std::int32_t i = 0; i < from->Count(); ++i) {
            const Row& r = *rows[static_cast<std::size_t>(i)];
            SCOPED_TRACE(r.name);
            EXPECT_EQ(from->At(i)->Type(), r.source_type);
            EXPECT_EQ(copy->Fields()->At(i)->Name(), r.name);
            EXPECT_EQ(Of(*copy->Fields()->At(i)), r.copy);
        }

        if (t.provider == "MSDASQL") {
            // A connection through the bridge creates no tables.
            EXPECT_EQ(
                test::RaisedText([&] { server.ado().Dictionary()->CreateTableFromDynaset("copy", dynaset); }),
                std::tuple(NotImplementedByProvider, "Method unavailable for this provider"));
        } else {
            // The native provider creates the copy on the server itself, with the types it came from (a
            // number's precision is not handed on, as above).
            server.ado().Dictionary()->CreateTableFromDynaset(table + "_back", dynaset);
            EXPECT_TRUE(server.errors().Reports().empty());
            Ref<ado::Recordset> back;
            server.Execute("select * from " + table + "_back", {}, &back);
            ASSERT_TRUE(back);
            ASSERT_EQ(back->Fields()->Count(), from->Count());
            for (std::int32_t i = 0; i < from->Count(); ++i) {
                SCOPED_TRACE(from->At(i)->Name());
                EXPECT_EQ(back->Fields()->At(i)->Type(), from->At(i)->Type());
                if (from->At(i)->Type() == ado::adNumeric) continue;
                EXPECT_EQ(back->Fields()->At(i)->DefinedSize(), from->At(i)->DefinedSize());
            }
            back = nullptr;
            server.Execute("drop table " + table + "_back");
        }
    }
    server.Execute("drop table " + table);
    server.ado().Commit();
}

INSTANTIATE_TEST_SUITE_P(Servers, TableCreationOdbc, ::testing::Values("pg", "maria", "pgnative"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace korado
