#include "korado/runtime/convert.h"

#include <bit>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "korado/runtime/dispatch.h"
#include "korado/runtime/error.h"
#include "korado/runtime/strings.h"
#include "runtime/hot_path.h"

namespace korado {
namespace {

// ---- numbers as text ---------------------------------------------------------------------------------------

// The shortest round-trip digits of a double with at most four decimals below 1E15 (amounts, halves, whole
// numbers: what hosts bind), found without the general search. A decimal m / 10^k is the shortest form when
// it is the first k at which the nearest whole m gives back the value exactly: the division of two exact
// doubles rounds correctly, so it gives back the value exactly when the decimal round-trips. Other values
// (and floats, whose round trip is to float) return false.
// The whole number nearest a value of at least 0, as nearbyint gives it, without a call into the maths
// library: below 2^52 adding 2^52 leaves no fraction (rounded as the current mode rounds) and taking it
// away again is exact; from 2^52 on every double is whole.
inline double NearestWhole(double y) noexcept { return y < 0x1p52 ? (y + 0x1p52) - 0x1p52 : y; }

// The value as whole / 10^decimals, as just described; false when it has no such short form.
bool FewDecimalsOf(double value, std::uint64_t& whole, int& decimals) noexcept {
    static constexpr double kPow10[] = {1, 10, 100, 1000, 10000};
    const double magnitude = std::fabs(value);
    if (!(magnitude < 1e15)) return false;
    for (int k = 0; k < 5; ++k) {
        const double m = NearestWhole(magnitude * kPow10[k]);
        if (m >= 9007199254740992.0) return false;  // 2^53: no longer exact
        if (m == 0 || m / kPow10[k] != magnitude) continue;
        whole = static_cast<std::uint64_t>(m);
        decimals = k;
        return true;
    }
    return false;
}

template <class F>
bool FewDecimals(F value, char (&digits)[32], std::size_t& n, int& exp) {
    if constexpr (!std::is_same_v<F, double>) {
        return false;
    } else {
        std::uint64_t whole = 0;
        int k = 0;
        if (!FewDecimalsOf(value, whole, k)) return false;
        auto [end, ec] = std::to_chars(digits, digits + sizeof digits, whole);
        const auto count = static_cast<int>(end - digits);
        exp = count - 1 - k;
        n = static_cast<std::size_t>(count);
        while (n > 1 && digits[n - 1] == '0') --n;
        return true;
    }
}

// Lays out the shortest round-trip digits of a finite, non-zero value the way the language prints numbers:
// plain decimals while the decimal exponent lies in -5 < e < 15, otherwise d.dddE+XX.
template <class F>
std::string FormatFloating(F value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0) return "0";
    // Laid out in a buffer and made a string once: numbers are turned into text for every bound parameter.
    char digits[32];  // at most 17 significant digits
    std::size_t n = 0;
    int exp = 0;
    const bool negative = value < 0;
    if (!FewDecimals(value, digits, n, exp)) {
        char buf[64];
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
        std::string_view sci(buf, static_cast<std::size_t>(end - buf));  // "-d.ddde+XX"
        if (negative) sci.remove_prefix(1);
        std::size_t epos = sci.find('e');
        for (char c : sci.substr(0, epos))
            if (c != '.') digits[n++] = c;
        std::string_view e = sci.substr(epos + 1);
        if (e.front() == '+') e.remove_prefix(1);
        std::from_chars(e.data(), e.data() + e.size(), exp);
    }

    char out[64];  // sign, up to 17 digits, point, up to 19 zeros before them, or an exponent
    std::size_t k = 0;
    auto put = [&](char c) { out[k++] = c; };
    auto put_digits = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) put(digits[i]);
    };
    if (negative) put('-');
    if (exp >= 15 || exp < -4) {
        put(digits[0]);
        if (n > 1) {
            put('.');
            put_digits(1, n);
        }
        put('E');
        put(exp < 0 ? '-' : '+');
        int a = exp < 0 ? -exp : exp;
        if (a < 10) put('0');
        auto [exp_end, exp_ec] = std::to_chars(out + k, out + sizeof out, a);
        k = static_cast<std::size_t>(exp_end - out);
    } else if (exp < 0) {
        put('0');
        put('.');
        for (int i = 0; i < -exp - 1; ++i) put('0');
        put_digits(0, n);
    } else {
        auto int_len = static_cast<std::size_t>(exp) + 1;
        if (n <= int_len) {
            put_digits(0, n);
            for (std::size_t i = n; i < int_len; ++i) put('0');
        } else {
            put_digits(0, int_len);
            put('.');
            put_digits(int_len, n);
        }
    }
    return std::string(out, k);
}

