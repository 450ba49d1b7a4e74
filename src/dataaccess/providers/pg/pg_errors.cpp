// The native provider's diagnostics: SQLSTATE, platform number, NativeError and the server's text.
#include <cctype>

#include "dataaccess/providers/odbc/odbc_provider.h"
#include "dataaccess/providers/pg/pg_provider.h"

namespace korado::dataaccess::pg {
namespace {

int Base36Digit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    return -1;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.remove_suffix(1);
    return text;
}

}  // namespace

std::int32_t NativeErrorForSqlState(std::string_view sql_state) noexcept {
    if (sql_state.size() != 5) return 0;
    std::int32_t value = 0;
    for (char c : sql_state) {
        int digit = Base36Digit(c);
        if (digit < 0) return 0;
        value = value * 36 + digit;
    }
    return value;
}

std::string SqlStateForNativeError(std::int32_t native_error) {
    static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string out(5, '0');
    for (int i = 4; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kDigits[native_error % 36];
        native_error /= 36;
    }
    return out;
}

Diagnostic MakeDiagnostic(std::string_view sql_state, std::string description) {
    Diagnostic d;
    d.number = odbc::NumberForSqlState(sql_state);
    d.source = std::string(kErrorSource);
    d.description = std::move(description);
    d.native_error = NativeErrorForSqlState(sql_state);
    d.sql_state = std::string(sql_state);
    return d;
}

Diagnostic ResultDiagnostic(const PGresult* result) {
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    if (!primary) {
        // A failure libpq made up itself (the link went, the server sent garbage) has no fields.
        std::string text(Trimmed(PQresultErrorMessage(result)));
        return MakeDiagnostic(state ? state : "08006", text.empty() ? "Lost the link to the server." : text);
    }
    std::string text = primary;
    if (const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL)) {
        text += "\nDETAIL:  ";
        text += detail;
    }
    if (const char* hint = PQresultErrorField(result, PG_DIAG_MESSAGE_HINT)) {
        text += "\nHINT:  ";
        text += hint;
    }
    return MakeDiagnostic(state ? state : "HY000", std::move(text));
}

Diagnostic ConnectionDiagnostic(PGconn* conn, std::string_view sql_state) {
    std::string text(Trimmed(conn ? PQerrorMessage(conn) : "out of memory"));
    return MakeDiagnostic(sql_state, std::move(text));
}

std::string ConnectSqlState(std::string_view message) {
    if (message.find("password authentication failed") != std::string_view::npos ||
        message.find("no password supplied") != std::string_view::npos)
        return "28P01";
    if (message.find("role \"") != std::string_view::npos &&
        message.find("does not exist") != std::string_view::npos)
        return "28000";
    if (message.find("database \"") != std::string_view::npos &&
        message.find("does not exist") != std::string_view::npos)
        return "3D000";
    return "08001";
}

}  // namespace korado::dataaccess::pg
