// Writes a rowset as an Advanced Data TableGram (see persist_adtg_format.h for the layout).
//
// The metadata goes first, as the reader of the original platform needs it: one result descriptor, the
// rowset's context (whether its changes may be written back), a table descriptor per base table (its name
// and key columns), a column descriptor per column. Rows follow as they arrive and are handed to the stream
// in blocks, so that memory does not grow with the row count: an unchanged row is its values; a deleted
// row its values and a delete mark; a changed row its original values and then the columns that changed;
// an inserted row the columns it sets. What the writer does so that any value the recordset holds fits the
// file is in persist_adtg_format.h.
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "dataaccess/persist_adtg_format.h"
#include "dataaccess/persistence.h"
#include "dataaccess/providers/odbc/odbc_text.h"
#include "korado/platform/ado_enums.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/error.h"

namespace korado::dataaccess::persist {
namespace {

using namespace adtg;

constexpr std::size_t kFlushAt = 64 * 1024;
// Fixed-length text or bytes wider than this are written variable-length: every value would be padded
// to the width, and a declared size need not be one the database holds its values to.
constexpr std::int32_t kWidestFixed = 8000;

[[noreturn]] void Refuse(std::string description) {
    Raise(hr::E_FAIL, kPersistenceProvider, std::move(description));
}

class AdtgWriter final : public RowsetSink {
  public:
    explicit AdtgWriter(std::ostream& out) : out_(out) {}

    void Begin(const Schema& schema) override {
        if (schema.columns.empty() || schema.columns.size() > 0xFFFF) Refuse(kNotARecordset);
        PlanColumns(schema);
        WriteHeader();
        WriteResultDescriptor();
        WriteContext(schema.updatable);
        for (std::size_t t = 0; t < tables_.size(); ++t) WriteTable(schema, t);
        for (std::size_t c = 0; c < columns_.size(); ++c) WriteColumn(schema.columns[c], c);
        Flush();
    }

    void Row(RowKind kind, const Variant* values, const Variant* originals) override {
        switch (kind) {
            case RowKind::kUnchanged:
                OriginalRow(values);
                break;
            case RowKind::kDeleted:
                OriginalRow(values);
                Byte(kDeleteRow);
                break;
            case RowKind::kUpdated:
                OriginalRow(originals);
                Byte(kChangeRow);
                UpdateRow(values, originals);
                break;
            case RowKind::kInserted:
                Byte(kInsertRow);
                UpdateRow(values, nullptr);
                break;
        }
        if (buf_.size() >= kFlushAt) Flush();
    }

    void End() override {
        Byte(kDone);
        Flush();
        out_.flush();
    }

  private:
    struct Column {
        std::string name;
        std::uint16_t type = kWStr;
        std::uint32_t max_length = 0;
        std::uint32_t flags = 0;
        std::uint8_t precision = 0;
        bool fixed = false;              // text or bytes filling the column's width
        std::int64_t octets = -1;        // the column's size in bytes, written where the maximum is not
        std::size_t table = 0;           // 1-based; 0 for a column of no base table
        std::uint16_t table_column = 0;  // ordinal among its table's columns
    };
    struct Table {
        std::string catalog, schema, name;
        std::uint16_t columns = 0;
        std::vector<std::uint16_t> keys;
    };