std::string Int128ToString(__int128 v) {
    bool negative = v < 0;
    unsigned __int128 u = negative ? static_cast<unsigned __int128>(-(v + 1)) + 1 : static_cast<unsigned __int128>(v);
    char buf[48];
    char* p = buf + sizeof buf;
    do {
        *--p = static_cast<char>('0' + static_cast<int>(u % 10));
        u /= 10;
    } while (u != 0);
    if (negative) *--p = '-';
    return std::string(p, static_cast<std::size_t>(buf + sizeof buf - p));
}

// Digits of |mantissa| with a decimal point `scale` places from the right, trailing fraction zeros trimmed.
std::string ScaledToString(__int128 mantissa, int scale) {
    bool negative = mantissa < 0;
    std::string digits = Int128ToString(mantissa);
    if (negative) digits.erase(0, 1);
    if (scale > 0) {
        if (digits.size() <= static_cast<std::size_t>(scale))
            digits.insert(0, static_cast<std::size_t>(scale) - digits.size() + 1, '0');
        digits.insert(digits.size() - static_cast<std::size_t>(scale), 1, '.');
        while (digits.back() == '0') digits.pop_back();
        if (digits.back() == '.') digits.pop_back();
    }
    if (negative && digits != "0") digits.insert(0, 1, '-');
    return digits;
}

constexpr __int128 Pow10(int n) {
    __int128 r = 1;
    for (int i = 0; i < n; ++i) r *= 10;
    return r;
}

// Divides by 10^n rounding half to even (n > 0).
__int128 DivRoundEven(__int128 v, int n) {
    __int128 d = Pow10(n);
    __int128 q = v / d, r = v % d;
    __int128 twice = (r < 0 ? -r : r) * 2;
    if (twice > d || (twice == d && (q % 2 != 0))) q += v < 0 ? -1 : 1;
    return q;
}

// ---- text as numbers ---------------------------------------------------------------------------------------

enum class ParseStatus { Ok, NotNumber, Overflow };

struct NumberText {
    bool negative = false;
    std::string mantissa;  // digits only
    int point = 0;         // digits after the decimal point
    int exponent = 0;
    bool is_radix = false;  // &H / &O
    unsigned long long radix_value = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view StripBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

ParseStatus ScanNumber(std::string_view text, NumberText& out) {
    std::string_view s = StripBlanks(text);
    if (s.empty()) return ParseStatus::NotNumber;
    if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
        int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
        std::string_view d = s.substr(2);
        auto [p, ec] = std::from_chars(d.data(), d.data() + d.size(), out.radix_value, base);
        if (ec == std::errc::result_out_of_range) return ParseStatus::Overflow;
        if (ec != std::errc() || p != d.data() + d.size()) return ParseStatus::NotNumber;
        out.is_radix = true;
        return ParseStatus::Ok;
    }
    std::size_t i = 0;
    if (s[i] == '+' || s[i] == '-') {
        out.negative = s[i] == '-';
        ++i;
    }
    bool any_digit = false, in_fraction = false;
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            any_digit = true;
            out.mantissa += c;
            if (in_fraction) ++out.point;
        } else if (c == '.' && !in_fraction) {
            in_fraction = true;
        } else {
            break;
        }
    }
    if (!any_digit) return ParseStatus::NotNumber;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        ++i;
        bool neg = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            neg = s[i] == '-';
            ++i;
        }
        if (i >= s.size() || s[i] < '0' || s[i] > '9') return ParseStatus::NotNumber;
        long e = 0;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
            if (e < 100000) e = e * 10 + (s[i] - '0');
        }
        out.exponent = static_cast<int>(neg ? -e : e);
    }
    if (i != s.size()) return ParseStatus::NotNumber;
    return ParseStatus::Ok;
}

ParseStatus ParseDoubleText(std::string_view text, double& value) {
    NumberText n;
    ParseStatus st = ScanNumber(text, n);
    if (st != ParseStatus::Ok) return st;
    if (n.is_radix) {
        value = static_cast<double>(n.radix_value);
        return ParseStatus::Ok;
    }
    std::string canon = n.mantissa + "e" + std::to_string(n.exponent - n.point);
    auto [p, ec] = std::from_chars(canon.data(), canon.data() + canon.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // from_chars also reports underflow this way; a tiny value is zero, a huge one overflows. Which one
        // it is depends on the significant digits as well as the exponent ("1<400 zeros>E-10" is huge).
        std::size_t first = n.mantissa.find_first_not_of('0');
        long long magnitude = first == std::string::npos
                                  ? 0
                                  : static_cast<long long>(n.mantissa.size() - first) + n.exponent - n.point;
        if (magnitude <= 0) {
            value = 0;
        } else {
            return ParseStatus::Overflow;
        }
    } else if (ec != std::errc()) {
        return ParseStatus::NotNumber;
    }
    if (n.negative) value = -value;
    return ParseStatus::Ok;
}

