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

struct Copied {
    std::string name;
    std::int32_t type, size;
    int precision, scale;
    friend bool operator==(const Copied&, const Copied&) = default;
    friend std::ostream& operator<<(std::ostream& o, const Copied& c) {
        return o << c.name << " " << c.type << " size " << c.size << " " << c.precision << "," << c.scale;
    }
};

Copied Of(const ColumnDefinition& d) {
    return {d.info.name, d.info.type, d.info.defined_size, d.info.precision, d.info.scale};
}

// Each field with the column the provider is asked to create from it.
TEST(TableCreationScripted, FieldsBecomeTheTargetProvidersColumns) {
    struct Case {
        dataaccess::ColumnInfo field;
        Copied column;
    };
    auto F = [](std::string name, std::int32_t type, std::int32_t size, int p = 0, int s = 0) {
        return Column(std::move(name), type, size, static_cast<std::uint8_t>(p),
                      static_cast<std::uint8_t>(s));
    };
    const std::vector<std::pair<std::string, std::vector<Case>>> providers = {
        {"Microsoft.Jet.OLEDB.4.0",
         {{F("[Order Total]", ado::adCurrency, 8), {"Order Total", ado::adCurrency, 8, 0, 0}},
          {F("a.b!c", ado::adVarChar, 255), {"a_b_c", ado::adVarWChar, 255, 0, 0}},
          {F("x`y", ado::adVarChar, 256), {"x_y", ado::adLongVarWChar, 256, 0, 0}},
          {F("a[1]", ado::adLongVarChar, 10), {"a_1_", ado::adVarWChar, 10, 0, 0}},
          {F("[  padded ", ado::adChar, 3), {"padded", ado::adWChar, 3, 0, 0}},
          {F("n0", ado::adNumeric, 19, 0, 4), {"n0", ado::adNumeric, 19, 18, 2}},
          {F("n10", ado::adNumeric, 19, 10, 3), {"n10", ado::adNumeric, 19, 10, 3}},
          {F("n38", ado::adNumeric, 19, 38, 6), {"n38", ado::adNumeric, 19, 18, 2}},
          {F("d18", ado::adDecimal, 16, 18, 18), {"d18", ado::adNumeric, 16, 18, 18}},
          {F("vn0", ado::adVarNumeric, 19, 0, 3), {"vn0", ado::adNumeric, 19, 0, 3}},
          {F("vn19", ado::adVarNumeric, 19, 19, 3), {"vn19", ado::adNumeric, 19, 18, 2}},
          {F("big", ado::adBigInt, 8), {"big", ado::adInteger, 8, 0, 0}},
          {F("when", ado::adDBTime, 6), {"when", ado::adDate, 6, 0, 0}},
          {F("memo0", ado::adLongVarWChar, 0), {"memo0", ado::adLongVarWChar, 0, 0, 0}},
          {F("memo-1", ado::adLongVarWChar, -1), {"memo-1", ado::adLongVarWChar, 0, 0, 0}},
          {F("bstr", ado::adBSTR, 40), {"bstr", ado::adBSTR, 0, 0, 0}}}},
        {"Microsoft.ACE.OLEDB.12.0",
         {{F("c", ado::adChar, 5), {"c", ado::adWChar, 5, 0, 0}},
          {F("u8", ado::adUnsignedTinyInt, 1), {"u8", ado::adUnsignedTinyInt, 1, 0, 0}}}},
        // Another ACE version is a provider like any other.
        {"Microsoft.ACE.OLEDB.16.0",
         {{F("c", ado::adChar, 5), {"c", ado::adChar, 5, 0, 0}},
          {F("n", ado::adNumeric, 19, 10, 3), {"n", ado::adNumeric, 19, 0, 0}}}},
        {"SQLOLEDB.1",
         {{F("v", ado::adVarChar, 255), {"v", ado::adVarChar, 255, 0, 0}},
          {F("v300", ado::adVarChar, 300), {"v300", ado::adVarChar, 300, 0, 0}},
          {F("n0", ado::adNumeric, 19, 0, 0), {"n0", ado::adNumeric, 19, 18, 2}},
          {F("vn", ado::adVarNumeric, 19, 10, 2), {"vn", ado::adVarNumeric, 0, 0, 0}},
          {F("d", ado::adDBDate, 6), {"d", ado::adDBTimeStamp, 6, 0, 0}},
          {F("big", ado::adBigInt, 8), {"big", ado::adBigInt, 8, 0, 0}}}},
        {"OraOLEDB.Oracle.1",
         {{F("flag", ado::adBoolean, 7), {"flag", ado::adNumeric, 2, 1, 0}},
          {F("s", ado::adSmallInt, 2), {"s", ado::adNumeric, 2, 5, 0}},
          {F("t", ado::adTinyInt, 1), {"t", ado::adNumeric, 1, 3, 0}},
          {F("n", ado::adNumeric, 19, 10, 3), {"n", ado::adNumeric, 19, 0, 0}},
          {F("d", ado::adDecimal, 19, 30, 3), {"d", ado::adNumeric, 19, 30, 3}},
          {F("g", ado::adGUID, 16), {"g", ado::adChar, 16, 0, 0}},
          {F("memo", ado::adLongVarWChar, 9), {"memo", ado::adVarWChar, 9, 0, 0}},
          {F("text", ado::adLongVarChar, 9), {"text", ado::adVarChar, 9, 0, 0}}}},
        // Any other provider keeps the field's types; codes the platform does not list keep theirs, unsized.
        {"Scripted.1",
         {{F("n", ado::adNumeric, 19, 10, 3), {"n", ado::adNumeric, 19, 0, 0}},
          {F("d", ado::adDecimal, 16, 10, 3), {"d", ado::adDecimal, 16, 0, 0}},
          {F("ts", ado::adDBTimeStamp, 16, 19, 0), {"ts", ado::adDBTimeStamp, 16, 0, 0}},
          {F("u64", ado::adUnsignedBigInt, 8), {"u64", ado::adUnsignedBigInt, 8, 0, 0}},
          {F("odd", 15, 99), {"odd", 15, 0, 0, 0}},
          {F("neg", -3, 99), {"neg", -3, 0, 0, 0}},
          {F("array", 8192, 99), {"array", 8192, 0, 0, 0}},
          {F("array of int", 8192 | ado::adInteger, 99), {"array of int", 8192 | ado::adInteger, 0, 0, 0}}}},
    };
    for (const auto& [provider, cases] : providers) {
        SCOPED_TRACE(provider);
        auto p = Pose(provider);
        std::vector<dataaccess::ColumnInfo> fields;
        for (const Case& c : cases) fields.push_back(c.field);
        Posed posed(p, fields);
        CallMethod(Variant(Ref<Dispatch>(&posed.s.ado())), "CreateTableFromRecordset", "copy",
                   Variant(Ref<Dispatch>(posed.rs)));
        EXPECT_TRUE(posed.s.errors().Reports().empty());
        ASSERT_EQ(p->created_tables().size(), 1u);
        const auto& columns = p->created_tables()[0].columns;
        EXPECT_EQ(p->created_tables()[0].name, "copy");
        ASSERT_EQ(columns.size(), cases.size());
        const bool jet4 = provider == "Microsoft.Jet.OLEDB.4.0";
        for (std::size_t i = 0; i < cases.size(); ++i) {
            EXPECT_EQ(Of(columns[i]), cases[i].column);
            // Every column is made nullable but an array's; only Jet 4 allows zero-length text.
            EXPECT_EQ(columns[i].nullable, (cases[i].column.type != 8192)) << cases[i].column;
            ASSERT_EQ(columns[i].provider_properties.size(), 1u);
            EXPECT_EQ(CBool(columns[i].provider_properties[0].value), jet4) << cases[i].column;
        }
        EXPECT_EQ(posed.rs->State(), ado::adStateOpen);
    }
}

