#include "dataaccess/recordset.h"

#include <algorithm>

#include "dataaccess/command.h"
#include "dataaccess/filter.h"
#include "dataaccess/persist_file.h"
#include "dataaccess/platform_error.h"
#include "dataaccess/properties.h"
#include "dataaccess/type_kinds.h"
#include "korado/runtime/collection.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/strings.h"

namespace korado::dataaccess {

constexpr const char* kRecordset = "ADODB.Recordset";

struct FilterState {
    explicit FilterState(FilterCriteria c) : criteria(std::move(c)) {}
    FilterCriteria criteria;
};

namespace {

// Columns whose values the store may take straight from the cursor's buffer: text and binary ones.
std::vector<std::uint8_t> ViewableColumns(const std::vector<ColumnInfo>& columns) {
    std::vector<std::uint8_t> out;
    out.reserve(columns.size());
    for (const ColumnInfo& c : columns) {
        const bool viewable =
            IsTextType(c.type) || IsBinaryType(c.type) || c.type == ado::adGUID || c.type == ado::adVariant;
        out.push_back(viewable ? 1 : 0);
    }
    return out;
}

// Closed recordsets (every action statement returns one) share one empty Fields collection per thread
// rather than each making its own; nothing can be added to it.
Ref<FieldsImpl> NoFields() {
    thread_local const Ref<FieldsImpl> empty = MakeRef<FieldsImpl>();
    return empty;
}

}  // namespace

// ---- Execution ---------------------------------------------------------------------------------------
Execution::~Execution() {
    // The statement goes first: a provider may still write output values into the bound storage while it
    // lets go of the statement.
    statement.reset();
    if (connection) connection->GiveBindingStorage(std::move(bindings));
}

bool Execution::HasOutputs() const {
    return std::any_of(bindings.begin(), bindings.end(),
                       [](const ParamBinding& b) { return b.direction != ado::adParamInput; });
}

void Execution::CopyOutputs() {
    if (outputs_fetched) return;
    outputs_fetched = true;
    if (!HasOutputs() || !statement) return;
    statement->FetchOutputParameters(bindings);
    if (!parameters) return;
    const auto& items = parameters->items();
    for (std::size_t i = 0; i < bindings.size() && i < items.size(); ++i)
        if (bindings[i].direction != ado::adParamInput) items[i]->StoreOutput(bindings[i].value);
}

void Execution::LookPast() {
    if (advanced || exhausted) return;
    // Results without rows (a procedure's status, update counts) hold nothing a recordset could show.
    while (statement->NextResult()) {
        if (statement->Result()) {
            advanced = true;
            return;
        }
    }
    exhausted = true;
    CopyOutputs();
}

bool Execution::NextResult() {
    if (exhausted) return false;
    if (advanced) {
        advanced = false;
        return true;
    }
    if (statement->NextResult()) return true;
    exhausted = true;
    CopyOutputs();
    return false;
}

void Execution::Finish() {
    while (NextResult()) {
    }
}

// ---- RowsetCore --------------------------------------------------------------------------------------
RowsetCore::RowsetCore() = default;

RowsetCore::~RowsetCore() { Detach(); }

void RowsetCore::Detach() noexcept {
    if (connection_) connection_->RemoveUser(this);
    cursor_ = nullptr;
    exec_.reset();
    connection_ = nullptr;
}

void RowsetCore::Disconnect() noexcept { Detach(); }

void RowsetCore::BeginOpen(std::unique_ptr<Execution> exec) {
    Detach();
    rows_.reset();
    filter_.reset();
    visible_.clear();
    filtered_ = false;
    engine_.reset();
    hidden_any_ = on_deleted_ = false;
    columns_.clear();
    mode_ = Mode::kClosed;
    bof_ = eof_ = true;
    ++epoch_;
    Touch();
    exec_ = std::move(exec);
    if (exec_ && exec_->connection) {
        connection_ = exec_->connection;
        connection_->AddUser(this);
    }
}

void RowsetCore::OpenForward(std::unique_ptr<Execution> exec, std::int32_t max_records,
                             std::int32_t fetch_size) {
    BeginOpen(std::move(exec));
    try {
        cursor_ = exec_->statement->Result();
        columns_ = cursor_->Columns();
        cursor_->SetFetchSize(fetch_size);
        scratch_.assign(columns_.size(), Variant());
        fetched_ = 0;
        moved_ = false;
        max_records_ = max_records;
        mode_ = Mode::kForward;
        bool has = FetchForward();
        bof_ = eof_ = !has;
        Touch();
    } catch (...) {
        Close();
        throw;
    }
}

void RowsetCore::OpenStatic(std::unique_ptr<Execution> exec, std::int32_t max_records) {
    BeginOpen(std::move(exec));
    try {
        Cursor* cursor = exec_->statement->Result();
        columns_ = cursor->Columns();
        std::vector<std::uint8_t> viewable = ViewableColumns(columns_);
        rows_ = std::make_unique<ClientRows>(columns_.size());
        scratch_.assign(columns_.size(), Variant());
        cursor->SetFetchSize(1000);
        while ((max_records <= 0 || static_cast<std::int64_t>(rows_->RowCount()) < max_records) &&
               cursor->Next())
            rows_->Append(*cursor, scratch_.data(), viewable.data());
        FinishStaticOpen();
    } catch (...) {
        Close();
        throw;
    }
}

void RowsetCore::OpenStatic(Cursor& cursor, Ref<ConnectionImpl> connection, std::int32_t max_records) {
    (void)connection;
    BeginOpen(nullptr);
    columns_ = cursor.Columns();
    std::vector<std::uint8_t> viewable = ViewableColumns(columns_);
    rows_ = std::make_unique<ClientRows>(columns_.size());
    scratch_.assign(columns_.size(), Variant());
    while ((max_records <= 0 || static_cast<std::int64_t>(rows_->RowCount()) < max_records) && cursor.Next())
        rows_->Append(cursor, scratch_.data(), viewable.data());
    FinishStaticOpen();
}

void RowsetCore::FinishStaticOpen() {
    mode_ = Mode::kStatic;
    SetPosition(rows_->RowCount() > 0 ? 0 : -1);
}

void RowsetCore::HoldPending(std::unique_ptr<Execution> exec) { BeginOpen(std::move(exec)); }

void RowsetCore::LookPastResult() {
    if (exec_) exec_->LookPast();
}

std::unique_ptr<Execution> RowsetCore::TakeExecution() {
    if (connection_) connection_->RemoveUser(this);
    connection_ = nullptr;
    cursor_ = nullptr;
    std::unique_ptr<Execution> exec = std::move(exec_);
    BeginOpen(nullptr);
    return exec;
}

void RowsetCore::Close() {
    // Output parameters are complete once every result was read; closing reads past the rest.
    std::unique_ptr<Execution> exec = std::move(exec_);
    cursor_ = nullptr;
    BeginOpen(nullptr);
    if (exec && !exec->exhausted && !exec->outputs_fetched && exec->HasOutputs()) exec->Finish();
}

void RowsetCore::SessionClosing() noexcept {
    connection_ = nullptr;  // the connection has already forgotten this user
    cursor_ = nullptr;
    exec_.reset();
    rows_.reset();
    filter_.reset();
    visible_.clear();
    engine_.reset();
    hidden_any_ = on_deleted_ = false;
    columns_.clear();
    mode_ = Mode::kClosed;
    bof_ = eof_ = true;
    ++epoch_;
    Touch();
}

bool RowsetCore::FetchForward() {
    for (;;) {
        if (max_records_ > 0 && fetched_ >= max_records_) return false;
        if (!cursor_->Next()) return false;
        ++fetched_;
        if (!filter_ || RowVisible(0)) return true;
    }
}

bool RowsetCore::RowVisible(std::size_t row) {
    if (!filter_) return true;
    return filter_->criteria.Matches([this, row](int column) -> const Variant& {
        Variant& slot = scratch_[static_cast<std::size_t>(column)];
        if (mode_ == Mode::kForward) {
            cursor_->Read(static_cast<std::size_t>(column), slot);
        } else if (!engine_ || !engine_->Read(row, static_cast<std::size_t>(column), slot)) {
            rows_->Read(row, static_cast<std::size_t>(column), slot);
        }
        return slot;
    });
}

std::size_t RowsetCore::VisibleCount() const {
    if (mode_ != Mode::kStatic) return 0;
    return filtered_ ? visible_.size() : rows_->RowCount();
}

std::size_t RowsetCore::RowAt(std::int64_t pos) const {
    return filtered_ ? visible_[static_cast<std::size_t>(pos)] : static_cast<std::size_t>(pos);
}

void RowsetCore::SetPosition(std::int64_t pos) {
    const auto n = static_cast<std::int64_t>(VisibleCount());
    pos_ = std::clamp<std::int64_t>(pos, -1, n);
    bof_ = n == 0 || pos_ < 0;
    eof_ = n == 0 || pos_ >= n;
    Touch();
}

void RowsetCore::LoadStatic(std::size_t column, Variant& out) {
    const std::size_t row = RowAt(pos_);
    if (engine_ && engine_->Read(row, column, out)) return;
    rows_->Read(row, column, out);
}

void RowsetCore::SetFetchSize(std::int32_t rows) {
    if (mode_ == Mode::kForward && cursor_) cursor_->SetFetchSize(rows);
}

void RowsetCore::MoveNext() {
    if (eof_) RaiseAdo(ado::adErrNoCurrentRecord, kRecordset);
    if (mode_ == Mode::kForward) {
        moved_ = true;
        bool has = false;
        try {
            has = FetchForward();
        } catch (...) {
            bof_ = false;
            eof_ = true;
            Touch();
            throw;
        }
        bof_ = false;
        eof_ = !has;
        Touch();
        return;
    }
    SetPosition(on_deleted_ ? LeaveDeleted() : pos_ + 1);
}

void RowsetCore::MovePrevious() {
    if (mode_ == Mode::kForward) RaiseAdo(ado::adErrFeatureNotAvailable, kRecordset);
    if (bof_) RaiseAdo(ado::adErrNoCurrentRecord, kRecordset);
    if (on_deleted_) {
        SetPosition(LeaveDeleted() - 1);
        return;
    }
    SetPosition(std::min<std::int64_t>(pos_, static_cast<std::int64_t>(VisibleCount())) - 1);
}

void RowsetCore::MoveFirst() {
    if (mode_ == Mode::kForward) {
        // Standing on the first row already is no move; going back to it is.
        if (moved_) RaiseAdo(ado::adErrFeatureNotAvailable, kRecordset);
        if (bof_ && eof_) RaiseAdo(ado::adErrNoCurrentRecord, kRecordset);
        return;
    }
    if (on_deleted_) LeaveDeleted();
    if (VisibleCount() == 0) RaiseAdo(ado::adErrNoCurrentRecord, kRecordset);
    SetPosition(0);
}

void RowsetCore::MoveLast() {
    if (mode_ == Mode::kForward) RaiseAdo(ado::adErrFeatureNotAvailable, kRecordset);
    if (on_deleted_) LeaveDeleted();
    if (VisibleCount() == 0) RaiseAdo(ado::adErrNoCurrentRecord, kRecordset);
    SetPosition(static_cast<std::int64_t>(VisibleCount()) - 1);
}

void RowsetCore::Move(std::int64_t n) {
    if (n == 0) {
        if (!HasRow()) RaiseAdo(ado::adErrNoCurrentRecord, kRecordset);
        return;
    }
    if (mode_ == Mode::kForward) {
        if (n < 0) RaiseAdo(ado::adErrFeatureNotAvailable, kRecordset);
        if (eof_) RaiseAdo(ado::adErrNoCurrentRecord, kRecordset);
        for (std::int64_t i = 0; i < n && !eof_; ++i) MoveNext();
        return;
    }
    if ((n > 0 && eof_) || (n < 0 && bof_)) RaiseAdo(ado::adErrNoCurrentRecord, kRecordset);
    if (on_deleted_) {
        // The deleted row stood between the row before it and the row after it.
        const std::int64_t next = LeaveDeleted();
        SetPosition(n > 0 ? next + n - 1 : next + n);
        return;
    }
    SetPosition(pos_ + n);
}

std::int64_t RowsetCore::RecordCount() const {
    if (mode_ != Mode::kStatic) return -1;
    return static_cast<std::int64_t>(VisibleCount());
}

std::int64_t RowsetCore::AbsolutePosition() const {
    constexpr std::int64_t kUnknown = -1, kBof = -2, kEof = -3;
    if (mode_ != Mode::kStatic) return kUnknown;
    if (VisibleCount() == 0 || bof_) return kBof;
    if (eof_) return kEof;
    return pos_ + 1;
}

std::size_t RowsetCore::CellSize(std::size_t column) {
    if (mode_ == Mode::kStatic) return rows_->CellSize(RowAt(pos_), column);
    return 0;
}

void RowsetCore::SetFilterCriteria(const std::string& criteria) {
    if (criteria.empty()) {
        SetFilterGroup(ado::adFilterNone);
        return;
    }
    auto column_of = [this](std::string_view name) -> int {
        for (std::size_t i = 0; i < columns_.size(); ++i)
            if (TextEquals(columns_[i].name, name)) return static_cast<int>(i);
        return -1;
    };
    filter_ = std::make_unique<FilterState>(FilterCriteria::Parse(criteria, column_of));
    if (mode_ == Mode::kStatic) {
        visible_.clear();
        on_deleted_ = false;
        RebuildVisible();
        SetPosition(0);
        return;
    }
    // A forward-only cursor cannot show rows it has passed: the filter applies from the current row on.
    if (HasRow() && !RowVisible(0)) {
        bool has = FetchForward();
        eof_ = !has;
    }
    Touch();
}

void RowsetCore::SetFilterGroup(std::int32_t group) {
    switch (group) {
        case ado::adFilterNone:
        case ado::adFilterFetchedRecords:
            filter_.reset();
            if (mode_ == Mode::kStatic) {
                on_deleted_ = false;
                RebuildVisible();
                SetPosition(0);
            }
            return;
        case ado::adFilterPendingRecords:
        case ado::adFilterAffectedRecords:
        case ado::adFilterConflictingRecords:
            // Only the update engine's rows can be pending, written or in conflict.
            if (mode_ != Mode::kStatic) RaiseAdo(ado::adErrFeatureNotAvailable, kRecordset);
            filter_.reset();
            on_deleted_ = false;
            visible_.clear();
            filtered_ = true;
            if (engine_)
                for (std::size_t r = 0; r < rows_->RowCount(); ++r)
                    if (engine_->InGroup(r, group)) visible_.push_back(static_cast<std::uint32_t>(r));
            SetPosition(0);
            return;
        default:
            RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    }
}

// ---- editing -----------------------------------------------------------------------------------------
void RowsetCore::EnableUpdates(bool batch, Session* session) {
    if (mode_ == Mode::kStatic) engine_ = std::make_unique<UpdateEngine>(columns_, batch, session);
}

void RowsetCore::RebuildVisible() {
    visible_.clear();
    filtered_ = filter_ || hidden_any_;
    if (!filtered_) return;
    for (std::size_t r = 0; r < rows_->RowCount(); ++r)
        if (!(hidden_any_ && engine_->Hidden(r)) && RowVisible(r))
            visible_.push_back(static_cast<std::uint32_t>(r));
}

void RowsetCore::StandOn(std::size_t row) {
    if (row == UpdateEngine::npos) {
        SetPosition(static_cast<std::int64_t>(VisibleCount()));
        return;
    }
    if (!filtered_) {
        SetPosition(static_cast<std::int64_t>(row));
        return;
    }
    auto at = std::lower_bound(visible_.begin(), visible_.end(), static_cast<std::uint32_t>(row));
    SetPosition(at - visible_.begin());
}

std::int64_t RowsetCore::LeaveDeleted() {
    const std::size_t row = CurrentRow();
    on_deleted_ = false;
    RebuildVisible();
    auto at = std::lower_bound(visible_.begin(), visible_.end(), static_cast<std::uint32_t>(row));
    return at - visible_.begin();
}

void RowsetCore::SetValue(std::size_t column, Variant value) {
    engine_->SetValue(*rows_, CurrentRow(), column, std::move(value));
    Touch();
}

bool RowsetCore::ChangedInEdit(std::size_t column) const {
    return engine_ && HasRow() && engine_->ChangedInEdit(CurrentRow(), column);
}

bool RowsetCore::ReadOriginal(std::size_t column, Variant& out) const {
    return engine_ && engine_->ReadOriginal(CurrentRow(), column, out);
}

void RowsetCore::AddNew() {
    if (on_deleted_) SetPosition(LeaveDeleted());
    const std::size_t previous = HasRow() ? CurrentRow() : UpdateEngine::npos;
    std::vector<Variant> blank(columns_.size());
    rows_->Append(blank.data());
    const std::size_t row = rows_->RowCount() - 1;
    engine_->AddNew(row, previous);
    if (filtered_) visible_.push_back(static_cast<std::uint32_t>(row));
    SetPosition(static_cast<std::int64_t>(VisibleCount()) - 1);
}

void RowsetCore::Update(Session* session) {
    engine_->Update(session);
    Touch();
}

void RowsetCore::CancelUpdate() {
    std::size_t previous = UpdateEngine::npos;
    if (engine_->CancelUpdate(previous)) {
        // The new row was never stored: it disappears, and the row current before it is current again.
        hidden_any_ = true;
        RebuildVisible();
        StandOn(previous);
    }
    Touch();
}

void RowsetCore::Delete(Session* session) {
    engine_->Delete(session, *rows_, CurrentRow());
    hidden_any_ = true;
    on_deleted_ = true;
    Touch();
}

void RowsetCore::UpdateBatch(Session* session, bool current_only) {
    engine_->Update(session);
    engine_->UpdateBatch(session, current_only && HasRow() ? CurrentRow() : UpdateEngine::npos);
    Touch();
}

void RowsetCore::CancelBatch(bool current_only) {
    const std::size_t current = HasRow() ? CurrentRow() : UpdateEngine::npos;
    engine_->CancelBatch(current_only ? current : UpdateEngine::npos);
    // Rows deleted and not yet stored come back; new rows not yet stored go.
    on_deleted_ = false;
    RebuildVisible();
    StandOn(current);
}

std::int32_t RowsetCore::RowStatus() const {
    return engine_ ? engine_->Status(CurrentRow()) : ado::adRecUnmodified;
}

std::int32_t RowsetCore::RowEditMode() const { return engine_ ? engine_->EditMode(CurrentRow()) : 0; }

// ---- Field -------------------------------------------------------------------------------------------
FieldImpl::FieldImpl(Ref<RowsetCore> core, std::size_t index, ColumnInfo info)
    : core_(std::move(core)), index_(index), info_(std::move(info)), epoch_(core_->epoch()) {}

void FieldImpl::RequireRow() {
    RowsetCore& c = *core_;
    if (c.epoch() != epoch_)
        RaiseAdo(c.IsOpen() ? ado::adErrObjectNotSet : ado::adErrObjectClosed, "ADODB.Field");
    if (!c.HasRow()) RaiseAdo(ado::adErrNoCurrentRecord, "ADODB.Field");
}

const Variant& FieldImpl::LoadValue() {
    RowsetCore& c = *core_;
    if (c.epoch() != epoch_ || !c.HasRow()) [[unlikely]] RequireRow();
    c.Load(index_, slot_);
    loaded_gen_ = c.row_generation();
    return slot_;
}

std::int32_t FieldImpl::ActualSize() {
    const Variant& v = Value();
    if (const auto* s = v.get_if<std::string>()) return static_cast<std::int32_t>(s->size());
    if (const auto* b = v.get_if<Bytes>()) return static_cast<std::int32_t>(b->size());
    if (v.IsNull() || v.IsEmpty()) return 0;
    return info_.defined_size > 0 ? info_.defined_size : static_cast<std::int32_t>(core_->CellSize(index_));
}

void FieldImpl::SetValue(const Variant& value) {
    if (!core_->IsOpen()) RaiseAdo(ado::adErrObjectClosed, "ADODB.Field");
    if (!core_->engine()) RaiseAdo(ado::adErrFeatureNotAvailable, "ADODB.Field");
    RequireRow();
    core_->SetValue(index_, core_->engine()->Accept(index_, value));
}

void FieldImpl::AppendChunk(const Variant& data) {
    if (!core_->IsOpen()) RaiseAdo(ado::adErrObjectClosed, "ADODB.Field");
    if (!core_->engine()) RaiseAdo(ado::adErrFeatureNotAvailable, "ADODB.Field");
    RequireRow();
    // The first chunk of an edit replaces the value; the later ones add to it.
    const bool appending = core_->ChangedInEdit(index_);
    Variant current = appending ? Value() : Variant();
    if (const auto* piece = data.get_if<Bytes>()) {
        Bytes whole;
        if (const auto* held = current.get_if<Bytes>()) whole = *held;
        whole.insert(whole.end(), piece->begin(), piece->end());
        core_->SetValue(index_, Variant(std::move(whole)));
        return;
    }
    if (data.IsNull() || data.IsEmpty()) {
        if (!appending) core_->SetValue(index_, Variant::Null());
        return;
    }
    std::string whole = current.IsNull() || current.IsEmpty() ? std::string() : CStr(current);
    whole += CStr(data);
    core_->SetValue(index_, Variant(std::move(whole)));
}

Variant FieldImpl::OriginalValue() {
    RequireRow();
    Variant original;
    if (core_->ReadOriginal(index_, original)) return original;
    return Value();
}

Variant FieldImpl::GetChunk(std::int32_t length) {
    if (length < 0) RaiseAdo(ado::adErrInvalidArgument, "ADODB.Field");
    const Variant& v = Value();
    if (chunk_gen_ != core_->row_generation()) {
        chunk_gen_ = core_->row_generation();
        chunk_offset_ = 0;
    }
    if (const auto* b = v.get_if<Bytes>()) {
        if (chunk_offset_ >= b->size()) return Variant::Null();
        std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), b->size() - chunk_offset_);
        Bytes piece(b->begin() + static_cast<std::ptrdiff_t>(chunk_offset_),
                    b->begin() + static_cast<std::ptrdiff_t>(chunk_offset_ + n));
        chunk_offset_ += n;
        return Variant(std::move(piece));
    }
    if (v.IsNull()) return v;
    std::string text = CStr(v);
    // Text is handed out by characters; the offset counts characters read so far.
    std::size_t total = Len(text);
    if (chunk_offset_ >= total) return Variant::Null();
    std::string piece = Mid(text, chunk_offset_ + 1, static_cast<std::size_t>(length));
    chunk_offset_ += Len(piece);
    return Variant(std::move(piece));
}

