#include "dataaccess/connection.h"

#include <algorithm>

#include "dataaccess/command.h"
#include "dataaccess/exact_cast.h"
#include "dataaccess/platform_error.h"
#include "dataaccess/recordset.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/strings.h"

namespace korado::dataaccess {
namespace {

constexpr const char* kObject = "ADODB.Connection";
constexpr std::int32_t kReadWrite = ado::adPropRead | ado::adPropWrite;

// "Prompt" as a connection string spells it: a number or the platform's names.
Variant PromptValue(const std::string& text) {
    if (TextEquals(text, "Prompt")) return Variant(std::int16_t{1});
    if (TextEquals(text, "Complete")) return Variant(std::int16_t{2});
    if (TextEquals(text, "CompleteRequired")) return Variant(std::int16_t{3});
    if (TextEquals(text, "NoPrompt")) return Variant(std::int16_t{4});
    return Variant(text);
}

bool TruthyText(const std::string& text) {
    return TextEquals(text, "true") || TextEquals(text, "yes") || text == "1" || TextEquals(text, "-1");
}

bool IsWordChar(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// `text` is `word` (upper-case ASCII) in any letter case.
bool IsKeyword(std::string_view text, std::string_view word) noexcept {
    return text.size() == word.size() &&
           std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
               return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
           });
}

// A query that reads only: its first word is one of reading, and no INTO (SELECT ... INTO makes a table
// or sets variables) follows. A function called from a SELECT may still write; that is not seen.
bool ReadsOnly(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n' || text[i] == '('))
        ++i;
    std::size_t end = i;
    while (end < text.size() && IsWordChar(text[end])) ++end;
    const std::string_view first = text.substr(i, end - i);
    static constexpr std::string_view kReading[] = {"SELECT",   "SHOW", "EXPLAIN",
                                                    "DESCRIBE", "DESC", "VALUES"};
    if (std::none_of(std::begin(kReading), std::end(kReading),
                     [&](std::string_view w) { return IsKeyword(first, w); }))
        return false;
    for (std::size_t at = end; at + 4 <= text.size(); ++at) {
        if (IsWordChar(text[at - 1]) || !IsKeyword(text.substr(at, 4), "INTO")) continue;
        if (at + 4 == text.size() || !IsWordChar(text[at + 4])) return false;
    }
    return true;
}

}  // namespace

ConnectionImpl::ConnectionImpl() : errors_(MakeRef<ErrorsImpl>()), properties_(MakeRef<PropertiesImpl>()) {
    SyncInitProperties();
}

ConnectionImpl::~ConnectionImpl() {
    // Users hold references to the connection, so none is left here. A connection released while a
    // transaction is open rolls it back, as the platform does, and never raises from here.
    if (session_) {
        try {
            while (transaction_level_ > 0) {
                --transaction_level_;
                session_->Rollback();
            }
        } catch (...) {
        }
        session_.reset();
    }
    properties_->DetachHooks();
}

Ref<ConnectionImpl> AsConnectionImpl(const Ref<ado::Connection>& c) { return ExactCast<ConnectionImpl>(c); }

// ---- connection string and settings ------------------------------------------------------------------
dataaccess::ConnectionString ConnectionImpl::Parsed() const {
    return dataaccess::ConnectionString::Parse(connection_string_, kObject);
}

std::string ConnectionImpl::ConnectionString() {
    if (!opened_once_ || persist_security_info_) return connection_string_;
    // After an open the platform hands the string back without the secret, unless asked to keep it; the
    // connection itself still knows it, so a later Open without arguments works.
    dataaccess::ConnectionString cs = Parsed();
    dataaccess::RemovePasswords(cs);
    return cs.ToString();
}

void ConnectionImpl::SetConnectionString(std::string_view value) {
    if (session_) RaiseAdo(ado::adErrObjectOpen, kObject);
    dataaccess::ConnectionString::Parse(value, kObject);  // a malformed string is refused now
    connection_string_ = std::string(value);
    opened_once_ = false;
    SyncInitProperties();
}

void ConnectionImpl::SetConnectionTimeout(std::int32_t seconds) {
    if (session_) RaiseAdo(ado::adErrObjectOpen, kObject);
    if (seconds < 0) RaiseAdo(ado::adErrInvalidArgument, kObject);
    connection_timeout_ = seconds;
    SyncInitProperties();
}

void ConnectionImpl::SetCommandTimeout(std::int32_t seconds) {
    if (seconds < 0) RaiseAdo(ado::adErrInvalidArgument, kObject);
    command_timeout_ = seconds;
}

void ConnectionImpl::SetCursorLocation(std::int32_t value) {
    if (value != ado::adUseServer && value != ado::adUseClient) RaiseAdo(ado::adErrInvalidArgument, kObject);
    cursor_location_ = value;
}

std::string ConnectionImpl::ProviderNameToUse(const dataaccess::ConnectionString& cs) const {
    std::string name = cs.Get("Provider");
    if (name.empty()) name = provider_name_;
    // Without a provider the platform means its ODBC bridge.
    if (name.empty()) name = "MSDASQL";
    return name;
}

std::string ConnectionImpl::Provider() {
    if (session_ && provider_) return std::string(provider_->VersionedName());
    std::string name;
    try {
        name = ProviderNameToUse(Parsed());
    } catch (const korado::Error&) {
        name = provider_name_.empty() ? "MSDASQL" : provider_name_;
    }
    try {
        return std::string(FindProvider(name)->VersionedName());
    } catch (const korado::Error&) {
        return name == "MSDASQL" ? "MSDASQL.1" : name;
    }
}

void ConnectionImpl::SetProvider(std::string_view value) {
    if (session_) RaiseAdo(ado::adErrObjectOpen, kObject);
    provider_name_ = std::string(value);
    dataaccess::ConnectionString cs = Parsed();
    if (cs.Has("Provider")) {
        cs.Set("Provider", value);
        connection_string_ = cs.ToString();
    }
}

// ---- properties --------------------------------------------------------------------------------------
void ConnectionImpl::AddInitProperty(std::string name, std::int32_t type, std::vector<std::string> keys,
                                     Variant fallback) {
    Variant value = fallback;
    dataaccess::ConnectionString cs;
    try {
        cs = Parsed();
    } catch (const korado::Error&) {
    }
    if (opened_once_ && !persist_security_info_) dataaccess::RemovePasswords(cs);
    for (const std::string& key : keys) {
        if (auto v = cs.Find(key)) {
            if (type == ado::adBoolean) {
                value = Variant(TruthyText(*v));
            } else if (name == "Prompt") {
                value = PromptValue(*v);
            } else if (type == ado::adInteger) {
                std::optional<double> n = ParseNumber(*v);
                value = n ? Variant(static_cast<int>(*n)) : Variant(*v);
            } else {
                value = Variant(*v);
            }
            break;
        }
    }
    std::string primary = keys.front();
    properties_->Add(std::move(name), type, kReadWrite, std::move(value),
                     [this, primary, keys](const Variant& v) {
                         if (session_) RaiseAdo(ado::adErrObjectOpen, "ADODB.Property");
                         dataaccess::ConnectionString cs = Parsed();
                         for (std::size_t i = 1; i < keys.size(); ++i) cs.Remove(keys[i]);
                         std::string text = v.IsNull() || v.IsEmpty() ? std::string() : CStr(v);
                         cs.Set(primary, text);
                         connection_string_ = cs.ToString();
                         opened_once_ = false;
                     });
}

void ConnectionImpl::SyncInitProperties() {
    info_names_.clear();
    info_targets_.clear();
    status_property_ = nullptr;
    properties_generation_ = 0;
    properties_->Clear();
    AddInitProperty("Password", ado::adBSTR, {"Password", "PWD"}, Variant(""));
    AddInitProperty("Persist Security Info", ado::adBoolean, {"Persist Security Info"}, Variant(false));
    AddInitProperty("User ID", ado::adBSTR, {"User ID", "UID"}, Variant(""));
    AddInitProperty("Data Source", ado::adBSTR, {"Data Source", "DSN"}, Variant(""));
    AddInitProperty("Prompt", ado::adSmallInt, {"Prompt"}, Variant(std::int16_t{4}));
    AddInitProperty("Connect Timeout", ado::adInteger, {"Connect Timeout"}, Variant(connection_timeout_));
    AddInitProperty("Extended Properties", ado::adBSTR, {"Extended Properties"}, Variant(""));
    AddInitProperty("Locale Identifier", ado::adInteger, {"Locale Identifier"}, Variant(1033));
    init_property_count_ = properties_->items().size();
    password_property_ = properties_->Find("Password");
}

void ConnectionImpl::MergeInfoProperties(std::vector<PropertyValue> info) {
    bool same = info.size() == info_names_.size();
    for (std::size_t i = 0; same && i < info.size(); ++i) same = info[i].name == info_names_[i];
    if (same) {
        for (std::size_t i = 0; i < info.size(); ++i) {
            auto [target, init] = info_targets_[i];
            if (init) {
                target->Assign(std::move(info[i].value));
            } else {
                target->Reset(info[i].type, info[i].attributes, std::move(info[i].value));
            }
        }
    } else {
        RebuildInfoProperties(std::move(info));
    }
    if (!persist_security_info_) password_property_->Assign(Variant(""));
    RefreshStatus();
}

void ConnectionImpl::RefreshStatus() {
    // The link may break after Open: its status is asked of the session itself.
    if (!status_property_) return;
    bool alive = true;
    try {
        alive = session_->IsAlive();
    } catch (...) {
        alive = false;
    }
    // Read before every statement and nearly always unchanged: written only when it changes.
    const std::int32_t status = alive ? 1 : 2;
    const auto* current = status_property_->value().get_if<std::int32_t>();
    if (!current || *current != status) status_property_->Assign(Variant(status));
}

void ConnectionImpl::RebuildInfoProperties(std::vector<PropertyValue> info) {
    info_names_.clear();
    info_targets_.clear();
    const auto& current = properties_->items();
    std::vector<Ref<PropertyImpl>> items(current.begin(),
                                         current.begin() + static_cast<std::ptrdiff_t>(init_property_count_));
    auto find_in = [](const std::vector<Ref<PropertyImpl>>& list, std::size_t from, std::size_t to,
                      std::string_view name) -> PropertyImpl* {
        for (std::size_t i = from; i < to && i < list.size(); ++i)
            if (TextEquals(list[i]->name(), name)) return list[i].get();
        return nullptr;
    };
    for (PropertyValue& p : info) {
        info_names_.push_back(p.name);
        if (PropertyImpl* init = find_in(items, 0, init_property_count_, p.name)) {
            init->Assign(std::move(p.value));
            info_targets_.emplace_back(init, true);
        } else if (PropertyImpl* known = find_in(current, init_property_count_, current.size(), p.name)) {
            known->Reset(p.type, p.attributes, std::move(p.value));
            items.push_back(Ref<PropertyImpl>(known));
            info_targets_.emplace_back(known, false);
        } else {
            items.push_back(
                MakeRef<PropertyImpl>(std::move(p.name), p.type, p.attributes, std::move(p.value)));
            info_targets_.emplace_back(items.back().get(), false);
        }
    }
    // Properties the provider no longer reports go (their objects keep their last value).
    for (std::size_t i = init_property_count_; i < current.size(); ++i)
        if (!find_in(items, init_property_count_, items.size(), current[i]->name())) current[i]->SetHook({});
    properties_->SetItems(std::move(items));
    status_property_ = properties_->Find("Connection Status");
}

void ConnectionImpl::ReloadInfoProperties(std::uint64_t generation) {
    MergeInfoProperties(Call([&] { return session_->InfoProperties(); }));
    properties_generation_ = generation;
}

KORADO_HOT Ref<ado::Properties> ConnectionImpl::Properties() {
    // The platform reads property values from the provider when they are asked for, so a value that
    // changes while the connection is open (the catalog, the link's status) reads current. A session whose
    // values cannot change was read once, at Open.
    if (session_ && !properties_settled_) {
        const std::uint64_t generation = session_->PropertiesGeneration();
        if (generation == 0 || generation != properties_generation_) {
            ReloadInfoProperties(generation);
        } else {
            RefreshStatus();
        }
    }
    return Ref<ado::Properties>(properties_.get());
}

// ---- open and close ----------------------------------------------------------------------------------
void ConnectionImpl::Open(std::string_view connection_string, std::string_view user_id,
                          std::string_view password, std::int32_t options) {
    if (session_) RaiseAdo(ado::adErrObjectOpen, kObject);
    if (!connection_string.empty()) SetConnectionString(connection_string);
    dataaccess::ConnectionString cs = Parsed();
    std::shared_ptr<dataaccess::Provider> provider = FindProvider(ProviderNameToUse(cs));

    OpenRequest request;
    request.user = !user_id.empty() ? std::string(user_id) : cs.Find("User ID").value_or(cs.Get("UID"));
    request.password =
        !password.empty() ? std::string(password) : cs.Find("Password").value_or(cs.Get("PWD"));
    request.connect_timeout_seconds = connection_timeout_;
    if (auto t = cs.Find("Connect Timeout")) {
        if (std::optional<double> n = ParseNumber(*t); n && *n >= 0)
            request.connect_timeout_seconds = static_cast<int>(*n);
    }
    request.connection_string = cs;
    request.connection_string.Remove("Provider");
    // A refused open hides the password as an accepted one does: failure texts and a host's retry read the
    // connection back, and the connection itself still knows the password for the next Open.
    opened_once_ = true;
    persist_security_info_ = TruthyText(cs.Get("Persist Security Info"));
    SyncInitProperties();

    std::unique_ptr<Session> session = Call([&] { return provider->Open(request); });
    if (!session) {
        throw ProviderError({Diagnostic{hr::E_FAIL, std::string(provider->ErrorSource()),
                                        "The provider opened no session.", 0, "HY000"}});
    }
    provider_ = std::move(provider);
    session_ = std::move(session);
    transaction_level_ = 0;
    work_since_begin_ = false;

    // Information properties follow the initialization ones; a provider's value for an initialization
    // property ("Data Source", "Extended Properties", "User ID") replaces the string's.
    SyncInitProperties();
    properties_settled_ = false;
    try {
        properties_generation_ = session_->PropertiesGeneration();
        MergeInfoProperties(Call([&] { return session_->InfoProperties(); }));
        properties_settled_ = session_->PropertiesSettled();
    } catch (...) {
        session_.reset();
        throw;
    }
    (void)options;
}

void ConnectionImpl::CloseUsers() noexcept {
    std::vector<SessionUser*> users;
    users.swap(users_);
    for (SessionUser* u : users) u->SessionClosing();
}

void ConnectionImpl::Close() {
    if (!session_) RaiseAdo(ado::adErrObjectClosed, kObject);
    if (transaction_level_ > 0) RaiseAdo(ado::adErrInTransaction, kObject);
    CloseUsers();
    session_.reset();
    SyncInitProperties();
}

KORADO_HOT Session& ConnectionImpl::RequireSession(std::string_view object, std::int32_t number) {
    if (!session_) RaiseAdo(number, object);
    return *session_;
}

KORADO_HOT void ConnectionImpl::CollectWarnings() {
    if (!session_) return;
    std::vector<Diagnostic> warnings = session_->TakeWarnings();
    if (!warnings.empty()) errors_->Append(warnings);
}

void ConnectionImpl::AddUser(SessionUser* user) {
    if (std::find(users_.begin(), users_.end(), user) == users_.end()) users_.push_back(user);
}

void ConnectionImpl::RemoveUser(SessionUser* user) noexcept { std::erase(users_, user); }

// ---- transactions ------------------------------------------------------------------------------------
std::int32_t ConnectionImpl::BeginTrans() {
    Session& s = RequireSession(kObject, ado::adErrObjectClosed);
    Call([&] { s.BeginTransaction(); });
    work_since_begin_ = false;
    return ++transaction_level_;
}

KORADO_HOT void ConnectionImpl::NoteStatement(std::string_view text, std::int32_t command_type) noexcept {
    if (transaction_level_ == 0 || work_since_begin_) return;
    if (command_type == ado::adCmdTable || command_type == ado::adCmdTableDirect) return;
    if (command_type == ado::adCmdStoredProc || !ReadsOnly(text)) work_since_begin_ = true;
}

template <class F>
void ConnectionImpl::EndTransaction(F&& end) {
    Session& s = RequireSession(kObject, ado::adErrObjectClosed);
    try {
        Call([&] { end(s); });
    } catch (...) {
        // A transaction whose link dropped is gone with it: counting it further would make Close refuse
        // (3246) and keep the connection from ever being reopened. What became of its work the failure
        // has said.
        bool alive = true;
        try {
            alive = s.IsAlive();
        } catch (...) {
            alive = false;
        }
        if (!alive) transaction_level_ = 0, work_since_begin_ = false;
        throw;
    }
    if (transaction_level_ > 0) --transaction_level_;
    work_since_begin_ = false;
}

void ConnectionImpl::CommitTrans() {
    EndTransaction([](Session& s) { s.Commit(); });
}

void ConnectionImpl::RollbackTrans() {
    EndTransaction([](Session& s) { s.Rollback(); });
}

void ConnectionImpl::Cancel() {
    if (session_) session_->Cancel();
}

// ---- commands ----------------------------------------------------------------------------------------
Ref<ado::Recordset> ConnectionImpl::Execute(std::string_view command_text, Variant* records_affected,
                                            std::int32_t options) {
    RequireSession(kObject);
    Ref<ConnectionImpl> self(this);
    ExecuteOptions opts;
    opts.command_type = CommandTypeOf(options, ado::adCmdText);
    opts.timeout_seconds = command_timeout_;
    opts.forward_only = cursor_location_ == ado::adUseServer;
    std::unique_ptr<Execution> exec = RunText(self, command_text, opts, {}, Ref<ParametersImpl>(), kObject);
    if (records_affected) *records_affected = Variant(static_cast<int>(exec->statement->RowsAffected()));
    if (options != ado::adOptionUnspecified && (options & ado::adExecuteNoRecords)) {
        Call([&] { exec->Finish(); });
        return Ref<ado::Recordset>();
    }
    Ref<RecordsetImpl> rs = MakeRef<RecordsetImpl>();
    rs->SetCursorLocation(cursor_location_);
    rs->SetActiveConnection(Ref<ado::Connection>(this));
    rs->Attach(std::move(exec), SharedText(command_text));
    return Ref<ado::Recordset>(rs.get());
}

std::vector<Variant> RestrictionList(const Variant& restrictions) {
    std::vector<Variant> out;
    if (restrictions.IsMissing() || restrictions.IsEmpty() || restrictions.IsNull()) return out;
    const VariantArray* array = restrictions.get_if<VariantArray>();
    if (!array) RaiseAdo(ado::adErrInvalidArgument, kObject);
    for (const Variant& v : array->items()) out.push_back(v.IsMissing() ? Variant() : v);
    return out;
}

Ref<ado::Recordset> ConnectionImpl::OpenSchema(std::int32_t schema, const Variant& restrictions,
                                               const Variant& schema_id) {
    Session& s = RequireSession(kObject, ado::adErrObjectClosed);
    if (!schema_id.IsMissing() && !schema_id.IsEmpty()) RaiseAdo(ado::adErrFeatureNotAvailable, kObject);
    std::vector<Variant> list = RestrictionList(restrictions);
    std::unique_ptr<Cursor> cursor = Call([&] { return s.Schema(schema, list); });
    if (!cursor) RaiseAdo(ado::adErrFeatureNotAvailable, kObject);
    Ref<RecordsetImpl> rs = MakeRef<RecordsetImpl>();
    rs->SetCursorLocation(ado::adUseClient);
    rs->AttachCursor(*cursor, Ref<ConnectionImpl>(this));
    return Ref<ado::Recordset>(rs.get());
}

}  // namespace korado::dataaccess
