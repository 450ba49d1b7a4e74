// Conversions and comparisons with the semantics of the host's scripting language (Visual Basic).
//
// Locale: one fixed, invariant locale for the whole library. The decimal separator is "." and there is no
// thousands separator; Booleans read and print as "True"/"False"; dates print as ISO 8601 ("2024-05-17",
// "2024-05-17 13:45:00", "13:45:00" for a time alone) and read from ISO 8601 (with a blank or "T" between
// date and time, optional fractional seconds) as well as "m/d/yyyy [h:mm[:ss] [AM|PM]]". Nothing here
// depends on the process's C or C++ locale.
//
// Failures: malformed text raises 13 (type mismatch), a value out of the target's range raises 6
// (overflow), Null where a value is needed raises 94 (invalid use of Null), an object or array raises 13.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "korado/export.h"
#include "korado/runtime/variant.h"

namespace korado {

// ---- to text -------------------------------------------------------------------------------------------
// Numbers in their shortest round-trip form ("0.1", "1E+20", "-2.5E-07"), Currency with up to 4 decimals,
// Boolean "True"/"False", Date as above, Empty as "", Error as "Error 2015". Null raises 94.
KORADO_EXPORT std::string CStr(const Variant& v);
// Len(CStr(v)), without building the text for whole numbers: parameter sizes are measured per statement.
KORADO_EXPORT std::size_t LenOfText(const Variant& v);
KORADO_EXPORT std::string FormatDouble(double d);
KORADO_EXPORT std::string FormatSingle(float f);
KORADO_EXPORT std::string FormatCurrency(Currency c);
KORADO_EXPORT std::string FormatDecimal(const Decimal& d);
KORADO_EXPORT std::string FormatDate(Date d);

// ---- to numbers ----------------------------------------------------------------------------------------
// Integer targets round halves to even, as the language does (CLng(2.5) = 2, CLng(3.5) = 4).
// Empty converts to 0, Boolean True to -1, a Date to its day count, text by ParseNumber.
KORADO_EXPORT double CDbl(const Variant& v);
KORADO_EXPORT float CSng(const Variant& v);
KORADO_EXPORT std::int32_t CLng(const Variant& v);
KORADO_EXPORT std::int16_t CInt(const Variant& v);
KORADO_EXPORT std::uint8_t CByte(const Variant& v);
KORADO_EXPORT std::int64_t CLngLng(const Variant& v);
KORADO_EXPORT Currency CCur(const Variant& v);
KORADO_EXPORT Decimal CDec(const Variant& v);
KORADO_EXPORT bool CBool(const Variant& v);
KORADO_EXPORT Date CDate(const Variant& v);
// The value unchanged as a Variant (kept for symmetry with the language).
inline Variant CVar(const Variant& v) { return v; }
inline Variant CVErr(std::int32_t code) { return Variant(ErrorValue{code}); }

// Text to number: optional blanks, sign, digits with an optional "." and exponent (E or D), or "&H"/"&O"
// prefixed integers. nullopt when the text is not a number.
KORADO_EXPORT std::optional<double> ParseNumber(std::string_view text) noexcept;
// Text to date under the fixed locale; nullopt when the text is not a date.
KORADO_EXPORT std::optional<Date> ParseDate(std::string_view text) noexcept;

// ---- tests ---------------------------------------------------------------------------------------------
// True for numbers, Booleans, Empty and text that ParseNumber accepts; false for Null, dates, objects.
KORADO_EXPORT bool IsNumeric(const Variant& v) noexcept;
// True for dates and text that ParseDate accepts.
KORADO_EXPORT bool IsDate(const Variant& v) noexcept;
// "Long", "String", "Nothing", the class name of an object, ... as the language's TypeName.
KORADO_EXPORT std::string TypeName(const Variant& v);

// ---- dates ---------------------------------------------------------------------------------------------
struct DateParts {
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
    double fraction = 0;  // fractional seconds, 0 <= fraction < 1
};
KORADO_EXPORT Date DateFromParts(const DateParts& p);  // raises 5 for an impossible date
// The date `seconds` after the midnight that begins serial day `day` (a whole number). A time a hair before
// midnight that would round up to the next day in a double stays on its own day.
KORADO_EXPORT Date DateAt(double day, double seconds) noexcept;
KORADO_EXPORT DateParts PartsFromDate(Date d);
KORADO_EXPORT Date DateSerial(int year, int month, int day);
KORADO_EXPORT Date TimeSerial(int hour, int minute, int second);

// ---- comparison ----------------------------------------------------------------------------------------
enum class CompareMethod { Binary = 0, Text = 1 };
// Result of the language's comparison; Null when either side is Null (the comparison is undecided).
enum class Cmp { Less = -1, Equal = 0, Greater = 1, Null = 2 };

// Variant against Variant, as the language compares two Variants: Null makes the result Null; Empty equals
// 0 and ""; two numbers (Boolean, Date and Currency included) compare numerically; two texts compare by
// `method`; a number is less than a text. Objects and arrays raise 13.
KORADO_EXPORT Cmp Compare(const Variant& a, const Variant& b, CompareMethod method = CompareMethod::Binary);
// True only when Compare gives Equal (Null gives false).
KORADO_EXPORT bool Equals(const Variant& a, const Variant& b, CompareMethod method = CompareMethod::Binary);

}  // namespace korado
