// What the PostgreSQL provider reads from and writes to the server's catalog: the schema rowsets and the
// tables the catalog creates.
//
// Everything here goes through one CatalogQuery that the session supplies: a statement with $1.. markers,
// its values bound as text (never spliced into the statement), all rows back as text. The session raises
// its own provider errors from it, so these functions carry no error mapping of their own beyond the two
// codes the catalog promises (a bad type, a table that exists).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/provider.h"

namespace korado::dataaccess::pg {

using SqlText = std::optional<std::string>;  // nullopt: SQL NULL
using TextRows = std::vector<std::vector<SqlText>>;
using CatalogQuery = std::function<TextRows(std::string_view sql, std::span<const SqlText> params)>;

// Schema rowsets with the platform's columns (schemata 17, tables 20, columns 4); others raise 3251.
std::unique_ptr<Cursor> SchemaRowset(const CatalogQuery& query, std::int32_t schema,
                                     std::span<const Variant> restrictions);

// The CREATE TABLE statement for `columns`; raises DB_E_BADTYPE (source `error_source`) for a column
// type PostgreSQL has no equivalent for.
std::string CreateTableText(std::string_view table, std::span<const ColumnDefinition> columns,
                            std::string_view error_source);

// Runs CreateTableText; inside an open transaction under a savepoint, so that a failure leaves neither a
// table nor an aborted transaction behind. A table that exists fails with DB_E_DUPLICATETABLEID.
void CreateTable(const CatalogQuery& query, bool in_transaction, std::string_view table,
                 std::span<const ColumnDefinition> columns, std::string_view error_source);

}  // namespace korado::dataaccess::pg
