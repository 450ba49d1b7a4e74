// Type names need no database.
#include <gtest/gtest.h>

#include "dictionary/modCommon.h"
#include "korado/dictionary/clsDictionary.h"

namespace korado {
namespace {

TEST(DataTypeDescription, NamedCodesSharedNamesAutoNumberAndGaps) {
    // AutoNumber only for exactly 0x5A; the shared names of 138 and 139; the ends of the table.
    const std::tuple<std::int32_t, std::int32_t, const char*> named[] = {
        {3, 90, "AutoNumber"}, {3, 88, "Integer"},        {3, 91, "Integer"}, {3, 0x5E, "Integer"},
        {138, 0, "Variant"},   {139, 0, "Numeric"},       {0, 0, "Empty"},    {205, 0, "LongVarBinary"},
        {72, 0, "GUID"},       {21, 0, "UnsignedBigInt"},
    };
    clsDictionary dictionary;
    for (auto [code, attributes, name] : named) {
        EXPECT_EQ(DataTypeDescription(code, attributes), name) << code << "/" << attributes;
        EXPECT_EQ(dictionary.DataTypeDesc(code, attributes), name) << code << "/" << attributes;
    }
    EXPECT_EQ(dictionary.DataTypeDesc(3), "Integer");
    // Gaps, the file-time (64), chapter (136) and array (8192) codes, and codes out of range.
    for (std::int32_t code : {1, 15, 22, 64, 71, 73, 127, 136, 137, 140, 199, 206, 8192, -1, INT32_MIN})
        EXPECT_EQ(DataTypeDescription(code, 90), "") << code;
}

}  // namespace
}  // namespace korado
