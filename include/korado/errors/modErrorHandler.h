// The standard error path, and the three handler shapes every operation of the library is written in.
//
// An operation guards its body. When anything inside fails, the failure becomes the current error object
// (Err) and the operation's handler runs; the handler does one of three things:
//
//   Try(site, body)              hands the failure to HandleError(module, routine); the operation then
//                                returns its result as it stood.
//   TryPassOwn(site, body)       raises an error of the library's own (source "korADO", number in the own
//                                range) again unchanged; hands any other to HandleError.
//   TryWith(body, handler)       calls handler(error): the handler translates (raises a library error),
//                                reports, retries or ignores, as the operation's table says. Inside it,
//                                PassOwnOrHandle(site, e) finishes the common tail.
//   TryIgnore(body)              "ignoring failures": returns false when the body failed.
//
// So an operation reads like its description:
//
//   bool clsADO::Connect(std::string& User, ...) {
//       bool result = false;
//       TryPassOwn({kClass, "Connect"}, [&] { ... result = true; });
//       return result;
//   }
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "korado/export.h"
#include "korado/runtime/err_object.h"
#include "korado/runtime/error.h"
#include "korado/runtime/variant.h"

namespace korado {

// Where a failure happened: the class (or module) name and the operation's label ("Get Count").
struct Site {
    std::string_view module;
    std::string_view routine;
};

// Hands the current error object and its statement number to the error component through the one
// clsErrorHandler, creating it on first use. Not guarded: a failure of the component (or of its creation)
// propagates to the caller in place of the failure being handled.
KORADO_EXPORT void HandleError(std::string_view module, std::string_view routine,
                               const Variant& debug_message = Variant::Missing());

// False when the number lies in the library's own range 0x80040001 to 0x8004FFFE (which also holds the
// platform's 0x80040Exx errors). Computed with overflow checking as the original: a positive code of
// 0x40000 or more raises runtime error 6.
KORADO_EXPORT bool IsForeignError(std::int32_t code);

// The library's own error, to be passed through unchanged: source "korADO" and not foreign.
KORADO_EXPORT bool IsOwnError(const Error& e);

// "" for Null, an object or Empty; otherwise the value as text (CStr).
KORADO_EXPORT std::string VariantToString(const Variant& value);

// Records `e` as the current error object (statement number 0).
KORADO_EXPORT void SetCurrentError(const Error& e);

// The tail of a pass-through handler: raises `e` again when it is the library's own, otherwise hands it
// to HandleError with `site`.
KORADO_EXPORT void PassOwnOrHandle(const Site& site, const Error& e);

namespace detail {
// Out of line, so that the guarded member's frame holds no room for an Error it would clear on every call.
template <class Handler>
[[gnu::noinline, gnu::cold]] void HandleFailure(const std::exception_ptr& failure, Handler& handler) {
    const Error error = ErrorFrom(failure);
    SetCurrentError(error);
    handler(error);
}
}  // namespace detail

template <class Body, class Handler>
void TryWith(Body&& body, Handler&& handler) {
    // Only a pointer is kept while the body runs: every guarded member passes through here, most of them
    // per row. The handler runs after the catch block, so that it may raise.
    std::exception_ptr failure;
    try {
        std::forward<Body>(body)();
        return;
    } catch (...) {
        failure = std::current_exception();
    }
    detail::HandleFailure(failure, handler);
}

template <class Body>
void Try(const Site& site, Body&& body) {
    TryWith(std::forward<Body>(body), [&](const Error&) { HandleError(site.module, site.routine); });
}

template <class Body>
void TryPassOwn(const Site& site, Body&& body) {
    TryWith(std::forward<Body>(body), [&](const Error& e) { PassOwnOrHandle(site, e); });
}

template <class Body>
bool TryIgnore(Body&& body) {
    try {
        std::forward<Body>(body)();
        return true;
    } catch (...) {
        SetCurrentError(CurrentException());
        return false;
    }
}

}  // namespace korado
