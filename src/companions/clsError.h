// The default error component, registered as "korError.clsError".
//
// It writes every failure the library hands it (module, routine, number in hex and decimal, source,
// description, statement number, debug text) as one line to standard error and appends the same line to
// a log file; it shows Alert messages through the message-box service. Passwords in connection-string
// form (PWD=..., Password=...) are masked before anything is written. A host replaces the component by
// registering its own class under the ProgID.
#pragma once

#include <cstdint>
#include <string>

#include "korado/runtime/dispatch.h"

namespace korado::companions {

class clsError final : public Dispatch {
public:
    clsError();

    void Constructor(const std::string& Title, std::int16_t Major, std::int16_t Minor, std::int16_t Revision);
    void ErrorMessage(const std::string& Module, const std::string& Routine, const Variant& VBError,
                      std::int32_t ErrorLine, const Variant& DebugMessage);
    void Alert(const std::string& Message, const Variant& Title);
    void LogEvent(const std::string& Message);
    bool DisplayAlerts() const noexcept { return display_alerts_; }
    void SetDisplayAlerts(bool value) noexcept { display_alerts_ = value; }
    // The log file; empty: no file. Missing folders are created when the first line is written.
    const std::string& LogFile() const noexcept { return log_file_; }
    void SetLogFile(const std::string& path) { log_file_ = path; }

    // The line ErrorMessage writes (without the time stamp), for tests and for hosts that log elsewhere.
    std::string FormatErrorLine(const std::string& Module, const std::string& Routine, const Variant& VBError,
                                std::int32_t ErrorLine, const Variant& DebugMessage) const;
    // The default log path: $XDG_STATE_HOME/korado/error.log, else ~/.local/state/korado/error.log.
    static std::string DefaultLogFile();

    std::string_view ClassName() const noexcept override { return "clsError"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    void Write(const std::string& line);

    std::string title_ = "korADO";
    std::string version_;
    std::string log_file_;
    bool display_alerts_ = true;
};

// Replaces the values of password entries (PWD=..., Password=...) with "***".
std::string MaskPasswords(std::string_view text);

}  // namespace korado::companions
