// The SQLite provider: sessions over sqlite3 connections, statements with a per-session cache of prepared
// statements, cursors that read rows in place, and the platform's schema rowsets.
#include "dataaccess/providers/sqlite/sqlite_provider.h"

#include <sqlite3.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <unordered_map>

#include "dataaccess/memory_cursor.h"
#include "dataaccess/platform_error.h"
#include "dataaccess/value_text.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/strings.h"
#include "runtime/hot_path.h"
#include "runtime/pooled.h"

namespace korado::dataaccess::sqlite {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kStatementCacheSize = 64;
constexpr int kProgressInstructions = 1000;
// Julian day number of 1899-12-30 00:00, day 0 of the platform's dates.
constexpr double kJulianOfDateZero = 2415018.5;

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool Truthy(std::string_view s) {
    s = Trimmed(s);
    return TextEquals(s, "true") || TextEquals(s, "yes") || s == "1" || s == "-1";
}

[[noreturn]] void ThrowDiagnostic(std::int32_t number, std::string description, int native,
                                  std::string sql_state, std::string_view sql = {}) {
    ProviderError e({Diagnostic{number, std::string(kErrorSource), std::move(description), native,
                                std::move(sql_state)}});
    if (!sql.empty()) e.WithSQL(std::string(sql));
    throw e;
}

bool IsDml(sqlite3_stmt* stmt) {
    const char* sql = sqlite3_sql(stmt);
    if (!sql) return false;
    std::string_view s = Trimmed(sql);
    auto starts = [&](std::string_view word) {
        return s.size() >= word.size() && TextEquals(s.substr(0, word.size()), word);
    };
    return starts("INSERT") || starts("UPDATE") || starts("DELETE") || starts("REPLACE") || starts("WITH");
}

bool FitsInt32(std::int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

class SqliteSession;

// The per-session cache of prepared statements, keyed by the text they were prepared from (the rest of a
// command's text from where the statement starts) and looked up without building a key string. An entry
// stays in the cache while a statement runs it, marked in use, so that taking it and giving it back
// touches nothing but the entry.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
struct CacheEntry {
    sqlite3_stmt* stmt = nullptr;
    std::size_t consumed = 0;
    std::uint64_t last_used = 0;
    bool dml = false;  // INSERT, UPDATE, DELETE, REPLACE or WITH: it reports rows affected
    bool in_use = false;
    int action_markers = -1;  // see Prepared
};
using StatementCache = std::unordered_multimap<std::string, CacheEntry, TextHash, std::equal_to<>>;
using CacheSlot = StatementCache::value_type;

// A prepared statement, how much of the text it covers, whether it reports rows affected, and the cache
// entry it belongs to (null for a statement prepared afresh, which Return caches).
struct Prepared {
    sqlite3_stmt* stmt = nullptr;
    std::size_t consumed = 0;
    bool dml = false;
    CacheSlot* entry = nullptr;
    bool copies_bound = false;  // SQLite holds copies of bound values, to be let go on return
    // The markers of a statement that RunAction can run at once (the whole text, no result columns), else
    // -1. Known from the prepared statement, so that running it again asks SQLite nothing: a statement
    // without columns keeps none when a schema change makes SQLite prepare it again.
    int action_markers = -1;
};

class SqliteCursor final : public Cursor {
  public:
    explicit SqliteCursor(SqliteSession& session) : session_(session) {}

    void Begin(sqlite3_stmt* stmt, bool on_first_row) {
        stmt_ = stmt;
        pending_ = on_first_row;
        on_row_ = on_first_row;
        done_ = !on_first_row;
        described_ = false;
        columns_.clear();
        types_.clear();
    }
    void End() { stmt_ = nullptr; }

    const std::vector<ColumnInfo>& Columns() const override {
        if (!described_) Describe();
        return columns_;
    }
    bool Next() override;
    void Read(std::size_t column, Variant& out) override;
    bool ReadView(std::size_t column, std::string_view& data, ViewKind& kind) override;

  private:
    void Describe() const;

    SqliteSession& session_;
    sqlite3_stmt* stmt_ = nullptr;
    bool pending_ = false;  // the first row is stepped to but not yet handed out
    bool on_row_ = false;
    bool done_ = true;
    mutable bool described_ = false;
    mutable std::vector<ColumnInfo> columns_;
    mutable std::vector<ColumnType> types_;
};

class SqliteStatement final : public Statement, public Pooled<SqliteStatement> {
  public:
    SqliteStatement(SqliteSession& session, std::string_view text, const ExecuteOptions& options);
    ~SqliteStatement() override;

    void Execute(std::span<ParamBinding> params) override;
    Cursor* Result() override { return !ActionsPending() && has_rows_ ? &cursor_ : nullptr; }
    std::int64_t RowsAffected() override { return ActionsPending() ? actions_[first_action_] : -1; }
    bool NextResult() override;
    bool MayHaveMoreResults() override {
        return has_rows_ || first_action_ + 1 < actions_.size() || offset_ + current_.consumed < text_.size();
    }
    // SQLite has no output parameters ("Output Parameter Availability" is 1): values stay as bound.
    void FetchOutputParameters(std::span<ParamBinding>) override {}
    void Cancel() override;

  private:
    // Runs statements until one returns rows or none is left; action statements on the way are done at
    // once and their counts queued, so that a batch ("CREATE ...; INSERT ...") runs even when nobody asks
    // for its later results. Statements after a row-returning one wait for NextResult.
    void Advance();
    bool RunNext();
    void ReleaseCurrent();
    void Bind(sqlite3_stmt* stmt);
    // `lasting`: the value outlives every step that reads it, so SQLite may point at its text rather than
    // copy it.
    void BindOne(sqlite3_stmt* stmt, int index, const ParamBinding& b, std::size_t position, bool lasting);

    SqliteSession& session_;
    std::string text_;
    int timeout_seconds_;
    std::vector<ParamBinding> params_;     // a copy, for statements run after Execute returned
    std::span<ParamBinding> call_params_;  // the caller's, while Execute runs
    bool in_execute_ = false;
    std::size_t offset_ = 0;  // where the current (or next) statement starts in text_
    Prepared current_;
    std::size_t next_param_ = 0;
    bool has_rows_ = false;
    std::int64_t affected_ = -1;
    // Counts of action statements run but not yet handed out, from actions_[first_action_] on.
    std::vector<std::int64_t> actions_;
    std::size_t first_action_ = 0;
    bool ActionsPending() const noexcept { return first_action_ < actions_.size(); }
    SqliteCursor cursor_;
};

class SqliteSession final : public Session {
  public:
    SqliteSession(std::shared_ptr<Provider> provider, sqlite3* db, std::string path, bool read_only,
                  std::string extended)
        : provider_(std::move(provider)),
          db_(db),
          path_(std::move(path)),
          read_only_(read_only),
          extended_(std::move(extended)),
          lookups_(db) {
        // Installed once: a running statement arms it (Arm), everything else passes through untouched.
        sqlite3_progress_handler(db_, kProgressInstructions, &SqliteSession::Progress, this);
    }

    ~SqliteSession() override {
        for (auto& [key, entry] : cache_) sqlite3_finalize(entry.stmt);
        lookups_.Clear();
        sqlite3_close_v2(db_);
    }

    std::unique_ptr<Statement> Prepare(std::string_view text, const ExecuteOptions& options) override;
    bool RunAction(std::string_view text, std::span<const ParamBinding* const> params,
                   const ExecuteOptions& options, std::int64_t& affected) override;
    void BeginTransaction() override;
    void Commit() override;
    void Rollback() override;
    std::vector<PropertyValue> InfoProperties() override;
    std::unique_ptr<Cursor> Schema(std::int32_t schema, std::span<const Variant> restrictions) override;
    bool IsAlive() override { return true; }
    // Nothing the properties report changes while the file is open.
    std::uint64_t PropertiesGeneration() override { return 1; }
    bool PropertiesSettled() override { return true; }
    void CreateTable(std::string_view name, std::span<const ColumnDefinition> columns) override {
        const std::string sql = CreateTableText(name, columns);
        const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) return;
        std::string message = sqlite3_errmsg(db_);
        if (message.find("already exists") != std::string::npos)
            ThrowDiagnostic(hr::DB_E_DUPLICATETABLEID, std::move(message), rc, "42S01", sql);
        Fail(rc, true, sql);
    }
    void Cancel() override { cancel_requested_ = true; }
    // SQLite numbers a new row only through its rowid, which an INTEGER PRIMARY KEY column (the only
    // kind that may be AUTOINCREMENT) is another name for.
    Variant GeneratedKey(const ColumnInfo& column) override {
        if (!column.auto_increment) return Variant();
        return Variant(static_cast<long long>(sqlite3_last_insert_rowid(db_)));
    }

    int KeyColumnCount(const ColumnInfo& column) override {
        if (column.base_table.empty()) return -1;
        const std::string place =
            column.base_catalog.empty() ? "" : QuoteIdentifier(column.base_catalog) + ".";
        const std::string sql = "PRAGMA " + place + "table_info(" + QuoteIdentifier(column.base_table) + ")";
        int keys = 0;
        for (const auto& row : Query(sql))
            if (row.size() > 5 && !row[5].IsNull() && CLngLng(row[5]) > 0) ++keys;
        // A table that declares no key is keyed by its rowid.
        return keys == 0 ? 1 : keys;
    }

    sqlite3* db() const noexcept { return db_; }
    bool read_only() const noexcept { return read_only_; }

    Prepared Checkout(std::string_view text);
    void Return(std::string_view text, Prepared&& p);

    // Watches a running statement for its time-out and for Cancel. A time-out counts in seconds, so the
    // coarse clock (a few milliseconds fine, and cheap to read) measures it, read only by statements that
    // run long enough to be asked how they are doing.
    void Arm(int timeout_seconds) {
        cancel_requested_ = false;
        timed_out_ = false;
        timeout_seconds_ = timeout_seconds;
        deadline_known_ = false;
        armed_ = true;
    }
    void Disarm() { armed_ = false; }

    // Buffers of finished statements, handed to the next one so that a statement run again and again
    // allocates nothing for its text and its results.
    struct Buffers {
        std::string text;
        std::vector<std::int64_t> actions;
    };
    Buffers TakeBuffers() { return std::move(spare_); }
    void GiveBuffers(Buffers&& b) {
        b.text.clear();
        b.actions.clear();
        spare_ = std::move(b);
    }

    [[noreturn]] void Fail(int code, bool preparing, std::string_view sql = {}) {
        std::string message = sqlite3_errmsg(db_);
        Diagnosis d = DiagnoseSqlite(code, message, preparing, timed_out_);
        if ((code & 0xFF) == SQLITE_INTERRUPT && timed_out_) message = "Query timeout expired";
        ThrowDiagnostic(d.number, std::move(message), code, d.sql_state, sql);
    }

  private:
    static Clock::time_point CoarseNow() noexcept {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
        return Clock::time_point(std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec));
    }
    static int Progress(void* self) {
        auto* s = static_cast<SqliteSession*>(self);
        if (!s->armed_) return 0;
        if (s->cancel_requested_) return 1;
        if (s->timeout_seconds_ <= 0) return 0;
        // The clock is read once the statement has run a while (most end before the first call), so the
        // time-out counts from a few thousand steps in: nothing next to a second.
        const Clock::time_point now = CoarseNow();
        if (!s->deadline_known_) {
            s->deadline_ = now + std::chrono::seconds(s->timeout_seconds_);
            s->deadline_known_ = true;
        } else if (now >= s->deadline_) {
            s->timed_out_ = true;
            return 1;
        }
        return 0;
    }
    void Exec(const std::string& sql);
    std::vector<std::vector<Variant>> Query(const std::string& sql);
    std::vector<std::string> Databases();
    std::vector<std::pair<std::string, std::string>> Tables(std::span<const Variant> restrictions);

