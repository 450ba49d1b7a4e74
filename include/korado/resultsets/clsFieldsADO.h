// clsFieldsADO: the fields of a dynaset's current row, one clsFieldADO per column, reached by 0-based
// position or by name (without regard to letter case). Built once when the dynaset opens and refreshed
// after every move. A second column of the same name is kept under its name followed by its 1-based
// position ("ID5").
//
// BreaksDefined is true when any column is one of the host's report-break columns; the dynaset is then
// read-only.
//
// Failures: every member guards itself (class "clsFieldsADO"). Item raises FieldNotInRecordset
// (0x80040003) for an index that matches no field; Constructor raises ORA00600InternalError and
// OutOfMemory for the provider failures that mean them, and otherwise keeps the fields built so far.
#pragma once

#include <cstdint>
#include <vector>

#include "korado/platform/adodb.h"
#include "korado/runtime/collection.h"
#include "korado/runtime/dispatch.h"

namespace korado {

class clsFieldADO;

class KORADO_EXPORT clsFieldsADO : public Dispatch {
public:
    clsFieldsADO();
    ~clsFieldsADO() override;

    // InitError (in/out): 1 when a field failed to build (the remaining columns get no fields).
    void Constructor(const Ref<ado::Recordset>& Recordset, std::int32_t& InitError);
    void Destructor();

    bool BreaksDefined() const noexcept { return m_BreaksDefined; }
    void SetBreaksDefined(bool value) noexcept { m_BreaksDefined = value; }
    std::int32_t Count();
    // A number (0-based position) or a name; the default member.
    Ref<clsFieldADO> Item(const Variant& Index);
    // FieldError (out): whether the last field's Error is non-zero after its refresh.
    void Refresh(bool& FieldError);

    std::string_view ClassName() const noexcept override { return "clsFieldsADO"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    bool m_BreaksDefined = false;
    Ref<ado::Recordset> m_Recordset;
    Ref<Collection> m_Items;
    // The entries of m_Items in column order, for the refresh after every move.
    std::vector<Ref<clsFieldADO>> m_InOrder;
};

}  // namespace korado
