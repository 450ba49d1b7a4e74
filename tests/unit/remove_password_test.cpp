// The password removal of the connection string handed back to the host, on values that hold the
// connection-string syntax's own characters: a cut at the first ";" after "PWD=" once handed the tail of a
// braced or quoted password back to the host (issue 28).
#include <gtest/gtest.h>

#include <string>

#include "companions/clsError.h"
#include "korado/connection/clsADO.h"

namespace korado {
namespace {

TEST(RemovePassword, BracedAndQuotedValuesGoWhole) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        // The report: a brace inside the value doubled, a ";" inside it.
        {"Provider=MSDASQL;DSN=korado_pg;UID=someone;PWD={ab;cd}}ef};",
         "Provider=MSDASQL;DSN=korado_pg;UID=someone;"},
        {"Password='ab;cd';Data Source=x;", "Data Source=x;"},
        // Doubled quotes, "=", blanks after "=" and before ";", the blank before the key kept.
        {"DSN=x; pwd=\"a \"\"b\"\";c=d \" ;UID=u;", "DSN=x; UID=u;"},
        {"DSN=x;PaSsWoRd= {p w;=}} }  ;UID=u", "DSN=x;UID=u"},
        {"DSN=x;PWD='it''s;me';UID=u", "DSN=x;UID=u"},
        // Full case folding, as the language's text comparison does.
        {"PAßWORD={x;y};DSN=z;", "DSN=z;"},
        // Several password entries: both keys, a key twice, a key with blanks before "=".
        {"Password={a;b};UID=u;pWd='c;d';DSN=y", "UID=u;DSN=y"},
        {"PWD={a;b};UID=u;pwd=\"c;d\";PWD=e;Password ='f;g'", "UID=u;PWD=e;"},
        {"DSN=x; PWD\t= {a;b} ;UID=u", "DSN=x;UID=u"},
        // A braced or quoted value goes even as the last entry, and one left open takes the rest with it.
        {"DSN=x;PWD={se;cret}", "DSN=x;"},
        {"DSN=x;PWD={ab;cd", "DSN=x;"},
        {"DSN=x;Password='ab;cd;UID=u;", "DSN=x;"},
        // Password-like text inside another entry's braced or quoted value is that entry's.
        {"Driver={PWD=a;b};PWD={c;d};UID=u;", "Driver={PWD=a;b};UID=u;"},
        {"Comment='Password=p;q';Password=\"r;s\";", "Comment='Password=p;q';"},
        // Unquoted values are cut as they always were: at the first ";", the first entry of each key, a
        // last entry without ";" kept, a name ending in "Password" shortened.
        {"UID=u;PWD=se{cret;DSN=x", "UID=u;DSN=x"},
        {"PWD=a;PWD=b;", "PWD=b;"},
        {"UID=u;PWD=last", "UID=u;PWD=last"},
        {"OldPassword=x;B=2;", "OldB=2;"},
        // The data source's own string inside "Extended Properties" loses its password too.
        {"Provider=MSDASQL;Extended Properties=\"DSN=x;PWD=p;UID=u\";",
         "Provider=MSDASQL;Extended Properties=\"DSN=x;UID=u\";"},
        {"extended properties='DSN=x;Password={a;b};';Password=q;", "extended properties='DSN=x;';"},
        // Nothing to remove.
        {"Provider=SQLite;Data Source=/tmp/a b.db;", "Provider=SQLite;Data Source=/tmp/a b.db;"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(clsADO::m_RemovePassword(c.in), c.out) << c.in;

    // The error log masks such values whole too.
    EXPECT_EQ(companions::MaskPasswords("open PWD={ab;cd}}ef};UID=u failed"), "open PWD=***;UID=u failed");
    EXPECT_EQ(companions::MaskPasswords("Password='it''s;me';x"), "Password=***;x");
    EXPECT_EQ(companions::MaskPasswords("pwd=\"a;b"), "pwd=***");
    // Inside a nested string, after a tab; not inside a longer word.
    EXPECT_EQ(companions::MaskPasswords("Extended Properties='PWD=p;UID=u';{Password=q}"),
              "Extended Properties='PWD=***;UID=u';{Password=***");
    EXPECT_EQ(companions::MaskPasswords("DSN=x;\tPwd=p"), "DSN=x;\tPwd=***");
    EXPECT_EQ(companions::MaskPasswords("my_pwd=1 newpassword=2"), "my_pwd=1 newpassword=2");
}

}  // namespace
}  // namespace korado
