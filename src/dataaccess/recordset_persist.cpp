// Recordsets saved to files and opened from them: what a save writes of a rowset, and a static rowset
// built from a saved one.
#include "dataaccess/command.h"
#include "dataaccess/persist_file.h"
#include "dataaccess/persistence.h"
#include "dataaccess/platform_error.h"
#include "dataaccess/recordset.h"

namespace korado::dataaccess {

namespace {
constexpr const char* kRecordset = "ADODB.Recordset";
}  // namespace

// Fills a rowset's store from a reader. A file's pending changes go to an update engine in batch mode,
// which keeps them for UpdateBatch once the recordset has a connection; the store keeps each row as the
// database had it. Without base-table information in the file nothing could write them back: an updated
// row then shows its new values, a new row shows as any other, and a deleted one is left out.
class SavedRowsBuilder final : public persist::RowsetSink {
  public:
    explicit SavedRowsBuilder(RowsetCore& core) : core_(core) {}
    bool complete() const noexcept { return ended_; }

    void Begin(const persist::Schema& schema) override {
        core_.columns_ = schema.columns;
        core_.rows_ = std::make_unique<ClientRows>(core_.columns_.size());
        core_.scratch_.assign(core_.columns_.size(), Variant());
        if (schema.updatable) core_.engine_ = std::make_unique<UpdateEngine>(core_.columns_, true, nullptr);
    }

    void Row(persist::RowKind kind, const Variant* values, const Variant* originals) override {
        if (!core_.rows_) persist::RaisePersist(hr::E_FAIL, persist::kNotARecordset);
        ClientRows& store = *core_.rows_;
        UpdateEngine* engine = core_.engine_.get();
        switch (kind) {
            case persist::RowKind::kUnchanged:
                store.Append(values);
                return;
            case persist::RowKind::kInserted:
                store.Append(values);
                if (engine) engine->TakePending(store, store.RowCount() - 1, ado::adRecNew, nullptr);
                return;
            case persist::RowKind::kUpdated:
                if (!engine || !originals) {
                    store.Append(values);
                    return;
                }
                store.Append(originals);
                engine->TakePending(store, store.RowCount() - 1, ado::adRecModified, values);
                return;
            case persist::RowKind::kDeleted:
                if (!engine) return;
                store.Append(values);
                engine->TakePending(store, store.RowCount() - 1, ado::adRecDeleted, nullptr);
                core_.hidden_any_ = true;
                return;
        }
    }

    void End() override { ended_ = core_.rows_ != nullptr; }

  private:
    RowsetCore& core_;
    bool ended_ = false;
};

bool RowsetCore::RowsUpdatable(Session* session) const {
    if (engine_) return engine_->CanUpdate();
    return UpdateEngine(columns_, true, session).CanUpdate();
}

void RowsetCore::OpenSaved(const std::function<void(persist::RowsetSink&)>& read) {
    BeginOpen(nullptr);
    try {
        SavedRowsBuilder builder(*this);
        read(builder);
        if (!builder.complete()) persist::RaisePersist(hr::E_FAIL, persist::kNotARecordset);
        mode_ = Mode::kStatic;
        RebuildVisible();
        SetPosition(0);
    } catch (...) {
        Close();
        throw;
    }
}

void RowsetCore::SaveRows(persist::RowsetSink& sink, bool updatable) {
    persist::Schema schema;
    schema.columns = columns_;
    schema.updatable = updatable;
    const std::size_t n = columns_.size();
    std::vector<Variant> values(n), originals(n);
    sink.Begin(schema);

    if (mode_ == Mode::kForward) {
        // The rows already passed are gone; the current one and the rest are written, and the cursor is
        // then at its end as if moved there.
        try {
            for (bool has = HasRow(); has; has = FetchForward()) {
                for (std::size_t c = 0; c < n; ++c) cursor_->Read(c, values[c]);
                sink.Row(persist::RowKind::kUnchanged, values.data(), nullptr);
                bof_ = false;
            }
        } catch (...) {
            eof_ = true;
            Touch();
            throw;
        }
        moved_ = true;
        eof_ = true;
        Touch();
        sink.End();
        return;
    }

    // In store order, which is the order the rows show in. A FilterGroup filter does not limit the save:
    // the pending, written or conflicting rows it shows are part of the rows the file carries with their
    // changes, and a file of only those would lose the rows around them.
    for (std::size_t r = 0; r < rows_->RowCount(); ++r) {
        const std::int32_t change = engine_ ? engine_->PendingChange(r) : ado::adRecUnmodified;
        if (change != ado::adRecDeleted && hidden_any_ && engine_->Hidden(r)) continue;
        if (filter_ && !RowVisible(r)) continue;
        persist::RowKind kind = persist::RowKind::kUnchanged;
        const Variant* before = nullptr;
        if (change == ado::adRecDeleted) {
            kind = persist::RowKind::kDeleted;
            for (std::size_t c = 0; c < n; ++c) engine_->ReadOriginal(r, c, values[c]);
        } else {
            for (std::size_t c = 0; c < n; ++c)
                if (!engine_ || !engine_->Read(r, c, values[c])) rows_->Read(r, c, values[c]);
            if (change == ado::adRecNew) kind = persist::RowKind::kInserted;
            if (change == ado::adRecModified) {
                kind = persist::RowKind::kUpdated;
                for (std::size_t c = 0; c < n; ++c) engine_->ReadOriginal(r, c, originals[c]);
                before = originals.data();
            }
        }
        sink.Row(kind, values.data(), before);
    }
    sink.End();
    if (on_deleted_) LeaveDeleted();
    SetPosition(0);
}

void RecordsetImpl::Save(const Variant& destination, std::int32_t format) {
    RequireOpen();
    if (format != ado::adPersistADTG && format != ado::adPersistXML)
        RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    const auto* path = destination.get_if<std::string>();
    if (!path || path->empty()) RaiseAdo(ado::adErrInvalidArgument, kRecordset);
    // An edit in progress is stored first, as when the cursor leaves its row.
    FinishEdit();
    auto save = [&] {
        const bool updatable = core().RowsUpdatable(EditSession());
        persist::SaveFile(*path, format,
                          [&](persist::RowsetSink& sink) { core().SaveRows(sink, updatable); });
    };
    // A forward cursor reads its rows while saving: the provider's failures then go to the connection's
    // Errors, as a move's do.
    if (active_connection_) {
        active_connection_->Call(save);
    } else {
        save();
    }
}

void RecordsetImpl::OpenFile(const std::string& path) {
    persist::FileImage image(path);
    core().OpenSaved([&](persist::RowsetSink& sink) { persist::ReadImage(image.view(), sink); });
    active_connection_ = nullptr;
    source_command_ = nullptr;
    open_source_ = Variant();
    open_options_ = ado::adOptionUnspecified;
    source_ = SharedText(path);
    // Rows that can be written back wait for UpdateBatch: the cursor is in batch mode whatever lock type
    // was asked for, as the file's pending changes can only be written that way.
    cursor_type_ = ado::adOpenStatic;
    lock_type_ = core().engine() ? ado::adLockBatchOptimistic : ado::adLockReadOnly;
    filter_ = Variant(0);
    results_ended_ = false;
    RebuildFields();
}

}  // namespace korado::dataaccess
