// Command, Parameters and Parameter of the platform stand-in ("ADODB.Command", "ADODB.Parameter").
//
// A command owns its Parameters collection, which owns the appended Parameter objects; it refers to its
// ActiveConnection. Execute binds the appended parameters positionally ("?" markers in text order), runs
// the text through the connection's provider and returns a recordset: open when the first result has
// rows, closed and without fields when it has none (NextRecordset moves on to later results). Output
// values come back into the parameters once every result was read.
//
// Failures: 3709 from "ADODB.Command" without an open connection, 3708 for a parameter that is improperly
// defined (a variable-length type without Size, a numeric type without Precision), 3001 for arguments out
// of range, 3265 from "ADODB.Parameters" for a missing item, 3367 when the same parameter is appended twice;
// provider failures fill the connection's Errors.
#pragma once

#include <string>
#include <vector>

#include "dataaccess/connection.h"
#include "dataaccess/properties.h"
#include "dataaccess/shared_text.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/strings.h"
#include "runtime/hot_path.h"
#include "runtime/pooled.h"

namespace korado::dataaccess {

struct Execution;
class RecordsetImpl;

class ParameterImpl final : public ado::Parameter, public Pooled<ParameterImpl> {
  public:
    // Provided (every member has its initializer) so that creating one does not clear the object first.
    ParameterImpl() {}  // NOLINT(modernize-use-equals-default)
    ~ParameterImpl() override = default;

    std::string Name() override { return b_.name; }
    void SetName(std::string_view value) override {
        b_.name.assign(value);
        if (appended_) CountRename();
    }
    std::int32_t Type() override { return b_.type; }
    void SetType(std::int32_t value) override;
    std::int32_t Direction() override { return b_.direction; }
    void SetDirection(std::int32_t value) override;
    std::int32_t Size() override { return b_.size; }
    void SetSize(std::int32_t value) override;
    KORADO_HOT const Variant& Value() override { return b_.value; }
    void SetValue(const Variant& value) override;
    std::uint8_t Precision() override { return b_.precision; }
    void SetPrecision(std::uint8_t value) override { b_.precision = value; }
    std::uint8_t NumericScale() override { return b_.scale; }
    void SetNumericScale(std::uint8_t value) override { b_.scale = value; }
    std::int32_t Attributes() override { return attributes_; }
    void SetAttributes(std::int32_t value) override { attributes_ = value; }

    const std::string& name() const noexcept { return b_.name; }
    // Raises 3708 from `object` when the definition cannot be executed.
    void Validate(std::string_view object) const;
    // The parameter as providers bind it; an input value may be bound in place (see IsBoundInPlace).
    ParamBinding Binding() const;
    // Whether the parameter can be bound as it stands, its value read where it is: an input parameter.
    bool IsBoundInPlace() const noexcept {
        return b_.direction == ado::adParamInput || b_.direction == ado::adParamUnknown;
    }
    const ParamBinding& bound() const noexcept { return b_; }
    void StoreOutput(const Variant& value) { b_.value = value; }
    void MarkAppended() noexcept { appended_ = true; }

  private:
    static void CountRename() noexcept;

    ParamBinding b_;  // kept in the form providers bind, so that a statement can bind it without a copy
    std::int32_t attributes_ = 0;
    bool appended_ = false;  // ever appended to a collection, whose Version a new name must change
};

class ParametersImpl final : public ado::Parameters, public Pooled<ParametersImpl> {
  public:
    ParametersImpl() {}  // NOLINT(modernize-use-equals-default): as ParameterImpl's
    ~ParametersImpl() override = default;
    KORADO_HOT std::int32_t Count() override { return static_cast<std::int32_t>(items_.size()); }
    Ref<ado::Parameter> Item(const Variant& index) override;
    Ref<ado::Parameter> FindItem(const Variant& index) override;
    void Append(const Ref<ado::Parameter>& parameter) override;
    void Delete(const Variant& index) override;
    void Refresh() override;
    std::uint64_t Version() override;

    // Commands are built parameter by parameter, usually a few: room for kRoom at once.
    static constexpr std::size_t kRoom = 8;
    using List = std::vector<Ref<ParameterImpl>, PoolAllocator<Ref<ParameterImpl>, kRoom>>;
    const List& items() const noexcept { return items_; }

