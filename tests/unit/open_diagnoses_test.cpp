// Every row of the open-failure table as a pure mapping, each with its outcome and whole text, and the
// retries' once-per-call flags. The failed call's description is "D" and the first error entry's "E0", so
// every expectation also says which of the two a message quotes. The rows a real driver produces are
// exercised again in the sqlite and odbc suites.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "korado/errors/clsADOError.h"
#include "resultsets/open_diagnoses.h"

namespace korado::open_diagnoses {
namespace {

const std::string NL = "\r\n";
const std::string kOdbc = "Microsoft OLE DB Provider for ODBC Drivers";
const std::string kMsOra = "Microsoft OLE DB Provider for Oracle";
const std::string kJet = "Microsoft JET Database Engine";
const std::string kSqlServer = "Microsoft OLE DB Provider for SQL Server";
constexpr std::int32_t kFail = Hr(0x80004005);
constexpr std::int32_t kErrors = Hr(0x80040E14);
constexpr std::int32_t kNoTable = Hr(0x80040E37);
constexpr std::int32_t kMultiStep = Hr(0x80040E21);
constexpr auto kRaise = OpenOutcome::Raise;
constexpr auto kReport = OpenOutcome::Report;
constexpr auto kBox = OpenOutcome::Box;
constexpr auto kDefault = OpenOutcome::DefaultReport;
constexpr auto kStandard = OpenOutcome::StandardPath;

// The failure: source, number, native error of the first entry, then optionally the first entry's number,
// the DBMS name and the SQL. The descriptions are always "D" and "E0"; the first entry's source "S0".
OpenFailure F(std::string source, std::int32_t number, std::int32_t native, std::int32_t first_number = 0,
              std::string dbms = "", std::string sql = "select 1", std::string d = "D",
              std::string s0 = "S0") {
    return {std::move(source), number, std::move(d),    native,        first_number,
            std::move(s0),     "E0",   std::move(dbms), std::move(sql)};
}

const std::string kDescribeTables =
    "Use the Describe feature in Tabulon Universal to find the correct table names";
const std::string kStatementEnd = "SQL command not properly ended." + NL + NL + "Advice:" + NL +
                                  "This may happen when executing multiple statements at once without ending "
                                  "each statement with a semi colon (;). E.g. use select a from table1; "
                                  "select b from table2;" +
                                  NL + NL + "Driver Error:" + NL + "D";
const std::string kTablePrivilege =
    "D" + NL + NL +
    "You may have mistyped a table name or you may have insufficient privileges to access the table/view." +
    NL + NL + "Advice:" + NL + kDescribeTables + " in your database.";
const std::string kTimedOut =
    "SQL command timed out." + NL + NL + "Advice:" + NL +
    "This may happen when executing a statement that takes a long time to execute. You can set a command "
    "timeout in the preferences." +
    NL + NL + "Driver Error Message:" + NL + "E0";
const std::string kMistypedColumn =
    "Driver Error: " + NL + "D" + NL + NL + "You may have mistyped a column name." + NL + NL +
    "Advice:" + NL +
    "Use the Describe feature in Tabulon Universal to find the correct column names for the tables you use. "
    "Alternatively execute the same query as a \"select * from table...\"";
std::string UnknownTable(const std::string& brackets) {
    return "D" + NL + NL + "Advice:" + NL +
           "Use the Describe feature in Tabulon Universal to find the tables that can be used in this "
           "database." +
           NL + NL + "If you use table, view or column names with spaces" + brackets;
}
const std::string kUnknownTable = UnknownTable(
    " or dashes please use square brackets ([ ])around them. Example: select [my table].[my-column-name] "
    "from [my table]");

struct Row {
    OpenFailure failure;
    OpenOutcome::Kind kind;
    std::int32_t code;
    std::string title;
    std::string text;
};

void ExpectRows(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
        RetryFlags flags;
        OpenOutcome o = Classify(r.failure, flags);
        SCOPED_TRACE(r.failure.source + " / " + std::to_string(r.failure.number) + " / native " +
                     std::to_string(r.failure.native_error) + " / " + r.failure.dbms_name);
        EXPECT_EQ(std::tuple(o.kind, o.code, o.title, o.text), std::tuple(r.kind, r.code, r.title, r.text));
    }
}

TEST(OpenDiagnosis, NamedProvidersRows) {
    const std::string lib = "korADO";
    ExpectRows({
        {F("Provider", kFail, Hr(0x80004002)), kRaise, BindVariablesNotSupported, lib,
         "Bind variables are not supported by the database driver/provider. Use substitution variables "
         "instead."},
        {F("Provider", kFail, 0), kDefault, 0, "", "D"},
        // Sources compare whole and with their letter case.
        {F("provider", kFail, Hr(0x80004002)), kDefault, 0, "", "Error -2147467259: D"},
        {F("Advantage OLE DB Provider", kFail, 7200), kDefault, 0, "", "D"},
        {F(kMsOra, kFail, 0, kFail), kRaise, DataTypeNotSupported, lib,
         "Data type is not supported by the driver: Microsoft OLE DB Provider for Oracle." + NL + NL +
             "Advice:" + NL +
             "Try using the Oracle OLE DB provider for Oracle. It provides better support for Oracle data "
             "types."},
        {F(kMsOra, kFail, 0, kErrors), kDefault, 0, "", "D"},
        {F(kMsOra, kFail, 904), kRaise, SQLError, lib, "D"},
        {F(kMsOra, kFail, 933), kReport, 0, "", kStatementEnd},
        {F(kMsOra, kFail, 942), kRaise, SQLError, lib, kTablePrivilege},
        {F(kMsOra, kFail, 1013), kReport, 0, "", kTimedOut},
        {F(kMsOra, kFail, 1017), kDefault, 0, "", "D"},
        // OraOLEDB: the first entry's number for the data type, the failed call's for the rest.
        {F("OraOLEDB", kErrors, 0, kFail), kRaise, DataTypeNotSupported, lib,
         "Data type is not supported by the driver OraOLEDB."},
        {F("OraOLEDB", kErrors, 0, kErrors), kRaise, SQLError, lib, "D"},
        {F("OraOLEDB", kNoTable, 0, kNoTable), kRaise, SQLError, lib, kTablePrivilege},
        {F("OraOLEDB", kFail, 0, kErrors), kDefault, 0, "", "D"},
        {F("OraOLEDB", kFail, 933), kReport, 0, "", kStatementEnd},
        {F("OraOLEDB", kFail, 942), kRaise, SQLError, lib, kTablePrivilege},
        {F("OraOLEDB", kFail, 1013), kReport, 0, "", kTimedOut},
        {F("OraOLEDB", kFail, 904), kDefault, 0, "", "D"},
        // The ODBC bridge, by the DBMS behind it: the names compare exactly, so MariaDB is no MySQL.
        {F(kOdbc, kErrors, 904, 0, "Oracle"), kRaise, SQLError, lib, "Invalid column name"},
        {F(kOdbc, kErrors, 933, 0, "Orac"), kReport, 0, "", kStatementEnd},
        {F(kOdbc, kErrors, 942, 0, "Oracle"), kRaise, SQLError, lib, "Table or view does not exist"},
        {F(kOdbc, kErrors, 1013, 0, "Orac"), kReport, 0, "", kTimedOut},
        {F(kOdbc, kErrors, 1017, 0, "Oracle"), kDefault, 0, "", "D"},
        {F(kOdbc, kErrors, 942, 0, "ORACLE"), kDefault, 0, "", "D"},
        {F(kOdbc, kErrors, 7399, 0, "Microsoft SQL Server", "SELECT * FROM OpenQuery(x, 'y')"), kRaise,
         DistributedTransactionProblem, lib, "Error 7399: E0"},
        {F(kOdbc, kErrors, 7399, 0, "Microsoft SQL Server", "select * from x..y"), kDefault, 0, "", "D"},
        {F(kOdbc, kErrors, 1054, 0, "MySQL"), kDefault, 0, "", "D"},
        {F(kOdbc, kErrors, 2006, 0, "MariaDB"), kDefault, 0, "", "D"},
        {F(kOdbc, kErrors, 7, 0, "PostgreSQL"), kBox, 0, "Tabulon Universal",
         "Driver error: E0" + NL + NL + "Advice:" + NL +
             "You may have received this error when you use a table name that does not exist or when you do "
             "not use the full schema.table name of the tables you use. Qualify your table names with the "
             "name of the schema they are stored in e.g. select * from myschema.mytable;"},
        {F(kOdbc, kErrors, 1, 0, "PostgreSQL"), kDefault, 0, "", "D"},
        {F(kOdbc, kErrors, 7, 0, "SQLite"), kDefault, 0, "", "D"},
        // SQL Server's own provider goes straight to the linked-server test.
        {F(kSqlServer, kErrors, 7312, 0, "", "select * from OPENQUERY(l, 'x')"), kRaise,
         DistributedTransactionProblem, lib, "Error 7312: E0"},
        {F(kSqlServer, kErrors, 7320, 0, "", "x openquerY"), kRaise, DistributedTransactionProblem, lib,
         "Error 7320: E0"},
        {F(kSqlServer, kErrors, 7391, 0, "", "exec l.x"), kDefault, 0, "", "D"},
        {F(kSqlServer, kErrors, 208, 0, "", "openquery"), kDefault, 0, "", "D"},
        {F(kJet, kErrors, Hr(0xE049F88D)), kBox, 0, lib, "E0"},
        {F(kJet, kErrors, -526650802), kBox, 0, lib,
         "There is a problem with the table name in your statement." + NL + NL + "Advice:" + NL +
             "Make sure the table exists. If the table name contains spaces or if the table name is a "
             "reserved word you may need to put brackets around it (select * from [My Table])." +
             NL + NL + "Driver Error:" + NL + "E0"},
        {F(kJet, kErrors, 0), kDefault, 0, "", "D"},
    });
    EXPECT_TRUE(NeedsDbmsName(kOdbc) && !NeedsDbmsName(kSqlServer));
    // The index row reads the first entry's description, without regard to case.
    OpenFailure advantage = F("Advantage OLE DB Provider", kFail, 7200);
    advantage.first_description = "[x] nativeerror = 5175; collation";
    ExpectRows(
        {{advantage, kReport, 0, "",
          "There is a problem with the index for a table in your statement." + NL + NL +
              "Driver error message:" + NL + "D" + NL + NL + "Advice:" + NL +
              "Solution:  Make sure no applications have the table open. Then open the table with Advantage "
              "Data Architect, which will detect the collation mismatch and provide the opportunity to "
              "rebuild the index file."}});
}

TEST(OpenDiagnosis, OtherSourcesByNumber) {
    const std::string other = "SQLite";
    const std::string indexing = "Microsoft OLE DB Provider for Indexing Service";
    auto wrong = [&](const std::string& what, const std::string& please, const std::string& number) {
        return what + NL + please + NL + NL + "Error Number: " + number + NL + NL +
               "Driver Error Description:" + NL + "D";
    };
    ExpectRows({
        {F(other, Hr(0x80041820), 0, 0, "", "", "D", "MICROSOFT OLE DB PROVIDER FOR INDEXING SERVICE (x)"),
         kReport, 0, "",
         "The Indexing Service is not running." + NL + NL + "Solution:" + NL +
             "Start the Indexing Service. From the Control Panel start the services applet. Double click the "
             "Indexing Service and start it. Then try the query again."},
        {F(other, Hr(0x80041820), 1, 0, "", "", "D", indexing), kDefault, 0, "", "D"},
        {F(other, Hr(0x80041820), 0), kDefault, 0, "", "D"},
        {F(other, Hr(0x80040E30), 1), kReport, 0, "",
         wrong("One of the parameters is of the wrong type.",
               "Please specify the correct data type in the Parameters Dialog.", "-2147217872")},
        {F(other, Hr(0x80040E07), 1), kReport, 0, "",
         wrong("One of the values in the where clause is of the wrong type.",
               "Please use the correct data type (single quotes around text e.g.) in the where clause.",
               "-2147217913")},
        {F(other, kMultiStep, -5026, 0, "", "", "paradox and DBASE"), kStandard, 0, "", ""},
        {F(other, kMultiStep, 3), kStandard, 0, "", ""},
        {F(other, Hr(0x80040E10), 0), kReport, 0, "", kMistypedColumn},
        {F(other, Hr(0x80040E10), -3010), kReport, 0, "",
         "D" + NL + NL +
             "You have hit a bug in the driver. The driver appears to be case sensitive for column "
             "names." +
             NL + NL + "Advice:" + NL +
             "Execute your query again but type your column names in the correct case. To find the correct "
             "case for your column use the Describe feature in Tabulon Universal."},
        {F(other, Hr(0x80040E10), 1), kDefault, 0, "", "D"},
        {F(other, kErrors, 170), kReport, 0, "", kUnknownTable},
        {F(other, kErrors, -526912946), kReport, 0, "", kUnknownTable},
        {F(other, kErrors, Hr(0xE09BF24E)), kReport, 0, "",
         "D" + NL + NL + "You may have mistyped a table name or used a reserved word as a table name." + NL +
             NL + "Advice:" + NL + kDescribeTables +
             " in your database. Always use [table] if you suspect your table name is a reserved word."},
        {F(other, kErrors, 207), kReport, 0, "", kMistypedColumn},
        {F(other, kErrors, 904), kReport, 0, "",
         "D" + NL + NL + "You may have mistyped a column name." + NL + NL + "Advice:" + NL +
             "Check the column names you used in the query. Use the Describe feature in Tabulon Universal to "
             "find the correct column names for the tables you use."},
        {F(other, kErrors, 918), kReport, 0, "",
         "D" + NL + NL + "You use a column name that is available in more than 1 table in your query." + NL +
             NL + "Advice:" + NL +
             "Be specific from which table you like to retrieve the information. E.g. use my_table.my_column "
             "instead of just my_column."},
        {F(other, kErrors, 1), kDefault, 0, "", "D"},
        {F(other, kNoTable, -204, 0, "", "", "[IBM][CLI Driver][DB2] SQL0204N \"X\" is an undefined name."),
         kReport, 0, "",
         "Driver Error: " + NL + "[IBM][CLI Driver][DB2] SQL0204N \"X\" is an undefined name." + NL + NL +
             "You may have forgotten to prefix the table name with the scheme (e.g. scheme.table) or you may "
             "have mistyped a table name." +
             NL + NL + "Advice:" + NL + kDescribeTables + " in your database."},
        {F(other, kNoTable, -204, 0, "", "", "sql0204n"), kDefault, 0, "", "sql0204n"},
        {F(other, kNoTable, 208), kReport, 0, "", kUnknownTable},
        {F(other, kNoTable, -524420377), kReport, 0, "",
         UnknownTable(
             " please use square brackets ([ ])around them. Example: select [my table].[my column name] "
             "from [my table]")},
        {F(other, kNoTable, 1), kDefault, 0, "", "D"},
        // Any other number: the fallback carries the number in signed decimal.
        {F(other, kFail, 1), kDefault, 0, "", "Error -2147467259: D"},
        {F("", 3021, 0), kDefault, 0, "", "Error 3021: D"},
    });
}

TEST(OpenDiagnosis, EachRetryOncePerCall) {
    struct Step {
        OpenFailure failure;
        OpenOutcome::Kind kind;
    };
    const OpenFailure gone = F(kOdbc, kErrors, 2006, 0, "MySQL");
    const OpenFailure lost = F(kOdbc, kErrors, 2013, 0, "MySQL");
    const OpenFailure paradox =
        F("Microsoft OLE DB Provider for ODBC", kMultiStep, -5026, 0, "", "", "Paradox");
    const OpenFailure dbase = F(kJet + " x", kMultiStep, -5026, 0, "", "", "[x] dBase driver");
    const OpenFailure multi = F("x", kMultiStep, 0);
    // Each sequence is one Constructor call: its flags carry over from step to step.
    const std::vector<std::vector<Step>> calls = {
        {{gone, OpenOutcome::Retry},
         {lost, OpenOutcome::Retry},
         {gone, OpenOutcome::GiveUp},
         {lost, OpenOutcome::GiveUp}},
        {{paradox, OpenOutcome::ReconnectRetry}, {paradox, kStandard}},
        // The Paradox and dBase drivers share one flag.
        {{paradox, OpenOutcome::ReconnectRetry}, {dbase, kStandard}},
        {{dbase, OpenOutcome::Retry}, {paradox, kStandard}, {multi, OpenOutcome::Retry}, {multi, kStandard}},
    };
    for (const auto& call : calls) {
        RetryFlags flags;
        int n = 0;
        for (const Step& step : call) {
            OpenOutcome o = Classify(step.failure, flags);
            EXPECT_EQ(std::tuple(o.kind, o.text), std::tuple(step.kind, std::string())) << "step " << ++n;
        }
    }
}

}  // namespace
}  // namespace korado::open_diagnoses
