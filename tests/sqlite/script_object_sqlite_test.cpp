// The default host script object with real dynasets: what a report prints of each row with break columns.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "korado/companions/script_object.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "support/session.h"

namespace korado::test {
namespace {

// BREAK ON region SKIP 2 NODUPLICATES ON notes SKIP 9 ON dept SKIP 1 NODUPLICATES ON grade DUPLICATES, with
// notes not in the query: each row as the report prints it (a blanked value as "-"), with the blank lines
// asked for before it. dept has no declared type, so 10 and 10.0 arrive as a Long and a Double.
TEST(ScriptObjectSqlite, BreakColumnsAsAReportPrintsThem) {
    TempDir dir;
    auto script = MakeRef<companions::ScriptObject>();
    auto breaks = script->Breaks();
    breaks->Add("region", false, 2);
    breaks->Add("notes", false, 9);
    breaks->Add("Dept", false, 1);
    breaks->Add("GRADE", true, 0);
    const std::vector<std::string> expected = {
        "0: N 10 A Adams",  // the first row prints everything
        "0: - - A Blake",   // repeats blanked (10.0 equals 10), except where duplicates print
        "1: - 20 A Clark",  // an inner break
        "1: - - A Dale",    // to Null is a change
        "1: - - A Eve",     // and so is Null to Null
        "2: n - A Gus",     // text compares exactly: an outer break
        "2: S 20 B Ford",   // an outer break prints the inner columns again; the larger Skip
        "0: - - B King",
    };
    for (bool large : {false, true}) {
        SCOPED_TRACE(large ? "large" : "buffered");
        Session s;
        s.ado().Constructor(Ref<Dispatch>(script), true, 30, 0, 0, 10, 100);
        ASSERT_TRUE(s.Connect(SqliteConnectionString(dir.File("breaks.db"))).ok);
        s.Execute("CREATE TABLE IF NOT EXISTS emp (seq INTEGER, region TEXT, dept, grade TEXT, name TEXT)");
        s.Execute("DELETE FROM emp");
        s.Execute(
            "INSERT INTO emp VALUES (7, 'S', 20, 'B', 'Ford'), (1, 'N', 10, 'A', 'Adams'), (3, 'N', 20, 'A', "
            "'Clark'), (8, 'S', 20, 'B', 'King'), (2, 'N', 10.0, 'A', 'Blake'), (4, 'N', NULL, 'A', 'Dale'), "
            "(5, 'N', NULL, 'A', 'Eve'), (6, 'n', NULL, 'A', 'Gus')");

        Ref<clsDynasetADO> dynaset =
            s.Dynaset("SELECT region, dept, grade, name FROM emp ORDER BY seq", large);
        ASSERT_TRUE(dynaset);
        EXPECT_EQ(std::tuple(breaks->Item(Variant("grade"))->Column(),
                             breaks->Item(Variant("notes"))->Column()),
                  std::tuple(2, -1));
        std::vector<std::string> printed;
        while (!dynaset->EOF_()) {
            std::string line = std::to_string(breaks->SkipLines()) + ":";
            for (std::int32_t i = 0; i < 4; ++i) {
                Variant shown = GetProperty(dynaset->Fields(Variant(i)), "ReportValue");
                line += " " + (shown.IsNull() ? std::string("-") : CStr(shown));
            }
            printed.push_back(line);
            dynaset->MoveNext();
        }
        EXPECT_EQ(printed, expected);
        EXPECT_EQ(breaks->SkipLines(), 0);
        EXPECT_TRUE(s.errors().Reports().empty());
    }
}

}  // namespace
}  // namespace korado::test
