#include "host_text.h"

#include <cinttypes>
#include <cstdio>

#include "korado/platform/ado_enums.h"

namespace korado::apps {

std::string LineFeedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += '\n';
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string FormatError(const Error& e) {
    char number[16];
    std::snprintf(number, sizeof number, "0x%08" PRIX32, static_cast<std::uint32_t>(e.Number()));
    return "Error " + std::string(number) + " (" + e.Source() + "): " + LineFeedText(e.Description());
}

bool IsNumericType(std::int32_t ado_type) noexcept {
    switch (ado_type) {
        case ado::adSmallInt:
        case ado::adInteger:
        case ado::adSingle:
        case ado::adDouble:
        case ado::adCurrency:
        case ado::adDecimal:
        case ado::adTinyInt:
        case ado::adUnsignedTinyInt:
        case ado::adUnsignedSmallInt:
        case ado::adUnsignedInt:
        case ado::adBigInt:
        case ado::adUnsignedBigInt:
        case ado::adNumeric:
        case ado::adVarNumeric:
            return true;
        default:
            return false;
    }
}

}  // namespace korado::apps
