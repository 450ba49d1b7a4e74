// The XML rowset writer: the schema first, then each row as it arrives, so that saving a large result keeps
// only one row's text in memory.
//
// The text is the platform's own: single-quoted attributes, one z:row per row with one attribute per
// column that is not NULL (an empty text is written, as ''), pending changes in rs:insert, rs:update and
// rs:delete. Values are written so that reading them back gives the same value exactly: numbers in their
// shortest round-trip form, decimals with all their scale's digits, dates with as many digits of the second
// as the value needs.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <unordered_set>
#include <vector>

#include "dataaccess/persist_xml_format.h"
#include "dataaccess/persistence.h"
#include "dataaccess/value_text.h"
#include "korado/platform/ado_enums.h"
#include "korado/runtime/convert.h"

namespace korado::dataaccess::persist {
namespace {

// Bytes of text gathered before they go to the stream.
constexpr std::size_t kFlushAt = 1 << 16;

// Attribute text between single quotes. Tab, line feed and carriage return are written as references,
// since a reader turns them into blanks otherwise. The other control characters have no place in an XML
// 1.0 document at all; they are written as references too (as XML 1.1 allows), so that the text comes back
// exactly here, rather than being dropped or replaced without a word.
void AppendEscaped(std::string& out, std::string_view text) {
    static constexpr auto kSpecial = [] {
        std::array<bool, 256> special{};
        for (int c = 0; c < 0x20; ++c) special[static_cast<std::size_t>(c)] = true;
        for (unsigned char c : std::string_view("&<>'\"")) special[c] = true;
        return special;
    }();
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!kSpecial[c]) continue;
        out.append(text, run, i - run);
        run = i + 1;
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '"':
                out += "&quot;";
                break;
            default: {
                char ref[8];
                const int n = std::snprintf(ref, sizeof ref, "&#x%X;", c);
                out.append(ref, static_cast<std::size_t>(n));
            }
        }
    }
    out.append(text, run);
}

template <class Int>
void AppendInteger(std::string& out, Int v) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, end);
}

// The shortest text that reads back as the same number, with the exponent as the platform writes it.
template <class Float>
void AppendFloating(std::string& out, Float v) {
    if (std::isnan(v)) {
        out += "NaN";
    } else if (std::isinf(v)) {
        out += v < 0 ? "-INF" : "INF";
    } else {
        char buf[40];
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
        for (char* p = buf; p != end; ++p)
            if (*p == 'e') *p = 'E';
        out.append(buf, end);
    }
}

// Every digit of the scale, trailing zeros included: 12.50 reads back as 12.50, not 12.5.
void AppendDecimal(std::string& out, const Decimal& d) {
    const bool negative = d.mantissa < 0;
    unsigned __int128 m =
        negative ? -static_cast<unsigned __int128>(d.mantissa) : static_cast<unsigned __int128>(d.mantissa);
    char digits[48];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + static_cast<int>(m % 10));
        m /= 10;
    } while (m != 0 || n <= d.scale);
    if (negative) out += '-';
    for (int i = n - 1; i >= 0; --i) {
        out += digits[i];
        if (i == d.scale && i != 0) out += '.';
    }
}

void AppendHex(std::string& out, const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const std::size_t at = out.size();
    out.resize(at + bytes.size() * 2);
    char* p = out.data() + at;
    for (std::uint8_t b : bytes) {
        *p++ = kDigits[b >> 4];
        *p++ = kDigits[b & 0xF];
    }
}

// `value` in exactly `width` digits.
char* PutDigits(char* p, long long value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) p[i] = static_cast<char>('0' + value % 10);
    return p + width;
}

// yyyy-mm-ddThh:mm:ss, with the fewest digits of the second that read back as the same date; the day alone
// in a date column and the time alone in a time column when the value is no more than that. The time of a
// date before 1899-12-30 counts forward from its midnight, as the platform's dates do.
void AppendDate(std::string& out, Date d, std::int32_t type) {
    const double whole = std::trunc(d.days);
    const double seconds = std::fabs(d.days - whole) * 86400.0;
    const DateParts day = PartsFromDate(Date{whole});
    char buf[40];
    char* p = buf;
    const bool time_only = type == ado::adDBTime && whole == 0 && d.days >= 0;
    if (!time_only) {
        p = PutDigits(p, day.year, 4);
        *p++ = '-';
        p = PutDigits(p, day.month, 2);
        *p++ = '-';
        p = PutDigits(p, day.day, 2);
        if (type == ado::adDBDate && seconds == 0) {
            out.append(buf, p);
            return;
        }
        *p++ = 'T';
    }
    char* const time = p;
    long long scale = 1;
    for (int digits = 0; digits <= 9; ++digits, scale *= 10) {
        const long long day_units = 86400LL * scale;
        const long long units = std::min(std::llround(seconds * static_cast<double>(scale)), day_units - 1);
        const long long s = units / scale;
        p = PutDigits(time, s / 3600, 2);
        *p++ = ':';
        p = PutDigits(p, s / 60 % 60, 2);
        *p++ = ':';
        p = PutDigits(p, s % 60, 2);
        if (digits > 0) {
            *p++ = '.';
            p = PutDigits(p, units % scale, digits);
        }
        const std::optional<Date> back =
            ParseIsoDate(std::string_view(buf, static_cast<std::size_t>(p - buf)));
        if (back && back->days == d.days) break;
    }
    out.append(buf, p);
}