Ref<ado::Properties> FieldImpl::Properties() {
    if (!properties_) {
        auto props = MakeRef<PropertiesImpl>();
        props->Add("BASECATALOGNAME", ado::adBSTR, ado::adPropRead, Variant(info_.base_catalog));
        props->Add("BASESCHEMANAME", ado::adBSTR, ado::adPropRead, Variant(info_.base_schema));
        props->Add("BASETABLENAME", ado::adBSTR, ado::adPropRead, Variant(info_.base_table));
        props->Add("BASECOLUMNNAME", ado::adBSTR, ado::adPropRead, Variant(info_.base_column));
        props->Add("KEYCOLUMN", ado::adBoolean, ado::adPropRead, Variant(info_.key_column));
        props->Add("ISAUTOINCREMENT", ado::adBoolean, ado::adPropRead, Variant(info_.auto_increment));
        properties_ = Ref<ado::Properties>(props.get());
    }
    return properties_;
}

// ---- Fields ------------------------------------------------------------------------------------------
FieldsImpl::FieldsImpl(const Ref<RowsetCore>& core) {
    const auto& columns = core->columns();
    fields_.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        fields_.push_back(MakeRef<FieldImpl>(core, i, columns[i]));
        folded_.push_back(FoldCase(columns[i].name));
    }
}

