// Rows edited through dynasets on the ODBC data sources, inside the session's transaction: what Commit
// keeps and Rollback undoes, values that must come back exactly as written, a row another connection changed
// meanwhile, results that cannot be written back, batch mode, and the database's own refusal.
#include <gtest/gtest.h>

#include <unistd.h>

#include "korado/platform/adodb.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "support/odbc_servers.h"
#include "support/script_host.h"
#include "support/session.h"

namespace korado {
namespace {

using test::OdbcTarget;

std::string Text(const Variant& v) { return v.IsNull() ? "<null>" : CStr(v); }

class DynasetUpdateOdbc : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        KORADO_REQUIRE_ODBC(target());
        const OdbcTarget& t = target();
        const std::string cs = t.Source();
        const std::string login = t.user.empty() ? "" : t.user + "/" + t.password;
        ASSERT_TRUE(other.Connect(cs, login).ok);
        ASSERT_TRUE(s.Connect(cs, login).ok);
        g_HostObject = MakeRef<test::TestHost>();
        Drop();
        other.Execute("create table " + table + " (id " + t.serial_key +
                      ", name varchar(20) NOT NULL, code varchar(10) UNIQUE, qty int)");
        other.Execute("insert into " + table + " (name, code, qty) values ('a', 'A', 10), ('b', 'B', 20)");
    }
    void TearDown() override {
        if (s.ado().IsConnected()) s.ado().Rollback();
        if (other.ado().IsConnected()) Drop();
    }
    void Drop() {
        for (const std::string& t : {table, table + "_x"}) other.Execute("drop table if exists " + t);
    }
    const OdbcTarget& target() const { return test::GetOdbcTarget(GetParam()); }

    // The table as the other connection reads it: "id name code qty" per row.
    std::vector<std::string> Stored() {
        std::vector<std::string> out;
        Ref<clsDynasetADO> d = other.Dynaset("select id, name, code, qty from " + table + " order by id");
        for (; d && !d->EOF_(); d->MoveNext()) {
            std::string row;
            for (int c = 0; c < 4; ++c) row += (c ? " " : "") + Text(d->FieldsCollection()->Item(c)->Value());
            out.push_back(row);
        }
        return out;
    }
    static void Write(clsDynasetADO& d, const char* column, Variant value) {
        d.FieldsCollection()->Item(column)->SetValue(value);
    }
    // The recordset's current row (the dynaset's fields keep what they read at the last move).
    static std::string Read(clsDynasetADO& d, const char* column) {
        return Text(d.Recordset()->Fields()->Item(Variant(column))->Value());
    }
    Ref<clsDynasetADO> Open() {
        return s.Dynaset("select id, name, code, qty from " + table + " order by id");
    }

    test::Session other{false};  // sees each stored change at once
    test::Session s;             // made last: the library's current connection, with transactions
    std::string table = "ko_upd_" + std::to_string(::getpid());
};

// Changed, added (its server-given key read back, then changed again) and deleted rows: Commit keeps them
// all, Rollback undoes them all.
TEST_P(DynasetUpdateOdbc, CommitKeepsAndRollbackUndoes) {
    const std::vector<std::string> before{"1 a A 10", "2 b B 20"};
    struct Case {
        bool commit;
        std::vector<std::string> after;
    };
    for (const Case& c : {Case{false, before}, Case{true, {"1 a A 11", "3 c C 31"}}}) {
        SCOPED_TRACE(c.commit);
        Ref<clsDynasetADO> d = Open();
        ASSERT_TRUE(d);
        ASSERT_TRUE(d->Updatable());
        Write(*d, "qty", Variant(11));
        EXPECT_EQ(d->Update(), 0);

        ASSERT_TRUE(d->AddNew());
        Write(*d, "name", Variant("c"));
        Write(*d, "code", Variant("C"));
        Write(*d, "qty", Variant(30));
        EXPECT_EQ(d->Update(), 0);
        // A rolled-back serial is not given out again (SQLite's rowid is): the second round's row may get
        // the next number.
        const std::string id = Read(*d, "id");
        EXPECT_EQ(id, c.commit && GetParam() != "sqlite" ? "4" : "3");
        Write(*d, "qty", Variant(31));
        EXPECT_EQ(d->Update(), 0);

        d->MoveFirst();
        d->MoveNext();
        ASSERT_EQ(Read(*d, "name"), "b");
        d->Recordset()->Delete(ado::adAffectCurrent);
        EXPECT_EQ(Stored(), before);  // nothing is seen before the transaction ends
        if (c.commit) {
            s.ado().Commit();
        } else {
            s.ado().Rollback();
        }
        std::vector<std::string> expected = c.after;
        if (c.commit) expected.back() = id + " c C 31";
        EXPECT_EQ(Stored(), expected);
        EXPECT_TRUE(s.boxes().Shown().empty());
        EXPECT_EQ(d->Error(), 0);
    }
    EXPECT_TRUE(s.errors().Reports().empty());
}