// The value's text for a column of `type`; false for NULL, which a row leaves out.
bool AppendValue(std::string& out, const Variant& v, std::int32_t type) {
    switch (v.Type()) {
        case VarType::Empty:
        case VarType::Null:
            return false;
        case VarType::Boolean:
            out += *v.get_if<bool>() ? "True" : "False";
            break;
        case VarType::Byte:
            AppendInteger(out, *v.get_if<std::uint8_t>());
            break;
        case VarType::Integer:
            AppendInteger(out, *v.get_if<std::int16_t>());
            break;
        case VarType::Long:
            AppendInteger(out, *v.get_if<std::int32_t>());
            break;
        case VarType::LongLong:
            AppendInteger(out, *v.get_if<std::int64_t>());
            break;
        case VarType::Single:
            AppendFloating(out, *v.get_if<float>());
            break;
        case VarType::Double:
            AppendFloating(out, *v.get_if<double>());
            break;
        case VarType::Currency:
            out += FormatCurrency(*v.get_if<Currency>());
            break;
        case VarType::Decimal:
            AppendDecimal(out, *v.get_if<Decimal>());
            break;
        case VarType::Date:
            AppendDate(out, *v.get_if<Date>(), type);
            break;
        case VarType::String:
            AppendEscaped(out, *v.get_if<std::string>());
            break;
        case VarType::ByteArray:
            AppendHex(out, *v.get_if<Bytes>());
            break;
        default:
            AppendEscaped(out, CStr(v));
            break;
    }
    return true;
}

// Column names as row attributes: the name itself where it is a valid attribute name and not taken by an
// earlier column, otherwise c<ordinal> (the real name then goes in rs:name).
std::vector<std::string> AttributeNames(const std::vector<ColumnInfo>& columns) {
    std::vector<std::string> names(columns.size());
    std::unordered_set<std::string> used;
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (xml::IsAttributeName(columns[i].name) && used.insert(columns[i].name).second)
            names[i] = columns[i].name;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (!names[i].empty()) continue;
        std::string name = std::to_string(i);
        name.insert(0, 1, 'c');
        while (!used.insert(name).second) name += '_';
        names[i] = std::move(name);
    }
    return names;
}

class XmlWriter final : public RowsetSink {
  public:
    explicit XmlWriter(std::ostream& out) : out_(out) {}

    void Begin(const Schema& schema) override {
        names_ = AttributeNames(schema.columns);
        types_.clear();
        for (const ColumnInfo& c : schema.columns) types_.push_back(c.type);
        text_ +=
            "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'\n"
            "\txmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'\n"
            "\txmlns:rs='urn:schemas-microsoft-com:rowset'\n"
            "\txmlns:z='#RowsetSchema'>\n"
            "<s:Schema id='RowsetSchema'>\n"
            "\t<s:ElementType name='row' content='eltOnly'";
        if (schema.updatable) text_ += " rs:updatable='true'";
        text_ += ">\n";
        for (std::size_t i = 0; i < schema.columns.size(); ++i) WriteColumn(schema.columns[i], i);
        text_ +=
            "\t\t<s:extends type='rs:rowbase'/>\n"
            "\t</s:ElementType>\n"
            "</s:Schema>\n"
            "<rs:data>\n";
        Flush(false);
    }

    void Row(RowKind kind, const Variant* values, const Variant* originals) override {
        const Group group = kind == RowKind::kInserted  ? Group::kInsert
                            : kind == RowKind::kDeleted ? Group::kDelete
                                                        : Group::kNone;
        if (group != group_) {
            CloseGroup();
            if (group == Group::kInsert) text_ += "\t<rs:insert>\n";
            if (group == Group::kDelete) text_ += "\t<rs:delete>\n";
            group_ = group;
        }
        if (kind == RowKind::kUpdated) {
            text_ += "\t<rs:update>\n\t\t<rs:original>\n";
            WriteRow(originals ? originals : values, "\t\t\t");
            text_ += "\t\t</rs:original>\n";
            WriteChanges(values, originals ? originals : values);
            text_ += "\t</rs:update>\n";
        } else {
            WriteRow(values, group == Group::kNone ? "\t" : "\t\t");
        }
        Flush(false);
    }

    void End() override {
        CloseGroup();
        text_ += "</rs:data>\n</xml>\n";
        Flush(true);
    }

