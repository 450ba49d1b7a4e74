// Pieces of the platform stand-in that need no database: connection strings, ISO dates and decimals in
// text, the client cursor's row store, the SQLite provider's type and error mappings.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "dataaccess/client_rows.h"
#include "dataaccess/connection_string.h"
#include "dataaccess/providers/sqlite/sqlite_provider.h"
#include "dataaccess/value_text.h"
#include "korado/runtime/convert.h"
#include "support/raises.h"

namespace korado::dataaccess {
namespace {

TEST(ConnectionString, ParsesThePlatformsSyntaxNamesWhatIsWrongAndRoundTrips) {
    ConnectionString cs = ConnectionString::Parse(
        " Provider = SQLite ; data source='C:\\my ''data''.db';Extended Properties=\"a=1;b=2\";"
        "Driver={SQL Server}; PWD={p}}w;d} ;Flag;;");
    // Keys are found in any case; braces are kept for the driver.
    for (auto [key, value] :
         {std::pair{"provider", "SQLite"}, std::pair{"Data Source", "C:\\my 'data'.db"},
          std::pair{"EXTENDED PROPERTIES", "a=1;b=2"}, std::pair{"Driver", "{SQL Server}"},
          std::pair{"pwd", "{p}}w;d}"}, std::pair{"Flag", ""}})
        EXPECT_EQ(cs.Get(key), value) << key;
    EXPECT_EQ(std::tuple(cs.Entries().size(), cs.Entries()[0].first, cs.Has("Flag"), cs.Has("Missing")),
              std::tuple(6u, "Provider", true, false));

    // A later entry replaces the value and keeps the place.
    cs = ConnectionString::Parse("a=1;B=2;A=3");
    EXPECT_EQ(cs.ToString(), "a=3;B=2");
    cs.Remove("b");
    cs.Set("New", " padded; value ");
    EXPECT_EQ(cs.ToString(), "a=3;New=\" padded; value \"");
    EXPECT_EQ(ConnectionString::Parse(cs.ToString()).Get("new"), " padded; value ");

    for (auto [text, says, where] : {std::tuple{"a='x", "unbalanced quote (')", "character 3"},
                                     std::tuple{"a=1;b=\"x;c=2", "unbalanced quote (\")", "character 7"},
                                     std::tuple{"=1", "entry without a key", "character 1"},
                                     std::tuple{"a=1; = 2", "entry without a key", "character 5"},
                                     std::tuple{"a={x;b=1", "unbalanced brace", "character 3"},
                                     std::tuple{"a='x'y", "text after a closing quote", "character 6"},
                                     std::tuple{"a={x}y", "text after a closing brace", "character 6"}}) {
        std::optional<Error> e =
            test::RaisedError([t = text] { ConnectionString::Parse(t, "ADODB.Recordset"); });
        test::ExpectError(e, ado::adErrInvalidArgument, "ADODB.Recordset");
        for (const char* piece : {says, where})
            EXPECT_NE(e.value_or(Error(0, "", "")).Description().find(piece), std::string::npos) << text;
    }

    // Any entries survive the way through text.
    std::mt19937 rng(12345);
    const std::string alphabet = "ab =;'\"{} \t";
    for (int n = 0; n < 2000; ++n) {
        ConnectionString cs;
        for (auto entries = rng() % 4; entries > 0; --entries) {
            std::string value;
            for (int k = static_cast<int>(rng() % 6); k > 0; --k) value += alphabet[rng() % alphabet.size()];
            cs.Set('k' + std::to_string(rng() % 3), value);
        }
        ConnectionString again = ConnectionString::Parse(cs.ToString());
        ASSERT_EQ(again.Entries(), cs.Entries()) << cs.ToString();
    }
}

TEST(ValueText, IsoDatesBothWaysAndExactDecimals) {
    const double day = DateSerial(2024, 5, 17).days, stamp = day + TimeSerial(13, 45, 30).days;
    // A zone is dropped; before day 0 the time still counts forward from midnight: 1899-12-29 06:00 is -1.25.
    for (auto [text, days] :
         {std::pair{"2024-05-17", day}, std::pair{"2024-05-17 13:45:30", stamp},
          std::pair{"2024-05-17T13:45:30.250Z", stamp + 0.25 / 86400},
          std::pair{"2024-05-17 13:45:30+02:00", stamp}, std::pair{"13:45", TimeSerial(13, 45, 0).days},
          std::pair{"2024-02-29", DateSerial(2024, 2, 29).days}, std::pair{"1899-12-29 06:00:00", -1.25}})
        EXPECT_NEAR(ParseIsoDate(text).value_or(Date{std::nan("")}).days, days, 1e-9) << text;
    // PostgreSQL's microseconds just before midnight keep the value on its day (and within the calendar).
    EXPECT_EQ(CStr(*ParseIsoDate("9999-12-31 23:59:59.999999")), "9999-12-31 23:59:59");
    EXPECT_GT(ParseIsoDate("1800-01-01 23:59:59.99999999")->days, DateSerial(1799, 12, 31).days);
    for (const char* bad : {"2024-02-30", "2023-02-29", "2024-13-01", "2024-5-17", "24:00", "2024-05-17X", "",
                            "abc", "2024-05-17 13:45:30 PM"})
        EXPECT_FALSE(ParseIsoDate(bad)) << bad;
    for (auto [days, style, text] : {std::tuple{day, IsoStyle::kAuto, "2024-05-17"},
                                     std::tuple{stamp, IsoStyle::kAuto, "2024-05-17 13:45:30"},
                                     std::tuple{TimeSerial(8, 5, 9).days, IsoStyle::kAuto, "08:05:09"},
                                     std::tuple{day, IsoStyle::kDateTime, "2024-05-17 00:00:00"},
                                     std::tuple{stamp, IsoStyle::kDate, "2024-05-17"},
                                     std::tuple{stamp + 0.125 / 86400, IsoStyle::kTime, "13:45:30.125"},
                                     std::tuple{-1.25, IsoStyle::kAuto, "1899-12-29 06:00:00"}})
        EXPECT_EQ(FormatIsoDate(Date{days}, style), text);
    for (const char* text : {"1900-01-01", "2099-12-31 23:59:59", "1755-07-04 12:00:00", "00:00:01"})
        EXPECT_EQ(FormatIsoDate(*ParseIsoDate(text), IsoStyle::kAuto), text);

    // Decimals in text, exactly.
    auto text = [](const std::optional<Decimal>& d) { return d ? FormatDecimal(*d) : std::string("none"); };
    EXPECT_EQ(ParseDecimal("-12.50"), (Decimal{-1250, 2}));
    for (auto [in, out] : {std::pair{"1.5E+3", "1500"}, std::pair{"2.5e-3", "0.0025"},
                           std::pair{"79228162514264337593543950335", "79228162514264337593543950335"},
                           std::pair{"0.12345678901234567890123456789", "0.1234567890123456789012345679"}})
        EXPECT_EQ(text(ParseDecimal(in)), out) << in;
    for (const char* bad : {"", "-", ".", "1e", "1.2.3", "12a", "1e+", "79228162514264337593543950336"})
        EXPECT_FALSE(ParseDecimal(bad)) << bad;
    // 2.675 as a double is 2.67499999...
    for (auto [d, out] :
         {std::pair{DecimalFromDouble(0.1, -1), "0.1"}, std::pair{DecimalFromDouble(2.675, 2), "2.67"},
          std::pair{RescaleDecimal(*ParseDecimal("1.005"), 2), "1.01"},
          std::pair{RescaleDecimal(*ParseDecimal("-1.005"), 2), "-1.01"}})
        EXPECT_EQ(text(d), out);
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
    const std::vector<Variant> reversed(std::rbegin(values), std::rend(values));
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
    EXPECT_EQ(std::tuple(rows.IsNull(0, 1), rows.IsNull(0, 0)), std::tuple(true, false));
    EXPECT_EQ(std::tuple(rows.CellSize(0, 12), rows.CellSize(1, 13), rows.CellSize(0, 5)),
              std::tuple(std::string("Grüße 😀").size(), std::size_t{3000000}, std::size_t{4}));
}

// The declared types a SQLite table of every supported type reads back (the sqlite recordset tests) are left
// to that round trip; here the spellings and the affinity rules it does not use.
TEST(SqliteTypes, DeclaredTypesAndResultCodes) {
    using sqlite::MapDeclaredType;
    using T = std::tuple<const char*, std::int32_t, std::int32_t, int, int>;
    for (auto [declared, type, size, precision, scale] :
         {T{"int", ado::adInteger, 4, 10, 255}, T{"SmallInt", ado::adSmallInt, 2, 5, 255},
          T{"TINYINT", ado::adSmallInt, 2, 5, 255}, T{"DOUBLE PRECISION", ado::adDouble, 8, 15, 255},
          T{"DECIMAL( 8 , 3 )", ado::adNumeric, 19, 8, 3}, T{"NUMERIC", ado::adNumeric, 19, 18, 0},
          T{"NVARCHAR(10)", ado::adVarWChar, 10, 255, 255}, T{"VARCHAR", ado::adLongVarWChar, -1, 255, 255},
          T{"VARBINARY(16)", ado::adVarBinary, 16, 255, 255}, T{"DATE", ado::adDBDate, 6, 10, 255},
          T{"TIME", ado::adDBTime, 6, 8, 255}, T{"TIMESTAMP WITH TIME ZONE", ado::adDBTimeStamp, 16, 19, 255},
          T{"MONEY", ado::adCurrency, 8, 19, 255},
          // SQLite's affinity rules for the rest.
          T{"UNSIGNED MEDIUM INTEGER", ado::adBigInt, 8, 19, 255},
          T{"CHARACTER VARYING(5)", ado::adVarWChar, 5, 255, 255},
          T{"NATIVE TEXTISH", ado::adLongVarWChar, -1, 255, 255}, T{"FLOATING", ado::adDouble, 8, 15, 255}}) {
        sqlite::ColumnType t = MapDeclaredType(declared);
        EXPECT_EQ(std::tuple(t.declared, t.type, t.defined_size, t.precision, t.scale),
                  std::tuple(true, type, size, precision, scale))
            << declared;
    }
    EXPECT_FALSE(MapDeclaredType("").declared || MapDeclaredType("JSON").declared);
    EXPECT_EQ(
        std::tuple(sqlite::TypeOfValue(SQLITE_INTEGER, 0).type, sqlite::TypeOfValue(SQLITE_TEXT, 300).type,
                   sqlite::TypeOfValue(SQLITE_NULL, 0).type),
        std::tuple(ado::adBigInt, ado::adLongVarWChar, ado::adVarWChar));

    // The codes a real file produces (missing table, syntax, duplicate, constraint, read-only, timeout,
    // cannot open, not a database) are checked end to end in the sqlite suite; here the ones no test file can
    // raise.
    using D = std::tuple<int, const char*, std::int32_t>;
    for (auto [code, message, number] :
         {D{SQLITE_ERROR, "cannot commit - no transaction is active", hr::E_FAIL},
          D{SQLITE_BUSY, "database is locked", hr::E_FAIL}, D{SQLITE_LOCKED, "", hr::DB_E_TABLEINUSE},
          D{SQLITE_INTERRUPT, "interrupted", hr::DB_E_CANCELED}, D{SQLITE_TOOBIG, "", hr::DB_E_DATAOVERFLOW},
          D{SQLITE_MISMATCH, "", hr::DB_E_CANTCONVERTVALUE}})
        EXPECT_EQ(sqlite::DiagnoseSqlite(code, message, false, false).number, number) << code << message;
    EXPECT_STREQ(sqlite::DiagnoseSqlite(SQLITE_CONSTRAINT_PRIMARYKEY, "", false, false).sql_state, "23000");
}

}  // namespace
}  // namespace korado::dataaccess
