// The catalog objects of the platform stand-in ("ADOX.Catalog", "ADOX.Table", "ADOX.Column"): tables
// described as objects and created in the data source of the catalog's connection.
//
// A Catalog holds its ActiveConnection; a Tables collection, a Table and a Column hold the catalog they
// belong to, and nothing holds them back, so no reference cycle forms. A Table's Columns are its own until
// Tables.Append turns them into one CREATE TABLE of the provider (Session::CreateTable); the table exists
// afterwards or not at all. A column's provider properties ("Autoincrement", "Default", "Nullable", ...,
// and those the provider adds of its own) appear once it belongs to a catalog; "Nullable" and "Fixed
// Length" are its attribute bits seen as properties. A DefinedSize of -1 (all bits set) is an unlimited
// size, as fields report one.
//
// Failures: the objects' own ones are raised from "ADOX.Catalog", "ADOX.Tables", "ADOX.Table" (also for
// its Columns) and "ADOX.Column" with the platform's numbers; provider failures of Create and Append
// (DB_E_BADTYPE, DB_E_DUPLICATETABLEID, ...) reach the caller and the connection's Errors as they are.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/properties.h"
#include "dataaccess/provider.h"
#include "korado/platform/adox.h"

namespace korado::dataaccess {

class CatalogImpl;
class ConnectionImpl;

class ColumnImpl final : public adox::Column {
  public:
    ColumnImpl();
    ~ColumnImpl() override;

    std::string Name() override { return name_; }
    void SetName(std::string_view value) override { name_ = std::string(value); }
    std::int32_t Type() override { return type_; }
    void SetType(std::int32_t value) override { type_ = value; }
    std::int32_t DefinedSize() override { return defined_size_; }
    void SetDefinedSize(std::int32_t value) override;
    std::uint8_t Precision() override { return precision_; }
    void SetPrecision(std::uint8_t value) override { precision_ = value; }
    std::uint8_t NumericScale() override { return scale_; }
    void SetNumericScale(std::uint8_t value) override;
    std::int32_t Attributes() override { return attributes_; }
    void SetAttributes(std::int32_t value) override;
    Ref<ado::Properties> Properties() override { return Ref<ado::Properties>(properties_.get()); }
    Ref<adox::Catalog> ParentCatalog() override { return parent_; }
    void SetParentCatalog(const Ref<adox::Catalog>& catalog) override;

    // The column as the provider creates it.
    ColumnDefinition Definition() const;

  private:
    void AddProperties();
    void SetAttribute(std::int32_t bit, bool on);

    std::string name_;
    std::int32_t type_ = ado::adVarWChar;
    std::int32_t defined_size_ = 0;
    std::uint8_t precision_ = 0;
    std::uint8_t scale_ = 0;
    std::int32_t attributes_ = 0;
    Ref<PropertiesImpl> properties_;
    std::vector<std::string> provider_property_names_;  // those of Session::ColumnProperties
    Ref<adox::Catalog> parent_;
};

class ColumnsImpl final : public adox::Columns {
  public:
    std::int32_t Count() override { return static_cast<std::int32_t>(items_.size()); }
    Ref<adox::Column> Item(const Variant& index) override;
    void Append(const Variant& item, std::int32_t type, std::int32_t defined_size) override;
    void Delete(const Variant& index) override;

    void SetParentCatalog(const Ref<adox::Catalog>& catalog);
    const std::vector<Ref<ColumnImpl>>& items() const noexcept { return items_; }

  private:
    std::size_t Position(const Variant& index) const;

    std::vector<Ref<ColumnImpl>> items_;
    Ref<adox::Catalog> parent_;
};

class TableImpl final : public adox::Table {
  public:
    TableImpl();

    std::string Name() override { return name_; }
    void SetName(std::string_view value) override { name_ = std::string(value); }
    std::string Type() override { return type_; }
    Ref<adox::Columns> Columns() override { return Ref<adox::Columns>(columns_.get()); }
    Ref<adox::Catalog> ParentCatalog() override { return parent_; }
    void SetParentCatalog(const Ref<adox::Catalog>& catalog) override;

    void SetType(std::string type) { type_ = std::move(type); }
    const ColumnsImpl& columns() const noexcept { return *columns_; }

  private:
    std::string name_;
    std::string type_;
    Ref<ColumnsImpl> columns_;
    Ref<adox::Catalog> parent_;
};

class TablesImpl final : public adox::Tables {
  public:
    explicit TablesImpl(Ref<CatalogImpl> catalog) : catalog_(std::move(catalog)) {}

    std::int32_t Count() override;
    Ref<adox::Table> Item(const Variant& index) override;
    void Append(const Variant& item) override;
    void Delete(const Variant& index) override;
    void Refresh() override {}

  private:
    struct Listed {
        std::string name;
        std::string type;
    };
    // The data source's tables and views, read afresh: another connection may have changed them.
    std::vector<Listed> List();
    Listed Find(const Variant& index);

    Ref<CatalogImpl> catalog_;
};

class CatalogImpl final : public adox::Catalog {
  public:
    Ref<ado::Connection> ActiveConnection() override { return connection_; }
    void SetActiveConnection(const Ref<ado::Connection>& connection) override;
    Ref<ado::Connection> Create(std::string_view connection_string) override;
    Ref<adox::Tables> Tables() override;

    // The open connection, or 3709 from `object`.
    Ref<ConnectionImpl> RequireConnection(std::string_view object);
    // The provider's own column properties; none without an open connection.
    std::vector<PropertyValue> ColumnProperties();

  private:
    Ref<ado::Connection> connection_;
};

}  // namespace korado::dataaccess
