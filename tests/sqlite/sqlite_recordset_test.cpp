// Commands, parameters, recordsets and fields over real SQLite files: types both ways, the two cursor
// kinds and their movement rules, several results, schema rowsets, filters and time-outs.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <tuple>

#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/platform_checks.h"
#include "support/raises.h"
#include "support/support.h"

namespace korado {
namespace {

using test::ExpectError;
using test::RaisedError;
using test::TempDir;

class SqliteRecordset : public ::testing::Test {
  protected:
    void SetUp() override {
        connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
        connection->Open("Provider=SQLite;Data Source=" + dir.File("test.db"));
    }

    Ref<ado::Recordset> Open(const std::string& sql, std::int32_t location, std::int32_t cursor_type = -1,
                             std::int32_t lock_type = -1, std::int32_t max_records = 0) {
        Ref<ado::Recordset> rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(location);
        rs->SetMaxRecords(max_records);
        rs->Open(Variant(sql), Variant(Ref<ado::Connection>(connection)), cursor_type, lock_type);
        return rs;
    }

    // A command on the connection with input parameters appended: name, type, size, value.
    using Input = std::tuple<const char*, std::int32_t, std::int32_t, Variant>;
    Ref<ado::Command> NewCommand(const std::string& sql, std::initializer_list<Input> inputs = {}) {
        Ref<ado::Command> cmd = CreateObjectAs<ado::Command>("ADODB.Command");
        cmd->SetActiveConnection(connection);
        cmd->SetCommandText(sql);
        for (const auto& [name, type, size, value] : inputs)
            cmd->Parameters()->Append(cmd->CreateParameter(name, type, ado::adParamInput, size, value));
        return cmd;
    }

    // Table n: rows (i, 'row<i>') for i = 1..rows.
    void Fill(int rows) {
        connection->Execute("CREATE TABLE n(i INTEGER, s VARCHAR(10))");
        connection->Execute(
            "INSERT INTO n WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
            std::to_string(rows) + ") SELECT i, 'row' || i FROM c");
    }

    // Moves over column 0: each step's move, the error it raises (0: none), and where the cursor then stands:
    // on the row with that value, at EOF (0) or at BOF (-1).
    using Step = std::tuple<std::function<void()>, std::int32_t, int>;
    static void Walk(const Ref<ado::Recordset>& rs, std::initializer_list<Step> steps) {
        int k = 0;
        for (const auto& [move, error, at] : steps) {
            SCOPED_TRACE("step " + std::to_string(++k));
            EXPECT_EQ(test::RaisedNumber(move), error);
            EXPECT_EQ(rs->Bof() || rs->Eof() ? -int{rs->Bof()} : At0(rs), at);
            if (at <= 0)
                EXPECT_RAISES_FROM(ado::adErrNoCurrentRecord, "ADODB.Field", rs->Fields()->At(0)->Value());
        }
    }

    // Column 0 of the current row, and of every row from there to EOF.
    static std::int32_t At0(const Ref<ado::Recordset>& rs) { return CLng(rs->Fields()->At(0)->Value()); }
    static std::vector<std::int32_t> Rest(const Ref<ado::Recordset>& rs) {
        std::vector<std::int32_t> values;
        for (; !rs->Eof(); rs->MoveNext()) values.push_back(At0(rs));
        return values;
    }

