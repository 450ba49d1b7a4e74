#include "parameters/placeholders.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "korado/runtime/strings.h"

namespace korado {
namespace {

// A byte that starts no character stands for itself, apart from every code point.
constexpr char32_t kInvalidBase = 0x110000;

struct Unit {
    char32_t code;
    std::size_t offset;  // byte offset in the original text
    std::size_t length;  // byte length in the original text
};

// Characters are delimited exactly as Len counts them, so that positions here are the positions the rest
// of the library sees.
std::vector<Unit> Decode(std::string_view s) {
    std::vector<Unit> units;
    units.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = ByteOffsetOfChar(s.substr(i), 2);
        const auto b = static_cast<unsigned char>(s[i]);
        char32_t c;
        if (n == 1) {
            c = b < 0x80 ? b : kInvalidBase + b;
        } else {
            c = n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
            for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        units.push_back({c, i, n});
        i += n;
    }
    return units;
}

bool IsAsciiAlnum(char32_t c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The original took the code of a character from the system code page, which for the hosts' users was
// Windows-1252; the library fixes that code page rather than following the process locale.
bool IsWordCharacter(char32_t c) noexcept {
    // What Windows-1252 holds at 0x80 to 0x9F, in byte order. The five bytes it leaves undefined (0x81,
    // 0x8D, 0x8F, 0x90, 0x9D) are mapped by Windows to the C1 controls of the same number and back.
    // clang-format off
    static constexpr char32_t k80To9F[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    // clang-format on
    if (c < 0x80) return IsAsciiAlnum(c);
    if (c >= 0xA0 && c <= 0xFF) return true;
    return std::find(std::begin(k80To9F), std::end(k80To9F), c) != std::end(k80To9F);
}

// Statements are nearly always ASCII: there a character is a byte, and the text is rewritten in place.
std::vector<std::size_t> RewriteAscii(std::string& SQL, std::string_view name) {
    std::vector<std::size_t> positions;
    const std::size_t span = name.size() + 1;
    for (std::size_t at = SQL.find(':'); at != std::string::npos; at = SQL.find(':', at + 1)) {
        if (at + span > SQL.size() || SQL.compare(at + 1, name.size(), name) != 0) continue;
        if (at + span < SQL.size() && IsAsciiAlnum(static_cast<unsigned char>(SQL[at + span]))) continue;
        SQL[at] = '?';
        std::fill_n(SQL.begin() + static_cast<std::ptrdiff_t>(at) + 1, name.size(), ' ');
        positions.push_back(at + 1);
    }
    return positions;
}

}  // namespace

std::vector<std::size_t> RewritePlaceholders(std::string& SQL, std::string_view name) {
    const bool ascii_sql = IsAscii(SQL);
    if (ascii_sql && IsAscii(name)) return RewriteAscii(SQL, name);
    // A name with other characters cannot stand in an ASCII text.
    if (ascii_sql) return {};

    // Compare and rewrite character by character: the marker replaces the colon and the name's characters
    // one for one, so character positions after it stay valid even where the name took several bytes.
    std::vector<Unit> text = Decode(SQL);
    const std::vector<Unit> key = Decode(name);
    const std::size_t span = key.size() + 1;
    std::vector<std::size_t> positions;
    for (std::size_t p = 0; p + span <= text.size(); ++p) {
        if (text[p].code != ':') continue;
        bool match = true;
        for (std::size_t k = 0; k < key.size() && match; ++k) match = text[p + 1 + k].code == key[k].code;
        if (!match) continue;
        if (p + span < text.size() && IsWordCharacter(text[p + span].code)) continue;
        text[p].code = '?';
        for (std::size_t k = 1; k < span; ++k) text[p + k].code = ' ';
        positions.push_back(p + 1);
    }
    if (positions.empty()) return positions;

    std::string out;
    out.reserve(SQL.size());
    for (const Unit& u : text) {
        // Rewritten characters are ASCII now; all others keep their original bytes, malformed ones too.
        if (u.code < 0x80)
            out.push_back(static_cast<char>(u.code));
        else
            out.append(SQL, u.offset, u.length);
    }
    SQL = std::move(out);
    return positions;
}

}  // namespace korado