    std::shared_ptr<Provider> provider_;
    sqlite3* db_;
    std::string path_;
    bool read_only_;
    std::string extended_;
    StatementCache cache_;
    TableLookups lookups_;
    CacheSlot* last_ = nullptr;  // the entry checked out last: the next statement is often the same
    std::uint64_t use_counter_ = 0;
    Buffers spare_;
    int depth_ = 0;  // transactions begun through BeginTransaction and not yet ended
    bool armed_ = false;
    bool cancel_requested_ = false;
    bool timed_out_ = false;
    int timeout_seconds_ = 0;     // of the running statement; 0: none
    bool deadline_known_ = false;  // deadline_ set, at the first progress call
    Clock::time_point deadline_;
};

// ---- cursor ------------------------------------------------------------------------------------------
bool SqliteCursor::Next() {
    if (!stmt_ || done_) return false;
    if (pending_) {
        pending_ = false;
        return true;
    }
    // An expression column's type is taken from the first row; look before leaving it.
    if (!described_) Describe();
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    on_row_ = false;
    done_ = true;
    if (rc == SQLITE_DONE) return false;
    session_.Fail(rc, false, sqlite3_sql(stmt_));
}

void SqliteCursor::Describe() const {
    sqlite3* db = session_.db();
    const int n = sqlite3_column_count(stmt_);
    columns_.assign(static_cast<std::size_t>(n), ColumnInfo{});
    types_.assign(static_cast<std::size_t>(n), ColumnType{});
    for (int c = 0; c < n; ++c) {
        ColumnInfo& info = columns_[static_cast<std::size_t>(c)];
        const char* name = sqlite3_column_name(stmt_, c);
        info.name = name ? name : "";
        const char* decl = sqlite3_column_decltype(stmt_, c);
        ColumnType type = decl ? MapDeclaredType(decl) : ColumnType{};
        if (!type.declared) {
            int storage = on_row_ ? sqlite3_column_type(stmt_, c) : SQLITE_NULL;
            std::size_t bytes =
                storage == SQLITE_TEXT ? static_cast<std::size_t>(sqlite3_column_bytes(stmt_, c)) : 0;
            type = TypeOfValue(storage, bytes);
        }
        types_[static_cast<std::size_t>(c)] = type;
        info.type = type.type;
        info.defined_size = type.defined_size;
        info.precision = type.precision;
        info.scale = type.scale;
        info.attributes = type.attributes;
        const char* table = sqlite3_column_table_name(stmt_, c);
        const char* origin = sqlite3_column_origin_name(stmt_, c);
        const char* database = sqlite3_column_database_name(stmt_, c);
        if (table && origin) {
            info.base_catalog = database ? database : "";
            info.base_table = table;
            info.base_column = origin;
            const char* col_decl = nullptr;
            int not_null = 0, primary_key = 0, autoinc = 0;
            if (sqlite3_table_column_metadata(db, database, table, origin, &col_decl, nullptr, &not_null,
                                              &primary_key, &autoinc) == SQLITE_OK) {
                info.key_column = primary_key != 0;
                // A column "INTEGER PRIMARY KEY" is the rowid: never null, numbered by the engine.
                const bool rowid = primary_key && col_decl && TextEquals(col_decl, "INTEGER");
                info.auto_increment = autoinc != 0 || rowid;
                if (!not_null && !rowid) info.attributes |= ado::adFldIsNullable | ado::adFldMayBeNull;
                if (info.key_column) info.attributes |= ado::adFldKeyColumn;
            } else {
                info.attributes |= ado::adFldIsNullable | ado::adFldMayBeNull;
            }
            if (!session_.read_only()) info.attributes |= ado::adFldUpdatable;
        } else {
            info.attributes |= ado::adFldIsNullable | ado::adFldMayBeNull;
        }
    }
    described_ = true;
}