// Exact decimal parse (digits beyond 28 decimal places are rounded half to even).
ParseStatus ParseDecimalText(std::string_view text, Decimal& out) {
    NumberText n;
    ParseStatus st = ScanNumber(text, n);
    if (st != ParseStatus::Ok) return st;
    if (n.is_radix) {
        out = Decimal{static_cast<__int128>(n.radix_value), 0};
        return ParseStatus::Ok;
    }
    std::string digits = n.mantissa;
    std::size_t nz = digits.find_first_not_of('0');
    digits = nz == std::string::npos ? "0" : digits.substr(nz);
    int scale = n.point - n.exponent;
    if (digits == "0") {
        out = Decimal{0, 0};
        return ParseStatus::Ok;
    }
    if (scale < 0) {
        if (digits.size() + static_cast<std::size_t>(-scale) > 29) return ParseStatus::Overflow;
        digits.append(static_cast<std::size_t>(-scale), '0');
        scale = 0;
    }
    // Keep at most 29 significant digits and a scale of at most 28. Twenty-nine digits may still exceed the
    // 96-bit mantissa (above 79228162514264337593543950335); then one more decimal goes, as long as there is
    // one to give.
    int drop = 0;
    if (scale > Decimal::kMaxScale) drop = scale - Decimal::kMaxScale;
    if (static_cast<int>(digits.size()) - drop > 29) drop = static_cast<int>(digits.size()) - 29;
    __int128 m = 0;
    for (;; ++drop) {
        if (drop > scale) return ParseStatus::Overflow;
        int keep = static_cast<int>(digits.size()) - drop;
        if (keep <= 0) {
            out = Decimal{0, 0};
            return ParseStatus::Ok;
        }
        m = 0;
        for (int i = 0; i < keep; ++i) m = m * 10 + (digits[static_cast<std::size_t>(i)] - '0');
        if (drop > 0) {
            // Round half to even on the dropped digits.
            char first = digits[static_cast<std::size_t>(keep)];
            bool rest_nonzero =
                digits.find_first_not_of('0', static_cast<std::size_t>(keep) + 1) != std::string::npos;
            if (first > '5' || (first == '5' && (rest_nonzero || (m % 2) != 0))) ++m;
        }
        if (Decimal::FitsMantissa(m)) break;
    }
    scale -= drop;
    out = Decimal{n.negative ? -m : m, static_cast<std::uint8_t>(scale)};
    return ParseStatus::Ok;
}

long double DecimalToLongDouble(const Decimal& d) {
    return static_cast<long double>(d.mantissa) / static_cast<long double>(Pow10(d.scale));
}

[[noreturn]] void Mismatch() { RaiseRuntime(rt::TypeMismatch); }
[[noreturn]] void Overflow() { RaiseRuntime(rt::Overflow); }
[[noreturn]] void NullUse() { RaiseRuntime(rt::InvalidUseOfNull); }

double TextToDouble(const std::string& s) {
    double d = 0;
    switch (ParseDoubleText(s, d)) {
        case ParseStatus::Ok: return d;
        case ParseStatus::Overflow: Overflow();
        default: break;
    }
    // "True"/"False" convert to numbers too, as the language's coercion does.
    if (TextEquals(StripBlanks(s), "True")) return -1;
    if (TextEquals(StripBlanks(s), "False")) return 0;
    Mismatch();
}

// Rounds half to even, as the language's integer conversions do.
double RoundEven(double d) {
    double r = std::nearbyint(d);  // the default rounding mode is to nearest, ties to even
    return r;
}

template <class I>
I ToInteger(const Variant& v) {
    using L = std::numeric_limits<I>;
    auto from_scaled = [](__int128 mantissa, int scale) {
        __int128 q = scale > 0 ? DivRoundEven(mantissa, scale) : mantissa;
        if (q < L::min() || q > L::max()) Overflow();
        return static_cast<I>(q);
    };
    if (const auto* c = v.get_if<Currency>()) return from_scaled(c->scaled, 4);
    if (const auto* d = v.get_if<Decimal>()) return from_scaled(d->mantissa, d->scale);
    if (const auto* s = v.get_if<std::string>()) {
        // Text converts exactly: through a Double, "9223372036854775807" would round past the 64-bit range
        // and "2.50000000000000001" would round to 2.
        Decimal t;
        switch (ParseDecimalText(*s, t)) {
            case ParseStatus::Ok: return from_scaled(t.mantissa, t.scale);
            case ParseStatus::Overflow: Overflow();
            case ParseStatus::NotNumber: break;  // "True"/"False" or a mismatch, as CDbl decides
        }
    }
    if (const auto* ll = v.get_if<std::int64_t>()) {
        if (*ll < L::min() || *ll > L::max()) Overflow();
        return static_cast<I>(*ll);
    }
    double d = CDbl(v);
    if (std::isnan(d)) Overflow();
    double r = RoundEven(d);
    // Compare in long double so that the limits of a 64-bit target are represented exactly.
    if (static_cast<long double>(r) < static_cast<long double>(L::min()) ||
        static_cast<long double>(r) > static_cast<long double>(L::max()))
        Overflow();
    return static_cast<I>(r);
}

