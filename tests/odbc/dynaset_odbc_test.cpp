// Dynasets through the ODBC bridge against the real servers: both kinds of walk, counts, procedures'
// result sets with their further results, and a failed open inside a transaction.
#include <gtest/gtest.h>

#include <unistd.h>

#include "korado/parameters/clsParameter.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "support/odbc_servers.h"
#include "support/script_host.h"
#include "support/session.h"

namespace korado {
namespace {

using test::OdbcTarget;

class DynasetOdbc : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        KORADO_REQUIRE_ODBC(target());
        const OdbcTarget& t = target();
        ASSERT_TRUE(s.Connect(t.Source(), t.user.empty() ? "" : t.user + "/" + t.password).ok);
        g_HostObject = MakeRef<test::TestHost>();
        s.Execute("drop table if exists " + table);
        s.Execute("create table " + table + " (id integer primary key, name varchar(20))");
        s.Execute("insert into " + table + " values (1, 'one'), (2, 'two'), (3, 'three')");
        s.ado().Commit();
    }
    void TearDown() override {
        if (!s.ado().IsConnected()) return;
        s.ado().Rollback();
        s.Execute("drop table if exists " + table);
        for (const std::string& drop : drops) s.Execute(drop);
        s.ado().Commit();
    }
    const OdbcTarget& target() const { return test::GetOdbcTarget(GetParam()); }

    // The first column of every row, from the current one to the end.
    static std::vector<std::string> Walk(clsDynasetADO& d) {
        std::vector<std::string> seen;
        for (; !d.EOF_(); d.MoveNext()) seen.push_back(CStr(d.FieldsCollection()->Item(0)->Value()));
        return seen;
    }

    test::Session s;
    std::string table = "ko_dyn_" + std::to_string(::getpid());
    std::vector<std::string> drops;
};

TEST_P(DynasetOdbc, WalksCountsAndOutlivesAFailedOpenInATransaction) {
    for (bool large : {false, true}) {
        SCOPED_TRACE(large);
        const std::string sql = "select name, id from " + table + " order by id";
        Ref<clsDynasetADO> d = s.Dynaset(sql, large);
        ASSERT_TRUE(d);
        EXPECT_EQ(Walk(*d), (std::vector<std::string>{"one", "two", "three"}));
        EXPECT_EQ(d->Row(), 3);
        d = s.Dynaset(sql, large);
        EXPECT_EQ(d->RecordCount(), 3);
        EXPECT_EQ(d->EOF_(), large);  // the count walked the forward-only rows
    }
    ASSERT_EQ(s.boxes().Shown().size(), 1u);  // the forward-only count's MoveFirst

    s.Execute("insert into " + table + " values (4, 'four')");
    const std::string bad = "select nothing_here from " + table;
    EXPECT_FALSE(s.Dynaset(bad));
    ASSERT_EQ(s.boxes().Shown().size(), 2u);
    EXPECT_NE(s.boxes().Shown()[1].text.find("SQL=\"" + bad + "\""), std::string::npos);
    s.Execute("insert into " + table + " values (5, 'five')");
    s.ado().Commit();
    EXPECT_EQ(CLng(s.Scalar("select count(*) from " + table)), 5);
    EXPECT_TRUE(s.errors().Reports().empty());
}

// A procedure's rows through CreateDynasetFromProc, with a bind variable; MariaDB's procedure gives a
// second result, to which NextRecordset steps the same dynaset.
TEST_P(DynasetOdbc, ProcedureResultSetsAndFurtherResults) {
    const OdbcTarget& t = target();
    if (!t.procedures) GTEST_SKIP() << t.dsn << " has no stored procedures";
    const std::string proc = "ko_dyn_rows_" + std::to_string(::getpid());
    if (t.IsPostgreSQL()) {
        drops.push_back("drop function if exists " + proc + "(integer)");
        s.Execute("create function " + proc +
                  "(a integer) returns table (name varchar, id integer) as "
                  "'select name, id from " +
                  table + " where id >= a order by id' language sql");
    } else {
        drops.push_back("drop procedure if exists " + proc);
        s.Execute("create procedure " + proc + "(a int) begin select name, id from " + table +
                  " where id >= a order by id; select 'second' as s; end");
    }
    s.ado().BindVariables()->Add("a")->SetValue(2);
    std::string call = proc + "(:a)";
    Ref<Collection> names = MakeCollection({"a"});
    bool large = false;
    Ref<clsDynasetADO> d = s.ado().CreateDynasetFromProc(call, names, large);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->SQLText(), proc + "(:a)");
    EXPECT_EQ(Walk(*d), (std::vector<std::string>{"two", "three"}));
    if (t.name == "maria") {
        ASSERT_EQ(d->NextRecordset().get(), d.get());
        EXPECT_EQ(Walk(*d), std::vector<std::string>{"second"});
    }
    EXPECT_TRUE(s.boxes().Shown().empty());
    EXPECT_TRUE(s.errors().Reports().empty());
}

INSTANTIATE_TEST_SUITE_P(Dsns, DynasetOdbc, ::testing::ValuesIn(test::OdbcTargetNames()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace korado
