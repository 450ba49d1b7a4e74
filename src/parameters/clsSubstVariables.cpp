#include "korado/parameters/clsSubstVariables.h"

#include "korado/connection/clsADO.h"
#include "korado/errors/modErrorHandler.h"

namespace korado {
namespace {

constexpr std::string_view kClass = "clsSubstVariables";

Collection& RequireMembers(const Ref<Collection>& members) {
    if (!members) RaiseRuntime(rt::ObjectNotSet);
    return *members;
}

}  // namespace

clsSubstVariables::clsSubstVariables() {
    Try({kClass, "Class_Initialize"}, [&] { m_Members = MakeRef<Collection>(); });
}

clsSubstVariables::~clsSubstVariables() {
    Try({kClass, "Class_Terminate"}, [&] { Destructor(); });
}

Ref<clsParameter> clsSubstVariables::Add(const std::string& Name) {
    Ref<clsParameter> result;
    Try({kClass, "Add"}, [&] { result = m_addSubstVariable(Name); });
    return result;
}

Ref<clsParameter> clsSubstVariables::m_addSubstVariable(const std::string& Name) {
    Ref<clsParameter> result;
    Try({kClass, "m_addSubstVariable"}, [&] {
        const Variant key(Name);
        if (Exists(key)) {
            result = RequireMembers(m_Members).Item(key).ObjectAs<clsParameter>();
            return;
        }
        auto parameter = MakeRef<clsParameter>();
        parameter->Constructor(Name, korSubstitutionVariable, m_ADO);
        RequireMembers(m_Members).Add(Variant(parameter), Name);
        result = parameter;
    });
    return result;
}

void clsSubstVariables::Constructor(const Ref<clsADO>& ADO) {
    Try({kClass, "Constructor"}, [&] { m_ADO = ADO; });
}

Variant clsSubstVariables::Count() {
    Variant result;
    Try({kClass, "Get Count"}, [&] { result = Variant(RequireMembers(m_Members).Count()); });
    return result;
}

void clsSubstVariables::Delete(const Variant& Index) {
    Try({kClass, "Delete"}, [&] { RequireMembers(m_Members).Remove(Index); });
}

Ref<clsParameter> clsSubstVariables::Item(const Variant& Index) {
    Ref<clsParameter> result;
    Try({kClass, "Get Item"},
        [&] { TryIgnore([&] { result = RequireMembers(m_Members).Item(Index).ObjectAs<clsParameter>(); }); });
    return result;
}

void clsSubstVariables::Destructor() {
    Try({kClass, "Destructor"}, [&] {
        m_Members = nullptr;
        m_ADO = nullptr;
    });
}

bool clsSubstVariables::Exists(const Variant& Index) {
    bool result = false;
    Try({kClass, "Exists"}, [&] { result = static_cast<bool>(Item(Index)); });
    return result;
}

Ref<Enumerator> clsSubstVariables::NewEnum() {
    Ref<Enumerator> result;
    Try({kClass, "NewEnum"}, [&] { result = RequireMembers(m_Members).NewEnum(); });
    return result;
}

void clsSubstVariables::RemoveAll() {
    Try({kClass, "RemoveAll"}, [&] {
        Collection& members = RequireMembers(m_Members);
        while (members.Count() >= 1) members.RemoveAt(1);
    });
}

const MemberTable* clsSubstVariables::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<clsSubstVariables>("Item")
                                     .Method<&clsSubstVariables::Add>("Add")
                                     .Method<&clsSubstVariables::Constructor>("Constructor")
                                     .Get<&clsSubstVariables::Count>("Count")
                                     .Method<&clsSubstVariables::Delete>("Delete")
                                     .Get<&clsSubstVariables::Item>("Item")
                                     .Method<&clsSubstVariables::Destructor>("Destructor")
                                     .Method<&clsSubstVariables::Exists>("Exists")
                                     .Method<&clsSubstVariables::NewEnum>("NewEnum")
                                     .Method<&clsSubstVariables::NewEnum>("_NewEnum")
                                     .Method<&clsSubstVariables::RemoveAll>("RemoveAll")
                                     .Build();
    return &t;
}

}  // namespace korado
