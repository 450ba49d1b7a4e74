// The ODBC data sources of scripts/services, for tests that run against real servers, and the same
// PostgreSQL server through the native provider ("pgnative"), which the tests that go through the platform
// run against as well.
//
// `eval "$(scripts/services env)"` (or scripts/test) puts ODBCSYSINI, ODBCINI and the test accounts in the
// environment. Without them, or with the DSN's server not answering, a test skips with a message saying
// so; with KORADO_REQUIRE_SERVERS=1 (CI) it fails instead.
//
// Each target carries its driver's quirks as flags, so that one test body runs against every DSN and says
// where a driver differs (and why) rather than testing driver names.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korado::test {

struct OdbcTarget {
    std::string name;  // "pg", "maria", "sqlite", "pgnative": the test parameter
    std::string dsn;   // "korado_pg"; for pgnative the DSN of the same server
    std::string provider = "MSDASQL";  // the provider the connection strings below name
    std::string error_source = "Microsoft OLE DB Provider for ODBC Drivers";  // of the provider's failures
    std::string user;  // empty for SQLite
    std::string password;
    std::string dbms_name;  // what SQL_DBMS_NAME reports

    // Quirks.
    bool odbc_api = true;               // reached through ODBC (false: a test that calls ODBC itself skips)
    bool server = true;                 // a server process (SQLite is a file)
    bool procedures = true;             // stored procedures / functions with output parameters
    bool batches = true;                // several statements in one command text
    bool exact_numeric = true;          // NUMERIC columns hold exact decimals (the SQLite3 driver: doubles)
    std::string bool_type = "boolean";  // column type for a Boolean column
    std::string text_type;              // a length-less text column type
    std::string blob_type;              // a binary column type of unlimited size
    std::string timestamp_type;
    std::string serial_key;             // an integer primary key the database numbers
    std::string unicode_table_options;  // MariaDB: a table that holds 4-byte characters
    std::string sleep_sql;              // a statement that runs for at least 5 seconds

    // PostgreSQL, through psqlODBC or natively.
    bool IsPostgreSQL() const { return dbms_name == "PostgreSQL"; }
    // The connection string without the account ("DSN=korado_pg;", "Provider=PostgreSQL;Data Source=...;").
    std::string Source() const;
    // The same with the test account.
    std::string ConnectionString() const;
};

// The three DSNs and the native PostgreSQL target, in the order the conformance tests run them.
std::vector<std::string> OdbcTargetNames();
const OdbcTarget& GetOdbcTarget(std::string_view name);

// Why `target` cannot be used right now (empty when it can): environment missing, server not answering.
// Probes each DSN once per process.
std::string OdbcUnavailable(const OdbcTarget& target);
// True when CI demands the servers (KORADO_REQUIRE_SERVERS=1).
bool ServersRequired();
// The path of scripts/services, from KORADO_SERVICES_SCRIPT; empty when unknown.
std::string ServicesScript();
// A shell command running `script` with `arguments` (already shell words), output discarded. The
// script's path is quoted: a checkout may lie in a folder with blanks.
std::string ServicesCommand(const std::string& script, std::string_view arguments);

}  // namespace korado::test

// Skips (or in CI fails) the current test when `target` is not usable.
#define KORADO_REQUIRE_ODBC(target)                                        \
    do {                                                                   \
        std::string korado_why_ = ::korado::test::OdbcUnavailable(target); \
        if (!korado_why_.empty()) {                                        \
            if (::korado::test::ServersRequired()) FAIL() << korado_why_;  \
            GTEST_SKIP() << korado_why_;                                   \
        }                                                                  \
    } while (0)
