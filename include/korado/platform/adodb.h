// The data-access platform's objects, as the library calls them.
//
// These are interfaces: `src/dataaccess/` implements them over SQLite and unixODBC, and a host may supply
// its own. Objects are created by ProgID ("ADODB.Connection", "ADODB.Command", "ADODB.Recordset") through
// the class registry, so that a failure to create one reaches the caller as the runtime's error 429, as on
// the original platform.
//
// Failures: every member raises korado::Error. A provider failure carries the provider's number (an
// HRESULT such as 0x80040E14), its source (e.g. "Microsoft OLE DB Provider for ODBC Drivers") and its
// description, and replaces the connection's Errors with one entry per native diagnostic. The platform's
// own failures carry their ErrorValueEnum number (3021, 3251, 3704, ...) and the source "ADODB.<Object>"
// of the object whose member was called; they are not added to Errors.
//
// C++ names follow the platform's member names; properties are read by Name() and written by SetName().
// EOF and BOF are spelled Eof() and Bof() in C++ (EOF is a C macro); late binding uses the platform's names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "korado/platform/ado_enums.h"
#include "korado/runtime/dispatch.h"
#include "korado/runtime/variant.h"

namespace korado::ado {

class Connection;
class Command;
class Recordset;
class Errors;
class Properties;
class Parameters;
class Fields;

// One diagnostic of a provider failure.
class KORADO_EXPORT Error : public Dispatch {
public:
    virtual std::int32_t Number() = 0;
    virtual std::string Source() = 0;
    virtual std::string Description() = 0;
    virtual std::int32_t NativeError() = 0;
    virtual std::string SQLState() = 0;
    std::string_view ClassName() const noexcept override { return "Error"; }

protected:
    const MemberTable* Members() const noexcept override;
};

// The diagnostics of a connection's most recent failing provider call.
class KORADO_EXPORT Errors : public Dispatch {
public:
    virtual std::int32_t Count() = 0;
    // 0-based; raises 3265 for an index out of range.
    virtual Ref<ado::Error> Item(const Variant& index) = 0;
    virtual void Clear() = 0;
    std::string_view ClassName() const noexcept override { return "Errors"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Property : public Dispatch {
public:
    virtual std::string Name() = 0;
    virtual std::int32_t Type() = 0;        // DataTypeEnum
    virtual std::int32_t Attributes() = 0;  // PropertyAttributesEnum bits
    virtual Variant Value() = 0;
    // Raises 3001 for a value of the wrong kind, 3251 for a read-only property.
    virtual void SetValue(const Variant& value) = 0;
    std::string_view ClassName() const noexcept override { return "Property"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Properties : public Dispatch {
public:
    virtual std::int32_t Count() = 0;
    // By 0-based position or by name (without regard to letter case); raises 3265 when there is none.
    virtual Ref<ado::Property> Item(const Variant& index) = 0;
    // As Item, but null instead of raising when there is none (for lookups that ignore a miss, on paths run
    // once per statement).
    virtual Ref<ado::Property> FindItem(const Variant& index);
    virtual void Refresh() = 0;
    std::string_view ClassName() const noexcept override { return "Properties"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Connection : public Dispatch {
public:
    virtual std::string ConnectionString() = 0;
    // Raises 3705 while open; a malformed string raises 3001 naming the problem.
    virtual void SetConnectionString(std::string_view value) = 0;
    virtual std::int32_t ConnectionTimeout() = 0;
    virtual void SetConnectionTimeout(std::int32_t seconds) = 0;
    virtual std::int32_t CommandTimeout() = 0;
    virtual void SetCommandTimeout(std::int32_t seconds) = 0;
    virtual std::int32_t CursorLocation() = 0;
    virtual void SetCursorLocation(std::int32_t value) = 0;
    // Empty arguments keep what the connection string says. A failure leaves the connection closed.
    virtual void Open(std::string_view connection_string = {}, std::string_view user_id = {},
                      std::string_view password = {}, std::int32_t options = adOptionUnspecified) = 0;
    virtual void Close() = 0;
    virtual std::int32_t State() = 0;
    // The platform's version ("2.5"), not the database's.
    virtual std::string Version() = 0;
    // The provider's name with its version suffix ("SQLite.1", "MSDASQL.1").
    virtual std::string Provider() = 0;
    virtual void SetProvider(std::string_view value) = 0;
    // Returns the new nesting level; raises 3251 when the provider has no transactions.
    virtual std::int32_t BeginTrans() = 0;
    virtual void CommitTrans() = 0;
    virtual void RollbackTrans() = 0;
    // Whether anything that may have changed data ran since BeginTrans: what a dropped link took with it.
    // Our own addition to the connection; a connection that cannot tell answers false.
    virtual bool HasUncommittedWork() { return false; }
    virtual void Cancel() = 0;
    virtual Ref<ado::Errors> Errors() = 0;
    // Before Open only the initialization properties; after Open the provider's information too.
    virtual Ref<ado::Properties> Properties() = 0;
    // SchemaEnum query; restrictions is an array of up to 4 Variants (Empty = no restriction).
    virtual Ref<ado::Recordset> OpenSchema(std::int32_t schema, const Variant& restrictions = Variant::Missing(),
                                           const Variant& schema_id = Variant::Missing()) = 0;
    virtual Ref<ado::Recordset> Execute(std::string_view command_text, Variant* records_affected = nullptr,
                                        std::int32_t options = adOptionUnspecified) = 0;
    std::string_view ClassName() const noexcept override { return "Connection"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Parameter : public Dispatch {
public:
    virtual std::string Name() = 0;
    virtual void SetName(std::string_view value) = 0;
    virtual std::int32_t Type() = 0;  // DataTypeEnum
    virtual void SetType(std::int32_t value) = 0;
    virtual std::int32_t Direction() = 0;  // ParameterDirectionEnum
    virtual void SetDirection(std::int32_t value) = 0;
    virtual std::int32_t Size() = 0;
    virtual void SetSize(std::int32_t value) = 0;
    // Stays valid until the value is next set.
    virtual const Variant& Value() = 0;
    virtual void SetValue(const Variant& value) = 0;
    virtual std::uint8_t Precision() = 0;
    virtual void SetPrecision(std::uint8_t value) = 0;
    virtual std::uint8_t NumericScale() = 0;
    virtual void SetNumericScale(std::uint8_t value) = 0;
    virtual std::int32_t Attributes() = 0;
    virtual void SetAttributes(std::int32_t value) = 0;
    std::string_view ClassName() const noexcept override { return "Parameter"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Parameters : public Dispatch {
public:
    virtual std::int32_t Count() = 0;
    // By 0-based position or by name (without regard to letter case; the first of that name); 3265 if none.
    virtual Ref<ado::Parameter> Item(const Variant& index) = 0;
    // As Item, but null instead of raising when there is none.
    virtual Ref<ado::Parameter> FindItem(const Variant& index);
    // Raises 3367 when that very object is already appended, 3001 for something that is no Parameter.
    virtual void Append(const Ref<ado::Parameter>& parameter) = 0;
    virtual void Delete(const Variant& index) = 0;
    virtual void Refresh() = 0;
    // A number that no other collection has had and that changes whenever this one gains or loses an item
    // or one of its items is renamed: what a caller found by name holds while the number stays. 0 when the
    // collection cannot tell.
    virtual std::uint64_t Version() { return 0; }
    std::string_view ClassName() const noexcept override { return "Parameters"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Command : public Dispatch {
public:
    virtual Ref<ado::Connection> ActiveConnection() = 0;
    virtual void SetActiveConnection(const Ref<ado::Connection>& connection) = 0;
    virtual std::string CommandText() = 0;
    virtual void SetCommandText(std::string_view value) = 0;
    virtual std::int32_t CommandTimeout() = 0;
    virtual void SetCommandTimeout(std::int32_t seconds) = 0;
    virtual std::int32_t CommandType() = 0;  // CommandTypeEnum
    virtual void SetCommandType(std::int32_t value) = 0;
    virtual bool Prepared() = 0;
    virtual void SetPrepared(bool value) = 0;
    virtual std::int32_t State() = 0;
    virtual Ref<ado::Properties> Properties() = 0;
    // Creates a parameter without appending it.
    virtual Ref<ado::Parameter> CreateParameter(std::string_view name = {}, std::int32_t type = adEmpty,
                                                std::int32_t direction = adParamInput, std::int32_t size = 0,
                                                const Variant& value = Variant::Missing()) = 0;
    virtual Ref<ado::Parameters> Parameters() = 0;
    // Runs the command. A statement without rows gives a closed recordset without fields;
    // records_affected counts action statements only (-1 otherwise).
    virtual Ref<ado::Recordset> Execute(Variant* records_affected = nullptr,
                                        const Variant& parameters = Variant::Missing(),
                                        std::int32_t options = adOptionUnspecified) = 0;
    virtual void Cancel() = 0;
    std::string_view ClassName() const noexcept override { return "Command"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Field : public Dispatch {
public:
    virtual std::string Name() = 0;
    virtual std::int32_t Type() = 0;  // DataTypeEnum
    virtual std::int32_t DefinedSize() = 0;
    virtual std::uint8_t Precision() = 0;
    virtual std::uint8_t NumericScale() = 0;
    virtual std::int32_t Attributes() = 0;  // FieldAttributeEnum bits
    virtual std::int32_t ActualSize() = 0;
    // The current row's value; raises 3021 (source "ADODB.Field") without a current row. The reference
    // stays valid until the recordset moves or the value is written.
    virtual const Variant& Value() = 0;
    virtual void SetValue(const Variant& value) = 0;
    // The value as last read from or written to the data source (before pending changes).
    virtual Variant OriginalValue() = 0;
    virtual Variant UnderlyingValue() = 0;
    virtual void AppendChunk(const Variant& data) = 0;
    virtual Variant GetChunk(std::int32_t length) = 0;
    virtual Ref<ado::Properties> Properties() = 0;
    std::string_view ClassName() const noexcept override { return "Field"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Fields : public Dispatch {
public:
    virtual std::int32_t Count() = 0;
    // By 0-based position or by name (without regard to letter case); raises 3265 when there is none.
    virtual Ref<ado::Field> Item(const Variant& index) = 0;
    // Fast positional access for cursors: 0-based, unchecked beyond an assertion, no reference counting.
    virtual ado::Field* At(std::int32_t index) = 0;
    std::string_view ClassName() const noexcept override { return "Fields"; }

protected:
    const MemberTable* Members() const noexcept override;
};

class KORADO_EXPORT Recordset : public Dispatch {
public:
    virtual Ref<ado::Connection> ActiveConnection() = 0;
    virtual void SetActiveConnection(const Ref<ado::Connection>& connection) = 0;
    virtual std::int32_t CursorLocation() = 0;
    virtual void SetCursorLocation(std::int32_t value) = 0;
    virtual std::int32_t CursorType() = 0;
    virtual void SetCursorType(std::int32_t value) = 0;
    virtual std::int32_t LockType() = 0;
    virtual void SetLockType(std::int32_t value) = 0;
    virtual std::int32_t CacheSize() = 0;
    virtual void SetCacheSize(std::int32_t value) = 0;  // > 0, else 3001
    virtual std::int32_t PageSize() = 0;
    virtual void SetPageSize(std::int32_t value) = 0;
    virtual std::int32_t MaxRecords() = 0;
    virtual void SetMaxRecords(std::int32_t value) = 0;

    // source: a Command object, SQL text, or (without a connection) the name of a persisted file.
    virtual void Open(const Variant& source = Variant::Missing(),
                      const Variant& active_connection = Variant::Missing(),
                      std::int32_t cursor_type = adOpenUnspecified, std::int32_t lock_type = adLockUnspecified,
                      std::int32_t options = adOptionUnspecified) = 0;
    virtual void Close() = 0;
    virtual std::int32_t State() = 0;  // ObjectStateEnum bits
    virtual bool Eof() = 0;
    virtual bool Bof() = 0;
    virtual std::int32_t RecordCount() = 0;  // -1 when unknown
    virtual std::int32_t AbsolutePosition() = 0;
    virtual Ref<ado::Fields> Fields() = 0;
    // The command text, also when a Command was the source.
    virtual std::string Source() = 0;
    virtual Variant Filter() = 0;
    virtual void SetFilter(const Variant& criteria) = 0;
    virtual bool Supports(std::int32_t cursor_options) = 0;
    virtual std::int32_t Status() = 0;  // RecordStatusEnum of the current row
    virtual std::int32_t EditMode() = 0;

    virtual void MoveFirst() = 0;
    virtual void MoveLast() = 0;
    virtual void MoveNext() = 0;
    virtual void MovePrevious() = 0;
    virtual void Move(std::int32_t num_records) = 0;
    // The next result of a multi-statement command; null when there is none.
    virtual Ref<ado::Recordset> NextRecordset(Variant* records_affected = nullptr) = 0;

    virtual void AddNew() = 0;
    virtual void Update() = 0;
    virtual void CancelUpdate() = 0;
    virtual void UpdateBatch(std::int32_t affect = adAffectAll) = 0;
    virtual void CancelBatch(std::int32_t affect = adAffectAll) = 0;
    virtual void Delete(std::int32_t affect = adAffectCurrent) = 0;
    virtual void Requery(std::int32_t options = adOptionUnspecified) = 0;
    // format: PersistFormatEnum; other numbers raise 3001.
    virtual void Save(const Variant& destination, std::int32_t format = adPersistADTG) = 0;
    virtual Ref<ado::Properties> Properties() = 0;
    std::string_view ClassName() const noexcept override { return "Recordset"; }

protected:
    const MemberTable* Members() const noexcept override;
};

}  // namespace korado::ado
