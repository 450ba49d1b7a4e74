// The one error type of the library, the runtime's error numbers, and the current error object.
//
// Every failing operation throws `korado::Error`: a number (a signed 32-bit value: a runtime error such as
// 13, a platform error such as 3021, or an HRESULT such as 0x80040E14), a source (who raised it: "korADO",
// "ADODB.Field", a provider's name) and a description for the user. Provider failures also carry the
// native error and SQLSTATE of their first diagnostic record, and the SQL text where one was running.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "korado/export.h"

namespace korado {

// Writes a 32-bit HRESULT literal as the signed number that error objects carry.
constexpr std::int32_t Hr(std::uint32_t v) noexcept { return static_cast<std::int32_t>(v); }

// Runtime error numbers a host expects.
namespace rt {
inline constexpr std::int32_t InvalidProcedureCall = 5;  // "Invalid procedure call or argument"
inline constexpr std::int32_t Overflow = 6;              // "Overflow"
inline constexpr std::int32_t OutOfMemory = 7;           // "Out of memory"
inline constexpr std::int32_t SubscriptOutOfRange = 9;   // "Subscript out of range"
inline constexpr std::int32_t TypeMismatch = 13;         // "Type mismatch"
inline constexpr std::int32_t InternalError = 51;        // "Internal error"
inline constexpr std::int32_t FileNotFound = 53;         // "File not found"
inline constexpr std::int32_t FileAlreadyExists = 58;    // "File already exists"
inline constexpr std::int32_t PermissionDenied = 70;     // "Permission denied"
inline constexpr std::int32_t PathFileAccessError = 75;  // "Path/File access error"
inline constexpr std::int32_t PathNotFound = 76;         // "Path not found"
inline constexpr std::int32_t ObjectNotSet = 91;         // "Object variable or With block variable not set"
inline constexpr std::int32_t InvalidUseOfNull = 94;     // "Invalid use of Null"
inline constexpr std::int32_t ObjectRequired = 424;      // "Object required"
inline constexpr std::int32_t CannotCreateObject = 429;  // "ActiveX component can't create object"
inline constexpr std::int32_t NotSupported = 438;        // "Object doesn't support this property or method"
inline constexpr std::int32_t ArgumentNotOptional = 449; // "Argument not optional"
inline constexpr std::int32_t KeyAlreadyExists = 457;    // "This key is already associated with an element of this collection"
}  // namespace rt

// The standard description of a runtime error number ("Type mismatch" for 13); empty when unknown.
KORADO_EXPORT std::string_view RuntimeErrorText(std::int32_t number) noexcept;

class KORADO_EXPORT Error : public std::exception {
public:
    Error(std::int32_t number, std::string source, std::string description);

    std::int32_t Number() const noexcept { return number_; }
    const std::string& Source() const noexcept { return source_; }
    const std::string& Description() const noexcept { return description_; }

    // Provider detail (0 / empty when the error did not come from a driver).
    std::int32_t NativeError() const noexcept { return native_error_; }
    const std::string& SQLState() const noexcept { return sql_state_; }
    const std::string& SQLText() const noexcept { return sql_text_; }
    Error& WithNative(std::int32_t native, std::string sql_state);
    Error& WithSQL(std::string sql);

    // "<description> (0x<number>, <source>)", for logs and std::exception users.
    const char* what() const noexcept override { return what_.c_str(); }

private:
    void Describe();

    std::int32_t number_;
    std::string source_;
    std::string description_;
    std::int32_t native_error_ = 0;
    std::string sql_state_;
    std::string sql_text_;
    std::string what_;
};

// Raises a runtime error with its standard text; `detail` is appended after ": " when given (a missing
// ProgID names itself this way: "ActiveX component can't create object: korError.clsError").
[[noreturn]] KORADO_EXPORT void RaiseRuntime(std::int32_t number, std::string_view detail = {});
// Raises one of the library's own errors: source "korADO".
[[noreturn]] KORADO_EXPORT void Raise(std::int32_t number, std::string description);
[[noreturn]] KORADO_EXPORT void Raise(std::int32_t number, std::string source, std::string description);

// Converts whatever is in flight (call inside a catch block) into a library Error: an Error stays as it
// is, std::bad_alloc becomes runtime error 7, any other exception runtime error 51 with its text.
KORADO_EXPORT Error CurrentException();
// The same for a failure caught earlier.
KORADO_EXPORT Error ErrorFrom(const std::exception_ptr& failure);

}  // namespace korado
