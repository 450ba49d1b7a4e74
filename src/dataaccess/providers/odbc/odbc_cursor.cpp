#include "dataaccess/providers/odbc/odbc_cursor.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <map>
#include <semaphore>
#include <set>
#include <system_error>
#include <thread>
#include <tuple>

#include "dataaccess/providers/odbc/odbc_seams.h"
#include "dataaccess/providers/odbc/odbc_text.h"
#include "dataaccess/providers/odbc/odbc_values.h"

namespace korado::dataaccess::odbc {
namespace {

// Bound buffers of one block stay within this many bytes; rows per block within these bounds.
constexpr std::size_t kBlockBytes = 4 << 20;
constexpr std::size_t kDefaultBlockRows = 500;
constexpr std::size_t kMaxBlockRows = 4096;
constexpr std::size_t kChunkUnits = 8192;

bool Truncatable(ValueKind kind) {
    return kind == ValueKind::kText || kind == ValueKind::kBinary || kind == ValueKind::kNumeric ||
           kind == ValueKind::kGuid;
}

// A bound value of `width` bytes that the driver could not put whole into its buffer.
bool Truncated(ValueKind kind, std::size_t width, SQLLEN indicator) {
    if (indicator == SQL_NULL_DATA) return false;
    if (indicator == SQL_NO_TOTAL) return Truncatable(kind);
    const auto length = static_cast<std::size_t>(indicator);
    switch (kind) {
        case ValueKind::kText:
        case ValueKind::kGuid:
            return length > width - sizeof(SQLWCHAR);
        case ValueKind::kBinary:
            return length > width;
        case ValueKind::kNumeric:
            return length >= width;
        default:
            return false;
    }
}

bool IsNumericSqlType(SQLSMALLINT t) {
    switch (t) {
        case SQL_TINYINT:
        case SQL_SMALLINT:
        case SQL_INTEGER:
        case SQL_BIGINT:
        case SQL_DECIMAL:
        case SQL_NUMERIC:
        case SQL_REAL:
        case SQL_FLOAT:
        case SQL_DOUBLE:
            return true;
        default:
            return false;
    }
}

std::string ColumnText(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field, bool narrow) {
    if (narrow) {
        std::string buffer(512, '\0');
        SQLSMALLINT bytes = 0;
        if (!Succeeded(SQLColAttribute(stmt, column, field, buffer.data(),
                                       static_cast<SQLSMALLINT>(buffer.size()), &bytes, nullptr))) {
            return {};
        }
        buffer.resize(std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(bytes, 0)), buffer.size() - 1));
        return buffer;
    }
    std::u16string buffer(256, u'\0');
    SQLSMALLINT bytes = 0;
    if (!Succeeded(SQLColAttributeW(stmt, column, field, W(buffer),
                                    static_cast<SQLSMALLINT>(buffer.size() * 2), &bytes, nullptr))) {
        return {};
    }
    std::size_t units =
        std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(bytes, 0)) / 2, buffer.size() - 1);
    return ToUtf8(std::u16string_view(buffer.data(), units));
}

SQLLEN ColumnNumber(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field) {
    SQLLEN value = 0;
    if (!Succeeded(SQLColAttributeW(stmt, column, field, nullptr, 0, nullptr, &value))) return 0;
    return value;
}

// A table's name as the catalog functions take it, in both of the driver's encodings (null: any).
struct TableName {
    TableName(const std::string& catalog, const std::string& schema, const std::string& table)
        : wc(ToUtf16(catalog)), ws(ToUtf16(schema)), wt(ToUtf16(table)), nc(catalog), ns(schema), nt(table) {}
    SQLWCHAR* c() { return wc.empty() ? nullptr : W(wc); }
    SQLWCHAR* s() { return ws.empty() ? nullptr : W(ws); }
    SQLWCHAR* t() { return W(wt); }
    SQLCHAR* nc_() { return nc.empty() ? nullptr : N(nc); }
    SQLCHAR* ns_() { return ns.empty() ? nullptr : N(ns); }
    SQLCHAR* nt_() { return N(nt); }
    std::u16string wc, ws, wt;
    std::string nc, ns, nt;
};

// Columns `columns` of the rows the catalog function `call` gives on a handle of its own, as text; empty when
// it fails.
template <class Call>
std::vector<std::vector<std::string>> CatalogRows(SessionCore& core,
                                                  std::initializer_list<SQLUSMALLINT> columns, Call call) {
    StatementHandle h;
    try {
        h = Allocate<SQL_HANDLE_STMT>(SQL_HANDLE_DBC, core.dbc());
    } catch (const Error&) {
        return {};
    }
    std::vector<std::vector<std::string>> rows;
    if (!Succeeded(call(h.get()))) return rows;
    std::u16string buffer(256, u'\0');
    while (Succeeded(SQLFetch(h.get()))) {
        std::vector<std::string>& row = rows.emplace_back();
        for (SQLUSMALLINT column : columns) {
            SQLLEN bytes = 0;
            if (!Succeeded(SQLGetData(h.get(), column, SQL_C_WCHAR, W(buffer),
                                      static_cast<SQLLEN>(buffer.size() * 2), &bytes)) ||
                bytes < 0) {
                bytes = 0;
            }
            row.push_back(ToUtf8(
                std::u16string_view(buffer.data(), std::min<std::size_t>(bytes / 2, buffer.size() - 1))));
        }
    }
    return rows;
}

