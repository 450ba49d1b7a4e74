// What both persistence formats must carry through a writer and a reader: every value kind a provider
// hands out, and a rowset with pending changes, each checked the same way for either format.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "dataaccess/persistence.h"
#include "korado/platform/ado_enums.h"
#include "korado/runtime/convert.h"

namespace korado::dataaccess::persist::shared {

struct SavedRow {
    RowKind kind;
    std::vector<Variant> values, originals;
};

// Keeps what a reader hands over.
struct Collect final : RowsetSink {
    Schema schema;
    std::vector<SavedRow> rows;
    int ends = 0;
    void Begin(const Schema& s) override { schema = s; }
    void Row(RowKind kind, const Variant* values, const Variant* originals) override {
        const std::size_t n = schema.columns.size();
        rows.push_back({kind, std::vector<Variant>(values, values + n),
                        originals ? std::vector<Variant>(originals, originals + n) : std::vector<Variant>()});
    }
    void End() override { ++ends; }
};

using MakeWriter = std::unique_ptr<RowsetSink> (*)(std::ostream&);
using ReadImage = void (*)(std::string_view, RowsetSink&);

inline std::string Write(MakeWriter make, const Schema& schema, const std::vector<SavedRow>& rows) {
    std::ostringstream out;
    std::unique_ptr<RowsetSink> writer = make(out);
    writer->Begin(schema);
    for (const SavedRow& r : rows)
        writer->Row(r.kind, r.values.data(), r.originals.empty() ? nullptr : r.originals.data());
    writer->End();
    return out.str();
}

inline Collect Read(ReadImage read, std::string_view image) {
    Collect c;
    read(image, c);
    EXPECT_EQ(c.ends, 1);
    return c;
}

inline constexpr std::int32_t kNullable = ado::adFldIsNullable | ado::adFldMayBeNull;

inline ColumnInfo Column(std::string name, std::int32_t type, std::int32_t size, std::int32_t attributes = 0,
                         std::uint8_t precision = 0, std::uint8_t scale = 0) {
    ColumnInfo c;
    c.name = std::move(name);
    c.type = type;
    c.defined_size = size;
    c.attributes = attributes;
    c.precision = precision;
    c.scale = scale;
    return c;
}

inline Date At(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0, double fraction = 0) {
    return DateFromParts(DateParts{y, m, d, hh, mm, ss, fraction});
}

inline void ExpectSameColumn(const ColumnInfo& got, const ColumnInfo& want) {
    EXPECT_EQ(std::tie(got.name, got.type, got.defined_size, got.precision, got.scale, got.attributes),
              std::tie(want.name, want.type, want.defined_size, want.precision, want.scale, want.attributes))
        << want.name;
    EXPECT_EQ(std::tie(got.base_catalog, got.base_schema, got.base_table, got.base_column, got.key_column,
                       got.auto_increment),
              std::tie(want.base_catalog, want.base_schema, want.base_table, want.base_column,
                       want.key_column, want.auto_increment))
        << want.name;
}

// Exact identity: NaN is itself, and -0 is not 0.
inline bool Same(const Variant& a, const Variant& b) {
    const double* x = a.get_if<double>();
    const double* y = b.get_if<double>();
    if (x && y) return std::isnan(*x) ? std::isnan(*y) : std::signbit(*x) == std::signbit(*y) && *x == *y;
    return a == b;
}

inline std::string Shown(const Variant& v) {
    if (v.IsNull()) return "Null";
    if (const Bytes* b = v.get_if<Bytes>()) return std::to_string(b->size()) + " bytes";
    return CStr(v);
}

// One column per type, its values down the rows (Null where a column has fewer, and a last row of Nulls).
// Each must read back exactly, in a column of the same description; fixed binary reads back as
// `fixed_binary` (a format without it makes it variable-length).
inline void ExpectEveryTypeRoundTrips(MakeWriter make, ReadImage read, std::int32_t fixed_binary) {
    using ado::adFldFixed, ado::adFldLong;
    const auto big = (static_cast<__int128>(1) << 96) - 1;
    const std::string long_text(5000, 'x');
    Bytes long_bytes(300);
    for (std::size_t i = 0; i < long_bytes.size(); ++i) long_bytes[i] = static_cast<std::uint8_t>(i * 7);
    const int fixed = adFldFixed | kNullable;
    struct Case {
        ColumnInfo column;
        std::vector<Variant> values;
    };
    const std::vector<Case> cases = {
        {Column("tiny", ado::adTinyInt, 1, fixed, 3), {std::int16_t{-128}, std::int16_t{127}}},
        {Column("ui1", ado::adUnsignedTinyInt, 1, fixed, 3), {std::uint8_t{0}, std::uint8_t{255}}},
        {Column("i2", ado::adSmallInt, 2, fixed, 5),
         {std::int16_t{-32768}, std::int16_t{32767}, std::int16_t{0}}},
        {Column("ui2", ado::adUnsignedSmallInt, 2, fixed, 5), {0, 65535}},
        {Column("i4", ado::adInteger, 4, fixed, 10),
         {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()}},
        {Column("ui4", ado::adUnsignedInt, 4, fixed, 10), {4294967295LL, 0LL}},
        {Column("i8", ado::adBigInt, 8, fixed, 19),
         {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()}},
        {Column("ui8", ado::adUnsignedBigInt, 8, fixed, 20),
         {std::int64_t{7}, Decimal{static_cast<__int128>(std::numeric_limits<std::uint64_t>::max()), 0}}},
        {Column("r4", ado::adSingle, 4, fixed, 7), {0.1f, 3.4028235e38f, -1.17549435e-38f, 1e-45f, -0.0f}},
        {Column("r8", ado::adDouble, 8, fixed, 15),
         {0.1, 1e308, -1e308, 5e-324, 1.0 / 3.0, 123456789012345678.0, -0.0,
          std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}},
        {Column("cy", ado::adCurrency, 8, fixed, 19),
         {Currency{std::numeric_limits<std::int64_t>::min()},
          Currency{std::numeric_limits<std::int64_t>::max()}, Currency{1}, Currency{180000}, Currency{-5}}},
        {Column("num", ado::adNumeric, 19, fixed, 38, 10),
         {Decimal{1250, 2}, Decimal{-5, 2}, Decimal{0, 2}, Decimal{-big, 10}, 1e30}},
        {Column("dec", ado::adDecimal, 16, fixed, 29, 28),
         {Decimal{big, 0}, Decimal{-big, 28}, Decimal{1, 28}}},
        {Column("flag", ado::adBoolean, 2, fixed), {true, false}},
        {Column("ts", ado::adDBTimeStamp, 16, fixed, 26, 6),
         {At(1899, 12, 30), At(2024, 5, 17, 13, 45, 10, 0.123456), At(1800, 2, 28, 6, 30, 0),
          At(1899, 12, 29, 23, 59, 59, 0.5), At(100, 1, 1, 0, 0, 0, 0.000001), At(9999, 12, 31, 23, 59, 59),
          At(2024, 2, 29, 23, 59, 59, 0.999999999), Date{DateAt(45000, 43200 + 1e-6).days}}},
        {Column("d", ado::adDate, 8, fixed),
         {Date{45000.75}, Date{-600000.5}, Date{-1.25}, Date{45000.123456789}}},
        {Column("dbdate", ado::adDBDate, 6, fixed), {At(1492, 10, 12), At(9999, 12, 31)}},
        {Column("dbtime", ado::adDBTime, 6, fixed), {At(1899, 12, 30, 23, 59, 59), Date{0}}},
        {Column("guid", ado::adGUID, 16, fixed), {"{8AC68D3D-8A09-4403-8860-D0E494BBE894}"}},
        {Column("text", ado::adVarWChar, 255, kNullable),
         {"<&\"'>", "tab\tline\nreturn\r\nend", std::string("\x01\x1f\x7f\x00z", 5), "", " padded ",
          "Größe ✓ 日本語 😀", "]]> --> <!--"}},
        // Narrow text where a format has a code page: "Ã©" reads as "é" in UTF-8, 0x81 has no 1252 character.
        {Column("narrow", ado::adVarChar, 20, kNullable),
         {"abc", "Grüße €", "日本語 😀", "Ã©", "\u0081\u009d"}},
        {Column("code", ado::adChar, 10, fixed), {"abc       ", "é", ""}},
        {Column("wcode", ado::adWChar, 3, fixed), {"日本語", "a😀"}},
        {Column("bstr", ado::adBSTR, 10, kNullable), {"b"}},
        {Column("memo", ado::adLongVarWChar, -1, adFldLong | kNullable), {long_text, ""}},
        {Column("note", ado::adLongVarChar, -1, adFldLong | kNullable), {"é" + long_text}},
        {Column("bin", ado::adVarBinary, 16, kNullable), {Bytes{}, Bytes{0, 255, 1}}},
        {Column("binfixed", ado::adBinary, 4, fixed), {Bytes{0xde, 0xad, 0xbe, 0xef}}},
        {Column("blob", ado::adLongVarBinary, -1, adFldLong | kNullable), {long_bytes, Bytes{}}},
    };
    Schema schema;
    std::size_t rows = 0;
    for (const Case& c : cases) {
        schema.columns.push_back(c.column);
        rows = std::max(rows, c.values.size() + 1);
    }
    std::vector<SavedRow> saved(rows, SavedRow{RowKind::kUnchanged, {}, {}});
    for (std::size_t r = 0; r < rows; ++r)
        for (const Case& c : cases)
            saved[r].values.push_back(r < c.values.size() ? c.values[r] : Variant::Null());
    const Collect back = Read(read, Write(make, schema, saved));
    ASSERT_EQ(back.schema.columns.size(), cases.size());
    ASSERT_EQ(back.rows.size(), rows);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].column.name);
        ColumnInfo want = cases[i].column;
        if (want.type == ado::adBinary && fixed_binary != ado::adBinary)
            want.type = fixed_binary, want.attributes &= ~ado::adFldFixed;
        ExpectSameColumn(back.schema.columns[i], want);
        for (std::size_t r = 0; r < rows; ++r) {
            const Variant &got = back.rows[r].values[i], &want = saved[r].values[i];
            EXPECT_EQ(back.rows[r].kind, RowKind::kUnchanged);
            EXPECT_TRUE(Same(got, want)) << "row " << r << ": " << Shown(got) << " for " << Shown(want);
        }
    }
}

