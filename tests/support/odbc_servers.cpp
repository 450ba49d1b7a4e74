#include "support/odbc_servers.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <map>
#include <stdexcept>

#include "support/support.h"

namespace korado::test {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// The DSN korado_<name> of scripts/services, with the test account KORADO_<account>_USER and
// KORADO_<account>_PASSWORD of the environment when it has one.
OdbcTarget Dsn(const std::string& name, std::string dbms_name, const std::string& account = {}) {
    OdbcTarget t;
    t.name = name;
    t.dsn = "korado_" + name;
    t.dbms_name = std::move(dbms_name);
    if (!account.empty()) t.user = Env(("KORADO_" + account + "_USER").c_str());
    if (!account.empty()) t.password = Env(("KORADO_" + account + "_PASSWORD").c_str());
    return t;
}

std::vector<OdbcTarget> MakeTargets() {
    OdbcTarget pg = Dsn("pg", "PostgreSQL", "PG");
    pg.text_type = "text";
    pg.blob_type = "bytea";
    pg.timestamp_type = "timestamp";
    pg.serial_key = "serial PRIMARY KEY";
    pg.sleep_sql = "SELECT pg_sleep(5)";

    OdbcTarget maria = Dsn("maria", "MariaDB", "MARIA");
    // Connector/ODBC sends one statement per command unless the DSN sets the multi-statement option.
    maria.batches = false;
    maria.text_type = "longtext";
    maria.blob_type = "longblob";
    maria.timestamp_type = "datetime(3)";
    maria.serial_key = "int AUTO_INCREMENT PRIMARY KEY";
    maria.unicode_table_options = " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin";
    maria.sleep_sql = "SELECT SLEEP(5)";

    OdbcTarget sqlite = Dsn("sqlite", "SQLite");
    sqlite.server = false;
    sqlite.procedures = false;
    sqlite.batches = false;
    sqlite.exact_numeric = false;
    sqlite.text_type = "text";
    sqlite.blob_type = "blob";
    sqlite.timestamp_type = "timestamp";
    sqlite.serial_key = "INTEGER PRIMARY KEY";
    // Counting through a recursive CTE: the SQLite3 ODBC driver has no server-side sleep.
    sqlite.sleep_sql =
        "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 2000000000) SELECT "
        "count(*) FROM c";
    // The PostgreSQL of the "pg" DSN through the native provider.
    OdbcTarget native = pg;
    native.name = "pgnative";
    native.provider = "PostgreSQL";
    native.error_source = "PostgreSQL Native Provider";
    native.odbc_api = false;
    return {pg, maria, sqlite, native};
}

const std::vector<OdbcTarget>& Targets() {
    static const std::vector<OdbcTarget> targets = MakeTargets();
    return targets;
}

// One SQLDriverConnect with the driver manager alone, so that a broken library under test cannot make
// every test skip.
std::string Probe(const OdbcTarget& t) {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return "no ODBC environment";
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(5), 0);
    std::string cs = "DSN=" + t.dsn + ";UID=" + t.user + ";PWD=" + t.password + ";";
    SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS, nullptr, 0,
                                    nullptr, SQL_DRIVER_NOPROMPT);
    std::string why;
    if (SQL_SUCCEEDED(rc)) {
        // The connection stays open for the life of the process, so that the driver manager never unloads
        // the driver: LeakSanitizer cannot name a library that is gone, and a driver's own leaks (the
        // SQLite3 driver keeps a few blocks per environment) would then escape the suppressions in
        // tests/lsan.supp and fail a test that leaked nothing. (unixODBC's DontDLClose in odbcinst.ini
        // would do the same.)
        static std::vector<std::pair<SQLHENV, SQLHDBC>>* pinned =
            new std::vector<std::pair<SQLHENV, SQLHDBC>>;
        pinned->emplace_back(env, dbc);
        return why;
    }
    SQLCHAR state[6] = {}, message[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(SQL_HANDLE_DBC, dbc, 1, state, &native, message, sizeof message, &length);
    why = t.dsn + " does not answer (" + reinterpret_cast<char*>(state) + " " +
          reinterpret_cast<char*>(message) + "); start the servers with scripts/services start";
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return why;
}

}  // namespace

std::string OdbcTarget::Source() const {
    if (provider == "MSDASQL") return "DSN=" + dsn + ";";
    std::string port = Env("KORADO_PG_PORT");
    return "Provider=" + provider + ";Data Source=127.0.0.1:" + (port.empty() ? "5432" : port) + "/korado;";
}

std::string OdbcTarget::ConnectionString() const {
    std::string s = Source();
    const bool odbc = provider == "MSDASQL";
    if (!user.empty()) s += (odbc ? "UID=" : "User ID=") + user + ";";
    if (!password.empty()) s += (odbc ? "PWD=" : "Password=") + password + ";";
    return s;
}

std::vector<std::string> OdbcTargetNames() { return {"pg", "maria", "sqlite", "pgnative"}; }

const OdbcTarget& GetOdbcTarget(std::string_view name) {
    for (const OdbcTarget& t : Targets())
        if (t.name == name) return t;
    throw std::invalid_argument("no ODBC target named " + std::string(name));
}

std::string OdbcUnavailable(const OdbcTarget& target) {
    if (Env("ODBCINI").empty() || Env("ODBCSYSINI").empty()) {
        return "the ODBC test servers are not configured: run eval \"$(scripts/services env)\" (or "
               "scripts/test)";
    }
    if (target.server && (target.user.empty() || target.password.empty())) {
        return "no test account for " + target.dsn + " in the environment (KORADO_*_USER, KORADO_*_PASSWORD)";
    }
    static std::map<std::string, std::string> probed;
    // The native target reaches the server of the "pg" DSN: that DSN answering is the probe.
    const std::string& probe_name = target.odbc_api ? target.name : std::string("pg");
    auto it = probed.find(probe_name);
    if (it == probed.end()) it = probed.emplace(probe_name, Probe(GetOdbcTarget(probe_name))).first;
    return it->second;
}

bool ServersRequired() { return Env("KORADO_REQUIRE_SERVERS") == "1"; }

std::string ServicesScript() {
    std::string s = Env("KORADO_SERVICES_SCRIPT");
    if (s.empty() && !Env("KORADO_SOURCE_DIR").empty()) s = Env("KORADO_SOURCE_DIR") + "/scripts/services";
    return s;
}

std::string ServicesCommand(const std::string& script, std::string_view arguments) {
    return ShellQuote(script) + " " + std::string(arguments) + " >/dev/null 2>&1";
}

}  // namespace korado::test
