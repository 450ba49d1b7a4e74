// The binary persistence format: every value kind a provider hands out written and read back exactly,
// pending changes with their originals, the format description's own example, and hostile images.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/persist_rows.h"
#include "support/raises.h"

namespace korado::dataaccess::persist {
namespace {

using namespace shared;

std::string Write(const Schema& schema, const std::vector<SavedRow>& rows) {
    return shared::Write(MakeAdtgWriter, schema, rows);
}

Collect Read(std::string_view image) { return shared::Read(ReadAdtg, image); }

std::string Hex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i < hex.size();) {
        if (hex[i] == ' ' || hex[i] == '\n') {
            ++i;
            continue;
        }
        out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
        i += 2;
    }
    return out;
}

ColumnInfo Col(std::string name, std::int32_t type, std::int32_t size) {
    return Column(std::move(name), type, size, kNullable | ado::adFldUpdatable, 255, 255);
}

TEST(PersistAdtg, EveryKindOfValueReadsBackExactly) { ExpectEveryTypeRoundTrips(MakeAdtgWriter, ReadAdtg, ado::adVarBinary); }

TEST(PersistAdtg, PendingChangesKeepTheirKindsAndOriginals) {
    ExpectPendingChangesRoundTrip(MakeAdtgWriter, ReadAdtg);
    // A column said to be NOT NULL may hold a Null all the same (the nullable side of an outer join):
    // it is saved, and the column reads back maybe-null.
    Schema strict;
    strict.columns.push_back(Column("id", ado::adInteger, 4));
    const Collect joined = Read(
        Write(strict, {{RowKind::kUnchanged, {Variant::Null()}, {}}, {RowKind::kUnchanged, {Variant(1)}, {}}}));
    ASSERT_EQ(joined.rows.size(), 2u);
    EXPECT_TRUE(joined.rows[0].values[0].IsNull());
    EXPECT_EQ(joined.rows[1].values[0], Variant(1));
    EXPECT_EQ(joined.schema.columns[0].attributes & kNullable, ado::adFldMayBeNull);
}

// Any value the recordset holds is saved, whatever its column's size says: a text longer than its
// declared size (SQLite keeps what it is given), text of more bytes than characters. Columns whose size
// would take one-byte lengths get four-byte ones and keep their size; a value wider than a fixed-length
// text column fails the save (Empty below) rather than be cut; fixed binary goes variable-length. On the wire: narrow text in 1252,
// fixed text padded with zero bytes and without a length.
TEST(PersistAdtg, EveryValueFitsItsColumn) {
    struct Case {
        std::int32_t type, size;
        Variant value, read_value;
        std::string wire;  // the value's bytes in the file, where the case shows them
        std::int32_t read_type = 0;
    };
    const std::string emoji = "😀";
    std::string emojis;
    for (int i = 0; i < 127; ++i) emojis += emoji;
    const Case cases[] = {
        {ado::adVarWChar, 20, Variant(std::string(1000, 'a')), Variant(std::string(1000, 'a')), ""},
        {ado::adVarWChar, 127, Variant(emojis), Variant(emojis), ""},
        {ado::adVarWChar, 0, Variant("abc"), Variant("abc"), ""},
        {ado::adVarWChar, 300, Variant(std::string(400, 'a')), Variant(std::string(400, 'a')), ""},
        {ado::adVarChar, 100, Variant(std::string(300, 'x') + "Ж"), Variant(std::string(300, 'x') + "Ж"), ""},
        {ado::adVarChar, 10, Variant("Grüße"), Variant("Grüße"),
         std::string("\x05\0\0\0Gr\xFC\xDF"
                     "e",
                     9)},
        {ado::adVarBinary, 255, Variant(Bytes(256, 7)), Variant(Bytes(256, 7)), ""},
        {ado::adChar, 4, Variant("ab"), Variant("ab"), std::string("ab\0\0", 4)},
        {ado::adChar, 4, Variant("abcdef"), Variant(), ""},
        {ado::adChar, 2, Variant("€‚"), Variant("€‚"), "\x80\x82"},
        {ado::adChar, 2, Variant("€‚ƒ"), Variant(), ""},
        {ado::adChar, 2, Variant("xЖ"), Variant(), ""},
        {ado::adWChar, 2, Variant("a😀"), Variant(), ""},
        {ado::adBinary, 255, Variant(Bytes(300, 1)), Variant(Bytes(300, 1)), "", ado::adVarBinary},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " of " + std::to_string(c.size) + ": " + Shown(c.value));
        Schema schema;
        schema.columns.push_back(Col("v", c.type, c.size));
        if (c.read_value.IsEmpty()) {
            EXPECT_THROW(Write(schema, {SavedRow{RowKind::kUnchanged, {c.value}, {}}}), Error);
            continue;
        }
        const std::string image = Write(schema, {SavedRow{RowKind::kUnchanged, {c.value}, {}}});
        if (!c.wire.empty()) EXPECT_EQ(image.substr(image.size() - 1 - c.wire.size(), c.wire.size()), c.wire);
        Collect back = Read(image);
        EXPECT_EQ(back.schema.columns[0].type, c.read_type ? c.read_type : c.type);
        EXPECT_EQ(back.schema.columns[0].defined_size, c.size);
        ASSERT_EQ(back.rows.size(), 1u);
        EXPECT_TRUE(back.rows[0].values[0] == c.read_value) << Shown(back.rows[0].values[0]);
    }
}