// A rowset of one base table with a change of each kind; originals travel with changes. Returns the image.
inline std::string ExpectPendingChangesRoundTrip(MakeWriter make, ReadImage read) {
    Schema schema;
    schema.updatable = true;
    // The key counts up by itself, so it may be Null until the row is stored.
    schema.columns = {
        Column("id", ado::adInteger, 4, ado::adFldFixed | ado::adFldKeyColumn | ado::adFldMayBeNull, 10),
        Column("name", ado::adVarWChar, 40, kNullable), Column("phone", ado::adVarWChar, 24, kNullable)};
    for (ColumnInfo& c : schema.columns) {
        c.base_catalog = "shop", c.base_schema = "main", c.base_table = "orders";
        c.base_column = c.name == "phone" ? "tel" : c.name;
    }
    schema.columns[0].key_column = schema.columns[0].auto_increment = true;
    const Variant null = Variant::Null();
    const std::vector<SavedRow> rows = {
        {RowKind::kUnchanged, {1, "Speedy Express", "(503) 555-9831"}, {}},
        {RowKind::kUpdated, {2, "United Package", "(503) 552-7134"}, {2, "United Package", "(503) 555-3199"}},
        {RowKind::kUpdated, {3, null, ""}, {3, "Federal Shipping", null}},  // to NULL, from NULL to ""
        {RowKind::kUpdated, {4, "Same", "Same"}, {4, "Same", "Same"}},
        {RowKind::kInserted, {12, "Lightning Shipping", null}, {}},
        {RowKind::kInserted, {13, null, null}, {}},
        {RowKind::kDeleted, {5, "Gone", null}, {}},
        {RowKind::kDeleted, {6, "Gone too", "x"}, {}},
        {RowKind::kUnchanged, {7, "Last", null}, {}},
        {RowKind::kInserted, {14, "After", null}, {}},
    };
    const std::string image = Write(make, schema, rows);
    const Collect back = Read(read, image);
    EXPECT_TRUE(back.schema.updatable);
    EXPECT_EQ(back.schema.columns.size(), schema.columns.size());
    for (std::size_t i = 0; i < std::min(back.schema.columns.size(), schema.columns.size()); ++i)
        ExpectSameColumn(back.schema.columns[i], schema.columns[i]);
    EXPECT_EQ(back.rows.size(), rows.size());
    for (std::size_t r = 0; r < std::min(back.rows.size(), rows.size()); ++r)
        EXPECT_EQ(std::tie(back.rows[r].kind, back.rows[r].values, back.rows[r].originals),
                  std::tie(rows[r].kind, rows[r].values, rows[r].originals))
            << r;
    return image;
}

}  // namespace korado::dataaccess::persist::shared
