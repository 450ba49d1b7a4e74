// Recordset.Filter criteria: the grammar the platform accepts and refuses, and how a row is compared.
#include "dataaccess/filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "korado/runtime/convert.h"
#include "korado/runtime/error.h"
#include "korado/runtime/strings.h"
#include "support/raises.h"

namespace korado::dataaccess {
namespace {

using Rows = std::vector<int>;

// A filter text and the 0-based rows it shows.
using V = std::pair<std::string, Rows>;

// A small table: the columns, and rows whose values have the kinds a cursor hands out.
struct Table {
    std::vector<std::string> names;
    std::vector<std::vector<Variant>> rows;

    int ColumnOf(std::string_view name) const {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (TextEquals(names[i], name)) return static_cast<int>(i);
        return -1;
    }

    FilterCriteria Parse(std::string_view text) const {
        return FilterCriteria::Parse(text, [this](std::string_view n) { return ColumnOf(n); });
    }

    // 0-based positions of the rows the criteria shows.
    std::vector<int> Visible(std::string_view text) const {
        FilterCriteria f = Parse(text);
        std::vector<int> out;
        for (std::size_t r = 0; r < rows.size(); ++r)
            if (f.Matches([&](int c) -> const Variant& { return rows[r].at(static_cast<std::size_t>(c)); }))
                out.push_back(static_cast<int>(r));
        return out;
    }

