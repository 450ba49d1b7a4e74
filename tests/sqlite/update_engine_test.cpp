// Changing rows through the client cursor over SQLite files: what reaches the database (read back through
// a second connection), what a concurrent change does, which results can be written back, and batch mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/raises.h"
#include "support/support.h"

namespace korado {
namespace {

using test::ExpectError;
using test::RaisedError;

constexpr const char* kEngine = "Microsoft Cursor Engine";
constexpr const char* kNotFound =
    "Row cannot be located for updating. Some values may have been changed since it was last read.";
constexpr const char* kNoBaseTable = "Insufficient base table information for updating or refreshing.";

class UpdateEngine : public ::testing::Test {
  protected:
    void SetUp() override {
        connection = Connect();
        other = Connect();
        connection->Execute("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, amount NUMERIC(12,2))");
        connection->Execute("INSERT INTO t(name, amount) VALUES ('one', 1.5), ('two', 2.5), ('three', NULL)");
    }

    Ref<ado::Connection> Connect() {
        Ref<ado::Connection> c = CreateObjectAs<ado::Connection>("ADODB.Connection");
        c->Open("Provider=SQLite;Data Source=" + dir.File("test.db"));
        return c;
    }

    Ref<ado::Recordset> Open(const std::string& sql, std::int32_t lock = ado::adLockOptimistic,
                             std::int32_t location = ado::adUseClient) {
        Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(location);
        const std::int32_t type = location == ado::adUseClient ? ado::adOpenStatic : ado::adOpenForwardOnly;
        rs->Open(Variant(sql), Variant(Ref<ado::Connection>(connection)), type, lock);
        return rs;
    }

    static ado::Field& F(const Ref<ado::Recordset>& rs, const char* name) {
        return *rs->Fields()->Item(Variant(name));
    }

    // The rows of `sql` as the second connection sees them, each row's values joined by '|'.
    std::vector<std::string> Seen(const std::string& sql) {
        std::vector<std::string> rows;
        Ref<ado::Recordset> rs = other->Execute(sql, nullptr, ado::adCmdText);
        for (; !rs->Eof(); rs->MoveNext()) {
            std::string row;
            for (std::int32_t i = 0; i < rs->Fields()->Count(); ++i) {
                const Variant& v = rs->Fields()->At(i)->Value();
                row += (i ? "|" : "") + (v.IsNull() ? std::string("NULL") : CStr(v));
            }
            rows.push_back(row);
        }
        return rows;
    }

