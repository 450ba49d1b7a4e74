// Late binding for the platform's objects: the names a host (or a script) calls them by.
#include "korado/platform/adodb.h"
#include "korado/platform/adox.h"
#include "korado/platform/datalinks.h"

namespace korado::ado {
namespace {
const Variant kMissing = Variant::Missing();
}

// Implementations override these with a probe that does not raise; the fallback keeps any other correct.
Ref<Property> Properties::FindItem(const Variant& index) {
    try {
        return Item(index);
    } catch (const korado::Error&) {
        return nullptr;
    }
}

Ref<Parameter> Parameters::FindItem(const Variant& index) {
    try {
        return Item(index);
    } catch (const korado::Error&) {
        return nullptr;
    }
}

const MemberTable* Error::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Error>("Description")
                                     .Get<&Error::Number>("Number")
                                     .Get<&Error::Source>("Source")
                                     .Get<&Error::Description>("Description")
                                     .Get<&Error::NativeError>("NativeError")
                                     .Get<&Error::SQLState>("SQLState")
                                     .Build();
    return &t;
}

const MemberTable* Errors::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Errors>("Item")
                                     .Get<&Errors::Count>("Count")
                                     .Get<&Errors::Item>("Item")
                                     .Method<&Errors::Clear>("Clear")
                                     .Build();
    return &t;
}

const MemberTable* Property::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Property>("Value")
                                     .Get<&Property::Name>("Name")
                                     .Get<&Property::Type>("Type")
                                     .Get<&Property::Attributes>("Attributes")
                                     .Get<&Property::Value>("Value")
                                     .Let<&Property::SetValue>("Value")
                                     .Build();
    return &t;
}

const MemberTable* Properties::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Properties>("Item")
                                     .Get<&Properties::Count>("Count")
                                     .Get<&Properties::Item>("Item")
                                     .Method<&Properties::Refresh>("Refresh")
                                     .Build();
    return &t;
}

const MemberTable* Connection::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Connection>("ConnectionString")
                                     .Get<&Connection::ConnectionString>("ConnectionString")
                                     .Let<&Connection::SetConnectionString>("ConnectionString")
                                     .Get<&Connection::ConnectionTimeout>("ConnectionTimeout")
                                     .Let<&Connection::SetConnectionTimeout>("ConnectionTimeout")
                                     .Get<&Connection::CommandTimeout>("CommandTimeout")
                                     .Let<&Connection::SetCommandTimeout>("CommandTimeout")
                                     .Get<&Connection::CursorLocation>("CursorLocation")
                                     .Let<&Connection::SetCursorLocation>("CursorLocation")
                                     .Method<&Connection::Open>("Open", {"", "", "", -1})
                                     .Method<&Connection::Close>("Close")
                                     .Get<&Connection::State>("State")
                                     .Get<&Connection::Version>("Version")
                                     .Get<&Connection::Provider>("Provider")
                                     .Let<&Connection::SetProvider>("Provider")
                                     .Method<&Connection::BeginTrans>("BeginTrans")
                                     .Method<&Connection::CommitTrans>("CommitTrans")
                                     .Method<&Connection::RollbackTrans>("RollbackTrans")
                                     .Method<&Connection::Cancel>("Cancel")
                                     .Get<&Connection::Errors>("Errors")
                                     .Get<&Connection::Properties>("Properties")
                                     .Method<&Connection::OpenSchema>("OpenSchema", {kMissing, kMissing})
                                     .Method<&Connection::Execute>("Execute", {kMissing, -1})
                                     .Build();
    return &t;
}

const MemberTable* Parameter::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Parameter>("Value")
                                     .Get<&Parameter::Name>("Name")
                                     .Let<&Parameter::SetName>("Name")
                                     .Get<&Parameter::Type>("Type")
                                     .Let<&Parameter::SetType>("Type")
                                     .Get<&Parameter::Direction>("Direction")
                                     .Let<&Parameter::SetDirection>("Direction")
                                     .Get<&Parameter::Size>("Size")
                                     .Let<&Parameter::SetSize>("Size")
                                     .Get<&Parameter::Value>("Value")
                                     .Let<&Parameter::SetValue>("Value")
                                     .Get<&Parameter::Precision>("Precision")
                                     .Let<&Parameter::SetPrecision>("Precision")
                                     .Get<&Parameter::NumericScale>("NumericScale")
                                     .Let<&Parameter::SetNumericScale>("NumericScale")
                                     .Get<&Parameter::Attributes>("Attributes")
                                     .Let<&Parameter::SetAttributes>("Attributes")
                                     .Build();
    return &t;
}

