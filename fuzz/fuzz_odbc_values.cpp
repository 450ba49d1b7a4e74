// The ODBC bridge's per-value readers on arbitrary input. The first byte picks what the rest is:
//  - UTF-16 units for AssignUtf8, written over a slot's old text: the UTF-8 must read back as the same
//    units, with U+FFFD for each unpaired surrogate;
//  - a driver's numeric text: the plain form, where it takes the text, must read what the general reading
//    reads (a leading blank sends a text there), and a value slot refilled with it must hold the same.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "dataaccess/providers/odbc/odbc_provider.h"
#include "dataaccess/providers/odbc/odbc_text.h"
#include "dataaccess/providers/odbc/odbc_values.h"

namespace {

using namespace korado::dataaccess::odbc;

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

void Text(const std::uint8_t* data, std::size_t size, std::size_t old_size) {
    std::u16string units(size / 2, u'\0');
    if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
    std::u16string expected = units;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        char16_t u = expected[i];
        bool high = u >= 0xD800 && u <= 0xDBFF;
        bool low = u >= 0xDC00 && u <= 0xDFFF;
        if (high && i + 1 < expected.size() && expected[i + 1] >= 0xDC00 && expected[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            expected[i] = 0xFFFD;
        }
    }
    std::string out(old_size, '#');
    AssignUtf8(units.data(), units.size(), out);
    Check(out == ToUtf8(units));
    Check(ToUtf16(out) == expected);
}

void Number(std::string_view text) {
    std::optional<korado::Decimal> general = ParseDecimalText(" " + std::string(text));
    Check(ParseDecimalText(text) == general);
    korado::Decimal plain{12345, 3};
    if (ParsePlainDecimal(text, plain)) {
        Check(general && *general == plain);
    } else {
        Check(plain == korado::Decimal{12345, 3});
    }
    korado::Variant slot(std::string(40, 'x'));
    AssignNumeric(slot, text);
    Check(slot == NumericVariant(text));
    if (general) Check(slot == korado::Variant(*general));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::uint8_t mode = data[0];
    ++data, --size;
    if (mode & 1) {
        Text(data, size, mode >> 1);
    } else {
        Number(std::string_view(reinterpret_cast<const char*>(data), size));
    }
    return 0;
}
