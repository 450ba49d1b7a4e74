// Values as providers store them in text: ISO-8601 dates and times, exact decimals.
//
// SQLite keeps dates as ISO-8601 text and NUMERIC values as REAL, INTEGER or TEXT; drivers hand out
// decimals as text. These helpers convert without going through the process locale and without
// allocating on the read path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "korado/runtime/variant.h"

namespace korado::dataaccess {

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fff]]" (blank or "T" between), "HH:MM[:SS[.fff]]"; a trailing "Z"
// or "+HH:MM"/"-HH:MM" zone is accepted and ignored (a platform date has no zone). nullopt when the text is
// not such a date or names an impossible one.
std::optional<Date> ParseIsoDate(std::string_view text) noexcept;

enum class IsoStyle {
    kDate,      // "2024-05-17"
    kTime,      // "13:45:00"
    kDateTime,  // "2024-05-17 13:45:00"
    kAuto,      // the date alone at midnight, the time alone on day 0, otherwise both
};
// Milliseconds are written (".250") only when they are not zero.
std::string FormatIsoDate(Date d, IsoStyle style);

// Decimal text with optional sign, point and exponent ("-12.50", "1.5E+3"). nullopt when it is not a
// number or does not fit the platform's Decimal (96-bit mantissa, scale up to 28).
std::optional<Decimal> ParseDecimal(std::string_view text) noexcept;
// `scale` >= 0 rounds to that many places; -1 keeps the double's shortest round-trip digits.
std::optional<Decimal> DecimalFromDouble(double v, int scale) noexcept;
// Rescales to exactly `scale` places (rounding half away from zero); nullopt when it would not fit.
std::optional<Decimal> RescaleDecimal(const Decimal& d, int scale) noexcept;
double DecimalToDouble(const Decimal& d) noexcept;

}  // namespace korado::dataaccess
