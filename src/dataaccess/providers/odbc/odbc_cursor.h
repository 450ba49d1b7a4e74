// The bridge's cursor over one result of an OdbcStatement.
//
// Rows come in blocks: short columns (numbers, dates, text and binary up to the bind limit) are bound
// column-wise to arrays of a few hundred rows and one SQLFetch fills them all (SQL_ATTR_ROW_ARRAY_SIZE).
// Long columns (LONG types, unknown or large sizes) are read with SQLGetData in chunks, which ODBC allows
// only one row at a time, so a result with any long column fetches single rows. A bound value the driver
// had to truncate (its column was wider than described) is read again whole with SQLGetData, after
// SQLSetPos on a block (drivers with SQL_GD_BLOCK); for a driver without SQL_GD_BLOCK, text and binary
// columns are read through single-row fetches so that this stays possible.
//
// Read may take columns in any order and more than once; values read with SQLGetData are kept for the row
// (and read in ascending column order for drivers that want it).
//
// A long read from a server (PostgreSQL, MariaDB) fetches one block ahead on a thread of its own, into a
// second set of buffers, while the rows of the current block are read: the driver's conversions and the
// server's round trips then overlap with what the caller does with the values. The statement handle is
// used by one thread at a time (the reader waits for the block fetched ahead before it touches the handle),
// the driver's diagnostics of a fetch are read by the reader when it reaches that block, and a block with
// a truncated value is the last one fetched until the reader has left it, so that SQLSetPos still finds it.
//
// On PostgreSQL inside a transaction, such a read also keeps the server busy while psqlODBC converts: the
// driver reads a SELECT through a server cursor it declares, a FETCH of n rows at a time, and waits for
// each FETCH only when its rows are used up, leaving the server idle while it converts them. Once the rows
// of the driver's first FETCH are read, the cursor takes the rest itself: FETCHes of the driver's cursor by
// name on two more statement handles, the next one running on a thread of its own while the worker
// converts the rows of the current one. The statement's own handle is not fetched from past the driver's
// first n rows, so the driver and the cursor never take the same rows. Each of these FETCHes runs with its
// undo under the session lock (odbc_session.h), as one call of the session's.
//
// Failures: Next and Read raise ProviderError with the driver's records.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dataaccess/providers/odbc/odbc_session.h"

namespace korado::dataaccess::odbc {

class OdbcCursor final : public Cursor {
  public:
    OdbcCursor(OdbcStatement& statement, SQLSMALLINT column_count);
    ~OdbcCursor() override;

    const std::vector<ColumnInfo>& Columns() const override { return columns_; }
    bool Next() override;
    void Read(std::size_t column, Variant& out) override;
    void SetFetchSize(std::int32_t rows) override;

    // Rows per SQLFetch this cursor uses (1 when it reads long data); for tests.
    std::size_t BlockRows() const noexcept { return block_rows_; }
    // Whether a thread fetches the next block while this one is read; for tests.
    bool ReadsAhead() const noexcept { return ahead_ != nullptr; }
    // Whether the rows after the driver's first FETCH come from the cursor's own FETCHes; for tests.
    bool FetchesByName() const noexcept;

  private:
    struct Column {
        FieldType type;
        bool bound = false;
        SQLSMALLINT c_type = SQL_C_WCHAR;
        std::size_t width = 0;  // bytes per row in `data`
        std::vector<unsigned char> data;
        std::vector<SQLLEN> indicators;
        std::vector<unsigned char> spare_data;  // the block fetched ahead, swapped in when it is reached
        std::vector<SQLLEN> spare_indicators;
        Variant cached;  // a value read with SQLGetData, for row `cached_row`
        std::uint64_t cached_row = 0;
    };

    void Describe(SQLSMALLINT column_count);
    void DescribeBase();
    void Plan();
    void Bind();
    bool FetchBlock();
    bool Settle(SQLRETURN rc, const char* call, SQLHSTMT handle);
    struct Ahead;
    struct Relay;
    void StartRelay(Ahead& a);
    bool NextRelayHandle(Ahead& a);
    bool BlockTruncated(bool spare, SQLULEN rows) const;
    bool WorthReadingAhead() const;
    void StartReadingAhead();
    void FetchAhead(Ahead& a);
    bool TakeBlockAhead();
    void StopReadingAhead() noexcept;
    [[noreturn]] static void NoCurrentRecord();
    void ReadTruncated(Column& c, std::size_t index, Variant& out);
    void ReadLong(std::size_t index, Variant& out);
    void GetData(std::size_t index, Variant& out);

    OdbcStatement& statement_;
    SQLHSTMT stmt_;
    SQLHSTMT block_stmt_;  // the handle the current block came from (SQLSetPos and SQLGetData go there)
    std::vector<ColumnInfo> columns_;
    std::vector<Column> cols_;
    std::size_t block_rows_ = 1;
    std::size_t wanted_rows_ = 0;  // SetFetchSize before the first fetch
    SQLULEN rows_fetched_ = 0;
    std::size_t row_ = 0;           // index in the block
    std::uint64_t row_serial_ = 0;  // counts rows, for the SQLGetData cache
    bool bound_ = false;
    bool positioned_ = false;  // SQLSetPos done for the current row of a block
    bool done_ = false;
    std::size_t next_unbound_ = 0;  // first column not yet read by SQLGetData in this row
    std::u16string chunk_;
    std::size_t blocks_fetched_ = 0;
    std::unique_ptr<Ahead> ahead_;  // the thread fetching the next block, once a read is long
};

}  // namespace korado::dataaccess::odbc
