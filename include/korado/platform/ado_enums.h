// The data-access platform's published enumerations, with the platform's own values: hosts, persisted
// files and the library's diagnosis tables all rely on these numbers.
#pragma once

#include <cstdint>

#include "korado/runtime/error.h"

namespace korado::ado {

enum DataTypeEnum : std::int32_t {
    adEmpty = 0,
    adSmallInt = 2,
    adInteger = 3,
    adSingle = 4,
    adDouble = 5,
    adCurrency = 6,
    adDate = 7,
    adBSTR = 8,
    adIDispatch = 9,
    adError = 10,
    adBoolean = 11,
    adVariant = 12,
    adIUnknown = 13,
    adDecimal = 14,
    adTinyInt = 16,
    adUnsignedTinyInt = 17,
    adUnsignedSmallInt = 18,
    adUnsignedInt = 19,
    adBigInt = 20,
    adUnsignedBigInt = 21,
    adFileTime = 64,
    adGUID = 72,
    adBinary = 128,
    adChar = 129,
    adWChar = 130,
    adNumeric = 131,
    adUserDefined = 132,
    adDBDate = 133,
    adDBTime = 134,
    adDBTimeStamp = 135,
    adChapter = 136,
    adPropVariant = 138,
    adVarNumeric = 139,
    adVarChar = 200,
    adLongVarChar = 201,
    adVarWChar = 202,
    adLongVarWChar = 203,
    adVarBinary = 204,
    adLongVarBinary = 205,
};

enum ParameterDirectionEnum : std::int32_t {
    adParamUnknown = 0,
    adParamInput = 1,
    adParamOutput = 2,
    adParamInputOutput = 3,
    adParamReturnValue = 4,
};

enum CommandTypeEnum : std::int32_t {
    adCmdUnspecified = -1,
    adCmdText = 1,
    adCmdTable = 2,
    adCmdStoredProc = 4,
    adCmdUnknown = 8,
    adCmdFile = 256,
    adCmdTableDirect = 512,
};

enum ExecuteOptionEnum : std::int32_t {
    adOptionUnspecified = -1,
    adAsyncExecute = 0x10,
    adAsyncFetch = 0x20,
    adExecuteNoRecords = 0x80,
};

enum CursorLocationEnum : std::int32_t { adUseNone = 1, adUseServer = 2, adUseClient = 3 };

enum CursorTypeEnum : std::int32_t {
    adOpenUnspecified = -1,
    adOpenForwardOnly = 0,
    adOpenKeyset = 1,
    adOpenDynamic = 2,
    adOpenStatic = 3,
};

enum LockTypeEnum : std::int32_t {
    adLockUnspecified = -1,
    adLockReadOnly = 1,
    adLockPessimistic = 2,
    adLockOptimistic = 3,
    adLockBatchOptimistic = 4,
};

enum ObjectStateEnum : std::int32_t {
    adStateClosed = 0,
    adStateOpen = 1,
    adStateConnecting = 2,
    adStateExecuting = 4,
    adStateFetching = 8,
};

enum SchemaEnum : std::int32_t {
    adSchemaColumns = 4,
    adSchemaSchemata = 17,
    adSchemaTables = 20,
};

enum CursorOptionEnum : std::int32_t {
    adHoldRecords = 0x100,
    adMovePrevious = 0x200,
    adBookmark = 0x2000,
    adApproxPosition = 0x4000,
    adUpdateBatch = 0x10000,
    adResync = 0x20000,
    adNotify = 0x40000,
    adFind = 0x80000,
    adSeek = 0x400000,
    adIndex = 0x800000,
    adAddNew = 0x1000400,
    adDelete = 0x1000800,
    adUpdate = 0x1008000,
};

enum AffectEnum : std::int32_t { adAffectCurrent = 1, adAffectGroup = 2, adAffectAll = 3, adAffectAllChapters = 4 };

enum PersistFormatEnum : std::int32_t { adPersistADTG = 0, adPersistXML = 1 };

enum FilterGroupEnum : std::int32_t {
    adFilterNone = 0,
    adFilterPendingRecords = 1,
    adFilterAffectedRecords = 2,
    adFilterFetchedRecords = 3,
    adFilterConflictingRecords = 5,
};

enum FieldAttributeEnum : std::int32_t {
    adFldMayDefer = 0x2,
    adFldUpdatable = 0x4,
    adFldUnknownUpdatable = 0x8,
    adFldFixed = 0x10,
    adFldIsNullable = 0x20,
    adFldMayBeNull = 0x40,
    adFldLong = 0x80,
    adFldRowID = 0x100,
    adFldRowVersion = 0x200,
    adFldCacheDeferred = 0x1000,
    adFldIsChapter = 0x2000,
    adFldNegativeScale = 0x4000,
    adFldKeyColumn = 0x8000,
};

enum PropertyAttributesEnum : std::int32_t {
    adPropNotSupported = 0,
    adPropRequired = 1,
    adPropOptional = 2,
    adPropRead = 512,
    adPropWrite = 1024,
};

enum RecordStatusEnum : std::int32_t {
    adRecOK = 0,
    adRecNew = 1,
    adRecModified = 2,
    adRecDeleted = 4,
    adRecUnmodified = 8,
    adRecConcurrencyViolation = 0x800,
};

enum ConnectModeEnum : std::int32_t { adModeUnknown = 0, adModeRead = 1, adModeWrite = 2, adModeReadWrite = 3 };

// Values of the "Output Parameter Availability" property.
enum OutputParameterAvailability : std::int32_t {
    DBPROPVAL_OA_NOTSUPPORTED = 1,
    DBPROPVAL_OA_ATEXECUTE = 2,
    DBPROPVAL_OA_ATROWRELEASE = 4,
};

// Values of the "Transaction DDL" property.
enum TransactionDDL : std::int32_t {
    DBPROPVAL_TC_NONE = 0,
    DBPROPVAL_TC_DML = 1,
    DBPROPVAL_TC_DDL_COMMIT = 2,
    DBPROPVAL_TC_DDL_IGNORE = 4,
    DBPROPVAL_TC_ALL = 8,
};

// ADOX column attributes.
enum ColumnAttributesEnum : std::int32_t { adColFixed = 1, adColNullable = 2 };

// The platform's own error numbers (raised with source "ADODB.<Object>", never added to Errors).
enum ErrorValueEnum : std::int32_t {
    adErrInvalidArgument = 3001,
    adErrOpeningFile = 3002,
    adErrReadFile = 3003,
    adErrWriteFile = 3004,
    adErrNoCurrentRecord = 3021,
    adErrIllegalOperation = 3219,
    adErrCantChangeProvider = 3220,
    adErrInTransaction = 3246,
    adErrFeatureNotAvailable = 3251,
    adErrItemNotFound = 3265,
    adErrObjectInCollection = 3367,
    adErrObjectNotSet = 3420,
    adErrDataConversion = 3421,
    adErrObjectClosed = 3704,
    adErrObjectOpen = 3705,
    adErrProviderNotFound = 3706,
    adErrBoundToCommand = 3707,
    adErrInvalidParamInfo = 3708,
    adErrInvalidConnection = 3709,
    adErrNotReentrant = 3710,
    adErrStillExecuting = 3711,
    adErrOperationCancelled = 3712,
    adErrStillConnecting = 3713,
    adErrInvalidTransaction = 3714,
    adErrUnsafeOperation = 3716,
    adErrFieldsUpdateFailed = 3749,
    adErrCantChangeConnection = 3748,
    adErrCannotComplete = 3732,
};

}  // namespace korado::ado

