#include "dataaccess/catalog.h"

#include <cmath>

#include "dataaccess/connection.h"
#include "dataaccess/connection_string.h"
#include "dataaccess/platform_error.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/strings.h"

namespace korado::dataaccess {
namespace {

constexpr std::string_view kCatalog = "ADOX.Catalog";
constexpr std::string_view kTables = "ADOX.Tables";
constexpr std::string_view kTable = "ADOX.Table";
constexpr std::string_view kColumn = "ADOX.Column";
constexpr std::int32_t kReadWrite = ado::adPropRead | ado::adPropWrite;
constexpr std::int32_t kUnlimited = -1;

// A position given as a number: 0-based, as the platform's collections count.
bool AsPosition(const Variant& index, std::size_t count, std::size_t& position) {
    if (!index.IsNumber()) return false;
    const double n = CDbl(index);
    if (n < 0 || n >= static_cast<double>(count) || n != std::floor(n)) return false;
    position = static_cast<std::size_t>(n);
    return true;
}

}  // namespace

// ---- Column --------------------------------------------------------------------------------------------
ColumnImpl::ColumnImpl() : properties_(MakeRef<PropertiesImpl>()) {}

// The properties may outlive the column; their write hooks reach into it.
ColumnImpl::~ColumnImpl() { properties_->DetachHooks(); }

void ColumnImpl::SetDefinedSize(std::int32_t value) {
    // All bits set is how the platform's fields report an unlimited size; a copy of such a field says the
    // same of the column.
    if (value < kUnlimited) RaiseAdo(ado::adErrInvalidArgument, kColumn);
    defined_size_ = value;
}

void ColumnImpl::SetNumericScale(std::uint8_t value) {
    // A scale is part of a precision; with no precision yet the provider decides at Append.
    if (precision_ != 0 && value > precision_) RaiseAdo(ado::adErrInvalidArgument, kColumn);
    scale_ = value;
}

void ColumnImpl::SetAttributes(std::int32_t value) {
    if (value & ~(ado::adColFixed | ado::adColNullable)) RaiseAdo(ado::adErrInvalidArgument, kColumn);
    attributes_ = value;
    if (PropertyImpl* p = properties_->Find("Nullable"))
        p->Assign(Variant((value & ado::adColNullable) != 0));
    if (PropertyImpl* p = properties_->Find("Fixed Length"))
        p->Assign(Variant((value & ado::adColFixed) != 0));
}

void ColumnImpl::SetAttribute(std::int32_t bit, bool on) {
    attributes_ = on ? (attributes_ | bit) : (attributes_ & ~bit);
}

void ColumnImpl::SetParentCatalog(const Ref<adox::Catalog>& catalog) {
    parent_ = catalog;
    if (parent_ && properties_->Count() == 0) AddProperties();
}

void ColumnImpl::AddProperties() {
    properties_->Add("Autoincrement", ado::adBoolean, kReadWrite, Variant(false));
    properties_->Add("Default", ado::adVariant, kReadWrite, Variant());
    properties_->Add("Description", ado::adBSTR, kReadWrite, Variant(std::string()));
    properties_->Add("Nullable", ado::adBoolean, kReadWrite, Variant((attributes_ & ado::adColNullable) != 0),
                     [this](const Variant& v) { SetAttribute(ado::adColNullable, CBool(v)); });
    properties_->Add("Fixed Length", ado::adBoolean, kReadWrite,
                     Variant((attributes_ & ado::adColFixed) != 0),
                     [this](const Variant& v) { SetAttribute(ado::adColFixed, CBool(v)); });
    properties_->Add("Seed", ado::adInteger, kReadWrite, Variant(std::int32_t{1}));
    properties_->Add("Increment", ado::adInteger, kReadWrite, Variant(std::int32_t{1}));
    if (auto* catalog = dynamic_cast<CatalogImpl*>(parent_.get())) {
        for (PropertyValue& p : catalog->ColumnProperties()) {
            provider_property_names_.push_back(p.name);
            properties_->Add(std::move(p.name), p.type, p.attributes, std::move(p.value));
        }
    }
}

ColumnDefinition ColumnImpl::Definition() const {
    ColumnDefinition d;
    d.info.name = name_;
    d.info.type = type_;
    d.info.defined_size = defined_size_;
    d.info.precision = precision_;
    d.info.scale = scale_;
    d.nullable = (attributes_ & ado::adColNullable) != 0;
    d.fixed_length = (attributes_ & ado::adColFixed) != 0;
    if (PropertyImpl* p = properties_->Find("Autoincrement")) d.info.auto_increment = CBool(p->value());
    if (PropertyImpl* p = properties_->Find("Default")) d.default_value = p->value();
    for (const std::string& name : provider_property_names_) {
        PropertyImpl* p = properties_->Find(name);
        d.provider_properties.push_back({name, p->Type(), p->Attributes(), p->value()});
    }
    return d;
}

// ---- Columns -------------------------------------------------------------------------------------------
std::size_t ColumnsImpl::Position(const Variant& index) const {
    std::size_t position = 0;
    if (AsPosition(index, items_.size(), position)) return position;
    if (index.IsString()) {
        const std::string name = CStr(index);
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (TextEquals(items_[i]->Name(), name)) return i;
    }
    RaiseAdo(ado::adErrItemNotFound, kTable);
}

Ref<adox::Column> ColumnsImpl::Item(const Variant& index) {
    return Ref<adox::Column>(items_[Position(index)].get());
}

void ColumnsImpl::Append(const Variant& item, std::int32_t type, std::int32_t defined_size) {
    Ref<ColumnImpl> column;
    if (item.IsString()) {
        column = MakeRef<ColumnImpl>();
        column->SetName(CStr(item));
        column->SetType(type);
        column->SetDefinedSize(defined_size);
    } else {
        column = item.ObjectAs<ColumnImpl>();
    }
    if (!column || column->Name().empty()) RaiseAdo(ado::adErrInvalidArgument, kTable);
    for (const Ref<ColumnImpl>& c : items_)
        if (c.get() == column.get() || TextEquals(c->Name(), column->Name()))
            RaiseAdo(ado::adErrObjectInCollection, kTable);
    if (parent_) column->SetParentCatalog(parent_);
    items_.push_back(std::move(column));
}

void ColumnsImpl::Delete(const Variant& index) {
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(Position(index)));
}

