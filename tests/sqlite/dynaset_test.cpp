// Dynasets over the embedded SQLite provider: opening, walking, counting, the fields and their values, and
// what a failed open leaves behind.
#include <gtest/gtest.h>

#include <tuple>

#include "korado/errors/clsADOError.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/strings.h"
#include "support/raises.h"
#include "support/script_host.h"
#include "support/session.h"

namespace korado {
namespace {

constexpr std::string_view kNotSupported =
    "Moving though this recordset is not supported.\r\n\r\nIf the Large Recordset option is selected please "
    "try "
    "it again with this option unselected.";

class Dynaset : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(s.Connect(test::SqliteConnectionString(dir.File("d.db"))).ok);
        g_HostObject = host;
        s.Execute("create table t (id integer primary key, name varchar(20), grp varchar(5), data blob)");
        s.Execute("insert into t (id, name, grp) values (1, 'one', 'a'), (2, 'two', 'a'), (3, 'three', 'b')");
    }
    static Variant Value(clsDynasetADO& d, const Variant& index) {
        return d.FieldsCollection()->Item(index)->Value();
    }

    test::TempDir dir;
    test::Session s;
    Ref<test::TestHost> host = MakeRef<test::TestHost>();
};

// Forward walks of both kinds, with the row numbers and the host's break check after every move from a row.
TEST_F(Dynaset, WalksForwardCountingRowsAndTellingTheHost) {
    for (bool large : {false, true}) {
        SCOPED_TRACE(large);
        host->breaks->Add("NAME");
        host->breaks->Add("NAME", true);  // a second definition of the column is never bound
        host->breaks->checked_rows.clear();
        Ref<clsDynasetADO> d = s.Dynaset("select id, name from t order by id", large);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->IsCursorTypeForwardOnly(), large);
        EXPECT_EQ(std::tuple(host->breaks->items[0]->column, host->breaks->items[1]->column),
                  std::tuple(1, -1));
        std::vector<std::string> seen;
        while (!d->EOF_()) {
            seen.push_back(CStr(Value(*d, 1)) + "@" + std::to_string(d->Row()));
            d->MoveNext();
        }
        EXPECT_EQ(seen, (std::vector<std::string>{"one@1", "two@2", "three@3"}));
        EXPECT_EQ(host->breaks->checked_rows, (std::vector<std::int32_t>{2, 3, 3}));
        d->MoveNext();  // at the end: nothing moves, the host is not told
        EXPECT_EQ(host->breaks->checked_rows.size(), 3u);
        EXPECT_TRUE(Value(*d, "name") == Variant("three"));
        host->breaks->items.clear();
    }
    EXPECT_EQ(host->breaks->resets, 2);
    EXPECT_TRUE(s.errors().Reports().empty());
}

// A forward-only dynaset refuses every move but MoveNext with the same message; its count walks from the
// current row to the end. The client cursor knows its count and moves both ways.
TEST_F(Dynaset, MovesCountsAndTheirEdges) {
    Ref<clsDynasetADO> fwd = s.Dynaset("select id from t order by id", true);
    fwd->MoveNext();
    for (auto move : {&clsDynasetADO::MoveFirst, &clsDynasetADO::MoveLast, &clsDynasetADO::MovePrevious})
        ((*fwd).*move)();
    EXPECT_EQ(CLng(Value(*fwd, 0)), 2);
    EXPECT_EQ(fwd->RecordCount(), 2);
    EXPECT_TRUE(fwd->EOF_());
    ASSERT_EQ(s.boxes().Shown().size(), 4u);
    EXPECT_EQ(s.boxes().Shown()[0].text, kNotSupported);
    EXPECT_EQ(s.boxes().Shown()[0].title, "Tabulon Universal");

    Ref<clsDynasetADO> d = s.Dynaset("select id from t order by id");
    EXPECT_EQ(d->RecordCount(), 3);
    struct Step {
        void (clsDynasetADO::*move)();
        std::int32_t row, id;
        bool eof;
    } steps[] = {
        {&clsDynasetADO::MovePrevious, 1, 1, false},  // on the first row: MoveFirst again
        {&clsDynasetADO::MoveLast, 3, 3, false},     {&clsDynasetADO::MoveNext, 3, 3, true},
        {&clsDynasetADO::MovePrevious, 2, 2, false},  // from the end: the row before the last
        {&clsDynasetADO::MoveFirst, 1, 1, false},
    };
    for (const Step& step : steps) {
        ((*d).*step.move)();
        EXPECT_EQ(d->Row(), step.row);
        EXPECT_EQ(CLng(Value(*d, 0)), step.id);
        EXPECT_EQ(d->EOF_(), step.eof);
    }
    d->SetFilter("id >= 2");
    EXPECT_TRUE(d->Filter() == Variant("id >= 2"));
    EXPECT_EQ(d->RecordCount(), 2);

    Ref<clsDynasetADO> empty = s.Dynaset("select id from t where id > 9");
    empty->MoveFirst();
    EXPECT_TRUE(empty->EOF_());
    EXPECT_EQ(empty->Row(), 0);
    EXPECT_EQ(s.boxes().Shown().size(), 4u);
    EXPECT_TRUE(s.errors().Reports().empty());
}

