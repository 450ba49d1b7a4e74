// Text functions count characters (code points), not bytes, on UTF-8 that may be malformed.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "korado/runtime/strings.h"
#include "support/raises.h"

namespace korado {
namespace {

constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();
constexpr auto kText = CompareMethod::Text;

// "a", "€" (3 bytes), "😀" (4 bytes), "b", "ä" (2 bytes)
const std::string kMixed = "a\u20AC\U0001F600b\u00E4";

// A computed result and the one expected; a failure names the row.
template <class T>
using Is = std::pair<T, T>;
template <class T>
void ExpectRows(std::initializer_list<Is<T>> rows) {
    for (const Is<T>& r : rows) EXPECT_EQ(r.first, r.second) << "row " << &r - rows.begin();
}
using S = Is<std::string>;
using N = Is<std::size_t>;
using B = Is<bool>;

// Len counts characters, each invalid byte as one; Left, Right and Mid cut at characters.
TEST(Len, LeftRightMidCountAndCutAtCharacters) {
    // Each invalid byte is one character: lone continuation bytes, 3- and 4-byte sequences cut short or
    // interrupted, overlong forms, a UTF-16 surrogate, past U+10FFFF, and F5..FF whatever follows them.
    ExpectRows({N{Len(""), 0}, N{Len("abc"), 3}, N{Len("äöü"), 3}, N{Len(kMixed), 5},
                N{Len(std::string("a\0b", 3)), 3}, N{Len("a\xFF"), 2}, N{Len("\x80\xBF"), 2},
                N{Len("\xE2\x82"), 2}, N{Len("\xF0\x9F\x98"), 3}, N{Len("\xE2\x82z"), 3},
                N{Len("\xC0\xAF"), 2}, N{Len("\xE0\x80\xAF"), 3}, N{Len("\xED\xA0\x80"), 3},
                N{Len("\xF4\x90\x80\x80"), 4}, N{Len("\xF5\x80\x80\x80"), 4},
                N{Len("\xF8\x88\x80\x80\x80"), 5}, N{Len("\xFF\x80\x80"), 3}, N{Len("\xEF\xBF\xBF"), 1},
                N{Len("\xF4\x8F\xBF\xBF"), 1}});
    // Malformed text cuts between its one-byte characters.
    ExpectRows({S{Left(kMixed, 2), "a\u20AC"}, S{Left(kMixed, 0), ""}, S{Left(kMixed, 99), kMixed},
                S{Left(kMixed, kAll), kMixed}, S{Right(kMixed, 2), "b\u00E4"}, S{Right(kMixed, 0), ""},
                S{Right(kMixed, kAll), kMixed}, S{Mid(kMixed, 2, 2), "\u20AC\U0001F600"},
                S{Mid(kMixed, 3), "\U0001F600b\u00E4"}, S{Mid(kMixed, 5), "\u00E4"}, S{Mid(kMixed, 6), ""},
                S{Mid(kMixed, 99, 3), ""}, S{Mid(kMixed, 2, 0), ""},
                S{Mid(kMixed, 2, kAll), "\u20AC\U0001F600b\u00E4"}, S{Mid(kMixed, kAll, kAll), ""},
                S{Mid("a\xFF\xC3\xA9", 2, 1), "\xFF"}, S{Mid("a\xFF\xC3\xA9", 3), "\xC3\xA9"},
                S{Left("\xE2\x82\xAC\xE2\x82", 2), "\xE2\x82\xAC\xE2"},
                S{Right("\xE2\x82\xAC\xE2\x82", 1), "\x82"}});
    EXPECT_RAISES(rt::InvalidProcedureCall, Mid(kMixed, 0));
    EXPECT_RAISES(rt::InvalidProcedureCall, Mid(kMixed, 0, 1));
    EXPECT_RAISES(rt::InvalidProcedureCall, Mid("", 0));
    ExpectRows({N{ByteOffsetOfChar(kMixed, 1), 0}, N{ByteOffsetOfChar(kMixed, 3), 4},
                N{ByteOffsetOfChar(kMixed, 6), kMixed.size()},
                N{ByteOffsetOfChar(kMixed, kAll), kMixed.size()}});
}

TEST(InStrReplaceAndEquality, WholeCharactersFullCaseFoldingAndEveryByte) {
    const std::string euros = "a\u20ACb\u20AC";
    ExpectRows(
        {N{InStr(kMixed, "b"), 4}, N{InStr(kMixed, "\U0001F600"), 3}, N{InStr(euros, "\u20AC"), 2},
         N{InStr(3, euros, "\u20AC"), 4}, N{InStr(5, euros, "\u20AC"), 0}, N{InStr("abc", "ABC"), 0},
         N{InStr("abc", "abcd"), 0}, N{InStr("", "a"), 0},
         // An empty find gives the start.
         N{InStr("abc", ""), 1}, N{InStr(3, "abc", ""), 3}, N{InStr(4, "abc", ""), 4},
         N{InStr(5, "abc", ""), 0}, N{InStr(2, "\u20AC\u20AC", ""), 2}, N{InStr(3, "\u20AC\u20AC", ""), 3},
         N{InStr(4, "\u20AC\u20AC", ""), 0}, N{InStr("", ""), 1}, N{InStrRev("a\u20ACb", ""), 3},
         // A lone continuation byte is not a character of "é"; a cut-short sequence is not the first part
         // of a whole one.
         N{InStr("\u00E9", "\xA9"), 0}, N{InStr("x\u00E9\xA9", "\xA9"), 3}, N{InStrRev("\u00E9", "\xA9"), 0},
         N{InStrRev("\xA9\u00E9", "\xA9"), 1}, N{InStr("\u20AC", "\xE2\x82"), 0},
         N{InStr("\u20AC\xE2\x82", "\xE2\x82"), 2}, N{InStr("a\xFFz", "\xFFz"), 2},
         N{InStr("a\xFFz", "Z", kText), 3}, N{InStr("\u00C4\xFF", "\u00E4\xFF", kText), 1},
         // Text mode folds case fully: "ß" is "ss", and positions stay those of the original characters.
         N{InStr("xABC", "bc", kText), 3}, N{InStr(3, "abcabc", "ABC", kText), 4},
         N{InStr("x\u00C4y", "\u00E4", kText), 2}, N{InStr("x\u00C4y", "\u00E4"), 0},
         N{InStr("\u03A9MEGA", "\u03C9mega", kText), 1}, N{InStrRev("abcABC", "bc", kText), 5},
         N{InStrRev("abcABC", "bc"), 2}, N{InStr("Die Stra\u00DFe", "STRASSE", kText), 5},
         N{InStr("STRASSE", "stra\u00DFe", kText), 1}, N{InStr("Stra\u00DFe", "SS", kText), 5},
         N{InStr("x\uFB01y", "FI", kText), 2},  // the "fi" ligature
         N{InStrRev("Stra\u00DFe Strasse", "SS", kText), 12}, N{InStrRev("Stra\u00DFe", "SS", kText), 5},
         // Half of a folded character is no match.
         N{InStr(2, "Stra\u00DFe", "s", kText), 0}, N{InStr(2, "Stra\u00DFes", "s", kText), 7},
         N{InStr("\u00DF", "sss", kText), 0}});
    EXPECT_RAISES(rt::InvalidProcedureCall, InStr(0, "abc", "a"));
    for (std::string s : {"\xE2\x82\xAC\xE2", "\xF0\x9F", "\xC3", "\xA9\xA9\xA9"}) {
        for (std::string f : {"\xA9", "\x82", "\xE2", "\xE2\x82", "\x9F"}) {
            std::size_t at = InStr(s, f);
            EXPECT_LE(at, Len(s)) << s << " / " << f;
            EXPECT_EQ(at ? Mid(s, at, Len(f)) : f, f) << s << " / " << f;
        }
    }

    ExpectRows(
        {S{Replace("a\u20ACb\u20AC", "\u20AC", "E"), "aEbE"}, S{Replace("aaa", "aa", "b"), "ba"},
         S{Replace("abc", "", "x"), "abc"}, S{Replace("", "a", "b"), ""}, S{Replace("abc", "b", ""), "ac"},
         S{Replace("Ab ab AB", "ab", "x"), "Ab x AB"}, S{Replace("Ab ab AB", "ab", "x", kText), "x x x"},
         S{Replace("x\u00C4x\u00E4", "\u00E4", "ae", kText), "xaexae"},
         S{Replace("\u00E9\xA9", "\xA9", "!"), "\u00E9!"},
         // The replaced length is the matched text's, which full folding may make differ from the search's.
         S{Replace("Stra\u00DFe", "SS", "ss", kText), "Strasse"},
         S{Replace("STRASSE!", "stra\u00DFe", "x", kText), "x!"},
         S{Replace("Stra\u00DFe Strasse", "strasse", "-", kText), "- -"}, S{UCase("abc xyz"), "ABC XYZ"},
         S{UCase("\u00E4\u00F6\u00FC \u20AC"), "\u00C4\u00D6\u00DC \u20AC"},
         S{UCase("stra\u00DFe"), "STRASSE"}, S{LCase("\u00C4\u00D6\u00DC"), "\u00E4\u00F6\u00FC"},
         S{LCase("\u03A9"), "\u03C9"}, S{FoldCase("Gr\u00F6\u00DFe"), "gr\u00F6sse"},
         // Malformed bytes stay as they are; the characters around them are mapped.
         S{UCase("a\xFF\u00E4"), "A\xFF\u00C4"}, S{LCase("A\xC3"), "a\xC3"},
         S{LCase("\xC3\u00C4\xC3"), "\xC3\u00E4\xC3"}, S{FoldCase("A\x80\u00DF"), "a\x80ss"},
         // Only blanks are trimmed: not tabs, line breaks or the no-break space.
         S{Trim("  a b  "), "a b"}, S{LTrim("  a "), "a "}, S{RTrim("  a "), "  a"}, S{Trim("   "), ""},
         S{Trim(""), ""}, S{Trim("\ta\r\n"), "\ta\r\n"}, S{Trim("\u00A0a\u00A0"), "\u00A0a\u00A0"},
         S{Space(3), "   "}});
    // ASCII keys fold eight bytes at a time: every letter of every word, the bytes around the letters kept.
    FoldBuffer buffer;
    EXPECT_EQ(FoldAscii("@AZ[`az{ ConnectionStatus_09", buffer), "@az[`az{ connectionstatus_09");
    EXPECT_EQ(FoldAscii("ADODB.COMMAND\u00C4", buffer), std::nullopt);
    EXPECT_EQ(FoldAscii("ADODB.COMMAND\x7F", buffer), "adodb.command\x7F");
    EXPECT_EQ(FoldAscii(std::string(65, 'A'), buffer), std::nullopt);
    for (auto [text, ascii] : {std::pair{"insert into t values (:a, :b)", true},
                               std::pair{"insert into t values (:\u00E4)", false},
                               std::pair{"12345678\x80", false}, std::pair{"", true}})
        EXPECT_EQ(IsAscii(text), ascii) << text;

    // StrComp is what the comparison of two texts calls; its cases are the conversion tests' comparisons.
    ExpectRows({B{TextEquals("Stra\u00DFe", "STRASSE"), true}, B{TextEquals("ID", "id"), true},
                B{TextEquals("ID", "idx"), false}, B{TextEquals("\xFF", "\xFE"), false},
                B{TextEquals("\u00C4\xFF", "\u00E4\xFF"), true},
                B{ContainsText("Hello World", "WORLD"), true}, B{ContainsText("Hello", "World"), false}});

    // Bytes compared word by word with the last word overlapping: every length up to a few words, a
    // difference in any one byte, and texts that differ only in length.
    for (std::size_t length = 0; length <= 40; ++length) {
        std::string a(length, ' ');
        for (std::size_t i = 0; i < length; ++i) a[i] = static_cast<char>('a' + (i * 7) % 26);
        EXPECT_TRUE(SameBytes(a, std::string(a))) << length;
        for (std::size_t i = 0; i < length; ++i) {
            std::string b = a;
            b[i] = static_cast<char>(b[i] ^ 0x80);
            EXPECT_FALSE(SameBytes(a, b)) << length << " at " << i;
        }
        EXPECT_FALSE(SameBytes(a, a + "z")) << length;
    }
}

}  // namespace
}  // namespace korado