template <class Call>
std::vector<std::string> CatalogNames(SessionCore& core, SQLUSMALLINT column, Call call) {
    std::vector<std::string> names;
    for (std::vector<std::string>& row : CatalogRows(core, {column}, call))
        names.push_back(std::move(row[0]));
    return names;
}

// The columns that identify a row of the table: its primary key, else the driver's best row identifier
// (SQLSpecialColumns), `primary_key` saying which. Empty when the driver knows none.
//
// For a table without a primary key, MariaDB itself reports its first unique index on columns that cannot
// be null as the primary key; the SQLite3 driver offers a unique index as the best row identifier even on
// columns that can be null (it ignores the Nullable argument); psqlODBC offers nothing (only the oid of a
// table created WITH OIDS, which PostgreSQL no longer has).
std::vector<std::string> KeyColumns(SessionCore& core, TableName& n, bool& primary_key) {
    const bool narrow = core.traits.narrow_text;
    primary_key = true;
    std::vector<std::string> key = CatalogNames(core, 4, [&](SQLHSTMT h) {
        return narrow ? SQLPrimaryKeys(h, n.nc_(), SQL_NTS, n.ns_(), SQL_NTS, n.nt_(), SQL_NTS)
                      : SQLPrimaryKeysW(h, n.c(), SQL_NTS, n.s(), SQL_NTS, n.t(), SQL_NTS);
    });
    if (!key.empty()) return key;
    primary_key = false;
    return CatalogNames(core, 2, [&](SQLHSTMT h) {
        return narrow ? SQLSpecialColumns(h, SQL_BEST_ROWID, n.nc_(), SQL_NTS, n.ns_(), SQL_NTS, n.nt_(),
                                          SQL_NTS, SQL_SCOPE_CURROW, SQL_NO_NULLS)
                      : SQLSpecialColumnsW(h, SQL_BEST_ROWID, n.c(), SQL_NTS, n.s(), SQL_NTS, n.t(), SQL_NTS,
                                           SQL_SCOPE_CURROW, SQL_NO_NULLS);
    });
}

// The table's columns (SQLColumns): each name and its NULLABLE ("0": cannot be null).
std::vector<std::vector<std::string>> TableColumns(SessionCore& core, TableName& n) {
    const bool narrow = core.traits.narrow_text;
    std::vector<std::vector<std::string>> rows = CatalogRows(core, {4, 11, 3}, [&](SQLHSTMT h) {
        return narrow ? SQLColumns(h, n.nc_(), SQL_NTS, n.ns_(), SQL_NTS, n.nt_(), SQL_NTS, nullptr, 0)
                      : SQLColumnsW(h, n.c(), SQL_NTS, n.s(), SQL_NTS, n.t(), SQL_NTS, nullptr, 0);
    });
    // The table name is a search pattern here: an underscore in it matches other tables too.
    std::erase_if(rows, [&](const std::vector<std::string>& r) { return r[2] != n.nt; });
    return rows;
}

}  // namespace

OdbcCursor::OdbcCursor(OdbcStatement& statement, SQLSMALLINT column_count)
    : statement_(statement), stmt_(statement.handle()), block_stmt_(stmt_) {
    Describe(column_count);
    if (!statement_.options().forward_only) DescribeBase();
    Plan();
}

// The FETCHes by cursor name (see the header), driven by the worker: `handles[reading]` holds the rows the
// worker converts while the FETCH on the other handle runs on `running`.
//
// psqlODBC does not roll a failed FETCH of ours back to its statement savepoint, and PostgreSQL then refuses
// every later statement of the transaction; so each FETCH takes a savepoint of its own in the same text,
// releases it when it succeeds and is rolled back to it at once when it fails (on a third handle, the
// failed one keeping the driver's records for the reader): the read fails when it reaches that FETCH, the
// transaction and its earlier work stay. The FETCH and its undo run under the session lock, as one: a
// commit of the host's between the two would meet the aborted transaction, which PostgreSQL ends with a
// ROLLBACK and no error. An undo that fails leaves the transaction marked aborted, and the commit fails. A
// FETCH outside a transaction (the host committed in the middle of the read) has nothing to guard.
struct OdbcCursor::Relay {
    SessionCore* core = nullptr;
    std::u16string guarded;  // SAVEPOINT s;FETCH FORWARD n FROM "cursor";RELEASE SAVEPOINT s
    std::u16string plain;    // FETCH FORWARD n FROM "cursor"
    std::size_t rows_per_fetch = 0;
    StatementHandle handles[2];
    StatementHandle undo;
    // Each handle's rows-fetched count: a driver may touch it when the FETCH on the other thread executes.
    SQLULEN fetched[2] = {0, 0};
    int reading = -1;           // -1: the statement's own handle, with the driver's first FETCH
    std::size_t rows_read = 0;  // from the handle read
    std::thread running;
    SQLRETURN running_rc = SQL_SUCCESS;