bool SqliteCursor::ReadView(std::size_t column, std::string_view& data, ViewKind& kind) {
    // One look-up of the cell, as in Read.
    sqlite3_value* cell = sqlite3_column_value(stmt_, static_cast<int>(column));
    const int storage = sqlite3_value_type(cell);
    if (storage != SQLITE_TEXT && storage != SQLITE_BLOB) return false;
    if (!described_) Describe();
    const ValueKind value_kind = types_[column].kind;
    // The same values Read gives: a blob always as bytes, text as text where no conversion applies.
    if (storage == SQLITE_BLOB || value_kind == ValueKind::kBinary) {
        const void* blob = sqlite3_value_blob(cell);
        data = std::string_view(static_cast<const char*>(blob),
                                static_cast<std::size_t>(sqlite3_value_bytes(cell)));
        kind = ViewKind::kBytes;
        return true;
    }
    if (value_kind != ValueKind::kText && value_kind != ValueKind::kGuid && value_kind != ValueKind::kAny)
        return false;
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(cell));
    data = std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(cell)));
    kind = ViewKind::kText;
    return true;
}

void SqliteCursor::Read(std::size_t column, Variant& out) {
    // The cell is looked up once and read through its value: each sqlite3_column_* call looks the cell up
    // again, and a text cell took three of them. The value is read at once, before the statement steps,
    // on a connection opened without a mutex, so that it needs none held ("protected").
    sqlite3_value* cell = sqlite3_column_value(stmt_, static_cast<int>(column));
    const int storage = sqlite3_value_type(cell);
    if (storage == SQLITE_NULL) {
        out = Variant::Null();
        return;
    }
    if (!described_) Describe();
    const ColumnType& type = types_[column];
    switch (type.kind) {
        case ValueKind::kInt32:
            if (storage == SQLITE_INTEGER) {
                std::int64_t v = sqlite3_value_int64(cell);
                if (FitsInt32(v)) {
                    out = Variant(static_cast<int>(v));
                } else {
                    out = Variant(static_cast<long long>(v));
                }
                return;
            }
            break;
        case ValueKind::kInt64:
            if (storage == SQLITE_INTEGER) {
                out = Variant(static_cast<long long>(sqlite3_value_int64(cell)));
                return;
            }
            break;
        case ValueKind::kInt16:
            if (storage == SQLITE_INTEGER) {
                std::int64_t v = sqlite3_value_int64(cell);
                if (v >= INT16_MIN && v <= INT16_MAX) {
                    out = Variant(static_cast<std::int16_t>(v));
                } else if (FitsInt32(v)) {
                    out = Variant(static_cast<int>(v));
                } else {
                    out = Variant(static_cast<long long>(v));
                }
                return;
            }
            break;
        case ValueKind::kDouble:
            if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
                out = Variant(sqlite3_value_double(cell));
                return;
            }
            break;
        case ValueKind::kBool:
            if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
                out = Variant(sqlite3_value_double(cell) != 0);
                return;
            }
            if (storage == SQLITE_TEXT) {
                std::string_view t(reinterpret_cast<const char*>(sqlite3_value_text(cell)),
                                   static_cast<std::size_t>(sqlite3_value_bytes(cell)));
                if (TextEquals(t, "true")) {
                    out = Variant(true);
                    return;
                }
                if (TextEquals(t, "false")) {
                    out = Variant(false);
                    return;
                }
            }
            break;
        case ValueKind::kNumeric: {
            std::optional<Decimal> d;
            if (storage == SQLITE_INTEGER) {
                d = Decimal{sqlite3_value_int64(cell), 0};
            } else if (storage == SQLITE_FLOAT) {
                d = DecimalFromDouble(sqlite3_value_double(cell), type.scale_given ? type.scale : -1);
            } else if (storage == SQLITE_TEXT) {
                d = ParseDecimal(std::string_view(reinterpret_cast<const char*>(sqlite3_value_text(cell)),
                                                  static_cast<std::size_t>(sqlite3_value_bytes(cell))));
            }
            if (d && type.scale_given) d = RescaleDecimal(*d, type.scale);
            if (d) {
                out = Variant(*d);
                return;
            }
            break;
        }
        case ValueKind::kCurrency: {
            std::optional<Decimal> d;
            if (storage == SQLITE_INTEGER) {
                d = Decimal{sqlite3_value_int64(cell), 0};
            } else if (storage == SQLITE_FLOAT) {
                d = DecimalFromDouble(sqlite3_value_double(cell), 4);
            } else if (storage == SQLITE_TEXT) {
                d = ParseDecimal(std::string_view(reinterpret_cast<const char*>(sqlite3_value_text(cell)),
                                                  static_cast<std::size_t>(sqlite3_value_bytes(cell))));
            }
            if (d) d = RescaleDecimal(*d, 4);
            if (d && d->mantissa <= INT64_MAX && d->mantissa >= INT64_MIN) {
                out = Variant(Currency{static_cast<std::int64_t>(d->mantissa)});
                return;
            }
            break;
        }
        case ValueKind::kDate:
            if (storage == SQLITE_TEXT) {
                std::string_view t(reinterpret_cast<const char*>(sqlite3_value_text(cell)),
                                   static_cast<std::size_t>(sqlite3_value_bytes(cell)));
                if (std::optional<Date> d = ParseIsoDate(t)) {
                    out = Variant(*d);
                    return;
                }
            } else if (storage == SQLITE_FLOAT) {
                // A real in a date column is a Julian day number, as SQLite's date functions read it.
                out = Variant(Date{sqlite3_value_double(cell) - kJulianOfDateZero});
                return;
            }
            break;
        case ValueKind::kText:
        case ValueKind::kGuid:
            if (storage != SQLITE_BLOB) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(cell));
                out.AssignString(
                    std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(cell))));
                return;
            }
            break;
        case ValueKind::kBinary: {
            const void* blob = sqlite3_value_blob(cell);
            out.AssignBytes(static_cast<const std::uint8_t*>(blob),
                            static_cast<std::size_t>(sqlite3_value_bytes(cell)));
            return;
        }
        case ValueKind::kAny:
            break;
    }
    // The value as stored: SQLite keeps any value in any column.
    switch (storage) {
        case SQLITE_INTEGER:
            out = Variant(static_cast<long long>(sqlite3_value_int64(cell)));
            return;
        case SQLITE_FLOAT:
            out = Variant(sqlite3_value_double(cell));
            return;
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(cell));
            out.AssignString(std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(cell))));
            return;
        }
        default: {
            const void* blob = sqlite3_value_blob(cell);
            out.AssignBytes(static_cast<const std::uint8_t*>(blob),
                            static_cast<std::size_t>(sqlite3_value_bytes(cell)));
            return;
        }
    }
}

