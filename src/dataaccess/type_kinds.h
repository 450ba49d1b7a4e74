// Kinds of the platform's data types, as parameters, columns and conversions tell them apart.
#pragma once

#include <cstdint>

#include "korado/platform/adodb.h"

namespace korado::dataaccess {

// Text of any width and length.
constexpr bool IsTextType(std::int32_t type) noexcept {
    switch (type) {
        case ado::adBSTR:
        case ado::adChar:
        case ado::adVarChar:
        case ado::adLongVarChar:
        case ado::adWChar:
        case ado::adVarWChar:
        case ado::adLongVarWChar:
            return true;
        default:
            return false;
    }
}

// Whole numbers of any width, signed or not.
constexpr bool IsIntegerType(std::int32_t type) noexcept {
    switch (type) {
        case ado::adTinyInt:
        case ado::adUnsignedTinyInt:
        case ado::adSmallInt:
        case ado::adUnsignedSmallInt:
        case ado::adInteger:
        case ado::adUnsignedInt:
        case ado::adBigInt:
        case ado::adUnsignedBigInt:
            return true;
        default:
            return false;
    }
}

constexpr bool IsBinaryType(std::int32_t type) noexcept {
    return type == ado::adBinary || type == ado::adVarBinary || type == ado::adLongVarBinary;
}

// Text and binary types whose parameters must say their size (a BSTR carries its own length).
constexpr bool IsVariableLength(std::int32_t type) noexcept {
    return (IsTextType(type) && type != ado::adBSTR) || IsBinaryType(type);
}

}  // namespace korado::dataaccess
