// Reads an Advanced Data TableGram (see persist_adtg_format.h for the layout) into a RowsetSink.
//
// The image is untrusted: every read goes through a cursor that refuses to pass the end of its token or of
// the image, counts are checked against the bytes left before anything is reserved for them, and whatever
// the reader does not understand (a second rowset, child rows, big-endian numbers) fails as "not a
// recordset" rather than being guessed at. Failures raised by the sink pass through unchanged.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "dataaccess/persist_adtg_format.h"
#include "dataaccess/persistence.h"
#include "dataaccess/providers/odbc/odbc_text.h"
#include "korado/platform/ado_enums.h"
#include "korado/runtime/error.h"

namespace korado::dataaccess::persist {
namespace {

using namespace adtg;

[[noreturn]] void Malformed() { Raise(hr::E_FAIL, kPersistenceProvider, kNotARecordset); }

// Reads forward through a range of the image.
class Cursor {
  public:
    explicit Cursor(std::string_view bytes) : bytes_(bytes) {}

    bool AtEnd() const noexcept { return pos_ == bytes_.size(); }
    std::size_t Left() const noexcept { return bytes_.size() - pos_; }
    std::uint8_t Peek() const {
        if (AtEnd()) Malformed();
        return static_cast<std::uint8_t>(bytes_[pos_]);
    }
    std::string_view Take(std::size_t n) {
        if (n > Left()) Malformed();
        std::string_view s = bytes_.substr(pos_, n);
        pos_ += n;
        return s;
    }
    void Skip(std::size_t n) { Take(n); }
    // The last `n` bytes of the range, wherever the cursor stands.
    std::string_view Last(std::size_t n) const {
        if (n > bytes_.size()) Malformed();
        return bytes_.substr(bytes_.size() - n);
    }
    template <class T>
    T Get() {
        T v;
        std::memcpy(&v, Take(sizeof v).data(), sizeof v);
        return v;
    }
    std::uint8_t U8() { return Get<std::uint8_t>(); }
    std::uint16_t U16() { return Get<std::uint16_t>(); }
    std::uint32_t U32() { return Get<std::uint32_t>(); }

    // A token's body: `token`, its two-byte size, then that many bytes.
    Cursor Token(std::uint8_t token) {
        if (U8() != token) Malformed();
        return Cursor(Take(U16()));
    }

    // A counted name: UTF-16 units after their count.
    std::string Name() {
        std::string_view units = Take(std::size_t{U16()} * 2);
        std::u16string wide(units.size() / 2, u'\0');
        std::memcpy(wide.data(), units.data(), units.size());
        return odbc::ToUtf8(wide);
    }

  private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};

struct Column {
    std::uint16_t type = 0;
    std::uint32_t max_length = 0;
    std::uint32_t flags = 0;
    bool nullable = false;
    bool fixed = false;
    bool short_length = false;
    bool visible = true;
};

class AdtgReader {
  public:
    AdtgReader(std::string_view image, RowsetSink& sink) : in_(image), sink_(sink) {}

    void Read() {
        ReadHeader();
        std::size_t columns = ReadResultDescriptor();
        if (in_.Peek() == kResultContext) ReadContext(in_.Token(kResultContext));
        while (in_.Peek() == kTableDescriptor) ReadTable(in_.Token(kTableDescriptor));
        // A column descriptor takes at least 27 bytes: a count beyond what is left is a lie.
        if (columns == 0 || columns > in_.Left() / 27) Malformed();
        schema_.columns.reserve(columns);
        for (std::size_t i = 0; i < columns; ++i) ReadColumn();
        // Columns the original's cursor added for itself (keys the query did not select) are read with the
        // rows but are not the rowset's. They come last; were one to come earlier, rows are compacted.
        std::vector<ColumnInfo> all = std::move(schema_.columns);
        schema_.columns.clear();
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (!columns_[i].visible) continue;
            compact_ |= schema_.columns.size() != i;
            schema_.columns.push_back(std::move(all[i]));
        }
        if (schema_.columns.empty()) Malformed();
        if (!updatable_known_) {
            schema_.updatable = !tables_.empty();
            for (const ColumnInfo& c : schema_.columns) schema_.updatable &= !c.base_table.empty();
        }
        for (const Column& c : columns_) nullable_ += c.nullable;
        values_.resize(columns_.size());
        originals_.resize(columns_.size());
        sink_.Begin(schema_);
        ReadRows();
        sink_.End();
    }

