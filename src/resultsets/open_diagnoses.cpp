#include "resultsets/open_diagnoses.h"

#include <optional>

#include "korado/errors/clsADOError.h"
#include "korado/export.h"
#include "korado/runtime/strings.h"

namespace korado::open_diagnoses {
namespace {

const std::string NL = "\r\n";
const std::string kProduct = kHostProductName;

const std::string kProviderBridge = "Microsoft OLE DB Provider for ODBC Drivers";

std::string N(std::int32_t number) { return std::to_string(number); }

// ---- outcomes --------------------------------------------------------------------------------------------
// Raise `code` with `text`, the library as the source.
OpenOutcome Fail(std::int32_t code, std::string text) {
    return {OpenOutcome::Raise, code, std::move(text), kLibraryName};
}
OpenOutcome Report(std::string text) { return {OpenOutcome::Report, 0, std::move(text), {}}; }
OpenOutcome Box(std::string text, std::string title) {
    return {OpenOutcome::Box, 0, std::move(text), std::move(title)};
}
OpenOutcome DefaultReport(std::string fallback) {
    return {OpenOutcome::DefaultReport, 0, std::move(fallback), {}};
}
OpenOutcome StandardPath() { return {OpenOutcome::StandardPath, 0, {}, {}}; }
OpenOutcome GiveUp() { return {OpenOutcome::GiveUp, 0, {}, {}}; }

// Once per Constructor call; a second failure of the same kind gives up without a message.
OpenOutcome RetryOnce(bool& flag) {
    if (flag) return GiveUp();
    flag = true;
    return {OpenOutcome::Retry, 0, {}, {}};
}
// The desktop drivers' and the multiple-step retries do not give up quietly: a second failure of the kind
// is handed to the standard error path.
OpenOutcome RetryOnceThenStandardPath(bool& flag, OpenOutcome::Kind retry = OpenOutcome::Retry) {
    if (flag) return StandardPath();
    flag = true;
    return {retry, 0, {}, {}};
}

// ---- message layouts -------------------------------------------------------------------------------------
// `d` is the failed call's description unless the name says it is the first error entry's (`e0`).
std::string IndexProblem(const std::string& d) {
    return "There is a problem with the index for a table in your statement." + NL + NL +
           "Driver error message:" + NL + d + NL + NL + "Advice:" + NL +
           "Solution:  Make sure no applications have the table open. Then open the table with Advantage "
           "Data Architect, which will detect the collation mismatch and provide the opportunity to rebuild "
           "the index file.";
}

std::string MsOracleDataType() {
    return "Data type is not supported by the driver: Microsoft OLE DB Provider for Oracle." + NL + NL +
           "Advice:" + NL +
           "Try using the Oracle OLE DB provider for Oracle. It provides better support for Oracle data "
           "types.";
}

std::string StatementEnd(const std::string& d) {
    return "SQL command not properly ended." + NL + NL + "Advice:" + NL +
           "This may happen when executing multiple statements at once without ending each statement with a "
           "semi colon (;). E.g. use select a from table1; select b from table2;" +
           NL + NL + "Driver Error:" + NL + d;
}

std::string TablePrivilege(const std::string& d) {
    return d + NL + NL +
           "You may have mistyped a table name or you may have insufficient privileges to access the "
           "table/view." +
           NL + NL + "Advice:" + NL + "Use the Describe feature in " + kProduct +
           " to find the correct table names in your database.";
}

std::string TimedOut(const std::string& e0) {
    return "SQL command timed out." + NL + NL + "Advice:" + NL +
           "This may happen when executing a statement that takes a long time to execute. You can set a "
           "command timeout in the preferences." +
           NL + NL + "Driver Error Message:" + NL + e0;
}

std::string PostgresSchema(const std::string& e0) {
    return "Driver error: " + e0 + NL + NL + "Advice:" + NL +
           "You may have received this error when you use a table name that does not exist or when you do "
           "not use the full schema.table name of the tables you use. Qualify your table names with the name "
           "of the schema they are stored in e.g. select * from myschema.mytable;";
}

std::string JetTableName(const std::string& e0) {
    return "There is a problem with the table name in your statement." + NL + NL + "Advice:" + NL +
           "Make sure the table exists. If the table name contains spaces or if the table name is a reserved "
           "word you may need to put brackets around it (select * from [My Table])." +
           NL + NL + "Driver Error:" + NL + e0;
}

std::string IndexingService() {
    return "The Indexing Service is not running." + NL + NL + "Solution:" + NL +
           "Start the Indexing Service. From the Control Panel start the services applet. Double click the "
           "Indexing Service and start it. Then try the query again.";
}

std::string WrongParameterType(std::int32_t number, const std::string& d) {
    return "One of the parameters is of the wrong type." + NL +
           "Please specify the correct data type in the Parameters Dialog." + NL + NL +
           "Error Number: " + N(number) + NL + NL + "Driver Error Description:" + NL + d;
}

std::string WrongWhereType(std::int32_t number, const std::string& d) {
    return "One of the values in the where clause is of the wrong type." + NL +
           "Please use the correct data type (single quotes around text e.g.) in the where clause." + NL +
           NL + "Error Number: " + N(number) + NL + NL + "Driver Error Description:" + NL + d;
}

std::string MistypedColumn(const std::string& d) {
    return "Driver Error: " + NL + d + NL + NL + "You may have mistyped a column name." + NL + NL +
           "Advice:" + NL + "Use the Describe feature in " + kProduct +
           " to find the correct column names for the tables you use. Alternatively execute the same query "
           "as a \"select * from table...\"";
}

std::string CaseSensitiveColumns(const std::string& d) {
    return d + NL + NL +
           "You have hit a bug in the driver. The driver appears to be case sensitive for column names." +
           NL + NL + "Advice:" + NL +
           "Execute your query again but type your column names in the correct case. To find the correct "
           "case for your column use the Describe feature in " +
           kProduct + ".";
}

// The unknown-table advice; `brackets` is its closing sentence.
std::string UnknownTable(const std::string& d, const std::string& brackets) {
    return d + NL + NL + "Advice:" + NL + "Use the Describe feature in " + kProduct +
           " to find the tables that can be used in this database." + NL + NL + brackets;
}
std::string UnknownTable(const std::string& d) {
    return UnknownTable(
        d,
        "If you use table, view or column names with spaces or dashes please use square brackets "
        "([ ])around them. Example: select [my table].[my-column-name] from [my table]");
}
std::string UnknownTableWithoutDashes(const std::string& d) {
    return UnknownTable(
        d,
        "If you use table, view or column names with spaces please use square brackets ([ ])around "
        "them. Example: select [my table].[my column name] from [my table]");
}

std::string ReservedTableName(const std::string& d) {
    return d + NL + NL + "You may have mistyped a table name or used a reserved word as a table name." + NL +
           NL + "Advice:" + NL + "Use the Describe feature in " + kProduct +
           " to find the correct table names in your database. Always use [table] if you suspect your table "
           "name is a reserved word.";
}

std::string UnknownColumn(const std::string& d) {
    return d + NL + NL + "You may have mistyped a column name." + NL + NL + "Advice:" + NL +
           "Check the column names you used in the query. Use the Describe feature in " + kProduct +
           " to find the correct column names for the tables you use.";
}

std::string AmbiguousColumn(const std::string& d) {
    return d + NL + NL + "You use a column name that is available in more than 1 table in your query." + NL +
           NL + "Advice:" + NL +
           "Be specific from which table you like to retrieve the information. E.g. use my_table.my_column "
           "instead of just my_column.";
}

std::string MissingSchema(const std::string& d) {
    return "Driver Error: " + NL + d + NL + NL +
           "You may have forgotten to prefix the table name with the scheme (e.g. scheme.table) or you may "
           "have mistyped a table name." +
           NL + NL + "Advice:" + NL + "Use the Describe feature in " + kProduct +
           " to find the correct table names in your database.";
}

// ---- the table, by source --------------------------------------------------------------------------------
constexpr std::int32_t kNoInterface = Hr(0x80004002);
constexpr std::int32_t kFail = Hr(0x80004005);
constexpr std::int32_t kErrorsInCommand = Hr(0x80040E14);
constexpr std::int32_t kNoTable = Hr(0x80040E37);

OpenOutcome ProviderRows(const OpenFailure& f) {
    if (f.native_error == kNoInterface)
        return Fail(
            BindVariablesNotSupported,
            "Bind variables are not supported by the database driver/provider. Use substitution variables "
            "instead.");
    return DefaultReport(f.description);
}

OpenOutcome AdvantageRows(const OpenFailure& f) {
    if (f.native_error == 7200 && ContainsText(f.first_description, "NativeError = 5175"))
        return Report(IndexProblem(f.description));
    return DefaultReport(f.description);
}

// The Oracle server's codes both Oracle providers report as native errors.
std::optional<OpenOutcome> OracleCodes(const OpenFailure& f) {
    switch (f.native_error) {
        case 933:
            return Report(StatementEnd(f.description));
        case 942:
            return Fail(SQLError, TablePrivilege(f.description));
        case 1013:
            return Report(TimedOut(f.first_description));
        default:
            return std::nullopt;
    }
}

OpenOutcome MsOracleRows(const OpenFailure& f) {
    if (f.native_error == 0) {
        if (f.first_number == kFail) return Fail(DataTypeNotSupported, MsOracleDataType());
        return DefaultReport(f.description);
    }
    if (f.native_error == 904) return Fail(SQLError, f.description);
    if (auto o = OracleCodes(f)) return *o;
    return DefaultReport(f.description);
}

OpenOutcome OraOledbRows(const OpenFailure& f) {
    if (f.native_error == 0) {
        if (f.first_number == kFail)
            return Fail(DataTypeNotSupported, "Data type is not supported by the driver OraOLEDB.");
        if (f.number == kErrorsInCommand) return Fail(SQLError, f.description);
        if (f.number == kNoTable) return Fail(SQLError, TablePrivilege(f.description));
        return DefaultReport(f.description);
    }
    if (auto o = OracleCodes(f)) return *o;
    return DefaultReport(f.description);
}

// SQL Server's linked-server failures: only a distributed query the host wrote itself gets its own code.
OpenOutcome LinkedServerTest(const OpenFailure& f) {
    const std::int32_t native = f.native_error;
    const bool linked_server = native == 7312 || native == 7320 || native == 7391 || native == 7399;
    if (linked_server && ContainsText(f.sql, "openquery"))
        return Fail(DistributedTransactionProblem, "Error " + N(native) + ": " + f.first_description);
    return DefaultReport(f.description);
}

OpenOutcome OdbcBridgeRows(const OpenFailure& f, RetryFlags& flags) {
    const std::string& dbms = f.dbms_name;
    if (dbms == "Oracle" || dbms == "Orac") {
        switch (f.native_error) {
            case 904:
                return Fail(SQLError, "Invalid column name");
            case 933:
                return Report(StatementEnd(f.description));
            case 942:
                return Fail(SQLError, "Table or view does not exist");
            case 1013:
                return Report(TimedOut(f.first_description));
            default:
                return DefaultReport(f.description);
        }
    }
    if (dbms == "Microsoft SQL Server") return LinkedServerTest(f);
    if (dbms == "MySQL") {
        // The server closed an idle connection (2006) or lost it mid-query (2013): once the driver has
        // reconnected, a second attempt usually runs.
        if (f.native_error == 2006) return RetryOnce(flags.mysql_gone_away);
        if (f.native_error == 2013) return RetryOnce(flags.mysql_lost);
        return DefaultReport(f.description);
    }
    if (dbms == "PostgreSQL") {
        if (f.native_error == 7) return Box(PostgresSchema(f.first_description), kProduct);
        return DefaultReport(f.description);
    }
    return DefaultReport(f.description);
}

OpenOutcome JetRows(const OpenFailure& f) {
    if (f.native_error == Hr(0xE049F88D)) return Box(f.first_description, kLibraryName);
    if (f.native_error == Hr(0xE09BF24E)) return Box(JetTableName(f.first_description), kLibraryName);
    return DefaultReport(f.description);
}

// Every other source, by the failed call's number.
OpenOutcome ByNumber(const OpenFailure& f, RetryFlags& flags) {
    const std::string& d = f.description;
    const std::int32_t native = f.native_error;
    switch (static_cast<std::uint32_t>(f.number)) {
        case 0x80041820:
            if (native == 0 && ContainsText(f.first_source, "Microsoft OLE DB Provider for Indexing Service"))
                return Report(IndexingService());
            return DefaultReport(d);
        case 0x80040E30:
            return Report(WrongParameterType(f.number, d));
        case 0x80040E07:
            return Report(WrongWhereType(f.number, d));
        case 0x80040E21:
            // The Paradox driver loses its connection's state: only a new connection lets the query run.
            if (native == -5026 && Contains(d, "Paradox"))
                return RetryOnceThenStandardPath(flags.desktop_driver, OpenOutcome::ReconnectRetry);
            if (native == -5026 && Contains(d, "dBase"))
                return RetryOnceThenStandardPath(flags.desktop_driver);
            if (native == 0) return RetryOnceThenStandardPath(flags.multiple_step);
            return StandardPath();
        case 0x80040E10:
            if (native == 0) return Report(MistypedColumn(d));
            if (native == -3010) return Report(CaseSensitiveColumns(d));
            return DefaultReport(d);
        case 0x80040E14:
            if (native == 170 || native == Hr(0xE097F24E)) return Report(UnknownTable(d));
            if (native == Hr(0xE09BF24E)) return Report(ReservedTableName(d));
            if (native == 207) return Report(MistypedColumn(d));
            if (native == 904) return Report(UnknownColumn(d));
            if (native == 918) return Report(AmbiguousColumn(d));
            return DefaultReport(d);
        case 0x80040E37:
            if (native == -204 && Contains(d, "SQL0204N")) return Report(MissingSchema(d));
            if (native == 208) return Report(UnknownTable(d));
            if (native == Hr(0xE0BDFAE7)) return Report(UnknownTableWithoutDashes(d));
            return DefaultReport(d);
        default:
            return DefaultReport("Error " + N(f.number) + ": " + d);
    }
}

}  // namespace

bool NeedsDbmsName(std::string_view source) { return source == kProviderBridge; }

OpenOutcome Classify(const OpenFailure& f, RetryFlags& flags) {
    const std::string& s = f.source;
    if (s == "Provider") return ProviderRows(f);
    if (s == "Advantage OLE DB Provider") return AdvantageRows(f);
    if (s == "Microsoft OLE DB Provider for Oracle") return MsOracleRows(f);
    if (s == "OraOLEDB") return OraOledbRows(f);
    if (s == kProviderBridge) return OdbcBridgeRows(f, flags);
    if (s == "Microsoft OLE DB Provider for SQL Server") return LinkedServerTest(f);
    if (s == "Microsoft JET Database Engine") return JetRows(f);
    return ByNumber(f, flags);
}

}  // namespace korado::open_diagnoses