// ---- dates ---------------------------------------------------------------------------------------------------

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

constexpr long long kEpochOffset = 25569;  // days from 1899-12-30 to 1970-01-01
constexpr double kMinDate = -657434;  // 0100-01-01
constexpr double kMaxDate = 2958465;  // 9999-12-31

// The serials that name a moment of 0100-01-01 .. 9999-12-31. Before day zero the fraction counts forward from
// midnight, so -657434.5 is noon of the first day and the lower bound is open.
bool InDateRange(double days) { return days > kMinDate - 1 && days < kMaxDate + 1; }

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ValidParts(const DateParts& p) {
    return p.year >= 100 && p.year <= 9999 && p.month >= 1 && p.month <= 12 && p.day >= 1 &&
           p.day <= DaysInMonth(p.year, p.month) && p.hour >= 0 && p.hour <= 23 && p.minute >= 0 &&
           p.minute <= 59 && p.second >= 0 && p.second <= 59 && p.fraction >= 0 && p.fraction < 1;
}

Date SerialFromParts(const DateParts& p) {
    double days = static_cast<double>(DaysFromCivil(p.year, static_cast<unsigned>(p.month),
                                                    static_cast<unsigned>(p.day)) +
                                      kEpochOffset);
    return DateAt(days, p.hour * 3600.0 + p.minute * 60.0 + p.second + p.fraction);
}

// Reads up to `max` digits as an integer; false when there is none.
bool ReadInt(std::string_view s, std::size_t& i, int max, int& out) {
    std::size_t start = i;
    int v = 0;
    while (i < s.size() && i - start < static_cast<std::size_t>(max) && s[i] >= '0' && s[i] <= '9')
        v = v * 10 + (s[i++] - '0');
    out = v;
    return i > start;
}

bool ReadTime(std::string_view s, std::size_t& i, DateParts& p) {
    if (!ReadInt(s, i, 2, p.hour) || i >= s.size() || s[i] != ':') return false;
    ++i;
    if (!ReadInt(s, i, 2, p.minute)) return false;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!ReadInt(s, i, 2, p.second)) return false;
        if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
            ++i;
            double scale = 0.1, frac = 0;
            std::size_t start = i;
            while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
                frac += (s[i++] - '0') * scale;
                scale /= 10;
            }
            if (i == start) return false;
            p.fraction = frac;
        }
    }
    // Optional AM/PM.
    std::size_t j = i;
    while (j < s.size() && s[j] == ' ') ++j;
    if (j + 2 <= s.size()) {
        std::string ampm = UCase(s.substr(j, 2));
        if (ampm == "AM" || ampm == "PM") {
            if (p.hour < 1 || p.hour > 12) return false;
            if (ampm == "AM" && p.hour == 12) p.hour = 0;
            if (ampm == "PM" && p.hour != 12) p.hour += 12;
            i = j + 2;
        }
    }
    return true;
}

bool ReadDatePart(std::string_view s, std::size_t& i, DateParts& p) {
    std::size_t save = i;
    int a = 0, b = 0, c = 0;
    if (!ReadInt(s, i, 4, a)) return false;
    bool four = i - save == 4;
    if (i >= s.size()) return false;
    char sep = s[i];
    if (sep != '-' && sep != '/') return false;
    ++i;
    if (!ReadInt(s, i, 2, b) || i >= s.size() || s[i] != sep) return false;
    ++i;
    std::size_t cstart = i;
    if (!ReadInt(s, i, 4, c)) return false;
    if (four) {  // yyyy-mm-dd or yyyy/mm/dd
        p.year = a;
        p.month = b;
        p.day = c;
    } else if (sep == '/' && i - cstart == 4) {  // m/d/yyyy
        p.month = a;
        p.day = b;
        p.year = c;
    } else {
        return false;
    }
    return true;
}

}  // namespace

// ---- to text -----------------------------------------------------------------------------------------------
std::string FormatDouble(double d) { return FormatFloating(d); }
std::string FormatSingle(float f) { return FormatFloating(f); }
std::string FormatCurrency(Currency c) { return ScaledToString(c.scaled, 4); }
std::string FormatDecimal(const Decimal& d) { return ScaledToString(d.mantissa, d.scale); }

std::string FormatDate(Date d) {
    DateParts p = PartsFromDate(d);
    char buf[40];
    bool has_time = p.hour != 0 || p.minute != 0 || p.second != 0;
    bool has_date = !(p.year == 1899 && p.month == 12 && p.day == 30);
    // Day zero shows as a time even at midnight: a TIME column holding 00:00:00 and an unset Date read so.
    if (!has_date) {
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    } else if (!has_time) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
    } else {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                      p.minute, p.second);
    }
    return buf;
}

