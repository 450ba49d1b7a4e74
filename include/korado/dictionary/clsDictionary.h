// clsDictionary: the schemas, tables, views and columns of the database behind one connection object
// ("korADO.clsDictionary"). Each clsADO makes one when it is created and hands it out through its
// Dictionary property. Every answer comes from the provider's schema rowsets (OpenSchema), never from SQL
// text, and is asked of the connection object's platform connection at the moment of the call: nothing is
// cached, so the dictionary follows a reconnect.
//
// Ownership: the dictionary holds a counted reference to its connection object, which holds the
// dictionary; the connection's Destructor (or the dictionary's) breaks the cycle. The collections returned
// belong to the caller.
//
// Failures: each member reports unexpected failures to the standard error path (class "clsDictionary",
// the member's label) and returns its default; Objects and Columns pass the library's own errors
// (NoDictionaryDataFound, GetColumnInfoError) on to the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "korado/runtime/collection.h"
#include "korado/runtime/dispatch.h"

namespace korado {

class clsADO;
class clsDynasetADO;

enum enumObjectType : std::int32_t {
    dictTables = 1,
    dictViews = 2,
};

class KORADO_EXPORT clsDictionary : public Dispatch {
  public:
    clsDictionary();
    ~clsDictionary() override;

    void Constructor(const Ref<clsADO>& ADO);
    void Destructor();

    // The schema names in the provider's order, in a collection held by a Variant. Without system schemas
    // (IncludeSystem false) "SYS" and "SYSTEM" in any letter case are left out. A null object reference
    // when the provider cannot list schemas; Empty after any other failure. SchemaName has no effect.
    Variant Schemas(const Variant& SchemaName, std::optional<bool> IncludeSystem = std::nullopt);

    // The names of the tables (dictTables) or views (dictViews) whose name matches ObjectName, user objects
    // first, then with IncludeSys the system ones; any other type lists every object. An omitted or null
    // ObjectName matches every name; an omitted IncludeSys counts as false. Raises NoDictionaryDataFound
    // when the provider lists nothing at all; null after any other failure.
    Ref<Collection> Objects(std::int32_t ObjectType, const Variant& SchemaName = Variant::Missing(),
                            const Variant& ObjectName = Variant::Missing(),
                            const Variant& IncludeSys = Variant::Missing());

    // One entry per column of TableName (in SchemaName, or in any schema when it is null), each a
    // collection of {field name, value, attribute flags} arrays, the "DATA_TYPE" value named as
    // DataTypeDesc names it. Empty collection for a table that does not exist; Empty after a failure.
    Variant Columns(const Variant& SchemaName, const Variant& TableName);

    std::string DataTypeDesc(std::int32_t DataType,
                             std::optional<std::int32_t> FieldAttribute = std::nullopt);

    // A new table of the dictionary's connection with the columns of the dynaset's recordset
    // (clsADO::CreateTableFromRecordset, whose errors reach the caller unchanged).
    void CreateTableFromDynaset(const std::string& TableName, const Ref<clsDynasetADO>& Dynaset);

    std::string_view ClassName() const noexcept override { return "clsDictionary"; }

  protected:
    const MemberTable* Members() const noexcept override;

  private:
    // Whether Name matches Pattern: "%" matches everything, "AB%..." every name beginning with "AB",
    // anything else only itself; case-sensitive.
    bool m_like(const std::string& Name, const std::string& Pattern);

    Ref<clsADO> m_ADO;
};

}  // namespace korado
