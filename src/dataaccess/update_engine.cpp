#include "dataaccess/update_engine.h"

#include "dataaccess/platform_error.h"
#include "dataaccess/properties.h"
#include "dataaccess/type_kinds.h"
#include "korado/platform/ado_enums.h"
#include "korado/runtime/strings.h"

namespace korado::dataaccess {

namespace {

// EditModeEnum.
constexpr std::int32_t kEditNone = 0, kEditInProgress = 1, kEditAdd = 2, kEditDelete = 4;

constexpr const char* kNotFound =
    "Row cannot be located for updating. Some values may have been changed since it was last read.";
// The text of the platform's builds; the number is E_FAIL, as the platform's builds raise it, and as
// hosts that tell "too many rows" from other cursor engine failures expect.
constexpr const char* kTooMany =
    "Key column information is insufficient or incorrect. Too many rows were affected by update.";
constexpr const char* kNoBaseTable = "Insufficient base table information for updating or refreshing.";

[[noreturn]] void RaiseEngine(std::int32_t number, const char* text) {
    Diagnostic d;
    d.number = number;
    d.source = kCursorEngine;
    d.description = text;
    throw ProviderError({std::move(d)});
}

bool SameTable(const ColumnInfo& a, const ColumnInfo& b) {
    return a.base_table == b.base_table && a.base_schema == b.base_schema && a.base_catalog == b.base_catalog;
}

}  // namespace

UpdateEngine::UpdateEngine(const std::vector<ColumnInfo>& columns, bool batch, Session* session)
    : columns_(columns), table_of_(columns.size(), -1), batch_(batch) {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        const ColumnInfo& info = columns_[c];
        if (info.base_table.empty() || info.base_column.empty()) continue;
        std::size_t t = 0;
        while (t < tables_.size() && !SameTable(columns_[tables_[t].first_column], info)) ++t;
        if (t == tables_.size()) tables_.push_back(Table{{}, c, {}});
        table_of_[c] = static_cast<int>(t);
        if (info.key_column) tables_[t].keys.push_back(c);
    }
    // A table whose key the result lacks would leave the engine guessing which row a change is for.
    // Part of a composite key could match several rows.
    bool keyed = !tables_.empty();
    for (const Table& t : tables_) {
        const int whole = session ? session->KeyColumnCount(columns_[t.first_column]) : -1;
        keyed = keyed && !t.keys.empty() && (whole < 0 || t.keys.size() >= static_cast<std::size_t>(whole));
    }
    can_update_ = keyed;
    can_add_delete_ = keyed && tables_.size() == 1;
}

bool UpdateEngine::ReadHeld(std::size_t row, std::size_t column, Variant& out) const {
    auto it = rows_.find(row);
    if (it == rows_.end()) return false;
    out = it->second.values[column];
    return true;
}

void UpdateEngine::RequireUpdatable() const {
    if (!can_update_) RaiseEngine(hr::E_FAIL, kNoBaseTable);
}

void UpdateEngine::RequireAddDelete() const {
    if (!can_add_delete_) RaiseEngine(hr::E_FAIL, kNoBaseTable);
}

bool UpdateEngine::ReadOriginal(std::size_t row, std::size_t column, Variant& out) const {
    auto it = rows_.find(row);
    if (it == rows_.end()) return false;
    out = it->second.original[column];
    return true;
}

bool UpdateEngine::Hidden(std::size_t row) const {
    auto it = rows_.find(row);
    return it != rows_.end() && (it->second.deleted || it->second.gone);
}

std::int32_t UpdateEngine::Status(std::size_t row) const {
    auto it = rows_.find(row);
    return it == rows_.end() ? ado::adRecUnmodified : it->second.status;
}

std::int32_t UpdateEngine::EditMode(std::size_t row) const {
    auto it = rows_.find(row);
    if (it == rows_.end()) return kEditNone;
    if (it->second.deleted) return kEditDelete;
    if (editing_ && edit_row_ == row) return it->second.inserted ? kEditAdd : kEditInProgress;
    return kEditNone;
}

