#include "dataaccess/providers/odbc/odbc_text.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korado::dataaccess::odbc {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at `s[i]`; advances `i`. Overlong forms, surrogates and values past U+10FFFF
// count as one invalid byte.
char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    std::size_t need;
    char32_t cp;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (s.size() - i <= need) {
        ++i;
        return kReplacement;
    }
    for (std::size_t k = 1; k <= need; ++k) {
        unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += need + 1;
    return cp;
}

// Writes `cp` (no surrogate) as UTF-8 at `d`; returns the end of what it wrote.
char* PutUtf8(char32_t cp, char* d) noexcept {
    if (cp < 0x80) {
        *d++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *d++ = static_cast<char>(0xC0 | (cp >> 6));
        *d++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *d++ = static_cast<char>(0xE0 | (cp >> 12));
        *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *d++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *d++ = static_cast<char>(0xF0 | (cp >> 18));
        *d++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *d++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return d;
}

// Copies the ASCII units at the start of `text` to `d`, one byte each; returns how many there were.
std::size_t CopyAscii(const char16_t* text, std::size_t units, char* d) noexcept {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Eight units per step while all eight are below 0x80: packed to bytes they are the text.
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; i + 8 <= units; i += 8) {
        __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(w, high), _mm_setzero_si128())) != 0xFFFF) break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(w, w));
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        // Four units per step while all four are below 0x80: their low bytes are the text.
        for (; i + 4 <= units; i += 4) {
            std::uint64_t w;
            std::memcpy(&w, text + i, sizeof w);
            if (w & 0xFF80FF80FF80FF80u) break;
            auto bytes = static_cast<std::uint32_t>((w & 0xFFu) | ((w >> 8) & 0xFF00u) |
                                                    ((w >> 16) & 0xFF0000u) | ((w >> 24) & 0xFF000000u));
            std::memcpy(d + i, &bytes, sizeof bytes);
        }
    }
    for (; i < units && text[i] < 0x80; ++i) d[i] = static_cast<char>(text[i]);
    return i;
}

}  // namespace

void AppendUtf16(std::string_view utf8, std::u16string& out) {
    out.reserve(out.size() + utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        unsigned char b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char16_t>(b));
            ++i;
            continue;
        }
        char32_t cp = DecodeUtf8(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
}

std::u16string ToUtf16(std::string_view utf8) {
    std::u16string out;
    AppendUtf16(utf8, out);
    return out;
}

void AssignUtf8(const char16_t* text, std::size_t units, std::string& out) {
    // ASCII text (most of what databases return) takes one byte per unit: size the string for that and
    // write it in place.
    out.resize(units);
    std::size_t i = CopyAscii(text, units, out.data());
    if (i == units) return;
    // Wider characters take at most three bytes per unit (a surrogate pair's two units make four).
    out.resize(i + 3 * (units - i));
    char* const begin = out.data();
    char* d = begin + i;
    while (i < units) {
        char16_t u = text[i];
        if (u < 0x80) {
            std::size_t run = CopyAscii(text + i, units - i, d);
            i += run;
            d += run;
            continue;
        }
        char32_t cp = u;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else {
                cp = kReplacement;
            }
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            cp = kReplacement;
        }
        d = PutUtf8(cp, d);
        ++i;
    }
    out.resize(static_cast<std::size_t>(d - begin));
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    AssignUtf8(text.data(), text.size(), out);
    return out;
}

}  // namespace korado::dataaccess::odbc
