// What the bridge tells the client cursor's update engine about a result's columns: base table and column,
// key columns and auto-increment keys, on each DSN; and the key a database gave an inserted row.
#include <gtest/gtest.h>

#include "dataaccess/connection.h"
#include "korado/platform/adodb.h"
#include "korado/runtime/registry.h"
#include "odbc/odbc_test_util.h"

namespace korado::test {
namespace {

class OdbcBaseColumns : public OdbcTest {
  protected:
    void SetUp() override {
        OdbcTest::SetUp();
        if (IsSkipped()) return;
        Drop();
        const std::string& db = target().name;
        std::string identity = target().IsPostgreSQL() ? "id int GENERATED ALWAYS AS IDENTITY PRIMARY KEY"
                               : db == "maria" ? "id bigint AUTO_INCREMENT PRIMARY KEY"
                                               : "id integer PRIMARY KEY AUTOINCREMENT";
        RunSql(session(), "CREATE TABLE " + t + " (id " + target().serial_key + ", name varchar(20), qty int)");
        RunSql(session(), "CREATE TABLE " + i + " (" + identity + ", name varchar(20))");
        RunSql(session(), "CREATE TABLE " + u +
                              " (k1 int NOT NULL, k2 int NOT NULL, w varchar(10), PRIMARY KEY (k1, k2))");
        RunSql(session(), "CREATE TABLE " + n + " (code INTEGER NOT NULL, x int)");
        RunSql(session(), "CREATE UNIQUE INDEX " + n + "_ux ON " + n + " (code)");
        RunSql(session(), "CREATE TABLE " + m + " (code int, x int)");
        RunSql(session(), "CREATE UNIQUE INDEX " + m + "_ux ON " + m + " (code)");
        // A table the other's name matches as a search pattern, its column not null.
        RunSql(session(), "CREATE TABLE " + mx + " (code int NOT NULL)");
        RunSql(session(), "CREATE VIEW " + v + " AS SELECT id, name FROM " + t);
    }
    void TearDown() override {
        if (session_) Drop();
    }
    void Drop() {
        RunQuietly(session(), "DROP VIEW " + v);
        for (const std::string& name : {t, i, u, n, m, mx}) RunQuietly(session(), "DROP TABLE " + name);
    }
    std::vector<ColumnInfo> Columns(const std::string& sql) {
        ExecuteOptions options;
        options.forward_only = false;  // as the client cursor reads
        return RunSql(session(), sql, {}, options).columns;
    }