const MemberTable* Parameters::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Parameters>("Item")
                                     .Get<&Parameters::Count>("Count")
                                     .Get<&Parameters::Item>("Item")
                                     .Method<&Parameters::Append>("Append")
                                     .Method<&Parameters::Delete>("Delete")
                                     .Method<&Parameters::Refresh>("Refresh")
                                     .Build();
    return &t;
}

const MemberTable* Command::Members() const noexcept {
    static const MemberTable t =
        MemberTable::Of<Command>("CommandText")
            .Get<&Command::ActiveConnection>("ActiveConnection")
            .Set<&Command::SetActiveConnection>("ActiveConnection")
            .Get<&Command::CommandText>("CommandText")
            .Let<&Command::SetCommandText>("CommandText")
            .Get<&Command::CommandTimeout>("CommandTimeout")
            .Let<&Command::SetCommandTimeout>("CommandTimeout")
            .Get<&Command::CommandType>("CommandType")
            .Let<&Command::SetCommandType>("CommandType")
            .Get<&Command::Prepared>("Prepared")
            .Let<&Command::SetPrepared>("Prepared")
            .Get<&Command::State>("State")
            .Get<&Command::Properties>("Properties")
            .Method<&Command::CreateParameter>("CreateParameter", {"", adEmpty, adParamInput, 0, kMissing})
            .Get<&Command::Parameters>("Parameters")
            .Method<&Command::Execute>("Execute", {kMissing, kMissing, -1})
            .Method<&Command::Cancel>("Cancel")
            .Build();
    return &t;
}

const MemberTable* Field::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Field>("Value")
                                     .Get<&Field::Name>("Name")
                                     .Get<&Field::Type>("Type")
                                     .Get<&Field::DefinedSize>("DefinedSize")
                                     .Get<&Field::Precision>("Precision")
                                     .Get<&Field::NumericScale>("NumericScale")
                                     .Get<&Field::Attributes>("Attributes")
                                     .Get<&Field::ActualSize>("ActualSize")
                                     .Get<&Field::Value>("Value")
                                     .Let<&Field::SetValue>("Value")
                                     .Get<&Field::OriginalValue>("OriginalValue")
                                     .Get<&Field::UnderlyingValue>("UnderlyingValue")
                                     .Method<&Field::AppendChunk>("AppendChunk")
                                     .Method<&Field::GetChunk>("GetChunk")
                                     .Get<&Field::Properties>("Properties")
                                     .Build();
    return &t;
}

const MemberTable* Fields::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Fields>("Item")
                                     .Get<&Fields::Count>("Count")
                                     .Get<&Fields::Item>("Item")
                                     .Build();
    return &t;
}

