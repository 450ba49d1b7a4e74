// The dictionary of a connection over SQLite: objects by pattern, columns with their type names, and what a
// closed connection answers.
#include <gtest/gtest.h>

#include "korado/dictionary/clsDictionary.h"
#include "korado/errors/clsADOError.h"
#include "korado/errors/modErrorHandler.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado {
namespace {

using test::Session;

std::vector<std::string> Names(const Ref<Collection>& c) {
    std::vector<std::string> out;
    if (c)
        for (const Variant& v : *c) out.push_back(CStr(v));
    return out;
}

// Column name -> type name, from the entries Columns returns.
std::vector<std::pair<std::string, std::string>> ColumnTypes(const Variant& columns) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const Variant& entry : *columns.ObjectAs<Collection>()) {
        std::string name, type;
        for (const Variant& item : *entry.ObjectAs<Collection>()) {
            const VariantArray& field = *item.get_if<VariantArray>();
            if (CStr(field[0]) == "COLUMN_NAME") name = CStr(field[1]);
            if (CStr(field[0]) == "DATA_TYPE") type = CStr(field[1]);
        }
        out.emplace_back(name, type);
    }
    return out;
}

class SqliteDictionary : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(s.Connect(test::SqliteConnectionString(dir.File("dict.db"))).ok);
        for (const char* sql : {
                 "create table orders (id integer primary key, customer varchar(40) not null, total "
                 "numeric(10,2), placed date, note text)",
                 "create table Order_lines (id integer, qty smallint)",
                 "create table ord_x (x double)",
                 "create table \"it's\" (\"a b\" integer)",
                 "create table \"Grüße\" (g varchar(10))",
                 "create view ord_view as select id from orders",
                 "create view big_orders as select * from orders where total > 100",
             })
            s.Execute(sql);
        dict = s.ado().Dictionary();
        ASSERT_TRUE(dict);
    }

    test::TempDir dir;
    Session s;
    Ref<clsDictionary> dict;
};