int FieldsImpl::IndexOf(std::string_view name) const {
    std::string folded = FoldCase(name);
    for (std::size_t i = 0; i < folded_.size(); ++i)
        if (folded_[i] == folded) return static_cast<int>(i);
    return -1;
}

Ref<ado::Field> FieldsImpl::Item(const Variant& index) {
    if (const auto* name = index.get_if<std::string>()) {
        int i = IndexOf(*name);
        if (i < 0) RaiseAdo(ado::adErrItemNotFound, "ADODB.Fields");
        return Ref<ado::Field>(fields_[static_cast<std::size_t>(i)].get());
    }
    std::int64_t i = -1;
    try {
        i = CLngLng(index);
    } catch (const korado::Error&) {
        RaiseAdo(ado::adErrItemNotFound, "ADODB.Fields");
    }
    if (i < 0 || i >= static_cast<std::int64_t>(fields_.size()))
        RaiseAdo(ado::adErrItemNotFound, "ADODB.Fields");
    return Ref<ado::Field>(fields_[static_cast<std::size_t>(i)].get());
}

// ---- Recordset ---------------------------------------------------------------------------------------
// Most recordsets a command returns are closed ones for statements without rows: their rowset is made
// when something first needs it.
KORADO_HOT RecordsetImpl::RecordsetImpl() : fields_(NoFields()) {}

