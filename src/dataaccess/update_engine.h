// The client cursor's update engine: the changes made to the rows of a static recordset, kept beside its
// row store, and their writing back to the base tables ("Microsoft Cursor Engine").
//
// Every stored change is one generated, parameterised statement on a base table, run through the
// connection's session (so inside its transaction when it has one):
//   UPDATE t SET c = ? WHERE key = ? AND c = <c's original value>     (NULL-safe: "c IS NULL")
//   INSERT INTO t (c, ...) VALUES (?, ...)
//   DELETE FROM t WHERE key = ?
// The changed columns' original values are part of the UPDATE's condition, so a row another session
// changed since it was read is not overwritten: no row matches, and the failure says so.
//
// A result is writable only when the engine can tell each row's row in the database: every base table it
// reads from must have its key columns among the result's columns (on SQLite the rowid counts, when
// selected). Rows of several tables can be changed (each table gets its own UPDATE), but added and deleted
// only when the result reads one table.
//
// Rows are named by their index in the row store. A row the engine holds (changed, new, deleted) keeps all
// its values here; the store keeps the values read at open.
//
// Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "dataaccess/client_rows.h"
#include "dataaccess/provider.h"

namespace korado::dataaccess {

// The cursor engine's error source.
inline constexpr const char* kCursorEngine = "Microsoft Cursor Engine";

class UpdateEngine {
  public:
    // `session` (may be null) tells how many columns each base table's key has.
    UpdateEngine(const std::vector<ColumnInfo>& columns, bool batch, Session* session);

    bool CanUpdate() const noexcept { return can_update_; }
    bool CanAddDelete() const noexcept { return can_add_delete_; }
    bool batch() const noexcept { return batch_; }
    // Raise the cursor engine's "insufficient base table information" failure when the result cannot take
    // that kind of change.
    void RequireUpdatable() const;
    void RequireAddDelete() const;

    // The row's value as shown (pending edits included); false when the engine does not hold the row.
    bool Read(std::size_t row, std::size_t column, Variant& out) const {
        if (rows_.empty()) return false;  // the usual case: nothing was changed
        return ReadHeld(row, column, out);
    }
    // The value before the changes since the last store; false when the engine does not hold the row.
    bool ReadOriginal(std::size_t row, std::size_t column, Variant& out) const;
    // Deleted (pending or stored), or a new row dropped before it was stored: not shown.
    bool Hidden(std::size_t row) const;
    std::int32_t Status(std::size_t row) const;
    // EditModeEnum of `row`: adEditNone, adEditInProgress, adEditAdd, or adEditDelete.
    std::int32_t EditMode(std::size_t row) const;
    bool Editing() const noexcept { return editing_; }
    std::size_t edit_row() const noexcept { return edit_row_; }
    // The row belongs to a FilterGroupEnum group: adFilterPendingRecords (changed, not yet stored),
    // adFilterAffectedRecords (stored since the open) or adFilterConflictingRecords (its last store failed).
    bool InGroup(std::size_t row, std::int32_t group) const;
    // The column was written in the edit in progress.
    bool ChangedInEdit(std::size_t row, std::size_t column) const;

    // `value` as column `column` holds it: converted to the column's type, text no longer than the column
    // allows. Raises DB_E_ERRORSOCCURRED (the platform's "multiple-step" failure) for a value it cannot take.
    Variant Accept(std::size_t column, const Variant& value) const;
    void SetValue(const ClientRows& store, std::size_t row, std::size_t column, Variant value);
    // `row` was just appended to the store for a new row; `previous` was current before (for CancelUpdate).
    void AddNew(std::size_t row, std::size_t previous);
    // Ends the edit in progress: writes it at once, or in batch mode keeps it for UpdateBatch. A failed
    // write leaves the edit in progress. Raises provider failures. `session` is null on a recordset
    // without a live connection: only batch mode can then go on.
    void Update(Session* session);
    // Drops the edit in progress. A new row dropped so disappears: true, with the row current before it.
    bool CancelUpdate(std::size_t& previous);
    // Deletes `row`: at once, or in batch mode at UpdateBatch.
    void Delete(Session* session, const ClientRows& store, std::size_t row);
    // Writes the pending rows (`only` one row, or all when it is npos). Every row is tried; the failures'
    // records are raised together, each failed row keeping its change with adRecConcurrencyViolation.
    void UpdateBatch(Session* session, std::size_t only);
    // Drops the pending changes (of `only`, or of all rows when it is npos).
    void CancelBatch(std::size_t only);

