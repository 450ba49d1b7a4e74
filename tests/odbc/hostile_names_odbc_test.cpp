// Names that read as SQL when pasted into a statement, on every data source: a table whose name closes a
// quote and drops another table, columns with the bracket, double quote and backquote that the databases
// quote identifiers with. The dictionary describes them, a dynaset edits, adds and deletes rows through
// them, a table is created with them; the other table is still there, and the changes landed where they
// were meant to.
#include <gtest/gtest.h>

#include <unistd.h>

#include "korado/dictionary/clsDictionary.h"
#include "korado/platform/adodb.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/convert.h"
#include "support/odbc_servers.h"
#include "support/raises.h"
#include "support/script_host.h"
#include "support/session.h"

namespace korado {
namespace {

using test::OdbcTarget;
using test::Session;

// The data sources of the conformance tests, and an SQLite file through the library's own provider.
class HostileNames : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam() == "sqlitefile") {
            source_ = test::SqliteConnectionString(dir_.File("names.db"));
            return;
        }
        const OdbcTarget& t = test::GetOdbcTarget(GetParam());
        KORADO_REQUIRE_ODBC(t);
        source_ = t.Source();
        login_ = t.user.empty() ? "" : t.user + "/" + t.password;
        quote_ = t.dbms_name == "MariaDB" ? '`' : '"';
        creates_tables_ = t.provider != "MSDASQL";  // the bridge creates no tables
    }
    // As the test writes the name into its own statements.
    std::string Q(const std::string& name) const {
        const char quote = quote_;
        std::string out(1, quote);
        for (char c : name) {
            if (c == quote) out += c;
            out += c;
        }
        return out + quote;
    }

    test::TempDir dir_;
    std::string source_, login_;
    char quote_ = '"';
    bool creates_tables_ = true;
};

std::vector<std::string> Names(const Variant& v) {
    std::vector<std::string> out;
    if (Ref<Collection> c = v.ObjectAs<Collection>())
        for (const Variant& item : *c) out.push_back(CStr(item));
    return out;
}

std::vector<std::string> ColumnNames(const Variant& columns) {
    std::vector<std::string> out;
    if (Ref<Collection> c = columns.ObjectAs<Collection>()) {
        for (const Variant& entry : *c)
            for (const Variant& item : *entry.ObjectAs<Collection>())
                if (const VariantArray& f = *item.get_if<VariantArray>(); CStr(f[0]) == "COLUMN_NAME")
                    out.push_back(CStr(f[1]));
    }
    return out;
}

TEST_P(HostileNames, AreJustNames) {
    const std::string y = "ko_y_" + std::to_string(::getpid());  // several runs may share a server
    const std::string x = "x\"; DROP TABLE " + y + "; --";
    const std::vector<std::string> columns = {"id", "a]b", "c\"d", "e`f"};
    Session other(false);
    ASSERT_TRUE(other.Connect(source_, login_).ok);
    Session s;
    ASSERT_TRUE(s.Connect(source_, login_).ok);
    g_HostObject = MakeRef<test::TestHost>();
    auto drop = [&] {
        for (const std::string& name : {x, x + "2", y}) other.Execute("drop table if exists " + Q(name));
    };
    drop();
    other.Execute("create table " + Q(y) + " (id integer)");
    other.Execute("create table " + Q(x) + " (" + Q("id") + " integer primary key, " + Q("a]b") +
                  " varchar(20), " + Q("c\"d") + " varchar(20), " + Q("e`f") + " varchar(20))");
    other.Execute("insert into " + Q(x) + " values (1, 'a1', 'c1', 'e1'), (2, 'a2', 'c2', 'e2')");

    // The dictionary: the names found as they are; a pattern that closes a quote finds nothing (a leading
    // "%" would match every name: only the text before it counts).
    Ref<clsDictionary> d = s.ado().Dictionary();
    EXPECT_EQ(Names(Variant(d->Objects(dictTables, Variant::Null(), Variant(x), Variant(false)))),
              std::vector<std::string>{x});
    EXPECT_EQ(ColumnNames(d->Columns(Variant::Null(), Variant(x))), columns);
    for (const std::string& pattern :
         std::vector<std::string>{"x'; DROP TABLE " + y + "; --%", "x' OR '1'='1%"}) {
        Ref<Collection> found;
        // Nothing listed at all may raise; either way nothing is found.
        test::RaisedError(
            [&] { found = d->Objects(dictTables, Variant::Null(), Variant(pattern), Variant(false)); });
        EXPECT_TRUE(Names(Variant(found)).empty()) << pattern;
        EXPECT_TRUE(ColumnNames(d->Columns(Variant::Null(), Variant(pattern))).empty()) << pattern;
        EXPECT_TRUE(
            ColumnNames(d->Columns(Variant::Null(), Variant("%'; DROP TABLE " + y + "; --"))).empty());
    }

    // The update engine: a value changed, a row added, a row deleted, in every hostile column.
    {
        Ref<clsDynasetADO> dynaset = s.Dynaset("select * from " + Q(x) + " order by " + Q("id"));
        ASSERT_TRUE(dynaset && dynaset->Updatable());
        Variant changed("A1");
        dynaset->FieldsCollection()->Item("a]b")->SetValue(changed);
        EXPECT_EQ(dynaset->Update(), 0);
        ASSERT_TRUE(dynaset->AddNew());
        int i = 0;
        for (Variant value : {Variant(3), Variant("a3"), Variant("c3"), Variant("e3")})
            dynaset->FieldsCollection()->Item(columns[i++].c_str())->SetValue(value);
        EXPECT_EQ(dynaset->Update(), 0);
        dynaset->MoveFirst();
        dynaset->MoveNext();
        dynaset->Recordset()->Delete(ado::adAffectCurrent);
        s.ado().Commit();
        EXPECT_TRUE(s.boxes().Shown().empty()) << s.boxes().Shown().front().text;
    }
    std::vector<std::string> stored;
    for (Ref<clsDynasetADO> read = other.Dynaset("select * from " + Q(x) + " order by " + Q("id"));
         read && !read->EOF_(); read->MoveNext()) {
        std::string row;
        for (const std::string& c : columns)
            row += CStr(read->FieldsCollection()->Item(c.c_str())->Value()) + " ";
        stored.push_back(row);
    }
    EXPECT_EQ(stored, (std::vector<std::string>{"1 A1 c1 e1 ", "3 a3 c3 e3 "}));

    // A new table with the same names, where the provider creates tables.
    if (creates_tables_) {
        Ref<ado::Recordset> rs;
        s.Execute("select * from " + Q(x), {}, &rs);
        s.ado().CreateTableFromRecordset(x + "2", rs);
        s.ado().Commit();
        // The characters a column name may not hold become "_"; the quote stays.
        EXPECT_EQ(ColumnNames(d->Columns(Variant::Null(), Variant(x + "2"))),
                  (std::vector<std::string>{"id", "a_b", "c\"d", "e_f"}));
    }
    EXPECT_EQ(CLng(other.Scalar("select count(*) from " + Q(y))), 0);  // still there
    EXPECT_TRUE(s.errors().Reports().empty());
    s.ado().Commit();  // an SQLite file is locked while the session's transaction has read it
    drop();
}

std::vector<std::string> Sources() {
    std::vector<std::string> names = test::OdbcTargetNames();
    names.push_back("sqlitefile");
    return names;
}

INSTANTIATE_TEST_SUITE_P(Sources, HostileNames, ::testing::ValuesIn(Sources()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace korado