// The tablegram of the format description's example (a query of one row of pubs' Publishers), as it
// shows it byte for byte.
constexpr std::string_view kPublishers = R"(
01 07 54 47 21 00 00 00 00 02 19 00 B6 92 F2 3F 04 B2 CF 11 8D 23 00 AA 00 5F FE 58 01 00 00 00 00 00 00 03 00
03 67 00 D2 AD 63 F6 02 EB CF 11 B0 E3 00 AA 00 3F 00 0F 00 00 00 05 00 05 00 00 00 01 00 00 00 01 00 00 00 01
00 C1 3C 8E B6 EB 6D D0 11 8D F6 00 AA 00 5F FE 58 07 00 0B 00 00 00 04 00 01 00 00 00 13 00 00 00 04 00 01 00
00 00 0D 00 00 00 00 00 0E 00 00 00 00 00 0F 00 00 00 00 00 10 00 00 00 00 00 12 00 00 00 00 00
10 7C 00 02 00 BE 22 B5 C8 F3 5C CE 11 AD E5 00 AA 00 44 77 3D 04 00 7F 00 00 00 02 00 FF FF 86 00 00 00 02 00
FF FF 22 00 00 00 04 00 1E 00 00 00 49 00 00 00 04 00 00 00 00 00 C1 3C 8E B6 EB 6D D0 11 8D F6 00 AA 00 5F FE
58 05 00 04 00 00 00 04 00 0F 00 00 00 05 00 00 00 04 00 02 00 00 00 03 00 00 00 04 00 0F 00 00 00 07 00 00 00
04 00 32 00 00 00 08 00 00 00 04 00 03 00 00 00
05 4A 00 01 00 14 00 22 00 70 00 75 00 62 00 73 00 22 00 2E 00 2E 00 22 00 50 00 75 00 62 00 6C 00 69 00 73 00
68 00 65 00 72 00 73 00 22 00 0A 00 50 00 75 00 62 00 6C 00 69 00 73 00 68 00 65 00 72 00 73 00 00 00 05 00 01
00 01 00
06 45 00 F2 01 00 01 00 06 00 70 00 75 00 62 00 5F 00 69 00 64 00 01 00 01 00 06 00 70 00 75 00 62 00 5F 00 69
00 64 00 81 00 04 00 00 00 FF 00 00 00 FF 00 00 00 18 80 00 00 04 00 70 00 75 00 62 00 73 00 00 00 FF FF
06 4D 00 F2 01 00 02 00 08 00 70 00 75 00 62 00 5F 00 6E 00 61 00 6D 00 65 00 01 00 02 00 08 00 70 00 75 00 62
00 5F 00 6E 00 61 00 6D 00 65 00 81 00 28 00 00 00 FF 00 00 00 FF 00 00 00 68 00 00 00 04 00 70 00 75 00 62 00
73 00 00 00 FF FF
06 3D 00 F2 01 00 03 00 04 00 63 00 69 00 74 00 79 00 01 00 03 00 04 00 63 00 69 00 74 00 79 00 81 00 14 00 00
00 FF 00 00 00 FF 00 00 00 68 00 00 00 04 00 70 00 75 00 62 00 73 00 00 00 FF FF
06 41 00 F2 01 00 04 00 05 00 73 00 74 00 61 00 74 00 65 00 01 00 04 00 05 00 73 00 74 00 61 00 74 00 65 00 81
00 02 00 00 00 FF 00 00 00 FF 00 00 00 78 00 00 00 04 00 70 00 75 00 62 00 73 00 00 00 FF FF
06 49 00 F2 01 00 05 00 07 00 63 00 6F 00 75 00 6E 00 74 00 72 00 79 00 01 00 05 00 07 00 63 00 6F 00 75 00 6E
00 74 00 72 00 79 00 81 00 1E 00 00 00 FF 00 00 00 FF 00 00 00 68 00 00 00 04 00 70 00 75 00 62 00 73 00 00 00
FF FF
07 FF 30 37 33 36 0E 4E 65 77 20 4D 6F 6F 6E 20 42 6F 6F 6B 73 08 4E 65 77 20 59 6F 72 6B 4D 41 03 55 53 41
0F)";

