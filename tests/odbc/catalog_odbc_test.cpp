// The catalog over the ODBC bridge, which cannot create data sources or tables: both refusals come from
// the catalog's objects, and nothing reaches the server. The native PostgreSQL provider creates tables.
#include <gtest/gtest.h>

#include "dataaccess/names.h"
#include "korado/platform/adodb.h"
#include "korado/platform/adox.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "odbc/odbc_test_util.h"
#include "support/raises.h"

namespace korado::test {
namespace {

class CatalogOdbc : public ::testing::TestWithParam<std::string> {};

TEST_P(CatalogOdbc, TheBridgeCreatesNoTables) {
    const OdbcTarget& target = GetOdbcTarget(GetParam());
    KORADO_REQUIRE_ODBC(target);
    // (Its refusal to create a data source is the SQLite catalog test's, which needs no server.)
    auto catalog = CreateObjectAs<adox::Catalog>("ADOX.Catalog");
    auto connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->Open(target.ConnectionString(), "", "");
    catalog->SetActiveConnection(connection);
    auto table = CreateObjectAs<adox::Table>("ADOX.Table");
    table->SetName("korado_catalog_refused");
    table->SetParentCatalog(catalog);
    table->Columns()->Append(Variant("id"), ado::adInteger);
    EXPECT_RAISES_FROM(ado::adErrFeatureNotAvailable, "ADOX.Tables",
                       catalog->Tables()->Append(Variant(Ref<Dispatch>(table.get()))));
    EXPECT_EQ(connection->Errors()->Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, CatalogOdbc, ::testing::Values("pg", "maria"),
                         [](const auto& info) { return info.param; });

// The native PostgreSQL provider creates the catalog's tables: names that are reserved words or hold blanks
// and quotes, the column properties in the statement, a name that exists refused as the platform says, and
// Delete drops what Append made.
TEST(CatalogNative, TablesAppendAndDeleteOnTheServer) {
    const OdbcTarget& target = GetOdbcTarget("pgnative");
    KORADO_REQUIRE_ODBC(target);
    auto connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->Open(target.ConnectionString(), "", "");
    auto catalog = CreateObjectAs<adox::Catalog>("ADOX.Catalog");
    catalog->SetActiveConnection(connection);
    const std::string name = Unique("select \"order\" details");
    auto make = [&] {
        auto table = CreateObjectAs<adox::Table>("ADOX.Table");
        table->SetName(name);
        table->SetParentCatalog(catalog);
        table->Columns()->Append(Variant("id"), ado::adInteger);
        table->Columns()->Append(Variant("unit price"), ado::adCurrency);
        table->Columns()->Append(Variant("from"), ado::adVarWChar, 10);
        table->Columns()
            ->Item(Variant("id"))
            ->Properties()
            ->Item(Variant("Autoincrement"))
            ->SetValue(Variant(true));
        table->Columns()
            ->Item(Variant("unit price"))
            ->Properties()
            ->Item(Variant("Default"))
            ->SetValue(Variant(1.25));
        table->Columns()
            ->Item(Variant("from"))
            ->Properties()
            ->Item(Variant("Nullable"))
            ->SetValue(Variant(true));
        return table;
    };
    catalog->Tables()->Append(Variant(Ref<Dispatch>(make().get())));
    EXPECT_EQ(catalog->Tables()->Item(Variant(name))->Name(), name);
    const std::string quoted = dataaccess::Quoted(name, '"');
    connection->Execute("insert into " + quoted + " (\"from\") values (null), ('x')");
    Ref<ado::Recordset> rows =
        connection->Execute("select id, \"unit price\", \"from\" from " + quoted + " order by id");
    std::vector<std::string> got;
    for (; !rows->Eof(); rows->MoveNext())
        got.push_back(Text(rows->Fields()->At(0)->Value()) + " " + Text(rows->Fields()->At(1)->Value()) +
                      " " + Text(rows->Fields()->At(2)->Value()));
    EXPECT_EQ(got, (std::vector<std::string>{"1 1.25 <null>", "2 1.25 x"}));
    rows = nullptr;
    EXPECT_RAISES_FROM(hr::DB_E_DUPLICATETABLEID, target.error_source,
                       catalog->Tables()->Append(Variant(Ref<Dispatch>(make().get()))));
    catalog->Tables()->Delete(Variant(name));
    EXPECT_RAISES_FROM(ado::adErrItemNotFound, "ADOX.Tables", catalog->Tables()->Item(Variant(name)));
}

}  // namespace
}  // namespace korado::test
