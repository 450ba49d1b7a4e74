#include "korado/resultsets/clsFieldsADO.h"

#include <string>

#include "korado/errors/clsADOError.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/runtime/strings.h"

namespace korado {
namespace {

constexpr std::string_view kClass = "clsFieldsADO";

Site At(std::string_view routine) { return {kClass, routine}; }

}  // namespace

clsFieldsADO::clsFieldsADO() {
    Try(At("Class_Initialize"), [&] { m_Items = MakeRef<Collection>(); });
}

clsFieldsADO::~clsFieldsADO() {
    Try(At("Class_Terminate"), [&] { Destructor(); });
}

void clsFieldsADO::Constructor(const Ref<ado::Recordset>& Recordset, std::int32_t& InitError) {
    TryWith(
        [&] {
            m_Recordset = Recordset;
            if (!m_Recordset || !m_Items) RaiseRuntime(rt::ObjectNotSet);
            std::int32_t count = 0;
            TryWith([&] { count = m_Recordset->Fields()->Count(); },
                    [&](const Error& e) {
                        if (e.Source() == "OraOLEDB" && e.Number() == Hr(0x80004005) &&
                            ContainsText(e.Description(), "ORA-00600")) {
                            Raise(enumFieldsADOErrors::ORA00600InternalError,
                                  "Error counting the fields in the recordset. Driver error message: " +
                                      e.Description());
                        }
                        InitError = 1;
                        throw e;
                    });
            for (std::int32_t i = 1; i <= count; ++i) {
                Ref<clsFieldADO> field = MakeRef<clsFieldADO>();
                const bool no_data = m_Recordset->Eof();
                bool break_field = false;
                field->Constructor(m_Recordset, i - 1, break_field, InitError, no_data);
                if (InitError == 1) break;
                if (break_field) m_BreaksDefined = true;
                const std::string name = field->Name();
                m_Items->Add(Variant(field), m_Items->ContainsKey(name) ? name + std::to_string(i) : name);
                m_InOrder.push_back(std::move(field));
            }
        },
        [&](const Error& e) {
            if (!IsOwnError(e) && e.Source() == "ADODB.Fields" && e.Number() == rt::OutOfMemory)
                Raise(enumFieldsADOErrors::OutOfMemory, "Out of memory");
            PassOwnOrHandle(At("Constructor"), e);
        });
}

void clsFieldsADO::Destructor() {
    Try(At("Destructor"), [&] {
        m_InOrder.clear();
        m_Items = nullptr;
        m_Recordset = nullptr;
    });
}

std::int32_t clsFieldsADO::Count() {
    std::int32_t result = 0;
    TryWith(
        [&] {
            if (!m_Recordset) RaiseRuntime(rt::ObjectNotSet);
            result = m_Recordset->State() == ado::adStateOpen ? m_Recordset->Fields()->Count() : 0;
        },
        [&](const Error& e) {
            result = 0;
            if (e.Source() == "Microsoft OLE DB Provider for SQL Server" && e.Number() == Hr(0x80004005))
                return;
            HandleError(kClass, "Count");
        });
    return result;
}

Ref<clsFieldADO> clsFieldsADO::Item(const Variant& Index) {
    Ref<clsFieldADO> result;
    TryWith(
        [&] {
            if (!m_Items) RaiseRuntime(rt::ObjectNotSet);
            const Variant* found =
                IsNumeric(Index) ? m_Items->Find(Variant(CLng(Index) + 1)) : m_Items->FindKey(CStr(Index));
            if (found) result = found->ObjectAs<clsFieldADO>();
            if (!result) {
                Raise(enumFieldsADOErrors::FieldNotInRecordset,
                      "Field " + CStr(Index) + " could not be found in the recordset.");
            }
        },
        [&](const Error& e) {
            result = nullptr;
            PassOwnOrHandle(At("Item"), e);
        });
    return result;
}

// After every move, for every field: a plain walk over the fields in column order, without the keyed
// collection's lookups.
void clsFieldsADO::Refresh(bool& FieldError) {
    Try(At("Refresh"), [&] {
        for (const Ref<clsFieldADO>& field : m_InOrder) {
            field->Refresh();
            FieldError = field->Error() != 0;
        }
    });
}

const MemberTable* clsFieldsADO::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<clsFieldsADO>("Item")
                                     .Get<&clsFieldsADO::BreaksDefined>("BreaksDefined")
                                     .Let<&clsFieldsADO::SetBreaksDefined>("BreaksDefined")
                                     .Method<&clsFieldsADO::Constructor>("Constructor")
                                     .Get<&clsFieldsADO::Count>("Count")
                                     .Method<&clsFieldsADO::Destructor>("Destructor")
                                     .Get<&clsFieldsADO::Item>("Item")
                                     .Method<&clsFieldsADO::Refresh>("Refresh")
                                     .Build();
    return &t;
}

}  // namespace korado
