// The binary persistence format: every value kind a provider hands out written and read back exactly,
// pending changes with their originals, the format description's own example, and hostile images.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "dataaccess/persistence.h"
#include "dataaccess/type_kinds.h"
#include "korado/platform/ado_enums.h"
#include "korado/runtime/convert.h"
#include "support/raises.h"

namespace korado::dataaccess::persist {
namespace {

struct SavedRow {
    RowKind kind;
    std::vector<Variant> values, originals;
};

// Keeps what a reader hands over.
struct Collect final : RowsetSink {
    Schema schema;
    std::vector<SavedRow> rows;
    bool ended = false;
    void Begin(const Schema& s) override { schema = s; }
    void Row(RowKind kind, const Variant* values, const Variant* originals) override {
        SavedRow r{kind, std::vector<Variant>(values, values + schema.columns.size()), {}};
        if (originals) r.originals.assign(originals, originals + schema.columns.size());
        rows.push_back(std::move(r));
    }
    void End() override { ended = true; }
};

std::string Write(const Schema& schema, const std::vector<SavedRow>& rows) {
    std::ostringstream out;
    auto writer = MakeAdtgWriter(out);
    writer->Begin(schema);
    for (const SavedRow& r : rows)
        writer->Row(r.kind, r.values.data(), r.originals.empty() ? nullptr : r.originals.data());
    writer->End();
    return out.str();
}

Collect Read(std::string_view image) {
    Collect c;
    ReadAdtg(image, c);
    return c;
}

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

ColumnInfo Col(std::string name, std::int32_t type, std::int32_t size, std::uint8_t precision = 255,
               std::uint8_t scale = 255) {
    ColumnInfo c;
    c.name = std::move(name);
    c.type = type;
    c.defined_size = size;
    c.precision = precision;
    c.scale = scale;
    c.attributes = ado::adFldIsNullable | ado::adFldMayBeNull | ado::adFldUpdatable;
    return c;
}

Date Moment(int y, int mo, int d, int h, int mi, int s, double fraction) {
    return DateFromParts(DateParts{y, mo, d, h, mi, s, fraction});
}

ColumnInfo With(ColumnInfo c, std::int32_t attributes) {
    c.attributes |= attributes;
    return c;
}

// One column per case; its values go down the rows (Null where a case has fewer), and must read back
// as they were, in a column of the same type, size and fixed and long flags.
struct TypeCase {
    ColumnInfo column;
    std::vector<Variant> values;
};

TEST(PersistAdtg, EveryKindOfValueReadsBackExactly) {
    const auto big = (static_cast<__int128>(1) << 96) - 1;
    std::string long_text(1000, 'x');
    Bytes long_bytes(300);
    for (std::size_t i = 0; i < long_bytes.size(); ++i) long_bytes[i] = static_cast<std::uint8_t>(i * 7);
    const std::vector<TypeCase> cases = {
        {Col("tiny", ado::adTinyInt, 1, 3), {Variant(std::int16_t{-128}), Variant(std::int16_t{127})}},
        {Col("byte", ado::adUnsignedTinyInt, 1, 3), {Variant(std::uint8_t{0}), Variant(std::uint8_t{255})}},
        {Col("small", ado::adSmallInt, 2, 5), {Variant(std::int16_t{-32768}), Variant(std::int16_t{32767})}},
        {Col("usmall", ado::adUnsignedSmallInt, 2, 5), {Variant(0), Variant(65535)}},
        {Col("int", ado::adInteger, 4, 10), {Variant(std::numeric_limits<std::int32_t>::min()), Variant(7)}},
        {Col("uint", ado::adUnsignedInt, 4, 10), {Variant(4294967295LL), Variant(0LL)}},
        {Col("big", ado::adBigInt, 8, 19),
         {Variant(std::numeric_limits<long long>::min()), Variant(std::numeric_limits<long long>::max())}},
        {Col("ubig", ado::adUnsignedBigInt, 8, 20),
         {Variant(5LL),
          Variant(Decimal{static_cast<__int128>(std::numeric_limits<std::uint64_t>::max()), 0})}},
        {Col("single", ado::adSingle, 4, 7), {Variant(1.5f), Variant(std::numeric_limits<float>::max())}},
        {Col("double", ado::adDouble, 8, 15),
         {Variant(0.1), Variant(-1e308), Variant(5e-324), Variant(std::numeric_limits<double>::infinity())}},
        {Col("money", ado::adCurrency, 8, 19),
         {Variant(Currency{std::numeric_limits<std::int64_t>::min()}), Variant(Currency{-1}),
          Variant(Currency{std::numeric_limits<std::int64_t>::max()})}},
        {Col("dec", ado::adDecimal, 16, 28, 4),
         {Variant(Decimal{big, 0}), Variant(Decimal{-12345, 28}), Variant(Decimal{0, 5})}},
        {Col("num", ado::adNumeric, 19, 38, 10),
         {Variant(Decimal{123456789, 4}), Variant(Decimal{-big, 10}), Variant(1e30)}},
        {Col("flag", ado::adBoolean, 2), {Variant(true), Variant(false)}},
        {Col("when", ado::adDate, 8),
         {Variant(Date{-657434.0}), Variant(Date{-1.25}), Variant(Date{45000.123456789})}},
        {Col("day", ado::adDBDate, 6), {Variant(DateSerial(1850, 3, 4)), Variant(DateSerial(9999, 12, 31))}},
        {Col("time", ado::adDBTime, 6), {Variant(TimeSerial(23, 59, 59)), Variant(Date{0})}},
        {Col("stamp", ado::adDBTimeStamp, 16),
         {Variant(Moment(1850, 3, 4, 10, 11, 12, 0.345)),
          Variant(Moment(2024, 2, 29, 23, 59, 59, 0.999999999)),
          Variant(Moment(100, 1, 1, 0, 0, 0, 0.000001)), Variant(Date{45123.4567891234})}},
        {Col("id", ado::adGUID, 16), {Variant("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}")}},
        {Col("text", ado::adVarWChar, 50),
         {Variant(""), Variant("tab\tnl\ncr\r\x01\x1f<&>\"'"), Variant("Grüße, 日本語 😀"), Variant::Null()}},
        {With(Col("memo", ado::adLongVarWChar, -1), ado::adFldLong), {Variant(long_text), Variant("")}},
        // Narrow text in 1252 where it can be, in UTF-8 where 1252 lacks a character or its bytes would
        // read as UTF-8 ("Ã©" is "é" in UTF-8).
        {Col("narrow", ado::adVarChar, 20),
         {Variant("abc"), Variant("Grüße €"), Variant("日本語 😀"), Variant("Ã©"), Variant("\u0081\u009d")}},
        {With(Col("note", ado::adLongVarChar, -1), ado::adFldLong), {Variant("é" + long_text), Variant("")}},
        {With(Col("code", ado::adChar, 4), ado::adFldFixed),
         {Variant("ab"), Variant("wxyz"), Variant("é"), Variant("")}},
        {With(Col("wcode", ado::adWChar, 3), ado::adFldFixed), {Variant("日本語"), Variant("a😀")}},
        {With(Col("wide", ado::adWChar, 300), ado::adFldFixed | ado::adFldLong), {Variant("x")}},
        {Col("bstr", ado::adBSTR, 10), {Variant("b")}},
        {Col("bin", ado::adVarBinary, 16), {Variant(Bytes{}), Variant(Bytes{0, 255, 1})}},
        {With(Col("blob", ado::adLongVarBinary, -1), ado::adFldLong), {Variant(long_bytes)}},
    };
    Schema schema;
    std::size_t rows = 0;
    for (const TypeCase& c : cases) {
        schema.columns.push_back(c.column);
        rows = std::max(rows, c.values.size());
    }
    std::vector<SavedRow> saved(rows, SavedRow{RowKind::kUnchanged, {}, {}});
    for (std::size_t r = 0; r < rows; ++r)
        for (const TypeCase& c : cases)
            saved[r].values.push_back(r < c.values.size() ? c.values[r] : Variant::Null());

    Collect back = Read(Write(schema, saved));
    ASSERT_TRUE(back.ended);
    ASSERT_EQ(back.schema.columns.size(), cases.size());
    ASSERT_EQ(back.rows.size(), rows);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const ColumnInfo& want = cases[i].column;
        const ColumnInfo& got = back.schema.columns[i];
        SCOPED_TRACE(want.name);
        EXPECT_EQ(got.name, want.name);
        EXPECT_EQ(got.type, want.type);
        EXPECT_EQ(got.defined_size, want.defined_size);
        EXPECT_EQ(got.precision, want.precision);
        EXPECT_EQ(got.scale, want.scale);
        // Values of fixed size are fixed-length whatever their column said.
        const std::int32_t flags =
            ado::adFldIsNullable | ado::adFldMayBeNull | ado::adFldUpdatable | ado::adFldLong |
            (dataaccess::IsTextType(want.type) || dataaccess::IsBinaryType(want.type) ? ado::adFldFixed : 0);
        EXPECT_EQ(got.attributes & flags, want.attributes & flags);
        for (std::size_t r = 0; r < rows; ++r) {
            const Variant& v = back.rows[r].values[i];
            const Variant& w = saved[r].values[i];
            EXPECT_TRUE(v == w) << "row " << r << ": " << (v.IsNull() ? "Null" : CStr(v)) << " for "
                                << (w.IsNull() ? "Null" : CStr(w));
        }
    }
}

// A rowset of one base table with a change of each kind: originals travel with changes and deletions.
TEST(PersistAdtg, PendingChangesKeepTheirKindsAndOriginals) {
    Schema schema;
    schema.updatable = true;
    for (ColumnInfo c : {Col("id", ado::adInteger, 4, 10, 0), Col("name", ado::adVarWChar, 30),
                         Col("amount", ado::adCurrency, 8, 19, 4)}) {
        c.base_catalog = "shop";
        c.base_schema = "main";
        c.base_table = "orders";
        c.base_column = c.name == "amount" ? "total" : c.name;
        schema.columns.push_back(c);
    }
    schema.columns[0].key_column = true;
    schema.columns[0].auto_increment = true;
    schema.columns[0].attributes = ado::adFldUpdatable | ado::adFldFixed;
    const Variant null = Variant::Null();
    auto row = [](RowKind kind, std::vector<Variant> v, std::vector<Variant> o = {}) {
        return SavedRow{kind, std::move(v), std::move(o)};
    };
    const std::vector<SavedRow> rows = {
        row(RowKind::kUnchanged, {Variant(1), Variant("a"), Variant(Currency{10000})}),
        row(RowKind::kUpdated, {Variant(2), Variant("b2"), null},
            {Variant(2), Variant("b"), Variant(Currency{5})}),
        row(RowKind::kUpdated, {Variant(3), Variant("c"), Variant(Currency{7})}, {Variant(3), null, null}),
        row(RowKind::kDeleted, {Variant(4), null, Variant(Currency{-1})}),
        row(RowKind::kInserted, {Variant(5), Variant(""), null}),
        row(RowKind::kInserted, {null, null, null}),
    };
    Collect back = Read(Write(schema, rows));
    EXPECT_TRUE(back.schema.updatable);
    ASSERT_EQ(back.rows.size(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(back.rows[r].kind, rows[r].kind);
        EXPECT_EQ(back.rows[r].values, rows[r].values);
        EXPECT_EQ(back.rows[r].originals, rows[r].originals);
    }
    for (std::size_t i = 0; i < schema.columns.size(); ++i) {
        const ColumnInfo& got = back.schema.columns[i];
        EXPECT_EQ(got.base_catalog, "shop");
        EXPECT_EQ(got.base_schema, "main");
        EXPECT_EQ(got.base_table, "orders");
        EXPECT_EQ(got.base_column, schema.columns[i].base_column);
        EXPECT_EQ(got.key_column, i == 0);
        EXPECT_EQ(got.auto_increment, i == 0);
    }
    // A column said to be NOT NULL may hold a Null all the same (the nullable side of an outer join):
    // it is saved, and the column reads back maybe-null.
    Schema strict;
    strict.columns.push_back(Col("id", ado::adInteger, 4));
    strict.columns[0].attributes = 0;
    Collect joined =
        Read(Write(strict, {row(RowKind::kUnchanged, {null}), row(RowKind::kUnchanged, {Variant(1)})}));
    ASSERT_EQ(joined.rows.size(), 2u);
    EXPECT_TRUE(joined.rows[0].values[0].IsNull());
    EXPECT_EQ(joined.rows[1].values[0], Variant(1));
    EXPECT_EQ(joined.schema.columns[0].attributes & (ado::adFldIsNullable | ado::adFldMayBeNull),
              ado::adFldMayBeNull);
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
    auto text = [](const Variant& v) {
        return v.get_if<Bytes>() ? std::to_string(v.get_if<Bytes>()->size()) + " bytes" : CStr(v);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " of " + std::to_string(c.size) + ": " + text(c.value));
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
        EXPECT_TRUE(back.rows[0].values[0] == c.read_value) << text(back.rows[0].values[0]);
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
    // Both open as tablegrams.
    EXPECT_EQ(DetectFormat(image), ado::adPersistADTG);
    EXPECT_EQ(DetectFormat(written), ado::adPersistADTG);
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
