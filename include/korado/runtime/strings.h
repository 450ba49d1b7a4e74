// Text functions with the language's semantics on UTF-8 text.
//
// Positions and lengths count characters (Unicode code points), 1-based like the language; a position of 0
// from a search means "not found". Case-insensitive comparison and search use full Unicode case folding
// (ICU), so "STRASSE" and "straße" compare equal as text. Malformed UTF-8 counts each invalid byte as one
// character and is never read past.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "korado/export.h"
#include "korado/runtime/convert.h"

namespace korado {

KORADO_EXPORT std::size_t Len(std::string_view s) noexcept;
// Every byte below 0x80.
KORADO_EXPORT bool IsAscii(std::string_view s) noexcept;

// Byte-for-byte equality, compared in place eight bytes at a time: the names and statement texts compared
// for every statement are short, and a library call costs more than such a comparison. The last bytes are
// compared as one word that overlaps the one before it.
inline bool SameBytes(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    const char* p = a.data();
    const char* q = b.data();
    const std::size_t n = a.size();
    auto same = [](const char* x, const char* y, auto word) {
        std::memcpy(&word, x, sizeof word);
        decltype(word) other;
        std::memcpy(&other, y, sizeof other);
        return word == other;
    };
    if (n >= 8) {
        for (std::size_t at = 0; at < n - 8; at += 8)
            if (!same(p + at, q + at, std::uint64_t{})) return false;
        return same(p + n - 8, q + n - 8, std::uint64_t{});
    }
    if (n >= 4) return same(p, q, std::uint32_t{}) && same(p + n - 4, q + n - 4, std::uint32_t{});
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != q[i]) return false;
    return true;
}
KORADO_EXPORT std::string Left(std::string_view s, std::size_t n);
KORADO_EXPORT std::string Right(std::string_view s, std::size_t n);
// Mid(s, start) and Mid(s, start, n); start is 1-based and must be >= 1 (else raises 5).
KORADO_EXPORT std::string Mid(std::string_view s, std::size_t start);
KORADO_EXPORT std::string Mid(std::string_view s, std::size_t start, std::size_t n);

// InStr(start, s, find): position of `find` in `s` at or after character `start` (1-based), or 0.
// An empty `find` returns `start` (when start <= Len(s) + 1).
KORADO_EXPORT std::size_t InStr(std::size_t start, std::string_view s, std::string_view find,
                                CompareMethod method = CompareMethod::Binary);
inline std::size_t InStr(std::string_view s, std::string_view find,
                         CompareMethod method = CompareMethod::Binary) {
    return InStr(1, s, find, method);
}
// Last position of `find` in `s` (searching from the end), or 0.
KORADO_EXPORT std::size_t InStrRev(std::string_view s, std::string_view find,
                                   CompareMethod method = CompareMethod::Binary);
// Shorthand for the Parts' "contains ... (case-insensitive)".
inline bool ContainsText(std::string_view s, std::string_view find) {
    return InStr(1, s, find, CompareMethod::Text) > 0;
}
inline bool Contains(std::string_view s, std::string_view find) {
    return s.find(find) != std::string_view::npos;
}

KORADO_EXPORT std::string UCase(std::string_view s);
KORADO_EXPORT std::string LCase(std::string_view s);
// Removes leading/trailing blanks (U+0020 only; tabs and line breaks stay).
KORADO_EXPORT std::string Trim(std::string_view s);
KORADO_EXPORT std::string LTrim(std::string_view s);
KORADO_EXPORT std::string RTrim(std::string_view s);
KORADO_EXPORT std::string Space(std::size_t n);
// -1, 0, 1 as the language's StrComp.
KORADO_EXPORT int StrComp(std::string_view a, std::string_view b,
                          CompareMethod method = CompareMethod::Binary);
KORADO_EXPORT bool TextEquals(std::string_view a, std::string_view b);  // case-insensitive equality
// Full Unicode case folding, the form case-insensitive keys are compared in (also declared in collection.h).
KORADO_EXPORT std::string FoldCase(std::string_view s);
// FoldCase for the usual key, ASCII of up to 64 bytes, written into `buffer` without allocating (names are
// looked up for every statement); nullopt for any other key, which FoldCase then takes.
using FoldBuffer = std::array<char, 64>;
KORADO_EXPORT std::optional<std::string_view> FoldAscii(std::string_view s, FoldBuffer& buffer) noexcept;
KORADO_EXPORT std::string Replace(std::string_view s, std::string_view find, std::string_view with,
                                  CompareMethod method = CompareMethod::Binary);

// Byte offset of the character at 1-based position `pos` (s.size() when past the end).
KORADO_EXPORT std::size_t ByteOffsetOfChar(std::string_view s, std::size_t pos) noexcept;

inline constexpr std::string_view kCrLf = "\r\n";

}  // namespace korado