// ---- statement ---------------------------------------------------------------------------------------
SqliteStatement::SqliteStatement(SqliteSession& session, std::string_view text, const ExecuteOptions& options)
    : session_(session), timeout_seconds_(options.timeout_seconds), cursor_(session) {
    SqliteSession::Buffers buffers = session.TakeBuffers();
    text_ = std::move(buffers.text);
    text_.assign(text);
    actions_ = std::move(buffers.actions);
}

SqliteStatement::~SqliteStatement() {
    ReleaseCurrent();
    session_.GiveBuffers({std::move(text_), std::move(actions_)});
}

void SqliteStatement::ReleaseCurrent() {
    cursor_.End();
    has_rows_ = false;
    if (!current_.stmt) return;
    const std::size_t consumed = current_.consumed;
    session_.Return(std::string_view(text_).substr(offset_), std::move(current_));
    offset_ += consumed;
    current_ = Prepared{};
}

void SqliteStatement::Execute(std::span<ParamBinding> params) {
    ReleaseCurrent();
    offset_ = 0;
    next_param_ = 0;
    actions_.clear();
    first_action_ = 0;
    params_.clear();
    call_params_ = params;
    in_execute_ = true;
    try {
        Advance();
    } catch (...) {
        in_execute_ = false;
        throw;
    }
    in_execute_ = false;
    // Statements after a row-returning one run later, when the caller's parameters are gone.
    if (offset_ + current_.consumed < text_.size()) params_.assign(params.begin(), params.end());
    // A text of nothing but comments is one result without rows.
    if (!ActionsPending() && !has_rows_) actions_.push_back(-1);
}

void SqliteStatement::Advance() {
    while (RunNext()) {
        if (has_rows_) return;
        actions_.push_back(affected_);
    }
}

bool SqliteStatement::NextResult() {
    if (ActionsPending()) {
        ++first_action_;
        if (ActionsPending() || has_rows_) return true;
    } else if (has_rows_) {
        ReleaseCurrent();
    } else {
        return false;
    }
    Advance();
    return ActionsPending() || has_rows_;
}

void SqliteStatement::Cancel() { session_.Cancel(); }

bool SqliteStatement::RunNext() {
    ReleaseCurrent();
    while (offset_ < text_.size()) {
        Prepared p = session_.Checkout(std::string_view(text_).substr(offset_));
        if (!p.stmt) {
            // Only blanks, comments or an empty ";" until the next statement.
            if (p.consumed == 0) break;
            offset_ += p.consumed;
            continue;
        }
        current_ = std::move(p);
        sqlite3* db = session_.db();
        try {
            Bind(current_.stmt);
        } catch (...) {
            ReleaseCurrent();
            throw;
        }
        session_.Arm(timeout_seconds_);
        const int rc = sqlite3_step(current_.stmt);
        session_.Disarm();
        if (rc == SQLITE_ROW || (rc == SQLITE_DONE && sqlite3_column_count(current_.stmt) > 0)) {
            has_rows_ = true;
            affected_ = -1;
            cursor_.Begin(current_.stmt, rc == SQLITE_ROW);
            return true;
        }
        if (rc == SQLITE_DONE) {
            has_rows_ = false;
            affected_ = current_.dml ? sqlite3_changes64(db) : -1;
            return true;
        }
        std::string sql = sqlite3_sql(current_.stmt) ? sqlite3_sql(current_.stmt) : "";
        try {
            session_.Fail(rc, false, sql);
        } catch (...) {
            ReleaseCurrent();
            throw;
        }
    }
    has_rows_ = false;
    return false;
}

void SqliteStatement::Bind(sqlite3_stmt* stmt) {
    const int n = sqlite3_bind_parameter_count(stmt);
    // While Execute runs the values are the caller's, and SQLite copies them unless the statement returns
    // no rows: that one runs to its end before Execute returns, and no step reads its values after that.
    // Statements run after Execute bind our own copy, which lives as long as the statement.
    const bool lasting = !in_execute_ || sqlite3_column_count(stmt) == 0;
    for (int i = 1; i <= n; ++i) {
        const std::size_t position = next_param_ + static_cast<std::size_t>(i) - 1;
        const std::size_t available = in_execute_ ? call_params_.size() : params_.size();
        if (position >= available) {
            ThrowDiagnostic(hr::DB_E_PARAMNOTOPTIONAL, "No value given for one or more required parameters.",
                            0, "07002", sqlite3_sql(stmt));
        }
        BindOne(stmt, i, in_execute_ ? call_params_[position] : params_[position], position, lasting);
    }
    next_param_ += static_cast<std::size_t>(n);
}

