#include "dataaccess/command.h"

#include <array>
#include <atomic>
#include <memory>
#include <span>

#include "dataaccess/exact_cast.h"
#include "dataaccess/names.h"
#include "dataaccess/platform_error.h"
#include "dataaccess/recordset.h"
#include "dataaccess/type_kinds.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/strings.h"

namespace korado::dataaccess {
namespace {

constexpr const char* kCommand = "ADODB.Command";

bool IsBlankText(std::string_view s) {
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
    return true;
}

}  // namespace

// A stored-procedure command (adCmdStoredProc) is the provider's to run. The ODBC bridge sends it through
// the ODBC call escape, with the appended parameters bound to its markers in order:
//  - a bare name, "name", becomes "{call name(?, ...)}" with one marker per parameter ("{? = call ...}"
//    when one parameter is the return value);
//  - a name with its own argument list, "name(?, ?)", is wrapped as it is: "{call name(?, ?)}";
//  - text already in braces, "{call name(?)}", goes to the driver unchanged.
// The driver translates the escape: psqlODBC into a SELECT of a function (a set-returning function gives
// its rows; a function's OUT values come back as a row and into the output parameters), Connector/ODBC
// into CALL (a procedure's SELECTs are its results, then its OUT values as one more row). PostgreSQL
// refuses such a SELECT for a procedure; the bridge then runs the call once more as CALL. SQLite has no
// procedures: its provider refuses the command type.
std::int32_t CommandTypeOf(std::int32_t options, std::int32_t fallback) {
    if (options == ado::adOptionUnspecified) return fallback;
    constexpr std::int32_t kTypes = ado::adCmdText | ado::adCmdTable | ado::adCmdStoredProc |
                                    ado::adCmdUnknown | ado::adCmdFile | ado::adCmdTableDirect;
    std::int32_t type = options & kTypes;
    if (type == 0 || type == ado::adCmdUnknown) return fallback;
    return type;
}

std::unique_ptr<Execution> RunText(const Ref<ConnectionImpl>& connection, std::string_view text,
                                   const ExecuteOptions& options, std::vector<ParamBinding> bindings,
                                   Ref<ParametersImpl> parameters, std::string_view object) {
    Session& session = connection->RequireSession(object);
    if (IsBlankText(text))
        throw korado::Error(Hr(0x80040E0C), AdoSource(object),
                            "Command text was not set for the command object.");
    auto exec = std::make_unique<Execution>();
    exec->connection = connection;
    exec->bindings = std::move(bindings);
    exec->parameters = std::move(parameters);
    connection->NoteStatement(text, options.command_type);
    // Providers keep what they need of the text: it is not held here.
    connection->Call([&] {
        exec->statement = session.Prepare(text, options);
        exec->statement->Execute(exec->bindings);
    });
    return exec;
}

// ---- Parameter ---------------------------------------------------------------------------------------
KORADO_HOT void ParameterImpl::SetType(std::int32_t value) {
    if (value < 0) RaiseAdo(ado::adErrInvalidArgument, "ADODB.Parameter");
    b_.type = value;
}

KORADO_HOT void ParameterImpl::SetDirection(std::int32_t value) {
    if (value < ado::adParamUnknown || value > ado::adParamReturnValue)
        RaiseAdo(ado::adErrInvalidArgument, "ADODB.Parameter");
    b_.direction = value;
}

KORADO_HOT void ParameterImpl::SetValue(const Variant& value) {
    Variant& stored = b_.value;
    if (value.IsMissing()) {
        stored.Clear();
    } else if (stored.IsEmpty()) {
        // A new parameter gets its first value: copied into place, without the temporary an assignment
        // between kinds makes. A failed copy leaves the value Empty, as it was.
        std::destroy_at(&stored);
        try {
            std::construct_at(&stored, value);
        } catch (...) {
            std::construct_at(&stored);
            throw;
        }
    } else {
        stored = value;
    }
}

namespace {
// Renames of parameters that were appended somewhere: a collection's Version changes with them. Rare, so
// one count serves every collection.
std::atomic<std::uint64_t> g_renames{0};

// Collection versions: unique across threads without a shared counter for every statement, the thread's
// number in the high bits and its own count below.
std::uint64_t NextVersion() noexcept {
    static std::atomic<std::uint64_t> threads{0};
    thread_local std::uint64_t next = (threads.fetch_add(1, std::memory_order_relaxed) + 1) << 40;
    return ++next;
}
}  // namespace

void ParameterImpl::CountRename() noexcept { g_renames.fetch_add(1, std::memory_order_relaxed); }

KORADO_HOT void ParameterImpl::SetSize(std::int32_t value) {
    // -1 is what hosts pass for "no limit" on long types.
    if (value < -1) RaiseAdo(ado::adErrInvalidArgument, "ADODB.Parameter");
    b_.size = value;
}

void ParameterImpl::Validate(std::string_view object) const {
    if (IsVariableLength(b_.type) && b_.size == 0) RaiseAdo(ado::adErrInvalidParamInfo, object);
    const bool exact_number = b_.type == ado::adNumeric || b_.type == ado::adDecimal;
    if (exact_number && (b_.precision == 0 || b_.scale > b_.precision))
        RaiseAdo(ado::adErrInvalidParamInfo, object);
}

ParamBinding ParameterImpl::Binding() const {
    ParamBinding b = b_;
    if (b.direction == ado::adParamUnknown) b.direction = ado::adParamInput;
    return b;
}

// ---- Parameters --------------------------------------------------------------------------------------
std::size_t ParametersImpl::PositionOf(const Variant& index) const {
    if (const auto* name = index.get_if<std::string>()) {
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (SameName(items_[i]->name(), *name)) return i;
        RaiseAdo(ado::adErrItemNotFound, "ADODB.Parameters");
    }
    std::int64_t i = -1;
    try {
        i = CLngLng(index);
    } catch (const korado::Error&) {
        RaiseAdo(ado::adErrItemNotFound, "ADODB.Parameters");
    }
    if (i < 0 || i >= static_cast<std::int64_t>(items_.size()))
        RaiseAdo(ado::adErrItemNotFound, "ADODB.Parameters");
    return static_cast<std::size_t>(i);
}

Ref<ado::Parameter> ParametersImpl::FindItem(const Variant& index) {
    // Binding looks every new parameter's name up before appending it: a miss must not cost an exception.
    if (const auto* name = index.get_if<std::string>()) {
        for (const auto& p : items_)
            if (SameName(p->name(), *name)) return Ref<ado::Parameter>(p.get());
        return nullptr;
    }
    return ado::Parameters::FindItem(index);
}

Ref<ado::Parameter> ParametersImpl::Item(const Variant& index) {
    // By name, as output values are read back after every statement: compared in place.
    if (const auto* name = index.get_if<std::string>())
        for (const auto& p : items_)
            if (SameName(p->name(), *name)) return Ref<ado::Parameter>(p.get());
    return Ref<ado::Parameter>(items_[PositionOf(index)].get());
}

void ParametersImpl::Append(const Ref<ado::Parameter>& parameter) {
    Ref<ParameterImpl> p = ExactCast<ParameterImpl>(parameter);
    if (!p) RaiseAdo(ado::adErrInvalidArgument, "ADODB.Parameters");
    for (const auto& existing : items_)
        if (existing == p) RaiseAdo(ado::adErrObjectInCollection, "ADODB.Parameters");
    if (items_.empty()) items_.reserve(kRoom);
    p->MarkAppended();
    items_.push_back(std::move(p));
    version_ = 0;
}

void ParametersImpl::Delete(const Variant& index) {
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(PositionOf(index)));
    version_ = 0;
}

