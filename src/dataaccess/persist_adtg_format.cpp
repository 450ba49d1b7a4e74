#include "dataaccess/persist_adtg_format.h"

#include <unicode/ucnv.h>

#include <cmath>
#include <cstdio>

#include "dataaccess/providers/odbc/odbc_text.h"
#include "korado/platform/ado_enums.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/error.h"

namespace korado::dataaccess::persist::adtg {

std::uint32_t FixedSize(std::uint16_t type) noexcept {
    switch (type) {
        case kI1:
        case kUi1:
            return 1;
        case kI2:
        case kUi2:
        case kBool:
            return 2;
        case kI4:
        case kUi4:
        case kR4:
            return 4;
        case kR8:
        case kCy:
        case kDate:
        case kI8:
        case kUi8:
        case kFileTime:
            return 8;
        case kDbDate:
        case kDbTime:
            return 6;
        case kDecimal:
        case kGuid:
        case kDbTimeStamp:
            return 16;
        case kNumeric:
        case kVarNumeric:
            return 19;
        default:
            return 0;
    }
}

std::uint16_t WireTypeOf(std::int32_t platform_type) noexcept {
    switch (platform_type) {
        case ado::adSmallInt:
            return kI2;
        case ado::adInteger:
            return kI4;
        case ado::adSingle:
            return kR4;
        case ado::adDouble:
            return kR8;
        case ado::adCurrency:
            return kCy;
        // A FILETIME column's values are dates to the platform; the date type is the one every reader has.
        case ado::adDate:
        case ado::adFileTime:
            return kDate;
        case ado::adBoolean:
            return kBool;
        case ado::adDecimal:
            return kDecimal;
        case ado::adTinyInt:
            return kI1;
        case ado::adUnsignedTinyInt:
            return kUi1;
        case ado::adUnsignedSmallInt:
            return kUi2;
        case ado::adUnsignedInt:
            return kUi4;
        case ado::adBigInt:
            return kI8;
        case ado::adUnsignedBigInt:
            return kUi8;
        case ado::adGUID:
            return kGuid;
        case ado::adBinary:
        case ado::adVarBinary:
        case ado::adLongVarBinary:
            return kBytes;
        case ado::adNumeric:
            return kNumeric;
        case ado::adVarNumeric:
            return kVarNumeric;
        case ado::adDBDate:
            return kDbDate;
        case ado::adDBTime:
            return kDbTime;
        case ado::adDBTimeStamp:
            return kDbTimeStamp;
        case ado::adChar:
        case ado::adVarChar:
        case ado::adLongVarChar:
            return kStr;
        case ado::adBSTR:
            return kBstr;
        // Wide text, and columns of other kinds written as their text.
        default:
            return kWStr;
    }
}

std::int32_t PlatformTypeOf(std::uint16_t wire_type, std::uint32_t flags) noexcept {
    const bool fixed = (flags & kFlagFixed) != 0;
    const bool is_long = (flags & kFlagLong) != 0;
    switch (wire_type) {
        case kEmpty:
        case kNull:
            return ado::adEmpty;
        case kI2:
            return ado::adSmallInt;
        case kI4:
            return ado::adInteger;
        case kR4:
            return ado::adSingle;
        case kR8:
            return ado::adDouble;
        case kCy:
            return ado::adCurrency;
        case kDate:
            return ado::adDate;
        case kBstr:
            return ado::adBSTR;
        case kBool:
            return ado::adBoolean;
        case kDecimal:
            return ado::adDecimal;
        case kI1:
            return ado::adTinyInt;
        case kUi1:
            return ado::adUnsignedTinyInt;
        case kUi2:
            return ado::adUnsignedSmallInt;
        case kUi4:
            return ado::adUnsignedInt;
        case kI8:
            return ado::adBigInt;
        case kUi8:
            return ado::adUnsignedBigInt;
        case kFileTime:
            return ado::adFileTime;
        case kGuid:
            return ado::adGUID;
        // A fixed-length column may be long too (a CHAR of more than 255 characters).
        case kBytes:
            return fixed ? ado::adBinary : is_long ? ado::adLongVarBinary : ado::adVarBinary;
        case kStr:
            return fixed ? ado::adChar : is_long ? ado::adLongVarChar : ado::adVarChar;
        case kWStr:
            return fixed ? ado::adWChar : is_long ? ado::adLongVarWChar : ado::adVarWChar;
        case kNumeric:
            return ado::adNumeric;
        case kDbDate:
            return ado::adDBDate;
        case kDbTime:
            return ado::adDBTime;
        case kDbTimeStamp:
            return ado::adDBTimeStamp;
        case kVarNumeric:
            return ado::adVarNumeric;
        default:
            return -1;
    }
}

namespace {

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool GuidBytes(std::string_view text, std::uint8_t out[16]) noexcept {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return false;
    // Hex digit pairs in text order; the dashes sit at 8, 13, 18 and 23.
    std::uint8_t raw[16];
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return false;
            ++i;
            continue;
        }
        int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        raw[n++] = static_cast<std::uint8_t>(hi << 4 | lo);
        i += 2;
    }
    // The first three groups are numbers stored little-endian; the last eight bytes go as written.
    const std::uint8_t order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (std::size_t i = 0; i < 16; ++i) out[i] = raw[order[i]];
    return true;
}

