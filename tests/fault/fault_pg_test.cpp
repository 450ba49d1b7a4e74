// PostgreSQL restarted, or its session ended, under a connection object: through the ODBC bridge and the
// native provider. Each case states what the host sees, and a second connection checks what the server
// kept.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>

#include "fault/fault_servers.h"
#include "korado/errors/clsADOError.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado::test {
namespace {

using namespace std::chrono_literals;

class FaultPg : public ::testing::TestWithParam<std::string> {
  protected:
    const OdbcTarget& target() const { return GetOdbcTarget(GetParam()); }
    // The bridge reads a server cursor in blocks inside a transaction where the DSN asks for one.
    void Connect(Session& s) {
        const OdbcTarget& t = target();
        std::string source = t.Source() + (t.odbc_api ? "UseDeclareFetch=1;Fetch=2000;" : "");
        ASSERT_TRUE(s.Connect(source, t.user + "/" + t.password).ok);
        s.ado().SetDisplayAlerts(true);
    }
};

TEST_P(FaultPg, RestartBetweenStatementsReconnectsAndTellsOfLostWork) {
    const OdbcTarget& t = target();
    KORADO_REQUIRE_FAULT_SERVER(t);
    PgStartsAgain guard;
    // What runs after the last commit, and whether the reconnect tells of lost work.
    struct Case {
        const char* name;
        std::function<void(Session&, const std::string& table)> work;
        bool told;
    } cases[] = {
        {"a query", [](Session& s, const std::string& table) { s.Execute("SELECT COUNT(*) FROM " + table); },
         false},
        {"an insert",
         [](Session& s, const std::string& table) { s.Execute("INSERT INTO " + table + " VALUES (2)"); },
         true},
        {"an update",
         [](Session& s, const std::string& table) { s.Execute("UPDATE " + table + " SET id = 2"); }, true},
        {"a row added through a client cursor",
         [](Session& s, const std::string& table) {
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

        // The next statement finds the link dropped, reconnects and runs; the lost row is not replayed.
        EXPECT_EQ(CLng(s.Scalar("SELECT COUNT(*) FROM " + table.name)), 1);
        EXPECT_TRUE(s.ado().IsConnected());
        EXPECT_EQ(Shown(s),
                  c.told ? std::vector<std::string>{std::string(kRolledBack)} : std::vector<std::string>{});
        s.Execute("INSERT INTO " + table.name + " VALUES (3)");
        s.ado().Commit();
        EXPECT_EQ(table.Ids(), (Ids{1, 3}));
    }

    // With the server gone, the statement fails before it is built.
    Session s;
    Connect(s);
    ASSERT_TRUE(Services("stop pg"));
    std::optional<Error> e = RaisedError([&] { s.Execute("SELECT 3"); });
    ASSERT_TRUE(Services("start pg"));
    ASSERT_TRUE(e);
    ExpectError(e, NoDBConnection, "korADO");
    EXPECT_EQ(e->Description(), "No live database connection");
}

// The platform connection itself, without the connection object's reconnect: the statement after the
// restart fails with the provider's text, the status reads broken, and a new connection works.
TEST_P(FaultPg, RestartBetweenTwoStatementsBreaksThePlatformConnection) {
    const OdbcTarget& t = target();
    KORADO_REQUIRE_FAULT_SERVER(t);
    PgStartsAgain guard;
    Witness w(t);
    EXPECT_EQ(w.Numbers("SELECT 1"), Ids{1});
    ASSERT_TRUE(Services("restart pg"));
    std::optional<Error> e = RaisedError([&] { w.Numbers("SELECT 2"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Source(), t.error_source);
    EXPECT_FALSE(e->Description().empty());
    EXPECT_EQ(w.Status(), 2);
    EXPECT_EQ(Witness(t).Numbers("SELECT 3"), Ids{3});
}

// Restarted while a forward-only result is read: the bridge fetches blocks ahead on a thread and relays
// them, the native provider streams rows. Rows handed over stay right; the read ends with the platform's
// error, never a wrong or repeated row; the uncommitted row is gone and the host is told.
TEST_P(FaultPg, RestartInTheMiddleOfAForwardOnlyRead) {
    const OdbcTarget& t = target();
    KORADO_REQUIRE_FAULT_SERVER(t);
    PgStartsAgain guard;
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
    EXPECT_EQ(Shown(s), std::vector<std::string>{std::string(kRolledBack)});
    EXPECT_EQ(table.Ids(), Ids{});
}

// The link cut while COMMIT runs (a deferred trigger makes it take seconds): the commit fails saying its
// outcome is unknown; the server rolled the transaction back, and the next statement reconnects without
// claiming more than the failure said.
TEST_P(FaultPg, LinkCutDuringTheCommitSaysTheOutcomeIsUnknown) {
    const OdbcTarget& t = target();
    KORADO_REQUIRE_FAULT_SERVER(t);
    PgStartsAgain guard;
    enum class Cut { kRestart, kTerminate };
    for (Cut cut : {Cut::kRestart, Cut::kTerminate}) {
        SCOPED_TRACE(cut == Cut::kRestart ? "restart" : "pg_terminate_backend");
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
                if (cut == Cut::kRestart) {
                    EXPECT_TRUE(Services("restart pg"));
                } else {
                    killer.Run("SELECT pg_terminate_backend(" + pid + ")");
                }
            });
            e = RaisedError([&] { s.ado().Commit(); });
        }
        ASSERT_TRUE(e);
        ExpectError(e, CommitError, "korADO");
        // "number:description" of the provider's failure.
        EXPECT_THAT(e->Description(),
                    ::testing::MatchesRegex("-?[0-9]+:The connection to the server was lost "
                                            "during the commit; whether the transaction was "
                                            "committed is unknown\\."));
        s.Execute("INSERT INTO " + table.name + " VALUES (2)");
        s.ado().Commit();
        EXPECT_EQ(Shown(s), std::vector<std::string>{});
        EXPECT_EQ(table.Ids(), Ids{2});
        TryIgnore([&] { Witness(t).Run("DROP FUNCTION " + table.name + "_slow() CASCADE"); });
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, FaultPg, ::testing::Values("pg", "pgnative"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace korado::test
