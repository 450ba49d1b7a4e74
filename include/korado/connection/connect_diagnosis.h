// What the connection object says when a platform connection fails to open: the plain-language diagnosis
// with advice that Connect raises as ConnectionError. A data-link dialog's "test connection" shows the
// same text, so that the user meets one explanation of a failure wherever it shows.
#pragma once

#include <string>

#include "korado/platform/adodb.h"
#include "korado/runtime/error.h"

namespace korado {

// The description Connect would raise for `failure`, raised by `connection`'s Open (whose Errors give the
// native error). Never fails: without a readable native error the tables decide without one.
KORADO_EXPORT std::string ConnectFailureDiagnosis(const Error& failure, ado::Connection& connection);

}  // namespace korado
