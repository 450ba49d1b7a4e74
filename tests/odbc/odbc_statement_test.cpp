// Statements through the ODBC bridge against the three DSNs: typed values both ways, Unicode, long values,
// block fetching, a function's return value, failures in a transaction, time-outs, schema rowsets and lost
// connections.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>

#include "dataaccess/providers/odbc/odbc_cursor.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/strings.h"
#include "odbc/odbc_test_util.h"

namespace korado::test {
namespace {

using dataaccess::Diagnostic;
using dataaccess::odbc::OdbcCursor;

// Drops what a test created, before it starts and when it ends, also when it fails halfway.
struct Cleanup {
    Cleanup(Session& s, std::vector<std::string> drops) : session(s), statements(std::move(drops)) { Run(); }
    ~Cleanup() { Run(); }
    void Run() {
        for (const std::string& s : statements) RunQuietly(session, s);
    }

    Session& session;
    std::vector<std::string> statements;
};

// A table of this process for one test, created with `columns` and dropped when the test ends.
struct Scratch {
    Scratch(Session& session, const std::string& base, const std::string& columns)
        : name(Unique(base)), cleanup(session, {"DROP TABLE " + name}) {
        RunSql(session, "CREATE TABLE " + name + " " + columns);
    }
    std::string name;
    Cleanup cleanup;
};

std::unique_ptr<Statement> Executed(Session& session, const std::string& sql) {
    std::unique_ptr<Statement> st = session.Prepare(sql, {});
    st->Execute({});
    return st;
}

// A row-returning statement over n generated rows (g = 1..n, and text that depends on g).
std::string Series(const OdbcTarget& t, int n, const std::string& text_expression) {
    std::string count = std::to_string(n);
    if (t.IsPostgreSQL()) {
        // A plain text expression would be psqlODBC's unlimited text (long data); a sized varchar is not.
        return "SELECT g, (" + text_expression + ")::varchar(40) AS t FROM generate_series(1, " + count +
               ") AS s(g)";
    }
    if (t.name == "maria") {
        // MariaDB stops recursive queries at max_recursive_iterations (1000); its sequence tables do not.
        return "SELECT g, " + text_expression + " AS t FROM (SELECT seq AS g FROM seq_1_to_" + count +
               ") AS s";
    }
    return "WITH RECURSIVE s(g) AS (SELECT 1 UNION ALL SELECT g + 1 FROM s WHERE g < " + count +
           ") SELECT g, " + text_expression + " AS t FROM s";
}

// The first value of a query's first row, as a number.
std::int32_t Number(Session& session, std::string_view sql) {
    return CLng(RunSql(session, sql).rows.at(0).at(0));
}

// Reads `cursor` on from row n + 1 until it ends or `stop` rows are read, checking that column 0 counts the
// rows; `each` runs after every row with its number, and the first failure stops the read. `n` stays right
// when a row throws.
void ReadInOrder(Cursor& cursor, int& n, int stop = 1 << 30, const std::function<void(int)>& each = {}) {
    Variant g;
    while (n < stop && cursor.Next()) {
        cursor.Read(0, g);
        EXPECT_EQ(CLng(g), ++n);
        if (each) each(n);
        if (::testing::Test::HasFailure()) return;
    }
}

// ---- values --------------------------------------------------------------------------------------------

TEST_P(OdbcTest, TypedValuesRoundTrip) {
    const OdbcTarget& t = target();
    std::string dbl = t.IsPostgreSQL() ? "double precision" : "double";
    std::string bin = t.IsPostgreSQL() ? "bytea" : t.name == "maria" ? "varbinary(64)" : "blob";
    Scratch scratch(session(), "korado_types",
                    "(id integer PRIMARY KEY, i integer, b bigint, d " + dbl +
                        ", n numeric(12,3), s varchar(40), dt date, ts " + t.timestamp_type + ", f " +
                        t.bool_type + ", bin " + bin + ", txt " + t.text_type + ")" +
                        t.unicode_table_options);
    const std::string& table = scratch.name;

    const Date day = DateSerial(2024, 5, 17);
    const Date stamp = DateFromParts({2024, 5, 17, 13, 45, 30, 0.25});
    const Bytes bytes = {0, 1, 2, 0x7F, 0x80, 0xFF};
    // Latin, Greek, CJK and two characters outside the BMP (4 bytes in UTF-8, a surrogate pair in UTF-16).
    const std::string text = "Grüße Ελλάδα 日本 😀🚀";
    std::string insert = "INSERT INTO " + table + " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    // Each type, then every type's NULL, then adVariant taking its type from the value.
    std::vector<ParamBinding> rows[3] = {
        {In(ado::adInteger, 1), In(ado::adInteger, -123456), In(ado::adBigInt, 9007199254740993LL),
         In(ado::adDouble, 1.5e10), In(ado::adNumeric, Decimal{1234567, 3}), In(ado::adVarWChar, text, 40),
         In(ado::adDBDate, day), In(ado::adDBTimeStamp, stamp), In(ado::adBoolean, true),
         In(ado::adVarBinary, bytes, 64), In(ado::adLongVarWChar, text)},
        {},
        {In(ado::adVariant, 3), In(ado::adVariant, 7), In(ado::adVariant, 1LL << 40), In(ado::adVariant, 0.5),
         In(ado::adVariant, Decimal{-5, 1}), In(ado::adVariant, "variant"), In(ado::adVariant, day),
         In(ado::adVariant, stamp), In(ado::adVariant, false), In(ado::adVariant, Bytes{9, 8}),
         In(ado::adVariant, "t")}};
    rows[0][4].precision = 12;
    rows[0][4].scale = 3;
    rows[1] = rows[0];
    for (ParamBinding& p : rows[1]) p.value = Variant::Null();
    rows[1][0] = In(ado::adVariant, 2);
    for (const auto& row : rows) EXPECT_EQ(RunSql(session(), insert, row).affected, 1);

    Outcome out = RunSql(session(), "SELECT * FROM " + table + " ORDER BY id");
    ASSERT_EQ(out.rows.size(), 3u);
    ASSERT_EQ(out.columns.size(), 11u);
    // Each column's type where every driver describes it alike (0: checked below, or not at all).
    const std::int32_t types[] = {
        0, ado::adInteger, ado::adBigInt,     ado::adDouble, t.exact_numeric ? ado::adNumeric : 0,
        0, ado::adDBDate,  ado::adDBTimeStamp};
    for (std::size_t i = 1; i < 8; ++i)
        if (types[i]) EXPECT_EQ(out.columns[i].type, types[i]) << "column " << i;
    if (t.exact_numeric) {
        EXPECT_EQ(out.columns[4].precision, 12);
        EXPECT_EQ(out.columns[4].scale, 3);
    }
    EXPECT_TRUE(out.columns[5].type == ado::adVarWChar || out.columns[5].type == ado::adVarChar);
    EXPECT_EQ(out.columns[5].defined_size, 40);
    EXPECT_NE(out.columns[10].attributes & ado::adFldLong, 0);

    // The typed row and the adVariant row as bound (a numeric comes back at its column's scale); booleans
    // compared as truth values (MariaDB and SQLite keep numbers), numerics as doubles where the column holds
    // one.
    for (std::size_t row : {0u, 2u}) {
        const std::vector<Variant>& got = out.rows[row];
        for (std::size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE("row " + std::to_string(row) + " column " + std::to_string(i));
            const Variant want = row == 2 && i == 4 ? Variant(Decimal{-500, 3}) : rows[row][i].value;
            if (i == 8) {
                EXPECT_EQ(CBool(got[i]), CBool(want));
            } else if (i == 4 && !t.exact_numeric) {
                EXPECT_DOUBLE_EQ(CDbl(got[i]), CDbl(want));
            } else {
                EXPECT_EQ(got[i], want) << Text(got[i]);
            }
        }
    }
    if (t.IsPostgreSQL()) {
        EXPECT_EQ(out.rows[0][8], Variant(true));  // a real boolean column (BoolsAsChar=0)
        for (std::size_t i = 1; i < out.rows[1].size(); ++i)
            EXPECT_TRUE(out.rows[1][i].IsNull()) << "column " << i;
    }

    // Comparing with a parameter of each kind finds the row, and so does text written into the statement; a
    // length counts characters, not bytes or UTF-16 units.
    const std::string name = "größe";
    Outcome found =
        RunSql(session(),
               "SELECT id, " + std::string(t.name == "sqlite" ? "length" : "char_length") + "(s) AS " + name +
                   " FROM " + table + " WHERE i = ? AND s = ? AND dt = ? AND txt = '" + text + "'",
               {In(ado::adInteger, -123456), In(ado::adVarWChar, text, 40), In(ado::adDBDate, day)});
    ASSERT_EQ(found.rows.size(), 1u);
    EXPECT_EQ(CLng(found.rows[0][0]), 1);
    EXPECT_EQ(CLng(found.rows[0][1]), static_cast<std::int32_t>(Len(text)));
    EXPECT_EQ(found.columns[1].name, name);
}

TEST_P(OdbcTest, LongTextAndBinaryValues) {
    const OdbcTarget& t = target();
    Scratch table(session(), "korado_long",
                  "(id integer, x " + t.text_type + ", b " + t.blob_type + ")" + t.unicode_table_options);
    // Long enough for many chunks, with 4-byte characters at varying offsets so that some straddle a chunk
    // boundary.
    std::string text;
    for (int i = 0; text.size() < 600000; ++i)
        text += "line " + std::to_string(i) + " \xF0\x9F\x98\x80 \xC3\xA9\n";
    Bytes blob(1 << 20);
    std::mt19937 random(12345);
    for (auto& b : blob) b = static_cast<std::uint8_t>(random());
    RunSql(session(), "INSERT INTO " + table.name + " VALUES (1, ?, ?)",
           {In(ado::adLongVarWChar, text), In(ado::adLongVarBinary, blob)});

    Outcome out = RunSql(session(), "SELECT id, x, b FROM " + table.name);
    ASSERT_EQ(out.rows.size(), 1u);
    // Compared whole, with the sizes read for a message short enough to show.
    const Bytes* got = out.rows[0][2].get_if<Bytes>();
    EXPECT_TRUE(out.rows[0][1] == Variant(text)) << Text(out.rows[0][1]).size() << " of " << text.size();
    EXPECT_TRUE(got && *got == blob) << (got ? got->size() : 0) << " of " << blob.size();
    EXPECT_NE(out.columns[1].attributes & ado::adFldLong, 0);
    // The SQLite3 driver describes a BLOB as BINARY(255), whatever it holds.
    if (t.name != "sqlite") {
        EXPECT_NE(out.columns[2].attributes & ado::adFldLong, 0);
    }
}

// ---- fetching ------------------------------------------------------------------------------------------

// Each round is left inside the third block or later, while the next block may be on its way, and the same
// statement runs again; the last round reads to the end with other statements running between blocks and
// inside them on the same connection. Their work is committed while the read goes on, though psqlODBC streams
// the result through a cursor inside a transaction of its own.
TEST_P(OdbcTest, ALongReadComesInOrderBesideOtherStatementsAndMayBeLeftHalfway) {
    const OdbcTarget& t = target();
    if (!t.odbc_api) GTEST_SKIP() << "the bridge's read-ahead";
    Scratch table(session(), "korado_beside", "(id integer)");
    std::unique_ptr<Session> other = OpenSession(t);
    std::unique_ptr<Statement> st =
        session().Prepare(Series(t, 6000, t.name == "maria" ? "CONCAT('row ', g)" : "('row ' || g)"), {});
    for (int round = 0; round < 4; ++round) {
        st->Execute({});
        OdbcCursor& cursor = dynamic_cast<OdbcCursor&>(*st->Result());
        const bool whole = round == 3;
        const int stop = whole ? 6000 : 1234 + round * 500;
        Variant text;
        int n = 0;
        ReadInOrder(cursor, n, stop, [&](int row) {
            cursor.Read(1, text);
            cursor.Read(1, text);  // twice, as a Fields collection may
            EXPECT_EQ(Text(text), "row " + std::to_string(row));
            // A server's rows are fetched ahead once a read has gone past two blocks.
            if (row == 1200) {
                EXPECT_EQ(cursor.ReadsAhead(), t.name != "sqlite");
            }
            if (whole && row % 700 == 0) {
                RunSql(session(), "INSERT INTO " + table.name + " VALUES (?)", {In(ado::adInteger, row)});
                EXPECT_EQ(Number(session(), "SELECT COUNT(*) FROM " + table.name), row / 700);
                EXPECT_EQ(Number(*other, "SELECT COUNT(*) FROM " + table.name), row / 700) << "not committed";
            }
        });
        ASSERT_EQ(n, stop);
        if (!whole) continue;
        EXPECT_FALSE(cursor.Next());
        // Drivers that can reread a truncated value inside a block (SQL_GD_BLOCK) fetch hundreds of rows at
        // a time; the SQLite3 driver cannot, and reads its text a row at a time.
        EXPECT_TRUE(t.name == "sqlite" ? cursor.BlockRows() == 1u : cursor.BlockRows() >= 100u)
            << cursor.BlockRows();
        EXPECT_FALSE(st->NextResult());
    }
}

TEST_P(OdbcTest, ValuesLongerThanTheirDescribedSizeAreReadWhole) {
    const OdbcTarget& t = target();
    if (t.name == "maria") GTEST_SKIP() << "MariaDB describes every value within its size";
    // psqlODBC describes a length-less varchar as MaxVarcharSize (255) characters. Long values in the first
    // block are read again while it is the driver's only one; short ones in the second let the blocks after
    // it be fetched ahead, where the long values come back. SQLite stores whatever it is given: the declared
    // size is only a word.
    auto want = [&](int g) {
        if (t.name == "sqlite") return std::string(static_cast<std::size_t>(10 + g * 7), 'x');
        std::string s;
        for (int n = g <= 300 || g > 1000 ? 250 + g % 400 : 5; n > 0; --n) s += "\xC3\xA9";
        return s;
    };
    std::string sql =
        "SELECT g, repeat('\xC3\xA9', CASE WHEN g <= 300 OR g > 1000 THEN 250 + g % 400 ELSE 5 END)::varchar "
        "AS t "
        "FROM generate_series(1, 2200) g";
    std::unique_ptr<Scratch> table;
    if (t.name == "sqlite") {
        table = std::make_unique<Scratch>(session(), "korado_sizes", "(g integer, t varchar(10))");
        RunSql(session(),
               "INSERT INTO " + table->name + " " +
                   Series(t, 30, "substr(replace(hex(zeroblob(10 + g * 7)), '0', 'x'), 1, 10 + g * 7)"));
        sql = "SELECT g, t FROM " + table->name + " ORDER BY g";
    }
    const Rows rows = ReadAll(*Executed(session(), sql)->Result());
    ASSERT_EQ(rows.size(), t.name == "sqlite" ? 30u : 2200u);
    for (int g = 1; g <= static_cast<int>(rows.size()); ++g)
        ASSERT_EQ(Text(rows[g - 1][1]), want(g)) << "row " << g;
}

// psqlODBC's rows 1..`rows`: g, a text, a varchar past the size the driver describes (255) in rows 15000 and
// 27321, and 1000000 / `divisor`.
std::string PgRows(int rows, const char* divisor) {
    return "SELECT g, ('row ' || g)::varchar(20) AS t, CASE WHEN g IN (15000, 27321) THEN "
           "repeat('\xC3\xA9', 300) ELSE 'x' END::varchar AS l, 1000000 / (" +
           std::string(divisor) + ") AS q FROM generate_series(1, " + std::to_string(rows) + ") g";
}

// psqlODBC's rows of a division by (25000 - g), read in order: PostgreSQL's failure reaches the client in a
// later block, after every row of the blocks before it and after blocks fetched ahead; the session goes on.
void ExpectDivisionByZero(Session& session, const std::function<void(int)>& each = {}) {
    std::unique_ptr<Statement> st = Executed(session, PgRows(30000, "25000 - g"));
    int n = 0;
    const Diagnostic d = FirstRecord([&] { ReadInOrder(*st->Result(), n, 1 << 30, each); });
    EXPECT_GE(n, 20000);
    EXPECT_LT(n, 25000);
    EXPECT_EQ(d.sql_state, "22012");
    EXPECT_NE(d.description.find("division by zero"), std::string::npos) << d.description;
    st.reset();
    EXPECT_EQ(Number(session, "SELECT 7"), 7);
}

TEST_P(OdbcTest, ALongPostgreSQLReadInsideATransactionTakesTheRowsAfterTheDriversFirstFetchItself) {
    // Outside a transaction psqlODBC reads through its server cursor ten thousand rows at a time itself.
    // Inside one the rows after its first FETCH come from the cursor's own FETCHes of the driver's server
    // cursor: every row once and in order, whatever else runs on the session, with values the driver
    // truncated read again from the handle they came from, and failures with the server's text.
    if (target().name != "pg") GTEST_SKIP() << "only psqlODBC reads through a server cursor of its own";
    ExpectDivisionByZero(session());
    Scratch table(session(), "korado_relay", "(id integer)");
    session().BeginTransaction();
    RunSql(session(), "INSERT INTO " + table.name + " VALUES (1)");
    for (int rows : {34567, 20000}) {
        std::unique_ptr<Statement> st = Executed(session(), PgRows(rows, "1"));
        OdbcCursor& cursor = dynamic_cast<OdbcCursor&>(*st->Result());
        Variant text, l;
        int n = 0;
        ReadInOrder(cursor, n, 1 << 30, [&](int row) {
            cursor.Read(1, text);
            cursor.Read(2, l);
            EXPECT_EQ(Text(text), "row " + std::to_string(row));
            EXPECT_EQ(Len(Text(l)), row == 15000 || row == 27321 ? 300u : 1u) << "row " << row;
            if (row == 12000) {
                EXPECT_TRUE(cursor.FetchesByName());
            }
            if (row % 7000 == 0) {
                RunSql(session(), "INSERT INTO " + table.name + " VALUES (?)", {In(ado::adInteger, row)});
                EXPECT_EQ(Number(session(), "SELECT COUNT(*) FROM " + table.name), 2);
                RunSql(session(), "DELETE FROM " + table.name + " WHERE id > 1");
            }
        });
        EXPECT_EQ(n, rows);
    }
    // The transaction committed in the middle of the read: psqlODBC's cursor is held over the commit, and
    // the read goes on to the end.
    std::unique_ptr<Statement> st = Executed(session(), PgRows(26000, "1"));
    int n = 0;
    ReadInOrder(*st->Result(), n, 30000, [&](int row) {
        if (row == 13000) session().Commit();
    });
    EXPECT_EQ(n, 26000);
    session().BeginTransaction();
    RunSql(session(), "INSERT INTO " + table.name + " VALUES (2)");
    // Left halfway through the FETCHes by name, then the statement again.
    st = Executed(session(), PgRows(30000, "1"));
    n = 0;
    ReadInOrder(*st->Result(), n, 15500);
    ASSERT_EQ(n, 15500);
    st->Execute({});
    EXPECT_EQ(ReadAll(*st->Result()).size(), 30000u);
    // A failure inside a FETCH by name: the server's text and every row before it; the transaction and its
    // earlier work stay, and the session's statements work while the failed FETCH waits for the reader.
    st.reset();
    ExpectDivisionByZero(session(), [&](int row) {
        if (row != 19500) return;
        // The FETCH of the rows after 20000 has failed by now, ahead of the reader.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        RunSql(session(), "INSERT INTO " + table.name + " VALUES (5)");
    });
    EXPECT_EQ(Number(session(), "SELECT COUNT(*) FROM " + table.name), 3);
    RunSql(session(), "INSERT INTO " + table.name + " VALUES (3)");
    session().Commit();
    EXPECT_EQ(Number(session(), "SELECT SUM(id) FROM " + table.name), 11);
}

// ---- results and parameters ----------------------------------------------------------------------------

// A PostgreSQL function's return value through the call escape, listed after the inputs. (Procedures with
// results and output values: odbc_platform_test.cpp.)
TEST_P(OdbcTest, AFunctionsReturnValueThroughTheCallEscape) {
    if (!target().IsPostgreSQL()) GTEST_SKIP() << "a PostgreSQL function";
    const std::string twice = Unique("korado_twice");
    Cleanup cleanup(session(), {"DROP FUNCTION IF EXISTS " + twice + "(integer)"});
    RunSql(session(),
           "CREATE FUNCTION " + twice + "(x integer) RETURNS integer AS 'SELECT x * 2' LANGUAGE sql");
    std::vector<ParamBinding> params = {In(ado::adInteger, 21),
                                        {.type = ado::adInteger, .direction = ado::adParamReturnValue}};
    std::unique_ptr<Statement> st = session().Prepare("{? = call " + twice + "(?)}", {});
    st->Execute(params);
    while (st->NextResult()) {
    }
    st->FetchOutputParameters(params);
    EXPECT_EQ(params[1].value, Variant(42));
}

// ---- transactions, failures, time-outs -----------------------------------------------------------------

// The texts and numbers themselves, and what commit and rollback keep, are checked through the connection
// object; here a failure carries the statement and the driver's SQLSTATE and native code.
TEST_P(OdbcTest, FailedStatementsInsideATransactionCarryTheDriversCodesAndLeaveTheSessionUsable) {
    Scratch table(session(), "korado_txn", "(id integer PRIMARY KEY)");
    const std::string insert = "INSERT INTO " + table.name + " VALUES ";
    session().BeginTransaction();
    RunSql(session(), insert + "(1)");
    // PostgreSQL would refuse everything after this until the transaction ends; statement-level rollback
    // keeps the insert above and lets the next statement run.
    Diagnostic duplicate = FirstRecord([&] { RunSql(session(), insert + "(1)"); });
    if (target().name != "sqlite") {
        EXPECT_EQ(duplicate.number, Hr(0x80040E2F)) << duplicate.sql_state;
    }
    const std::string missing = "SELECT * FROM korado_no_such_table";
    try {
        RunSql(session(), missing);
        ADD_FAILURE() << "no failure";
    } catch (const ProviderError& e) {
        EXPECT_EQ(e.SQLText(), missing);
        const Diagnostic& d = e.Records().front();
        EXPECT_EQ(d.sql_state, target().IsPostgreSQL()      ? "42P01"
                               : target().name == "maria" ? "42S02"
                                                          : "HY000");
        if (target().name == "maria") {
            EXPECT_EQ(d.native_error, 1146);  // ER_NO_SUCH_TABLE
        }
    }
    EXPECT_EQ(FirstRecord([&] { session().BeginTransaction(); }).number, Hr(0x8004D013));
    session().Rollback();
    EXPECT_EQ(FirstRecord([&] { session().Commit(); }).number, Hr(0x8004D00E));
}

// A statement past its time-out, or cancelled while it runs (the platform calls Cancel from a hook; a second
// thread stands in for the hook), fails with its own number, and the session goes on.
TEST_P(OdbcTest, TimedOutAndCancelledStatementsFailAndLeaveTheSessionUsable) {
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancel" : "time-out");
        std::unique_ptr<Statement> st =
            session().Prepare(target().sleep_sql, {.timeout_seconds = cancel ? 0 : 1});
        std::thread canceller([&] {
            if (!cancel) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            st->Cancel();
        });
        const auto start = std::chrono::steady_clock::now();
        Diagnostic d = FirstRecord([&] { st->Execute({}); });
        canceller.join();
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 4.5);
        EXPECT_EQ(d.number, Hr(cancel ? 0x80040E4E : 0x80040E31)) << d.sql_state << " " << d.description;
        EXPECT_FALSE(d.description.empty());
        // A time-out is HYT00; PostgreSQL ends the statement itself, with its own text.
        if (!cancel) {
            EXPECT_EQ(d.sql_state, "HYT00");
            EXPECT_TRUE(!target().IsPostgreSQL() || d.description.find("statement timeout") != std::string::npos)
                << d.description;
        }
        EXPECT_EQ(Number(session(), "SELECT 7"), 7);
    }
}