    TempDir dir;
    Ref<ado::Connection> connection;
};

// Every supported declared type, written through typed parameters and read back through both cursors.
TEST_F(SqliteRecordset, TypesRoundTripThroughParametersAndFields) {
    connection->Execute(
        "CREATE TABLE t(i INTEGER, b BIGINT, s SMALLINT, r REAL, d DOUBLE, n NUMERIC(10,2), v VARCHAR(20),"
        " c CHAR(4), x TEXT, bl BLOB, f BOOLEAN, dt DATE, tm TIME, ts DATETIME, z INTEGER)");
    Ref<ado::Command> insert = NewCommand("INSERT INTO t VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    const std::string text = "Grüße, 世界 😀";  // two-, three- and four-byte characters
    const std::string long_text(5000, 'x');
    const Bytes blob = {0, 1, 2, 0xFF, 0, 0x80};
    const Date day = DateSerial(2024, 5, 17);
    const Date stamp{DateSerial(2024, 5, 17).days + TimeSerial(13, 45, 30).days};
    const Date time = TimeSerial(8, 5, 9);
    const Decimal amount{-1234567, 2};  // -12345.67
    // Each column's parameter, and the field it reads back as; `same`: the value reads back as written.
    struct Column {
        const char* name;
        std::int32_t param_type, size;
        Variant value;
        std::int32_t type, defined_size;
        VarType kind;
        bool same = true;
    } columns[] = {
        {"i", ado::adInteger, 0, -2147483647 - 1, ado::adInteger, 4, VarType::Long},
        {"b", ado::adBigInt, 0, static_cast<long long>(1) << 40, ado::adBigInt, 8, VarType::LongLong},
        {"s", ado::adSmallInt, 0, std::int16_t{-32768}, ado::adSmallInt, 2, VarType::Integer},
        {"r", ado::adSingle, 0, 1.5f, ado::adDouble, 8, VarType::Double, false},
        {"d", ado::adDouble, 0, 0.1, ado::adDouble, 8, VarType::Double},
        {"n", ado::adNumeric, 0, amount, ado::adNumeric, 19, VarType::Decimal},
        {"v", ado::adVarWChar, 20, text, ado::adVarWChar, 20, VarType::String},
        {"c", ado::adWChar, 4, "ab", ado::adWChar, 4, VarType::String},
        {"x", ado::adLongVarWChar, -1, long_text, ado::adLongVarWChar, -1, VarType::String},
        {"bl", ado::adLongVarBinary, -1, blob, ado::adLongVarBinary, -1, VarType::ByteArray},
        {"f", ado::adBoolean, 0, true, ado::adBoolean, 2, VarType::Boolean},
        {"dt", ado::adDBDate, 0, day, ado::adDBDate, 6, VarType::Date},
        {"tm", ado::adDBTime, 0, time, ado::adDBTime, 6, VarType::Date, false},
        {"ts", ado::adDBTimeStamp, 0, stamp, ado::adDBTimeStamp, 16, VarType::Date, false},
        {"z", ado::adInteger, 0, Variant::Null(), ado::adInteger, 4, VarType::Null, false},
    };
    for (const Column& c : columns) {
        Ref<ado::Parameter> parameter =
            insert->CreateParameter(c.name, c.param_type, ado::adParamInput, c.size, c.value);
        if (c.param_type == ado::adNumeric) {
            parameter->SetPrecision(10);
            parameter->SetNumericScale(2);
        }
        insert->Parameters()->Append(parameter);
    }
    Variant affected;
    insert->Execute(&affected);
    EXPECT_EQ(CLng(affected), 1);

    // Dates are kept as ISO-8601 text in the file.
    Ref<ado::Recordset> raw = connection->Execute("SELECT typeof(dt), dt, tm, ts, typeof(n) FROM t");
    int column = 0;
    for (const char* stored : {"text", "2024-05-17", "08:05:09", "2024-05-17 13:45:30", "real"})
        EXPECT_EQ(CStr(raw->Fields()->At(column++)->Value()), stored);

    for (std::int32_t location : {ado::adUseServer, ado::adUseClient}) {
        SCOPED_TRACE(location);
        Ref<ado::Recordset> rs = Open("SELECT * FROM t", location);
        Ref<ado::Fields> fields = rs->Fields();
        ASSERT_EQ(fields->Count(), 15);
        for (int i = 0; i < 15; ++i) {
            Ref<ado::Field> f = fields->Item(Variant(i));
            EXPECT_EQ(f->Type(), columns[i].type) << f->Name();
            EXPECT_EQ(f->DefinedSize(), columns[i].defined_size) << f->Name();
            EXPECT_EQ(f->Value().Type(), columns[i].kind) << f->Name();
            EXPECT_NE(f->Attributes() & ado::adFldIsNullable, 0) << f->Name();
            if (columns[i].same) {
                EXPECT_EQ(f->Value(), columns[i].value) << f->Name();
            }
        }
        EXPECT_EQ(CDbl(fields->At(3)->Value()), 1.5);
        EXPECT_EQ(fields->At(6)->ActualSize(), static_cast<std::int32_t>(text.size()));
        EXPECT_EQ(fields->At(9)->ActualSize(), 6);
        EXPECT_EQ(FormatDate(CDate(fields->At(12)->Value())), "08:05:09");
        EXPECT_EQ(FormatDate(CDate(fields->At(13)->Value())), "2024-05-17 13:45:30");
        // Fields by name, without regard to case.
        EXPECT_EQ(fields->Item(Variant("V"))->Name(), "v");
        EXPECT_RAISES_FROM(ado::adErrItemNotFound, "ADODB.Fields", fields->Item(Variant("nosuch")));
        EXPECT_RAISES_FROM(ado::adErrItemNotFound, "ADODB.Fields", fields->Item(Variant(15)));
        // Text comes out in pieces too.
        EXPECT_EQ(CStr(fields->At(6)->GetChunk(7)), "Grüße, ");
        EXPECT_EQ(CStr(fields->At(6)->GetChunk(100)), "世界 😀");
        EXPECT_TRUE(fields->At(6)->GetChunk(1).IsNull());
    }

    // Expressions take the type of their first value; a value its column's type does not fit comes back as
    // stored (SQLite keeps text in an INTEGER column).
    connection->Execute("INSERT INTO t(i, dt) VALUES ('abc', 'not a date')");
    Ref<ado::Recordset> rs = connection->Execute(
        "SELECT 1 AS a, 2.5 AS b, 'x' AS c, x'00' AS d, NULL AS e, i, dt FROM t WHERE i = 'abc'");
    Ref<ado::Fields> f = rs->Fields();
    column = 0;
    for (std::int32_t type : {ado::adBigInt, ado::adDouble, ado::adVarWChar, ado::adLongVarBinary,
                              ado::adVarWChar, ado::adInteger})
        EXPECT_EQ(f->At(column++)->Type(), type) << column;
    EXPECT_EQ(CLngLng(f->At(0)->Value()), 1);
    EXPECT_EQ(f->At(5)->Value(), Variant("abc"));
    EXPECT_EQ(f->At(6)->Value(), Variant("not a date"));
}

TEST_F(SqliteRecordset, ForwardOnlyCursorStreamsAndRefusesToMoveBack) {
    Fill(3);
    Ref<ado::Recordset> rs = Open("SELECT i, s FROM n ORDER BY i", ado::adUseServer);
    EXPECT_EQ(rs->RecordCount(), -1);
    EXPECT_FALSE(rs->Supports(ado::adMovePrevious));
    Ref<ado::Field> i = rs->Fields()->Item(Variant("i"));
    // MoveFirst on the first row does not move; nor do the refused moves.
    Walk(rs, {{[&] { rs->MoveFirst(); }, 0, 1},
              {[&] { rs->MoveNext(); }, 0, 2},
              {[&] { rs->MovePrevious(); }, ado::adErrFeatureNotAvailable, 2},
              {[&] { rs->MoveFirst(); }, ado::adErrFeatureNotAvailable, 2},
              {[&] { rs->MoveLast(); }, ado::adErrFeatureNotAvailable, 2},
              {[&] { rs->Move(-1); }, ado::adErrFeatureNotAvailable, 2},
              {[&] { rs->Move(1); }, 0, 3},
              {[&] { rs->MoveNext(); }, 0, 0},
              {[&] { rs->MoveNext(); }, ado::adErrNoCurrentRecord, 0}});
    EXPECT_RAISES_FROM(ado::adErrInvalidArgument, "ADODB.Recordset", rs->SetCacheSize(0));
    rs->SetCacheSize(100);
    EXPECT_RAISES_FROM(ado::adErrObjectOpen, "ADODB.Recordset", rs->SetCursorType(ado::adOpenStatic));
    EXPECT_RAISES_FROM(ado::adErrFeatureNotAvailable, "ADODB.Recordset", rs->AddNew());
    rs->Close();
    EXPECT_EQ(rs->Fields()->Count(), 0);
    EXPECT_RAISES_FROM(ado::adErrObjectClosed, "ADODB.Recordset", rs->Eof());
    EXPECT_RAISES_FROM(ado::adErrObjectClosed, "ADODB.Field", i->Value());
    EXPECT_RAISES_FROM(ado::adErrObjectClosed, "ADODB.Recordset", rs->Close());

    // A field outlives its recordset; the recordset's statement went with it, so the table can be dropped.
    Ref<ado::Field> kept = Open("SELECT i FROM n", ado::adUseServer)->Fields()->At(0);
    EXPECT_RAISES_FROM(ado::adErrObjectClosed, "ADODB.Field", kept->Value());
    rs = nullptr;
    connection->Execute("DROP TABLE n");
}

TEST_F(SqliteRecordset, ClientCursorMovesEverywhereWithTheBofEofRules) {
    Fill(5);
    // Asked for a dynamic cursor with pessimistic locking: the client engine gives static and optimistic.
    Ref<ado::Recordset> rs =
        Open("SELECT i FROM n ORDER BY i", ado::adUseClient, ado::adOpenDynamic, ado::adLockPessimistic);
    EXPECT_EQ(rs->CursorType(), ado::adOpenStatic);
    EXPECT_EQ(rs->LockType(), ado::adLockOptimistic);
    EXPECT_EQ(rs->RecordCount(), 5);
    EXPECT_TRUE(rs->Supports(ado::adMovePrevious));
    EXPECT_EQ(rs->AbsolutePosition(), 1);
    // Move past the end: EOF, no error.
    Walk(rs, {{[&] { rs->MoveLast(); }, 0, 5},
              {[&] { rs->MoveNext(); }, 0, 0},
              {[&] { rs->MoveNext(); }, ado::adErrNoCurrentRecord, 0},
              {[&] { rs->MovePrevious(); }, 0, 5},
              {[&] { rs->Move(-3); }, 0, 2},
              {[&] { rs->MovePrevious(); }, 0, 1},
              {[&] { rs->MovePrevious(); }, 0, -1},
              {[&] { rs->MovePrevious(); }, ado::adErrNoCurrentRecord, -1},
              {[&] { rs->MoveNext(); }, 0, 1},
              {[&] { rs->Move(10); }, 0, 0},
              {[&] { rs->MoveFirst(); }, 0, 1}});
    // The rows stay when the connection lets go of the recordset.
    rs->SetActiveConnection(nullptr);
    Walk(rs, {{[&] { rs->MoveLast(); }, 0, 5}});

    // A read-only request stays read-only and changes nothing.
    rs = Open("SELECT i FROM n", ado::adUseClient, ado::adOpenStatic, ado::adLockReadOnly);
    EXPECT_EQ(rs->LockType(), ado::adLockReadOnly);
    EXPECT_RAISES_FROM(ado::adErrFeatureNotAvailable, "ADODB.Recordset", rs->Update());
    EXPECT_RAISES_FROM(ado::adErrFeatureNotAvailable, "ADODB.Recordset", rs->UpdateBatch(ado::adAffectAll));
    EXPECT_RAISES_FROM(ado::adErrFeatureNotAvailable, "ADODB.Recordset", rs->Delete(ado::adAffectCurrent));
    EXPECT_RAISES_FROM(ado::adErrFeatureNotAvailable, "ADODB.Field",
                       rs->Fields()->At(0)->SetValue(Variant(1)));

    // Requery runs the source again.
    Ref<ado::Recordset> count = Open("SELECT count(*) FROM n", ado::adUseClient);
    connection->Execute("INSERT INTO n VALUES (6, 'f')");
    count->Requery(ado::adOptionUnspecified);
    EXPECT_EQ(At0(count), 6);
}

// An empty result opens at BOF and EOF with no row to move to; MaxRecords stops a read early.
TEST_F(SqliteRecordset, EmptyAndLimitedResultsThroughBothCursors) {
    Fill(10);
    for (std::int32_t location : {ado::adUseServer, ado::adUseClient}) {
        SCOPED_TRACE(location);
        Ref<ado::Recordset> empty = Open("SELECT i FROM n WHERE 0", location);
        EXPECT_TRUE(empty->Bof() && empty->Eof());
        EXPECT_EQ(empty->RecordCount(), location == ado::adUseClient ? 0 : -1);
        EXPECT_RAISES_FROM(ado::adErrNoCurrentRecord, "ADODB.Recordset", empty->MoveFirst());
        EXPECT_RAISES_FROM(
            location == ado::adUseClient ? ado::adErrNoCurrentRecord : ado::adErrFeatureNotAvailable,
            "ADODB.Recordset", empty->MoveLast());
        EXPECT_EQ(Rest(Open("SELECT i FROM n ORDER BY i", location, -1, -1, 4)),
                  (std::vector<std::int32_t>{1, 2, 3, 4}));
    }
}

TEST_F(SqliteRecordset, SeveralStatementsGiveSeveralResults) {
    Ref<ado::Recordset> rs = connection->Execute(
        "CREATE TABLE m(a INTEGER); INSERT INTO m VALUES (1), (2); SELECT a FROM m ORDER BY a;"
        " SELECT a FROM m WHERE a > 5; UPDATE m SET a = a + 1");
    // CREATE: a closed recordset without fields.
    EXPECT_EQ(rs->State(), ado::adStateClosed);
    EXPECT_EQ(rs->Fields()->Count(), 0);
    // The UPDATE runs only when its turn comes; an empty SELECT is open at BOF and EOF.
    struct Step {
        const char* what;
        std::int32_t state, affected, first;  // first: the first row's value, 0 for none
    } steps[] = {{"INSERT", ado::adStateClosed, 2, 0},
                 {"SELECT", ado::adStateOpen, -1, 1},
                 {"empty SELECT", ado::adStateOpen, -1, 0},
                 {"UPDATE", ado::adStateClosed, 2, 0}};
    Variant affected;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        Ref<ado::Recordset> previous = rs;
        rs = rs->NextRecordset(&affected);
        ASSERT_TRUE(rs);
        EXPECT_EQ(previous->State(), ado::adStateClosed);
        EXPECT_EQ(rs->State(), step.state);
        EXPECT_EQ(CLng(affected), step.affected);
        if (step.state == ado::adStateOpen) {
            EXPECT_EQ(rs->Eof(), step.first == 0);
            if (step.first) EXPECT_EQ(At0(rs), step.first);
        }
    }
    EXPECT_FALSE(rs->NextRecordset(&affected));
    EXPECT_EQ(CLng(affected), -1);
    EXPECT_RAISES_FROM(ado::adErrObjectClosed, "ADODB.Recordset", rs->NextRecordset(&affected));
    Ref<ado::Recordset> check = connection->Execute("SELECT sum(a) FROM m");
    EXPECT_EQ(At0(check), 5);
    // A single action statement lets go of its statement at once; its recordset still answers as above.
    Variant inserted;
    Ref<ado::Recordset> action = connection->Execute("INSERT INTO m VALUES (9)", &inserted);
    EXPECT_EQ(CLng(inserted), 1);
    EXPECT_EQ(action->State(), ado::adStateClosed);
    affected = Variant(7);
    EXPECT_FALSE(action->NextRecordset(&affected));
    EXPECT_EQ(CLng(affected), -1);
    EXPECT_RAISES_FROM(ado::adErrObjectClosed, "ADODB.Recordset", action->NextRecordset(&affected));

    // Through a client cursor too, with the text as Source.
    Ref<ado::Recordset> client = Open("SELECT 1 AS x; SELECT 2 AS y", ado::adUseClient);
    EXPECT_EQ(client->RecordCount(), 1);
    Ref<ado::Recordset> second = client->NextRecordset(nullptr);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Fields()->At(0)->Name(), "y");
    EXPECT_EQ(second->CursorType(), ado::adOpenStatic);
    EXPECT_EQ(second->Source(), "SELECT 1 AS x; SELECT 2 AS y");
}

TEST_F(SqliteRecordset, MarkersCountAcrossStatementsAndCachedStatementsAreNotShared) {
    // The second statement runs only on NextRecordset, long after Execute returned.
    Ref<ado::Command> cmd = NewCommand("SELECT ? AS a; SELECT ? + 1 AS b");
    Ref<ado::Recordset> first = cmd->Execute(nullptr, MakeArray(5, std::string(40, 'x')));
    EXPECT_EQ(At0(first), 5);
    Ref<ado::Recordset> second = first->NextRecordset(nullptr);
    ASSERT_TRUE(second);
    EXPECT_EQ(CDbl(second->Fields()->At(0)->Value()), 1);  // 'xxx...' + 1 in SQLite arithmetic

    // Two recordsets of the same text read at the same time, each with its own statement.
    Fill(3);
    Ref<ado::Recordset> a = Open("SELECT i FROM n ORDER BY i", ado::adUseServer);
    Ref<ado::Recordset> b = Open("SELECT i FROM n ORDER BY i", ado::adUseServer);
    a->MoveNext();
    EXPECT_EQ(At0(a), 2);
    EXPECT_EQ(At0(b), 1);
    b->Close();
    a->MoveNext();
    EXPECT_EQ(At0(a), 3);
    // The same text again, after both let their statements go.
    a->Close();
    EXPECT_EQ(Open("SELECT i FROM n ORDER BY i", ado::adUseClient)->RecordCount(), 3);
}

// What a text is (one statement or more, with columns or without) is found when it is first prepared and
// kept with the cached statement: running it again takes the same way.
TEST_F(SqliteRecordset, TextsRunAgainTakeTheWayTheirShapeGives) {
    connection->Execute("CREATE TABLE k(i INTEGER)");
    for (int round = 1; round <= 2; ++round) {
        NewCommand("INSERT INTO k VALUES (1); INSERT INTO k VALUES (2)")->Execute(nullptr);
        Ref<ado::Recordset> rs = NewCommand("SELECT count(*) FROM k")->Execute(nullptr);
        ASSERT_EQ(rs->State(), ado::adStateOpen);
        EXPECT_EQ(At0(rs), 2 * round);
        rs->Close();
        Variant affected;
        NewCommand("DELETE FROM k WHERE i = 2 AND 0 \r\n\t")->Execute(&affected);
        EXPECT_EQ(CLng(affected), 0);
        // Two markers and one value: the provider's failure each time.
        Ref<ado::Command> short_of_values =
            NewCommand("INSERT INTO k VALUES (? + ?)", {{"a", ado::adInteger, 0, 1}});
        EXPECT_RAISES_FROM(hr::DB_E_PARAMNOTOPTIONAL, "SQLite", short_of_values->Execute(nullptr));
    }
}

TEST_F(SqliteRecordset, CommandsBindPositionallyAndCountAffectedRows) {
    Fill(3);
    Ref<ado::Command> cmd = NewCommand("UPDATE n SET s = ? WHERE i >= ?");
    Ref<ado::Parameter> s = cmd->CreateParameter("S", ado::adVarChar, ado::adParamInput, 10, Variant("z"));
    EXPECT_EQ(cmd->Parameters()->Count(), 0);  // CreateParameter does not append
    cmd->Parameters()->Append(s);
    EXPECT_RAISES_FROM(ado::adErrObjectInCollection, "ADODB.Parameters", cmd->Parameters()->Append(s));
    cmd->Parameters()->Append(cmd->CreateParameter("low", ado::adInteger, ado::adParamInput, 0, Variant(2)));
    EXPECT_EQ(cmd->Parameters()->Item(Variant("s"))->Name(), "S");
    EXPECT_RAISES_FROM(ado::adErrItemNotFound, "ADODB.Parameters", cmd->Parameters()->Item(Variant("x")));
    Variant affected;
    cmd->Execute(&affected);
    EXPECT_EQ(CLng(affected), 2);
    cmd->Parameters()->Item(Variant("low"))->SetValue(Variant(3));
    cmd->Execute(&affected);
    EXPECT_EQ(CLng(affected), 1);
    cmd->Parameters()->Delete(Variant("low"));
    EXPECT_EQ(cmd->Parameters()->Count(), 1);

    // Source is the command text when a Command opens the recordset.
    Ref<ado::Command> select = NewCommand("SELECT i FROM n WHERE i = ?", {{"i", ado::adInteger, 0, 2}});
    Ref<ado::Recordset> opened = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
    opened->SetCursorLocation(ado::adUseClient);
    opened->Open(Variant(Ref<ado::Command>(select)));
    EXPECT_EQ(opened->Source(), "SELECT i FROM n WHERE i = ?");
    EXPECT_EQ(opened->RecordCount(), 1);
    EXPECT_RAISES_FROM(ado::adErrBoundToCommand, "ADODB.Recordset", opened->SetActiveConnection(connection));

    // Table commands name a table.
    Ref<ado::Command> table = NewCommand("n");
    table->SetCommandType(ado::adCmdTable);
    EXPECT_EQ(table->Execute(nullptr)->Fields()->Count(), 2);
}

TEST_F(SqliteRecordset, ParameterDefinitionsFollowThePlatformsRules) {
    Fill(1);
    Ref<ado::Command> cmd = NewCommand("SELECT ? || ''", {{"p", ado::adVarChar, 0, "abc"}});
    EXPECT_RAISES_FROM(ado::adErrInvalidParamInfo, "ADODB.Command", cmd->Execute(nullptr));
    cmd->Parameters()->Item(Variant("p"))->SetSize(3);
    EXPECT_EQ(CStr(cmd->Execute(nullptr)->Fields()->At(0)->Value()), "abc");

    Ref<ado::Command> numeric = NewCommand("SELECT ?", {{"n", ado::adNumeric, 0, 1.25}});
    Ref<ado::Parameter> n = numeric->Parameters()->Item(Variant("n"));
    EXPECT_RAISES_FROM(ado::adErrInvalidParamInfo, "ADODB.Command", numeric->Execute(nullptr));
    n->SetPrecision(5);
    n->SetNumericScale(2);
    EXPECT_EQ(CDbl(numeric->Execute(nullptr)->Fields()->At(0)->Value()), 1.25);

    EXPECT_RAISES_FROM(ado::adErrInvalidArgument, "ADODB.Command",
                       cmd->CreateParameter("d", ado::adInteger, 9));
    Ref<ado::Command> unbound = CreateObjectAs<ado::Command>("ADODB.Command");
    unbound->SetCommandText("SELECT 1");
    EXPECT_RAISES_FROM(ado::adErrInvalidConnection, "ADODB.Command", unbound->Execute(nullptr));

    // Values given to Execute stand in for the appended parameters' values.
    Ref<ado::Command> values = NewCommand("SELECT ? + ?");
    EXPECT_EQ(At0(values->Execute(nullptr, MakeArray(40, 2))), 42);
    // A value that does not convert to the parameter's type is the provider's conversion failure.
    Ref<ado::Command> bad = NewCommand("SELECT ?", {{"x", ado::adInteger, 0, "abc"}});
    EXPECT_RAISES_FROM(hr::DB_E_CANTCONVERTVALUE, "SQLite", bad->Execute(nullptr));
}

TEST_F(SqliteRecordset, SchemaQueriesListTemporaryAndSystemTablesAndRefuseBadArguments) {
    connection->Execute(
        "CREATE TABLE orders(id INTEGER PRIMARY KEY); CREATE VIEW big_orders AS SELECT id FROM orders;"
        "CREATE TEMP TABLE scratch(x)");

    Ref<ado::Recordset> tables = connection->OpenSchema(ado::adSchemaTables);
    std::vector<std::string> names;
    for (; !tables->Eof(); tables->MoveNext()) {
        Ref<ado::Fields> f = tables->Fields();
        names.push_back(CStr(f->Item(Variant("TABLE_TYPE"))->Value()) + ":" + CStr(f->At(0)->Value()) + "." +
                        CStr(f->Item(Variant("TABLE_NAME"))->Value()));
        EXPECT_EQ(CStr(f->Item(Variant("TABLE_SCHEMA"))->Value()), CStr(f->At(0)->Value()));
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"LOCAL TEMPORARY:temp.scratch", "SYSTEM TABLE:main.sqlite_schema",
                                        "SYSTEM TABLE:temp.sqlite_temp_schema", "TABLE:main.orders",
                                        "VIEW:main.big_orders"}));

    EXPECT_RAISES_FROM(ado::adErrFeatureNotAvailable, "ADODB.Connection", connection->OpenSchema(99));
    EXPECT_RAISES_FROM(ado::adErrInvalidArgument, "ADODB.Connection",
                       connection->OpenSchema(ado::adSchemaTables, Variant(3)));
}