TEST(PersistAdtg, TheDescriptionsExampleReadsWithItsValues) {
    const std::string image = Hex(kPublishers);
    Collect back = Read(image);
    struct Want {
        const char* name;
        std::int32_t type, size;
        bool key;
    };
    const Want want[] = {{"pub_id", ado::adChar, 4, true},
                         {"pub_name", ado::adVarChar, 40, false},
                         {"city", ado::adVarChar, 20, false},
                         {"state", ado::adChar, 2, false},
                         {"country", ado::adVarChar, 30, false}};
    ASSERT_EQ(back.schema.columns.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        const ColumnInfo& c = back.schema.columns[i];
        SCOPED_TRACE(want[i].name);
        EXPECT_EQ(c.name, want[i].name);
        EXPECT_EQ(c.type, want[i].type);
        EXPECT_EQ(c.defined_size, want[i].size);
        EXPECT_EQ(c.key_column, want[i].key);
        EXPECT_EQ(c.base_table, "Publishers");
        EXPECT_EQ(c.base_column, want[i].name);
        EXPECT_EQ(c.base_catalog, "pubs");
        EXPECT_EQ((c.attributes & ado::adFldIsNullable) != 0, !want[i].key);
    }
    EXPECT_TRUE(back.schema.updatable);
    ASSERT_EQ(back.rows.size(), 1u);
    EXPECT_EQ(back.rows[0].kind, RowKind::kUnchanged);
    EXPECT_EQ(back.rows[0].values,
              (std::vector<Variant>{Variant("0736"), Variant("New Moon Books"), Variant("New York"),
                                    Variant("MA"), Variant("USA")}));
    // Narrow text as the original writes it, in its Windows code page.
    const std::size_t moon = image.find("Moon");
    ASSERT_NE(moon, std::string::npos);
    std::string accented = image;
    accented.replace(moon, 2, "\xE9\x80");
    EXPECT_EQ(Read(accented).rows[0].values[1], Variant("New é€on Books"));

    // A column the query did not select (a key the cursor added) is read with the rows but left out.
    const std::pair<std::size_t, std::vector<Variant>> hidden[] = {
        {0x477 - 0x1B6, {Variant("0736"), Variant("New Moon Books"), Variant("New York"), Variant("MA")}},
        {0x357 - 0x1B6, {Variant("New Moon Books"), Variant("New York"), Variant("MA"), Variant("USA")}},
    };
    for (const auto& [at, values] : hidden) {
        std::string image_hidden = image;
        ASSERT_EQ(image_hidden.substr(at, 2), "\xFF\xFF");
        image_hidden.replace(at, 2, std::string(2, '\0'));
        Collect shown = Read(image_hidden);
        EXPECT_EQ(shown.schema.columns.size(), 4u);
        ASSERT_EQ(shown.rows.size(), 1u);
        EXPECT_EQ(shown.rows[0].values, values);
    }

    // What this writer puts before the metadata is what the example has.
    Schema one;
    one.columns.push_back(Col("x", ado::adInteger, 4));
    const std::string written = Write(one, {});
    EXPECT_EQ(written.substr(0, 28), image.substr(0, 28));
}