KORADO_HOT std::uint64_t ParametersImpl::Version() {
    const std::uint64_t renames = g_renames.load(std::memory_order_relaxed);
    if (version_ == 0 || renames != renames_) {
        version_ = NextVersion();
        renames_ = renames;
    }
    return version_;
}

void ParametersImpl::Refresh() {
    // Parameter information would come from the provider's description of the command; none offers it.
    RaiseAdo(ado::adErrFeatureNotAvailable, "ADODB.Parameters");
}

// ---- Command -----------------------------------------------------------------------------------------
CommandImpl::CommandImpl() : parameters_(MakeRef<ParametersImpl>()) {}

Ref<ado::Connection> CommandImpl::ActiveConnection() { return Ref<ado::Connection>(connection_.get()); }

void CommandImpl::SetActiveConnection(const Ref<ado::Connection>& connection) {
    Ref<ConnectionImpl> c = AsConnectionImpl(connection);
    if (connection && !c) RaiseAdo(ado::adErrInvalidArgument, kCommand);
    connection_ = std::move(c);
    properties_ = nullptr;
}

KORADO_HOT void CommandImpl::SetCommandTimeout(std::int32_t seconds) {
    if (seconds < 0) RaiseAdo(ado::adErrInvalidArgument, kCommand);
    timeout_ = seconds;
}