bool UpdateEngine::InGroup(std::size_t row, std::int32_t group) const {
    auto it = rows_.find(row);
    if (it == rows_.end() || it->second.gone) return false;
    const RowState& state = it->second;
    switch (group) {
        case ado::adFilterPendingRecords:
            return state.pending;
        case ado::adFilterAffectedRecords:
            return state.written && !state.deleted;
        case ado::adFilterConflictingRecords:
            return (state.status & ado::adRecConcurrencyViolation) != 0;
        default:
            return false;
    }
}

bool UpdateEngine::ChangedInEdit(std::size_t row, std::size_t column) const {
    if (!editing_ || edit_row_ != row) return false;
    return rows_.at(row).edit_changed[column] != 0;
}

UpdateEngine::RowState& UpdateEngine::Hold(const ClientRows& store, std::size_t row) {
    auto [it, added] = rows_.try_emplace(row);
    RowState& state = it->second;
    if (added) {
        const std::size_t n = columns_.size();
        state.values.resize(n);
        for (std::size_t c = 0; c < n; ++c) store.Read(row, c, state.values[c]);
        state.original = state.values;
        state.changed.assign(n, 0);
        state.edit_changed.assign(n, 0);
        state.status = ado::adRecUnmodified;
    }
    return state;
}

void UpdateEngine::BeginEdit(RowState& state, std::size_t row) {
    if (editing_ && edit_row_ == row) return;
    editing_ = true;
    edit_row_ = row;
    state.undo = state.values;
    state.undo_changed = state.changed;
    state.edit_changed.assign(columns_.size(), 0);
}

Variant UpdateEngine::Accept(std::size_t column, const Variant& value) const {
    const ColumnInfo& info = columns_[column];
    Variant converted;
    try {
        converted = CoerceToType(value, info.type);
    } catch (const Error&) {
        converted = Variant();
    }
    const auto* text = converted.get_if<std::string>();
    const bool fits =
        !text || info.defined_size <= 0 || Len(*text) <= static_cast<std::size_t>(info.defined_size);
    if ((converted.IsEmpty() && !value.IsEmpty()) || !fits)
        throw Error(hr::DB_E_ERRORSOCCURRED, kCursorEngine,
                    "Multiple-step operation generated errors. Check each status value.");
    return converted;
}

void UpdateEngine::SetValue(const ClientRows& store, std::size_t row, std::size_t column, Variant value) {
    RowState& state = Hold(store, row);
    BeginEdit(state, row);
    state.values[column] = std::move(value);
    state.edit_changed[column] = 1;
}

void UpdateEngine::AddNew(std::size_t row, std::size_t previous) {
    RowState& state = rows_[row];
    const std::size_t n = columns_.size();
    state.values.assign(n, Variant());
    state.original.assign(n, Variant());
    state.changed.assign(n, 0);
    state.inserted = true;
    state.status = ado::adRecNew;
    state.previous = previous;
    editing_ = false;
    BeginEdit(state, row);
}

void UpdateEngine::Update(Session* session) {
    if (!editing_) return;
    RowState& state = rows_.at(edit_row_);
    if (state.inserted) {
        RequireAddDelete();
    } else {
        RequireUpdatable();
    }
    for (std::size_t c = 0; c < columns_.size(); ++c)
        if (state.edit_changed[c]) {
            // An expression column has nowhere to go.
            if (table_of_[c] < 0) RaiseEngine(hr::E_FAIL, kNoBaseTable);
            state.changed[c] = 1;
        }
    if (batch_) {
        if (!state.inserted) state.status = ado::adRecModified;
        state.pending = true;
    } else {
        // A failure leaves the edit in progress: the caller may correct it or cancel it.
        Write(session, state);
        Stored(state);
    }
    editing_ = false;
}

