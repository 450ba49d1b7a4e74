// The ODBC bridge through the provider interface, against PostgreSQL (psqlODBC), MariaDB (Connector/ODBC)
// and SQLite (SQLite3 ODBC driver): one body per behaviour, driver differences as the targets' flags.
#include <gtest/gtest.h>

#include <filesystem>

#include "dataaccess/providers/odbc/odbc_handles.h"
#include "dataaccess/providers/odbc/odbc_provider.h"
#include "korado/runtime/convert.h"
#include "odbc/odbc_test_util.h"

namespace korado::test {
namespace {

using dataaccess::Diagnostic;
using dataaccess::PropertyValue;

const Variant* FindProperty(const std::vector<PropertyValue>& properties, std::string_view name,
                            std::int32_t* type = nullptr) {
    for (const PropertyValue& p : properties) {
        if (p.name == name) {
            if (type) *type = p.type;
            return &p.value;
        }
    }
    return nullptr;
}

// ---- connecting and properties -------------------------------------------------------------------------

TEST_P(OdbcTest, PropertiesDescribeTheDriverAndServer) {
    std::vector<PropertyValue> p = session().InfoProperties();
    std::int32_t type = 0;
    ASSERT_NE(FindProperty(p, "DBMS Name"), nullptr);
    EXPECT_EQ(Text(*FindProperty(p, "DBMS Name")), target().dbms_name);
    EXPECT_FALSE(Text(*FindProperty(p, "DBMS Version")).empty());
    // The bridge names the DSN; the native provider the server as its "Data Source" gave it.
    const std::string source = target().Source();
    EXPECT_EQ(Text(*FindProperty(p, "Data Source Name")),
              target().odbc_api ? target().dsn : source.substr(source.find("Data Source=") + 12, source.size() - source.find("Data Source=") - 13));
    EXPECT_EQ(CLng(*FindProperty(p, "Connection Status")), 1);
    EXPECT_EQ(FindProperty(p, "Read-Only Data Source", &type)->Type(), VarType::Boolean);
    EXPECT_EQ(type, ado::adBoolean);

    // The completed connection string (ODBC's or libpq's), without the password the test passed.
    std::string extended = Text(*FindProperty(p, "Extended Properties"));
    EXPECT_NE(extended.find(target().odbc_api ? "DSN=" + target().dsn : "dbname=korado"), std::string::npos)
        << extended;
    if (!target().password.empty()) {
        EXPECT_EQ(extended.find(target().password), std::string::npos) << extended;
    }
    EXPECT_EQ(extended.find(target().odbc_api ? "PWD=" : "password="), std::string::npos) << extended;

    std::int32_t ddl = CLng(*FindProperty(p, "Transaction DDL"));
    if (target().IsPostgreSQL()) {
        EXPECT_EQ(ddl, ado::DBPROPVAL_TC_ALL);  // DDL inside transactions
        EXPECT_EQ(Text(*FindProperty(p, "Current Catalog")), "korado");
        // psqlODBC connects with the options the platform needs, whatever the DSN said.
        for (const char* option : {"Protocol=7.4-2", "BoolsAsChar=0", "UseDeclareFetch=1"})
            if (target().odbc_api) EXPECT_NE(extended.find(option), std::string::npos) << extended;
    } else if (target().name == "maria") {
        EXPECT_EQ(ddl, ado::DBPROPVAL_TC_DDL_COMMIT);  // DDL commits the transaction
        EXPECT_EQ(Text(*FindProperty(p, "Current Catalog")), "korado");
    }
    EXPECT_EQ(CLng(*FindProperty(p, "Output Parameter Availability")),
              target().procedures ? ado::DBPROPVAL_OA_ATEXECUTE : ado::DBPROPVAL_OA_NOTSUPPORTED);
    EXPECT_EQ(CLng(*FindProperty(p, "Multiple Results")), target().name == "sqlite" ? 0 : 1);
    EXPECT_TRUE(session().IsAlive());
}

// A failing Open: a ProviderError with the driver's (or driver manager's) own text.
void OpenFails(const std::string& connection_string, std::string user = {}, std::string password = {}) {
    dataaccess::OpenRequest request;
    request.connection_string = dataaccess::ConnectionString::Parse(connection_string);
    request.user = std::move(user);
    request.password = std::move(password);
    request.connect_timeout_seconds = 5;
    FirstRecord([&] { dataaccess::FindProvider("MSDASQL")->Open(request); });
}

std::ptrdiff_t OpenFileDescriptors() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
}

TEST(OdbcOpenFailures, FailingOpensLeakNoHandles) {
    const OdbcTarget& pg = GetOdbcTarget("pg");
    KORADO_REQUIRE_ODBC(pg);
    const OdbcTarget& maria = GetOdbcTarget("maria");
    KORADO_REQUIRE_ODBC(maria);
    // Warm up: the driver manager loads the drivers and keeps them.
    OpenFails("DSN=korado_pg", pg.user, "wrong");
    OpenFails("DSN=korado_maria", maria.user, "wrong");
    std::int64_t handles = dataaccess::odbc::LiveHandleCount();
    const std::ptrdiff_t fds = OpenFileDescriptors();
    for (int i = 0; i < 20; ++i) {
        OpenFails("DSN=korado_pg", pg.user, "wrong");
        OpenFails("DSN=korado_maria", maria.user, "wrong");
        OpenFails("DSN=korado_no_such_dsn");
        OpenFails("DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=1;DATABASE=korado", "u", "p");
    }
    EXPECT_EQ(dataaccess::odbc::LiveHandleCount(), handles);
    EXPECT_LE(OpenFileDescriptors(), fds + 2);
    // Opened and closed sessions give their handles back too.
    for (int i = 0; i < 10; ++i) RunSql(*OpenSession(pg), "SELECT 1");
    EXPECT_EQ(dataaccess::odbc::LiveHandleCount(), handles);
}

}  // namespace
}  // namespace korado::test