    std::string t = Unique("bc_serial"), i = Unique("bc_ident"), u = Unique("bc_pair"), n = Unique("bc_uniq"),
                m = Unique("bc_nulluniq"), mx = Unique("bcXnulluniq"), v = Unique("bc_view");
};

TEST_P(OdbcBaseColumns, DescribeWhereEachColumnComesFrom) {
    const std::string& db = target().name;
    const bool pg = target().IsPostgreSQL(), maria = db == "maria", sqlite = db == "sqlite";

    std::vector<ColumnInfo> plain = Columns("SELECT * FROM " + t);
    ASSERT_EQ(plain.size(), 3u);
    EXPECT_EQ(plain[0].base_catalog, sqlite ? "main" : "korado");
    EXPECT_EQ(plain[0].base_schema, pg ? "public" : "");

    // One row per column: the query, the column, its base table and column, key, auto-increment.
    struct Case {
        std::string sql;
        std::size_t column;
        std::string table;
        std::string base_column;
        bool key;
        bool auto_increment;
    };
    const std::vector<Case> cases = {
        {"SELECT * FROM " + t, 0, t, "id", true, true},
        {"SELECT * FROM " + t, 1, t, "name", false, false},
        {"SELECT id, name FROM " + i, 0, i, "id", true, true},
        // The SQLite3 driver reports an alias as the base column: unknown, rather than a wrong column.
        {"SELECT name AS alias, id FROM " + t, 0, t, sqlite ? "" : "name", false, false},
        {"SELECT qty + 1 AS e, id FROM " + t, 0, "", "", false, false},
        {"SELECT qty + 1 AS e, id FROM " + t, 1, t, "id", true, true},
        {"SELECT a.name, b.k2, b.w, b.k1 FROM " + t + " a JOIN " + u + " b ON a.id = b.k1", 0, t, "name",
         false, false},
        {"SELECT a.name, b.k2, b.w, b.k1 FROM " + t + " a JOIN " + u + " b ON a.id = b.k1", 1, u, "k2", true,
         false},
        {"SELECT a.name, b.k2, b.w, b.k1 FROM " + t + " a JOIN " + u + " b ON a.id = b.k1", 3, u, "k1", true,
         false},
        // Part of a key is no key: a change would reach every row sharing it.
        {"SELECT k1, w FROM " + u, 0, u, "k1", false, false},
        // The servers name the view; the SQLite3 driver the table behind it.
        {"SELECT id, name FROM " + v, 0, sqlite ? t : v, "id", sqlite, sqlite || maria},
        // A unique index on a column that cannot be null: MariaDB's stand-in primary key, the SQLite3
        // driver's best row identifier; psqlODBC offers none. Declared INTEGER, it is still no rowid.
        {"SELECT x, code FROM " + n, 1, n, "code", !pg, false},
        // One that can be null is no key, whatever a table with a similar name holds.
        {"SELECT x, code FROM " + m, 1, m, "code", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql + " column " + std::to_string(c.column));
        std::vector<ColumnInfo> columns = Columns(c.sql);
        ASSERT_LT(c.column, columns.size());
        const ColumnInfo& info = columns[c.column];
        EXPECT_EQ(info.base_table, c.table);
        EXPECT_EQ(info.base_column, c.base_column);
        EXPECT_EQ(info.key_column, c.key);
        EXPECT_EQ((info.attributes & ado::adFldKeyColumn) != 0, c.key);
        EXPECT_EQ(info.auto_increment, c.auto_increment);
    }
}

// A row inserted through a platform Command on the same connection: the key the database gave it, not one
// another connection's insert took meanwhile; the table's name quoted as the update engine quotes it.
TEST_P(OdbcBaseColumns, GeneratedKeyIsTheKeyOfThisSessionsInsert) {
    auto connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->Open(target().Source(), target().user, target().password);
    Session& own = static_cast<dataaccess::ConnectionImpl&>(*connection).RequireSession("Connection");
    std::unique_ptr<Session> other = OpenSession(target());

    // Fresh session: nothing inserted yet. PostgreSQL's sequence has no value in this session.
    std::vector<ColumnInfo> columns = Columns("SELECT id, name FROM " + t);
    if (target().IsPostgreSQL()) {
        EXPECT_EQ(FirstRecord([&] { own.GeneratedKey(columns[0]); }).sql_state, "55000");
    } else {
        EXPECT_TRUE(own.GeneratedKey(columns[0]).IsEmpty());
    }
    EXPECT_TRUE(own.GeneratedKey(columns[1]).IsEmpty());  // not an auto-increment column

    const std::string odd = Unique("Bc Key\"'s");
    const std::string quoted = own.QuoteIdentifier(odd);
    RunQuietly(session(), "DROP TABLE " + quoted);
    const std::string serial = target().IsPostgreSQL()   ? "int GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"
                               : target().name == "maria" ? "int AUTO_INCREMENT PRIMARY KEY"
                                                          : "INTEGER PRIMARY KEY";
    RunSql(session(),
           "CREATE TABLE " + quoted + " (" + own.QuoteIdentifier("Id") + " " + serial + ", v int)");
    for (const std::string& table : {t, i, quoted}) {
        SCOPED_TRACE(table);
        ColumnInfo key = Columns("SELECT * FROM " + table)[0];
        ASSERT_TRUE(key.auto_increment);
        auto insert = CreateObjectAs<ado::Command>("ADODB.Command");
        insert->SetActiveConnection(connection);
        const std::string column = table == quoted ? "v" : "name";
        for (const char* value : {"1", "2"}) {
            insert->SetCommandText("INSERT INTO " + table + " (" + column + ") VALUES ('" + value + "')");
            insert->Execute();
        }
        RunSql(*other, "INSERT INTO " + table + " (" + column + ") VALUES ('3')");
        Rows mine = RunSql(session(), "SELECT * FROM " + table + " WHERE " + column + " = '2'").rows;
        ASSERT_EQ(mine.size(), 1u);
        Variant generated = own.GeneratedKey(key);
        EXPECT_EQ(Text(generated), Text(mine[0][0]));
    }
    RunQuietly(session(), "DROP TABLE " + quoted);
}

INSTANTIATE_TEST_SUITE_P(Dsn, OdbcBaseColumns, ::testing::ValuesIn(OdbcTargetNames()), TargetName);

}  // namespace
}  // namespace korado::test