// Damaged and hostile images fail as "not a recordset", without reading past the end or reserving what
// the image cannot hold.
TEST(PersistAdtg, HostileImagesFailCleanly) {
    const std::string good = Hex(kPublishers);
    auto patched = [&](std::size_t at, std::string_view bytes) {
        std::string s = good;
        s.replace(at, bytes.size(), bytes);
        return s;
    };
    const std::size_t row = good.size() - 37;  // the row token
    ASSERT_EQ(good[row], '\x07');
    const std::size_t descriptor = 0x311 - 0x1B6;  // the first column descriptor
    ASSERT_EQ(good[descriptor], '\x06');
    Schema long_text;
    long_text.columns.push_back(Col("memo", ado::adLongVarWChar, -1));
    const std::string memo = Write(long_text, {SavedRow{RowKind::kUnchanged, {Variant("ab")}, {}}});
    ASSERT_EQ(memo.substr(memo.size() - 9), Hex("04 00 00 00 61 00 62 00 0F"));
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"wrong magic", patched(2, "TG?")},
        {"XML", "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'/>"},
        {"big-endian", patched(7, "\x01")},
        {"header too short", patched(1, "\x03")},
        {"column descriptor shorter than its fields", patched(descriptor + 1, Hex("08 00"))},
        {"column descriptor longer than the image", patched(descriptor + 1, Hex("FF FF"))},
        {"more columns than descriptors", patched(0x1F3 - 0x1B6, Hex("06 00"))},
        {"65535 columns", patched(0x1F3 - 0x1B6, Hex("FF FF"))},
        {"a value after the last column", good.substr(0, good.size() - 1) + "\x03USA\x0F"},
        {"huge declared length", patched(row + 6, "\xFF")},
        {"unknown column type", patched(descriptor + 40, Hex("0A 00"))},
        {"huge declared length of a long value",
         memo.substr(0, memo.size() - 9) + Hex("FF FF FF 7F 61 00 62 00 0F")},
        {"child rows", good.substr(0, row) + Hex("87 01 00 00 00 0F")},
        {"no end", good.substr(0, good.size() - 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        auto e = test::RaisedError([&] { Read(c.second); });
        test::ExpectError(e, hr::E_FAIL, kPersistenceProvider);
        if (e) EXPECT_EQ(e->Description(), kNotARecordset);
    }
    // Every cut short, and every byte spoiled, fails with the provider's error or reads; nothing else.
    for (std::size_t n = 0; n < good.size(); ++n) {
        EXPECT_EQ(test::RaisedNumber([&] { Read(good.substr(0, n)); }), hr::E_FAIL) << n;
        for (char b : {'\x00', '\xFF', '\x80'})
            test::RaisedError([&] { Read(patched(n, std::string(1, b))); });
    }
}

}  // namespace
}  // namespace korado::dataaccess::persist
