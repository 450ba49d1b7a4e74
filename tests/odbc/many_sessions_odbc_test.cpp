// Many connection objects open at once, as a host with many windows keeps them: 200 on SQLite files and 50
// on PostgreSQL through the ODBC bridge (a few more through the native provider), each running statements
// in turn, then disconnected and destroyed. Afterwards the process holds exactly the descriptors it held
// before (files, sockets); the sanitizer's leak check covers memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "korado/connection/clsADO.h"
#include "korado/parameters/clsParameter.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/registry.h"
#include "support/odbc_servers.h"
#include "support/support.h"

namespace korado::test {
namespace {

// "<fd> <target>" of every open descriptor (sockets read "socket:[inode]"), but the listing's own.
std::vector<std::string> OpenDescriptors() {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
        if (!ec) out.push_back(entry.path().filename().string() + " " + target);
    }
    // The listing's own descriptor is gone by now and may read as anything; it is the one no longer open.
    std::erase_if(out, [](const std::string& d) { return ::fcntl(std::stoi(d), F_GETFD) == -1; });
    std::sort(out.begin(), out.end());
    return out;
}

Ref<clsADO> Open(const std::string& connection_string) {
    Ref<clsADO> ado = CreateObjectAs<clsADO>("korADO.clsADO");
    ado->Constructor(nullptr, false, 30, korParamIn, korTypeOther, 10, 100);
    std::string user, pass, dsn;
    Variant cs(connection_string);
    EXPECT_TRUE(ado->Connect(user, pass, dsn, cs)) << connection_string;
    return ado;
}

std::int32_t Statement(clsADO& ado, std::string sql) {
    Ref<Collection> names;
    std::int32_t affected = -99;
    Ref<ado::Recordset> rs;
    ado.ExecuteSQL(sql, names, affected, rs);
    return rs && !rs->Eof() ? CLng(rs->Fields()->Item(0)->Value()) : affected;
}

void Close(Ref<clsADO>& ado) {
    ado->Disconnect();
    ado->Destructor();
    ado = nullptr;
}

TEST(ManySessions, TwoHundredFilesAndFiftyServerSessionsLeaveNoDescriptorBehind) {
    const OdbcTarget& pg = GetOdbcTarget("pg");
    KORADO_REQUIRE_ODBC(pg);
    const OdbcTarget& native = GetOdbcTarget("pgnative");
    MessageBoxCapture boxes;
    ErrorCapture errors;
    TempDir dir;
    // One session of each kind first: what a process keeps once it has used a driver (its libraries, the
    // driver manager's files) is not what sessions leave behind.
    for (const std::string& cs : {"Provider=SQLite;Data Source=" + dir.File("warm.db"), pg.ConnectionString(),
                                  native.ConnectionString()}) {
        Ref<clsADO> ado = Open(cs);
        Close(ado);
    }
    ReleaseGlobals();
    const std::vector<std::string> before = OpenDescriptors();

    {
        std::vector<Ref<clsADO>> sessions;
        for (int i = 0; i < 200; ++i)
            sessions.push_back(Open("Provider=SQLite;Data Source=" + dir.File(std::to_string(i) + ".db")));
        for (int i = 0; i < 50; ++i) sessions.push_back(Open(pg.ConnectionString()));
        for (int i = 0; i < 3; ++i) sessions.push_back(Open(native.ConnectionString()));
        for (auto& ado : sessions) Statement(*ado, "create temporary table many (n integer)");
        for (int round = 1; round <= 2; ++round) {
            for (auto& ado : sessions) {
                Statement(*ado, "insert into many values (" + std::to_string(round) + ")");
                ASSERT_EQ(Statement(*ado, "select count(*) from many"), round);
            }
        }
        // Each session holds its own file or socket while it is open.
        EXPECT_GE(OpenDescriptors().size(), before.size() + sessions.size());
        EXPECT_TRUE(errors.Reports().empty());
        EXPECT_TRUE(boxes.Shown().empty());
        for (auto& ado : sessions) Close(ado);
    }
    ReleaseGlobals();  // the last connection object created stays the current one until then
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace korado::test
