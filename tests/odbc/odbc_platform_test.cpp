// The ODBC bridge as a host meets it: ADODB.Connection, Recordset and Errors over the test DSNs, with no
// "Provider=" in the connection string (which means MSDASQL).
#include <gtest/gtest.h>

#include "korado/platform/adodb.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"
#include "odbc/odbc_test_util.h"
#include "support/raises.h"

namespace korado::test {
namespace {

class OdbcPlatform : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        target_ = &GetOdbcTarget(GetParam());
        KORADO_REQUIRE_ODBC(*target_);
        connection_ = CreateObjectAs<ado::Connection>("ADODB.Connection");
        connection_->Open("DSN=" + target_->dsn, target_->user, target_->password);
    }

    const OdbcTarget* target_ = nullptr;
    Ref<ado::Connection> connection_;
};

TEST_P(OdbcPlatform, ClosingTheConnectionInTheMiddleOfALongReadClosesItsRecordset) {
    auto select = [&](int rows) {
        const std::string n = std::to_string(rows);
        return target_->name == "maria" ? "SELECT seq AS g FROM seq_1_to_" + n
               : target_->name == "pg"
                   ? "SELECT g FROM generate_series(1, " + n + ") g"
                   : "WITH RECURSIVE s(g) AS (SELECT 1 UNION ALL SELECT g + 1 FROM s WHERE g < " + n +
                         ") SELECT g FROM s";
    };
    for (int round = 0; round < 3; ++round) {
        // The last round inside a transaction and past psqlODBC's first FETCH, where the bridge FETCHes the
        // driver's cursor itself, one FETCH ahead on another thread.
        const int rows = round < 2 ? 6000 : 26000;
        const std::string sql = select(rows);
        if (round == 2) connection_->BeginTrans();
        Ref<ado::Recordset> rs = connection_->Execute(sql);  // forward-only, on the server
        Ref<ado::Field> g = rs->Fields()->At(0);
        // Past two blocks, so that a server's next block may be on its way when the connection goes.
        const int stop = round < 2 ? 1500 + round * 777 : 15555;
        for (int n = 1; n <= stop; ++n) {
            ASSERT_EQ(CLng(g->Value()), n);
            rs->MoveNext();
        }
        // A connection does not close inside a transaction: that ends first, under the read.
        if (round == 2) connection_->RollbackTrans();
        connection_->Close();
        EXPECT_EQ(rs->State(), ado::adStateClosed);
        EXPECT_TRUE(RaisedError([&] { rs->MoveNext(); }));
        connection_->Open("DSN=" + target_->dsn, target_->user, target_->password);
        Ref<ado::Recordset> count = connection_->Execute("SELECT count(*) FROM (" + sql + ") AS c");
        EXPECT_EQ(CLng(count->Fields()->At(0)->Value()), rows);
    }
}

TEST_P(OdbcPlatform, WarningsReachConnectionErrors) {
    if (target_->name != "pg") GTEST_SKIP() << "a PostgreSQL warning";
    connection_->Execute("DO $$ BEGIN RAISE WARNING 'careful'; END $$");
    ASSERT_GE(connection_->Errors()->Count(), 1);
    EXPECT_NE(connection_->Errors()->Item(Variant(0))->Description().find("careful"), std::string::npos);
    EXPECT_EQ(connection_->Errors()->Item(Variant(0))->SQLState(), "01000");
}

INSTANTIATE_TEST_SUITE_P(Dsn, OdbcPlatform, ::testing::ValuesIn(OdbcTargetNames()), TargetName);

}  // namespace
}  // namespace korado::test