    test::TempDir dir;
    Ref<ado::Connection> connection;
    Ref<ado::Connection> other;
};

using Rows = std::vector<std::string>;

TEST_F(UpdateEngine, ChangesAddsAndDeletesRowsAtUpdate) {
    Ref<ado::Recordset> rs = Open("SELECT id, name, amount FROM t ORDER BY id");
    F(rs, "name").SetValue(Variant("uno"));
    rs->Update();

    // The database numbers the new row; the number comes back, so the row can be changed again.
    rs->AddNew();
    F(rs, "name").SetValue(Variant("four"));
    rs->Update();
    EXPECT_EQ(CLng(F(rs, "id").Value()), 4);
    F(rs, "amount").SetValue(Variant(4.25));
    rs->Update();

    // A deleted row stays current until the cursor moves; the next row follows it.
    rs->MoveFirst();
    rs->MoveNext();
    rs->Delete(ado::adAffectCurrent);
    EXPECT_EQ(rs->Status(), ado::adRecDeleted);
    rs->MoveNext();
    EXPECT_EQ(CStr(F(rs, "name").Value()), "three");
    EXPECT_EQ(rs->RecordCount(), 3);

    // Moving away from an edit stores it.
    F(rs, "amount").SetValue(Variant(3));
    rs->MovePrevious();
    EXPECT_EQ(CStr(F(rs, "name").Value()), "uno");
    EXPECT_EQ(Seen("SELECT id, name, amount FROM t ORDER BY id"),
              (Rows{"1|uno|1.5", "3|three|3", "4|four|4.25"}));
}

TEST_F(UpdateEngine, AConcurrentChangeIsNeverOverwritten) {
    Ref<ado::Recordset> rs = Open("SELECT id, name FROM t ORDER BY id");
    other->Execute("UPDATE t SET name = 'theirs' WHERE id = 1", nullptr, ado::adCmdText);
    F(rs, "name").SetValue(Variant("mine"));
    ExpectError(RaisedError([&] { rs->Update(); }), hr::DB_E_CONCURRENCYVIOLATION, kEngine);
    ASSERT_EQ(connection->Errors()->Count(), 1);
    EXPECT_EQ(connection->Errors()->Item(Variant(0))->Description(), kNotFound);
    // The change stays pending until it is cancelled.
    EXPECT_EQ(rs->EditMode(), 1);
    rs->CancelUpdate();
    EXPECT_EQ(CStr(F(rs, "name").Value()), "one");
    EXPECT_EQ(Seen("SELECT name FROM t WHERE id = 1"), Rows{"theirs"});

    // A row deleted by the other session cannot be deleted or changed either.
    other->Execute("DELETE FROM t WHERE id = 2", nullptr, ado::adCmdText);
    rs->MoveNext();
    ExpectError(RaisedError([&] { rs->Delete(ado::adAffectCurrent); }), hr::DB_E_CONCURRENCYVIOLATION,
                kEngine);

    // SQLite lets a text key be NULL in several rows: such a row cannot be told from the others.
    connection->Execute("CREATE TABLE p(k TEXT PRIMARY KEY, v TEXT)");
    connection->Execute("INSERT INTO p VALUES (NULL, 'same'), (NULL, 'same')");
    rs = Open("SELECT k, v FROM p");
    F(rs, "v").SetValue(Variant("changed"));
    std::optional<Error> too_many = RaisedError([&] { rs->Update(); });
    ExpectError(too_many, hr::E_FAIL, kEngine);
    EXPECT_EQ(too_many->Description(),
              "Key column information is insufficient or incorrect. Too many rows were affected by update.");
    EXPECT_EQ(Seen("SELECT v FROM p"), (Rows{"same", "same"}));

}

TEST_F(UpdateEngine, OnlyResultsWhoseRowsCanBeFoundAreWritable) {
    connection->Execute("CREATE TABLE plain(a TEXT, b TEXT)");
    connection->Execute("INSERT INTO plain VALUES ('x', 'y')");
    connection->Execute("CREATE TABLE w(k1 TEXT, k2 INTEGER, v TEXT, PRIMARY KEY (k1, k2)) WITHOUT ROWID");
    connection->Execute("INSERT INTO w VALUES ('x', 1, 'old')");
    connection->Execute("CREATE VIEW tv AS SELECT id, name FROM t");
    struct Case {
        const char* sql;
        bool update, add_delete;
    } cases[] = {
        {"SELECT rowid, a, b FROM plain", true, true},  // the rowid is the key of a table without one
        {"SELECT a, b FROM plain", false, false},       // its key not selected
        {"SELECT k1, k2, v FROM w", true, true},        // WITHOUT ROWID: its declared key
        {"SELECT k1, v FROM w", false, false},          // part of the key only
        {"SELECT t.id, t.name, w.k1, w.k2, w.v FROM t JOIN w ON w.k2 = t.id", true, false},
        {"SELECT t.name, w.k1, w.k2, w.v FROM t JOIN w ON w.k2 = t.id", false, false},
        {"SELECT upper(name) AS n FROM t", false, false},  // an expression only
        {"SELECT id, name FROM tv", true, true},           // a view's columns are its table's
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        Ref<ado::Recordset> rs = Open(c.sql);
        EXPECT_EQ(rs->Supports(ado::adUpdate), c.update);
        EXPECT_EQ(rs->Supports(ado::adAddNew), c.add_delete);
        EXPECT_EQ(rs->Supports(ado::adDelete), c.add_delete);
        if (!c.add_delete) ExpectError(RaisedError([&] { rs->AddNew(); }), hr::E_FAIL, kEngine);
        if (c.update) continue;
        rs->Fields()->At(0)->SetValue(Variant("z"));
        std::optional<Error> e = RaisedError([&] { rs->Update(); });
        ExpectError(e, hr::E_FAIL, kEngine);
        EXPECT_EQ(e->Description(), kNoBaseTable);
        rs->CancelUpdate();
    }
    Ref<ado::Recordset> join = Open(cases[4].sql);
    F(join, "name").SetValue(Variant("ONE"));
    F(join, "v").SetValue(Variant("new"));
    join->Update();
    EXPECT_EQ(Seen("SELECT t.name, w.v FROM t JOIN w ON w.k2 = t.id"), Rows{"ONE|new"});
}

TEST_F(UpdateEngine, ValuesAreWrittenBackUnchanged) {
    connection->Execute(
        "CREATE TABLE v(id INTEGER PRIMARY KEY, s TEXT, b BLOB, d DATETIME, m NUMERIC(20,4), x TEXT)");
    connection->Execute(
        "INSERT INTO v VALUES (1, 'O''Brien \"q\"', x'00ff10', '2024-02-29 13:45:00', 12345.6789, NULL)");
    const std::string all = "SELECT quote(s), quote(b), d, quote(m), quote(x) FROM v";
    const Rows before = Seen(all);
    // Each column changed in turn; its original value must match the database's for the write to land.
    struct Case {
        const char *column, *read;  // `read`: how the other connection reads the column back
        Variant value;
        const char* seen;
    } cases[] = {
        {"s", "quote(s)", Variant("it's \"quoted\""), "'it''s \"quoted\"'"},
        {"b", "quote(b)", Variant(Bytes{0, 1, 0xfe}), "X'0001FE'"},
        {"d", "d", Variant(DateFromParts({1999, 12, 31, 23, 59, 58, 0})), "1999-12-31 23:59:58"},
        {"m", "quote(m)", Variant(CDec(Variant("98765.4321"))), "98765.4321"},
        {"x", "quote(x)", Variant("was null"), "'was null'"},
        {"s", "quote(s)", Variant::Null(), "NULL"},
    };
    Ref<ado::Recordset> rs = Open("SELECT id, s, b, d, m, x FROM v");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.column);
        F(rs, c.column).SetValue(c.value);
        rs->Update();
        EXPECT_EQ(Seen(std::string("SELECT ") + c.read + " FROM v"), Rows{c.seen});
    }
    // Changing a value back and forth leaves the others as they were, to the byte.
    connection->Execute(
        "UPDATE v SET s = 'O''Brien \"q\"', b = x'00ff10', d = '2024-02-29 13:45:00', "
        "m = 12345.6789, x = NULL");
    Ref<ado::Recordset> again = Open("SELECT id, s, b, d, m, x FROM v");
    F(again, "id").SetValue(Variant(7));
    again->Update();
    EXPECT_EQ(Seen(all), before);

