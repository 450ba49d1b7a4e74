// The library's error object: shows exception messages, reads the connection's last provider error, and
// carries the library's error codes.
//
// One instance is shared library-wide (g_ADOError); each clsADO initialisation replaces it. The members do
// not guard themselves: their failures reach the caller (a call before Constructor raises 91).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "korado/runtime/dispatch.h"

namespace korado {

enum enumExceptionType : std::int32_t {
    GeneralException = 0,
    ODBCException = 1,
};

enum enumADOErrorCodes : std::int32_t {
    NoDictionaryDataFound = Hr(0x80040001),
    SaveDynasetError = Hr(0x80040002),
    FieldNotFoundInRecordset = Hr(0x80040003),
    DataTypeNotSupported = Hr(0x80040004),
    CommitError = Hr(0x80040005),
    ConnectionError = Hr(0x80040006),
    ORA_06512 = Hr(0x80040007),
    BindingInfoInvalid = Hr(0x80040008),
    NoDBConnection = Hr(0x80040009),
    GetColumnInfoError = Hr(0x8004000A),
    ORA00600InternalError = Hr(0x8004000B),
    SQLError = Hr(0x8004000C),
    NoRecordset = Hr(0x8004000D),
    DistributedTransactionProblem = Hr(0x8004000E),
    DistributedTransactionProblem2 = Hr(0x8004000F),
    OutOfMemory = Hr(0x80040010),
    NewADOConnectionError = Hr(0x80040011),
    ExecuteSQLError = Hr(0x80040012),
    ADODBError = Hr(0x80040013),
    RecordsetMoveNext = Hr(0x80040014),
    MDACProblem = Hr(0x80040015),
    IdentityInsertOff = Hr(0x80040016),
    BindVariablesNotSupported = Hr(0x80040017),
    TooManyRecordsAffected = Hr(0x80040018),
    MoveFirstEFAIL = Hr(0x80040019),
    DatabaseAlreadyExists = Hr(0x8004001A),
    ProviderNotInstalled = Hr(0x8004001B),
    NotSupportedByProvider = Hr(0x8004001C),
    InvalidFileFormat = Hr(0x8004001D),
    AppendTableError = Hr(0x8004001E),
    NewColumnError = Hr(0x8004001F),
    NotImplementedByProvider = Hr(0x80040020),
    DisconnectProblem = Hr(0x80040021),
    CreateTableError = Hr(0x80040022),
};

// The same values under the names their classes use.
namespace enumDynasetADOErrors {
inline constexpr std::int32_t SaveFileError = Hr(0x80040002);
inline constexpr std::int32_t DataTypeNotSupported = Hr(0x80040004);
inline constexpr std::int32_t CommitError = Hr(0x80040005);
inline constexpr std::int32_t NoDBConnection = Hr(0x80040009);
inline constexpr std::int32_t SQLError = Hr(0x8004000C);
inline constexpr std::int32_t NoRecordset = Hr(0x8004000D);
inline constexpr std::int32_t DistributedTransactionProblem = Hr(0x8004000E);
inline constexpr std::int32_t OutOfMemory = Hr(0x80040010);
inline constexpr std::int32_t RecordsetMoveNext = Hr(0x80040014);
inline constexpr std::int32_t BindVariablesNotSupported = Hr(0x80040017);
inline constexpr std::int32_t TooManyRecordsAffected = Hr(0x80040018);
inline constexpr std::int32_t MoveFirstEFAIL = Hr(0x80040019);
inline constexpr std::int32_t InvalidFileFormat = Hr(0x8004001D);
}  // namespace enumDynasetADOErrors
namespace enumFieldsADOErrors {
inline constexpr std::int32_t FieldNotInRecordset = Hr(0x80040003);
inline constexpr std::int32_t ORA00600InternalError = Hr(0x8004000B);
inline constexpr std::int32_t OutOfMemory = Hr(0x80040010);
}  // namespace enumFieldsADOErrors
namespace enumDictionaryErrors {
inline constexpr std::int32_t NoDictionaryDataFound = Hr(0x80040001);
inline constexpr std::int32_t GetColumnInfoError = Hr(0x8004000A);
}  // namespace enumDictionaryErrors

class KORADO_EXPORT clsADOError : public Dispatch {
public:
    bool DisplayAlerts() const noexcept { return m_DisplayAlerts; }
    void SetDisplayAlerts(bool value) noexcept { m_DisplayAlerts = value; }

    // ADO: the connection object (a clsADO, or any object with a Connection property giving a platform
    // connection). Kept until this object is released; Destructor does not drop it.
    void Constructor(const Ref<Dispatch>& ADO);
    void Destructor() {}

    // Shows Message in an information box titled "Tabulon Universal Exception" while DisplayAlerts is on;
    // returns the button pressed (1), or 0 when alerts are off.
    std::int32_t Exception(const std::string& Message, std::int32_t ExceptionType = GeneralException);
    std::int32_t LastErr();
    std::string LastErrText();
    void Reset();
    std::int32_t SQLErrPosition() const noexcept { return 0; }

    // Strips the bracketed driver tags from an ODBC message ("[unixODBC][Driver]text" gives "text").
    static std::string m_ODBCErrorText(const std::string& Message);

    std::string_view ClassName() const noexcept override { return "clsADOError"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    std::int32_t LateException(const std::string& Message, std::optional<std::int32_t> ExceptionType);
    // The connection object's platform connection (null when it has none); raises 91 before Constructor.
    Variant PlatformConnection();

    bool m_DisplayAlerts = true;
    Ref<Dispatch> m_ADO;
};

}  // namespace korado
