#include "support/support.h"

#include <fstream>
#include <random>
#include <sstream>

#include "korado/errors/clsErrorHandler.h"
#include "korado/platform/companions.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/convert.h"

namespace korado::test {

void RecordingErrorComponent::Constructor(const Variant& title, const Variant& major, const Variant& minor,
                                          const Variant& revision) {
    ++log_->constructed;
    log_->constructor_args = {title, major, minor, revision};
}

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

ErrorCapture::ErrorCapture() : log_(std::make_shared<RecordingErrorComponent::Log>()) {
    auto log = log_;
    override_ = std::make_unique<ScopedClassOverride>(
        companions::kErrorComponent, [log] { return Ref<Dispatch>(MakeRef<RecordingErrorComponent>(log)); });
    g_ErrorHandler = nullptr;
}

ErrorCapture::~ErrorCapture() {
    g_ErrorHandler = nullptr;
    override_.reset();
}

TempDir::TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("korado-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
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

}  // namespace korado::test