// Every refusal with its code and text; nothing reaches the provider's table creation when one is raised
// before the append.
TEST(TableCreationScripted, TableCreationFailures) {
    const std::string jet = "Microsoft.Jet.OLEDB.4.0";
    struct Case {
        const char* what;
        std::string provider, source;
        std::vector<dataaccess::ColumnInfo> fields;
        std::optional<std::vector<Diagnostic>> append_failure;  // nullopt: the provider cannot create tables
        std::int32_t number;
        std::string description;
    };
    const std::vector<Case> cases = {
        {"Jet refuses the table",
         jet,
         kJetSource,
         {},
         std::vector<Diagnostic>{{hr::DB_E_DUPLICATETABLEID, "", "Table 'copy' already exists.", -1, ""}},
         AppendTableError,
         "Unable to add a new table. Driver error: Table 'copy' already exists."},
        {"SQL Server refuses a precision",
         "SQLOLEDB.1",
         "Microsoft OLE DB Provider for SQL Server",
         {},
         std::vector<Diagnostic>{{hr::DB_E_BADPRECISION, "", "Invalid precision value.", 0, ""}},
         AppendTableError,
         "Unable to add a new table. Driver error: Invalid precision value."},
        {"a provider that cannot create tables",
         "Scripted.1",
         "Scripted",
         {},
         std::nullopt,
         AppendTableError,
         "Unable to add the new table to the database.\r\n\r\nProvider error: Object or provider is not able "
         "to perform requested operation."},
        {"a field whose name is only brackets",
         jet,
         kJetSource,
         {Column("[]", ado::adInteger, 4)},
         std::vector<Diagnostic>{},
         CreateTableError,
         std::string("Could not create table copy.\r\n\r\nDriver error: ") + kInvalidArgument},
        // The scale goes beyond the precision just set: the column shows which settings had been made.
        {"a scale larger than the precision",
         "SQLOLEDB.1",
         "Microsoft OLE DB Provider for SQL Server",
         {Column("n", ado::adNumeric, 19, 10, 12)},
         std::vector<Diagnostic>{},
         NewColumnError,
         std::string(kInvalidArgument) + "\r\nType=[131] Precision=[10] NumericScale=[0] DefinedSize=[0]"},
        {"Oracle takes precision and scale as they are",
         "OraOLEDB.Oracle.1",
         "OraOLEDB",
         {Column("n", ado::adDecimal, -7, 5, 9)},
         std::vector<Diagnostic>{},
         NewColumnError,
         std::string(kInvalidArgument) + "\r\nType=[131] Precision=[5] NumericScale=[0] DefinedSize=[0]"},
        {"a size below unlimited",
         "Scripted.1",
         "Scripted",
         {Column("v", ado::adVarWChar, -2)},
         std::vector<Diagnostic>{},
         NewColumnError,
         std::string(kInvalidArgument) + "\r\nType=[202] Precision=[0] NumericScale=[0] DefinedSize=[0]"},
        {"Microsoft's Oracle provider",
         "MSDAORA.1",
         "Microsoft OLE DB Provider for Oracle",
         {},
         std::vector<Diagnostic>{},
         NotImplementedByProvider,
         "Method unavailable for this provider"},
        {"the ODBC bridge",
         "MSDASQL.1",
         "Microsoft OLE DB Provider for ODBC Drivers",
         {},
         std::vector<Diagnostic>{},
         NotImplementedByProvider,
         "Method unavailable for this provider"},
    };
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
    using Report = std::tuple<std::string, std::string, std::int32_t>;
    auto reports = [](Session& s) {
        std::vector<Report> got;
        for (const auto& r : s.errors().Reports()) got.emplace_back(r.routine, r.source, r.number);
        return got;
    };
    {
        Posed posed(p, {Column("a", ado::adInteger, 4), Column("A", ado::adInteger, 4)});
        posed.s.ado().CreateTableFromRecordset("twice", posed.rs);
        posed.s.ado().CreateTableFromRecordset("none", nullptr);
        EXPECT_EQ(
            reports(posed.s),
            (std::vector<Report>{{"CreateTableFromRecordset", "ADOX.Table", ado::adErrObjectInCollection},
                                 {"CreateTableFromRecordset", "korADO", rt::ObjectNotSet}}));
    }
    {
        Posed posed(p);
        posed.s.ado().CreateTableFromRecordset("bad", posed.rs);
        EXPECT_EQ(reports(posed.s),
                  (std::vector<Report>{{"CreateTableFromRecordset", kJetSource, hr::DB_E_ERRORSINCOMMAND}}));
        EXPECT_TRUE(p->created_tables().empty());
        ASSERT_EQ(posed.s.errors().Reports().size(), 1u);
        EXPECT_EQ(posed.s.errors().Reports()[0].module, "clsADO");
    }
    // Jet 4 columns without the provider's zero-length property cannot be finished.
    auto bare = std::make_shared<ScriptedProvider>(ScriptedProvider::Identity{
        "Microsoft.Jet.OLEDB", "Microsoft.Jet.OLEDB.4.0", "Jet", kJetSource, "x.so", "04.00.0000"});
    bare->SetStandardProperties("MS Jet", "4.0");
    bare->ScriptCreateTable();
    Posed posed(bare);
    Ref<Dispatch> dictionary = posed.s.ado().Dictionary();
    CallMethod(Variant(dictionary), "CreateTableFromDynaset", "t",
               Variant(Ref<Dispatch>(posed.s.Dynaset("SELECT fields"))));
    ASSERT_EQ(posed.s.errors().Reports().size(), 1u);
    EXPECT_EQ(std::tuple(posed.s.errors().Reports()[0].routine, posed.s.errors().Reports()[0].number),
              std::tuple("m_SetFieldProperties", ado::adErrItemNotFound));
    EXPECT_EQ(bare->created_tables().size(), 1u);
}

