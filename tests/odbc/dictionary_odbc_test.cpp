// The dictionary through the ODBC bridge on the real servers: schemas, tables and views by pattern, and
// columns by schema and table.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include "korado/dictionary/clsDictionary.h"
#include "support/odbc_servers.h"
#include "support/session.h"

namespace korado {
namespace {

using test::GetOdbcTarget;
using test::OdbcTarget;
using test::Session;

std::vector<std::string> Names(const Variant& v) {
    std::vector<std::string> out;
    if (Ref<Collection> c = v.ObjectAs<Collection>())
        for (const Variant& item : *c) out.push_back(CStr(item));
    return out;
}

// Column name and the schema each column row names (the type names are the schema rowsets' types, checked
// there).
struct ColumnRow {
    std::string name, schema;
    friend bool operator==(const ColumnRow&, const ColumnRow&) = default;
};

std::vector<ColumnRow> ColumnRows(const Variant& columns) {
    std::vector<ColumnRow> out;
    for (const Variant& entry : *columns.ObjectAs<Collection>()) {
        ColumnRow row;
        for (const Variant& item : *entry.ObjectAs<Collection>()) {
            const VariantArray& field = *item.get_if<VariantArray>();
            const std::string name = CStr(field[0]);
            if (name == "COLUMN_NAME") row.name = CStr(field[1]);
            if (name == "TABLE_SCHEMA") row.schema = field[1].IsNull() ? "<null>" : CStr(field[1]);
        }
        out.push_back(row);
    }
    return out;
}

class DictionaryOdbc : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { KORADO_REQUIRE_ODBC(target()); }
    const OdbcTarget& target() const { return GetOdbcTarget(GetParam()); }
};

TEST_P(DictionaryOdbc, TablesViewsAndColumnsOfOneSession) {
    const OdbcTarget& t = target();
    // Several runs may share a server: every name carries this process's id.
    const std::string table = "ko_dict_" + std::to_string(::getpid());
    const std::string view = table + "_v";
    Session s;
    ASSERT_TRUE(s.Connect(t.Source(), t.user, t.password).ok);
    s.Execute("drop view if exists " + view);
    s.Execute("drop table if exists " + table);
    s.Execute("create table " + table + " (id integer not null, name varchar(40), amount numeric(10,2))");
    s.Execute("create view " + view + " as select id from " + table);
    s.ado().Commit();
    Ref<clsDictionary> d = s.ado().Dictionary();
    const Variant null = Variant::Null();

    EXPECT_EQ(Names(Variant(d->Objects(dictTables, null, Variant(table + "%"), Variant(false)))),
              (std::vector<std::string>{table}));
    EXPECT_EQ(Names(Variant(d->Objects(dictViews, null, Variant(table + "%"), Variant(false)))),
              (std::vector<std::string>{view}));
    EXPECT_EQ(Names(Variant(d->Objects(dictTables, null, Variant(table), Variant(true)))),
              (std::vector<std::string>{table}));

    const std::vector<ColumnRow> columns = ColumnRows(d->Columns(null, Variant(table)));
    ASSERT_EQ(columns.size(), 3u);
    const std::string schema = columns[0].schema;
    EXPECT_EQ(columns, (std::vector<ColumnRow>{{"id", schema}, {"name", schema}, {"amount", schema}}));
    EXPECT_EQ(ColumnRows(d->Columns(Variant(schema), Variant(table))), columns);
    EXPECT_TRUE(ColumnRows(d->Columns(Variant("no_such_schema"), Variant(table))).empty());
    EXPECT_TRUE(ColumnRows(d->Columns(null, Variant(table + "_missing"))).empty());
    if (t.server) {
        // The schema the table lives in is listed, and narrows the tables query to it.
        const std::vector<std::string> schemas = Names(d->Schemas(null, false));
        EXPECT_NE(std::find(schemas.begin(), schemas.end(), schema), schemas.end()) << schema;
        EXPECT_EQ(Names(Variant(d->Objects(dictTables, Variant(schema), Variant(table), Variant(false)))),
                  (std::vector<std::string>{table}));
        EXPECT_TRUE(
            Names(Variant(d->Objects(dictTables, Variant("no_such_schema"), Variant(table), Variant(false))))
                .empty());
    }

    s.Execute("drop view " + view);
    s.Execute("drop table " + table);
    s.ado().Commit();
    EXPECT_TRUE(s.errors().Reports().empty());
}

INSTANTIATE_TEST_SUITE_P(Dsns, DictionaryOdbc, ::testing::ValuesIn(test::OdbcTargetNames()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace korado
