// Helpers of the ODBC bridge's tests: sessions on the test DSNs through the provider interface, statements
// run to completion, and names private to this test process (several test runs may share the servers).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dataaccess/provider.h"
#include "korado/runtime/convert.h"
#include "support/odbc_servers.h"

namespace korado::test {

using dataaccess::ColumnInfo;
using dataaccess::Cursor;
using dataaccess::ExecuteOptions;
using dataaccess::ParamBinding;
using dataaccess::ProviderError;
using dataaccess::Session;
using dataaccess::Statement;

using Rows = std::vector<std::vector<Variant>>;

struct Outcome {
    std::vector<ColumnInfo> columns;  // of the first row-returning result
    Rows rows;                        // of the first row-returning result
    std::int64_t affected = -1;       // of the last action result
    int results = 0;
};

// A value as text for comparisons and messages; "<null>" for Null.
inline std::string Text(const Variant& v) { return v.IsNull() ? "<null>" : CStr(v); }

// A name with this process's id, so that concurrent runs on the same servers keep apart.
std::string Unique(const std::string& base);

std::unique_ptr<Session> OpenSession(const OdbcTarget& target, std::string_view extra = {});
// Every row of `cursor` (all columns).
Rows ReadAll(Cursor& cursor);
// Runs `sql` and reads every result.
Outcome RunSql(Session& session, std::string_view sql, std::vector<ParamBinding> params = {},
               ExecuteOptions options = {});
// Runs `sql`, ignoring a failure (cleanup).
void RunQuietly(Session& session, std::string_view sql);

ParamBinding In(std::int32_t type, Variant value, std::int32_t size = 0);
ParamBinding Out(std::int32_t type, std::int32_t size = 0);
ParamBinding InOut(std::int32_t type, Variant value, std::int32_t size = 0);

// The first diagnostic of a ProviderError thrown by `body`; fails the test when nothing is thrown.
template <class F>
dataaccess::Diagnostic FirstRecord(F&& body, std::vector<dataaccess::Diagnostic>* all = nullptr) {
    try {
        body();
    } catch (const ProviderError& e) {
        if (all) *all = e.Records();
        EXPECT_FALSE(e.Records().empty());
        return e.Records().empty() ? dataaccess::Diagnostic{} : e.Records().front();
    }
    ADD_FAILURE() << "no ProviderError was raised";
    return {};
}

// Parameterised fixture: one body, run against every DSN.
class OdbcTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override;
    const OdbcTarget& target() const { return *target_; }
    Session& session() { return *session_; }

    const OdbcTarget* target_ = nullptr;
    std::unique_ptr<Session> session_;
};

std::string TargetName(const ::testing::TestParamInfo<std::string>& info);

}  // namespace korado::test
