// Pieces of the platform stand-in that need no database: connection strings, ISO dates and decimals in
// text, the client cursor's row store, the SQLite provider's type and error mappings.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <random>

#include "dataaccess/client_rows.h"
#include "dataaccess/connection_string.h"
#include "dataaccess/providers/sqlite/sqlite_provider.h"
#include "dataaccess/value_text.h"
#include "korado/runtime/convert.h"
#include "support/raises.h"

namespace korado::dataaccess {
namespace {

using test::RaisedError;

TEST(ConnectionString, ParsesThePlatformsSyntax) {
    ConnectionString cs = ConnectionString::Parse(
        " Provider = SQLite ; data source='C:\\my ''data''.db';Extended Properties=\"a=1;b=2\";"
        "Driver={SQL Server}; PWD={p}}w;d} ;Flag;;");
    EXPECT_EQ(cs.Get("provider"), "SQLite");
    EXPECT_EQ(cs.Get("Data Source"), "C:\\my 'data'.db");
    EXPECT_EQ(cs.Get("EXTENDED PROPERTIES"), "a=1;b=2");
    EXPECT_EQ(cs.Get("Driver"), "{SQL Server}");  // braces kept for the driver
    EXPECT_EQ(cs.Get("pwd"), "{p}}w;d}");
    EXPECT_TRUE(cs.Has("Flag"));
    EXPECT_EQ(cs.Get("Flag"), "");
    EXPECT_FALSE(cs.Has("Missing"));
    ASSERT_EQ(cs.Entries().size(), 6u);
    EXPECT_EQ(cs.Entries()[0].first, "Provider");

    // A later entry replaces the value and keeps the place.
    cs = ConnectionString::Parse("a=1;B=2;A=3");
    ASSERT_EQ(cs.Entries().size(), 2u);
    EXPECT_EQ(cs.Entries()[0], (std::pair<std::string, std::string>("a", "3")));
    cs.Remove("b");
    cs.Set("New", " padded; value ");
    EXPECT_EQ(cs.ToString(), "a=3;New=\" padded; value \"");
    EXPECT_EQ(ConnectionString::Parse(cs.ToString()).Get("new"), " padded; value ");
}

TEST(ConnectionString, NamesWhatIsWrongWithMalformedText) {
    struct Case {
        const char* text;
        const char* says;
        const char* where;
    } cases[] = {
        {"a='x", "unbalanced quote (')", "character 3"},
        {"a=1;b=\"x;c=2", "unbalanced quote (\")", "character 7"},
        {"=1", "entry without a key", "character 1"},
        {"a=1; = 2", "entry without a key", "character 5"},
        {"a={x;b=1", "unbalanced brace", "character 3"},
        {"a='x'y", "text after a closing quote", "character 6"},
        {"a={x}y", "text after a closing brace", "character 6"},
    };
    for (const Case& k : cases) {
        std::optional<Error> e = RaisedError([&] { ConnectionString::Parse(k.text, "ADODB.Recordset"); });
        ASSERT_TRUE(e) << k.text;
        EXPECT_EQ(e->Number(), ado::adErrInvalidArgument);
        EXPECT_EQ(e->Source(), "ADODB.Recordset");
        EXPECT_NE(e->Description().find(k.says), std::string::npos) << e->Description();
        EXPECT_NE(e->Description().find(k.where), std::string::npos) << e->Description();
    }
}

TEST(ConnectionString, RoundTripsThroughText) {
    std::mt19937 rng(12345);
    const std::string alphabet = "ab =;'\"{} \t";
    for (int n = 0; n < 2000; ++n) {
        ConnectionString cs;
        int entries = static_cast<int>(rng() % 4);
        for (int i = 0; i < entries; ++i) {
            std::string value;
            for (int k = static_cast<int>(rng() % 6); k > 0; --k) value += alphabet[rng() % alphabet.size()];
            cs.Set('k' + std::to_string(rng() % 3), value);
        }
        ConnectionString again = ConnectionString::Parse(cs.ToString());
        ASSERT_EQ(again.Entries(), cs.Entries()) << cs.ToString();
    }
}

TEST(ValueText, IsoDatesBothWays) {
    EXPECT_EQ(ParseIsoDate("2024-05-17"), std::optional<Date>(DateSerial(2024, 5, 17)));
    Date stamp{DateSerial(2024, 5, 17).days + TimeSerial(13, 45, 30).days};
    EXPECT_NEAR(ParseIsoDate("2024-05-17 13:45:30")->days, stamp.days, 1e-9);
    EXPECT_NEAR(ParseIsoDate("2024-05-17T13:45:30.250Z")->days, stamp.days + 0.25 / 86400, 1e-9);
    EXPECT_NEAR(ParseIsoDate("2024-05-17 13:45:30+02:00")->days, stamp.days, 1e-9);
    EXPECT_NEAR(ParseIsoDate("13:45")->days, TimeSerial(13, 45, 0).days, 1e-9);
    // PostgreSQL's microseconds just before midnight keep the value on its day (and within the calendar).
    EXPECT_EQ(CStr(*ParseIsoDate("9999-12-31 23:59:59.999999")), "9999-12-31 23:59:59");
    EXPECT_GT(ParseIsoDate("1800-01-01 23:59:59.99999999")->days, DateSerial(1799, 12, 31).days);
    // Before day 0 the time still counts forward from midnight: 1899-12-29 06:00 is -1.25.
    EXPECT_NEAR(ParseIsoDate("1899-12-29 06:00:00")->days, -1.25, 1e-9);
    for (const char* bad : {"2024-02-30", "2023-02-29", "2024-13-01", "2024-5-17", "24:00", "2024-05-17X", "",
                            "abc", "2024-05-17 13:45:30 PM"})
        EXPECT_FALSE(ParseIsoDate(bad)) << bad;
    EXPECT_TRUE(ParseIsoDate("2024-02-29"));

    EXPECT_EQ(FormatIsoDate(DateSerial(2024, 5, 17), IsoStyle::kAuto), "2024-05-17");
    EXPECT_EQ(FormatIsoDate(stamp, IsoStyle::kAuto), "2024-05-17 13:45:30");
    EXPECT_EQ(FormatIsoDate(TimeSerial(8, 5, 9), IsoStyle::kAuto), "08:05:09");
    EXPECT_EQ(FormatIsoDate(DateSerial(2024, 5, 17), IsoStyle::kDateTime), "2024-05-17 00:00:00");
    EXPECT_EQ(FormatIsoDate(stamp, IsoStyle::kDate), "2024-05-17");
    EXPECT_EQ(FormatIsoDate(Date{stamp.days + 0.125 / 86400}, IsoStyle::kTime), "13:45:30.125");
    EXPECT_EQ(FormatIsoDate(Date{-1.25}, IsoStyle::kAuto), "1899-12-29 06:00:00");
    for (const char* text : {"1900-01-01", "2099-12-31 23:59:59", "1755-07-04 12:00:00", "00:00:01"})
        EXPECT_EQ(FormatIsoDate(*ParseIsoDate(text), IsoStyle::kAuto), text);
}

TEST(ValueText, ExactDecimals) {
    auto text = [](const std::optional<Decimal>& d) { return d ? FormatDecimal(*d) : std::string("none"); };
    EXPECT_EQ(text(ParseDecimal("-12.50")), "-12.5");
    EXPECT_EQ(ParseDecimal("-12.50")->scale, 2);
    EXPECT_EQ(text(ParseDecimal("1.5E+3")), "1500");
    EXPECT_EQ(text(ParseDecimal("2.5e-3")), "0.0025");
    EXPECT_EQ(text(ParseDecimal("79228162514264337593543950335")), "79228162514264337593543950335");
    EXPECT_EQ(text(ParseDecimal("79228162514264337593543950336")), "none");
    EXPECT_EQ(text(ParseDecimal("0.12345678901234567890123456789")), "0.1234567890123456789012345679");
    for (const char* bad : {"", "-", ".", "1e", "1.2.3", "12a", "1e+"})
        EXPECT_FALSE(ParseDecimal(bad)) << bad;
    EXPECT_EQ(text(DecimalFromDouble(0.1, -1)), "0.1");
    EXPECT_EQ(text(DecimalFromDouble(2.675, 2)), "2.67");  // the double is 2.67499999...
    EXPECT_EQ(text(RescaleDecimal(*ParseDecimal("1.005"), 2)), "1.01");
    EXPECT_EQ(text(RescaleDecimal(*ParseDecimal("-1.005"), 2)), "-1.01");
    EXPECT_EQ(RescaleDecimal(*ParseDecimal("1.5"), 3)->mantissa, 1500);
    EXPECT_DOUBLE_EQ(DecimalToDouble(*ParseDecimal("-12.25")), -12.25);
}

TEST(ClientRows, StoresEveryKindCompactlyAndGivesItBack) {
    const Variant values[] = {Variant(), Variant::Null(), Variant(true), Variant(std::uint8_t{200}),
                              Variant(std::int16_t{-5}), Variant(-7),
                              Variant(static_cast<long long>(1) << 50), Variant(1.25f), Variant(-0.1),
                              Variant(Currency{123456}), Variant(Date{45000.5}),
                              Variant(*ParseDecimal("-123.456")), Variant("Grüße 😀"),
                              // larger than an arena block
                              Variant(std::string(3000000, 'z')), Variant(Bytes{0, 1, 2}),
                              Variant(ErrorValue{2015}), MakeArray(1, "two")};
    const std::size_t n = std::size(values);
    ClientRows rows(n);
    rows.Append(values);
    std::vector<Variant> reversed(values, values + n);
    std::reverse(reversed.begin(), reversed.end());
    ClientRows other(n);
    for (int i = 0; i < 3; ++i) other.Append(reversed.data());

    rows.Append(values);
    ASSERT_EQ(rows.RowCount(), 2u);
    Variant out("reused");
    for (std::size_t r = 0; r < 2; ++r) {
        for (std::size_t c = 0; c < n; ++c) {
            rows.Read(r, c, out);
            EXPECT_EQ(out, values[c]) << "row " << r << " column " << c;
        }
    }
    other.Read(2, 0, out);
    EXPECT_EQ(out, values[n - 1]);
    EXPECT_TRUE(rows.IsNull(0, 1));
    EXPECT_FALSE(rows.IsNull(0, 0));
    EXPECT_EQ(rows.CellSize(0, 12), std::string("Grüße 😀").size());
    EXPECT_EQ(rows.CellSize(1, 13), 3000000u);
    EXPECT_EQ(rows.CellSize(0, 5), 4u);
}

TEST(SqliteTypes, DeclaredTypesDecideFieldTypes) {
    using sqlite::MapDeclaredType;
    struct T {
        const char* declared;
        std::int32_t type;
        std::int32_t size;
        int precision;
        int scale;
    };
    for (const T& k :
         {T{"INTEGER", ado::adInteger, 4, 10, 255}, T{"int", ado::adInteger, 4, 10, 255},
          T{"BIGINT", ado::adBigInt, 8, 19, 255}, T{"SmallInt", ado::adSmallInt, 2, 5, 255},
          T{"TINYINT", ado::adSmallInt, 2, 5, 255}, T{"REAL", ado::adDouble, 8, 15, 255},
          T{"DOUBLE PRECISION", ado::adDouble, 8, 15, 255}, T{"NUMERIC(10,2)", ado::adNumeric, 19, 10, 2},
          T{"DECIMAL( 8 , 3 )", ado::adNumeric, 19, 8, 3}, T{"NUMERIC", ado::adNumeric, 19, 18, 0},
          T{"VARCHAR(40)", ado::adVarWChar, 40, 255, 255}, T{"NVARCHAR(10)", ado::adVarWChar, 10, 255, 255},
          T{"VARCHAR", ado::adLongVarWChar, -1, 255, 255}, T{"TEXT", ado::adLongVarWChar, -1, 255, 255},
          T{"CHAR(3)", ado::adWChar, 3, 255, 255}, T{"BLOB", ado::adLongVarBinary, -1, 255, 255},
          T{"VARBINARY(16)", ado::adVarBinary, 16, 255, 255}, T{"BOOLEAN", ado::adBoolean, 2, 255, 255},
          T{"DATE", ado::adDBDate, 6, 10, 255}, T{"TIME", ado::adDBTime, 6, 8, 255},
          T{"DATETIME", ado::adDBTimeStamp, 16, 19, 255},
          T{"TIMESTAMP WITH TIME ZONE", ado::adDBTimeStamp, 16, 19, 255},
          T{"MONEY", ado::adCurrency, 8, 19, 255},
          // SQLite's affinity rules for the rest.
          T{"UNSIGNED MEDIUM INTEGER", ado::adBigInt, 8, 19, 255},
          T{"CHARACTER VARYING(5)", ado::adVarWChar, 5, 255, 255},
          T{"NATIVE TEXTISH", ado::adLongVarWChar, -1, 255, 255}, T{"FLOATING", ado::adDouble, 8, 15, 255}}) {
        sqlite::ColumnType t = MapDeclaredType(k.declared);
        EXPECT_TRUE(t.declared) << k.declared;
        EXPECT_EQ(t.type, k.type) << k.declared;
        EXPECT_EQ(t.defined_size, k.size) << k.declared;
        EXPECT_EQ(t.precision, k.precision) << k.declared;
        EXPECT_EQ(t.scale, k.scale) << k.declared;
    }
    EXPECT_FALSE(MapDeclaredType("").declared);
    EXPECT_FALSE(MapDeclaredType("JSON").declared);
    EXPECT_NE(MapDeclaredType("CHAR(3)").attributes & ado::adFldFixed, 0);
    EXPECT_NE(MapDeclaredType("TEXT").attributes & ado::adFldLong, 0);
    EXPECT_EQ(sqlite::TypeOfValue(SQLITE_INTEGER, 0).type, ado::adBigInt);
    EXPECT_EQ(sqlite::TypeOfValue(SQLITE_TEXT, 300).type, ado::adLongVarWChar);
    EXPECT_EQ(sqlite::TypeOfValue(SQLITE_NULL, 0).type, ado::adVarWChar);
}

TEST(SqliteTypes, ResultCodesMapToThePlatformsNumbers) {
    using sqlite::DiagnoseSqlite;
    struct D {
        int code;
        const char* message;
        bool preparing, timed_out;
        std::int32_t number;
    };
    for (const D& d : {D{SQLITE_ERROR, "no such table: t", true, false, hr::DB_E_NOTABLE},
                       D{SQLITE_ERROR, "near \"SELEC\": syntax error", true, false, hr::DB_E_ERRORSINCOMMAND},
                       D{SQLITE_ERROR, "table t already exists", true, false, hr::DB_E_DUPLICATETABLEID},
                       D{SQLITE_ERROR, "cannot commit - no transaction is active", false, false, hr::E_FAIL},
                       D{SQLITE_CONSTRAINT_UNIQUE, "", false, false, hr::DB_E_INTEGRITYVIOLATION},
                       D{SQLITE_BUSY, "database is locked", false, false, hr::E_FAIL},
                       D{SQLITE_LOCKED, "", false, false, hr::DB_E_TABLEINUSE},
                       D{SQLITE_CANTOPEN, "", false, false, hr::E_FAIL},
                       D{SQLITE_READONLY, "", false, false, hr::DB_SEC_E_PERMISSIONDENIED},
                       D{SQLITE_INTERRUPT, "interrupted", false, true, hr::DB_E_ABORTLIMITREACHED},
                       D{SQLITE_INTERRUPT, "interrupted", false, false, hr::DB_E_CANCELED},
                       D{SQLITE_TOOBIG, "", false, false, hr::DB_E_DATAOVERFLOW},
                       D{SQLITE_MISMATCH, "", false, false, hr::DB_E_CANTCONVERTVALUE},
                       D{SQLITE_NOTADB, "", false, false, hr::E_FAIL}})
        EXPECT_EQ(DiagnoseSqlite(d.code, d.message, d.preparing, d.timed_out).number, d.number) << d.code;
    EXPECT_STREQ(DiagnoseSqlite(SQLITE_CONSTRAINT_PRIMARYKEY, "", false, false).sql_state, "23000");
    EXPECT_STREQ(DiagnoseSqlite(SQLITE_CANTOPEN, "", false, false).sql_state, "08001");
}

}  // namespace
}  // namespace korado::dataaccess
