// Text functions count characters (code points), not bytes, on UTF-8 that may be malformed.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "korado/runtime/strings.h"
#include "support/raises.h"

namespace korado {
namespace {

constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();

// "a", "€" (3 bytes), "😀" (4 bytes), "b", "ä" (2 bytes)
const std::string kMixed = "a\u20AC\U0001F600b\u00E4";

TEST(Len, CountsCharactersAndEachInvalidByteAsOne) {
    EXPECT_EQ(Len(""), 0u);
    EXPECT_EQ(Len("abc"), 3u);
    EXPECT_EQ(Len("äöü"), 3u);
    EXPECT_EQ(Len(kMixed), 5u);
    EXPECT_EQ(Len(std::string("a\0b", 3)), 3u);
    // Each invalid byte is one character.
    EXPECT_EQ(Len("a\xFF"), 2u);
    EXPECT_EQ(Len("\x80\xBF"), 2u);          // continuation bytes alone
    EXPECT_EQ(Len("\xE2\x82"), 2u);          // a 3-byte sequence cut short
    EXPECT_EQ(Len("\xF0\x9F\x98"), 3u);      // a 4-byte sequence cut short
    EXPECT_EQ(Len("\xE2\x82z"), 3u);         // ... and interrupted
    EXPECT_EQ(Len("\xC0\xAF"), 2u);          // overlong "/"
    EXPECT_EQ(Len("\xE0\x80\xAF"), 3u);      // overlong, 3 bytes
    EXPECT_EQ(Len("\xED\xA0\x80"), 3u);      // a UTF-16 surrogate
    EXPECT_EQ(Len("\xF4\x90\x80\x80"), 4u);  // past U+10FFFF
    // Bytes F5..FF never start a sequence, whatever follows them.
    EXPECT_EQ(Len("\xF5\x80\x80\x80"), 4u);
    EXPECT_EQ(Len("\xF8\x88\x80\x80\x80"), 5u);
    EXPECT_EQ(Len("\xFF\x80\x80"), 3u);
    EXPECT_EQ(Len("\xEF\xBF\xBF"), 1u);      // U+FFFF is well formed
    EXPECT_EQ(Len("\xF4\x8F\xBF\xBF"), 1u);  // U+10FFFF too
}

// Compared word by word with the last word overlapping: every length up to a few words, a difference in
// any one byte, and texts that differ only in length.
TEST(SameBytes, FindsAnyDifferenceAtAnyLength) {
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

TEST(LeftRightMid, CutAtCharacters) {
    EXPECT_EQ(Left(kMixed, 2), "a\u20AC");
    EXPECT_EQ(Left(kMixed, 0), "");
    EXPECT_EQ(Left(kMixed, 99), kMixed);
    EXPECT_EQ(Left(kMixed, kAll), kMixed);
    EXPECT_EQ(Right(kMixed, 2), "b\u00E4");
    EXPECT_EQ(Right(kMixed, 0), "");
    EXPECT_EQ(Right(kMixed, kAll), kMixed);
    EXPECT_EQ(Mid(kMixed, 2, 2), "\u20AC\U0001F600");
    EXPECT_EQ(Mid(kMixed, 3), "\U0001F600b\u00E4");
    EXPECT_EQ(Mid(kMixed, 5), "\u00E4");
    EXPECT_EQ(Mid(kMixed, 6), "");
    EXPECT_EQ(Mid(kMixed, 99, 3), "");
    EXPECT_EQ(Mid(kMixed, 2, 0), "");
    EXPECT_EQ(Mid(kMixed, 2, kAll), "\u20AC\U0001F600b\u00E4");
    EXPECT_EQ(Mid(kMixed, kAll, kAll), "");
    EXPECT_RAISES(rt::InvalidProcedureCall, Mid(kMixed, 0));
    EXPECT_RAISES(rt::InvalidProcedureCall, Mid(kMixed, 0, 1));
    EXPECT_RAISES(rt::InvalidProcedureCall, Mid("", 0));
    // Malformed text cuts between its one-byte characters.
    EXPECT_EQ(Mid("a\xFF\xC3\xA9", 2, 1), "\xFF");
    EXPECT_EQ(Mid("a\xFF\xC3\xA9", 3), "\xC3\xA9");
    EXPECT_EQ(Left("\xE2\x82\xAC\xE2\x82", 2), "\xE2\x82\xAC\xE2");
    EXPECT_EQ(Right("\xE2\x82\xAC\xE2\x82", 1), "\x82");

    EXPECT_EQ(ByteOffsetOfChar(kMixed, 1), 0u);
    EXPECT_EQ(ByteOffsetOfChar(kMixed, 3), 4u);
    EXPECT_EQ(ByteOffsetOfChar(kMixed, 6), kMixed.size());
    EXPECT_EQ(ByteOffsetOfChar(kMixed, kAll), kMixed.size());
}

TEST(InStr, BinaryPositionsAreCharacterPositionsAndEmptyFindGivesTheStart) {
    EXPECT_EQ(InStr(kMixed, "b"), 4u);
    EXPECT_EQ(InStr(kMixed, "\U0001F600"), 3u);
    EXPECT_EQ(InStr("a\u20ACb\u20AC", "\u20AC"), 2u);
    EXPECT_EQ(InStr(3, "a\u20ACb\u20AC", "\u20AC"), 4u);
    EXPECT_EQ(InStr(5, "a\u20ACb\u20AC", "\u20AC"), 0u);
    EXPECT_EQ(InStr("abc", "ABC"), 0u);
    EXPECT_EQ(InStr("abc", "abcd"), 0u);
    EXPECT_EQ(InStr("", "a"), 0u);
    EXPECT_RAISES(rt::InvalidProcedureCall, InStr(0, "abc", "a"));
    // An empty find gives the start.
    EXPECT_EQ(InStr("abc", ""), 1u);
    EXPECT_EQ(InStr(3, "abc", ""), 3u);
    EXPECT_EQ(InStr(4, "abc", ""), 4u);
    EXPECT_EQ(InStr(5, "abc", ""), 0u);
    EXPECT_EQ(InStr(2, "\u20AC\u20AC", ""), 2u);
    EXPECT_EQ(InStr(3, "\u20AC\u20AC", ""), 3u);
    EXPECT_EQ(InStr(4, "\u20AC\u20AC", ""), 0u);
    EXPECT_EQ(InStr("", ""), 1u);
    EXPECT_EQ(InStrRev("a\u20ACb", ""), 3u);
}

TEST(InStr, MalformedBytesMatchOnlyWholeCharacters) {
    // A lone continuation byte is not a character of "é".
    EXPECT_EQ(InStr("\u00E9", "\xA9"), 0u);
    EXPECT_EQ(InStr("x\u00E9\xA9", "\xA9"), 3u);
    EXPECT_EQ(InStrRev("\u00E9", "\xA9"), 0u);
    EXPECT_EQ(InStrRev("\xA9\u00E9", "\xA9"), 1u);
    // A cut-short sequence is not the first part of a whole one.
    EXPECT_EQ(InStr("\u20AC", "\xE2\x82"), 0u);
    EXPECT_EQ(InStr("\u20AC\xE2\x82", "\xE2\x82"), 2u);
    EXPECT_EQ(InStr("a\xFFz", "\xFFz"), 2u);
    EXPECT_EQ(InStr("a\xFFz", "Z", CompareMethod::Text), 3u);
    EXPECT_EQ(Replace("\u00E9\xA9", "\xA9", "!"), "\u00E9!");
    for (std::string s : {"\xE2\x82\xAC\xE2", "\xF0\x9F", "\xC3", "\xA9\xA9\xA9"}) {
        for (std::string f : {"\xA9", "\x82", "\xE2", "\xE2\x82", "\x9F"}) {
            std::size_t at = InStr(s, f);
            EXPECT_LE(at, Len(s)) << s << " / " << f;
            if (at) {
                EXPECT_EQ(Mid(s, at, Len(f)), f);
            }
        }
    }
}

TEST(InStr, TextModeFoldsCaseFully) {
    EXPECT_EQ(InStr("xABC", "bc", CompareMethod::Text), 3u);
    EXPECT_EQ(InStr(3, "abcabc", "ABC", CompareMethod::Text), 4u);
    EXPECT_EQ(InStr("x\u00C4y", "\u00E4", CompareMethod::Text), 2u);
    EXPECT_EQ(InStr("x\u00C4y", "\u00E4"), 0u);
    EXPECT_EQ(InStr("\u03A9MEGA", "\u03C9mega", CompareMethod::Text), 1u);
    EXPECT_EQ(InStrRev("abcABC", "bc", CompareMethod::Text), 5u);
    EXPECT_EQ(InStrRev("abcABC", "bc"), 2u);
    EXPECT_TRUE(ContainsText("Hello World", "WORLD"));
    EXPECT_FALSE(ContainsText("Hello", "World"));
    // "ß" folds to "ss": it matches "SS", and positions stay those of the original characters.
    EXPECT_EQ(InStr("Die Stra\u00DFe", "STRASSE", CompareMethod::Text), 5u);
    EXPECT_EQ(InStr("STRASSE", "stra\u00DFe", CompareMethod::Text), 1u);
    EXPECT_EQ(InStr("Stra\u00DFe", "SS", CompareMethod::Text), 5u);
    EXPECT_EQ(InStr("x\uFB01y", "FI", CompareMethod::Text), 2u);  // the "fi" ligature
    EXPECT_EQ(InStrRev("Stra\u00DFe Strasse", "SS", CompareMethod::Text), 12u);
    EXPECT_EQ(InStrRev("Stra\u00DFe", "SS", CompareMethod::Text), 5u);
    // Half of a folded character is no match.
    EXPECT_EQ(InStr(2, "Stra\u00DFe", "s", CompareMethod::Text), 0u);
    EXPECT_EQ(InStr(2, "Stra\u00DFes", "s", CompareMethod::Text), 7u);
    EXPECT_EQ(InStr("\u00DF", "sss", CompareMethod::Text), 0u);
}

TEST(Replace, BinaryAndText) {
    EXPECT_EQ(Replace("a\u20ACb\u20AC", "\u20AC", "E"), "aEbE");
    EXPECT_EQ(Replace("aaa", "aa", "b"), "ba");
    EXPECT_EQ(Replace("abc", "", "x"), "abc");
    EXPECT_EQ(Replace("", "a", "b"), "");
    EXPECT_EQ(Replace("abc", "b", ""), "ac");
    EXPECT_EQ(Replace("Ab ab AB", "ab", "x"), "Ab x AB");
    EXPECT_EQ(Replace("Ab ab AB", "ab", "x", CompareMethod::Text), "x x x");
    EXPECT_EQ(Replace("x\u00C4x\u00E4", "\u00E4", "ae", CompareMethod::Text), "xaexae");
    // The replaced length is the matched text's, which full folding may make differ from the search text's.
    EXPECT_EQ(Replace("Stra\u00DFe", "SS", "ss", CompareMethod::Text), "Strasse");
    EXPECT_EQ(Replace("STRASSE!", "stra\u00DFe", "x", CompareMethod::Text), "x!");
    EXPECT_EQ(Replace("Stra\u00DFe Strasse", "strasse", "-", CompareMethod::Text), "- -");
}

TEST(CaseMapping, UCaseLCaseFoldCase) {
    EXPECT_EQ(UCase("abc xyz"), "ABC XYZ");
    EXPECT_EQ(UCase("\u00E4\u00F6\u00FC \u20AC"), "\u00C4\u00D6\u00DC \u20AC");
    EXPECT_EQ(UCase("stra\u00DFe"), "STRASSE");
    EXPECT_EQ(LCase("\u00C4\u00D6\u00DC"), "\u00E4\u00F6\u00FC");
    EXPECT_EQ(LCase("\u03A9"), "\u03C9");
    EXPECT_EQ(FoldCase("Gr\u00F6\u00DFe"), "gr\u00F6sse");
    // Malformed bytes stay as they are; the characters around them are mapped.
    EXPECT_EQ(UCase("a\xFF\u00E4"), "A\xFF\u00C4");
    EXPECT_EQ(LCase("A\xC3"), "a\xC3");
    EXPECT_EQ(LCase("\xC3\u00C4\xC3"), "\xC3\u00E4\xC3");
    EXPECT_EQ(FoldCase("A\x80\u00DF"), "a\x80ss");
    EXPECT_TRUE(TextEquals("\u00C4\xFF", "\u00E4\xFF"));
    // ASCII keys fold eight bytes at a time: every letter of every word, the bytes around the letters kept.
    FoldBuffer buffer;
    EXPECT_EQ(FoldAscii("@AZ[`az{ ConnectionStatus_09", buffer), "@az[`az{ connectionstatus_09");
    EXPECT_EQ(FoldAscii("ADODB.COMMAND\u00C4", buffer), std::nullopt);
    EXPECT_EQ(FoldAscii("ADODB.COMMAND\x7F", buffer), "adodb.command\x7F");
    EXPECT_EQ(FoldAscii(std::string(65, 'A'), buffer), std::nullopt);
    EXPECT_TRUE(IsAscii("insert into t values (:a, :b)"));
    EXPECT_FALSE(IsAscii("insert into t values (:\u00E4)"));
    EXPECT_FALSE(IsAscii("12345678\x80"));
    EXPECT_TRUE(IsAscii(""));
    EXPECT_EQ(InStr("\u00C4\xFF", "\u00E4\xFF", CompareMethod::Text), 1u);
}

TEST(Trim, OnlyBlanks) {
    EXPECT_EQ(Trim("  a b  "), "a b");
    EXPECT_EQ(LTrim("  a "), "a ");
    EXPECT_EQ(RTrim("  a "), "  a");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim(""), "");
    EXPECT_EQ(Trim("\ta\r\n"), "\ta\r\n");
    EXPECT_EQ(Trim("\u00A0a\u00A0"), "\u00A0a\u00A0");  // no-break space is not a blank
    EXPECT_EQ(Space(3), "   ");
}

TEST(StrComp, BinaryAndText) {
    EXPECT_EQ(StrComp("a", "B"), 1);
    EXPECT_EQ(StrComp("a", "B", CompareMethod::Text), -1);
    EXPECT_EQ(StrComp("abc", "ABC", CompareMethod::Text), 0);
    EXPECT_EQ(StrComp("ab", "abc", CompareMethod::Text), -1);
    EXPECT_EQ(StrComp("\u00E4", "\u00C4", CompareMethod::Text), 0);
    EXPECT_EQ(StrComp("\u00E4", "\u00C4"), 1);
    EXPECT_TRUE(TextEquals("Stra\u00DFe", "STRASSE"));
    EXPECT_TRUE(TextEquals("ID", "id"));
    EXPECT_FALSE(TextEquals("ID", "idx"));
    EXPECT_FALSE(TextEquals("\xFF", "\xFE"));
}

}  // namespace
}  // namespace korado