std::string CStr(const Variant& v) {
    switch (v.Type()) {
        case VarType::Empty: return {};
        case VarType::Null: NullUse();
        case VarType::Boolean: return *v.get_if<bool>() ? "True" : "False";
        case VarType::Byte: return std::to_string(*v.get_if<std::uint8_t>());
        case VarType::Integer: return std::to_string(*v.get_if<std::int16_t>());
        case VarType::Long: return std::to_string(*v.get_if<std::int32_t>());
        case VarType::LongLong: return std::to_string(*v.get_if<std::int64_t>());
        case VarType::Single: return FormatSingle(*v.get_if<float>());
        case VarType::Double: return FormatDouble(*v.get_if<double>());
        case VarType::Currency: return FormatCurrency(*v.get_if<Currency>());
        case VarType::Decimal: return FormatDecimal(*v.get_if<Decimal>());
        case VarType::Date: return FormatDate(*v.get_if<Date>());
        case VarType::String: return *v.get_if<std::string>();
        case VarType::Error: return "Error " + std::to_string(v.get_if<ErrorValue>()->code);
        default: Mismatch();
    }
}

namespace {

std::size_t DigitsOf(std::uint64_t n) noexcept {
    // The bit length times log10(2) (1233 / 4096) gives the count of digits or one less, and one comparison
    // settles which: every bound number is measured, so no division per digit. The powers of ten start at
    // 0, as a number of up to three bits has one digit.
    // clang-format off
    static constexpr std::uint64_t kPowers[] = {
        0, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000, 10000000000,
        100000000000, 1000000000000, 10000000000000, 100000000000000, 1000000000000000,
        10000000000000000, 100000000000000000, 1000000000000000000, 10000000000000000000u};
    // clang-format on
    const auto low = static_cast<std::size_t>((std::bit_width(n | 1) * 1233) >> 12);
    return low + (n >= kPowers[low] ? 1 : 0);
}

std::size_t LenOfWhole(std::int64_t n) noexcept {
    const std::uint64_t magnitude = n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
    return (n < 0 ? 1 : 0) + DigitsOf(magnitude);
}

}  // namespace

KORADO_HOT std::size_t LenOfText(const Variant& v) {
    // Binding measures a text or a number for every parameter: those kinds are asked first.
    if (const auto* text = v.get_if<std::string>()) return Len(*text);
    switch (v.Type()) {
        case VarType::Byte: return LenOfWhole(*v.get_if<std::uint8_t>());
        case VarType::Integer: return LenOfWhole(*v.get_if<std::int16_t>());
        case VarType::Long: return LenOfWhole(*v.get_if<std::int32_t>());
        case VarType::LongLong: return LenOfWhole(*v.get_if<std::int64_t>());
        case VarType::Double: {
            // A whole number below 1E15 prints as its digits (larger ones take the exponent form).
            const double d = *v.get_if<double>();
            if (d == std::trunc(d) && std::fabs(d) < 1e15) return d == 0 ? 1 : LenOfWhole(static_cast<std::int64_t>(d));
            // A few decimals print as plain digits with a point: counted from the digits, as FormatFloating
            // lays them out ("0.0d" below one, "w.d" above; the decimal separator is one character).
            std::uint64_t whole = 0;
            int decimals = 0;
            if (FewDecimalsOf(d, whole, decimals)) {
                std::size_t n = DigitsOf(whole);
                const int exp = static_cast<int>(n) - 1 - decimals;
                for (; n > 1 && whole % 10 == 0; whole /= 10) --n;
                if (exp >= -4 && exp < 15) {
                    const std::size_t sign = d < 0 ? 1 : 0;
                    if (exp < 0) return sign + 2 + static_cast<std::size_t>(-exp - 1) + n;
                    return sign + n + 1;  // not whole: more digits than the integer part, and a point
                }
            }
            break;
        }
        default: break;
    }
    return Len(CStr(v));
}

// ---- to numbers ----------------------------------------------------------------------------------------------
std::optional<double> ParseNumber(std::string_view text) noexcept {
    double d = 0;
    try {
        if (ParseDoubleText(text, d) == ParseStatus::Ok) return d;
    } catch (...) {
    }
    return std::nullopt;
}

double CDbl(const Variant& v) {
    switch (v.Type()) {
        case VarType::Empty: return 0;
        case VarType::Null: NullUse();
        case VarType::Boolean: return *v.get_if<bool>() ? -1 : 0;
        case VarType::Byte: return *v.get_if<std::uint8_t>();
        case VarType::Integer: return *v.get_if<std::int16_t>();
        case VarType::Long: return *v.get_if<std::int32_t>();
        case VarType::LongLong: return static_cast<double>(*v.get_if<std::int64_t>());
        case VarType::Single: return *v.get_if<float>();
        case VarType::Double: return *v.get_if<double>();
        case VarType::Currency: return static_cast<double>(v.get_if<Currency>()->scaled) / Currency::kScale;
        case VarType::Decimal: return static_cast<double>(DecimalToLongDouble(*v.get_if<Decimal>()));
        case VarType::Date: return v.get_if<Date>()->days;
        case VarType::String: return TextToDouble(*v.get_if<std::string>());
        default: Mismatch();
    }
}