RowsetCore& RecordsetImpl::core() {
    if (!core_) core_ = MakeRef<RowsetCore>();
    return *core_;
}

KORADO_HOT RecordsetImpl::~RecordsetImpl() {
    // Fields may outlive their recordset; they must not keep its statement and session busy.
    if (!core_ || (!core_->IsOpen() && !core_->execution())) return;
    try {
        core_->Close();
    } catch (...) {
    }
}

template <class F>
void RecordsetImpl::WithConnection(F&& f) {
    if (active_connection_) {
        active_connection_->Call(std::forward<F>(f));
    } else {
        f();
    }
}

void RecordsetImpl::RequireOpen() {
    if (!IsOpen()) RaiseAdo(ado::adErrObjectClosed, kRecordset);
}

void RecordsetImpl::RequireClosed() {
    if (IsOpen()) RaiseAdo(ado::adErrObjectOpen, kRecordset);
}

Ref<ado::Connection> RecordsetImpl::ActiveConnection() {
    return Ref<ado::Connection>(active_connection_.get());
}

void RecordsetImpl::SetActiveConnection(const Ref<ado::Connection>& connection) {
    if (source_command_ && IsOpen()) RaiseAdo(ado::adErrBoundToCommand, kRecordset);
    Ref<ConnectionImpl> c = AsConnectionImpl(connection);
    if (connection && !c) RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    if (IsOpen()) {
        // An open static recordset may be disconnected (its rows stay), and one without a connection (opened
        // from a file, or disconnected) may be given one, where UpdateBatch then writes its pending changes;
        // nothing else changes connection.
        if (core().mode() != RowsetCore::Mode::kStatic || (c && active_connection_))
            RaiseAdo(ado::adErrObjectOpen, kRecordset);
        if (!c) core().Disconnect();
    }
    active_connection_ = c;
}

