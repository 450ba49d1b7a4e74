// Every row of the connect diagnosis table and of the statement-failure tables, as pure mappings, each with
// its whole text. The rows a real driver can produce are exercised again end to end in the sqlite and odbc
// suites.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

#include "connection/diagnoses.h"
#include "korado/errors/clsADOError.h"

namespace korado::diagnoses {
namespace {

const std::string CRLF = "\r\n";
constexpr std::int32_t kFail = Hr(0x80004005);
const std::string kOdbc = "Microsoft OLE DB Provider for ODBC Drivers";
const std::string kOra = "OraOLEDB";
const std::string kMsOra = "Microsoft OLE DB Provider for Oracle";
const std::string kJet = "Microsoft JET Database Engine";
const std::string kSqlServer = "Microsoft OLE DB Provider for SQL Server";

std::string Oracle(const std::string& d, const std::string& advice) {
    return "Oracle ADOConnection Error received:" + CRLF + d + CRLF + CRLF + "Advice:" + CRLF + advice;
}
std::string ServerNotFound(const std::string& d) {
    return "The database server could not be found. Ensure you typed the correct name and that the server is "
           "running. If you run the database on your local machine you need to start the database manually" +
           CRLF + CRLF + "Driver Error:" + CRLF + "(-100):" + d;
}
const std::string kJetLogin =
    "The username, password or database name was incorrect." + CRLF + CRLF +
    "When you chose the ADOConnection from the history list, make sure you typed the correct password or "
    "leave the password field blank. If you just finished configuring a new ADO ADOConnection, make sure you "
    "check the \"Allow saving password\" checkbox in the ADOConnection Tab." +
    CRLF +
    "Also, please use the \"Test ADOConnection\" button on the ADOConnection Tab on the Data Link window to "
    "test the ADOConnection details.";
const std::string kOra12154 =
    "Tabulon Universal could not connect to your Oracle database. This error indicates that the service (or "
    "TNS alias) specified when trying to connect does not exist." +
    CRLF + CRLF + "Advice:" + CRLF +
    "Check which aliases (TNS names) are defined on your workstation. You can find the defined names in the "
    "tnsnames.ora file. Use an alias defined in this file or create a new database alias";
const std::string kOra12500 =
    "Tabulon Universal could not connect to your Oracle database. There is a problem with the Oracle "
    "database. Contact your Database Administrator quoting ORA-12500.";
// The Oracle texts that quote the driver's message between what went wrong and what to do.
auto OraQuoting(const std::string& what, const std::string& advice) {
    return [=](const std::string& d) {
        return "Tabulon Universal could not connect to your Oracle database. " + what + CRLF + CRLF +
               "Driver Error Message:" + CRLF + d + CRLF + CRLF + advice;
    };
}
const auto Ora12514 = OraQuoting(
    "The database listener could not connect to the database.",
    "This can be an temporary condition. Wait a moment and try again. If you keep getting this error, please "
    "inspect your listener setup or consult your DBA.");
const auto Ora12545 =
    OraQuoting("The driver could not find the database.",
               "Ensure you can use tnsping <<databasename>> to access the database. You may also want to "
               "check whether you can ping the host. Inspect the tnsnames.ora file to find the ip address of "
               "the host.");
const auto Ora12560 = OraQuoting(
    "The Oracle Client does not know which instance of Oracle to connect to or what TNS alias to use.",
    "Ensure you can use tnsping <<databasename>> to access the database. If you run the database on the same "
    "machine try setting the ORACLE_SID environment variable. Also check whether your database was in fact "
    "started up. If the machine on which your database is installed has a dynamically allocated IP address, "
    "see whether the ip address used in te tnsnames.ora file is the same with the current IP of the server. "
    "Use the machine name instead.");
std::string OdbcDsn(const std::string& d) {
    return "There was a problem connecting to a database through ODBC. This error may occur when the ODBC "
           "DSN that you configured in the Control Panel is no longer working properly. The error message "
           "below was received by the ODBC driver." +
           CRLF + CRLF + "Advice" + CRLF +
           "If this problem persists, recreate this ODBC DSN and try to connect again. Only proceed when the "
           "test was successful." +
           CRLF + CRLF + "Driver Error:" + CRLF + d + " (-2147467259)";
}
const std::string kAdvice1005 = "Enter a user name and password";
const std::string kAdvice1017 = "Please enter the correct user name and password";
const std::string kAdvice1033 =
    "Please wait for the database to become available. You may want to check with your DBA when you keep "
    "getting this message.";
const std::string kAdvice1034 =
    "The database you are trying to connect to has not been started yet. Ask your DBA to start the database.";

TEST(ConnectDiagnosis, EveryRowWithItsWholeText) {
    const std::string dm =
        "[unixODBC][ODBC Driver Manager]Data source name not found and no default driver specified";
    const std::string ss = "[Microsoft][ODBC Driver 18 for SQL Server]Login timeout expired";
    const std::string asa = "[Sybase][ODBC Driver][Adaptive Server Anywhere]Database server not found";
    const std::string excel = "[Microsoft][ODBC Excel Driver] Could not decrypt file.";
    const std::string path = "'/x.mdb' is not a valid path.";
    // Source, number, description, native error, and the diagnosis.
    using Row = std::tuple<std::string, std::int32_t, std::string, std::int32_t, std::string>;
    std::vector<Row> rows = {
        {"ADODB.Connection", 3706, "Provider cannot be found.", 1017, "Provider cannot be found."},
        {"ASA OLEDB", kFail, "D", -100, ServerNotFound("D")},
        {"ASA OLEDB", kFail, "D", -103, "D"},
        {"ASA OLEDB", kFail, "D", 5, "D"},
        {kJet, kFail, "D", Hr(0x80040E4D), kJetLogin},
        {kJet, kFail, "D", Hr(0xF893F893), kJetLogin},
        {kJet, kFail, "D", 1, "D"},
        // Sources compare whole and case-sensitively.
        {"microsoft jet database engine", kFail, "D", Hr(0x80040E4D), "D"},
        {kSqlServer, kFail, "D", 17,
         "Could not connect to the database. Your database appears to be unavailable." + CRLF + CRLF +
             "Advice:" + CRLF +
             "If this problem persists please recreate the ADO connection. Only proceed when the connection "
             "test is successful." +
             CRLF + CRLF + "Database error message: D"},
        {kSqlServer, kFail, "D", 18456,
         "Could not connect to the database." + CRLF + CRLF + "Advice:" + CRLF +
             "Check the username and password and try it again" + CRLF + CRLF + "Database error message: D"},
        {kSqlServer, kFail, "D", 4060, "D"},
        {kOdbc, kFail, dm, 0, OdbcDsn(dm)},
        {kOdbc, Hr(0x80040E4D), dm, 0, dm},
        {kOdbc, kFail, ss, 0,
         "There was a problem connecting to your SQL Server database through ODBC. The error message below "
         "was received by the ODBC driver." +
             CRLF + CRLF + "Advice" + CRLF +
             "If this problem persists, recreate this ADO connection. Only proceed when the test was "
             "successful." +
             CRLF + CRLF + "Driver Error:" + CRLF + ss + " (-2147467259)"},
        {kOdbc, Hr(0x80040E4D), ss, 0, ss},
        {kOdbc, kFail, asa, -100, ServerNotFound(asa)},
        {kOdbc, kFail, asa, -103, asa},
        {kOdbc, kFail, asa, 7, asa},
        {kOdbc, kFail, "[x]Operation was canceled", 0,
         "The error message below was received by the ODBC driver." + CRLF + CRLF + "Advice" + CRLF +
             "Usually this is an indication that there is something wrong with the ODBC connection string. "
             "Please configure a new connection and try again. Only proceed when the test was successful in "
             "the connection dialogs." +
             CRLF + CRLF + "Driver Error:" + CRLF + "[x]Operation was canceled (-2147467259)"},
        {kOdbc, kFail, excel, 0,
         "Unable to make a connection to the encrypted workbook." + CRLF + CRLF + "Advice:" + CRLF +
             "Remove the password for the workbook or open it in Excel before connecting to it." + CRLF +
             CRLF + "Driver Error:" + CRLF + excel},
        {kOdbc, kFail, "could not decrypt", 0, "could not decrypt"},
        {kOdbc, Hr(0x8000FFFF), "Catastrophic failure", 0,
         "ODBC Error occurred" + CRLF + CRLF + "Advice:" + CRLF +
             "This problem seems to occur when connecting to MySQL through MyODBC. This is likely the cause "
             "of an incompatible authentication protocol in mySQL's ODBC version 3.51 and can be worked "
             "around by using ODBC v 2.50.5. Download it from " +
             std::string(DriverDownloadLocation()) + CRLF + CRLF + "Driver Error:" + CRLF +
             "-2147418113:Catastrophic failure"},
        {kOdbc, Hr(0x8000FFFF), "catastrophic failure", 0, "catastrophic failure"},
        {kOdbc, kFail, "Catastrophic failure", 0, "Catastrophic failure"},
        {kOdbc, kFail, path, 0,
         "The following ODBC error occurred:" + CRLF + CRLF + path + CRLF + CRLF + "Advice:" + CRLF +
             "Please ensure you have entered a valid path and not e.g. a file name."},
        {kOdbc, kFail, "[", 0, "ODBC Error occurred. No further details available"},
        {kOdbc, kFail, "[a", 0, "[a"},
        {kOdbc, kFail, "[MariaDB]Access denied for user 'k'", 0, "[MariaDB]Access denied for user 'k'"},
        // First match wins, and "contains" ignores letter case.
        {kOdbc, kFail, "[odbc driver manager] SQL Server down", 0,
         OdbcDsn("[odbc driver manager] SQL Server down")},
        {"Some other provider", kFail, "D", 1017, "D"},
    };
    // The Oracle rows: by native error for both Oracle providers, by "ORA-" text through ODBC.
    const std::tuple<int, const char*, std::function<std::string(const std::string&)>> oracle[] = {
        {1005, "ORA-01005", [](const std::string& d) { return Oracle(d, kAdvice1005); }},
        {1017, "ORA-01017", [](const std::string& d) { return Oracle(d, kAdvice1017); }},
        {1033, "ORA-01033", [](const std::string& d) { return Oracle(d, kAdvice1033); }},
        {1034, "ORA-01034", [](const std::string& d) { return Oracle(d, kAdvice1034); }},
        {12154, "ORA-12154", [](const std::string&) { return kOra12154; }},
        {12500, "ORA-12500", [](const std::string&) { return kOra12500; }},
        {12514, "ORA-12514", Ora12514},
        {12545, "ORA-12545", Ora12545},
        {12560, "ORA-12560", Ora12560},
        {904, "ORA-00904", [](const std::string& d) { return d; }},
    };
    for (const auto& [native, code, expected] : oracle) {
        std::string d = std::string(code) + ": provider text";
        rows.push_back({kOra, kFail, d, native, expected(d)});
        rows.push_back({kMsOra, kFail, d, native, expected(d)});
        rows.push_back({kOdbc, kFail, "[Oracle][ODBC][Ora]" + d, 0, expected("[Oracle][ODBC][Ora]" + d)});
    }
    for (const auto& [source, number, d, native, expected] : rows)
        EXPECT_EQ(ConnectFailure({source, number, d, native}), expected)
            << source << " / " << number << " / " << native << " / " << d;
}

TEST(ExecuteDiagnosis, EveryRowWithItsWholeText) {
    const std::string conversion1 =
        "A data conversion error occurred. This may happen when your parameters are not of the correct type "
        "or if your parameters have the wrong direction (In,Out,In/Out). It could also be due a programming "
        "mistake in the SQL code. Please check the parameter settings first and make them match with the "
        "database code." +
        CRLF + CRLF +
        "Driver error: ORA-06502: PL/SQL: numeric or value error: character to number conversion error";
    const std::string conversion2 =
        "A data conversion error occurred. This may happen when your parameters are not of the correct type. "
        "It could also be due a programming mistake in the SQL code. Please check the parameter data types "
        "first." +
        CRLF + CRLF +
        "Driver error: ORA-06502: PL/SQL: numeric or value error: character to number conversion error";
    auto mismatch = [](const std::string& d) {
        return "There seems to be a mismatch between the parameter settings you are using and the way the "
               "parameters are expected by the database. Please set the direction (In, Out, In/Out) and data "
               "type to match that to what is expected in the database code." +
               CRLF + CRLF + "Driver error: " + d;
    };
    constexpr auto R = ExecuteOutcome::Raise;
    constexpr auto P = ExecuteOutcome::Report;
    // Source, number, description, parameter count, SQL, extended properties, and the outcome: raised with a
    // code or reported with an exception type, with its text.
    using Row = std::tuple<std::string, std::int32_t, std::string, int, std::string, std::string,
                           ExecuteOutcome::Kind, std::int32_t, std::string>;
    const std::string bind = "Binding information is invalid.";
    const std::string odbc_bind = "[x] binding information is invalid";
    const std::string ora3001 = "ORA-03001: unimplemented feature";
    const std::string bracket =
        "Bracket missing in values clause." + CRLF + CRLF + "Driver error: " + ora3001;
    // With parameters the lower-cased source decides; for "provider" the binding text must be exact and the
    // number DB_E_BADBINDINFO.
    std::vector<Row> rows = {
        {kOdbc, kFail, "[x] ORA-06512", 1, "", "", R, ORA_06512, conversion2},
        {"microsoft ole db provider for odbc drivers", kFail, odbc_bind, 1, "", "", R, BindingInfoInvalid,
         mismatch(odbc_bind)},
        {kOdbc, kFail, "[unixODBC][PostgreSQL]syntax error", 1, "", "", P, ODBCException,
         "[unixODBC][PostgreSQL]syntax error"},
        {"OraOLEDB", kFail, "ORA-06512", 1, "", "", R, ORA_06512, conversion1},
        {"oraoledb", kFail, "other", 1, "", "", P, ODBCException, "other"},
        {"SQLite", Hr(0x80040E14), "near \"x\": syntax error", 3, "", "", P, GeneralException,
         "near \"x\": syntax error"},
        // Without parameters: ORA-06512 is not translated. A bracket before "values" does not count; one
        // after it does.
        {"Provider", kFail, "ORA-06512: x", 0, "", "", R, ExecuteSQLError, "ORA-06512: x"},
        {"OraOLEDB", kFail, ora3001, 0, "insert into t VALUES 1, 2", "", R, ExecuteSQLError, bracket},
        {"x", kFail, ora3001, 0, "insert into t(a) values 1", "", R, ExecuteSQLError, bracket},
        {"OraOLEDB", kFail, ora3001, 0, "insert into t values (1)", "", P, ODBCException, ora3001},
        {"OraOLEDB", kFail, ora3001, 0, "select 1 from dual", "", P, ODBCException, ora3001},
        {kSqlServer, Hr(0x80040E14), "IDENTITY_INSERT is set to OFF", 0, "", "", R, IdentityInsertOff,
         "IDENTITY_INSERT is set to OFF"},
        {kSqlServer, kFail, "other", 0, "", "", P, ODBCException, "other"},
        {"SQLite", Hr(0x80040E37), "no such table: t", 0, "", "", R, ExecuteSQLError, "no such table: t"},
    };
    for (std::string s : {"Provider", "PROVIDER", "Microsoft OLE DB Provider for Oracle"}) {
        rows.push_back({s, kFail, "ORA-06512: at line 1", 1, "", "", R, ORA_06512, conversion2});
        rows.push_back({s, Hr(0x80040E08), bind, 2, "", "", R, BindingInfoInvalid, mismatch(bind)});
        rows.push_back({s, kFail, bind, 2, "", "", P, ODBCException, bind});
        rows.push_back({s, Hr(0x80040E08), "binding information is invalid.", 2, "", "", P, ODBCException,
                        "binding information is invalid."});
    }
    for (std::string s : {kOdbc, kJet}) {
        const char* sql = "select * from a";
        rows.push_back({s, Hr(0x80040E09), "denied", 0, sql, "DSN=csv;Extensions=txt,text", R,
                        ExecuteSQLError,
                        "For text databases, table names (=file names) should be ended with .txt or #txt." +
                            CRLF + CRLF + "Driver Error=denied"});
        rows.push_back({s, Hr(0x80040E09), "denied", 0, sql, "DSN=pg", R, ExecuteSQLError, "denied"});
        rows.push_back({s, Hr(0x80040E37), "no table", 0, sql, "Text", R, ExecuteSQLError, "no table"});
    }
    for (const auto& [source, number, d, params, sql, ext, kind, code_or_type, expected] : rows) {
        ExecuteOutcome o = ExecuteFailure({source, number, d, 0}, params, sql, ext);
        SCOPED_TRACE(source + " / " + d + " / " + std::to_string(params) + " / " + sql);
        EXPECT_EQ(std::tuple(o.kind, kind == R ? o.code : o.exception_type, o.text),
                  std::tuple(kind, code_or_type, expected));
    }
}

}  // namespace
}  // namespace korado::diagnoses