TEST_F(Dynaset, FieldsByPositionByNameAndDuplicateNames) {
    Ref<clsDynasetADO> d = s.Dynaset("select id, name, id, grp as Id from t where id = 2");
    clsFieldsADO& f = *d->FieldsCollection();
    EXPECT_EQ(f.Count(), 4);
    EXPECT_EQ(f.Item("NAME")->Name(), "name");
    EXPECT_EQ(f.Item("id3").get(), f.Item(2).get());
    EXPECT_TRUE(f.Item("ID4")->Value() == Variant("a"));
    for (const Variant& index : {Variant(4), Variant("nosuch")}) {
        EXPECT_EQ(test::RaisedText([&] { f.Item(index); }),
                  std::tuple(FieldNotFoundInRecordset,
                             "Field " + CStr(index) + " could not be found in the recordset."));
    }
    // Through the dynaset's Fields the same failure is reported, not raised.
    EXPECT_FALSE(d->Fields("nosuch").IsObject());
    ASSERT_EQ(s.errors().Reports().size(), 1u);
    EXPECT_EQ(s.errors().Reports()[0].routine, "Get Fields");
    EXPECT_EQ(s.errors().Reports()[0].number, FieldNotFoundInRecordset);
}

// Writes: a value equal to the original (Null to Null too) does nothing; a refused write sets Error and
// shows nothing.
TEST_F(Dynaset, FieldValueWrites) {
    Ref<clsDynasetADO> d = s.Dynaset("select id, name, data from t where id = 1", true);
    struct Case {
        const char* column;
        Variant value;
        std::int16_t error;
    } cases[] = {
        {"name", Variant("one"), 7}, {"data", Variant::Null(), 7}, {"name", Variant("uno"), 1},
        {"name", Variant(""), 1},    {"data", Variant("x"), 1},
    };
    for (Case& c : cases) {
        Ref<clsFieldADO> field = d->FieldsCollection()->Item(c.column);
        field->SetError(7);
        field->SetValue(c.value);
        EXPECT_EQ(field->Error(), c.error) << c.column << " " << CStr(c.value);
    }
    EXPECT_TRUE(Value(*d, "name") == Variant("one"));
    EXPECT_TRUE(s.boxes().Shown().empty());
    EXPECT_TRUE(s.errors().Reports().empty());
}