bool UpdateEngine::CancelUpdate(std::size_t& previous) {
    if (!editing_) return false;
    editing_ = false;
    RowState& state = rows_.at(edit_row_);
    if (state.inserted && !state.pending) {
        state.gone = true;
        state.status = ado::adRecUnmodified;
        previous = state.previous;
        return true;
    }
    state.values = state.undo;
    state.changed = state.undo_changed;
    state.edit_changed.assign(columns_.size(), 0);
    return false;
}

void UpdateEngine::Delete(Session* session, const ClientRows& store, std::size_t row) {
    RowState& state = Hold(store, row);
    if (editing_ && edit_row_ == row) {
        std::size_t previous = npos;
        CancelUpdate(previous);
    }
    if (state.inserted) {
        // Never stored: nothing to delete in the database.
        state.gone = true;
        state.pending = false;
        return;
    }
    if (batch_) {
        state.deleted = true;
        state.pending = true;
        state.status = ado::adRecDeleted;
        return;
    }
    if (!session) RaiseAdo(ado::adErrInvalidConnection, "ADODB.Recordset");
    WriteDelete(*session, state, tables_.front());
    state.deleted = state.gone = true;
    state.status = ado::adRecDeleted;
}

void UpdateEngine::UpdateBatch(Session* session, std::size_t only) {
    std::vector<Diagnostic> failures;
    for (auto& [row, state] : rows_) {
        if (!state.pending || (only != npos && row != only)) continue;
        if (!session) RaiseAdo(ado::adErrInvalidConnection, "ADODB.Recordset");
        try {
            if (state.deleted) {
                WriteDelete(*session, state, tables_.front());
                state.gone = true;
                state.pending = false;
                state.status = ado::adRecDeleted;
                continue;
            }
            Write(session, state);
            Stored(state);
        } catch (const ProviderError& e) {
            state.status |= ado::adRecConcurrencyViolation;
            failures.insert(failures.end(), e.Records().begin(), e.Records().end());
        }
    }
    if (!failures.empty()) throw ProviderError(std::move(failures));
}

void UpdateEngine::CancelBatch(std::size_t only) {
    if (editing_ && (only == npos || edit_row_ == only)) {
        std::size_t previous = npos;
        CancelUpdate(previous);
    }
    for (auto& [row, state] : rows_) {
        if (!state.pending || (only != npos && row != only)) continue;
        state.pending = false;
        if (state.inserted) {
            state.gone = true;
            continue;
        }
        state.values = state.original;
        state.changed.assign(columns_.size(), 0);
        state.deleted = false;
        state.status = ado::adRecUnmodified;
    }
}

std::int32_t UpdateEngine::PendingChange(std::size_t row) const {
    auto it = rows_.find(row);
    if (it == rows_.end() || !it->second.pending) return ado::adRecUnmodified;
    const RowState& state = it->second;
    if (state.deleted) return ado::adRecDeleted;
    return state.inserted ? ado::adRecNew : ado::adRecModified;
}

void UpdateEngine::TakePending(const ClientRows& store, std::size_t row, std::int32_t status,
                               const Variant* values) {
    const std::size_t n = columns_.size();
    if (status == ado::adRecNew) {
        RowState& state = rows_[row];
        state.values.resize(n);
        for (std::size_t c = 0; c < n; ++c) store.Read(row, c, state.values[c]);
        state.original.assign(n, Variant());
        // NULL columns are left out of the INSERT, so that the table's defaults and numbering apply, as
        // they would have to a row added here and stored at once.
        state.changed.assign(n, 0);
        for (std::size_t c = 0; c < n; ++c)
            state.changed[c] = table_of_[c] >= 0 && !state.values[c].IsNull() && !state.values[c].IsEmpty();
        state.edit_changed.assign(n, 0);
        state.inserted = true;
        state.pending = true;
        state.status = ado::adRecNew;
        return;
    }
    RowState& state = Hold(store, row);
    state.pending = true;
    if (status == ado::adRecDeleted) {
        state.deleted = true;
        state.status = ado::adRecDeleted;
        return;
    }
    for (std::size_t c = 0; c < n; ++c) {
        state.values[c] = values[c];
        state.changed[c] = table_of_[c] >= 0 && !(values[c] == state.original[c]);
    }
    state.status = ado::adRecModified;
}

