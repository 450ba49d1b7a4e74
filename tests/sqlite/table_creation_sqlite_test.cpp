// Creating a database and tables on SQLite: a new file the connection object then works in, a table copied
// from a dynaset's fields (names that are reserved words, hold blanks or brackets), and refusals that leave
// nothing behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "korado/dictionary/clsDictionary.h"
#include "korado/errors/clsADOError.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado {
namespace {

using test::Session;
using test::SqliteConnectionString;
using test::TempDir;

Variant Object(Dispatch& d) { return Variant(Ref<Dispatch>(&d)); }

std::int64_t TablesNamed(Session& s, const std::string& name) {
    return CLngLng(
        s.Scalar("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = '" + name + "'"));
}

TEST(TableCreationSqlite, CreateMakesANewDatabaseTheConnectionObjectThenUses) {
    TempDir dir;
    const std::string file = dir.File("new.db");
    Session s;
    const Ref<ado::Connection> before = s.ado().Connection();
    std::string cs = SqliteConnectionString(file);
    EXPECT_TRUE(CallMethod(Object(s.ado()), "Create", cs).IsEmpty());
    EXPECT_EQ(cs, SqliteConnectionString(file));
    ASSERT_TRUE(std::filesystem::exists(file));
    const Ref<ado::Connection> created = s.ado().Connection();
    ASSERT_TRUE(created && created.get() != before.get());
    EXPECT_EQ(created->State(), ado::adStateOpen);
    created->Execute("CREATE TABLE t (a INTEGER)");
    created->Execute("INSERT INTO t VALUES (7)");
    EXPECT_EQ(CLng(created->Execute("SELECT a FROM t")->Fields()->At(0)->Value()), 7);
    EXPECT_TRUE(s.errors().Reports().empty());

    // An existing file is neither overwritten nor opened in its place: the failure is reported and the
    // connection object keeps the connection it had.
    EXPECT_TRUE(s.ado().Create(cs).IsEmpty());
    ASSERT_EQ(s.errors().Reports().size(), 1u);
    const auto& r = s.errors().Reports()[0];
    EXPECT_EQ(std::tuple(r.module, r.routine, r.number, r.source),
              std::tuple("clsADO", "Create", hr::DB_E_DUPLICATEDATASOURCE, "ADOX.Catalog"));
    EXPECT_EQ(s.ado().Connection().get(), created.get());
    EXPECT_EQ(CLng(created->Execute("SELECT count(*) FROM t")->Fields()->At(0)->Value()), 1);
}

class TableCopySqlite : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(s.Connect(SqliteConnectionString(dir.File("copy.db"))).ok);
        s.Execute(
            "CREATE TABLE src (\"select\" INTEGER, \"order total\" NUMERIC(10,2), \"[group]\" VARCHAR(20), "
            "\"a.b\" TEXT, \"x`y\" BLOB, flag BOOLEAN, born DATE, at TIME, stamp DATETIME, price MONEY, "
            "small SMALLINT, big BIGINT, ratio DOUBLE, code CHAR(3), id GUID, raw VARBINARY(8))");
        s.Execute(
            "INSERT INTO src VALUES (1, 12.5, 'g', 'text', x'00ff', 1, '2026-12-07', '01:02:03', "
            "'2026-12-07 01:02:03', 3.25, 2, 9000000000, 0.5, 'abc', "
            "'{6F9619FF-8B86-D011-B42D-00C04FC964FF}', "
            "x'0102')");
        s.Execute("INSERT INTO src (\"select\") VALUES (2)");
    }
    Ref<clsDictionary> Dictionary() { return s.ado().Dictionary(); }

    TempDir dir;
    Session s;
};