// Provider error numbers (OLE DB HRESULTs), raised with the provider's source and listed in Errors.
namespace korado::hr {
inline constexpr std::int32_t E_FAIL = Hr(0x80004005);
inline constexpr std::int32_t E_NOINTERFACE = Hr(0x80004002);
inline constexpr std::int32_t E_UNEXPECTED = Hr(0x8000FFFF);
inline constexpr std::int32_t E_OUTOFMEMORY = Hr(0x8007000E);
inline constexpr std::int32_t ERROR_PROC_NOT_FOUND = Hr(0x8007007F);
inline constexpr std::int32_t REGDB_E_CLASSNOTREG = Hr(0x80040154);
inline constexpr std::int32_t DB_E_OBJECTOPEN = Hr(0x80040E05);
inline constexpr std::int32_t DB_E_CANTCONVERTVALUE = Hr(0x80040E07);
inline constexpr std::int32_t DB_E_BADBINDINFO = Hr(0x80040E08);
inline constexpr std::int32_t DB_SEC_E_PERMISSIONDENIED = Hr(0x80040E09);
inline constexpr std::int32_t DB_E_PARAMNOTOPTIONAL = Hr(0x80040E10);
inline constexpr std::int32_t DB_E_ERRORSINCOMMAND = Hr(0x80040E14);
inline constexpr std::int32_t DB_E_DUPLICATEDATASOURCE = Hr(0x80040E17);
inline constexpr std::int32_t DB_E_CANNOTRESTART = Hr(0x80040E18);
inline constexpr std::int32_t DB_E_ERRORSOCCURRED = Hr(0x80040E21);
inline constexpr std::int32_t DB_E_INTEGRITYVIOLATION = Hr(0x80040E2F);
inline constexpr std::int32_t DB_E_BADTYPENAME = Hr(0x80040E30);
inline constexpr std::int32_t DB_E_ABORTLIMITREACHED = Hr(0x80040E31);
inline constexpr std::int32_t DB_E_NOTABLE = Hr(0x80040E37);
inline constexpr std::int32_t DB_E_CONCURRENCYVIOLATION = Hr(0x80040E38);
inline constexpr std::int32_t DB_E_BADPRECISION = Hr(0x80040E3A);
inline constexpr std::int32_t DB_E_BADSCALE = Hr(0x80040E3B);
inline constexpr std::int32_t DB_E_BADTYPE = Hr(0x80040E3D);
inline constexpr std::int32_t DB_E_DUPLICATETABLEID = Hr(0x80040E3F);
inline constexpr std::int32_t DB_E_TABLEINUSE = Hr(0x80040E40);
inline constexpr std::int32_t DB_E_BADACCESSORTYPE = Hr(0x80040E4B);
inline constexpr std::int32_t DB_SEC_E_AUTH_FAILED = Hr(0x80040E4D);
inline constexpr std::int32_t DB_E_CANCELED = Hr(0x80040E4E);
inline constexpr std::int32_t DB_E_NOTSUPPORTED = Hr(0x80040E53);
inline constexpr std::int32_t DB_E_DATAOVERFLOW = Hr(0x80040E57);
}  // namespace korado::hr
