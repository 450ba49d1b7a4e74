// clsFieldADO: one column of a dynaset's current row. It keeps its own copy of the row's value (so a host
// can hold it after the recordset moves), a host-oriented type code, and for a report-break column the
// previous row's value, from which ReportValue blanks a repeated value.
//
// The fields collection creates one per column and refreshes them after every move; the host writes new
// values through Value before the dynaset stores the row.
//
// Break columns belong to the host: the field binds itself at construction to the first definition of the
// host script object's Breaks (g_HostObject) whose ReportElement equals the upper-cased column name, and
// writes its 0-based position into that definition's Column.
//
// Failures: every member guards itself (class "clsFieldADO"); Constructor sets InitError to 1 on any
// failure and passes the library's own errors on; a failed value write sets Error to 1 and shows nothing.
#pragma once

#include <cstdint>
#include <string>

#include "korado/platform/adodb.h"
#include "korado/runtime/dispatch.h"

namespace korado {

class KORADO_EXPORT clsFieldADO : public Dispatch {
public:
    clsFieldADO();
    ~clsFieldADO() override;

    // BreakField (out): whether the column is a break column. InitError (in/out): set to 1 on failure.
    // NoData: the recordset stands at its end, so there is no value to read.
    void Constructor(const Ref<ado::Recordset>& rs, std::int32_t Index, bool& BreakField, std::int32_t& InitError,
                     bool NoData);
    void Destructor();

    std::int16_t Error();
    void SetError(std::int16_t value);
    std::int32_t DefinedSize();
    std::string Name();
    Variant Previous_Value();
    bool IsNull();
    bool IsObject();
    std::int16_t getType();
    void Refresh();
    Variant ReportValue();
    void SaveToFile(const std::string& FileName);
    Variant Value();
    // By reference: a long binary column turns the caller's own non-text value into its text form.
    void SetValue(Variant& NewValue);

    // What Value answers, without a copy, for C++ hosts that read every field of every row.
    const Variant& ReadValue() const noexcept { return m_Value; }

    std::string_view ClassName() const noexcept override { return "clsFieldADO"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    std::int16_t m_getType();
    // The platform field; raises 91 before Constructor.
    ado::Field& m_PlatformField();

    std::int16_t m_Error = 0;
    std::int32_t m_BreakIndex = -1;
    Ref<ado::Field> m_Field;
    std::int32_t m_Index = 0;
    bool m_IsObject = false;
    std::string m_Name;
    Variant m_PreviousValue;
    Variant m_Value;
    std::int16_t m_Type = 0;
};

}  // namespace korado
