// MariaDB sessions and statements killed under a connection object: what the host sees, and what a second
// connection finds the server kept.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "fault/fault_servers.h"
#include "korado/errors/clsADOError.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado::test {
namespace {

using namespace std::chrono_literals;

// Row 1 committed and row 2 not when the cut comes; the cut statement would add row 9 after five seconds.
// A killed session loses row 2 and the reconnect says so; a killed statement leaves the session and its
// transaction as they were.
TEST(FaultMaria, KilledSessionsAndStatements) {
    const OdbcTarget& t = GetOdbcTarget("maria");
    KORADO_REQUIRE_FAULT_SERVER(t);
    struct Case {
        const char* name;
        const char* kill;  // KILL CONNECTION or KILL QUERY
        bool during;       // during the slow statement, or between statements
        bool session_lost;
        const char* failure;  // the driver's text the interrupted statement fails with
    } cases[] = {
        {"KILL CONNECTION during a slow insert", "KILL CONNECTION ", true, true,
         "Lost connection to server during query"},
        {"KILL CONNECTION between statements", "KILL CONNECTION ", false, true, ""},
        {"KILL QUERY during a slow insert", "KILL QUERY ", true, false, "Query execution was interrupted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultTable table(t, "ko_fault_kill");
        Witness killer(t);
        Session s;
        ASSERT_TRUE(s.Connect(t.Source(), t.user + "/" + t.password).ok);
        s.ado().SetDisplayAlerts(true);
        const std::string id = std::to_string(CLng(s.Scalar("SELECT CONNECTION_ID()")));
        s.Execute("INSERT INTO " + table.name + " VALUES (1)");
        s.ado().Commit();
        s.Execute("INSERT INTO " + table.name + " VALUES (2)");

        // SLEEP returns 1 when it is interrupted, so a killed insert adds no row even if it ends normally.
        const std::string slow = "INSERT INTO " + table.name + " SELECT 9 FROM DUAL WHERE SLEEP(5) = 0";
        if (c.during) {
            std::optional<Error> failure;
            {
                CutLater later(1s, [&] { killer.Run(c.kill + id); });
                failure = RaisedError([&] { s.Execute(slow); });
            }
            ASSERT_TRUE(failure);
            ExpectError(failure, ExecuteSQLError, "korADO");
            EXPECT_THAT(failure->Description(), ::testing::EndsWith(c.failure));
        } else {
            killer.Run(c.kill + id);
        }

        EXPECT_EQ(CLng(s.Scalar("SELECT COUNT(*) FROM " + table.name)), c.session_lost ? 1 : 2);
        EXPECT_EQ(CLng(s.Scalar("SELECT CONNECTION_ID()")) == std::stol(id), !c.session_lost);
        EXPECT_EQ(Shown(s), c.session_lost ? std::vector<std::string>{std::string(kRolledBack)}
                                           : std::vector<std::string>{});
        s.Execute("INSERT INTO " + table.name + " VALUES (3)");
        s.ado().Commit();
        EXPECT_EQ(table.Ids(), c.session_lost ? (Ids{1, 3}) : (Ids{1, 2, 3}));
    }
}

}  // namespace
}  // namespace korado::test
