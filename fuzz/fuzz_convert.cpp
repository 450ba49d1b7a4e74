// Arbitrary bytes as text through every conversion and text function. Only korado::Error with a runtime
// number (5, 6, 13, 94) may come out; what converts must print and read back to the same value, and the
// text functions must stay within the text's characters.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "korado/runtime/convert.h"
#include "korado/runtime/error.h"
#include "korado/runtime/strings.h"

namespace {

using namespace korado;

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// Runs `f`; a korado::Error must carry one of the numbers a conversion raises. True when `f` returned.
template <class F>
bool Try(F&& f) {
    try {
        f();
        return true;
    } catch (const Error& e) {
        int n = e.Number();
        Check(n == rt::InvalidProcedureCall || n == rt::Overflow || n == rt::TypeMismatch ||
              n == rt::InvalidUseOfNull);
        return false;
    }
}

// A date as a point in time, in days. Before 1899-12-30 a Date counts its whole days down but its time of
// day up (-1.25 is 1899-12-29 06:00), so two moments a second apart across midnight differ by almost two.
double Moment(Date d) {
    const double day = std::trunc(d.days);
    return day + std::fabs(d.days - day);
}

void Conversions(const std::string& text) {
    const Variant v(text);

    std::optional<double> parsed = ParseNumber(text);
    bool numeric = IsNumeric(v);
    Check(!parsed || numeric);
    double d = 0;
    if (Try([&] { d = CDbl(v); })) {
        if (parsed) Check(*parsed == d);
        // The printed form reads back to the same Double.
        std::string printed = CStr(d);
        std::optional<double> back = ParseNumber(printed);
        Check(back && *back == d);
        Check(LenOfText(Variant(d)) == Len(printed));
    } else {
        Check(!parsed);
    }
    Try([&] { CStr(CSng(v)); });
    Try([&] { CStr(CLng(v)); });
    Try([&] { CStr(CInt(v)); });
    Try([&] { CStr(CByte(v)); });
    Try([&] { CStr(CLngLng(v)); });
    Try([&] {
        Currency c = CCur(v);
        Check(CCur(CStr(c)) == c);
    });
    Try([&] {
        Decimal dec = CDec(v);
        Check(Compare(CDec(CStr(dec)), dec) == Cmp::Equal);
    });
    Try([&] { CStr(CBool(v)); });

    std::optional<Date> date = ParseDate(text);
    Check(IsDate(v) == date.has_value());
    Date cd;
    if (Try([&] { cd = CDate(v); })) {
        Check(date && *date == cd);
        // Printed to the second, it reads back within a second of the value.
        std::optional<Date> back = ParseDate(CStr(cd));
        Check(back && std::fabs(Moment(*back) - Moment(cd)) < 1.0 / 86400 + 1e-9);
    } else {
        Check(!date);
    }
}

void TextFunctions(std::string_view s, std::string_view find) {
    std::size_t len = Len(s);
    Check(len <= s.size());
    Check(Left(s, len / 2) + Mid(s, len / 2 + 1) == s);
    Check(Right(s, len) == s);
    Check(Mid(s, 1, len) == s);
    for (CompareMethod method : {CompareMethod::Binary, CompareMethod::Text}) {
        std::size_t at = InStr(s, find, method);
        Check(at <= len + 1);
        if (at != 0 && !find.empty()) Check(at <= len);
        if (method == CompareMethod::Binary && at != 0) Check(Mid(s, at, Len(find)) == find);
        std::size_t last = InStrRev(s, find, method);
        Check((last == 0) == (at == 0) || find.empty());
        Check(last >= at || find.empty());
        Check(InStr(len + 2, s, find, method) == 0);
        std::string replaced = Replace(s, find, "\xE2\x82\xAC", method);
        if (at == 0) Check(replaced == s);
        Check(Compare(Variant(std::string(s)), Variant(std::string(find)), method) ==
              static_cast<Cmp>(
                  -static_cast<int>(Compare(Variant(std::string(find)), Variant(std::string(s)), method))));
    }
    Check(Replace(s, find, find) == s);
    Check(TextEquals(s, FoldCase(s)));
    Check(Len(Trim(s)) <= len);
    UCase(find);
    LCase(find);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    Conversions(text);
    // The first byte says how long the search text is; it follows, and the rest is searched.
    std::string_view rest(text);
    std::size_t n = rest.empty() ? 0 : static_cast<unsigned char>(rest.front()) % 16;
    if (!rest.empty()) rest.remove_prefix(1);
    n = std::min(n, rest.size());
    TextFunctions(rest.substr(n), rest.substr(0, n));
    return 0;
}