// The lookups a session keeps between schema queries follow changes of the schema: a table dropped and made
// again under other letters, with other columns, and a temp database that empties.
TEST_F(SqliteRecordset, SchemaQueriesFollowTheSchemaAsItChanges) {
    auto columns_of = [&](const char* table) {
        Ref<ado::Recordset> rs =
            connection->OpenSchema(ado::adSchemaColumns, MakeArray(Variant(), Variant(), table, Variant()));
        std::vector<std::string> out;
        for (; !rs->Eof(); rs->MoveNext()) {
            Ref<ado::Fields> f = rs->Fields();
            out.push_back(CStr(f->Item(Variant("TABLE_NAME"))->Value()) + "." +
                          CStr(f->Item(Variant("COLUMN_NAME"))->Value()));
        }
        return out;
    };
    auto temp_listed = [&] {
        return connection->OpenSchema(ado::adSchemaTables, MakeArray("temp", Variant(), Variant(), Variant()))
            ->RecordCount();
    };
    connection->Execute("CREATE TABLE parts(id INTEGER PRIMARY KEY); CREATE TEMP TABLE scratch(x)");
    EXPECT_EQ(columns_of("PARTS"), (std::vector<std::string>{"parts.id"}));
    EXPECT_EQ(temp_listed(), 2);  // scratch and the temp schema table
    connection->Execute("DROP TABLE parts; CREATE TABLE Parts(code TEXT, qty INTEGER); DROP TABLE scratch");
    EXPECT_EQ(columns_of("PARTS"), (std::vector<std::string>{"Parts.code", "Parts.qty"}));
    EXPECT_EQ(temp_listed(), 0);
    connection->Execute("DROP TABLE Parts");
    EXPECT_TRUE(columns_of("PARTS").empty());
}