void RecordsetImpl::SetCursorLocation(std::int32_t value) {
    RequireClosed();
    if (value != ado::adUseServer && value != ado::adUseClient)
        RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    cursor_location_ = value;
}

std::int32_t RecordsetImpl::CursorType() {
    if (!core_) return cursor_type_;
    switch (core_->mode()) {
        case RowsetCore::Mode::kForward:
            return ado::adOpenForwardOnly;
        case RowsetCore::Mode::kStatic:
            return ado::adOpenStatic;
        default:
            return cursor_type_;
    }
}

void RecordsetImpl::SetCursorType(std::int32_t value) {
    RequireClosed();
    if (value < ado::adOpenUnspecified || value > ado::adOpenStatic)
        RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    cursor_type_ = value == ado::adOpenUnspecified ? ado::adOpenForwardOnly : value;
}

std::int32_t RecordsetImpl::LockType() {
    if (!IsOpen()) return lock_type_;
    if (core().mode() == RowsetCore::Mode::kForward || lock_type_ == ado::adLockReadOnly)
        return ado::adLockReadOnly;
    // The client cursor engine has no pessimistic locking: asking for it gives optimistic locking.
    if (lock_type_ == ado::adLockPessimistic) return ado::adLockOptimistic;
    return lock_type_;
}

