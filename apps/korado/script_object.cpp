#include "script_object.h"

namespace korado::console {

clsBreaks::clsBreaks() : m_Breaks(MakeRef<Collection>()) {}

void clsBreaks::ResetALL() {}

// Breaks are checked against each row of a dynaset the library prints; with no breaks defined there is
// nothing to compare.
void clsBreaks::CheckBreaks(const Variant&) {}

std::int32_t clsBreaks::Count() { return m_Breaks->Count(); }

Variant clsBreaks::Item(const Variant& index) { return m_Breaks->Item(index); }

const MemberTable* clsBreaks::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<clsBreaks>("Item")
                                     .Method<&clsBreaks::ResetALL>("ResetALL")
                                     .Method<&clsBreaks::CheckBreaks>("CheckBreaks")
                                     .Get<&clsBreaks::Count>("Count")
                                     .Get<&clsBreaks::Item>("Item")
                                     .Build();
    return &t;
}

TabulonSQLPlus::TabulonSQLPlus() : m_Breaks(MakeRef<clsBreaks>()) {}

Ref<clsBreaks> TabulonSQLPlus::Breaks() { return m_Breaks; }

const MemberTable* TabulonSQLPlus::Members() const noexcept {
    static const MemberTable t =
        MemberTable::Of<TabulonSQLPlus>().Get<&TabulonSQLPlus::Breaks>("Breaks").Build();
    return &t;
}

}  // namespace korado::console