void CommandImpl::SetCommandType(std::int32_t value) {
    switch (value) {
        case ado::adCmdUnspecified:
        case ado::adCmdText:
        case ado::adCmdTable:
        case ado::adCmdStoredProc:
        case ado::adCmdUnknown:
        case ado::adCmdFile:
        case ado::adCmdTableDirect:
            type_ = value;
            return;
        default:
            RaiseAdo(ado::adErrInvalidArgument, kCommand);
    }
}

Ref<ado::Properties> CommandImpl::Properties() {
    const bool session = connection_ && connection_->IsOpen();
    if (!properties_ || (!properties_from_session_ && session)) {
        properties_ = MakeRef<PropertiesImpl>();
        properties_from_session_ = session;
        if (session) {
            std::vector<PropertyValue> props =
                connection_->Call([&] { return connection_->RequireSession(kCommand).CommandProperties(); });
            for (PropertyValue& p : props)
                properties_->Add(std::move(p.name), p.type, p.attributes, std::move(p.value));
        }
    }
    return Ref<ado::Properties>(properties_.get());
}

Ref<ado::Parameter> CommandImpl::CreateParameter(std::string_view name, std::int32_t type,
                                                 std::int32_t direction, std::int32_t size,
                                                 const Variant& value) {
    auto p = MakeRef<ParameterImpl>();
    try {
        p->SetName(name);
        p->SetType(type);
        p->SetDirection(direction);
        p->SetSize(size);
    } catch (const korado::Error&) {
        RaiseAdo(ado::adErrInvalidArgument, kCommand);
    }
    // A new parameter's value is Empty: a missing one leaves it so.
    if (!value.IsMissing()) p->SetValue(value);
    return Ref<ado::Parameter>(p.get());
}

KORADO_HOT void CommandImpl::Check(std::string_view object) const {
    if (!connection_ || !connection_->IsOpen()) RaiseAdo(ado::adErrInvalidConnection, object);
    for (const auto& p : parameters_->items()) p->Validate(object);
}

CommandImpl::RunRequest CommandImpl::Request(const Variant& parameter_values, std::int32_t options,
                                             bool forward_only, std::string_view object) {
    RunRequest request;
    std::vector<ParamBinding>& bindings = request.bindings;
    bindings = connection_->TakeBindingStorage();
    bindings.reserve(parameters_->items().size());
    for (const auto& p : parameters_->items()) bindings.push_back(p->Binding());
    // Values passed to Execute replace the appended parameters' input values, or stand alone when there are
    // no parameter objects.
    if (const auto* values = parameter_values.get_if<VariantArray>()) {
        for (std::size_t i = 0; i < values->size(); ++i) {
            const Variant& v = (*values)[i];
            if (i < bindings.size()) {
                if (!v.IsMissing()) bindings[i].value = v;
            } else {
                ParamBinding b;
                b.value = v.IsMissing() ? Variant() : v;
                bindings.push_back(std::move(b));
            }
        }
    } else if (!parameter_values.IsMissing() && !parameter_values.IsEmpty()) {
        RaiseAdo(ado::adErrInvalidArgument, object);
    }
    ExecuteOptions& opts = request.options;
    opts.command_type = CommandTypeOf(options, OwnType());
    opts.timeout_seconds = timeout_;
    opts.forward_only = forward_only;
    if (properties_) {
        for (const auto& p : properties_->items())
            opts.properties.push_back(PropertyValue{p->name(), p->Type(), p->Attributes(), p->value()});
    }
    return request;
}