std::string GuidText(const std::uint8_t b[16]) {
    char buf[39];
    std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return buf;
}

Date DateOf(const Timestamp& t) {
    // The same arithmetic as the drivers' timestamps, so that a value read from a database and one read
    // from its file are the same double.
    return DateFromParts(DateParts{t.year, t.month, t.day, t.hour, t.minute, t.second,
                                   static_cast<double>(t.nanoseconds) / 1e9});
}

Timestamp TimestampOf(Date d) {
    const double whole = std::trunc(d.days);
    const DateParts day = PartsFromDate(Date{whole});
    Timestamp t;
    t.year = static_cast<std::int16_t>(day.year);
    t.month = static_cast<std::uint16_t>(day.month);
    t.day = static_cast<std::uint16_t>(day.day);
    constexpr std::int64_t kDay = 86'400'000'000'000;
    const std::int64_t nearest = std::llround(std::fabs(d.days - whole) * 86400e9);
    auto set = [&t](std::int64_t ns) {
        t.hour = static_cast<std::uint16_t>(ns / 3'600'000'000'000);
        t.minute = static_cast<std::uint16_t>(ns / 60'000'000'000 % 60);
        t.second = static_cast<std::uint16_t>(ns / 1'000'000'000 % 60);
        t.nanoseconds = static_cast<std::uint32_t>(ns % 1'000'000'000);
    };
    // The nearest nanosecond may read back a hair off the double it came from; a neighbour that reads back
    // exactly is as true a time and keeps the value.
    for (std::int64_t step : {0, 1, -1, 2, -2, 3, -3}) {
        std::int64_t ns = nearest + step;
        if (ns < 0 || ns >= kDay) continue;
        set(ns);
        if (DateOf(t).days == d.days) return t;
    }
    set(std::min(nearest, kDay - 1));
    return t;
}

namespace {

bool IsUtf8(std::string_view s) noexcept {
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
        if (n == 0 || i + n >= s.size()) return false;
        for (std::size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        auto c1 = static_cast<unsigned char>(s[i + 1]);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) || (c == 0xF0 && c1 < 0x90) ||
            (c == 0xF4 && c1 >= 0x90))
            return false;
        i += n + 1;
    }
    return true;
}

bool IsAscii(std::string_view s) noexcept {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

NarrowText::NarrowText() {
    UErrorCode status = U_ZERO_ERROR;
    converter_ = ucnv_open("windows-1252", &status);
    if (U_FAILURE(status)) RaiseRuntime(rt::OutOfMemory);
    // A character 1252 lacks stops the conversion rather than becoming a question mark.
    status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter_, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setToUCallBack(converter_, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
}

NarrowText::~NarrowText() { ucnv_close(converter_); }

bool NarrowText::Encode(std::string_view utf8, std::string& out) {
    out.assign(utf8);
    if (IsAscii(utf8)) return true;
    wide_.clear();
    odbc::AppendUtf16(utf8, wide_);
    std::string narrow(wide_.size(), '\0');
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(converter_);
    const std::int32_t n =
        ucnv_fromUChars(converter_, narrow.data(), static_cast<std::int32_t>(narrow.size()), wide_.data(),
                        static_cast<std::int32_t>(wide_.size()), &status);
    if (U_FAILURE(status)) return false;
    narrow.resize(static_cast<std::size_t>(n));
    // Bytes that are also valid UTF-8 would read back as UTF-8: such a value stays UTF-8.
    if (IsUtf8(narrow)) return false;
    out = std::move(narrow);
    return true;
}

void NarrowText::Decode(std::string_view bytes, std::string& out) {
    if (IsUtf8(bytes)) {
        out.assign(bytes);
        return;
    }
    // Every byte is a character of 1252 (the five it leaves out are the C1 controls, as Windows reads them).
    wide_.resize(bytes.size());
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetToUnicode(converter_);
    const std::int32_t n = ucnv_toUChars(converter_, wide_.data(), static_cast<std::int32_t>(wide_.size()),
                                         bytes.data(), static_cast<std::int32_t>(bytes.size()), &status);
    if (U_FAILURE(status)) RaiseRuntime(rt::InvalidProcedureCall);
    odbc::AssignUtf8(wide_.data(), static_cast<std::size_t>(n), out);
}

}  // namespace korado::dataaccess::persist::adtg