    void PlanColumns(const Schema& schema) {
        columns_.clear();
        tables_.clear();
        for (const ColumnInfo& info : schema.columns) {
            Column c;
            c.name = info.name;
            c.type = WireTypeOf(info.type);
            c.precision = info.precision;
            std::uint32_t flags = static_cast<std::uint32_t>(info.attributes) & 0xFFFF & ~kFlagChapter;
            if (flags & kFlagWrite) flags &= ~kFlagWriteUnknown;
            // Every column has its presence bit: a column said to be NOT NULL may hold a Null all the same
            // (the nullable side of an outer join), which is what "maybe null" says.
            flags |= kFlagMayBeNull;
            if (info.key_column) flags |= kFlagKey;
            if (info.type == ado::adLongVarBinary || info.type == ado::adLongVarChar ||
                info.type == ado::adLongVarWChar)
                flags |= kFlagLong;
            flags &= ~kFlagFixed;
            // Fixed-length binary is written variable-length: a padded value could not be told from one that
            // ends in zero bytes, and a driver may call a column fixed whose values are not (the SQLite
            // driver's BLOB is BINARY(255)), which padding or cutting would spoil.
            const bool fixed_type = info.type == ado::adChar || info.type == ado::adWChar;
            if (std::uint32_t size = FixedSize(c.type)) {
                c.max_length = size;
                flags |= kFlagFixed;
            } else if (fixed_type && info.defined_size > 0 && info.defined_size <= kWidestFixed) {
                c.max_length = static_cast<std::uint32_t>(info.defined_size);
                c.fixed = true;
                flags |= kFlagFixed;
            } else if (info.defined_size < 0) {
                c.max_length = 0xFFFFFFFF;
            } else if (ShortLength(c.type, static_cast<std::uint32_t>(info.defined_size))) {
                // One-byte lengths would bind every value to 255 bytes, which a value longer than its
                // column's size, or text of more bytes than characters, exceeds: no maximum, and the size
                // as the octet length.
                c.max_length = 0xFFFFFFFF;
                c.octets = std::int64_t{info.defined_size} * (c.type == kStr || c.type == kBytes ? 1 : 2);
            } else {
                c.max_length = static_cast<std::uint32_t>(info.defined_size);
            }
            c.flags = flags;
            if (!info.base_table.empty()) {
                std::size_t t = 0;
                while (t < tables_.size() &&
                       !(tables_[t].name == info.base_table && tables_[t].schema == info.base_schema &&
                         tables_[t].catalog == info.base_catalog))
                    ++t;
                if (t == tables_.size())
                    tables_.push_back({info.base_catalog, info.base_schema, info.base_table});
                c.table = t + 1;
                c.table_column = ++tables_[t].columns;
                if (info.key_column) tables_[t].keys.push_back(c.table_column);
            }
            columns_.push_back(std::move(c));
        }
        if (tables_.size() > 0xFFFF) Refuse(kNotARecordset);
        presence_bytes_ = (columns_.size() + 7) / 8;
    }

    void WriteHeader() {
        Byte(kHeader);
        Byte(7);
        Raw("TG!", 3);
        U16(0);   // version
        Byte(0);  // little-endian
        Byte(0);  // narrow text as narrow: the original's reader takes no other (all text here is wide)
        std::size_t at = Open(kHandlerOptions);
        Raw(kRecordsetGuid, 16);
        Byte(1);  // only the updated columns of a changed row are sent
        U16(0);   // source URL, update URL, handler name: none
        U16(0);
        U16(0);
        U16(1);  // rows may be read at once
        Close(at);
    }

    void WriteResultDescriptor() {
        std::size_t computed = 0;
        for (const Column& c : columns_) computed += c.table == 0;
        std::size_t at = Open(kResultDescriptor);
        Raw(kResultGuid, 16);
        Byte(0);                                           // reserved
        Byte(0);                                           // a snapshot
        Byte(0);                                           // not normalized
        U16(static_cast<std::uint16_t>(columns_.size()));  // visible
        U16(static_cast<std::uint16_t>(columns_.size()));  // all
        U16(static_cast<std::uint16_t>(computed));
        U16(static_cast<std::uint16_t>(tables_.size()));
        U16(0);  // order-by columns
        U32(0);  // row count: not known while the rows stream
        Close(at);
    }

    void WriteContext(bool updatable) {
        std::size_t at = Open(kResultContext);
        U16(1);
        Raw(kRowsetPropertySet, 16);
        U16(2);
        for (std::uint32_t id : {kPropRowsetChange, kPropRowsetUpdate}) {
            U32(id);
            U16(2);
            U16(updatable ? 0xFFFF : 0);
        }
        Close(at);
    }

    void WriteTable(const Schema& schema, std::size_t t) {
        const Table& table = tables_[t];
        std::size_t at = Open(kTableDescriptor);
        U16(static_cast<std::uint16_t>(t + 1));
        Name(table.name);  // the table read from
        Name(table.name);  // the table changes go to
        U16(0);            // code page: reserved
        U16(table.columns);
        U16(static_cast<std::uint16_t>(table.keys.size()));
        for (std::uint16_t k : table.keys) U16(k);
        Close(at);
    }