float CSng(const Variant& v) {
    double d = CDbl(v);
    if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) Overflow();
    return static_cast<float>(d);
}

KORADO_HOT std::int32_t CLng(const Variant& v) {
    if (const auto* i = v.get_if<std::int32_t>()) return *i;
    return ToInteger<std::int32_t>(v);
}
std::int16_t CInt(const Variant& v) { return ToInteger<std::int16_t>(v); }
std::uint8_t CByte(const Variant& v) { return ToInteger<std::uint8_t>(v); }
std::int64_t CLngLng(const Variant& v) { return ToInteger<std::int64_t>(v); }

Decimal CDec(const Variant& v) {
    switch (v.Type()) {
        case VarType::Empty: return {};
        case VarType::Null: NullUse();
        case VarType::Decimal: return *v.get_if<Decimal>();
        case VarType::Currency: return Decimal{v.get_if<Currency>()->scaled, 4};
        case VarType::Boolean:
        case VarType::Byte:
        case VarType::Integer:
        case VarType::Long:
        case VarType::LongLong: return Decimal{CLngLng(v), 0};
        case VarType::String: {
            Decimal d;
            switch (ParseDecimalText(*v.get_if<std::string>(), d)) {
                case ParseStatus::Ok: return d;
                case ParseStatus::Overflow: Overflow();
                default: Mismatch();
            }
        }
        default: {
            double d = CDbl(v);
            if (!std::isfinite(d)) Overflow();
            // A Single converts by its own shortest digits: CDec(CSng(0.1)) is 0.1, not the Double widening's
            // 0.10000000149011612.
            const auto* f = v.get_if<float>();
            Decimal r;
            if (ParseDecimalText(f ? FormatSingle(*f) : FormatDouble(d), r) != ParseStatus::Ok) Overflow();
            return r;
        }
    }
}

Currency CCur(const Variant& v) {
    constexpr __int128 kMax = std::numeric_limits<std::int64_t>::max();
    constexpr __int128 kMin = std::numeric_limits<std::int64_t>::min();
    if (const auto* c = v.get_if<Currency>()) return *c;
    Decimal d;
    if (v.IsString() || v.Type() == VarType::Decimal) {
        d = CDec(v);
    } else if (v.Type() == VarType::Single || v.Type() == VarType::Double || v.Type() == VarType::Date) {
        double x = CDbl(v) * Currency::kScale;
        if (!std::isfinite(x) || std::fabs(x) >= 9.3e18) Overflow();
        __int128 r = static_cast<__int128>(RoundEven(x));
        if (r > kMax || r < kMin) Overflow();
        return Currency{static_cast<std::int64_t>(r)};
    } else {
        d = Decimal{CLngLng(v), 0};
    }
    __int128 scaled = d.scale <= 4 ? d.mantissa * Pow10(4 - d.scale) : DivRoundEven(d.mantissa, d.scale - 4);
    if (scaled > kMax || scaled < kMin) Overflow();
    return Currency{static_cast<std::int64_t>(scaled)};
}

bool CBool(const Variant& v) {
    switch (v.Type()) {
        case VarType::Empty: return false;
        case VarType::Null: NullUse();
        case VarType::Boolean: return *v.get_if<bool>();
        case VarType::String: {
            std::string_view s = StripBlanks(*v.get_if<std::string>());
            if (TextEquals(s, "True")) return true;
            if (TextEquals(s, "False")) return false;
            double d = 0;
            switch (ParseDoubleText(s, d)) {
                case ParseStatus::Ok: return d != 0;
                case ParseStatus::Overflow: return true;
                default: Mismatch();
            }
        }
        case VarType::Currency: return v.get_if<Currency>()->scaled != 0;
        case VarType::Decimal: return v.get_if<Decimal>()->mantissa != 0;
        case VarType::LongLong: return *v.get_if<std::int64_t>() != 0;
        default: return CDbl(v) != 0;
    }
}

Date CDate(const Variant& v) {
    switch (v.Type()) {
        case VarType::Date: return *v.get_if<Date>();
        case VarType::Null: NullUse();
        case VarType::String: {
            if (auto d = ParseDate(*v.get_if<std::string>())) return *d;
            Mismatch();
        }
        default: {
            double d = CDbl(v);
            if (!InDateRange(d)) Overflow();
            return Date{d};
        }
    }
}

