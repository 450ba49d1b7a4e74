// clsParameter: one named variable the host fills before running SQL: a bind variable (bound as a command
// parameter) or a substitution variable (kept for the host to put into SQL text). The host gets one from
// the Add of a bind-variable or substitution-variable collection and sets Value and, for bind variables,
// DataType, Mode and Size.
//
// Invariants kept by the setters: a substitution variable's Mode is korParamIn after any write of 0 to 2,
// and its DataType korTypeVarchar2 after any write. Every read of Value recomputes Size (the character
// length of the value's text for korTypeVarchar2, else -1).
//
// Failures: every member guards itself and hands failures to the standard error path (class
// "clsParameter"); the member then returns normally with its result as it stood.
#pragma once

#include <cstdint>
#include <string>

#include "korado/runtime/dispatch.h"

namespace korado {

class clsADO;

enum enumParameterMode : std::int32_t { korParamIn = 0, korParamOut = 1, korParamInOut = 2 };
enum enumParameterDataType : std::int32_t { korTypeOther = 0, korTypeNumber = 1, korTypeVarchar2 = 2, korTypeDate = 3 };
enum enumParameterType : std::int32_t { korBindVariable = 1, korSubstitutionVariable = 2 };

class KORADO_EXPORT clsParameter : public Dispatch {
public:
    ~clsParameter() override;

    void Constructor(const std::string& Name, std::int32_t ParamType, const Ref<clsADO>& ADO);
    std::int32_t DataType();
    void SetDataType(std::int32_t NewDataType);
    void Destructor();
    std::int32_t Mode();
    // lNewValue is in/out: on a substitution variable the caller's value is set to korParamIn.
    void SetMode(std::int32_t& lNewValue);
    std::string Name();
    std::int32_t ParamType();
    std::int32_t Size();
    void SetSize(std::int32_t NewValue);
    Variant Value();
    // Reads Value as the getter does (Size recomputed), handing back the stored value rather than a copy.
    const Variant& ReadValue();
    void SetValue(const Variant& NewValue);

    std::string_view ClassName() const noexcept override { return "clsParameter"; }

    // What DataType, Mode and Size answer, for binding, which reads them for every variable of every
    // statement: plain reads, without the guard those members keep (a read of a number cannot fail).
    std::int32_t data_type() const noexcept { return m_DataType; }
    std::int32_t mode() const noexcept { return m_Mode; }
    std::int32_t size() const noexcept { return m_Size; }

    // How many times any variable was given an output mode (out or in-out). Variables binding found all
    // input are still so while this count stays.
    static std::uint64_t OutputModesGiven() noexcept;

protected:
    const MemberTable* Members() const noexcept override;

private:
    Ref<clsADO> m_ADO;
    std::int32_t m_DataType = korTypeOther;
    std::int32_t m_Mode = korParamInOut;
    std::string m_Name;
    std::int32_t m_ParamType = korBindVariable;
    std::int32_t m_Size = -1;
    Variant m_Value;
};

}  // namespace korado