    void WriteColumn(const ColumnInfo& info, std::size_t i) {
        const Column& c = columns_[i];
        std::uint32_t present = kHasName | kHasAutoIncrement;
        if (c.table) present |= kHasBaseTable | kHasBaseColumnOrdinal | kHasBaseColumnName;
        if (c.table && !info.base_catalog.empty()) present |= kHasCatalog;
        if (c.table && !info.base_schema.empty()) present |= kHasSchema;
        if (c.octets >= 0) present |= kHasOctetLength;
        std::size_t at = Open(kColumnDescriptor);
        Byte(static_cast<std::uint8_t>(present >> 16));
        Byte(static_cast<std::uint8_t>(present >> 8));
        Byte(static_cast<std::uint8_t>(present));
        U16(static_cast<std::uint16_t>(i + 1));
        Name(c.name);
        if (c.table) {
            U16(static_cast<std::uint16_t>(c.table));
            U16(c.table_column);
            Name(info.base_column.empty() ? c.name : info.base_column);
        }
        U16(c.type);
        U32(c.max_length);
        U32(c.precision);
        U32(info.scale);
        U32(c.flags);
        if (present & kHasCatalog) Name(info.base_catalog);
        if (present & kHasSchema) Name(info.base_schema);
        U16(info.auto_increment ? 0xFFFF : 0);
        if (c.octets >= 0) U32(static_cast<std::uint32_t>(c.octets));
        U16(0xFFFF);  // visible
        Close(at);
    }

    // A row as read: the presence map (every column has its bit), then each present value.
    void OriginalRow(const Variant* values) {
        Byte(kOriginalRow);
        std::size_t map = buf_.size();
        buf_.append(presence_bytes_, '\0');
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            if (values[i].IsNull() || values[i].IsEmpty()) continue;
            buf_[map + i / 8] = static_cast<char>(buf_[map + i / 8] | 0x80 >> i % 8);
            Value(columns_[i], values[i]);
        }
    }

