// ODBC handles owned by RAII wrappers, and how every ODBC call's return code is judged.
//
// Handle<T> owns one handle of type T and frees it with SQLFreeHandle; a connection handle is disconnected
// first when Connection says it is connected. Handles are move-only. A handle being set up lives in its
// wrapper from the moment it is allocated, so a failure halfway (a refused login, a failing attribute)
// frees it on the way out.
//
// Check(rc, ...) turns a failure into a ProviderError carrying every diagnostic record of the handle
// (SQLGetDiagRecW), each with the platform number, the bridge's error source, the driver's text (the driver
// manager's prefix rewritten, see PlatformDescription), its native error and SQLSTATE. Ended(rc) is the one
// rule for which return codes succeed; the session and its statements keep SQL_SUCCESS_WITH_INFO's records
// as warnings. Setting KORADO_ODBC_TRACE=1 in the environment prints every checked call and its return code
// to stderr.
//
// This header includes sql.h and stays inside src/.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dataaccess/provider.h"

namespace korado::dataaccess::odbc {

// Handles the wrappers hold right now, over all types: a test's leak check.
std::int64_t LiveHandleCount() noexcept;
void CountHandle(int delta) noexcept;

template <SQLSMALLINT Type>
class Handle {
  public:
    Handle() noexcept = default;
    // Takes ownership of a freshly allocated handle.
    explicit Handle(SQLHANDLE h) noexcept : h_(h) {
        if (h_ != SQL_NULL_HANDLE) CountHandle(1);
    }
    Handle(Handle&& o) noexcept : h_(std::exchange(o.h_, SQLHANDLE{})) {}
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            Reset();
            h_ = std::exchange(o.h_, SQLHANDLE{});
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { Reset(); }

    SQLHANDLE get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != SQL_NULL_HANDLE; }
    void Reset() noexcept {
        // A failing SQLFreeHandle leaves nothing to recover: the handle is gone from our side either way.
        if (h_ != SQL_NULL_HANDLE) {
            SQLFreeHandle(Type, h_);
            CountHandle(-1);
        }
        h_ = SQL_NULL_HANDLE;
    }

  private:
    SQLHANDLE h_ = SQL_NULL_HANDLE;
};

using EnvironmentHandle = Handle<SQL_HANDLE_ENV>;
using StatementHandle = Handle<SQL_HANDLE_STMT>;

// A connection handle and whether it is connected; disconnects before freeing.
class ConnectionHandle {
  public:
    ConnectionHandle() noexcept = default;
    explicit ConnectionHandle(Handle<SQL_HANDLE_DBC> h) noexcept : h_(std::move(h)) {}
    ConnectionHandle(ConnectionHandle&& o) noexcept
        : h_(std::move(o.h_)), connected_(std::exchange(o.connected_, false)) {}
    ConnectionHandle& operator=(ConnectionHandle&& o) noexcept {
        if (this != &o) {
            Disconnect();
            h_ = std::move(o.h_);
            connected_ = std::exchange(o.connected_, false);
        }
        return *this;
    }
    ~ConnectionHandle() { Disconnect(); }

    SQLHDBC get() const noexcept { return h_.get(); }
    bool connected() const noexcept { return connected_; }
    void MarkConnected() noexcept { connected_ = true; }
    // Disconnects (a failure to, on a broken link, still leaves the handle to be freed).
    void Disconnect() noexcept {
        if (connected_) SQLDisconnect(h_.get());
        connected_ = false;
    }

  private:
    Handle<SQL_HANDLE_DBC> h_;
    bool connected_ = false;
};

// Allocates a handle of `Type` under `parent`; raises ProviderError (the parent's records) on failure.
template <SQLSMALLINT Type>
Handle<Type> Allocate(SQLSMALLINT parent_type, SQLHANDLE parent);

// The process's ODBC environment (ODBC 3 behaviour), shared by every session; freed with the last one.
// Raises ProviderError when the driver manager cannot allocate it.
std::shared_ptr<EnvironmentHandle> SharedEnvironment();

// The diagnostic records of a handle, in order, as the platform reports them. `narrow` reads them through
// the narrow API, as UTF-8 (see DriverTraits::narrow_text).
std::vector<Diagnostic> ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, bool narrow = false);

// What a failure of `function` (with return code `rc`) reports when the handle has no records.
Diagnostic MissingDiagnostic(std::string_view function, SQLRETURN rc);

// Whether KORADO_ODBC_TRACE asks for a trace, and the trace line of one call.
bool TraceEnabled() noexcept;
void TraceCall(std::string_view function, SQLRETURN rc);

// How a call ended: done (SQL_SUCCESS, SQL_NO_DATA, SQL_NEED_DATA), done with records to read
// (SQL_SUCCESS_WITH_INFO) or failed (SQL_ERROR, SQL_INVALID_HANDLE, anything else). Traces the call when
// asked.
enum class CallEnd { kDone, kWithInfo, kFailed };
CallEnd Ended(SQLRETURN rc, std::string_view function);

// Returns rc unless the call failed; throws ProviderError then. A call's warnings are dropped: for the
// environment's own calls, which nobody reports. `function` names the ODBC call for traces and for a failure
// without records.
SQLRETURN Check(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle, std::string_view function);

// ProviderError's records for a failed call on `handle` (never empty).
std::vector<Diagnostic> FailureRecords(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle,
                                       std::string_view function, bool narrow = false);

inline bool Succeeded(SQLRETURN rc) noexcept { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// SQLCHAR pointers for UTF-8 text handed to a narrow driver.
inline SQLCHAR* N(std::string& s) noexcept { return reinterpret_cast<SQLCHAR*>(s.data()); }

// SQLWCHAR pointers for the library's UTF-16 strings (char16_t and SQLWCHAR are both 16-bit units).
inline SQLWCHAR* W(std::u16string& s) noexcept { return reinterpret_cast<SQLWCHAR*>(s.data()); }
inline SQLWCHAR* W(const std::u16string& s) noexcept {
    return reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(s.data()));
}
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the bridge needs 16-bit SQLWCHAR (unixODBC's default)");

}  // namespace korado::dataaccess::odbc
