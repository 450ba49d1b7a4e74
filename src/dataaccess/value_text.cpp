#include "dataaccess/value_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "korado/runtime/convert.h"

namespace korado::dataaccess {
namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) noexcept {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

const long long kAutomationEpoch = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

struct Scanner {
    std::string_view s;
    std::size_t i = 0;
    bool Digits(int count, int& out) {
        if (i + static_cast<std::size_t>(count) > s.size()) return false;
        int v = 0;
        for (int k = 0; k < count; ++k) {
            char c = s[i + static_cast<std::size_t>(k)];
            if (c < '0' || c > '9') return false;
            v = v * 10 + (c - '0');
        }
        i += static_cast<std::size_t>(count);
        out = v;
        return true;
    }
    bool Eat(char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    bool AtEnd() const { return i >= s.size(); }
};

// HH:MM[:SS[.fff]] into seconds of the day.
bool ParseTime(Scanner& sc, double& seconds) {
    int h = 0, m = 0, sec = 0;
    if (!sc.Digits(2, h) || !sc.Eat(':') || !sc.Digits(2, m)) return false;
    double frac = 0;
    if (sc.Eat(':')) {
        if (!sc.Digits(2, sec)) return false;
        if (sc.Eat('.')) {
            double scale = 0.1;
            bool any = false;
            while (!sc.AtEnd() && sc.s[sc.i] >= '0' && sc.s[sc.i] <= '9') {
                frac += (sc.s[sc.i] - '0') * scale;
                scale /= 10;
                ++sc.i;
                any = true;
            }
            if (!any) return false;
        }
    }
    if (h > 23 || m > 59 || sec > 59) return false;
    seconds = h * 3600.0 + m * 60.0 + sec + frac;
    return true;
}

bool SkipZone(Scanner& sc) {
    if (sc.AtEnd()) return true;
    if (sc.Eat('Z') || sc.Eat('z')) return sc.AtEnd();
    if (sc.Eat('+') || sc.Eat('-')) {
        int hh = 0, mm = 0;
        if (!sc.Digits(2, hh)) return false;
        sc.Eat(':');
        if (!sc.AtEnd() && !sc.Digits(2, mm)) return false;
        return sc.AtEnd() && hh <= 23 && mm <= 59;
    }
    return false;
}

__int128 Pow10(int n) {
    __int128 p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}

}  // namespace

std::optional<Date> ParseIsoDate(std::string_view text) noexcept {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    Scanner sc{text};
    if (text.size() >= 5 && text[2] == ':') {
        double seconds = 0;
        if (!ParseTime(sc, seconds) || !SkipZone(sc)) return std::nullopt;
        return Date{seconds / 86400.0};
    }
    int y = 0, m = 0, d = 0;
    if (!sc.Digits(4, y) || !sc.Eat('-') || !sc.Digits(2, m) || !sc.Eat('-') || !sc.Digits(2, d))
        return std::nullopt;
    if (y < 100 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return std::nullopt;
    double seconds = 0;
    if (!sc.AtEnd()) {
        if (!(sc.Eat(' ') || sc.Eat('T') || sc.Eat('t'))) return std::nullopt;
        if (!ParseTime(sc, seconds)) return std::nullopt;
    }
    if (!SkipZone(sc)) return std::nullopt;
    const double day = static_cast<double>(
        DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) - kAutomationEpoch);
    return DateAt(day, seconds);
}

std::string FormatIsoDate(Date d, IsoStyle style) {
    DateParts p = PartsFromDate(d);
    const int ms = static_cast<int>(std::lround(p.fraction * 1000.0));
    const bool has_time = p.hour != 0 || p.minute != 0 || p.second != 0 || ms != 0;
    if (style == IsoStyle::kAuto) {
        if (!has_time) {
            style = IsoStyle::kDate;
        } else if (d.days >= 0 && d.days < 1) {
            style = IsoStyle::kTime;
        } else {
            style = IsoStyle::kDateTime;
        }
    }
    char buf[64];
    int n = 0;
    if (style != IsoStyle::kTime)
        n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
    if (style == IsoStyle::kDateTime) buf[n++] = ' ';
    if (style != IsoStyle::kDate) {
        n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), "%02d:%02d:%02d", p.hour,
                           p.minute, p.second);
        if (ms != 0) n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), ".%03d", ms);
    }
    return std::string(buf, static_cast<std::size_t>(n));
}

std::optional<Decimal> ParseDecimal(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    __int128 mantissa = 0;
    int scale = 0;
    bool any = false, point = false;
    int dropped = 0;  // integer digits beyond what the mantissa holds
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') break;
        any = true;
        if (mantissa > (Pow10(28))) {
            // More significant digits than a Decimal holds: fractional ones are dropped, integer ones
            // make the value unrepresentable.
            if (!point) ++dropped;
            continue;
        }
        mantissa = mantissa * 10 + (c - '0');
        if (point) ++scale;
    }
    if (!any || dropped > 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool exp_negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) exp_negative = text[i++] == '-';
        int exp = 0;
        bool exp_any = false;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            exp_any = true;
            if (exp < 1000) exp = exp * 10 + (text[i] - '0');
        }
        if (!exp_any) return std::nullopt;
        scale += exp_negative ? exp : -exp;
    }
    while (i < text.size() && text[i] == ' ') ++i;
    if (i != text.size()) return std::nullopt;
    if (scale < 0) {
        if (scale < -28) return std::nullopt;
        mantissa *= Pow10(-scale);
        scale = 0;
    }
    while (scale > Decimal::kMaxScale) {
        mantissa = (mantissa + 5) / 10;
        --scale;
    }
    if (!Decimal::FitsMantissa(mantissa)) return std::nullopt;
    Decimal d;
    d.mantissa = negative ? -mantissa : mantissa;
    d.scale = static_cast<std::uint8_t>(scale);
    return d;
}

std::optional<Decimal> DecimalFromDouble(double v, int scale) noexcept {
    if (!std::isfinite(v)) return std::nullopt;
    if (scale < 0) {
        try {
            return ParseDecimal(FormatDouble(v));
        } catch (...) {
            return std::nullopt;
        }
    }
    // Correctly rounded as printf's "%.*f" (both print the double's exact value), at a fraction of its
    // cost: NUMERIC columns of SQLite come as doubles and take this path for every value read.
    char buf[400];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, scale > 28 ? 28 : scale);
    if (ec != std::errc()) return std::nullopt;
    return ParseDecimal(std::string_view(buf, static_cast<std::size_t>(end - buf)));
}

std::optional<Decimal> RescaleDecimal(const Decimal& d, int scale) noexcept {
    if (scale < 0 || scale > Decimal::kMaxScale) return std::nullopt;
    Decimal out = d;
    if (scale > d.scale) {
        out.mantissa = d.mantissa * Pow10(scale - d.scale);
    } else if (scale < d.scale) {
        __int128 p = Pow10(d.scale - scale);
        __int128 q = d.mantissa / p, r = d.mantissa % p;
        if (r * 2 >= p) ++q;
        if (r * 2 <= -p) --q;
        out.mantissa = q;
    }
    out.scale = static_cast<std::uint8_t>(scale);
    if (!Decimal::FitsMantissa(out.mantissa)) return std::nullopt;
    return out;
}

double DecimalToDouble(const Decimal& d) noexcept {
    try {
        return CDbl(Variant(d));
    } catch (...) {
        return static_cast<double>(d.mantissa) / std::pow(10.0, d.scale);
    }
}

}  // namespace korado::dataaccess