  private:
    std::size_t PositionOf(const Variant& index) const;
    List items_;
    std::uint64_t version_ = 0;  // 0: to be numbered when asked for
    std::uint64_t renames_ = 0;  // the renames counted when version_ was numbered
};

class CommandImpl final : public ado::Command, public Pooled<CommandImpl> {
  public:
    CommandImpl();
    ~CommandImpl() override = default;

    Ref<ado::Connection> ActiveConnection() override;
    void SetActiveConnection(const Ref<ado::Connection>& connection) override;
    std::string CommandText() override { return text_.str(); }
    KORADO_HOT void SetCommandText(std::string_view value) override {
        // A statement run again keeps the text it holds: the same bytes, without a new block.
        if (!SameBytes(text_.view(), value)) text_ = SharedText(value);
    }
    std::int32_t CommandTimeout() override { return timeout_; }
    void SetCommandTimeout(std::int32_t seconds) override;
    std::int32_t CommandType() override { return type_; }
    void SetCommandType(std::int32_t value) override;
    bool Prepared() override { return prepared_; }
    void SetPrepared(bool value) override { prepared_ = value; }
    std::int32_t State() override { return ado::adStateClosed; }
    Ref<ado::Properties> Properties() override;
    Ref<ado::Parameter> CreateParameter(std::string_view name, std::int32_t type, std::int32_t direction,
                                        std::int32_t size, const Variant& value) override;
    KORADO_HOT Ref<ado::Parameters> Parameters() override { return Ref<ado::Parameters>(parameters_.get()); }
    Ref<ado::Recordset> Execute(Variant* records_affected, const Variant& parameters,
                                std::int32_t options) override;
    void Cancel() override;

    // ---- for Recordset.Open with a command source ----
    const Ref<ConnectionImpl>& connection() const noexcept { return connection_; }
    const SharedText& text() const noexcept { return text_; }
    // Runs the command and hands back the running execution (its first result current).
    std::unique_ptr<struct Execution> Run(const Variant& parameter_values, std::int32_t options,
                                          bool forward_only, std::string_view object);

  private:
    // What a run hands the provider: the bound values (parameters checked) and the options.
    struct RunRequest {
        std::vector<ParamBinding> bindings;
        ExecuteOptions options;
    };
    // Raises 3709 without an open connection and 3708 for a parameter that cannot be executed.
    void Check(std::string_view object) const;
    // After Check.
    RunRequest Request(const Variant& parameter_values, std::int32_t options, bool forward_only,
                       std::string_view object);
    // The type the command runs as when Execute's options name none.
    std::int32_t OwnType() const noexcept {
        return type_ == ado::adCmdUnknown || type_ == ado::adCmdUnspecified ? ado::adCmdText : type_;
    }
    // Runs the text through the provider's shortcut for a single action statement, the parameters bound
    // where they are; false when it cannot. After Check.
    bool RunAction(const ExecuteOptions& options, std::int64_t& affected);
    // Runs the text the general way: a statement whose results are read in turn.
    std::unique_ptr<Execution> Start(RunRequest&& request, std::string_view object);
    Ref<RecordsetImpl> NewRecordset();

    Ref<ConnectionImpl> connection_;
    SharedText text_;  // shared with the recordsets its executions return
    std::int32_t timeout_ = 30;
    std::int32_t type_ = ado::adCmdUnknown;
    bool prepared_ = false;
    Ref<ParametersImpl> parameters_;
    Ref<PropertiesImpl> properties_;
    bool properties_from_session_ = false;  // false: built while no session could name them
};

// The command type bits of an Execute/Open options value (adCmdText when none is given).
std::int32_t CommandTypeOf(std::int32_t options, std::int32_t fallback);

// Runs `text` on `connection`'s session: Prepare and Execute with `bindings`; provider failures fill the
// connection's Errors. Output values go to `parameters` when given.
std::unique_ptr<Execution> RunText(const Ref<ConnectionImpl>& connection, std::string_view text,
                                   const ExecuteOptions& options, std::vector<ParamBinding> bindings,
                                   Ref<ParametersImpl> parameters, std::string_view object);

}  // namespace korado::dataaccess
