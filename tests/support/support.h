// Shared helpers for the tests: recording stand-ins for the services and companion components the library
// calls, temporary folders, and the servers' connection settings.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "korado/errors/clsErrorHandler.h"
#include "korado/platform/companions.h"
#include "korado/platform/modGlobals.h"
#include "korado/platform/services.h"
#include "korado/runtime/dispatch.h"
#include "korado/runtime/registry.h"

namespace korado::test {

// Records every message box, for the lifetime of the object, instead of showing it; answers OK.
class MessageBoxCapture {
  public:
    struct Box {
        std::string text, title;
        int style = 0;
    };
    const std::vector<Box>& Shown() const { return recorder_->shown; }
    void Clear() { recorder_->shown.clear(); }

  private:
    struct Recorder final : platform::MessageBoxService {
        int Show(std::string_view text, std::string_view title, int style) override {
            shown.push_back({std::string(text), std::string(title), style});
            return platform::vbOK;
        }
        std::vector<Box> shown;
    };
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
    platform::ScopedMessageBox scope_{recorder_};
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
    void Constructor(const Variant& title, const Variant& major, const Variant& minor,
                     const Variant& revision) {
        ++log_->constructed;
        log_->constructor_args = {title, major, minor, revision};
    }
    void ErrorMessage(const std::string& module, const std::string& routine, const Variant& error,
                      std::int32_t line, const Variant& debug);
    void Alert(const std::string& message, const Variant& title) {
        log_->alerts.emplace_back(message, title);
    }
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
    ErrorCapture() { g_ErrorHandler = nullptr; }
    ~ErrorCapture() { g_ErrorHandler = nullptr; }
    const std::vector<RecordingErrorComponent::Report>& Reports() const { return log_->reports; }
    const RecordingErrorComponent::Log& Log() const { return *log_; }
    void Clear() { log_->reports.clear(), log_->alerts.clear(); }
    void OnReport(std::function<void(const RecordingErrorComponent::Report&)> f) {
        log_->on_report = std::move(f);
    }

  private:
    std::shared_ptr<RecordingErrorComponent::Log> log_ = std::make_shared<RecordingErrorComponent::Log>();
    ScopedClassOverride override_{companions::kErrorComponent, [log = log_] {
                                      return Ref<Dispatch>(MakeRef<RecordingErrorComponent>(log));
                                  }};
};

// A fresh, empty folder under the system's temporary folder, removed with the object.
class TempDir {
  public:
    TempDir() { std::filesystem::create_directories(path_); }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_ =
        std::filesystem::temp_directory_path() /
        ("korado-test-" + std::to_string(std::random_device{}()) + std::to_string(std::random_device{}()));
};

// `text` as one word of the shell.
std::string ShellQuote(const std::string& text);
// The whole content of the file at `path`; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// `text` between `open` and its closing quote ("}" for "{"), that quote doubled inside; a blank: as it is.
std::string Quoted(const std::string& text, char open);

}  // namespace korado::test