std::size_t Index(const Cursor& cursor, std::string_view name) {
    const auto& columns = cursor.Columns();
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name == name) return i;
    ADD_FAILURE() << "no column " << name;
    return 0;
}

// Names with a blank, a quote, a non-ASCII letter and an underscore (a pattern character to the catalog
// functions): each restriction selects exactly the object it names, and one that names nothing gives no rows.
TEST_P(OdbcTest, SchemaRowsetsTakeRestrictionsAsExactNames) {
    const OdbcTarget& t = target();
    const bool maria = t.name == "maria";
    auto quote = [&](const std::string& name) {
        std::string q = maria ? "`" : "\"", out = q;
        for (char c : name) out += std::string(c == q[0] ? 2 : 1, c);
        return out + q;
    };
    const std::string table = Unique("korado sch\"ä"),
                      decoy = "korado sch\"äX" + table.substr(table.rfind('_') + 1), view = table + " v";
    Cleanup drop(session(),
                 {"DROP VIEW " + quote(view), "DROP TABLE " + quote(table), "DROP TABLE " + quote(decoy)});
    RunSql(session(), "CREATE TABLE " + quote(table) + " (id integer PRIMARY KEY, " + quote("my col") +
                          " varchar(30) NOT NULL DEFAULT 'x', amount numeric(10,2))");
    RunSql(session(), "CREATE TABLE " + quote(decoy) + " (id integer)");
    RunSql(session(), "CREATE VIEW " + quote(view) + " AS SELECT amount FROM " + quote(table));
    const std::string schema = t.IsPostgreSQL() ? "public" : maria ? "korado" : "";
    const Variant in_schema = schema.empty() ? Variant() : Variant(schema), e;

    auto lines = [&](std::int32_t kind, std::vector<Variant> restrictions, std::vector<const char*> fields) {
        std::unique_ptr<Cursor> rowset = session().Schema(kind, restrictions);
        std::vector<std::string> out;
        for (const auto& row : ReadAll(*rowset)) {
            std::string line;
            for (const char* f : fields) line += (line.empty() ? "" : "|") + Text(row[Index(*rowset, f)]);
            out.push_back(line);
        }
        return out;
    };
    using Lines = std::vector<std::string>;
    const std::vector<const char*> tfields = {"TABLE_TYPE", "TABLE_NAME"};
    const struct {
        std::vector<Variant> restrictions;
        Lines want;
    } tables[] = {
        {{e, in_schema, Variant(table), e}, {"TABLE|" + table}},
        {{e, in_schema, Variant(table), Variant("VIEW")}, {}},
        {{e, e, Variant(view), Variant("VIEW")}, {"VIEW|" + view}},
        {{e, Variant("no such schema"), Variant(table), e}, {}},
        {{e, e, Variant(table + "x"), e}, {}},
    };
    for (const auto& c : tables)
        EXPECT_EQ(lines(ado::adSchemaTables, c.restrictions, tfields), c.want) << c.want.size();

    const std::vector<const char*> cfields = {"COLUMN_NAME",
                                              "ORDINAL_POSITION",
                                              "IS_NULLABLE",
                                              "COLUMN_HASDEFAULT",
                                              "CHARACTER_MAXIMUM_LENGTH",
                                              "NUMERIC_PRECISION",
                                              "NUMERIC_SCALE",
                                              "DATA_TYPE"};
    // The SQLite3 driver reads numeric(10,2) as a double of its own size, sees the rowid key as nullable
    // (it is not declared NOT NULL) and reports varchar as narrow text.
    const bool lite = !t.exact_numeric;
    const std::string id = lite ? "id|1|True|False|<null>|9|<null>|3" : "id|1|False|False|<null>|10|<null>|3";
    const std::string my_col = std::string("my col|2|False|True|30|<null>|<null>|") + (lite ? "200" : "202");
    const std::string amount = lite ? "|True|False|<null>|2|<null>|5" : "|True|False|<null>|10|2|131";
    const struct {
        std::vector<Variant> restrictions;
        Lines want;
    } columns[] = {
        {{e, in_schema, Variant(table), e}, {id, my_col, "amount|3" + amount}},
        {{e, e, Variant(table), Variant("my col")}, {my_col}},
        {{e, e, Variant(view), e}, {"amount|1" + amount}},
        {{e, e, Variant(table), Variant("nosuch")}, {}},
    };
    for (const auto& c : columns)
        EXPECT_EQ(lines(ado::adSchemaColumns, c.restrictions, cfields), c.want) << c.want.size();

    if (!schema.empty()) {
        const Lines listed = lines(ado::adSchemaSchemata, {}, {"SCHEMA_NAME"});
        EXPECT_NE(std::find(listed.begin(), listed.end(), schema), listed.end()) << listed.size();
    }
    EXPECT_THROW(session().Schema(12345, {}), Error);
}

