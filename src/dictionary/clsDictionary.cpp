#include "korado/dictionary/clsDictionary.h"

#include <array>

#include "dictionary/modCommon.h"
#include "korado/connection/clsADO.h"
#include "korado/errors/clsADOError.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/platform/modGlobals.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/err_object.h"
#include "korado/runtime/strings.h"

namespace korado {
namespace {

constexpr std::string_view kClass = "clsDictionary";

Site At(std::string_view routine) { return {kClass, routine}; }

// Restriction positions of the schema rowsets.
constexpr std::size_t kSchema = 1;
constexpr std::size_t kTable = 2;
constexpr std::size_t kTableType = 3;

// The Advantage server's native error for an index built with another collation than the table's.
constexpr std::int32_t kAdvantageCollationMismatch = 5175;

using Restrictions = std::array<Variant, 4>;

Variant ListOf(const Restrictions& r) { return Variant(VariantArray{r[0], r[1], r[2], r[3]}); }

// Both sides compared as values; a null on either side matches nothing.
bool SameValue(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return false;
    return Equals(a, b);
}

std::string CrLf() { return "\r\n"; }

}  // namespace

clsDictionary::clsDictionary() = default;
clsDictionary::~clsDictionary() { Destructor(); }

void clsDictionary::Constructor(const Ref<clsADO>& ADO) {
    Try(At("Constructor"), [&] { m_ADO = ADO; });
}

void clsDictionary::Destructor() {
    Try(At("Destructor"), [&] { m_ADO = nullptr; });
}

// ---- schemas --------------------------------------------------------------------------------------------

Variant clsDictionary::Schemas(const Variant& /*SchemaName*/, std::optional<bool> IncludeSystem) {
    Variant result;
    Try(At("Get Schemas"), [&] {
        Ref<Collection> names = MakeRef<Collection>();
        const bool include_system = IncludeSystem.value_or(true);
        if (!m_ADO) RaiseRuntime(rt::ObjectNotSet);
        Ref<ado::Connection> connection = m_ADO->Connection();
        Ref<ado::Recordset> rs;
        // A provider without a schemata rowset answers with no collection at all.
        if (!TryIgnore([&] {
                if (!connection) RaiseRuntime(rt::ObjectNotSet);
                rs = connection->OpenSchema(ado::adSchemaSchemata);
            })) {
            result = Variant(Ref<Dispatch>());
            return;
        }
        for (; !rs->Eof(); rs->MoveNext()) {
            const Variant& value = rs->Fields()->Item("SCHEMA_NAME")->Value();
            const std::string name = value.IsNull() ? std::string() : CStr(value);
            const std::string upper = UCase(name);
            if (include_system || (upper != "SYS" && upper != "SYSTEM")) names->Add(Variant(name));
        }
        rs->Close();
        result = Variant(names);
    });
    return result;
}

// ---- objects --------------------------------------------------------------------------------------------

Ref<Collection> clsDictionary::Objects(std::int32_t ObjectType, const Variant& SchemaName,
                                       const Variant& ObjectName, const Variant& IncludeSys) {
    Ref<Collection> result;
    TryPassOwn(At("Get Objects"), [&] {
        Ref<Collection> names = MakeRef<Collection>();
        Restrictions restrictions;
        if (!SchemaName.IsMissing() && !SchemaName.IsNull()) restrictions[kSchema] = SchemaName;
        if (ObjectType == dictTables) restrictions[kTableType] = std::string("TABLE");
        if (ObjectType == dictViews) restrictions[kTableType] = std::string("VIEW");

        if (!m_ADO) RaiseRuntime(rt::ObjectNotSet);
        Ref<ado::Connection> connection = m_ADO->Connection();
        auto tables = [&] {
            Ref<ado::Recordset> rs;
            TryIgnore([&] {
                if (!connection) RaiseRuntime(rt::ObjectNotSet);
                rs = connection->OpenSchema(ado::adSchemaTables, ListOf(restrictions));
            });
            return rs;
        };

        Ref<ado::Recordset> user_objects = tables();
        Ref<ado::Recordset> system_objects;
        const bool include_sys = !IncludeSys.IsMissing() && !IncludeSys.IsNull() && CBool(IncludeSys);
        if (include_sys) {
            if (ObjectType == dictTables) restrictions[kTableType] = std::string("SYSTEM TABLE");
            if (ObjectType == dictViews) restrictions[kTableType] = std::string("SYSTEM VIEW");
            system_objects = tables();
        }
        if (!user_objects && !system_objects)
            Raise(NoDictionaryDataFound, "Could not retrieve any database dictionary data");

        // An omitted or null pattern lists every name.
        const bool every_name = ObjectName.IsMissing() || ObjectName.IsNull();
        const std::string pattern = every_name ? std::string("%") : CStr(ObjectName);
        for (const Ref<ado::Recordset>& rs : {user_objects, system_objects}) {
            if (!rs) continue;
            for (; !rs->Eof(); rs->MoveNext()) {
                const Variant& name = rs->Fields()->Item("TABLE_NAME")->Value();
                if (!name.IsNull() && m_like(CStr(name), pattern)) names->Add(Variant(CStr(name)));
            }
            rs->Close();
        }
        result = std::move(names);
    });
    return result;
}

bool clsDictionary::m_like(const std::string& Name, const std::string& Pattern) {
    bool result = false;
    Try(At("m_like"), [&] {
        if (Pattern == "%") {
            result = true;
        } else if (const std::size_t percent = Pattern.find('%'); percent != std::string::npos) {
            // Only the prefix counts: "AB%CD" lists what "AB%" lists.
            result = Name.size() >= percent && Name.compare(0, percent, Pattern, 0, percent) == 0;
        } else {
            result = Name == Pattern;
        }
    });
    return result;
}

// ---- columns --------------------------------------------------------------------------------------------

Variant clsDictionary::Columns(const Variant& SchemaName, const Variant& TableName) {
    Variant result;
    TryPassOwn(At("Get Columns"), [&] {
        Ref<Collection> columns = MakeRef<Collection>();
        Restrictions restrictions;
        restrictions[kSchema] = SchemaName;
        restrictions[kTable] = TableName;

        if (!m_ADO) RaiseRuntime(rt::ObjectNotSet);
        Ref<ado::Connection> connection = m_ADO->Connection();
        auto query = [&] {
            if (!connection) RaiseRuntime(rt::ObjectNotSet);
            return connection->OpenSchema(ado::adSchemaColumns, ListOf(restrictions));
        };
        const std::string where =
            "Schema [" + VariantToString(SchemaName) + "] Table [" + VariantToString(TableName) + "]";
        bool failed = false;
        auto handle = [&](const Error& e) {
            failed = true;
            if (e.Number() == ado::adErrFeatureNotAvailable) {
                if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
                g_ADOError->Exception("The driver you use is unable to retrieve column information.",
                                      GeneralException);
                result = Variant(columns);
                return;
            }
            if (e.Source() == "Advantage OLE DB Provider") {
                std::int32_t native = 0;
                TryIgnore([&] { native = connection->Errors()->Item(0)->NativeError(); });
                if (native == kAdvantageCollationMismatch) {
                    Raise(GetColumnInfoError,
                          "Unable to get column information for table " + VariantToString(TableName) + "." +
                              CrLf() + CrLf() + "Driver error message:" + CrLf() + e.Description() + CrLf() +
                              CrLf() + "Advice:" + CrLf() +
                              "Solution:  Make sure no applications have the table open. Then open the table "
                              "with Advantage Data Architect, which will detect the collation mismatch and "
                              "provide the opportunity to rebuild the index file.");
                }
                HandleError(kClass, "Get Columns", Variant("Advantage OLEDB: " + where));
                return;
            }
            HandleError(kClass, "Get Columns", Variant(where));
        };

        Ref<ado::Recordset> rs;
        TryWith([&] { rs = query(); },
                [&](const Error& e) {
                    // Some providers refuse a null schema but take an empty one; the row test below still
                    // treats the schema as unrestricted.
                    if (!SchemaName.IsNull()) return handle(e);
                    restrictions[kSchema] = std::string();
                    TryWith([&] { rs = query(); }, handle);
                });
        if (failed) return;

        // A schema rowset's fields are the same objects on every row: taken once, read row by row.
        Ref<ado::Fields> fields = rs->Fields();
        const std::int32_t count = fields->Count();
        std::vector<Ref<ado::Field>> each;
        std::vector<std::string> names;
        each.reserve(static_cast<std::size_t>(count));
        names.reserve(static_cast<std::size_t>(count));
        for (std::int32_t i = 0; i < count; ++i) {
            each.push_back(fields->Item(Variant(i)));
            names.push_back(each.back()->Name());
        }
        Ref<ado::Field> table_name, table_schema;
        for (; !rs->Eof(); rs->MoveNext()) {
            if (!table_name) table_name = fields->Item("TABLE_NAME");
            if (!SameValue(table_name->Value(), TableName)) continue;
            if (!SchemaName.IsNull()) {
                if (!table_schema) table_schema = fields->Item("TABLE_SCHEMA");
                if (!SameValue(table_schema->Value(), SchemaName)) continue;
            }

            Ref<Collection> entry = MakeRef<Collection>();
            entry->Reserve(static_cast<std::size_t>(count));
            for (std::size_t i = 0; i < each.size(); ++i) {
                const Ref<ado::Field>& field = each[i];
                std::vector<Variant> item;
                item.reserve(3);
                item.emplace_back(names[i]);
                if (names[i] == "DATA_TYPE") {
                    item.emplace_back(DataTypeDesc(CLng(field->Value()), field->Attributes()));
                } else {
                    TryWith([&] { item.push_back(field->Value()); },
                            [&](const Error& e) {
                                item.emplace_back(std::string(kLibraryName) + "." + std::string(kClass) + "." +
                                                  "Get Columns" + "(" + std::to_string(Err().Erl()) + "): (" +
                                                  std::to_string(e.Number()) + ") " + e.Description());
                            });
                }
                item.emplace_back(field->Attributes());
                entry->Add(Variant(VariantArray(std::move(item))));
            }
            columns->Add(Variant(entry));
        }
        rs->Close();
        result = Variant(columns);
    });
    return result;
}

// ---- type names -----------------------------------------------------------------------------------------

std::string clsDictionary::DataTypeDesc(std::int32_t DataType, std::optional<std::int32_t> FieldAttribute) {
    std::string result;
    Try(At("Get DataTypeDesc"), [&] { result = DataTypeDescription(DataType, FieldAttribute.value_or(0)); });
    return result;
}

// ---- table creation -------------------------------------------------------------------------------------

void clsDictionary::CreateTableFromDynaset(const std::string& TableName, const Ref<clsDynasetADO>& Dynaset) {
    TryPassOwn(At("CreateTableFromDynaset"), [&] {
        if (!m_ADO || !Dynaset) RaiseRuntime(rt::ObjectNotSet);
        m_ADO->CreateTableFromRecordset(TableName, Dynaset->Recordset());
    });
}

// ---- late binding ---------------------------------------------------------------------------------------

const MemberTable* clsDictionary::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<clsDictionary>()
                                     .Method<&clsDictionary::Constructor>("Constructor")
                                     .Method<&clsDictionary::Destructor>("Destructor")
                                     .Get<&clsDictionary::Schemas>("Schemas")
                                     .Get<&clsDictionary::Objects>("Objects")
                                     .Get<&clsDictionary::Columns>("Columns")
                                     .Method<&clsDictionary::CreateTableFromDynaset>("CreateTableFromDynaset")
                                     .Get<&clsDictionary::DataTypeDesc>("DataTypeDesc")
                                     .Build();
    return &t;
}

}  // namespace korado