void UpdateEngine::Stored(RowState& state) {
    state.original = state.values;
    state.changed.assign(columns_.size(), 0);
    state.inserted = false;
    state.pending = false;
    state.written = true;
    state.status = ado::adRecUnmodified;
}

// ---- writing -----------------------------------------------------------------------------------------
void UpdateEngine::Write(Session* session, RowState& state) {
    if (!session) RaiseAdo(ado::adErrInvalidConnection, "ADODB.Recordset");
    if (state.inserted) {
        RequireAddDelete();
        WriteInsert(*session, state, tables_.front());
        return;
    }
    RequireUpdatable();
    for (Table& table : tables_) WriteUpdate(*session, state, table);
}

const std::string& UpdateEngine::TableName(Session& session, Table& table) {
    if (table.name.empty()) {
        const ColumnInfo& info = columns_[table.first_column];
        // The schema names the table's place where the database has schemas; a database that has only
        // catalogs (MariaDB, SQLite's attached files) names it by its catalog.
        const std::string& place = info.base_schema.empty() ? info.base_catalog : info.base_schema;
        if (!place.empty()) table.name = session.QuoteIdentifier(place) + ".";
        table.name += session.QuoteIdentifier(info.base_table);
    }
    return table.name;
}

const std::string& UpdateEngine::ColumnName(Session& session, std::size_t column) {
    if (quoted_.empty()) quoted_.resize(columns_.size());
    if (quoted_[column].empty()) quoted_[column] = session.QuoteIdentifier(columns_[column].base_column);
    return quoted_[column];
}

void UpdateEngine::Bind(std::size_t column, const Variant& value, std::vector<ParamBinding>& params) const {
    const ColumnInfo& info = columns_[column];
    ParamBinding& b = params.emplace_back();
    b.type = info.type;
    b.size = info.defined_size;
    b.precision = info.precision;
    b.scale = info.scale;
    b.value = value.IsEmpty() ? Variant::Null() : value;
}

void UpdateEngine::AppendCondition(Session& session, std::size_t column, const Variant& original,
                                   std::vector<ParamBinding>& params) {
    sql_ += ColumnName(session, column);
    if (original.IsNull() || original.IsEmpty()) {
        sql_ += " IS NULL";
        return;
    }
    sql_ += " = ?";
    Bind(column, original, params);
}

void UpdateEngine::WriteUpdate(Session& session, RowState& state, Table& table) {
    const int t = static_cast<int>(&table - tables_.data());
    std::vector<ParamBinding>& params = params_;
    params.clear();
    sql_ = "UPDATE " + TableName(session, table) + " SET ";
    bool any = false;
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        if (!state.changed[c] || table_of_[c] != t) continue;
        if (any) sql_ += ", ";
        sql_ += ColumnName(session, c);
        sql_ += " = ?";
        Bind(c, state.values[c], params);
        any = true;
    }
    if (!any) return;
    sql_ += " WHERE ";
    RequireKey(state, table);
    AppendRowCondition(session, state, state.original, table, params);
    if (Run(session, params) == 0 && !RowHolds(session, state, table))
        RaiseEngine(hr::DB_E_CONCURRENCYVIOLATION, kNotFound);
}