    // Each case's text shows exactly its rows.
    void Expect(std::initializer_list<V> cases) const {
        for (const auto& [text, rows] : cases) EXPECT_EQ(Visible(text), rows) << text;
    }
};

Table People() {
    Table t{{"Id", "Name", "Price", "Born", "Active", "Last Name", "Weight", "Big", "Cost", "Ratio"}};
    // Id Long, Name text, Price Double, Born Date, Active Boolean, [Last Name] text, Weight Single,
    // Big LongLong, Cost Currency, Ratio Decimal.
    const Variant null = Variant::Null();
    t.rows = {
        {1, "Smith", 10.5, DateSerial(1970, 4, 10), true, "O'Malley", 0.1f, 5000000000LL, Currency{105000},
         Decimal{1, 1}},
        {2, "smithers", 0.1, DateSerial(2024, 1, 1), false, "Jones", 72.5f, -1LL, Currency{3000000},
         Decimal{25, 2}},
        {3, "Jones", 300.0, Date{DateSerial(2024, 1, 1).days + 0.5}, true, "Smith", 1.0f, 0LL, Currency{1},
         Decimal{-5, 0}},
        {4, null, null, null, null, "", null, null, null, null},
        {5, "Blacksmith", -2.5e10, DateSerial(1995, 8, 24), false, "Müller", 3.5f, 42LL, Currency{0},
         Decimal{1000, 3}},
    };
    return t;
}

// The text is refused with 3001 (bad syntax) or 3265 (a name no column has).
void ExpectBad(const Table& t, std::string_view text, std::int32_t number = 3001) {
    std::optional<Error> e = test::RaisedError([&] { t.Parse(text); });
    ASSERT_TRUE(e) << "accepted: " << text;
    EXPECT_EQ(
        std::tuple(e->Number(), e->Source(), e->Description()),
        std::tuple(number, "ADODB.Recordset",
                   number == 3001 ? "Arguments are of the wrong type, are out of acceptable range, or are "
                                    "in conflict with one another."
                                  : "Item cannot be found in the collection corresponding to the "
                                    "requested name or ordinal."))
        << text;
}

TEST(FilterCriteria, ParsingRaises3001Or3265ResolvesNamesOnceAndTakesEmptyText) {
    Table t = People();
    for (const char* text :
         {// unbalanced quotes, brackets, # and parentheses
          "Name = 'Smith", "Name = Smith'", "[Last Name = 'x'", "Last Name] = 'x'", "Born = #1/1/2024",
          "(Id = 1", "Id = 1)", "((Id = 1) OR Id = 2", "Id = 1) OR (Id = 2",
          // missing pieces
          "Id", "Id 1", "= 1", "Id =", "Id = ", "[] = 1", "'Smith' = Name",
          // operators the platform does not have
          "Id == 1", "Id =< 1", "Id => 1", "Id != 1", "Name NOT LIKE 'a*'", "Name IS NULL", "Id >< 1",
          // empty clauses and dangling keywords
          "()", "(  )", "Id = 1 AND", "Id = 1 OR", "AND Id = 1", "Id = 1 AND AND Id = 2",
          "Id = 1 OR OR Id = 2", "Id = 1 AND ()", "Id = 1 Id = 2", "Id = 1 XOR Id = 2", "(Id = 1)(Id = 2)",
          // ORed groups ANDed with anything, either side, however deep
          "(Id = 1 OR Id = 2) AND Name = 'x'", "Name = 'x' AND (Id = 1 OR Id = 2)",
          "((Id = 1 AND Id = 2) OR Id = 3) AND Id = 4", "(Id = 1 OR Id = 2) AND (Id = 3 OR Id = 4)",
          // read left to right, this is (a OR b) AND c: refused rather than read as SQL would
          "Id = 1 OR Id = 2 AND Id = 3", "Id = 1 AND Id = 2 OR Id = 3 AND Id = 4",
          // values: bare words, numbers that are not, Null with an ordering operator
          "Name = Smith", "Active = True", "Id = 1x", "Id = 1.2.3", "Id = 1e", "Id = $$1", "Id = +-1",
          "Id = .", "Id = 1e99999", "Id > Null", "Id LIKE Null", "Id = NULLS", "Id = 0x10", "Id = &H10",
          // LIKE: wildcard in the middle, at the start only, or a value that is no text
          "Name LIKE 'Sm*th'", "Name LIKE 'S%m*'", "Name LIKE '*ith'", "Name LIKE '%ith'", "Name LIKE 'a**'",
          "Name LIKE '***'", "Id LIKE 1", "Born LIKE #1/1/2024#"})
        ExpectBad(t, text);

    // Nesting is bounded so that hostile text cannot exhaust the stack.
    std::string deep = std::string(100, '(') + "Id = 1" + std::string(100, ')');
    EXPECT_EQ(t.Visible(deep), Rows({0}));
    ExpectBad(t, std::string(101, '(') + "Id = 1" + std::string(101, ')'));
    ExpectBad(t, std::string(100000, '('));

    // Field names resolve once; unknown ones raise 3265.
    int calls = 0;
    auto counting = [&](std::string_view n) {
        ++calls;
        return t.ColumnOf(n);
    };
    FilterCriteria f = FilterCriteria::Parse("[Last Name] = 'Smith' OR name = 'x' OR ID > 2", counting);
    EXPECT_EQ(std::tuple(calls, f.Columns()), std::tuple(3, std::vector<int>{0, 1, 5}));
    Variant v;
    f.Matches([&](int) -> const Variant& { return v; });
    EXPECT_EQ(calls, 3);

    ExpectBad(t, "Id = 1 OR Nope = 2", 3265);
    // A blank inside an unbracketed name makes it two words: the syntax fails (3001) before the unknown name
    // is looked up (3265).
    ExpectBad(t, "Nope = 1 AND Last Name = 'x'");
    // The name in brackets is taken as it stands, blanks and all.
    ExpectBad(t, "[ Last Name] = 'x'", 3265);

    // Empty text shows every row.
    t.Expect({V{"[Last Name] = 'smith'", {2}}, V{"[Name]='Jones'", {2}}, V{"", {0, 1, 2, 3, 4}},
              V{"   ", {0, 1, 2, 3, 4}}, V{"\t\r\n", {0, 1, 2, 3, 4}}});
    for (const char* text : {"", "   ", "\t\r\n"})
        EXPECT_TRUE(t.Parse(text).Empty() && t.Parse(text).Columns().empty()) << text;
    EXPECT_TRUE(FilterCriteria().Empty() && !t.Parse("Id = 1").Empty());
}

// Each criterion against the People rows, by what it compares.
TEST(FilterCriteria, EachCriterionShowsItsRows) {
    Table t = People();
    t.Expect(
        {// AND and OR read left to right; (a AND b) OR c is the same under SQL precedence. Keywords need no
         // blanks next to quotes, brackets or parentheses.
         V{"Id = 1 AND Name = 'Smith'", {0}}, V{"Id = 1 and Name = 'Jones'", {}},
         V{"Id = 1 Or Id = 3 oR Id = 5", {0, 2, 4}}, V{"Id > 1 AND Id < 3 OR Id = 5", {1, 4}},
         V{"(Id = 1 AND Active = 0) OR (Id = 2 AND Active = 0)", {1}},
         V{"(Id = 1 AND Active = -1) OR (Id = 2 AND Active = 0)", {0, 1}},
         V{"(Id = 1 OR Id = 2) OR Id = 3", {0, 1, 2}},
         V{"((Id >= 1 AND Id <= 4) AND (Price > 0)) AND Active = 1", {0, 2}}, V{"(((Id = 4)))", {3}},
         V{"Id = 2 OR (Id = 3 OR (Id = 4 OR Id = 5))", {1, 2, 3, 4}},
         V{"Name='Smith'OR[Last Name]='Jones'", {0, 1}}, V{"(Id=1)OR(Id=2)", {0, 1}}, V{"\tId\n=\r\n3 ", {2}},
         // Numbers compare numerically; a fraction is not rounded to the column's integer type.
         V{"Id = 3", {2}}, V{"Id <> 3", {0, 1, 3, 4}}, V{"Id < 3", {0, 1}}, V{"Id <= 3", {0, 1, 2}},
         V{"Id > 3", {3, 4}}, V{"Id >= 3", {2, 3, 4}}, V{"Id = 2.5", {}}, V{"Id < 2.5", {0, 1}},
         V{"Id = 3.0", {2}}, V{"Id = 3E0", {2}}, V{"Id = .3e1", {2}}, V{"Id = 3.", {2}},
         V{"Id > -1 AND Id < +2", {0}},
         // Dollar signs, as the platform's examples write amounts; the sign may come on either side.
         V{"Price > $300.00", {}}, V{"Price >= $300.00", {2}}, V{"Price < -$1 OR Price < $-1", {4}},
         V{"Price = -2.5E+10", {4}}, V{"Price < -1e300", {}},
         // 0.1 is not exactly representable: the Double column compares with the Double the literal spells.
         V{"Price = 0.1", {1}}, V{"Weight = 0.1", {0}}, V{"Weight = 72.5 OR Weight > 1e300", {1}},
         V{"Weight > -1e300", {0, 1, 2, 4}}, V{"Big > 4999999999", {0}}, V{"Big = 5000000000", {0}},
         V{"Big = 5000000000.0000000001", {}},
         // Currency and Decimal compare exactly with the literal's decimal value; tiny values are not rounded
         // to zero on the way to a decimal.
         V{"Cost = 10.5", {0}}, V{"Cost = 0.0001", {2}}, V{"Cost > 0.00001 AND Cost < 0.0001", {}},
         V{"Cost = $300", {1}}, V{"Ratio = 0.1", {0}}, V{"Ratio = 1", {4}}, V{"Ratio <= 0.25", {0, 1, 2}},
         V{"Ratio > 0.0000000000000000000000000001", {0, 1, 4}}, V{"Big > 1e-40", {0, 4}},
         V{"Big = 1e-40", {}},
         // Text that reads as a number compares as one; text that does not matches no number.
         V{"Id = '3'", {2}}, V{"Id < ' 2 '", {0}}, V{"Id = 'three' OR Id <> 'three' OR Id < 'three'", {}},
         // Text compares without regard to case; '' stands for one quote.
         V{"Name = 'smith'", {0}}, V{"Name = 'SMITH'", {0}}, V{"Name <> 'smith'", {1, 2, 4}},
         V{"Name < 'K'", {2, 4}}, V{"Name <= 'jones'", {2, 4}}, V{"Name > 'smith'", {1}},
         V{"Name >= 'SMITH'", {0, 1}}, V{"[Last Name] = 'O''Malley'", {0}}, V{"[Last Name] = ''", {3}},
         // Dates compare as dates. Two-digit years as the platform's examples write them: 30-99 in the 1900s,
         // 00-29 in the 2000s. Text that reads as a date compares as one; other text, and #...# that is no
         // date, match no date. A number counts days, and against numbers a date is its day count.
         V{"Born = #1/1/2024#", {1}}, V{"Born = #2024-01-01#", {1}}, V{"Born = #2024-01-01 12:00:00#", {2}},
         V{"Born = #1/1/2024 12:00 PM#", {2}}, V{"Born <> #1/1/2024#", {0, 2, 4}},
         V{"Born > #1/1/2024#", {2}}, V{"Born >= #1/1/2024#", {1, 2}}, V{"Born < #1/1/2024#", {0, 4}},
         V{"Born <= #1/1/2024#", {0, 1, 4}}, V{"Born = #8/24/95#", {4}},
         V{"Born >= #4/10/70# AND Born < #1/1/24#", {0, 4}}, V{"Born = '1995-08-24'", {4}},
         V{"Born = 'yesterday' OR Born <> 'yesterday'", {}}, V{"Born = #13/45/2024#", {}},
         V{"Born = 45292", {1}}, V{"Price > #1/1/1900#", {0, 2}},
         // Booleans compare by truth.
         V{"Active = 1", {0, 2}}, V{"Active = -1", {0, 2}}, V{"Active = 0", {1, 4}}, V{"Active <> 0", {0, 2}},
         V{"Active = 'true'", {0, 2}}, V{"Active = 'False'", {1, 4}}, V{"Active = 'maybe'", {}},
         V{"Active = #1/1/2024#", {}},
         // Null matches only = Null; '' is an empty text, not Null.
         V{"Name = Null", {3}}, V{"Name = nUlL", {3}}, V{"Name <> NULL", {0, 1, 2, 4}},
         V{"Price = Null AND Born = Null", {3}}, V{"[Last Name] = Null", {}},
         // LIKE forms match without regard to case; "_" and "?" are no wildcards; non-text values match
         // through their text; #...# that is no date is text, usable as a pattern.
         V{"Name LIKE 'smi*'", {0, 1}}, V{"Name LIKE 'SMI%'", {0, 1}}, V{"Name like '*MITH*'", {0, 1, 4}},
         V{"Name LIKE '%mith%'", {0, 1, 4}}, V{"Name LIKE '*mith%'", {0, 1, 4}}, V{"Name LIKE 'smith'", {0}},
         V{"Name LIKE '*'", {0, 1, 2, 4}}, V{"Name LIKE '%'", {0, 1, 2, 4}},
         V{"Name LIKE '**'", {0, 1, 2, 4}}, V{"Name LIKE 'Smithers Jr*'", {}}, V{"[Last Name] LIKE ''", {3}},
         V{"[Last Name] LIKE 'o''m*'", {0}}, V{"Name LIKE 'sm_th*' OR Name LIKE 'sm?th*'", {}},
         V{"Id LIKE '3'", {2}}, V{"Price LIKE '10.*'", {0}}, V{"Born LIKE '2024-01-01*'", {1, 2}},
         V{"Active LIKE 'tr*'", {0, 2}}, V{"Cost LIKE '*.5*'", {0}}, V{"Name LIKE #'*#", {}}});
    // No comparison with a value, LIKE included, ever shows a row whose field is Null.
    for (const char* text : {"Name = 'x'", "Name <> 'x'", "Name < 'zzz'", "Name > ''", "Name LIKE '*'",
                             "Name LIKE '**'", "Price <> 0", "Price < 1e300", "Born <> #1/1/2024#",
                             "Active <> 1", "Weight >= -1e300", "Big <> 0", "Cost <> 0", "Ratio <> 0"}) {
        Rows r = t.Visible(text);
        EXPECT_EQ(std::count(r.begin(), r.end(), 3), 0) << text;
    }
}

// Small tables for the edges the People rows do not hold: large numbers, quotes, text beyond ASCII, values
// that cannot compare; and copies of criteria.
TEST(FilterCriteria, EdgesOfSmallTablesAndCopies) {
    // Scaling a large integer or currency to 28 decimal places leaves 128 bits: still exact, no overflow.
    Table large{{"n"}, {{Variant(9000000000000000000LL)}, {Variant(Currency{-9000000000000000000LL})}}};
    large.Expect({V{"n > 0.0000000000000000000000000001", {0}}, V{"n < -0.0000000000000000000000000001", {1}},
                  V{"n = 9000000000000000000.000000001", {}},
                  V{"n < 9000000000000000000.000000001 AND n > 8999999999999999999.999999999", {0}}});
    // #...# lets a value begin and end with a quote.
    Table q{{"col1"}, {{Variant("'1'")}, {Variant("1")}, {Variant("''")}}};
    q.Expect({V{"col1 = #'1'#", {0}}, V{"col1 = ''''''", {2}}, V{"col1 = '1'", {1}}});
    // A number against text compares as written, without the dollar sign.
    q.rows = {{Variant("007")}, {Variant("7")}, {Variant("50.00")}};
    q.Expect({V{"col1 = 007", {0}}, V{"col1 = 7", {1}}, V{"col1 = $50.00", {2}}});
    // A date against text compares as the runtime writes dates.
    q.rows = {{Variant("2024-01-01")}, {Variant("1/1/2024")}};
    q.Expect({V{"col1 = #1/1/2024#", {0}}});
    q.rows = {{Variant("'x")}, {Variant("x")}};
    q.Expect({V{"col1 LIKE #'*#", {0}}});
    // Empty (a new row's unset field) counts as Null.
    Table e{{"x"}, {{Variant()}, {Variant(0)}, {Variant("")}}};
    e.Expect({V{"x = Null", {0}}, V{"x <> Null", {1, 2}}, V{"x = 0 OR x = ''", {1, 2}}});

    Table t{{"Wort", "Größe"}};
    t.rows = {{Variant("Straße"), Variant(1)}, {Variant("ÉCOLE"), Variant(2)},
              {Variant("école"), Variant(3)},  {Variant("Ökonom"), Variant(4)},
              {Variant("zebra"), Variant(5)},  {Variant("日本語テキスト"), Variant(6)}};
    t.Expect(
        {V{"Wort = 'école'", {1, 2}}, V{"Wort = 'STRASSE'", {0}}, V{"Wort LIKE 'STRASS*'", {0}},
         V{"Wort LIKE '*cOL*'", {1, 2}}, V{"Wort LIKE 'öko%'", {3}}, V{"Wort LIKE '*テキ*'", {5}},
         V{"Wort LIKE '日本*'", {5}},
         // Ordered by character: every letter beyond ASCII sorts after "zebra", whatever its UTF-8 bytes.
         V{"Wort > 'zebra'", {1, 2, 3, 5}}, V{"Wort < 'É'", {0, 4}},
         // Names beyond ASCII, bracketed or not, in any letter case.
         V{"Größe = 4", {3}}, V{"[GRÖSSE] >= 6", {5}}});
    // A malformed byte is a character of its own and never read past.
    t.rows = {{Variant(std::string("a\xC3")), Variant(1)}, {Variant(std::string("\xE2\x82")), Variant(2)}};
    t.Expect({V{"Wort LIKE 'A*'", {0}}, V{"Wort = 'A\xC3'", {0}}, V{"Wort LIKE '*\x82*'", {1}}});

    // Values that cannot compare match nothing; copies of criteria are independent values.
    t = Table{{"v"}};
    t.rows = {{Variant(Bytes{1, 2})},       {MakeArray(1, 2)},        {CVErr(2015)},
              {Variant(std::nan(""))},      {Variant(std::nanf(""))}, {Variant(Date{1e300})},
              {Variant(Date{std::nan("")})}};
    for (const char* text : {"v = 1", "v <> 1", "v < 1", "v > 1", "v = 'a'", "v <> 'a'", "v LIKE '*'",
                             "v = #1/1/2024#", "v <> #1/1/2024#", "v = Null"})
        EXPECT_EQ(t.Visible(text), Rows({})) << text;
    EXPECT_EQ(t.Visible("v <> Null"), Rows({0, 1, 2, 3, 4, 5, 6}));

    t = People();
    FilterCriteria a = t.Parse("Name LIKE 'smi*' AND Id > 1");
    FilterCriteria b = a;
    FilterCriteria c = std::move(a);
    a = t.Parse("Id = 5");
    auto row = [&](int r) { return [&t, r](int col) -> const Variant& { return t.rows[r].at(col); }; };
    EXPECT_EQ(std::tuple(b.Matches(row(1)), c.Matches(row(1)), c.Matches(row(0)), a.Matches(row(4)),
                         a.Matches(row(1))),
              std::tuple(true, true, false, true, false));
}

}  // namespace
}  // namespace korado::dataaccess
