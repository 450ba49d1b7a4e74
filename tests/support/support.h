// Shared helpers for the tests: recording stand-ins for the services and companion components the library
// calls, temporary folders, and the servers' connection settings.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korado/platform/services.h"
#include "korado/runtime/dispatch.h"
#include "korado/runtime/registry.h"

namespace korado::test {

// Records every message box instead of showing it; answers OK.
class RecordingMessageBox final : public platform::MessageBoxService {
public:
    struct Shown {
        std::string text, title;
        int style = 0;
    };
    int Show(std::string_view text, std::string_view title, int style) override {
        shown.push_back({std::string(text), std::string(title), style});
        return platform::vbOK;
    }
    std::vector<Shown> shown;
};

// Installs a RecordingMessageBox for the lifetime of the object.
class MessageBoxCapture {
public:
    MessageBoxCapture() : box_(std::make_shared<RecordingMessageBox>()), scope_(box_) {}
    const std::vector<RecordingMessageBox::Shown>& Shown() const { return box_->shown; }
    void Clear() { box_->shown.clear(); }

private:
    std::shared_ptr<RecordingMessageBox> box_;
    platform::ScopedMessageBox scope_;
};

// An error component ("korError.clsError") that records what the library hands it.
class RecordingErrorComponent final : public Dispatch {
public:
    struct Report {
        std::string module, routine;
        std::int32_t number = 0;
        std::string source, description;
        std::int32_t error_line = -1;
        Variant debug_message;
    };
    struct Log {
        std::vector<Report> reports;
        std::vector<std::pair<std::string, Variant>> alerts;
        int constructed = 0;
        std::vector<Variant> constructor_args;
        // Runs as each report arrives, as a host's handler would (and may call the library again).
        std::function<void(const Report&)> on_report;
    };

    explicit RecordingErrorComponent(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    void Constructor(const Variant& title, const Variant& major, const Variant& minor, const Variant& revision);
    void ErrorMessage(const std::string& module, const std::string& routine, const Variant& error,
                      std::int32_t line, const Variant& debug);
    void Alert(const std::string& message, const Variant& title) { log_->alerts.emplace_back(message, title); }
    void LogEvent(const std::string&) {}
    bool DisplayAlerts() const { return display_alerts_; }
    void SetDisplayAlerts(bool v) { display_alerts_ = v; }
    std::string_view ClassName() const noexcept override { return "RecordingErrorComponent"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    std::shared_ptr<Log> log_;
    bool display_alerts_ = true;
};

// Registers a RecordingErrorComponent under "korError.clsError" and resets the library's error-handler
// slot, so that the next failure creates a fresh handler that reports here.
class ErrorCapture {
public:
    ErrorCapture();
    ~ErrorCapture();
    const std::vector<RecordingErrorComponent::Report>& Reports() const { return log_->reports; }
    const RecordingErrorComponent::Log& Log() const { return *log_; }
    void Clear() { log_->reports.clear(), log_->alerts.clear(); }
    void OnReport(std::function<void(const RecordingErrorComponent::Report&)> f) {
        log_->on_report = std::move(f);
    }

private:
    std::shared_ptr<RecordingErrorComponent::Log> log_;
    std::unique_ptr<ScopedClassOverride> override_;
};

// A fresh, empty folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace korado::test