// Each value is written over the previous one, so that every kind also serves as the original value that
// finds the row for the next change; the other connection reads back exactly what was written.
TEST_P(DynasetUpdateOdbc, ValuesComeBackUnchanged) {
    const OdbcTarget& t = target();
    const std::string x = table + "_x";
    other.Execute("create table " + x + " (id int PRIMARY KEY, txt varchar(40), bin " + t.blob_type +
                  ", at " + t.timestamp_type + ", amount NUMERIC(18,4))");
    other.Execute("insert into " + x + " (id, txt, bin, at, amount) values (1, 'x', NULL, NULL, 1)");
    Date at = DateSerial(2026, 12, 7);
    at.days += TimeSerial(13, 45, 30).days + 0.25 / 86400;  // the fraction must find the row again
    Decimal amount = CDec(Variant("12345678901234.5678"));
    if (!t.exact_numeric) amount = CDec(Variant("1234.5"));  // the SQLite driver keeps doubles
    const std::vector<std::vector<Variant>> rounds{
        {Variant("it's \"quoted\""), Variant(Bytes{0, 1, 39, 34, 255}), Variant(at), Variant(amount)},
        // The empty text stores NULL in a text or binary column.
        {Variant(""), Variant(""), Variant::Null(), Variant::Null()},
        {Variant("'\"'"), Variant(Bytes{255, 0}), Variant(DateSerial(1999, 1, 31)),
         Variant(CDec(Variant("-0.0001")))},
    };
    const char* names[] = {"txt", "bin", "at", "amount"};
    for (std::size_t r = 0; r < rounds.size(); ++r) {
        SCOPED_TRACE(r);
        Ref<clsDynasetADO> d = s.Dynaset("select id, txt, bin, at, amount from " + x);
        ASSERT_TRUE(d);
        for (std::size_t c = 0; c < 4; ++c) Write(*d, names[c], rounds[r][c]);
        ASSERT_EQ(d->Update(), 0) << (s.boxes().Shown().empty() ? "" : s.boxes().Shown().back().text);
        s.ado().Commit();
        Ref<clsDynasetADO> back = other.Dynaset("select id, txt, bin, at, amount from " + x);
        ASSERT_TRUE(back);
        for (std::size_t c = 0; c < 4; ++c) {
            const Variant v = back->FieldsCollection()->Item(names[c])->Value();
            const Variant& want = rounds[r][c];
            if (want.IsNull() || (want.IsString() && want.get_if<std::string>()->empty())) {
                EXPECT_TRUE(v.IsNull()) << names[c] << " " << Text(v);
            } else if (c == 1) {
                EXPECT_EQ(v.get_if<Bytes>() ? *v.get_if<Bytes>() : Bytes{}, *want.get_if<Bytes>())
                    << names[c];
            } else if (c == 2) {
                EXPECT_EQ(CDate(v).days, CDate(want).days) << Text(v);
            } else if (c == 3) {
                EXPECT_EQ(CStr(CDec(v)), CStr(want)) << Text(v);
            } else {
                EXPECT_EQ(Text(v), Text(want));
            }
        }
    }
    EXPECT_TRUE(s.boxes().Shown().empty());
}