  private:
    struct Table {
        std::uint16_t ordinal = 0;
        std::string name;
        std::vector<std::uint16_t> keys;
    };

    void ReadHeader() {
        if (in_.U8() != kHeader) Malformed();
        std::uint8_t size = in_.U8();
        if (size < 7) Malformed();
        Cursor header(in_.Take(size));
        if (header.Take(3) != "TG!") Malformed();
        header.Skip(2);                     // version
        if (header.U8() != 0) Malformed();  // big-endian numbers: no writer makes them
        wide_narrow_text_ = header.U8() != 0;
        in_.Token(kHandlerOptions);  // nothing in it changes how the rows read
    }

    std::size_t ReadResultDescriptor() {
        Cursor d = in_.Token(kResultDescriptor);
        d.Skip(16 + 3);  // descriptor id, reserved, cursor model, normalization
        d.U16();         // visible columns
        std::size_t total = d.U16();
        d.Skip(2 + 2 + 2 + 4);  // computed columns, tables, order-by columns, rows
        return total;
    }

    void ReadContext(Cursor c) {
        for (std::uint16_t sets = c.U16(); sets > 0; --sets) {
            const bool rowset =
                c.Take(16) == std::string_view(reinterpret_cast<const char*>(kRowsetPropertySet), 16);
            for (std::uint16_t n = c.U16(); n > 0; --n) {
                const std::uint32_t id = c.U32();
                std::string_view value = c.Take(c.U16());
                if (rowset && id == kPropRowsetUpdate && value.size() == 2) {
                    schema_.updatable = value[0] != 0 || value[1] != 0;
                    updatable_known_ = true;
                }
            }
        }
    }

    void ReadTable(Cursor t) {
        Table table;
        table.ordinal = t.U16();
        std::string original = t.Name();
        table.name = t.Name();
        if (table.name.empty()) table.name = std::move(original);
        t.Skip(2 + 2);  // code page, column count
        std::uint16_t keys = t.U16();
        if (keys > t.Left() / 2) Malformed();
        for (std::uint16_t k = 0; k < keys; ++k) table.keys.push_back(t.U16());
        tables_.push_back(std::move(table));
    }