// Every field of the source comes back from the copy with its type and size, under a name the database
// takes; the dynaset is not moved.
TEST_F(TableCopySqlite, ACopiedTableHasTheDynasetsColumns) {
    Ref<clsDynasetADO> dynaset = s.Dynaset("SELECT * FROM src ORDER BY \"select\"");
    ASSERT_TRUE(dynaset);
    CallMethod(Variant(Ref<Dispatch>(Dictionary())), "CreateTableFromDynaset", "order details",
               Variant(Ref<Dispatch>(dynaset)));
    EXPECT_TRUE(s.errors().Reports().empty());
    EXPECT_EQ(CLng(dynaset->Recordset()->Fields()->Item(Variant("select"))->Value()), 1);
    EXPECT_FALSE(dynaset->Recordset()->Eof());

    Ref<ado::Recordset> copy;
    s.Execute("SELECT * FROM \"order details\"", {}, &copy);
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->Eof());
    Ref<ado::Fields> source = dynaset->Recordset()->Fields();
    Ref<ado::Fields> copied = copy->Fields();
    const std::vector<std::string> names = {"select", "order total", "group", "a_b",   "x_y",   "flag",
                                            "born",   "at",          "stamp", "price", "small", "big",
                                            "ratio",  "code",        "id",    "raw"};
    ASSERT_EQ(copied->Count(), static_cast<std::int32_t>(names.size()));
    for (std::int32_t i = 0; i < copied->Count(); ++i) {
        ado::Field& from = *source->At(i);
        ado::Field& to = *copied->At(i);
        SCOPED_TRACE(from.Name());
        EXPECT_EQ(to.Name(), names[static_cast<std::size_t>(i)]);
        EXPECT_EQ(std::tuple(to.Type(), to.DefinedSize()), std::tuple(from.Type(), from.DefinedSize()));
        // Other providers are given no precision for a number: SQLite's DECIMAL default then applies.
        if (from.Type() == ado::adNumeric) {
            EXPECT_EQ(std::tuple(to.Precision(), to.NumericScale()), std::tuple(18, 0));
        } else {
            EXPECT_EQ(std::tuple(to.Precision(), to.NumericScale()),
                      std::tuple(from.Precision(), from.NumericScale()));
        }
    }
    // Every column takes nulls.
    EXPECT_EQ(s.Execute("INSERT INTO \"order details\" (\"select\") VALUES (NULL)"), 1);
}

// What the catalog or the database refuses leaves no table behind.
TEST_F(TableCopySqlite, RefusedCopiesLeaveNothingBehind) {
    struct Case {
        const char* what;
        std::string table, query;
        std::int32_t raised;  // a library code the caller gets; 0: reported to the error component
        std::int32_t number;  // the error raised or reported
        std::string text;     // the description raised
    };
    const std::vector<Case> cases = {
        {"a blank column name", "blank", "SELECT 1 AS \"   \", 2 AS b", CreateTableError, CreateTableError,
         "Could not create table blank.\r\n\r\nDriver error: Arguments are of the wrong type, are out of "
         "acceptable range, or are in conflict with one another."},
        {"two names that become one", "twice", "SELECT 1 AS \"a.b\", 2 AS \"A_B\"", 0,
         ado::adErrObjectInCollection, ""},
        {"a table that exists", "SRC", "SELECT 1 AS a", 0, hr::DB_E_DUPLICATETABLEID, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        s.errors().Clear();
        Ref<clsDynasetADO> dynaset = s.Dynaset(c.query);
        ASSERT_TRUE(dynaset);
        const auto raised = test::RaisedText([&] { Dictionary()->CreateTableFromDynaset(c.table, dynaset); });
        if (c.raised) {
            EXPECT_EQ(raised, std::tuple(c.number, c.text));
            EXPECT_TRUE(s.errors().Reports().empty());
        } else {
            EXPECT_EQ(std::get<0>(raised), 0);
            ASSERT_EQ(s.errors().Reports().size(), 1u);
            EXPECT_EQ(std::tuple(s.errors().Reports()[0].routine, s.errors().Reports()[0].number),
                      std::tuple("CreateTableFromRecordset", c.number));
        }
        if (c.table != "SRC") EXPECT_EQ(TablesNamed(s, c.table), 0);
    }
    EXPECT_EQ(CLng(s.Scalar("SELECT count(*) FROM sqlite_schema WHERE type = 'table'")), 1);
    EXPECT_EQ(CLng(s.Scalar("SELECT count(*) FROM src")), 2);
}

}  // namespace
}  // namespace korado
