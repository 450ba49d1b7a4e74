// The About form seen by a test: a view that records what the form asks of it, a file dialog that answers
// as scripted, and the checks every real connection must pass.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korado/about/frmAbout.h"
#include "korado/connection/clsADO.h"
#include "korado/platform/services.h"
#include "support/support.h"

namespace korado::test {

// Activates the form when shown, as a window does when it comes to the front, and counts closes.
class RecordingFormView final : public about::FormView {
  public:
    static constexpr std::int32_t kWindowHandle = 0x4711;
    int shown = 0;
    int unloaded = 0;

    void Show(about::frmAbout& form) override {
        ++shown;
        form.Form_Activate();
    }
    void Unload(about::frmAbout&) override { ++unloaded; }
    std::int32_t WindowHandle(const about::frmAbout&) const override { return kWindowHandle; }
};

// Installs a RecordingFormView for its lifetime.
class ScopedRecordingFormView {
  public:
    ScopedRecordingFormView() : previous_(about::SetFormView(view_)) {}
    ~ScopedRecordingFormView() { about::SetFormView(std::move(previous_)); }
    ScopedRecordingFormView(const ScopedRecordingFormView&) = delete;
    ScopedRecordingFormView& operator=(const ScopedRecordingFormView&) = delete;
    RecordingFormView& operator*() const { return *view_; }
    RecordingFormView* operator->() const { return view_.get(); }

  private:
    std::shared_ptr<RecordingFormView> view_ = std::make_shared<RecordingFormView>();
    std::shared_ptr<about::FormView> previous_;
};

// Answers every save request with `answer` (nullopt: the user cancels) and keeps the requests.
class ScriptedFileDialog final : public platform::FileDialogService {
  public:
    std::optional<std::string> answer;
    std::vector<platform::SaveFileRequest> requests;

    std::optional<std::string> SaveFile(const platform::SaveFileRequest& request) override {
        requests.push_back(request);
        return answer;
    }
};

// The file a Save must write for `connection`: "Provider: " and the provider, an empty line, then name,
// value, attribute and type of every property, CR LF after each line.
std::string ExpectedDetailsFile(ado::Connection& connection);

// On a connected session: About shows the form with the connection's provider and every property, Save
// writes the details file, and Escape closes the form from each of its three controls.
void CheckAboutForm(clsADO& ado, MessageBoxCapture& boxes, ErrorCapture& errors);

}  // namespace korado::test
