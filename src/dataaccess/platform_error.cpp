#include "dataaccess/platform_error.h"

namespace korado::dataaccess {

std::string_view AdoErrorText(std::int32_t number) noexcept {
    switch (number) {
        case ado::adErrInvalidArgument:
            return "Arguments are of the wrong type, are out of acceptable range, or are in conflict with "
                   "one "
                   "another.";
        case ado::adErrNoCurrentRecord:
            return "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
                   "requires a current record.";
        case ado::adErrIllegalOperation:
            return "Operation is not allowed in this context.";
        case ado::adErrInTransaction:
            return "Connection object cannot be explicitly closed while in a transaction.";
        case ado::adErrFeatureNotAvailable:
            return "Object or provider is not able to perform requested operation.";
        case ado::adErrItemNotFound:
            return "Item cannot be found in the collection corresponding to the requested name or ordinal.";
        case ado::adErrObjectInCollection:
            return "Object is already in collection. Cannot append.";
        case ado::adErrObjectNotSet:
            return "Object is no longer valid.";
        case ado::adErrDataConversion:
            return "Application uses a value of the wrong type for the current operation.";
        case ado::adErrObjectClosed:
            return "Operation is not allowed when the object is closed.";
        case ado::adErrObjectOpen:
            return "Operation is not allowed when the object is open.";
        case ado::adErrProviderNotFound:
            return "Provider cannot be found. It may not be properly installed.";
        case ado::adErrBoundToCommand:
            return "Cannot change the ActiveConnection property of a Recordset object which has a Command "
                   "object "
                   "as its source.";
        case ado::adErrInvalidParamInfo:
            return "Parameter object is improperly defined. Inconsistent or incomplete information was "
                   "provided.";
        case ado::adErrInvalidConnection:
            return "The connection cannot be used to perform this operation. It is either closed or invalid "
                   "in "
                   "this context.";
        case ado::adErrOperationCancelled:
            return "Operation has been cancelled by the user.";
        case ado::adErrInvalidTransaction:
            return "Coordinating transaction is invalid or has not started.";
        case ado::adErrStillExecuting:
            return "Operation cannot be performed while executing asynchronously.";
        case ado::adErrNotReentrant:
            return "Operation cannot be performed while processing event.";
        default:
            return {};
    }
}

std::string AdoSource(std::string_view object) {
    if (object.find('.') != std::string_view::npos) return std::string(object);
    return "ADODB." + std::string(object);
}

void RaiseAdo(std::int32_t number, std::string_view object, std::string_view detail) {
    std::string text(detail.empty() ? AdoErrorText(number) : detail);
    if (text.empty()) text = "Application-defined or object-defined error";
    throw Error(number, AdoSource(object), std::move(text));
}

}  // namespace korado::dataaccess
