// Recordsets saved to files and read back without a database: the two persistence formats of the
// platform, the Advanced Data TableGram (binary, adPersistADTG 0) and the XML rowset (adPersistXML 1).
//
// Both formats carry the same things: the schema (names, types, sizes, precision, scale, nullability,
// base table and column, key columns) and the rows, each with its pending change as a client cursor in
// batch mode holds it. A writer receives them one row at a time and writes as they come, so saving a large
// result does not hold it in memory; a reader parses a whole file image and hands the same calls to a sink
// (the recordset being built), so the two directions share one interface and a file can be checked by
// writing it again.
//
// Readers trust nothing in the image: every length and count is checked against what is left of it, and
// a malformed file raises the persistence provider's failure, never reads outside the image and never
// allocates more than the image could describe.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string_view>
#include <vector>

#include "dataaccess/provider.h"
#include "korado/runtime/variant.h"

namespace korado::dataaccess::persist {

// The error source of everything that reads or writes the formats.
inline constexpr const char* kPersistenceProvider = "Microsoft OLEDB Persistence Provider";
// A file in neither format (E_FAIL).
inline constexpr const char* kNotARecordset =
    "Recordset cannot be created from the specified source. The source file or stream must contain "
    "Recordset data in XML or ADTG format.";
// An XML file that is not a well-formed rowset, or that stops short (E_FAIL).
inline constexpr const char* kBadXml = "Recordset cannot be created. Source XML is incomplete or invalid.";

enum class RowKind : std::uint8_t {
    kUnchanged,  // as read from the database
    kInserted,   // added, not yet stored
    kUpdated,    // changed, not yet stored: `originals` holds the values before the change
    kDeleted,    // deleted, not yet stored: `values` holds the row as it was read
};

struct Schema {
    // Per column: name, type, defined_size, precision, scale, attributes (nullability, fixed length,
    // long, ...), base_catalog/base_schema/base_table/base_column, key_column, auto_increment.
    std::vector<ColumnInfo> columns;
    // Rows may be changed and written back (every column's base table is known, as the update engine
    // decides for the open recordset).
    bool updatable = false;
};

// Receives one rowset: Begin once, Row for each row in order, End once.
class RowsetSink {
  public:
    virtual ~RowsetSink() = default;
    virtual void Begin(const Schema& schema) = 0;
    // `values`: one per column, Null for NULL (a Variant of the column's natural type otherwise; an empty
    // text is not Null). `originals`: one per column for kUpdated, null for the other kinds. Both are
    // valid only during the call.
    virtual void Row(RowKind kind, const Variant* values, const Variant* originals) = 0;
    virtual void End() = 0;
};

// Writers write to `out` as rows arrive (the caller owns the stream and checks it after End). XML is
// written in UTF-8 with the format's namespaces; ADTG little-endian with Unicode names.
std::unique_ptr<RowsetSink> MakeXmlWriter(std::ostream& out);
std::unique_ptr<RowsetSink> MakeAdtgWriter(std::ostream& out);

// Readers parse a file image; a malformed one raises E_FAIL from kPersistenceProvider.
void ReadXml(std::string_view image, RowsetSink& sink);
void ReadAdtg(std::string_view image, RowsetSink& sink);

// adPersistADTG or adPersistXML by the image's first bytes, or -1 for neither.
std::int32_t DetectFormat(std::string_view image);

}  // namespace korado::dataaccess::persist