  private:
    enum class Group { kNone, kInsert, kDelete };

    void Attribute(std::string_view name, std::string_view value) {
        text_ += ' ';
        text_ += name;
        text_ += "='";
        AppendEscaped(text_, value);
        text_ += '\'';
    }
    void Attribute(std::string_view name, std::int64_t value) {
        text_ += ' ';
        text_ += name;
        text_ += "='";
        AppendInteger(text_, value);
        text_ += '\'';
    }
    void Flags(const ColumnInfo& c, bool on_datatype) {
        for (const xml::FlagAttribute& f : xml::FlagAttributes()) {
            if (f.on_datatype == on_datatype && (c.attributes & f.bit)) {
                text_ += " rs:";
                text_ += f.name;
                text_ += "='true'";
            }
        }
    }

    void WriteColumn(const ColumnInfo& c, std::size_t index) {
        const xml::TypeDeclaration& type = xml::DeclarationOf(c.type);
        text_ += "\t\t<s:AttributeType";
        Attribute("name", names_[index]);
        if (names_[index] != c.name) Attribute("rs:name", c.name);
        Attribute("rs:number", static_cast<std::int64_t>(index + 1));
        Flags(c, false);
        if (!c.base_catalog.empty()) Attribute("rs:basecatalog", c.base_catalog);
        if (!c.base_schema.empty()) Attribute("rs:baseschema", c.base_schema);
        if (!c.base_table.empty()) Attribute("rs:basetable", c.base_table);
        if (!c.base_column.empty()) Attribute("rs:basecolumn", c.base_column);
        if (c.key_column || (c.attributes & ado::adFldKeyColumn)) text_ += " rs:keycolumn='true'";
        if (c.auto_increment) text_ += " rs:autoincrement='true'";
        text_ += ">\n\t\t\t<s:datatype";
        Attribute("dt:type", type.dt_type);
        if (!type.db_type.empty()) Attribute("rs:dbtype", type.db_type);
        // The platform's largest length stands for "no limit".
        Attribute("dt:maxLength", c.defined_size < 0 ? std::int64_t{2147483647} : c.defined_size);
        if (c.scale != 0) Attribute("rs:scale", c.scale);
        if (c.precision != 0 || type.precision != 0) Attribute("rs:precision", c.precision);
        Flags(c, true);
        if (!(c.attributes & ado::adFldMayBeNull)) text_ += " rs:maybenull='false'";
        text_ += "/>\n\t\t</s:AttributeType>\n";
    }

    void WriteRow(const Variant* values, const char* indent) {
        text_ += indent;
        text_ += "<z:row";
        for (std::size_t i = 0; i < names_.size(); ++i) AppendColumn(i, values[i]);
        text_ += "/>\n";
    }

    void AppendColumn(std::size_t i, const Variant& value) {
        const std::size_t mark = text_.size();
        text_ += ' ';
        text_ += names_[i];
        text_ += "='";
        if (AppendValue(text_, value, types_[i])) {
            text_ += '\'';
        } else {
            text_.resize(mark);
        }
    }

    // The changed row holds the columns whose value changed. A column set to NULL cannot say so by being
    // left out (that means "unchanged"): it is named, with an empty value, in an rs:forcenull child.
    void WriteChanges(const Variant* values, const Variant* originals) {
        text_ += "\t\t<z:row";
        bool nulled = false;
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (values[i] == originals[i]) continue;
            if (values[i].IsNull() || values[i].IsEmpty()) {
                nulled = nulled || !(originals[i].IsNull() || originals[i].IsEmpty());
                continue;
            }
            AppendColumn(i, values[i]);
        }
        if (!nulled) {
            text_ += "/>\n";
            return;
        }
        text_ += "><rs:forcenull";
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if ((values[i].IsNull() || values[i].IsEmpty()) &&
                !(originals[i].IsNull() || originals[i].IsEmpty())) {
                text_ += ' ';
                text_ += names_[i];
                text_ += "=''";
            }
        }
        text_ += "/></z:row>\n";
    }

    void CloseGroup() {
        if (group_ == Group::kInsert) text_ += "\t</rs:insert>\n";
        if (group_ == Group::kDelete) text_ += "\t</rs:delete>\n";
        group_ = Group::kNone;
    }

    void Flush(bool all) {
        if (!all && text_.size() < kFlushAt) return;
        out_.write(text_.data(), static_cast<std::streamsize>(text_.size()));
        text_.clear();
    }

    std::ostream& out_;
    std::string text_;
    std::vector<std::string> names_;
    std::vector<std::int32_t> types_;
    Group group_ = Group::kNone;
};

}  // namespace

std::unique_ptr<RowsetSink> MakeXmlWriter(std::ostream& out) { return std::make_unique<XmlWriter>(out); }

}  // namespace korado::dataaccess::persist
