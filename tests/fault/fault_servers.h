// What the server fault tests share: the servers' script, a guard that brings PostgreSQL back, and a
// second, independent connection that looks at what the database holds afterwards.
#pragma once

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

#include "korado/errors/modErrorHandler.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/odbc_servers.h"
#include "support/session.h"

namespace korado::test {

using Ids = std::vector<std::int32_t>;

// What the host is told when a reconnect finds that the dropped link took uncommitted work with it.
inline constexpr std::string_view kRolledBack =
    "The connection to the database was lost and has been re-established. The changes made since the last "
    "commit were rolled back by the server and have not been applied again.";

// The texts of the message boxes the host was shown.
inline std::vector<std::string> Shown(Session& s) {
    std::vector<std::string> texts;
    for (const auto& box : s.boxes().Shown()) texts.push_back(box.text);
    return texts;
}

// Runs `scripts/services <arguments>`; true when it succeeded.
inline bool Services(std::string_view arguments) {
    return std::system(ServicesCommand(ServicesScript(), arguments).c_str()) == 0;
}

// Starts PostgreSQL again when the test ends, however it ends: the tests after it need the server.
struct PgStartsAgain {
    ~PgStartsAgain() { Services("start pg"); }
};

// Skips (in CI: fails) unless `target` answers and the servers' script is known.
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
    // Column 0 of every row of `sql`, as numbers.
    std::vector<std::int32_t> Numbers(const std::string& sql) {
        std::vector<std::int32_t> out;
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

// A table of this process (id integer) for one test, dropped when it ends; made by a witness, so that it
// is committed before the session under test sees it.
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
    // The ids a second connection finds, in order.
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

}  // namespace korado::test