namespace {

// The general way of binding, for every type and kind of value (below).
void BindAnyValue(SqliteSession& session, Prepared& current, sqlite3_stmt* stmt, int index,
                  const ParamBinding& b, std::size_t position, bool lasting);

// Binds one value. `lasting`: the value outlives every step that reads it, so SQLite may point at its text
// rather than copy it; copies it makes are noted in `current`. The input most statements bind, a number to
// a Double or a text to a VarChar, goes straight in; everything else takes the general way.
KORADO_HOT void BindValue(SqliteSession& session, Prepared& current, sqlite3_stmt* stmt, int index,
                          const ParamBinding& b, std::size_t position, bool lasting) {
    if (b.direction == ado::adParamInput) {
        int rc = SQLITE_MISUSE;  // until bound here; a bind that fails here fails the same way below
        if (b.type == ado::adDouble) {
            if (const auto* d = b.value.get_if<double>()) {
                rc = sqlite3_bind_double(stmt, index, *d);
            } else if (const auto* n = b.value.get_if<std::int32_t>()) {
                rc = sqlite3_bind_double(stmt, index, *n);
            }
        } else if (b.type == ado::adVarChar && lasting) {
            if (const auto* text = b.value.get_if<std::string>())
                rc = sqlite3_bind_text64(stmt, index, text->data(), text->size(), SQLITE_STATIC, SQLITE_UTF8);
        }
        if (rc == SQLITE_OK) return;
    }
    BindAnyValue(session, current, stmt, index, b, position, lasting);
}

void BindAnyValue(SqliteSession& session, Prepared& current, sqlite3_stmt* stmt, int index,
                  const ParamBinding& b, std::size_t position, bool lasting) {
    const Variant& v = b.value;
    int rc = SQLITE_OK;
    // `stable`: the bytes are the binding's own, not a conversion made here.
    auto bind_text = [&](const std::string& s, bool stable) {
        if (!(stable && lasting)) current.copies_bound = true;
        rc = sqlite3_bind_text64(stmt, index, s.data(), s.size(),
                                 stable && lasting ? SQLITE_STATIC : SQLITE_TRANSIENT, SQLITE_UTF8);
    };
    auto bind_bytes = [&](const std::uint8_t* data, std::size_t size, bool stable) {
        if (!(stable && lasting)) current.copies_bound = true;
        rc = sqlite3_bind_blob64(stmt, index, size ? static_cast<const void*>(data) : "", size,
                                 stable && lasting ? SQLITE_STATIC : SQLITE_TRANSIENT);
    };
    auto bind_decimal = [&](const Decimal& d) {
        // Up to 15 significant digits a REAL keeps the value; more go in as text, exact.
        __int128 m = d.mantissa < 0 ? -d.mantissa : d.mantissa;
        if (m < static_cast<__int128>(1000000000000000LL)) {
            rc = sqlite3_bind_double(stmt, index, DecimalToDouble(d));
        } else {
            bind_text(FormatDecimal(d), false);
        }
    };
    auto bind_date = [&](Date d, IsoStyle style) { bind_text(FormatIsoDate(d, style), false); };
    auto bind_by_value = [&]() {
        switch (v.Type()) {
            case VarType::Boolean:
                rc = sqlite3_bind_int(stmt, index, *v.get_if<bool>() ? 1 : 0);
                break;
            case VarType::Byte:
            case VarType::Integer:
            case VarType::Long:
            case VarType::LongLong:
                rc = sqlite3_bind_int64(stmt, index, CLngLng(v));
                break;
            case VarType::Single:
            case VarType::Double:
            case VarType::Currency:
                rc = sqlite3_bind_double(stmt, index, CDbl(v));
                break;
            case VarType::Decimal:
                bind_decimal(*v.get_if<Decimal>());
                break;
            case VarType::Date:
                bind_date(*v.get_if<Date>(), IsoStyle::kAuto);
                break;
            case VarType::String:
                bind_text(*v.get_if<std::string>(), true);
                break;
            case VarType::ByteArray: {
                const Bytes& bytes = *v.get_if<Bytes>();
                bind_bytes(bytes.data(), bytes.size(), true);
                break;
            }
            case VarType::Error:
                rc = sqlite3_bind_null(stmt, index);
                break;
            default:
                RaiseRuntime(rt::TypeMismatch);
        }
    };
    try {
        if (v.IsEmpty() || v.IsNull() || v.IsMissing() || b.direction == ado::adParamOutput ||
            b.direction == ado::adParamReturnValue) {
            rc = sqlite3_bind_null(stmt, index);
        } else {
            switch (b.type) {
                case ado::adTinyInt:
                case ado::adSmallInt:
                case ado::adInteger:
                case ado::adBigInt:
                case ado::adUnsignedTinyInt:
                case ado::adUnsignedSmallInt:
                case ado::adUnsignedInt:
                case ado::adUnsignedBigInt:
                    rc = sqlite3_bind_int64(stmt, index, CLngLng(v));
                    break;
                case ado::adBoolean:
                    rc = sqlite3_bind_int(stmt, index, CBool(v) ? 1 : 0);
                    break;
                case ado::adSingle:
                case ado::adDouble:
                case ado::adCurrency:
                    rc = sqlite3_bind_double(stmt, index, CDbl(v));
                    break;
                case ado::adNumeric:
                case ado::adDecimal:
                case ado::adVarNumeric:
                    bind_decimal(CDec(v));
                    break;
                case ado::adDate:
                    bind_date(CDate(v), IsoStyle::kAuto);
                    break;
                case ado::adDBTimeStamp:
                    bind_date(CDate(v), IsoStyle::kDateTime);
                    break;
                case ado::adDBDate:
                    bind_date(CDate(v), IsoStyle::kDate);
                    break;
                case ado::adDBTime:
                    bind_date(CDate(v), IsoStyle::kTime);
                    break;
                case ado::adBSTR:
                case ado::adChar:
                case ado::adVarChar:
                case ado::adLongVarChar:
                case ado::adWChar:
                case ado::adVarWChar:
                case ado::adLongVarWChar:
                case ado::adGUID:
                    if (v.IsString()) {
                        bind_text(*v.get_if<std::string>(), true);
                    } else if (const Bytes* bytes = v.get_if<Bytes>()) {
                        bind_bytes(bytes->data(), bytes->size(), true);
                    } else if (const Date* d = v.get_if<Date>()) {
                        bind_date(*d, IsoStyle::kAuto);
                    } else {
                        bind_text(CStr(v), false);
                    }
                    break;
                case ado::adBinary:
                case ado::adVarBinary:
                case ado::adLongVarBinary:
                    if (const Bytes* bytes = v.get_if<Bytes>()) {
                        bind_bytes(bytes->data(), bytes->size(), true);
                    } else {
                        std::string s = CStr(v);
                        bind_bytes(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), false);
                    }
                    break;
                default:
                    bind_by_value();
                    break;
            }
        }
    } catch (const korado::Error& e) {
        ThrowDiagnostic(hr::DB_E_CANTCONVERTVALUE,
                        "Parameter " + std::to_string(position + 1) +
                            (b.name.empty() ? std::string() : " (" + b.name + ")") +
                            ": the value cannot be converted to the parameter's type. " + e.Description(),
                        0, "22018");
    }
    if (rc != SQLITE_OK) session.Fail(rc, false);
}

}  // namespace

void SqliteStatement::BindOne(sqlite3_stmt* stmt, int index, const ParamBinding& b, std::size_t position,
                              bool lasting) {
    BindValue(session_, current_, stmt, index, b, position, lasting);
}

