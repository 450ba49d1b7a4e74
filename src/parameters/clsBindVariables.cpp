#include "korado/parameters/clsBindVariables.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "korado/connection/clsADO.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/runtime/strings.h"
#include "parameters/binding_memo.h"
#include "parameters/placeholders.h"
#include "runtime/hot_path.h"

namespace korado {
namespace {

constexpr std::string_view kClass = "clsBindVariables";

// An output text shorter than this is padded to it, so that the provider has room to write its answer;
// an empty one is offered at the size the variable holds, or at this size where it holds none (-1).
constexpr std::int32_t kOutputTextSize = 255;

ado::Command& RequireCommand(const Ref<ado::Command>& command) {
    if (!command) RaiseRuntime(rt::ObjectNotSet);
    return *command;
}

Collection& RequireMembers(const Ref<Collection>& members) {
    if (!members) RaiseRuntime(rt::ObjectNotSet);
    return *members;
}

// A member by position or name, or null: a miss (or a released collection) is no failure here.
Ref<clsParameter> Lookup(const Ref<Collection>& members, const Variant& index) {
    const Variant* found = members ? members->Find(index) : nullptr;
    return found ? found->ObjectAs<clsParameter>() : nullptr;
}

// A member by position or name, failing as the collection's Item does.
Ref<clsParameter> ItemOf(const Ref<Collection>& members, const Variant& index) {
    Ref<clsParameter> p = RequireMembers(members).Item(index).ObjectAs<clsParameter>();
    if (!p) RaiseRuntime(rt::ObjectNotSet);
    return p;
}

// The variable entry `index` of the list `memo` knows stands for: as the memo found it while the members
// are as they were then (a handler that binding reported to may have changed them since).
KORADO_HOT Ref<clsParameter> VariableOf(const Ref<Collection>& members, const detail::BindingMemo& memo,
                                        std::size_t index) {
    if (members && members->Stamp() == memo.members_stamp()) return Ref<clsParameter>(memo.variable(index));
    return ItemOf(members, Variant(memo.name(index)));
}

std::int32_t TextLength(const Variant& value) { return static_cast<std::int32_t>(LenOfText(value)); }

// Step A of binding, after the parameter is created: gives it the type and direction of `variable` in
// the effective `mode`, and its value and size.
KORADO_HOT void PrepareParameter(ado::Parameter& prm, clsParameter& variable, std::int32_t mode) {
    switch (variable.data_type()) {
        case korTypeOther:
            prm.SetType(ado::adVariant);
            break;
        case korTypeNumber:
            prm.SetType(ado::adDouble);
            break;
        case korTypeVarchar2:
            prm.SetType(ado::adVarChar);
            if (variable.size() != -1) prm.SetSize(variable.size());
            break;
        case korTypeDate:
            prm.SetType(ado::adDate);
            break;
        default:
            break;
    }
    switch (mode) {
        case korParamIn:
            prm.SetDirection(ado::adParamInput);
            break;
        case korParamOut:
            prm.SetDirection(ado::adParamOutput);
            break;
        case korParamInOut:
            prm.SetDirection(ado::adParamInputOutput);
            break;
        default:
            break;
    }

    // Every read of the variable's Value below also recomputes its Size (a second read of an input
    // variable would give the same value and size, so it is read once).
    if (mode == korParamIn) {
        const Variant& value = variable.ReadValue();
        if (value.IsEmpty() || value.IsNull()) {
            prm.SetValue(Variant::Null());
            prm.SetSize(1);
        } else {
            switch (variable.data_type()) {
                case korTypeOther:
                case korTypeVarchar2: {
                    prm.SetValue(value);
                    // Providers refuse a variable-length parameter of size 0.
                    const std::int32_t length = TextLength(prm.Value());
                    prm.SetSize(length == 0 ? 1 : length);
                    break;
                }
                case korTypeNumber:
                    prm.SetValue(value);
                    prm.SetSize(TextLength(prm.Value()));
                    break;
                case korTypeDate:
                    prm.SetValue(value);
                    prm.SetSize(1);
                    break;
                default:
                    break;
            }
        }
    } else if (mode == korParamOut || mode == korParamInOut) {
        const Variant value = variable.Value();
        const bool no_value = value.IsEmpty() || value.IsNull() || Equals(value, Variant(""));
        const std::int32_t data_type = variable.data_type();
        if (no_value) {
            if (data_type == korTypeOther || data_type == korTypeVarchar2) {
                const std::int32_t size = variable.size();
                if (size == -1) {
                    prm.SetValue(Space(kOutputTextSize));
                    prm.SetSize(kOutputTextSize);
                } else {
                    if (size < 0) RaiseRuntime(rt::InvalidProcedureCall);
                    prm.SetValue(Space(static_cast<std::size_t>(size)));
                    prm.SetSize(size);
                }
            } else if (data_type == korTypeNumber || data_type == korTypeDate) {
                prm.SetValue(Variant(std::int16_t{0}));
            }
        } else if (data_type == korTypeOther || data_type == korTypeVarchar2) {
            const std::size_t length = LenOfText(variable.Value());
            if (length < static_cast<std::size_t>(kOutputTextSize)) {
                prm.SetValue(CStr(variable.Value()) + Space(kOutputTextSize - length));
                prm.SetSize(kOutputTextSize);
            } else {
                prm.SetValue(variable.Value());
                const Variant stored = prm.Value();
                if (stored.IsNull() || stored.IsEmpty()) {
                    prm.SetSize(1);
                } else if (prm.Size() == 0) {
                    prm.SetSize(1);
                }
            }
        } else if (data_type == korTypeNumber || data_type == korTypeDate) {
            prm.SetValue(variable.Value());
        }
    }
}

// Whether PrepareParameter sets all that binding gives a parameter (type, direction, value and size), so
// that a parameter bound before comes out as a new one would: an input variable of a known type.
bool PreparesWhole(const clsParameter& variable, std::int32_t mode) noexcept {
    return mode == korParamIn && variable.data_type() >= korTypeOther && variable.data_type() <= korTypeDate;
}

// Puts a parameter back as binding creates it (CreateParameter(name, adEmpty, adParamInput, 0)).
void ResetAsCreated(ado::Parameter& prm) {
    prm.SetType(ado::adEmpty);
    prm.SetDirection(ado::adParamInput);
    prm.SetSize(0);
    prm.SetValue(Variant());
}

}  // namespace

clsBindVariables::clsBindVariables()
    : m_Members(MakeRef<Collection>()), m_Memo(std::make_unique<detail::BindingMemo>()) {}

clsBindVariables::~clsBindVariables() { Destructor(); }

Ref<clsParameter> clsBindVariables::Add(const std::string& Name) {
    Ref<clsParameter> result;
    Try({kClass, "Add"}, [&] {
        const Variant key(Name);
        if (Exists(key)) {
            result = ItemOf(m_Members, key);
            return;
        }
        auto parameter = MakeRef<clsParameter>();
        parameter->Constructor(Name, korBindVariable, m_ADO);
        RequireMembers(m_Members).Add(Variant(parameter), Name);
        result = parameter;
    });
    return result;
}

void clsBindVariables::AddParametersToCommand(Ref<ado::Command>& command, Ref<Collection>& ParamNames,
                                              std::string& SQL, const Variant& ForceDirectionIn) {
    Try({kClass, "AddParametersToCommand"}, [&] {
        if (!ParamNames) return;
        const bool force_in = ForceDirectionIn.IsMissing() ? false : CBool(ForceDirectionIn);
        // The list as it reads now: a failure reported while a value is read runs the host's handler, which
        // may change the list under an iterator.
        const std::vector<Variant> entries(ParamNames->begin(), ParamNames->end());
        // What this binding finds is kept for the statement run again (a binding that a handler runs while
        // another is under way leaves the memo to that one).
        detail::BindingMemo* memo = m_Memo->busy() ? nullptr : m_Memo.get();
        const detail::MemoUse use(memo);
        if (memo && m_Members) memo->Start(SQL, *m_Members, force_in);

        struct Placeholder {
            std::size_t position;
            Ref<ado::Parameter> parameter;
        };
        std::vector<Placeholder> working;
        for (const Variant& entry : entries) {
            const std::string name = CStr(entry);

            // A: prepare the entry's parameter.
            Ref<ado::Parameter> prm =
                RequireCommand(command).CreateParameter(name, ado::adEmpty, ado::adParamInput, 0);
            Ref<clsParameter> variable = ItemOf(m_Members, entry);
            const std::int32_t mode = force_in ? korParamIn : variable->mode();
            PrepareParameter(*prm, *variable, mode);

            // B: rewrite the entry's placeholders; each is paired with the parameter just prepared.
            const std::vector<std::size_t> positions = RewritePlaceholders(SQL, name);
            for (const std::size_t position : positions) working.push_back({position, prm});
            if (memo) memo->Note(entry, *variable, *prm, mode, positions);
        }

        // C: append in text order (no two placeholders share a position). A name placed more than once, or
        // one the command already holds, gets a copy: the platform refuses to append the same parameter
        // object twice.
        if (working.empty()) return;
        std::sort(working.begin(), working.end(),
                  [](const Placeholder& a, const Placeholder& b) { return a.position < b.position; });
        ado::Command& cmd = RequireCommand(command);
        const Ref<ado::Parameters> appended = cmd.Parameters();
        const bool held_none = appended->Count() == 0;
        for (const Placeholder& placeholder : working) {
            const Ref<ado::Parameter>& prm = placeholder.parameter;
            if (!appended->FindItem(Variant(prm->Name()))) {
                appended->Append(prm);
            } else {
                appended->Append(cmd.CreateParameter(prm->Name(), prm->Type(), prm->Direction(), prm->Size(),
                                                     prm->Value()));
            }
        }
        if (memo) memo->Finish(m_Members.get(), *appended, held_none);
    });
}

std::int32_t clsBindVariables::Count() {
    std::int32_t result = 0;
    Try({kClass, "Get Count"}, [&] { result = RequireMembers(m_Members).Count(); });
    return result;
}

void clsBindVariables::Constructor(const Ref<clsADO>& ADO) {
    Try({kClass, "Constructor"}, [&] { m_ADO = ADO; });
}

void clsBindVariables::Delete(const Variant& Index) {
    Try({kClass, "Delete"}, [&] { RequireMembers(m_Members).Remove(Index); });
}

void clsBindVariables::Destructor() {
    Try({kClass, "Destructor"}, [&] {
        m_Members = nullptr;
        m_ADO = nullptr;
        m_Memo->Forget();
    });
}

bool clsBindVariables::Exists(const Variant& Index) {
    bool result = false;
    Try({kClass, "Exists"}, [&] { result = static_cast<bool>(Lookup(m_Members, Index)); });
    return result;
}

Ref<clsParameter> clsBindVariables::Item(const Variant& Index) {
    Ref<clsParameter> result;
    Try({kClass, "Get Items"}, [&] { result = Lookup(m_Members, Index); });
    return result;
}

Ref<Enumerator> clsBindVariables::NewEnum() {
    Ref<Enumerator> result;
    Try({kClass, "NewEnum"}, [&] { result = RequireMembers(m_Members).NewEnum(); });
    return result;
}

KORADO_HOT void clsBindVariables::PopulateOutputParameters(Ref<ado::Command>& command,
                                                           Ref<Collection>& ParamNames) {
    Try({kClass, "PopulateOutputParameters"}, [&]() KORADO_HOT {
        if (!ParamNames || ParamNames->Count() == 0) return;
        const Ref<ado::Parameters> parameters = RequireCommand(command).Parameters();
        // Where binding found every variable input and left these very parameters, and no variable has been
        // given an output mode since, each name finds its parameter and no variable takes a value back.
        if (m_Members && m_Memo->Knows(*ParamNames, *m_Members) && m_Memo->AllInputIn(*parameters)) return;

        // The list as it reads now: storing a value may report a failure, whose handler may change the list
        // under an iterator.
        const std::vector<Variant> entries(ParamNames->begin(), ParamNames->end());
        for (const Variant& entry : entries) {
            Ref<ado::Parameter> prm = parameters->Item(entry);
            Ref<clsParameter> variable = ItemOf(m_Members, entry);
            const std::int32_t mode = variable->mode();
            if (mode != korParamOut && mode != korParamInOut) continue;
            // Each test reads the provider's value afresh, as a host's own code would.
            if (prm->Value().IsEmpty()) {
                variable->SetValue(Variant());
            } else if (prm->Value().IsError()) {
                variable->SetValue(Variant());
            } else if (IsNumeric(prm->Value())) {
                variable->SetValue(Variant(CDbl(prm->Value())));
            } else if (IsDate(prm->Value())) {
                variable->SetValue(Variant(CDate(prm->Value())));
            } else {
                variable->SetValue(prm->Value());
            }
        }
    });
}

void clsBindVariables::RemoveAll() {
    Try({kClass, "RemoveAll"}, [&] {
        Collection& members = RequireMembers(m_Members);
        while (members.Count() >= 1) members.RemoveAt(1);
    });
}

// ---- the statement run again -----------------------------------------------------------------------------

KORADO_HOT bool clsBindVariables::BindInPlace(ado::Command& command, const Ref<Collection>& ParamNames,
                                              std::string& SQL) {
    detail::BindingMemo& memo = *m_Memo;
    if (memo.busy() || !ParamNames || !m_Members || !memo.Knows(*ParamNames, *m_Members) ||
        !memo.SameText(SQL) || !memo.AllInputIn(*command.Parameters()))
        return false;
    Try({kClass, "AddParametersToCommand"}, [&]() KORADO_HOT {
        const detail::MemoUse use(&memo);
        try {
            // The names are the memo's, which read as the list did: reading a value may report a failure,
            // whose handler may change the list or the variables. Each variable is looked at as binding
            // reaches it.
            for (std::size_t index = 0; index < memo.size(); ++index) {
                Ref<clsParameter> variable = VariableOf(m_Members, memo, index);
                const std::int32_t mode = variable->mode();
                ado::Parameter& prm = memo.parameter(index);
                if (!PreparesWhole(*variable, mode)) ResetAsCreated(prm);
                PrepareParameter(prm, *variable, mode);
                memo.Place(index, SQL);
            }
        } catch (...) {
            // A new command would be left without parameters (they are appended once all are prepared), so
            // that the statement cannot run with a value from before.
            const Ref<ado::Parameters> parameters = command.Parameters();
            while (parameters->Count() > 0) parameters->Delete(Variant(0));
            throw;
        }
    });
    return true;
}

const MemberTable* clsBindVariables::Members() const noexcept {
    static const MemberTable t =
        MemberTable::Of<clsBindVariables>("Item")
            .Method<&clsBindVariables::Add>("Add")
            .Method<&clsBindVariables::AddParametersToCommand>("AddParametersToCommand")
            .Get<&clsBindVariables::Count>("Count")
            .Method<&clsBindVariables::Constructor>("Constructor")
            .Method<&clsBindVariables::Delete>("Delete")
            .Method<&clsBindVariables::Destructor>("Destructor")
            .Method<&clsBindVariables::Exists>("Exists")
            .Get<&clsBindVariables::Item>("Item")
            .Method<&clsBindVariables::NewEnum>("NewEnum")
            .Method<&clsBindVariables::NewEnum>("_NewEnum")
            .Method<&clsBindVariables::PopulateOutputParameters>("PopulateOutputParameters")
            .Method<&clsBindVariables::RemoveAll>("RemoveAll")
            .Build();
    return &t;
}

}  // namespace korado