std::unique_ptr<Execution> CommandImpl::Start(RunRequest&& request, std::string_view object) {
    return RunText(connection_, text_.view(), request.options, std::move(request.bindings),
                   parameters_->items().empty() ? Ref<ParametersImpl>() : parameters_, object);
}

std::unique_ptr<Execution> CommandImpl::Run(const Variant& parameter_values, std::int32_t options,
                                            bool forward_only, std::string_view object) {
    Check(object);
    return Start(Request(parameter_values, options, forward_only, object), object);
}

KORADO_HOT bool CommandImpl::RunAction(const ExecuteOptions& options, std::int64_t& affected) {
    // Output values and command properties need the statement the general way keeps.
    if (properties_ && !properties_->items().empty()) return false;
    const auto& items = parameters_->items();
    std::array<const ParamBinding*, 32> bound;  // a statement's few parameters, pointed to from the stack
    if (items.size() > bound.size()) return false;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!items[i]->IsBoundInPlace()) return false;
        bound[i] = &items[i]->bound();
    }
    Session& session = connection_->RequireSession(kCommand);
    if (IsBlankText(text_.view())) return false;
    connection_->NoteStatement(text_.view(), options.command_type);
    return connection_->Call([&] {
        return session.RunAction(text_.view(), std::span(bound.data(), items.size()), options, affected);
    });
}

KORADO_HOT Ref<ado::Recordset> CommandImpl::Execute(Variant* records_affected, const Variant& parameters,
                                                    std::int32_t options) {
    Check(kCommand);
    const bool forward_only = connection_->CursorLocation() == ado::adUseServer;
    const bool no_records = options != ado::adOptionUnspecified && (options & ado::adExecuteNoRecords);

    // A single statement without rows, the usual INSERT, UPDATE or DELETE, runs at once where the provider
    // can tell: no statement object is kept for results that cannot follow, and the parameters are bound
    // as they are (values given here replace theirs, so those go the general way).
    if (parameters.IsMissing() || parameters.IsEmpty()) {
        ExecuteOptions action;
        action.command_type = CommandTypeOf(options, OwnType());
        action.timeout_seconds = timeout_;
        action.forward_only = forward_only;
        if (std::int64_t affected = 0; RunAction(action, affected)) {
            if (records_affected) *records_affected = Variant(static_cast<int>(affected));
            if (no_records) return Ref<ado::Recordset>();
            Ref<RecordsetImpl> rs = NewRecordset();
            rs->AttachEnded(text_);
            return Ref<ado::Recordset>(rs.get());
        }
    }

    Ref<ConnectionImpl> c = connection_;
    std::unique_ptr<Execution> exec = Start(Request(parameters, options, forward_only, kCommand), kCommand);
    if (records_affected) *records_affected = Variant(static_cast<int>(exec->statement->RowsAffected()));
    if (no_records) {
        c->Call([&] { exec->Finish(); });
        return Ref<ado::Recordset>();
    }
    Ref<RecordsetImpl> rs = NewRecordset();
    rs->Attach(std::move(exec), text_);
    return Ref<ado::Recordset>(rs.get());
}

KORADO_HOT Ref<RecordsetImpl> CommandImpl::NewRecordset() {
    Ref<RecordsetImpl> rs = MakeRef<RecordsetImpl>();
    rs->SetUpForExecute(connection_);
    return rs;
}

void CommandImpl::Cancel() {
    if (connection_ && connection_->IsOpen()) connection_->RequireSession(kCommand).Cancel();
}

}  // namespace korado::dataaccess
