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

#include "korado/parameters/clsParameter.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/collection.h"

namespace korado {

namespace detail {
class BindingMemo;
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
    Ref<clsADO> m_ADO;
    Ref<Collection> m_Members;
    // What the last binding on a new command found for its names and text, for the statement run again.
    std::unique_ptr<detail::BindingMemo> m_Memo;
};

}  // namespace korado