    // Long binary data arrives in chunks.
    F(again, "b").AppendChunk(Variant(Bytes{1, 2}));
    F(again, "b").AppendChunk(Variant(Bytes{3}));
    again->Update();
    EXPECT_EQ(Seen("SELECT id, quote(b) FROM v"), Rows{"7|X'010203'"});
}

TEST_F(UpdateEngine, BatchModeStoresAtUpdateBatch) {
    Ref<ado::Recordset> rs = Open("SELECT id, name FROM t ORDER BY id", ado::adLockBatchOptimistic);
    F(rs, "name").SetValue(Variant("uno"));
    rs->Update();
    EXPECT_EQ(rs->Status(), ado::adRecModified);
    EXPECT_EQ(CStr(F(rs, "name").OriginalValue()), "one");
    // Cancelling a later edit keeps the change already cached.
    F(rs, "name").SetValue(Variant("dropped"));
    rs->CancelUpdate();
    EXPECT_EQ(CStr(F(rs, "name").Value()), "uno");
    rs->MoveNext();
    rs->Delete(ado::adAffectCurrent);
    rs->AddNew();
    F(rs, "name").SetValue(Variant("four"));
    rs->Update();
    EXPECT_EQ(rs->Status(), ado::adRecNew);
    EXPECT_EQ(Seen("SELECT name FROM t ORDER BY id"), (Rows{"one", "two", "three"}));
    rs->SetFilter(Variant(ado::adFilterPendingRecords));
    EXPECT_EQ(rs->RecordCount(), 3);
    rs->SetFilter(Variant(ado::adFilterNone));

    rs->UpdateBatch(ado::adAffectAll);
    EXPECT_EQ(Seen("SELECT id, name FROM t ORDER BY id"), (Rows{"1|uno", "3|three", "4|four"}));
    rs->MoveLast();
    EXPECT_EQ(rs->Status(), ado::adRecUnmodified);
    EXPECT_EQ(CLng(F(rs, "id").Value()), 4);

    // CancelBatch drops every pending change and brings deleted rows back.
    rs->MoveFirst();
    F(rs, "name").SetValue(Variant("never"));
    rs->Update();
    rs->MoveNext();
    rs->Delete(ado::adAffectCurrent);
    rs->CancelBatch(ado::adAffectAll);
    EXPECT_EQ(rs->RecordCount(), 3);
    rs->MoveFirst();
    EXPECT_EQ(CStr(F(rs, "name").Value()), "uno");
    EXPECT_EQ(rs->Status(), ado::adRecUnmodified);

    // A conflict fails the batch and marks the row; the other rows are stored.
    other->Execute("UPDATE t SET name = 'theirs' WHERE id = 1", nullptr, ado::adCmdText);
    F(rs, "name").SetValue(Variant("mine"));
    rs->MoveNext();
    F(rs, "name").SetValue(Variant("drei"));
    rs->Update();
    ExpectError(RaisedError([&] { rs->UpdateBatch(ado::adAffectAll); }), hr::DB_E_CONCURRENCYVIOLATION,
                kEngine);
    rs->SetFilter(Variant(ado::adFilterConflictingRecords));
    EXPECT_EQ(rs->RecordCount(), 1);
    EXPECT_EQ(rs->Status(), ado::adRecModified | ado::adRecConcurrencyViolation);
    EXPECT_EQ(Seen("SELECT name FROM t ORDER BY id"), (Rows{"theirs", "drei", "four"}));
}

TEST_F(UpdateEngine, ChangesJoinTheConnectionsTransaction) {
    Ref<ado::Recordset> rs = Open("SELECT id, name FROM t ORDER BY id");
    connection->BeginTrans();
    F(rs, "name").SetValue(Variant("uno"));
    rs->Update();
    rs->AddNew();
    F(rs, "name").SetValue(Variant("four"));
    rs->Update();
    connection->RollbackTrans();
    EXPECT_EQ(Seen("SELECT name FROM t ORDER BY id"), (Rows{"one", "two", "three"}));
}

}  // namespace
}  // namespace korado