// ---- lost connections ----------------------------------------------------------------------------------

// A session whose link is gone: the next statement fails with the driver's text, the session reports itself
// broken ("Connection Status" is what a host asks before it runs a statement, to reconnect), and a new
// session works.
void ExpectBroken(Session& session, const OdbcTarget& t) {
    Diagnostic d = FirstRecord([&] { RunSql(session, "SELECT 2"); });
    EXPECT_FALSE(d.description.empty());
    EXPECT_EQ(d.source, t.error_source);
    EXPECT_FALSE(session.IsAlive()) << d.sql_state << " " << d.description;
    for (const auto& p : session.InfoProperties())
        if (p.name == "Connection Status") {
            EXPECT_EQ(CLng(p.value), 2);
        }
    EXPECT_EQ(Number(*OpenSession(t), "SELECT 3"), 3);
}

TEST_P(OdbcTest, KilledSessionFailsWithTheDriversTextAndReportsBroken) {
    const OdbcTarget& t = target();
    if (!t.server) GTEST_SKIP() << "a file has no session to kill";
    std::string id = std::to_string(
        Number(session(), t.IsPostgreSQL() ? "SELECT pg_backend_pid()" : "SELECT CONNECTION_ID()"));
    RunSql(*OpenSession(t), t.IsPostgreSQL() ? "SELECT pg_terminate_backend(" + id + ")" : "KILL " + id);
    // An idle session notices before its next statement.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_FALSE(session().IsAlive());
    ExpectBroken(session(), t);
}

}  // namespace
}  // namespace korado::test
