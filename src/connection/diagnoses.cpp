#include "connection/diagnoses.h"

#include "korado/errors/clsADOError.h"
#include "korado/export.h"
#include "korado/runtime/strings.h"

#ifndef KORADO_DRIVER_HELP
#define KORADO_DRIVER_HELP "/usr/local/share/doc/korado/odbc-drivers.md"
#endif

namespace korado::diagnoses {
namespace {

const std::string CRLF = "\r\n";
const std::string kProduct = kHostProductName;

constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005u);
constexpr std::int32_t kCatastrophic = static_cast<std::int32_t>(0x8000FFFFu);

std::string N(std::int32_t number) { return std::to_string(number); }

bool Has(std::string_view text, std::string_view find) { return ContainsText(text, find); }

std::string OracleAdvice(const std::string& d, std::string_view advice) {
    return "Oracle ADOConnection Error received:" + CRLF + d + CRLF + CRLF + "Advice:" + CRLF + std::string(advice);
}

std::string ServerNotFound(const std::string& d) {
    return "The database server could not be found. Ensure you typed the correct name and that the server is "
           "running. If you run the database on your local machine you need to start the database manually" +
           CRLF + CRLF + "Driver Error:" + CRLF + "(-100):" + d;
}

std::string JetLoginAdvice() {
    return "When you chose the ADOConnection from the history list, make sure you typed the correct password or "
           "leave the password field blank. If you just finished configuring a new ADO ADOConnection, make sure "
           "you check the \"Allow saving password\" checkbox in the ADOConnection Tab." +
           CRLF +
           "Also, please use the \"Test ADOConnection\" button on the ADOConnection Tab on the Data Link window to "
           "test the ADOConnection details.";
}

std::string Ora12154() {
    return kProduct +
           " could not connect to your Oracle database. This error indicates that the service (or TNS alias) "
           "specified when trying to connect does not exist." +
           CRLF + CRLF + "Advice:" + CRLF +
           "Check which aliases (TNS names) are defined on your workstation. You can find the defined names in the "
           "tnsnames.ora file. Use an alias defined in this file or create a new database alias";
}

std::string Ora12500() {
    return kProduct +
           " could not connect to your Oracle database. There is a problem with the Oracle database. Contact your "
           "Database Administrator quoting ORA-12500.";
}

std::string Ora12514(const std::string& d) {
    return kProduct +
           " could not connect to your Oracle database. The database listener could not connect to the database." +
           CRLF + CRLF + "Driver Error Message:" + CRLF + d + CRLF + CRLF +
           "This can be an temporary condition. Wait a moment and try again. If you keep getting this error, "
           "please inspect your listener setup or consult your DBA.";
}

std::string Ora12545(const std::string& d) {
    return kProduct + " could not connect to your Oracle database. The driver could not find the database." + CRLF +
           CRLF + "Driver Error Message:" + CRLF + d + CRLF + CRLF +
           "Ensure you can use tnsping <<databasename>> to access the database. You may also want to check "
           "whether you can ping the host. Inspect the tnsnames.ora file to find the ip address of the host.";
}

std::string Ora12560(const std::string& d) {
    return kProduct +
           " could not connect to your Oracle database. The Oracle Client does not know which instance of Oracle "
           "to connect to or what TNS alias to use." +
           CRLF + CRLF + "Driver Error Message:" + CRLF + d + CRLF + CRLF +
           "Ensure you can use tnsping <<databasename>> to access the database. If you run the database on the "
           "same machine try setting the ORACLE_SID environment variable. Also check whether your database was in "
           "fact started up. If the machine on which your database is installed has a dynamically allocated IP "
           "address, see whether the ip address used in te tnsnames.ora file is the same with the current IP of "
           "the server. Use the machine name instead.";
}

std::string MyOdbcAdvice() {
    return "This problem seems to occur when connecting to MySQL through MyODBC. This is likely the cause of an "
           "incompatible authentication protocol in mySQL's ODBC version 3.51 and can be worked around by using "
           "ODBC v 2.50.5. Download it from " +
           std::string(DriverDownloadLocation());
}

// The Oracle codes, by native error, shared by both Oracle providers and (by "ORA-" text) by ODBC.
std::string OracleByCode(int code, const std::string& d) {
    switch (code) {
        case 1005: return OracleAdvice(d, "Enter a user name and password");
        case 1017: return OracleAdvice(d, "Please enter the correct user name and password");
        case 1033:
            return OracleAdvice(d,
                                "Please wait for the database to become available. You may want to check with "
                                "your DBA when you keep getting this message.");
        case 1034:
            return OracleAdvice(d,
                                "The database you are trying to connect to has not been started yet. Ask your DBA "
                                "to start the database.");
        case 12154: return Ora12154();
        case 12500: return Ora12500();
        case 12514: return Ora12514(d);
        case 12545: return Ora12545(d);
        case 12560: return Ora12560(d);
        default: return d;
    }
}

std::string OdbcConnectFailure(const Failure& f) {
    const std::string& d = f.description;
    if (Has(d, "ODBC Driver Manager")) {
        if (f.number != kFail) return d;
        return "There was a problem connecting to a database through ODBC. This error may occur when the ODBC DSN "
               "that you configured in the Control Panel is no longer working properly. The error message below "
               "was received by the ODBC driver." +
               CRLF + CRLF + "Advice" + CRLF +
               "If this problem persists, recreate this ODBC DSN and try to connect again. Only proceed when the "
               "test was successful." +
               CRLF + CRLF + "Driver Error:" + CRLF + d + " (" + N(f.number) + ")";
    }
    if (Has(d, "SQL Server")) {
        if (f.number != kFail) return d;
        return "There was a problem connecting to your SQL Server database through ODBC. The error message below "
               "was received by the ODBC driver." +
               CRLF + CRLF + "Advice" + CRLF +
               "If this problem persists, recreate this ADO connection. Only proceed when the test was successful." +
               CRLF + CRLF + "Driver Error:" + CRLF + d + " (" + N(f.number) + ")";
    }
    if (Has(d, "Adaptive Server Anywhere")) return f.native_error == -100 ? ServerNotFound(d) : d;
    // The Oracle texts in the order the diagnosis tests them.
    static constexpr std::pair<std::string_view, int> kOracleTexts[] = {
        {"ORA-01005", 1005},   {"ORA-01017", 1017},   {"ORA-01033", 1033},   {"ORA-01034", 1034},
        {"ORA-12154", 12154}, {"ORA-12514", 12514}, {"ORA-12500", 12500}, {"ORA-12545", 12545},
        {"ORA-12560", 12560},
    };
    for (const auto& [text, code] : kOracleTexts)
        if (Has(d, text)) return OracleByCode(code, d);
    if (Has(d, "Operation was canceled")) {
        return "The error message below was received by the ODBC driver." + CRLF + CRLF + "Advice" + CRLF +
               "Usually this is an indication that there is something wrong with the ODBC connection string. "
               "Please configure a new connection and try again. Only proceed when the test was successful in the "
               "connection dialogs." +
               CRLF + CRLF + "Driver Error:" + CRLF + d + " (" + N(f.number) + ")";
    }
    if (Has(d, "could not decrypt") && Has(d, "ODBC Excel Driver")) {
        return "Unable to make a connection to the encrypted workbook." + CRLF + CRLF + "Advice:" + CRLF +
               "Remove the password for the workbook or open it in Excel before connecting to it." + CRLF + CRLF +
               "Driver Error:" + CRLF + d;
    }
    if (f.number == kCatastrophic && d == "Catastrophic failure") {
        return "ODBC Error occurred" + CRLF + CRLF + "Advice:" + CRLF + MyOdbcAdvice() + CRLF + CRLF +
               "Driver Error:" + CRLF + N(f.number) + ":" + d;
    }
    if (Has(d, "is not a valid path")) {
        return "The following ODBC error occurred:" + CRLF + CRLF + d + CRLF + CRLF + "Advice:" + CRLF +
               "Please ensure you have entered a valid path and not e.g. a file name.";
    }
    if (d == "[") return "ODBC Error occurred. No further details available";
    return d;
}

// ---- statement failures ----------------------------------------------------------------------------------
const std::string kMismatchText =
    "There seems to be a mismatch between the parameter settings you are using and the way the parameters are "
    "expected by the database. Please set the direction (In, Out, In/Out) and data type to match that to what is "
    "expected in the database code.";
const std::string kConversionText1 =
    "A data conversion error occurred. This may happen when your parameters are not of the correct type or if your "
    "parameters have the wrong direction (In,Out,In/Out). It could also be due a programming mistake in the SQL "
    "code. Please check the parameter settings first and make them match with the database code.";
const std::string kConversionText2 =
    "A data conversion error occurred. This may happen when your parameters are not of the correct type. It could "
    "also be due a programming mistake in the SQL code. Please check the parameter data types first.";
const std::string kOra06502 = "ORA-06502: PL/SQL: numeric or value error: character to number conversion error";

ExecuteOutcome Fail(std::int32_t code, std::string text) {
    return {ExecuteOutcome::Raise, code, 0, std::move(text)};
}
ExecuteOutcome Report(const std::string& d, std::int32_t type) { return {ExecuteOutcome::Report, 0, type, d}; }

ExecuteOutcome WithParameters(const Failure& f) {
    const std::string& d = f.description;
    std::string source = LCase(f.source);
    if (source == "provider" || source == "microsoft ole db provider for oracle") {
        if (Has(d, "ORA-06512")) return Fail(ORA_06512, kConversionText2 + CRLF + CRLF + "Driver error: " + kOra06502);
        if (d == "Binding information is invalid." && f.number == static_cast<std::int32_t>(0x80040E08u))
            return Fail(BindingInfoInvalid, kMismatchText + CRLF + CRLF + "Driver error: " + d);
        return Report(d, ODBCException);
    }
    if (source == "microsoft ole db provider for odbc drivers") {
        if (Has(d, "ORA-06512")) return Fail(ORA_06512, kConversionText2 + CRLF + CRLF + "Driver error: " + kOra06502);
        if (Has(d, "Binding information is invalid"))
            return Fail(BindingInfoInvalid, kMismatchText + CRLF + CRLF + "Driver error: " + d);
        return Report(d, ODBCException);
    }
    if (source == "oraoledb") {
        if (Has(d, "ORA-06512")) return Fail(ORA_06512, kConversionText1 + CRLF + CRLF + "Driver error: " + kOra06502);
        return Report(d, ODBCException);
    }
    return Report(d, GeneralException);
}

ExecuteOutcome WithoutParameters(const Failure& f, std::string_view sql, std::string_view extended_properties) {
    const std::string& d = f.description;
    if (Has(d, "ORA-03001")) {
        std::size_t p = InStr(1, LCase(sql), "values");
        if (p > 0 && InStr(p + 6, sql, "(") == 0)
            return Fail(ExecuteSQLError, "Bracket missing in values clause." + CRLF + CRLF + "Driver error: " + d);
        return Report(d, ODBCException);
    }
    if (f.source == "Microsoft OLE DB Provider for SQL Server") {
        if (f.number == static_cast<std::int32_t>(0x80040E14u)) return Fail(IdentityInsertOff, d);
        return Report(d, ODBCException);
    }
    if ((f.source == "Microsoft OLE DB Provider for ODBC Drivers" || f.source == "Microsoft JET Database Engine") &&
        f.number == static_cast<std::int32_t>(0x80040E09u) && Has(extended_properties, "text")) {
        return Fail(ExecuteSQLError,
                    "For text databases, table names (=file names) should be ended with .txt or #txt." + CRLF + CRLF +
                        "Driver Error=" + d);
    }
    return Fail(ExecuteSQLError, d);
}

}  // namespace