// ---- session -----------------------------------------------------------------------------------------
KORADO_HOT Prepared SqliteSession::Checkout(std::string_view text) {
    ++use_counter_;
    CacheSlot* hit = nullptr;
    if (last_ && !last_->second.in_use && SameBytes(last_->first, text)) {
        hit = last_;
    } else {
        for (auto [it, end] = cache_.equal_range(text); it != end; ++it) {
            if (!it->second.in_use) {
                hit = &*it;
                break;
            }
        }
    }
    if (hit) {
        hit->second.in_use = true;
        last_ = hit;
        Prepared p{hit->second.stmt, hit->second.consumed, hit->second.dml, hit};
        p.action_markers = hit->second.action_markers;
        return p;
    }
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v3(db_, text.data(), static_cast<int>(text.size()),
                                      SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
    if (rc != SQLITE_OK) Fail(rc, true, text);
    Prepared p;
    p.stmt = stmt;
    p.consumed = tail ? static_cast<std::size_t>(tail - text.data()) : text.size();
    p.dml = stmt && IsDml(stmt);
    // Nothing but blanks after the statement, and no columns.
    if (stmt && text.substr(p.consumed).find_first_not_of(" \t\r\n") == std::string_view::npos &&
        sqlite3_column_count(stmt) == 0)
        p.action_markers = sqlite3_bind_parameter_count(stmt);
    return p;
}

KORADO_HOT void SqliteSession::Return(std::string_view text, Prepared&& p) {
    if (!p.stmt) return;
    sqlite3_reset(p.stmt);
    // Copies SQLite made of bound values go now rather than when the statement next runs. Values it points
    // at are never read again: every run binds all parameters before its first step.
    if (p.copies_bound) sqlite3_clear_bindings(p.stmt);
    if (p.entry) {
        p.entry->second.in_use = false;
        p.entry->second.last_used = ++use_counter_;
        return;
    }
    if (cache_.size() >= kStatementCacheSize) {
        // The least recently used entry that no statement is running goes; with every one running, the
        // new statement is not kept.
        auto oldest = cache_.end();
        for (auto it = cache_.begin(); it != cache_.end(); ++it) {
            if (!it->second.in_use && (oldest == cache_.end() || it->second.last_used < oldest->second.last_used))
                oldest = it;
        }
        if (oldest == cache_.end()) {
            sqlite3_finalize(p.stmt);
            return;
        }
        if (last_ == &*oldest) last_ = nullptr;
        sqlite3_finalize(oldest->second.stmt);
        cache_.erase(oldest);
    }
    cache_.emplace(std::string(text),
                   CacheEntry{p.stmt, p.consumed, ++use_counter_, p.dml, false, p.action_markers});
}

KORADO_HOT bool SqliteSession::RunAction(std::string_view text, std::span<const ParamBinding* const> params,
                                         const ExecuteOptions& options, std::int64_t& affected) {
    if (options.command_type != ado::adCmdText) return false;
    Prepared p = Checkout(text);
    if (!p.stmt) return false;
    // One statement (nothing but blanks after it), no columns, and a value for every marker: anything else
    // goes the general way, which runs batches in turn and reports missing values.
    const int markers = p.action_markers;
    if (markers < 0 || static_cast<std::size_t>(markers) > params.size()) {
        Return(text, std::move(p));
        return false;
    }
    int rc = SQLITE_OK;
    try {
        // The statement runs to its end before this returns: SQLite may point at the caller's values.
        for (int i = 1; i <= markers; ++i)
            BindValue(*this, p, p.stmt, i, *params[static_cast<std::size_t>(i - 1)],
                      static_cast<std::size_t>(i - 1), true);
        Arm(options.timeout_seconds);
        rc = sqlite3_step(p.stmt);
        Disarm();
        if (rc != SQLITE_DONE) Fail(rc, false, sqlite3_sql(p.stmt) ? sqlite3_sql(p.stmt) : "");
    } catch (...) {
        Disarm();
        Return(text, std::move(p));
        throw;
    }
    affected = p.dml ? sqlite3_changes64(db_) : -1;
    Return(text, std::move(p));
    return true;
}

std::unique_ptr<Statement> SqliteSession::Prepare(std::string_view text, const ExecuteOptions& options) {
    std::string table_sql;
    switch (options.command_type) {
        case ado::adCmdTable:
        case ado::adCmdTableDirect: {
            // A table name, maybe qualified by its database ("main.orders"); already quoted parts stay.
            std::string_view name = Trimmed(text);
            if (!name.empty() && (name.front() == '"' || name.front() == '[' || name.front() == '`')) {
                table_sql = "SELECT * FROM " + std::string(name);
            } else {
                std::size_t dot = name.find('.');
                table_sql = "SELECT * FROM " + (dot == std::string_view::npos
                                              ? QuoteIdentifier(name)
                                              : QuoteIdentifier(name.substr(0, dot)) + "." +
                                                    QuoteIdentifier(name.substr(dot + 1)));
            }
            return std::make_unique<SqliteStatement>(*this, table_sql, options);
        }
        case ado::adCmdStoredProc:
            ThrowDiagnostic(hr::DB_E_NOTSUPPORTED, "SQLite has no stored procedures: " + std::string(text), 0,
                            "IM001");
        case ado::adCmdFile:
            ThrowDiagnostic(hr::DB_E_NOTSUPPORTED, "The SQLite provider cannot open a file as a command.", 0,
                            "IM001");
        default:
            return std::make_unique<SqliteStatement>(*this, text, options);
    }
}

void SqliteSession::Exec(const std::string& sql) {
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) Fail(rc, false, sql);
}

void SqliteSession::BeginTransaction() {
    // Nested transactions are savepoints inside the outer one.
    Exec(depth_ == 0 ? std::string("BEGIN") : "SAVEPOINT korado_" + std::to_string(depth_));
    ++depth_;
}

void SqliteSession::Commit() {
    if (depth_ > 1) {
        Exec("RELEASE korado_" + std::to_string(depth_ - 1));
        --depth_;
        return;
    }
    // At depth 0 a transaction begun with BEGIN in SQL text is committed; with none, SQLite says so.
    depth_ = 0;
    Exec("COMMIT");
}

void SqliteSession::Rollback() {
    if (depth_ > 1 && !sqlite3_get_autocommit(db_)) {
        std::string name = "korado_" + std::to_string(depth_ - 1);
        Exec("ROLLBACK TO " + name + "; RELEASE " + name);
        --depth_;
        return;
    }
    const bool begun_here = depth_ > 0;
    depth_ = 0;
    // SQLite rolls a transaction back by itself after some failures (an interrupted write, a full disk);
    // there is then nothing left to undo.
    if (begun_here && sqlite3_get_autocommit(db_)) return;
    Exec("ROLLBACK");
}

std::vector<PropertyValue> SqliteSession::InfoProperties() {
    const std::int32_t r = ado::adPropRead, rw = ado::adPropRead | ado::adPropWrite;
    const bool read_only = sqlite3_db_readonly(db_, "main") == 1;
    return {
        {"Active Sessions", ado::adInteger, r, Variant(0)},
        {"Catalog Term", ado::adBSTR, r, Variant("database")},
        // A database file has no catalog of its own (as the desktop file databases report none), so hosts
        // name the connection by its file.
        {"Current Catalog", ado::adBSTR, rw, Variant("")},
        {"Data Source", ado::adBSTR, rw, Variant(path_)},
        {"Data Source Name", ado::adBSTR, r, Variant(path_)},
        {"DBMS Name", ado::adBSTR, r, Variant("SQLite")},
        {"DBMS Version", ado::adBSTR, r, Variant(sqlite3_libversion())},
        {"Extended Properties", ado::adBSTR, rw, Variant(extended_)},
        {"Identifier Case Sensitivity", ado::adInteger, r, Variant(8)},
        {"Multiple Results", ado::adInteger, r, Variant(1)},
        {"OLE DB Version", ado::adBSTR, r, Variant("02.50")},
        {"Output Parameter Availability", ado::adInteger, r, Variant(ado::DBPROPVAL_OA_NOTSUPPORTED)},
        {"Provider Friendly Name", ado::adBSTR, r, Variant(std::string(provider_->FriendlyName()))},
        {"Provider Name", ado::adBSTR, r, Variant(std::string(provider_->FileName()))},
        {"Provider Version", ado::adBSTR, r, Variant(std::string(provider_->ProviderVersion()))},
        {"Read-Only Data Source", ado::adBoolean, r, Variant(read_only)},
        {"Schema Term", ado::adBSTR, r, Variant("")},
        {"Server Name", ado::adBSTR, r, Variant(path_)},
        {"Transaction DDL", ado::adInteger, r, Variant(ado::DBPROPVAL_TC_ALL)},
        {"User ID", ado::adBSTR, rw, Variant("")},
        {"User Name", ado::adBSTR, r, Variant("")},
        {"Connection Status", ado::adInteger, r, Variant(1)},
    };
}

