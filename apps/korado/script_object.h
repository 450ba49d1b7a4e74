// The host's script object, as korado hands it to clsADO::Constructor: the library reaches its host only
// through late binding, and of the host it uses only the report-break collection `Breaks`.
//
// Breaks (class "clsBreaks"): ResetALL(), CheckBreaks(dynaset), Count, Item(i) (1-based, the default
// member). This version of the console defines no report breaks, so the collection stays empty: ResetALL
// and CheckBreaks do nothing, Count is 0 and Item raises 5, as the language's Collection does for a
// position out of range.
//
// Ownership: the script object owns its breaks collection; the library keeps a counted reference to the
// script object (g_HostObject) until the host releases the library's globals.
#pragma once

#include <cstdint>
#include <string_view>

#include "korado/runtime/collection.h"
#include "korado/runtime/dispatch.h"

namespace korado::console {

class clsBreaks final : public Dispatch {
  public:
    clsBreaks();

    void ResetALL();
    void CheckBreaks(const Variant& dynaset);
    std::int32_t Count();
    Variant Item(const Variant& index);

    std::string_view ClassName() const noexcept override { return "clsBreaks"; }

  protected:
    const MemberTable* Members() const noexcept override;

  private:
    Ref<Collection> m_Breaks;
};

class TabulonSQLPlus final : public Dispatch {
  public:
    TabulonSQLPlus();

    Ref<clsBreaks> Breaks();

    std::string_view ClassName() const noexcept override { return "TabulonSQLPlus"; }

  protected:
    const MemberTable* Members() const noexcept override;

  private:
    Ref<clsBreaks> m_Breaks;
};

}  // namespace korado::console
