// UTF-8 <-> UTF-16 for the ODBC bridge.
//
// The bridge talks to drivers through the wide-character ODBC API (SQLWCHAR, 16-bit code units on
// unixODBC), because the narrow API's encoding depends on each driver and on the process locale (psqlODBC's
// Unicode driver converts narrow text through the C locale, MariaDB's through its connection charset),
// while the wide API means UTF-16 everywhere. The library's strings are UTF-8.
//
// Malformed input never fails: an invalid UTF-8 byte or an unpaired surrogate becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korado::dataaccess::odbc {

// Appends `utf8` to `out` as UTF-16.
void AppendUtf16(std::string_view utf8, std::u16string& out);
std::u16string ToUtf16(std::string_view utf8);

// Replaces the contents of `out` with `units` UTF-16 code units as UTF-8, reusing its storage.
void AssignUtf8(const char16_t* text, std::size_t units, std::string& out);
std::string ToUtf8(std::u16string_view text);

}  // namespace korado::dataaccess::odbc
