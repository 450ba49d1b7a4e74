// The About form on the servers' data sources through the ODBC bridge.
#include <gtest/gtest.h>

#include "support/about_form.h"
#include "support/odbc_servers.h"
#include "support/session.h"

namespace korado {
namespace {

class AboutOdbc : public ::testing::TestWithParam<std::string> {};

TEST_P(AboutOdbc, ShowsSavesAndClosesOnEscape) {
    const test::OdbcTarget& t = test::GetOdbcTarget(GetParam());
    KORADO_REQUIRE_ODBC(t);
    test::Session s;
    ASSERT_TRUE(s.Connect(t.ConnectionString()).ok);
    test::CheckAboutForm(s.ado(), s.boxes(), s.errors());
    EXPECT_EQ(about::AboutForm()->Caption(), "");  // unloaded by the last Escape
}

INSTANTIATE_TEST_SUITE_P(Dsns, AboutOdbc, ::testing::ValuesIn(test::OdbcTargetNames()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace korado
