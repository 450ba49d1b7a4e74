// A query over the ODBC bridge saved in both persistence formats and opened again without a connection:
// the values and field descriptions the drivers gave come back as they were.
#include <gtest/gtest.h>

#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "odbc/odbc_test_util.h"
#include "support/recordset_image.h"
#include "support/support.h"

namespace korado::test {
namespace {

class PersistOdbc : public ::testing::TestWithParam<std::string> {};

TEST_P(PersistOdbc, QueryComesBackFromBothFormats) {
    const OdbcTarget& target = GetOdbcTarget(GetParam());
    KORADO_REQUIRE_ODBC(target);
    Ref<ado::Connection> connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->Open(target.Source(), target.user, target.password);
    const std::string table = Unique("persist");
    connection->Execute("CREATE TABLE " + table +
                        " (id INTEGER PRIMARY KEY, i INTEGER, n NUMERIC(10,2), v VARCHAR(20), x " +
                        target.text_type + ", bl " + target.blob_type + ", f " + target.bool_type +
                        ", dt DATE, ts " + target.timestamp_type + ") " + target.unicode_table_options);
    struct Drop {
        ado::Connection& c;
        std::string table;
        ~Drop() {
            try {
                c.Execute("DROP TABLE " + table);
            } catch (const Error&) {
            }
        }
    } drop{*connection, table};
    connection->Execute("INSERT INTO " + table +
                        " VALUES (1, -2147483648, -12345.67, 'a<&>\"''b é', '', NULL, " +
                        (target.IsPostgreSQL() ? "true" : "1") +
                        ", '1850-01-02', '2024-05-17 13:45:30.25'),"
                        " (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");

    Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
    rs->SetCursorLocation(ado::adUseClient);
    rs->Open(Variant("SELECT * FROM " + table + " ORDER BY id"), Variant(connection));
    const std::vector<std::string> image = Image(*rs);
    TempDir dir;
    for (std::int32_t format : {ado::adPersistADTG, ado::adPersistXML}) {
        SCOPED_TRACE(format);
        const std::string file = dir.File("q" + std::to_string(format));
        rs->Save(Variant(file), format);
        Ref<ado::Recordset> copy = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        copy->Open(Variant(file));
        EXPECT_EQ(Image(*copy), image);
    }
}

// The servers' drivers (the SQLite one's narrow text and fixed binary columns come back from the binary
// format wide and variable-length).
INSTANTIATE_TEST_SUITE_P(Dsn, PersistOdbc, ::testing::Values("pg", "maria"), TargetName);

}  // namespace
}  // namespace korado::test
