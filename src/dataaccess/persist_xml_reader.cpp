// The XML rowset reader: parses the whole image with pugixml, then walks the schema and the rows and hands
// them to the sink.
//
// Names are matched by namespace URI, whatever prefixes a file binds: the namespaces are resolved here, as
// the parser does not. Attribute values are taken raw and their references decoded here, so that a value
// keeps every character it was written with (pugixml would end a value at a decoded NUL).
//
// Hostile files: a document type declaration is refused before parsing (a rowset has none, and an entity
// bomb needs one); the walk visits only the few levels the format has, never recursing into deeper
// markup; a fixed-length column may not declare more bytes than the image holds, for a sink that pads
// values to their column's length.
#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <pugixml.hpp>

#include "dataaccess/persist_xml_format.h"
#include "dataaccess/persistence.h"
#include "dataaccess/type_kinds.h"
#include "dataaccess/value_text.h"
#include "korado/platform/ado_enums.h"

namespace korado::dataaccess::persist {
namespace {

[[noreturn]] void Fail() {
    throw ProviderError({Diagnostic{hr::E_FAIL, kPersistenceProvider, kBadXml, 0, {}}});
}

// The largest length a fixed-length column may declare whatever the image's size: the longest fixed
// types of the databases here stay below it.
constexpr std::int64_t kFixedLengthAlways = 8000;

bool SameText(std::string_view a, std::string_view b) noexcept {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

std::string_view Trimmed(std::string_view s) noexcept {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// An attribute's raw text with its references decoded; `scratch` holds the result when there are any.
// A reference the document could not have meant (an unknown entity, a number beyond Unicode) is malformed.
std::string_view Decoded(std::string_view raw, std::string& scratch) {
    std::size_t amp = raw.find('&');
    if (amp == std::string_view::npos) return raw;
    scratch.assign(raw, 0, amp);
    while (amp != std::string_view::npos) {
        const std::size_t semi = raw.find(';', amp);
        if (semi == std::string_view::npos) Fail();
        const std::string_view ref = raw.substr(amp + 1, semi - amp - 1);
        if (ref == "amp") {
            scratch += '&';
        } else if (ref == "lt") {
            scratch += '<';
        } else if (ref == "gt") {
            scratch += '>';
        } else if (ref == "apos") {
            scratch += '\'';
        } else if (ref == "quot") {
            scratch += '"';
        } else if (ref.size() >= 2 && ref[0] == '#') {
            const bool hex = ref[1] == 'x';
            const std::string_view digits = ref.substr(hex ? 2 : 1);
            std::uint32_t code = 0;
            auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
            if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() ||
                code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                Fail();
            AppendUtf8(scratch, code);
        } else {
            Fail();
        }
        const std::size_t next = raw.find('&', semi + 1);
        scratch.append(raw, semi + 1,
                       next == std::string_view::npos ? std::string_view::npos : next - semi - 1);
        amp = next;
    }
    return scratch;
}

// The namespace declarations in scope along the path the walk is on.
class Namespaces {
  public:
    std::size_t Mark() const noexcept { return decls_.size(); }
    void Restore(std::size_t mark) { decls_.resize(mark); }

    void Declare(const pugi::xml_node& element) {
        for (const pugi::xml_attribute& a : element.attributes()) {
            const std::string_view name = a.name();
            if (!name.starts_with("xmlns")) continue;
            std::string_view prefix;
            if (name.size() > 5) {
                if (name[5] != ':') continue;
                prefix = name.substr(6);
            }
            Declaration& d = decls_.emplace_back();
            d.prefix = prefix;
            d.uri = Decoded(a.value(), d.decoded);
            d.owns = d.uri.data() == d.decoded.data();
        }
    }

    // The URI and local part of a qualified name. Unprefixed attributes are in no namespace; an unprefixed
    // element is in the default one. An undeclared prefix makes the document malformed.
    std::string_view Resolve(std::string_view qname, bool element, std::string_view& local) const {
        const std::size_t colon = qname.find(':');
        const std::string_view prefix =
            colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
        local = colon == std::string_view::npos ? qname : qname.substr(colon + 1);
        if (!element && (qname == "xmlns" || prefix == "xmlns")) return "http://www.w3.org/2000/xmlns/";
        if (prefix.empty() && !element) return {};
        if (prefix == "xml") return "http://www.w3.org/XML/1998/namespace";
        for (auto it = decls_.rbegin(); it != decls_.rend(); ++it)
            if (it->prefix == prefix) return it->owns ? std::string_view(it->decoded) : it->uri;
        if (prefix.empty()) return {};
        Fail();
    }

    bool Is(const pugi::xml_node& element, std::string_view uri, std::string_view local) const {
        std::string_view name_local;
        return Resolve(element.name(), true, name_local) == uri && name_local == local;
    }

  private:
    struct Declaration {
        std::string_view prefix, uri;  // `uri` is the document's text unless it had references
        std::string decoded;
        bool owns = false;  // the URI is `decoded` (which moves with the declaration)
    };
    std::vector<Declaration> decls_;
};

// Declares an element's namespaces for as long as the walk is inside it.
class Inside {
  public:
    Inside(Namespaces& ns, const pugi::xml_node& element) : ns_(ns), mark_(ns.Mark()) { ns.Declare(element); }
    ~Inside() { ns_.Restore(mark_); }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;

  private:
    Namespaces& ns_;
    std::size_t mark_;
};

bool IsTrue(std::string_view v) noexcept {
    v = Trimmed(v);
    return SameText(v, "true") || v == "1" || v == "-1";
}

template <class Int>
std::optional<Int> IntegerOf(std::string_view text) noexcept {
    text = Trimmed(text);
    if (text.starts_with('+')) text.remove_prefix(1);
    Int v{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

template <class Float>
std::optional<Float> FloatingOf(std::string_view text) noexcept {
    text = Trimmed(text);
    if (text == "INF" || text == "+INF") return std::numeric_limits<Float>::infinity();
    if (text == "-INF") return -std::numeric_limits<Float>::infinity();
    if (text == "NaN") return std::numeric_limits<Float>::quiet_NaN();
    if (text.starts_with('+')) text.remove_prefix(1);
    Float v{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool HexBytes(std::string_view text, Bytes& out) {
    text = Trimmed(text);
    if (text.size() % 2 != 0) return false;
    out.resize(text.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return true;
}

bool Base64Bytes(std::string_view text, Bytes& out) {
    out.clear();
    std::uint32_t bits = 0;
    int count = 0, padding = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z') {
            v = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            v = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            v = c - '0' + 52;
        } else if (c == '+') {
            v = 62;
        } else if (c == '/') {
            v = 63;
        } else if (c == '=') {
            ++padding;
            continue;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            continue;
        } else {
            return false;
        }
        if (padding > 0) return false;
        bits = bits << 6 | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<std::uint8_t>(bits >> 16));
            out.push_back(static_cast<std::uint8_t>(bits >> 8));
            out.push_back(static_cast<std::uint8_t>(bits));
            bits = 0, count = 0;
        }
    }
    if (count == 1 || padding > 2) return false;
    if (count >= 2) out.push_back(static_cast<std::uint8_t>(bits >> (count == 2 ? 4 : 10)));
    if (count == 3) out.push_back(static_cast<std::uint8_t>(bits >> 2));
    return true;
}

// One column as the rows name it.
struct Column {
    ColumnInfo info;
    std::string xml_name;
    std::int64_t number = -1;  // rs:number, -1 when absent
    bool named = false;        // rs:name given (even empty): the real name is not the attribute's
    bool base64 = false;
};

// A value's text as the column's type. A text that is no value of the type (a file written from a
// database that keeps any value in any column) is kept as text rather than refusing the whole file.
void ConvertValue(std::string_view text, const Column& column, Variant& out) {
    switch (column.info.type) {
        case ado::adTinyInt:
        case ado::adSmallInt:
            if (auto v = IntegerOf<std::int16_t>(text)) return out.Assign(*v);
            break;
        case ado::adUnsignedTinyInt:
            if (auto v = IntegerOf<std::uint8_t>(text)) return out.Assign(*v);
            break;
        case ado::adInteger:
        case ado::adUnsignedSmallInt:
            if (auto v = IntegerOf<std::int32_t>(text)) return out.Assign(*v);
            break;
        case ado::adBigInt:
        case ado::adUnsignedInt:
            if (auto v = IntegerOf<std::int64_t>(text)) return out.Assign(*v);
            break;
        case ado::adUnsignedBigInt:
            if (auto v = IntegerOf<std::int64_t>(text)) return out.Assign(*v);
            if (auto d = ParseDecimal(Trimmed(text)); d && d->scale == 0) return out.Assign(*d);
            break;
        case ado::adSingle:
            if (auto v = FloatingOf<float>(text)) return out.Assign(*v);
            break;
        case ado::adDouble:
            if (auto v = FloatingOf<double>(text)) return out.Assign(*v);
            break;
        case ado::adCurrency:
            if (auto d = ParseDecimal(Trimmed(text))) {
                auto scaled = RescaleDecimal(*d, 4);
                if (scaled && scaled->mantissa >= std::numeric_limits<std::int64_t>::min() &&
                    scaled->mantissa <= std::numeric_limits<std::int64_t>::max())
                    return out.Assign(Currency{static_cast<std::int64_t>(scaled->mantissa)});
            }
            break;
        case ado::adNumeric:
        case ado::adDecimal:
        case ado::adVarNumeric:
            if (auto d = ParseDecimal(Trimmed(text))) return out.Assign(*d);
            if (auto v = FloatingOf<double>(text)) return out.Assign(*v);
            break;
        case ado::adBoolean: {
            const std::string_view v = Trimmed(text);
            if (SameText(v, "true") || v == "1" || v == "-1") return out.Assign(true);
            if (SameText(v, "false") || v == "0") return out.Assign(false);
            break;
        }
        case ado::adDate:
        case ado::adDBDate:
        case ado::adDBTime:
        case ado::adDBTimeStamp:
        case ado::adFileTime:
            if (auto d = ParseIsoDate(Trimmed(text))) return out.Assign(*d);
            break;
        case ado::adBinary:
        case ado::adVarBinary:
        case ado::adLongVarBinary: {
            Bytes bytes;
            if (column.base64 ? Base64Bytes(text, bytes) : HexBytes(text, bytes)) {
                out = Variant(std::move(bytes));
                return;
            }
            break;
        }
        default:
            break;
    }
    out.AssignString(text);
}

class Reader {
  public:
    explicit Reader(std::size_t image_size) : image_size_(image_size) {}

    void Read(const pugi::xml_node& root, RowsetSink& sink) {
        Inside in_root(ns_, root);
        pugi::xml_node schema_element, data_element;
        for (const pugi::xml_node& child : root.children()) {
            if (child.type() != pugi::node_element) continue;
            Inside in_child(ns_, child);
            if (!schema_element && ns_.Is(child, xml::kSchemaNs, "Schema")) schema_element = child;
            if (!data_element && ns_.Is(child, xml::kRowsetNs, "data")) data_element = child;
        }
        if (!schema_element || !data_element) Fail();
        Schema schema = ReadSchema(schema_element);
        sink.Begin(schema);
        ReadData(data_element, sink);
        sink.End();
    }

  private:
    // ---- schema ----------------------------------------------------------------------------------------
    Schema ReadSchema(const pugi::xml_node& element) {
        Inside in_schema(ns_, element);
        const std::string_view id = element.attribute("id").value();
        rows_ns_ = "#" + std::string(id.empty() ? xml::kSchemaId : id);
        pugi::xml_node row_type;
        std::vector<pugi::xml_node> shared_types;  // AttributeTypes declared beside the ElementType
        for (const pugi::xml_node& child : element.children()) {
            if (child.type() != pugi::node_element) continue;
            Inside in_child(ns_, child);
            if (ns_.Is(child, xml::kSchemaNs, "AttributeType")) shared_types.push_back(child);
            // The rows' ElementType is named "row"; a file that names it otherwise has only the one.
            if (ns_.Is(child, xml::kSchemaNs, "ElementType") &&
                (!row_type || std::string_view(child.attribute("name").value()) == "row"))
                row_type = child;
        }
        if (!row_type) Fail();

        Inside in_row_type(ns_, row_type);
        Schema schema;
        row_name_ = row_type.attribute("name").value();
        for (const pugi::xml_attribute& a : row_type.attributes()) {
            std::string_view local;
            const std::string_view uri = ns_.Resolve(a.name(), false, local);
            if (local == "updatable" && (uri == xml::kRowsetNs || uri.empty()))
                schema.updatable = IsTrue(a.value());
        }
        for (const pugi::xml_node& child : row_type.children()) {
            if (child.type() != pugi::node_element) continue;
            Inside in_child(ns_, child);
            if (ns_.Is(child, xml::kSchemaNs, "AttributeType")) {
                columns_.push_back(ReadColumn(child));
            } else if (ns_.Is(child, xml::kSchemaNs, "attribute")) {
                const std::string_view type = child.attribute("type").value();
                auto shared = std::find_if(
                    shared_types.begin(), shared_types.end(),
                    [&](const pugi::xml_node& t) { return type == t.attribute("name").value(); });
                if (shared == shared_types.end()) Fail();
                Inside in_shared(ns_, *shared);
                columns_.push_back(ReadColumn(*shared));
            }
        }
        if (columns_.empty()) Fail();
        OrderByNumber();
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            if (!by_name_.emplace(columns_[i].xml_name, i).second) Fail();
            schema.columns.push_back(columns_[i].info);
        }
        return schema;
    }

    // Columns stand in the order of their rs:number when every column has a distinct one, otherwise in the
    // order the schema lists them.
    void OrderByNumber() {
        std::vector<std::int64_t> numbers;
        for (const Column& c : columns_) numbers.push_back(c.number);
        std::sort(numbers.begin(), numbers.end());
        if (numbers.front() < 0 || std::adjacent_find(numbers.begin(), numbers.end()) != numbers.end())
            return;
        std::stable_sort(columns_.begin(), columns_.end(),
                         [](const Column& a, const Column& b) { return a.number < b.number; });
    }

    // What a column's declaration says beyond its ColumnInfo's own fields.
    struct Declared {
        std::string dt_type, db_type;
        std::optional<std::int64_t> max_length, precision;
        std::int64_t scale = 0;
        bool may_be_null = true;
    };

    Column ReadColumn(const pugi::xml_node& element) {
        Column column;
        ColumnInfo& info = column.info;
        Declared declared;
        ReadColumnAttributes(element, column, declared);
        for (const pugi::xml_node& child : element.children()) {
            if (child.type() != pugi::node_element) continue;
            Inside in_child(ns_, child);
            if (ns_.Is(child, xml::kSchemaNs, "datatype")) ReadColumnAttributes(child, column, declared);
        }
        if (column.xml_name.empty()) Fail();
        if (!column.named) info.name = column.xml_name;
        info.type = xml::TypeOfDeclaration(declared.dt_type, declared.db_type,
                                           (info.attributes & ado::adFldFixed) != 0,
                                           (info.attributes & ado::adFldLong) != 0);
        column.base64 = SameText(declared.dt_type, "bin.base64");
        const xml::TypeDeclaration& defaults = xml::DeclarationOf(info.type);
        if (declared.max_length) {
            // The platform's largest length (and anything beyond a length) stands for "no limit".
            const std::int64_t n = *declared.max_length;
            info.defined_size = n < 0 || n >= 2147483647 ? -1 : static_cast<std::int32_t>(n);
        } else {
            info.defined_size = defaults.size > 0 ? defaults.size : -1;
        }
        const bool fixed_text =
            (info.attributes & ado::adFldFixed) && (IsTextType(info.type) || IsBinaryType(info.type));
        if (fixed_text && info.defined_size > kFixedLengthAlways &&
            static_cast<std::uint64_t>(info.defined_size) > image_size_)
            Fail();
        info.precision = static_cast<std::uint8_t>(
            std::clamp<std::int64_t>(declared.precision.value_or(defaults.precision), 0, 255));
        info.scale = static_cast<std::uint8_t>(std::clamp<std::int64_t>(declared.scale, 0, 255));
        if (declared.may_be_null) info.attributes |= ado::adFldMayBeNull;
        if (info.key_column) info.attributes |= ado::adFldKeyColumn;
        return column;
    }

    // The column's attributes, from its s:AttributeType and its s:datatype alike: files put some of them
    // on either.
    void ReadColumnAttributes(const pugi::xml_node& element, Column& column, Declared& declared) {
        ColumnInfo& info = column.info;
        std::string scratch;
        for (const pugi::xml_attribute& a : element.attributes()) {
            std::string_view local;
            const std::string_view uri = ns_.Resolve(a.name(), false, local);
            const std::string_view value = Decoded(a.value(), scratch);
            auto number = [&] {
                auto n = IntegerOf<std::int64_t>(value);
                if (!n) Fail();
                return *n;
            };
            if (uri.empty()) {
                if (local == "name") column.xml_name = value;
            } else if (uri == xml::kDataTypeNs) {
                if (local == "type") declared.dt_type = value;
                if (local == "maxLength") declared.max_length = number();
            } else if (uri == xml::kRowsetNs) {
                if (local == "name")
                    info.name = value, column.named = true;
                else if (local == "number")
                    column.number = number();
                else if (local == "dbtype")
                    declared.db_type = value;
                else if (local == "precision")
                    declared.precision = number();
                else if (local == "scale")
                    declared.scale = number();
                else if (local == "maybenull")
                    declared.may_be_null = IsTrue(value);
                else if (local == "basecatalog")
                    info.base_catalog = value;
                else if (local == "baseschema")
                    info.base_schema = value;
                else if (local == "basetable")
                    info.base_table = value;
                else if (local == "basecolumn")
                    info.base_column = value;
                else if (local == "keycolumn")
                    info.key_column = IsTrue(value);
                else if (local == "autoincrement")
                    info.auto_increment = IsTrue(value);
                for (const xml::FlagAttribute& f : xml::FlagAttributes()) {
                    if (local != f.name) continue;
                    if (IsTrue(value)) {
                        info.attributes |= f.bit;
                    } else {
                        info.attributes &= ~f.bit;
                    }
                }
            }
        }
    }

    // ---- data ------------------------------------------------------------------------------------------
    bool IsRow(const pugi::xml_node& element) const { return ns_.Is(element, rows_ns_, row_name_); }

    void ReadData(const pugi::xml_node& data, RowsetSink& sink) {
        Inside in_data(ns_, data);
        values_.resize(columns_.size());
        originals_.resize(columns_.size());
        for (const pugi::xml_node& child : data.children()) {
            if (child.type() != pugi::node_element) continue;
            Inside in_child(ns_, child);
            if (IsRow(child)) {
                ReadRow(child, values_);
                sink.Row(RowKind::kUnchanged, values_.data(), nullptr);
            } else if (ns_.Is(child, xml::kRowsetNs, "insert")) {
                ReadRows(child, RowKind::kInserted, sink);
            } else if (ns_.Is(child, xml::kRowsetNs, "delete")) {
                ReadRows(child, RowKind::kDeleted, sink);
            } else if (ns_.Is(child, xml::kRowsetNs, "update")) {
                ReadUpdate(child, sink);
            }
        }
    }

    void ReadRows(const pugi::xml_node& group, RowKind kind, RowsetSink& sink) {
        for (const pugi::xml_node& child : group.children()) {
            if (child.type() != pugi::node_element) continue;
            Inside in_child(ns_, child);
            if (!IsRow(child)) continue;
            ReadRow(child, values_);
            sink.Row(kind, values_.data(), nullptr);
        }
    }

    // rs:original with the row as it was read, then the changed row with the columns that changed; a
    // column left out of the changed row keeps its original value.
    void ReadUpdate(const pugi::xml_node& update, RowsetSink& sink) {
        bool have_original = false;
        for (const pugi::xml_node& child : update.children()) {
            if (child.type() != pugi::node_element) continue;
            Inside in_child(ns_, child);
            if (ns_.Is(child, xml::kRowsetNs, "original")) {
                if (have_original) Fail();
                for (const pugi::xml_node& row : child.children()) {
                    if (row.type() != pugi::node_element) continue;
                    Inside in_row(ns_, row);
                    if (!IsRow(row)) continue;
                    ReadRow(row, originals_);
                    have_original = true;
                    break;
                }
                if (!have_original) Fail();
            } else if (IsRow(child)) {
                if (!have_original) Fail();
                values_ = originals_;
                ApplyChanges(child);
                sink.Row(RowKind::kUpdated, values_.data(), originals_.data());
                have_original = false;
            }
        }
        if (have_original) sink.Row(RowKind::kUpdated, originals_.data(), originals_.data());
    }

    void ReadRow(const pugi::xml_node& row, std::vector<Variant>& out) {
        for (Variant& v : out) v.AssignNull();
        ReadValues(row, out);
    }

    void ApplyChanges(const pugi::xml_node& row) {
        ReadValues(row, values_);
        for (const pugi::xml_node& child : row.children()) {
            if (child.type() != pugi::node_element) continue;
            Inside in_child(ns_, child);
            if (!ns_.Is(child, xml::kRowsetNs, "forcenull")) continue;
            for (const pugi::xml_attribute& a : child.attributes())
                if (const Column* c = Find(a.name()))
                    values_[static_cast<std::size_t>(c - columns_.data())].AssignNull();
        }
    }

    // A row's attributes that name columns; any other attribute is ignored, as the format asks.
    void ReadValues(const pugi::xml_node& row, std::vector<Variant>& out) {
        next_ = 0;
        for (const pugi::xml_attribute& a : row.attributes()) {
            const Column* c = Find(a.name());
            if (!c) continue;
            const std::string_view text = Decoded(a.value(), scratch_);
            ConvertValue(text, *c, out[static_cast<std::size_t>(c - columns_.data())]);
        }
    }

    // Rows usually name their columns in order: the column after the last one found is tried first.
    const Column* Find(std::string_view name) {
        if (next_ < columns_.size() && columns_[next_].xml_name == name) return &columns_[next_++];
        auto it = by_name_.find(name);
        if (it == by_name_.end()) return nullptr;
        next_ = it->second + 1;
        return &columns_[it->second];
    }

    std::size_t image_size_;
    Namespaces ns_;
    std::string rows_ns_, row_name_;
    std::vector<Column> columns_;
    std::unordered_map<std::string_view, std::size_t> by_name_;
    std::size_t next_ = 0;
    std::vector<Variant> values_, originals_;
    std::string scratch_;
};

}  // namespace

void ReadXml(std::string_view image, RowsetSink& sink) {
    // An entity bomb needs a document type declaration; a rowset never has one. Looked for before parsing
    // too (in UTF-8 and UTF-16), so that the parser never walks a hostile one.
    using namespace std::string_view_literals;
    for (std::string_view doctype :
         {"<!DOCTYPE"sv, "<\0!\0D\0O\0C\0T\0Y\0P\0E\0"sv, "\0<\0!\0D\0O\0C\0T\0Y\0P\0E"sv})
        if (image.find(doctype) != std::string_view::npos) Fail();
    pugi::xml_document document;
    // Values are decoded here (see Decoded), not by the parser; blanks written literally in an attribute
    // become spaces, as XML says.
    const pugi::xml_parse_result parsed = document.load_buffer(
        image.data(), image.size(), pugi::parse_wconv_attribute | pugi::parse_eol | pugi::parse_doctype,
        pugi::encoding_auto);
    const pugi::xml_node root = document.document_element();
    if (!parsed || !root) Fail();
    for (const pugi::xml_node& node : document.children())
        if (node.type() == pugi::node_doctype) Fail();
    Reader(image.size()).Read(root, sink);
}

}  // namespace korado::dataaccess::persist