TEST_F(SqliteRecordset, FilterShowsMatchingRowsAndCountsThem) {
    Fill(6);
    Ref<ado::Recordset> rs = Open("SELECT i, s FROM n ORDER BY i", ado::adUseClient);
    rs->MoveLast();
    // Each filter moves to its first visible row, from wherever the last read left the cursor.
    const std::pair<Variant, std::vector<std::int32_t>> filters[] = {
        {"i > 2 AND i <= 4", {3, 4}},      {"s = 'ROW5' OR s LIKE 'row1*'", {1, 5}}, {"", {1, 2, 3, 4, 5, 6}},
        {ado::adFilterPendingRecords, {}}, {ado::adFilterNone, {1, 2, 3, 4, 5, 6}},
    };
    for (const auto& [filter, rows] : filters) {
        SCOPED_TRACE(CStr(filter));
        rs->SetFilter(filter);
        EXPECT_EQ(rs->RecordCount(), static_cast<std::int32_t>(rows.size()));
        EXPECT_EQ(rs->Bof(), rows.empty());
        EXPECT_EQ(Rest(rs), rows);
    }
    rs->SetFilter(Variant(""));
    EXPECT_EQ(CLng(rs->Filter()), ado::adFilterNone);
    EXPECT_RAISES_FROM(ado::adErrInvalidArgument, "ADODB.Recordset", rs->SetFilter(Variant("i >")));
    EXPECT_RAISES_FROM(ado::adErrItemNotFound, "ADODB.Recordset", rs->SetFilter(Variant("nosuch = 1")));
    EXPECT_RAISES_FROM(ado::adErrInvalidArgument, "ADODB.Recordset", rs->SetFilter(Variant(4)));

    // A forward-only cursor applies the filter to the rows still ahead.
    Ref<ado::Recordset> forward = Open("SELECT i FROM n ORDER BY i", ado::adUseServer);
    forward->SetFilter(Variant("i >= 5"));
    EXPECT_EQ(Rest(forward), (std::vector<std::int32_t>{5, 6}));
}

