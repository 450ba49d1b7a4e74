// Dynasets against providers no machine here has, posed by the scripted provider: the call texts the
// Oracle providers are given, and a cursor engine's failure while moving.
#include <gtest/gtest.h>

#include "dataaccess/providers/scripted/scripted_provider.h"
#include "korado/errors/clsADOError.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "support/raises.h"
#include "support/script_host.h"
#include "support/session.h"

namespace korado {
namespace {

using dataaccess::scripted::Column;
using dataaccess::scripted::ScopedProvider;
using dataaccess::scripted::ScriptedExecution;
using dataaccess::scripted::ScriptedProvider;
using dataaccess::scripted::ScriptedResult;

struct Posed {
    explicit Posed(const std::string& name, std::string source = "Scripted")
        : provider(std::make_shared<ScriptedProvider>(
              ScriptedProvider::Identity{name, name + ".1", name, std::move(source), "x.so", "01.00.0000"})),
          scoped(provider) {
        provider->SetStandardProperties("Scripted DBMS", "1.0");
        provider->Otherwise(ScriptedExecution::Returns(
            ScriptedResult::Rows({Column("n", ado::adInteger)}, {{Variant(1)}, {Variant(2)}})));
        EXPECT_TRUE(s.Connect("Provider=" + name + ";Data Source=x").ok);
        g_HostObject = MakeRef<test::TestHost>();
    }
    Ref<clsDynasetADO> FromProc(std::string& call, bool large = false) {
        Ref<Collection> names;
        return s.ado().CreateDynasetFromProc(call, names, large);
    }
    std::shared_ptr<ScriptedProvider> provider;
    ScopedProvider scoped;
    test::Session s;
};

// Oracle's providers list no marker for a procedure's result set: MSDAORA's factory takes the first "?"
// out of the caller's text, OraOLEDB's dynaset out of the text it runs. Other providers run the call as
// given.
TEST(DynasetScripted, ProcedureCallTextsPerProvider) {
    struct Case {
        std::string provider, call, runs, caller_after;
    } cases[] = {
        {"MSDAORA", "{call p(?)}", "{call p()}", "{call p()}"},
        {"MSDAORA", "{call p(x,  ?)}", "{call p(x)}", "{call p(x)}"},
        {"MSDAORA", "?call", "?call", "?call"},
        {"OraOLEDB.Oracle", "pkg.get_rows(?,x)", "pkg.get_rows(x)", "pkg.get_rows(?,x)"},
        {"OraOLEDB.Oracle", "pkg.get_rows(x, ?)", "pkg.get_rows(x)", "pkg.get_rows(x, ?)"},
        {"OraOLEDB.Oracle", "pkg.get_rows(?)", "pkg.get_rows", "pkg.get_rows(?)"},
        {"OraOLEDB.Oracle", "pkg.get_rows(?, x)", "pkg.get_rows( x)", "pkg.get_rows(?, x)"},
        {"OraOLEDB.Oracle", "pkg.get_rows", "pkg.get_rows", "pkg.get_rows"},
        {"SQLOLEDB", "pkg.get_rows(?)", "pkg.get_rows(?)", "pkg.get_rows(?)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.provider + " " + c.call);
        Posed p(c.provider);
        std::string call = c.call;
        Ref<clsDynasetADO> d = p.FromProc(call);
        ASSERT_TRUE(d);
        EXPECT_EQ(call, c.caller_after);
        EXPECT_EQ(d->SQLText(), c.caller_after);
        ASSERT_FALSE(p.provider->executed().empty());
        EXPECT_EQ(p.provider->executed().back().text, c.runs);
        EXPECT_FALSE(d->EOF_());  // not read from the recordset until a move
    }
}

// The cursor engine's failure while moving becomes the library's advice.
TEST(DynasetScripted, CursorEngineFailureWhileMoving) {
    Posed p("SQLOLEDB", "Microsoft OLE DB Provider for SQL Server");
    ScriptedResult rows = ScriptedResult::Rows({Column("n", ado::adInteger)}, {{Variant(1)}, {Variant(2)}});
    rows.fetch_failure = {{Hr(0x80004005), "Microsoft Cursor Engine", "Unspecified error", 0, "HY000"}};
    rows.fail_after_rows = 1;
    p.provider->On("select n from t", ScriptedExecution::Returns(rows));
    std::string sql = "select n from t";
    Ref<Collection> names;
    bool large = true;
    Ref<clsDynasetADO> d = p.s.ado().CreateDynaset(sql, names, large);
    ASSERT_TRUE(d);
    EXPECT_EQ(
        test::RaisedText([&] { d->MoveNext(); }),
        std::tuple(RecordsetMoveNext, std::string("An error occurred while moving through the recordset. "
                                                  "Source=Microsoft Cursor Engine, number=-2147467259. "
                                                  "Advice: Rerun your query.")));
    EXPECT_TRUE(p.s.errors().Reports().empty());
}

}  // namespace
}  // namespace korado
