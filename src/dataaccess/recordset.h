// Recordset, Fields and Field of the platform stand-in ("ADODB.Recordset").
//
// A recordset reads one result of a provider Statement in one of two ways:
//  - server-side forward-only (CursorLocation 2, CursorType 0): rows are read in place from the provider's
//    Cursor, one at a time, in constant memory; it cannot move back (3251) and does not know its RecordCount
//    (-1);
//  - static (CursorLocation 3, or a server-side cursor type other than forward-only): the client cursor
//    engine buffers every row in a ClientRows store; it moves in every direction and counts exactly.
// A recordset opened without a connection on a file that Save wrote (recordset_persist.cpp) is static too,
// whatever its cursor location; its pending changes wait in a batch-mode update engine until it is given a
// connection and UpdateBatch writes them.
// Field values are decoded lazily into one Variant slot per field when read, so Field::Value returns a
// reference that stays valid until the recordset moves.
//
// Ownership: RecordsetImpl owns a RowsetCore (the open state) and the Fields collection of the current open;
// each Field holds the core, so a Field kept after its recordset is released stays safe to call (its Value
// then fails with 3704). The core owns the Execution (the provider Statement and the bound parameters) and,
// while it holds one, is registered with the connection, which closes it before closing its session.
//
// Failures: the platform's own errors from "ADODB.Recordset", "ADODB.Fields" or "ADODB.Field"; provider
// failures (while executing or fetching) fill the connection's Errors and carry the provider's numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/client_rows.h"
#include "dataaccess/connection.h"
#include "dataaccess/provider.h"
#include "dataaccess/shared_text.h"
#include "dataaccess/update_engine.h"
#include "korado/platform/adodb.h"
#include "runtime/pooled.h"

namespace korado::dataaccess {

namespace persist {
class RowsetSink;
}

class ParametersImpl;
class CommandImpl;

// A running command: the provider statement, its bound parameters and where output values go.
struct Execution : Pooled<Execution> {
    // Provided (every member has its initializer) so that creating one does not clear the object first.
    Execution() {}  // NOLINT(modernize-use-equals-default)

    Ref<ConnectionImpl> connection;
    std::unique_ptr<Statement> statement;
    std::vector<ParamBinding> bindings;
    Ref<ParametersImpl> parameters;  // receives output values; may be null
    bool advanced = false;   // the statement already stands on the next result
    bool exhausted = false;  // no result is left
    bool outputs_fetched = false;

    ~Execution();
    // Moves to the next result (or takes the one already moved to); false when none is left, in which
    // case the output parameters are copied back.
    bool NextResult();
    // Reads past every remaining result and copies the output parameters back.
    void Finish();
    bool HasOutputs() const;
    void CopyOutputs();
    // Moves past the current result: a call's output values follow its results, and callers want them
    // right after Execute. The next result, if any, stays pending for NextRecordset.
    void LookPast();
};

struct FilterState;

// The open state of a recordset; shared with its Field objects.
class RowsetCore final : public Object, public SessionUser, public Pooled<RowsetCore> {
  public:
    enum class Mode { kClosed, kForward, kStatic };

    RowsetCore();
    ~RowsetCore() override;

    // Takes the execution's current result. Raises provider errors while buffering a static result.
    void OpenForward(std::unique_ptr<Execution> exec, std::int32_t max_records, std::int32_t fetch_size);
    void OpenStatic(std::unique_ptr<Execution> exec, std::int32_t max_records);
    // A static rowset from a cursor that no statement stands behind (schema rowsets).
    void OpenStatic(Cursor& cursor, Ref<ConnectionImpl> connection, std::int32_t max_records);
    // Holds an execution whose current result has no rows: the recordset is closed but NextRecordset can
    // move on.
    void HoldPending(std::unique_ptr<Execution> exec);
    // After a static open: moves the execution past the result just read (see Execution::LookPast).
    void LookPastResult();
    // Lets go of everything; the execution is handed back to a caller that moves to the next result.
    std::unique_ptr<Execution> TakeExecution();
    void Close();
    // Drops the statement and the connection but keeps buffered rows (a disconnected static recordset).
    void Disconnect() noexcept;
    void SessionClosing() noexcept override;

