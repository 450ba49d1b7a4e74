// The session's catalog side: schema rowsets and the catalog's tables, through one parameterised query
// runner on the session's connection.
#include "dataaccess/providers/pg/pg_meta.h"
#include "dataaccess/providers/pg/pg_provider.h"

namespace korado::dataaccess::pg {

TextRows PgSession::CatalogRows(std::string_view sql, std::span<const SqlText> params) {
    std::lock_guard guard(lock);
    FreeConnection();
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const SqlText& p : params) values.push_back(p ? p->c_str() : nullptr);
    const std::string text(sql);
    PGresult* r = PQexecParams(conn_, text.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                               nullptr, nullptr, 0);
    if (!r) FailConnection();
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) Fail(r);
    TextRows rows(static_cast<std::size_t>(PQntuples(r)));
    const int columns = PQnfields(r);
    for (int i = 0; i < PQntuples(r); ++i) {
        std::vector<SqlText>& row = rows[static_cast<std::size_t>(i)];
        row.reserve(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c)
            row.push_back(PQgetisnull(r, i, c)
                              ? SqlText()
                              : SqlText(std::string(PQgetvalue(r, i, c), PQgetlength(r, i, c))));
    }
    PQclear(r);
    return rows;
}

CatalogQuery PgSession::Catalog() {
    return [this](std::string_view sql, std::span<const SqlText> params) { return CatalogRows(sql, params); };
}

std::unique_ptr<Cursor> PgSession::Schema(std::int32_t schema, std::span<const Variant> restrictions) {
    return SchemaRowset(Catalog(), schema, restrictions);
}

void PgSession::CreateTable(std::string_view name, std::span<const ColumnDefinition> columns) {
    pg::CreateTable(Catalog(), in_transaction, name, columns, kErrorSource);
}

}  // namespace korado::dataaccess::pg
