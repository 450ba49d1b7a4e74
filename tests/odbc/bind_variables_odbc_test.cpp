// Output bind variables through the connection object against the servers: a MariaDB procedure and a
// PostgreSQL function with OUT and INOUT parameters, called with ":name" placeholders on a real command, and
// the values copied back into the variables.
#include <gtest/gtest.h>

#include "korado/connection/clsADO.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/platform/modGlobals.h"
#include "odbc/odbc_test_util.h"
#include "support/support.h"

namespace korado::test {
namespace {

class OdbcBindVariables : public ::testing::TestWithParam<std::string> {
  protected:
    const OdbcTarget& target() const { return GetOdbcTarget(GetParam()); }

    void TearDown() override {
        if (ado_) {
            if (!routine_.empty()) TryIgnore([&] { ado_->Connection()->Execute(routine_); });
            ado_->Disconnect();
            ado_->Destructor();
        }
        ado_ = nullptr;
        ReleaseGlobals();
    }

    ErrorCapture errors_;
    MessageBoxCapture boxes_;
    Ref<clsADO> ado_;
    std::string routine_;  // the statement that drops what the test created
};

TEST_P(OdbcBindVariables, OutputValuesComeBack) {
    if (target().name == "sqlite") GTEST_SKIP() << "SQLite has no output parameters";
    KORADO_REQUIRE_ODBC(target());
    ado_ = MakeRef<clsADO>();
    // No session transaction: MariaDB commits around DDL anyway, and the routine must outlive a failure.
    ado_->Constructor(nullptr, false, 30, korParamIn, korTypeVarchar2, 10, 100);
    std::string user, pass, dsn;
    Variant cs(target().ConnectionString());
    ASSERT_TRUE(ado_->Connect(user, pass, dsn, cs));
    const std::string name = Unique("kor_out");
    Ref<ado::Connection> conn = ado_->Connection();
    if (target().name == "maria") {
        conn->Execute("CREATE PROCEDURE " + name +
                      "(IN a INT, OUT b VARCHAR(50), INOUT c DOUBLE) BEGIN SET b = CONCAT('v', a); "
                      "SET c = c * 2; END");
        routine_ = "DROP PROCEDURE " + name;
    } else {
        conn->Execute("CREATE FUNCTION " + name +
                      "(a integer, OUT b varchar, INOUT c double precision) AS $$ BEGIN b := 'v' || a; "
                      "c := c * 2; END $$ LANGUAGE plpgsql");
        routine_ = "DROP FUNCTION " + name + "(integer, double precision)";
    }

    Ref<clsBindVariables> bv = ado_->BindVariables();
    auto variable = [&](const char* name, std::int32_t data_type, std::int32_t mode, Variant value) {
        Ref<clsParameter> p = bv->Add(name);
        p->SetDataType(data_type);
        p->SetMode(mode);
        EXPECT_EQ(p->Mode(), mode) << "the driver allows output parameters";
        p->SetValue(std::move(value));
        return p;
    };
    Ref<clsParameter> a = variable("A", korTypeNumber, korParamIn, 7);
    // An empty text variable would be offered as an empty buffer of size 0, which the platform refuses
    // (3708); any value gives a buffer padded to 255 characters.
    Ref<clsParameter> b = variable("B", korTypeVarchar2, korParamOut, " ");
    Ref<clsParameter> c = variable("C", korTypeNumber, korParamInOut, 2.5);

    // psqlODBC answers the call with a row (it runs it as a SELECT), MariaDB with a result after the call;
    // the output values are there right after Execute all the same, while the recordset is still held.
    std::string sql = "{call " + name + "(:A, :B, :C)}";
    Ref<Collection> names = MakeCollection({"A", "B", "C"});
    Ref<ado::Command> command = CreateObjectAs<ado::Command>("ADODB.Command");
    command->SetActiveConnection(conn);
    bv->AddParametersToCommand(command, names, sql);
    EXPECT_EQ(sql, "{call " + name + "(? , ? , ? )}");
    command->SetCommandText(sql);
    Ref<ado::Recordset> rs = command->Execute();
    bv->PopulateOutputParameters(command, names);
    EXPECT_TRUE(errors_.Reports().empty()) << errors_.Reports()[0].description;

    EXPECT_EQ(CStr(b->Value()), "v7");
    EXPECT_EQ(c->Value(), Variant(5.0));
    EXPECT_EQ(CLng(a->Value()), 7);  // input variables are never changed
}

INSTANTIATE_TEST_SUITE_P(Targets, OdbcBindVariables, ::testing::ValuesIn(OdbcTargetNames()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace korado::test