    Mode mode() const noexcept { return mode_; }
    bool IsOpen() const noexcept { return mode_ != Mode::kClosed; }
    bool HasRow() const noexcept { return !bof_ && !eof_; }
    bool Bof() const noexcept { return bof_; }
    bool Eof() const noexcept { return eof_; }
    std::uint64_t row_generation() const noexcept { return row_gen_; }
    std::uint64_t epoch() const noexcept { return epoch_; }
    const std::vector<ColumnInfo>& columns() const noexcept { return columns_; }
    Execution* execution() noexcept { return exec_.get(); }

    // The current row's value of `column`, read into `out` (a Field's slot, refilled in place).
    void Load(std::size_t column, Variant& out) {
        if (mode_ == Mode::kForward) {
            cursor_->Read(column, out);
        } else {
            LoadStatic(column, out);
        }
    }
    std::size_t CellSize(std::size_t column);

    // Moves; the platform's errors are raised from "ADODB.Recordset".
    void MoveNext();
    void MovePrevious();
    void MoveFirst();
    void MoveLast();
    void Move(std::int64_t n);
    std::int64_t RecordCount() const;
    std::int64_t AbsolutePosition() const;
    bool CanScroll() const noexcept { return mode_ == Mode::kStatic; }
    void SetFetchSize(std::int32_t rows);

    // Filter: criteria text (empty clears) or a FilterGroupEnum value; moves to the first visible row.
    void SetFilterCriteria(const std::string& criteria);
    void SetFilterGroup(std::int32_t group);

    // Changing rows: a static rowset of an updatable client cursor has an update engine. The members
    // below act on the current row; `session` is null when the recordset has no live connection.
    void EnableUpdates(bool batch, Session* session);
    UpdateEngine* engine() noexcept { return engine_.get(); }
    void SetValue(std::size_t column, Variant value);
    bool ChangedInEdit(std::size_t column) const;
    // The value before the changes since the last store; false when the row is unchanged.
    bool ReadOriginal(std::size_t column, Variant& out) const;
    void AddNew();
    void Update(Session* session);
    void CancelUpdate();
    void Delete(Session* session);
    void UpdateBatch(Session* session, bool current_only);
    void CancelBatch(bool current_only);
    std::int32_t RowStatus() const;
    std::int32_t RowEditMode() const;

    // Saving and reopening (recordset_persist.cpp).
    // Whether the update engine can write rows of this result back (with `session`'s key knowledge when
    // given), whether or not this rowset was opened for changes.
    bool RowsUpdatable(Session* session) const;
    // Hands the rows a save writes to `sink`: of a static rowset, every row visible under a criteria filter
    // with its pending change (pending deletions too), then stands on the first row; of a forward one, the
    // rows not yet read, leaving it at its end.
    void SaveRows(persist::RowsetSink& sink, bool updatable);
    // A static rowset of saved rows: `read` hands the saved schema and rows to the sink it is given. When
    // the file says the rows are updatable, an update engine in batch mode takes their pending changes.
    void OpenSaved(const std::function<void(persist::RowsetSink&)>& read);

  private:
    friend class SavedRowsBuilder;

    void BeginOpen(std::unique_ptr<Execution> exec);
    void FinishStaticOpen();
    bool FetchForward();  // next row of the forward cursor that passes the filter
    void LoadStatic(std::size_t column, Variant& out);
    bool RowVisible(std::size_t row);
    void SetPosition(std::int64_t pos);
    void Touch() noexcept { ++row_gen_; }
    std::size_t VisibleCount() const;
    std::size_t RowAt(std::int64_t pos) const;
    void Detach() noexcept;
    // Rebuilds the visible rows after rows were hidden (deleted) or shown again.
    void RebuildVisible();
    // Stands on store row `row`, or on the next visible one after it.
    void StandOn(std::size_t row);
    // A deleted row stays current until the next move; leaving it gives the visible position it held.
    std::int64_t LeaveDeleted();
    std::size_t CurrentRow() const { return RowAt(pos_); }

