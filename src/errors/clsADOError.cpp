#include "korado/errors/clsADOError.h"

#include "korado/platform/services.h"
#include "korado/runtime/strings.h"

namespace korado {

void clsADOError::Constructor(const Ref<Dispatch>& ADO) { m_ADO = ADO; }

std::int32_t clsADOError::Exception(const std::string& Message, std::int32_t ExceptionType) {
    if (!m_DisplayAlerts) return 0;
    std::string text;
    if (ExceptionType == GeneralException) {
        text = Message;
    } else if (ExceptionType == ODBCException) {
        text = m_ODBCErrorText(Message);
    }
    return platform::MsgBox(text, platform::vbInformation | platform::vbOKOnly,
                            std::string(kHostProductName) + " Exception");
}

// Reached by late binding so that any connection object with a Connection property serves.
Variant clsADOError::PlatformConnection() { return GetProperty(Variant(m_ADO), "Connection"); }

std::int32_t clsADOError::LastErr() {
    Variant conn = PlatformConnection();
    if (conn.IsNothing() || conn.IsEmpty()) return 0;
    Variant errors = GetProperty(conn, "Errors");
    if (CLng(GetProperty(errors, "Count")) < 1) return 0;
    return CLng(GetProperty(GetProperty(errors, "Item", 0), "Number"));
}

std::string clsADOError::LastErrText() {
    Variant conn = PlatformConnection();
    if (conn.IsNothing() || conn.IsEmpty()) return {};
    Variant errors = GetProperty(conn, "Errors");
    if (CLng(GetProperty(errors, "Count")) < 1) return {};
    std::string description = CStr(GetProperty(GetProperty(errors, "Item", 0), "Description"));
    std::string text = ContainsText(CStr(GetProperty(conn, "Provider")), "MSDASQL")
                           ? m_ODBCErrorText(description)
                           : description;
    // The cursor engine's summary of a failed multi-step operation tells the user nothing.
    if (TextEquals(text, "Multiple-step operation generated errors. Check each status value.")) return {};
    return text;
}

void clsADOError::Reset() {
    Variant conn = PlatformConnection();
    if (conn.IsNothing() || conn.IsEmpty()) return;
    CallMethod(GetProperty(conn, "Errors"), "Clear");
}

std::string clsADOError::m_ODBCErrorText(const std::string& Message) {
    if (!ContainsText(Message, "ODBC")) return Message;
    std::size_t lf = Message.find('\n');
    std::string_view first_line = std::string_view(Message).substr(0, lf);
    std::size_t bracket = first_line.rfind(']');
    if (bracket == std::string_view::npos) return Message;
    // Everything after the last tag of the first line, following lines included.
    std::string rest = Trim(std::string_view(Message).substr(bracket + 1));
    return rest.empty() ? Message : rest;
}

std::int32_t clsADOError::LateException(const std::string& Message, std::optional<std::int32_t> ExceptionType) {
    return Exception(Message, ExceptionType.value_or(GeneralException));
}

const MemberTable* clsADOError::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<clsADOError>()
                                     .Get<&clsADOError::DisplayAlerts>("DisplayAlerts")
                                     .Let<&clsADOError::SetDisplayAlerts>("DisplayAlerts")
                                     .Method<&clsADOError::Constructor>("Constructor")
                                     .Method<&clsADOError::Destructor>("Destructor")
                                     .Method<&clsADOError::LateException>("Exception")
                                     .Get<&clsADOError::LastErr>("LastErr")
                                     .Get<&clsADOError::LastErrText>("LastErrText")
                                     .Method<&clsADOError::Reset>("Reset")
                                     .Get<&clsADOError::SQLErrPosition>("SQLErrPosition")
                                     .Build();
    return &t;
}

}  // namespace korado
