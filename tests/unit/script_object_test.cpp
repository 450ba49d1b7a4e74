// The default host script object, driven by member name as the library and a host drive it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "korado/companions/script_object.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/raises.h"

namespace korado {
namespace {

// A dynaset as CheckBreaks sees it: EOF, and Fields(i) with Value and Previous_Value. Its fields refuse to
// be read at the end, as there is no row to read.
class RowsDynaset final : public Dispatch {
  public:
    explicit RowsDynaset(std::vector<std::vector<Variant>> rows) : rows_(std::move(rows)) {}
    void MoveNext() { ++row_; }
    bool AtEnd() const { return row_ >= rows_.size(); }
    Variant Fields(std::int32_t index) {
        if (AtEnd()) RaiseRuntime(3021, "no current row");
        auto value = [&](std::size_t row) { return rows_[row][static_cast<std::size_t>(index)]; };
        return Variant(Ref<Dispatch>(MakeRef<RowField>(row_ > 0 ? value(row_ - 1) : Variant(), value(row_))));
    }

  protected:
    const MemberTable* Members() const noexcept override {
        static const MemberTable t = MemberTable::Of<RowsDynaset>()
                                         .Get<&RowsDynaset::AtEnd>("EOF")
                                         .Get<&RowsDynaset::Fields>("Fields")
                                         .Build();
        return &t;
    }

  private:
    class RowField final : public Dispatch {
      public:
        RowField(Variant previous, Variant value)
            : previous_(std::move(previous)), value_(std::move(value)) {}
        Variant Previous() { return previous_; }
        Variant Value() { return value_; }

      protected:
        const MemberTable* Members() const noexcept override {
            static const MemberTable t = MemberTable::Of<RowField>()
                                             .Get<&RowField::Previous>("Previous_Value")
                                             .Get<&RowField::Value>("Value")
                                             .Build();
            return &t;
        }

      private:
        Variant previous_, value_;
    };

    std::vector<std::vector<Variant>> rows_;
    std::size_t row_ = 0;
};

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

// Definitions in order: REGION (bound to column 0, Skip 1), NOTES (not in the query, Skip 9), DEPT
// (column 1, Skip 3), JOB (column 2, Skip 0). Each case moves from its first row to its second.
TEST(ScriptObject, CheckBreaksMarksTheOuterBreakAndWhatFollowsIt) {
    struct Case {
        const char* what;
        std::vector<Variant> from, to;
        std::vector<bool> post;  // REGION, NOTES, DEPT, JOB
        std::int32_t skip_lines;
    };
    const Case cases[] = {
        {"no change", {"N", 10, "A"}, {"N", 10.0, "A"}, {false, false, false, false}, 0},
        {"inner change", {"N", 10, "A"}, {"N", 10, "B"}, {false, false, false, true}, 0},
        {"middle change", {"N", 10, "A"}, {"N", 20, "A"}, {false, false, true, true}, 3},
        {"outer change: the larger inner Skip wins",
         {"N", 10, "A"},
         {"S", 10, "A"},
         {true, false, true, true},
         3},
        {"Null to Null is a change",
         {"N", Variant::Null(), "A"},
         {"N", Variant::Null(), "A"},
         {false, false, true, true},
         3},
        {"text compared exactly", {"N", 10, "a"}, {"N", 10, "A"}, {false, false, false, true}, 0},
    };
    Variant breaks = NewBreaks();
    for (auto [name, column, skip] : {std::tuple("region", 0, 1), std::tuple("notes", -1, 9),
                                      std::tuple("dept", 1, 3), std::tuple("job", 2, 0)}) {
        Variant definition = CallMethod(breaks, "Add", name, false, skip);
        if (column >= 0) LetProperty(definition, "Column", column);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto dynaset = MakeRef<RowsDynaset>(std::vector{c.from, c.to});
        dynaset->MoveNext();
        CallMethod(breaks, "CheckBreaks", Variant(Ref<Dispatch>(dynaset)));
        std::vector<bool> post;
        for (std::int32_t i = 1; i <= 4; ++i)
            post.push_back(CBool(GetProperty(Definition(breaks, i), "PostBreakEvent")));
        EXPECT_EQ(post, c.post);
        EXPECT_EQ(CLng(GetProperty(breaks, "SkipLines")), c.skip_lines);

        // The move that reaches the end reads no field and leaves the marks; there is nothing to skip to.
        dynaset->MoveNext();
        CallMethod(breaks, "CheckBreaks", Variant(Ref<Dispatch>(dynaset)));
        EXPECT_EQ(CLng(GetProperty(breaks, "SkipLines")), 0);
        EXPECT_EQ(CBool(GetProperty(Definition(breaks, 4), "PostBreakEvent")), c.post[3]);
    }
}

}  // namespace
}  // namespace korado
