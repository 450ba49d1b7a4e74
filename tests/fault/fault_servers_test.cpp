// The servers fail under a connection object: PostgreSQL restarted or its session ended (through the ODBC
// bridge and the native provider), MariaDB sessions and statements killed. Each case states what the host
// sees, and a second, independent connection checks what the server kept.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "korado/errors/clsADOError.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/odbc_servers.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado::test {
namespace {

using namespace std::chrono_literals;

using Ids = std::vector<std::int32_t>;
using Texts = std::vector<std::string>;

// The message boxes the host was shown: the reconnect's word that the dropped link took uncommitted work
// with it when `told`, else none.
Texts RolledBack(bool told) {
    if (!told) return {};
    return {
        "The connection to the database was lost and has been re-established. The changes made since the "
        "last commit were rolled back by the server and have not been applied again."};
}
Texts Shown(Session& s) {
    Texts texts;
    for (const auto& box : s.boxes().Shown()) texts.push_back(box.text);
    return texts;
}

bool Services(std::string_view arguments) {
    return std::system(ServicesCommand(ServicesScript(), arguments).c_str()) == 0;
}

#define KORADO_REQUIRE_FAULT_SERVER(target)                                                   \
    KORADO_REQUIRE_ODBC(target);                                                              \
    if (::korado::test::ServicesScript().empty()) {                                           \
        if (::korado::test::ServersRequired()) FAIL() << "KORADO_SERVICES_SCRIPT is not set"; \
        GTEST_SKIP() << "KORADO_SERVICES_SCRIPT is not set";                                  \
    }

// A platform connection of its own, in autocommit: what it reads, the server has committed.
class Witness {
  public:
    explicit Witness(const OdbcTarget& t) {
        conn_->Open(t.ConnectionString(), "", "", ado::adOptionUnspecified);
    }
    ~Witness() {
        TryIgnore([&] { conn_->Close(); });
    }
    void Run(const std::string& sql) { conn_->Execute(sql, nullptr, ado::adExecuteNoRecords); }
    Ids Numbers(const std::string& sql) {
        Ids out;
        Ref<ado::Recordset> rs = conn_->Execute(sql, nullptr, ado::adOptionUnspecified);
        for (; !rs->Eof(); rs->MoveNext()) out.push_back(CLng(rs->Fields()->At(0)->Value()));
        return out;
    }
    // "Connection Status": 1 while the link holds, 2 once the provider found it broken.
    std::int32_t Status() {
        return CLng(conn_->Properties()->FindItem(Variant("Connection Status"))->Value());
    }

  private:
    Ref<ado::Connection> conn_ = CreateObjectAs<ado::Connection>("ADODB.Connection");
};

// A table (id integer) of this process for one test, made by a witness so that it is committed before the
// session under test sees it.
struct FaultTable {
    FaultTable(const OdbcTarget& t, const std::string& base)
        : target(t), name(base + "_" + t.name + "_" + std::to_string(::getpid())) {
        Witness w(t);
        TryIgnore([&] { w.Run("DROP TABLE " + name); });
        w.Run("CREATE TABLE " + name + " (id integer PRIMARY KEY)");
    }
    ~FaultTable() {
        TryIgnore([&] { Witness(target).Run("DROP TABLE " + name); });
    }
    std::vector<std::int32_t> Ids() const {
        return Witness(target).Numbers("SELECT id FROM " + name + " ORDER BY id");
    }

    const OdbcTarget& target;
    std::string name;
};

// Runs `cut` on a thread of its own after `delay`, while the caller runs the statement it cuts into.
class CutLater {
  public:
    CutLater(std::chrono::milliseconds delay, std::function<void()> cut)
        : thread_([delay, cut = std::move(cut)] {
              std::this_thread::sleep_for(delay);
              try {
                  cut();
              } catch (const std::exception& e) {
                  ADD_FAILURE() << "the cut failed: " << e.what();
              }
          }) {}
    ~CutLater() { thread_.join(); }

  private:
    std::thread thread_;
};

class FaultPg : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { KORADO_REQUIRE_FAULT_SERVER(target()); }
    // PostgreSQL starts again however the test ends: the tests after it need the server.
    void TearDown() override {
        if (!IsSkipped()) Services("start pg");
    }
    const OdbcTarget& target() const { return GetOdbcTarget(GetParam()); }
    // The bridge reads a server cursor in blocks inside a transaction where the DSN asks for one.
    void Connect(Session& s) {
        const OdbcTarget& t = target();
        std::string source = t.Source() + (t.odbc_api ? "UseDeclareFetch=1;Fetch=2000;" : "");
        ASSERT_TRUE(s.Connect(source, t.user + "/" + t.password).ok);
        s.ado().SetDisplayAlerts(true);
    }
};