// The table's key columns and the row's changed columns equal to `row`'s values: the original ones find
// the row as it was read, the new ones find it as written.
void UpdateEngine::AppendRowCondition(Session& session, const RowState& state, const std::vector<Variant>& row,
                                      Table& table, std::vector<ParamBinding>& params) {
    const int t = static_cast<int>(&table - tables_.data());
    bool first = true;
    for (std::size_t c : table.keys) {
        if (!first) sql_ += " AND ";
        AppendCondition(session, c, row[c], params);
        first = false;
    }
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        if (!state.changed[c] || table_of_[c] != t || columns_[c].key_column) continue;
        sql_ += " AND ";
        AppendCondition(session, c, row[c], params);
    }
}

bool UpdateEngine::RowHolds(Session& session, const RowState& state, Table& table) {
    std::vector<ParamBinding> params;
    sql_ = "SELECT COUNT(*) FROM " + TableName(session, table) + " WHERE ";
    AppendRowCondition(session, state, state.values, table, params);
    std::unique_ptr<Statement> statement = session.Prepare(sql_, ExecuteOptions{});
    statement->Execute(params);
    Cursor* rows = statement->Result();
    if (!rows || !rows->Next()) return false;
    Variant count;
    rows->Read(0, count);
    return !count.IsNull() && CDbl(count) == 1;
}

void UpdateEngine::WriteInsert(Session& session, RowState& state, Table& table) {
    std::vector<ParamBinding>& params = params_;
    params.clear();
    sql_ = "INSERT INTO " + TableName(session, table);
    std::string markers;
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        if (!state.changed[c]) continue;
        sql_ += params.empty() ? " (" : ", ";
        markers += params.empty() ? "?" : ", ?";
        sql_ += ColumnName(session, c);
        Bind(c, state.values[c], params);
    }
    sql_ += params.empty() ? " DEFAULT VALUES" : ") VALUES (" + markers + ")";
    if (Run(session, params) == 0) RaiseEngine(hr::DB_E_CONCURRENCYVIOLATION, kNotFound);
    // The database numbers the row: read the number back so that the row can be found again.
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        if (state.changed[c] || !columns_[c].auto_increment) continue;
        Variant key = session.GeneratedKey(columns_[c]);
        if (!key.IsEmpty()) state.values[c] = std::move(key);
    }
}

void UpdateEngine::WriteDelete(Session& session, RowState& state, Table& table) {
    std::vector<ParamBinding>& params = params_;
    params.clear();
    RequireKey(state, table);
    sql_ = "DELETE FROM " + TableName(session, table) + " WHERE ";
    bool first = true;
    for (std::size_t c : table.keys) {
        if (!first) sql_ += " AND ";
        AppendCondition(session, c, state.original[c], params);
        first = false;
    }
    if (Run(session, params) == 0) RaiseEngine(hr::DB_E_CONCURRENCYVIOLATION, kNotFound);
}

void UpdateEngine::RequireKey(const RowState& state, const Table& table) const {
    // A key is unique only among rows that have one: SQLite lets a key column other than the rowid hold
    // NULL in several rows, and "key IS NULL" would reach all of them.
    for (std::size_t c : table.keys)
        if (state.original[c].IsNull() || state.original[c].IsEmpty()) RaiseEngine(hr::E_FAIL, kTooMany);
}

std::int64_t UpdateEngine::Run(Session& session, std::vector<ParamBinding>& params) {
    ExecuteOptions options;
    // A session that runs a single action at once saves making a statement for every row.
    bound_.clear();
    for (const ParamBinding& p : params) bound_.push_back(&p);
    std::int64_t affected = -1;
    if (!session.RunAction(sql_, bound_, options, affected)) {
        std::unique_ptr<Statement> statement = session.Prepare(sql_, options);
        statement->Execute(params);
        affected = statement->RowsAffected();
    }
    // A count the session does not know (-1) cannot be judged; the statements here are all actions, which
    // every provider here counts.
    if (affected > 1) RaiseEngine(hr::E_FAIL, kTooMany);
    return affected;
}

}  // namespace korado::dataaccess
