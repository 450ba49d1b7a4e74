// Every row of the connect diagnosis table and of the statement-failure tables, as pure mappings. The
// rows a real driver can produce are exercised again end to end in the sqlite and odbc suites.
#include <gtest/gtest.h>

#include "connection/diagnoses.h"
#include "korado/errors/clsADOError.h"

namespace korado::diagnoses {
namespace {

const std::string CRLF = "\r\n";
constexpr std::int32_t kFail = Hr(0x80004005);
const std::string kOdbc = "Microsoft OLE DB Provider for ODBC Drivers";
const std::string kPrefix = "Tabulon Universal could not connect to your Oracle database.";

std::string Connect(std::string source, std::int32_t number, std::string d, std::int32_t native = 0) {
    return ConnectFailure({std::move(source), number, std::move(d), native});
}

bool StartsWith(const std::string& s, const std::string& p) { return s.rfind(p, 0) == 0; }

TEST(ConnectDiagnosis, PlatformAsaAndJetRows) {
    EXPECT_EQ(Connect("ADODB.Connection", 3001, "bad args", 1017), "bad args");
    EXPECT_EQ(Connect("ASA OLEDB", kFail, "D", -100),
              "The database server could not be found. Ensure you typed the correct name and that the server is "
              "running. If you run the database on your local machine you need to start the database manually" +
                  CRLF + CRLF + "Driver Error:" + CRLF + "(-100):D");
    EXPECT_EQ(Connect("ASA OLEDB", kFail, "D", -103), "D");
    EXPECT_EQ(Connect("ASA OLEDB", kFail, "D", 5), "D");

    std::string jet = Connect("Microsoft JET Database Engine", kFail, "D", Hr(0x80040E4D));
    EXPECT_TRUE(StartsWith(jet, "The username, password or database name was incorrect." + CRLF + CRLF +
                                    "When you chose the ADOConnection from the history list"));
    EXPECT_NE(jet.find("\"Allow saving password\" checkbox in the ADOConnection Tab." + CRLF +
                       "Also, please use the \"Test ADOConnection\" button"),
              std::string::npos);
    EXPECT_TRUE(jet.ends_with("to test the ADOConnection details."));
    EXPECT_EQ(Connect("Microsoft JET Database Engine", kFail, "D", Hr(0xF893F893)), jet);
    EXPECT_EQ(Connect("Microsoft JET Database Engine", kFail, "D", 1), "D");
    // Sources compare whole and case-sensitively.
    EXPECT_EQ(Connect("microsoft jet database engine", kFail, "D", Hr(0x80040E4D)), "D");
    EXPECT_EQ(Connect("Some other provider", kFail, "D", 1017), "D");
}

TEST(ConnectDiagnosis, OracleByNativeErrorForBothOracleProviders) {
    for (std::string source : {"OraOLEDB", "Microsoft OLE DB Provider for Oracle"}) {
        auto advice = [&](int native, const std::string& a) {
            EXPECT_EQ(Connect(source, kFail, "ORA text", native),
                      "Oracle ADOConnection Error received:" + CRLF + "ORA text" + CRLF + CRLF + "Advice:" + CRLF + a)
                << source << " " << native;
        };
        advice(1005, "Enter a user name and password");
        advice(1017, "Please enter the correct user name and password");
        advice(1033,
               "Please wait for the database to become available. You may want to check with your DBA when you "
               "keep getting this message.");
        advice(1034,
               "The database you are trying to connect to has not been started yet. Ask your DBA to start the "
               "database.");
        std::string o12154 = Connect(source, kFail, "ORA-12154 provider text", 12154);
        EXPECT_TRUE(StartsWith(o12154, kPrefix + " This error indicates that the service (or TNS alias)"));
        EXPECT_EQ(o12154.find("provider text"), std::string::npos);
        EXPECT_TRUE(o12154.ends_with("Use an alias defined in this file or create a new database alias"));
        EXPECT_EQ(Connect(source, kFail, "x", 12500),
                  kPrefix + " There is a problem with the Oracle database. Contact your Database Administrator "
                            "quoting ORA-12500.");
        EXPECT_EQ(Connect(source, kFail, "x", 12514),
                  kPrefix + " The database listener could not connect to the database." + CRLF + CRLF +
                      "Driver Error Message:" + CRLF + "x" + CRLF + CRLF +
                      "This can be an temporary condition. Wait a moment and try again. If you keep getting this "
                      "error, please inspect your listener setup or consult your DBA.");
        std::string o12545 = Connect(source, kFail, "x", 12545);
        EXPECT_TRUE(StartsWith(o12545, kPrefix + " The driver could not find the database." + CRLF + CRLF +
                                           "Driver Error Message:" + CRLF + "x" + CRLF + CRLF +
                                           "Ensure you can use tnsping <<databasename>>"));
        std::string o12560 = Connect(source, kFail, "x", 12560);
        EXPECT_TRUE(StartsWith(o12560, kPrefix + " The Oracle Client does not know which instance"));
        EXPECT_NE(o12560.find("used in te tnsnames.ora file"), std::string::npos);
        EXPECT_EQ(Connect(source, kFail, "other", 904), "other");
    }
}

TEST(ConnectDiagnosis, SqlServerRows) {
    const std::string s = "Microsoft OLE DB Provider for SQL Server";
    EXPECT_EQ(Connect(s, kFail, "D", 17),
              "Could not connect to the database. Your database appears to be unavailable." + CRLF + CRLF +
                  "Advice:" + CRLF +
                  "If this problem persists please recreate the ADO connection. Only proceed when the connection "
                  "test is successful." +
                  CRLF + CRLF + "Database error message: D");
    EXPECT_EQ(Connect(s, kFail, "D", 18456),
              "Could not connect to the database." + CRLF + CRLF + "Advice:" + CRLF +
                  "Check the username and password and try it again" + CRLF + CRLF + "Database error message: D");
    EXPECT_EQ(Connect(s, kFail, "D", 4060), "D");
}

TEST(ConnectDiagnosis, OdbcRowsTopToBottomFirstMatchWins) {
    const std::string dm = "[unixODBC][ODBC Driver Manager]Data source name not found and no default driver specified";
    EXPECT_EQ(Connect(kOdbc, kFail, dm),
              "There was a problem connecting to a database through ODBC. This error may occur when the ODBC DSN "
              "that you configured in the Control Panel is no longer working properly. The error message below was "
              "received by the ODBC driver." +
                  CRLF + CRLF + "Advice" + CRLF +
                  "If this problem persists, recreate this ODBC DSN and try to connect again. Only proceed when the "
                  "test was successful." +
                  CRLF + CRLF + "Driver Error:" + CRLF + dm + " (-2147467259)");
    EXPECT_EQ(Connect(kOdbc, Hr(0x80040E4D), dm), dm);
    // The driver-manager row wins over the SQL Server row; "contains" ignores letter case.
    EXPECT_TRUE(StartsWith(Connect(kOdbc, kFail, "[odbc driver manager] SQL Server down"),
                           "There was a problem connecting to a database through ODBC."));

    const std::string ss = "[Microsoft][ODBC Driver 18 for SQL Server]Login timeout expired";
    EXPECT_EQ(Connect(kOdbc, kFail, ss),
              "There was a problem connecting to your SQL Server database through ODBC. The error message below was "
              "received by the ODBC driver." +
                  CRLF + CRLF + "Advice" + CRLF +
                  "If this problem persists, recreate this ADO connection. Only proceed when the test was "
                  "successful." +
                  CRLF + CRLF + "Driver Error:" + CRLF + ss + " (-2147467259)");
    EXPECT_EQ(Connect(kOdbc, Hr(0x80040E4D), ss), ss);

    const std::string asa = "[Sybase][ODBC Driver][Adaptive Server Anywhere]Database server not found";
    EXPECT_TRUE(StartsWith(Connect(kOdbc, kFail, asa, -100), "The database server could not be found."));
    EXPECT_EQ(Connect(kOdbc, kFail, asa, -103), asa);

    // Oracle codes reached through ODBC give the same texts as through the Oracle providers.
    for (auto [text, native] : std::initializer_list<std::pair<const char*, int>>{
             {"ORA-01005", 1005}, {"ORA-01017", 1017}, {"ORA-01033", 1033}, {"ORA-01034", 1034},
             {"ORA-12154", 12154}, {"ORA-12514", 12514}, {"ORA-12500", 12500}, {"ORA-12545", 12545},
             {"ORA-12560", 12560}}) {
        std::string d = std::string("[Oracle][ODBC][Ora]") + text + ": message";
        EXPECT_EQ(Connect(kOdbc, kFail, d), Connect("OraOLEDB", kFail, d, native)) << text;
    }

    const std::string cancel = "[x]Operation was canceled";
    EXPECT_EQ(Connect(kOdbc, Hr(0x80040E4E), cancel),
              "The error message below was received by the ODBC driver." + CRLF + CRLF + "Advice" + CRLF +
                  "Usually this is an indication that there is something wrong with the ODBC connection string. "
                  "Please configure a new connection and try again. Only proceed when the test was successful in "
                  "the connection dialogs." +
                  CRLF + CRLF + "Driver Error:" + CRLF + cancel + " (-2147217842)");

    const std::string excel = "[Microsoft][ODBC Excel Driver] Could not decrypt file.";
    EXPECT_EQ(Connect(kOdbc, kFail, excel),
              "Unable to make a connection to the encrypted workbook." + CRLF + CRLF + "Advice:" + CRLF +
                  "Remove the password for the workbook or open it in Excel before connecting to it." + CRLF + CRLF +
                  "Driver Error:" + CRLF + excel);
    EXPECT_EQ(Connect(kOdbc, kFail, "could not decrypt"), "could not decrypt");

    std::string catastrophic = Connect(kOdbc, Hr(0x8000FFFF), "Catastrophic failure");
    EXPECT_TRUE(StartsWith(catastrophic, "ODBC Error occurred" + CRLF + CRLF + "Advice:" + CRLF +
                                             "This problem seems to occur when connecting to MySQL through MyODBC."));
    EXPECT_NE(catastrophic.find("Download it from " + std::string(DriverDownloadLocation()) + CRLF + CRLF +
                                "Driver Error:" + CRLF + "-2147418113:Catastrophic failure"),
              std::string::npos);
    EXPECT_EQ(Connect(kOdbc, Hr(0x8000FFFF), "catastrophic failure"), "catastrophic failure");
    EXPECT_EQ(Connect(kOdbc, kFail, "Catastrophic failure"), "Catastrophic failure");

    const std::string path = "'/x.mdb' is not a valid path.";
    EXPECT_EQ(Connect(kOdbc, kFail, path), "The following ODBC error occurred:" + CRLF + CRLF + path + CRLF + CRLF +
                                               "Advice:" + CRLF +
                                               "Please ensure you have entered a valid path and not e.g. a file name.");
    EXPECT_EQ(Connect(kOdbc, kFail, "["), "ODBC Error occurred. No further details available");
    EXPECT_EQ(Connect(kOdbc, kFail, "[a"), "[a");
    EXPECT_EQ(Connect(kOdbc, kFail, "[MariaDB]Access denied for user 'k'"), "[MariaDB]Access denied for user 'k'");
}

ExecuteOutcome Exec(std::string source, std::int32_t number, std::string d, int params, std::string sql = "select 1",
                   std::string ext = "") {
    return ExecuteFailure({std::move(source), number, std::move(d), 0}, params, sql, ext);
}

TEST(ExecuteDiagnosis, WithParameters) {
    const std::string conversion2 =
        "A data conversion error occurred. This may happen when your parameters are not of the correct type. It "
        "could also be due a programming mistake in the SQL code. Please check the parameter data types first." +
        CRLF + CRLF + "Driver error: ORA-06502: PL/SQL: numeric or value error: character to number conversion error";
    const std::string mismatch_start =
        "There seems to be a mismatch between the parameter settings you are using and the way the parameters are "
        "expected by the database.";
    for (std::string source : {"Provider", "PROVIDER", "Microsoft OLE DB Provider for Oracle"}) {
        auto o = Exec(source, kFail, "ORA-06512: at line 1", 1);
        EXPECT_EQ(o.kind, ExecuteOutcome::Raise);
        EXPECT_EQ(o.code, ORA_06512);
        EXPECT_EQ(o.text, conversion2);
        o = Exec(source, Hr(0x80040E08), "Binding information is invalid.", 2);
        EXPECT_EQ(o.code, BindingInfoInvalid);
        EXPECT_EQ(o.text.rfind(mismatch_start, 0), 0u);
        EXPECT_TRUE(o.text.ends_with(CRLF + CRLF + "Driver error: Binding information is invalid."));
        // Exact text and number both needed.
        o = Exec(source, kFail, "Binding information is invalid.", 2);
        EXPECT_EQ(o.kind, ExecuteOutcome::Report);
        EXPECT_EQ(o.exception_type, ODBCException);
    }
    auto o = Exec("Microsoft OLE DB Provider for ODBC Drivers", kFail, "[x] ORA-06512", 1);
    EXPECT_EQ(o.code, ORA_06512);
    EXPECT_EQ(o.text, conversion2);
    o = Exec("microsoft ole db provider for odbc drivers", kFail, "x binding information is invalid", 1);
    EXPECT_EQ(o.code, BindingInfoInvalid);
    o = Exec(kOdbc, kFail, "[unixODBC][PostgreSQL]syntax error", 1);
    EXPECT_EQ(o.kind, ExecuteOutcome::Report);
    EXPECT_EQ(o.exception_type, ODBCException);
    EXPECT_EQ(o.text, "[unixODBC][PostgreSQL]syntax error");

    o = Exec("OraOLEDB", kFail, "ORA-06512", 1);
    EXPECT_EQ(o.code, ORA_06512);
    EXPECT_EQ(o.text.rfind("A data conversion error occurred. This may happen when your parameters are not of the "
                           "correct type or if your parameters have the wrong direction (In,Out,In/Out).",
                           0),
              0u);
    o = Exec("oraoledb", kFail, "other", 1);
    EXPECT_EQ(o.kind, ExecuteOutcome::Report);
    EXPECT_EQ(o.exception_type, ODBCException);

    o = Exec("SQLite", Hr(0x80040E14), "near \"x\": syntax error", 3);
    EXPECT_EQ(o.kind, ExecuteOutcome::Report);
    EXPECT_EQ(o.exception_type, GeneralException);
}

TEST(ExecuteDiagnosis, WithoutParameters) {
    // ORA-06512 is not translated without parameters.
    auto o = Exec("Provider", kFail, "ORA-06512: x", 0);
    EXPECT_EQ(o.kind, ExecuteOutcome::Raise);
    EXPECT_EQ(o.code, ExecuteSQLError);
    EXPECT_EQ(o.text, "ORA-06512: x");

    o = Exec("OraOLEDB", kFail, "ORA-03001: unimplemented feature", 0, "insert into t VALUES 1, 2");
    EXPECT_EQ(o.code, ExecuteSQLError);
    EXPECT_EQ(o.text, "Bracket missing in values clause." + CRLF + CRLF + "Driver error: ORA-03001: unimplemented feature");
    o = Exec("OraOLEDB", kFail, "ORA-03001", 0, "insert into t values (1)");
    EXPECT_EQ(o.kind, ExecuteOutcome::Report);
    EXPECT_EQ(o.exception_type, ODBCException);
    o = Exec("OraOLEDB", kFail, "ORA-03001", 0, "select 1 from dual");
    EXPECT_EQ(o.kind, ExecuteOutcome::Report);
    // A bracket before "values" does not count.
    o = Exec("x", kFail, "ORA-03001", 0, "insert into t(a) values 1");
    EXPECT_EQ(o.kind, ExecuteOutcome::Raise);

    const std::string sqloledb = "Microsoft OLE DB Provider for SQL Server";
    o = Exec(sqloledb, Hr(0x80040E14), "IDENTITY_INSERT is set to OFF", 0);
    EXPECT_EQ(o.code, IdentityInsertOff);
    EXPECT_EQ(o.text, "IDENTITY_INSERT is set to OFF");
    o = Exec(sqloledb, kFail, "other", 0);
    EXPECT_EQ(o.kind, ExecuteOutcome::Report);
    EXPECT_EQ(o.exception_type, ODBCException);

    for (std::string source : {kOdbc, std::string("Microsoft JET Database Engine")}) {
        o = Exec(source, Hr(0x80040E09), "denied", 0, "select * from a", "DSN=csv;Extensions=txt,text");
        EXPECT_EQ(o.code, ExecuteSQLError);
        EXPECT_EQ(o.text, "For text databases, table names (=file names) should be ended with .txt or #txt." + CRLF +
                              CRLF + "Driver Error=denied");
        o = Exec(source, Hr(0x80040E09), "denied", 0, "select * from a", "DSN=pg");
        EXPECT_EQ(o.text, "denied");
        o = Exec(source, Hr(0x80040E37), "no table", 0, "select * from a", "Text");
        EXPECT_EQ(o.text, "no table");
    }
    o = Exec("SQLite", Hr(0x80040E37), "no such table: t", 0);
    EXPECT_EQ(o.code, ExecuteSQLError);
    EXPECT_EQ(o.text, "no such table: t");
}

}  // namespace
}  // namespace korado::diagnoses
