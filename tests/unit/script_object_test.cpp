// The default host script object, driven by member name as the library and a host drive it.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "korado/companions/script_object.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/raises.h"

namespace korado {
namespace {

Variant NewBreaks() { return GetProperty(Variant(CreateObject(companions::kScriptObject)), "Breaks"); }

// Breaks(i) through the default member.
Variant Definition(const Variant& breaks, const Variant& index) { return GetProperty(breaks, "", index); }

TEST(ScriptObject, DefinitionsAddUpdateRemoveAndClear) {
    Variant breaks = NewBreaks();
    CallMethod(breaks, "Add", "dept", true, 2);
    CallMethod(breaks, "Add", "Job");
    // A second Add of a column updates its definition in place.
    Variant again = CallMethod(breaks, "Add", "DEPT", false, 1);
    EXPECT_EQ(CLng(GetProperty(breaks, "Count")), 2);
    Variant first = Definition(breaks, 1);
    EXPECT_EQ(first.AsObject(), again.AsObject());
    EXPECT_EQ(std::tuple(CStr(GetProperty(first, "ReportElement")), CBool(GetProperty(first, "Duplicates")),
                         CLng(GetProperty(first, "Skip")), CLng(GetProperty(first, "Column"))),
              std::tuple("DEPT", false, 1, -1));
    EXPECT_EQ(CStr(GetProperty(Definition(breaks, "job"), "ReportElement")), "JOB");

    // Refused: an empty name, a negative Skip (which leaves the definition as it was), positions and names
    // that are not there.
    EXPECT_RAISES(rt::InvalidProcedureCall, CallMethod(breaks, "Add", ""));
    EXPECT_RAISES(rt::InvalidProcedureCall, CallMethod(breaks, "Add", "dept", true, -1));
    EXPECT_RAISES(rt::InvalidProcedureCall, CallMethod(breaks, "Add", "sal", true, -1));
    EXPECT_EQ(std::tuple(CLng(GetProperty(breaks, "Count")), CLng(GetProperty(first, "Skip"))),
              std::tuple(2, 1));
    for (const Variant& index : {Variant(0), Variant(3), Variant(-1), Variant("sal")}) {
        SCOPED_TRACE(CStr(index));
        EXPECT_RAISES(rt::SubscriptOutOfRange, Definition(breaks, index));
        EXPECT_RAISES(rt::SubscriptOutOfRange, CallMethod(breaks, "Remove", index));
    }

    // A renamed definition is found by its new name.
    LetProperty(Definition(breaks, "job"), "ReportElement", "title");
    CallMethod(breaks, "Add", "Title", true);
    EXPECT_EQ(std::tuple(CLng(GetProperty(breaks, "Count")),
                         CBool(GetProperty(Definition(breaks, 2), "Duplicates"))),
              std::tuple(2, true));

    CallMethod(breaks, "Remove", 1);
    EXPECT_EQ(CStr(GetProperty(Definition(breaks, 1), "ReportElement")), "TITLE");
    CallMethod(breaks, "Add", "dept");
    CallMethod(breaks, "Remove", "title");
    EXPECT_EQ(CStr(GetProperty(Definition(breaks, 1), "ReportElement")), "DEPT");
    CallMethod(breaks, "Clear");
    EXPECT_EQ(CLng(GetProperty(breaks, "Count")), 0);
}

TEST(ScriptObject, ResetALLForgetsWhatTheLastQueryLeft) {
    Variant breaks = NewBreaks();
    Variant dept = CallMethod(breaks, "Add", "dept", true, 2);
    LetProperty(dept, "Column", 3);
    LetProperty(dept, "PostBreakEvent", true);
    CallMethod(breaks, "ResetALL");
    EXPECT_EQ(std::tuple(CLng(GetProperty(breaks, "Count")), CLng(GetProperty(dept, "Column")),
                         CBool(GetProperty(dept, "PostBreakEvent")), CBool(GetProperty(dept, "Duplicates")),
                         CLng(GetProperty(dept, "Skip"))),
              std::tuple(1, -1, false, true, 2));
}

}  // namespace
}  // namespace korado
