#include "korado/errors/modErrorHandler.h"

#include <limits>

#include "korado/errors/clsErrorHandler.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/convert.h"

namespace korado {

void HandleError(std::string_view module, std::string_view routine, const Variant& debug_message) {
    // Take the error before anything else can replace it: creating the handler may itself fail.
    Ref<ErrObject> current = MakeRef<ErrObject>(Err().ToError(), Err().Erl());
    clsErrorHandler& handler = ErrorHandler();
    handler.ErrorMessage(std::string(module), std::string(routine), current, current->Erl(), debug_message);
}

bool IsForeignError(std::int32_t code) {
    // The subtraction is checked as the original's 32-bit arithmetic was: Code - &H80040000 overflows for
    // positive codes of &H40000 and more.
    constexpr std::int64_t kBase = static_cast<std::int32_t>(0x80040000u);
    std::int64_t n = static_cast<std::int64_t>(code) - kBase;
    if (n > std::numeric_limits<std::int32_t>::max() || n < std::numeric_limits<std::int32_t>::min())
        RaiseRuntime(rt::Overflow);
    return !(n >= 1 && n <= 65534);
}

bool IsOwnError(const Error& e) {
    return e.Source() == kLibraryName && !IsForeignError(e.Number());
}

std::string VariantToString(const Variant& value) {
    if (value.IsNull() || value.IsObject()) return {};
    return CStr(value);
}

void SetCurrentError(const Error& e) { Err().Set(e); }

void PassOwnOrHandle(const Site& site, const Error& e) {
    if (IsOwnError(e)) throw e;
    HandleError(site.module, site.routine);
}

}  // namespace korado