    // A changed or inserted row: the columns it sets, those set to Null marked as such. A changed row names
    // the columns whose value differs from the original; an inserted row those that are not Null.
    void UpdateRow(const Variant* values, const Variant* originals) {
        const std::size_t bytes = (columns_.size() + 7) / 8;
        std::size_t update = buf_.size();
        buf_.append(2 * bytes, '\0');
        std::size_t force_null = update + bytes;
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            const bool null = values[i].IsNull() || values[i].IsEmpty();
            const bool changed = originals ? !(values[i] == originals[i]) : !null;
            if (!changed) continue;
            const char mask = static_cast<char>(0x80 >> i % 8);
            buf_[update + i / 8] = static_cast<char>(buf_[update + i / 8] | mask);
            if (null) buf_[force_null + i / 8] = static_cast<char>(buf_[force_null + i / 8] | mask);
        }
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            const char mask = static_cast<char>(0x80 >> i % 8);
            if ((buf_[update + i / 8] & mask) && !(buf_[force_null + i / 8] & mask))
                Value(columns_[i], values[i]);
        }
    }

    void Value(const Column& c, const Variant& v) {
        switch (c.type) {
            case kI2:
                return U16(static_cast<std::uint16_t>(CInt(v)));
            case kI4:
                return U32(static_cast<std::uint32_t>(CLng(v)));
            case kR4:
                return Fixed(CSng(v));
            case kR8:
                return Fixed(CDbl(v));
            case kCy:
                return Fixed(CCur(v).scaled);
            case kDate:
                return Fixed(CDate(v).days);
            case kBool:
                return U16(CBool(v) ? 0xFFFF : 0);
            case kDecimal:
                return DecimalValue(CDec(v));
            case kI1:
                return Byte(static_cast<std::uint8_t>(InRange(CLngLng(v), -128, 127)));
            case kUi1:
                return Byte(CByte(v));
            case kUi2:
                return U16(static_cast<std::uint16_t>(InRange(CLngLng(v), 0, 0xFFFF)));
            case kUi4:
                return U32(static_cast<std::uint32_t>(InRange(CLngLng(v), 0, 0xFFFFFFFFLL)));
            case kI8:
                return Fixed(CLngLng(v));
            case kUi8:
                return Fixed(Unsigned64(v));
            case kGuid:
                return GuidValue(c, v);
            case kBytes:
                return BytesValue(c, v);
            case kStr:
                return NarrowValue(c, v);
            case kNumeric:
            case kVarNumeric:
                return NumericValue(c, v);
            case kDbDate: {
                Timestamp t = TimestampOf(Date{std::trunc(CDate(v).days)});
                U16(static_cast<std::uint16_t>(t.year));
                U16(t.month);
                return U16(t.day);
            }
            case kDbTime: {
                DateParts p = PartsFromDate(CDate(v));
                U16(static_cast<std::uint16_t>(p.hour));
                U16(static_cast<std::uint16_t>(p.minute));
                return U16(static_cast<std::uint16_t>(p.second));
            }
            case kDbTimeStamp: {
                Timestamp t = TimestampOf(CDate(v));
                for (std::uint16_t part :
                     {static_cast<std::uint16_t>(t.year), t.month, t.day, t.hour, t.minute, t.second})
                    U16(part);
                return U32(t.nanoseconds);
            }
            default:
                return TextValue(c, v);
        }
    }

    static std::int64_t InRange(std::int64_t n, std::int64_t low, std::int64_t high) {
        if (n < low || n > high) RaiseRuntime(rt::Overflow);
        return n;
    }

    static std::uint64_t Unsigned64(const Variant& v) {
        if (const Decimal* d = v.get_if<Decimal>()) {
            __int128 m = d->mantissa;
            for (int s = 0; s < d->scale; ++s) m /= 10;
            if (m < 0 || m > static_cast<__int128>(std::numeric_limits<std::uint64_t>::max()))
                RaiseRuntime(rt::Overflow);
            return static_cast<std::uint64_t>(m);
        }
        return static_cast<std::uint64_t>(InRange(CLngLng(v), 0, std::numeric_limits<std::int64_t>::max()));
    }

    void DecimalValue(const Decimal& d) {
        const bool negative = d.mantissa < 0;
        const auto m = static_cast<unsigned __int128>(negative ? -d.mantissa : d.mantissa);
        U16(0);
        Byte(d.scale);
        Byte(negative ? 0x80 : 0);
        U32(static_cast<std::uint32_t>(m >> 64));
        U32(static_cast<std::uint32_t>(m));
        U32(static_cast<std::uint32_t>(m >> 32));
    }

    // precision, scale, sign (1 for positive), 16 bytes of magnitude.
    void NumericValue(const Column& c, const Variant& v) {
        unsigned __int128 m = 0;
        std::uint8_t scale = 0;
        bool negative = false;
        if (v.get_if<double>() || v.get_if<float>()) {
            // A value too large for a Decimal (a driver's fallback) keeps its whole digits.
            const double d = CDbl(v);
            if (!std::isfinite(d) || std::fabs(d) >= 3.4e38) RaiseRuntime(rt::Overflow);
            if (std::fabs(d) >= 7.9e28) {
                negative = d < 0;
                m = static_cast<unsigned __int128>(std::fabs(d));
                return NumericBytes(c, m, 0, negative);
            }
        }
        const Decimal d = CDec(v);
        negative = d.mantissa < 0;
        m = static_cast<unsigned __int128>(negative ? -d.mantissa : d.mantissa);
        scale = d.scale;
        NumericBytes(c, m, scale, negative);
    }

    void NumericBytes(const Column& c, unsigned __int128 m, std::uint8_t scale, bool negative) {
        Byte(c.precision ? c.precision : 38);
        Byte(scale);
        Byte(negative ? 0 : 1);
        Fixed(m);
    }

    void GuidValue(const Column& c, const Variant& v) {
        std::uint8_t bytes[16];
        const std::string* text = v.get_if<std::string>();
        const Bytes* raw = v.get_if<Bytes>();
        if (raw && raw->size() == 16) {
            Raw(raw->data(), 16);
        } else if (text && GuidBytes(*text, bytes)) {
            Raw(bytes, 16);
        } else {
            RaiseRuntime(rt::TypeMismatch);
        }
    }

    void BytesValue(const Column& c, const Variant& v) {
        if (const Bytes* b = v.get_if<Bytes>()) return Counted(c, b->data(), b->size());
        if (const std::string* s = v.get_if<std::string>()) return Counted(c, s->data(), s->size());
        RaiseRuntime(rt::TypeMismatch);
    }

    void NarrowValue(const Column& c, const Variant& v) {
        const std::string* s = v.get_if<std::string>();
        narrow_.Encode(s ? std::string_view(*s) : std::string_view(text_ = CStr(v)), bytes_);
        if (c.fixed) return Padded(c, bytes_.data(), bytes_.size(), c.max_length);
        Counted(c, bytes_.data(), bytes_.size());
    }

    void TextValue(const Column& c, const Variant& v) {
        wide_.clear();
        if (const std::string* s = v.get_if<std::string>()) {
            odbc::AppendUtf16(*s, wide_);
        } else {
            odbc::AppendUtf16(CStr(v), wide_);
        }
        if (c.fixed) return Padded(c, wide_.data(), wide_.size() * 2, std::size_t{c.max_length} * 2);
        Counted(c, wide_.data(), wide_.size() * 2);
    }

    // A fixed-length value: its bytes padded with zero bytes to the column's width. A value wider than its
    // column (SQLite does not hold CHAR(n) to n; narrow text kept as UTF-8 may need more bytes than
    // characters) fails the save rather than reach the file cut.
    void Padded(const Column& c, const void* data, std::size_t size, std::size_t width) {
        if (size > width)
            Refuse("The value of field '" + c.name + "' is wider than its fixed-length column and cannot be saved "
                   "in this format.");
        Raw(data, size);
        buf_.append(width - size, '\0');
    }

    void Counted(const Column& c, const void* data, std::size_t size) {
        if (c.fixed) return Padded(c, data, size, c.max_length);
        // No column here has one-byte lengths (see PlanColumns).
        if (size > 0x7FFFFFFF) Refuse("The value of field '" + c.name + "' is too long to be saved.");
        U32(static_cast<std::uint32_t>(size));
        Raw(data, size);
    }

    // ---- bytes -----------------------------------------------------------------------------------------
    void Byte(std::uint8_t b) { buf_ += static_cast<char>(b); }
    void U16(std::uint16_t v) { Fixed(v); }
    void U32(std::uint32_t v) { Fixed(v); }
    template <class T>
    void Fixed(T v) {
        Raw(&v, sizeof v);
    }
    void Raw(const void* p, std::size_t n) { buf_.append(static_cast<const char*>(p), n); }

    // A counted name: its length in UTF-16 units, then the units.
    void Name(std::string_view utf8) {
        wide_.clear();
        odbc::AppendUtf16(utf8, wide_);
        if (wide_.size() > 0xFFFF)
            Refuse("The name '" + std::string(utf8.substr(0, 64)) + "...' is too long.");
        U16(static_cast<std::uint16_t>(wide_.size()));
        Raw(wide_.data(), wide_.size() * 2);
    }

    // A token whose size (the bytes after it) is written when it is closed.
    std::size_t Open(std::uint8_t token) {
        Byte(token);
        U16(0);
        return buf_.size();
    }
    void Close(std::size_t at) {
        const std::size_t size = buf_.size() - at;
        if (size > 0xFFFF) Refuse("The recordset's description is too large to be saved.");
        const auto s = static_cast<std::uint16_t>(size);
        std::memcpy(buf_.data() + at - 2, &s, 2);
    }

    void Flush() {
        out_.write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
        buf_.clear();
    }

    std::ostream& out_;
    std::string buf_;
    std::u16string wide_;
    std::string bytes_, text_;
    NarrowText narrow_;
    std::vector<Column> columns_;
    std::vector<Table> tables_;
    std::size_t presence_bytes_ = 0;
};

}  // namespace

std::unique_ptr<RowsetSink> MakeAdtgWriter(std::ostream& out) { return std::make_unique<AdtgWriter>(out); }

}  // namespace korado::dataaccess::persist
