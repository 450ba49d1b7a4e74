#include "korado/companions/script_object.h"

#include <algorithm>

#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "korado/runtime/strings.h"

namespace korado::companions {
namespace {

ClassRegistrar registrar(kScriptObject, "", [] { return Ref<Dispatch>(MakeRef<ScriptObject>()); });

// Whether a break column's value differs from the previous row's, as a report compares them: a Null on
// either side is a change (the comparison is undecided), and Empty (no previous row) equals 0 and "".
// Arrays, bytes, objects and error values have no order in the language; they change when they are not
// the same.
bool Comparable(const Variant& v) {
    VarType t = v.Type();
    return t != VarType::Array && t != VarType::ByteArray && t != VarType::Object && t != VarType::Error;
}

bool Changed(const Variant& previous, const Variant& current) {
    if (previous.IsNull() || current.IsNull()) return true;
    if (!Comparable(previous) || !Comparable(current)) return !(previous == current);
    return Compare(previous, current) != Cmp::Equal;
}

}  // namespace

// ---- clsBreak -------------------------------------------------------------------------------------------

// The fields compare the upper-cased column name with ReportElement exactly.
void clsBreak::SetReportElement(const std::string& value) { m_ReportElement = UCase(value); }

void clsBreak::SetSkip(std::int32_t value) {
    if (value < 0) RaiseRuntime(rt::InvalidProcedureCall, "Skip");
    m_Skip = value;
}

const MemberTable* clsBreak::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<clsBreak>()
                                     .Get<&clsBreak::ReportElement>("ReportElement")
                                     .Let<&clsBreak::SetReportElement>("ReportElement")
                                     .Get<&clsBreak::Column>("Column")
                                     .Let<&clsBreak::SetColumn>("Column")
                                     .Get<&clsBreak::Duplicates>("Duplicates")
                                     .Let<&clsBreak::SetDuplicates>("Duplicates")
                                     .Get<&clsBreak::PostBreakEvent>("PostBreakEvent")
                                     .Let<&clsBreak::SetPostBreakEvent>("PostBreakEvent")
                                     .Get<&clsBreak::Skip>("Skip")
                                     .Let<&clsBreak::SetSkip>("Skip")
                                     .Build();
    return &t;
}

// ---- clsBreaks ------------------------------------------------------------------------------------------

clsBreaks::clsBreaks() : m_Items(MakeRef<Collection>()) {}

void clsBreaks::ResetALL() {
    for (const Variant& item : *m_Items) {
        Ref<clsBreak> definition = item.ObjectAs<clsBreak>();
        definition->SetColumn(-1);
        definition->SetPostBreakEvent(false);
    }
    m_SkipLines = 0;
}

void clsBreaks::CheckBreaks(const Variant& Dynaset) {
    m_SkipLines = 0;
    // Called after every row the host reads: without definitions there is nothing to ask the dynaset.
    if (m_Items->Count() == 0 || CBool(GetProperty(Dynaset, "EOF"))) return;
    bool broken = false;
    std::int32_t skip = 0;
    for (const Variant& item : *m_Items) {
        Ref<clsBreak> definition = item.ObjectAs<clsBreak>();
        bool breaks = false;
        if (definition->Column() >= 0) {
            // An outer break starts a new group for every inner column, changed or not.
            Variant field = GetProperty(Dynaset, "Fields", definition->Column());
            breaks = broken || Changed(GetProperty(field, "Previous_Value"), GetProperty(field, "Value"));
        }
        definition->SetPostBreakEvent(breaks);
        if (breaks) skip = std::max(skip, definition->Skip());
        broken = broken || breaks;
    }
    m_SkipLines = skip;
}

std::int32_t clsBreaks::Count() { return m_Items->Count(); }

// Positions outside 1..Count and unknown names are both out of range: a host indexes its break list as an
// array.
Ref<clsBreak> clsBreaks::Item(const Variant& Index) {
    std::size_t position = PositionOf(Index);
    if (position == 0) RaiseRuntime(rt::SubscriptOutOfRange, "Breaks");
    return m_Items->ItemAt(position).ObjectAs<clsBreak>();
}

Ref<clsBreak> clsBreaks::Add(const std::string& ColumnName, bool Duplicates, std::int32_t Skip) {
    if (ColumnName.empty()) RaiseRuntime(rt::InvalidProcedureCall, "ColumnName");
    std::size_t position = PositionOf(Variant(ColumnName));
    Ref<clsBreak> definition =
        position ? m_Items->ItemAt(position).ObjectAs<clsBreak>() : MakeRef<clsBreak>();
    // Skip first: a refused Skip leaves a new definition out and an old one unchanged.
    definition->SetSkip(Skip);
    definition->SetDuplicates(Duplicates);
    if (position == 0) {
        definition->SetReportElement(ColumnName);
        m_Items->Add(Variant(Ref<Dispatch>(definition)));
    }
    return definition;
}

void clsBreaks::Remove(const Variant& Index) {
    std::size_t position = PositionOf(Index);
    if (position == 0) RaiseRuntime(rt::SubscriptOutOfRange, "Breaks");
    m_Items->RemoveAt(position);
}

void clsBreaks::Clear() {
    m_Items->Clear();
    m_SkipLines = 0;
}

// Names are looked up by ReportElement itself rather than by a key, since a host may rename a definition.
std::size_t clsBreaks::PositionOf(const Variant& Index) const {
    if (Index.IsString()) {
        std::string name = UCase(CStr(Index));
        for (std::int32_t i = 1; i <= m_Items->Count(); ++i) {
            auto position = static_cast<std::size_t>(i);
            if (m_Items->ItemAt(position).ObjectAs<clsBreak>()->ReportElement() == name) return position;
        }
        return 0;
    }
    std::int32_t position = CLng(Index);
    return position >= 1 && position <= m_Items->Count() ? static_cast<std::size_t>(position) : 0;
}

const MemberTable* clsBreaks::Members() const noexcept {
    static const MemberTable t =
        MemberTable::Of<clsBreaks>("Item")
            .Method<&clsBreaks::ResetALL>("ResetALL")
            .Method<&clsBreaks::CheckBreaks>("CheckBreaks")
            .Get<&clsBreaks::Count>("Count")
            .Get<&clsBreaks::Item>("Item")
            .Method<&clsBreaks::Add>("Add", {Variant(false), Variant(std::int32_t{0})})
            .Method<&clsBreaks::Remove>("Remove")
            .Method<&clsBreaks::Clear>("Clear")
            .Get<&clsBreaks::SkipLines>("SkipLines")
            .Build();
    return &t;
}

// ---- ScriptObject ---------------------------------------------------------------------------------------

ScriptObject::ScriptObject() : m_Breaks(MakeRef<clsBreaks>()) {}

const MemberTable* ScriptObject::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<ScriptObject>().Get<&ScriptObject::Breaks>("Breaks").Build();
    return &t;
}

}  // namespace korado::companions
