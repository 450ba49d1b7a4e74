#include "korado/runtime/strings.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "korado/runtime/error.h"
#include "runtime/hot_path.h"

namespace korado {
namespace {

// Names and statements are checked and folded eight bytes at a time: every lookup of a variable, property
// or class by name folds its key.
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

std::uint64_t Load8(const char* p) noexcept {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// Lower-cases the ASCII letters of eight ASCII bytes (no byte sum can carry into its neighbour).
std::uint64_t LowerAscii8(std::uint64_t w) noexcept {
    const std::uint64_t at_least_a = w + 0x3F3F3F3F3F3F3F3FULL;  // high bit set from 'A' (0x41) up
    const std::uint64_t past_z = w + 0x2525252525252525ULL;      // high bit set from '[' (0x5B) up
    return w | ((at_least_a & ~past_z & kHighBits) >> 2);
}

}  // namespace

bool IsAscii(std::string_view s) noexcept {
    std::uint64_t seen = 0;
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) seen |= Load8(s.data() + i);
    for (; i < s.size(); ++i) seen |= static_cast<unsigned char>(s[i]);
    return (seen & kHighBits) == 0;
}

namespace {

// Byte length of the character starting at s[i]: a well-formed UTF-8 sequence, else 1 (an invalid byte
// counts as one character of its own).
std::size_t CharLength(std::string_view s, std::size_t i) noexcept {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) return 1;
    // Lead bytes: C2..DF, E0..EF, F0..F4. C0, C1 and F5..FF never start a well-formed sequence.
    std::size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xC2 && b <= 0xDF ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 1;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
    auto b1 = static_cast<unsigned char>(s[i + 1]);
    // Overlong forms, surrogates and values past U+10FFFF are not well formed.
    if ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 >= 0xA0) || (b == 0xF0 && b1 < 0x90) ||
        (b == 0xF4 && b1 >= 0x90))
        return 1;
    return n;
}

// Code point at s[i] (with its byte length); an invalid byte maps to a private value of its own.
char32_t DecodeAt(std::string_view s, std::size_t i, std::size_t& len) noexcept {
    len = CharLength(s, i);
    auto b = static_cast<unsigned char>(s[i]);
    if (len == 1) return b < 0x80 ? b : 0x110000u + b;
    char32_t c = len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k < len; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return c;
}

// Appends the full case folding of one character ("ß" gives "ss"); invalid bytes stay as they are.
void AppendFolded(char32_t c, std::vector<char32_t>& out) {
    if (c < 0x80) {
        out.push_back(c >= 'A' && c <= 'Z' ? c + 32 : c);
        return;
    }
    if (c >= 0x110000u) {
        out.push_back(c);
        return;
    }
    UChar src[2];
    int32_t n = 0;
    U16_APPEND_UNSAFE(src, n, static_cast<UChar32>(c));
    UChar folded[8];  // a full folding is at most three code points
    UErrorCode status = U_ZERO_ERROR;
    int32_t len = u_strFoldCase(folded, 8, src, n, U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status)) {
        out.push_back(static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT)));
        return;
    }
    for (int32_t i = 0; i < len;) {
        UChar32 cp;
        U16_NEXT(folded, i, len, cp);
        out.push_back(static_cast<char32_t>(cp));
    }
}

// Text folded character by character for case-insensitive search. Full folding may turn one character into
// several, so each character's place in the folded text is kept: a match must begin and end where characters
// do, and its position is reported in characters of the original.
struct FoldedText {
    std::vector<char32_t> units;     // the folded code points
    std::vector<std::size_t> first;  // per character: index of its first unit; ends with units.size()
    std::vector<std::size_t> byte;   // per character: byte offset in the original; ends with its size
};

FoldedText Fold(std::string_view s) {
    FoldedText t;
    t.units.reserve(s.size());
    t.first.reserve(s.size() + 1);
    t.byte.reserve(s.size() + 1);
    for (std::size_t i = 0; i < s.size();) {
        std::size_t len = 0;
        char32_t c = DecodeAt(s, i, len);
        t.first.push_back(t.units.size());
        t.byte.push_back(i);
        AppendFolded(c, t.units);
        i += len;
    }
    t.first.push_back(t.units.size());
    t.byte.push_back(s.size());
    return t;
}

// Where a search found its text: 1-based character position (0: not found), length in characters, and the
// same as bytes.
struct Match {
    std::size_t pos = 0, chars = 0, byte = 0, bytes = 0;
    explicit operator bool() const noexcept { return pos != 0; }
};

