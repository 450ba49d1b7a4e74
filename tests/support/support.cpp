#include "support/support.h"

#include <fstream>
#include <sstream>

#include "korado/runtime/convert.h"

namespace korado::test {

void RecordingErrorComponent::ErrorMessage(const std::string& module, const std::string& routine,
                                           const Variant& error, std::int32_t line, const Variant& debug) {
    log_->reports.push_back({module, routine, CLng(GetProperty(error, "Number")),
                             CStr(GetProperty(error, "Source")), CStr(GetProperty(error, "Description")),
                             line, debug});
    if (log_->on_report) log_->on_report(log_->reports.back());
}

const MemberTable* RecordingErrorComponent::Members() const noexcept {
    static const MemberTable t =
        MemberTable::Of<RecordingErrorComponent>()
            .Method<&RecordingErrorComponent::Constructor>("Constructor")
            .Method<&RecordingErrorComponent::ErrorMessage>("ErrorMessage", {Variant::Missing()})
            .Method<&RecordingErrorComponent::Alert>("Alert", {Variant::Missing()})
            .Method<&RecordingErrorComponent::LogEvent>("LogEvent")
            .Get<&RecordingErrorComponent::DisplayAlerts>("DisplayAlerts")
            .Let<&RecordingErrorComponent::SetDisplayAlerts>("DisplayAlerts")
            .Build();
    return &t;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadFile(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

std::string Quoted(const std::string& text, char open) {
    if (open == ' ') return text;
    const char close = open == '{' ? '}' : open;
    std::string out(1, open);
    for (char c : text) {
        if (c == close) out += c;
        out += c;
    }
    return out + close;
}

}  // namespace korado::test
