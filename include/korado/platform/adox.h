// The platform's catalog objects (ADOX): creating data sources and tables. Created by ProgID
// ("ADOX.Catalog", "ADOX.Table", "ADOX.Column"). Own failures carry the source "ADOX.<Object>".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "korado/platform/adodb.h"

namespace korado::adox {

class Catalog;
class Columns;

class KORADO_EXPORT Column : public Dispatch {
public:
    virtual std::string Name() = 0;
    virtual void SetName(std::string_view value) = 0;
    virtual std::int32_t Type() = 0;  // DataTypeEnum; default adVarWChar
    virtual void SetType(std::int32_t value) = 0;
    virtual std::int32_t DefinedSize() = 0;
    virtual void SetDefinedSize(std::int32_t value) = 0;
    virtual std::uint8_t Precision() = 0;
    virtual void SetPrecision(std::uint8_t value) = 0;
    virtual std::uint8_t NumericScale() = 0;
    virtual void SetNumericScale(std::uint8_t value) = 0;
    virtual std::int32_t Attributes() = 0;  // ColumnAttributesEnum
    virtual void SetAttributes(std::int32_t value) = 0;
    // "Autoincrement", "Default", "Description", "Nullable", "Fixed Length", "Seed", "Increment", ...;
    // available once the column has a parent catalog.
    virtual Ref<ado::Properties> Properties() = 0;
    virtual Ref<adox::Catalog> ParentCatalog() = 0;
    virtual void SetParentCatalog(const Ref<adox::Catalog>& catalog) = 0;
    std::string_view ClassName() const noexcept override { return "Column"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Columns : public Dispatch {
public:
    virtual std::int32_t Count() = 0;
    virtual Ref<adox::Column> Item(const Variant& index) = 0;
    // item: a Column object or a column name (then type and size apply).
    virtual void Append(const Variant& item, std::int32_t type = ado::adVarWChar, std::int32_t defined_size = 0) = 0;
    virtual void Delete(const Variant& index) = 0;
    std::string_view ClassName() const noexcept override { return "Columns"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Table : public Dispatch {
public:
    virtual std::string Name() = 0;
    virtual void SetName(std::string_view value) = 0;
    virtual std::string Type() = 0;
    virtual Ref<adox::Columns> Columns() = 0;
    virtual Ref<adox::Catalog> ParentCatalog() = 0;
    virtual void SetParentCatalog(const Ref<adox::Catalog>& catalog) = 0;
    std::string_view ClassName() const noexcept override { return "Table"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Tables : public Dispatch {
public:
    virtual std::int32_t Count() = 0;
    virtual Ref<adox::Table> Item(const Variant& index) = 0;
    // item: a Table object or a table name. Creates the table in the data source.
    virtual void Append(const Variant& item) = 0;
    virtual void Delete(const Variant& index) = 0;
    virtual void Refresh() = 0;
    std::string_view ClassName() const noexcept override { return "Tables"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Catalog : public Dispatch {
public:
    virtual Ref<ado::Connection> ActiveConnection() = 0;
    virtual void SetActiveConnection(const Ref<ado::Connection>& connection) = 0;
    // Creates the data source and opens a connection to it, which becomes ActiveConnection and is returned.
    virtual Ref<ado::Connection> Create(std::string_view connection_string) = 0;
    virtual Ref<adox::Tables> Tables() = 0;
    std::string_view ClassName() const noexcept override { return "Catalog"; }

protected:
    const MemberTable* Members() const noexcept override;
};

}  // namespace korado::adox
