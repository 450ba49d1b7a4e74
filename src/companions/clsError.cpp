#include "companions/clsError.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "dataaccess/connection_string.h"
#include "korado/platform/companions.h"
#include "korado/platform/services.h"
#include "korado/runtime/registry.h"
#include "korado/runtime/strings.h"
#include "runtime/own_file.h"

namespace korado::companions {
namespace {

ClassRegistrar registrar(kErrorComponent, "", [] { return Ref<Dispatch>(MakeRef<clsError>()); });

std::string Hex(std::int32_t n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(n));
    return buf;
}

// One line per failure: line breaks inside texts become " | ".
std::string OneLine(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' || s[i] == '\n') {
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
            out += " | ";
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string TimeStamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

}  // namespace

std::string MaskPasswords(std::string_view text) {
    std::string out(text);
    for (std::string_view key : {"pwd", "password"}) {
        std::size_t from = 0;
        for (;;) {
            std::string lower = LCase(out);
            std::size_t at = lower.find(key, from);
            if (at == std::string::npos) break;
            std::size_t i = at + key.size();
            while (i < out.size() && out[i] == ' ') ++i;
            // Only a key that starts a word and is followed by "=" holds a password: after a ";", a blank, or
            // the quote or brace that opens a nested string.
            const char before = at == 0 ? ';' : out[at - 1];
            bool starts_entry = !std::isalnum(static_cast<unsigned char>(before)) && before != '_';
            if (!starts_entry || i >= out.size() || out[i] != '=') {
                from = at + key.size();
                continue;
            }
            std::size_t value = i + 1;
            while (value < out.size() && out[value] == ' ') ++value;
            std::size_t end = value;
            if (end < out.size() && (out[end] == '{' || out[end] == '\'' || out[end] == '"')) {
                // A braced or quoted value runs to its closing delimiter, as the connection-string syntax
                // reads it; one never closed takes the rest.
                const std::size_t length = dataaccess::DelimitedLength(std::string_view(out).substr(end));
                end = length == std::string_view::npos ? out.size() : end + length;
            } else {
                end = out.find(';', end);
                if (end == std::string::npos) end = out.size();
            }
            out.replace(value, end - value, "***");
            from = value + 3;
        }
    }
    return out;
}

clsError::clsError() : log_file_(DefaultLogFile()) {}

std::string clsError::DefaultLogFile() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        return std::string(state) + "/korado/error.log";
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.local/state/korado/error.log";
    return {};
}

void clsError::Constructor(const std::string& Title, std::int16_t Major, std::int16_t Minor, std::int16_t Revision) {
    title_ = Title;
    version_ = std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Revision);
}

std::string clsError::FormatErrorLine(const std::string& Module, const std::string& Routine, const Variant& VBError,
                                      std::int32_t ErrorLine, const Variant& DebugMessage) const {
    std::int32_t number = 0;
    std::string source, description;
    if (VBError.IsObject() && !VBError.IsNothing()) {
        number = CLng(GetProperty(VBError, "Number"));
        source = CStr(GetProperty(VBError, "Source"));
        description = CStr(GetProperty(VBError, "Description"));
    }
    std::string line = title_ + " " + Module + "." + Routine + ": error " + Hex(number) + " (" +
                       std::to_string(number) + ") from " + source + ": " + description + " [line " +
                       std::to_string(ErrorLine) + "]";
    if (!DebugMessage.IsMissing() && !DebugMessage.IsEmpty() && !DebugMessage.IsNull() && !DebugMessage.IsObject())
        line += " debug: " + CStr(DebugMessage);
    return MaskPasswords(OneLine(line));
}

void clsError::ErrorMessage(const std::string& Module, const std::string& Routine, const Variant& VBError,
                            std::int32_t ErrorLine, const Variant& DebugMessage) {
    Write(FormatErrorLine(Module, Routine, VBError, ErrorLine, DebugMessage));
}

void clsError::Alert(const std::string& Message, const Variant& Title) {
    Write(MaskPasswords(OneLine("alert: " + Message)));
    if (!display_alerts_) return;
    std::string title = Title.IsMissing() || Title.IsEmpty() || Title.IsNull() ? title_ : CStr(Title);
    platform::MsgBox(Message, platform::vbInformation | platform::vbOKOnly, title);
}

void clsError::LogEvent(const std::string& Message) { Write(MaskPasswords(OneLine("event: " + Message))); }

void clsError::Write(const std::string& line) {
    std::string stamped = TimeStamp() + " " + line + "\n";
    std::fwrite(stamped.data(), 1, stamped.size(), stderr);
    std::fflush(stderr);
    if (log_file_.empty()) return;
    // A log that cannot be written must not turn one failure into another: the line is on stderr already.
    std::error_code ec;
    std::filesystem::path path(log_file_);
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    // Opened per line, so that a log moved away or deleted while the host runs is started afresh.
    const int fd = OpenOwnFile(log_file_, O_APPEND);
    if (fd < 0) return;
    WriteFully(fd, stamped);
    ::close(fd);
}

const MemberTable* clsError::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<clsError>()
                                     .Method<&clsError::Constructor>("Constructor")
                                     .Method<&clsError::ErrorMessage>("ErrorMessage", {Variant::Missing()})
                                     .Method<&clsError::Alert>("Alert", {Variant::Missing()})
                                     .Method<&clsError::LogEvent>("LogEvent")
                                     .Get<&clsError::DisplayAlerts>("DisplayAlerts")
                                     .Let<&clsError::SetDisplayAlerts>("DisplayAlerts")
                                     .Get<&clsError::LogFile>("LogFile")
                                     .Let<&clsError::SetLogFile>("LogFile")
                                     .Build();
    return &t;
}

}  // namespace korado::companions