// ---- tests -----------------------------------------------------------------------------------------------------
bool IsNumeric(const Variant& v) noexcept {
    switch (v.Type()) {
        case VarType::Empty:
        case VarType::Boolean:
        case VarType::Byte:
        case VarType::Integer:
        case VarType::Long:
        case VarType::LongLong:
        case VarType::Single:
        case VarType::Double:
        case VarType::Currency:
        case VarType::Decimal: return true;
        case VarType::String: {
            double d = 0;
            try {
                return ParseDoubleText(*v.get_if<std::string>(), d) != ParseStatus::NotNumber;
            } catch (...) {
                return false;
            }
        }
        default: return false;
    }
}

bool IsDate(const Variant& v) noexcept {
    if (v.Type() == VarType::Date) return true;
    if (const auto* s = v.get_if<std::string>()) return ParseDate(*s).has_value();
    return false;
}

std::string TypeName(const Variant& v) {
    switch (v.Type()) {
        case VarType::Empty: return "Empty";
        case VarType::Null: return "Null";
        case VarType::Integer: return "Integer";
        case VarType::Long: return "Long";
        case VarType::Single: return "Single";
        case VarType::Double: return "Double";
        case VarType::Currency: return "Currency";
        case VarType::Date: return "Date";
        case VarType::String: return "String";
        case VarType::Object: {
            Ref<Dispatch> o = v.AsObject();
            return o ? std::string(o->ClassName()) : "Nothing";
        }
        case VarType::Error: return "Error";
        case VarType::Boolean: return "Boolean";
        case VarType::Decimal: return "Decimal";
        case VarType::Byte: return "Byte";
        case VarType::LongLong: return "LongLong";
        case VarType::Array: return "Variant()";
        case VarType::ByteArray: return "Byte()";
    }
    return "Unknown";
}

// ---- dates -------------------------------------------------------------------------------------------------------
Date DateAt(double day, double seconds) noexcept {
    const double time = seconds / 86400.0;
    // Before 1899-12-30 the time still counts forward from the day's midnight.
    double serial = day >= 0 ? day + time : day - time;
    // "23:59:59.99999" can round up to the next day in a double: it stays on its own day, so that
    // 9999-12-31 keeps within the calendar and every date reads back on the day it was written.
    if (std::trunc(serial) != day) serial = std::nextafter(day >= 0 ? day + 1 : day - 1, day);
    return Date{serial};
}

Date DateFromParts(const DateParts& p) {
    if (!ValidParts(p)) RaiseRuntime(rt::InvalidProcedureCall);
    return SerialFromParts(p);
}

DateParts PartsFromDate(Date d) {
    // Outside the calendar's range the day count would not even fit an integer.
    if (!InDateRange(d.days)) RaiseRuntime(rt::Overflow);
    double whole = std::trunc(d.days);
    double frac = std::fabs(d.days - whole);
    auto ms = static_cast<long long>(std::llround(frac * 86400000.0));
    long long day = static_cast<long long>(whole);
    if (ms >= 86400000LL && day >= kMaxDate) {
        // The last moment of 9999-12-31 must not round into a year 10000 that nothing reads back.
        ms = 86400000LL - 1;
    } else if (ms >= 86400000LL) {
        // Rounded up to the next midnight. The time runs forward from midnight also before day zero, so the
        // next midnight is the following calendar day whatever the serial's sign.
        ms -= 86400000LL;
        day += 1;
    }
    DateParts p;
    CivilFromDays(day - kEpochOffset, p.year, p.month, p.day);
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.fraction = static_cast<double>(ms % 1000) / 1000.0;
    return p;
}

Date DateSerial(int year, int month, int day) {
    // Months and days outside their range carry into the neighbouring year and month, as DateSerial does.
    // Only the resulting date must lie in the calendar's range (DateSerial(10000, 1, -5) is 9999-12-26). The
    // arithmetic stays in 64 bits: with int arguments the year stays within a few hundred million.
    long long m0 = static_cast<long long>(month) - 1;
    long long y = year + (m0 >= 0 ? m0 / 12 : (m0 - 11) / 12);
    long long m = ((m0 % 12) + 12) % 12 + 1;
    long long days =
        DaysFromCivil(y, static_cast<unsigned>(m), 1) + (static_cast<long long>(day) - 1) + kEpochOffset;
    if (days < kMinDate || days > kMaxDate) RaiseRuntime(rt::InvalidProcedureCall);
    return Date{static_cast<double>(days)};
}

Date TimeSerial(int hour, int minute, int second) {
    return Date{(hour * 3600.0 + minute * 60.0 + second) / 86400.0};
}

