#include "korado/runtime/error.h"

#include <cstdio>
#include <new>
#include <string>

namespace korado {

std::string_view RuntimeErrorText(std::int32_t number) noexcept {
    switch (number) {
        case rt::InvalidProcedureCall: return "Invalid procedure call or argument";
        case rt::Overflow: return "Overflow";
        case rt::OutOfMemory: return "Out of memory";
        case rt::SubscriptOutOfRange: return "Subscript out of range";
        case rt::TypeMismatch: return "Type mismatch";
        case rt::InternalError: return "Internal error";
        case rt::FileNotFound: return "File not found";
        case rt::FileAlreadyExists: return "File already exists";
        case rt::PermissionDenied: return "Permission denied";
        case rt::PathFileAccessError: return "Path/File access error";
        case rt::PathNotFound: return "Path not found";
        case rt::ObjectNotSet: return "Object variable or With block variable not set";
        case rt::InvalidUseOfNull: return "Invalid use of Null";
        case rt::ObjectRequired: return "Object required";
        case rt::CannotCreateObject: return "ActiveX component can't create object";
        case rt::NotSupported: return "Object doesn't support this property or method";
        case rt::ArgumentNotOptional: return "Argument not optional";
        case 450: return "Wrong number of arguments or invalid property assignment";
        case rt::KeyAlreadyExists: return "This key is already associated with an element of this collection";
        default: return {};
    }
}

Error::Error(std::int32_t number, std::string source, std::string description)
    : number_(number), source_(std::move(source)), description_(std::move(description)) {
    Describe();
}

Error& Error::WithNative(std::int32_t native, std::string sql_state) {
    native_error_ = native;
    sql_state_ = std::move(sql_state);
    return *this;
}

Error& Error::WithSQL(std::string sql) {
    sql_text_ = std::move(sql);
    return *this;
}

void Error::Describe() {
    char num[32];
    std::snprintf(num, sizeof num, "0x%08X", static_cast<unsigned>(number_));
    what_ = description_ + " (" + num + ", " + source_ + ")";
}

void RaiseRuntime(std::int32_t number, std::string_view detail) {
    std::string text(RuntimeErrorText(number));
    if (text.empty()) text = "Application-defined or object-defined error";
    if (!detail.empty()) {
        text += ": ";
        text += detail;
    }
    throw Error(number, kLibraryName, std::move(text));
}

void Raise(std::int32_t number, std::string description) {
    throw Error(number, kLibraryName, std::move(description));
}

void Raise(std::int32_t number, std::string source, std::string description) {
    throw Error(number, std::move(source), std::move(description));
}

Error CurrentException() { return ErrorFrom(std::current_exception()); }

Error ErrorFrom(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Error& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return Error(rt::OutOfMemory, kLibraryName, std::string(RuntimeErrorText(rt::OutOfMemory)));
    } catch (const std::exception& e) {
        return Error(rt::InternalError, kLibraryName, std::string(RuntimeErrorText(rt::InternalError)) + ": " + e.what());
    } catch (...) {
        return Error(rt::InternalError, kLibraryName, std::string(RuntimeErrorText(rt::InternalError)));
    }
}

}  // namespace korado