// Byte search that only accepts matches covering whole characters of `s`: a malformed `find` (a lone
// continuation byte, a cut-short sequence) must not match inside a well-formed character. Starts at byte
// `from`, the start of the 0-based character `from_char`; the first match, or the last when `last`.
Match FindBinary(std::string_view s, std::string_view find, std::size_t from, std::size_t from_char,
                 bool last) {
    Match found;
    std::size_t i = from, k = from_char;  // byte i starts character k
    for (std::size_t at = s.find(find, from); at != std::string_view::npos; at = s.find(find, at + 1)) {
        while (i < at) {
            i += CharLength(s, i);
            ++k;
        }
        if (i != at) continue;
        std::size_t end = at + find.size(), j = at, chars = 0;
        for (; j < end; ++chars) j += CharLength(s, j);
        if (j != end) continue;
        found = Match{k + 1, chars, at, find.size()};
        if (!last) break;
    }
    return found;
}

// Case-insensitive search of folded `needle` (not empty) in `hay` from the 0-based character `from_char`.
Match FindText(const FoldedText& hay, const std::vector<char32_t>& needle, std::size_t from_char, bool last) {
    Match found;
    auto begin = hay.units.begin();
    for (auto it = begin + static_cast<std::ptrdiff_t>(hay.first[from_char]);;) {
        it = std::search(it, hay.units.end(), needle.begin(), needle.end());
        if (it == hay.units.end()) break;
        auto u = static_cast<std::size_t>(it - begin);
        auto b = std::lower_bound(hay.first.begin(), hay.first.end(), u);
        auto e = std::lower_bound(b, hay.first.end(), u + needle.size());
        ++it;
        if (*b != u || e == hay.first.end() || *e != u + needle.size()) continue;
        auto k = static_cast<std::size_t>(b - hay.first.begin());
        auto chars = static_cast<std::size_t>(e - b);
        found = Match{k + 1, chars, hay.byte[k], hay.byte[k + chars] - hay.byte[k]};
        if (!last) break;
    }
    return found;
}

// Maps the well-formed runs of the text with ICU; malformed bytes stay as they are, so that "Ä\xFF" and
// "ä\xFF" fold alike (as the text search, which folds character by character, treats them).
template <class IcuMap, class AsciiMap>
std::string MapCase(std::string_view s, IcuMap icu, AsciiMap ascii) {
    if (IsAscii(s)) {
        std::string out(s);
        for (char& c : out) c = ascii(c);
        return out;
    }
    std::string out;
    out.reserve(s.size());
    std::size_t run = 0;
    auto map_run = [&](std::size_t end) {
        if (end == run) return;
        std::string_view part = s.substr(run, end - run);
        icu::UnicodeString u =
            icu::UnicodeString::fromUTF8(icu::StringPiece(part.data(), static_cast<int32_t>(part.size())));
        icu(u);
        u.toUTF8String(out);
    };
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = CharLength(s, i);
        if (n == 1 && static_cast<unsigned char>(s[i]) >= 0x80) {
            map_run(i);
            out += s[i];
            run = i + 1;
        }
        i += n;
    }
    map_run(s.size());
    return out;
}

// Byte length of the first `chars` characters (all of `s` when it has fewer). Callers pass counts such as
// "the rest" (SIZE_MAX), so this never computes chars + 1.
std::size_t BytesOfChars(std::string_view s, std::size_t chars) noexcept {
    std::size_t i = 0;
    for (std::size_t k = 0; k < chars && i < s.size(); ++k) i += CharLength(s, i);
    return std::min(i, s.size());
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

std::optional<std::string_view> FoldAscii(std::string_view s, FoldBuffer& buffer) noexcept {
    if (s.size() > buffer.size()) return std::nullopt;
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        const std::uint64_t w = Load8(s.data() + i);
        if (w & kHighBits) return std::nullopt;
        const std::uint64_t lower = LowerAscii8(w);
        std::memcpy(buffer.data() + i, &lower, sizeof lower);
    }
    for (; i < s.size(); ++i) {
        if (static_cast<unsigned char>(s[i]) >= 0x80) return std::nullopt;
        buffer[i] = AsciiLower(s[i]);
    }
    return std::string_view(buffer.data(), s.size());
}

std::string FoldCase(std::string_view s) {
    return MapCase(
        s, [](icu::UnicodeString& u) { u.foldCase(); }, AsciiLower);
}

KORADO_HOT std::size_t Len(std::string_view s) noexcept {
    if (IsAscii(s)) return s.size();
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); i += CharLength(s, i)) ++n;
    return n;
}

