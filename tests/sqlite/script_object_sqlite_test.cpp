// The default host script object with real dynasets: what a report prints of each row with break columns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korado/companions/script_object.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "support/session.h"

namespace korado::test {
namespace {

// BREAK ON region SKIP 2 NODUPLICATES ON dept SKIP 1 NODUPLICATES ON grade DUPLICATES: each row as the
// report prints it (a blanked value as "-"), with the blank lines asked for before it.
TEST(ScriptObjectSqlite, BreakColumnsAsAReportPrintsThem) {
    TempDir dir;
    auto script = MakeRef<companions::ScriptObject>();
    auto breaks = script->Breaks();
    breaks->Add("region", false, 2);
    breaks->Add("Dept", false, 1);
    breaks->Add("GRADE", true, 0);
    const std::vector<std::string> expected = {
        "0: N 10 A Adams",  // the first row prints everything
        "0: - - A Blake",   // repeats blanked, except where duplicates print
        "1: - 20 A Clark",  // an inner break
        "2: S 20 B Ford",   // an outer break prints the inner columns again; the larger Skip
        "0: - - B King",
    };
    for (bool large : {false, true}) {
        SCOPED_TRACE(large ? "large" : "buffered");
        Session s;
        s.ado().Constructor(Ref<Dispatch>(script), true, 30, 0, 0, 10, 100);
        ASSERT_TRUE(s.Connect(SqliteConnectionString(dir.File("breaks.db"))).ok);
        s.Execute("CREATE TABLE IF NOT EXISTS emp (region TEXT, dept INTEGER, grade TEXT, name TEXT)");
        s.Execute("DELETE FROM emp");
        s.Execute(
            "INSERT INTO emp VALUES ('S', 20, 'B', 'King'), ('N', 10, 'A', 'Adams'), ('N', 20, 'A', "
            "'Clark'), "
            "('S', 20, 'B', 'Ford'), ('N', 10, 'A', 'Blake')");

        std::string sql = "SELECT region, dept, grade, name FROM emp ORDER BY region, dept, name";
        Ref<Collection> names;
        Ref<clsDynasetADO> dynaset = s.ado().CreateDynaset(sql, names, large);
        ASSERT_TRUE(dynaset);
        EXPECT_EQ(CLng(GetProperty(Variant(breaks->Item(Variant("grade"))), "Column")), 2);
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
