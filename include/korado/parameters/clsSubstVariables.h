// clsSubstVariables: the substitution variables of one connection, named clsParameter objects of type
// korSubstitutionVariable that the host keeps for putting into SQL text itself (the library never
// substitutes them). Kept in the order of Add under their names (compared without regard to letter case).
//
// Failures: every member guards itself (class "clsSubstVariables") and returns normally after handing the
// failure to the standard error path: Add returns Nothing, Count an empty Variant, Exists false.
#pragma once

#include <cstdint>
#include <string>

#include "korado/parameters/clsParameter.h"
#include "korado/runtime/collection.h"

namespace korado {

class KORADO_EXPORT clsSubstVariables : public Dispatch {
public:
    clsSubstVariables();
    ~clsSubstVariables() override;

    Ref<clsParameter> Add(const std::string& Name);
    void Constructor(const Ref<clsADO>& ADO);
    Variant Count();
    void Delete(const Variant& Index);
    Ref<clsParameter> Item(const Variant& Index);
    void Destructor();
    bool Exists(const Variant& Index);
    Ref<Enumerator> NewEnum();
    void RemoveAll();

    std::string_view ClassName() const noexcept override { return "clsSubstVariables"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    Ref<clsParameter> m_addSubstVariable(const std::string& Name);

    Ref<clsADO> m_ADO;
    Ref<Collection> m_Members;
};

}  // namespace korado
