// Type names and the dictionary's name pattern, which need no database.
#include <gtest/gtest.h>

#include "dictionary/modCommon.h"
#include "korado/dictionary/clsDictionary.h"
#include "support/support.h"

namespace korado {
namespace {

TEST(DataTypeDescription, NamedCodesSharedNamesAutoNumberAndGaps) {
    struct Case {
        std::int32_t code, attributes;
        const char* name;
    } cases[] = {
        {0, 0, "Empty"},
        {3, 0, "Integer"},
        {3, 90, "AutoNumber"},
        {3, 88, "Integer"},
        {3, 91, "Integer"},
        {3, 90 | 0x4, "Integer"},
        {12, 0, "Variant"},
        {138, 0, "Variant"},
        {131, 0, "Numeric"},
        {139, 0, "Numeric"},
        {202, 0, "VarWChar"},
        {205, 0, "LongVarBinary"},
        {72, 0, "GUID"},
        {21, 0, "UnsignedBigInt"},
        // Codes without a name: gaps, the file-time, chapter and array codes, out of range.
        {1, 0, ""},
        {15, 0, ""},
        {22, 0, ""},
        {64, 0, ""},
        {71, 0, ""},
        {73, 0, ""},
        {127, 0, ""},
        {136, 0, ""},
        {137, 0, ""},
        {140, 0, ""},
        {199, 0, ""},
        {206, 0, ""},
        {8192, 0, ""},
        {-1, 0, ""},
        {INT32_MIN, 90, ""},
    };
    clsDictionary dictionary;
    for (const Case& c : cases) {
        EXPECT_EQ(DataTypeDescription(c.code, c.attributes), c.name) << c.code << "/" << c.attributes;
        EXPECT_EQ(dictionary.DataTypeDesc(c.code, c.attributes), c.name) << c.code << "/" << c.attributes;
    }
    EXPECT_EQ(DataTypeDescription(3), "Integer");
    EXPECT_EQ(dictionary.DataTypeDesc(3), "Integer");
}

TEST(DictionaryPattern, PrefixBeforeTheFirstPercentOrTheWholeName) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"orders", "%", true},
        {"", "%", true},
        {"orders", "ord%", true},
        {"Orders", "ord%", false},
        {"orders", "ord%x", true},
        {"ord", "ord%", true},
        {"or", "ord%", false},
        {"anything", "%x", true},
        {"orders", "orders", true},
        {"orders", "order", false},
        {"orders", "ORDERS", false},
        {"orders", "", false},
        {"", "", true},
        {"o_ders", "o_%", true},
        {"orders", "o_ders", false},
        {"it's", "it'%", true},
        {"Grüße", "Grü%", true},
    };
    clsDictionary dictionary;
    for (const Case& c : cases)
        EXPECT_EQ(dictionary.m_like(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

}  // namespace
}  // namespace korado