    ~Relay() {
        if (running.joinable()) running.join();
    }
    static SQLRETURN Exec(SQLHSTMT h, const std::u16string& text) {
        return SQLExecDirectW(h, W(text), SQL_NTS);
    }
    SQLRETURN Fetch(int index) {
        std::lock_guard lock(core->lock);
        SQLHSTMT h = handles[index].get();
        SQLRETURN rc = Exec(h, guarded);
        if (rc == SQL_ERROR) {
            // 25P01: no transaction to take a savepoint in.
            const std::vector<Diagnostic> records = ReadDiagnostics(SQL_HANDLE_STMT, h);
            if (!records.empty() && records.front().sql_state == "25P01") return Exec(h, plain);
        } else if (Succeeded(rc)) {
            // The first result is the savepoint's; the FETCH's rows come next.
            rc = SQLMoreResults(h);
        }
        if (rc == SQL_ERROR) {
            seams::Reach(seams::Point::kRelayFetchFailed);
            SQLRETURN undone =
                Exec(undo.get(), u"ROLLBACK TO SAVEPOINT korado_fetch;RELEASE SAVEPOINT korado_fetch");
            if (Succeeded(undone)) undone = SQLMoreResults(undo.get());
            if (!Succeeded(undone) && undone != SQL_NO_DATA && core->in_transaction)
                core->transaction_aborted = true;
            SQLFreeStmt(undo.get(), SQL_CLOSE);
        }
        return rc;
    }
    void Launch(int index) {
        running_rc = SQL_SUCCESS;
        auto run = [this, index] { running_rc = Fetch(index); };
        try {
            running = std::thread(run);
        } catch (const std::system_error&) {
            run();  // no thread to be had: the FETCH is simply not ahead
        }
    }
};

// The thread that fetches the next block while the reader reads the current one. Each fetch is asked for
// by releasing `go` and taken by acquiring `done`; between the two the statement handle, the spare buffers
// and the fields below belong to the worker, otherwise to the reader.
struct OdbcCursor::Ahead {
    std::thread worker;
    std::binary_semaphore go{0};
    std::binary_semaphore done{0};
    bool stop = false;       // the worker's last request: end
    bool in_flight = false;  // the reader's own record of a fetch asked for and not yet taken
    SQLRETURN rc = SQL_SUCCESS;
    const char* call = "SQLFetch";     // the call that returned rc
    SQLULEN rows = 0;                  // the driver's rows-fetched count for the block ahead
    bool truncated = false;            // a value in the block ahead did not fit its buffer
    SQLHSTMT source = SQL_NULL_HSTMT;  // the handle of the block ahead (or of its failure)
    std::unique_ptr<Relay> relay;      // declared last: ended before the rest
};

bool OdbcCursor::FetchesByName() const noexcept { return ahead_ && ahead_->relay; }