void ColumnsImpl::SetParentCatalog(const Ref<adox::Catalog>& catalog) {
    parent_ = catalog;
    for (const Ref<ColumnImpl>& c : items_) c->SetParentCatalog(catalog);
}

// ---- Table ---------------------------------------------------------------------------------------------
TableImpl::TableImpl() : columns_(MakeRef<ColumnsImpl>()) {}

void TableImpl::SetParentCatalog(const Ref<adox::Catalog>& catalog) {
    if (!catalog) RaiseAdo(ado::adErrInvalidArgument, kTable);
    parent_ = catalog;
    columns_->SetParentCatalog(catalog);
}

// ---- Tables --------------------------------------------------------------------------------------------
std::vector<TablesImpl::Listed> TablesImpl::List() {
    Ref<ConnectionImpl> connection = catalog_->RequireConnection(kTables);
    Session& session = connection->RequireSession(kTables);
    return connection->Call([&] {
        std::unique_ptr<Cursor> rows = session.Schema(ado::adSchemaTables, {});
        std::size_t name_at = 2, type_at = 3;
        const std::vector<ColumnInfo>& columns = rows->Columns();
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (columns[i].name == "TABLE_NAME") name_at = i;
            if (columns[i].name == "TABLE_TYPE") type_at = i;
        }
        std::vector<Listed> list;
        Variant value;
        while (rows->Next()) {
            Listed t;
            rows->Read(name_at, value);
            t.name = CStr(value);
            rows->Read(type_at, value);
            t.type = CStr(value);
            list.push_back(std::move(t));
        }
        return list;
    });
}

TablesImpl::Listed TablesImpl::Find(const Variant& index) {
    std::vector<Listed> list = List();
    std::size_t position = 0;
    if (AsPosition(index, list.size(), position)) return list[position];
    if (index.IsString()) {
        const std::string name = CStr(index);
        for (Listed& t : list)
            if (TextEquals(t.name, name)) return t;
    }
    RaiseAdo(ado::adErrItemNotFound, kTables);
}

std::int32_t TablesImpl::Count() { return static_cast<std::int32_t>(List().size()); }