std::size_t ByteOffsetOfChar(std::string_view s, std::size_t pos) noexcept {
    return pos == 0 ? 0 : BytesOfChars(s, pos - 1);
}

std::string Left(std::string_view s, std::size_t n) { return std::string(s.substr(0, BytesOfChars(s, n))); }

std::string Right(std::string_view s, std::size_t n) {
    std::size_t len = Len(s);
    if (n >= len) return std::string(s);
    return std::string(s.substr(ByteOffsetOfChar(s, len - n + 1)));
}

std::string Mid(std::string_view s, std::size_t start) {
    if (start < 1) RaiseRuntime(rt::InvalidProcedureCall);
    return std::string(s.substr(ByteOffsetOfChar(s, start)));
}

std::string Mid(std::string_view s, std::size_t start, std::size_t n) {
    if (start < 1) RaiseRuntime(rt::InvalidProcedureCall);
    std::size_t b = ByteOffsetOfChar(s, start);
    std::string_view rest = s.substr(b);
    return std::string(rest.substr(0, BytesOfChars(rest, n)));
}

std::size_t InStr(std::size_t start, std::string_view s, std::string_view find, CompareMethod method) {
    if (start < 1) RaiseRuntime(rt::InvalidProcedureCall);
    std::size_t len = Len(s);
    if (start > len + 1) return 0;
    if (find.empty()) return start;
    if (method == CompareMethod::Binary)
        return FindBinary(s, find, ByteOffsetOfChar(s, start), start - 1, false).pos;
    return FindText(Fold(s), Fold(find).units, start - 1, false).pos;
}

std::size_t InStrRev(std::string_view s, std::string_view find, CompareMethod method) {
    if (find.empty()) return Len(s);
    if (method == CompareMethod::Binary) return FindBinary(s, find, 0, 0, true).pos;
    return FindText(Fold(s), Fold(find).units, 0, true).pos;
}

std::string UCase(std::string_view s) {
    return MapCase(
        s, [](icu::UnicodeString& u) { u.toUpper(icu::Locale::getRoot()); }, AsciiUpper);
}

std::string LCase(std::string_view s) {
    return MapCase(
        s, [](icu::UnicodeString& u) { u.toLower(icu::Locale::getRoot()); }, AsciiLower);
}

std::string LTrim(std::string_view s) {
    std::size_t b = s.find_first_not_of(' ');
    return b == std::string_view::npos ? std::string() : std::string(s.substr(b));
}

std::string RTrim(std::string_view s) {
    std::size_t e = s.find_last_not_of(' ');
    return e == std::string_view::npos ? std::string() : std::string(s.substr(0, e + 1));
}

std::string Trim(std::string_view s) { return RTrim(LTrim(s)); }

std::string Space(std::size_t n) { return std::string(n, ' '); }

int StrComp(std::string_view a, std::string_view b, CompareMethod method) {
    int r = 0;
    if (method == CompareMethod::Binary) {
        r = a.compare(b);  // UTF-8 byte order is code point order
    } else if (IsAscii(a) && IsAscii(b)) {
        std::size_t n = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < n && r == 0; ++i) r = AsciiLower(a[i]) - AsciiLower(b[i]);
        if (r == 0) r = a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
    } else {
        r = FoldCase(a).compare(FoldCase(b));
    }
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

bool TextEquals(std::string_view a, std::string_view b) {
    if (IsAscii(a) && IsAscii(b)) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
        return true;
    }
    return FoldCase(a) == FoldCase(b);
}

std::string Replace(std::string_view s, std::string_view find, std::string_view with, CompareMethod method) {
    if (find.empty()) return std::string(s);
    std::string out;
    if (method == CompareMethod::Binary) {
        std::size_t copied = 0, chars = 0;
        while (Match m = FindBinary(s, find, copied, chars, false)) {
            out.append(s.substr(copied, m.byte - copied));
            out.append(with);
            copied = m.byte + m.bytes;
            chars = m.pos - 1 + m.chars;
        }
        out.append(s.substr(copied));
        return out;
    }
    // The matched text may be longer or shorter than `find` ("ß" for "SS"): what is replaced is the match.
    FoldedText hay = Fold(s);
    std::vector<char32_t> needle = Fold(find).units;
    std::size_t copied = 0, chars = 0;
    while (Match m = FindText(hay, needle, chars, false)) {
        out.append(s.substr(copied, m.byte - copied));
        out.append(with);
        copied = m.byte + m.bytes;
        chars = m.pos - 1 + m.chars;
    }
    out.append(s.substr(copied));
    return out;
}

}  // namespace korado
