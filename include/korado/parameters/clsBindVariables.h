// clsBindVariables: the bind variables of one connection, named clsParameter objects the host declares with
// Add and fills before running SQL that names them as a colon followed by the name. The connection object
// creates a fresh collection on each successful connect. Members are kept in the order of Add under their
// names as keys (compared without regard to letter case); Item is the default member and NewEnum the
// enumerator, so a host indexes the object directly and enumerates it.
//
// AddParametersToCommand rewrites each ":name" placeholder of the listed names into "?" followed by as
// many blanks as the name has characters (so the text keeps its length and positions) and appends one
// typed parameter per placeholder to the command, in text order. PopulateOutputParameters copies output
// values back after the command ran.
//
// Failures: every member guards itself (class "clsBindVariables") and returns normally after handing the
// failure to the standard error path: Add then returns Nothing, Count 0, Exists false, Item Nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "korado/parameters/clsParameter.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/collection.h"

namespace korado {

namespace detail {
struct BindingMemo;
}

class KORADO_EXPORT clsBindVariables : public Dispatch {
public:
    clsBindVariables();
    ~clsBindVariables() override;

    Ref<clsParameter> Add(const std::string& Name);
    // ForceDirectionIn: optional, converted to Boolean (false when omitted).
    void AddParametersToCommand(Ref<ado::Command>& command, Ref<Collection>& ParamNames, std::string& SQL,
                                const Variant& ForceDirectionIn = Variant::Missing());
    std::int32_t Count();
    void Constructor(const Ref<clsADO>& ADO);
    void Delete(const Variant& Index);
    void Destructor();
    bool Exists(const Variant& Index);
    Ref<clsParameter> Item(const Variant& Index);
    Ref<Enumerator> NewEnum();
    void PopulateOutputParameters(Ref<ado::Command>& command, Ref<Collection>& ParamNames);
    void RemoveAll();

    // For the connection object, which keeps the command of a statement to run it again: binds `SQL` and
    // `ParamNames` in `command` as AddParametersToCommand would on a new command, where `command` holds
    // just the parameters the last binding appended for that same text and list of names, all input then
    // and since, by setting those parameters again. False, with nothing changed, where that does not hold. A
    // failure is reported as AddParametersToCommand's, and leaves the command without parameters, as a new
    // one.
    bool BindInPlace(ado::Command& command, const Ref<Collection>& ParamNames, std::string& SQL);

    std::string_view ClassName() const noexcept override { return "clsBindVariables"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    // The variable entry `index` of a list of names stands for: as `memo` found it (when given) while the
    // members are as they were then (a handler the binding reported to may have changed them since), else
    // looked up by `entry`.
    Ref<clsParameter> VariableOf(const detail::BindingMemo* memo, std::size_t index,
                                 const Variant& entry) const;
    // The same for a list the memo knows, by the name it holds for entry `index`.
    Ref<clsParameter> VariableOf(const detail::BindingMemo& memo, std::size_t index) const;
    // Binding of the statement `memo` recorded, with the same names, on a command without parameters (its
    // collection `appended`), where every name stands exactly once. The memo notes the parameters made.
    void BindAgain(ado::Command& command, ado::Parameters& appended, std::string& SQL,
                   detail::BindingMemo& memo, bool force_in, bool& all_input) const;

    Ref<clsADO> m_ADO;
    Ref<Collection> m_Members;
    // What the last AddParametersToCommand found for its names and text, for the next to reuse.
    std::unique_ptr<detail::BindingMemo> m_Memo;
};

// The placeholder scan of AddParametersToCommand, on its own: rewrites every ":name" (exact letter case)
// followed by the end of the text or a non-word character into "?" plus one blank per character of the
// name, and returns the 1-based character positions of the colons, in text order. Word characters: ASCII
// letters and digits, and characters with a code from 128 to 255 in the fixed single-byte code page
// Windows-1252 (characters that code page lacks read as "?" and end a name).
KORADO_EXPORT std::vector<std::size_t> RewritePlaceholders(std::string& SQL, std::string_view name);

}  // namespace korado