const MemberTable* Recordset::Members() const noexcept {
    static const MemberTable t =
        MemberTable::Of<Recordset>("Fields")
            .Get<&Recordset::ActiveConnection>("ActiveConnection")
            .Set<&Recordset::SetActiveConnection>("ActiveConnection")
            .Get<&Recordset::CursorLocation>("CursorLocation")
            .Let<&Recordset::SetCursorLocation>("CursorLocation")
            .Get<&Recordset::CursorType>("CursorType")
            .Let<&Recordset::SetCursorType>("CursorType")
            .Get<&Recordset::LockType>("LockType")
            .Let<&Recordset::SetLockType>("LockType")
            .Get<&Recordset::CacheSize>("CacheSize")
            .Let<&Recordset::SetCacheSize>("CacheSize")
            .Get<&Recordset::PageSize>("PageSize")
            .Let<&Recordset::SetPageSize>("PageSize")
            .Get<&Recordset::MaxRecords>("MaxRecords")
            .Let<&Recordset::SetMaxRecords>("MaxRecords")
            .Method<&Recordset::Open>("Open", {kMissing, kMissing, -1, -1, -1})
            .Method<&Recordset::Close>("Close")
            .Get<&Recordset::State>("State")
            .Get<&Recordset::Eof>("EOF")
            .Get<&Recordset::Bof>("BOF")
            .Get<&Recordset::RecordCount>("RecordCount")
            .Get<&Recordset::AbsolutePosition>("AbsolutePosition")
            .Get<&Recordset::Fields>("Fields")
            .Get<&Recordset::Source>("Source")
            .Get<&Recordset::Filter>("Filter")
            .Let<&Recordset::SetFilter>("Filter")
            .Method<&Recordset::Supports>("Supports")
            .Get<&Recordset::Status>("Status")
            .Get<&Recordset::EditMode>("EditMode")
            .Method<&Recordset::MoveFirst>("MoveFirst")
            .Method<&Recordset::MoveLast>("MoveLast")
            .Method<&Recordset::MoveNext>("MoveNext")
            .Method<&Recordset::MovePrevious>("MovePrevious")
            .Method<&Recordset::Move>("Move")
            .Method<&Recordset::NextRecordset>("NextRecordset", {kMissing})
            .Method<&Recordset::AddNew>("AddNew")
            .Method<&Recordset::Update>("Update")
            .Method<&Recordset::CancelUpdate>("CancelUpdate")
            .Method<&Recordset::UpdateBatch>("UpdateBatch", {adAffectAll})
            .Method<&Recordset::CancelBatch>("CancelBatch", {adAffectAll})
            .Method<&Recordset::Delete>("Delete", {adAffectCurrent})
            .Method<&Recordset::Requery>("Requery", {-1})
            .Method<&Recordset::Save>("Save", {adPersistADTG})
            .Get<&Recordset::Properties>("Properties")
            .Build();
    return &t;
}

const MemberTable* DataLinks::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<DataLinks>().Method<&DataLinks::PromptNew>("PromptNew").Build();
    return &t;
}

}  // namespace korado::ado

namespace korado::adox {

const MemberTable* Column::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Column>("Name")
                                     .Get<&Column::Name>("Name")
                                     .Let<&Column::SetName>("Name")
                                     .Get<&Column::Type>("Type")
                                     .Let<&Column::SetType>("Type")
                                     .Get<&Column::DefinedSize>("DefinedSize")
                                     .Let<&Column::SetDefinedSize>("DefinedSize")
                                     .Get<&Column::Precision>("Precision")
                                     .Let<&Column::SetPrecision>("Precision")
                                     .Get<&Column::NumericScale>("NumericScale")
                                     .Let<&Column::SetNumericScale>("NumericScale")
                                     .Get<&Column::Attributes>("Attributes")
                                     .Let<&Column::SetAttributes>("Attributes")
                                     .Get<&Column::Properties>("Properties")
                                     .Get<&Column::ParentCatalog>("ParentCatalog")
                                     .Set<&Column::SetParentCatalog>("ParentCatalog")
                                     .Build();
    return &t;
}

const MemberTable* Columns::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Columns>("Item")
                                     .Get<&Columns::Count>("Count")
                                     .Get<&Columns::Item>("Item")
                                     .Method<&Columns::Append>("Append", {ado::adVarWChar, 0})
                                     .Method<&Columns::Delete>("Delete")
                                     .Build();
    return &t;
}

const MemberTable* Table::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Table>("Name")
                                     .Get<&Table::Name>("Name")
                                     .Let<&Table::SetName>("Name")
                                     .Get<&Table::Type>("Type")
                                     .Get<&Table::Columns>("Columns")
                                     .Get<&Table::ParentCatalog>("ParentCatalog")
                                     .Set<&Table::SetParentCatalog>("ParentCatalog")
                                     .Build();
    return &t;
}

const MemberTable* Tables::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Tables>("Item")
                                     .Get<&Tables::Count>("Count")
                                     .Get<&Tables::Item>("Item")
                                     .Method<&Tables::Append>("Append")
                                     .Method<&Tables::Delete>("Delete")
                                     .Method<&Tables::Refresh>("Refresh")
                                     .Build();
    return &t;
}

const MemberTable* Catalog::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<Catalog>("Tables")
                                     .Get<&Catalog::ActiveConnection>("ActiveConnection")
                                     .Set<&Catalog::SetActiveConnection>("ActiveConnection")
                                     .Method<&Catalog::Create>("Create")
                                     .Get<&Catalog::Tables>("Tables")
                                     .Build();
    return &t;
}

}  // namespace korado::adox