// A row another connection changed since it was read is left as that connection wrote it, and the user is
// advised to requery. The database's own refusals (NOT NULL, unique) are reported in the connection's
// Errors with no advice. Either way the change is dropped and nothing is stored.
TEST_P(DynasetUpdateOdbc, FailedStoresChangeNothing) {
    struct Case {
        const char* what;
        const char* column;
        Variant value;
        std::string advice;  // empty: no box
        bool add = false;    // on a new row, which a failed store drops
    };
    const std::vector<Case> cases{
        {"concurrent", "qty", Variant(12),
         "The driver reported the following error:\r\nRow cannot be located for updating. Some values may "
         "have been changed since it was last read.\r\n\r\nAdvice:\r\nPlease requery the data and try the "
         "updates again"},
        {"not null", "name", Variant(""), ""},
        {"unique", "code", Variant("B"), ""},
        {"new row, unique", "code", Variant("A"), "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool concurrent = !c.advice.empty();
        // SQLite: the session's transaction keeps the other connection from writing.
        if (concurrent && !target().server) continue;
        s.boxes().Clear();
        Ref<clsDynasetADO> d = Open();
        ASSERT_TRUE(d);
        if (concurrent) other.Execute("update " + table + " set qty = 99 where id = 1");
        if (c.add) {
            ASSERT_TRUE(d->AddNew());
            Write(*d, "name", Variant("z"));
        }
        Write(*d, c.column, c.value);
        EXPECT_EQ(d->Update(), 1);
        std::vector<std::string> shown;
        for (const auto& box : s.boxes().Shown()) shown.push_back(box.text);
        EXPECT_EQ(shown, concurrent ? std::vector<std::string>{c.advice} : std::vector<std::string>{});
        EXPECT_EQ(std::tuple(d->Recordset()->EditMode(), d->Recordset()->RecordCount()), std::tuple(0, 2));
        EXPECT_EQ(Read(*d, "name") + Read(*d, "code") + Read(*d, "qty"), "aA10");
        if (!concurrent) {
            Ref<ado::Errors> errors = s.ado().Connection()->Errors();
            ASSERT_GT(errors->Count(), 0);
            // The SQLite driver reports every refusal as HY000.
            EXPECT_EQ(errors->Item(Variant(0))->SQLState().substr(0, 2), target().server ? "23" : "HY");
        }
        s.ado().Commit();
        EXPECT_EQ(Stored(), (std::vector<std::string>{concurrent ? "1 a A 99" : "1 a A 10", "2 b B 20"}));
        EXPECT_EQ(d->Error(), 0);
        other.Execute("update " + table + " set qty = 10 where id = 1");
    }
}

// Results the engine cannot write back: not updatable from the start, and Update says so.
TEST_P(DynasetUpdateOdbc, JoinAndKeylessTableAreNotUpdatable) {
    const std::string x = table + "_x";
    other.Execute("create table " + x + " (name varchar(20), label varchar(20))");
    other.Execute("insert into " + x + " values ('a', 'first')");
    for (const std::string& sql :
         {"select t.id, t.name, x.label from " + table + " t join " + x + " x on x.name = t.name",
          "select name, label from " + x}) {
        SCOPED_TRACE(sql);
        s.boxes().Clear();
        Ref<clsDynasetADO> d = s.Dynaset(sql);
        ASSERT_TRUE(d);
        EXPECT_EQ(std::tuple(d->Updatable(), d->Edit()), std::tuple(false, 7));
        Write(*d, "label", Variant("changed"));
        EXPECT_EQ(d->Update(), 0);
        ASSERT_EQ(s.boxes().Shown().size(), 1u);
        EXPECT_EQ(s.boxes().Shown()[0].text, "Recordset does not support updates");
        EXPECT_EQ(d->Error(), 1);
        s.ado().Commit();
        EXPECT_EQ(CStr(other.Scalar("select label from " + x)), "first");
    }
}

// Batch mode where the drivers' row counts decide: a row stored unchanged, and a row another connection
// changed, marked while the others are stored (the rest of batch mode: update_engine_test.cpp).
TEST_P(DynasetUpdateOdbc, BatchModeTellsAConflictFromAnUnchangedRow) {
    auto open = [&] {
        auto rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(ado::adUseClient);
        rs->Open(Variant("select id, name, code, qty from " + table + " order by id"),
                 Variant(s.ado().Connection()), ado::adOpenStatic, ado::adLockBatchOptimistic);
        return rs;
    };
    auto set = [](const Ref<ado::Recordset>& rs, const char* column, Variant v) {
        rs->Fields()->Item(Variant(column))->SetValue(std::move(v));
    };
    Ref<ado::Recordset> rs = open();
    // A value the row already holds is stored without a conflict, though MariaDB counts no changed row.
    set(rs, "name", Variant("a"));
    rs->UpdateBatch(ado::adAffectAll);
    EXPECT_EQ(rs->Status(), ado::adRecUnmodified);
    s.ado().Commit();  // lets the other connection write the row below
    // A row another connection changed meanwhile is left alone and marked; the other rows are stored.
    if (!target().server) return;  // SQLite: the session's transaction keeps the other from writing
    rs = open();
    set(rs, "qty", Variant(12));
    rs->Update();
    rs->MoveNext();
    set(rs, "name", Variant("d"));
    rs->Update();
    other.Execute("update " + table + " set qty = 99 where id = 1");
    try {
        rs->UpdateBatch(ado::adAffectAll);
        ADD_FAILURE() << "UpdateBatch wrote over the other connection's change";
    } catch (const Error& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.Number()), 0x80040E38u) << e.what();
    }
    rs->MoveFirst();
    EXPECT_NE(rs->Status() & ado::adRecConcurrencyViolation, 0);
    s.ado().Commit();
    EXPECT_EQ(Stored(), (std::vector<std::string>{"1 a A 99", "2 d B 20"}));
}

INSTANTIATE_TEST_SUITE_P(Dsn, DynasetUpdateOdbc, ::testing::Values("pg", "maria", "sqlite", "pgnative"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace korado