TEST(TableCreationScripted, CreateFailures) {
    struct Case {
        const char* what;
        std::string connection_string;
        std::vector<Diagnostic> failure;
        std::int32_t number;
        std::string description;
    };
    const std::string jet = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\data\\new.mdb";
    const std::vector<Case> cases = {
        {"a Jet file that exists",
         jet,
         {{hr::DB_E_DUPLICATEDATASOURCE, "", "Database already exists.", 0, ""}},
         DatabaseAlreadyExists,
         "Database already exists."},
        {"Jet cannot",
         jet,
         {{hr::E_FAIL, "", "Unspecified error", 0, ""}},
         NotSupportedByProvider,
         "Create database is not supported by the Provider."},
        {"a provider that is not installed",
         "Provider=No.Such.Provider;Data Source=x",
         {},
         ProviderNotInstalled,
         "Provder is not registered (installed)"},
    };
    auto p = Pose("Microsoft.Jet.OLEDB.4.0", kJetSource);
    ScopedProvider scoped(p);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        p->ScriptCreateDataSource(c.failure);
        Session s;
        Ref<ado::Connection> before = s.ado().Connection();
        std::string cs = c.connection_string;
        EXPECT_EQ(test::RaisedText([&] { s.ado().Create(cs); }), std::tuple(c.number, c.description));
        EXPECT_EQ(s.ado().Connection().get(), before.get());
        EXPECT_TRUE(s.errors().Reports().empty());
    }
    // Jet's other failures, and one in the own range from another source, take the standard path.
    for (const Diagnostic& d : {Diagnostic{hr::DB_E_DUPLICATEDATASOURCE, "Other", "exists", 0, ""},
                                Diagnostic{hr::DB_E_NOTSUPPORTED, "", "not supported", 0, ""}}) {
        p->ScriptCreateDataSource({d});
        Session s;
        std::string cs = jet;
        EXPECT_TRUE(s.ado().Create(cs).IsEmpty());
        ASSERT_EQ(s.errors().Reports().size(), 1u);
        EXPECT_EQ(std::tuple(s.errors().Reports()[0].routine, s.errors().Reports()[0].number),
                  std::tuple("Create", d.number));
    }
    // Created: the connection object now uses the new data source's connection.
    p->ScriptCreateDataSource();
    Session s;
    std::string cs = jet;
    EXPECT_TRUE(CallMethod(Variant(Ref<Dispatch>(&s.ado())), "Create", cs).IsEmpty());
    ASSERT_TRUE(s.ado().Connection());
    EXPECT_EQ(s.ado().Connection()->State(), ado::adStateOpen);
    EXPECT_EQ(s.ado().Provider(), "Microsoft.Jet.OLEDB.4");
}

}  // namespace
}  // namespace korado
