// The default host script object, "korHost.ScriptObject": what a host that has no script object of its own
// hands to clsADO::Constructor. Of a host the library uses only the report-break collection Breaks; this
// one keeps SQL*Plus-like break definitions ("BREAK ON dept SKIP 1 NODUPLICATES").
//
// A definition names a column (kept upper-cased in ReportElement, as the fields compare it), whether its
// repeated values print (Duplicates) and how many blank lines a change of its value asks for (Skip). The
// definitions outlive queries: ResetALL, which the library calls as each dynaset opens, forgets only what
// the last query left (the columns the fields bound, the break just seen); Clear removes the definitions.
//
// CheckBreaks(dynaset), called by the library after every MoveNext from a row, compares each bound break
// column's value with the previous row's. The first (outermost) definition whose value changed, and every
// definition after it, get PostBreakEvent true, so their values print again on the new row as SQL*Plus
// prints inner break columns after an outer break; the others get false. SkipLines then tells the host how
// many blank lines to print before the row (the largest Skip of the definitions that broke; 0 when none did
// or at the end of the rows).
//
// Failures: Add raises 5 for an empty column name; Item and Remove raise 9 (subscript out of range) for a
// position outside 1..Count.
#pragma once

#include <cstdint>
#include <string>

#include "korado/runtime/collection.h"
#include "korado/runtime/dispatch.h"

namespace korado::companions {

inline constexpr const char* kScriptObject = "korHost.ScriptObject";

class KORADO_EXPORT clsBreak final : public Dispatch {
public:
    std::string ReportElement() const { return m_ReportElement; }
    void SetReportElement(const std::string& value);  // upper-cased
    std::int32_t Column() const noexcept { return m_Column; }  // -1 until a field binds to it
    void SetColumn(std::int32_t value) noexcept { m_Column = value; }
    bool Duplicates() const noexcept { return m_Duplicates; }
    void SetDuplicates(bool value) noexcept { m_Duplicates = value; }
    bool PostBreakEvent() const noexcept { return m_PostBreakEvent; }
    void SetPostBreakEvent(bool value) noexcept { m_PostBreakEvent = value; }
    std::int32_t Skip() const noexcept { return m_Skip; }
    void SetSkip(std::int32_t value);  // 0 or more, else 5

    std::string_view ClassName() const noexcept override { return "clsBreak"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    std::string m_ReportElement;
    std::int32_t m_Column = -1;
    bool m_Duplicates = false;
    bool m_PostBreakEvent = false;
    std::int32_t m_Skip = 0;
};

class KORADO_EXPORT clsBreaks final : public Dispatch {
public:
    clsBreaks();

    // ---- what the library calls ----
    void ResetALL();
    void CheckBreaks(const Variant& Dynaset);
    std::int32_t Count();
    Ref<clsBreak> Item(const Variant& Index);  // 1-based; the default member

    // ---- what a host calls ----
    // Adds a definition for `ColumnName`, or updates the one already there (names compared without regard
    // to letter case), and returns it.
    Ref<clsBreak> Add(const std::string& ColumnName, bool Duplicates, std::int32_t Skip);
    // By 1-based position or by column name.
    void Remove(const Variant& Index);
    void Clear();
    std::int32_t SkipLines() const noexcept { return m_SkipLines; }

    std::string_view ClassName() const noexcept override { return "clsBreaks"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    // 1-based position of a definition by position or by name; 0 when there is none.
    std::size_t PositionOf(const Variant& Index) const;

    Ref<Collection> m_Items;
    std::int32_t m_SkipLines = 0;
};

class KORADO_EXPORT ScriptObject final : public Dispatch {
public:
    ScriptObject();
    Ref<clsBreaks> Breaks() const { return m_Breaks; }

    std::string_view ClassName() const noexcept override { return "ScriptObject"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    Ref<clsBreaks> m_Breaks;
};

}  // namespace korado::companions