// A read-only dynaset: Update explains why nothing is stored (only while the error object shows messages)
// and returns 0 with Error set; AddNew shows its box whatever those settings; Edit answers without starting
// an edit; UpdateBatch's refusal by the recordset reaches the host as a failed commit.
TEST_F(Dynaset, EditingAReadOnlyDynaset) {
    Ref<clsDynasetADO> d = s.Dynaset("select id, name from t order by id", true);
    ASSERT_TRUE(d);
    for (bool alerts : {true, false}) {
        s.boxes().Clear();
        d->ResetError();
        g_ADOError->SetDisplayAlerts(alerts);
        EXPECT_EQ(CLng(CallMethod(Variant(d), "Update")), 0);
        EXPECT_EQ(d->Error(), 1);
        EXPECT_FALSE(d->AddNew());
        std::vector<std::tuple<std::string, std::string>> shown;
        for (const auto& box : s.boxes().Shown()) shown.emplace_back(box.text, box.title);
        std::vector<std::tuple<std::string, std::string>> expected{
            {"The driver does not support adding rows. Try it again with a different driver / Provider.",
             "korADO Information"}};
        if (alerts)
            expected.insert(expected.begin(),
                            {"Recordset does not support updates", "Tabulon Universal Exception"});
        EXPECT_EQ(shown, expected);
    }
    EXPECT_EQ(d->Edit(), 7);
    EXPECT_EQ(d->Recordset()->EditMode(), 0);
    EXPECT_FALSE(d->Updatable());
    EXPECT_EQ(test::RaisedText([&] { d->UpdateBatch(); }),
              std::tuple(CommitError,
                         std::string("Object or provider is not able to perform requested operation.")));
    EXPECT_TRUE(Value(*d, "name") == Variant("one"));
    EXPECT_TRUE(s.errors().Reports().empty());
}

// A failed open reports the driver's errors with the statement, cut at 1,000 characters before its closing
// mark; the factory gives null and the session goes on.
TEST_F(Dynaset, FailedOpenReportsTheStatementAndTheSessionGoesOn) {
    for (std::size_t padding : {0u, 1200u}) {
        s.boxes().Clear();
        const std::string sql = "select * from missing" + std::string(padding, ' ');
        EXPECT_FALSE(s.Dynaset(sql));
        ASSERT_EQ(s.boxes().Shown().size(), 1u);
        const std::string full =
            std::to_string(Hr(0x80040E37)) + ": no such table: missing\r\n\r\nSQL=\"" + sql;
        EXPECT_EQ(s.boxes().Shown()[0].text, Left(full, 1000) + "\"");
    }
    EXPECT_EQ(CLng(s.Scalar("select count(*) from t")), 3);

    auto d = MakeRef<clsDynasetADO>();
    std::string sql = "select nothing from t";
    Ref<Collection> names;
    d->Constructor(sql, Ref<clsADO>(&s.ado()), names, false, 30, 10);
    EXPECT_EQ(d->Error(), 1);
    EXPECT_FALSE(d->IsOpen());
    EXPECT_TRUE(s.errors().Reports().empty());

    test::Session idle;
    g_HostObject = host;
    EXPECT_EQ(test::RaisedText([&] { idle.Dynaset("select 1"); }),
              std::tuple(NoDBConnection,
                         std::string("Not connected to a database. Please connect to a database first.")));
}

TEST_F(Dynaset, NextRecordsetFollowsABatchButNotASelect) {
    Ref<clsDynasetADO> plain = s.Dynaset("select id from t");
    EXPECT_FALSE(plain->NextRecordset());
    EXPECT_TRUE(plain->IsOpen());

    Ref<clsDynasetADO> d =
        s.Dynaset("with x as (select 7 as a) select a from x; select name from t where id = 3");
    ASSERT_TRUE(d);
    EXPECT_EQ(CLng(Value(*d, 0)), 7);
    EXPECT_EQ(d->NextRecordset().get(), d.get());
    EXPECT_TRUE(Value(*d, "name") == Variant("three"));
    EXPECT_FALSE(d->NextRecordset());
    EXPECT_FALSE(d->Recordset());
}

// A host that knows only names, and has no script object: the fields' Item and the field's Value as
// default members, and a move with no script object to tell. (The C host walks a dynaset by name.)
TEST_F(Dynaset, LateBoundByMemberName) {
    g_HostObject = nullptr;
    Variant args[] = {Variant("select name from t order by id"), Variant(), Variant(false)};
    Variant d = Invoke(Variant(Ref<clsADO>(&s.ado())), "CreateDynaset", CallType::Method, args);
    CallMethod(d, "MoveNext");
    EXPECT_EQ(CStr(GetProperty(GetProperty(GetProperty(d, "Fields"), "", 0), "")), "two");
    EXPECT_TRUE(GetProperty(d, "Fields", "NAME").ObjectAs<clsFieldADO>());
    EXPECT_TRUE(s.errors().Reports().empty());
}

}  // namespace
}  // namespace korado