TEST_F(SqliteRecordset, CommandTimeoutInterruptsALongQuery) {
    connection->Execute("CREATE TABLE t(x)");
    connection->BeginTrans();
    connection->Execute("INSERT INTO t VALUES (1)");
    Ref<ado::Command> cmd =
        NewCommand("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c");
    cmd->SetCommandTimeout(1);
    auto start = std::chrono::steady_clock::now();
    std::optional<Error> e = RaisedError([&] { cmd->Execute(nullptr); });
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ExpectError(e, hr::DB_E_ABORTLIMITREACHED, "SQLite");
    EXPECT_EQ(std::tuple(e->NativeError(), e->SQLState()), std::tuple(SQLITE_INTERRUPT, "HYT00"));
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 10);
    // The connection and its transaction survive an interrupted read.
    EXPECT_EQ(connection->State(), ado::adStateOpen);
    connection->CommitTrans();
    EXPECT_EQ(At0(connection->Execute("SELECT count(*) FROM t")), 1);
    // Without a limit the same command object runs normal statements.
    cmd->SetCommandText("SELECT 1");
    cmd->SetCommandTimeout(0);
    EXPECT_EQ(At0(cmd->Execute(nullptr)), 1);
}

// What the result sets rely on, checked as on every ODBC DSN (support/platform_checks.h). The cursor kinds
// are checked above, move by move.
TEST(SqlitePlatform, FieldsDescribeThemselves) {
    test::TempDir dir;
    Ref<ado::Connection> connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->Open("Provider=SQLite;Data Source=" + dir.File("fields.db"));
    const test::ProviderQuirks native{false, false, "TEXT"};
    test::FillFieldTable(connection, "f", native);
    test::CheckFieldDescriptions(connection, "f", native);
}

}  // namespace
}  // namespace korado