void RecordsetImpl::SetLockType(std::int32_t value) {
    RequireClosed();
    if (value < ado::adLockUnspecified || value == 0 || value > ado::adLockBatchOptimistic)
        RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    lock_type_ = value == ado::adLockUnspecified ? ado::adLockReadOnly : value;
}

void RecordsetImpl::SetCacheSize(std::int32_t value) {
    if (value <= 0) RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    cache_size_ = value;
    if (core_) core_->SetFetchSize(value);  // a rowset made later is opened with cache_size_
}

void RecordsetImpl::SetPageSize(std::int32_t value) {
    if (value <= 0) RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    page_size_ = value;
}

void RecordsetImpl::SetMaxRecords(std::int32_t value) {
    RequireClosed();
    if (value < 0) RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    max_records_ = value;
}

void RecordsetImpl::Open(const Variant& source, const Variant& active_connection, std::int32_t cursor_type,
                         std::int32_t lock_type, std::int32_t options) {
    RequireClosed();
    if (cursor_type != ado::adOpenUnspecified) SetCursorType(cursor_type);
    if (lock_type != ado::adLockUnspecified) SetLockType(lock_type);
    const bool connection_given = !(active_connection.IsMissing() || active_connection.IsEmpty() ||
                                    active_connection.IsNull() || active_connection.IsNothing());
    const bool forward_only = cursor_location_ == ado::adUseServer && cursor_type_ == ado::adOpenForwardOnly;

    Ref<CommandImpl> command;
    if (source.IsObject() && !source.IsNothing()) {
        command = source.ObjectAs<CommandImpl>();
        if (!command) RaiseAdo(ado::adErrInvalidArgument, kRecordset);
        if (connection_given) RaiseAdo(ado::adErrInvalidArgument, kRecordset);
        Ref<ConnectionImpl> c = command->connection();
        if (!c || !c->IsOpen()) RaiseAdo(ado::adErrInvalidConnection, kRecordset);
        std::unique_ptr<Execution> exec = command->Run(Variant::Missing(), options, forward_only, kRecordset);
        active_connection_ = c;
        source_command_ = command;
        open_source_ = source;
        open_options_ = options;
        Attach(std::move(exec), command->text());
        return;
    }

    std::string text =
        source.IsMissing() || source.IsEmpty() || source.IsNull() ? source_.str() : CStr(source);
    // Without any connection the source may name a saved recordset's file. Only a caller who says so
    // (adCmdFile) learns that such a file is missing; to any other, text that names no file was meant for
    // a connection the recordset lacks.
    const bool file_option = CommandTypeOf(options, ado::adCmdText) == ado::adCmdFile;
    if (file_option || (!connection_given && !active_connection_ && persist::FileExists(text))) {
        OpenFile(text);
        return;
    }
    Ref<ConnectionImpl> c = active_connection_;
    if (connection_given) {
        if (active_connection.IsObject()) {
            c = active_connection.ObjectAs<ConnectionImpl>();
            if (!c) RaiseAdo(ado::adErrInvalidArgument, kRecordset);
        } else {
            // A connection string: the platform opens a connection of its own for this recordset.
            c = MakeRef<ConnectionImpl>();
            c->Open(CStr(active_connection), {}, {}, ado::adOptionUnspecified);
        }
    }
    if (!c || !c->IsOpen()) RaiseAdo(ado::adErrInvalidConnection, kRecordset);
    ExecuteOptions opts;
    opts.command_type = CommandTypeOf(options, ado::adCmdText);
    opts.timeout_seconds = c->CommandTimeout();
    opts.forward_only = forward_only;
    std::unique_ptr<Execution> exec = RunText(c, text, opts, {}, Ref<ParametersImpl>(), kRecordset);
    active_connection_ = c;
    source_command_ = nullptr;
    open_source_ = Variant(text);
    open_options_ = options;
    Attach(std::move(exec), SharedText(text));
}

