// Conversions and comparisons with the host language's rules, under the fixed invariant locale.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "korado/runtime/collection.h"
#include "korado/runtime/convert.h"
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

Variant Text(const std::string& s) { return Variant(s); }

TEST(CStr, EveryKind) {
    EXPECT_EQ(CStr(Variant()), "");
    EXPECT_RAISES(rt::InvalidUseOfNull, CStr(Variant::Null()));
    EXPECT_EQ(CStr(true), "True");
    EXPECT_EQ(CStr(false), "False");
    EXPECT_EQ(CStr(std::uint8_t{255}), "255");
    EXPECT_EQ(CStr(std::int16_t{-32768}), "-32768");
    EXPECT_EQ(CStr(std::numeric_limits<std::int32_t>::min()), "-2147483648");
    EXPECT_EQ(CStr(kInt64Min), "-9223372036854775808");
    EXPECT_EQ(CStr("text"), "text");
    EXPECT_EQ(CStr(CVErr(2015)), "Error 2015");
    EXPECT_RAISES(rt::TypeMismatch, CStr(Variant(MakeRef<Collection>())));
    EXPECT_RAISES(rt::TypeMismatch, CStr(MakeArray(1, 2)));
}

TEST(CStr, DoublesInShortestRoundTripForm) {
    EXPECT_EQ(CStr(0.1), "0.1");
    EXPECT_EQ(CStr(100.0), "100");
    EXPECT_EQ(CStr(-2.5), "-2.5");
    EXPECT_EQ(CStr(1.0 / 3), "0.3333333333333333");
    // Plain notation up to 15 integer digits and down to 4 leading zeros, exponent form beyond.
    EXPECT_EQ(CStr(123456789012345.0), "123456789012345");
    EXPECT_EQ(CStr(1e15), "1E+15");
    EXPECT_EQ(CStr(1e20), "1E+20");
    EXPECT_EQ(CStr(1.5e300), "1.5E+300");
    EXPECT_EQ(CStr(0.0001), "0.0001");
    EXPECT_EQ(CStr(1e-5), "1E-05");
    EXPECT_EQ(CStr(-2.5e-7), "-2.5E-07");
    EXPECT_EQ(CStr(-0.0), "0");
    EXPECT_EQ(CStr(std::numeric_limits<double>::max()), "1.7976931348623157E+308");
    for (double d : {0.1, 1.0 / 3, 2.0 / 3e-9, 6.02214076e23, -1.2345678901234567e-100}) {
        auto back = ParseNumber(FormatDouble(d));
        ASSERT_TRUE(back) << FormatDouble(d);
        EXPECT_EQ(*back, d) << FormatDouble(d);
    }
}

TEST(CStr, SinglesUseTheirOwnPrecision) {
    EXPECT_EQ(CStr(0.1f), "0.1");
    EXPECT_EQ(CStr(1e20f), "1E+20");
    EXPECT_EQ(CStr(std::numeric_limits<float>::max()), "3.4028235E+38");
    // The same value widened to Double shows the digits a Double needs.
    EXPECT_EQ(CStr(static_cast<double>(0.1f)), "0.10000000149011612");
}

TEST(CStr, CurrencyAndDecimalTrimTrailingZeros) {
    EXPECT_EQ(CStr(Currency{12345000}), "1234.5");
    EXPECT_EQ(CStr(Currency{10000}), "1");
    EXPECT_EQ(CStr(Currency{-5}), "-0.0005");
    EXPECT_EQ(CStr(Currency{0}), "0");
    EXPECT_EQ(CStr(Currency{kInt64Max}), "922337203685477.5807");
    EXPECT_EQ(CStr(Currency{kInt64Min}), "-922337203685477.5808");

    EXPECT_EQ(CStr(Decimal{12345, 2}), "123.45");
    EXPECT_EQ(CStr(Decimal{-100, 2}), "-1");
    EXPECT_EQ(CStr(Decimal{0, 5}), "0");
    EXPECT_EQ(CStr(Decimal{1, 28}), "0.0000000000000000000000000001");
    EXPECT_EQ(CStr(Decimal{kDecimalMax, 0}), "79228162514264337593543950335");
    EXPECT_EQ(CStr(Decimal{-kDecimalMax, 28}), "-7.9228162514264337593543950335");
}

