// Changes stored through a client dynaset over SQLite and read back by a second connection: a changed value,
// break columns, editing by member name (with a row the other connection changed since it was
// read), and values a column cannot take, refused at the write or by the database.
#include <gtest/gtest.h>

#include "korado/errors/clsADOError.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/strings.h"
#include "support/script_host.h"
#include "support/session.h"

namespace korado {
namespace {

class DynasetUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string cs = test::SqliteConnectionString(dir.File("u.db"));
        ASSERT_TRUE(other.Connect(cs).ok);
        ASSERT_TRUE(s.Connect(cs).ok);
        g_HostObject = host;
        s.Execute("create table t (id integer primary key, name varchar(20))");
        s.Execute("insert into t (id, name) values (1, 'one'), (2, 'two')");
    }
    // What the other connection sees.
    std::string Names() {
        return CStr(other.Scalar("select group_concat(name) from (select name from t order by id)"));
    }
    static void Write(clsDynasetADO& d, const char* column, Variant value) {
        d.FieldsCollection()->Item(column)->SetValue(value);
    }

    test::TempDir dir;
    // Without transactions, so that each change is the other connection's to read at once.
    test::Session other{false};
    test::Session s{false};  // made last: the library's current connection
    Ref<test::TestHost> host = MakeRef<test::TestHost>();
};

// Break columns keep the host from editing, though the recordset itself could be updated.
TEST_F(DynasetUpdate, BreakColumnsMakeItNotUpdatable) {
    host->breaks->Add("NAME");
    Ref<clsDynasetADO> d = s.Dynaset("select id, name from t order by id");
    ASSERT_TRUE(d);
    EXPECT_EQ(std::tuple(d->Updatable(), d->Edit()), std::tuple(false, 6));
}

// A host that knows only names edits as it reads: the field reached through the fields collection's
// default member, its Value let, and the editing members called by name; Update's status is what the
// host's script tests.
TEST_F(DynasetUpdate, EditingByMemberName) {
    Variant d(s.Dynaset("select id, name from t order by id"));
    auto field = [&](const char* name) { return GetProperty(GetProperty(d, "Fields"), "", name); };
    EXPECT_EQ(std::tuple(CBool(GetProperty(d, "Updatable")), CLng(CallMethod(d, "Edit"))),
              std::tuple(true, 6));
    LetProperty(field("name"), "Value", "uno");
    EXPECT_EQ(CLng(CallMethod(d, "Update")), 0);

    EXPECT_TRUE(CBool(CallMethod(d, "AddNew")));
    LetProperty(field("name"), "Value", "dropped");
    CallMethod(d, "CancelUpdate");
    // The field keeps what was written until the next move; the recordset is back on the first row.
    EXPECT_EQ(CStr(d.ObjectAs<clsDynasetADO>()->Recordset()->Fields()->Item("name")->Value()), "uno");
    EXPECT_EQ(Names(), "uno,two");

    other.Execute("update t set name = 'theirs' where id = 2");
    CallMethod(d, "MoveNext");
    LetProperty(field("name"), "Value", "mine");
    // Nothing is overwritten and the user is told to requery.
    EXPECT_EQ(CLng(CallMethod(d, "Update")), 1);
    EXPECT_EQ(Names(), "uno,theirs");
    ASSERT_EQ(s.boxes().Shown().size(), 1u);
    EXPECT_EQ(
        s.boxes().Shown()[0].text,
        "The driver reported the following error:\r\nRow cannot be located for updating. Some values may "
        "have been changed since it was last read.\r\n\r\nAdvice:\r\nPlease requery the data and try the "
        "updates again");
    EXPECT_EQ(CStr(d.ObjectAs<clsDynasetADO>()->Recordset()->Fields()->Item("name")->Value()), "two");
    EXPECT_TRUE(s.errors().Reports().empty());
}

// A value its column cannot take: refused at the field write (the field's Error reads 1) where the value
// cannot become the column's type or is longer than the column, or refused by the database at Update
// (status 1, the change cancelled). Either way the database keeps its row.
TEST_F(DynasetUpdate, ValuesTheColumnCannotTake) {
    s.Execute("create table k (id integer primary key, n integer, c text check (length(c) <= 3)) strict");
    s.Execute("insert into k values (1, 5, 'abc')");
    s.Execute("create table l (id integer primary key, s varchar(3), d date)");
    s.Execute("insert into l values (1, 'abc', '2026-12-07')");
    struct Case {
        const char* query;
        const char* column;
        Variant value;
        bool refused_at_write;
        const char* stored;  // the row as the other connection reads it
    };
    const Case cases[] = {
        {"select id, n, c from k", "n", Variant("five"), true, "select n || '|' || c from k"},
        {"select id, n, c from k", "c", Variant("abcd"), false, "select n || '|' || c from k"},
        {"select id, s, d from l", "s", Variant("abcd"), true, "select s || '|' || d from l"},
        {"select id, s, d from l", "d", Variant("10000-01-01"), true, "select s || '|' || d from l"},
        {"select id, s, d from l", "d", Variant(3e6), true, "select s || '|' || d from l"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.column) + " = " + CStr(c.value));
        const std::string before = CStr(other.Scalar(c.stored));
        Ref<clsDynasetADO> d = s.Dynaset(c.query);
        ASSERT_TRUE(d);
        Ref<clsFieldADO> field = d->FieldsCollection()->Item(c.column);
        const Variant original = field->Value();
        Variant value = c.value;
        field->SetValue(value);
        EXPECT_EQ(field->Error(), c.refused_at_write ? 1 : 0);
        EXPECT_EQ(d->Update(), c.refused_at_write ? 0 : 1);
        EXPECT_EQ(d->Recordset()->EditMode(), 0);
        EXPECT_TRUE(d->Recordset()->Fields()->Item(c.column)->Value() == original);
        EXPECT_EQ(CStr(other.Scalar(c.stored)), before);
        EXPECT_EQ(d->Error(), 0);
    }
    EXPECT_TRUE(s.boxes().Shown().empty());
    EXPECT_TRUE(s.errors().Reports().empty());
}

}  // namespace
}  // namespace korado