OdbcCursor::~OdbcCursor() {
    StopReadingAhead();
    // The statement's next result binds its own columns; leave the handle as a fresh one would be.
    if (bound_) {
        SQLFreeStmt(stmt_, SQL_UNBIND);
        if (block_rows_ > 1)
            SQLSetStmtAttrW(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
        SQLSetStmtAttrW(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    }
}

void OdbcCursor::Describe(SQLSMALLINT column_count) {
    columns_.reserve(static_cast<std::size_t>(column_count));
    cols_.resize(static_cast<std::size_t>(column_count));
    const bool narrow = statement_.core().traits.narrow_text;
    std::u16string name(256, u'\0');
    std::string narrow_name(1024, '\0');
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(column_count); ++i) {
        SQLSMALLINT name_length = 0;
        SQLSMALLINT sql_type = 0;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
        auto describe = [&] {
            SQLRETURN rc = narrow ? SQLDescribeCol(stmt_, i, N(narrow_name),
                                                   static_cast<SQLSMALLINT>(narrow_name.size()), &name_length,
                                                   &sql_type, &size, &digits, &nullable)
                                  : SQLDescribeColW(stmt_, i, W(name), static_cast<SQLSMALLINT>(name.size()),
                                                    &name_length, &sql_type, &size, &digits, &nullable);
            return statement_.Checked(rc, "SQLDescribeCol");
        };
        describe();
        if (static_cast<std::size_t>(name_length) >= (narrow ? narrow_name.size() : name.size())) {
            name.assign(static_cast<std::size_t>(name_length) + 1, u'\0');
            narrow_name.assign(static_cast<std::size_t>(name_length) + 1, '\0');
            describe();
        }
        bool is_unsigned =
            IsNumericSqlType(sql_type) && ColumnNumber(stmt_, i, SQL_DESC_UNSIGNED) == SQL_TRUE;
        FieldType type = MapSqlType(sql_type, size, digits, is_unsigned);
        ColumnInfo info;
        info.name =
            narrow
                ? narrow_name.substr(0, std::min<std::size_t>(name_length, narrow_name.size() - 1))
                : ToUtf8(std::u16string_view(name.data(), std::min<std::size_t>(name_length, name.size())));
        info.type = type.type;
        info.defined_size = type.defined_size;
        info.precision = type.precision;
        info.scale = type.scale;
        info.attributes = type.attributes | ado::adFldUnknownUpdatable;
        if (nullable != SQL_NO_NULLS) info.attributes |= ado::adFldIsNullable | ado::adFldMayBeNull;
        columns_.push_back(std::move(info));
        cols_[i - 1].type = type;
    }
}

void OdbcCursor::DescribeBase() {
    // What the client cursor needs to write changes back: each column's table and name, the key.
    //
    // psqlODBC needs no option for the base names: it resolves the table and column the server names for
    // each result column (its table's oid and attribute number) through the catalog, so a plain select, an
    // alias and a join come back right without its Parse option; an expression has no table (the driver
    // still gives it its label as base column). A view is its own base table on PostgreSQL and MariaDB;
    // the SQLite3 driver reports the view's underlying table.
    const bool narrow = statement_.core().traits.narrow_text;
    std::set<std::tuple<std::string, std::string, std::string>> tables;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        auto n = static_cast<SQLUSMALLINT>(i + 1);
        ColumnInfo& c = columns_[i];
        c.base_table = ColumnText(stmt_, n, SQL_DESC_BASE_TABLE_NAME, narrow);
        // Without a table the driver's base column is only the column's label: nothing to write to.
        if (c.base_table.empty()) continue;
        c.base_column = ColumnText(stmt_, n, SQL_DESC_BASE_COLUMN_NAME, narrow);
        c.base_schema = ColumnText(stmt_, n, SQL_DESC_SCHEMA_NAME, narrow);
        c.base_catalog = ColumnText(stmt_, n, SQL_DESC_CATALOG_NAME, narrow);
        c.auto_increment = ColumnNumber(stmt_, n, SQL_DESC_AUTO_UNIQUE_VALUE) == SQL_TRUE;
        tables.emplace(c.base_catalog, c.base_schema, c.base_table);
    }
    SessionCore& core = statement_.core();
    for (const auto& [catalog, schema, table] : tables) {
        std::vector<ColumnInfo*> of_table;
        for (ColumnInfo& c : columns_) {
            if (c.base_table == table && c.base_schema == schema && c.base_catalog == catalog)
                of_table.push_back(&c);
        }
        TableName names(catalog, schema, table);
        const bool sqlite = core.traits.kind == DriverKind::kSQLite;
        std::vector<std::vector<std::string>> real;
        if (sqlite) {
            // The SQLite3 driver gives a column's label as its base column, an alias included: a label that
            // is no column of the table names nothing to write to. (An alias that is the name of another of
            // the table's columns cannot be told from it.)
            real = TableColumns(core, names);
            for (ColumnInfo* c : of_table) {
                if (std::none_of(real.begin(), real.end(),
                                 [&](const auto& r) { return r[0] == c->base_column; }))
                    c->base_column.clear();
            }
        }
        bool primary = false;
        std::vector<std::string> key = KeyColumns(core, names, primary);
        if (!primary && !key.empty()) {
            // A unique column that can be null holds any number of rows with a null.
            if (!sqlite) real = TableColumns(core, names);
            auto not_null = [&](const std::string& name) {
                return std::any_of(real.begin(), real.end(),
                                   [&](const auto& r) { return r[0] == name && r[1] == "0"; });
            };
            if (!std::all_of(key.begin(), key.end(), not_null)) continue;
        }
        // A key only partly in the result would make a change reach every row that shares the part shown.
        auto shown = [&](const std::string& name) {
            return std::any_of(of_table.begin(), of_table.end(),
                               [&](const ColumnInfo* c) { return c->base_column == name; });
        };
        if (key.empty() || !std::all_of(key.begin(), key.end(), shown)) continue;
        for (ColumnInfo* c : of_table) {
            if (std::find(key.begin(), key.end(), c->base_column) == key.end()) continue;
            c->key_column = true;
            c->attributes |= ado::adFldKeyColumn;
            // The SQLite3 driver does not report SQLite's own auto-increment key: a table's only key column
            // declared INTEGER is the rowid, which SQLite fills in when an insert leaves it out.
            if (sqlite && primary && key.size() == 1) {
                auto n = static_cast<SQLUSMALLINT>(c - columns_.data() + 1);
                std::string declared = ColumnText(stmt_, n, SQL_DESC_TYPE_NAME, narrow);
                std::transform(declared.begin(), declared.end(), declared.begin(),
                               [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
                if (declared == "INTEGER") c->auto_increment = true;
            }
        }
    }
}

void OdbcCursor::Plan() {
    const DriverTraits& traits = statement_.core().traits;
    bool any_long = false;
    bool any_truncatable = false;
    bool unbound_seen = false;
    for (Column& c : cols_) {
        const FieldType& t = c.type;
        c.bound = !t.long_data;
        // Without SQL_GD_BOUND a truncated bound value could not be read again: read such columns with
        // SQLGetData from the start.
        if (c.bound && Truncatable(t.kind) && !traits.getdata_bound) c.bound = false;
        // Without SQL_GD_ANY_COLUMN, SQLGetData only reaches columns after the last bound one.
        if (unbound_seen && !traits.getdata_any_column) c.bound = false;
        if (!c.bound) unbound_seen = true;
        any_long = any_long || !c.bound;
        if (c.bound && Truncatable(t.kind)) any_truncatable = true;

        switch (t.kind) {
            case ValueKind::kText: {
                std::size_t chars = t.defined_size > 0 ? static_cast<std::size_t>(t.defined_size) : 255;
                // Two units per character covers characters outside the BMP; one more for the terminator.
                c.width = (2 * chars + 1) * sizeof(SQLWCHAR);
                c.c_type = SQL_C_WCHAR;
                break;
            }
            case ValueKind::kGuid:
                c.width = 40 * sizeof(SQLWCHAR), c.c_type = SQL_C_WCHAR;
                break;
            case ValueKind::kBinary:
                c.width = t.defined_size > 0 ? static_cast<std::size_t>(t.defined_size) : 255;
                c.c_type = SQL_C_BINARY;
                break;
            case ValueKind::kNumeric:
                c.width = std::max<std::size_t>(64, static_cast<std::size_t>(t.precision) + 4);
                c.c_type = SQL_C_CHAR;
                break;
            case ValueKind::kBool:
                c.width = 1, c.c_type = SQL_C_BIT;
                break;
            case ValueKind::kInt16:
                c.width = sizeof(SQLSMALLINT), c.c_type = SQL_C_SSHORT;
                break;
            case ValueKind::kInt32:
                c.width = sizeof(SQLINTEGER), c.c_type = SQL_C_SLONG;
                break;
            case ValueKind::kInt64:
                c.width = sizeof(SQLBIGINT), c.c_type = SQL_C_SBIGINT;
                break;
            case ValueKind::kUInt64:
                c.width = sizeof(SQLUBIGINT), c.c_type = SQL_C_UBIGINT;
                break;
            case ValueKind::kSingle:
                c.width = sizeof(SQLREAL), c.c_type = SQL_C_FLOAT;
                break;
            case ValueKind::kDouble:
                c.width = sizeof(SQLDOUBLE), c.c_type = SQL_C_DOUBLE;
                break;
            case ValueKind::kDate:
                c.width = sizeof(SQL_DATE_STRUCT), c.c_type = SQL_C_TYPE_DATE;
                break;
            case ValueKind::kTime:
                c.width = sizeof(SQL_TIME_STRUCT), c.c_type = SQL_C_TYPE_TIME;
                break;
            case ValueKind::kTimestamp:
                c.width = sizeof(SQL_TIMESTAMP_STRUCT), c.c_type = SQL_C_TYPE_TIMESTAMP;
                break;
        }
    }
    bool blocks = !any_long && (!any_truncatable || (traits.getdata_block && traits.getdata_bound));
    block_rows_ = 1;
    if (blocks) {
        std::size_t row_bytes = 0;
        for (const Column& c : cols_) row_bytes += c.width + sizeof(SQLLEN);
        std::size_t fit = std::max<std::size_t>(1, kBlockBytes / std::max<std::size_t>(row_bytes, 1));
        block_rows_ = std::min(fit, kDefaultBlockRows);
    }
}

void OdbcCursor::SetFetchSize(std::int32_t rows) {
    if (!bound_ && rows > 0) wanted_rows_ = static_cast<std::size_t>(rows);
}

void OdbcCursor::Bind() {
    if (block_rows_ > 1 && wanted_rows_ > block_rows_) {
        std::size_t row_bytes = 0;
        for (const Column& c : cols_) row_bytes += c.width + sizeof(SQLLEN);
        std::size_t fit = std::max<std::size_t>(1, kBlockBytes / std::max<std::size_t>(row_bytes, 1));
        block_rows_ = std::min({wanted_rows_, fit, kMaxBlockRows});
    }
    if (block_rows_ > 1) {
        SQLRETURN rc = SQLSetStmtAttrW(stmt_, SQL_ATTR_ROW_ARRAY_SIZE,
                                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(block_rows_)), 0);
        // A driver may lower the size (01S02) or refuse it: read what it kept.
        if (!Succeeded(rc)) {
            block_rows_ = 1;
        } else if (rc == SQL_SUCCESS_WITH_INFO) {
            SQLULEN kept = 1;
            SQLGetStmtAttrW(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, &kept, 0, nullptr);
            block_rows_ = std::max<SQLULEN>(kept, 1);
        }
    }
    statement_.Checked(SQLSetStmtAttrW(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &rows_fetched_, 0),
                       "SQLSetStmtAttr(SQL_ATTR_ROWS_FETCHED_PTR)");
    for (std::size_t i = 0; i < cols_.size(); ++i) {
        Column& c = cols_[i];
        if (!c.bound) continue;
        c.data.assign(c.width * block_rows_, 0);
        c.indicators.assign(block_rows_, SQL_NULL_DATA);
        statement_.Checked(SQLBindCol(stmt_, static_cast<SQLUSMALLINT>(i + 1), c.c_type, c.data.data(),
                                      static_cast<SQLLEN>(c.width), c.indicators.data()),
                           "SQLBindCol");
    }
    bound_ = true;
}

bool OdbcCursor::FetchBlock() {
    if (ahead_) return TakeBlockAhead();
    rows_fetched_ = 0;
    if (!Settle(SQLFetch(stmt_), "SQLFetch", stmt_)) return false;
    // A driver that ignores the rows-fetched pointer on single-row fetches fetched one row.
    if (block_rows_ == 1 || rows_fetched_ == 0) rows_fetched_ = 1;
    // Two full blocks make a read long enough to pay for a thread.
    if (++blocks_fetched_ == 2 && WorthReadingAhead()) StartReadingAhead();
    return true;
}

bool OdbcCursor::Settle(SQLRETURN rc, const char* call, SQLHSTMT handle) {
    if (rc == SQL_SUCCESS_WITH_INFO) {
        // Truncation (01004) of a bound value is read again whole when the value is read; other warnings
        // go to the session.
        std::vector<Diagnostic> records =
            ReadDiagnostics(SQL_HANDLE_STMT, handle, statement_.core().traits.narrow_text);
        std::erase_if(records, [](const Diagnostic& d) { return d.sql_state == "01004"; });
        statement_.core().AddWarnings(std::move(records));
    } else if (rc != SQL_SUCCESS && rc != SQL_NO_DATA) {
        statement_.Fail(rc, call, handle);
    }
    if (TraceEnabled()) TraceCall(call, rc);
    statement_.core().last_contact = std::chrono::steady_clock::now();
    return rc != SQL_NO_DATA;
}

bool OdbcCursor::BlockTruncated(bool spare, SQLULEN rows) const {
    for (const Column& c : cols_) {
        if (!Truncatable(c.type.kind)) continue;
        const std::vector<SQLLEN>& indicators = spare ? c.spare_indicators : c.indicators;
        for (SQLULEN r = 0; r < rows && r < indicators.size(); ++r)
            if (Truncated(c.type.kind, c.width, indicators[r])) return true;
    }
    return false;
}

bool OdbcCursor::WorthReadingAhead() const {
    // A server's round trips are what a second thread hides; an embedded driver has none. A block cursor
    // has every column bound (long columns fetch single rows). A block with a truncated value is read
    // again through SQLSetPos, which needs it to be the driver's current block.
    const DriverKind kind = statement_.core().traits.kind;
    return (kind == DriverKind::kPostgreSQL || kind == DriverKind::kMariaDB) && block_rows_ > 1 &&
           rows_fetched_ == block_rows_ && !BlockTruncated(false, rows_fetched_);
}

void OdbcCursor::StartReadingAhead() {
    for (Column& c : cols_) {
        c.spare_data.assign(c.data.size(), 0);
        c.spare_indicators.assign(c.indicators.size(), SQL_NULL_DATA);
    }
    auto ahead = std::make_unique<Ahead>();
    // The driver writes a block's row count when it fetches it: not where the reader counts its rows. A
    // driver that refuses the move keeps the read on this thread.
    if (!Succeeded(SQLSetStmtAttrW(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &ahead->rows, 0))) return;
    try {
        ahead->worker = std::thread([this, a = ahead.get()] {
            while (true) {
                a->go.acquire();
                if (a->stop) return;
                FetchAhead(*a);
                a->done.release();
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: the reader fetches its own blocks, as for a short read.
        SQLSetStmtAttrW(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &rows_fetched_, 0);
        return;
    }
    // Only with the worker there: the FETCHes by name take rows the statement's handle will never see.
    StartRelay(*ahead);
    ahead_ = std::move(ahead);
    ahead_->in_flight = true;
    ahead_->go.release();
}

// On the reader, before the worker's first fetch: the FETCHes by name, when the driver's cursor is there.
void OdbcCursor::StartRelay(Ahead& a) {
    SessionCore& core = statement_.core();
    const std::size_t n = core.traits.cursor_fetch_rows;
    const std::size_t read = blocks_fetched_ * block_rows_;  // every block so far was full
    // Outside a transaction psqlODBC commits after any other statement, which would make the server store
    // the whole of its cursor's result first. A block that straddled the end of the driver's rows would
    // have the driver FETCH itself.
    if (n == 0 || !core.in_transaction || n % block_rows_ != 0 || read > n) return;
    SQLWCHAR name[130] = {};
    SQLSMALLINT length = 0;
    if (SQLGetCursorNameW(stmt_, name, 129, &length) != SQL_SUCCESS || length <= 0) return;
    const std::u16string cursor(reinterpret_cast<const char16_t*>(name), static_cast<std::size_t>(length));

    auto relay = std::make_unique<Relay>();
    relay->core = &core;
    try {
        relay->undo = Allocate<SQL_HANDLE_STMT>(SQL_HANDLE_DBC, core.dbc());
        for (StatementHandle& h : relay->handles) h = Allocate<SQL_HANDLE_STMT>(SQL_HANDLE_DBC, core.dbc());
    } catch (const ProviderError&) {
        return;  // the driver reads on alone
    }
    for (int i = 0; i < 2; ++i) {
        SQLHSTMT raw = relay->handles[i].get();
        if (!Succeeded(SQLSetStmtAttrW(raw, SQL_ATTR_ROW_ARRAY_SIZE,
                                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(block_rows_)), 0)) ||
            !Succeeded(SQLSetStmtAttrW(raw, SQL_ATTR_ROWS_FETCHED_PTR, &relay->fetched[i], 0)))
            return;
    }
    // The driver declares a cursor only for what it reads as a plain SELECT: ask the server whether this one
    // has it, rather than learn it from a failed FETCH.
    std::u16string literal;
    std::u16string quoted;
    for (char16_t ch : cursor) {
        literal += ch;
        quoted += ch;
        if (ch == u'\'') literal += ch;
        if (ch == u'"') quoted += ch;
    }
    std::u16string probe = u"SELECT 1 FROM pg_cursors WHERE name = '";
    probe.append(literal).append(u"'");
    SQLHSTMT h = relay->handles[0].get();
    bool declared;
    {
        std::lock_guard lock(core.lock);
        declared = Succeeded(Relay::Exec(h, probe)) && SQLFetch(h) == SQL_SUCCESS;
        SQLFreeStmt(h, SQL_CLOSE);
    }
    if (!declared) return;

    relay->rows_per_fetch = n;
    relay->rows_read = read;
    relay->plain = u"FETCH FORWARD ";
    relay->plain.append(ToUtf16(std::to_string(n))).append(u" FROM \"").append(quoted).append(u"\"");
    relay->guarded = u"SAVEPOINT korado_fetch;";
    relay->guarded.append(relay->plain).append(u";RELEASE SAVEPOINT korado_fetch");
    relay->Launch(0);
    a.relay = std::move(relay);
}

// On the worker: the handle read so far has given all its rows; the FETCH running ahead becomes the one
// read and the next FETCH starts on the other handle. False (with the failure in `a`) when that FETCH failed.
bool OdbcCursor::NextRelayHandle(Ahead& a) {
    Relay& r = *a.relay;
    if (r.running.joinable()) r.running.join();
    const int next = r.reading < 0 ? 0 : 1 - r.reading;
    // A failure, or SQL_NO_DATA: a driver may answer a FETCH past the end with no result at all, and the
    // read ends there.
    if (!Succeeded(r.running_rc)) {
        a.rc = r.running_rc;
        a.call = "SQLExecDirect";
        a.source = r.handles[next].get();
        return false;
    }
    if (r.reading >= 0) SQLFreeStmt(r.handles[r.reading].get(), SQL_CLOSE);
    r.reading = next;
    r.rows_read = 0;
    r.Launch(1 - next);
    return true;
}

// On the worker: the spare buffers take the next block.
void OdbcCursor::FetchAhead(Ahead& a) {
    a.rows = 0;
    a.truncated = false;
    Relay* r = a.relay.get();
    while (true) {
        // The driver's own rows end at its first FETCH's count: past it the driver would FETCH itself.
        if (r && r->reading < 0 && r->rows_read >= r->rows_per_fetch && !NextRelayHandle(a)) return;
        a.source = r && r->reading >= 0 ? r->handles[r->reading].get() : stmt_;
        a.call = "SQLBindCol";
        for (std::size_t i = 0; i < cols_.size(); ++i) {
            Column& c = cols_[i];
            if (!c.bound) continue;
            a.rc = SQLBindCol(a.source, static_cast<SQLUSMALLINT>(i + 1), c.c_type, c.spare_data.data(),
                              static_cast<SQLLEN>(c.width), c.spare_indicators.data());
            if (!Succeeded(a.rc)) return;
        }
        a.call = "SQLFetch";
        a.rc = SQLFetch(a.source);
        if (!r) break;
        if (r->reading >= 0) a.rows = r->fetched[r->reading];
        // A FETCH that brought all it was asked for may have more after it; one that brought fewer ended
        // the cursor.
        if (a.rc == SQL_NO_DATA && r->reading >= 0 && r->rows_read == r->rows_per_fetch) {
            if (!NextRelayHandle(a)) return;
            continue;
        }
        if (Succeeded(a.rc)) r->rows_read += a.rows;
        break;
    }
    if (Succeeded(a.rc)) a.truncated = BlockTruncated(true, a.rows);
}

bool OdbcCursor::TakeBlockAhead() {
    Ahead& a = *ahead_;
    if (!a.in_flight) {
        a.in_flight = true;
        a.go.release();
    }
    a.done.acquire();
    a.in_flight = false;
    if (!Settle(a.rc, a.call, a.source)) {
        StopReadingAhead();
        return false;
    }
    block_stmt_ = a.source;
    for (Column& c : cols_) {
        c.data.swap(c.spare_data);
        c.indicators.swap(c.spare_indicators);
    }
    rows_fetched_ = std::max<SQLULEN>(a.rows, 1);
    ++blocks_fetched_;
    if (!a.truncated) {
        a.in_flight = true;
        a.go.release();
    }
    return true;
}

void OdbcCursor::StopReadingAhead() noexcept {
    if (!ahead_) return;
    if (ahead_->in_flight) ahead_->done.acquire();
    ahead_->stop = true;
    ahead_->go.release();
    ahead_->worker.join();
    ahead_.reset();
    block_stmt_ = stmt_;
    SQLSetStmtAttrW(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &rows_fetched_, 0);
}

bool OdbcCursor::Next() {
    if (done_) return false;
    if (bound_ && row_ + 1 < rows_fetched_) {
        ++row_;
    } else {
        if (!bound_) Bind();
        if (!FetchBlock()) {
            done_ = true;
            return false;
        }
        row_ = 0;
    }
    ++row_serial_;
    positioned_ = false;
    next_unbound_ = 0;
    return true;
}

void OdbcCursor::Read(std::size_t index, Variant& out) {
    if (index >= cols_.size() || row_serial_ == 0 || done_) [[unlikely]]
        NoCurrentRecord();
    Column& c = cols_[index];
    if (c.cached_row == row_serial_) {
        out = c.cached;
        return;
    }
    if (!c.bound) {
        ReadLong(index, out);
        return;
    }
    // A bound value is read straight from the block into `out`; only one the driver truncated leaves this
    // path.
    SQLLEN indicator = c.indicators[row_];
    if (indicator == SQL_NULL_DATA) {
        out.AssignNull();
        return;
    }
    const unsigned char* p = c.data.data() + row_ * c.width;
    auto length = static_cast<std::size_t>(indicator);
    switch (c.type.kind) {
        case ValueKind::kText:
            if (Truncated(ValueKind::kText, c.width, indicator)) break;
            AssignText(out, reinterpret_cast<const char16_t*>(p), length / 2);
            return;
        case ValueKind::kGuid:
            if (Truncated(ValueKind::kGuid, c.width, indicator)) break;
            AssignGuid(out, reinterpret_cast<const char16_t*>(p), length / 2);
            return;
        case ValueKind::kBinary:
            if (Truncated(ValueKind::kBinary, c.width, indicator)) break;
            out.AssignBytes(p, length);
            return;
        case ValueKind::kNumeric:
            if (Truncated(ValueKind::kNumeric, c.width, indicator)) break;
            AssignNumeric(out, std::string_view(reinterpret_cast<const char*>(p), length));
            return;
        default:
            AssignFixed(out, c.type.kind, p);
            return;
    }
    ReadTruncated(c, index, out);
}

void OdbcCursor::NoCurrentRecord() {
    throw Error(ado::adErrNoCurrentRecord, "ADODB.Field",
                "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
                "requires a current record.");
}

void OdbcCursor::ReadTruncated(Column& c, std::size_t index, Variant& out) {
    // The value did not fit the column's described size: read it again whole.
    if (block_rows_ > 1 && !positioned_) {
        SQLRETURN rc =
            SQLSetPos(block_stmt_, static_cast<SQLSETPOSIROW>(row_ + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE);
        if (!Succeeded(rc)) statement_.Fail(rc, "SQLSetPos", block_stmt_);
        positioned_ = true;
    }
    GetData(index, c.cached);
    c.cached_row = row_serial_;
    out = c.cached;
}

void OdbcCursor::ReadLong(std::size_t index, Variant& out) {
    if (!statement_.core().traits.getdata_any_order) {
        // Earlier long columns first, kept for when they are asked for.
        for (std::size_t j = next_unbound_; j < index; ++j) {
            Column& e = cols_[j];
            if (e.bound || e.cached_row == row_serial_) continue;
            GetData(j, e.cached);
            e.cached_row = row_serial_;
        }
    }
    Column& c = cols_[index];
    GetData(index, c.cached);
    c.cached_row = row_serial_;
    next_unbound_ = std::max(next_unbound_, index + 1);
    out = c.cached;
}

void OdbcCursor::GetData(std::size_t index, Variant& out) {
    Column& c = cols_[index];
    auto column = static_cast<SQLUSMALLINT>(index + 1);
    SQLLEN indicator = 0;
    switch (c.type.kind) {
        case ValueKind::kText:
        case ValueKind::kGuid: {
            std::u16string text;
            chunk_.resize(kChunkUnits);
            while (true) {
                SQLRETURN rc = SQLGetData(block_stmt_, column, SQL_C_WCHAR, chunk_.data(),
                                          static_cast<SQLLEN>(chunk_.size() * sizeof(SQLWCHAR)), &indicator);
                if (rc == SQL_NO_DATA) break;
                if (!Succeeded(rc)) statement_.Fail(rc, "SQLGetData", block_stmt_);
                if (indicator == SQL_NULL_DATA) {
                    out.AssignNull();
                    return;
                }
                std::size_t room = chunk_.size() - 1;
                bool complete = indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) / 2 <= room;
                std::size_t got = complete ? static_cast<std::size_t>(indicator) / 2 : room;
                if (!complete) {
                    // A driver that keeps a character's two halves together fills less than the buffer.
                    std::size_t nul = std::u16string_view(chunk_.data(), room).find(u'\0');
                    if (nul != std::u16string_view::npos) got = nul;
                    if (indicator != SQL_NO_TOTAL && text.empty())
                        text.reserve(static_cast<std::size_t>(indicator) / 2);
                }
                text.append(chunk_.data(), got);
                if (complete) break;
            }
            if (c.type.kind == ValueKind::kGuid) {
                out = GuidVariant(text.data(), text.size());
            } else {
                AssignText(out, text.data(), text.size());
            }
            return;
        }
        case ValueKind::kBinary:
        case ValueKind::kNumeric: {
            bool binary = c.type.kind == ValueKind::kBinary;
            std::string bytes;
            std::string buffer(kChunkUnits * 2, '\0');
            while (true) {
                SQLRETURN rc = SQLGetData(block_stmt_, column, binary ? SQL_C_BINARY : SQL_C_CHAR,
                                          buffer.data(), static_cast<SQLLEN>(buffer.size()), &indicator);
                if (rc == SQL_NO_DATA) break;
                if (!Succeeded(rc)) statement_.Fail(rc, "SQLGetData", block_stmt_);
                if (indicator == SQL_NULL_DATA) {
                    out.AssignNull();
                    return;
                }
                std::size_t room = binary ? buffer.size() : buffer.size() - 1;
                bool complete = indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) <= room;
                std::size_t got = complete ? static_cast<std::size_t>(indicator) : room;
                if (!complete && indicator != SQL_NO_TOTAL && bytes.empty())
                    bytes.reserve(static_cast<std::size_t>(indicator));
                bytes.append(buffer.data(), got);
                if (complete) break;
            }
            if (binary) {
                out.AssignBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            } else {
                AssignNumeric(out, bytes);
            }
            return;
        }
        default: {
            alignas(16) unsigned char buffer[64] = {};
            SQLRETURN rc = SQLGetData(block_stmt_, column, c.c_type, buffer, sizeof buffer, &indicator);
            if (rc == SQL_NO_DATA) {
                out.AssignNull();
                return;
            }
            if (!Succeeded(rc)) statement_.Fail(rc, "SQLGetData", block_stmt_);
            if (indicator == SQL_NULL_DATA) {
                out.AssignNull();
            } else {
                AssignFixed(out, c.type.kind, buffer);
            }
            return;
        }
    }
}

}  // namespace korado::dataaccess::odbc
