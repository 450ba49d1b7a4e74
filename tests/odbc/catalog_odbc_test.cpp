// The catalog over the ODBC bridge, which cannot create tables: the refusal comes from the catalog's
// objects, and nothing reaches the server.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace korado::test