    // The change of `row` waiting for UpdateBatch, as a RecordStatusEnum value: adRecNew, adRecModified or
    // adRecDeleted; adRecUnmodified when it has none.
    std::int32_t PendingChange(std::size_t row) const;
    // Takes a change made elsewhere (in a recordset saved to a file) as pending for UpdateBatch. `status`
    // as PendingChange tells it; the store's row holds the row as the database had it (for a new row: its
    // values). `values`: the row as changed (adRecModified only; one per column).
    void TakePending(const ClientRows& store, std::size_t row, std::int32_t status, const Variant* values);

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  private:
    struct RowState {
        std::vector<Variant> values;             // as shown
        std::vector<Variant> original;           // as the database has it, as far as known
        std::vector<Variant> undo;               // values when the edit in progress began
        std::vector<std::uint8_t> changed;       // differs from original: to write
        std::vector<std::uint8_t> undo_changed;  // `changed` when the edit in progress began
        std::vector<std::uint8_t> edit_changed;  // written in the edit in progress
        std::int32_t status = 0;
        bool inserted = false;        // not yet in the database
        bool deleted = false;         // delete pending or stored
        bool gone = false;            // no longer in the database, or a new row never stored
        bool pending = false;         // waiting for UpdateBatch
        bool written = false;         // stored since the open
        std::size_t previous = npos;  // of a new row: the row current before AddNew
    };
    // A base table and the columns the result reads from it.
    struct Table {
        std::string name;  // quoted, qualified: set when the statements are first built
        std::size_t first_column = 0;
        std::vector<std::size_t> keys;
    };

    bool ReadHeld(std::size_t row, std::size_t column, Variant& out) const;
    RowState& Hold(const ClientRows& store, std::size_t row);
    void BeginEdit(RowState& state, std::size_t row);
    // Writes one row's change; raises provider failures, changing nothing here when it fails.
    void Write(Session* session, RowState& state);
    void WriteUpdate(Session& session, RowState& state, Table& table);
    void WriteInsert(Session& session, RowState& state, Table& table);
    void WriteDelete(Session& session, RowState& state, Table& table);
    // Raises the cursor engine's failure when the row's key cannot tell it from other rows.
    void RequireKey(const RowState& state, const Table& table) const;
    // Runs one statement; raises the cursor engine's failures when it touched no row or several.
    // Runs sql_ with `params`; the rows it affected (0 or 1: more raise the "too many rows" failure).
    std::int64_t Run(Session& session, std::vector<ParamBinding>& params);
    // Whether the table's row of `state` holds the values just written to it: what an UPDATE that reports
    // no row means on a server that counts only the rows it changed (MariaDB), when the new values were
    // already there.
    bool RowHolds(Session& session, const RowState& state, Table& table);
    void AppendRowCondition(Session& session, const RowState& state, const std::vector<Variant>& row,
                            Table& table, std::vector<ParamBinding>& params);
    void AppendCondition(Session& session, std::size_t column, const Variant& original,
                         std::vector<ParamBinding>& params);
    void Bind(std::size_t column, const Variant& value, std::vector<ParamBinding>& params) const;
    const std::string& TableName(Session& session, Table& table);
    const std::string& ColumnName(Session& session, std::size_t column);
    void Stored(RowState& state);

    std::vector<ColumnInfo> columns_;
    std::vector<int> table_of_;  // per column: index into tables_, -1 for none
    std::vector<Table> tables_;
    bool batch_;
    bool can_update_ = false;
    bool can_add_delete_ = false;
    std::unordered_map<std::size_t, RowState> rows_;
    bool editing_ = false;
    std::size_t edit_row_ = npos;
    std::string sql_;                         // reused for every statement
    std::vector<ParamBinding> params_;        // likewise
    std::vector<const ParamBinding*> bound_;  // params_ as RunAction takes them
    std::vector<std::string> quoted_;         // base column names as the statements spell them
};

}  // namespace korado::dataaccess