TEST_F(SqliteDictionary, ObjectsByTypeAndPattern) {
    const Variant null = Variant::Null();
    struct Case {
        std::int32_t type;
        Variant pattern;
        bool include_sys;
        std::vector<std::string> names;
    } cases[] = {
        {dictTables, "%", false, {"Grüße", "Order_lines", "it's", "ord_x", "orders"}},
        {dictTables, "ord%", false, {"ord_x", "orders"}},
        {dictTables, "ord%zz", false, {"ord_x", "orders"}},
        {dictTables, "%zz", false, {"Grüße", "Order_lines", "it's", "ord_x", "orders"}},
        {dictTables, "or_%", false, {}},  // "_" is no wildcard
        {dictTables, "ord_%", false, {"ord_x"}},
        {dictTables, "it'%", false, {"it's"}},
        {dictTables, "Grü%", false, {"Grüße"}},
        {dictTables, "orders", false, {"orders"}},
        {dictTables, "ORDERS", false, {}},
        {dictTables, "", false, {}},
        {dictTables, Variant::Missing(), false, {"Grüße", "Order_lines", "it's", "ord_x", "orders"}},
        {dictTables, "ord%", true, {"ord_x", "orders"}},
        {dictTables, "sqlite%", true, {"sqlite_schema"}},
        {dictViews, "%", false, {"big_orders", "ord_view"}},
        {dictViews, "ord%", true, {"ord_view"}},
        // Every type at once, twice with the system objects: the second query has the same restrictions.
        {0, "ord%", false, {"ord_x", "orders", "ord_view"}},
        {0, "ord%", true, {"ord_x", "orders", "ord_view", "ord_x", "orders", "ord_view"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Names(dict->Objects(c.type, null, c.pattern, Variant(c.include_sys))), c.names)
            << c.type << " " << VariantToString(c.pattern) << " " << c.include_sys;
    }
    EXPECT_EQ(Names(dict->Objects(dictTables, Variant("no_such_schema"), Variant("%"), Variant(false))),
              std::vector<std::string>{});
    EXPECT_TRUE(s.errors().Reports().empty());
}

TEST_F(SqliteDictionary, ColumnsWithTypeNamesAndTablesNotThere) {
    const Variant null = Variant::Null();
    const Variant orders = dict->Columns(null, Variant("orders"));
    EXPECT_EQ(ColumnTypes(orders), (std::vector<std::pair<std::string, std::string>>{
                                       {"id", "Integer"},
                                       {"customer", "VarWChar"},
                                       {"total", "Numeric"},
                                       {"placed", "DBDate"},
                                       {"note", "LongVarWChar"},
                                   }));
    // Every field of the provider's row comes through, in its order, with its attribute flags.
    const auto& first = *orders.ObjectAs<Collection>()->ItemAt(1).ObjectAs<Collection>();
    EXPECT_EQ(CStr((*first.ItemAt(1).get_if<VariantArray>())[0]), "TABLE_CATALOG");
    EXPECT_EQ(CStr((*first.ItemAt(3).get_if<VariantArray>())[1]), "orders");
    EXPECT_TRUE((*first.ItemAt(1).get_if<VariantArray>())[2].get_if<std::int32_t>() != nullptr);
    EXPECT_EQ(ColumnTypes(dict->Columns(null, Variant("it's"))),
              (std::vector<std::pair<std::string, std::string>>{{"a b", "Integer"}}));

    // Not there, or named in another letter case, or in a schema no row has: no columns, no report.
    for (const Variant& table : {Variant("missing"), Variant("ORDERS"), Variant("ord%")}) {
        const Variant none = dict->Columns(null, table);
        ASSERT_TRUE(none.IsObject()) << CStr(table);
        EXPECT_EQ(none.ObjectAs<Collection>()->Count(), 0) << CStr(table);
    }
    EXPECT_EQ(dict->Columns(Variant(""), Variant("orders")).ObjectAs<Collection>()->Count(), 0);
    EXPECT_EQ(dict->Columns(null, null).ObjectAs<Collection>()->Count(), 0);
    EXPECT_TRUE(s.errors().Reports().empty());
}

TEST_F(SqliteDictionary, ReachedByNameThroughTheConnection) {
    const Variant by_name = GetProperty(Variant(Ref<clsADO>(&s.ado())), "Dictionary");
    ASSERT_TRUE(by_name.IsObject());
    const Variant names =
        GetProperty(by_name, "Objects", Variant(dictViews), Variant::Null(), Variant("big%"), Variant(false));
    EXPECT_EQ(Names(names.ObjectAs<Collection>()), std::vector<std::string>{"big_orders"});
    EXPECT_EQ(CStr(GetProperty(by_name, "DataTypeDesc", Variant(3), Variant(90))), "AutoNumber");
    EXPECT_EQ(CStr(GetProperty(by_name, "DataTypeDesc", Variant(202))), "VarWChar");
    const Variant made =
        CallMethod(Variant(CreateObject("korADO.clsDictionary")), "DataTypeDesc", Variant(7));
    EXPECT_EQ(CStr(made), "Date");
}

TEST_F(SqliteDictionary, ClosedConnection) {
    s.ado().Connection()->RollbackTrans();
    s.ado().Disconnect();
    const Variant null = Variant::Null();

    std::optional<Error> e =
        test::RaisedError([&] { dict->Objects(dictTables, null, Variant("%"), Variant(true)); });
    test::ExpectError(e, NoDictionaryDataFound, "korADO");
    EXPECT_EQ(e->Description(), "Could not retrieve any database dictionary data");

    EXPECT_TRUE(dict->Schemas(null).IsNothing());
    EXPECT_TRUE(s.errors().Reports().empty());

    EXPECT_TRUE(dict->Columns(null, Variant("orders")).IsEmpty());
    ASSERT_EQ(s.errors().Reports().size(), 1u);
    const auto& report = s.errors().Reports()[0];
    EXPECT_EQ(report.module, "clsDictionary");
    EXPECT_EQ(report.routine, "Get Columns");
    EXPECT_EQ(CStr(report.debug_message), "Schema [] Table [orders]");
}

}  // namespace
}  // namespace korado
