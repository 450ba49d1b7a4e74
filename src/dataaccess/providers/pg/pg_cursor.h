// The native provider's statement and its forward-only cursor (internal to the provider).
//
// A statement sends its command once per Execute and reads the server's answer in single-row mode: the
// cursor holds one row's PGresult at a time, so a long result costs no more memory than a row. While its
// rows stream the connection is the cursor's; any other command of the session first makes the cursor
// take the rest of the answer into memory (Detach), as the server will not take a command in between.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/providers/pg/pg_provider.h"

namespace korado::dataaccess::pg {

class PgStatement;

class PgCursor final : public Cursor {
  public:
    // `described`: the prepared statement's description (columns with their sources), or null to describe
    // the result itself.
    PgCursor(PgStatement& statement, PGresult* first, const PgSession::Prepared* described);
    ~PgCursor() override;
    const std::vector<ColumnInfo>& Columns() const override { return columns_; }
    bool Next() override;
    void Read(std::size_t column, Variant& out) override;
    bool ReadView(std::size_t column, std::string_view& data, ViewKind& kind) override;

  private:
    PgStatement& statement_;
    std::vector<ColumnInfo> columns_;
    std::vector<ValueKind> kinds_;
    PGresult* result_ = nullptr;  // the rows at hand
    int row_ = -1;
    bool done_ = false;
};

class PgStatement final : public Statement {
  public:
    PgStatement(PgSession& session, std::string_view text, const ExecuteOptions& options);
    ~PgStatement() override;

    void Execute(std::span<ParamBinding> params) override;
    Cursor* Result() override { return cursor_.get(); }
    std::int64_t RowsAffected() override { return rows_affected_; }
    bool NextResult() override;
    bool MayHaveMoreResults() override { return !finished_; }
    void FetchOutputParameters(std::span<ParamBinding> params) override;
    void Cancel() override { session_.Cancel(); }

    // For the cursor: the next PGresult of the answer (nullptr at its end), from memory once detached.
    PGresult* Pull();
    // Reads the whole rest of the answer into memory.
    void Buffer();
    PgSession& session() noexcept { return session_; }
    [[noreturn]] void Fail(PGresult* result);

  private:
    // Makes `result` (the first of a command's answer) current.
    void Start(PGresult* result);
    // The answer is all read: the statement's savepoint is released, the connection free.
    void Finish(bool failed);
    void Drain() noexcept;
    std::string CommandText(std::span<ParamBinding> params);

    PgSession& session_;
    std::string text_;
    ExecuteOptions options_;
    std::unique_ptr<PgCursor> cursor_;
    std::int64_t rows_affected_ = -1;
    std::deque<PGresult*> buffered_;
    bool detached_ = false;
    bool finished_ = true;
    bool savepoint_ = false;
    bool skip_outputs_ = false;     // OUT parameters have no marker (a function's)
    bool consume_outputs_ = false;  // the answer's row holds the output parameters
    std::vector<Variant> outputs_;
    const PgSession::Prepared* described_ = nullptr;
};

}  // namespace korado::dataaccess::pg