TEST(CStr, DatesShowOnlyTheirDateOrTimeWhenTheOtherIsZero) {
    Date day = DateSerial(2024, 5, 17);
    Date time = TimeSerial(13, 45, 0);
    EXPECT_EQ(day.days, 45429);
    EXPECT_EQ(CStr(day), "2024-05-17");
    EXPECT_EQ(CStr(time), "13:45:00");
    EXPECT_EQ(CStr(Date{day.days + time.days}), "2024-05-17 13:45:00");
    // Day zero at midnight is a time of day (what a TIME column holding midnight reads as).
    EXPECT_EQ(CStr(Date{0}), "00:00:00");
    EXPECT_EQ(CStr(Date{1}), "1899-12-31");
    // Before day zero the fraction still counts forward from midnight.
    EXPECT_EQ(CStr(Date{-1.25}), "1899-12-29 06:00:00");
    EXPECT_EQ(CStr(DateSerial(100, 1, 1)), "0100-01-01");
    EXPECT_EQ(CStr(Date{DateSerial(9999, 12, 31).days + TimeSerial(23, 59, 59).days}), "9999-12-31 23:59:59");
    // A Date outside the calendar's range cannot be shown.
    EXPECT_RAISES(rt::Overflow, CStr(Date{1e300}));
    EXPECT_RAISES(rt::Overflow, CStr(Date{-1e18}));
    EXPECT_RAISES(rt::Overflow, CStr(Date{std::nan("")}));
}

TEST(ParseNumber, FormsOfNumericText) {
    EXPECT_EQ(ParseNumber(" 12.5 "), 12.5);
    EXPECT_EQ(ParseNumber("\t-1.5E3"), -1500);
    EXPECT_EQ(ParseNumber("+.5"), 0.5);
    EXPECT_EQ(ParseNumber("5."), 5);
    EXPECT_EQ(ParseNumber("1D2"), 100);
    EXPECT_EQ(ParseNumber("2.5e-1"), 0.25);
    EXPECT_EQ(ParseNumber("1e+2"), 100);
    EXPECT_EQ(ParseNumber("&H1F"), 31);
    EXPECT_EQ(ParseNumber("&hff"), 255);
    EXPECT_EQ(ParseNumber("&O17"), 15);
    EXPECT_EQ(ParseNumber("1e-400"), 0);
    for (const char* bad : {"", " ", "abc", ".", "-", "1.2.3", "1e", "1e+", "E5", "12abc", "1 2", "1,5", "&H",
                            "&HG", "&O8", "&H-1", "- 1", "0x10", "1e5e5"})
        EXPECT_FALSE(ParseNumber(bad)) << bad;
    EXPECT_FALSE(ParseNumber("1E+400"));  // out of range
}

TEST(CDbl, TextEdgesAndKinds) {
    EXPECT_EQ(CDbl(Variant()), 0);
    EXPECT_EQ(CDbl(true), -1);
    EXPECT_EQ(CDbl(Currency{15000}), 1.5);
    EXPECT_EQ(CDbl(Decimal{-25, 1}), -2.5);
    EXPECT_EQ(CDbl(Date{2.75}), 2.75);
    EXPECT_EQ(CDbl(" 1e3 "), 1000);
    EXPECT_RAISES(rt::InvalidUseOfNull, CDbl(Variant::Null()));
    EXPECT_RAISES(rt::TypeMismatch, CDbl("abc"));
    EXPECT_RAISES(rt::TypeMismatch, CDbl(""));
    EXPECT_RAISES(rt::TypeMismatch, CDbl(CVErr(2015)));
    EXPECT_RAISES(rt::TypeMismatch, CDbl(Variant(MakeRef<Collection>())));
    EXPECT_RAISES(rt::Overflow, CDbl("1E+400"));
    EXPECT_RAISES(rt::Overflow, CDbl("-1.8e308"));
    // The value's size decides overflow or underflow, not the exponent as written.
    EXPECT_RAISES(rt::Overflow, CDbl(Text("1" + std::string(400, '0') + "E-10")));
    EXPECT_EQ(CDbl(Text("0." + std::string(400, '0') + "1E+300")), 1e-101);
    EXPECT_EQ(CDbl(Text("-0." + std::string(400, '0') + "1")), 0);

    EXPECT_EQ(CSng("0.1"), 0.1f);
    EXPECT_RAISES(rt::Overflow, CSng("1e39"));
    EXPECT_RAISES(rt::Overflow, CSng(1e300));
}

