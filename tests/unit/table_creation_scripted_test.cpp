// Creating databases and tables for providers no machine here has (Access and Jet, SQL Server, Oracle,
// Microsoft's Oracle provider, the ODBC bridge), posed by the scripted provider: what each field becomes as
// a column for each of them, and every failure with its own code and text.
#include <gtest/gtest.h>

#include <tuple>

#include "dataaccess/providers/scripted/scripted_provider.h"
#include "korado/dictionary/clsDictionary.h"
#include "korado/errors/clsADOError.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "support/raises.h"
#include "support/session.h"

namespace korado {
namespace {

using dataaccess::ColumnDefinition;
using dataaccess::Diagnostic;
using dataaccess::scripted::Column;
using dataaccess::scripted::ScopedProvider;
using dataaccess::scripted::ScriptedExecution;
using dataaccess::scripted::ScriptedProvider;
using dataaccess::scripted::ScriptedResult;
using test::Session;

constexpr const char* kJetSource = "Microsoft JET Database Engine";
constexpr const char* kInvalidArgument =
    "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";

// A provider named `versioned` (Connection.Provider) that creates tables and offers Jet's column property.
std::shared_ptr<ScriptedProvider> Pose(std::string versioned, std::string source = "Scripted") {
    std::string name = versioned.substr(0, versioned.rfind('.'));
    auto p = std::make_shared<ScriptedProvider>(ScriptedProvider::Identity{
        std::move(name), versioned, source + " friendly name", source, "x.so", "01.00.0000"});
    p->SetStandardProperties("Scripted DBMS", "1.0");
    p->ScriptCreateTable();
    p->SetColumnProperty("Jet OLEDB:Allow Zero Length", ado::adBoolean, Variant(false));
    return p;
}

// A connected session and a recordset with `fields` (no rows).
struct Posed {
    explicit Posed(const std::shared_ptr<ScriptedProvider>& p,
                   std::vector<dataaccess::ColumnInfo> fields = {})
        : scoped(p) {
        EXPECT_TRUE(s.Connect("Provider=" + std::string(p->Name()) + ";Data Source=x").ok);
        if (fields.empty()) fields.push_back(Column("id", ado::adInteger, 4, 10, 0));
        p->On("SELECT fields", ScriptedExecution::Returns(ScriptedResult::Rows(std::move(fields), {})));
        s.Execute("SELECT fields", {}, &rs);
        EXPECT_TRUE(rs);
    }
    ScopedProvider scoped;
    Session s;
    Ref<ado::Recordset> rs;
};

// Each field with the column the provider is asked to create from it, and that column's Jet property.
TEST(TableCreationScripted, FieldsBecomeTheTargetProvidersColumns) {
    using Shape = std::tuple<std::string, std::int32_t, std::int32_t, int, int>;  // name, type, size, p, s
    struct Case {
        Shape field, column;
    };
    const std::string jet = "Microsoft.Jet.OLEDB.4.0", sql = "SQLOLEDB.1", ora = "OraOLEDB.Oracle.1";
    const std::vector<std::pair<std::string, std::vector<Case>>> providers = {
        {jet,
         {{{"[Order Total]", ado::adCurrency, 8, 0, 0}, {"Order Total", ado::adCurrency, 8, 0, 0}},
          {{"a.b!c", ado::adVarChar, 255, 0, 0}, {"a_b_c", ado::adVarWChar, 255, 0, 0}},
          {{"x`y", ado::adVarChar, 256, 0, 0}, {"x_y", ado::adLongVarWChar, 256, 0, 0}},
          {{"a[1]", ado::adChar, 3, 0, 0}, {"a_1_", ado::adWChar, 3, 0, 0}},
          {{"n0", ado::adNumeric, 19, 0, 4}, {"n0", ado::adNumeric, 19, 18, 2}},
          {{"n10", ado::adNumeric, 19, 10, 3}, {"n10", ado::adNumeric, 19, 10, 3}},
          {{"n38", ado::adNumeric, 19, 38, 6}, {"n38", ado::adNumeric, 19, 18, 2}},
          {{"vn0", ado::adVarNumeric, 19, 0, 3}, {"vn0", ado::adNumeric, 19, 0, 3}},
          {{"memo0", ado::adLongVarWChar, 0, 0, 0}, {"memo0", ado::adLongVarWChar, 0, 0, 0}},
          {{"memo-1", ado::adLongVarWChar, -1, 0, 0}, {"memo-1", ado::adLongVarWChar, 0, 0, 0}}}},
        {"Microsoft.ACE.OLEDB.12.0", {{{"c", ado::adChar, 5, 0, 0}, {"c", ado::adWChar, 5, 0, 0}}}},
        // Another ACE version is a provider like any other.
        {"Microsoft.ACE.OLEDB.16.0", {{{"c", ado::adChar, 5, 0, 0}, {"c", ado::adChar, 5, 0, 0}}}},
        {sql,
         {{{"v", ado::adVarChar, 300, 0, 0}, {"v", ado::adVarChar, 300, 0, 0}},
          {{"n0", ado::adNumeric, 19, 0, 0}, {"n0", ado::adNumeric, 19, 18, 2}}}},
        {ora,
         {{{"flag", ado::adBoolean, 7, 0, 0}, {"flag", ado::adNumeric, 2, 1, 0}},
          {{"n", ado::adNumeric, 19, 10, 3}, {"n", ado::adNumeric, 19, 0, 0}},
          {{"memo", ado::adLongVarWChar, 9, 0, 0}, {"memo", ado::adVarWChar, 9, 0, 0}}}},
        // Codes the platform does not list keep theirs, unsized; an array is not made nullable.
        {"Scripted.1",
         {{{"n", ado::adNumeric, 19, 10, 3}, {"n", ado::adNumeric, 19, 0, 0}},
          {{"odd", 15, 99, 0, 0}, {"odd", 15, 0, 0, 0}},
          {{"array", 8192, 99, 0, 0}, {"array", 8192, 0, 0, 0}}}},
    };
    for (const auto& [provider, cases] : providers) {
        SCOPED_TRACE(provider);
        auto p = Pose(provider);
        std::vector<dataaccess::ColumnInfo> fields;
        for (const Case& c : cases) {
            const auto& [name, type, size, precision, scale] = c.field;
            fields.push_back(Column(name, type, size, static_cast<std::uint8_t>(precision),
                                    static_cast<std::uint8_t>(scale)));
        }
        Posed posed(p, fields);
        CallMethod(Variant(Ref<Dispatch>(&posed.s.ado())), "CreateTableFromRecordset", "copy",
                   Variant(Ref<Dispatch>(posed.rs)));
        EXPECT_TRUE(posed.s.errors().Reports().empty());
        ASSERT_EQ(p->created_tables().size(), 1u);
        const auto& columns = p->created_tables()[0].columns;
        ASSERT_EQ(columns.size(), cases.size());
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const ColumnDefinition& d = columns[i];
            EXPECT_EQ(Shape(d.info.name, d.info.type, d.info.defined_size, d.info.precision, d.info.scale),
                      cases[i].column);
            EXPECT_EQ(d.nullable, d.info.type != 8192) << d.info.name;
            // Only Jet 4 (not ACE) allows zero-length text.
            ASSERT_EQ(d.provider_properties.size(), 1u);
            EXPECT_EQ(CBool(d.provider_properties[0].value), provider == jet) << d.info.name;
        }
        EXPECT_EQ(posed.rs->State(), ado::adStateOpen);
    }
}

// Every refusal with its code and text; nothing reaches the provider's table creation when one is raised
// before the append.
TEST(TableCreationScripted, TableCreationFailures) {
    const std::string jet = "Microsoft.Jet.OLEDB.4.0", sql = "SQLOLEDB.1",
                      sql_source = "Microsoft OLE DB Provider for SQL Server";
    const std::string bad = std::string(kInvalidArgument) + "\r\nType=";
    using Failure = std::optional<std::vector<Diagnostic>>;  // of the append; nullopt: the provider cannot
    const Failure creates = std::vector<Diagnostic>{};
    struct Case {
        const char* what;
        std::string provider, source;
        std::vector<dataaccess::ColumnInfo> fields;
        Failure append_failure;
        std::int32_t number;
        std::string description;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"Jet refuses the table", jet, kJetSource, {},
         Failure({{hr::DB_E_DUPLICATETABLEID, "", "Table 'copy' already exists.", -1, ""}}),
         AppendTableError, "Unable to add a new table. Driver error: Table 'copy' already exists."},
        {"SQL Server refuses a precision", sql, sql_source, {},
         Failure({{hr::DB_E_BADPRECISION, "", "Invalid precision value.", 0, ""}}),
         AppendTableError, "Unable to add a new table. Driver error: Invalid precision value."},
        {"a provider that cannot create tables", "Scripted.1", "Scripted", {}, std::nullopt, AppendTableError,
         "Unable to add the new table to the database.\r\n\r\nProvider error: Object or provider is not able "
         "to perform requested operation."},
        {"a field whose name is only brackets", jet, kJetSource, {Column("[]", ado::adInteger, 4)}, creates,
         CreateTableError, std::string("Could not create table copy.\r\n\r\nDriver error: ") + kInvalidArgument},
        // The scale goes beyond the precision just set: the column shows which settings had been made.
        {"a scale larger than the precision", sql, sql_source, {Column("n", ado::adNumeric, 19, 10, 12)},
         creates, NewColumnError, bad + "[131] Precision=[10] NumericScale=[0] DefinedSize=[0]"},
        {"a size below unlimited", "Scripted.1", "Scripted", {Column("v", ado::adVarWChar, -2)}, creates,
         NewColumnError, bad + "[202] Precision=[0] NumericScale=[0] DefinedSize=[0]"},
        {"Microsoft's Oracle provider", "MSDAORA.1", "Microsoft OLE DB Provider for Oracle", {}, creates,
         NotImplementedByProvider, "Method unavailable for this provider"},
        {"the ODBC bridge", "MSDASQL.1", "Microsoft OLE DB Provider for ODBC Drivers", {}, creates,
         NotImplementedByProvider, "Method unavailable for this provider"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = Pose(c.provider, c.source);
        if (c.append_failure) {
            p->ScriptCreateTable(*c.append_failure);
        } else {
            p = std::make_shared<ScriptedProvider>(ScriptedProvider::Identity{"Scripted", "Scripted.1"});
            p->SetStandardProperties("Scripted DBMS", "1.0");
        }
        Posed posed(p, c.fields);
        const auto raised =
            test::RaisedError([&] { posed.s.ado().CreateTableFromRecordset("copy", posed.rs); });
        ASSERT_TRUE(raised.has_value());
        EXPECT_EQ(std::tuple(raised->Number(), raised->Source(), raised->Description()),
                  std::tuple(c.number, "korADO", c.description));
        EXPECT_TRUE(p->created_tables().empty());
        EXPECT_TRUE(posed.s.errors().Reports().empty());
        // The dictionary hands the same error on unchanged.
        Ref<clsDynasetADO> dynaset = posed.s.Dynaset("SELECT fields");
        ASSERT_TRUE(dynaset);
        EXPECT_EQ(
            test::RaisedText([&] { posed.s.ado().Dictionary()->CreateTableFromDynaset("copy", dynaset); }),
            std::tuple(c.number, c.description));
    }
}

// Failures the library has no code for go to the error component, named by the operation.
TEST(TableCreationScripted, OtherFailuresAreReported) {
    auto p = Pose("Microsoft.Jet.OLEDB.4.0", kJetSource);
    p->ScriptCreateTable({{hr::DB_E_ERRORSINCOMMAND, "", "Syntax error in field definition.", -1, ""}});
    // Jet 4 columns without the provider's zero-length property cannot be finished.
    auto bare = std::make_shared<ScriptedProvider>(ScriptedProvider::Identity{
        "Microsoft.Jet.OLEDB", "Microsoft.Jet.OLEDB.4.0", "Jet", kJetSource, "x.so", "04.00.0000"});
    bare->SetStandardProperties("MS Jet", "4.0");
    bare->ScriptCreateTable();
    for (auto [provider, routine, source, number, created] :
         {std::tuple{p, "CreateTableFromRecordset", kJetSource, hr::DB_E_ERRORSINCOMMAND, 0u},
          std::tuple{bare, "m_SetFieldProperties", "ADODB.Properties", std::int32_t{ado::adErrItemNotFound},
                     1u}}) {
        Posed posed(provider);
        CallMethod(Variant(Ref<Dispatch>(posed.s.ado().Dictionary())), "CreateTableFromDynaset", "t",
                   Variant(Ref<Dispatch>(posed.s.Dynaset("SELECT fields"))));
        ASSERT_EQ(posed.s.errors().Reports().size(), 1u);
        const auto& r = posed.s.errors().Reports()[0];
        EXPECT_EQ(std::tuple(r.module, r.routine, r.source, r.number),
                  std::tuple("clsADO", routine, source, number));
        EXPECT_EQ(provider->created_tables().size(), created);
    }
}

TEST(TableCreationScripted, CreateRaisesReportsOrUsesTheNewDataSource) {
    const std::string jet = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\data\\new.mdb";
    struct Case {
        std::string connection_string;
        std::vector<Diagnostic> failure;
        std::int32_t number;  // raised; a provider's number: reported
        std::string description;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {jet, {{hr::DB_E_DUPLICATEDATASOURCE, "", "Database already exists.", 0, ""}}, DatabaseAlreadyExists,
         "Database already exists."},
        {jet, {{hr::E_FAIL, "", "Unspecified error", 0, ""}}, NotSupportedByProvider,
         "Create database is not supported by the Provider."},
        {"Provider=No.Such.Provider;Data Source=x", {}, ProviderNotInstalled, "Provder is not registered (installed)"},
        // Jet's other failures, and an own-range number from another source, take the standard path.
        {jet, {{hr::DB_E_NOTSUPPORTED, "", "not supported", 0, ""}}, hr::DB_E_NOTSUPPORTED, ""},
        {jet, {{hr::DB_E_DUPLICATEDATASOURCE, "Other", "exists", 0, ""}}, hr::DB_E_DUPLICATEDATASOURCE, ""},
    };
    // clang-format on
    auto p = Pose("Microsoft.Jet.OLEDB.4.0", kJetSource);
    ScopedProvider scoped(p);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.connection_string + " " + std::to_string(c.number));
        p->ScriptCreateDataSource(c.failure);
        Session s;
        Ref<ado::Connection> before = s.ado().Connection();
        std::string cs = c.connection_string;
        if (c.description.empty()) {
            EXPECT_TRUE(s.ado().Create(cs).IsEmpty());
            ASSERT_EQ(s.errors().Reports().size(), 1u);
            EXPECT_EQ(std::tuple(s.errors().Reports()[0].routine, s.errors().Reports()[0].number),
                      std::tuple("Create", c.number));
        } else {
            EXPECT_EQ(test::RaisedText([&] { s.ado().Create(cs); }), std::tuple(c.number, c.description));
        }
        EXPECT_EQ(s.ado().Connection().get(), before.get());
    }
    p->ScriptCreateDataSource();
    Session s;
    std::string cs = jet;
    EXPECT_TRUE(CallMethod(Variant(Ref<Dispatch>(&s.ado())), "Create", cs).IsEmpty());
    ASSERT_TRUE(s.ado().Connection());
    EXPECT_EQ(std::tuple(s.ado().Connection()->State(), s.ado().Provider()),
              std::tuple(ado::adStateOpen, "Microsoft.Jet.OLEDB.4"));
}

}  // namespace
}  // namespace korado
