#include "dataaccess/persist_xml_format.h"

#include <algorithm>
#include <array>

#include "korado/platform/ado_enums.h"

namespace korado::dataaccess::persist::xml {
namespace {

// The names the platform writes. Sizes and precisions are those its providers report for the type, and
// what a reader assumes when a file leaves them out.
constexpr std::array kDeclarations{
    TypeDeclaration{ado::adTinyInt, "i1", "", 1, 3},
    TypeDeclaration{ado::adSmallInt, "i2", "", 2, 5},
    TypeDeclaration{ado::adInteger, "int", "", 4, 10},
    TypeDeclaration{ado::adBigInt, "i8", "", 8, 19},
    TypeDeclaration{ado::adUnsignedTinyInt, "ui1", "", 1, 3},
    TypeDeclaration{ado::adUnsignedSmallInt, "ui2", "", 2, 5},
    TypeDeclaration{ado::adUnsignedInt, "ui4", "", 4, 10},
    TypeDeclaration{ado::adUnsignedBigInt, "ui8", "", 8, 20},
    TypeDeclaration{ado::adSingle, "r4", "", 4, 7},
    TypeDeclaration{ado::adDouble, "float", "", 8, 15},
    TypeDeclaration{ado::adCurrency, "number", "currency", 8, 19},
    TypeDeclaration{ado::adNumeric, "number", "numeric", 19, 18},
    TypeDeclaration{ado::adDecimal, "number", "decimal", 16, 18},
    TypeDeclaration{ado::adVarNumeric, "number", "varnumeric", 19, 18},
    TypeDeclaration{ado::adBoolean, "boolean", "", 2, 0},
    TypeDeclaration{ado::adDate, "dateTime", "variantdate", 16, 0},
    TypeDeclaration{ado::adDBTimeStamp, "dateTime", "timestamp", 16, 0},
    TypeDeclaration{ado::adFileTime, "dateTime", "filetime", 8, 0},
    TypeDeclaration{ado::adDBDate, "date", "", 6, 0},
    TypeDeclaration{ado::adDBTime, "time", "", 6, 0},
    TypeDeclaration{ado::adGUID, "uuid", "", 16, 0},
    TypeDeclaration{ado::adVarWChar, "string", "", 0, 0},
    TypeDeclaration{ado::adWChar, "string", "", 0, 0},
    TypeDeclaration{ado::adLongVarWChar, "string", "", 0, 0},
    TypeDeclaration{ado::adVarChar, "string", "str", 0, 0},
    TypeDeclaration{ado::adChar, "string", "str", 0, 0},
    TypeDeclaration{ado::adLongVarChar, "string", "str", 0, 0},
    TypeDeclaration{ado::adBSTR, "string", "bstr", 0, 0},
    TypeDeclaration{ado::adVariant, "string", "variant", 0, 0},
    TypeDeclaration{ado::adVarBinary, "bin.hex", "", 0, 0},
    TypeDeclaration{ado::adBinary, "bin.hex", "", 0, 0},
    TypeDeclaration{ado::adLongVarBinary, "bin.hex", "", 0, 0},
};

constexpr std::array kFlags{
    FlagAttribute{"maydefer", ado::adFldMayDefer, false},
    FlagAttribute{"write", ado::adFldUpdatable, false},
    FlagAttribute{"writeunknown", ado::adFldUnknownUpdatable, false},
    FlagAttribute{"nullable", ado::adFldIsNullable, false},
    FlagAttribute{"rowid", ado::adFldRowID, false},
    FlagAttribute{"rowver", ado::adFldRowVersion, false},
    FlagAttribute{"cachedeferred", ado::adFldCacheDeferred, false},
    FlagAttribute{"negativescale", ado::adFldNegativeScale, true},
    FlagAttribute{"fixedlength", ado::adFldFixed, true},
    FlagAttribute{"long", ado::adFldLong, true},
};

bool SameName(std::string_view a, std::string_view b) noexcept {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// Decodes the UTF-8 sequence at `i`; 0 for a malformed one.
char32_t NextCodePoint(std::string_view s, std::size_t& i) noexcept {
    const auto lead = static_cast<unsigned char>(s[i++]);
    if (lead < 0x80) return lead;
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) > s.size()) return 0;
    char32_t c = lead & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i++]);
        if ((b & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b & 0x3F);
    }
    return c;
}

// XML 1.0's NameStartChar and NameChar, without the colon.
bool IsNameStart(char32_t c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c) noexcept {
    return IsNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

}  // namespace

const TypeDeclaration& DeclarationOf(std::int32_t type) noexcept {
    for (const TypeDeclaration& d : kDeclarations)
        if (d.type == type) return d;
    static constexpr TypeDeclaration kText{ado::adVarWChar, "string", "", 0, 0};
    return kText;
}

std::int32_t TypeOfDeclaration(std::string_view dt, std::string_view db, bool fixed,
                               bool long_data) noexcept {
    auto is = [&](std::string_view name) { return SameName(dt, name); };
    auto by_db = [&](std::string_view name) { return SameName(db, name); };
    if (is("int") || is("i4")) return ado::adInteger;
    if (is("i1")) return ado::adTinyInt;
    if (is("i2")) return ado::adSmallInt;
    if (is("i8")) return ado::adBigInt;
    if (is("ui1")) return ado::adUnsignedTinyInt;
    if (is("ui2")) return ado::adUnsignedSmallInt;
    if (is("ui4")) return ado::adUnsignedInt;
    if (is("ui8")) return ado::adUnsignedBigInt;
    if (is("r4")) return ado::adSingle;
    if (is("float") || is("r8")) return ado::adDouble;
    if (is("fixed.14.4")) return ado::adCurrency;
    if (is("number")) {
        if (by_db("currency")) return ado::adCurrency;
        if (by_db("decimal")) return ado::adDecimal;
        if (by_db("varnumeric")) return ado::adVarNumeric;
        return ado::adNumeric;
    }
    if (is("boolean")) return ado::adBoolean;
    if (is("dateTime") || is("dateTime.tz")) {
        if (by_db("variantdate")) return ado::adDate;
        if (by_db("filetime")) return ado::adFileTime;
        return ado::adDBTimeStamp;
    }
    if (is("date")) return ado::adDBDate;
    if (is("time") || is("time.tz")) return ado::adDBTime;
    if (is("uuid")) return ado::adGUID;
    if (is("bin.hex") || is("bin.base64"))
        return fixed ? ado::adBinary : long_data ? ado::adLongVarBinary : ado::adVarBinary;
    if (by_db("bstr")) return ado::adBSTR;
    if (by_db("variant")) return ado::adVariant;
    if (by_db("str")) return fixed ? ado::adChar : long_data ? ado::adLongVarChar : ado::adVarChar;
    return fixed ? ado::adWChar : long_data ? ado::adLongVarWChar : ado::adVarWChar;
}

std::span<const FlagAttribute> FlagAttributes() noexcept { return kFlags; }

bool IsAttributeName(std::string_view name) noexcept {
    if (name.empty() || (name.size() >= 3 && SameName(name.substr(0, 3), "xml"))) return false;
    std::size_t i = 0;
    for (bool first = true; i < name.size(); first = false) {
        const char32_t c = NextCodePoint(name, i);
        if (!(first ? IsNameStart(c) : IsNameChar(c))) return false;
    }
    return true;
}

}  // namespace korado::dataaccess::persist::xml