void RecordsetImpl::Attach(std::unique_ptr<Execution> exec, SharedText source) {
    source_ = std::move(source);
    if (const auto* group = filter_.get_if<std::int32_t>(); !group || *group != 0) filter_ = Variant(0);
    Ref<ConnectionImpl> c = exec->connection;
    const bool editable = lock_type_ != ado::adLockReadOnly;
    c->Call([&] {
        if (!exec->statement->Result()) {
            // A statement without rows: the recordset stays closed. It holds the execution for
            // NextRecordset unless the provider knows that nothing follows (a single action statement, the
            // usual case, then lets go of its statement at once).
            if (exec->HasOutputs()) exec->LookPast();
            results_ended_ = !exec->HasOutputs() && !exec->statement->MayHaveMoreResults();
            if (results_ended_) {
                exec.reset();
            } else {
                core().HoldPending(std::move(exec));
            }
            return;
        }
        results_ended_ = false;
        // A call with output parameters answers with rows too (psqlODBC runs it as a SELECT): its rows are
        // read into the recordset at once, so that the output values can follow before Execute returns.
        const bool outputs = exec->HasOutputs();
        const bool forward = cursor_location_ == ado::adUseServer && cursor_type_ == ado::adOpenForwardOnly;
        if (forward && !outputs) {
            core().OpenForward(std::move(exec), max_records_, cache_size_);
        } else {
            core().OpenStatic(std::move(exec), max_records_);
            if (outputs) core().LookPastResult();
            if (editable)
                core().EnableUpdates(lock_type_ == ado::adLockBatchOptimistic, &c->RequireSession(kRecordset));
        }
    });
    RebuildFields();
}

KORADO_HOT void RecordsetImpl::SetUpForExecute(Ref<ConnectionImpl> connection) {
    cursor_location_ = connection->CursorLocation();
    if (cursor_location_ == ado::adUseClient) cursor_type_ = ado::adOpenStatic;
    active_connection_ = std::move(connection);
}

KORADO_HOT void RecordsetImpl::AttachEnded(SharedText source) {
    source_ = std::move(source);
    if (const auto* group = filter_.get_if<std::int32_t>(); !group || *group != 0) filter_ = Variant(0);
    results_ended_ = true;
    RebuildFields();
}

void RecordsetImpl::AttachCursor(Cursor& cursor, Ref<ConnectionImpl> connection) {
    RequireClosed();
    active_connection_ = connection;
    connection->Call([&] { core().OpenStatic(cursor, connection, max_records_); });
    cursor_location_ = ado::adUseClient;
    cursor_type_ = ado::adOpenStatic;
    lock_type_ = ado::adLockReadOnly;
    source_ = SharedText();
    filter_ = Variant(0);
    RebuildFields();
}

KORADO_HOT void RecordsetImpl::RebuildFields() {
    if (IsOpen()) {
        fields_ = MakeRef<FieldsImpl>(core_);
    } else if (fields_->Count() != 0) {
        fields_ = NoFields();
    }
}

void RecordsetImpl::Close() {
    RequireOpen();
    fields_ = NoFields();
    filter_ = Variant(0);
    WithConnection([&] { core().Close(); });
}

bool RecordsetImpl::Eof() {
    RequireOpen();
    return core().Eof();
}

bool RecordsetImpl::Bof() {
    RequireOpen();
    return core().Bof();
}

std::int32_t RecordsetImpl::RecordCount() {
    RequireOpen();
    return static_cast<std::int32_t>(core().RecordCount());
}

std::int32_t RecordsetImpl::AbsolutePosition() {
    RequireOpen();
    return static_cast<std::int32_t>(core().AbsolutePosition());
}

void RecordsetImpl::SetFilter(const Variant& criteria) {
    RequireOpen();
    if (criteria.IsString()) {
        std::string text = *criteria.get_if<std::string>();
        WithConnection([&] { core().SetFilterCriteria(text); });
        filter_ = text.empty() ? Variant(0) : criteria;
        return;
    }
    if (criteria.IsEmpty() || criteria.IsNull()) {
        core().SetFilterGroup(ado::adFilterNone);
        filter_ = Variant(0);
        return;
    }
    std::int32_t group = 0;
    try {
        group = CLng(criteria);
    } catch (const korado::Error&) {
        RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    }
    core().SetFilterGroup(group);
    filter_ = Variant(group);
}

bool RecordsetImpl::Supports(std::int32_t cursor_options) {
    RequireOpen();
    // Hosts decide from these answers whether to offer moving back and editing, so only what works is
    // claimed. The client cursor's buffered rows move everywhere and know their position; a forward-only
    // cursor does neither. No recordset has bookmarks. Changes need an updatable client cursor over a
    // result whose rows the update engine can find in their base tables.
    std::int32_t supported = 0;
    if (core().mode() == RowsetCore::Mode::kStatic)
        supported = ado::adMovePrevious | ado::adHoldRecords | ado::adApproxPosition;
    if (const UpdateEngine* engine = core().engine()) {
        if (engine->CanUpdate()) supported |= ado::adUpdate | ado::adUpdateBatch;
        if (engine->CanAddDelete()) supported |= ado::adAddNew | ado::adDelete;
    }
    return (supported & cursor_options) == cursor_options;
}

std::int32_t RecordsetImpl::Status() {
    RequireOpen();
    if (!core().HasRow()) RaiseAdo(ado::adErrNoCurrentRecord, kRecordset);
    return core().RowStatus();
}

std::int32_t RecordsetImpl::EditMode() {
    RequireOpen();
    if (!core().HasRow()) RaiseAdo(ado::adErrNoCurrentRecord, kRecordset);
    return core().RowEditMode();
}

void RecordsetImpl::MoveFirst() {
    RequireOpen();
    FinishEdit();
    WithConnection([&] { core().MoveFirst(); });
}

void RecordsetImpl::MoveLast() {
    RequireOpen();
    FinishEdit();
    WithConnection([&] { core().MoveLast(); });
}

void RecordsetImpl::MoveNext() {
    RequireOpen();
    FinishEdit();
    if (core().mode() == RowsetCore::Mode::kStatic || !active_connection_) {
        core().MoveNext();
        return;
    }
    active_connection_->CallPerRow([&] { core().MoveNext(); });
}

