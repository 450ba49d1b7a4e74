// What the XML rowset writer and reader agree on: the four namespaces, how each platform data type is
// declared in a column's s:datatype, and which rs: attributes carry a column's attribute bits.
//
// A file names its types with XML-Data's type names (dt:type) and, where one name covers several platform
// types, the OLE DB type that tells them apart (rs:dbtype: "currency" among the numbers, "str" for narrow
// text, "variantdate" and "timestamp" among the dates). Fixed and long text and binary columns differ only
// by rs:fixedlength and rs:long.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace korado::dataaccess::persist::xml {

// Readers match these URIs, never the prefixes a file binds to them.
inline constexpr std::string_view kSchemaNs = "uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882";    // s
inline constexpr std::string_view kDataTypeNs = "uuid:C2F41010-65B3-11d1-A29F-00AA00C14882";  // dt
inline constexpr std::string_view kRowsetNs = "urn:schemas-microsoft-com:rowset";             // rs
inline constexpr std::string_view kSchemaId = "RowsetSchema";  // the rows' namespace (z) is "#" + this id

// A platform type as a column declares it.
struct TypeDeclaration {
    std::int32_t type;         // DataTypeEnum
    std::string_view dt_type;  // XML-Data's name
    std::string_view db_type;  // rs:dbtype, empty when dt:type alone names the type
    std::int32_t size;         // dt:maxLength of a fixed-size type; 0 for text and binary
    std::uint8_t precision;    // rs:precision a file that leaves it out means
};

// The declaration a writer gives `type` (text for a type the format has no name for); a reader takes the
// size and precision of a column that leaves them out from it.
const TypeDeclaration& DeclarationOf(std::int32_t type) noexcept;

// The platform type of a declaration as a reader finds it: XML-Data's equivalent names are accepted
// ("i4" and "int", "r8" and "float", "char" and "string", "bin.base64" and "bin.hex"), names the
// format does not know read as text. `fixed` and `long_data` are rs:fixedlength and rs:long.
std::int32_t TypeOfDeclaration(std::string_view dt_type, std::string_view db_type, bool fixed,
                               bool long_data) noexcept;

// A column attribute bit written as rs:<name>="true" on the element named by `on_datatype`
// (s:datatype) or on the s:AttributeType.
struct FlagAttribute {
    std::string_view name;
    std::int32_t bit;
    bool on_datatype;
};
std::span<const FlagAttribute> FlagAttributes() noexcept;

// True when `name` can stand as an attribute name in a row: an XML name without a colon, not starting
// with "xml" (reserved, and "xmlns" would declare a namespace).
bool IsAttributeName(std::string_view name) noexcept;

}  // namespace korado::dataaccess::persist::xml
