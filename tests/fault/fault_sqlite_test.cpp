// SQLite files in trouble under a session: locked by another connection, read-only, full, corrupt. Each case
// states what the host sees (error number, source, description) and checks the file afterwards from a
// connection of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "korado/errors/clsADOError.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado {
namespace {

using Clock = std::chrono::steady_clock;
using test::Session;

// What the host is told about a failed operation: the error raised to it, else the message shown, else the
// report handed to the error component.
struct Seen {
    std::int32_t number = 0;
    std::string source, description;
    bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Seen& s) {
    return out << s.number << " / " << s.source << " / " << s.description;
}

Seen HostSees(Session& s, const std::function<void()>& operation) {
    s.boxes().Clear();
    s.errors().Clear();
    if (std::optional<Error> e = test::RaisedError(operation))
        return {e->Number(), e->Source(), e->Description()};
    if (!s.boxes().Shown().empty()) return {0, "message box", s.boxes().Shown().back().text};
    if (!s.errors().Reports().empty()) {
        const auto& r = s.errors().Reports().back();
        return {r.number, r.source, r.description};
    }
    return {};
}

// A dynaset over the query, read to the end; raises what the dynaset raised.
void ReadAll(Session& s, const std::string& sql) {
    Ref<clsDynasetADO> d = s.Dynaset(sql);
    while (d && !d->EOF_()) d->MoveNext();
}

// A connection of the test's own, closed with the object.
struct Raw {
    explicit Raw(const std::string& file, int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) {
        sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
    }
    ~Raw() { sqlite3_close_v2(db); }
    int Exec(const std::string& sql) { return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr); }
    // The first column of the first row, as text; the error message when the query fails.
    std::string Text(const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        std::string out;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        else
            out = sqlite3_errmsg(db);
        sqlite3_finalize(st);
        return out;
    }
    sqlite3* db = nullptr;
};

// An insert of `count` rows numbered from `first`, each with a blob of `size` bytes.
std::string Rows(int first, int count, int size) {
    return "with recursive s(v) as (select " + std::to_string(first) +
           " union all select v + 1 from s where v < " + std::to_string(first + count - 1) +
           ") insert into t (n, b) select v, randomblob(" + std::to_string(size) + ") from s";
}

std::string Afterwards(const std::string& file, const std::string& sql) {
    return Raw(file, SQLITE_OPEN_READONLY).Text(sql);
}

class SqliteFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        Raw raw(file);
        ASSERT_EQ(raw.Exec("create table t (n integer primary key, b blob); insert into t (n) values (1)"),
                  SQLITE_OK);
    }
    test::TempDir dir;
    std::string file = dir.File("faults.db");
};

TEST_F(SqliteFaults, ALockedDatabaseWaitsOutTheBusyTimeoutThenFailsAndWorksOnceReleased) {
    struct Case {
        const char* name;
        const char* lock;  // what the other connection holds
        std::function<void(Session&)> operation;
        Seen seen;
    };
    const Case cases[] = {
        {"an insert under another's write transaction",
         "begin immediate; insert into t (n) values (99)",
         [](Session& s) { s.Execute("insert into t (n) values (2)"); },
         {ExecuteSQLError, "korADO", "database is locked"}},
        {"a read under another's exclusive lock",
         "begin exclusive",
         [](Session& s) { ReadAll(s, "select n from t"); },
         {0, "message box", "-2147467259: database is locked\r\n\r\nSQL=\"select n from t\""}},
    };
    constexpr int kBusyMs = 600;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(
            s.Connect(test::SqliteConnectionString(file) + ";Busy Timeout=" + std::to_string(kBusyMs)).ok);
        auto other = std::make_unique<Raw>(file);
        ASSERT_EQ(other->Exec(c.lock), SQLITE_OK) << sqlite3_errmsg(other->db);
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(HostSees(s, [&] { c.operation(s); }), c.seen);
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_GE(waited, kBusyMs * 9 / 10);
        EXPECT_LT(waited, kBusyMs + 3000);
        other.reset();  // the lock goes, the other's work is rolled back
        EXPECT_EQ(HostSees(s, [&] { c.operation(s); }), Seen{});
        s.ado().Commit();
    }
    EXPECT_EQ(Afterwards(file, "select group_concat(n) from t"), "1,2");
}

