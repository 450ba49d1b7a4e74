// The dictionary against providers no machine here has: system schemas, a provider without schema rowsets,
// and the column query's failure rows (Advantage's collation mismatch among them).
#include <gtest/gtest.h>

#include "dataaccess/providers/scripted/scripted_provider.h"
#include "korado/dictionary/clsDictionary.h"
#include "korado/errors/clsADOError.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado {
namespace {

using dataaccess::scripted::ScopedProvider;
using dataaccess::scripted::ScriptedProvider;
using test::Session;

constexpr std::int32_t kFail = Hr(0x80004005);

std::shared_ptr<ScriptedProvider> Pose(std::string name, std::string source) {
    auto p = std::make_shared<ScriptedProvider>(ScriptedProvider::Identity{
        name, name + ".1", source + " friendly name", source, "x.so", "01.00.0000"});
    p->SetStandardProperties("Scripted DBMS", "1.0");
    return p;
}

std::vector<std::string> Names(const Variant& v) {
    std::vector<std::string> out;
    for (const Variant& item : *v.ObjectAs<Collection>()) out.push_back(CStr(item));
    return out;
}

TEST(DictionaryScripted, SystemSchemasAreLeftOutByExactNameOnly) {
    auto p = Pose("Oracle", "OraOLEDB");
    const Variant null = Variant::Null();
    p->SetSchema(ado::adSchemaSchemata, {{null, Variant("SYS")},
                                         {null, Variant("sys")},
                                         {null, Variant("System")},
                                         {null, Variant("SYSMAN")},
                                         {null, null},
                                         {null, Variant("SCOTT")},
                                         {null, Variant("SYSTEM")}});
    ScopedProvider scoped(p);
    Session s;
    ASSERT_TRUE(s.Connect("Provider=Oracle").ok);
    Ref<clsDictionary> d = s.ado().Dictionary();
    EXPECT_EQ(Names(d->Schemas(null, false)), (std::vector<std::string>{"SYSMAN", "", "SCOTT"}));
    const std::vector<std::string> all{"SYS", "sys", "System", "SYSMAN", "", "SCOTT", "SYSTEM"};
    EXPECT_EQ(Names(d->Schemas(null, true)), all);
    EXPECT_EQ(Names(d->Schemas(Variant("ignored"))), all);
    EXPECT_TRUE(s.errors().Reports().empty());
}

TEST(DictionaryScripted, ProviderWithoutSchemaRowsets) {
    ScopedProvider scoped(Pose("Bare", "Bare"));
    Session s;
    ASSERT_TRUE(s.Connect("Provider=Bare").ok);
    Ref<clsDictionary> d = s.ado().Dictionary();
    const Variant null = Variant::Null();

    EXPECT_TRUE(d->Schemas(null).IsNothing());
    EXPECT_RAISES(NoDictionaryDataFound, d->Objects(dictViews, null, Variant("%"), Variant(false)));
    const Variant columns = d->Columns(null, Variant("t"));
    ASSERT_TRUE(columns.IsObject());
    EXPECT_EQ(columns.ObjectAs<Collection>()->Count(), 0);
    ASSERT_EQ(s.boxes().Shown().size(), 1u);
    EXPECT_EQ(s.boxes().Shown()[0].text, "The driver you use is unable to retrieve column information.");
    EXPECT_TRUE(s.errors().Reports().empty());
}

TEST(DictionaryScripted, ColumnQueryFailures) {
    const std::string advice =
        "Unable to get column information for table orders.\r\n\r\nDriver error message:\r\nIndex "
        "corrupt\r\n\r\n"
        "Advice:\r\nSolution:  Make sure no applications have the table open. Then open the table with "
        "Advantage Data Architect, which will detect the collation mismatch and provide the opportunity to "
        "rebuild the index file.";
    struct Case {
        const char* source;
        std::int32_t native;
        Variant schema;
        std::int32_t raised;  // 0: reported instead
        std::string text;     // the raised description or the report's extra text
    } cases[] = {
        {"Advantage OLE DB Provider", 5175, Variant::Null(), GetColumnInfoError, advice},
        {"Advantage OLE DB Provider", 5000, Variant("dbo"), 0,
         "Advantage OLEDB: Schema [dbo] Table [orders]"},
        {"Advantage OLE DB Provider ", 5175, Variant("dbo"), 0, "Schema [dbo] Table [orders]"},
        {"Other", 5175, Variant::Null(), 0, "Schema [] Table [orders]"},
    };
    for (const Case& c : cases) {
        auto p = Pose("Posed", c.source);
        p->FailSchema(ado::adSchemaColumns, {{kFail, c.source, "Index corrupt", c.native, "HY000"}});
        ScopedProvider scoped(p);
        Session s;
        ASSERT_TRUE(s.Connect("Provider=Posed").ok);
        Ref<clsDictionary> d = s.ado().Dictionary();
        if (c.raised) {
            std::optional<Error> e = test::RaisedError([&] { d->Columns(c.schema, Variant("orders")); });
            test::ExpectError(e, c.raised, "korADO");
            EXPECT_EQ(e->Description(), c.text);
            EXPECT_TRUE(s.errors().Reports().empty());
            continue;
        }
        EXPECT_TRUE(d->Columns(c.schema, Variant("orders")).IsEmpty()) << c.source;
        // A null schema is tried once more as an empty one; only the last failure is reported.
        ASSERT_EQ(s.errors().Reports().size(), 1u) << c.source;
        EXPECT_EQ(s.errors().Reports()[0].routine, "Get Columns");
        EXPECT_EQ(s.errors().Reports()[0].description, "Index corrupt");
        EXPECT_EQ(CStr(s.errors().Reports()[0].debug_message), c.text);
    }
}

}  // namespace
}  // namespace korado
