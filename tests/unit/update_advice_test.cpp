// The advice a failed Update shows, as a pure mapping: each row's whole text, the tests that tell rows
// apart (letter case, which of the texts is searched), the first matching row winning, and failures that
// match none. The failure's description is always "D".
#include <gtest/gtest.h>

#include <vector>

#include "korado/runtime/error.h"
#include "resultsets/update_advice.h"

namespace korado::update_advice {
namespace {

const std::string NL = "\r\n";
constexpr std::int32_t kFail = Hr(0x80004005);
constexpr std::int32_t kRowNotFound = Hr(0x80040E38);
constexpr std::int32_t kNoTable = Hr(0x80040E37);
constexpr std::int32_t kErrors = Hr(0x80040E14);

UpdateFailure F(std::int32_t number, std::int32_t native, std::string source = "S", std::string s0 = "S0",
                std::string d = "D") {
    return {number, std::move(d), std::move(source), native, std::move(s0)};
}

const std::string kOracleBug =
    "The driver reported the following error:" + NL + "D" + NL + NL +
    "You have hit a bug in the driver. See the microsoft knowledge base article Q292604" + NL + NL +
    "Advice:" + NL + "Install that latest service pack for Windows (2000) or" + NL +
    "Use another Oracle driver (OLE DB or OO4O).";
const std::string kOdbcKeyless =
    "The driver reported the following error:" + NL + "D" + NL + NL + "Advice:" + NL +
    "We have only seen this error with ODBC drivers. If you can, switch to using an OLE DB driver or another "
    "alternative. Alternatively, create a primary key on your table to prevent this from happening. "
    "The update to the current row has probably been replicated throughout the table where this column "
    "had the old value.";
const std::string kRequery = "The driver reported the following error:" + NL + "D" + NL + NL +
                             "Advice:" + NL + "Please requery the data and try the updates again";
const std::string kUpperCase = "Driver Error:D" + NL + NL + "Advice:" + NL +
                               "This error may occur if you used a lower case scheme name, table name or "
                               "column name. Retry using all names in upper case.";
const std::string kTopClause =
    "You seem to use a view or a function that contains the TOP clause in its definition. Because of this "
    "Tabulon Universal cannot perform updates on the current query. This error can also occur when using "
    "ODBC and when using Views in which an ORDER BY clause is used. Changing the ADOConnection to OLE DB "
    "solves the problem in the latter case." +
    NL + NL + "Advice:" + NL +
    "Open the view or function you try to update in query analyser as a create statement (right click the "
    "object). Copy the SQL contents in the query dialog and remove the TOP clause. Then try the updates "
    "again.";

TEST(UpdateAdvice, EveryRowAndWhatTellsThemApart) {
    const std::string top = "Cannot update: the view uses a top CLAUSE";
    struct Case {
        UpdateFailure failure;
        std::string advice;
    } cases[] = {
        // The Oracle row reads the first error entry's source, with its letter case.
        {F(kFail, 1006, "S", "MSDAORA"), kOracleBug},
        {F(kFail, 1006, "S", "OraOLEDB"), ""},
        {F(kFail, 1006, "ORA", "S0"), ""},
        {F(kErrors, 1006, "S", "ORA"), ""},
        // The bridge's row reads the failure's own source.
        {F(kFail, 0, "Microsoft OLE DB Provider for ODBC Drivers (MSDASQL)"), kOdbcKeyless},
        {F(kFail, 0, "S", "MSDASQL"), ""},
        {F(kFail, 0, "msdasql"), ""},
        {F(kRowNotFound, 0), kRequery},
        {F(kNoTable, -204), kUpperCase},
        {F(kNoTable, 204), ""},
        {F(kErrors, -204), ""},
        // SQL Server's TOP clause: "SQL Server" in the description or the first entry's source, any case.
        {F(kErrors, 4427, "S", "Microsoft OLE DB Provider for SQL Server", top), kTopClause},
        {F(kErrors, 4427, "S", "S0", "[Microsoft][sql server] " + top), kTopClause},
        {F(kErrors, 4427, "SQL Server", "S0", top), ""},
        {F(kErrors, 4427, "S", "SQL Server", "D"), ""},
        {F(kErrors, 4428, "S", "SQL Server", top), ""},
        {F(kFail, 4427, "S", "SQL Server", top), ""},
        // Nothing known: nothing shown.
        {F(kFail, 0), ""},
        {F(3251, 0, "ADODB.Recordset"), ""},
        // Where two rows match, the earlier one speaks.
        {F(kFail, 1006, "MSDASQL", "ORA"), kOracleBug},
        {F(kRowNotFound, -204, "MSDASQL", "ORA"), kRequery},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failure.source + " / " + c.failure.first_source + " / " +
                     std::to_string(c.failure.number) + " / native " +
                     std::to_string(c.failure.native_error));
        EXPECT_EQ(Advice(c.failure), c.advice);
    }
}

}  // namespace
}  // namespace korado::update_advice
