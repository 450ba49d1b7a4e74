// Connection of the platform stand-in ("ADODB.Connection"): a provider session with its errors, properties
// and transactions.
//
// Owns its provider Session, its Errors and its Properties. Recordsets that still read from the session
// register as children; closing the connection closes them first, so no statement outlives its session.
// A failing provider call replaces Errors with its diagnostics and raises the first of them; the
// platform's own failures (3704 closed, 3705 open, 3706 unknown provider, 3246 close in a transaction, 3001
// malformed connection string) are raised without touching Errors. A failed Open leaves the connection
// closed and reusable.
#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "dataaccess/errors.h"
#include "dataaccess/properties.h"
#include "dataaccess/provider.h"
#include "korado/platform/adodb.h"

namespace korado::dataaccess {

class RecordsetImpl;

// Something that reads from the connection's session and must let go of it when the connection closes.
class SessionUser {
  public:
    virtual void SessionClosing() noexcept = 0;

  protected:
    ~SessionUser() = default;
};

class ConnectionImpl final : public ado::Connection {
  public:
    ConnectionImpl();
    ~ConnectionImpl() override;

    std::string ConnectionString() override;
    void SetConnectionString(std::string_view value) override;
    std::int32_t ConnectionTimeout() override { return connection_timeout_; }
    void SetConnectionTimeout(std::int32_t seconds) override;
    std::int32_t CommandTimeout() override { return command_timeout_; }
    void SetCommandTimeout(std::int32_t seconds) override;
    std::int32_t CursorLocation() override { return cursor_location_; }
    void SetCursorLocation(std::int32_t value) override;
    void Open(std::string_view connection_string, std::string_view user_id, std::string_view password,
              std::int32_t options) override;
    void Close() override;
    KORADO_HOT std::int32_t State() override { return session_ ? ado::adStateOpen : ado::adStateClosed; }
    std::string Version() override { return "2.5"; }
    std::string Provider() override;
    void SetProvider(std::string_view value) override;
    std::int32_t BeginTrans() override;
    void CommitTrans() override;
    void RollbackTrans() override;
    void Cancel() override;
    Ref<ado::Errors> Errors() override { return Ref<ado::Errors>(errors_.get()); }
    Ref<ado::Properties> Properties() override;
    Ref<ado::Recordset> OpenSchema(std::int32_t schema, const Variant& restrictions,
                                   const Variant& schema_id) override;
    Ref<ado::Recordset> Execute(std::string_view command_text, Variant* records_affected,
                                std::int32_t options) override;

    // ---- for the other platform objects ----
    bool IsOpen() const noexcept { return session_ != nullptr; }
    // The open session; raises `number` (3709 or 3704) from `object` when the connection is closed.
    Session& RequireSession(std::string_view object, std::int32_t number = ado::adErrInvalidConnection);
    // Runs a provider call: a ProviderError replaces Errors before it propagates; warnings the session
    // collected are appended afterwards.
    template <class F>
    decltype(auto) Call(F&& f) {
        try {
            if constexpr (std::is_void_v<decltype(f())>) {
                f();
                CollectWarnings();
            } else {
                decltype(auto) r = f();
                CollectWarnings();
                return r;
            }
        } catch (const ProviderError& e) {
            errors_->Replace(e.Records());
            throw;
        }
    }
    // As Call, without looking for warnings: for the per-row calls of a cursor.
    template <class F>
    decltype(auto) CallPerRow(F&& f) {
        try {
            return f();
        } catch (const ProviderError& e) {
            errors_->Replace(e.Records());
            throw;
        }
    }
    void CollectWarnings();
    void AddUser(SessionUser* user);
    void RemoveUser(SessionUser* user) noexcept;
    // Storage for a statement's bound values, handed from one statement to the next: a host runs one
    // statement after another, each with a few values.
    std::vector<ParamBinding> TakeBindingStorage() noexcept { return std::move(spare_bindings_); }
    void GiveBindingStorage(std::vector<ParamBinding>&& storage) noexcept {
        storage.clear();
        if (storage.capacity() > spare_bindings_.capacity()) spare_bindings_ = std::move(storage);
    }
    // Work since the transaction began: a link that drops takes it with the server's session, and whoever
    // reconnects has to be able to say so. Statements that only read (by their first word) do not count;
    // any other statement, a row written through a cursor or a table created or dropped does.
    void NoteStatement(std::string_view text, std::int32_t command_type) noexcept;
    void NoteWork() noexcept {
        if (transaction_level_ > 0) work_since_begin_ = true;
    }
    // True from the first such statement until the transaction ends, its link drops under a commit or
    // rollback, or the connection is opened again.
    bool HasUncommittedWork() override { return work_since_begin_; }

  private:
    // The connection string as set, parsed; raises 3001 when malformed.
    dataaccess::ConnectionString Parsed() const;
    std::string ProviderNameToUse(const dataaccess::ConnectionString& cs) const;
    void SyncInitProperties();
    // Lays the provider's information properties over the initialization ones (replacing the values of
    // those it also reports), keeping the objects of properties it reported before.
    void MergeInfoProperties(std::vector<PropertyValue> info);
    void RebuildInfoProperties(std::vector<PropertyValue> info);
    // Asks the provider for its information properties again (they changed, or it does not tell); kept
    // out of Properties, which the connection's status is read through before every statement.
    [[gnu::noinline]] void ReloadInfoProperties(std::uint64_t generation);
    void RefreshStatus();
    // Commits or rolls back through `end`; a failure on a dropped link ends the transaction count.
    template <class F>
    void EndTransaction(F&& end);
    void AddInitProperty(std::string name, std::int32_t type, std::vector<std::string> keys,
                         Variant fallback);
    void CloseUsers() noexcept;

    std::string connection_string_;
    std::string provider_name_;  // set through the Provider property
    std::shared_ptr<dataaccess::Provider> provider_;
    std::unique_ptr<Session> session_;
    Ref<ErrorsImpl> errors_;
    Ref<PropertiesImpl> properties_;
    std::size_t init_property_count_ = 0;
    // The provider's property names as it last reported them, and the property each one landed in: the
    // same list next time (the usual case) is merged by position, without comparing names.
    std::uint64_t properties_generation_ = 0;  // the session's PropertiesGeneration at the last merge
    bool properties_settled_ = false;          // the session's PropertiesSettled, taken at Open
    PropertyImpl* password_property_ = nullptr;
    PropertyImpl* status_property_ = nullptr;
    std::vector<std::string> info_names_;
    std::vector<std::pair<PropertyImpl*, bool>> info_targets_;  // (property, is an initialization one)
    std::int32_t connection_timeout_ = 15;
    std::int32_t command_timeout_ = 30;
    std::int32_t cursor_location_ = ado::adUseServer;
    std::int32_t transaction_level_ = 0;
    bool work_since_begin_ = false;
    bool opened_once_ = false;
    bool persist_security_info_ = false;
    std::vector<SessionUser*> users_;
    std::vector<ParamBinding> spare_bindings_;
};

// The Connection behind an ado::Connection reference; null for a connection that is not ours.
Ref<ConnectionImpl> AsConnectionImpl(const Ref<ado::Connection>& c);

// Converts a restriction list (Missing/Empty, or an array of up to 4 values) for Session::Schema; raises
// 3001 from "ADODB.Connection" for anything else.
std::vector<Variant> RestrictionList(const Variant& restrictions);

}  // namespace korado::dataaccess