    void ReadColumn() {
        Cursor d = in_.Token(kColumnDescriptor);
        std::uint32_t present = std::uint32_t{d.U8()} << 16;
        present |= std::uint32_t{d.U8()} << 8;
        present |= d.U8();
        ColumnInfo info;
        d.U16();  // ordinal: the descriptors come in column order
        if (present & kHasName) info.name = d.Name();
        const Table* table = nullptr;
        std::uint16_t table_column = 0;
        if (present & kHasBaseTable) {
            std::uint16_t ordinal = d.U16();
            for (const Table& t : tables_)
                if (t.ordinal == ordinal) table = &t;
        }
        if (present & kHasBaseColumnOrdinal) table_column = d.U16();
        if (present & kHasBaseColumnName) info.base_column = d.Name();
        Column c;
        c.type = d.U16();
        c.max_length = d.U32();
        const std::uint32_t precision = d.U32();
        const auto scale = static_cast<std::int32_t>(d.U32());
        c.flags = d.U32();
        if (present & kHasCatalog) info.base_catalog = d.Name();
        if (present & kHasSchema) info.base_schema = d.Name();
        d.Skip(((present & kHasCollatingSequence) ? 4 : 0) + ((present & kHasComputeMode) ? 4 : 0) +
               ((present & kHasDateTimePrecision) ? 4 : 0) + ((present & kHasDefaultValue) ? 16 : 0));
        if (present & kHasAutoIncrement) info.auto_increment = d.U16() != 0;
        // The rest (case sensitivity, uniqueness, ...) says nothing the rowset keeps but the octet length;
        // the descriptor ends with it and whether the column is the query's.
        const std::string_view visible = d.Last(2);
        c.visible = visible[0] != 0 || visible[1] != 0;
        std::int64_t octets = -1;
        if (present & kHasOctetLength) {
            std::uint32_t n;
            std::memcpy(&n, d.Last(6).data(), 4);
            octets = n;
        }
        if (present & kHasCalculationInfo) in_.Skip(in_.U32());

        info.type = PlatformTypeOf(c.type, c.flags);
        // Child rowsets (chapters) and error values are not part of a flat rowset.
        if (info.type < 0 || (c.flags & kFlagChapter)) Malformed();
        c.fixed = !IsVariable(c.type) || (c.flags & kFlagFixed);
        c.nullable = (c.flags & (kFlagNullable | kFlagMayBeNull)) != 0;
        c.short_length = ShortLength(c.type, c.max_length);
        if (c.type == kVarNumeric && (c.max_length < 3 || c.max_length > 3 + 16)) Malformed();
        info.defined_size = static_cast<std::int32_t>(c.max_length);
        // A size written as the octet length where the column has no maximum (see the format's header).
        if (octets >= 0 && c.max_length == 0xFFFFFFFF && IsVariable(c.type) && !c.fixed)
            info.defined_size = static_cast<std::int32_t>(
                std::min<std::int64_t>(c.type == kStr || c.type == kBytes ? octets : octets / 2, 0x7FFFFFFF));
        info.precision = static_cast<std::uint8_t>(precision > 255 ? 255 : precision);
        info.scale = static_cast<std::uint8_t>(scale < 0 ? 0 : scale > 255 ? 255 : scale);
        info.attributes = static_cast<std::int32_t>(c.flags & 0xFFFF);
        info.key_column = (c.flags & kFlagKey) != 0;
        if (table) {
            info.base_table = table->name;
            for (std::uint16_t k : table->keys) info.key_column |= k == table_column && table_column != 0;
            if (info.key_column) info.attributes |= static_cast<std::int32_t>(kFlagKey);
        }
        schema_.columns.push_back(std::move(info));
        columns_.push_back(c);
    }

    void ReadRows() {
        for (;;) {
            switch (in_.U8()) {
                case kOriginalRow: {
                    OriginalRow(originals_);
                    if (!in_.AtEnd() && in_.Peek() == kChangeRow) {
                        in_.Skip(1);
                        UpdateRow(&originals_);
                        sink_.Row(RowKind::kUpdated, Shown(values_, shown_values_),
                                  Shown(originals_, shown_originals_));
                    } else if (!in_.AtEnd() && in_.Peek() == kDeleteRow) {
                        in_.Skip(1);
                        sink_.Row(RowKind::kDeleted, Shown(originals_, shown_originals_), nullptr);
                    } else {
                        sink_.Row(RowKind::kUnchanged, Shown(originals_, shown_originals_), nullptr);
                    }
                    break;
                }
                case kInsertRow:
                    UpdateRow(nullptr);
                    sink_.Row(RowKind::kInserted, Shown(values_, shown_values_), nullptr);
                    break;
                case kDone:
                    return;
                default:
                    Malformed();
            }
        }
    }

    // The values of the rowset's own columns.
    const Variant* Shown(std::vector<Variant>& all, std::vector<Variant>& shown) {
        if (!compact_) return all.data();
        shown.clear();
        for (std::size_t i = 0; i < all.size(); ++i)
            if (columns_[i].visible) shown.push_back(all[i]);
        return shown.data();
    }