TEST_F(SqliteFaults, AReadOnlyDatabaseReadsAndRefusesWritesWithNothingHalfDone) {
    // The superuser writes whatever the modes say: there the file is opened read-only through the
    // connection string instead.
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* name;
        bool by_mode;  // chmod the file and its folder; otherwise Mode=Read
    };
    for (const Case c : {Case{"file 0444 in a folder 0555", true}, Case{"opened with Mode=Read", false}}) {
        SCOPED_TRACE(c.name);
        if (c.by_mode && root) {
            std::cout << "[ SKIPPED  ] " << c.name << ": running as root, modes do not stop writes\n";
            continue;
        }
        const std::string folder = std::filesystem::path(file).parent_path();
        // Writable again however the case ends, so that the folder can be removed.
        std::shared_ptr<void> restore(nullptr, [&](void*) {
            ::chmod(folder.c_str(), 0755);
            ::chmod(file.c_str(), 0644);
        });
        if (c.by_mode) {
            ::chmod(file.c_str(), 0444);
            ::chmod(folder.c_str(), 0555);
        }
        {
            Session s;
            ASSERT_TRUE(s.Connect(test::SqliteConnectionString(file) + (c.by_mode ? "" : ";Mode=Read")).ok);
            EXPECT_EQ(CStr(s.Scalar("select count(*) from t")), "1");
            EXPECT_EQ(HostSees(s, [&] { s.Execute("insert into t (n) values (2)"); }),
                      (Seen{ExecuteSQLError, "korADO", "attempt to write a readonly database"}));
            EXPECT_EQ(HostSees(s, [&] { ReadAll(s, "select n from t"); }), Seen{});
        }
        EXPECT_EQ(Afterwards(file, "select group_concat(n) from t"), "1");
        EXPECT_FALSE(std::filesystem::exists(file + "-journal"));
    }
}

TEST_F(SqliteFaults, AFullDiskFailsTheBigInsertAndKeepsTheCommittedRows) {
    {
        Raw raw(file);
        raw.Exec(Rows(2, 99, 100));
    }
    // A file size limit stands in for a full file system: a write past it fails with EFBIG (the signal it
    // would send is ignored), which SQLite reports as an I/O error; ENOSPC, and a database at its page
    // limit, read "database or disk is full".
    struct Case {
        const char* name;
        bool size_limit;  // otherwise a page limit
        Seen seen;
    };
    const Case cases[] = {
        {"file size limit", true, {ExecuteSQLError, "korADO", "disk I/O error"}},
        {"page limit", false, {ExecuteSQLError, "korADO", "database or disk is full"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(s.Connect(test::SqliteConnectionString(file)).ok);
        const auto size = static_cast<rlim_t>(std::filesystem::file_size(file));
        if (!c.size_limit) s.Execute("pragma max_page_count = " + std::to_string(size / 4096 + 16));
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const auto previous = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old;
        if (c.size_limit) limit.rlim_cur = size + 64 * 1024;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const Seen seen = HostSees(s, [&] { s.Execute(Rows(1000, 20000, 1000)); });
        ::setrlimit(RLIMIT_FSIZE, &old);
        ::signal(SIGXFSZ, previous);
        EXPECT_EQ(seen, c.seen);
        s.ado().Rollback();
        EXPECT_EQ(CStr(s.Scalar("select count(*) from t")), "100");
    }
    EXPECT_EQ(Afterwards(file, "select count(*) from t"), "100");
    EXPECT_EQ(Afterwards(file, "pragma integrity_check"), "ok");
}

TEST_F(SqliteFaults, ACorruptFileFailsClearlyWithoutACrashOrAHang) {
    {
        Raw raw(file);
        raw.Exec(Rows(2, 2000, 200));
    }
    // Pages in the middle of the table overwritten.
    {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(std::filesystem::file_size(file) / 2));
        const std::string junk(16384, '\xA5');
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    const std::string not_database = dir.File("notes.db");
    std::ofstream(not_database) << std::string(8192, 'x');

    struct Case {
        const char* name;
        std::string file;
        Seen connect, read;
    };
    const Case cases[] = {
        {"bytes overwritten in the middle",
         file,
         {},
         {0, "message box",
          "-2147467259: database disk image is malformed\r\n\r\nSQL=\"select n, b from t\""}},
        {"not a database at all", not_database, {ConnectionError, "korADO", "file is not a database"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Clock::time_point start = Clock::now();
        Session s;
        EXPECT_EQ(HostSees(s, [&] { s.Connect(test::SqliteConnectionString(c.file)); }), c.connect);
        if (c.connect == Seen{}) EXPECT_EQ(HostSees(s, [&] { ReadAll(s, "select n, b from t"); }), c.read);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    }
    EXPECT_NE(Afterwards(file, "pragma integrity_check"), "ok");
}

}  // namespace
}  // namespace korado