    Mode mode_ = Mode::kClosed;
    std::uint64_t epoch_ = 1;
    std::uint64_t row_gen_ = 1;
    bool bof_ = true;
    bool eof_ = true;
    std::vector<ColumnInfo> columns_;
    std::unique_ptr<Execution> exec_;
    Ref<ConnectionImpl> connection_;  // the connection this core is registered with
    // forward-only
    Cursor* cursor_ = nullptr;
    std::int64_t fetched_ = 0;
    std::int64_t max_records_ = 0;
    bool moved_ = false;
    // static
    std::unique_ptr<ClientRows> rows_;
    std::vector<std::uint32_t> visible_;
    bool filtered_ = false;
    std::int64_t pos_ = -1;
    // criteria filter (both modes)
    std::unique_ptr<FilterState> filter_;
    std::vector<Variant> scratch_;
    // editing
    std::unique_ptr<UpdateEngine> engine_;
    bool hidden_any_ = false;  // some rows were deleted or dropped
    bool on_deleted_ = false;  // the current row was just deleted
};

class FieldImpl final : public ado::Field {
  public:
    FieldImpl(Ref<RowsetCore> core, std::size_t index, ColumnInfo info);

    std::string Name() override { return info_.name; }
    std::int32_t Type() override { return info_.type; }
    std::int32_t DefinedSize() override { return info_.defined_size; }
    std::uint8_t Precision() override { return info_.precision; }
    std::uint8_t NumericScale() override { return info_.scale; }
    std::int32_t Attributes() override { return info_.attributes; }
    std::int32_t ActualSize() override;
    const Variant& Value() override {
        if (loaded_gen_ == core_->row_generation()) return slot_;
        return LoadValue();
    }
    void SetValue(const Variant& value) override;
    // The value before the changes since the last store; the engine knows no newer value in the data
    // source than the one it read or wrote, so that is the underlying value too.
    Variant OriginalValue() override;
    Variant UnderlyingValue() override { return OriginalValue(); }
    void AppendChunk(const Variant& data) override;
    Variant GetChunk(std::int32_t length) override;
    Ref<ado::Properties> Properties() override;

    const ColumnInfo& info() const noexcept { return info_; }

  private:
    const Variant& LoadValue();
    void RequireRow();

    Ref<RowsetCore> core_;
    std::size_t index_;
    ColumnInfo info_;
    std::uint64_t epoch_;
    std::uint64_t loaded_gen_ = 0;
    Variant slot_;
    std::uint64_t chunk_gen_ = 0;
    std::size_t chunk_offset_ = 0;
    Ref<ado::Properties> properties_;
};

class FieldsImpl final : public ado::Fields {
  public:
    FieldsImpl() = default;
    explicit FieldsImpl(const Ref<RowsetCore>& core);

    KORADO_HOT std::int32_t Count() override { return static_cast<std::int32_t>(fields_.size()); }
    Ref<ado::Field> Item(const Variant& index) override;
    ado::Field* At(std::int32_t index) override { return fields_[static_cast<std::size_t>(index)].get(); }
    // -1 when no field has that name.
    int IndexOf(std::string_view name) const;

  private:
    std::vector<Ref<FieldImpl>> fields_;
    std::vector<std::string> folded_;
};

class RecordsetImpl final : public ado::Recordset, public Pooled<RecordsetImpl> {
  public:
    RecordsetImpl();
    ~RecordsetImpl() override;

