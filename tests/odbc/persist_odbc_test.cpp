// A query over the ODBC bridge saved in both persistence formats and opened again without a connection:
// the values and field descriptions the drivers gave come back as they were.
#include <gtest/gtest.h>

#include <charconv>

#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "odbc/odbc_test_util.h"
#include "support/support.h"

namespace korado::test {
namespace {

// A value with its kind, exactly enough to tell any two values apart.
std::string Describe(const Variant& v) {
    std::string out = std::to_string(static_cast<int>(v.Type())) + ":";
    if (const auto* d = v.get_if<double>()) {
        char buffer[32];
        return out + std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, *d).ptr);
    }
    if (const auto* date = v.get_if<Date>()) {
        char buffer[32];
        return out + std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, date->days).ptr);
    }
    if (const auto* b = v.get_if<Bytes>()) return out + std::string(b->begin(), b->end());
    return v.IsNull() || v.IsEmpty() ? out : out + CStr(v);
}

// Every field's description, then every row's values.
std::vector<std::string> Image(ado::Recordset& rs) {
    std::vector<std::string> out;
    Ref<ado::Fields> fields = rs.Fields();
    for (std::int32_t i = 0; i < fields->Count(); ++i) {
        ado::Field& f = *fields->At(i);
        out.push_back(f.Name() + " " + std::to_string(f.Type()) + " " + std::to_string(f.DefinedSize()) +
                      " " + std::to_string(f.Precision()) + " " + std::to_string(f.NumericScale()) + " " +
                      std::to_string(f.Attributes()));
    }
    for (; !rs.Eof(); rs.MoveNext())
        for (std::int32_t i = 0; i < fields->Count(); ++i) out.push_back(Describe(fields->At(i)->Value()));
    return out;
}

class PersistOdbc : public ::testing::TestWithParam<std::string> {};

TEST_P(PersistOdbc, QueryComesBackFromBothFormats) {
    const OdbcTarget& target = GetOdbcTarget(GetParam());
    KORADO_REQUIRE_ODBC(target);
    Ref<ado::Connection> connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->Open("DSN=" + target.dsn, target.user, target.password);
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
                        (target.name == "pg" ? "true" : "1") +
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

INSTANTIATE_TEST_SUITE_P(Dsn, PersistOdbc, ::testing::ValuesIn(OdbcTargetNames()), TargetName);

}  // namespace
}  // namespace korado::test