std::vector<std::vector<Variant>> SqliteSession::Query(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr);
    if (rc != SQLITE_OK) Fail(rc, true, sql);
    std::vector<std::vector<Variant>> rows;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        std::vector<Variant> row;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
            switch (sqlite3_column_type(stmt, c)) {
                case SQLITE_NULL:
                    row.push_back(Variant::Null());
                    break;
                case SQLITE_INTEGER:
                    row.push_back(Variant(static_cast<long long>(sqlite3_column_int64(stmt, c))));
                    break;
                default:
                    row.push_back(Variant(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c))));
                    break;
            }
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) Fail(rc, false, sql);
    return rows;
}

// A restriction that is Empty, Null or missing restricts nothing.
const Variant* Restriction(std::span<const Variant> restrictions, std::size_t i) {
    if (i >= restrictions.size()) return nullptr;
    const Variant& v = restrictions[i];
    if (v.IsEmpty() || v.IsNull() || v.IsMissing()) return nullptr;
    return &v;
}

// SQLite calls its attached databases ("main", "temp", ...) schemas; the rowsets show each one's name as
// both catalog and schema, as the bridge does for sources without schemas, so that a schema restriction
// from the dictionary and a catalog restriction select the same database.
bool DatabasePasses(std::span<const Variant> restrictions, const std::string& db_name) {
    for (std::size_t i : {0, 1}) {
        const Variant* r = Restriction(restrictions, i);
        if (r && !TextEquals(CStr(*r), db_name)) return false;
    }
    return true;
}

// The databases the rowsets list: every attached one, "temp" only once it holds something.
std::vector<std::string> SqliteSession::Databases() {
    std::vector<std::string> out;
    for (int i = 0; const char* db_name = sqlite3_db_name(db_, i); ++i) {
        if (std::string_view(db_name) == "temp") {
            const std::optional<bool> holds = lookups_.TempHoldsSomething();
            if (!holds) Fail(sqlite3_extended_errcode(db_), false, kTempRows);
            if (!*holds) continue;
        }
        out.emplace_back(db_name);
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> SqliteSession::Tables(
    std::span<const Variant> restrictions) {
    // (database, name) of every table and view that passes the database and name restrictions.
    std::vector<std::pair<std::string, std::string>> out;
    const Variant* table = Restriction(restrictions, 2);
    for (const std::string& db_name : Databases()) {
        if (!DatabasePasses(restrictions, db_name)) continue;
        if (std::string stored; table && lookups_.Find(db_name, CStr(*table), stored) == TableLookup::kFound) {
            out.emplace_back(db_name, std::move(stored));
            continue;
        }
        std::string sql = "SELECT name FROM " + QuoteIdentifier(db_name) +
                          ".sqlite_schema WHERE type IN ('table','view') ORDER BY name";
        for (const auto& row : Query(sql)) {
            std::string name = CStr(row[0]);
            if (table && !TextEquals(CStr(*table), name)) continue;
            out.emplace_back(db_name, name);
        }
    }
    return out;
}

std::unique_ptr<Cursor> SqliteSession::Schema(std::int32_t schema, std::span<const Variant> restrictions) {
    switch (schema) {
        case ado::adSchemaSchemata: {
            std::vector<std::vector<Variant>> rows;
            std::vector<std::string> names = Databases();
            std::sort(names.begin(), names.end());
            for (const std::string& db_name : names) {
                // No database has an owner, so an owner restriction matches nothing.
                if (!DatabasePasses(restrictions, db_name) || Restriction(restrictions, 2)) continue;
                rows.push_back({Variant(db_name), Variant(db_name), Variant::Null(), Variant::Null(),
                                Variant::Null(), Variant::Null()});
            }
            return std::make_unique<MemoryCursor>(SchemataColumns(), std::move(rows));
        }
        case ado::adSchemaTables: {
            std::vector<std::vector<Variant>> rows;
            const Variant* table = Restriction(restrictions, 2);
            const Variant* type = Restriction(restrictions, 3);
            for (const std::string& db_name : Databases()) {
                if (!DatabasePasses(restrictions, db_name)) continue;
                std::vector<std::pair<std::string, std::string>> entries;  // (name, table type)
                std::string sql = "SELECT name, type FROM " + QuoteIdentifier(db_name) +
                                  ".sqlite_schema WHERE type IN ('table','view')";
                for (const auto& row : Query(sql)) {
                    std::string name = CStr(row[0]);
                    std::string kind = CStr(row[1]);
                    std::string type_name;
                    if (kind == "view") {
                        type_name = "VIEW";
                    } else if (name.rfind("sqlite_", 0) == 0) {
                        type_name = "SYSTEM TABLE";
                    } else if (db_name == "temp") {
                        type_name = "LOCAL TEMPORARY";
                    } else {
                        type_name = "TABLE";
                    }
                    entries.emplace_back(name, type_name);
                }
                // The catalog table itself is a system table, though it does not list itself.
                entries.emplace_back(db_name == "temp" ? "sqlite_temp_schema" : "sqlite_schema",
                                     "SYSTEM TABLE");
                for (auto& [name, type_name] : entries) {
                    if (table && !TextEquals(CStr(*table), name)) continue;
                    if (type && !TextEquals(CStr(*type), type_name)) continue;
                    rows.push_back({Variant(db_name), Variant(db_name), Variant(name), Variant(type_name),
                                    Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(),
                                    Variant::Null()});
                }
            }
            std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
                const std::string ta = CStr(a[3]), tb = CStr(b[3]);
                if (ta != tb) return ta < tb;
                const std::string ca = CStr(a[0]), cb = CStr(b[0]);
                if (ca != cb) return ca < cb;
                return CStr(a[2]) < CStr(b[2]);
            });
            return std::make_unique<MemoryCursor>(TablesColumns(), std::move(rows));
        }
        case ado::adSchemaColumns: {
            std::vector<std::vector<Variant>> rows;
            const Variant* column = Restriction(restrictions, 3);
            std::vector<std::pair<std::string, std::string>> tables = Tables(restrictions);
            std::sort(tables.begin(), tables.end());
            for (const auto& [db_name, table] : tables) {
                std::string sql =
                    "PRAGMA " + QuoteIdentifier(db_name) + ".table_xinfo(" + QuoteIdentifier(table) + ")";
                for (const auto& info : Query(sql)) {
                    // cid, name, type, notnull, dflt_value, pk, hidden
                    const std::int64_t hidden = info.size() > 6 ? CLngLng(info[6]) : 0;
                    if (hidden == 1) continue;  // a virtual table's hidden column
                    std::string name = CStr(info[1]);
                    if (column && !TextEquals(CStr(*column), name)) continue;
                    std::string declared = info[2].IsNull() ? std::string() : CStr(info[2]);
                    ColumnType t = MapDeclaredType(declared);
                    if (!t.declared) t = TypeOfValue(SQLITE_NULL, 0);
                    const bool pk = CLngLng(info[5]) != 0;
                    const bool rowid = pk && TextEquals(declared, "INTEGER");
                    const bool nullable = CLngLng(info[3]) == 0 && !rowid;
                    std::int32_t flags = t.attributes;
                    if (nullable) flags |= ado::adFldIsNullable | ado::adFldMayBeNull;
                    if (!read_only_) flags |= ado::adFldUpdatable;
                    if (pk) flags |= ado::adFldKeyColumn;
                    const bool text =
                        t.kind == ValueKind::kText || t.kind == ValueKind::kBinary ||
                        (t.kind == ValueKind::kAny && t.type != ado::adBigInt && t.type != ado::adDouble);
                    Variant max_length = Variant::Null(), octet_length = Variant::Null();
                    if (text) {
                        std::int64_t n = t.defined_size > 0 ? t.defined_size : 2147483647LL;
                        max_length = Variant(static_cast<long long>(n));
                        bool wide = t.kind != ValueKind::kBinary;
                        octet_length = Variant(static_cast<long long>(wide && n < 1073741823LL ? n * 2 : n));
                    }
                    Variant precision = Variant::Null(), scale = Variant::Null(),
                            datetime_precision = Variant::Null();
                    switch (t.kind) {
                        case ValueKind::kInt16:
                        case ValueKind::kInt32:
                        case ValueKind::kInt64:
                        case ValueKind::kDouble:
                        case ValueKind::kCurrency:
                            precision = Variant(static_cast<int>(t.precision));
                            break;
                        case ValueKind::kNumeric:
                            precision = Variant(static_cast<int>(t.precision));
                            scale = Variant(static_cast<std::int16_t>(t.scale));
                            break;
                        case ValueKind::kDate:
                            datetime_precision = Variant(0);
                            break;
                        default:
                            break;
                    }
                    rows.push_back({
                        Variant(db_name),
                        Variant(db_name),
                        Variant(table),
                        Variant(name),
                        Variant::Null(),
                        Variant::Null(),
                        Variant(static_cast<int>(CLngLng(info[0]) + 1)),
                        Variant(!info[4].IsNull()),
                        info[4].IsNull() ? Variant::Null() : Variant(CStr(info[4])),
                        Variant(flags),
                        Variant(nullable),
                        Variant(t.type),
                        Variant::Null(),
                        max_length,
                        octet_length,
                        precision,
                        scale,
                        datetime_precision,
                        Variant::Null(),
                        Variant::Null(),
                        Variant::Null(),
                        Variant::Null(),
                        Variant::Null(),
                        Variant::Null(),
                        Variant::Null(),
                        Variant::Null(),
                        Variant::Null(),
                        Variant::Null(),
                    });
                }
            }
            return std::make_unique<MemoryCursor>(ColumnsColumns(), std::move(rows));
        }
        default:
            RaiseAdo(ado::adErrFeatureNotAvailable, "ADODB.Connection");
    }
}