Ref<adox::Table> TablesImpl::Item(const Variant& index) {
    Listed found = Find(index);
    auto table = MakeRef<TableImpl>();
    table->SetName(found.name);
    table->SetType(found.type);
    table->SetParentCatalog(Ref<adox::Catalog>(catalog_.get()));
    return Ref<adox::Table>(table.get());
}

void TablesImpl::Append(const Variant& item) {
    Ref<TableImpl> table;
    if (item.IsString()) {
        table = MakeRef<TableImpl>();
        table->SetName(CStr(item));
    } else {
        table = item.ObjectAs<TableImpl>();
    }
    if (!table || table->Name().empty()) RaiseAdo(ado::adErrInvalidArgument, kTables);
    Ref<ConnectionImpl> connection = catalog_->RequireConnection(kTables);
    Session& session = connection->RequireSession(kTables);

    std::vector<ColumnDefinition> columns;
    columns.reserve(table->columns().items().size());
    for (const Ref<ColumnImpl>& c : table->columns().items()) columns.push_back(c->Definition());
    connection->NoteWork();
    connection->Call([&] { session.CreateTable(table->Name(), columns); });
    table->SetType("TABLE");
    table->SetParentCatalog(Ref<adox::Catalog>(catalog_.get()));
}

void TablesImpl::Delete(const Variant& index) {
    const std::string name = Find(index).name;
    Ref<ConnectionImpl> connection = catalog_->RequireConnection(kTables);
    Session& session = connection->RequireSession(kTables);
    connection->NoteWork();
    connection->Call([&] {
        ExecuteOptions options;
        std::unique_ptr<Statement> drop =
            session.Prepare("DROP TABLE " + session.QuoteIdentifier(name), options);
        drop->Execute({});
    });
}

// ---- Catalog -------------------------------------------------------------------------------------------
Ref<ConnectionImpl> CatalogImpl::RequireConnection(std::string_view object) {
    if (!connection_ || connection_->State() != ado::adStateOpen)
        RaiseAdo(ado::adErrInvalidConnection, object);
    return AsConnectionImpl(connection_);
}

void CatalogImpl::SetActiveConnection(const Ref<ado::Connection>& connection) {
    if (!connection || !AsConnectionImpl(connection)) RaiseAdo(ado::adErrInvalidArgument, kCatalog);
    if (connection->State() != ado::adStateOpen) RaiseAdo(ado::adErrInvalidConnection, kCatalog);
    connection_ = connection;
}

Ref<ado::Connection> CatalogImpl::Create(std::string_view connection_string) {
    ConnectionString cs = ConnectionString::Parse(connection_string, kCatalog);
    std::string name = cs.Get("Provider");
    if (name.empty()) name = "MSDASQL";
    std::shared_ptr<Provider> provider;
    try {
        provider = FindProvider(name);
    } catch (const Error& e) {
        // The catalog reaches its provider through the service components, which report a missing one so.
        if (e.Number() != ado::adErrProviderNotFound) throw;
        throw Error(hr::REGDB_E_CLASSNOTREG, "Microsoft OLE DB Service Components", "Class not registered");
    }
    OpenRequest request;
    request.connection_string = cs;
    request.connection_string.Remove("Provider");
    request.user = cs.Find("User ID").value_or(cs.Get("UID"));
    request.password = cs.Find("Password").value_or(cs.Get("PWD"));
    provider->CreateDataSource(request);

    auto connection = MakeRef<ConnectionImpl>();
    connection->Open(connection_string, "", "", ado::adOptionUnspecified);
    connection_ = Ref<ado::Connection>(connection.get());
    return connection_;
}

std::vector<PropertyValue> CatalogImpl::ColumnProperties() {
    if (!connection_ || connection_->State() != ado::adStateOpen) return {};
    Ref<ConnectionImpl> connection = AsConnectionImpl(connection_);
    Session& session = connection->RequireSession(kCatalog);
    return connection->Call([&] { return session.ColumnProperties(); });
}

Ref<adox::Tables> CatalogImpl::Tables() {
    return Ref<adox::Tables>(MakeRef<TablesImpl>(Ref<CatalogImpl>(this)).get());
}

}  // namespace korado::dataaccess