TEST(IntegerConversions, RoundHalfToEven) {
    EXPECT_EQ(CLng(2.5), 2);
    EXPECT_EQ(CLng(3.5), 4);
    EXPECT_EQ(CLng(-2.5), -2);
    EXPECT_EQ(CLng(-3.5), -4);
    EXPECT_EQ(CLng(0.5), 0);
    EXPECT_EQ(CLng(1.5), 2);
    EXPECT_EQ(CLng(2.5000001), 3);
    EXPECT_EQ(CLng("2.5"), 2);
    EXPECT_EQ(CLng(" -3.5 "), -4);
    EXPECT_EQ(CLng("1.5E1"), 15);
    EXPECT_EQ(CLng("2.50000000000000001"), 3);
    EXPECT_EQ(CLng("0.5E1"), 5);
    EXPECT_EQ(CLng("25E-1"), 2);
    EXPECT_EQ(CLng(Currency{25000}), 2);
    EXPECT_EQ(CLng(Currency{-35000}), -4);
    EXPECT_EQ(CLng(Decimal{125, 2}), 1);
    EXPECT_EQ(CLng(Decimal{-150, 2}), -2);
    EXPECT_EQ(CInt(6.5f), 6);
    EXPECT_EQ(CByte(254.5), 254);
    EXPECT_EQ(CLngLng(-0.5), 0);
}