// The connection object reconnects on the next statement and says when work was lost; the platform
// connection itself (no reconnect) fails that statement with the provider's text and reads broken.
TEST_P(FaultPg, RestartBetweenStatementsReconnectsAndTellsOfLostWork) {
    const OdbcTarget& t = target();
    Witness w(t);
    EXPECT_EQ(w.Numbers("SELECT 1"), Ids{1});
    // What runs after the last commit, and whether the reconnect tells of lost work.
    struct Case {
        const char* name;
        std::function<void(Session&, const std::string& table)> work;
        bool told;
    } cases[] = {
        {"a query", [](Session& s, auto& table) { s.Execute("SELECT COUNT(*) FROM " + table); }, false},
        {"an insert", [](Session& s, auto& table) { s.Execute("INSERT INTO " + table + " VALUES (2)"); },
         true},
        {"an update", [](Session& s, auto& table) { s.Execute("UPDATE " + table + " SET id = 2"); }, true},
        {"a row added through a client cursor",
         [](Session& s, auto& table) {
             Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
             rs->SetCursorLocation(ado::adUseClient);
             rs->SetLockType(ado::adLockOptimistic);
             rs->Open(Variant("SELECT id FROM " + table), Variant(s.ado().Connection()));
             rs->AddNew();
             rs->Fields()->At(0)->SetValue(Variant(2));
             rs->Update();
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultTable table(t, "ko_fault_between");
        Session s;
        Connect(s);
        s.Execute("INSERT INTO " + table.name + " VALUES (1)");
        s.ado().Commit();
        c.work(s, table.name);
        ASSERT_TRUE(Services("restart pg"));
        // The lost row is not replayed.
        EXPECT_EQ(CLng(s.Scalar("SELECT COUNT(*) FROM " + table.name)), 1);
        EXPECT_TRUE(s.ado().IsConnected());
        EXPECT_EQ(Shown(s), RolledBack(c.told));
        s.Execute("INSERT INTO " + table.name + " VALUES (3)");
        s.ado().Commit();
        EXPECT_EQ(table.Ids(), (Ids{1, 3}));
    }
    std::optional<Error> e = RaisedError([&] { w.Numbers("SELECT 2"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Source(), t.error_source);
    EXPECT_FALSE(e->Description().empty());
    EXPECT_EQ(w.Status(), 2);
    EXPECT_EQ(Witness(t).Numbers("SELECT 3"), Ids{3});

    // With the server gone, the statement fails before it is built.
    Session s;
    Connect(s);
    ASSERT_TRUE(Services("stop pg"));
    e = RaisedError([&] { s.Execute("SELECT 3"); });
    ASSERT_TRUE(Services("start pg"));
    ExpectError(e, NoDBConnection, "korADO");
    EXPECT_EQ(e->Description(), "No live database connection");
}

// Restarted while a forward-only result is read: the bridge fetches blocks ahead on a thread and relays
// them, the native provider streams rows. Rows handed over stay right; the read ends with the platform's
// error, never a wrong or repeated row; the uncommitted row is gone and the host is told.
TEST_P(FaultPg, RestartInTheMiddleOfAForwardOnlyRead) {
    const OdbcTarget& t = target();
    FaultTable table(t, "ko_fault_read");
    Session s;
    Connect(s);
    s.Execute("INSERT INTO " + table.name + " VALUES (1)");
    constexpr int kRows = 400000;
    Ref<ado::Recordset> rs;
    s.Execute("SELECT g FROM generate_series(1, " + std::to_string(kRows) + ") AS s(g)", {}, &rs);
    ASSERT_TRUE(rs);
    int last = 0;
    std::optional<Error> failure = RaisedError([&] {
        for (; !rs->Eof(); rs->MoveNext()) {
            ASSERT_EQ(CLng(rs->Fields()->At(0)->Value()), last + 1);
            if (++last == 5000) ASSERT_TRUE(Services("restart pg"));
        }
    });
    ASSERT_TRUE(failure) << "read " << last << " rows";
    EXPECT_LT(last, kRows);
    EXPECT_EQ(failure->Source(), t.error_source);
    rs = nullptr;

    EXPECT_EQ(CLng(s.Scalar("SELECT COUNT(*) FROM " + table.name)), 0);
    EXPECT_EQ(Shown(s), RolledBack(true));
    EXPECT_EQ(table.Ids(), Ids{});
}

// The link cut while COMMIT runs (a deferred trigger makes it take seconds): the commit fails saying its
// outcome is unknown; the server rolled the transaction back, and the next statement reconnects without
// claiming more than the failure said.
TEST_P(FaultPg, LinkCutDuringTheCommitSaysTheOutcomeIsUnknown) {
    const OdbcTarget& t = target();
    for (const bool restart : {true, false}) {
        SCOPED_TRACE(restart ? "restart" : "pg_terminate_backend");
        FaultTable table(t, "ko_fault_commit");
        Witness killer(t);
        killer.Run(
            "CREATE OR REPLACE FUNCTION " + table.name +
            "_slow() RETURNS trigger LANGUAGE plpgsql AS 'BEGIN PERFORM pg_sleep(3); RETURN NULL; END'");
        killer.Run("CREATE CONSTRAINT TRIGGER slow AFTER INSERT ON " + table.name +
                   " DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION " + table.name + "_slow()");
        Session s;
        Connect(s);
        const std::string pid = std::to_string(CLng(s.Scalar("SELECT pg_backend_pid()")));
        s.Execute("INSERT INTO " + table.name + " VALUES (1)");
        std::optional<Error> e;
        {
            CutLater later(1s, [&] {
                if (restart) EXPECT_TRUE(Services("restart pg"));
                if (!restart) killer.Run("SELECT pg_terminate_backend(" + pid + ")");
            });
            e = RaisedError([&] { s.ado().Commit(); });
        }
        ExpectError(e, CommitError, "korADO");
        if (!e) continue;
        // "number:description" of the provider's failure.
        EXPECT_THAT(e->Description(),
                    ::testing::MatchesRegex("-?[0-9]+:The connection to the server was lost "
                                            "during the commit; whether the transaction was "
                                            "committed is unknown\\."));
        s.Execute("INSERT INTO " + table.name + " VALUES (2)");
        s.ado().Commit();
        EXPECT_EQ(Shown(s), RolledBack(false));
        EXPECT_EQ(table.Ids(), Ids{2});
        TryIgnore([&] { Witness(t).Run("DROP FUNCTION " + table.name + "_slow() CASCADE"); });
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, FaultPg, ::testing::Values("pg", "pgnative"),
                         [](const auto& info) { return info.param; });

// Row 1 committed and row 2 not when the cut comes; the cut statement would add row 9 after five seconds.
// A killed session loses row 2 and the reconnect says so; a killed statement leaves the session and its
// transaction as they were.
TEST(FaultMaria, KilledSessionsAndStatements) {
    const OdbcTarget& t = GetOdbcTarget("maria");
    KORADO_REQUIRE_FAULT_SERVER(t);
    struct Case {
        const char* kill;  // KILL CONNECTION or KILL QUERY
        bool during;       // during the slow statement, or between statements
        bool session_lost;
        const char* failure;  // the driver's text the interrupted statement fails with
    } cases[] = {
        {"KILL CONNECTION ", true, true, "Lost connection to server during query"},
        {"KILL CONNECTION ", false, true, ""},
        {"KILL QUERY ", true, false, "Query execution was interrupted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kill) + (c.during ? "during a slow insert" : "between statements"));
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
            CutLater later(1s, [&] { killer.Run(c.kill + id); });
            std::optional<Error> failure = RaisedError([&] { s.Execute(slow); });
            ExpectError(failure, ExecuteSQLError, "korADO");
            if (!failure) continue;
            EXPECT_THAT(failure->Description(), ::testing::EndsWith(c.failure));
        } else {
            killer.Run(c.kill + id);
        }

        EXPECT_EQ(CLng(s.Scalar("SELECT COUNT(*) FROM " + table.name)), c.session_lost ? 1 : 2);
        EXPECT_EQ(CLng(s.Scalar("SELECT CONNECTION_ID()")) == std::stol(id), !c.session_lost);
        EXPECT_EQ(Shown(s), RolledBack(c.session_lost));
        s.Execute("INSERT INTO " + table.name + " VALUES (3)");
        s.ado().Commit();
        EXPECT_EQ(table.Ids(), c.session_lost ? (Ids{1, 3}) : (Ids{1, 2, 3}));
    }
}

}  // namespace
}  // namespace korado::test