void RecordsetImpl::MovePrevious() {
    RequireOpen();
    FinishEdit();
    core().MovePrevious();
}

void RecordsetImpl::Move(std::int32_t num_records) {
    RequireOpen();
    FinishEdit();
    WithConnection([&] { core().Move(num_records); });
}

Ref<ado::Recordset> RecordsetImpl::NextRecordset(Variant* records_affected) {
    if (!core_ || !core_->execution()) {
        if (results_ended_) {
            results_ended_ = false;
            if (records_affected) *records_affected = Variant(-1);
            return Ref<ado::Recordset>();
        }
        if (!IsOpen()) RaiseAdo(ado::adErrObjectClosed, kRecordset);
        return Ref<ado::Recordset>();
    }
    fields_ = NoFields();
    filter_ = Variant(0);
    std::unique_ptr<Execution> exec = core().TakeExecution();
    Ref<ConnectionImpl> c = exec->connection;
    bool more = c->Call([&] { return exec->NextResult(); });
    if (!more) {
        if (records_affected) *records_affected = Variant(-1);
        return Ref<ado::Recordset>();
    }
    if (records_affected) *records_affected = Variant(static_cast<int>(exec->statement->RowsAffected()));
    Ref<RecordsetImpl> next = MakeRef<RecordsetImpl>();
    next->cursor_location_ = cursor_location_;
    next->cursor_type_ = cursor_type_;
    next->lock_type_ = lock_type_;
    next->cache_size_ = cache_size_;
    next->page_size_ = page_size_;
    next->max_records_ = max_records_;
    next->active_connection_ = active_connection_ ? active_connection_ : c;
    next->source_command_ = source_command_;
    next->Attach(std::move(exec), source_);
    return Ref<ado::Recordset>(next.get());
}

UpdateEngine& RecordsetImpl::Engine() {
    RequireOpen();
    // Forward-only and read-only cursors change nothing.
    UpdateEngine* engine = core().engine();
    if (!engine) RaiseAdo(ado::adErrFeatureNotAvailable, kRecordset);
    return *engine;
}

Session* RecordsetImpl::EditSession() {
    if (!active_connection_ || !active_connection_->IsOpen()) return nullptr;
    active_connection_->NoteWork();
    return &active_connection_->RequireSession(kRecordset);
}

void RecordsetImpl::FinishEdit() {
    if (!core_ || !core_->engine() || !core_->engine()->Editing()) return;
    WithConnection([&] { core_->Update(EditSession()); });
}

void RecordsetImpl::AddNew() {
    UpdateEngine& engine = Engine();
    WithConnection([&] { engine.RequireAddDelete(); });
    FinishEdit();
    core().AddNew();
}

void RecordsetImpl::Update() {
    Engine();
    if (!core().HasRow()) RaiseAdo(ado::adErrNoCurrentRecord, kRecordset);
    WithConnection([&] { core().Update(EditSession()); });
}

void RecordsetImpl::CancelUpdate() {
    RequireOpen();
    if (core().engine()) core().CancelUpdate();
}

void RecordsetImpl::UpdateBatch(std::int32_t affect) {
    Engine();
    if (affect < ado::adAffectCurrent || affect > ado::adAffectAllChapters)
        RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    WithConnection([&] { core().UpdateBatch(EditSession(), affect == ado::adAffectCurrent); });
}

void RecordsetImpl::CancelBatch(std::int32_t affect) {
    RequireOpen();
    if (affect < ado::adAffectCurrent || affect > ado::adAffectAllChapters)
        RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    if (core().engine()) core().CancelBatch(affect == ado::adAffectCurrent);
}

void RecordsetImpl::Delete(std::int32_t affect) {
    UpdateEngine& engine = Engine();
    // Only the current row: a group of rows would need the filter's rows deleted one by one.
    if (affect != ado::adAffectCurrent) RaiseAdo(ado::adErrFeatureNotAvailable, kRecordset);
    if (!core().HasRow()) RaiseAdo(ado::adErrNoCurrentRecord, kRecordset);
    WithConnection([&] {
        engine.RequireAddDelete();
        core().Delete(EditSession());
    });
}

void RecordsetImpl::Requery(std::int32_t options) {
    RequireOpen();
    if (open_source_.IsEmpty()) RaiseAdo(ado::adErrFeatureNotAvailable, kRecordset);
    Variant source = open_source_;
    Close();
    if (source_command_) {
        Open(source, Variant::Missing(), cursor_type_, lock_type_, options);
    } else {
        Open(source, Variant(Ref<ado::Connection>(active_connection_.get())), cursor_type_, lock_type_,
             options == ado::adOptionUnspecified ? open_options_ : options);
    }
}

Ref<ado::Properties> RecordsetImpl::Properties() {
    if (!properties_) {
        auto props = MakeRef<PropertiesImpl>();
        props->Add("Unique Table", ado::adBSTR, ado::adPropRead | ado::adPropWrite, Variant(""));
        props->Add("Unique Schema", ado::adBSTR, ado::adPropRead | ado::adPropWrite, Variant(""));
        props->Add("Unique Catalog", ado::adBSTR, ado::adPropRead | ado::adPropWrite, Variant(""));
        props->Add("Update Criteria", ado::adInteger, ado::adPropRead | ado::adPropWrite, Variant(2));
        props->Add("Resync Command", ado::adBSTR, ado::adPropRead | ado::adPropWrite, Variant(""));
        properties_ = Ref<ado::Properties>(props.get());
    }
    return properties_;
}

}  // namespace korado::dataaccess