TEST(IntegerConversions, RangeEdgesOfEachKind) {
    EXPECT_EQ(CByte(255.4), 255);
    EXPECT_EQ(CByte(-0.5), 0);
    EXPECT_RAISES(rt::Overflow, CByte(255.5));
    EXPECT_RAISES(rt::Overflow, CByte(-0.6));
    EXPECT_RAISES(rt::Overflow, CByte("256"));
    EXPECT_RAISES(rt::Overflow, CByte(-1));

    EXPECT_EQ(CInt(32767.4), 32767);
    EXPECT_EQ(CInt(-32768.5), -32768);
    EXPECT_EQ(CInt("-32768"), -32768);
    EXPECT_RAISES(rt::Overflow, CInt(32767.5));
    EXPECT_RAISES(rt::Overflow, CInt("32768"));
    EXPECT_RAISES(rt::Overflow, CInt(Currency{327680000}));

    EXPECT_EQ(CLng(2147483647.0), 2147483647);
    EXPECT_EQ(CLng(-2147483648.5), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(CLng("2147483647"), 2147483647);
    EXPECT_RAISES(rt::Overflow, CLng(2147483647.5));
    EXPECT_RAISES(rt::Overflow, CLng("2147483648"));
    EXPECT_RAISES(rt::Overflow, CLng(std::int64_t{1} << 31));
    EXPECT_RAISES(rt::Overflow, CLng(std::nan("")));
    EXPECT_RAISES(rt::Overflow, CLng(HUGE_VAL));

    EXPECT_EQ(CLngLng("9223372036854775807"), kInt64Max);
    EXPECT_EQ(CLngLng("-9223372036854775808"), kInt64Min);
    EXPECT_EQ(CLngLng("-9223372036854775808.5"), kInt64Min);
    EXPECT_EQ(CLngLng("&H7FFFFFFFFFFFFFFF"), kInt64Max);
    EXPECT_EQ(CLngLng(Decimal{kInt64Max, 0}), kInt64Max);
    EXPECT_EQ(CLngLng(Currency{kInt64Min}), -922337203685478);
    EXPECT_RAISES(rt::Overflow, CLngLng("9223372036854775808"));
    EXPECT_RAISES(rt::Overflow, CLngLng("9223372036854775807.5"));
    EXPECT_RAISES(rt::Overflow, CLngLng("&HFFFFFFFFFFFFFFFF"));
    EXPECT_RAISES(rt::Overflow, CLngLng(9.3e18));
    EXPECT_RAISES(rt::Overflow, CLngLng("1E+30"));
    EXPECT_RAISES(rt::Overflow, CLngLng("&H10000000000000000"));
}

TEST(IntegerConversions, EmptyNullBooleanAndMalformedText) {
    EXPECT_EQ(CLng(Variant()), 0);
    EXPECT_EQ(CLng(true), -1);
    EXPECT_EQ(CInt(false), 0);
    EXPECT_EQ(CLng("&H10"), 16);
    EXPECT_EQ(CLng(Date{2.5}), 2);
    for (auto f : {+[](const Variant& v) { CLng(v); }, +[](const Variant& v) { CInt(v); },
                   +[](const Variant& v) { CByte(v); }, +[](const Variant& v) { CLngLng(v); },
                   +[](const Variant& v) { CCur(v); }, +[](const Variant& v) { CDec(v); }}) {
        EXPECT_RAISES(rt::InvalidUseOfNull, f(Variant::Null()));
        EXPECT_RAISES(rt::TypeMismatch, f("abc"));
        EXPECT_RAISES(rt::TypeMismatch, f(""));
        EXPECT_RAISES(rt::TypeMismatch, f("1.2.3"));
        EXPECT_RAISES(rt::TypeMismatch, f(CVErr(2015)));
        EXPECT_RAISES(rt::TypeMismatch, f(MakeArray(1)));
    }
}

TEST(CCur, FourDecimalsRoundedHalfToEven) {
    EXPECT_EQ(CCur("1.23456").scaled, 12346);
    EXPECT_EQ(CCur("0.00005").scaled, 0);
    EXPECT_EQ(CCur("0.00015").scaled, 2);
    EXPECT_EQ(CCur("-0.00025").scaled, -2);
    EXPECT_EQ(CCur(1.5).scaled, 15000);
    EXPECT_EQ(CCur(std::int16_t{-3}).scaled, -30000);
    EXPECT_EQ(CCur(Decimal{123456789, 8}).scaled, 12346);
    EXPECT_EQ(CCur(Variant()).scaled, 0);
    EXPECT_EQ(CCur("922337203685477.5807").scaled, kInt64Max);
    EXPECT_EQ(CCur("-922337203685477.5808").scaled, kInt64Min);
    EXPECT_RAISES(rt::Overflow, CCur("922337203685477.5808"));
    EXPECT_RAISES(rt::Overflow, CCur(1e16));
    EXPECT_RAISES(rt::Overflow, CCur(kInt64Max));
    EXPECT_RAISES(rt::Overflow, CCur(std::nan("")));
}

TEST(CDec, ExactDigitsAndLimits) {
    EXPECT_EQ(CDec("1.1"), (Decimal{11, 1}));
    EXPECT_EQ(CDec(" -0.050 "), (Decimal{-50, 3}));
    EXPECT_EQ(CStr(CDec("1E+28")), "1" + std::string(28, '0'));
    EXPECT_EQ(CDec("&HFF"), (Decimal{255, 0}));
    EXPECT_EQ(CDec("79228162514264337593543950335"), (Decimal{kDecimalMax, 0}));
    EXPECT_EQ(CDec("7.9228162514264337593543950335"), (Decimal{kDecimalMax, 28}));
    // More than 28 decimals round half to even at the 28th.
    EXPECT_EQ(CStr(CDec("0.12345678901234567890123456785")), "0.1234567890123456789012345678");
    EXPECT_EQ(CStr(CDec("0.12345678901234567890123456775")), "0.1234567890123456789012345678");
    EXPECT_EQ(CDec("1e-400"), (Decimal{0, 0}));
    // 29 significant digits that do not fit the 96-bit mantissa lose a decimal instead of overflowing.
    EXPECT_EQ(CStr(CDec("9.9999999999999999999999999999")), "10");
    EXPECT_EQ(CStr(CDec("7.9228162514264337593543950336")), "7.922816251426433759354395034");
    EXPECT_RAISES(rt::Overflow, CDec("79228162514264337593543950336"));
    EXPECT_RAISES(rt::Overflow, CDec("1E+29"));
    EXPECT_RAISES(rt::Overflow, CDec(1e300));
    EXPECT_RAISES(rt::Overflow, CDec(HUGE_VAL));

    EXPECT_EQ(CDec(Variant()), (Decimal{0, 0}));
    EXPECT_EQ(CDec(true), (Decimal{-1, 0}));
    EXPECT_EQ(CDec(Currency{15000}), (Decimal{15000, 4}));
    EXPECT_EQ(CDec(0.1), (Decimal{1, 1}));
    // A Single converts by its own digits, not by those of its Double widening.
    EXPECT_EQ(CDec(0.1f), (Decimal{1, 1}));
}

TEST(CBool, TextNumbersAndNull) {
    EXPECT_TRUE(CBool("True"));
    EXPECT_TRUE(CBool(" TRUE "));
    EXPECT_FALSE(CBool("false"));
    EXPECT_FALSE(CBool("0"));
    EXPECT_TRUE(CBool("-1"));
    EXPECT_TRUE(CBool("0.5"));
    EXPECT_FALSE(CBool("0e5"));
    EXPECT_FALSE(CBool(Variant()));
    EXPECT_FALSE(CBool(0.0));
    EXPECT_TRUE(CBool(Currency{1}));
    EXPECT_TRUE(CBool(Decimal{1, 28}));
    EXPECT_TRUE(CBool(kInt64Min));
    EXPECT_RAISES(rt::InvalidUseOfNull, CBool(Variant::Null()));
    EXPECT_RAISES(rt::TypeMismatch, CBool("yes"));
    EXPECT_RAISES(rt::TypeMismatch, CBool(""));
    EXPECT_RAISES(rt::TypeMismatch, CBool(CVErr(1)));
}

TEST(CDate, FromTextAndNumbers) {
    Date day = DateSerial(2024, 5, 17);
    EXPECT_EQ(CDate("2024-05-17"), day);
    EXPECT_EQ(CDate(" 2024/05/17 "), day);
    EXPECT_EQ(CDate("5/17/2024"), day);
    EXPECT_EQ(CDate("2024-05-17T13:45:30"), DateFromParts({2024, 5, 17, 13, 45, 30}));
    EXPECT_EQ(CDate("2024-05-17 13:45:30.5Z"), DateFromParts({2024, 5, 17, 13, 45, 30, 0.5}));
    EXPECT_EQ(CDate("5/17/2024 1:45 PM"), DateFromParts({2024, 5, 17, 13, 45}));
    EXPECT_EQ(CDate("13:45"), TimeSerial(13, 45, 0));
    EXPECT_EQ(CDate("12:00 AM"), Date{0});
    EXPECT_EQ(CDate("12:30:00 pm"), TimeSerial(12, 30, 0));
    EXPECT_EQ(CDate("2024-02-29"), DateSerial(2024, 2, 29));
    for (const char* bad : {"", "abc", "2023-02-29", "2024-02-30", "2024-13-01", "2024-00-10", "0099-01-01",
                            "25:00", "13:00 PM", "0:30 AM", "12:60", "2024-05-17T", "5/17/24", "17.05.2024",
                            "2024-05-17 13", "13:45:30.", "2024-05-17 13:45 x", "5"})
        EXPECT_RAISES(rt::TypeMismatch, CDate(bad)) << bad;
    EXPECT_RAISES(rt::InvalidUseOfNull, CDate(Variant::Null()));

    EXPECT_EQ(CDate(2.5), Date{2.5});
    EXPECT_EQ(CDate(Variant()), Date{0});
    EXPECT_EQ(CDate(-657434), DateSerial(100, 1, 1));
    EXPECT_EQ(CStr(CDate(-657434.5)), "0100-01-01 12:00:00");
    EXPECT_EQ(CStr(CDate(2958465.5)), "9999-12-31 12:00:00");
    EXPECT_RAISES(rt::Overflow, CDate(-657435));
    EXPECT_RAISES(rt::Overflow, CDate(2958466));
    EXPECT_RAISES(rt::Overflow, CDate(2958466.5));
    EXPECT_RAISES(rt::Overflow, CDate(std::nan("")));
}

TEST(IsNumericIsDate, Kinds) {
    EXPECT_TRUE(IsNumeric(Variant()));
    EXPECT_TRUE(IsNumeric(true));
    EXPECT_TRUE(IsNumeric(Currency{1}));
    EXPECT_TRUE(IsNumeric(" 1e5 "));
    EXPECT_TRUE(IsNumeric("&HFF"));
    EXPECT_TRUE(IsNumeric("-.5"));
    EXPECT_FALSE(IsNumeric(""));
    EXPECT_FALSE(IsNumeric("12a"));
    EXPECT_FALSE(IsNumeric(Variant::Null()));
    EXPECT_FALSE(IsNumeric(Date{1}));
    EXPECT_FALSE(IsNumeric(CVErr(5)));
    EXPECT_FALSE(IsNumeric(Variant(MakeRef<Collection>())));

    EXPECT_TRUE(IsDate(Date{-1.5}));
    EXPECT_TRUE(IsDate("2024-05-17 08:00"));
    EXPECT_TRUE(IsDate("8:00 am"));
    EXPECT_FALSE(IsDate("2024-02-30"));
    EXPECT_FALSE(IsDate(45429));
    EXPECT_FALSE(IsDate(""));
    EXPECT_FALSE(IsDate(Variant::Null()));
}

TEST(TypeName, Kinds) {
    EXPECT_EQ(TypeName(Variant()), "Empty");
    EXPECT_EQ(TypeName(Variant::Null()), "Null");
    EXPECT_EQ(TypeName(std::int16_t{1}), "Integer");
    EXPECT_EQ(TypeName(1), "Long");
    EXPECT_EQ(TypeName(Date{}), "Date");
    EXPECT_EQ(TypeName(Variant(Ref<Dispatch>())), "Nothing");
    EXPECT_EQ(TypeName(Variant(MakeRef<Collection>())), "Collection");
    EXPECT_EQ(TypeName(MakeArray(1)), "Variant()");
}

TEST(DateParts, RoundTripsIncludingBeforeDayZero) {
    for (double serial : {0.0, 1.0, 2.0, 61.0, 45429.5, 45429.999988425923, -1.0, -1.25, -2.75, -36522.5,
                          -657434.0, -657433.99998842594, 2958465.9999884259}) {
        Date d{serial};
        DateParts p = PartsFromDate(d);
        EXPECT_NEAR(DateFromParts(p).days, serial, 1e-9) << serial;
    }
    DateParts p = PartsFromDate(Date{-1.25});
    EXPECT_EQ((std::array{p.year, p.month, p.day, p.hour}), (std::array{1899, 12, 29, 6}));
    EXPECT_EQ(DateFromParts({1899, 12, 29, 6}).days, -1.25);
    // -0.5 and 0.5 name the same moment: noon of day zero.
    p = PartsFromDate(Date{-0.5});
    EXPECT_EQ((std::array{p.year, p.month, p.day, p.hour}), (std::array{1899, 12, 30, 12}));
    EXPECT_EQ(DateSerial(1900, 1, 1).days, 2);
    EXPECT_EQ(DateSerial(1900, 3, 1).days, 61);
    EXPECT_EQ(DateSerial(1800, 1, 1).days, -36522);

    // A time that rounds up to the next midnight moves forward one day, also before day zero.
    auto day_of = [](double serial) {
        DateParts q = PartsFromDate(Date{serial});
        return std::array{q.year, q.month, q.day, q.hour, q.minute, q.second};
    };
    EXPECT_EQ(day_of(0.9999999999), (std::array{1899, 12, 31, 0, 0, 0}));
    EXPECT_EQ(day_of(-0.9999999999), (std::array{1899, 12, 31, 0, 0, 0}));
    EXPECT_EQ(day_of(-1.9999999999), (std::array{1899, 12, 30, 0, 0, 0}));
    EXPECT_EQ(day_of(-3.9999999999), (std::array{1899, 12, 28, 0, 0, 0}));
    // ... except past the last day there is.
    EXPECT_EQ(day_of(2958465.999999997), (std::array{9999, 12, 31, 23, 59, 59}));
    EXPECT_EQ(CStr(CDate("9999-12-31 23:59:59.9999")), "9999-12-31 23:59:59");

    EXPECT_RAISES(rt::InvalidProcedureCall, DateFromParts({2023, 2, 29}));
    EXPECT_RAISES(rt::InvalidProcedureCall, DateFromParts({2024, 1, 1, 24}));
    EXPECT_RAISES(rt::InvalidProcedureCall, DateFromParts({99, 12, 31}));
    EXPECT_RAISES(rt::InvalidProcedureCall, DateFromParts({10000, 1, 1}));
    EXPECT_RAISES(rt::Overflow, PartsFromDate(Date{3e6}));
}

TEST(DateSerial, MonthsAndDaysCarryOver) {
    EXPECT_EQ(DateSerial(2024, 14, 1), DateSerial(2025, 2, 1));
    EXPECT_EQ(DateSerial(2024, 0, 1), DateSerial(2023, 12, 1));
    EXPECT_EQ(DateSerial(2024, -11, 1), DateSerial(2023, 1, 1));
    EXPECT_EQ(DateSerial(2024, -12, 1), DateSerial(2022, 12, 1));
    EXPECT_EQ(DateSerial(2024, 3, 0), DateSerial(2024, 2, 29));
    EXPECT_EQ(DateSerial(2023, 1, 366), DateSerial(2024, 1, 1));
    EXPECT_EQ(DateSerial(2024, 1, -30), DateSerial(2023, 12, 1));
    // Only the resulting date must lie in 100..9999.
    EXPECT_EQ(DateSerial(99, 13, 1), DateSerial(100, 1, 1));
    EXPECT_EQ(DateSerial(10000, 1, -5), DateSerial(9999, 12, 26));
    EXPECT_EQ(DateSerial(9998, 24, 31), DateSerial(9999, 12, 31));
    EXPECT_RAISES(rt::InvalidProcedureCall, DateSerial(9999, 12, 32));
    EXPECT_RAISES(rt::InvalidProcedureCall, DateSerial(100, 1, 0));
    EXPECT_RAISES(rt::InvalidProcedureCall, DateSerial(2024, 1, std::numeric_limits<int>::min()));
    EXPECT_RAISES(rt::InvalidProcedureCall, DateSerial(2024, std::numeric_limits<int>::max(), 1));
    EXPECT_RAISES(rt::InvalidProcedureCall, DateSerial(std::numeric_limits<int>::max(), 1, 1));

    EXPECT_EQ(TimeSerial(6, 0, 0).days, 0.25);
    EXPECT_EQ(TimeSerial(0, 90, 0), TimeSerial(1, 30, 0));
}

TEST(Compare, NullMakesTheComparisonUndecided) {
    EXPECT_EQ(Compare(Variant::Null(), 1), Cmp::Null);
    EXPECT_EQ(Compare("a", Variant::Null()), Cmp::Null);
    EXPECT_EQ(Compare(Variant::Null(), Variant::Null()), Cmp::Null);
    EXPECT_EQ(Compare(Variant::Null(), Variant()), Cmp::Null);
    EXPECT_FALSE(Equals(Variant::Null(), Variant::Null()));
    EXPECT_FALSE(Equals(Variant::Null(), 0));
}

TEST(Compare, EmptyEqualsZeroAndEmptyText) {
    EXPECT_EQ(Compare(Variant(), Variant()), Cmp::Equal);
    EXPECT_EQ(Compare(Variant(), 0), Cmp::Equal);
    EXPECT_EQ(Compare(0.0, Variant()), Cmp::Equal);
    EXPECT_EQ(Compare(Variant(), false), Cmp::Equal);
    EXPECT_EQ(Compare(Variant(), Currency{0}), Cmp::Equal);
    EXPECT_EQ(Compare(Variant(), Date{0}), Cmp::Equal);
    EXPECT_EQ(Compare(Variant(), ""), Cmp::Equal);
    EXPECT_EQ(Compare(Variant(), "a"), Cmp::Less);
    EXPECT_EQ(Compare(Variant(), -1), Cmp::Greater);
    EXPECT_EQ(Compare("0", Variant()), Cmp::Greater);
    EXPECT_EQ(Compare(Variant(), "0"), Cmp::Less);
}

TEST(Compare, NumbersAcrossKinds) {
    EXPECT_EQ(Compare(1, 1.0), Cmp::Equal);
    EXPECT_EQ(Compare(true, -1), Cmp::Equal);
    EXPECT_EQ(Compare(std::uint8_t{200}, std::int16_t{-1}), Cmp::Greater);
    EXPECT_EQ(Compare(Currency{15000}, 1.5), Cmp::Equal);
    EXPECT_EQ(Compare(Decimal{15, 1}, Currency{15000}), Cmp::Equal);
    EXPECT_EQ(Compare(Date{45429}, 45429), Cmp::Equal);
    EXPECT_EQ(Compare(0.1f, 0.1), Cmp::Greater);
    // 64-bit integers compare exactly, also against a Double that cannot hold them.
    EXPECT_EQ(Compare(std::int64_t{9007199254740993}, 9007199254740992.0), Cmp::Greater);
    EXPECT_EQ(Compare(kInt64Max, kInt64Max - 1), Cmp::Greater);
    // Exact comparison across very different scales.
    EXPECT_EQ(Compare(kInt64Max, Decimal{1, 28}), Cmp::Greater);
    EXPECT_EQ(Compare(Decimal{-kDecimalMax, 0}, Decimal{-1, 28}), Cmp::Less);
    EXPECT_EQ(Compare(Decimal{kDecimalMax, 0}, Decimal{kDecimalMax, 28}), Cmp::Greater);
    EXPECT_EQ(Compare(Currency{kInt64Min}, Decimal{-kDecimalMax, 28}), Cmp::Less);
    EXPECT_EQ(Compare(Currency{kInt64Max}, Decimal{1, 27}), Cmp::Greater);
    EXPECT_EQ(Compare(Decimal{1, 28}, Decimal{-kDecimalMax, 0}), Cmp::Greater);
    EXPECT_EQ(Compare(Decimal{-1, 28}, Decimal{kDecimalMax, 0}), Cmp::Less);
    EXPECT_EQ(Compare(Decimal{10, 1}, Decimal{1000000, 6}), Cmp::Equal);
    EXPECT_EQ(Compare(Decimal{10000000000000001, 16}, 1), Cmp::Greater);
    EXPECT_EQ(Compare(Decimal{-10000000000000001, 16}, Decimal{-1, 0}), Cmp::Less);
}

TEST(Compare, NumberIsLessThanText) {
    EXPECT_EQ(Compare(5, "5"), Cmp::Less);
    EXPECT_EQ(Compare(1e300, "0"), Cmp::Less);
    EXPECT_EQ(Compare("abc", Date{1}), Cmp::Greater);
    EXPECT_FALSE(Equals(5, "5"));
}

TEST(Compare, TextBinaryOrTextMethod) {
    EXPECT_EQ(Compare("a", "B"), Cmp::Greater);
    EXPECT_EQ(Compare("a", "B", CompareMethod::Text), Cmp::Less);
    EXPECT_EQ(Compare("abc", "ABC", CompareMethod::Text), Cmp::Equal);
    EXPECT_EQ(Compare("abc", "abcd", CompareMethod::Text), Cmp::Less);
    EXPECT_EQ(Compare("", ""), Cmp::Equal);
    EXPECT_EQ(Compare("Ä", "ä"), Cmp::Less);
    EXPECT_EQ(Compare("Ä", "ä", CompareMethod::Text), Cmp::Equal);
    EXPECT_EQ(Compare("straße", "STRASSE", CompareMethod::Text), Cmp::Equal);
    EXPECT_EQ(Compare("STRASSE", "straße"), Cmp::Less);
    EXPECT_EQ(Compare("Ωmega", "ωMEGA", CompareMethod::Text), Cmp::Equal);
    // Binary order is code point order.
    EXPECT_EQ(Compare("z", "é"), Cmp::Less);
    EXPECT_EQ(Compare("\uFFFF", "😀"), Cmp::Less);
    EXPECT_TRUE(Equals("Größe", "GRÖSSE", CompareMethod::Text));
    EXPECT_FALSE(Equals("Größe", "GRÖSSE"));
}

TEST(Compare, ObjectsArraysAndErrorValuesAreTypeMismatch) {
    Variant obj(MakeRef<Collection>());
    EXPECT_RAISES(rt::TypeMismatch, Compare(obj, 1));
    EXPECT_RAISES(rt::TypeMismatch, Compare("a", obj));
    EXPECT_RAISES(rt::TypeMismatch, Compare(MakeArray(1), MakeArray(1)));
    EXPECT_RAISES(rt::TypeMismatch, Compare(CVErr(1), 1));
    // Null decides before the kinds are looked at.
    EXPECT_EQ(Compare(obj, Variant::Null()), Cmp::Null);
}

}  // namespace
}  // namespace korado
