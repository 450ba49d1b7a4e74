// The ODBC bridge's pure mappings: what the platform reports for a driver's SQLSTATE, type and
// information values, how connection strings and procedure calls are written for the driver, and how text,
// numbers and dates are read from a driver's buffers.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "dataaccess/providers/odbc/odbc_provider.h"
#include "dataaccess/providers/odbc/odbc_text.h"
#include "dataaccess/providers/odbc/odbc_values.h"
#include "korado/runtime/convert.h"

namespace korado::dataaccess::odbc {
namespace {

TEST(OdbcMapping, SqlStatesLostConnectionsTheDriverManagersNameAndInformationValues) {
    auto maps = [](std::int32_t number, std::initializer_list<const char*> states) {
        for (const char* state : states) EXPECT_EQ(NumberForSqlState(state), number) << state;
    };
    // Data source not found, a warning record inside a failure, and anything unknown are general failures.
    maps(hr::E_FAIL, {"IM002", "08001", "HY000", "01000", "", "4"});
    maps(hr::DB_E_NOTABLE, {"42S02", "S0002"});
    maps(hr::DB_E_ERRORSINCOMMAND, {"42P01", "42000", "37000"});  // 42P01: PostgreSQL's own class-42 state
    maps(hr::DB_E_DATAOVERFLOW, {"22001", "22003"});
    maps(hr::DB_E_CANTCONVERTVALUE, {"22018", "22P02"});
    maps(hr::DB_E_INTEGRITYVIOLATION, {"23505"});
    maps(hr::DB_SEC_E_AUTH_FAILED, {"28000", "28P01"});
    maps(hr::DB_E_PARAMNOTOPTIONAL, {"07001", "07002"});
    maps(hr::DB_E_ABORTLIMITREACHED, {"HYT00", "HYT01"});
    maps(hr::DB_E_CANCELED, {"HY008", "57014"});

    // A driver's own prefixes and text stay as they are; only trailing line breaks go.
    for (auto [driver, platform] :
         {std::pair{"[unixODBC][Driver Manager]Data source name not found",
                    "[unixODBC][ODBC Driver Manager]Data source name not found"},
          std::pair{"[unixODBC][Driver Manager]a [unixODBC][Driver Manager]b\r\n",
                    "[unixODBC][ODBC Driver Manager]a [unixODBC][ODBC Driver Manager]b"},
          std::pair{"[ma-3.1.15]Access denied for user 'x'", "[ma-3.1.15]Access denied for user 'x'"},
          std::pair{"FATAL:  password authentication failed\n", "FATAL:  password authentication failed"},
          std::pair{"ERROR: boom;\nError while executing", "ERROR: boom;\nError while executing"},
          std::pair{"", ""}})
        EXPECT_EQ(PlatformDescription(driver), platform) << driver;
    // 57P01: PostgreSQL's "terminating connection due to administrator command".
    for (const char* state : {"08S01", "08003", "57P01"}) EXPECT_TRUE(IsConnectionLost(state)) << state;
    for (const char* state : {"42P01", "HY000"}) EXPECT_FALSE(IsConnectionLost(state)) << state;

    // The driver's table types the platform does not name.
    for (auto [driver, platform] :
         {std::pair{"BASE TABLE", "TABLE"}, std::pair{"view", "VIEW"}, std::pair{"MATVIEW", "VIEW"},
          std::pair{"FOREIGN TABLE", "TABLE"}, std::pair{"LOCAL TEMPORARY", "LOCAL TEMPORARY"}})
        EXPECT_EQ(PlatformTableType(driver), platform) << driver;
}

TEST(OdbcMapping, SqlTypesSizesAndLongColumns) {
    using K = ValueKind;
    constexpr std::int32_t kFixed = ado::adFldFixed, kLong = ado::adFldLong;
    // SQL type, column size, decimal digits, unsigned; the platform type, the kind read, the defined size,
    // the fixed and long attributes, and long data. Longer than 255 characters: long attribute, still bound
    // while within the bind limit. psqlODBC's text is a LONG type with a nominal size; MariaDB's LONGTEXT is
    // 4 GB: both long data, the latter unlimited.
    using C = std::tuple<int, std::uint64_t, int, bool, std::int32_t, K, std::int32_t, std::int32_t, bool>;
    const C cases[] = {
        C{SQL_CHAR, 10, 0, false, ado::adChar, K::kText, 10, kFixed, false},
        C{SQL_WVARCHAR, 40, 0, false, ado::adVarWChar, K::kText, 40, 0, false},
        C{SQL_WVARCHAR, 1000, 0, false, ado::adVarWChar, K::kText, 1000, kLong, false},
        C{SQL_WVARCHAR, 5000, 0, false, ado::adVarWChar, K::kText, 5000, kLong, true},
        C{SQL_WVARCHAR, 0, 0, false, ado::adVarWChar, K::kText, -1, kLong, true},
        C{SQL_LONGVARCHAR, 8190, 0, false, ado::adLongVarChar, K::kText, 8190, kLong, true},
        C{SQL_WLONGVARCHAR, 8190, 0, false, ado::adLongVarWChar, K::kText, 8190, kLong, true},
        C{SQL_WLONGVARCHAR, 4294967295u, 0, false, ado::adLongVarWChar, K::kText, -1, kLong, true},
        C{SQL_DECIMAL, 10, 2, false, ado::adNumeric, K::kNumeric, 19, kFixed, false},
        C{SQL_TINYINT, 3, 0, false, ado::adSmallInt, K::kInt16, 2, kFixed, false},
        C{SQL_TINYINT, 3, 0, true, ado::adUnsignedSmallInt, K::kInt32, 2, kFixed, false},
        C{SQL_SMALLINT, 5, 0, true, ado::adUnsignedSmallInt, K::kInt32, 2, kFixed, false},
        C{SQL_INTEGER, 10, 0, true, ado::adUnsignedInt, K::kInt64, 4, kFixed, false},
        C{SQL_BIGINT, 20, 0, true, ado::adUnsignedBigInt, K::kUInt64, 8, kFixed, false},
        C{SQL_REAL, 7, 0, false, ado::adSingle, K::kSingle, 4, kFixed, false},
        C{SQL_BIT, 1, 0, false, ado::adBoolean, K::kBool, 2, kFixed, false},
        C{SQL_BINARY, 16, 0, false, ado::adBinary, K::kBinary, 16, kFixed, false},
        C{SQL_LONGVARBINARY, 0, 0, false, ado::adLongVarBinary, K::kBinary, -1, kLong, true},
        C{SQL_TYPE_TIME, 8, 0, false, ado::adDBTime, K::kTime, 6, kFixed, false},
        C{SQL_INTERVAL_DAY_TO_SECOND, 30, 6, false, ado::adVarWChar, K::kText, 30, 0, false}};
    for (auto [sql_type, size, digits, is_unsigned, type, kind, defined_size, attributes, long_data] :
         cases) {
        FieldType f = MapSqlType(sql_type, size, digits, is_unsigned);
        EXPECT_EQ(std::tuple(f.type, f.kind, f.defined_size, f.attributes & (kFixed | kLong), f.long_data),
                  std::tuple(type, kind, defined_size, attributes, long_data))
            << "SQL type " << sql_type << " / " << size;
    }
    FieldType n = MapSqlType(SQL_NUMERIC, 12, 3, false);
    EXPECT_EQ(std::tuple(n.precision, n.scale), std::tuple(12, 3));
}

TEST(OdbcMapping, DecimalDigits) {
    auto dec = [](std::string_view t) { return ParseDecimalText(t); };
    constexpr __int128 k19Nines = 9999999999999999999ULL;
    for (auto [text, d] :
         {std::pair{"123.4500", Decimal{1234500, 4}}, std::pair{"-0.05", Decimal{-5, 2}},
          std::pair{"+7", Decimal{7, 0}}, std::pair{"0", Decimal{0, 0}}, std::pair{".5", Decimal{5, 1}},
          std::pair{"1e3", Decimal{1000, 0}}, std::pair{"1.5E-3", Decimal{15, 4}},
          std::pair{"79228162514264337593543950335", Decimal{(static_cast<__int128>(1) << 96) - 1, 0}},
          // More than 28 decimals: rounded half to even at the 28th.
          std::pair{"0.00000000000000000000000000005", Decimal{0, 28}},
          std::pair{"0.00000000000000000000000000015", Decimal{2, 28}},
          // Around the 19 digits the plain form reads in 64 bits, and the forms it leaves to the general
          // reading.
          std::pair{"9999999999999999999", Decimal{k19Nines, 0}},
          std::pair{"-999999999999999999.9", Decimal{-k19Nines, 1}},
          std::pair{".9999999999999999999", Decimal{k19Nines, 19}},
          std::pair{"99999999999999999999", Decimal{k19Nines * 10 + 9, 0}},  // 20 digits
          std::pair{"18446744073709551616", Decimal{static_cast<__int128>(1) << 64, 0}},
          std::pair{"0.0000000000000000001", Decimal{1, 19}},  // 20 digits with the leading zero
          std::pair{"-0.00", Decimal{0, 0}}, std::pair{"+000", Decimal{0, 0}}, std::pair{"5.", Decimal{5, 0}},
          std::pair{"-.5", Decimal{-5, 1}}, std::pair{"007.50", Decimal{750, 2}},
          std::pair{" 12.5\t", Decimal{125, 1}}, std::pair{"-1234.56", Decimal{-123456, 2}}})
        EXPECT_EQ(dec(text), d) << text;
    // 2^96 (only a Double holds it), and texts that are no number.
    for (const char* text : {"79228162514264337593543950336", "", "abc", "1e", "NaN", ".", "-", "+", "1.2.3",
                             "--1", "1-", "12a", "1 2", "0x10", "\xEF\xBC\x91"})
        EXPECT_FALSE(dec(text).has_value()) << text;
    // Too many digits for 96 bits with decimals: decimals give way (29 digits fit below 2^96).
    EXPECT_EQ(dec("12345678901234567890.123456789012").value_or(Decimal{}).scale, 9);
    Decimal untouched{42, 1};
    for (const char* text : {" 1", "1e3", "12345678901234567890"})
        EXPECT_FALSE(ParsePlainDecimal(text, untouched)) << text;
    EXPECT_EQ(untouched, (Decimal{42, 1}));

    // The plain form reads what the general reading reads (a leading blank sends a text there), for texts
    // of every length around its limit; whatever it leaves, the general reading still takes.
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (int n = 0; n < 20000; ++n) {
        std::string text = random() % 2 ? "" : random() % 2 ? "-" : "+";
        std::size_t digits = random() % 23;
        std::size_t point = random() % (digits + 3);  // past the end: no point
        for (std::size_t i = 0; i < digits; ++i) {
            if (i == point) text += '.';
            // Leading zeros and zeros alone, often.
            text += random() % 3 == 0 ? '0' : static_cast<char>('0' + random() % 10);
        }
        if (point == digits) text += '.';
        if (random() % 16 == 0) text.insert(random() % (text.size() + 1), 1, "e .x"[random() % 4]);
        std::optional<Decimal> general = dec(" " + text);
        EXPECT_EQ(dec(text), general) << text;
        Decimal plain;
        EXPECT_TRUE(!ParsePlainDecimal(text, plain) || plain == general) << text;
    }
}

TEST(OdbcMapping, ConnectionStringsFromThePlatformStringAndProcedureCalls) {
    EXPECT_EQ(SplitOdbcString("DSN=x;UID=u; PWD = {a;b} ;Port=5432;Flag;"),
              (OdbcAttributes{{"DSN", "x"}, {"UID", "u"}, {"PWD", "{a;b}"}, {"Port", "5432"}, {"Flag", ""}}));
    EXPECT_EQ(JoinOdbcString({{"DSN", "x"}, {"PWD", "a;b"}, {"DRIVER", "{PostgreSQL Unicode}"}}),
              "DSN=x;PWD={a;b};DRIVER={PostgreSQL Unicode};");
    // A value with the syntax's own characters is braced with its "}" doubled, and read back as one value.
    const std::string hostile =
        JoinOdbcString({{"UID", "a;Database=other"}, {"PWD", "x}};y"}, {"Database", "p=q"}});
    EXPECT_EQ(hostile, "UID={a;Database=other};PWD={x}}}};y};Database={p=q};");
    EXPECT_EQ(SplitOdbcString(hostile),
              (OdbcAttributes{{"UID", "{a;Database=other}"}, {"PWD", "{x}}}};y}"}, {"Database", "{p=q}"}}));

    EXPECT_EQ(RemovePasswords("DSN=korado_pg;DATABASE=korado;UID=korado;PWD=secret;SSLmode=disable;"),
              "DSN=korado_pg;DATABASE=korado;UID=korado;SSLmode=disable;");
    EXPECT_EQ(RemovePasswords("DSN=x;pwd={se;cret};Password=p"), "DSN=x;");

    ConnectionString cs = ConnectionString::Parse(
        "Persist Security Info=False;Data Source=korado_pg;User ID=alice;Password=pw;Connect Timeout=5;"
        "Extended Properties=\"SSLmode=disable;Port=1\";Port=2;Initial Catalog=x");
    OdbcAttributes a = DriverConnectAttributes(cs, "", "");
    EXPECT_EQ(JoinOdbcString(a), "DSN=korado_pg;Port=2;SSLmode=disable;UID=alice;PWD=pw;");

    // The Open arguments win; a DRIVER string keeps its braces and goes first.
    a = DriverConnectAttributes(
        ConnectionString::Parse("Database=korado;DRIVER={PostgreSQL Unicode};UID=a;PWD=b"), "bob", "secret");
    EXPECT_EQ(JoinOdbcString(a), "DRIVER={PostgreSQL Unicode};Database=korado;UID=bob;PWD=secret;");
    EXPECT_EQ(ConnectTarget(a), (std::pair<std::string, std::string>{"DRIVER", "PostgreSQL Unicode"}));

    a = DriverConnectAttributes(ConnectionString::Parse("DSN=korado_maria"), "", "");
    EXPECT_EQ(ConnectTarget(a), (std::pair<std::string, std::string>{"DSN", "korado_maria"}));
    EXPECT_EQ(ConnectTarget({}), (std::pair<std::string, std::string>{"", ""}));

    // psqlODBC gets statement-level rollback and real Booleans unless the string says otherwise.
    constexpr auto kPg = DriverKind::kPostgreSQL;
    const std::string pg = "DSN=korado_pg;Protocol=7.4-2;BoolsAsChar=0;UseDeclareFetch=1;Fetch=10000";
    const std::string own = "DSN=p;protocol=7.4-1;UseDeclareFetch=0;BoolsAsChar=0";
    for (auto [given, kind, completed] : {std::tuple{"DSN=korado_pg", kPg, pg},
                                          std::tuple{"DSN=p;protocol=7.4-1;UseDeclareFetch=0", kPg, own},
                                          std::tuple{"DSN=m", DriverKind::kMariaDB, std::string("DSN=m")}}) {
        OdbcAttributes options = SplitOdbcString(given);
        AddDriverOptions(options, kind);
        EXPECT_EQ(JoinOdbcString(options), completed + ";");
    }
    // The rows per FETCH of psqlODBC's server cursor are known only when the string settles them (not
    // from the DSN, unknown here), and used only with statement-level rollback.
    // The attributes, the driver; the rows per FETCH, and whether the options must be added again.
    using Fetch = std::tuple<std::string, DriverKind, std::size_t, bool>;
    for (auto [attributes, kind, rows, needs_options] :
         {Fetch{pg, kPg, 10000, false}, Fetch{own, kPg, 0, true},
          Fetch{"DSN=p;Protocol=7.4-2;UseDeclareFetch=1", kPg, 0, false},
          Fetch{"DSN=p;Protocol=7.4-2;UseDeclareFetch=1;Fetch= 2000 ", kPg, 2000, false},
          Fetch{"DSN=p;Protocol=7.4-2;UseDeclareFetch=1;Fetch=2k", kPg, 0, false},
          Fetch{pg, DriverKind::kMariaDB, 0, false},
          Fetch{"DSN=p;Protocol=7.4-1;BoolsAsChar=0", kPg, 0, true},
          Fetch{"DSN=p;Protocol=7.4;BoolsAsChar=1", kPg, 0, true},
          Fetch{"DSN=p;Protocol=7.4-2;BoolsAsChar=0", kPg, 0, false},
          Fetch{"DSN=p;BoolsAsChar=1", DriverKind::kMariaDB, 0, false}}) {
        OdbcAttributes a = SplitOdbcString(attributes);
        EXPECT_EQ(std::tuple(ServerCursorFetchRows(a, kind), NeedsDriverOptions(a, kind)),
                  std::tuple(rows, needs_options))
            << attributes;
    }
    for (auto [name, file, kind] :
         {std::tuple{"PostgreSQL Unicode", "", kPg}, std::tuple{"", "/usr/lib/odbc/psqlodbcw.so", kPg},
          std::tuple{"MariaDB Unicode", "libmaodbc.so", DriverKind::kMariaDB},
          std::tuple{"SQLite3", "libsqlite3odbc.so", DriverKind::kSQLite},
          std::tuple{"Oracle", "libsqora.so", DriverKind::kOther}})
        EXPECT_EQ(KindOfDriver(name, file), kind) << name << file;
    for (auto [name, params, returns, call] : {std::tuple{"add_one", 2, false, "{call add_one(?, ?)}"},
                                               std::tuple{" add_one ", 1, true, "{? = call add_one(?)}"},
                                               std::tuple{"no_args", 0, false, "{call no_args()}"},
                                               std::tuple{"p(1, ?)", 1, false, "{call p(1, ?)}"},
                                               std::tuple{"{call p(?)}", 1, false, "{call p(?)}"}})
        EXPECT_EQ(ProcedureCallText(name, params, returns), call) << name;
    for (auto [call, statement] :
         {std::pair{"{call add_one(?, ?)}", "CALL add_one(?, ?)"}, std::pair{" { CALL s.p } ", "CALL s.p()"},
          std::pair{"{? = call add_one(?)}", ""}, std::pair{"add_one(?)", ""}})
        EXPECT_EQ(CallStatementText(call), statement) << call;
}

TEST(OdbcText, Utf16RoundTripsAndAsciiRunsAroundWiderCharacters) {
    const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // A é € 😀 z
    std::u16string w = ToUtf16(text);
    EXPECT_EQ(w, u"A\u00E9\u20AC\U0001F600z");  // the 4-byte character takes a surrogate pair
    EXPECT_EQ(ToUtf8(w), text);
    // Malformed input (a stray byte, a cut-short sequence, an overlong form) becomes U+FFFD and never reads
    // past the end.
    for (auto [utf8, units] :
         {std::pair{"a\xFFz", u"a\uFFFDz"}, std::pair{"\xF0\x9F\x98", u"\uFFFD\uFFFD\uFFFD"},
          std::pair{"\xC0\xAF", u"\uFFFD\uFFFD"}})
        EXPECT_EQ(ToUtf16(utf8), units) << utf8;

    // Pieces of known UTF-16 and UTF-8, strung together at random so that runs of ASCII of every length
    // start and end at every offset of the steps the ASCII is copied in, next to pairs split or not and
    // to lone surrogates (U+FFFD each).
    using Piece = std::pair<std::u16string, std::string>;  // UTF-16 units and their UTF-8
    // The last two are a lone high and a lone low surrogate.
    const std::vector<Piece> kPieces(
        {Piece{u"a", "a"}, Piece{u"\x7F", "\x7F"}, Piece{std::u16string(1, u'\0'), std::string(1, '\0')},
         Piece{u"\u00E9", "\xC3\xA9"}, Piece{u"\u0080", "\xC2\x80"}, Piece{u"\u20AC", "\xE2\x82\xAC"},
         Piece{u"\uFFFF", "\xEF\xBF\xBF"}, Piece{u"\U0001F600", "\xF0\x9F\x98\x80"},
         Piece{u"\U0010FFFF", "\xF4\x8F\xBF\xBF"}, Piece{std::u16string(1, char16_t{0xD800}), "\xEF\xBF\xBD"},
         Piece{std::u16string(1, char16_t{0xDFFF}), "\xEF\xBF\xBD"}});
    const std::size_t kLoneLow = kPieces.size() - 1;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::string out;
    for (int n = 0; n < 5000; ++n) {
        std::u16string units;
        std::string expected;
        std::size_t count = random() % 40;
        for (std::size_t i = 0; i < count; ++i) {
            // Mostly ASCII, as database text is; a lone high before a lone low would make a pair.
            std::size_t k = random() % 3 != 0 ? 0 : random() % kPieces.size();
            if (k == kLoneLow && !units.empty() && units.back() == 0xD800) k = 0;
            units += kPieces[k].first;
            expected += kPieces[k].second;
        }
        // The slot's old text is longer or shorter than the new one: none of it may remain.
        out.assign(random() % 80, '#');
        AssignUtf8(units.data(), units.size(), out);
        ASSERT_EQ(out, expected) << "piece count " << count;
    }
    // The edges by name: a lone surrogate inside, a high surrogate as the last unit, a pair straddling the
    // first eight units, a low surrogate first.
    for (auto [units, utf8] :
         {std::pair{u"x\xD800y", "x\xEF\xBF\xBDy"}, std::pair{u"abcdefg\xD800", "abcdefg\xEF\xBF\xBD"},
          std::pair{u"abcdefg\U0001F600h", "abcdefg\xF0\x9F\x98\x80h"},
          std::pair{u"\xDC00ghijklmnopqrstuv", "\xEF\xBF\xBDghijklmnopqrstuv"},
          std::pair{u"abcdefghijklmnop\xD83D", "abcdefghijklmnop\xEF\xBF\xBD"}, std::pair{u"", ""}})
        EXPECT_EQ(ToUtf8(units), utf8) << utf8;
}

TEST(OdbcValues, OneSlotRefilledWithEveryKind) {
    // A cursor writes each value into the Field's slot in place, whatever the slot held before: text,
    // bytes, an array, another number.
    std::int32_t i32 = -7;
    SQLBIGINT i64 = 1LL << 40;
    SQLUBIGINT u64 = ~0ULL;
    unsigned char bit = 2;
    SQL_TIMESTAMP_STRUCT leap{2024, 2, 29, 23, 59, 59, 250000000}, early{99, 12, 31, 1, 2, 3, 0};
    SQL_DATE_STRUCT no_such_day{2023, 2, 29};
    using Fill = std::pair<std::function<void(Variant&)>, Variant>;  // an assignment and the value it leaves
    auto fixed = [](ValueKind k, const void* p) { return [=](Variant& v) { AssignFixed(v, k, p); }; };
    // Years the automation date cannot hold, and impossible days, read as their text; a numeric past 96
    // bits is a Double; a kind that is not fixed-size leaves Null.
    const Fill fills[] = {
        {fixed(ValueKind::kInt32, &i32), Variant(-7)},
        {fixed(ValueKind::kInt64, &i64), Variant(1LL << 40)},
        {fixed(ValueKind::kUInt64, &u64), Variant(Decimal{~0ULL, 0})},
        {fixed(ValueKind::kBool, &bit), Variant(true)},
        {fixed(ValueKind::kTimestamp, &leap), Variant(DateFromParts({2024, 2, 29, 23, 59, 59, 0.25}))},
        {fixed(ValueKind::kTimestamp, &early), Variant("0099-12-31 01:02:03")},
        {fixed(ValueKind::kDate, &no_such_day), Variant("2023-02-29 00:00:00")},
        {[](Variant& v) { AssignNumeric(v, "-1234.50"); }, Variant(Decimal{-123450, 2})},
        {[](Variant& v) { AssignNumeric(v, "123456789012345678901234567890123"); },
         Variant(1.2345678901234568e32)},
        {[](Variant& v) { AssignNumeric(v, "NaN"); }, Variant("NaN")},
        {[](Variant& v) { AssignText(v, u"caf\u00E9", 4); }, Variant("caf\xC3\xA9")},
        {fixed(ValueKind::kText, &i32), Variant::Null()},
    };
    for (const Variant& before : {Variant(std::string(100, 'x')), Variant(Bytes(50, 7)), MakeArray(1, "two"),
                                  Variant(1.5), Variant::Null(), Variant()}) {
        for (const Fill& f : fills) {
            Variant slot = before;
            f.first(slot);
            EXPECT_EQ(slot, f.second) << "fill " << &f - fills << " over " << TypeName(before);
        }
    }
}

}  // namespace
}  // namespace korado::dataaccess::odbc