// ---- provider ----------------------------------------------------------------------------------------
std::string VersionText() {
    // "##.##.####" from the engine's own version: 3.40.1 gives "03.40.0001".
    int v = sqlite3_libversion_number();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", v / 1000000, v / 1000 % 1000, v % 1000);
    return buf;
}

class SqliteProvider final : public Provider, public std::enable_shared_from_this<SqliteProvider> {
  public:
    std::string_view Name() const override { return "SQLite"; }
    std::string_view VersionedName() const override { return "SQLite.1"; }
    std::string_view FriendlyName() const override { return "korADO Provider for SQLite"; }
    std::string_view ErrorSource() const override { return kErrorSource; }
    std::string_view FileName() const override { return "libsqlite3.so.0"; }
    std::string_view ProviderVersion() const override { return version_; }

    std::unique_ptr<Session> Open(const OpenRequest& request) override {
        const ConnectionString& cs = request.connection_string;
        std::string path = cs.Get("Data Source");
        if (Trimmed(path).empty()) {
            ThrowDiagnostic(hr::E_FAIL, "The connection string names no database file (Data Source).",
                            SQLITE_CANTOPEN, "08001");
        }
        std::string mode = cs.Get("Mode");
        const bool read_only = TextEquals(Trimmed(mode), "Read") || Trimmed(mode) == "1" ||
                               Truthy(cs.Get("Read Only")) || Truthy(cs.Get("ReadOnly"));
        int flags = SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
        if (read_only) {
            flags |= SQLITE_OPEN_READONLY;
        } else {
            flags |= SQLITE_OPEN_READWRITE;
            if (!Truthy(cs.Get("FailIfMissing"))) flags |= SQLITE_OPEN_CREATE;
        }
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
        if (rc == SQLITE_OK) rc = sqlite3_extended_result_codes(db, 1);
        // The file is only read on first use: look at it now, so that Open fails for a file that is not a
        // database rather than the first query.
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
            int code = db ? sqlite3_extended_errcode(db) : rc;
            sqlite3_close_v2(db);
            if ((code & 0xFF) == SQLITE_CANTOPEN) message += " (" + path + ")";
            Diagnosis d = DiagnoseSqlite(code, message, false, false);
            ThrowDiagnostic(d.number, std::move(message), code, d.sql_state);
        }
        std::string busy = cs.Get("Busy Timeout");
        int busy_ms = 5000;
        if (std::optional<double> n = ParseNumber(busy); n && *n >= 0) busy_ms = static_cast<int>(*n);
        sqlite3_busy_timeout(db, busy_ms);
        if (!cs.Has("Foreign Keys") || Truthy(cs.Get("Foreign Keys")))
            sqlite3_exec(db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);

        ConnectionString shown = cs;
        shown.Remove("Password");
        shown.Remove("PWD");
        return std::make_unique<SqliteSession>(shared_from_this(), db, path, read_only, shown.ToString());
    }

    void CreateDataSource(const OpenRequest& request) override {
        std::string path = request.connection_string.Get("Data Source");
        sqlite3* probe = nullptr;
        // Without a file there is nothing to refuse: Open says what is missing, and a memory database is new.
        if (!Trimmed(path).empty() && path != ":memory:" &&
            sqlite3_open_v2(path.c_str(), &probe, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) ==
            SQLITE_OK) {
            sqlite3_close_v2(probe);
            // The catalog refuses an existing file itself: it must never be opened for writing here.
            throw Error(hr::DB_E_DUPLICATEDATASOURCE, "ADOX.Catalog", "Database already exists: " + path);
        }
        sqlite3_close_v2(probe);
        Open(request);
    }

  private:
    std::string version_ = VersionText();
};

const bool kRegistered = [] {
    RegisterProvider("SQLite", [] { return MakeSqliteProvider(); });
    return true;
}();

}  // namespace

std::shared_ptr<Provider> MakeSqliteProvider() {
    static std::shared_ptr<SqliteProvider> provider = std::make_shared<SqliteProvider>();
    return provider;
}

}  // namespace korado::dataaccess::sqlite
