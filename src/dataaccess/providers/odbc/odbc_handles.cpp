#include "dataaccess/providers/odbc/odbc_handles.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "dataaccess/providers/odbc/odbc_provider.h"
#include "dataaccess/providers/odbc/odbc_text.h"

namespace korado::dataaccess::odbc {
namespace {

std::atomic<std::int64_t> live_handles{0};

}  // namespace

bool TraceEnabled() noexcept {
    static const bool enabled = [] {
        const char* v = std::getenv("KORADO_ODBC_TRACE");
        return v && *v && *v != '0';
    }();
    return enabled;
}

void TraceCall(std::string_view function, SQLRETURN rc) {
    std::fprintf(stderr, "korado odbc: %.*s -> %d\n", static_cast<int>(function.size()), function.data(),
                 static_cast<int>(rc));
}

std::int64_t LiveHandleCount() noexcept { return live_handles.load(); }
void CountHandle(int delta) noexcept { live_handles.fetch_add(delta); }

template <SQLSMALLINT Type>
Handle<Type> Allocate(SQLSMALLINT parent_type, SQLHANDLE parent) {
    SQLHANDLE raw = SQL_NULL_HANDLE;
    SQLRETURN rc = SQLAllocHandle(Type, parent, &raw);
    if (!Succeeded(rc)) throw ProviderError(FailureRecords(rc, parent_type, parent, "SQLAllocHandle"));
    return Handle<Type>(raw);
}
template Handle<SQL_HANDLE_DBC> Allocate<SQL_HANDLE_DBC>(SQLSMALLINT, SQLHANDLE);
template Handle<SQL_HANDLE_STMT> Allocate<SQL_HANDLE_STMT>(SQLSMALLINT, SQLHANDLE);

std::shared_ptr<EnvironmentHandle> SharedEnvironment() {
    static std::mutex mutex;
    static std::weak_ptr<EnvironmentHandle> shared;
    std::lock_guard lock(mutex);
    if (auto env = shared.lock()) return env;
    SQLHENV raw = SQL_NULL_HENV;
    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw);
    if (!Succeeded(rc)) {
        throw ProviderError(
            {Diagnostic{hr::E_FAIL, std::string(kErrorSource),
                        "The ODBC driver manager could not allocate an environment.", 0, "HY001"}});
    }
    auto env = std::make_shared<EnvironmentHandle>(raw);
    Check(SQLSetEnvAttr(raw, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          SQL_HANDLE_ENV, raw, "SQLSetEnvAttr(SQL_ATTR_ODBC_VERSION)");
    shared = env;
    return env;
}

namespace {

Diagnostic MakeDiagnostic(std::string state, SQLINTEGER native, std::string text) {
    Diagnostic d;
    d.sql_state = std::move(state);
    d.native_error = native;
    d.description = PlatformDescription(text);
    d.number = NumberForSqlState(d.sql_state);
    d.source = std::string(kErrorSource);
    return d;
}

// A driver that keeps answering would otherwise loop forever; no real failure has this many records.
constexpr SQLSMALLINT kMaxRecords = 256;

std::vector<Diagnostic> ReadWide(SQLSMALLINT handle_type, SQLHANDLE handle) {
    std::vector<Diagnostic> out;
    std::u16string message(512, u'\0');
    for (SQLSMALLINT record = 1; record <= kMaxRecords; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(handle_type, handle, record, state, &native, W(message),
                                      static_cast<SQLSMALLINT>(message.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
            // The message did not fit: ask again for this record with room for all of it.
            message.assign(static_cast<std::size_t>(length) + 1, u'\0');
            rc = SQLGetDiagRecW(handle_type, handle, record, state, &native, W(message),
                                static_cast<SQLSMALLINT>(message.size()), &length);
        }
        if (!Succeeded(rc)) break;
        std::size_t units =
            std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), message.size());
        out.push_back(MakeDiagnostic(ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(state), 5)),
                                     native, ToUtf8(std::u16string_view(message.data(), units))));
    }
    return out;
}

std::vector<Diagnostic> ReadNarrow(SQLSMALLINT handle_type, SQLHANDLE handle) {
    std::vector<Diagnostic> out;
    std::string message(1024, '\0');
    for (SQLSMALLINT record = 1; record <= kMaxRecords; ++record) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRec(handle_type, handle, record, state, &native, N(message),
                                     static_cast<SQLSMALLINT>(message.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
            message.assign(static_cast<std::size_t>(length) + 1, '\0');
            rc = SQLGetDiagRec(handle_type, handle, record, state, &native, N(message),
                               static_cast<SQLSMALLINT>(message.size()), &length);
        }
        if (!Succeeded(rc)) break;
        std::size_t bytes =
            std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), message.size());
        out.push_back(MakeDiagnostic(std::string(reinterpret_cast<const char*>(state), 5), native,
                                     message.substr(0, bytes)));
    }
    return out;
}

}  // namespace

std::vector<Diagnostic> ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, bool narrow) {
    if (handle == SQL_NULL_HANDLE) return {};
    return narrow ? ReadNarrow(handle_type, handle) : ReadWide(handle_type, handle);
}

Diagnostic MissingDiagnostic(std::string_view function, SQLRETURN rc) {
    Diagnostic d;
    d.number = hr::E_FAIL;
    d.source = std::string(kErrorSource);
    d.sql_state = "HY000";
    d.description = rc == SQL_INVALID_HANDLE ? "Invalid handle passed to " + std::string(function) + "."
                                             : std::string(function) + " failed without a diagnostic record.";
    return d;
}

std::vector<Diagnostic> FailureRecords(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle,
                                       std::string_view function, bool narrow) {
    std::vector<Diagnostic> records =
        rc == SQL_INVALID_HANDLE ? std::vector<Diagnostic>() : ReadDiagnostics(handle_type, handle, narrow);
    if (records.empty()) records.push_back(MissingDiagnostic(function, rc));
    return records;
}

CallEnd Ended(SQLRETURN rc, std::string_view function) {
    if (TraceEnabled()) TraceCall(function, rc);
    switch (rc) {
        case SQL_SUCCESS:
        case SQL_NO_DATA:
        case SQL_NEED_DATA:
            return CallEnd::kDone;
        case SQL_SUCCESS_WITH_INFO:
            return CallEnd::kWithInfo;
        default:
            return CallEnd::kFailed;
    }
}

SQLRETURN Check(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle, std::string_view function) {
    if (Ended(rc, function) == CallEnd::kFailed)
        throw ProviderError(FailureRecords(rc, handle_type, handle, function));
    return rc;
}

}  // namespace korado::dataaccess::odbc