    Ref<ado::Connection> ActiveConnection() override;
    void SetActiveConnection(const Ref<ado::Connection>& connection) override;
    std::int32_t CursorLocation() override { return cursor_location_; }
    void SetCursorLocation(std::int32_t value) override;
    std::int32_t CursorType() override;
    void SetCursorType(std::int32_t value) override;
    std::int32_t LockType() override;
    void SetLockType(std::int32_t value) override;
    std::int32_t CacheSize() override { return cache_size_; }
    void SetCacheSize(std::int32_t value) override;
    std::int32_t PageSize() override { return page_size_; }
    void SetPageSize(std::int32_t value) override;
    std::int32_t MaxRecords() override { return max_records_; }
    void SetMaxRecords(std::int32_t value) override;
    void Open(const Variant& source, const Variant& active_connection, std::int32_t cursor_type,
              std::int32_t lock_type, std::int32_t options) override;
    void Close() override;
    std::int32_t State() override { return IsOpen() ? ado::adStateOpen : ado::adStateClosed; }
    bool Eof() override;
    bool Bof() override;
    std::int32_t RecordCount() override;
    std::int32_t AbsolutePosition() override;
    KORADO_HOT Ref<ado::Fields> Fields() override { return Ref<ado::Fields>(fields_.get()); }
    std::string Source() override { return source_.str(); }
    Variant Filter() override { return filter_; }
    void SetFilter(const Variant& criteria) override;
    bool Supports(std::int32_t cursor_options) override;
    std::int32_t Status() override;
    std::int32_t EditMode() override;
    void MoveFirst() override;
    void MoveLast() override;
    void MoveNext() override;
    void MovePrevious() override;
    void Move(std::int32_t num_records) override;
    Ref<ado::Recordset> NextRecordset(Variant* records_affected) override;
    void AddNew() override;
    void Update() override;
    void CancelUpdate() override;
    void UpdateBatch(std::int32_t affect) override;
    void CancelBatch(std::int32_t affect) override;
    void Delete(std::int32_t affect) override;
    void Requery(std::int32_t options) override;
    void Save(const Variant& destination, std::int32_t format) override;
    Ref<ado::Properties> Properties() override;

    // ---- for Connection and Command ----
    // A new recordset takes what Command.Execute returns on `connection`: its cursor location (a client
    // cursor is static) and the connection as its ActiveConnection. What the setters would check holds
    // for a recordset just made.
    void SetUpForExecute(Ref<ConnectionImpl> connection);
    // Opens on the execution's current result (or holds it closed when that result has no rows), with this
    // recordset's cursor settings.
    void Attach(std::unique_ptr<Execution> exec, SharedText source);
    // Closed, for an action that ran to its end with no result after it.
    void AttachEnded(SharedText source);
    // A static, read-only rowset over `cursor` (OpenSchema).
    void AttachCursor(Cursor& cursor, Ref<ConnectionImpl> connection);

  private:
    RowsetCore& core();
    bool IsOpen() const noexcept { return core_ && core_->IsOpen(); }
    void RequireOpen();
    void RequireClosed();
    // A static rowset of the recordset saved in file `path`, with no connection.
    void OpenFile(const std::string& path);
    // Runs `f`, recording provider failures in the connection's Errors.
    template <class F>
    void WithConnection(F&& f);
    void ApplyFilter();
    void RebuildFields();
    UpdateEngine& Engine();
    Session* EditSession();
    // Stores an edit in progress before the cursor leaves its row.
    void FinishEdit();

    Ref<RowsetCore> core_;  // null until needed (see core())
    Ref<FieldsImpl> fields_;
    Ref<ConnectionImpl> active_connection_;
    Ref<CommandImpl> source_command_;
    SharedText source_;
    Variant open_source_;  // what Open was given, for Requery
    std::int32_t cursor_location_ = ado::adUseServer;
    std::int32_t cursor_type_ = ado::adOpenForwardOnly;
    std::int32_t lock_type_ = ado::adLockReadOnly;
    std::int32_t cache_size_ = 1;
    std::int32_t page_size_ = 10;
    std::int32_t max_records_ = 0;
    std::int32_t open_options_ = ado::adOptionUnspecified;
    Variant filter_ = Variant(0);
    Ref<ado::Properties> properties_;
    bool results_ended_ = false;  // closed on an action whose statement had no further result
};

}  // namespace korado::dataaccess
