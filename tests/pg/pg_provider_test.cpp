// The native PostgreSQL provider's own behaviour, against the PostgreSQL of scripts/services: its
// diagnostics, failed connects, statement-level rollback, interrupted reads and the marker scanner. What
// it shares with the bridge runs in the conformance tests (target "pgnative").
#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <cstdlib>
#include <thread>

#include "dataaccess/providers/odbc/odbc_provider.h"
#include "dataaccess/providers/pg/pg_provider.h"
#include "korado/runtime/convert.h"
#include "support/odbc_servers.h"

namespace korado::test {
namespace {

using dataaccess::Diagnostic;
using dataaccess::ExecuteOptions;
using dataaccess::ParamBinding;
using dataaccess::ProviderError;
using dataaccess::Session;
using dataaccess::Statement;

const OdbcTarget& Native() { return GetOdbcTarget("pgnative"); }

std::unique_ptr<Session> Open(const std::string& connection_string, std::string user, std::string password) {
    dataaccess::OpenRequest request;
    request.connection_string = dataaccess::ConnectionString::Parse(connection_string);
    request.user = std::move(user);
    request.password = std::move(password);
    request.connect_timeout_seconds = 5;
    return dataaccess::FindProvider("PostgreSQL")->Open(request);
}

std::unique_ptr<Session> Open() { return Open(Native().Source(), Native().user, Native().password); }

// Runs `sql`; the values of the first result's rows, column 0, as text.
std::vector<std::string> Column0(Session& session, const std::string& sql,
                                 std::vector<ParamBinding> params = {}, ExecuteOptions options = {}) {
    std::unique_ptr<Statement> st = session.Prepare(sql, options);
    st->Execute(params);
    std::vector<std::string> out;
    do {
        if (auto* cursor = st->Result()) {
            Variant v;
            while (cursor->Next()) {
                cursor->Read(0, v);
                out.push_back(v.IsNull() ? "<null>" : CStr(v));
            }
        }
    } while (st->NextResult());
    return out;
}

template <class F>
Diagnostic Failure(F&& body) {
    try {
        body();
    } catch (const ProviderError& e) {
        return e.Records().at(0);
    }
    ADD_FAILURE() << "no ProviderError";
    return {};
}

class PgNative : public ::testing::Test {
  protected:
    void SetUp() override {
        KORADO_REQUIRE_ODBC(Native());
        session_ = Open();
    }
    Session& session() { return *session_; }
    std::unique_ptr<Session> session_;
};

// The server's failure as the platform shows it: SQLSTATE, the bridge's number for it, the SQLSTATE again
// as NativeError, and the message with its DETAIL and HINT lines.
TEST_F(PgNative, ServerFailuresCarryTheirStateDetailAndHint) {
    const std::string table = "ko_pg_err_" + std::to_string(::getpid());
    Column0(session(), "DROP TABLE IF EXISTS " + table);
    Column0(session(), "CREATE TABLE " + table + " (id int PRIMARY KEY)");
    Column0(session(), "INSERT INTO " + table + " VALUES (1)");
    struct Case {
        std::string sql;
        const char* state;
        std::uint32_t number;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"INSERT INTO " + table + " VALUES (1)", "23505", 0x80040E2F,
         "duplicate key value violates unique constraint \"" /* ... */},
        {"SELECT no_such_function(1)", "42883", 0x80040E14,
         "function no_such_function(integer) does not exist"},
        {"SELECT 1/0", "22012", 0x80040E07, "division by zero"},
        {"SELECT * FROM ko_no_such_table", "42P01", 0x80040E14,
         "relation \"ko_no_such_table\" does not exist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        Diagnostic d = Failure([&] { Column0(session(), c.sql); });
        EXPECT_EQ(std::tuple(d.sql_state, d.number, d.source),
                  std::tuple(std::string(c.state), Hr(c.number), std::string("PostgreSQL Native Provider")));
        EXPECT_EQ(d.native_error, dataaccess::pg::NativeErrorForSqlState(c.state));
        EXPECT_EQ(dataaccess::pg::SqlStateForNativeError(d.native_error), c.state);
        EXPECT_EQ(d.description.rfind(c.text, 0), 0u) << d.description;
    }
    Diagnostic duplicate = Failure([&] { Column0(session(), cases[0].sql); });
    EXPECT_NE(duplicate.description.find("\nDETAIL:  Key (id)=(1) already exists."), std::string::npos);
    Diagnostic missing = Failure([&] { Column0(session(), cases[1].sql); });
    EXPECT_NE(missing.description.find("\nHINT:  No function matches"), std::string::npos);
    EXPECT_EQ(dataaccess::pg::NativeErrorForSqlState("42P01"), 6844177);
    EXPECT_EQ(dataaccess::pg::NativeErrorForSqlState("no"), 0);
    Column0(session(), "DROP TABLE " + table);
}

// Each wrong piece of a connection fails at once with libpq's or the server's own words.
TEST(PgNativeConnect, EachWrongPieceIsAClearError) {
    KORADO_REQUIRE_ODBC(Native());
    const std::string port = std::getenv("KORADO_PG_PORT") ? std::getenv("KORADO_PG_PORT") : "5432";
    const std::string user = Native().user, password = Native().password;
    struct Case {
        std::string source;
        std::string user, password;
        const char* state;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"no-such-host.invalid:" + port + "/korado", user, password, "08001",
         "could not translate host name"},
        {"127.0.0.1:1/korado", user, password, "08001", "Connection refused"},
        {"127.0.0.1:" + port + "/ko_no_such_db", user, password, "3D000",
         "database \"ko_no_such_db\" does not exist"},
        {"127.0.0.1:" + port + "/korado", "ko_no_such_user", password, "28P01", "ko_no_such_user"},
        {"127.0.0.1:" + port + "/korado", user, "wrong", "28P01", "password authentication failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " " + c.user);
        const auto start = std::chrono::steady_clock::now();
        Diagnostic d =
            Failure([&] { Open("Provider=PostgreSQL;Data Source=" + c.source, c.user, c.password); });
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
        EXPECT_EQ(d.sql_state, c.state) << d.description;
        EXPECT_EQ(d.number, dataaccess::odbc::NumberForSqlState(c.state));
        EXPECT_NE(d.description.find(c.says), std::string::npos) << d.description;
        EXPECT_EQ(d.description.find(password), std::string::npos);
    }
}

// Inside a transaction a failed, timed-out or cancelled statement undoes only itself: the work before and
// after it commits.
TEST_F(PgNative, AFailedStatementInsideATransactionKeepsTheTransaction) {
    const std::string table = "ko_pg_tx_" + std::to_string(::getpid());
    Column0(session(), "DROP TABLE IF EXISTS " + table);
    Column0(session(), "CREATE TABLE " + table + " (id int PRIMARY KEY)");
    struct Case {
        std::string sql;
        std::int32_t timeout;
        bool cancel;
        std::uint32_t number;
    };
    const std::vector<Case> cases = {
        {"INSERT INTO " + table + " VALUES (1)", 0, false, 0x80040E2F},  // a duplicate of the first row
        {"SELEC 1", 0, false, 0x80040E14},
        {"SELECT pg_sleep(5)", 1, false, 0x80040E31},
        {"SELECT pg_sleep(5)", 0, true, 0x80040E4E},
    };
    session().BeginTransaction();
    Column0(session(), "INSERT INTO " + table + " VALUES (1)");
    int id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        std::unique_ptr<Statement> st = session().Prepare(c.sql, {.timeout_seconds = c.timeout});
        std::thread canceller([&] {
            if (!c.cancel) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            session().Cancel();
        });
        Diagnostic d = Failure([&] { st->Execute({}); });
        canceller.join();
        EXPECT_EQ(d.number, Hr(c.number)) << d.sql_state << " " << d.description;
        Column0(session(), "INSERT INTO " + table + " VALUES (?)",
                {ParamBinding{.type = ado::adInteger, .value = Variant(++id)}});
    }
    session().Commit();
    EXPECT_EQ(Column0(session(), "SELECT count(*) FROM " + table), std::vector<std::string>{"5"});
    Column0(session(), "DROP TABLE " + table);
}

// A statement the session prepared before its table was made anew with other columns runs again, with the
// new columns' names and types, in and out of a transaction.
TEST_F(PgNative, AStatementRunsOnAfterItsTableIsMadeAnew) {
    const std::string table = "ko_pg_anew_" + std::to_string(::getpid());
    const std::string select = "SELECT * FROM " + table;
    Column0(session(), "DROP TABLE IF EXISTS " + table);
    for (bool in_transaction : {false, true}) {
        SCOPED_TRACE(in_transaction ? "in a transaction" : "autocommit");
        if (in_transaction) session().BeginTransaction();
        Column0(session(), "CREATE TABLE " + table + " (a int)");
        Column0(session(), "INSERT INTO " + table + " VALUES (1)");
        EXPECT_EQ(Column0(session(), select), std::vector<std::string>{"1"});
        Column0(session(), "DROP TABLE " + table);
        Column0(session(), "CREATE TABLE " + table + " (b text, c int)");
        Column0(session(), "INSERT INTO " + table + " VALUES ('two', 2)");
        std::unique_ptr<Statement> st = session().Prepare(select, {});
        st->Execute({});
        ASSERT_NE(st->Result(), nullptr);
        EXPECT_EQ(st->Result()->Columns().at(0).name, "b");
        EXPECT_EQ(st->Result()->Columns().at(0).base_column, "b");
        st.reset();
        EXPECT_EQ(Column0(session(), select), std::vector<std::string>{"two"});
        Column0(session(), "DROP TABLE " + table);
        if (in_transaction) session().Commit();
    }
}

// A result read row by row gives way to other statements of its session (its rest comes into memory) and
// may be left halfway: the next statement runs at once, not after the rest of a long answer.
TEST_F(PgNative, AStreamedReadGivesWayAndMayBeLeftHalfway) {
    std::unique_ptr<Statement> st = session().Prepare("SELECT g FROM generate_series(1, 20000) g", {});
    st->Execute({});
    auto* cursor = st->Result();
    ASSERT_NE(cursor, nullptr);
    Variant v;
    int n = 0;
    while (cursor->Next()) {
        cursor->Read(0, v);
        ASSERT_EQ(CLng(v), ++n);
        if (n == 10) EXPECT_EQ(Column0(session(), "SELECT 7"), std::vector<std::string>{"7"});
    }
    EXPECT_EQ(n, 20000);
    EXPECT_FALSE(st->NextResult());

    std::unique_ptr<Statement> endless =
        session().Prepare("SELECT 1 FROM pg_class a, pg_class b, pg_class c, pg_class d", {});
    endless->Execute({});
    ASSERT_TRUE(endless->Result()->Next());
    const auto start = std::chrono::steady_clock::now();
    endless.reset();
    EXPECT_EQ(Column0(session(), "SELECT 8"), std::vector<std::string>{"8"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(session().IsAlive());
}

// Values with the syntaxes' own characters, braced or quoted in the platform's string, reach libpq as one
// value each, and the conninfo text the connection shows reads back, through libpq's own parser, as the
// same keywords without the password.
TEST(PgNativeConnect, ValuesStayOneValueEach) {
    const auto cs = dataaccess::ConnectionString::Parse(
        "Data Source=h:5/db;User ID={a;Database=other};Password='p}}w''d=x';Initial Catalog=\"x' host=evil\";"
        "application_name={b\\c d};sslmode=disable");
    const auto keywords = dataaccess::pg::LibpqKeywords(cs, "", "", 0);
    const std::map<std::string, std::string> expected = {
        {"host", "h"},           {"port", "5"},          {"user", "a;Database=other"},
        {"password", "p}}w'd=x"}, {"dbname", "x' host=evil"}, {"application_name", "b\\c d"},
        {"sslmode", "disable"},   {"options", "-c DateStyle=ISO -c extra_float_digits=3"},
        {"client_encoding", "UTF8"}};
    const std::map<std::string, std::string> given(keywords.begin(), keywords.end());
    EXPECT_EQ(given, expected);

    char* error = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(dataaccess::pg::ConninfoText(keywords).c_str(), &error);
    ASSERT_TRUE(parsed) << error;
    std::map<std::string, std::string> read;
    for (PQconninfoOption* o = parsed; o->keyword; ++o)
        if (o->val) read[o->keyword] = o->val;
    PQconninfoFree(parsed);
    std::map<std::string, std::string> shown = expected;
    shown.erase("password");
    EXPECT_EQ(read, shown);
}

// `?` becomes $n only where it is a marker.
TEST(PgNativeMarkers, OnlyMarkersOutsideLiteralsIdentifiersAndCommentsAreNumbered) {
    struct Case {
        std::string in;
        std::string out;
        std::size_t markers;
        bool several;
    };
    const std::vector<Case> cases = {
        {"SELECT ?, ?", "SELECT $1, $2", 2, false},
        {"SELECT '?', \"a?\", ? -- ?\n", "SELECT '?', \"a?\", $1 -- ?\n", 1, false},
        {"SELECT /* ? */ 'it''s ?', ?", "SELECT /* ? */ 'it''s ?', $1", 1, false},
        {"SELECT E'\\'?', ?", "SELECT E'\\'?', $1", 1, false},
        {"SELECT $$ ? $$, $tag$ '? $tag$, ?", "SELECT $$ ? $$, $tag$ '? $tag$, $1", 1, false},
        {"SELECT ?; SELECT 2;", "SELECT $1; SELECT 2;", 1, true},
        {"SELECT 1; ", "SELECT 1; ", 0, false},
        {"SELECT jsonb '{}' ?| array['a']", "SELECT jsonb '{}' $1| array['a']", 1, false},
        {"SELECT {d '2020-01-02'}, {ts '2020-01-02 03:04:05'}, {fn ucase(?)}",
         "SELECT DATE '2020-01-02', TIMESTAMP '2020-01-02 03:04:05', ucase($1)", 1, false},
        {"SELECT * FROM a {oj LEFT JOIN b ON a.x = b.x} WHERE s LIKE 'a\\_%' {escape '\\'}",
         "SELECT * FROM a LEFT JOIN b ON a.x = b.x WHERE s LIKE 'a\\_%' ESCAPE '\\'", 0, false},
        {"SELECT '{a}', ARRAY[1] @> '{1}', {x}", "SELECT '{a}', ARRAY[1] @> '{1}', {x}", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        std::size_t markers = 0;
        bool several = false;
        EXPECT_EQ(dataaccess::pg::NumberMarkers(c.in, markers, several), c.out);
        EXPECT_EQ(std::tuple(markers, several), std::tuple(c.markers, c.several));
    }
}

}  // namespace
}  // namespace korado::test
