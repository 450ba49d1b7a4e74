// The ":name" placeholder scan of binding. A placeholder is ":" followed by the name, compared exactly
// (letter case matters), and then either the end of the text or a character that is no word character.
// Word characters: ASCII letters and digits, and every character that the single-byte code page
// Windows-1252 encodes at 128 to 255 (a character that code page lacks reads as "?" there and so ends a
// name). Quotes and comments are not special: a placeholder inside either is rewritten like any other.
//
// Each placeholder becomes "?" followed by one blank per character of the name, so the text keeps its
// length in characters and every other position stays valid. The scan reads the text as rewritten so far.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korado {

// Rewrites every placeholder of `name` in `SQL` and returns the 1-based character positions of their
// colons, in text order. Characters are delimited as Len counts them (a malformed byte is one character).
std::vector<std::size_t> RewritePlaceholders(std::string& SQL, std::string_view name);

}  // namespace korado
