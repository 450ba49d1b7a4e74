// The platform's own errors: ErrorValueEnum numbers (3001, 3021, 3251, ...) raised with the source
// "ADODB.<Object>" of the object whose member was called and the platform's standard text. They reach the
// caller as korado::Error and are never added to Connection.Errors (only provider failures are).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "korado/platform/ado_enums.h"
#include "korado/runtime/error.h"

namespace korado::dataaccess {

// The standard text of a platform error number; empty for numbers without one.
std::string_view AdoErrorText(std::int32_t number) noexcept;

// Raises `number` from `object` ("ADODB.Recordset", or a bare "Recordset", which gets the prefix). A
// non-empty `detail` replaces the standard text, for failures whose cause the caller can name (a malformed
// connection string says what is wrong and where).
[[noreturn]] void RaiseAdo(std::int32_t number, std::string_view object, std::string_view detail = {});

// The source text for `object`: "ADODB.Field" for "Field"; a name that already has a dot stays.
std::string AdoSource(std::string_view object);

}  // namespace korado::dataaccess
