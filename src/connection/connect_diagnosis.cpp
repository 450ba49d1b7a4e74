#include "korado/connection/connect_diagnosis.h"

#include "connection/diagnoses.h"
#include "korado/errors/modErrorHandler.h"

namespace korado {

std::string ConnectFailureDiagnosis(const Error& failure, ado::Connection& connection) {
    diagnoses::Failure f{failure.Source(), failure.Number(), failure.Description(), 0};
    TryIgnore([&] { f.native_error = connection.Errors()->Item(0)->NativeError(); });
    return diagnoses::ConnectFailure(f);
}

}  // namespace korado
