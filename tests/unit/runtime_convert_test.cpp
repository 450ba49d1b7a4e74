// Conversions and comparisons with the host language's rules, under the fixed invariant locale.
#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "korado/runtime/collection.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/strings.h"
#include "support/raises.h"

namespace korado {

// Readable failure messages.
void PrintTo(const Decimal& d, std::ostream* os) {
    *os << FormatDecimal(d) << " (scale " << int{d.scale} << ")";
}
void PrintTo(Date d, std::ostream* os) { *os << "Date{" << FormatDouble(d.days) << "}"; }

namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr __int128 kDecimalMax = (static_cast<__int128>(1) << 96) - 1;

// An argument and the result expected for it.
template <class R>
struct To {
    Variant in;
    R out;
};
template <class A, class R>
To(A, R) -> To<R>;

// f(in) == out for every case; a failure names the case's position.
template <class F, class R>
void ExpectEach(F f, std::initializer_list<To<R>> cases) {
    for (const To<R>& c : cases)
        EXPECT_EQ(f(c.in), c.out) << "case " << &c - cases.begin() << " (" << TypeName(c.in) << ")";
}

// f raises `number` for every argument.
template <class F>
void ExpectRaisesEach(std::int32_t number, F f, std::initializer_list<Variant> args) {
    for (const Variant& a : args)
        EXPECT_RAISES(number, f(a)) << ", argument " << &a - args.begin() << " (" << TypeName(a) << ")";
}

// Every kind copied, moved and assigned over every other: the value arrives whole, the source keeps its
// own (a copy) and object references are counted exactly.
TEST(Variant, EveryKindCopiesMovesAndAssignsOverEveryOther) {
    Ref<Collection> object = MakeCollection({1});
    const std::uint32_t base = object->RefCount();
    {
        const std::vector<Variant> kinds(
            {Variant(), Variant::Null(), Variant(std::uint8_t{7}), Variant(std::int16_t{-2}), Variant(40000),
             Variant(1LL << 40), Variant(2.5f), Variant(0.1), Variant(Currency{12345}),
             Variant(Decimal{-(static_cast<__int128>(1) << 90), 5}), Variant(Date{45000.25}), Variant(true),
             Variant("short"), Variant(std::string(100, 'x')), CVErr(2015), Variant(object),
             MakeArray(1, "two", MakeArray(3.0)), Variant(Bytes{0, 1, 255})});
        for (const Variant& from : kinds) {
            for (const Variant& over : kinds) {
                Variant copied = over;
                copied = from;
                Variant source = from, moved = over;
                moved = std::move(source);
                Variant constructed(copied);
                Variant taken(std::move(constructed));
                const Variant& same = taken;
                taken = same;  // assigning a value to itself keeps it
                // Assigned over, moved over, and constructed, moved and assigned to itself.
                EXPECT_EQ(std::tuple(copied, moved, taken), std::tuple(from, from, from))
                    << TypeName(over) << " <- " << TypeName(from);
            }
        }
        // Objects compare as references.
        EXPECT_EQ(Variant(object), kinds[15]);
        EXPECT_NE(Variant(MakeCollection({1})), kinds[15]);
        // A value assigned or moved from inside itself (an element of the array it holds) arrives whole.
        for (const Variant& element :
             {Variant(5), Variant("text"), MakeArray(1, 2), Variant(std::string(40, 'w'))}) {
            for (bool move : {false, true}) {
                Variant inside = MakeArray(element, 2.5);
                Variant& first = inside.get_if<VariantArray>()->at(0);
                if (move)
                    inside = std::move(first);  // both forms read from the array they replace
                else
                    inside = first;
                EXPECT_EQ(inside, element) << TypeName(element) << (move ? " moved" : " copied");
            }
        }
        // Text reassigned in place keeps reading whole.
        Variant text("abc");
        text = Variant(std::string(64, 'y'));
        text.AssignString("z");
        EXPECT_EQ(CStr(text), "z");
        text.Clear();
        EXPECT_TRUE(text.IsEmpty());
    }
    EXPECT_EQ(object->RefCount(), base);
}

TEST(CStr, DoublesAndSinglesInShortestRoundTripForm) {
    ExpectEach(
        CStr,
        {To{0.1, "0.1"}, To{100.0, "100"}, To{-2.5, "-2.5"}, To{1.0 / 3, "0.3333333333333333"},
         // Plain notation up to 15 integer digits and down to 4 leading zeros, exponent form beyond.
         To{123456789012345.0, "123456789012345"}, To{1e15, "1E+15"}, To{1e20, "1E+20"},
         To{1.5e300, "1.5E+300"}, To{0.0001, "0.0001"}, To{1e-5, "1E-05"}, To{-2.5e-7, "-2.5E-07"},
         To{-0.0, "0"}, To{std::numeric_limits<double>::max(), "1.7976931348623157E+308"},
         // Amounts and halves, which take a shortcut to their digits.
         To{0.5, "0.5"}, To{1234.75, "1234.75"}, To{-0.0625, "-0.0625"}, To{0.1 + 0.2, "0.30000000000000004"},
         To{999999999999999.9, "999999999999999.9"}, To{4503599627370495.5, "4.5035996273704955E+15"},
         // A Single shows its own digits; the same value widened to Double shows the digits a Double
         // needs.
         To{0.1f, "0.1"}, To{1e20f, "1E+20"}, To{std::numeric_limits<float>::max(), "3.4028235E+38"},
         To{static_cast<double>(0.1f), "0.10000000149011612"}});
    // Every value keeps the general search's digit count, reads back exactly and is measured as long as its
    // text.
    auto significant = [](std::string_view text) {
        text = text.substr(0, text.find_first_of("eE"));
        std::string digits;
        for (char c : text)
            if (c >= '0' && c <= '9') digits += c;
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
        while (!digits.empty() && digits.back() == '0') digits.pop_back();
        return digits;
    };
    std::vector<double> values{
        0.1,    1.0 / 3,  2.0 / 3e-9, 6.02214076e23, -1.2345678901234567e-100, -0.0, 1e15,
        0.0001, -0.00025, 0.00005,    -123.25,       99999999999999.5};
    std::mt19937_64 random(20261205);
    for (int i = 0; i < 20000; ++i) {
        const double scale[] = {1, 10, 100, 1000, 10000, 100000, 3};
        const auto whole = static_cast<double>(random() % 1000000000000000ULL >> (random() % 50));
        values.push_back((i % 2 ? -whole : whole) / scale[i % 7]);
    }
    for (double d : values) {
        char shortest[64];
        auto [end, ec] =
            std::to_chars(shortest, shortest + sizeof shortest, d, std::chars_format::scientific);
        const std::string text = FormatDouble(d);
        ASSERT_EQ(significant(text),
                  significant(std::string_view(shortest, static_cast<std::size_t>(end - shortest))))
            << text;
        ASSERT_EQ(ParseNumber(text), d) << text;
        ASSERT_EQ(LenOfText(Variant(d)), Len(text)) << text;
    }
    std::vector<Variant> measured({Variant(std::numeric_limits<std::int32_t>::min()), Variant(kInt64Min),
                                   Variant(kInt64Max), Variant(std::int16_t{0}), Variant(std::uint8_t{7}),
                                   Variant(2.5f), Variant(true), Variant("\u00C4b")});
    // Whole numbers are measured from their bit length: around every power of ten and two.
    for (std::int64_t p = 1; p <= kInt64Max / 10; p *= 10)
        for (std::int64_t n : {p - 1, p, p + 1, 2 * p, 9 * p, -p, -(p - 1)}) measured.emplace_back(n);
    for (int bits = 0; bits < 63; ++bits)
        for (std::int64_t n : {(std::int64_t{1} << bits) - 1, std::int64_t{1} << bits})
            measured.emplace_back(n);
    for (const Variant& v : measured) ASSERT_EQ(LenOfText(v), Len(CStr(v))) << CStr(v);
    EXPECT_RAISES(rt::InvalidUseOfNull, LenOfText(Variant::Null()));
}

// Currency and Decimal trim trailing zeros; a Date shows only its date or its time when the other is zero.
TEST(CStr, EveryOtherKind) {
    ExpectEach(
        CStr,
        {To{Variant(), ""}, To{true, "True"}, To{false, "False"}, To{std::uint8_t{255}, "255"},
         To{std::int16_t{-32768}, "-32768"}, To{std::numeric_limits<std::int32_t>::min(), "-2147483648"},
         To{kInt64Min, "-9223372036854775808"}, To{"text", "text"}, To{CVErr(2015), "Error 2015"}});
    ExpectEach(CStr, {To{Currency{12345000}, "1234.5"}, To{Currency{10000}, "1"}, To{Currency{-5}, "-0.0005"},
                      To{Currency{0}, "0"}, To{Currency{kInt64Max}, "922337203685477.5807"},
                      To{Currency{kInt64Min}, "-922337203685477.5808"}, To{Decimal{12345, 2}, "123.45"},
                      To{Decimal{-100, 2}, "-1"}, To{Decimal{0, 5}, "0"},
                      To{Decimal{1, 28}, "0.0000000000000000000000000001"},
                      To{Decimal{kDecimalMax, 0}, "79228162514264337593543950335"},
                      To{Decimal{-kDecimalMax, 28}, "-7.9228162514264337593543950335"}});

    Date day = DateSerial(2024, 5, 17);
    Date time = TimeSerial(13, 45, 0);
    ExpectEach(
        CStr,
        {To{day, "2024-05-17"}, To{time, "13:45:00"}, To{Date{day.days + time.days}, "2024-05-17 13:45:00"},
         // Day zero at midnight is a time of day (what a TIME column holding midnight reads as).
         To{Date{0}, "00:00:00"}, To{Date{1}, "1899-12-31"},
         // Before day zero the fraction still counts forward from midnight.
         To{Date{-1.25}, "1899-12-29 06:00:00"}, To{DateSerial(100, 1, 1), "0100-01-01"},
         To{Date{DateSerial(9999, 12, 31).days + TimeSerial(23, 59, 59).days}, "9999-12-31 23:59:59"}});
    // A Date outside the calendar's range cannot be shown.
    ExpectRaisesEach(rt::Overflow, CStr, {Date{1e300}, Date{-1e18}, Date{std::nan("")}});
    EXPECT_RAISES(rt::InvalidUseOfNull, CStr(Variant::Null()));
    ExpectRaisesEach(rt::TypeMismatch, CStr, {Variant(MakeRef<Collection>()), MakeArray(1, 2)});
}

// Numeric text reads in every form the language writes. Integer, Currency and Decimal conversions round half
// to even, stop at each kind's range, and take Empty, Booleans and text; Booleans take numbers and text.
TEST(NumericConversions, TextFormsRoundingRangesAndOtherKinds) {
    auto parse = [](const Variant& v) { return ParseNumber(CStr(v)); };
    ExpectEach(parse, {To{" 12.5 ", 12.5}, To{"\t-1.5E3", -1500.0}, To{"+.5", 0.5}, To{"5.", 5.0},
                       To{"1D2", 100.0}, To{"2.5e-1", 0.25}, To{"1e+2", 100.0}, To{"&H1F", 31.0},
                       To{"&hff", 255.0}, To{"&O17", 15.0}, To{"1e-400", 0.0}});
    // Texts that are no number; the last is out of range.
    for (const char* bad : {"",    " ",   "abc", ".",   "-",   "1.2.3", "1e",  "1e+",  "E5",    "12abc",
                            "1 2", "1,5", "&H",  "&HG", "&O8", "&H-1",  "- 1", "0x10", "1e5e5", "1E+400"})
        EXPECT_FALSE(ParseNumber(bad)) << bad;

    ExpectEach(CDbl, {To{Variant(), 0.0}, To{true, -1.0}, To{Currency{15000}, 1.5}, To{Decimal{-25, 1}, -2.5},
                      To{Date{2.75}, 2.75}, To{" 1e3 ", 1000.0}});
    // The value's size decides overflow or underflow, not the exponent as written.
    const std::string zeros(400, '0');
    ExpectRaisesEach(rt::Overflow, CDbl,
                     {"1E+400", "-1.8e308", Variant(std::string("1").append(zeros).append("E-10"))});
    ExpectEach(CDbl, {To{Variant(std::string("0.").append(zeros).append("1E+300")), 1e-101},
                      To{Variant(std::string("-0.").append(zeros).append("1")), 0.0}});

    EXPECT_EQ(CSng("0.1"), 0.1f);
    ExpectRaisesEach(rt::Overflow, CSng, {"1e39", 1e300});

    // Rounding and ranges.
    ExpectEach(CLng, {// Empty, Booleans, hexadecimal text and dates.
                      To{Variant(), 0}, To{true, -1}, To{"&H10", 16}, To{Date{2.5}, 2},
                      // Halves to even, in numbers and in text of any form.
                      To{2.5, 2}, To{3.5, 4}, To{-2.5, -2}, To{-3.5, -4}, To{0.5, 0}, To{1.5, 2},
                      To{2.5000001, 3}, To{"2.5", 2}, To{" -3.5 ", -4}, To{"1.5E1", 15},
                      To{"2.50000000000000001", 3}, To{"0.5E1", 5}, To{"25E-1", 2}, To{Currency{25000}, 2},
                      To{Currency{-35000}, -4}, To{Decimal{125, 2}, 1}, To{Decimal{-150, 2}, -2}});
    EXPECT_EQ(std::tuple(CInt(6.5f), CByte(254.5), CLngLng(-0.5), CInt(false)), std::tuple(6, 254, 0, 0));

    ExpectEach(CByte, {To{255.4, 255}, To{-0.5, 0}});
    ExpectRaisesEach(rt::Overflow, CByte, {255.5, -0.6, "256", -1});

    ExpectEach(CInt, {To{32767.4, 32767}, To{-32768.5, -32768}, To{"-32768", -32768}});
    ExpectRaisesEach(rt::Overflow, CInt, {32767.5, "32768", Currency{327680000}});

    ExpectEach(CLng,
               {To{2147483647.0, 2147483647}, To{-2147483648.5, std::numeric_limits<std::int32_t>::min()},
                To{"2147483647", 2147483647}});
    ExpectRaisesEach(rt::Overflow, CLng,
                     {2147483647.5, "2147483648", std::int64_t{1} << 31, std::nan(""), HUGE_VAL});

    ExpectEach(CLngLng, {To{"9223372036854775807", kInt64Max}, To{"-9223372036854775808", kInt64Min},
                         To{"-9223372036854775808.5", kInt64Min}, To{"&H7FFFFFFFFFFFFFFF", kInt64Max},
                         To{Decimal{kInt64Max, 0}, kInt64Max},
                         To{Currency{kInt64Min}, std::int64_t{-922337203685478}}});
    ExpectRaisesEach(rt::Overflow, CLngLng,
                     {"9223372036854775808", "9223372036854775807.5", "&HFFFFFFFFFFFFFFFF", 9.3e18, "1E+30",
                      "&H10000000000000000"});

    ExpectEach(CBool, {To{"True", true}, To{" TRUE ", true}, To{"false", false}, To{"0", false},
                       To{"-1", true}, To{"0.5", true}, To{"0e5", false}, To{Variant(), false},
                       To{0.0, false}, To{Currency{1}, true}, To{Decimal{1, 28}, true}, To{kInt64Min, true}});
    for (auto f : {+[](const Variant& v) { CLng(v); }, +[](const Variant& v) { CInt(v); },
                   +[](const Variant& v) { CByte(v); }, +[](const Variant& v) { CLngLng(v); },
                   +[](const Variant& v) { CCur(v); }, +[](const Variant& v) { CDec(v); },
                   +[](const Variant& v) { CBool(v); }, +[](const Variant& v) { CDbl(v); },
                   +[](const Variant& v) { CDate(v); }}) {
        EXPECT_RAISES(rt::InvalidUseOfNull, f(Variant::Null()));
        ExpectRaisesEach(
            rt::TypeMismatch, f,
            {"abc", "", "yes", "1.2.3", CVErr(2015), MakeArray(1), Variant(MakeRef<Collection>())});
    }

    // Currency keeps four decimals rounded half to even; Decimal keeps exact digits up to its limits.
    auto scaled = [](const Variant& v) { return CCur(v).scaled; };
    ExpectEach(scaled,
               {To{"1.23456", 12346}, To{"0.00005", 0}, To{"0.00015", 2}, To{"-0.00025", -2}, To{1.5, 15000},
                To{std::int16_t{-3}, -30000}, To{Decimal{123456789, 8}, 12346}, To{Variant(), 0}});
    ExpectEach(scaled, {To{"922337203685477.5807", kInt64Max}, To{"-922337203685477.5808", kInt64Min}});
    ExpectRaisesEach(rt::Overflow, CCur, {"922337203685477.5808", 1e16, kInt64Max, std::nan("")});

    auto text = [](const Variant& v) { return CStr(CDec(v)); };
    ExpectEach(CDec, {To{"1.1", Decimal{11, 1}}, To{" -0.050 ", Decimal{-50, 3}}, To{"&HFF", Decimal{255, 0}},
                      To{"79228162514264337593543950335", Decimal{kDecimalMax, 0}},
                      To{"7.9228162514264337593543950335", Decimal{kDecimalMax, 28}},
                      To{"1e-400", Decimal{0, 0}}, To{Variant(), Decimal{0, 0}}, To{true, Decimal{-1, 0}},
                      To{Currency{15000}, Decimal{15000, 4}}, To{0.1, Decimal{1, 1}},
                      // A Single converts by its own digits, not by those of its Double widening.
                      To{0.1f, Decimal{1, 1}}});
    ExpectEach(text, {To{"1E+28", std::string("1").append(28, '0')},
                      // More than 28 decimals round half to even at the 28th.
                      To{"0.12345678901234567890123456785", std::string("0.1234567890123456789012345678")},
                      To{"0.12345678901234567890123456775", std::string("0.1234567890123456789012345678")},
                      // 29 significant digits that do not fit the 96-bit mantissa lose a decimal instead of
                      // overflowing.
                      To{"9.9999999999999999999999999999", std::string("10")},
                      To{"7.9228162514264337593543950336", std::string("7.922816251426433759354395034")}});
    ExpectRaisesEach(rt::Overflow, CDec, {"79228162514264337593543950336", "1E+29", 1e300, HUGE_VAL});
}

TEST(Dates, FromTextNumbersAndPartsWithCarryOverAndWhatIsNumericOrADate) {
    Date day = DateSerial(2024, 5, 17);
    ExpectEach(CDate, {To{"2024-05-17", day}, To{" 2024/05/17 ", day}, To{"5/17/2024", day},
                       To{"2024-05-17T13:45:30", DateFromParts({2024, 5, 17, 13, 45, 30})},
                       To{"2024-05-17 13:45:30.5Z", DateFromParts({2024, 5, 17, 13, 45, 30, 0.5})},
                       To{"5/17/2024 1:45 PM", DateFromParts({2024, 5, 17, 13, 45})},
                       To{"13:45", TimeSerial(13, 45, 0)}, To{"12:00 AM", Date{0}},
                       To{"12:30:00 pm", TimeSerial(12, 30, 0)}, To{"2024-02-29", DateSerial(2024, 2, 29)},
                       To{2.5, Date{2.5}}, To{Variant(), Date{0}}, To{-657434, DateSerial(100, 1, 1)}});
    for (const char* bad : {"", "abc", "2023-02-29", "2024-02-30", "2024-13-01", "2024-00-10", "0099-01-01",
                            "25:00", "13:00 PM", "0:30 AM", "12:60", "2024-05-17T", "5/17/24", "17.05.2024",
                            "2024-05-17 13", "13:45:30.", "2024-05-17 13:45 x", "5"})
        EXPECT_RAISES(rt::TypeMismatch, CDate(bad)) << bad;
    ExpectRaisesEach(rt::Overflow, CDate, {-657435, 2958466, 2958466.5, std::nan("")});

    ExpectEach(IsNumeric, {To{Variant(), true}, To{true, true}, To{Currency{1}, true}, To{" 1e5 ", true},
                           To{"&HFF", true}, To{"-.5", true}, To{"", false}, To{"12a", false},
                           To{Variant::Null(), false}, To{Date{1}, false}, To{CVErr(5), false},
                           To{Variant(MakeRef<Collection>()), false}});
    ExpectEach(IsDate,
               {To{Date{-1.5}, true}, To{"2024-05-17 08:00", true}, To{"8:00 am", true},
                To{"2024-02-30", false}, To{45429, false}, To{"", false}, To{Variant::Null(), false}});
    ExpectEach(TypeName, {To{Variant(), "Empty"}, To{Variant::Null(), "Null"}, To{std::int16_t{1}, "Integer"},
                          To{1, "Long"}, To{Date{}, "Date"}, To{Variant(Ref<Dispatch>()), "Nothing"},
                          To{Variant(MakeRef<Collection>()), "Collection"}, To{MakeArray(1), "Variant()"}});

    // Parts and serials.
    for (double serial : {0.0, 1.0, 2.0, 61.0, 45429.5, 45429.999988425923, -1.0, -1.25, -2.75, -36522.5,
                          -657434.0, -657433.99998842594, 2958465.9999884259})
        EXPECT_NEAR(DateFromParts(PartsFromDate(Date{serial})).days, serial, 1e-9) << serial;
    ExpectEach([](const Variant& v) { return DateSerial(CInt(v), 1, 1).days; },
               {To{1800, -36522.0}, To{1900, 2.0}});
    EXPECT_EQ(DateSerial(1900, 3, 1).days, 61);
    // Parts read through the text they make, at both ends of the calendar. -0.5 and 0.5 name the same moment:
    // noon of day zero. A time that rounds up to the next midnight moves forward one day, also before day
    // zero (never to the day before), except past the last day there is. The last texts are so close to
    // midnight that the sum of day and time rounds up to the next day in a double.
    ExpectEach(
        [](const Variant& v) { return CStr(CDate(v)); },
        {To{-657434.5, "0100-01-01 12:00:00"}, To{2958465.5, "9999-12-31 12:00:00"}, To{-0.5, "12:00:00"},
         To{0.9999999999, "1899-12-31"}, To{-0.9999999999, "1899-12-31"}, To{-1.9999999999, "00:00:00"},
         To{-3.9999999999, "1899-12-28"}, To{2958465.999999997, "9999-12-31 23:59:59"},
         To{"9999-12-31 23:59:59.9999", "9999-12-31 23:59:59"},
         To{"9999-12-31 23:59:59.99999", "9999-12-31 23:59:59"},
         To{"2024-02-28 23:59:59.99999", "2024-02-29"}, To{"1800-01-01 23:59:59.99999", "1800-01-02"}});
    for (DateParts bad :
         {DateParts{2023, 2, 29}, DateParts{2024, 1, 1, 24}, DateParts{99, 12, 31}, DateParts{10000, 1, 1}})
        EXPECT_RAISES(rt::InvalidProcedureCall, DateFromParts(bad))
            << bad.year << "-" << bad.month << "-" << bad.day;
    EXPECT_RAISES(rt::Overflow, PartsFromDate(Date{3e6}));

    // DateSerial carries months and days over.
    // Only the resulting date must lie in 100..9999.
    using A = std::array<int, 6>;  // year, month and day, and the date they name
    for (A c : {A{2024, 14, 1, 2025, 2, 1}, A{2024, 0, 1, 2023, 12, 1}, A{2024, -11, 1, 2023, 1, 1},
                A{2024, -12, 1, 2022, 12, 1}, A{2024, 3, 0, 2024, 2, 29}, A{2023, 1, 366, 2024, 1, 1},
                A{2024, 1, -30, 2023, 12, 1}, A{99, 13, 1, 100, 1, 1}, A{10000, 1, -5, 9999, 12, 26},
                A{9998, 24, 31, 9999, 12, 31}})
        EXPECT_EQ(DateSerial(c[0], c[1], c[2]), DateSerial(c[3], c[4], c[5]))
            << c[0] << "-" << c[1] << "-" << c[2];
    EXPECT_EQ(TimeSerial(6, 0, 0).days, 0.25);
    EXPECT_EQ(TimeSerial(0, 90, 0), TimeSerial(1, 30, 0));
    constexpr int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
    for (std::array<int, 3> ymd : {std::array{9999, 12, 32}, std::array{100, 1, 0}, std::array{2024, 1, kMin},
                                   std::array{2024, kMax, 1}, std::array{kMax, 1, 1}})
        EXPECT_RAISES(rt::InvalidProcedureCall, DateSerial(ymd[0], ymd[1], ymd[2]))
            << ymd[0] << "-" << ymd[1];
}

// Two values and how they compare; they are equal only when they compare equal.
using Ab = std::tuple<Variant, Variant, Cmp>;

void ExpectCompare(std::initializer_list<Ab> cases, CompareMethod method = CompareMethod::Binary) {
    for (const Ab& c : cases) {
        const auto& [a, b, cmp] = c;
        EXPECT_EQ(Compare(a, b, method), cmp) << "case " << &c - cases.begin();
        EXPECT_EQ(Equals(a, b, method), cmp == Cmp::Equal) << "case " << &c - cases.begin();
    }
}

// Null is undecided, Empty is zero or the empty text, numbers compare exactly across kinds and below any
// text, text by code point or folded; objects, arrays and error values do not compare.
TEST(Compare, EveryPairOfKinds) {
    const Variant obj(MakeRef<Collection>());
    // Null decides before the kinds are looked at.
    ExpectCompare({Ab{Variant::Null(), 1, Cmp::Null}, Ab{"a", Variant::Null(), Cmp::Null},
                   Ab{Variant::Null(), Variant::Null(), Cmp::Null}, Ab{Variant::Null(), Variant(), Cmp::Null},
                   Ab{Variant::Null(), 0, Cmp::Null}, Ab{obj, Variant::Null(), Cmp::Null},
                   // Empty equals zero and the empty text.
                   Ab{Variant(), Variant(), Cmp::Equal}, Ab{Variant(), 0, Cmp::Equal},
                   Ab{0.0, Variant(), Cmp::Equal}, Ab{Variant(), false, Cmp::Equal},
                   Ab{Variant(), Currency{0}, Cmp::Equal}, Ab{Variant(), Date{0}, Cmp::Equal},
                   Ab{Variant(), "", Cmp::Equal}, Ab{Variant(), "a", Cmp::Less},
                   Ab{Variant(), -1, Cmp::Greater}, Ab{"0", Variant(), Cmp::Greater},
                   Ab{Variant(), "0", Cmp::Less}, Ab{1, 1.0, Cmp::Equal}, Ab{true, -1, Cmp::Equal},
                   Ab{std::uint8_t{200}, std::int16_t{-1}, Cmp::Greater},
                   Ab{Currency{15000}, 1.5, Cmp::Equal}, Ab{Decimal{15, 1}, Currency{15000}, Cmp::Equal},
                   Ab{Date{45429}, 45429, Cmp::Equal}, Ab{0.1f, 0.1, Cmp::Greater},
                   // 64-bit integers compare exactly, also against a Double that cannot hold them.
                   Ab{std::int64_t{9007199254740993}, 9007199254740992.0, Cmp::Greater},
                   Ab{kInt64Max, kInt64Max - 1, Cmp::Greater},
                   // Exact comparison across very different scales.
                   Ab{kInt64Max, Decimal{1, 28}, Cmp::Greater},
                   Ab{Decimal{-kDecimalMax, 0}, Decimal{-1, 28}, Cmp::Less},
                   Ab{Decimal{kDecimalMax, 0}, Decimal{kDecimalMax, 28}, Cmp::Greater},
                   Ab{Currency{kInt64Min}, Decimal{-kDecimalMax, 28}, Cmp::Less},
                   Ab{Currency{kInt64Max}, Decimal{1, 27}, Cmp::Greater},
                   Ab{Decimal{1, 28}, Decimal{-kDecimalMax, 0}, Cmp::Greater},
                   Ab{Decimal{-1, 28}, Decimal{kDecimalMax, 0}, Cmp::Less},
                   Ab{Decimal{10, 1}, Decimal{1000000, 6}, Cmp::Equal},
                   Ab{Decimal{10000000000000001, 16}, 1, Cmp::Greater},
                   Ab{Decimal{-10000000000000001, 16}, Decimal{-1, 0}, Cmp::Less},
                   // A number is less than any text.
                   Ab{5, "5", Cmp::Less}, Ab{1e300, "0", Cmp::Less}, Ab{"abc", Date{1}, Cmp::Greater},
                   // Binary: code point order. Text: letter case folded, "ß" as "ss".
                   Ab{"a", "B", Cmp::Greater}, Ab{"Größe", "GRÖSSE", Cmp::Greater}, Ab{"", "", Cmp::Equal},
                   Ab{"Ä", "ä", Cmp::Less}, Ab{"STRASSE", "straße", Cmp::Less}, Ab{"z", "é", Cmp::Less},
                   Ab{"\uFFFF", "😀", Cmp::Less}});
    ExpectCompare({Ab{"a", "B", Cmp::Less}, Ab{"abc", "ABC", Cmp::Equal}, Ab{"abc", "abcd", Cmp::Less},
                   Ab{"Ä", "ä", Cmp::Equal}, Ab{"straße", "STRASSE", Cmp::Equal},
                   Ab{"Ωmega", "ωMEGA", Cmp::Equal}, Ab{"Größe", "GRÖSSE", Cmp::Equal}},
                  CompareMethod::Text);

    for (const auto& ab : {std::pair{obj, Variant(1)}, std::pair{Variant("a"), obj},
                           std::pair{MakeArray(1), MakeArray(1)}, std::pair{CVErr(1), Variant(1)}})
        EXPECT_RAISES(rt::TypeMismatch, Compare(ab.first, ab.second)) << TypeName(ab.first);
}

}  // namespace
}  // namespace korado