std::optional<Date> ParseDate(std::string_view text) noexcept {
    try {
        std::string_view s = StripBlanks(text);
        if (s.empty()) return std::nullopt;
        DateParts p;
        std::size_t i = 0;
        bool has_date = false;
        {
            std::size_t j = 0;
            DateParts q;
            if (ReadDatePart(s, j, q)) {
                p.year = q.year;
                p.month = q.month;
                p.day = q.day;
                i = j;
                has_date = true;
            }
        }
        if (has_date) {
            if (i < s.size()) {
                if (s[i] != ' ' && s[i] != 'T') return std::nullopt;
                while (i < s.size() && (s[i] == ' ' || s[i] == 'T')) ++i;
                if (!ReadTime(s, i, p)) return std::nullopt;
            }
        } else if (!ReadTime(s, i, p)) {
            return std::nullopt;
        }
        if (i < s.size() && s[i] == 'Z') ++i;
        if (i != s.size()) return std::nullopt;
        if (!ValidParts(p)) return std::nullopt;
        return SerialFromParts(p);
    } catch (...) {
        return std::nullopt;
    }
}

// ---- comparison -------------------------------------------------------------------------------------------------
namespace {

enum class Kind { Empty, Number, Text };

Kind KindOf(const Variant& v) {
    switch (v.Type()) {
        case VarType::Empty: return Kind::Empty;
        case VarType::String: return Kind::Text;
        case VarType::Boolean:
        case VarType::Byte:
        case VarType::Integer:
        case VarType::Long:
        case VarType::LongLong:
        case VarType::Single:
        case VarType::Double:
        case VarType::Currency:
        case VarType::Decimal:
        case VarType::Date: return Kind::Number;
        default: Mismatch();
    }
}

bool IsIntegral(const Variant& v) {
    switch (v.Type()) {
        case VarType::Boolean:
        case VarType::Byte:
        case VarType::Integer:
        case VarType::Long:
        case VarType::LongLong: return true;
        default: return false;
    }
}

// Exact when both sides are integers, currencies or decimals; otherwise in long double.
Cmp CompareNumbers(const Variant& a, const Variant& b) {
    auto exact = [](const Variant& v, Decimal& out) {
        if (IsIntegral(v)) {
            out = Decimal{CLngLng(v), 0};
            return true;
        }
        if (const auto* c = v.get_if<Currency>()) {
            out = Decimal{c->scaled, 4};
            return true;
        }
        if (const auto* d = v.get_if<Decimal>()) {
            out = *d;
            return true;
        }
        return false;
    };
    Decimal x, y;
    if (exact(a, x) && exact(b, y)) {
        int s = std::max(x.scale, y.scale);
        __int128 px = Pow10(s - x.scale), py = Pow10(s - y.scale);
        // Only the side with fewer decimal places is scaled up. When that leaves 128 bits (a 64-bit integer
        // against 28 decimal places), it is the larger in magnitude, the other side being unscaled and below
        // 2^97, so its sign decides.
        constexpr __int128 kMax = static_cast<__int128>(~static_cast<unsigned __int128>(0) >> 1);
        auto fits = [&](__int128 m, __int128 p) { return (m < 0 ? -m : m) <= kMax / p; };
        if (!fits(x.mantissa, px)) return x.mantissa > 0 ? Cmp::Greater : Cmp::Less;
        if (!fits(y.mantissa, py)) return y.mantissa > 0 ? Cmp::Less : Cmp::Greater;
        __int128 mx = x.mantissa * px, my = y.mantissa * py;
        return mx < my ? Cmp::Less : mx > my ? Cmp::Greater : Cmp::Equal;
    }
    auto value = [](const Variant& v) -> long double {
        if (const auto* d = v.get_if<Decimal>()) return DecimalToLongDouble(*d);
        if (const auto* ll = v.get_if<std::int64_t>()) return static_cast<long double>(*ll);
        return CDbl(v);
    };
    long double p = value(a), q = value(b);
    return p < q ? Cmp::Less : p > q ? Cmp::Greater : Cmp::Equal;
}

}  // namespace

Cmp Compare(const Variant& a, const Variant& b, CompareMethod method) {
    if (a.IsNull() || b.IsNull()) return Cmp::Null;
    Kind ka = KindOf(a), kb = KindOf(b);
    if (ka == Kind::Empty && kb == Kind::Empty) return Cmp::Equal;
    if (ka == Kind::Empty) return Compare(kb == Kind::Text ? Variant(std::string()) : Variant(0), b, method);
    if (kb == Kind::Empty) return Compare(a, ka == Kind::Text ? Variant(std::string()) : Variant(0), method);
    if (ka == Kind::Number && kb == Kind::Number) return CompareNumbers(a, b);
    if (ka == Kind::Text && kb == Kind::Text) {
        int r = StrComp(*a.get_if<std::string>(), *b.get_if<std::string>(), method);
        return r < 0 ? Cmp::Less : r > 0 ? Cmp::Greater : Cmp::Equal;
    }
    // A number is less than a text.
    return ka == Kind::Number ? Cmp::Less : Cmp::Greater;
}

bool Equals(const Variant& a, const Variant& b, CompareMethod method) {
    return Compare(a, b, method) == Cmp::Equal;
}

}  // namespace korado