std::string_view DriverDownloadLocation() { return KORADO_DRIVER_HELP; }

std::string ConnectFailure(const Failure& f) {
    const std::string& d = f.description;
    const std::string& s = f.source;
    if (s == "ADODB.Connection") return d;
    if (s == "ASA OLEDB") return f.native_error == -100 ? ServerNotFound(d) : d;
    if (s == "Microsoft JET Database Engine") {
        if (f.native_error == static_cast<std::int32_t>(0x80040E4Du) ||
            f.native_error == static_cast<std::int32_t>(0xF893F893u))
            return "The username, password or database name was incorrect." + CRLF + CRLF + JetLoginAdvice();
        return d;
    }
    if (s == "OraOLEDB" || s == "Microsoft OLE DB Provider for Oracle") return OracleByCode(f.native_error, d);
    if (s == "Microsoft OLE DB Provider for SQL Server") {
        if (f.native_error == 17) {
            return "Could not connect to the database. Your database appears to be unavailable." + CRLF + CRLF +
                   "Advice:" + CRLF +
                   "If this problem persists please recreate the ADO connection. Only proceed when the connection "
                   "test is successful." +
                   CRLF + CRLF + "Database error message: " + d;
        }
        if (f.native_error == 18456) {
            return "Could not connect to the database." + CRLF + CRLF + "Advice:" + CRLF +
                   "Check the username and password and try it again" + CRLF + CRLF + "Database error message: " + d;
        }
        return d;
    }
    if (s == "Microsoft OLE DB Provider for ODBC Drivers") return OdbcConnectFailure(f);
    return d;
}

ExecuteOutcome ExecuteFailure(const Failure& f, std::int32_t parameter_count, std::string_view sql,
                              std::string_view extended_properties) {
    return parameter_count > 0 ? WithParameters(f) : WithoutParameters(f, sql, extended_properties);
}

}  // namespace korado::diagnoses
