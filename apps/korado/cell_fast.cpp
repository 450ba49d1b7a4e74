#include "cell_fast.h"

#include <charconv>
#include <cstdint>

#include "korado/runtime/convert.h"

namespace korado::console {
namespace {

template <class Int>
void AppendInteger(Int n, std::string& out) {
    char buf[24];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, end);
}

// `n` (0 <= n < 10^width) with leading zeros, as "%0<width>d".
void AppendDigits(int n, int width, std::string& out) {
    char buf[4];
    for (int i = width - 1; i >= 0; --i, n /= 10) buf[i] = static_cast<char>('0' + n % 10);
    out.append(buf, static_cast<std::size_t>(width));
}

// FormatDate's forms: a time alone on day zero, a date alone at midnight, else both.
bool AppendDate(Date d, std::string& out) {
    const DateParts p = PartsFromDate(d);
    if (p.year < 0 || p.year > 9999) return false;
    const bool has_time = p.hour != 0 || p.minute != 0 || p.second != 0;
    const bool has_date = !(p.year == 1899 && p.month == 12 && p.day == 30);
    if (has_date) {
        AppendDigits(p.year, 4, out);
        out += '-';
        AppendDigits(p.month, 2, out);
        out += '-';
        AppendDigits(p.day, 2, out);
        if (!has_time) return true;
        out += ' ';
    }
    AppendDigits(p.hour, 2, out);
    out += ':';
    AppendDigits(p.minute, 2, out);
    out += ':';
    AppendDigits(p.second, 2, out);
    return true;
}

}  // namespace

bool AppendFastCellText(const Variant& value, std::string& out) {
    switch (value.Type()) {
        case VarType::Long:
            AppendInteger(*value.get_if<std::int32_t>(), out);
            return true;
        case VarType::LongLong:
            AppendInteger(*value.get_if<std::int64_t>(), out);
            return true;
        case VarType::Integer:
            AppendInteger(*value.get_if<std::int16_t>(), out);
            return true;
        case VarType::Date:
            return AppendDate(*value.get_if<Date>(), out);
        default:
            return false;
    }
}

}  // namespace korado::console
