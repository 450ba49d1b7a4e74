// SameName: the platform's comparison of collection names (properties, parameters), without regard to
// letter case. Quoted: a name or text as SQL writes it between quotes.
#pragma once

#include <string>
#include <string_view>

#include "korado/runtime/strings.h"

namespace korado::dataaccess {

// Names are nearly always ASCII: this settles them in a few instructions per character, and hands any
// other name to TextEquals (full case folding). Lookups by name run for every statement.
inline bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        // Folding may change the length of text beyond ASCII only.
        for (char c : a)
            if (static_cast<unsigned char>(c) >= 0x80) return TextEquals(a, b);
        for (char c : b)
            if (static_cast<unsigned char>(c) >= 0x80) return TextEquals(a, b);
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if ((x | y) >= 0x80) return TextEquals(a, b);
        if (x == y) continue;
        if ((x | 0x20) != (y | 0x20) || (x | 0x20) < 'a' || (x | 0x20) > 'z') return false;
    }
    return true;
}

// `text` between `quote`s, each `quote` inside doubled: an identifier ('"', '`') or a literal ('\'').
inline std::string Quoted(std::string_view text, char quote) {
    std::string out(1, quote);
    for (char ch : text) {
        if (ch == quote) out += quote;
        out += ch;
    }
    out += quote;
    return out;
}

}  // namespace korado::dataaccess