    void OriginalRow(std::vector<Variant>& out) {
        std::string_view map = in_.Take((nullable_ + 7) / 8);
        std::size_t bit = 0;
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            const Column& c = columns_[i];
            if (c.nullable) {
                const bool present = (static_cast<std::uint8_t>(map[bit / 8]) << bit % 8) & 0x80;
                ++bit;
                if (!present) {
                    out[i].AssignNull();
                    continue;
                }
            }
            Value(c, out[i]);
        }
    }

    // The columns a change or an insert sets; the others keep their original value, or are Null.
    void UpdateRow(const std::vector<Variant>* originals) {
        const std::size_t bytes = (columns_.size() + 7) / 8;
        std::string_view update = in_.Take(bytes);
        std::string_view force_null = in_.Take(bytes);
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            const auto mask = static_cast<std::uint8_t>(0x80 >> i % 8);
            if (!(static_cast<std::uint8_t>(update[i / 8]) & mask)) {
                if (originals) {
                    values_[i] = (*originals)[i];
                } else {
                    values_[i].AssignNull();
                }
            } else if (static_cast<std::uint8_t>(force_null[i / 8]) & mask) {
                values_[i].AssignNull();
            } else {
                Value(columns_[i], values_[i]);
            }
        }
    }

    void Value(const Column& c, Variant& out) {
        switch (c.type) {
            case kEmpty:
            case kNull:
                return out.AssignNull();
            case kI2:
                return out.Assign(in_.Get<std::int16_t>());
            case kI4:
                return out.Assign(in_.Get<std::int32_t>());
            case kR4:
                return out.Assign(in_.Get<float>());
            case kR8:
                return out.Assign(in_.Get<double>());
            case kCy:
                return out.Assign(Currency{in_.Get<std::int64_t>()});
            case kDate:
                return out.Assign(Date{in_.Get<double>()});
            case kBool:
                return out.Assign(in_.U16() != 0);
            case kDecimal:
                return DecimalValue(out);
            case kI1:
                return out.Assign(static_cast<std::int16_t>(in_.Get<std::int8_t>()));
            case kUi1:
                return out.Assign(in_.U8());
            case kUi2:
                return out.Assign(static_cast<std::int32_t>(in_.U16()));
            case kUi4:
                return out.Assign(static_cast<std::int64_t>(in_.U32()));
            case kI8:
                return out.Assign(in_.Get<std::int64_t>());
            case kUi8: {
                std::uint64_t v = in_.Get<std::uint64_t>();
                if (v <= static_cast<std::uint64_t>(INT64_MAX))
                    return out.Assign(static_cast<std::int64_t>(v));
                return out.Assign(Decimal{static_cast<__int128>(v), 0});
            }
            case kFileTime: {
                // 100-nanosecond ticks since 1601-01-01, which is 109205 days before the platform's day zero.
                const double ticks = static_cast<double>(in_.Get<std::uint64_t>());
                return out.Assign(Date{ticks / 864e9 - 109205.0});
            }
            case kGuid: {
                std::uint8_t bytes[16];
                std::memcpy(bytes, in_.Take(16).data(), 16);
                return out.AssignString(GuidText(bytes));
            }
            case kNumeric:
            case kVarNumeric:
                return NumericValue(c, out);
            case kDbDate: {
                Timestamp t;
                t.year = in_.Get<std::int16_t>();
                t.month = in_.U16();
                t.day = in_.U16();
                return out.Assign(Moment(t));
            }
            case kDbTime: {
                const std::uint16_t h = in_.U16(), m = in_.U16(), s = in_.U16();
                if (h > 23 || m > 59 || s > 61) Malformed();
                return out.Assign(Date{(h * 3600.0 + m * 60.0 + s) / 86400.0});
            }
            case kDbTimeStamp: {
                Timestamp t;
                t.year = in_.Get<std::int16_t>();
                t.month = in_.U16();
                t.day = in_.U16();
                t.hour = in_.U16();
                t.minute = in_.U16();
                t.second = in_.U16();
                t.nanoseconds = in_.U32();
                if (t.nanoseconds >= 1'000'000'000) Malformed();
                return out.Assign(Moment(t));
            }
            case kBytes: {
                std::string_view b = Counted(c);
                return out.AssignBytes(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
            }
            case kStr: {
                std::string_view b = Counted(c);
                if (wide_narrow_text_) return Wide(Unpadded(c, b, 2), out);
                narrow_.Decode(Unpadded(c, b, 1), text_);
                return out.AssignString(text_);
            }
            default:
                return Wide(Unpadded(c, Counted(c), 2), out);
        }
    }

    static Date Moment(const Timestamp& t) {
        try {
            return DateOf(t);
        } catch (const Error&) {
            Malformed();
        }
    }

    // A variable-length value's bytes: its column's fixed width, or its own length.
    std::string_view Counted(const Column& c) {
        if (c.fixed) {
            std::uint64_t n = c.max_length;
            if (c.type == kWStr || c.type == kBstr) n *= 2;
            if (n > in_.Left()) Malformed();
            return in_.Take(static_cast<std::size_t>(n));
        }
        return in_.Take(c.short_length ? in_.U8() : in_.U32());
    }

    // A fixed-length text without the zero units that pad it to its column's width.
    static std::string_view Unpadded(const Column& c, std::string_view bytes, std::size_t unit) {
        if (!c.fixed) return bytes;
        std::size_t n = bytes.size() / unit * unit;
        while (n >= unit && bytes.substr(n - unit, unit).find_first_not_of('\0') == std::string_view::npos)
            n -= unit;
        return bytes.substr(0, n);
    }

    void Wide(std::string_view bytes, Variant& out) {
        if (bytes.size() % 2) Malformed();
        wide_.resize(bytes.size() / 2);
        std::memcpy(wide_.data(), bytes.data(), bytes.size());
        odbc::AssignUtf8(wide_.data(), wide_.size(), text_);
        out.AssignString(text_);
    }

    void DecimalValue(Variant& out) {
        in_.Skip(2);
        const std::uint8_t scale = in_.U8();
        const bool negative = in_.U8() & 0x80;
        const std::uint32_t hi = in_.U32(), lo = in_.U32(), mid = in_.U32();
        if (scale > Decimal::kMaxScale) Malformed();
        __int128 m = static_cast<__int128>(hi) << 64 | static_cast<__int128>(mid) << 32 | lo;
        out.Assign(Decimal{negative ? -m : m, scale});
    }

    // precision, scale, sign (1 for positive), then the magnitude's bytes, least significant first.
    void NumericValue(const Column& c, Variant& out) {
        in_.U8();  // precision
        const auto scale = static_cast<std::int8_t>(in_.U8());
        const bool negative = in_.U8() == 0;
        std::string_view magnitude = in_.Take(c.type == kNumeric ? 16 : c.max_length - 3);
        unsigned __int128 m = 0;
        for (std::size_t i = magnitude.size(); i-- > 0;) m = m << 8 | static_cast<std::uint8_t>(magnitude[i]);
        // A Decimal holds 96 bits and 28 places; anything else is approximated as the drivers do.
        if (m >> 96 == 0 && scale >= 0 && scale <= Decimal::kMaxScale) {
            const auto s = static_cast<__int128>(m);
            return out.Assign(Decimal{negative ? -s : s, static_cast<std::uint8_t>(scale)});
        }
        const double d = static_cast<double>(m) / std::pow(10.0, scale);
        out.Assign(negative ? -d : d);
    }

    Cursor in_;
    RowsetSink& sink_;
    Schema schema_;
    bool updatable_known_ = false;
    bool wide_narrow_text_ = false;
    std::vector<Table> tables_;
    std::vector<Column> columns_;
    std::size_t nullable_ = 0;
    bool compact_ = false;
    std::vector<Variant> values_, originals_, shown_values_, shown_originals_;
    std::u16string wide_;
    std::string text_;
    NarrowText narrow_;
};

}  // namespace

void ReadAdtg(std::string_view image, RowsetSink& sink) { AdtgReader(image, sink).Read(); }

}  // namespace korado::dataaccess::persist
