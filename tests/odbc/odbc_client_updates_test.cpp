// Rows changed, added and deleted through a client recordset over the ODBC bridge, read back from a second
// connection; a row another connection changed since it was read is left as that connection wrote it.
#include <gtest/gtest.h>

#include "korado/platform/adodb.h"
#include "korado/runtime/registry.h"
#include "odbc/odbc_test_util.h"

namespace korado::test {
namespace {

class OdbcClientUpdates : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        target_ = &GetOdbcTarget(GetParam());
        KORADO_REQUIRE_ODBC(*target_);
        other_ = OpenSession(*target_);
        RunQuietly(*other_, "DROP TABLE " + table_);
        std::string key = GetParam() == "pg"      ? "id serial PRIMARY KEY"
                          : GetParam() == "maria" ? "id int AUTO_INCREMENT PRIMARY KEY"
                                                  : "id INTEGER PRIMARY KEY";
        RunSql(*other_, "CREATE TABLE " + table_ + " (" + key + ", name varchar(20), qty int)");
        RunSql(*other_, "INSERT INTO " + table_ + " (name, qty) VALUES ('a', 10), ('b', 20)");
        connection_ = CreateObjectAs<ado::Connection>("ADODB.Connection");
        connection_->Open("DSN=" + target_->dsn, target_->user, target_->password);
    }
    void TearDown() override {
        if (connection_) connection_->Close();  // SQLite: no lock of this connection's left on the file
        if (other_) RunQuietly(*other_, "DROP TABLE " + table_);
    }
    Ref<ado::Recordset> OpenClient() {
        auto rs = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        rs->SetCursorLocation(ado::adUseClient);
        rs->Open(Variant("SELECT id, name, qty FROM " + table_ + " ORDER BY id"), Variant(connection_),
                 ado::adOpenStatic, ado::adLockOptimistic);
        return rs;
    }
    // The table as the second connection reads it: "id name qty" per row.
    std::vector<std::string> Stored() {
        std::vector<std::string> out;
        for (const auto& row : RunSql(*other_, "SELECT id, name, qty FROM " + table_ + " ORDER BY id").rows)
            out.push_back(Text(row[0]) + " " + Text(row[1]) + " " + Text(row[2]));
        return out;
    }
    static void Set(const Ref<ado::Recordset>& rs, const char* field, Variant value) {
        rs->Fields()->Item(Variant(field))->SetValue(value);
    }
    static std::string Get(const Ref<ado::Recordset>& rs, const char* field) {
        return Text(rs->Fields()->Item(Variant(field))->Value());
    }

    const OdbcTarget* target_ = nullptr;
    std::string table_ = Unique("client_upd");
    std::unique_ptr<Session> other_;
    Ref<ado::Connection> connection_;
};

TEST_P(OdbcClientUpdates, ChangesAddsAndDeletesReachTheServer) {
    Ref<ado::Recordset> rs = OpenClient();
    ASSERT_TRUE(rs->Supports(ado::adUpdate));
    Set(rs, "qty", Variant(11));
    rs->Update();

    rs->AddNew();
    Set(rs, "name", Variant("c"));
    Set(rs, "qty", Variant(30));
    rs->Update();
    // The key the server gave the row is read back, so the new row can be changed again at once.
    EXPECT_EQ(Get(rs, "id"), "3");
    Set(rs, "qty", Variant(31));
    rs->Update();

    rs->MoveFirst();
    rs->MoveNext();
    ASSERT_EQ(Get(rs, "name"), "b");
    rs->Delete(ado::adAffectCurrent);
    EXPECT_EQ(Stored(), (std::vector<std::string>{"1 a 11", "3 c 31"}));
}

TEST_P(OdbcClientUpdates, ARowChangedSinceItWasReadIsNotOverwritten) {
    Ref<ado::Recordset> rs = OpenClient();
    RunSql(*other_, "UPDATE " + table_ + " SET qty = 99 WHERE id = 1");
    Set(rs, "qty", Variant(12));
    try {
        rs->Update();
        ADD_FAILURE() << "Update wrote over the other connection's change";
    } catch (const Error& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.Number()), 0x80040E38u) << e.what();
    }
    EXPECT_EQ(Stored(), (std::vector<std::string>{"1 a 99", "2 b 20"}));
}

INSTANTIATE_TEST_SUITE_P(Dsn, OdbcClientUpdates, ::testing::Values("pg", "maria", "sqlite"), TargetName);

}  // namespace
}  // namespace korado::test
